// Decodes and encodes about 100 MB of GBK (code page 936) text and of code page 1252 text with
// the built-in tables and with glibc iconv on the same data, checks that both agree, and prints
// the best throughput of five runs and the speed ratios (iconv time / table time: above 1
// means faster than iconv).
//
// Usage: bench_codepages [megabytes]   (default 100)
#include "kt_codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const size_t kChunk = 1 << 20; // bytes or characters handed over per call

struct Lcg
{
    uint64_t s = 0x2545F4914F6CDD1DULL;
    uint32_t Next()
    {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(s >> 33);
    }
};

// The benchmark's own CPU time: the machine is shared, and time spent waiting for a core is no
// part of either converter's cost.
double CpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Text of about nBytes bytes in the code page that alternates, like real text, between runs of
// characters from the pool (mean length nPoolRun) and runs of ASCII letters, digits, spaces and
// punctuation (mean length nAsciiRun); every character is one both converters map the same way.
std::string MakeText(int nCodePage, const std::vector<wchar_t> &pool, int nPoolRun, int nAsciiRun,
                     size_t nBytes)
{
    static const char kAscii[] = "etaoinshrdlucmfwypvbgkqjxz ETAOINSHRD0123456789 .,;:-()\n";
    std::string text;
    text.reserve(nBytes + 64);
    Lcg rng;
    char buf[4];
    bool bPool = true;
    while (text.size() < nBytes) {
        const int nMean = bPool ? nPoolRun : nAsciiRun;
        const int nRun = 1 + static_cast<int>(rng.Next() % (2 * nMean - 1));
        for (int i = 0; i < nRun; ++i) {
            const uint32_t r = rng.Next();
            const wchar_t wch = bPool ? pool[r % pool.size()]
                                      : static_cast<wchar_t>(kAscii[r % (sizeof(kAscii) - 1)]);
            int nSrc = 1;
            int nDst = 4;
            KT_EncodeString(nCodePage, &wch, &nSrc, buf, &nDst, true);
            text.append(buf, nDst);
        }
        bPool = !bPool;
    }
    return text;
}

double DecodeTables(int nCodePage, const std::string &in, std::vector<wchar_t> &out)
{
    out.resize(in.size());
    const double t0 = CpuSeconds();
    size_t nIn = 0;
    size_t nOut = 0;
    while (nIn < in.size()) {
        int nSrc = static_cast<int>(std::min(kChunk, in.size() - nIn));
        int nDst = static_cast<int>(out.size() - nOut);
        if (KT_DecodeString(nCodePage, in.data() + nIn, &nSrc, out.data() + nOut, &nDst, false) !=
                1 ||
            nSrc == 0) {
            std::fprintf(stderr, "table decode failed\n");
            std::exit(1);
        }
        nIn += nSrc;
        nOut += nDst;
    }
    const double t = CpuSeconds() - t0;
    out.resize(nOut);
    return t;
}

double EncodeTables(int nCodePage, const std::vector<wchar_t> &in, std::string &out)
{
    out.resize(in.size() * 2);
    const double t0 = CpuSeconds();
    size_t nIn = 0;
    size_t nOut = 0;
    while (nIn < in.size()) {
        int nSrc = static_cast<int>(std::min(kChunk, in.size() - nIn));
        int nDst = static_cast<int>(out.size() - nOut);
        if (KT_EncodeString(nCodePage, in.data() + nIn, &nSrc, &out[nOut], &nDst, false) != 1) {
            std::fprintf(stderr, "table encode failed\n");
            std::exit(1);
        }
        nIn += nSrc;
        nOut += nDst;
    }
    const double t = CpuSeconds() - t0;
    out.resize(nOut);
    return t;
}

// iconv in the same chunks; an incomplete character at a chunk's end is carried over.
double RunIconv(const char *to, const char *from, const char *in, size_t nInBytes, char *out,
                size_t nOutCap, size_t *pnOutBytes)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        std::exit(1);
    }
    const double t0 = CpuSeconds();
    char *pIn = const_cast<char *>(in);
    size_t nLeft = nInBytes;
    char *pOut = out;
    size_t nRoom = nOutCap;
    while (nLeft > 0) {
        size_t nPart = std::min(kChunk, nLeft);
        const size_t nPartStart = nPart;
        if (iconv(cd, &pIn, &nPart, &pOut, &nRoom) == static_cast<size_t>(-1) && errno != EINVAL) {
            std::perror("iconv");
            std::exit(1);
        }
        const size_t nDone = nPartStart - nPart;
        if (nDone == 0) {
            std::fprintf(stderr, "iconv made no progress\n");
            std::exit(1);
        }
        nLeft -= nDone;
    }
    const double t = CpuSeconds() - t0;
    iconv_close(cd);
    *pnOutBytes = static_cast<size_t>(pOut - out);
    return t;
}

const int kRounds = 5; // each figure is the best of this many runs, alternating the two sides

void Bench(const char *label, int nCodePage, const char *iconvName, const std::string &text)
{
    const double mb = static_cast<double>(text.size()) / (1 << 20);
    double tDecode = 1e9, tDecodeIconv = 1e9, tEncode = 1e9, tEncodeIconv = 1e9;
    std::vector<wchar_t> wide;
    std::vector<wchar_t> wideIconv;
    std::string bytes;
    std::string bytesIconv;
    for (int round = 0; round < kRounds; ++round) {
        tDecode = std::min(tDecode, DecodeTables(nCodePage, text, wide));

        wideIconv.assign(text.size(), 0);
        size_t nBytes = 0;
        tDecodeIconv =
            std::min(tDecodeIconv, RunIconv("WCHAR_T", iconvName, text.data(), text.size(),
                                            reinterpret_cast<char *>(wideIconv.data()),
                                            wideIconv.size() * sizeof(wchar_t), &nBytes));
        wideIconv.resize(nBytes / sizeof(wchar_t));
        if (wideIconv != wide) {
            std::fprintf(stderr, "%s: decoded text differs from iconv's\n", label);
            std::exit(1);
        }

        tEncode = std::min(tEncode, EncodeTables(nCodePage, wide, bytes));
        bytesIconv.assign(text.size() + 16, '\0');
        tEncodeIconv = std::min(tEncodeIconv, RunIconv(iconvName, "WCHAR_T",
                                                       reinterpret_cast<const char *>(wide.data()),
                                                       wide.size() * sizeof(wchar_t),
                                                       &bytesIconv[0], bytesIconv.size(), &nBytes));
        bytesIconv.resize(nBytes);
        if (bytes != text || bytesIconv != text) {
            std::fprintf(stderr, "%s: encoded text differs from the input\n", label);
            std::exit(1);
        }
    }
    std::printf("%-6s decode: tables %8.1f MB/s  iconv %8.1f MB/s  ratio %.2f\n", label,
                mb / tDecode, mb / tDecodeIconv, tDecodeIconv / tDecode);
    std::printf("%-6s encode: tables %8.1f MB/s  iconv %8.1f MB/s  ratio %.2f\n", label,
                mb / tEncode, mb / tEncodeIconv, tEncodeIconv / tEncode);
}

} // namespace

int main(int argc, char **argv)
{
    const size_t nMegabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const size_t nBytes = nMegabytes << 20;

    // GB2312 punctuation and level-1 hanzi, which GBK and iconv agree on.
    std::vector<wchar_t> pool936;
    IKT_CodePage *p936 = IKT_CodePage::Create(936);
    for (unsigned lead = 0xA1; lead <= 0xD7; ++lead) {
        if (lead > 0xA1 && lead < 0xB0)
            continue;
        for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
            const wchar_t wch = p936->GetUnicode(static_cast<uint16_t>((lead << 8) | trail));
            if (wch != KT_NOMAPPING_UNICODE && p936->GetCharcode(wch) == ((lead << 8) | trail))
                pool936.push_back(wch);
        }
    }
    p936->Release();
    std::vector<wchar_t> pool1252;
    for (wchar_t wch = 0xA0; wch <= 0xFF; ++wch)
        pool1252.push_back(wch);
    for (wchar_t wch : {0x20AC, 0x2018, 0x2019, 0x201C, 0x201D, 0x2013, 0x2014, 0x2026})
        pool1252.push_back(wch);

    std::printf("%zu MB of text per code page; ratio = iconv time / table time\n", nMegabytes);
    // Chinese text: runs of about 12 hanzi and punctuation, then about 3 ASCII characters.
    Bench("GBK", 936, "GBK", MakeText(936, pool936, 12, 3, nBytes));
    // Western text: runs of about 6 ASCII characters, then one accented letter or sign.
    Bench("CP1252", 1252, "CP1252", MakeText(1252, pool1252, 1, 6, nBytes));
    return 0;
}
