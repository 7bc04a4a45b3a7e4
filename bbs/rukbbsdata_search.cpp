// CRukBBSFile: searching. The words are looked for in the lines of the
// file before any record is parsed, and only in what a visitor sees of a
// message; one message can be looked up without loading the board.
#include <cstdio>
#include <cstring>
#include <fcntl.h>

#include "rukbbsdata_impl.h"
#include "rukbbsdata_view.h"
#include "rukfile.h"
#include "rukglobal.h"

using namespace rukbbsdata;

// Loads the board of pDir into the own records and appends to out every
// record whose visible fields hold all the words (see the header). Returns
// the number found, -1, or the lock result.
int CRukBBSFile::FindRead(const char* pDir, CRukBBSDataAry& out, CRukStrAry& words, bool bLock)
{
    ForgetIndex();
    go.m_log.Trace("---->> CRukBBSFile::FindRead START ----");
    CRukString path = CreateFullPath(pDir);
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        return -1;
    CRukBBSLock lock;
    int r = 0;
    if (m_aryData.GetSize() == 0) {
        // Nothing held: the board goes into a key table (see ReadPageView).
        if (bLock && (r = lock.Lock(path.GetText(), true)) != 0)
            return r;
        int n = LoadView(path.GetText(), &words, &out);
        go.m_log.Trace("----<< CRukBBSFile::FindRead END num = %d ----", n);
        return n;
    }
    FILE* fp = OpenShared(lock, path.GetText(), bLock, r);
    if (!fp)
        return r;
    // Records already held are made whole first: the kept file changes.
    if (!CompleteFrom(m_aryData, 0)) {
        fclose(fp);
        return -1;
    }
    CloseSnapshot();
    // Only the hits are parsed whole; the others keep their place by keys.
    int n = ReadRecords(fp, m_aryData, &words, &out, true);
    if (n >= 0)
        m_fdSnapshot = fcntl(fileno(fp), F_DUPFD_CLOEXEC, 0);
    fclose(fp);
    go.m_log.Trace("----<< CRukBBSFile::FindRead END num = %d ----", n);
    return n;
}

// Looks one message up in the board's file without loading the board: the
// first record with id pId goes to out, and bHasChild tells whether some
// record answers it. 1 found, 0 not found, -1 no readable file, or the lock
// result. The own records are left alone.
int CRukBBSFile::FindRecord(const char* pDir, const char* pId, CRukBBSData& out,
                            bool& bHasChild, bool bLock)
{
    bHasChild = false;
    CRukString path = CreateFullPath(pDir);
    CRukBBSLock lock;
    int r = 0;
    FILE* fp = OpenShared(lock, path.GetText(), bLock, r);
    if (!fp)
        return r;
    bool bFound = false;
    bool bRead = ScanForId(fileno(fp), pId ? pId : "", out, bFound, bHasChild);
    fclose(fp);
    if (!bRead)
        return -1;
    return bFound ? 1 : 0;
}

// Appends to out every record of the last load whose title, name or body holds each of
// the words.
int CRukBBSFile::FindData(CRukBBSDataAry& out, CRukStrAry& words)
{
    int n = 0;
    for (int i = 0; i < GetCount(); i++) {
        const CRukBBSData* pRec = RecordAt(i);
        if (!pRec)
            return -1;
        const CRukBBSData& rec = *pRec;
        bool bMatch = true;
        for (const CRukString& word : words) {
            const char* pWord = word.GetText();
            if (!strstr(rec.title.GetText(), pWord) && !strstr(rec.name.GetText(), pWord) &&
                !strstr(rec.mess.GetText(), pWord)) {
                bMatch = false;
                break;
            }
        }
        if (bMatch) {
            out.Add(rec);
            n++;
        }
    }
    return n;
}
