// CXML_Element::Parse over the file accessor, which reads in 32768-byte blocks. The input is put
// behind a run of blanks whose length comes from its first two bytes, so that a block boundary
// falls somewhere inside the first few hundred bytes of the document even for small inputs. The
// tree read from the file must be the one read from memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <QByteArray>

#include "fuzz_support.h"
#include "kt_xml.h"
#include "xml_walk.h"

namespace {
constexpr int BlockSize = 32768;
constexpr int BoundarySpread = 512;
QByteArray g_path;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_path = (FuzzSupport::setUpScratch("xml-file") + QLatin1String("/document.xml")).toLocal8Bit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int shift = ((data[0] << 8) | data[1]) % BoundarySpread;
    QByteArray document(BlockSize - shift, ' ');
    document.append(reinterpret_cast<const char *>(data + 2), static_cast<int>(size - 2));
    FuzzSupport::writeFile(QString::fromLocal8Bit(g_path), document);

    const int keepWhitespace = data[0] >> 7;
    IKT_FileRead *file = KT_CreateFileRead(g_path.constData());
    if (!file)
        __builtin_trap();
    long long fileParsed = -1;
    CXML_Element *fromFile = CXML_Element::Parse(file, keepWhitespace, &fileParsed);
    file->Release();

    long long memoryParsed = -1;
    CXML_Element *fromMemory =
        CXML_Element::Parse(document.constData(), static_cast<unsigned>(document.size()),
                            keepWhitespace, &memoryParsed);

    if (!fromFile != !fromMemory) {
        std::fprintf(stderr, "file parse %s, memory parse %s\n", fromFile ? "ok" : "failed",
                     fromMemory ? "ok" : "failed");
        __builtin_trap();
    }
    if (fromFile) {
        const CKT_ByteString a = FuzzSupport::walkAndCompose(fromFile);
        const CKT_ByteString b = FuzzSupport::walkAndCompose(fromMemory);
        if (!(a == b) || fileParsed != memoryParsed) {
            std::fprintf(stderr, "file and memory trees differ (parsed %lld vs %lld)\n", fileParsed,
                         memoryParsed);
            __builtin_trap();
        }
    }
    delete fromFile;
    delete fromMemory;
    return 0;
}
