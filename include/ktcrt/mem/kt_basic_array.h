// Growable arrays of the base library.
//
// CKT_BasicArray keeps untyped elements of a fixed unit size in one block from its allocator
// (the default manager when null). Storage grows geometrically, by an eighth of the current
// size but at least 4 and at most 1024 elements per step unless a grow-by is set, and never
// shrinks on removal. New elements are zero-filled. Elements are moved with memmove, so the
// typed forms are meant for types that can be relocated bytewise.
#ifndef KTCRT_KT_BASIC_ARRAY_H
#define KTCRT_KT_BASIC_ARRAY_H

#include "kt_basic_mem.h"

#include <new>

class CKT_BasicArray : public CKT_Object
{
public:
    // A unit size above 0x10000000 (as unsigned) becomes 4.
    explicit CKT_BasicArray(int unitSize, _IKT_Allocator *pAllocator = nullptr);
    ~CKT_BasicArray();
    CKT_BasicArray(const CKT_BasicArray &) = delete;
    CKT_BasicArray &operator=(const CKT_BasicArray &) = delete;

    // Resizes to nNewSize elements; nGrowBy >= 0 replaces the stored grow-by (0 = automatic).
    // A negative or too large size empties the array and returns false; a failed growth leaves
    // the array unchanged and returns false.
    bool SetSize(int nNewSize, int nGrowBy = -1);
    // Append or replace with the other array's elements; false when growing fails or the unit
    // sizes differ.
    bool Append(const CKT_BasicArray &src);
    bool Copy(const CKT_BasicArray &src);
    // Makes room for nCount zero-filled elements at nIndex (past the end: the array grows to
    // nIndex + nCount). Returns the first new element, or null for bad arguments or failure.
    KT_BYTE *InsertSpaceAt(int nIndex, int nCount);
    // Inserts all elements of pNewArray at nIndex; false for a null array or failure.
    bool InsertAt(int nIndex, const CKT_BasicArray *pNewArray);
    // Removes nCount elements at nIndex; false when the range does not lie inside the array.
    bool RemoveAt(int nIndex, int nCount);
    // The element at nIndex, or null when out of range or without storage.
    void *GetDataPtr(int nIndex) const;

    int GetSize() const { return m_nSize; }
    int GetMaxSize() const { return m_nMaxSize; }
    int GetUnitSize() const { return m_nUnitSize; }
    _IKT_Allocator *GetAllocator() const { return m_pAllocator; }

protected:
    void FreeStorage();

    _IKT_Allocator *m_pAllocator;
    KT_BYTE *m_pData;
    int m_nSize;
    int m_nMaxSize;
    int m_nGrowBy;
    int m_nUnitSize;
};

// Typed array of plain values.
template <class T>
class CKT_ArrayTemplate : public CKT_BasicArray
{
public:
    explicit CKT_ArrayTemplate(_IKT_Allocator *pAllocator = nullptr)
        : CKT_BasicArray(sizeof(T), pAllocator)
    {}

    int GetSize() const { return m_nSize; }
    int GetUpperBound() const { return m_nSize - 1; }
    bool SetSize(int nNewSize, int nGrowBy = -1)
    {
        return CKT_BasicArray::SetSize(nNewSize, nGrowBy);
    }
    void RemoveAll() { SetSize(0); }

    // Requires: 0 <= nIndex < GetSize().
    const T GetAt(int nIndex) const
    {
        KTASSERT(nIndex >= 0 && nIndex < m_nSize);
        return GetData()[nIndex];
    }
    T &operator[](int nIndex)
    {
        KTASSERT(nIndex >= 0 && nIndex < m_nSize);
        return GetData()[nIndex];
    }
    const T &operator[](int nIndex) const
    {
        KTASSERT(nIndex >= 0 && nIndex < m_nSize);
        return GetData()[nIndex];
    }
    // False when nIndex is outside the array.
    bool SetAt(int nIndex, T value)
    {
        if (nIndex < 0 || nIndex >= m_nSize)
            return false;
        GetData()[nIndex] = value;
        return true;
    }
    T *GetData() { return reinterpret_cast<T *>(m_pData); }
    const T *GetData() const { return reinterpret_cast<const T *>(m_pData); }

    // Appends value; false when growing fails.
    bool Add(T value)
    {
        // value is taken by copy, so adding an element of this very array survives the move.
        if (m_nSize < m_nMaxSize) {
            GetData()[m_nSize++] = value;
            return true;
        }
        if (!SetSize(m_nSize + 1))
            return false;
        GetData()[m_nSize - 1] = value;
        return true;
    }
    using CKT_BasicArray::InsertAt;
    // Inserts nCount copies of value at nIndex; false for bad arguments or failure.
    bool InsertAt(int nIndex, T value, int nCount = 1)
    {
        T *p = reinterpret_cast<T *>(InsertSpaceAt(nIndex, nCount));
        if (!p)
            return false;
        for (int i = 0; i < nCount; i++)
            p[i] = value;
        return true;
    }
    bool RemoveAt(int nIndex, int nCount = 1) { return CKT_BasicArray::RemoveAt(nIndex, nCount); }
    // Index of the first element equal to value at or after nStart, or -1.
    int Find(const T &value, int nStart = 0) const
    {
        for (int i = nStart < 0 ? 0 : nStart; i < m_nSize; i++) {
            if (GetData()[i] == value)
                return i;
        }
        return -1;
    }
};

// Array of objects constructed in place in the array's storage.
template <class T>
class CKT_ObjectArray : public CKT_BasicArray
{
public:
    explicit CKT_ObjectArray(_IKT_Allocator *pAllocator = nullptr)
        : CKT_BasicArray(sizeof(T), pAllocator)
    {}
    ~CKT_ObjectArray() { RemoveAll(); }

    int GetSize() const { return m_nSize; }

    // Requires: 0 <= index < GetSize().
    T &operator[](int index)
    {
        KTASSERT(index >= 0);
        KTASSERT(index < m_nSize);
        return reinterpret_cast<T *>(m_pData)[index];
    }
    const T &operator[](int index) const
    {
        KTASSERT(index >= 0);
        KTASSERT(index < m_nSize);
        return reinterpret_cast<const T *>(m_pData)[index];
    }

    // Raw room for one more object at the end, to be constructed with placement new by the
    // caller; null when growing fails.
    void *AddSpace() { return InsertSpaceAt(m_nSize, 1); }
    // A default-constructed object at the end; null when growing fails.
    T *Add()
    {
        void *p = AddSpace();
        return p ? new (p) T() : nullptr;
    }
    // A copy of data at the end; null when growing fails.
    T *Add(const T &data)
    {
        // Copy first: data may live in this array and move when the storage grows.
        T copy(data);
        void *p = AddSpace();
        return p ? new (p) T(copy) : nullptr;
    }
    // Destroys the object at index and removes it. Requires: 0 <= index < GetSize().
    void RemoveAt(int index)
    {
        KTASSERT(index >= 0);
        KTASSERT(index < m_nSize);
        reinterpret_cast<T *>(m_pData)[index].~T();
        CKT_BasicArray::RemoveAt(index, 1);
    }
    // Destroys every object and releases the storage.
    void RemoveAll()
    {
        for (int i = 0; i < m_nSize; i++)
            reinterpret_cast<T *>(m_pData)[i].~T();
        SetSize(0);
    }
};

#endif // KTCRT_KT_BASIC_ARRAY_H
