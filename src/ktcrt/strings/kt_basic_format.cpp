// printf-style formatting of byte and wide strings, integer and float text.
//
// Format estimates the output length by walking the format, allocates the block once and lets
// the C library fill it. The walk must take the variable arguments exactly as the C library
// will, since it measures strings through their pointers: it reads every directive by the C
// library's grammar (flags "-+ #0'I", widths and precisions with '*' and "m$", every length
// modifier) and refuses, with the empty string, the formats whose arguments it cannot type:
// a format that ends inside a directive, a numbered argument left out or used as two types,
// and numbers beyond kMaxNumberedArgs.
#include "kt_basic_string.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// Widths and precisions above this end the walk with an error text instead of output.
const KT_UINT32 kMaxFieldWidth = 0x20000;
// Estimates above this many characters are measured instead: literal text is counted once per
// remaining character, which grows quadratically with long formats.
const int64_t kMaxEstimate = 0x100000;
// A format with numbered ("%2$d") arguments has every argument fetched before the walk; this
// many are kept, a format that numbers more is refused.
const int kMaxNumberedArgs = 128;

template <class C>
struct FormatTraits;

template <>
struct FormatTraits<char>
{
    static const char *BadWidth() { return "Bad width"; }
    static const char *BadPrecision() { return "Bad precision"; }
    // Characters written, or the length the output needs when it did not fit.
    static int Print(char *buf, size_t count, const char *format, va_list args)
    {
        return vsnprintf(buf, count, format, args);
    }
    static bool ReportsNeededLength() { return true; }
    // Output characters one wide character may become.
    static int64_t WideCharSize() { return static_cast<int64_t>(MB_CUR_MAX); }
};

template <>
struct FormatTraits<wchar_t>
{
    static const wchar_t *BadWidth() { return L"Bad width"; }
    static const wchar_t *BadPrecision() { return L"Bad precision"; }
    // Characters written, or -1 when the output did not fit (or could not be encoded).
    static int Print(wchar_t *buf, size_t count, const wchar_t *format, va_list args)
    {
        return vswprintf(buf, count, format, args);
    }
    static bool ReportsNeededLength() { return false; }
    static int64_t WideCharSize() { return 1; }
};

template <class C>
int64_t RemainingLength(const C *p)
{
    int64_t n = 0;
    while (p[n])
        n++;
    return n;
}

template <class C>
bool IsDigit(C c)
{
    return c >= '0' && c <= '9';
}

// Reads a decimal number as the C library does: -1 when it does not fit an int.
template <class C>
int ReadNumber(const C *&p)
{
    int64_t n = 0;
    for (; IsDigit(*p); p++) {
        if (n <= INT_MAX)
            n = n * 10 + (*p - '0');
    }
    return n > INT_MAX ? -1 : static_cast<int>(n);
}

// The argument types the C library reads, by what va_arg must be told.
enum ArgType {
    kArgNone,
    kArgInt,        // int, and what promotes to it (char, short, wint_t)
    kArgLong,       // long, size_t, ptrdiff_t, intmax_t
    kArgLongLong,   // long long
    kArgDouble,     // double (float promotes to it)
    kArgLongDouble, // long double
    kArgString,     // const char *
    kArgWString,    // const wchar_t *
    kArgPointer,    // void *, and the integer pointers of 'n'
};

enum LengthModifier {
    kLenNone,
    kLenShort, // h, hh
    kLenLong,  // l, and z, Z, t, j (as wide as long here)
    kLenLL,    // ll, and this library's I64
    kLenQuad,  // L, q
};

// A '*' and where its argument comes from: nPos 0 takes the next one in order, otherwise nPos
// is the number of its "m$".
struct ArgRef
{
    bool bStar = false;
    int nPos = 0;
};

// One directive as the C library reads it, starting after its '%'.
template <class C>
struct Directive
{
    const C *pEnd = nullptr; // just past the conversion character
    const C *pI64 = nullptr; // this library's "I64" prefix, spelled "ll" for the C library
    int nAlt = 0;            // '#' flags
    bool bLocalized = false; // the flag ' (grouping) or I (the locale's digits)
    int nDataPos = 0;        // "m$" of the value, 0 when taken in order, -1 when too large
    ArgRef width;
    int nWidth = 0; // written width, -1 when it does not fit an int
    bool bPrecision = false;
    ArgRef precision;
    int nPrecision = 0; // written precision
    LengthModifier length = kLenNone;
    bool bSingleH = false; // the modifier is one 'h'
    C conversion = 0;      // 0 when the format ends inside the directive

    bool Numbered() const
    {
        return nDataPos != 0 || (width.bStar && width.nPos != 0) ||
               (precision.bStar && precision.nPos != 0);
    }
    bool Known() const
    {
        switch (conversion) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'b': case 'B':
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        case 'c': case 'C': case 's': case 'S': case 'p': case 'n': case 'm': case '%':
            return true;
        default:
            return false;
        }
    }
    // Whether the C library's first reader hands this directive and the rest of the format
    // over to its second: for a numbered or unknown directive, and for a single 'h' before a
    // conversion other than an integer one.
    bool HandsOver() const
    {
        if (Numbered() || !Known())
            return true;
        if (!bSingleH)
            return false;
        switch (conversion) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'b': case 'B':
        case 'n': case '%':
            return false;
        default:
            return true;
        }
    }
    // The value's type. The C library reads directives in order until one hands over (see
    // HandsOver) and from there on with its second reader, which differs in one point: there
    // "L" and "q" no longer make 's' a wide string.
    ArgType DataType(bool bInOrder) const
    {
        const bool bLong =
            length == kLenLong || length == kLenLL || (bInOrder && length == kLenQuad);
        const bool bQuad = length == kLenLL || length == kLenQuad;
        switch (conversion) {
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'b': case 'B':
            return bQuad ? kArgLongLong : bLong ? kArgLong : kArgInt;
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
            return bQuad ? kArgLongDouble : kArgDouble;
        case 'c': case 'C':
            return kArgInt;
        case 's':
            return bLong ? kArgWString : kArgString;
        case 'S':
            return kArgWString;
        case 'p': case 'n':
            return kArgPointer;
        default:
            return kArgNone;
        }
    }
};

// Reads a '*' and its optional "m$"; digits without '$' are left for the conversion.
template <class C>
void ReadStar(const C *&p, ArgRef &ref)
{
    ref.bStar = true;
    p++;
    const C *q = p;
    int n = ReadNumber(q);
    if (n != 0 && *q == '$') {
        ref.nPos = n;
        p = q + 1;
    }
}

// Reads the directive after a '%' by the C library's grammar.
template <class C>
Directive<C> ReadDirective(const C *p)
{
    Directive<C> d;
    const C *q = p;
    int n = ReadNumber(q);
    if (n != 0 && *q == '$') {
        d.nDataPos = n;
        p = q + 1;
    }
    for (;; p++) {
        if (*p == '#')
            d.nAlt++;
        else if (*p == '\'' || (*p == 'I' && !(p[1] == '6' && p[2] == '4')))
            d.bLocalized = true;
        else if (*p != '-' && *p != '+' && *p != ' ' && *p != '0')
            break;
    }
    if (*p == '*')
        ReadStar(p, d.width);
    else
        d.nWidth = ReadNumber(p);
    if (*p == '.') {
        p++;
        d.bPrecision = true;
        if (*p == '*')
            ReadStar(p, d.precision);
        else
            d.nPrecision = ReadNumber(p);
    }
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        d.length = kLenLL;
        d.pI64 = p;
        p += 3;
    } else if (*p == 'h') {
        d.length = kLenShort;
        d.bSingleH = p[1] != 'h';
        p += d.bSingleH ? 1 : 2;
    } else if (*p == 'l') {
        d.length = p[1] == 'l' ? kLenLL : kLenLong;
        p += p[1] == 'l' ? 2 : 1;
    } else if (*p == 'L' || *p == 'q') {
        d.length = kLenQuad;
        p++;
    } else if (*p == 'z' || *p == 'Z' || *p == 't' || *p == 'j') {
        d.length = kLenLong;
        p++;
    }
    d.conversion = *p;
    d.pEnd = *p ? p + 1 : p;
    return d;
}

// Calls visit(start, directive, read in order) for each directive of the format until it
// returns false; "%%" is literal text, not a directive.
template <class C, class Visit>
void ForEachDirective(const C *format, Visit visit)
{
    bool bInOrder = true;
    for (const C *p = format; *p;) {
        if (*p != '%' || p[1] == '%') {
            p += *p == '%' ? 2 : 1;
            continue;
        }
        Directive<C> d = ReadDirective(p + 1);
        if (d.HandsOver())
            bInOrder = false;
        if (!visit(p, d, bInOrder))
            return;
        p = d.pEnd;
    }
}

union ArgValue {
    long long i;
    long double f;
    const void *ptr;
};

ArgValue FetchArg(va_list &args, ArgType type)
{
    ArgValue v;
    v.f = 0;
    switch (type) {
    case kArgInt: v.i = va_arg(args, int); break;
    case kArgLong: v.i = va_arg(args, long); break;
    case kArgLongLong: v.i = va_arg(args, long long); break;
    case kArgDouble: v.f = va_arg(args, double); break;
    case kArgLongDouble: v.f = va_arg(args, long double); break;
    case kArgString: v.ptr = va_arg(args, const char *); break;
    case kArgWString: v.ptr = va_arg(args, const wchar_t *); break;
    case kArgPointer: v.ptr = va_arg(args, void *); break;
    case kArgNone: break;
    }
    return v;
}

// The arguments as the walk asks for them: straight from the list, or, for a format that
// numbers them, from the values fetched beforehand.
class ArgSource
{
public:
    ArgSource(va_list &args, const ArgValue *pFetched) : m_args(args), m_pFetched(pFetched) {}
    ArgValue Next(int nPos, ArgType type)
    {
        if (!m_pFetched)
            return FetchArg(m_args, type);
        return m_pFetched[nPos ? nPos - 1 : m_nNext++];
    }
    int NextInt(const ArgRef &ref) { return static_cast<int>(Next(ref.nPos, kArgInt).i); }

private:
    va_list &m_args;
    const ArgValue *m_pFetched;
    int m_nNext = 0;
};

// What the first pass learns of a format.
struct FormatSurvey
{
    bool bRefused = false;
    bool bNumbered = false;
    bool bHasI64 = false;
    bool bUntyped = false; // an argument beyond the table or used as two types
    int nArgs = 0;         // the arguments, as far as they fit the table
    ArgType types[kMaxNumberedArgs];

    // Records that argument nPos (0: the next in order) is read with this type.
    void Note(int &nNext, int nPos, ArgType type)
    {
        const int index = nPos ? nPos - 1 : nNext++;
        if (nPos < 0 || index >= kMaxNumberedArgs) {
            bUntyped = true;
            return;
        }
        while (nArgs <= index)
            types[nArgs++] = kArgNone;
        if (types[index] != kArgNone && types[index] != type)
            bUntyped = true;
        types[index] = type;
    }
};

// First pass: refuses the formats that cannot be read safely and, for a numbered format, finds
// the type of every argument. An unnumbered format takes its arguments in order as it goes, so
// only a numbered one needs the table complete and consistent.
template <class C>
void SurveyFormat(const C *format, FormatSurvey &survey)
{
    int nNext = 0;
    ForEachDirective(format, [&](const C *, const Directive<C> &d, bool bInOrder) {
        if (!d.conversion) {
            survey.bRefused = true;
            return false;
        }
        survey.bNumbered = survey.bNumbered || d.Numbered();
        survey.bHasI64 = survey.bHasI64 || d.pI64;
        if (d.width.bStar)
            survey.Note(nNext, d.width.nPos, kArgInt);
        if (d.precision.bStar)
            survey.Note(nNext, d.precision.nPos, kArgInt);
        const ArgType type = d.DataType(bInOrder);
        if (type != kArgNone)
            survey.Note(nNext, d.nDataPos, type);
        return true;
    });
    if (survey.bRefused || !survey.bNumbered)
        return;
    survey.bRefused = survey.bUntyped;
    for (int i = 0; i < survey.nArgs; i++) {
        if (survey.types[i] == kArgNone)
            survey.bRefused = true;
    }
}

// Characters a string argument can produce: its length, bounded by the precision, which also
// bounds the C library's reading (the text need not be terminated then).
template <class C>
int64_t StringItemSize(const void *ptr, bool bWide, bool bPrecision, int nPrecision)
{
    if (!ptr)
        return bPrecision && nPrecision < 6 ? nPrecision : 6; // "(null)"
    const size_t limit = bPrecision ? static_cast<size_t>(nPrecision) : SIZE_MAX;
    if (!bWide)
        return static_cast<int64_t>(strnlen(static_cast<const char *>(ptr), limit));
    const int64_t n = static_cast<int64_t>(wcsnlen(static_cast<const wchar_t *>(ptr), limit)) *
                      FormatTraits<C>::WideCharSize();
    return bPrecision && n > nPrecision ? nPrecision : n;
}

// The result of the estimate walk.
template <class C>
struct Estimate
{
    int64_t nLength = 0;
    const C *pFormat = nullptr; // the format, or the text that replaces the output
    bool bRefused = false;      // the format cannot be read safely: the output is empty
    bool bHasI64 = false;       // the format uses I64, which the C library spells "ll"
};

// Second pass: the length estimate, taking the arguments as the C library will.
template <class C>
void EstimateLength(Estimate<C> &est, ArgSource &source)
{
    typedef FormatTraits<C> Traits;
    const C *format = est.pFormat;
    // Each literal character counts the whole rest of the format; the end pointer gives that
    // without walking the rest again, so the walk stays linear.
    const C *pEnd = format + RemainingLength(format);
    int64_t nMaxLen = 0;
    const C *pLiteral = format;
    auto addLiteral = [&](const C *pStop) {
        const int64_t first = pEnd - pLiteral;
        const int64_t count = pStop - pLiteral;
        nMaxLen += count * first - count * (count - 1) / 2;
    };
    bool bBad = false;
    ForEachDirective(format, [&](const C *pStart, const Directive<C> &d, bool bInOrder) {
        addLiteral(pStart);
        pLiteral = d.pEnd;
        nMaxLen += 2 * d.nAlt;
        const int nWidth = d.width.bStar ? source.NextInt(d.width) : d.nWidth;
        if (static_cast<KT_UINT32>(nWidth) > kMaxFieldWidth) {
            est.pFormat = Traits::BadWidth();
            nMaxLen = 10;
            bBad = true;
            return false;
        }
        const int nPrecision = d.precision.bStar ? source.NextInt(d.precision) : d.nPrecision;
        if (static_cast<KT_UINT32>(nPrecision) > kMaxFieldWidth) {
            est.pFormat = Traits::BadPrecision();
            nMaxLen = 14;
            bBad = true;
            return false;
        }
        const ArgType type = d.DataType(bInOrder);
        ArgValue value;
        value.f = 0;
        if (type != kArgNone)
            value = source.Next(d.nDataPos, type);
        const int64_t nWidthPrec = static_cast<int64_t>(nWidth) + nPrecision;
        // Grouped digits and the locale's own digits may take several bytes per digit.
        const int64_t nLocalized = d.bLocalized ? 4 : 1;
        int64_t nItemLen = -1; // text items: the larger of it and the width is added
        switch (d.conversion) {
        case 'c':
        case 'C':
            nItemLen = d.conversion == 'C' || d.length != kLenNone ? Traits::WideCharSize() : 1;
            if (nItemLen < 2)
                nItemLen = 2;
            break;
        case 's':
        case 'S':
            nItemLen = StringItemSize<C>(value.ptr, type == kArgWString, d.bPrecision, nPrecision);
            if (nItemLen < 1)
                nItemLen = 1;
            break;
        case 'm': // the text of errno, which is short
            nItemLen = 128;
            break;
        case '%':
            nItemLen = 1;
            break;
        case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'p':
            nMaxLen += nLocalized * (nWidthPrec > 32 ? nWidthPrec : 32);
            break;
        case 'b': case 'B': // up to 64 digits and "0b"
            nMaxLen += nLocalized * (nWidthPrec > 72 ? nWidthPrec : 72);
            break;
        case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            nMaxLen += nLocalized * (nWidthPrec > 128 ? nWidthPrec : 128);
            break;
        case 'f':
        case 'F':
            if (nWidthPrec <= 100) {
                char scratch[256];
                const int nLen =
                    snprintf(scratch, sizeof(scratch), "%*.*Lf", nWidth, nPrecision + 6, value.f);
                nMaxLen += nLocalized * (nLen > 0 ? nLen : 0);
            } else {
                nMaxLen += nLocalized * (nWidthPrec + 128);
            }
            break;
        case 'n':
            break;
        default:
            // An unknown conversion is written back as it stands: '%', flags, width,
            // precision and the character.
            nMaxLen += 32;
            break;
        }
        if (nItemLen >= 0)
            nMaxLen += nItemLen > nWidth ? nItemLen : nWidth;
        return true;
    });
    if (!bBad)
        addLiteral(pEnd);
    est.nLength = nMaxLen;
}

// The estimate of one format, or its refusal.
template <class C>
Estimate<C> EstimateFormat(const C *format, va_list argList)
{
    Estimate<C> est;
    est.pFormat = format;
    FormatSurvey survey;
    SurveyFormat(format, survey);
    if (survey.bRefused) {
        est.bRefused = true;
        return est;
    }
    est.bHasI64 = survey.bHasI64;
    va_list args;
    va_copy(args, argList);
    if (survey.bNumbered) {
        ArgValue fetched[kMaxNumberedArgs];
        for (int i = 0; i < survey.nArgs; i++)
            fetched[i] = FetchArg(args, survey.types[i]);
        ArgSource source(args, fetched);
        EstimateLength(est, source);
    } else {
        ArgSource source(args, nullptr);
        EstimateLength(est, source);
    }
    va_end(args);
    return est;
}

// A copy of the format with every "I64" prefix spelled "ll"; null on no memory.
template <class C>
C *TranslateI64(const C *format)
{
    const size_t n = static_cast<size_t>(RemainingLength(format));
    C *out = static_cast<C *>(KTMEM_DefaultAlloc2(n + 1, sizeof(C), 0));
    if (!out)
        return nullptr;
    C *q = out;
    const C *pCopied = format;
    ForEachDirective(format, [&](const C *, const Directive<C> &d, bool) {
        if (d.pI64) {
            while (pCopied < d.pI64)
                *q++ = *pCopied++;
            *q++ = 'l';
            *q++ = 'l';
            pCopied += 3;
        }
        return true;
    });
    while (*pCopied)
        *q++ = *pCopied++;
    *q = 0;
    return out;
}

// Formats into a string of the given class: one estimated allocation, filled by the C library.
// The output goes to a fresh block that replaces the old one once written, because arguments
// may point into the string being formatted.
template <class C, class S>
void FormatInto(S &str, const C *lpszFormat, va_list argList)
{
    typedef FormatTraits<C> Traits;
    // "%m" prints the caller's errno, which the allocations below may change.
    const int nCallerErrno = errno;
    Estimate<C> est = EstimateFormat(lpszFormat, argList);
    if (est.bRefused) {
        str.Empty();
        errno = nCallerErrno;
        return;
    }
    const C *format = est.pFormat;
    int64_t nMaxLen = est.nLength;
    C *translated = est.bHasI64 && format == lpszFormat ? TranslateI64(format) : nullptr;
    if (translated)
        format = translated;
    if (nMaxLen > kMaxEstimate) {
        if (Traits::ReportsNeededLength()) {
            va_list args;
            va_copy(args, argList);
            errno = nCallerErrno;
            const int nNeeded = Traits::Print(nullptr, 0, format, args);
            va_end(args);
            nMaxLen = nNeeded > 0 ? nNeeded : 0;
        } else {
            // The wide formatter cannot tell the size it needs; start lower and grow below.
            nMaxLen = kMaxEstimate;
        }
    }
    // The estimate is an upper bound for ordinary arguments; should the C library still need
    // more (very long float text), the block is grown and the output redone, so the result is
    // never cut short. Text the locale cannot encode fails the same at any size.
    S result;
    for (int nAttempt = 0; nAttempt < 8; nAttempt++) {
        if (nMaxLen > INT32_MAX - 1)
            break;
        C *buf = result.GetBuffer(static_cast<int>(nMaxLen));
        if (!buf)
            break;
        va_list args;
        va_copy(args, argList);
        errno = nCallerErrno;
        const int nWritten = Traits::Print(buf, static_cast<size_t>(nMaxLen) + 1, format, args);
        const int nPrintErrno = errno;
        va_end(args);
        if (nWritten >= 0 && nWritten <= nMaxLen)
            break;
        buf[0] = 0;
        if (nWritten > nMaxLen)
            nMaxLen = nWritten;
        else if (nPrintErrno == EILSEQ && nCallerErrno != EILSEQ)
            break;
        else
            nMaxLen = nMaxLen * 2 + 256;
    }
    result.ReleaseBuffer(-1);
    str = result;
    KTMEM_DefaultFree(translated, 0);
    errno = nCallerErrno;
}

// Writes the digits of i by the FormatInteger rules into buf (room for 12) and returns the
// length; not terminated.
int IntegerText(int i, KT_UINT32 flags, char *buf)
{
    char digits[12];
    int nDigits = 0;
    bool bNegative = (flags & 1) && i < 0;
    KT_UINT32 value = bNegative ? 0u - static_cast<KT_UINT32>(i) : static_cast<KT_UINT32>(i);
    KT_UINT32 base = (flags & 2) ? 16 : 10;
    const char *set = (flags & 4) ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[nDigits++] = set[value % base];
        value /= base;
    } while (value);
    int n = 0;
    if (bNegative)
        buf[n++] = '-';
    while (nDigits)
        buf[n++] = digits[--nDigits];
    return n;
}

} // namespace

void CKT_ByteString::Format(const char *lpszFormat, ...)
{
    va_list argList;
    va_start(argList, lpszFormat);
    FormatV(lpszFormat, argList);
    va_end(argList);
}

void CKT_ByteString::FormatV(const char *lpszFormat, va_list argList)
{
    FormatInto(*this, lpszFormat, argList);
}

void CKT_WideString::Format(const wchar_t *lpszFormat, ...)
{
    va_list argList;
    va_start(argList, lpszFormat);
    FormatV(lpszFormat, argList);
    va_end(argList);
}

void CKT_WideString::FormatV(const wchar_t *lpszFormat, va_list argList)
{
    FormatInto(*this, lpszFormat, argList);
}

CKT_ByteString CKT_ByteString::FormatInteger(int i, KT_UINT32 flags)
{
    char buf[12];
    int n = IntegerText(i, flags, buf);
    return CKT_ByteString(buf, n);
}

CKT_ByteString CKT_ByteString::FormatFloat(float f, int)
{
    char buf[32];
    int n = KT_ftoa(f, buf);
    return CKT_ByteString(buf, n);
}

int KTSYS_round(float f)
{
    return static_cast<int>(f < 0 ? f - 0.5f : f + 0.5f);
}

int KT_ftoa(float f, char *buf)
{
    if (f == 0) {
        buf[0] = '0';
        buf[1] = 0;
        return 1;
    }
    if (isnan(f)) {
        memcpy(buf, "nan", 3);
        return 3;
    }
    bool bNegative = f < 0;
    float m = bNegative ? -f : f;
    int n = 0;
    if (m >= 2147483648.0f) {
        // Past the 32-bit arithmetic: every such float is an integer, written exactly while
        // its digits fit the 32-character buffer, in exponent form beyond.
        char text[64];
        int len;
        if (isinf(m))
            len = snprintf(text, sizeof(text), "inf");
        else if (m < 1e31f)
            len = snprintf(text, sizeof(text), "%.0f", static_cast<double>(m));
        else
            len = snprintf(text, sizeof(text), "%.6e", static_cast<double>(m));
        if (bNegative)
            buf[n++] = '-';
        memcpy(buf + n, text, static_cast<size_t>(len));
        return n + len;
    }
    int scale = 1;
    int rounded = KTSYS_round(m);
    while (rounded <= 99999 && scale < 1000000) {
        scale *= 10;
        float product = m * static_cast<float>(scale);
        rounded = KTSYS_round(product);
    }
    if (rounded == 0) {
        buf[0] = '0';
        buf[1] = 0;
        return 1;
    }
    if (bNegative)
        buf[n++] = '-';
    n += IntegerText(rounded / scale, 0, buf + n);
    int fraction = rounded % scale;
    if (fraction == 0)
        return n;
    buf[n++] = '.';
    for (int digit = scale / 10; fraction != 0 && digit != 0; digit /= 10) {
        buf[n++] = static_cast<char>('0' + fraction / digit);
        fraction %= digit;
    }
    return n;
}

void CKT_StringBufBase::Copy(const CKT_ByteStringC &str)
{
    m_Size = 0;
    Append(str);
}

void CKT_StringBufBase::Append(const CKT_ByteStringC &str)
{
    int n = str.GetLength();
    if (n > m_Limit - m_Size)
        n = m_Limit - m_Size;
    if (n <= 0)
        return;
    memcpy(GetPtr() + m_Size, str.GetPtr(), static_cast<size_t>(n));
    m_Size += n;
}

void CKT_StringBufBase::Append(int i, KT_UINT32 flags)
{
    char buf[12];
    int n = IntegerText(i, flags, buf);
    Append(CKT_ByteStringC(buf, n));
}
