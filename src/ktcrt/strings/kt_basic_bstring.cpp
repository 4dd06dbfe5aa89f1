// Byte string: sharing, comparison, editing and searching.
#include "kt_basic_string.h"

#include "kt_basic_buffer.h"
#include "kt_basic_strcore.h"

#include <stdio.h>

namespace {

typedef KT_StrCore<char> Core;

// Plain byte search at every position; length-bounded so zero bytes are ordinary.
const char *SearchBytes(const char *text, int textLen, const char *pat, int patLen)
{
    return KT_strstr(text, textLen, pat, patLen);
}

} // namespace

CKT_StringData *KT_AllocString(int nLen)
{
    return Core::Alloc(nLen);
}

void KT_ReleaseString(CKT_StringData *pData)
{
    Core::Release(pData);
}

char *KTSYS_strlwr(char *str)
{
    for (char *p = str; *p; p++) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p + ('a' - 'A'));
    }
    return str;
}

char *KTSYS_strupr(char *str)
{
    for (char *p = str; *p; p++) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - ('a' - 'A'));
    }
    return str;
}

int KTSYS_atoi(const char *str)
{
    bool bNegative = *str == '-';
    if (bNegative)
        str++;
    // Unsigned accumulation: overlong numbers wrap instead of overflowing.
    KT_UINT32 value = 0;
    while (*str >= '0' && *str <= '9')
        value = value * 10 + static_cast<KT_UINT32>(*str++ - '0');
    return static_cast<int>(bNegative ? 0u - value : value);
}

const char *KT_strstr(const char *str1, int len1, const char *str2, int len2)
{
    if (len2 <= 0 || len2 > len1 || !str1 || !str2)
        return nullptr;
    const char *pLast = str1 + (len1 - len2);
    for (const char *p = str1; p <= pLast; p++) {
        p = static_cast<const char *>(memchr(p, str2[0], static_cast<size_t>(pLast - p) + 1));
        if (!p)
            return nullptr;
        if (memcmp(p, str2, static_cast<size_t>(len2)) == 0)
            return p;
    }
    return nullptr;
}

CKT_ByteStringC::CKT_ByteStringC(const CKT_ByteString &src)
    : m_Ptr(src.GetPtr()), m_Length(src.GetLength())
{}

CKT_ByteStringC CKT_ByteStringC::Mid(int index, int count) const
{
    if (index < 0)
        index = 0;
    if (index > m_Length)
        index = m_Length;
    if (count < 0 || count > m_Length - index)
        count = m_Length - index;
    return CKT_ByteStringC(m_Ptr ? m_Ptr + index : nullptr, count);
}

CKT_ByteString::CKT_ByteString(const CKT_ByteString &src) : m_pData(Core::Share(src.m_pData)) {}

CKT_ByteString::CKT_ByteString(const char *ptr, int len) : m_pData(nullptr)
{
    if (len < 0)
        len = ptr ? static_cast<int>(strlen(ptr)) : 0;
    if (ptr && len > 0)
        m_pData = Core::NewCopy(ptr, len);
}

CKT_ByteString::CKT_ByteString(const KT_BYTE *ptr, int len)
    : CKT_ByteString(reinterpret_cast<const char *>(ptr), len)
{}

CKT_ByteString::CKT_ByteString(char ch) : m_pData(Core::NewCopy(&ch, 1)) {}

CKT_ByteString::CKT_ByteString(const CKT_ByteStringC &view)
    : m_pData(Core::NewCopy(view.GetCStr(), view.GetLength()))
{}

CKT_ByteString::CKT_ByteString(const CKT_ByteStringC &first, const CKT_ByteStringC &second)
    : m_pData(Core::ConcatCopy(first.GetLength(), first.GetCStr(), second.GetLength(),
                               second.GetCStr()))
{}

CKT_ByteString::~CKT_ByteString()
{
    Core::Release(m_pData);
}

CKT_ByteString &CKT_ByteString::operator=(const CKT_ByteString &src)
{
    Core::Assign(m_pData, src.m_pData);
    return *this;
}

CKT_ByteString &CKT_ByteString::operator=(CKT_ByteString &&src) noexcept
{
    if (this != &src) {
        Core::Release(m_pData);
        m_pData = src.m_pData;
        src.m_pData = nullptr;
    }
    return *this;
}

CKT_ByteString &CKT_ByteString::operator=(const char *src)
{
    AssignCopy(src ? static_cast<int>(strlen(src)) : 0, src);
    return *this;
}

CKT_ByteString &CKT_ByteString::operator=(const CKT_ByteStringC &src)
{
    AssignCopy(src.GetLength(), src.GetCStr());
    return *this;
}

CKT_ByteString &CKT_ByteString::operator=(const CKT_BinaryBuf &buf)
{
    Load(buf.GetBuffer(), static_cast<int>(buf.GetSize()));
    return *this;
}

void CKT_ByteString::Load(const KT_BYTE *pBuf, int len)
{
    AssignCopy(len, reinterpret_cast<const char *>(pBuf));
}

CKT_ByteString &CKT_ByteString::operator+=(const char *src)
{
    ConcatInPlace(src ? static_cast<int>(strlen(src)) : 0, src);
    return *this;
}

CKT_ByteString &CKT_ByteString::operator+=(char ch)
{
    ConcatInPlace(1, &ch);
    return *this;
}

CKT_ByteString &CKT_ByteString::operator+=(const CKT_ByteString &src)
{
    ConcatInPlace(src.GetLength(), src.GetCStr());
    return *this;
}

CKT_ByteString &CKT_ByteString::operator+=(const CKT_ByteStringC &src)
{
    ConcatInPlace(src.GetLength(), src.GetCStr());
    return *this;
}

void CKT_ByteString::Empty()
{
    Core::Empty(m_pData);
}

KT_BYTE CKT_ByteString::GetAt(int nIndex) const
{
    return static_cast<KT_BYTE>(Core::GetAt(m_pData, nIndex));
}

void CKT_ByteString::SetAt(int nIndex, char ch)
{
    Core::SetAt(m_pData, nIndex, ch);
}

bool CKT_ByteString::Equal(const CKT_ByteStringC &str) const
{
    return CKT_ByteStringC(*this) == str;
}

bool CKT_ByteString::operator==(const CKT_ByteString &other) const
{
    return m_pData == other.m_pData || Equal(other);
}

bool CKT_ByteString::EqualNoCase(const CKT_ByteStringC &str) const
{
    int nLen = GetLength();
    if (nLen != str.GetLength())
        return false;
    const KT_BYTE *p1 = GetPtr();
    const KT_BYTE *p2 = str.GetPtr();
    for (int i = 0; i < nLen; i++) {
        KT_BYTE c1 = p1[i] >= 'A' && p1[i] <= 'Z' ? p1[i] + ('a' - 'A') : p1[i];
        KT_BYTE c2 = p2[i] >= 'A' && p2[i] <= 'Z' ? p2[i] + ('a' - 'A') : p2[i];
        if (c1 != c2)
            return false;
    }
    return true;
}

int CKT_ByteString::Compare(const CKT_ByteStringC &str) const
{
    int nLen = GetLength();
    int nOtherLen = str.GetLength();
    int nMin = nLen < nOtherLen ? nLen : nOtherLen;
    int result = nMin > 0 ? memcmp(GetPtr(), str.GetPtr(), static_cast<size_t>(nMin)) : 0;
    if (result)
        return result < 0 ? -1 : 1;
    if (nLen == nOtherLen)
        return 0;
    return nLen < nOtherLen ? -1 : 1;
}

char *CKT_ByteString::GetBuffer(int nMinBufLength)
{
    return Core::GetBuffer(m_pData, nMinBufLength);
}

void CKT_ByteString::ReleaseBuffer(int nNewLength)
{
    Core::ReleaseBuffer(m_pData, nNewLength);
}

char *CKT_ByteString::LockBuffer()
{
    return Core::LockBuffer(m_pData);
}

void CKT_ByteString::Reserve(int len)
{
    Core::Reserve(m_pData, len);
}

void CKT_ByteString::AllocCopy(CKT_ByteString &dest, int nCopyLen, int nCopyIndex) const
{
    Core::Empty(dest.m_pData);
    dest.m_pData = Core::NewCopy(GetCStr() + nCopyIndex, nCopyLen);
}

bool CKT_ByteString::AllocBeforeWrite(int nLen)
{
    return Core::AllocBeforeWrite(m_pData, nLen);
}

void CKT_ByteString::AssignCopy(int nSrcLen, const char *lpszSrcData)
{
    Core::AssignCopy(m_pData, nSrcLen, lpszSrcData);
}

void CKT_ByteString::ConcatCopy(int nSrc1Len, const char *lpszSrc1Data, int nSrc2Len,
                                const char *lpszSrc2Data)
{
    CKT_StringData *pNew = Core::ConcatCopy(nSrc1Len, lpszSrc1Data, nSrc2Len, lpszSrc2Data);
    Core::Release(m_pData);
    m_pData = pNew;
}

void CKT_ByteString::ConcatInPlace(int nSrcLen, const char *lpszSrcData)
{
    Core::ConcatInPlace(m_pData, nSrcLen, lpszSrcData);
}

void CKT_ByteString::CopyBeforeWrite()
{
    Core::CopyBeforeWrite(m_pData);
}

CKT_ByteString CKT_ByteString::Mid(int nFirst) const
{
    return Mid(nFirst, GetLength() - nFirst);
}

CKT_ByteString CKT_ByteString::Mid(int nFirst, int nCount) const
{
    CKT_ByteString result;
    result.m_pData = Core::Mid(m_pData, nFirst, nCount);
    return result;
}

CKT_ByteString CKT_ByteString::Left(int nCount) const
{
    CKT_ByteString result;
    result.m_pData = Core::Left(m_pData, nCount);
    return result;
}

CKT_ByteString CKT_ByteString::Right(int nCount) const
{
    CKT_ByteString result;
    result.m_pData = Core::Right(m_pData, nCount);
    return result;
}

int CKT_ByteString::Find(char ch, int nStart) const
{
    return Core::Find(m_pData, ch, nStart);
}

int CKT_ByteString::Find(const CKT_ByteStringC &sub, int nStart) const
{
    int nLen = GetLength();
    if (nStart < 0 || nStart > nLen)
        return -1;
    const char *p = KT_strstr(GetCStr() + nStart, nLen - nStart, sub.GetCStr(), sub.GetLength());
    return p ? static_cast<int>(p - GetCStr()) : -1;
}

int CKT_ByteString::ReverseFind(char ch) const
{
    const char *s = GetCStr();
    for (int i = GetLength() - 1; i >= 0; i--) {
        if (s[i] == ch)
            return i;
    }
    return -1;
}

int CKT_ByteString::Replace(const CKT_ByteStringC &lpszOld, const CKT_ByteStringC &lpszNew)
{
    int nLen = GetLength();
    int nOldLen = lpszOld.GetLength();
    if (nLen == 0 || nOldLen == 0)
        return 0;
    int nCount = Core::CountOccurrences(GetCStr(), nLen, lpszOld.GetCStr(), nOldLen, SearchBytes);
    if (nCount == 0)
        return 0;
    int nNewLen = Core::ReplacedLength(nLen, nOldLen, lpszNew.GetLength(), nCount);
    if (nNewLen < 0)
        return 0;
    CKT_StringData *pNew = Core::Alloc(nNewLen);
    if (pNew)
        Core::BuildReplaced(pNew->m_String, GetCStr(), nLen, lpszOld.GetCStr(), nOldLen,
                            lpszNew.GetCStr(), lpszNew.GetLength(), SearchBytes);
    Core::Release(m_pData);
    m_pData = pNew;
    return nCount;
}

int CKT_ByteString::Insert(int nIndex, char ch)
{
    return Core::Insert(m_pData, nIndex, ch);
}

int CKT_ByteString::Delete(int nIndex, int nCount)
{
    return Core::Delete(m_pData, nIndex, nCount);
}

int CKT_ByteString::Remove(char ch)
{
    return Core::Remove(m_pData, ch);
}

void CKT_ByteString::MakeLower()
{
    Core::ChangeCase(m_pData, false);
}

void CKT_ByteString::MakeUpper()
{
    Core::ChangeCase(m_pData, true);
}

void CKT_ByteString::TrimRight()
{
    TrimRight(CKT_ByteStringC(Core::Traits::Whitespace()));
}

void CKT_ByteString::TrimRight(char chTarget)
{
    Core::TrimRight(m_pData, &chTarget, 1);
}

void CKT_ByteString::TrimRight(const CKT_ByteStringC &lpszTargets)
{
    Core::TrimRight(m_pData, lpszTargets.GetCStr(), lpszTargets.GetLength());
}

void CKT_ByteString::TrimLeft()
{
    TrimLeft(CKT_ByteStringC(Core::Traits::Whitespace()));
}

void CKT_ByteString::TrimLeft(char chTarget)
{
    Core::TrimLeft(m_pData, &chTarget, 1);
}

void CKT_ByteString::TrimLeft(const CKT_ByteStringC &lpszTargets)
{
    Core::TrimLeft(m_pData, lpszTargets.GetCStr(), lpszTargets.GetLength());
}

KT_UINT32 CKT_ByteString::GetID(int start) const
{
    int nLen = GetLength();
    if (start < 0 || start >= nLen)
        return 0;
    const KT_BYTE *p = GetPtr() + start;
    int nAvail = nLen - start;
    KT_UINT32 id = 0;
    for (int i = 0; i < 4; i++)
        id = (id << 8) | (i < nAvail ? p[i] : 0u);
    return id;
}

CKT_ByteString CKT_ByteString::LoadFromFile(const CKT_ByteStringC &file_path)
{
    CKT_ByteString result;
    // The view need not be terminated; fopen needs a C string.
    CKT_ByteString path(file_path);
    FILE *file = fopen(path.GetCStr(), "rb");
    if (!file)
        return result;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    if (size > 0 && size <= INT32_MAX && fseek(file, 0, SEEK_SET) == 0) {
        char *buffer = result.GetBuffer(static_cast<int>(size));
        if (buffer) {
            size_t nRead = fread(buffer, 1, static_cast<size_t>(size), file);
            // A short read keeps what arrived; ReleaseBuffer(0) leaves the string empty.
            result.ReleaseBuffer(static_cast<int>(nRead));
        }
    }
    fclose(file);
    return result;
}

CKT_ByteString operator+(const CKT_ByteStringC &str1, const CKT_ByteStringC &str2)
{
    return CKT_ByteString(str1, str2);
}

CKT_ByteString operator+(const CKT_ByteStringC &str1, char ch)
{
    return CKT_ByteString(str1, CKT_ByteStringC(&ch, 1));
}

CKT_ByteString operator+(char ch, const CKT_ByteStringC &str2)
{
    return CKT_ByteString(CKT_ByteStringC(&ch, 1), str2);
}

void CKT_ByteStringL::Empty(_IKT_Allocator *pAllocator)
{
    KT_AllocatorFree(pAllocator, const_cast<KT_BYTE *>(m_Ptr));
    m_Ptr = nullptr;
    m_Length = 0;
}

char *CKT_ByteStringL::AllocBuffer(int len, _IKT_Allocator *pAllocator)
{
    Empty(pAllocator);
    if (len < 0)
        return nullptr;
    char *p = static_cast<char *>(KT_AllocatorAlloc(pAllocator, static_cast<size_t>(len) + 1));
    if (!p)
        return nullptr;
    p[len] = 0;
    m_Ptr = reinterpret_cast<KT_BYTE *>(p);
    m_Length = len;
    return p;
}

void CKT_ByteStringL::Set(const CKT_ByteStringC &src, _IKT_Allocator *pAllocator)
{
    // Copy before freeing: the source may be this very string.
    CKT_ByteStringC source = src;
    KT_BYTE *pOld = const_cast<KT_BYTE *>(m_Ptr);
    m_Ptr = nullptr;
    m_Length = 0;
    if (source.GetPtr() && source.GetLength() > 0) {
        char *p = AllocBuffer(source.GetLength(), pAllocator);
        if (p)
            memcpy(p, source.GetPtr(), static_cast<size_t>(source.GetLength()));
    }
    KT_AllocatorFree(pAllocator, pOld);
}
