// CRukBBSFormBase: what both front ends share. It holds the chosen board,
// the skin and data directories, the four settings maps (catalogue, system,
// board, mobile-phone table, read by the key tables' rows), the page title
// and the HTTP output, and it maps server paths to URLs, reads templates
// and fills each part of one once with the common tags and its own
// (rukbbsformbase_template.cpp, on the one filler CRukPattern), ends a
// failed request with the catalogue's message page
// (rukbbsformbase_message.cpp), and checks the visitor against a deny list
// (rukbbsformbase_deny.cpp) and a request against forgery and password
// guessing (rukbbsformbase_guard.cpp).
#ifndef RUKBBSFORMBASE_H
#define RUKBBSFORMBASE_H

#include <initializer_list>
#include <vector>

#include "rukconfig.h"
#include "rukhtml.h"
#include "rukmessagekeys.h"
#include "rukpattern.h"
#include "ruksettingkeys.h"
#include "rukstring.h"

// A tag of a catalogue text and the value that fills it.
struct SRukFill {
    const char* pTag;
    CRukString value;
};

class CRukBBSFormBase {
public:
    CRukBBSFormBase();
    CRukBBSFormBase(const CRukBBSFormBase&) = delete;
    CRukBBSFormBase& operator=(const CRukBBSFormBase&) = delete;
    virtual ~CRukBBSFormBase() = default;

    CRukString ServerPath2UrlDir(const char* pPath, int nRelative);
    CRukString ServerPath2UrlPath(const char* pPath, int nRelative);
    // Writes the information page with the formatted text and ends the
    // process with exit status 1.
    [[noreturn]] void Message(const char* pFormat, ...) __attribute__((format(printf, 2, 3)));
    // Message with the catalogue text of pKey. The text is never used as
    // a format: a catalogue line holding "%" is shown as written.
    [[noreturn]] void MessageKey(const char* pKey);
    // The same (kept for the callers that name it so).
    [[noreturn]] void MessageText(const char* pKey);
    // Message with the catalogue text of pKey, each tag of fills (such as
    // "%WAIT%") replaced by its value, HTML-escaped.
    [[noreturn]] void MessageFill(const char* pKey, std::initializer_list<SRukFill> fills);
    // The seconds after which the next message page's refusal (a wait
    // between posts, a hold on password checks) is over: its Retry-After.
    void SetRetryAfter(long nSeconds) { m_nRetryAfter = nSeconds; }
    // The HTTP status of the message page of a catalogue key ("404 Not
    // Found"), and whether it asks the visitor to come back later.
    struct SMessageStatus {
        const char* pStatus;
        bool bRetry;
    };
    static SMessageStatus MessageStatus(const char* pKey);

    // The settings by their rows (ruksettingkeys.h): a board key reads the
    // board's settings, a system key the system settings.
    CRukString Setting(ERukBoardKey nKey) const { return CRukSettingKeys::Text(m_cfBBS, nKey); }
    CRukString Setting(ERukSystemKey nKey) const
    {
        return CRukSettingKeys::Text(m_cfSystem, nKey);
    }
    int SettingNumber(ERukBoardKey nKey) const { return CRukSettingKeys::Number(m_cfBBS, nKey); }
    int SettingNumber(ERukSystemKey nKey) const
    {
        return CRukSettingKeys::Number(m_cfSystem, nKey);
    }
    // True when the number is 1, as the board reads a switch.
    bool SettingIsOne(ERukBoardKey nKey) const { return CRukSettingKeys::IsOne(m_cfBBS, nKey); }

    // Applies the system settings every request of either program obeys:
    // the modes of created files and directories (fmode666, fmode777;
    // octal; empty or malformed ones are ignored so that files never get a
    // mode nobody can read) and how long a lock is waited for (lock_wait,
    // milliseconds, 0 to 60000; empty keeps ten seconds).
    void ApplySystemSettings();
    // Parses an octal permission mode (up to 0777); false leaves nMode.
    static bool ParseMode(const char* pText, int& nMode);

    // True when the request came by POST.
    static bool IsPostRequest();
    // True when the request names no other origin than its own: the host
    // and port of its Origin header (or, without one, of its Referer) are
    // those of its Host header. A request with neither is no forgery by a
    // browser and passes; an Origin of "null" never does.
    static bool IsSameOrigin();
    // Ends the request with kMsgForgedForm unless it is a POST from the same
    // origin: every action that changes something calls this first.
    void RequireSameOriginPost();
    // Password guessing: a client with 10 failed password checks in the
    // last 10 minutes (edit, delete, administrator or board login) is
    // refused with kMsgTooManyPasswordTries for 10 minutes after the last of them. Call
    // RequirePasswordTries before computing any hash, and
    // RecordPasswordFailure after a check failed. Site-wide, in
    // "dat-throttle.dat".
    void RequirePasswordTries();
    void RecordPasswordFailure();
    // --- templates (rukbbsformbase_template.cpp)
    // A template as the skin wrote it, with its signatures put in, runs of
    // two blanks taken out and its resource references rebased: no tag is
    // filled yet.
    CRukString ReadTemplate(const char* pPath);
    // The tags every page shares: %DOMAIN%, %BBS_TITLE%, %PAGE_TITLE%,
    // %BID% and %SKIN%, all text.
    CRukTagList CommonTags() const;
    // A part of a template (a page, or a block cut from one) filled in one
    // pass with the common tags and tags, so that no value is read again.
    CRukString FillWithCommon(const CRukString& text, const CRukTagList& tags) const;
    // A template with the common tags filled (ReadTemplate, then
    // FillWithCommon): for a page whose other tags are filled with it.
    CRukString GetTemplate(const char* pPath);
    // Writes the "text/html" header (unless one was written) and the page;
    // a failed write (the client went away) is traced.
    void WritePage(const CRukString& page);
    // 0 the visitor may proceed; 1, 2 or 3 the list refuses them.
    int AccessDenyCheck(const char* pPath);

    // The one template filler of both programs: fills the tags of page in
    // one pass, each value escaped unless marked as markup. A value is
    // never read again as a tag, so text holding "%NAME%" stays as typed.
    // (A pattern filled once per message is cut once: CRukPattern.)
    static CRukString FillTags(const CRukString& page, const CRukTagList& tags);

    // Replaces "<", ">", '"' and "'" by character references ("&" stays):
    // for visitor text that enters a page.
    static CRukString EscapeHtml(const char* pText);
    static CRukString EscapeHtml(const CRukString& text) { return EscapeHtml(text.GetText()); }
    // True for ids made only of decimal digits (or empty).
    static bool IsDigits(const char* pText);
    // True for names made of letters, digits, "_" and "-" only (not empty).
    static bool IsSafeName(const char* pText);

    CRukString m_strBBSID;    // board id: first part of the form field bid
    CRukString m_strOldID;    // old-log id: second part of bid
    CRukString m_strSkinDir;  // server path of the skin, ends with "/"
    CRukString m_strSkinUrl;  // URL of the skin, ends with "/"
    CRukString m_strDataDir;  // server path of the board's data
    CRukString m_strConfDir;  // administration templates
    CRukString m_strTitle;    // %BBS_TITLE%
    // %PAGE_TITLE%, escaped when filled: what the page shows, or empty for
    // the board's title.
    CRukString m_strPageTitle;
    CRukString m_strMode;     // page mode carried in the message page's link
    int m_nStyle;
    int m_nPage;
    int m_nPageNum;
    int m_nKeitai;  // 1 when the browser is a mobile phone
    CRukHtml m_html;
    CRukConfig m_cfMessage;  // dat-message.dat, plain
    CRukConfig m_cfSystem;   // dat-system.dat, encoded
    CRukConfig m_cfBBS;      // data/BOARD.conf, encoded
    CRukConfig m_cfKeitai;   // mobile-phone table, encoded

private:
    // Parts of GetTemplate (rukbbsformbase_template.cpp).
    CRukString WithSignatures(const CRukString& text);
    void RebaseStyleSheet(CRukString& text);
    // The link back of the message page (rukbbsformbase_message.cpp).
    CRukString ReturnLink() const;
    // The message page of pKey with its text (rukbbsformbase_message.cpp).
    [[noreturn]] void ShowMessage(const char* pKey, const CRukString& text);
    long m_nRetryAfter = 0;
};

#endif
