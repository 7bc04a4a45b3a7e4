// CRukString: the text type of the whole system.
//
// A heap-owned, NUL-terminated byte string. Japanese text is carried as raw
// Shift_JIS, EUC-JP or ISO-2022-JP bytes; the few operations that must not
// split a two-byte character classify the encoding first (IsCode).
//
// The string keeps its block, the length of its text and the capacity of
// the block (bytes of text it can hold before the NUL that always follows).
// GetLength costs no measuring, and appending grows the block
// geometrically, so building a text from n pieces costs time linear in its
// length. An empty string points at a shared, read-only one-byte block
// holding NUL, with capacity 0, so that the many empty fields of a loaded
// board cost no allocation.
//
// The text never holds a NUL byte: it ends at the first NUL. Bytes given
// with a NUL among them (Append, Format's "%c" of 0) are kept up to that
// NUL only.
//
// The class has no virtual member, so that a string costs its three
// members only (the store keeps a dozen per message); CRukStrPath derives
// from it and is never deleted through a CRukString pointer.
//
// Code that fills the block itself takes it from Alloc or ReAlloc and
// writes into it; the text is then whatever lies before the first NUL,
// measured at the next operation that needs the length. Writing into the
// block at any other time (through a cast of GetText) is not allowed.
#ifndef RUKSTRING_H
#define RUKSTRING_H

#include <cstdarg>
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
    ~CRukString();

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
    const char* GetText() const { return m_pStr; }
    int GetLength() const
    {
        return static_cast<int>(m_nLength != s_nUnmeasured ? m_nLength : Measure());
    }
    bool IsEmpty() const { return !*m_pStr; }
    // Bytes of text the block holds without growing.
    int GetCapacity() const { return static_cast<int>(m_nCapacity); }
    // Makes room for n bytes of text without changing it, so that a known
    // number of appends allocates once.
    void Reserve(int n);

    CRukString& operator+=(const CRukString& str);
    CRukString& operator+=(const char* pText);
    // Appends n bytes of pData, or the bytes before the first NUL among
    // them (the text cannot hold a NUL).
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

    // The whole expansion of the format, however long (up to a NUL that
    // "%c" may give); a null format or an encoding error gives "".
    CRukString& Format(const char* pFormat, ...) __attribute__((format(printf, 2, 3)));
    CRukString& FormatV(const char* pFormat, va_list args) __attribute__((format(printf, 2, 0)));

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

    // Storage operations for code that fills the block directly. Alloc
    // gives a zero-filled block of n + 1 bytes; ReAlloc resizes the block
    // to n + 1 bytes, keeping the text up to n bytes and zero-filling the
    // rest. The caller may write up to n bytes into the block; the text is
    // then what lies before its first NUL (the length is measured when it
    // is next needed).
    char* Alloc(int n);
    char* ReAlloc(int n);
    // Empties the string and releases its block.
    void Free();
    // Takes ownership of a malloc'd, NUL-terminated block (null empties):
    // the text is the block up to its NUL, the capacity that length or, if
    // larger, nCapacity (the block must then hold nCapacity + 1 bytes).
    CRukString& Attach(char* pBlock, int nCapacity = 0);

private:
    // m_nLength of a block the caller has written into: the length is
    // measured by the next Measure.
    static const unsigned s_nUnmeasured = ~0u;

    size_t Measure() const;
    void _Free();
    void SetEmpty();
    void Grow(size_t nNeed);
    void AppendText(const char* pData, size_t n);
    void Assign(const char* pData, size_t n);
    void AttachText(char* pBlock, size_t nLength, size_t nCapacity);
    void TakeText(CRukString& str);
    void FromInteger(long n);
    void FromUnsigned(unsigned long n);
    int ReplaceImpl(const char* pFind, const char* pWith, bool bAll, bool bNoCase);
    int ReplaceSpanImpl(const char* pBegin, const char* pEnd, const char* pWith,
                        const char* pNewBegin, const char* pNewEnd, bool bAll,
                        bool bNoCase);
    CRukString PerHexImpl(const char* pKeep, bool bAll) const;

    char* m_pStr;                  // never null
    mutable unsigned m_nLength;    // bytes before the NUL, or s_nUnmeasured
    unsigned m_nCapacity;          // bytes of text the block can hold
};

// Text followed by a string, as a new string.
CRukString operator+(const char* pText, const CRukString& str);

#endif
