// The trace log (line format, verbosity, switches) and the CGI environment
// snapshot with its trace lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netdb.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rukenv.h"
#include "rukglobal.h"
#include "ruklog.h"
#include "testutil.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ruk-log-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_path = m_dir + "/ruk-bbs.cgi.log";
    }
    void TearDown() override
    {
        unlink(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    std::string Read() const
    {
        std::ifstream in(m_path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Exists() const { return access(m_path.c_str(), F_OK) == 0; }

    std::string m_dir, m_path;
};

TEST_F(LogTest, LineFormat)
{
    CRukLog log;
    log.Initialize(m_path.c_str());
    log.Trace("-- BBSID=[%s] n=%d", "a%sb%%", 42);
    log.Trace("100%% done");
    std::string prefix = "[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}, " +
                         std::to_string(getpid()) + ", ";
    std::regex expect(prefix + "-- BBSID=\\[a%sb%%\\] n=42\n" + prefix + "100% done\n");
    std::string text = Read();
    EXPECT_TRUE(std::regex_match(text, expect)) << text;
    // Local time: the date in the line is today's (or the moment before).
    time_t now = time(nullptr);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    char sz[16];
    strftime(sz, sizeof(sz), "%Y/%m/%d", &tmNow);
    EXPECT_EQ(text.substr(0, 10), sz);
}

// A long line is written whole, and the next line starts after it.
TEST_F(LogTest, LongLinesAreWrittenWhole)
{
    CRukLog log;
    log.Initialize(m_path.c_str());
    std::string big(100000, 'L');
    log.Trace("<%s>", big.c_str());
    log.Trace("next");
    std::string text = Read();
    size_t nFirst = text.find('\n');
    ASSERT_NE(nFirst, std::string::npos);
    EXPECT_EQ(text.substr(nFirst - big.size() - 2, big.size() + 3), "<" + big + ">\n");
    EXPECT_EQ(text.substr(text.size() - 5), "next\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

// The log is private whatever mode the site's files get: created 0600, a
// wider one narrowed at the next line, a symbolic link in its place not
// followed (its target stays untouched).
TEST_F(LogTest, PrivateFileMode)
{
    struct Case {
        const char* pName;
        int nExisting;  // mode of a log already there, 0: none
        bool bSymlink;
    } cases[] = {
        {"new log", 0, false},
        {"world-readable log", 0666, false},
        {"group-readable log", 0640, false},
        {"symbolic link", 0, true},
    };
    testutil::Restore mode(go.m_nFileMode, 0666);
    std::string target = m_dir + "/target";
    for (const Case& c : cases) {
        if (c.nExisting) {
            std::ofstream(m_path) << "old\n";
            ASSERT_EQ(chmod(m_path.c_str(), static_cast<mode_t>(c.nExisting)), 0);
        }
        if (c.bSymlink) {
            std::ofstream(target) << "target\n";
            chmod(target.c_str(), 0644);
            ASSERT_EQ(symlink(target.c_str(), m_path.c_str()), 0);
        }
        CRukLog log;
        log.Initialize(m_path.c_str());
        log.Trace("line");
        struct stat st;
        ASSERT_EQ(lstat(m_path.c_str(), &st), 0) << c.pName;
        if (c.bSymlink) {
            EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.pName;
            ASSERT_EQ(stat(target.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0644u) << c.pName;
            std::ifstream in(target);
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            EXPECT_EQ(text, "target\n") << c.pName;
        } else {
            EXPECT_EQ(st.st_mode & 0777, 0600u) << c.pName;
            EXPECT_NE(Read().find("line\n"), std::string::npos) << c.pName;
        }
        unlink(m_path.c_str());
    }
    unlink(target.c_str());
}

// What the trace shows of request data that may hold secrets.
TEST(LogMask, SecretsAreMasked)
{
    const char* const secret[] = {"passwd", "passwd2", "passwd3", "wpasswd", "admin_passwd",
                                  "token", "write_passwd", "PassWd", "new_password", "Token"};
    for (const char* p : secret)
        EXPECT_TRUE(CRukLog::IsSecretName(p)) << p;
    const char* const plain[] = {"", "name", "pass", "tokens", "mess", "pwd"};
    for (const char* p : plain)
        EXPECT_FALSE(CRukLog::IsSecretName(p)) << p;

    struct Case {
        CRukString (*pMask)(const char*);
        const char* pIn;
        const char* pOut;
    } cases[] = {
        {CRukLog::MaskCookies, "name=Taro; passwd=s%21x; mail=",
         "name=********; passwd=********; mail=********"},
        {CRukLog::MaskCookies, "lone;  b=1;;", "********;  b=********;;"},
        {CRukLog::MaskCookies, "", ""},
        {CRukLog::MaskQuery, "bid=test&passwd=s3&pass%77d=s4&x=%zz&token=t",
         "bid=test&passwd=********&pass%77d=********&x=%zz&token=********"},
        {CRukLog::MaskQuery, "passwd&=1&&q=a?passwd=b", "passwd&=1&&q=a?passwd=b"},
        {CRukLog::MaskUrl, "/cgi/ruk-bbs.cgi?bid=t&passwd=s3",
         "/cgi/ruk-bbs.cgi?bid=t&passwd=********"},
        {CRukLog::MaskUrl, "http://h/x?passwd=s3?passwd2=s4&a=1", "http://h/x?passwd=********&a=1"},
        {CRukLog::MaskUrl, "/plain/path", "/plain/path"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(c.pMask(c.pIn).GetText()), c.pOut) << c.pIn;

    std::string forged = "a\r\n2026/01/01 00:00:00.000, 1, forged\x7f";
    unsigned nForged = static_cast<unsigned>(forged.size());
    EXPECT_EQ(std::string(CRukLog::Printable(forged.data(), nForged, 100).GetText()),
              "a\\x0D\\x0A2026/01/01 00:00:00.000, 1, forged\\x7F");
    EXPECT_EQ(std::string(CRukLog::Printable("abcdef", 6, 3).GetText()), "abc...");
}

TEST_F(LogTest, NothingWrittenWhenOff)
{
    struct Case {
        const char* pPath;  // null: the test's log path
        int nEnabled;
        int nVerbosity;
        bool bWritten;
    } cases[] = {
        {nullptr, 1, 11, false},
        {nullptr, 0, 0, false},
        {"", 1, 0, false},
        {nullptr, 1, 10, true},
    };
    for (const Case& c : cases) {
        CRukLog log;
        log.Initialize(c.pPath ? c.pPath : m_path.c_str());
        log.SetEnabled(c.nEnabled);
        log.Trace(c.nVerbosity, "line");
        EXPECT_EQ(Exists(), c.bWritten) << c.nEnabled << " " << c.nVerbosity;
        unlink(m_path.c_str());
    }
    CRukLog log;
    log.Initialize(m_path.c_str());
    log.Initialize(nullptr);
    EXPECT_EQ(log.GetPath(), m_path.c_str());
}

// GetEnv in a child process: its variables come from that process's own
// environment and every one is traced, padded to 20 characters, with the
// cookie values and a password in the query masked.
TEST_F(LogTest, GetEnvReadsAndTracesVariables)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("REQUEST_METHOD");
        setenv("QUERY_STRING", "a=%41", 1);
        setenv("HTTP_ACCEPT_ENCODING", "gzip", 1);
        setenv("HTTP_COOKIE", "name=Taro; passwd=cookiepw", 1);
        setenv("REQUEST_URI", "/ruk-bbs.cgi?passwd=querypw", 1);
        go.m_log.Initialize(m_path.c_str());
        go.m_log.SetEnabled(1);
        CRukEnv env;
        env.GetEnv();
        bool bOk = env.REQUEST_METHOD.GetText() != nullptr && env.REQUEST_METHOD.IsEmpty() &&
                   env.QUERY_STRING == "a=%41" && env.HTTP_ACCEPT_ENCODING == "gzip";
        _exit(bOk ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string text = Read();
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);)
        lines.push_back(line.substr(line.find(", ", line.find(", ") + 2) + 2));
    ASSERT_EQ(lines.size(), 39u);
    EXPECT_EQ(lines[0].substr(0, 24), "CONTENT_LENGTH       = [");
    EXPECT_EQ(lines[7], "HTTP_ACCEPT_ENCODING = [gzip]");
    EXPECT_EQ(lines[11], "HTTP_COOKIE          = [name=********; passwd=********]");
    EXPECT_EQ(lines[29], "REQUEST_URI          = [/ruk-bbs.cgi?passwd=********]");
    EXPECT_EQ(lines[24], "QUERY_STRING         = [a=%41]");
    EXPECT_EQ(lines[27], "REQUEST_METHOD       = []");
    EXPECT_EQ(lines[38].substr(0, 24), "SERVER_SOFTWARE      = [");
}

TEST(Env, RemoteHost)
{
    CRukEnv env;
    EXPECT_EQ(env.GetRemoteHost(), "");
    env.REMOTE_ADDR = "not-an-address";
    EXPECT_EQ(env.GetRemoteHost(), "");
    env.REMOTE_ADDR = "127.0.0.1";
    in_addr_t addr = inet_addr("127.0.0.1");
    struct hostent* h = gethostbyaddr(&addr, 4, AF_INET);
    EXPECT_EQ(env.GetRemoteHost(), h && h->h_name ? h->h_name : "");
}

}  // namespace
