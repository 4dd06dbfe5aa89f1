// KT_DecodeString and KT_EncodeString for every code page they know. The first input byte picks
// the code page, the second the flags; the rest is decoded, the result encoded back, and the raw
// bytes are also encoded read as wide characters (values no text holds included). Each call is
// made once to size its output and once more into a buffer of exactly that size, and once into
// a buffer half that size, so writing past the given capacity shows up at once.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kt_codepage.h"

namespace {
const int CodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252, 1253,
                         1254, 1255, 1256, 1257, 1258, 1200, 1201, 65001};
constexpr int CodePageCount = static_cast<int>(sizeof(CodePages) / sizeof(CodePages[0]));

template <typename From, typename To, typename Convert>
void convertChecked(Convert convert, const From *src, int srcLen, std::vector<To> &out)
{
    int sizingSrc = srcLen;
    int needed = 0;
    convert(src, &sizingSrc, static_cast<To *>(nullptr), &needed);
    if (needed < 0 || sizingSrc < 0 || sizingSrc > srcLen)
        __builtin_trap();

    // Exactly as much room as the sizing pass asked for, on the heap so the sanitizer sees its
    // end; a zero capacity would mean "size only", so keep one spare element then.
    out.assign(static_cast<std::size_t>(needed > 0 ? needed : 1), To());
    int realSrc = srcLen;
    int produced = needed;
    const int result = convert(src, &realSrc, out.data(), &produced);
    if (needed > 0 && result == 1 && (produced != needed || realSrc != sizingSrc))
        __builtin_trap();
    if (produced < 0 || produced > needed || realSrc < 0 || realSrc > srcLen)
        __builtin_trap();
    out.resize(static_cast<std::size_t>(needed > 0 ? produced : 0));

    if (needed > 1) {
        std::vector<To> half(static_cast<std::size_t>(needed / 2));
        int halfSrc = srcLen;
        int halfProduced = needed / 2;
        convert(src, &halfSrc, half.data(), &halfProduced);
        if (halfProduced < 0 || halfProduced > needed / 2 || halfSrc < 0 || halfSrc > srcLen)
            __builtin_trap();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2 || size > (1u << 20))
        return 0;
    const int codePage = CodePages[data[0] % CodePageCount];
    const bool stopOnInvalid = data[1] & 1;
    const char *bytes = reinterpret_cast<const char *>(data + 2);
    const int byteCount = static_cast<int>(size - 2);

    const auto decode = [codePage, stopOnInvalid](const char *src, int *srcLen, wchar_t *dst,
                                                  int *dstLen) {
        return KT_DecodeString(codePage, src, srcLen, dst, dstLen, stopOnInvalid);
    };
    const auto encode = [codePage, stopOnInvalid](const wchar_t *src, int *srcLen, char *dst,
                                                  int *dstLen) {
        return KT_EncodeString(codePage, src, srcLen, dst, dstLen, stopOnInvalid);
    };

    // Exact-size copies, so reading past the given length shows up too.
    std::vector<char> input(bytes, bytes + byteCount);
    std::vector<wchar_t> wide;
    convertChecked<char, wchar_t>(decode, input.data(), byteCount, wide);
    std::vector<char> back;
    convertChecked<wchar_t, char>(encode, wide.data(), static_cast<int>(wide.size()), back);

    std::vector<wchar_t> raw(static_cast<std::size_t>(byteCount) / sizeof(wchar_t));
    if (!raw.empty()) {
        std::memcpy(raw.data(), bytes, raw.size() * sizeof(wchar_t));
        convertChecked<wchar_t, char>(encode, raw.data(), static_cast<int>(raw.size()), back);
    }
    return 0;
}
