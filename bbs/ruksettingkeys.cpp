// CRukSettingKeys: the two tables of settings keys and their typed
// reading. The order of each table is the order its keys are written in
// when a file lacks them: the system page saves in the system table's
// order (its limits before the numbers they bound), a new board is
// written in the board table's order.
#include "ruksettingkeys.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

typedef ERukSettingKind K;
typedef ERukNewValue N;

// A row of any kind but a number.
constexpr SRukSettingKey Key(int nKey, const char* pName, K nKind, const char* pDefault, N nNew,
                             const char* pPageTag)
{
    return SRukSettingKey{nKey, pName, nKind, pDefault, nNew, pPageTag, SRukBounds{}};
}

// A number row: nLow to nHigh (INT_MAX: no upper bound), the upper bound
// lowered to the system value of nHighKey; with bEmptyOff an empty value
// stays off.
constexpr SRukSettingKey Num(int nKey, const char* pName, const char* pDefault, N nNew,
                             const char* pPageTag, int nLow, int nHigh,
                             ERukSystemKey nHighKey = kSysNone, bool bEmptyOff = false)
{
    SRukBounds bounds{nLow, nHigh, nHighKey, bEmptyOff};
    return SRukSettingKey{nKey, pName, K::Number, pDefault, nNew, pPageTag, bounds};
}

constexpr int kNoMax = INT_MAX;

// "RUK-BBS 掲示板"
constexpr char s_szSampleTitle[] = "RUK-BBS \x8c\x66\x8e\xa6\x94\xc2";

// The system settings; "default" is the sample file's value.
constexpr SRukSettingKey s_rgSystem[] = {
    Key(kSysFileMode, "fmode666", K::Mode, "666", N::None, "%SELECT_F_MODE%"),
    Key(kSysDirMode, "fmode777", K::Mode, "777", N::None, "%SELECT_D_MODE%"),
    Key(kSysSendmail, "sendmail", K::Line, "/usr/sbin/sendmail", N::None, "%SENDMAIL%"),
    Key(kSysBoardPasswd, "passwd", K::Code, "", N::None, "%DEFAULT_PASSWD_STATE%"),
    Num(kSysIconMax, "icon_max", "10", N::None, "%ICON_MAX%", 1, kNoMax),
    Num(kSysAttachMax, "attach_max", "3", N::None, "%ATTACH_MAX%", 1, kNoMax),
    Num(kSysLogLimit, "log_limit", "3000", N::None, "%LOG_LIMIT%", 1, kNoMax),
    Num(kSysThreadsPerPage, "page_ppnum", "10", N::None, "%PAGE_PPNUM%", 1, kNoMax),
    Num(kSysTitlesPerPage, "page_ppnum2", "30", N::None, "%PAGE_PPNUM2%", 1, kNoMax),
    Num(kSysAttachNum, "attach_num", "3", N::None, "%ATTACH_NUM%", 1, kNoMax, kSysAttachMax),
    Num(kSysAttachSize, "attach_size", "10240", N::None, "%ATTACH_SIZE%", 1, kNoMax),
    Num(kSysEmbedSize, "embed_size", "10240", N::None, "%EMBED_SIZE%", 1, kNoMax),
    Num(kSysLogMax, "log_max", "1000", N::None, "%LOG_MAX%", 1, kNoMax, kSysLogLimit),
    Num(kSysNewTime, "new_time", "24", N::None, "%NEW_TIME%", 0, kNoMax),
    Num(kSysTimeLagHours, "timelag_hh", "0", N::None, "%TIMELAG_HH%", -24, 24),
    Num(kSysTimeLagMinutes, "timelag_mm", "0", N::None, "%TIMELAG_MM%", -60, 60),
    Key(kSysTitle, "bbs_title", K::Text, s_szSampleTitle, N::None, "%BBS_TITLE%"),
    Key(kSysHeader, "user_header", K::Markup, "", N::None, "%USER_HEADER%"),
    Key(kSysFooter, "user_footer", K::Markup, "", N::None, "%USER_FOOTER%"),
    Key(kSysNewOrder, "new_order", K::Switch, "", N::None, "%NEW_ORDER_CHECKED%"),
    Key(kSysUseAttach, "use_attach", K::Switch, "1", N::None, "%ATTACH_CHECKED%"),
    Key(kSysAttachEmbed, "attach_embed", K::Switch, "1", N::None, "%EMBED_CHECKED%"),
    Key(kSysUseIcon, "use_icon", K::Switch, "1", N::None, "%ICON_CHECKED%"),
    Key(kSysLogDel, "log_del", K::Switch, "1", N::None, "%LOGDEL_CHECKED%"),
    Key(kSysMailFrom, "mail_from", K::Mail, "", N::None, "%MAIL_FROM%"),
    Key(kSysSiteUrl, "site_url", K::SiteUrl, "", N::None, "%SITE_URL%"),
    // Not on the system page: set by hand, or by the password form.
    Key(kSysAdminPasswd, "admin", K::Login, nullptr, N::None, nullptr),
    Key(kSysTrace, "opt_trace", K::Switch, "0", N::None, nullptr),
    Num(kSysLockWait, "lock_wait", nullptr, N::None, nullptr, 0, 60000),
};

// A board's settings; "default" is a new board's value (for N::System,
// when the system setting is empty).
constexpr SRukSettingKey s_rgBoard[] = {
    Key(kBoardPasswd, "passwd", K::Login, "", N::Code, "%BOARD_PASSWD_STATE%"),
    Key(kBoardOwnerMail, "owner_mail", K::MailList, "", N::Fixed, "%OWNER_MAIL%"),
    Key(kBoardUseMail, "use_mail", K::Switch, "", N::Fixed, "%MAIL_CHECKED%"),
    Key(kBoardCcMail, "cc_mail", K::MailList, "", N::None, "%CC_MAIL%"),
    Key(kBoardTitle, "bbs_title", K::Text, "", N::System, "%BBS_TITLE%"),
    Key(kBoardDataDir, "datadir", K::DataDir, "", N::DataDir, "%DATADIR%"),
    Key(kBoardSkinDir, "skindir", K::SkinDir, "", N::SkinDir, "%SKINDIR%"),
    Key(kBoardSkinUrl, "skinurl", K::SkinUrl, "", N::SkinUrl, "%SKINURL%"),
    Key(kBoardStyleSheet, "stylesheet", K::Url, "", N::Fixed, "%STYLESHEET%"),
    Key(kBoardNewImage, "new_image", K::Url, "", N::Fixed, "%NEW_IMAGE%"),
    Num(kBoardNewTime, "new_time", "", N::System, "%NEW_TIME%", 0, kNoMax),
    Num(kBoardTimeLagHours, "timelag_hh", "", N::System, "%TIMELAG_HH%", -24, 24),
    Num(kBoardTimeLagMinutes, "timelag_mm", "", N::System, "%TIMELAG_MM%", -60, 60),
    // Markup on the site's origin: only the site administrator changes it.
    Key(kBoardHeader, "user_header", K::Markup, "", N::System, "%USER_HEADER%"),
    Key(kBoardFooter, "user_footer", K::Markup, "", N::System, "%USER_FOOTER%"),
    Key(kBoardHomeUrl, "home_url", K::Url, "", N::Fixed, "%HOME%"),
    Num(kBoardThreadsPerPage, "page_ppnum", "", N::System, "%PAGE_PPNUM%", 1, kNoMax),
    Num(kBoardTitlesPerPage, "page_ppnum2", "", N::System, "%PAGE_PPNUM2%", 1, kNoMax),
    Key(kBoardNewOrder, "new_order", K::Switch, "", N::System, "%NEW_ORDER_CHECKED%"),
    Num(kBoardAttachNum, "attach_num", "", N::System, "%ATTACH_NUM%", 1, kNoMax, kSysAttachMax),
    // Room for a phone's photos.
    Num(kBoardAttachSize, "attach_size", "10240", N::System, "%ATTACH_SIZE%", 1, kNoMax),
    Num(kBoardEmbedSize, "embed_size", "10240", N::System, "%EMBED_SIZE%", 1, kNoMax),
    Key(kBoardUseAttach, "use_attach", K::Switch, "", N::System, "%ATTACH_CHECKED%"),
    Key(kBoardAttachEmbed, "attach_embed", K::Switch, "", N::System, "%EMBED_CHECKED%"),
    Key(kBoardUseIcon, "use_icon", K::Switch, "", N::System, "%ICON_CHECKED%"),
    Num(kBoardLogMax, "log_max", "", N::System, "%LOG_MAX%", 1, kNoMax, kSysLogLimit),
    Key(kBoardLogDel, "log_del", K::Switch, "", N::System, "%LOGDEL_CHECKED%"),
    Key(kBoardDenyFile, "denyfile", K::DenyFile, "ruk-deny.cgi", N::Fixed, "%DENYFILE%"),
    Key(kBoardWritePasswd, "write_passwd", K::Code, "", N::None, "%WRITE_PASSWD_STATE%"),
    // The posting limits of a new board; left empty, a limit is off.
    Num(kBoardMessMax, "mess_max", "10000", N::Fixed, "%MESS_MAX%", 100, 200000, kSysNone, true),
    Num(kBoardPostInterval, "post_interval", "20", N::Fixed, "%POST_INTERVAL%", 0, 3600, kSysNone,
        true),
    Num(kBoardPostBurst, "post_burst", "10", N::Fixed, "%POST_BURST%", 1, 1000, kSysNone, true),
    Key(kBoardNeedJapanese, "need_japanese", K::Switch, "1", N::Fixed, "%JAPANESE_CHECKED%"),
    Num(kBoardLinkMax, "link_max", "3", N::Fixed, "%LINK_MAX%", 0, 100, kSysNone, true),
    Key(kBoardNgFile, "ngfile", K::ListFile, "", N::NgFile, "%NGFILE%"),
    Key(kBoardLogArchive, "log_archive", K::Switch, "1", N::Fixed, "%ARCHIVE_CHECKED%"),
    Key(kBoardPostRedirect, "post_redirect", K::Switch, "1", N::Fixed, "%REDIRECT_CHECKED%"),
    Key(kBoardAdminName, "admin_name", K::Line, "", N::Fixed, "%ADMIN_NAME%"),
};

// True when every row stands at the place its key names.
template <size_t n>
constexpr bool InKeyOrder(const SRukSettingKey (&rows)[n])
{
    for (size_t i = 0; i < n; i++)
        if (rows[i].nKey != static_cast<int>(i))
            return false;
    return true;
}

static_assert(InKeyOrder(s_rgSystem) && sizeof(s_rgSystem) / sizeof(s_rgSystem[0]) == kSysKeyCount,
              "one system row per key, in key order");
static_assert(InKeyOrder(s_rgBoard) && sizeof(s_rgBoard) / sizeof(s_rgBoard[0]) == kBoardKeyCount,
              "one board row per key, in key order");

}  // namespace

SRukSettingTable CRukSettingKeys::System()
{
    return {s_rgSystem, kSysKeyCount};
}

SRukSettingTable CRukSettingKeys::Board()
{
    return {s_rgBoard, kBoardKeyCount};
}

const SRukSettingKey& CRukSettingKeys::Row(ERukSystemKey nKey)
{
    return s_rgSystem[nKey];
}

const SRukSettingKey& CRukSettingKeys::Row(ERukBoardKey nKey)
{
    return s_rgBoard[nKey];
}

const SRukSettingKey* CRukSettingKeys::Find(const SRukSettingTable& table, const char* pName)
{
    for (const SRukSettingKey& row : table)
        if (strcmp(row.pName, pName ? pName : "") == 0)
            return &row;
    return nullptr;
}

int CRukSettingKeys::ToNumber(const char* pText)
{
    errno = 0;
    long n = strtol(pText ? pText : "", nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}

CRukString CRukSettingKeys::Clamped(const SRukSettingKey& row, const CRukString& typed,
                                    const CRukConfig& system)
{
    const SRukBounds& b = row.bounds;
    if (b.bEmptyOff && CRukString(typed).Trim().IsEmpty())
        return CRukString();
    int n = ToNumber(typed.GetText());
    if (n < b.nLow)
        n = b.nLow;
    int nHigh = b.nHighKey == kSysNone ? b.nHigh : Number(system, b.nHighKey);
    if (nHigh >= b.nLow && n > nHigh)
        n = nHigh;
    return CRukString(n);
}

CRukString CRukSettingKeys::IconKey(const char* pFamily, int nIcon)
{
    CRukString key;
    key.Format("%s%d", pFamily, nIcon);
    return key;
}
