// CRukBBSFormMain: posting and deletion. Write checks a new message,
// reply or edit (its fields, the board's spam filters, who may post it, its
// attachments by allow-list) and hands it to the store with the rules the
// store checks under its write lock (the message's password confirmed, the
// posting rate), then sends the notices and sets the cookie; Delete
// removes a message with what hangs below it when the password allows.
// Both are taken only as a POST from the board's own pages, and a client
// that keeps guessing passwords is held off.
#include "rukbbsformmain.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <string>
#include <sys/time.h>

#include "rukbbsformmain_shared.h"
#include "rukcrypt.h"
#include "rukglobal.h"
#include "rukpostfilter.h"
#include "ruktrip.h"

// The only extensions an attachment may have, compared without regard to
// case: kinds a web server serves as plain files and a browser never runs
// as the site's own page or script. Everything else is refused. The web
// server configurations serve the same list.
static const char* const s_rgAttachExt[] = {
    // pictures
    "jpg", "jpeg", "png", "gif", "webp", "avif", "bmp", "heic", "heif",
    // documents
    "pdf", "txt",
    // archives
    "zip", "lzh", "7z", "gz", "tgz", "bz2", "xz", "tar", "rar",
    // audio
    "mp3", "m4a", "aac", "wav", "ogg", "oga", "flac", "opus",
    // video
    "mp4", "m4v", "mov", "webm", "ogv",
};

// The longest stem (the name before its extension) an attachment keeps.
static const int s_nStemMax = 64;

static bool IsAllowedAttachExt(const char* pExt)
{
    for (const char* pAllowed : s_rgAttachExt)
        if (strcasecmp(pExt, pAllowed) == 0)
            return true;
    return false;
}

// The name an uploaded file is stored under, made from the name the
// browser sent; false when it is refused. The extension must be on the
// list; a name ending in "." or a blank is refused (servers and systems
// drop those, so "x.php." could become "x.php"). The stem keeps ASCII
// letters, digits, "_" and "-"; every other character (blanks, kanji,
// further dots, which some servers read as more extensions) becomes "_",
// with runs of "_" made one and none at the ends. A stem left without
// letters or digits becomes "file"; a long one is cut. The extension is
// stored in lower case.
static bool MakeAttachName(const CRukString& sent, CRukString& stored)
{
    const char* pName = sent.GetText();
    int nDot = -1;
    int nLast = -1;
    for (int i = 0; pName[i]; i += CRukPostFilter::CharLength(pName + i)) {
        nLast = i;
        if (pName[i] == '.')
            nDot = i;
    }
    if (nLast < 0 || pName[nLast] == '.' || isspace(static_cast<unsigned char>(pName[nLast])) ||
        strcmp(pName + nLast, s_pFiller) == 0)
        return false;
    if (nDot < 0 || !IsAllowedAttachExt(pName + nDot + 1))
        return false;

    std::string stem;
    bool bWord = false;
    for (int i = 0, n; i < nDot && static_cast<int>(stem.size()) < s_nStemMax; i += n) {
        n = CRukPostFilter::CharLength(pName + i);
        unsigned char c = static_cast<unsigned char>(pName[i]);
        if (n == 1 && c < 0x80 && (isalnum(c) || c == '-')) {
            stem += static_cast<char>(c);
            bWord = bWord || isalnum(c);
        } else if (!stem.empty() && stem.back() != '_') {
            stem += '_';
        }
    }
    while (!stem.empty() && stem.back() == '_')
        stem.pop_back();
    if (!bWord)
        stem = "file";
    for (const char* p = pName + nDot; *p; p++)
        stem += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    stored = stem.c_str();
    return true;
}

// Adds an attachment of one post to its map under name, or, when another
// field of the same post took that name, under "stem-2.ext", "stem-3.ext"...
static void AddAttachName(CRukStrMap& attach, const CRukString& name, const CRukString& thread)
{
    if (attach.Add(name.GetText(), thread.GetText()) >= 0)
        return;
    // A stored name is ASCII with one dot, before its extension.
    int nDot = name.Find(".");
    CRukString stem = name.Left(nDot);
    CRukString ext = name.Mid(nDot);
    for (int n = 2;; n++) {
        CRukString numbered;
        numbered.Format("%s-%d%s", stem.GetText(), n, ext.GetText());
        if (attach.Add(numbered.GetText(), thread.GetText()) >= 0)
            return;
    }
}

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

// The most bytes a field of a post may hold, with the field's name in the
// refusal ("msg61"). The body's cap is the board's setting mess_max.
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
        bbs.MessageFill("msg61", {{"%FIELD%", pLabel}, {"%MAX%", CRukString(nMax)}});
    };
    for (const SFieldCap& cap : s_rgFieldCaps)
        if ((rec.*cap.pField).GetLength() > cap.nMax)
            refuse(cap.pLabel, cap.nMax);
    int nBodyMax = atoi(bbs.m_cfBBS.Value("mess_max").GetText());
    if (nBodyMax > 0 && rec.mess.GetLength() > nBodyMax)
        refuse(s_pBodyLabel, nBodyMax);
    if (passwd.GetLength() > s_nPasswordMax)
        refuse(s_pPasswordLabel, s_nPasswordMax);
}

// Refuses choices no form of the board sends ("msg98"): an icon is a
// number of at most four digits, and the two switches are "1" or absent.
static void CheckChoices(CRukBBSFormBase& bbs, const CRukBBSData& rec)
{
    bool bIcon = rec.icon.GetLength() <= 4 && CRukBBSFormBase::IsDigits(rec.icon.GetText());
    auto isSwitch = [](const CRukString& value) { return value.IsEmpty() || value == "1"; };
    if (!bIcon || !isSwitch(rec.resmail) || !isSwitch(rec.preform))
        bbs.MessageKey("msg98");
}

// Refuses what the board's spam filters catch, each set by a board
// setting and off without it: the field "url" that people never see and
// only robots fill, a body without Japanese (need_japanese=1, "msg62"),
// more links in the body than link_max, and a word of the NG-word file
// ngfile in any field ("msg63").
static void CheckSpam(CRukBBSFormBase& bbs, CRukForm& form, const CRukBBSData& rec)
{
    if (!form.Value("url").IsEmpty()) {
        go.m_log.Trace("-- refused: the hidden field was filled");
        bbs.MessageKey("msg63");
    }
    const CRukConfig& conf = bbs.m_cfBBS;
    if (atoi(conf.Value("need_japanese").GetText()) == 1 &&
        !CRukPostFilter::HasJapanese(rec.mess.GetText()))
        bbs.MessageKey("msg62");
    CRukString linkMax = conf.Value("link_max");
    linkMax.Trim();
    if (!linkMax.IsEmpty() && CRukBBSFormBase::IsDigits(linkMax.GetText()) &&
        CRukPostFilter::CountLinks(rec.mess.GetText()) > atoi(linkMax.GetText()))
        bbs.MessageKey("msg63");
    CRukString ngFile = conf.Value("ngfile");
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
            bbs.MessageKey("msg63");
}

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
    const CRukString& m_stored;
    const CRukString& m_typed;
    bool m_bKnown = false;
    bool m_bMatches = false;
};

// True when the typed name is the board's reserved name (admin_name):
// the name without its trip and the blanks around it, compared with the
// setting taken the same way. A board without the setting reserves none.
static bool IsAdminName(const CRukConfig& board, const CRukString& typed)
{
    CRukString reserved = CRukTrip::Handle(board.Value("admin_name").GetText());
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
static void CheckPoster(CRukBBSFormMain& bbs, CRukForm& form, const CRukBBSData& rec, bool bNew,
                        CBoardPassword& board)
{
    CRukString writePasswd = bbs.m_cfBBS.Value("write_passwd");
    bool bWritePasswd = bNew && !writePasswd.IsEmpty();
    bool bOwnField = form.Data("wpasswd") != nullptr;
    CRukString member = form.Value(bOwnField ? "wpasswd" : "passwd");
    if (bWritePasswd && member.IsEmpty())
        bbs.MessageKey("msg41");
    if (member.GetLength() > s_nPasswordMax)
        bbs.MessageFill("msg61", {{"%FIELD%", s_pPostingPasswordLabel},
                                  {"%MAX%", CRukString(s_nPasswordMax)}});
    CRukString boardCode = bbs.m_cfBBS.Value("passwd");
    CBoardPassword memberBoard(boardCode, member);
    bool bAdminName = IsAdminName(bbs.m_cfBBS, rec.name);
    if (rec.icon == "0" || bWritePasswd || bAdminName)
        bbs.RequirePasswordTries();
    if (rec.icon == "0" && !board.Matches()) {
        bbs.RecordPasswordFailure();
        bbs.MessageKey("msg26");
    }
    if (bAdminName && !board.Matches()) {
        bbs.RecordPasswordFailure();
        bbs.MessageFill("msg73", {{"%NAME%", CRukTrip::Handle(rec.name.GetText())}});
    }
    if (bWritePasswd && !CRukCrypt::Verify(member.GetText(), writePasswd.GetText()) &&
        !(bOwnField ? memberBoard : board).Matches()) {
        bbs.RecordPasswordFailure();
        bbs.MessageKey("msg41");
    }
}

// The stored message an edit or a deletion names and who opened it, with
// the password checked: the author's (or, failing it, the board's) must
// match. It is read and checked before the write, so that no hash is
// computed under the board's write lock; the write then confirms it under
// the lock (ConfirmOpened). A client that keeps guessing is held off
// before any hash; a failed check counts against it. Ends the request
// when refused.
struct SOpened {
    CRukBBSData stored;
    bool bHasReplies = false;
    bool bByBoard = false;  // opened with the board's password, not the author's
};

static SOpened OpenStored(CRukBBSFormMain& bbs, const CRukString& id, const CRukString& typed,
                          CBoardPassword& board)
{
    SOpened opened;
    if (id.IsEmpty())
        bbs.MessageKey("msg66");
    int r = bbs.m_bbsFile.FindRecord(bbs.m_strDataDir.GetText(), id.GetText(), opened.stored,
                                     opened.bHasReplies, true);
    if (r < 0)
        bbs.MessageKey("msg90");
    if (r == 0)
        bbs.MessageKey("msg66");
    bbs.RequirePasswordTries();
    if (!CRukCrypt::Verify(typed.GetText(), opened.stored.passwd.GetText())) {
        if (!board.Matches()) {
            bbs.RecordPasswordFailure();
            bbs.MessageKey("msg03");
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
static FRukCheck ConfirmOpened(const SOpened& opened, const CRukString& typed, bool bDelete)
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
static CRukString EditedPasswordCode(const SOpened& opened, const CRukString& typed)
{
    const CRukString& code = opened.stored.passwd;
    if (opened.bByBoard || CRukCrypt::IsCurrent(code.GetText()))
        return code;
    return CRukCrypt::Hash(typed.GetText());
}

// The stored attachments an edit removes: those whose box "delattachN"
// (N the place in the stored list) was ticked.
static CRukStrAry RemovedAttachments(CRukForm& form, const CRukBBSData& stored)
{
    CRukStrAry removed;
    for (int i = 0; i < stored.attach.GetSize(); i++) {
        CRukString field;
        field.Format("delattach%d", i);
        if (!form.Value(field.GetText()).IsEmpty())
            removed.Add(stored.attach[i].m_strTag);
    }
    return removed;
}

// The poster's address for the stored message: REMOTE_ADDR, and the host
// name behind it when the board keeps a deny list (which names hosts), so
// that the administrator can add the poster to it. Without a list no name
// is looked up.
static CRukString PosterAddress(const CRukConfig& board)
{
    CRukString remote = go.m_env.REMOTE_ADDR;
    CRukString denyFile = board.Value("denyfile");
    if (remote.IsEmpty() || denyFile.IsEmpty() || CRukFile::GetFileSize(denyFile.GetText()) <= 0)
        return remote;
    CRukString host = go.m_env.GetRemoteHost();
    if (!host.IsEmpty())
        remote += " " + host;
    return remote;
}

// A board setting read as a count: missing, empty or negative gives 0.
static int SettingCount(const CRukConfig& board, const char* pKey)
{
    int n = atoi(board.Value(pKey).GetText());
    return n > 0 ? n : 0;
}

// Catalogue keys of the store's refusals; kStoreTooSoon has its own page.
static const struct {
    int nCode;
    const char* pKey;
} s_rgStoreRefusals[] = {
    {kStoreBusy, "msg90"},     {kStoreFailed, "msg90"},  {kStoreRefused, "msg03"},
    {kStoreHasReplies, "msg30"}, {kStoreMissing, "msg66"}, {kStoreNoParent, "msg99"},
    {kStoreDuplicate, "msg25"},
};

// Ends the request with the page of a store's refusal (a negative result):
// nothing was stored. A refused password counts as a failed check.
static void RefuseStoreResult(CRukBBSFormMain& bbs, int r, int nWait)
{
    if (r >= 0)
        return;
    go.m_log.Trace("-- the store refused the write (%d)", r);
    if (r == kStoreTooSoon)
        bbs.MessageFill("msg60", {{"%WAIT%", CRukString(nWait > 0 ? nWait : 1)}});
    if (r == kStoreRefused)
        bbs.RecordPasswordFailure();
    for (const auto& refusal : s_rgStoreRefusals)
        if (refusal.nCode == r)
            bbs.MessageKey(refusal.pKey);
    bbs.MessageKey("msg90");
}

// The message a post sends, as typed, with its id (a new key for a new
// message) and its date on the board's clock.
static CRukBBSData ReadPost(CRukBBSFormMain& bbs, CRukForm& form)
{
    CRukBBSData rec;
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
    tmPost.tm_hour += atoi(bbs.m_cfBBS.Value("timelag_hh").GetText());
    tmPost.tm_min += atoi(bbs.m_cfBBS.Value("timelag_mm").GetText());
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
    return rec;
}

// A size in KB as people read it: whole megabytes as "10MB", anything
// else as "500KB".
static CRukString SizeText(int nKB)
{
    CRukString text;
    if (nKB >= 1024 && nKB % 1024 == 0)
        text.Format("%dMB", nKB / 1024);
    else
        text.Format("%dKB", nKB);
    return text;
}

// The uploaded files of a post into rec's attachments (under the thread
// of rec as the form names it) and files, refused when over the board's
// size limit or of a kind not on the list.
static void ReadAttachments(CRukBBSFormMain& bbs, CRukForm& form, CRukBBSData& rec,
                            CRukBufAry& files)
{
    int nKB = form.GetUploadTotal() / 1024;
    int nLimit = atoi(bbs.m_cfBBS.Value("attach_size").GetText());
    go.m_log.Trace("Attach DataSizeTotal(%d)kb Upload Limit(%d)kb", nKB, nLimit);
    if (nKB > nLimit)
        bbs.MessageFill("msg72", {{"%LIMIT%", SizeText(nLimit)}});
    // A board that turned attachments off (use_attach saved without "1")
    // stores no file, whatever a forged form sends; a board without the
    // setting takes them as it always did.
    const CRukStrPair* pUseAttach = bbs.m_cfBBS.Data("use_attach");
    bool bAttach = !pUseAttach || pUseAttach->m_data == "1";
    int nMax = bAttach ? atoi(bbs.m_cfSystem.Value("attach_max").GetText()) : 0;
    const CRukString& threadKey = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    for (int i = 0; i < nMax; i++) {
        CRukString field;
        field.Format("file%d", i);
        const CRukFormPair* pFile = form.Data(field.GetText());
        if (!pFile)
            continue;
        const CRukString& sent = pFile->m_data.m_strValue;
        CRukString blank = sent;
        blank.Trim();
        if (blank.IsEmpty())
            continue;  // a file field left empty
        CRukString name;
        if (!MakeAttachName(sent, name))
            bbs.MessageKey("msg23");
        AddAttachName(rec.attach, name, threadKey);
        files.Add(pFile->m_data.m_data);
    }
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
    RequireSameOriginPost();
    RequireWritableLog();
    bool bNew = form.Value("id").IsEmpty();
    CRukBBSData rec = ReadPost(*this, form);
    CRukString passwd = form.Value("passwd");

    // What the post holds: the cheap checks come before any hash.
    if (rec.name.IsEmpty())
        MessageKey("msg20");
    if (rec.title.IsEmpty())
        MessageKey("msg21");
    if (rec.mess.IsEmpty())
        MessageKey("msg22");
    if (passwd.IsEmpty())
        MessageKey("msg01");
    CheckFieldSizes(*this, rec, passwd);
    CheckChoices(*this, rec);
    CheckSpam(*this, form, rec);

    // Who may post it: see CheckPoster. The name is then signed: its trip
    // key, if any, becomes its code.
    CRukString typedName = rec.name;
    CRukString boardCode = m_cfBBS.Value("passwd");
    CBoardPassword board(boardCode, passwd);
    CheckPoster(*this, form, rec, bNew, board);
    rec.name = CRukTrip::SignedName(typedName.GetText());

    CRukBufAry files;
    ReadAttachments(*this, form, rec, files);

    int nWait = 0;
    SRukWriteRules rules;
    rules.bNewKey = bNew;
    rules.pClient = go.m_env.REMOTE_ADDR.GetText();
    rules.nPostInterval = SettingCount(m_cfBBS, "post_interval");
    rules.nPostBurst = SettingCount(m_cfBBS, "post_burst");
    rules.pWait = &nWait;
    SOpened opened;
    CRukStrAry removed;
    if (bNew) {
        rec.passwd = CRukCrypt::Hash(passwd.GetText());
    } else {
        // An edit of a stored message needs that message's password or
        // the board's. The message stays in its thread whatever the form
        // says, so that an edit can never store a second record of the
        // same id in another thread; it keeps its stored attachments but
        // those ticked for removal.
        opened = OpenStored(*this, rec.id, passwd, board);
        rec.passwd = EditedPasswordCode(opened, passwd);
        rec.pid = opened.stored.pid;
        rec.ppid = opened.stored.ppid;
        const CRukString& key = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
        for (CRukStrPair& pair : rec.attach)
            pair.m_data = key;
        removed = RemovedAttachments(form, opened.stored);
        // The edit form shows the stored name: sent back unchanged it is
        // kept with its code (signed again, its "◆" would become "◇").
        if (typedName == opened.stored.name)
            rec.name = opened.stored.name;
        rules.check = ConfirmOpened(opened, passwd, false);
        rules.pRemoveAttach = &removed;
    }
    rec.remote = PosterAddress(m_cfBBS);

    int r = m_bbsFile.WriteInputData(m_strDataDir.GetText(), rec, files, true, rules);
    form.SetAt("page", "0");
    m_nPage = 0;
    RefuseStoreResult(*this, r, nWait);
    SendNotices(rec);
    RememberAuthor(*this, cookie, form, rec, typedName, passwd);
    const CRukString& thread = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    m_strChanged = "?bid=" + m_strBBSID + "&style=1&ppid=" + thread + "#m" + rec.id;
    go.m_log.Trace("<< CRukBBSFormMain::Write END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

void CRukBBSFormMain::Delete(CRukCookie&, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Delete START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    RequireSameOriginPost();
    RequireWritableLog();
    // The message is read and its password checked without loading the
    // board; the deletion reloads it under the write lock and confirms
    // the check there.
    CRukString id = form.Value("id");
    CRukString passwd = form.Value("passwd");
    if (passwd.IsEmpty())
        MessageKey("msg01");
    CRukString boardCode = m_cfBBS.Value("passwd");
    CBoardPassword board(boardCode, passwd);
    SOpened opened = OpenStored(*this, id, passwd, board);
    if (opened.bHasReplies && !opened.bByBoard)
        MessageKey("msg30");
    int r = m_bbsFile.WriteDeleteData(m_strDataDir.GetText(), id.GetText(), true,
                                      ConfirmOpened(opened, passwd, true));
    RefuseStoreResult(*this, r, 0);
    m_strChanged = "?bid=" + m_strBBSID + (m_nStyle == 1 ? "&style=1" : "");
    // The records now are the board as just written: the page after the
    // deletion is built from them rather than from a third read.
    m_bLoaded = true;
    go.m_log.Trace("<< CRukBBSFormMain::Delete END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
