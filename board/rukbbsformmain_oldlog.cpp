// CRukBBSFormMain: old logs as a visitor meets them. A board's old logs
// are the directories below "<datadir>/old/" whose names are safe names
// (letters, digits, "_" and "-"); each holds a message file of its own and
// is shown by "?bid=BOARD=LOG". The board's pages list them newest first;
// an old log is read only: the parts of the board template inside a
// WRITABLE block (the link to a new post, the reply, edit and delete
// controls) are left out of its pages, and posting, editing and deleting
// there are refused. A thread that is not on the board any more is looked
// up in the newest old logs, and the page says where it went.
#include "rukbbsformmain.h"

#include <cctype>
#include <cstring>

#include "rukbbsformmain_shared.h"
#include "rukdir.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The most old logs, newest first, a missing thread is looked for in:
// each costs a read of its message file, so a request for a thread that
// never was reads a bounded amount (two years of monthly logs).
static const int s_nGoneLookups = 24;

static const char* const s_pCurrentLog = "\x8c\xbb\x8d\xdd\x82\xcc\x8c\x66\x8e\xa6\x94\xc2";  // 現在の掲示板

// Compares two names the way people read numbers in them: runs of digits
// by their value ("2026-9" before "2026-12"), everything else byte by byte;
// names equal so far are ordered by their bytes.
static int NaturalCompare(const char* a, const char* b)
{
    const char* p = a;
    const char* q = b;
    while (*p && *q) {
        if (isdigit(static_cast<unsigned char>(*p)) && isdigit(static_cast<unsigned char>(*q))) {
            while (*p == '0')
                p++;
            while (*q == '0')
                q++;
            size_t np = 0, nq = 0;
            while (isdigit(static_cast<unsigned char>(p[np])))
                np++;
            while (isdigit(static_cast<unsigned char>(q[nq])))
                nq++;
            if (np != nq)
                return np < nq ? -1 : 1;
            int r = strncmp(p, q, np);
            if (r != 0)
                return r;
            p += np;
            q += nq;
            continue;
        }
        if (*p != *q)
            return static_cast<unsigned char>(*p) < static_cast<unsigned char>(*q) ? -1 : 1;
        p++;
        q++;
    }
    if (*p || *q)
        return *p ? 1 : -1;
    return strcmp(a, b);
}

// The directory that holds the board's old logs, ending in "/".
static CRukString OldLogBase(const CRukConfig& board)
{
    return CRukStrPath::Normalize(CRukSettingKeys::Text(board, kBoardDataDir).GetText()) + "/old/";
}

const CRukStrAry& CRukBBSFormMain::OldLogIds()
{
    if (m_bOldLogsRead)
        return m_oldLogs;
    m_bOldLogsRead = true;
    CRukStrAry names;
    if (Setting(kBoardDataDir).IsEmpty() ||
        CRukDir::GetDirNameList(names, OldLogBase(m_cfBBS).GetText(), false) < 0)
        return m_oldLogs;
    for (const CRukString& name : names)
        if (IsSafeName(name.GetText()))
            m_oldLogs.Add(name);
    // Newest first: a simple insertion sort, as a board has a few dozen.
    for (int i = 1; i < m_oldLogs.GetSize(); i++)
        for (int j = i; j > 0 && NaturalCompare(m_oldLogs[j - 1].GetText(),
                                                m_oldLogs[j].GetText()) < 0;
             j--)
            std::swap(m_oldLogs[j - 1], m_oldLogs[j]);
    return m_oldLogs;
}

void CRukBBSFormMain::RequireWritableLog()
{
    if (!m_strOldID.IsEmpty())
        MessageKey(kMsgOldLogReadOnly);
}

CRukString CRukBBSFormMain::BoardTemplate()
{
    CRukString page = ReadTemplate((m_strSkinDir + "templ_bbs.html").GetText());
    KeepBlock(page, "WRITABLE", m_strOldID.IsEmpty());
    return page;
}

// The link to an old log (or, for an empty id, to the current board),
// marked as the page shown when it is.
static CRukString LogItem(const CRukString& board, const CRukString& log, const char* pLabel,
                          bool bShown)
{
    CRukString bid = log.IsEmpty() ? board : board + "=" + log;
    return CRukString("<li><a href=\"ruk-bbs.cgi?bid=") + CRukBBSFormBase::EscapeHtml(bid) +
           "\"" + (bShown ? " aria-current=\"page\"" : "") + ">" +
           CRukBBSFormBase::EscapeHtml(pLabel) + "</a></li>";
}

CRukString CRukBBSFormMain::OldLogList()
{
    CRukString items;
    if (!m_strOldID.IsEmpty())
        items += LogItem(m_strBBSID, CRukString(), s_pCurrentLog, false);
    for (const CRukString& log : OldLogIds())
        items += LogItem(m_strBBSID, log, log.GetText(), log == m_strOldID);
    return items;
}

CRukString CRukBBSFormMain::ThreadGoneNotice(const CRukString& ppid)
{
    int nLooked = 0;
    for (const CRukString& log : OldLogIds()) {
        if (log == m_strOldID)
            continue;
        if (nLooked++ >= s_nGoneLookups)
            break;
        CRukString dir = OldLogBase(m_cfBBS) + log + "/";
        CRukBBSFile file;
        CRukBBSData found;
        bool bHasReplies = false;
        if (file.FindRecord(dir.GetText(), ppid.GetText(), found, bHasReplies, true) != 1)
            continue;
        const CRukString& root = found.ppid.IsEmpty() ? found.id : found.ppid;
        CRukString link = CRukString("<a href=\"ruk-bbs.cgi?bid=") + EscapeHtml(m_strBBSID) +
                          "=" + EscapeHtml(log) + "&amp;style=1&amp;ppid=" + EscapeHtml(root) +
                          "#m" + EscapeHtml(found.id) + "\">" + EscapeHtml(log) + "</a>";
        CRukString text =
            FillTags(m_cfMessage.Value(kMsgThreadInOldLog), {{"%LINK%", link, true, true}});
        go.m_log.Trace("-- thread %s is in the old log %s", ppid.GetText(), log.GetText());
        return "<p class=\"notice\" role=\"status\">" + text + "</p>\n";
    }
    return "<p class=\"notice\" role=\"status\">" + m_cfMessage.Value(kMsgThreadGone) + "</p>\n";
}
