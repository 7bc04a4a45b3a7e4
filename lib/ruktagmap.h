// CRukTagMap<T>: a small ordered map keyed by name, looked up linearly and
// case-sensitively. Its elements are CRukTagDat<T> pairs (tag, payload) in
// insertion order. Used for the string map of settings and for the form.
#ifndef RUKTAGMAP_H
#define RUKTAGMAP_H

#include <climits>
#include <cstring>

#include "rukary.h"
#include "rukstring.h"

template <class T>
class CRukTagDat {
public:
    CRukString m_strTag;
    T m_data;
};

template <class T>
class CRukTagMap : public CRukAry<CRukTagDat<T>> {
public:
    explicit CRukTagMap(int nInitSize = 0, int nGrowBy = 10)
        : CRukAry<CRukTagDat<T>>(nInitSize, nGrowBy) {}
    CRukTagMap(const CRukTagMap&) = default;
    CRukTagMap(CRukTagMap&&) noexcept = default;
    CRukTagMap& operator=(const CRukTagMap&) = default;
    CRukTagMap& operator=(CRukTagMap&&) noexcept = default;
    ~CRukTagMap() override = default;

    // Index of the first element whose tag equals pTag, or -1.
    int GetIndex(const char* pTag) const
    {
        if (!pTag)
            pTag = "";
        // The end of the tag is compared first (its NUL, its last byte):
        // most tags differ there, numbered ones such as "msg01" only at the
        // end, and the settings map is searched this way many times per
        // page. The test is strcmp's: a tag matches up to its first NUL.
        const size_t nLen = strlen(pTag);
        if (nLen > static_cast<size_t>(INT_MAX))
            return -1;
        const int nTagLen = static_cast<int>(nLen);
        const char cLast = nLen ? pTag[nLen - 1] : 0;
        for (int i = 0; i < this->m_nSize; i++) {
            const CRukString& name = this->m_pData[i].m_strTag;
            if (name.GetLength() < nTagLen)
                continue;
            const char* pName = name.GetText();
            if (pName[nLen] == 0 && (nLen == 0 || pName[nLen - 1] == cLast) &&
                memcmp(pName, pTag, nLen) == 0)
                return i;
        }
        return -1;
    }
};

#endif
