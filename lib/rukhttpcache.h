// CRukHttpCache: the grammar of HTTP's conditional requests (RFC 9110,
// section 13) that a CGI program answers itself: the list of entity tags
// of If-None-Match, and the HTTP-date of Last-Modified and
// If-Modified-Since.
//
// Every function reads hostile text: each byte is looked at a bounded
// number of times, nothing is kept but what the caller asks for, and text
// that is not of the grammar matches nothing.
#ifndef RUKHTTPCACHE_H
#define RUKHTTPCACHE_H

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>

class CRukHttpCache {
public:
    // Told the opaque part of one entity tag (between its quotes, without
    // a weak prefix "W/"); true when that tag names the current page.
    typedef std::function<bool(const char* p, size_t n)> FIsCurrent;

    // The answer If-None-Match gives for a page: kMatch when the field is
    // "*" or one of its tags is current by the weak comparison (the "W/"
    // of either side does not count); kNoMatch when none is, or when the
    // field is no list of entity tags at all (then it is ignored, as if
    // it were absent).
    enum EMatch { kNoMatch, kMatch };
    static EMatch IfNoneMatch(const char* pField, const FIsCurrent& isCurrent);

    // The IMF-fixdate of t ("Sun, 06 Nov 1994 08:49:37 GMT").
    static std::string HttpDate(time_t t);
    // t from an IMF-fixdate as HttpDate writes it; false for anything else
    // (the obsolete forms, a day the month lacks or a wrong weekday
    // included: a date the board cannot read is a date it did not send).
    static bool ParseHttpDate(const char* pText, time_t& t);
};

#endif
