// Tables of the built-in code pages, shared between the generated table sources and the
// conversion code.
#ifndef KTCRT_ENCODE_INT_H
#define KTCRT_ENCODE_INT_H

#include "kt_codepage.h"

// Search shortcuts beside each code page's maps, used by the bulk conversions: for each lead
// byte its longest array range; for each lead byte and block of 32 trail bytes the index (among that lead byte's ranges) of the range
// holding the block's first trail byte; for each block of 32 Unicode values up to the maximum
// Unicode value the index of the first range not ending before the block.
struct _KT_LEADARRAY
{
    uint8_t uFirst; // first trail byte of the lead byte's longest array range
    uint8_t uCount; // trail bytes it covers; 0 when the lead byte has no array range
    uint16_t wOffset;
};

// Consecutive lead bytes whose arrays open the data block, one per lead byte, each covering the
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
    const _KT_LEADARRAY *pLeadArrays;  // null for single-byte code pages
    const uint8_t (*pTrailBlocks)[8]; // null for single-byte code pages
    const uint16_t *pUnicodeBlocks; // bit 15: the block lies wholly inside that range
    int nUnicodeBlocks;
    bool bAsciiIdentity; // 0x00-0x7F map to U+0000-U+007F both ways
};

#define KT_DECLARE_CODEPAGE_TABLES(cp)                                                           \
    extern const _KT_CPMAPHEADER g_CP##cp##_MapHeader;                                           \
    extern const _KT_CUMAP g_CP##cp##_CUMap;                                                     \
    extern const _KT_UCMAP g_CP##cp##_UCMap;                                                     \
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
