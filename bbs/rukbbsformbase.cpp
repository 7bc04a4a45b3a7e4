// CRukBBSFormBase: construction, the URLs of server paths, the system
// settings every request applies, writing a page, and the checks of ids
// and names both programs share.
#include "rukbbsformbase.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "rukglobal.h"
#include "rukstrpath.h"

CRukBBSFormBase::CRukBBSFormBase()
    : m_nStyle(0), m_nPage(0), m_nPageNum(0), m_nKeitai(0), m_cfMessage(false),
      m_cfSystem(true), m_cfBBS(true), m_cfKeitai(true)
{
    m_strTitle = "RUK-BBS";
    go.m_env.GetEnv();
    m_strSkinDir = "skin/default/";
    m_strSkinUrl = ServerPath2UrlDir(m_strSkinDir.GetText(), 1) + "/";
    m_strDataDir = "data/";
    m_strConfDir = "skin/config/";
}

// The URL of the directory part of a server path: stripped of the document
// root when it lies below it, otherwise (with nRelative) placed below the
// script's own URL directory.
CRukString CRukBBSFormBase::ServerPath2UrlDir(const char* pPath, int nRelative)
{
    CRukStrPath path;
    path.Split(pPath ? pPath : "");
    CRukString result = path.Directory("/");
    if (result.IsEmpty())
        result = ".";
    CRukString root = go.m_env.DOCUMENT_ROOT.IsEmpty()
                          ? CRukString()
                          : CRukStrPath::Normalize(go.m_env.DOCUMENT_ROOT.GetText());
    if (root.IsEmpty() || result.Find(root.GetText()) == 0) {
        result = result.Mid(root.GetLength());
    } else if (nRelative) {
        CRukStrPath script;
        script.Split(go.m_env.SCRIPT_NAME.GetText());
        CRukString prefix = script.Directory("/");
        prefix += "/";
        result.Insert(prefix);
    }
    go.m_log.Trace("CRukBBSFormBase::ServerPath2UrlDir Result(%s)", result.GetText());
    return result;
}

CRukString CRukBBSFormBase::ServerPath2UrlPath(const char* pPath, int nRelative)
{
    CRukStrPath path;
    path.Split(pPath ? pPath : "");
    CRukString result = ServerPath2UrlDir(pPath, nRelative);
    result += "/";
    result += path.GetName();
    go.m_log.Trace("CRukBBSFormBase::ServerPath2UrlPath Result(%s)", result.GetText());
    return result;
}

bool CRukBBSFormBase::ParseMode(const char* pText, int& nMode)
{
    if (!pText || !*pText || strlen(pText) > 4 || strspn(pText, "01234567") != strlen(pText))
        return false;
    long n = strtol(pText, nullptr, 8);
    if (n > 0777)
        return false;
    nMode = static_cast<int>(n);
    return true;
}

void CRukBBSFormBase::ApplySystemSettings()
{
    (void)ParseMode(Setting(kSysFileMode).GetText(), go.m_nFileMode);
    (void)ParseMode(Setting(kSysDirMode).GetText(), go.m_nDirMode);
    CRukString wait = Setting(kSysLockWait);
    if (!wait.IsEmpty() && IsDigits(wait.GetText()) && wait.GetLength() <= 9) {
        int n = atoi(wait.GetText());
        go.m_nLockWait = n > 60000 ? 60000 : n;
    }
}

CRukString CRukBBSFormBase::FillTags(const CRukString& page, const CRukTagList& tags)
{
    return CRukPattern(page, tags).Fill(tags);
}

void CRukBBSFormBase::WritePage(const CRukString& page)
{
    m_html.WriteHttpHeader("text/html", "");
    if (m_html.WriteString(page.GetText()) < 0)
        go.m_log.Trace("-- the page could not be written");
}

CRukString CRukBBSFormBase::EscapeHtml(const char* pText)
{
    CRukString text;
    CRukPattern::AppendEscaped(text, pText);
    return text;
}

bool CRukBBSFormBase::IsDigits(const char* pText)
{
    for (const char* p = pText ? pText : ""; *p; p++)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

bool CRukBBSFormBase::IsSafeName(const char* pText)
{
    if (!pText || !*pText)
        return false;
    for (const char* p = pText; *p; p++)
        if (!(isalnum(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) &&
            *p != '_' && *p != '-')
            return false;
    return true;
}
