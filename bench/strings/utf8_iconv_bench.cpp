// UTF-8 decode and encode between bytes and 32-bit wide text, side by side with glibc's iconv
// ("UTF-8" <-> "WCHAR_T") on the same generated mixed-script text. Prints the throughput of
// both and the ratio (library / iconv; above 1 means the library is faster).
//
// Usage: bench_utf8_iconv [megabytes]   (default 100)
#include "kt_basic.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <time.h>

#include <string>
#include <vector>

namespace {

// Words of several scripts, so that one-, two-, three- and four-byte sequences all occur.
const char *const kWords[] = {
    "update",
    "reader",
    "version",
    "module",
    "download",
    "install",
    "package",
    "catalogue",
    "\xc3\xa9t\xc3\xa9",
    "gr\xc3\xb6\xc3\x9f"
    "e",
    "ni\xc3\xb1o",
    "fa\xc3\xa7"
    "ade",
    "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
    "\xd0\xbc\xd0\xb8\xd1\x80",
    "\xce\xb1\xce\xbb\xcf\x86\xce\xb1",
    "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d",
    "\xd8\xa7\xd9\x84\xd8\xb9\xd8\xb1\xd8\xa8\xd9\x8a\xd8\xa9",
    "\xe4\xbd\xa0\xe5\xa5\xbd",
    "\xe4\xb8\x96\xe7\x95\x8c",
    "\xe6\x9b\xb4\xe6\x96\xb0",
    "\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf",
    "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4",
    "\xe0\xa4\xb9\xe0\xa4\xbf\xe0\xa4\x82\xe0\xa4\xa6\xe0\xa5\x80",
    "\xf0\x9f\x98\x80",
    "\xf0\x9f\x9a\x80",
    "\xe2\x82\xac"
    "42",
};

std::string MakeText(size_t bytes)
{
    std::string text;
    text.reserve(bytes + 64);
    KT_UINT32 seed = 12345;
    const size_t nWords = sizeof(kWords) / sizeof(kWords[0]);
    while (text.size() < bytes) {
        seed = seed * 1103515245u + 12345u;
        text += kWords[(seed >> 16) % nWords];
        text += (seed & 0x1F) == 0 ? ".\n" : " ";
    }
    return text;
}

// CPU time of this thread: the machine is shared, and time spent descheduled says nothing
// about either converter.
double ThreadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Converts with iconv into a freshly allocated buffer, as the library allocates its result.
// Returns the output size in bytes, or 0 on failure.
size_t IconvConvert(const char *to, const char *from, const char *in, size_t inBytes,
                    std::vector<char> *pOut, size_t outCapacity)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return 0;
    char *out = static_cast<char *>(malloc(outCapacity));
    char *pIn = const_cast<char *>(in);
    char *pOutPos = out;
    size_t inLeft = inBytes;
    size_t outLeft = outCapacity;
    size_t rc = iconv(cd, &pIn, &inLeft, &pOutPos, &outLeft);
    iconv_close(cd);
    size_t produced = outCapacity - outLeft;
    if (rc == static_cast<size_t>(-1) || inLeft != 0)
        produced = 0;
    if (pOut)
        pOut->assign(out, out + produced);
    free(out);
    return produced;
}

// Runs both contenders alternately, so that drifting machine load affects them alike, and
// keeps each one's best time.
template <class A, class B>
void BestOfPairs(int runs, A a, B b, double *pBestA, double *pBestB)
{
    *pBestA = *pBestB = 1e30;
    for (int i = 0; i < runs; i++) {
        double start = ThreadSeconds();
        a();
        double t = ThreadSeconds() - start;
        if (t < *pBestA)
            *pBestA = t;
        start = ThreadSeconds();
        b();
        t = ThreadSeconds() - start;
        if (t < *pBestB)
            *pBestB = t;
    }
}

} // namespace

int main(int argc, char **argv)
{
    size_t megabytes = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 100;
    if (megabytes == 0 || megabytes > 500) {
        fprintf(stderr, "megabytes must be 1 ... 500\n");
        return 2;
    }
    const int runs = 5;
    std::string text = MakeText(megabytes * 1000000);
    const double mb = static_cast<double>(text.size()) / 1e6;

    // Correctness first: both sides must produce the same text.
    CKT_WideString wide = CKT_WideString::FromUTF8(text.data(), static_cast<int>(text.size()));
    std::vector<char> iconvWide;
    IconvConvert("WCHAR_T", "UTF-8", text.data(), text.size(), &iconvWide, text.size() * 4);
    if (iconvWide.size() != static_cast<size_t>(wide.GetLength()) * sizeof(wchar_t) ||
        memcmp(iconvWide.data(), wide.GetPtr(), iconvWide.size()) != 0) {
        fprintf(stderr, "decode results differ\n");
        return 1;
    }
    iconvWide = std::vector<char>();
    CKT_ByteString utf8 = wide.UTF8Encode();
    if (static_cast<size_t>(utf8.GetLength()) != text.size() ||
        memcmp(utf8.GetPtr(), text.data(), text.size()) != 0) {
        fprintf(stderr, "encode result differs from the input\n");
        return 1;
    }
    utf8.Empty();

    double libDecode, iconvDecode;
    BestOfPairs(
        runs,
        [&] {
            CKT_WideString w = CKT_WideString::FromUTF8(text.data(), static_cast<int>(text.size()));
            if (w.IsEmpty())
                abort();
        },
        [&] {
            if (!IconvConvert("WCHAR_T", "UTF-8", text.data(), text.size(), nullptr,
                              text.size() * 4))
                abort();
        },
        &libDecode, &iconvDecode);
    const char *wideBytes = reinterpret_cast<const char *>(wide.GetPtr());
    size_t wideSize = static_cast<size_t>(wide.GetLength()) * sizeof(wchar_t);
    double libEncode, iconvEncode;
    BestOfPairs(
        runs,
        [&] {
            CKT_ByteString b = wide.UTF8Encode();
            if (b.IsEmpty())
                abort();
        },
        [&] {
            if (!IconvConvert("UTF-8", "WCHAR_T", wideBytes, wideSize, nullptr, text.size() + 16))
                abort();
        },
        &libEncode, &iconvEncode);

    printf("text: %.1f MB of UTF-8 (%d characters), best thread CPU time of %d runs\n", mb,
           wide.GetLength(), runs);
    printf("%-8s %14s %14s %8s\n", "", "library MB/s", "iconv MB/s", "ratio");
    printf("%-8s %14.0f %14.0f %8.2f\n", "decode", mb / libDecode, mb / iconvDecode,
           iconvDecode / libDecode);
    printf("%-8s %14.0f %14.0f %8.2f\n", "encode", mb / libEncode, mb / iconvEncode,
           iconvEncode / libEncode);
    return 0;
}
