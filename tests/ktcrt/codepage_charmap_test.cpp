// The table-driven character maps behind the strings' conversions.
#include "kt_basic.h"

#include <gtest/gtest.h>

namespace {

TEST(CodePageCharMap, EveryTableDrivenCodePageHasItsMap)
{
    for (int nCodePage :
         {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        SCOPED_TRACE(nCodePage);
        CKT_CharMap *pMap = CKT_CharMap::GetDefaultMapper(nCodePage);
        ASSERT_NE(nullptr, pMap);
        ASSERT_NE(nullptr, pMap->m_GetCodePage);
        EXPECT_EQ(nCodePage, pMap->m_GetCodePage());
        EXPECT_EQ(&_CRTMap_GetWideString, pMap->m_GetWideString);
        EXPECT_EQ(&_CRTMap_GetByteString, pMap->m_GetByteString);
    }
    for (int nCodePage : {1, 437, 1200, 65001}) {
        SCOPED_TRACE(nCodePage);
        EXPECT_EQ(nullptr, CKT_CharMap::GetDefaultMapper(nCodePage));
    }
}

TEST(CodePageCharMap, ConvertsWholeStrings)
{
    struct Row
    {
        int nCodePage;
        const char *bytes;
        const wchar_t *wide;
    };
    const Row rows[] = {
        {936, "GBK \xD6\xD0\xCE\xC4", L"GBK \x4E2D\x6587"},
        {932, "\x82\xA0\x82\xA2", L"\x3042\x3044"},
        {1252, "\x80 caf\xE9", L"\x20AC caf\xE9"},
        {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", L"\x041F\x0440\x0438\x0432\x0435\x0442"},
        {950, "\xA4\xA4\xA4\xE5", L"\x4E2D\x6587"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.nCodePage);
        CKT_CharMap *pMap = CKT_CharMap::GetDefaultMapper(r.nCodePage);
        ASSERT_NE(nullptr, pMap);
        CKT_WideString wide;
        wide.ConvertFrom(CKT_ByteString(r.bytes), pMap);
        EXPECT_TRUE(wide == r.wide);
        CKT_ByteString bytes;
        bytes.ConvertFrom(CKT_WideString(r.wide), pMap);
        EXPECT_TRUE(bytes == r.bytes);
    }
}

TEST(CodePageCharMap, UnmappableCharactersBecomeTheDefaultAndEmptyStaysEmpty)
{
    CKT_CharMap *p1252 = CKT_CharMap::GetDefaultMapper(1252);
    CKT_CharMap *p936 = CKT_CharMap::GetDefaultMapper(936);
    CKT_ByteString bytes = p1252->m_GetByteString(p1252, CKT_WideString(L"a\x4E2D"
                                                                        L"b"));
    EXPECT_TRUE(bytes == "a?b");
    CKT_WideString wide = p1252->m_GetWideString(p1252, CKT_ByteString("\x81x"));
    EXPECT_TRUE(wide == L"?x");
    // A lead byte at the very end has no character.
    wide = p936->m_GetWideString(p936, CKT_ByteString("A\xD6"));
    EXPECT_TRUE(wide == L"A");
    EXPECT_EQ(0, p936->m_GetWideString(p936, CKT_ByteString()).GetLength());
    EXPECT_EQ(0, p936->m_GetByteString(p936, CKT_WideString()).GetLength());
    // A map whose code page the tables do not know converts to nothing.
    CKT_CharMap foreign = {_CRTMap_GetWideString, _CRTMap_GetByteString, nullptr};
    EXPECT_EQ(0, _CRTMap_GetWideString(&foreign, CKT_ByteString("abc")).GetLength());
    EXPECT_EQ(0, _CRTMap_GetByteString(&foreign, CKT_WideString(L"abc")).GetLength());
}

} // namespace
