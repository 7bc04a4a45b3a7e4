// The multipart body of a request (RFC 7578 with RFC 2046): cutting it at
// its delimiter lines into parts (step 3), and the header lines of a part
// with the parameters of its Content-Disposition (step 4).
#include <cstring>
#include <string>
#include <vector>

#include "rukform_grammar.h"

namespace rukform {

namespace {

// A delimiter line: "--" boundary, then "--" (the closing delimiter) or
// transport padding (blanks) and CR LF.
struct Delimiter {
    size_t nAt;    // where it starts, with the CR LF before it
    size_t nNext;  // the first byte after it
    bool bClose;
};

// True when the text at i is "--" boundary and the rest of a delimiter
// line; fills nNext and bClose.
bool IsDelimiterLine(const char* p, size_t n, size_t i, const std::string& dash, Delimiter& d)
{
    if (n - i < dash.size() || memcmp(p + i, dash.data(), dash.size()) != 0)
        return false;
    size_t j = i + dash.size();
    if (n - j >= 2 && p[j] == '-' && p[j + 1] == '-') {
        d.nNext = j + 2;
        d.bClose = true;
        return true;
    }
    j = SkipOws(p, n, j);
    if (n - j >= 2 && p[j] == '\r' && p[j + 1] == '\n') {
        d.nNext = j + 2;
        d.bClose = false;
        return true;
    }
    return false;
}

// The next delimiter at or after nFrom: CR LF at the start of a delimiter
// line. "--" boundary anywhere else, or followed by other text, is content.
bool FindDelimiter(const char* p, size_t n, size_t nFrom, const std::string& dash, Delimiter& d)
{
    const std::string needle = "\r\n" + dash;
    while (nFrom < n) {
        const char* pHit =
            static_cast<const char*>(memmem(p + nFrom, n - nFrom, needle.data(), needle.size()));
        if (!pHit)
            return false;
        d.nAt = static_cast<size_t>(pHit - p);
        if (IsDelimiterLine(p, n, d.nAt + 2, dash, d))
            return true;
        nFrom = d.nAt + 1;
    }
    return false;
}

// Reads the Content-Disposition value. Browsers write names as HTML form
// submission does (a quote as %22, no backslash escapes), and in
// Shift_JIS a character's second byte may be a backslash; other clients
// escape with a backslash. So escapes are tried first, and a value that
// does not parse with them is read with quoted strings taken literally.
bool ReadDisposition(const char* p, size_t n, PartHeader& h)
{
    HeaderValue v;
    if (!ParseHeaderValue(p, n, true, v) && !ParseHeaderValue(p, n, false, v))
        return false;
    if (v.head != "form-data")
        return true;  // not a form field: the part is skipped
    if (const std::string* pName = v.Find("name")) {
        h.bNamed = true;
        h.name = *pName;
    }
    if (const std::string* pFile = v.Find("filename")) {
        h.bFile = true;
        h.fileName = *pFile;
    }
    return true;
}

// One header line "Name: value"; a line holding no colon, a name that is
// no token, a control byte that ends lines, or a second line of a header
// that matters breaks the part. Other headers are ignored.
bool ReadHeaderLine(const char* p, size_t n, PartHeader& h)
{
    if (memchr(p, 0, n) || memchr(p, '\r', n) || memchr(p, '\n', n))
        return false;
    const char* pColon = static_cast<const char*>(memchr(p, ':', n));
    if (!pColon)
        return false;
    size_t nName = static_cast<size_t>(pColon - p);
    size_t i = 0;
    std::string name;
    if (!ReadToken(p, nName, i, name) || i != nName)
        return false;
    size_t nValue = nName + 1;
    size_t nEnd = n;
    nValue = SkipOws(p, n, nValue);
    while (nEnd > nValue && IsOws(p[nEnd - 1]))
        nEnd--;
    if (name == "content-disposition") {
        if (h.bDisposition)
            return false;
        h.bDisposition = true;
        return ReadDisposition(p + nValue, nEnd - nValue, h);
    }
    if (name == "content-type") {
        if (h.bType)
            return false;
        h.bType = true;
        h.type.assign(p + nValue, nEnd - nValue);
    }
    return true;
}

}  // namespace

Refusal CutMultipart(const char* p, size_t n, const std::string& boundary, size_t nMax,
                     std::vector<Span>& parts)
{
    const std::string dash = "--" + boundary;
    Delimiter d;
    if (!IsDelimiterLine(p, n, 0, dash, d) && !FindDelimiter(p, n, 0, dash, d))
        return Refusal::BadMultipart;
    while (!d.bClose) {
        size_t nStart = d.nNext;
        if (!FindDelimiter(p, n, nStart, dash, d))
            return Refusal::BadMultipart;
        if (parts.size() >= nMax)
            return Refusal::TooManyFields;
        parts.push_back({p + nStart, d.nAt - nStart});
    }
    return Refusal::None;
}

bool ReadPart(const char* p, size_t n, PartHeader& h, Span& content)
{
    size_t i = 0;
    for (;;) {
        if (i == n) {
            content = {p + n, 0};
            return true;
        }
        const char* pEol = static_cast<const char*>(memmem(p + i, n - i, "\r\n", 2));
        if (!pEol)
            return false;
        size_t nEol = static_cast<size_t>(pEol - p);
        if (nEol == i) {
            content = {p + i + 2, n - i - 2};
            return true;
        }
        if (!ReadHeaderLine(p + i, nEol - i, h))
            return false;
        i = nEol + 2;
    }
}

}  // namespace rukform
