// CRukBBSFormConf's file operations: whether a path is there and what it
// resolves to, making a directory with the site's mode, removing a tree
// without following links, and the places of a board's files.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"

bool Exists(const CRukString& path)
{
    return CRukFile::GetFileAttr(path.GetText()) != -1;
}

bool IsDirectory(const CRukString& path)
{
    struct stat st;
    return stat(path.GetText(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RealPath(const char* pPath, CRukString& out)
{
    char* p = realpath(pPath && *pPath ? pPath : ".", nullptr);
    if (!p)
        return false;
    out.Attach(p);
    return true;
}

bool IsInside(const CRukString& path, const CRukString& dir)
{
    if (dir == "/")
        return true;
    int n = dir.GetLength();
    return path == dir ||
           (strncmp(path.GetText(), dir.GetText(), n) == 0 && path.GetText()[n] == '/');
}

// mkdir applies the umask, so the mode is given afterwards; a mode that
// cannot be set is traced, the directory stays.
bool MakeDir(const CRukString& dir)
{
    if (CRukDir::MkDir(dir.GetText()) != 0)
        return false;
    if (chmod(dir.GetText(), static_cast<mode_t>(go.m_nDirMode)) != 0)
        go.m_log.Trace("-- chmod(%s) failed", dir.GetText());
    return true;
}

// Whatever could not be removed is traced and makes the result false; a
// path that is not there is no failure.
bool RemoveTree(const CRukString& dir)
{
    struct stat st;
    if (lstat(dir.GetText(), &st) != 0)
        return errno == ENOENT;
    bool bOk;
    if (!S_ISDIR(st.st_mode))
        bOk = unlink(dir.GetText()) == 0;
    else
        bOk = CRukDir::RemoveFiles(dir.GetText(), true, false) == 0 && rmdir(dir.GetText()) == 0;
    if (!bOk)
        go.m_log.Trace("-- %s could not be removed whole", dir.GetText());
    return bOk;
}

CRukString ResolvedBelowRegistry(const CRukString& path)
{
    CRukString resolved, registry;
    if (!RealPath(path.GetText(), resolved) || !RealPath(s_pRegistry, registry))
        return CRukString();
    if (resolved == registry || !IsInside(resolved, registry))
        return CRukString();
    return resolved;
}

CRukString BoardFile(const CRukString& bbsid)
{
    return CRukString(s_pRegistry) + "/" + bbsid + ".conf";
}

CRukString IconDir(const CRukString& bbsid)
{
    return CRukString(s_pIconRoot) + bbsid + "/";
}
