// CRukBBSFile: storing posts, edits and deletions with their attachment
// files, pruning the oldest thread (into the old log of the month when
// archiving), and the posting rate of each client.
//
// Every write here takes the exclusive board lock (or runs under the
// caller's), reads the board again, and decides everything there before a
// file changes: whether the message is stored, the caller's check, the
// names of new files, what is pruned. Then the files change in an order
// that leaves nothing half done: new attachment files, the old log, the
// message file; only after the message file is in place are files
// removed or moved. A failure before that removes what this write made
// and returns kStoreFailed with everything else as it was.
#include "rukbbsdata.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "rukdir.h"
#include "rukeventlog.h"
#include "rukglobal.h"
#include "rukstrpath.h"

static const char s_szRateName[] = "bbs-rate.dat";
static const char s_szOldName[] = "old";
static const long s_nBurstWindow = 600;  // seconds over which nPostBurst counts

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

// ---------------------------------------------------------------------------
// Small helpers

// True when pName can be used as one component of a path below the data
// directory: not empty, not "." or "..", and without any separator.
static bool IsSafeName(const char* pName)
{
    if (!pName || !*pName || strcmp(pName, ".") == 0 || strcmp(pName, "..") == 0)
        return false;
    return strpbrk(pName, "/\\") == nullptr;
}

// Increments a string of decimal digits by one ("199" -> "200", "99" ->
// "100"); false (and no change) for an empty or non-decimal text.
static bool IncrementDecimal(CRukString& str)
{
    std::string digits(str.GetText());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9')
        digits[--i] = '0';
    if (i == 0)
        digits.insert(digits.begin(), '1');
    else
        digits[i - 1]++;
    str = digits.c_str();
    return true;
}

// True when two messages have the same author, subject and body.
static bool SameContent(const CRukBBSData& a, const CRukBBSData& b)
{
    return a.name == b.name && a.title == b.title && a.mess == b.mess;
}

static bool Exists(const CRukString& path)
{
    return CRukFile::GetFileAttr(path.GetText()) != -1;
}

static bool IsDirectory(const CRukString& path)
{
    int nAttr = CRukFile::GetFileAttr(path.GetText());
    return nAttr != -1 && S_ISDIR(static_cast<mode_t>(nAttr));
}

// The index of the first record with id pId, or -1 (an empty id names
// nothing).
static int FindId(const CRukBBSDataAry& list, const char* pId)
{
    if (!pId || !*pId)
        return -1;
    for (int i = 0; i < list.GetSize(); i++)
        if (strcmp(list[i].id.GetText(), pId) == 0)
            return i;
    return -1;
}

// True when some record answers pId.
static bool HasReplies(const CRukBBSDataAry& list, const char* pId)
{
    for (const CRukBBSData& rec : list)
        if (strcmp(rec.pid.GetText(), pId) == 0)
            return true;
    return false;
}

// The thread key of a record: its root's id.
static CRukString ThreadKey(const CRukBBSData& rec)
{
    return rec.ppid.IsEmpty() ? rec.id : rec.ppid;
}

// The records of thread pKey as they are kept together in the file: the
// replies in file order, then the root (when it is stored).
static std::vector<int> ThreadMembers(const CRukBBSDataAry& list, const char* pKey)
{
    std::vector<int> members;
    int nRoot = -1;
    for (int i = 0; i < list.GetSize(); i++) {
        const CRukBBSData& rec = list[i];
        if (strcmp(rec.ppid.GetText(), pKey) == 0)
            members.push_back(i);
        else if (nRoot < 0 && rec.ppid.IsEmpty() && strcmp(rec.id.GetText(), pKey) == 0)
            nRoot = i;
    }
    if (nRoot >= 0)
        members.push_back(nRoot);
    return members;
}

// A check's answer as a result: 0 goes on, anything else refuses (a
// positive answer would read as a count, so it becomes kStoreRefused).
static int CheckResult(int r)
{
    return r > 0 ? kStoreRefused : r;
}

// A lock result as a store result.
static int LockResult(int r)
{
    return r == -2 ? kStoreBusy : kStoreFailed;
}

// Makes directory path with go's mode unless it is there, noting it in
// made: true when it is a directory now.
static bool MakeDirectory(const CRukString& path, CRukStrAry& made)
{
    if (IsDirectory(path))
        return true;
    if (Exists(path) || CRukDir::MkDir(path.GetText()) != 0)
        return false;
    made.Add(path);
    if (chmod(path.GetText(), go.m_nDirMode) != 0)
        go.m_log.Trace("       CRukBBSFile: chmod(%s) failed", path.GetText());
    return true;
}

// Removes the directories of made again, innermost first, with the lock
// file a directory of an old log got.
static void RemoveMadeDirectories(const CRukStrAry& made)
{
    for (int i = made.GetSize() - 1; i >= 0; i--) {
        CRukString lockFile = made[i] + "/lockfile.lock";
        if (Exists(lockFile) && unlink(lockFile.GetText()) != 0)
            go.m_log.Trace("       CRukBBSFile: unlink(%s) failed", lockFile.GetText());
        if (rmdir(made[i].GetText()) != 0)
            go.m_log.Trace("       CRukBBSFile: rmdir(%s) failed", made[i].GetText());
    }
}

// ---------------------------------------------------------------------------
// Posting rate

// The key of a client in the rate file ("-" for a request without one).
static const char* RateKey(const char* pClient)
{
    return *pClient ? pClient : "-";
}

// With a client and a limit, loads the client's recent posts into log and
// checks the limits at now: 0, kStoreTooSoon (with the seconds to wait in
// *rules.pWait), or kStoreFailed when the rate file cannot be read.
static int CheckRate(const char* pDir, const SRukWriteRules& rules, time_t now,
                     std::unique_ptr<CRukEventLog>& log)
{
    if (!rules.pClient || (rules.nPostInterval <= 0 && rules.nPostBurst <= 0))
        return 0;
    long nKeep = std::max<long>(s_nBurstWindow, rules.nPostInterval);
    CRukString path = CRukStrPath::Normalize(pDir ? pDir : "") + "/" + s_szRateName;
    // Without a lock of its own: the board lock is held.
    log = std::make_unique<CRukEventLog>(path.GetText(), nKeep);
    if (log->Load(false) != 0)
        return kStoreFailed;
    const char* pKey = RateKey(rules.pClient);
    long nWait = 0;
    time_t last = log->Latest(pKey);
    if (rules.nPostInterval > 0 && last > 0 && now - last < rules.nPostInterval)
        nWait = rules.nPostInterval - static_cast<long>(now - last);
    if (rules.nPostBurst > 0 && log->Count(pKey, s_nBurstWindow, now) >= rules.nPostBurst) {
        time_t oldest = log->Oldest(pKey, s_nBurstWindow, now);
        nWait = std::max(nWait, static_cast<long>(oldest + s_nBurstWindow - now));
    }
    if (nWait <= 0)
        return 0;
    // A clock set back could ask for more than the log keeps.
    nWait = std::min(std::max(nWait, 1L), nKeep);
    if (rules.pWait)
        *rules.pWait = static_cast<int>(nWait);
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> too soon for %s (%ld s)", pKey, nWait);
    return kStoreTooSoon;
}

// Records a stored post in the rate file; a failure is traced, the post
// stays.
static void RecordRate(CRukEventLog& log, const char* pClient, time_t now)
{
    log.Add(RateKey(pClient), now);
    if (log.Save(now) != 0)
        go.m_log.Trace("     CRukBBSFile::WriteInputData -> the rate file could not be written");
}

// ---------------------------------------------------------------------------
// Attachment names

// pName, or the first of "base-2.ext", "base-3.ext", ... that is neither
// in used nor a file in dir.
static CRukString FreeName(const CRukString& name, const std::unordered_set<std::string>& used,
                           const CRukString& dir)
{
    auto isFree = [&](const std::string& n) {
        return used.count(n) == 0 && !Exists(dir + "/" + n.c_str());
    };
    std::string whole(name.GetText());
    if (isFree(whole))
        return name;
    size_t nDot = whole.rfind('.');
    if (nDot == 0 || nDot == std::string::npos)
        nDot = whole.size();
    std::string base = whole.substr(0, nDot);
    std::string ext = whole.substr(nDot);
    for (unsigned n = 2;; n++) {
        std::string candidate = base + "-" + std::to_string(n) + ext;
        if (isFree(candidate))
            return CRukString(candidate.c_str());
    }
}

// ---------------------------------------------------------------------------
// CRukBBSFile: storing posts

int CRukBBSFile::WriteInputData(const char* pDir, CRukBBSData& rec, CRukBufAry& files,
                                bool bLock, const SRukWriteRules& rules)
{
    ForgetIndex();
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteInputData(%s) ----", path.GetText());
    m_aryData.RemoveAll();
    CloseSnapshot();
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), false);
        if (r != 0)
            return LockResult(r);
    }
    // The board by its keys, with its text kept: the records this post
    // leaves alone are copied line by line, and only the thread it joins
    // (and one pruned) is read whole.
    if (LoadKeys(path.GetText(), true) < 0)
        return kStoreFailed;

    time_t now = time(nullptr);
    std::unique_ptr<CRukEventLog> rate;
    SRukPostPlan plan;
    plan.skip.assign(static_cast<size_t>(m_aryData.GetSize()), 0);
    plan.nRest = m_aryData.GetSize();
    int r = rules.bNewKey ? CheckRate(pDir, rules, now, rate) : 0;
    if (r == 0)
        r = rules.bNewKey ? PlanNewPost(rec, plan) : PlanEdit(rec, rules, plan);
    if (r == 0)
        r = PlanPrune(plan);
    if (r == 0)
        r = NameAttachments(pDir, rec, plan);
    if (r == 0)
        r = StorePost(pDir, path, files, plan);
    if (r != 0) {
        go.m_log.Trace("--<< CRukBBSFile::WriteInputData END (%d) ----", r);
        return r;
    }
    if (rate)
        RecordRate(*rate, rules.pClient, now);
    go.m_log.Trace("--<< CRukBBSFile::WriteInputData END ----");
    return plan.nRest;
}

// A new message: its key, its thread, the duplicate check, and the group
// it goes first in.
int CRukBBSFile::PlanNewPost(CRukBBSData& rec, SRukPostPlan& plan)
{
    if (FindId(m_aryData, rec.id.GetText()) >= 0) {
        std::unordered_set<std::string> ids;
        for (const CRukBBSData& other : m_aryData)
            ids.insert(other.id.GetText());
        CRukString newId = rec.id;
        do {
            if (!IncrementDecimal(newId))
                return kStoreFailed;  // a taken key that is no number: never stored twice
        } while (ids.count(newId.GetText()) > 0);
        rec.id = newId;
    }
    // A reply answers a stored message of its own thread; a message that
    // answers nothing starts a thread.
    if (!rec.pid.IsEmpty()) {
        int nParent = FindId(m_aryData, rec.pid.GetText());
        if (nParent < 0)
            return kStoreNoParent;
        CRukString parentThread = ThreadKey(m_aryData[nParent]);
        if (rec.ppid.IsEmpty())
            rec.ppid = parentThread;
        if (rec.ppid != parentThread)
            return kStoreNoParent;
    } else {
        rec.ppid.Free();
    }
    plan.threadKey = ThreadKey(rec);
    plan.group.Add(rec);
    plan.nRecord = 0;

    if (rec.ppid.IsEmpty()) {
        // A new thread repeating the newest message is a second send.
        if (m_aryData.GetSize() > 0) {
            if (!Complete(m_aryData[0]))
                return kStoreFailed;
            if (SameContent(m_aryData[0], rec))
                return kStoreDuplicate;
        }
        return 0;
    }
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> reply to %s in %s", rec.pid.GetText(),
                   plan.threadKey.GetText());
    std::vector<int> members = ThreadMembers(m_aryData, plan.threadKey.GetText());
    for (int i : members) {
        if (!Complete(m_aryData[i]))
            return kStoreFailed;
        if (SameContent(m_aryData[i], rec))
            return kStoreDuplicate;
    }
    for (int i : members) {
        plan.skip[i] = 1;
        plan.group.Add(std::move(m_aryData[i]));
    }
    plan.nRest -= static_cast<int>(members.size());
    return 0;
}

// An edit: the stored message is found and checked here, under the lock;
// it keeps its place, thread and address, and the attachments not named
// to drop.
int CRukBBSFile::PlanEdit(CRukBBSData& rec, const SRukWriteRules& rules, SRukPostPlan& plan)
{
    int nStored = FindId(m_aryData, rec.id.GetText());
    if (nStored < 0)
        return kStoreMissing;
    CRukBBSData& stored = m_aryData[nStored];
    if (!Complete(stored))
        return kStoreFailed;
    if (rules.check) {
        int r = CheckResult(rules.check(stored, HasReplies(m_aryData, rec.id.GetText())));
        if (r != 0)
            return r;
    }
    rec.pid = stored.pid;
    rec.ppid = stored.ppid;
    rec.remote = stored.remote;
    for (const CRukStrPair& pair : stored.attach) {
        bool bDrop = false;
        if (rules.pRemoveAttach)
            for (const CRukString& name : *rules.pRemoveAttach)
                bDrop = bDrop || name == pair.m_strTag;
        (bDrop ? plan.dropped : plan.kept).CRukAry<CRukStrPair>::Add(pair);
    }

    plan.threadKey = ThreadKey(stored);
    // The stored message is one of them: it has ppid as key, or it is the
    // first root of its id.
    std::vector<int> members = ThreadMembers(m_aryData, plan.threadKey.GetText());
    for (int i : members) {
        if (!Complete(m_aryData[i]))
            return kStoreFailed;
        if (i == nStored)
            plan.nRecord = plan.group.GetSize();
        plan.skip[i] = 1;
        plan.group.Add(std::move(m_aryData[i]));
    }
    plan.nRest -= static_cast<int>(members.size());
    return 0;
}

// In delete mode, when the board would hold more than m_nMaxData, marks
// the oldest thread outside the post's (2 in plan.skip) and reads its
// records whole into plan.pruned.
int CRukBBSFile::PlanPrune(SRukPostPlan& plan)
{
    if (m_nDeleteMode == 0 || plan.nRest <= 0 || plan.nRest + plan.group.GetSize() <= m_nMaxData)
        return 0;
    int nLast = m_aryData.GetSize() - 1;
    while (nLast >= 0 && plan.skip[nLast])
        nLast--;
    if (nLast < 0)
        return 0;
    CRukString key = ThreadKey(m_aryData[nLast]);
    if (key.IsEmpty())
        return 0;  // a record without an id names no thread
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> prune thread %s", key.GetText());
    if (!MarkData(m_aryData, key.GetText(), plan.skip, 2, nullptr))
        return 0;
    for (int i = 0; i < m_aryData.GetSize(); i++) {
        if (plan.skip[i] != 2)
            continue;
        if (!Complete(m_aryData[i]))
            return kStoreFailed;
        plan.pruned.Add(std::move(m_aryData[i]));
        plan.nRest--;
    }
    plan.prunedKey = key;
    return 0;
}

// Gives every new file its final name in the thread (see the header) and
// makes rec and its place in the group what is stored: the kept
// attachments, then the new ones, each with the thread key.
int CRukBBSFile::NameAttachments(const char* pDir, CRukBBSData& rec, SRukPostPlan& plan)
{
    for (const CRukStrPair& pair : rec.attach)
        if (!IsSafeName(pair.m_strTag.GetText()))
            return kStoreFailed;
    if (rec.attach.GetSize() > 0 && !IsSafeName(plan.threadKey.GetText()))
        return kStoreFailed;
    std::unordered_set<std::string> used;
    for (int i = 0; i < plan.group.GetSize(); i++)
        if (i != plan.nRecord)
            for (const CRukStrPair& pair : plan.group[i].attach)
                used.insert(pair.m_strTag.GetText());
    for (const CRukStrPair& pair : plan.kept)
        used.insert(pair.m_strTag.GetText());
    CRukString dir = CreateAttachPath(pDir, plan.threadKey.GetText());
    for (const CRukStrPair& pair : rec.attach) {
        CRukStrPair named;
        named.m_strTag = FreeName(pair.m_strTag, used, dir);
        named.m_data = plan.threadKey;
        used.insert(named.m_strTag.GetText());
        plan.added.CRukAry<CRukStrPair>::Add(std::move(named));
    }
    rec.attach = plan.kept;
    for (const CRukStrPair& pair : plan.added)
        rec.attach.CRukAry<CRukStrPair>::Add(pair);
    plan.group[plan.nRecord] = rec;
    return 0;
}

// Writes the post as planned: the new files, the old log, the message
// file, and then removes or moves the files that go.
int CRukBBSFile::StorePost(const char* pDir, const CRukString& path, CRukBufAry& files,
                           SRukPostPlan& plan)
{
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> WriteAttachFile");
    if (WriteAttachFile(pDir, plan.added, files) != 0)
        return kStoreFailed;
    auto removeAdded = [&]() {
        CRukStrMap added = plan.added;
        if (DeleteAttachFile(pDir, added) != 0)
            go.m_log.Trace("     CRukBBSFile::WriteInputData -> new files left behind");
    };
    bool bArchive = m_bArchive && plan.pruned.GetSize() > 0;
    SRukOldLog old;
    if (bArchive) {
        int r = WriteOldLog(pDir, plan, old);
        if (r != 0) {
            removeAdded();
            return r;
        }
    }
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> WriteFile 1");
    if (ReplaceData(path.GetText(), &plan.group, &m_aryData, plan.skip.data(), false) != 0) {
        if (bArchive)
            RestoreOldLog(old);
        removeAdded();
        return kStoreFailed;
    }

    // The new message file is in place: files may go now.
    if (bArchive)
        MoveThreadDirectory(pDir, plan.prunedKey, old);
    else
        for (CRukBBSData& pruned : plan.pruned)
            if (DeleteAttachFile(pDir, pruned.attach) != 0)
                go.m_log.Trace("     CRukBBSFile::WriteInputData -> files of %s left behind",
                               pruned.id.GetText());
    if (DeleteAttachFile(pDir, plan.dropped) != 0)
        go.m_log.Trace("     CRukBBSFile::WriteInputData -> dropped files left behind");
    m_aryData = std::move(plan.group);
    CloseSnapshot();  // the thread group is whole
    return 0;
}

// ---------------------------------------------------------------------------
// CRukBBSFile: pruning into the old log of the month

// Merges the pruned thread into the old log "old/YYYY-MM" of the current
// month (local time), made when missing, under that log's own lock, kept
// sorted by id descending. The log's lock and earlier bytes stay in old
// for RestoreOldLog. 0, kStoreBusy or kStoreFailed (nothing changed).
int CRukBBSFile::WriteOldLog(const char* pDir, const SRukPostPlan& plan, SRukOldLog& old)
{
    time_t now = time(nullptr);
    struct tm tmNow;
    char szMonth[16];
    if (!localtime_r(&now, &tmNow) || strftime(szMonth, sizeof(szMonth), "%Y-%m", &tmNow) == 0)
        return kStoreFailed;
    CRukString base = CRukStrPath::Normalize(pDir ? pDir : "") + "/" + s_szOldName;
    old.dir = base + "/" + szMonth;
    old.path = CreateFullPath(old.dir.GetText());
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> old log %s", old.dir.GetText());
    int r = kStoreFailed;
    if (MakeDirectory(base, old.made) && MakeDirectory(old.dir, old.made)) {
        r = old.lock.Lock(old.path.GetText(), false);
        r = r == 0 ? MergeOldLog(plan, old) : LockResult(r);
    }
    if (r != 0) {
        (void)old.lock.Unlock();
        RemoveMadeDirectories(old.made);
        go.m_log.Trace("     CRukBBSFile::WriteInputData -> old log not written (%d)", r);
    }
    return r;
}

// Writes the old log of old.path with the pruned records added (records
// it already holds are not added twice): 0 or kStoreFailed.
int CRukBBSFile::MergeOldLog(const SRukPostPlan& plan, SRukOldLog& old)
{
    CRukBBSFile log;
    old.bExisted = Exists(old.path);
    if (log.LoadKeys(old.path.GetText(), true) < 0)
        return kStoreFailed;
    old.before = log.m_snapshotText;
    std::unordered_set<std::string> ids;
    for (const CRukBBSData& rec : log.m_aryData)
        ids.insert(rec.id.GetText());
    for (const CRukBBSData& rec : plan.pruned)
        if (ids.count(rec.id.GetText()) == 0)
            log.m_aryData.Add(rec);
    log.Sort(log.m_aryData, 1);
    if (log.ReplaceData(old.path.GetText(), &log.m_aryData, nullptr, nullptr, false) != 0)
        return kStoreFailed;
    old.bWritten = true;
    return 0;
}

// Puts the old log back as it was before WriteOldLog (the board could not
// be written), and removes the directories made for it.
void CRukBBSFile::RestoreOldLog(SRukOldLog& old)
{
    if (old.bWritten) {
        int r = old.bExisted ? CRukFile::ReplaceFile(old.path.GetText(), old.before.GetData(),
                                                     static_cast<long>(old.before.GetSize()))
                             : unlink(old.path.GetText());
        if (r < 0)
            go.m_log.Trace("     CRukBBSFile::WriteInputData -> old log %s not restored",
                           old.path.GetText());
    }
    (void)old.lock.Unlock();
    RemoveMadeDirectories(old.made);
}

// Moves the pruned thread's attachment directory into the old log; a
// failure is traced (the files stay on the board, their records are in
// the old log).
void CRukBBSFile::MoveThreadDirectory(const char* pDir, const CRukString& key, SRukOldLog& old)
{
    CRukString src = CreateAttachPath(pDir, key.GetText());
    if (!IsSafeName(key.GetText()) || key == s_szOldName || !IsDirectory(src))
        return;
    CRukString dst = old.dir + "/" + key;
    if (Exists(dst) || rename(src.GetText(), dst.GetText()) != 0)
        go.m_log.Trace("     CRukBBSFile::WriteInputData -> %s not moved to %s", src.GetText(),
                       dst.GetText());
}

// ---------------------------------------------------------------------------
// CRukBBSFile: deletions

int CRukBBSFile::WriteDeleteData(const char* pDir, const char* pId, bool bLock,
                                 const FRukCheck& check)
{
    ForgetIndex();
    CRukString strId(pId);  // pId may point into the records replaced below
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteDeleteData(%s) ID=%s ----", path.GetText(),
                   strId.GetText());
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), false);
        if (r != 0)
            return LockResult(r);
    }
    // The records the caller loaded may be stale: LoadKeys drops them
    // before the file is read again, so that two copies are never held.
    if (LoadKeys(path.GetText(), true) < 0)
        return kStoreFailed;
    int nStored = FindId(m_aryData, strId.GetText());
    if (nStored < 0)
        return kStoreMissing;
    if (check) {
        if (!Complete(m_aryData[nStored]))
            return kStoreFailed;
        int r = CheckResult(check(m_aryData[nStored], HasReplies(m_aryData, strId.GetText())));
        if (r != 0)
            return r;
    }
    std::vector<char> mask(static_cast<size_t>(m_aryData.GetSize()), 0);
    if (!MarkData(m_aryData, strId.GetText(), mask, 1, nullptr))
        return kStoreMissing;
    return StoreDeletion(pDir, path, mask);
}

int CRukBBSFile::WriteDeleteData(const char* pDir, const CRukStrAry& ids, bool bLock)
{
    ForgetIndex();
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteDeleteData(%s) %d ids ----", path.GetText(),
                   ids.GetSize());
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), false);
        if (r != 0)
            return LockResult(r);
    }
    if (LoadKeys(path.GetText(), true) < 0)
        return kStoreFailed;
    std::vector<char> mask(static_cast<size_t>(m_aryData.GetSize()), 0);
    bool bAny = false;
    for (const CRukString& id : ids) {
        // An id inside a subtree marked before marks nothing new.
        const char* pId = id.GetText();
        if (FindId(m_aryData, pId) >= 0 && MarkData(m_aryData, pId, mask, 1, nullptr))
            bAny = true;
    }
    if (!bAny)
        return kStoreMissing;
    return StoreDeletion(pDir, path, mask);
}

int CRukBBSFile::StoreDeletion(const char* pDir, const CRukString& path,
                               const std::vector<char>& mask)
{
    CRukAry<CRukStrMap> removed;
    if (!RemoveMarked(mask, &removed))
        return kStoreFailed;
    if (ReplaceData(path.GetText(), &m_aryData, nullptr, nullptr, false) != 0) {
        go.m_log.Trace("--<< CRukBBSFile::WriteDeleteData END (write failed) ----");
        return kStoreFailed;
    }
    m_snapshotText.Free();  // the rest of a record is read from the file again
    for (CRukStrMap& attach : removed)
        if (DeleteAttachFile(pDir, attach) != 0)
            go.m_log.Trace("     CRukBBSFile::WriteDeleteData -> files left behind");
    go.m_log.Trace("--<< CRukBBSFile::WriteDeleteData END ----");
    return m_aryData.GetSize();
}

// Removes pId's thread or subtree from the own records with its files.
bool CRukBBSFile::DeleteDataAndAttachFile(const char* pDir, const char* pId)
{
    CRukString strId(pId);
    go.m_log.Trace("----- CRukBBSFile::DeleteDataAndAttachFile START ID=%s -----", strId.GetText());
    CRukAry<CRukStrMap> removed;
    bool bRemoved = RemoveData(strId.GetText(), &removed, nullptr);
    for (CRukStrMap& attach : removed)
        if (DeleteAttachFile(pDir, attach) != 0)
            go.m_log.Trace("----- CRukBBSFile::DeleteDataAndAttachFile files left behind");
    go.m_log.Trace("----- CRukBBSFile::DeleteDataAndAttachFile END -----");
    return bRemoved;
}

// ---------------------------------------------------------------------------
// CRukBBSFile: attachment files

int CRukBBSFile::WriteAttachFile(const char* pDir, CRukStrMap& attach, CRukBufAry& files)
{
    if (attach.GetSize() == 0)
        return 0;
    const char* pThread = attach[0].m_data.GetText();
    if (!IsSafeName(pThread))
        return -1;
    for (const CRukStrPair& pair : attach)
        if (!IsSafeName(pair.m_strTag.GetText()))
            return -1;
    CRukString dir = CreateAttachPath(pDir, pThread);
    CRukStrAry made;
    if (!MakeDirectory(dir, made))
        return -1;
    CRukStrAry written;
    for (int i = 0; i < attach.GetSize(); i++) {
        CRukString path = dir + "/" + attach[i].m_strTag;
        go.m_log.Trace("----- CRukBBSFile::WriteAttachFile(%s)", path.GetText());
        const CRukBuffer* pData = files.GetAt(i);
        CRukFile file;
        if (file.WriteFile(path.GetText(), pData ? pData->GetData() : nullptr,
                           pData ? static_cast<int>(pData->GetSize()) : 0) < 0) {
            go.m_log.Trace("----- CRukBBSFile::WriteAttachFile(%s) failed", path.GetText());
            for (const CRukString& done : written)
                if (unlink(done.GetText()) != 0)
                    go.m_log.Trace("----- CRukBBSFile::WriteAttachFile unlink(%s) failed",
                                   done.GetText());
            RemoveMadeDirectories(made);
            return -1;
        }
        written.Add(path);
        if (chmod(path.GetText(), go.m_nFileMode) != 0)
            go.m_log.Trace("----- CRukBBSFile::WriteAttachFile chmod(%s) failed", path.GetText());
    }
    return 0;
}

int CRukBBSFile::DeleteAttachFile(const char* pDir, CRukStrMap& attach)
{
    if (attach.GetSize() == 0)
        return 0;
    const char* pThread = attach[0].m_data.GetText();
    bool bFailed = false;
    if (IsSafeName(pThread)) {
        CRukString dir = CreateAttachPath(pDir, pThread);
        for (const CRukStrPair& pair : attach) {
            CRukString path = dir + "/" + pair.m_strTag;
            go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile(%s)", path.GetText());
            if (!IsSafeName(pair.m_strTag.GetText()) || unlink(path.GetText()) != 0) {
                go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile(%s) failed", path.GetText());
                bFailed = true;
            }
        }
        CRukStrAry left;
        if (CRukDir::GetFileList(left, dir.GetText(), false, false) == 0 &&
            rmdir(dir.GetText()) != 0)
            go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile rmdir(%s) failed", dir.GetText());
    } else {
        go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile: no thread directory (%s)", pThread);
        bFailed = true;
    }
    attach.RemoveAll();
    return bFailed ? -1 : 0;
}
