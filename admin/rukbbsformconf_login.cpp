// CRukBBSFormConf: logins and sessions. The checks every action passes
// (the session and its form token, or for the login the login page's
// token, which its cookie repeats), the session's cookies, the login page,
// the logins, the logout and the password changes.
#include "rukbbsformconf.h"

#include <cctype>
#include <ctime>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The cookie of a session, and the login page's cookie.
static const char s_szSessionCookie[] = "ruk_session";
static const char s_szLoginCookie[] = "ruk_login";

// ---------------------------------------------------------------------------
// Sessions

// The cookie's value of pName, or empty (also before Run).
static CRukString CookieValue(const CRukCookie* pCookie, const char* pName)
{
    return pCookie ? pCookie->Value(pName) : CRukString();
}

bool CRukBBSFormConf::FindSession()
{
    CRukString token = CookieValue(m_pCookie, s_szSessionCookie);
    if (token.IsEmpty())
        return false;
    int r = m_session.Find(token.GetText(), time(nullptr));
    if (r < 0) {
        go.m_log.Trace("-- the session file cannot be read (%d)", r);
        MessageKey(kMsgBusy);
    }
    if (r != 0)
        return false;
    m_bSession = true;
    m_strFormToken = m_session.FormToken();
    return true;
}

void CRukBBSFormConf::RequireLoginToken(CRukForm& form)
{
    CRukString expected = CookieValue(m_pCookie, s_szLoginCookie);
    CRukString sent = form.Value("token");
    if (!CRukSession::IsTokenText(expected.GetText()) ||
        !CRukSession::IsSameText(expected.GetText(), sent.GetText())) {
        go.m_log.Trace("-- refused: the login form's token does not match");
        MessageKey(kMsgForgedForm);
    }
}

void CRukBBSFormConf::RequireSession(CRukForm& form, Access nAccess)
{
    if (!FindSession() || !Allows(nAccess))
        MessageKey(kMsgNotLoggedIn);
    if (!CRukSession::IsSameText(m_strFormToken.GetText(), form.Value("token").GetText())) {
        go.m_log.Trace("-- refused: the form token does not match the session");
        MessageKey(kMsgForgedForm);
    }
}

bool CRukBBSFormConf::Allows(Access nAccess) const
{
    switch (nAccess) {
    case ACCESS_LOGIN: return true;
    case ACCESS_ANY: return m_bSession;
    case ACCESS_ADMIN: return IsAdmin();
    case ACCESS_BOARD: return MayOpenBoard();
    }
    return false;
}

bool CRukBBSFormConf::IsAdmin() const
{
    return m_bSession && m_session.Scope() == CRukSession::s_pAdminScope;
}

bool CRukBBSFormConf::MayOpenBoard() const
{
    return m_bSession && !m_strBBSID.IsEmpty() &&
           (IsAdmin() || m_session.Scope() == m_strBBSID);
}

// The path of the cookies: the directory of the script, so that no other
// program of the host is sent them.
static CRukString CookiePath()
{
    CRukStrPath script;
    script.Split(go.m_env.SCRIPT_NAME.GetText());
    CRukString dir = script.Directory("/");
    if (dir.IsEmpty() || dir.GetText()[0] != '/')
        dir = "/" + dir;
    if (dir.GetText()[dir.GetLength() - 1] != '/')
        dir += "/";
    for (const char* p = dir.GetText(); *p; p++)
        if (!isgraph(static_cast<unsigned char>(*p)) || *p == ';' || *p == ',')
            return CRukString("/");
    return dir;
}

// True when the request came over HTTPS, as the web server tells.
static bool IsHttps()
{
    return go.m_env.HTTPS.Compare("on", 1) == 0 || go.m_env.REQUEST_SCHEME.Compare("https", 1) == 0;
}

CRukString CRukBBSFormConf::CookieLine(const char* pName, const char* pValue, bool bEnd)
{
    CRukString line = CRukString("Set-Cookie: ") + pName + "=" + (bEnd ? "" : pValue);
    line += "; Path=" + CookiePath() + "; HttpOnly; SameSite=Strict";
    if (IsHttps())
        line += "; Secure";
    if (bEnd)
        line += "; Max-Age=0";
    return line + "\n";
}

void CRukBBSFormConf::StartSession(const char* pScope)
{
    if (m_session.Start(pScope, time(nullptr)) != 0)
        MessageKey(kMsgBusy);
    m_bSession = true;
    m_strFormToken = m_session.FormToken();
    m_strCookieLines += CookieLine(s_szSessionCookie, m_session.Token().GetText(), false);
}

void CRukBBSFormConf::PasswordPlace(const CRukString& scope, CRukString& path, const char*& pKey)
{
    if (scope == CRukSession::s_pAdminScope) {
        path = s_pSystemFile;
        pKey = CRukSettingKeys::Row(kSysAdminPasswd).pName;
    } else {
        path = BoardFile(scope);
        pKey = CRukSettingKeys::Row(kBoardPasswd).pName;
    }
}

// ---------------------------------------------------------------------------
// The login page, login and logout

// The login page: the administrator's login, and a board's login with the
// board id asked for. Its token is kept in a cookie of its own, so that
// only this page can send the login.
void CRukBBSFormConf::LoginForm(CRukForm& form)
{
    (void)form;
    CRukString page = ReadTemplate((m_strConfDir + "templ_login.html").GetText());
    CRukString token = m_strFormToken;
    if (!m_bSession) {
        // A token the browser already has is kept, so that two open login
        // pages both work.
        token = CookieValue(m_pCookie, s_szLoginCookie);
        if (!CRukSession::IsTokenText(token.GetText())) {
            token = CRukSession::RandomHex(CRukSession::s_nTokenDigits / 2);
            if (token.IsEmpty())
                MessageKey(kMsgBusy);
            m_strCookieLines += CookieLine(s_szLoginCookie, token.GetText(), false);
        }
        m_strFormToken = token;
    }
    CRukTagList tags = {{"%BOARD_ID%", m_strBBSID, true}};
    WriteAdminPage(page, tags);
}

// Logs in with the administrator's password, or with a board id and that
// board's password. A stored code of an older method is replaced by a
// fresh one of the password just typed.
void CRukBBSFormConf::SubmitLogin(CRukForm& form)
{
    CRukString scope = m_strBBSID.IsEmpty() ? CRukString(CRukSession::s_pAdminScope) : m_strBBSID;
    if (!m_strBBSID.IsEmpty())
        ReadBoardSettings();
    CRukString pw = form.Value("passwd");
    if (pw.IsEmpty())
        MessageKey(kMsgNoPassword);
    RequirePasswordTries();
    CRukString path;
    const char* pKey = nullptr;
    PasswordPlace(scope, path, pKey);
    const CRukConfig& stored = m_strBBSID.IsEmpty() ? m_cfSystem : m_cfBBS;
    CRukString code = stored.Value(pKey);
    if (!CRukCrypt::Verify(pw.GetText(), code.GetText())) {
        RecordPasswordFailure();
        MessageKey(kMsgWrongPassword);
    }
    if (!CRukCrypt::IsCurrent(code.GetText())) {
        CRukString fresh = CRukCrypt::Hash(pw.GetText());
        int r = UpdateSettings(path.GetText(), [&](CRukConfig& cf) {
            if (cf.Value(pKey) != code)
                return false;  // changed meanwhile: that one stays
            cf.SetAt(pKey, fresh.GetText());
            return true;
        });
        if (r != 0)
            go.m_log.Trace("-- the fresh password code could not be stored (%d)", r);
    }
    StartSession(scope.GetText());
    m_strCookieLines += CookieLine(s_szLoginCookie, "", true);
}

// Ends the session; the login page follows.
void CRukBBSFormConf::SubmitLogout(CRukForm& form)
{
    (void)form;
    if (m_session.End(CookieValue(m_pCookie, s_szSessionCookie).GetText(), time(nullptr)) != 0)
        MessageKey(kMsgBusy);
    m_bSession = false;
    m_strFormToken.Free();
    m_strCookieLines += CookieLine(s_szSessionCookie, "", true);
    m_strBBSID.Free();
    Notice(kMsgLoggedOut);
}

// ---------------------------------------------------------------------------
// Passwords

// Changes the administrator's password (no board id; the administrator's
// session) or a board's (its board id; that board's session or the
// administrator's). The current password is the one the session logged in
// with; the new one is typed twice. Every session of the changed password
// ends first; the session that changed it goes on under a new token.
void CRukBBSFormConf::SubmitPasswd(CRukForm& form)
{
    bool bBoard = !m_strBBSID.IsEmpty();
    if ((bBoard && !MayOpenBoard()) || (!bBoard && !IsAdmin()))
        MessageKey(kMsgNotLoggedIn);
    if (bBoard)
        ReadBoardSettings();
    CRukString pw = form.Value("passwd");
    CRukString pwNew = form.Value("passwd_new");
    if (pw.IsEmpty())
        MessageKey(kMsgNoPassword);
    if (pwNew.IsEmpty())
        MessageKey(kMsgNoNewPassword);
    if (pwNew != form.Value("passwd_new2"))
        MessageKey(kMsgPasswordMismatch);
    RequirePasswordTries();
    CRukString current = IsAdmin() ? CRukSettingKeys::Text(m_cfSystem, kSysAdminPasswd)
                                   : CRukSettingKeys::Text(m_cfBBS, kBoardPasswd);
    if (!CRukCrypt::Verify(pw.GetText(), current.GetText())) {
        RecordPasswordFailure();
        MessageKey(kMsgWrongPassword);
    }

    CRukString scope = bBoard ? m_strBBSID : CRukString(CRukSession::s_pAdminScope);
    CRukString path;
    const char* pKey = nullptr;
    PasswordPlace(scope, path, pKey);
    CRukString code = CRukCrypt::Hash(pwNew.GetText());
    if (m_session.EndScope(scope.GetText(), time(nullptr)) != 0)
        MessageKey(kMsgBusy);
    CRukConfig& result = bBoard ? m_cfBBS : m_cfSystem;
    RequireUpdate(path.GetText(), bBoard ? kMsgNoSuchBoard : kMsgBusy, kMsgNotWritten,
                  [&](CRukConfig& cf) {
                      cf.SetAt(pKey, code.GetText());
                      return true;
                  },
                  &result);
    if (scope == m_session.Scope())
        StartSession(scope.GetText());
    Notice(kMsgPasswordChanged);
}
