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
#include <unordered_map>
#include <vector>

#include "rukbbsdata.h"

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
    std::vector<SRow> rows;     // in file order
    std::unique_ptr<char[]> keys;  // the key block: its first nKeys bytes are used
    size_t nKeys = 0;
    size_t nKeyRoom = 0;           // its size
    std::vector<int> roots;     // rows without a pid (thread roots), in order
    int nThreads = 0;           // rows without a ppid (what GetPPNum counts)
    std::unordered_map<int, CRukBBSData> made;  // rows handed out whole by GetData

    // Thread index: the rows with a ppid chained by its hash, each chain in
    // file order; built on first use.
    std::vector<int> threadHead;
    std::vector<int> threadNext;

    int Size() const { return static_cast<int>(rows.size()); }
    const char* Id(int i) const { return keys.get() + rows[i].key; }
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
