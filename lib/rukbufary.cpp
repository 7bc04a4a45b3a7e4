#include "rukbufary.h"

CRukBufAry::CRukBufAry(int nInitSize, int nGrowBy) : CRukAry<CRukBuffer>(nInitSize, nGrowBy) {}

int CRukBufAry::Add(const char* pData, unsigned n)
{
    return CRukAry<CRukBuffer>::Add(CRukBuffer(pData, n));
}

CRukBuffer& CRukBufAry::SetAt(int i, const char* pData, unsigned n)
{
    return CRukAry<CRukBuffer>::SetAt(i, CRukBuffer(pData, n));
}

int CRukBufAry::SetToken(const char* pData, unsigned nSize, const char* pSep, unsigned nSep)
{
    RemoveAll();
    if (!pData)
        return 0;
    CRukBuffer whole(pData, nSize);
    unsigned nPos = 0;
    if (pSep && nSep > 0) {
        int q;
        while (nPos < nSize && (q = whole.Find(pSep, nSep, nPos)) >= 0) {
            Add(pData + nPos, q - nPos);
            nPos = q + nSep;
        }
    }
    Add(pData + nPos, nSize - nPos);
    return GetSize();
}

int CRukBufAry::SetToken(const char* pData, unsigned nSize, const char* pBegin, unsigned nBegin,
                         const char* pEnd, unsigned nEnd)
{
    RemoveAll();
    if (!pData || !pBegin || nBegin == 0 || !pEnd || nEnd == 0)
        return 0;
    CRukBuffer whole(pData, nSize);
    unsigned nPos = 0;
    for (;;) {
        int b = whole.Find(pBegin, nBegin, nPos);
        if (b < 0)
            break;
        int e = whole.Find(pEnd, nEnd, b + nBegin);
        if (e < 0)
            break;
        Add(pData + b + nBegin, e - b - nBegin);
        nPos = e + nEnd;
    }
    return GetSize();
}
