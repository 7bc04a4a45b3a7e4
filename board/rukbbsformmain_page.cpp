// CRukBBSFormMain: page assembly. Reload builds every ordinary board page
// (a page of threads, the form for a new post, a reply or an edit with the
// thread it concerns); the board and search pages share the cutting of
// the board template, the page selector, the header and footer and the
// writing of the page.
#include "rukbbsformmain.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "rukbbsformmain_shared.h"
#include "rukcrypt.h"
#include "rukglobal.h"

// Labels of the page selector, counted from 1 as people count pages: the
// newest page says that it is the newest.
static const char* const s_pPageLabel = "\x83\x79\x81\x5b\x83\x57\x96\xda";  // ページ目 (after the number)
static const char* const s_pLatestMark = "\x81\x69\x8d\xc5\x90\x56\x81\x6a";  // （最新）

// The parts of a page title.
static const char* const s_pTitleJoin = " - ";
static const char* const s_pOldLogOpen = "\x89\xdf\x8b\x8e\x83\x8d\x83\x4f\x81\x75";  // 過去ログ「
static const char* const s_pOldLogClose = "\x81\x76";  // 」

// The page selector: one option per page (a large board on a phone has
// thousands, so each is put together from its pieces).
static CRukString PageSelect(int nPages, int nPage)
{
    CRukString select = "<select name=sel_page>\n";
    select.Reserve(std::min(nPages, 1 << 24) * 64 + 64);
    for (int i = 0; i < nPages; i++) {
        char szValue[16], szNumber[16];
        char* pValue = std::to_chars(szValue, szValue + sizeof(szValue), i).ptr;
        char* pNumber = std::to_chars(szNumber, szNumber + sizeof(szNumber), i + 1).ptr;
        select += "<option value=\"";
        select.Append(szValue, static_cast<int>(pValue - szValue));
        select += i == nPage ? "\" selected>" : "\" >";
        select.Append(szNumber, static_cast<int>(pNumber - szNumber));
        select += s_pPageLabel;
        if (i == 0)
            select += s_pLatestMark;
        select += "</option>\n";
    }
    select += "</select>\n";
    return select;
}

CRukString CRukBBSFormMain::CreateNavigation(CRukCookie&, CRukForm&, const CRukString& block)
{
    CRukTagList tags = {
        {"%HOME%", Setting(kBoardHomeUrl)},
        {"%FIND_WORD%", m_strFindWord, true},
        {"%PAGE%", Decimal(m_nPage), true},
        {"%STYLE%", Decimal(m_nStyle), true},
        {"%SELECT_PAGE%", PageSelect(m_nPageNum, m_nPage), false, true},
    };
    return FillWithCommon(block, tags);
}

// The heading of an old log's pages: the catalogue's text kMsgShowingOldLog with the
// log's id.
static CRukString OldLogHeading(CRukBBSFormMain& bbs)
{
    CRukString heading = CRukBBSFormBase::FillTags(bbs.m_cfMessage.Value(kMsgShowingOldLog),
                                                   {{"%ID%", bbs.m_strOldID, true}});
    return CRukString("<h3>") + s_pFiller + heading + "</h3>";
}

// Fills the header and footer tags of the board and search pages:
// the board's header (below the old-log heading) and footer, which are the
// site administrator's markup, and the list of old logs (its block left
// out when the board has none).
static void FillHeaderFooter(CRukBBSFormMain& bbs, CRukString& page)
{
    CRukString header = bbs.Setting(kBoardHeader);
    if (!bbs.m_strOldID.IsEmpty())
        header.Insert(OldLogHeading(bbs));
    bool bLogs = bbs.OldLogIds().GetSize() > 0;
    KeepBlock(page, "OLD_LOGS", bLogs);
    CRukTagList tags = {
        {"%USER_HEADER%", header, false, true},
        {"%USER_FOOTER%", bbs.Setting(kBoardFooter), false, true},
    };
    if (bLogs)
        tags.push_back({"%OLD_LOGS%", bbs.OldLogList(), true, true});
    page = bbs.FillWithCommon(page, tags);
}

CRukBBSFormMain::SBoardPage CRukBBSFormMain::CutBoardPage(CRukCookie& cookie, CRukForm& form)
{
    SBoardPage b;
    b.page = BoardTemplate();
    GetTemplateBlock(b.page, b.inputPat, b.navPat, b.tableParent, b.tableChild, b.titleParent,
                     b.titleChild, b.foundWord, b.foundResult);
    b.navigation = CreateNavigation(cookie, form, b.navPat);
    return b;
}

void CRukBBSFormMain::WriteBoardPage(SBoardPage& b)
{
    if (m_bbsFile.HasReadFailed())
        MessageKey(kMsgBusy);  // the page would show a message without its text
    FillHeaderFooter(*this, b.page);
    PutRealizeBlock(b.page, b.inputForm, b.navigation, b.dataTable, b.dataTitle);
    PutCacheLines();
    WritePage(b.page);
}

void CRukBBSFormMain::SetPageTitle(const char* pWhat)
{
    CRukString title;
    if (pWhat && *pWhat)
        title = CRukString(pWhat) + s_pTitleJoin;
    if (!m_strOldID.IsEmpty())
        title += CRukString(s_pOldLogOpen) + m_strOldID + s_pOldLogClose + s_pTitleJoin;
    m_strPageTitle = title + m_strTitle;
}

// What an ordinary page shows.
enum EPageMode {
    kThreads,    // the board's threads
    kNewForm,    // the form for a new thread
    kEditForm,   // the edit form of a stored message: it names a message and is no reply
    kReplyForm,  // the reply form
};

static EPageMode PageMode(CRukForm& form)
{
    if (form.Data("submit_res.x"))
        return kReplyForm;
    if (!form.Value("id").IsEmpty())
        return kEditForm;
    return form.Value("mode") == "new" ? kNewForm : kThreads;
}

// The edit form opens with the message's password or the board's (checked
// only when the author's fails); a client that keeps guessing is held off
// before any hash, and a failed check counts against it. A message that is
// not stored (any more) opens nothing.
static void CheckEditPassword(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData* pStored)
{
    CRukString passwd = form.Value("passwd");
    if (passwd.IsEmpty())
        bbs.MessageKey(kMsgNoPassword);
    if (!pStored)
        bbs.MessageKey(kMsgMessageGone);
    bbs.RequirePasswordTries();
    if (CRukCrypt::Verify(passwd.GetText(), pStored->passwd.GetText()) ||
        CRukCrypt::Verify(passwd.GetText(), bbs.Setting(kBoardPasswd).GetText()))
        return;
    bbs.RecordPasswordFailure();
    bbs.MessageKey(kMsgWrongPassword);
}

// The threads a page shows at most: the board's setting for the view, or
// on a phone the phone table's, at least 1.
static int ThreadsPerPage(CRukBBSFormMain& bbs)
{
    int nPer = bbs.m_nKeitai
                   ? CRukSettingKeys::ToNumber(bbs.m_cfKeitai.Value(kKeitaiPerPage).GetText())
                   : bbs.SettingNumber(bbs.m_nStyle == 1 ? kBoardTitlesPerPage
                                                         : kBoardThreadsPerPage);
    return nPer > 0 ? nPer : 1;
}

// Sets the number of pages and the page shown (as the form names it, or as
// the paging buttons move it) for a board of n messages (of which a phone
// shows every one, others the threads), nPer to a page.
void CRukBBSFormMain::ChoosePage(CRukForm& form, int n, int nPer)
{
    m_nPage = atoi(form.Value("page").GetText());
    int nItems = m_nKeitai ? (n > 0 ? n : 0) : m_bbsFile.GetPPNum();
    m_nPageNum = (nItems + nPer - 1) / nPer;
    if (form.Data("submit_jump.x")) {
        m_nPage = atoi(form.Value("sel_page").GetText());
    } else if (form.Data("submit_prev.x")) {
        if (m_nPage < m_nPageNum - 1)
            m_nPage++;
    } else if (form.Data("submit_next.x")) {
        if (m_nPage > 0)
            m_nPage--;
    }
    if (m_nPage < 0)
        m_nPage = 0;
}

// The messages the request names, as the page's form uses them: a reply
// answers the message named (in its thread), an edit opens it when the
// password allows.
CRukBBSFormMain::SPageIds CRukBBSFormMain::ReadPageIds(CRukForm& form, int nMode)
{
    SPageIds ids;
    ids.id = form.Value("id");
    ids.pid = form.Value("pid");
    ids.ppid = form.Value("ppid");
    if (const CRukBBSData* p = m_bbsFile.GetData(ids.id.GetText()))
        ids.record = *p;
    if (m_bbsFile.HasReadFailed())
        MessageKey(kMsgBusy);  // a message could not be read whole
    if (nMode == kReplyForm) {
        if (ids.ppid.IsEmpty())
            ids.ppid = ids.id;
        ids.pid = ids.id;
        ids.id.Free();
    } else if (nMode == kEditForm) {
        CheckEditPassword(*this, form, m_bbsFile.GetData(ids.id.GetText()));
    }
    return ids;
}

CRukBBSFormMain::SOpenThread CRukBBSFormMain::OpenThread(int nMode, int n,
                                                         const CRukString& id,
                                                         const CRukString& ppid)
{
    SOpenThread open;
    const CRukBBSData* p = nullptr;
    if (nMode == kThreads && !m_nKeitai && m_nStyle == 1 && !ppid.IsEmpty()) {
        p = n > 0 ? m_bbsFile.GetData(ppid.GetText()) : nullptr;
        open.bGone = !p;
    } else if (nMode == kEditForm || nMode == kReplyForm) {
        p = m_bbsFile.GetData((ppid.IsEmpty() ? id : ppid).GetText());
    }
    open.bRoot = p != nullptr;
    if (p)
        open.root = *p;
    return open;
}

// The threads of a page of the board: on a phone its messages one after
// another in full; in the title view the trees of title lines, after the
// thread it opens (in full, its anchors leading to the messages) and the
// navigation; otherwise the threads in full.
void CRukBBSFormMain::ListThreads(CRukCookie& cookie, CRukForm& form, SBoardPage& b, int nPer,
                                  const CRukString& ppid, const SOpenThread& open)
{
    CRukBBSDataAry list;
    CRukString& titles = b.dataTitle;
    if (m_nKeitai) {
        if (m_bbsFile.GetDataSequential(list, nPer, PageSkip(m_nPage, nPer)) < 0)
            MessageKey(kMsgBusy);
        for (int i = 0; i < list.GetSize(); i++)
            titles += CreateTable1(cookie, form, b.tableParent, list[i]);
        return;
    }
    if (m_bbsFile.GetDataParents(list, nPer, PageSkip(m_nPage, nPer)) <= 0)
        return;
    go.m_log.Trace(" --- Parent = %d", list.GetSize());
    if (m_nStyle != 1) {
        for (int i = 0; i < list.GetSize(); i++)
            titles += CreateTableThread(cookie, form, b.tableParent, b.tableChild, list[i]);
        return;
    }
    if (!ppid.IsEmpty()) {
        CRukString openParent = b.tableParent, openChild = b.tableChild;
        openParent.Replace("#b", "#m", true);
        openChild.Replace("#b", "#m", true);
        if (open.bRoot)
            b.dataTable = CreateTableThread(cookie, form, openParent, openChild, open.root);
        titles += b.navigation;
    }
    for (int i = 0; i < list.GetSize(); i++)
        titles += CreateTitleThread(cookie, form, b.titleParent, b.titleChild, list[i]);
}

// The input form of a page, and with a reply or an edit the thread it
// concerns. The posting password has a field of its own for new messages
// of a board that has one; an edit needs the message's password only.
void CRukBBSFormMain::ShowForm(CRukCookie& cookie, CRukForm& form, SBoardPage& b, int nMode,
                               const SPageIds& ids, const SOpenThread& open)
{
    b.inputForm = CreateInputForm(cookie, form, b.inputPat, ids.record, ids.ppid, ids.pid, ids.id);
    KeepBlock(b.inputForm, "WRITE_PASSWD",
              nMode != kEditForm && !Setting(kBoardWritePasswd).IsEmpty());
    if ((nMode == kEditForm || nMode == kReplyForm) && open.bRoot)
        b.dataTable = CreateTableThread(cookie, form, b.tableParent, b.tableChild, open.root);
}

void CRukBBSFormMain::Reload(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Reload START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    EPageMode nMode = PageMode(form);
    // Opening a message for editing checks its password: like every
    // action that does, it is taken only as a POST from the board's pages.
    if (nMode == kEditForm)
        RequireSameOriginPost();
    // An old log offers no form.
    if (nMode != kThreads)
        RequireWritableLog();
    // A page shows a few dozen messages of the board: all are loaded by
    // their keys, and the shown ones read whole as they are handed out.
    int n = m_bLoaded ? m_bbsFile.m_aryData.GetSize()
                      : m_bbsFile.ReadPageView(m_strDataDir.GetText(), true);
    if (n == -2)
        MessageKey(kMsgBusy);
    m_nStyle = atoi(form.Value("style").GetText());
    int nPer = ThreadsPerPage(*this);
    ChoosePage(form, n, nPer);

    SPageIds ids = ReadPageIds(form, nMode);
    go.m_log.Trace("mode(%d) nDataNum(%d)", nMode, n);

    SOpenThread open = OpenThread(nMode, n, ids.id, ids.ppid);
    SetPageTitle(open.bRoot ? open.root.title.GetText() : nullptr);
    SBoardPage b = CutBoardPage(cookie, form);
    if (nMode == kThreads && n > 0)
        ListThreads(cookie, form, b, nPer, ids.ppid, open);
    else if (nMode != kThreads || m_strOldID.IsEmpty())
        ShowForm(cookie, form, b, nMode, ids, open);  // (an empty board opens with the form)
    if (open.bGone)
        b.dataTable = ThreadGoneNotice(ids.ppid);
    WriteBoardPage(b);
    go.m_log.Trace("<< CRukBBSFormMain::Reload END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
