// Text conversion: UTF-8 both ways (one-shot and streaming), UTF-16LE, the locale character map
// and the growable buffers behind the codecs.
#include "kt_basic.h"
#include "ktcrt_testutil.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned> Bytes;
typedef std::vector<KT_UINT32> Units;

Bytes BytesOf(const CKT_ByteStringC &s)
{
    return Bytes(s.GetPtr(), s.GetPtr() + s.GetLength());
}

Units UnitsOf(const CKT_WideStringC &s)
{
    Units units;
    for (int i = 0; i < s.GetLength(); i++)
        units.push_back(static_cast<KT_UINT32>(s.GetPtr()[i]));
    return units;
}

CKT_ByteString ByteText(const Bytes &bytes)
{
    std::string raw(bytes.begin(), bytes.end());
    return CKT_ByteString(raw.data(), static_cast<int>(raw.size()));
}

TEST(UTF8, EncodeRows)
{
    struct Row
    {
        KT_UINT32 ch;
        Bytes expect;
    } rows[] = {
        {0x41, {0x41}},
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0xE9, {0xC3, 0xA9}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0x20AC, {0xE2, 0x82, 0xAC}},
        {0xD800, {0xED, 0xA0, 0x80}}, // surrogates are encoded like any value
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x1F600, {0xF0, 0x9F, 0x98, 0x80}},
        {0x200000, {0xF8, 0x88, 0x80, 0x80, 0x80}},
        {0x4000000, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}},
        {0x7FFFFFFF, {0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}},
        {0xFFFFFFFF, {}}, // negative: nothing
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.ch);
        wchar_t text[2] = {static_cast<wchar_t>(row.ch), 0};
        CKT_WideString wide(text, 1);
        EXPECT_EQ(row.expect, BytesOf(wide.UTF8Encode()));
        EXPECT_EQ(row.expect, BytesOf(KT_UTF8Encode(text, 1)));
        CKT_UTF8Encoder encoder;
        encoder.Input(text[0]);
        EXPECT_EQ(row.expect, BytesOf(encoder.GetResult()));
    }
}

TEST(UTF8, DecodeRows)
{
    struct Row
    {
        const char *name;
        Bytes input;
        Units expect;
    } rows[] = {
        {"e acute", {0xC3, 0xA9}, {0xE9}},
        {"emoji", {0xF0, 0x9F, 0x98, 0x80}, {0x1F600}},
        {"mixed", {0x41, 0xE2, 0x82, 0xAC, 0x42}, {0x41, 0x20AC, 0x42}},
        {"cut three-byte sequence then ASCII", {0xE2, 0x82, 0x41}, {0x41}},
        {"stray continuation ignored", {0x80, 0x41, 0xBF}, {0x41}},
        {"FE and FF ignored", {0xFE, 0x41, 0xFF}, {0x41}},
        {"FE inside a sequence keeps it pending", {0xC3, 0xFE, 0xA9}, {0xE9}},
        {"sequence cut by the end is dropped", {0x41, 0xF0, 0x9F, 0x98}, {0x41}},
        {"new lead byte abandons the pending one", {0xC3, 0xE2, 0x82, 0xAC}, {0x20AC}},
        {"overlong accepted as decoded", {0xC0, 0x80, 0xE0, 0x81, 0x81}, {0x0, 0x41}},
        {"surrogate accepted", {0xED, 0xA0, 0x80}, {0xD800}},
        {"five bytes", {0xF8, 0x88, 0x80, 0x80, 0x80}, {0x200000}},
        {"six bytes", {0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}, {0x7FFFFFFF}},
        {"zero byte is a character", {0x41, 0x00, 0x42}, {0x41, 0x0, 0x42}},
        {"long ASCII run",
         {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0xC3, 0xA9},
         {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0xE9}},
        {"only broken bytes", {0x80, 0xC3}, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ByteString bytes = ByteText(row.input);
        CKT_WideString decoded = bytes.UTF8Decode();
        EXPECT_EQ(row.expect, UnitsOf(decoded));
        CKT_WideString fromUTF8 = CKT_WideString::FromUTF8(bytes.GetCStr(), bytes.GetLength());
        EXPECT_EQ(row.expect, UnitsOf(fromUTF8));
        if (decoded.GetPtr()) {
            // Exact-size block even though fewer characters than bytes came out.
            EXPECT_EQ(decoded.GetLength(), BlockOf(decoded)->m_nAllocLength);
        } else {
            EXPECT_TRUE(row.expect.empty());
        }
        CKT_UTF8Decoder decoder;
        for (unsigned b : row.input)
            decoder.Input(static_cast<KT_BYTE>(b));
        EXPECT_EQ(row.expect, UnitsOf(decoder.GetResult()));
    }
}

// The one-shot conversions take shortcuts for whole sequences; on any input they must agree
// with the streaming codecs fed one unit at a time. Random inputs biased towards lead and
// continuation bytes reach the places where a shortcut hands over to the state machine.
TEST(UTF8, OneShotConversionsAgreeWithTheStreamingCodecs)
{
    const KT_BYTE pool[] = {0x00, 0x41, 0x7F, 0x80, 0x9F, 0xBF, 0xC0, 0xC3, 0xDF, 0xE0,
                            0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF7, 0xF8, 0xFB, 0xFC, 0xFD,
                            0xFE, 0xFF, 0xA9, 0x82, 0xAC, 0x98, 0x20, 0x61};
    KT_UINT32 seed = 2024;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int round = 0; round < 3000; round++) {
        std::string bytes;
        int len = static_cast<int>(next() % 40);
        for (int i = 0; i < len; i++)
            bytes += static_cast<char>(pool[next() % sizeof(pool)]);
        CKT_UTF8Decoder decoder;
        for (char b : bytes)
            decoder.Input(static_cast<KT_BYTE>(b));
        CKT_WideString oneShot =
            CKT_WideString::FromUTF8(bytes.data(), static_cast<int>(bytes.size()));
        ASSERT_EQ(UnitsOf(decoder.GetResult()), UnitsOf(oneShot)) << "round " << round;

        std::vector<wchar_t> wide;
        int wideLen = static_cast<int>(next() % 20);
        for (int i = 0; i < wideLen; i++) {
            KT_UINT32 kind = next() % 6;
            KT_UINT32 value = kind == 0   ? next() % 0x80
                              : kind == 1 ? 0x80 + next() % 0x780
                              : kind == 2 ? 0x800 + next() % 0xF800
                              : kind == 3 ? 0x10000 + next() % 0x100000
                                          : next() * 97u;
            wide.push_back(static_cast<wchar_t>(value));
        }
        CKT_UTF8Encoder encoder;
        for (wchar_t ch : wide)
            encoder.Input(ch);
        CKT_ByteString encoded = KT_UTF8Encode(CKT_WideStringC(wide.data(), wideLen));
        ASSERT_EQ(BytesOf(encoder.GetResult()), BytesOf(encoded)) << "round " << round;
        CKT_ByteStringL bound;
        KT_UTF8Encode(CKT_WideStringC(wide.data(), wideLen), bound, nullptr);
        ASSERT_EQ(BytesOf(encoded), BytesOf(bound)) << "round " << round;
        bound.Empty(nullptr);
    }
}

TEST(UTF8, DecoderKeepsStateAcrossInputsAndAppendChar)
{
    CKT_UTF8Decoder decoder;
    decoder.Input(0xF0);
    decoder.Input(0x9F);
    EXPECT_EQ(0, decoder.GetResult().GetLength());
    decoder.Input(0x98);
    decoder.Input(0x80);
    decoder.AppendChar('&');
    decoder.Input(0xC3);
    decoder.AppendChar(0x3C); // a character reference abandons the pending sequence
    decoder.Input(0xA9);
    EXPECT_EQ((Units{0x1F600, '&', 0x3C}), UnitsOf(decoder.GetResult()));
    CKT_WideStringL stored;
    decoder.GetResult(stored, nullptr);
    EXPECT_EQ(3, stored.GetLength());
    stored.Empty(nullptr);
    decoder.Clear();
    EXPECT_EQ(0, decoder.GetResult().GetLength());
}

TEST(UTF8, RoundTripOfMixedScriptText)
{
    const wchar_t *text = L"Zandro \u00e9t\u00e9 \u041f\u0440\u0438\u0432\u0435\u0442 "
                          L"\u4f60\u597d \U0001F600 \u0627\u0644\u0639\u0631\u0628\u064a\u0629";
    CKT_WideString wide(text);
    CKT_ByteString utf8 = wide.UTF8Encode();
    EXPECT_EQ(wide, utf8.UTF8Decode());
    // Written in one pass into a bounded block, then trimmed: exact size all the same.
    EXPECT_EQ(utf8.GetLength(), BlockOf(utf8)->m_nAllocLength);
    CKT_ByteStringL bound;
    KT_UTF8Encode(CKT_WideStringC(wide), bound, nullptr);
    EXPECT_TRUE(CKT_ByteStringC(utf8) == bound);
    bound.Empty(nullptr);
    EXPECT_EQ(wide, CKT_WideString::FromUTF8(utf8.GetCStr()));
    EXPECT_TRUE(CKT_WideString::FromUTF8(nullptr).IsEmpty());
    EXPECT_TRUE(CKT_WideString::FromUTF8("abc", 0).IsEmpty());
    EXPECT_EQ(L"ab", CKT_WideString::FromUTF8("ab\0cd", -1));
    EXPECT_TRUE(CKT_WideString().UTF8Encode().IsEmpty());
}

#ifndef NDEBUG
TEST(UTF8DeathTest, NullPointerToEncodeAsserts)
{
    EXPECT_DEATH(KT_UTF8Encode(static_cast<const wchar_t *>(nullptr), 3), "pwsStr != __null");
}
#endif

TEST(UTF16LE, EncodeAndDecode)
{
    CKT_WideString wide(L"A\u00e9\U0001F600");
    EXPECT_EQ((Bytes{0x41, 0, 0xE9, 0, 0x00, 0xF6, 0, 0}), BytesOf(wide.UTF16LE_Encode(true)));
    EXPECT_EQ((Bytes{0x41, 0, 0xE9, 0, 0x00, 0xF6}), BytesOf(wide.UTF16LE_Encode(false)));
    EXPECT_EQ((Bytes{0, 0}), BytesOf(CKT_WideString().UTF16LE_Encode(true)));
    EXPECT_EQ(nullptr, CKT_WideString().UTF16LE_Encode(false).GetPtr());

    const unsigned short units[] = {0x41, 0xD83D, 0xDE00, 0, 0x42};
    EXPECT_EQ((Units{0x41, 0xD83D, 0xDE00}), UnitsOf(CKT_WideString::FromUTF16LE(units)));
    EXPECT_EQ((Units{0x41, 0xD83D, 0xDE00, 0, 0x42}),
              UnitsOf(CKT_WideString::FromUTF16LE(units, 5)));
    EXPECT_TRUE(CKT_WideString::FromUTF16LE(nullptr).IsEmpty());
    EXPECT_TRUE(CKT_WideString::FromUTF16LE(units, 0).IsEmpty());
    EXPECT_EQ(3, CKT_WideString::WStringLength(units));
    EXPECT_EQ(0, CKT_WideString::WStringLength(nullptr));
}

// Switches the character-type locale for one test and restores it afterwards.
class LocaleTest : public ::testing::Test
{
protected:
    void TearDown() override { setlocale(LC_CTYPE, "C"); }
};

TEST_F(LocaleTest, DefaultMapFollowsTheLocale)
{
    ASSERT_NE(nullptr, setlocale(LC_CTYPE, "C"));
    struct Row
    {
        const char *locale;
        const wchar_t *wide;
        Bytes expect; // empty: the locale cannot encode the text
    } rows[] = {
        {"C", L"plain ascii", {'p', 'l', 'a', 'i', 'n', ' ', 'a', 's', 'c', 'i', 'i'}},
        {"C", L"a\u20acb", {}},
        {"C.UTF-8", L"\u00e9\u20ac", {0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
        {"C.UTF-8", L"", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.locale);
        if (!setlocale(LC_CTYPE, row.locale)) {
            ADD_FAILURE() << "locale not installed: " << row.locale;
            continue;
        }
        CKT_ByteString bytes = CKT_ByteString::FromUnicode(row.wide);
        EXPECT_EQ(row.expect, BytesOf(bytes));
        EXPECT_EQ(row.expect.empty(), bytes.GetPtr() == nullptr);
        EXPECT_EQ(row.expect, BytesOf(CKT_ByteString::FromUnicode(CKT_WideString(row.wide))));
        CKT_ByteString converted("old");
        converted.ConvertFrom(CKT_WideString(row.wide), nullptr);
        EXPECT_EQ(row.expect, BytesOf(converted));
        if (!row.expect.empty()) {
            CKT_ByteString back = ByteText(row.expect);
            EXPECT_EQ(CKT_WideString(row.wide),
                      CKT_WideString::FromLocal(back.GetCStr(), back.GetLength()));
            CKT_WideString wide;
            wide.ConvertFrom(back);
            EXPECT_EQ(CKT_WideString(row.wide), wide);
        }
    }
    // Bytes the locale cannot read give the empty string as well.
    setlocale(LC_CTYPE, "C.UTF-8");
    EXPECT_TRUE(CKT_WideString::FromLocal("\xff\xfe", -1).IsEmpty());
}

CKT_WideString UpperMap_GetWide(CKT_CharMap *, const CKT_ByteString &bstr)
{
    CKT_WideString result = bstr.UTF8Decode();
    result.MakeUpper();
    return result;
}

CKT_ByteString UpperMap_GetBytes(CKT_CharMap *, const CKT_WideString &wstr)
{
    CKT_ByteString result = wstr.UTF8Encode();
    result.MakeUpper();
    return result;
}

TEST(CharMap, DefaultMapperLookupAndCallerMaps)
{
    CKT_CharMap *pDefault = CKT_CharMap::GetDefaultMapper(0);
    ASSERT_NE(nullptr, pDefault);
    EXPECT_EQ(pDefault, CKT_CharMap::GetDefaultMapper());
    ASSERT_NE(nullptr, pDefault->m_GetCodePage);
    EXPECT_EQ(0, pDefault->m_GetCodePage());
    EXPECT_EQ(0, KTSYS_GetACP());
    EXPECT_EQ(nullptr, CKT_CharMap::GetDefaultMapper(65001));
    EXPECT_EQ(nullptr, CKT_CharMap::GetDefaultMapper(1249));
    EXPECT_EQ(nullptr, CKT_CharMap::GetDefaultMapper(-1));

    CKT_CharMap upper = {UpperMap_GetWide, UpperMap_GetBytes, nullptr};
    CKT_ByteString bytes;
    bytes.ConvertFrom(CKT_WideString(L"abc\u00e9"), &upper);
    EXPECT_EQ((Bytes{'A', 'B', 'C', 0xC3, 0xA9}), BytesOf(bytes));
    CKT_WideString wide;
    wide.ConvertFrom(CKT_ByteString("xyz"), &upper);
    EXPECT_EQ(L"XYZ", wide);
}

TEST(Buffers, GrowthRoundsUpToTheStep)
{
    struct Row
    {
        const char *name;
        size_t step;
        std::vector<size_t> appends;
        size_t expectCapacity;
    } rows[] = {
        {"first byte takes 128", 0, {1}, 128},
        {"129 bytes: quarter of 128 is below 128", 0, {128, 1}, 256},
        {"past 1024: a quarter of the capacity", 0, {1024, 1}, 1280},
        {"configured step", 10, {15}, 20},
        {"configured step exact multiple", 10, {20}, 20},
        {"configured step again", 10, {20, 1}, 30},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_BinaryBuf buf;
        buf.SetAllocStep(row.step);
        size_t total = 0;
        for (size_t n : row.appends) {
            if (total == 0 && n == 1024) {
                ASSERT_TRUE(buf.EstimateSize(1024));
            }
            std::string data(n, 'x');
            ASSERT_TRUE(buf.AppendBlock(data.data(), n));
            total += n;
        }
        EXPECT_EQ(total, buf.GetSize());
        EXPECT_EQ(row.expectCapacity, buf.GetAllocSize());
    }
}

TEST(Buffers, ABufferMayTakeBytesFromItself)
{
    // The source lies inside the buffer: growing it moves the bytes, and inserting shifts
    // them, before they are copied.
    struct Row
    {
        const char *name;
        size_t reserve; // capacity made beforehand; 0: exactly full
        size_t pos;     // where the copy goes; SIZE_MAX appends
        size_t from;
        size_t count;
        const char *expect;
    } rows[] = {
        {"append all, buffer full", 0, SIZE_MAX, 0, 6, "abcdefabcdef"},
        {"append all, room left", 64, SIZE_MAX, 0, 6, "abcdefabcdef"},
        {"append the tail, buffer full", 0, SIZE_MAX, 4, 2, "abcdefef"},
        {"insert all at the front", 0, 0, 0, 6, "abcdefabcdef"},
        {"insert the middle at 1, room left", 64, 1, 2, 3, "acdebcdef"},
        {"insert across the point", 64, 3, 1, 4, "abcbcdedef"},
        {"insert the tail before it", 0, 2, 4, 2, "abefcdef"},
        {"insert all at the end", 0, 6, 0, 6, "abcdefabcdef"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ByteTextBuf buf;
        buf.SetAllocStep(1);
        if (row.reserve) {
            ASSERT_TRUE(buf.EstimateSize(row.reserve));
        }
        ASSERT_TRUE(buf.AppendBlock("abcdef", 6));
        ASSERT_EQ(row.reserve ? row.reserve : 6u, buf.GetAllocSize());
        const KT_BYTE *source = buf.GetBuffer() + row.from;
        if (row.pos == SIZE_MAX) {
            ASSERT_TRUE(buf.AppendBlock(source, row.count));
        } else {
            ASSERT_TRUE(buf.InsertBlock(row.pos, source, row.count));
        }
        EXPECT_EQ(row.expect, std::string(reinterpret_cast<const char *>(buf.GetBuffer()),
                                          buf.GetSize()));
    }
    // The case from the review: a text buffer streamed into itself.
    CKT_ByteTextBuf text;
    text << "abc";
    text << text.GetByteString() << text.GetByteString();
    EXPECT_TRUE(text.GetByteString() == CKT_ByteStringC("abcabcabcabc"));
}

TEST(Buffers, TextBuffersAndByteStringAssignment)
{
    CKT_WideTextBuf wide;
    wide << L"n=" << -12 << CKT_WideString(L"!");
    wide.AppendChar(L'\u00e9');
    EXPECT_EQ(L"n=-12!\u00e9", CKT_WideString(wide.GetWideString()));
    wide.Delete(0, 2);
    EXPECT_EQ(5, wide.GetLength());

    CKT_ByteTextBuf text;
    text << "v" << 3 << "." << 25u << " " << 1.5;
    EXPECT_TRUE(text.GetByteString() == CKT_ByteStringC("v3.25 1.5"));
    ASSERT_TRUE(text.InsertBlock(1, "=", 1));
    text.Delete(0, 1);
    EXPECT_TRUE(text.GetByteString() == CKT_ByteStringC("=3.25 1.5"));

    CKT_ByteString assigned;
    assigned = text;
    EXPECT_EQ("=3.25 1.5", assigned);
    text.Clear();
    assigned = text;
    EXPECT_EQ(nullptr, assigned.GetPtr());

    KT_BYTE *detached = wide.DetachBuffer();
    EXPECT_EQ(0u, wide.GetSize());
    KT_AllocatorFree(nullptr, detached);
}

} // namespace
