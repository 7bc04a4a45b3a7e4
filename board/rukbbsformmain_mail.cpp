// CRukBBSFormMain: the notices mailed when a message was posted, to the
// author of the message answered and to the board owner: who gets one, how
// many one address may get, and what they say.
//
// The site speaks for itself. A notice comes from the site's own address:
// the system setting "mail_from", else "CGI@" and the site's host. The host,
// the domain of the Message-IDs and the links of the notice come from the
// system setting "site_url" (scheme, host, optional port and the path of
// the directory holding the programs, "https://bbs.example.jp/bbs/"), and
// without it from the machine's own host name. The request's Host header
// (and SERVER_NAME, which web servers take from it) never does: a visitor
// chooses it. A visitor's address goes into Reply-To only, and only when
// it is one valid address.
//
// Message ids. Every message of a board has a stable id,
// "<ID.BOARD.ruk-bbs@DOMAIN>", worked out from its own id whenever needed.
// No mail carries it as its own Message-ID: each notice gets one of its
// own, "<ID.BOARD.KIND.RANDOM@DOMAIN>" (KIND "reply" for the answered
// author's notice, "owner" for the owner's). A reply's notices point at the
// stable ids of its parent (In-Reply-To) and of its thread's root and its
// parent (References), so that mail readers put the notices of one thread
// together.
//
// Limits. An address gets at most s_nNoticesPerHour notices an hour,
// counted across the whole site in "dat-notice.dat" (its own lock file
// "dat-notice.lock"); the notices over it are dropped and traced. The
// owner's and the copy addresses count like any other: a flood of posts
// must not flood the owner's mailbox either, and the board keeps every post
// for the owner to read. When the log cannot be read or written no notice
// is sent (a full disk must not lift the limit).
#include "rukbbsformmain.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <unistd.h>
#include <vector>

#include "rukbbsformmain_shared.h"
#include "rukeventlog.h"
#include "rukglobal.h"
#include "rukmail.h"
#include "rukstrpath.h"

namespace {

const char s_szNoticeFile[] = "dat-notice.dat";
const char s_szNoticeLock[] = "dat-notice.lock";
// Notices one address may get in s_nNoticeWindow seconds: enough for an
// owner to follow a lively hour, too few for a visitor who posts someone
// else's address with reply notices on to make the board a mail bomb.
const int s_nNoticesPerHour = 5;
const long s_nNoticeWindow = 3600;

const char s_szProgram[] = "ruk-bbs.cgi";

// Where the links and the addresses of a notice point.
struct SNoticeSite {
    CRukString host;     // the site's host: domain of the ids and of the default sender
    CRukString origin;   // "scheme://host[:port]"
    CRukString base;     // URL of the programs' directory, ends with "/"
    CRukString program;  // URL of the board program
    CRukString from;     // the sender's address
};

// The site as site_url names it, with the board program's URL.
bool NoticeSiteFromUrl(const CRukString& url, SNoticeSite& site)
{
    SSiteUrl parsed;
    if (!ParseSiteUrl(url, parsed))
        return false;
    site.host = parsed.host;
    site.origin = parsed.origin;
    site.base = parsed.base;
    site.program = site.base + s_szProgram;
    return true;
}

// The machine's own host name, or "localhost" when it has none usable.
CRukString LocalHostName()
{
    char sz[256] = {0};
    if (gethostname(sz, sizeof(sz) - 1) != 0)
        return "localhost";
    CRukString host = HostName(sz, strlen(sz));
    return host.IsEmpty() ? CRukString("localhost") : host;
}

// The site as the system settings name it (see the top of this file).
SNoticeSite NoticeSite(const CRukConfig& system)
{
    SNoticeSite site;
    CRukString url = CRukSettingKeys::Text(system, kSysSiteUrl);
    url.Trim();
    if (!url.IsEmpty() && !NoticeSiteFromUrl(url, site))
        go.m_log.Trace("-- site_url is no site URL [%s]: the host name is used", url.GetText());
    if (site.host.IsEmpty()) {
        // The programs' URL path as the web server ran them, on this host.
        site.host = LocalHostName();
        site.origin = "http://" + site.host;
        CRukString script = go.m_env.SCRIPT_NAME;
        if (script.GetText()[0] != '/' || !IsUrlPath(script.GetText()))
            script = CRukString("/") + s_szProgram;
        CRukStrPath path;
        path.Split(script.GetText());
        site.program = site.origin + script;
        site.base = site.origin + path.Directory("/") + "/";
    }
    CRukString from = CRukSettingKeys::Text(system, kSysMailFrom);
    from.Trim();
    if (CRukMail::IsAddress(from.GetText())) {
        site.from = from;
    } else {
        if (!from.IsEmpty())
            go.m_log.Trace("-- mail_from is no address [%s]", from.GetText());
        site.from = "CGI@" + site.host;
    }
    return site;
}

// The stable id of a message of the board (see the top of this file).
CRukString StableId(const CRukString& id, const CRukString& board, const CRukString& host)
{
    return "<" + id + "." + board + ".ruk-bbs@" + host + ">";
}

// An address in lower case: the key of its notices in the log.
CRukString AddressKey(const CRukString& address)
{
    CRukString out;
    for (const char* p = address.GetText(); *p; p++) {
        char c = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
        out.Append(&c, 1);
    }
    return out;
}

// The addresses of a setting of the board's owner (one, or a list
// separated by commas): trusted, so an address without a dot in its
// domain ("owner@localhost") passes; text that is no address is traced.
void AddOwnerAddresses(const CRukConfig& board, ERukBoardKey nKey, CRukStrAry& out)
{
    const char* pName = CRukSettingKeys::Row(nKey).pName;
    CRukStrAry parts;
    parts.SetToken(CRukSettingKeys::Text(board, nKey).GetText(), ",");
    for (int i = 0; i < parts.GetSize(); i++) {
        CRukString one = parts[i];
        one.Trim();
        if (one.IsEmpty())
            continue;
        if (!CRukMail::IsAddress(one.GetText())) {
            go.m_log.Trace("-- %s holds no address [%s]", pName, one.GetText());
            continue;
        }
        bool bSeen = false;
        for (int j = 0; j < out.GetSize(); j++)
            bSeen = bSeen || AddressKey(out[j]) == AddressKey(one);
        if (!bSeen)
            out.Add(one);
    }
}

// A notice to be sent: its kind and its recipients (the first is To).
struct SNotice {
    const char* pKind;
    CRukStrAry to;
};

// Keeps in each notice only the recipients still under the limit and
// records one notice for each of them; false (nothing may be sent) when
// the log cannot be read or written.
bool AdmitNotices(std::vector<SNotice>& notices)
{
    CRukEventLog log(s_szNoticeFile, s_nNoticeWindow, s_szNoticeLock);
    if (log.Load(true) != 0) {
        go.m_log.Trace("-- %s cannot be read: no notice is sent", s_szNoticeFile);
        return false;
    }
    time_t now = time(nullptr);
    for (SNotice& notice : notices) {
        CRukStrAry admitted;
        for (int i = 0; i < notice.to.GetSize(); i++) {
            CRukString key = AddressKey(notice.to[i]);
            int nSent = log.Count(key.GetText(), s_nNoticeWindow, now);
            if (nSent >= s_nNoticesPerHour) {
                go.m_log.Trace("-- notice to %s dropped: %d sent within the hour", key.GetText(),
                               nSent);
                continue;
            }
            log.Add(key.GetText(), now);
            admitted.Add(notice.to[i]);
        }
        notice.to = admitted;
    }
    if (log.Save(now) != 0) {
        go.m_log.Trace("-- %s cannot be written: no notice is sent", s_szNoticeFile);
        return false;
    }
    return true;
}

// The rule line of a notice: 35 box-drawing characters and a line feed.
CRukString RuleLine()
{
    CRukString rule;
    for (int i = 0; i < 35; i++)
        rule += "\x84\x9f";  // ─
    rule += "\n";
    return rule;
}

}  // namespace

// An address looks valid when it has an "@" after its first byte and a
// "." somewhere after that "@".
static bool LooksLikeMail(const CRukString& mail)
{
    int nAt = mail.Find("@");
    return nAt >= 1 && mail.Find(".", nAt) > nAt;
}

// A visitor's address must also be one bare address (CRukMail::IsAddress)
// with a dot in its domain: with a comma (or any other list or comment
// syntax) a visitor could have reply notices go to people who never
// posted, or add text to the Reply-To line. The board owner's own
// settings are trusted further (AddOwnerAddresses).
static bool IsOneVisitorAddress(const CRukString& mail)
{
    return LooksLikeMail(mail) && CRukMail::IsAddress(mail.GetText());
}

// Sends the notices of a stored message: to the author of the message it
// answers when that author asked for them, and to the board owner (and
// the copy address) when the board sends mail. The thread of the message
// is the store's loaded records.
void CRukBBSFormMain::SendNotices(const CRukBBSData& rec)
{
    std::vector<SNotice> notices;
    if (const CRukBBSData* pParent = m_bbsFile.GetDataParent(&rec)) {
        if (atoi(pParent->resmail.GetText()) == 1 && IsOneVisitorAddress(pParent->mail)) {
            notices.push_back({"reply", CRukStrAry()});
            notices.back().to.Add(pParent->mail);
        }
    }
    if (SettingIsOne(kBoardUseMail)) {
        SNotice owner = {"owner", CRukStrAry()};
        AddOwnerAddresses(m_cfBBS, kBoardOwnerMail, owner.to);
        AddOwnerAddresses(m_cfBBS, kBoardCcMail, owner.to);
        if (owner.to.GetSize() > 0)
            notices.push_back(owner);
    }
    if (notices.empty() || !AdmitNotices(notices))
        return;
    for (const SNotice& notice : notices) {
        if (notice.to.GetSize() == 0)
            continue;
        CRukString cc;
        for (int i = 1; i < notice.to.GetSize(); i++)
            cc += (i > 1 ? "," : "") + notice.to[i];
        if (Sendmail(notice.to[0].GetText(), cc.GetText(), notice.pKind, rec) != CRukMail::SENT)
            go.m_log.Trace("-- the %s notice to %s was not sent", notice.pKind,
                           notice.to[0].GetText());
    }
}

int CRukBBSFormMain::Sendmail(const char* pTo, const char* pCc, const char* pKind,
                              const CRukBBSData& rec)
{
    SNoticeSite site = NoticeSite(m_cfSystem);
    go.m_log.Trace("  CRukBBSFormMain::Sendmail %s To(%s) Cc(%s) From(%s)", pKind, pTo, pCc,
                   site.from.GetText());
    SRukMailHeader head;
    head.to = pTo;
    head.cc = pCc;
    head.from = site.from;
    if (IsOneVisitorAddress(rec.mail))
        head.replyTo = rec.mail;
    head.messageId = CRukMail::MakeMessageId(
        (rec.id + "." + m_strBBSID + "." + pKind).GetText(), site.host.GetText());
    CRukString root = rec.ppid.IsEmpty() ? rec.pid : rec.ppid;
    if (!rec.pid.IsEmpty()) {
        head.inReplyTo = StableId(rec.pid, m_strBBSID, site.host);
        if (root != rec.pid)
            head.references = StableId(root, m_strBBSID, site.host) + " ";
        head.references += head.inReplyTo;
    }
    head.subject = CRukString("[") + Setting(kBoardTitle) + "] " + rec.title;
    CRukString rule = RuleLine();

    CRukString body = "\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb5"
                      "\x82\xbd\x81\x42\n";  // 書き込みがありました。
    body += rule;
    body += CRukString("\x91\xe8\x81\x40\x96\xbc\x81\x46") + rec.title + "\n";  // 題　名：
    body += rule;
    body += CRukString("\x93\x8a\x8d\x65\x8e\xd2\x81\x46") + rec.name;  // 投稿者：
    if (!rec.mail.IsEmpty())
        body += CRukString(" <") + rec.mail + ">";
    body += "\n";
    body += CRukString(" ") + go.m_env.GetRemoteHost() + " / " + go.m_env.REMOTE_ADDR + "\n";
    body += CRukString(" ") + go.m_env.HTTP_USER_AGENT + "\n";
    body += rule;
    body += CRukString("\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57\x81\x46\n\n") + rec.mess +
            "\n";  // メッセージ：
    if (rec.attach.GetSize() > 0) {
        body += rule;
        body += "\x93\x59\x95\x74\x83\x66\x81\x5b\x83\x5e\x81\x46\n\n";  // 添付データ：
        CRukString key = rec.attach.Value(0);
        // A path below the document root is absolute on the site; any
        // other is relative to the programs' directory, as on the pages.
        CRukString url = ServerPath2UrlPath((m_strDataDir + key).GetText(), 0);
        url = (url.GetText()[0] == '/' ? site.origin : site.base) + url;
        CRukString dir = m_bbsFile.CreateAttachPath(m_strDataDir.GetText(), key.GetText());
        for (int i = 0; i < rec.attach.GetSize(); i++) {
            const CRukString& name = rec.attach[i].m_strTag;
            body += url + "/" + name + "(" + Decimal(AttachKB(dir + "/" + name)) + "KB)\n";
        }
    }
    body += rule;
    CRukString board = site.program + "?bid=" + m_strBBSID;
    body += CRukString("BBS\x81\x46 ") + board + "\n";  // BBS：
    CRukString thread = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    body += CRukString("\x83\x58\x83\x8c\x83\x62\x83\x68\x81\x46 ") + board +  // スレッド：
            "&style=1&ppid=" + thread + "#m" + rec.id + "\n";
    CRukMail mail;
    return mail.Send(head, body.GetText());
}
