// Small helpers shared by the unit tests:
// - a temporary directory removed with everything in it when the test ends,
//   whole-file reads and writes;
// - guards that give a global of go (the lock wait, the environment, the
//   file modes, the mail command, the trace log) a value for one test and
//   put the old one back however the test ends, since a failed ASSERT
//   returns at once and the next test of the process must find them as
//   they were;
// - a function run in a child process, for locks held by "another
//   request";
// - iconv, the tests' own way to make and read other encodings;
// - records of the message store and the ids of a board.
#ifndef TESTUTIL_H
#define TESTUTIL_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <ftw.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rukbbsdata.h"
#include "rukglobal.h"

namespace testutil {

// ---------------------------------------------------------------------------
// Files

// A fresh directory under /tmp, removed recursively by the destructor
// (what a test made unreadable included).
class TempDir {
public:
    // Made below pBase (a memory file system keeps fsync cheap for callers
    // that write a lot).
    explicit TempDir(const char* pBase = "/tmp")
    {
        std::string pattern = std::string(pBase) + "/ruk-test-XXXXXX";
        if (mkdtemp(&pattern[0]))
            m_path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir()
    {
        if (!m_path.empty())
            nftw(m_path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }

    const std::string& path() const { return m_path; }
    const char* c_str() const { return m_path.c_str(); }
    // The path of a name inside the directory.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    static int RemoveOne(const char* p, const struct stat* st, int, struct FTW*)
    {
        if (!S_ISLNK(st->st_mode))
            chmod(p, 0700);
        remove(p);
        return 0;
    }

    std::string m_path;
};

// Writes the bytes to the file, replacing it; false on any failure.
inline bool WriteFile(const std::string& path, const std::string& data)
{
    FILE* fp = fopen(path.c_str(), "wb");
    if (!fp)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), fp) == data.size();
    return fclose(fp) == 0 && ok;
}

// The whole content of the file, or "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    FILE* fp = fopen(path.c_str(), "rb");
    if (!fp)
        return "<missing>";
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
        data.append(buf, n);
    fclose(fp);
    return data;
}

// True when something (a file, a directory, a link to either) is there.
inline bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------
// Guards of globals

// Gives a variable a value for the life of the guard (or only keeps its
// value), and puts the old value back when the guard goes:
//     testutil::Restore wait(go.m_nLockWait, 5000);
//     testutil::Restore env(go.m_env);  // the test may change it freely
template <class T>
class Restore {
public:
    explicit Restore(T& var) : m_var(var), m_saved(var) {}
    template <class U>
    Restore(T& var, U&& value) : m_var(var), m_saved(var)
    {
        m_var = std::forward<U>(value);
    }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;
    ~Restore() { m_var = m_saved; }

private:
    T& m_var;
    T m_saved;
};

template <class T, class U>
Restore(T&, U&&) -> Restore<T>;

// The trace log of go written to path, switched on, for the life of the
// guard; its old path and switch come back afterwards.
class TraceTo {
public:
    explicit TraceTo(const std::string& path)
        : m_saved(go.m_log.GetPath()), m_nEnabled(go.m_log.GetEnabled())
    {
        go.m_log.Initialize(path.c_str());
        go.m_log.SetEnabled(1);
    }
    TraceTo(const TraceTo&) = delete;
    TraceTo& operator=(const TraceTo&) = delete;
    ~TraceTo()
    {
        go.m_log.Initialize(m_saved.GetText());
        go.m_log.SetEnabled(m_nEnabled);
    }

private:
    CRukString m_saved;
    int m_nEnabled;
};

// ---------------------------------------------------------------------------
// Child processes

// Starts fn() in a forked child, which exits with fn's result (-100..155)
// as its status; returns the child's pid.
template <class F>
pid_t StartChild(F fn)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn() + 100);
    return pid;
}

// Waits for a child of StartChild: what fn returned, or -999 when the
// child could not be started or did not exit normally.
inline int WaitChild(pid_t pid)
{
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -999;
    return WEXITSTATUS(status) - 100;
}

// Runs fn in a forked child: what it returned (see StartChild).
template <class F>
int InChild(F fn)
{
    return WaitChild(StartChild(fn));
}

// ---------------------------------------------------------------------------
// Encodings

// The text converted with iconv(3) from one encoding to another, or a
// marker "<iconv ...>" when that fails.
inline std::string Iconv(const char* pTo, const char* pFrom, const std::string& in)
{
    iconv_t cd = iconv_open(pTo, pFrom);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<iconv_open failed>";
    std::string out(in.size() * 4 + 16, '\0');
    char* pIn = const_cast<char*>(in.data());
    size_t nIn = in.size();
    char* pOut = &out[0];
    size_t nOut = out.size();
    size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return "<iconv failed>";
    out.resize(out.size() - nOut);
    return out;
}

// ---------------------------------------------------------------------------
// The message store

// A record with its keys, the name "name", the title "title <id>" (or the
// one given) and the body "body <id>".
inline CRukBBSData Rec(const char* id, const char* pid = "", const char* ppid = "",
                       const char* title = nullptr)
{
    CRukBBSData r;
    r.id = id;
    r.pid = pid;
    r.ppid = ppid;
    r.name = "name";
    r.title = title ? title : (std::string("title ") + id).c_str();
    r.mess = (std::string("body ") + id).c_str();
    return r;
}

// The ids of a list of records, joined by commas.
inline std::string Ids(const CRukBBSDataAry& list)
{
    std::string s;
    for (const CRukBBSData& r : list)
        s += (s.empty() ? "" : ",") + std::string(r.id.GetText());
    return s;
}

// The ids stored in the message file of a data directory as it is on disk
// now ("<unreadable>" when it cannot be read).
inline std::string FileIds(const std::string& dir)
{
    CRukBBSFile file;
    if (file.ReadPageData(dir.c_str(), false) < 0)
        return "<unreadable>";
    return Ids(file.m_aryData);
}

inline std::string FileIds(const TempDir& dir)
{
    return FileIds(dir.path());
}

}  // namespace testutil

#endif
