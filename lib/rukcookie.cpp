#include "rukcookie.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <ctime>
#include <string>
#include <unordered_set>

#include "rukglobal.h"

namespace {

// English names for the expiry date, independent of the locale.
const char* const s_days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const s_months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// True for a path or domain that can go into a header line: no control
// bytes and no ";" that would start another attribute.
bool IsSafeAttribute(const char* p)
{
    for (; *p; p++)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == ';' || *p == 0x7F)
            return false;
    return true;
}

}  // namespace

CRukCookie::CRukCookie() : CRukStrMap(0, 10) {}

// Splits the header at "; " and adds each percent-decoded name=value pair
// whose name is not yet present; pieces without "=" are ignored.
int CRukCookie::Decode(const char* pText)
{
    RemoveAll();
    CRukStrAry pieces;
    pieces.SetToken(pText, "; ");
    std::unordered_set<std::string> names;
    for (const CRukString& piece : pieces) {
        int nEq = piece.Find("=");
        if (nEq < 0)
            continue;
        CRukString name = piece.Left(nEq).PerHexToChar();
        if (!names.insert(name.GetText()).second)
            continue;
        CRukStrPair pair;
        pair.m_strTag = std::move(name);
        pair.m_data = piece.Mid(nEq + 1).PerHexToChar();
        CRukAry<CRukStrPair>::Add(std::move(pair));
    }
    return GetSize();
}

bool CRukCookie::IsHttps()
{
    return strcasecmp(go.m_env.HTTPS.GetText(), "on") == 0 ||
           strcasecmp(go.m_env.REQUEST_SCHEME.GetText(), "https") == 0;
}

// One "Set-Cookie:" line per pair, name and value percent-encoded, with an
// expiry nDays ahead (GMT) when nDays > 0, then path and domain when given.
CRukString CRukCookie::Encode(int nDays, const char* pDomain, const char* pPath,
                              const char* pSameSite) const
{
    std::string tail;
    if (nDays > 0) {
        time_t t = time(nullptr) + static_cast<time_t>(nDays) * 86400;
        struct tm tmGmt;
        if (gmtime_r(&t, &tmGmt)) {
            char sz[64];
            snprintf(sz, sizeof(sz), "; expires=%s, %02d-%s-%04d %02d:%02d:%02d GMT",
                     s_days[tmGmt.tm_wday % 7], tmGmt.tm_mday, s_months[tmGmt.tm_mon % 12],
                     tmGmt.tm_year + 1900, tmGmt.tm_hour, tmGmt.tm_min, tmGmt.tm_sec);
            tail += sz;
        }
    }
    if (pPath && *pPath && IsSafeAttribute(pPath)) {
        tail += "; path=";
        tail += pPath;
    }
    if (pDomain && *pDomain && IsSafeAttribute(pDomain)) {
        tail += "; domain=";
        tail += pDomain;
    }
    tail += "; HttpOnly; SameSite=";
    tail += pSameSite && strcmp(pSameSite, "Strict") == 0 ? "Strict" : "Lax";
    if (IsHttps())
        tail += "; Secure";
    std::string out;
    for (const CRukStrPair& pair : *this) {
        out += "Set-Cookie: ";
        out += pair.m_strTag.CharToPerHex().GetText();
        out += '=';
        out += pair.m_data.CharToPerHex().GetText();
        out += tail;
        out += '\n';
    }
    return CRukString(out.c_str());
}
