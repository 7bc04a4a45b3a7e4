// CRukBBSFormMain: the notices mailed when a message was posted, to the
// author of the message answered and to the board owner: who gets one,
// and what it says.
#include "rukbbsformmain.h"

#include <cstdlib>
#include <cstring>

#include "rukbbsformmain_shared.h"
#include "rukglobal.h"
#include "rukmail.h"
#include "rukstrpath.h"

// An address looks valid when it has an "@" after its first byte and a
// "." somewhere after that "@".
static bool LooksLikeMail(const CRukString& mail)
{
    int nAt = mail.Find("@");
    return nAt >= 1 && mail.Find(".", nAt) > nAt;
}

// A visitor's address must also be one address: with a comma (or any
// other list or comment syntax) a visitor could have reply notices and
// the sender line name people who never posted.
static bool IsOneVisitorAddress(const CRukString& mail)
{
    const char* p = mail.GetText();
    const char* pAt = strchr(p, '@');
    return LooksLikeMail(mail) && !strchr(pAt + 1, '@') && !strpbrk(p, ",;:<>()\"\\[] \t\r\n");
}

// Sends the notices of a stored message: to the author of the message it
// answers when that author asked for them, and to the board owner (or the
// copy address) when the board sends mail. The thread of the message is
// the store's loaded records.
void CRukBBSFormMain::SendNotices(const CRukBBSData& rec)
{
    CRukString sender = IsOneVisitorAddress(rec.mail) ? rec.mail : "CGI@" + go.m_env.SERVER_NAME;
    CRukString owner, cc;
    if (atoi(m_cfBBS.Value("use_mail").GetText()) == 1) {
        CRukString o = m_cfBBS.Value("owner_mail"), c = m_cfBBS.Value("cc_mail");
        if (LooksLikeMail(o))
            owner = o;
        if (LooksLikeMail(c))
            cc = c;
    }
    go.m_log.Trace("ToOwner=%s Cc=%s From=%s", owner.GetText(), cc.GetText(), sender.GetText());
    if (const CRukBBSData* pParent = m_bbsFile.GetDataParent(&rec)) {
        if (atoi(pParent->resmail.GetText()) == 1 && IsOneVisitorAddress(pParent->mail)) {
            CRukString to = pParent->mail;
            Sendmail(to.GetText(), "", "", sender.GetText(), rec);
        }
    }
    if (!owner.IsEmpty())
        Sendmail(owner.GetText(), cc.GetText(), "", sender.GetText(), rec);
    else if (!cc.IsEmpty())
        Sendmail(cc.GetText(), "", "", sender.GetText(), rec);
}

// The rule line of a notice: 35 box-drawing characters and a line feed.
static CRukString RuleLine()
{
    CRukString rule;
    for (int i = 0; i < 35; i++)
        rule += "\x84\x9f";  // ─
    rule += "\n";
    return rule;
}

void CRukBBSFormMain::Sendmail(const char* pTo, const char* pCc, const char* pBcc,
                               const char* pFrom, const CRukBBSData& rec)
{
    go.m_log.Trace("  CRukBBSFormMain::Sendmail To(%s) CC(%s) BCC(%s) From(%s)", pTo, pCc, pBcc,
                   pFrom);
    CRukString tail = CRukString(".") + m_strBBSID + ".ruk-bbs@" + go.m_env.SERVER_NAME;
    CRukString messageId = rec.id + tail;
    CRukString references;
    if (!rec.pid.IsEmpty())
        references = rec.pid + tail;
    CRukString subject = CRukString("[") + m_cfBBS.Value("bbs_title") + "] " + rec.title;
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
        CRukString url = ServerPath2UrlPath((m_strDataDir + key).GetText(), 1);
        if (url.GetText()[0] != '/') {
            // Without a document root the path is relative; the board's
            // pages resolve it against the script's directory, and so must
            // the absolute link of the mail.
            CRukStrPath script;
            script.Split(go.m_env.SCRIPT_NAME.GetText());
            url.Insert(script.Directory("/") + "/");
        }
        CRukString dir = m_bbsFile.CreateAttachPath(m_strDataDir.GetText(), key.GetText());
        for (int i = 0; i < rec.attach.GetSize(); i++) {
            const CRukString& name = rec.attach[i].m_strTag;
            body += CRukString("http://") + go.m_env.SERVER_NAME + url + "/" + name + "(" +
                    Decimal(AttachKB(dir + "/" + name)) + "KB)\n";
        }
    }
    body += rule;
    body += CRukString("BBS\x81\x46 http://") + go.m_env.SERVER_NAME + go.m_env.SCRIPT_NAME +
            "?bid=" + m_strBBSID;  // BBS：
    CRukMail mail;
    mail.Send(pTo, pCc, pBcc, pFrom, "", "", messageId.GetText(), references.GetText(),
              subject.GetText(), body.GetText());
}
