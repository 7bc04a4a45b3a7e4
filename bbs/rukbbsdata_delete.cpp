// CRukBBSFile: deleting messages. A message goes with everything below
// it (a thread root with its whole thread), from the file under the write
// lock (WriteDeleteData) or from the loaded records only; its attachment
// files go once the new message file is in place.
#include <vector>

#include "rukbbsdata_impl.h"
#include "rukglobal.h"

using namespace rukbbsdata;

int CRukBBSFile::WriteDeleteData(const char* pDir, const char* pId, bool bLock,
                                 const FRukCheck& check)
{
    ForgetIndex();
    CRukString strId(pId);  // pId may point into the records replaced below
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteDeleteData(%s) ID=%s ----", path.GetText(),
                   strId.GetText());
    // The records the caller loaded may be stale: they are dropped before
    // the file is read again, so that two copies are never held.
    CRukBBSLock lock;
    int r = LoadForWrite(path, bLock, lock);
    if (r != 0)
        return r;
    int nStored = FindId(m_aryData, strId.GetText());
    if (nStored < 0)
        return kStoreMissing;
    if (check) {
        if (!Complete(m_aryData[nStored]))
            return kStoreFailed;
        r = CheckResult(check(m_aryData[nStored], HasReplies(m_aryData, strId.GetText())));
        if (r != 0)
            return r;
    }
    std::vector<char> mask(static_cast<size_t>(m_aryData.GetSize()), 0);
    if (!MarkData(m_aryData, strId.GetText(), mask, 1, nullptr))
        return kStoreMissing;
    return StoreDeletion(pDir, path, mask);
}

int CRukBBSFile::WriteDeleteData(const char* pDir, const CRukStrAry& ids, bool bLock)
{
    ForgetIndex();
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteDeleteData(%s) %d ids ----", path.GetText(),
                   ids.GetSize());
    CRukBBSLock lock;
    int r = LoadForWrite(path, bLock, lock);
    if (r != 0)
        return r;
    std::vector<char> mask(static_cast<size_t>(m_aryData.GetSize()), 0);
    bool bAny = false;
    for (const CRukString& id : ids) {
        // An id inside a subtree marked before marks nothing new.
        const char* pId = id.GetText();
        if (FindId(m_aryData, pId) >= 0 && MarkData(m_aryData, pId, mask, 1, nullptr))
            bAny = true;
    }
    if (!bAny)
        return kStoreMissing;
    return StoreDeletion(pDir, path, mask);
}

int CRukBBSFile::StoreDeletion(const char* pDir, const CRukString& path,
                               const std::vector<char>& mask)
{
    CRukAry<CRukStrMap> removed;
    if (!RemoveMarked(mask, &removed))
        return kStoreFailed;
    if (ReplaceData(path.GetText(), &m_aryData, nullptr, nullptr, false) != 0) {
        go.m_log.Trace("--<< CRukBBSFile::WriteDeleteData END (write failed) ----");
        return kStoreFailed;
    }
    m_snapshotText.Free();  // the rest of a record is read from the file again
    for (CRukStrMap& attach : removed)
        if (DeleteAttachFile(pDir, attach) != 0)
            go.m_log.Trace("     CRukBBSFile::WriteDeleteData -> files left behind");
    go.m_log.Trace("--<< CRukBBSFile::WriteDeleteData END ----");
    return m_aryData.GetSize();
}

// Removes pId's thread or subtree from the own records with its files.
bool CRukBBSFile::DeleteDataAndAttachFile(const char* pDir, const char* pId)
{
    CRukString strId(pId);
    go.m_log.Trace("----- CRukBBSFile::DeleteDataAndAttachFile START ID=%s -----", strId.GetText());
    CRukAry<CRukStrMap> removed;
    bool bRemoved = RemoveData(strId.GetText(), &removed, nullptr);
    for (CRukStrMap& attach : removed)
        if (DeleteAttachFile(pDir, attach) != 0)
            go.m_log.Trace("----- CRukBBSFile::DeleteDataAndAttachFile files left behind");
    go.m_log.Trace("----- CRukBBSFile::DeleteDataAndAttachFile END -----");
    return bRemoved;
}

bool CRukBBSFile::RemoveMarked(const std::vector<char>& mask, CRukAry<CRukStrMap>* pRemoved)
{
    ForgetIndex();
    bool bRead = true;
    int j = 0;
    for (int i = 0; i < m_aryData.GetSize(); i++) {
        CRukBBSData& rec = m_aryData[i];
        if (mask[i]) {
            if (pRemoved && !Complete(rec))
                bRead = false;
            else if (pRemoved && rec.attach.GetSize() > 0)
                pRemoved->Add(std::move(rec.attach));
            continue;
        }
        if (j != i)
            m_aryData[j] = std::move(rec);
        j++;
    }
    Truncate(m_aryData, j);
    return bRead;
}

bool CRukBBSFile::RemoveData(const char* pId, CRukAry<CRukStrMap>* pRemoved, const char* pTrace)
{
    std::vector<char> mask(static_cast<size_t>(m_aryData.GetSize()), 0);
    if (!MarkData(m_aryData, pId, mask, 1, pTrace))
        return false;
    return RemoveMarked(mask, pRemoved);
}

// Removes pId's thread or subtree from the own records, files untouched.
bool CRukBBSFile::DeleteDataOnly(const char* pId)
{
    go.m_log.Trace("----- CRukBBSFile::DeleteDataOnly START -----");
    bool bRemoved = RemoveData(pId, nullptr, "DeleteDataOnly");
    go.m_log.Trace("----- CRukBBSFile::DeleteDataOnly END -----");
    return bRemoved;
}
