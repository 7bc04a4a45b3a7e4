// CRukBBSFormMain: the skin of a request. The board's own skin (its
// settings skindir and skinurl), one the request names in the field
// "skin" ("DIR=URL", allowed only when it cannot lead outside the site or
// into the data), or the phone skin of the mobile-phone table when the
// browser's user agent holds one of its words. The skin's directory must
// hold the three templates of the board.
#include "rukbbsformmain.h"

#include <cstring>
#include <sys/stat.h>

#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

// A skin URL may not break out of an attribute or carry blanks.
static bool IsSafeUrlText(const char* pText)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pText); *p; p++)
        if (*p <= 0x20 || *p == 0x7F || *p == '"' || *p == '\'' || *p == '<' || *p == '>')
            return false;
    return true;
}

// The components of a relative path with "." and empty ones dropped, so
// that "./data/x", "data//x" and "data/x/" all read "data", "x"; false for
// an absolute path, a backslash or any ".." component, which a request's
// path may never hold.
static bool SplitRelativePath(const CRukString& path, CRukStrAry& parts)
{
    const char* p = path.GetText();
    if (*p == '/' || strchr(p, '\\'))
        return false;
    CRukStrAry raw;
    raw.SetToken(p, "/");
    parts.RemoveAll();
    for (const CRukString& part : raw) {
        if (part == "..")
            return false;
        if (!part.IsEmpty() && part != ".")
            parts.Add(part.GetText());
    }
    return parts.GetSize() > 0;
}

// True when the path parts begin with those of base.
static bool StartsWithParts(const CRukStrAry& parts, const CRukStrAry& base)
{
    if (base.GetSize() == 0 || base.GetSize() > parts.GetSize())
        return false;
    for (int i = 0; i < base.GetSize(); i++)
        if (parts[i] != base[i])
            return false;
    return true;
}

// A skin URL a request may name: a path on this site (absolute, or
// relative to the script), never another host: no scheme, no leading
// "//", no backslash, no ".." and no percent escape that could spell one.
static bool IsSameSitePath(const CRukString& url)
{
    const char* p = url.GetText();
    if (!IsSafeUrlText(p) || strpbrk(p, "\\:%") || strncmp(p, "//", 2) == 0)
        return false;
    CRukStrAry parts;
    parts.SetToken(p, "/");
    for (const CRukString& part : parts)
        if (part == "..")
            return false;
    return true;
}

// A skin named by the request: its directory a relative path without
// ".." outside "data/" and outside the board's data directory (judged
// after normalising, so "./data/x" is inside "data/"), its URL a path on
// this site (or the board's own skin URL), and neither part carrying
// characters that break out of a page. The board's own skin directory,
// which the message page's return link carries, is always allowed.
static bool IsAllowedRequestSkin(const CRukString& request, const CRukString& datadir,
                                 const CRukString& boardSkin, const CRukString& boardUrl)
{
    CRukStrAry halves;
    halves.SetToken(request.GetText(), "=");
    CRukString dir = halves[0];
    CRukString url = halves.GetSize() >= 2 ? halves[1] : CRukString();
    if (dir.IsEmpty() || !IsSafeUrlText(dir.GetText()))
        return false;
    bool bBoardUrl = !boardUrl.IsEmpty() && CRukStrPath::Normalize(url.GetText()) ==
                                               CRukStrPath::Normalize(boardUrl.GetText());
    if (!bBoardUrl && !IsSameSitePath(url))
        return false;
    if (!boardSkin.IsEmpty() &&
        CRukStrPath::Normalize(dir.GetText()) == CRukStrPath::Normalize(boardSkin.GetText()))
        return true;
    CRukStrAry parts;
    if (!SplitRelativePath(dir, parts))
        return false;
    CRukStrAry data;
    data.Add("data");
    if (StartsWithParts(parts, data))
        return false;
    CRukStrAry own;
    if (SplitRelativePath(datadir, own) && StartsWithParts(parts, own))
        return false;
    return true;
}

// The phone skin of the mobile-phone table (the board's own, else the
// site's) whose word the browser's user agent holds: it sets m_nKeitai and
// the skin's directory; false when the browser is no phone of the table.
bool CRukBBSFormMain::FindPhoneSkin(CRukString& skinDir)
{
    CRukString keitai = "data/" + m_strBBSID + ".keit";
    if (CRukFile::GetFileAttr(keitai.GetText()) == -1)
        keitai = "default.keit";
    if (m_cfKeitai.ReadFile(keitai.GetText(), false) <= 0)
        return false;
    go.m_log.Trace("-- cfKeitai Read OK!");
    for (int i = 0; i < m_cfKeitai.GetSize(); i++) {
        const CRukStrPair& entry = m_cfKeitai[i];
        go.m_log.Trace("-- cfKeitai [i] %s=%s", entry.m_strTag.GetText(), entry.m_data.GetText());
        if (go.m_env.HTTP_USER_AGENT.Find(entry.m_strTag.GetText()) >= 0) {
            m_nKeitai = 1;
            skinDir = entry.m_data;
            return true;
        }
    }
    return false;
}

void CRukBBSFormMain::ChooseSkin(CRukForm& form)
{
    CRukString skin = form.Value("skin");
    CRukString skinDir, skinUrl;
    if (skin.IsEmpty()) {
        skinDir = Setting(kBoardSkinDir);
        skinUrl = Setting(kBoardSkinUrl);
    } else {
        if (!IsAllowedRequestSkin(skin, Setting(kBoardDataDir), Setting(kBoardSkinDir),
                                  Setting(kBoardSkinUrl)))
            MessageKey(kMsgSkinDirMissing);
        skinDir = skin;
    }
    if (FindPhoneSkin(skinDir))
        skinUrl.Free();
    CRukStrAry skinParts;
    if (skinParts.SetToken(skinDir.GetText(), "=") >= 2) {
        skinDir = skinParts[0];
        skinUrl = skinParts[1];
    }
    if (skinUrl.IsEmpty())
        skinUrl = ServerPath2UrlDir((skinDir + "/").GetText(), 1);
    go.m_log.Trace("-- SkinDir(%s) SkinUrl(%s)", skinDir.GetText(), skinUrl.GetText());
    skinDir = CRukStrPath::Normalize(skinDir.GetText());
    skinUrl = CRukStrPath::Normalize(skinUrl.GetText());
    int nAttr = CRukFile::GetFileAttr(skinDir.GetText());
    if (nAttr == -1 || !S_ISDIR(nAttr))
        MessageKey(kMsgSkinDirMissing);
    for (const char* pTemplate : {"/templ_bbs.html", "/templ_ico.html", "/templ_info.html"})
        if (CRukFile::GetFileAttr((skinDir + pTemplate).GetText()) == -1)
            MessageKey(kMsgSkinIncomplete);
    m_strSkinUrl = skinUrl + "/";
    m_strSkinDir = skinDir + "/";
}
