// The guards of the front-end base (same-origin POST, password guessing)
// and the event log they and the posting limits keep.
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/wait.h>
#include <unistd.h>

#include "rukbbsformbase.h"
#include "rukenv.h"
#include "rukeventlog.h"
#include "rukglobal.h"
#include "testutil.h"

namespace {

// Sets the request's headers for one case and puts the old ones back.
class RequestHeaders {
public:
    RequestHeaders(const char* pMethod, const char* pHost, const char* pOrigin,
                   const char* pReferer)
        : m_saved(go.m_env)
    {
        go.m_env.REQUEST_METHOD = pMethod;
        go.m_env.HTTP_HOST = pHost;
        go.m_env.HTTP_ORIGIN = pOrigin;
        go.m_env.HTTP_REFERER = pReferer;
        go.m_env.SERVER_NAME = "bbs.example.jp";
        go.m_env.SERVER_PORT = "80";
    }
    ~RequestHeaders() { go.m_env = m_saved; }

private:
    CRukEnv m_saved;
};

TEST(Guard, SameOriginByOriginThenReferer)
{
    struct Case {
        const char* pHost;
        const char* pOrigin;
        const char* pReferer;
        bool bSame;
    } cases[] = {
        {"bbs.example.jp", "http://bbs.example.jp", "", true},
        {"bbs.example.jp", "https://bbs.example.jp", "", true},  // TLS ended before us
        {"bbs.example.jp:8080", "http://bbs.example.jp:8080", "", true},
        {"BBS.Example.JP", "http://bbs.example.jp:80", "", true},
        {"127.0.0.1:8080", "http://127.0.0.1:8081", "", false},  // another port
        {"bbs.example.jp", "http://evil.example", "", false},
        {"bbs.example.jp", "http://bbs.example.jp.evil.example", "", false},
        {"bbs.example.jp", "null", "", false},                 // sandboxed or file page
        {"bbs.example.jp", "javascript:x", "", false},
        {"bbs.example.jp", "", "http://bbs.example.jp/ruk-bbs.cgi?bid=a", true},
        {"bbs.example.jp", "", "http://evil.example/bbs.example.jp", false},
        {"bbs.example.jp", "", "http://bbs.example.jp@evil.example/", false},
        {"bbs.example.jp", "http://evil.example", "http://bbs.example.jp/", false},  // Origin wins
        {"bbs.example.jp", "", "", true},  // no browser sends a form without either
        {"", "http://bbs.example.jp", "", true},  // no Host: the server's own name
        {"", "http://evil.example", "", false},
    };
    for (const Case& c : cases) {
        RequestHeaders headers("POST", c.pHost, c.pOrigin, c.pReferer);
        EXPECT_EQ(CRukBBSFormBase::IsSameOrigin(), c.bSame)
            << "Host " << c.pHost << " Origin " << c.pOrigin << " Referer " << c.pReferer;
    }
}

TEST(Guard, OnlyPostCountsAsAction)
{
    for (const char* pMethod : {"GET", "HEAD", "PUT", ""}) {
        RequestHeaders headers(pMethod, "bbs.example.jp", "", "");
        EXPECT_FALSE(CRukBBSFormBase::IsPostRequest()) << pMethod;
    }
    RequestHeaders headers("post", "bbs.example.jp", "", "");
    EXPECT_TRUE(CRukBBSFormBase::IsPostRequest());
}

TEST(EventLog, CountsWithinWindowAndPrunesOnSave)
{
    testutil::TempDir dir;
    std::string path = dir / "events.dat";
    time_t now = 1800000000;
    {
        CRukEventLog log(path.c_str(), 600, (dir / "events.lock").c_str());
        ASSERT_EQ(log.Load(true), 0);  // missing file: no event
        EXPECT_EQ(log.Count("192.0.2.1", 600, now), 0);
        log.Add("192.0.2.1", now - 700);  // too old to be kept
        log.Add("192.0.2.1", now - 300);
        log.Add("192.0.2.1", now - 10);
        log.Add("2001:db8::1", now - 5);
        log.Add("a b\nc", now);  // keys are encoded: no line of its own
        EXPECT_EQ(log.Count("192.0.2.1", 600, now), 2);
        EXPECT_EQ(log.Count("192.0.2.1", 60, now), 1);
        EXPECT_EQ(log.Latest("192.0.2.1"), now - 10);
        EXPECT_EQ(log.Oldest("192.0.2.1", 600, now), now - 300);
        ASSERT_EQ(log.Save(now), 0);
    }
    CRukEventLog again(path.c_str(), 600);
    ASSERT_EQ(again.Load(false), 0);
    EXPECT_EQ(again.Count("192.0.2.1", 100000, now), 2) << "the old event was pruned";
    EXPECT_EQ(again.Count("2001:db8::1", 600, now), 1);
    EXPECT_EQ(again.Count("a b\nc", 600, now), 1);
    std::string text = testutil::ReadFile(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
}

TEST(EventLog, DropsMalformedLines)
{
    testutil::TempDir dir;
    std::string path = dir / "events.dat";
    ASSERT_TRUE(testutil::WriteFile(path, "1800000000 a\nx b\n1800000000\n-5 c\n1800000000 a b\n"
                                          "1800000001 a\n"));
    CRukEventLog log(path.c_str(), 600);
    ASSERT_EQ(log.Load(false), 0);
    EXPECT_EQ(log.Count("a", 600, 1800000001), 2);
    EXPECT_EQ(log.Count("b", 600, 1800000001), 0);
    EXPECT_EQ(log.Count("c", 600, 1800000001), 0);
}

TEST(EventLog, LockHeldElsewhereIsBusy)
{
    testutil::TempDir dir;
    std::string lock = dir / "events.lock";
    testutil::Restore wait(go.m_nLockWait, 50);
    CRukFlock holder;
    ASSERT_EQ(holder.Lock(lock.c_str()), 0);
    pid_t pid = fork();
    if (pid == 0) {
        CRukEventLog log((dir / "events.dat").c_str(), 600, lock.c_str());
        _exit(log.Load(true) == -2 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CRukEventLog unguarded((dir / "events.dat").c_str(), 600);
    EXPECT_EQ(unguarded.Load(true), -1) << "a log without a lock file cannot be locked";
}

}  // namespace

namespace {

// A host name counts for the deny list only when it resolves back to the
// client's address (the hosts file maps localhost to 127.0.0.1).
TEST(Guard, HostNamesMustResolveBack)
{
    struct Case {
        const char* pName;
        const char* pAddr;
        bool bConfirmed;
    } cases[] = {
        {"localhost", "127.0.0.1", true},
        {"localhost", "192.0.2.1", false},  // a reverse zone claiming a name it does not own
        {"no-such-host.invalid", "192.0.2.1", false},
        {"localhost", "not an address", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CRukEnv::IsConfirmedName(c.pName, c.pAddr), c.bConfirmed) << c.pName << " " << c.pAddr;
}

}  // namespace

namespace {

// The system settings every request applies: file modes only when they
// are octal modes, the lock wait only when it is a number of milliseconds.
TEST(Guard, SystemSettingsApplied)
{
    struct Case {
        const char* pFile;
        const char* pDir;
        const char* pWait;
        int nFile, nDir, nWait;
    } cases[] = {
        {"644", "755", "500", 0644, 0755, 500},
        {"", "", "", 0666, 0777, 10000},           // empty keeps the defaults
        {"999", "7777", "x", 0666, 0777, 10000},   // malformed: ignored
        {"600", "700", "999999", 0600, 0700, 60000},  // a wait past a minute is a minute
    };
    for (const Case& c : cases) {
        testutil::Restore fileMode(go.m_nFileMode, 0666);
        testutil::Restore dirMode(go.m_nDirMode, 0777);
        testutil::Restore wait(go.m_nLockWait, 10000);
        CRukBBSFormBase base;
        base.m_cfSystem.SetAt("fmode666", c.pFile);
        base.m_cfSystem.SetAt("fmode777", c.pDir);
        base.m_cfSystem.SetAt("lock_wait", c.pWait);
        base.ApplySystemSettings();
        EXPECT_EQ(go.m_nFileMode, c.nFile) << c.pFile;
        EXPECT_EQ(go.m_nDirMode, c.nDir) << c.pDir;
        EXPECT_EQ(go.m_nLockWait, c.nWait) << c.pWait;
    }
}

}  // namespace
