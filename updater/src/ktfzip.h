// Update package reader: checks a downloaded package and unpacks its files into a folder.
//
// A package is one file, all integers little-endian:
//
//   offset 0   u32  magic 0x19780625
//   offset 4   u32  not read
//   offset 8   u32  CRC of every byte from offset 28 to the end of the file
//   offset 12  u32  not read
//   offset 16  u32  L, length of the compressed part that follows the header
//   offset 20  8    not read
//   offset 28  L    compressed part: a classic LZMA file (13-byte header, raw stream)
//   28 + L     ...  file table: u16 count, then per entry u8 name length n, one ignored byte,
//                   n name bytes (UTF-8, cut at a zero byte), u32 content size
//
// The decompressed data is the contents of the packed files in table order, nothing between.
// The classic LZMA header is a properties byte (lc + 9 lp + 45 pb), a u32 dictionary size and a
// u64 uncompressed size; only its low 32 bits count, and all ones means "unknown, up to the end
// marker".
//
// The file table is read and checked first; the stream is then decoded straight from the
// package into the entries' files, in fixed-size chunks and with no temporary copy: memory stays
// at the LZMA dictionary plus a few buffers, whatever the package size, and the decoder never
// gives more than the table accounts for.
#ifndef UPDATER_SRC_KTFZIP_H
#define UPDATER_SRC_KTFZIP_H

#include <QString>

class QFile;

#include <cstddef>
#include <cstdint>

class CKT_Fzip
{
public:
    // Results of Unzip2.
    enum Result
    {
        Unzipped = 1,           // every entry written
        EntryFailed = 0,        // an entry could not be written or its name leaves the folder
        BadMagic = -1,          // wrong magic number, or shorter than the header
        BadCrc = -2,            // CRC mismatch
        CannotOpenPackage = -3, // the package cannot be opened or read
        TempFileFailed = -4,    // the stream did not decode in full, or its dictionary is too large
        Malformed = -5,         // stream length, file table or entry sizes do not fit the data
    };

    // What a result of Unzip2 means, in words for a log or a message.
    static const char *resultText(int result);

    static constexpr std::uint32_t Magic = 0x19780625;
    static constexpr std::uint32_t CrcPolynomial = 0x19780625;
    static constexpr int HeaderSize = 28;

    CKT_Fzip() = default;
    virtual ~CKT_Fzip() = default;
    CKT_Fzip(const CKT_Fzip &) = delete;
    CKT_Fzip &operator=(const CKT_Fzip &) = delete;

    // Unpacks the package into destinationFolder; returns one of Result. Entries written before
    // a failure stay; the caller removes the folder.
    // Requires: destinationFolder is not empty.
    int Unzip2(const QString &packagePath, const QString &destinationFolder);

    // Decompresses a classic LZMA file into outPath (created or truncated). Returns 1 when the
    // whole announced output was written; 0 when the input cannot be opened, the output cannot
    // be created, or the stream is corrupt or ends early (the output is then left empty).
    int UnzipFileToFile(const QString &inPath, const QString &outPath);

    // CRC-32 of the bytes, most significant bit first, not reflected, initial value 0, no final
    // XOR. Builds its table on every call.
    static std::uint32_t RunCRC32(const unsigned char *data, std::size_t length,
                                  std::uint32_t polynomial);
    // Fills the 256-entry lookup table for the polynomial.
    static void BuildTable64(std::uint32_t polynomial, std::uint32_t *table);
    // Carries crc on over more bytes with a table from BuildTable64, for data read in pieces.
    static std::uint32_t ContinueCRC32(std::uint32_t crc, const unsigned char *data,
                                       std::size_t length, const std::uint32_t *table);
    // The package CRC of everything from the file's position to its end, read in chunks, and
    // that part's length. False when a read fails.
    static bool CRC32OfRest(QFile &file, std::uint32_t &crc, std::uint64_t &length);
};

#endif // UPDATER_SRC_KTFZIP_H
