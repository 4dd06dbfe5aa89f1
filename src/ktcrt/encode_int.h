// Tables of the built-in code pages, shared between the generated table sources and the
// conversion code.
#ifndef KTCRT_ENCODE_INT_H
#define KTCRT_ENCODE_INT_H

#include "kt_codepage.h"

#define KT_DECLARE_CODEPAGE_TABLES(cp)                                                           \
    extern const _KT_CPMAPHEADER g_CP##cp##_MapHeader;                                           \
    extern const _KT_CUMAP g_CP##cp##_CUMap;                                                     \
    extern const _KT_UCMAP g_CP##cp##_UCMap;

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
