// The message store: the message record CRukBBSData, the loaded messages of
// one data directory CRukBBSFile with every query and write on them, and
// the board lock CRukBBSLock.
//
// A data directory holds "bbs-message.dat" (one record per line, fields
// separated by 0x1E, line breaks of the body stored as 0x1D), its lock
// file "lockfile.lock" and one attachment directory per thread, named by
// the thread root's id.
#ifndef RUKBBSDATA_H
#define RUKBBSDATA_H

#include <functional>
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
    CRukStrMap attach;  // file name -> id of the thread root
    // The poster's address (and confirmed host name): stored, never shown.
    CRukString remote;
    CRukBuffer depth;   // tree columns from GetDataRecursWithDepth; never stored
    // A record loaded by its keys only (ReadPageKeys) has the rest of its
    // line at lineAt in the file it came from; -1 once loaded whole. Never
    // stored.
    long lineAt = -1;
    int lineLen = 0;
};

typedef CRukAry<CRukBBSData> CRukBBSDataAry;

// Results of the checked writes below (besides their own counts).
enum : int {
    kStoreFailed = -1,
    kStoreBusy = -2,
    kStoreDuplicate = -3,
    kStoreRefused = -5,
    kStoreHasReplies = -6,
    kStoreMissing = -7,
    kStoreTooSoon = -8,
    kStoreNoParent = -9
};
// A caller's check of the stored record a write changes, run under the
// write lock: 0 to go on, or the code the write returns.
typedef std::function<int(const CRukBBSData& stored, bool bHasReplies)> FRukCheck;
// What a checked write of a post obeys.
struct SRukWriteRules {
    bool bNewKey = false;                      // a new message (else an edit)
    FRukCheck check;                           // for an edit
    const CRukStrAry* pRemoveAttach = nullptr;  // stored attachments an edit removes
    const char* pClient = nullptr;             // the poster's address, for the rate
    int nPostInterval = 0;                     // seconds; 0 no limit
    int nPostBurst = 0;
    int* pWait = nullptr;                      // seconds to wait when kStoreTooSoon
};

class CRukBBSLock : public CRukFlock {
public:
    CRukBBSLock() = default;
    ~CRukBBSLock() override = default;

    // Locks the lock file of the directory that holds pPath: 0, -1, or -2
    // when other requests still held it after go.m_nLockWait milliseconds
    // (the policy of CRukFlock).
    [[nodiscard]] int Lock(const char* pPath, bool bShared = false);
};

class CRukBBSFile {
public:
    CRukBBSFile();
    ~CRukBBSFile();
    CRukBBSFile(const CRukBBSFile&) = delete;
    CRukBBSFile& operator=(const CRukBBSFile&) = delete;

    // --- records and data files
    int ReadFile(CRukBBSDataAry& list, const char* pPath, bool bLock);
    int WriteFile(CRukBBSDataAry& list, const char* pPath, bool bLock, bool bAppend);
    int ReadPageData(const char* pDir, bool bLock);
    // As ReadPageData for showing pages: every record gets only its keys
    // (id, pid, ppid), and the rest is read from the same file (kept open,
    // so a later rename of a new file over it changes nothing) when a query
    // first hands the record out. Every query and write below completes
    // the records it uses, so callers see whole records throughout.
    int ReadPageKeys(const char* pDir, bool bLock);
    // Reads the rest of a record loaded by its keys: true when it is whole.
    bool Complete(CRukBBSData& rec) const;
    int WritePageData(const char* pDir, bool bLock);
    void Sort(CRukBBSDataAry& list, int nDescending);
    int GetPPNum() const;
    CRukString CreateFullPath(const char* pDir) const;
    CRukString CreateAttachPath(const char* pDir, const char* pId) const;

    // --- thread tree queries
    int GetDataSequential(CRukBBSDataAry& out, int nLimit, int nSkip);
    int GetDataParents(CRukBBSDataAry& out, int nLimit, int nSkip);
    int GetDataChildren(CRukBBSDataAry& out, const char* pId, int nOrder);
    int GetDataRecurs(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid);
    int GetDataRecursWithDepth(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid,
                               int& nPDepth, int& nDepth);
    int CheckExistChild(const char* pId);
    CRukBBSData* GetData(const char* pId);
    CRukBBSData* GetDataParent(const CRukBBSData* pRec);
    CRukBBSData* GetDataPP(const CRukBBSData* pRec);

    // --- storing posts, deletions and attachments
    // With bNewKey the record is a new message: when its id is already taken
    // in the file, the next larger free key is used instead (rec.id and the
    // thread keys of its attachments that named the old id follow).
    int WriteInputData(const char* pDir, CRukBBSData& rec, CRukBufAry& files, bool bLock,
                       bool bNewKey = false);
    int WriteDeleteData(const char* pDir, const char* pId, bool bLock);
    // The checked writes (rukbbsdata_interim.cpp): under the write lock, an
    // edit or deletion of an id that is not stored gives kStoreMissing, the
    // caller's check runs on the stored record, a reply whose parent is
    // gone gives kStoreNoParent, an edit keeps the stored attachments but
    // those named in pRemoveAttach, a new attachment whose name the thread
    // holds is numbered, and a client posting faster than the rules allow
    // gives kStoreTooSoon with the wait.
    [[nodiscard]] int WriteInputData(const char* pDir, CRukBBSData& rec, CRukBufAry& files,
                                     bool bLock, const SRukWriteRules& rules);
    [[nodiscard]] int WriteDeleteData(const char* pDir, const char* pId, bool bLock,
                                      const FRukCheck& check);
    bool DeleteDataAndAttachFile(const char* pDir, const char* pId);
    bool DeleteDataOnly(const char* pId);
    int WriteAttachFile(const char* pDir, CRukStrMap& attach, CRukBufAry& files);
    int DeleteAttachFile(const char* pDir, CRukStrMap& attach);

    // --- search
    int FindRead(const char* pDir, CRukBBSDataAry& out, CRukStrAry& words, bool bLock);
    int FindData(CRukBBSDataAry& out, CRukStrAry& words);
    // One message of the board's file, read without loading the board:
    // 1 found (into out), 0 not found, -1, or the lock result; bHasChild
    // tells whether any record answers it.
    int FindRecord(const char* pDir, const char* pId, CRukBBSData& out, bool& bHasChild,
                   bool bLock);

    CRukBBSDataAry m_aryData;  // the loaded records, in file order
    int m_nMaxData;            // maximum messages (board setting log_max)
    int m_nDeleteMode;         // automatic deletion (board setting log_del)
    bool m_bArchive = false;   // prune into a monthly old log (board setting log_archive)

    // GetDataChildren finds the messages of a thread through an index of
    // m_aryData by thread key, built on first use and kept while the list
    // keeps its block and size; every method here that changes the list
    // drops it. Code that rewrites ppid of loaded records in place (or
    // reorders them) must call this before the next query.
    void ForgetIndex() { m_nIndexed = -1; }

private:
    void IndexThreads();
    CRukString StartLoad(const char* pDir);
    int Walk(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid, int* pPDepth,
             int* pDepth);
    // Completes the records of list from nFrom on; false if one failed.
    bool CompleteFrom(CRukBBSDataAry& list, int nFrom) const;
    // Forgets the file that records loaded by their keys came from.
    void CloseSnapshot();
    // Loads the keys of pPath's records into the own (none when it is
    // missing) and keeps the file; with bText its whole text too. The
    // count, or -1 when it exists but cannot be read.
    int LoadKeys(const char* pPath, bool bText);
    // The kept file's whole text, read now if need be: false on failure.
    bool LoadSnapshotText() const;

    int m_fdSnapshot;                 // that file, or -1
    mutable CRukBuffer m_snapshotText;  // its text once a write needed it
    mutable CRukBuffer m_window;        // a piece of it read for Complete
    mutable long m_nWindowAt = -1;      // where that piece starts

    std::vector<int> m_aThreadHead;   // hash slot -> first record of it, or -1
    std::vector<int> m_aThreadNext;   // record -> next record of its slot, or -1
    const CRukBBSData* m_pIndexed;    // m_aryData's block when indexed
    int m_nIndexed;                   // its size then; -1 when not indexed

    // Removes pId's thread (or the subtree of a reply) from the own records;
    // the attachment maps of the removed records go to pRemoved when given.
    bool RemoveData(const char* pId, CRukAry<CRukStrMap>* pRemoved, const char* pTrace);
    // Replaces pPath with the records of pFirst then those of pRest whose
    // byte in pSkip is 0 (either list may be null, pSkip too), optionally
    // after the old contents; 0, or -1 with the old file left as it was.
    int ReplaceData(const char* pPath, const CRukBBSDataAry* pFirst,
                    const CRukBBSDataAry* pRest, const char* pSkip, bool bKeepOld);
};

#endif
