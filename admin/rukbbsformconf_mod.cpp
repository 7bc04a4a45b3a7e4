// CRukBBSFormConf: moderation of a board. Its page lists the board's latest
// messages across its threads, newest first by id and a page at a time,
// each with its time, name, title, the start of its body and the address
// it was posted from (the store's "remote": the address, and the confirmed
// host name after a blank; empty for messages stored before it was kept).
// Its actions delete the chosen messages (each with its replies and
// attachments) in one write of the store, and add an address or a host
// name (checked in rukbbsformconf_address.cpp) to the board's deny list.
// The administrator's session or one of the board comes here.
#include "rukbbsformconf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <utility>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "rukbbsdata.h"
#include "rukbbsformconf_shared.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

// Messages a page lists, and the bytes of a body's start.
static const int s_nModPerPage = 50;
static const int s_nExcerptBytes = 120;

static const char s_szThread[] = "\x83X\x83\x8c\x83\x62\x83h";  // スレッド
static const char s_szReply[] = "\x95\xd4\x90M";                 // 返信
static const char s_szNoRemote[] = "\x8bL\x98^\x82\xc8\x82\xb5";  // 記録なし
static const char s_szDenyButton[] =
    "\x8b\x91\x94\xdb\x83\x8a\x83X\x83g\x82\xc9\x92\xc7\x89\xc1";  // 拒否リストに追加
static const char s_szColon[] = "\x81\x46";                        // ：
static const char s_szEllipsis[] = "\x81\x63";                     // …

// ---------------------------------------------------------------------------
// Texts

// True for a lead byte of a two-byte Shift_JIS character.
static bool IsSjisLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

CRukString CRukBBSFormConf::Excerpt(const char* pText, int nBytes)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pText ? pText : "");
    std::string out;
    while (*p) {
        size_t n = IsSjisLead(*p) ? 2 : 1;
        if (n == 2 && !p[1])
            break;  // a lead byte without its second byte
        if (out.size() + n > static_cast<size_t>(nBytes))
            return CRukString((out + s_szEllipsis).c_str());
        if (*p == '\n' || *p == '\r' || *p == 0x1D)
            out += ' ';
        else
            out.append(reinterpret_cast<const char*>(p), n);
        p += n;
    }
    return CRukString(out.c_str());
}

// ---------------------------------------------------------------------------
// The moderation page

// The order key of a message id: ids are decimal numbers, so a longer one
// is larger; among ids of one length the first 19 digits decide (an id
// that is no number sorts by its length alone).
static std::pair<int, unsigned long long> IdKey(const char* p)
{
    unsigned long long n = 0;
    int nLength = static_cast<int>(strlen(p));
    for (int i = 0; p[i] && i < 19; i++) {
        if (p[i] < '0' || p[i] > '9')
            return {nLength, 0};
        n = n * 10 + static_cast<unsigned long long>(p[i] - '0');
    }
    return {nLength, n};
}

// The address cell of a message: the address and the host name, each with
// a button that adds it to the deny list (its value is the entry), or a
// note that none was recorded.
static CRukString RemoteCell(const CRukString& remote)
{
    CRukStrAry parts;
    parts.SetTokenOneOf(remote.GetText(), " ");
    CRukString out;
    for (int i = 0; i < parts.GetSize() && i < 2; i++) {
        CRukString entry = CRukBBSFormConf::DenyEntry(parts[i].GetText());
        if (entry.IsEmpty())
            continue;
        CRukString shown = CRukBBSFormBase::EscapeHtml(entry.GetText());
        out += "<span class=\"remote\"><span class=\"addr\">" + shown +
               "</span> <button type=\"submit\" class=\"small plain\" name=\"submit_deny\" value=\"" +
               shown + "\" aria-label=\"" + s_szDenyButton + s_szColon + shown + "\">" +
               s_szDenyButton + "</button></span>";
    }
    if (out.IsEmpty())
        out = CRukString("<span class=\"none\">") + s_szNoRemote + "</span>";
    return out;
}

// The entries of a deny list file (0 when it cannot be read).
static int CountEntries(const CRukString& path)
{
    CRukFile file;
    CRukBuffer data;
    if (file.ReadFile(path.GetText(), data, false) <= 0)
        return 0;
    CRukStrAry entries;
    entries.SetTokenOneOf(data.GetData(), " \t\r\n");
    int n = 0;
    for (int i = 0; i < entries.GetSize(); i++)
        n += entries[i].IsEmpty() || entries[i].GetText()[0] == '#' ? 0 : 1;
    return n;
}

// The moderation page: one row of the marked pattern per message of the
// page asked for ("page", from 1), the links to the pages beside it, and
// the board's deny list.
void CRukBBSFormConf::ConfigModForm(CRukForm& form)
{
    m_strTitle = CRukSettingKeys::Text(m_cfBBS, kBoardTitle);
    CRukString page = ReadTemplate((m_strConfDir + "templ_config_mod.html").GetText());
    CRukString datadir = CRukSettingKeys::Text(m_cfBBS, kBoardDataDir);
    CRukBBSFile log;
    if (!datadir.IsEmpty()) {
        // A board without a message file has no messages yet.
        int r = log.ReadPageView(datadir.GetText(), true);
        if (r == -2 || (r < 0 && Exists(log.CreateFullPath(datadir.GetText()))))
            MessageKey(kMsgBusy);
    }
    int nTotal = log.GetCount();
    int nPages = nTotal == 0 ? 1 : (nTotal + s_nModPerPage - 1) / s_nModPerPage;
    CRukString sent = form.Value("page");
    int nPage = sent.GetLength() <= 9 && IsDigits(sent.GetText()) ? ToInt(sent) : 1;
    nPage = std::min(std::max(nPage, 1), nPages);
    int nFirst = (nPage - 1) * s_nModPerPage;
    int nEnd = std::min(nTotal, nFirst + s_nModPerPage);

    // Newest first: only the messages up to the end of this page are put
    // in order (the file order breaks ties).
    typedef std::pair<std::pair<int, unsigned long long>, int> Keyed;
    std::vector<Keyed> order;
    order.reserve(static_cast<size_t>(nTotal));
    for (int i = 0; i < nTotal; i++)
        order.push_back({IdKey(log.IdAt(i)), i});
    std::partial_sort(order.begin(), order.begin() + nEnd, order.end(),
                      [](const Keyed& a, const Keyed& b) {
                          return a.first != b.first ? a.first > b.first : a.second < b.second;
                      });

    // The rows go in with the other tags, so that no message text is taken
    // for a tag.
    CRukString pattern = CutPattern(page, "TR_POST", "%POST_ROWS%");
    CRukString rows;
    for (int i = nFirst; i < nEnd; i++) {
        const CRukBBSData* pRec = log.RecordAt(order[static_cast<size_t>(i)].second);
        if (!pRec)
            MessageKey(kMsgBusy);
        const CRukBBSData& rec = *pRec;
        rows += FillWithCommon(
            pattern, {{"%ID%", rec.id, true},
                      {"%DATE%", rec.date},
                      {"%KIND%", rec.pid.IsEmpty() ? s_szThread : s_szReply},
                      {"%NAME%", rec.name},
                      {"%TITLE%", rec.title},
                      {"%EXCERPT%", Excerpt(rec.mess.GetText(), s_nExcerptBytes)},
                      {"%REMOTE%", RemoteCell(rec.remote), false, true}});
    }
    KeepBlock(page, "LIST", nTotal > 0);
    KeepBlock(page, "EMPTY", nTotal == 0);
    KeepBlock(page, "PAGER", nPages > 1);
    KeepBlock(page, "PREV", nPage > 1);
    KeepBlock(page, "NEXT", nPage < nPages);

    CRukString denyFile = CRukSettingKeys::Text(m_cfBBS, kBoardDenyFile);
    denyFile.Trim();
    bool bDenyFile = !denyFile.IsEmpty() && Exists(denyFile);
    KeepBlock(page, "DENY_FILE", bDenyFile);
    KeepBlock(page, "NO_DENY_FILE", !bDenyFile);
    CRukTagList tags = {{"%POST_ROWS%", rows, false, true},
                        {"%TOTAL%", CRukString(nTotal), true},
                        {"%PAGE_NO%", CRukString(nPage), true},
                        {"%PAGE_COUNT%", CRukString(nPages), true},
                        {"%PREV_PAGE%", CRukString(nPage - 1), true},
                        {"%NEXT_PAGE%", CRukString(nPage + 1), true},
                        {"%DENY_FILE%", denyFile, true},
                        {"%DENY_COUNT%", CRukString(bDenyFile ? CountEntries(denyFile) : 0), true}};
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// Deleting messages

CRukString CRukBBSFormConf::ModerationDir()
{
    CRukString datadir =
        CRukStrPath::Normalize(CRukSettingKeys::Text(m_cfBBS, kBoardDataDir).GetText());
    if (datadir.IsEmpty())
        MessageKey(kMsgNoDataDir);
    return datadir;
}

// Deletes the chosen messages (check boxes "del_ID" with the value 1),
// each with its replies and attachments, in one write of the store.
void CRukBBSFormConf::SubmitModDelete(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = "mod";
    CRukString datadir = ModerationDir();
    CRukStrAry ids;
    for (int i = 0; i < form.GetSize(); i++) {
        const char* pName = form[i].m_strTag.GetText();
        if (strncmp(pName, "del_", 4) != 0 || !pName[4] || !IsDigits(pName + 4) ||
            form[i].m_data.m_strValue != "1")
            continue;
        ids.Add(CRukString(pName + 4));
    }
    if (ids.GetSize() == 0)
        MessageKey(kMsgNoMessagesChosen);
    CRukBBSFile log;
    int r = log.WriteDeleteData(datadir.GetText(), ids, true);
    if (r == kStoreMissing)
        MessageKey(kMsgMessageGone);
    if (r < 0)
        MessageKey(kMsgBusy);
    Notice(kMsgMessagesDeleted, {{"%COUNT%", CRukString(ids.GetSize())}});
}

// ---------------------------------------------------------------------------
// The deny list

// Adds the address or host name of a message's button (its value), or,
// without one, the typed "deny_entry", to the board's deny list.
void CRukBBSFormConf::SubmitDeny(CRukForm& form)
{
    ReadBoardSettings();
    m_strMode = "mod";
    CRukString text = Trimmed(form, "submit_deny");
    if (text.IsEmpty())
        text = Trimmed(form, "deny_entry");
    CRukString entry = DenyEntry(text.GetText());
    if (entry.IsEmpty())
        MessageKey(kMsgBadDenyEntry);
    int r = AddDenyEntry(entry);
    Notice(r > 0 ? kMsgDenyAdded : kMsgDenyPresent, {{"%ENTRY%", entry}});
}

// True when the words of a deny list hold entry (letter case aside).
static bool HasEntry(const CRukBuffer& list, const CRukString& entry)
{
    CRukStrAry words;
    words.SetTokenOneOf(list.GetData() ? list.GetData() : "", " \t\r\n");
    for (int i = 0; i < words.GetSize(); i++)
        if (strcasecmp(words[i].GetText(), entry.GetText()) == 0)
            return true;
    return false;
}

// Appends text to a file, creating it when it is missing (never through a
// link): true when all of it was written.
static bool AppendText(const CRukString& path, const CRukString& text)
{
    int fd = open(path.GetText(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                  go.m_nFileMode);
    if (fd < 0)
        return false;
    const char* p = text.GetText();
    size_t nLeft = static_cast<size_t>(text.GetLength());
    bool bOk = true;
    while (bOk && nLeft > 0) {
        ssize_t n = write(fd, p, nLeft);
        if (n < 0 && errno == EINTR)
            continue;
        bOk = n > 0;
        if (bOk) {
            p += n;
            nLeft -= static_cast<size_t>(n);
        }
    }
    return close(fd) == 0 && bOk;
}

// The whole step runs under one hold of the site lock, so that two clicks
// add an entry once and the board's settings are read and written whole.
int CRukBBSFormConf::AddDenyEntry(const CRukString& entry)
{
    CRukFlock lock;
    if (lock.Lock(nullptr) != 0)
        MessageKey(kMsgBusy);
    CRukString settings = BoardSettingsPath();
    CRukConfig cf(true);
    if (cf.ReadFile(settings.GetText(), false) < 0)
        MessageKey(Exists(settings) ? kMsgBusy : kMsgNoSuchBoard);

    // The board's list when it names one that is there, else its own.
    CRukString named = CRukSettingKeys::Text(cf, kBoardDenyFile);
    named.Trim();
    bool bOwn = named.IsEmpty() || !Exists(named);
    CRukString path = bOwn ? CRukString(s_pRegistry) + "/" + m_strBBSID + ".deny" : named;
    path = CheckListFile(path, {".deny", ".txt"}, kMsgDenyListNotWritten);

    bool bExisted = Exists(path);
    CRukFile file;
    CRukBuffer list;
    if (bExisted && file.ReadFile(path.GetText(), list, false) < 0)
        MessageKey(kMsgBusy);
    bool bPresent = HasEntry(list, entry);
    if (!bPresent) {
        bool bNewLine = list.GetSize() > 0 && list.GetData()[list.GetSize() - 1] != '\n';
        if (!AppendText(path, CRukString(bNewLine ? "\n" : "") + entry + "\n")) {
            if (!bExisted && unlink(path.GetText()) != 0)
                go.m_log.Trace("-- unlink(%s) failed", path.GetText());
            MessageKey(kMsgDenyListNotWritten);
        }
        if (!bExisted && chmod(path.GetText(), static_cast<mode_t>(go.m_nFileMode)) != 0)
            go.m_log.Trace("-- chmod(%s) failed", path.GetText());
    }
    if (bOwn && CRukSettingKeys::Text(cf, kBoardDenyFile) != path) {
        CRukSettingKeys::Set(cf, kBoardDenyFile, path.GetText());
        if (cf.WriteFile(settings.GetText(), false) < 0) {
            if (!bExisted && unlink(path.GetText()) != 0)
                go.m_log.Trace("-- unlink(%s) failed", path.GetText());
            MessageKey(kMsgSettingsNotWritten);
        }
        CRukSettingKeys::Set(m_cfBBS, kBoardDenyFile, path.GetText());
    }
    return bPresent ? 0 : 1;
}
