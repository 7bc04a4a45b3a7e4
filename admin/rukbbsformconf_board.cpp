// CRukBBSFormConf: a board's settings page and icon list, and the actions
// that save them; with no button, a board id shows one of the board's
// pages.
#include "rukbbsformconf.h"

#include <string>
#include <unistd.h>
#include <unordered_map>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

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

// The skin URL normalised as a path; the "//" of a scheme stays.
static CRukString NormalizeUrl(const CRukString& url)
{
    int nScheme = url.Find("://");
    if (nScheme <= 0)
        return CRukStrPath::Normalize(url.GetText());
    CRukString rest = CRukStrPath::Normalize(url.Mid(nScheme + 3).GetText());
    return url.Left(nScheme + 3) + rest;
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

