// Entry of the administration program: loads the catalogue and the system
// settings, decodes the request and runs it (one action, chosen by the
// first submit button present, or one page). Every response is private:
// never framed by another site, never kept by a cache.
#include <cstdlib>

#include "rukbbsformconf.h"
#include "rukcookie.h"
#include "rukform.h"
#include "rukglobal.h"
#include "rukhtml.h"
#include "rukmessagekeys.h"
#include "ruksettingkeys.h"
#include "rukstrary.h"

static const char* const s_pProgram = "ruk-bbs.cgi";

// Reads the catalogue and the system settings and starts the trace log
// (when the system settings ask for it). A busy settings file ends the
// request; a missing catalogue leaves every text empty.
static void LoadSettings(CRukBBSFormConf& conf)
{
    int nCatalogue = conf.m_cfMessage.ReadFile("dat-message.dat", false);
    if (conf.m_cfSystem.ReadFile("dat-system.dat", true) == -2)
        conf.MessageKey(kMsgBusy);
    go.m_log.Initialize((CRukString(s_pProgram) + ".log").GetText());
    go.m_log.SetEnabled(CRukSettingKeys::Number(conf.m_cfSystem, kSysTrace));
    go.m_log.Trace("%s START =====================================================", s_pProgram);
    if (nCatalogue < 0)
        go.m_log.Trace("-- dat-message.dat cannot be read: every message text is empty");
    go.m_log.Trace("\n Default SkinDir(%s)\n Default SkinUrl(%s)\n Default DataDir(%s)\n Default "
                   "ConfDir(%s)",
                   conf.m_strSkinDir.GetText(), conf.m_strSkinUrl.GetText(),
                   conf.m_strDataDir.GetText(), conf.m_strConfDir.GetText());
}

// Decodes the cookies and the form: the number of fields. A body the form
// refused ends the request.
static int ReadRequest(CRukBBSFormConf& conf, CRukCookie& cookie, CRukForm& form)
{
    cookie.Decode(go.m_env.HTTP_COOKIE.GetText());
    int nFields = form.QueryString();
    if (form.IsBodyRefused())
        conf.MessageKey(kMsgRequestRefused);
    return nFields;
}

// Takes the board id and old-log id of the form field "bid" ("BOARD=LOG").
// They name settings files and directories: a name that is not plain
// names no board.
static void TakeBoardId(CRukBBSFormConf& conf, const CRukForm& form)
{
    CRukStrAry bid(0, 10);
    bid.SetToken(form.Value("bid").GetText(), "=");
    if (bid.GetSize() >= 1)
        conf.m_strBBSID = bid[0];
    if (bid.GetSize() >= 2)
        conf.m_strOldID = bid[1];
    go.m_log.Trace("-- BBSID=[%s]", conf.m_strBBSID.GetText());
    if ((!conf.m_strBBSID.IsEmpty() && !CRukBBSFormBase::IsSafeName(conf.m_strBBSID.GetText())) ||
        (!conf.m_strOldID.IsEmpty() && !CRukBBSFormBase::IsSafeName(conf.m_strOldID.GetText()))) {
        conf.m_strBBSID.Free();
        conf.m_strOldID.Free();
        conf.MessageKey(kMsgNoSuchBoard);
    }
}

int main()
{
    CRukBBSFormConf conf;
    CRukCookie cookie;
    CRukForm form;

    CRukHtml::SetPrivate();
    LoadSettings(conf);
    int nFields = ReadRequest(conf, cookie, form);
    TakeBoardId(conf, form);
    conf.ApplySystemSettings();
    go.m_log.Trace("-- %d fields", nFields);
    conf.Run(form, cookie);

    go.m_log.Trace("%s  END  =====================================================\n\n", s_pProgram);
    // The page is out; ending here rather than returning spares taking a
    // loaded board apart record by record, which the kernel does at once
    // when the process ends. exit() still flushes the output.
    exit(0);
}
