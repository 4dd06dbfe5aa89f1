// Code page records and objects, character-set tables and character-set names.
#include "kt_codepage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(CodePageNames, KnownNamesAndAliases)
{
    struct Row
    {
        const char *name;
        int nLen;
        int nCodePage;
    };
    const Row rows[] = {
        {"UTF-8", -1, 65001},
        {"utf-8", -1, 65001},
        {"utf-16", -1, 1200},
        {"Unicode", -1, 1200},
        {"ISO-8859-1", -1, 1252},
        {"latin1", -1, 1252},
        {"us-ascii", -1, 1252},
        {"ASCII", -1, 1252},
        {"windows-1252", -1, 1252},
        {"gb2312", -1, 936},
        {"GBK", -1, 936},
        {"big5", -1, 950},
        {"euc-kr", -1, 949},
        {"ks_c_5601-1987", -1, 949},
        {"iso-2022-jp", -1, 932},
        {"Shift_JIS", -1, 932},
        {"euc-jp", -1, 51932},
        {"koi8-r", -1, 20866},
        {"ibm437", -1, 437},
        {"windows-874", -1, 874},
        {"utf-8 trailing text", 5, 65001}, // only the given length counts
        {"utf-8", 0, -1},
        {"", -1, -1},
        {"no-such-charset", -1, -1},
        {"utf-9", -1, -1},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.nCodePage, KT_GetCodePageFromStringA(r.name, r.nLen));
        // The wide form narrows each character to its low byte.
        std::wstring wide;
        for (const char *p = r.name; *p; ++p)
            wide += static_cast<wchar_t>(0x4100 | static_cast<unsigned char>(*p));
        EXPECT_EQ(r.nCodePage, KT_GetCodePageFormStringW(wide.c_str(), r.nLen));
    }
}

TEST(CodePageNames, HashTableIsSortedAndUnambiguous)
{
    std::set<uint32_t> codePages;
    for (int i = 0; i < 255; ++i) {
        if (i > 0) {
            // Strictly ascending: one code page per hash, so no two names can disagree.
            EXPECT_LT(g_KTCPHashTable[i - 1].nHash, g_KTCPHashTable[i].nHash) << i;
        }
        codePages.insert(g_KTCPHashTable[i].nCodePage);
    }
    EXPECT_EQ(117u, codePages.size());
}

TEST(CodePageNames, HashFunctions)
{
    EXPECT_EQ(96354u, KT_HashCode_String_GetA("abc", -1, false));
    EXPECT_EQ(KT_HashCode_String_GetA("abc", -1, false), KT_HashCode_String_GetA("ABC", 3, true));
    EXPECT_NE(KT_HashCode_String_GetA("abc", -1, false), KT_HashCode_String_GetA("ABC", 3, false));
    EXPECT_EQ(97u, KT_HashCode_String_GetA("abc", 1, false));
    // Bytes count as signed chars.
    EXPECT_EQ(0xFFFFFFE9u, KT_HashCode_String_GetA("\xE9", -1, false));
    EXPECT_EQ(0u, KT_HashCode_String_GetA("", -1, true));
    EXPECT_EQ(97u * 1313u + 98u, KT_HashCode_String_GetW(L"ab", -1, false));
    EXPECT_EQ(KT_HashCode_String_GetW(L"ab", -1, false), KT_HashCode_String_GetW(L"AB", 2, true));
    EXPECT_EQ(0x4E2Du, KT_HashCode_String_GetW(L"\x4E2D", -1, true));
}

TEST(CodePageCharsets, BothDirections)
{
    EXPECT_EQ(936, KT_GetCodePageFromCharset(134));
    EXPECT_EQ(1252, KT_GetCodePageFromCharset(0));
    EXPECT_EQ(850, KT_GetCodePageFromCharset(255));
    EXPECT_EQ(-1, KT_GetCodePageFromCharset(3));
    EXPECT_EQ(-1, KT_GetCodePageFromCharset(256));
    EXPECT_EQ(89, KT_GetCharsetFromCodePage(10007));
    EXPECT_EQ(88, KT_GetCharsetFromCodePage(10029));
    EXPECT_EQ(1, KT_GetCharsetFromCodePage(0));
    EXPECT_EQ(-1, KT_GetCharsetFromCodePage(1200));
    EXPECT_EQ(-1, KT_GetCharsetFromCodePage(65001));
    // Every pair is found from both sides.
    for (int i = 0; i < 31; ++i) {
        const _KT_CHARSETCODEPAGE &byCharset = g_KTCharset2CodePageTable[i];
        EXPECT_EQ(byCharset.wCodePage, KT_GetCodePageFromCharset(byCharset.wCharset));
        const _KT_CHARSETCODEPAGE &byCodePage = g_KTCodepage2CharsetTable[i];
        EXPECT_EQ(byCodePage.wCharset, KT_GetCharsetFromCodePage(byCodePage.wCodePage));
        EXPECT_EQ(byCodePage.wCodePage, KT_GetCodePageFromCharset(byCodePage.wCharset));
        if (i > 0) {
            EXPECT_LT(g_KTCharset2CodePageTable[i - 1].wCharset, byCharset.wCharset);
            EXPECT_LT(g_KTCodepage2CharsetTable[i - 1].wCodePage, byCodePage.wCodePage);
        }
    }
}

TEST(CodePageObjects, HeadersOfEveryBuiltInCodePage)
{
    struct Row
    {
        int nCodePage;
        int nType;
        int nMaxBytes;
        int nMaxCharcode;
        int nMaxUnicode;
    };
    const Row rows[] = {
        {874, 1, 1, 251, 8364},    {932, 2, 2, 64587, 65509}, {936, 2, 2, 65103, 65509},
        {949, 2, 2, 65022, 65510}, {950, 2, 2, 63998, 65509}, {1250, 1, 1, 255, 8482},
        {1251, 1, 1, 255, 8482},   {1252, 1, 1, 255, 8482},   {1253, 1, 1, 254, 8482},
        {1254, 1, 1, 255, 8482},   {1255, 1, 1, 254, 8482},   {1256, 1, 1, 255, 8482},
        {1257, 1, 1, 255, 8482},   {1258, 1, 1, 255, 8482},
    };
    IKT_CodePageMgr *pMgr = IKT_CodePageMgr::Create();
    ASSERT_NE(nullptr, pMgr);
    EXPECT_EQ(1252, pMgr->GetDefaultCodePage());
    int nPrevious = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.nCodePage);
        const _KT_CODEPAGE *pRecord = KT_GetCodePage(r.nCodePage);
        ASSERT_NE(nullptr, pRecord);
        EXPECT_EQ(r.nCodePage, pRecord->pHeader->wCodePage);
        EXPECT_LT(nPrevious, r.nCodePage);
        nPrevious = r.nCodePage;
        EXPECT_TRUE(pMgr->IsValidCodePage(r.nCodePage));
        IKT_CodePage *pCP = pMgr->CreateCodePage(r.nCodePage);
        ASSERT_NE(nullptr, pCP);
        EXPECT_EQ(r.nCodePage, pCP->GetCodePageNumber());
        EXPECT_EQ(r.nType, pCP->GetCodeSystemType());
        EXPECT_EQ(r.nType == 2, pCP->HasLeadByte());
        EXPECT_EQ(1, pCP->GetMinBytesPerChar());
        EXPECT_EQ(r.nMaxBytes, pCP->GetMaxBytesPerChar());
        EXPECT_EQ(0, pCP->GetMinCharcode());
        EXPECT_EQ(r.nMaxCharcode, pCP->GetMaxCharcode());
        EXPECT_EQ(63, pCP->GetDefCharcode());
        EXPECT_EQ(0, pCP->GetMinUnicode());
        EXPECT_EQ(r.nMaxUnicode, pCP->GetMaxUnicode());
        EXPECT_EQ(63, pCP->GetDefUnicode());
        EXPECT_TRUE(pCP->IsValidCharcode('A'));
        EXPECT_EQ(L'A', pCP->GetUnicode('A'));
        EXPECT_EQ('A', pCP->GetCharcode(L'A'));
        pCP->Release();
    }
    for (int nCodePage : {0, 437, 1200, 1201, 65001, 28591}) {
        SCOPED_TRACE(nCodePage);
        EXPECT_EQ(nullptr, KT_GetCodePage(nCodePage));
        EXPECT_FALSE(pMgr->IsValidCodePage(nCodePage));
        EXPECT_EQ(nullptr, pMgr->CreateCodePage(nCodePage));
        EXPECT_EQ(nullptr, IKT_CodePage::Create(nCodePage));
    }
    pMgr->Release();
}

TEST(CodePageObjects, LookupsInBothDirections)
{
    IKT_CodePage *p936 = IKT_CodePage::Create(936);
    IKT_CodePage *p1252 = IKT_CodePage::Create(1252);
    ASSERT_NE(nullptr, p936);
    ASSERT_NE(nullptr, p1252);
    struct Row
    {
        IKT_CodePage *pCP;
        uint16_t wCode;
        wchar_t wUnicode; // 0xFEFF: no mapping
    };
    const Row rows[] = {
        {p936, 0xD6D0, 0x4E2D}, {p936, 0xB0A1, 0x554A}, {p936, 0x80, 0x20AC},
        {p936, 0xD6, 0xFEFF},   // a lead byte alone
        {p936, 0xFF, 0xFEFF},   // undefined single byte
        {p936, 0xFE50, 0xFEFF}, // above the maximum character code
        {p936, 0x4142, 0x41},   // high byte is no lead byte: its single-byte value
        {p1252, 0x80, 0x20AC},  {p1252, 0x81, 0xFEFF},  {p1252, 0x100, 0xFEFF},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.wCode);
        EXPECT_EQ(r.wUnicode, r.pCP->GetUnicode(r.wCode));
        EXPECT_EQ(r.wUnicode != 0xFEFF, r.pCP->IsValidCharcode(r.wCode));
    }
    EXPECT_TRUE(p936->IsLeadByte(0x81));
    EXPECT_TRUE(p936->IsLeadByte(0xFE));
    EXPECT_FALSE(p936->IsLeadByte(0x80));
    EXPECT_FALSE(p1252->IsLeadByte(0x81));

    EXPECT_EQ(0xD6D0, p936->GetCharcode(0x4E2D));
    EXPECT_EQ(0x80, p936->GetCharcode(0x20AC));
    EXPECT_EQ(0x80, p1252->GetCharcode(0x20AC));
    EXPECT_TRUE(p1252->IsValidUnicode(0x20AC));
    // Characters in no range give 0xFFFF and are not valid.
    EXPECT_EQ(0xFFFF, p1252->GetCharcode(0x4E2D));
    EXPECT_EQ(0xFFFF, p1252->GetCharcode(0x10000));
    EXPECT_FALSE(p1252->IsValidUnicode(0x4E2D));
    EXPECT_FALSE(p1252->IsValidUnicode(0x81));
    p936->Release();
    p1252->Release();
}

} // namespace

#ifndef NDEBUG
// Forbidden nulls are programming errors, stopped by an assertion naming the condition.
TEST(CodePageDeathTest, NullArgumentsAreAsserted)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int nLen = 1;
    EXPECT_DEATH(KT_IsUTF8Data(nullptr, &nLen), "pData != __null && pLen != __null");
    const unsigned char byte = 'a';
    EXPECT_DEATH(KT_IsUTF8Data(&byte, nullptr), "pData != __null && pLen != __null");
    EXPECT_DEATH(KT_GetCodePageFromStringA(nullptr, 3), "pStr != __null");
    EXPECT_DEATH(KT_GetCodePageFormStringW(nullptr, 3), "pStr != __null");
    unsigned short units[1] = {0};
    EXPECT_DEATH(KT_SwapByteOrder(units, 0), "nLen > 0");
    EXPECT_DEATH(KT_UTF16ToWCharCopy(nullptr, nullptr, 1), "__null");
}
#endif
