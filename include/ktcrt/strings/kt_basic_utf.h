// Text conversion: the streaming UTF-8 codecs, the one-shot UTF-8 helpers and the character
// maps that convert between wide text and byte encodings.
//
// The UTF-8 decoder is forgiving by design: broken sequences are dropped silently, overlong
// forms and surrogate values are accepted as decoded, and lead bytes up to 0xFD start sequences
// of up to six bytes. The encoder writes every non-negative value, surrogates included, in the
// matching number of bytes; negative values write nothing.
#ifndef KTCRT_KT_BASIC_UTF_H
#define KTCRT_KT_BASIC_UTF_H

#include "kt_basic_buffer.h"

// Streaming UTF-8 decoder appending wide characters to a buffer.
class CKT_UTF8Decoder
{
public:
    explicit CKT_UTF8Decoder(_IKT_Allocator *pAllocator = nullptr)
        : m_PendingBytes(0), m_PendingChar(0), m_Buffer(pAllocator)
    {}

    // Forgets the decoded text and any pending sequence.
    void Clear();
    void Input(KT_BYTE byte);
    // Appends a character directly (for character references); abandons a pending sequence.
    void AppendChar(KT_UINT32 ch);
    // The text decoded so far; valid until the next input.
    CKT_WideStringC GetResult() const { return m_Buffer.GetWideString(); }
    void GetResult(CKT_WideStringL &result, _IKT_Allocator *pAllocator) const;
    CKT_WideTextBuf &GetBuffer() { return m_Buffer; }

protected:
    KT_UINT32 m_PendingBytes;
    KT_UINT32 m_PendingChar;
    CKT_WideTextBuf m_Buffer;
};

// Streaming UTF-8 encoder appending bytes to a buffer.
class CKT_UTF8Encoder
{
public:
    explicit CKT_UTF8Encoder(_IKT_Allocator *pAllocator = nullptr) : m_Buffer(pAllocator) {}

    void Input(wchar_t unicode);
    // Appends bytes as they are.
    void AppendStr(const CKT_ByteStringC &str) { m_Buffer.AppendString(str); }
    CKT_ByteStringC GetResult() const { return m_Buffer.GetByteString(); }
    void GetResult(CKT_ByteStringL &result, _IKT_Allocator *pAllocator) const;
    void Clear() { m_Buffer.Clear(); }
    CKT_BinaryBuf &GetBuffer() { return m_Buffer; }

protected:
    CKT_BinaryBuf m_Buffer;
};

// UTF-8 form of wide text. The pointer form takes len < 0 as up to the terminator.
// Requires: pwsStr is not null.
CKT_ByteString KT_UTF8Encode(const CKT_WideStringC &wsStr);
CKT_ByteString KT_UTF8Encode(const wchar_t *pwsStr, int len = -1);
// The same into an allocator-bound string (emptied first).
void KT_UTF8Encode(const CKT_WideStringC &wsStr, CKT_ByteStringL &result,
                   _IKT_Allocator *pAllocator);

// A converter between wide text and one byte encoding: three entries, the last may be null.
struct CKT_CharMap
{
    CKT_WideString (*m_GetWideString)(CKT_CharMap *pMap, const CKT_ByteString &bstr);
    CKT_ByteString (*m_GetByteString)(CKT_CharMap *pMap, const CKT_WideString &wstr);
    int (*m_GetCodePage)();

    // Code page 0: the C library under the current locale; the table-driven Windows code pages
    // (874, 932, 936, 949, 950, 1250 to 1258) as the code page family provides them; null for
    // any other number.
    static CKT_CharMap *GetDefaultMapper(int codepage = 0);
};

// The table-driven map of one Windows code page, or null. Provided by the code page family.
CKT_CharMap *KT_GetCodePageCharMap(int codepage);

// Locale conversions behind the default map. The code page, the flags, the source length and
// the default-character arguments are ignored: the source runs to its zero terminator. With a
// null output the result is the size the output needs; a negative result means the locale
// cannot represent the text.
int KTSYS_WideCharToMultiByte(int codepage, KT_UINT32 flags, const wchar_t *wstr, int wlen,
                              char *buf, int buflen, const char *default_str, int *pUseDefault);
int KTSYS_MultiByteToWideChar(int codepage, KT_UINT32 flags, const char *bstr, int blen,
                              wchar_t *buf, int buflen);
// The code page of the process: 0, the locale's own encoding.
int KTSYS_GetACP();

#endif // KTCRT_KT_BASIC_UTF_H
