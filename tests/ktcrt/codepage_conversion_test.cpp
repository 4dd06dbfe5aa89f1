// Buffer conversions between wide text and the built-in code pages, UTF-8 and UTF-16.
#include "kt_codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kStop = 1;
const int kDefault = 0;

struct DecodeCase
{
    const char *what;
    int nCodePage;
    std::string bytes;
    int bStop;
    int nResult;
    int nConsumed;
    std::wstring expected;
};

TEST(CodePageDecode, TableOfCases)
{
    const DecodeCase cases[] = {
        {"1252 euro", 1252, "\x80", kDefault, 1, 1, L"\x20AC"},
        {"1252 undefined byte", 1252, "\x81", kDefault, 1, 1, L"?"},
        {"1252 undefined byte, stop", 1252,
         "A\x81"
         "B",
         kStop, 0, 1, L"A"},
        {"1252 latin letters", 1252, "caf\xE9", kStop, 1, 4, L"caf\xE9"},
        {"936 B0A1", 936, "\xB0\xA1", kStop, 1, 2, L"\x554A"},
        {"936 D6D0", 936, "\xD6\xD0", kStop, 1, 2, L"\x4E2D"},
        {"936 single-byte euro", 936, "\x80", kStop, 1, 1, L"\x20AC"},
        {"936 mixed", 936,
         "a\xD6\xD0"
         "b",
         kStop, 1, 4,
         L"a\x4E2D"
         L"b"},
        {"936 undefined single byte", 936, "\xFF", kDefault, 1, 1, L"?"},
        {"936 trailing lead byte", 936, "A\xD6", kStop, 1, 1, L"A"},
        {"936 pair then trailing lead", 936, "\xD6\xD0\xB0", kDefault, 1, 2, L"\x4E2D"},
        {"932 82A0", 932, "\x82\xA0", kStop, 1, 2, L"\x3042"},
        // Runs of pairs, single bytes and pairs outside the fast paths, in every order.
        {"936 unmapped pair inside a run", 936, "\xD6\xD0\xA1\x40\xD6\xD0", kDefault, 1, 6,
         L"\x4E2D?\x4E2D"},
        {"936 unmapped pair inside a run, stop", 936, "\xD6\xD0\xA1\x40\xD6\xD0", kStop, 0, 2,
         L"\x4E2D"},
        {"936 unmapped single byte after pairs, stop", 936,
         "\xD6\xD0\xFF"
         "A",
         kStop, 0, 2, L"\x4E2D"},
        {"932 kana, katakana, ASCII, kanji outside the lead block", 932,
         "\x82\xA0\xB1"
         "A\xE0\x40\xFA\x40\x82\xA2",
         kStop, 1, 10,
         L"\x3042\xFF71"
         L"A\x6F3E\x2170\x3044"},
        {"932 half-width katakana", 932, "\xB1", kStop, 1, 1, L"\xFF71"},
        {"932 bad trail takes both bytes", 932,
         "\x82\x20"
         "A",
         kDefault, 1, 3, L"?A"},
        {"932 bad trail, stop", 932, "A\x82\x20", kStop, 0, 1, L"A"},
        {"932 user-defined area unmapped", 932, "\xF0\x40", kStop, 0, 0, L""},
        {"932 user-defined area default", 932, "\xF9\xFC", kDefault, 1, 2, L"?"},
        {"950 before the extension area", 950, "\xC6\x7E", kStop, 1, 2, L"\x7C72"},
        {"950 extension area unmapped", 950, "\xC6\xA1", kStop, 0, 0, L""},
        {"950 lead byte C7 unmapped", 950, "\xC7\x40", kStop, 0, 0, L""},
        {"950 last code", 950, "\xF9\xFE", kStop, 1, 2, L"\x2593"},
        {"874 undefined tail", 874, "\xFC", kStop, 0, 0, L""},
        {"utf-8 stray continuation", 65001, "\x41\x80\x42", kDefault, 1, 1, L"A"},
        {"utf-8 stray continuation, stop", 65001, "\x41\x80\x42", kStop, 0, 1, L"A"},
        {"utf-8 two bytes", 65001, "\xC3\xA9", kStop, 1, 2, L"\xE9"},
        {"utf-16le with a pair", 1200, std::string("A\0\x3D\xD8\x00\xDE", 6), kStop, 1, 6,
         L"A\x1F600"},
        {"utf-16be", 1201, std::string("\0A\0B", 4), kStop, 1, 4, L"AB"},
        {"utf-16le odd trailing byte", 1200, std::string("A\0B", 3), kStop, 1, 2, L"A"},
        {"utf-16le high surrogate at the end", 1200, std::string("A\0\x3D\xD8", 4), kStop, 1, 2,
         L"A"},
        {"utf-16le lone low surrogate", 1200, std::string("\x00\xDC", 2), kStop, 1, 2, L"\xDC00"},
    };
    for (const DecodeCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<wchar_t> out(16, L'#');
        int nSrc = static_cast<int>(c.bytes.size());
        int nDst = static_cast<int>(out.size());
        EXPECT_EQ(c.nResult,
                  KT_DecodeString(c.nCodePage, c.bytes.data(), &nSrc, out.data(), &nDst, c.bStop));
        EXPECT_EQ(c.nConsumed, nSrc);
        EXPECT_EQ(c.expected, std::wstring(out.data(), nDst));
        // The sizing pass agrees on both counts.
        int nSizeSrc = static_cast<int>(c.bytes.size());
        int nSize = 0;
        EXPECT_EQ(c.nResult, KT_DecodeString(c.nCodePage, c.bytes.data(), &nSizeSrc, nullptr,
                                             &nSize, c.bStop));
        EXPECT_EQ(c.nConsumed, nSizeSrc);
        EXPECT_EQ(static_cast<int>(c.expected.size()), nSize);
    }
}

struct EncodeCase
{
    const char *what;
    int nCodePage;
    std::wstring text;
    int bStop;
    int nResult;
    int nConsumed;
    std::string expected;
};

TEST(CodePageEncode, TableOfCases)
{
    const EncodeCase cases[] = {
        {"1252 euro", 1252, L"\x20AC", kStop, 1, 1, "\x80"},
        {"1252 han default", 1252,
         L"a\x4E2D"
         L"b",
         kDefault, 1, 3, "a?b"},
        {"1252 han, stop", 1252,
         L"a\x4E2D"
         L"b",
         kStop, 0, 1, "a"},
        {"1252 beyond the header's Unicode range", 1252, L"\x10000", kDefault, 1, 1, "?"},
        {"1252 negative character", 1252, std::wstring(1, static_cast<wchar_t>(-5)), kStop, 0, 0,
         ""},
        {"1252 no-mapping marker", 1252, L"\xFEFF", kStop, 0, 0, ""},
        {"936 D6D0", 936, L"\x4E2D", kStop, 1, 1, "\xD6\xD0"},
        {"936 euro", 936, L"\x20AC", kStop, 1, 1, "\x80"},
        {"932 hiragana", 932, L"\x3042", kStop, 1, 1, "\x82\xA0"},
        {"932 private use unmapped", 932, L"\xE000", kStop, 0, 0, ""},
        {"949 hangul", 949, L"\xAC00", kStop, 1, 1, "\xB0\xA1"},
        {"950 first hanzi", 950, L"\x4E00", kStop, 1, 1, "\xA4\x40"},
        {"utf-8 up to four bytes", 65001, L"A\xE9\x20AC\x1F600", kStop, 1, 4,
         "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"utf-16le pair", 1200, L"A\x1F600", kStop, 1, 2, std::string("A\0\x3D\xD8\x00\xDE", 6)},
        {"utf-16be", 1201, L"AB", kStop, 1, 2, std::string("\0A\0B", 4)},
        {"utf-16 beyond U+10FFFF, stop", 1200, L"A\x110000", kStop, 0, 1, std::string("A\0", 2)},
        {"utf-16 beyond U+10FFFF, default", 1201, L"\x110000", kDefault, 1, 1,
         std::string("\0?", 2)},
    };
    for (const EncodeCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> out(32, '#');
        int nSrc = static_cast<int>(c.text.size());
        int nDst = static_cast<int>(out.size());
        EXPECT_EQ(c.nResult,
                  KT_EncodeString(c.nCodePage, c.text.data(), &nSrc, out.data(), &nDst, c.bStop));
        EXPECT_EQ(c.nConsumed, nSrc);
        EXPECT_EQ(c.expected, std::string(out.data(), nDst));
        int nSizeSrc = static_cast<int>(c.text.size());
        int nSize = -1;
        EXPECT_EQ(c.nResult, KT_EncodeString(c.nCodePage, c.text.data(), &nSizeSrc, out.data(),
                                             &nSize, c.bStop));
        EXPECT_EQ(c.nConsumed, nSizeSrc);
        EXPECT_EQ(static_cast<int>(c.expected.size()), nSize);
    }
}

TEST(CodePageConversion, BadArgumentsAndEmptyInput)
{
    const char bytes[] = "abc";
    const wchar_t text[] = L"abc";
    wchar_t wout[4];
    char out[4];
    for (int nCodePage : {1252, 936, 65001, 1200}) {
        SCOPED_TRACE(nCodePage);
        int nDst = 4;
        EXPECT_EQ(-1, KT_DecodeString(nCodePage, bytes, nullptr, wout, &nDst, false));
        int nSrc = 3;
        EXPECT_EQ(-1, KT_EncodeString(nCodePage, text, &nSrc, out, nullptr, false));
        nSrc = 0;
        nDst = 4;
        EXPECT_EQ(1, KT_DecodeString(nCodePage, bytes, &nSrc, wout, &nDst, false));
        EXPECT_EQ(0, nSrc);
        EXPECT_EQ(0, nDst);
        nSrc = -2;
        nDst = 4;
        EXPECT_EQ(1, KT_EncodeString(nCodePage, text, &nSrc, out, &nDst, false));
        EXPECT_EQ(0, nSrc);
        EXPECT_EQ(0, nDst);
        // A null input claiming a length is an error, not an empty success.
        nSrc = 3;
        nDst = 4;
        EXPECT_EQ(-1, KT_DecodeString(nCodePage, nullptr, &nSrc, wout, &nDst, false));
        EXPECT_EQ(0, nSrc);
        EXPECT_EQ(0, nDst);
    }
    for (int nCodePage : {0, 437, 28591, 12345}) {
        SCOPED_TRACE(nCodePage);
        int nSrc = 3;
        int nDst = 4;
        EXPECT_EQ(-1, KT_DecodeString(nCodePage, bytes, &nSrc, wout, &nDst, false));
        EXPECT_EQ(0, nSrc);
        EXPECT_EQ(0, nDst);
        nSrc = 3;
        nDst = 4;
        EXPECT_EQ(-1, KT_EncodeString(nCodePage, text, &nSrc, out, &nDst, false));
        EXPECT_EQ(0, nSrc);
        EXPECT_EQ(0, nDst);
    }
}

// Decoding stops as soon as the output is full, at every alignment of the input (the word-wise
// path for single-byte runs must honour the capacity like the byte-wise one).
TEST(CodePageDecode, StopsWhenTheOutputIsFullAtEveryAlignment)
{
    const std::string text = "Zandro\xD6\xD0 reader text\x80!";
    std::wstring expected;
    for (unsigned char c : std::string("Zandro"))
        expected += static_cast<wchar_t>(c);
    expected += L"\x4E2D reader text\x20AC!";
    std::vector<char> storage(text.size() + 8);
    for (int nShift = 0; nShift < 4; ++nShift) {
        char *pSrc = storage.data() + nShift;
        std::copy(text.begin(), text.end(), pSrc);
        for (int nCap = 1; nCap <= static_cast<int>(expected.size()) + 1; ++nCap) {
            SCOPED_TRACE("shift " + std::to_string(nShift) + " capacity " + std::to_string(nCap));
            std::vector<wchar_t> out(nCap + 1, L'#');
            int nSrc = static_cast<int>(text.size());
            int nDst = nCap;
            ASSERT_EQ(1, KT_DecodeString(936, pSrc, &nSrc, out.data(), &nDst, true));
            const int nChars = std::min<int>(nCap, static_cast<int>(expected.size()));
            ASSERT_EQ(nChars, nDst);
            EXPECT_EQ(expected.substr(0, nChars), std::wstring(out.data(), nDst));
            EXPECT_EQ(L'#', out[nCap]);
            // Bytes consumed: one per character, two for the han character.
            EXPECT_EQ(nChars + (nChars > 6 ? 1 : 0), nSrc);
        }
    }
}

TEST(CodePageEncode, WritesOnlyWholeCharactersWithinTheCapacity)
{
    const std::wstring text = L"A\x4E2D"
                              L"B";
    struct Row
    {
        int nCap;
        int nConsumed;
        std::string expected;
    };
    const Row rows[] = {
        {1, 1, "A"},         // full after 'A'
        {2, 1, "A"},         // the han character's two bytes do not fit
        {3, 2, "A\xD6\xD0"}, // full after the han character
        {8, 3,
         "A\xD6\xD0"
         "B"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.nCap);
        std::vector<char> out(r.nCap + 1, '#');
        int nSrc = static_cast<int>(text.size());
        int nDst = r.nCap;
        EXPECT_EQ(1, KT_EncodeString(936, text.data(), &nSrc, out.data(), &nDst, true));
        EXPECT_EQ(r.nConsumed, nSrc);
        EXPECT_EQ(r.expected, std::string(out.data(), nDst));
        EXPECT_EQ('#', out[r.nCap]);
    }
}

struct Utf8DecodeCase
{
    const char *what;
    std::string bytes;
    int nCap;
    int nConsumed;
    std::wstring expected;
};

TEST(Utf8Decode, TableOfCases)
{
    const Utf8DecodeCase cases[] = {
        {"stray continuation", "\x41\x80\x42", 8, 1, L"A"},
        {"0xFE stops",
         "A\xFE"
         "B",
         8, 1, L"A"},
        {"three and four bytes", "\xE2\x82\xAC\xF0\x9F\x98\x80", 8, 7, L"\x20AC\x1F600"},
        {"six-byte form", "\xFD\xBF\xBF\xBF\xBF\xBF", 8, 6, L"\x7FFFFFFF"},
        {"sequence cut off at the end", "A\xE2\x82", 8, 1, L"A"},
        {"abandoned sequence",
         "\xC3"
         "A",
         8, 2, L"A"},
        {"capacity reached", "AB\xC3\xA9", 2, 2, L"AB"},
        {"capacity reached inside multibyte text", "\xC3\xA9\xC3\xA9", 1, 2, L"\xE9"},
    };
    for (const Utf8DecodeCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<wchar_t> out(c.nCap + 1, L'#');
        int nSrc = static_cast<int>(c.bytes.size());
        int nDst = c.nCap;
        EXPECT_EQ(1, KT_UTF8Decode(c.bytes.data(), &nSrc, out.data(), &nDst));
        EXPECT_EQ(c.nConsumed, nSrc);
        EXPECT_EQ(c.expected, std::wstring(out.data(), nDst));
        EXPECT_EQ(L'#', out[c.nCap]);
    }
}

TEST(Utf8Encode, StopsBeforeACharacterThatDoesNotFit)
{
    const std::wstring text = L"A\x20AC\x1F600";
    struct Row
    {
        int nCap;
        int nConsumed;
        std::string expected;
    };
    const Row rows[] = {
        {0, 3, "A\xE2\x82\xAC\xF0\x9F\x98\x80"}, // sizing pass: full length, nothing written
        {1, 1, "A"},
        {3, 1, "A"},
        {4, 2, "A\xE2\x82\xAC"},
        {7, 2, "A\xE2\x82\xAC"},
        {8, 3, "A\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.nCap);
        std::vector<char> out(16, '#');
        int nSrc = static_cast<int>(text.size());
        int nDst = r.nCap;
        EXPECT_EQ(1, KT_UTF8Encode(text.data(), &nSrc, out.data(), &nDst));
        EXPECT_EQ(r.nConsumed, nSrc);
        EXPECT_EQ(static_cast<int>(r.expected.size()), nDst);
        if (r.nCap > 0) {
            EXPECT_EQ(r.expected, std::string(out.data(), nDst));
            EXPECT_EQ('#', out[nDst]);
        } else {
            EXPECT_EQ('#', out[0]);
        }
    }
}

TEST(Utf8Check, TableOfCases)
{
    struct Row
    {
        const char *what;
        std::string bytes;
        bool bValid;
        int nLen;
    };
    const Row rows[] = {
        {"one two-byte sequence", "\x41\xC3\xA9\x42", true, 3},
        {"stray continuation", "\x41\x80", false, 0},
        {"single bytes only", "AB", true, 0},
        {"sequence cut off by the end", "\xC3\xA9\xE2\x82", true, 2},
        {"lead byte interrupted",
         "\xC3"
         "A",
         false, 0},
        {"0xFF", "\xC3\xA9\xFF", false, 2},
        {"four-byte sequence", "\xF0\x9F\x98\x80!", true, 4},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        int nLen = static_cast<int>(r.bytes.size());
        EXPECT_EQ(r.bValid,
                  KT_IsUTF8Data(reinterpret_cast<const unsigned char *>(r.bytes.data()), &nLen));
        EXPECT_EQ(r.nLen, nLen);
    }
    const unsigned char any = 0x80;
    int nLen = 0;
    EXPECT_TRUE(KT_IsUTF8Data(&any, &nLen));
    EXPECT_EQ(0, nLen);
    nLen = -4;
    EXPECT_TRUE(KT_IsUTF8Data(&any, &nLen));
    EXPECT_EQ(-4, nLen);
}

TEST(Utf16Helpers, WidenNarrowAndSwap)
{
    // In place: the units sit at the front of the wide buffer.
    wchar_t wide[3] = {};
    const unsigned short units[3] = {0x0041, 0xD83D, 0xFFFF};
    std::memcpy(wide, units, sizeof(units));
    KT_UTF16ToWChar(wide, 3);
    EXPECT_EQ(std::wstring(L"A\xD83D\xFFFF"), std::wstring(wide, 3));

    wchar_t copy[3];
    KT_UTF16ToWCharCopy(units, copy, 3);
    EXPECT_EQ(std::wstring(L"A\xD83D\xFFFF"), std::wstring(copy, 3));

    const wchar_t text[3] = {L'B', static_cast<wchar_t>(0x1F600), static_cast<wchar_t>(0x12345)};
    unsigned short narrow[3];
    KT_WCharToUTF16Copy(text, narrow, 3);
    EXPECT_EQ(0x0042, narrow[0]);
    EXPECT_EQ(0xF600, narrow[1]);
    EXPECT_EQ(0x2345, narrow[2]);

    wchar_t inPlace[3] = {L'B', static_cast<wchar_t>(0x1F600), L'C'};
    KT_WCharToUTF16(inPlace, 3);
    unsigned short front[3];
    std::memcpy(front, inPlace, sizeof(front));
    EXPECT_EQ(0x0042, front[0]);
    EXPECT_EQ(0xF600, front[1]);
    EXPECT_EQ(0x0043, front[2]);

    unsigned short swapped[2];
    const unsigned short original[2] = {0x1234, 0x00FF};
    KT_SwapByteOrderCopy(original, swapped, 2);
    EXPECT_EQ(0x3412, swapped[0]);
    EXPECT_EQ(0xFF00, swapped[1]);
    KT_SwapByteOrder(swapped, 2);
    EXPECT_EQ(0x1234, swapped[0]);
    EXPECT_EQ(0x00FF, swapped[1]);
}

} // namespace
