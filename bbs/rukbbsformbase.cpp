#include "rukbbsformbase.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "rukbuffer.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

// The opening texts whose references are rebased on the skin URL, each
// followed by one double quote.
static const char* const s_pLinkOpen = "<link href=\"";
static const char* const s_rgResourceOpen[] = {
    "<img src=\"",
    "<input src=\"",
    "<td background=\"",
    "<body background=\"",
};

CRukBBSFormBase::CRukBBSFormBase()
    : m_nStyle(0), m_nPage(0), m_nPageNum(0), m_nKeitai(0), m_cfMessage(false),
      m_cfSystem(true), m_cfBBS(true), m_cfKeitai(true)
{
    m_strTitle = "RUK-BBS";
    go.m_env.GetEnv();
    m_strSkinDir = "skin/default/";
    m_strSkinUrl = ServerPath2UrlDir(m_strSkinDir.GetText(), 1) + "/";
    m_strDataDir = "data/";
    m_strConfDir = "skin/config/";
}

// The URL of the directory part of a server path: stripped of the document
// root when it lies below it, otherwise (with nRelative) placed below the
// script's own URL directory.
CRukString CRukBBSFormBase::ServerPath2UrlDir(const char* pPath, int nRelative)
{
    CRukStrPath path;
    path.Split(pPath ? pPath : "");
    CRukString result = path.Directory("/");
    if (result.IsEmpty())
        result = ".";
    CRukString root = go.m_env.DOCUMENT_ROOT.IsEmpty()
                          ? CRukString()
                          : CRukStrPath::Normalize(go.m_env.DOCUMENT_ROOT.GetText());
    if (root.IsEmpty() || result.Find(root.GetText()) == 0) {
        result = result.Mid(root.GetLength());
    } else if (nRelative) {
        CRukStrPath script;
        script.Split(go.m_env.SCRIPT_NAME.GetText());
        CRukString prefix = script.Directory("/");
        prefix += "/";
        result.Insert(prefix);
    }
    go.m_log.Trace("CRukBBSFormBase::ServerPath2UrlDir Result(%s)", result.GetText());
    return result;
}

CRukString CRukBBSFormBase::ServerPath2UrlPath(const char* pPath, int nRelative)
{
    CRukStrPath path;
    path.Split(pPath ? pPath : "");
    CRukString result = ServerPath2UrlDir(pPath, nRelative);
    result += "/";
    result += path.GetName();
    go.m_log.Trace("CRukBBSFormBase::ServerPath2UrlPath Result(%s)", result.GetText());
    return result;
}

// Inserts pInsert after the first (or every) occurrence of pOpen, found
// without regard to case; the matched text keeps its own case.
static void InsertAfterNoCase(CRukString& text, const char* pOpen, const char* pInsert, bool bAll)
{
    if (!pInsert || !*pInsert || text.FindNoCase(pOpen) < 0)
        return;
    size_t nOpen = strlen(pOpen);
    size_t nInsert = strlen(pInsert);
    const char* p = text.GetText();
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(text.GetLength() + nInsert));
    for (;;) {
        const char* q = CRukString::Search(p, pOpen, true);
        if (!q)
            break;
        out.Append(p, static_cast<unsigned>(q - p + nOpen));
        out.Append(pInsert, static_cast<unsigned>(nInsert));
        p = q + nOpen;
        if (!bAll)
            break;
    }
    out.Append(p, static_cast<unsigned>(strlen(p)));
    text.Attach(out.Detach());
}

// Removes every run of two blanks, left to right without rescanning.
static void RemoveDoubleBlanks(CRukString& text)
{
    text.Replace("  ", "", true);
}

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

// The page title as text of a page: escaped, and with "%" written as a
// character reference so that a title holding a tag name is not filled by
// a later tag.
static CRukString PageTitleText(const CRukString& title)
{
    CRukString text = CRukBBSFormBase::EscapeHtml(title.GetText());
    text.Replace("%", "&#37;", true);
    return text;
}

// Reads a template with the common tags filled and its resource references
// rebased on the skin URL.
CRukString CRukBBSFormBase::GetTemplate(const char* pPath)
{
    go.m_log.Trace("-- GetTemplate(%s)", pPath ? pPath : "");
    CRukString text = ReadOptionalText(pPath);

    if (text.Find("%SKINSIGNATURE%") >= 0)
        text.Replace("%SKINSIGNATURE%",
                     ReadOptionalText((m_strSkinDir + "signature").GetText()).GetText(), true);
    if (text.Find("%SIGNATURE%") >= 0)
        text.Replace("%SIGNATURE%", ReadOptionalText("sys-signature").GetText(), true);
    text.Replace("%DOMAIN%", go.m_env.SERVER_NAME.GetText(), true);
    // The title is a board's setting, which a board's own administrator may
    // change: it is text, never markup, on the site's origin.
    text.Replace("%BBS_TITLE%", PageTitleText(m_strTitle).GetText(), true);
    if (text.Find("%PAGE_TITLE%") >= 0) {
        const CRukString& title = m_strPageTitle.IsEmpty() ? m_strTitle : m_strPageTitle;
        text.Replace("%PAGE_TITLE%", PageTitleText(title).GetText(), true);
    }
    RemoveDoubleBlanks(text);
    text.Replace("%BID%", (m_strBBSID + "=" + m_strOldID).GetText(), true);
    text.Replace("%SKIN%", (m_strSkinDir + "=" + m_strSkinUrl).GetText(), true);

    CRukString strStyle = m_cfBBS.Value("stylesheet");
    int nLink = text.FindNoCase(s_pLinkOpen);
    if (nLink >= 0) {
        int nHref = nLink + static_cast<int>(strlen(s_pLinkOpen));
        if (!strStyle.IsEmpty()) {
            int nQuote = text.Find("\"", nHref);
            if (nQuote >= 0) {
                CRukString result = text.Left(nLink);
                result += s_pLinkOpen;
                result += strStyle;
                result += "\"";
                result += text.Mid(nQuote + 1);
                text = std::move(result);
            }
        } else {
            int nClose = text.Find(">", nHref);
            CRukString link = nClose >= 0 ? text.Mid(nHref, nClose - nHref) : text.Mid(nHref);
            if (link.Find("http") < 0)
                InsertAfterNoCase(text, s_pLinkOpen, m_strSkinUrl.GetText(), false);
        }
    }
    for (const char* pOpen : s_rgResourceOpen)
        InsertAfterNoCase(text, pOpen, m_strSkinUrl.GetText(), true);
    return text;
}

bool CRukBBSFormBase::ParseMode(const char* pText, int& nMode)
{
    if (!pText || !*pText || strlen(pText) > 4 || strspn(pText, "01234567") != strlen(pText))
        return false;
    long n = strtol(pText, nullptr, 8);
    if (n > 0777)
        return false;
    nMode = static_cast<int>(n);
    return true;
}

void CRukBBSFormBase::ApplySystemSettings()
{
    (void)ParseMode(m_cfSystem.Value("fmode666").GetText(), go.m_nFileMode);
    (void)ParseMode(m_cfSystem.Value("fmode777").GetText(), go.m_nDirMode);
    CRukString wait = m_cfSystem.Value("lock_wait");
    if (!wait.IsEmpty() && IsDigits(wait.GetText()) && wait.GetLength() <= 9) {
        int n = atoi(wait.GetText());
        go.m_nLockWait = n > 60000 ? 60000 : n;
    }
}

CRukString CRukBBSFormBase::FillTags(const CRukString& page, const CRukTagList& tags)
{
    // The values as they go into the page, and which tags are used up.
    std::vector<CRukString> values;
    std::vector<size_t> lengths;
    std::vector<bool> done(tags.size(), false);
    values.reserve(tags.size());
    lengths.reserve(tags.size());
    for (const SRukTag& t : tags) {
        values.push_back(t.bMarkup ? t.value : EscapeHtml(t.value.GetText()));
        lengths.push_back(strlen(t.pTag));
    }
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(page.GetLength()));
    const char* p = page.GetText();
    const char* pRun = p;
    while ((p = strchr(p, '%')) != nullptr) {
        size_t i = 0;
        for (; i < tags.size(); i++)
            if (!(done[i] && !tags[i].bAll) && strncmp(p, tags[i].pTag, lengths[i]) == 0)
                break;
        if (i == tags.size()) {
            p++;
            continue;
        }
        out.Append(pRun, static_cast<unsigned>(p - pRun));
        out.Append(values[i].GetText(), static_cast<unsigned>(values[i].GetLength()));
        p += lengths[i];
        pRun = p;
        done[i] = true;
    }
    out.Append(pRun, static_cast<unsigned>(strlen(pRun)));
    CRukString text;
    text.Attach(out.Detach());
    return text;
}

void CRukBBSFormBase::WritePage(const CRukString& page)
{
    m_html.WriteHttpHeader("text/html", "");
    if (m_html.WriteString(page.GetText()) < 0)
        go.m_log.Trace("-- the page could not be written");
}

CRukString CRukBBSFormBase::EscapeHtml(const char* pText)
{
    CRukBuffer out;
    const char* p = pText ? pText : "";
    for (;;) {
        size_t n = strcspn(p, "<>\"'");  // a plain run goes in one piece
        out.Append(p, static_cast<unsigned>(n));
        p += n;
        if (!*p)
            break;
        switch (*p++) {
        case '<': out.Append("&lt;", 4); break;
        case '>': out.Append("&gt;", 4); break;
        case '"': out.Append("&quot;", 6); break;
        default: out.Append("&#39;", 5); break;
        }
    }
    CRukString result;
    result.Attach(out.Detach());
    return result;
}

bool CRukBBSFormBase::IsDigits(const char* pText)
{
    for (const char* p = pText ? pText : ""; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

bool CRukBBSFormBase::IsSafeName(const char* pText)
{
    if (!pText || !*pText)
        return false;
    for (const char* p = pText; *p; p++)
        if (!(isalnum(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) &&
            *p != '_' && *p != '-')
            return false;
    return true;
}

// Shows the skin's information page with the formatted text and a link
// back, then ends the process with status 1.
void CRukBBSFormBase::Message(const char* pFormat, ...)
{
    go.m_log.Trace("MessageForm =====================================================");
    CRukString text;  // the whole expansion, however long
    va_list args;
    va_start(args, pFormat);
    text.FormatV(pFormat, args);
    va_end(args);

    CRukString page = GetTemplate((m_strSkinDir + "templ_info.html").GetText());
    if (page.IsEmpty())
        page = GetTemplate("skin/default/templ_info.html");
    page.Replace("%MESSAGE%", text.GetText(), false);

    CRukString link = go.m_env.SCRIPT_NAME;
    if (!m_strBBSID.IsEmpty()) {
        CRukString bid = m_strBBSID + "=" + m_strOldID;
        page.Replace("%BID%", bid.GetText(), true);
        link += "?bid=";
        link += bid;
        if (go.m_env.SCRIPT_NAME.Find("ruk-bbs.cgi") >= 0) {
            CRukString tail;
            tail.Format("&skin=%s=%s&style=%d&page=%d", m_strSkinDir.GetText(),
                        m_strSkinUrl.GetText(), m_nStyle, m_nPage);
            link += tail;
        }
        if (!m_strMode.IsEmpty()) {
            link += "&mode=";
            link += m_strMode;
        }
    }
    // The link carries request values into an attribute.
    page.Replace("%RETURN_CGI%", EscapeHtml(link.GetText()).GetText(), false);

    m_html.WriteHttpHeader("text/html", "");
    if (m_html.WriteString(page.GetText()) < 0 || fflush(stdout) != 0)
        go.m_log.Trace("-- the message page could not be written");
    go.m_log.Trace("Program END  =====================================================\n\n");
    exit(1);
}

void CRukBBSFormBase::MessageKey(const char* pKey)
{
    Message("%s", m_cfMessage.Value(pKey).GetText());
}

void CRukBBSFormBase::MessageText(const char* pKey)
{
    Message("%s", m_cfMessage.Value(pKey).GetText());
}

void CRukBBSFormBase::MessageFill(const char* pKey, std::initializer_list<SRukFill> fills)
{
    CRukString text = m_cfMessage.Value(pKey);
    for (const SRukFill& fill : fills)
        text.Replace(fill.pTag, EscapeHtml(fill.value.GetText()).GetText(), true);
    Message("%s", text.GetText());
}

// True when pText ends with pSuffix, ignoring case.
static bool EndsWithNoCase(const CRukString& text, const char* pSuffix)
{
    int nText = text.GetLength();
    int nSuffix = static_cast<int>(strlen(pSuffix));
    return nSuffix <= nText && strcasecmp(text.GetText() + nText - nSuffix, pSuffix) == 0;
}

// An address prefix of a deny list: digits and dots (IPv4, "192.168."),
// or hex digits and colons with at least one colon (IPv6, "2001:db8:"),
// compared with the start of the client's address as written.
static bool IsAddressPrefix(const CRukString& entry)
{
    size_t n = static_cast<size_t>(entry.GetLength());
    const char* p = entry.GetText();
    if (strspn(p, "0123456789.") == n)
        return true;
    return strchr(p, ':') && strspn(p, "0123456789abcdefABCDEF:.") == n;
}

// True when a deny-list address entry names the client's address: a whole
// address (an IPv4 one, or an IPv6 one not ending in ":") names that one
// address however it is written; any other entry is a prefix of the
// address as written.
static bool MatchesAddress(const CRukString& entry, const CRukString& addr)
{
    const char* p = entry.GetText();
    int nLast = entry.GetLength() - 1;
    unsigned char want[16], have[16];
    for (int nFamily : {AF_INET, AF_INET6}) {
        if (nFamily == AF_INET6 && (nLast < 0 || p[nLast] == ':'))
            break;
        if (inet_pton(nFamily, p, want) == 1) {
            size_t n = nFamily == AF_INET ? 4 : 16;
            return inet_pton(nFamily, addr.GetText(), have) == 1 && memcmp(want, have, n) == 0;
        }
    }
    return entry.GetLength() <= addr.GetLength() &&
           strncasecmp(addr.GetText(), p, entry.GetLength()) == 0;
}

// Checks the visitor's address and host name against the words of a deny
// list: addresses and address prefixes (IPv4 or IPv6), host suffixes, "!"
// + an allowed host suffix, and the keywords "proxy" and "no-host". Host
// names count only when they are confirmed (they resolve back to the
// address).
int CRukBBSFormBase::AccessDenyCheck(const char* pPath)
{
    if (!pPath || !*pPath || CRukFile::GetFileSize(pPath) <= 0)
        return 0;
    CRukFile file;
    CRukBuffer data;
    if (file.ReadFile(pPath, data, false) <= 0)
        return 0;
    CRukStrAry entries;
    entries.SetTokenOneOf(data.GetData(), " \t\r\n");
    const CRukString& addr = go.m_env.REMOTE_ADDR;
    CRukString host;
    bool bHostKnown = false;
    auto getHost = [&]() -> const CRukString& {
        if (!bHostKnown) {
            host = go.m_env.GetRemoteHost();
            bHostKnown = true;
        }
        return host;
    };
    for (int i = 0; i < entries.GetSize(); i++) {
        const CRukString& entry = entries[i];
        if (entry.IsEmpty())
            continue;
        if (IsAddressPrefix(entry)) {
            if (MatchesAddress(entry, addr))
                return 1;
            continue;
        }
        if (entry.Compare("proxy", 1) == 0) {
            if (!go.m_env.HTTP_VIA.IsEmpty() || getHost().Find("proxy") >= 0)
                return 2;
            continue;
        }
        if (entry.Compare("no-host", 1) == 0) {
            if (getHost().IsEmpty())
                return 3;
            continue;
        }
        const CRukString& h = getHost();
        if (h.IsEmpty() || entry.GetLength() > h.GetLength())
            continue;
        if (entry.GetText()[0] == '!') {
            if (!EndsWithNoCase(h, entry.GetText() + 1))
                return 1;
        } else if (EndsWithNoCase(h, entry.GetText())) {
            return 1;
        }
    }
    return 0;
}
