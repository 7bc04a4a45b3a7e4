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

CRukString CRukEnv::GetRemoteHost() const
{
    if (REMOTE_ADDR.IsEmpty())
        return CRukString();
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    if (inet_pton(AF_INET, REMOTE_ADDR.GetText(), &sa.sin_addr) != 1)
        return CRukString();
    char szHost[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<struct sockaddr*>(&sa), sizeof(sa), szHost, sizeof(szHost),
                    nullptr, 0, NI_NAMEREQD) != 0)
        return CRukString();
    return CRukString(szHost);
}
