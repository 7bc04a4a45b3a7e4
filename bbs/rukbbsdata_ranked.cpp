// CRukBBSFile: reading a board's lines without loading its records: the
// count of its records, the records of a page in an order of the caller's
// (the moderation list), and one stored message with whether it has
// replies (before an edit or a deletion).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "rukbbsdata_impl.h"
#include "rukfile.h"
#include "rukglobal.h"


int CRukBBSFile::CountRecords(const char* pDir, bool bLock)
{
    CRukString path = CreateFullPath(pDir);
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        return -1;
    CRukBBSLock lock;
    if (int r = lock.LockToRead(path.GetText(), bLock); r != 0)
        return r;
    rukbbsdata::CRukBoardText text;
    if (!text.Load(path.GetText(), false) || !text.Existed())
        return -1;
    // The lines that hold a separator, as the scan lists them; the id
    // comes first, so the separator is mostly found within a few bytes.
    const char* p = text.m_p;
    const char* pEnd = p + text.m_n;
    int nCount = 0;
    while (p < pEnd) {
        const char* pBreak = static_cast<const char*>(memchr(p, '\n', pEnd - p));
        const char* pLineEnd = pBreak ? pBreak : pEnd;
        if (memchr(p, rukbbsdata::kSep, pLineEnd - p))
            nCount++;
        p = pLineEnd + 1;
    }
    return nCount;
}

int CRukBBSFile::ReadRanked(
    const char* pDir, bool bLock,
    const std::function<std::pair<int, unsigned long long>(const char*, size_t)>& rank,
    const std::function<std::pair<int, int>(int)>& pick, CRukBBSDataAry& out)
{
    CRukString path = CreateFullPath(pDir);
    // The board as this object's deletion wrote it, or as it is now.
    bool bWritten = m_pWritten && m_writtenPath == path;
    CRukBBSLock lock;
    if (bLock && !bWritten && CRukFile::GetFileSize(path.GetText()) >= 0) {
        int r = lock.Lock(path.GetText(), true);
        if (r != 0)
            return r;
    }
    // The records to rank: the lines the deletion kept, or the key table
    // of the file as it is (the page reads the ids alone, and whole only
    // the records it shows).
    std::vector<int> kept;
    CRukBBSFile view;
    if (bWritten) {
        for (int i = 0; i < m_pWritten->Count(); i++)
            if (!m_writtenSkip[static_cast<size_t>(i)])
                kept.push_back(i);
    } else if (view.ReadPageView(pDir, false) < 0 &&
               CRukFile::GetFileSize(path.GetText()) >= 0) {
        return -1;
    }
    int nTotal = bWritten ? static_cast<int>(kept.size()) : view.GetCount();
    auto id = [&](int i) {
        if (!bWritten) {
            const char* p = view.IdAt(i);
            return std::make_pair(p, strlen(p));
        }
        const rukbbsdata::SLineRef& line = (*m_pWritten)[kept[static_cast<size_t>(i)]];
        return std::make_pair(m_pWritten->Line(kept[static_cast<size_t>(i)]),
                              static_cast<size_t>(line.nId));
    };
    std::pair<int, int> range = pick(nTotal);
    int nFirst = std::max(range.first, 0);
    int nEnd = std::min(range.second, nTotal);
    if (nFirst >= nEnd)
        return nTotal;
    typedef std::pair<std::pair<int, unsigned long long>, int> Keyed;
    std::vector<Keyed> order;
    order.reserve(static_cast<size_t>(nTotal));
    for (int i = 0; i < nTotal; i++) {
        std::pair<const char*, size_t> key = id(i);
        order.push_back({rank(key.first, key.second), i});
    }
    std::partial_sort(order.begin(), order.begin() + nEnd, order.end(),
                      [](const Keyed& a, const Keyed& b) {
                          return a.first != b.first ? a.first > b.first : a.second < b.second;
                      });
    for (int i = nFirst; i < nEnd; i++) {
        int n = order[static_cast<size_t>(i)].second;
        CRukBBSData rec;
        if (bWritten) {
            if (!m_pWritten->Record(kept[static_cast<size_t>(n)], rec))
                return -1;
        } else {
            const CRukBBSData* pRec = view.RecordAt(n);
            if (!pRec)
                return -1;
            rec = *pRec;
        }
        out.Add(std::move(rec));
    }
    return nTotal;
}

int CRukBBSFile::FindStored(const char* pDir, const char* pId, CRukBBSData& out, bool& bHasChild,
                            bool bLock)
{
    bHasChild = false;
    CRukString path = CreateFullPath(pDir);
    CRukBBSLock lock;
    if (int r = lock.LockToRead(path.GetText(), bLock); r != 0)
        return r;
    rukbbsdata::CRukBoardText text;
    if (!text.Load(path.GetText(), false) || !text.Existed())
        return -1;
    using rukbbsdata::kSep;
    size_t nKey = pId ? strlen(pId) : 0;
    if (nKey == 0 || memchr(pId, kSep, nKey) || memchr(pId, '\n', nKey))
        return 0;  // names no field
    // As FieldIs: field 0 (the id) or 1 (the pid) of a line, each ended by
    // a separator; the first line of the id is the message.
    bool bFound = false;
    const char* p = text.m_p;
    const char* pEnd = p + text.m_n;
    while (p < pEnd && !(bFound && bHasChild)) {
        const char* pBreak = static_cast<const char*>(memchr(p, '\n', pEnd - p));
        const char* pLineEnd = pBreak ? pBreak : pEnd;
        const char* pSep = static_cast<const char*>(memchr(p, kSep, pLineEnd - p));
        if (pSep) {
            if (!bFound && static_cast<size_t>(pSep - p) == nKey && memcmp(p, pId, nKey) == 0) {
                out = CRukBBSData();
                bFound = rukbbsdata::ParseRecord(p, static_cast<size_t>(pLineEnd - p), out);
            }
            const char* pPid = pSep + 1;
            if (!bHasChild && static_cast<size_t>(pLineEnd - pPid) > nKey &&
                pPid[nKey] == kSep && memcmp(pPid, pId, nKey) == 0)
                bHasChild = true;
        }
        p = pLineEnd + 1;
    }
    return bFound ? 1 : 0;
}
