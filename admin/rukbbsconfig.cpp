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
#include "rukstrary.h"

static const char* const s_pProgram = "ruk-bbs.cgi";

int main()
{
    CRukBBSFormConf conf;
    CRukCookie cookie;
    CRukForm form;
    CRukStrAry bid(0, 10);

    CRukHtml::SetPrivate();
    int nCatalogue = conf.m_cfMessage.ReadFile("dat-message.dat", false);
    if (conf.m_cfSystem.ReadFile("dat-system.dat", true) == -2)
        conf.MessageKey("msg90");
    go.m_log.Initialize((CRukString(s_pProgram) + ".log").GetText());
    go.m_log.SetEnabled(atoi(conf.m_cfSystem.Value("opt_trace").GetText()));
    go.m_log.Trace("%s START =====================================================", s_pProgram);
    if (nCatalogue < 0)
        go.m_log.Trace("-- dat-message.dat cannot be read: every message text is empty");
    go.m_log.Trace("\n Default SkinDir(%s)\n Default SkinUrl(%s)\n Default DataDir(%s)\n Default "
                   "ConfDir(%s)",
                   conf.m_strSkinDir.GetText(), conf.m_strSkinUrl.GetText(),
                   conf.m_strDataDir.GetText(), conf.m_strConfDir.GetText());
    cookie.Decode(go.m_env.HTTP_COOKIE.GetText());
    int nFields = form.QueryString();
    if (form.IsBodyRefused())
        conf.MessageKey("msg24");

    // The board id names a settings file, so it must be a plain name.
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
        conf.MessageKey("msg11");
    }
    conf.ApplySystemSettings();

    go.m_log.Trace("-- %d fields", nFields);
    conf.Run(form, cookie);

    go.m_log.Trace("%s  END  =====================================================\n\n", s_pProgram);
    // The page is out; ending here rather than returning spares taking a
    // loaded board apart record by record, which the kernel does at once
    // when the process ends. exit() still flushes the output.
    exit(0);
}
