// CRukBBSFormMain: the board's absolute addresses and the answer after a
// change.
//
// An absolute address (of a redirect, of a feed and its entries) starts
// with the board program's URL: the system setting "site_url" (the URL of
// the directory holding the programs, "https://bbs.example.jp/bbs/") and
// "ruk-bbs.cgi" when it is set and valid; otherwise the request's own: its
// scheme (HTTPS as the web server tells), its Host header when that is a
// host name or address with an optional port (else SERVER_NAME and
// SERVER_PORT, else "localhost") and SCRIPT_NAME when it is a plain path.
// Everything that goes into an address is checked to be one, so that no
// request can put a line break, a blank or a quote into a header or a
// page through it.
//
// After a stored post, edit or deletion a board with post_redirect=1
// answers "303 See Other" with the page to show as its Location (the
// thread of the post, its message as the fragment; the board after a
// deletion) and the cookies of the post, so that reloading the page a
// browser shows never sends the post again.
#include "rukbbsformmain.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "rukbbsformmain_shared.h"
#include "rukcookie.h"
#include "rukglobal.h"

static const char s_szProgram[] = "ruk-bbs.cgi";

static bool IsHostChar(unsigned char c)
{
    return isalnum(c) || c == '-' || c == '.';
}

CRukString HostName(const char* p, size_t n)
{
    if (n == 0 || n > 253 || p[0] == '.' || p[0] == '-' || p[n - 1] == '.')
        return CRukString();
    CRukString out;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (!IsHostChar(c) || (c == '.' && i + 1 < n && p[i + 1] == '.'))
            return CRukString();
        char lower = static_cast<char>(tolower(c));
        out.Append(&lower, 1);
    }
    return out;
}

bool IsUrlPath(const char* p)
{
    for (; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (!isalnum(c) && !strchr("-._~/%!$&'()*+,;=:@", c))
            return false;
    }
    return true;
}

// A port: one to five digits, 1 to 65535.
static bool IsPort(const CRukString& port)
{
    long n = atol(port.GetText());
    return !port.IsEmpty() && port.GetLength() <= 5 &&
           CRukBBSFormBase::IsDigits(port.GetText()) && n >= 1 && n <= 65535;
}

bool ParseSiteUrl(const CRukString& url, SSiteUrl& site)
{
    const char* p = url.GetText();
    const char* pScheme = nullptr;
    size_t nScheme = 0;
    if (strncasecmp(p, "https://", 8) == 0) {
        pScheme = "https://";
        nScheme = 8;
    } else if (strncasecmp(p, "http://", 7) == 0) {
        pScheme = "http://";
        nScheme = 7;
    } else {
        return false;
    }
    CRukString rest = url.Mid(static_cast<int>(nScheme));
    p = rest.GetText();
    size_t nAuthority = strcspn(p, "/");
    size_t nHost = strcspn(p, ":/");
    CRukString host = HostName(p, nHost);
    if (host.IsEmpty())
        return false;
    CRukString port;
    if (nHost < nAuthority) {
        port.Append(p + nHost + 1, static_cast<int>(nAuthority - nHost - 1));
        if (!IsPort(port))
            return false;
    }
    CRukString path = p + nAuthority;
    if (!IsUrlPath(path.GetText()))
        return false;
    if (path.IsEmpty() || path.GetText()[path.GetLength() - 1] != '/')
        path += "/";
    site.host = host;
    site.origin = CRukString(pScheme) + host + (port.IsEmpty() ? "" : ":") + port;
    site.base = site.origin + path;
    return true;
}

// The authority "host[:port]" of a Host header or of SERVER_NAME and
// SERVER_PORT, in lower case; empty when it is no host name, IPv4 or
// bracketed IPv6 address with a valid port.
static CRukString Authority(const CRukString& text)
{
    const char* p = text.GetText();
    size_t n = strlen(p);
    size_t nHost;
    CRukString host;
    if (*p == '[') {
        nHost = strcspn(p, "]");
        if (nHost == n || nHost < 3 || strspn(p + 1, "0123456789abcdefABCDEF:.") != nHost - 1)
            return CRukString();
        nHost++;  // with the bracket
        for (size_t i = 0; i < nHost; i++) {
            char c = static_cast<char>(tolower(static_cast<unsigned char>(p[i])));
            host.Append(&c, 1);
        }
    } else {
        nHost = strcspn(p, ":");
        host = HostName(p, nHost);
        if (host.IsEmpty())
            return CRukString();
    }
    if (nHost == n)
        return host;
    if (p[nHost] != ':' || !IsPort(CRukString(p + nHost + 1)))
        return CRukString();
    return host + (p + nHost);
}

// The program's URL as the request reached it (see the top of this file).
static CRukString RequestProgramUrl()
{
    const CRukEnv& env = go.m_env;
    bool bHttps = CRukCookie::IsHttps();
    CRukString authority = Authority(env.HTTP_HOST);
    if (authority.IsEmpty()) {
        CRukString server = env.SERVER_NAME;
        const CRukString& port = env.SERVER_PORT;
        if (!port.IsEmpty() && port != (bHttps ? "443" : "80"))
            server += ":" + port;
        authority = Authority(server);
    }
    if (authority.IsEmpty())
        authority = "localhost";
    CRukString script = env.SCRIPT_NAME;
    if (script.GetText()[0] != '/' || !IsUrlPath(script.GetText()))
        script = CRukString("/") + s_szProgram;
    return CRukString(bHttps ? "https://" : "http://") + authority + script;
}

CRukString CRukBBSFormMain::ProgramUrl()
{
    CRukString url = Setting(kSysSiteUrl);
    url.Trim();
    SSiteUrl site;
    if (!url.IsEmpty()) {
        if (ParseSiteUrl(url, site))
            return site.base + s_szProgram;
        go.m_log.Trace("-- site_url is no site URL [%s]: the request's is used", url.GetText());
    }
    return RequestProgramUrl();
}

// True for a text that a header line can carry as it is: printable ASCII
// without blanks, quotes or angle brackets.
static bool IsHeaderSafe(const CRukString& text)
{
    for (const char* p = text.GetText(); *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\')
            return false;
    }
    return !text.IsEmpty();
}

bool CRukBBSFormMain::AnswerChange()
{
    bool bRedirect = SettingIsOne(kBoardPostRedirect) &&
                     !m_strChanged.IsEmpty() && !CRukHtml::IsHeaderWritten();
    CRukString location = bRedirect ? ProgramUrl() + m_strChanged : CRukString();
    if (bRedirect && !IsHeaderSafe(location)) {
        go.m_log.Trace("-- no redirect to [%s]", location.GetText());
        bRedirect = false;
    }
    if (!bRedirect) {
        if (!m_strCookieLines.IsEmpty())
            m_html.WriteHttpCookie(m_strCookieLines.GetText(), "text/html");
        return false;
    }
    go.m_log.Trace("-- 303 See Other: %s", location.GetText());
    CRukString lines = "Status: 303 See Other\nLocation: " + location + "\n" + m_strCookieLines;
    m_html.WriteHttpHeader("text/html", lines.GetText());
    CRukString href = location;
    href.Replace("&", "&amp;", true);
    CRukString page = "<!DOCTYPE html>\n<html><head><title>303 See Other</title></head><body>"
                      "<p><a href=\"" + href + "\">" + href + "</a></p></body></html>\n";
    if (m_html.WriteString(page.GetText()) < 0)
        go.m_log.Trace("-- the redirect could not be written");
    return true;
}
