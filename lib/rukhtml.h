// CRukHtml: the CGI response. The header is written at most once per
// process; the page follows through the same stream.
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
};

#endif
