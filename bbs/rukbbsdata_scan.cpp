// CRukBoardText: finding the lines of the message file. One pass over
// the text, 32 or 16 bytes at a time where the processor allows, finds
// each line, the places of its first separators (its keys, its body and
// the reserved fields) and whether it is already in the form the writer
// gives it (IsCanonicalLine); bytes that only an exact look settles
// (carriage returns, NULs) go through Special.
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
#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#endif

#include "rukbbsdata_impl.h"
#include "rukfile.h"
#include "rukglobal.h"


namespace rukbbsdata {

namespace {


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

}  // namespace

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
#if defined(__x86_64__) && defined(__GNUC__)
// Whether the processor and the system allow the 32-byte scan (AVX2 with
// POPCNT, and the system saving the AVX registers). Asked of CPUID only
// when a write first scans a file: the compiler's own check would probe
// the processor at the start of every request, page views included, and
// CPUID is slow under a hypervisor.
static bool HasAvx2()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    if (!(c & bit_POPCNT) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 6) != 6)  // the XMM and YMM state
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
}
#endif

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
    static const bool s_bWide = HasAvx2();
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

}  // namespace rukbbsdata
