// CRukHtml: the CGI response. The header is written at most once per
// process; the page follows through the same stream.
//
// Every header carries the lines that keep a browser from guessing types
// and from sending the page's address to other sites. A private page (the
// administration pages, a form holding a remembered password) also may
// not be framed by another site nor kept by any cache.
#ifndef RUKHTML_H
#define RUKHTML_H

#include "rukfile.h"

class CRukHtml : public CRukFile {
public:
    CRukHtml() = default;
    ~CRukHtml() override = default;

    void WriteHttpHeader(const char* pContentType, const char* pExtra);
    void WriteHttpCookie(const char* pCookieLines, const char* pContentType);

    // True once a header has been written in this process.
    static bool IsHeaderWritten();
    // Marks the response private (see above); effective until the header
    // is written.
    static void SetPrivate();
    static bool IsPrivate();
};

#endif
