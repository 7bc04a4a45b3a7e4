// CRukBBSFormBase: the deny list. A board may name a file of words that
// refuse visitors: addresses and address prefixes (IPv4 or IPv6), host
// suffixes, "!" + the one host suffix allowed, and the keywords "proxy"
// and "no-host".
#include "rukbbsformbase.h"

#include <arpa/inet.h>
#include <cstring>
#include <strings.h>

#include "rukbuffer.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"

// True when pText ends with pSuffix, ignoring case.
static bool EndsWithNoCase(const CRukString& text, const char* pSuffix)
{
    int nText = text.GetLength();
    int nSuffix = static_cast<int>(strlen(pSuffix));
    return nSuffix <= nText && strcasecmp(text.GetText() + nText - nSuffix, pSuffix) == 0;
}

// An address prefix of a deny list: digits and dots (IPv4, "192.168."),
// or hex digits and colons with at least one colon (IPv6, "2001:db8:"),
// compared with the start of the client's address as written.
static bool IsAddressPrefix(const CRukString& entry)
{
    size_t n = static_cast<size_t>(entry.GetLength());
    const char* p = entry.GetText();
    if (strspn(p, "0123456789.") == n)
        return true;
    return strchr(p, ':') && strspn(p, "0123456789abcdefABCDEF:.") == n;
}

// True when a deny-list address entry names the client's address: a whole
// address (an IPv4 one, or an IPv6 one not ending in ":") names that one
// address however it is written; any other entry is a prefix of the
// address as written.
static bool MatchesAddress(const CRukString& entry, const CRukString& addr)
{
    const char* p = entry.GetText();
    int nLast = entry.GetLength() - 1;
    unsigned char want[16], have[16];
    for (int nFamily : {AF_INET, AF_INET6}) {
        if (nFamily == AF_INET6 && (nLast < 0 || p[nLast] == ':'))
            break;
        if (inet_pton(nFamily, p, want) == 1) {
            size_t n = nFamily == AF_INET ? 4 : 16;
            return inet_pton(nFamily, addr.GetText(), have) == 1 && memcmp(want, have, n) == 0;
        }
    }
    return entry.GetLength() <= addr.GetLength() &&
           strncasecmp(addr.GetText(), p, entry.GetLength()) == 0;
}

// Checks the visitor's address and host name against the words of a deny
// list: addresses and address prefixes (IPv4 or IPv6), host suffixes, "!"
// + an allowed host suffix, and the keywords "proxy" and "no-host". Host
// names count only when they are confirmed (they resolve back to the
// address).
int CRukBBSFormBase::AccessDenyCheck(const char* pPath)
{
    if (!pPath || !*pPath || CRukFile::GetFileSize(pPath) <= 0)
        return 0;
    CRukFile file;
    CRukBuffer data;
    if (file.ReadFile(pPath, data, false) <= 0)
        return 0;
    CRukStrAry entries;
    entries.SetTokenOneOf(data.GetData(), " \t\r\n");
    const CRukString& addr = go.m_env.REMOTE_ADDR;
    CRukString host;
    bool bHostKnown = false;
    auto getHost = [&]() -> const CRukString& {
        if (!bHostKnown) {
            host = go.m_env.GetRemoteHost();
            bHostKnown = true;
        }
        return host;
    };
    for (int i = 0; i < entries.GetSize(); i++) {
        const CRukString& entry = entries[i];
        if (entry.IsEmpty())
            continue;
        if (IsAddressPrefix(entry)) {
            if (MatchesAddress(entry, addr))
                return 1;
            continue;
        }
        if (entry.Compare("proxy", 1) == 0) {
            if (!go.m_env.HTTP_VIA.IsEmpty() || getHost().Find("proxy") >= 0)
                return 2;
            continue;
        }
        if (entry.Compare("no-host", 1) == 0) {
            if (getHost().IsEmpty())
                return 3;
            continue;
        }
        const CRukString& h = getHost();
        if (h.IsEmpty() || entry.GetLength() > h.GetLength())
            continue;
        if (entry.GetText()[0] == '!') {
            if (!EndsWithNoCase(h, entry.GetText() + 1))
                return 1;
        } else if (EndsWithNoCase(h, entry.GetText())) {
            return 1;
        }
    }
    return 0;
}
