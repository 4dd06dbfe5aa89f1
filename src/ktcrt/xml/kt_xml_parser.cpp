// XML reader and element tree.
#include "xml_int.h"

#include "kt_basic_utf.h"

#include <cstring>
#include <new>

const unsigned char g_KTCRT_XML_ByteTypes[256] = {
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10, 0x00,
    0x34, 0x34, 0x34, 0x34, 0x34, 0x34, 0x34, 0x34, 0x34, 0x34, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x7A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x18,
    0x00, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A,
    0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x1A, 0x01, 0x01,
};

namespace ktxml {

void *Alloc(_IKT_Allocator *pAllocator, size_t size)
{
    return KT_AllocatorAlloc(pAllocator, size);
}

void *Realloc(_IKT_Allocator *pAllocator, void *p, size_t size)
{
    // A caller's allocator is not asked to reallocate a null block.
    return p ? KT_AllocatorRealloc(pAllocator, p, size) : KT_AllocatorAlloc(pAllocator, size);
}

void Free(_IKT_Allocator *pAllocator, void *p)
{
    KT_AllocatorFree(pAllocator, p);
}

CXML_Content *NewContent(_IKT_Allocator *pAllocator, const wchar_t *text, size_t n, int bCDATA)
{
    if (!text)
        n = 0;
    if (n > size_t(0x7FFFFFF0 - sizeof(CXML_Content)) / sizeof(wchar_t) - 1)
        return nullptr;
    const size_t bytes = sizeof(CXML_Content) + (n ? (n + 1) * sizeof(wchar_t) : 0);
    CXML_Content *pContent = static_cast<CXML_Content *>(Alloc(pAllocator, bytes));
    if (!pContent)
        return nullptr;
    new (pContent) CXML_Content();
    pContent->m_bCDATA = bCDATA;
    if (n) {
        wchar_t *chars = reinterpret_cast<wchar_t *>(pContent + 1);
        memcpy(chars, text, n * sizeof(wchar_t));
        chars[n] = 0;
        static_cast<CKT_WideStringC &>(pContent->m_Content) = CKT_WideStringC(chars, int(n));
    }
    return pContent;
}

} // namespace ktxml

namespace {

inline unsigned HexValue(unsigned char b)
{
    if (b <= '9')
        return b - '0';
    if (b >= 'a')
        return b - 'a' + 10;
    return b - 'A' + 10;
}

inline bool IsTrimmedSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// Grows an array of plain items through an allocator; false (array unchanged) on exhaustion.
template <typename T> bool GrowArray(_IKT_Allocator *pAllocator, T *&pItems, int &nMax, int nNeed)
{
    if (nNeed <= nMax)
        return true;
    if (nNeed > 0x7FFFFFF0 / int(sizeof(T)))
        return false;
    int nNew = nMax + nMax / 2;
    if (nNew < 4)
        nNew = 4;
    if (nNew < nNeed || nNew > 0x7FFFFFF0 / int(sizeof(T)))
        nNew = nNeed;
    T *p = static_cast<T *>(ktxml::Realloc(pAllocator, pItems, size_t(nNew) * sizeof(T)));
    if (!p)
        return false;
    pItems = p;
    nMax = nNew;
    return true;
}

CKT_ByteStringC View(const ktxml::ByteBuf &buf)
{
    return CKT_ByteStringC(buf.Data(), int(buf.Size()));
}

} // namespace

void KT_XML_SplitQualifiedName(const CKT_ByteStringC &full, CKT_ByteStringC &prefix,
                               CKT_ByteStringC &name)
{
    if (full.GetLength() == 0)
        return;
    const char *p = full.GetCStr();
    const void *colon = memchr(p, ':', size_t(full.GetLength()));
    if (!colon) {
        name = full;
        return;
    }
    const int at = int(static_cast<const char *>(colon) - p);
    prefix = CKT_ByteStringC(p, at);
    name = CKT_ByteStringC(p + at + 1, full.GetLength() - at - 1);
}

// ---- accessors ----------------------------------------------------------------------------

bool CXML_DataBufAcc::ReadNextBlock(bool restart)
{
    if (restart)
        m_nPosition = 0;
    if (m_nPosition >= m_nSize)
        return false;
    m_nPosition = m_nSize;
    return true;
}

CXML_DataStmAcc::CXML_DataStmAcc(IKT_FileRead *pFileRead) : m_pFileRead(pFileRead)
{
    KTASSERT(m_pFileRead != NULL);
}

CXML_DataStmAcc::~CXML_DataStmAcc()
{
    ktxml::Free(nullptr, m_pBuffer);
}

bool CXML_DataStmAcc::IsEOF()
{
    return m_nBufferOffset + (long long)m_nBufferSize >= m_pFileRead->GetSize();
}

bool CXML_DataStmAcc::ReadNextBlock(bool restart)
{
    if (restart) {
        m_nBufferOffset = 0;
        m_nBufferSize = 0;
    }
    const long long nFileSize = m_pFileRead->GetSize();
    const long long nNext = m_nBufferOffset + (long long)m_nBufferSize;
    if (nNext >= nFileSize)
        return false;
    m_nBufferOffset = nNext;
    m_nBufferSize = 0;
    const long long nLeft = nFileSize - nNext;
    const size_t nBlock = nLeft < kBlockSize ? size_t(nLeft) : size_t(kBlockSize);
    if (!m_pBuffer) {
        m_pBuffer = static_cast<unsigned char *>(ktxml::Alloc(nullptr, kBlockSize));
        if (!m_pBuffer)
            return false;
    }
    if (!m_pFileRead->ReadBlock(m_pBuffer, nNext, nBlock))
        return false;
    m_nBufferSize = nBlock;
    return true;
}

// ---- parser -------------------------------------------------------------------------------

CXML_Parser::~CXML_Parser()
{
    if (m_bOwnedStream && m_pDataAcc)
        m_pDataAcc->Release();
}

bool CXML_Parser::Init(IKT_BufferRead *pAccessor, bool bOwned, bool bKeepWhitespace,
                       _IKT_Allocator *pAllocator)
{
    m_pDataAcc = pAccessor;
    m_bOwnedStream = bOwned;
    m_bSaveSpaceChars = bKeepWhitespace;
    m_pAllocator = pAllocator;
    return pAccessor != nullptr;
}

bool CXML_Parser::NextBlock()
{
    while (!m_bEnded) {
        // A failed read ends the input for good, so a broken file cannot make the parser spin.
        if (m_pDataAcc->IsEOF() || !m_pDataAcc->ReadNextBlock(false)) {
            m_bEnded = true;
            return false;
        }
        m_pBuffer = m_pDataAcc->GetBlockBuffer();
        m_nBufferSize = m_pBuffer ? m_pDataAcc->GetBlockSize() : 0;
        m_nBufferOffset = m_pDataAcc->GetBlockOffset();
        m_nIndex = 0;
        if (m_nBufferSize > 0)
            return true;
    }
    return false;
}

void CXML_Parser::SkipWhiteSpaces()
{
    while (HaveByte()) {
        while (m_nIndex < m_nBufferSize) {
            if (!g_KTCRT_XML_IsWhiteSpace(m_pBuffer[m_nIndex]))
                return;
            ++m_nIndex;
        }
    }
}

void CXML_Parser::GetName(ktxml::ByteBuf &prefix, ktxml::ByteBuf &name)
{
    prefix.Clear();
    name.Clear();
    while (HaveByte()) {
        const unsigned char *start = m_pBuffer + m_nIndex;
        const unsigned char *p = start;
        const unsigned char *end = m_pBuffer + m_nBufferSize;
        while (p < end) {
            const unsigned char b = *p;
            if (b == ':') {
                // Each colon starts the local name afresh; the part before it becomes the prefix.
                name.Append(reinterpret_cast<const char *>(start), size_t(p - start));
                prefix.Clear();
                prefix.Append(name.Data(), name.Size());
                name.Clear();
                start = ++p;
                continue;
            }
            if (!g_KTCRT_XML_IsNameChar(b))
                break;
            ++p;
        }
        name.Append(reinterpret_cast<const char *>(start), size_t(p - start));
        m_nIndex = size_t(p - m_pBuffer);
        if (p < end)
            return;
    }
}

void CXML_Parser::SkipLiterial(const char *literal, size_t length)
{
    size_t matched = 0;
    while (HaveByte()) {
        const unsigned char *p = m_pBuffer + m_nIndex;
        const unsigned char *end = m_pBuffer + m_nBufferSize;
        while (p < end) {
            if (matched == 0) {
                const void *hit = memchr(p, literal[0], size_t(end - p));
                if (!hit) {
                    p = end;
                    break;
                }
                p = static_cast<const unsigned char *>(hit) + 1;
                matched = 1;
            } else if (*p++ == (unsigned char)literal[matched]) {
                ++matched;
            } else {
                // The mismatching byte is not compared against the literal's start again.
                matched = 0;
                continue;
            }
            if (matched == length) {
                m_nIndex = size_t(p - m_pBuffer);
                return;
            }
        }
        m_nIndex = size_t(p - m_pBuffer);
    }
}

wchar_t CXML_Parser::GetCharRef()
{
    if (!HaveByte())
        return 0;
    if (m_pBuffer[m_nIndex] == '#') {
        ++m_nIndex;
        bool bHex = false;
        if (HaveByte() && m_pBuffer[m_nIndex] == 'x') {
            ++m_nIndex;
            bHex = true;
        }
        // Unsigned arithmetic: absurdly long references wrap instead of overflowing.
        uint32_t code = 0;
        while (HaveByte()) {
            const unsigned char b = m_pBuffer[m_nIndex++];
            if (b == ';')
                break;
            if (bHex) {
                if (g_KTCRT_XML_IsHexChar(b))
                    code = code * 16u + HexValue(b);
            } else if (g_KTCRT_XML_IsDigital(b)) {
                code = code * 10u + (b - '0');
            }
        }
        return wchar_t(code);
    }
    m_RefName.Clear();
    bool bTooLong = false;
    while (HaveByte()) {
        const unsigned char b = m_pBuffer[m_nIndex++];
        if (b == ';')
            break;
        if (m_RefName.Size() < 4)
            m_RefName.Push(char(b));
        else
            bTooLong = true;
    }
    if (bTooLong)
        return 0;
    const CKT_ByteStringC name = View(m_RefName);
    if (name == CKT_ByteStringC("gt"))
        return L'>';
    if (name == CKT_ByteStringC("lt"))
        return L'<';
    if (name == CKT_ByteStringC("amp"))
        return L'&';
    if (name == CKT_ByteStringC("apos"))
        return L'\'';
    if (name == CKT_ByteStringC("quot"))
        return L'"';
    return 0;
}

namespace {

// Decodes UTF-8 from p towards end into out, stopping before the first byte equal to stop1 or
// stop2; returns where it stopped. Malformed bytes are dropped and a sequence cut by the end
// stays pending. Scanning and decoding happen in one pass, a bounded run at a time, so that
// the scratch buffer never grows by more than the text itself. When the buffer cannot grow the
// text is skipped.
const unsigned char *DecodeUntil(const unsigned char *p, const unsigned char *end,
                                 unsigned char stop1, unsigned char stop2, ktxml::WideBuf &out,
                                 int &pendingRef, uint32_t &partialRef)
{
    int pending = pendingRef;
    uint32_t partial = partialRef;
    while (p < end) {
        const size_t run = size_t(end - p) < 4096 ? size_t(end - p) : 4096;
        const unsigned char *runEnd = p + run;
        wchar_t *const first = out.Reserve(run);
        if (!first) {
            while (p < end && *p != stop1 && *p != stop2)
                ++p;
            break;
        }
        wchar_t *o = first;
        bool bStopped = false;
        for (; p < runEnd; ++p) {
            const unsigned char b = *p;
            if (b < 0x80) {
                if (b == stop1 || b == stop2) {
                    bStopped = true;
                    break;
                }
                pending = 0;
                *o++ = wchar_t(b);
            } else if (b < 0xC0) {
                if (pending) {
                    --pending;
                    partial |= uint32_t(b & 0x3F) << (6 * pending);
                    if (!pending)
                        *o++ = wchar_t(partial);
                }
            } else if (b < 0xE0) {
                pending = 1;
                partial = uint32_t(b & 0x1F) << 6;
            } else if (b < 0xF0) {
                pending = 2;
                partial = uint32_t(b & 0x0F) << 12;
            } else if (b < 0xF8) {
                pending = 3;
                partial = uint32_t(b & 0x07) << 18;
            } else if (b < 0xFC) {
                pending = 4;
                partial = uint32_t(b & 0x03) << 24;
            } else if (b < 0xFE) {
                pending = 5;
                partial = uint32_t(b & 0x01) << 30;
            }
        }
        out.Commit(size_t(o - first));
        if (bStopped)
            break;
    }
    pendingRef = pending;
    partialRef = partial;
    return p;
}

} // namespace

void CXML_Parser::GetAttrValue(ktxml::WideBuf &value)
{
    if (!HaveByte())
        return;
    const unsigned char quote = m_pBuffer[m_nIndex];
    if (quote != '"' && quote != '\'')
        return;
    ++m_nIndex;
    int pending = 0;
    uint32_t partial = 0;
    while (HaveByte()) {
        const unsigned char *end = m_pBuffer + m_nBufferSize;
        const unsigned char *q =
            DecodeUntil(m_pBuffer + m_nIndex, end, quote, '&', value, pending, partial);
        m_nIndex = size_t(q - m_pBuffer);
        if (q == end)
            continue;
        ++m_nIndex;
        if (*q == quote)
            return;
        pending = 0;
        value.Push(GetCharRef());
    }
}

bool CXML_Parser::GetTagStart(bool bStartTag, bool &bEndTag, ktxml::ByteBuf &prefix,
                              ktxml::ByteBuf &name)
{
    for (;;) {
        if (!bStartTag) {
            for (;;) {
                if (!HaveByte())
                    return false;
                const unsigned char *p = m_pBuffer + m_nIndex;
                const void *lt = memchr(p, '<', m_nBufferSize - m_nIndex);
                if (lt) {
                    m_nIndex = size_t(static_cast<const unsigned char *>(lt) - m_pBuffer) + 1;
                    break;
                }
                m_nIndex = m_nBufferSize;
            }
        }
        bStartTag = false;
        if (!HaveByte())
            return false;
        const unsigned char b = m_pBuffer[m_nIndex];
        if (b == '?') {
            ++m_nIndex;
            SkipLiterial("?>", 2);
            continue;
        }
        if (b == '!') {
            // Whatever construct follows "<!", a document type declaration included, it is
            // skipped up to the next "-->".
            ++m_nIndex;
            SkipLiterial("-->", 3);
            continue;
        }
        if (b == '/') {
            ++m_nIndex;
            bEndTag = true;
        }
        GetName(prefix, name);
        return true;
    }
}

void CXML_Parser::PushChild(CXML_Element *pElement, int type, void *pChild)
{
    if (!m_Children.Push(PendingChild{type, pChild}))
        pElement->FreeChild(CXML_Element::ChildSlot{type, pChild});
}

void CXML_Parser::InsertContentSegment(CXML_Element *pElement)
{
    size_t n = m_Text.Size();
    const wchar_t *text = m_Text.Data();
    if (!m_bSaveSpaceChars)
        while (n && IsTrimmedSpace(text[n - 1]))
            --n;
    if (n) {
        CXML_Content *pContent = ktxml::NewContent(m_pAllocator, text, n, 0);
        if (pContent)
            PushChild(pElement, CXML_Element::Content, pContent);
    }
    m_Text.Clear();
    m_nPending = 0;
}

namespace {

inline uint32_t HashBytes(const char *p, size_t n, uint32_t h = 2166136261u)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= (unsigned char)p[i];
        h *= 16777619u;
    }
    return h;
}

} // namespace

// Empty names are equal without a look at the bytes: before any name is stored the buffers
// have no memory at all, and memcmp must not be handed a null pointer even for no bytes.
bool CXML_Parser::PendingNameIs(const PendingAttr &attr) const
{
    return attr.m_nNameLen == m_Name.Size() &&
           (m_Name.Size() == 0 ||
            memcmp(m_AttrNames.Data() + attr.m_nName, m_Name.Data(), m_Name.Size()) == 0);
}

bool CXML_Parser::PendingPrefixIs(const PendingAttr &attr) const
{
    return attr.m_nPrefixLen == m_Prefix.Size() &&
           (m_Prefix.Size() == 0 ||
            memcmp(m_AttrNames.Data() + attr.m_nPrefix, m_Prefix.Data(), m_Prefix.Size()) == 0);
}

uint32_t CXML_Parser::QNameHash(const char *prefix, size_t prefixLen, const char *name,
                                size_t nameLen)
{
    return HashBytes(name, nameLen, HashBytes(prefix, prefixLen) ^ 0x3Au);
}

int CXML_Parser::FindPendingAttr() const
{
    const PendingAttr *attrs = m_Attrs.Data();
    if (!m_bAttrsIndexed) {
        // Every match has the same local name, so a clear filter bit rules one out at once.
        const size_t bit = NameFilterBit(m_Name.Data(), m_Name.Size());
        if (!(m_NameFilter[bit / 64] & (uint64_t(1) << (bit % 64))))
            return -1;
        for (size_t i = 0; i < m_Attrs.Size(); ++i)
            if (PendingNameIs(attrs[i]) && (m_Prefix.Size() == 0 || PendingPrefixIs(attrs[i])))
                return int(i);
        return -1;
    }
    // Without a prefix the first attribute of that local name matches, whatever its prefix;
    // with one, only the same prefix and name, which occur at most once.
    const bool bAnyPrefix = m_Prefix.Size() == 0;
    const uint32_t *slots = bAnyPrefix ? m_NameSlots.Data() : m_QNameSlots.Data();
    uint32_t h = bAnyPrefix
                     ? HashBytes(m_Name.Data(), m_Name.Size())
                     : QNameHash(m_Prefix.Data(), m_Prefix.Size(), m_Name.Data(), m_Name.Size());
    for (size_t slot = h & m_nSlotMask;; slot = (slot + 1) & m_nSlotMask) {
        const uint32_t v = slots[slot];
        if (v == 0)
            return -1;
        const PendingAttr &attr = attrs[v - 1];
        if (PendingNameIs(attr) && (bAnyPrefix || PendingPrefixIs(attr)))
            return int(v - 1);
    }
}

void CXML_Parser::IndexPendingAttr(size_t index)
{
    const PendingAttr &attr = m_Attrs.Data()[index];
    const char *names = m_AttrNames.Data();
    const char *name = names + attr.m_nName;
    uint32_t *bySlot = m_NameSlots.Data();
    for (size_t slot = HashBytes(name, attr.m_nNameLen) & m_nSlotMask;;
         slot = (slot + 1) & m_nSlotMask) {
        const uint32_t v = bySlot[slot];
        if (v == 0) {
            bySlot[slot] = uint32_t(index + 1);
            break;
        }
        const PendingAttr &other = m_Attrs.Data()[v - 1];
        if (other.m_nNameLen == attr.m_nNameLen &&
            (attr.m_nNameLen == 0 || memcmp(names + other.m_nName, name, attr.m_nNameLen) == 0))
            break; // an earlier attribute of this name stays the one a plain name finds
    }
    uint32_t *byQName = m_QNameSlots.Data();
    for (size_t slot = QNameHash(names + attr.m_nPrefix, attr.m_nPrefixLen, name, attr.m_nNameLen) &
                       m_nSlotMask;
         ; slot = (slot + 1) & m_nSlotMask) {
        if (byQName[slot] == 0) {
            byQName[slot] = uint32_t(index + 1);
            break;
        }
    }
}

void CXML_Parser::RebuildAttrIndex()
{
    size_t capacity = 64;
    while (capacity < m_Attrs.Size() * 4)
        capacity *= 2;
    m_bAttrsIndexed = false;
    m_NameSlots.Clear();
    m_QNameSlots.Clear();
    uint32_t *a = m_NameSlots.Reserve(capacity);
    uint32_t *b = a ? m_QNameSlots.Reserve(capacity) : nullptr;
    if (!b)
        return; // stays with the linear scan
    memset(a, 0, capacity * sizeof(uint32_t));
    memset(b, 0, capacity * sizeof(uint32_t));
    m_NameSlots.Commit(capacity);
    m_QNameSlots.Commit(capacity);
    m_nSlotMask = capacity - 1;
    m_bAttrsIndexed = true;
    for (size_t i = 0; i < m_Attrs.Size(); ++i)
        IndexPendingAttr(i);
}

void CXML_Parser::AddPendingAttr()
{
    // Same matching rule as the attribute map: a later attribute with the same local name and
    // the same prefix, or with no prefix, replaces the earlier value and keeps its position.
    // Long attribute lists get a hash index so that a hostile tag costs linear time.
    const int found = FindPendingAttr();
    if (found >= 0) {
        PendingAttr &attr = m_Attrs.Data()[found];
        attr.m_nValue = m_AttrValues.Size();
        GetAttrValue(m_AttrValues);
        attr.m_nValueLen = m_AttrValues.Size() - attr.m_nValue;
        return;
    }
    PendingAttr attr;
    attr.m_nPrefix = m_AttrNames.Size();
    attr.m_nPrefixLen = m_Prefix.Size();
    m_AttrNames.Append(m_Prefix.Data(), m_Prefix.Size());
    attr.m_nName = m_AttrNames.Size();
    attr.m_nNameLen = m_Name.Size();
    m_AttrNames.Append(m_Name.Data(), m_Name.Size());
    attr.m_nValue = m_AttrValues.Size();
    GetAttrValue(m_AttrValues);
    attr.m_nValueLen = m_AttrValues.Size() - attr.m_nValue;
    // A scratch buffer that could not grow holds fewer bytes than recorded: drop the attribute.
    if (m_AttrNames.Size() != attr.m_nName + attr.m_nNameLen || !m_Attrs.Push(attr))
        return;
    const size_t bit = NameFilterBit(m_Name.Data(), m_Name.Size());
    m_NameFilter[bit / 64] |= uint64_t(1) << (bit % 64);
    const size_t n = m_Attrs.Size();
    if (n < kIndexedAttrs)
        return;
    if (!m_bAttrsIndexed || n * 2 > m_nSlotMask + 1)
        RebuildAttrIndex();
    else
        IndexPendingAttr(n - 1);
}

namespace {

// Copies n characters and a terminator to at and points str there; returns the next free place.
// No characters leave str empty (null pointer), as Set does.
template <typename View, typename C> C *PlaceString(View &str, C *at, const C *src, size_t n)
{
    if (n == 0)
        return at;
    memcpy(at, src, n * sizeof(C));
    at[n] = 0;
    str = View(at, int(n));
    return at + n + 1;
}

} // namespace

bool CXML_Parser::AttrBlockBytes(size_t &bytes) const
{
    bytes = 0;
    const size_t n = m_Attrs.Size();
    if (n == 0)
        return true;
    const PendingAttr *attrs = m_Attrs.Data();
    size_t nChars = 0, nBytes = 0;
    for (size_t i = 0; i < n; ++i) {
        nChars += attrs[i].m_nValueLen ? attrs[i].m_nValueLen + 1 : 0;
        nBytes += attrs[i].m_nPrefixLen ? attrs[i].m_nPrefixLen + 1 : 0;
        nBytes += attrs[i].m_nNameLen ? attrs[i].m_nNameLen + 1 : 0;
    }
    const size_t nMax = 0x7FFFFFF0;
    const size_t valuesAt = ktxml::kAttrBlockHead + n * sizeof(CXML_AttrItem);
    if (n > nMax / sizeof(CXML_AttrItem) || nChars > (nMax - valuesAt) / sizeof(wchar_t) ||
        nBytes > nMax - valuesAt - nChars * sizeof(wchar_t))
        return false;
    bytes = valuesAt + nChars * sizeof(wchar_t) + nBytes;
    return true;
}

void CXML_Parser::FillAttrBlock(CXML_AttrMap &map, char *block, size_t bytes, bool bOwned)
{
    // The items, then the values, then the names, each string with its terminator.
    const size_t n = m_Attrs.Size();
    const PendingAttr *attrs = m_Attrs.Data();
    size_t *head = reinterpret_cast<size_t *>(block);
    head[0] = bytes;
    head[1] = bOwned ? 1 : 0;
    CXML_AttrItem *items = reinterpret_cast<CXML_AttrItem *>(block + ktxml::kAttrBlockHead);
    wchar_t *value = reinterpret_cast<wchar_t *>(items + n);
    size_t nChars = 0;
    for (size_t i = 0; i < n; ++i)
        nChars += attrs[i].m_nValueLen ? attrs[i].m_nValueLen + 1 : 0;
    char *name = reinterpret_cast<char *>(value + nChars);
    const char *names = m_AttrNames.Data();
    const wchar_t *values = m_AttrValues.Data();
    for (size_t i = 0; i < n; ++i) {
        const PendingAttr &attr = attrs[i];
        CXML_AttrItem *pItem = new (&items[i]) CXML_AttrItem();
        name = PlaceString<CKT_ByteStringC>(pItem->m_QSpaceName, name, names + attr.m_nPrefix,
                                            attr.m_nPrefixLen);
        name = PlaceString<CKT_ByteStringC>(pItem->m_AttrName, name, names + attr.m_nName,
                                            attr.m_nNameLen);
        value = PlaceString<CKT_WideStringC>(pItem->m_Value, value, values + attr.m_nValue,
                                             attr.m_nValueLen);
    }
    map.m_pBlock = block;
    map.m_pItems = items;
    map.m_nSize = int(n);
    map.m_nMaxSize = int(n);
}

CXML_Element *CXML_Parser::NewElement(CXML_Element *pParent)
{
    size_t attrBytes = 0;
    if (!AttrBlockBytes(attrBytes))
        return nullptr;
    CXML_Element *pElement = nullptr;
    char *attrBlock = nullptr;
    if (!m_pAllocator) {
        // With the general-purpose heap every block costs a call and a header, so the element,
        // its names and its attributes share one allocation. A caller's allocator gets the
        // plain layout, one block per part.
        const size_t nTag = m_TagName.Size();
        const size_t nPrefix = m_TagPrefix.Size();
        if (nTag > 0x3FFFFFFF || nPrefix > 0x3FFFFFFF)
            return nullptr;
        const size_t attrAt =
            (sizeof(CXML_Element) + nTag + 1 + (nPrefix ? nPrefix + 1 : 0) + 7) & ~size_t(7);
        if (attrAt > 0x7FFFFFF0 || attrBytes > 0x7FFFFFF0 - attrAt)
            return nullptr;
        char *mem = static_cast<char *>(ktxml::Alloc(nullptr, attrAt + attrBytes));
        if (!mem)
            return nullptr;
        pElement = new (static_cast<void *>(mem)) CXML_Element(nullptr);
        char *names = mem + sizeof(CXML_Element);
        names = PlaceString<CKT_ByteStringC>(pElement->m_TagName, names, m_TagName.Data(), nTag);
        PlaceString<CKT_ByteStringC>(pElement->m_QSpaceName, names, m_TagPrefix.Data(), nPrefix);
        pElement->m_bInlineNames = true;
        if (attrBytes)
            attrBlock = mem + attrAt;
    } else {
        pElement =
            new (m_pAllocator) CXML_Element(View(m_TagPrefix), View(m_TagName), m_pAllocator);
        if (!pElement)
            return nullptr;
        if (attrBytes) {
            attrBlock = static_cast<char *>(ktxml::Alloc(m_pAllocator, attrBytes));
            if (!attrBlock) {
                CXML_Element::Destroy(pElement, m_pAllocator);
                return nullptr;
            }
        }
    }
    if (attrBlock)
        FillAttrBlock(pElement->m_AttrMap, attrBlock, attrBytes, m_pAllocator != nullptr);
    pElement->m_pParent = pParent;
    return pElement;
}

bool CXML_Parser::CommitChildren(CXML_Element *pElement, size_t base)
{
    const size_t n = m_Children.Size() - base;
    if (n == 0)
        return true;
    const PendingChild *pending = m_Children.Data() + base;
    CXML_Element::ChildSlot *slots = static_cast<CXML_Element::ChildSlot *>(
        ktxml::Alloc(m_pAllocator, n * sizeof(CXML_Element::ChildSlot)));
    if (!slots) {
        for (size_t i = 0; i < n; ++i)
            pElement->FreeChild(CXML_Element::ChildSlot{pending[i].m_nType, pending[i].m_pChild});
        m_Children.Truncate(base);
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        slots[i].m_nType = pending[i].m_nType;
        slots[i].m_pChild = pending[i].m_pChild;
    }
    pElement->m_pChildren = slots;
    pElement->m_nChildren = int(n);
    pElement->m_nMaxChildren = int(n);
    m_Children.Truncate(base);
    return true;
}

CXML_Element *CXML_Parser::ParseElement(CXML_Element *pParent, bool bStartTag, int depth)
{
    if (IsEOF())
        return nullptr;
    bool bEndTag = false;
    if (!GetTagStart(bStartTag, bEndTag, m_TagPrefix, m_TagName))
        return nullptr;
    if (m_TagName.Size() == 0 || bEndTag)
        return nullptr;

    m_Attrs.Clear();
    m_AttrNames.Clear();
    m_AttrValues.Clear();
    m_bAttrsIndexed = false;
    memset(m_NameFilter, 0, sizeof m_NameFilter);
    for (;;) {
        SkipWhiteSpaces();
        if (IsEOF() || !g_KTCRT_XML_IsNameIntro(m_pBuffer[m_nIndex]))
            break;
        GetName(m_Prefix, m_Name);
        SkipWhiteSpaces();
        if (IsEOF() || m_pBuffer[m_nIndex] != '=')
            break; // a name without '=' is dropped
        ++m_nIndex;
        SkipWhiteSpaces();
        if (IsEOF())
            break;
        AddPendingAttr();
    }

    SkipWhiteSpaces();
    bool bKeep = true;
    bool bContent = false;
    if (!IsEOF()) {
        const unsigned char close = m_pBuffer[m_nIndex++];
        if (close == '/') {
            if (HaveByte())
                ++m_nIndex; // taken to be '>'
        } else if (close == '>') {
            bContent = true;
        } else {
            bKeep = false;
        }
    }
    // Too deep: the start tag is consumed and dropped, its content goes to the parent.
    if (!bKeep || depth > KT_XML_MAX_DEPTH)
        return nullptr;
    CXML_Element *pElement = NewElement(pParent);
    if (!pElement)
        return nullptr;
    if (!bContent)
        return pElement;

    SkipWhiteSpaces();
    if (IsEOF())
        return pElement;
    const size_t childBase = m_Children.Size();
    m_Text.Clear();
    m_nPending = 0;
    while (HaveByte()) {
        const unsigned char *end = m_pBuffer + m_nBufferSize;
        const unsigned char *q =
            DecodeUntil(m_pBuffer + m_nIndex, end, '<', '&', m_Text, m_nPending, m_nPartial);
        m_nIndex = size_t(q - m_pBuffer);
        if (q == end)
            continue;
        ++m_nIndex;
        if (*q == '&') {
            m_nPending = 0;
            m_Text.Push(GetCharRef());
            continue;
        }
        if (!HaveByte())
            break;
        const unsigned char b = m_pBuffer[m_nIndex];
        if (b == '?') {
            ++m_nIndex;
            SkipLiterial("?>", 2);
            SkipWhiteSpaces();
            continue;
        }
        if (b == '!') {
            ++m_nIndex;
            if (HaveByte()) {
                const unsigned char kind = m_pBuffer[m_nIndex++];
                if (kind == '[') {
                    SkipLiterial("]]>", 3); // CDATA sections are dropped with their content
                } else if (kind == '-') {
                    if (HaveByte())
                        ++m_nIndex;
                    SkipLiterial("-->", 3);
                } else {
                    SkipLiterial(">", 1);
                }
            }
            // Deliberately forgetful: text since the last child does not survive a comment.
            m_Text.Clear();
            m_nPending = 0;
            SkipWhiteSpaces();
            continue;
        }
        if (b == '/') {
            // Any end tag closes the innermost open element, whatever its name.
            ++m_nIndex;
            GetName(m_Prefix, m_Name);
            SkipWhiteSpaces();
            if (HaveByte())
                ++m_nIndex; // taken to be '>'
            break;
        }
        InsertContentSegment(pElement);
        CXML_Element *pChild = ParseElement(pElement, true, depth + 1);
        m_Text.Clear();
        m_nPending = 0;
        if (pChild) {
            PushChild(pElement, CXML_Element::Element, pChild);
            SkipWhiteSpaces();
        }
    }
    InsertContentSegment(pElement);
    CommitChildren(pElement, childBase);
    return pElement;
}

CXML_Element *CXML_Parser::ParseRoot()
{
    return ParseElement(nullptr, false, 1);
}

// ---- Parse entry points -------------------------------------------------------------------

namespace {

CXML_Element *RunParser(IKT_BufferRead *pAccessor, bool bOwned, int keepWhitespace,
                        long long *parsedSize, _IKT_Allocator *pAllocator)
{
    CXML_Parser parser;
    if (!parser.Init(pAccessor, bOwned, keepWhitespace != 0, pAllocator))
        return nullptr;
    CXML_Element *pRoot = parser.ParseRoot();
    if (parsedSize)
        *parsedSize = parser.CurrentOffset();
    return pRoot;
}

} // namespace

CXML_Element *CXML_Element::Parse(const void *buffer, unsigned size, int keepWhitespace,
                                  long long *parsedSize, _IKT_Allocator *pAllocator)
{
    if (!buffer)
        size = 0;
    CXML_DataBufAcc *pAccessor =
        new (std::nothrow) CXML_DataBufAcc(static_cast<const unsigned char *>(buffer), size);
    return RunParser(pAccessor, true, keepWhitespace, parsedSize, pAllocator);
}

CXML_Element *CXML_Element::Parse(IKT_FileRead *pFile, int keepWhitespace, long long *parsedSize,
                                  _IKT_Allocator *pAllocator)
{
    KTASSERT(pFile != NULL);
    if (!pFile)
        return nullptr;
    CXML_DataStmAcc *pAccessor = new (std::nothrow) CXML_DataStmAcc(pFile);
    return RunParser(pAccessor, true, keepWhitespace, parsedSize, pAllocator);
}

CXML_Element *CXML_Element::Parse(IKT_BufferRead *pBuffer, int keepWhitespace,
                                  long long *parsedSize, _IKT_Allocator *pAllocator)
{
    return RunParser(pBuffer, false, keepWhitespace, parsedSize, pAllocator);
}

// ---- attribute map ------------------------------------------------------------------------

CXML_AttrMap::~CXML_AttrMap()
{
    // The owning element frees the items with its allocator; nothing may be left here.
    KTASSERT(m_pItems == nullptr);
    KTASSERT(m_pBlock == nullptr);
}

bool CXML_AttrMap::InBlock(const void *p) const
{
    if (!m_pBlock)
        return false;
    const uintptr_t start = reinterpret_cast<uintptr_t>(m_pBlock);
    return reinterpret_cast<uintptr_t>(p) - start < *static_cast<const size_t *>(m_pBlock);
}

void CXML_AttrMap::EmptyItem(CXML_AttrItem &item, _IKT_Allocator *pAllocator)
{
    if (InBlock(item.m_QSpaceName.GetPtr()))
        static_cast<CKT_ByteStringC &>(item.m_QSpaceName) = CKT_ByteStringC();
    else
        item.m_QSpaceName.Empty(pAllocator);
    if (InBlock(item.m_AttrName.GetPtr()))
        static_cast<CKT_ByteStringC &>(item.m_AttrName) = CKT_ByteStringC();
    else
        item.m_AttrName.Empty(pAllocator);
    if (InBlock(item.m_Value.GetPtr()))
        static_cast<CKT_WideStringC &>(item.m_Value) = CKT_WideStringC();
    else
        item.m_Value.Empty(pAllocator);
}

const CXML_AttrItem &CXML_AttrMap::GetAt(int index) const
{
    KTASSERT(index >= 0);
    KTASSERT(index < m_nSize);
    return m_pItems[index];
}

int CXML_AttrMap::FindIndex(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name) const
{
    for (int i = 0; i < m_nSize; ++i) {
        const CXML_AttrItem &item = m_pItems[i];
        if (CKT_ByteStringC(item.m_AttrName) == name &&
            (prefix.GetLength() == 0 || CKT_ByteStringC(item.m_QSpaceName) == prefix))
            return i;
    }
    return -1;
}

const CKT_WideStringL *CXML_AttrMap::Lookup(const CKT_ByteStringC &prefix,
                                            const CKT_ByteStringC &name) const
{
    const int i = FindIndex(prefix, name);
    return i < 0 ? nullptr : &m_pItems[i].m_Value;
}

void CXML_AttrMap::SetAt(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                         const CKT_WideStringC &value, _IKT_Allocator *pAllocator)
{
    const int i = FindIndex(prefix, name);
    if (i >= 0) {
        CKT_WideStringL &old = m_pItems[i].m_Value;
        if (InBlock(old.GetPtr())) {
            // The value may be this very string: copy it out before letting go of it.
            const CKT_WideStringC source = value;
            static_cast<CKT_WideStringC &>(old) = CKT_WideStringC();
            old.Set(source, pAllocator);
            return;
        }
        old.Set(value, pAllocator);
        return;
    }
    if (InBlock(m_pItems)) {
        // Items inside the block cannot be reallocated: move them to an array of their own,
        // their strings stay where they are.
        CXML_AttrItem *pItems = nullptr;
        int nMax = 0;
        if (!GrowArray(pAllocator, pItems, nMax, m_nSize + 1))
            return;
        memcpy(static_cast<void *>(pItems), m_pItems, sizeof(CXML_AttrItem) * size_t(m_nSize));
        m_pItems = pItems;
        m_nMaxSize = nMax;
    }
    if (!GrowArray(pAllocator, m_pItems, m_nMaxSize, m_nSize + 1))
        return;
    CXML_AttrItem *pItem = new (&m_pItems[m_nSize]) CXML_AttrItem();
    ++m_nSize;
    pItem->m_QSpaceName.Set(prefix, pAllocator);
    pItem->m_AttrName.Set(name, pAllocator);
    pItem->m_Value.Set(value, pAllocator);
}

void CXML_AttrMap::RemoveAt(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                            _IKT_Allocator *pAllocator)
{
    const int i = FindIndex(prefix, name);
    if (i < 0)
        return;
    EmptyItem(m_pItems[i], pAllocator);
    memmove(static_cast<void *>(m_pItems + i), m_pItems + i + 1,
            sizeof(CXML_AttrItem) * size_t(m_nSize - i - 1));
    --m_nSize;
}

void CXML_AttrMap::RemoveAll(_IKT_Allocator *pAllocator)
{
    for (int i = 0; i < m_nSize; ++i)
        EmptyItem(m_pItems[i], pAllocator);
    if (!InBlock(m_pItems))
        ktxml::Free(pAllocator, m_pItems);
    // A block that shares its element's allocation goes with the element.
    if (m_pBlock && static_cast<const size_t *>(m_pBlock)[1])
        ktxml::Free(pAllocator, m_pBlock);
    m_pBlock = nullptr;
    m_pItems = nullptr;
    m_nSize = 0;
    m_nMaxSize = 0;
}

// ---- element ------------------------------------------------------------------------------

void *CXML_Element::operator new(size_t size, _IKT_Allocator *pAllocator) noexcept
{
    return ktxml::Alloc(pAllocator, size);
}

void CXML_Element::operator delete(void *p, _IKT_Allocator *pAllocator)
{
    ktxml::Free(pAllocator, p);
}

void CXML_Element::Destroy(CXML_Element *pElement, _IKT_Allocator *pAllocator)
{
    if (!pElement)
        return;
    pElement->~CXML_Element();
    ktxml::Free(pAllocator, pElement);
}

CXML_Element::CXML_Element(_IKT_Allocator *pAllocator) : m_pAllocator(pAllocator) {}

CXML_Element::CXML_Element(const CKT_ByteStringC &qTag, _IKT_Allocator *pAllocator)
    : m_pAllocator(pAllocator)
{
    SetTag(qTag);
}

CXML_Element::CXML_Element(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag,
                           _IKT_Allocator *pAllocator)
    : m_pAllocator(pAllocator)
{
    SetTag(prefix, tag);
}

CXML_Element::~CXML_Element()
{
    Empty();
}

void CXML_Element::EmptyNames()
{
    if (m_bInlineNames) {
        // The names live in the element's own allocation.
        static_cast<CKT_ByteStringC &>(m_QSpaceName) = CKT_ByteStringC();
        static_cast<CKT_ByteStringC &>(m_TagName) = CKT_ByteStringC();
        m_bInlineNames = false;
        return;
    }
    m_QSpaceName.Empty(m_pAllocator);
    m_TagName.Empty(m_pAllocator);
}

void CXML_Element::Empty()
{
    EmptyNames();
    m_AttrMap.RemoveAll(m_pAllocator);
    RemoveChildren();
}

void CXML_Element::FreeChild(const ChildSlot &slot)
{
    if (slot.m_nType == Element) {
        Destroy(static_cast<CXML_Element *>(slot.m_pChild), m_pAllocator);
    } else {
        ktxml::FreeContent(m_pAllocator, static_cast<CXML_Content *>(slot.m_pChild));
    }
}

void CXML_Element::RemoveChildren()
{
    // Hand-built trees may be of any depth, so the tree is taken apart without recursion:
    // the walk descends into the last child element, frees text children on the way, and
    // frees an element once it has no children left, returning to its parent.
    CXML_Element *pNode = this;
    for (;;) {
        if (pNode->m_nChildren > 0) {
            const ChildSlot slot = pNode->m_pChildren[--pNode->m_nChildren];
            if (slot.m_nType == Element) {
                CXML_Element *pChild = static_cast<CXML_Element *>(slot.m_pChild);
                pChild->m_pParent = pNode; // the way back, whatever the link held before
                pNode = pChild;
            } else {
                pNode->FreeChild(slot);
            }
            continue;
        }
        if (pNode == this)
            break;
        CXML_Element *pParent = pNode->m_pParent;
        Destroy(pNode, pParent->m_pAllocator); // childless now: its destructor ends here
        pNode = pParent;
    }
    ktxml::Free(m_pAllocator, m_pChildren);
    m_pChildren = nullptr;
    m_nChildren = 0;
    m_nMaxChildren = 0;
}

void CXML_Element::RemoveChild(int index)
{
    if (index < 0 || index >= m_nChildren)
        return;
    FreeChild(m_pChildren[index]);
    memmove(m_pChildren + index, m_pChildren + index + 1,
            sizeof(ChildSlot) * size_t(m_nChildren - index - 1));
    --m_nChildren;
}

bool CXML_Element::InsertSlot(int index, int type, void *pChild)
{
    if (!GrowArray(m_pAllocator, m_pChildren, m_nMaxChildren, m_nChildren + 1))
        return false;
    if (index < 0)
        index = 0;
    if (index > m_nChildren)
        index = m_nChildren;
    memmove(m_pChildren + index + 1, m_pChildren + index,
            sizeof(ChildSlot) * size_t(m_nChildren - index));
    m_pChildren[index].m_nType = type;
    m_pChildren[index].m_pChild = pChild;
    ++m_nChildren;
    return true;
}

const CXML_Element::ChildSlot *CXML_Element::SlotAt(int index) const
{
    return index >= 0 && index < m_nChildren ? &m_pChildren[index] : nullptr;
}

namespace {

CKT_ByteString JoinQualified(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name)
{
    if (prefix.GetLength() == 0)
        return CKT_ByteString(name);
    ktxml::ByteBuf buf;
    buf.Append(prefix.GetCStr(), size_t(prefix.GetLength()));
    buf.Push(':');
    buf.Append(name.GetCStr(), size_t(name.GetLength()));
    return CKT_ByteString(buf.Data(), int(buf.Size()));
}

} // namespace

CKT_ByteString CXML_Element::GetTagName(bool qualified) const
{
    if (!qualified)
        return CKT_ByteString(CKT_ByteStringC(m_TagName));
    return JoinQualified(m_QSpaceName, m_TagName);
}

void CXML_Element::GetTagName(CKT_ByteStringL &tag, bool qualified) const
{
    if (!qualified || m_QSpaceName.GetLength() == 0) {
        tag.Set(m_TagName, m_pAllocator);
        return;
    }
    const CKT_ByteString joined = JoinQualified(m_QSpaceName, m_TagName);
    tag.Set(CKT_ByteStringC(joined), m_pAllocator);
}

CKT_ByteString CXML_Element::GetNamespace(bool qualified) const
{
    if (qualified)
        return CKT_ByteString(CKT_ByteStringC(m_QSpaceName));
    return GetNamespaceURI(m_QSpaceName);
}

CKT_ByteString CXML_Element::GetNamespaceURI(const CKT_ByteStringC &prefix) const
{
    for (const CXML_Element *pElement = this; pElement; pElement = pElement->m_pParent) {
        const CKT_WideStringL *pValue = prefix.GetLength() == 0
                                            ? pElement->m_AttrMap.Lookup(CKT_ByteStringC(), "xmlns")
                                            : pElement->m_AttrMap.Lookup("xmlns", prefix);
        if (pValue)
            return KT_UTF8Encode(*pValue);
    }
    return CKT_ByteString();
}

void CXML_Element::GetAttrByIndex(int index, CKT_ByteString &prefix, CKT_ByteString &name,
                                  CKT_WideString &value) const
{
    if (index < 0 || index >= m_AttrMap.GetSize())
        return;
    const CXML_AttrItem &item = m_AttrMap.GetAt(index);
    prefix = CKT_ByteString(CKT_ByteStringC(item.m_QSpaceName));
    name = CKT_ByteString(CKT_ByteStringC(item.m_AttrName));
    value = CKT_WideString(CKT_WideStringC(item.m_Value));
}

void CXML_Element::GetAttrByIndex(int index, CKT_ByteStringL &prefix, CKT_ByteStringL &name,
                                  CKT_WideStringL &value) const
{
    if (index < 0 || index >= m_AttrMap.GetSize())
        return;
    const CXML_AttrItem &item = m_AttrMap.GetAt(index);
    prefix.Set(item.m_QSpaceName, m_pAllocator);
    name.Set(item.m_AttrName, m_pAllocator);
    value.Set(item.m_Value, m_pAllocator);
}

const CKT_WideStringL *CXML_Element::GetAttrValuePtr(const CKT_ByteStringC &qName) const
{
    CKT_ByteStringC prefix, name;
    KT_XML_SplitQualifiedName(qName, prefix, name);
    return m_AttrMap.Lookup(prefix, name);
}

const CKT_WideStringL *CXML_Element::GetAttrValuePtr(const CKT_ByteStringC &prefix,
                                                     const CKT_ByteStringC &name) const
{
    return m_AttrMap.Lookup(prefix, name);
}

bool CXML_Element::HasAttr(const CKT_ByteStringC &qName) const
{
    return GetAttrValuePtr(qName) != nullptr;
}

namespace {

// true and the converted value when the attribute exists; false and value unchanged otherwise.
template <typename T, typename Convert>
bool ReadAttr(const CKT_WideStringL *pValue, T &value, Convert convert)
{
    if (!pValue)
        return false;
    value = convert(*pValue);
    return true;
}

CKT_WideString AsString(const CKT_WideStringL &v)
{
    return CKT_WideString(CKT_WideStringC(v));
}
int AsInteger(const CKT_WideStringL &v)
{
    return v.GetInteger();
}
float AsFloat(const CKT_WideStringL &v)
{
    return v.GetFloat();
}

} // namespace

bool CXML_Element::GetAttrValue(const CKT_ByteStringC &qName, CKT_WideString &value) const
{
    return ReadAttr(GetAttrValuePtr(qName), value, AsString);
}

bool CXML_Element::GetAttrValue(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                                CKT_WideString &value) const
{
    return ReadAttr(GetAttrValuePtr(prefix, name), value, AsString);
}

bool CXML_Element::GetAttrInteger(const CKT_ByteStringC &qName, int &value) const
{
    return ReadAttr(GetAttrValuePtr(qName), value, AsInteger);
}

bool CXML_Element::GetAttrInteger(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                                  int &value) const
{
    return ReadAttr(GetAttrValuePtr(prefix, name), value, AsInteger);
}

bool CXML_Element::GetAttrFloat(const CKT_ByteStringC &qName, float &value) const
{
    return ReadAttr(GetAttrValuePtr(qName), value, AsFloat);
}

bool CXML_Element::GetAttrFloat(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                                float &value) const
{
    return ReadAttr(GetAttrValuePtr(prefix, name), value, AsFloat);
}

int CXML_Element::GetChildType(int index) const
{
    const ChildSlot *pSlot = SlotAt(index);
    return pSlot ? pSlot->m_nType : Invalid;
}

const CKT_WideStringL *CXML_Element::GetContentPtr(int index) const
{
    const ChildSlot *pSlot = SlotAt(index);
    if (!pSlot || pSlot->m_nType != Content)
        return nullptr;
    return &static_cast<const CXML_Content *>(pSlot->m_pChild)->m_Content;
}

CKT_WideString CXML_Element::GetContent(int index) const
{
    const CKT_WideStringL *pText = GetContentPtr(index);
    return pText ? CKT_WideString(CKT_WideStringC(*pText)) : CKT_WideString();
}

CXML_Element *CXML_Element::GetElement(int index) const
{
    const ChildSlot *pSlot = SlotAt(index);
    if (!pSlot || pSlot->m_nType != Element)
        return nullptr;
    return static_cast<CXML_Element *>(pSlot->m_pChild);
}

int CXML_Element::CountElements(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag) const
{
    int count = 0;
    for (int i = 0; i < m_nChildren; ++i) {
        const CXML_Element *pChild = GetElement(i);
        if (pChild && CKT_ByteStringC(pChild->m_TagName) == tag &&
            (prefix.GetLength() == 0 || CKT_ByteStringC(pChild->m_QSpaceName) == prefix))
            ++count;
    }
    return count;
}

CXML_Element *CXML_Element::GetElement(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag,
                                       int n) const
{
    if (n < 0)
        return nullptr;
    for (int i = 0; i < m_nChildren; ++i) {
        CXML_Element *pChild = GetElement(i);
        if (pChild && CKT_ByteStringC(pChild->m_TagName) == tag &&
            (prefix.GetLength() == 0 || CKT_ByteStringC(pChild->m_QSpaceName) == prefix) &&
            n-- == 0)
            return pChild;
    }
    return nullptr;
}

int CXML_Element::FindElement(CXML_Element *pChild) const
{
    for (int i = 0; i < m_nChildren; ++i)
        if (m_pChildren[i].m_nType == Element && m_pChildren[i].m_pChild == pChild)
            return i;
    return -1;
}

void CXML_Element::SetTag(const CKT_ByteStringC &qTag)
{
    CKT_ByteStringC prefix, tag;
    KT_XML_SplitQualifiedName(qTag, prefix, tag);
    SetTag(prefix, tag);
}

void CXML_Element::SetTag(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag)
{
    if (m_bInlineNames) {
        // Inline names stay readable while the element lives, so the views may point at them;
        // they are copied before the strings let go of them.
        const CKT_ByteStringC newPrefix = prefix, newTag = tag;
        EmptyNames();
        m_QSpaceName.Set(newPrefix, m_pAllocator);
        m_TagName.Set(newTag, m_pAllocator);
        return;
    }
    m_QSpaceName.Set(prefix, m_pAllocator);
    m_TagName.Set(tag, m_pAllocator);
}

void CXML_Element::SetAttrValue(const CKT_ByteStringC &qName, const CKT_WideStringC &value)
{
    CKT_ByteStringC prefix, name;
    KT_XML_SplitQualifiedName(qName, prefix, name);
    m_AttrMap.SetAt(prefix, name, value, m_pAllocator);
}

void CXML_Element::SetAttrValue(const CKT_ByteStringC &qName, int value)
{
    wchar_t text[16];
    int n = 0;
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    wchar_t digits[12];
    int nd = 0;
    do {
        digits[nd++] = wchar_t(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        text[n++] = L'-';
    while (nd)
        text[n++] = digits[--nd];
    SetAttrValue(qName, CKT_WideStringC(text, n));
}

void CXML_Element::SetAttrValue(const CKT_ByteStringC &qName, float value)
{
    char buf[32];
    const int n = KT_ftoa(value, buf);
    wchar_t text[32];
    for (int i = 0; i < n; ++i)
        text[i] = wchar_t(buf[i]);
    SetAttrValue(qName, CKT_WideStringC(text, n));
}

void CXML_Element::RemoveAttr(const CKT_ByteStringC &qName)
{
    CKT_ByteStringC prefix, name;
    KT_XML_SplitQualifiedName(qName, prefix, name);
    m_AttrMap.RemoveAt(prefix, name, m_pAllocator);
}

void CXML_Element::AddChildElement(CXML_Element *pChild)
{
    InsertChildElement(m_nChildren, pChild);
}

void CXML_Element::InsertChildElement(int index, CXML_Element *pChild)
{
    if (!pChild)
        return;
    if (!InsertSlot(index, Element, pChild)) {
        Destroy(pChild, m_pAllocator); // ownership was handed over either way
        return;
    }
    pChild->m_pParent = this;
}

void CXML_Element::AddChildContent(const CKT_WideStringC &text, bool bCDATA)
{
    InsertChildContent(m_nChildren, text, bCDATA);
}

void CXML_Element::InsertChildContent(int index, const CKT_WideStringC &text, bool bCDATA)
{
    CXML_Content *pContent =
        ktxml::NewContent(m_pAllocator, text.GetPtr(), size_t(text.GetLength()), bCDATA ? 1 : 0);
    if (pContent && !InsertSlot(index, Content, pContent))
        ktxml::FreeContent(m_pAllocator, pContent);
}

CXML_Element *CXML_Element::CloneNode(_IKT_Allocator *pAllocator) const
{
    CXML_Element *pClone = new (pAllocator) CXML_Element(m_QSpaceName, m_TagName, pAllocator);
    if (!pClone)
        return nullptr;
    for (int i = 0; i < m_AttrMap.GetSize(); ++i) {
        const CXML_AttrItem &item = m_AttrMap.GetAt(i);
        pClone->m_AttrMap.SetAt(item.m_QSpaceName, item.m_AttrName, item.m_Value, pAllocator);
    }
    return pClone;
}

CXML_Element *CXML_Element::Clone(_IKT_Allocator *pAllocator) const
{
    // Without recursion, for trees of any depth: a stack holds each copied element with the
    // next of its source's children to copy.
    struct Frame
    {
        const CXML_Element *pSource;
        CXML_Element *pCopy;
        int nNext;
    };
    CXML_Element *pRoot = CloneNode(pAllocator);
    ktxml::GrowBuf<Frame> stack;
    if (!pRoot || !stack.Push(Frame{this, pRoot, 0})) {
        Destroy(pRoot, pAllocator);
        return nullptr;
    }
    while (stack.Size()) {
        Frame &top = stack.Data()[stack.Size() - 1];
        if (top.nNext == top.pSource->m_nChildren) {
            stack.Truncate(stack.Size() - 1);
            continue;
        }
        const ChildSlot &slot = top.pSource->m_pChildren[top.nNext++];
        CXML_Element *pParent = top.pCopy;
        if (slot.m_nType != Element) {
            pParent->AddChildContent(static_cast<const CXML_Content *>(slot.m_pChild)->m_Content);
            continue;
        }
        // A child that cannot be made is left out, as when memory runs out anywhere else.
        const CXML_Element *pSource = static_cast<const CXML_Element *>(slot.m_pChild);
        CXML_Element *pChild = pSource->CloneNode(pAllocator);
        const int nBefore = pParent->m_nChildren;
        pParent->AddChildElement(pChild);
        if (pParent->m_nChildren == nBefore)
            continue;
        if (!stack.Push(Frame{pSource, pChild, 0})) {
            Destroy(pRoot, pAllocator);
            return nullptr;
        }
    }
    return pRoot;
}
