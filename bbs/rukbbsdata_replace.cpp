// CRukBBSFile: writing the message file whole. The records go to a
// temporary file beside it, which replaces it only when every byte was
// written; a record loaded by its keys is copied from its stored line
// when that is exactly the line it would be written as.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

#include "rukbbsdata_impl.h"
#include "rukglobal.h"

using namespace rukbbsdata;

// Copies the current contents of pPath (none when it is missing) into the
// temporary file: 0, or -1.
static int CopyOldFile(CRukAtomicFile& out, const char* pPath)
{
    FILE* fp = fopen(pPath, "rb");
    if (!fp)
        return errno == ENOENT ? 0 : -1;
    char sz[kChunk];
    size_t n;
    int r = 0;
    while ((n = fread(sz, 1, sizeof(sz), fp)) > 0) {
        if (out.Write(sz, n) != 0) {
            r = -1;
            break;
        }
    }
    if (ferror(fp))
        r = -1;
    fclose(fp);
    return r;
}

// Writes the records of pFirst and then pRest to a temporary file beside
// pPath (after the old contents with bKeepOld) and renames it over pPath.
int CRukBBSFile::ReplaceData(const char* pPath, const CRukBBSDataAry* pFirst,
                             const CRukBBSDataAry* pRest, const char* pSkip, bool bKeepOld)
{
    CRukAtomicFile file;
    if (file.Open(pPath) != 0)
        return -1;
    if (bKeepOld && CopyOldFile(file, pPath) != 0)
        return -1;
    std::unique_ptr<SFileWriter> out = std::make_unique<SFileWriter>(file);
    const CRukBBSDataAry* apLists[] = {pFirst, pRest};
    for (const CRukBBSDataAry* pList : apLists) {
        if (!pList)
            continue;
        bool bRest = pList == pRest && pList != pFirst;
        for (int i = 0; i < pList->GetSize(); i++) {
            if (bRest && pSkip && pSkip[i])
                continue;
            const CRukBBSData& rec = (*pList)[i];
            if (rec.lineAt < 0) {
                PutRecord(*out, rec);
                continue;
            }
            // Loaded by its keys: its stored line is copied when writing the
            // parsed record would give the same bytes; otherwise the whole
            // record is parsed and written. Either that, or nothing.
            if (!LoadSnapshotText())
                return -1;
            size_t nAt = static_cast<size_t>(rec.lineAt);
            size_t nLen = static_cast<size_t>(rec.lineLen);
            if (nAt + nLen > m_snapshotText.GetSize())
                return -1;
            const char* pLine = m_snapshotText.GetData() + nAt;
            if (IsCanonicalLine(pLine, nLen)) {
                out->Put(pLine, nLen);
                out->Put('\n');
                continue;
            }
            CRukBBSData whole(rec);
            if (!Complete(whole))
                return -1;
            PutRecord(*out, whole);
        }
    }
    if (!out->Flush())
        return -1;
    if (file.Commit() != 0)
        return -1;
    if (chmod(pPath, go.m_nFileMode) != 0)
        go.m_log.Trace("       CRukBBSFile: chmod(%s) failed", pPath);
    return 0;
}

// Replaces the file with the records of list, or adds them at its end with
// bAppend; either way the file changes whole or not at all. Returns the
// number of records, -1, or the lock result.
int CRukBBSFile::WriteFile(CRukBBSDataAry& list, const char* pPath, bool bLock, bool bAppend)
{
    go.m_log.Trace("---->> CRukBBSFile::WriteFile(%s) START ----", pPath ? pPath : "");
    if (!pPath || !*pPath)
        return -1;
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(pPath, false);
        if (r != 0)
            return r;
    }
    if (ReplaceData(pPath, &list, nullptr, nullptr, bAppend) != 0)
        return -1;
    go.m_log.Trace("----<< CRukBBSFile::WriteFile END num = %d ----", list.GetSize());
    return list.GetSize();
}

// Replaces the board's file with the own records.
int CRukBBSFile::WritePageData(const char* pDir, bool bLock)
{
    CRukString path = CreateFullPath(pDir);
    return WriteFile(m_aryData, path.GetText(), bLock, false);
}
