#include "rukdir.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

int CRukDir::ChDir(const char* pPath)
{
    return chdir(pPath ? pPath : "");
}

int CRukDir::MkDir(const char* pPath)
{
    return mkdir(pPath ? pPath : "", go.m_nDirMode);
}

// The prefix under which the entries of pDir are listed: the directory
// split and joined with "/" plus a final "/".
static CRukString ListPrefix(const char* pDir)
{
    CRukString prefix = CRukStrPath::Normalize(pDir);
    prefix += "/";
    return prefix;
}

// One entry of a directory: its name, whether it is (or, followed, leads
// to) a directory, and whether it is a symbolic link.
struct CRukDirEntry {
    CRukString m_strName;
    bool m_bDir = false;
    bool m_bLink = false;
};

// Reads the entries of pDir (without "." and ".."), in readdir order.
// Returns false when pDir cannot be read; an empty or null path is refused
// rather than taken for the current directory, since the entries would
// then be named from the root.
static bool ReadEntries(const char* pDir, CRukAry<CRukDirEntry>& entries, bool bFollowLinks)
{
    if (!pDir || !*pDir)
        return false;
    DIR* d = opendir(pDir);
    if (!d)
        return false;
    CRukString base(pDir);
    base += "/";
    struct dirent* e;
    while ((e = readdir(d)) != nullptr) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        CRukString full = base + e->d_name;
        CRukDirEntry entry;
        struct stat st;
        if (lstat(full.GetText(), &st) == 0) {
            entry.m_bLink = S_ISLNK(st.st_mode);
            if (entry.m_bLink && bFollowLinks && stat(full.GetText(), &st) != 0)
                st.st_mode = 0;  // a dangling link counts as a file
            entry.m_bDir = S_ISDIR(st.st_mode);
        }
        entry.m_strName = e->d_name;
        entries.Add(std::move(entry));
    }
    closedir(d);
    return true;
}

// The listings. bFiles lists files (and, unless bFilesOnly, directories
// with a trailing "/"); otherwise only directories are listed. Recursion
// always continues with normalized paths, as the listings specify. A link
// to a directory is listed as a directory but not descended into, so a
// link cycle cannot make a listing endless.
int CRukDir::List(CRukStrAry& out, const char* pDir, bool bRecursive, bool bFiles,
                  bool bFilesOnly, bool bBareNames)
{
    CRukAry<CRukDirEntry> entries;
    if (!ReadEntries(pDir, entries, true))
        return -1;
    CRukString prefix = ListPrefix(pDir);
    int nCount = 0;
    for (int i = 0; i < entries.GetSize(); i++) {
        const CRukDirEntry& entry = entries[i];
        CRukString full = prefix + entry.m_strName;
        if (entry.m_bDir) {
            if (!bFiles || !bFilesOnly) {
                CRukString item = bBareNames ? entry.m_strName : full;
                if (!bBareNames)
                    item += "/";
                out.Add(std::move(item));
                nCount++;
            }
            if (bRecursive && !entry.m_bLink) {
                int n = List(out, full.GetText(), true, bFiles, bFilesOnly, false);
                if (n > 0)
                    nCount += n;
            }
        } else if (bFiles) {
            out.Add(bBareNames ? entry.m_strName : full);
            nCount++;
        }
    }
    return nCount;
}

int CRukDir::GetDirList(CRukStrAry& out, const char* pDir, bool bRecursive)
{
    return List(out, pDir, bRecursive, false, false, false);
}

int CRukDir::GetDirNameList(CRukStrAry& out, const char* pDir, bool bRecursive)
{
    return List(out, pDir, bRecursive, false, false, true);
}

int CRukDir::GetFileList(CRukStrAry& out, const char* pDir, bool bRecursive, bool bFilesOnly)
{
    return List(out, pDir, bRecursive, true, bFilesOnly, false);
}

int CRukDir::GetFileNameList(CRukStrAry& out, const char* pDir, bool bRecursive,
                             bool bFilesOnly)
{
    return List(out, pDir, bRecursive, true, bFilesOnly, true);
}

// Removes every non-directory entry of pDir; subdirectories are emptied
// first with bRecursive and removed unless bKeepDirs. Symbolic links are
// removed, never followed. pDir itself stays.
int CRukDir::RemoveFiles(const char* pDir, bool bRecursive, bool bKeepDirs)
{
    CRukAry<CRukDirEntry> entries;
    if (!ReadEntries(pDir, entries, false))
        return -1;
    CRukString base(pDir);
    base += "/";
    int nResult = 0;
    for (int i = 0; i < entries.GetSize(); i++) {
        CRukString full = base + entries[i].m_strName;
        if (entries[i].m_bDir) {
            if (bRecursive) {
                int r = RemoveFiles(full.GetText(), true, bKeepDirs);
                if (r != 0)
                    nResult |= r;
            }
            if (!bKeepDirs && rmdir(full.GetText()) != 0)
                nResult |= -1;
        } else if (unlink(full.GetText()) != 0) {
            nResult |= -1;
        }
    }
    return nResult;
}

// Escapes the glob metacharacters of a directory name.
static CRukString GlobEscape(const char* pText)
{
    CRukString out;
    for (const char* p = pText; *p; p++) {
        if (strchr("*?[]\\", *p))
            out += "\\";
        out.Append(p, 1);
    }
    return out;
}

int CRukDir::Glob(CRukStrAry& out, const char* pDir, const char* pPattern, bool bFilesOnly)
{
    const char* pD = (pDir && *pDir) ? pDir : ".";
    int nAttr = CRukFile::GetFileAttr(pD);
    if (nAttr == -1 || !S_ISDIR(nAttr) || access(pD, X_OK) != 0)
        return -1;
    if (!pPattern || !*pPattern)
        return 0;
    CRukString base(pD);
    base += "/";
    CRukString full = GlobEscape(base.GetText()) + pPattern;
    glob_t g;
    memset(&g, 0, sizeof(g));
    int r = glob(full.GetText(), 0, nullptr, &g);
    int nCount = 0;
    if (r == 0) {
        size_t nBase = base.GetLength();
        for (size_t i = 0; i < g.gl_pathc; i++) {
            const char* pMatch = g.gl_pathv[i];
            if (strncmp(pMatch, base.GetText(), nBase) != 0)
                continue;
            const char* pRel = pMatch + nBase;
            // only entries of the directory itself: a pattern such as
            // "../*" must not reach outside it
            if (strchr(pRel, '/') || strcmp(pRel, ".") == 0 || strcmp(pRel, "..") == 0)
                continue;
            struct stat st;
            bool bIsDir = stat(pMatch, &st) == 0 && S_ISDIR(st.st_mode);
            if (bIsDir && bFilesOnly)
                continue;
            out.Add(pRel);
            nCount++;
        }
    }
    globfree(&g);
    return nCount;
}

int CRukDir::CopyFileEx(const char* pDir, const char* pPattern, const char* pDest)
{
    if (!pDir || !*pDir)
        pDir = ".";  // as Glob reads it, so that sources are named alike
    int nAttr = CRukFile::GetFileAttr(pDest);
    if (nAttr == -1 || !S_ISDIR(nAttr))
        return -1;
    CRukStrAry files;
    if (Glob(files, pDir, pPattern, true) < 0)
        return -1;
    int nResult = 0;
    for (int i = 0; i < files.GetSize(); i++) {
        CRukString src = CRukString(pDir) + "/" + files[i];
        CRukString dst = CRukString(pDest) + "/" + files[i];
        CRukFile file;
        CRukBuffer data;
        if (file.ReadFile(src.GetText(), data, false) < 0 ||
            file.WriteFile(dst.GetText(), data.GetData(), data.GetSize(), false) < 0)
            nResult = -1;
    }
    return nResult;
}

void CRukDir::SplitPattern(const char* pPathPattern, CRukString& dir, CRukString& pattern)
{
    CRukStrPath path;
    path.Split(pPathPattern ? pPathPattern : "");
    dir = path.Directory("/");
    if (dir.IsEmpty())
        dir = (pPathPattern && (*pPathPattern == '/')) ? "/" : ".";
    pattern = path.GetName();
}

int CRukDir::CopyFileEx(const char* pPathPattern, const char* pDest)
{
    CRukString dir, pattern;
    SplitPattern(pPathPattern, dir, pattern);
    return CopyFileEx(dir.GetText(), pattern.GetText(), pDest);
}

int CRukDir::RemoveFileEx(const char* pDir, const char* pPattern)
{
    if (!pDir || !*pDir)
        pDir = ".";  // as Glob reads it, never the root
    CRukStrAry files;
    if (Glob(files, pDir, pPattern, true) < 0)
        return -1;
    int nResult = 0;
    for (int i = 0; i < files.GetSize(); i++) {
        CRukString path = CRukString(pDir) + "/" + files[i];
        if (unlink(path.GetText()) != 0)
            nResult |= -1;
    }
    return nResult;
}

int CRukDir::RemoveFileEx(const char* pPathPattern)
{
    CRukString dir, pattern;
    SplitPattern(pPathPattern, dir, pattern);
    return RemoveFileEx(dir.GetText(), pattern.GetText());
}
