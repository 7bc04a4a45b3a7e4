// The board as the reading pages load it (CRukBBSFile::ReadPageView): no
// record at all, only a compact table with one row per record of the
// message file (where its line lies, and its three keys copied into one
// shared block of text), the rows of the thread roots, and the whole
// records made so far. A query turns the rows it hands out into records
// with their keys and completes them from the file, exactly as for the
// records ReadPageKeys loads, so both loads give the same pages.
#ifndef RUKBBSDATA_VIEW_H
#define RUKBBSDATA_VIEW_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "rukbbsdata.h"

namespace rukbbsdata {

// Memory for a large table: from 256 KiB on mapped on its own and asked to
// be backed by 2 MiB pages (one page fault per 2 MiB instead of one per
// 4 KiB, which is what a large board's tables mostly cost), below that
// from malloc. null when there is none.
void* BigAlloc(size_t nBytes, void*& pMapped, size_t& nMapped);
void BigFree(void* p, void* pMapped, size_t nMapped);

// A growable array of plain values in such memory.
template <class T>
class SBigArray {
public:
    SBigArray() = default;
    SBigArray(const SBigArray&) = delete;
    SBigArray& operator=(const SBigArray&) = delete;
    ~SBigArray() { BigFree(m_p, m_pMapped, m_nMapped); }

    size_t size() const { return m_n; }
    bool empty() const { return m_n == 0; }
    size_t room() const { return m_nRoom; }
    T* data() const { return m_p; }
    T& operator[](size_t i) const { return m_p[i]; }
    // Makes room for n values in all (a failure of memory throws, as a
    // vector's would).
    void reserve(size_t n)
    {
        if (n <= m_nRoom)
            return;
        void* pMapped = nullptr;
        size_t nMapped = 0;
        T* p = static_cast<T*>(BigAlloc(n * sizeof(T), pMapped, nMapped));
        if (!p)
            throw std::bad_alloc();
        if (m_n > 0)
            memcpy(static_cast<void*>(p), m_p, m_n * sizeof(T));
        BigFree(m_p, m_pMapped, m_nMapped);
        m_p = p;
        m_pMapped = pMapped;
        m_nMapped = nMapped;
        m_nRoom = n;
    }
    void push_back(const T& v)
    {
        if (m_n == m_nRoom)
            reserve(m_nRoom < 16 ? 16 : m_nRoom * 2);
        m_p[m_n++] = v;
    }
    // Sets the size to n (at most the room), the values as they are.
    void resize(size_t n) { m_n = n; }
    void assign(size_t n, const T& v)
    {
        reserve(n);
        for (size_t i = 0; i < n; i++)
            m_p[i] = v;
        m_n = n;
    }

private:
    T* m_p = nullptr;
    size_t m_n = 0;
    size_t m_nRoom = 0;
    void* m_pMapped = nullptr;
    size_t m_nMapped = 0;
};

}  // namespace rukbbsdata

struct SRukKeyView {
    // One record of the file: its line, and its keys in the key block,
    // each ended by a NUL (a key ends at its first NUL, as in a record).
    struct SRow {
        long at;     // the line's offset in the file
        size_t key;  // the id's offset in keys; the pid and ppid follow
        int len;     // the line's length without its line feed
        int pid;     // the pid's offset from key
        int ppid;    // the ppid's offset from key
        unsigned hash;  // HashKey of the ppid
    };
    rukbbsdata::SBigArray<SRow> rows;  // in file order
    rukbbsdata::SBigArray<char> keys;  // the key block
    rukbbsdata::SBigArray<int> roots;  // rows without a pid (thread roots), in order
    int nThreads = 0;           // rows without a ppid (what GetPPNum counts)
    std::unordered_map<int, CRukBBSData> made;  // rows handed out whole by GetData

    // Thread index: the rows with a ppid chained by its hash, each chain in
    // file order; built on first use.
    rukbbsdata::SBigArray<int> threadHead;
    rukbbsdata::SBigArray<int> threadNext;

    int Size() const { return static_cast<int>(rows.size()); }
    const char* Id(int i) const { return keys.data() + rows[i].key; }
    const char* Pid(int i) const { return Id(i) + rows[i].pid; }
    const char* Ppid(int i) const { return Id(i) + rows[i].ppid; }

    // A record with row i's keys and its line's place, to be completed.
    void MakeKeys(int i, CRukBBSData& rec) const;
    // The first row with id pId, or -1 (an empty id is looked for too, as
    // a loaded list would).
    int FindId(const char* pId) const;
    // Calls onRow(i) for each row of thread pKey (ppid), in file order.
    template <class FRow>
    void ForThread(const char* pKey, FRow onRow);

private:
    void IndexThreads();
};

namespace rukbbsdata {

// What a scan of the message file looks for besides the keys: records
// whose visible fields hold all the words (see MatchesVisible), appended
// whole to out.
struct SViewSearch {
    const CRukStrAry* pWords;
    CRukBBSDataAry* pOut;
    int nFound = 0;
};

// Reads the message file fd (from its start) once, block by block, into
// view; with pSearch the hits are collected too. The records, or -1 on a
// read error (the view and the hits as they were before).
int ScanView(int fd, SRukKeyView& view, SViewSearch* pSearch);

// Reads the message file fd once for one message: the first record whose
// id is pKey (parsed whole into out: bFound) and whether some record's pid
// is pKey (bHasChild); an empty key names nothing. false on a read error.
bool ScanForId(int fd, const char* pKey, CRukBBSData& out, bool& bFound, bool& bHasChild);

// A hash of the n bytes of a key (without NUL), for the thread indexes:
// its length and its first and last eight bytes.
unsigned HashKey(const char* p, size_t n);

}  // namespace rukbbsdata

template <class FRow>
void SRukKeyView::ForThread(const char* pKey, FRow onRow)
{
    if (!*pKey) {  // the roots
        for (int i = 0; i < Size(); i++)
            if (!*Ppid(i))
                onRow(i);
        return;
    }
    IndexThreads();
    size_t nSlot = rukbbsdata::HashKey(pKey, strlen(pKey)) & (threadHead.size() - 1);
    for (int i = threadHead[nSlot]; i >= 0; i = threadNext[i])
        if (strcmp(Ppid(i), pKey) == 0)
            onRow(i);
}

#endif
