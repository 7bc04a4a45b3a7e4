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
// The variables in the order they are read and traced.
struct EnvVar {
    const char* pName;
    CRukString CRukEnv::*pMember;
};

const EnvVar s_vars[] = {
    {"CONTENT_LENGTH", &CRukEnv::CONTENT_LENGTH},
    {"CONTENT_TYPE", &CRukEnv::CONTENT_TYPE},
    {"DOCUMENT_NAME", &CRukEnv::DOCUMENT_NAME},
    {"DOCUMENT_URI", &CRukEnv::DOCUMENT_URI},
    {"DOCUMENT_ROOT", &CRukEnv::DOCUMENT_ROOT},
    {"GATEWAY_INTERFACE", &CRukEnv::GATEWAY_INTERFACE},
    {"HTTP_ACCEPT", &CRukEnv::HTTP_ACCEPT},
    {"HTTP_ACCEPT_ENCODING", &CRukEnv::HTTP_ACCEPT_ENCODING},
    {"HTTP_ACCEPT_LANGUAGE", &CRukEnv::HTTP_ACCEPT_LANGUAGE},
    {"HTTP_CACHE_CONTROL", &CRukEnv::HTTP_CACHE_CONTROL},
    {"HTTP_CONNECTION", &CRukEnv::HTTP_CONNECTION},
    {"HTTP_COOKIE", &CRukEnv::HTTP_COOKIE},
    {"HTTP_HOST", &CRukEnv::HTTP_HOST},
    {"HTTP_IF_MODIFIED_SINCE", &CRukEnv::HTTP_IF_MODIFIED_SINCE},
    {"HTTP_IF_NONE_MATCH", &CRukEnv::HTTP_IF_NONE_MATCH},
    {"HTTP_ORIGIN", &CRukEnv::HTTP_ORIGIN},
    {"HTTP_REFERER", &CRukEnv::HTTP_REFERER},
    {"HTTP_USER_AGENT", &CRukEnv::HTTP_USER_AGENT},
    {"HTTP_VIA", &CRukEnv::HTTP_VIA},
    {"HTTPS", &CRukEnv::HTTPS},
    {"LAST_MODIFIED", &CRukEnv::LAST_MODIFIED},
    {"PATH", &CRukEnv::PATH},
    {"PATH_INFO", &CRukEnv::PATH_INFO},
    {"PATH_TRANSLATED", &CRukEnv::PATH_TRANSLATED},
    {"QUERY_STRING", &CRukEnv::QUERY_STRING},
    {"REMOTE_ADDR", &CRukEnv::REMOTE_ADDR},
    {"REMOTE_PORT", &CRukEnv::REMOTE_PORT},
    {"REQUEST_METHOD", &CRukEnv::REQUEST_METHOD},
    {"REQUEST_SCHEME", &CRukEnv::REQUEST_SCHEME},
    {"REQUEST_URI", &CRukEnv::REQUEST_URI},
    {"SCRIPT_FILENAME", &CRukEnv::SCRIPT_FILENAME},
    {"SCRIPT_NAME", &CRukEnv::SCRIPT_NAME},
    {"SERVER_ADDR", &CRukEnv::SERVER_ADDR},
    {"SERVER_ADMIN", &CRukEnv::SERVER_ADMIN},
    {"SERVER_NAME", &CRukEnv::SERVER_NAME},
    {"SERVER_PORT", &CRukEnv::SERVER_PORT},
    {"SERVER_PROTOCOL", &CRukEnv::SERVER_PROTOCOL},
    {"SERVER_SIGNATURE", &CRukEnv::SERVER_SIGNATURE},
    {"SERVER_SOFTWARE", &CRukEnv::SERVER_SOFTWARE},
};
}  // namespace

// Reads the CGI variables, then traces each as its name padded to 20
// characters, " = [", the value and "]".
void CRukEnv::GetEnv()
{
    for (const EnvVar& v : s_vars)
        this->*v.pMember = getenv(v.pName);
    for (const EnvVar& v : s_vars) {
        char szFormat[64];
        snprintf(szFormat, sizeof(szFormat), "%-20s = [%%s]", v.pName);
        go.m_log.Trace(szFormat, (this->*v.pMember).GetText());
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
