#include "rukbbsformmain.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <strings.h>

#include "rukcrypt.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukmail.h"
#include "rukstrpath.h"

CRukBBSFormMain::CRukBBSFormMain()
{
    m_bbsFile.m_nMaxData = 1000;
    m_bbsFile.m_nDeleteMode = 0;
}

// Cuts block pName out of src into out and replaces every block of that
// name in src by the empty pair. A missing block gives the empty text.
static void CutBlock(CRukString& src, const char* pName, CRukString& out)
{
    CRukString open = CRukString("<!--") + pName + "-->";
    CRukString close = CRukString("<!--/") + pName + "-->";
    out = src.GetToken(open.GetText(), close.GetText());
    src.Replace(open.GetText(), close.GetText(), (open + close).GetText(), true);
}

// Replaces the first (or every) block pName of page by pWith.
static int PutBlock(CRukString& page, const char* pName, const CRukString& with, bool bAll)
{
    CRukString open = CRukString("<!--") + pName + "-->";
    CRukString close = CRukString("<!--/") + pName + "-->";
    return page.Replace(open.GetText(), close.GetText(), with.GetText(), bAll);
}

void CRukBBSFormMain::GetTemplateBlock(CRukString& page, CRukString& inputForm,
                                       CRukString& navigation, CRukString& tableParent,
                                       CRukString& tableChild, CRukString& titleParent,
                                       CRukString& titleChild, CRukString& foundWord,
                                       CRukString& foundResult)
{
    CutBlock(page, "INPUT_FORM", inputForm);
    CutBlock(page, "NAVIGATION", navigation);
    CutBlock(page, "TABLE_PARENT", tableParent);
    CutBlock(tableParent, "TABLE_CHILD", tableChild);
    CutBlock(page, "TITLE_PARENT", titleParent);
    CutBlock(titleParent, "TITLE_CHILD", titleChild);
    CutBlock(page, "FOUND_WORD", foundWord);
    CutBlock(page, "FOUND_RESULT", foundResult);
}

int CRukBBSFormMain::PutRealizeBlock(CRukString& page, CRukString& inputForm,
                                     CRukString& navigation, CRukString& dataTable,
                                     CRukString& dataTitle)
{
    PutBlock(page, "INPUT_FORM", inputForm, false);
    PutBlock(page, "NAVIGATION", navigation, true);
    PutBlock(page, "DATA_TABLE", dataTable, true);
    return PutBlock(page, "DATA_TITLE", dataTitle, true);
}

// ---------------------------------------------------------------------------
// Message body rendering

// Markers that stand in for the angle brackets of allowed tags and for
// quoted addresses while a body is rendered. Visitor text never holds them:
// they are removed from every body first.
static const char CAN = '\x18';
static const char EM = '\x19';

// The tags a body may carry, as their opening texts (without "<").
static const char* const s_rgAllowedTags[] = {"a", "/a", "font", "/font", "img", "/img"};

// Attributes whose value is a URL; a URL there must be http, https, ftp,
// mailto or a relative reference.
static const char* const s_rgUrlAttributes[] = {"href", "src", "srcset", "lowsrc", "dynsrc",
                                                "background", "action", "formaction",
                                                "xlink:href", "poster"};

// Decodes the character references of an attribute value ("&#106;",
// "&#x6A;", a few named ones), so that a scheme cannot hide behind them.
static CRukString DecodeReferences(const CRukString& value)
{
    static const struct {
        const char* pName;
        char c;
    } s_named[] = {{"colon", ':'}, {"tab", '\t'}, {"newline", '\n'}, {"amp", '&'},
                   {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    CRukString out;
    const char* p = value.GetText();
    while (*p) {
        if (*p == '&') {
            const char* q = p + 1;
            long code = -1;
            if (*q == '#') {
                q++;
                int base = 10;
                if (*q == 'x' || *q == 'X') {
                    base = 16;
                    q++;
                }
                char* pEnd = nullptr;
                code = strtol(q, &pEnd, base);
                if (pEnd == q)
                    code = -1;
                else
                    q = pEnd;
            } else {
                for (const auto& n : s_named) {
                    size_t len = strlen(n.pName);
                    if (strncasecmp(q, n.pName, len) == 0) {
                        code = static_cast<unsigned char>(n.c);
                        q += len;
                        break;
                    }
                }
            }
            if (code >= 0) {
                if (*q == ';')
                    q++;
                char c = (code > 0 && code < 0x80) ? static_cast<char>(code) : '?';
                out.Append(&c, 1);
                p = q;
                continue;
            }
        }
        out.Append(p, 1);
        p++;
    }
    return out;
}

// True for a URL that may stand in an allowed tag: http, https, ftp or
// mailto, or a relative reference (no scheme at all). Case, blanks and
// control bytes are ignored, after character references are decoded.
static bool IsSafeUrl(const CRukString& value)
{
    CRukString decoded = DecodeReferences(value);
    CRukString url;
    for (const char* p = decoded.GetText(); *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c > 0x20 && c != 0x7F)
            url.Append(p, 1);
    }
    const char* p = url.GetText();
    size_t n = strcspn(p, ":/?#");
    if (p[n] != ':')
        return true;  // relative: no scheme before the first ":"
    CRukString scheme = url.Left(static_cast<int>(n));
    for (const char* pAllowed : {"http", "https", "ftp", "mailto"})
        if (scheme.Compare(pAllowed, 1) == 0)
            return true;
    return false;
}

// An attribute name: a letter, then letters, digits, "-", "_" or ":".
static bool IsAttributeName(const CRukString& name)
{
    const char* p = name.GetText();
    if (!isalpha(static_cast<unsigned char>(*p)) || static_cast<unsigned char>(*p) >= 0x80)
        return false;
    for (; *p; p++)
        if (!(isalnum(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) &&
            *p != '-' && *p != '_' && *p != ':')
            return false;
    return true;
}

// Rebuilds the attributes of an allowed tag (the text between its name
// and ">"), dropping every "on..." attribute and every URL attribute with
// an unsafe value, and anything that is not an attribute. What stays is
// written as name="value".
static CRukString FilterAttributes(const char* pText)
{
    CRukString out;
    const char* p = pText;
    while (*p) {
        const char* pStart = p;
        while (*p && isspace(static_cast<unsigned char>(*p)))
            p++;
        const char* pName = p;
        while (*p && !isspace(static_cast<unsigned char>(*p)) && *p != '=' && *p != '/')
            p++;
        CRukString name;
        name.Append(pName, static_cast<int>(p - pName));
        const char* pAfterName = p;
        while (*p && isspace(static_cast<unsigned char>(*p)))
            p++;
        CRukString value;
        bool bValue = false;
        if (*p == '=') {
            bValue = true;
            p++;
            while (*p && isspace(static_cast<unsigned char>(*p)))
                p++;
            if (*p == '"' || *p == '\'') {
                char q = *p++;
                const char* v = p;
                while (*p && *p != q)
                    p++;
                value.Append(v, static_cast<int>(p - v));
                if (*p)
                    p++;
            } else {
                const char* v = p;
                while (*p && !isspace(static_cast<unsigned char>(*p)))
                    p++;
                value.Append(v, static_cast<int>(p - v));
            }
        } else {
            p = pAfterName;
        }
        if (name.IsEmpty()) {
            if (*p == '/') {
                out += "/";
                p++;
            } else if (p == pStart) {
                p++;  // cannot happen; keeps the scan moving
            }
            continue;
        }
        bool bDrop = !IsAttributeName(name) || strncasecmp(name.GetText(), "on", 2) == 0;
        for (const char* pUrl : s_rgUrlAttributes)
            if (!bDrop && bValue && name.Compare(pUrl, 1) == 0 && !IsSafeUrl(value))
                bDrop = true;
        if (bDrop)
            continue;
        // Written again as blank, name and a double-quoted value, so that
        // nothing typed can run into the tag name or out of the value.
        out += " ";
        out += name;
        if (bValue) {
            value.Replace("\"", "&quot;", true);
            out += "=\"";
            out += value;
            out += "\"";
        }
    }
    return out;
}

// Replaces each allowed tag by CAN + name ... EM, with its attributes
// filtered. Only the exact names count: "<abbr" is not an anchor. Once no
// ">" is left, no later "<" can open a tag, so the rest is copied without
// searching again (a body of many unclosed "<a" stays linear).
static void ProtectTags(CRukString& body)
{
    CRukBuffer out;
    const char* p = body.GetText();
    bool bNoClose = false;
    while (*p) {
        if (*p == '<' && !bNoClose) {
            bool bDone = false;
            for (const char* pTag : s_rgAllowedTags) {
                size_t n = strlen(pTag);
                if (strncasecmp(p + 1, pTag, n) != 0)
                    continue;
                char next = p[1 + n];
                if (next != '>' && next != '/' && !isspace(static_cast<unsigned char>(next)))
                    continue;
                const char* pClose = strchr(p + 1 + n, '>');
                if (!pClose) {
                    bNoClose = true;
                    break;
                }
                CRukString attrs;
                attrs.Append(p + 1 + n, static_cast<int>(pClose - (p + 1 + n)));
                CRukString kept = FilterAttributes(attrs.GetText());
                out.Append(&CAN, 1);
                out.Append(pTag, static_cast<unsigned>(n));
                out.Append(kept.GetText(), kept.GetLength());
                out.Append(&EM, 1);
                p = pClose + 1;
                bDone = true;
                break;
            }
            if (bDone)
                continue;
        }
        // Everything up to the next "<" is copied as it is, in one piece.
        const char* q = strchr(p + 1, '<');
        size_t n = q && !bNoClose ? static_cast<size_t>(q - p) : strlen(p);
        out.Append(p, static_cast<unsigned>(n));
        p += n;
    }
    body.Attach(out.Detach());
}

// Writes every "<" as "&lt;" and every ">" as "&gt;" in one pass (the same
// as replacing the one and then the other: neither entity holds the other
// bracket).
static void EscapeAngles(CRukString& body)
{
    const char* p = body.GetText();
    if (!strpbrk(p, "<>"))
        return;
    CRukBuffer out;
    while (*p) {
        size_t n = strcspn(p, "<>");
        out.Append(p, static_cast<unsigned>(n));
        p += n;
        if (*p) {
            out.Append(*p == '<' ? "&lt;" : "&gt;", 4);
            p++;
        }
    }
    body.Attach(out.Detach());
}

// Puts the angle brackets of the protected tags back.
static void UnprotectTags(CRukString& body)
{
    if (!strchr(body.GetText(), CAN))
        return;
    for (const char* pTag : s_rgAllowedTags) {
        char szBegin[16];
        snprintf(szBegin, sizeof(szBegin), "%c%s", CAN, pTag);
        char szEm[2] = {EM, 0};
        CRukString newBegin = CRukString("<") + pTag;
        body.Replace(szBegin, szEm, newBegin.GetText(), ">", true);
    }
}

void CRukBBSFormMain::ReplaceText2Html(CRukString& body, const CRukBBSData& rec)
{
    char szMarkers[3] = {CAN, EM, 0};
    if (body.FindOneOf(szMarkers) >= 0) {
        body.Replace("\x18", "", true);
        body.Replace("\x19", "", true);
    }
    ProtectTags(body);
    EscapeAngles(body);
    ReplaceUrlLink(body, "http");
    ReplaceUrlLink(body, "https");
    ReplaceUrlLink(body, "ftp");
    UnprotectTags(body);
    ReplaceResQuot(body, rec);
    body.Replace("\n", "<br />", true);
}

// An address byte: printable ASCII, but never a quote, which would end the
// attribute the address is put into, nor an angle bracket: once a body is
// escaped, "<" only starts a link an earlier pass made.
static bool IsAddressByte(unsigned char c)
{
    return c >= 0x21 && c <= 0x7F && c != '"' && c != '\'' && c != '`' && c != '<' && c != '>';
}

// Turns the addresses of one scheme into links. Quoted addresses are left
// as typed, and so is everything inside an allowed tag (CAN name ... EM)
// and inside a link made by an earlier pass, so that no address is ever
// linked inside an attribute.
void CRukBBSFormMain::ReplaceUrlLink(CRukString& body, const char* pScheme)
{
    CRukString prefix = CRukString(pScheme) + "://";
    size_t nPrefix = prefix.GetLength();
    if (body.FindNoCase(prefix.GetText()) < 0)
        return;
    CRukBuffer out;
    const char* p = body.GetText();
    while (*p) {
        if (*p == CAN) {  // a protected tag: copied through its EM
            const char* e = strchr(p, EM);
            const char* pEnd = e ? e + 1 : p + strlen(p);
            out.Append(p, static_cast<unsigned>(pEnd - p));
            p = pEnd;
            continue;
        }
        if (strncmp(p, "<a ", 3) == 0) {  // a link made by an earlier pass
            const char* e = CRukString::Search(p, "</a>");
            const char* pEnd = e ? e + 4 : p + strlen(p);
            out.Append(p, static_cast<unsigned>(pEnd - p));
            p = pEnd;
            continue;
        }
        if ((*p == '"' || *p == '\'') && strncasecmp(p + 1, prefix.GetText(), nPrefix) == 0) {
            out.Append(p, static_cast<unsigned>(1 + nPrefix));
            p += 1 + nPrefix;
            continue;
        }
        if (strncmp(p, prefix.GetText(), nPrefix) == 0) {
            const char* a = p + nPrefix;
            const char* e = a;
            while (*e && IsAddressByte(static_cast<unsigned char>(*e)))
                e++;
            CRukString addr;
            addr.Append(a, static_cast<int>(e - a));
            go.m_log.Trace("-- Token=[%s]", addr.GetText());
            CRukStrPath path;
            path.Split(addr.GetText());
            const CRukString& ext = path.GetExt();
            bool bDownload = ext.Find("lzh") >= 0 || ext.Find("zip") >= 0 || ext.Find("exe") >= 0;
            if (addr.IsEmpty()) {
                out.Append(p, static_cast<unsigned>(nPrefix));
            } else {
                CRukString link = CRukString("<a href=\"") + pScheme + "://" + addr + "\" " +
                                  (bDownload ? "" : "target=_blank") + ">" + pScheme + "://" +
                                  addr + "</a>";
                out.Append(link.GetText(), link.GetLength());
            }
            p = e;
            continue;
        }
        // Up to the next byte that can start one of the cases above, the
        // text is copied in one piece.
        const char szStops[] = {CAN, '<', '"', '\'', prefix.GetText()[0], 0};
        size_t n = 1 + strcspn(p + 1, szStops);
        out.Append(p, static_cast<unsigned>(n));
        p += n;
    }
    body.Attach(out.Detach());
}

void CRukBBSFormMain::ReplaceResQuot(CRukString& body, const CRukBBSData& rec)
{
    // Only a body with a line that starts with "&gt;" is rebuilt.
    if (strncmp(body.GetText(), "&gt;", 4) != 0 && body.Find("\n&gt;") < 0)
        return;
    CRukString open;
    open.Format("<span class=\"%s\">>", rec.pid.IsEmpty() ? "prMessage" : "crMessage");
    CRukString text = CRukString("\n") + body + "\n";
    text.Replace("\n&gt;", (CRukString("\n") + open).GetText(), true);
    text.Replace(open.GetText(), "\n", open.GetText(), "</span>\n", true);
    body = text.Mid(1, text.GetLength() - 2);
}

void CRukBBSFormMain::ReplacePreFormat(CRukString& body, const CRukBBSData& rec)
{
    body.Replace("<", "&lt;", true);
    body.Replace(">", "&gt;", true);
    ReplaceResQuot(body, rec);
    body.Insert("<pre>");
    body += "</pre>";
}

// Reads a date in the exact form the board stores, "YYYY/MM/DD hh:mm:ss"
// (what the sscanf below gives for it, without its cost per message);
// false for any other text, which is left to sscanf.
static bool ParseStoredDate(const char* p, int& y, int& mo, int& d, int& h, int& mi, int& s)
{
    static const char s_szForm[] = "dddd/dd/dd dd:dd:dd";
    for (int i = 0; s_szForm[i]; i++) {
        bool bDigit = p[i] >= '0' && p[i] <= '9';
        if (s_szForm[i] == 'd' ? !bDigit : p[i] != s_szForm[i])
            return false;
    }
    auto num = [&](int at, int n) {
        int v = 0;
        for (int i = 0; i < n; i++)
            v = v * 10 + (p[at + i] - '0');
        return v;
    };
    y = num(0, 4);
    mo = num(5, 2);
    d = num(8, 2);
    h = num(11, 2);
    mi = num(14, 2);
    s = num(17, 2);
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar; the
// month may lie outside 1-12 and the day outside the month, which carry
// over as mktime carries them.
static long long DaysFromCivil(long long y, long long m, long long d)
{
    long long nMonths = m - 1;
    y += nMonths >= 0 ? nMonths / 12 : -((11 - nMonths) / 12);
    m = nMonths - 12 * (nMonths >= 0 ? nMonths / 12 : -((11 - nMonths) / 12)) + 1;
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (d - 1);
}

CRukString CRukBBSFormMain::CreateNewImage(const CRukBBSData& rec)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!ParseStoredDate(rec.date.GetText(), y, mo, d, h, mi, s))
        sscanf(rec.date.GetText(), "%04d/%02d/%02d %02d:%02d:%02d", &y, &mo, &d, &h, &mi, &s);
    // The shifted clock is the same for every message of a page: it is
    // worked out again only when the second or the time lag changes.
    time_t t = time(nullptr);
    int nLagHours = atoi(m_cfBBS.Value("timelag_hh").GetText());
    int nLagMinutes = atoi(m_cfBBS.Value("timelag_mm").GetText());
    if (!m_newClock.bSet || t != m_newClock.tAt || nLagHours != m_newClock.nLagHours ||
        nLagMinutes != m_newClock.nLagMinutes) {
        localtime_r(&t, &m_newClock.tmLocal);
        struct tm now = m_newClock.tmLocal;
        now.tm_hour += nLagHours;
        now.tm_min += nLagMinutes;
        m_newClock = {true, t, nLagHours, nLagMinutes, m_newClock.tmLocal, mktime(&now)};
    }
    // Most messages are far older than the mark lasts: their age on the
    // calendar, less two days for any change of the zone's offset, already
    // settles it without asking the zone rules (mktime).
    int nNewHours = atoi(m_cfBBS.Value("new_time").GetText());
    const struct tm& now = m_newClock.tmLocal;
    long long nCivil =
        (DaysFromCivil(now.tm_year + 1900LL, now.tm_mon + 1, now.tm_mday) -
         DaysFromCivil(y, mo, d)) * 86400LL +
        (now.tm_hour - h) * 3600LL + (now.tm_min - mi) * 60LL + (now.tm_sec - s) +
        nLagHours * 3600LL + nLagMinutes * 60LL;
    if (nCivil - 48 * 3600LL >= nNewHours * 3600LL)
        return CRukString();
    struct tm posted = m_newClock.tmLocal;
    posted.tm_year = y - 1900;
    posted.tm_mon = mo - 1;
    posted.tm_mday = d;
    posted.tm_hour = h;
    posted.tm_min = mi;
    posted.tm_sec = s;
    long seconds = static_cast<long>(difftime(m_newClock.tShifted, mktime(&posted)));
    long hours = seconds / 3600;
    if (hours >= nNewHours)
        return CRukString();
    CRukString image = m_cfBBS.Value("new_image");
    if (image.IsEmpty())
        image = m_strSkinUrl + "new.gif";
    CRukString result;
    result.Format("<img src=\"%s\">", image.GetText());
    return result;
}

// ---------------------------------------------------------------------------
// Listing views

// The extensions of pictures that may be shown inline.
static const char* const s_rgInlineExt[] = {".jpeg", ".jpg", ".gif", ".png"};

// The pop-up viewer's window options.
static const char* const s_pPopup =
    "'popview', 'screenX=20,screenY=10,left=20,top=10,width=400,height=300,resizable=yes,"
    "scrollbars=yes'";

// Replaces the first (or every) pTag in text by the value.
static void Tag(CRukString& text, const char* pTag, const char* pValue, bool bAll = false)
{
    text.Replace(pTag, pValue ? pValue : "", bAll);
}

static CRukString Decimal(int n)
{
    return CRukString(n);
}


// Visitor text for a message pattern or the input form: HTML-escaped, and
// with "%" written as a character reference, so that a value holding a tag
// name ("%MESSAGE%") is not filled by a later tag of the same pattern. The
// browser shows and submits the reference as "%", so nothing typed is lost.
static CRukString EscapeField(const CRukString& value)
{
    CRukString text = CRukBBSFormBase::EscapeHtml(value.GetText());
    if (text.Find("%") >= 0)
        text.Replace("%", "&#37;", true);
    return text;
}

// Threads per page: page numbers far beyond the board must not overflow
// the count of threads to skip.
static int PageSkip(int nPage, int nPer)
{
    long long n = static_cast<long long>(nPage) * nPer;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// Appends one rendered message or thread to a part of the page. The buffer
// grows geometrically, so a page of many messages is joined in linear time.
static void AddPiece(CRukBuffer& out, const CRukString& piece)
{
    out.Append(piece.GetText(), static_cast<unsigned>(piece.GetLength()));
}

// The joined pieces as text; the buffer is left empty.
static CRukString Joined(CRukBuffer& out)
{
    CRukString text;
    text.Attach(out.Detach());
    return text;
}

// The byte that marks a tag's place while a pattern is cut.
static const char s_cSlotMark = '\x01';

// The attachment block of a message pattern and the attachment tag of a
// title pattern, dropped for a message without attachments.
static const char s_szAttachOpen[] = "<!--ATTACH-->";
static const char s_szAttachClose[] = "<!--/ATTACH-->";
static const char s_szAttachLink[] = "%ATTACH_LINK%%";

// Fills the tags as Tag would one after the other, in the slots' order;
// the cut is made once per pattern by replacing each tag in that order
// with a mark, so the same places are found. A value is put in as text and
// never read again as a tag. With pDropOpen the first span from it through
// the next pDropClose is left out (cut out of the pattern once, rather
// than out of every filled message).
CRukString CRukBBSFormMain::FillPattern(const CRukString& pattern, const STagSlot* pSlots,
                                        int nSlots, const CRukString* pValues,
                                        const char* pDropOpen, const char* pDropClose)
{
    const SCutPattern* pCut = nullptr;
    for (const SCutPattern& cut : m_patterns)
        if (cut.pSlots == pSlots && cut.pDropOpen == pDropOpen && cut.source == pattern.GetText())
            pCut = &cut;
    if (!pCut) {
        SCutPattern cut;
        cut.pSlots = pSlots;
        cut.source = pattern.GetText();
        cut.pDropOpen = pDropOpen;
        cut.bWhole = strchr(pattern.GetText(), s_cSlotMark) != nullptr || nSlots > 26;
        if (!cut.bWhole) {
            CRukString text = pattern;
            if (pDropOpen)
                text.Replace(pDropOpen, pDropClose, "", false);
            for (int k = 0; k < nSlots; k++) {
                const char szMark[] = {s_cSlotMark, static_cast<char>('A' + k), 0};
                Tag(text, pSlots[k].pTag, szMark, pSlots[k].bAll);
            }
            std::string piece;
            for (const char* p = text.GetText(); *p; p++) {
                if (*p == s_cSlotMark && p[1] >= 'A' && p[1] < 'A' + nSlots) {
                    cut.pieces.emplace_back(std::move(piece), p[1] - 'A');
                    piece.clear();
                    p++;
                } else {
                    piece += *p;
                }
            }
            cut.pieces.emplace_back(std::move(piece), -1);
        }
        m_patterns.push_back(std::move(cut));
        pCut = &m_patterns.back();
    }
    if (pCut->bWhole) {
        CRukString text = pattern;
        for (int k = 0; k < nSlots; k++)
            Tag(text, pSlots[k].pTag, pValues[k].GetText(), pSlots[k].bAll);
        if (pDropOpen)
            text.Replace(pDropOpen, pDropClose, "", false);
        return text;
    }
    CRukBuffer out;
    for (const auto& piece : pCut->pieces) {
        out.Append(piece.first.data(), static_cast<unsigned>(piece.first.size()));
        if (piece.second >= 0)
            AddPiece(out, pValues[piece.second]);
    }
    return Joined(out);
}

// The size of an attachment in whole KB, at least 1 (also when missing).
static int AttachKB(const CRukString& path)
{
    long n = CRukFile::GetFileSize(path.GetText()) / 1024;
    return n > 0 ? static_cast<int>(n) : 1;
}

// The home link is offered for web addresses only.
static bool IsWebAddress(const CRukString& home)
{
    return home.Find("http://") == 0 || home.Find("https://") == 0;
}

// The parts of an attachment link shared by the full and the title view.
struct AttachLinks {
    CRukString button;   // image of the attachment button
    CRukString dirPath;  // directory on disk
    CRukString dirUrl;   // its URL
    CRukString cursor;   // the MSIE cursor style, or empty
};

static AttachLinks MakeAttachLinks(CRukBBSFormMain& bbs, const CRukString& part,
                                   const CRukBBSData& rec)
{
    AttachLinks links;
    links.button = bbs.m_strSkinUrl + part.GetToken("%ATTACH_LINK%%BUTTON=", "%");
    CRukString key = rec.attach.Value(0);
    links.dirPath = bbs.m_bbsFile.CreateAttachPath(bbs.m_strDataDir.GetText(), key.GetText());
    links.dirUrl = bbs.ServerPath2UrlPath((bbs.m_strDataDir + key).GetText(), 0);
    if (go.m_env.HTTP_USER_AGENT.Find("MSIE") >= 0)
        links.cursor = "style=\"cursor:hand;\"";
    return links;
}

CRukString CRukBBSFormMain::CreateTable1(CRukCookie&, CRukForm&, const CRukString& pattern,
                                         const CRukBBSData& rec)
{
    bool bRoot = rec.pid.IsEmpty();
    CRukString icon = m_cfBBS.Value(("ico_url" + rec.icon).GetText());
    CRukString iconTag;
    if (!icon.IsEmpty() && atoi(m_cfBBS.Value("use_icon").GetText()) != 0)
        iconTag = CRukString("<img src=\"") + icon + "\">";
    CRukString mail;
    if (!rec.mail.IsEmpty())
        mail = CRukString("<a href=\"mailto:") + EscapeField(rec.mail) +
               "\"><span class=\"" + (bRoot ? "pMail" : "cMail") + "\">Mail</span></a>";
    CRukString home;
    if (IsWebAddress(rec.home))
        home = CRukString("<a href=\"") + EscapeField(rec.home) +
               "\" target=_blank><span class=\"" + (bRoot ? "pHome" : "cHome") +
               "\">Home</span></a>";
    CRukString body = rec.mess;
    if (atoi(rec.preform.GetText()) == 0)
        ReplaceText2Html(body, rec);
    else
        ReplacePreFormat(body, rec);
    static const STagSlot s_rgSlots[] = {
        {"%ICON_IMAGE%", false}, {"%NEW_IMAGE%", false}, {"%TITLE%", false},
        {"%NAME%", false},       {"%DATE%", false},      {"%MAIL%", false},
        {"%HOME%", false},       {"%ID%", true},         {"%PID%", false},
        {"%PPID%", false},       {"%PAGE%", true},       {"%STYLE%", true},
        {"%PASSWD%", true},      {"%MESSAGE%", false}};
    const CRukString values[] = {iconTag,
                                 CreateNewImage(rec),
                                 EscapeField(rec.title),
                                 EscapeField(rec.name),
                                 EscapeField(rec.date),
                                 mail,
                                 home,
                                 EscapeField(rec.id),
                                 EscapeField(rec.pid),
                                 EscapeField(rec.ppid),
                                 Decimal(m_nPage),
                                 Decimal(m_nStyle),
                                 CRukString(),
                                 body};
    static_assert(sizeof(values) / sizeof(values[0]) == sizeof(s_rgSlots) / sizeof(s_rgSlots[0]),
                  "one value per tag");
    bool bNoAttach = rec.attach.GetSize() == 0;
    CRukString text =
        FillPattern(pattern, s_rgSlots, sizeof(s_rgSlots) / sizeof(s_rgSlots[0]), values,
                    bNoAttach ? s_szAttachOpen : nullptr, s_szAttachClose);
    if (bNoAttach)
        return text;
    CRukString part = text.GetToken(s_szAttachOpen, s_szAttachClose);
    AttachLinks links = MakeAttachLinks(*this, part, rec);
    const char* pClass = bRoot ? "pAttach" : "cAttach";
    bool bEmbed = atoi(m_cfBBS.Value("attach_embed").GetText()) != 0;
    int nEmbed = atoi(m_cfBBS.Value("embed_size").GetText());
    CRukString linkList, inlineList;
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        const CRukString& name = rec.attach[i].m_strTag;
        int nKB = AttachKB(links.dirPath + "/" + name);
        CRukString url = links.dirUrl + "/" + name;
        CRukString safeUrl = EscapeField(url);
        CRukString safeName = EscapeField(name);
        linkList += CRukString(" <nobr><img src=\"") + EscapeHtml(links.button.GetText()) + "\" " +
                    links.cursor + " onClick=\"window.open('ruk-view.cgi?url=" +
                    url.CharToPerHexWithoutSlash() + "', " + s_pPopup +
                    ")\" alt=\"popup viewer\"> <a href=\"" + safeUrl + "\"><span class=\"" +
                    pClass + "\">" + safeName + "</span></a>(" + Decimal(nKB) + "KB)</nobr>";
        CRukStrPath path;
        path.Split(name.GetText());
        bool bPicture = false;
        for (const char* pExt : s_rgInlineExt)
            if (path.GetExt().Compare(pExt, 1) == 0)
                bPicture = true;
        if (bEmbed && nKB <= nEmbed && bPicture)
            inlineList += CRukString(" <img src=\"") + safeUrl + "\" alt=\"" + safeName + "\">";
    }
    part.Replace("%ATTACH_LINK%%", "%", linkList.GetText(), false);
    part.Replace("%ATTACH_VIEW%", inlineList.GetText(), false);
    text.Replace(s_szAttachOpen, s_szAttachClose, part.GetText(), false);
    return text;
}

// The replies of a thread in display order: every message of the thread
// (sorted by new_order), each direct reply followed by its own replies.
static void ThreadReplies(CRukBBSFormMain& bbs, const CRukBBSData& root, CRukBBSDataAry& ordered,
                          bool bWithDepth)
{
    CRukBBSDataAry list;
    bbs.m_bbsFile.GetDataChildren(list, root.id.GetText(),
                                  atoi(bbs.m_cfBBS.Value("new_order").GetText()));
    list.Add(root);
    if (bWithDepth) {
        int nPDepth = 0, nDepth = 0;
        bbs.m_bbsFile.GetDataRecursWithDepth(list, ordered, root.id.GetText(), nPDepth, nDepth);
    } else {
        bbs.m_bbsFile.GetDataRecurs(list, ordered, root.id.GetText());
    }
}

CRukString CRukBBSFormMain::CreateTableThread(CRukCookie& cookie, CRukForm& form,
                                              const CRukString& rootPattern,
                                              const CRukString& replyPattern,
                                              const CRukBBSData& root)
{
    CRukString result = CreateTable1(cookie, form, rootPattern, root);
    CRukBBSDataAry ordered;
    ThreadReplies(*this, root, ordered, false);
    CRukBuffer replies;
    for (int i = 0; i < ordered.GetSize(); i++)
        AddPiece(replies, CreateTable1(cookie, form, replyPattern, ordered[i]));
    result.Replace("<!--TABLE_CHILD-->", "<!--/TABLE_CHILD-->", Joined(replies).GetText(), true);
    return result;
}

// The tree columns of a reply as images: blanks widen a spacer, "+", "|"
// and "L" are the branch pictures.
static CRukString BranchImages(const CRukString& skinUrl, const CRukBuffer& depth)
{
    static const struct {
        char c;
        const char* pImage;
    } s_branches[] = {{'+', "branch_join.gif"}, {'|', "branch_vert.gif"}, {'L', "branch_hook.gif"}};
    CRukString out;
    int nWidth = 0;
    for (unsigned i = 0; i < depth.GetSize(); i++) {
        char c = depth.GetData()[i];
        if (c == ' ') {
            nWidth += 12;
            continue;
        }
        for (const auto& b : s_branches) {
            if (b.c != c)
                continue;
            CRukString img;
            if (nWidth > 0) {
                img.Format("<img src=%sspacer.gif width=%d, height=1>", skinUrl.GetText(), nWidth);
                out += img;
                nWidth = 0;
            }
            out += CRukString("<img src=") + skinUrl + b.pImage + ">";
        }
    }
    return out;
}

CRukString CRukBBSFormMain::CreateTitle1(CRukCookie&, CRukForm&, const CRukString& pattern,
                                         const CRukBBSData& rec)
{
    // Without tree columns %BRANCH% stays as it is written.
    CRukString branch = "%BRANCH%";
    if (rec.depth.GetSize() > 0) {
        CRukString depth(rec.depth.GetData());
        go.m_log.Trace("Depth %s", depth.GetText());
        branch = BranchImages(m_strSkinUrl, rec.depth);
    }
    static const STagSlot s_rgSlots[] = {
        {"%NEW_IMAGE%", false}, {"%TITLE%", false}, {"%NAME%", false}, {"%DATE%", false},
        {"%ID%", true},         {"%PID%", false},   {"%PPID%", false}, {"%PAGE%", true},
        {"%STYLE%", true},      {"%BRANCH%", true}};
    const CRukString values[] = {CreateNewImage(rec),
                                 EscapeField(rec.title),
                                 EscapeField(rec.name),
                                 EscapeField(rec.date),
                                 EscapeHtml(rec.id.GetText()),
                                 EscapeField(rec.pid),
                                 EscapeField(rec.ppid.IsEmpty() ? rec.id : rec.ppid),
                                 Decimal(m_nPage),
                                 Decimal(m_nStyle),
                                 branch};
    static_assert(sizeof(values) / sizeof(values[0]) == sizeof(s_rgSlots) / sizeof(s_rgSlots[0]),
                  "one value per tag");
    bool bNoAttach = rec.attach.GetSize() == 0;
    CRukString text =
        FillPattern(pattern, s_rgSlots, sizeof(s_rgSlots) / sizeof(s_rgSlots[0]), values,
                    bNoAttach ? s_szAttachLink : nullptr, "%");
    if (bNoAttach)
        return text;
    AttachLinks links = MakeAttachLinks(*this, text, rec);
    CRukString icons;
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        const CRukString& name = rec.attach[i].m_strTag;
        CRukString url = links.dirUrl + "/" + name;
        icons += CRukString("<img src=\"") + EscapeHtml(links.button.GetText()) + "\" " +
                 links.cursor + " onClick=\"window.open('ruk-view.cgi?url=" +
                 url.CharToPerHexWithoutSlash() + "', " + s_pPopup + ")\" alt=\"" +
                 EscapeField(name) + "\">";
    }
    text.Replace(s_szAttachLink, "%", icons.GetText(), false);
    return text;
}

CRukString CRukBBSFormMain::CreateTitleThread(CRukCookie& cookie, CRukForm& form,
                                              const CRukString& rootPattern,
                                              const CRukString& replyPattern,
                                              const CRukBBSData& root)
{
    CRukBBSDataAry ordered;
    ThreadReplies(*this, root, ordered, true);
    CRukString result = CreateTitle1(cookie, form, rootPattern, root);
    CRukBuffer replies;
    for (int i = 0; i < ordered.GetSize(); i++)
        AddPiece(replies, CreateTitle1(cookie, form, replyPattern, ordered[i]));
    result.Replace("<!--TITLE_CHILD-->", "<!--/TITLE_CHILD-->", Joined(replies).GetText(), true);
    return result;
}

// ---------------------------------------------------------------------------
// Page assembly and navigation

// Labels of the page selector.
static const char* const s_pLatestPage = "\x8d\xc5\x90\x56\x82\xcc\x83\x79\x81\x5b\x83\x57";  // 最新のページ
static const char* const s_pPastPage = "\x89\xdf\x8b\x8e" "%d" "\x83\x79\x81\x5b\x83\x57\x96\xda";  // 過去%dページ目
// The ideographic space.
static const char* const s_pFiller = "\x81\x40";  // 　

CRukString CRukBBSFormMain::CreateNavigation(CRukCookie&, CRukForm&, const CRukString& block)
{
    CRukString text = block;
    Tag(text, "%HOME%", m_cfBBS.Value("home_url").GetText());
    Tag(text, "%PAGE%", Decimal(m_nPage).GetText(), true);
    Tag(text, "%STYLE%", Decimal(m_nStyle).GetText(), true);
    // One option per page: a large board on a phone has thousands, so the
    // list is joined in a buffer rather than by growing a string.
    CRukBuffer select;
    AddPiece(select, "<select name=sel_page>\n");
    for (int i = 0; i < m_nPageNum; i++) {
        CRukString label;
        if (i == 0)
            label = s_pLatestPage;
        else
            label.Format(s_pPastPage, i);
        CRukString option;
        option.Format("<option value=\"%d\" %s>%s</option>\n", i, i == m_nPage ? "selected" : "",
                      label.GetText());
        AddPiece(select, option);
    }
    AddPiece(select, "</select>\n");
    Tag(text, "%SELECT_PAGE%", Joined(select).GetText());
    return text;
}

// Fills the header and footer tags shared by the board and search pages:
// the old-log heading, the board's header and footer, the board id.
static void FillHeaderFooter(CRukBBSFormMain& bbs, CRukString& page)
{
    CRukString header = bbs.m_cfBBS.Value("user_header");
    if (!bbs.m_strOldID.IsEmpty()) {
        CRukString heading = bbs.m_cfMessage.Value("msg54");
        heading.Replace("%ID%", bbs.m_strOldID.GetText(), true);
        CRukString h3;
        h3.Format("<h3>%s%s</h3>", s_pFiller, heading.GetText());
        header.Insert(h3);
    }
    Tag(page, "%USER_HEADER%", header.GetText());
    Tag(page, "%USER_FOOTER%", bbs.m_cfBBS.Value("user_footer").GetText());
    Tag(page, "%BID%", bbs.m_strBBSID.GetText(), true);
}

void CRukBBSFormMain::Reload(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Reload START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    // A page shows a few dozen messages of the board: all are loaded by
    // their keys, and the shown ones read whole as they are handed out.
    int n = m_bLoaded ? m_bbsFile.m_aryData.GetSize()
                      : m_bbsFile.ReadPageKeys(m_strDataDir.GetText(), true);
    if (n == -2)
        MessageKey("msg90");
    m_nStyle = atoi(form.Value("style").GetText());
    m_nPage = atoi(form.Value("page").GetText());

    int nPer = atoi(m_cfBBS.Value(m_nStyle == 1 ? "page_ppnum2" : "page_ppnum").GetText());
    if (nPer <= 0)
        nPer = 1;
    if (m_nKeitai) {
        nPer = atoi(m_cfKeitai.Value("page_ppnum").GetText());
        if (nPer <= 0)
            nPer = 1;
        m_nPageNum = ((n > 0 ? n : 0) + nPer - 1) / nPer;
    } else {
        m_nPageNum = (m_bbsFile.GetPPNum() + nPer - 1) / nPer;
    }
    if (form.Data("submit_jump.x")) {
        m_nPage = atoi(form.Value("sel_page").GetText());
    } else if (form.Data("submit_prev.x")) {
        if (m_nPage < m_nPageNum - 1)
            m_nPage++;
    } else if (form.Data("submit_next.x")) {
        if (m_nPage > 0)
            m_nPage--;
    }
    if (m_nPage < 0)
        m_nPage = 0;

    CRukString id = form.Value("id");
    CRukString pid = form.Value("pid");
    CRukString ppid = form.Value("ppid");
    CRukBBSData record;
    if (const CRukBBSData* p = m_bbsFile.GetData(id.GetText()))
        record = *p;

    CRukString page = GetTemplate((m_strSkinDir + "templ_bbs.html").GetText());
    CRukString inputPat, navPat, tableParent, tableChild, titleParent, titleChild, foundWord,
        foundResult;
    GetTemplateBlock(page, inputPat, navPat, tableParent, tableChild, titleParent, titleChild,
                     foundWord, foundResult);

    int nMode = 0;
    if (form.Data("submit_res.x")) {
        nMode = 3;
        if (ppid.IsEmpty())
            ppid = id;
        pid = id;
        id.Free();
    } else if (!id.IsEmpty()) {
        nMode = 2;
        CRukString passwd = form.Value("passwd");
        if (passwd.IsEmpty())
            MessageKey("msg01");
        if (!CRukCrypt::IsMatchEx(passwd.GetText(), record.passwd.GetText()) &&
            !CRukCrypt::IsMatchEx(passwd.GetText(), m_cfBBS.Value("passwd").GetText()))
            MessageKey("msg03");
    } else if (form.Value("mode") == "new") {
        nMode = 1;
    }
    go.m_log.Trace("mode(%d) nDataNum(%d)", nMode, n);

    CRukString navigation = CreateNavigation(cookie, form, navPat);
    CRukString inputForm, dataTable, dataTitle;
    if (nMode == 0 && n > 0) {
        CRukBBSDataAry list;
        CRukBuffer titles;
        if (m_nKeitai) {
            m_bbsFile.GetDataSequential(list, nPer, PageSkip(m_nPage, nPer));
            for (int i = 0; i < list.GetSize(); i++)
                AddPiece(titles, CreateTable1(cookie, form, tableParent, list[i]));
        } else if (m_bbsFile.GetDataParents(list, nPer, PageSkip(m_nPage, nPer)) > 0) {
            go.m_log.Trace(" --- Parent = %d", list.GetSize());
            if (m_nStyle == 1) {
                if (!ppid.IsEmpty()) {
                    CRukString openParent = tableParent, openChild = tableChild;
                    openParent.Replace("#b", "#m", true);
                    openChild.Replace("#b", "#m", true);
                    if (const CRukBBSData* pRoot = m_bbsFile.GetData(ppid.GetText()))
                        dataTable = CreateTableThread(cookie, form, openParent, openChild, *pRoot);
                    AddPiece(titles, navigation);
                }
                for (int i = 0; i < list.GetSize(); i++)
                    AddPiece(titles,
                             CreateTitleThread(cookie, form, titleParent, titleChild, list[i]));
            } else {
                for (int i = 0; i < list.GetSize(); i++)
                    AddPiece(titles,
                             CreateTableThread(cookie, form, tableParent, tableChild, list[i]));
            }
        }
        dataTitle = Joined(titles);
    } else {
        inputForm = CreateInputForm(cookie, form, inputPat, record, ppid, pid, id);
        if (nMode == 2 || nMode == 3) {
            const CRukBBSData* pRoot =
                m_bbsFile.GetData((ppid.IsEmpty() ? id : ppid).GetText());
            if (pRoot)
                dataTable = CreateTableThread(cookie, form, tableParent, tableChild, *pRoot);
        }
    }
    FillHeaderFooter(*this, page);
    PutRealizeBlock(page, inputForm, navigation, dataTable, dataTitle);
    m_html.WriteHttpHeader("text/html", "");
    m_html.WriteString(page.GetText());
    go.m_log.Trace("<< CRukBBSFormMain::Reload END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

// ---------------------------------------------------------------------------
// Input form

static const char* const s_pNoIcon = "\x82\xc8\x82\xb5";  // なし

CRukString CRukBBSFormMain::CreateInputForm(CRukCookie& cookie, CRukForm&,
                                            const CRukString& block, const CRukBBSData& rec,
                                            const CRukString& ppid, const CRukString& pid,
                                            const CRukString& id)
{
    CRukString text = block;
    CRukString home = cookie.Value("home");
    if (home.IsEmpty())
        home = "http://";
    CRukString icon = cookie.Value("icon");
    Tag(text, "%STYLE%", Decimal(m_nStyle).GetText(), true);
    Tag(text, "%PAGE%", Decimal(m_nPage).GetText(), true);
    Tag(text, "%PASSWD%", EscapeField(cookie.Value("passwd")).GetText(), true);
    Tag(text, "%PPID%", EscapeField(ppid).GetText(), true);
    Tag(text, "%PID%", EscapeField(pid).GetText(), true);
    Tag(text, "%ID%", EscapeField(id).GetText(), true);

    auto checked = [](const CRukString& flag) { return atoi(flag.GetText()) != 0 ? "checked" : ""; };
    const char* pVariant;
    if (!id.IsEmpty()) {
        pVariant = "INPUT_HEAD_UPD";
        Tag(text, "%NAME%", EscapeField(rec.name).GetText());
        Tag(text, "%MAIL%", EscapeField(rec.mail).GetText());
        Tag(text, "%HOME%", EscapeField(rec.home.IsEmpty() ? home : rec.home).GetText());
        Tag(text, "%TITLE%", EscapeField(rec.title).GetText());
        Tag(text, "%MESSAGE%", EscapeField(rec.mess).GetText());
        Tag(text, "%RESMAIL_CHECKED%", checked(rec.resmail));
        Tag(text, "%PREFORM_CHECKED%", checked(rec.preform));
        icon = rec.icon;
    } else if (!pid.IsEmpty()) {
        pVariant = "INPUT_HEAD_RES";
        Tag(text, "%NAME%", EscapeField(cookie.Value("name")).GetText());
        Tag(text, "%MAIL%", EscapeField(cookie.Value("mail")).GetText());
        Tag(text, "%HOME%", EscapeField(home).GetText());
        Tag(text, "%TITLE%", EscapeField("Re: " + rec.title).GetText());
        CRukString quote = "> " + rec.mess;
        quote.Replace("\n", "\n> ", true);
        int nLen = quote.GetLength();
        if (nLen > 2 && quote.GetText()[nLen - 3] == '\n')
            quote.Delete(nLen - 2);
        Tag(text, "%MESSAGE%", EscapeField(quote).GetText());
        Tag(text, "%RESMAIL_CHECKED%", checked(cookie.Value("resmail")));
        Tag(text, "%PREFORM_CHECKED%", "");
    } else {
        pVariant = "INPUT_HEAD_NEW";
        Tag(text, "%NAME%", EscapeField(cookie.Value("name")).GetText());
        Tag(text, "%MAIL%", EscapeField(cookie.Value("mail")).GetText());
        Tag(text, "%HOME%", EscapeField(home).GetText());
        Tag(text, "%TITLE%", "");
        Tag(text, "%MESSAGE%", "");
        Tag(text, "%RESMAIL_CHECKED%", checked(cookie.Value("resmail")));
        Tag(text, "%PREFORM_CHECKED%", "");
    }
    CRukString headline = block.GetToken((CRukString("<!--") + pVariant + "-->").GetText(),
                                         (CRukString("<!--/") + pVariant + "-->").GetText());
    text.Replace("<!--INPUT_HEADLINE-->", "<!--/INPUT_HEADLINE-->", headline.GetText(), true);

    // Icon selector.
    if (atoi(m_cfBBS.Value("use_icon").GetText()) == 1) {
        CRukString iconBlock = text.GetToken("<!--SELECT_ICON-->", "<!--/SELECT_ICON-->");
        CRukString select = "<select name=icon>\n";
        int nMax = atoi(m_cfSystem.Value("icon_max").GetText());
        bool bAny = false;
        for (int i = 1; nMax >= 1 && i <= nMax + 1; i++) {
            int nIcon = i <= nMax ? i : 0;
            CRukString number = Decimal(nIcon);
            if (m_cfBBS.Value(("ico_url" + number).GetText()).IsEmpty())
                continue;
            CRukString option;
            option.Format("<option value=\"%d\" %s>%s</option>\n", nIcon,
                          icon == number ? "selected" : "",
                          m_cfBBS.Value(("ico_name" + number).GetText()).GetText());
            select += option;
            bAny = true;
        }
        if (!bAny)
            select += CRukString("<option value=\"\" >") + s_pNoIcon + "</option>\n";
        select += "</select>\n";
        iconBlock.Replace("%SELECT_ICON%", select.GetText(), false);
        text.Replace("<!--SELECT_ICON-->", "<!--/SELECT_ICON-->", iconBlock.GetText(), true);
    } else {
        text.Replace("<!--SELECT_ICON-->", "<!--/SELECT_ICON-->", "", true);
    }

    // File fields.
    if (atoi(m_cfBBS.Value("use_attach").GetText()) == 1) {
        CRukString fileBlock = text.GetToken("<!--INPUT_FILE-->", "<!--/INPUT_FILE-->");
        int nFiles = atoi(m_cfBBS.Value("attach_num").GetText());
        int nWidth = atoi(fileBlock.GetToken("%WIDTH=", "%").GetText());
        if (nWidth == 0)
            nWidth = 60;
        CRukString fields;
        for (int i = 0; i < nFiles; i++) {
            CRukString field;
            field.Format("<input type=file name=file%d size=%d /><br />\n", i, nWidth);
            fields += field;
        }
        fileBlock.Replace("%INPUT_FILE%%", "%", fields.GetText(), false);
        text.Replace("<!--INPUT_FILE-->", "<!--/INPUT_FILE-->", fileBlock.GetText(), true);
    } else {
        text.Replace("<!--INPUT_FILE-->", "<!--/INPUT_FILE-->", "", true);
    }
    return text;
}

// ---------------------------------------------------------------------------
// Icon list

void CRukBBSFormMain::ViewIcoForm(CRukForm&)
{
    CRukString page = GetTemplate((m_strSkinDir + "templ_ico.html").GetText());
    CRukString cell = page.GetToken("<!--TD_ICON-->", "<!--/TD_ICON-->");
    int nMax = atoi(m_cfSystem.Value("icon_max").GetText());
    CRukString rows, cells;
    int nCells = 0;
    for (int i = 1; nMax >= 1 && i <= nMax + 1; i++) {
        int nIcon = i <= nMax ? i : 0;
        CRukString number = Decimal(nIcon);
        CRukString url = m_cfBBS.Value(("ico_url" + number).GetText());
        CRukString image = url.IsEmpty() ? CRukString(s_pFiller)
                                         : CRukString("<img src=\"") + url + "\" align=middle>";
        CRukString name = m_cfBBS.Value(("ico_name" + number).GetText()) + s_pFiller;
        CRukString c = cell;
        c.Replace("%NAME%", name.GetText(), false);
        c.Replace("%IMAGE%", image.GetText(), false);
        cells += c;
        nCells++;
        if (nIcon != 0 && nIcon % 5 == 0) {
            rows += CRukString("<tr>") + cells + "</tr>";
            cells.Free();
            nCells = 0;
        } else if (nIcon == 0) {
            if (nCells < 5) {
                CRukString span;
                span.Format("<td colspan=%d>%s</td>", 5 - nCells, s_pFiller);
                cells += span;
            }
            rows += CRukString("<tr>") + cells + "</tr>";
        }
    }
    page.Replace("<!--TR_ICON-->", "<!--/TR_ICON-->", rows.GetText(), false);
    m_html.WriteHttpHeader("text/html", "");
    m_html.WriteString(page.GetText());
}

// ---------------------------------------------------------------------------
// Search results

static const char* const s_pEllipsis = "\x81\x63";  // …

// Visitor text for a search page: HTML-escaped, and with "%" written as a
// character reference so that no later tag replacement finds a tag inside
// it (a title "%NAME%" must show as typed, not take the author's name).
static CRukString EscapeFound(const char* pText)
{
    CRukString text = CRukBBSFormBase::EscapeHtml(pText);
    text.Replace("%", "&#37;", true);
    return text;
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
    if (!word.IsEmpty()) {
        words.SetToken(word.GetText(), " ");
        nCount = m_bbsFile.FindRead(m_strDataDir.GetText(), results, words, true);
        if (nCount == -2)
            MessageKey("msg90");
    }
    m_nStyle = atoi(form.Value("style").GetText());
    m_nPage = atoi(form.Value("page").GetText());
    CRukString ppid = form.Value("ppid");

    CRukString page = GetTemplate((m_strSkinDir + "templ_bbs.html").GetText());
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
    FillHeaderFooter(*this, page);
    CRukString inputForm;
    PutRealizeBlock(page, inputForm, navigation, dataTable, dataTitle);
    m_html.WriteHttpHeader("text/html", "");
    m_html.WriteString(page.GetText());
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

// ---------------------------------------------------------------------------
// Posting

// The extensions an attachment may not have: programs and pages a web
// server would run or a browser would render as the site's own.
static const char* const s_rgForbiddenExt[] = {
    ".cgi", ".pl", ".pm", ".php", ".php3", ".php4", ".php5", ".phtml", ".py", ".rb", ".sh",
    ".shtml", ".asp", ".aspx", ".jsp", ".htm", ".html", ".xhtml", ".svg", ".js",
};

// An attachment name: letters, digits, ".", "_" and "-", not starting with
// ".", not naming a script or a page.
static bool IsAllowedAttachName(const CRukString& name)
{
    const char* p = name.GetText();
    if (!*p || *p == '.')
        return false;
    for (; *p; p++)
        if (!(isalnum(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) &&
            *p != '.' && *p != '_' && *p != '-')
            return false;
    for (const char* pExt : s_rgForbiddenExt) {
        int n = static_cast<int>(strlen(pExt));
        if (name.GetLength() >= n && strcasecmp(name.GetText() + name.GetLength() - n, pExt) == 0)
            return false;
    }
    return true;
}

// An address looks valid when it has an "@" after its first byte and a
// "." somewhere after that "@".
static bool LooksLikeMail(const CRukString& mail)
{
    int nAt = mail.Find("@");
    return nAt >= 1 && mail.Find(".", nAt) > nAt;
}

// A visitor's address must also be one address: with a comma (or any
// other list or comment syntax) a visitor could have reply notices and
// the sender line name people who never posted.
static bool IsOneVisitorAddress(const CRukString& mail)
{
    const char* p = mail.GetText();
    const char* pAt = strchr(p, '@');
    return LooksLikeMail(mail) && !strchr(pAt + 1, '@') && !strpbrk(p, ",;:<>()\"\\[] \t\r\n");
}

CRukString CRukBBSFormMain::CreateNewID(long* pWhen)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    if (pWhen)
        *pWhen = static_cast<long>(tv.tv_sec);
    CRukString id;
    id.Format("%ld%03d", static_cast<long>(tv.tv_sec), static_cast<int>(tv.tv_usec / 1000));
    return id;
}

void CRukBBSFormMain::Write(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Write START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    CRukBBSData rec;
    long when = 0;
    CRukString key = CreateNewID(&when);
    rec.id = form.Value("id");
    bool bNew = rec.id.IsEmpty();
    if (bNew)
        rec.id = key;
    rec.pid = form.Value("pid");
    rec.ppid = form.Value("ppid");
    time_t t = static_cast<time_t>(when);
    struct tm tmPost;
    localtime_r(&t, &tmPost);
    tmPost.tm_hour += atoi(m_cfBBS.Value("timelag_hh").GetText());
    tmPost.tm_min += atoi(m_cfBBS.Value("timelag_mm").GetText());
    mktime(&tmPost);
    rec.date.Format("%04d/%02d/%02d %02d:%02d:%02d", tmPost.tm_year + 1900, tmPost.tm_mon + 1,
                    tmPost.tm_mday, tmPost.tm_hour, tmPost.tm_min, tmPost.tm_sec);
    rec.name = form.Value("name");
    rec.mail = form.Value("mail");
    rec.home = form.Value("home");
    if (rec.home == "http://")
        rec.home.Free();
    rec.title = form.Value("title");
    rec.mess = form.Value("mess");
    CRukString passwd = form.Value("passwd");
    rec.passwd = CRukCrypt::CryptEx(passwd.GetText(), CRukCrypt::MakeSalt().GetText());

    if (rec.name.IsEmpty())
        MessageKey("msg20");
    if (rec.title.IsEmpty())
        MessageKey("msg21");
    if (rec.mess.IsEmpty())
        MessageKey("msg22");
    if (rec.passwd.IsEmpty())
        MessageKey("msg01");
    rec.resmail = form.Value("resmail");
    rec.preform = form.Value("preform");
    rec.icon = form.Value("icon");
    CRukString boardPasswd = m_cfBBS.Value("passwd");
    bool bAdmin = CRukCrypt::IsMatchEx(passwd.GetText(), boardPasswd.GetText());
    if (rec.icon == "0" && !bAdmin)
        MessageKey("msg26");
    CRukString writePasswd = m_cfBBS.Value("write_passwd");
    if (!writePasswd.IsEmpty() && !CRukCrypt::IsMatchEx(passwd.GetText(), writePasswd.GetText()) &&
        !bAdmin)
        MessageKey("msg41");
    int nKB = form.GetUploadTotal() / 1024;
    go.m_log.Trace("Attach DataSizeTotal(%d)kb Upload Limit(%d)kb", nKB,
                   atoi(m_cfBBS.Value("attach_size").GetText()));
    if (nKB > atoi(m_cfBBS.Value("attach_size").GetText()))
        MessageKey("msg24");

    CRukBufAry files;
    const CRukString& threadKey = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    int nMax = atoi(m_cfSystem.Value("attach_max").GetText());
    for (int i = 0; i < nMax; i++) {
        CRukString field;
        field.Format("file%d", i);
        const CRukFormPair* pFile = form.Data(field.GetText());
        if (!pFile)
            continue;
        CRukString name = pFile->m_data.m_strValue;
        name.Trim();
        if (name.IsEmpty())
            continue;
        if (name.IsCode() != 0 || !IsAllowedAttachName(name))
            MessageKey("msg23");
        if (rec.attach.Add(name.GetText(), threadKey.GetText()) < 0)
            MessageKey("msg27");  // two fields of one post with the same name
        files.Add(pFile->m_data.m_data);
    }

    // An edit of a stored message needs that message's password or the
    // board's.
    if (!bNew) {
        CRukBBSData old;
        bool bHasChild = false;
        int r = m_bbsFile.FindRecord(m_strDataDir.GetText(), rec.id.GetText(), old, bHasChild, true);
        if (r == -2)
            MessageKey("msg90");
        if (r == 1) {
            const CRukBBSData* pOld = &old;
            if (!CRukCrypt::IsMatchEx(passwd.GetText(), pOld->passwd.GetText()) && !bAdmin)
                MessageKey("msg03");
            // The message stays in its thread whatever the form says, so
            // that an edit can never store a second record of the same id
            // in another thread.
            rec.pid = pOld->pid;
            rec.ppid = pOld->ppid;
            const CRukString& key = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
            for (CRukStrPair& pair : rec.attach)
                pair.m_data = key;
        }
    }

    int r = m_bbsFile.WriteInputData(m_strDataDir.GetText(), rec, files, true, bNew);
    if (r == -2)
        MessageKey("msg90");
    form.SetAt("page", "0");
    m_nPage = 0;
    if (r == -3)
        MessageKey("msg25");
    if (r == -4)
        MessageKey("msg27");
    if (r == -1)
        MessageKey("msg90");  // nothing was stored

    CRukString sender = IsOneVisitorAddress(rec.mail) ? rec.mail : "CGI@" + go.m_env.SERVER_NAME;
    CRukString owner, cc;
    if (atoi(m_cfBBS.Value("use_mail").GetText()) == 1) {
        CRukString o = m_cfBBS.Value("owner_mail"), c = m_cfBBS.Value("cc_mail");
        if (LooksLikeMail(o))
            owner = o;
        if (LooksLikeMail(c))
            cc = c;
    }
    go.m_log.Trace("ToOwner=%s Cc=%s From=%s", owner.GetText(), cc.GetText(), sender.GetText());
    if (!rec.pid.IsEmpty()) {
        const CRukBBSData* pParent = m_bbsFile.GetDataParent(&rec);
        if (!pParent)
            MessageKey("msg99");
        if (atoi(pParent->resmail.GetText()) == 1 && IsOneVisitorAddress(pParent->mail)) {
            CRukString to = pParent->mail;
            Sendmail(to.GetText(), "", "", sender.GetText(), rec);
        }
    }
    if (!owner.IsEmpty())
        Sendmail(owner.GetText(), cc.GetText(), "", sender.GetText(), rec);
    else if (!cc.IsEmpty())
        Sendmail(cc.GetText(), "", "", sender.GetText(), rec);

    if (form.Value("cookie") == "1") {
        cookie.SetAt("name", rec.name.GetText());
        cookie.SetAt("mail", rec.mail.GetText());
        cookie.SetAt("home", rec.home.GetText());
        cookie.SetAt("icon", rec.icon.GetText());
        cookie.SetAt("resmail", rec.resmail.GetText());
        cookie.SetAt("passwd", passwd.GetText());
        CRukString lines = cookie.Encode(30, nullptr, nullptr);
        m_html.WriteHttpCookie(lines.GetText(), "text/html");
    }
    go.m_log.Trace("<< CRukBBSFormMain::Write END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

// ---------------------------------------------------------------------------
// Deletion

void CRukBBSFormMain::Delete(CRukCookie&, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Delete START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    // The message and whether it has replies are looked up without loading
    // the board; the deletion itself reloads it under its own lock.
    CRukString id = form.Value("id");
    CRukBBSData target;
    bool bHasChild = false;
    if (m_bbsFile.FindRecord(m_strDataDir.GetText(), id.GetText(), target, bHasChild, true) == -2)
        MessageKey("msg90");
    CRukString passwd = form.Value("passwd");
    if (passwd.IsEmpty())
        MessageKey("msg01");
    bool bAdmin = CRukCrypt::IsMatchEx(passwd.GetText(), m_cfBBS.Value("passwd").GetText());
    if (!CRukCrypt::IsMatchEx(passwd.GetText(), target.passwd.GetText()) && !bAdmin)
        MessageKey("msg03");
    if (!target.id.IsEmpty() && bHasChild && !bAdmin)
        MessageKey("msg30");
    int r = m_bbsFile.WriteDeleteData(m_strDataDir.GetText(), id.GetText(), true);
    if (r == -2 || r == -1)
        MessageKey("msg90");
    // The records now are the board as just written: the page after the
    // deletion is built from them rather than from a third read.
    m_bLoaded = true;
    go.m_log.Trace("<< CRukBBSFormMain::Delete END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

// ---------------------------------------------------------------------------
// Mail notification

// The rule line of a notice: 35 box-drawing characters and a line feed.
static CRukString RuleLine()
{
    CRukString rule;
    for (int i = 0; i < 35; i++)
        rule += "\x84\x9f";  // ─
    rule += "\n";
    return rule;
}

void CRukBBSFormMain::Sendmail(const char* pTo, const char* pCc, const char* pBcc,
                               const char* pFrom, const CRukBBSData& rec)
{
    go.m_log.Trace("  CRukBBSFormMain::Sendmail To(%s) CC(%s) BCC(%s) From(%s)", pTo, pCc, pBcc,
                   pFrom);
    CRukString tail = CRukString(".") + m_strBBSID + ".ruk-bbs@" + go.m_env.SERVER_NAME;
    CRukString messageId = rec.id + tail;
    CRukString references;
    if (!rec.pid.IsEmpty())
        references = rec.pid + tail;
    CRukString subject = CRukString("[") + m_cfBBS.Value("bbs_title") + "] " + rec.title;
    CRukString rule = RuleLine();

    CRukString body = "\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb5"
                      "\x82\xbd\x81\x42\n";  // 書き込みがありました。
    body += rule;
    body += CRukString("\x91\xe8\x81\x40\x96\xbc\x81\x46") + rec.title + "\n";  // 題　名：
    body += rule;
    body += CRukString("\x93\x8a\x8d\x65\x8e\xd2\x81\x46") + rec.name;  // 投稿者：
    if (!rec.mail.IsEmpty())
        body += CRukString(" <") + rec.mail + ">";
    body += "\n";
    body += CRukString(" ") + go.m_env.GetRemoteHost() + " / " + go.m_env.REMOTE_ADDR + "\n";
    body += CRukString(" ") + go.m_env.HTTP_USER_AGENT + "\n";
    body += rule;
    body += CRukString("\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57\x81\x46\n\n") + rec.mess +
            "\n";  // メッセージ：
    if (rec.attach.GetSize() > 0) {
        body += rule;
        body += "\x93\x59\x95\x74\x83\x66\x81\x5b\x83\x5e\x81\x46\n\n";  // 添付データ：
        CRukString key = rec.attach.Value(0);
        CRukString url = ServerPath2UrlPath((m_strDataDir + key).GetText(), 1);
        if (url.GetText()[0] != '/') {
            // Without a document root the path is relative; the board's
            // pages resolve it against the script's directory, and so must
            // the absolute link of the mail.
            CRukStrPath script;
            script.Split(go.m_env.SCRIPT_NAME.GetText());
            url.Insert(script.Directory("/") + "/");
        }
        CRukString dir = m_bbsFile.CreateAttachPath(m_strDataDir.GetText(), key.GetText());
        for (int i = 0; i < rec.attach.GetSize(); i++) {
            const CRukString& name = rec.attach[i].m_strTag;
            body += CRukString("http://") + go.m_env.SERVER_NAME + url + "/" + name + "(" +
                    Decimal(AttachKB(dir + "/" + name)) + "KB)\n";
        }
    }
    body += rule;
    body += CRukString("BBS\x81\x46 http://") + go.m_env.SERVER_NAME + go.m_env.SCRIPT_NAME +
            "?bid=" + m_strBBSID;  // BBS：
    CRukMail mail;
    mail.Send(pTo, pCc, pBcc, pFrom, "", "", messageId.GetText(), references.GetText(),
              subject.GetText(), body.GetText());
}
