// CRukBBSLock: the lock of a board, the file "lockfile.lock" in its data
// directory (the policy is CRukFlock's, see rukfile.h).
#include "rukbbsdata_impl.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// Locks "lockfile.lock" in the directory of pPath; a bare file name locks
// the one in the current directory. The policy is CRukFlock's.
int CRukBBSLock::Lock(const char* pPath, bool bShared)
{
    go.m_log.Trace("       CRukBBSLock::Lock(%s)", pPath ? pPath : "");
    CRukStrPath path;
    path.Split(pPath ? pPath : "");
    CRukString lockPath;
    if (path.GetDirs().GetSize() > 0) {
        lockPath = path.Directory("/");
        lockPath += "/";
    }
    lockPath += rukbbsdata::kLockName;
    return CRukFlock::Lock(lockPath.GetText(), bShared);
}

int CRukBBSLock::LockToRead(const char* pPath, bool bWanted)
{
    return bWanted ? Lock(pPath, true) : 0;
}
