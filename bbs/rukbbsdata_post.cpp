// CRukBBSFile: storing a new message or an edit (WriteInputData). Under
// the write lock the board is read again by its keys and the post is
// planned in steps (its key and thread or the stored message it edits,
// the duplicate check, the oldest thread to prune, the final names of
// new files); then the files change in the order rukbbsdata_write.cpp
// describes.
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "rukbbsdata_impl.h"
#include "rukeventlog.h"
#include "rukglobal.h"

using namespace rukbbsdata;

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

// The thread key of a record: its root's id.
static CRukString ThreadKey(const CRukBBSData& rec)
{
    return rec.ppid.IsEmpty() ? rec.id : rec.ppid;
}

// The lines of thread pKey as they are kept together in the file: the
// replies in file order, then the root (when it is stored).
static std::vector<int> ThreadMembers(const CRukBoardText& text, const CRukString& key)
{
    const char* pKey = key.GetText();
    size_t nKey = strlen(pKey);
    std::vector<int> members;
    int nRoot = -1;
    for (int i = 0; i < text.Count(); i++) {
        if (text.PpidIs(i, pKey, nKey))
            members.push_back(i);
        else if (nRoot < 0 && text[i].nPpid == 0 && text.IdIs(i, pKey, nKey))
            nRoot = i;
    }
    if (nRoot >= 0)
        members.push_back(nRoot);
    return members;
}

// Reads the lines of members whole into the group, marking them in skip.
static bool TakeMembers(const CRukBoardText& text, const std::vector<int>& members,
                        SRukPostPlan& plan, int nStored = -1)
{
    for (int i : members) {
        CRukBBSData whole;
        if (!text.Record(i, whole))
            return false;
        if (i == nStored)
            plan.nRecord = plan.group.GetSize();
        plan.skip[static_cast<size_t>(i)] = 1;
        plan.group.Add(std::move(whole));
    }
    plan.nRest -= static_cast<int>(members.size());
    return true;
}

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

int CRukBBSFile::WriteInputData(const char* pDir, CRukBBSData& rec, CRukBufAry& files,
                                bool bLock, const SRukWriteRules& rules)
{
    ForgetIndex();
    CRukString path = CreateFullPath(pDir);
    go.m_log.Trace("-->> CRukBBSFile::WriteInputData(%s) ----", path.GetText());
    m_aryData.RemoveAll();
    CloseSnapshot();
    m_pWritten.reset();
    // The board's text with its lines: the records this post leaves alone
    // are copied as they are, and only the thread it joins (and one
    // pruned) is read whole.
    CRukBBSLock lock;
    CRukBoardText text;
    int r = LoadForWrite(path, bLock, lock, text);
    if (r != 0)
        return r;

    time_t now = time(nullptr);
    std::unique_ptr<CRukEventLog> rate;
    SRukPostPlan plan;
    plan.skip.assign(static_cast<size_t>(text.Count()), 0);
    plan.nRest = text.Count();
    r = rules.bNewKey ? CheckRate(pDir, rules, now, rate) : 0;
    if (r == 0)
        r = rules.bNewKey ? PlanNewPost(text, rec, plan) : PlanEdit(text, rec, rules, plan);
    if (r == 0)
        r = PlanPrune(text, plan);
    if (r == 0)
        r = NameAttachments(pDir, rec, plan);
    if (r == 0)
        r = StorePost(pDir, path, text, files, plan);
    if (r != 0) {
        if (r != kStoreFailed)
            KeepKeys(text, nullptr);  // the board as read
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
int CRukBBSFile::PlanNewPost(const CRukBoardText& text, CRukBBSData& rec, SRukPostPlan& plan)
{
    if (text.Find(rec.id.GetText()) >= 0) {
        std::unordered_set<std::string> ids;
        for (int i = 0; i < text.Count(); i++)
            ids.insert(std::string(text.Line(i), text[i].nId));
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
        int nParent = text.Find(rec.pid.GetText());
        if (nParent < 0)
            return kStoreNoParent;
        CRukString parentThread = text.ThreadKey(nParent);
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
        if (text.Count() > 0) {
            CRukBBSData newest;
            if (!text.Record(0, newest))
                return kStoreFailed;
            if (SameContent(newest, rec))
                return kStoreDuplicate;
        }
        return 0;
    }
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> reply to %s in %s", rec.pid.GetText(),
                   plan.threadKey.GetText());
    std::vector<int> members = ThreadMembers(text, plan.threadKey);
    if (!TakeMembers(text, members, plan))
        return kStoreFailed;
    for (int i = 1; i < plan.group.GetSize(); i++)
        if (SameContent(plan.group[i], rec))
            return kStoreDuplicate;
    return 0;
}

// An edit: the stored message is found and checked here, under the lock;
// it keeps its place, thread and address, and the attachments not named
// to drop.
int CRukBBSFile::PlanEdit(const CRukBoardText& text, CRukBBSData& rec,
                          const SRukWriteRules& rules, SRukPostPlan& plan)
{
    int nStored = text.Find(rec.id.GetText());
    if (nStored < 0)
        return kStoreMissing;
    CRukBBSData stored;
    if (!text.Record(nStored, stored))
        return kStoreFailed;
    if (rules.check) {
        int r = CheckResult(rules.check(stored, text.HasReplies(rec.id.GetText())));
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
    std::vector<int> members = ThreadMembers(text, plan.threadKey);
    return TakeMembers(text, members, plan, nStored) ? 0 : kStoreFailed;
}

// In delete mode, when the board would hold more than m_nMaxData, marks
// the oldest thread outside the post's (2 in plan.skip) and reads its
// records whole into plan.pruned.
int CRukBBSFile::PlanPrune(const CRukBoardText& text, SRukPostPlan& plan)
{
    if (m_nDeleteMode == 0 || plan.nRest <= 0 || plan.nRest + plan.group.GetSize() <= m_nMaxData)
        return 0;
    int nLast = text.Count() - 1;
    while (nLast >= 0 && plan.skip[static_cast<size_t>(nLast)])
        nLast--;
    if (nLast < 0)
        return 0;
    CRukString key = text.ThreadKey(nLast);
    if (key.IsEmpty())
        return 0;  // a record without an id names no thread
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> prune thread %s", key.GetText());
    if (!text.Mark(key.GetText(), plan.skip, 2))
        return 0;
    for (int i = 0; i < text.Count(); i++) {
        if (plan.skip[static_cast<size_t>(i)] != 2)
            continue;
        CRukBBSData whole;
        if (!text.Record(i, whole))
            return kStoreFailed;
        plan.pruned.Add(std::move(whole));
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
int CRukBBSFile::StorePost(const char* pDir, const CRukString& path, const CRukBoardText& text,
                           CRukBufAry& files, SRukPostPlan& plan)
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
    int r = ReplaceWith(path.GetText(), [&](CRukLineCopier& out) {
        for (const CRukBBSData& rec : plan.group)
            out.Record(rec);
        for (int i = 0; i < text.Count(); i++)
            if (!plan.skip[static_cast<size_t>(i)])
                out.Line(text, i);
    });
    if (r != 0) {
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
    m_aryData = std::move(plan.group);  // the thread group, whole
    return 0;
}
