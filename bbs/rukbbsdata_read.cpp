// CRukBBSFile: loading the message file, whole or by the keys of its
// records with the rest read from the same file when a query hands a
// record out (the snapshot: the file kept open, so that a later rename of
// a new file over it changes nothing, and read in windows).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsdata_impl.h"
#include "rukbbsdata_view.h"
#include "rukfile.h"
#include "rukglobal.h"

namespace rukbbsdata {

bool ReadWhole(FILE* fp, CRukBuffer& buf)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return false;
    size_t nHave = 0;
    if (st.st_size > 0) {
        char* p = buf.Alloc(static_cast<unsigned>(st.st_size));
        nHave = fread(p, 1, static_cast<size_t>(st.st_size), fp);
        buf.ReAlloc(static_cast<unsigned>(nHave));
    }
    char sz[kChunk];
    size_t n;
    while ((n = fread(sz, 1, sizeof(sz), fp)) > 0)  // grown since fstat
        buf.Append(sz, static_cast<unsigned>(n));
    return ferror(fp) == 0;
}

FILE* OpenShared(CRukBBSLock& lock, const char* pPath, bool bLock, int& r)
{
    if (bLock && (r = lock.Lock(pPath, true)) != 0)
        return nullptr;
    FILE* fp = fopen(pPath, "rb");
    r = fp ? 0 : -1;
    return fp;
}

// See rukbbsdata_impl.h. The list is sized once from the first block's
// lines and the file size, so that records are parsed straight into
// their slots.
int ReadRecords(FILE* fp, CRukBBSDataAry& list, const CRukStrAry* pWords, CRukBBSDataAry* pOut,
                bool bKeys, CRukBuffer* pText)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return -1;
    int nBefore = list.GetSize();
    int nOutBefore = pOut ? pOut->GetSize() : 0;
    int nAdded = 0;
    int nMatched = 0;
    auto size = [&](const char* p, const char* pEnd) {
        // Lines in this block, scaled to the whole file, with a margin; a
        // stored record takes at least its 21 separators and line feed, and
        // lines shorter than that in a damaged file grow the list instead.
        size_t nLines = 1;
        for (const char* q = p; (q = static_cast<const char*>(memchr(q, '\n', pEnd - q))); q++)
            nLines++;
        double fScale = st.st_size > 0 ? static_cast<double>(st.st_size) / (pEnd - p) : 1.0;
        double fGuess = fScale <= 1.0 ? nLines : nLines * fScale * 1.05 + 16;
        double fMost = static_cast<double>(st.st_size) / 21 + 64;
        list.SetSize(nBefore + static_cast<int>(std::min(fGuess, fMost)), true);
    };
    auto parse = [&](char* p, size_t n, long nAt) {
        if (nBefore + nAdded >= list.GetSize())
            list.SetSize(nBefore + nAdded + nAdded / 4 + 64, true);
        CRukBBSData& rec = list[nBefore + nAdded];
        bool bMatch = pWords && pOut && MatchesVisible(p, n, *pWords);
        if (bKeys) {
            if (!ParseKeys(p, n, rec))
                return;
            rec.lineAt = nAt;
            rec.lineLen = static_cast<int>(n);
            if (bMatch) {
                CRukBBSData whole;
                ParseRecord(p, n, whole);
                pOut->Add(std::move(whole));
                nMatched++;
            }
        } else {
            if (!ParseRecord(p, n, rec))
                return;
            if (bMatch) {
                pOut->Add(rec);
                nMatched++;
            }
        }
        nAdded++;
    };
    bool bRead;
    if (pText) {
        // Kept whole and unchanged for the caller, who copies lines from
        // it (searching needs terminated lines and never asks for this).
        bRead = ReadWhole(fp, *pText);
        if (bRead && pText->GetSize() > 0) {
            char* p = pText->GetData();
            char* pEnd = p + pText->GetSize();
            size(p, pEnd);
            SplitLines(p, pEnd, true, 0, parse, false);
        }
    } else {
        bRead = ReadLines(fp, size, parse);
    }
    if (!bRead) {
        Truncate(list, nBefore);
        if (pOut)
            Truncate(*pOut, nOutBefore);
        return -1;
    }
    Truncate(list, nBefore + nAdded);
    return pWords ? nMatched : nAdded;
}

}  // namespace rukbbsdata

using namespace rukbbsdata;

void CRukBBSFile::CloseSnapshot()
{
    if (m_fdSnapshot >= 0)
        close(m_fdSnapshot);
    m_fdSnapshot = -1;
    m_pView.reset();
    m_snapshotText.Free();
    m_window.Free();
    m_nWindowAt = -1;
    m_bReadFailed = false;
}

bool CRukBBSFile::LoadSnapshotText() const
{
    if (m_snapshotText.GetSize() > 0)
        return true;
    if (m_fdSnapshot < 0)
        return false;
    int fd = fcntl(m_fdSnapshot, F_DUPFD_CLOEXEC, 0);
    FILE* fp = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!fp) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool bRead = fseek(fp, 0, SEEK_SET) == 0 && ReadWhole(fp, m_snapshotText);
    fclose(fp);
    return bRead;
}

int CRukBBSFile::LoadKeys(const char* pPath, bool bText)
{
    m_aryData.RemoveAll();
    CloseSnapshot();
    struct stat st;
    if (stat(pPath, &st) != 0)
        return errno == ENOENT ? 0 : -1;
    go.m_log.Trace("---->> CRukBBSFile::ReadFile(%s) START ----", pPath);
    FILE* fp = fopen(pPath, "rb");
    if (!fp)
        return -1;
    int n = ReadRecords(fp, m_aryData, nullptr, nullptr, true, bText ? &m_snapshotText : nullptr);
    if (n >= 0)
        m_fdSnapshot = fcntl(fileno(fp), F_DUPFD_CLOEXEC, 0);
    fclose(fp);
    if (n >= 0 && m_fdSnapshot < 0)
        n = -1;
    if (n < 0) {
        m_aryData.RemoveAll();
        CloseSnapshot();
        return -1;
    }
    go.m_log.Trace("----<< CRukBBSFile::ReadFile END num = %d ----", n);
    return n;
}

// Loads the rest of a record loaded by its keys from the kept file; the
// tree columns drawn on it stay. A failure is remembered (HasReadFailed).
bool CRukBBSFile::Complete(CRukBBSData& rec) const
{
    if (rec.lineAt < 0)
        return true;
    bool bRead = ReadRest(rec);
    if (!bRead)
        m_bReadFailed = true;
    return bRead;
}

bool CRukBBSFile::ReadRest(CRukBBSData& rec) const
{
    if (m_fdSnapshot < 0 || rec.lineLen < 0)
        return false;
    size_t n = static_cast<size_t>(rec.lineLen);
    if (static_cast<size_t>(rec.lineAt) + n <= m_snapshotText.GetSize()) {
        CRukBBSData whole;
        if (!ParseRecord(m_snapshotText.GetData() + rec.lineAt, n, whole))
            return false;
        whole.depth = std::move(rec.depth);
        rec = std::move(whole);
        return true;
    }
    // The records a page shows lie close together (a thread's records are
    // stored together, the newest threads first), so the file is read in
    // windows of 64 KiB (or the line, if longer) and each window serves
    // every record inside it.
    size_t nAt = static_cast<size_t>(rec.lineAt);
    bool bInside = m_nWindowAt >= 0 && nAt >= static_cast<size_t>(m_nWindowAt) &&
                   nAt + n <= static_cast<size_t>(m_nWindowAt) + m_window.GetSize();
    if (!bInside) {
        size_t nWant = std::max<size_t>(n, 1u << 16);
        char* p = m_window.Alloc(static_cast<unsigned>(nWant));
        size_t nGot = 0;
        while (nGot < nWant) {
            ssize_t r = pread(m_fdSnapshot, p + nGot, nWant - nGot,
                              static_cast<off_t>(nAt + nGot));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            nGot += static_cast<size_t>(r);
        }
        m_window.ReAlloc(static_cast<unsigned>(nGot));
        m_nWindowAt = static_cast<long>(nAt);
        if (nGot < n) {
            m_nWindowAt = -1;
            return false;
        }
    }
    CRukBBSData whole;
    if (!ParseRecord(m_window.GetData() + (nAt - static_cast<size_t>(m_nWindowAt)), n, whole))
        return false;
    whole.depth = std::move(rec.depth);
    rec = std::move(whole);
    return true;
}

bool CRukBBSFile::CompleteFrom(CRukBBSDataAry& list, int nFrom) const
{
    bool bAll = true;
    for (int i = std::max(nFrom, 0); i < list.GetSize(); i++)
        bAll = Complete(list[i]) && bAll;
    return bAll;
}

// Appends the records of the message file pPath to list, under the shared
// lock when asked. Returns the number appended, -1, or the lock result.
int CRukBBSFile::ReadFile(CRukBBSDataAry& list, const char* pPath, bool bLock)
{
    if (&list == &m_aryData)
        ForgetIndex();
    go.m_log.Trace("---->> CRukBBSFile::ReadFile(%s) START ----", pPath ? pPath : "");
    CRukBBSLock lock;
    int r = 0;
    FILE* fp = pPath ? OpenShared(lock, pPath, bLock, r) : nullptr;
    if (!fp)
        return pPath ? r : -1;
    int n = ReadRecords(fp, list, nullptr, nullptr);
    fclose(fp);
    go.m_log.Trace("----<< CRukBBSFile::ReadFile END num = %d ----", n);
    return n;
}

// Empties the own records for a new load of pDir's board; the path of its
// message file, or an empty path when there is none.
CRukString CRukBBSFile::StartLoad(const char* pDir)
{
    ForgetIndex();
    m_aryData.RemoveAll();
    CloseSnapshot();
    CRukString path = CreateFullPath(pDir);
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        path.Free();
    return path;
}

// Loads the board of pDir into the own records; -1 when it has no file.
int CRukBBSFile::ReadPageData(const char* pDir, bool bLock)
{
    CRukString path = StartLoad(pDir);
    return path.IsEmpty() ? -1 : ReadFile(m_aryData, path.GetText(), bLock);
}

// Loads the keys of every record of pDir's board and keeps the file open
// for the rest; -1 when it has no file.
int CRukBBSFile::ReadPageKeys(const char* pDir, bool bLock)
{
    CRukString path = StartLoad(pDir);
    if (path.IsEmpty())
        return -1;
    CRukBBSLock lock;
    if (int r = lock.LockToRead(path.GetText(), bLock); r != 0)
        return r;
    return LoadKeys(path.GetText(), false);
}
