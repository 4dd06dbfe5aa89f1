// Internals of the XML reader and writer: the data accessors, the parser and the growable
// buffers they collect text in.
#ifndef KTCRT_XML_INT_H
#define KTCRT_XML_INT_H

#include "kt_xml.h"

#include <cstdint>

namespace ktxml {

void *Alloc(_IKT_Allocator *pAllocator, size_t size);
void *Realloc(_IKT_Allocator *pAllocator, void *p, size_t size);
void Free(_IKT_Allocator *pAllocator, void *p);

// A growable array of plain values (characters, or records without constructors) on the
// default manager, reused across a whole parse.
template <typename T> class GrowBuf
{
public:
    GrowBuf() = default;
    GrowBuf(const GrowBuf &) = delete;
    GrowBuf &operator=(const GrowBuf &) = delete;
    ~GrowBuf() { Free(nullptr, m_pData); }

    void Clear() { m_nSize = 0; }
    size_t Size() const { return m_nSize; }
    const T *Data() const { return m_pData; }
    T *Data() { return m_pData; }
    bool Push(T c)
    {
        if (m_nSize == m_nMax && !Grow(m_nSize + 1))
            return false;
        m_pData[m_nSize++] = c;
        return true;
    }
    bool Append(const T *p, size_t n)
    {
        if (m_nSize + n > m_nMax && !Grow(m_nSize + n))
            return false;
        for (size_t i = 0; i < n; ++i)
            m_pData[m_nSize + i] = p[i];
        m_nSize += n;
        return true;
    }
    // Makes room for n more characters; null on exhaustion. Commit(k) then keeps k of them.
    T *Reserve(size_t n)
    {
        if (m_nSize + n > m_nMax && !Grow(m_nSize + n))
            return nullptr;
        return m_pData + m_nSize;
    }
    void Commit(size_t n) { m_nSize += n; }
    void Truncate(size_t n)
    {
        if (n < m_nSize)
            m_nSize = n;
    }

private:
    bool Grow(size_t need)
    {
        size_t cap = m_nMax ? m_nMax : 64;
        while (cap < need)
            cap += cap / 2;
        if (cap > 0x7FFFFFF0u / sizeof(T))
            return false;
        T *p = static_cast<T *>(Realloc(nullptr, m_pData, cap * sizeof(T)));
        if (!p)
            return false;
        m_pData = p;
        m_nMax = cap;
        return true;
    }

    T *m_pData = nullptr;
    size_t m_nSize = 0;
    size_t m_nMax = 0;
};

typedef GrowBuf<char> ByteBuf;
typedef GrowBuf<wchar_t> WideBuf;

// Appends the UTF-8 form of one character (1 to 6 bytes; negative values write nothing).
void AppendUTF8(ByteBuf &out, wchar_t c);

} // namespace ktxml

// A text child: the CDATA flag and the text, whose characters follow the record in the same
// allocation (see ktxml::NewContent).
struct CXML_Content
{
    int m_bCDATA;
    CKT_WideStringL m_Content;
};

namespace ktxml {

// A content record with a copy of n characters behind it, in one allocation; null when memory
// runs out. No characters leave m_Content empty (null pointer), as for any empty string.
CXML_Content *NewContent(_IKT_Allocator *pAllocator, const wchar_t *text, size_t n, int bCDATA);
inline void FreeContent(_IKT_Allocator *pAllocator, CXML_Content *pContent)
{
    Free(pAllocator, pContent);
}

// Bytes before the items in an attribute block: the first word holds the block's byte size,
// the second 1 when the block is an allocation of its own and 0 when it shares its element's.
enum
{
    kAttrBlockHead = 16
};

} // namespace ktxml

// The whole memory buffer as one block.
class CXML_DataBufAcc final : public IKT_BufferRead
{
public:
    CXML_DataBufAcc(const unsigned char *pBuffer, size_t size) : m_pBuffer(pBuffer), m_nSize(size)
    {
    }
    ~CXML_DataBufAcc() override = default;
    void Release() override { delete this; }
    bool IsEOF() override { return m_nPosition >= m_nSize; }
    long long GetPosition() override { return (long long)m_nPosition; }
    size_t ReadBlock(void *, size_t) override { return 0; }
    bool ReadNextBlock(bool restart) override;
    const unsigned char *GetBlockBuffer() override { return m_pBuffer; }
    size_t GetBlockSize() override { return m_nSize; }
    long long GetBlockOffset() override { return 0; }

private:
    const unsigned char *m_pBuffer;
    size_t m_nSize;
    size_t m_nPosition = 0;
};

// A file read in blocks of at most 32768 bytes into one buffer kept for the accessor's life.
class CXML_DataStmAcc final : public IKT_BufferRead
{
public:
    enum
    {
        kBlockSize = 32768
    };
    explicit CXML_DataStmAcc(IKT_FileRead *pFileRead);
    ~CXML_DataStmAcc() override;
    void Release() override { delete this; }
    bool IsEOF() override;
    long long GetPosition() override { return m_nBufferOffset + (long long)m_nBufferSize; }
    size_t ReadBlock(void *, size_t) override { return 0; }
    bool ReadNextBlock(bool restart) override;
    const unsigned char *GetBlockBuffer() override { return m_pBuffer; }
    size_t GetBlockSize() override { return m_nBufferSize; }
    long long GetBlockOffset() override { return m_nBufferOffset; }

private:
    IKT_FileRead *m_pFileRead;
    unsigned char *m_pBuffer = nullptr;
    size_t m_nBufferSize = 0;
    long long m_nBufferOffset = 0;
};

class CXML_Parser
{
public:
    CXML_Parser() = default;
    CXML_Parser(const CXML_Parser &) = delete;
    CXML_Parser &operator=(const CXML_Parser &) = delete;
    ~CXML_Parser();

    // The parser takes ownership of owned accessors and releases them itself.
    bool Init(IKT_BufferRead *pAccessor, bool bOwned, bool bKeepWhitespace,
              _IKT_Allocator *pAllocator);
    // Parses the root element; null when there is none.
    CXML_Element *ParseRoot();
    // Offset in the whole input just past what was read.
    long long CurrentOffset() const { return m_nBufferOffset + (long long)m_nIndex; }

private:
    // Whether a byte is available, fetching the next block when this one is used up.
    bool HaveByte() { return m_nIndex < m_nBufferSize || NextBlock(); }
    bool NextBlock();
    bool IsEOF() { return !HaveByte(); }
    void SkipWhiteSpaces();
    void GetName(ktxml::ByteBuf &prefix, ktxml::ByteBuf &name);
    void SkipLiterial(const char *literal, size_t length);
    wchar_t GetCharRef();
    // Appends the decoded value to value.
    void GetAttrValue(ktxml::WideBuf &value);
    void AddPendingAttr();
    int FindPendingAttr() const;
    void IndexPendingAttr(size_t index);
    void RebuildAttrIndex();
    static uint32_t QNameHash(const char *prefix, size_t prefixLen, const char *name,
                              size_t nameLen);
    // Bytes of the attribute block for the pending attributes (0 for none); false when too big.
    bool AttrBlockBytes(size_t &bytes) const;
    // Builds the attribute block for the pending attributes in block and hands it to map.
    // bOwned: the block is an allocation of its own, freed with the map.
    void FillAttrBlock(CXML_AttrMap &map, char *block, size_t bytes, bool bOwned);
    // The element for the tag just read (m_TagPrefix, m_TagName) with the pending attributes.
    CXML_Element *NewElement(CXML_Element *pParent);
    bool CommitChildren(CXML_Element *pElement, size_t base);
    void PushChild(CXML_Element *pElement, int type, void *pChild);
    bool GetTagStart(bool bStartTag, bool &bEndTag, ktxml::ByteBuf &prefix, ktxml::ByteBuf &name);
    CXML_Element *ParseElement(CXML_Element *pParent, bool bStartTag, int depth);
    void InsertContentSegment(CXML_Element *pElement);

    _IKT_Allocator *m_pAllocator = nullptr;
    IKT_BufferRead *m_pDataAcc = nullptr;
    bool m_bOwnedStream = false;
    bool m_bSaveSpaceChars = false;
    const unsigned char *m_pBuffer = nullptr;
    size_t m_nBufferSize = 0;
    long long m_nBufferOffset = 0;
    size_t m_nIndex = 0;
    bool m_bEnded = false;

    // Scratch buffers reused across the parse; names and values are copied out of them once.
    ktxml::ByteBuf m_Prefix, m_Name, m_RefName;
    // Name of the tag being read; m_Prefix and m_Name then collect its attribute names.
    ktxml::ByteBuf m_TagPrefix, m_TagName;
    ktxml::WideBuf m_Text;

    // Attributes of the start tag being read, kept here so that each element gets an array of
    // exactly the right size: offsets into m_AttrNames (prefix, then name) and m_AttrValues.
    struct PendingAttr
    {
        size_t m_nPrefix, m_nPrefixLen, m_nName, m_nNameLen, m_nValue, m_nValueLen;
    };
    bool PendingNameIs(const PendingAttr &attr) const;
    bool PendingPrefixIs(const PendingAttr &attr) const;
    ktxml::GrowBuf<PendingAttr> m_Attrs;
    // From this many attributes on, matches are found through hash tables of pending indexes
    // + 1 (0 = free): by local name (first of each name) and by prefix and name.
    enum
    {
        kIndexedAttrs = 64
    };
    ktxml::GrowBuf<uint32_t> m_NameSlots, m_QNameSlots;
    size_t m_nSlotMask = 0;
    bool m_bAttrsIndexed = false;
    // Below kIndexedAttrs, a bit per hash of the local names seen in this tag: most attributes
    // are new, and a clear bit proves it without a scan.
    static size_t NameFilterBit(const char *name, size_t n)
    {
        return n ? (n * 7 + (unsigned char)name[0] * 3 + (unsigned char)name[n - 1]) & 255 : 0;
    }
    uint64_t m_NameFilter[4] = {};
    ktxml::ByteBuf m_AttrNames;
    ktxml::WideBuf m_AttrValues;
    // Children of every open element, innermost last; an element takes its own slice when it
    // ends, again into an array of exactly the right size.
    struct PendingChild
    {
        int m_nType;
        void *m_pChild;
    };
    ktxml::GrowBuf<PendingChild> m_Children;
    // Pending UTF-8 state of the text decoder.
    int m_nPending = 0;
    uint32_t m_nPartial = 0;
};

#endif // KTCRT_XML_INT_H
