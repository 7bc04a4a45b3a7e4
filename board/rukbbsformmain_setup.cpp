// CRukBBSFormMain: what a request sets up before its action. The site's
// catalogue and system settings and the trace log; the request itself
// (cookies, fields, the board and old log it names); the board's settings
// and deny list; and, once the skin is chosen (rukbbsformmain_skin.cpp),
// the data directory and the board's values the views use.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"

static const char* const s_pProgram = "ruk-bbs.cgi";

// Request fields that name messages; they reach paths and pages, so they
// must be decimal digits.
static const char* const s_rgIdFields[] = {"id", "pid", "ppid"};

void CRukBBSFormMain::LoadSite()
{
    int nCatalogue = m_cfMessage.ReadFile("dat-message.dat", false);
    if (m_cfSystem.ReadFile("dat-system.dat", true) == -2)
        MessageKey(kMsgBusy);
    CRukString sendmail = Setting(kSysSendmail);
    sendmail.Trim();
    if (!sendmail.IsEmpty())
        go.m_strSendmail = sendmail;
    go.m_log.Initialize((CRukString(s_pProgram) + ".log").GetText());
    go.m_log.SetEnabled(SettingNumber(kSysTrace));
    go.m_log.Trace("%s START =====================================================", s_pProgram);
    if (nCatalogue < 0)
        go.m_log.Trace("-- dat-message.dat cannot be read: every message text is empty");
    go.m_log.Trace("\n Default SkinDir(%s)\n Default SkinUrl(%s)\n Default DataDir(%s)\n Default "
                   "ConfDir(%s)",
                   m_strSkinDir.GetText(), m_strSkinUrl.GetText(), m_strDataDir.GetText(),
                   m_strConfDir.GetText());
}

// The board and the old log the field "bid" names ("BOARD" or
// "BOARD=LOG"); each must be a safe name.
void CRukBBSFormMain::ReadBoardId(CRukForm& form)
{
    CRukStrAry bid(0, 10);
    bid.SetToken(form.Value("bid").GetText(), "=");
    if (bid.GetSize() >= 1)
        m_strBBSID = bid[0];
    if (bid.GetSize() >= 2)
        m_strOldID = bid[1];
    go.m_log.Trace("-- BBSID=[%s]", m_strBBSID.GetText());
    if (!m_strBBSID.IsEmpty() && !IsSafeName(m_strBBSID.GetText())) {
        m_strBBSID.Free();
        m_strOldID.Free();
        MessageKey(kMsgNoSuchBoard);
    }
    if (!m_strOldID.IsEmpty() && !IsSafeName(m_strOldID.GetText())) {
        m_strOldID.Free();
        MessageKey(kMsgNoOldLogChosen);
    }
}

void CRukBBSFormMain::ReadRequest(CRukCookie& cookie, CRukForm& form)
{
    cookie.Decode(go.m_env.HTTP_COOKIE.GetText());
    form.QueryString();
    if (form.IsBodyRefused())
        MessageKey(kMsgRequestRefused);
    for (const char* pField : s_rgIdFields)
        if (!IsDigits(form.Value(pField).GetText()))
            MessageKey(kMsgBadName);
    ReadBoardId(form);
}

bool CRukBBSFormMain::OpenBoard()
{
    go.m_env.GetEnv();
    ApplySystemSettings();
    if (m_strBBSID.IsEmpty())
        MessageText(kMsgNoBoard);
    CRukString boardConf = "data/" + m_strBBSID + ".conf";
    int r = m_cfBBS.ReadFile(boardConf.GetText(), true);
    // -1 is a missing board only when its file is missing: a lock file
    // that cannot be opened, or a settings file that cannot be read, is
    // a fault of the site, not a wrong address.
    if (r == -2 || (r == -1 && CRukFile::GetFileAttr(boardConf.GetText()) != -1))
        MessageKey(kMsgBusy);
    if (r == -1)
        MessageKey(kMsgNoSuchBoard);
    return AccessDenyCheck(Setting(kBoardDenyFile).GetText()) == 0;
}

// The board's data directory, or an old log's below it ("old/LOG/"), which
// must exist.
void CRukBBSFormMain::ChooseDataDir()
{
    m_strDataDir = Setting(kBoardDataDir);
    if (m_strOldID.IsEmpty() || m_strDataDir.IsEmpty())
        return;
    // (A data directory may be set without its final "/".)
    if (m_strDataDir.GetText()[m_strDataDir.GetLength() - 1] != '/')
        m_strDataDir += "/";
    m_strDataDir += "old/";
    m_strDataDir += m_strOldID;
    if (CRukFile::GetFileAttr(m_strDataDir.GetText()) == -1)
        MessageKey(kMsgNoOldLogChosen);
    m_strDataDir += "/";
}

void CRukBBSFormMain::ReadBoardValues(CRukForm& form)
{
    ChooseDataDir();
    if (m_strDataDir.IsEmpty() || Setting(kBoardTitle).IsEmpty())
        MessageText(kMsgBoardNotReady);
    m_strTitle = Setting(kBoardTitle);
    m_bbsFile.m_nMaxData = SettingNumber(kBoardLogMax);
    if (m_strOldID.IsEmpty()) {
        m_bbsFile.m_nDeleteMode = SettingNumber(kBoardLogDel);
        m_bbsFile.m_bArchive = SettingIsOne(kBoardLogArchive);
    }
    m_nStyle = atoi(form.Value("style").GetText());
    m_nPage = atoi(form.Value("page").GetText());
}
