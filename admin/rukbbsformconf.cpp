#include "rukbbsformconf.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rukbbsdata.h"
#include "rukbuffer.h"
#include "rukconfig.h"
#include "rukcrypt.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

static const char* const s_pSystemFile = "dat-system.dat";
static const char* const s_pRegistry = "data";
static const char* const s_pLockName = "lockfile.lock";
static const char* const s_pHtml = "text/html";

// ---------------------------------------------------------------------------
// Fixed data

// A template tag and the settings key whose value fills it.
struct TagKey {
    const char* pTag;
    const char* pKey;
};

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

static const TagKey s_rgBBSValueTags[] = {
    {"%OWNER_MAIL%", "owner_mail"},     {"%CC_MAIL%", "cc_mail"},
    {"%BBS_TITLE%", "bbs_title"},       {"%DATADIR%", "datadir"},
    {"%SKINDIR%", "skindir"},           {"%SKINURL%", "skinurl"},
    {"%STYLESHEET%", "stylesheet"},     {"%NEW_IMAGE%", "new_image"},
    {"%NEW_TIME%", "new_time"},         {"%TIMELAG_HH%", "timelag_hh"},
    {"%TIMELAG_MM%", "timelag_mm"},     {"%HOME%", "home_url"},
    {"%PAGE_PPNUM%", "page_ppnum"},     {"%PAGE_PPNUM2%", "page_ppnum2"},
    {"%ATTACH_NUM%", "attach_num"},     {"%ATTACH_SIZE%", "attach_size"},
    {"%EMBED_SIZE%", "embed_size"},     {"%LOG_MAX%", "log_max"},
    {"%USER_HEADER%", "user_header"},   {"%USER_FOOTER%", "user_footer"},
    {"%DENYFILE%", "denyfile"},         {"%WRITE_PASSWD%", "write_passwd"},
};

static const TagKey s_rgBBSCheckTags[] = {
    {"%MAIL_CHECKED%", "use_mail"},       {"%NEW_ORDER_CHECKED%", "new_order"},
    {"%ATTACH_CHECKED%", "use_attach"},   {"%EMBED_CHECKED%", "attach_embed"},
    {"%ICON_CHECKED%", "use_icon"},       {"%LOGDEL_CHECKED%", "log_del"},
};

// System limits shown on the board page.
static const TagKey s_rgBBSSystemTags[] = {
    {"%ATTACH_MAX%", "attach_max"},
    {"%LOG_LIMIT%", "log_limit"},
};

// A number field: values below nLow become nLow, values above nHigh (or
// above the system value named by pHighKey) become that bound.
struct NumField {
    const char* pKey;
    int nLow;
    int nHigh;
    const char* pHighKey;
};

// The system limits, stored before the fields they bound.
static const NumField s_rgSysLimits[] = {
    {"icon_max", 1, INT_MAX, nullptr},
    {"attach_max", 1, INT_MAX, nullptr},
    {"log_limit", 1, INT_MAX, nullptr},
};

// The number fields of the system defaults and of a board, in clamp order.
static const NumField s_rgNumFields[] = {
    {"page_ppnum", 1, INT_MAX, nullptr}, {"page_ppnum2", 1, INT_MAX, nullptr},
    {"attach_num", 1, INT_MAX, "attach_max"}, {"attach_size", 1, INT_MAX, nullptr},
    {"embed_size", 1, INT_MAX, nullptr}, {"log_max", 1, INT_MAX, "log_limit"},
    {"new_time", 0, INT_MAX, nullptr}, {"timelag_hh", -24, 24, nullptr},
    {"timelag_mm", -60, 60, nullptr},
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

// How a board setting is saved from the board page.
enum SaveKind { SAVE_SENT, SAVE_TRIM, SAVE_DATADIR, SAVE_SKINDIR, SAVE_SKINURL, SAVE_NUMBER,
                SAVE_WRITE_PASSWD, SAVE_PASSWD };

static const struct {
    const char* pKey;
    SaveKind nKind;
} s_rgBoardSave[] = {
    {"use_mail", SAVE_SENT},       {"owner_mail", SAVE_SENT},
    {"cc_mail", SAVE_SENT},        {"bbs_title", SAVE_SENT},
    {"datadir", SAVE_DATADIR},     {"skindir", SAVE_SKINDIR},
    {"skinurl", SAVE_SKINURL},     {"stylesheet", SAVE_TRIM},
    {"new_image", SAVE_TRIM},      {"new_time", SAVE_NUMBER},
    {"timelag_hh", SAVE_NUMBER},   {"timelag_mm", SAVE_NUMBER},
    {"user_header", SAVE_SENT},    {"user_footer", SAVE_SENT},
    {"home_url", SAVE_TRIM},       {"page_ppnum", SAVE_NUMBER},
    {"page_ppnum2", SAVE_NUMBER},  {"new_order", SAVE_SENT},
    {"attach_num", SAVE_NUMBER},   {"attach_size", SAVE_NUMBER},
    {"embed_size", SAVE_NUMBER},   {"use_attach", SAVE_SENT},
    {"attach_embed", SAVE_SENT},   {"use_icon", SAVE_SENT},
    {"log_max", SAVE_NUMBER},      {"log_del", SAVE_SENT},
    {"denyfile", SAVE_TRIM},       {"write_passwd", SAVE_WRITE_PASSWD},
    {"passwd", SAVE_PASSWD},
};

// Templates a board's skin must hold.
static const char* const s_rgSkinTemplates[] = {"templ_bbs.html", "templ_ico.html",
                                                "templ_info.html"};

// The choices of the permission mode selects.
static const char* const s_rgFileModes[] = {"666", "606", "600"};
static const char* const s_rgDirModes[] = {"777", "707", "700"};

// ---------------------------------------------------------------------------
// Helpers

// One template tag and its text; bAll fills every occurrence, otherwise
// only the first.
struct TagText {
    const char* pTag;
    CRukString text;
    bool bAll;
};

typedef std::vector<TagText> TagList;

// The text a buffer holds, taken over without a copy.
static CRukString BufferText(CRukBuffer& buf)
{
    CRukString text;
    text.Attach(buf.Detach());
    return text;
}

// Fills the tags of a page in one pass, so that inserted text is never
// scanned for tags again.
static CRukString FillTags(const CRukString& page, const TagList& tags)
{
    std::vector<bool> done(tags.size(), false);
    std::vector<size_t> lengths;
    lengths.reserve(tags.size());
    for (const TagText& t : tags)
        lengths.push_back(strlen(t.pTag));
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(page.GetLength()));
    const char* p = page.GetText();
    const char* pRun = p;
    while (*p) {
        bool bMatched = false;
        if (*p == '%') {
            for (size_t i = 0; i < tags.size(); i++) {
                if ((done[i] && !tags[i].bAll) || strncmp(p, tags[i].pTag, lengths[i]) != 0)
                    continue;
                out.Append(pRun, static_cast<unsigned>(p - pRun));
                out.Append(tags[i].text.GetText(), static_cast<unsigned>(tags[i].text.GetLength()));
                p += lengths[i];
                pRun = p;
                done[i] = true;
                bMatched = true;
                break;
            }
        }
        if (!bMatched)
            p++;
    }
    out.Append(pRun, static_cast<unsigned>(strlen(pRun)));
    return BufferText(out);
}

// Adds the escaped settings values of a tag table.
static void AddValueTags(TagList& tags, const TagKey* pTable, size_t n, const CRukConfig& cf)
{
    for (size_t i = 0; i < n; i++)
        tags.push_back({pTable[i].pTag, CRukBBSFormBase::EscapeHtml(cf.Value(pTable[i].pKey).GetText()),
                        false});
}

// Adds switch tags: "checked" when the value is exactly "1".
static void AddCheckTags(TagList& tags, const TagKey* pTable, size_t n, const CRukConfig& cf)
{
    for (size_t i = 0; i < n; i++)
        tags.push_back({pTable[i].pTag, cf.Value(pTable[i].pKey) == "1" ? "checked" : "", false});
}

// The integer value of a text; non-numbers are 0, large values saturate.
static int ToInt(const CRukString& text)
{
    errno = 0;
    long n = strtol(text.GetText(), nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}

// The clamped decimal text of a number field. A system bound that is not
// set (below the low bound) does not apply.
static CRukString ClampField(const CRukString& value, const NumField& field,
                             const CRukConfig& system)
{
    int n = ToInt(value);
    if (n < field.nLow)
        n = field.nLow;
    int nHigh = field.pHighKey ? ToInt(system.Value(field.pHighKey)) : field.nHigh;
    if (nHigh >= field.nLow && n > nHigh)
        n = nHigh;
    return CRukString(n);
}

// The form value of a field, trimmed.
static CRukString Trimmed(const CRukForm& form, const char* pName)
{
    CRukString value = form.Value(pName);
    value.Trim();
    return value;
}

// Hashes a newly chosen password with a fresh salt. Unlike CryptEx it also
// codes a password that holds text between asterisks, which CryptEx would
// store unchanged and which would then never match again.
static CRukString HashNew(const CRukString& password)
{
    if (password.IsEmpty())
        return CRukString();
    CRukString code = CRukCrypt::Crypt(password.GetText(), CRukCrypt::MakeSalt().GetText());
    return "*" + code + "*";
}

// Positions of the names of a tag map, the first of each name, so that a
// long list is looked up in linear time.
typedef std::unordered_map<std::string, int> NameIndex;

template <class T>
static NameIndex IndexNames(const CRukTagMap<T>& map)
{
    NameIndex index;
    index.reserve(static_cast<size_t>(map.GetSize()));
    for (int i = 0; i < map.GetSize(); i++)
        index.emplace(map[i].m_strTag.GetText(), i);
    return index;
}

// True when a path names something on disk.
static bool Exists(const CRukString& path)
{
    return CRukFile::GetFileAttr(path.GetText()) != -1;
}

// The resolved absolute form of an existing path.
static bool RealPath(const char* pPath, CRukString& out)
{
    char* p = realpath(pPath && *pPath ? pPath : ".", nullptr);
    if (!p)
        return false;
    out.Attach(p);
    return true;
}

// True when the resolved path equals dir or lies below it.
static bool IsInside(const CRukString& path, const CRukString& dir)
{
    if (dir == "/")
        return true;
    int n = dir.GetLength();
    return path == dir ||
           (strncmp(path.GetText(), dir.GetText(), n) == 0 && path.GetText()[n] == '/');
}

// The skin URL normalised as a path; the "//" of a scheme stays.
static CRukString NormalizeUrl(const CRukString& url)
{
    int nScheme = url.Find("://");
    if (nScheme <= 0)
        return CRukStrPath::Normalize(url.GetText());
    CRukString rest = CRukStrPath::Normalize(url.Mid(nScheme + 3).GetText());
    return url.Left(nScheme + 3) + rest;
}

// Sets a directory's mode to go's directory mode after creating it.
static void MakeDir(const CRukString& dir)
{
    if (CRukDir::MkDir(dir.GetText()) == 0)
        chmod(dir.GetText(), go.m_nDirMode);
}

// Removes a directory with everything below it; a symbolic link is
// removed itself, never followed. Whatever could not be removed is traced.
static void RemoveTree(const CRukString& dir)
{
    struct stat st;
    if (lstat(dir.GetText(), &st) != 0)
        return;
    bool bOk;
    if (!S_ISDIR(st.st_mode))
        bOk = unlink(dir.GetText()) == 0;
    else
        bOk = CRukDir::RemoveFiles(dir.GetText(), true, false) == 0 && rmdir(dir.GetText()) == 0;
    if (!bOk)
        go.m_log.Trace("-- %s could not be removed whole", dir.GetText());
}

// Renames the attachment directories named by ids from one log into
// another; on a failure the ones already moved go back and false returns.
static bool MoveAttachDirs(const CRukStrAry& ids, const CRukString& src, const CRukString& dst,
                           CRukStrAry& moved)
{
    CRukBBSFile paths;
    for (int i = 0; i < ids.GetSize(); i++) {
        CRukString from = paths.CreateAttachPath(src.GetText(), ids[i].GetText());
        CRukString to = paths.CreateAttachPath(dst.GetText(), ids[i].GetText());
        if (rename(from.GetText(), to.GetText()) != 0) {
            go.m_log.Trace("-- rename(%s, %s) failed", from.GetText(), to.GetText());
            for (int j = moved.GetSize() - 1; j >= 0; j--)
                rename(paths.CreateAttachPath(dst.GetText(), moved[j].GetText()).GetText(),
                       paths.CreateAttachPath(src.GetText(), moved[j].GetText()).GetText());
            moved.RemoveAll();
            return false;
        }
        moved.Add(ids[i]);
    }
    return true;
}

// Puts moved attachment directories back where they came from.
static void RestoreAttachDirs(const CRukStrAry& moved, const CRukString& src,
                              const CRukString& dst)
{
    CRukBBSFile paths;
    for (int j = moved.GetSize() - 1; j >= 0; j--)
        rename(paths.CreateAttachPath(dst.GetText(), moved[j].GetText()).GetText(),
               paths.CreateAttachPath(src.GetText(), moved[j].GetText()).GetText());
}

// Builds "<select name=NAME>" with one option per name, the one equal to
// selected marked; names are escaped.
static CRukString BuildSelect(const char* pName, const CRukStrAry& names, const CRukString& selected)
{
    CRukBuffer out;
    CRukString line;
    line.Format("<select name=%s>\n", pName);
    out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    for (int i = 0; i < names.GetSize(); i++) {
        CRukString name = CRukBBSFormBase::EscapeHtml(names[i].GetText());
        line.Format("<option value=\"%s\" %s>%s</option>\n", name.GetText(),
                    names[i] == selected ? "selected" : "", name.GetText());
        out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    }
    out.Append("</select>\n", 10);
    return BufferText(out);
}

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

// Loads a log's messages without the store's lock (the caller holds the
// board lock). A message file that exists but cannot be read ends the
// request, so that nothing is written over it.
static int ReadLog(CRukBBSFormBase& base, CRukBBSFile& log, const CRukString& dir,
                   bool bKeys = false)
{
    int r = bKeys ? log.ReadPageKeys(dir.GetText(), false) : log.ReadPageData(dir.GetText(), false);
    if (r < 0 && CRukFile::GetFileSize(log.CreateFullPath(dir.GetText()).GetText()) >= 0)
        base.MessageKey("msg90");
    return r < 0 ? 0 : r;
}

// ---------------------------------------------------------------------------
// Common parts

bool CRukBBSFormConf::ParseMode(const char* pText, int& nMode)
{
    if (!pText || !*pText || strlen(pText) > 4 || strspn(pText, "01234567") != strlen(pText))
        return false;
    long n = strtol(pText, nullptr, 8);
    if (n > 0777)
        return false;
    nMode = static_cast<int>(n);
    return true;
}

// Applies the stored permission modes; empty or malformed ones are
// ignored so that files never get a mode nobody can read.
void CRukBBSFormConf::ApplySystemModes()
{
    ParseMode(m_cfSystem.Value("fmode666").GetText(), go.m_nFileMode);
    ParseMode(m_cfSystem.Value("fmode777").GetText(), go.m_nDirMode);
}

CRukString CRukBBSFormConf::BoardSettingsPath() const
{
    return CRukString(s_pRegistry) + "/" + m_strBBSID + ".conf";
}

// Loads the current board's settings; a held lock or a missing file ends
// the request.
void CRukBBSFormConf::ReadBoardSettings()
{
    int r = m_cfBBS.ReadFile(BoardSettingsPath().GetText(), true);
    if (r == -2)
        MessageKey("msg90");
    if (r == -1)
        MessageKey("msg11");
}

// Changes of the system settings and the registry need the administrator's
// password in the field admin_passwd.
void CRukBBSFormConf::CheckAdminPasswd(CRukForm& form)
{
    CRukString pw = form.Value("admin_passwd");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfSystem.Value("admin").GetText()))
        MessageKey("msg03");
}

// Saves of a board need the board's password in the field passwd.
void CRukBBSFormConf::CheckBoardPasswd(CRukForm& form)
{
    CRukString pw = form.Value("passwd");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfBBS.Value("passwd").GetText()))
        MessageKey("msg03");
}

// A data directory must not hold the site: the working directory, the
// board registry, the skins (the board's own and the skin tree) or the
// administration templates. Paths are compared resolved, so "..", "."
// and symbolic links cannot hide them.
bool CRukBBSFormConf::IsSiteInside(const char* pDataDir, const char* pSkinDir) const
{
    CRukString data;
    if (!pDataDir || !*pDataDir || !RealPath(pDataDir, data))
        return false;
    CRukString cwd;
    if (!RealPath(".", cwd) || IsInside(cwd, data))
        return true;
    const char* rgInner[] = {s_pRegistry, pSkinDir, "skin", m_strConfDir.GetText()};
    for (const char* pInner : rgInner) {
        CRukString inner;
        if (pInner && *pInner && RealPath(pInner, inner) && IsInside(inner, data))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Pages

// The login page; after a password change it carries the new password.
void CRukBBSFormConf::LoginForm(CRukForm& form)
{
    CRukString page = GetTemplate((m_strConfDir + "templ_login.html").GetText());
    CRukString pw = form.Data("submit_passwd") ? EscapeHtml(form.Value("passwd2").GetText())
                                               : CRukString();
    TagList tags = {{"%PASSWD%", pw, false}, {"%PASSWD2%", "", false}};
    WritePage(FillTags(page, tags));
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

// A board's settings page; the caller has loaded the board's settings.
void CRukBBSFormConf::ConfigBBSForm(CRukForm& form)
{
    (void)form;
    m_strTitle = EscapeHtml(m_cfBBS.Value("bbs_title").GetText());
    CRukString page = GetTemplate((m_strConfDir + "templ_config_bbs.html").GetText());
    TagList tags;
    AddValueTags(tags, s_rgBBSValueTags, sizeof(s_rgBBSValueTags) / sizeof(s_rgBBSValueTags[0]),
                 m_cfBBS);
    AddCheckTags(tags, s_rgBBSCheckTags, sizeof(s_rgBBSCheckTags) / sizeof(s_rgBBSCheckTags[0]),
                 m_cfBBS);
    AddValueTags(tags, s_rgBBSSystemTags,
                 sizeof(s_rgBBSSystemTags) / sizeof(s_rgBBSSystemTags[0]), m_cfSystem);
    tags.push_back({"%BID%", EscapeHtml(m_strBBSID.GetText()), true});
    tags.push_back({"%PASSWD%", "", false});
    tags.push_back({"%PASSWD2%", "", false});
    WritePage(FillTags(page, tags));
}

// A board's icon list page: one row of the marked pattern per icon
// number from 0 to the system icon_max.
void CRukBBSFormConf::ConfigIcoForm(CRukForm& form)
{
    (void)form;
    CRukString page = GetTemplate((m_strConfDir + "templ_config_ico.html").GetText());
    TagList blank = {{"%PASSWD%", "", false}, {"%PASSWD2%", "", false}};
    page = FillTags(page, blank);

    static const char* const pBegin = "<!--TR_ICON-->";
    static const char* const pEnd = "<!--/TR_ICON-->";
    CRukString pattern = page.GetToken(pBegin, pEnd);
    NameIndex index = IndexNames(m_cfBBS);
    auto value = [&](const CRukString& key) -> CRukString {
        NameIndex::const_iterator it = index.find(key.GetText());
        return it == index.end() ? CRukString() : EscapeHtml(m_cfBBS[it->second].m_data.GetText());
    };
    int nMax = ToInt(m_cfSystem.Value("icon_max"));
    CRukBuffer rows;
    for (int i = 0; i <= nMax; i++) {
        CRukString name, url;
        name.Format("ico_name%d", i);
        url.Format("ico_url%d", i);
        TagList tags = {{"%No%", CRukString(i), true},
                        {"%NAME%", value(name), false},
                        {"%URL%", value(url), false}};
        CRukString row = FillTags(pattern, tags);
        rows.Append(row.GetText(), static_cast<unsigned>(row.GetLength()));
    }
    CRukString text = BufferText(rows);
    page.Replace(pBegin, pEnd, text.GetText(), false);
    WritePage(page);
}

// A board's old-log page: the number of messages in the current log and
// two selects of the old logs.
void CRukBBSFormConf::ConfigOldForm(CRukForm& form)
{
    CRukString page = GetTemplate((m_strConfDir + "templ_config_old.html").GetText());
    CRukString datadir = m_cfBBS.Value("datadir");
    int nTotal = 0;
    CRukStrAry names;
    if (!datadir.IsEmpty()) {
        CRukBBSFile log;
        int r = log.ReadPageData(datadir.GetText(), true);
        if (r == -2)
            MessageKey("msg90");
        nTotal = r < 0 ? 0 : r;
        CRukString old = CRukStrPath::Normalize(datadir.GetText()) + "/old/";
        CRukDir::GetDirNameList(names, old.GetText(), false);
        names.Sort(0);
    }
    CRukString select = BuildSelect("sel_id", names, form.Value("sel_id"));
    CRukString select2 = select;
    select2.Replace("name=sel_id", "name=sel_id2", false);
    TagList tags = {{"%PASSWD%", "", false},      {"%PASSWD2%", "", false},
                    {"%TOTAL%", CRukString(nTotal), false},
                    {"%SELECT_LOG%", select, false}, {"%SELECT_LOG2%", select2, false}};
    WritePage(FillTags(page, tags));
}

// ---------------------------------------------------------------------------
// Login and the administrator's password

// Stores a new administrator password, hashed, after checking the current
// one; a plain-text stored password (a first installation) matches as is.
void CRukBBSFormConf::SubmitPasswd(CRukForm& form)
{
    CRukString pw = form.Value("passwd");
    CRukString pw2 = form.Value("passwd2");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (pw2.IsEmpty())
        MessageKey("msg02");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfSystem.Value("admin").GetText()))
        MessageKey("msg03");
    m_cfSystem.SetAt("admin", HashNew(pw2).GetText());
    if (m_cfSystem.WriteFile(s_pSystemFile, true) < 0)
        MessageKey("msg90");
    LoginForm(form);
}

void CRukBBSFormConf::SubmitLogin(CRukForm& form)
{
    CRukString pw = form.Value("passwd");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfSystem.Value("admin").GetText()))
        MessageKey("msg03");
    ConfigSysForm(form, true);
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

// ---------------------------------------------------------------------------
// Board settings and icons

// Saves a board's settings after checking its password, the data
// directory and the skin.
void CRukBBSFormConf::SubmitConfig(CRukForm& form)
{
    ReadBoardSettings();
    m_strSkinDir = m_cfBBS.Value("skindir");
    m_strSkinUrl = m_cfBBS.Value("skinurl");
    CheckBoardPasswd(form);

    CRukString datadir = CRukStrPath::Normalize(form.Value("datadir").GetText());
    CRukString skindir = CRukStrPath::Normalize(form.Value("skindir").GetText());
    CRukString skinurl = NormalizeUrl(form.Value("skinurl"));
    go.m_log.Trace("submit_config -- SkinDir(%s) SkinUrl(%s) DataDir(%s)", skindir.GetText(),
                   skinurl.GetText(), datadir.GetText());
    if (datadir.IsEmpty())
        MessageKey("msg07");
    if (skindir.IsEmpty())
        MessageKey("msg16");

    CRukStrPath script;
    script.Split(go.m_env.SCRIPT_FILENAME.GetText());
    CRukString scriptDir = script.Directory("/");
    if (datadir == scriptDir || datadir == scriptDir + "/" + s_pRegistry || datadir == s_pRegistry)
        MessageKey("msg10");
    if (datadir == skindir)
        MessageKey("msg19");
    if (!Exists(datadir))
        MessageKey("msg08");
    if (IsSiteInside(datadir.GetText(), skindir.GetText()))
        MessageKey("msg10");

    // Lock test. A lock file that was there before stays: another process
    // may be holding it.
    CRukString lockPath = datadir + "/" + s_pLockName;
    bool bHadLock = Exists(lockPath);
    {
        CRukFlock lock;
        int r = lock.Lock(lockPath.GetText());
        if (r == -2)
            MessageKey("msg90");
        if (r == -1)
            MessageKey("msg09");
        lock.Unlock();
    }
    if (!bHadLock)
        unlink(lockPath.GetText());

    if (!Exists(skindir))
        MessageKey("msg17");
    for (const char* pName : s_rgSkinTemplates)
        if (!Exists(skindir + "/" + pName))
            MessageKey("msg18");
    if (skinurl.IsEmpty())
        skinurl = ServerPath2UrlDir((skindir + "/").GetText(), 1);
    if (form.Value("bbs_title").IsEmpty())
        MessageKey("msg15");

    CRukStrMap numbers;
    for (const NumField& f : s_rgNumFields)
        numbers.SetAt(f.pKey, ClampField(form.Value(f.pKey), f, m_cfSystem).GetText());
    CRukString pw2 = form.Value("passwd2");
    CRukString pw = pw2.IsEmpty() ? form.Value("passwd") : pw2;
    for (const auto& e : s_rgBoardSave) {
        CRukString value;
        switch (e.nKind) {
        case SAVE_SENT: value = form.Value(e.pKey); break;
        case SAVE_TRIM: value = Trimmed(form, e.pKey); break;
        case SAVE_DATADIR: value = datadir + "/"; break;
        case SAVE_SKINDIR: value = skindir + "/"; break;
        case SAVE_SKINURL: value = skinurl + "/"; break;
        case SAVE_NUMBER: value = numbers.Value(e.pKey); break;
        case SAVE_WRITE_PASSWD:
            value = CRukCrypt::CryptEx(form.Value(e.pKey).GetText(), CRukCrypt::MakeSalt().GetText());
            break;
        case SAVE_PASSWD: value = HashNew(pw); break;
        }
        m_cfBBS.SetAt(e.pKey, value.GetText());
    }
    int r = m_cfBBS.WriteFile(BoardSettingsPath().GetText(), true);
    if (r == -2)
        MessageKey("msg90");
    if (r < 0)
        MessageKey("msg06");
    m_strSkinDir = skindir + "/";
    m_strSkinUrl = skinurl + "/";
    ConfigBBSForm(form);
}

// Saves a board's icon names and URLs for the numbers 0 to icon_max.
void CRukBBSFormConf::SubmitIcon(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = form.Value("mode");
    m_strSkinDir = m_cfBBS.Value("skindir");
    m_strSkinUrl = m_cfBBS.Value("skinurl");
    CheckBoardPasswd(form);

    NameIndex fields = IndexNames(form);
    NameIndex keys = IndexNames(m_cfBBS);
    int nMax = ToInt(m_cfSystem.Value("icon_max"));
    for (int i = 0; i <= nMax; i++) {
        for (const char* pPrefix : {"ico_name", "ico_url"}) {
            CRukString key;
            key.Format("%s%d", pPrefix, i);
            NameIndex::const_iterator f = fields.find(key.GetText());
            CRukString value = f == fields.end() ? CRukString() : form[f->second].m_data.m_strValue;
            value.Trim();
            NameIndex::const_iterator k = keys.find(key.GetText());
            if (k != keys.end()) {
                m_cfBBS[k->second].m_data = std::move(value);
            } else {
                CRukStrPair pair;
                pair.m_strTag = key;
                pair.m_data = std::move(value);
                int n = m_cfBBS.CRukAry<CRukStrPair>::Add(std::move(pair));
                keys.emplace(key.GetText(), n);
            }
        }
    }
    int r = m_cfBBS.WriteFile(BoardSettingsPath().GetText(), true);
    if (r == -2)
        MessageKey("msg90");
    if (r < 0)
        MessageKey("msg06");
    ConfigBBSForm(form);
}

// No button: the board's settings, icon list or old-log page by mode.
void CRukBBSFormConf::ShowBoard(CRukForm& form)
{
    ReadBoardSettings();
    m_strSkinDir = m_cfBBS.Value("skindir");
    m_strSkinUrl = m_cfBBS.Value("skinurl");
    CRukString mode = form.Value("mode");
    if (mode == "icon")
        ConfigIcoForm(form);
    else if (mode == "kako")
        ConfigOldForm(form);
    else
        ConfigBBSForm(form);
}

// ---------------------------------------------------------------------------
// Old logs

// Runs one old-log operation under the board lock after checking the
// board password and the names.
void CRukBBSFormConf::SubmitKako(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = form.Value("mode");
    m_strDataDir = m_cfBBS.Value("datadir");
    m_strSkinDir = m_cfBBS.Value("skindir");
    m_strSkinUrl = m_cfBBS.Value("skinurl");
    CRukString datadir = CRukStrPath::Normalize(m_strDataDir.GetText());
    if (datadir.IsEmpty())
        MessageKey("msg07");

    CRukFlock lock;
    if (lock.Lock((datadir + "/" + s_pLockName).GetText()) == -2)
        MessageKey("msg90");
    CheckBoardPasswd(form);
    for (const char* pField : {"kako_id", "sel_id", "sel_id2"}) {
        CRukString value = form.Value(pField);
        if (!value.IsEmpty() && !IsSafeName(value.GetText()))
            MessageKey("msg98");
    }

    CRukString old = datadir + "/old/";
    CRukString opt = form.Value("opt");
    if (opt == "new") {
        KakoNew(form, datadir, old);
    } else {
        static const struct {
            const char* pOpt;
            void (CRukBBSFormConf::*pOp)(CRukForm&, const CRukString&);
        } rgOps[] = {
            {"div", &CRukBBSFormConf::KakoDiv},
            {"mrg", &CRukBBSFormConf::KakoMerge},
            {"del", &CRukBBSFormConf::KakoDel},
            {"ren", &CRukBBSFormConf::KakoRename},
        };
        bool bDone = false;
        for (const auto& op : rgOps) {
            if (opt == op.pOpt) {
                (this->*op.pOp)(form, old);
                bDone = true;
                break;
            }
        }
        if (!bDone)
            MessageKey("msg53");
    }
    lock.Unlock();
    ConfigOldForm(form);
}

// Archives the threads beyond the board's first page as a new old log.
void CRukBBSFormConf::KakoNew(CRukForm& form, const CRukString& strDataDir,
                              const CRukString& strOld)
{
    CRukString id = form.Value("kako_id");
    if (id.IsEmpty())
        MessageKey("msg50");
    CRukString target = strOld + id;
    if (Exists(target))
        MessageKey("msg52");
    int nPage = ToInt(m_cfBBS.Value("page_ppnum"));
    MoveThreads(strDataDir, nPage < 1 ? 1 : nPage, 0, target, strOld);
}

// Splits an old log: its first half of threads moves to a new old log.
void CRukBBSFormConf::KakoDiv(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = form.Value("sel_id");
    if (sel.IsEmpty())
        MessageKey("msg51");
    CRukString id = form.Value("kako_id");
    if (id.IsEmpty())
        MessageKey("msg50");
    CRukString target = strOld + id;
    if (Exists(target))
        MessageKey("msg52");
    MoveThreads(strOld + sel, 0, 2, target, CRukString());
}

// Moves threads with their attachment directories from the log strSrc
// into the new old log strDst (creating strMakeOld first when given). With
// nHalf > 0 the first 1/nHalf of the threads moves; otherwise the threads
// after the first nSkip.
// Nothing is left half done: when a step fails, the earlier ones are
// undone and the request ends with "msg90".
void CRukBBSFormConf::MoveThreads(const CRukString& strSrc, int nSkip, int nHalf,
                                  const CRukString& strDst, const CRukString& strMakeOld)
{
    // By their keys: the moved and the kept records are copied line by line
    // into the two files, all within this one CRukBBSFile.
    CRukBBSFile log;
    ReadLog(*this, log, strSrc, true);
    int nThreads = log.GetPPNum();
    int nCount = nHalf > 0 ? nThreads / nHalf : nThreads - nSkip;
    if (nHalf > 0)
        nSkip = 0;
    if (nCount <= 0)
        return;
    // The roots after the first nSkip, as GetDataParents picks them; only
    // their ids are needed, so the records are not read whole.
    CRukStrAry rootIds;
    int nRoot = 0;
    for (const CRukBBSData& rec : log.m_aryData) {
        if (rootIds.GetSize() >= nCount)
            break;
        if (rec.pid.IsEmpty() && nRoot++ >= nSkip)
            rootIds.Add(rec.id);
    }
    if (rootIds.GetSize() == 0)
        return;

    // One pass over the records: a thread is its root and every record
    // whose root key names it.
    std::unordered_set<std::string> ids;
    CRukStrAry dirs;
    CRukString attachBase = log.CreateAttachPath(strSrc.GetText(), "");
    for (int i = 0; i < rootIds.GetSize(); i++) {
        const CRukString& rootId = rootIds[i];
        go.m_log.Trace("DELETE[%d] %s", i, rootId.GetText());
        ids.insert(rootId.GetText());
        if (!rootId.IsEmpty() && Exists(attachBase + rootId))  // "" would be the board
            dirs.Add(rootId);
    }
    // The moved records go to a list sized once; the kept ones close up in
    // place, so that the board is never held twice.
    CRukBBSDataAry& all = log.m_aryData;
    std::vector<char> take(static_cast<size_t>(all.GetSize()), 0);
    int nMoved = 0;
    for (int i = 0; i < all.GetSize(); i++) {
        if (ids.count(all[i].ppid.GetText()) || ids.count(all[i].id.GetText())) {
            take[i] = 1;
            nMoved++;
        }
    }
    CRukBBSDataAry moved(0, 10);
    moved.SetSize(nMoved, false);
    int nTo = 0, nKept = 0;
    for (int i = 0; i < all.GetSize(); i++) {
        if (take[i])
            moved[nTo++] = std::move(all[i]);
        else if (nKept++ != i)
            all[nKept - 1] = std::move(all[i]);
    }
    all.SetSize(nKept, true);
    log.ForgetIndex();
    log.Sort(moved, 1);

    if (!strMakeOld.IsEmpty())
        MakeDir(strMakeOld);
    MakeDir(strDst);
    // Undoes the directories made here; rmdir leaves a non-empty one.
    auto undoDir = [&]() {
        rmdir(strDst.GetText());
        if (!strMakeOld.IsEmpty())
            rmdir(strMakeOld.GetText());
    };
    CRukStrAry done;
    if (!MoveAttachDirs(dirs, strSrc, strDst, done)) {
        undoDir();
        MessageKey("msg90");
    }
    CRukString target = log.CreateFullPath(strDst.GetText());
    if (log.WriteFile(moved, target.GetText(), false, false) <= 0) {
        RestoreAttachDirs(done, strSrc, strDst);
        undoDir();
        MessageKey("msg90");
    }
    if (log.WritePageData(strSrc.GetText(), false) < 0) {
        unlink(target.GetText());
        RestoreAttachDirs(done, strSrc, strDst);
        undoDir();
        MessageKey("msg90");
    }
}

// Merges the old log sel_id into sel_id2 and removes sel_id.
void CRukBBSFormConf::KakoMerge(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = form.Value("sel_id");
    CRukString sel2 = form.Value("sel_id2");
    if (sel.IsEmpty() || sel2.IsEmpty())
        MessageKey("msg51");
    if (sel == sel2)
        return;
    CRukString src = strOld + sel;
    CRukString dst = strOld + sel2;
    if (!Exists(dst))
        MessageKey("msg51");
    CRukBBSFile from, into;
    ReadLog(*this, from, src);
    ReadLog(*this, into, dst);

    // Attachment directories of the source; one that the target already
    // has would be lost, so the merge is refused.
    std::unordered_set<std::string> seen;
    CRukStrAry dirs;
    for (const CRukBBSData& rec : from.m_aryData) {
        if (!seen.insert(rec.id.GetText()).second)
            continue;
        if (!Exists(from.CreateAttachPath(src.GetText(), rec.id.GetText())))
            continue;
        if (Exists(into.CreateAttachPath(dst.GetText(), rec.id.GetText())))
            MessageKey("msg90");
        dirs.Add(rec.id);
    }
    for (CRukBBSData& rec : from.m_aryData)
        into.m_aryData.Add(std::move(rec));
    from.m_aryData.RemoveAll();
    into.Sort(into.m_aryData, 1);

    CRukStrAry done;
    if (!MoveAttachDirs(dirs, src, dst, done))
        MessageKey("msg90");
    int r = into.WritePageData(dst.GetText(), false);
    if (r < 0) {
        RestoreAttachDirs(done, src, dst);
        MessageKey("msg90");
    }
    if (r > 0)
        RemoveTree(src);
}

// Deletes an old log with everything in it.
void CRukBBSFormConf::KakoDel(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = form.Value("sel_id");
    if (sel.IsEmpty())
        MessageKey("msg51");
    RemoveTree(strOld + sel);
}

// Renames an old log.
void CRukBBSFormConf::KakoRename(CRukForm& form, const CRukString& strOld)
{
    CRukString sel = form.Value("sel_id");
    if (sel.IsEmpty())
        MessageKey("msg51");
    CRukString id = form.Value("kako_id");
    if (id.IsEmpty())
        MessageKey("msg50");
    CRukString target = strOld + id;
    if (Exists(target))
        MessageKey("msg52");
    rename((strOld + sel).GetText(), target.GetText());
}
