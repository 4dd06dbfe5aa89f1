// Format's reading of directives against the C library's: a generated table of every flag,
// width, precision, length modifier and conversion it accepts, numbered arguments, and the
// formats that are refused instead of being guessed at.
#include "kt_basic.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

std::string Text(const CKT_ByteString &s)
{
    return std::string(s.GetCStr(), static_cast<size_t>(s.GetLength()));
}

std::wstring Text(const CKT_WideString &s)
{
    return std::wstring(s.GetCStr(), static_cast<size_t>(s.GetLength()));
}

std::wstring Widened(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// Formats with the library and the C library, byte and wide, with errno set for "%m"; returns
// false (after reporting) when the texts differ. A format the C library rejects must give the
// empty string.
template <class... Args>
bool SameAsCLibrary(const std::string &format, Args... args)
{
    bool same = true;
    std::string expect(4096, '\0');
    errno = EACCES;
    int n = snprintf(&expect[0], expect.size(), format.c_str(), args...);
    expect.resize(n > 0 ? static_cast<size_t>(n) : 0);
    CKT_ByteString s("previous");
    errno = EACCES;
    s.Format(format.c_str(), args...);
    if (Text(s) != expect) {
        ADD_FAILURE() << "format \"" << format << "\": \"" << Text(s) << "\", C library \""
                      << expect << "\"";
        same = false;
    }

    const std::wstring wformat = Widened(format);
    std::wstring wexpect(4096, L'\0');
    errno = EACCES;
    n = swprintf(&wexpect[0], wexpect.size(), wformat.c_str(), args...);
    wexpect.resize(n > 0 ? static_cast<size_t>(n) : 0);
    CKT_WideString w(L"previous");
    errno = EACCES;
    w.Format(wformat.c_str(), args...);
    if (Text(w) != wexpect) {
        ADD_FAILURE() << "wide format \"" << format << "\" differs from the C library";
        same = false;
    }
    return same;
}

// What the C library takes from the argument list for one directive, by its own rules: "q" and
// "L" are "ll" for integers, and in a directive read in order they also make 's' and 'c' wide,
// like 'l' and the size_t, ptrdiff_t and intmax_t modifiers of this 64-bit platform.
enum class Kind { None, Int, Long, LongLong, Double, LongDouble, Narrow, Wide, Pointer };

Kind KindOf(const std::string &length, char conversion)
{
    const bool quad = length == "ll" || length == "q" || length == "L";
    const bool wide = quad || length == "l" || length == "j" || length == "z" || length == "Z" ||
                      length == "t";
    switch (conversion) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'b': case 'B':
        return quad ? Kind::LongLong : wide ? Kind::Long : Kind::Int;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        return quad ? Kind::LongDouble : Kind::Double;
    case 'c': case 'C':
        return Kind::Int;
    case 's':
        return wide ? Kind::Wide : Kind::Narrow;
    case 'S':
        return Kind::Wide;
    case 'p':
        return Kind::Pointer;
    default: // 'm', '%' and letters the C library does not know take nothing
        return Kind::None;
    }
}

// Puts the '*' arguments in front of the directive's own ones.
template <class... Rest>
bool WithStars(const std::string &format, bool widthStar, bool precisionStar, Rest... rest)
{
    if (widthStar && precisionStar)
        return SameAsCLibrary(format, 7, 3, rest...);
    if (widthStar)
        return SameAsCLibrary(format, 7, rest...);
    if (precisionStar)
        return SameAsCLibrary(format, 3, rest...);
    return SameAsCLibrary(format, rest...);
}

TEST(FormatDirectives, EveryAcceptedDirectiveMatchesTheCLibrary)
{
    // A "%s" after each directive shows at once when the walk took the wrong arguments.
    static const char *const flags[] = {"", "-", "+", " ", "#", "0", "'", "I", "-#", "+0'", "I'-"};
    static const char *const widths[] = {"", "9", "*"};
    static const char *const precisions[] = {"", ".", ".2", ".*"};
    static const char *const lengths[] = {"", "hh", "h", "l", "ll", "q", "L", "j", "z", "Z", "t"};
    static const char conversions[] = "diouxXbBeEfFgGaAcCsSpm%y";
    static int target;
    int failures = 0;
    int formats = 0;
    for (const char *flag : flags)
        for (const char *width : widths)
            for (const char *precision : precisions)
                for (const char *length : lengths)
                    for (const char *c = conversions; *c; ++c) {
                        const std::string format = std::string("<%") + flag + width + precision +
                                                   length + *c + "|%s>";
                        const bool ws = width[0] == '*';
                        const bool ps = std::string(precision) == ".*";
                        bool same = true;
                        switch (KindOf(length, *c)) {
                        case Kind::None: same = WithStars(format, ws, ps, "tail"); break;
                        case Kind::Int:
                            same = WithStars(format, ws, ps, *c == 'c' || *c == 'C' ? 'A' : -42,
                                             "tail");
                            break;
                        case Kind::Long: same = WithStars(format, ws, ps, -1234567890123L, "tail"); break;
                        case Kind::LongLong: same = WithStars(format, ws, ps, -123456789012345LL, "tail"); break;
                        case Kind::Double: same = WithStars(format, ws, ps, -1234.5678, "tail"); break;
                        case Kind::LongDouble: same = WithStars(format, ws, ps, 98765.4321L, "tail"); break;
                        case Kind::Narrow: same = WithStars(format, ws, ps, "text", "tail"); break;
                        case Kind::Wide: same = WithStars(format, ws, ps, L"wide", "tail"); break;
                        case Kind::Pointer: same = WithStars(format, ws, ps, &target, "tail"); break;
                        }
                        ++formats;
                        if (!same && ++failures == 10)
                            FAIL() << "stopped after 10 differing formats";
                    }
    EXPECT_EQ(11 * 3 * 4 * 11 * 24, formats);
}

TEST(FormatDirectives, CasesFromTheReview)
{
    // Each of these used to read an integer as a string pointer.
    EXPECT_TRUE(SameAsCLibrary("%'d %s", 1234567, "abc"));
    EXPECT_TRUE(SameAsCLibrary("%qd %s", 5LL, "abc"));
    EXPECT_TRUE(SameAsCLibrary("%Id %s", 5, "abc"));
    EXPECT_TRUE(SameAsCLibrary("%Ld %s", 5LL, "abc"));
    EXPECT_TRUE(SameAsCLibrary("%Zu %s", static_cast<size_t>(5), "abc"));
}

TEST(FormatDirectives, APrecisionBoundsTheReadingOfAString)
{
    // The C library reads no further than the precision, so the text need not be terminated;
    // neither may the walk read further.
    const char bytes[3] = {'a', 'b', 'c'};
    const wchar_t wide[2] = {L'w', L'x'};
    EXPECT_TRUE(SameAsCLibrary("%.3s|%.2s|%.2ls", bytes, bytes, wide));
    EXPECT_TRUE(SameAsCLibrary("%.*s|%.*ls", 3, bytes, 2, wide));
}

TEST(FormatDirectives, NumberedArgumentsMatchTheCLibrary)
{
    static int target;
    EXPECT_TRUE(SameAsCLibrary("%2$s %1$d", 5, "x"));
    EXPECT_TRUE(SameAsCLibrary("%1$*2$d|%1$-*2$d|", 5, 8));
    EXPECT_TRUE(SameAsCLibrary("[%2$.*1$f] %3$ls %3$ls", 3, 2.5, L"twice"));
    EXPECT_TRUE(SameAsCLibrary("%3$Lf %1$lld %2$p", 7LL, static_cast<void *>(&target), 1.5L));
    EXPECT_TRUE(SameAsCLibrary("%1$.2s %1$5.1s|%2$c", "abc", 'z'));
    // Unnumbered directives count on from the first argument, whatever the numbered ones use.
    EXPECT_TRUE(SameAsCLibrary("%1$d %d", 1, 2));
    EXPECT_TRUE(SameAsCLibrary("%*1$d|", 5));
    EXPECT_TRUE(SameAsCLibrary("%1$*d|", 5));
    // Once a numbered or unknown directive has been met, "L" no longer makes strings wide.
    EXPECT_TRUE(SameAsCLibrary("%1$Ls", "narrow"));
    EXPECT_TRUE(SameAsCLibrary("%y %Ls", "narrow"));
    EXPECT_TRUE(SameAsCLibrary("%Ls %y", L"wide"));
    // So has a single 'h' before anything but an integer conversion.
    EXPECT_TRUE(SameAsCLibrary("%hs|%Ls", "a", "narrow"));
    EXPECT_TRUE(SameAsCLibrary("%he|%Ls", 1.5, "narrow"));
    EXPECT_TRUE(SameAsCLibrary("%hd|%hhs|%hn%Ls", 1, "a", &target, L"wide"));
    // Digits after a '*' are not a width: they end the directive as an unknown conversion.
    EXPECT_TRUE(SameAsCLibrary("%*5d|%s", 3, "t"));
    // A numbered argument zero is no number: "0" is a flag and '$' the conversion.
    EXPECT_TRUE(SameAsCLibrary("%0$d|%s", "t"));
}

TEST(FormatDirectives, TheLibrarysOwn64BitPrefixFitsBesideTheCLibrarysFlags)
{
    // "I64" is the 64-bit size prefix, even after the C library's 'I' flag.
    CKT_ByteString s;
    s.Format("%I64d|%'I64x|%II64u|%5I64s|%s", -5LL, 255LL, 7ULL, L"w", "t");
    // Kept out of the compiler's format checks, which dislike "ll" before 's'.
    const std::string cFormat = "%lld|%'llx|%Illu|%5lls|%s";
    char expect[64];
    snprintf(expect, sizeof(expect), cFormat.c_str(), -5LL, 255LL, 7ULL, L"w", "t");
    EXPECT_EQ(expect, Text(s));
}

TEST(FormatDirectives, FormatsThatCannotBeReadSafelyGiveTheEmptyString)
{
    struct Row
    {
        const char *name;
        CKT_ByteString result;
    };
    auto format = [](const char *fmt, auto... args) {
        CKT_ByteString s("previous");
        s.Format(fmt, args...);
        return s;
    };
    Row rows[] = {
        // The C library itself rejects these.
        {"ends after '%'", format("abc%")},
        {"ends after the width", format("%5")},
        {"ends after the size prefix", format("%d %l", 1)},
        {"ends after I64", format("%I64")},
        {"argument number beyond int", format("%2147483648$d", 1)},
        // Their argument types cannot be known.
        {"numbered argument left out", format("%3$d", 1, 2, 3)},
        {"argument used as two types", format("%1$s %1$d", "x")},
        {"more numbered arguments than kept", format("%200$d", 1)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(row.result.IsEmpty());
        EXPECT_EQ(nullptr, row.result.GetPtr());
    }
    CKT_WideString w(L"previous");
    w.Format(L"%ls %", L"x");
    EXPECT_TRUE(w.IsEmpty());
}

} // namespace
