// CRukBBSFormMain: posting and deletion. Write checks a new message,
// reply or edit with its attachments and hands it to the store, then sends
// the notices and sets the cookie; Delete removes a message with what
// hangs below it when the password allows.
#include "rukbbsformmain.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/time.h>

#include "rukbbsformmain_shared.h"
#include "rukcrypt.h"
#include "rukglobal.h"

// The extensions an attachment may not have: programs and pages a web
// server would run or a browser would render as the site's own.
static const char* const s_rgForbiddenExt[] = {
    ".cgi", ".pl", ".pm", ".php", ".php3", ".php4", ".php5", ".phtml", ".py", ".rb", ".sh",
    ".shtml", ".asp", ".aspx", ".jsp", ".htm", ".html", ".xhtml", ".svg", ".js",
};

// An attachment name: letters, digits, ".", "_" and "-", not starting with
// ".", not naming a script or a page.
static bool IsAllowedAttachName(const CRukString& name)
{
    const char* p = name.GetText();
    if (!*p || *p == '.')
        return false;
    for (; *p; p++)
        if (!(isalnum(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) &&
            *p != '.' && *p != '_' && *p != '-')
            return false;
    for (const char* pExt : s_rgForbiddenExt) {
        int n = static_cast<int>(strlen(pExt));
        if (name.GetLength() >= n && strcasecmp(name.GetText() + name.GetLength() - n, pExt) == 0)
            return false;
    }
    return true;
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

void CRukBBSFormMain::Write(CRukCookie& cookie, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Write START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    CRukBBSData rec;
    long when = 0;
    CRukString key = CreateNewID(&when);
    rec.id = form.Value("id");
    bool bNew = rec.id.IsEmpty();
    if (bNew)
        rec.id = key;
    rec.pid = form.Value("pid");
    rec.ppid = form.Value("ppid");
    time_t t = static_cast<time_t>(when);
    struct tm tmPost;
    localtime_r(&t, &tmPost);
    tmPost.tm_hour += atoi(m_cfBBS.Value("timelag_hh").GetText());
    tmPost.tm_min += atoi(m_cfBBS.Value("timelag_mm").GetText());
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
    CRukString passwd = form.Value("passwd");
    rec.passwd = CRukCrypt::CryptEx(passwd.GetText(), CRukCrypt::MakeSalt().GetText());

    if (rec.name.IsEmpty())
        MessageKey("msg20");
    if (rec.title.IsEmpty())
        MessageKey("msg21");
    if (rec.mess.IsEmpty())
        MessageKey("msg22");
    if (rec.passwd.IsEmpty())
        MessageKey("msg01");
    rec.resmail = form.Value("resmail");
    rec.preform = form.Value("preform");
    rec.icon = form.Value("icon");
    CRukString boardPasswd = m_cfBBS.Value("passwd");
    bool bAdmin = CRukCrypt::IsMatchEx(passwd.GetText(), boardPasswd.GetText());
    if (rec.icon == "0" && !bAdmin)
        MessageKey("msg26");
    CRukString writePasswd = m_cfBBS.Value("write_passwd");
    if (!writePasswd.IsEmpty() && !CRukCrypt::IsMatchEx(passwd.GetText(), writePasswd.GetText()) &&
        !bAdmin)
        MessageKey("msg41");
    int nKB = form.GetUploadTotal() / 1024;
    go.m_log.Trace("Attach DataSizeTotal(%d)kb Upload Limit(%d)kb", nKB,
                   atoi(m_cfBBS.Value("attach_size").GetText()));
    if (nKB > atoi(m_cfBBS.Value("attach_size").GetText()))
        MessageKey("msg24");

    CRukBufAry files;
    const CRukString& threadKey = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    int nMax = atoi(m_cfSystem.Value("attach_max").GetText());
    for (int i = 0; i < nMax; i++) {
        CRukString field;
        field.Format("file%d", i);
        const CRukFormPair* pFile = form.Data(field.GetText());
        if (!pFile)
            continue;
        CRukString name = pFile->m_data.m_strValue;
        name.Trim();
        if (name.IsEmpty())
            continue;
        if (name.IsCode() != 0 || !IsAllowedAttachName(name))
            MessageKey("msg23");
        if (rec.attach.Add(name.GetText(), threadKey.GetText()) < 0)
            MessageKey("msg27");  // two fields of one post with the same name
        files.Add(pFile->m_data.m_data);
    }

    // An edit of a stored message needs that message's password or the
    // board's.
    if (!bNew) {
        CRukBBSData old;
        bool bHasChild = false;
        int r = m_bbsFile.FindRecord(m_strDataDir.GetText(), rec.id.GetText(), old, bHasChild, true);
        if (r == -2)
            MessageKey("msg90");
        if (r == 1) {
            const CRukBBSData* pOld = &old;
            if (!CRukCrypt::IsMatchEx(passwd.GetText(), pOld->passwd.GetText()) && !bAdmin)
                MessageKey("msg03");
            // The message stays in its thread whatever the form says, so
            // that an edit can never store a second record of the same id
            // in another thread.
            rec.pid = pOld->pid;
            rec.ppid = pOld->ppid;
            const CRukString& key = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
            for (CRukStrPair& pair : rec.attach)
                pair.m_data = key;
        }
    }

    SRukWriteRules rules;
    rules.bNewKey = bNew;
    int r = m_bbsFile.WriteInputData(m_strDataDir.GetText(), rec, files, true, rules);
    if (r == -2)
        MessageKey("msg90");
    form.SetAt("page", "0");
    m_nPage = 0;
    if (r == -3)
        MessageKey("msg25");
    if (r == -4)
        MessageKey("msg27");
    if (r == kStoreMissing)
        MessageKey("msg66");
    if (r == kStoreNoParent)
        MessageKey("msg99");
    if (r < 0)
        MessageKey("msg90");  // nothing was stored

    if (!rec.pid.IsEmpty() && !m_bbsFile.GetDataParent(&rec))
        MessageKey("msg99");
    SendNotices(rec);

    if (form.Value("cookie") == "1") {
        cookie.SetAt("name", rec.name.GetText());
        cookie.SetAt("mail", rec.mail.GetText());
        cookie.SetAt("home", rec.home.GetText());
        cookie.SetAt("icon", rec.icon.GetText());
        cookie.SetAt("resmail", rec.resmail.GetText());
        cookie.SetAt("passwd", passwd.GetText());
        CRukString lines = cookie.Encode(30, nullptr, nullptr);
        m_html.WriteHttpCookie(lines.GetText(), "text/html");
    }
    go.m_log.Trace("<< CRukBBSFormMain::Write END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}

void CRukBBSFormMain::Delete(CRukCookie&, CRukForm& form)
{
    go.m_log.Trace(">> CRukBBSFormMain::Delete START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    // The message and whether it has replies are looked up without loading
    // the board; the deletion itself reloads it under its own lock.
    CRukString id = form.Value("id");
    CRukBBSData target;
    bool bHasChild = false;
    if (m_bbsFile.FindRecord(m_strDataDir.GetText(), id.GetText(), target, bHasChild, true) == -2)
        MessageKey("msg90");
    CRukString passwd = form.Value("passwd");
    if (passwd.IsEmpty())
        MessageKey("msg01");
    bool bAdmin = CRukCrypt::IsMatchEx(passwd.GetText(), m_cfBBS.Value("passwd").GetText());
    if (!CRukCrypt::IsMatchEx(passwd.GetText(), target.passwd.GetText()) && !bAdmin)
        MessageKey("msg03");
    if (!target.id.IsEmpty() && bHasChild && !bAdmin)
        MessageKey("msg30");
    int r = m_bbsFile.WriteDeleteData(m_strDataDir.GetText(), id.GetText(), true);
    if (r == -2 || r == -1)
        MessageKey("msg90");
    // The records now are the board as just written: the page after the
    // deletion is built from them rather than from a third read.
    m_bLoaded = true;
    go.m_log.Trace("<< CRukBBSFormMain::Delete END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
