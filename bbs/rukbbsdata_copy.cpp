// The message file as lines, for the writes: CRukBoardText maps (or
// reads) the file and indexes its lines (the scan is in
// rukbbsdata_scan.cpp), answers for a line's keys, reads a line's record
// whole and marks what a deletion takes; CRukLineCopier writes the lines a
// write leaves alone as byte ranges and the others from their records, and
// ReplaceWith puts the result in the file's place whole or not at all.
// The order by id is in rukbbsdata_sort.cpp.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "rukbbsdata_impl.h"
#include "rukfile.h"
#include "rukglobal.h"


namespace rukbbsdata {

namespace {

// Ids of one board mostly have one length and differ in their last
// digits: those are compared first.
inline bool KeyIs(const char* p, uint32_t n, const char* pKey, size_t nKey)
{
    if (n != nKey)
        return false;
    if (nKey >= 8) {
        uint64_t a, b;
        memcpy(&a, p + nKey - 8, 8);
        memcpy(&b, pKey + nKey - 8, 8);
        if (a != b)
            return false;
    }
    return memcmp(p, pKey, nKey) == 0;
}

}  // namespace

CRukBoardText::~CRukBoardText()
{
    if (m_pMap)
        munmap(m_pMap, m_n);
    if (m_fd >= 0)
        close(m_fd);
}

bool CRukBoardText::Load(const char* pPath, bool bIndex)
{
    m_fd = open(pPath, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return errno == ENOENT;
    struct stat st;
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size_t n = static_cast<size_t>(st.st_size);
    if (n == 0) {
        Index("", 0);
        return true;
    }
    // Mapped: the file's pages are read in place and copied by the kernel
    // straight into the new file.
    void* pMap = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_POPULATE, m_fd, 0);
    if (pMap != MAP_FAILED) {
        m_pMap = pMap;
        m_n = n;
        m_p = static_cast<const char*>(pMap);
        if (bIndex)
            Index(m_p, n);
        return true;
    }
    int fd = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    FILE* fp = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!fp) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool bRead = ReadWhole(fp, m_read);
    fclose(fp);
    if (!bRead)
        return false;
    m_p = m_read.GetData();
    m_n = m_read.GetSize();
    if (bIndex)
        Index(m_p, m_n);
    return true;
}

int CRukBoardText::TakeFd()
{
    int fd = m_fd;
    m_fd = -1;
    return fd;
}


bool CRukBoardText::IdIs(int i, const char* pKey, size_t nKey) const
{
    const SLineRef& l = (*this)[i];
    return KeyIs(m_p + l.at, l.nId, pKey, nKey);
}

bool CRukBoardText::PidIs(int i, const char* pKey, size_t nKey) const
{
    const SLineRef& l = (*this)[i];
    return KeyIs(m_p + l.at + l.pidAt, l.nPid, pKey, nKey);
}

bool CRukBoardText::PpidIs(int i, const char* pKey, size_t nKey) const
{
    const SLineRef& l = (*this)[i];
    return KeyIs(m_p + l.at + l.ppidAt, l.nPpid, pKey, nKey);
}

CRukString CRukBoardText::Id(int i) const
{
    CRukString id;
    const SLineRef& l = (*this)[i];
    if (l.nId > 0)
        id.Append(m_p + l.at, static_cast<int>(l.nId));
    return id;
}

CRukString CRukBoardText::ThreadKey(int i) const
{
    const SLineRef& l = (*this)[i];
    if (l.nPpid == 0)
        return Id(i);
    CRukString key;
    key.Append(m_p + l.at + l.ppidAt, static_cast<int>(l.nPpid));
    return key;
}

int CRukBoardText::Find(const char* pId) const
{
    size_t nKey = pId ? strlen(pId) : 0;
    if (nKey == 0)
        return -1;
    for (int i = 0; i < Count(); i++)
        if (IdIs(i, pId, nKey))
            return i;
    return -1;
}

bool CRukBoardText::HasReplies(const char* pId) const
{
    size_t nKey = strlen(pId);
    for (int i = 0; i < Count(); i++)
        if (PidIs(i, pId, nKey))
            return true;
    return false;
}

bool CRukBoardText::Record(int i, CRukBBSData& rec) const
{
    rec = CRukBBSData();
    return ParseRecord(Line(i), (*this)[i].len, rec);
}

void CRukBoardText::Keys(int i, CRukBBSData& rec) const
{
    const SLineRef& l = (*this)[i];
    const char* p = Line(i);
    rec = CRukBBSData();
    if (l.nId > 0)
        rec.id.Append(p, static_cast<int>(l.nId));
    if (l.nPid > 0)
        rec.pid.Append(p + l.pidAt, static_cast<int>(l.nPid));
    if (l.nPpid > 0)
        rec.ppid.Append(p + l.ppidAt, static_cast<int>(l.nPpid));
    rec.lineAt = static_cast<long>(l.at);
    rec.lineLen = static_cast<int>(l.len);
}

// The walk below pId follows pid links among the unmarked lines; what it
// reaches is found round by round (a reply's replies are few), and a chain
// deeper than a few rounds is followed through an index by pid instead.
bool CRukBoardText::Mark(const char* pId, std::vector<char>& mask, char cMark) const
{
    std::string key(pId ? pId : "");
    if (key.empty())
        return false;
    bool bMarked = false;
    int n = Count();
    for (int i = 0; i < n; i++) {
        if (mask[i])
            continue;
        if (PpidIs(i, key.data(), key.size()) || IdIs(i, key.data(), key.size())) {
            mask[i] = cMark;
            bMarked = true;
        }
    }
    if (!bMarked)
        return false;

    auto pidOf = [&](int i) {
        const SLineRef& l = (*this)[i];
        return std::string(m_p + l.at + l.pidAt, l.nPid);
    };
    auto idOf = [&](int i) { return std::string(m_p + (*this)[i].at, (*this)[i].nId); };
    std::vector<char> reached(static_cast<size_t>(n), 0);
    std::unordered_set<std::string> ids;  // the ids of the lines reached
    std::vector<std::string> frontier{key};
    std::unordered_multimap<std::string, int> byPid;
    bool bIndexed = false;
    for (int nRound = 0; !frontier.empty(); nRound++) {
        std::vector<std::string> next;
        auto reach = [&](int i) {
            if (mask[i] || reached[i])
                return;
            reached[i] = 1;
            std::string id = idOf(i);
            if (ids.insert(id).second)
                next.push_back(id);
        };
        if (nRound < 8 && frontier.size() <= 8) {
            for (int i = 0; i < n; i++) {
                if ((*this)[i].nPid == 0 || mask[i] || reached[i])
                    continue;
                for (const std::string& pid : frontier)
                    if (PidIs(i, pid.data(), pid.size())) {
                        reach(i);
                        break;
                    }
            }
        } else {
            if (!bIndexed) {
                for (int i = 0; i < n; i++)
                    if ((*this)[i].nPid > 0 && !mask[i])
                        byPid.emplace(pidOf(i), i);
                bIndexed = true;
            }
            for (const std::string& pid : frontier) {
                auto range = byPid.equal_range(pid);
                for (auto it = range.first; it != range.second; ++it)
                    reach(it->second);
            }
        }
        frontier = std::move(next);
    }
    if (ids.empty())
        return true;
    for (int i = 0; i < n; i++)
        if (!mask[i] && ids.count(idOf(i)) > 0)
            mask[i] = cMark;
    return true;
}

void CRukLineCopier::Line(const CRukBoardText& text, int i)
{
    const SLineRef& l = text[i];
    if (!l.bCanonical) {
        CRukBBSData rec;
        if (text.Record(i, rec))
            Record(rec);
        return;
    }
    if (!l.bFeed) {
        Flush();
        m_out.Put(text.Line(i), l.len);
        m_out.Put('\n');
        return;
    }
    if (m_nRunLen > 0 && m_pRunText == &text && m_nRunAt + m_nRunLen == l.at) {
        m_nRunLen += l.len + 1;
        return;
    }
    Flush();
    m_pRunText = &text;
    m_nRunAt = l.at;
    m_nRunLen = l.len + 1;
}

void CRukLineCopier::Flush()
{
    if (m_nRunLen > 0)
        m_out.Put(m_pRunText->m_p + m_nRunAt, m_nRunLen);
    m_nRunLen = 0;
}

int ReplaceWith(const char* pPath, const std::function<void(CRukLineCopier&)>& write)
{
    CRukAtomicFile file;
    if (file.Open(pPath) != 0)
        return -1;
    std::unique_ptr<SFileWriter> out = std::make_unique<SFileWriter>(file);
    {
        CRukLineCopier copier(*out);
        write(copier);
    }
    if (!out->Flush() || file.Commit() != 0)
        return -1;
    if (chmod(pPath, go.m_nFileMode) != 0)
        go.m_log.Trace("       CRukBBSFile: chmod(%s) failed", pPath);
    return 0;
}

}  // namespace rukbbsdata
