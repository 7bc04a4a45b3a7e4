// CRukBBSFormConf: a board's settings page and the action that saves it:
// every row of the board table that the page shows, each saved by its
// kind once the data directory, the skin, the addresses and the NG-word
// file are checked. The administrator's session or one of the board
// comes here.
#include "rukbbsformconf.h"

#include <cerrno>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// Templates a board's skin must hold.
static const char* const s_rgSkinTemplates[] = {"templ_bbs.html", "templ_ico.html",
                                                "templ_info.html"};

// The system limits the board page shows beside the numbers they bound.
static const ERukSystemKey s_rgShownLimits[] = {kSysAttachMax, kSysLogLimit};

// The skin URL normalised as a path; the "//" of a scheme stays.
static CRukString NormalizeUrl(const CRukString& url)
{
    int nScheme = url.Find("://");
    if (nScheme <= 0)
        return CRukStrPath::Normalize(url.GetText());
    CRukString rest = CRukStrPath::Normalize(url.Mid(nScheme + 3).GetText());
    return url.Left(nScheme + 3) + rest;
}

// A board's settings page; the caller has loaded the board's settings. The
// password codes are never shown, only whether they are set.
void CRukBBSFormConf::ConfigBBSForm(CRukForm& form)
{
    (void)form;
    m_strTitle = CRukSettingKeys::Text(m_cfBBS, kBoardTitle);
    CRukString page = ReadTemplate((m_strConfDir + "templ_config_bbs.html").GetText());
    CRukTagList tags;
    AddRowTags(tags, CRukSettingKeys::Board(), m_cfBBS);
    for (ERukSystemKey nKey : s_rgShownLimits)
        tags.push_back(RowTag(CRukSettingKeys::Row(nKey), m_cfSystem));
    tags.push_back({"%BID%", m_strBBSID, true});
    tags.push_back({"%WRITE_PASSWD%", "", true});
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// Saving a board's settings

// What the board page sent that is checked or made before anything is
// written: where the board's files are, and the posting password's code.
struct CRukBBSFormConf::SBoardTyped {
    CRukString datadir;    // "data/.../"
    CRukString skindir;    // without the closing "/"
    CRukString skinurl;    // without the closing "/"
    CRukString ngfile;     // "data/..." or empty
    CRukString writeCode;  // the code of a typed posting password, or empty
};

// The data directory and the skin of the board page, or the end of the
// request: the data directory must be the board's own below data/ and
// take a lock file, the skin must hold its templates. A skin without an
// address gets the one of its directory.
void CRukBBSFormConf::RequireDataAndSkin(const CRukForm& form, SBoardTyped& typed)
{
    const char* pDataDir = CRukSettingKeys::Row(kBoardDataDir).pName;
    typed.skindir =
        CRukStrPath::Normalize(form.Value(CRukSettingKeys::Row(kBoardSkinDir).pName).GetText());
    typed.skinurl = NormalizeUrl(Trimmed(form, CRukSettingKeys::Row(kBoardSkinUrl).pName));
    go.m_log.Trace("submit_config -- SkinDir(%s) SkinUrl(%s) DataDir(%s)",
                   typed.skindir.GetText(), typed.skinurl.GetText(),
                   form.Value(pDataDir).GetText());
    if (Trimmed(form, pDataDir).IsEmpty())
        MessageKey(kMsgNoDataDir);
    if (typed.skindir.IsEmpty())
        MessageKey(kMsgNoSkinDir);
    typed.datadir = CheckDataDir(form.Value(pDataDir), typed.skindir);
    if (CRukStrPath::Normalize(typed.datadir.GetText()) == typed.skindir)
        MessageKey(kMsgDataDirIsSkinDir);
    RequireLockFile(typed.datadir);
    if (!Exists(typed.skindir))
        MessageKey(kMsgSkinDirMissing);
    for (const char* pName : s_rgSkinTemplates)
        if (!Exists(typed.skindir + "/" + pName))
            MessageKey(kMsgSkinIncomplete);
    if (typed.skinurl.IsEmpty())
        typed.skinurl = ServerPath2UrlDir((typed.skindir + "/").GetText(), 1);
}

// The lock test of a data directory. A lock file that was there before
// stays: another process may be holding it.
void CRukBBSFormConf::RequireLockFile(const CRukString& datadir)
{
    CRukString lockPath = datadir + s_pLockName;
    bool bHadLock = Exists(lockPath);
    {
        CRukFlock lock;
        int r = lock.Lock(lockPath.GetText());
        if (r == -2)
            MessageKey(kMsgBusy);
        if (r == -1)
            MessageKey(kMsgDataDirNoLock);
        (void)lock.Unlock();
    }
    if (!bHadLock && unlink(lockPath.GetText()) != 0)
        go.m_log.Trace("-- unlink(%s) failed", lockPath.GetText());
}

// The addresses that go into attributes (the skin's and the URL rows'),
// or the end of the request.
void CRukBBSFormConf::RequireSafeUrls(const CRukForm& form, const SBoardTyped& typed)
{
    if (!IsSafeUrlText(typed.skinurl))
        MessageKey(kMsgBadAddress);
    for (const SRukSettingKey& row : CRukSettingKeys::Board())
        if (row.nKind == ERukSettingKind::Url && !IsSafeUrlText(Trimmed(form, row.pName)))
            MessageKey(kMsgBadAddress);
}

// The value the board page stores for one of its rows. Markup is the
// site administrator's (it runs on the site's origin, beside these
// pages): a board's own session keeps what is stored. The posting
// password: left empty it stays, the check box clears it, a typed one is
// stored as a code.
CRukString CRukBBSFormConf::BoardPageValue(const SRukSettingKey& row, const CRukForm& form,
                                           const SBoardTyped& typed,
                                           const CRukConfig& stored) const
{
    CRukString sent = form.Value(row.pName);
    switch (row.nKind) {
    case ERukSettingKind::Line:
    case ERukSettingKind::Url:
    case ERukSettingKind::DenyFile: return sent.Trim();
    case ERukSettingKind::Switch: return sent == "1" ? "1" : "";
    case ERukSettingKind::Number: return CRukSettingKeys::Clamped(row, sent, m_cfSystem);
    case ERukSettingKind::DataDir: return typed.datadir;
    case ERukSettingKind::SkinDir: return typed.skindir + "/";
    case ERukSettingKind::SkinUrl: return typed.skinurl + "/";
    case ERukSettingKind::ListFile: return typed.ngfile;
    case ERukSettingKind::Markup: return IsAdmin() ? sent : stored.Value(row.pName);
    case ERukSettingKind::Code:
        if (form.Data((CRukString(row.pName) + "_clear").GetText()))
            return CRukString();
        return typed.writeCode.IsEmpty() ? stored.Value(row.pName) : typed.writeCode;
    default: return sent;  // text and mail addresses as typed
    }
}

// Saves a board's settings after checking the data directory, the skin,
// the addresses, the title and the NG-word file. The board's password is
// changed on its own form.
void CRukBBSFormConf::SubmitConfig(CRukForm& form)
{
    ReadBoardSettings();
    SBoardTyped typed;
    RequireDataAndSkin(form, typed);
    RequireSafeUrls(form, typed);
    if (form.Value(CRukSettingKeys::Row(kBoardTitle).pName).IsEmpty())
        MessageKey(kMsgNoTitle);
    typed.ngfile = CheckNgFile(form.Value(CRukSettingKeys::Row(kBoardNgFile).pName));
    typed.writeCode =
        CRukCrypt::Hash(form.Value(CRukSettingKeys::Row(kBoardWritePasswd).pName).GetText());

    RequireUpdate(BoardSettingsPath().GetText(), kMsgNoSuchBoard, kMsgSettingsNotWritten,
                  [&](CRukConfig& cf) {
                      for (const SRukSettingKey& row : CRukSettingKeys::Board())
                          if (row.pPageTag && row.nKind != ERukSettingKind::Login)
                              cf.SetAt(row.pName, BoardPageValue(row, form, typed, cf).GetText());
                      return true;
                  },
                  &m_cfBBS);
    m_strSkinDir = typed.skindir + "/";
    m_strSkinUrl = typed.skinurl + "/";
    Notice(kMsgBoardSaved);
}
