// Header values as the request decoder reads them (RFC 9110): a head (a
// token, or a media type) and parameters by name, quoted or not; and the
// boundary of a multipart body (RFC 2046).
#include <cstring>
#include <string>
#include <utility>

#include "rukform_grammar.h"

namespace rukform {

namespace {

// Longest boundary parameter (RFC 2046).
const size_t s_nMaxBoundary = 70;
// Most parameters one header value may have; real ones have two or three,
// and the bound keeps the test for repeated names cheap.
const size_t s_nMaxParams = 16;

}  // namespace

bool IsOws(char c)
{
    return c == ' ' || c == '\t';
}

size_t SkipOws(const char* p, size_t n, size_t i)
{
    while (i < n && IsOws(p[i]))
        i++;
    return i;
}

// A token character (RFC 9110 tchar).
bool IsTokenChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c && strchr("!#$%&'*+-.^_`|~", c));
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool ReadToken(const char* p, size_t n, size_t& i, std::string& out)
{
    size_t nStart = i;
    while (i < n && IsTokenChar(static_cast<unsigned char>(p[i])))
        i++;
    out = Lower(std::string(p + nStart, i - nStart));
    return i > nStart;
}

// Reads a quoted string whose opening quote is at i. With bEscapes a
// backslash before a quote or a backslash stands for that character (any
// other backslash is itself, as in the Windows paths some browsers send);
// without, the string simply ends at the next quote. False when it never
// ends.
bool ReadQuoted(const char* p, size_t n, size_t& i, bool bEscapes, std::string& out)
{
    for (i++; i < n; i++) {
        if (p[i] == '"') {
            i++;
            return true;
        }
        if (bEscapes && p[i] == '\\' && i + 1 < n && (p[i + 1] == '"' || p[i + 1] == '\\'))
            i++;
        out += p[i];
    }
    return false;
}

// Reads a parameter value: a quoted string, or a run of visible bytes up
// to ";" (more lenient than a token, so that unquoted boundaries holding
// "/", ":" or "=" still read).
bool ReadValue(const char* p, size_t n, size_t& i, bool bEscapes, std::string& out)
{
    out.clear();
    if (i < n && p[i] == '"')
        return ReadQuoted(p, n, i, bEscapes, out);
    size_t nStart = i;
    while (i < n && static_cast<unsigned char>(p[i]) > ' ' && p[i] != ';' && p[i] != '"' &&
           p[i] != 0x7F)
        i++;
    out.assign(p + nStart, i - nStart);
    return i > nStart;
}

// See rukform_grammar.h; at most s_nMaxParams parameters.
bool ParseHeaderValue(const char* p, size_t n, bool bEscapes, HeaderValue& out)
{
    out = HeaderValue();
    size_t i = SkipOws(p, n, 0);
    if (!ReadToken(p, n, i, out.head))
        return false;
    if (i < n && p[i] == '/') {
        std::string sub;
        i++;
        if (!ReadToken(p, n, i, sub))
            return false;
        out.head += "/" + sub;
    }
    for (i = SkipOws(p, n, i); i < n; i = SkipOws(p, n, i)) {
        if (p[i] != ';')
            return false;
        i = SkipOws(p, n, i + 1);
        if (i == n || p[i] == ';')
            continue;  // an empty parameter
        std::string name, value;
        if (!ReadToken(p, n, i, name))
            return false;
        i = SkipOws(p, n, i);
        if (i == n || p[i] != '=')
            return false;
        i = SkipOws(p, n, i + 1);
        if (!ReadValue(p, n, i, bEscapes, value) || out.Find(name.c_str()) ||
            out.params.size() >= s_nMaxParams)
            return false;
        out.params.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

bool IsValidBoundary(const std::string& b)
{
    if (b.empty() || b.size() > s_nMaxBoundary || b.back() == ' ')
        return false;
    for (unsigned char c : b)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              (c && strchr("'()+_,-./:=? ", c))))
            return false;
    return true;
}

}  // namespace rukform
