// Entry of the board program: bounds the request's CPU time, then loads
// the site's settings, reads the request, opens the board (and checks the
// visitor against its deny list), chooses the skin and the data directory,
// and runs exactly one action (rukbbsformmain_action.cpp).
#include <cstdlib>
#include <sys/resource.h>

#include "rukbbsformmain.h"
#include "rukcookie.h"
#include "rukform.h"
#include "rukglobal.h"

// CPU seconds one request may use: far beyond any page or post of a large
// board, so that only a runaway request meets it. A web server does not
// stop a CGI program whose client went away, so without a limit such a
// request would spin for ever; at the soft limit the kernel ends it
// (SIGXCPU), at the hard one it kills it.
static const rlim_t s_nCpuSoft = 30;
static const rlim_t s_nCpuHard = 35;

static void LimitCpuTime()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    // Never raise what the server set lower.
    auto lower = [](rlim_t nSet, rlim_t nOwn) {
        return nSet == RLIM_INFINITY || nSet > nOwn ? nOwn : nSet;
    };
    limit.rlim_max = lower(limit.rlim_max, s_nCpuHard);
    limit.rlim_cur = lower(lower(limit.rlim_cur, s_nCpuSoft), limit.rlim_max);
    (void)setrlimit(RLIMIT_CPU, &limit);
}

// Without TZ the C library checks /etc/localtime again at every local time
// conversion (two per message shown); naming that same file once keeps
// the zone and saves the checks.
static void NameLocalZone()
{
    if (!getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);
}

int main()
{
    LimitCpuTime();
    NameLocalZone();
    CRukBBSFormMain bbs;
    CRukCookie cookie;
    CRukForm form;
    bbs.LoadSite();
    bbs.ReadRequest(cookie, form);
    if (!bbs.OpenBoard())
        return 1;
    bbs.ChooseSkin(form);
    bbs.ReadBoardValues(form);
    bbs.RunAction(cookie, form);
    go.m_log.Trace("ruk-bbs.cgi  END  =====================================================\n\n");
    // The page is out; ending here rather than returning spares taking a
    // loaded board apart record by record, which the kernel does at once
    // when the process ends. exit() still flushes the output.
    exit(0);
}
