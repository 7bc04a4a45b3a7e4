// CRukBBSFormConf: what a request asks for, in one table. An action is
// named by its submit button and must come as a POST from the site's own
// pages with the session's form token (the login, before there is a
// session, with the login page's token); once it has run, the page of the
// table follows. Without a button the request asks for a page: a board's
// page by its mode, when the session may open the board, or the session's
// own first page; every other request gets the login page.
#include "rukbbsformconf.h"

#include "rukbbsformconf_shared.h"

// How a row is asked for: by a submit button in a POST, or by the mode of
// a board's page.
enum Method { POST, GET };

struct CRukBBSFormConf::SAction {
    const char* pName;  // the submit button, or the mode of a board's page ("": any other)
    Method nMethod;
    Access nAccess;     // who may run it or see it
    void (CRukBBSFormConf::*pAction)(CRukForm&);  // nullptr: the page alone
    Page nThen;         // the page that follows
};

typedef CRukBBSFormConf C;

// The actions in the order their buttons are tried, then the board pages.
const CRukBBSFormConf::SAction CRukBBSFormConf::s_rgActions[] = {
    {"submit_passwd", POST, ACCESS_ANY, &C::SubmitPasswd, PAGE_HOME},
    {"submit_login", POST, ACCESS_LOGIN, &C::SubmitLogin, PAGE_HOME},
    {"submit_logout", POST, ACCESS_ANY, &C::SubmitLogout, PAGE_LOGIN},
    {"submit_add", POST, ACCESS_ADMIN, &C::SubmitAdd, PAGE_SYSTEM},
    {"submit_del", POST, ACCESS_ADMIN, &C::SubmitDel, PAGE_SYSTEM},
    {"submit_sys", POST, ACCESS_ADMIN, &C::SubmitSys, PAGE_SYSTEM},
    {"submit_config", POST, ACCESS_BOARD, &C::SubmitConfig, PAGE_BOARD},
    {"submit_kako", POST, ACCESS_BOARD, &C::SubmitKako, PAGE_OLDLOGS},
    {"submit_icon", POST, ACCESS_BOARD, &C::SubmitIcon, PAGE_ICONS},
    {"submit_upload", POST, ACCESS_BOARD, &C::SubmitIconUpload, PAGE_ICONS},
    {"submit_moddel", POST, ACCESS_BOARD, &C::SubmitModDelete, PAGE_MODERATION},
    {"submit_deny", POST, ACCESS_BOARD, &C::SubmitDeny, PAGE_MODERATION},
    {"icon", GET, ACCESS_BOARD, nullptr, PAGE_ICONS},
    {"kako", GET, ACCESS_BOARD, nullptr, PAGE_OLDLOGS},
    {"mod", GET, ACCESS_BOARD, nullptr, PAGE_MODERATION},
    {"", GET, ACCESS_BOARD, nullptr, PAGE_BOARD},
};

void CRukBBSFormConf::Run(CRukForm& form, const CRukCookie& cookie)
{
    m_pCookie = &cookie;
    for (const SAction& a : s_rgActions) {
        if (a.nMethod == POST && form.Data(a.pName)) {
            RunAction(a, form);
            return;
        }
    }
    ShowAskedPage(form);
}

void CRukBBSFormConf::RunAction(const SAction& action, CRukForm& form)
{
    RequireSameOriginPost();
    if (action.nAccess == ACCESS_LOGIN)
        RequireLoginToken(form);
    else
        RequireSession(form, action.nAccess);
    (this->*action.pAction)(form);
    ShowPage(action.nThen, form);
}

// Without a board id or submit_read a session opens its own first page.
void CRukBBSFormConf::ShowAskedPage(CRukForm& form)
{
    if (!FindSession()) {
        LoginForm(form);
    } else if (!m_strBBSID.IsEmpty()) {
        ShowBoard(form);
    } else if (IsAdmin()) {
        ConfigSysForm(form);
    } else if (form.Data("submit_read")) {
        LoginForm(form);
    } else {
        m_strBBSID = m_session.Scope();
        ShowBoard(form);
    }
}

// A session that may not open the board gets the login page, before
// anything of the board is read.
void CRukBBSFormConf::ShowBoard(CRukForm& form)
{
    CRukString mode = form.Value("mode");
    for (const SAction& a : s_rgActions) {
        if (a.nMethod != GET || (mode != a.pName && *a.pName))
            continue;
        if (!Allows(a.nAccess)) {
            LoginForm(form);
            return;
        }
        ReadBoardSettings();
        ShowPage(a.nThen, form);
        return;
    }
}

void CRukBBSFormConf::ShowPage(Page nPage, CRukForm& form)
{
    switch (nPage) {
    case PAGE_LOGIN: LoginForm(form); break;
    case PAGE_SYSTEM: ConfigSysForm(form); break;
    case PAGE_BOARD: ConfigBBSForm(form); break;
    case PAGE_ICONS: ConfigIcoForm(form); break;
    case PAGE_OLDLOGS: ConfigOldForm(form); break;
    case PAGE_MODERATION: ConfigModForm(form); break;
    case PAGE_HOME:
        if (m_strBBSID.IsEmpty())
            ConfigSysForm(form);
        else
            ShowBoard(form);
        break;
    }
}
