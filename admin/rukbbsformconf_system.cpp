// CRukBBSFormConf: the system settings page with the board registry, and
// the actions that save the system settings, add a board and remove one.
// Only the administrator's session comes here.
#include "rukbbsformconf.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

static const TagKey s_rgSysValueTags[] = {
    {"%SENDMAIL%", "sendmail"},       {"%MAIL_FROM%", "mail_from"},
    {"%SITE_URL%", "site_url"},       {"%BBS_TITLE%", "bbs_title"},
    {"%NEW_TIME%", "new_time"},       {"%TIMELAG_HH%", "timelag_hh"},
    {"%TIMELAG_MM%", "timelag_mm"},   {"%PAGE_PPNUM%", "page_ppnum"},
    {"%PAGE_PPNUM2%", "page_ppnum2"}, {"%ATTACH_NUM%", "attach_num"},
    {"%ATTACH_SIZE%", "attach_size"}, {"%EMBED_SIZE%", "embed_size"},
    {"%LOG_MAX%", "log_max"},         {"%ICON_MAX%", "icon_max"},
    {"%ATTACH_MAX%", "attach_max"},   {"%LOG_LIMIT%", "log_limit"},
    {"%USER_HEADER%", "user_header"}, {"%USER_FOOTER%", "user_footer"},
};

static const TagKey s_rgSysCheckTags[] = {
    {"%NEW_ORDER_CHECKED%", "new_order"}, {"%ATTACH_CHECKED%", "use_attach"},
    {"%EMBED_CHECKED%", "attach_embed"},  {"%ICON_CHECKED%", "use_icon"},
    {"%LOGDEL_CHECKED%", "log_del"},
};

// The system limits, stored before the fields they bound.
static const NumField s_rgSysLimits[] = {
    {"icon_max", 1, INT_MAX, nullptr, false},
    {"attach_max", 1, INT_MAX, nullptr, false},
    {"log_limit", 1, INT_MAX, nullptr, false},
};

// System text fields stored as sent, and the default switches.
static const char* const s_rgSysSentFields[] = {
    "bbs_title", "user_header", "user_footer",
    "new_order", "use_attach", "attach_embed", "use_icon", "log_del",
};

// Where a value of a new board's settings comes from: the system value
// (or pDefault when the system has none), pDefault itself, the skin, the
// board's NG-word file.
enum NewBoardSource { NEW_SYSTEM, NEW_FIXED, NEW_SKINDIR, NEW_SKINURL, NEW_NGFILE };

static const struct {
    const char* pKey;
    NewBoardSource nSource;
    const char* pDefault;
} s_rgNewBoard[] = {
    {"owner_mail", NEW_FIXED, ""},          {"use_mail", NEW_FIXED, ""},
    {"bbs_title", NEW_SYSTEM, ""},          {"datadir", NEW_FIXED, ""},
    {"skindir", NEW_SKINDIR, ""},           {"skinurl", NEW_SKINURL, ""},
    {"stylesheet", NEW_FIXED, ""},          {"new_image", NEW_FIXED, ""},
    {"new_time", NEW_SYSTEM, ""},           {"timelag_hh", NEW_SYSTEM, ""},
    {"timelag_mm", NEW_SYSTEM, ""},         {"user_header", NEW_SYSTEM, ""},
    {"user_footer", NEW_SYSTEM, ""},        {"home_url", NEW_FIXED, ""},
    {"page_ppnum", NEW_SYSTEM, ""},         {"page_ppnum2", NEW_SYSTEM, ""},
    {"new_order", NEW_SYSTEM, ""},          {"attach_num", NEW_SYSTEM, ""},
    // Room for a phone's photos.
    {"attach_size", NEW_SYSTEM, "10240"},   {"embed_size", NEW_SYSTEM, "10240"},
    {"use_attach", NEW_SYSTEM, ""},         {"attach_embed", NEW_SYSTEM, ""},
    {"use_icon", NEW_SYSTEM, ""},           {"log_max", NEW_SYSTEM, ""},
    {"log_del", NEW_SYSTEM, ""},            {"denyfile", NEW_FIXED, "ruk-deny.cgi"},
    // The posting limits of a new board.
    {"mess_max", NEW_FIXED, "10000"},       {"post_interval", NEW_FIXED, "20"},
    {"post_burst", NEW_FIXED, "10"},        {"need_japanese", NEW_FIXED, "1"},
    {"link_max", NEW_FIXED, "3"},           {"ngfile", NEW_NGFILE, ""},
    {"log_archive", NEW_FIXED, "1"},        {"post_redirect", NEW_FIXED, "1"},
    {"admin_name", NEW_FIXED, ""},
};

// The choices of the permission mode selects, and what each allows (the
// same for a file mode and its directory mode).
static const char* const s_rgFileModes[] = {"666", "606", "600"};
static const char* const s_rgDirModes[] = {"777", "707", "700"};
static const char* const s_rgModeTexts[] = {
    "\x81i\x82\xb7\x82\xd7\x82\xc4\x93\xc7\x82\xdd\x8f\x91\x82\xab\x89\xc2\x81j",  // （すべて読み書き可）
    "\x81i\x83O\x83\x8b\x81[\x83v\x88\xc8\x8aO\x82\xcd\x93\xc7\x82\xdd\x8f\x91\x82\xab"
    "\x89\xc2\x81j",  // （グループ以外は読み書き可）
    "\x81i\x8f\x8a\x97L\x8e\xd2\x82\xcc\x82\xdd\x93\xc7\x82\xdd\x8f\x91\x82\xab\x89\xc2"
    "\x81j",  // （所有者のみ読み書き可）
};

// Builds a permission mode select with the current mode marked.
static CRukString BuildModeSelect(const char* pName, const char* pId, const char* const* pModes,
                                  size_t n, int nCurrent)
{
    CRukString out;
    out.Format("<select id=\"%s\" name=%s>\n", pId, pName);
    for (size_t i = 0; i < n; i++) {
        bool bSelected = static_cast<int>(strtol(pModes[i], nullptr, 8)) == nCurrent;
        CRukString line;
        line.Format("<option value=%s%s>%s%s</option>\n", pModes[i], bSelected ? " selected" : "",
                    pModes[i], s_rgModeTexts[i]);
        out += line;
    }
    out += "</select>\n";
    return out;
}

// The stored form of the default board password: a code stays as it is;
// the plain password of an older installation (a stored value that
// verifies against itself) becomes a fresh code of it.
static CRukString AsCode(const CRukString& stored)
{
    if (stored.IsEmpty() || !CRukCrypt::Verify(stored.GetText(), stored.GetText()))
        return stored;
    return CRukCrypt::Hash(stored.GetText());
}

// The registered boards: the names of the registry's settings files.
static CRukStrAry RegisteredBoards()
{
    CRukStrAry files;
    int n = CRukDir::GetFileNameList(files, s_pRegistry, false, true);
    go.m_log.Trace("-- %s filenum=%d", s_pRegistry, n);
    files.Sort(0);
    CRukStrAry boards;
    for (int i = 0; i < files.GetSize(); i++) {
        CRukStrPath path;
        path.Split(files[i].GetText());
        if (path.GetExt() == ".conf" && CRukBBSFormBase::IsSafeName(path.GetTitle().GetText()))
            boards.Add(path.GetTitle());
    }
    return boards;
}

// The rows of the board list: one of the marked pattern per board, with
// its id and title.
static CRukString BoardRows(const CRukString& pattern, const CRukStrAry& boards)
{
    CRukBuffer rows;
    for (int i = 0; i < boards.GetSize(); i++) {
        CRukConfig cf(true);
        CRukString path = CRukString(s_pRegistry) + "/" + boards[i] + ".conf";
        if (cf.ReadFile(path.GetText(), false) < 0)
            go.m_log.Trace("-- %s cannot be read", path.GetText());
        TagList tags = {
            {"%ROW_BID%", CRukBBSFormBase::EscapeHtml(boards[i].GetText()), true},
            {"%ROW_TITLE%", CRukBBSFormBase::EscapeHtml(cf.Value("bbs_title").GetText()), true},
        };
        CRukString row = ::FillTags(pattern, tags);
        rows.Append(row.GetText(), static_cast<unsigned>(row.GetLength()));
    }
    return BufferText(rows);
}

// The system settings page with the board list.
void CRukBBSFormConf::ConfigSysForm(CRukForm& form)
{
    (void)form;
    m_strTitle = m_cfSystem.Value("bbs_title");
    CRukString page = GetTemplate((m_strConfDir + "templ_config_sys.html").GetText());
    CRukStrAry boards = RegisteredBoards();
    static const char* const pBegin = "<!--TR_BOARD-->";
    static const char* const pEnd = "<!--/TR_BOARD-->";
    CRukString rows = BoardRows(page.GetToken(pBegin, pEnd), boards);
    page.Replace(pBegin, pEnd, "%BOARD_ROWS%", false);
    KeepBlock(page, "ASK_DEL", !m_strAskBoard.IsEmpty());
    KeepBlock(page, "BOARDS", boards.GetSize() > 0);
    KeepBlock(page, "NO_BOARDS", boards.GetSize() == 0);
    TagList tags;
    tags.push_back({"%BOARD_ROWS%", rows, false});
    tags.push_back({"%SELECT_BBS%", BuildSelect("bid", boards, m_strBBSID), true});
    tags.push_back({"%SELECT_F_MODE%",
                    BuildModeSelect("fmode666", "sys_fmode", s_rgFileModes, 3, go.m_nFileMode),
                    false});
    tags.push_back({"%SELECT_D_MODE%",
                    BuildModeSelect("fmode777", "sys_dmode", s_rgDirModes, 3, go.m_nDirMode),
                    false});
    if (!m_strAskBoard.IsEmpty()) {
        CRukString question = m_cfMessage.Value(m_bAskBoardData ? "msg102" : "msg101");
        question.Replace("%ID%", m_strAskBoard.GetText(), true);
        tags.push_back({"%ASK_TEXT%", EscapeHtml(question.GetText()), false});
        tags.push_back({"%ASK_BBSID%", EscapeHtml(m_strAskBoard.GetText()), false});
        tags.push_back({"%ASK_DATA%", m_bAskBoardData ? "1" : "", false});
    }
    AddValueTags(tags, s_rgSysValueTags, sizeof(s_rgSysValueTags) / sizeof(s_rgSysValueTags[0]),
                 m_cfSystem);
    AddCheckTags(tags, s_rgSysCheckTags, sizeof(s_rgSysCheckTags) / sizeof(s_rgSysCheckTags[0]),
                 m_cfSystem);
    tags.push_back({"%DEFAULT_PASSWD_STATE%", PasswordState(m_cfSystem.Value("passwd")), true});
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// System settings and the board registry

// True for one mail address: one "@" with text on both sides, printable
// ASCII only, none of the blanks and list, comment or quoting characters
// that would let it name more than one address or start another header.
bool CRukBBSFormConf::IsOneAddress(const char* pText)
{
    const char* p = pText ? pText : "";
    size_t n = strlen(p);
    const char* pAt = strchr(p, '@');
    if (n == 0 || n > 254 || !pAt || pAt == p || !pAt[1] || strchr(pAt + 1, '@'))
        return false;
    for (const char* q = p; *q; q++)
        if (static_cast<unsigned char>(*q) <= 0x20 || static_cast<unsigned char>(*q) >= 0x7F ||
            strchr(",;:<>()\"\\[]", *q))
            return false;
    return pAt[strlen(pAt) - 1] != '.' && pAt[1] != '.';
}

// The characters a URL's host may hold (a name or an IPv4 address; an IPv6
// address goes between brackets).
static bool IsHostText(const CRukString& host)
{
    const char* p = host.GetText();
    if (!*p)
        return false;
    if (*p == '[')
        return host.GetLength() > 2 && p[host.GetLength() - 1] == ']' &&
               strspn(p + 1, "0123456789abcdefABCDEF:.") == static_cast<size_t>(host.GetLength() - 2);
    return strspn(p, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
               static_cast<size_t>(host.GetLength()) &&
           *p != '.' && *p != '-';
}

CRukString CRukBBSFormConf::SiteUrl(const char* pText)
{
    CRukString url(pText);
    url.Trim();
    const char* p = url.GetText();
    size_t nScheme = strncmp(p, "https://", 8) == 0 ? 8 : strncmp(p, "http://", 7) == 0 ? 7 : 0;
    if (nScheme == 0)
        return CRukString();
    // Printable ASCII without blanks, quotes, angle brackets, backslash,
    // query or fragment.
    for (const char* q = p; *q; q++)
        if (static_cast<unsigned char>(*q) <= 0x20 || static_cast<unsigned char>(*q) >= 0x7F ||
            strchr("\"'<>\\`{}|^?#", *q))
            return CRukString();
    const char* pAuthority = p + nScheme;
    size_t nAuthority = strcspn(pAuthority, "/");
    CRukString authority;
    authority.Append(pAuthority, static_cast<int>(nAuthority));
    if (authority.Find("@") >= 0)
        return CRukString();  // no user or password
    CRukString host = authority;
    int nColon = authority.GetText()[0] == '[' ? authority.Find("]:") + 1 : authority.Find(":");
    if (nColon > 0) {
        host = authority.Left(nColon);
        CRukString port = authority.Mid(nColon + 1);
        if (port.IsEmpty() || port.GetLength() > 5 || !IsDigits(port.GetText()) ||
            ToInt(port) < 1 || ToInt(port) > 65535)
            return CRukString();
    }
    if (!IsHostText(host))
        return CRukString();
    CRukString path = pAuthority + nAuthority;
    if (path.IsEmpty() || path.GetText()[path.GetLength() - 1] != '/')
        path += "/";
    CRukString out;
    out.Append(p, static_cast<int>(nScheme));
    return out + authority + path;
}

// Saves the system settings with their numbers clamped. A typed default
// board password (twice) is stored as a code; left empty it stays.
void CRukBBSFormConf::SubmitSys(CRukForm& form)
{
    CRukString passwd = form.Value("passwd");
    if (passwd != form.Value("passwd2"))
        MessageKey("msg69");
    CRukString mailFrom = Trimmed(form, "mail_from");
    if (!mailFrom.IsEmpty() && !IsOneAddress(mailFrom.GetText()))
        MessageKey("msg81");
    CRukString siteText = Trimmed(form, "site_url");
    CRukString siteUrl = SiteUrl(siteText.GetText());
    if (!siteText.IsEmpty() && siteUrl.IsEmpty())
        MessageKey("msg80");
    CRukString code = CRukCrypt::Hash(passwd.GetText());

    RequireUpdate(s_pSystemFile, "msg90", "msg90", [&](CRukConfig& cf) {
        struct {
            const char* pKey;
            int* pMode;
        } rgModes[] = {{"fmode666", &go.m_nFileMode}, {"fmode777", &go.m_nDirMode}};
        for (const auto& m : rgModes) {
            CRukString value = form.Value(m.pKey);
            if (value.IsEmpty())
                cf.SetAt(m.pKey, "");
            else if (ParseMode(value.GetText(), *m.pMode))
                cf.SetAt(m.pKey, value.GetText());
        }
        cf.SetAt("sendmail", Trimmed(form, "sendmail").GetText());
        CRukString stored = code.IsEmpty() ? AsCode(cf.Value("passwd")) : code;
        if (!stored.IsEmpty() || !cf.Value("passwd").IsEmpty())
            cf.SetAt("passwd", stored.GetText());
        for (const NumField& f : s_rgSysLimits)
            cf.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, cf).GetText());
        for (const NumField& f : s_rgNumFields)
            cf.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, cf).GetText());
        for (const char* pKey : s_rgSysSentFields)
            cf.SetAt(pKey, form.Value(pKey).GetText());
        cf.SetAt("mail_from", mailFrom.GetText());
        cf.SetAt("site_url", siteUrl.GetText());
        return true;
    }, &m_cfSystem);
    Notice("msg83");
    ConfigSysForm(form);
}

// The password code of a new board: the typed password (twice), or, left
// empty, the default board password's code; without either the board
// could never be opened, so it is refused.
static bool NewBoardCode(const CRukForm& form, const CRukConfig& system, CRukString& code,
                         const char*& pRefusal)
{
    CRukString passwd = form.Value("passwd");
    if (passwd != form.Value("passwd2")) {
        pRefusal = "msg69";
        return false;
    }
    code = passwd.IsEmpty() ? AsCode(system.Value("passwd")) : CRukCrypt::Hash(passwd.GetText());
    if (code.IsEmpty()) {
        pRefusal = "msg01";
        return false;
    }
    return true;
}

// Creates an empty file unless one is there: 1 created, 0 there already,
// -1 failed.
static int CreateEmptyFile(const CRukString& path)
{
    int fd = open(path.GetText(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, go.m_nFileMode);
    if (fd < 0)
        return errno == EEXIST ? 0 : -1;
    if (close(fd) != 0 || chmod(path.GetText(), static_cast<mode_t>(go.m_nFileMode)) != 0)
        go.m_log.Trace("-- %s: mode not set", path.GetText());
    return 1;
}

// Registers a new board with the system defaults and the posting limits,
// its password and, when asked, its data directory; its NG-word file is
// created empty. A refusal leaves nothing behind.
void CRukBBSFormConf::SubmitAdd(CRukForm& form)
{
    m_strBBSID.Free();
    CRukString bbsid = form.Value("bbsid");
    if (bbsid.IsEmpty())
        MessageKey("msg05");
    if (!IsSafeName(bbsid.GetText()))
        MessageKey("msg98");
    CRukString path = CRukString(s_pRegistry) + "/" + bbsid + ".conf";
    if (CRukFile::GetFileSize(path.GetText()) > 0)
        MessageKey("msg04");
    CRukString code;
    const char* pRefusal = nullptr;
    if (!NewBoardCode(form, m_cfSystem, code, pRefusal))
        MessageKey(pRefusal);
    m_strBBSID = bbsid;  // other boards are those of other ids
    // Logins left from an earlier board of this id (its settings file
    // removed by hand) must not open the new one.
    if (m_session.EndScope(bbsid.GetText(), time(nullptr)) != 0)
        MessageKey("msg90");

    // The data directory: made here, or one that was left behind and
    // belongs to no other board.
    CRukString datadir;
    bool bMadeDir = false;
    if (form.Data("datadir_make")) {
        datadir = m_strDataDir + bbsid + "/";
        bMadeDir = MakeDir(datadir);
        if (!bMadeDir && !IsDirectory(datadir))
            MessageKey("msg06");
        CRukString resolved;
        if (!RealPath(datadir.GetText(), resolved) || IsOtherBoardsDir(resolved)) {
            if (bMadeDir && rmdir(datadir.GetText()) != 0)
                go.m_log.Trace("-- rmdir(%s) failed", datadir.GetText());
            MessageKey("msg10");
        }
    }
    CRukString ngfile = m_strDataDir + bbsid + ".ng";
    int nNg = CreateEmptyFile(ngfile);

    CRukConfig conf(true);
    conf.SetAt("passwd", code.GetText());
    for (const auto& e : s_rgNewBoard) {
        CRukString value = e.pDefault;
        switch (e.nSource) {
        case NEW_SYSTEM:
            if (!m_cfSystem.Value(e.pKey).IsEmpty())
                value = m_cfSystem.Value(e.pKey);
            break;
        case NEW_FIXED: break;
        case NEW_SKINDIR: value = m_strSkinDir; break;
        case NEW_SKINURL: value = m_strSkinUrl; break;
        case NEW_NGFILE: value = ngfile; break;
        }
        conf.SetAt(e.pKey, value.GetText());
    }
    conf.SetAt("datadir", datadir.GetText());
    int r = nNg < 0 ? -1 : conf.WriteFile(path.GetText(), true);
    if (r < 0) {
        // Undoes what was made for the board.
        if (nNg > 0 && unlink(ngfile.GetText()) != 0)
            go.m_log.Trace("-- unlink(%s) failed", ngfile.GetText());
        if (bMadeDir && rmdir(datadir.GetText()) != 0)
            go.m_log.Trace("-- rmdir(%s) failed", datadir.GetText());
        MessageKey(r == -2 ? "msg90" : "msg06");
    }
    if (chmod(path.GetText(), static_cast<mode_t>(go.m_nFileMode)) != 0)
        go.m_log.Trace("-- chmod(%s) failed", path.GetText());
    Notice("msg85", {{"%ID%", bbsid}});
    ConfigSysForm(form);
}

// Removes a board's settings file and every session of the board; when
// asked, also its data directory, which must be the board's own below
// data/ (a board whose data lies elsewhere is removed without it), and its
// uploaded icons. Everything is checked first; then, unless the form
// carries the confirmation, the system page asks and nothing is removed.
void CRukBBSFormConf::SubmitDel(CRukForm& form)
{
    m_strBBSID.Free();
    CRukString bbsid = form.Value("bbsid");
    if (bbsid.IsEmpty())
        MessageKey("msg05");
    if (!IsSafeName(bbsid.GetText()))
        MessageKey("msg98");
    m_strBBSID = bbsid;
    CRukString path = BoardSettingsPath();
    ReadBoardSettings();
    CRukString datadir = m_cfBBS.Value("datadir");
    go.m_log.Trace("submit_del -- DataDir(%s)", datadir.GetText());

    // What goes with the data: the directory the path resolves to, and the
    // path itself when it is a link inside data/. A path that is not there
    // has nothing to remove when it names a place below data/.
    bool bWithData = !form.Value("datadir_del").IsEmpty();
    CRukString own;
    bool bLink = false;
    struct stat st;
    if (bWithData && !datadir.IsEmpty()) {
        if (lstat(datadir.GetText(), &st) == 0) {
            own = OwnDataDir(datadir);
            if (own.IsEmpty())
                MessageKey("msg10");
            bLink = S_ISLNK(st.st_mode) && !DataRelativePath(datadir.GetText()).IsEmpty();
        } else if (DataRelativePath(datadir.GetText()).IsEmpty()) {
            MessageKey("msg10");
        }
    }
    m_strBBSID.Free();
    if (form.Value("confirm") != "1") {
        m_strAskBoard = bbsid;
        m_bAskBoardData = bWithData;
        ConfigSysForm(form);
        return;
    }

    if (m_session.EndScope(bbsid.GetText(), time(nullptr)) != 0)
        MessageKey("msg90");
    if (!own.IsEmpty() && !RemoveTree(own))
        MessageKey("msg90");
    CRukString link = CRukStrPath::Normalize(datadir.GetText());
    if (bLink && unlink(link.GetText()) != 0)
        go.m_log.Trace("-- unlink(%s) failed", link.GetText());
    if (unlink(path.GetText()) != 0 && errno != ENOENT)
        MessageKey("msg06");
    // The icons are the board's own; a directory that stays is traced.
    // No closing "/": a link there goes itself, its target stays.
    CRukString icons = IconDir(bbsid);
    if (bWithData)
        (void)RemoveTree(icons.Left(icons.GetLength() - 1));
    Notice(bWithData ? "msg87" : "msg86", {{"%ID%", bbsid}});
    ConfigSysForm(form);
}
