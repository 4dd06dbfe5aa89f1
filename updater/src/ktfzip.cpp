#include "ktfzip.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <lzma.h>

#include "updatedefine.h"

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
// Every xz preset and every common encoder setting stays well below this; a header asking for
// more is refused rather than allocated.
constexpr std::uint32_t MaxDictionary = std::uint32_t(256) << 20;
// The largest dictionary plus the decoder's own state, probability tables included.
constexpr std::uint64_t DecoderMemLimit = std::uint64_t(MaxDictionary) + (std::uint64_t(16) << 20);

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

// Hands the decoder the compressed bytes: fills buffer, returns how many bytes it put there, 0 at
// the end of the input and -1 when the input cannot be read.
using Source = std::function<long long(std::uint8_t *buffer, std::size_t size)>;
// Takes decoded bytes; false when they cannot be stored.
using Sink = std::function<bool(const std::uint8_t *data, std::size_t size)>;

enum class DecodeResult
{
    Ok,
    Failed,
    TooLong
};

// Decodes a classic LZMA file. Only the low 32 bits of the header's size count; all ones means
// the stream ends with an end marker instead. The output never exceeds limit: a stream that
// would go further is refused (TooLong) before it is stored, whatever its header says, so a
// small package cannot fill the disk. With exact, a declared size other than limit is refused
// before anything is decoded. A dictionary above MaxDictionary is refused before the
// decoder asks for it.
DecodeResult decodeStream(const Source &read, const Sink &write, std::uint64_t limit, bool exact)
{
    unsigned char header[LzmaHeaderSize];
    std::size_t got = 0;
    while (got < LzmaHeaderSize) {
        const long long n = read(header + got, LzmaHeaderSize - got);
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    if (got != LzmaHeaderSize) {
        qWarning() << "LZMA header cut short";
        return DecodeResult::Failed;
    }
    const std::uint32_t dictionary = readLe32(header + 1);
    if (dictionary > MaxDictionary) {
        qWarning() << "LZMA dictionary of" << dictionary << "bytes refused";
        return DecodeResult::Failed;
    }
    const std::uint64_t declared = readLe64(header + 5);
    const bool sizeKnown = declared != UnknownSize;
    const std::uint64_t outSize = declared & 0xFFFFFFFFu;
    if (sizeKnown && (exact ? outSize != limit : outSize > limit)) {
        qWarning() << "LZMA stream declares" << outSize << "bytes where" << limit << "are needed";
        return DecodeResult::TooLong;
    }
    // The decoder is told the size that counts, so it stops exactly there.
    if (sizeKnown)
        writeLe64(header + 5, outSize);
    // No match reaches further back than the output is long: a larger dictionary would only
    // cost memory.
    const std::uint64_t longest = sizeKnown ? outSize : limit;
    const std::uint64_t enough = std::max<std::uint64_t>(longest, MinDictionary);
    if (dictionary > enough)
        writeLe32(header + 1, static_cast<std::uint32_t>(enough));

    lzma_stream strm = LZMA_STREAM_INIT;
    lzma_ret ret = lzma_alone_decoder(&strm, DecoderMemLimit);
    if (ret != LZMA_OK) {
        qWarning() << "LZMA decoder cannot start:" << lzmaErrorText(ret);
        return DecodeResult::Failed;
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
            const long long n = read(inBuffer.data(), inBuffer.size());
            if (n < 0) {
                qWarning() << "cannot read the LZMA stream";
                return DecodeResult::Failed;
            }
            if (n == 0)
                action = LZMA_FINISH;
            strm.next_in = inBuffer.data();
            strm.avail_in = std::size_t(n);
        }
        ret = lzma_code(&strm, action);
        if (strm.avail_out == 0 || ret == LZMA_STREAM_END) {
            const std::size_t produced = outBuffer.size() - strm.avail_out;
            if (produced > limit - written) {
                qWarning() << "LZMA stream goes on beyond the" << limit << "bytes it may give";
                return DecodeResult::TooLong;
            }
            if (!write(outBuffer.data(), produced)) {
                qWarning() << "cannot write the decompressed data";
                return DecodeResult::Failed;
            }
            written += produced;
            strm.next_out = outBuffer.data();
            strm.avail_out = outBuffer.size();
        }
        if (ret == LZMA_STREAM_END)
            break;
        if (ret != LZMA_OK) {
            qWarning() << "LZMA stream does not decode:" << lzmaErrorText(ret);
            return DecodeResult::Failed;
        }
    }
    if (sizeKnown && written != outSize) {
        qWarning() << "LZMA stream gave" << written << "of" << outSize << "bytes";
        return DecodeResult::Failed;
    }
    return DecodeResult::Ok;
}

struct TableEntry
{
    QString name; // as stored, cut at a zero byte
    std::uint32_t size = 0;
};

// Reads the whole file table from the current position of table; false when it is cut short.
bool readTable(QFile &table, std::vector<TableEntry> &entries)
{
    unsigned char countBytes[2];
    if (table.read(reinterpret_cast<char *>(countBytes), 2) != 2) {
        qWarning() << "file table cut short";
        return false;
    }
    const int count = countBytes[0] | countBytes[1] << 8;
    entries.resize(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        unsigned char lead[2]; // name length, then the ignored byte
        unsigned char size[4];
        QByteArray name;
        if (table.read(reinterpret_cast<char *>(lead), 2) != 2 ||
            (name = table.read(lead[0])).size() != lead[0] ||
            table.read(reinterpret_cast<char *>(size), 4) != 4) {
            qWarning() << "file table cut short at entry" << i;
            return false;
        }
        const int zero = name.indexOf('\0');
        entries[std::size_t(i)].name = QString::fromUtf8(zero < 0 ? name : name.left(zero));
        entries[std::size_t(i)].size = readLe32(size);
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

// Writes the decoded data straight into the entries' files, one after the other in table
// order, so unpacking needs no temporary copy and no name of an entry can collide with one.
class EntryWriter
{
public:
    EntryWriter(const QString &folder, const std::vector<TableEntry> &entries)
        : m_folder(folder), m_entries(entries)
    {
    }

    bool write(const std::uint8_t *data, std::size_t size)
    {
        while (size > 0) {
            if (!openNext() || m_left == 0)
                return false;
            const std::size_t part = std::size_t(std::min<std::uint64_t>(size, m_left));
            if (m_file.write(reinterpret_cast<const char *>(data), qint64(part)) != qint64(part)) {
                qWarning() << "cannot write" << m_path << m_file.errorString();
                m_failed = true;
                return false;
            }
            m_left -= part;
            data += part;
            size -= part;
        }
        return true;
    }

    // Creates the entries still to come when they are empty and closes the last file; false
    // when an entry did not get all of its bytes.
    bool finish()
    {
        const bool ok = openNext() && m_left == 0 && (!m_file.isOpen() || m_file.flush());
        m_file.close();
        return ok;
    }

    bool entryFailed() const { return m_failed; }

private:
    // Moves on to the next entry whenever the current one is full.
    bool openNext()
    {
        while (m_left == 0 && m_next < m_entries.size()) {
            if (m_file.isOpen() && !m_file.flush()) {
                qWarning() << "cannot write" << m_path << m_file.errorString();
                m_failed = true;
                return false;
            }
            m_file.close();
            const TableEntry &entry = m_entries[m_next++];
            m_path = m_folder + entry.name;
            QString problem;
            if (!Comm::openNewFile(m_file, m_path, false, &problem)) {
                qWarning() << problem;
                m_failed = true;
                return false;
            }
            m_left = entry.size;
        }
        return true;
    }

    QString m_folder;
    const std::vector<TableEntry> &m_entries;
    QFile m_file;
    QString m_path;
    std::size_t m_next = 0;
    std::uint64_t m_left = 0;
    bool m_failed = false;
};
} // namespace

int CKT_Fzip::Unzip2(const QString &packagePath, const QString &destinationFolder)
{
    QFile package(packagePath);
    if (!package.open(QIODevice::ReadOnly)) {
        qWarning() << "cannot open the package" << packagePath << package.errorString();
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
        qWarning() << "cannot read the package" << package.errorString();
        return CannotOpenPackage;
    }
    if (crc != readLe32(header + 8))
        return BadCrc;
    std::vector<char> buffer(ChunkSize);
    const std::uint64_t streamLength = readLe32(header + 16);
    if (streamLength > restSize) {
        qWarning() << "stream length" << streamLength << "exceeds the package's" << restSize;
        return Malformed;
    }

    // The table lies after the compressed part, so it is read and checked first: nothing is
    // written for a package whose names or sizes are wrong, and the decoder is held to the
    // sizes it lists.
    std::vector<TableEntry> entries;
    if (!package.seek(HeaderSize + qint64(streamLength)) || !readTable(package, entries))
        return Malformed;
    std::uint64_t total = 0;
    for (const TableEntry &entry : entries) {
        if (!staysInside(entry.name)) {
            qWarning() << "refused an entry outside the folder:" << entry.name;
            return EntryFailed;
        }
        total += entry.size;
    }

    QString folder = destinationFolder;
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('/');
    if (!QDir(folder).exists())
        QDir().mkdir(folder);

    if (!package.seek(HeaderSize))
        return CannotOpenPackage;
    std::uint64_t compressedLeft = streamLength;
    const Source read = [&package, &compressedLeft](std::uint8_t *to, std::size_t size) {
        const qint64 want = qint64(std::min<std::uint64_t>(size, compressedLeft));
        if (want == 0)
            return 0LL;
        const qint64 got = package.read(reinterpret_cast<char *>(to), want);
        if (got <= 0)
            return -1LL;
        compressedLeft -= std::uint64_t(got);
        return static_cast<long long>(got);
    };
    EntryWriter writer(folder, entries);
    const Sink write = [&writer](const std::uint8_t *data, std::size_t size) {
        return writer.write(data, size);
    };
    const DecodeResult decoded = decodeStream(read, write, total, true);
    if (writer.entryFailed())
        return EntryFailed;
    if (decoded == DecodeResult::TooLong)
        return Malformed;
    if (decoded != DecodeResult::Ok)
        return TempFileFailed;
    if (!writer.finish()) {
        if (writer.entryFailed())
            return EntryFailed;
        qWarning() << "file table needs" << total << "bytes, the stream gave less";
        return Malformed;
    }
    return Unzipped;
}

int CKT_Fzip::UnzipFileToFile(const QString &inPath, const QString &outPath)
{
    FilePtr in(std::fopen(inPath.toUtf8().constData(), "rb"));
    if (!in)
        return 0;
    FilePtr out(std::fopen(outPath.toUtf8().constData(), "wb+"));
    if (!out) {
        qWarning() << "cannot create" << outPath;
        return 0;
    }
    std::FILE *input = in.get();
    std::FILE *output = out.get();
    const Source read = [input](std::uint8_t *to, std::size_t size) {
        const std::size_t got = std::fread(to, 1, size, input);
        return got == 0 && std::ferror(input) ? -1LL : static_cast<long long>(got);
    };
    const Sink write = [output](const std::uint8_t *data, std::size_t size) {
        return std::fwrite(data, 1, size, output) == size;
    };
    bool ok = decodeStream(read, write, UINT64_MAX, false) == DecodeResult::Ok;
    if (std::fclose(out.release()) != 0)
        ok = false;
    if (!ok) {
        // Nothing of a failed decode is left to be mistaken for data.
        QFile::resize(outPath, 0);
        return 0;
    }
    return 1;
}

const char *CKT_Fzip::resultText(int result)
{
    switch (result) {
    case Unzipped:
        return "unpacked";
    case EntryFailed:
        return "a file could not be written";
    case BadMagic:
        return "not an update package";
    case BadCrc:
        return "checksum mismatch";
    case CannotOpenPackage:
        return "the package cannot be read";
    case TempFileFailed:
        return "the compressed data does not decode";
    case Malformed:
        return "the file table does not fit the data";
    default:
        return "unknown result";
    }
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
