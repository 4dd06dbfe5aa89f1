// Formatting: Format against the C library, the error texts, integer and float text and the
// fixed-capacity buffer.
#include "kt_basic.h"
#include "ktcrt_testutil.h"

#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <wchar.h>

#include <cmath>
#include <string>

namespace {

std::string Text(const CKT_ByteString &s)
{
    return std::string(s.GetCStr(), static_cast<size_t>(s.GetLength()));
}

std::wstring Text(const CKT_WideString &s)
{
    return std::wstring(s.GetCStr(), static_cast<size_t>(s.GetLength()));
}

// Formats with the library and with snprintf (using cFormat, the same format in the C library's
// spelling) and expects identical text. Returns the allocations Format made on an empty string:
// 1 when the estimate was enough for the output.
template <class... Args>
int ExpectLikeSnprintf(const char *format, const char *cFormat, Args... args)
{
    SCOPED_TRACE(format);
    CKT_ByteString s;
    int allocs;
    {
        AllocCounter counter;
        s.Format(format, args...);
        allocs = counter.allocs;
    }
    std::string expect(1024, '\0');
    int n = snprintf(&expect[0], expect.size(), cFormat, args...);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, static_cast<int>(expect.size()));
    expect.resize(static_cast<size_t>(n > 0 ? n : 0));
    EXPECT_EQ(expect, Text(s));
    // A previous value is replaced, whatever its size.
    CKT_ByteString previous("previous content that is longer than some outputs");
    previous.Format(format, args...);
    EXPECT_EQ(expect, Text(previous));
    return allocs;
}

template <class... Args>
void ExpectLikeSwprintf(const wchar_t *format, Args... args)
{
    SCOPED_TRACE(testing::PrintToString(std::wstring(format)));
    CKT_WideString s;
    s.Format(format, args...);
    std::wstring expect(1024, L'\0');
    int n = swprintf(&expect[0], expect.size(), format, args...);
    ASSERT_GE(n, 0);
    expect.resize(static_cast<size_t>(n));
    EXPECT_EQ(expect, Text(s));
}

TEST(Format, ByteOutputMatchesTheCLibrary)
{
    const std::string longText(300, 'x');
    int value = 0;
    EXPECT_EQ(1, ExpectLikeSnprintf("plain literal text", "plain literal text"));
    EXPECT_EQ(1, ExpectLikeSnprintf("%d", "%d", INT_MIN));
    EXPECT_EQ(1,
              ExpectLikeSnprintf("%u|%x|%X|%o", "%u|%x|%X|%o", UINT_MAX, 0xdeadbeefu, 0xabcu, 8u));
    EXPECT_EQ(1, ExpectLikeSnprintf("%08X|%-5d|%+d|% d", "%08X|%-5d|%+d|% d", 0x1f, 3, 4, 5));
    EXPECT_EQ(1, ExpectLikeSnprintf("%#x %#o", "%#x %#o", 255, 8));
    EXPECT_EQ(1, ExpectLikeSnprintf("[%5s][%.2s][%-10.3s]", "[%5s][%.2s][%-10.3s]", "ab", "abcdef",
                                    "xyzw"));
    EXPECT_EQ(1, ExpectLikeSnprintf("%s", "%s", longText.c_str()));
    EXPECT_EQ(1, ExpectLikeSnprintf("<%s>", "<%s>", ""));
    EXPECT_EQ(1, ExpectLikeSnprintf("%s", "%s", static_cast<const char *>(nullptr)));
    EXPECT_EQ(1, ExpectLikeSnprintf("%c%5c%-3c|", "%c%5c%-3c|", 'a', 'b', 'c'));
    EXPECT_EQ(1, ExpectLikeSnprintf("100%% sure %%d", "100%% sure %%d"));
    EXPECT_EQ(1, ExpectLikeSnprintf("%f|%.2f|%10.3f", "%f|%.2f|%10.3f", 3.14159, 1e10, -2.5));
    EXPECT_EQ(1, ExpectLikeSnprintf("%f", "%f", 1e308));
    EXPECT_EQ(1, ExpectLikeSnprintf("%.150f", "%.150f", 1.0 / 3));
    EXPECT_EQ(1, ExpectLikeSnprintf("%e|%g|%G|%a", "%e|%g|%G|%a", 1.5e300, 0.0001, 1e-20, 1.0));
    EXPECT_EQ(1, ExpectLikeSnprintf("%p", "%p", static_cast<void *>(&value)));
    EXPECT_EQ(1, ExpectLikeSnprintf("[%*d][%-*d]", "[%*d][%-*d]", 8, 42, 6, 7));
    EXPECT_EQ(1, ExpectLikeSnprintf("%.*f", "%.*f", 3, 2.0));
    EXPECT_EQ(1,
              ExpectLikeSnprintf("%ld %lld %lu", "%ld %lld %lu", LONG_MIN, LLONG_MAX, ULONG_MAX));
    EXPECT_EQ(1, ExpectLikeSnprintf("%zu %hd %hhu", "%zu %hd %hhu",
                                    static_cast<size_t>(123456789012ull), static_cast<short>(-3),
                                    static_cast<unsigned char>(200)));
    EXPECT_EQ(1, ExpectLikeSnprintf("%ls|%S|%5ls", "%ls|%S|%5ls", L"wide", L"Wide", L"w"));
    EXPECT_EQ(1, ExpectLikeSnprintf("%s=%d (%5.1f%%) %s", "%s=%d (%5.1f%%) %s", "name", -17, 99.44,
                                    "end"));
    EXPECT_EQ(1, ExpectLikeSnprintf("%Lf %Le", "%Lf %Le", 1.25L, 3.5L));
    EXPECT_EQ(1, ExpectLikeSnprintf("%F", "%F", 2.5));
    EXPECT_EQ(1, ExpectLikeSnprintf("%n%d", "%n%d", &value, 5));
    // The 64-bit prefix of the format family is handed to the C library in its own spelling.
    EXPECT_EQ(2, ExpectLikeSnprintf("%I64d|%-22I64u|%I64x", "%lld|%-22llu|%llx", LLONG_MIN,
                                    ULLONG_MAX, 0x123456789abcdefull));
}

TEST(Format, EstimateTooSmallForLongFloatTextIsStillComplete)
{
    // 'e' is estimated at 128 characters, this precision needs 133: the block grows once more
    // instead of the text being cut.
    EXPECT_EQ(2, ExpectLikeSnprintf("%.127e", "%.127e", 1.0 / 7));
    // Width plus precision above 100 is estimated at their sum plus 128, which holds it.
    EXPECT_EQ(1, ExpectLikeSnprintf("%.110f", "%.110f", 123456.0));
}

TEST(Format, WideOutputMatchesTheCLibrary)
{
    ExpectLikeSwprintf(L"plain");
    ExpectLikeSwprintf(L"%d|%5u|%x", -42, 7u, 255);
    ExpectLikeSwprintf(L"%ls and %s", L"wide", "narrow");
    ExpectLikeSwprintf(L"%S", L"upper S is wide");
    ExpectLikeSwprintf(L"%5.2f|%e", 3.14159, 2.0);
    ExpectLikeSwprintf(L"%c%lc", 'x', static_cast<wint_t>(L'\u00e9'));
    ExpectLikeSwprintf(L"%%|%-*d|", 5, 3);
    ExpectLikeSwprintf(L"%.127e", 1.0 / 7);
}

TEST(Format, BadWidthAndPrecisionReplaceTheOutput)
{
    struct Row
    {
        const char *name;
        CKT_ByteString result;
        const char *expect;
    };
    auto format = [](const char *fmt, auto... args) {
        CKT_ByteString s;
        s.Format(fmt, args...);
        return s;
    };
    Row rows[] = {
        {"star width of -5", format("%*d", -5, 1), "Bad width"},
        {"written width 200000", format("%200000d", 1), "Bad width"},
        {"written precision 200000", format("%.200000d", 1), "Bad precision"},
        {"star precision of -1", format("%.*f", -1, 1.0), "Bad precision"},
        {"error after good items", format("%d %*s", 1, 131073, "x"), "Bad width"},
        {"width at the limit is fine", format("%131072d", 1).Right(2), " 1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.expect, Text(row.result));
    }
    CKT_WideString w;
    w.Format(L"%*d", -5, 1);
    EXPECT_EQ(L"Bad width", Text(w));
    w.Format(L"%.300000s", "x");
    EXPECT_EQ(L"Bad precision", Text(w));
}

TEST(Format, LongLiteralFormatsAreMeasuredNotEstimated)
{
    // Literal text counts once per remaining character, which for a long format would ask for
    // a block of millions of characters; such estimates are replaced by the measured length.
    std::string format(4000, 'x');
    format += "%d";
    std::string expect(4000, 'x');
    expect += "7";
    CKT_ByteString s;
    s.Format(format.c_str(), 7);
    EXPECT_EQ(expect, Text(s));
    EXPECT_EQ(s.GetLength(), BlockOf(s)->m_nAllocLength);

    std::wstring wformat(3000, L'y');
    wformat += L"%ls";
    CKT_WideString w;
    w.Format(wformat.c_str(), L"end");
    EXPECT_EQ(std::wstring(3000, L'y') + L"end", Text(w));
    EXPECT_GE(1 << 20, BlockOf(w)->m_nAllocLength);
}

TEST(Format, ArgumentsMayPointIntoTheStringBeingFormatted)
{
    // The old text must stay readable until the new one is written, whether the block is too
    // small (it is replaced), large enough (it would be written over while being read) or
    // shared with another string.
    struct Row
    {
        const char *name;
        int reserve;
        bool shared;
    } rows[] = {
        {"exact block", 0, false},
        {"block with room", 100, false},
        {"shared block", 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ByteString s("abc");
        CKT_WideString w(L"abc");
        if (row.reserve) {
            s.Reserve(row.reserve);
            w.Reserve(row.reserve);
        }
        CKT_ByteString copy = s;
        CKT_WideString wcopy = w;
        if (!row.shared) {
            copy.Empty();
            wcopy.Empty();
        }
        s.Format("%s-%s", s.GetCStr(), s.GetCStr());
        EXPECT_EQ("abc-abc", Text(s));
        s.Format("[%.2s|%5s]", s.GetCStr() + 4, s.GetCStr());
        EXPECT_EQ("[ab|abc-abc]", Text(s));
        w.Format(L"%ls-%ls", w.GetCStr(), w.GetCStr());
        EXPECT_EQ(L"abc-abc", Text(w));
        if (row.shared) {
            EXPECT_EQ("abc", Text(copy));
            EXPECT_EQ(L"abc", Text(wcopy));
        }
    }
}

TEST(Format, LongFormatsAreWalkedInLinearTime)
{
    // Literal text used to be counted by walking the rest of the format at every character:
    // four million characters took hours. Now the walk is one pass, so this finishes at once.
    std::string format(4000000, 'x');
    format += "%d|%s";
    CKT_ByteString s;
    s.Format(format.c_str(), 42, "end");
    ASSERT_EQ(4000006, s.GetLength());
    EXPECT_EQ("x42|end", Text(s).substr(3999999));

    std::wstring wformat(2000000, L'y');
    wformat += L"%ls";
    CKT_WideString w;
    w.Format(wformat.c_str(), L"end");
    ASSERT_EQ(2000003, w.GetLength());
    EXPECT_EQ(L"yend", Text(w).substr(1999999));
}

TEST(Format, WideTextTheLocaleCannotReadGivesTheEmptyString)
{
    // In the "C" locale a narrow argument with a byte above 0x7F cannot be widened.
    CKT_WideString w(L"old");
    w.Format(L"%s", "caf\xc3\xa9");
    EXPECT_TRUE(w.IsEmpty());
}

TEST(Format, EmptyOutputLeavesNoBlock)
{
    CKT_ByteString s("old");
    s.Format("%s", "");
    EXPECT_EQ(nullptr, s.GetPtr());
    s.Format("");
    EXPECT_EQ(nullptr, s.GetPtr());
    CKT_WideString w(L"old");
    w.Format(L"");
    EXPECT_EQ(nullptr, w.GetPtr());
}

TEST(FormatInteger, FlagRows)
{
    struct Row
    {
        int value;
        KT_UINT32 flags;
        const char *expect;
    } rows[] = {
        {-255, 1 | 2, "-ff"},
        {-255, 1 | 2 | 4, "-FF"},
        {-1, 0, "4294967295"},
        {0, 2, "0"},
        {0, 0, "0"},
        {255, 2 | 4, "FF"},
        {-255, 2, "ffffff01"},
        {INT_MIN, 1, "-2147483648"},
        {INT_MIN, 1 | 2, "-80000000"},
        {-5, 1, "-5"},
        {7, 4, "7"}, // upper-case without hexadecimal changes nothing
        {123456789, 1, "123456789"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.value) + " flags " + std::to_string(row.flags));
        EXPECT_EQ(row.expect, Text(CKT_ByteString::FormatInteger(row.value, row.flags)));
    }
}

TEST(FloatText, KTftoaRows)
{
    struct Row
    {
        float value;
        const char *expect;
    } rows[] = {
        {1.5f, "1.5"},
        {0.1f, "0.1"},
        {100.0f, "100"},
        {3.14159265f, "3.14159"},
        {-0.25f, "-0.25"},
        {123456.7f, "123457"},
        {12345.67f, "12345.7"},
        {0.000123456f, "0.000123"},
        {0.0000001f, "0"},
        {-0.0000001f, "0"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {99999.5f, "100000"},
        {99999.4f, "99999.4"},
        {1.05f, "1.05"},
        {2147483520.0f, "2147483520"}, // largest float below 2^31: still the 32-bit path
        // Magnitudes of 2^31 and above: the exact integer while it fits, then exponent form.
        {2147483648.0f, "2147483648"},
        {3e9f, "3000000000"},
        {-4294967296.0f, "-4294967296"},
        {1e30f, "1000000015047466219876688855040"},
        {-3.4028235e38f, "-3.402823e+38"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
        {NAN, "nan"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.expect);
        char buf[33];
        memset(buf, 'Z', sizeof(buf));
        int len = KT_ftoa(row.value, buf);
        ASSERT_LE(len, 32);
        EXPECT_EQ(row.expect, std::string(buf, static_cast<size_t>(len)));
        if (std::string(row.expect) == "0") {
            EXPECT_EQ(0, buf[1]); // only "0" is terminated
        } else {
            EXPECT_EQ('Z', buf[len]);
        }
        EXPECT_EQ(row.expect, Text(CKT_ByteString::FormatFloat(row.value, 2)));
    }
}

TEST(StringBuf, AppendsAreCutAtTheLimit)
{
    CKT_StringBuf<8> buf;
    EXPECT_EQ(8, buf.GetLimit());
    buf.Copy("hello world");
    EXPECT_TRUE(buf.GetStringC() == CKT_ByteStringC("hello wo"));
    buf.Copy("ab");
    buf.Append(-12, 1);
    EXPECT_TRUE(buf.GetStringC() == CKT_ByteStringC("ab-12"));
    buf.Append(255, 2 | 4);
    EXPECT_TRUE(buf.GetStringC() == CKT_ByteStringC("ab-12FF"));
    buf << "xyz";
    EXPECT_TRUE(buf.GetStringC() == CKT_ByteStringC("ab-12FFx"));
    buf << 5;
    EXPECT_EQ(8, buf.GetSize());
    buf.Clear();
    buf << 42 << "!";
    EXPECT_TRUE(buf.GetStringC() == CKT_ByteStringC("42!"));
}

} // namespace
