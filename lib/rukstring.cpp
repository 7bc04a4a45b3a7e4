#include "rukstring.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <strings.h>

#include "rukbuffer.h"

// The shared block of every empty string. It is never written and never
// freed; every operation that writes first gives the string a block of its
// own.
static char s_szEmpty[1] = {0};

static inline bool IsOwned(const char* p)
{
    return p && p != s_szEmpty;
}

CRukString::CRukString() : m_pStr(s_szEmpty) {}

CRukString::CRukString(const char* pText) : m_pStr(s_szEmpty)
{
    if (pText)
        Assign(pText, strlen(pText));
}

CRukString::CRukString(const CRukString& str) : m_pStr(s_szEmpty)
{
    Assign(str.GetText(), str.GetLength());
}

CRukString::CRukString(CRukString&& str) noexcept : m_pStr(str.m_pStr ? str.m_pStr : s_szEmpty)
{
    str.m_pStr = s_szEmpty;
}

CRukString::CRukString(const long& n) : m_pStr(s_szEmpty) { FromInteger("%ld", n); }
CRukString::CRukString(const unsigned long& n) : m_pStr(s_szEmpty) { FromUnsigned("%lu", n); }
CRukString::CRukString(const int& n) : m_pStr(s_szEmpty) { FromInteger("%ld", n); }
CRukString::CRukString(const unsigned int& n) : m_pStr(s_szEmpty) { FromUnsigned("%lu", n); }
CRukString::CRukString(const short& n) : m_pStr(s_szEmpty) { FromInteger("%ld", n); }
CRukString::CRukString(const unsigned short& n) : m_pStr(s_szEmpty) { FromUnsigned("%lu", n); }

CRukString::~CRukString()
{
    _Free();
}

// Releases the block and leaves the null pointer.
void CRukString::_Free()
{
    if (IsOwned(m_pStr))
        free(m_pStr);
    m_pStr = nullptr;
}

// Replaces the text with n bytes of pData, sized exactly.
void CRukString::Assign(const char* pData, size_t n)
{
    if (n == 0) {
        Free();
        return;
    }
    char* p = static_cast<char*>(malloc(n + 1));
    if (!p)
        abort();
    memcpy(p, pData, n);
    p[n] = 0;
    _Free();
    m_pStr = p;
}

void CRukString::FromInteger(const char* pFormat, long n)
{
    char sz[32];
    int len = snprintf(sz, sizeof(sz), pFormat, n);
    Assign(sz, len);
}

void CRukString::FromUnsigned(const char* pFormat, unsigned long n)
{
    char sz[32];
    int len = snprintf(sz, sizeof(sz), pFormat, n);
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
        m_pStr = str.m_pStr ? str.m_pStr : s_szEmpty;
        str.m_pStr = s_szEmpty;
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

CRukString& CRukString::operator=(const long& n) { FromInteger("%ld", n); return *this; }
CRukString& CRukString::operator=(const unsigned long& n) { FromUnsigned("%lu", n); return *this; }
CRukString& CRukString::operator=(const int& n) { FromInteger("%ld", n); return *this; }
CRukString& CRukString::operator=(const unsigned int& n) { FromUnsigned("%lu", n); return *this; }
CRukString& CRukString::operator=(const short& n) { FromInteger("%ld", n); return *this; }
CRukString& CRukString::operator=(const unsigned short& n) { FromUnsigned("%lu", n); return *this; }

CRukString::operator long() const { return atol(GetText()); }
CRukString::operator unsigned long() const { return static_cast<unsigned long>(atol(GetText())); }
CRukString::operator int() const { return atoi(GetText()); }
CRukString::operator unsigned int() const { return static_cast<unsigned int>(atoi(GetText())); }
CRukString::operator short() const { return static_cast<short>(atoi(GetText())); }
CRukString::operator unsigned short() const
{
    return static_cast<unsigned short>(atoi(GetText()));
}

int CRukString::GetLength() const
{
    return m_pStr ? static_cast<int>(strlen(m_pStr)) : 0;
}

CRukString& CRukString::Append(const char* pData, int n)
{
    if (!pData || n <= 0)
        return *this;
    size_t nOld = m_pStr ? strlen(m_pStr) : 0;
    if (IsOwned(m_pStr) && pData >= m_pStr && pData <= m_pStr + nOld) {
        // a piece of this very block: copy it before the block moves
        CRukString copy;
        copy.Assign(pData, static_cast<size_t>(n));
        return Append(copy.m_pStr, n);
    }
    char* p;
    if (IsOwned(m_pStr)) {
        p = static_cast<char*>(realloc(m_pStr, nOld + n + 1));
    } else {
        p = static_cast<char*>(malloc(nOld + n + 1));
    }
    if (!p)
        abort();
    memcpy(p + nOld, pData, n);
    p[nOld + n] = 0;
    m_pStr = p;
    return *this;
}

CRukString& CRukString::operator+=(const CRukString& str)
{
    if (&str == this) {
        CRukString copy(str);
        return Append(copy.GetText(), copy.GetLength());
    }
    return Append(str.GetText(), str.GetLength());
}

CRukString& CRukString::operator+=(const char* pText)
{
    if (!pText)
        return *this;
    if (pText == m_pStr) {
        CRukString copy(pText);
        return Append(copy.GetText(), copy.GetLength());
    }
    return Append(pText, static_cast<int>(strlen(pText)));
}

CRukString CRukString::operator+(const CRukString& str) const
{
    CRukString result(*this);
    result += str;
    return result;
}

CRukString CRukString::operator+(const char* pText) const
{
    CRukString result(*this);
    result += pText;
    return result;
}

CRukString& CRukString::Insert(const CRukString& str)
{
    return Insert(str.GetText());
}

// Prepends the text: the result is the argument followed by the old text.
CRukString& CRukString::Insert(const char* pText)
{
    if (!pText || !*pText)
        return *this;
    CRukString result(pText);
    result += *this;
    *this = std::move(result);
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
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(GetLength() + nWith));
    int nCount = 0;
    while (q) {
        out.Append(p, static_cast<unsigned>(q - p));
        out.Append(pWith, static_cast<unsigned>(nWith));
        nCount++;
        p = q + nFind;
        if (!bAll)
            break;
        q = Search(p, pFind, bNoCase);
    }
    out.Append(p, static_cast<unsigned>(strlen(p)));
    Attach(out.Detach());
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
    const char* p = m_pStr;
    CRukBuffer out;
    int nCount = 0;
    for (;;) {
        const char* b = Search(p, pBegin, bNoCase);
        if (!b)
            break;
        const char* e = Search(b + nBegin, pEnd, bNoCase);
        if (!e)
            break;
        if (nCount == 0)
            out.Reserve(static_cast<unsigned>(GetLength()));
        out.Append(p, static_cast<unsigned>(b - p));
        if (pNewBegin) {
            out.Append(pNewBegin, static_cast<unsigned>(strlen(pNewBegin)));
            out.Append(b + nBegin, static_cast<unsigned>(e - (b + nBegin)));
            out.Append(pNewEnd, static_cast<unsigned>(strlen(pNewEnd)));
        } else if (pWith) {
            out.Append(pWith, static_cast<unsigned>(strlen(pWith)));
        }
        nCount++;
        p = e + nEnd;
        if (!bAll)
            break;
    }
    if (nCount == 0)
        return 0;
    out.Append(p, static_cast<unsigned>(strlen(p)));
    Attach(out.Detach());
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
        *this = CRukString(p);
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
    char sz[4096];
    va_list args;
    va_start(args, pFormat);
    sz[0] = 0;
    if (pFormat)
        vsnprintf(sz, sizeof(sz), pFormat, args);
    va_end(args);
    *this = sz;
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
    CRukBuffer out;
    while (*p) {
        int hi = HexValue(*p++);
        int lo = *p ? HexValue(*p++) : 0;
        char c = static_cast<char>((hi << 4) | lo);
        if (c == 0)
            break;  // a string cannot hold a NUL byte
        out.Append(&c, 1);
    }
    CRukString result;
    result.Attach(out.Detach());
    return result;
}

CRukString CRukString::CharToHex() const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(GetLength() * 2));
    for (; *p; p++) {
        char sz[2] = {s_szHex[*p >> 4], s_szHex[*p & 15]};
        out.Append(sz, 2);
    }
    CRukString result;
    result.Attach(out.Detach());
    return result;
}

// "%" and two hex digits become a byte, "+" a blank. A "%" not followed
// by two hex digits is no escape and stays as typed, with what follows it.
// A decoded NUL ends the text, since a string holds no NUL byte. Runs of
// plain bytes are copied whole, so that a long value decodes quickly.
CRukString CRukString::PerHexToChar() const
{
    const char* p = GetText();
    char* pOut = static_cast<char*>(malloc(strlen(p) + 1));
    if (!pOut)
        abort();
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
    result.Attach(pOut);
    return result;
}

// Percent-encodes every byte but letters, digits and pKeep; a blank
// becomes "+". With bAll even letters and digits are encoded.
CRukString CRukString::PerHexImpl(const char* pKeep, bool bAll) const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(GetLength() * 3));
    for (; *p; p++) {
        if (*p == ' ') {
            out.Append("+", 1);
        } else if (!bAll && (isalnum(*p) && *p < 0x80)) {
            out.Append(reinterpret_cast<const char*>(p), 1);
        } else if (!bAll && strchr(pKeep, *p)) {
            out.Append(reinterpret_cast<const char*>(p), 1);
        } else {
            char sz[3] = {'%', s_szHex[*p >> 4], s_szHex[*p & 15]};
            out.Append(sz, 3);
        }
    }
    CRukString result;
    result.Attach(out.Detach());
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
    return CRukString(GetText() + nLen - n);
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
    return CRukString(GetText() + nStart);
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
    memmove(m_pStr + nPos, m_pStr + nPos + nCount, nLen - nPos - nCount + 1);
    if (m_pStr[0] == 0)
        Free();
    return *this;
}

CRukString& CRukString::Delete(int nPos)
{
    if (nPos <= 0) {
        Free();
        return *this;
    }
    if (nPos < GetLength())
        m_pStr[nPos] = 0;
    return *this;
}

// Gives the string a zero-filled block of n + 1 bytes.
char* CRukString::Alloc(int n)
{
    if (n < 0)
        n = 0;
    _Free();
    m_pStr = static_cast<char*>(calloc(n + 1, 1));
    if (!m_pStr)
        abort();
    return m_pStr;
}

// Resizes the block to n + 1 bytes, zero-filling any growth.
char* CRukString::ReAlloc(int n)
{
    if (n < 0)
        n = 0;
    int nOld = GetLength();
    char* p;
    if (IsOwned(m_pStr)) {
        p = static_cast<char*>(realloc(m_pStr, n + 1));
    } else {
        p = static_cast<char*>(malloc(n + 1));
        nOld = 0;
    }
    if (!p)
        abort();
    if (n > nOld)
        memset(p + nOld, 0, n - nOld);
    p[n] = 0;
    m_pStr = p;
    return m_pStr;
}

void CRukString::Free()
{
    _Free();
    m_pStr = s_szEmpty;
}

CRukString& CRukString::Attach(char* pBlock)
{
    _Free();
    m_pStr = pBlock ? pBlock : s_szEmpty;
    return *this;
}

CRukString operator+(const char* pText, const CRukString& str)
{
    CRukString result(pText);
    result += str;
    return result;
}
