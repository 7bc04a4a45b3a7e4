// CRukBBSFormMain: the Atom feed (RFC 4287) of a board, "?bid=BOARD&mode=atom",
// or of an old log, "?bid=BOARD=LOG&mode=atom": the latest s_nEntries
// messages across all threads, newest first by their ids (the time they
// were posted). Each entry has the absolute link of its thread with the
// message as the fragment (also its id), its title, its author's name, the
// date it was stored with the server's UTC offset (RFC 3339) and its body
// as the board renders it (type="html"). The feed links to itself and to
// the board, with absolute addresses as ProgramUrl makes them.
//
// The site's text is Shift_JIS (CP932); the feed is UTF-8, converted with
// iconv field by field, and every character XML 1.0 does not allow (the
// control characters but tab and line breaks) is left out.
#include "rukbbsformmain.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "rukbbsformmain_shared.h"
#include "rukglobal.h"
#include "ruknkf.h"

namespace {

const int s_nEntries = 20;

// Text for XML: converted to UTF-8, "&", "<", ">" and '"' escaped, and the
// characters XML does not allow dropped.
std::string XmlText(const CRukString& sjis)
{
    std::string utf8 = NkfSjisToUtf8(sjis.GetText());
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 8);
    for (char c : utf8) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (u >= 0x20 || c == '\t' || c == '\n' || c == '\r')
                out += c;
        }
    }
    return out;
}

// A moment as RFC 3339 text with the UTC offset of the local time tm.
std::string Rfc3339(const struct tm& tm, int nYear, int nMonth, int nDay, int nHour, int nMin,
                    int nSec)
{
    long nOffset = tm.tm_gmtoff;
    char cSign = nOffset < 0 ? '-' : '+';
    nOffset = labs(nOffset);
    char sz[80];
    snprintf(sz, sizeof(sz), "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", nYear, nMonth, nDay,
             nHour, nMin, nSec, cSign, nOffset / 3600, nOffset % 3600 / 60);
    return sz;
}

// The stored date "YYYY/MM/DD HH:MM:SS" as RFC 3339 text with the server's
// UTC offset at that time, and that moment; false when it is no such date.
bool StoredDate(const CRukString& date, std::string& text, time_t& when)
{
    int nYear, nMonth, nDay, nHour, nMin, nSec;
    if (date.GetLength() != 19 ||
        !ParseStoredDate(date.GetText(), nYear, nMonth, nDay, nHour, nMin, nSec))
        return false;
    if (nYear < 1970 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 || nHour > 23 ||
        nMin > 59 || nSec > 59)
        return false;
    struct tm tm = {};
    SetDateTime(tm, nYear, nMonth, nDay, nHour, nMin, nSec);
    tm.tm_isdst = -1;
    when = mktime(&tm);
    // A day the month does not have (2026/02/30) is moved on by mktime.
    if (when == static_cast<time_t>(-1) || tm.tm_mday != nDay)
        return false;
    text = Rfc3339(tm, nYear, nMonth, nDay, nHour, nMin, nSec);
    return true;
}

// The moment as RFC 3339 text in the server's local time.
std::string LocalDate(time_t when)
{
    struct tm tm;
    localtime_r(&when, &tm);
    return Rfc3339(tm, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                   tm.tm_sec);
}

// The time a message id tells: ids are the posting time in milliseconds
// (13 digits); -1 for any other id.
time_t IdTime(const CRukString& id)
{
    if (id.GetLength() != 13 || !CRukBBSFormBase::IsDigits(id.GetText()))
        return -1;
    return static_cast<time_t>(atoll(id.Left(10).GetText()));
}

// An id of digits by its length and text: newest first, a longer id of
// digits is a later one.
struct SIdOrder {
    size_t nLength;
    const char* pId;
    int nRecord;
};

bool NewerId(const SIdOrder& a, const SIdOrder& b)
{
    if (a.nLength != b.nLength)
        return a.nLength > b.nLength;
    int r = strcmp(a.pId, b.pId);
    return r != 0 ? r > 0 : a.nRecord < b.nRecord;  // the same id: file order
}

// The nTake newest messages whose keys are digits, newest first. A message
// older than the last one kept so far is passed over before its keys are
// looked at, so that a board costs little more than a pass over its ids.
std::vector<SIdOrder> LatestIds(CRukBBSFile& file, size_t nTake)
{
    std::vector<SIdOrder> latest;
    for (int i = 0; i < file.GetCount() && nTake > 0; i++) {
        const char* pId = file.IdAt(i);
        SIdOrder id{strlen(pId), pId, i};
        if (latest.size() == nTake && !NewerId(id, latest.back()))
            continue;
        if (!*pId || !CRukBBSFormBase::IsDigits(pId) ||
            !CRukBBSFormBase::IsDigits(file.PpidAt(i)))
            continue;
        latest.insert(std::upper_bound(latest.begin(), latest.end(), id, NewerId), id);
        if (latest.size() > nTake)
            latest.pop_back();
    }
    return latest;
}

// One entry, ready to be written.
struct SEntry {
    std::string xml;
    time_t when;
};

}  // namespace

void CRukBBSFormMain::WriteFeed()
{
    go.m_log.Trace(">> CRukBBSFormMain::WriteFeed START >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>");
    int n = m_bbsFile.ReadPageView(m_strDataDir.GetText(), true);
    if (n == -2)
        MessageKey(kMsgBusy);
    // The latest messages by their keys; only those are read whole.
    std::vector<SIdOrder> order = LatestIds(m_bbsFile, static_cast<size_t>(s_nEntries));

    CRukString program = ProgramUrl();
    CRukString bid = m_strOldID.IsEmpty() ? m_strBBSID : m_strBBSID + "=" + m_strOldID;
    CRukString board = program + "?bid=" + bid;
    std::vector<SEntry> entries;
    for (const SIdOrder& latest : order) {
        const CRukBBSData* pRec = m_bbsFile.RecordAt(latest.nRecord);
        if (!pRec)
            continue;
        const CRukBBSData& rec = *pRec;
        SEntry entry;
        std::string updated;
        if (!StoredDate(rec.date, updated, entry.when)) {
            entry.when = IdTime(rec.id);
            if (entry.when == static_cast<time_t>(-1)) {
                go.m_log.Trace("-- no date for the feed entry %s", rec.id.GetText());
                continue;
            }
            updated = LocalDate(entry.when);
        }
        const CRukString& thread = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
        std::string link = XmlText(board + "&style=1&ppid=" + thread + "#m" + rec.id);
        CRukString body = RenderedBody(rec);
        entry.xml = "<entry>\n<id>" + link + "</id>\n<title type=\"text\">" + XmlText(rec.title) +
                    "</title>\n<author><name>" + XmlText(rec.name) + "</name></author>\n" +
                    "<updated>" + updated + "</updated>\n<link rel=\"alternate\" " +
                    "type=\"text/html\" href=\"" + link + "\"/>\n<content type=\"html\">" +
                    XmlText(body) + "</content>\n</entry>\n";
        entries.push_back(std::move(entry));
    }

    // The feed changed when its latest entry did; without entries, when
    // the message file did (or now, without one).
    time_t updated = 0;
    for (const SEntry& entry : entries)
        updated = std::max(updated, entry.when);
    struct stat st;
    if (entries.empty())
        updated = stat(m_bbsFile.CreateFullPath(m_strDataDir.GetText()).GetText(), &st) == 0
                      ? st.st_mtime
                      : time(nullptr);
    SetPageTitle(nullptr);
    // Relative addresses in a body lead where they lead on the board page.
    const char* pSlash = strrchr(program.GetText(), '/');
    CRukString base = program.Left(pSlash ? static_cast<int>(pSlash - program.GetText()) + 1 : 0);
    std::string feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"" +
                       XmlText(base) + "\">\n<id>" + XmlText(board) +
                       "</id>\n<title type=\"text\">" + XmlText(m_strPageTitle) +
                       "</title>\n<updated>" + LocalDate(updated) +
                       "</updated>\n<author><name>" + XmlText(m_strTitle) +
                       "</name></author>\n<link rel=\"self\" type=\"application/atom+xml\" "
                       "href=\"" + XmlText(board + "&mode=atom") + "\"/>\n"
                       "<link rel=\"alternate\" type=\"text/html\" href=\"" + XmlText(board) +
                       "\"/>\n<generator>RUK-BBS</generator>\n";
    for (const SEntry& entry : entries)
        feed += entry.xml;
    feed += "</feed>\n";
    PutCacheLines();
    m_html.WriteHttpHeader("application/atom+xml; charset=utf-8", "");
    if (m_html.WriteString(feed.c_str()) < 0)
        go.m_log.Trace("-- the feed could not be written");
    go.m_log.Trace("<< CRukBBSFormMain::WriteFeed END <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<");
}
