// Byte and wide strings of the base library.
//
// CKT_ByteString (8-bit characters) and CKT_WideString (one 32-bit wchar_t per character) hold a
// single pointer to a reference-counted data block:
//
//   int32 m_nRefCount    strings sharing the block; 1 = exclusive, -1 = locked by LockBuffer
//                        (never shared: copies of a locked string are deep copies)
//   int32 m_nDataLength  characters in use
//   int32 m_nAllocLength capacity, not counting the terminator
//   characters           capacity + 1, always zero at index m_nDataLength
//
// A byte block takes capacity + 13 bytes and a wide block capacity * 4 + 16 bytes from the
// default manager. The empty string is a null block, so it costs nothing; a block of length 0
// can still exist (after trimming or deleting everything) and counts as empty everywhere.
// Blocks are exactly as large as the text they receive: spare capacity exists only after
// GetBuffer/Reserve or after shortening. Copying a string shares its block (one increment);
// every editing operation first detaches a shared block, so other strings never change.
// Reference counts are plain integers: a block may be shared only within one thread.
//
// CKT_ByteStringC and CKT_WideStringC are non-owning views (pointer and length, not necessarily
// zero-terminated). CKT_ByteStringL and CKT_WideStringL are plain unshared strings whose memory
// comes from a caller-chosen allocator.
#ifndef KTCRT_KT_BASIC_STRING_H
#define KTCRT_KT_BASIC_STRING_H

#include "kt_basic_mem.h"

#include <stdarg.h>
#include <string.h>
#include <wchar.h>

class CKT_ByteString;
class CKT_WideString;
class CKT_BinaryBuf;
struct CKT_CharMap;

template <class C>
struct CKT_StringDataT
{
    KT_INT32 m_nRefCount;
    KT_INT32 m_nDataLength;
    KT_INT32 m_nAllocLength;
    C m_String[1];
};
typedef CKT_StringDataT<char> CKT_StringData;
typedef CKT_StringDataT<wchar_t> CKT_StringDataW;

// A block of length and capacity nLen with its terminator written, count 1; null for nLen < 1
// or when memory runs out. The characters are left for the caller.
CKT_StringData *KT_AllocString(int nLen);
CKT_StringDataW *KT_AllocStringW(int nLen);
// Drops one reference; frees the block when the count was 1 or less (locked blocks included).
void KT_ReleaseString(CKT_StringData *pData);
void KT_ReleaseStringW(CKT_StringDataW *pData);

// Non-owning view of bytes.
class CKT_ByteStringC
{
public:
    CKT_ByteStringC() : m_Ptr(nullptr), m_Length(0) {}
    // A C string; null gives length 0.
    CKT_ByteStringC(const char *ptr)
        : m_Ptr(reinterpret_cast<const KT_BYTE *>(ptr)),
          m_Length(ptr ? static_cast<int>(strlen(ptr)) : 0)
    {}
    CKT_ByteStringC(const char *ptr, int len)
        : m_Ptr(reinterpret_cast<const KT_BYTE *>(ptr)), m_Length(ptr ? len : 0)
    {}
    CKT_ByteStringC(const KT_BYTE *ptr, int len) : m_Ptr(ptr), m_Length(ptr ? len : 0) {}
    // Points into the string's block; null and length 0 when the string is empty.
    CKT_ByteStringC(const CKT_ByteString &src);

    const KT_BYTE *GetPtr() const { return m_Ptr; }
    const char *GetCStr() const { return reinterpret_cast<const char *>(m_Ptr); }
    int GetLength() const { return m_Length; }
    bool IsEmpty() const { return m_Length == 0; }
    // Requires: 0 <= index < GetLength().
    KT_BYTE GetAt(int index) const
    {
        KTASSERT(index >= 0 && index < m_Length);
        return m_Ptr[index];
    }
    KT_BYTE operator[](int index) const { return GetAt(index); }
    // The part from index, at most count bytes, clamped to the view.
    CKT_ByteStringC Mid(int index, int count = -1) const;

    bool operator==(const CKT_ByteStringC &other) const
    {
        return m_Length == other.m_Length &&
               (m_Length <= 0 || memcmp(m_Ptr, other.m_Ptr, static_cast<size_t>(m_Length)) == 0);
    }
    bool operator!=(const CKT_ByteStringC &other) const { return !(*this == other); }

protected:
    const KT_BYTE *m_Ptr;
    int m_Length;
};

// Non-owning view of wide characters.
class CKT_WideStringC
{
public:
    CKT_WideStringC() : m_Ptr(nullptr), m_Length(0) {}
    CKT_WideStringC(const wchar_t *ptr)
        : m_Ptr(ptr), m_Length(ptr ? static_cast<int>(wcslen(ptr)) : 0)
    {}
    CKT_WideStringC(const wchar_t *ptr, int len) : m_Ptr(ptr), m_Length(ptr ? len : 0) {}
    CKT_WideStringC(const CKT_WideString &src);

    const wchar_t *GetPtr() const { return m_Ptr; }
    int GetLength() const { return m_Length; }
    bool IsEmpty() const { return m_Length == 0; }
    // Requires: 0 <= index < GetLength().
    wchar_t GetAt(int index) const
    {
        KTASSERT(index >= 0 && index < m_Length);
        return m_Ptr[index];
    }
    wchar_t operator[](int index) const { return GetAt(index); }
    CKT_WideStringC Mid(int index, int count = -1) const;

    bool operator==(const CKT_WideStringC &other) const
    {
        return m_Length == other.m_Length &&
               (m_Length <= 0 || wmemcmp(m_Ptr, other.m_Ptr, static_cast<size_t>(m_Length)) == 0);
    }
    bool operator!=(const CKT_WideStringC &other) const { return !(*this == other); }

protected:
    const wchar_t *m_Ptr;
    int m_Length;
};

class CKT_ByteString
{
public:
    CKT_ByteString() : m_pData(nullptr) {}
    // Shares the block, or copies the characters of a locked one.
    CKT_ByteString(const CKT_ByteString &src);
    CKT_ByteString(CKT_ByteString &&src) noexcept : m_pData(src.m_pData) { src.m_pData = nullptr; }
    // len < 0 means up to the terminator; null or length 0 gives the empty string.
    CKT_ByteString(const char *ptr, int len = -1);
    CKT_ByteString(const KT_BYTE *ptr, int len);
    explicit CKT_ByteString(char ch);
    CKT_ByteString(const CKT_ByteStringC &view);
    // The concatenation of two views (empty when both are).
    CKT_ByteString(const CKT_ByteStringC &first, const CKT_ByteStringC &second);
    ~CKT_ByteString();

    CKT_ByteString &operator=(const CKT_ByteString &src);
    CKT_ByteString &operator=(CKT_ByteString &&src) noexcept;
    CKT_ByteString &operator=(const char *src);
    CKT_ByteString &operator=(const CKT_ByteStringC &src);
    CKT_ByteString &operator=(const CKT_BinaryBuf &buf);
    // Replaces the content with len bytes; len 0 empties the string.
    void Load(const KT_BYTE *pBuf, int len);

    CKT_ByteString &operator+=(const char *src);
    CKT_ByteString &operator+=(char ch);
    CKT_ByteString &operator+=(const CKT_ByteString &src);
    CKT_ByteString &operator+=(const CKT_ByteStringC &src);

    int GetLength() const { return m_pData ? m_pData->m_nDataLength : 0; }
    bool IsEmpty() const { return GetLength() == 0; }
    void Empty();
    // The characters, or "" for the empty string; valid until the string changes.
    const char *GetCStr() const { return m_pData ? m_pData->m_String : ""; }
    const KT_BYTE *GetPtr() const
    {
        return m_pData ? reinterpret_cast<const KT_BYTE *>(m_pData->m_String) : nullptr;
    }
    // Requires: 0 <= nIndex < GetLength().
    KT_BYTE GetAt(int nIndex) const;
    KT_BYTE operator[](int nIndex) const { return GetAt(nIndex); }
    // Requires: 0 <= nIndex < GetLength().
    void SetAt(int nIndex, char ch);

    bool Equal(const CKT_ByteStringC &str) const;
    bool EqualNoCase(const CKT_ByteStringC &str) const;
    bool operator==(const char *str) const { return Equal(CKT_ByteStringC(str)); }
    bool operator==(const CKT_ByteStringC &str) const { return Equal(str); }
    bool operator==(const CKT_ByteString &other) const;
    bool operator!=(const char *str) const { return !(*this == str); }
    bool operator!=(const CKT_ByteStringC &str) const { return !Equal(str); }
    bool operator!=(const CKT_ByteString &other) const { return !(*this == other); }
    // Unsigned byte order, then length; -1, 0 or 1.
    int Compare(const CKT_ByteStringC &str) const;
    bool operator<(const CKT_ByteString &other) const { return Compare(other) < 0; }

    // Writable room for at least nMinBufLength characters plus terminator; null for 0 on an
    // empty string or when memory runs out. Finish with ReleaseBuffer.
    char *GetBuffer(int nMinBufLength);
    // Sets the length: -1 (any negative) up to the first zero, 0 empties the string.
    // Requires: nNewLength <= capacity.
    void ReleaseBuffer(int nNewLength = -1);
    // A private writable array that is never shared until the string changes; null when empty.
    char *LockBuffer();
    void Reserve(int len);

    // Sub-strings with clamped arguments; the whole string shares the block.
    CKT_ByteString Mid(int nFirst) const;
    CKT_ByteString Mid(int nFirst, int nCount) const;
    CKT_ByteString Left(int nCount) const;
    CKT_ByteString Right(int nCount) const;

    // Index of the first ch at or after nStart (stops at a zero byte), else -1.
    int Find(char ch, int nStart = 0) const;
    // Index of the first occurrence of the bytes of sub at or after nStart; an empty sub is never
    // found. -1 when absent.
    int Find(const CKT_ByteStringC &sub, int nStart = 0) const;
    int ReverseFind(char ch) const;
    // Replaces every non-overlapping occurrence; returns how many.
    int Replace(const CKT_ByteStringC &lpszOld, const CKT_ByteStringC &lpszNew);
    // Inserts ch at the clamped index; returns the new length.
    int Insert(int nIndex, char ch);
    // Removes up to nCount characters at nIndex; returns the new length.
    int Delete(int nIndex, int nCount = 1);
    // Removes every ch; returns how many.
    int Remove(char ch);
    void MakeLower();
    void MakeUpper();
    // Strip characters of the set (white space without argument); the block stays.
    void TrimRight();
    void TrimRight(char chTarget);
    void TrimRight(const CKT_ByteStringC &lpszTargets);
    void TrimLeft();
    void TrimLeft(char chTarget);
    void TrimLeft(const CKT_ByteStringC &lpszTargets);
    // Up to four bytes from start packed high first; 0 when start is past the end.
    KT_UINT32 GetID(int start = 0) const;
    // The whole file read in binary; empty when it cannot be opened or read.
    static CKT_ByteString LoadFromFile(const CKT_ByteStringC &file_path);

    // printf-style output replaces the content; see kt_basic_format.cpp for the estimate.
    void Format(const char *lpszFormat, ...);
    void FormatV(const char *lpszFormat, va_list argList);
    // Flag 1: signed; 2: hexadecimal; 4 with 2: upper-case digits.
    static CKT_ByteString FormatInteger(int i, KT_UINT32 flags = 0);
    static CKT_ByteString FormatFloat(float f, int precision = 0);

    CKT_WideString UTF8Decode() const;
    // The wide text converted by the default character map (the locale's multibyte encoding);
    // empty when the locale cannot represent a character. len < 0 means wcslen.
    static CKT_ByteString FromUnicode(const wchar_t *ptr, int len = -1);
    static CKT_ByteString FromUnicode(const CKT_WideString &str);
    // Replaces the content with str converted by pCharMap (null: the default map).
    void ConvertFrom(const CKT_WideString &str, CKT_CharMap *pCharMap = nullptr);

protected:
    void AllocCopy(CKT_ByteString &dest, int nCopyLen, int nCopyIndex) const;
    bool AllocBeforeWrite(int nLen);
    void AssignCopy(int nSrcLen, const char *lpszSrcData);
    void ConcatCopy(int nSrc1Len, const char *lpszSrc1Data, int nSrc2Len, const char *lpszSrc2Data);
    void ConcatInPlace(int nSrcLen, const char *lpszSrcData);
    void CopyBeforeWrite();

    CKT_StringData *m_pData;

    friend class CKT_ByteStringC;
    friend struct KT_StringAccess;
};

CKT_ByteString operator+(const CKT_ByteStringC &str1, const CKT_ByteStringC &str2);
CKT_ByteString operator+(const CKT_ByteStringC &str1, char ch);
CKT_ByteString operator+(char ch, const CKT_ByteStringC &str2);
inline bool operator==(const char *str1, const CKT_ByteString &str2)
{
    return str2 == str1;
}
inline bool operator!=(const char *str1, const CKT_ByteString &str2)
{
    return str2 != str1;
}

class CKT_WideString
{
public:
    CKT_WideString() : m_pData(nullptr) {}
    CKT_WideString(const CKT_WideString &src);
    CKT_WideString(CKT_WideString &&src) noexcept : m_pData(src.m_pData) { src.m_pData = nullptr; }
    CKT_WideString(const wchar_t *ptr, int len = -1);
    explicit CKT_WideString(wchar_t ch);
    CKT_WideString(const CKT_WideStringC &view);
    CKT_WideString(const CKT_WideStringC &first, const CKT_WideStringC &second);
    ~CKT_WideString();

    // The (pointer, length) constructor as an operation on an empty string.
    void InitStr(const wchar_t *ptr, int len);

    CKT_WideString &operator=(const CKT_WideString &src);
    CKT_WideString &operator=(CKT_WideString &&src) noexcept;
    CKT_WideString &operator=(const wchar_t *src);
    CKT_WideString &operator=(const CKT_WideStringC &src);

    CKT_WideString &operator+=(const wchar_t *src);
    CKT_WideString &operator+=(wchar_t ch);
    CKT_WideString &operator+=(const CKT_WideString &src);
    CKT_WideString &operator+=(const CKT_WideStringC &src);

    int GetLength() const { return m_pData ? m_pData->m_nDataLength : 0; }
    bool IsEmpty() const { return GetLength() == 0; }
    void Empty();
    // The characters, or L"" for the empty string; valid until the string changes.
    const wchar_t *GetCStr() const { return m_pData ? m_pData->m_String : L""; }
    const wchar_t *GetPtr() const { return m_pData ? m_pData->m_String : nullptr; }
    // Requires: 0 <= nIndex < GetLength().
    wchar_t GetAt(int nIndex) const;
    wchar_t operator[](int nIndex) const { return GetAt(nIndex); }
    // Requires: 0 <= nIndex < GetLength().
    void SetAt(int nIndex, wchar_t ch);

    bool Equal(const CKT_WideStringC &str) const;
    bool operator==(const wchar_t *str) const { return Equal(CKT_WideStringC(str)); }
    bool operator==(const CKT_WideStringC &str) const { return Equal(str); }
    bool operator==(const CKT_WideString &other) const { return Equal(other); }
    bool operator!=(const wchar_t *str) const { return !(*this == str); }
    bool operator!=(const CKT_WideStringC &str) const { return !Equal(str); }
    bool operator!=(const CKT_WideString &other) const { return !Equal(other); }
    // wcscmp on the stored characters; the empty string is 0 against null or "", else -1.
    int Compare(const wchar_t *lpsz) const;
    // Signed unit order, then length; -1, 0 or 1.
    int Compare(const CKT_WideString &str) const;
    // ASCII-only case folding; sign of the first difference. Requires: lpsz is not null.
    int CompareNoCase(const wchar_t *lpsz) const;

    wchar_t *GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);
    wchar_t *LockBuffer();
    void Reserve(int len);

    CKT_WideString Mid(int nFirst) const;
    CKT_WideString Mid(int nFirst, int nCount) const;
    CKT_WideString Left(int nCount) const;
    CKT_WideString Right(int nCount) const;

    int Find(wchar_t ch, int nStart = 0) const;
    // wcsstr from nStart (an empty pattern is found at nStart); -1 when absent, when the string
    // is empty or nStart is outside it.
    int Find(const wchar_t *lpszSub, int nStart = 0) const;
    // Replaces every non-overlapping occurrence (a null new text removes them); returns how many.
    int Replace(const wchar_t *lpszOld, const wchar_t *lpszNew);
    int Insert(int nIndex, wchar_t ch);
    int Delete(int nIndex, int nCount = 1);
    int Remove(wchar_t ch);
    void MakeLower();
    void MakeUpper();
    void TrimRight();
    void TrimRight(wchar_t chTarget);
    // Requires: lpszTargetList is not null.
    void TrimRight(const wchar_t *lpszTargetList);
    void TrimLeft();
    void TrimLeft(wchar_t chTarget);
    // Requires: lpszTargets is not null.
    void TrimLeft(const wchar_t *lpszTargets);

    // Optional '-', decimal digits up to the first non-digit; 32-bit wrap-around.
    int GetInteger() const;
    float GetFloat() const;

    void Format(const wchar_t *lpszFormat, ...);
    void FormatV(const wchar_t *lpszFormat, va_list argList);

    CKT_ByteString UTF8Encode() const;
    // null or length 0: empty; len < 0: up to the first zero byte.
    static CKT_WideString FromUTF8(const char *str, int len = -1);
    // The bytes converted by the default character map from the locale's multibyte encoding.
    static CKT_WideString FromLocal(const char *str, int len = -1);
    void ConvertFrom(const CKT_ByteString &str, CKT_CharMap *pCharMap = nullptr);
    // Two bytes per character, low byte first, high bits above 16 dropped; terminate appends
    // two zero bytes.
    CKT_ByteString UTF16LE_Encode(bool bTerminate = true) const;
    static CKT_WideString FromUTF16LE(const unsigned short *str, int len = -1);
    static int WStringLength(const unsigned short *str);

protected:
    void AllocCopy(CKT_WideString &dest, int nCopyLen, int nCopyIndex) const;
    bool AllocBeforeWrite(int nLen);
    void AssignCopy(int nSrcLen, const wchar_t *lpszSrcData);
    void ConcatCopy(int nSrc1Len, const wchar_t *lpszSrc1Data, int nSrc2Len,
                    const wchar_t *lpszSrc2Data);
    void ConcatInPlace(int nSrcLen, const wchar_t *lpszSrcData);
    void CopyBeforeWrite();

    CKT_StringDataW *m_pData;

    friend class CKT_WideStringC;
    friend struct KT_StringAccess;
};

CKT_WideString operator+(const CKT_WideStringC &str1, const CKT_WideStringC &str2);
CKT_WideString operator+(const CKT_WideStringC &str1, wchar_t ch);
CKT_WideString operator+(wchar_t ch, const CKT_WideStringC &str2);
inline bool operator==(const wchar_t *str1, const CKT_WideString &str2)
{
    return str2 == str1;
}
inline bool operator!=(const wchar_t *str1, const CKT_WideString &str2)
{
    return str2 != str1;
}
inline bool operator==(const CKT_WideStringC &str1, const CKT_WideString &str2)
{
    return str2 == str1;
}
inline bool operator!=(const CKT_WideStringC &str1, const CKT_WideString &str2)
{
    return str2 != str1;
}

// Plain unshared byte string bound to an allocator (null: the default manager): the characters
// plus a terminator in one buffer. It does not know its allocator, so the owner must call
// Empty(allocator) before it goes away; copying is not allowed.
class CKT_ByteStringL : public CKT_ByteStringC
{
public:
    CKT_ByteStringL() {}
    CKT_ByteStringL(const CKT_ByteStringL &) = delete;
    CKT_ByteStringL &operator=(const CKT_ByteStringL &) = delete;

    // Frees the buffer; both fields become zero.
    void Empty(_IKT_Allocator *pAllocator);
    // A fresh buffer of len + 1 bytes, length len; null (and empty) when allocation fails.
    char *AllocBuffer(int len, _IKT_Allocator *pAllocator);
    // A copy of the view; a null or empty view leaves the string empty.
    void Set(const CKT_ByteStringC &src, _IKT_Allocator *pAllocator);
    char *GetBuffer() { return const_cast<char *>(GetCStr()); }
};

// Plain unshared wide string bound to an allocator; same rules as CKT_ByteStringL.
class CKT_WideStringL : public CKT_WideStringC
{
public:
    CKT_WideStringL() {}
    CKT_WideStringL(const CKT_WideStringL &) = delete;
    CKT_WideStringL &operator=(const CKT_WideStringL &) = delete;

    void Empty(_IKT_Allocator *pAllocator);
    wchar_t *AllocBuffer(int len, _IKT_Allocator *pAllocator);
    void Set(const CKT_WideStringC &src, _IKT_Allocator *pAllocator);
    wchar_t *GetBuffer() { return const_cast<wchar_t *>(m_Ptr); }

    int GetInteger() const;
    float GetFloat() const;
    // Strips trailing characters of the zero-terminated set. Requires: lpszTargets is not null.
    void TrimRight(const wchar_t *lpszTargets);
};

// C-library style helpers used by the strings.
// ASCII-only case change up to the first zero character; return their argument.
char *KTSYS_strlwr(char *str);
char *KTSYS_strupr(char *str);
wchar_t *KTSYS_wcslwr(wchar_t *str);
wchar_t *KTSYS_wcsupr(wchar_t *str);
// Walks both with 'A'-'Z' folded; the folded difference at the first mismatch, 0 at a common end.
int KTSYS_wcsicmp(const wchar_t *s1, const wchar_t *s2);
// Optional '-', then decimal digits, 32-bit wrap-around; no white space, no '+'.
int KTSYS_atoi(const char *str);
int KTSYS_wtoi(const wchar_t *str);
// Decimal text to float without exponent (see CKT_WideString::GetFloat).
float KT_wtof(const wchar_t *str, int len);
// First occurrence of the pattern bytes inside the text bytes (zero bytes are ordinary), or null;
// an empty pattern is never found.
const char *KT_strstr(const char *str1, int len1, const char *str2, int len2);

// Writes the text of f into buf (room for at least 32 characters) and returns its length: at
// most six decimals, no trailing zeros, "0" for values that round to zero. Only the text "0" is
// zero-terminated. Magnitudes of 2^31 and above are written as their exact integer value while
// that fits 31 digits, beyond as "d.dddddde+NN"; infinities and NaN as "inf", "-inf", "nan".
int KT_ftoa(float f, char *buf);
// Rounds half away from zero into 32 bits. Requires: |f| < 2^31.
int KTSYS_round(float f);

// Fixed-capacity byte buffer with its storage inline after the header (see CKT_StringBuf):
// appends beyond the limit are silently cut. No terminator is written.
class CKT_StringBufBase
{
public:
    explicit CKT_StringBufBase(int limit) : m_Limit(limit), m_Size(0) {}
    CKT_StringBufBase(const CKT_StringBufBase &) = delete;
    CKT_StringBufBase &operator=(const CKT_StringBufBase &) = delete;

    char *GetPtr() { return reinterpret_cast<char *>(this + 1); }
    const char *GetPtr() const { return reinterpret_cast<const char *>(this + 1); }
    int GetSize() const { return m_Size; }
    int GetLimit() const { return m_Limit; }
    CKT_ByteStringC GetStringC() const { return CKT_ByteStringC(GetPtr(), m_Size); }
    void Clear() { m_Size = 0; }

    // Stores at most the limit of the view's bytes.
    void Copy(const CKT_ByteStringC &str);
    // Appends what still fits of the view.
    void Append(const CKT_ByteStringC &str);
    // Appends FormatInteger(i, flags) under the same limit.
    void Append(int i, KT_UINT32 flags = 0);

    CKT_StringBufBase &operator<<(const CKT_ByteStringC &str)
    {
        Append(str);
        return *this;
    }
    CKT_StringBufBase &operator<<(const char *str)
    {
        Append(CKT_ByteStringC(str));
        return *this;
    }
    CKT_StringBufBase &operator<<(int i)
    {
        Append(i, 1);
        return *this;
    }

protected:
    int m_Limit;
    int m_Size;
};

template <int limit>
class CKT_StringBuf : public CKT_StringBufBase
{
public:
    CKT_StringBuf() : CKT_StringBufBase(limit) {}

private:
    char m_Storage[limit];
};

#endif // KTCRT_KT_BASIC_STRING_H
