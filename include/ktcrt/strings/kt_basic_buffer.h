// Growable byte buffers behind the text codecs and writers.
//
// CKT_BinaryBuf owns one block from its allocator (the default manager when null). When an
// append does not fit, the capacity becomes the needed size rounded up to a multiple of the
// step: the configured step, or when that is 0 a quarter of the current capacity but at least
// 128 bytes. Sizes are limited to 0x7FFFFFFF bytes; a failed growth leaves the content as it
// was and the append returns false.
#ifndef KTCRT_KT_BASIC_BUFFER_H
#define KTCRT_KT_BASIC_BUFFER_H

#include "kt_basic_string.h"

class CKT_BinaryBuf : public CKT_Object
{
public:
    explicit CKT_BinaryBuf(_IKT_Allocator *pAllocator = nullptr);
    ~CKT_BinaryBuf();
    CKT_BinaryBuf(const CKT_BinaryBuf &) = delete;
    CKT_BinaryBuf &operator=(const CKT_BinaryBuf &) = delete;

    // 0 selects the automatic step.
    void SetAllocStep(size_t step) { m_AllocStep = step; }
    // Makes room for at least size bytes in total; false when memory runs out.
    bool EstimateSize(size_t size, size_t alloc_step = 0);
    // Makes room for add_size more bytes than are in use, by the growth rule.
    bool ExpandBuf(size_t add_size);
    bool AppendBlock(const void *pBuf, size_t size);
    bool AppendString(const CKT_ByteStringC &str)
    {
        return AppendBlock(str.GetPtr(), str.GetLength());
    }
    bool AppendByte(KT_BYTE byte)
    {
        if (m_DataSize < m_AllocSize) {
            m_pBuffer[m_DataSize++] = byte;
            return true;
        }
        return AppendBlock(&byte, 1);
    }
    // Inserts at pos (clamped to the size).
    bool InsertBlock(size_t pos, const void *pBuf, size_t size);
    // Removes up to count bytes at start.
    void Delete(size_t start, size_t count);
    // Size 0; the block is kept for reuse.
    void Clear() { m_DataSize = 0; }
    // Frees the block.
    void DeleteBuf();
    // Hands the block to the caller, who frees it through the same allocator; the buffer is
    // empty afterwards.
    KT_BYTE *DetachBuffer();

    KT_BYTE *GetBuffer() const { return m_pBuffer; }
    size_t GetSize() const { return m_DataSize; }
    size_t GetAllocSize() const { return m_AllocSize; }
    CKT_ByteStringC GetByteString() const
    {
        return CKT_ByteStringC(m_pBuffer, static_cast<int>(m_DataSize));
    }
    _IKT_Allocator *GetAllocator() const { return m_pAllocator; }

protected:
    bool Grow(size_t needed, size_t step);

    size_t m_AllocStep;
    KT_BYTE *m_pBuffer;
    size_t m_DataSize;
    size_t m_AllocSize;
    _IKT_Allocator *m_pAllocator;
};

// Byte text with stream-style appends.
class CKT_ByteTextBuf : public CKT_BinaryBuf
{
public:
    explicit CKT_ByteTextBuf(_IKT_Allocator *pAllocator = nullptr) : CKT_BinaryBuf(pAllocator) {}

    int GetLength() const { return static_cast<int>(m_DataSize); }
    CKT_ByteTextBuf &operator<<(const CKT_ByteStringC &str);
    CKT_ByteTextBuf &operator<<(const char *str) { return *this << CKT_ByteStringC(str); }
    CKT_ByteTextBuf &operator<<(const CKT_ByteString &str) { return *this << CKT_ByteStringC(str); }
    // Signed decimal text.
    CKT_ByteTextBuf &operator<<(int i);
    CKT_ByteTextBuf &operator<<(unsigned int i);
    CKT_ByteTextBuf &operator<<(double f);
};

// Wide text, four bytes per character.
class CKT_WideTextBuf : public CKT_BinaryBuf
{
public:
    explicit CKT_WideTextBuf(_IKT_Allocator *pAllocator = nullptr) : CKT_BinaryBuf(pAllocator) {}

    bool AppendChar(wchar_t wch)
    {
        if (m_DataSize + sizeof(wchar_t) <= m_AllocSize) {
            memcpy(m_pBuffer + m_DataSize, &wch, sizeof(wchar_t));
            m_DataSize += sizeof(wchar_t);
            return true;
        }
        return AppendBlock(&wch, sizeof(wchar_t));
    }
    int GetLength() const { return static_cast<int>(m_DataSize / sizeof(wchar_t)); }
    wchar_t *GetBuffer() const { return reinterpret_cast<wchar_t *>(m_pBuffer); }
    CKT_WideStringC GetWideString() const { return CKT_WideStringC(GetBuffer(), GetLength()); }
    void Delete(int start, int count)
    {
        CKT_BinaryBuf::Delete(static_cast<size_t>(start) * sizeof(wchar_t),
                              static_cast<size_t>(count) * sizeof(wchar_t));
    }

    CKT_WideTextBuf &operator<<(const CKT_WideStringC &str);
    CKT_WideTextBuf &operator<<(const wchar_t *str) { return *this << CKT_WideStringC(str); }
    CKT_WideTextBuf &operator<<(const CKT_WideString &str) { return *this << CKT_WideStringC(str); }
    CKT_WideTextBuf &operator<<(int i);
};

#endif // KTCRT_KT_BASIC_BUFFER_H
