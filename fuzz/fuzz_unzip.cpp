// CKT_Fzip::Unzip2 on package bytes, unpacking into a folder of a private scratch folder that is
// also the temporary folder. Unless the low bit of byte 4 (a header field the reader skips) is
// set, the harness writes the right magic number and CRC into the header first, so that most
// inputs reach the decompressor and the file table instead of stopping at the checks. Nothing
// may appear in the scratch folder beside the package, the destination and the unpacker's own
// working folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <QDir>
#include <QStringList>

#include "fuzz_support.h"
#include "ktfzip.h"

namespace {
QString g_package;
QString g_destination;

void writeLe32(std::uint8_t *at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const QString scratch = FuzzSupport::setUpScratch("unzip");
    g_package = scratch + QLatin1String("/package.bin");
    g_destination = scratch + QLatin1String("/out/");
    QDir().mkpath(g_destination);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> package(data, data + size);
    if (size >= static_cast<std::size_t>(CKT_Fzip::HeaderSize) && !(data[4] & 1)) {
        writeLe32(package.data(), CKT_Fzip::Magic);
        const std::uint32_t crc =
            CKT_Fzip::RunCRC32(package.data() + CKT_Fzip::HeaderSize,
                               size - CKT_Fzip::HeaderSize, CKT_Fzip::CrcPolynomial);
        writeLe32(package.data() + 8, crc);
    }
    FuzzSupport::writeFile(g_package, package.data(), package.size());

    CKT_Fzip unpacker;
    const int result = unpacker.Unzip2(g_package, g_destination);
    if (result < CKT_Fzip::Malformed || result > CKT_Fzip::Unzipped)
        __builtin_trap();

    QStringList found = QDir(FuzzSupport::scratch())
                            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                       QDir::NoDotAndDotDot);
    found.removeAll(QStringLiteral("ZandroQuillet"));
    found.removeAll(QStringLiteral("out"));
    found.removeAll(QStringLiteral("package.bin"));
    if (!found.isEmpty()) {
        std::fprintf(stderr, "unpacking wrote outside its folder: %s\n",
                     qPrintable(found.join(QLatin1Char(' '))));
        __builtin_trap();
    }
    FuzzSupport::emptyFolder(g_destination);
    return 0;
}
