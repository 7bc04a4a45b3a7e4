// CRukBBSFormBase: the message page. A request that cannot go on ends with
// the skin's information page: the catalogue's text (markup the site's
// administrator wrote, with the values of its tags as text) and a link
// back to where the visitor came from.
#include "rukbbsformbase.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

// Shows the skin's information page with the formatted text and a link
// back, then ends the process with status 1.
void CRukBBSFormBase::Message(const char* pFormat, ...)
{
    go.m_log.Trace("MessageForm =====================================================");
    CRukString text;  // the whole expansion, however long
    va_list args;
    va_start(args, pFormat);
    text.FormatV(pFormat, args);
    va_end(args);

    CRukString page = ReadTemplate((m_strSkinDir + "templ_info.html").GetText());
    if (page.IsEmpty())
        page = ReadTemplate("skin/default/templ_info.html");
    // The link carries request values into an attribute: it is text.
    page = FillWithCommon(page, {{"%MESSAGE%", text, false, true}, {"%RETURN_CGI%", ReturnLink()}});

    m_html.WriteHttpHeader("text/html", "");
    if (m_html.WriteString(page.GetText()) < 0 || fflush(stdout) != 0)
        go.m_log.Trace("-- the message page could not be written");
    go.m_log.Trace("Program END  =====================================================\n\n");
    exit(1);
}

void CRukBBSFormBase::MessageKey(const char* pKey)
{
    Message("%s", m_cfMessage.Value(pKey).GetText());
}

void CRukBBSFormBase::MessageText(const char* pKey)
{
    Message("%s", m_cfMessage.Value(pKey).GetText());
}

void CRukBBSFormBase::MessageFill(const char* pKey, std::initializer_list<SRukFill> fills)
{
    CRukTagList tags;
    for (const SRukFill& fill : fills)
        tags.push_back({fill.pTag, fill.value, true});
    Message("%s", FillTags(m_cfMessage.Value(pKey), tags).GetText());
}
