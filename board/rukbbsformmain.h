// CRukBBSFormMain: the board program's front end. It cuts the board
// template into its blocks, renders message bodies, lists, the input form,
// search results and the icon list, and performs posting and deletion.
#ifndef RUKBBSFORMMAIN_H
#define RUKBBSFORMMAIN_H

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "rukbbsdata.h"
#include "rukbbsformbase.h"
#include "rukcookie.h"
#include "rukform.h"
#include "rukstrary.h"
#include "rukstring.h"

class CRukBBSFormMain : public CRukBBSFormBase {
public:
    CRukBBSFormMain();
    ~CRukBBSFormMain() override = default;

    // --- template blocks
    void GetTemplateBlock(CRukString& page, CRukString& inputForm, CRukString& navigation,
                          CRukString& tableParent, CRukString& tableChild,
                          CRukString& titleParent, CRukString& titleChild,
                          CRukString& foundWord, CRukString& foundResult);
    int PutRealizeBlock(CRukString& page, CRukString& inputForm, CRukString& navigation,
                        CRukString& dataTable, CRukString& dataTitle);

    // --- message body rendering
    void ReplaceUrlLink(CRukString& body, const char* pScheme);
    void ReplaceResQuot(CRukString& body, const CRukBBSData& rec);
    void ReplaceText2Html(CRukString& body, const CRukBBSData& rec);
    void ReplacePreFormat(CRukString& body, const CRukBBSData& rec);
    CRukString CreateNewImage(const CRukBBSData& rec);

    // --- page assembly and views
    void Reload(CRukCookie& cookie, CRukForm& form);
    CRukString CreateNavigation(CRukCookie& cookie, CRukForm& form, const CRukString& block);
    CRukString CreateTable1(CRukCookie& cookie, CRukForm& form, const CRukString& pattern,
                            const CRukBBSData& rec);
    CRukString CreateTableThread(CRukCookie& cookie, CRukForm& form,
                                 const CRukString& rootPattern,
                                 const CRukString& replyPattern, const CRukBBSData& root);
    CRukString CreateTitle1(CRukCookie& cookie, CRukForm& form, const CRukString& pattern,
                            const CRukBBSData& rec);
    CRukString CreateTitleThread(CRukCookie& cookie, CRukForm& form,
                                 const CRukString& rootPattern,
                                 const CRukString& replyPattern, const CRukBBSData& root);
    CRukString CreateInputForm(CRukCookie& cookie, CRukForm& form, const CRukString& block,
                               const CRukBBSData& rec, const CRukString& ppid,
                               const CRukString& pid, const CRukString& id);
    void FindResult(CRukCookie& cookie, CRukForm& form);
    CRukString CreateFound1(CRukCookie& cookie, CRukForm& form, const CRukString& block,
                            CRukStrAry& words, const CRukBBSData& rec);
    void ViewIcoForm(CRukForm& form);
    // Sets the page title: pWhat (a thread's title, the search...) when
    // given, the old log when one is shown, and the board's title.
    void SetPageTitle(const char* pWhat);

    // --- old logs (rukbbsformmain_oldlog.cpp)
    // The board's old logs, newest first.
    const CRukStrAry& OldLogIds();
    // Ends the request with "msg67" when the request names an old log.
    void RequireWritableLog();
    // The board template with the common tags filled, without its
    // WRITABLE blocks in an old log.
    CRukString BoardTemplate();
    // Fills %OLD_LOGS% with links to the old logs, or drops the OLD_LOGS
    // block when the board has none.
    void FillOldLogs(CRukString& page);
    // The notice for a thread id that is not on the board, with a link to
    // the old log that holds it when one does.
    CRukString ThreadGoneNotice(const CRukString& ppid);

    // --- absolute addresses and the answer after a change
    //     (rukbbsformmain_link.cpp)
    // The absolute URL of the board program, from the system setting
    // site_url or else from the request.
    CRukString ProgramUrl();
    // After a stored post, edit or deletion: answers with a redirect to
    // m_strChanged when the board asks for one (post_redirect=1) and says
    // true; otherwise writes the header with the cookies of the post and
    // says false, and the caller shows the page.
    bool AnswerChange();

    // --- the Atom feed (rukbbsformmain_feed.cpp)
    void WriteFeed();

    // --- posting, deletion, mail
    void Write(CRukCookie& cookie, CRukForm& form);
    CRukString CreateNewID(long* pWhen);
    void Delete(CRukCookie& cookie, CRukForm& form);
    // The notice of rec of kind pKind ("reply", "owner") to the addresses
    // pTo and pCc: CRukMail's result.
    [[nodiscard]] int Sendmail(const char* pTo, const char* pCc, const char* pKind,
                               const CRukBBSData& rec);
    // The notices of a stored message (see rukbbsformmain_mail.cpp).
    void SendNotices(const CRukBBSData& rec);

    CRukBBSFile m_bbsFile;  // the board's message file
    bool m_bLoaded = false;  // m_bbsFile holds the board as this request wrote it
    CRukString m_strFindWord;  // the search text, shown again in the search box
    CRukString m_strCookieLines;  // Set-Cookie lines of a stored post, not yet written
    CRukString m_strChanged;  // the query and fragment of the page after a change

    // One tag of a message pattern and whether all its places are filled
    // (else only the first).
    struct STagSlot {
        const char* pTag;
        bool bAll;
    };

private:
    // A message pattern cut once at the places its tags fill, so that each
    // message is written in one pass: text pieces, each followed by the
    // value of a slot (-1 none). bWhole: the pattern holds the byte used
    // to mark the places, so it is filled tag by tag instead.
    struct SCutPattern {
        const STagSlot* pSlots;
        std::string source;
        std::vector<std::pair<std::string, int>> pieces;
        bool bWhole;
        const char* pDropOpen;  // the span left out, or null
    };
    // The pattern with the slots' values put in, in the slots' order, and
    // without the first span from pDropOpen through pDropClose when given.
    CRukString FillPattern(const CRukString& pattern, const STagSlot* pSlots, int nSlots,
                           const CRukString* pValues, const char* pDropOpen = nullptr,
                           const char* pDropClose = nullptr);
    std::vector<SCutPattern> m_patterns;
    CRukStrAry m_oldLogs;  // OldLogIds, once read
    bool m_bOldLogsRead = false;

    // The local time and the shifted clock of the "new" mark, for the
    // second and the time lag they were worked out for.
    struct {
        bool bSet;
        time_t tAt;
        int nLagHours, nLagMinutes;
        struct tm tmLocal;
        time_t tShifted;
    } m_newClock = {};
};

#endif
