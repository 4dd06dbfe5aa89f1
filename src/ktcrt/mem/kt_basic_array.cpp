// Untyped growable array.
#include "kt_basic_array.h"

#include <string.h>

namespace {

// Largest element count times unit size an array accepts.
const int kMaxArrayBytes = 0x10000000;

} // namespace

CKT_BasicArray::CKT_BasicArray(int unitSize, _IKT_Allocator *pAllocator)
    : m_pAllocator(pAllocator), m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(0),
      m_nUnitSize(static_cast<unsigned>(unitSize) > 0x10000000u ? 4 : unitSize)
{}

CKT_BasicArray::~CKT_BasicArray()
{
    FreeStorage();
}

void CKT_BasicArray::FreeStorage()
{
    KT_AllocatorFree(m_pAllocator, m_pData);
    m_pData = nullptr;
    m_nSize = 0;
    m_nMaxSize = 0;
}

bool CKT_BasicArray::SetSize(int nNewSize, int nGrowBy)
{
    if (nNewSize < 0 || (m_nUnitSize > 0 && nNewSize > kMaxArrayBytes / m_nUnitSize)) {
        FreeStorage();
        return false;
    }
    if (nGrowBy >= 0)
        m_nGrowBy = nGrowBy;
    if (nNewSize == 0) {
        FreeStorage();
        return true;
    }
    size_t unit = static_cast<size_t>(m_nUnitSize);
    if (!m_pData) {
        size_t bytes = static_cast<size_t>(nNewSize) * unit;
        void *p = m_pAllocator ? m_pAllocator->Alloc(m_pAllocator, bytes)
                               : KTMEM_DefaultAlloc2(bytes, 1, 0);
        if (!p) {
            m_nSize = 0;
            m_nMaxSize = 0;
            return false;
        }
        memset(p, 0, bytes);
        m_pData = static_cast<KT_BYTE *>(p);
        m_nSize = m_nMaxSize = nNewSize;
        return true;
    }
    if (nNewSize <= m_nMaxSize) {
        if (nNewSize > m_nSize)
            memset(m_pData + m_nSize * unit, 0, (nNewSize - m_nSize) * unit);
        m_nSize = nNewSize;
        return true;
    }
    int nStep = m_nGrowBy;
    if (nStep == 0) {
        nStep = m_nSize / 8;
        if (nStep < 4)
            nStep = 4;
        else if (nStep > 1024)
            nStep = 1024;
    }
    // Computed wide: the maximum plus a caller's grow-by may pass the int range.
    int64_t nWanted = static_cast<int64_t>(m_nMaxSize) + nStep;
    int64_t nNewMax = nNewSize > nWanted ? nNewSize : nWanted;
    if (nNewMax > INT32_MAX)
        return false;
    void *p;
    if (m_pAllocator) {
        uint64_t bytes = static_cast<uint64_t>(nNewMax) * unit;
        if (bytes > 0x7FFFFFFF)
            return false;
        p = m_pAllocator->Realloc(m_pAllocator, m_pData, static_cast<size_t>(bytes));
    } else {
        p = KTMEM_DefaultRealloc2(m_pData, static_cast<size_t>(nNewMax), unit, 0);
    }
    if (!p)
        return false;
    m_pData = static_cast<KT_BYTE *>(p);
    memset(m_pData + m_nSize * unit, 0, static_cast<size_t>(nNewMax - m_nSize) * unit);
    m_nMaxSize = static_cast<int>(nNewMax);
    m_nSize = nNewSize;
    return true;
}

bool CKT_BasicArray::Append(const CKT_BasicArray &src)
{
    if (src.m_nUnitSize != m_nUnitSize)
        return false;
    if (src.m_nSize == 0)
        return true;
    if (&src == this)
        return InsertAt(m_nSize, &src);
    int nOldSize = m_nSize;
    if (static_cast<int64_t>(nOldSize) + src.m_nSize > INT32_MAX ||
        !SetSize(nOldSize + src.m_nSize))
        return false;
    memcpy(m_pData + static_cast<size_t>(nOldSize) * m_nUnitSize, src.m_pData,
           static_cast<size_t>(src.m_nSize) * m_nUnitSize);
    return true;
}

bool CKT_BasicArray::Copy(const CKT_BasicArray &src)
{
    if (&src == this)
        return true;
    if (src.m_nUnitSize != m_nUnitSize)
        return false;
    if (!SetSize(src.m_nSize))
        return false;
    if (m_nSize)
        memcpy(m_pData, src.m_pData, static_cast<size_t>(m_nSize) * m_nUnitSize);
    return true;
}

KT_BYTE *CKT_BasicArray::InsertSpaceAt(int nIndex, int nCount)
{
    if (nIndex < 0 || nCount <= 0)
        return nullptr;
    // A size SetSize would reject must not reach it: there it would empty the array.
    int64_t nEnd = static_cast<int64_t>(nIndex >= m_nSize ? nIndex : m_nSize) + nCount;
    if (m_nUnitSize > 0 && nEnd > kMaxArrayBytes / m_nUnitSize)
        return nullptr;
    size_t unit = static_cast<size_t>(m_nUnitSize);
    if (nIndex >= m_nSize) {
        if (!SetSize(nIndex + nCount))
            return nullptr;
        return m_pData + nIndex * unit;
    }
    int nOldSize = m_nSize;
    if (!SetSize(nOldSize + nCount))
        return nullptr;
    KT_BYTE *pGap = m_pData + nIndex * unit;
    memmove(pGap + nCount * unit, pGap, (nOldSize - nIndex) * unit);
    memset(pGap, 0, nCount * unit);
    return pGap;
}

bool CKT_BasicArray::InsertAt(int nIndex, const CKT_BasicArray *pNewArray)
{
    if (!pNewArray || pNewArray->m_nUnitSize != m_nUnitSize)
        return false;
    int nCount = pNewArray->m_nSize;
    if (nCount == 0)
        return true;
    size_t bytes = static_cast<size_t>(nCount) * m_nUnitSize;
    if (pNewArray == this) {
        // Inserting an array into itself: take the elements aside before they move.
        void *pCopy = KTMEM_DefaultAlloc2(bytes, 1, 0);
        if (!pCopy)
            return false;
        memcpy(pCopy, m_pData, bytes);
        KT_BYTE *pGap = InsertSpaceAt(nIndex, nCount);
        if (pGap)
            memcpy(pGap, pCopy, bytes);
        KTMEM_DefaultFree(pCopy, 0);
        return pGap != nullptr;
    }
    KT_BYTE *pGap = InsertSpaceAt(nIndex, nCount);
    if (!pGap)
        return false;
    memcpy(pGap, pNewArray->m_pData, bytes);
    return true;
}

bool CKT_BasicArray::RemoveAt(int nIndex, int nCount)
{
    if (nIndex < 0 || nCount <= 0 || static_cast<int64_t>(nIndex) + nCount > m_nSize)
        return false;
    size_t unit = static_cast<size_t>(m_nUnitSize);
    int nMoveCount = m_nSize - nIndex - nCount;
    if (nMoveCount > 0)
        memmove(m_pData + nIndex * unit, m_pData + (nIndex + nCount) * unit, nMoveCount * unit);
    m_nSize -= nCount;
    return true;
}

void *CKT_BasicArray::GetDataPtr(int nIndex) const
{
    if (nIndex < 0 || nIndex >= m_nSize || !m_pData)
        return nullptr;
    return m_pData + static_cast<size_t>(nIndex) * m_nUnitSize;
}
