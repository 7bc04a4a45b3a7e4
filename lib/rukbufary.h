// CRukBufAry: a growable array of CRukBuffer, used to split request bodies
// and to carry uploaded files beside their names.
#ifndef RUKBUFARY_H
#define RUKBUFARY_H

#include "rukary.h"
#include "rukbuffer.h"

class CRukBufAry : public CRukAry<CRukBuffer> {
public:
    explicit CRukBufAry(int nInitSize = 0, int nGrowBy = 10);
    CRukBufAry(const CRukBufAry&) = default;
    CRukBufAry(CRukBufAry&&) noexcept = default;
    CRukBufAry& operator=(const CRukBufAry&) = default;
    CRukBufAry& operator=(CRukBufAry&&) noexcept = default;
    ~CRukBufAry() override = default;

    using CRukAry<CRukBuffer>::Add;
    using CRukAry<CRukBuffer>::SetAt;
    int Add(const char* pData, unsigned n);
    CRukBuffer& SetAt(int i, const char* pData, unsigned n);

    // Pieces between separators, empty pieces included; the piece after the
    // last separator is always added.
    int SetToken(const char* pData, unsigned nSize, const char* pSep, unsigned nSep);
    // The bytes between each begin marker and the next end marker.
    int SetToken(const char* pData, unsigned nSize, const char* pBegin, unsigned nBegin,
                 const char* pEnd, unsigned nEnd);
};

#endif
