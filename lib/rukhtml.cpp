#include "rukhtml.h"

#include <string>

// Set once the response header has been written; never reset.
static bool bHttpHeader = false;
// Set when the page must not be framed or cached.
static bool bPrivate = false;

// Lines every response carries.
static const char s_szCommon[] =
    "X-Content-Type-Options: nosniff\n"
    "Referrer-Policy: same-origin\n";
// Lines a private response carries as well.
static const char s_szPrivate[] =
    "X-Frame-Options: DENY\n"
    "Cache-Control: no-store\n";

// Writes the header once: the content type, the security lines and the
// caller's own lines, then the empty line that ends it.
static void WriteHeader(CRukHtml& out, const char* pContentType, const char* pLines)
{
    if (bHttpHeader)
        return;
    std::string head = "Content-type: ";
    head += pContentType ? pContentType : "";
    head += "\n";
    head += s_szCommon;
    if (bPrivate)
        head += s_szPrivate;
    head += pLines ? pLines : "";
    head += "\n";
    bHttpHeader = true;
    (void)out.WriteBuffer(head.data(), static_cast<int>(head.size()));
}

void CRukHtml::WriteHttpHeader(const char* pContentType, const char* pExtra)
{
    WriteHeader(*this, pContentType, pExtra);
}

void CRukHtml::WriteHttpCookie(const char* pCookieLines, const char* pContentType)
{
    WriteHeader(*this, pContentType, pCookieLines);
}

bool CRukHtml::IsHeaderWritten()
{
    return bHttpHeader;
}

void CRukHtml::SetPrivate()
{
    bPrivate = true;
}

bool CRukHtml::IsPrivate()
{
    return bPrivate;
}
