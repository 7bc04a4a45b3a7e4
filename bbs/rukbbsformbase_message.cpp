// CRukBBSFormBase: the message page. A request that cannot go on ends with
// the skin's information page: the catalogue's text (markup the site's
// administrator wrote, with the values of its tags as text) and a link
// back to where the visitor came from. Its HTTP status says what kind of
// end it is (one table, by catalogue key), and no cache keeps it.
#include "rukbbsformbase.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rukglobal.h"

// The link back of the message page: the program, and with a board its
// id, for the board program the skin, style and page, and the page mode.
CRukString CRukBBSFormBase::ReturnLink() const
{
    CRukString link = go.m_env.SCRIPT_NAME;
    if (m_strBBSID.IsEmpty())
        return link;
    link += "?bid=" + m_strBBSID + "=" + m_strOldID;
    if (go.m_env.SCRIPT_NAME.Find("ruk-bbs.cgi") >= 0) {
        CRukString tail;
        tail.Format("&skin=%s=%s&style=%d&page=%d", m_strSkinDir.GetText(),
                    m_strSkinUrl.GetText(), m_nStyle, m_nPage);
        link += tail;
    }
    if (!m_strMode.IsEmpty())
        link += "&mode=" + m_strMode;
    return link;
}

// The HTTP status of each catalogue key that ends a request; a key not
// named here is bad input (400). A refusal the visitor can wait out asks
// them to come back (Retry-After).
static const struct {
    const char* pKey;
    const char* pStatus;
    bool bRetry;
} s_rgMessageStatus[] = {
    // refused: a forged request, a missing login or password, a read-only log
    {kMsgForgedForm, "403 Forbidden", false},
    {kMsgNotLoggedIn, "403 Forbidden", false},
    {kMsgWrongPassword, "403 Forbidden", false},
    {kMsgWritePasswordNeeded, "403 Forbidden", false},
    {kMsgOldLogReadOnly, "403 Forbidden", false},
    {kMsgAdminIcon, "403 Forbidden", false},
    {kMsgReservedName, "403 Forbidden", false},
    // what the request names does not exist
    {kMsgNoSuchBoard, "404 Not Found", false},
    {kMsgNoOldLogChosen, "404 Not Found", false},
    {kMsgMessageGone, "404 Not Found", false},
    {kMsgNoParent, "404 Not Found", false},
    {kMsgThreadGone, "404 Not Found", false},
    // too many requests: posting too soon, guessing passwords
    {kMsgPostTooSoon, "429 Too Many Requests", true},
    {kMsgTooManyPasswordTries, "429 Too Many Requests", true},
    // the site failed: a file could not be written, a board is not set up
    {kMsgNotWritten, "500 Internal Server Error", false},
    {kMsgSettingsNotWritten, "500 Internal Server Error", false},
    {kMsgDenyListNotWritten, "500 Internal Server Error", false},
    {kMsgIconNotStored, "500 Internal Server Error", false},
    {kMsgBoardNotReady, "500 Internal Server Error", false},
    // busy: a lock stayed taken
    {kMsgBusy, "503 Service Unavailable", true},
};

CRukBBSFormBase::SMessageStatus CRukBBSFormBase::MessageStatus(const char* pKey)
{
    for (const auto& row : s_rgMessageStatus)
        if (pKey && strcmp(row.pKey, pKey) == 0)
            return {row.pStatus, row.bRetry};
    return {"400 Bad Request", false};
}

// Seconds a visitor told to come back waits: what the refusal set, else
// how long a lock is waited for, at least one.
static long RetrySeconds(long nSet)
{
    if (nSet > 0)
        return nSet;
    long nLock = (go.m_nLockWait + 999) / 1000;
    return nLock > 0 ? nLock : 1;
}

// Shows the skin's information page with the text and a link back, with
// the status of pKey, kept by no cache; then ends the process with
// status 1.
void CRukBBSFormBase::ShowMessage(const char* pKey, const CRukString& text)
{
    go.m_log.Trace("MessageForm =====================================================");
    CRukString page = ReadTemplate((m_strSkinDir + "templ_info.html").GetText());
    if (page.IsEmpty())
        page = ReadTemplate("skin/default/templ_info.html");
    // The link carries request values into an attribute: it is text.
    page = FillWithCommon(page, {{"%MESSAGE%", text, false, true}, {"%RETURN_CGI%", ReturnLink()}});

    SMessageStatus status = MessageStatus(pKey);
    CRukHtml::SetStatus(status.pStatus, status.bRetry ? RetrySeconds(m_nRetryAfter) : 0);
    CRukHtml::SetNoStore();
    m_html.WriteHttpHeader("text/html", "");
    if (m_html.WriteString(page.GetText()) < 0 || fflush(stdout) != 0)
        go.m_log.Trace("-- the message page could not be written");
    go.m_log.Trace("Program END  =====================================================\n\n");
    exit(1);
}

void CRukBBSFormBase::Message(const char* pFormat, ...)
{
    CRukString text;  // the whole expansion, however long
    va_list args;
    va_start(args, pFormat);
    text.FormatV(pFormat, args);
    va_end(args);
    ShowMessage(nullptr, text);
}

void CRukBBSFormBase::MessageKey(const char* pKey)
{
    ShowMessage(pKey, m_cfMessage.Value(pKey));
}

void CRukBBSFormBase::MessageText(const char* pKey)
{
    ShowMessage(pKey, m_cfMessage.Value(pKey));
}

void CRukBBSFormBase::MessageFill(const char* pKey, std::initializer_list<SRukFill> fills)
{
    CRukTagList tags;
    for (const SRukFill& fill : fills)
        tags.push_back({fill.pTag, fill.value, true});
    ShowMessage(pKey, FillTags(m_cfMessage.Value(pKey), tags));
}
