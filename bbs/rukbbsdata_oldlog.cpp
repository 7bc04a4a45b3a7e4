// CRukBBSFile: pruning into the old log of the month, and moving threads
// between logs. The thread pruned from a full board is merged into
// "old/YYYY-MM" (a data directory of its own, with its own lock) before
// the board is written, put back as it was when the board cannot be, and
// its attachment directory follows it once the board is in place. The
// moves of the administration (a new old log from the board, splitting
// and merging old logs) copy the lines as they are stored.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>
#include <unistd.h>
#include <unordered_set>

#include "rukbbsdata_impl.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

using namespace rukbbsdata;

static const char s_szOldName[] = "old";

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
// Moving threads between logs: by lines, each copied as it is stored.

namespace {

// A set of ids held as views into the mapped lines: one flat table,
// looked up by a hash of an id's last bytes (where the ids of one board
// differ), each line's keys asked once or twice.
class CIdSet {
public:
    explicit CIdSet(size_t nIds)
    {
        int nBits = 4;
        while ((size_t{1} << nBits) < nIds * 2)
            nBits++;
        m_nShift = 64 - nBits;
        m_slots.resize(size_t{1} << nBits, SSlot{0, std::string_view()});
    }
    // Adds id: false when it is there already.
    bool Insert(std::string_view id)
    {
        uint64_t h = Hash(id);
        SSlot& slot = m_slots[Slot(id, h)];
        if (slot.id.data())
            return false;
        slot = {h, id};
        return true;
    }
    bool Has(std::string_view id) const { return m_slots[Slot(id, Hash(id))].id.data() != nullptr; }

private:
    struct SSlot {
        uint64_t h;
        std::string_view id;  // a view without data is a free slot
    };

    static uint64_t Hash(std::string_view id)
    {
        uint64_t nTail = 0;
        if (id.size() >= 8)
            memcpy(&nTail, id.data() + id.size() - 8, 8);
        else if (!id.empty())
            memcpy(&nTail, id.data(), id.size());
        return (nTail ^ (id.size() * 0x100000001b3ull)) * 0x9e3779b97f4a7c15ull;
    }

    // The slot of id (hashed to h), or the free one where it would go.
    size_t Slot(std::string_view id, uint64_t h) const
    {
        size_t nMask = m_slots.size() - 1;
        size_t i = static_cast<size_t>(h >> m_nShift);
        while (m_slots[i].id.data() && (m_slots[i].h != h || m_slots[i].id != id))
            i = (i + 1) & nMask;
        return i;
    }

    std::vector<SSlot> m_slots;
    int m_nShift = 60;
};

}  // namespace

int CRukBBSFile::MoveThreads(const char* pSrcDir, int nSkip, int nHalf, const char* pDstPath,
                             const std::function<bool(const CRukStrAry&)>& beforeWrite)
{
    CRukString src = CreateFullPath(pSrcDir);
    CRukBoardText text;
    if (!text.Load(src.GetText()))
        return kStoreFailed;
    int nThreads = 0;
    for (int i = 0; i < text.Count(); i++)
        nThreads += text[i].nPpid == 0 ? 1 : 0;
    int nCount = nHalf > 0 ? nThreads / nHalf : nThreads - nSkip;
    if (nHalf > 0)
        nSkip = 0;
    if (nCount <= 0)
        return 0;
    // The roots after the first nSkip, as GetDataParents picks them.
    CRukStrAry roots;
    CIdSet ids(static_cast<size_t>(nCount));
    int nRoot = 0;
    for (int i = 0; i < text.Count() && roots.GetSize() < nCount; i++) {
        if (text[i].nPid == 0 && nRoot++ >= nSkip) {
            roots.Add(text.Id(i));
            (void)ids.Insert(std::string_view(text.Line(i), text[i].nId));
        }
    }
    if (roots.GetSize() == 0)
        return 0;
    // A thread is its root and every line whose root key names it.
    std::vector<char> take(static_cast<size_t>(text.Count()), 0);
    std::vector<SLinePick> moved;
    for (int i = 0; i < text.Count(); i++) {
        const SLineRef& l = text[i];
        std::string_view ppid(text.Line(i) + l.ppidAt, l.nPpid);
        if (ids.Has(ppid) || ids.Has(std::string_view(text.Line(i), l.nId))) {
            take[static_cast<size_t>(i)] = 1;
            moved.push_back({&text, i});
        }
    }
    SortById(moved, true);
    if (!beforeWrite(roots))
        return kStoreRefused;
    int r = ReplaceWith(pDstPath, [&](CRukLineCopier& out) {
        for (const SLinePick& pick : moved)
            out.Line(*pick.pText, pick.nLine);
    });
    if (r != 0)
        return kStoreFailed;
    r = ReplaceWith(src.GetText(), [&](CRukLineCopier& out) {
        for (int i = 0; i < text.Count(); i++)
            if (!take[static_cast<size_t>(i)])
                out.Line(text, i);
    });
    if (r != 0) {
        if (unlink(pDstPath) != 0)
            go.m_log.Trace("     CRukBBSFile::MoveThreads -> %s left behind", pDstPath);
        return kStoreFailed;
    }
    return roots.GetSize();
}

int CRukBBSFile::MergeLogs(const char* pSrcDir, const char* pDstDir,
                           const std::function<bool(const CRukStrAry&)>& beforeWrite)
{
    CRukBoardText from, into;
    CRukString dst = CreateFullPath(pDstDir);
    if (!from.Load(CreateFullPath(pSrcDir).GetText()) || !into.Load(dst.GetText()))
        return kStoreFailed;
    CRukStrAry ids;
    CIdSet seen(static_cast<size_t>(from.Count()));
    for (int i = 0; i < from.Count(); i++)
        if (seen.Insert(std::string_view(from.Line(i), from[i].nId)))
            ids.Add(from.Id(i));
    // The target's records, then the source's, in one order by id.
    std::vector<SLinePick> all;
    all.reserve(static_cast<size_t>(into.Count() + from.Count()));
    for (const CRukBoardText* pText : {&into, &from})
        for (int i = 0; i < pText->Count(); i++)
            all.push_back({pText, i});
    SortById(all, true);
    if (!beforeWrite(ids))
        return kStoreRefused;
    int r = ReplaceWith(dst.GetText(), [&](CRukLineCopier& out) {
        for (const SLinePick& pick : all)
            out.Line(*pick.pText, pick.nLine);
    });
    return r == 0 ? static_cast<int>(all.size()) : kStoreFailed;
}
