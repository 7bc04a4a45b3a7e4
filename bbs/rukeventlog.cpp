#include "rukeventlog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "rukatomicfile.h"
#include "rukglobal.h"

CRukEventLog::CRukEventLog(const char* pPath, long nKeep, const char* pLockPath)
    : m_strPath(pPath), m_nKeep(nKeep), m_strLockPath(pLockPath)
{
}

std::string CRukEventLog::Encode(const char* pKey)
{
    return CRukString(pKey).CharToPerHex().GetText();
}

// Parses "SECONDS KEY" lines; anything else is skipped.
int CRukEventLog::Load(bool bLock)
{
    m_events.clear();
    if (bLock) {
        if (m_strLockPath.IsEmpty())
            return -1;
        int r = m_lock.Lock(m_strLockPath.GetText(), false);
        if (r != 0)
            return r;
    }
    FILE* fp = fopen(m_strPath.GetText(), "rb");
    if (!fp)
        return errno == ENOENT ? 0 : -1;
    char line[512];
    while (fgets(line, sizeof(line), fp)) {
        char* pEnd = nullptr;
        errno = 0;
        long long at = strtoll(line, &pEnd, 10);
        if (errno != 0 || pEnd == line || *pEnd != ' ' || at <= 0)
            continue;
        char* pKey = pEnd + 1;
        size_t n = strcspn(pKey, " \r\n");
        if (n == 0 || (pKey[n] != '\n' && pKey[n] != '\0'))
            continue;
        m_events.push_back({static_cast<time_t>(at), std::string(pKey, n)});
    }
    bool bError = ferror(fp) != 0;
    fclose(fp);
    return bError ? -1 : 0;
}

int CRukEventLog::Count(const char* pKey, long nWindow, time_t now) const
{
    std::string key = Encode(pKey);
    int n = 0;
    for (const SEvent& e : m_events)
        if (e.key == key && e.at > now - nWindow && e.at <= now)
            n++;
    return n;
}

time_t CRukEventLog::Latest(const char* pKey) const
{
    std::string key = Encode(pKey);
    time_t latest = 0;
    for (const SEvent& e : m_events)
        if (e.key == key && e.at > latest)
            latest = e.at;
    return latest;
}

time_t CRukEventLog::Oldest(const char* pKey, long nWindow, time_t now) const
{
    std::string key = Encode(pKey);
    time_t oldest = 0;
    for (const SEvent& e : m_events)
        if (e.key == key && e.at > now - nWindow && e.at <= now && (oldest == 0 || e.at < oldest))
            oldest = e.at;
    return oldest;
}

void CRukEventLog::Add(const char* pKey, time_t now)
{
    m_events.push_back({now, Encode(pKey)});
}

int CRukEventLog::Save(time_t now)
{
    CRukAtomicFile out;
    if (out.Open(m_strPath.GetText()) != 0)
        return -1;
    for (const SEvent& e : m_events) {
        if (e.at <= now - m_nKeep || e.at > now + m_nKeep)
            continue;
        char head[32];
        int n = snprintf(head, sizeof(head), "%lld ", static_cast<long long>(e.at));
        if (out.Write(head, static_cast<size_t>(n)) != 0 ||
            out.Write(e.key.data(), e.key.size()) != 0 || out.Write("\n", 1) != 0)
            return -1;
    }
    if (out.Commit() != 0)
        return -1;
    // Created files get the site's file mode, as every file the board writes.
    (void)chmod(m_strPath.GetText(), static_cast<mode_t>(go.m_nFileMode));
    return 0;
}
