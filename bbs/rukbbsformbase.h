// CRukBBSFormBase: what both front ends share. It holds the chosen board,
// the skin and data directories, the four settings maps (catalogue, system,
// board, mobile-phone table), the page title and the HTTP output, and it
// maps server paths to URLs, reads templates with the common tags filled,
// ends a failed request with the catalogue's message page, and checks the
// visitor against a deny list.
#ifndef RUKBBSFORMBASE_H
#define RUKBBSFORMBASE_H

#include <initializer_list>

#include "rukconfig.h"
#include "rukhtml.h"
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

    // True when the request came by POST.
    static bool IsPostRequest();
    // True when the request names no other origin than its own: the host
    // and port of its Origin header (or, without one, of its Referer) are
    // those of its Host header. A request with neither is no forgery by a
    // browser and passes; an Origin of "null" never does.
    static bool IsSameOrigin();
    // Ends the request with "msg64" unless it is a POST from the same
    // origin: every action that changes something calls this first.
    void RequireSameOriginPost();
    // Password guessing: a client with 10 failed password checks in the
    // last 10 minutes (edit, delete, administrator or board login) is
    // refused with "msg65" for 10 minutes after the last of them. Call
    // RequirePasswordTries before computing any hash, and
    // RecordPasswordFailure after a check failed. Site-wide, in
    // "dat-throttle.dat".
    void RequirePasswordTries();
    void RecordPasswordFailure();
    // Reads a template with the common tags filled (%BBS_TITLE%,
    // %PAGE_TITLE%, %BID%, %SKIN%...) and its resource references rebased.
    CRukString GetTemplate(const char* pPath);
    // Writes the "text/html" header (unless one was written) and the page;
    // a failed write (the client went away) is traced.
    void WritePage(const CRukString& page);
    // 0 the visitor may proceed; 1, 2 or 3 the list refuses them.
    int AccessDenyCheck(const char* pPath);

    // Replaces "<", ">", '"' and "'" by character references ("&" stays):
    // for visitor text that enters a page.
    static CRukString EscapeHtml(const char* pText);
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
};

#endif
