// The parts of posting and deletion that several files of CRukBBSFormMain
// share: the checks of a post (rukbbsformmain_postcheck.cpp), its files
// (rukbbsformmain_attach.cpp), and the stored message an edit or a
// deletion opens with its password (rukbbsformmain_stored.cpp). Internal
// to the board program.
#ifndef RUKBBSFORMMAIN_POST_H
#define RUKBBSFORMMAIN_POST_H

#include "rukbbsdata.h"
#include "rukbbsformmain.h"
#include "rukcrypt.h"
#include "rukform.h"
#include "rukstrary.h"
#include "rukstring.h"

// The board's password, checked against the typed one at most once per
// request and only when asked: each check costs a hash.
class CBoardPassword {
public:
    CBoardPassword(const CRukString& stored, const CRukString& typed)
        : m_stored(stored), m_typed(typed) {}
    bool Matches()
    {
        if (!m_bKnown) {
            m_bMatches = CRukCrypt::Verify(m_typed.GetText(), m_stored.GetText());
            m_bKnown = true;
        }
        return m_bMatches;
    }

private:
    CRukString m_stored;
    CRukString m_typed;
    bool m_bKnown = false;
    bool m_bMatches = false;
};

// --- the checks of a post (rukbbsformmain_postcheck.cpp)
// Refuses a post that lacks a name, a title, a body or a password, holds
// a field longer than its cap or a choice no form sends, or that a spam
// filter of the board catches. These cheap checks come before any hash.
void CheckPostFields(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData& rec,
                     const CRukString& passwd);
// Refuses a poster the board's passwords do not let post rec (bNew: a new
// message, not an edit); board is the board's password against the typed
// one.
void CheckPoster(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData& rec, bool bNew,
                 CBoardPassword& board);

// --- the files of a post (rukbbsformmain_attach.cpp)
// The uploaded files of a post into rec's attachments (under the thread
// of rec as the form names it) and files, refused when over the board's
// size limit or of a kind not on the list.
void ReadAttachments(CRukBBSFormMain& bbs, CRukForm& form, CRukBBSData& rec, CRukBufAry& files);
// The stored attachments an edit removes: those whose box "delattachN"
// (N the place in the stored list) was ticked.
CRukStrAry RemovedAttachments(CRukForm& form, const CRukBBSData& stored);

// --- the stored message of an edit or a deletion (rukbbsformmain_stored.cpp)
// The stored message and who opened it.
struct SOpened {
    CRukBBSData stored;
    bool bHasReplies = false;
    bool bByBoard = false;  // opened with the board's password, not the author's
};
// The stored message id, its password checked (see the file); ends the
// request when refused.
SOpened OpenStored(CRukBBSFormMain& bbs, const CRukString& id, const CRukString& typed,
                   CBoardPassword& board);
// The check an edit or a deletion hands to the store, run under the
// write lock. It refers to opened and typed, which must outlive the write.
FRukCheck ConfirmOpened(const SOpened& opened, const CRukString& typed, bool bDelete);
// The code an edit stores for the message's password.
CRukString EditedPasswordCode(const SOpened& opened, const CRukString& typed);
// Ends the request with the page of a store's refusal (a negative result
// r; nWait the seconds to wait when posting too fast).
void RefuseStoreResult(CRukBBSFormMain& bbs, int r, int nWait);

#endif
