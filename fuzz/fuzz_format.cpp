// Format and FormatV, byte and wide, against the C library's snprintf and swprintf.
//
// The input drives a generator of formats over one fixed argument list of sixteen typed slots:
// each directive reads a slot whose type fits it (in order, or by "m$" number, or both mixed),
// so every format is one the C library may be given. Flags, widths, precisions and length
// modifiers come from the input, as do the values, unknown conversions, "%m", "%n", literal
// text and a format cut off inside a directive. The library must then produce exactly the C
// library's text, or "Bad width" / "Bad precision" where its own limits apply, or the empty
// string for the formats it refuses (cut off, or numbered with an argument left out).
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "kt_basic.h"

namespace {

enum Kind { Int, Long, LongLong, Double, LongDouble, Narrow, Wide, Pointer };

constexpr int kSlots = 16;
constexpr Kind kSlotKinds[kSlots] = {Int,     Narrow, Double, Long,   Wide,   LongLong,
                                     Int,     LongDouble, Pointer, Int, Narrow, Double,
                                     Int,     Wide,   LongLong, Int};
constexpr long kFieldLimit = 0x20000;

// The argument values, chosen by the input.
struct Slots
{
    int i[kSlots];
    long l[kSlots];
    long long ll[kSlots];
    double d[kSlots];
    long double ld[kSlots];
    const char *s[kSlots];
    const wchar_t *w[kSlots];
    void *p[kSlots];
};

long long g_written; // target of "%n"
const std::string g_longText(300, 'x');
const std::wstring g_longWide(300, L'y');

// Calls f with the sixteen slots as arguments of their types.
template <class F>
auto WithArguments(const Slots &a, F f)
{
    return f(a.i[0], a.s[1], a.d[2], a.l[3], a.w[4], a.ll[5], a.i[6], a.ld[7], a.p[8], a.i[9],
             a.s[10], a.d[11], a.i[12], a.w[13], a.ll[14], a.i[15]);
}

class Input
{
public:
    Input(const std::uint8_t *data, std::size_t size) : m_p(data), m_end(data + size) {}
    bool Empty() const { return m_p == m_end; }
    unsigned Byte() { return m_p < m_end ? *m_p++ : 0; }
    unsigned Pick(unsigned n) { return Byte() % n; }

private:
    const std::uint8_t *m_p;
    const std::uint8_t *m_end;
};

template <class T, std::size_t N>
T PickFrom(Input &in, const T (&choices)[N])
{
    return choices[in.Pick(N)];
}

// Builds the library's format and the C library's spelling of it side by side, tracking what
// the expected result depends on.
class Generator
{
public:
    Generator(Input &in, const Slots &slots) : m_in(in), m_slots(slots) {}

    std::string ours, theirs;
    bool refused = false;    // cut off, or numbered with an argument left out
    const char *bad = nullptr; // the first "Bad width" or "Bad precision"

    void Run()
    {
        m_mode = m_in.Pick(3); // 0: in order, 1: numbered, 2: both mixed
        for (int n = 0; n < 24 && !m_in.Empty(); ++n) {
            switch (m_in.Pick(16)) {
            case 0: case 1: case 2: case 3: Literal(); break;
            case 4: Both("%%"); break;
            case 5: Directive('m'); break;
            case 6: Directive(PickFrom(m_in, {'y', 'k', 'r', 'v', 'N', 'K', 'R', '%'})); break;
            default: Directive(0); break;
            }
        }
        if (m_in.Pick(8) == 0) {
            Both(PickFrom(m_in, {"%", "%5", "%l", "%-.", "%1$"}));
            refused = true;
        }
        if (m_numbered) {
            const int used = m_maxUsed > m_next ? m_maxUsed : m_next;
            for (int i = 0; i < used; ++i)
                refused = refused || !m_used[i];
        }
    }

private:
    void Both(const std::string &text)
    {
        ours += text;
        theirs += text;
    }

    void Literal()
    {
        for (unsigned n = m_in.Pick(8) + 1; n; --n) {
            char c = static_cast<char>(' ' + m_in.Pick(95));
            Both(std::string(1, c == '%' ? '_' : c));
        }
    }

    // Whether the next argument read is taken by number: always, never or as the input says.
    bool Numbered() { return m_mode == 1 || (m_mode == 2 && m_in.Pick(2)); }

    // The slot of the next argument read, by number or the next in order; -1 when no slot of
    // the wanted kind is to be had (anyKind: every kind will do).
    int TakeSlot(bool numbered, bool anyKind, Kind wanted)
    {
        int slot;
        if (numbered) {
            slot = static_cast<int>(m_in.Pick(kSlots));
            for (int tries = 0; !anyKind && kSlotKinds[slot] != wanted && tries < kSlots; ++tries)
                slot = (slot + 1) % kSlots;
            m_numbered = true;
            if (slot + 1 > m_maxUsed)
                m_maxUsed = slot + 1;
        } else {
            if (m_next >= kSlots || (!anyKind && kSlotKinds[m_next] != wanted))
                return -1;
            slot = m_next++;
        }
        m_used[slot] = true;
        return slot;
    }

    struct Field
    {
        std::string text;
        bool numbered = false; // a '*' with "m$"
    };

    // A width or precision: absent, written, or a '*' argument. Notes the first value beyond
    // the library's limit.
    Field ReadField(bool precision)
    {
        Field f;
        long value = 0;
        switch (m_in.Pick(4)) {
        case 0:
            return f;
        case 1:
            value = static_cast<long>(m_in.Pick(precision ? 100 : 40));
            f.text = std::to_string(value);
            if (m_in.Pick(32) == 0) {
                value = 200000;
                f.text = "200000";
            }
            break;
        case 2: {
            f.numbered = Numbered();
            const int slot = TakeSlot(f.numbered, false, Int);
            if (slot < 0)
                return Field();
            value = m_slots.i[slot];
            f.text = f.numbered ? "*" + std::to_string(slot + 1) + "$" : "*";
            break;
        }
        case 3:
            if (!precision)
                return f;
            break; // "." alone: precision 0
        }
        if (precision)
            f.text = "." + f.text;
        if (!bad && static_cast<unsigned long>(value) > static_cast<unsigned long>(kFieldLimit))
            bad = precision ? "Bad precision" : "Bad width";
        return f;
    }

    // One directive; conversion 0 picks one for the kind of the argument it reads.
    void Directive(char conversion)
    {
        std::string flags;
        const unsigned bits = m_in.Byte();
        for (int b = 0; b < 7; ++b)
            if (bits & (1u << b))
                flags += "-+ #0'I"[b];
        // The C library hands out positions in order to the '*' width, the '*' precision and
        // then the value, although the value's number comes first in the text.
        const Field width = ReadField(false);
        const Field precision = ReadField(true);
        std::string number, length, cLength;
        if (conversion == 0) {
            const bool numbered = Numbered();
            const int slot = TakeSlot(numbered, true, Int);
            if (slot < 0) {
                conversion = '%';
            } else {
                if (numbered)
                    number = std::to_string(slot + 1) + "$";
                // A numbered directive is read by the C library's second reader from here on.
                if (numbered || width.numbered || precision.numbered)
                    m_inOrder = false;
                PickConversion(kSlotKinds[slot], conversion, length, cLength);
            }
        }
        if (width.numbered || precision.numbered)
            m_inOrder = false;
        if (std::string("diouxXbBeEfFgGaAcCsSpnm%").find(conversion) == std::string::npos)
            m_inOrder = false; // so does an unknown conversion
        // "I" as the last flag before a width of 64 would spell this library's I64 prefix.
        if (!flags.empty() && flags.back() == 'I' && width.text.rfind("64", 0) == 0)
            flags.pop_back();
        const std::string head = "%" + number + flags + width.text + precision.text;
        ours += head + length + conversion;
        theirs += head + cLength + conversion;
    }

    void PickConversion(Kind kind, char &conversion, std::string &length, std::string &cLength)
    {
        switch (kind) {
        case Int:
            conversion = PickFrom(m_in, {'d', 'i', 'o', 'u', 'x', 'X', 'b', 'B', 'c', 'C'});
            if (conversion != 'c' && conversion != 'C')
                length = PickFrom(m_in, {"", "h", "hh"});
            break;
        case Long:
            conversion = PickFrom(m_in, {'d', 'i', 'o', 'u', 'x', 'X', 'b', 'B'});
            length = PickFrom(m_in, {"l", "z", "Z", "t", "j"});
            break;
        case LongLong:
            conversion = PickFrom(m_in, {'d', 'i', 'o', 'u', 'x', 'X', 'b', 'B'});
            // The C library's second reader takes "q" and "L" integers as 32-bit, and one
            // argument read both ways shows bytes it never set; so they stay out of formats
            // that may number their arguments.
            length = m_mode == 0 ? PickFrom(m_in, {"ll", "q", "L", "I64"})
                                 : PickFrom(m_in, {"ll", "I64"});
            break;
        case Double:
            conversion = PickFrom(m_in, {'e', 'E', 'f', 'F', 'g', 'G', 'a', 'A'});
            length = PickFrom(m_in, {"", "l", "h", "z"});
            break;
        case LongDouble:
            conversion = PickFrom(m_in, {'e', 'E', 'f', 'F', 'g', 'G', 'a', 'A'});
            length = PickFrom(m_in, {"L", "q", "ll"});
            break;
        case Narrow:
            conversion = 's';
            // "L" and "q" make the string wide only while the directives are read in order.
            length = m_inOrder ? PickFrom(m_in, {"", "h", "hh"})
                               : PickFrom(m_in, {"", "h", "hh", "L", "q"});
            break;
        case Wide:
            conversion = PickFrom(m_in, {'s', 'S'});
            if (conversion == 'S')
                length = PickFrom(m_in, {"", "h", "l"});
            else if (m_inOrder)
                length = PickFrom(m_in, {"l", "ll", "z", "j", "t", "Z", "L", "q"});
            else
                length = PickFrom(m_in, {"l", "ll", "z", "j", "t", "Z"});
            break;
        case Pointer:
            conversion = PickFrom(m_in, {'p', 'n'});
            if (conversion == 'n')
                length = PickFrom(m_in, {"", "hh", "h", "l", "ll"});
            break;
        }
        cLength = length == "I64" ? "ll" : length;
        // A single 'h' before anything but an integer conversion hands over to the second
        // reader as well.
        if (length == "h" && std::string("diouxXbBn").find(conversion) == std::string::npos)
            m_inOrder = false;
    }

    Input &m_in;
    const Slots &m_slots;
    unsigned m_mode = 0;
    int m_next = 0;
    int m_maxUsed = 0;
    bool m_numbered = false;
    bool m_inOrder = true;
    bool m_used[kSlots] = {};
};

void FillSlots(Input &in, Slots &a)
{
    static const int ints[] = {0, 3, 17, 65, -5, 200000, 131073, INT_MIN, INT_MAX, 'A', 0xE9};
    static const long longs[] = {0, -1, LONG_MIN, LONG_MAX, 1234567890123L};
    static const long long longlongs[] = {0, -1, LLONG_MIN, LLONG_MAX, 98765432109876LL};
    static const double doubles[] = {0.0, -0.0, 1.5, -1234.5678, 1e300, 1e-300, 123456789.0,
                                     INFINITY, -INFINITY, NAN, 0.1};
    static const long double longdoubles[] = {0.0L, 2.5L, -1e4000L, 1e-4000L, 3.0L / 7,
                                              INFINITY};
    const char *narrow[] = {"", "text", g_longText.c_str(), "caf\xc3\xa9", nullptr};
    const wchar_t *wide[] = {L"", L"wide", g_longWide.c_str(), L"\u00e9t\u00e9", nullptr};
    void *pointers[] = {&g_written, nullptr};
    for (int k = 0; k < kSlots; ++k) {
        // Mostly small values, so that '*' fields stay usable.
        a.i[k] = in.Pick(4) ? static_cast<int>(in.Pick(30)) : PickFrom(in, ints);
        a.l[k] = PickFrom(in, longs);
        a.ll[k] = PickFrom(in, longlongs);
        a.d[k] = PickFrom(in, doubles);
        a.ld[k] = PickFrom(in, longdoubles);
        a.s[k] = narrow[in.Pick(5)];
        a.w[k] = wide[in.Pick(5)];
        a.p[k] = kSlotKinds[k] == Pointer ? &g_written : pointers[in.Pick(2)];
    }
}

[[noreturn]] void Differs(const std::string &format, const char *form, const std::string &got,
                          const std::string &expect)
{
    std::fprintf(stderr, "%s Format differs from the C library for \"%s\":\n  got    \"%s\"\n"
                         "  expect \"%s\"\n",
                 form, format.c_str(), got.c_str(), expect.c_str());
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 4096)
        return 0;
    Input in(data, size);
    Slots slots;
    FillSlots(in, slots);
    const int callerErrno = PickFrom(in, {0, EACCES, ENOENT, EILSEQ});
    Generator gen(in, slots);
    gen.Run();

    // Byte form.
    std::string expect;
    bool expectEmpty = gen.refused;
    if (!gen.refused && gen.bad) {
        expect = gen.bad;
    } else if (!gen.refused) {
        errno = callerErrno;
        const int n = WithArguments(slots, [&](auto... args) {
            return std::snprintf(nullptr, 0, gen.theirs.c_str(), args...);
        });
        if (n < 0) {
            expectEmpty = true;
        } else {
            std::vector<char> out(static_cast<std::size_t>(n) + 1);
            errno = callerErrno;
            WithArguments(slots, [&](auto... args) {
                return std::snprintf(out.data(), out.size(), gen.theirs.c_str(), args...);
            });
            expect = out.data(); // the strings end at a zero character written by "%c"
        }
    }
    CKT_ByteString s("previous");
    errno = callerErrno;
    WithArguments(slots, [&](auto... args) {
        s.Format(gen.ours.c_str(), args...);
        return 0;
    });
    const std::string got = s.GetCStr() ? s.GetCStr() : "";
    if (errno != callerErrno)
        Differs(gen.ours, "byte (errno)", got, expect);
    if (expectEmpty ? !s.IsEmpty() : got != expect)
        Differs(gen.ours, "byte", got, expectEmpty ? "" : expect);

    // Wide form, the same format and arguments.
    const std::wstring wours(gen.ours.begin(), gen.ours.end());
    const std::wstring wtheirs(gen.theirs.begin(), gen.theirs.end());
    std::wstring wexpect;
    bool wexpectEmpty = gen.refused;
    if (!gen.refused && gen.bad) {
        wexpect.assign(gen.bad, gen.bad + std::strlen(gen.bad));
    } else if (!gen.refused) {
        std::vector<wchar_t> out(1 << 18);
        errno = callerErrno;
        const int n = WithArguments(slots, [&](auto... args) {
            return std::swprintf(out.data(), out.size(), wtheirs.c_str(), args...);
        });
        if (n < 0)
            wexpectEmpty = true;
        else
            wexpect = out.data();
    }
    CKT_WideString w(L"previous");
    errno = callerErrno;
    WithArguments(slots, [&](auto... args) {
        w.Format(wours.c_str(), args...);
        return 0;
    });
    const std::wstring wgot = w.GetCStr() ? w.GetCStr() : L"";
    if (wexpectEmpty ? !w.IsEmpty() : wgot != wexpect)
        Differs(gen.ours, "wide", std::string(wgot.begin(), wgot.end()),
                wexpectEmpty ? "" : std::string(wexpect.begin(), wexpect.end()));
    return 0;
}
