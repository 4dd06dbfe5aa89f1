#include <QtTest>

#include <unistd.h>

#include "ktfzip.h"
#include "testenv.h"

// One packed file: its name in the table and its content.
typedef QList<QPair<QByteArray, QByteArray>> Items;
typedef QMap<QString, QByteArray> Files;
Q_DECLARE_METATYPE(Items)
Q_DECLARE_METATYPE(Files)

namespace {
enum Damage {
    NoDamage,
    EmptyFile,
    Only27Bytes,
    WrongMagic,
    PayloadByteChanged, // CRC left as it was
    StreamCut,          // CRC recomputed
    StreamCorrupted,    // CRC recomputed
    StreamLengthTooLarge,
    TableCut,
    LastEntryTooLarge,
    NamePatched,    // bytes "from" replaced by "to" in the table, CRC recomputed
    EntriesDropped, // the table holds a count of 0 and nothing else, CRC recomputed
};

QString tempRoot()
{
    return QDir::tempPath();
}

QString unpackFolder()
{
    return tempRoot() + "/ZandroQuillet/uncompress/";
}

QString tool(const char *name)
{
    if (QByteArray(name) == "zandro-pack")
        return QStringLiteral(ZANDRO_PACK);
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

using TestEnv::run;

using TestEnv::readFile;
using TestEnv::writeFile;

quint32 le32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

void setLe32(QByteArray &bytes, int at, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + at);
}

// Recomputes the header's CRC after an edit, so only the edit itself is wrong.
void reseal(QByteArray &package)
{
    const QByteArray rest = package.mid(CKT_Fzip::HeaderSize);
    setLe32(package, 8, CKT_Fzip::RunCRC32(reinterpret_cast<const unsigned char *>(rest.constData()),
                                           size_t(rest.size()), 0x19780625));
}

// Text and binary that compress like real files, the same on every run.
QByteArray sampleData(int size, quint32 seed)
{
    static const char *const words[] = {"reader ", "page ", "annotation ", "font ", "stream ",
                                        "xref ", "object\n", "0 obj ", "endobj\n", "%PDF-1.7\n"};
    QByteArray data;
    data.reserve(size);
    quint32 state = seed * 2654435761u + 1;
    while (data.size() < size) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (state % 7 == 0)
            data.append(char(state >> 8)).append(char(state >> 16));
        else
            data.append(words[state % 10]);
    }
    data.truncate(size);
    return data;
}

QByteArray concatenated(const Items &items)
{
    QByteArray all;
    for (const auto &item : items)
        all += item.second;
    return all;
}

// Writes each item's content to its own source file and returns the arguments that pack them
// under their names.
QStringList itemArguments(const Items &items)
{
    QDir().mkpath(tempRoot() + "/src");
    QStringList args;
    for (int i = 0; i < items.size(); ++i) {
        const QString source = tempRoot() + "/src/" + QString::number(i);
        writeFile(source, items.at(i).second);
        args << "--name" << QString::fromUtf8(items.at(i).first) << source;
    }
    return args;
}

// Packs the items with zandro-pack; an empty array when the tool failed.
QByteArray pack(const Items &items, const QStringList &options = {"--no-setup", "--preset", "1"})
{
    const QString package = tempRoot() + "/built.zup";
    QFile::remove(package);
    if (!run(tool("zandro-pack"), QStringList{"create"} + options + QStringList{package} +
                                      itemArguments(items)))
        return QByteArray();
    return readFile(package);
}

QByteArray damaged(QByteArray package, int damage, const QByteArray &from, const QByteArray &to)
{
    const int streamLength = int(le32(package, 16));
    const int streamStart = CKT_Fzip::HeaderSize;
    switch (damage) {
    case EmptyFile:
        return QByteArray();
    case Only27Bytes:
        return package.left(27);
    case WrongMagic:
        setLe32(package, 0, 0x19780626);
        return package;
    case PayloadByteChanged:
        package[package.size() - 1] = char(package.at(package.size() - 1) ^ 0x01);
        return package;
    case StreamCut:
        package.remove(streamStart + streamLength - 16, 16);
        setLe32(package, 16, quint32(streamLength - 16));
        break;
    case StreamCorrupted:
        package[streamStart + streamLength / 2] = char(package.at(streamStart + streamLength / 2) ^ 0x55);
        break;
    case StreamLengthTooLarge:
        setLe32(package, 16, quint32(package.size() - CKT_Fzip::HeaderSize + 1));
        break;
    case TableCut:
        package.chop(3);
        break;
    case LastEntryTooLarge:
        setLe32(package, package.size() - 4, le32(package, package.size() - 4) + 1);
        break;
    case EntriesDropped:
        package.truncate(streamStart + streamLength);
        package.append(2, '\0');
        break;
    case NamePatched: {
        const int at = package.indexOf(from, streamStart + streamLength);
        if (at < 0 || from.size() != to.size())
            return QByteArray("<patch not found>");
        package.replace(at, from.size(), to);
        break;
    }
    default:
        break;
    }
    reseal(package);
    return package;
}

// Files under the folder, relative to it.
QStringList writtenFiles(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}
} // namespace

class TestKtFzip : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void crc_data();
    void crc();
    void crcTable();
    void unpacksPackageWithSetup();
    void damagedPackages_data();
    void damagedPackages();
    void boundedUnpacking_data();
    void boundedUnpacking();
    void peerEncoders_data();
    void peerEncoders();
    void packedStreamDecodesWithPeers_data();
    void packedStreamDecodesWithPeers();
    void unzipFileToFile_data();
    void unzipFileToFile();
    void packToolListsTable();
    void packToolRefuses_data();
    void packToolRefuses();
    void packToolUsageErrors_data();
    void packToolUsageErrors();
    void packToolVersionAndHelp();
    void packToolNeverWritesOverAnInput_data();
    void packToolNeverWritesOverAnInput();
    void packToolKeepsTheOldPackageOnFailure();
};

void TestKtFzip::init()
{
    QDir(tempRoot() + "/ZandroQuillet").removeRecursively();
    QDir(tempRoot() + "/src").removeRecursively();
    QVERIFY(QDir().mkpath(unpackFolder()));
}

void TestKtFzip::crc_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("empty") << QByteArray() << 0u;
    QTest::newRow("abc") << QByteArray("abc") << 0xF4AE1735u;
    QTest::newRow("digits") << QByteArray("123456789") << 0x2C46E376u;
}

void TestKtFzip::crc()
{
    QFETCH(QByteArray, data);
    QFETCH(quint32, expected);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    QCOMPARE(CKT_Fzip::RunCRC32(bytes, size_t(data.size()), 0x19780625), expected);

    // Carried over two pieces it must give the same value as in one call.
    quint32 table[256];
    CKT_Fzip::BuildTable64(0x19780625, table);
    const size_t half = size_t(data.size()) / 2;
    const quint32 first = CKT_Fzip::ContinueCRC32(0, bytes, half, table);
    QCOMPARE(CKT_Fzip::ContinueCRC32(first, bytes + half, size_t(data.size()) - half, table),
             expected);
}

void TestKtFzip::crcTable()
{
    // Entries checked against a bit-by-bit CRC of the single byte.
    quint32 table[256];
    CKT_Fzip::BuildTable64(0x19780625, table);
    QCOMPARE(table[0], 0u);
    QCOMPARE(table[1], 0x19780625u);
    QCOMPARE(table[2], 0x32F00C4Au);
    QCOMPARE(table[128], 0x12233B3Cu);
    QCOMPARE(table[255], 0x14EA2FCBu);
}

void TestKtFzip::unpacksPackageWithSetup()
{
    QVERIFY(QDir().mkpath(unpackFolder() + "lib"));
    const Items items{{"reader.bin", sampleData(300000, 1)},
                      {"lib/libpage.so", sampleData(70000, 2)},
                      {"empty.txt", QByteArray()},
                      {"notes & <more>.txt", "x"}};
    const QByteArray package = pack(items, {"--preset", "1"});
    QVERIFY(!package.isEmpty());
    QVERIFY(writeFile(tempRoot() + "/ZandroQuillet/good.zup", package));

    CKT_Fzip fzip;
    LogCapture log;
    // The destination without its trailing "/" gets one added before each name.
    QString dest = unpackFolder();
    dest.chop(1);
    QCOMPARE(fzip.Unzip2(tempRoot() + "/ZandroQuillet/good.zup", dest), 1);
    QCOMPARE(log.count("28"), 1);
    for (const auto &item : items)
        QCOMPARE(readFile(unpackFolder() + QString::fromUtf8(item.first)), item.second);
    QCOMPARE(readFile(unpackFolder() + "Setup.xml"),
             QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<setup>\n"
                        "  <file name=\"reader.bin\" parameter=\"\" iscommon=\"false\"/>\n"
                        "  <file name=\"lib/libpage.so\" parameter=\"\" iscommon=\"false\"/>\n"
                        "  <file name=\"empty.txt\" parameter=\"\" iscommon=\"false\"/>\n"
                        "  <file name=\"notes &amp; &lt;more&gt;.txt\" parameter=\"\" "
                        "iscommon=\"false\"/>\n"
                        "</setup>\n"));

    // A missing destination is created, one level deep only.
    const QByteArray flat = pack({{"only.txt", "x"}});
    QVERIFY(writeFile(tempRoot() + "/flat.zup", flat));
    QCOMPARE(fzip.Unzip2(tempRoot() + "/flat.zup", tempRoot() + "/fresh"), 1);
    QCOMPARE(readFile(tempRoot() + "/fresh/only.txt"), QByteArray("x"));
    QCOMPARE(fzip.Unzip2(tempRoot() + "/flat.zup", tempRoot() + "/deeper/fresh"), 0);
    QVERIFY(!QFile::exists(tempRoot() + "/deeper"));

    QCOMPARE(fzip.Unzip2(tempRoot() + "/missing.zup", unpackFolder()), -3);
}

void TestKtFzip::damagedPackages_data()
{
    QTest::addColumn<Items>("items");
    QTest::addColumn<int>("damage");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<int>("result");
    // Every file the destination must hold afterwards, with its content.
    QTest::addColumn<Files>("expected");

    const Items two{{"a.txt", sampleData(20000, 3)}, {"b.bin", sampleData(9000, 4)}};
    const Files none;
    QTest::newRow("empty file") << two << int(EmptyFile) << QByteArray() << QByteArray() << -1 << none;
    QTest::newRow("27 bytes") << two << int(Only27Bytes) << QByteArray() << QByteArray() << -1 << none;
    QTest::newRow("wrong magic") << two << int(WrongMagic) << QByteArray() << QByteArray() << -1 << none;
    QTest::newRow("payload byte changed")
        << two << int(PayloadByteChanged) << QByteArray() << QByteArray() << -2 << none;
    QTest::newRow("stream cut, CRC correct")
        << two << int(StreamCut) << QByteArray() << QByteArray() << -4 << none;
    QTest::newRow("stream corrupted, CRC correct")
        << two << int(StreamCorrupted) << QByteArray() << QByteArray() << -4 << none;
    QTest::newRow("stream length beyond the file")
        << two << int(StreamLengthTooLarge) << QByteArray() << QByteArray() << -5 << none;
    QTest::newRow("table cut short")
        << two << int(TableCut) << QByteArray() << QByteArray() << -5 << none;
    QTest::newRow("entry size beyond the data")
        << two << int(LastEntryTooLarge) << QByteArray() << QByteArray() << -5 << none;
    // zandro-pack refuses to make a package without entries; one empty file's is emptied.
    QTest::newRow("count 0") << Items{{"x", QByteArray()}} << int(EntriesDropped) << QByteArray()
                             << QByteArray() << 1 << none;

    const Items withEscape{{"ok.txt", "fine"}, {"xx/up.txt", "evil"}, {"after.txt", "late"}};
    QTest::newRow("name with ..") << withEscape << int(NamePatched) << QByteArray("xx/up.txt")
                                  << QByteArray("../up.txt") << 0 << none;
    const QString absolute = tempRoot() + "/abs.txt";
    const QByteArray absName = absolute.toUtf8();
    QTest::newRow("absolute name")
        << Items{{"ok.txt", "fine"}, {"x" + absName.mid(1), "evil"}} << int(NamePatched)
        << QByteArray("x" + absName.mid(1)) << absName << 0 << none;

    const QByteArray longName(255, 'n');
    QTest::newRow("255-byte name") << Items{{longName, "long"}} << int(NoDamage) << QByteArray()
                                   << QByteArray() << 1 << Files{{QString(longName), "long"}};
    QTest::newRow("zero byte in name")
        << Items{{"cutXtail.txt", "short"}} << int(NamePatched) << QByteArray("cutXtail.txt")
        << QByteArray("cut\0tail.txt", 12) << 1 << Files{{"cut", "short"}};
    QTest::newRow("missing subfolder")
        << Items{{"first.txt", "one"}, {"missing/second.txt", "two"}, {"third.txt", "three"}}
        << int(NoDamage) << QByteArray() << QByteArray() << 0 << Files{{"first.txt", "one"}};
    // zandro-pack refuses two entries of one name; the second is renamed in the table. The
    // later entry replaces the earlier one whole.
    QTest::newRow("same name twice: the later entry wins whole")
        << Items{{"same.txt", "AAAAAA"}, {"samf.txt", "bb"}} << int(NamePatched)
        << QByteArray("samf.txt") << QByteArray("same.txt") << 1 << Files{{"same.txt", "bb"}};
    // The unpacker keeps no temporary files of its own, so these are names like any other.
    QTest::newRow("entries named like temporary files")
        << Items{{"infile_tmp", "in"}, {"outfile_tmp", "out"}, {"fileover_tmp", "over"}}
        << int(NoDamage) << QByteArray() << QByteArray() << 1
        << Files{{"infile_tmp", "in"}, {"outfile_tmp", "out"}, {"fileover_tmp", "over"}};
}

void TestKtFzip::damagedPackages()
{
    QFETCH(Items, items);
    QFETCH(int, damage);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(int, result);
    QFETCH(Files, expected);

    const QByteArray good = pack(items);
    QVERIFY(!good.isEmpty());
    const QString packagePath = tempRoot() + "/ZandroQuillet/package.zup";
    QVERIFY(writeFile(packagePath, damaged(good, damage, from, to)));

    CKT_Fzip fzip;
    QCOMPARE(fzip.Unzip2(packagePath, unpackFolder()), result);
    QStringList names = expected.keys();
    names.sort();
    QCOMPARE(writtenFiles(unpackFolder()), names);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(readFile(unpackFolder() + it.key()), it.value());
    // Nothing may land beside the destination or at an absolute path.
    QCOMPARE(writtenFiles(tempRoot() + "/ZandroQuillet"),
             QStringList{"package.zup"} + [&] {
                 QStringList inside;
                 for (const QString &name : names)
                     inside << "uncompress/" + name;
                 return inside;
             }());
    QVERIFY(!QFile::exists(tempRoot() + "/abs.txt"));
}

void TestKtFzip::boundedUnpacking_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("result");
    QTest::newRow("end marker, 64 MiB of zeros behind a 1000-byte table") << "bomb" << -5;
    QTest::newRow("size in header beyond the table") << "declared" << -5;
    QTest::newRow("dictionary of 1.5 GiB") << "dictionary" << -4;
    QTest::newRow("dictionary of 256 MiB") << "largest" << 1;
}

void TestKtFzip::boundedUnpacking()
{
    QFETCH(QString, kind);
    QFETCH(int, result);
    // A stream made by xz with an end marker and no size: it decodes to far more than the one
    // 1000-byte entry the table lists.
    const QString zeros = tempRoot() + "/zeros";
    const QString stream = tempRoot() + "/zeros.lzma";
    QFile big(zeros);
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(kind == "bomb" ? 64 << 20 : 1000));
    big.close();
    QVERIFY(run(tool("xz"), {"--format=lzma", "-1", "-k", "-f", zeros}));
    QVERIFY(writeFile(tempRoot() + "/one", QByteArray(1000, '\0')));
    QVERIFY(run(tool("zandro-pack"), {"create", "--no-setup", "--stream", stream,
                                      tempRoot() + "/bomb.zup", tempRoot() + "/one"}));
    // The classic LZMA header starts right after the package header.
    QByteArray package = readFile(tempRoot() + "/bomb.zup");
    const int lzma = CKT_Fzip::HeaderSize;
    if (kind == "declared")
        setLe32(package, lzma + 5, 2000), setLe32(package, lzma + 9, 0);
    if (kind == "dictionary")
        setLe32(package, lzma + 1, 0x60000000);
    if (kind == "largest")
        setLe32(package, lzma + 1, 256u << 20);
    reseal(package);
    QVERIFY(writeFile(tempRoot() + "/bomb.zup", package));

    CKT_Fzip fzip;
    QCOMPARE(fzip.Unzip2(tempRoot() + "/bomb.zup", unpackFolder()), result);
    // Whatever happened, the disk holds no more than the table accounts for.
    qint64 written = 0;
    for (const QString &name : writtenFiles(unpackFolder()))
        written += QFileInfo(unpackFolder() + name).size();
    QVERIFY2(written <= 1000, qPrintable(QString::number(written)));
}

void TestKtFzip::peerEncoders_data()
{
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QStringList>("args"); // IN and OUT stand for the paths
    QTest::addColumn<bool>("toStdout");
    QTest::newRow("xz --format=lzma") << "xz" << QStringList{"--format=lzma", "-1", "-c", "IN"} << true;
    QTest::newRow("lzma_alone, size in header")
        << "lzma_alone" << QStringList{"e", "IN", "OUT", "-d20"} << false;
    QTest::newRow("lzma_alone, end marker")
        << "lzma_alone" << QStringList{"e", "IN", "OUT", "-d20", "-eos"} << false;
}

void TestKtFzip::peerEncoders()
{
    QFETCH(QString, encoder);
    QFETCH(QStringList, args);
    QFETCH(bool, toStdout);

    const Items items{{"Setup.xml", "<setup><file name=\"app.bin\"/></setup>"},
                      {"app.bin", sampleData(400000, 5)},
                      {"empty", QByteArray()},
                      {"tail.txt", sampleData(3000, 6)}};
    const QString input = tempRoot() + "/src/all";
    const QString stream = tempRoot() + "/src/all.lzma";
    const QStringList packArgs = itemArguments(items);
    QVERIFY(writeFile(input, concatenated(items)));
    args.replaceInStrings("IN", input).replaceInStrings("OUT", stream);
    QVERIFY2(run(tool(qPrintable(encoder)), args, toStdout ? stream : QString()),
             qPrintable(encoder));

    const QString package = tempRoot() + "/peer.zup";
    QVERIFY(run(tool("zandro-pack"),
                QStringList{"create", "--stream", stream, package} + packArgs));
    CKT_Fzip fzip;
    QCOMPARE(fzip.Unzip2(package, unpackFolder()), 1);
    for (const auto &item : items)
        QVERIFY2(readFile(unpackFolder() + QString::fromUtf8(item.first)) == item.second,
                 item.first.constData());
}

void TestKtFzip::packedStreamDecodesWithPeers_data()
{
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("toStdout");
    QTest::newRow("xz --format=lzma -d") << "xz" << QStringList{"--format=lzma", "-d", "-c", "IN"} << true;
    // The classic decoder stops at the size in the header.
    QTest::newRow("lzma_alone d") << "lzma_alone" << QStringList{"d", "IN", "OUT"} << false;
}

void TestKtFzip::packedStreamDecodesWithPeers()
{
    QFETCH(QString, decoder);
    QFETCH(QStringList, args);
    QFETCH(bool, toStdout);

    const Items items{{"one.bin", sampleData(250000, 7)}, {"two.txt", sampleData(1000, 8)}};
    const QByteArray package = pack(items);
    QVERIFY(!package.isEmpty());
    const QString stream = tempRoot() + "/src/cut.lzma";
    const QString output = tempRoot() + "/src/cut.out";
    QVERIFY(writeFile(stream, package.mid(CKT_Fzip::HeaderSize, int(le32(package, 16)))));
    args.replaceInStrings("IN", stream).replaceInStrings("OUT", output);
    QVERIFY(run(tool(qPrintable(decoder)), args, toStdout ? output : QString()));
    QCOMPARE(readFile(output), concatenated(items));
}

void TestKtFzip::unzipFileToFile_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("outputFolderExists");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("sameData"); // output equals the original, else it is empty

    QTest::newRow("intact") << "none" << true << 1 << true;
    // Only the low 32 bits of the size field count.
    QTest::newRow("high size bits set") << "high bits" << true << 1 << true;
    QTest::newRow("size larger than the data") << "size+1" << true << 0 << false;
    QTest::newRow("stream cut short") << "cut" << true << 0 << false;
    QTest::newRow("header cut short") << "header only" << true << 0 << false;
    QTest::newRow("output cannot be created") << "none" << false << 0 << false;
}

void TestKtFzip::unzipFileToFile()
{
    QFETCH(QString, edit);
    QFETCH(bool, outputFolderExists);
    QFETCH(int, result);
    QFETCH(bool, sameData);

    const QByteArray original = sampleData(150000, 9);
    const QString input = tempRoot() + "/src/in";
    const QString stream = tempRoot() + "/src/in.lzma";
    QVERIFY(QDir().mkpath(tempRoot() + "/src"));
    QVERIFY(writeFile(input, original));
    QVERIFY(run(tool("lzma_alone"), {"e", input, stream, "-d18"}));
    QByteArray bytes = readFile(stream);
    if (edit == "high bits")
        setLe32(bytes, 9, 1);
    else if (edit == "size+1")
        setLe32(bytes, 5, le32(bytes, 5) + 1);
    else if (edit == "cut")
        bytes.chop(40);
    else if (edit == "header only")
        bytes.truncate(9);
    QVERIFY(writeFile(stream, bytes));

    const QString output = outputFolderExists ? tempRoot() + "/src/out" : tempRoot() + "/no/out";
    CKT_Fzip fzip;
    QCOMPARE(fzip.UnzipFileToFile(stream, output), result);
    if (outputFolderExists)
        QCOMPARE(readFile(output), sameData ? original : QByteArray());
    QCOMPARE(fzip.UnzipFileToFile(tempRoot() + "/src/absent.lzma", tempRoot() + "/src/out2"), 0);
    QVERIFY(!QFile::exists(tempRoot() + "/src/out2"));
}

void TestKtFzip::packToolListsTable()
{
    const QByteArray package = pack({{"a.txt", "hello"}, {"sub/b.bin", QByteArray(3000, 'b')}},
                                    {"--preset", "0"});
    QVERIFY(!package.isEmpty());
    // The fields no reader looks at, and each entry's ignored byte, are written as zeros.
    QCOMPARE(le32(package, 4), 0u);
    QCOMPARE(le32(package, 12), 0u);
    QCOMPARE(package.mid(20, 8), QByteArray(8, '\0'));
    // The LZMA header carries the real total size: Setup.xml plus both files.
    const int streamStart = CKT_Fzip::HeaderSize;

    QProcess lister;
    lister.start(tool("zandro-pack"), {"list", tempRoot() + "/built.zup"});
    QVERIFY(lister.waitForFinished(60000));
    QCOMPARE(lister.exitCode(), 0);
    const QList<QByteArray> lines = lister.readAllStandardOutput().split('\n');
    QVERIFY2(lines.size() >= 6, lines.join('|').constData());
    QVERIFY(lines.at(0).startsWith("stream: " + QByteArray::number(le32(package, 16)) + " bytes"));
    QCOMPARE(lines.at(1).right(9), QByteArray("(matches)"));
    QCOMPARE(lines.at(2), QByteArray("entries: 3"));
    QVERIFY(lines.at(3).endsWith("\tSetup.xml"));
    QCOMPARE(lines.at(4), QByteArray("5\ta.txt"));
    QCOMPARE(lines.at(5), QByteArray("3000\tsub/b.bin"));
    const quint64 total = lines.at(3).split('\t').first().toULongLong() + 5 + 3000;
    QCOMPARE(qFromLittleEndian<quint64>(package.constData() + streamStart + 5), total);
    const int tableStart = streamStart + int(le32(package, 16));
    QCOMPARE(package.at(tableStart + 3), '\0');
}

void TestKtFzip::packToolRefuses_data()
{
    QTest::addColumn<QStringList>("args"); // FILE stands for an existing source file
    QTest::newRow("name with ..") << QStringList{"--name", "../x", "FILE"};
    QTest::newRow("absolute name") << QStringList{"--name", "/x", "FILE"};
    QTest::newRow("256-byte name") << QStringList{"--name", QString(256, 'n'), "FILE"};
    QTest::newRow("missing file") << QStringList{"FILE.absent"};
    QTest::newRow("stream with another size") << QStringList{"--stream", "FILE.lzma", "FILE"};
    QTest::newRow("folder") << QStringList{"FILE", "FOLDER"};
    // The installer would run the second over the first.
    QTest::newRow("two entries of one name") << QStringList{"FILE", "FILE"};
    QTest::newRow("two entries named alike") << QStringList{"--name", "x", "FILE", "--name", "x",
                                                             "FILE.lzma"};
}

void TestKtFzip::packToolRefuses()
{
    QFETCH(QStringList, args);
    const QString source = tempRoot() + "/src/file";
    QVERIFY(QDir().mkpath(tempRoot() + "/src"));
    QVERIFY(writeFile(source, "content"));
    // A stream of other data whose header states its size.
    QVERIFY(writeFile(tempRoot() + "/src/other", "other content"));
    QVERIFY(run(tool("lzma_alone"), {"e", tempRoot() + "/src/other", source + ".lzma"}));
    QVERIFY(QDir().mkpath(tempRoot() + "/src/folder"));
    args.replaceInStrings("FILE", source).replaceInStrings("FOLDER", tempRoot() + "/src/folder");
    const QString package = tempRoot() + "/refused.zup";
    QProcess packer;
    packer.start(tool("zandro-pack"), QStringList{"create", package} + args);
    QVERIFY(packer.waitForFinished(60000));
    QCOMPARE(packer.exitCode(), 1);
    QVERIFY(!packer.readAllStandardError().isEmpty());
    QVERIFY(!QFile::exists(package));
}

namespace {
using PackRun = TestEnv::Captured;

PackRun runPack(const QStringList &args)
{
    return TestEnv::capture(tool("zandro-pack"), args);
}

// Every file below folder, relative to it.
QStringList filesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}
} // namespace

void TestKtFzip::packToolUsageErrors_data()
{
    // PKG stands for the package to make, FILE for an existing file; named is what the one
    // line on standard error must quote.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    QTest::newRow("no command") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"bogus"} << "'bogus'";
    QTest::newRow("help is not a command") << QStringList{"help"} << "'help'";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "'--frobnicate'";
    QTest::newRow("unknown create option")
        << QStringList{"create", "--fast", "PKG", "FILE"} << "'--fast'";
    QTest::newRow("preset 11") << QStringList{"create", "--preset", "11", "PKG", "FILE"} << "'11'";
    QTest::newRow("preset -1") << QStringList{"create", "--preset", "-1", "PKG", "FILE"} << "'-1'";
    QTest::newRow("preset 1.5")
        << QStringList{"create", "--preset", "1.5", "PKG", "FILE"} << "'1.5'";
    QTest::newRow("preset with a sign")
        << QStringList{"create", "--preset", "+3", "PKG", "FILE"} << "'+3'";
    QTest::newRow("preset without value") << QStringList{"create", "PKG", "FILE", "--preset"}
                                          << "'--preset'";
    QTest::newRow("no package") << QStringList{"create"} << "no PACKAGE";
    QTest::newRow("no files") << QStringList{"create", "PKG"} << "no FILE";
    QTest::newRow("no files after options")
        << QStringList{"create", "--no-setup", "PKG"} << "no FILE";
    QTest::newRow("name without a file")
        << QStringList{"create", "PKG", "FILE", "--name", "late"} << "'late'";
    QTest::newRow("name before the package")
        << QStringList{"create", "--name", "x", "PKG", "FILE"} << "--name";
    QTest::newRow("list without package") << QStringList{"list"} << "no PACKAGE";
    QTest::newRow("list with two") << QStringList{"list", "PKG", "extra"} << "'extra'";
}

void TestKtFzip::packToolUsageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const QString folder = tempRoot() + "/usage";
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + "/file", "content"));
    args.replaceInStrings("PKG", folder + "/made.zup").replaceInStrings("FILE", folder + "/file");

    const PackRun run = runPack(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    const QList<QByteArray> lines = run.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith("zandro-pack: ") && lines.at(0).contains(named.toUtf8()),
             lines.at(0).constData());
    QCOMPARE(lines.at(1), QByteArray("Try 'zandro-pack --help' for more information."));
    QCOMPARE(filesBelow(folder), QStringList{"file"});
}

void TestKtFzip::packToolVersionAndHelp()
{
    for (const char *option : {"--version", "-V"}) {
        const PackRun run = runPack({option});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.isEmpty());
        QVERIFY2(QRegularExpression("^zandro-pack \\d+\\.\\d+(\\.\\d+)*\n$")
                     .match(QString::fromUtf8(run.out))
                     .hasMatch(),
                 run.out.constData());
    }
    const PackRun help = runPack({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.err.isEmpty());
    QVERIFY(help.out.startsWith("Usage:\n"));
    QVERIFY(help.out.contains("zandro-pack --help | --version"));
}

void TestKtFzip::packToolNeverWritesOverAnInput_data()
{
    // How the package path names an input file; the files are "a", "b" and "stream.lzma".
    QTest::addColumn<QString>("package");
    QTest::addColumn<bool>("viaStream");
    QTest::newRow("the same path") << "a" << false;
    QTest::newRow("the last file") << "b" << false;
    QTest::newRow("another spelling") << "./sub/../a" << false;
    QTest::newRow("a symbolic link to a file") << "link" << false;
    QTest::newRow("a hard link to a file") << "hard" << false;
    QTest::newRow("the stream") << "stream.lzma" << true;
}

void TestKtFzip::packToolNeverWritesOverAnInput()
{
    QFETCH(QString, package);
    QFETCH(bool, viaStream);
    const QString folder = tempRoot() + "/inputs";
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder + "/sub"));
    QVERIFY(writeFile(folder + "/a", "first input"));
    QVERIFY(writeFile(folder + "/b", "second input"));
    QVERIFY(writeFile(folder + "/all", "first inputsecond input"));
    QVERIFY(run(tool("lzma_alone"), {"e", folder + "/all", folder + "/stream.lzma"}));
    QVERIFY(QFile::link(folder + "/a", folder + "/link"));
    QVERIFY(::link(QFile::encodeName(folder + "/a").constData(),
                   QFile::encodeName(folder + "/hard").constData()) == 0);
    const QStringList before = filesBelow(folder);
    const QByteArray stream = readFile(folder + "/stream.lzma");

    QStringList args{"create"};
    if (viaStream)
        args << "--stream" << folder + "/stream.lzma";
    args << folder + "/" + package << folder + "/a" << folder + "/b";
    const PackRun result = runPack(args);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.err.startsWith("zandro-pack: "));
    QCOMPARE(readFile(folder + "/a"), QByteArray("first input"));
    QCOMPARE(readFile(folder + "/b"), QByteArray("second input"));
    QCOMPARE(readFile(folder + "/stream.lzma"), stream);
    QCOMPARE(filesBelow(folder), before);
}

void TestKtFzip::packToolKeepsTheOldPackageOnFailure()
{
    // The package is written beside its path and put in place only when complete: a run that
    // fails half-way leaves the old file as it was and no temporary file behind.
    const QString folder = tempRoot() + "/replace";
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + "/app.bin", sampleData(200000, 3)));
    QVERIFY(writeFile(folder + "/old.zup", "the previous package"));
    // A stream whose header states another size fails after the header has been written.
    QVERIFY(writeFile(folder + "/other", "other content"));
    QVERIFY(run(tool("lzma_alone"), {"e", folder + "/other", folder + "/other.lzma"}));
    const QStringList before = filesBelow(folder);

    PackRun result = runPack({"create", "--stream", folder + "/other.lzma", folder + "/old.zup",
                              folder + "/app.bin"});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(readFile(folder + "/old.zup"), QByteArray("the previous package"));
    QCOMPARE(filesBelow(folder), before);

    // A successful run replaces it.
    result = runPack({"create", "--preset", "0", folder + "/old.zup", folder + "/app.bin"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(filesBelow(folder), before);
    CKT_Fzip fzip;
    QCOMPARE(fzip.Unzip2(folder + "/old.zup", unpackFolder()), 1);
    QCOMPARE(readFile(unpackFolder() + "app.bin"), sampleData(200000, 3));
}

ZANDRO_TEST_MAIN(TestKtFzip)
#include "tst_ktfzip.moc"
