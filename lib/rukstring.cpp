// CRukString: its block and text. Construction, assignment (of text and
// of numbers), appending and prepending, and the calls for code that fills
// the block itself. Comparing, searching and replacing are in
// rukstring_find.cpp, cutting pieces in rukstring_cut.cpp, code
// classification, formatting and hex and percent coding in
// rukstring_convert.cpp.
#include "rukstring.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "rukstring_block.h"

using rukstring::kMaxLength;
using rukstring::NewBlock;
using rukstring::TextLength;

// The shared block of every empty string. It is never written and never
// freed; every operation that writes first gives the string a block of its
// own.
static char s_szEmpty[1] = {0};

// A loaded board holds a dozen strings per message: a string is its three
// members and nothing more (no table of virtual functions).
static_assert(sizeof(CRukString) <= sizeof(char*) + 2 * sizeof(unsigned), "CRukString grew");

static inline bool IsOwned(const char* p)
{
    return p != s_szEmpty;
}

// Block p resized to n + 1 bytes, keeping its bytes as far as they fit.
// The shared empty block is never resized: a new block (its bytes not yet
// set) takes its place.
static char* ResizeBlock(char* p, size_t n)
{
    if (!IsOwned(p))
        return NewBlock(n);
    p = static_cast<char*>(realloc(p, n + 1));
    if (!p)
        abort();
    return p;
}

CRukString::CRukString() : m_pStr(s_szEmpty), m_nLength(0), m_nCapacity(0) {}

CRukString::CRukString(const char* pText) : CRukString()
{
    if (pText)
        Assign(pText, strlen(pText));
}

CRukString::CRukString(const CRukString& str) : CRukString()
{
    Assign(str.GetText(), str.GetLength());
}

CRukString::CRukString(CRukString&& str) noexcept
    : m_pStr(str.m_pStr), m_nLength(str.m_nLength), m_nCapacity(str.m_nCapacity)
{
    str.SetEmpty();
}

CRukString::CRukString(const long& n) : CRukString() { FromInteger(n); }
CRukString::CRukString(const unsigned long& n) : CRukString() { FromUnsigned(n); }
CRukString::CRukString(const int& n) : CRukString() { FromInteger(n); }
CRukString::CRukString(const unsigned int& n) : CRukString() { FromUnsigned(n); }
CRukString::CRukString(const short& n) : CRukString() { FromInteger(n); }
CRukString::CRukString(const unsigned short& n) : CRukString() { FromUnsigned(n); }

CRukString::~CRukString()
{
    _Free();
}

// The length of a block the caller has written into: the bytes before its
// NUL, remembered until the text changes again.
size_t CRukString::Measure() const
{
    m_nLength = static_cast<unsigned>(strlen(m_pStr));
    return m_nLength;
}

// Releases the block; the members are left for the caller to set.
void CRukString::_Free()
{
    if (IsOwned(m_pStr))
        free(m_pStr);
}

// Points at the shared empty block, without releasing anything.
void CRukString::SetEmpty()
{
    m_pStr = s_szEmpty;
    m_nLength = 0;
    m_nCapacity = 0;
}

// Makes the block hold at least nNeed bytes of text, keeping the text. A
// block that must grow at least doubles (and holds at least 15 bytes), so
// that n appends move each byte a constant number of times on average; the
// first block of an empty string is sized exactly, since most strings are
// set once and never appended to.
void CRukString::Grow(size_t nNeed)
{
    if (nNeed <= m_nCapacity && IsOwned(m_pStr))
        return;
    if (nNeed > kMaxLength)
        abort();
    size_t nLength = GetLength();
    size_t nNew = nNeed;
    if (nLength > 0) {
        nNew = std::max<size_t>(nNew, 2 * static_cast<size_t>(m_nCapacity));
        nNew = std::min(std::max<size_t>(nNew, 15), kMaxLength);
    }
    bool bOwned = IsOwned(m_pStr);
    char* p = ResizeBlock(m_pStr, nNew);
    if (!bOwned)
        p[0] = 0;
    m_pStr = p;
    m_nCapacity = static_cast<unsigned>(nNew);
}

void CRukString::Reserve(int n)
{
    if (n > 0)
        Grow(static_cast<size_t>(n));
}

// Appends n bytes that hold no NUL. pData may lie inside this very block:
// its place is taken before the block moves. The first text of an empty
// string (the most common append: a field read from a file) gets a block of
// its own size straight away.
void CRukString::AppendText(const char* pData, size_t n)
{
    if (n == 0)
        return;
    if (!IsOwned(m_pStr)) {
        char* p = NewBlock(n);
        memcpy(p, pData, n);
        p[n] = 0;
        m_pStr = p;
        m_nLength = static_cast<unsigned>(n);
        m_nCapacity = static_cast<unsigned>(n);
        return;
    }
    size_t nOld = GetLength();
    if (nOld + n > m_nCapacity) {
        bool bInside = pData >= m_pStr && pData <= m_pStr + nOld;
        size_t nAt = bInside ? static_cast<size_t>(pData - m_pStr) : 0;
        Grow(nOld + n);
        if (bInside)
            pData = m_pStr + nAt;
    }
    memmove(m_pStr + nOld, pData, n);
    m_pStr[nOld + n] = 0;
    m_nLength = static_cast<unsigned>(nOld + n);
}

// Replaces the text with n bytes of pData (no NUL among them), which may
// lie inside this very block. A block large enough is reused; otherwise
// the new block is sized exactly.
void CRukString::Assign(const char* pData, size_t n)
{
    if (n == 0) {
        Free();
        return;
    }
    if (IsOwned(m_pStr) && n <= m_nCapacity) {
        memmove(m_pStr, pData, n);
    } else {
        char* p = NewBlock(n);
        memcpy(p, pData, n);
        _Free();
        m_pStr = p;
        m_nCapacity = static_cast<unsigned>(n);
    }
    m_pStr[n] = 0;
    m_nLength = static_cast<unsigned>(n);
}

// Takes a malloc'd block whose text is nLength bytes and NUL-terminated.
void CRukString::AttachText(char* pBlock, size_t nLength, size_t nCapacity)
{
    if (nLength > kMaxLength)
        abort();
    if (pBlock != m_pStr)
        _Free();
    m_pStr = pBlock;
    m_nLength = static_cast<unsigned>(nLength);
    m_nCapacity = static_cast<unsigned>(std::min(std::max(nLength, nCapacity), kMaxLength));
}

// Takes the text built in str, leaving str empty; an empty text leaves
// this string on the shared empty block, as an empty string always is
// after an operation that empties it.
void CRukString::TakeText(CRukString& str)
{
    if (str.IsEmpty()) {
        Free();
        str.Free();
    } else {
        *this = std::move(str);
    }
}

// Writes the decimal digits of n backwards, ending at pEnd; returns where
// they start. Pages print many numbers, and this spares snprintf's parsing.
static char* DecimalDigits(unsigned long n, char* pEnd)
{
    do {
        *--pEnd = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n);
    return pEnd;
}

void CRukString::FromInteger(long n)
{
    char sz[32];
    char* pEnd = sz + sizeof(sz);
    // The magnitude as unsigned, so that the smallest long has one too.
    unsigned long u = n < 0 ? 0UL - static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
    char* p = DecimalDigits(u, pEnd);
    if (n < 0)
        *--p = '-';
    Assign(p, static_cast<int>(pEnd - p));
}

void CRukString::FromUnsigned(unsigned long n)
{
    char sz[32];
    char* pEnd = sz + sizeof(sz);
    char* p = DecimalDigits(n, pEnd);
    Assign(p, static_cast<int>(pEnd - p));
}

CRukString& CRukString::operator=(const CRukString& str)
{
    if (this != &str)
        Assign(str.GetText(), str.GetLength());
    return *this;
}

CRukString& CRukString::operator=(CRukString&& str) noexcept
{
    if (this != &str) {
        _Free();
        m_pStr = str.m_pStr;
        m_nLength = str.m_nLength;
        m_nCapacity = str.m_nCapacity;
        str.SetEmpty();
    }
    return *this;
}

CRukString& CRukString::operator=(const char* pText)
{
    if (!pText)
        Free();
    else if (pText != m_pStr)
        Assign(pText, strlen(pText));
    return *this;
}

CRukString& CRukString::operator=(const long& n) { FromInteger(n); return *this; }
CRukString& CRukString::operator=(const unsigned long& n) { FromUnsigned(n); return *this; }
CRukString& CRukString::operator=(const int& n) { FromInteger(n); return *this; }
CRukString& CRukString::operator=(const unsigned int& n) { FromUnsigned(n); return *this; }
CRukString& CRukString::operator=(const short& n) { FromInteger(n); return *this; }
CRukString& CRukString::operator=(const unsigned short& n) { FromUnsigned(n); return *this; }

CRukString::operator long() const { return atol(GetText()); }
CRukString::operator unsigned long() const { return static_cast<unsigned long>(atol(GetText())); }
CRukString::operator int() const { return atoi(GetText()); }
CRukString::operator unsigned int() const { return static_cast<unsigned int>(atoi(GetText())); }
CRukString::operator short() const { return static_cast<short>(atoi(GetText())); }
CRukString::operator unsigned short() const
{
    return static_cast<unsigned short>(atoi(GetText()));
}

CRukString& CRukString::Append(const char* pData, int n)
{
    if (pData && n > 0)
        AppendText(pData, TextLength(pData, static_cast<size_t>(n)));
    return *this;
}

CRukString& CRukString::operator+=(const CRukString& str)
{
    AppendText(str.GetText(), str.GetLength());
    return *this;
}

CRukString& CRukString::operator+=(const char* pText)
{
    if (pText)
        AppendText(pText, strlen(pText));
    return *this;
}

CRukString CRukString::operator+(const CRukString& str) const
{
    CRukString result;
    result.Reserve(GetLength() + str.GetLength());
    result.AppendText(GetText(), GetLength());
    result.AppendText(str.GetText(), str.GetLength());
    return result;
}

CRukString CRukString::operator+(const char* pText) const
{
    size_t n = pText ? strlen(pText) : 0;
    CRukString result;
    result.Reserve(static_cast<int>(std::min(GetLength() + n, kMaxLength)));
    result.AppendText(GetText(), GetLength());
    result.AppendText(pText, n);
    return result;
}

CRukString& CRukString::Insert(const CRukString& str)
{
    return Insert(str.GetText());
}

// Prepends the text: the result is the argument followed by the old text.
// The block grows as for an append and the old text moves up in place.
CRukString& CRukString::Insert(const char* pText)
{
    if (!pText || !*pText)
        return *this;
    size_t nOld = GetLength();
    if (IsOwned(m_pStr) && pText >= m_pStr && pText <= m_pStr + nOld) {
        CRukString copy(pText);  // a piece of this very block
        return Insert(copy.GetText());
    }
    size_t n = strlen(pText);
    if (nOld + n > kMaxLength)
        abort();
    Grow(nOld + n);
    memmove(m_pStr + n, m_pStr, nOld + 1);
    memcpy(m_pStr, pText, n);
    m_nLength = static_cast<unsigned>(nOld + n);
    return *this;
}

// Gives the string a zero-filled block of n + 1 bytes for the caller to
// write into.
char* CRukString::Alloc(int n)
{
    if (n < 0)
        n = 0;
    char* p = static_cast<char*>(calloc(static_cast<size_t>(n) + 1, 1));
    if (!p)
        abort();
    _Free();
    m_pStr = p;
    m_nLength = s_nUnmeasured;
    m_nCapacity = static_cast<unsigned>(n);
    return m_pStr;
}

// Resizes the block to n + 1 bytes, zero-filling everything after the
// text, for the caller to write into.
char* CRukString::ReAlloc(int n)
{
    if (n < 0)
        n = 0;
    size_t nNew = static_cast<size_t>(n);
    size_t nOld = IsOwned(m_pStr) ? GetLength() : 0;
    char* p = ResizeBlock(m_pStr, nNew);
    if (nNew > nOld)
        memset(p + nOld, 0, nNew - nOld);
    p[nNew] = 0;
    m_pStr = p;
    m_nLength = s_nUnmeasured;
    m_nCapacity = static_cast<unsigned>(nNew);
    return m_pStr;
}

void CRukString::Free()
{
    _Free();
    SetEmpty();
}

CRukString& CRukString::Attach(char* pBlock, int nCapacity)
{
    if (!pBlock) {
        Free();
        return *this;
    }
    AttachText(pBlock, strlen(pBlock), nCapacity > 0 ? static_cast<size_t>(nCapacity) : 0);
    return *this;
}

CRukString operator+(const char* pText, const CRukString& str)
{
    CRukString result(pText);
    result += str;
    return result;
}
