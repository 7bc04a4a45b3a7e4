// What the files of the message store share and its callers never see:
// the names of the files of a data directory, the line format of the
// message file, reading that file line by line, and the plan and small
// steps of the writes. The store itself and its file format are described
// in rukbbsdata.h; which file holds what is listed there too.
#ifndef RUKBBSDATA_IMPL_H
#define RUKBBSDATA_IMPL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "rukatomicfile.h"
#include "rukbbsdata.h"

class CRukEventLog;

namespace rukbbsdata {

// The lock file and the message file of a data directory.
inline constexpr char kLockName[] = "lockfile.lock";
inline constexpr char kDataName[] = "bbs-message.dat";

// Output is handed to the file in chunks of this size, and the file is read
// in blocks of it (reused from block to block, so that a small board
// touches few pages; a longer line grows the block).
inline constexpr unsigned kChunk = 1u << 16;

// ---------------------------------------------------------------------------
// The line format (rukbbsdata_line.cpp)

// Builds rec from one line of the file (without its line feed). A line
// without any separator holds no record and gives false.
bool ParseRecord(const char* p, size_t n, CRukBBSData& rec);
// Builds the keys of rec (id, pid, ppid) from one line, as ParseRecord
// would; the other fields stay empty.
bool ParseKeys(const char* p, size_t n, CRukBBSData& rec);
// True when a stored line is exactly what PutRecord writes for the record
// ParseRecord reads from it, so that it can be copied as it is.
bool IsCanonicalLine(const char* p, size_t n);
// True when every word occurs in a field a visitor sees (an empty list
// matches everything); the line must be terminated in place.
bool MatchesVisible(const char* p, size_t n, const CRukStrAry& words);
// True when the line's field nField (0 the id, 1 the pid) is pKey.
bool FieldIs(const char* p, size_t n, int nField, const char* pKey, size_t nKey);

// Collects the bytes of the new file in a fixed block and hands them to
// the temporary file block by block; remembers the first failure.
struct SFileWriter {
    explicit SFileWriter(CRukAtomicFile& file) : m_file(file), m_nUsed(0), m_bFailed(false) {}

    void Put(const char* p, size_t n)
    {
        if (n > sizeof(m_sz) - m_nUsed)
            Flush();
        if (n > sizeof(m_sz)) {
            if (m_file.Write(p, n) != 0)
                m_bFailed = true;
            return;
        }
        memcpy(m_sz + m_nUsed, p, n);
        m_nUsed += n;
    }

    void Put(char c)
    {
        if (m_nUsed == sizeof(m_sz))
            Flush();
        m_sz[m_nUsed++] = c;
    }

    // Writes what is collected: true while nothing has failed.
    bool Flush()
    {
        if (m_nUsed > 0 && m_file.Write(m_sz, m_nUsed) != 0)
            m_bFailed = true;
        m_nUsed = 0;
        return !m_bFailed;
    }

    CRukAtomicFile& m_file;
    size_t m_nUsed;
    bool m_bFailed;
    char m_sz[kChunk];
};

// Writes the line of one record, line feed included.
void PutRecord(SFileWriter& out, const CRukBBSData& rec);

// ---------------------------------------------------------------------------
// Reading the message file (rukbbsdata_read.cpp)

// Takes the shared lock of pPath's board when asked and opens pPath for
// reading: the stream, or null with r the lock result or -1.
FILE* OpenShared(CRukBBSLock& lock, const char* pPath, bool bLock, int& r);
// Reads the records of fp and appends them to list. With pWords every
// record whose visible fields hold all the words is also appended to pOut
// (whole), and the count of those is returned instead. With bKeys the
// records of list get their keys only (see CRukBBSData::lineAt), with
// pText the whole text is kept there. A read error leaves both lists as
// they were and gives -1, so that a partly read file is never taken for
// the whole one.
int ReadRecords(FILE* fp, CRukBBSDataAry& list, const CRukStrAry* pWords, CRukBBSDataAry* pOut,
                bool bKeys = false, CRukBuffer* pText = nullptr);
// Reads the whole of fp into buf: true, or false on a read error.
bool ReadWhole(FILE* fp, CRukBuffer& buf);

// Shortens a list to n records (n may be 0).
inline void Truncate(CRukBBSDataAry& list, int n)
{
    if (n < list.GetSize())
        list.SetSize(n, true);
}

// Hands the lines of p..pEnd that end in a line feed (all of them with
// bLast) to onLine(p, n, at), at being the line's offset in the file and
// nBase that of p; returns where the unfinished rest begins. With
// bTerminate each line gets a NUL in place of its line feed (the text needs
// one byte after pEnd for that).
template <class FLine>
char* SplitLines(char* p, char* pEnd, bool bLast, long nBase, FLine& onLine,
                 bool bTerminate = true)
{
    char* pStart = p;
    while (p < pEnd) {
        char* pBreak = static_cast<char*>(memchr(p, '\n', pEnd - p));
        if (!pBreak && !bLast)
            break;
        char* pLineEnd = pBreak ? pBreak : pEnd;
        if (bTerminate)
            *pLineEnd = 0;
        onLine(p, static_cast<size_t>(pLineEnd - p), nBase + (p - pStart));
        p = pLineEnd + 1;
    }
    return p < pEnd ? p : pEnd;
}

// Hands every line of fp to onLine(p, n, at) (without its line feed, with
// a NUL written after it in place, and its offset in the file), reading
// block by block so that only one block of raw text is held at a time.
// onFirst(p, pEnd) sees the first block before its lines are handed out.
// false on a read error.
template <class FFirst, class FLine>
bool ReadLines(FILE* fp, FFirst onFirst, FLine onLine)
{
    size_t nBlock = kChunk;
    std::unique_ptr<char[]> block(new char[nBlock + 1]);
    size_t nHeld = 0;  // bytes of an unfinished line at the block's start
    long nBase = 0;    // file offset of the block's first byte
    bool bFirst = true;
    for (;;) {
        if (nHeld == nBlock) {  // one line fills the block: double it
            std::unique_ptr<char[]> bigger(new char[nBlock * 2 + 1]);
            memcpy(bigger.get(), block.get(), nHeld);
            block = std::move(bigger);
            nBlock *= 2;
        }
        size_t n = fread(block.get() + nHeld, 1, nBlock - nHeld, fp);
        if (n == 0 && ferror(fp))
            return false;
        bool bLast = n == 0;
        char* p = block.get();
        char* pEnd = p + nHeld + n;
        if (bFirst && !bLast) {
            onFirst(p, pEnd);
            bFirst = false;
        }
        p = SplitLines(p, pEnd, bLast, nBase, onLine);
        if (bLast)
            return true;
        nHeld = static_cast<size_t>(pEnd - p);
        nBase += static_cast<long>((pEnd - block.get()) - nHeld);
        memmove(block.get(), pEnd - nHeld, nHeld);
    }
}

// ---------------------------------------------------------------------------
// The message file as bytes, for the writes (rukbbsdata_copy.cpp)

// One record line of a message file, found without parsing it: where it
// is, its keys (each up to its first NUL, as the parsed record would hold
// it) and whether it can be copied as it is (IsCanonicalLine).
struct SLineRef {
    size_t at;          // offset of the line in the text
    uint32_t len;       // its length without the line feed
    uint32_t nId;       // the id at the line's start
    uint32_t pidAt, nPid;
    uint32_t ppidAt, nPpid;
    bool bCanonical;    // copied as it is; otherwise parsed and written again
    bool bFeed;         // ends in a line feed
};

// The text of one message file (mapped, or read when it cannot be) with
// its record lines; lines without a separator hold no record and are not
// listed. The file stays open while this lives.
class CRukBoardText {
public:
    CRukBoardText() = default;
    ~CRukBoardText();
    CRukBoardText(const CRukBoardText&) = delete;
    CRukBoardText& operator=(const CRukBoardText&) = delete;

    // Opens and indexes pPath: true (no file is an empty board), false when
    // it exists but cannot be read.
    [[nodiscard]] bool Load(const char* pPath, bool bIndex = true);
    // Indexes text held by the caller (kept alive by it).
    void Index(const char* p, size_t n);
    bool Existed() const { return m_fd >= 0; }
    // The open file, handed over (the caller closes it), or -1.
    int TakeFd();

    int Count() const { return static_cast<int>(m_lines.size()); }
    const SLineRef& operator[](int i) const { return m_lines[static_cast<size_t>(i)]; }
    const char* Line(int i) const { return m_p + m_lines[static_cast<size_t>(i)].at; }
    bool IdIs(int i, const char* pKey, size_t nKey) const;
    bool PidIs(int i, const char* pKey, size_t nKey) const;
    bool PpidIs(int i, const char* pKey, size_t nKey) const;
    // The id of line i, and its thread key (ppid, or the id of a root).
    CRukString Id(int i) const;
    CRukString ThreadKey(int i) const;
    // The index of the first line with id pId, or -1 (an empty id names
    // nothing).
    int Find(const char* pId) const;
    // True when some line answers pId.
    bool HasReplies(const char* pId) const;
    // The whole record of line i: false when it holds none.
    bool Record(int i, CRukBBSData& rec) const;
    // The keys of line i as a record loaded by its keys (lineAt, lineLen).
    void Keys(int i, CRukBBSData& rec) const;
    // Marks with cMark the unmarked lines that removing pId takes, as
    // CRukBBSFile::MarkData does for records: every line of thread pId and
    // every line with id pId, then whatever still hangs below pId by pid
    // links. False when the first pass marked nothing.
    bool Mark(const char* pId, std::vector<char>& mask, char cMark) const;

    const char* m_p = nullptr;
    size_t m_n = 0;

private:
    std::vector<SLineRef> m_lines;
    int m_fd = -1;
    void* m_pMap = nullptr;
    CRukBuffer m_read;  // the text when it could not be mapped
};

// A line of one of the texts a write copies from.
struct SLinePick {
    const CRukBoardText* pText;
    int nLine;
};

// Orders picks by id as CRukBBSFile::Sort orders records (descending with
// bDescending; equal ids keep their order).
void SortById(std::vector<SLinePick>& picks, bool bDescending);

// Writes lines of board texts to a new file: the lines that can be copied
// go as byte ranges (neighbours joined into one), the others parsed and
// written again, and a last line without a line feed gets one.
class CRukLineCopier {
public:
    explicit CRukLineCopier(SFileWriter& out) : m_out(out) {}
    ~CRukLineCopier() { Flush(); }
    void Line(const CRukBoardText& text, int i);
    void Record(const CRukBBSData& rec)
    {
        Flush();
        PutRecord(m_out, rec);
    }
    void Flush();

private:
    SFileWriter& m_out;
    const CRukBoardText* m_pRunText = nullptr;
    size_t m_nRunAt = 0, m_nRunLen = 0;
};

// Replaces pPath with what write(copier) puts: a temporary file beside it,
// flushed to the disk and renamed over it. 0, or -1 with the old file as
// it was.
int ReplaceWith(const char* pPath, const std::function<void(CRukLineCopier&)>& write);

// ---------------------------------------------------------------------------
// Small steps of the writes (rukbbsdata_write.cpp)

// True when pName can be used as one component of a path below the data
// directory: not empty, not "." or "..", and without any separator.
bool IsSafeName(const char* pName);
bool Exists(const CRukString& path);
bool IsDirectory(const CRukString& path);
// The index of the first record with id pId, or -1 (an empty id names
// nothing).
int FindId(const CRukBBSDataAry& list, const char* pId);
// True when some record answers pId.
bool HasReplies(const CRukBBSDataAry& list, const char* pId);
// A check's answer as a result: 0 goes on, anything else refuses (a
// positive answer would read as a count, so it becomes kStoreRefused).
int CheckResult(int r);
// A lock result as a store result.
int LockResult(int r);
// Makes directory path with go's mode unless it is there, noting it in
// made: true when it is a directory now.
bool MakeDirectory(const CRukString& path, CRukStrAry& made);
// Removes the directories of made again, innermost first, with the lock
// file a directory of an old log got.
void RemoveMadeDirectories(const CRukStrAry& made);

// ---------------------------------------------------------------------------
// Posting rate (rukbbsdata_rate.cpp)

// With a client and a limit, loads the client's recent posts into log and
// checks the limits at now: 0, kStoreTooSoon (with the seconds to wait in
// *rules.pWait), or kStoreFailed when the rate file cannot be read.
int CheckRate(const char* pDir, const SRukWriteRules& rules, time_t now,
              std::unique_ptr<CRukEventLog>& log);
// Records a stored post in the rate file; a failure is traced, the post
// stays.
void RecordRate(CRukEventLog& log, const char* pClient, time_t now);

// The bytes and fields of a stored line as the line scan of the writes
// sees them.
inline constexpr char kSep = '\x1e';    // between fields
inline constexpr char kBreak = '\x1d';  // a line feed of the body
inline constexpr int kMessField = 8;
inline constexpr int kRemoteField = 12;
inline constexpr int kIconField = 20;
// The separator after the address and the seven empty reserved fields.
inline constexpr char kReserved[] = "\x1e\x1e\x1e\x1e\x1e\x1e\x1e\x1e";

}  // namespace rukbbsdata

// What a write of a post changes, decided under the lock before anything
// is written.
struct SRukPostPlan {
    CRukBBSDataAry group{0, 10};  // the post's thread, written first
    int nRecord = 0;              // the post's place in group
    std::vector<char> skip;       // per own record: 1 in group, 2 pruned
    int nRest = 0;                // own records written after group
    CRukString threadKey;         // id of the thread's root
    CRukStrMap kept;              // an edit's stored attachments that stay
    CRukStrMap dropped;           // an edit's stored attachments to remove
    CRukStrMap added;             // the new files under their final names
    CRukBBSDataAry pruned{0, 10};  // the records of the pruned thread, whole
    CRukString prunedKey;          // its root id
};

// The old log a pruned thread goes to, held while the board is written so
// that a failure can put it back.
struct SRukOldLog {
    CRukString dir;        // "<datadir>/old/YYYY-MM"
    CRukString path;       // its message file
    CRukBBSLock lock;      // its own lock
    bool bWritten = false;
    bool bExisted = false;  // the message file was there before
    CRukBuffer before;      // and held these bytes
    CRukStrAry made;        // directories made for it, innermost last
};

#endif
