// KT_UTF8Decode and KT_IsUTF8Data on raw bytes. Besides the sanitizers' checks: what the decoder
// produced, written back with KT_UTF8Encode and decoded again, must come out the same; and the
// check's length never runs past the data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kt_codepage.h"

namespace {
std::vector<wchar_t> decodeAll(const char *src, int len)
{
    int sizingSrc = len;
    int needed = 0;
    if (KT_UTF8Decode(src, &sizingSrc, nullptr, &needed) != 1 || needed < 0 || needed > len ||
        sizingSrc < 0 || sizingSrc > len)
        __builtin_trap();
    std::vector<wchar_t> out(static_cast<std::size_t>(needed > 0 ? needed : 1));
    int realSrc = len;
    int produced = needed;
    if (needed > 0 &&
        (KT_UTF8Decode(src, &realSrc, out.data(), &produced) != 1 || produced != needed ||
         realSrc != sizingSrc))
        __builtin_trap();
    out.resize(static_cast<std::size_t>(needed));
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Empty input has no buffer to hand over; huge input only slows the search.
    if (size == 0 || size > (1u << 20))
        return 0;
    const std::vector<char> input(data, data + size);
    const int len = static_cast<int>(size);

    int checked = len;
    (void)KT_IsUTF8Data(reinterpret_cast<const unsigned char *>(input.data()), &checked);
    if (len > 0 && (checked < 0 || checked > len))
        __builtin_trap();

    const std::vector<wchar_t> wide = decodeAll(input.data(), len);
    if (wide.empty())
        return 0;

    int wideLen = static_cast<int>(wide.size());
    int needed = 0;
    if (KT_UTF8Encode(wide.data(), &wideLen, nullptr, &needed) != 1 || needed < 0)
        __builtin_trap();
    std::vector<char> encoded(static_cast<std::size_t>(needed > 0 ? needed : 1));
    wideLen = static_cast<int>(wide.size());
    int written = needed;
    if (needed > 0 && (KT_UTF8Encode(wide.data(), &wideLen, encoded.data(), &written) != 1 ||
                       written != needed || wideLen != static_cast<int>(wide.size())))
        __builtin_trap();
    encoded.resize(static_cast<std::size_t>(needed));

    if (decodeAll(encoded.data(), static_cast<int>(encoded.size())) != wide)
        __builtin_trap();
    return 0;
}
