// The trace log (line format, verbosity, switches) and the CGI environment
// snapshot with its trace lines.
#include <gtest/gtest.h>

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
    struct stat st;
    ASSERT_EQ(stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(go.m_nFileMode) & 0777);
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
// environment and every one is traced, padded to 20 characters.
TEST_F(LogTest, GetEnvReadsAndTracesVariables)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("REQUEST_METHOD");
        setenv("QUERY_STRING", "a=%41", 1);
        setenv("HTTP_ACCEPT_ENCODING", "gzip", 1);
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
