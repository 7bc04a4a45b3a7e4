// CRukBBSFormMain: message body rendering. The normal renderer lets the
// allowed tags through with their attributes filtered, escapes every
// other angle bracket, links web addresses, marks quoted lines and breaks
// lines; the preformatted one escapes everything and keeps line feeds.
#include "rukbbsformmain.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>
#include <utility>

#include "rukglobal.h"

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

// Appends a C text.
static void AppendText(CRukString& out, const char* pText)
{
    out += pText;
}

// Decodes the character references of an attribute value ("&#106;",
// "&#x6A;", a few named ones), so that a scheme cannot hide behind them.
static std::string DecodeReferences(const std::string& value)
{
    static const struct {
        const char* pName;
        char c;
    } s_named[] = {{"colon", ':'}, {"tab", '\t'}, {"newline", '\n'}, {"amp", '&'},
                   {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    out.reserve(value.size());
    const char* p = value.c_str();
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
                out += (code > 0 && code < 0x80) ? static_cast<char>(code) : '?';
                p = q;
                continue;
            }
        }
        // Up to the next "&", the text is copied in one piece.
        size_t n = 1 + strcspn(p + 1, "&");
        out.append(p, n);
        p += n;
    }
    return out;
}

// True for a URL that may stand in an allowed tag: http, https, ftp or
// mailto, or a relative reference (no scheme at all). Case, blanks and
// control bytes are ignored, after character references are decoded.
static bool IsSafeUrl(const std::string& value)
{
    std::string url;
    url.reserve(value.size());
    for (char c : DecodeReferences(value))
        if (static_cast<unsigned char>(c) > 0x20 && c != 0x7F)
            url += c;
    size_t n = url.find_first_of(":/?#");
    if (n == std::string::npos || url[n] != ':')
        return true;  // relative: no scheme before the first ":"
    for (const char* pAllowed : {"http", "https", "ftp", "mailto"})
        if (n == strlen(pAllowed) && strncasecmp(url.c_str(), pAllowed, n) == 0)
            return true;
    return false;
}

// An attribute name: a letter, then letters, digits, "-", "_" or ":".
static bool IsAttributeName(const char* p, const char* pEnd)
{
    if (p == pEnd || !isalpha(static_cast<unsigned char>(*p)) ||
        static_cast<unsigned char>(*p) >= 0x80)
        return false;
    for (; p < pEnd; p++)
        if (!(isalnum(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) &&
            *p != '-' && *p != '_' && *p != ':')
            return false;
    return true;
}

// True when the name is one of the URL attributes, in any case.
static bool IsUrlAttribute(const char* pName, size_t nName)
{
    for (const char* pUrl : s_rgUrlAttributes)
        if (nName == strlen(pUrl) && strncasecmp(pName, pUrl, nName) == 0)
            return true;
    return false;
}

// Appends the value with every double quote written as "&quot;".
static void AppendQuotedValue(CRukString& out, const char* p, const char* pEnd)
{
    for (;;) {
        const char* q = static_cast<const char*>(memchr(p, '"', static_cast<size_t>(pEnd - p)));
        out.Append(p, static_cast<int>((q ? q : pEnd) - p));
        if (!q)
            break;
        out.Append("&quot;", 6);
        p = q + 1;
    }
}

// The first byte from p on that is no blank (pEnd when all are).
static const char* SkipBlanks(const char* p, const char* pEnd)
{
    while (p < pEnd && isspace(static_cast<unsigned char>(*p)))
        p++;
    return p;
}

// Rebuilds the attributes of an allowed tag (the text from p to pEnd,
// between its name and ">") onto out, dropping every "on..." attribute
// and every URL attribute with an unsafe value, and anything that is not
// an attribute. What stays is written as name="value".
static void FilterAttributes(const char* p, const char* pEnd, CRukString& out)
{
    while (p < pEnd) {
        const char* pStart = p;
        p = SkipBlanks(p, pEnd);
        const char* pName = p;
        while (p < pEnd && !isspace(static_cast<unsigned char>(*p)) && *p != '=' && *p != '/')
            p++;
        const char* pNameEnd = p;
        p = SkipBlanks(p, pEnd);
        const char* pValue = nullptr;
        const char* pValueEnd = nullptr;
        if (p < pEnd && *p == '=') {
            p = SkipBlanks(p + 1, pEnd);
            if (p < pEnd && (*p == '"' || *p == '\'')) {
                char q = *p++;
                pValue = p;
                while (p < pEnd && *p != q)
                    p++;
                pValueEnd = p;
                if (p < pEnd)
                    p++;
            } else {
                pValue = p;
                while (p < pEnd && !isspace(static_cast<unsigned char>(*p)))
                    p++;
                pValueEnd = p;
            }
        } else {
            p = pNameEnd;
        }
        size_t nName = static_cast<size_t>(pNameEnd - pName);
        if (nName == 0) {
            if (p < pEnd && *p == '/') {
                out.Append("/", 1);
                p++;
            } else if (p == pStart) {
                p++;  // cannot happen; keeps the scan moving
            }
            continue;
        }
        if (!IsAttributeName(pName, pNameEnd) || (nName >= 2 && strncasecmp(pName, "on", 2) == 0))
            continue;
        if (pValue && IsUrlAttribute(pName, nName) &&
            !IsSafeUrl(std::string(pValue, pValueEnd)))
            continue;
        // Written again as blank, name and a double-quoted value, so that
        // nothing typed can run into the tag name or out of the value.
        out.Append(" ", 1);
        out.Append(pName, static_cast<int>(nName));
        if (pValue) {
            out.Append("=\"", 2);
            AppendQuotedValue(out, pValue, pValueEnd);
            out.Append("\"", 1);
        }
    }
}

// Replaces each allowed tag by CAN + name ... EM, with its attributes
// filtered. Only the exact names count: "<abbr" is not an anchor. Once no
// ">" is left, no later "<" can open a tag, so the rest is copied without
// searching again (a body of many unclosed "<a" stays linear).
static void ProtectTags(CRukString& body)
{
    CRukString out;
    const char* p = body.GetText();
    out.Reserve(static_cast<int>(strlen(p)));
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
                out.Append(&CAN, 1);
                out.Append(pTag, static_cast<int>(n));
                FilterAttributes(p + 1 + n, pClose, out);
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
        out.Append(p, static_cast<int>(n));
        p += n;
    }
    body = std::move(out);
}

// Writes every "<" as "&lt;" and every ">" as "&gt;" in one pass (the same
// as replacing the one and then the other: neither entity holds the other
// bracket).
static void EscapeAngles(CRukString& body)
{
    const char* p = body.GetText();
    if (!strpbrk(p, "<>"))
        return;
    CRukString out;
    out.Reserve(static_cast<int>(strlen(p)));
    while (*p) {
        size_t n = strcspn(p, "<>");
        out.Append(p, static_cast<int>(n));
        p += n;
        if (*p) {
            out.Append(*p == '<' ? "&lt;" : "&gt;", 4);
            p++;
        }
    }
    body = std::move(out);
}

// Puts the angle brackets of the protected tags back, in one pass. Every
// CAN opens an allowed tag and its EM closes it: the markers were removed
// from the body before ProtectTags wrote them, and no later step writes,
// splits or drops one.
static void UnprotectTags(CRukString& body)
{
    const char* p = body.GetText();
    if (!strchr(p, CAN))
        return;
    const char szMarkers[] = {CAN, EM, 0};
    CRukString out;
    out.Reserve(static_cast<int>(strlen(p)));
    while (*p) {
        size_t n = strcspn(p, szMarkers);
        out.Append(p, static_cast<int>(n));
        p += n;
        if (*p) {
            out.Append(*p == CAN ? "<" : ">", 1);
            p++;
        }
    }
    body = std::move(out);
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

// True for an address whose last path part has an extension of an archive
// or a program ("lzh", "zip", "exe" anywhere in it, as typed): such a link
// opens no new window. Address bytes are ASCII, so no two-byte character
// can hide a separator.
static bool IsDownloadAddress(const char* pAddr, size_t nAddr)
{
    std::string_view addr(pAddr, nAddr);
    size_t nSep = addr.find_last_of("/\\");
    std::string_view name = nSep == std::string_view::npos ? addr : addr.substr(nSep + 1);
    size_t nDot = name.rfind('.');
    if (nDot == std::string_view::npos)
        return false;
    std::string_view ext = name.substr(nDot);
    return ext.find("lzh") != ext.npos || ext.find("zip") != ext.npos ||
           ext.find("exe") != ext.npos;
}

// Appends scheme://address, the target and the text of a link.
static void AppendAddress(CRukString& out, const char* pScheme, const char* pAddr, size_t nAddr)
{
    AppendText(out, pScheme);
    out.Append("://", 3);
    out.Append(pAddr, static_cast<int>(nAddr));
}

// Appends the link to scheme://address, showing the address.
static void AppendLink(CRukString& out, const char* pScheme, const char* pAddr, size_t nAddr)
{
    AppendText(out, "<a href=\"");
    AppendAddress(out, pScheme, pAddr, nAddr);
    AppendText(out, IsDownloadAddress(pAddr, nAddr) ? "\" >" : "\" target=_blank>");
    AppendAddress(out, pScheme, pAddr, nAddr);
    out.Append("</a>", 4);
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
    CRukString out;
    const char* p = body.GetText();
    out.Reserve(static_cast<int>(strlen(p)));
    while (*p) {
        if (*p == CAN) {  // a protected tag: copied through its EM
            const char* e = strchr(p, EM);
            const char* pEnd = e ? e + 1 : p + strlen(p);
            out.Append(p, static_cast<int>(pEnd - p));
            p = pEnd;
            continue;
        }
        if (strncmp(p, "<a ", 3) == 0) {  // a link made by an earlier pass
            const char* e = CRukString::Search(p, "</a>");
            const char* pEnd = e ? e + 4 : p + strlen(p);
            out.Append(p, static_cast<int>(pEnd - p));
            p = pEnd;
            continue;
        }
        if ((*p == '"' || *p == '\'') && strncasecmp(p + 1, prefix.GetText(), nPrefix) == 0) {
            out.Append(p, static_cast<int>(1 + nPrefix));
            p += 1 + nPrefix;
            continue;
        }
        if (strncmp(p, prefix.GetText(), nPrefix) == 0) {
            const char* a = p + nPrefix;
            const char* e = a;
            while (*e && IsAddressByte(static_cast<unsigned char>(*e)))
                e++;
            go.m_log.Trace("-- Token=[%.*s]", static_cast<int>(e - a), a);
            if (e == a)
                out.Append(p, static_cast<int>(nPrefix));
            else
                AppendLink(out, pScheme, a, static_cast<size_t>(e - a));
            p = e;
            continue;
        }
        // Up to the next byte that can start one of the cases above, the
        // text is copied in one piece.
        const char szStops[] = {CAN, '<', '"', '\'', prefix.GetText()[0], 0};
        size_t n = 1 + strcspn(p + 1, szStops);
        out.Append(p, static_cast<int>(n));
        p += n;
    }
    body = std::move(out);
}

// Wraps every line that starts with "&gt;" in a span of the quote class
// (the reply's or the thread root's), its "&gt;" written as ">", in one
// pass over the lines.
void CRukBBSFormMain::ReplaceResQuot(CRukString& body, const CRukBBSData& rec)
{
    const char* p = body.GetText();
    if (strncmp(p, "&gt;", 4) != 0 && !CRukString::Search(p, "\n&gt;"))
        return;
    const char* pOpen =
        rec.pid.IsEmpty() ? "<span class=\"prMessage\">>" : "<span class=\"crMessage\">>";
    CRukString out;
    out.Reserve(static_cast<int>(strlen(p)));
    for (;;) {
        const char* pEol = strchr(p, '\n');
        size_t n = pEol ? static_cast<size_t>(pEol - p) : strlen(p);
        if (strncmp(p, "&gt;", 4) == 0) {
            AppendText(out, pOpen);
            out.Append(p + 4, static_cast<int>(n - 4));
            out.Append("</span>", 7);
        } else {
            out.Append(p, static_cast<int>(n));
        }
        if (!pEol)
            break;
        out.Append("\n", 1);
        p = pEol + 1;
    }
    body = std::move(out);
}

void CRukBBSFormMain::ReplacePreFormat(CRukString& body, const CRukBBSData& rec)
{
    EscapeAngles(body);
    ReplaceResQuot(body, rec);
    CRukString out;
    out.Reserve(static_cast<int>(body.GetLength() + 11));
    out += "<pre>";
    out += body;
    out += "</pre>";
    body = std::move(out);
}
