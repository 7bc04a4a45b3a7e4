// CRukBBSFormConf: a board's settings page and the action that saves it;
// with no button, a board id shows one of the board's pages. The
// administrator's session or one of the board comes here.
#include "rukbbsformconf.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

static const TagKey s_rgBBSValueTags[] = {
    {"%OWNER_MAIL%", "owner_mail"},       {"%CC_MAIL%", "cc_mail"},
    {"%BBS_TITLE%", "bbs_title"},         {"%DATADIR%", "datadir"},
    {"%SKINDIR%", "skindir"},             {"%SKINURL%", "skinurl"},
    {"%STYLESHEET%", "stylesheet"},       {"%NEW_IMAGE%", "new_image"},
    {"%NEW_TIME%", "new_time"},           {"%TIMELAG_HH%", "timelag_hh"},
    {"%TIMELAG_MM%", "timelag_mm"},       {"%HOME%", "home_url"},
    {"%PAGE_PPNUM%", "page_ppnum"},       {"%PAGE_PPNUM2%", "page_ppnum2"},
    {"%ATTACH_NUM%", "attach_num"},       {"%ATTACH_SIZE%", "attach_size"},
    {"%EMBED_SIZE%", "embed_size"},       {"%LOG_MAX%", "log_max"},
    {"%USER_HEADER%", "user_header"},     {"%USER_FOOTER%", "user_footer"},
    {"%DENYFILE%", "denyfile"},           {"%MESS_MAX%", "mess_max"},
    {"%POST_INTERVAL%", "post_interval"}, {"%POST_BURST%", "post_burst"},
    {"%LINK_MAX%", "link_max"},           {"%NGFILE%", "ngfile"},
    {"%ADMIN_NAME%", "admin_name"},
};

static const TagKey s_rgBBSCheckTags[] = {
    {"%MAIL_CHECKED%", "use_mail"},          {"%NEW_ORDER_CHECKED%", "new_order"},
    {"%ATTACH_CHECKED%", "use_attach"},      {"%EMBED_CHECKED%", "attach_embed"},
    {"%ICON_CHECKED%", "use_icon"},          {"%LOGDEL_CHECKED%", "log_del"},
    {"%JAPANESE_CHECKED%", "need_japanese"}, {"%ARCHIVE_CHECKED%", "log_archive"},
    {"%REDIRECT_CHECKED%", "post_redirect"},
};

// System limits shown on the board page.
static const TagKey s_rgBBSSystemTags[] = {
    {"%ATTACH_MAX%", "attach_max"},
    {"%LOG_LIMIT%", "log_limit"},
};

// The posting limits of a board. Left empty, a limit is off, as it is for
// a board whose settings lack it.
static const NumField s_rgLimitFields[] = {
    {"mess_max", 100, 200000, nullptr, true},
    {"post_interval", 0, 3600, nullptr, true},
    {"post_burst", 1, 1000, nullptr, true},
    {"link_max", 0, 100, nullptr, true},
};

// How a board setting is saved from the board page.
// SAVE_MARKUP: HTML that board pages show as it is written. A script in
// it would run on the site's own origin, beside the administration pages,
// so only the site administrator may change it; a board's own session
// keeps what is stored.
enum SaveKind { SAVE_SENT, SAVE_TRIM, SAVE_URL, SAVE_SWITCH, SAVE_DATADIR, SAVE_SKINDIR,
                SAVE_SKINURL, SAVE_NUMBER, SAVE_WRITE_PASSWD, SAVE_NGFILE, SAVE_MARKUP };

static const struct {
    const char* pKey;
    SaveKind nKind;
} s_rgBoardSave[] = {
    {"use_mail", SAVE_SWITCH},       {"owner_mail", SAVE_SENT},
    {"cc_mail", SAVE_SENT},          {"bbs_title", SAVE_SENT},
    {"datadir", SAVE_DATADIR},       {"skindir", SAVE_SKINDIR},
    {"skinurl", SAVE_SKINURL},       {"stylesheet", SAVE_URL},
    {"new_image", SAVE_URL},         {"new_time", SAVE_NUMBER},
    {"timelag_hh", SAVE_NUMBER},     {"timelag_mm", SAVE_NUMBER},
    {"user_header", SAVE_MARKUP},    {"user_footer", SAVE_MARKUP},
    {"home_url", SAVE_URL},          {"page_ppnum", SAVE_NUMBER},
    {"page_ppnum2", SAVE_NUMBER},    {"new_order", SAVE_SWITCH},
    {"attach_num", SAVE_NUMBER},     {"attach_size", SAVE_NUMBER},
    {"embed_size", SAVE_NUMBER},     {"use_attach", SAVE_SWITCH},
    {"attach_embed", SAVE_SWITCH},   {"use_icon", SAVE_SWITCH},
    {"log_max", SAVE_NUMBER},        {"log_del", SAVE_SWITCH},
    {"denyfile", SAVE_TRIM},         {"write_passwd", SAVE_WRITE_PASSWD},
    {"mess_max", SAVE_NUMBER},       {"post_interval", SAVE_NUMBER},
    {"post_burst", SAVE_NUMBER},     {"need_japanese", SAVE_SWITCH},
    {"link_max", SAVE_NUMBER},       {"ngfile", SAVE_NGFILE},
    {"log_archive", SAVE_SWITCH},    {"post_redirect", SAVE_SWITCH},
    {"admin_name", SAVE_TRIM},
};

// Templates a board's skin must hold.
static const char* const s_rgSkinTemplates[] = {"templ_bbs.html", "templ_ico.html",
                                                "templ_info.html"};

// The skin URL normalised as a path; the "//" of a scheme stays.
static CRukString NormalizeUrl(const CRukString& url)
{
    int nScheme = url.Find("://");
    if (nScheme <= 0)
        return CRukStrPath::Normalize(url.GetText());
    CRukString rest = CRukStrPath::Normalize(url.Mid(nScheme + 3).GetText());
    return url.Left(nScheme + 3) + rest;
}

// Loads the current board's settings and takes its skin for the pages; a
// held lock or a missing file ends the request. An address that is unsafe
// in an attribute (stored by an older version) is left out of the pages.
void CRukBBSFormConf::ReadBoardSettings()
{
    int r = m_cfBBS.ReadFile(BoardSettingsPath().GetText(), true);
    if (r == -2)
        MessageKey("msg90");
    if (r == -1)
        MessageKey("msg11");
    for (const char* pKey : {"skinurl", "stylesheet"})
        if (!IsSafeUrlText(m_cfBBS.Value(pKey)))
            m_cfBBS.SetAt(pKey, "");
    m_strSkinDir = m_cfBBS.Value("skindir");
    m_strSkinUrl = m_cfBBS.Value("skinurl");
}

// A board's settings page; the caller has loaded the board's settings. The
// password codes are never shown, only whether they are set.
void CRukBBSFormConf::ConfigBBSForm(CRukForm& form)
{
    (void)form;
    m_strTitle = m_cfBBS.Value("bbs_title");
    CRukString page = GetTemplate((m_strConfDir + "templ_config_bbs.html").GetText());
    TagList tags;
    AddValueTags(tags, s_rgBBSValueTags, sizeof(s_rgBBSValueTags) / sizeof(s_rgBBSValueTags[0]),
                 m_cfBBS);
    AddCheckTags(tags, s_rgBBSCheckTags, sizeof(s_rgBBSCheckTags) / sizeof(s_rgBBSCheckTags[0]),
                 m_cfBBS);
    AddValueTags(tags, s_rgBBSSystemTags,
                 sizeof(s_rgBBSSystemTags) / sizeof(s_rgBBSSystemTags[0]), m_cfSystem);
    tags.push_back({"%BID%", EscapeHtml(m_strBBSID.GetText()), true});
    tags.push_back({"%WRITE_PASSWD%", "", true});
    tags.push_back({"%WRITE_PASSWD_STATE%", PasswordState(m_cfBBS.Value("write_passwd")), true});
    tags.push_back({"%BOARD_PASSWD_STATE%", PasswordState(m_cfBBS.Value("passwd")), true});
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// Board settings

// Saves a board's settings after checking the data directory, the skin,
// the addresses and the NG-word file. The board's password is changed on
// its own form; the posting password is never shown: left empty it stays,
// the check box clears it, a typed one is stored as a code.
void CRukBBSFormConf::SubmitConfig(CRukForm& form)
{
    ReadBoardSettings();
    CRukString skindir = CRukStrPath::Normalize(form.Value("skindir").GetText());
    CRukString skinurl = NormalizeUrl(Trimmed(form, "skinurl"));
    go.m_log.Trace("submit_config -- SkinDir(%s) SkinUrl(%s) DataDir(%s)", skindir.GetText(),
                   skinurl.GetText(), form.Value("datadir").GetText());
    if (Trimmed(form, "datadir").IsEmpty())
        MessageKey("msg07");
    if (skindir.IsEmpty())
        MessageKey("msg16");
    CRukString datadir = CheckDataDir(form.Value("datadir"), skindir);
    if (CRukStrPath::Normalize(datadir.GetText()) == skindir)
        MessageKey("msg19");

    // Lock test. A lock file that was there before stays: another process
    // may be holding it.
    CRukString lockPath = datadir + s_pLockName;
    bool bHadLock = Exists(lockPath);
    {
        CRukFlock lock;
        int r = lock.Lock(lockPath.GetText());
        if (r == -2)
            MessageKey("msg90");
        if (r == -1)
            MessageKey("msg09");
        (void)lock.Unlock();
    }
    if (!bHadLock && unlink(lockPath.GetText()) != 0)
        go.m_log.Trace("-- unlink(%s) failed", lockPath.GetText());

    if (!Exists(skindir))
        MessageKey("msg17");
    for (const char* pName : s_rgSkinTemplates)
        if (!Exists(skindir + "/" + pName))
            MessageKey("msg18");
    if (skinurl.IsEmpty())
        skinurl = ServerPath2UrlDir((skindir + "/").GetText(), 1);
    for (const CRukString& url : {skinurl, Trimmed(form, "stylesheet"),
                                  Trimmed(form, "new_image"), Trimmed(form, "home_url")})
        if (!IsSafeUrlText(url))
            MessageKey("msg80");
    if (form.Value("bbs_title").IsEmpty())
        MessageKey("msg15");
    CRukString ngfile = CheckNgFile(form.Value("ngfile"));

    CRukStrMap numbers;
    for (const NumField& f : s_rgNumFields)
        numbers.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, m_cfSystem).GetText());
    for (const NumField& f : s_rgLimitFields)
        numbers.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, m_cfSystem).GetText());
    CRukString writeCode = CRukCrypt::Hash(form.Value("write_passwd").GetText());
    bool bClearWrite = form.Data("write_passwd_clear") != nullptr;

    RequireUpdate(BoardSettingsPath().GetText(), "msg11", "msg06", [&](CRukConfig& cf) {
        for (const auto& e : s_rgBoardSave) {
            CRukString value;
            switch (e.nKind) {
            case SAVE_SENT: value = form.Value(e.pKey); break;
            case SAVE_TRIM:
            case SAVE_URL: value = Trimmed(form, e.pKey); break;
            case SAVE_SWITCH: value = form.Value(e.pKey) == "1" ? "1" : ""; break;
            case SAVE_DATADIR: value = datadir; break;
            case SAVE_SKINDIR: value = skindir + "/"; break;
            case SAVE_SKINURL: value = skinurl + "/"; break;
            case SAVE_NUMBER: value = numbers.Value(e.pKey); break;
            case SAVE_WRITE_PASSWD:
                value = bClearWrite ? CRukString()
                                    : writeCode.IsEmpty() ? cf.Value(e.pKey) : writeCode;
                break;
            case SAVE_NGFILE: value = ngfile; break;
            case SAVE_MARKUP: value = IsAdmin() ? form.Value(e.pKey) : cf.Value(e.pKey); break;
            }
            cf.SetAt(e.pKey, value.GetText());
        }
        return true;
    }, &m_cfBBS);
    m_strSkinDir = skindir + "/";
    m_strSkinUrl = skinurl + "/";
    Notice("msg84");
    ConfigBBSForm(form);
}

// No button: the board's settings, icon list, old-log or moderation page
// by mode.
void CRukBBSFormConf::ShowBoard(CRukForm& form)
{
    ReadBoardSettings();
    CRukString mode = form.Value("mode");
    if (mode == "icon")
        ConfigIcoForm(form);
    else if (mode == "kako")
        ConfigOldForm(form);
    else if (mode == "mod")
        ConfigModForm(form);
    else
        ConfigBBSForm(form);
}
