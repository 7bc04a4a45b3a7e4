// CRukBBSFormMain: HTTP validation of the board's pages. A page a visitor
// GETs carries an ETag and a Last-Modified date and may be kept by caches
// that ask again before each use; a request that names the page it holds
// is answered "304 Not Modified" before the message file is opened.
//
// The ETag is weak: W/"DIGEST.UNTIL". DIGEST is a SHA-256 digest of all a
// page is made of besides the clock: the identity, size and times (to the
// nanosecond) of every file it reads (the message file, the old logs' list
// and, for a thread, their message files; the board's, the site's and the
// catalogue's settings; the phone table; the skin's templates and the
// signatures), the request (its query, host, scheme and program name), the
// skin chosen, the visitor's remembered values the form shows, and the
// board's clock (its shift and the zone's offset). A write in the same
// tick of the file system's clock could keep a file's times: a page whose
// files changed within the last second gets a tag that never matches.
// UNTIL is the time (seconds of the epoch) at which the first "new" mark
// of the page goes, or "n" when no mark is shown; a tag matches only
// before then. The digest shows nothing of what went into it: no path,
// no cookie value, and of the remembered password only whether there is
// one (a form holding it is private and never gets a tag).
//
// Cache-Control: "public, no-cache" for a visitor without the board's
// cookies, "private, no-cache" with them; both with "Vary: Cookie". A
// private page (rukhtml.h), a POST's answer and every message page are
// "no-store" and carry no validator.
//
// If-None-Match decides whenever it is sent. If-Modified-Since is taken
// only for the Atom feed of a visitor without cookies: the feed has no
// "new" marks and depends on nothing but the message file and the two
// settings files, whose latest change (of content or of the inode, which
// no copy can set back) is its Last-Modified date; a date is sent only
// once those files have been still for two seconds, so that no later
// change can fall into the same second.
#include "rukbbsformmain.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <sys/stat.h>

#include "rukdigest.h"
#include "rukglobal.h"
#include "rukhttpcache.h"
#include "rukstrpath.h"

// The version of what the digest is made of: a change to it makes every
// earlier tag stale.
static const char s_szRecipe[] = "ruk-bbs page validator 1";
// The bytes of the digest a tag carries.
static const size_t s_nDigestBytes = 16;
// The cookies of the board the pages show (the remembered password only
// by its presence).
static const char* const s_rgShownCookies[] = {"name", "mail", "home", "icon", "resmail"};
static const char* const s_rgBoardCookies[] = {"name", "mail", "home", "icon", "resmail",
                                               "passwd"};
// Old logs whose message files a page of a thread may read (the notice of
// a thread that went to one); a few more than it reads.
static const int s_nOldLogFiles = 32;
// Nanoseconds a file must have been still for its times to tell every
// later change (the file system's clock ticks coarsely), and seconds for
// a Last-Modified date to.
static const long long s_nStillNanos = 1000000000LL;
static const long long s_nStillSeconds = 2;

namespace {

long long Nanos(const struct timespec& ts)
{
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long long NowNanos()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return Nanos(ts);
}

// The digest of a page's ingredients, and the latest change among the
// files that went into it.
struct SIngredients {
    CRukDigest digest;
    long long nLatest = 0;  // nanoseconds, of content or inode
    bool bAllPresent = true;
};

// Adds a file's identity, size and times (or its absence).
void AddFile(SIngredients& in, const CRukString& path)
{
    struct stat st;
    if (stat(path.GetText(), &st) != 0) {
        in.digest.AddNumber(-1);
        in.bAllPresent = false;
        return;
    }
    for (long long n : {static_cast<long long>(st.st_dev), static_cast<long long>(st.st_ino),
                        static_cast<long long>(st.st_size), static_cast<long long>(st.st_mode),
                        Nanos(st.st_mtim), Nanos(st.st_ctim)})
        in.digest.AddNumber(n);
    in.nLatest = std::max(in.nLatest, std::max(Nanos(st.st_mtim), Nanos(st.st_ctim)));
}

// The board's clock as CreateNewImage works it out: the shift of its
// "new" mark from the real clock (the time lag, moved by any change of the
// zone's offset between now and the shifted time), the zone's offset now
// and whether it is summer time.
std::string BoardClock(int nLagHours, int nLagMinutes)
{
    time_t t = time(nullptr);
    struct tm local;
    localtime_r(&t, &local);
    std::string clock = std::to_string(local.tm_gmtoff) + ":" + std::to_string(local.tm_isdst);
    local.tm_hour += nLagHours;
    local.tm_min += nLagMinutes;
    time_t shifted = mktime(&local);
    return clock + ":" + std::to_string(static_cast<long long>(shifted) - t);
}

bool HasAnyCookie(CRukCookie& cookie, const char* const* pNames, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (cookie.Data(pNames[i]))
            return true;
    return false;
}

// A tag's text for a page: the digest and the time its marks hold until.
std::string TagText(const std::string& hex, time_t tUntil, bool bNone)
{
    return "W/\"" + hex + "." + (bNone ? std::string("n") : std::to_string(tUntil)) + "\"";
}

// True when the opaque tag (between its quotes) is this page's: its digest
// is hex and its marks still hold now. A suffix a web server's compression
// puts after it ("-gzip", "-br") is allowed.
bool IsCurrentTag(const char* p, size_t n, const std::string& hex, time_t now)
{
    if (n <= hex.size() + 1 || memcmp(p, hex.data(), hex.size()) != 0 || p[hex.size()] != '.')
        return false;
    const char* pUntil = p + hex.size() + 1;
    const char* pEnd = p + n;
    const char* pDash = static_cast<const char*>(memchr(pUntil, '-', pEnd - pUntil));
    if (pDash) {
        size_t nSuffix = static_cast<size_t>(pEnd - pDash - 1);
        if (nSuffix == 0 || nSuffix > 16)
            return false;
        for (const char* q = pDash + 1; q < pEnd; q++)
            if (!((*q >= 'a' && *q <= 'z') || (*q >= '0' && *q <= '9')))
                return false;
        pEnd = pDash;
    }
    size_t nUntil = static_cast<size_t>(pEnd - pUntil);
    if (nUntil == 1 && *pUntil == 'n')
        return true;
    if (nUntil == 0 || nUntil > 18)
        return false;
    long long until = 0;
    for (size_t i = 0; i < nUntil; i++) {
        if (pUntil[i] < '0' || pUntil[i] > '9')
            return false;
        until = until * 10 + (pUntil[i] - '0');
    }
    return static_cast<long long>(now) < until;
}

}  // namespace

// Adds what a page of the board reads besides the message file of its
// data directory: the settings, the phone table, the skin's templates and
// signatures, and the old logs (for a thread also their message files).
static void AddBoardFiles(CRukBBSFormMain& bbs, SIngredients& in, CRukForm& form)
{
    const CRukString board = "data/" + bbs.m_strBBSID;
    for (const CRukString& path :
         {CRukString("dat-message.dat"), CRukString("dat-system.dat"), board + ".conf",
          board + ".keit", CRukString("default.keit"), CRukString("sys-signature"),
          bbs.m_strSkinDir + "templ_bbs.html", bbs.m_strSkinDir + "templ_ico.html",
          bbs.m_strSkinDir + "signature"})
        AddFile(in, path);
    CRukString dataDir = bbs.Setting(kBoardDataDir);
    if (dataDir.IsEmpty())
        return;
    CRukString oldBase = CRukStrPath::Normalize(dataDir.GetText()) + "/old/";
    AddFile(in, oldBase);
    if (form.Value("ppid").IsEmpty())
        return;
    int nLooked = 0;
    for (const CRukString& log : bbs.OldLogIds()) {
        if (nLooked++ >= s_nOldLogFiles)
            break;
        in.digest.Add(log.GetText());
        AddFile(in, bbs.m_bbsFile.CreateFullPath((oldBase + log).GetText()));
    }
}

// Adds the request's part: its query and the address it reached, the
// skin chosen for it, and the remembered values of the visitor.
static void AddRequest(CRukBBSFormMain& bbs, SIngredients& in, CRukCookie& cookie)
{
    const CRukEnv& env = go.m_env;
    const std::initializer_list<const CRukString*> parts = {
        &env.QUERY_STRING, &env.HTTP_HOST,     &env.SERVER_NAME,  &env.SERVER_PORT,
        &env.SCRIPT_NAME,  &bbs.m_strSkinDir, &bbs.m_strSkinUrl,
    };
    for (const CRukString* pPart : parts)
        in.digest.Add(pPart->GetText());
    in.digest.AddNumber(CRukCookie::IsHttps() ? 1 : 0);
    in.digest.AddNumber(bbs.m_nKeitai);
    for (const char* pName : s_rgShownCookies) {
        bool bSet = cookie.Data(pName) != nullptr;
        in.digest.AddNumber(bSet ? 1 : 0);
        in.digest.Add(cookie.Value(pName).GetText());
    }
    in.digest.AddNumber(cookie.Value("passwd").IsEmpty() ? 0 : 1);
}

// The feed's Last-Modified date: the latest change of the files it reads,
// when all of them are there and have been still long enough; else 0.
static time_t FeedModified(CRukBBSFormMain& bbs, long long nNow)
{
    SIngredients feed;
    AddFile(feed, bbs.m_bbsFile.CreateFullPath(bbs.m_strDataDir.GetText()));
    AddFile(feed, "data/" + bbs.m_strBBSID + ".conf");
    AddFile(feed, "dat-system.dat");
    if (!feed.bAllPresent || feed.nLatest > nNow - s_nStillSeconds * 1000000000LL)
        return 0;
    return static_cast<time_t>(feed.nLatest / 1000000000LL);
}

// The Cache-Control and Vary lines of a page for this visitor.
static std::string CacheControl(bool bCookies)
{
    return std::string("Cache-Control: ") + (bCookies ? "private" : "public") +
           ", no-cache\nVary: Cookie\n";
}

void CRukBBSFormMain::AnswerIfNotModified(CRukCookie& cookie, CRukForm& form, bool bFeed)
{
    long long nNow = NowNanos();
    SIngredients in;
    in.digest.Add(s_szRecipe);
    AddFile(in, m_bbsFile.CreateFullPath(m_strDataDir.GetText()));
    AddBoardFiles(*this, in, form);
    AddRequest(*this, in, cookie);
    m_validator.clock = BoardClock(SettingNumber(kBoardTimeLagHours),
                                   SettingNumber(kBoardTimeLagMinutes));
    in.digest.Add(m_validator.clock);
    in.digest.AddNumber(bFeed ? 1 : 0);

    m_validator.bOn = true;
    m_validator.bFeed = bFeed;
    m_validator.hex = in.digest.Hex(s_nDigestBytes);
    m_validator.bRacy = in.nLatest > nNow - s_nStillNanos;
    m_validator.bCookies = HasAnyCookie(cookie, s_rgBoardCookies,
                                        sizeof(s_rgBoardCookies) / sizeof(s_rgBoardCookies[0]));
    m_validator.tModified = in.nLatest > nNow - s_nStillSeconds * 1000000000LL
                                ? 0
                                : static_cast<time_t>(in.nLatest / 1000000000LL);
    m_validator.tFeedModified = bFeed ? FeedModified(*this, nNow) : 0;
    time_t now = static_cast<time_t>(nNow / 1000000000LL);
    m_validator.tMarksUntil = 0;

    const CRukString& ifNoneMatch = go.m_env.HTTP_IF_NONE_MATCH;
    if (!ifNoneMatch.IsEmpty()) {
        std::string matched;
        const std::string& hex = m_validator.hex;
        auto isCurrent = [&](const char* p, size_t n) {
            if (!IsCurrentTag(p, n, hex, now))
                return false;
            const char* pDash = static_cast<const char*>(memchr(p, '-', n));
            matched = "W/\"" + std::string(p, pDash ? static_cast<size_t>(pDash - p) : n) + "\"";
            return true;
        };
        if (CRukHttpCache::IfNoneMatch(ifNoneMatch.GetText(), isCurrent) ==
            CRukHttpCache::kMatch) {
            std::string lines = CacheControl(m_validator.bCookies);
            if (!matched.empty())
                lines = "ETag: " + matched + "\n" + lines;
            go.m_log.Trace("-- 304 Not Modified (If-None-Match)");
            m_html.WriteNotModified(lines.c_str());
            exit(0);
        }
        return;
    }
    // If-Modified-Since: the feed of a visitor without cookies only.
    time_t since = 0;
    if (!bFeed || m_validator.bCookies ||
        !CRukHttpCache::ParseHttpDate(go.m_env.HTTP_IF_MODIFIED_SINCE.GetText(), since))
        return;
    if (m_validator.tFeedModified == 0 || since != m_validator.tFeedModified)
        return;
    go.m_log.Trace("-- 304 Not Modified (If-Modified-Since)");
    std::string lines = "Last-Modified: " + CRukHttpCache::HttpDate(since) + "\n" +
                        CacheControl(false);
    m_html.WriteNotModified(lines.c_str());
    exit(0);
}

void CRukBBSFormMain::NoteMarkUntil(time_t tUntil)
{
    if (m_validator.tMarksUntil == 0 || tUntil < m_validator.tMarksUntil)
        m_validator.tMarksUntil = tUntil;
}

void CRukBBSFormMain::PutCacheLines()
{
    if (!m_validator.bOn)
        return;
    time_t now = time(nullptr);
    // A page rendered on another clock than the digest holds (the zone's
    // offset changed meanwhile), or made of files just changed, gets a tag
    // that never matches.
    bool bStale = m_validator.bRacy ||
                  BoardClock(SettingNumber(kBoardTimeLagHours),
                             SettingNumber(kBoardTimeLagMinutes)) != m_validator.clock;
    bool bNone = !bStale && m_validator.tMarksUntil == 0;
    time_t tUntil = bStale ? now : m_validator.tMarksUntil;
    std::string lines = "Status: 200 OK\nETag: " + TagText(m_validator.hex, tUntil, bNone) + "\n";
    time_t tModified = m_validator.bFeed ? m_validator.tFeedModified : m_validator.tModified;
    if (tModified > 0)
        lines += "Last-Modified: " + CRukHttpCache::HttpDate(tModified) + "\n";
    lines += CacheControl(m_validator.bCookies);
    CRukHtml::SetCacheLines(lines.c_str());
}
