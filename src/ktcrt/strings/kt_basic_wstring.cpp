// Wide string: sharing, comparison, editing, searching and number parsing.
#include "kt_basic_string.h"

#include "kt_basic_strcore.h"

namespace {

typedef KT_StrCore<wchar_t> Core;

// Occurrences in the stored text as wcsstr finds them: the search ends at a zero character.
const wchar_t *SearchWide(const wchar_t *text, int, const wchar_t *pat, int)
{
    return wcsstr(text, pat);
}

wchar_t FoldAscii(wchar_t ch)
{
    return ch >= L'A' && ch <= L'Z' ? ch + (L'a' - L'A') : ch;
}

} // namespace

CKT_StringDataW *KT_AllocStringW(int nLen)
{
    return Core::Alloc(nLen);
}

void KT_ReleaseStringW(CKT_StringDataW *pData)
{
    Core::Release(pData);
}

wchar_t *KTSYS_wcslwr(wchar_t *str)
{
    for (wchar_t *p = str; *p; p++) {
        if (*p >= L'A' && *p <= L'Z')
            *p += L'a' - L'A';
    }
    return str;
}

wchar_t *KTSYS_wcsupr(wchar_t *str)
{
    for (wchar_t *p = str; *p; p++) {
        if (*p >= L'a' && *p <= L'z')
            *p -= L'a' - L'A';
    }
    return str;
}

int KTSYS_wcsicmp(const wchar_t *s1, const wchar_t *s2)
{
    for (;; s1++, s2++) {
        wchar_t c1 = FoldAscii(*s1);
        wchar_t c2 = FoldAscii(*s2);
        if (c1 != c2)
            return static_cast<int>(static_cast<KT_UINT32>(c1) - static_cast<KT_UINT32>(c2));
        if (c1 == 0)
            return 0;
    }
}

int KTSYS_wtoi(const wchar_t *str)
{
    bool bNegative = *str == L'-';
    if (bNegative)
        str++;
    KT_UINT32 value = 0;
    while (*str >= L'0' && *str <= L'9')
        value = value * 10 + static_cast<KT_UINT32>(*str++ - L'0');
    return static_cast<int>(bNegative ? 0u - value : value);
}

float KT_wtof(const wchar_t *str, int len)
{
    if (len <= 0 || !str)
        return 0.0f;
    int i = 0;
    bool bNegative = false;
    if (str[0] == L'-' || str[0] == L'+') {
        bNegative = str[0] == L'-';
        i++;
    }
    // Every character before the point counts as a digit, on purpose forgiving: the callers
    // only ever see numbers the writer produced.
    KT_UINT32 integer = 0;
    for (; i < len && str[i] != L'.'; i++)
        integer = integer * 10 + static_cast<KT_UINT32>(str[i] - L'0');
    float value = static_cast<float>(static_cast<int>(integer));
    if (i < len) {
        const float tenth = 0.1f;
        float scale = tenth;
        for (i++; i < len; i++) {
            value += static_cast<float>(static_cast<int>(str[i] - L'0')) * scale;
            scale *= tenth;
        }
    }
    return bNegative ? -value : value;
}

CKT_WideStringC::CKT_WideStringC(const CKT_WideString &src)
    : m_Ptr(src.GetPtr()), m_Length(src.GetLength())
{}

CKT_WideStringC CKT_WideStringC::Mid(int index, int count) const
{
    if (index < 0)
        index = 0;
    if (index > m_Length)
        index = m_Length;
    if (count < 0 || count > m_Length - index)
        count = m_Length - index;
    return CKT_WideStringC(m_Ptr ? m_Ptr + index : nullptr, count);
}

CKT_WideString::CKT_WideString(const CKT_WideString &src) : m_pData(Core::Share(src.m_pData)) {}

CKT_WideString::CKT_WideString(const wchar_t *ptr, int len) : m_pData(nullptr)
{
    InitStr(ptr, len);
}

CKT_WideString::CKT_WideString(wchar_t ch) : m_pData(Core::NewCopy(&ch, 1)) {}

CKT_WideString::CKT_WideString(const CKT_WideStringC &view)
    : m_pData(Core::NewCopy(view.GetPtr(), view.GetLength()))
{}

CKT_WideString::CKT_WideString(const CKT_WideStringC &first, const CKT_WideStringC &second)
    : m_pData(
          Core::ConcatCopy(first.GetLength(), first.GetPtr(), second.GetLength(), second.GetPtr()))
{}

CKT_WideString::~CKT_WideString()
{
    Core::Release(m_pData);
}

void CKT_WideString::InitStr(const wchar_t *ptr, int len)
{
    Core::Empty(m_pData);
    if (len < 0)
        len = ptr ? static_cast<int>(wcslen(ptr)) : 0;
    if (ptr && len > 0)
        m_pData = Core::NewCopy(ptr, len);
}

CKT_WideString &CKT_WideString::operator=(const CKT_WideString &src)
{
    Core::Assign(m_pData, src.m_pData);
    return *this;
}

CKT_WideString &CKT_WideString::operator=(CKT_WideString &&src) noexcept
{
    if (this != &src) {
        Core::Release(m_pData);
        m_pData = src.m_pData;
        src.m_pData = nullptr;
    }
    return *this;
}

CKT_WideString &CKT_WideString::operator=(const wchar_t *src)
{
    AssignCopy(src ? static_cast<int>(wcslen(src)) : 0, src);
    return *this;
}

CKT_WideString &CKT_WideString::operator=(const CKT_WideStringC &src)
{
    AssignCopy(src.GetLength(), src.GetPtr());
    return *this;
}

CKT_WideString &CKT_WideString::operator+=(const wchar_t *src)
{
    ConcatInPlace(src ? static_cast<int>(wcslen(src)) : 0, src);
    return *this;
}

CKT_WideString &CKT_WideString::operator+=(wchar_t ch)
{
    ConcatInPlace(1, &ch);
    return *this;
}

CKT_WideString &CKT_WideString::operator+=(const CKT_WideString &src)
{
    ConcatInPlace(src.GetLength(), src.GetPtr());
    return *this;
}

CKT_WideString &CKT_WideString::operator+=(const CKT_WideStringC &src)
{
    ConcatInPlace(src.GetLength(), src.GetPtr());
    return *this;
}

void CKT_WideString::Empty()
{
    Core::Empty(m_pData);
}

wchar_t CKT_WideString::GetAt(int nIndex) const
{
    return Core::GetAt(m_pData, nIndex);
}

void CKT_WideString::SetAt(int nIndex, wchar_t ch)
{
    Core::SetAt(m_pData, nIndex, ch);
}

bool CKT_WideString::Equal(const CKT_WideStringC &str) const
{
    return CKT_WideStringC(*this) == str;
}

int CKT_WideString::Compare(const wchar_t *lpsz) const
{
    if (IsEmpty())
        return (!lpsz || !*lpsz) ? 0 : -1;
    return wcscmp(GetCStr(), lpsz ? lpsz : L"");
}

int CKT_WideString::Compare(const CKT_WideString &str) const
{
    int nLen = GetLength();
    int nOtherLen = str.GetLength();
    const wchar_t *s1 = GetCStr();
    const wchar_t *s2 = str.GetCStr();
    int nMin = nLen < nOtherLen ? nLen : nOtherLen;
    for (int i = 0; i < nMin; i++) {
        KT_INT32 c1 = static_cast<KT_INT32>(s1[i]);
        KT_INT32 c2 = static_cast<KT_INT32>(s2[i]);
        if (c1 != c2)
            return c1 < c2 ? -1 : 1;
    }
    if (nLen == nOtherLen)
        return 0;
    return nLen < nOtherLen ? -1 : 1;
}

int CKT_WideString::CompareNoCase(const wchar_t *lpsz) const
{
    KTASSERT(lpsz != NULL);
    if (IsEmpty())
        return *lpsz ? -1 : 0;
    return KTSYS_wcsicmp(GetCStr(), lpsz);
}

wchar_t *CKT_WideString::GetBuffer(int nMinBufLength)
{
    return Core::GetBuffer(m_pData, nMinBufLength);
}

void CKT_WideString::ReleaseBuffer(int nNewLength)
{
    Core::ReleaseBuffer(m_pData, nNewLength);
}

wchar_t *CKT_WideString::LockBuffer()
{
    return Core::LockBuffer(m_pData);
}

void CKT_WideString::Reserve(int len)
{
    Core::Reserve(m_pData, len);
}

void CKT_WideString::AllocCopy(CKT_WideString &dest, int nCopyLen, int nCopyIndex) const
{
    Core::Empty(dest.m_pData);
    dest.m_pData = Core::NewCopy(GetCStr() + nCopyIndex, nCopyLen);
}

bool CKT_WideString::AllocBeforeWrite(int nLen)
{
    return Core::AllocBeforeWrite(m_pData, nLen);
}

void CKT_WideString::AssignCopy(int nSrcLen, const wchar_t *lpszSrcData)
{
    Core::AssignCopy(m_pData, nSrcLen, lpszSrcData);
}

void CKT_WideString::ConcatCopy(int nSrc1Len, const wchar_t *lpszSrc1Data, int nSrc2Len,
                                const wchar_t *lpszSrc2Data)
{
    CKT_StringDataW *pNew = Core::ConcatCopy(nSrc1Len, lpszSrc1Data, nSrc2Len, lpszSrc2Data);
    Core::Release(m_pData);
    m_pData = pNew;
}

void CKT_WideString::ConcatInPlace(int nSrcLen, const wchar_t *lpszSrcData)
{
    Core::ConcatInPlace(m_pData, nSrcLen, lpszSrcData);
}

void CKT_WideString::CopyBeforeWrite()
{
    Core::CopyBeforeWrite(m_pData);
}

CKT_WideString CKT_WideString::Mid(int nFirst) const
{
    return Mid(nFirst, GetLength() - nFirst);
}

CKT_WideString CKT_WideString::Mid(int nFirst, int nCount) const
{
    CKT_WideString result;
    result.m_pData = Core::Mid(m_pData, nFirst, nCount);
    return result;
}

CKT_WideString CKT_WideString::Left(int nCount) const
{
    CKT_WideString result;
    result.m_pData = Core::Left(m_pData, nCount);
    return result;
}

CKT_WideString CKT_WideString::Right(int nCount) const
{
    CKT_WideString result;
    result.m_pData = Core::Right(m_pData, nCount);
    return result;
}

int CKT_WideString::Find(wchar_t ch, int nStart) const
{
    return Core::Find(m_pData, ch, nStart);
}

int CKT_WideString::Find(const wchar_t *lpszSub, int nStart) const
{
    int nLen = GetLength();
    if (nLen == 0 || nStart < 0 || nStart > nLen)
        return -1;
    const wchar_t *s = GetCStr();
    const wchar_t *p = wcsstr(s + nStart, lpszSub ? lpszSub : L"");
    return p ? static_cast<int>(p - s) : -1;
}

int CKT_WideString::Replace(const wchar_t *lpszOld, const wchar_t *lpszNew)
{
    int nLen = GetLength();
    int nOldLen = lpszOld ? static_cast<int>(wcslen(lpszOld)) : 0;
    if (nLen == 0 || nOldLen == 0)
        return 0;
    int nNewTextLen = lpszNew ? static_cast<int>(wcslen(lpszNew)) : 0;
    int nCount = Core::CountOccurrences(GetCStr(), nLen, lpszOld, nOldLen, SearchWide);
    if (nCount == 0)
        return 0;
    int nNewLen = Core::ReplacedLength(nLen, nOldLen, nNewTextLen, nCount);
    if (nNewLen < 0)
        return 0;
    if (m_pData->m_nRefCount <= 1 && m_pData->m_nAllocLength >= nNewLen) {
        // Built aside, then copied back: a longer replacement would overrun the text it reads.
        wchar_t *pTemp = static_cast<wchar_t *>(
            KTMEM_DefaultAlloc2(static_cast<size_t>(nNewLen) + 1, sizeof(wchar_t), 0));
        if (!pTemp)
            return 0;
        Core::BuildReplaced(pTemp, GetCStr(), nLen, lpszOld, nOldLen, lpszNew, nNewTextLen,
                            SearchWide);
        wmemcpy(m_pData->m_String, pTemp, static_cast<size_t>(nNewLen) + 1);
        m_pData->m_nDataLength = nNewLen;
        KTMEM_DefaultFree(pTemp, 0);
        return nCount;
    }
    CKT_StringDataW *pNew = Core::Alloc(nNewLen);
    if (pNew)
        Core::BuildReplaced(pNew->m_String, GetCStr(), nLen, lpszOld, nOldLen, lpszNew, nNewTextLen,
                            SearchWide);
    Core::Release(m_pData);
    m_pData = pNew;
    return nCount;
}

int CKT_WideString::Insert(int nIndex, wchar_t ch)
{
    return Core::Insert(m_pData, nIndex, ch);
}

int CKT_WideString::Delete(int nIndex, int nCount)
{
    return Core::Delete(m_pData, nIndex, nCount);
}

int CKT_WideString::Remove(wchar_t ch)
{
    return Core::Remove(m_pData, ch);
}

void CKT_WideString::MakeLower()
{
    Core::ChangeCase(m_pData, false);
}

void CKT_WideString::MakeUpper()
{
    Core::ChangeCase(m_pData, true);
}

void CKT_WideString::TrimRight()
{
    TrimRight(Core::Traits::Whitespace());
}

void CKT_WideString::TrimRight(wchar_t chTarget)
{
    Core::TrimRight(m_pData, &chTarget, 1);
}

void CKT_WideString::TrimRight(const wchar_t *lpszTargetList)
{
    KTASSERT(lpszTargetList != NULL);
    Core::TrimRight(m_pData, lpszTargetList, static_cast<int>(wcslen(lpszTargetList)));
}

void CKT_WideString::TrimLeft()
{
    TrimLeft(Core::Traits::Whitespace());
}

void CKT_WideString::TrimLeft(wchar_t chTarget)
{
    Core::TrimLeft(m_pData, &chTarget, 1);
}

void CKT_WideString::TrimLeft(const wchar_t *lpszTargets)
{
    KTASSERT(lpszTargets != NULL);
    Core::TrimLeft(m_pData, lpszTargets, static_cast<int>(wcslen(lpszTargets)));
}

int CKT_WideString::GetInteger() const
{
    return IsEmpty() ? 0 : KTSYS_wtoi(GetCStr());
}

float CKT_WideString::GetFloat() const
{
    return KT_wtof(GetCStr(), GetLength());
}

CKT_WideString operator+(const CKT_WideStringC &str1, const CKT_WideStringC &str2)
{
    return CKT_WideString(str1, str2);
}

CKT_WideString operator+(const CKT_WideStringC &str1, wchar_t ch)
{
    return CKT_WideString(str1, CKT_WideStringC(&ch, 1));
}

CKT_WideString operator+(wchar_t ch, const CKT_WideStringC &str2)
{
    return CKT_WideString(CKT_WideStringC(&ch, 1), str2);
}

void CKT_WideStringL::Empty(_IKT_Allocator *pAllocator)
{
    KT_AllocatorFree(pAllocator, const_cast<wchar_t *>(m_Ptr));
    m_Ptr = nullptr;
    m_Length = 0;
}

wchar_t *CKT_WideStringL::AllocBuffer(int len, _IKT_Allocator *pAllocator)
{
    Empty(pAllocator);
    if (len < 0)
        return nullptr;
    uint64_t bytes = (static_cast<uint64_t>(len) + 1) * sizeof(wchar_t);
    if (bytes > 0x7FFFFFFF)
        return nullptr;
    wchar_t *p = static_cast<wchar_t *>(KT_AllocatorAlloc(pAllocator, static_cast<size_t>(bytes)));
    if (!p)
        return nullptr;
    p[len] = 0;
    m_Ptr = p;
    m_Length = len;
    return p;
}

void CKT_WideStringL::Set(const CKT_WideStringC &src, _IKT_Allocator *pAllocator)
{
    // Copy before freeing: the source may be this very string.
    CKT_WideStringC source = src;
    wchar_t *pOld = const_cast<wchar_t *>(m_Ptr);
    m_Ptr = nullptr;
    m_Length = 0;
    if (source.GetPtr() && source.GetLength() > 0) {
        wchar_t *p = AllocBuffer(source.GetLength(), pAllocator);
        if (p)
            wmemcpy(p, source.GetPtr(), static_cast<size_t>(source.GetLength()));
    }
    KT_AllocatorFree(pAllocator, pOld);
}

int CKT_WideStringL::GetInteger() const
{
    return m_Length == 0 ? 0 : KTSYS_wtoi(m_Ptr);
}

float CKT_WideStringL::GetFloat() const
{
    return KT_wtof(m_Ptr, m_Length);
}

void CKT_WideStringL::TrimRight(const wchar_t *lpszTargets)
{
    KTASSERT(lpszTargets != NULL);
    int nSetLen = static_cast<int>(wcslen(lpszTargets));
    if (nSetLen == 0 || m_Length == 0)
        return;
    wchar_t *s = const_cast<wchar_t *>(m_Ptr);
    while (m_Length > 0 && wmemchr(lpszTargets, s[m_Length - 1], static_cast<size_t>(nSetLen)))
        m_Length--;
    s[m_Length] = 0;
}
