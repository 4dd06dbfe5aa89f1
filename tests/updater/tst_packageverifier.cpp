#include <QtTest>

#include "packageverifier.h"
#include "testenv.h"
#include "updatekeys.h"

namespace {
using TestEnv::readFile;
using TestEnv::run;
using TestEnv::writeFile;

// What is done to the package or its signature after signing.
enum Change {
    Untouched,
    PackageByteFlipped,
    PackageCut,
    SignatureByteFlipped,   // one byte of the Ed25519 signature on line 2
    KeyIdOfTrusted1,        // line 2 claims trusted1's key id
    AlgorithmUnknown,       // line 2 says "EX"
    CommentByteFlipped,     // one character of the trusted comment
    GlobalByteFlipped,      // one byte of line 4
    CrLf,
    SignatureCut,           // the file ends in the middle of line 4
    UntrustedPrefixMissing,
    ExtraLine,
    Huge,                   // a valid signature behind a 5000-byte untrusted comment
    Binary,                 // a NUL byte in the untrusted comment
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

// Signs the file with the named test key; an empty array when minisign failed.
QByteArray sign(const QString &file, const QString &key, bool legacy, const QString &comment)
{
    const QString signature = file + ".minisig";
    QFile::remove(signature);
    QStringList args{"-S", "-s", keyDir() + "/" + key + ".key", "-m", file, "-x", signature,
                     "-t", comment};
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
    void emptyPackage_data();
    void emptyPackage();
    void signatureFileReading();
    void withoutKeys();
    void keyErrors_data();
    void keyErrors();
    void commentNamesVersion_data();
    void commentNamesVersion();
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
    QTest::addColumn<QString>("comment");
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("reason"); // empty: the package passes

    const QString comment = QStringLiteral("Zandro Reader 9.2.0.1");
    const QString malformed = QStringLiteral("malformed signature file: ");
    const QString mismatch = QStringLiteral("package does not match its signature");
    for (const char *key : {"trusted1", "trusted2"}) {
        for (const bool legacy : {false, true}) {
            const QByteArray name = QByteArray(key) + (legacy ? ", legacy" : ", prehashed");
            QTest::newRow(name + ": good") << key << legacy << comment << Untouched << QString();
            QTest::newRow(name + ": package byte flipped")
                << key << legacy << comment << PackageByteFlipped << mismatch;
        }
    }
    const struct
    {
        const char *name;
        bool legacy;
        Change change;
        QString reason;
    } rows[] = {
        {"legacy, package cut short", true, PackageCut, mismatch},
        {"prehashed, package cut short", false, PackageCut, mismatch},
        {"signature byte flipped", false, SignatureByteFlipped, mismatch},
        {"legacy signature byte flipped", true, SignatureByteFlipped, mismatch},
        {"trusted comment changed", false, CommentByteFlipped,
         "trusted comment does not match its signature"},
        {"global signature byte flipped", false, GlobalByteFlipped,
         "trusted comment does not match its signature"},
        {"CRLF line ends", false, CrLf, QString()},
        {"legacy with CRLF line ends", true, CrLf, QString()},
        {"unknown algorithm", false, AlgorithmUnknown, malformed + "unknown signature algorithm"},
        {"signature file cut in line 4", false, SignatureCut,
         malformed + "line 4 is not a global signature"},
        {"no untrusted comment prefix", false, UntrustedPrefixMissing,
         malformed + "line 1 is not an untrusted comment"},
        {"a fifth line", false, ExtraLine, malformed + "not four lines"},
        {"huge signature file", false, Huge, malformed + "larger than 4096 bytes"},
        {"binary signature file", false, Binary, malformed + "not a text file"},
        {"empty signature file", false, Empty, malformed + "not four lines"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << "trusted1" << row.legacy << comment << row.change << row.reason;

    // A key that is not built in: refused by its key id, and also when the signature claims the
    // id of a trusted key.
    QTest::newRow("key not built in") << "untrusted" << false << comment << Untouched
                                      << "signature made with an unknown key (id ";
    QTest::newRow("key not built in, posing as trusted1")
        << "untrusted" << false << comment << KeyIdOfTrusted1 << mismatch;
    QTest::newRow("legacy, key not built in, posing as trusted1")
        << "untrusted" << true << comment << KeyIdOfTrusted1 << mismatch;

    // The offered version is 9.2.0.1.
    const QString wrongVersion = QStringLiteral("trusted comment does not name version 9.2.0.1");
    const struct
    {
        const char *name;
        const char *comment;
    } comments[] = {
        {"trusted comment names an older version", "Zandro Reader 9.2.0.0"},
        {"trusted comment names a longer version", "Zandro Reader 9.2.0.10"},
        {"version followed by a comma", "Zandro Reader 9.2.0.1, build 7"},
        {"minisign's default trusted comment", "timestamp:1700000000\tfile:pkg-9.2.0.1.zup"},
    };
    for (const auto &row : comments)
        QTest::newRow(row.name) << "trusted2" << false << row.comment << Untouched << wrongVersion;
    QTest::newRow("version between tabs")
        << "trusted2" << true << "timestamp:1700000000\t9.2.0.1\tfile:pkg.zup" << Untouched
        << QString();
}

void TestPackageVerifier::verify()
{
    QFETCH(QString, key);
    QFETCH(bool, legacy);
    QFETCH(QString, comment);
    QFETCH(Change, change);
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
                                    QStringLiteral("9.2.0.1"), &why);
    if (reason.isEmpty()) {
        QVERIFY2(ok, qPrintable(why));
        QCOMPARE(why, QStringLiteral("untouched"));
    } else {
        QVERIFY(!ok);
        QVERIFY2(why.startsWith(reason), qPrintable(why));
    }
}

void TestPackageVerifier::emptyPackage_data()
{
    QTest::addColumn<bool>("legacy");
    QTest::newRow("prehashed") << false;
    QTest::newRow("legacy") << true;
}

void TestPackageVerifier::emptyPackage()
{
    QFETCH(bool, legacy);
    const QString package = TestEnv::root() + "/empty.zup";
    QVERIFY(writeFile(package, QByteArray()));
    const QByteArray signature = sign(package, "trusted1", legacy, "v 1.0");
    const PackageVerifier verifier(builtInUpdateKeys());
    QString why;
    QVERIFY2(verifier.verify(package, signature, "1.0", &why), qPrintable(why));
    QVERIFY(!verifier.verify(package + ".gone", signature, "1.0", &why));
    QVERIFY2(why.startsWith("cannot read the package: "), qPrintable(why));
}

void TestPackageVerifier::signatureFileReading()
{
    const QString package = TestEnv::root() + "/read.zup";
    QVERIFY(writeFile(package, randomBytes(100, 3)));
    const QByteArray signature = sign(package, "trusted2", false, "v 2.0");
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
    const QByteArray signature = sign(package, "trusted1", false, "v 1.0");
    const PackageVerifier verifier(QStringList{});
    QVERIFY(!verifier.hasKeys());
    QString why;
    QVERIFY(!verifier.verify(package, signature, "1.0", &why));
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
    QCOMPARE(verifier.verify(package, sign(package, "trusted1", false, "v 1.0"), "1.0", &why),
             acceptsTrusted1);
}

void TestPackageVerifier::commentNamesVersion_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("named");

    QTest::newRow("last word") << "Zandro Reader 9.2.0.1" << "9.2.0.1" << true;
    QTest::newRow("only word") << "9.2.0.1" << "9.2.0.1" << true;
    QTest::newRow("first word, tab after") << "9.2.0.1\tstable" << "9.2.0.1" << true;
    QTest::newRow("several spaces") << "a   9.2.0.1   b" << "9.2.0.1" << true;
    QTest::newRow("prefix of a word") << "9.2.0.10" << "9.2.0.1" << false;
    QTest::newRow("suffix of a word") << "v9.2.0.1" << "9.2.0.1" << false;
    QTest::newRow("with punctuation") << "(9.2.0.1)" << "9.2.0.1" << false;
    QTest::newRow("in a file name") << "file:reader-9.2.0.1.zup" << "9.2.0.1" << false;
    QTest::newRow("case matters") << "Build RC1" << "rc1" << false;
    QTest::newRow("empty version") << "Zandro Reader 9.2.0.1" << "" << false;
    QTest::newRow("empty comment") << "" << "9.2.0.1" << false;
    QTest::newRow("version with a space") << "Zandro Reader 9.2 beta" << "9.2 beta" << false;
}

void TestPackageVerifier::commentNamesVersion()
{
    QFETCH(QString, comment);
    QFETCH(QString, version);
    QFETCH(bool, named);
    QCOMPARE(PackageVerifier::commentNamesVersion(comment, version), named);
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
