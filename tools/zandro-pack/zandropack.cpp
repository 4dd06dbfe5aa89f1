// zandro-pack: makes an update package from a list of files and lists a package's file table.
//
// What it writes where the reader does not look: zeros in the header's fields at offsets 4, 12
// and 20..27, and a zero in the ignored byte of every table entry. The classic LZMA header of the
// compressed part carries the real uncompressed size and the stream has no end marker, so readers
// that trust the size and readers that decode to the end both work.
#include <cstdio>
#include <vector>

#include <sys/stat.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSet>
#include <QString>
#include <QStringList>

#include <lzma.h>

#include "ktfzip.h"
#include "publish.h"

namespace {
constexpr char SetupName[] = "Setup.xml";
constexpr int LzmaHeaderSize = 13;
constexpr std::size_t ChunkSize = 1 << 20;
constexpr int DefaultPreset = 6;

const char Usage[] =
    "Usage:\n"
    "  zandro-pack create [options] PACKAGE [--name NAME] FILE...\n"
    "  zandro-pack list PACKAGE\n"
    ZANDRO_PACK_PUBLISH_SYNOPSIS
    "  zandro-pack --help | --version\n"
    "\n"
    "create  packs the FILEs, in the order given, into the update package PACKAGE.\n"
    "        Only files can be packed, not folders: the installer makes at most one level\n"
    "        of folders for an entry, so each file is named on its own (with --name for a\n"
    "        subfolder). Entry names must differ, and PACKAGE must not be one of the files.\n"
    "        The package is written beside PACKAGE under another name and takes its place\n"
    "        only when complete.\n"
    "        Each entry is named after its file's base name unless --name NAME comes right\n"
    "        before the FILE; NAME may hold \"/\" for a subfolder (at most 255 bytes of UTF-8,\n"
    "        not absolute, no \"..\" part). Unless an entry is named \"Setup.xml\", a Setup.xml\n"
    "        listing every entry as <file name=\"...\" parameter=\"\" iscommon=\"false\"/> is\n"
    "        made and packed first.\n"
    "  --preset N     LZMA preset 0 (fastest) to 9 (smallest), default 6\n"
    "  --no-setup     do not add a Setup.xml\n"
    "  --stream FILE  use FILE, a classic LZMA file (13-byte header) holding the contents of\n"
    "                 the entries one after the other, as the compressed part instead of\n"
    "                 compressing; its header's size must be the total or unknown\n"
    "        The package header's fields that readers skip (offsets 4, 12 and 20 to 27) and\n"
    "        the skipped byte of every table entry are written as zeros. A compressed part\n"
    "        made here has the real total size in its LZMA header and no end marker.\n"
    "\n"
    "list    checks PACKAGE's magic and CRC and prints its compressed part and file table:\n"
    "        a line \"stream: ...\", a line \"crc: ...\", a line \"entries: N\", then one line\n"
    "        per entry: its size, a tab, its name.\n"
    "\n" ZANDRO_PACK_PUBLISH_HELP "\n"
    "Exit status: 0 done, 1 failed (the reason goes to standard error), 2 wrong usage.\n";

struct Entry
{
    QByteArray name;   // UTF-8
    QString path;      // empty for the generated Setup.xml
    QByteArray content; // the generated Setup.xml
    std::uint64_t size = 0;
};

int fail(const QString &message)
{
    std::fprintf(stderr, "zandro-pack: %s\n", qPrintable(message));
    return 1;
}

// Wrong usage: one line naming what was wrong and where help is, exit status 2.
int usageError(const QString &message)
{
    std::fprintf(stderr, "zandro-pack: %s\nTry 'zandro-pack --help' for more information.\n",
                 qPrintable(message));
    return 2;
}

// Whether two paths name the same file (device and inode), whatever the spelling or links.
bool sameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void putLe(QByteArray &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>(value >> (8 * i)));
}

std::uint64_t getLe(const QByteArray &in, int offset, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(in.at(offset + i));
    return value;
}

QString checkName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 255)
        return QStringLiteral("entry name must be 1 to 255 bytes: ") + QString::fromUtf8(name);
    if (name.contains('\0') || name.startsWith('/') || name.split('/').contains(".."))
        return QStringLiteral("entry name would leave the folder: ") + QString::fromUtf8(name);
    return QString();
}

QByteArray xmlEscaped(const QByteArray &text)
{
    return QString::fromUtf8(text).toHtmlEscaped().toUtf8();
}

QByteArray setupXml(const std::vector<Entry> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<setup>\n";
    for (const Entry &entry : entries)
        xml += "  <file name=\"" + xmlEscaped(entry.name) +
               "\" parameter=\"\" iscommon=\"false\"/>\n";
    xml += "</setup>\n";
    return xml;
}

// Appends to the package and carries the CRC over everything after the header. The package
// is written to a temporary file beside its path, which replaces the path only on commit, so
// a failed run leaves no half package and never truncates an existing file.
class PackageWriter
{
public:
    explicit PackageWriter(const QString &path) : m_file(path)
    {
        CKT_Fzip::BuildTable64(CKT_Fzip::CrcPolynomial, m_table);
    }
    bool open() { return m_file.open(QIODevice::WriteOnly); }
    bool write(const char *data, std::size_t length)
    {
        m_crc = CKT_Fzip::ContinueCRC32(m_crc, reinterpret_cast<const unsigned char *>(data),
                                        length, m_table);
        m_written += length;
        return m_file.write(data, static_cast<qint64>(length)) == static_cast<qint64>(length);
    }
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    QSaveFile &file() { return m_file; }
    std::uint32_t crc() const { return m_crc; }
    std::uint64_t written() const { return m_written; }

private:
    QSaveFile m_file;
    std::uint32_t m_table[256];
    std::uint32_t m_crc = 0;
    std::uint64_t m_written = 0;
};

// Feeds every entry's bytes, in order, to the callback in chunks; false when a file cannot be
// read or its size changed since it was listed.
template <typename Sink>
bool forEachChunk(const std::vector<Entry> &entries, Sink sink, QString &error)
{
    std::vector<char> buffer(ChunkSize);
    for (const Entry &entry : entries) {
        if (entry.path.isEmpty()) {
            if (!sink(entry.content.constData(), entry.content.size()))
                return false;
            continue;
        }
        QFile file(entry.path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = entry.path + ": " + file.errorString();
            return false;
        }
        std::uint64_t total = 0;
        for (;;) {
            const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (got <= 0)
                break;
            total += static_cast<std::uint64_t>(got);
            if (!sink(buffer.data(), static_cast<std::size_t>(got)))
                return false;
        }
        if (total != entry.size) {
            error = entry.path + ": size changed while packing";
            return false;
        }
    }
    return true;
}

bool compress(const std::vector<Entry> &entries, std::uint64_t total, std::uint32_t preset,
              PackageWriter &out, QString &error)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, preset)) {
        error = QStringLiteral("unknown preset %1").arg(preset);
        return false;
    }
    // Known size and no end marker, as the classic encoder writes by default.
    options.ext_flags = 0;
    options.ext_size_low = static_cast<std::uint32_t>(total);
    options.ext_size_high = static_cast<std::uint32_t>(total >> 32);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options},
                                   {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&strm, filters) != LZMA_OK) {
        error = QStringLiteral("cannot start the LZMA encoder");
        return false;
    }
    const auto endEncoder = qScopeGuard([&strm] { lzma_end(&strm); });

    QByteArray header;
    header.append(static_cast<char>((options.pb * 5 + options.lp) * 9 + options.lc));
    putLe(header, options.dict_size, 4);
    putLe(header, total, 8);
    if (!out.write(header)) {
        error = out.file().errorString();
        return false;
    }

    std::vector<std::uint8_t> outBuffer(ChunkSize);
    const auto run = [&](const char *data, std::size_t length, lzma_action action) {
        strm.next_in = reinterpret_cast<const std::uint8_t *>(data);
        strm.avail_in = length;
        for (;;) {
            strm.next_out = outBuffer.data();
            strm.avail_out = outBuffer.size();
            const lzma_ret ret = lzma_code(&strm, action);
            if (ret != LZMA_OK && ret != LZMA_STREAM_END) {
                error = QStringLiteral("LZMA encoder error %1").arg(int(ret));
                return false;
            }
            const std::size_t produced = outBuffer.size() - strm.avail_out;
            if (!out.write(reinterpret_cast<const char *>(outBuffer.data()), produced)) {
                error = out.file().errorString();
                return false;
            }
            if (ret == LZMA_STREAM_END || (action == LZMA_RUN && strm.avail_in == 0 &&
                                           strm.avail_out != 0))
                return true;
        }
    };
    if (!forEachChunk(
            entries, [&](const char *data, std::size_t n) { return run(data, n, LZMA_RUN); },
            error))
        return false;
    return run(nullptr, 0, LZMA_FINISH);
}

bool copyStream(const QString &path, std::uint64_t total, PackageWriter &out, QString &error)
{
    QFile stream(path);
    if (!stream.open(QIODevice::ReadOnly)) {
        error = path + ": " + stream.errorString();
        return false;
    }
    const QByteArray header = stream.peek(LzmaHeaderSize);
    if (header.size() != LzmaHeaderSize) {
        error = path + ": no classic LZMA header";
        return false;
    }
    const std::uint64_t declared = getLe(header, 5, 8);
    if (declared != UINT64_MAX && declared != total) {
        error = path + QStringLiteral(": header says %1 bytes, the files hold %2")
                           .arg(declared)
                           .arg(total);
        return false;
    }
    std::vector<char> buffer(ChunkSize);
    for (;;) {
        const qint64 got = stream.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got <= 0)
            return true;
        if (!out.write(buffer.data(), static_cast<std::size_t>(got))) {
            error = out.file().errorString();
            return false;
        }
    }
}

int create(const QStringList &args)
{
    std::uint32_t preset = DefaultPreset;
    bool withSetup = true;
    QString streamPath;
    QString packagePath;
    QByteArray nextName;
    QStringList files;
    std::vector<Entry> entries;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool takesValue = arg == "--preset" || arg == "--stream" || arg == "--name";
        if (takesValue && i + 1 == args.size())
            return usageError(QStringLiteral("option '%1' needs a value").arg(arg));
        if (arg == "--preset") {
            const QString value = args.at(++i);
            if (!QRegularExpression(QStringLiteral("^[0-9]$")).match(value).hasMatch())
                return usageError(
                    QStringLiteral("--preset: '%1' is not a whole number from 0 to 9").arg(value));
            preset = value.toUInt();
        } else if (arg == "--stream") {
            streamPath = args.at(++i);
        } else if (arg == "--no-setup") {
            withSetup = false;
        } else if (arg == "--name") {
            if (packagePath.isEmpty())
                return usageError(QStringLiteral("--name comes after PACKAGE, before a FILE"));
            nextName = args.at(++i).toUtf8();
        } else if (arg.startsWith("-") && arg != "-") {
            return usageError(QStringLiteral("unknown option '%1'").arg(arg));
        } else if (packagePath.isEmpty()) {
            packagePath = arg;
        } else {
            Entry entry;
            entry.name = nextName.isNull() ? QFileInfo(arg).fileName().toUtf8() : nextName;
            entry.path = arg;
            nextName = QByteArray();
            entries.push_back(entry);
        }
    }
    if (packagePath.isEmpty())
        return usageError(QStringLiteral("create: no PACKAGE given"));
    if (!nextName.isNull())
        return usageError(QStringLiteral("--name '%1' is not followed by a FILE")
                              .arg(QString::fromUtf8(nextName)));
    if (entries.empty())
        return usageError(QStringLiteral("create: no FILE to pack into %1").arg(packagePath));

    for (Entry &entry : entries) {
        const QFileInfo info(entry.path);
        if (info.isDir())
            return fail(entry.path + ": is a folder; only files can be packed");
        if (!info.isFile())
            return fail(entry.path + ": not a file");
        entry.size = static_cast<std::uint64_t>(info.size());
        if (sameFile(entry.path, packagePath))
            return fail(packagePath + ": the package would replace one of the files to pack");
    }
    if (!streamPath.isEmpty() && sameFile(streamPath, packagePath))
        return fail(packagePath + ": the package would replace the --stream file");

    bool hasSetup = false;
    QSet<QByteArray> names;
    for (const Entry &entry : entries) {
        const QString problem = checkName(entry.name);
        if (!problem.isEmpty())
            return fail(problem);
        if (names.contains(entry.name))
            return fail(QStringLiteral("two entries are named %1").arg(QString::fromUtf8(entry.name)));
        names.insert(entry.name);
        hasSetup = hasSetup || entry.name == SetupName;
    }
    if (withSetup && !hasSetup) {
        Entry setup;
        setup.name = SetupName;
        setup.content = setupXml(entries);
        setup.size = static_cast<std::uint64_t>(setup.content.size());
        entries.insert(entries.begin(), setup);
    }
    if (entries.size() > 0xFFFF)
        return fail(QStringLiteral("more than 65535 entries"));
    std::uint64_t total = 0;
    for (const Entry &entry : entries)
        total += entry.size;
    // Readers take the output size from the low 32 bits of the LZMA header.
    if (total > 0xFFFFFFFFu)
        return fail(QStringLiteral("the files hold more than 4 GiB - 1 bytes"));

    PackageWriter out(packagePath);
    if (!out.open())
        return fail(packagePath + ": " + out.file().errorString());
    QByteArray header(CKT_Fzip::HeaderSize, '\0');
    if (out.file().write(header) != header.size())
        return fail(packagePath + ": " + out.file().errorString());
    QString error;
    const bool streamed = streamPath.isEmpty() ? compress(entries, total, preset, out, error)
                                               : copyStream(streamPath, total, out, error);
    if (!streamed)
        return fail(error);
    const std::uint64_t streamLength = out.written();
    if (streamLength > 0xFFFFFFFFu)
        return fail(QStringLiteral("the compressed part exceeds 4 GiB - 1 bytes"));

    QByteArray table;
    putLe(table, entries.size(), 2);
    for (const Entry &entry : entries) {
        putLe(table, static_cast<std::uint64_t>(entry.name.size()), 1);
        table.append('\0');
        table.append(entry.name);
        putLe(table, entry.size, 4);
    }
    if (!out.write(table))
        return fail(packagePath + ": " + out.file().errorString());

    header.clear();
    putLe(header, CKT_Fzip::Magic, 4);
    putLe(header, 0, 4);
    putLe(header, out.crc(), 4);
    putLe(header, 0, 4);
    putLe(header, streamLength, 4);
    putLe(header, 0, 8);
    if (!out.file().seek(0) || out.file().write(header) != header.size() || !out.file().commit())
        return fail(packagePath + ": " + out.file().errorString());
    return 0;
}

int list(const QStringList &args)
{
    if (args.size() != 1)
        return usageError(args.isEmpty() ? QStringLiteral("list: no PACKAGE given")
                                         : QStringLiteral("list takes one PACKAGE, not '%1'")
                                               .arg(args.at(1)));
    const QString &packagePath = args.first();
    QFile package(packagePath);
    if (!package.open(QIODevice::ReadOnly))
        return fail(packagePath + ": " + package.errorString());
    const QByteArray header = package.read(CKT_Fzip::HeaderSize);
    if (header.size() != CKT_Fzip::HeaderSize || getLe(header, 0, 4) != CKT_Fzip::Magic)
        return fail(packagePath + ": not an update package");

    std::uint32_t crc = 0;
    std::uint64_t restLength = 0;
    if (!CKT_Fzip::CRC32OfRest(package, crc, restLength))
        return fail(packagePath + ": " + package.errorString());
    const std::uint64_t streamLength = getLe(header, 16, 4);
    const qint64 tableStart = CKT_Fzip::HeaderSize + qint64(streamLength);
    if (tableStart > package.size() || streamLength < LzmaHeaderSize ||
        !package.seek(CKT_Fzip::HeaderSize))
        return fail(packagePath + ": stream length does not fit the package");
    const QByteArray lzma = package.read(LzmaHeaderSize);
    const unsigned props = static_cast<unsigned char>(lzma.at(0));
    const std::uint64_t size = getLe(lzma, 5, 8);
    std::printf("stream: %llu bytes, lc=%u lp=%u pb=%u, dictionary %llu bytes, size %s\n",
                static_cast<unsigned long long>(streamLength), props % 45 % 9, props % 45 / 9,
                props / 45, static_cast<unsigned long long>(getLe(lzma, 1, 4)),
                size == UINT64_MAX ? "unknown" : QByteArray::number(qulonglong(size)).constData());
    const std::uint32_t stored = static_cast<std::uint32_t>(getLe(header, 8, 4));
    std::printf("crc: 0x%08x (%s)\n", crc, crc == stored ? "matches" : "MISMATCH");

    package.seek(tableStart);
    const QByteArray rest = package.readAll();
    if (rest.size() < 2)
        return fail(packagePath + ": file table cut short");
    const int count = int(getLe(rest, 0, 2));
    std::printf("entries: %d\n", count);
    int at = 2;
    for (int i = 0; i < count; ++i) {
        if (at + 2 > rest.size())
            return fail(packagePath + ": file table cut short");
        const int length = static_cast<unsigned char>(rest.at(at));
        if (at + 2 + length + 4 > rest.size())
            return fail(packagePath + ": file table cut short");
        QByteArray name = rest.mid(at + 2, length);
        const int zero = name.indexOf('\0');
        if (zero >= 0)
            name.truncate(zero);
        std::printf("%llu\t%s\n", static_cast<unsigned long long>(getLe(rest, at + 2 + length, 4)),
                    name.constData());
        at += 2 + length + 4;
    }
    return crc == stored ? 0 : fail(packagePath + ": CRC mismatch");
}
// The subcommands, each given the arguments after its name.
struct Command
{
    const char *name;
    int (*run)(const QStringList &args);
};
const Command Commands[] = {
    {"create", create},
    {"list", list},
    {"record", runRecord},
    {"sign", runSign},
    {"verify", runVerify},
};
} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == "--help" || command == "-h") {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == "--version" || command == "-V") {
        std::printf("zandro-pack %s\n", UPDATER_VERSION);
        return 0;
    }
    for (const Command &entry : Commands) {
        if (command == QLatin1String(entry.name))
            return entry.run(args);
    }
    if (command.startsWith("-"))
        return usageError(QStringLiteral("unknown option '%1'").arg(command));
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}
