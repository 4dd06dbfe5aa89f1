#include "ktfzip.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <lzma.h>

namespace {
// Every copy and the decoder work in pieces of this size, so memory does not grow with the
// package.
constexpr std::size_t ChunkSize = 1 << 20;
// The decoder's pieces are small enough to stay in the processor cache between the decoder's
// dictionary and the write.
constexpr std::size_t DecodeChunkSize = 64 << 10;
constexpr int LzmaHeaderSize = 13;
constexpr std::uint64_t UnknownSize = UINT64_MAX;
constexpr std::uint32_t MinDictionary = 4096;
// Room for the largest dictionary an encoder writes (1.5 GiB) plus the decoder's own state.
constexpr std::uint64_t DecoderMemLimit = std::uint64_t(1600) << 20;

constexpr char TempFolder[] = "/ZandroQuillet/uncompress/";
constexpr char InFileTmp[] = "infile_tmp";
constexpr char OutFileTmp[] = "outfile_tmp";
constexpr char FileOverTmp[] = "fileover_tmp";

struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t readLe32(const unsigned char *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint64_t readLe64(const unsigned char *p)
{
    return std::uint64_t(readLe32(p)) | std::uint64_t(readLe32(p + 4)) << 32;
}

void writeLe32(unsigned char *p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

void writeLe64(unsigned char *p, std::uint64_t value)
{
    writeLe32(p, static_cast<std::uint32_t>(value));
    writeLe32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

const char *lzmaErrorText(lzma_ret ret)
{
    switch (ret) {
    case LZMA_MEM_ERROR:
        return "out of memory";
    case LZMA_MEMLIMIT_ERROR:
        return "dictionary too large";
    case LZMA_FORMAT_ERROR:
        return "not a classic LZMA header";
    case LZMA_OPTIONS_ERROR:
        return "unsupported LZMA properties";
    case LZMA_DATA_ERROR:
        return "corrupt data";
    case LZMA_BUF_ERROR:
        return "stream cut short";
    default:
        return "decoder error";
    }
}

// Decodes a classic LZMA file from in to out. Only the low 32 bits of the header's size count;
// all ones means the stream ends with an end marker instead.
bool decodeStream(std::FILE *in, std::FILE *out)
{
    unsigned char header[LzmaHeaderSize];
    if (std::fread(header, 1, LzmaHeaderSize, in) != LzmaHeaderSize) {
        qDebug() << "LZMA header cut short";
        return false;
    }
    const std::uint64_t declared = readLe64(header + 5);
    const bool sizeKnown = declared != UnknownSize;
    const std::uint64_t outSize = declared & 0xFFFFFFFFu;
    if (sizeKnown) {
        // The decoder is told the size that counts, so it stops exactly there.
        writeLe64(header + 5, outSize);
        // No match reaches further back than the output is long: a larger dictionary would only
        // cost memory.
        const std::uint64_t enough = std::max<std::uint64_t>(outSize, MinDictionary);
        if (readLe32(header + 1) > enough)
            writeLe32(header + 1, static_cast<std::uint32_t>(enough));
    }

    lzma_stream strm = LZMA_STREAM_INIT;
    lzma_ret ret = lzma_alone_decoder(&strm, DecoderMemLimit);
    if (ret != LZMA_OK) {
        qDebug() << "LZMA decoder cannot start:" << lzmaErrorText(ret);
        return false;
    }
    const auto endDecoder = qScopeGuard([&strm] { lzma_end(&strm); });

    std::vector<std::uint8_t> inBuffer(DecodeChunkSize);
    std::vector<std::uint8_t> outBuffer(DecodeChunkSize);
    strm.next_in = header;
    strm.avail_in = LzmaHeaderSize;
    strm.next_out = outBuffer.data();
    strm.avail_out = outBuffer.size();
    lzma_action action = LZMA_RUN;
    std::uint64_t written = 0;
    for (;;) {
        if (strm.avail_in == 0 && action == LZMA_RUN) {
            const std::size_t got = std::fread(inBuffer.data(), 1, inBuffer.size(), in);
            if (got == 0) {
                if (std::ferror(in)) {
                    qDebug() << "cannot read the LZMA stream";
                    return false;
                }
                action = LZMA_FINISH;
            }
            strm.next_in = inBuffer.data();
            strm.avail_in = got;
        }
        ret = lzma_code(&strm, action);
        if (strm.avail_out == 0 || ret == LZMA_STREAM_END) {
            const std::size_t produced = outBuffer.size() - strm.avail_out;
            if (std::fwrite(outBuffer.data(), 1, produced, out) != produced) {
                qDebug() << "cannot write the decompressed data";
                return false;
            }
            written += produced;
            strm.next_out = outBuffer.data();
            strm.avail_out = outBuffer.size();
        }
        if (ret == LZMA_STREAM_END)
            break;
        if (ret != LZMA_OK) {
            qDebug() << "LZMA stream does not decode:" << lzmaErrorText(ret);
            return false;
        }
    }
    if (sizeKnown && written != outSize) {
        qDebug() << "LZMA stream gave" << written << "of" << outSize << "bytes";
        return false;
    }
    return true;
}

// Copies length bytes from the current position of from to to; false on a short read or a
// failed write. The kernel copies between the files where it can, which spares a pass through
// user memory; otherwise the bytes go through the buffer.
bool copyBytes(QFile &from, QFile &to, std::uint64_t length, std::vector<char> &buffer)
{
    if (!to.flush())
        return false;
    loff_t inOffset = from.pos();
    loff_t outOffset = to.pos();
    bool kernelCopied = false;
    while (length > 0) {
        const std::size_t want = std::min<std::uint64_t>(length, std::uint64_t(1) << 30);
        const ssize_t done =
            ::copy_file_range(from.handle(), &inOffset, to.handle(), &outOffset, want, 0);
        if (done <= 0)
            break;
        kernelCopied = true;
        length -= std::uint64_t(done);
    }
    if (kernelCopied && (!from.seek(inOffset) || !to.seek(outOffset)))
        return false;
    while (length > 0) {
        const qint64 want = static_cast<qint64>(std::min<std::uint64_t>(length, buffer.size()));
        const qint64 got = from.read(buffer.data(), want);
        if (got != want || to.write(buffer.data(), got) != got)
            return false;
        length -= static_cast<std::uint64_t>(got);
    }
    return true;
}

struct TableEntry
{
    QByteArray name; // raw bytes as stored, before the cut at a zero byte
    std::uint32_t size = 0;
};

bool readCount(QFile &table, std::uint16_t &count)
{
    unsigned char bytes[2];
    if (table.read(reinterpret_cast<char *>(bytes), 2) != 2)
        return false;
    count = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

// Reads the next table entry; false when the table ends inside it.
bool readEntry(QFile &table, TableEntry &entry)
{
    unsigned char lead[2]; // name length, then the ignored byte
    if (table.read(reinterpret_cast<char *>(lead), 2) != 2)
        return false;
    entry.name = table.read(lead[0]);
    if (entry.name.size() != lead[0])
        return false;
    unsigned char size[4];
    if (table.read(reinterpret_cast<char *>(size), 4) != 4)
        return false;
    entry.size = readLe32(size);
    return true;
}

// Walks the whole table before anything is written, so a damaged package writes no entry.
bool tableFits(QFile &table, std::uint64_t decodedSize)
{
    std::uint16_t count = 0;
    if (!readCount(table, count)) {
        qDebug() << "file table cut short";
        return false;
    }
    std::uint64_t total = 0;
    TableEntry entry;
    for (int i = 0; i < count; ++i) {
        if (!readEntry(table, entry)) {
            qDebug() << "file table cut short at entry" << i;
            return false;
        }
        total += entry.size;
    }
    if (total > decodedSize) {
        qDebug() << "file table needs" << total << "bytes, the stream gave" << decodedSize;
        return false;
    }
    return true;
}

// Absolute names and ".." components would write outside the destination folder.
bool staysInside(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

QString tempPath(const char *name)
{
    return QDir::tempPath() + QLatin1String(TempFolder) + QLatin1String(name);
}
} // namespace

int CKT_Fzip::Unzip2(const QString &packagePath, const QString &destinationFolder)
{
    QFile package(packagePath);
    if (!package.open(QIODevice::ReadOnly)) {
        qDebug() << "cannot open the package" << packagePath << package.errorString();
        return CannotOpenPackage;
    }
    qDebug() << HeaderSize;
    unsigned char header[HeaderSize] = {};
    if (package.read(reinterpret_cast<char *>(header), HeaderSize) != HeaderSize ||
        readLe32(header) != Magic)
        return BadMagic;

    std::uint32_t crc = 0;
    std::uint64_t restSize = 0;
    if (!CRC32OfRest(package, crc, restSize)) {
        qDebug() << "cannot read the package" << package.errorString();
        return CannotOpenPackage;
    }
    if (crc != readLe32(header + 8))
        return BadCrc;
    std::vector<char> buffer(ChunkSize);
    const std::uint64_t streamLength = readLe32(header + 16);
    if (streamLength > restSize) {
        qDebug() << "stream length" << streamLength << "exceeds the package's" << restSize;
        return Malformed;
    }

    const QString inPath = tempPath(InFileTmp);
    const QString outPath = tempPath(OutFileTmp);
    const QString overPath = tempPath(FileOverTmp);
    QFile inFile(inPath);
    if (!inFile.open(QIODevice::WriteOnly | QIODevice::Truncate) || !package.seek(HeaderSize) ||
        !copyBytes(package, inFile, streamLength, buffer)) {
        qDebug() << "cannot write" << inPath << inFile.errorString();
        return TempFileFailed;
    }
    inFile.close();
    if (UnzipFileToFile(inPath, outPath) == 0)
        return TempFileFailed;

    // Truncated, unlike a plain reopen, so a longer table left by an earlier package cannot
    // stand in for a cut one.
    QFile overFile(overPath);
    if (!overFile.open(QIODevice::ReadWrite | QIODevice::Truncate) ||
        !copyBytes(package, overFile, restSize - streamLength, buffer)) {
        qDebug() << "cannot write" << overPath << overFile.errorString();
        return TempFileFailed;
    }
    overFile.close();
    package.close();

    QFile outFile(outPath);
    if (!overFile.open(QIODevice::ReadOnly) || !outFile.open(QIODevice::ReadOnly))
        return TempFileFailed;
    if (!tableFits(overFile, static_cast<std::uint64_t>(outFile.size())))
        return Malformed;

    QString folder = destinationFolder;
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('/');
    std::uint16_t count = 0;
    if (!overFile.seek(0) || !readCount(overFile, count))
        return Malformed;
    TableEntry entry;
    for (int i = 0; i < count; ++i) {
        if (!QDir(folder).exists())
            QDir().mkdir(folder);
        if (!readEntry(overFile, entry))
            return Malformed;
        const int zero = entry.name.indexOf('\0');
        const QString name = QString::fromUtf8(zero < 0 ? entry.name : entry.name.left(zero));
        if (!staysInside(name)) {
            qDebug() << "refused an entry outside the folder:" << name;
            return EntryFailed;
        }
        QFile target(folder + name);
        if (!target.open(QIODevice::ReadWrite)) {
            qDebug() << "cannot open" << target.fileName() << target.errorString();
            return EntryFailed;
        }
        if (!copyBytes(outFile, target, entry.size, buffer)) {
            qDebug() << "cannot write" << target.fileName() << target.errorString();
            return EntryFailed;
        }
    }
    overFile.close();
    outFile.close();
    QFile::remove(outPath);
    QFile::remove(inPath);
    QFile::remove(overPath);
    return Unzipped;
}

int CKT_Fzip::UnzipFileToFile(const QString &inPath, const QString &outPath)
{
    FilePtr in(std::fopen(inPath.toUtf8().constData(), "rb"));
    if (!in)
        return 0;
    FilePtr out(std::fopen(outPath.toUtf8().constData(), "wb+"));
    if (!out) {
        qDebug() << "cannot create" << outPath;
        return 0;
    }
    bool ok = decodeStream(in.get(), out.get());
    if (std::fclose(out.release()) != 0)
        ok = false;
    if (!ok) {
        // Nothing of a failed decode is left to be mistaken for data.
        QFile::resize(outPath, 0);
        return 0;
    }
    return 1;
}

std::uint32_t CKT_Fzip::RunCRC32(const unsigned char *data, std::size_t length,
                                 std::uint32_t polynomial)
{
    std::uint32_t table[256];
    BuildTable64(polynomial, table);
    return ContinueCRC32(0, data, length, table);
}

void CKT_Fzip::BuildTable64(std::uint32_t polynomial, std::uint32_t *table)
{
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t accumulator = 0;
        std::uint32_t word = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            if ((accumulator ^ word) & 0x80000000u)
                accumulator = (accumulator << 1) ^ polynomial;
            else
                accumulator <<= 1;
            word <<= 1;
        }
        table[i] = accumulator;
    }
}

std::uint32_t CKT_Fzip::ContinueCRC32(std::uint32_t crc, const unsigned char *data,
                                      std::size_t length, const std::uint32_t *table)
{
    for (std::size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ table[(crc >> 24) ^ data[i]];
    return crc;
}

bool CKT_Fzip::CRC32OfRest(QFile &file, std::uint32_t &crc, std::uint64_t &length)
{
    std::vector<char> buffer(ChunkSize);
    std::uint32_t table[256];
    BuildTable64(CrcPolynomial, table);
    crc = 0;
    length = 0;
    for (;;) {
        const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        crc = ContinueCRC32(crc, reinterpret_cast<const unsigned char *>(buffer.data()),
                            static_cast<std::size_t>(got), table);
        length += static_cast<std::uint64_t>(got);
    }
}
