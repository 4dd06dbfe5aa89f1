// Growable byte buffers.
#include "kt_basic_buffer.h"

#include <stdio.h>

namespace {

const size_t kMaxBufferBytes = 0x7FFFFFFF;

} // namespace

CKT_BinaryBuf::CKT_BinaryBuf(_IKT_Allocator *pAllocator)
    : m_AllocStep(0), m_pBuffer(nullptr), m_DataSize(0), m_AllocSize(0), m_pAllocator(pAllocator)
{}

CKT_BinaryBuf::~CKT_BinaryBuf()
{
    DeleteBuf();
}

void CKT_BinaryBuf::DeleteBuf()
{
    KT_AllocatorFree(m_pAllocator, m_pBuffer);
    m_pBuffer = nullptr;
    m_DataSize = 0;
    m_AllocSize = 0;
}

KT_BYTE *CKT_BinaryBuf::DetachBuffer()
{
    KT_BYTE *p = m_pBuffer;
    m_pBuffer = nullptr;
    m_DataSize = 0;
    m_AllocSize = 0;
    return p;
}

bool CKT_BinaryBuf::Grow(size_t needed, size_t step)
{
    if (needed <= m_AllocSize)
        return true;
    if (needed > kMaxBufferBytes)
        return false;
    if (step == 0) {
        step = m_AllocSize / 4;
        if (step < 128)
            step = 128;
    }
    size_t newSize = (needed + step - 1) / step * step;
    if (newSize > kMaxBufferBytes)
        newSize = needed;
    void *p = m_pBuffer ? KT_AllocatorRealloc(m_pAllocator, m_pBuffer, newSize)
                        : KT_AllocatorAlloc(m_pAllocator, newSize);
    if (!p)
        return false;
    m_pBuffer = static_cast<KT_BYTE *>(p);
    m_AllocSize = newSize;
    return true;
}

bool CKT_BinaryBuf::EstimateSize(size_t size, size_t alloc_step)
{
    if (alloc_step)
        m_AllocStep = alloc_step;
    if (size <= m_AllocSize)
        return true;
    return Grow(size, size);
}

bool CKT_BinaryBuf::ExpandBuf(size_t add_size)
{
    if (add_size > kMaxBufferBytes - m_DataSize)
        return false;
    return Grow(m_DataSize + add_size, m_AllocStep);
}

bool CKT_BinaryBuf::AppendBlock(const void *pBuf, size_t size)
{
    return InsertBlock(m_DataSize, pBuf, size);
}

bool CKT_BinaryBuf::InsertBlock(size_t pos, const void *pBuf, size_t size)
{
    if (size == 0)
        return true;
    if (pos > m_DataSize)
        pos = m_DataSize;
    // The source may be this buffer's own bytes, which growing moves and the insertion
    // shifts: it is remembered as an offset and read from where its bytes end up.
    const KT_BYTE *pSource = static_cast<const KT_BYTE *>(pBuf);
    const bool bOwn = pSource && m_pBuffer && pSource >= m_pBuffer &&
                      pSource < m_pBuffer + m_DataSize;
    const size_t offset = bOwn ? static_cast<size_t>(pSource - m_pBuffer) : 0;
    if (!ExpandBuf(size))
        return false;
    memmove(m_pBuffer + pos + size, m_pBuffer + pos, m_DataSize - pos);
    if (bOwn) {
        // Bytes before pos stayed, those from pos on moved up by size.
        const size_t before = offset < pos ? (pos - offset < size ? pos - offset : size) : 0;
        memcpy(m_pBuffer + pos, m_pBuffer + offset, before);
        memcpy(m_pBuffer + pos + before, m_pBuffer + offset + before + size, size - before);
    } else if (pSource) {
        memcpy(m_pBuffer + pos, pSource, size);
    }
    m_DataSize += size;
    return true;
}

void CKT_BinaryBuf::Delete(size_t start, size_t count)
{
    if (start >= m_DataSize)
        return;
    if (count > m_DataSize - start)
        count = m_DataSize - start;
    memmove(m_pBuffer + start, m_pBuffer + start + count, m_DataSize - start - count);
    m_DataSize -= count;
}

CKT_ByteTextBuf &CKT_ByteTextBuf::operator<<(const CKT_ByteStringC &str)
{
    AppendString(str);
    return *this;
}

CKT_ByteTextBuf &CKT_ByteTextBuf::operator<<(int i)
{
    return *this << CKT_ByteString::FormatInteger(i, 1);
}

CKT_ByteTextBuf &CKT_ByteTextBuf::operator<<(unsigned int i)
{
    return *this << CKT_ByteString::FormatInteger(static_cast<int>(i), 0);
}

CKT_ByteTextBuf &CKT_ByteTextBuf::operator<<(double f)
{
    char text[32];
    int len = KT_ftoa(static_cast<float>(f), text);
    AppendBlock(text, static_cast<size_t>(len));
    return *this;
}

CKT_WideTextBuf &CKT_WideTextBuf::operator<<(const CKT_WideStringC &str)
{
    AppendBlock(str.GetPtr(), static_cast<size_t>(str.GetLength()) * sizeof(wchar_t));
    return *this;
}

CKT_WideTextBuf &CKT_WideTextBuf::operator<<(int i)
{
    CKT_ByteString text = CKT_ByteString::FormatInteger(i, 1);
    for (int n = 0; n < text.GetLength(); n++)
        AppendChar(static_cast<wchar_t>(text[n]));
    return *this;
}
