#include "rukenv.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "rukglobal.h"

namespace {
// A variable that may carry a secret names the function that masks it
// for the trace.
struct EnvVar {
    const char* pName;
    CRukString CRukEnv::*pMember;
    CRukString (*pMask)(const char*);
};

// The variables in the order they are read and traced.
const EnvVar s_vars[] = {
    {"CONTENT_LENGTH", &CRukEnv::CONTENT_LENGTH, nullptr},
    {"CONTENT_TYPE", &CRukEnv::CONTENT_TYPE, nullptr},
    {"DOCUMENT_NAME", &CRukEnv::DOCUMENT_NAME, nullptr},
    {"DOCUMENT_URI", &CRukEnv::DOCUMENT_URI, nullptr},
    {"DOCUMENT_ROOT", &CRukEnv::DOCUMENT_ROOT, nullptr},
    {"GATEWAY_INTERFACE", &CRukEnv::GATEWAY_INTERFACE, nullptr},
    {"HTTP_ACCEPT", &CRukEnv::HTTP_ACCEPT, nullptr},
    {"HTTP_ACCEPT_ENCODING", &CRukEnv::HTTP_ACCEPT_ENCODING, nullptr},
    {"HTTP_ACCEPT_LANGUAGE", &CRukEnv::HTTP_ACCEPT_LANGUAGE, nullptr},
    {"HTTP_CACHE_CONTROL", &CRukEnv::HTTP_CACHE_CONTROL, nullptr},
    {"HTTP_CONNECTION", &CRukEnv::HTTP_CONNECTION, nullptr},
    {"HTTP_COOKIE", &CRukEnv::HTTP_COOKIE, CRukLog::MaskCookies},
    {"HTTP_HOST", &CRukEnv::HTTP_HOST, nullptr},
    {"HTTP_IF_MODIFIED_SINCE", &CRukEnv::HTTP_IF_MODIFIED_SINCE, nullptr},
    {"HTTP_IF_NONE_MATCH", &CRukEnv::HTTP_IF_NONE_MATCH, nullptr},
    {"HTTP_ORIGIN", &CRukEnv::HTTP_ORIGIN, nullptr},
    {"HTTP_REFERER", &CRukEnv::HTTP_REFERER, CRukLog::MaskUrl},
    {"HTTP_USER_AGENT", &CRukEnv::HTTP_USER_AGENT, nullptr},
    {"HTTP_VIA", &CRukEnv::HTTP_VIA, nullptr},
    {"HTTPS", &CRukEnv::HTTPS, nullptr},
    {"LAST_MODIFIED", &CRukEnv::LAST_MODIFIED, nullptr},
    {"PATH", &CRukEnv::PATH, nullptr},
    {"PATH_INFO", &CRukEnv::PATH_INFO, nullptr},
    {"PATH_TRANSLATED", &CRukEnv::PATH_TRANSLATED, nullptr},
    {"QUERY_STRING", &CRukEnv::QUERY_STRING, CRukLog::MaskQuery},
    {"REMOTE_ADDR", &CRukEnv::REMOTE_ADDR, nullptr},
    {"REMOTE_PORT", &CRukEnv::REMOTE_PORT, nullptr},
    {"REQUEST_METHOD", &CRukEnv::REQUEST_METHOD, nullptr},
    {"REQUEST_SCHEME", &CRukEnv::REQUEST_SCHEME, nullptr},
    {"REQUEST_URI", &CRukEnv::REQUEST_URI, CRukLog::MaskUrl},
    {"SCRIPT_FILENAME", &CRukEnv::SCRIPT_FILENAME, nullptr},
    {"SCRIPT_NAME", &CRukEnv::SCRIPT_NAME, nullptr},
    {"SERVER_ADDR", &CRukEnv::SERVER_ADDR, nullptr},
    {"SERVER_ADMIN", &CRukEnv::SERVER_ADMIN, nullptr},
    {"SERVER_NAME", &CRukEnv::SERVER_NAME, nullptr},
    {"SERVER_PORT", &CRukEnv::SERVER_PORT, nullptr},
    {"SERVER_PROTOCOL", &CRukEnv::SERVER_PROTOCOL, nullptr},
    {"SERVER_SIGNATURE", &CRukEnv::SERVER_SIGNATURE, nullptr},
    {"SERVER_SOFTWARE", &CRukEnv::SERVER_SOFTWARE, nullptr},
};
}  // namespace

// Reads the CGI variables, then traces each as its name padded to 20
// characters, " = [", the value and "]"; cookie values and the values of
// password fields in the query string are masked.
void CRukEnv::GetEnv()
{
    for (const EnvVar& v : s_vars)
        this->*v.pMember = getenv(v.pName);
    if (!go.m_log.IsActive())
        return;
    for (const EnvVar& v : s_vars) {
        char szFormat[64];
        snprintf(szFormat, sizeof(szFormat), "%-20s = [%%s]", v.pName);
        const CRukString& value = this->*v.pMember;
        go.m_log.Trace(szFormat, v.pMask ? v.pMask(value.GetText()).GetText() : value.GetText());
    }
}

// The client's host name, only when it is confirmed: the name that a
// reverse lookup of REMOTE_ADDR (IPv4 or IPv6) gives must resolve back to
// that same address, so that whoever controls the reverse zone of an
// address cannot claim another site's name. Empty otherwise.
CRukString CRukEnv::GetRemoteHost() const
{
    if (REMOTE_ADDR.IsEmpty())
        return CRukString();
    struct sockaddr_storage ss;
    memset(&ss, 0, sizeof(ss));
    socklen_t nLen = 0;
    auto* p4 = reinterpret_cast<struct sockaddr_in*>(&ss);
    auto* p6 = reinterpret_cast<struct sockaddr_in6*>(&ss);
    if (inet_pton(AF_INET, REMOTE_ADDR.GetText(), &p4->sin_addr) == 1) {
        p4->sin_family = AF_INET;
        nLen = sizeof(*p4);
    } else if (inet_pton(AF_INET6, REMOTE_ADDR.GetText(), &p6->sin6_addr) == 1) {
        p6->sin6_family = AF_INET6;
        nLen = sizeof(*p6);
    } else {
        return CRukString();
    }
    char szHost[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<struct sockaddr*>(&ss), nLen, szHost, sizeof(szHost),
                    nullptr, 0, NI_NAMEREQD) != 0)
        return CRukString();
    if (!IsConfirmedName(szHost, REMOTE_ADDR.GetText()))
        return CRukString();
    return CRukString(szHost);
}

bool CRukEnv::IsConfirmedName(const char* pName, const char* pAddr)
{
    unsigned char want[sizeof(struct in6_addr)];
    int nFamily = AF_INET;
    size_t nWant = sizeof(struct in_addr);
    if (inet_pton(AF_INET, pAddr, want) != 1) {
        if (inet_pton(AF_INET6, pAddr, want) != 1)
            return false;
        nFamily = AF_INET6;
        nWant = sizeof(struct in6_addr);
    }
    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = nFamily;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* pList = nullptr;
    if (getaddrinfo(pName, nullptr, &hints, &pList) != 0)
        return false;
    bool bFound = false;
    for (const struct addrinfo* a = pList; a && !bFound; a = a->ai_next) {
        const void* pGot = nFamily == AF_INET
                               ? static_cast<const void*>(
                                     &reinterpret_cast<const struct sockaddr_in*>(a->ai_addr)->sin_addr)
                               : static_cast<const void*>(
                                     &reinterpret_cast<const struct sockaddr_in6*>(a->ai_addr)->sin6_addr);
        bFound = a->ai_family == nFamily && memcmp(pGot, want, nWant) == 0;
    }
    freeaddrinfo(pList);
    return bFound;
}
