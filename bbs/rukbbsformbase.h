// CRukBBSFormBase: what both front ends share. It holds the chosen board,
// the skin and data directories, the four settings maps (catalogue, system,
// board, mobile-phone table), the page title and the HTTP output, and it
// maps server paths to URLs, reads templates with the common tags filled,
// ends a failed request with the catalogue's message page, and checks the
// visitor against a deny list.
#ifndef RUKBBSFORMBASE_H
#define RUKBBSFORMBASE_H

#include "rukconfig.h"
#include "rukhtml.h"
#include "rukstring.h"

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
    // Message with the catalogue text of pKey as the format.
    [[noreturn]] void MessageKey(const char* pKey);
    // Message with the catalogue text of pKey passed through "%s".
    [[noreturn]] void MessageText(const char* pKey);
    CRukString GetTemplate(const char* pPath);
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
