// Block handling shared by the byte and the wide string: one template over the character type,
// so that sharing, copy-on-write and editing follow the same rules in both. The block pointer
// parameter is called m_pData on purpose: assertion messages then read as in the classes.
#ifndef KTCRT_KT_BASIC_STRCORE_H
#define KTCRT_KT_BASIC_STRCORE_H

#include "kt_basic_string.h"

#include <string.h>
#include <wchar.h>

template <class C>
struct KT_CharTraits;

template <>
struct KT_CharTraits<char>
{
    static int Len(const char *s) { return static_cast<int>(strlen(s)); }
    static int BoundedLen(const char *s, int max)
    {
        return static_cast<int>(strnlen(s, static_cast<size_t>(max)));
    }
    static const char *Chr(const char *s, char c) { return strchr(s, c); }
    static bool InSet(const char *set, int setLen, char c)
    {
        return memchr(set, c, static_cast<size_t>(setLen)) != nullptr;
    }
    static const char *Whitespace() { return "\t\n\v\f\r "; }
    static char *Lower(char *s) { return KTSYS_strlwr(s); }
    static char *Upper(char *s) { return KTSYS_strupr(s); }
};

template <>
struct KT_CharTraits<wchar_t>
{
    static int Len(const wchar_t *s) { return static_cast<int>(wcslen(s)); }
    static int BoundedLen(const wchar_t *s, int max)
    {
        return static_cast<int>(wcsnlen(s, static_cast<size_t>(max)));
    }
    static const wchar_t *Chr(const wchar_t *s, wchar_t c) { return wcschr(s, c); }
    static bool InSet(const wchar_t *set, int setLen, wchar_t c)
    {
        return wmemchr(set, c, static_cast<size_t>(setLen)) != nullptr;
    }
    static const wchar_t *Whitespace() { return L"\t\n\v\f\r "; }
    static wchar_t *Lower(wchar_t *s) { return KTSYS_wcslwr(s); }
    static wchar_t *Upper(wchar_t *s) { return KTSYS_wcsupr(s); }
};

template <class C>
class KT_StrCore
{
public:
    typedef CKT_StringDataT<C> Data;
    typedef KT_CharTraits<C> Traits;

    static C *Chars(Data *p) { return p->m_String; }
    static int Length(const Data *p) { return p ? p->m_nDataLength : 0; }
    static void Copy(C *dst, const C *src, int n)
    {
        if (n > 0)
            memmove(dst, src, static_cast<size_t>(n) * sizeof(C));
    }

    static Data *Alloc(int nLen)
    {
        if (nLen < 1)
            return nullptr;
        // Header of three int32 plus capacity + 1 characters, counted in characters.
        size_t units = static_cast<size_t>(nLen) + 1 + 12 / sizeof(C);
        Data *p = static_cast<Data *>(KTMEM_DefaultAlloc2(units, sizeof(C), 0));
        if (!p)
            return nullptr;
        p->m_nRefCount = 1;
        p->m_nDataLength = nLen;
        p->m_nAllocLength = nLen;
        Chars(p)[nLen] = 0;
        return p;
    }

    static void Release(Data *p)
    {
        if (!p)
            return;
        if (p->m_nRefCount-- <= 1)
            KTMEM_DefaultFree(p, 0);
    }

    // A new exact-size block holding n characters (null for n < 1 or no memory).
    static Data *NewCopy(const C *src, int n)
    {
        Data *p = Alloc(n);
        if (p)
            Copy(Chars(p), src, n);
        return p;
    }

    // The block a copy of this string gets: shared, or copied when locked.
    static Data *Share(Data *p)
    {
        if (!p)
            return nullptr;
        if (p->m_nRefCount < 0)
            return NewCopy(Chars(p), p->m_nDataLength);
        p->m_nRefCount++;
        return p;
    }

    static void Empty(Data *&m_pData)
    {
        Release(m_pData);
        m_pData = nullptr;
    }

    static void Assign(Data *&m_pData, Data *src)
    {
        if (m_pData == src)
            return;
        if (Length(src) == 0) {
            Empty(m_pData);
            return;
        }
        if ((m_pData && m_pData->m_nRefCount < 0) || src->m_nRefCount < 0) {
            AssignCopy(m_pData, src->m_nDataLength, Chars(src));
            return;
        }
        Release(m_pData);
        m_pData = src;
        src->m_nRefCount++;
    }

    static void CopyBeforeWrite(Data *&m_pData)
    {
        if (!m_pData || m_pData->m_nRefCount <= 1)
            return;
        Data *pOld = m_pData;
        pOld->m_nRefCount--;
        m_pData = NewCopy(Chars(pOld), pOld->m_nDataLength);
    }

    static bool AllocBeforeWrite(Data *&m_pData, int nLen)
    {
        if (m_pData && m_pData->m_nRefCount <= 1 && m_pData->m_nAllocLength >= nLen)
            return true;
        Release(m_pData);
        m_pData = Alloc(nLen);
        return m_pData != nullptr;
    }

    static void AssignCopy(Data *&m_pData, int nSrcLen, const C *lpszSrcData)
    {
        if (nSrcLen < 1 || !lpszSrcData) {
            Empty(m_pData);
            return;
        }
        if (!AllocBeforeWrite(m_pData, nSrcLen))
            return;
        // The source may lie inside the kept block (a view of this very string).
        Copy(Chars(m_pData), lpszSrcData, nSrcLen);
        m_pData->m_nDataLength = nSrcLen;
        Chars(m_pData)[nSrcLen] = 0;
    }

    // A new block holding both parts; the result for the two-view constructor and for appends
    // that do not fit. Null when both are empty or memory runs out.
    static Data *ConcatCopy(int nSrc1Len, const C *lpszSrc1Data, int nSrc2Len,
                            const C *lpszSrc2Data)
    {
        int64_t nNewLen = static_cast<int64_t>(nSrc1Len) + nSrc2Len;
        if (nNewLen > INT32_MAX)
            return nullptr;
        Data *p = Alloc(static_cast<int>(nNewLen));
        if (!p)
            return nullptr;
        Copy(Chars(p), lpszSrc1Data, nSrc1Len);
        Copy(Chars(p) + nSrc1Len, lpszSrc2Data, nSrc2Len);
        return p;
    }

    static void ConcatInPlace(Data *&m_pData, int nSrcLen, const C *lpszSrcData)
    {
        if (nSrcLen <= 0 || !lpszSrcData)
            return;
        if (!m_pData) {
            m_pData = NewCopy(lpszSrcData, nSrcLen);
            return;
        }
        int nLen = m_pData->m_nDataLength;
        if (m_pData->m_nRefCount <= 1 &&
            static_cast<int64_t>(nLen) + nSrcLen <= m_pData->m_nAllocLength) {
            Copy(Chars(m_pData) + nLen, lpszSrcData, nSrcLen);
            m_pData->m_nDataLength = nLen + nSrcLen;
            Chars(m_pData)[nLen + nSrcLen] = 0;
            return;
        }
        Data *pOld = m_pData;
        m_pData = ConcatCopy(nLen, Chars(pOld), nSrcLen, lpszSrcData);
        Release(pOld);
    }

    static C *GetBuffer(Data *&m_pData, int nMinBufLength)
    {
        if (nMinBufLength < 0)
            nMinBufLength = 0;
        if (!m_pData) {
            if (nMinBufLength == 0)
                return nullptr;
            m_pData = Alloc(nMinBufLength);
            if (!m_pData)
                return nullptr;
            m_pData->m_nDataLength = 0;
            Chars(m_pData)[0] = 0;
            return Chars(m_pData);
        }
        if (m_pData->m_nRefCount <= 1 && m_pData->m_nAllocLength >= nMinBufLength)
            return Chars(m_pData);
        Data *pOld = m_pData;
        int nOldLen = pOld->m_nDataLength;
        m_pData = Alloc(nMinBufLength > nOldLen ? nMinBufLength : nOldLen);
        if (m_pData) {
            Copy(Chars(m_pData), Chars(pOld), nOldLen + 1);
            m_pData->m_nDataLength = nOldLen;
        }
        Release(pOld);
        return m_pData ? Chars(m_pData) : nullptr;
    }

    static void ReleaseBuffer(Data *&m_pData, int nNewLength)
    {
        if (!m_pData)
            return;
        CopyBeforeWrite(m_pData);
        if (!m_pData)
            return;
        if (nNewLength < 0)
            nNewLength = Traits::BoundedLen(Chars(m_pData), m_pData->m_nAllocLength);
        if (nNewLength == 0) {
            Empty(m_pData);
            return;
        }
        KTASSERT(nNewLength <= m_pData->m_nAllocLength);
        m_pData->m_nDataLength = nNewLength;
        Chars(m_pData)[nNewLength] = 0;
    }

    static C *LockBuffer(Data *&m_pData)
    {
        if (!m_pData)
            return nullptr;
        C *p = GetBuffer(m_pData, 0);
        if (m_pData)
            m_pData->m_nRefCount = -1;
        return p;
    }

    // Trims an unshared block's capacity to its length, for producers that fill a block sized
    // by an upper bound. The block stays as it was when the smaller request fails.
    static void FitToLength(Data *&m_pData)
    {
        if (!m_pData || m_pData->m_nRefCount > 1 ||
            m_pData->m_nAllocLength == m_pData->m_nDataLength)
            return;
        size_t units = static_cast<size_t>(m_pData->m_nDataLength) + 1 + 12 / sizeof(C);
        void *p = KTMEM_DefaultRealloc2(m_pData, units, sizeof(C), KTMEM_NONLEAVE);
        if (!p)
            return;
        m_pData = static_cast<Data *>(p);
        m_pData->m_nAllocLength = m_pData->m_nDataLength;
    }

    static void Reserve(Data *&m_pData, int len)
    {
        GetBuffer(m_pData, len);
        ReleaseBuffer(m_pData, Length(m_pData));
    }

    static void SetAt(Data *&m_pData, int nIndex, C ch)
    {
        KTASSERT(m_pData != NULL);
        KTASSERT(nIndex >= 0);
        KTASSERT(nIndex < m_pData->m_nDataLength);
        CopyBeforeWrite(m_pData);
        if (m_pData)
            Chars(m_pData)[nIndex] = ch;
    }

    static C GetAt(const Data *m_pData, int nIndex)
    {
        KTASSERT(m_pData != NULL);
        KTASSERT(nIndex >= 0);
        KTASSERT(nIndex < m_pData->m_nDataLength);
        const C *s = m_pData->m_String;
        return s[nIndex];
    }

    // Mid with clamped arguments: the whole text shares the block, an empty part is null.
    static Data *Mid(Data *m_pData, int nFirst, int nCount)
    {
        if (!m_pData)
            return nullptr;
        int nLen = m_pData->m_nDataLength;
        if (nFirst < 0)
            nFirst = 0;
        if (nCount < 0)
            nCount = 0;
        if (nFirst >= nLen)
            nCount = 0;
        else if (nCount > nLen - nFirst)
            nCount = nLen - nFirst;
        if (nFirst == 0 && nCount == nLen)
            return Share(m_pData);
        return NewCopy(Chars(m_pData) + nFirst, nCount);
    }

    static Data *Left(Data *m_pData, int nCount)
    {
        if (nCount < 0)
            nCount = 0;
        return Mid(m_pData, 0, nCount);
    }

    static Data *Right(Data *m_pData, int nCount)
    {
        int nLen = Length(m_pData);
        if (nCount < 0)
            nCount = 0;
        if (nCount >= nLen)
            return Share(m_pData);
        return NewCopy(Chars(m_pData) + nLen - nCount, nCount);
    }

    static int Find(const Data *m_pData, C ch, int nStart)
    {
        int nLen = Length(m_pData);
        if (nStart < 0 || nStart >= nLen)
            return -1;
        const C *pStart = m_pData->m_String;
        const C *p = Traits::Chr(pStart + nStart, ch);
        if (!p || p - pStart >= nLen)
            return -1;
        return static_cast<int>(p - pStart);
    }

    static int Insert(Data *&m_pData, int nIndex, C ch)
    {
        int nLen = Length(m_pData);
        if (nIndex < 0)
            nIndex = 0;
        if (nIndex > nLen)
            nIndex = nLen;
        if (!m_pData || m_pData->m_nRefCount > 1 || m_pData->m_nAllocLength < nLen + 1) {
            // A shared or full block is replaced by one of exactly the new length, built
            // around the gap in a single copy.
            Data *pOld = m_pData;
            m_pData = Alloc(nLen + 1);
            if (m_pData && pOld) {
                Copy(Chars(m_pData), Chars(pOld), nIndex);
                Copy(Chars(m_pData) + nIndex + 1, Chars(pOld) + nIndex, nLen - nIndex);
            }
            Release(pOld);
            if (!m_pData)
                return 0;
            Chars(m_pData)[nIndex] = ch;
            return nLen + 1;
        }
        C *s = Chars(m_pData);
        Copy(s + nIndex + 1, s + nIndex, nLen - nIndex + 1);
        s[nIndex] = ch;
        m_pData->m_nDataLength = nLen + 1;
        return nLen + 1;
    }

    static int Delete(Data *&m_pData, int nIndex, int nCount)
    {
        if (!m_pData)
            return 0;
        CopyBeforeWrite(m_pData);
        int nLen = Length(m_pData);
        if (nIndex < 0)
            nIndex = 0;
        if (nCount > 0 && nIndex < nLen) {
            int nEnd = nCount > nLen - nIndex ? nLen : nIndex + nCount;
            C *s = Chars(m_pData);
            Copy(s + nIndex, s + nEnd, nLen - nEnd + 1);
            nLen -= nEnd - nIndex;
            m_pData->m_nDataLength = nLen;
        }
        return nLen;
    }

    static int Remove(Data *&m_pData, C ch)
    {
        if (!m_pData)
            return 0;
        CopyBeforeWrite(m_pData);
        if (!m_pData)
            return 0;
        C *s = Chars(m_pData);
        int nLen = m_pData->m_nDataLength;
        int nKept = 0;
        for (int i = 0; i < nLen; i++) {
            if (s[i] != ch)
                s[nKept++] = s[i];
        }
        s[nKept] = 0;
        m_pData->m_nDataLength = nKept;
        return nLen - nKept;
    }

    static void ChangeCase(Data *&m_pData, bool bUpper)
    {
        if (!m_pData)
            return;
        CopyBeforeWrite(m_pData);
        if (!m_pData)
            return;
        if (bUpper)
            Traits::Upper(Chars(m_pData));
        else
            Traits::Lower(Chars(m_pData));
    }

    static void TrimRight(Data *&m_pData, const C *set, int setLen)
    {
        if (Length(m_pData) == 0 || setLen <= 0)
            return;
        CopyBeforeWrite(m_pData);
        if (!m_pData)
            return;
        C *s = Chars(m_pData);
        int nLen = m_pData->m_nDataLength;
        while (nLen > 0 && Traits::InSet(set, setLen, s[nLen - 1]))
            nLen--;
        s[nLen] = 0;
        m_pData->m_nDataLength = nLen;
    }

    static void TrimLeft(Data *&m_pData, const C *set, int setLen)
    {
        if (Length(m_pData) == 0 || setLen <= 0)
            return;
        CopyBeforeWrite(m_pData);
        if (!m_pData)
            return;
        C *s = Chars(m_pData);
        int nLen = m_pData->m_nDataLength;
        int nSkip = 0;
        while (nSkip < nLen && Traits::InSet(set, setLen, s[nSkip]))
            nSkip++;
        if (nSkip == 0)
            return;
        Copy(s, s + nSkip, nLen - nSkip + 1);
        m_pData->m_nDataLength = nLen - nSkip;
    }

    // Counts the non-overlapping occurrences found by search(text, textLen, pattern, patLen).
    template <class Search>
    static int CountOccurrences(const C *text, int textLen, const C *pat, int patLen, Search search)
    {
        int nCount = 0;
        const C *p = text;
        const C *pEnd = text + textLen;
        while (p < pEnd) {
            const C *pFound = search(p, static_cast<int>(pEnd - p), pat, patLen);
            if (!pFound)
                break;
            nCount++;
            p = pFound + patLen;
        }
        return nCount;
    }

    // Writes text with every occurrence replaced into dst, which has room for the result.
    template <class Search>
    static void BuildReplaced(C *dst, const C *text, int textLen, const C *pat, int patLen,
                              const C *rep, int repLen, Search search)
    {
        const C *p = text;
        const C *pEnd = text + textLen;
        while (p < pEnd) {
            const C *pFound = search(p, static_cast<int>(pEnd - p), pat, patLen);
            if (!pFound)
                break;
            int nBefore = static_cast<int>(pFound - p);
            Copy(dst, p, nBefore);
            dst += nBefore;
            Copy(dst, rep, repLen);
            dst += repLen;
            p = pFound + patLen;
        }
        Copy(dst, p, static_cast<int>(pEnd - p));
        dst[pEnd - p] = 0;
    }

    // The length after replacing nCount occurrences, or -1 when it would not fit an int32.
    static int ReplacedLength(int nLen, int patLen, int repLen, int nCount)
    {
        int64_t nNew = nLen + static_cast<int64_t>(repLen - patLen) * nCount;
        return nNew > INT32_MAX ? -1 : static_cast<int>(nNew);
    }
};

// The library's own producers reach the block of a string they are building through this.
struct KT_StringAccess
{
    static CKT_StringData *&Block(CKT_ByteString &str) { return str.m_pData; }
    static CKT_StringDataW *&Block(CKT_WideString &str) { return str.m_pData; }
};

#endif // KTCRT_KT_BASIC_STRCORE_H
