// The base library's small XML reader and writer.
//
// CXML_Element::Parse turns a document held in memory, or read from a file in 32768-byte blocks,
// into a tree of elements: tag names and attribute names are kept as raw bytes (prefix before the
// colon, local name after it), attribute values and text are decoded from UTF-8 into wide strings.
// The reader is forgiving on purpose: it never validates, skips the declaration, processing
// instructions, comments and other "<!" constructs, drops CDATA sections, lets an end tag close the
// innermost element whatever its name, and reports failure only by returning no element. Input
// comes from the network, so every construct may be cut short or span a block boundary, and
// element nesting is limited to KT_XML_MAX_DEPTH levels so that hostile input cannot exhaust the
// stack (deeper start tags are consumed and dropped; their text goes to the enclosing element).
//
// CXML_Composer writes a tree back as text: attributes in order, "/>\r\n" after an empty element,
// ">\r\n" after an end tag, no XML declaration.
#ifndef KTCRT_KT_XML_H
#define KTCRT_KT_XML_H

#include <cstddef>

#include "kt_basic_mem.h"
#include "kt_basic_string.h"

// ---- file and stream interfaces ------------------------------------------------------------

// Random-access reading of a file. Release() destroys the object.
class IKT_FileRead
{
public:
    virtual void Release() = 0;
    // Size of the file in bytes.
    virtual long long GetSize() = 0;
    // Reads exactly size bytes at offset into buffer; false when that many could not be read.
    virtual bool ReadBlock(void *buffer, long long offset, size_t size) = 0;

protected:
    virtual ~IKT_FileRead() = default;
};

// Sequential writing of a file. Release() flushes, closes and destroys the object.
class IKT_FileWrite
{
public:
    virtual void Release() = 0;
    // Appends size bytes; false when they could not all be written.
    virtual bool WriteBlock(const void *data, size_t size) = 0;

protected:
    virtual ~IKT_FileWrite() = default;
};

// Opens path for reading; null when it cannot be opened. The caller releases the result.
IKT_FileRead *KT_CreateFileRead(const char *path);
// Creates (or truncates) path for writing; null on failure. The caller releases the result.
IKT_FileWrite *KT_CreateFileWrite(const char *path);

class IKT_StreamRead
{
public:
    virtual void Release() = 0;
    virtual bool IsEOF() = 0;
    virtual long long GetPosition() = 0;
    virtual size_t ReadBlock(void *buffer, size_t size) = 0;

protected:
    virtual ~IKT_StreamRead() = default;
};

// Block-wise reading used by the XML parser: the parser reads each block in place.
class IKT_BufferRead : public IKT_StreamRead
{
public:
    // Makes the next block current (restart: from the beginning); false when there is none.
    virtual bool ReadNextBlock(bool restart = false) = 0;
    virtual const unsigned char *GetBlockBuffer() = 0;
    virtual size_t GetBlockSize() = 0;
    virtual long long GetBlockOffset() = 0;

protected:
    ~IKT_BufferRead() override = default;
};

// ---- byte classes -------------------------------------------------------------------------

extern const unsigned char g_KTCRT_XML_ByteTypes[256];
inline bool g_KTCRT_XML_IsWhiteSpace(unsigned char b)
{
    return g_KTCRT_XML_ByteTypes[b] & 0x01;
}
inline bool g_KTCRT_XML_IsLetter(unsigned char b)
{
    return g_KTCRT_XML_ByteTypes[b] & 0x02;
}
inline bool g_KTCRT_XML_IsDigital(unsigned char b)
{
    return g_KTCRT_XML_ByteTypes[b] & 0x04;
}
inline bool g_KTCRT_XML_IsNameIntro(unsigned char b)
{
    return g_KTCRT_XML_ByteTypes[b] & 0x08;
}
inline bool g_KTCRT_XML_IsNameChar(unsigned char b)
{
    return g_KTCRT_XML_ByteTypes[b] & 0x10;
}
inline bool g_KTCRT_XML_IsHexChar(unsigned char b)
{
    return g_KTCRT_XML_ByteTypes[b] & 0x60;
}

// Deepest element nesting the parser builds; start tags below it are consumed and dropped.
enum
{
    KT_XML_MAX_DEPTH = 512
};

// Splits full at its first ':' into prefix and name. Empty full: both left as they are; without
// ':' name is the whole text and prefix is left as it was (callers pass an empty view).
void KT_XML_SplitQualifiedName(const CKT_ByteStringC &full, CKT_ByteStringC &prefix,
                               CKT_ByteStringC &name);

// ---- attributes ---------------------------------------------------------------------------

struct CXML_AttrItem
{
    CKT_ByteStringL m_QSpaceName; // prefix, empty when none
    CKT_ByteStringL m_AttrName;   // local name
    CKT_WideStringL m_Value;      // decoded value
};

// Attributes of one element in document order. An item matches (prefix, name) when its local
// name equals name and either prefix is empty or the item's prefix equals it.
class CXML_AttrMap
{
public:
    CXML_AttrMap() = default;
    CXML_AttrMap(const CXML_AttrMap &) = delete;
    CXML_AttrMap &operator=(const CXML_AttrMap &) = delete;
    ~CXML_AttrMap();

    int GetSize() const { return m_nSize; }
    // Requires: 0 <= index < GetSize(). Items are read here and changed only through SetAt,
    // RemoveAt and RemoveAll, because a parsed map keeps its strings in one shared block.
    const CXML_AttrItem &GetAt(int index) const;
    // Value of the first matching item, or null.
    const CKT_WideStringL *Lookup(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name) const;
    // Replaces the value of the first matching item (keeping its position) or appends a new one.
    void SetAt(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
               const CKT_WideStringC &value, _IKT_Allocator *pAllocator);
    // Removes the first matching item.
    void RemoveAt(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                  _IKT_Allocator *pAllocator);
    // Frees every item and the array.
    void RemoveAll(_IKT_Allocator *pAllocator);

private:
    friend class CXML_Parser;

    int FindIndex(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name) const;
    // Whether p lies inside m_pBlock, so that it must not be freed on its own.
    bool InBlock(const void *p) const;
    // Frees the strings of one item that do not live in m_pBlock and leaves them empty.
    void EmptyItem(CXML_AttrItem &item, _IKT_Allocator *pAllocator);

    CXML_AttrItem *m_pItems = nullptr; // created on the first insertion
    int m_nSize = 0;
    int m_nMaxSize = 0;
    // The parser puts a tag's items, names and values into this one block (its byte size in the
    // first word, whether it is an allocation of its own in the second, the items after the
    // head); null for maps built item by item.
    void *m_pBlock = nullptr;
};

// ---- elements -----------------------------------------------------------------------------

struct CXML_Content;

class CXML_Element : public CKT_Object
{
public:
    enum ChildType
    {
        Invalid = 0, // index out of range
        Element = 1, // a child element
        Content = 2, // a text segment
    };

    // Parses the first element of buffer and returns it as a new root owned by the caller, or
    // null when there is no well-formed start tag. keepWhitespace keeps trailing white space of
    // text segments. parsedSize (optional) receives the offset just past the root's end. With an
    // allocator the whole tree comes from it, and the caller destroys the root by calling its
    // destructor and then the allocator's Free; otherwise with delete.
    static CXML_Element *Parse(const void *buffer, unsigned size, int keepWhitespace = 0,
                               long long *parsedSize = nullptr,
                               _IKT_Allocator *pAllocator = nullptr);
    // The same over a file read in 32768-byte blocks. Requires: pFile not null.
    static CXML_Element *Parse(IKT_FileRead *pFile, int keepWhitespace = 0,
                               long long *parsedSize = nullptr,
                               _IKT_Allocator *pAllocator = nullptr);
    // The same over the caller's accessor, which the parser does not release.
    static CXML_Element *Parse(IKT_BufferRead *pBuffer, int keepWhitespace = 0,
                               long long *parsedSize = nullptr,
                               _IKT_Allocator *pAllocator = nullptr);

    explicit CXML_Element(_IKT_Allocator *pAllocator = nullptr);
    // qTag is split at its first ':' into prefix and tag name.
    CXML_Element(const CKT_ByteStringC &qTag, _IKT_Allocator *pAllocator = nullptr);
    CXML_Element(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag,
                 _IKT_Allocator *pAllocator = nullptr);
    CXML_Element(const CXML_Element &) = delete;
    CXML_Element &operator=(const CXML_Element &) = delete;
    ~CXML_Element();

    // Placement through an allocator (null: default manager); free with Destroy() or, for
    // default-allocated elements, delete.
    static void *operator new(size_t size, _IKT_Allocator *pAllocator) noexcept;
    static void operator delete(void *p, _IKT_Allocator *pAllocator);
    using CKT_Object::operator new;
    using CKT_Object::operator delete;
    // Destroys an element made through pAllocator (or the default manager when null).
    static void Destroy(CXML_Element *pElement, _IKT_Allocator *pAllocator);

    // Frees names, attributes and children.
    void Empty();

    _IKT_Allocator *GetAllocator() const { return m_pAllocator; }
    CXML_Element *GetParent() const { return m_pParent; }

    // Local name; qualified and with a prefix: "prefix:name".
    CKT_ByteString GetTagName(bool qualified = false) const;
    void GetTagName(CKT_ByteStringL &tag, bool qualified = false) const;
    // qualified: the prefix; otherwise GetNamespaceURI(prefix).
    CKT_ByteString GetNamespace(bool qualified = false) const;
    // UTF-8 value of the nearest xmlns:prefix (or xmlns for an empty prefix) attribute walking up
    // through the parents; empty when none.
    CKT_ByteString GetNamespaceURI(const CKT_ByteStringC &prefix) const;

    // For 0 <= index < attribute count: prefix, local name and value; otherwise nothing changes.
    void GetAttrByIndex(int index, CKT_ByteString &prefix, CKT_ByteString &name,
                        CKT_WideString &value) const;
    // The same into strings bound to this element's allocator.
    void GetAttrByIndex(int index, CKT_ByteStringL &prefix, CKT_ByteStringL &name,
                        CKT_WideStringL &value) const;
    bool HasAttr(const CKT_ByteStringC &qName) const;
    // true and the value when an attribute matches; false and value unchanged otherwise.
    bool GetAttrValue(const CKT_ByteStringC &qName, CKT_WideString &value) const;
    bool GetAttrValue(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                      CKT_WideString &value) const;
    const CKT_WideStringL *GetAttrValuePtr(const CKT_ByteStringC &qName) const;
    const CKT_WideStringL *GetAttrValuePtr(const CKT_ByteStringC &prefix,
                                           const CKT_ByteStringC &name) const;
    bool GetAttrInteger(const CKT_ByteStringC &qName, int &value) const;
    bool GetAttrInteger(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                        int &value) const;
    bool GetAttrFloat(const CKT_ByteStringC &qName, float &value) const;
    bool GetAttrFloat(const CKT_ByteStringC &prefix, const CKT_ByteStringC &name,
                      float &value) const;

    // Elements and text segments together.
    int CountChildren() const { return m_nChildren; }
    // Element, Content, or Invalid for an index out of range.
    int GetChildType(int index) const;
    // Text of a content child; empty for any other child or index.
    CKT_WideString GetContent(int index) const;
    const CKT_WideStringL *GetContentPtr(int index) const;
    // Child element at that child index; null out of range or for a text child. Owned by this.
    CXML_Element *GetElement(int index) const;
    // Element children named tag (and prefix when it is non-empty).
    int CountElements(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag) const;
    // The n-th such child (from 0), or null.
    CXML_Element *GetElement(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag,
                             int n) const;
    // Child index of pChild, or -1.
    int FindElement(CXML_Element *pChild) const;

    void SetTag(const CKT_ByteStringC &qTag);
    void SetTag(const CKT_ByteStringC &prefix, const CKT_ByteStringC &tag);
    // name may be qualified; stored under the attribute map's matching rule.
    void SetAttrValue(const CKT_ByteStringC &qName, const CKT_WideStringC &value);
    void SetAttrValue(const CKT_ByteStringC &qName, int value);
    void SetAttrValue(const CKT_ByteStringC &qName, float value);
    void RemoveAttr(const CKT_ByteStringC &qName);
    // Takes ownership of pChild and becomes its parent. Requires: pChild made with the same
    // allocator.
    void AddChildElement(CXML_Element *pChild);
    // index is clamped to 0 .. CountChildren().
    void InsertChildElement(int index, CXML_Element *pChild);
    void AddChildContent(const CKT_WideStringC &text, bool bCDATA = false);
    void InsertChildContent(int index, const CKT_WideStringC &text, bool bCDATA = false);
    void RemoveChild(int index);
    void RemoveChildren();
    // Deep copy through pAllocator; content is copied as plain text (no CDATA flag).
    CXML_Element *Clone(_IKT_Allocator *pAllocator = nullptr) const;

    // The element written as text.
    CKT_ByteString OutputStream() const;
    void OutputStream(CKT_ByteStringL &out) const;
    // Writes to pFile; false when a write failed.
    bool OutputStream(IKT_FileWrite *pFile) const;

    CXML_AttrMap m_AttrMap;

private:
    friend class CXML_Parser;
    friend class CXML_ComposerImpl;

    struct ChildSlot
    {
        int m_nType;
        void *m_pChild;
    };

    bool InsertSlot(int index, int type, void *pChild);
    // Lets go of prefix and tag name, which may live in the element's own allocation.
    void EmptyNames();
    void FreeChild(const ChildSlot &slot);
    const ChildSlot *SlotAt(int index) const;
    // A new element with this one's names and attributes but no children; null on no memory.
    CXML_Element *CloneNode(_IKT_Allocator *pAllocator) const;

    _IKT_Allocator *m_pAllocator;
    CXML_Element *m_pParent = nullptr;
    CKT_ByteStringL m_QSpaceName;
    CKT_ByteStringL m_TagName;
    ChildSlot *m_pChildren = nullptr;
    int m_nChildren = 0;
    int m_nMaxChildren = 0;
    // The parser may put prefix and tag name behind the element in the same allocation.
    bool m_bInlineNames = false;
};

// Writes an element and everything below it as text, walking the tree without recursion. A
// CDATA text holding "]]>" is split into two sections between "]]" and ">".
class CXML_Composer
{
public:
    // With pFile the text goes to the file (false when a write failed) and out is left empty;
    // otherwise it is returned in out, bound to pElement's allocator (false, out untouched,
    // when memory ran out).
    static bool Compose(const CXML_Element *pElement, IKT_FileWrite *pFile, CKT_ByteStringL &out);
};

#endif // KTCRT_KT_XML_H
