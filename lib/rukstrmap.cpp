#include "rukstrmap.h"

#include <cstdarg>
#include <utility>

CRukStrMap::CRukStrMap(int nInitSize, int nGrowBy) : CRukTagMap<CRukString>(nInitSize, nGrowBy) {}

CRukStrPair* CRukStrMap::Data(int i)
{
    return GetAt(i);
}

const CRukStrPair* CRukStrMap::Data(int i) const
{
    return GetAt(i);
}

CRukStrPair* CRukStrMap::Data(const char* pName)
{
    return GetAt(GetIndex(pName));
}

const CRukStrPair* CRukStrMap::Data(const char* pName) const
{
    return GetAt(GetIndex(pName));
}

CRukString CRukStrMap::Value(int i) const
{
    const CRukStrPair* p = Data(i);
    return p ? p->m_data : CRukString();
}

CRukString CRukStrMap::Value(const char* pName) const
{
    const CRukStrPair* p = Data(pName);
    return p ? p->m_data : CRukString();
}

int CRukStrMap::Values(int i, const char* pSep, CRukStrAry& out) const
{
    out.RemoveAll();
    const CRukStrPair* p = Data(i);
    if (p)
        out.SetToken(p->m_data.GetText(), pSep);
    return out.GetSize();
}

int CRukStrMap::Values(const char* pName, const char* pSep, CRukStrAry& out) const
{
    out.RemoveAll();
    const CRukStrPair* p = Data(pName);
    if (p)
        out.SetToken(p->m_data.GetText(), pSep);
    return out.GetSize();
}

int CRukStrMap::Add(const char* pName, const char* pValue)
{
    if (GetIndex(pName) >= 0)
        return -1;
    CRukStrPair pair;
    pair.m_strTag = pName;
    pair.m_data = pValue;
    return CRukAry<CRukStrPair>::Add(std::move(pair));
}

int CRukStrMap::Add(CRukString&& name, CRukString&& value)
{
    if (GetIndex(name.GetText()) >= 0)
        return -1;
    CRukStrPair pair;
    pair.m_strTag = std::move(name);
    pair.m_data = std::move(value);
    return CRukAry<CRukStrPair>::Add(std::move(pair));
}

// The whole expansion becomes the value, however long.
int CRukStrMap::AddFormat(const char* pName, const char* pFormat, ...)
{
    CRukString text;
    va_list args;
    va_start(args, pFormat);
    text.FormatV(pFormat, args);
    va_end(args);
    return Add(pName, text.GetText());
}

int CRukStrMap::SetAt(const char* pName, const char* pValue)
{
    int i = GetIndex(pName);
    if (i < 0)
        return Add(pName, pValue);
    m_pData[i].m_data = pValue;
    return i;
}

// The whole expansion becomes the value, however long.
int CRukStrMap::SetAtFormat(const char* pName, const char* pFormat, ...)
{
    CRukString text;
    va_list args;
    va_start(args, pFormat);
    text.FormatV(pFormat, args);
    va_end(args);
    return SetAt(pName, text.GetText());
}
