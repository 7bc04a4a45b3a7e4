// CRukBBSFile and CRukBBSData: the line format of the message file,
// reading it (whole, or by keys with the rest read when a query hands a
// record out), replacing it whole, the thread tree queries and searching.
// Posts, edits, deletions and attachment files are in rukbbsdata_write.cpp.
#include "rukbbsdata.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

#include "rukatomicfile.h"
#include "rukdir.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// ---------------------------------------------------------------------------
// Record layout on a line of the message file

static const char s_cFieldSep = '\x1e';  // between fields
static const char s_cBodyBreak = '\x1d';  // a line feed of the body

// Positions 0-11 of a line, in order.
static CRukString CRukBBSData::*const s_aTextFields[] = {
    &CRukBBSData::id,    &CRukBBSData::pid,    &CRukBBSData::ppid,    &CRukBBSData::date,
    &CRukBBSData::name,  &CRukBBSData::mail,   &CRukBBSData::home,    &CRukBBSData::title,
    &CRukBBSData::mess,  &CRukBBSData::passwd, &CRukBBSData::resmail, &CRukBBSData::preform,
};
static const int s_nTextFields = sizeof(s_aTextFields) / sizeof(s_aTextFields[0]);
static const int s_nDateField = 3;
static const int s_nMessField = 8;
static const int s_nRemoteField = 12;  // the poster's address
static const int s_nIconField = 20;    // 13-19 are reserved and always empty
static const int s_nAttachField = 21;  // then name, thread id, name, ...

// The separator after the address, the seven empty reserved fields and the
// separator before the icon: eight separators in a row.
static const char s_szReserved[] = "\x1e\x1e\x1e\x1e\x1e\x1e\x1e\x1e";

static const char s_szLockName[] = "lockfile.lock";
static const char s_szDataName[] = "bbs-message.dat";

// Output is handed to the file in chunks of about this size.
static const unsigned s_nChunk = 1u << 16;

// Sets an empty string to n bytes of p.
static void SetText(CRukString& str, const char* p, size_t n)
{
    if (n > 0)
        str.Append(p, static_cast<int>(n));
}

// Sets an empty string to the stored body: each 0x1D becomes a line feed.
static void SetBody(CRukString& str, const char* p, size_t n)
{
    if (n == 0)
        return;
    char* q = str.Alloc(static_cast<int>(n));
    memcpy(q, p, n);
    char* pEnd = q + n;
    while ((q = static_cast<char*>(memchr(q, s_cBodyBreak, pEnd - q))) != nullptr)
        *q++ = '\n';
}

// Builds rec from one line of the file (without its line feed). A line
// without any separator holds no record and gives false.
static bool ParseRecord(const char* p, size_t n, CRukBBSData& rec)
{
    const char* pEnd = p + n;
    if (!memchr(p, s_cFieldSep, n))
        return false;
    CRukStrPair pair;
    bool bPending = false;
    for (int nField = 0;; nField++) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        if (!q)
            q = pEnd;
        size_t nLen = static_cast<size_t>(q - p);
        if (nField == s_nMessField) {
            SetBody(rec.mess, p, nLen);
        } else if (nField < s_nTextFields) {
            SetText(rec.*s_aTextFields[nField], p, nLen);
        } else if (nField == s_nRemoteField) {
            SetText(rec.remote, p, nLen);
        } else if (nField == s_nIconField) {
            SetText(rec.icon, p, nLen);
        } else if (nField >= s_nAttachField) {
            if ((nField - s_nAttachField) % 2 == 0) {
                SetText(pair.m_strTag, p, nLen);
                bPending = true;
            } else {
                SetText(pair.m_data, p, nLen);
                // Appended as stored: lookups find the first pair of a name.
                rec.attach.CRukAry<CRukStrPair>::Add(std::move(pair));
                pair = CRukStrPair();
                bPending = false;
            }
        }
        if (q == pEnd)
            break;
        p = q + 1;
    }
    if (bPending)
        rec.attach.CRukAry<CRukStrPair>::Add(std::move(pair));
    return true;
}

// Builds the keys of rec (id, pid, ppid) from one line, as ParseRecord
// would; the other fields stay empty.
static bool ParseKeys(const char* p, size_t n, CRukBBSData& rec)
{
    const char* pEnd = p + n;
    if (!memchr(p, s_cFieldSep, n))
        return false;
    CRukString CRukBBSData::*const keys[] = {&CRukBBSData::id, &CRukBBSData::pid,
                                             &CRukBBSData::ppid};
    for (CRukString CRukBBSData::*pKey : keys) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        if (!q)
            q = pEnd;
        SetText(rec.*pKey, p, static_cast<size_t>(q - p));
        if (q == pEnd)
            break;
        p = q + 1;
    }
    return true;
}

// Collects the bytes of the new file in a fixed block and hands them to
// the temporary file block by block; remembers the first failure.
struct SFileWriter {
    explicit SFileWriter(CRukAtomicFile& file) : m_file(file), m_nUsed(0), m_bFailed(false) {}

    void Put(const char* p, size_t n)
    {
        if (n > sizeof(m_sz) - m_nUsed)
            Flush();
        if (n > sizeof(m_sz)) {
            if (m_file.Write(p, n) != 0)
                m_bFailed = true;
            return;
        }
        memcpy(m_sz + m_nUsed, p, n);
        m_nUsed += n;
    }

    void Put(char c)
    {
        if (m_nUsed == sizeof(m_sz))
            Flush();
        m_sz[m_nUsed++] = c;
    }

    // Writes what is collected: true while nothing has failed.
    bool Flush()
    {
        if (m_nUsed > 0 && m_file.Write(m_sz, m_nUsed) != 0)
            m_bFailed = true;
        m_nUsed = 0;
        return !m_bFailed;
    }

    CRukAtomicFile& m_file;
    size_t m_nUsed;
    bool m_bFailed;
    char m_sz[s_nChunk];
};

// Writes one field in a form the line can hold: separators and stored
// line breaks are dropped; in the body a line feed becomes 0x1D and a
// carriage return is dropped, elsewhere both become a blank.
static void PutField(SFileWriter& out, const char* p, bool bBody)
{
    static const char s_szSpecial[] = "\x1e\x1d\r\n";
    while (*p) {
        size_t n = strcspn(p, s_szSpecial);
        if (n > 0)
            out.Put(p, n);
        p += n;
        if (!*p)
            break;
        char c = *p++;
        if (c == '\n')
            out.Put(bBody ? s_cBodyBreak : ' ');
        else if (c == '\r' && !bBody)
            out.Put(' ');
    }
}

// True when a stored line is exactly what PutRecord writes for the record
// ParseRecord reads from it, so that it can be copied as it is: no NUL or
// carriage return, 0x1D only in the body, the seven reserved fields after
// the address empty, and attachments in whole pairs. Every test is a
// memchr over the line or one field, so a long body costs a few vector
// passes.
static bool IsCanonicalLine(const char* p, size_t n)
{
    if (memchr(p, 0, n) || memchr(p, '\r', n))
        return false;
    const char* pEnd = p + n;
    int nField = 0;
    for (;;) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        const char* pFieldEnd = q ? q : pEnd;
        if (nField != s_nMessField && memchr(p, s_cBodyBreak, pFieldEnd - p))
            return false;
        if (nField > s_nRemoteField && nField < s_nIconField && pFieldEnd != p)
            return false;  // a reserved field holds something
        if (!q)
            break;
        nField++;
        p = q + 1;
    }
    return nField >= s_nIconField && (nField - s_nIconField) % 2 == 0;
}

// Writes the line of one record, line feed included.
static void PutRecord(SFileWriter& out, const CRukBBSData& rec)
{
    for (int i = 0; i < s_nTextFields; i++) {
        if (i > 0)
            out.Put(s_cFieldSep);
        PutField(out, (rec.*s_aTextFields[i]).GetText(), i == s_nMessField);
    }
    out.Put(s_cFieldSep);
    PutField(out, rec.remote.GetText(), false);
    out.Put(s_szReserved, sizeof(s_szReserved) - 1);
    PutField(out, rec.icon.GetText(), false);
    for (const CRukStrPair& pair : rec.attach) {
        out.Put(s_cFieldSep);
        PutField(out, pair.m_strTag.GetText(), false);
        out.Put(s_cFieldSep);
        PutField(out, pair.m_data.GetText(), false);
    }
    out.Put('\n');
}

// True for the fields a visitor sees of a message: the date, name, mail,
// home page, title and body, and the file names of the attachments. The
// keys, the password code, the switches, the address, the reserved
// fields, the icon and the thread ids of attachments are never searched.
static bool IsVisibleField(int nField)
{
    if (nField >= s_nAttachField)
        return (nField - s_nAttachField) % 2 == 0;
    return nField >= s_nDateField && nField <= s_nMessField;
}

// True when the word lies inside one visible field of the line.
static bool InVisibleField(const char* p, size_t n, const CRukString& word)
{
    const char* pWord = word.GetText();
    size_t nWord = static_cast<size_t>(word.GetLength());
    const char* pEnd = p + n;
    for (int nField = 0;; nField++) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        const char* pFieldEnd = q ? q : pEnd;
        if (IsVisibleField(nField) && memmem(p, pFieldEnd - p, pWord, nWord))
            return true;
        if (!q)
            return false;
        p = q + 1;
    }
}

// True when every word occurs in a field a visitor sees (an empty list
// matches everything). Most lines hold not all the words anywhere: the
// whole line (terminated in place) is looked at first, and only a line
// that holds them all is gone through field by field.
static bool MatchesVisible(const char* p, size_t n, const CRukStrAry& words)
{
    for (const CRukString& word : words)
        if (!strstr(p, word.GetText()))
            return false;
    for (const CRukString& word : words)
        if (!InVisibleField(p, n, word))
            return false;
    return true;
}

// Shortens a list to n records (n may be 0).
static void Truncate(CRukBBSDataAry& list, int n)
{
    if (n < list.GetSize())
        list.SetSize(n, true);
}

// Reads the whole of fp into buf: true, or false on a read error.
static bool ReadWhole(FILE* fp, CRukBuffer& buf)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return false;
    size_t nHave = 0;
    if (st.st_size > 0) {
        char* p = buf.Alloc(static_cast<unsigned>(st.st_size));
        nHave = fread(p, 1, static_cast<size_t>(st.st_size), fp);
        buf.ReAlloc(static_cast<unsigned>(nHave));
    }
    char sz[s_nChunk];
    size_t n;
    while ((n = fread(sz, 1, sizeof(sz), fp)) > 0)  // grown since fstat
        buf.Append(sz, static_cast<unsigned>(n));
    return ferror(fp) == 0;
}

// The file is read in blocks of this size, reused from block to block, so
// that a small board touches few pages; a longer line grows the block.
static const size_t s_nReadBlock = 1u << 16;

// Hands every line of fp to onLine(p, n, at) (without its line feed, with a
// NUL written after it in place, and its offset in the file), reading block by block so that only one block
// of raw text is held at a time. onFirst(p, pEnd) sees the first block
// before its lines are handed out. false on a read error.
// Hands the lines of p..pEnd that end in a line feed (all of them with
// bLast) to onLine, nBase being the offset of p in the file; returns where
// the unfinished rest begins. With bTerminate each line gets a NUL in
// place of its line feed (the text needs one byte after pEnd for that).
template <class FLine>
static char* SplitLines(char* p, char* pEnd, bool bLast, long nBase, FLine& onLine,
                        bool bTerminate = true)
{
    char* pStart = p;
    while (p < pEnd) {
        char* pBreak = static_cast<char*>(memchr(p, '\n', pEnd - p));
        if (!pBreak && !bLast)
            break;
        char* pLineEnd = pBreak ? pBreak : pEnd;
        if (bTerminate)
            *pLineEnd = 0;
        onLine(p, static_cast<size_t>(pLineEnd - p), nBase + (p - pStart));
        p = pLineEnd + 1;
    }
    return p < pEnd ? p : pEnd;
}

template <class FFirst, class FLine>
static bool ReadLines(FILE* fp, FFirst onFirst, FLine onLine)
{
    size_t nBlock = s_nReadBlock;
    std::unique_ptr<char[]> block(new char[nBlock + 1]);
    size_t nHeld = 0;  // bytes of an unfinished line at the block's start
    long nBase = 0;    // file offset of the block's first byte
    bool bFirst = true;
    for (;;) {
        if (nHeld == nBlock) {  // one line fills the block: double it
            std::unique_ptr<char[]> bigger(new char[nBlock * 2 + 1]);
            memcpy(bigger.get(), block.get(), nHeld);
            block = std::move(bigger);
            nBlock *= 2;
        }
        size_t n = fread(block.get() + nHeld, 1, nBlock - nHeld, fp);
        if (n == 0 && ferror(fp))
            return false;
        bool bLast = n == 0;
        char* p = block.get();
        char* pEnd = p + nHeld + n;
        if (bFirst && !bLast) {
            onFirst(p, pEnd);
            bFirst = false;
        }
        p = SplitLines(p, pEnd, bLast, nBase, onLine);
        if (bLast)
            return true;
        nHeld = static_cast<size_t>(pEnd - p);
        nBase += static_cast<long>((pEnd - block.get()) - nHeld);
        memmove(block.get(), pEnd - nHeld, nHeld);
    }
}

// Takes the shared lock of pPath's board when asked and opens pPath for
// reading: the stream, or null with r the lock result or -1.
static FILE* OpenShared(CRukBBSLock& lock, const char* pPath, bool bLock, int& r)
{
    if (bLock && (r = lock.Lock(pPath, true)) != 0)
        return nullptr;
    FILE* fp = fopen(pPath, "rb");
    r = fp ? 0 : -1;
    return fp;
}

// Reads the records of fp and appends them to list. With pWords every
// record whose visible fields hold all the words is also appended to pOut,
// and the count of those is returned instead. The list is sized once from
// the first block's lines and the file size, so that records are parsed
// straight into their slots. A read error leaves both lists as they were
// and gives -1, so that a partly read file is never taken for the whole
// one.
static int ReadRecords(FILE* fp, CRukBBSDataAry& list, const CRukStrAry* pWords,
                       CRukBBSDataAry* pOut, bool bKeys = false, CRukBuffer* pText = nullptr)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return -1;
    int nBefore = list.GetSize();
    int nOutBefore = pOut ? pOut->GetSize() : 0;
    int nAdded = 0;
    int nMatched = 0;
    auto size = [&](const char* p, const char* pEnd) {
        // Lines in this block, scaled to the whole file, with a margin; a
        // stored record takes at least its 21 separators and line feed, and
        // lines shorter than that in a damaged file grow the list instead.
        size_t nLines = 1;
        for (const char* q = p; (q = static_cast<const char*>(memchr(q, '\n', pEnd - q))); q++)
            nLines++;
        double fScale = st.st_size > 0 ? static_cast<double>(st.st_size) / (pEnd - p) : 1.0;
        double fGuess = fScale <= 1.0 ? nLines : nLines * fScale * 1.05 + 16;
        double fMost = static_cast<double>(st.st_size) / 21 + 64;
        list.SetSize(nBefore + static_cast<int>(std::min(fGuess, fMost)), true);
    };
    auto parse = [&](char* p, size_t n, long nAt) {
        if (nBefore + nAdded >= list.GetSize())
            list.SetSize(nBefore + nAdded + nAdded / 4 + 64, true);
        CRukBBSData& rec = list[nBefore + nAdded];
        bool bMatch = pWords && pOut && MatchesVisible(p, n, *pWords);
        if (bKeys) {
            if (!ParseKeys(p, n, rec))
                return;
            rec.lineAt = nAt;
            rec.lineLen = static_cast<int>(n);
            if (bMatch) {
                CRukBBSData whole;
                ParseRecord(p, n, whole);
                pOut->Add(std::move(whole));
                nMatched++;
            }
        } else {
            if (!ParseRecord(p, n, rec))
                return;
            if (bMatch) {
                pOut->Add(rec);
                nMatched++;
            }
        }
        nAdded++;
    };
    bool bRead;
    if (pText) {
        // Kept whole and unchanged for the caller, who copies lines from
        // it (searching needs terminated lines and never asks for this).
        bRead = ReadWhole(fp, *pText);
        if (bRead && pText->GetSize() > 0) {
            char* p = pText->GetData();
            char* pEnd = p + pText->GetSize();
            size(p, pEnd);
            SplitLines(p, pEnd, true, 0, parse, false);
        }
    } else {
        bRead = ReadLines(fp, size, parse);
    }
    if (!bRead) {
        Truncate(list, nBefore);
        if (pOut)
            Truncate(*pOut, nOutBefore);
        return -1;
    }
    Truncate(list, nBefore + nAdded);
    return pWords ? nMatched : nAdded;
}

// True when the line's field nField (0 the id, 1 the pid) is pKey.
static bool FieldIs(const char* p, size_t n, int nField, const char* pKey, size_t nKey)
{
    const char* pEnd = p + n;
    for (int i = 0; i < nField; i++) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        if (!q)
            return false;
        p = q + 1;
    }
    const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
    if (!q)
        return false;  // a line without a separator holds no record
    return static_cast<size_t>(q - p) == nKey && memcmp(p, pKey, nKey) == 0;
}

// Copies the current contents of pPath (none when it is missing) into the
// temporary file: 0, or -1.
static int CopyOldFile(CRukAtomicFile& out, const char* pPath)
{
    FILE* fp = fopen(pPath, "rb");
    if (!fp)
        return errno == ENOENT ? 0 : -1;
    char sz[s_nChunk];
    size_t n;
    int r = 0;
    while ((n = fread(sz, 1, sizeof(sz), fp)) > 0) {
        if (out.Write(sz, n) != 0) {
            r = -1;
            break;
        }
    }
    if (ferror(fp))
        r = -1;
    fclose(fp);
    return r;
}

// ---------------------------------------------------------------------------
// Depth-first walk of a reply tree

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

// ---------------------------------------------------------------------------
// CRukBBSLock

// Locks "lockfile.lock" in the directory of pPath; a bare file name locks
// the one in the current directory. The policy is CRukFlock's.
int CRukBBSLock::Lock(const char* pPath, bool bShared)
{
    go.m_log.Trace("       CRukBBSLock::Lock(%s)", pPath ? pPath : "");
    CRukStrPath path;
    path.Split(pPath ? pPath : "");
    CRukString lockPath;
    if (path.GetDirs().GetSize() > 0) {
        lockPath = path.Directory("/");
        lockPath += "/";
    }
    lockPath += s_szLockName;
    return CRukFlock::Lock(lockPath.GetText(), bShared);
}

// ---------------------------------------------------------------------------
// CRukBBSFile: records and data files

CRukBBSFile::CRukBBSFile()
    : m_aryData(0, 10), m_nMaxData(1000), m_nDeleteMode(0), m_fdSnapshot(-1), m_pIndexed(nullptr),
      m_nIndexed(-1)
{
}

CRukBBSFile::~CRukBBSFile()
{
    CloseSnapshot();
}

void CRukBBSFile::CloseSnapshot()
{
    if (m_fdSnapshot >= 0)
        close(m_fdSnapshot);
    m_fdSnapshot = -1;
    m_snapshotText.Free();
    m_window.Free();
    m_nWindowAt = -1;
    m_bReadFailed = false;
}

bool CRukBBSFile::LoadSnapshotText() const
{
    if (m_snapshotText.GetSize() > 0)
        return true;
    if (m_fdSnapshot < 0)
        return false;
    int fd = fcntl(m_fdSnapshot, F_DUPFD_CLOEXEC, 0);
    FILE* fp = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!fp) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool bRead = fseek(fp, 0, SEEK_SET) == 0 && ReadWhole(fp, m_snapshotText);
    fclose(fp);
    return bRead;
}

int CRukBBSFile::LoadKeys(const char* pPath, bool bText)
{
    m_aryData.RemoveAll();
    CloseSnapshot();
    struct stat st;
    if (stat(pPath, &st) != 0)
        return errno == ENOENT ? 0 : -1;
    go.m_log.Trace("---->> CRukBBSFile::ReadFile(%s) START ----", pPath);
    FILE* fp = fopen(pPath, "rb");
    if (!fp)
        return -1;
    int n = ReadRecords(fp, m_aryData, nullptr, nullptr, true, bText ? &m_snapshotText : nullptr);
    if (n >= 0)
        m_fdSnapshot = fcntl(fileno(fp), F_DUPFD_CLOEXEC, 0);
    fclose(fp);
    if (n >= 0 && m_fdSnapshot < 0)
        n = -1;
    if (n < 0) {
        m_aryData.RemoveAll();
        CloseSnapshot();
        return -1;
    }
    go.m_log.Trace("----<< CRukBBSFile::ReadFile END num = %d ----", n);
    return n;
}

// Loads the rest of a record loaded by its keys from the kept file; the
// tree columns drawn on it stay. A failure is remembered (HasReadFailed).
bool CRukBBSFile::Complete(CRukBBSData& rec) const
{
    if (rec.lineAt < 0)
        return true;
    bool bRead = ReadRest(rec);
    if (!bRead)
        m_bReadFailed = true;
    return bRead;
}

bool CRukBBSFile::ReadRest(CRukBBSData& rec) const
{
    if (m_fdSnapshot < 0 || rec.lineLen < 0)
        return false;
    size_t n = static_cast<size_t>(rec.lineLen);
    if (static_cast<size_t>(rec.lineAt) + n <= m_snapshotText.GetSize()) {
        CRukBBSData whole;
        if (!ParseRecord(m_snapshotText.GetData() + rec.lineAt, n, whole))
            return false;
        whole.depth = std::move(rec.depth);
        rec = std::move(whole);
        return true;
    }
    // The records a page shows lie close together (a thread's records are
    // stored together, the newest threads first), so the file is read in
    // windows of 64 KiB (or the line, if longer) and each window serves
    // every record inside it.
    size_t nAt = static_cast<size_t>(rec.lineAt);
    bool bInside = m_nWindowAt >= 0 && nAt >= static_cast<size_t>(m_nWindowAt) &&
                   nAt + n <= static_cast<size_t>(m_nWindowAt) + m_window.GetSize();
    if (!bInside) {
        size_t nWant = std::max<size_t>(n, 1u << 16);
        char* p = m_window.Alloc(static_cast<unsigned>(nWant));
        size_t nGot = 0;
        while (nGot < nWant) {
            ssize_t r = pread(m_fdSnapshot, p + nGot, nWant - nGot,
                              static_cast<off_t>(nAt + nGot));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            nGot += static_cast<size_t>(r);
        }
        m_window.ReAlloc(static_cast<unsigned>(nGot));
        m_nWindowAt = static_cast<long>(nAt);
        if (nGot < n) {
            m_nWindowAt = -1;
            return false;
        }
    }
    CRukBBSData whole;
    if (!ParseRecord(m_window.GetData() + (nAt - static_cast<size_t>(m_nWindowAt)), n, whole))
        return false;
    whole.depth = std::move(rec.depth);
    rec = std::move(whole);
    return true;
}

bool CRukBBSFile::CompleteFrom(CRukBBSDataAry& list, int nFrom) const
{
    bool bAll = true;
    for (int i = std::max(nFrom, 0); i < list.GetSize(); i++)
        bAll = Complete(list[i]) && bAll;
    return bAll;
}

// Appends the records of the message file pPath to list, under the shared
// lock when asked. Returns the number appended, -1, or the lock result.
int CRukBBSFile::ReadFile(CRukBBSDataAry& list, const char* pPath, bool bLock)
{
    if (&list == &m_aryData)
        ForgetIndex();
    go.m_log.Trace("---->> CRukBBSFile::ReadFile(%s) START ----", pPath ? pPath : "");
    CRukBBSLock lock;
    int r = 0;
    FILE* fp = pPath ? OpenShared(lock, pPath, bLock, r) : nullptr;
    if (!fp)
        return pPath ? r : -1;
    int n = ReadRecords(fp, list, nullptr, nullptr);
    fclose(fp);
    go.m_log.Trace("----<< CRukBBSFile::ReadFile END num = %d ----", n);
    return n;
}

// Writes the records of pFirst and then pRest to a temporary file beside
// pPath (after the old contents with bKeepOld) and renames it over pPath.
int CRukBBSFile::ReplaceData(const char* pPath, const CRukBBSDataAry* pFirst,
                             const CRukBBSDataAry* pRest, const char* pSkip, bool bKeepOld)
{
    CRukAtomicFile file;
    if (file.Open(pPath) != 0)
        return -1;
    if (bKeepOld && CopyOldFile(file, pPath) != 0)
        return -1;
    std::unique_ptr<SFileWriter> out = std::make_unique<SFileWriter>(file);
    const CRukBBSDataAry* apLists[] = {pFirst, pRest};
    for (const CRukBBSDataAry* pList : apLists) {
        if (!pList)
            continue;
        bool bRest = pList == pRest && pList != pFirst;
        for (int i = 0; i < pList->GetSize(); i++) {
            if (bRest && pSkip && pSkip[i])
                continue;
            const CRukBBSData& rec = (*pList)[i];
            if (rec.lineAt < 0) {
                PutRecord(*out, rec);
                continue;
            }
            // Loaded by its keys: its stored line is copied when writing the
            // parsed record would give the same bytes; otherwise the whole
            // record is parsed and written. Either that, or nothing.
            if (!LoadSnapshotText())
                return -1;
            size_t nAt = static_cast<size_t>(rec.lineAt);
            size_t nLen = static_cast<size_t>(rec.lineLen);
            if (nAt + nLen > m_snapshotText.GetSize())
                return -1;
            const char* pLine = m_snapshotText.GetData() + nAt;
            if (IsCanonicalLine(pLine, nLen)) {
                out->Put(pLine, nLen);
                out->Put('\n');
                continue;
            }
            CRukBBSData whole(rec);
            if (!Complete(whole))
                return -1;
            PutRecord(*out, whole);
        }
    }
    if (!out->Flush())
        return -1;
    if (file.Commit() != 0)
        return -1;
    if (chmod(pPath, go.m_nFileMode) != 0)
        go.m_log.Trace("       CRukBBSFile: chmod(%s) failed", pPath);
    return 0;
}

// Replaces the file with the records of list, or adds them at its end with
// bAppend; either way the file changes whole or not at all. Returns the
// number of records, -1, or the lock result.
int CRukBBSFile::WriteFile(CRukBBSDataAry& list, const char* pPath, bool bLock, bool bAppend)
{
    go.m_log.Trace("---->> CRukBBSFile::WriteFile(%s) START ----", pPath ? pPath : "");
    if (!pPath || !*pPath)
        return -1;
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(pPath, false);
        if (r != 0)
            return r;
    }
    if (ReplaceData(pPath, &list, nullptr, nullptr, bAppend) != 0)
        return -1;
    go.m_log.Trace("----<< CRukBBSFile::WriteFile END num = %d ----", list.GetSize());
    return list.GetSize();
}

// Empties the own records for a new load of pDir's board; the path of its
// message file, or an empty path when there is none.
CRukString CRukBBSFile::StartLoad(const char* pDir)
{
    ForgetIndex();
    m_aryData.RemoveAll();
    CloseSnapshot();
    CRukString path = CreateFullPath(pDir);
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        path.Free();
    return path;
}

// Loads the board of pDir into the own records; -1 when it has no file.
int CRukBBSFile::ReadPageData(const char* pDir, bool bLock)
{
    CRukString path = StartLoad(pDir);
    return path.IsEmpty() ? -1 : ReadFile(m_aryData, path.GetText(), bLock);
}

// Loads the keys of every record of pDir's board and keeps the file open
// for the rest; -1 when it has no file.
int CRukBBSFile::ReadPageKeys(const char* pDir, bool bLock)
{
    CRukString path = StartLoad(pDir);
    if (path.IsEmpty())
        return -1;
    CRukBBSLock lock;
    if (bLock) {
        int r = lock.Lock(path.GetText(), true);
        if (r != 0)
            return r;
    }
    return LoadKeys(path.GetText(), false);
}

// Replaces the board's file with the own records.
int CRukBBSFile::WritePageData(const char* pDir, bool bLock)
{
    CRukString path = CreateFullPath(pDir);
    return WriteFile(m_aryData, path.GetText(), bLock, false);
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
    path += s_szDataName;
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

// ---------------------------------------------------------------------------
// CRukBBSFile: thread tree queries

// Copies of the own records from nSkip on, until out holds nLimit.
int CRukBBSFile::GetDataSequential(CRukBBSDataAry& out, int nLimit, int nSkip)
{
    int n = 0;
    int nFrom = out.GetSize();
    for (int i = std::max(nSkip, 0); i < m_aryData.GetSize() && out.GetSize() < nLimit; i++) {
        out.Add(m_aryData[i]);
        n++;
    }
    return CompleteFrom(out, nFrom) ? n : -1;
}

// Copies of the thread roots after the first nSkip, until out holds nLimit.
int CRukBBSFile::GetDataParents(CRukBBSDataAry& out, int nLimit, int nSkip)
{
    int n = 0;
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

// FNV-1a of a thread key, for the thread index.
static unsigned HashKey(const char* p)
{
    unsigned h = 2166136261u;
    for (; *p; p++)
        h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    return h;
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
        size_t nSlot = HashKey(m_aryData[i].ppid.GetText()) & (nSlots - 1);
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
    IndexThreads();
    int n = 0;
    size_t nSlot = HashKey(pKey) & (m_aThreadHead.size() - 1);
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

// ---------------------------------------------------------------------------
// CRukBBSFile: removing threads and subtrees from the own records

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

bool CRukBBSFile::RemoveMarked(const std::vector<char>& mask, CRukAry<CRukStrMap>* pRemoved)
{
    ForgetIndex();
    bool bRead = true;
    int j = 0;
    for (int i = 0; i < m_aryData.GetSize(); i++) {
        CRukBBSData& rec = m_aryData[i];
        if (mask[i]) {
            if (pRemoved && !Complete(rec))
                bRead = false;
            else if (pRemoved && rec.attach.GetSize() > 0)
                pRemoved->Add(std::move(rec.attach));
            continue;
        }
        if (j != i)
            m_aryData[j] = std::move(rec);
        j++;
    }
    Truncate(m_aryData, j);
    return bRead;
}

bool CRukBBSFile::RemoveData(const char* pId, CRukAry<CRukStrMap>* pRemoved, const char* pTrace)
{
    std::vector<char> mask(static_cast<size_t>(m_aryData.GetSize()), 0);
    if (!MarkData(m_aryData, pId, mask, 1, pTrace))
        return false;
    return RemoveMarked(mask, pRemoved);
}

// Removes pId's thread or subtree from the own records, files untouched.
bool CRukBBSFile::DeleteDataOnly(const char* pId)
{
    go.m_log.Trace("----- CRukBBSFile::DeleteDataOnly START -----");
    bool bRemoved = RemoveData(pId, nullptr, "DeleteDataOnly");
    go.m_log.Trace("----- CRukBBSFile::DeleteDataOnly END -----");
    return bRemoved;
}

// ---------------------------------------------------------------------------
// CRukBBSFile: search

// Loads the board of pDir into the own records and appends to out every
// record whose visible fields hold all the words (see the header). Returns
// the number found, -1, or the lock result.
int CRukBBSFile::FindRead(const char* pDir, CRukBBSDataAry& out, CRukStrAry& words, bool bLock)
{
    ForgetIndex();
    go.m_log.Trace("---->> CRukBBSFile::FindRead START ----");
    CRukString path = CreateFullPath(pDir);
    if (CRukFile::GetFileSize(path.GetText()) < 0)
        return -1;
    CRukBBSLock lock;
    int r = 0;
    FILE* fp = OpenShared(lock, path.GetText(), bLock, r);
    if (!fp)
        return r;
    // Records already held are made whole first: the kept file changes.
    if (!CompleteFrom(m_aryData, 0)) {
        fclose(fp);
        return -1;
    }
    CloseSnapshot();
    // Only the hits are parsed whole; the others keep their place by keys.
    int n = ReadRecords(fp, m_aryData, &words, &out, true);
    if (n >= 0)
        m_fdSnapshot = fcntl(fileno(fp), F_DUPFD_CLOEXEC, 0);
    fclose(fp);
    go.m_log.Trace("----<< CRukBBSFile::FindRead END num = %d ----", n);
    return n;
}

// Looks one message up in the board's file without loading the board: the
// first record with id pId goes to out, and bHasChild tells whether some
// record answers it. 1 found, 0 not found, -1 no readable file, or the lock
// result. The own records are left alone.
int CRukBBSFile::FindRecord(const char* pDir, const char* pId, CRukBBSData& out,
                            bool& bHasChild, bool bLock)
{
    bHasChild = false;
    CRukString path = CreateFullPath(pDir);
    CRukBBSLock lock;
    int r = 0;
    FILE* fp = OpenShared(lock, path.GetText(), bLock, r);
    if (!fp)
        return r;
    const char* pKey = pId ? pId : "";
    size_t nKey = strlen(pKey);
    bool bFound = false;
    auto look = [&](char* p, size_t n, long) {
        if (nKey == 0)
            return;
        if (!bFound && FieldIs(p, n, 0, pKey, nKey)) {
            out = CRukBBSData();
            bFound = ParseRecord(p, n, out);
        }
        if (!bHasChild && FieldIs(p, n, 1, pKey, nKey))
            bHasChild = true;
    };
    bool bRead = ReadLines(fp, [](const char*, const char*) {}, look);
    fclose(fp);
    if (!bRead)
        return -1;
    return bFound ? 1 : 0;
}

// Appends to out every own record whose title, name or body holds each of
// the words.
int CRukBBSFile::FindData(CRukBBSDataAry& out, CRukStrAry& words)
{
    int n = 0;
    for (CRukBBSData& rec : m_aryData) {
        if (!Complete(rec))
            return -1;
        bool bMatch = true;
        for (const CRukString& word : words) {
            const char* pWord = word.GetText();
            if (!strstr(rec.title.GetText(), pWord) && !strstr(rec.name.GetText(), pWord) &&
                !strstr(rec.mess.GetText(), pWord)) {
                bMatch = false;
                break;
            }
        }
        if (bMatch) {
            out.Add(rec);
            n++;
        }
    }
    return n;
}
