// CRukBBSFormConf: the addresses the administration accepts. A typed
// address is taken only in a form that cannot break out of where it goes:
// a URL into an attribute, the site's own address for redirects and
// mail, one sender address for a mail header, and an address or host
// name for a deny list.
#include "rukbbsformconf.h"

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

#include "rukbbsformconf_shared.h"

bool IsSafeUrlText(const CRukString& url)
{
    for (const char* p = url.GetText(); *p; p++)
        if (static_cast<unsigned char>(*p) <= 0x20 || static_cast<unsigned char>(*p) >= 0x7F ||
            strchr("\"'<>\\`", *p))
            return false;
    return true;
}

// True for one mail address: one "@" with text on both sides, printable
// ASCII only, none of the blanks and list, comment or quoting characters
// that would let it name more than one address or start another header.
bool CRukBBSFormConf::IsOneAddress(const char* pText)
{
    const char* p = pText ? pText : "";
    size_t n = strlen(p);
    const char* pAt = strchr(p, '@');
    if (n == 0 || n > 254 || !pAt || pAt == p || !pAt[1] || strchr(pAt + 1, '@'))
        return false;
    for (const char* q = p; *q; q++)
        if (static_cast<unsigned char>(*q) <= 0x20 || static_cast<unsigned char>(*q) >= 0x7F ||
            strchr(",;:<>()\"\\[]", *q))
            return false;
    return pAt[strlen(pAt) - 1] != '.' && pAt[1] != '.';
}

// The characters a URL's host may hold (a name or an IPv4 address; an IPv6
// address goes between brackets).
static bool IsHostText(const CRukString& host)
{
    const char* p = host.GetText();
    if (!*p)
        return false;
    if (*p == '[')
        return host.GetLength() > 2 && p[host.GetLength() - 1] == ']' &&
               strspn(p + 1, "0123456789abcdefABCDEF:.") == static_cast<size_t>(host.GetLength() - 2);
    return strspn(p, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
               static_cast<size_t>(host.GetLength()) &&
           *p != '.' && *p != '-';
}

CRukString CRukBBSFormConf::SiteUrl(const char* pText)
{
    CRukString url(pText);
    url.Trim();
    const char* p = url.GetText();
    size_t nScheme = strncmp(p, "https://", 8) == 0 ? 8 : strncmp(p, "http://", 7) == 0 ? 7 : 0;
    if (nScheme == 0)
        return CRukString();
    // Printable ASCII without blanks, quotes, angle brackets, backslash,
    // query or fragment.
    for (const char* q = p; *q; q++)
        if (static_cast<unsigned char>(*q) <= 0x20 || static_cast<unsigned char>(*q) >= 0x7F ||
            strchr("\"'<>\\`{}|^?#", *q))
            return CRukString();
    const char* pAuthority = p + nScheme;
    size_t nAuthority = strcspn(pAuthority, "/");
    CRukString authority;
    authority.Append(pAuthority, static_cast<int>(nAuthority));
    if (authority.Find("@") >= 0)
        return CRukString();  // no user or password
    CRukString host = authority;
    int nColon = authority.GetText()[0] == '[' ? authority.Find("]:") + 1 : authority.Find(":");
    if (nColon > 0) {
        host = authority.Left(nColon);
        CRukString port = authority.Mid(nColon + 1);
        if (port.IsEmpty() || port.GetLength() > 5 || !IsDigits(port.GetText()) ||
            ToInt(port) < 1 || ToInt(port) > 65535)
            return CRukString();
    }
    if (!IsHostText(host))
        return CRukString();
    CRukString path = pAuthority + nAuthority;
    if (path.IsEmpty() || path.GetText()[path.GetLength() - 1] != '/')
        path += "/";
    CRukString out;
    out.Append(p, static_cast<int>(nScheme));
    return out + authority + path;
}

// ---------------------------------------------------------------------------
// Deny-list entries


// True for one label of a host name: 1 to 63 letters, digits and inner "-".
static bool IsHostLabel(const std::string& label)
{
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    for (char c : label)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    return true;
}

CRukString CRukBBSFormConf::DenyEntry(const char* pText)
{
    CRukString trimmed(pText);
    trimmed.Trim();
    const char* p = trimmed.GetText();
    unsigned char addr[16];
    char text[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, p, addr) == 1 && inet_ntop(AF_INET, addr, text, sizeof(text)))
        return CRukString(text);
    if (strchr(p, ':') && inet_pton(AF_INET6, p, addr) == 1 &&
        inet_ntop(AF_INET6, addr, text, sizeof(text)))
        return CRukString(text);
    // A host name: labels between single dots, at least two of them.
    std::string name = p;
    if (name.empty() || name.size() > 253)
        return CRukString();
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    std::vector<std::string> labels;
    size_t nStart = 0;
    for (;;) {
        size_t nDot = name.find('.', nStart);
        labels.push_back(name.substr(nStart, nDot == std::string::npos ? nDot : nDot - nStart));
        if (!IsHostLabel(labels.back()))
            return CRukString();
        if (nDot == std::string::npos)
            break;
        nStart = nDot + 1;
    }
    if (labels.size() < 2 ||
        labels.back().find_first_not_of("0123456789") == std::string::npos)
        return CRukString();
    return CRukString(name.c_str());
}
