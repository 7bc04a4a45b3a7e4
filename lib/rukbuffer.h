// CRukBuffer: a byte buffer that may hold NUL bytes (uploads, request
// bodies, mail parts). An empty buffer has size 0 and no data; a non-empty
// one always keeps a NUL after its last byte so that its data can be read as
// C text. Appends grow the block geometrically, so building a page or a
// replacement result piece by piece costs linear time.
#ifndef RUKBUFFER_H
#define RUKBUFFER_H

class CRukBuffer {
public:
    CRukBuffer();
    explicit CRukBuffer(unsigned n);
    CRukBuffer(const char* pData, unsigned n);
    CRukBuffer(const char* pText);
    CRukBuffer(const CRukBuffer& buf);
    CRukBuffer(CRukBuffer&& buf) noexcept;
    virtual ~CRukBuffer();

    CRukBuffer& operator=(const CRukBuffer& buf);
    CRukBuffer& operator=(CRukBuffer&& buf) noexcept;

    unsigned GetSize() const { return m_nSize; }
    const char* GetData() const { return m_pData; }
    char* GetData() { return m_pData; }
    bool IsEmpty() const { return m_nSize == 0; }

    CRukBuffer& operator+=(const CRukBuffer& buf);
    CRukBuffer& Append(const CRukBuffer& buf);
    CRukBuffer& Append(const char* pData, unsigned n);
    CRukBuffer operator+(const CRukBuffer& buf) const;
    CRukBuffer& Insert(const CRukBuffer& buf);
    CRukBuffer& Insert(const char* pData, unsigned n);

    int Find(const char* pPattern, unsigned nLen, unsigned nStart = 0) const;
    int Replace(const char* pFind, unsigned nFind, const char* pWith, unsigned nWith,
                bool bAll);
    int Replace(const char* pBegin, unsigned nBegin, const char* pEnd, unsigned nEnd,
                const char* pWith, unsigned nWith, bool bAll);
    CRukBuffer GetToken(const char* pSep, unsigned nSep, bool bWhole) const;
    CRukBuffer GetToken(const char* pBegin, unsigned nBegin, const char* pEnd,
                        unsigned nEnd) const;

    CRukBuffer Left(int n) const;
    CRukBuffer Right(int n) const;
    CRukBuffer Mid(int nStart, int nCount) const;
    CRukBuffer Mid(int nStart) const;
    CRukBuffer& Delete(int nPos, int nCount);
    CRukBuffer& Delete(int nPos);

    CRukBuffer& Base64Encode(int nWidth);

    char* Alloc(unsigned n);
    char* ReAlloc(unsigned n);
    void Free();
    // Makes room for at least n bytes without changing the contents.
    void Reserve(unsigned n);

    // Hands the block over as a malloc'd, NUL-terminated text (the caller
    // frees it) and leaves the buffer empty; an empty buffer gives null.
    char* Detach();

private:
    void Grow(unsigned nNeed);

    unsigned m_nSize;
    char* m_pData;
    unsigned m_nCapacity;  // bytes allocated for data, not counting the NUL
};

#endif
