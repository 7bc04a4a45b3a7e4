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
    // One "Set-Cookie: ..." line per pair, each ended by a line feed. Every
    // cookie is HttpOnly (no script of a page may read it), carries the
    // SameSite policy given ("Lax": sent when a visitor follows a link
    // from elsewhere, never with another site's form or image; "Strict":
    // never from elsewhere), and is Secure when the request came over
    // HTTPS.
    CRukString Encode(int nDays, const char* pDomain, const char* pPath,
                      const char* pSameSite = "Lax") const;
    // True when the request came over HTTPS (HTTPS=on, or REQUEST_SCHEME
    // https), as the web server tells.
    static bool IsHttps();
};

#endif
