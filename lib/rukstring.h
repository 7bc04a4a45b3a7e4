// CRukString: the text type of the whole system.
//
// A heap-owned, NUL-terminated byte string. Japanese text is carried as raw
// Shift_JIS, EUC-JP or ISO-2022-JP bytes; the few operations that must not
// split a two-byte character classify the encoding first (IsCode). The one
// data member is the pointer to the block; the length is always strlen of
// it. An empty string points at a shared, read-only one-byte block holding
// NUL, so that the many empty fields of a loaded board cost no allocation.
#ifndef RUKSTRING_H
#define RUKSTRING_H

#include <cstddef>

class CRukString {
public:
    CRukString();
    CRukString(const char* pText);
    CRukString(const CRukString& str);
    CRukString(CRukString&& str) noexcept;
    CRukString(const long& n);
    CRukString(const unsigned long& n);
    CRukString(const int& n);
    CRukString(const unsigned int& n);
    CRukString(const short& n);
    CRukString(const unsigned short& n);
    virtual ~CRukString();

    CRukString& operator=(const CRukString& str);
    CRukString& operator=(CRukString&& str) noexcept;
    CRukString& operator=(const char* pText);
    CRukString& operator=(const long& n);
    CRukString& operator=(const unsigned long& n);
    CRukString& operator=(const int& n);
    CRukString& operator=(const unsigned int& n);
    CRukString& operator=(const short& n);
    CRukString& operator=(const unsigned short& n);

    // Conversions are explicit so that a string never turns into a number
    // (or a pointer offset) by accident in an expression.
    explicit operator long() const;
    explicit operator unsigned long() const;
    explicit operator int() const;
    explicit operator unsigned int() const;
    explicit operator short() const;
    explicit operator unsigned short() const;

    // The text block; never null.
    const char* GetText() const { return m_pStr ? m_pStr : ""; }
    int GetLength() const;
    bool IsEmpty() const { return !m_pStr || !*m_pStr; }

    CRukString& operator+=(const CRukString& str);
    CRukString& operator+=(const char* pText);
    // Appends exactly n bytes of pData (which must hold no NUL).
    CRukString& Append(const char* pData, int n);
    CRukString operator+(const CRukString& str) const;
    CRukString operator+(const char* pText) const;
    CRukString& Insert(const CRukString& str);
    CRukString& Insert(const char* pText);

    bool operator==(const CRukString& str) const;
    bool operator==(const char* pText) const;
    bool operator!=(const CRukString& str) const;
    bool operator!=(const char* pText) const;
    bool operator<(const CRukString& str) const;
    bool operator<(const char* pText) const;
    bool operator>(const CRukString& str) const;
    bool operator>(const char* pText) const;
    bool operator<=(const CRukString& str) const;
    bool operator<=(const char* pText) const;
    bool operator>=(const CRukString& str) const;
    bool operator>=(const char* pText) const;
    int Compare(const char* pText, int nNoCase = 0) const;

    // The first pNeedle in pHay, or null; reads pHay only as far as the
    // match, which keeps repeated searches through a long text linear.
    static const char* Search(const char* pHay, const char* pNeedle, bool bNoCase = false);
    int Find(const char* pText, int nStart = 0) const;
    int FindNoCase(const char* pText, int nStart = 0) const;
    int FindOneOf(const char* pSet, int nStart = 0) const;

    int Replace(const char* pFind, const char* pWith, bool bAll);
    int Replace(const char* pBegin, const char* pEnd, const char* pWith, bool bAll);
    int Replace(const char* pBegin, const char* pEnd, const char* pNewBegin,
                const char* pNewEnd, bool bAll);
    int ReplaceNoCase(const char* pFind, const char* pWith, bool bAll);
    int ReplaceNoCase(const char* pBegin, const char* pEnd, const char* pWith, bool bAll);
    int ReplaceNoCase(const char* pBegin, const char* pEnd, const char* pNewBegin,
                      const char* pNewEnd, bool bAll);

    CRukString& TrimLeft();
    CRukString& TrimRight();
    CRukString& Trim();

    static int IsCode(const char* pText);
    int IsCode() const { return IsCode(m_pStr); }

    static CRukString Nkf(const char* pOption, const char* pText);
    CRukString& Nkf(const char* pOption);

    CRukString& Format(const char* pFormat, ...) __attribute__((format(printf, 2, 3)));

    CRukString HexToChar() const;
    CRukString CharToHex() const;
    CRukString PerHexToChar() const;
    CRukString CharToPerHex() const;
    CRukString CharToPerHexWithoutSlash() const;
    CRukString CharToPerHexAll() const;

    CRukString Left(int n) const;
    CRukString Right(int n) const;
    CRukString Mid(int nStart, int nCount) const;
    CRukString Mid(int nStart) const;
    CRukString GetToken(const char* pSep, bool bWhole) const;
    CRukString GetTokenOneOf(const char* pSet, bool bWhole) const;
    CRukString GetToken(const char* pBegin, const char* pEnd) const;

    CRukString& Delete(int nPos, int nCount);
    CRukString& Delete(int nPos);

    // Storage operations for code that fills the block directly.
    char* Alloc(int n);
    char* ReAlloc(int n);
    void Free();
    // Takes ownership of a malloc'd, NUL-terminated block (null empties).
    CRukString& Attach(char* pBlock);

private:
    void _Free();
    void Assign(const char* pData, size_t n);
    void FromInteger(const char* pFormat, long n);
    void FromUnsigned(const char* pFormat, unsigned long n);
    int ReplaceImpl(const char* pFind, const char* pWith, bool bAll, bool bNoCase);
    int ReplaceSpanImpl(const char* pBegin, const char* pEnd, const char* pWith,
                        const char* pNewBegin, const char* pNewEnd, bool bAll,
                        bool bNoCase);
    CRukString PerHexImpl(const char* pKeep, bool bAll) const;

    char* m_pStr;
};

// Text followed by a string, as a new string.
CRukString operator+(const char* pText, const CRukString& str);

#endif
