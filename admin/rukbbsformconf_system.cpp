// CRukBBSFormConf: the system settings page with the board registry, and
// the actions that save the system settings, add a board and remove one.
#include "rukbbsformconf.h"

#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

static const TagKey s_rgSysValueTags[] = {
    {"%SENDMAIL%", "sendmail"},       {"%PASSWD%", "passwd"},
    {"%BBS_TITLE%", "bbs_title"},     {"%NEW_TIME%", "new_time"},
    {"%TIMELAG_HH%", "timelag_hh"},   {"%TIMELAG_MM%", "timelag_mm"},
    {"%PAGE_PPNUM%", "page_ppnum"},   {"%PAGE_PPNUM2%", "page_ppnum2"},
    {"%ATTACH_NUM%", "attach_num"},   {"%ATTACH_SIZE%", "attach_size"},
    {"%EMBED_SIZE%", "embed_size"},   {"%LOG_MAX%", "log_max"},
    {"%ICON_MAX%", "icon_max"},       {"%ATTACH_MAX%", "attach_max"},
    {"%LOG_LIMIT%", "log_limit"},     {"%USER_HEADER%", "user_header"},
    {"%USER_FOOTER%", "user_footer"},
};

static const TagKey s_rgSysCheckTags[] = {
    {"%NEW_ORDER_CHECKED%", "new_order"}, {"%ATTACH_CHECKED%", "use_attach"},
    {"%EMBED_CHECKED%", "attach_embed"},  {"%ICON_CHECKED%", "use_icon"},
    {"%LOGDEL_CHECKED%", "log_del"},
};

// The system limits, stored before the fields they bound.
static const NumField s_rgSysLimits[] = {
    {"icon_max", 1, INT_MAX, nullptr},
    {"attach_max", 1, INT_MAX, nullptr},
    {"log_limit", 1, INT_MAX, nullptr},
};

// System text fields stored as sent, and the default switches.
static const char* const s_rgSysSentFields[] = {
    "bbs_title", "user_header", "user_footer",
    "new_order", "use_attach", "attach_embed", "use_icon", "log_del",
};

// Where a value of a new board's settings comes from.
enum NewBoardSource { NEW_SYSTEM, NEW_EMPTY, NEW_SKINDIR, NEW_SKINURL, NEW_DENYFILE };

static const struct {
    const char* pKey;
    NewBoardSource nSource;
} s_rgNewBoard[] = {
    {"passwd", NEW_SYSTEM},       {"owner_mail", NEW_EMPTY},    {"use_mail", NEW_EMPTY},
    {"bbs_title", NEW_SYSTEM},    {"datadir", NEW_EMPTY},       {"skindir", NEW_SKINDIR},
    {"skinurl", NEW_SKINURL},     {"stylesheet", NEW_EMPTY},    {"new_image", NEW_EMPTY},
    {"new_time", NEW_SYSTEM},     {"timelag_hh", NEW_SYSTEM},   {"timelag_mm", NEW_SYSTEM},
    {"user_header", NEW_SYSTEM},  {"user_footer", NEW_SYSTEM},  {"home_url", NEW_EMPTY},
    {"page_ppnum", NEW_SYSTEM},   {"page_ppnum2", NEW_SYSTEM},  {"new_order", NEW_SYSTEM},
    {"attach_num", NEW_SYSTEM},   {"attach_size", NEW_SYSTEM},  {"embed_size", NEW_SYSTEM},
    {"use_attach", NEW_SYSTEM},   {"attach_embed", NEW_SYSTEM}, {"use_icon", NEW_SYSTEM},
    {"log_max", NEW_SYSTEM},      {"log_del", NEW_SYSTEM},      {"denyfile", NEW_DENYFILE},
};

// The choices of the permission mode selects.
static const char* const s_rgFileModes[] = {"666", "606", "600"};
static const char* const s_rgDirModes[] = {"777", "707", "700"};

// Builds a permission mode select with the current mode marked.
static CRukString BuildModeSelect(const char* pName, const char* const* pModes, size_t n,
                                  int nCurrent)
{
    CRukString out;
    out.Format("<select name=%s>\n", pName);
    for (size_t i = 0; i < n; i++) {
        bool bSelected = static_cast<int>(strtol(pModes[i], nullptr, 8)) == nCurrent;
        CRukString line;
        line.Format("<option value=%s%s>%s</option>\n", pModes[i], bSelected ? " selected" : "",
                    pModes[i]);
        out += line;
    }
    out += "</select>\n";
    return out;
}

// The system settings page with the board list.
void CRukBBSFormConf::ConfigSysForm(CRukForm& form, bool bShowPasswd)
{
    (void)form;
    m_strTitle = EscapeHtml(m_cfSystem.Value("bbs_title").GetText());
    CRukString page = GetTemplate((m_strConfDir + "templ_config_sys.html").GetText());

    CRukStrAry files;
    int n = CRukDir::GetFileNameList(files, s_pRegistry, false, true);
    go.m_log.Trace("-- %s filenum=%d", s_pRegistry, n);
    files.Sort(0);
    CRukStrAry boards;
    for (int i = 0; i < files.GetSize(); i++) {
        CRukStrPath path;
        path.Split(files[i].GetText());
        boards.Add(path.GetTitle());
    }

    TagList tags;
    tags.push_back({"%SELECT_BBS%", BuildSelect("bid", boards, m_strBBSID), true});
    tags.push_back({"%SELECT_F_MODE%",
                    BuildModeSelect("fmode666", s_rgFileModes, 3, go.m_nFileMode), false});
    tags.push_back({"%SELECT_D_MODE%",
                    BuildModeSelect("fmode777", s_rgDirModes, 3, go.m_nDirMode), false});
    AddValueTags(tags, s_rgSysValueTags, sizeof(s_rgSysValueTags) / sizeof(s_rgSysValueTags[0]),
                 m_cfSystem);
    // The default board password is shown only to whoever proved the
    // administrator's password in this request.
    if (!bShowPasswd)
        for (TagText& t : tags)
            if (strcmp(t.pTag, "%PASSWD%") == 0)
                t.text.Free();
    AddCheckTags(tags, s_rgSysCheckTags, sizeof(s_rgSysCheckTags) / sizeof(s_rgSysCheckTags[0]),
                 m_cfSystem);
    WritePage(FillTags(page, tags));
}

// ---------------------------------------------------------------------------
// System settings and the board registry

// Saves the system settings with their numbers clamped.
void CRukBBSFormConf::SubmitSys(CRukForm& form)
{
    CheckAdminPasswd(form);
    struct {
        const char* pKey;
        int* pMode;
    } rgModes[] = {{"fmode666", &go.m_nFileMode}, {"fmode777", &go.m_nDirMode}};
    for (const auto& m : rgModes) {
        CRukString value = form.Value(m.pKey);
        if (value.IsEmpty())
            m_cfSystem.SetAt(m.pKey, "");
        else if (ParseMode(value.GetText(), *m.pMode))
            m_cfSystem.SetAt(m.pKey, value.GetText());
    }
    m_cfSystem.SetAt("sendmail", Trimmed(form, "sendmail").GetText());
    // An empty default password would make new boards unusable; it also
    // comes back empty from a page that was not allowed to show it.
    CRukString passwd = Trimmed(form, "passwd");
    if (!passwd.IsEmpty())
        m_cfSystem.SetAt("passwd", passwd.GetText());
    for (const NumField& f : s_rgSysLimits)
        m_cfSystem.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, m_cfSystem).GetText());
    for (const NumField& f : s_rgNumFields)
        m_cfSystem.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, m_cfSystem).GetText());
    for (const char* pKey : s_rgSysSentFields)
        m_cfSystem.SetAt(pKey, form.Value(pKey).GetText());
    if (m_cfSystem.WriteFile(s_pSystemFile, true) < 0)
        MessageKey("msg90");
    ConfigSysForm(form, true);
}

// Registers a new board with the system defaults and, when asked, creates
// its data directory.
void CRukBBSFormConf::SubmitAdd(CRukForm& form)
{
    CheckAdminPasswd(form);
    m_strBBSID.Free();
    CRukString bbsid = form.Value("bbsid");
    if (bbsid.IsEmpty())
        MessageKey("msg05");
    if (!IsSafeName(bbsid.GetText()))
        MessageKey("msg98");
    CRukString path = CRukString(s_pRegistry) + "/" + bbsid + ".conf";
    if (CRukFile::GetFileSize(path.GetText()) > 0)
        MessageKey("msg04");

    CRukConfig conf(true);
    for (const auto& e : s_rgNewBoard) {
        switch (e.nSource) {
        case NEW_SYSTEM: conf.SetAt(e.pKey, m_cfSystem.Value(e.pKey).GetText()); break;
        case NEW_EMPTY: conf.SetAt(e.pKey, ""); break;
        case NEW_SKINDIR: conf.SetAt(e.pKey, m_strSkinDir.GetText()); break;
        case NEW_SKINURL: conf.SetAt(e.pKey, m_strSkinUrl.GetText()); break;
        case NEW_DENYFILE: conf.SetAt(e.pKey, "ruk-deny.cgi"); break;
        }
    }
    int r = conf.WriteFile(path.GetText(), false);
    if (r == -2)
        MessageKey("msg90");
    if (r < 0)
        MessageKey("msg06");
    chmod(path.GetText(), go.m_nFileMode);

    if (form.Data("datadir_make")) {
        CRukString dir = m_strDataDir + bbsid + "/";
        MakeDir(dir);
        conf.SetAt("datadir", dir.GetText());
        if (conf.WriteFile(path.GetText(), false) < 0)
            MessageKey("msg06");
    }
    m_strBBSID = bbsid;
    ConfigSysForm(form, true);
}

// Removes a board's settings file and, when asked, its data directory.
void CRukBBSFormConf::SubmitDel(CRukForm& form)
{
    CheckAdminPasswd(form);
    m_strBBSID.Free();
    CRukString bbsid = form.Value("bbsid");
    if (bbsid.IsEmpty())
        MessageKey("msg05");
    if (!IsSafeName(bbsid.GetText()))
        MessageKey("msg98");
    CRukString path = CRukString(s_pRegistry) + "/" + bbsid + ".conf";
    int r = m_cfBBS.ReadFile(path.GetText(), true);
    if (r == -2)
        MessageKey("msg90");
    if (r == -1)
        MessageKey("msg11");
    m_strDataDir = m_cfBBS.Value("datadir");
    go.m_log.Trace("submit_del -- DataDir(%s)", m_strDataDir.GetText());

    if (form.Data("datadir_del") && !m_strDataDir.IsEmpty()) {
        CRukString dir = CRukStrPath::Normalize(m_strDataDir.GetText());
        if (dir.IsEmpty() || IsSiteInside(dir.GetText(), m_cfBBS.Value("skindir").GetText()))
            MessageKey("msg10");
        RemoveTree(dir);
    }
    unlink(path.GetText());
    ConfigSysForm(form, true);
}

