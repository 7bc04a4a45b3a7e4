// CRukString: cutting pieces: trimming white space (without splitting a
// Shift_JIS character), the left, right and middle of a text, the text
// before or between separators, and deleting a part in place.
#include "rukstring.h"

#include <cctype>
#include <cstring>

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
