// CRukBBSFormMain: search results. The store finds the messages that
// hold every word; each hit is shown with the line of its body that
// matched.
#include "rukbbsformmain.h"

#include <cstdlib>
#include <ctime>

#include "rukbbsformmain_shared.h"
#include "rukglobal.h"

static const char* const s_pEllipsis = "\x81\x63";  // …
// The page title's words for a search, and for the search of a text.
static const char* const s_pSearch = "\x8c\x9f\x8d\xf5";  // 検索
static const char* const s_pResultsOpen = "\x8c\x9f\x8d\xf5\x8c\x8b\x89\xca\x81\x75";  // 検索結果「
static const char* const s_pResultsClose = "\x81\x76";  // 」

// Splits the search text into its words at blanks, ASCII or the
// ideographic space of a Japanese keyboard (Shift_JIS 0x81 0x40), walking
// the text character by character so that no trail byte is taken for half
// of a blank. Empty words are dropped.
static void SplitSearchWords(const CRukString& text, CRukStrAry& words)
{
    words.RemoveAll();
    CRukString word;
    auto flush = [&]() {
        if (!word.IsEmpty())
            words.Add(word.GetText());
        word.Free();
    };
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text.GetText()); *p;) {
        bool bLead = (*p >= 0x81 && *p <= 0x9F) || (*p >= 0xE0 && *p <= 0xFC);
        int n = bLead && p[1] ? 2 : 1;
        if (*p == ' ' || *p == '\t' || (n == 2 && p[0] == 0x81 && p[1] == 0x40))
            flush();
        else
            word.Append(reinterpret_cast<const char*>(p), n);
        p += n;
    }
    flush();
}

// The hits of a search, below the headline of the results.
CRukString CRukBBSFormMain::FoundList(CRukCookie& cookie, CRukForm& form, CRukString pattern,
                                      CRukStrAry& words, const CRukBBSDataAry& results)
{
    CRukString headline = BlockText(pattern, "FOUND_RESULT_HEADLINE");
    ReplaceBlocks(pattern, "FOUND_RESULT_HEADLINE", CRukString());
    CRukString hits = FillWithCommon(headline, {{"%WORD%", m_strFindWord.CharToPerHex(), true}});
    for (int i = 0; i < results.GetSize(); i++)
        hits += CreateFound1(cookie, form, pattern, words, results[i]);
    return hits;
}

void CRukBBSFormMain::FindResult(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::FindResult START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    time_t t0 = time(nullptr);
    CRukString word = form.Value("word");
    word.Trim();
    CRukStrAry words;
    CRukBBSDataAry results;
    int nCount = 0;
    SplitSearchWords(word, words);
    m_strFindWord = word;
    if (words.GetSize() > 0) {
        nCount = m_bbsFile.FindRead(m_strDataDir.GetText(), results, words, true);
        if (nCount == -2)
            MessageKey(kMsgBusy);
    }
    m_nStyle = atoi(form.Value("style").GetText());
    m_nPage = atoi(form.Value("page").GetText());
    CRukString ppid = form.Value("ppid");

    SetPageTitle((word.IsEmpty() ? CRukString(s_pSearch)
                                 : CRukString(s_pResultsOpen) + word + s_pResultsClose)
                     .GetText());
    SBoardPage b = CutBoardPage(cookie, form);
    CRukTagList summary = {
        {"%NUM%", Decimal(nCount)},
        {"%WORD%", word},
        {"%STYLE%", Decimal(m_nStyle), true},
        {"%CPUTIME%", CRukString(static_cast<long>(time(nullptr) - t0))},
    };
    b.dataTable = FillWithCommon(b.foundWord, summary);
    if (!ppid.IsEmpty()) {
        b.tableParent.Replace("#b", "#m", true);
        b.tableChild.Replace("#b", "#m", true);
        if (const CRukBBSData* pRoot = m_bbsFile.GetData(ppid.GetText())) {
            CRukBBSData root = *pRoot;
            b.dataTable += CreateTableThread(cookie, form, b.tableParent, b.tableChild, root);
        }
    }
    // Every hit of a large board can be listed.
    if (nCount > 0)
        b.dataTitle = FoundList(cookie, form, b.foundResult, words, results);
    WriteBoardPage(b);
    go.m_log.Trace("<< CRukBBSFormMain::FindResult END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

// The line of a hit's body that holds a word first, with an ellipsis for
// the lines left out before and after it; empty when none does.
static CRukString Excerpt(const CRukBBSData& rec, const CRukStrAry& words)
{
    CRukStrAry lines(0, 10);
    lines.SetToken(rec.mess.GetText(), "\n");
    for (int i = 0; i < lines.GetSize(); i++) {
        for (int w = 0; w < words.GetSize(); w++) {
            if (lines[i].Find(words[w].GetText()) < 0)
                continue;
            CRukString excerpt = i > 0 ? s_pEllipsis : "";
            excerpt += lines[i];
            if (i < lines.GetSize() - 1)
                excerpt += s_pEllipsis;
            return excerpt;
        }
    }
    return CRukString();
}

CRukString CRukBBSFormMain::CreateFound1(CRukCookie&, CRukForm&, const CRukString& block,
                                         CRukStrAry& words, const CRukBBSData& rec)
{
    CRukTagList tags = LineTags(rec, 2);
    tags.push_back({"%MESSAGE%", Excerpt(rec, words)});
    tags.push_back({"%WORD%", m_strFindWord.CharToPerHex(), true});
    return FillMessage(MessagePattern(block, kFound), tags);
}
