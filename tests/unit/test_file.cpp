// Tests of CRukFlock, CRukFile and CRukAtomicFile. fcntl locks never
// conflict within one process, so every lock conflict is checked against a
// forked child.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <functional>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rukatomicfile.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

using testutil::InChild;

// What a second process gets when it tries the lock.
int LockInChild(const std::string& path, bool bShared)
{
    return InChild([&] {
        CRukFlock lock;
        return lock.Lock(path.c_str(), bShared);
    });
}

// A child process holding a lock until the holder is destroyed.
class LockHolder {
public:
    LockHolder(const std::string& path, bool bShared) : m_pid(-1), m_result(-999)
    {
        int up[2], down[2];
        if (pipe(up) != 0 || pipe(down) != 0)
            return;
        fflush(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            close(up[0]);
            close(down[1]);
            CRukFlock lock;
            signed char r = static_cast<signed char>(lock.Lock(path.c_str(), bShared));
            if (write(up[1], &r, 1) != 1)
                _exit(1);
            char c;
            while (read(down[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(up[1]);
        close(down[0]);
        m_fdRelease = down[1];
        signed char r;
        if (m_pid > 0 && read(up[0], &r, 1) == 1)
            m_result = r;
        close(up[0]);
    }
    ~LockHolder() { Release(); }
    int result() const { return m_result; }
    void Release()
    {
        if (m_pid <= 0)
            return;
        close(m_fdRelease);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid;
    int m_fdRelease = -1;
    int m_result;
};

std::string Str(const CRukBuffer& b)
{
    return b.IsEmpty() ? std::string() : std::string(b.GetData(), b.GetSize());
}

// Names in the directory other than the ones given (temp files left over).
int CountEntries(const std::string& dir)
{
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                n++;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST(Flock, ConflictsBetweenProcesses)
{
    TempDir dir;
    const std::string lock = dir / "lockfile.lock";
    struct {
        bool firstShared, secondShared;
        int expected;
    } cases[] = {
        {false, false, -2},
        {false, true, -2},
        {true, false, -2},
        {true, true, 0},  // readers never refuse each other
    };
    for (const auto& c : cases) {
        LockHolder holder(lock, c.firstShared);
        ASSERT_EQ(holder.result(), 0);
        EXPECT_EQ(LockInChild(lock, c.secondShared), c.expected)
            << c.firstShared << " then " << c.secondShared;
        holder.Release();
        EXPECT_EQ(LockInChild(lock, c.secondShared), 0) << "after the holder went";
    }

    // in this process: the lock is released by Unlock and by destruction
    {
        CRukFlock mine;
        ASSERT_EQ(mine.Lock(lock.c_str()), 0);
        EXPECT_TRUE(mine.IsLocked());
        EXPECT_EQ(LockInChild(lock, true), -2);
        EXPECT_EQ(mine.Unlock(), 0);
        EXPECT_FALSE(mine.IsLocked());
        EXPECT_EQ(LockInChild(lock, false), 0);
        ASSERT_EQ(mine.Lock(lock.c_str()), 0);
    }
    EXPECT_EQ(LockInChild(lock, false), 0);
}

TEST(Flock, LockFileCreationAndErrors)
{
    TempDir dir;
    const std::string lock = dir / "new.lock";
    {
        testutil::Restore mode(go.m_nFileMode, 0640);
        CRukFlock f;
        EXPECT_EQ(f.Lock(lock.c_str()), 0);
        EXPECT_EQ(f.Unlock(), 0);
        EXPECT_EQ(f.Unlock(), -1);  // nothing held any more
    }
    struct stat st;
    ASSERT_EQ(stat(lock.c_str(), &st), 0) << "the lock file stays";
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    CRukFlock f;
    EXPECT_EQ(f.Lock((dir / "missing/x.lock").c_str()), -1);
    EXPECT_FALSE(f.IsLocked());
    EXPECT_EQ(f.Lock(dir.path().c_str()), -1);  // a directory cannot be opened

    // refused: no lock is held afterwards
    LockHolder holder(lock, false);
    EXPECT_EQ(f.Lock(lock.c_str()), -2);
    EXPECT_FALSE(f.IsLocked());
    EXPECT_EQ(f.Unlock(), -1);

    // re-locking releases the previous lock
    holder.Release();
    const std::string other = dir / "other.lock";
    ASSERT_EQ(f.Lock(lock.c_str()), 0);
    ASSERT_EQ(f.Lock(other.c_str()), 0);
    EXPECT_EQ(LockInChild(lock, false), 0);
    EXPECT_EQ(LockInChild(other, false), -2);
}

TEST(Flock, DefaultPathIsInTheCurrentDirectory)
{
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    CRukFlock f;
    int r = f.Lock(nullptr);
    bool bExists = access("lockfile.lock", F_OK) == 0;
    f.Unlock();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(bExists);
}

TEST(FileLock, OpenTakesSharedOrExclusiveLock)
{
    TempDir dir;
    const std::string lock = dir / "lockfile.lock";
    const std::string data = dir / "data.txt";
    ASSERT_TRUE(testutil::WriteFile(data, "x"));
    struct {
        const char* mode;
        int sharedOther, exclusiveOther;
    } cases[] = {
        {"r", 0, -2},
        {"rb", 0, -2},
        {"r+", -2, -2},
        {"wb", -2, -2},
        {"ab", -2, -2},
    };
    for (const auto& c : cases) {
        CRukFile f;
        ASSERT_EQ(f.Open(data.c_str(), c.mode, true, lock.c_str()), 0) << c.mode;
        EXPECT_TRUE(f.IsOpen());
        EXPECT_EQ(LockInChild(lock, true), c.sharedOther) << c.mode;
        EXPECT_EQ(LockInChild(lock, false), c.exclusiveOther) << c.mode;
        f.Close();
        EXPECT_FALSE(f.IsOpen());
        EXPECT_EQ(LockInChild(lock, false), 0) << c.mode << ": Close releases the lock";
    }
}

TEST(FileLock, OpenRefusedOrFailingLeavesNoLock)
{
    TempDir dir;
    const std::string lock = dir / "lockfile.lock";
    const std::string data = dir / "data.txt";
    ASSERT_TRUE(testutil::WriteFile(data, "x"));
    CRukFile f;
    {
        LockHolder writer(lock, false);
        EXPECT_EQ(f.Open(data.c_str(), "rb", true, lock.c_str()), -2);
        EXPECT_FALSE(f.IsOpen());
        CRukBuffer out("stale");
        EXPECT_EQ(f.ReadFile(data.c_str(), out, true, lock.c_str()), -2);
        EXPECT_TRUE(out.IsEmpty());
    }
    {
        LockHolder reader(lock, true);
        EXPECT_EQ(f.ReadFile(data.c_str(), true, lock.c_str()).GetSize(), 1u);
        EXPECT_EQ(f.WriteFile(data.c_str(), "new", 3, true, lock.c_str()), -2);
        EXPECT_EQ(testutil::ReadFile(data), "x");
    }
    // a missing file after a successful lock: the lock goes again
    EXPECT_EQ(f.Open((dir / "missing").c_str(), "rb", true, lock.c_str()), -1);
    EXPECT_EQ(LockInChild(lock, false), 0);
    EXPECT_EQ(f.Open(data.c_str(), "rb", true, (dir / "no/dir.lock").c_str()), -1);
    EXPECT_EQ(f.Open(nullptr, "rb"), -1);
}

TEST(FileLock, CloseWithoutOpenFileKeepsTheLock)
{
    TempDir dir;
    const std::string lock = dir / "lockfile.lock";
    CRukFile f;
    f.Close();  // never opened: nothing happens
    ASSERT_EQ(f.Lock(lock.c_str()), 0);
    f.Close();
    EXPECT_EQ(LockInChild(lock, true), -2);
    EXPECT_EQ(f.Unlock(), 0);
    EXPECT_EQ(LockInChild(lock, false), 0);
}

TEST(FileReadWrite, WholeFiles)
{
    TempDir dir;
    const std::string bin("a\0b\r\n\xff", 6);
    struct {
        const char* name;
        const char* content;  // null: the file does not exist
        size_t size;
        int expected;
    } cases[] = {
        {"empty", "", 0, 0},
        {"missing", nullptr, 0, -1},
        {"binary", bin.data(), bin.size(), 6},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        if (c.content) {
            ASSERT_TRUE(testutil::WriteFile(path, std::string(c.content, c.size)));
        }
        CRukFile f;
        CRukBuffer out("old contents");
        EXPECT_EQ(f.ReadFile(path.c_str(), out), c.expected) << c.name;
        EXPECT_EQ(Str(out), c.content ? std::string(c.content, c.size) : "") << c.name;
        EXPECT_EQ(Str(f.ReadFile(path.c_str())), Str(out)) << c.name;
        EXPECT_FALSE(f.IsOpen()) << c.name;
    }

    CRukFile f;
    const std::string path = dir / "written";
    EXPECT_EQ(f.WriteFile(path.c_str(), bin.data(), 6), 6);
    EXPECT_EQ(testutil::ReadFile(path), bin);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(f.WriteFile(path.c_str(), "xy", 2, true, (dir / "lockfile.lock").c_str()), 2);
    EXPECT_EQ(testutil::ReadFile(path), "xy");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the old permissions stay";
    EXPECT_EQ(f.WriteFile(path.c_str(), "", 0), 0);
    EXPECT_EQ(testutil::ReadFile(path), "");
    EXPECT_EQ(f.WriteFile(path.c_str(), nullptr, 10), 0);
    EXPECT_EQ(f.WriteFile(path.c_str(), "abc", -4), 0);
    EXPECT_EQ(f.WriteFile((dir / "no/such/file").c_str(), "x", 1), -1);
    EXPECT_EQ(CountEntries(dir.path()), 4) << "no temporary file is left";
}

// A write that fails half way (here: the file-size limit) leaves the old
// file byte for byte and no temporary file.
TEST(FileReadWrite, FailedWriteKeepsTheOldFile)
{
    TempDir dir;
    const std::string path = dir / "data.txt";
    ASSERT_TRUE(testutil::WriteFile(path, "old contents\n"));
    std::string big(200000, 'n');
    int r = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {1000, 1000};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return 50;
        CRukFile f;
        return f.WriteFile(path.c_str(), big.data(), static_cast<int>(big.size()));
    });
    EXPECT_EQ(r, -1);
    EXPECT_EQ(testutil::ReadFile(path), "old contents\n");
    EXPECT_EQ(CountEntries(dir.path()), 1);
}

TEST(FileReadWrite, FileTooLargeForTheResultIsRefused)
{
    TempDir dir;
    const std::string path = dir / "sparse";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    int r = ftruncate(fd, 4294967296LL + 16);  // sparse: no disk space used
    close(fd);
    if (r != 0)
        GTEST_SKIP() << "no sparse files here";
    CRukFile f;
    CRukBuffer out;
    EXPECT_EQ(f.ReadFile(path.c_str(), out), -1);
    EXPECT_TRUE(out.IsEmpty());
}

TEST(FileStream, LinesOfAnyLength)
{
    TempDir dir;
    const std::string path = dir / "lines";
    const size_t lengths[] = {0, 1, 2047, 2048, 2049, 4097};
    std::string content;
    for (size_t n : lengths)
        content += std::string(n, 'a' + n % 26) + "\n";
    content += "cr\r\n" + std::string(5000, 'z');  // last line without line feed
    ASSERT_TRUE(testutil::WriteFile(path, content));

    CRukFile f;
    ASSERT_EQ(f.Open(path.c_str(), "rb"), 0);
    CRukString line;
    for (size_t n : lengths) {
        ASSERT_EQ(f.ReadString(line), 1);
        EXPECT_EQ(std::string(line.GetText()), std::string(n, 'a' + n % 26) + "\n") << n;
    }
    ASSERT_EQ(f.ReadString(line), 1);
    EXPECT_STREQ(line.GetText(), "cr\r\n");
    ASSERT_EQ(f.ReadString(line), 1);
    EXPECT_EQ(std::string(line.GetText()), std::string(5000, 'z'));
    EXPECT_EQ(f.ReadString(line), 0);
    EXPECT_STREQ(line.GetText(), "");
}

TEST(FileStream, BufferStringAndFormatOperations)
{
    TempDir dir;
    const std::string path = dir / "stream";
    CRukFile f;
    EXPECT_EQ(f.Seek(0, SEEK_SET), -1);  // no file open
    ASSERT_EQ(f.Open(path.c_str(), "wb"), 0);
    EXPECT_STREQ(f.GetPath().GetText(), path.c_str());
    EXPECT_EQ(f.WriteBuffer("ab\0c", 4), 4);
    EXPECT_EQ(f.WriteBuffer(nullptr, 4), 0);
    EXPECT_EQ(f.WriteString("line\n"), 5);
    EXPECT_EQ(f.WriteString(nullptr), 0);
    EXPECT_EQ(f.WriteFormat("%d-%s\n", 12, "x"), 5);
    f.Close();
    EXPECT_STREQ(f.GetPath().GetText(), "");
    EXPECT_EQ(testutil::ReadFile(path), std::string("ab\0cline\n12-x\n", 14));

    ASSERT_EQ(f.Open(path.c_str(), "rb"), 0);
    char sz[16];
    EXPECT_EQ(f.ReadBuffer(sz, 4), 4);
    EXPECT_EQ(std::string(sz, 4), std::string("ab\0c", 4));
    EXPECT_EQ(f.ReadString(sz, sizeof(sz)), 1);
    EXPECT_STREQ(sz, "line\n");
    CRukString part = f.ReadString(2);
    EXPECT_STREQ(part.GetText(), "12");
    EXPECT_EQ(f.Seek(-2, SEEK_END), 0);
    CRukBuffer rest = f.ReadBuffer(6);  // only two bytes left; the rest stays zero
    EXPECT_EQ(Str(rest), std::string("x\n\0\0\0\0", 6));
    EXPECT_EQ(f.ReadBuffer(sz, 4), 0);
    EXPECT_EQ(f.ReadString(sz, sizeof(sz)), 0);
    EXPECT_STREQ(f.ReadString(8).GetText(), "");
    f.Close();

    EXPECT_EQ(CRukFile::GetFileSize(path.c_str()), 14);
    EXPECT_EQ(CRukFile::GetFileSize((dir / "missing").c_str()), -1);
    EXPECT_TRUE(S_ISDIR(CRukFile::GetFileAttr(dir.path().c_str())));
    EXPECT_TRUE(S_ISREG(CRukFile::GetFileAttr(path.c_str())));
    EXPECT_EQ(CRukFile::GetFileAttr(nullptr), -1);
}

TEST(AtomicFile, CommitAbortAndErrors)
{
    TempDir dir;
    const std::string path = dir / "target";
    ASSERT_TRUE(testutil::WriteFile(path, "old"));
    {
        CRukAtomicFile a;
        ASSERT_EQ(a.Open(path.c_str()), 0);
        EXPECT_EQ(a.Write("new", 3), 0);
        EXPECT_EQ(testutil::ReadFile(path), "old") << "nothing visible before Commit";
        EXPECT_EQ(CountEntries(dir.path()), 2);
    }  // destroyed without Commit
    EXPECT_EQ(testutil::ReadFile(path), "old");
    EXPECT_EQ(CountEntries(dir.path()), 1);

    CRukAtomicFile a;
    ASSERT_EQ(a.Open(path.c_str()), 0);
    EXPECT_EQ(a.Write("n", 1), 0);
    EXPECT_EQ(a.Write("ew", 2), 0);
    EXPECT_EQ(a.Commit(), 0);
    EXPECT_EQ(testutil::ReadFile(path), "new");
    EXPECT_EQ(a.Commit(), -1);
    EXPECT_EQ(a.Write("x", 1), -1);
    EXPECT_EQ(CountEntries(dir.path()), 1);

    CRukAtomicFile b;
    EXPECT_EQ(b.Open((dir / "missing/target").c_str()), -1);
    EXPECT_EQ(b.Open(nullptr), -1);
    EXPECT_EQ(b.Commit(), -1);
}
