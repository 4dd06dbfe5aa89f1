// Conversions between wide text and the built-in code pages, UTF-8 and UTF-16, and the code page,
// character set and character-set name lookups.
#include "kt_codepage.h"

#include <cstring>
#include <cwchar>

#include "encode_int.h"
#include "kt_basic_def.h"

static_assert(sizeof(_KT_CPMAPHEADER) == 36, "map header is a 36-byte record");
static_assert(sizeof(_KT_CUMAPINDEX1) == 4 && sizeof(_KT_CUMAPINDEX2) == 4, "4-byte index entries");
static_assert(sizeof(_KT_UCMAPRANGE) == 8, "8-byte Unicode ranges");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the generated index tables hold their 16-bit fields in host order");
static_assert(sizeof(wchar_t) == 4, "wide characters are 32-bit units");

#define KT_CODEPAGE_ENTRY(cp)                                                                      \
    {                                                                                              \
        &g_CP##cp##_MapHeader, &g_CP##cp##_CUMap, &g_CP##cp##_UCMap                                \
    }

const _KT_CODEPAGE g_KTCodePageMgr[14] = {
    KT_CODEPAGE_ENTRY(874),  KT_CODEPAGE_ENTRY(932),  KT_CODEPAGE_ENTRY(936),
    KT_CODEPAGE_ENTRY(949),  KT_CODEPAGE_ENTRY(950),  KT_CODEPAGE_ENTRY(1250),
    KT_CODEPAGE_ENTRY(1251), KT_CODEPAGE_ENTRY(1252), KT_CODEPAGE_ENTRY(1253),
    KT_CODEPAGE_ENTRY(1254), KT_CODEPAGE_ENTRY(1255), KT_CODEPAGE_ENTRY(1256),
    KT_CODEPAGE_ENTRY(1257), KT_CODEPAGE_ENTRY(1258),
};

#undef KT_CODEPAGE_ENTRY

const _KT_CHARSETCODEPAGE g_KTCharset2CodePageTable[31] = {
    {0, 1252},   {1, 0},      {2, 42},     {77, 10000}, {78, 10001}, {79, 10003}, {80, 10008},
    {81, 10002}, {83, 10005}, {84, 10004}, {85, 10006}, {86, 10081}, {87, 10021}, {88, 10029},
    {89, 10007}, {128, 932},  {129, 949},  {130, 1361}, {134, 936},  {136, 950},  {161, 1253},
    {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251}, {222, 874},
    {238, 1250}, {254, 437},  {255, 850},
};

const _KT_CHARSETCODEPAGE g_KTCodepage2CharsetTable[31] = {
    {1, 0},      {2, 42},     {254, 437},  {255, 850},  {222, 874},  {128, 932},  {134, 936},
    {129, 949},  {136, 950},  {238, 1250}, {204, 1251}, {0, 1252},   {161, 1253}, {162, 1254},
    {177, 1255}, {178, 1256}, {186, 1257}, {163, 1258}, {130, 1361}, {77, 10000}, {78, 10001},
    {81, 10002}, {79, 10003}, {84, 10004}, {83, 10005}, {85, 10006}, {89, 10007}, {80, 10008},
    {87, 10021}, {88, 10029}, {86, 10081},
};

namespace {

const unsigned kNoMapping = KT_NOMAPPING_UNICODE;
const unsigned kNoRange = 0xFFFF;

inline unsigned LoadLE16(const unsigned char *p)
{
    return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8);
}

// Value of the range of type nType at distance d, or kNoMapping; a type this map does not know
// yields nSelf (the looked-up value itself in the Unicode-to-byte direction).
inline unsigned ResolveRange(unsigned nType, const unsigned char *pData, unsigned d, unsigned nSelf)
{
    switch (nType) {
    case 1:
        return LoadLE16(pData + 2 * d);
    case 2:
        return (LoadLE16(pData) + d) & 0xFFFF;
    case 3:
        return kNoMapping;
    case 4:
        return (LoadLE16(pData) + pData[2 + d]) & 0xFFFF;
    default:
        return nSelf;
    }
}

// Unicode value of trail byte uTrail after the lead byte whose Index1 entry is e.
inline unsigned LookupTrail(const _KT_CUMAP *pMap, _KT_CUMAPINDEX1 e, unsigned uTrail)
{
    const _KT_CUMAPINDEX2 *pRanges = pMap->pIndex2 + e.wValue;
    // Last range whose first trail byte is not above uTrail; the first range starts at 0.
    unsigned lo = 0;
    unsigned hi = e.wCount;
    while (hi - lo > 1) {
        unsigned mid = (lo + hi) / 2;
        if (pRanges[mid].uFirst <= uTrail)
            lo = mid;
        else
            hi = mid;
    }
    const _KT_CUMAPINDEX2 &r = pRanges[lo];
    return ResolveRange(r.uType, pMap->pData + r.wOffset, uTrail - r.uFirst, kNoMapping);
}

// Range of the Unicode-to-byte map that holds wch, or null.
inline const _KT_UCMAPRANGE *FindUnicodeRange(const _KT_UCMAP *pMap, unsigned wch)
{
    int lo = 0;
    int hi = pMap->nRangeCount - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const _KT_UCMAPRANGE *r = pMap->pRanges + mid;
        if (wch < r->wFirst)
            hi = mid - 1;
        else if (wch > r->wLast)
            lo = mid + 1;
        else
            return r;
    }
    return nullptr;
}

inline unsigned ResolveUnicode(const _KT_UCMAP *pMap, const _KT_UCMAPRANGE *r, unsigned wch)
{
    return ResolveRange(r->wType, pMap->pData + r->wOffset, wch - r->wFirst, wch);
}

const _KT_CODEPAGE_SHORTCUTS *const g_KTCodePageShortcuts[14] = {
    &g_CP874_Shortcuts,  &g_CP932_Shortcuts,  &g_CP936_Shortcuts,  &g_CP949_Shortcuts,
    &g_CP950_Shortcuts,  &g_CP1250_Shortcuts, &g_CP1251_Shortcuts, &g_CP1252_Shortcuts,
    &g_CP1253_Shortcuts, &g_CP1254_Shortcuts, &g_CP1255_Shortcuts, &g_CP1256_Shortcuts,
    &g_CP1257_Shortcuts, &g_CP1258_Shortcuts,
};

inline const _KT_CODEPAGE_SHORTCUTS *ShortcutsOf(const _KT_CODEPAGE *pCP)
{
    return g_KTCodePageShortcuts[pCP - g_KTCodePageMgr];
}

// Output side of a conversion loop: the sizing pass only counts, and an output known to be
// large enough for everything left needs no checks.
enum OutputKind
{
    kSizing,
    kBounded,
    kRoomy,
};

template <OutputKind Kind, typename Char> struct Output
{
    Char *pDst;
    int nCapacity;
    int Room(int nWritten) const
    {
        // Unbounded kinds report a constant, so the compiler drops their checks.
        return Kind == kBounded ? nCapacity - nWritten : 0x7FFFFFFF;
    }
    void Put(int nAt, Char c) const
    {
        if (Kind != kSizing)
            pDst[nAt] = c;
    }
};

// Character of the byte uByte through Index1 and, for a lead byte, of the pair with uTrail
// through Index2; kNoMapping when unmapped.
inline unsigned DecodeThroughIndex(const _KT_CUMAP *pMap, const uint8_t (*pTrailBlocks)[8],
                                   unsigned uByte, unsigned uTrail)
{
    const _KT_CUMAPINDEX1 e = pMap->pIndex1[uByte];
    if (e.wCount == 0)
        return e.wValue;
    const _KT_CUMAPINDEX2 *pRanges = pMap->pIndex2 + e.wValue;
    unsigned r = pTrailBlocks[uByte][uTrail >> 5];
    while (r + 1 < e.wCount && pRanges[r + 1].uFirst <= uTrail)
        ++r;
    return ResolveRange(pRanges[r].uType, pMap->pData + pRanges[r].wOffset,
                        uTrail - pRanges[r].uFirst, kNoMapping);
}

template <OutputKind Kind, bool DoubleByte>
int DecodeTableLoop(const _KT_CODEPAGE *pCP, const unsigned char *pSrc, int *pSrcLen,
                    Output<Kind, wchar_t> out, int *pDstLen, bool bStopOnInvalid)
{
    const _KT_CUMAP *pMap = pCP->pCUMap;
    const _KT_CUMAPINDEX1 *const pIndex1 = pMap->pIndex1;
    const unsigned char *const pData = pMap->pData;
    const uint8_t(*const pTrailBlocks)[8] = ShortcutsOf(pCP)->pTrailBlocks;
    const _KT_LEADBLOCK block = ShortcutsOf(pCP)->leadBlock;
    const bool bAsciiIdentity = ShortcutsOf(pCP)->bAsciiIdentity;
    const unsigned nDefault = static_cast<unsigned>(pCP->pHeader->nDefUnicode);
    const int nSrcLen = *pSrcLen;
    int nRead = 0;
    int nWritten = 0;
    int nResult = 1;
    // Text comes in runs of one kind, so each kind has its own tight loop; everything else
    // (unmapped codes, pairs outside the lead block, the end of the input) takes one step of the
    // general path below.
    for (;;) {
        // Single bytes: one per character. No built-in code page has a lead byte below 0x80
        // (the generator checks this).
        int nEnd = nSrcLen;
        if (out.Room(nWritten) < nEnd - nRead)
            nEnd = nRead + out.Room(nWritten);
        if (DoubleByte && bAsciiIdentity) {
            while (nRead < nEnd && pSrc[nRead] < 0x80)
                out.Put(nWritten++, static_cast<wchar_t>(pSrc[nRead++]));
        } else {
            while (nRead < nEnd && (!DoubleByte || pSrc[nRead] < 0x80)) {
                const unsigned nChar = pIndex1[pSrc[nRead]].wValue;
                if (nChar == kNoMapping)
                    break;
                out.Put(nWritten++, static_cast<wchar_t>(nChar));
                ++nRead;
            }
        }
        if (DoubleByte) {
            // Pairs of the lead block, found by arithmetic (unsigned differences wrap above the
            // bounds, so single bytes fall out too).
            while (nRead + 1 < nSrcLen && out.Room(nWritten) > 0) {
                const unsigned nRow = pSrc[nRead] - block.nFirstLead;
                const unsigned nColumn = pSrc[nRead + 1] - block.nFirstTrail;
                if (__builtin_expect(nRow >= block.nLeads || nColumn >= block.nTrails, 0))
                    break;
                const unsigned nChar = LoadLE16(pData + 2 * (nRow * block.nTrails + nColumn));
                if (__builtin_expect(nChar == kNoMapping, 0))
                    break;
                out.Put(nWritten++, static_cast<wchar_t>(nChar));
                nRead += 2;
            }
        }
        if (nRead >= nSrcLen || out.Room(nWritten) <= 0)
            break;
        const unsigned uByte = pSrc[nRead];
        const _KT_CUMAPINDEX1 e = pIndex1[uByte];
        if (DoubleByte && uByte < 0x80 && e.wValue != kNoMapping)
            continue; // a run of single bytes after a run of pairs
        unsigned nChar = e.wValue;
        int nBytes = 1;
        if (e.wCount != 0) {
            if (nRead + 1 >= nSrcLen)
                break; // a lead byte without its trail byte is left for the next call
            nChar = DecodeThroughIndex(pMap, pTrailBlocks, uByte, pSrc[nRead + 1]);
            nBytes = 2;
        }
        if (nChar == kNoMapping) {
            if (bStopOnInvalid) {
                nResult = 0;
                break;
            }
            nChar = nDefault;
        }
        out.Put(nWritten++, static_cast<wchar_t>(nChar));
        nRead += nBytes;
    }
    *pSrcLen = nRead;
    *pDstLen = nWritten;
    return nResult;
}

template <OutputKind Kind>
int DecodeTableAs(const _KT_CODEPAGE *pCP, const unsigned char *pSrc, int *pSrcLen, wchar_t *pDst,
                  int *pDstLen, bool bStopOnInvalid)
{
    const Output<Kind, wchar_t> out{pDst, *pDstLen};
    if (pCP->pHeader->bHasLeadBytes)
        return DecodeTableLoop<Kind, true>(pCP, pSrc, pSrcLen, out, pDstLen, bStopOnInvalid);
    return DecodeTableLoop<Kind, false>(pCP, pSrc, pSrcLen, out, pDstLen, bStopOnInvalid);
}

int DecodeTable(const _KT_CODEPAGE *pCP, const unsigned char *pSrc, int *pSrcLen, wchar_t *pDst,
                int *pDstLen, bool bStopOnInvalid)
{
    if (pDst == nullptr || *pDstLen <= 0)
        return DecodeTableAs<kSizing>(pCP, pSrc, pSrcLen, pDst, pDstLen, bStopOnInvalid);
    // Every byte gives at most one character.
    if (*pDstLen >= *pSrcLen)
        return DecodeTableAs<kRoomy>(pCP, pSrc, pSrcLen, pDst, pDstLen, bStopOnInvalid);
    return DecodeTableAs<kBounded>(pCP, pSrc, pSrcLen, pDst, pDstLen, bStopOnInvalid);
}

// Code of u through the block shortcut: kNoMapping when unmappable.
inline unsigned EncodeThroughBlocks(const _KT_UCMAP *pMap, const _KT_CODEPAGE_SHORTCUTS *pCuts,
                                    unsigned u)
{
    const unsigned nBlock = pCuts->pUnicodeBlocks[u >> 5];
    int r = static_cast<int>(nBlock & 0x7FFF);
    if ((nBlock & 0x8000) == 0) {
        while (r < pMap->nRangeCount && pMap->pRanges[r].wLast < u)
            ++r;
        if (r == pMap->nRangeCount || pMap->pRanges[r].wFirst > u)
            return kNoMapping;
    }
    const _KT_UCMAPRANGE &range = pMap->pRanges[r];
    const unsigned char *pData = pMap->pData + range.wOffset;
    if (range.wType == 1)
        return LoadLE16(pData + 2 * (u - range.wFirst));
    return ResolveRange(range.wType, pData, u - range.wFirst, u);
}

template <OutputKind Kind>
int EncodeTableLoop(const _KT_CODEPAGE *pCP, const wchar_t *pSrc, int *pSrcLen,
                    Output<Kind, char> out, int *pDstLen, bool bStopOnInvalid)
{
    const _KT_CPMAPHEADER *pHeader = pCP->pHeader;
    const _KT_UCMAP *pMap = pCP->pUCMap;
    const _KT_CODEPAGE_SHORTCUTS *pCuts = ShortcutsOf(pCP);
    const unsigned nDefault = static_cast<unsigned>(pHeader->nDefCharcode);
    // The block shortcut covers exactly the header's Unicode bounds.
    const wchar_t wMin = pHeader->nMinUnicode;
    const wchar_t wMax = pHeader->nMaxUnicode;
    const wchar_t wAsciiEnd = pCuts->bAsciiIdentity ? 0x80 : 0;
    const int nSrcLen = *pSrcLen;
    int nRead = 0;
    int nWritten = 0;
    int nResult = 1;
    for (; nRead < nSrcLen && out.Room(nWritten) > 0; ++nRead) {
        const wchar_t wch = pSrc[nRead];
        unsigned nCode;
        if (wch >= 0 && wch < wAsciiEnd)
            nCode = static_cast<unsigned>(wch);
        else if (wch >= wMin && wch <= wMax)
            nCode = EncodeThroughBlocks(pMap, pCuts, static_cast<unsigned>(wch));
        else
            nCode = kNoMapping;
        if (nCode == kNoMapping) {
            if (bStopOnInvalid) {
                nResult = 0;
                break;
            }
            nCode = nDefault;
        }
        if (nCode > 0xFF) {
            if (out.Room(nWritten) < 2)
                break;
            out.Put(nWritten, static_cast<char>(nCode >> 8));
            out.Put(nWritten + 1, static_cast<char>(nCode & 0xFF));
            nWritten += 2;
        } else {
            if (out.Room(nWritten) < 1)
                break;
            out.Put(nWritten, static_cast<char>(nCode));
            ++nWritten;
        }
    }
    *pSrcLen = nRead;
    *pDstLen = nWritten;
    return nResult;
}

int EncodeTable(const _KT_CODEPAGE *pCP, const wchar_t *pSrc, int *pSrcLen, char *pDst,
                int *pDstLen, bool bStopOnInvalid)
{
    if (pDst == nullptr || *pDstLen <= 0)
        return EncodeTableLoop<kSizing>(pCP, pSrc, pSrcLen, {pDst, 0}, pDstLen, bStopOnInvalid);
    // Every character gives at most two bytes.
    if (*pDstLen / 2 >= *pSrcLen)
        return EncodeTableLoop<kRoomy>(pCP, pSrc, pSrcLen, {pDst, *pDstLen}, pDstLen,
                                       bStopOnInvalid);
    return EncodeTableLoop<kBounded>(pCP, pSrc, pSrcLen, {pDst, *pDstLen}, pDstLen, bStopOnInvalid);
}

// UTF-8 decode; *pbInvalid tells whether it stopped at a byte that cannot occur there.
int DecodeUTF8(const unsigned char *pSrc, int *pSrcLen, wchar_t *pDst, int *pDstLen,
               bool *pbInvalid)
{
    const int nSrcLen = *pSrcLen;
    const bool bSizing = pDst == nullptr || *pDstLen <= 0;
    const int nCapacity = bSizing ? 0 : *pDstLen;
    int nWritten = 0;
    int nConsumed = 0;
    int nPending = 0;
    uint32_t nChar = 0;
    *pbInvalid = false;
    for (int i = 0; i < nSrcLen; ++i) {
        const unsigned c = pSrc[i];
        if (c < 0x80) {
            nChar = c;
            nPending = 0;
        } else if (c < 0xC0) {
            if (nPending == 0) {
                *pbInvalid = true;
                break;
            }
            nChar = (nChar << 6) | (c & 0x3F);
            if (--nPending != 0)
                continue;
        } else {
            // Sequence starts: payload bits kept and continuation bytes to follow.
            if (c < 0xE0) {
                nChar = c & 0x1F;
                nPending = 1;
            } else if (c < 0xF0) {
                nChar = c & 0x0F;
                nPending = 2;
            } else if (c < 0xF8) {
                nChar = c & 0x07;
                nPending = 3;
            } else if (c < 0xFC) {
                nChar = c & 0x03;
                nPending = 4;
            } else if (c < 0xFE) {
                nChar = c & 0x01;
                nPending = 5;
            } else {
                *pbInvalid = true;
                break;
            }
            continue;
        }
        if (!bSizing)
            pDst[nWritten] = static_cast<wchar_t>(nChar);
        ++nWritten;
        nConsumed = i + 1;
        if (!bSizing && nWritten == nCapacity)
            break;
    }
    *pSrcLen = nConsumed;
    *pDstLen = nWritten;
    return 1;
}

// UTF-16 (code pages 1200/1201): the byte side is a run of 16-bit units in the given order.
inline unsigned LoadUnit(const unsigned char *p, bool bBigEndian)
{
    return bBigEndian ? (static_cast<unsigned>(p[0]) << 8) | p[1] : LoadLE16(p);
}

inline void StoreUnit(char *p, unsigned nUnit, bool bBigEndian)
{
    p[bBigEndian ? 0 : 1] = static_cast<char>(nUnit >> 8);
    p[bBigEndian ? 1 : 0] = static_cast<char>(nUnit & 0xFF);
}

int DecodeUTF16(bool bBigEndian, const unsigned char *pSrc, int *pSrcLen, wchar_t *pDst,
                int *pDstLen)
{
    const int nSrcLen = *pSrcLen & ~1;
    const bool bSizing = pDst == nullptr || *pDstLen <= 0;
    const int nCapacity = bSizing ? 0 : *pDstLen;
    int nRead = 0;
    int nWritten = 0;
    while (nRead < nSrcLen) {
        unsigned nChar = LoadUnit(pSrc + nRead, bBigEndian);
        int nBytes = 2;
        if (nChar >= 0xD800 && nChar < 0xDC00) {
            if (nRead + 4 > nSrcLen)
                break; // the low half may come with the next call
            const unsigned nLow = LoadUnit(pSrc + nRead + 2, bBigEndian);
            if (nLow >= 0xDC00 && nLow < 0xE000) {
                nChar = 0x10000 + ((nChar - 0xD800) << 10) + (nLow - 0xDC00);
                nBytes = 4;
            }
        }
        if (!bSizing)
            pDst[nWritten] = static_cast<wchar_t>(nChar);
        ++nWritten;
        nRead += nBytes;
        if (!bSizing && nWritten == nCapacity)
            break;
    }
    *pSrcLen = nRead;
    *pDstLen = nWritten;
    return 1;
}

int EncodeUTF16(bool bBigEndian, const wchar_t *pSrc, int *pSrcLen, char *pDst, int *pDstLen,
                bool bStopOnInvalid)
{
    const int nSrcLen = *pSrcLen;
    const bool bSizing = pDst == nullptr || *pDstLen <= 0;
    const int nCapacity = bSizing ? 0 : *pDstLen;
    int nRead = 0;
    int nWritten = 0;
    int nResult = 1;
    for (; nRead < nSrcLen; ++nRead) {
        uint32_t nChar = static_cast<uint32_t>(pSrc[nRead]);
        if (nChar > 0x10FFFF) {
            if (bStopOnInvalid) {
                nResult = 0;
                break;
            }
            nChar = '?';
        }
        const int nBytes = nChar > 0xFFFF ? 4 : 2;
        if (!bSizing) {
            if (nWritten + nBytes > nCapacity)
                break;
            if (nBytes == 4) {
                StoreUnit(pDst + nWritten, 0xD800 + ((nChar - 0x10000) >> 10), bBigEndian);
                StoreUnit(pDst + nWritten + 2, 0xDC00 + (nChar & 0x3FF), bBigEndian);
            } else {
                StoreUnit(pDst + nWritten, nChar, bBigEndian);
            }
        }
        nWritten += nBytes;
        if (!bSizing && nWritten == nCapacity) {
            ++nRead;
            break;
        }
    }
    *pSrcLen = nRead;
    *pDstLen = nWritten;
    return nResult;
}

// Shared entry checks of the buffer conversions: 1 when there is work, otherwise the result to
// return with the lengths already set.
int CheckConversionArgs(const void *pSrc, int *pSrcLen, int *pDstLen, int *pnResult)
{
    if (pSrcLen == nullptr || pDstLen == nullptr) {
        *pnResult = -1;
        return 0;
    }
    if (*pSrcLen < 1 || pSrc == nullptr) {
        // A null input with a positive length is a caller error, not an empty success.
        *pnResult = *pSrcLen < 1 ? 1 : -1;
        *pSrcLen = 0;
        *pDstLen = 0;
        return 0;
    }
    return 1;
}

inline int UnknownCodePage(int *pSrcLen, int *pDstLen)
{
    *pSrcLen = 0;
    *pDstLen = 0;
    return -1;
}

// Java-style name hash over the low byte of each unit taken as a signed char.
template <typename Unit> uint32_t HashLowBytes(const Unit *pStr, int nLen, bool bIgnoreCase)
{
    uint32_t h = 0;
    for (int i = 0; i < nLen; ++i) {
        char c = static_cast<char>(pStr[i] & 0xFF);
        if (bIgnoreCase && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
        h = h * 31u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    return h;
}

int FindNameHash(uint32_t nHash)
{
    int lo = 0;
    int hi = static_cast<int>(sizeof(g_KTCPHashTable) / sizeof(g_KTCPHashTable[0])) - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        if (g_KTCPHashTable[mid].nHash < nHash)
            lo = mid + 1;
        else if (g_KTCPHashTable[mid].nHash > nHash)
            hi = mid - 1;
        else
            return static_cast<int>(g_KTCPHashTable[mid].nCodePage);
    }
    return -1;
}

// Binary search of a (character set, code page) table sorted by the field bKeyIsCharset names.
int FindCharsetPair(const _KT_CHARSETCODEPAGE *pTable, bool bKeyIsCharset, int nKey)
{
    int lo = 0;
    int hi = 30;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int nMid = bKeyIsCharset ? pTable[mid].wCharset : pTable[mid].wCodePage;
        if (nMid < nKey)
            lo = mid + 1;
        else if (nMid > nKey)
            hi = mid - 1;
        else
            return bKeyIsCharset ? pTable[mid].wCodePage : pTable[mid].wCharset;
    }
    return -1;
}

} // namespace

int KT_DecodeString(int nCodePage, const char *pSrc, int *pSrcLen, wchar_t *pDst, int *pDstLen,
                    bool bStopOnInvalid)
{
    int nResult = 0;
    if (!CheckConversionArgs(pSrc, pSrcLen, pDstLen, &nResult))
        return nResult;
    const unsigned char *pBytes = reinterpret_cast<const unsigned char *>(pSrc);
    if (nCodePage == KT_CODEPAGE_UTF8) {
        bool bInvalid = false;
        DecodeUTF8(pBytes, pSrcLen, pDst, pDstLen, &bInvalid);
        // Stopping at a malformed byte is reported when the caller asked to stop on invalid input.
        return bInvalid && bStopOnInvalid ? 0 : 1;
    }
    if (nCodePage == KT_CODEPAGE_UTF16LE || nCodePage == KT_CODEPAGE_UTF16BE)
        return DecodeUTF16(nCodePage == KT_CODEPAGE_UTF16BE, pBytes, pSrcLen, pDst, pDstLen);
    const _KT_CODEPAGE *pCP = KT_GetCodePage(nCodePage);
    if (pCP == nullptr)
        return UnknownCodePage(pSrcLen, pDstLen);
    return DecodeTable(pCP, pBytes, pSrcLen, pDst, pDstLen, bStopOnInvalid);
}

int KT_EncodeString(int nCodePage, const wchar_t *pSrc, int *pSrcLen, char *pDst, int *pDstLen,
                    bool bStopOnInvalid)
{
    int nResult = 0;
    if (!CheckConversionArgs(pSrc, pSrcLen, pDstLen, &nResult))
        return nResult;
    if (nCodePage == KT_CODEPAGE_UTF8)
        return KT_UTF8Encode(pSrc, pSrcLen, pDst, pDstLen);
    if (nCodePage == KT_CODEPAGE_UTF16LE || nCodePage == KT_CODEPAGE_UTF16BE)
        return EncodeUTF16(nCodePage == KT_CODEPAGE_UTF16BE, pSrc, pSrcLen, pDst, pDstLen,
                           bStopOnInvalid);
    const _KT_CODEPAGE *pCP = KT_GetCodePage(nCodePage);
    if (pCP == nullptr)
        return UnknownCodePage(pSrcLen, pDstLen);
    return EncodeTable(pCP, pSrc, pSrcLen, pDst, pDstLen, bStopOnInvalid);
}

int KT_UTF8Decode(const char *pSrc, int *pSrcLen, wchar_t *pDst, int *pDstLen)
{
    int nResult = 0;
    if (!CheckConversionArgs(pSrc, pSrcLen, pDstLen, &nResult))
        return nResult;
    bool bInvalid = false;
    return DecodeUTF8(reinterpret_cast<const unsigned char *>(pSrc), pSrcLen, pDst, pDstLen,
                      &bInvalid);
}

int KT_UTF8Encode(const wchar_t *pSrc, int *pSrcLen, char *pDst, int *pDstLen)
{
    int nResult = 0;
    if (!CheckConversionArgs(pSrc, pSrcLen, pDstLen, &nResult))
        return nResult;
    const int nSrcLen = *pSrcLen;
    const bool bSizing = pDst == nullptr || *pDstLen <= 0;
    const int nCapacity = bSizing ? 0 : *pDstLen;
    int nRead = 0;
    int nWritten = 0;
    for (; nRead < nSrcLen; ++nRead) {
        uint32_t nChar = static_cast<uint32_t>(pSrc[nRead]);
        // Wide characters are 32 bits here, so values past U+FFFF keep all their bits; only
        // values no UTF-8 form can carry become U+FFFD.
        if (nChar > 0x7FFFFFFF)
            nChar = 0xFFFD;
        int nBytes;
        unsigned char uLead;
        if (nChar < 0x80) {
            nBytes = 1;
            uLead = 0;
        } else if (nChar < 0x800) {
            nBytes = 2;
            uLead = 0xC0;
        } else if (nChar < 0x10000) {
            nBytes = 3;
            uLead = 0xE0;
        } else if (nChar < 0x200000) {
            nBytes = 4;
            uLead = 0xF0;
        } else if (nChar < 0x4000000) {
            nBytes = 5;
            uLead = 0xF8;
        } else {
            nBytes = 6;
            uLead = 0xFC;
        }
        if (!bSizing) {
            if (nWritten + nBytes > nCapacity)
                break;
            for (int k = nBytes - 1; k > 0; --k) {
                pDst[nWritten + k] = static_cast<char>(0x80 | (nChar & 0x3F));
                nChar >>= 6;
            }
            pDst[nWritten] = static_cast<char>(uLead | nChar);
        }
        nWritten += nBytes;
    }
    *pSrcLen = nRead;
    *pDstLen = nWritten;
    return 1;
}

bool KT_IsUTF8Data(const unsigned char *pData, int *pLen)
{
    KTASSERT(pData != NULL && pLen != NULL);
    const int nLen = *pLen;
    if (nLen <= 0)
        return true;
    int nPending = 0;
    int nComplete = 0;
    for (int i = 0; i < nLen; ++i) {
        const unsigned c = pData[i];
        if (nPending > 0) {
            if ((c & 0xC0) != 0x80) {
                *pLen = nComplete;
                return false;
            }
            if (--nPending == 0)
                nComplete = i + 1;
            continue;
        }
        if (c < 0x80)
            continue;
        if ((c & 0xE0) == 0xC0)
            nPending = 1;
        else if ((c & 0xF0) == 0xE0)
            nPending = 2;
        else if ((c & 0xF8) == 0xF0)
            nPending = 3;
        else if ((c & 0xFC) == 0xF8)
            nPending = 4;
        else if ((c & 0xFE) == 0xFC)
            nPending = 5;
        else {
            // a continuation byte with nothing pending, or 0xFE / 0xFF
            *pLen = nComplete;
            return false;
        }
    }
    *pLen = nComplete;
    return true;
}

void KT_UTF16ToWChar(wchar_t *pBuf, int nLen)
{
    KTASSERT(pBuf != NULL && nLen > 0);
    // The 16-bit units occupy the front half of the buffer; widening from the end never
    // overwrites a unit before it is read.
    const unsigned short *pUnits = reinterpret_cast<const unsigned short *>(pBuf);
    for (int i = nLen - 1; i >= 0; --i) {
        unsigned short nUnit;
        std::memcpy(&nUnit, pUnits + i, sizeof(nUnit));
        pBuf[i] = static_cast<wchar_t>(nUnit);
    }
}

void KT_UTF16ToWCharCopy(const unsigned short *pSrc, wchar_t *pDst, int nLen)
{
    KTASSERT(pSrc != NULL && pDst != NULL && nLen > 0);
    for (int i = 0; i < nLen; ++i)
        pDst[i] = static_cast<wchar_t>(pSrc[i]);
}

void KT_WCharToUTF16(wchar_t *pBuf, int nLen)
{
    KTASSERT(pBuf != NULL && nLen > 0);
    unsigned short *pUnits = reinterpret_cast<unsigned short *>(pBuf);
    for (int i = 0; i < nLen; ++i) {
        const unsigned short nUnit = static_cast<unsigned short>(pBuf[i] & 0xFFFF);
        std::memcpy(pUnits + i, &nUnit, sizeof(nUnit));
    }
}

void KT_WCharToUTF16Copy(const wchar_t *pSrc, unsigned short *pDst, int nLen)
{
    KTASSERT(pSrc != NULL && pDst != NULL && nLen > 0);
    for (int i = 0; i < nLen; ++i)
        pDst[i] = static_cast<unsigned short>(pSrc[i] & 0xFFFF);
}

void KT_SwapByteOrder(unsigned short *pBuf, int nLen)
{
    KTASSERT(pBuf != NULL && nLen > 0);
    KT_SwapByteOrderCopy(pBuf, pBuf, nLen);
}

void KT_SwapByteOrderCopy(const unsigned short *pSrc, unsigned short *pDst, int nLen)
{
    KTASSERT(pSrc != NULL && pDst != NULL && nLen > 0);
    for (int i = 0; i < nLen; ++i)
        pDst[i] = static_cast<unsigned short>((pSrc[i] >> 8) | (pSrc[i] << 8));
}

const _KT_CODEPAGE *KT_GetCodePage(int nCodePage)
{
    int lo = 0;
    int hi = static_cast<int>(sizeof(g_KTCodePageMgr) / sizeof(g_KTCodePageMgr[0])) - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int nMid = g_KTCodePageMgr[mid].pHeader->wCodePage;
        if (nMid < nCodePage)
            lo = mid + 1;
        else if (nMid > nCodePage)
            hi = mid - 1;
        else
            return &g_KTCodePageMgr[mid];
    }
    return nullptr;
}

int KT_GetCodePageFromCharset(int nCharset)
{
    return FindCharsetPair(g_KTCharset2CodePageTable, true, nCharset);
}

int KT_GetCharsetFromCodePage(int nCodePage)
{
    return FindCharsetPair(g_KTCodepage2CharsetTable, false, nCodePage);
}

int KT_GetCodePageFromStringA(const char *pStr, int nLen)
{
    KTASSERT(pStr != NULL);
    if (nLen < 0)
        nLen = static_cast<int>(std::strlen(pStr));
    if (nLen == 0)
        return -1;
    return FindNameHash(HashLowBytes(pStr, nLen, true));
}

int KT_GetCodePageFormStringW(const wchar_t *pStr, int nLen)
{
    KTASSERT(pStr != NULL);
    if (nLen < 0)
        nLen = static_cast<int>(std::wcslen(pStr));
    if (nLen == 0)
        return -1;
    // Hashing the low bytes directly gives the hash of the narrowed name without a copy.
    return FindNameHash(HashLowBytes(pStr, nLen, true));
}

uint32_t KT_HashCode_String_GetA(const char *pStr, int nLen, bool bIgnoreCase)
{
    if (pStr == nullptr)
        return 0;
    if (nLen < 0)
        nLen = static_cast<int>(std::strlen(pStr));
    return HashLowBytes(pStr, nLen, bIgnoreCase);
}

uint32_t KT_HashCode_String_GetW(const wchar_t *pStr, int nLen, bool bIgnoreCase)
{
    if (pStr == nullptr)
        return 0;
    if (nLen < 0)
        nLen = static_cast<int>(std::wcslen(pStr));
    uint32_t h = 0;
    for (int i = 0; i < nLen; ++i) {
        wchar_t c = pStr[i];
        if (bIgnoreCase && c >= L'A' && c <= L'Z')
            c = c + (L'a' - L'A');
        h = h * 1313u + static_cast<uint32_t>(c);
    }
    return h;
}

// --- code page objects --------------------------------------------------------------------

IKT_CodePage *IKT_CodePage::Create(int nCodePage)
{
    const _KT_CODEPAGE *pCP = KT_GetCodePage(nCodePage);
    return pCP ? new CKT_CodePage(pCP) : nullptr;
}

void CKT_CodePage::Release()
{
    delete this;
}

int CKT_CodePage::GetCodePageNumber() const
{
    return m_pCodePage->pHeader->wCodePage;
}

int CKT_CodePage::GetCodeSystemType() const
{
    return m_pCodePage->pHeader->nCodeSystemType;
}

bool CKT_CodePage::HasLeadByte() const
{
    return m_pCodePage->pHeader->bHasLeadBytes != 0;
}

bool CKT_CodePage::IsLeadByte(uint8_t uByte) const
{
    return m_pCodePage->pCUMap->pIndex1[uByte].wCount != 0;
}

int CKT_CodePage::GetMinBytesPerChar() const
{
    return m_pCodePage->pHeader->uMinCharBytes;
}

int CKT_CodePage::GetMaxBytesPerChar() const
{
    return m_pCodePage->pHeader->uMaxCharBytes;
}

int CKT_CodePage::GetMinCharcode() const
{
    return m_pCodePage->pHeader->nMinCharcode;
}

int CKT_CodePage::GetMaxCharcode() const
{
    return m_pCodePage->pHeader->nMaxCharcode;
}

int CKT_CodePage::GetDefCharcode() const
{
    return m_pCodePage->pHeader->nDefCharcode;
}

int CKT_CodePage::GetMinUnicode() const
{
    return m_pCodePage->pHeader->nMinUnicode;
}

int CKT_CodePage::GetMaxUnicode() const
{
    return m_pCodePage->pHeader->nMaxUnicode;
}

int CKT_CodePage::GetDefUnicode() const
{
    return m_pCodePage->pHeader->nDefUnicode;
}

bool CKT_CodePage::IsValidCharcode(uint16_t wCode) const
{
    return GetUnicode(wCode) != static_cast<wchar_t>(kNoMapping);
}

wchar_t CKT_CodePage::GetUnicode(uint16_t wCode) const
{
    const _KT_CPMAPHEADER *pHeader = m_pCodePage->pHeader;
    if (wCode < pHeader->nMinCharcode || wCode > pHeader->nMaxCharcode)
        return static_cast<wchar_t>(kNoMapping);
    const _KT_CUMAP *pMap = m_pCodePage->pCUMap;
    if (wCode <= 0xFF) {
        const _KT_CUMAPINDEX1 e = pMap->pIndex1[wCode];
        return static_cast<wchar_t>(e.wCount != 0 ? kNoMapping : e.wValue);
    }
    const _KT_CUMAPINDEX1 e = pMap->pIndex1[wCode >> 8];
    if (e.wCount == 0)
        return static_cast<wchar_t>(e.wValue);
    return static_cast<wchar_t>(LookupTrail(pMap, e, wCode & 0xFF));
}

bool CKT_CodePage::IsValidUnicode(wchar_t wch) const
{
    // A value in no range (0xFFFF) has no code either.
    const unsigned nCode = GetCharcode(wch);
    return nCode != kNoMapping && nCode != kNoRange;
}

uint16_t CKT_CodePage::GetCharcode(wchar_t wch) const
{
    // Values beyond 16 bits lie in no range.
    if (wch < 0 || wch > 0xFFFF)
        return static_cast<uint16_t>(kNoRange);
    const _KT_UCMAP *pMap = m_pCodePage->pUCMap;
    const _KT_UCMAPRANGE *r = FindUnicodeRange(pMap, static_cast<unsigned>(wch));
    return static_cast<uint16_t>(r ? ResolveUnicode(pMap, r, static_cast<unsigned>(wch))
                                   : kNoRange);
}

IKT_CodePageMgr *IKT_CodePageMgr::Create()
{
    return new CKT_CodePageMgr;
}

void CKT_CodePageMgr::Release()
{
    delete this;
}

int CKT_CodePageMgr::GetDefaultCodePage() const
{
    return 1252;
}

bool CKT_CodePageMgr::IsValidCodePage(int nCodePage) const
{
    return KT_GetCodePage(nCodePage) != nullptr;
}

IKT_CodePage *CKT_CodePageMgr::CreateCodePage(int nCodePage) const
{
    return IKT_CodePage::Create(nCodePage);
}
