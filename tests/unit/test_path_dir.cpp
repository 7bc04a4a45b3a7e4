// Tests of CRukStrPath (splitting paths, two-byte characters included) and
// CRukDir (listings, removal, glob, copy and remove by pattern) on small
// directory trees under a temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "rukdir.h"
#include "rukglobal.h"
#include "rukstrpath.h"
#include "testutil.h"

using testutil::TempDir;
typedef std::vector<std::string> Strings;

namespace {

Strings Sorted(const CRukStrAry& a)
{
    Strings v;
    for (int i = 0; i < a.GetSize(); i++)
        v.push_back(a[i].GetText());
    std::sort(v.begin(), v.end());
    return v;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The tree  f1, sub/f2, sub/deeper/f3, empty/  below root.
void MakeTree(const std::string& root)
{
    ASSERT_EQ(mkdir((root + "/sub").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((root + "/sub/deeper").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((root + "/empty").c_str(), 0777), 0);
    ASSERT_TRUE(testutil::WriteFile(root + "/f1", "1"));
    ASSERT_TRUE(testutil::WriteFile(root + "/sub/f2", "2"));
    ASSERT_TRUE(testutil::WriteFile(root + "/sub/deeper/f3", "3"));
}

// Keeps the current directory of the test process unchanged.
class CwdGuard {
public:
    CwdGuard() { m_ok = getcwd(m_sz, sizeof(m_sz)) != nullptr; }
    ~CwdGuard()
    {
        if (m_ok && chdir(m_sz) != 0)
            ADD_FAILURE() << "cannot return to " << m_sz;
    }

private:
    char m_sz[4096];
    bool m_ok;
};

}  // namespace

TEST(StrPath, Split)
{
    struct {
        const char* path;
        Strings dirs;
        const char* name;
        const char* title;
        const char* ext;
    } cases[] = {
        {"C:\\dir\\photo.tar.gz", {"C:", "dir"}, "photo.tar.gz", "photo.tar", ".gz"},
        {"/a/b", {"", "a"}, "b", "b", ""},
        {"name", {}, "name", "name", ""},
        {"", {}, "", "", ""},
        {"a//b\\\\c/", {"a", "b", "c"}, "", "", ""},
        {"a.d/file", {"a.d"}, "file", "file", ""},
        {"dir/.hidden", {"dir"}, ".hidden", "", ".hidden"},
        {"x/name.", {"x"}, "name.", "name", "."},
        // Shift_JIS: the trail byte 0x5C of "\x95\x5c" is not a separator
        {"d\\\x95\x5c\\\x95\x5c.txt", {"d", "\x95\x5c"}, "\x95\x5c.txt", "\x95\x5c", ".txt"},
        // EUC-JP bytes are skipped in pairs
        {"\xa4\xa2/\xa4\xa4.txt", {"\xa4\xa2"}, "\xa4\xa4.txt", "\xa4\xa4", ".txt"},
    };
    for (const auto& c : cases) {
        CRukStrPath p;
        p.Split(c.path);
        EXPECT_STREQ(p.GetText(), c.path);
        Strings dirs;
        for (int i = 0; i < p.GetDirs().GetSize(); i++)
            dirs.push_back(p.GetDirs()[i].GetText());
        EXPECT_EQ(dirs, c.dirs) << testing::PrintToString(c.path);
        EXPECT_STREQ(p.GetName().GetText(), c.name) << testing::PrintToString(c.path);
        EXPECT_STREQ(p.GetTitle().GetText(), c.title) << testing::PrintToString(c.path);
        EXPECT_STREQ(p.GetExt().GetText(), c.ext) << testing::PrintToString(c.path);
    }
}

TEST(StrPath, JoiningAndAssignment)
{
    CRukStrPath p("C:\\dir\\photo.tar.gz");
    p.Split();
    EXPECT_STREQ(p.Directory("/").GetText(), "C:/dir");
    EXPECT_STREQ(p.FullPath("/").GetText(), "C:/dir/photo.tar.gz");
    EXPECT_STREQ(CRukStrPath().Split("/a/b").Directory("/").GetText(), "/a");
    EXPECT_STREQ(CRukStrPath().Split("name").Directory("/").GetText(), "");

    CRukStrPath copy(p);
    p = "other/x.y";  // text only: the parts stay until the next Split
    EXPECT_STREQ(p.GetText(), "other/x.y");
    EXPECT_STREQ(p.GetName().GetText(), "photo.tar.gz");
    p.Split();
    EXPECT_STREQ(p.GetName().GetText(), "x.y");
    EXPECT_STREQ(copy.GetName().GetText(), "photo.tar.gz");
    EXPECT_EQ(copy.GetDirs().GetSize(), 2);

    EXPECT_STREQ(CRukStrPath::Normalize("data//x/").GetText(), "data/x");
    EXPECT_STREQ(CRukStrPath::Normalize("/var/d").GetText(), "/var/d");
    EXPECT_STREQ(CRukStrPath::Normalize("a\\b").GetText(), "a/b");
}

TEST(DirList, ListingsFlatAndRecursive)
{
    TempDir tmp;
    MakeTree(tmp.path());
    const std::string r = tmp.path();
    struct {
        const char* name;
        std::function<int(CRukStrAry&)> list;
        Strings expected;
    } cases[] = {
        {"files only", [&](CRukStrAry& o) { return CRukDir::GetFileList(o, r.c_str(), false, true); },
         {r + "/f1"}},
        {"files and dirs",
         [&](CRukStrAry& o) { return CRukDir::GetFileList(o, r.c_str(), false, false); },
         {r + "/empty/", r + "/f1", r + "/sub/"}},
        {"files recursive",
         [&](CRukStrAry& o) { return CRukDir::GetFileList(o, r.c_str(), true, true); },
         {r + "/f1", r + "/sub/deeper/f3", r + "/sub/f2"}},
        {"all recursive",
         [&](CRukStrAry& o) { return CRukDir::GetFileList(o, r.c_str(), true, false); },
         {r + "/empty/", r + "/f1", r + "/sub/", r + "/sub/deeper/", r + "/sub/deeper/f3",
          r + "/sub/f2"}},
        {"names", [&](CRukStrAry& o) { return CRukDir::GetFileNameList(o, r.c_str(), false, true); },
         {"f1"}},
        {"names and dirs",
         [&](CRukStrAry& o) { return CRukDir::GetFileNameList(o, r.c_str(), false, false); },
         {"empty", "f1", "sub"}},
        {"names recursive",
         [&](CRukStrAry& o) { return CRukDir::GetFileNameList(o, r.c_str(), true, true); },
         {"f1", r + "/sub/deeper/f3", r + "/sub/f2"}},
        {"dirs", [&](CRukStrAry& o) { return CRukDir::GetDirList(o, r.c_str(), false); },
         {r + "/empty/", r + "/sub/"}},
        {"dirs recursive", [&](CRukStrAry& o) { return CRukDir::GetDirList(o, r.c_str(), true); },
         {r + "/empty/", r + "/sub/", r + "/sub/deeper/"}},
        {"dir names", [&](CRukStrAry& o) { return CRukDir::GetDirNameList(o, r.c_str(), false); },
         {"empty", "sub"}},
        {"dir names recursive",
         [&](CRukStrAry& o) { return CRukDir::GetDirNameList(o, r.c_str(), true); },
         {"empty", "sub", r + "/sub/deeper/"}},
        // the listed directory is normalized
        {"normalized",
         [&](CRukStrAry& o) { return CRukDir::GetFileList(o, (r + "//sub/").c_str(), false, true); },
         {r + "/sub/f2"}},
    };
    for (const auto& c : cases) {
        CRukStrAry out;
        out.Add("kept");  // listings append
        int n = c.list(out);
        EXPECT_EQ(n, static_cast<int>(c.expected.size())) << c.name;
        Strings expected = c.expected;
        expected.push_back("kept");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Sorted(out), expected) << c.name;
    }

    CRukStrAry out;
    EXPECT_EQ(CRukDir::GetFileList(out, (r + "/missing").c_str(), false, false), -1);
    EXPECT_EQ(CRukDir::GetDirList(out, (r + "/f1").c_str(), true), -1);
    EXPECT_EQ(CRukDir::GetFileList(out, "", true, false), -1);
    EXPECT_EQ(CRukDir::GetFileNameList(out, nullptr, false, false), -1);
    EXPECT_EQ(out.GetSize(), 0);
}

TEST(DirList, WorksFromAWorkingDirectoryDeeperThan256Bytes)
{
    TempDir tmp;
    std::string deep = tmp.path();
    for (int i = 0; i < 12; i++) {
        deep += "/" + std::string(30, 'a' + i);
        ASSERT_EQ(mkdir(deep.c_str(), 0777), 0);
    }
    ASSERT_GT(deep.size(), 300u);
    CwdGuard guard;
    ASSERT_EQ(chdir(deep.c_str()), 0);
    ASSERT_EQ(mkdir("x", 0777), 0);
    ASSERT_TRUE(testutil::WriteFile("x/file", "f"));
    ASSERT_EQ(mkdir("x/y", 0777), 0);

    CRukStrAry out;
    EXPECT_EQ(CRukDir::GetFileList(out, "x", true, false), 2);
    EXPECT_EQ(Sorted(out), (Strings{"x/file", "x/y/"}));
    EXPECT_EQ(CRukDir::Glob(out, "x", "f*", true), 1);
    EXPECT_EQ(CRukDir::RemoveFiles("x", true, false), 0);
    EXPECT_FALSE(Exists("x/file"));
    EXPECT_TRUE(Exists("x"));
    char sz[4096];
    ASSERT_NE(getcwd(sz, sizeof(sz)), nullptr);
    EXPECT_EQ(std::string(sz), deep) << "listing never changes the directory";
}

// A link back up the tree is listed but not followed without end.
TEST(DirList, LinkCycleEnds)
{
    TempDir tmp;
    MakeTree(tmp.path());
    ASSERT_EQ(symlink("..", (tmp / "sub/up").c_str()), 0);
    ASSERT_EQ(symlink(".", (tmp / "sub/self").c_str()), 0);
    CRukStrAry out;
    int n = CRukDir::GetDirList(out, tmp.path().c_str(), true);
    EXPECT_EQ(Sorted(out), (Strings{tmp / "empty/", tmp / "sub/", tmp / "sub/deeper/",
                                    tmp / "sub/self/", tmp / "sub/up/"}));
    EXPECT_EQ(n, 5);
}

TEST(DirRemove, RemoveFilesModes)
{
    struct {
        bool recursive, keepDirs;
        bool ok;
        Strings remaining;  // relative to the root
    } cases[] = {
        {true, false, true, {}},
        {true, true, true, {"empty", "sub", "sub/deeper"}},
        {false, true, true, {"empty", "sub", "sub/deeper", "sub/deeper/f3", "sub/f2"}},
        // sub is not empty: its rmdir fails, the empty one goes
        {false, false, false, {"sub", "sub/deeper", "sub/deeper/f3", "sub/f2"}},
    };
    for (const auto& c : cases) {
        TempDir tmp;
        MakeTree(tmp.path());
        int r = CRukDir::RemoveFiles(tmp.path().c_str(), c.recursive, c.keepDirs);
        EXPECT_EQ(r == 0, c.ok) << c.recursive << c.keepDirs;
        EXPECT_TRUE(Exists(tmp.path())) << "the directory itself stays";
        CRukStrAry all;
        CRukDir::GetFileList(all, tmp.path().c_str(), true, false);
        Strings left;
        for (const std::string& s : Sorted(all)) {
            std::string rel = s.substr(tmp.path().size() + 1);
            if (!rel.empty() && rel.back() == '/')
                rel.pop_back();
            left.push_back(rel);
        }
        EXPECT_EQ(left, c.remaining) << c.recursive << c.keepDirs;
    }
    EXPECT_EQ(CRukDir::RemoveFiles("/nonexistent/dir", true, false), -1);
    EXPECT_EQ(CRukDir::RemoveFiles("", true, false), -1);
}

TEST(DirRemove, LinksAreRemovedNotFollowed)
{
    TempDir outside;
    ASSERT_TRUE(testutil::WriteFile(outside / "precious", "keep me"));
    TempDir tmp;
    ASSERT_EQ(symlink(outside.path().c_str(), (tmp / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink((outside / "precious").c_str(), (tmp / "filelink").c_str()), 0);
    EXPECT_EQ(CRukDir::RemoveFiles(tmp.path().c_str(), true, false), 0);
    EXPECT_FALSE(Exists(tmp / "dirlink"));
    EXPECT_FALSE(Exists(tmp / "filelink"));
    EXPECT_EQ(testutil::ReadFile(outside / "precious"), "keep me");
}

TEST(DirGlob, MatchesInTheDirectoryOnly)
{
    TempDir tmp;
    const std::string d = tmp / "a[1]*";  // glob characters in the directory name
    ASSERT_EQ(mkdir(d.c_str(), 0777), 0);
    for (const char* f : {"x.txt", "y.txt", "z.dat"})
        ASSERT_TRUE(testutil::WriteFile(d + "/" + f, f));
    ASSERT_EQ(mkdir((d + "/dir.txt").c_str(), 0777), 0);
    ASSERT_TRUE(testutil::WriteFile(tmp / "outside.txt", "o"));
    struct {
        const char* pattern;
        bool filesOnly;
        Strings expected;
    } cases[] = {
        {"*.txt", true, {"x.txt", "y.txt"}},
        {"*.txt", false, {"dir.txt", "x.txt", "y.txt"}},
        {"z.dat", true, {"z.dat"}},
        {"*.none", true, {}},
        {"", true, {}},
        {"../*.txt", true, {}},  // never outside the directory
        {"*/x*", true, {}},
    };
    for (const auto& c : cases) {
        CRukStrAry out;
        EXPECT_EQ(CRukDir::Glob(out, d.c_str(), c.pattern, c.filesOnly),
                  static_cast<int>(c.expected.size()))
            << c.pattern;
        EXPECT_EQ(Sorted(out), c.expected) << c.pattern;
    }
    CRukStrAry out;
    EXPECT_EQ(CRukDir::Glob(out, (tmp / "missing").c_str(), "*", true), -1);
    EXPECT_EQ(CRukDir::Glob(out, (d + "/x.txt").c_str(), "*", true), -1);
}

TEST(DirPattern, CopyAndRemoveByPattern)
{
    TempDir tmp;
    const std::string src = tmp / "src", dst = tmp / "dst";
    ASSERT_EQ(mkdir(src.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(dst.c_str(), 0777), 0);
    const std::string bin("b\0in", 4);
    ASSERT_TRUE(testutil::WriteFile(src + "/a.dat", bin));
    ASSERT_TRUE(testutil::WriteFile(src + "/b.dat", "bee"));
    ASSERT_TRUE(testutil::WriteFile(src + "/c.txt", "sea"));
    ASSERT_EQ(mkdir((src + "/d.dat").c_str(), 0777), 0);

    EXPECT_EQ(CRukDir::CopyFileEx(src.c_str(), "*.dat", dst.c_str()), 0);
    EXPECT_EQ(testutil::ReadFile(dst + "/a.dat"), bin);
    EXPECT_EQ(testutil::ReadFile(dst + "/b.dat"), "bee");
    EXPECT_FALSE(Exists(dst + "/c.txt"));
    EXPECT_FALSE(Exists(dst + "/d.dat"));
    EXPECT_EQ(CRukDir::CopyFileEx((src + "/c.*").c_str(), dst.c_str()), 0);
    EXPECT_EQ(testutil::ReadFile(dst + "/c.txt"), "sea");
    EXPECT_EQ(CRukDir::CopyFileEx((src + "/*.none").c_str(), dst.c_str()), 0);
    EXPECT_EQ(CRukDir::CopyFileEx((src + "/*").c_str(), (src + "/c.txt").c_str()), -1);
    EXPECT_EQ(CRukDir::CopyFileEx((src + "/*").c_str(), (tmp / "missing").c_str()), -1);
    EXPECT_EQ(CRukDir::CopyFileEx((tmp / "missing/*").c_str(), dst.c_str()), -1);

    {  // a bare pattern means the current directory
        CwdGuard guard;
        ASSERT_EQ(chdir(src.c_str()), 0);
        EXPECT_EQ(CRukDir::CopyFileEx("b.*", "../dst2"), -1);
        ASSERT_EQ(mkdir("../dst2", 0777), 0);
        EXPECT_EQ(CRukDir::CopyFileEx("b.*", "../dst2"), 0);
        EXPECT_EQ(CRukDir::CopyFileEx("", "*.txt", "../dst2"), 0);
        EXPECT_EQ(testutil::ReadFile("../dst2/b.dat"), "bee");
        EXPECT_EQ(testutil::ReadFile("../dst2/c.txt"), "sea");
        EXPECT_EQ(CRukDir::RemoveFileEx("", "c.*"), 0);
        EXPECT_FALSE(Exists("c.txt"));
    }

    EXPECT_EQ(CRukDir::RemoveFileEx((dst + "/*.dat").c_str()), 0);
    EXPECT_FALSE(Exists(dst + "/a.dat"));
    EXPECT_FALSE(Exists(dst + "/b.dat"));
    EXPECT_TRUE(Exists(dst + "/c.txt"));
    EXPECT_EQ(CRukDir::RemoveFileEx(src.c_str(), "*.dat"), 0);
    EXPECT_TRUE(Exists(src + "/d.dat")) << "directories are not removed";
    EXPECT_EQ(CRukDir::RemoveFileEx((tmp / "missing/*").c_str()), -1);
    EXPECT_EQ(CRukDir::RemoveFileEx(src.c_str(), "*.none"), 0);
}

TEST(DirMake, MkDirUsesTheDirectoryMode)
{
    TempDir tmp;
    int r;
    {
        testutil::Restore mode(go.m_nDirMode, 0750);
        mode_t mask = umask(0);
        r = CRukDir::MkDir((tmp / "made").c_str());
        umask(mask);
    }
    ASSERT_EQ(r, 0);
    struct stat st;
    ASSERT_EQ(stat((tmp / "made").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_NE(CRukDir::MkDir((tmp / "made").c_str()), 0);
    EXPECT_NE(CRukDir::ChDir((tmp / "missing").c_str()), 0);
}
