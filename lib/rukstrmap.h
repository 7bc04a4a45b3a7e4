// CRukStrMap: an ordered map of (name, value) strings; the first pair of a
// name wins. Settings, template values and attachment lists use it.
#ifndef RUKSTRMAP_H
#define RUKSTRMAP_H

#include "rukstrary.h"
#include "rukstring.h"
#include "ruktagmap.h"

typedef CRukTagDat<CRukString> CRukStrPair;

class CRukStrMap : public CRukTagMap<CRukString> {
public:
    explicit CRukStrMap(int nInitSize = 0, int nGrowBy = 10);
    CRukStrMap(const CRukStrMap&) = default;
    CRukStrMap(CRukStrMap&&) noexcept = default;
    CRukStrMap& operator=(const CRukStrMap&) = default;
    CRukStrMap& operator=(CRukStrMap&&) noexcept = default;
    ~CRukStrMap() override = default;

    CRukStrPair* Data(int i);
    const CRukStrPair* Data(int i) const;
    CRukStrPair* Data(const char* pName);
    const CRukStrPair* Data(const char* pName) const;
    CRukString Value(int i) const;
    CRukString Value(const char* pName) const;
    // The value (or nothing) split at pSep into out; returns out's size.
    int Values(int i, const char* pSep, CRukStrAry& out) const;
    int Values(const char* pName, const char* pSep, CRukStrAry& out) const;

    // Appends a new pair; -1 and no change when the name exists.
    int Add(const char* pName, const char* pValue);
    // The same, taking over the texts (a file read line by line builds
    // each pair once).
    int Add(CRukString&& name, CRukString&& value);
    int AddFormat(const char* pName, const char* pFormat, ...)
        __attribute__((format(printf, 3, 4)));
    // Replaces an existing value or appends a new pair; returns the index.
    int SetAt(const char* pName, const char* pValue);
    int SetAtFormat(const char* pName, const char* pFormat, ...)
        __attribute__((format(printf, 3, 4)));
};

#endif
