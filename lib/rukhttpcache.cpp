// CRukHttpCache: If-None-Match lists and HTTP-dates (see the header).
#include "rukhttpcache.h"

#include <cstdio>
#include <cstring>

namespace {

// Optional white space: blanks and tabs.
const char* SkipSpace(const char* p)
{
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

// A byte an opaque tag may hold: a visible character other than the
// double quote, or any byte above 0x7F.
bool IsTagChar(unsigned char c)
{
    return c == 0x21 || (c >= 0x23 && c <= 0x7E) || c >= 0x80;
}

const char* const s_rgDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const s_rgMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// n decimal digits at p as a number; -1 when one is not a digit.
int Digits(const char* p, int n)
{
    int v = 0;
    for (int i = 0; i < n; i++) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// The index of the three letters at p in names, or -1.
int NameIndex(const char* p, const char* const* names, int n)
{
    for (int i = 0; i < n; i++)
        if (strncmp(p, names[i], 3) == 0)
            return i;
    return -1;
}

// Days from 1970-01-01 to a date of the Gregorian calendar.
long long DaysFromCivil(long long y, int m, int d)
{
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

CRukHttpCache::EMatch CRukHttpCache::IfNoneMatch(const char* pField, const FIsCurrent& isCurrent)
{
    if (!pField)
        return kNoMatch;
    const char* p = SkipSpace(pField);
    if (*p == '*')
        return *SkipSpace(p + 1) == '\0' ? kMatch : kNoMatch;
    bool bMatch = false;
    bool bAny = false;
    for (;;) {
        p = SkipSpace(p);
        if (*p == ',') {  // an empty element of the list
            p++;
            continue;
        }
        if (*p == '\0')
            break;
        if (p[0] == 'W' && p[1] == '/')
            p += 2;
        if (*p != '"')
            return kNoMatch;
        const char* pOpen = ++p;
        while (IsTagChar(static_cast<unsigned char>(*p)))
            p++;
        if (*p != '"')
            return kNoMatch;
        if (!bMatch && isCurrent(pOpen, static_cast<size_t>(p - pOpen)))
            bMatch = true;
        bAny = true;
        p = SkipSpace(p + 1);
        if (*p != ',' && *p != '\0')
            return kNoMatch;
    }
    return bAny && bMatch ? kMatch : kNoMatch;
}

std::string CRukHttpCache::HttpDate(time_t t)
{
    struct tm tm;
    gmtime_r(&t, &tm);
    char sz[40];
    snprintf(sz, sizeof(sz), "%s, %02d %s %04d %02d:%02d:%02d GMT", s_rgDays[tm.tm_wday],
             tm.tm_mday, s_rgMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
             tm.tm_sec);
    return sz;
}

bool CRukHttpCache::ParseHttpDate(const char* pText, time_t& t)
{
    // "Sun, 06 Nov 1994 08:49:37 GMT": 29 bytes, fixed places.
    static const char s_szShape[] = "www, dd mmm yyyy hh:mm:ss GMT";
    if (!pText || strlen(pText) != sizeof(s_szShape) - 1)
        return false;
    for (size_t i = 0; i < sizeof(s_szShape) - 1; i++) {
        char c = s_szShape[i];
        if ((c == ',' || c == ' ' || c == ':' || c == 'G' || c == 'M' || c == 'T') &&
            pText[i] != c)
            return false;
    }
    int nDay = Digits(pText + 5, 2), nYear = Digits(pText + 12, 4);
    int nHour = Digits(pText + 17, 2), nMin = Digits(pText + 20, 2), nSec = Digits(pText + 23, 2);
    int nMonth = NameIndex(pText + 8, s_rgMonths, 12);
    if (NameIndex(pText, s_rgDays, 7) < 0 || nMonth < 0 || nDay < 1 || nDay > 31 ||
        nYear < 1970 || nHour < 0 || nHour > 23 || nMin < 0 || nMin > 59 || nSec < 0 ||
        nSec > 60)
        return false;
    long long days = DaysFromCivil(nYear, nMonth + 1, nDay);
    time_t when = static_cast<time_t>(days * 86400LL + nHour * 3600LL + nMin * 60LL + nSec);
    // A date of no calendar (31 February, a wrong weekday, a leap second)
    // is written otherwise: no date the board sent.
    if (HttpDate(when) != pText)
        return false;
    t = when;
    return true;
}
