// The character maps of the table-driven code pages, found through
// CKT_CharMap::GetDefaultMapper: each converts whole strings with the code page's tables.
#include "kt_codepage.h"

#include "kt_basic_string.h"
#include "kt_basic_utf.h"

namespace {

int MapCodePage(CKT_CharMap *pMap)
{
    return pMap && pMap->m_GetCodePage ? pMap->m_GetCodePage() : -1;
}

} // namespace

// Wide text of the byte string in the map's code page; any failure gives the empty string.
CKT_WideString _CRTMap_GetWideString(CKT_CharMap *pMap, const CKT_ByteString &bstr)
{
    const int nCodePage = MapCodePage(pMap);
    int nSrcLen = bstr.GetLength();
    int nDstLen = 0;
    if (KT_DecodeString(nCodePage, bstr.GetCStr(), &nSrcLen, nullptr, &nDstLen, false) != 1 ||
        nDstLen <= 0)
        return CKT_WideString();
    CKT_WideString result;
    wchar_t *pBuf = result.GetBuffer(nDstLen);
    if (pBuf == nullptr)
        return CKT_WideString();
    const int nSize = nDstLen;
    nSrcLen = bstr.GetLength();
    if (KT_DecodeString(nCodePage, bstr.GetCStr(), &nSrcLen, pBuf, &nDstLen, false) != 1 ||
        nDstLen > nSize)
        return CKT_WideString();
    result.ReleaseBuffer(nDstLen);
    return result;
}

// Bytes of the wide string in the map's code page; any failure gives the empty string.
CKT_ByteString _CRTMap_GetByteString(CKT_CharMap *pMap, const CKT_WideString &wstr)
{
    const int nCodePage = MapCodePage(pMap);
    int nSrcLen = wstr.GetLength();
    int nDstLen = 0;
    if (KT_EncodeString(nCodePage, wstr.GetCStr(), &nSrcLen, nullptr, &nDstLen, false) != 1 ||
        nDstLen <= 0)
        return CKT_ByteString();
    CKT_ByteString result;
    char *pBuf = result.GetBuffer(nDstLen);
    if (pBuf == nullptr)
        return CKT_ByteString();
    const int nSize = nDstLen;
    nSrcLen = wstr.GetLength();
    if (KT_EncodeString(nCodePage, wstr.GetCStr(), &nSrcLen, pBuf, &nDstLen, false) != 1 ||
        nDstLen > nSize)
        return CKT_ByteString();
    result.ReleaseBuffer(nDstLen);
    return result;
}

#define KT_DEFINE_CODEPAGE_MAPPER(cp)                                                              \
    int _CRTMap_GetCP##cp##CodePage()                                                              \
    {                                                                                              \
        return cp;                                                                                 \
    }                                                                                              \
    CKT_CharMap g_DefaultCP##cp##Mapper = {_CRTMap_GetWideString, _CRTMap_GetByteString,           \
                                           _CRTMap_GetCP##cp##CodePage};

KT_DEFINE_CODEPAGE_MAPPER(874)
KT_DEFINE_CODEPAGE_MAPPER(932)
KT_DEFINE_CODEPAGE_MAPPER(936)
KT_DEFINE_CODEPAGE_MAPPER(949)
KT_DEFINE_CODEPAGE_MAPPER(950)
KT_DEFINE_CODEPAGE_MAPPER(1250)
KT_DEFINE_CODEPAGE_MAPPER(1251)
KT_DEFINE_CODEPAGE_MAPPER(1252)
KT_DEFINE_CODEPAGE_MAPPER(1253)
KT_DEFINE_CODEPAGE_MAPPER(1254)
KT_DEFINE_CODEPAGE_MAPPER(1255)
KT_DEFINE_CODEPAGE_MAPPER(1256)
KT_DEFINE_CODEPAGE_MAPPER(1257)
KT_DEFINE_CODEPAGE_MAPPER(1258)

#undef KT_DEFINE_CODEPAGE_MAPPER

CKT_CharMap *KT_GetCodePageCharMap(int codepage)
{
    switch (codepage) {
    case 874:
        return &g_DefaultCP874Mapper;
    case 932:
        return &g_DefaultCP932Mapper;
    case 936:
        return &g_DefaultCP936Mapper;
    case 949:
        return &g_DefaultCP949Mapper;
    case 950:
        return &g_DefaultCP950Mapper;
    case 1250:
        return &g_DefaultCP1250Mapper;
    case 1251:
        return &g_DefaultCP1251Mapper;
    case 1252:
        return &g_DefaultCP1252Mapper;
    case 1253:
        return &g_DefaultCP1253Mapper;
    case 1254:
        return &g_DefaultCP1254Mapper;
    case 1255:
        return &g_DefaultCP1255Mapper;
    case 1256:
        return &g_DefaultCP1256Mapper;
    case 1257:
        return &g_DefaultCP1257Mapper;
    case 1258:
        return &g_DefaultCP1258Mapper;
    default:
        return nullptr;
    }
}
