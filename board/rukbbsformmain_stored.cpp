// CRukBBSFormMain: the stored message an edit or a deletion names, and
// deletion itself. The message is read and its password checked before
// the write, so that no hash is computed under the board's write lock;
// the write then confirms the check under the lock. A store's refusal
// ends the request with its catalogue page, having changed nothing.
#include "rukbbsformmain.h"

#include "rukbbsformmain_post.h"
#include "rukglobal.h"

// The stored message an edit or a deletion names and who opened it, with
// the password checked: the author's (or, failing it, the board's) must
// match. A client that keeps guessing is held off
// before any hash; a failed check counts against it. Ends the request
// when refused.
SOpened OpenStored(CRukBBSFormMain& bbs, const CRukString& id, const CRukString& typed,
                   CBoardPassword& board)
{
    SOpened opened;
    if (id.IsEmpty())
        bbs.MessageKey(kMsgMessageGone);
    int r = bbs.m_bbsFile.FindStored(bbs.m_strDataDir.GetText(), id.GetText(), opened.stored,
                                     opened.bHasReplies, true);
    if (r < 0)
        bbs.MessageKey(kMsgBusy);
    if (r == 0)
        bbs.MessageKey(kMsgMessageGone);
    bbs.RequirePasswordTries();
    if (!CRukCrypt::Verify(typed.GetText(), opened.stored.passwd.GetText())) {
        if (!board.Matches()) {
            bbs.RecordPasswordFailure();
            bbs.MessageKey(kMsgWrongPassword);
        }
        opened.bByBoard = true;
    }
    return opened;
}

// The check an edit or a deletion hands to the store, run under the write
// lock on the message as stored then: the password that opened it must
// still open it (the board's always does; the author's is checked again
// only when another write changed the message's code in between), and a
// deletion by the author may not take replies with it.
FRukCheck ConfirmOpened(const SOpened& opened, const CRukString& typed, bool bDelete)
{
    return [&opened, &typed, bDelete](const CRukBBSData& stored, bool bHasReplies) -> int {
        if (!opened.bByBoard && stored.passwd != opened.stored.passwd &&
            !CRukCrypt::Verify(typed.GetText(), stored.passwd.GetText()))
            return kStoreRefused;
        if (bDelete && bHasReplies && !opened.bByBoard)
            return kStoreHasReplies;
        return 0;
    };
}

// The code an edit stores: the author's own when the board's password
// opened the message (the administrator never replaces it), else a fresh
// code of the typed password unless the stored one is already of the
// current method and so equally good (no second hash).
CRukString EditedPasswordCode(const SOpened& opened, const CRukString& typed)
{
    const CRukString& code = opened.stored.passwd;
    if (opened.bByBoard || CRukCrypt::IsCurrent(code.GetText()))
        return code;
    return CRukCrypt::Hash(typed.GetText());
}

// Catalogue keys of the store's refusals; kStoreTooSoon has its own page.
static const struct {
    int nCode;
    const char* pKey;
} s_rgStoreRefusals[] = {
    {kStoreBusy, kMsgBusy},
    {kStoreFailed, kMsgNotWritten},
    {kStoreRefused, kMsgWrongPassword},
    {kStoreHasReplies, kMsgHasReplies},
    {kStoreMissing, kMsgMessageGone},
    {kStoreNoParent, kMsgNoParent},
    {kStoreDuplicate, kMsgDuplicatePost},
};

// Ends the request with the page of a store's refusal (a negative result):
// nothing was stored. A refused password counts as a failed check.
void RefuseStoreResult(CRukBBSFormMain& bbs, int r, int nWait)
{
    if (r >= 0)
        return;
    go.m_log.Trace("-- the store refused the write (%d)", r);
    if (r == kStoreTooSoon) {
        bbs.SetRetryAfter(nWait > 0 ? nWait : 1);
        bbs.MessageFill(kMsgPostTooSoon, {{"%WAIT%", CRukString(nWait > 0 ? nWait : 1)}});
    }
    if (r == kStoreRefused)
        bbs.RecordPasswordFailure();
    for (const auto& refusal : s_rgStoreRefusals)
        if (refusal.nCode == r)
            bbs.MessageKey(refusal.pKey);
    bbs.MessageKey(kMsgBusy);
}

void CRukBBSFormMain::Delete(CRukCookie&, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Delete START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    // The message is read and its password checked without loading the
    // board; the deletion reloads it under the write lock and confirms
    // the check there.
    CRukString id = form.Value("id");
    CRukString passwd = form.Value("passwd");
    if (passwd.IsEmpty())
        MessageKey(kMsgNoPassword);
    CBoardPassword board(Setting(kBoardPasswd), passwd);
    SOpened opened = OpenStored(*this, id, passwd, board);
    if (opened.bHasReplies && !opened.bByBoard)
        MessageKey(kMsgHasReplies);
    // With a redirect no page is built here, and the deletion need not
    // leave the board as written in the records.
    m_bbsFile.m_bKeepWritten = !SettingIsOne(kBoardPostRedirect);
    int r = m_bbsFile.WriteDeleteData(m_strDataDir.GetText(), id.GetText(), true,
                                      ConfirmOpened(opened, passwd, true));
    RefuseStoreResult(*this, r, 0);
    m_strChanged = "?bid=" + m_strBBSID + (m_nStyle == 1 ? "&style=1" : "");
    // The records now are the board as just written: the page after the
    // deletion is built from them rather than from a third read.
    m_bLoaded = m_bbsFile.m_bKeepWritten;
    go.m_log.Trace("<< CRukBBSFormMain::Delete END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
