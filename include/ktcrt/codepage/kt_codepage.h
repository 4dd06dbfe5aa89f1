// Code pages and Unicode conversion: the fourteen built-in Windows code pages (874, 932, 936, 949,
// 950, 1250-1258), UTF-8, UTF-16, and the lookups between code pages, font character sets and
// character-set names.
//
// A built-in code page is three read-only tables, all little-endian:
//   map header (36 bytes): code page (uint16), minimum and maximum bytes per character (uint8
//     each), then int32 code system type (1 single-byte, 2 double-byte), has lead bytes, minimum,
//     maximum and default character code, minimum, maximum and default Unicode value.
//   byte-to-Unicode map: Index1 has one 4-byte entry per first byte (uint16 count, uint16 value);
//     count 0 means a single-byte character whose Unicode value is the value, count n means a
//     lead byte whose trail bytes are covered by the n Index2 entries starting at the value.
//     Index2 entries (uint8 first trail byte, uint8 range type, uint16 data offset) of one lead
//     byte ascend and start at 0, so each trail byte falls in the last range not above it.
//   Unicode-to-byte map: ascending 8-byte ranges (uint16 first, uint16 last, uint16 type, uint16
//     data offset); a value in no range is unmappable.
// Range types, with d the distance from the range start and D the data at the range's byte
// offset: 1 the uint16 at D + 2d; 2 the uint16 at D plus d; 3 unmappable; 4 the uint16 at D plus
// the byte at D + 2 + d. 0xFEFF is the no-mapping marker in both directions.
#ifndef KTCRT_KT_CODEPAGE_H
#define KTCRT_KT_CODEPAGE_H

#include <cstddef>
#include <cstdint>

#define KT_CODEPAGE_UTF16LE 1200
#define KT_CODEPAGE_UTF16BE 1201
#define KT_CODEPAGE_UTF8 65001
#define KT_NOMAPPING_UNICODE 0xFEFF

struct _KT_CPMAPHEADER
{
    uint16_t wCodePage;
    uint8_t uMinCharBytes;
    uint8_t uMaxCharBytes;
    int32_t nCodeSystemType;
    int32_t bHasLeadBytes;
    int32_t nMinCharcode;
    int32_t nMaxCharcode;
    int32_t nDefCharcode;
    int32_t nMinUnicode;
    int32_t nMaxUnicode;
    int32_t nDefUnicode;
};

struct _KT_CUMAPINDEX1
{
    uint16_t wCount;
    uint16_t wValue;
};

struct _KT_CUMAPINDEX2
{
    uint8_t uFirst;
    uint8_t uType;
    uint16_t wOffset;
};

struct _KT_CUMAP
{
    const _KT_CUMAPINDEX1 *pIndex1;
    const _KT_CUMAPINDEX2 *pIndex2;
    const unsigned char *pData;
};

struct _KT_UCMAPRANGE
{
    uint16_t wFirst;
    uint16_t wLast;
    uint16_t wType;
    uint16_t wOffset;
};

struct _KT_UCMAP
{
    int32_t nRangeCount;
    const _KT_UCMAPRANGE *pRanges;
    const unsigned char *pData;
};

struct _KT_CODEPAGE
{
    const _KT_CPMAPHEADER *pHeader;
    const _KT_CUMAP *pCUMap;
    const _KT_UCMAP *pUCMap;
};

// Buffer conversions. *pSrcLen and *pDstLen are the input length and the output capacity on
// entry, what was consumed and produced on return. A null pDst or a capacity <= 0 writes nothing
// and computes the full sizes. Returns 1 done, 0 stopped at an unmappable character (only with
// bStopOnInvalid), -1 for a null length pointer or an unknown code page (both lengths 0).
// Code pages 1200/1201 are UTF-16 little/big-endian: lengths in bytes on the byte side, in
// characters on the wide side; surrogate pairs join into one character and characters above
// U+FFFF are written as pairs.
int KT_DecodeString(int nCodePage, const char *pSrc, int *pSrcLen, wchar_t *pDst, int *pDstLen,
                    bool bStopOnInvalid);
int KT_EncodeString(int nCodePage, const wchar_t *pSrc, int *pSrcLen, char *pDst, int *pDstLen,
                    bool bStopOnInvalid);

// UTF-8 to wide characters; stops at a stray continuation byte or 0xFE/0xFF. *pSrcLen receives the
// bytes up to the end of the last completed character. Returns 1, or -1 for a null length.
int KT_UTF8Decode(const char *pSrc, int *pSrcLen, wchar_t *pDst, int *pDstLen);
// Wide characters to UTF-8 (1 to 4 bytes, or 5 and 6 for values the decoder also accepts);
// stops before a character that does not fit. Returns 1, or -1 for a null length.
int KT_UTF8Encode(const wchar_t *pSrc, int *pSrcLen, char *pDst, int *pDstLen);
// Whether the data follows the UTF-8 byte pattern; *pLen receives the bytes up to the end of the
// last complete multi-byte sequence. Requires: pData and pLen non-null.
bool KT_IsUTF8Data(const unsigned char *pData, int *pLen);

// One-to-one widening / narrowing of 16-bit units (narrowing keeps the low 16 bits); the in-place
// forms work from the end / from the start. Requires: non-null buffers, nLen > 0.
void KT_UTF16ToWChar(wchar_t *pBuf, int nLen);
void KT_UTF16ToWCharCopy(const unsigned short *pSrc, wchar_t *pDst, int nLen);
void KT_WCharToUTF16(wchar_t *pBuf, int nLen);
void KT_WCharToUTF16Copy(const wchar_t *pSrc, unsigned short *pDst, int nLen);
// Swaps the two bytes of each 16-bit unit. Requires: non-null buffers, nLen > 0.
void KT_SwapByteOrder(unsigned short *pBuf, int nLen);
void KT_SwapByteOrderCopy(const unsigned short *pSrc, unsigned short *pDst, int nLen);

// The built-in code page record, or null.
const _KT_CODEPAGE *KT_GetCodePage(int nCodePage);
// Character set <-> code page; -1 when absent.
int KT_GetCodePageFromCharset(int nCharset);
int KT_GetCharsetFromCodePage(int nCodePage);
// Code page of a character-set name (case-insensitive), or -1; nLen < 0 means up to the
// terminator. Requires: pStr non-null.
int KT_GetCodePageFromStringA(const char *pStr, int nLen);
int KT_GetCodePageFormStringW(const wchar_t *pStr, int nLen);
// h = h * 31 + c over signed bytes (h * 1313 + c over wide characters), 'A'-'Z' folded when
// bIgnoreCase; nLen < 0 means up to the terminator.
uint32_t KT_HashCode_String_GetA(const char *pStr, int nLen, bool bIgnoreCase);
uint32_t KT_HashCode_String_GetW(const wchar_t *pStr, int nLen, bool bIgnoreCase);

class IKT_CodePage
{
public:
    // A new code page object for a built-in code page, or null. Free it with Release().
    static IKT_CodePage *Create(int nCodePage);

    virtual void Release() = 0;
    virtual int GetCodePageNumber() const = 0;
    virtual int GetCodeSystemType() const = 0;
    virtual bool HasLeadByte() const = 0;
    virtual bool IsLeadByte(uint8_t uByte) const = 0;
    virtual int GetMinBytesPerChar() const = 0;
    virtual int GetMaxBytesPerChar() const = 0;
    virtual int GetMinCharcode() const = 0;
    virtual int GetMaxCharcode() const = 0;
    virtual int GetDefCharcode() const = 0;
    virtual int GetMinUnicode() const = 0;
    virtual int GetMaxUnicode() const = 0;
    virtual int GetDefUnicode() const = 0;
    virtual bool IsValidCharcode(uint16_t wCode) const = 0;
    // Unicode value of a character code, or 0xFEFF.
    virtual wchar_t GetUnicode(uint16_t wCode) const = 0;
    virtual bool IsValidUnicode(wchar_t wch) const = 0;
    // Character code of a Unicode value: 0xFEFF unmappable, 0xFFFF in no range.
    virtual uint16_t GetCharcode(wchar_t wch) const = 0;

protected:
    ~IKT_CodePage() = default;
};

class IKT_CodePageMgr
{
public:
    // A new manager of the built-in code pages. Free it with Release().
    static IKT_CodePageMgr *Create();

    virtual void Release() = 0;
    // 1252.
    virtual int GetDefaultCodePage() const = 0;
    virtual bool IsValidCodePage(int nCodePage) const = 0;
    // A new code page object, or null for a code page that is not built in.
    virtual IKT_CodePage *CreateCodePage(int nCodePage) const = 0;

protected:
    ~IKT_CodePageMgr() = default;
};

// A built-in code page, answering from its tables.
class CKT_CodePage final : public IKT_CodePage
{
public:
    explicit CKT_CodePage(const _KT_CODEPAGE *pCodePage) : m_pCodePage(pCodePage) {}
    CKT_CodePage(const CKT_CodePage &) = delete;
    CKT_CodePage &operator=(const CKT_CodePage &) = delete;

    void Release() override;
    int GetCodePageNumber() const override;
    int GetCodeSystemType() const override;
    bool HasLeadByte() const override;
    bool IsLeadByte(uint8_t uByte) const override;
    int GetMinBytesPerChar() const override;
    int GetMaxBytesPerChar() const override;
    int GetMinCharcode() const override;
    int GetMaxCharcode() const override;
    int GetDefCharcode() const override;
    int GetMinUnicode() const override;
    int GetMaxUnicode() const override;
    int GetDefUnicode() const override;
    bool IsValidCharcode(uint16_t wCode) const override;
    wchar_t GetUnicode(uint16_t wCode) const override;
    bool IsValidUnicode(wchar_t wch) const override;
    uint16_t GetCharcode(wchar_t wch) const override;

private:
    ~CKT_CodePage() = default;

    const _KT_CODEPAGE *m_pCodePage;
};

class CKT_CodePageMgr final : public IKT_CodePageMgr
{
public:
    CKT_CodePageMgr() = default;
    CKT_CodePageMgr(const CKT_CodePageMgr &) = delete;
    CKT_CodePageMgr &operator=(const CKT_CodePageMgr &) = delete;

    void Release() override;
    int GetDefaultCodePage() const override;
    bool IsValidCodePage(int nCodePage) const override;
    IKT_CodePage *CreateCodePage(int nCodePage) const override;

private:
    ~CKT_CodePageMgr() = default;
};

struct _KT_CHARSETCODEPAGE
{
    uint16_t wCharset;
    uint16_t wCodePage;
};

struct _KT_CPHASHENTRY
{
    uint32_t nHash;
    uint32_t nCodePage;
};

struct CKT_CharMap;
class CKT_ByteString;
class CKT_WideString;

// Whole-string conversions behind the table-driven character maps: a sizing pass, then the
// conversion into a buffer of that size for the map's code page (unmappable characters become
// the default character); any failure gives the empty string.
CKT_WideString _CRTMap_GetWideString(CKT_CharMap *pMap, const CKT_ByteString &bstr);
CKT_ByteString _CRTMap_GetByteString(CKT_CharMap *pMap, const CKT_WideString &wstr);

// The character maps of the table-driven code pages (CKT_CharMap::GetDefaultMapper hands them
// out); each one's code-page entry returns its number.
extern CKT_CharMap g_DefaultCP874Mapper, g_DefaultCP932Mapper, g_DefaultCP936Mapper,
    g_DefaultCP949Mapper, g_DefaultCP950Mapper, g_DefaultCP1250Mapper, g_DefaultCP1251Mapper,
    g_DefaultCP1252Mapper, g_DefaultCP1253Mapper, g_DefaultCP1254Mapper, g_DefaultCP1255Mapper,
    g_DefaultCP1256Mapper, g_DefaultCP1257Mapper, g_DefaultCP1258Mapper;

extern const _KT_CODEPAGE g_KTCodePageMgr[14];
extern const _KT_CHARSETCODEPAGE g_KTCharset2CodePageTable[31];
extern const _KT_CHARSETCODEPAGE g_KTCodepage2CharsetTable[31];
extern const _KT_CPHASHENTRY g_KTCPHashTable[255];

#endif // KTCRT_KT_CODEPAGE_H
