// CRukEnv: a snapshot of the CGI environment variables. A variable that is
// not set reads as the empty string.
#ifndef RUKENV_H
#define RUKENV_H

#include "rukstring.h"

class CRukEnv {
public:
    CRukEnv() = default;
    virtual ~CRukEnv() = default;

    // Reads every variable and traces it, cookie values and the values of
    // password fields in the query string masked.
    void GetEnv();
    // The host name of REMOTE_ADDR (IPv4 or IPv6) by reverse lookup, when
    // it resolves back to that address; otherwise empty.
    CRukString GetRemoteHost() const;
    // True when pName resolves to the address pAddr (IPv4 or IPv6 text).
    static bool IsConfirmedName(const char* pName, const char* pAddr);

    CRukString CONTENT_LENGTH;
    CRukString CONTENT_TYPE;
    CRukString DOCUMENT_NAME;
    CRukString DOCUMENT_URI;
    CRukString DOCUMENT_ROOT;
    CRukString GATEWAY_INTERFACE;
    CRukString HTTP_ACCEPT;
    CRukString HTTP_ACCEPT_ENCODING;
    CRukString HTTP_ACCEPT_LANGUAGE;
    CRukString HTTP_CACHE_CONTROL;
    CRukString HTTP_CONNECTION;
    CRukString HTTP_COOKIE;
    CRukString HTTP_HOST;
    CRukString HTTP_IF_MODIFIED_SINCE;
    CRukString HTTP_IF_NONE_MATCH;
    CRukString HTTP_ORIGIN;
    CRukString HTTP_REFERER;
    CRukString HTTP_USER_AGENT;
    CRukString HTTP_VIA;
    CRukString HTTPS;
    CRukString LAST_MODIFIED;
    CRukString PATH;
    CRukString PATH_INFO;
    CRukString PATH_TRANSLATED;
    CRukString QUERY_STRING;
    CRukString REMOTE_ADDR;
    CRukString REMOTE_PORT;
    CRukString REQUEST_METHOD;
    CRukString REQUEST_SCHEME;
    CRukString REQUEST_URI;
    CRukString SCRIPT_FILENAME;
    CRukString SCRIPT_NAME;
    CRukString SERVER_ADDR;
    CRukString SERVER_ADMIN;
    CRukString SERVER_NAME;
    CRukString SERVER_PORT;
    CRukString SERVER_PROTOCOL;
    CRukString SERVER_SIGNATURE;
    CRukString SERVER_SOFTWARE;
};

#endif
