// CRukBBSFormMain: posting. Write takes a new message, a reply or an edit
// through named steps: the post as the form sends it, the checks of what
// it holds and of who may post it (rukbbsformmain_postcheck.cpp), its
// files (rukbbsformmain_attach.cpp), an edit's stored message opened with
// its password (rukbbsformmain_stored.cpp), then the store, which checks
// under its write lock what must hold at the moment of writing (the
// message's password confirmed, the posting rate); after it the notices
// are sent and the author remembered. The action table takes a post only
// as a POST from the board's own pages on a board that is no old log.
#include "rukbbsformmain.h"

#include <cstdlib>
#include <ctime>
#include <sys/time.h>

#include "rukbbsformmain_post.h"
#include "rukglobal.h"
#include "ruktrip.h"

// A post on its way to the store.
struct SPost {
    bool bNew = false;      // a new message (the form names no id), else an edit
    CRukBBSData rec;        // the message as it will be stored
    CRukString passwd;      // the password as typed
    CRukString typedName;   // the name as typed, with its trip key
    CRukBufAry files;       // the uploaded files, in the order of rec's attachments
    SOpened opened;         // an edit's stored message
    CRukStrAry removed;     // an edit's stored attachments to remove
    int nWait = 0;          // the seconds to wait, when the store refused for the rate
    SRukWriteRules rules;   // what the store checks; it refers to the members above
};

CRukString CRukBBSFormMain::CreateNewID(long* pWhen)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    if (pWhen)
        *pWhen = static_cast<long>(tv.tv_sec);
    CRukString id;
    id.Format("%ld%03d", static_cast<long>(tv.tv_sec), static_cast<int>(tv.tv_usec / 1000));
    return id;
}

// The post as the form sends it: the message as typed, with its id (a
// new key for a new message) and its date on the board's clock, and the
// typed password.
static void ReadPost(CRukBBSFormMain& bbs, CRukForm& form, SPost& post)
{
    post.bNew = form.Value("id").IsEmpty();
    post.passwd = form.Value("passwd");
    CRukBBSData& rec = post.rec;
    long when = 0;
    CRukString key = bbs.CreateNewID(&when);
    rec.id = form.Value("id");
    if (rec.id.IsEmpty())
        rec.id = key;
    rec.pid = form.Value("pid");
    rec.ppid = form.Value("ppid");
    time_t t = static_cast<time_t>(when);
    struct tm tmPost;
    localtime_r(&t, &tmPost);
    tmPost.tm_hour += bbs.SettingNumber(kBoardTimeLagHours);
    tmPost.tm_min += bbs.SettingNumber(kBoardTimeLagMinutes);
    mktime(&tmPost);
    rec.date.Format("%04d/%02d/%02d %02d:%02d:%02d", tmPost.tm_year + 1900, tmPost.tm_mon + 1,
                    tmPost.tm_mday, tmPost.tm_hour, tmPost.tm_min, tmPost.tm_sec);
    rec.name = form.Value("name");
    rec.mail = form.Value("mail");
    rec.home = form.Value("home");
    if (rec.home == "http://")
        rec.home.Free();
    rec.title = form.Value("title");
    rec.mess = form.Value("mess");
    rec.resmail = form.Value("resmail");
    rec.preform = form.Value("preform");
    rec.icon = form.Value("icon");
}

// The poster's address for the stored message: REMOTE_ADDR, and the host
// name behind it when the board keeps a deny list (which names hosts), so
// that the administrator can add the poster to it. Without a list no name
// is looked up.
static CRukString PosterAddress(const CRukBBSFormMain& bbs)
{
    CRukString remote = go.m_env.REMOTE_ADDR;
    CRukString denyFile = bbs.Setting(kBoardDenyFile);
    if (remote.IsEmpty() || denyFile.IsEmpty() || CRukFile::GetFileSize(denyFile.GetText()) <= 0)
        return remote;
    CRukString host = go.m_env.GetRemoteHost();
    if (!host.IsEmpty())
        remote += " " + host;
    return remote;
}

// A board setting read as a count: missing, empty or negative gives 0.
static int SettingCount(const CRukBBSFormMain& bbs, ERukBoardKey nKey)
{
    int n = bbs.SettingNumber(nKey);
    return n > 0 ? n : 0;
}

// Sets what the store checks of a post: the posting rate of the client.
static void SetRateRules(const CRukBBSFormMain& bbs, SPost& post)
{
    post.rules.bNewKey = post.bNew;
    post.rules.pClient = go.m_env.REMOTE_ADDR.GetText();
    post.rules.nPostInterval = SettingCount(bbs, kBoardPostInterval);
    post.rules.nPostBurst = SettingCount(bbs, kBoardPostBurst);
    post.rules.pWait = &post.nWait;
}

// An edit of a stored message needs that message's password or the
// board's. The message stays in its thread whatever the form says, so that
// an edit can never store a second record of the same id in another
// thread; it keeps its stored attachments but those ticked for removal.
// The edit form shows the stored name: sent back unchanged it is kept with
// its code (signed again, its "◆" would become "◇").
static void OpenEdit(CRukBBSFormMain& bbs, CRukForm& form, SPost& post, CBoardPassword& board)
{
    CRukBBSData& rec = post.rec;
    post.opened = OpenStored(bbs, rec.id, post.passwd, board);
    rec.passwd = EditedPasswordCode(post.opened, post.passwd);
    rec.pid = post.opened.stored.pid;
    rec.ppid = post.opened.stored.ppid;
    const CRukString& key = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    for (CRukStrPair& pair : rec.attach)
        pair.m_data = key;
    post.removed = RemovedAttachments(form, post.opened.stored);
    if (post.typedName == post.opened.stored.name)
        rec.name = post.opened.stored.name;
    post.rules.check = ConfirmOpened(post.opened, post.passwd, false);
    post.rules.pRemoveAttach = &post.removed;
}

// Remembers the author in cookies for 30 days when the form asks for it:
// the Set-Cookie lines go with the answer (AnswerChange). The name is kept
// as typed, with its trip key, like the password: both stay with the
// visitor's own browser, and the answer is private.
static void RememberAuthor(CRukBBSFormMain& bbs, CRukCookie& cookie, CRukForm& form,
                           const CRukBBSData& rec, const CRukString& typedName,
                           const CRukString& passwd)
{
    if (form.Value("cookie") != "1")
        return;
    cookie.SetAt("name", typedName.GetText());
    cookie.SetAt("mail", rec.mail.GetText());
    cookie.SetAt("home", rec.home.GetText());
    cookie.SetAt("icon", rec.icon.GetText());
    cookie.SetAt("resmail", rec.resmail.GetText());
    cookie.SetAt("passwd", passwd.GetText());
    CRukHtml::SetPrivate();  // the answer carries the password
    bbs.m_strCookieLines = cookie.Encode(30, nullptr, nullptr);
}

void CRukBBSFormMain::Write(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Write START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    SPost post;
    ReadPost(*this, form, post);
    CheckPostFields(*this, form, post.rec, post.passwd);
    // Who may post it: see CheckPoster. The name is then signed: its trip
    // key, if any, becomes its code.
    CBoardPassword board(Setting(kBoardPasswd), post.passwd);
    CheckPoster(*this, form, post.rec, post.bNew, board);
    post.typedName = post.rec.name;
    post.rec.name = CRukTrip::SignedName(post.typedName.GetText());
    ReadAttachments(*this, form, post.rec, post.files);
    SetRateRules(*this, post);
    if (post.bNew)
        post.rec.passwd = CRukCrypt::Hash(post.passwd.GetText());
    else
        OpenEdit(*this, form, post, board);
    post.rec.remote = PosterAddress(*this);

    int r = m_bbsFile.WriteInputData(m_strDataDir.GetText(), post.rec, post.files, true,
                                     post.rules);
    form.SetAt("page", "0");
    m_nPage = 0;
    RefuseStoreResult(*this, r, post.nWait);
    SendNotices(post.rec);
    RememberAuthor(*this, cookie, form, post.rec, post.typedName, post.passwd);
    const CRukString& thread = post.rec.ppid.IsEmpty() ? post.rec.id : post.rec.ppid;
    m_strChanged = "?bid=" + m_strBBSID + "&style=1&ppid=" + thread + "#m" + post.rec.id;
    go.m_log.Trace("<< CRukBBSFormMain::Write END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
