#include "rukbuffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

CRukBuffer::CRukBuffer() : m_nSize(0), m_pData(nullptr), m_nCapacity(0) {}

CRukBuffer::CRukBuffer(unsigned n) : m_nSize(0), m_pData(nullptr), m_nCapacity(0)
{
    if (n)
        Alloc(n);
}

CRukBuffer::CRukBuffer(const char* pData, unsigned n)
    : m_nSize(0), m_pData(nullptr), m_nCapacity(0)
{
    if (pData && n)
        Append(pData, n);
}

CRukBuffer::CRukBuffer(const char* pText) : m_nSize(0), m_pData(nullptr), m_nCapacity(0)
{
    if (pText)
        Append(pText, static_cast<unsigned>(strlen(pText)));
}

CRukBuffer::CRukBuffer(const CRukBuffer& buf) : m_nSize(0), m_pData(nullptr), m_nCapacity(0)
{
    Append(buf.m_pData, buf.m_nSize);
}

CRukBuffer::CRukBuffer(CRukBuffer&& buf) noexcept
    : m_nSize(buf.m_nSize), m_pData(buf.m_pData), m_nCapacity(buf.m_nCapacity)
{
    buf.m_nSize = buf.m_nCapacity = 0;
    buf.m_pData = nullptr;
}

CRukBuffer::~CRukBuffer()
{
    free(m_pData);
}

CRukBuffer& CRukBuffer::operator=(const CRukBuffer& buf)
{
    if (this != &buf) {
        m_nSize = 0;
        if (buf.m_nSize == 0)
            Free();
        else
            Append(buf.m_pData, buf.m_nSize);
    }
    return *this;
}

CRukBuffer& CRukBuffer::operator=(CRukBuffer&& buf) noexcept
{
    if (this != &buf) {
        free(m_pData);
        m_nSize = buf.m_nSize;
        m_pData = buf.m_pData;
        m_nCapacity = buf.m_nCapacity;
        buf.m_nSize = buf.m_nCapacity = 0;
        buf.m_pData = nullptr;
    }
    return *this;
}

// Makes room for nNeed bytes plus the NUL, growing geometrically.
void CRukBuffer::Grow(unsigned nNeed)
{
    if (nNeed <= m_nCapacity && m_pData)
        return;
    unsigned nCap = m_nCapacity ? m_nCapacity : 16;
    while (nCap < nNeed) {
        unsigned nNext = nCap * 2;
        if (nNext <= nCap) {  // would overflow
            nCap = nNeed;
            break;
        }
        nCap = nNext;
    }
    char* p = static_cast<char*>(realloc(m_pData, static_cast<size_t>(nCap) + 1));
    if (!p)
        abort();
    m_pData = p;
    m_nCapacity = nCap;
}

void CRukBuffer::Reserve(unsigned n)
{
    if (n > m_nCapacity) {
        char* p = static_cast<char*>(realloc(m_pData, static_cast<size_t>(n) + 1));
        if (!p)
            abort();
        m_pData = p;
        m_nCapacity = n;
        m_pData[m_nSize] = 0;
    }
}

CRukBuffer& CRukBuffer::operator+=(const CRukBuffer& buf)
{
    return Append(buf);
}

CRukBuffer& CRukBuffer::Append(const CRukBuffer& buf)
{
    if (&buf == this) {
        CRukBuffer copy(buf);
        return Append(copy.m_pData, copy.m_nSize);
    }
    return Append(buf.m_pData, buf.m_nSize);
}

CRukBuffer& CRukBuffer::Append(const char* pData, unsigned n)
{
    if (!pData || n == 0)
        return *this;
    if (m_pData && pData >= m_pData && pData < m_pData + m_nSize) {
        CRukBuffer copy(pData, n);  // appending a part of itself
        return Append(copy.m_pData, copy.m_nSize);
    }
    Grow(m_nSize + n);
    memcpy(m_pData + m_nSize, pData, n);
    m_nSize += n;
    m_pData[m_nSize] = 0;
    return *this;
}

CRukBuffer CRukBuffer::operator+(const CRukBuffer& buf) const
{
    CRukBuffer result(*this);
    result.Append(buf);
    return result;
}

CRukBuffer& CRukBuffer::Insert(const CRukBuffer& buf)
{
    return Insert(buf.m_pData, buf.m_nSize);
}

CRukBuffer& CRukBuffer::Insert(const char* pData, unsigned n)
{
    if (!pData || n == 0)
        return *this;
    CRukBuffer result;
    result.Reserve(m_nSize + n);
    result.Append(pData, n);
    result.Append(m_pData, m_nSize);
    *this = std::move(result);
    return *this;
}

// First position at or after nStart where the pattern's bytes occur.
int CRukBuffer::Find(const char* pPattern, unsigned nLen, unsigned nStart) const
{
    if (!pPattern || m_nSize == 0 || nStart >= m_nSize)
        return -1;
    if (nLen == 0)
        return static_cast<int>(nStart);
    if (nLen > m_nSize - nStart)
        return -1;
    const void* p = memmem(m_pData + nStart, m_nSize - nStart, pPattern, nLen);
    return p ? static_cast<int>(static_cast<const char*>(p) - m_pData) : -1;
}

// Replaces what match(nFrom, b, e) finds from nFrom on (bytes b to e, e
// excluded; false when nothing more matches) with pWith: every match with
// bAll, else the first. The new bytes are built once, so that replacing
// every match of a long buffer stays linear. Returns the number replaced.
template <class FMatch>
static int ReplaceMatches(CRukBuffer& buf, FMatch match, const char* pWith, unsigned nWith,
                          bool bAll)
{
    const char* pData = buf.GetData();
    unsigned nSize = buf.GetSize();
    int nCount = 0;
    unsigned nPos = 0;
    unsigned b, e;
    CRukBuffer out;
    while (match(nPos, b, e)) {
        if (nCount == 0)
            out.Reserve(nSize);
        out.Append(pData + nPos, b - nPos);
        out.Append(pWith, nWith);
        nCount++;
        nPos = e;
        if (!bAll)
            break;
    }
    if (nCount == 0)
        return 0;
    out.Append(pData + nPos, nSize - nPos);
    if (out.GetSize() == 0)
        out.Free();  // an empty result is the empty buffer, without a block
    buf = std::move(out);
    return nCount;
}

int CRukBuffer::Replace(const char* pFind, unsigned nFind, const char* pWith, unsigned nWith,
                        bool bAll)
{
    if (m_nSize == 0 || !pFind || nFind == 0)
        return 0;
    auto match = [&](unsigned nFrom, unsigned& b, unsigned& e) {
        int q = Find(pFind, nFind, nFrom);
        if (q < 0)
            return false;
        b = static_cast<unsigned>(q);
        e = b + nFind;
        return true;
    };
    return ReplaceMatches(*this, match, pWith, nWith, bAll);
}

int CRukBuffer::Replace(const char* pBegin, unsigned nBegin, const char* pEnd, unsigned nEnd,
                        const char* pWith, unsigned nWith, bool bAll)
{
    if (m_nSize == 0 || !pBegin || nBegin == 0 || !pEnd || nEnd == 0)
        return 0;
    auto match = [&](unsigned nFrom, unsigned& b, unsigned& e) {
        int q = Find(pBegin, nBegin, nFrom);
        if (q < 0)
            return false;
        int r = Find(pEnd, nEnd, static_cast<unsigned>(q) + nBegin);
        if (r < 0)
            return false;
        b = static_cast<unsigned>(q);
        e = static_cast<unsigned>(r) + nEnd;
        return true;
    };
    return ReplaceMatches(*this, match, pWith, nWith, bAll);
}

CRukBuffer CRukBuffer::GetToken(const char* pSep, unsigned nSep, bool bWhole) const
{
    int p = Find(pSep, nSep, 0);
    if (p < 0 || nSep == 0)
        return bWhole ? *this : CRukBuffer();
    return CRukBuffer(m_pData, static_cast<unsigned>(p));
}

CRukBuffer CRukBuffer::GetToken(const char* pBegin, unsigned nBegin, const char* pEnd,
                                unsigned nEnd) const
{
    if (nBegin == 0 || nEnd == 0)
        return CRukBuffer();
    int b = Find(pBegin, nBegin, 0);
    if (b < 0)
        return CRukBuffer();
    int e = Find(pEnd, nEnd, b + nBegin);
    if (e < 0)
        return CRukBuffer();
    return CRukBuffer(m_pData + b + nBegin, e - b - nBegin);
}

CRukBuffer CRukBuffer::Left(int n) const
{
    if (n <= 0)
        return CRukBuffer();
    return CRukBuffer(m_pData, static_cast<unsigned>(n) < m_nSize ? n : m_nSize);
}

CRukBuffer CRukBuffer::Right(int n) const
{
    if (n <= 0)
        return CRukBuffer();
    unsigned k = static_cast<unsigned>(n) < m_nSize ? n : m_nSize;
    return CRukBuffer(m_pData + m_nSize - k, k);
}

CRukBuffer CRukBuffer::Mid(int nStart, int nCount) const
{
    if (nStart < 0 || static_cast<unsigned>(nStart) >= m_nSize)
        return CRukBuffer();
    long nMax = static_cast<long>(m_nSize) - nStart;
    if (nCount > nMax)
        nCount = static_cast<int>(nMax);
    if (nCount <= 0)
        return CRukBuffer();
    return CRukBuffer(m_pData + nStart, nCount);
}

CRukBuffer CRukBuffer::Mid(int nStart) const
{
    if (nStart < 0 || static_cast<unsigned>(nStart) >= m_nSize)
        return CRukBuffer();
    return CRukBuffer(m_pData + nStart, m_nSize - nStart);
}

CRukBuffer& CRukBuffer::Delete(int nPos, int nCount)
{
    if (nPos < 0 || static_cast<unsigned>(nPos) >= m_nSize)
        return *this;
    long nMax = static_cast<long>(m_nSize) - nPos;
    if (nCount > nMax)
        nCount = static_cast<int>(nMax);
    if (nCount <= 0)
        return *this;
    memmove(m_pData + nPos, m_pData + nPos + nCount, m_nSize - nPos - nCount);
    m_nSize -= nCount;
    if (m_nSize == 0)
        Free();
    else
        m_pData[m_nSize] = 0;
    return *this;
}

CRukBuffer& CRukBuffer::Delete(int nPos)
{
    if (nPos <= 0) {
        Free();
    } else if (static_cast<unsigned>(nPos) < m_nSize) {
        m_nSize = nPos;
        m_pData[m_nSize] = 0;
    }
    return *this;
}

// Replaces the contents by their Base64 text. With a positive width a line
// feed is written before a group of four whenever the current line already
// holds at least that many characters.
CRukBuffer& CRukBuffer::Base64Encode(int nWidth)
{
    static const char s_szB64[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (m_nSize == 0)
        return *this;
    CRukBuffer out;
    out.Reserve(m_nSize / 3 * 4 + 4 + (nWidth > 0 ? m_nSize / nWidth + 2 : 0));
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_pData);
    int nLine = 0;
    for (unsigned i = 0; i < m_nSize; i += 3) {
        if (nWidth > 0 && nLine >= nWidth) {
            out.Append("\n", 1);
            nLine = 0;
        }
        unsigned nLeft = m_nSize - i;
        unsigned v = p[i] << 16;
        if (nLeft > 1)
            v |= p[i + 1] << 8;
        if (nLeft > 2)
            v |= p[i + 2];
        char sz[4] = {s_szB64[(v >> 18) & 63], s_szB64[(v >> 12) & 63],
                      nLeft > 1 ? s_szB64[(v >> 6) & 63] : '=',
                      nLeft > 2 ? s_szB64[v & 63] : '='};
        out.Append(sz, 4);
        nLine += 4;
    }
    *this = std::move(out);
    return *this;
}

// Releases the contents and provides n zero bytes plus the NUL.
char* CRukBuffer::Alloc(unsigned n)
{
    Free();
    if (n == 0)
        return nullptr;
    m_pData = static_cast<char*>(calloc(static_cast<size_t>(n) + 1, 1));
    if (!m_pData)
        abort();
    m_nSize = m_nCapacity = n;
    return m_pData;
}

// Resizes to n bytes, zero-filling any growth.
char* CRukBuffer::ReAlloc(unsigned n)
{
    if (n == 0) {
        Free();
        return nullptr;
    }
    unsigned nOld = m_nSize;
    if (n > m_nCapacity)
        Reserve(n);
    if (n > nOld)
        memset(m_pData + nOld, 0, n - nOld);
    m_nSize = n;
    m_pData[n] = 0;
    return m_pData;
}

void CRukBuffer::Free()
{
    free(m_pData);
    m_pData = nullptr;
    m_nSize = m_nCapacity = 0;
}

char* CRukBuffer::Detach()
{
    char* p = m_pData;
    m_pData = nullptr;
    m_nSize = m_nCapacity = 0;
    return p;
}
