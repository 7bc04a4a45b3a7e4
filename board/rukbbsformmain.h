// CRukBBSFormMain: the board program's front end. It sets up a request
// (the site, the board, the skin, the data directory), runs its one action
// from a table, cuts the board template into its blocks, renders message
// bodies, lists, the input form, search results, the icon list and the
// feed, and performs posting and deletion. Its implementation is split
// over the files rukbbsformmain_*.cpp by concern, each named below.
#ifndef RUKBBSFORMMAIN_H
#define RUKBBSFORMMAIN_H

#include <ctime>
#include <deque>
#include <string>

#include "rukbbsdata.h"
#include "rukbbsformbase.h"
#include "rukcookie.h"
#include "rukform.h"
#include "rukpattern.h"
#include "rukstrary.h"
#include "rukstring.h"

class CRukBBSFormMain : public CRukBBSFormBase {
public:
    CRukBBSFormMain();
    ~CRukBBSFormMain() override = default;

    // --- setting up a request (rukbbsformmain_setup.cpp, _skin.cpp), in
    //     this order; each ends the request with a message page on a fault.
    // The catalogue, the system settings and the trace log.
    void LoadSite();
    // The cookies and fields of the request and the board id it names.
    void ReadRequest(CRukCookie& cookie, CRukForm& form);
    // The board's settings; false when its deny list refuses the visitor.
    bool OpenBoard();
    // The skin: the board's, the request's, or a phone's.
    void ChooseSkin(CRukForm& form);
    // The data directory (an old log's), the title, the store's limits,
    // the style and the page.
    void ReadBoardValues(CRukForm& form);

    // --- the one action of a request (rukbbsformmain_action.cpp)
    void RunAction(CRukCookie& cookie, CRukForm& form);

    // --- template blocks (rukbbsformmain.cpp)
    void GetTemplateBlock(CRukString& page, CRukString& inputForm, CRukString& navigation,
                          CRukString& tableParent, CRukString& tableChild,
                          CRukString& titleParent, CRukString& titleChild,
                          CRukString& foundWord, CRukString& foundResult);
    int PutRealizeBlock(CRukString& page, CRukString& inputForm, CRukString& navigation,
                        CRukString& dataTable, CRukString& dataTitle);

    // --- message body rendering (rukbbsformmain_render.cpp) and the
    //     "new" mark (rukbbsformmain_newmark.cpp)
    void ReplaceUrlLink(CRukString& body, const char* pScheme);
    void ReplaceResQuot(CRukString& body, const CRukBBSData& rec);
    void ReplaceText2Html(CRukString& body, const CRukBBSData& rec);
    void ReplacePreFormat(CRukString& body, const CRukBBSData& rec);
    CRukString CreateNewImage(const CRukBBSData& rec);

    // --- page assembly (rukbbsformmain_page.cpp)
    // The board template cut into its blocks, and the parts a view puts
    // back into it.
    struct SBoardPage {
        CRukString page;
        CRukString inputPat, navPat, tableParent, tableChild, titleParent, titleChild,
            foundWord, foundResult;
        CRukString inputForm, navigation, dataTable, dataTitle;
    };
    // The board template cut, with the navigation filled.
    SBoardPage CutBoardPage(CRukCookie& cookie, CRukForm& form);
    // Ends with kMsgBusy when a message could not be read whole; else fills
    // the header and footer, puts the parts back and writes the page.
    void WriteBoardPage(SBoardPage& b);
    // Every ordinary board page: a page of threads, or a form.
    void Reload(CRukCookie& cookie, CRukForm& form);
    CRukString CreateNavigation(CRukCookie& cookie, CRukForm& form, const CRukString& block);
    // Sets the page title: pWhat (a thread's title, the search...) when
    // given, the old log when one is shown, and the board's title.
    void SetPageTitle(const char* pWhat);

    // --- the views of messages (rukbbsformmain_view.cpp)
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
    // The body of rec as a page shows it: rendered, or preformatted.
    CRukString RenderedBody(const CRukBBSData& rec);
    // The tags of rec on a line of a list (a title line, a search hit):
    // the new mark, the title, the name, the date, the ids of the message
    // and its thread, the page and the style; room for nMore.
    CRukTagList LineTags(const CRukBBSData& rec, int nMore);

    // --- the input form (rukbbsformmain_form.cpp), the search
    //     (rukbbsformmain_search.cpp) and the icon list
    //     (rukbbsformmain_icon.cpp)
    CRukString CreateInputForm(CRukCookie& cookie, CRukForm& form, const CRukString& block,
                               const CRukBBSData& rec, const CRukString& ppid,
                               const CRukString& pid, const CRukString& id);
    void FindResult(CRukCookie& cookie, CRukForm& form);
    CRukString CreateFound1(CRukCookie& cookie, CRukForm& form, const CRukString& block,
                            CRukStrAry& words, const CRukBBSData& rec);
    void ViewIcoForm(CRukForm& form);

    // --- old logs (rukbbsformmain_oldlog.cpp)
    // The board's old logs, newest first.
    const CRukStrAry& OldLogIds();
    // Ends the request with kMsgOldLogReadOnly when the request names an old log.
    void RequireWritableLog();
    // The board template, without its WRITABLE blocks in an old log; its
    // parts are filled (each with the common tags) as they are cut.
    CRukString BoardTemplate();
    // The links to the board and its old logs, for %OLD_LOGS%.
    CRukString OldLogList();
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

    // --- HTTP validation (rukbbsformmain_cache.cpp)
    // For a GET of a page (bFeed: of the feed), before the message file is
    // opened: works out the page's validator and, when the request names
    // the page it holds, answers "304 Not Modified" and ends the request.
    void AnswerIfNotModified(CRukCookie& cookie, CRukForm& form, bool bFeed);
    // A "new" mark shown goes at tUntil (real time): the page changes then.
    void NoteMarkUntil(time_t tUntil);
    // Hands the validator and Cache-Control lines of the page about to be
    // written to the header (nothing unless AnswerIfNotModified ran).
    void PutCacheLines();

    // --- the Atom feed (rukbbsformmain_feed.cpp)
    void WriteFeed();

    // --- posting (rukbbsformmain_post.cpp) and deletion
    //     (rukbbsformmain_stored.cpp); the action table takes both only as
    //     a POST from the board's own pages on a board that is no old log
    void Write(CRukCookie& cookie, CRukForm& form);
    CRukString CreateNewID(long* pWhen);
    void Delete(CRukCookie& cookie, CRukForm& form);

    // --- mail (rukbbsformmain_mail.cpp)
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

private:
    // Parts of setting up (rukbbsformmain_setup.cpp, _skin.cpp).
    void ReadBoardId(CRukForm& form);
    void ChooseDataDir();
    bool FindPhoneSkin(CRukString& skinDir);

    // Parts of Reload (rukbbsformmain_page.cpp). The thread a page opens:
    // the one named in the title view, or the one a reply or an edit
    // concerns. One named in the title view that is not on the board
    // (pruned, archived, deleted) is gone: the page says so.
    struct SOpenThread {
        CRukBBSData root;
        bool bRoot = false;
        bool bGone = false;
    };
    // The ids a page's request names and the stored message of the first.
    struct SPageIds {
        CRukString id, pid, ppid;
        CRukBBSData record;
    };
    void ChoosePage(CRukForm& form, int n, int nPer);
    SPageIds ReadPageIds(CRukForm& form, int nMode);
    SOpenThread OpenThread(int nMode, int n, const CRukString& id, const CRukString& ppid);
    void ListThreads(CRukCookie& cookie, CRukForm& form, SBoardPage& b, int nPer,
                     const CRukString& ppid, const SOpenThread& open);
    void ShowForm(CRukCookie& cookie, CRukForm& form, SBoardPage& b, int nMode,
                  const SPageIds& ids, const SOpenThread& open);
    // The headline and the hits of a search (rukbbsformmain_search.cpp).
    CRukString FoundList(CRukCookie& cookie, CRukForm& form, CRukString pattern,
                         CRukStrAry& words, const CRukBBSDataAry& results);

    // The kinds of message pattern: a message in full or as a title line,
    // each without or with its attachments, and a search hit.
    enum EPatternKind { kTable, kTableAttach, kTitle, kTitleAttach, kFound };
    // A message pattern of a kind, cut once at its tags and kept for every
    // message of the page (rukbbsformmain.cpp). The text is the pattern
    // with its attachment part left out (kTable, kTitle) or its markers
    // taken away (kTableAttach); linkTag is that part's link tag as written
    // ("%ATTACH_LINK%%BUTTON=attach.gif%"), button the picture it names,
    // and viewTag the place of the pictures shown (each empty when the
    // pattern has none).
    struct SMessagePattern {
        CRukString source;
        EPatternKind nKind;
        CRukString text;
        CRukString linkTag;
        CRukString viewTag;
        CRukString button;
        bool bCut = false;
        CRukPattern pattern;
    };
    SMessagePattern& MessagePattern(const CRukString& source, EPatternKind nKind);
    // The pattern filled with the common tags and the values of tags (cut
    // at them the first time, with the common tags filled then).
    CRukString FillMessage(SMessagePattern& cut, const CRukTagList& tags);
    // The root's text with the replies, each written by pWrite with
    // replyPattern, in its block pBlock (rukbbsformmain_view.cpp).
    typedef CRukString (CRukBBSFormMain::*FWriteMessage)(CRukCookie&, CRukForm&,
                                                         const CRukString&, const CRukBBSData&);
    CRukString WithReplies(CRukString root, const char* pBlock, const CRukBBSDataAry& ordered,
                           FWriteMessage pWrite, CRukCookie& cookie, CRukForm& form,
                           const CRukString& replyPattern);

    // The validator of a page (rukbbsformmain_cache.cpp).
    struct {
        bool bOn;
        bool bFeed;
        std::string hex;     // the digest of what the page is made of
        std::string clock;   // the board's clock when it was taken
        bool bRacy;          // a file changed within the last second
        bool bCookies;       // the request carries the board's cookies
        time_t tModified;    // Last-Modified, or 0 for none
        time_t tFeedModified;  // the feed's Last-Modified, or 0
        time_t tMarksUntil;  // when the first mark shown goes, or 0
    } m_validator = {};

    std::deque<SMessagePattern> m_patterns;
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
    // The "new" mark's markup, for the picture address it was made for:
    // the same for every new message of a page.
    CRukString m_strNewMarkSrc, m_strNewMarkTag;
};

#endif
