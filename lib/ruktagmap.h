// CRukTagMap<T>: a small ordered map keyed by name, looked up linearly and
// case-sensitively. Its elements are CRukTagDat<T> pairs (tag, payload) in
// insertion order. Used for the string map of settings and for the form.
#ifndef RUKTAGMAP_H
#define RUKTAGMAP_H

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
        for (int i = 0; i < this->m_nSize; i++)
            if (strcmp(this->m_pData[i].m_strTag.GetText(), pTag) == 0)
                return i;
        return -1;
    }
};

#endif
