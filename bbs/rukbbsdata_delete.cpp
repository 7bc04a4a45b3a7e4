// CRukBBSFile: deleting messages. A message goes with everything below
// it (a thread root with its whole thread), from the file under the write
// lock (WriteDeleteData) or from the loaded records only; its attachment
// files go once the new message file is in place.
#include <memory>
#include <vector>

#include "rukbbsdata_impl.h"
#include "rukglobal.h"

using namespace rukbbsdata;

int CRukBBSFile::StartDeletion(const CRukString& path, bool bLock, CRukBBSLock& lock,
                               std::unique_ptr<CRukBoardText>& pText)
{
    ForgetIndex();
    m_aryData.RemoveAll();
    CloseSnapshot();
    m_pWritten.reset();
    pText = std::make_unique<CRukBoardText>();
    return LoadForWrite(path, bLock, lock, *pText);
}

int CRukBBSFile::WriteDeleteData(const char* pDir, const char* pId, bool bLock,
                                 const FRukCheck& check)
{
    CRukString strId(pId);  // pId may point into the records dropped below
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteDeleteData(%s) ID=%s ----", path.GetText(),
                   strId.GetText());
    CRukBBSLock lock;
    std::unique_ptr<CRukBoardText> pText;
    int r = StartDeletion(path, bLock, lock, pText);
    if (r != 0)
        return r;
    CRukBoardText& text = *pText;
    int nStored = text.Find(strId.GetText());
    if (nStored >= 0 && check) {
        CRukBBSData stored;
        if (!text.Record(nStored, stored))
            return kStoreFailed;
        r = CheckResult(check(stored, text.HasReplies(strId.GetText())));
    }
    std::vector<char> mask(static_cast<size_t>(text.Count()), 0);
    if (nStored < 0 || (r == 0 && !text.Mark(strId.GetText(), mask, 1)))
        r = kStoreMissing;
    if (r != 0) {
        KeepKeys(text, nullptr);  // the board as read
        return r;
    }
    return StoreDeletion(pDir, path, pText, mask);
}

int CRukBBSFile::WriteDeleteData(const char* pDir, const CRukStrAry& ids, bool bLock)
{
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteDeleteData(%s) %d ids ----", path.GetText(),
                   ids.GetSize());
    CRukBBSLock lock;
    std::unique_ptr<CRukBoardText> pText;
    int r = StartDeletion(path, bLock, lock, pText);
    if (r != 0)
        return r;
    CRukBoardText& text = *pText;
    std::vector<char> mask(static_cast<size_t>(text.Count()), 0);
    bool bAny = false;
    for (const CRukString& id : ids) {
        // An id inside a subtree marked before marks nothing new.
        const char* pId = id.GetText();
        if (text.Find(pId) >= 0 && text.Mark(pId, mask, 1))
            bAny = true;
    }
    if (!bAny) {
        KeepKeys(text, nullptr);
        return kStoreMissing;
    }
    return StoreDeletion(pDir, path, pText, mask);
}

// Copies the lines that stay into the new file, then removes the files of
// the records that went.
int CRukBBSFile::StoreDeletion(const char* pDir, const CRukString& path,
                               std::unique_ptr<CRukBoardText>& pText, const std::vector<char>& mask)
{
    CRukBoardText& text = *pText;
    CRukAry<CRukStrMap> removed;
    int nKept = 0;
    for (int i = 0; i < text.Count(); i++) {
        if (!mask[static_cast<size_t>(i)]) {
            nKept++;
            continue;
        }
        CRukBBSData rec;
        if (!text.Record(i, rec))
            return kStoreFailed;
        if (rec.attach.GetSize() > 0)
            removed.Add(std::move(rec.attach));
    }
    int r = ReplaceWith(path.GetText(), [&](CRukLineCopier& out) {
        for (int i = 0; i < text.Count(); i++)
            if (!mask[static_cast<size_t>(i)])
                out.Line(text, i);
    });
    if (r != 0) {
        go.m_log.Trace("--<< CRukBBSFile::WriteDeleteData END (write failed) ----");
        return kStoreFailed;
    }
    // The rest of a kept record is read from the old file, still open.
    if (m_bKeepWritten) {
        KeepKeys(text, &mask);
    } else {
        m_pWritten = std::move(pText);
        m_writtenSkip = mask;
        m_writtenPath = path;
    }
    for (CRukStrMap& attach : removed)
        if (DeleteAttachFile(pDir, attach) != 0)
            go.m_log.Trace("     CRukBBSFile::WriteDeleteData -> files left behind");
    go.m_log.Trace("--<< CRukBBSFile::WriteDeleteData END ----");
    return nKept;
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
