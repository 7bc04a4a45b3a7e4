#include "rukstrary.h"

#include <algorithm>
#include <cstring>

CRukStrAry::CRukStrAry(int nInitSize, int nGrowBy) : CRukAry<CRukString>(nInitSize, nGrowBy) {}

int CRukStrAry::Add(const char* pText)
{
    return CRukAry<CRukString>::Add(CRukString(pText));
}

CRukString& CRukStrAry::SetAt(int i, const char* pText)
{
    return CRukAry<CRukString>::SetAt(i, CRukString(pText));
}

void CRukStrAry::InsertAt(int i, const char* pText)
{
    CRukAry<CRukString>::InsertAt(i, CRukString(pText));
}

// The pieces between occurrences of pSep, empty pieces included; the piece
// after the last separator is always added.
int CRukStrAry::SetToken(const char* pText, const char* pSep)
{
    RemoveAll();
    if (!pText)
        return 0;
    size_t nSep = pSep ? strlen(pSep) : 0;
    const char* p = pText;
    if (nSep > 0) {
        const char* q;
        while ((q = CRukString::Search(p, pSep)) != nullptr) {
            CRukString piece;
            piece.Append(p, static_cast<int>(q - p));
            CRukAry<CRukString>::Add(std::move(piece));
            p = q + nSep;
        }
    }
    Add(p);
    return GetSize();
}

int CRukStrAry::SetTokenOneOf(const char* pText, const char* pSet)
{
    RemoveAll();
    if (!pText)
        return 0;
    if (!pSet)
        pSet = "";
    const char* p = pText;
    for (;;) {
        size_t n = strcspn(p, pSet);
        CRukString piece;
        piece.Append(p, static_cast<int>(n));
        CRukAry<CRukString>::Add(std::move(piece));
        if (p[n] == 0)
            break;
        p += n + 1;
    }
    return GetSize();
}

// The text between each pBegin and the next pEnd; scanning resumes after
// pEnd and stops at the first pBegin without an end.
int CRukStrAry::SetToken(const char* pText, const char* pBegin, const char* pEnd)
{
    RemoveAll();
    if (!pText || !pBegin || !*pBegin || !pEnd || !*pEnd)
        return 0;
    size_t nBegin = strlen(pBegin);
    size_t nEnd = strlen(pEnd);
    const char* p = pText;
    for (;;) {
        const char* b = CRukString::Search(p, pBegin);
        if (!b)
            break;
        b += nBegin;
        const char* e = CRukString::Search(b, pEnd);
        if (!e)
            break;
        CRukString piece;
        piece.Append(b, static_cast<int>(e - b));
        CRukAry<CRukString>::Add(std::move(piece));
        p = e + nEnd;
    }
    return GetSize();
}

// For each pMarker: the bytes after it up to the first stop byte, a stop
// byte being inside [nLow, nHigh] (bStopInside) or outside it. The NUL at
// the end of the text stops the last token only when 0 is a stop value.
int CRukStrAry::TokenToRange(const char* pText, const char* pMarker, int nLow, int nHigh,
                             bool bStopInside)
{
    RemoveAll();
    if (!pText || !pMarker || !*pMarker)
        return 0;
    size_t nMarker = strlen(pMarker);
    auto isStop = [&](unsigned char c) {
        bool bInside = c >= nLow && c <= nHigh;
        return bStopInside ? bInside : !bInside;
    };
    const char* p = pText;
    for (;;) {
        const char* m = CRukString::Search(p, pMarker);
        if (!m)
            break;
        const char* s = m + nMarker;
        const char* q = s;
        while (*q && !isStop(static_cast<unsigned char>(*q)))
            q++;
        if (*q == 0) {
            if (isStop(0)) {
                CRukString piece;
                piece.Append(s, static_cast<int>(q - s));
                CRukAry<CRukString>::Add(std::move(piece));
            }
            break;
        }
        CRukString piece;
        piece.Append(s, static_cast<int>(q - s));
        CRukAry<CRukString>::Add(std::move(piece));
        p = q + 1;
    }
    return GetSize();
}

int CRukStrAry::SetTokenToCode(const char* pText, const char* pMarker, int nLow, int nHigh)
{
    return TokenToRange(pText, pMarker, nLow, nHigh, true);
}

int CRukStrAry::SetTokenToNotCode(const char* pText, const char* pMarker, int nLow, int nHigh)
{
    return TokenToRange(pText, pMarker, nLow, nHigh, false);
}

void CRukStrAry::Sort(int nOrder)
{
    if (m_nSize < 2)
        return;
    if (nOrder == 0)
        std::sort(begin(), end(), [](const CRukString& a, const CRukString& b) {
            return strcmp(a.GetText(), b.GetText()) < 0;
        });
    else
        std::sort(begin(), end(), [](const CRukString& a, const CRukString& b) {
            return strcmp(a.GetText(), b.GetText()) > 0;
        });
}
