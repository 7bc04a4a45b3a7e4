#include "rukhtml.h"

#include <string>

// Set once the response header has been written; never reset.
static bool bHttpHeader = false;
// Set when the page must not be framed or cached.
static bool bPrivate = false;
// Set when no cache may keep the response.
static bool bNoStore = false;
// The cache lines of a page caches may keep, and the status lines.
static std::string s_cacheLines;
static std::string s_statusLines;

// Lines every response carries.
static const char s_szCommon[] =
    "X-Content-Type-Options: nosniff\n"
    "Referrer-Policy: same-origin\n";
// Lines a private response carries as well.
static const char s_szPrivate[] =
    "X-Frame-Options: DENY\n"
    "Cache-Control: no-store\n";
static const char s_szNoStore[] = "Cache-Control: no-store\n";

// The lines of the response about caching.
static std::string CacheLines()
{
    if (bPrivate)
        return s_szPrivate;
    if (bNoStore)
        return s_szNoStore;
    return s_cacheLines;
}

static void WriteHead(CRukHtml& out, const std::string& head)
{
    bHttpHeader = true;
    (void)out.WriteBuffer(head.data(), static_cast<int>(head.size()));
}

// Writes the header once: the status, the content type, the security and
// cache lines and the caller's own lines, then the empty line that ends it.
static void WriteHeader(CRukHtml& out, const char* pContentType, const char* pLines)
{
    if (bHttpHeader)
        return;
    std::string head = s_statusLines + "Content-type: ";
    head += pContentType ? pContentType : "";
    head += "\n";
    head += s_szCommon;
    head += CacheLines();
    head += pLines ? pLines : "";
    head += "\n";
    WriteHead(out, head);
}

void CRukHtml::WriteHttpHeader(const char* pContentType, const char* pExtra)
{
    WriteHeader(*this, pContentType, pExtra);
}

void CRukHtml::WriteHttpCookie(const char* pCookieLines, const char* pContentType)
{
    SetNoStore();
    WriteHeader(*this, pContentType, pCookieLines);
}

void CRukHtml::WriteNotModified(const char* pCacheLines)
{
    if (bHttpHeader)
        return;
    std::string head = "Status: 304 Not Modified\n";
    head += s_szCommon;
    head += pCacheLines ? pCacheLines : "";
    head += "\n";
    WriteHead(*this, head);
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

void CRukHtml::SetNoStore()
{
    bNoStore = true;
}

bool CRukHtml::IsNoStore()
{
    return bNoStore || bPrivate;
}

void CRukHtml::SetCacheLines(const char* pLines)
{
    s_cacheLines = pLines ? pLines : "";
}

void CRukHtml::SetStatus(const char* pStatus, long nRetryAfter)
{
    s_statusLines = std::string("Status: ") + pStatus + "\n";
    if (nRetryAfter > 0)
        s_statusLines += "Retry-After: " + std::to_string(nRetryAfter) + "\n";
}
