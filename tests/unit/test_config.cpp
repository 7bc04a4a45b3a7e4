// Tests of CRukConfig: the file syntax in plain and percent-encoded mode,
// round trips, the lock (checked against forked children) and writes that
// fail without harming the old file.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rukconfig.h"
#include "rukfile.h"
#include "testutil.h"

using testutil::TempDir;
typedef std::vector<std::pair<std::string, std::string>> Pairs;

namespace {

Pairs Entries(const CRukConfig& c)
{
    Pairs v;
    for (int i = 0; i < c.GetSize(); i++)
        v.emplace_back(c[i].m_strTag.GetText(), c[i].m_data.GetText());
    return v;
}

using testutil::InChild;

// Runs fn in a child while this process holds the lock on pLock.
int WithLockHeld(const std::string& lock, bool bShared, const std::function<int()>& fn)
{
    CRukFlock held;
    if (held.Lock(lock.c_str(), bShared) != 0)
        return -998;
    return InChild(fn);
}

}  // namespace

TEST(ConfigRead, PlainSyntax)
{
    struct {
        const char* name;
        std::string text;
        Pairs expected;
    } cases[] = {
        {"skips comments, blanks, junk; first wins",
         "# note\n\na=1\nb=x=y\na=2\njunk\n", {{"a", "1"}, {"b", "x=y"}}},
        {"name and value untrimmed", "name = v\n", {{"name ", " v"}}},
        {"CR LF line ends", "a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
        {"no final line feed", "a=1\nb=2", {{"a", "1"}, {"b", "2"}}},
        {"# only first", "a=#x\n #b=c\n", {{"a", "#x"}, {" #b", "c"}}},
        {"empty name and value", "=\nk=\n", {{"", ""}, {"k", ""}}},
        {"stray CR inside", "a=x\ry\n", {{"a", "xy"}}},
        {"long value", "v=" + std::string(5000, 'L') + "\nw=1\n",
         {{"v", std::string(5000, 'L')}, {"w", "1"}}},
        {"percent left alone", "a=%41+b\n", {{"a", "%41+b"}}},
        {"empty file", "", {}},
    };
    TempDir tmp;
    for (const auto& c : cases) {
        const std::string path = tmp / "plain.dat";
        ASSERT_TRUE(testutil::WriteFile(path, c.text));
        CRukConfig conf(false);
        conf.Add("stale", "x");  // reading empties the map first
        EXPECT_EQ(conf.ReadFile(path.c_str()), static_cast<int>(c.expected.size())) << c.name;
        EXPECT_EQ(Entries(conf), c.expected) << c.name;

        CRukConfig parsed(false);
        EXPECT_EQ(parsed.Parse(c.text.data(), static_cast<unsigned>(c.text.size())),
                  static_cast<int>(c.expected.size()))
            << c.name;
        EXPECT_EQ(Entries(parsed), c.expected) << c.name;
    }
}

TEST(ConfigRead, EncodedSyntax)
{
    TempDir tmp;
    const std::string path = tmp / "enc.dat";
    ASSERT_TRUE(testutil::WriteFile(path, "board+title=My+%E7%BE%8E+board\r\n"
                                          "v=line1%0Aline2+%2B+100%25\n"
                                          "%23not=a+comment\n"
                                          "# real comment\n"));
    CRukConfig conf(true);
    EXPECT_EQ(conf.ReadFile(path.c_str()), 3);
    EXPECT_EQ(Entries(conf), (Pairs{{"board title", "My \xe7\xbe\x8e board"},
                                    {"v", "line1\nline2 + 100%"},
                                    {"#not", "a comment"}}));
}

TEST(ConfigWrite, EncodedRoundTrip)
{
    TempDir tmp;
    const std::string path = tmp / "enc.dat";
    CRukConfig conf(true);
    conf.Add("v", "line1\nline2 + 100%");
    conf.Add("board title", "x");
    conf.Add("odd=name#", "a=b\r\n#c\xe7\x82\xa0");
    conf.Add("empty", "");
    const std::string expected =
        "v=line1%0Aline2+%2B+100%25\n"
        "board+title=x\n"
        "odd%3Dname%23=a%3Db%0D%0A%23c%E7%82%A0\n"
        "empty=\n";
    EXPECT_EQ(conf.WriteFile(path.c_str()), static_cast<int>(expected.size()));
    EXPECT_EQ(testutil::ReadFile(path), expected);
    EXPECT_STREQ(conf.Serialize().GetText(), expected.c_str());

    CRukConfig back(true);
    EXPECT_EQ(back.ReadFile(path.c_str()), 4);
    EXPECT_EQ(Entries(back), Entries(conf));
}

TEST(ConfigWrite, PlainWriteAndOrder)
{
    TempDir tmp;
    const std::string path = tmp / "plain.dat";
    ASSERT_TRUE(testutil::WriteFile(path, "b=2\na=1\n"));
    CRukConfig conf(false);
    ASSERT_EQ(conf.ReadFile(path.c_str()), 2);
    conf.SetAt("c", "3");
    conf.SetAt("b", "two");
    // a plain value holding a line feed splits into a line of its own
    conf.SetAt("d", "x\ne=5");
    EXPECT_EQ(conf.WriteFile(path.c_str()), 22);
    EXPECT_EQ(testutil::ReadFile(path), "b=two\na=1\nc=3\nd=x\ne=5\n");
    CRukConfig back(false);
    EXPECT_EQ(back.ReadFile(path.c_str()), 5);
    EXPECT_STREQ(back.Value("d").GetText(), "x");
    EXPECT_STREQ(back.Value("e").GetText(), "5");

    CRukConfig empty(false);
    EXPECT_EQ(empty.WriteFile(path.c_str()), 0);
    EXPECT_EQ(testutil::ReadFile(path), "");
    EXPECT_EQ(empty.ReadFile(path.c_str()), 0);
}

TEST(ConfigFile, MissingFileAndFailedWrites)
{
    TempDir tmp;
    CRukConfig conf(true);
    conf.Add("x", "1");
    EXPECT_EQ(conf.ReadFile((tmp / "missing.dat").c_str()), -1);
    EXPECT_EQ(conf.GetSize(), 0);
    conf.Add("x", "1");
    EXPECT_EQ(conf.WriteFile((tmp / "no/dir.dat").c_str()), -1);

    // a write cut short by the file-size limit keeps the old file
    const std::string path = tmp / "sys.dat";
    ASSERT_TRUE(testutil::WriteFile(path, "old=1\n"));
    conf.SetAt("big", std::string(100000, 'b').c_str());
    int r = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {512, 512};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return 50;
        return conf.WriteFile(path.c_str(), true, (tmp / "lockfile.lock").c_str());
    });
    EXPECT_EQ(r, -1);
    EXPECT_EQ(testutil::ReadFile(path), "old=1\n");
}

TEST(ConfigFile, LockAgainstOtherProcesses)
{
    TempDir tmp;
    const std::string path = tmp / "sys.dat";
    const std::string lock = tmp / "lockfile.lock";
    ASSERT_TRUE(testutil::WriteFile(path, "a=1\n"));

    struct {
        bool heldShared;
        bool write;
        int expected;
    } cases[] = {
        {false, false, -2},  // a writer holds it: reading is refused
        {true, false, 1},    // readers share it
        {true, true, -2},    // a reader holds it: writing is refused
        {false, true, -2},
    };
    for (const auto& c : cases) {
        int r = WithLockHeld(lock, c.heldShared, [&] {
            CRukConfig conf(false);
            if (c.write) {
                conf.Add("a", "changed");
                return conf.WriteFile(path.c_str(), true, lock.c_str());
            }
            int n = conf.ReadFile(path.c_str(), true, lock.c_str());
            return n == -2 && conf.GetSize() != 0 ? 77 : n;
        });
        EXPECT_EQ(r, c.expected) << c.heldShared << c.write;
        EXPECT_EQ(testutil::ReadFile(path), "a=1\n");
    }

    // with the lock free both work, and the lock is released afterwards
    CRukConfig conf(false);
    EXPECT_EQ(conf.ReadFile(path.c_str(), true, lock.c_str()), 1);
    conf.SetAt("a", "2");
    EXPECT_EQ(conf.WriteFile(path.c_str(), true, lock.c_str()), 4);
    EXPECT_EQ(InChild([&] {
                  CRukFlock f;
                  return f.Lock(lock.c_str());
              }),
              0);
    EXPECT_EQ(testutil::ReadFile(path), "a=2\n");
}
