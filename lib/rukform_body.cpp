// The request decoder, steps 1 to 3 (see rukform.h): the body read whole,
// its syntax picked by CONTENT_TYPE, and the body and the query string cut
// into fields without copying them, counted against the limit as they go.
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "rukform_grammar.h"

namespace rukform {

namespace {

// CONTENT_LENGTH as a number: -1 when it is not a plain decimal number,
// else its value, capped just above the largest body accepted.
long ParseContentLength(const char* pText)
{
    if (!*pText)
        return -1;
    long n = 0;
    for (const char* p = pText; *p; p++) {
        if (*p < '0' || *p > '9')
            return -1;
        if (n <= CRukForm::s_nMaxBody)
            n = n * 10 + (*p - '0');
    }
    return n;
}

// Reads up to n bytes from the file descriptor; returns how many came
// before the end of input or an error.
size_t ReadFully(int fd, char* pData, size_t n)
{
    size_t nGot = 0;
    while (nGot < n) {
        ssize_t r = read(fd, pData + nGot, n - nGot);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        nGot += static_cast<size_t>(r);
    }
    return nGot;
}

}  // namespace

Refusal ReadBody(const CRukEnv& env, CRukBuffer& body)
{
    if (strcasecmp(env.REQUEST_METHOD.GetText(), "POST") != 0 || env.CONTENT_LENGTH.IsEmpty())
        return Refusal::None;
    long nLength = ParseContentLength(env.CONTENT_LENGTH.GetText());
    if (nLength < 0)
        return Refusal::BadLength;
    if (nLength > CRukForm::s_nMaxBody)
        return Refusal::TooLarge;
    if (nLength == 0)
        return Refusal::None;
    body.Alloc(static_cast<unsigned>(nLength));
    size_t nWant = static_cast<size_t>(nLength);
    if (ReadFully(STDIN_FILENO, body.GetData(), nWant) < nWant) {
        body.Free();
        return Refusal::Truncated;
    }
    return Refusal::None;
}

namespace {

enum class Syntax { Plain, UrlEncoded, Multipart };

// The syntax named by CONTENT_TYPE and, for multipart, its boundary.
// Text that is no media type at all reads as plain text, as before.
Refusal PickSyntax(const char* pContentType, Syntax& syntax, std::string& boundary)
{
    HeaderValue type;
    bool bParsed = ParseHeaderValue(pContentType, strlen(pContentType), true, type);
    syntax = Syntax::Plain;
    if (type.head == "application/x-www-form-urlencoded")
        syntax = Syntax::UrlEncoded;
    if (type.head != "multipart/form-data")
        return Refusal::None;
    syntax = Syntax::Multipart;
    const std::string* pBoundary = type.Find("boundary");
    if (!bParsed || !pBoundary || !IsValidBoundary(*pBoundary))
        return Refusal::BadBoundary;
    boundary = *pBoundary;
    return Refusal::None;
}

// Adds the non-empty pieces of text separated by "&"; false when that
// would make more than nMax in out.
bool CutPieces(const char* p, size_t n, size_t nMax, size_t nHave, std::vector<Span>& out)
{
    for (size_t i = 0; i < n;) {
        const char* pAmp = static_cast<const char*>(memchr(p + i, '&', n - i));
        size_t nEnd = pAmp ? static_cast<size_t>(pAmp - p) : n;
        if (nEnd > i) {
            if (nHave + out.size() >= nMax)
                return false;
            out.push_back({p + i, nEnd - i});
        }
        i = nEnd + 1;
    }
    return true;
}

}  // namespace

Refusal CutRequest(const char* pContentType, const CRukBuffer& body, const char* pQuery,
                   RequestPieces& out)
{
    const size_t nMax = CRukForm::s_nMaxFields;
    if (!body.IsEmpty()) {
        Syntax syntax;
        std::string boundary;
        Refusal r = PickSyntax(pContentType, syntax, boundary);
        if (r != Refusal::None)
            return r;
        if (syntax == Syntax::Multipart) {
            r = CutMultipart(body.GetData(), body.GetSize(), boundary, nMax, out.parts);
            if (r != Refusal::None)
                return r;
        } else {
            // As text the body ends at its first NUL byte.
            const char* pText = body.GetData();
            out.bDecodeBody = syntax == Syntax::UrlEncoded;
            if (!CutPieces(pText, strnlen(pText, body.GetSize()), nMax, 0, out.bodyPieces))
                return Refusal::TooManyFields;
        }
    }
    size_t nHave = out.parts.size() + out.bodyPieces.size();
    if (!CutPieces(pQuery, strlen(pQuery), nMax, nHave, out.queryPieces))
        return Refusal::TooManyFields;
    return Refusal::None;
}

}  // namespace rukform
