// Every byte code and every Unicode value of each built-in code page against the reference
// mappings the tables were generated from (see tools/gen_codepage_tables.py).
#include "kt_codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codepage_reference_checksums.h"

namespace {

const uint32_t kLeadMark = 0xFFFFFFFFu;
const uint32_t kNoMapping = 0xFEFF;
const uint32_t kUnmappedCode = 0xFFFF;

struct Fnv1a
{
    uint32_t h = 0x811C9DC5u;
    void Add(uint32_t w)
    {
        for (int i = 0; i < 4; ++i) {
            h = (h ^ ((w >> (8 * i)) & 0xFF)) * 0x01000193u;
        }
    }
};

// Decodes one code (one or two bytes) with stop-on-invalid: the character, kNoMapping when
// unmappable, kLeadMark when a single byte is a lead byte waiting for its trail byte.
uint32_t DecodeOne(int nCodePage, const unsigned char *pBytes, int nLen)
{
    wchar_t out[4] = {};
    int nSrc = nLen;
    int nDst = 4;
    const int nResult =
        KT_DecodeString(nCodePage, reinterpret_cast<const char *>(pBytes), &nSrc, out, &nDst, true);
    if (nResult == 0) {
        EXPECT_EQ(0, nSrc);
        EXPECT_EQ(0, nDst);
        return kNoMapping;
    }
    EXPECT_EQ(1, nResult);
    if (nDst == 0 && nSrc == 0 && nLen == 1)
        return kLeadMark;
    EXPECT_EQ(1, nDst);
    EXPECT_EQ(nLen, nSrc);
    return static_cast<uint32_t>(out[0]);
}

// Encodes one character with stop-on-invalid: its code, or kUnmappedCode.
uint32_t EncodeOne(int nCodePage, wchar_t wch)
{
    char out[4] = {};
    int nSrc = 1;
    int nDst = 4;
    const int nResult = KT_EncodeString(nCodePage, &wch, &nSrc, out, &nDst, true);
    if (nResult == 0)
        return kUnmappedCode;
    EXPECT_EQ(1, nResult);
    EXPECT_EQ(1, nSrc);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(out);
    if (nDst == 1)
        return p[0];
    EXPECT_EQ(2, nDst);
    return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}

} // namespace

TEST(CodePageReference, EveryByteCodeDecodesAsTheReference)
{
    for (const CodePageReference &ref : kCodePageReferences) {
        SCOPED_TRACE("code page " + std::to_string(ref.nCodePage));
        IKT_CodePage *pCP = IKT_CodePage::Create(ref.nCodePage);
        ASSERT_NE(nullptr, pCP);
        Fnv1a sum;
        int nMapped = 0;
        std::vector<int> leads;
        for (int b = 0; b < 256; ++b) {
            const unsigned char byte = static_cast<unsigned char>(b);
            const uint32_t v = DecodeOne(ref.nCodePage, &byte, 1);
            sum.Add(v);
            EXPECT_EQ(v == kLeadMark, pCP->IsLeadByte(byte)) << "byte " << b;
            if (v == kLeadMark)
                leads.push_back(b);
            else if (v != kNoMapping)
                ++nMapped;
            if (v != kLeadMark) {
                EXPECT_EQ(v, static_cast<uint32_t>(pCP->GetUnicode(static_cast<uint16_t>(b))));
            }
        }
        for (int lead : leads) {
            for (int trail = 0; trail < 256; ++trail) {
                const unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                               static_cast<unsigned char>(trail)};
                const uint32_t v = DecodeOne(ref.nCodePage, pair, 2);
                sum.Add(v);
                if (v != kNoMapping)
                    ++nMapped;
                const uint16_t code = static_cast<uint16_t>((lead << 8) | trail);
                ASSERT_EQ(v, static_cast<uint32_t>(pCP->GetUnicode(code))) << "code " << code;
            }
        }
        EXPECT_EQ(ref.nMappedCodes, nMapped);
        EXPECT_EQ(ref.nDecodeSum, sum.h);
        pCP->Release();
    }
}

TEST(CodePageReference, EveryEncodableValueMatchesTheReferenceAndRoundTrips)
{
    for (const CodePageReference &ref : kCodePageReferences) {
        SCOPED_TRACE("code page " + std::to_string(ref.nCodePage));
        IKT_CodePage *pCP = IKT_CodePage::Create(ref.nCodePage);
        ASSERT_NE(nullptr, pCP);
        Fnv1a sum;
        int nEncodable = 0;
        for (int u = 0; u <= 0xFFFF; ++u) {
            const uint32_t code = EncodeOne(ref.nCodePage, static_cast<wchar_t>(u));
            sum.Add(code);
            if (code == kUnmappedCode) {
                ASSERT_FALSE(pCP->IsValidUnicode(static_cast<wchar_t>(u))) << "U+" << u;
                continue;
            }
            ++nEncodable;
            ASSERT_EQ(code, pCP->GetCharcode(static_cast<wchar_t>(u))) << "U+" << u;
            const unsigned char bytes[2] = {
                static_cast<unsigned char>(code > 0xFF ? code >> 8 : code),
                static_cast<unsigned char>(code & 0xFF)};
            ASSERT_EQ(static_cast<uint32_t>(u),
                      DecodeOne(ref.nCodePage, bytes, code > 0xFF ? 2 : 1))
                << "U+" << u << " encoded as " << code;
        }
        EXPECT_EQ(ref.nEncodable, nEncodable);
        EXPECT_EQ(ref.nEncodeSum, sum.h);
        pCP->Release();
    }
}
