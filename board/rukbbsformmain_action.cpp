// CRukBBSFormMain: the board's actions, one table. A request runs exactly
// one: the first row whose mode the field "mode" names, or whose button
// (or other field) the form holds; without any, the board is shown. An
// action that changes the board is taken only as a POST from the board's
// own pages on a board that is no old log; after it the board either
// redirects to the page to show (post_redirect=1) or shows it at once.
// A page read by GET carries its validator (rukbbsformmain_cache.cpp);
// every other answer is kept by no cache.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukglobal.h"

// What follows an action.
enum EAfter {
    kShown,    // the action wrote its page
    kChanged,  // it changed the board: the answer after a change follows
};

struct SAction {
    const char* pMode;   // the value of "mode" that asks for it, or null
    const char* pField;  // the field (a button) that asks for it, or null
    void (*pRun)(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form);
    EAfter nAfter;
};

static void ShowBoard(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form)
{
    bbs.Reload(cookie, form);
}

static void ShowIcons(CRukBBSFormMain& bbs, CRukCookie&, CRukForm& form)
{
    bbs.ViewIcoForm(form);
}

static void ShowFeed(CRukBBSFormMain& bbs, CRukCookie&, CRukForm&)
{
    bbs.WriteFeed();
}

static void PostMessage(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form)
{
    bbs.Write(cookie, form);
}

static void DeleteMessage(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form)
{
    bbs.Delete(cookie, form);
}

static void Search(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form)
{
    bbs.FindResult(cookie, form);
}

static const SAction s_rgActions[] = {
    {"icon", nullptr, ShowIcons, kShown},             // the icon list
    {"atom", nullptr, ShowFeed, kShown},              // the Atom feed
    {nullptr, "submit_wri.x", PostMessage, kChanged},        // a new message, a reply or an edit
    {nullptr, "submit_res.x", ShowBoard, kShown},     // the reply form
    {nullptr, "submit_upd.x", ShowBoard, kShown},     // the edit form
    {nullptr, "submit_del.x", DeleteMessage, kChanged},      // a deletion
    {nullptr, "submit_jump.x", ShowBoard, kShown},    // paging
    {nullptr, "submit_prev.x", ShowBoard, kShown},
    {nullptr, "submit_next.x", ShowBoard, kShown},
    {nullptr, "submit_find.x", Search, kShown},       // a search
    {nullptr, "word", Search, kShown},
    {nullptr, nullptr, ShowBoard, kShown},            // the board, or a form
};

// The first action the request asks for (the last row asks for nothing).
static const SAction& ChosenAction(CRukForm& form)
{
    for (const SAction& action : s_rgActions) {
        if (action.pMode ? form.Value("mode") == action.pMode
                         : !action.pField || form.Data(action.pField) != nullptr)
            return action;
    }
    return s_rgActions[sizeof(s_rgActions) / sizeof(s_rgActions[0]) - 1];
}

// Shows the board after a post or a deletion in the same answer: the
// first page, or in the title view the thread the form came from.
static void ReloadAfterChange(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form)
{
    form.Remove("id");
    form.Remove("pid");
    if (atoi(form.Value("style").GetText()) == 0)
        form.Remove("ppid");
    bbs.Reload(cookie, form);
}

// True for a request that only reads a page: a GET, or a HEAD.
static bool IsReadRequest()
{
    const CRukString& method = go.m_env.REQUEST_METHOD;
    return method == "GET" || method == "HEAD";
}

void CRukBBSFormMain::RunAction(CRukCookie& cookie, CRukForm& form)
{
    const SAction& action = ChosenAction(form);
    if (action.nAfter == kChanged) {
        RequireSameOriginPost();
        RequireWritableLog();
    }
    // A page read is validated (and may end here, not modified); any
    // other answer is kept by no cache.
    if (action.nAfter == kShown && IsReadRequest())
        AnswerIfNotModified(cookie, form, action.pRun == ShowFeed);
    else
        CRukHtml::SetNoStore();
    action.pRun(*this, cookie, form);
    if (action.nAfter == kChanged && !AnswerChange())
        ReloadAfterChange(*this, cookie, form);
}
