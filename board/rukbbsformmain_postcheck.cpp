// CRukBBSFormMain: the checks of a post before it is stored: the fields a
// post must have and their caps, the choices a form can send, the board's
// spam filters, and who may post (the administrator's icon and reserved
// name, a members' board's posting password). The cheap checks come
// before any hash; a client that keeps guessing passwords is held off.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukbbsformmain_post.h"
#include "rukglobal.h"
#include "rukpostfilter.h"
#include "ruktrip.h"

// The most bytes a field of a post may hold, with the field's name in the
// refusal (kMsgFieldTooLong). The body's cap is the board's setting mess_max.
struct SFieldCap {
    CRukString CRukBBSData::*pField;
    const char* pLabel;
    int nMax;
};
static const SFieldCap s_rgFieldCaps[] = {
    // お名前
    {&CRukBBSData::name, "\x82\xa8\x96\xbc\x91\x4f", 200},
    // メールアドレス
    {&CRukBBSData::mail, "\x83\x81\x81\x5b\x83\x8b\x83\x41\x83\x68\x83\x8c\x83\x58", 256},
    // ホームページ
    {&CRukBBSData::home, "\x83\x7a\x81\x5b\x83\x80\x83\x79\x81\x5b\x83\x57", 400},
    // 題名
    {&CRukBBSData::title, "\x91\xe8\x96\xbc", 300},
};
static const char* const s_pBodyLabel = "\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57";  // メッセージ
// The typed password, which also goes back in a cookie.
static const char* const s_pPasswordLabel = "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68";  // パスワード
static const int s_nPasswordMax = 128;
// The posting password typed in a field of its own, capped likewise.
static const char* const s_pPostingPasswordLabel =
    "\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x97\x70\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68";  // 書き込み用パスワード

// Refuses a post with a field longer than its cap.
static void CheckFieldSizes(CRukBBSFormBase& bbs, const CRukBBSData& rec,
                            const CRukString& passwd)
{
    auto refuse = [&](const char* pLabel, int nMax) {
        bbs.MessageFill(kMsgFieldTooLong, {{"%FIELD%", pLabel}, {"%MAX%", CRukString(nMax)}});
    };
    for (const SFieldCap& cap : s_rgFieldCaps)
        if ((rec.*cap.pField).GetLength() > cap.nMax)
            refuse(cap.pLabel, cap.nMax);
    int nBodyMax = bbs.SettingNumber(kBoardMessMax);
    if (nBodyMax > 0 && rec.mess.GetLength() > nBodyMax)
        refuse(s_pBodyLabel, nBodyMax);
    if (passwd.GetLength() > s_nPasswordMax)
        refuse(s_pPasswordLabel, s_nPasswordMax);
}

// Refuses choices no form of the board sends (kMsgBadName): an icon is a
// number of at most four digits, and the two switches are "1" or absent.
static void CheckChoices(CRukBBSFormBase& bbs, const CRukBBSData& rec)
{
    bool bIcon = rec.icon.GetLength() <= 4 && CRukBBSFormBase::IsDigits(rec.icon.GetText());
    auto isSwitch = [](const CRukString& value) { return value.IsEmpty() || value == "1"; };
    if (!bIcon || !isSwitch(rec.resmail) || !isSwitch(rec.preform))
        bbs.MessageKey(kMsgBadName);
}

// Refuses what the board's spam filters catch, each set by a board
// setting and off without it: the field "url" that people never see and
// only robots fill, a body without Japanese (need_japanese=1, kMsgNoJapanese),
// more links in the body than link_max, and a word of the NG-word file
// ngfile in any field (kMsgSpam).
static void CheckSpam(CRukBBSFormBase& bbs, CRukForm& form, const CRukBBSData& rec)
{
    if (!form.Value("url").IsEmpty()) {
        go.m_log.Trace("-- refused: the hidden field was filled");
        bbs.MessageKey(kMsgSpam);
    }
    if (bbs.SettingIsOne(kBoardNeedJapanese) &&
        !CRukPostFilter::HasJapanese(rec.mess.GetText()))
        bbs.MessageKey(kMsgNoJapanese);
    CRukString linkMax = bbs.Setting(kBoardLinkMax);
    linkMax.Trim();
    if (!linkMax.IsEmpty() && CRukBBSFormBase::IsDigits(linkMax.GetText()) &&
        CRukPostFilter::CountLinks(rec.mess.GetText()) > atoi(linkMax.GetText()))
        bbs.MessageKey(kMsgSpam);
    CRukString ngFile = bbs.Setting(kBoardNgFile);
    ngFile.Trim();
    if (ngFile.IsEmpty())
        return;
    CRukPostFilter filter;
    if (filter.LoadWords(ngFile.GetText()) != 0) {
        go.m_log.Trace("-- the NG-word file %s cannot be read", ngFile.GetText());
        return;
    }
    for (const CRukString* pField : {&rec.name, &rec.mail, &rec.home, &rec.title, &rec.mess})
        if (filter.HasWord(pField->GetText()))
            bbs.MessageKey(kMsgSpam);
}

void CheckPostFields(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData& rec,
                     const CRukString& passwd)
{
    if (rec.name.IsEmpty())
        bbs.MessageKey(kMsgNoName);
    if (rec.title.IsEmpty())
        bbs.MessageKey(kMsgNoSubject);
    if (rec.mess.IsEmpty())
        bbs.MessageKey(kMsgNoBody);
    if (passwd.IsEmpty())
        bbs.MessageKey(kMsgNoPassword);
    CheckFieldSizes(bbs, rec, passwd);
    CheckChoices(bbs, rec);
    CheckSpam(bbs, form, rec);
}

// True when the typed name is the board's reserved name (admin_name):
// the name without its trip and the blanks around it, compared with the
// setting taken the same way. A board without the setting reserves none.
static bool IsAdminName(const CRukBBSFormMain& bbs, const CRukString& typed)
{
    CRukString reserved = CRukTrip::Handle(bbs.Setting(kBoardAdminName).GetText());
    return !reserved.IsEmpty() && CRukTrip::Handle(typed.GetText()) == reserved;
}

// Who may post rec: the administrator's icon ("0") and the board's
// reserved name need the board's password; a new message on a board with
// a posting password (write_passwd) needs that or the board's. A form with
// the field "wpasswd" (the skins show it on such a board) gives the
// posting password there, and the post's password stays the author's own
// for editing and deleting; a form without it gives it as the post's
// password, as forms always did. A client that keeps guessing is held off
// before any hash; each failed check counts against it.
void CheckPoster(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData& rec, bool bNew,
                 CBoardPassword& board)
{
    CRukString writePasswd = bbs.Setting(kBoardWritePasswd);
    bool bWritePasswd = bNew && !writePasswd.IsEmpty();
    bool bOwnField = form.Data("wpasswd") != nullptr;
    CRukString member = form.Value(bOwnField ? "wpasswd" : "passwd");
    if (bWritePasswd && member.IsEmpty())
        bbs.MessageKey(kMsgWritePasswordNeeded);
    if (member.GetLength() > s_nPasswordMax)
        bbs.MessageFill(kMsgFieldTooLong, {{"%FIELD%", s_pPostingPasswordLabel},
                                  {"%MAX%", CRukString(s_nPasswordMax)}});
    CBoardPassword memberBoard(bbs.Setting(kBoardPasswd), member);
    bool bAdminName = IsAdminName(bbs, rec.name);
    if (rec.icon == "0" || bWritePasswd || bAdminName)
        bbs.RequirePasswordTries();
    if (rec.icon == "0" && !board.Matches()) {
        bbs.RecordPasswordFailure();
        bbs.MessageKey(kMsgAdminIcon);
    }
    if (bAdminName && !board.Matches()) {
        bbs.RecordPasswordFailure();
        bbs.MessageFill(kMsgReservedName, {{"%NAME%", CRukTrip::Handle(rec.name.GetText())}});
    }
    if (bWritePasswd && !CRukCrypt::Verify(member.GetText(), writePasswd.GetText()) &&
        !(bOwnField ? memberBoard : board).Matches()) {
        bbs.RecordPasswordFailure();
        bbs.MessageKey(kMsgWritePasswordNeeded);
    }
}
