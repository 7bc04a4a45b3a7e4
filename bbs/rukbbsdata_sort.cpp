// Ordering the lines of the message file by id, as CRukBBSFile::Sort
// orders records: a radix sort over the ids' first 16 bytes where they
// fit, a comparison sort for longer ones, equal ids in the order given.
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

}  // namespace rukbbsdata
