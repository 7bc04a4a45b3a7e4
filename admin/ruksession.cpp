#include "ruksession.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <crypt.h>
#include <fcntl.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukatomicfile.h"
#include "rukglobal.h"

const char* const CRukSession::s_pAdminScope = "*";

// SHA-256 crypt with its least number of rounds and the fixed salt (see
// the header for why).
static const char s_szHashSetting[] = "$5$rounds=1000$RukAdminSession$";

CRukSession::CRukSession(const char* pPath, const char* pLockPath)
    : m_strPath(pPath), m_strLockPath(pLockPath)
{
}

CRukString CRukSession::RandomHex(size_t nBytes)
{
    std::vector<unsigned char> bytes(nBytes);
    size_t nHave = 0;
    while (nHave < nBytes) {
        ssize_t n = getrandom(bytes.data() + nHave, nBytes - nHave, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return CRukString();
        nHave += static_cast<size_t>(n);
    }
    static const char s_szHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(nBytes * 2);
    for (unsigned char c : bytes) {
        text += s_szHex[c >> 4];
        text += s_szHex[c & 15];
    }
    return CRukString(text.c_str());
}

bool CRukSession::IsTokenText(const char* pText)
{
    if (!pText || strlen(pText) != static_cast<size_t>(s_nTokenDigits))
        return false;
    return strspn(pText, "0123456789abcdef") == static_cast<size_t>(s_nTokenDigits);
}

bool CRukSession::IsSameText(const char* pA, const char* pB)
{
    size_t n = strlen(pA ? pA : "");
    if (n != strlen(pB ? pB : ""))
        return false;
    volatile unsigned char diff = 0;
    for (size_t i = 0; i < n; i++)
        diff = static_cast<unsigned char>(diff | (static_cast<unsigned char>(pA[i]) ^
                                                  static_cast<unsigned char>(pB[i])));
    return diff == 0;
}

std::string CRukSession::Hash(const char* pToken)
{
    // crypt_data is large (about 32 KiB): on the heap, zeroed as crypt_r
    // requires of a first call.
    std::unique_ptr<crypt_data> data(new crypt_data());
    const char* pCode = crypt_r(pToken, s_szHashSetting, data.get());
    if (!pCode || strncmp(pCode, s_szHashSetting, strlen(s_szHashSetting)) != 0)
        return std::string();
    return pCode;
}

// True for a scope as the file holds it: "*" or a board id.
static bool IsScopeText(const std::string& scope)
{
    if (scope == CRukSession::s_pAdminScope)
        return true;
    if (scope.empty())
        return false;
    for (char c : scope)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    return true;
}

// Reads one decimal count of seconds ended by a blank.
static bool ReadSeconds(const char*& p, time_t& out)
{
    char* pEnd = nullptr;
    errno = 0;
    long long n = strtoll(p, &pEnd, 10);
    if (errno != 0 || pEnd == p || *pEnd != ' ' || n <= 0)
        return false;
    out = static_cast<time_t>(n);
    p = pEnd + 1;
    return true;
}

// Reads one field ended by a blank (or, for the last, by the line end).
static bool ReadField(const char*& p, std::string& out, bool bLast)
{
    size_t n = strcspn(p, " \r\n");
    if (n == 0)
        return false;
    out.assign(p, n);
    p += n;
    if (bLast)
        return *p == '\n' || *p == '\0';
    if (*p != ' ')
        return false;
    p++;
    return true;
}

int CRukSession::Load(bool bShared)
{
    m_entries.clear();
    int r = m_lock.Lock(m_strLockPath.GetText(), bShared);
    if (r != 0)
        return r;
    FILE* fp = fopen(m_strPath.GetText(), "rb");
    if (!fp)
        return errno == ENOENT ? 0 : -1;
    char line[512];
    while (fgets(line, sizeof(line), fp)) {
        const char* p = line;
        SEntry e;
        if (ReadSeconds(p, e.last) && ReadSeconds(p, e.created) && ReadField(p, e.scope, false) &&
            ReadField(p, e.form, false) && ReadField(p, e.hash, true) && IsScopeText(e.scope) &&
            IsTokenText(e.form.c_str()))
            m_entries.push_back(std::move(e));
    }
    bool bError = ferror(fp) != 0;
    if (fclose(fp) != 0)
        bError = true;
    return bError ? -1 : 0;
}

bool CRukSession::IsLive(const SEntry& e, time_t now) const
{
    return e.last > now - s_nIdle && e.created > now - s_nLifetime && e.last <= now + s_nIdle;
}

CRukSession::SEntry* CRukSession::Lookup(const std::string& hash, time_t now)
{
    SEntry* pFound = nullptr;
    for (SEntry& e : m_entries)
        if (IsSameText(e.hash.c_str(), hash.c_str()) && IsLive(e, now))
            pFound = &e;
    return pFound;
}

int CRukSession::Save(time_t now)
{
    std::vector<SEntry> live;
    for (SEntry& e : m_entries)
        if (IsLive(e, now))
            live.push_back(std::move(e));
    // The least recently used go first when there are too many.
    if (live.size() > s_nMaxSessions) {
        std::stable_sort(live.begin(), live.end(),
                         [](const SEntry& a, const SEntry& b) { return a.last > b.last; });
        live.resize(s_nMaxSessions);
    }
    m_entries = std::move(live);

    // A new file is made readable by its owner only; the replacement keeps
    // the mode of the file it replaces.
    int fd = open(m_strPath.GetText(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 && close(fd) != 0)
        return -1;
    CRukAtomicFile out;
    if (out.Open(m_strPath.GetText()) != 0)
        return -1;
    for (const SEntry& e : m_entries) {
        char head[64];
        int n = snprintf(head, sizeof(head), "%lld %lld ", static_cast<long long>(e.last),
                         static_cast<long long>(e.created));
        std::string line = std::string(head, static_cast<size_t>(n)) + e.scope + " " + e.form +
                           " " + e.hash + "\n";
        if (out.Write(line.data(), line.size()) != 0)
            return -1;
    }
    return out.Commit() == 0 ? 0 : -1;
}

int CRukSession::Find(const char* pToken, time_t now)
{
    if (!IsTokenText(pToken))
        return 1;
    std::string hash = Hash(pToken);
    if (hash.empty())
        return -1;
    int r = Load(true);
    if (r != 0)
        return r;
    const SEntry* pFound = Lookup(hash, now);
    if (!pFound)
        return 1;
    m_strScope = pFound->scope.c_str();
    m_strForm = pFound->form.c_str();
    bool bStale = pFound->last <= now - s_nRefresh;
    (void)m_lock.Unlock();
    if (!bStale)
        return 0;
    // Notes the request; when that cannot be done now, the session still
    // holds for this request and the next one tries again.
    if (Load(false) == 0) {
        SEntry* pEntry = Lookup(hash, now);
        if (pEntry) {
            pEntry->last = now;
            if (Save(now) != 0)
                go.m_log.Trace("-- the session file could not be written");
        }
    }
    (void)m_lock.Unlock();
    return 0;
}

int CRukSession::Start(const char* pScope, time_t now)
{
    CRukString token = RandomHex(s_nTokenDigits / 2);
    CRukString form = RandomHex(s_nTokenDigits / 2);
    if (token.IsEmpty() || form.IsEmpty() || !IsScopeText(pScope ? pScope : ""))
        return -1;
    std::string hash = Hash(token.GetText());
    if (hash.empty())
        return -1;
    int r = Load(false);
    if (r != 0)
        return r;
    m_entries.push_back({now, now, pScope, form.GetText(), hash});
    r = Save(now);
    (void)m_lock.Unlock();
    if (r != 0)
        return -1;
    m_strToken = token;
    m_strScope = pScope;
    m_strForm = form;
    return 0;
}

int CRukSession::End(const char* pToken, time_t now)
{
    if (!IsTokenText(pToken))
        return 0;
    std::string hash = Hash(pToken);
    if (hash.empty())
        return -1;
    int r = Load(false);
    if (r != 0)
        return r;
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const SEntry& e) {
                                       return IsSameText(e.hash.c_str(), hash.c_str());
                                   }),
                    m_entries.end());
    r = Save(now);
    (void)m_lock.Unlock();
    return r;
}

int CRukSession::EndScope(const char* pScope, time_t now)
{
    int r = Load(false);
    if (r != 0)
        return r;
    std::string scope = pScope ? pScope : "";
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&](const SEntry& e) { return e.scope == scope; }),
                    m_entries.end());
    r = Save(now);
    (void)m_lock.Unlock();
    return r;
}
