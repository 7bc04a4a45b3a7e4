// CRukBBSFile: the checked writes of posts and deletions, built here on the
// plain writes as a stand-in until the store makes them its own (it reads
// only what it needs and writes the attachments all or nothing; this one
// loads the whole board under the lock and keeps the plain writes' handling
// of files). What a caller sees is the same: every check runs under the
// board's write lock, on the records as they are stored.
#include "rukbbsdata.h"

#include <string>
#include <unordered_set>

#include "rukeventlog.h"
#include "rukglobal.h"

// The posting rate's events, beside the message file (under its lock).
static const char s_szRateName[] = "post-rate.dat";

// "stem-N.ext" for N = 2, 3, ... until a name the set does not hold.
static CRukString NumberedName(const CRukString& name, const std::unordered_set<std::string>& used)
{
    if (used.count(name.GetText()) == 0)
        return name;
    int nDot = name.Find(".");
    CRukString stem = nDot >= 0 ? name.Left(nDot) : name;
    CRukString ext = nDot >= 0 ? name.Mid(nDot) : CRukString();
    for (int n = 2;; n++) {
        CRukString numbered;
        numbered.Format("%s-%d%s", stem.GetText(), n, ext.GetText());
        if (used.count(numbered.GetText()) == 0)
            return numbered;
    }
}

// Whether pClient may post now under the rules: 0, or kStoreTooSoon with
// the wait in *rules.pWait.
static int CheckRate(CRukEventLog& log, const SRukWriteRules& rules, time_t now)
{
    if (!rules.pClient || !*rules.pClient || rules.nPostInterval <= 0)
        return 0;
    int nBurst = rules.nPostBurst > 1 ? rules.nPostBurst : 1;
    if (log.Count(rules.pClient, rules.nPostInterval, now) < nBurst)
        return 0;
    long nWait = static_cast<long>(log.Oldest(rules.pClient, rules.nPostInterval, now) +
                                   rules.nPostInterval - now);
    if (rules.pWait)
        *rules.pWait = nWait > 0 ? static_cast<int>(nWait) : 1;
    return kStoreTooSoon;
}

int CRukBBSFile::WriteInputData(const char* pDir, CRukBBSData& rec, CRukBufAry& files, bool bLock,
                                const SRukWriteRules& rules)
{
    CRukString path = CreateFullPath(pDir);
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), false);
        if (r != 0)
            return r;
    }
    if (CRukFile::GetFileSize(path.GetText()) >= 0 && ReadPageData(pDir, false) < 0)
        return kStoreFailed;
    time_t now = time(nullptr);
    CRukString ratePath = CRukString(pDir) + "/" + s_szRateName;
    CRukEventLog rate(ratePath.GetText(), rules.nPostInterval > 0 ? rules.nPostInterval : 1);
    if (rules.nPostInterval > 0 && rate.Load(false) != 0)
        return kStoreFailed;
    int r = CheckRate(rate, rules, now);
    if (r != 0)
        return r;

    CRukString thread = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    std::unordered_set<std::string> used;  // attachment names of the thread
    CRukStrMap kept;
    CRukBufAry keptData;
    if (rules.bNewKey) {
        if (!rec.pid.IsEmpty() && !GetData(rec.pid.GetText()))
            return kStoreNoParent;
    } else {
        const CRukBBSData* pStored = GetData(rec.id.GetText());
        if (!pStored)
            return kStoreMissing;
        if (rules.check) {
            int c = rules.check(*pStored, CheckExistChild(rec.id.GetText()) > 0);
            if (c != 0)
                return c;
        }
        // The stored attachments stay unless named for removal; the plain
        // write rewrites them from their bytes.
        CRukString dir = CreateAttachPath(pDir, thread.GetText());
        std::unordered_set<std::string> removed;
        if (rules.pRemoveAttach)
            for (const CRukString& name : *rules.pRemoveAttach)
                removed.insert(name.GetText());
        for (const CRukStrPair& pair : pStored->attach) {
            if (removed.count(pair.m_strTag.GetText()) > 0)
                continue;
            CRukFile file;
            CRukBuffer data;
            if (file.ReadFile((dir + "/" + pair.m_strTag).GetText(), data) < 0)
                return kStoreFailed;
            kept.Add(pair.m_strTag.GetText(), pair.m_data.GetText());
            keptData.Add(std::move(data));
        }
    }
    for (CRukBBSData& other : m_aryData) {
        if (other.id == rec.id || (other.id != thread && other.ppid != thread))
            continue;
        Complete(other);
        for (const CRukStrPair& pair : other.attach)
            used.insert(pair.m_strTag.GetText());
    }
    for (const CRukStrPair& pair : kept)
        used.insert(pair.m_strTag.GetText());
    CRukStrMap attach = std::move(kept);
    CRukBufAry data = std::move(keptData);
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        CRukString name = NumberedName(rec.attach[i].m_strTag, used);
        used.insert(name.GetText());
        attach.Add(name.GetText(), thread.GetText());
        const CRukBuffer* pData = files.GetAt(i);
        data.Add(pData ? *pData : CRukBuffer());
    }
    rec.attach = std::move(attach);

    r = WriteInputData(pDir, rec, data, false, rules.bNewKey);
    if (r == -1)
        return kStoreFailed;
    if (r < 0)
        return r;
    if (rules.pClient && *rules.pClient && rules.nPostInterval > 0) {
        rate.Add(rules.pClient, now);
        if (rate.Save(now) != 0)
            go.m_log.Trace("-- %s could not be written", ratePath.GetText());
    }
    return r;
}

int CRukBBSFile::WriteDeleteData(const char* pDir, const char* pId, bool bLock,
                                 const FRukCheck& check)
{
    CRukString id(pId);
    CRukString path = CreateFullPath(pDir);
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), false);
        if (r != 0)
            return r;
    }
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        return kStoreMissing;
    if (ReadPageData(pDir, false) < 0)
        return kStoreFailed;
    const CRukBBSData* pStored = id.IsEmpty() ? nullptr : GetData(id.GetText());
    if (!pStored)
        return kStoreMissing;
    if (check) {
        int c = check(*pStored, CheckExistChild(id.GetText()) > 0);
        if (c != 0)
            return c;
    }
    int r = WriteDeleteData(pDir, id.GetText(), false);
    return r < 0 ? kStoreFailed : r;
}
