// CRukBBSFormConf: the login page, the administrator's login and the
// change of the administrator's password.
#include "rukbbsformconf.h"

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"

// ---------------------------------------------------------------------------
// Pages

// The login page; after a password change it carries the new password.
void CRukBBSFormConf::LoginForm(CRukForm& form)
{
    CRukString page = GetTemplate((m_strConfDir + "templ_login.html").GetText());
    CRukString pw = form.Data("submit_passwd") ? EscapeHtml(form.Value("passwd2").GetText())
                                               : CRukString();
    TagList tags = {{"%PASSWD%", pw, false}, {"%PASSWD2%", "", false}};
    WritePage(FillTags(page, tags));
}

// ---------------------------------------------------------------------------
// Login and the administrator's password

// Stores a new administrator password, hashed, after checking the current
// one; a plain-text stored password (a first installation) matches as is.
void CRukBBSFormConf::SubmitPasswd(CRukForm& form)
{
    CRukString pw = form.Value("passwd");
    CRukString pw2 = form.Value("passwd2");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (pw2.IsEmpty())
        MessageKey("msg02");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfSystem.Value("admin").GetText()))
        MessageKey("msg03");
    m_cfSystem.SetAt("admin", HashNew(pw2).GetText());
    if (m_cfSystem.WriteFile(s_pSystemFile, true) < 0)
        MessageKey("msg90");
    LoginForm(form);
}

void CRukBBSFormConf::SubmitLogin(CRukForm& form)
{
    CRukString pw = form.Value("passwd");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfSystem.Value("admin").GetText()))
        MessageKey("msg03");
    ConfigSysForm(form, true);
}

