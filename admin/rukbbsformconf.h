// CRukBBSFormConf: the administration program's front end. It renders the
// login page, the system settings page with the board registry, a board's
// settings, icon, old-log and moderation pages, and runs the actions that
// change those settings, the registry, the icons, the old logs, the
// board's messages and its deny list. Every refusal ends the request
// through the base's message page; every action that succeeds answers
// with its page carrying one line that says what was done (shown once,
// never stored). Removing a board or an old log takes two POSTs: the
// first asks on the page, only the second removes.
//
// Nothing is shown and nothing is changed without a login: the
// administrator's password opens a session for every page, a board's
// password one for that board's pages. An action is accepted only as a
// POST from the site's own pages carrying the session's form token.
#ifndef RUKBBSFORMCONF_H
#define RUKBBSFORMCONF_H

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <vector>

#include "rukbbsdata.h"
#include "rukbbsformbase.h"
#include "rukcookie.h"
#include "rukform.h"
#include "ruksettingkeys.h"
#include "ruksession.h"

class CRukBBSFormConf : public CRukBBSFormBase {
public:
    CRukBBSFormConf() = default;
    ~CRukBBSFormConf() override = default;

    // Who may run an action: anyone with the login page's token, any
    // session, the administrator's session, a session of the board.
    enum Access { ACCESS_LOGIN, ACCESS_ANY, ACCESS_ADMIN, ACCESS_BOARD };

    // The page that follows an action or that a request asks for;
    // PAGE_HOME is the board's page by its mode with a board id, else the
    // system page.
    enum Page { PAGE_LOGIN, PAGE_SYSTEM, PAGE_BOARD, PAGE_ICONS, PAGE_OLDLOGS, PAGE_MODERATION,
                PAGE_HOME };

    // Runs the request: the action of the first button the form carries
    // and the page that follows it, or, without one, the page the request
    // asks for (the login page unless a session allows it).
    void Run(CRukForm& form, const CRukCookie& cookie);

    // --- pages
    void LoginForm(CRukForm& form);
    void ConfigSysForm(CRukForm& form);
    void ConfigBBSForm(CRukForm& form);
    void ConfigIcoForm(CRukForm& form);
    void ConfigOldForm(CRukForm& form);
    void ConfigModForm(CRukForm& form);

    // --- actions; the table of rukbbsformconf_actions.cpp names the page
    // that follows each
    void SubmitLogin(CRukForm& form);
    void SubmitLogout(CRukForm& form);
    void SubmitPasswd(CRukForm& form);
    void SubmitAdd(CRukForm& form);
    void SubmitDel(CRukForm& form);
    void SubmitSys(CRukForm& form);
    void SubmitConfig(CRukForm& form);
    void SubmitIcon(CRukForm& form);
    void SubmitIconUpload(CRukForm& form);
    void SubmitKako(CRukForm& form);
    void SubmitModDelete(CRukForm& form);
    void SubmitDeny(CRukForm& form);
    // No button and a board id: the board's settings, icon, old-log or
    // moderation page by the form's mode.
    void ShowBoard(CRukForm& form);
    void ShowPage(Page nPage, CRukForm& form);

    // The settings file of the current board.
    CRukString BoardSettingsPath() const;
    // True when the data directory pDataDir holds the working directory,
    // the board registry, a skin or the administration templates.
    bool IsSiteInside(const char* pDataDir, const char* pSkinDir) const;

    // "data/NAME/.../" for a text naming a directory below the registry
    // directory "data" (blanks around it, "\" and "." components and
    // repeated "/" are forgiven); empty for an absolute path, a ".."
    // component, a name of other characters than letters, digits, ".",
    // "_" and "-", or "data" itself.
    static CRukString DataRelativePath(const char* pText);
    // The address of the board's directory typed for site_url, checked:
    // an http or https URL with a host, an optional port and a path (a
    // "/" is added when it ends otherwise), without user, query or
    // fragment; empty when it is not one.
    static CRukString SiteUrl(const char* pText);
    // True for one mail address without list, comment or line syntax.
    static bool IsOneAddress(const char* pText);
    // The deny-list entry for a typed or stored address: an IPv4 or IPv6
    // address in the form inet_ntop writes (as web servers pass
    // REMOTE_ADDR), or a host name of at least two labels (letters,
    // digits and inner "-", the last label not all digits) in lower case;
    // empty for anything else.
    static CRukString DenyEntry(const char* pText);
    // The picture type of an icon's bytes by their magic: "png", "gif",
    // "jpg" or "webp"; null for anything else.
    static const char* PictureType(const unsigned char* p, size_t n);
    // The picture type a file name's extension names (any letter case;
    // "jpeg" is "jpg"); null for other names.
    static const char* PictureTypeOfName(const char* pName);
    // At most nBytes bytes of a Shift_JIS text, cut before a character that
    // would not fit whole; line breaks (LF, CR and the message file's 0x1D)
    // become blanks.
    static CRukString Excerpt(const char* pText, int nBytes);

private:
    // --- the requests (rukbbsformconf_actions.cpp)
    struct SAction;
    static const SAction s_rgActions[];
    // Checks who sent the action, runs it and shows the page that follows.
    void RunAction(const SAction& action, CRukForm& form);
    // The page a request without a button asks for.
    void ShowAskedPage(CRukForm& form);

    // --- sessions
    // Looks up the session of the request's cookie; false without one.
    bool FindSession();
    // Ends the request unless the form carries the login page's token.
    void RequireLoginToken(CRukForm& form);
    // Ends the request with kMsgNotLoggedIn unless the session allows the
    // action, and with kMsgForgedForm unless the form carries the
    // session's form token.
    void RequireSession(CRukForm& form, Access nAccess);
    // True when the session found or started may do what nAccess names.
    bool Allows(Access nAccess) const;
    bool IsAdmin() const;
    // True when the session may open the current board's pages.
    bool MayOpenBoard() const;
    // Starts a session of pScope with its cookie in this response.
    void StartSession(const char* pScope);
    // A "Set-Cookie:" line of this program's cookies; bEnd removes it.
    static CRukString CookieLine(const char* pName, const char* pValue, bool bEnd);
    // The password code stored for pScope's login ("admin" of the system
    // settings, or the board's "passwd"), and the file and key holding it.
    void PasswordPlace(const CRukString& scope, CRukString& path, const char*& pKey);

    // --- pages
    // Fills the tags of an administration page together with the tags
    // every page has (%TOKEN%, %NOTICE%, and %PASSWD% and %PASSWD2% left
    // empty) and writes it with this response's cookies.
    void WriteAdminPage(const CRukString& page, CRukTagList& tags);
    // The catalogue text of pKey with its tags filled, as markup: the text
    // and the values escaped.
    CRukString CatalogueLine(const char* pKey, std::initializer_list<SRukFill> fills = {}) const;
    // Sets the line that tells what the action did (%NOTICE%): the
    // catalogue line of pKey.
    void Notice(const char* pKey, std::initializer_list<SRukFill> fills = {});
    // Removes a template block from <!--NAME--> to <!--/NAME--> with its
    // markers (bKeep: only the markers).
    static void KeepBlock(CRukString& page, const char* pName, bool bKeep);
    // The pattern between <!--NAME--> and <!--/NAME--> (a row repeated per
    // item); the block with its markers becomes pTag in the page.
    static CRukString CutPattern(CRukString& page, const char* pName, const char* pTag);

    // --- settings
    // Reads a settings file afresh under the site lock, lets change alter
    // it (false: nothing to write) and writes it before the lock is let
    // go: 0, -1 the file is missing, -2 busy or unreadable, -3 not written
    // (the file is left as it was).
    int UpdateSettings(const char* pPath, const std::function<bool(CRukConfig&)>& change,
                       CRukConfig* pResult = nullptr);
    // The same, ending the request with pMissingKey for a missing file,
    // with pWriteKey when it cannot be written and with kMsgBusy when it is
    // busy or cannot be read.
    void RequireUpdate(const char* pPath, const char* pMissingKey, const char* pWriteKey,
                       const std::function<bool(CRukConfig&)>& change,
                       CRukConfig* pResult = nullptr);
    void ReadBoardSettings();

    // --- the board registry (rukbbsformconf_registry.cpp)
    struct SNewBoard;
    // What removing a board with its data removes: its own directory, and
    // the link in data/ that named it.
    struct SBoardData {
        CRukString own;
        bool bLink = false;
    };
    CRukString RequireBoardIdField(const CRukForm& form);
    CRukString RequireNewBoardCode(const CRukForm& form);
    void MakeNewDataDir(const CRukString& bbsid, SNewBoard& board);
    CRukConfig NewBoardSettings(const SNewBoard& board) const;
    SBoardData RequireRemovableData(const CRukString& datadir);

    // --- a board's settings (rukbbsformconf_board.cpp)
    struct SBoardTyped;
    void RequireDataAndSkin(const CRukForm& form, SBoardTyped& typed);
    void RequireLockFile(const CRukString& datadir);
    void RequireSafeUrls(const CRukForm& form, const SBoardTyped& typed);
    CRukString BoardPageValue(const SRukSettingKey& row, const CRukForm& form,
                              const SBoardTyped& typed, const CRukConfig& stored) const;

    // --- where a board's files may be
    // The checked data directory for the board page's text ("data/.../"),
    // or the end of the request with kMsgNoDataDir, kMsgDataDirMissing or
    // kMsgDataDirRefused.
    CRukString CheckDataDir(const CRukString& text, const CRukString& skindir);
    // The checked NG-word file for the board page's text (empty allowed),
    // or the end of the request with kMsgBadNgFile.
    CRukString CheckNgFile(const CRukString& text);
    // A list file named by a setting, checked: "data/.../NAME" with one of
    // the extensions (".ng"), whose directory resolves into data/ and
    // which, when it is there, is a plain file there; empty for an empty
    // text, and the end of the request with pRefusal otherwise.
    CRukString CheckListFile(const CRukString& text, std::initializer_list<const char*> exts,
                             const char* pRefusal);
    // The resolved directory that removing the board with its data may
    // remove, or empty when its data directory is not its own below data/.
    CRukString OwnDataDir(const CRukString& datadir);
    // True when the resolved directory overlaps (equals, holds or lies in)
    // the data directory of a registered board other than the current one.
    bool IsOtherBoardsDir(const CRukString& resolved) const;

    // --- old logs
    CRukString RequireChosenLog(const CRukForm& form);
    CRukString RequireNewLogName(const CRukForm& form, const CRukString& strOld);
    void KakoNew(CRukForm& form, const CRukString& strDataDir, const CRukString& strOld);
    void KakoDiv(CRukForm& form, const CRukString& strOld);
    void KakoMerge(CRukForm& form, const CRukString& strOld);
    void KakoDel(CRukForm& form, const CRukString& strOld);
    void KakoRename(CRukForm& form, const CRukString& strOld);
    bool MoveThreads(const CRukString& strSrc, int nSkip, int nHalf, const CRukString& strDst,
                     const CRukString& strMakeOld);

    // --- moderation
    // The board's data directory for the moderation actions, or the end
    // of the request with kMsgNoDataDir.
    CRukString ModerationDir();
    // Appends entry to the board's deny list under the site lock: 1 added,
    // 0 there already. The list is the board's denyfile when that names a
    // file; otherwise "data/" + board id + ".deny", made here and set as
    // the board's denyfile. Refusals end the request.
    int AddDenyEntry(const CRukString& entry);

    const CRukCookie* m_pCookie = nullptr;  // the request's cookies
    CRukSession m_session;
    bool m_bSession = false;      // a session was found or started
    CRukString m_strFormToken;    // %TOKEN%: the session's or the login page's
    CRukString m_strCookieLines;  // "Set-Cookie:" lines of this response
    CRukString m_strNotice;       // what the action did (Shift_JIS, unescaped)
    // A removal that waits for its confirming POST: the old log, or the
    // board and whether its data goes too.
    CRukString m_strAskOldLog;
    CRukString m_strAskBoard;
    bool m_bAskBoardData = false;
    // The board of the moderation page: after a deletion, as it was written.
    CRukBBSFile m_modBoard;
};

#endif
