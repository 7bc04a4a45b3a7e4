// CRukHtml: the CGI response. The header is written at most once per
// process; the page follows through the same stream.
//
// Every header carries the lines that keep a browser from guessing types
// and from sending the page's address to other sites. A private page (the
// administration pages, a form holding a remembered password) also may
// not be framed by another site nor kept by any cache.
//
// What a cache may do with the rest: an answer marked no-store (a POST's,
// a redirect's, a message page's, one that sets a cookie) is kept by none;
// a page given cache lines (its validators and Cache-Control) carries
// them; any other answer carries no Cache-Control line. A status other
// than 200 goes first, as the CGI "Status" line.
#ifndef RUKHTML_H
#define RUKHTML_H

#include "rukfile.h"

class CRukHtml : public CRukFile {
public:
    CRukHtml() = default;
    ~CRukHtml() override = default;

    void WriteHttpHeader(const char* pContentType, const char* pExtra);
    // The header with Set-Cookie lines: never kept by a cache.
    void WriteHttpCookie(const char* pCookieLines, const char* pContentType);
    // "304 Not Modified" with the cache lines given (the validator and
    // Cache-Control of the page not sent again) and no body.
    void WriteNotModified(const char* pCacheLines);

    // True once a header has been written in this process.
    static bool IsHeaderWritten();
    // Marks the response private (see above); effective until the header
    // is written.
    static void SetPrivate();
    static bool IsPrivate();
    // Marks the response as kept by no cache ("Cache-Control: no-store").
    static void SetNoStore();
    static bool IsNoStore();
    // The validator and Cache-Control lines of a page that caches may
    // keep; left out when the response is private or no-store.
    static void SetCacheLines(const char* pLines);
    // The status line ("404 Not Found") and, when nSeconds > 0, the
    // Retry-After line of the response.
    static void SetStatus(const char* pStatus, long nRetryAfter = 0);
};

#endif
