#include "rukhtml.h"

// Set once the response header has been written; never reset.
static bool bHttpHeader = false;

void CRukHtml::WriteHttpHeader(const char* pContentType, const char* pExtra)
{
    if (bHttpHeader)
        return;
    WriteFormat("Content-type: %s\n%s\n", pContentType ? pContentType : "",
                pExtra ? pExtra : "");
    bHttpHeader = true;
}

void CRukHtml::WriteHttpCookie(const char* pCookieLines, const char* pContentType)
{
    if (bHttpHeader)
        return;
    WriteFormat("Content-type: %s\n%s\n", pContentType ? pContentType : "",
                pCookieLines ? pCookieLines : "");
    bHttpHeader = true;
}

bool CRukHtml::IsHeaderWritten()
{
    return bHttpHeader;
}
