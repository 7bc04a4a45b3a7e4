// CRukBBSFormMain: search results. The store finds the messages that
// hold every word; each hit is shown with the line of its body that
// matched.
#include "rukbbsformmain.h"

#include <ctime>

#include "rukbbsformmain_shared.h"
#include "rukglobal.h"

static const char* const s_pEllipsis = "\x81\x63";  // …
// The page title's words for a search, and for the search of a text.
static const char* const s_pSearch = "\x8c\x9f\x8d\xf5";  // 検索
static const char* const s_pResultsOpen = "\x8c\x9f\x8d\xf5\x8c\x8b\x89\xca\x81\x75";  // 検索結果「
static const char* const s_pResultsClose = "\x81\x76";  // 」

// Visitor text for a search page: HTML-escaped, and with "%" written as a
// character reference so that no later tag replacement finds a tag inside
// it (a title "%NAME%" must show as typed, not take the author's name).
static CRukString EscapeFound(const char* pText)
{
    CRukString text = CRukBBSFormBase::EscapeHtml(pText);
    text.Replace("%", "&#37;", true);
    return text;
}

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
            MessageKey("msg90");
    }
    m_nStyle = atoi(form.Value("style").GetText());
    m_nPage = atoi(form.Value("page").GetText());
    CRukString ppid = form.Value("ppid");

    SetPageTitle((word.IsEmpty() ? CRukString(s_pSearch)
                                 : CRukString(s_pResultsOpen) + word + s_pResultsClose)
                     .GetText());
    CRukString page = BoardTemplate();
    CRukString inputPat, navPat, tableParent, tableChild, titleParent, titleChild, foundWord,
        foundResult;
    GetTemplateBlock(page, inputPat, navPat, tableParent, tableChild, titleParent, titleChild,
                     foundWord, foundResult);
    CRukString navigation = CreateNavigation(cookie, form, navPat);

    CRukString dataTable = foundWord;
    Tag(dataTable, "%NUM%", Decimal(nCount).GetText());
    Tag(dataTable, "%WORD%", EscapeFound(word.GetText()).GetText());
    Tag(dataTable, "%STYLE%", Decimal(m_nStyle).GetText(), true);
    Tag(dataTable, "%CPUTIME%", CRukString(static_cast<long>(time(nullptr) - t0)).GetText());
    if (!ppid.IsEmpty()) {
        tableParent.Replace("#b", "#m", true);
        tableChild.Replace("#b", "#m", true);
        if (const CRukBBSData* pRoot = m_bbsFile.GetData(ppid.GetText())) {
            CRukBBSData root = *pRoot;
            dataTable += CreateTableThread(cookie, form, tableParent, tableChild, root);
        }
    }
    CRukString dataTitle;
    if (nCount > 0) {
        dataTitle = foundResult.GetToken("<!--FOUND_RESULT_HEADLINE-->",
                                         "<!--/FOUND_RESULT_HEADLINE-->");
        foundResult.Replace("<!--FOUND_RESULT_HEADLINE-->", "<!--/FOUND_RESULT_HEADLINE-->", "",
                            true);
        // Every hit of a large board can be listed: joined in a buffer.
        CRukBuffer hits;
        AddPiece(hits, dataTitle);
        for (int i = 0; i < results.GetSize(); i++)
            AddPiece(hits, CreateFound1(cookie, form, foundResult, words, results[i]));
        dataTitle = Joined(hits);
        dataTitle.Replace("%WORD%", word.CharToPerHex().GetText(), true);
    }
    if (m_bbsFile.HasReadFailed())
        MessageKey("msg90");  // a message could not be read whole
    FillHeaderFooter(*this, page);
    CRukString inputForm;
    PutRealizeBlock(page, inputForm, navigation, dataTable, dataTitle);
    WritePage(page);
    go.m_log.Trace("<< CRukBBSFormMain::FindResult END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

CRukString CRukBBSFormMain::CreateFound1(CRukCookie&, CRukForm&, const CRukString& block,
                                         CRukStrAry& words, const CRukBBSData& rec)
{
    CRukString text = block;
    Tag(text, "%NEW_IMAGE%", CreateNewImage(rec).GetText());
    Tag(text, "%TITLE%", EscapeFound(rec.title.GetText()).GetText());
    Tag(text, "%NAME%", EscapeFound(rec.name.GetText()).GetText());
    Tag(text, "%DATE%", EscapeFound(rec.date.GetText()).GetText());
    Tag(text, "%ID%", EscapeFound(rec.id.GetText()).GetText(), true);
    Tag(text, "%PID%", EscapeFound(rec.pid.GetText()).GetText());
    Tag(text, "%PPID%", EscapeFound((rec.ppid.IsEmpty() ? rec.id : rec.ppid).GetText()).GetText());
    Tag(text, "%PAGE%", Decimal(m_nPage).GetText(), true);
    Tag(text, "%STYLE%", Decimal(m_nStyle).GetText(), true);

    CRukStrAry lines(0, 10);
    lines.SetToken(rec.mess.GetText(), "\n");
    CRukString excerpt;
    bool bFound = false;
    for (int i = 0; i < lines.GetSize() && !bFound; i++) {
        for (int w = 0; w < words.GetSize() && !bFound; w++) {
            if (lines[i].Find(words[w].GetText()) < 0)
                continue;
            bFound = true;
            if (i > 0)
                excerpt += s_pEllipsis;
            excerpt += EscapeFound(lines[i].GetText());
            if (i < lines.GetSize() - 1)
                excerpt += s_pEllipsis;
        }
    }
    Tag(text, "%MESSAGE%", excerpt.GetText());
    return text;
}
