// CRukStrAry: a growable array of CRukString with the splitting operations
// the system uses to cut settings, templates and form values into pieces.
#ifndef RUKSTRARY_H
#define RUKSTRARY_H

#include "rukary.h"
#include "rukstring.h"

class CRukStrAry : public CRukAry<CRukString> {
public:
    explicit CRukStrAry(int nInitSize = 0, int nGrowBy = 10);
    CRukStrAry(const CRukStrAry&) = default;
    CRukStrAry(CRukStrAry&&) noexcept = default;
    CRukStrAry& operator=(const CRukStrAry&) = default;
    CRukStrAry& operator=(CRukStrAry&&) noexcept = default;
    ~CRukStrAry() override = default;

    using CRukAry<CRukString>::Add;
    using CRukAry<CRukString>::SetAt;
    using CRukAry<CRukString>::InsertAt;
    // A null text stores the empty string.
    int Add(const char* pText);
    CRukString& SetAt(int i, const char* pText);
    void InsertAt(int i, const char* pText);

    int SetToken(const char* pText, const char* pSep);
    int SetTokenOneOf(const char* pText, const char* pSet);
    int SetToken(const char* pText, const char* pBegin, const char* pEnd);
    int SetTokenToCode(const char* pText, const char* pMarker, int nLow, int nHigh);
    int SetTokenToNotCode(const char* pText, const char* pMarker, int nLow, int nHigh);

    // Sorts by strcmp: ascending for 0, descending otherwise.
    void Sort(int nOrder);

private:
    int TokenToRange(const char* pText, const char* pMarker, int nLow, int nHigh,
                     bool bStopInside);
};

#endif
