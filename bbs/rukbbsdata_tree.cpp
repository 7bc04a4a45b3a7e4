// CRukBBSFile: the queries on the thread tree of the loaded records (the
// records of a page, the roots, the messages of a thread through an index
// by thread key, a reply tree depth first with its tree columns, one
// record and its parent or root), and which records removing a message
// takes with it. Each query completes the records it hands out.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "rukbbsdata_impl.h"
#include "rukbbsdata_view.h"
#include "rukglobal.h"

using namespace rukbbsdata;

// One level of the walk: the record whose replies are listed (-1 for the
// caller's pid), the range of its replies in the index that is still to
// go, and the position in out of the reply appended last at this level
// (-1 before the first).
struct SRecursFrame {
    int nParent;
    int nPos;
    int nEnd;
    int nLast;
};

// The replies to pKey: the range of the sorted index whose records have
// pid pKey, in src order.
static void FindReplies(const CRukBBSDataAry& src, const std::vector<int>& index,
                        const char* pKey, SRecursFrame& frame)
{
    auto lo = std::lower_bound(index.begin(), index.end(), pKey, [&](int i, const char* p) {
        return strcmp(src[i].pid.GetText(), p) < 0;
    });
    auto hi = std::upper_bound(lo, index.end(), pKey, [&](const char* p, int i) {
        return strcmp(p, src[i].pid.GetText()) < 0;
    });
    frame.nPos = static_cast<int>(lo - index.begin());
    frame.nEnd = static_cast<int>(hi - index.begin());
}

// Redraws column c of the lines from the previous sibling (nFrom) on for a
// new sibling: the previous sibling gets "+", and every line below it
// passes the column, so "L" becomes "+" and a blank becomes "|".
static void RepairColumn(CRukBBSDataAry& out, int nFrom, int c, bool bTrace)
{
    if (c < 0)
        return;
    for (int k = nFrom; k < out.GetSize(); k++) {
        CRukBuffer& depth = out[k].depth;
        if (depth.GetSize() < static_cast<unsigned>(c) + 1)
            continue;
        char& ch = depth.GetData()[c];
        char chNew = ch;
        if (k == nFrom || ch == 'L')
            chNew = '+';
        else if (ch == ' ')
            chNew = '|';
        if (chNew != ch) {
            if (bTrace)
                go.m_log.Trace("       CRukBBSFile::GetDataRecursWithDepth [%d] col %d '%c' -> '%c'",
                               k, c, ch, chNew);
            ch = chNew;
        }
    }
}

// Appends the replies to pPid in src, each followed by its own replies, in
// pre-order with siblings in src order. No record is appended twice, so a
// cycle of pid links ends the walk instead of looping; the stack is on the
// heap, so a long chain cannot overflow the call stack, and the replies of
// a record are found in an index sorted by pid, so the walk costs
// O(n log n) however deep the tree. With pPDepth and pDepth the
// tree-column strings are drawn as well; the earlier siblings whose marks
// are redrawn are those this walk appended.
static int WalkReplies(const CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid,
                       int* pPDepth, int* pDepth, const char* pSkip = nullptr)
{
    CRukString strPid(pPid);
    bool bTrace = pDepth && go.m_log.IsActive();
    if (bTrace)
        go.m_log.Trace("       CRukBBSFile::GetDataRecursWithDepth(%s) nPDepth=%d nDepth=%d",
                       strPid.GetText(), *pPDepth, *pDepth + 1);
    int n = src.GetSize();
    int nFirst = 0;
    while (nFirst < n && ((pSkip && pSkip[nFirst]) ||
                          strcmp(src[nFirst].pid.GetText(), strPid.GetText()) != 0))
        nFirst++;
    if (nFirst >= n)
        return 0;

    std::vector<int> index(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        index[i] = i;
    std::sort(index.begin(), index.end(), [&](int a, int b) {
        int r = strcmp(src[a].pid.GetText(), src[b].pid.GetText());
        return r < 0 || (r == 0 && a < b);
    });
    std::vector<char> visited(static_cast<size_t>(n), 0);
    if (pSkip)
        for (int i = 0; i < n; i++)
            visited[i] = pSkip[i] != 0;
    std::vector<SRecursFrame> stack;
    int nCount = 0;

    SRecursFrame root{-1, 0, 0, -1};
    FindReplies(src, index, strPid.GetText(), root);
    stack.push_back(root);
    if (pDepth)
        (*pDepth)++;
    while (!stack.empty()) {
        SRecursFrame& top = stack.back();
        while (top.nPos < top.nEnd && visited[index[top.nPos]])
            top.nPos++;
        if (top.nPos >= top.nEnd) {
            stack.pop_back();
            if (pDepth) {
                (*pDepth)--;
                if (!stack.empty())
                    (*pPDepth)--;
            }
            continue;
        }
        int j = index[top.nPos++];
        visited[j] = 1;
        CRukBBSData rec(src[j]);
        if (pDepth) {
            int c = *pPDepth;
            if (top.nLast >= 0)
                RepairColumn(out, top.nLast, c, bTrace);
            int nLen = std::max(*pDepth, c + 1);
            std::string marks(static_cast<size_t>(nLen), ' ');
            if (c >= 0)
                marks[c] = 'L';
            rec.depth = CRukBuffer(marks.data(), static_cast<unsigned>(marks.size()));
        }
        top.nLast = out.Add(std::move(rec));
        nCount++;
        SRecursFrame child{j, 0, 0, -1};
        FindReplies(src, index, src[j].id.GetText(), child);
        stack.push_back(child);
        if (pDepth) {
            (*pPDepth)++;
            (*pDepth)++;
            if (bTrace)
                go.m_log.Trace("       CRukBBSFile::GetDataRecursWithDepth(%s) nPDepth=%d nDepth=%d",
                               src[j].id.GetText(), *pPDepth, *pDepth);
        }
    }
    return nCount;
}

// Record i of the own records or of the key table, to be completed.
static CRukBBSData KeysOf(const SRukKeyView* pView, const CRukBBSDataAry& list, int i)
{
    if (!pView)
        return list[i];
    CRukBBSData rec;
    pView->MakeKeys(i, rec);
    return rec;
}

// Copies of the own records from nSkip on, until out holds nLimit.
int CRukBBSFile::GetDataSequential(CRukBBSDataAry& out, int nLimit, int nSkip)
{
    int n = 0;
    int nFrom = out.GetSize();
    for (int i = std::max(nSkip, 0); i < GetCount() && out.GetSize() < nLimit; i++) {
        out.Add(KeysOf(m_pView.get(), m_aryData, i));
        n++;
    }
    return CompleteFrom(out, nFrom) ? n : -1;
}

// Copies of the thread roots after the first nSkip, until out holds nLimit.
int CRukBBSFile::GetDataParents(CRukBBSDataAry& out, int nLimit, int nSkip)
{
    int n = 0;
    if (m_pView) {
        const auto& roots = m_pView->roots;
        for (size_t k = static_cast<size_t>(std::max(nSkip, 0));
             k < roots.size() && out.GetSize() < nLimit; k++) {
            out.Add(KeysOf(m_pView.get(), m_aryData, roots[k]));
            n++;
        }
        return CompleteFrom(out, out.GetSize() - n) ? n : -1;
    }
    int nRoot = 0;
    for (int i = 0; i < m_aryData.GetSize() && out.GetSize() < nLimit; i++) {
        if (!m_aryData[i].pid.IsEmpty())
            continue;
        if (nRoot++ < nSkip)
            continue;
        out.Add(m_aryData[i]);
        n++;
    }
    return CompleteFrom(out, out.GetSize() - n) ? n : -1;
}

// Chains the own records by the hash of their thread key, each chain in
// file order, so that a page of threads costs one pass over the board
// rather than one per thread.
void CRukBBSFile::IndexThreads()
{
    int n = m_aryData.GetSize();
    if (m_nIndexed == n && m_pIndexed == m_aryData.begin())
        return;
    size_t nSlots = 16;
    while (nSlots < 2 * static_cast<size_t>(n))
        nSlots <<= 1;
    m_aThreadHead.assign(nSlots, -1);
    m_aThreadNext.assign(static_cast<size_t>(n), -1);
    for (int i = n - 1; i >= 0; i--) {
        const char* pPpid = m_aryData[i].ppid.GetText();
        size_t nSlot = HashKey(pPpid, strlen(pPpid)) & (nSlots - 1);
        m_aThreadNext[i] = m_aThreadHead[nSlot];
        m_aThreadHead[nSlot] = i;
    }
    m_pIndexed = m_aryData.begin();
    m_nIndexed = n;
}

// Copies of every message of thread pId (the root excluded), in file order
// or, unless nOrder is -1, with the whole of out sorted by id.
int CRukBBSFile::GetDataChildren(CRukBBSDataAry& out, const char* pId, int nOrder)
{
    const char* pKey = pId ? pId : "";
    int n = 0;
    if (m_pView) {
        m_pView->ForThread(pKey, [&](int i) {
            out.Add(KeysOf(m_pView.get(), m_aryData, i));
            n++;
        });
        if (!CompleteFrom(out, out.GetSize() - n))
            return -1;
        if (nOrder != -1)
            Sort(out, nOrder);
        return n;
    }
    IndexThreads();
    size_t nSlot = HashKey(pKey, strlen(pKey)) & (m_aThreadHead.size() - 1);
    for (int i = m_aThreadHead[nSlot]; i >= 0; i = m_aThreadNext[i]) {
        const CRukBBSData& rec = m_aryData[i];
        if (strcmp(rec.ppid.GetText(), pKey) == 0) {
            out.Add(rec);
            n++;
        }
    }
    if (!CompleteFrom(out, out.GetSize() - n))
        return -1;
    if (nOrder != -1)
        Sort(out, nOrder);
    return n;
}

// The replies to pPid in src, each followed by its subtree.
int CRukBBSFile::GetDataRecurs(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid)
{
    return Walk(src, out, pPid, nullptr, nullptr);
}

// The walk behind both recursive queries; the records it appends are
// completed (src may be the own list, loaded by keys).
int CRukBBSFile::Walk(CRukBBSDataAry& src, CRukBBSDataAry& out, const char* pPid, int* pPDepth,
                      int* pDepth)
{
    int nFrom = out.GetSize();
    int n;
    if (&src == &out) {
        CRukBBSDataAry copy(src);
        n = WalkReplies(copy, out, pPid, pPDepth, pDepth);
    } else {
        n = WalkReplies(src, out, pPid, pPDepth, pDepth);
    }
    return CompleteFrom(out, nFrom) ? n : -1;
}

// As GetDataRecurs, drawing each appended record's tree columns.
int CRukBBSFile::GetDataRecursWithDepth(CRukBBSDataAry& src, CRukBBSDataAry& out,
                                        const char* pPid, int& nPDepth, int& nDepth)
{
    return Walk(src, out, pPid, &nPDepth, &nDepth);
}

// 1 when some own record answers pId directly.
int CRukBBSFile::CheckExistChild(const char* pId)
{
    const char* pKey = pId ? pId : "";
    if (m_pView) {
        for (int i = 0; i < m_pView->Size(); i++)
            if (strcmp(m_pView->Pid(i), pKey) == 0)
                return 1;
        return 0;
    }
    for (const CRukBBSData& rec : m_aryData)
        if (strcmp(rec.pid.GetText(), pKey) == 0)
            return 1;
    return 0;
}

// The first own record with id pId, or null (also when it cannot be read
// whole: HasReadFailed).
CRukBBSData* CRukBBSFile::GetData(const char* pId)
{
    if (!pId)
        return nullptr;
    if (m_pView) {
        int i = m_pView->FindId(pId);
        return i >= 0 ? RecordAt(i) : nullptr;
    }
    for (CRukBBSData& rec : m_aryData)
        if (strcmp(rec.id.GetText(), pId) == 0)
            return Complete(rec) ? &rec : nullptr;
    return nullptr;
}

// The message pRec answers, or null.
CRukBBSData* CRukBBSFile::GetDataParent(const CRukBBSData* pRec)
{
    if (!pRec || pRec->pid.IsEmpty())
        return nullptr;
    return GetData(pRec->pid.GetText());
}

// The root of pRec's thread (pRec's own record for a root), or null.
CRukBBSData* CRukBBSFile::GetDataPP(const CRukBBSData* pRec)
{
    if (!pRec)
        return nullptr;
    if (!pRec->ppid.IsEmpty())
        return GetData(pRec->ppid.GetText());
    return GetData(pRec->id.GetText());
}

// See the header; an empty id would otherwise match every thread root.
bool CRukBBSFile::MarkData(const CRukBBSDataAry& list, const char* pId, std::vector<char>& mask,
                           char cMark, const char* pTrace)
{
    CRukString strId(pId);
    const char* pKey = strId.GetText();
    if (!*pKey)
        return false;
    bool bMarked = false;
    for (int i = 0; i < list.GetSize(); i++) {
        if (mask[i])
            continue;
        if (strcmp(list[i].ppid.GetText(), pKey) == 0 || strcmp(list[i].id.GetText(), pKey) == 0) {
            mask[i] = cMark;
            bMarked = true;
        }
    }
    if (!bMarked)
        return false;

    CRukBBSDataAry below;
    if (WalkReplies(list, below, pKey, nullptr, nullptr, mask.data()) <= 0)
        return true;
    std::unordered_set<std::string> ids;
    for (int i = 0; i < below.GetSize(); i++) {
        if (pTrace)
            go.m_log.Trace("[%3d] %s PID(%s)-ID(%s)", i, below[i].title.GetText(),
                           below[i].pid.GetText(), below[i].id.GetText());
        ids.insert(below[i].id.GetText());
    }
    for (int i = 0; i < list.GetSize(); i++)
        if (!mask[i] && ids.count(list[i].id.GetText()) > 0)
            mask[i] = cMark;
    return true;
}
