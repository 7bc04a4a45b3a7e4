// The posting rate of each client: the recent new posts of every client
// address in "bbs-rate.dat" of the data directory, checked and recorded
// by WriteInputData under the board's write lock (see SRukWriteRules).
#include <algorithm>
#include <memory>

#include "rukbbsdata_impl.h"
#include "rukeventlog.h"
#include "rukglobal.h"
#include "rukstrpath.h"

namespace rukbbsdata {

static const char s_szRateName[] = "bbs-rate.dat";
static const long s_nBurstWindow = 600;  // seconds over which nPostBurst counts

// The key of a client in the rate file ("-" for a request without one).
static const char* RateKey(const char* pClient)
{
    return *pClient ? pClient : "-";
}

int CheckRate(const char* pDir, const SRukWriteRules& rules, time_t now,
                     std::unique_ptr<CRukEventLog>& log)
{
    if (!rules.pClient || (rules.nPostInterval <= 0 && rules.nPostBurst <= 0))
        return 0;
    long nKeep = std::max<long>(s_nBurstWindow, rules.nPostInterval);
    CRukString path = CRukStrPath::Normalize(pDir ? pDir : "") + "/" + s_szRateName;
    // Without a lock of its own: the board lock is held.
    log = std::make_unique<CRukEventLog>(path.GetText(), nKeep);
    if (log->Load(false) != 0)
        return kStoreFailed;
    const char* pKey = RateKey(rules.pClient);
    long nWait = 0;
    time_t last = log->Latest(pKey);
    if (rules.nPostInterval > 0 && last > 0 && now - last < rules.nPostInterval)
        nWait = rules.nPostInterval - static_cast<long>(now - last);
    if (rules.nPostBurst > 0 && log->Count(pKey, s_nBurstWindow, now) >= rules.nPostBurst) {
        time_t oldest = log->Oldest(pKey, s_nBurstWindow, now);
        nWait = std::max(nWait, static_cast<long>(oldest + s_nBurstWindow - now));
    }
    if (nWait <= 0)
        return 0;
    // A clock set back could ask for more than the log keeps.
    nWait = std::min(std::max(nWait, 1L), nKeep);
    if (rules.pWait)
        *rules.pWait = static_cast<int>(nWait);
    go.m_log.Trace("     CRukBBSFile::WriteInputData -> too soon for %s (%ld s)", pKey, nWait);
    return kStoreTooSoon;
}

void RecordRate(CRukEventLog& log, const char* pClient, time_t now)
{
    log.Add(RateKey(pClient), now);
    if (log.Save(now) != 0)
        go.m_log.Trace("     CRukBBSFile::WriteInputData -> the rate file could not be written");
}

}  // namespace rukbbsdata
