// printf-style formatting of byte and wide strings, integer and float text.
//
// Format estimates the output length by walking the format once, allocates the block once and
// lets the C library fill it. The walk must consume the variable arguments exactly as the C
// library will (it measures strings through their pointers), so it follows the C library's
// reading of the size prefixes where the two could part.
#include "kt_basic_string.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

// Widths and precisions above this end the walk with an error text instead of output.
const KT_UINT32 kMaxFieldWidth = 0x20000;
// Estimates above this many characters are measured instead: literal text is counted once per
// remaining character, which grows quadratically with long formats.
const int64_t kMaxEstimate = 0x100000;

template <class C>
struct FormatTraits;

template <>
struct FormatTraits<char>
{
    static const char *BadWidth() { return "Bad width"; }
    static const char *BadPrecision() { return "Bad precision"; }
    static int ToInt(const char *s) { return KTSYS_atoi(s); }
    // Characters written, or the length the output needs when it did not fit.
    static int Print(char *buf, size_t count, const char *format, va_list args)
    {
        return vsnprintf(buf, count, format, args);
    }
    static bool ReportsNeededLength() { return true; }
};

template <>
struct FormatTraits<wchar_t>
{
    static const wchar_t *BadWidth() { return L"Bad width"; }
    static const wchar_t *BadPrecision() { return L"Bad precision"; }
    static int ToInt(const wchar_t *s) { return KTSYS_wtoi(s); }
    // Characters written, or -1 when the output did not fit (or could not be encoded).
    static int Print(wchar_t *buf, size_t count, const wchar_t *format, va_list args)
    {
        return vswprintf(buf, count, format, args);
    }
    static bool ReportsNeededLength() { return false; }
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

enum SizePrefix {
    kSizeDefault,
    kSizeShort,     // h, hh
    kSizeLong,      // l
    kSizeLongLong,  // ll, I64, j, z, t (all 64-bit here)
    kSizeLongDouble // L
};

// The length estimate of one format. *pFormat becomes the error text for a bad width or
// precision; *pHasI64 tells that the format uses the I64 prefix, which the C library does not
// know and has to be spelled "ll".
template <class C>
int64_t EstimateLength(const C **pFormat, va_list argList, bool *pHasI64)
{
    typedef FormatTraits<C> Traits;
    va_list args;
    va_copy(args, argList);
    int64_t nMaxLen = 0;
    for (const C *p = *pFormat; *p; p++) {
        if (*p != '%' || *++p == '%') {
            nMaxLen += RemainingLength(p);
            continue;
        }
        int64_t nItemLen = 0;
        int nWidth = 0;
        for (; *p; p++) {
            if (*p == '#')
                nMaxLen += 2;
            else if (*p == '*')
                nWidth = va_arg(args, int);
            else if (*p != '-' && *p != '+' && *p != '0' && *p != ' ')
                break;
        }
        if (nWidth == 0) {
            nWidth = Traits::ToInt(p);
            while (IsDigit(*p))
                p++;
        }
        if (static_cast<KT_UINT32>(nWidth) > kMaxFieldWidth) {
            *pFormat = Traits::BadWidth();
            va_end(args);
            return 10;
        }
        int nPrecision = 0;
        if (*p == '.') {
            p++;
            if (*p == '*') {
                nPrecision = va_arg(args, int);
                p++;
            } else {
                nPrecision = Traits::ToInt(p);
                while (IsDigit(*p))
                    p++;
            }
            if (static_cast<KT_UINT32>(nPrecision) > kMaxFieldWidth) {
                *pFormat = Traits::BadPrecision();
                va_end(args);
                return 14;
            }
        }
        SizePrefix size = kSizeDefault;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            size = kSizeLongLong;
            *pHasI64 = true;
            p += 3;
        } else if (*p == 'h') {
            size = kSizeShort;
            p += p[1] == 'h' ? 2 : 1;
        } else if (*p == 'l') {
            size = p[1] == 'l' ? kSizeLongLong : kSizeLong;
            p += p[1] == 'l' ? 2 : 1;
        } else if (*p == 'j' || *p == 'z' || *p == 't') {
            size = kSizeLongLong;
            p++;
        } else if (*p == 'L') {
            size = kSizeLongDouble;
            p++;
        }
        int64_t nWidthPrec = static_cast<int64_t>(nWidth) + nPrecision;
        switch (*p) {
        case 'c':
        case 'C':
            nItemLen = 2;
            va_arg(args, int);
            break;
        case 's':
        case 'S': {
            bool bWide = *p == 'S' ? size != kSizeShort : size == kSizeLong;
            if (bWide) {
                const wchar_t *s = va_arg(args, const wchar_t *);
                nItemLen = s ? static_cast<int64_t>(wcslen(s)) : 6;
            } else {
                const char *s = va_arg(args, const char *);
                nItemLen = s ? static_cast<int64_t>(strlen(s)) : 6;
            }
            if (nItemLen < 1)
                nItemLen = 1;
            break;
        }
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (size == kSizeLongLong)
                va_arg(args, long long);
            else if (size == kSizeLong)
                va_arg(args, long);
            else
                va_arg(args, int);
            nMaxLen += nWidthPrec > 32 ? nWidthPrec : 32;
            break;
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (size == kSizeLongDouble)
                va_arg(args, long double);
            else
                va_arg(args, double);
            nMaxLen += nWidthPrec > 128 ? nWidthPrec : 128;
            break;
        case 'f':
        case 'F': {
            // 'F' is the upper-case form of 'f' for the C library, so it is read as one here.
            long double value =
                size == kSizeLongDouble ? va_arg(args, long double) : va_arg(args, double);
            if (nWidthPrec <= 100) {
                char scratch[256];
                int nLen =
                    snprintf(scratch, sizeof(scratch), "%*.*Lf", nWidth, nPrecision + 6, value);
                nMaxLen += nLen > 0 ? nLen : 0;
            } else {
                nMaxLen += nWidthPrec + 128;
            }
            break;
        }
        case 'p':
            va_arg(args, void *);
            nMaxLen += nWidthPrec > 32 ? nWidthPrec : 32;
            break;
        case 'n':
            va_arg(args, int *);
            break;
        default:
            break;
        }
        if (nItemLen != 0) {
            if (nPrecision != 0 && nPrecision < nItemLen)
                nItemLen = nPrecision;
            nMaxLen += nItemLen > nWidth ? nItemLen : nWidth;
        }
        if (!*p)
            break;
    }
    va_end(args);
    return nMaxLen;
}

// A copy of the format with every "I64" prefix after a '%' spelled "ll"; null on no memory.
template <class C>
C *TranslateI64(const C *format)
{
    size_t n = static_cast<size_t>(RemainingLength(format));
    C *out = static_cast<C *>(KTMEM_DefaultAlloc2(n + 1, sizeof(C), 0));
    if (!out)
        return nullptr;
    C *q = out;
    bool bInDirective = false;
    for (const C *p = format; *p;) {
        if (!bInDirective) {
            bInDirective = *p == '%' && p[1] != '%';
            if (*p == '%' && p[1] == '%')
                *q++ = *p++;
            *q++ = *p++;
            continue;
        }
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            *q++ = 'l';
            *q++ = 'l';
            p += 3;
            continue;
        }
        // The conversion letter ends the directive.
        if ((*p >= 'a' && *p <= 'z' && *p != 'h' && *p != 'l' && *p != 'j' && *p != 'z' &&
             *p != 't') ||
            (*p >= 'A' && *p <= 'Z' && *p != 'I' && *p != 'L'))
            bInDirective = false;
        *q++ = *p++;
    }
    *q = 0;
    return out;
}

// Formats into a string of the given class: one estimated allocation, filled by the C library.
template <class C, class S>
void FormatInto(S &str, const C *lpszFormat, va_list argList)
{
    typedef FormatTraits<C> Traits;
    bool bHasI64 = false;
    const C *format = lpszFormat;
    int64_t nMaxLen = EstimateLength(&format, argList, &bHasI64);
    C *translated = bHasI64 && format == lpszFormat ? TranslateI64(format) : nullptr;
    if (translated)
        format = translated;
    if (nMaxLen > kMaxEstimate) {
        if (Traits::ReportsNeededLength()) {
            va_list args;
            va_copy(args, argList);
            int nNeeded = Traits::Print(nullptr, 0, format, args);
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
    for (int nAttempt = 0; nAttempt < 8; nAttempt++) {
        if (nMaxLen > INT32_MAX - 1)
            break;
        C *buf = str.GetBuffer(static_cast<int>(nMaxLen));
        if (!buf)
            break;
        va_list args;
        va_copy(args, argList);
        errno = 0;
        int nWritten = Traits::Print(buf, static_cast<size_t>(nMaxLen) + 1, format, args);
        va_end(args);
        if (nWritten >= 0 && nWritten <= nMaxLen)
            break;
        buf[0] = 0;
        if (nWritten > nMaxLen)
            nMaxLen = nWritten;
        else if (errno == EILSEQ)
            break;
        else
            nMaxLen = nMaxLen * 2 + 256;
    }
    str.ReleaseBuffer(-1);
    KTMEM_DefaultFree(translated, 0);
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
