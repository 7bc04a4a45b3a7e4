// The message store: the message record CRukBBSData, the loaded messages of
// one data directory CRukBBSFile with every query and write on them, and
// the board lock CRukBBSLock.
//
// A data directory holds "bbs-message.dat" (one record per line, fields
// separated by 0x1E, line breaks of the body stored as 0x1D), its lock
// file "lockfile.lock", one attachment directory per thread, named by the
// thread root's id, "bbs-rate.dat" (the recent posts per client, see
// SRukWriteRules) and "old/" with the old logs, each a data directory of
// its own.
//
// Fields of a line: 0-11 id, pid, ppid, date, name, mail, home, title,
// body, password code, resmail, preform; 12 the poster's address; 13-19
// reserved and written empty; 20 the icon; from 21 on pairs of attachment
// file name and thread id. Readers ignore what they do not know, so files
// written with field 12 load in older programs, and files without it load
// here with an empty address.
//
// The implementation is split by concern, one file each: rukbbsdata.cpp
// (construction, paths, order), _line (the line format), _read (loading,
// and the records loaded by their keys), _replace (writing the file
// whole), _lock (CRukBBSLock), _tree (thread tree queries), _search,
// _write (the order every write keeps, and its shared steps), _post
// (posts and edits), _rate (posting rate), _oldlog (pruning into the old
// log of the month, and the old-log moves), _delete and _attach
// (attachment files), _view (the key table of the reading pages), _copy
// (the file as lines for the writes, copied as byte ranges), _scan (the
// line scan), _sort (lines by id) and _ranked (counts, ranked reads and
// the look-up before an edit or a deletion); what they share is declared
// in rukbbsdata_impl.h.
#ifndef RUKBBSDATA_H
#define RUKBBSDATA_H

#include <functional>
#include <memory>
#include <vector>

#include "rukary.h"
#include "rukbufary.h"
#include "rukbuffer.h"
#include "rukfile.h"
#include "rukstrary.h"
#include "rukstring.h"
#include "rukstrmap.h"

class CRukBBSData {
public:
    CRukString id;
    CRukString pid;
    CRukString ppid;
    CRukString date;
    CRukString name;
    CRukString mail;
    CRukString home;
    CRukString title;
    CRukString mess;
    CRukString passwd;
    CRukString resmail;
    CRukString preform;
    CRukString icon;
    CRukString remote;  // the poster's address (field 12); never searched
    CRukStrMap attach;  // file name -> id of the thread root
    CRukBuffer depth;   // tree columns from GetDataRecursWithDepth; never stored
    // A record loaded by its keys only (ReadPageKeys) has the rest of its
    // line at lineAt in the file it came from; -1 once loaded whole. Never
    // stored.
    long lineAt = -1;
    int lineLen = 0;
};

typedef CRukAry<CRukBBSData> CRukBBSDataAry;

// Results of the store's writes, besides counts >= 0.
enum : int {
    kStoreFailed = -1,     // a file could not be opened, read or written; nothing changed
    kStoreBusy = -2,       // the lock stayed busy; nothing changed
    kStoreDuplicate = -3,  // the same message was just posted
    kStoreRefused = -5,    // the caller's check refused the stored message (e.g. wrong password)
    kStoreHasReplies = -6, // the caller's check refused: the message has replies
    kStoreMissing = -7,    // the message to edit or delete is not stored (any more)
    kStoreTooSoon = -8,    // posting rate of this client exceeded (see SRukWriteRules::pWait)
    kStoreNoParent = -9,   // a reply whose parent is not in its thread (any more)
};

// Decides, under the write lock and before anything changes, whether the
// stored message may be changed: 0 to go on, or a negative result code
// that the write then returns unchanged.
typedef std::function<int(const CRukBBSData& stored, bool bHasReplies)> FRukCheck;

// What a write of a post needs beyond the record.
struct SRukWriteRules {
    bool bNewKey = false;                       // a new message: take the next free key if its id is taken
    FRukCheck check;                            // edits: run on the stored message
    const CRukStrAry* pRemoveAttach = nullptr;  // edits: names of stored attachments to drop
    const char* pClient = nullptr;              // posting-rate key (the client address); null: no limit
    int nPostInterval = 0;                      // least seconds between two new posts of one client (0: none)
    int nPostBurst = 0;                         // most new posts of one client per 600 seconds (0: none)
    int* pWait = nullptr;                       // with kStoreTooSoon: the seconds to wait
};

class CRukBBSLock : public CRukFlock {
public:
    CRukBBSLock() = default;
    ~CRukBBSLock() override = default;

    // Locks the lock file of the directory that holds pPath: 0, -1, or -2
    // when other requests still held it after go.m_nLockWait milliseconds
    // (the policy of CRukFlock).
    [[nodiscard]] int Lock(const char* pPath, bool bShared = false);
    // A reader's lock, taken only when bWanted (a caller that holds the
    // board lock already reads without): 0 when not wanted, else as Lock.
    [[nodiscard]] int LockToRead(const char* pPath, bool bWanted);
};

struct SRukPostPlan;
struct SRukOldLog;
namespace rukbbsdata {
class CRukBoardText;
}
struct SRukKeyView;

// The loaded records of one board and every query and write on them.
//
// Reading failures: a record loaded by its keys is completed from the file
// when a query hands it out. When that read fails (the disk, not the
// visitor), the query returns -1 (a pointer query null) and HasReadFailed
// turns true until the next load; a page built from such queries lacks
// text and must end with the busy/error message instead of being shown.
class CRukBBSFile {
public:
    CRukBBSFile();
    ~CRukBBSFile();
    CRukBBSFile(const CRukBBSFile&) = delete;
    CRukBBSFile& operator=(const CRukBBSFile&) = delete;

    // --- records and data files
    [[nodiscard]] int ReadFile(CRukBBSDataAry& list, const char* pPath, bool bLock);
    [[nodiscard]] int WriteFile(CRukBBSDataAry& list, const char* pPath, bool bLock, bool bAppend);
    [[nodiscard]] int ReadPageData(const char* pDir, bool bLock);
    // As ReadPageData for showing pages: every record gets only its keys
    // (id, pid, ppid), and the rest is read from the same file (kept open,
    // so a later rename of a new file over it changes nothing) when a query
    // first hands the record out. Every query and write below completes
    // the records it uses, so callers see whole records throughout.
    [[nodiscard]] int ReadPageKeys(const char* pDir, bool bLock);
    // Reads the rest of a record loaded by its keys: true when it is whole
    // (false also sets HasReadFailed).
    [[nodiscard]] bool Complete(CRukBBSData& rec) const;
    // True when a record could not be read whole since the last load.
    [[nodiscard]] bool HasReadFailed() const { return m_bReadFailed; }
    // As ReadPageKeys for the pages that only show records, without making
    // any: the own records stay empty, and a table of the keys serves the
    // queries below (the tree queries, GetData, GetPPNum, and the records
    // by their place), which give what they give after ReadPageKeys. The
    // next load or write drops the table.
    [[nodiscard]] int ReadPageView(const char* pDir, bool bLock);
    // The records of the last load by their place in the file, whether
    // ReadPageView's table or the own records: their number, the keys of
    // record i, and record i whole (read when first asked for; null when it
    // cannot be read, see HasReadFailed).
    [[nodiscard]] int GetCount() const;
    const char* IdAt(int i) const;
    const char* PpidAt(int i) const;
    CRukBBSData* RecordAt(int i);
    [[nodiscard]] int WritePageData(const char* pDir, bool bLock);
    // Reads records of pDir's board in an order of the caller's, without
    // making a record per message: rank(id, length) gives each record's
    // key (the larger first, the file order breaking ties), pick(total)
    // the ranks [first, end) to read whole into out, in that order.
    // Returns the number of records (0 without a file), -1 when the file
    // cannot be read, or the lock result.
    [[nodiscard]] int ReadRanked(
        const char* pDir, bool bLock,
        const std::function<std::pair<int, unsigned long long>(const char*, size_t)>& rank,
        const std::function<std::pair<int, int>(int)>& pick, CRukBBSDataAry& out);
    // The number of records of pDir's board, counted without reading any
    // of them whole: the count, -1 when it has no file or it cannot be
    // read, or the lock result.
    [[nodiscard]] int CountRecords(const char* pDir, bool bLock);
    void Sort(CRukBBSDataAry& list, int nDescending);
    [[nodiscard]] int GetPPNum() const;
    CRukString CreateFullPath(const char* pDir) const;
    CRukString CreateAttachPath(const char* pDir, const char* pId) const;

    // --- thread tree queries: the number of records appended, or -1 when
    // one of them could not be read whole (see above)
    [[nodiscard]] int GetDataSequential(CRukBBSDataAry& out, int nLimit, int nSkip);
    [[nodiscard]] int GetDataParents(CRukBBSDataAry& out, int nLimit, int nSkip);
    [[nodiscard]] int GetDataChildren(CRukBBSDataAry& out, const char* pId, int nOrder);
    [[nodiscard]] int GetDataRecurs(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid);
    [[nodiscard]] int GetDataRecursWithDepth(CRukBBSDataAry& src, CRukBBSDataAry& out,
                                             const char* pPid, int& nPDepth, int& nDepth);
    [[nodiscard]] int CheckExistChild(const char* pId);
    CRukBBSData* GetData(const char* pId);
    CRukBBSData* GetDataParent(const CRukBBSData* pRec);
    CRukBBSData* GetDataPP(const CRukBBSData* pRec);

    // --- storing posts, deletions and attachments
    //
    // Every write below works on the file as it is under the exclusive
    // board lock (bLock; without it the caller holds that lock), reads it
    // again there, and replaces it whole or not at all. Afterwards the own
    // records are what the write left of interest (see each method).

    // Stores a new message or reply (rules.bNewKey) or an edit of the
    // stored message rec.id (otherwise).
    // - New: when rec.id is taken the next larger free key is used (rec.id
    //   follows; a taken key that is no decimal number: kStoreFailed). A
    //   reply (pid set) must answer a stored message of its thread (ppid,
    //   derived from the parent when empty), else kStoreNoParent; without
    //   pid the message starts a thread (ppid is cleared).
    //   The same name, title and body as the newest message (a thread) or
    //   any message of the thread (a reply): kStoreDuplicate. With
    //   rules.pClient and a limit the posting rate is checked first
    //   (kStoreTooSoon, *rules.pWait) and a stored post is recorded in
    //   "bbs-rate.dat".
    // - Edit: kStoreMissing when rec.id is not stored; rules.check runs on
    //   the stored message and its non-zero code is returned. The message
    //   keeps its place, thread (pid, ppid) and address (remote); its
    //   stored attachments stay unless named in rules.pRemoveAttach.
    // - Attachments: rec.attach names the new files, files[i] holding the
    //   data of rec.attach[i]. A name already used in the thread (or on
    //   disk, or twice in the post) is stored numbered ("a.jpg" ->
    //   "a-2.jpg", "a-3.jpg", ...); afterwards rec.attach holds the kept
    //   and then the new files under their final names, each with the
    //   thread key. Names that are not a plain file name: kStoreFailed.
    // - Order: the new files first, then (when pruning into an old log)
    //   the old log, then the message file; a failure removes what this
    //   write made and leaves everything else as it was (kStoreFailed).
    //   Files of an edit's dropped attachments and of a pruned thread go
    //   (or move) only once the new message file is in place.
    // - Pruning: in delete mode, when the board is over m_nMaxData, the
    //   oldest thread is removed; with m_bArchive it moves to the old log
    //   "old/YYYY-MM" of the current month (local time) with its files.
    // Returns the number of records written after the thread group (the
    // own records are that group), or a kStore code (the own records are
    // then the board as read, except after kStoreFailed).
    [[nodiscard]] int WriteInputData(const char* pDir, CRukBBSData& rec, CRukBufAry& files,
                                     bool bLock, const SRukWriteRules& rules = SRukWriteRules());
    // Deletes message pId with everything below it (a root: its whole
    // thread) and their files. kStoreMissing when pId is not stored;
    // check runs on the stored message first. Returns the number of
    // records written (the own records are the board as written) or a
    // kStore code.
    [[nodiscard]] int WriteDeleteData(const char* pDir, const char* pId, bool bLock,
                                      const FRukCheck& check = nullptr);
    // Deletes several messages (each with what hangs below it) in one
    // write; ids not stored are skipped, and when none is stored nothing
    // is written (kStoreMissing). Returns as above.
    [[nodiscard]] int WriteDeleteData(const char* pDir, const CRukStrAry& ids, bool bLock);
    // Whether a deletion leaves the board as written in the own records (by
    // their keys). A caller that builds no page from them turns it off, so
    // that no record is made per message; the deletion then keeps the
    // board as written as lines, for a ReadRanked of the same board to use
    // instead of reading the file again.
    bool m_bKeepWritten = true;
    // In memory only: remove pId's thread or subtree from the own records
    // (false when nothing was removed, or a removed record's files could
    // not be read: HasReadFailed), with its files or without.
    [[nodiscard]] bool DeleteDataAndAttachFile(const char* pDir, const char* pId);
    [[nodiscard]] bool DeleteDataOnly(const char* pId);
    // Writes the files of one message into its thread's directory (created
    // when missing), entry i of files holding attachment i; a file of the
    // same name is replaced. All or nothing: 0, or -1 with every file
    // written here and a directory made here removed again. Names that
    // are not a plain file name are refused before anything is written.
    [[nodiscard]] int WriteAttachFile(const char* pDir, CRukStrMap& attach, CRukBufAry& files);
    // Removes the files of one message, and its thread's directory once
    // that is empty; empties the map. 0, or -1 (traced) when some file
    // could not be removed.
    [[nodiscard]] int DeleteAttachFile(const char* pDir, CRukStrMap& attach);

    // --- moving threads between logs (the caller holds the board lock)
    //
    // Decides what moves and hands the roots of the moved threads to
    // beforeWrite, which may refuse (false: nothing is written, kStoreRefused);
    // then writes the new message file pDstPath and the source's, each
    // whole or not at all (a failure removes the new file again and
    // returns kStoreFailed). Lines are copied as they are stored.

    // Moves threads of the log in pSrcDir to the new log file pDstPath,
    // sorted by id descending: with nHalf > 0 the first 1/nHalf of the
    // threads, otherwise those after the first nSkip. Returns the number of
    // threads moved (0: none, nothing written) or a kStore code.
    [[nodiscard]] int MoveThreads(const char* pSrcDir, int nSkip, int nHalf, const char* pDstPath,
                                  const std::function<bool(const CRukStrAry&)>& beforeWrite);
    // Writes the records of the logs in pSrcDir and pDstDir, sorted by id
    // descending, as pDstDir's message file; beforeWrite sees the ids of
    // the source's records (each once, in file order). The source's file
    // stays. Returns the number of records written or a kStore code.
    [[nodiscard]] int MergeLogs(const char* pSrcDir, const char* pDstDir,
                                const std::function<bool(const CRukStrAry&)>& beforeWrite);

    // As FindRecord, for a write about to follow: the file is mapped, not
    // read, and looked at only up to the message and a reply to it.
    [[nodiscard]] int FindStored(const char* pDir, const char* pId, CRukBBSData& out,
                                 bool& bHasChild, bool bLock);

    // --- search
    // Loads the board of pDir (into a key table as ReadPageView does, or,
    // when own records are held, into those) and appends to out every
    // record holding all the words in what a visitor sees of it:
    // name, mail, home page, title, body, date or an attachment's file
    // name (never the keys, password code, address or switches). Returns
    // the number found, -1, or the lock result.
    [[nodiscard]] int FindRead(const char* pDir, CRukBBSDataAry& out, CRukStrAry& words,
                               bool bLock);
    // Appends to out every record of the last load (see GetCount) whose
    // title, name or body holds each of the words: the number, or -1 (see
    // above).
    [[nodiscard]] int FindData(CRukBBSDataAry& out, CRukStrAry& words);
    // One message of the board's file, read without loading the board:
    // 1 found (into out), 0 not found, -1, or the lock result; bHasChild
    // tells whether any record answers it.
    [[nodiscard]] int FindRecord(const char* pDir, const char* pId, CRukBBSData& out,
                                 bool& bHasChild, bool bLock);

    CRukBBSDataAry m_aryData;  // the loaded records, in file order
    int m_nMaxData;            // maximum messages (board setting log_max)
    int m_nDeleteMode;         // automatic deletion (board setting log_del)
    bool m_bArchive = false;   // with m_nDeleteMode: pruned threads go to the monthly old log

    // GetDataChildren finds the messages of a thread through an index of
    // m_aryData by thread key, built on first use and kept while the list
    // keeps its block and size; every method here that changes the list
    // drops it. Code that rewrites ppid of loaded records in place (or
    // reorders them) must call this before the next query.
    void ForgetIndex() { m_nIndexed = -1; }

private:
    void IndexThreads();
    CRukString StartLoad(const char* pDir);
    [[nodiscard]] int Walk(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid,
                           int* pPDepth, int* pDepth);
    // Complete without remembering a failure.
    [[nodiscard]] bool ReadRest(CRukBBSData& rec) const;
    // Completes the records of list from nFrom on; false if one failed.
    [[nodiscard]] bool CompleteFrom(CRukBBSDataAry& list, int nFrom) const;
    // Forgets the file that records loaded by their keys came from.
    void CloseSnapshot();
    // Loads the keys of pPath's records into the own (none when it is
    // missing) and keeps the file; with bText its whole text too. The
    // count, or -1 when it exists but cannot be read.
    [[nodiscard]] int LoadKeys(const char* pPath, bool bText);
    // The kept file's whole text, read now if need be: false on failure.
    [[nodiscard]] bool LoadSnapshotText() const;
    // Loads pPath into a new key table (ReadPageView); with pWords the
    // records holding them go to pOut whole (FindRead).
    [[nodiscard]] int LoadView(const char* pPath, const CRukStrAry* pWords,
                               CRukBBSDataAry* pOut);
    std::unique_ptr<SRukKeyView> m_pView;  // ReadPageView's table, or null

    int m_fdSnapshot;                 // that file, or -1
    mutable CRukBuffer m_snapshotText;  // its text once a write needed it
    mutable CRukBuffer m_window;        // a piece of it read for Complete
    mutable long m_nWindowAt = -1;      // where that piece starts
    mutable bool m_bReadFailed = false;  // see HasReadFailed

    // The board as a deletion without m_bKeepWritten wrote it: its old
    // text, the lines that went (1 in m_writtenSkip), and its path.
    std::unique_ptr<rukbbsdata::CRukBoardText> m_pWritten;
    std::vector<char> m_writtenSkip;
    CRukString m_writtenPath;

    std::vector<int> m_aThreadHead;   // hash slot -> first record of it, or -1
    std::vector<int> m_aThreadNext;   // record -> next record of its slot, or -1
    const CRukBBSData* m_pIndexed;    // m_aryData's block when indexed
    int m_nIndexed;                   // its size then; -1 when not indexed

    // Marks with cMark the unmarked records of list that removing pId
    // takes: every record of thread pId and every record with id pId, then
    // whatever still hangs below pId by pid links. An empty id names
    // nothing. Returns whether the first pass marked anything.
    [[nodiscard]] static bool MarkData(const CRukBBSDataAry& list, const char* pId,
                                       std::vector<char>& mask, char cMark, const char* pTrace);
    // Removes the records marked in mask from the own records; the
    // attachment maps of the removed records go to pRemoved when given
    // (false when one of those could not be read whole).
    [[nodiscard]] bool RemoveMarked(const std::vector<char>& mask,
                                    CRukAry<CRukStrMap>* pRemoved);
    // Removes pId's thread or subtree from the own records (see
    // RemoveMarked); false when nothing matched or a read failed.
    [[nodiscard]] bool RemoveData(const char* pId, CRukAry<CRukStrMap>* pRemoved,
                                  const char* pTrace);
    // Replaces pPath with the records of pFirst then those of pRest whose
    // byte in pSkip is 0 (either list may be null, pSkip too), optionally
    // after the old contents; 0, or -1 with the old file left as it was.
    [[nodiscard]] int ReplaceData(const char* pPath, const CRukBBSDataAry* pFirst,
                                  const CRukBBSDataAry* pRest, const char* pSkip, bool bKeepOld);
    // Steps of WriteInputData (rukbbsdata_post.cpp, _oldlog), each 0 or a
    // kStore code.
    [[nodiscard]] int PlanNewPost(const rukbbsdata::CRukBoardText& text, CRukBBSData& rec,
                                  SRukPostPlan& plan);
    [[nodiscard]] int PlanEdit(const rukbbsdata::CRukBoardText& text, CRukBBSData& rec,
                               const SRukWriteRules& rules, SRukPostPlan& plan);
    [[nodiscard]] int PlanPrune(const rukbbsdata::CRukBoardText& text, SRukPostPlan& plan);
    [[nodiscard]] int NameAttachments(const char* pDir, CRukBBSData& rec, SRukPostPlan& plan);
    [[nodiscard]] int StorePost(const char* pDir, const CRukString& path,
                                const rukbbsdata::CRukBoardText& text, CRukBufAry& files,
                                SRukPostPlan& plan);
    [[nodiscard]] int WriteOldLog(const char* pDir, const SRukPostPlan& plan, SRukOldLog& old);
    [[nodiscard]] int MergeOldLog(const SRukPostPlan& plan, SRukOldLog& old);
    void RestoreOldLog(SRukOldLog& old);
    void MoveThreadDirectory(const char* pDir, const CRukString& key, SRukOldLog& old);
    // The first step of every write: takes the write lock of the board of
    // path into lock (with bLock; else the caller holds it) and loads the
    // board's text with its lines. 0, or a kStore code.
    [[nodiscard]] int LoadForWrite(const CRukString& path, bool bLock, CRukBBSLock& lock,
                                   rukbbsdata::CRukBoardText& text);
    // Makes the own records the lines of text by their keys (those whose
    // byte in pSkip is 0), completed later from text's file.
    void KeepKeys(rukbbsdata::CRukBoardText& text, const std::vector<char>* pSkip);
    // The first step of a deletion: drops the records loaded before (they
    // may be stale, and two copies are never held) and loads the board of
    // path for writing into pText, as LoadForWrite.
    [[nodiscard]] int StartDeletion(const CRukString& path, bool bLock, CRukBBSLock& lock,
                                    std::unique_ptr<rukbbsdata::CRukBoardText>& pText);
    // Deletes the lines marked in mask from the board's file pPath and
    // then their files: the records written, or a kStore code.
    [[nodiscard]] int StoreDeletion(const char* pDir, const CRukString& path,
                                    std::unique_ptr<rukbbsdata::CRukBoardText>& pText,
                                    const std::vector<char>& mask);
};

#endif
