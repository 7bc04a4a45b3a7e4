// CRukString: comparing, searching and replacing. Searching reads a text
// only as far as the match, and a replacement builds the new text once,
// so that replacing every occurrence in a long text stays linear.
#include "rukstring.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "rukstring_block.h"

using rukstring::kMaxLength;

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

// Whether two bytes are equal, or with bNoCase equal but for the case of
// an ASCII letter (what strncasecmp takes as equal in the C locale, the
// only one the programs run in).
static bool SameByte(char a, char b, bool bNoCase)
{
    if (a == b)
        return true;
    if (!bNoCase || (a ^ b) != 0x20)
        return false;
    char lower = static_cast<char>(a | 0x20);
    return lower >= 'a' && lower <= 'z';
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
        if (n >= 2 && !SameByte(p[1], pNeedle[1], bNoCase))
            continue;  // most candidates (a page's '<') differ at once
        if ((bNoCase ? strncasecmp(p, pNeedle, n) : strncmp(p, pNeedle, n)) == 0)
            return p;
    }
}

// Search within p..pStop, pStop being the text's first NUL at or after p
// (where Search would stop): with case, one memmem over the span, which
// skips ahead by the needle's length where Search stops at every byte
// that can start it (a page of markup has a '<' every few bytes).
static const char* SearchTo(const char* p, const char* pStop, const char* pNeedle, size_t n,
                            bool bNoCase)
{
    if (bNoCase)
        return CRukString::Search(p, pNeedle, true);
    return static_cast<const char*>(memmem(p, static_cast<size_t>(pStop - p), pNeedle, n));
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
    const char* pStop = m_pStr + strlen(m_pStr);
    const char* q = SearchTo(p, pStop, pFind, nFind, bNoCase);
    if (!q)
        return 0;
    const char* pEnd = m_pStr + GetLength();
    CRukString out;
    out.Reserve(static_cast<int>(std::min(GetLength() + nWith, kMaxLength)));
    int nCount = 0;
    while (q) {
        out.AppendText(p, static_cast<size_t>(q - p));
        out.AppendText(pWith, nWith);
        nCount++;
        p = q + nFind;
        if (!bAll)
            break;
        q = SearchTo(p, pStop, pFind, nFind, bNoCase);
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
    const char* pStop = m_pStr + strlen(m_pStr);
    CRukString out;
    int nCount = 0;
    for (;;) {
        const char* b = SearchTo(p, pStop, pBegin, nBegin, bNoCase);
        if (!b)
            break;
        const char* e = SearchTo(b + nBegin, pStop, pEnd, nEnd, bNoCase);
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
