// The writes of CRukBBSFile, and the small steps they share.
//
// Posts and edits are in rukbbsdata_post.cpp, the posting rate in
// rukbbsdata_rate.cpp, pruning into the old log of the month in
// rukbbsdata_oldlog.cpp, deletions in rukbbsdata_delete.cpp and the
// attachment files in rukbbsdata_attach.cpp.
//
// Every write here takes the exclusive board lock (or runs under the
// caller's), reads the board again, and decides everything there before a
// file changes: whether the message is stored, the caller's check, the
// names of new files, what is pruned. Then the files change in an order
// that leaves nothing half done: new attachment files, the old log, the
// message file; only after the message file is in place are files
// removed or moved. A failure before that removes what this write made
// and returns kStoreFailed with everything else as it was.
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsdata_impl.h"
#include "rukdir.h"
#include "rukglobal.h"

namespace rukbbsdata {

bool IsSafeName(const char* pName)
{
    if (!pName || !*pName || strcmp(pName, ".") == 0 || strcmp(pName, "..") == 0)
        return false;
    return strpbrk(pName, "/\\") == nullptr;
}

bool Exists(const CRukString& path)
{
    return CRukFile::GetFileAttr(path.GetText()) != -1;
}

bool IsDirectory(const CRukString& path)
{
    int nAttr = CRukFile::GetFileAttr(path.GetText());
    return nAttr != -1 && S_ISDIR(static_cast<mode_t>(nAttr));
}

int FindId(const CRukBBSDataAry& list, const char* pId)
{
    if (!pId || !*pId)
        return -1;
    for (int i = 0; i < list.GetSize(); i++)
        if (strcmp(list[i].id.GetText(), pId) == 0)
            return i;
    return -1;
}

bool HasReplies(const CRukBBSDataAry& list, const char* pId)
{
    for (const CRukBBSData& rec : list)
        if (strcmp(rec.pid.GetText(), pId) == 0)
            return true;
    return false;
}

int CheckResult(int r)
{
    return r > 0 ? kStoreRefused : r;
}

// A lock result as a store result.
int LockResult(int r)
{
    return r == -2 ? kStoreBusy : kStoreFailed;
}

bool MakeDirectory(const CRukString& path, CRukStrAry& made)
{
    if (IsDirectory(path))
        return true;
    if (Exists(path) || CRukDir::MkDir(path.GetText()) != 0)
        return false;
    made.Add(path);
    if (chmod(path.GetText(), go.m_nDirMode) != 0)
        go.m_log.Trace("       CRukBBSFile: chmod(%s) failed", path.GetText());
    return true;
}

// Removes the directories of made again, innermost first, with the lock
// file a directory of an old log got.
void RemoveMadeDirectories(const CRukStrAry& made)
{
    for (int i = made.GetSize() - 1; i >= 0; i--) {
        CRukString lockFile = made[i] + "/" + kLockName;
        if (Exists(lockFile) && unlink(lockFile.GetText()) != 0)
            go.m_log.Trace("       CRukBBSFile: unlink(%s) failed", lockFile.GetText());
        if (rmdir(made[i].GetText()) != 0)
            go.m_log.Trace("       CRukBBSFile: rmdir(%s) failed", made[i].GetText());
    }
}

}  // namespace rukbbsdata

using rukbbsdata::CRukBoardText;

int CRukBBSFile::LoadForWrite(const CRukString& path, bool bLock, CRukBBSLock& lock,
                              CRukBoardText& text)
{
    if (bLock) {
        int r = lock.Lock(path.GetText(), false);
        if (r != 0)
            return rukbbsdata::LockResult(r);
    }
    return text.Load(path.GetText()) ? 0 : kStoreFailed;
}

void CRukBBSFile::KeepKeys(CRukBoardText& text, const std::vector<char>* pSkip)
{
    ForgetIndex();
    m_aryData.RemoveAll();
    CloseSnapshot();
    int n = 0;
    for (int i = 0; i < text.Count(); i++)
        n += pSkip && (*pSkip)[static_cast<size_t>(i)] ? 0 : 1;
    m_aryData.SetSize(n, false);
    int j = 0;
    for (int i = 0; i < text.Count(); i++)
        if (!pSkip || !(*pSkip)[static_cast<size_t>(i)])
            text.Keys(i, m_aryData[j++]);
    m_fdSnapshot = text.TakeFd();
}
