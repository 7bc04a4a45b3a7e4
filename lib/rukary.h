// CRukAry<T>: the growable array behind every container of the system
// (message lists, string and buffer arrays, maps).
//
// Visible storage rule of SetSize(n, keep):
//   n <= 0             release everything (size and capacity 0);
//   n < size or n > capacity
//                      when keep is false, every element is emptied first;
//                      the first min(n, size) elements survive only with
//                      keep; the capacity becomes n + grow-by;
//   otherwise          nothing is reallocated and the slots stay as they are;
//   then the size becomes n.
// Slots between the size and the capacity always hold default values.
//
// The capacity above is the logical one that decides those cases. The real
// block grows geometrically and its elements are moved, never deep-copied,
// so adding n elements one at a time costs O(n) in all.
#ifndef RUKARY_H
#define RUKARY_H

#include <algorithm>
#include <utility>

template <class T>
class CRukAry {
public:
    explicit CRukAry(int nInitSize = 0, int nGrowBy = 10)
        : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(nGrowBy), m_nAlloc(0)
    {
        if (m_nGrowBy < 1)
            m_nGrowBy = 1;
        SetSize(nInitSize, false);
    }

    CRukAry(const CRukAry& ary)
        : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(ary.m_nGrowBy), m_nAlloc(0)
    {
        CopyFrom(ary);
    }

    CRukAry(CRukAry&& ary) noexcept
        : m_pData(ary.m_pData), m_nSize(ary.m_nSize), m_nMaxSize(ary.m_nMaxSize),
          m_nGrowBy(ary.m_nGrowBy), m_nAlloc(ary.m_nAlloc)
    {
        ary.m_pData = nullptr;
        ary.m_nSize = ary.m_nMaxSize = ary.m_nAlloc = 0;
    }

    virtual ~CRukAry() { delete[] m_pData; }

    CRukAry& operator=(const CRukAry& ary)
    {
        if (this != &ary) {
            RemoveAll();
            m_nGrowBy = ary.m_nGrowBy;
            CopyFrom(ary);
        }
        return *this;
    }

    CRukAry& operator=(CRukAry&& ary) noexcept
    {
        if (this != &ary) {
            delete[] m_pData;
            m_pData = ary.m_pData;
            m_nSize = ary.m_nSize;
            m_nMaxSize = ary.m_nMaxSize;
            m_nGrowBy = ary.m_nGrowBy;
            m_nAlloc = ary.m_nAlloc;
            ary.m_pData = nullptr;
            ary.m_nSize = ary.m_nMaxSize = ary.m_nAlloc = 0;
        }
        return *this;
    }

    // Takes over another heap-allocated array's block, sizes and grow-by,
    // destroys that array and sets the caller's pointer to null.
    template <class A>
    void Assign(A*& pAry)
    {
        if (!pAry)
            return;
        if (static_cast<CRukAry*>(pAry) != this)
            *this = std::move(static_cast<CRukAry&>(*pAry));
        delete pAry;
        pAry = nullptr;
    }

    int GetSize() const { return m_nSize; }
    int GetCapacity() const { return m_nMaxSize; }
    int GetGrowBy() const { return m_nGrowBy; }

    void SetSize(int n, bool bKeep)
    {
        if (n <= 0) {
            RemoveAll();
            return;
        }
        int nKeep = m_nSize;
        if (n < m_nSize || n > m_nMaxSize) {
            nKeep = bKeep ? std::min(n, m_nSize) : 0;
            for (int i = nKeep; i < m_nSize; i++)
                m_pData[i] = T();
            m_nMaxSize = n + m_nGrowBy;
        }
        if (n > m_nAlloc)
            Grow(n, nKeep);
        m_nSize = n;
    }

    // Destroys every element and releases the block.
    void RemoveAll()
    {
        delete[] m_pData;
        m_pData = nullptr;
        m_nSize = m_nMaxSize = m_nAlloc = 0;
    }

    T* GetAt(int i) { return (i >= 0 && i < m_nSize) ? &m_pData[i] : nullptr; }
    const T* GetAt(int i) const { return (i >= 0 && i < m_nSize) ? &m_pData[i] : nullptr; }
    T& operator[](int i) { return m_pData[i]; }
    const T& operator[](int i) const { return m_pData[i]; }

    T* begin() { return m_pData; }
    T* end() { return m_pData + m_nSize; }
    const T* begin() const { return m_pData; }
    const T* end() const { return m_pData + m_nSize; }

    // The value is copied before the array grows, so it may be one of the
    // array's own elements.
    int Add(const T& value) { return Add(T(value)); }

    int Add(T&& value)
    {
        SetSize(m_nSize + 1, true);
        m_pData[m_nSize - 1] = std::move(value);
        return m_nSize - 1;
    }

    T& SetAt(int i, const T& value) { return SetAt(i, T(value)); }

    // A negative index stores the value in a new last slot rather than
    // outside the block.
    T& SetAt(int i, T&& value)
    {
        if (i < 0)
            i = m_nSize;
        if (i >= m_nSize)
            SetSize(i + 1, true);
        m_pData[i] = std::move(value);
        return m_pData[i];
    }

    void InsertAt(int i, const T& value) { InsertAt(i, T(value)); }

    void InsertAt(int i, T&& value)
    {
        if (i < 0)
            i = 0;
        if (i < m_nSize) {
            SetSize(m_nSize + 1, true);
            std::move_backward(m_pData + i, m_pData + m_nSize - 1, m_pData + m_nSize);
        } else {
            SetSize(i + 1, true);
        }
        m_pData[i] = std::move(value);
    }

    void RemoveAt(int i)
    {
        if (i < 0 || i >= m_nSize)
            return;
        std::move(m_pData + i + 1, m_pData + m_nSize, m_pData + i);
        m_pData[m_nSize - 1] = T();
        m_nSize--;
    }

protected:
    // Reallocates to hold at least n elements, moving the first nKeep.
    void Grow(int n, int nKeep)
    {
        int nAlloc = std::max(n + m_nGrowBy, m_nAlloc * 2);
        T* pNew = new T[nAlloc]();  // value-initialized: plain types read 0
        for (int i = 0; i < nKeep; i++)
            pNew[i] = std::move(m_pData[i]);
        delete[] m_pData;
        m_pData = pNew;
        m_nAlloc = nAlloc;
    }

    void CopyFrom(const CRukAry& ary)
    {
        if (ary.m_nSize <= 0)
            return;
        SetSize(ary.m_nSize, false);
        for (int i = 0; i < ary.m_nSize; i++)
            m_pData[i] = ary.m_pData[i];
    }

    T* m_pData;
    int m_nSize;
    int m_nMaxSize;
    int m_nGrowBy;
    int m_nAlloc;  // elements really allocated (at least m_nMaxSize - grow-by)
};

#endif
