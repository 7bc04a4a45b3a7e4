// CRukBBSFormConf: a board's old-log page and the old-log operations, each
// run under the board lock: a new old log from the threads beyond the
// first page, and splitting, merging, renaming and deleting old logs. A
// deletion takes two POSTs: the first asks on the page, the second (with
// "confirm=1") deletes.
#include "rukbbsformconf.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rukbbsdata.h"
#include "rukbbsformconf_shared.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// Puts moved attachment directories back where they came from; one that
// cannot go back is traced (it stays whole in the other log).
static void RestoreAttachDirs(const CRukStrAry& moved, const CRukString& src,
                              const CRukString& dst)
{
    CRukBBSFile paths;
    for (int j = moved.GetSize() - 1; j >= 0; j--) {
        CRukString from = paths.CreateAttachPath(dst.GetText(), moved[j].GetText());
        CRukString to = paths.CreateAttachPath(src.GetText(), moved[j].GetText());
        if (rename(from.GetText(), to.GetText()) != 0)
            go.m_log.Trace("-- rename(%s, %s) failed", from.GetText(), to.GetText());
    }
}

// Renames the attachment directories named by ids from one log into
// another; on a failure the ones already moved go back and false returns.
static bool MoveAttachDirs(const CRukStrAry& ids, const CRukString& src, const CRukString& dst,
                           CRukStrAry& moved)
{
    CRukBBSFile paths;
    for (int i = 0; i < ids.GetSize(); i++) {
        CRukString from = paths.CreateAttachPath(src.GetText(), ids[i].GetText());
        CRukString to = paths.CreateAttachPath(dst.GetText(), ids[i].GetText());
        if (rename(from.GetText(), to.GetText()) != 0) {
            go.m_log.Trace("-- rename(%s, %s) failed", from.GetText(), to.GetText());
            RestoreAttachDirs(moved, src, dst);
            moved.RemoveAll();
            return false;
        }
        moved.Add(ids[i]);
    }
    return true;
}

// What the old-log selects say when there is no old log.
static const char s_szNoOldLogs[] =
    "\x89\xdf\x8b\x8e\x83\x8d\x83O\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";  // 過去ログはありません

// A board's old-log page: the number of messages in the current log, two
// selects of the old logs, and the question of a deletion that waits for
// its confirmation.
void CRukBBSFormConf::ConfigOldForm(CRukForm& form)
{
    m_strTitle = CRukSettingKeys::Text(m_cfBBS, kBoardTitle);
    CRukString page = ReadTemplate((m_strConfDir + "templ_config_old.html").GetText());
    KeepBlock(page, "ASK_DEL", !m_strAskOldLog.IsEmpty());
    CRukString datadir = CRukSettingKeys::Text(m_cfBBS, kBoardDataDir);
    int nTotal = 0;
    CRukStrAry names;
    if (!datadir.IsEmpty()) {
        CRukBBSFile log;
        int r = log.CountRecords(datadir.GetText(), true);
        if (r == -2)
            MessageKey(kMsgBusy);
        nTotal = r < 0 ? 0 : r;
        CRukString old = CRukStrPath::Normalize(datadir.GetText()) + "/old/";
        if (CRukDir::GetDirNameList(names, old.GetText(), false) < 0)
            go.m_log.Trace("-- %s cannot be listed", old.GetText());
        names.Sort(0);
    }
    CRukString select = BuildSelect("sel_id", names, form.Value("sel_id"), "o_sel1", s_szNoOldLogs);
    CRukString select2 =
        BuildSelect("sel_id2", names, form.Value("sel_id2"), "o_sel2", s_szNoOldLogs);
    CRukTagList tags = {{"%TOTAL%", CRukString(nTotal)},
                        {"%SELECT_LOG%", select, false, true},
                        {"%SELECT_LOG2%", select2, false, true}};
    if (!m_strAskOldLog.IsEmpty()) {
        tags.push_back({"%ASK_TEXT%", CatalogueLine(kMsgAskRemoveOldLog, {{"%ID%", m_strAskOldLog}}),
                        false, true});
        tags.push_back({"%ASK_LOG%", m_strAskOldLog});
    }
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// Old logs

// Runs one old-log operation under the board lock after checking the
// names. Without the lock nothing is moved: a lock file that cannot be
// made ends the request with kMsgDataDirNoLock, a busy one with kMsgBusy.
void CRukBBSFormConf::SubmitKako(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = form.Value("mode");
    m_strDataDir = CRukSettingKeys::Text(m_cfBBS, kBoardDataDir);
    CRukString datadir = CRukStrPath::Normalize(m_strDataDir.GetText());
    if (datadir.IsEmpty())
        MessageKey(kMsgNoDataDir);

    CRukFlock lock;
    int r = lock.Lock((datadir + "/" + s_pLockName).GetText());
    if (r == -1)
        MessageKey(kMsgDataDirNoLock);
    if (r != 0)
        MessageKey(kMsgBusy);
    for (const char* pField : {"kako_id", "sel_id", "sel_id2"}) {
        CRukString value = form.Value(pField);
        if (!value.IsEmpty() && !IsSafeName(value.GetText()))
            MessageKey(kMsgBadName);
    }

    CRukString old = datadir + "/old/";
    CRukString opt = form.Value("opt");
    if (opt == "new") {
        KakoNew(form, datadir, old);
    } else {
        static const struct {
            const char* pOpt;
            void (CRukBBSFormConf::*pOp)(CRukForm&, const CRukString&);
        } rgOps[] = {
            {"div", &CRukBBSFormConf::KakoDiv},
            {"mrg", &CRukBBSFormConf::KakoMerge},
            {"del", &CRukBBSFormConf::KakoDel},
            {"ren", &CRukBBSFormConf::KakoRename},
        };
        bool bDone = false;
        for (const auto& op : rgOps) {
            if (opt == op.pOpt) {
                (this->*op.pOp)(form, old);
                bDone = true;
                break;
            }
        }
        if (!bDone)
            MessageKey(kMsgNoOldLogOperation);
    }
    (void)lock.Unlock();
}

// The old log the form chose (sel_id), or the end of the request.
CRukString CRukBBSFormConf::RequireChosenLog(const CRukForm& form)
{
    CRukString sel = form.Value("sel_id");
    if (sel.IsEmpty())
        MessageKey(kMsgNoOldLogChosen);
    return sel;
}

// The name the form gives a new old log (kako_id), or the end of the
// request when there is none or an old log of that name is in strOld.
CRukString CRukBBSFormConf::RequireNewLogName(const CRukForm& form, const CRukString& strOld)
{
    CRukString id = form.Value("kako_id");
    if (id.IsEmpty())
        MessageKey(kMsgNoOldLogName);
    if (Exists(strOld + id))
        MessageKey(kMsgOldLogExists);
    return id;
}

// Archives the threads beyond the board's first page as a new old log.
void CRukBBSFormConf::KakoNew(CRukForm& form, const CRukString& strDataDir,
                              const CRukString& strOld)
{
    CRukString id = RequireNewLogName(form, strOld);
    CRukString target = strOld + id;
    int nPage = CRukSettingKeys::Number(m_cfBBS, kBoardThreadsPerPage);
    if (MoveThreads(strDataDir, nPage < 1 ? 1 : nPage, 0, target, strOld))
        Notice(kMsgOldLogMade, {{"%ID%", id}});
    else
        Notice(kMsgNoThreadsToMove);
}

// Splits an old log: its first half of threads moves to a new old log.
void CRukBBSFormConf::KakoDiv(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = RequireChosenLog(form);
    CRukString id = RequireNewLogName(form, strOld);
    CRukString target = strOld + id;
    if (MoveThreads(strOld + sel, 0, 2, target, CRukString()))
        Notice(kMsgOldLogSplit, {{"%ID%", sel}, {"%ID2%", id}});
    else
        Notice(kMsgNoThreadsToMove);
}

// The names that are subdirectories of strDir (attachment directories), in
// the order given: one reading of the directory (whose entries mostly tell
// their type) instead of a look-up per name. An empty name (the directory
// itself), "." and ".." are never one, nor a file.
static CRukStrAry PresentIn(const CRukStrAry& names, const CRukString& strDir)
{
    CRukStrAry present;
    DIR* pDir = opendir(strDir.GetText());
    if (!pDir)
        return present;
    std::unordered_map<std::string, bool> there;  // name -> known to be a directory
    while (struct dirent* pEntry = readdir(pDir))
        if (pEntry->d_type == DT_DIR || pEntry->d_type == DT_UNKNOWN)
            there.emplace(pEntry->d_name, pEntry->d_type == DT_DIR);
    closedir(pDir);
    for (const CRukString& name : names) {
        if (name.IsEmpty() || name == "." || name == "..")
            continue;
        auto it = there.find(name.GetText());
        if (it != there.end() && (it->second || IsDirectory(strDir + "/" + name)))
            present.Add(name);
    }
    return present;
}

// Moves threads with their attachment directories from the log strSrc
// into the new old log strDst (creating strMakeOld first when given). With
// nHalf > 0 the first 1/nHalf of the threads moves; otherwise the threads
// after the first nSkip.
// Nothing is left half done: when a step fails, the earlier ones are
// undone and the request ends with kMsgBusy. False when there was nothing
// to move.
bool CRukBBSFormConf::MoveThreads(const CRukString& strSrc, int nSkip, int nHalf,
                                  const CRukString& strDst, const CRukString& strMakeOld)
{
    CRukBBSFile log;
    bool bMadeOld = false, bMadeDst = false;
    CRukStrAry done;
    // The directories are made and the attachment directories moved once
    // the store knows what moves, before it writes either message file.
    auto prepare = [&](const CRukStrAry& roots) {
        for (int i = 0; i < roots.GetSize(); i++)
            go.m_log.Trace("DELETE[%d] %s", i, roots[i].GetText());
        CRukStrAry dirs = PresentIn(roots, CRukStrPath::Normalize(strSrc.GetText()));
        bMadeOld = !strMakeOld.IsEmpty() && MakeDir(strMakeOld);
        bMadeDst = MakeDir(strDst);
        return bMadeDst && MoveAttachDirs(dirs, strSrc, strDst, done);
    };
    CRukString target = log.CreateFullPath(strDst.GetText());
    int r = log.MoveThreads(strSrc.GetText(), nSkip, nHalf, target.GetText(), prepare);
    if (r >= 0)
        return r > 0;
    RestoreAttachDirs(done, strSrc, strDst);
    if (bMadeDst && rmdir(strDst.GetText()) != 0)
        go.m_log.Trace("-- rmdir(%s) failed", strDst.GetText());
    if (bMadeOld && rmdir(strMakeOld.GetText()) != 0)
        go.m_log.Trace("-- rmdir(%s) failed", strMakeOld.GetText());
    MessageKey(kMsgBusy);
}

// Merges the old log sel_id into sel_id2 and removes sel_id.
void CRukBBSFormConf::KakoMerge(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = form.Value("sel_id");
    CRukString sel2 = form.Value("sel_id2");
    if (sel.IsEmpty() || sel2.IsEmpty())
        MessageKey(kMsgNoOldLogChosen);
    if (sel == sel2)
        return;
    CRukString src = strOld + sel;
    CRukString dst = strOld + sel2;
    if (!Exists(dst))
        MessageKey(kMsgNoOldLogChosen);

    // Attachment directories of the source; one that the target already
    // has would be lost, so the merge is refused.
    CRukStrAry done;
    bool bClash = false;
    auto prepare = [&](const CRukStrAry& ids) {
        CRukStrAry dirs = PresentIn(ids, src);
        CRukBBSFile paths;
        for (const CRukString& id : dirs)
            bClash = bClash || Exists(paths.CreateAttachPath(dst.GetText(), id.GetText()));
        return !bClash && MoveAttachDirs(dirs, src, dst, done);
    };
    CRukBBSFile into;
    int r = into.MergeLogs(src.GetText(), dst.GetText(), prepare);
    if (r < 0) {
        RestoreAttachDirs(done, src, dst);
        MessageKey(kMsgBusy);
    }
    // The merged log is complete; a source that stays (in part) is
    // reported, its messages are then in both logs.
    if (r > 0 && !RemoveTree(src))
        MessageKey(kMsgBusy);
    Notice(kMsgOldLogMerged, {{"%ID%", sel}, {"%ID2%", sel2}});
}

// Deletes an old log with everything in it once the form confirms it;
// before, the page asks.
void CRukBBSFormConf::KakoDel(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = form.Value("sel_id");
    if (sel.IsEmpty() || !IsDirectory(strOld + sel))
        MessageKey(kMsgNoOldLogChosen);
    if (form.Value("confirm") != "1") {
        m_strAskOldLog = sel;
        return;
    }
    if (!RemoveTree(strOld + sel))
        MessageKey(kMsgBusy);
    Notice(kMsgOldLogRemoved, {{"%ID%", sel}});
}

// Renames an old log.
void CRukBBSFormConf::KakoRename(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = RequireChosenLog(form);
    CRukString id = RequireNewLogName(form, strOld);
    CRukString target = strOld + id;
    if (rename((strOld + sel).GetText(), target.GetText()) != 0)
        MessageKey(errno == ENOENT ? kMsgNoOldLogChosen : kMsgBusy);
    Notice(kMsgOldLogRenamed, {{"%ID%", sel}, {"%ID2%", id}});
}
