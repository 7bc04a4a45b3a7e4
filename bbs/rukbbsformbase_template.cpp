// CRukBBSFormBase: reading a template and the tags every page shares.
// The signatures are parts of the template and are put in first; runs of
// two blanks are taken out, and the references of the style sheet link
// and of pictures are rebased on the skin's URL. A part of a template is
// then filled once, in one pass, with the common tags (%BBS_TITLE%,
// %PAGE_TITLE%, %DOMAIN%, %BID%, %SKIN%) and its own; the titles and the
// host name are text, never markup.
#include "rukbbsformbase.h"

#include <cstring>

#include "rukbuffer.h"
#include "rukfile.h"
#include "rukglobal.h"

// The opening texts whose references are rebased on the skin URL, each
// followed by one double quote.
static const char* const s_pLinkOpen = "<link href=\"";
static const char* const s_rgResourceOpen[] = {
    "<img src=\"",
    "<input src=\"",
    "<td background=\"",
    "<body background=\"",
};

// The text of a file a page may do without (a template, a signature): a
// missing file reads as empty; one that exists but cannot be read reads as
// empty too, and is traced.
static CRukString ReadOptionalText(const char* pPath)
{
    CRukFile file;
    CRukBuffer data;
    if (file.ReadFile(pPath, data, false) < 0 && CRukFile::GetFileAttr(pPath) != -1)
        go.m_log.Trace("-- %s cannot be read", pPath);
    return CRukString(data.GetData());
}

// Inserts pInsert after the first (or every) occurrence of pOpen, found
// without regard to case; the matched text keeps its own case.
static void InsertAfterNoCase(CRukString& text, const char* pOpen, const char* pInsert, bool bAll)
{
    if (!pInsert || !*pInsert || text.FindNoCase(pOpen) < 0)
        return;
    size_t nOpen = strlen(pOpen);
    const char* p = text.GetText();
    CRukString out;
    out.Reserve(text.GetLength() + static_cast<int>(strlen(pInsert)));
    for (;;) {
        const char* q = CRukString::Search(p, pOpen, true);
        if (!q)
            break;
        out.Append(p, static_cast<int>(q - p + nOpen));
        out += pInsert;
        p = q + nOpen;
        if (!bAll)
            break;
    }
    out += p;
    text = std::move(out);
}

// Removes every run of two blanks, left to right without rescanning.
static void RemoveDoubleBlanks(CRukString& text)
{
    text.Replace("  ", "", true);
}

// The template with the skin's signature and the site's put in where it
// names them; a file is read only when its tag is there.
CRukString CRukBBSFormBase::WithSignatures(const CRukString& text)
{
    CRukTagList tags;
    if (text.Find("%SKINSIGNATURE%") >= 0)
        tags.push_back({"%SKINSIGNATURE%", ReadOptionalText((m_strSkinDir + "signature").GetText()),
                        true, true});
    if (text.Find("%SIGNATURE%") >= 0)
        tags.push_back({"%SIGNATURE%", ReadOptionalText("sys-signature"), true, true});
    return tags.empty() ? text : FillTags(text, tags);
}

// The text without its runs of two blanks.
static CRukString WithoutDoubleBlanks(CRukString text)
{
    RemoveDoubleBlanks(text);
    return text;
}

// The title is a board's setting, which a board's own administrator may
// change: it is text, never markup, on the site's origin; so is the host
// name a request names. The titles and the host name lose their runs of
// two blanks as the template's text does.
CRukTagList CRukBBSFormBase::CommonTags() const
{
    const CRukString& pageTitle = m_strPageTitle.IsEmpty() ? m_strTitle : m_strPageTitle;
    return {
        {"%DOMAIN%", WithoutDoubleBlanks(go.m_env.SERVER_NAME), true},
        {"%BBS_TITLE%", WithoutDoubleBlanks(m_strTitle), true},
        {"%PAGE_TITLE%", WithoutDoubleBlanks(pageTitle), true},
        {"%BID%", m_strBBSID + "=" + m_strOldID, true},
        {"%SKIN%", m_strSkinDir + "=" + m_strSkinUrl, true},
    };
}

CRukString CRukBBSFormBase::FillWithCommon(const CRukString& text, const CRukTagList& tags) const
{
    return CRukPattern(text, tags, CommonTags()).Fill(tags);
}

// Points the first style sheet link at the board's style sheet when it
// names one, else (unless it is absolute) below the skin's URL.
void CRukBBSFormBase::RebaseStyleSheet(CRukString& text)
{
    int nLink = text.FindNoCase(s_pLinkOpen);
    if (nLink < 0)
        return;
    int nHref = nLink + static_cast<int>(strlen(s_pLinkOpen));
    CRukString strStyle = Setting(kBoardStyleSheet);
    if (!strStyle.IsEmpty()) {
        int nQuote = text.Find("\"", nHref);
        if (nQuote < 0)
            return;
        CRukString result = text.Left(nLink);
        result += s_pLinkOpen;
        result += strStyle;
        result += "\"";
        result += text.Mid(nQuote + 1);
        text = std::move(result);
        return;
    }
    int nClose = text.Find(">", nHref);
    CRukString link = nClose >= 0 ? text.Mid(nHref, nClose - nHref) : text.Mid(nHref);
    if (link.Find("http") < 0)
        InsertAfterNoCase(text, s_pLinkOpen, m_strSkinUrl.GetText(), false);
}

CRukString CRukBBSFormBase::ReadTemplate(const char* pPath)
{
    go.m_log.Trace("-- ReadTemplate(%s)", pPath ? pPath : "");
    CRukString text = WithSignatures(ReadOptionalText(pPath));
    RemoveDoubleBlanks(text);
    RebaseStyleSheet(text);
    for (const char* pOpen : s_rgResourceOpen)
        InsertAfterNoCase(text, pOpen, m_strSkinUrl.GetText(), true);
    return text;
}

CRukString CRukBBSFormBase::GetTemplate(const char* pPath)
{
    return FillWithCommon(ReadTemplate(pPath), CRukTagList());
}
