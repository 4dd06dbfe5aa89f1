// UTF-8 and UTF-16LE conversion of strings, the streaming codecs and the default character map.
#include "kt_basic_utf.h"

#include "kt_basic_strcore.h"

#include <stdlib.h>

namespace {

// One step of the decoder's state machine. Returns true and sets *pOut when a character is
// complete.
inline bool DecodeStep(KT_UINT32 &pending, KT_UINT32 &partial, KT_BYTE b, KT_UINT32 *pOut)
{
    if (b < 0x80) {
        pending = 0;
        *pOut = b;
        return true;
    }
    if (b < 0xC0) {
        if (pending == 0)
            return false;
        pending--;
        partial |= static_cast<KT_UINT32>(b & 0x3F) << (6 * pending);
        if (pending != 0)
            return false;
        *pOut = partial;
        return true;
    }
    if (b < 0xE0) {
        pending = 1;
        partial = static_cast<KT_UINT32>(b & 0x1F) << 6;
    } else if (b < 0xF0) {
        pending = 2;
        partial = static_cast<KT_UINT32>(b & 0x0F) << 12;
    } else if (b < 0xF8) {
        pending = 3;
        partial = static_cast<KT_UINT32>(b & 0x07) << 18;
    } else if (b < 0xFC) {
        pending = 4;
        partial = static_cast<KT_UINT32>(b & 0x03) << 24;
    } else if (b < 0xFE) {
        pending = 5;
        partial = static_cast<KT_UINT32>(b & 0x01) << 30;
    }
    return false;
}

// Bytes the encoder writes for c: 0 for negative values.
inline int EncodedLength(wchar_t wc)
{
    KT_UINT32 c = static_cast<KT_UINT32>(wc);
    if (c <= 0x7F)
        return 1;
    if (wc < 0)
        return 0;
    if (c < 0x800)
        return 2;
    if (c < 0x10000)
        return 3;
    if (c < 0x200000)
        return 4;
    if (c < 0x4000000)
        return 5;
    return 6;
}

// Writes the encoding of c (EncodedLength(c) bytes) at out.
inline void EncodeChar(wchar_t wc, int n, KT_BYTE *out)
{
    static const KT_BYTE kPrefix[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    KT_UINT32 c = static_cast<KT_UINT32>(wc);
    if (n == 1) {
        out[0] = static_cast<KT_BYTE>(c);
        return;
    }
    for (int i = n - 1; i > 0; i--) {
        out[i] = static_cast<KT_BYTE>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    out[0] = static_cast<KT_BYTE>(kPrefix[n] | c);
}

inline bool IsContinuation(KT_BYTE b)
{
    return (b & 0xC0) == 0x80;
}

// By sequence length: which bits of the next three bytes (little-endian above the lead byte)
// must read 10xxxxxx, the value they must have (never met for length 0), the mask of the lead
// byte's payload and how far the assembled bits are shifted down.
const KT_UINT32 kContinuationMask[5] = {0, 0, 0xC000, 0xC0C000, 0xC0C0C000};
const KT_UINT32 kContinuationValue[5] = {1, 0, 0x8000, 0x808000, 0x80808000};
const KT_UINT32 kLeadPayload[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
const KT_UINT32 kShift[5] = {0, 18, 12, 6, 0};

// Length of the well-formed sequence a lead byte starts (1 to 4), 0 for bytes that cannot start
// one here (continuation bytes, F8 and above). Arithmetic rather than a table keeps the load off
// the loop's critical path.
inline KT_UINT32 SequenceLength(KT_UINT32 b)
{
    KT_UINT32 n = 1 + (b >= 0xC0) + (b >= 0xE0) + (b >= 0xF0);
    bool bValid = (b < 0x80) | ((b >= 0xC0) & (b < 0xF8));
    return bValid ? n : 0;
}

// Decodes len bytes into out (room for len characters) and returns the characters written.
// While at least eight bytes remain, runs of ASCII go eight at a time and well-formed sequences
// of up to four bytes are decoded without branching on their length; anything else goes
// through the state machine one byte at a time, so the result is the same as feeding the
// decoder byte by byte.
int DecodeUTF8(const KT_BYTE *src, int len, wchar_t *out)
{
    const KT_BYTE *p = src;
    const KT_BYTE *pEnd = src + len;
    const KT_BYTE *pFastEnd = len >= 8 ? pEnd - 7 : src;
    wchar_t *q = out;
    KT_UINT32 pending = 0;
    KT_UINT32 partial = 0;
    while (p < pEnd) {
        if (pending == 0) {
            while (p < pFastEnd) {
                KT_UINT32 b = p[0];
                if (b < 0x80) {
                    KT_UINT32 word;
                    memcpy(&word, p, 4);
                    if ((word & 0x80808080u) == 0) {
                        q[0] = static_cast<wchar_t>(b);
                        q[1] = static_cast<wchar_t>(p[1]);
                        q[2] = static_cast<wchar_t>(p[2]);
                        q[3] = static_cast<wchar_t>(p[3]);
                        q += 4;
                        p += 4;
                        continue;
                    }
                    *q++ = static_cast<wchar_t>(b);
                    p++;
                    continue;
                }
                KT_UINT32 c1 = p[1] ^ 0x80;
                if (b < 0xE0) {
                    if (b < 0xC0 || c1 > 0x3F)
                        break;
                    *q++ = static_cast<wchar_t>((b & 0x1F) << 6 | c1);
                    p += 2;
                    continue;
                }
                KT_UINT32 c2 = p[2] ^ 0x80;
                if (b < 0xF0) {
                    if ((c1 | c2) > 0x3F)
                        break;
                    *q++ = static_cast<wchar_t>((b & 0x0F) << 12 | c1 << 6 | c2);
                    p += 3;
                    continue;
                }
                KT_UINT32 c3 = p[3] ^ 0x80;
                if (b >= 0xF8 || (c1 | c2 | c3) > 0x3F)
                    break;
                *q++ = static_cast<wchar_t>((b & 0x07) << 18 | c1 << 12 | c2 << 6 | c3);
                p += 4;
            }
            if (p >= pEnd)
                break;
        }
        KT_UINT32 ch;
        if (DecodeStep(pending, partial, *p++, &ch))
            *q++ = static_cast<wchar_t>(ch);
    }
    return static_cast<int>(q - out);
}

// The default map: the C library under the current character-type locale.
CKT_WideString CRTMap_GetWideString(CKT_CharMap *, const CKT_ByteString &bstr)
{
    CKT_WideString result;
    int n = KTSYS_MultiByteToWideChar(0, 0, bstr.GetCStr(), bstr.GetLength(), nullptr, 0);
    if (n <= 0)
        return result;
    wchar_t *buf = result.GetBuffer(n);
    if (!buf)
        return result;
    int written = KTSYS_MultiByteToWideChar(0, 0, bstr.GetCStr(), bstr.GetLength(), buf, n);
    result.ReleaseBuffer(written > 0 && written <= n ? written : 0);
    return result;
}

CKT_ByteString CRTMap_GetByteString(CKT_CharMap *, const CKT_WideString &wstr)
{
    CKT_ByteString result;
    int n = KTSYS_WideCharToMultiByte(0, 0, wstr.GetCStr(), wstr.GetLength(), nullptr, 0, nullptr,
                                      nullptr);
    if (n <= 0)
        return result;
    char *buf = result.GetBuffer(n);
    if (!buf)
        return result;
    int written =
        KTSYS_WideCharToMultiByte(0, 0, wstr.GetCStr(), wstr.GetLength(), buf, n, nullptr, nullptr);
    result.ReleaseBuffer(written > 0 && written <= n ? written : 0);
    return result;
}

int CRTMap_GetCodePage()
{
    return 0;
}

CKT_CharMap g_DefaultCRTMapper = {CRTMap_GetWideString, CRTMap_GetByteString, CRTMap_GetCodePage};

CKT_CharMap *MapOrDefault(CKT_CharMap *pCharMap)
{
    return pCharMap ? pCharMap : &g_DefaultCRTMapper;
}

} // namespace

int KTSYS_WideCharToMultiByte(int, KT_UINT32, const wchar_t *wstr, int, char *buf, int buflen,
                              const char *, int *)
{
    size_t n = wcstombs(buf, wstr, buf ? static_cast<size_t>(buflen) : 0);
    return n == static_cast<size_t>(-1) || n > INT32_MAX ? -1 : static_cast<int>(n);
}

int KTSYS_MultiByteToWideChar(int, KT_UINT32, const char *bstr, int, wchar_t *buf, int buflen)
{
    size_t n = mbstowcs(buf, bstr, buf ? static_cast<size_t>(buflen) : 0);
    return n == static_cast<size_t>(-1) || n > INT32_MAX ? -1 : static_cast<int>(n);
}

int KTSYS_GetACP()
{
    return 0;
}

CKT_CharMap *CKT_CharMap::GetDefaultMapper(int codepage)
{
    switch (codepage) {
    case 0:
        return &g_DefaultCRTMapper;
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
    case 1250:
    case 1251:
    case 1252:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
    case 1258:
        return KT_GetCodePageCharMap(codepage);
    default:
        return nullptr;
    }
}

void CKT_UTF8Decoder::Clear()
{
    m_PendingBytes = 0;
    m_PendingChar = 0;
    m_Buffer.Clear();
}

void CKT_UTF8Decoder::Input(KT_BYTE byte)
{
    KT_UINT32 ch;
    if (DecodeStep(m_PendingBytes, m_PendingChar, byte, &ch))
        m_Buffer.AppendChar(static_cast<wchar_t>(ch));
}

void CKT_UTF8Decoder::AppendChar(KT_UINT32 ch)
{
    m_PendingBytes = 0;
    m_Buffer.AppendChar(static_cast<wchar_t>(ch));
}

void CKT_UTF8Decoder::GetResult(CKT_WideStringL &result, _IKT_Allocator *pAllocator) const
{
    result.Set(GetResult(), pAllocator);
}

void CKT_UTF8Encoder::Input(wchar_t unicode)
{
    int n = EncodedLength(unicode);
    if (n == 1) {
        m_Buffer.AppendByte(static_cast<KT_BYTE>(unicode));
        return;
    }
    if (n == 0)
        return;
    KT_BYTE bytes[6];
    EncodeChar(unicode, n, bytes);
    m_Buffer.AppendBlock(bytes, static_cast<size_t>(n));
}

void CKT_UTF8Encoder::GetResult(CKT_ByteStringL &result, _IKT_Allocator *pAllocator) const
{
    result.Set(GetResult(), pAllocator);
}

namespace {

// Bytes the UTF-8 form of the text needs. Branch-free per character so the loop vectorises.
int64_t UTF8Size(const wchar_t *s, int len)
{
    int64_t n = 0;
    for (int i = 0; i < len; i++) {
        KT_UINT32 c = static_cast<KT_UINT32>(s[i]);
        KT_UINT32 bytes =
            1u + (c > 0x7F) + (c >= 0x800) + (c >= 0x10000) + (c >= 0x200000) + (c >= 0x4000000);
        n += c > 0x7FFFFFFF ? 0 : bytes;
    }
    return n;
}

// Writes the UTF-8 form of the text into out, which has room for it, and returns the end.
KT_BYTE *EncodeInto(const wchar_t *s, int len, KT_BYTE *out)
{
    for (const wchar_t *pEnd = s + len; s < pEnd; s++) {
        KT_UINT32 c = static_cast<KT_UINT32>(*s);
        if (c < 0x80) {
            *out++ = static_cast<KT_BYTE>(c);
        } else if (c < 0x800) {
            out[0] = static_cast<KT_BYTE>(0xC0 | (c >> 6));
            out[1] = static_cast<KT_BYTE>(0x80 | (c & 0x3F));
            out += 2;
        } else if (c < 0x10000) {
            out[0] = static_cast<KT_BYTE>(0xE0 | (c >> 12));
            out[1] = static_cast<KT_BYTE>(0x80 | ((c >> 6) & 0x3F));
            out[2] = static_cast<KT_BYTE>(0x80 | (c & 0x3F));
            out += 3;
        } else {
            int n = EncodedLength(*s);
            if (n > 0)
                EncodeChar(*s, n, out);
            out += n;
        }
    }
    return out;
}

} // namespace

CKT_ByteString KT_UTF8Encode(const CKT_WideStringC &wsStr)
{
    CKT_ByteString result;
    int nLen = wsStr.GetLength();
    if (nLen <= 0)
        return result;
    // Six bytes per character bound the output, so one pass can write it; the block is then
    // trimmed to the text. Text too long for that bound is measured first instead.
    int64_t nBound = static_cast<int64_t>(nLen) * 6;
    if (nBound > INT32_MAX) {
        nBound = UTF8Size(wsStr.GetPtr(), nLen);
        if (nBound > INT32_MAX)
            return result;
    }
    char *buf = result.GetBuffer(static_cast<int>(nBound));
    if (!buf)
        return result;
    KT_BYTE *out = reinterpret_cast<KT_BYTE *>(buf);
    KT_BYTE *outEnd = EncodeInto(wsStr.GetPtr(), nLen, out);
    result.ReleaseBuffer(static_cast<int>(outEnd - out));
    KT_StrCore<char>::FitToLength(KT_StringAccess::Block(result));
    return result;
}

CKT_ByteString KT_UTF8Encode(const wchar_t *pwsStr, int len)
{
    KTASSERT(pwsStr != NULL);
    if (len < 0)
        len = static_cast<int>(wcslen(pwsStr));
    return KT_UTF8Encode(CKT_WideStringC(pwsStr, len));
}

void KT_UTF8Encode(const CKT_WideStringC &wsStr, CKT_ByteStringL &result,
                   _IKT_Allocator *pAllocator)
{
    result.Empty(pAllocator);
    int64_t nBytes = UTF8Size(wsStr.GetPtr(), wsStr.GetLength());
    if (nBytes <= 0 || nBytes > INT32_MAX)
        return;
    char *buf = result.AllocBuffer(static_cast<int>(nBytes), pAllocator);
    if (buf) {
        KT_BYTE *out = reinterpret_cast<KT_BYTE *>(buf);
        EncodeInto(wsStr.GetPtr(), wsStr.GetLength(), out);
    }
}

CKT_ByteString CKT_WideString::UTF8Encode() const
{
    return KT_UTF8Encode(CKT_WideStringC(*this));
}

CKT_WideString CKT_ByteString::UTF8Decode() const
{
    return CKT_WideString::FromUTF8(GetCStr(), GetLength());
}

CKT_WideString CKT_WideString::FromUTF8(const char *str, int len)
{
    CKT_WideString result;
    if (!str || len == 0)
        return result;
    if (len < 0)
        len = static_cast<int>(strlen(str));
    // Every byte yields at most one character: decode into a block of len, then trim the block
    // to the decoded length so that strings stay exactly as large as their text.
    wchar_t *buf = result.GetBuffer(len);
    if (!buf)
        return result;
    int n = DecodeUTF8(reinterpret_cast<const KT_BYTE *>(str), len, buf);
    result.ReleaseBuffer(n);
    KT_StrCore<wchar_t>::FitToLength(KT_StringAccess::Block(result));
    return result;
}

CKT_ByteString CKT_WideString::UTF16LE_Encode(bool bTerminate) const
{
    CKT_ByteString result;
    int nLen = GetLength();
    int64_t nBytes = static_cast<int64_t>(nLen) * 2 + (bTerminate ? 2 : 0);
    if (nBytes == 0 || nBytes > INT32_MAX)
        return result;
    KT_BYTE *buf = reinterpret_cast<KT_BYTE *>(result.GetBuffer(static_cast<int>(nBytes)));
    if (!buf)
        return result;
    const wchar_t *s = GetCStr();
    for (int i = 0; i < nLen; i++) {
        KT_UINT32 c = static_cast<KT_UINT32>(s[i]);
        buf[2 * i] = static_cast<KT_BYTE>(c & 0xFF);
        buf[2 * i + 1] = static_cast<KT_BYTE>((c >> 8) & 0xFF);
    }
    if (bTerminate) {
        buf[2 * nLen] = 0;
        buf[2 * nLen + 1] = 0;
    }
    result.ReleaseBuffer(static_cast<int>(nBytes));
    return result;
}

CKT_WideString CKT_WideString::FromUTF16LE(const unsigned short *str, int len)
{
    CKT_WideString result;
    if (!str || len == 0)
        return result;
    if (len < 0)
        len = WStringLength(str);
    wchar_t *buf = result.GetBuffer(len);
    if (!buf)
        return result;
    for (int i = 0; i < len; i++)
        buf[i] = static_cast<wchar_t>(str[i]);
    result.ReleaseBuffer(len);
    return result;
}

int CKT_WideString::WStringLength(const unsigned short *str)
{
    if (!str)
        return 0;
    int n = 0;
    while (str[n])
        n++;
    return n;
}

CKT_ByteString CKT_ByteString::FromUnicode(const wchar_t *ptr, int len)
{
    if (!ptr)
        return CKT_ByteString();
    if (len < 0)
        len = static_cast<int>(wcslen(ptr));
    return FromUnicode(CKT_WideString(ptr, len));
}

CKT_ByteString CKT_ByteString::FromUnicode(const CKT_WideString &str)
{
    CKT_CharMap *pMap = CKT_CharMap::GetDefaultMapper(0);
    return pMap->m_GetByteString(pMap, str);
}

CKT_WideString CKT_WideString::FromLocal(const char *str, int len)
{
    CKT_CharMap *pMap = CKT_CharMap::GetDefaultMapper(0);
    return pMap->m_GetWideString(pMap, CKT_ByteString(str, len));
}

void CKT_ByteString::ConvertFrom(const CKT_WideString &str, CKT_CharMap *pCharMap)
{
    CKT_CharMap *pMap = MapOrDefault(pCharMap);
    *this = pMap->m_GetByteString(pMap, str);
}

void CKT_WideString::ConvertFrom(const CKT_ByteString &str, CKT_CharMap *pCharMap)
{
    CKT_CharMap *pMap = MapOrDefault(pCharMap);
    *this = pMap->m_GetWideString(pMap, str);
}
