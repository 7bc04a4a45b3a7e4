// Entry of the board program: loads the settings, chooses the board, the
// skin and the data directory, checks the visitor against the deny list
// and runs exactly one action.
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

#include "rukbbsformmain.h"
#include "rukcookie.h"
#include "rukfile.h"
#include "rukform.h"
#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

static const char* const s_pProgram = "ruk-bbs.cgi";

// Request fields that name messages; they reach paths and pages, so they
// must be decimal digits.
static const char* const s_rgIdFields[] = {"id", "pid", "ppid"};

// Buttons that show the board again (reply, edit, paging).
static const char* const s_rgReloadButtons[] = {"submit_res.x", "submit_upd.x"};
static const char* const s_rgPagingButtons[] = {"submit_jump.x", "submit_prev.x",
                                                "submit_next.x"};

static bool HasField(CRukForm& form, const char* pName)
{
    return form.Data(pName) != nullptr;
}

static bool HasAnyField(CRukForm& form, const char* const* pNames, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (HasField(form, pNames[i]))
            return true;
    return false;
}

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

// Shows the board after a post or a deletion in the same answer: the
// first page, or in the title view the thread the form came from.
static void ReloadAfterChange(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form)
{
    form.Remove("id");
    form.Remove("pid");
    if (atoi(form.Value("style").GetText()) == 0)
        form.Remove("ppid");
    bbs.Reload(cookie, form);
}

// CPU seconds one request may use: far beyond any page or post of a large
// board, so that only a runaway request meets it. A web server does not
// stop a CGI program whose client went away, so without a limit such a
// request would spin for ever; at the soft limit the kernel ends it
// (SIGXCPU), at the hard one it kills it.
static const rlim_t s_nCpuSoft = 30;
static const rlim_t s_nCpuHard = 35;

static void LimitCpuTime()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    // Never raise what the server set lower.
    auto lower = [](rlim_t nSet, rlim_t nOwn) {
        return nSet == RLIM_INFINITY || nSet > nOwn ? nOwn : nSet;
    };
    limit.rlim_max = lower(limit.rlim_max, s_nCpuHard);
    limit.rlim_cur = lower(lower(limit.rlim_cur, s_nCpuSoft), limit.rlim_max);
    (void)setrlimit(RLIMIT_CPU, &limit);
}

int main()
{
    LimitCpuTime();
    // Without TZ the C library checks /etc/localtime again at every local
    // time conversion (two per message shown); naming that same file once
    // keeps the zone and saves the checks.
    if (!getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);

    CRukBBSFormMain bbs;
    CRukCookie cookie;
    CRukForm form;
    CRukStrAry bid(0, 10);

    // Settings, trace log, cookies and the request.
    int nCatalogue = bbs.m_cfMessage.ReadFile("dat-message.dat", false);
    if (bbs.m_cfSystem.ReadFile("dat-system.dat", true) == -2)
        bbs.MessageKey("msg90");
    CRukString sendmail = bbs.m_cfSystem.Value("sendmail");
    sendmail.Trim();
    if (!sendmail.IsEmpty())
        go.m_strSendmail = sendmail;
    go.m_log.Initialize((CRukString(s_pProgram) + ".log").GetText());
    go.m_log.SetEnabled(atoi(bbs.m_cfSystem.Value("opt_trace").GetText()));
    go.m_log.Trace("%s START =====================================================", s_pProgram);
    if (nCatalogue < 0)
        go.m_log.Trace("-- dat-message.dat cannot be read: every message text is empty");
    go.m_log.Trace("\n Default SkinDir(%s)\n Default SkinUrl(%s)\n Default DataDir(%s)\n Default "
                   "ConfDir(%s)",
                   bbs.m_strSkinDir.GetText(), bbs.m_strSkinUrl.GetText(),
                   bbs.m_strDataDir.GetText(), bbs.m_strConfDir.GetText());
    cookie.Decode(go.m_env.HTTP_COOKIE.GetText());
    form.QueryString();
    if (form.IsBodyRefused())
        bbs.MessageKey("msg24");
    for (const char* pField : s_rgIdFields)
        if (!CRukBBSFormBase::IsDigits(form.Value(pField).GetText()))
            bbs.MessageKey("msg98");

    bid.SetToken(form.Value("bid").GetText(), "=");
    if (bid.GetSize() >= 1)
        bbs.m_strBBSID = bid[0];
    if (bid.GetSize() >= 2)
        bbs.m_strOldID = bid[1];
    go.m_log.Trace("-- BBSID=[%s]", bbs.m_strBBSID.GetText());
    if (!bbs.m_strBBSID.IsEmpty() && !CRukBBSFormBase::IsSafeName(bbs.m_strBBSID.GetText())) {
        bbs.m_strBBSID.Free();
        bbs.m_strOldID.Free();
        bbs.MessageKey("msg11");
    }
    if (!bbs.m_strOldID.IsEmpty() && !CRukBBSFormBase::IsSafeName(bbs.m_strOldID.GetText())) {
        bbs.m_strOldID.Free();
        bbs.MessageKey("msg51");
    }
    go.m_env.GetEnv();
    bbs.ApplySystemSettings();

    // Board settings and access.
    if (bbs.m_strBBSID.IsEmpty())
        bbs.MessageText("msg40");
    CRukString boardConf = "data/" + bbs.m_strBBSID + ".conf";
    int r = bbs.m_cfBBS.ReadFile(boardConf.GetText(), true);
    // -1 is a missing board only when its file is missing: a lock file
    // that cannot be opened, or a settings file that cannot be read, is
    // a fault of the site, not a wrong address.
    if (r == -2 || (r == -1 && CRukFile::GetFileAttr(boardConf.GetText()) != -1))
        bbs.MessageKey("msg90");
    if (r == -1)
        bbs.MessageKey("msg11");
    if (bbs.AccessDenyCheck(bbs.m_cfBBS.Value("denyfile").GetText()) != 0)
        return 1;

    // Skin, with mobile phones recognised by their user-agent words.
    CRukString skin = form.Value("skin");
    CRukString skinDir, skinUrl;
    if (skin.IsEmpty()) {
        skinDir = bbs.m_cfBBS.Value("skindir");
        skinUrl = bbs.m_cfBBS.Value("skinurl");
    } else {
        if (!IsAllowedRequestSkin(skin, bbs.m_cfBBS.Value("datadir"), bbs.m_cfBBS.Value("skindir"),
                                  bbs.m_cfBBS.Value("skinurl")))
            bbs.MessageKey("msg17");
        skinDir = skin;
    }
    CRukString keitai = "data/" + bbs.m_strBBSID + ".keit";
    if (CRukFile::GetFileAttr(keitai.GetText()) == -1)
        keitai = "default.keit";
    if (bbs.m_cfKeitai.ReadFile(keitai.GetText(), false) > 0) {
        go.m_log.Trace("-- cfKeitai Read OK!");
        for (int i = 0; i < bbs.m_cfKeitai.GetSize(); i++) {
            const CRukStrPair& entry = bbs.m_cfKeitai[i];
            go.m_log.Trace("-- cfKeitai [i] %s=%s", entry.m_strTag.GetText(),
                           entry.m_data.GetText());
            if (go.m_env.HTTP_USER_AGENT.Find(entry.m_strTag.GetText()) >= 0) {
                bbs.m_nKeitai = 1;
                skinDir = entry.m_data;
                skinUrl.Free();
                break;
            }
        }
    }
    CRukStrAry skinParts;
    if (skinParts.SetToken(skinDir.GetText(), "=") >= 2) {
        skinDir = skinParts[0];
        skinUrl = skinParts[1];
    }
    if (skinUrl.IsEmpty())
        skinUrl = bbs.ServerPath2UrlDir((skinDir + "/").GetText(), 1);
    go.m_log.Trace("-- SkinDir(%s) SkinUrl(%s)", skinDir.GetText(), skinUrl.GetText());
    skinDir = CRukStrPath::Normalize(skinDir.GetText());
    skinUrl = CRukStrPath::Normalize(skinUrl.GetText());
    int nAttr = CRukFile::GetFileAttr(skinDir.GetText());
    if (nAttr == -1 || !S_ISDIR(nAttr))
        bbs.MessageKey("msg17");
    for (const char* pTemplate : {"/templ_bbs.html", "/templ_ico.html", "/templ_info.html"})
        if (CRukFile::GetFileAttr((skinDir + pTemplate).GetText()) == -1)
            bbs.MessageKey("msg18");
    bbs.m_strSkinUrl = skinUrl + "/";
    bbs.m_strSkinDir = skinDir + "/";

    // Data directory and board values.
    bbs.m_strDataDir = bbs.m_cfBBS.Value("datadir");
    if (!bbs.m_strOldID.IsEmpty() && !bbs.m_strDataDir.IsEmpty()) {
        // (A data directory may be set without its final "/".)
        if (bbs.m_strDataDir.GetText()[bbs.m_strDataDir.GetLength() - 1] != '/')
            bbs.m_strDataDir += "/";
        bbs.m_strDataDir += "old/";
        bbs.m_strDataDir += bbs.m_strOldID;
        if (CRukFile::GetFileAttr(bbs.m_strDataDir.GetText()) == -1)
            bbs.MessageKey("msg51");
        bbs.m_strDataDir += "/";
    }
    if (bbs.m_strDataDir.IsEmpty() || bbs.m_cfBBS.Value("bbs_title").IsEmpty())
        bbs.MessageText("msg14");
    bbs.m_strTitle = bbs.m_cfBBS.Value("bbs_title");
    bbs.m_bbsFile.m_nMaxData = atoi(bbs.m_cfBBS.Value("log_max").GetText());
    if (bbs.m_strOldID.IsEmpty()) {
        bbs.m_bbsFile.m_nDeleteMode = atoi(bbs.m_cfBBS.Value("log_del").GetText());
        bbs.m_bbsFile.m_bArchive = atoi(bbs.m_cfBBS.Value("log_archive").GetText()) == 1;
    }
    bbs.m_nStyle = atoi(form.Value("style").GetText());
    bbs.m_nPage = atoi(form.Value("page").GetText());

    // Exactly one action. After a post or a deletion the board either
    // redirects to the page to show or shows it at once.
    if (form.Value("mode") == "icon") {
        bbs.ViewIcoForm(form);
    } else if (form.Value("mode") == "atom") {
        bbs.WriteFeed();
    } else if (HasField(form, "submit_wri.x")) {
        bbs.Write(cookie, form);
        if (!bbs.AnswerChange())
            ReloadAfterChange(bbs, cookie, form);
    } else if (HasAnyField(form, s_rgReloadButtons, 2)) {
        bbs.Reload(cookie, form);
    } else if (HasField(form, "submit_del.x")) {
        bbs.Delete(cookie, form);
        if (!bbs.AnswerChange())
            ReloadAfterChange(bbs, cookie, form);
    } else if (HasAnyField(form, s_rgPagingButtons, 3)) {
        bbs.Reload(cookie, form);
    } else if (HasField(form, "submit_find.x") || HasField(form, "word")) {
        bbs.FindResult(cookie, form);
    } else {
        bbs.Reload(cookie, form);
    }

    go.m_log.Trace("%s  END  =====================================================\n\n",
                   s_pProgram);
    // The page is out; ending here rather than returning spares taking a
    // loaded board apart record by record, which the kernel does at once
    // when the process ends. exit() still flushes the output.
    exit(0);
}
