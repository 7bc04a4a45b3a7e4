// CRukBBSFormConf: a board's icons: the icon page, which shows each icon's
// picture beside its number and name, the action that saves the names and
// addresses, and the upload of an icon's picture from the browser.
//
// An uploaded picture is stored as "skin/icons/BID/N-XXXXXXXX.EXT": BID
// the board id, N the icon number, XXXXXXXX eight random hex digits, EXT
// the type its first bytes show (png, gif, jpg, webp), which the uploaded
// file's name must show too. Nothing else of that name is kept. The file
// is created new (never over another file), then the icon's address is
// set to it, and only then is the board's earlier picture of that number
// removed. The web server configurations serve pictures below skin/ by
// exactly these extensions (scripts/make-site's SKIN_TYPES and
// site-text/.htaccess, which add "ico", never taken here); make-site
// gives skin/icons/ to the server's user.
#include "rukbbsformconf.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "rukbbsformconf_shared.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The largest picture taken.
static const unsigned s_nIconMaxBytes = 200 * 1024;

// The name extensions of the picture types (the stored one first).
static const struct {
    const char* pType;
    const char* pExt;
} s_rgPictureExts[] = {
    {"png", "png"}, {"gif", "gif"}, {"jpg", "jpg"}, {"jpg", "jpeg"}, {"webp", "webp"},
};

static const char s_szIcon[] = "\x83\x41\x83\x43\x83R\x83\x93";                   // アイコン
static const char s_szNoPicture[] = "\x89\xe6\x91\x9c\x82\xc8\x82\xb5";            // 画像なし
static const char s_szAdminOnly[] = "\x81i\x8a\xc7\x97\x9d\x8e\xd2\x90\xea\x97p\x81j";  // （管理者専用）

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

const char* CRukBBSFormConf::PictureType(const unsigned char* p, size_t n)
{
    auto at = [&](size_t nAt, const char* pMagic, size_t nMagic) {
        return n >= nAt + nMagic && memcmp(p + nAt, pMagic, nMagic) == 0;
    };
    if (at(0, "\x89PNG\r\n\x1a\n", 8))
        return "png";
    if (at(0, "GIF87a", 6) || at(0, "GIF89a", 6))
        return "gif";
    if (at(0, "\xff\xd8\xff", 3))
        return "jpg";
    if (at(0, "RIFF", 4) && at(8, "WEBP", 4))
        return "webp";
    return nullptr;
}

const char* CRukBBSFormConf::PictureTypeOfName(const char* pName)
{
    const char* pDot = pName ? strrchr(pName, '.') : nullptr;
    if (!pDot)
        return nullptr;
    for (const auto& e : s_rgPictureExts)
        if (strcasecmp(pDot + 1, e.pExt) == 0)
            return e.pType;
    return nullptr;
}

// ---------------------------------------------------------------------------
// The icon page

// The picture of an icon for the page: its image with the name (or
// "アイコンN") as its text, or a note that there is none. The name and
// the address are escaped; the attribute order keeps the template reader
// from rebasing it.
static CRukString PreviewOf(int nIcon, const CRukString& name, const CRukString& url)
{
    if (url.IsEmpty())
        return CRukString("<span class=\"none\">") + s_szNoPicture + "</span>";
    CRukString alt = CRukBBSFormBase::EscapeHtml(name.GetText());
    if (alt.IsEmpty())
        alt.Format("%s%d", s_szIcon, nIcon);
    return "<img class=\"icon\" alt=\"" + alt + "\" src=\"" +
           CRukBBSFormBase::EscapeHtml(url.GetText()) + "\">";
}

// The select of icon numbers for the upload, each with its name
// (escaped), the number nSelected marked.
static CRukString IconSelect(int nMax, int nSelected,
                             const std::function<CRukString(const char*, int)>& value)
{
    CRukString out = "<select id=\"up_no\" name=\"icon_no\">\n";
    for (int i = 0; i <= nMax; i++) {
        CRukString name = CRukBBSFormBase::EscapeHtml(value(kBoardIconName, i).GetText());
        CRukString line;
        line.Format("<option value=\"%d\"%s>%d %s%s</option>\n", i,
                    i == nSelected ? " selected" : "", i, name.GetText(),
                    i == 0 ? s_szAdminOnly : "");
        out += line;
    }
    return out + "</select>\n";
}

// A board's icon page: one row of the marked pattern per icon number from
// 0 to the system icon_max, and the upload form.
void CRukBBSFormConf::ConfigIcoForm(CRukForm& form)
{
    m_strTitle = CRukSettingKeys::Text(m_cfBBS, kBoardTitle);
    CRukString page = ReadTemplate((m_strConfDir + "templ_config_ico.html").GetText());
    // The rows go in with the other tags, so that no icon text is taken
    // for a tag.
    CRukString pattern = CutPattern(page, "TR_ICON", "%ICON_ROWS%");
    NameIndex index = IndexNames(m_cfBBS);
    auto value = [&](const char* pFamily, int nIcon) -> CRukString {
        NameIndex::const_iterator it =
            index.find(CRukSettingKeys::IconKey(pFamily, nIcon).GetText());
        return it == index.end() ? CRukString() : m_cfBBS[it->second].m_data;
    };
    int nMax = CRukSettingKeys::Number(m_cfSystem, kSysIconMax);
    CRukString rows;
    for (int i = 0; i <= nMax; i++) {
        CRukString name = value(kBoardIconName, i);
        CRukString url = value(kBoardIconUrl, i);
        rows += FillWithCommon(pattern, {{"%No%", CRukString(i), true},
                                         {"%PREVIEW%", PreviewOf(i, name, url), false, true},
                                         {"%NAME%", name},
                                         {"%URL%", url}});
    }
    CRukString sent = form.Value("icon_no");
    int nSelected = IsDigits(sent.GetText()) && !sent.IsEmpty() ? ToInt(sent) : 1;
    CRukTagList tags = {{"%ICON_ROWS%", rows, false, true},
                        {"%SELECT_ICON%", IconSelect(nMax, nSelected, value), false, true}};
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// Saving the list

// Saves a board's icon names and URLs for the numbers 0 to icon_max. An
// address that could break out of the board's image attribute is refused.
void CRukBBSFormConf::SubmitIcon(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = form.Value("mode");
    NameIndex fields = IndexNames(form);
    int nMax = CRukSettingKeys::Number(m_cfSystem, kSysIconMax);
    auto sent = [&](const CRukString& key) {
        NameIndex::const_iterator f = fields.find(key.GetText());
        CRukString value = f == fields.end() ? CRukString() : form[f->second].m_data.m_strValue;
        return value.Trim();
    };
    for (int i = 0; i <= nMax; i++)
        if (!IsSafeUrlText(sent(CRukSettingKeys::IconKey(kBoardIconUrl, i))))
            MessageKey(kMsgBadAddress);
    RequireUpdate(BoardSettingsPath().GetText(), kMsgNoSuchBoard, kMsgSettingsNotWritten,
                  [&](CRukConfig& cf) {
        NameIndex keys = IndexNames(cf);
        for (int i = 0; i <= nMax; i++) {
            for (const char* pFamily : {kBoardIconName, kBoardIconUrl}) {
                CRukString key = CRukSettingKeys::IconKey(pFamily, i);
                CRukString value = sent(key);
                NameIndex::const_iterator k = keys.find(key.GetText());
                if (k != keys.end()) {
                    cf[k->second].m_data = std::move(value);
                } else {
                    CRukStrPair pair;
                    pair.m_strTag = key;
                    pair.m_data = std::move(value);
                    int n = cf.CRukAry<CRukStrPair>::Add(std::move(pair));
                    keys.emplace(key.GetText(), n);
                }
            }
        }
        return true;
    }, &m_cfBBS);
    Notice(kMsgIconsSaved);
}

// ---------------------------------------------------------------------------
// Uploading a picture

// True when dir (ending with "/") is a directory itself, not a link to
// one; made when it is missing.
static bool EnsureDir(const CRukString& dir)
{
    CRukString path = dir.Left(dir.GetLength() - 1);
    struct stat st;
    if (lstat(path.GetText(), &st) != 0 && !MakeDir(path) && errno != EEXIST)
        return false;
    return lstat(path.GetText(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the bytes into a new file "N-XXXXXXXX.EXT" of dir; its name, or
// empty when it could not be written (nothing is left then). A name that
// is taken is never written over: another random name is tried.
static CRukString WriteNewIcon(const CRukString& dir, int nIcon, const char* pExt,
                               const CRukBuffer& data)
{
    for (int nTry = 0; nTry < 4; nTry++) {
        CRukString hex = CRukSession::RandomHex(4);
        if (hex.IsEmpty())
            return CRukString();
        CRukString name;
        name.Format("%d-%s.%s", nIcon, hex.GetText(), pExt);
        CRukString path = dir + name;
        int fd = open(path.GetText(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      go.m_nFileMode);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return CRukString();
        bool bOk = true;
        for (unsigned nDone = 0; bOk && nDone < data.GetSize();) {
            ssize_t n = write(fd, data.GetData() + nDone, data.GetSize() - nDone);
            if (n < 0 && errno == EINTR)
                continue;
            bOk = n > 0;
            nDone += bOk ? static_cast<unsigned>(n) : 0;
        }
        bOk = close(fd) == 0 && bOk;
        if (!bOk) {
            if (unlink(path.GetText()) != 0)
                go.m_log.Trace("-- unlink(%s) failed", path.GetText());
            return CRukString();
        }
        if (chmod(path.GetText(), static_cast<mode_t>(go.m_nFileMode)) != 0)
            go.m_log.Trace("-- chmod(%s) failed", path.GetText());
        return name;
    }
    return CRukString();
}

// True for the name of a picture this program stored for icon nIcon.
static bool IsStoredIconName(const CRukString& name, int nIcon)
{
    CRukString prefix;
    prefix.Format("%d-", nIcon);
    const char* p = name.GetText();
    if (strncmp(p, prefix.GetText(), prefix.GetLength()) != 0)
        return false;
    p += prefix.GetLength();
    if (strspn(p, "0123456789abcdef") != 8 || p[8] != '.')
        return false;
    for (const auto& e : s_rgPictureExts)
        if (strcmp(p + 9, e.pType) == 0)
            return true;
    return false;
}

// Stores an uploaded picture as icon icon_no of the board and sets the
// icon's address to it (and its name, when one is typed).
void CRukBBSFormConf::SubmitIconUpload(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = "icon";
    CRukString number = Trimmed(form, "icon_no");
    int nMax = CRukSettingKeys::Number(m_cfSystem, kSysIconMax);
    const CRukFormPair* pFile = form.Data("icon_file");
    if (number.IsEmpty() || number.GetLength() > 9 || !IsDigits(number.GetText()) ||
        ToInt(number) > nMax || !pFile || pFile->m_data.m_data.GetSize() == 0)
        MessageKey(kMsgNoIconChosen);
    int nIcon = ToInt(number);
    const CRukBuffer& data = pFile->m_data.m_data;
    if (data.GetSize() > s_nIconMaxBytes)
        MessageKey(kMsgIconTooLarge);
    const char* pType = PictureType(reinterpret_cast<const unsigned char*>(data.GetData()),
                                    data.GetSize());
    const char* pNamed = PictureTypeOfName(pFile->m_data.m_strValue.GetText());
    if (!pType || !pNamed || strcmp(pType, pNamed) != 0)
        MessageKey(kMsgBadIconPicture);

    CRukString dir = IconDir(m_strBBSID);
    if (!EnsureDir(s_pIconRoot) || !EnsureDir(dir))
        MessageKey(kMsgIconNotStored);
    CRukString name = WriteNewIcon(dir, nIcon, pType, data);
    if (name.IsEmpty())
        MessageKey(kMsgIconNotStored);
    CRukString path = dir + name;
    CRukString url = ServerPath2UrlPath(path.GetText(), 1);
    CRukString typedName = Trimmed(form, "icon_name");
    CRukString urlKey = CRukSettingKeys::IconKey(kBoardIconUrl, nIcon);
    CRukString nameKey = CRukSettingKeys::IconKey(kBoardIconName, nIcon);
    CRukString oldUrl;
    int r = UpdateSettings(BoardSettingsPath().GetText(), [&](CRukConfig& cf) {
        oldUrl = cf.Value(urlKey.GetText());
        cf.SetAt(urlKey.GetText(), url.GetText());
        if (!typedName.IsEmpty())
            cf.SetAt(nameKey.GetText(), typedName.GetText());
        return true;
    }, &m_cfBBS);
    if (r != 0) {
        if (unlink(path.GetText()) != 0)
            go.m_log.Trace("-- unlink(%s) failed", path.GetText());
        MessageKey(r == -1 ? kMsgNoSuchBoard : r == -3 ? kMsgSettingsNotWritten : kMsgBusy);
    }
    // The earlier picture of this icon goes when this program stored it.
    CRukStrPath old;
    old.Split(oldUrl.GetText());
    CRukString oldPath = dir + old.GetName();
    if (oldUrl != url && IsStoredIconName(old.GetName(), nIcon) &&
        ServerPath2UrlPath(oldPath.GetText(), 1) == oldUrl && unlink(oldPath.GetText()) != 0)
        go.m_log.Trace("-- unlink(%s) failed", oldPath.GetText());
    Notice(kMsgIconUploaded, {{"%NO%", CRukString(nIcon)}});
}
