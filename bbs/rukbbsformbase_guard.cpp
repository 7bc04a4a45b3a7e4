// CRukBBSFormBase: the guards every action passes before it changes
// anything: the request must be a POST from the site's own pages, and a
// client that keeps guessing passwords is held off before any hash is
// computed.
#include "rukbbsformbase.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "rukeventlog.h"
#include "rukglobal.h"

// Failed password checks: how many a client may make within the window
// before it is held off, and for how long.
static const char s_szThrottleFile[] = "dat-throttle.dat";
static const char s_szThrottleLock[] = "dat-throttle.lock";
static const int s_nThrottleTries = 10;
static const long s_nThrottleWindow = 600;
static const long s_nThrottleHold = 600;

bool CRukBBSFormBase::IsPostRequest()
{
    return strcasecmp(go.m_env.REQUEST_METHOD.GetText(), "POST") == 0;
}

// The authority ("host" or "host:port") of an absolute http(s) URL, lower
// case, without a default port; empty when the URL is not one.
static CRukString UrlAuthority(const char* pUrl)
{
    const char* p = pUrl;
    bool bHttps = strncasecmp(p, "https://", 8) == 0;
    if (bHttps)
        p += 8;
    else if (strncasecmp(p, "http://", 7) == 0)
        p += 7;
    else
        return CRukString();
    size_t n = strcspn(p, "/?#");
    CRukString authority;
    authority.Append(p, static_cast<int>(n));
    return authority;
}

// A host[:port] text in lower case without ":80" or ":443", so that the
// same place compares equal however it was written.
static CRukString CanonicalAuthority(const CRukString& text)
{
    CRukString out;
    for (const char* p = text.GetText(); *p; p++) {
        char c = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
        out.Append(&c, 1);
    }
    for (const char* pPort : {":80", ":443"}) {
        int n = out.GetLength() - static_cast<int>(strlen(pPort));
        if (n > 0 && strcmp(out.GetText() + n, pPort) == 0) {
            out.Delete(n);
            break;
        }
    }
    return out;
}

bool CRukBBSFormBase::IsSameOrigin()
{
    const CRukEnv& env = go.m_env;
    CRukString own = env.HTTP_HOST;
    if (own.IsEmpty()) {
        own = env.SERVER_NAME;
        if (!env.SERVER_PORT.IsEmpty())
            own += ":" + env.SERVER_PORT;
    }
    own = CanonicalAuthority(own);
    const CRukString& origin = env.HTTP_ORIGIN;
    if (!origin.IsEmpty())
        return !own.IsEmpty() && CanonicalAuthority(UrlAuthority(origin.GetText())) == own;
    const CRukString& referer = env.HTTP_REFERER;
    if (!referer.IsEmpty())
        return !own.IsEmpty() && CanonicalAuthority(UrlAuthority(referer.GetText())) == own;
    return true;
}

void CRukBBSFormBase::RequireSameOriginPost()
{
    if (!IsPostRequest() || !IsSameOrigin()) {
        go.m_log.Trace("-- refused: method [%s] origin [%s] referer [%s]",
                       go.m_env.REQUEST_METHOD.GetText(), go.m_env.HTTP_ORIGIN.GetText(),
                       go.m_env.HTTP_REFERER.GetText());
        MessageKey(kMsgForgedForm);
    }
}

// The client's key for the password throttle: its address.
static const char* ClientKey()
{
    const char* p = go.m_env.REMOTE_ADDR.GetText();
    return *p ? p : "-";
}

void CRukBBSFormBase::RequirePasswordTries()
{
    CRukEventLog log(s_szThrottleFile, s_nThrottleWindow + s_nThrottleHold);
    if (log.Load(false) != 0)
        return;  // an unreadable log holds no one off; the checks still run
    time_t now = time(nullptr);
    if (log.Count(ClientKey(), s_nThrottleWindow, now) < s_nThrottleTries)
        return;
    time_t until = log.Latest(ClientKey()) + s_nThrottleHold;
    if (until <= now)
        return;
    long nMinutes = (until - now + 59) / 60;
    go.m_log.Trace("-- password checks held off for %ld min", nMinutes);
    SetRetryAfter(static_cast<long>(until - now));
    MessageFill(kMsgTooManyPasswordTries, {{"%WAIT%", CRukString(nMinutes)}});
}

void CRukBBSFormBase::RecordPasswordFailure()
{
    CRukEventLog log(s_szThrottleFile, s_nThrottleWindow + s_nThrottleHold, s_szThrottleLock);
    if (log.Load(true) != 0)
        return;
    time_t now = time(nullptr);
    log.Add(ClientKey(), now);
    if (log.Save(now) != 0)
        go.m_log.Trace("-- %s could not be written", s_szThrottleFile);
}
