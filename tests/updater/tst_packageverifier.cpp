#include <QtTest>

#include "packageverifier.h"
#include "testenv.h"
#include "updatekeys.h"

namespace {
using TestEnv::readFile;
using TestEnv::run;
using TestEnv::writeFile;

// What is done to the package or its signature after signing.
enum Change
{
    Untouched,
    PackageByteFlipped,
    PackageCut,
    SignatureByteFlipped, // one byte of the Ed25519 signature on line 2
    KeyIdOfTrusted1,      // line 2 claims trusted1's key id
    AlgorithmUnknown,     // line 2 says "EX"
    DigestAsLegacy,       // the package becomes its own BLAKE2b-512 digest, line 2 says "Ed"
    CommentByteFlipped,   // one character of the trusted comment
    GlobalByteFlipped,    // one byte of line 4
    CrLf,
    SignatureCut, // the file ends in the middle of line 4
    UntrustedPrefixMissing,
    ExtraLine,
    Huge,   // a valid signature behind a 5000-byte untrusted comment
    Binary, // a NUL byte in the untrusted comment
    Empty,
};

constexpr int PackageSize = (1 << 20) + 4099; // more than one read chunk

QString keyDir()
{
    return QStringLiteral(UPDATER_TEST_KEY_DIR);
}

QByteArray publicKey(const QString &name)
{
    return readFile(keyDir() + "/" + name + ".pub").split('\n').value(1);
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, '\0');
    quint32 state = seed * 2654435761u + 1;
    for (char &c : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = char(state >> 7);
    }
    return data;
}

// The trusted comment the updater accepts for Zandro Reader 9.2.0.1.
const char GoodComment[] = "zandro-package name=\"Zandro Reader\" version=9.2.0.1";

// Signs the file with the named test key; an empty array when minisign failed. A null comment
// leaves minisign's own default.
QByteArray sign(const QString &file, const QString &key, bool legacy,
                const QString &comment = QLatin1String(GoodComment))
{
    const QString signature = file + ".minisig";
    QFile::remove(signature);
    QStringList args{"-S", "-s", keyDir() + "/" + key + ".key", "-m", file, "-x", signature};
    if (!comment.isNull())
        args << "-t" << comment;
    if (legacy)
        args << "-l";
    if (!run(QStringLiteral("minisign"), args))
        return QByteArray();
    return readFile(signature);
}

// Decodes line `line` (from 0) of the signature, lets edit change the bytes, encodes it again.
template <typename Edit>
QByteArray editLine(const QByteArray &signature, int line, Edit edit)
{
    QList<QByteArray> lines = signature.split('\n');
    QByteArray bytes = QByteArray::fromBase64(lines.at(line));
    edit(bytes);
    lines[line] = bytes.toBase64();
    return lines.join('\n');
}

QByteArray changed(const QByteArray &signature, Change change, const QString &package)
{
    switch (change) {
    case PackageByteFlipped: {
        QByteArray bytes = readFile(package);
        bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 0x01);
        writeFile(package, bytes);
        return signature;
    }
    case PackageCut:
        writeFile(package, readFile(package).chopped(100));
        return signature;
    case SignatureByteFlipped:
        return editLine(signature, 1, [](QByteArray &b) { b[40] = char(b.at(40) ^ 0x80); });
    case KeyIdOfTrusted1: {
        const QByteArray key = QByteArray::fromBase64(publicKey("trusted1"));
        return editLine(signature, 1, [&key](QByteArray &b) { b.replace(2, 8, key.mid(2, 8)); });
    }
    case AlgorithmUnknown:
        return editLine(signature, 1, [](QByteArray &b) { b[1] = 'X'; });
    case DigestAsLegacy: {
        // The prehashed signature covers exactly these 64 bytes, so read as legacy it would
        // hold for them; only the unsigned algorithm bytes tell the two forms apart.
        if (!run(QStringLiteral("b2sum"), {package}, package + ".b2"))
            return QByteArray();
        writeFile(package, QByteArray::fromHex(readFile(package + ".b2").left(128)));
        return editLine(signature, 1, [](QByteArray &b) { b[1] = 'd'; });
    }
    case CommentByteFlipped: {
        QByteArray text = signature;
        const int at = text.indexOf("9.2.0.1");
        text[at] = '8';
        return text;
    }
    case GlobalByteFlipped:
        return editLine(signature, 3, [](QByteArray &b) { b[0] = char(b.at(0) ^ 0x01); });
    case CrLf: {
        QByteArray text = signature;
        return text.replace("\n", "\r\n");
    }
    case SignatureCut:
        return signature.left(signature.lastIndexOf('\n', -2) + 30);
    case UntrustedPrefixMissing:
        return signature.mid(signature.indexOf(':') + 2);
    case ExtraLine:
        return signature + "\n";
    case Huge:
        return "untrusted comment: " + QByteArray(5000, 'x') + signature.mid(signature.indexOf('\n'));
    case Binary: {
        QByteArray text = signature;
        text[3] = '\0';
        return text;
    }
    case Empty:
        return QByteArray();
    case Untouched:
        break;
    }
    return signature;
}
} // namespace

Q_DECLARE_METATYPE(Change)

class TestPackageVerifier : public QObject
{
    Q_OBJECT

private slots:
    void builtInKeysAreTheTestKeys();
    void verify_data();
    void verify();
    void commentNotUtf8();
    void emptyPackage();
    void signatureFileReading();
    void withoutKeys();
    void keyErrors_data();
    void keyErrors();
    void parseTrustedComment_data();
    void parseTrustedComment();
    void sha256OfFile_data();
    void sha256OfFile();
    void sha256OfMissingFile();
};

void TestPackageVerifier::builtInKeysAreTheTestKeys()
{
    const QStringList keys = builtInUpdateKeys();
    QCOMPARE(keys, (QStringList{QString::fromLatin1(publicKey("trusted1")),
                                QString::fromLatin1(publicKey("trusted2"))}));
    const PackageVerifier verifier(keys);
    QVERIFY(verifier.hasKeys());
    QCOMPARE(verifier.keyErrors(), QStringList());
}

void TestPackageVerifier::verify_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("legacy");
    QTest::addColumn<QString>("comment"); // null: minisign's default
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("version"); // offered for the module "Zandro Reader"
    QTest::addColumn<QString>("reason");  // empty: the package passes

    const QString comment = QLatin1String(GoodComment);
    const QString version = QStringLiteral("9.2.0.1");
    const QString malformed = QStringLiteral("malformed signature file: ");
    const QString mismatch = QStringLiteral("package does not match its signature");
    const QString legacyRefused =
        QStringLiteral("legacy signature: only the prehashed form (ED) is accepted");
    for (const char *key : {"trusted1", "trusted2"}) {
        QTest::newRow(QByteArray(key) + ": good")
            << key << false << comment << Untouched << version << QString();
        QTest::newRow(QByteArray(key) + ": package byte flipped")
            << key << false << comment << PackageByteFlipped << version << mismatch;
        QTest::newRow(QByteArray(key) + ": legacy form")
            << key << true << comment << Untouched << version << legacyRefused;
    }
    const struct
    {
        const char *name;
        Change change;
        QString reason;
    } rows[] = {
        {"package cut short", PackageCut, mismatch},
        {"signature byte flipped", SignatureByteFlipped, mismatch},
        {"trusted comment changed", CommentByteFlipped,
         "trusted comment does not match its signature"},
        {"global signature byte flipped", GlobalByteFlipped,
         "trusted comment does not match its signature"},
        {"CRLF line ends", CrLf, QString()},
        {"unknown algorithm", AlgorithmUnknown, malformed + "unknown signature algorithm"},
        {"digest of a signed package passed off as a legacy package", DigestAsLegacy,
         legacyRefused},
        {"signature file cut in line 4", SignatureCut,
         malformed + "line 4 is not a global signature"},
        {"no untrusted comment prefix", UntrustedPrefixMissing,
         malformed + "line 1 is not an untrusted comment"},
        {"a fifth line", ExtraLine, malformed + "not four lines"},
        {"huge signature file", Huge, malformed + "larger than 4096 bytes"},
        {"binary signature file", Binary, malformed + "not a text file"},
        {"empty signature file", Empty, malformed + "not four lines"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << "trusted1" << false << comment << row.change << version
                                << row.reason;

    // A key that is not built in: refused by its key id, and also when the signature claims the
    // id of a trusted key.
    QTest::newRow("key not built in") << "untrusted" << false << comment << Untouched << version
                                      << "signature made with an unknown key (id ";
    QTest::newRow("key not built in, posing as trusted1")
        << "untrusted" << false << comment << KeyIdOfTrusted1 << version << mismatch;

    // Genuine signatures whose trusted comment does not bind this module and version.
    const QString notTheForm = QStringLiteral(
        "trusted comment is not of the form zandro-package name=\"NAME\" version=VERSION");
    const struct
    {
        const char *name;
        QString comment;
        const char *version;
        QString reason;
    } comments[] = {
        {"older version signed", "zandro-package name=\"Zandro Reader\" version=9.2.0.0", "9.2.0.1",
         "signed for version 9.2.0.0, not 9.2.0.1"},
        {"longer version signed", "zandro-package name=\"Zandro Reader\" version=9.2.0.10",
         "9.2.0.1", "signed for version 9.2.0.10, not 9.2.0.1"},
        {"offered version is a prefix", comment, "9.2", "signed for version 9.2.0.1, not 9.2"},
        {"no version offered", comment, "", "signed for version 9.2.0.1, not "},
        {"another module", "zandro-package name=\"Zandro OCR_Engine plug-in\" version=9.2.0.1",
         "9.2.0.1", "signed for module \"Zandro OCR_Engine plug-in\", not \"Zandro Reader\""},
        {"module name in another case", "zandro-package name=\"zandro reader\" version=9.2.0.1",
         "9.2.0.1", "signed for module \"zandro reader\", not \"Zandro Reader\""},
        {"free form naming the version", "Zandro Reader 9.2.0.1", "9.2.0.1", notTheForm},
        {"free form, a word offered as the version", "Zandro Reader 9.2.0.1", "Reader", notTheForm},
        {"another module in free form", "Zandro OCR_Engine plug-in 9.2.0.1", "9.2.0.1", notTheForm},
        {"minisign's default comment", QString(), "9.2.0.1", notTheForm},
        {"minisign's default comment, its last word offered", QString(), "hashed", notTheForm},
    };
    for (const auto &row : comments)
        QTest::newRow(row.name) << "trusted2" << false << row.comment << Untouched << row.version
                                << row.reason;
}

void TestPackageVerifier::verify()
{
    QFETCH(QString, key);
    QFETCH(bool, legacy);
    QFETCH(QString, comment);
    QFETCH(Change, change);
    QFETCH(QString, version);
    QFETCH(QString, reason);

    const QString package = TestEnv::root() + "/pkg.zup";
    QVERIFY(writeFile(package, randomBytes(PackageSize, 7)));
    const QByteArray signature = sign(package, key, legacy, comment);
    QVERIFY(!signature.isEmpty());
    // Line 2 begins with "Ed" (legacy) or "ED" (prehashed), in base64.
    QCOMPARE(signature.mid(signature.indexOf('\n') + 1, 2), QByteArray(legacy ? "RW" : "RU"));

    const PackageVerifier verifier(builtInUpdateKeys());
    QString why = QStringLiteral("untouched");
    const bool ok = verifier.verify(package, changed(signature, change, package),
                                    QStringLiteral("Zandro Reader"), version, &why);
    if (reason.isEmpty()) {
        QVERIFY2(ok, qPrintable(why));
        QCOMPARE(why, QStringLiteral("untouched"));
    } else {
        QVERIFY(!ok);
        QVERIFY2(why.startsWith(reason), qPrintable(why));
    }
}

void TestPackageVerifier::commentNotUtf8()
{
    // A name byte that is not UTF-8 would read as U+FFFD, the same as any other such byte.
    const QString package = TestEnv::root() + "/latin1.zup";
    QVERIFY(writeFile(package, randomBytes(100, 6)));
    QVERIFY(run(QStringLiteral("sh"),
                {"-c",
                 "minisign -S -s \"$0\" -m \"$1\" -x \"$1.minisig\" -t "
                 "\"$(printf 'zandro-package name=\"Zandro Reader \\351\" version=1.0')\"",
                 keyDir() + "/trusted1.key", package}));
    const QByteArray signature = readFile(package + ".minisig");
    QVERIFY(signature.contains("name=\"Zandro Reader \xe9\""));
    const PackageVerifier verifier(builtInUpdateKeys());
    QString why;
    QVERIFY(!verifier.verify(package, signature, QString::fromUtf8("Zandro Reader \xef\xbf\xbd"),
                             "1.0", &why));
    QCOMPARE(why, QStringLiteral("trusted comment is not UTF-8 text"));
}

void TestPackageVerifier::emptyPackage()
{
    const QString package = TestEnv::root() + "/empty.zup";
    QVERIFY(writeFile(package, QByteArray()));
    const QByteArray signature = sign(package, "trusted1", false);
    const PackageVerifier verifier(builtInUpdateKeys());
    QString why;
    QVERIFY2(verifier.verify(package, signature, "Zandro Reader", "9.2.0.1", &why),
             qPrintable(why));
    QVERIFY(!verifier.verify(package + ".gone", signature, "Zandro Reader", "9.2.0.1", &why));
    QVERIFY2(why.startsWith("cannot read the package: "), qPrintable(why));
}

void TestPackageVerifier::signatureFileReading()
{
    const QString package = TestEnv::root() + "/read.zup";
    QVERIFY(writeFile(package, randomBytes(100, 3)));
    const QByteArray signature = sign(package, "trusted2", false);
    QByteArray text;
    QString why;
    QVERIFY(PackageVerifier::readSignatureFile(package + ".minisig", &text, &why));
    QCOMPARE(text, signature);

    // An oversized file is read only just past the limit, which verify() then refuses.
    QVERIFY(writeFile(package + ".minisig", QByteArray(1 << 20, 'a')));
    QVERIFY(PackageVerifier::readSignatureFile(package + ".minisig", &text, &why));
    QCOMPARE(text.size(), PackageVerifier::MaxSignatureSize + 1);

    QVERIFY(!PackageVerifier::readSignatureFile(package + ".none", &text, &why));
    QVERIFY2(why.startsWith("cannot read the signature file: "), qPrintable(why));
}

void TestPackageVerifier::withoutKeys()
{
    const QString package = TestEnv::root() + "/nokeys.zup";
    QVERIFY(writeFile(package, randomBytes(100, 4)));
    const QByteArray signature = sign(package, "trusted1", false);
    const PackageVerifier verifier(QStringList{});
    QVERIFY(!verifier.hasKeys());
    QString why;
    QVERIFY(!verifier.verify(package, signature, "Zandro Reader", "9.2.0.1", &why));
    QCOMPARE(why, QStringLiteral("no usable trusted key"));
}
void TestPackageVerifier::keyErrors_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("acceptsTrusted1");

    const QString trusted1 = QString::fromLatin1(publicKey("trusted1"));
    const QString trusted2 = QString::fromLatin1(publicKey("trusted2"));
    const QString notKey = QStringLiteral(": not a minisign public key");
    QString wrongAlgorithm = trusted2;
    wrongAlgorithm[1] = 'X';
    QTest::newRow("spaces around a key") << QStringList{" " + trusted1 + "\n"} << QStringList{}
                                         << true;
    QTest::newRow("the whole .pub file")
        << QStringList{QString::fromLatin1(readFile(keyDir() + "/trusted1.pub"))}
        << QStringList{"key 1" + notKey} << false;
    QTest::newRow("a key cut short, then a good one")
        << QStringList{trusted2.left(55), trusted1} << QStringList{"key 1" + notKey} << true;
    QTest::newRow("not the Ed algorithm") << QStringList{wrongAlgorithm, trusted1}
                                          << QStringList{"key 1" + notKey} << true;
    QTest::newRow("the same key twice")
        << QStringList{trusted1, trusted2, trusted1}
        << QStringList{"key 3: key id " +
                       PackageVerifier::keyIdText(qFromLittleEndian<quint64>(
                           QByteArray::fromBase64(trusted1.toLatin1()).constData() + 2)) +
                       " is already taken"}
        << true;
    // Every key broken still means "verify", and every package is refused.
    QTest::newRow("only a broken key") << QStringList{"RWQ"} << QStringList{"key 1" + notKey}
                                       << false;
}

void TestPackageVerifier::keyErrors()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, errors);
    QFETCH(bool, acceptsTrusted1);

    const PackageVerifier verifier(keys);
    QVERIFY(verifier.hasKeys());
    QCOMPARE(verifier.keyErrors(), errors);
    const QString package = TestEnv::root() + "/keys.zup";
    QVERIFY(writeFile(package, randomBytes(100, 5)));
    QString why;
    QCOMPARE(verifier.verify(package, sign(package, "trusted1", false), "Zandro Reader", "9.2.0.1",
                             &why),
             acceptsTrusted1);
}

void TestPackageVerifier::parseTrustedComment_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("name"); // null: the comment is refused
    QTest::addColumn<QString>("version");

    const QString none;
    QTest::newRow("good") << "zandro-package name=\"Zandro Reader\" version=9.2.0.1"
                          << "Zandro Reader"
                          << "9.2.0.1";
    QTest::newRow("one number") << "zandro-package name=\"Z\" version=9"
                                << "Z"
                                << "9";
    QTest::newRow("name with accents, slashes and an equals sign")
        << "zandro-package name=\"L\u00e9ctor/OCR = \u8bfb\" version=10.0.0.2"
        << "L\u00e9ctor/OCR = \u8bfb"
        << "10.0.0.2";
    QTest::newRow("name of spaces") << "zandro-package name=\"  \" version=1"
                                    << "  "
                                    << "1";

    const struct
    {
        const char *name;
        const char *comment;
    } refused[] = {
        {"extra space after the keyword", "zandro-package  name=\"Zandro Reader\" version=9.2.0.1"},
        {"extra space before the version",
         "zandro-package name=\"Zandro Reader\"  version=9.2.0.1"},
        {"leading space", " zandro-package name=\"Zandro Reader\" version=9.2.0.1"},
        {"tab for a space", "zandro-package\tname=\"Zandro Reader\" version=9.2.0.1"},
        {"tab in the name", "zandro-package name=\"Zandro\tReader\" version=9.2.0.1"},
        {"DEL in the name", "zandro-package name=\"Zandro\x7fReader\" version=9.2.0.1"},
        {"C1 control in the name", "zandro-package name=\"Zandro\xc2\x85Reader\" version=9.2.0.1"},
        {"missing name", "zandro-package version=9.2.0.1"},
        {"empty name", "zandro-package name=\"\" version=9.2.0.1"},
        {"name not quoted", "zandro-package name=Zandro version=9.2.0.1"},
        {"quote in the name", "zandro-package name=\"Zandro \"Reader\" version=9.2.0.1"},
        {"name not closed", "zandro-package name=\"Zandro Reader version=9.2.0.1"},
        {"version with a comma", "zandro-package name=\"Zandro Reader\" version=9.2.0.1,"},
        {"version with a v", "zandro-package name=\"Zandro Reader\" version=v9"},
        {"two dots in a row", "zandro-package name=\"Zandro Reader\" version=9..2"},
        {"leading dot", "zandro-package name=\"Zandro Reader\" version=.9"},
        {"trailing dot", "zandro-package name=\"Zandro Reader\" version=9."},
        {"empty version", "zandro-package name=\"Zandro Reader\" version="},
        {"version quoted", "zandro-package name=\"Zandro Reader\" version=\"9.2.0.1\""},
        {"Arabic-Indic digits", "zandro-package name=\"Zandro Reader\" version=\xd9\xa9"},
        {"words after the version", "zandro-package name=\"Zandro Reader\" version=9.2.0.1 extra"},
        {"missing version", "zandro-package name=\"Zandro Reader\""},
        {"version before name", "zandro-package version=9.2.0.1 name=\"Zandro Reader\""},
        {"minisign's default comment", "timestamp:1700000000\tfile:zandro-9.2.0.1.pkg\thashed"},
        {"free form", "Zandro Reader 9.2.0.1"},
        {"wrong keyword", "zandro-update name=\"Zandro Reader\" version=9.2.0.1"},
        {"keyword in capitals", "Zandro-Package name=\"Zandro Reader\" version=9.2.0.1"},
        {"trailing newline", "zandro-package name=\"Zandro Reader\" version=9.2.0.1\n"},
        {"trailing carriage return", "zandro-package name=\"Zandro Reader\" version=9.2.0.1\r"},
        {"empty", ""},
    };
    for (const auto &row : refused)
        QTest::newRow(row.name) << QString::fromUtf8(row.comment) << none << none;
}

void TestPackageVerifier::parseTrustedComment()
{
    QFETCH(QString, comment);
    QFETCH(QString, name);
    QFETCH(QString, version);

    QString parsedName = QStringLiteral("untouched");
    QString parsedVersion = QStringLiteral("untouched");
    const bool parsed = PackageVerifier::parseTrustedComment(comment, &parsedName, &parsedVersion);
    QCOMPARE(parsed, !name.isNull());
    QCOMPARE(parsedName, parsed ? name : QStringLiteral("untouched"));
    QCOMPARE(parsedVersion, parsed ? version : QStringLiteral("untouched"));
    if (parsed)
        QCOMPARE(PackageVerifier::trustedComment(name, version), comment);
}

void TestPackageVerifier::sha256OfFile_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("two chunks and a bit") << (2 << 20) + 1;
}

void TestPackageVerifier::sha256OfFile()
{
    QFETCH(int, size);
    const QString file = TestEnv::root() + "/hashed";
    QVERIFY(writeFile(file, randomBytes(size, 9)));
    QVERIFY(run(QStringLiteral("sha256sum"), {file}, file + ".sum"));
    QString error = QStringLiteral("none");
    QCOMPARE(PackageVerifier::sha256OfFile(file, &error), readFile(file + ".sum").left(64));
    QCOMPARE(error, QStringLiteral("none"));
}

void TestPackageVerifier::sha256OfMissingFile()
{
    QString error;
    QCOMPARE(PackageVerifier::sha256OfFile(TestEnv::root() + "/absent", &error), QByteArray());
    QVERIFY(!error.isEmpty());
}

ZANDRO_TEST_MAIN(TestPackageVerifier)
#include "tst_packageverifier.moc"
