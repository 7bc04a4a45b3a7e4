// The message file as bytes, for the writes: one pass over the text finds
// every line, its keys and whether it is already in the form the writer
// gives it (IsCanonicalLine), so that a write parses only the lines it
// changes and copies the others as byte ranges. Reading a whole record,
// marking what a deletion takes and ordering by id work on these lines as
// the same steps on loaded records do.
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

namespace rukbbsdata {

namespace {

const char kSep = '\x1e';    // between fields
const char kBreak = '\x1d';  // a line feed of the body
const int kMessField = 8;
const int kRemoteField = 12;
const int kIconField = 20;
// The separator after the address and the seven empty reserved fields.
const char kReserved[] = "\x1e\x1e\x1e\x1e\x1e\x1e\x1e\x1e";

// The state of the line being scanned: its separators, what makes it
// uncopyable, and its first NUL.
struct SLineScan {
    size_t start = 0;
    size_t lastSep = 0;     // position after the last separator (field start)
    size_t sep[3] = {0, 0, 0};
    size_t nul[3] = {SIZE_MAX, SIZE_MAX, SIZE_MAX};  // first NUL of each key
    int nField = 0;         // separators seen
    size_t skipTo = 0;      // separators before this are taken
    bool bCanonical = true;

    void Start(size_t at)
    {
        start = lastSep = at;
        nul[0] = nul[1] = nul[2] = SIZE_MAX;
        nField = 0;
        bCanonical = true;
    }

    // A separator at k ends field nField. The separators after the
    // address are mostly the eight of the empty reserved fields in a row:
    // they are taken at once (up to skipTo).
    void Separator(const char* p, size_t n, size_t k)
    {
        if (nField == kRemoteField && k + 8 <= n && memcmp(p + k, kReserved, 8) == 0) {
            nField += 8;
            lastSep = k + 8;
            skipTo = k + 8;
            return;
        }
        if (nField > kRemoteField && nField < kIconField && k != lastSep)
            bCanonical = false;  // a reserved field holds something
        if (nField < 3)
            sep[nField] = k;
        nField++;
        lastSep = k + 1;
    }

    // The length of key f from b to e, cut at its first NUL.
    uint32_t KeyLen(int f, size_t b, size_t e) const
    {
        if (nul[f] < e)
            e = nul[f];
        return static_cast<uint32_t>(e - b);
    }

    // The line ends at k (a line feed with bFeed): listed when it holds a
    // separator.
    void Finish(size_t k, bool bFeed, std::vector<SLineRef>& lines) const
    {
        if (nField == 0)
            return;
        SLineRef ref;
        ref.at = start;
        ref.len = static_cast<uint32_t>(k - start);
        size_t e0 = sep[0];
        size_t e1 = nField >= 2 ? sep[1] : k;
        ref.nId = KeyLen(0, start, e0);
        ref.pidAt = static_cast<uint32_t>(e0 + 1 - start);
        ref.nPid = KeyLen(1, e0 + 1, e1);
        if (nField >= 2) {
            size_t e2 = nField >= 3 ? sep[2] : k;
            ref.ppidAt = static_cast<uint32_t>(e1 + 1 - start);
            ref.nPpid = KeyLen(2, e1 + 1, e2);
        } else {
            ref.ppidAt = 0;
            ref.nPpid = 0;
        }
        ref.bCanonical = bCanonical && nField >= kIconField && (nField - kIconField) % 2 == 0;
        ref.bFeed = bFeed;
        lines.push_back(ref);
    }
};

// One of the bytes that matter (all below 0x1F) at k.
inline void Special(const char* p, size_t n, size_t k, SLineScan& scan,
                    std::vector<SLineRef>& lines)
{
    switch (p[k]) {
    case '\n':
        scan.Finish(k, true, lines);
        scan.Start(k + 1);
        break;
    case kSep:
        if (k >= scan.skipTo)
            scan.Separator(p, n, k);
        break;
    case kBreak:
        if (scan.nField != kMessField)
            scan.bCanonical = false;
        break;
    case '\r':
        scan.bCanonical = false;
        break;
    case '\0':
        scan.bCanonical = false;
        if (scan.nField < 3 && scan.nul[scan.nField] == SIZE_MAX)
            scan.nul[scan.nField] = k;
        break;
    default:
        break;
    }
}

// Ids of one board mostly have one length and differ in their last
// digits: those are compared first.
inline bool KeyIs(const char* p, uint32_t n, const char* pKey, size_t nKey)
{
    if (n != nKey)
        return false;
    if (nKey >= 8) {
        uint64_t a, b;
        memcpy(&a, p + nKey - 8, 8);
        memcpy(&b, pKey + nKey - 8, 8);
        if (a != b)
            return false;
    }
    return memcmp(p, pKey, nKey) == 0;
}

}  // namespace

CRukBoardText::~CRukBoardText()
{
    if (m_pMap)
        munmap(m_pMap, m_n);
    if (m_fd >= 0)
        close(m_fd);
}

bool CRukBoardText::Load(const char* pPath, bool bIndex)
{
    m_fd = open(pPath, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return errno == ENOENT;
    struct stat st;
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size_t n = static_cast<size_t>(st.st_size);
    if (n == 0) {
        Index("", 0);
        return true;
    }
    // Mapped: the file's pages are read in place and copied by the kernel
    // straight into the new file.
    void* pMap = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_POPULATE, m_fd, 0);
    if (pMap != MAP_FAILED) {
        m_pMap = pMap;
        m_n = n;
        m_p = static_cast<const char*>(pMap);
        if (bIndex)
            Index(m_p, n);
        return true;
    }
    int fd = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    FILE* fp = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!fp) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool bRead = ReadWhole(fp, m_read);
    fclose(fp);
    if (!bRead)
        return false;
    m_p = m_read.GetData();
    m_n = m_read.GetSize();
    if (bIndex)
        Index(m_p, m_n);
    return true;
}

int CRukBoardText::TakeFd()
{
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

// The line being scanned by blocks: where it starts, the places of its
// first separators (the keys, the body's bounds and the address before
// the reserved fields), how many it holds, where its body breaks lie and
// whether it holds a byte (carriage return, NUL) that only the exact scan
// of Special settles.
struct SBlockLine {
    static const int kPlaces = kRemoteField + 1;
    size_t start = 0;
    size_t sep[kPlaces];
    int nField = 0;
    size_t firstBreak = 0, lastBreak = 0;
    bool bBreak = false;
    bool bOdd = false;

    void Start(size_t at)
    {
        start = at;
        nField = 0;
        bBreak = false;
        bOdd = false;
    }

    // The separators, body breaks and odd bytes of one piece of a block at
    // k (all of one line).
    __attribute__((always_inline)) inline void Piece(size_t k, uint32_t mSep, uint32_t mBreak,
                                                      uint32_t mOdd)
    {
        if (mOdd)
            bOdd = true;
        if (mBreak) {
            if (!bBreak)
                firstBreak = k + static_cast<size_t>(__builtin_ctz(mBreak));
            lastBreak = k + 31 - static_cast<size_t>(__builtin_clz(mBreak));
            bBreak = true;
        }
        int n = nField;
        if (n < kPlaces && mSep) {
            size_t* pPlace = sep + n;
            size_t* pEnd = sep + kPlaces;
            do {
                *pPlace++ = k + static_cast<size_t>(__builtin_ctz(mSep));
                mSep &= mSep - 1;
            } while (mSep && pPlace < pEnd);
            n = static_cast<int>(pPlace - sep);
        }
        nField = n + __builtin_popcount(mSep);
    }

    // The line ends at k: listed when it holds a separator. A line of
    // plain bytes is in the written form when it holds at least the
    // icon's fields and pairs after them, its reserved fields are empty
    // (eight separators in a row after the address) and its breaks are
    // all in the body; the others are scanned byte by byte.
    void Finish(const char* p, size_t k, bool bFeed, std::vector<SLineRef>& lines) const
    {
        if (nField == 0)
            return;
        if (bOdd) {
            SLineScan scan;
            scan.Start(start);
            for (size_t i = start; i < k; i++)
                if (static_cast<unsigned char>(p[i]) <= 0x1e)
                    Special(p, k, i, scan, lines);
            scan.Finish(k, bFeed, lines);
            return;
        }
        SLineRef ref;
        ref.at = start;
        ref.len = static_cast<uint32_t>(k - start);
        size_t e0 = sep[0];
        size_t e1 = nField >= 2 ? sep[1] : k;
        ref.nId = static_cast<uint32_t>(e0 - start);
        ref.pidAt = static_cast<uint32_t>(e0 + 1 - start);
        ref.nPid = static_cast<uint32_t>(e1 - e0 - 1);
        if (nField >= 2) {
            size_t e2 = nField >= 3 ? sep[2] : k;
            ref.ppidAt = static_cast<uint32_t>(e1 + 1 - start);
            ref.nPpid = static_cast<uint32_t>(e2 - e1 - 1);
        } else {
            ref.ppidAt = 0;
            ref.nPpid = 0;
        }
        ref.bCanonical = nField >= kIconField && (nField - kIconField) % 2 == 0 &&
                         sep[kRemoteField] + 8 <= k &&
                         memcmp(p + sep[kRemoteField], kReserved, 8) == 0 &&
                         (!bBreak || (sep[kMessField - 1] < firstBreak &&
                                      lastBreak < sep[kMessField]));
        ref.bFeed = bFeed;
        lines.push_back(ref);
    }
};

// One block of the text at k: mSep marks its separators, mFeed its line
// feeds, mBreak its body breaks and mOdd its carriage returns and NULs.
// Each line's piece of the block is taken apart, and a line feed ends
// the line.
__attribute__((always_inline)) static inline void Block(const char* p, size_t k, uint32_t mSep,
                                                       uint32_t mFeed, uint32_t mBreak,
                                                       uint32_t mOdd, SBlockLine& line,
                                                       std::vector<SLineRef>& lines)
{
    while (mFeed) {
        unsigned nBit = static_cast<unsigned>(__builtin_ctz(mFeed));
        uint32_t mBefore = (1u << nBit) - 1;
        line.Piece(k, mSep & mBefore, mBreak & mBefore, mOdd & mBefore);
        line.Finish(p, k + nBit, true, lines);
        line.Start(k + nBit + 1);
        uint32_t mAfter = nBit == 31 ? 0 : ~0u << (nBit + 1);
        mSep &= mAfter;
        mBreak &= mAfter;
        mOdd &= mAfter;
        mFeed &= mFeed - 1;
    }
    line.Piece(k, mSep, mBreak, mOdd);
}

#if defined(__x86_64__) && defined(__GNUC__)
// One 32-byte block v at k (see Block).
__attribute__((target("avx2,popcnt"), always_inline)) static inline void Block32(
    const char* p, size_t k, __m256i v, SBlockLine& line, std::vector<SLineRef>& lines)
{
    const __m256i limit = _mm256_set1_epi8(0x1e);
    uint32_t m = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(v, limit), v)));
    if (m == 0)
        return;
    uint32_t mSep =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(kSep))));
    uint32_t mFeed =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'))));
    uint32_t mBreak = 0, mOdd = 0;
    if (m & ~(mSep | mFeed)) {
        mBreak = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(kBreak))));
        mOdd = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                            _mm256_cmpeq_epi8(v, _mm256_setzero_si256()))));
        if (!(mSep | mFeed | mOdd) && line.nField == kMessField)
            return;  // breaks of the body
    }
    Block(p, k, mSep, mFeed, mBreak, mOdd, line, lines);
}

// The blocks of p[0, n) 32 bytes at a time where the processor can: the
// bytes done. Two blocks are looked at together first: most of a line is
// its body, where only a separator, a line feed or an odd byte matters.
__attribute__((target("avx2,popcnt"))) static size_t Blocks32(const char* p, size_t n,
                                                               SBlockLine& line,
                                                               std::vector<SLineRef>& lines)
{
    const __m256i limit = _mm256_set1_epi8(0x1e);
    const __m256i brk = _mm256_set1_epi8(kBreak);
    size_t k = 0;
    for (; k + 64 <= n; k += 64) {
        __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
        __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 32));
        __m256i low0 = _mm256_cmpeq_epi8(_mm256_min_epu8(v0, limit), v0);
        __m256i low1 = _mm256_cmpeq_epi8(_mm256_min_epu8(v1, limit), v1);
        if (line.nField == kMessField) {
            low0 = _mm256_andnot_si256(_mm256_cmpeq_epi8(v0, brk), low0);
            low1 = _mm256_andnot_si256(_mm256_cmpeq_epi8(v1, brk), low1);
        }
        __m256i low = _mm256_or_si256(low0, low1);
        if (_mm256_testz_si256(low, low))
            continue;
        Block32(p, k, v0, line, lines);
        Block32(p, k + 32, v1, line, lines);
    }
    for (; k + 32 <= n; k += 32)
        Block32(p, k, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k)), line, lines);
    return k;
}
#endif

#if defined(__SSE2__)
// As Blocks32, 16 bytes at a time from k.
static size_t Blocks16(const char* p, size_t k, size_t n, SBlockLine& line,
                       std::vector<SLineRef>& lines)
{
    const __m128i limit = _mm_set1_epi8(0x1e);
    const __m128i sep = _mm_set1_epi8(kSep);
    const __m128i feed = _mm_set1_epi8('\n');
    const __m128i brk = _mm_set1_epi8(kBreak);
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i nul = _mm_setzero_si128();
    for (; k + 16 <= n; k += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        uint32_t m = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, limit), v)));
        if (m == 0)
            continue;
        uint32_t mSep = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, sep)));
        uint32_t mFeed = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, feed)));
        uint32_t mBreak = 0, mOdd = 0;
        if (m & ~(mSep | mFeed)) {
            mBreak = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, brk)));
            mOdd = static_cast<uint32_t>(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, nul))));
            if (!(mSep | mFeed | mOdd) && line.nField == kMessField)
                continue;  // breaks of the body
        }
        Block(p, k, mSep, mFeed, mBreak, mOdd, line, lines);
    }
    return k;
}
#endif

// One pass over the text in blocks (see Block); the last bytes as one
// short block.
void CRukBoardText::Index(const char* p, size_t n)
{
    m_p = p;
    m_n = n;
    m_lines.clear();
    m_lines.reserve(n / 256 + 16);
    SBlockLine line;
    line.Start(0);
    size_t k = 0;
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool s_bWide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    if (s_bWide)
        k = Blocks32(p, n, line, m_lines);
#endif
#if defined(__SSE2__)
    k = Blocks16(p, k, n, line, m_lines);
#endif
    for (; k < n; k += 32) {
        uint32_t mSep = 0, mFeed = 0, mBreak = 0, mOdd = 0;
        for (size_t i = 0; i < 32 && k + i < n; i++) {
            uint32_t bit = 1u << i;
            switch (p[k + i]) {
            case kSep: mSep |= bit; break;
            case '\n': mFeed |= bit; break;
            case kBreak: mBreak |= bit; break;
            case '\r':
            case '\0': mOdd |= bit; break;
            default: break;
            }
        }
        Block(p, k, mSep, mFeed, mBreak, mOdd, line, m_lines);
    }
    if (line.start < n)
        line.Finish(p, n, false, m_lines);
}

bool CRukBoardText::IdIs(int i, const char* pKey, size_t nKey) const
{
    const SLineRef& l = (*this)[i];
    return KeyIs(m_p + l.at, l.nId, pKey, nKey);
}

bool CRukBoardText::PidIs(int i, const char* pKey, size_t nKey) const
{
    const SLineRef& l = (*this)[i];
    return KeyIs(m_p + l.at + l.pidAt, l.nPid, pKey, nKey);
}

bool CRukBoardText::PpidIs(int i, const char* pKey, size_t nKey) const
{
    const SLineRef& l = (*this)[i];
    return KeyIs(m_p + l.at + l.ppidAt, l.nPpid, pKey, nKey);
}

CRukString CRukBoardText::Id(int i) const
{
    CRukString id;
    const SLineRef& l = (*this)[i];
    if (l.nId > 0)
        id.Append(m_p + l.at, static_cast<int>(l.nId));
    return id;
}

CRukString CRukBoardText::ThreadKey(int i) const
{
    const SLineRef& l = (*this)[i];
    if (l.nPpid == 0)
        return Id(i);
    CRukString key;
    key.Append(m_p + l.at + l.ppidAt, static_cast<int>(l.nPpid));
    return key;
}

int CRukBoardText::Find(const char* pId) const
{
    size_t nKey = pId ? strlen(pId) : 0;
    if (nKey == 0)
        return -1;
    for (int i = 0; i < Count(); i++)
        if (IdIs(i, pId, nKey))
            return i;
    return -1;
}

bool CRukBoardText::HasReplies(const char* pId) const
{
    size_t nKey = strlen(pId);
    for (int i = 0; i < Count(); i++)
        if (PidIs(i, pId, nKey))
            return true;
    return false;
}

bool CRukBoardText::Record(int i, CRukBBSData& rec) const
{
    rec = CRukBBSData();
    return ParseRecord(Line(i), (*this)[i].len, rec);
}

void CRukBoardText::Keys(int i, CRukBBSData& rec) const
{
    const SLineRef& l = (*this)[i];
    const char* p = Line(i);
    rec = CRukBBSData();
    if (l.nId > 0)
        rec.id.Append(p, static_cast<int>(l.nId));
    if (l.nPid > 0)
        rec.pid.Append(p + l.pidAt, static_cast<int>(l.nPid));
    if (l.nPpid > 0)
        rec.ppid.Append(p + l.ppidAt, static_cast<int>(l.nPpid));
    rec.lineAt = static_cast<long>(l.at);
    rec.lineLen = static_cast<int>(l.len);
}

// The walk below pId follows pid links among the unmarked lines; what it
// reaches is found round by round (a reply's replies are few), and a chain
// deeper than a few rounds is followed through an index by pid instead.
bool CRukBoardText::Mark(const char* pId, std::vector<char>& mask, char cMark) const
{
    std::string key(pId ? pId : "");
    if (key.empty())
        return false;
    bool bMarked = false;
    int n = Count();
    for (int i = 0; i < n; i++) {
        if (mask[i])
            continue;
        if (PpidIs(i, key.data(), key.size()) || IdIs(i, key.data(), key.size())) {
            mask[i] = cMark;
            bMarked = true;
        }
    }
    if (!bMarked)
        return false;

    auto pidOf = [&](int i) {
        const SLineRef& l = (*this)[i];
        return std::string(m_p + l.at + l.pidAt, l.nPid);
    };
    auto idOf = [&](int i) { return std::string(m_p + (*this)[i].at, (*this)[i].nId); };
    std::vector<char> reached(static_cast<size_t>(n), 0);
    std::unordered_set<std::string> ids;  // the ids of the lines reached
    std::vector<std::string> frontier{key};
    std::unordered_multimap<std::string, int> byPid;
    bool bIndexed = false;
    for (int nRound = 0; !frontier.empty(); nRound++) {
        std::vector<std::string> next;
        auto reach = [&](int i) {
            if (mask[i] || reached[i])
                return;
            reached[i] = 1;
            std::string id = idOf(i);
            if (ids.insert(id).second)
                next.push_back(id);
        };
        if (nRound < 8 && frontier.size() <= 8) {
            for (int i = 0; i < n; i++) {
                if ((*this)[i].nPid == 0 || mask[i] || reached[i])
                    continue;
                for (const std::string& pid : frontier)
                    if (PidIs(i, pid.data(), pid.size())) {
                        reach(i);
                        break;
                    }
            }
        } else {
            if (!bIndexed) {
                for (int i = 0; i < n; i++)
                    if ((*this)[i].nPid > 0 && !mask[i])
                        byPid.emplace(pidOf(i), i);
                bIndexed = true;
            }
            for (const std::string& pid : frontier) {
                auto range = byPid.equal_range(pid);
                for (auto it = range.first; it != range.second; ++it)
                    reach(it->second);
            }
        }
        frontier = std::move(next);
    }
    if (ids.empty())
        return true;
    for (int i = 0; i < n; i++)
        if (!mask[i] && ids.count(idOf(i)) > 0)
            mask[i] = cMark;
    return true;
}

// As CRukBBSFile::Sort: each id's first 16 bytes as two big-endian numbers
// (NUL-padded), longer ids settled byte-wise, equal ids in pick order.
// An id's place in the order of SortById.
struct SSortKey {
    unsigned long long nHigh, nLow;  // its first 16 bytes, NUL-padded
    const char* pId;
    uint32_t nId;
    int nPick;  // its place among the picks
};
// An id within 16 bytes as the radix sort takes it: its key inverted for
// the descending order, so that both orders sort upwards.
struct SRadixKey {
    unsigned long long nHigh, nLow;
    uint32_t nPick;
};
static void RadixSort(std::vector<SRadixKey>& keys);
static void SortLong(std::vector<SSortKey>& keys, bool bDescending);

// The first 16 bytes of the id at p (nId long; nRoom bytes can be read
// from p) as two big-endian numbers, NUL-padded.
static inline void IdKey(const char* p, uint32_t nId, size_t nRoom, unsigned long long& nHigh,
                         unsigned long long& nLow)
{
    unsigned char sz[16] = {0};
    memcpy(sz, p, std::min<size_t>(nRoom, 16));
    uint64_t a, b;
    memcpy(&a, sz, 8);
    memcpy(&b, sz + 8, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    a = __builtin_bswap64(a);
    b = __builtin_bswap64(b);
#endif
    if (nId <= 8) {
        b = 0;
        a = nId == 0 ? 0 : a & (~0ull << ((8 - nId) * 8));
    } else if (nId < 16) {
        b &= ~0ull << ((16 - nId) * 8);
    }
    nHigh = a;
    nLow = b;
}

void SortById(std::vector<SLinePick>& picks, bool bDescending)
{
    bool bShort = true;  // every id within the 16 bytes of its key
    for (const SLinePick& pick : picks)
        bShort = bShort && (*pick.pText)[pick.nLine].nId <= 16;
    std::vector<SLinePick> sorted;
    sorted.reserve(picks.size());
    if (bShort) {
        unsigned long long nFlip = bDescending ? ~0ull : 0;
        std::vector<SRadixKey> keys(picks.size());
        for (size_t n = 0; n < picks.size(); n++) {
            const CRukBoardText& text = *picks[n].pText;
            const SLineRef& l = text[picks[n].nLine];
            SRadixKey& key = keys[n];
            IdKey(text.m_p + l.at, l.nId, text.m_n - l.at, key.nHigh, key.nLow);
            key.nHigh ^= nFlip;
            key.nLow ^= nFlip;
            key.nPick = static_cast<uint32_t>(n);
        }
        RadixSort(keys);
        for (const SRadixKey& key : keys)
            sorted.push_back(picks[key.nPick]);
    } else {
        std::vector<SSortKey> keys(picks.size());
        for (size_t n = 0; n < picks.size(); n++) {
            const CRukBoardText& text = *picks[n].pText;
            const SLineRef& l = text[picks[n].nLine];
            SSortKey& key = keys[n];
            IdKey(text.m_p + l.at, l.nId, text.m_n - l.at, key.nHigh, key.nLow);
            key.pId = text.m_p + l.at;
            key.nId = l.nId;
            key.nPick = static_cast<int>(n);
        }
        SortLong(keys, bDescending);
        for (const SSortKey& key : keys)
            sorted.push_back(picks[static_cast<size_t>(key.nPick)]);
    }
    picks = std::move(sorted);
}

// Sorts keys upwards byte by byte from the last, each pass stable, so
// that equal ids keep their order; a byte that is the same in every key
// costs no pass.
static void RadixSort(std::vector<SRadixKey>& keys)
{
    auto digit = [](const SRadixKey& key, int nByte) {
        unsigned long long n = nByte < 8 ? key.nLow : key.nHigh;
        return static_cast<unsigned>((n >> ((nByte % 8) * 8)) & 0xff);
    };
    // The bytes that differ between keys, then the counts of their values.
    unsigned long long nOrHigh = 0, nAndHigh = ~0ull, nOrLow = 0, nAndLow = ~0ull;
    for (const SRadixKey& key : keys) {
        nOrHigh |= key.nHigh;
        nAndHigh &= key.nHigh;
        nOrLow |= key.nLow;
        nAndLow &= key.nLow;
    }
    std::vector<int> bytes;
    bool bNibbles = true;  // the bytes that differ do so in their low halves
    for (int nByte = 0; nByte < 16; nByte++) {
        unsigned long long nDiff = nByte < 8 ? nOrLow ^ nAndLow : nOrHigh ^ nAndHigh;
        unsigned nByteDiff = static_cast<unsigned>((nDiff >> ((nByte % 8) * 8)) & 0xff);
        if (nByteDiff)
            bytes.push_back(nByte);
        bNibbles = bNibbles && (nByteDiff & 0xf0) == 0;
    }
    if (bNibbles && bytes.size() > 1) {
        // Ids of digits: the low halves of the bytes that differ, highest
        // first, order the keys as the whole bytes do, in half the passes.
        for (SRadixKey& key : keys) {
            unsigned long long nPacked = 0;
            for (size_t b = bytes.size(); b-- > 0;)
                nPacked = (nPacked << 4) | (digit(key, bytes[b]) & 0xf);
            key.nHigh = 0;
            key.nLow = nPacked;
        }
        size_t nPackedBytes = (bytes.size() + 1) / 2;
        bytes.clear();
        for (size_t b = 0; b < nPackedBytes; b++)
            bytes.push_back(static_cast<int>(b));
    }
    std::vector<size_t> counts(16 * 257, 0);
    std::vector<SRadixKey> other(keys.size());
    for (int nByte : bytes) {
        // One stable pass on byte nByte of the half it is in.
        size_t* count = &counts[static_cast<size_t>(nByte * 257)];
        unsigned nShift = static_cast<unsigned>(nByte % 8) * 8;
        auto pass = [&](unsigned long long SRadixKey::*pHalf) {
            for (const SRadixKey& key : keys)
                count[((key.*pHalf >> nShift) & 0xff) + 1]++;
            for (int d = 0; d < 256; d++)
                count[d + 1] += count[d];
            for (const SRadixKey& key : keys)
                other[count[(key.*pHalf >> nShift) & 0xff]++] = key;
        };
        pass(nByte < 8 ? &SRadixKey::nLow : &SRadixKey::nHigh);
        keys.swap(other);
    }
}

// Sorts keys of which some ids are longer than 16 bytes.
static void SortLong(std::vector<SSortKey>& keys, bool bDescending)
{
    auto compare = [](const SSortKey& a, const SSortKey& b) {
        if (a.nHigh != b.nHigh)
            return a.nHigh < b.nHigh ? -1 : 1;
        if (a.nLow != b.nLow)
            return a.nLow < b.nLow ? -1 : 1;
        size_t na = a.nId > 16 ? a.nId - 16 : 0;
        size_t nb = b.nId > 16 ? b.nId - 16 : 0;
        int r = na > 0 && nb > 0 ? memcmp(a.pId + 16, b.pId + 16, std::min(na, nb)) : 0;
        if (r != 0)
            return r < 0 ? -1 : 1;
        return na == nb ? 0 : (na < nb ? -1 : 1);
    };
    std::sort(keys.begin(), keys.end(), [&](const SSortKey& a, const SSortKey& b) {
        int r = compare(a, b);
        if (bDescending)
            r = -r;
        return r < 0 || (r == 0 && a.nPick < b.nPick);
    });
}

void CRukLineCopier::Line(const CRukBoardText& text, int i)
{
    const SLineRef& l = text[i];
    if (!l.bCanonical) {
        CRukBBSData rec;
        if (text.Record(i, rec))
            Record(rec);
        return;
    }
    if (!l.bFeed) {
        Flush();
        m_out.Put(text.Line(i), l.len);
        m_out.Put('\n');
        return;
    }
    if (m_nRunLen > 0 && m_pRunText == &text && m_nRunAt + m_nRunLen == l.at) {
        m_nRunLen += l.len + 1;
        return;
    }
    Flush();
    m_pRunText = &text;
    m_nRunAt = l.at;
    m_nRunLen = l.len + 1;
}

void CRukLineCopier::Flush()
{
    if (m_nRunLen > 0)
        m_out.Put(m_pRunText->m_p + m_nRunAt, m_nRunLen);
    m_nRunLen = 0;
}

int ReplaceWith(const char* pPath, const std::function<void(CRukLineCopier&)>& write)
{
    CRukAtomicFile file;
    if (file.Open(pPath) != 0)
        return -1;
    std::unique_ptr<SFileWriter> out = std::make_unique<SFileWriter>(file);
    {
        CRukLineCopier copier(*out);
        write(copier);
    }
    if (!out->Flush() || file.Commit() != 0)
        return -1;
    if (chmod(pPath, go.m_nFileMode) != 0)
        go.m_log.Trace("       CRukBBSFile: chmod(%s) failed", pPath);
    return 0;
}

}  // namespace rukbbsdata

int CRukBBSFile::CountRecords(const char* pDir, bool bLock)
{
    CRukString path = CreateFullPath(pDir);
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        return -1;
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), true);
        if (r != 0)
            return r;
    }
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
    rukbbsdata::CRukBoardText loaded;
    if (!bWritten && !loaded.Load(path.GetText()))
        return -1;
    const rukbbsdata::CRukBoardText& text = bWritten ? *m_pWritten : loaded;
    auto kept = [&](int i) { return !bWritten || !m_writtenSkip[static_cast<size_t>(i)]; };
    int nTotal = 0;
    for (int i = 0; i < text.Count(); i++)
        nTotal += kept(i) ? 1 : 0;
    std::pair<int, int> range = pick(nTotal);
    int nFirst = std::max(range.first, 0);
    int nEnd = std::min(range.second, nTotal);
    if (nFirst >= nEnd)
        return nTotal;
    typedef std::pair<std::pair<int, unsigned long long>, int> Keyed;
    std::vector<Keyed> order;
    order.reserve(static_cast<size_t>(nTotal));
    for (int i = 0; i < text.Count(); i++)
        if (kept(i))
            order.push_back({rank(text.Line(i), text[i].nId), i});
    std::partial_sort(order.begin(), order.begin() + nEnd, order.end(),
                      [](const Keyed& a, const Keyed& b) {
                          return a.first != b.first ? a.first > b.first : a.second < b.second;
                      });
    for (int i = nFirst; i < nEnd; i++) {
        CRukBBSData rec;
        if (!text.Record(order[static_cast<size_t>(i)].second, rec))
            return -1;
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
    if (bLock) {
        int r = lock.Lock(path.GetText(), true);
        if (r != 0)
            return r;
    }
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
