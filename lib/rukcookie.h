// CRukCookie: the visitor's remembered values, decoded from HTTP_COOKIE and
// encoded into Set-Cookie header lines.
#ifndef RUKCOOKIE_H
#define RUKCOOKIE_H

#include "rukstrmap.h"

class CRukCookie : public CRukStrMap {
public:
    CRukCookie();
    ~CRukCookie() override = default;

    // Splits the header at "; " into percent-decoded pairs; returns the
    // number of pairs.
    int Decode(const char* pText);
    // One "Set-Cookie: ..." line per pair, each ended by a line feed.
    CRukString Encode(int nDays, const char* pDomain, const char* pPath) const;
};

#endif
