// CRukBBSFile: loading the board for the pages that only show it (see
// rukbbsdata_view.h). The message file is read once in blocks; each line
// costs a look for its line feed and its first three separators and a copy
// of its keys, and no record is made until a query hands one out. A search
// looks for its first word in each whole block, so that only the lines
// holding it are gone through field by field.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsdata_impl.h"
#include "rukbbsdata_view.h"
#include "rukglobal.h"

namespace rukbbsdata {

static const char s_cFieldSep = '\x1e';

unsigned HashKey(const char* p, size_t n)
{
    uint64_t a = 0, b = 0;
    if (n >= 8) {
        memcpy(&a, p, 8);
        memcpy(&b, p + n - 8, 8);
    } else {
        for (size_t i = 0; i < n; i++)
            a = (a << 8) | static_cast<unsigned char>(p[i]);
    }
    uint64_t h = (a ^ ((b << 23) | (b >> 41)) ^ n) * 0x9e3779b97f4a7c15ull;
    return static_cast<unsigned>(h >> 32);
}

// The separator after p in p..pEnd, or null.
static const char* NextSep(const char* p, const char* pEnd)
{
    return p < pEnd ? static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p)) : nullptr;
}

static const size_t s_nHugePage = 2u << 20;

void* BigAlloc(size_t nBytes, void*& pMapped, size_t& nMapped)
{
    pMapped = nullptr;
    nMapped = 0;
    if (nBytes < (256u << 10))
        return malloc(nBytes > 0 ? nBytes : 1);
    // One huge page more than needed, so that the block can start on a
    // huge page's boundary.
    size_t nRound = (nBytes + s_nHugePage - 1) & ~(s_nHugePage - 1);
    size_t nMap = nRound + s_nHugePage;
    void* p = mmap(nullptr, nMap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    uintptr_t nAt = (reinterpret_cast<uintptr_t>(p) + s_nHugePage - 1) & ~(s_nHugePage - 1);
    madvise(reinterpret_cast<void*>(nAt), nRound, MADV_HUGEPAGE);  // a hint only
    pMapped = p;
    nMapped = nMap;
    return reinterpret_cast<void*>(nAt);
}

void BigFree(void* p, void* pMapped, size_t nMapped)
{
    if (pMapped)
        munmap(pMapped, nMapped);
    else
        free(p);
}

// Room for n more bytes in the key block.
static char* KeySpace(SRukKeyView& view, size_t n)
{
    size_t nKeys = view.keys.size();
    if (nKeys + n > view.keys.room())
        view.keys.reserve(std::max<size_t>(nKeys * 2, nKeys + n + 4096));
    return view.keys.data() + nKeys;
}

// Adds a row whose keys were copied to the end of the key block, the id
// ending at nPid - 1, the pid at nPpid - 1 and the ppid at nUsed - 1 (each
// ended by a NUL there, the ppid by its first: nPpidLen bytes).
static void PushRow(SRukKeyView& view, long nAt, size_t n, int nPid, int nPpid, size_t nUsed,
                    size_t nPpidLen)
{
    size_t nKeys = view.keys.size();
    const char* q = view.keys.data() + nKeys;
    int nRow = static_cast<int>(view.rows.size());
    const char* pPpid = q + nPpid;
    unsigned nHash = HashKey(pPpid, nPpidLen);
    view.rows.push_back({nAt, nKeys, static_cast<int>(n), nPid, nPpid, nHash});
    view.keys.resize(nKeys + nUsed);
    if (!q[nPid])
        view.roots.push_back(nRow);
    if (!*pPpid)
        view.nThreads++;
}

// AddRow for any line: each separator looked for with memchr.
static bool AddRowLong(SRukKeyView& view, const char* p, size_t n, long nAt)
{
    const char* pEnd = p + n;
    const char* pSep1 = NextSep(p, pEnd);
    if (!pSep1)
        return false;
    const char* pSep2 = NextSep(pSep1 + 1, pEnd);
    const char* pSep3 = pSep2 ? NextSep(pSep2 + 1, pEnd) : nullptr;
    const char* pKeysEnd = pSep3 ? pSep3 : pEnd;
    size_t nCopy = static_cast<size_t>(pKeysEnd - p);
    // The three keys and their NULs; a line without a ppid field gets an
    // empty one.
    size_t nUsed = nCopy + (pSep2 ? 1 : 2);
    char* q = KeySpace(view, nUsed);
    memcpy(q, p, nCopy);
    q[pSep1 - p] = 0;
    q[nCopy] = 0;
    int nPid = static_cast<int>(pSep1 + 1 - p);
    int nPpid;
    if (pSep2) {
        q[pSep2 - p] = 0;
        nPpid = static_cast<int>(pSep2 + 1 - p);
    } else {
        q[nCopy + 1] = 0;
        nPpid = static_cast<int>(nCopy + 1);
    }
    PushRow(view, nAt, n, nPid, nPpid, nUsed, strlen(q + nPpid));
    return true;
}

// The bits of the 64 bytes at p that equal c.
static inline uint64_t Bits64(const char* p, __m128i c)
{
    uint64_t m = 0;
    for (int k = 0; k < 4; k++) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        m |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c))))
             << (16 * k);
    }
    return m;
}

// Adds the row of one line (without its line feed) at offset nAt: false
// for a line without any separator, which holds no record. The keys are
// the first three fields as ParseKeys reads them (a missing one empty).
// Most lines have their keys within their first 64 bytes and no NUL in
// them: those are found with one vector pass and copied as one piece; p
// must be followed by 64 readable bytes.
static bool AddRow(SRukKeyView& view, const char* p, size_t n, long nAt)
{
    uint64_t nLine = n >= 64 ? ~0ull : (1ull << n) - 1;
    uint64_t nSeps = Bits64(p, _mm_set1_epi8(s_cFieldSep)) & nLine;
    if (!nSeps)
        return n >= 64 ? AddRowLong(view, p, n, nAt) : false;
    size_t nSep1 = static_cast<size_t>(__builtin_ctzll(nSeps));
    nSeps &= nSeps - 1;
    size_t nSep2 = nSeps ? static_cast<size_t>(__builtin_ctzll(nSeps)) : 0;
    nSeps &= nSeps - 1;
    size_t nKeysEnd = nSeps ? static_cast<size_t>(__builtin_ctzll(nSeps)) : n;
    if (nKeysEnd > 63)
        return AddRowLong(view, p, n, nAt);
    uint64_t nNuls = Bits64(p, _mm_setzero_si128());
    if (nNuls & ((1ull << nKeysEnd) - 1))
        return AddRowLong(view, p, n, nAt);
    char* q = KeySpace(view, 66);
    memcpy(q, p, 64);
    q[nSep1] = 0;
    q[nKeysEnd] = 0;
    int nPid = static_cast<int>(nSep1 + 1);
    int nPpid;
    size_t nUsed;
    if (nSep2) {
        q[nSep2] = 0;
        nPpid = static_cast<int>(nSep2 + 1);
        nUsed = nKeysEnd + 1;
    } else {
        q[nKeysEnd + 1] = 0;
        nPpid = static_cast<int>(nKeysEnd + 1);
        nUsed = nKeysEnd + 2;
    }
    PushRow(view, nAt, n, nPid, nPpid, nUsed, nUsed - 1 - static_cast<size_t>(nPpid));
    return true;
}

// The next place at or after p (before pEnd, where a NUL ends the block)
// where pWord occurs without a NUL inside it, or pEnd.
static const char* NextHit(const char* p, const char* pEnd, const char* pWord)
{
    while (p < pEnd) {
        const char* pHit = strstr(p, pWord);
        if (pHit)
            return pHit;
        p += strlen(p) + 1;  // past a NUL stored in a line
    }
    return pEnd;
}

// Hands the lines of one block (those ending in a line feed, all with
// bLast) to the view and the search; returns where the unfinished rest
// begins. The block needs one byte after pEnd.
static char* ScanBlock(SRukKeyView& view, SViewSearch* pSearch, char* p, char* pEnd, bool bLast,
                       long nBase)
{
    char* pStart = p;
    *pEnd = 0;
    const char* pWord = pSearch && pSearch->pWords->GetSize() > 0
                            ? (*pSearch->pWords)[0].GetText()
                            : nullptr;
    const char* pHit = nullptr;  // where the first word occurs next
    while (p < pEnd) {
        char* pBreak = static_cast<char*>(memchr(p, '\n', pEnd - p));
        if (!pBreak && !bLast)
            break;
        char* pLineEnd = pBreak ? pBreak : pEnd;
        size_t n = static_cast<size_t>(pLineEnd - p);
        if (AddRow(view, p, n, nBase + (p - pStart)) && pSearch) {
            if (pWord && pHit < p)
                pHit = NextHit(p, pEnd, pWord);
            if (!pWord || pHit < pLineEnd) {
                *pLineEnd = 0;
                if (MatchesVisible(p, n, *pSearch->pWords)) {
                    CRukBBSData whole;
                    ParseRecord(p, n, whole);
                    pSearch->pOut->Add(std::move(whole));
                    pSearch->nFound++;
                }
            }
        }
        p = pLineEnd + 1;
    }
    return p < pEnd ? p : pEnd;
}

// Sizes the view once from the first block's lines and the file size, so
// that a large board is not copied as its table grows.
static void Reserve(SRukKeyView& view, const char* p, const char* pEnd, off_t nFile)
{
    size_t nLines = 1;
    for (const char* q = p; (q = static_cast<const char*>(memchr(q, '\n', pEnd - q))); q++)
        nLines++;
    double fScale = nFile > 0 ? static_cast<double>(nFile) / (pEnd - p) : 1.0;
    double fGuess = fScale <= 1.0 ? nLines : nLines * fScale * 1.05 + 16;
    double fMost = static_cast<double>(nFile) / 21 + 64;
    size_t nRows = static_cast<size_t>(std::min(fGuess, fMost));
    view.rows.reserve(view.rows.size() + nRows);
    view.keys.reserve(view.keys.size() + nRows * 48 + 4096);
    view.roots.reserve(view.roots.size() + nRows / 2 + 16);
}

// Reads up to n bytes into p: the count (0 at the end), or -1.
static ssize_t ReadSome(int fd, char* p, size_t n)
{
    for (;;) {
        ssize_t r = read(fd, p, n);
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

// Reads fd from where it stands to its end in blocks, handing each to
// onBlock(p, pEnd, bLast, nBase, bFirst), which takes the lines that end
// in a line feed (all with bLast) and returns where the unfinished rest
// begins; nBase is the file offset of p. A block is followed by room for
// a NUL and by 64 more readable bytes (AddRow reads that far past a
// line's start). false on a read error.
template <class FBlock>
static bool ReadBlocks(int fd, FBlock onBlock)
{
    size_t nBlock = kChunk;
    std::unique_ptr<char[]> block(new char[nBlock + 1 + 64]);
    size_t nHeld = 0;  // bytes of an unfinished line at the block's start
    long nBase = 0;    // file offset of the block's first byte
    bool bFirst = true;
    for (;;) {
        if (nHeld == nBlock) {  // one line fills the block: double it
            std::unique_ptr<char[]> bigger(new char[nBlock * 2 + 1 + 64]);
            memcpy(bigger.get(), block.get(), nHeld);
            block = std::move(bigger);
            nBlock *= 2;
        }
        ssize_t r = ReadSome(fd, block.get() + nHeld, nBlock - nHeld);
        if (r < 0)
            return false;
        bool bLast = r == 0;
        char* pEnd = block.get() + nHeld + r;
        memset(pEnd, 0, 1 + 64);  // what is read past the data is never unset
        char* p = onBlock(block.get(), pEnd, bLast, nBase, bFirst);
        bFirst = false;
        if (bLast)
            return true;
        nHeld = static_cast<size_t>(pEnd - p);
        nBase += static_cast<long>(p - block.get());
        memmove(block.get(), p, nHeld);
    }
}

int ScanView(int fd, SRukKeyView& view, SViewSearch* pSearch)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -1;
    size_t nRows = view.rows.size(), nKeys = view.keys.size(), nRoots = view.roots.size();
    int nThreads = view.nThreads;
    int nOut = pSearch ? pSearch->pOut->GetSize() : 0;
    int nFound = pSearch ? pSearch->nFound : 0;
    auto scan = [&](char* p, char* pEnd, bool bLast, long nBase, bool bFirst) {
        if (bFirst && !bLast)
            Reserve(view, p, pEnd, st.st_size);
        return ScanBlock(view, pSearch, p, pEnd, bLast, nBase);
    };
    if (!ReadBlocks(fd, scan)) {
        view.rows.resize(nRows);
        view.keys.resize(nKeys);
        view.roots.resize(nRoots);
        view.nThreads = nThreads;
        if (pSearch) {
            Truncate(*pSearch->pOut, nOut);
            pSearch->nFound = nFound;
        }
        return -1;
    }
    return view.Size() - static_cast<int>(nRows);
}

bool ScanForId(int fd, const char* pKey, CRukBBSData& out, bool& bFound, bool& bHasChild)
{
    bFound = bHasChild = false;
    size_t nKey = strlen(pKey);
    // A field never holds a separator, so such a key names nothing.
    if (nKey == 0 || memchr(pKey, s_cFieldSep, nKey))
        pKey = nullptr;
    auto look = [&](const char* p, size_t n) {
        const char* pEnd = p + n;
        const char* pSep = NextSep(p, pEnd);
        if (!pKey || !pSep)
            return;
        if (!bFound && static_cast<size_t>(pSep - p) == nKey && memcmp(p, pKey, nKey) == 0) {
            out = CRukBBSData();
            bFound = ParseRecord(p, n, out);
        }
        const char* pPid = pSep + 1;
        if (!bHasChild && static_cast<size_t>(pEnd - pPid) > nKey &&
            memcmp(pPid, pKey, nKey) == 0 && pPid[nKey] == s_cFieldSep)
            bHasChild = true;
    };
    auto scan = [&](char* p, char* pEnd, bool bLast, long, bool) {
        while (p < pEnd) {
            char* pBreak = static_cast<char*>(memchr(p, '\n', pEnd - p));
            if (!pBreak && !bLast)
                break;
            char* pLineEnd = pBreak ? pBreak : pEnd;
            look(p, static_cast<size_t>(pLineEnd - p));
            p = pLineEnd + 1;
        }
        return p < pEnd ? p : pEnd;
    };
    return ReadBlocks(fd, scan);
}

}  // namespace rukbbsdata

using namespace rukbbsdata;

void SRukKeyView::MakeKeys(int i, CRukBBSData& rec) const
{
    rec.id = Id(i);
    rec.pid = Pid(i);
    rec.ppid = Ppid(i);
    rec.lineAt = rows[i].at;
    rec.lineLen = rows[i].len;
}

// A row's id field takes pid - 1 bytes of the key block before its NUL
// (it ends earlier at a NUL inside it); only rows whose field is long
// enough and whose byte at the end of pId agrees are compared whole,
// their NUL included.
int SRukKeyView::FindId(const char* pId) const
{
    size_t nLen = strlen(pId);
    char cLast = nLen > 0 ? pId[nLen - 1] : 0;
    size_t nAt = nLen > 0 ? nLen - 1 : 0;
    for (int i = 0; i < Size(); i++) {
        const SRow& row = rows[i];
        if (static_cast<size_t>(row.pid - 1) < nLen)
            continue;
        const char* p = keys.data() + row.key;
        if (p[nAt] == cLast && memcmp(p, pId, nLen + 1) == 0)
            return i;
    }
    return -1;
}

// Only the rows with a ppid are chained (the roots all share the empty
// one, and would make one long chain that other keys could fall into).
void SRukKeyView::IndexThreads()
{
    if (!threadHead.empty())
        return;
    int n = Size();
    size_t nSlots = 16;
    while (nSlots < 2 * static_cast<size_t>(n - nThreads))
        nSlots <<= 1;
    threadHead.assign(nSlots, -1);
    threadNext.assign(static_cast<size_t>(n), -1);
    for (int i = n - 1; i >= 0; i--) {
        if (!*Ppid(i))
            continue;
        size_t nSlot = rows[i].hash & (nSlots - 1);
        threadNext[i] = threadHead[nSlot];
        threadHead[nSlot] = i;
    }
}

// Loads the keys of pPath's records into a new view and keeps the file
// (none when it is missing); with pWords the records holding them go to
// pOut whole. The records (or the hits), or -1 when it exists but cannot
// be read.
int CRukBBSFile::LoadView(const char* pPath, const CRukStrAry* pWords, CRukBBSDataAry* pOut)
{
    ForgetIndex();
    m_aryData.RemoveAll();
    CloseSnapshot();
    go.m_log.Trace("---->> CRukBBSFile::ReadFile(%s) START ----", pPath);
    int fd = open(pPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? 0 : -1;
    auto view = std::make_unique<SRukKeyView>();
    SViewSearch search{pWords, pOut};
    int n = ScanView(fd, *view, pWords ? &search : nullptr);
    if (n < 0) {
        close(fd);
        return -1;
    }
    m_fdSnapshot = fd;
    m_pView = std::move(view);
    go.m_log.Trace("----<< CRukBBSFile::ReadFile END num = %d ----", n);
    return pWords ? search.nFound : n;
}

int CRukBBSFile::ReadPageView(const char* pDir, bool bLock)
{
    CRukString path = StartLoad(pDir);
    if (path.IsEmpty())
        return -1;
    CRukBBSLock lock;
    if (int r = lock.LockToRead(path.GetText(), bLock); r != 0)
        return r;
    return LoadView(path.GetText(), nullptr, nullptr);
}

int CRukBBSFile::GetCount() const
{
    return m_pView ? m_pView->Size() : m_aryData.GetSize();
}

const char* CRukBBSFile::IdAt(int i) const
{
    return m_pView ? m_pView->Id(i) : m_aryData[i].id.GetText();
}

const char* CRukBBSFile::PpidAt(int i) const
{
    return m_pView ? m_pView->Ppid(i) : m_aryData[i].ppid.GetText();
}

CRukBBSData* CRukBBSFile::RecordAt(int i)
{
    if (!m_pView)
        return Complete(m_aryData[i]) ? &m_aryData[i] : nullptr;
    auto made = m_pView->made.try_emplace(i);
    CRukBBSData& rec = made.first->second;
    if (made.second)
        m_pView->MakeKeys(i, rec);
    return Complete(rec) ? &rec : nullptr;
}
