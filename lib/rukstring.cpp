#include "rukstring.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <strings.h>

// The shared block of every empty string. It is never written and never
// freed; every operation that writes first gives the string a block of its
// own.
static char s_szEmpty[1] = {0};

// A loaded board holds a dozen strings per message: a string is its three
// members and nothing more (no table of virtual functions).
static_assert(sizeof(CRukString) <= sizeof(char*) + 2 * sizeof(unsigned), "CRukString grew");

// The longest text: GetLength gives an int.
static const size_t s_nMaxLength = 0x7fffffff;

static inline bool IsOwned(const char* p)
{
    return p != s_szEmpty;
}

// A block of n + 1 bytes; running out of memory ends the program.
static char* NewBlock(size_t n)
{
    if (n > s_nMaxLength)
        abort();
    char* p = static_cast<char*>(malloc(n + 1));
    if (!p)
        abort();
    return p;
}

// The number of bytes of pData before its first NUL, at most n.
static size_t TextLength(const char* pData, size_t n)
{
    const void* pNul = memchr(pData, 0, n);
    return pNul ? static_cast<size_t>(static_cast<const char*>(pNul) - pData) : n;
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
    if (nNeed > s_nMaxLength)
        abort();
    size_t nLength = GetLength();
    size_t nNew = nNeed;
    if (nLength > 0) {
        nNew = std::max<size_t>(nNew, 2 * static_cast<size_t>(m_nCapacity));
        nNew = std::min(std::max<size_t>(nNew, 15), s_nMaxLength);
    }
    char* p;
    if (IsOwned(m_pStr)) {
        p = static_cast<char*>(realloc(m_pStr, nNew + 1));
        if (!p)
            abort();
    } else {
        p = NewBlock(nNew);
        p[0] = 0;
    }
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
    if (nLength > s_nMaxLength)
        abort();
    if (pBlock != m_pStr)
        _Free();
    m_pStr = pBlock;
    m_nLength = static_cast<unsigned>(nLength);
    m_nCapacity = static_cast<unsigned>(std::min(std::max(nLength, nCapacity), s_nMaxLength));
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

void CRukString::FromInteger(long n)
{
    char sz[32];
    int len = snprintf(sz, sizeof(sz), "%ld", n);
    Assign(sz, len);
}

void CRukString::FromUnsigned(unsigned long n)
{
    char sz[32];
    int len = snprintf(sz, sizeof(sz), "%lu", n);
    Assign(sz, len);
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
    result.Reserve(static_cast<int>(std::min(GetLength() + n, s_nMaxLength)));
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
    if (nOld + n > s_nMaxLength)
        abort();
    Grow(nOld + n);
    memmove(m_pStr + n, m_pStr, nOld + 1);
    memcpy(m_pStr, pText, n);
    m_nLength = static_cast<unsigned>(nOld + n);
    return *this;
}

bool CRukString::operator==(const CRukString& str) const { return strcmp(GetText(), str.GetText()) == 0; }
bool CRukString::operator==(const char* pText) const { return strcmp(GetText(), pText ? pText : "") == 0; }
bool CRukString::operator!=(const CRukString& str) const { return !(*this == str); }
bool CRukString::operator!=(const char* pText) const { return !(*this == pText); }
bool CRukString::operator<(const CRukString& str) const { return strcmp(GetText(), str.GetText()) < 0; }
bool CRukString::operator<(const char* pText) const { return strcmp(GetText(), pText ? pText : "") < 0; }
bool CRukString::operator>(const CRukString& str) const { return strcmp(GetText(), str.GetText()) > 0; }
bool CRukString::operator>(const char* pText) const { return strcmp(GetText(), pText ? pText : "") > 0; }
bool CRukString::operator<=(const CRukString& str) const { return strcmp(GetText(), str.GetText()) <= 0; }
bool CRukString::operator<=(const char* pText) const { return strcmp(GetText(), pText ? pText : "") <= 0; }
bool CRukString::operator>=(const CRukString& str) const { return strcmp(GetText(), str.GetText()) >= 0; }
bool CRukString::operator>=(const char* pText) const { return strcmp(GetText(), pText ? pText : "") >= 0; }

int CRukString::Compare(const char* pText, int nNoCase) const
{
    if (!pText)
        pText = "";
    return nNoCase ? strcasecmp(GetText(), pText) : strcmp(GetText(), pText);
}

// Index of the first occurrence of pText at or after nStart, or -1.
int CRukString::Find(const char* pText, int nStart) const
{
    int nLen = GetLength();
    if (!pText || nLen == 0 || nStart < 0 || nStart >= nLen)
        return -1;
    const char* p = Search(m_pStr + nStart, pText, false);
    return p ? static_cast<int>(p - m_pStr) : -1;
}

int CRukString::FindNoCase(const char* pText, int nStart) const
{
    int nLen = GetLength();
    if (!pText || nLen == 0 || nStart < 0 || nStart >= nLen)
        return -1;
    const char* p = Search(m_pStr + nStart, pText, true);
    return p ? static_cast<int>(p - m_pStr) : -1;
}

int CRukString::FindOneOf(const char* pSet, int nStart) const
{
    int nLen = GetLength();
    if (!pSet || nStart < 0 || nStart >= nLen)
        return -1;
    size_t n = strcspn(m_pStr + nStart, pSet);
    return (nStart + static_cast<int>(n) < nLen) ? nStart + static_cast<int>(n) : -1;
}

// Finds pNeedle in pHay (both NUL-terminated) with or without case. Each
// step jumps to the next byte that can start the needle and compares only
// as far as the needle goes, so a replace-all over a long text reads the
// text once (strstr may first measure the whole rest of the haystack on
// every call, as checking runtimes do).
const char* CRukString::Search(const char* pHay, const char* pNeedle, bool bNoCase)
{
    size_t n = strlen(pNeedle);
    if (n == 0)
        return pHay;
    char c = pNeedle[0];
    char szFirst[3] = {c, 0, 0};
    if (bNoCase && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
        szFirst[0] = static_cast<char>(c | 0x20);
        szFirst[1] = static_cast<char>(c & ~0x20);
    }
    for (const char* p = pHay;; p++) {
        p = szFirst[1] ? strpbrk(p, szFirst) : strchr(p, c);
        if (!p)
            return nullptr;
        if ((bNoCase ? strncasecmp(p, pNeedle, n) : strncmp(p, pNeedle, n)) == 0)
            return p;
    }
}

int CRukString::ReplaceImpl(const char* pFind, const char* pWith, bool bAll, bool bNoCase)
{
    if (IsEmpty() || !pFind || !*pFind)
        return 0;
    if (!pWith)
        pWith = "";
    size_t nFind = strlen(pFind);
    size_t nWith = strlen(pWith);
    const char* p = m_pStr;
    const char* q = Search(p, pFind, bNoCase);
    if (!q)
        return 0;
    const char* pEnd = m_pStr + GetLength();
    CRukString out;
    out.Reserve(static_cast<int>(std::min(GetLength() + nWith, s_nMaxLength)));
    int nCount = 0;
    while (q) {
        out.AppendText(p, static_cast<size_t>(q - p));
        out.AppendText(pWith, nWith);
        nCount++;
        p = q + nFind;
        if (!bAll)
            break;
        q = Search(p, pFind, bNoCase);
    }
    out.AppendText(p, static_cast<size_t>(pEnd - p));
    TakeText(out);
    return nCount;
}

// Replaces each span from pBegin through the next pEnd: by pWith, or, when
// pNewBegin is given, only its two markers by pNewBegin and pNewEnd.
int CRukString::ReplaceSpanImpl(const char* pBegin, const char* pEnd, const char* pWith,
                                const char* pNewBegin, const char* pNewEnd, bool bAll,
                                bool bNoCase)
{
    if (IsEmpty() || !pBegin || !*pBegin || !pEnd || !*pEnd)
        return 0;
    size_t nBegin = strlen(pBegin);
    size_t nEnd = strlen(pEnd);
    size_t nNewBegin = pNewBegin ? strlen(pNewBegin) : 0;
    size_t nNewEnd = pNewEnd ? strlen(pNewEnd) : 0;
    size_t nWith = pWith ? strlen(pWith) : 0;
    const char* p = m_pStr;
    const char* pLast = m_pStr + GetLength();
    CRukString out;
    int nCount = 0;
    for (;;) {
        const char* b = Search(p, pBegin, bNoCase);
        if (!b)
            break;
        const char* e = Search(b + nBegin, pEnd, bNoCase);
        if (!e)
            break;
        if (nCount == 0)
            out.Reserve(GetLength());
        out.AppendText(p, static_cast<size_t>(b - p));
        if (pNewBegin) {
            out.AppendText(pNewBegin, nNewBegin);
            out.AppendText(b + nBegin, static_cast<size_t>(e - (b + nBegin)));
            out.AppendText(pNewEnd, nNewEnd);
        } else {
            out.AppendText(pWith, nWith);
        }
        nCount++;
        p = e + nEnd;
        if (!bAll)
            break;
    }
    if (nCount == 0)
        return 0;
    out.AppendText(p, static_cast<size_t>(pLast - p));
    TakeText(out);
    return nCount;
}

int CRukString::Replace(const char* pFind, const char* pWith, bool bAll)
{
    return ReplaceImpl(pFind, pWith, bAll, false);
}

int CRukString::Replace(const char* pBegin, const char* pEnd, const char* pWith, bool bAll)
{
    return ReplaceSpanImpl(pBegin, pEnd, pWith ? pWith : "", nullptr, nullptr, bAll, false);
}

int CRukString::Replace(const char* pBegin, const char* pEnd, const char* pNewBegin,
                        const char* pNewEnd, bool bAll)
{
    return ReplaceSpanImpl(pBegin, pEnd, nullptr, pNewBegin ? pNewBegin : "",
                           pNewEnd ? pNewEnd : "", bAll, false);
}

int CRukString::ReplaceNoCase(const char* pFind, const char* pWith, bool bAll)
{
    return ReplaceImpl(pFind, pWith, bAll, true);
}

int CRukString::ReplaceNoCase(const char* pBegin, const char* pEnd, const char* pWith, bool bAll)
{
    return ReplaceSpanImpl(pBegin, pEnd, pWith ? pWith : "", nullptr, nullptr, bAll, true);
}

int CRukString::ReplaceNoCase(const char* pBegin, const char* pEnd, const char* pNewBegin,
                              const char* pNewEnd, bool bAll)
{
    return ReplaceSpanImpl(pBegin, pEnd, nullptr, pNewBegin ? pNewBegin : "",
                           pNewEnd ? pNewEnd : "", bAll, true);
}

CRukString& CRukString::TrimLeft()
{
    const char* p = GetText();
    while (*p && isspace(static_cast<unsigned char>(*p)))
        p++;
    if (p != GetText())
        Delete(0, static_cast<int>(p - GetText()));
    return *this;
}

// Removes trailing white space; in Shift_JIS text the scan steps over
// two-byte characters so that a trail byte is never taken for a blank.
CRukString& CRukString::TrimRight()
{
    int nLen = GetLength();
    if (nLen == 0)
        return *this;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_pStr);
    int nCut = nLen;
    if (IsCode() == 2) {
        int nLastNonSpace = 0;  // end of the last character that is not a blank
        int i = 0;
        while (i < nLen) {
            unsigned char c = p[i];
            if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
                if (!isspace(c))
                    nLastNonSpace = i + 1;
                i++;
            } else {
                i += (i + 1 < nLen) ? 2 : 1;
                nLastNonSpace = i;
            }
        }
        nCut = nLastNonSpace;
    } else {
        while (nCut > 0 && isspace(p[nCut - 1]))
            nCut--;
    }
    if (nCut < nLen)
        Delete(nCut);
    return *this;
}

CRukString& CRukString::Trim()
{
    TrimLeft();
    return TrimRight();
}

// Classifies the encoding: 0 ASCII, 1 EUC-JP, 2 Shift_JIS, 3 ISO-2022-JP.
int CRukString::IsCode(const char* pText)
{
    if (!pText)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pText);
    int nPairs = 0;
    while (*p) {
        unsigned char c = p[0];
        unsigned char d = p[1];
        if (c == 0x1B && d == '$')
            return 3;
        if (c < 0x80) {
            p++;
        } else if (c == 0x8E && d >= 0xA1 && d <= 0xDF) {
            nPairs++;
            p += 2;
        } else if (c <= 0x9F) {
            return 2;
        } else if (c <= 0xDF) {  // 0xA0-0xDF
            return (d == 0 || d < 0xA1) ? 2 : 1;
        } else if (c <= 0xFC && d != 0) {
            if (d <= 0xA0)
                return 2;
            nPairs++;
            p += 2;
        } else if (c >= 0xFD) {
            return 1;
        } else {
            p++;
        }
    }
    return nPairs > 0 ? 2 : 0;
}

CRukString& CRukString::Nkf(const char* pOption)
{
    *this = Nkf(pOption, GetText());
    return *this;
}

CRukString& CRukString::Format(const char* pFormat, ...)
{
    va_list args;
    va_start(args, pFormat);
    FormatV(pFormat, args);
    va_end(args);
    return *this;
}

// Expands the format once into a stack buffer; an expansion that does not
// fit is measured by that pass and expanded again into a block of its
// size, so nothing is ever cut. The arguments may point into this string:
// its text is replaced only after the expansion.
CRukString& CRukString::FormatV(const char* pFormat, va_list args)
{
    if (!pFormat) {
        Free();
        return *this;
    }
    char sz[1024];
    va_list again;
    va_copy(again, args);
    int n = vsnprintf(sz, sizeof(sz), pFormat, args);
    if (n < 0) {
        Free();  // an encoding error: nothing sound to keep
    } else if (static_cast<size_t>(n) < sizeof(sz)) {
        Assign(sz, TextLength(sz, static_cast<size_t>(n)));
    } else {
        char* p = NewBlock(static_cast<size_t>(n));
        vsnprintf(p, static_cast<size_t>(n) + 1, pFormat, again);
        AttachText(p, TextLength(p, static_cast<size_t>(n)), static_cast<size_t>(n));
    }
    va_end(again);
    return *this;
}

static int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

static const char s_szHex[] = "0123456789ABCDEF";

// Every two hex digits become one byte (a missing last digit counts 0).
CRukString CRukString::HexToChar() const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukString result;
    result.Reserve((GetLength() + 1) / 2);
    while (*p) {
        int hi = HexValue(*p++);
        int lo = *p ? HexValue(*p++) : 0;
        char c = static_cast<char>((hi << 4) | lo);
        if (c == 0)
            break;  // a string cannot hold a NUL byte
        result.AppendText(&c, 1);
    }
    if (result.IsEmpty())
        result.Free();
    return result;
}

CRukString CRukString::CharToHex() const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukString result;
    result.Reserve(static_cast<int>(std::min(2 * static_cast<size_t>(GetLength()), s_nMaxLength)));
    for (; *p; p++) {
        char sz[2] = {s_szHex[*p >> 4], s_szHex[*p & 15]};
        result.AppendText(sz, 2);
    }
    return result;
}

// "%" and two hex digits become a byte, "+" a blank. A "%" not followed
// by two hex digits is no escape and stays as typed, with what follows it.
// A decoded NUL ends the text, since a string holds no NUL byte. Runs of
// plain bytes are copied whole, so that a long value decodes quickly.
CRukString CRukString::PerHexToChar() const
{
    const char* p = GetText();
    size_t nIn = GetLength();
    char* pOut = NewBlock(nIn);
    size_t k = 0;
    for (;;) {
        size_t nRun = strcspn(p, "%+");
        memcpy(pOut + k, p, nRun);
        k += nRun;
        p += nRun;
        if (!*p)
            break;
        const unsigned char* q = reinterpret_cast<const unsigned char*>(p);
        char c = *p++;
        if (c == '+') {
            c = ' ';
        } else if (isxdigit(q[1]) && isxdigit(q[2])) {
            c = static_cast<char>((HexValue(q[1]) << 4) | HexValue(q[2]));
            p += 2;
            if (c == 0)
                break;
        }
        pOut[k++] = c;
    }
    pOut[k] = 0;
    CRukString result;
    if (k > 0)
        result.AttachText(pOut, k, nIn);
    else
        free(pOut);
    return result;
}

// Percent-encodes every byte but letters, digits and pKeep; a blank
// becomes "+". With bAll even letters and digits are encoded.
CRukString CRukString::PerHexImpl(const char* pKeep, bool bAll) const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukString result;
    result.Reserve(static_cast<int>(std::min(3 * static_cast<size_t>(GetLength()), s_nMaxLength)));
    for (; *p; p++) {
        if (*p == ' ') {
            result.AppendText("+", 1);
        } else if (!bAll && (isalnum(*p) && *p < 0x80)) {
            result.AppendText(reinterpret_cast<const char*>(p), 1);
        } else if (!bAll && strchr(pKeep, *p)) {
            result.AppendText(reinterpret_cast<const char*>(p), 1);
        } else {
            char sz[3] = {'%', s_szHex[*p >> 4], s_szHex[*p & 15]};
            result.AppendText(sz, 3);
        }
    }
    return result;
}

CRukString CRukString::CharToPerHex() const { return PerHexImpl("*-._", false); }
CRukString CRukString::CharToPerHexWithoutSlash() const { return PerHexImpl("*-._/", false); }
CRukString CRukString::CharToPerHexAll() const { return PerHexImpl("", true); }

CRukString CRukString::Left(int n) const
{
    int nLen = GetLength();
    if (n <= 0)
        return CRukString();
    CRukString result;
    result.Assign(GetText(), n < nLen ? n : nLen);
    return result;
}

CRukString CRukString::Right(int n) const
{
    int nLen = GetLength();
    if (n <= 0)
        return CRukString();
    if (n > nLen)
        n = nLen;
    CRukString result;
    result.Assign(GetText() + nLen - n, n);
    return result;
}

CRukString CRukString::Mid(int nStart, int nCount) const
{
    int nLen = GetLength();
    if (nStart < 0 || nStart >= nLen)
        return CRukString();
    if (nCount > nLen - nStart)
        nCount = nLen - nStart;
    if (nCount <= 0)
        return CRukString();
    CRukString result;
    result.Assign(GetText() + nStart, nCount);
    return result;
}

CRukString CRukString::Mid(int nStart) const
{
    int nLen = GetLength();
    if (nStart < 0 || nStart >= nLen)
        return CRukString();
    CRukString result;
    result.Assign(GetText() + nStart, nLen - nStart);
    return result;
}

// The text before the first pSep; the whole text when pSep does not occur
// and bWhole is set.
CRukString CRukString::GetToken(const char* pSep, bool bWhole) const
{
    if (!pSep || !*pSep)
        return bWhole ? *this : CRukString();
    const char* p = Search(GetText(), pSep);
    if (!p)
        return bWhole ? *this : CRukString();
    CRukString result;
    result.Assign(GetText(), p - GetText());
    return result;
}

CRukString CRukString::GetTokenOneOf(const char* pSet, bool bWhole) const
{
    if (!pSet || !*pSet)
        return bWhole ? *this : CRukString();
    size_t n = strcspn(GetText(), pSet);
    if (GetText()[n] == 0)
        return bWhole ? *this : CRukString();
    CRukString result;
    result.Assign(GetText(), n);
    return result;
}

// The text between the first pBegin and the first pEnd after it.
CRukString CRukString::GetToken(const char* pBegin, const char* pEnd) const
{
    if (!pBegin || !*pBegin || !pEnd || !*pEnd)
        return CRukString();
    const char* b = Search(GetText(), pBegin);
    if (!b)
        return CRukString();
    b += strlen(pBegin);
    const char* e = Search(b, pEnd);
    if (!e)
        return CRukString();
    CRukString result;
    result.Assign(b, e - b);
    return result;
}

CRukString& CRukString::Delete(int nPos, int nCount)
{
    int nLen = GetLength();
    if (nPos < 0 || nPos >= nLen)
        return *this;
    if (nCount > nLen - nPos)
        nCount = nLen - nPos;
    if (nCount <= 0)
        return *this;
    if (nCount == nLen) {
        Free();
        return *this;
    }
    memmove(m_pStr + nPos, m_pStr + nPos + nCount, nLen - nPos - nCount + 1);
    m_nLength = static_cast<unsigned>(nLen - nCount);
    return *this;
}

CRukString& CRukString::Delete(int nPos)
{
    if (nPos <= 0) {
        Free();
        return *this;
    }
    if (nPos < GetLength()) {
        m_pStr[nPos] = 0;
        m_nLength = static_cast<unsigned>(nPos);
    }
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
    size_t nOld = GetLength();
    char* p;
    if (IsOwned(m_pStr)) {
        p = static_cast<char*>(realloc(m_pStr, nNew + 1));
        if (!p)
            abort();
    } else {
        p = NewBlock(nNew);
        nOld = 0;
    }
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
