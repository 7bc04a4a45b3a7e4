// CRukBBSFormMain: page assembly. Reload builds every ordinary board page
// (a page of threads, the form for a new post, a reply or an edit with the
// thread it concerns) and CreateNavigation fills the page selector.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukbbsformmain_shared.h"
#include "rukcrypt.h"
#include "rukglobal.h"

// Labels of the page selector, counted from 1 as people count pages: the
// newest page says that it is the newest.
static const char* const s_pPageLabel = "%d\x83\x79\x81\x5b\x83\x57\x96\xda";  // %dページ目
static const char* const s_pLatestMark = "\x81\x69\x8d\xc5\x90\x56\x81\x6a";  // （最新）

// The parts of a page title.
static const char* const s_pTitleJoin = " - ";
static const char* const s_pOldLogOpen = "\x89\xdf\x8b\x8e\x83\x8d\x83\x4f\x81\x75";  // 過去ログ「
static const char* const s_pOldLogClose = "\x81\x76";  // 」

CRukString CRukBBSFormMain::CreateNavigation(CRukCookie&, CRukForm&, const CRukString& block)
{
    CRukString text = block;
    Tag(text, "%HOME%", m_cfBBS.Value("home_url").GetText());
    Tag(text, "%FIND_WORD%", EscapeField(m_strFindWord).GetText(), true);
    Tag(text, "%PAGE%", Decimal(m_nPage).GetText(), true);
    Tag(text, "%STYLE%", Decimal(m_nStyle).GetText(), true);
    // One option per page: a large board on a phone has thousands, so the
    // list is joined in a buffer rather than by growing a string.
    CRukBuffer select;
    AddPiece(select, "<select name=sel_page>\n");
    for (int i = 0; i < m_nPageNum; i++) {
        CRukString label;
        label.Format(s_pPageLabel, i + 1);
        if (i == 0)
            label += s_pLatestMark;
        CRukString option;
        option.Format("<option value=\"%d\" %s>%s</option>\n", i, i == m_nPage ? "selected" : "",
                      label.GetText());
        AddPiece(select, option);
    }
    AddPiece(select, "</select>\n");
    Tag(text, "%SELECT_PAGE%", Joined(select).GetText());
    return text;
}

// Fills the header and footer tags shared by the board and search pages:
// the old-log heading, the board's header and footer, the board id, the
// list of old logs.
void FillHeaderFooter(CRukBBSFormMain& bbs, CRukString& page)
{
    CRukString header = bbs.m_cfBBS.Value("user_header");
    if (!bbs.m_strOldID.IsEmpty()) {
        CRukString heading = bbs.m_cfMessage.Value("msg54");
        heading.Replace("%ID%", bbs.m_strOldID.GetText(), true);
        CRukString h3;
        h3.Format("<h3>%s%s</h3>", s_pFiller, heading.GetText());
        header.Insert(h3);
    }
    Tag(page, "%USER_HEADER%", header.GetText());
    Tag(page, "%USER_FOOTER%", bbs.m_cfBBS.Value("user_footer").GetText());
    Tag(page, "%BID%", bbs.m_strBBSID.GetText(), true);
    bbs.FillOldLogs(page);
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

// True when the request opens a stored message in the edit form: it names
// a message and is no reply.
static bool IsEditFormRequest(CRukForm& form)
{
    return !form.Data("submit_res.x") && !form.Value("id").IsEmpty();
}

// The edit form opens with the message's password or the board's (checked
// only when the author's fails); a client that keeps guessing is held off
// before any hash, and a failed check counts against it. A message that is
// not stored (any more) opens nothing.
static void CheckEditPassword(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData* pStored)
{
    CRukString passwd = form.Value("passwd");
    if (passwd.IsEmpty())
        bbs.MessageKey("msg01");
    if (!pStored)
        bbs.MessageKey("msg66");
    bbs.RequirePasswordTries();
    if (CRukCrypt::Verify(passwd.GetText(), pStored->passwd.GetText()) ||
        CRukCrypt::Verify(passwd.GetText(), bbs.m_cfBBS.Value("passwd").GetText()))
        return;
    bbs.RecordPasswordFailure();
    bbs.MessageKey("msg03");
}

// What an ordinary page shows: 0 the board's threads, 1 the form for a
// new thread, 2 the edit form of a stored message, 3 the reply form.
static int PageMode(CRukForm& form)
{
    if (form.Data("submit_res.x"))
        return 3;
    if (IsEditFormRequest(form))
        return 2;
    return form.Value("mode") == "new" ? 1 : 0;
}

void CRukBBSFormMain::Reload(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Reload START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    int nMode = PageMode(form);
    // Opening a message for editing checks its password: like every
    // action that does, it is taken only as a POST from the board's pages.
    if (nMode == 2)
        RequireSameOriginPost();
    // An old log offers no form.
    if (nMode != 0)
        RequireWritableLog();
    // A page shows a few dozen messages of the board: all are loaded by
    // their keys, and the shown ones read whole as they are handed out.
    int n = m_bLoaded ? m_bbsFile.m_aryData.GetSize()
                      : m_bbsFile.ReadPageKeys(m_strDataDir.GetText(), true);
    if (n == -2)
        MessageKey("msg90");
    m_nStyle = atoi(form.Value("style").GetText());
    m_nPage = atoi(form.Value("page").GetText());

    int nPer = atoi(m_cfBBS.Value(m_nStyle == 1 ? "page_ppnum2" : "page_ppnum").GetText());
    if (nPer <= 0)
        nPer = 1;
    if (m_nKeitai) {
        nPer = atoi(m_cfKeitai.Value("page_ppnum").GetText());
        if (nPer <= 0)
            nPer = 1;
        m_nPageNum = ((n > 0 ? n : 0) + nPer - 1) / nPer;
    } else {
        m_nPageNum = (m_bbsFile.GetPPNum() + nPer - 1) / nPer;
    }
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

    CRukString id = form.Value("id");
    CRukString pid = form.Value("pid");
    CRukString ppid = form.Value("ppid");
    CRukBBSData record;
    if (const CRukBBSData* p = m_bbsFile.GetData(id.GetText()))
        record = *p;
    if (m_bbsFile.HasReadFailed())
        MessageKey("msg90");  // a message could not be read whole
    if (nMode == 3) {
        if (ppid.IsEmpty())
            ppid = id;
        pid = id;
        id.Free();
    } else if (nMode == 2) {
        CheckEditPassword(*this, form, m_bbsFile.GetData(id.GetText()));
    }
    go.m_log.Trace("mode(%d) nDataNum(%d)", nMode, n);

    // The thread the page opens: the one named in the title view, or the
    // one a reply or an edit concerns. One named that is not on the board
    // (pruned, archived, deleted) gets a notice instead.
    CRukBBSData root;
    bool bRoot = false;
    bool bGone = false;
    if (nMode == 0 && !m_nKeitai && m_nStyle == 1 && !ppid.IsEmpty()) {
        const CRukBBSData* p = n > 0 ? m_bbsFile.GetData(ppid.GetText()) : nullptr;
        bRoot = p != nullptr;
        bGone = !bRoot;
        if (p)
            root = *p;
    } else if (nMode == 2 || nMode == 3) {
        if (const CRukBBSData* p = m_bbsFile.GetData((ppid.IsEmpty() ? id : ppid).GetText())) {
            root = *p;
            bRoot = true;
        }
    }
    SetPageTitle(bRoot ? root.title.GetText() : nullptr);

    CRukString page = BoardTemplate();
    CRukString inputPat, navPat, tableParent, tableChild, titleParent, titleChild, foundWord,
        foundResult;
    GetTemplateBlock(page, inputPat, navPat, tableParent, tableChild, titleParent, titleChild,
                     foundWord, foundResult);

    CRukString navigation = CreateNavigation(cookie, form, navPat);
    CRukString inputForm, dataTable, dataTitle;
    if (nMode == 0 && n > 0) {
        CRukBBSDataAry list;
        CRukBuffer titles;
        if (m_nKeitai) {
            if (m_bbsFile.GetDataSequential(list, nPer, PageSkip(m_nPage, nPer)) < 0)
                MessageKey("msg90");
            for (int i = 0; i < list.GetSize(); i++)
                AddPiece(titles, CreateTable1(cookie, form, tableParent, list[i]));
        } else if (m_bbsFile.GetDataParents(list, nPer, PageSkip(m_nPage, nPer)) > 0) {
            go.m_log.Trace(" --- Parent = %d", list.GetSize());
            if (m_nStyle == 1) {
                if (!ppid.IsEmpty()) {
                    CRukString openParent = tableParent, openChild = tableChild;
                    openParent.Replace("#b", "#m", true);
                    openChild.Replace("#b", "#m", true);
                    if (bRoot)
                        dataTable = CreateTableThread(cookie, form, openParent, openChild, root);
                    AddPiece(titles, navigation);
                }
                for (int i = 0; i < list.GetSize(); i++)
                    AddPiece(titles,
                             CreateTitleThread(cookie, form, titleParent, titleChild, list[i]));
            } else {
                for (int i = 0; i < list.GetSize(); i++)
                    AddPiece(titles,
                             CreateTableThread(cookie, form, tableParent, tableChild, list[i]));
            }
        }
        dataTitle = Joined(titles);
    } else if (nMode != 0 || m_strOldID.IsEmpty()) {
        // (An empty board opens with the form for its first thread.)
        inputForm = CreateInputForm(cookie, form, inputPat, record, ppid, pid, id);
        // The posting password has a field of its own for new messages of
        // a board that has one; an edit needs the message's password only.
        KeepBlock(inputForm, "WRITE_PASSWD",
                  nMode != 2 && !m_cfBBS.Value("write_passwd").IsEmpty());
        if ((nMode == 2 || nMode == 3) && bRoot)
            dataTable = CreateTableThread(cookie, form, tableParent, tableChild, root);
    }
    if (bGone)
        dataTable = ThreadGoneNotice(ppid);
    if (m_bbsFile.HasReadFailed())
        MessageKey("msg90");  // the page would show a message without its text
    FillHeaderFooter(*this, page);
    PutRealizeBlock(page, inputForm, navigation, dataTable, dataTitle);
    WritePage(page);
    go.m_log.Trace("<< CRukBBSFormMain::Reload END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
