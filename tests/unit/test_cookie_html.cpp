// Cookies (decoding HTTP_COOKIE, Set-Cookie lines) and the once-only
// response header, which needs a fresh process per case.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "rukcookie.h"
#include "rukglobal.h"
#include "rukhtml.h"
#include "testutil.h"

namespace {

TEST(CookieDecode, SplitsAtSemicolonSpace)
{
    struct Case {
        const char* pHeader;
        int nPairs;
        const char* pName;
        const char* pValue;
    } cases[] = {
        {"a=1; b=x%20y; c; a=2", 2, "b", "x y"},
        {"a=1; b=x%20y; c; a=2", 2, "a", "1"},
        {"a=1;b=2", 1, "a", "1;b=2"},
        {"na+me=v%3Dw=z", 1, "na me", "v=w=z"},
        {"=empty", 1, "", "empty"},
        {"", 0, "x", ""},
        {nullptr, 0, "x", ""},
    };
    for (const Case& c : cases) {
        CRukCookie cookie;
        cookie.Add("stale", "1");
        EXPECT_EQ(cookie.Decode(c.pHeader), c.nPairs) << (c.pHeader ? c.pHeader : "(null)");
        EXPECT_EQ(cookie.Value(c.pName), c.pValue);
        EXPECT_EQ(cookie.Data("stale"), nullptr);
    }
}

TEST(CookieEncode, ExpiryIsDaysAheadInGmt)
{
    CRukCookie cookie;
    cookie.Add("na me", "\xc3\xbc");
    time_t before = time(nullptr);
    std::string line = cookie.Encode(30, nullptr, nullptr).GetText();
    time_t after = time(nullptr);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m,
                                 std::regex("Set-Cookie: na\\+me=%C3%BC; expires=((Sun|Mon|Tue|Wed|Thu|Fri|Sat), "
                                            "[0-9]{2}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-[0-9]{4} "
                                            "[0-9]{2}:[0-9]{2}:[0-9]{2}) GMT; HttpOnly; SameSite=Lax\n")))
        << line;
    struct tm tmExp = {};
    ASSERT_NE(strptime(m[1].str().c_str(), "%a, %d-%b-%Y %H:%M:%S", &tmExp), nullptr);
    time_t expires = timegm(&tmExp);
    EXPECT_GE(expires, before + 30 * 86400);
    EXPECT_LE(expires, after + 30 * 86400);
}

// What every cookie carries over plain HTTP.
#define FLAGS "; HttpOnly; SameSite=Lax"

TEST(CookieEncode, PathAndDomainParts)
{
    CRukCookie cookie;
    cookie.Add("a", "1");
    cookie.Add("b", "x;y z");
    struct Case {
        const char* pDomain;
        const char* pPath;
        const char* pExpect;
    } cases[] = {
        {"", "/", "Set-Cookie: a=1; path=/" FLAGS "\nSet-Cookie: b=x%3By+z; path=/" FLAGS "\n"},
        {"example.jp", "/bbs", "Set-Cookie: a=1; path=/bbs; domain=example.jp" FLAGS "\n"
                               "Set-Cookie: b=x%3By+z; path=/bbs; domain=example.jp" FLAGS "\n"},
        {nullptr, nullptr, "Set-Cookie: a=1" FLAGS "\nSet-Cookie: b=x%3By+z" FLAGS "\n"},
        // A path or domain that would break the header line is left out.
        {"e.jp\r\nX-Bad: 1", "/;secure", "Set-Cookie: a=1" FLAGS "\nSet-Cookie: b=x%3By+z" FLAGS "\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cookie.Encode(0, c.pDomain, c.pPath), c.pExpect);
    EXPECT_EQ(CRukCookie().Encode(30, nullptr, "/"), "");
}

TEST(CookieEncode, SecureOverHttpsAndStrictOnRequest)
{
    testutil::Restore env(go.m_env);
    CRukCookie cookie;
    cookie.Add("s", "1");
    struct Case {
        const char* pHttps;
        const char* pScheme;
        const char* pSameSite;
        const char* pExpect;
    } cases[] = {
        {"", "", "Lax", "Set-Cookie: s=1; HttpOnly; SameSite=Lax\n"},
        {"on", "", "Lax", "Set-Cookie: s=1; HttpOnly; SameSite=Lax; Secure\n"},
        {"", "https", "Strict", "Set-Cookie: s=1; HttpOnly; SameSite=Strict; Secure\n"},
        {"off", "http", "None", "Set-Cookie: s=1; HttpOnly; SameSite=Lax\n"},  // never None
    };
    for (const Case& c : cases) {
        go.m_env.HTTPS = c.pHttps;
        go.m_env.REQUEST_SCHEME = c.pScheme;
        EXPECT_EQ(cookie.Encode(0, nullptr, nullptr, c.pSameSite), c.pExpect);
    }
}

TEST(CookieEncode, RoundTripsThroughDecode)
{
    CRukCookie cookie;
    cookie.Add("name", "\x91\xbe\x98\x59; =%+&\"");  // 太郎; =%+&"
    cookie.Add("mail", "a@b.jp");
    std::string lines = cookie.Encode(0, nullptr, nullptr).GetText();
    std::string header;
    for (size_t i = 0; (i = lines.find("Set-Cookie: ", i)) != std::string::npos;) {
        size_t e = lines.find('\n', i);
        std::string pair = lines.substr(i + 12, e - i - 12);
        header += (header.empty() ? "" : "; ") + pair.substr(0, pair.find(';'));
        i = e;
    }
    CRukCookie back;
    EXPECT_EQ(back.Decode(header.c_str()), 2);
    EXPECT_EQ(back.Value("name"), "\x91\xbe\x98\x59; =%+&\"");
    EXPECT_EQ(back.Value("mail"), "a@b.jp");
}

// Runs the calls in a child process (the header flag is process-wide) and
// returns what it wrote to standard output.
std::string InChild(const std::function<void()>& calls)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "<pipe failed>";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        calls();
        fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[1024];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return out;
}

// The lines every response carries.
#define SECURITY "X-Content-Type-Options: nosniff\nReferrer-Policy: same-origin\n"

TEST(HtmlHeader, WrittenOncePerProcess)
{
    struct Case {
        std::function<void()> calls;
        const char* pExpect;
    } cases[] = {
        {[] {
             CRukHtml html;
             html.WriteHttpHeader("text/html", "");
             html.WriteHttpHeader("text/plain", "X: 1\n");
             EXPECT_EQ(html.WriteString("<p>"), 3);
         },
         "Content-type: text/html\n" SECURITY "\n<p>"},
        {[] {
             CRukHtml html;
             html.WriteHttpCookie("Set-Cookie: a=1\nSet-Cookie: b=2\n", "text/html");
             html.WriteHttpHeader("text/html", "");
         },
         "Content-type: text/html\n" SECURITY
         "Cache-Control: no-store\nSet-Cookie: a=1\nSet-Cookie: b=2\n\n"},
        {[] {
             CRukHtml first;
             first.WriteHttpHeader("text/html", "");
             CRukHtml second;
             second.WriteHttpCookie("Set-Cookie: a=1\n", "text/html");
             EXPECT_GT(second.WriteString(CRukHtml::IsHeaderWritten() ? "yes" : "no"), 0);
         },
         "Content-type: text/html\n" SECURITY "\nyes"},
        {[] {
             CRukHtml::SetPrivate();
             CRukHtml html;
             html.WriteHttpHeader("text/html", "");
         },
         "Content-type: text/html\n" SECURITY
         "X-Frame-Options: DENY\nCache-Control: no-store\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InChild(c.calls), c.pExpect);
}

}  // namespace
