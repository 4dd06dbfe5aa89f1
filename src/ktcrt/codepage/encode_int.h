// Tables of the built-in code pages, shared between the generated table sources and the
// conversion code.
#ifndef KTCRT_ENCODE_INT_H
#define KTCRT_ENCODE_INT_H

#include "kt_codepage.h"

// Search shortcuts beside each code page's maps, used by the bulk conversions only; the
// single-character operations search the ranges themselves.

// Consecutive lead bytes whose arrays open the data block, one per lead byte, all covering the
// same trail bytes: the pair (lead, trail) is at 2 * ((lead - first lead) * trails + trail -
// first trail).
struct _KT_LEADBLOCK
{
    unsigned nFirstLead;
    unsigned nLeads; // 0 for single-byte code pages
    unsigned nFirstTrail;
    unsigned nTrails;
};

struct _KT_CODEPAGE_SHORTCUTS
{
    _KT_LEADBLOCK leadBlock;
    // Per lead byte and block of 32 trail bytes: the index, among that lead byte's ranges, of
    // the range holding the block's first trail byte. Null for single-byte code pages.
    const uint8_t (*pTrailBlocks)[8];
    // Per block of 32 Unicode values up to the maximum Unicode value: the index of the first
    // range not ending before the block; bit 15 set when the block lies wholly inside it.
    const uint16_t *pUnicodeBlocks;
    int nUnicodeBlocks;
    bool bAsciiIdentity; // 0x00-0x7F map to U+0000-U+007F both ways
};

#define KT_DECLARE_CODEPAGE_TABLES(cp)                                                             \
    extern const _KT_CPMAPHEADER g_CP##cp##_MapHeader;                                             \
    extern const _KT_CUMAP g_CP##cp##_CUMap;                                                       \
    extern const _KT_UCMAP g_CP##cp##_UCMap;                                                       \
    extern const _KT_CODEPAGE_SHORTCUTS g_CP##cp##_Shortcuts;

KT_DECLARE_CODEPAGE_TABLES(874)
KT_DECLARE_CODEPAGE_TABLES(932)
KT_DECLARE_CODEPAGE_TABLES(936)
KT_DECLARE_CODEPAGE_TABLES(949)
KT_DECLARE_CODEPAGE_TABLES(950)
KT_DECLARE_CODEPAGE_TABLES(1250)
KT_DECLARE_CODEPAGE_TABLES(1251)
KT_DECLARE_CODEPAGE_TABLES(1252)
KT_DECLARE_CODEPAGE_TABLES(1253)
KT_DECLARE_CODEPAGE_TABLES(1254)
KT_DECLARE_CODEPAGE_TABLES(1255)
KT_DECLARE_CODEPAGE_TABLES(1256)
KT_DECLARE_CODEPAGE_TABLES(1257)
KT_DECLARE_CODEPAGE_TABLES(1258)

#undef KT_DECLARE_CODEPAGE_TABLES

#endif // KTCRT_ENCODE_INT_H
