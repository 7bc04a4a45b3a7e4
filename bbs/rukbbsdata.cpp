// CRukBBSFile: its construction, the paths of a data directory's files,
// the order of records by id and the count of threads. The other concerns
// of the class live beside this file (see rukbbsdata.h).
#include <algorithm>
#include <cstring>
#include <vector>

#include "rukbbsdata_impl.h"
#include "rukbbsdata_view.h"
#include "rukfile.h"
#include "rukstrpath.h"

CRukBBSFile::CRukBBSFile()
    : m_aryData(0, 10), m_nMaxData(1000), m_nDeleteMode(0), m_fdSnapshot(-1), m_pIndexed(nullptr),
      m_nIndexed(-1)
{
}

CRukBBSFile::~CRukBBSFile()
{
    CloseSnapshot();
}

// Sorts by id, byte-wise; ascending for 0, descending otherwise. The order
// is found on indexes and then applied by moving each record once along
// the cycles of the permutation, so that whole records are never swapped
// back and forth and no second list is needed.
void CRukBBSFile::Sort(CRukBBSDataAry& list, int nDescending)
{
    if (&list == &m_aryData)
        ForgetIndex();
    int n = list.GetSize();
    if (n < 2)
        return;
    // Each id's first 16 bytes as two big-endian numbers (NUL-padded), so
    // that most comparisons are two integer ones; equal prefixes of longer
    // ids are settled by strcmp, which gives the same byte-wise order.
    struct SKey {
        unsigned long long nHigh, nLow;
        const char* pId;
        int nIndex;
    };
    std::vector<SKey> keys(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        const char* pId = list[i].id.GetText();
        unsigned char sz[16] = {0};
        for (int k = 0; k < 16 && pId[k]; k++)
            sz[k] = static_cast<unsigned char>(pId[k]);
        unsigned long long nHigh = 0, nLow = 0;
        for (int k = 0; k < 8; k++) {
            nHigh = (nHigh << 8) | sz[k];
            nLow = (nLow << 8) | sz[k + 8];
        }
        keys[i] = {nHigh, nLow, pId, i};
    }
    auto before = [](const SKey& a, const SKey& b) {
        if (a.nHigh != b.nHigh)
            return a.nHigh < b.nHigh ? -1 : 1;
        if (a.nLow != b.nLow)
            return a.nLow < b.nLow ? -1 : 1;
        if ((a.nLow & 0xff) == 0)  // both ids end within the prefix
            return 0;
        return strcmp(a.pId + 16, b.pId + 16);
    };
    std::sort(keys.begin(), keys.end(), [&](const SKey& a, const SKey& b) {
        int r = before(a, b);
        if (nDescending != 0)
            r = -r;
        return r < 0 || (r == 0 && a.nIndex < b.nIndex);
    });
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        order[i] = keys[i].nIndex;
    // Slot i receives the record now at order[i].
    std::vector<char> placed(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; i++) {
        if (placed[i] || order[i] == i) {
            placed[i] = 1;
            continue;
        }
        CRukBBSData held = std::move(list[i]);
        int j = i;
        for (;;) {
            placed[j] = 1;
            int k = order[j];
            if (k == i) {
                list[j] = std::move(held);
                break;
            }
            list[j] = std::move(list[k]);
            j = k;
        }
    }
}

// Number of threads: records without a root.
int CRukBBSFile::GetPPNum() const
{
    if (m_pView)
        return m_pView->nThreads;
    int n = 0;
    for (const CRukBBSData& rec : m_aryData)
        if (rec.ppid.IsEmpty())
            n++;
    return n;
}

// The message file of a data directory.
CRukString CRukBBSFile::CreateFullPath(const char* pDir) const
{
    CRukString path = CRukStrPath::Normalize(pDir ? pDir : "");
    path += "/";
    path += rukbbsdata::kDataName;
    return path;
}

// The attachment directory of thread pId.
CRukString CRukBBSFile::CreateAttachPath(const char* pDir, const char* pId) const
{
    CRukString path = CRukStrPath::Normalize(pDir ? pDir : "");
    path += "/";
    path += pId ? pId : "";
    return path;
}
