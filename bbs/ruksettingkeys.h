// CRukSettingKeys: the keys of the two settings maps, each described once.
// The system settings "dat-system.dat" hold the site's defaults and limits;
// a board's settings "data/BOARD.conf" hold what that board does. A row of
// a map's table names a key and says what it holds (its kind), what a new
// board or the sample system file starts with, the bounds a number is
// clamped to when it is saved, and the tag of the administration page
// that shows it. The programs read a key by its row with the typed
// accessors here, and the administration program saves, clamps and fills
// new boards from the rows: a new setting is one row plus its use.
//
// Besides the rows: the icon keys of a board ("ico_nameN", "ico_urlN"
// for icon number N) and the mobile-phone table's key "page_ppnum".
#ifndef RUKSETTINGKEYS_H
#define RUKSETTINGKEYS_H

#include "rukconfig.h"
#include "rukstring.h"

// What a setting holds; it says how the administration pages save it.
enum class ERukSettingKind {
    Text,      // free text, kept as typed (a title)
    Line,      // one line, kept without the blanks around it (a path, a name)
    Markup,    // HTML that the board's pages show as written
    Number,    // a decimal number, clamped to its bounds when saved
    Switch,    // "1" on, "" off
    Mode,      // an octal permission mode ("666")
    Code,      // a password's crypt(3) code, never shown (only whether it is set)
    Login,     // a login password's code, changed only by the password form
    Mail,      // one mail address
    MailList,  // mail addresses as typed
    Url,       // an address written into an attribute, kept without the blanks around it
    SiteUrl,   // the http or https address of the programs' directory
    DataDir,   // a board's data directory "data/.../"
    SkinDir,   // a skin directory, ending with "/"
    SkinUrl,   // the skin directory's address, ending with "/"
    ListFile,  // a word list below data/ (".ng" or ".txt")
    DenyFile,  // the deny list's file, as typed
};

// Where a new board's value comes from.
enum class ERukNewValue {
    None,     // a new board does not get the key
    Fixed,    // the row's default
    System,   // the system setting of the same name; the row's default when that is empty
    Code,     // the board password's code: typed, or the system's default password
    DataDir,  // "data/BOARD/" when the directory is made with the board, else empty
    SkinDir,  // the skin the administration runs with
    SkinUrl,  // that skin's address
    NgFile,   // "data/BOARD.ng", made empty with the board
};

// The keys of the system settings, in the order the system page saves them
// (the limits before the numbers they bound).
enum ERukSystemKey : int {
    kSysNone = -1,
    kSysFileMode,         // fmode666: mode of created files
    kSysDirMode,          // fmode777: mode of created directories
    kSysSendmail,         // sendmail: the mail program
    kSysBoardPasswd,      // passwd: code of the default board password
    kSysIconMax,          // icon_max: the highest icon number
    kSysAttachMax,        // attach_max: files one post may attach, at most
    kSysLogLimit,         // log_limit: messages a board may keep, at most
    kSysThreadsPerPage,   // page_ppnum: the new boards' defaults from here on
    kSysTitlesPerPage,    // page_ppnum2
    kSysAttachNum,        // attach_num
    kSysAttachSize,       // attach_size
    kSysEmbedSize,        // embed_size
    kSysLogMax,           // log_max
    kSysNewTime,          // new_time
    kSysTimeLagHours,     // timelag_hh
    kSysTimeLagMinutes,   // timelag_mm
    kSysTitle,            // bbs_title: the administration's title and new boards' default
    kSysHeader,           // user_header
    kSysFooter,           // user_footer
    kSysNewOrder,         // new_order
    kSysUseAttach,        // use_attach
    kSysAttachEmbed,      // attach_embed
    kSysUseIcon,          // use_icon
    kSysLogDel,           // log_del
    kSysMailFrom,         // mail_from: sender of notice mail
    kSysSiteUrl,          // site_url: the programs' own address
    kSysAdminPasswd,      // admin: code of the administrator's password
    kSysTrace,            // opt_trace: write the trace log
    kSysLockWait,         // lock_wait: milliseconds a lock is waited for
    kSysKeyCount
};

// The keys of a board's settings, in the order a new board is written.
enum ERukBoardKey : int {
    kBoardPasswd,           // passwd: code of the board's password
    kBoardOwnerMail,        // owner_mail: addresses told of new posts
    kBoardUseMail,          // use_mail: tell them
    kBoardCcMail,           // cc_mail: copies of those notices
    kBoardTitle,            // bbs_title
    kBoardDataDir,          // datadir
    kBoardSkinDir,          // skindir
    kBoardSkinUrl,          // skinurl
    kBoardStyleSheet,       // stylesheet: a style sheet in place of the skin's
    kBoardNewImage,         // new_image: the picture marking new messages
    kBoardNewTime,          // new_time: hours a message counts as new
    kBoardTimeLagHours,     // timelag_hh: hours added to the clock
    kBoardTimeLagMinutes,   // timelag_mm: minutes added to the clock
    kBoardHeader,           // user_header: markup above the pages
    kBoardFooter,           // user_footer: markup below the pages
    kBoardHomeUrl,          // home_url: the site's home page
    kBoardThreadsPerPage,   // page_ppnum: threads a page shows
    kBoardTitlesPerPage,    // page_ppnum2: threads a page of titles shows
    kBoardNewOrder,         // new_order: replies newest first
    kBoardAttachNum,        // attach_num: files a post may attach
    kBoardAttachSize,       // attach_size: KB a post's files may hold
    kBoardEmbedSize,        // embed_size: KB up to which a picture is shown in the page
    kBoardUseAttach,        // use_attach: posts may attach files
    kBoardAttachEmbed,      // attach_embed: attached pictures are shown in the page
    kBoardUseIcon,          // use_icon: posts may have an icon
    kBoardLogMax,           // log_max: messages the board keeps
    kBoardLogDel,           // log_del: beyond them the oldest threads go
    kBoardDenyFile,         // denyfile: the deny list
    kBoardWritePasswd,      // write_passwd: code of the posting password
    kBoardMessMax,          // mess_max: bytes of a body
    kBoardPostInterval,     // post_interval: seconds between two posts of a client
    kBoardPostBurst,        // post_burst: posts of a client in ten minutes
    kBoardNeedJapanese,     // need_japanese: a body must hold Japanese
    kBoardLinkMax,          // link_max: links a body may hold
    kBoardNgFile,           // ngfile: the NG-word list
    kBoardLogArchive,       // log_archive: threads that go are kept in monthly old logs
    kBoardPostRedirect,     // post_redirect: a post is answered with a redirect
    kBoardAdminName,        // admin_name: the name only the board password may post with
    kBoardKeyCount
};

// The bounds of a number: a saved value below nLow becomes nLow, one above
// nHigh (or above the system value of nHighKey, when that is set) becomes
// that bound. With bEmptyOff an empty value stays empty: the setting is
// off, as it is for a board whose settings lack the key.
struct SRukBounds {
    int nLow = 0;
    int nHigh = 0;
    ERukSystemKey nHighKey = kSysNone;
    bool bEmptyOff = false;
};

// One key of a settings map.
struct SRukSettingKey {
    int nKey;               // its ERukSystemKey or ERukBoardKey
    const char* pName;      // as written in the file
    ERukSettingKind nKind;
    // What a new board (ERukNewValue::Fixed, or the fallback of System)
    // or the sample system file holds; nullptr: the sample has no line.
    const char* pDefault;
    ERukNewValue nNew;      // board keys: where a new board's value comes from
    // The tag of its map's settings page (the system page, a board's
    // settings page) that shows it: the value, for a switch "checked" or
    // nothing, for a mode its select, for a code whether it is set. The
    // page saves every row it shows but a Login row; nullptr: the row is
    // not on the page.
    const char* pPageTag;
    SRukBounds bounds;      // numbers
};

// The rows of one map, in its order.
struct SRukSettingTable {
    const SRukSettingKey* pRows;
    int nCount;
    const SRukSettingKey* begin() const { return pRows; }
    const SRukSettingKey* end() const { return pRows + nCount; }
};

// The icon keys: prefix and icon number, "ico_name3".
inline constexpr char kBoardIconName[] = "ico_name";
inline constexpr char kBoardIconUrl[] = "ico_url";
// The mobile-phone table ("default.keit"): threads a phone's page shows.
inline constexpr char kKeitaiPerPage[] = "page_ppnum";

class CRukSettingKeys {
public:
    static SRukSettingTable System();
    static SRukSettingTable Board();
    static const SRukSettingKey& Row(ERukSystemKey nKey);
    static const SRukSettingKey& Row(ERukBoardKey nKey);
    // The row of a name in a table, or nullptr.
    static const SRukSettingKey* Find(const SRukSettingTable& table, const char* pName);

    // The stored text; empty when the key is missing.
    template <class K>
    static CRukString Text(const CRukConfig& cf, K nKey)
    {
        return cf.Value(Row(nKey).pName);
    }
    // The stored number as atoi reads it (blanks before it skipped, what
    // follows the digits ignored): 0 when the key is missing, empty or no
    // number; a value beyond int is its nearest bound.
    // (Read in place: pages ask for numbers once per message.)
    template <class K>
    static int Number(const CRukConfig& cf, K nKey)
    {
        const CRukStrPair* pPair = cf.Data(Row(nKey).pName);
        return ToNumber(pPair ? pPair->m_data.GetText() : "");
    }
    // True when the number is 1: how the board reads most switches.
    template <class K>
    static bool IsOne(const CRukConfig& cf, K nKey)
    {
        return Number(cf, nKey) == 1;
    }
    // True when the value is exactly "1": how the administration pages
    // show a switch.
    template <class K>
    static bool IsChecked(const CRukConfig& cf, K nKey)
    {
        return cf.Value(Row(nKey).pName) == "1";
    }
    // True when the file has the key (an empty value counts).
    template <class K>
    static bool Has(const CRukConfig& cf, K nKey)
    {
        return cf.Data(Row(nKey).pName) != nullptr;
    }
    template <class K>
    static void Set(CRukConfig& cf, K nKey, const char* pValue)
    {
        cf.SetAt(Row(nKey).pName, pValue);
    }

    // The number of a text as Number reads it.
    static int ToNumber(const char* pText);
    // The decimal text a number row stores for a typed value: clamped to
    // the row's bounds, the upper one lowered to the system value of its
    // high key when that is set (not below the low bound); empty for an
    // empty value of a row whose empty value is off.
    static CRukString Clamped(const SRukSettingKey& row, const CRukString& typed,
                              const CRukConfig& system);
    // The key of icon nIcon in a family ("ico_name", "ico_url").
    static CRukString IconKey(const char* pFamily, int nIcon);
};

#endif
