// zandro-pack's publishing commands: "record" prints a module element the catalogue pass reads
// back whole, "sign" has minisign sign a package for one module and version, and "verify" names
// the first problem of a package and its signature.
#include <QtTest>

#include <memory>

#include "creadermodulemanager.h"
#include "kt_basic.h"
#include "ktfzip.h"
#include "packageverifier.h"
#include "testenv.h"
#include "updatedefine.h"
#include "updaterapp.h"

namespace {
using TestEnv::readFile;
using TestEnv::writeFile;

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome pack(const QStringList &args)
{
    const TestEnv::Captured run = TestEnv::capture(QStringLiteral(ZANDRO_PACK), args);
    return {run.exitCode, QString::fromUtf8(run.out), QString::fromUtf8(run.err)};
}

QString keyFile(const QString &name)
{
    return QStringLiteral(UPDATER_TEST_KEY_DIR "/") + name;
}

// Spells out the test keys in a table's options: "@name" is the key file name + suffix (or name
// itself when it has a dot), "=name" the key string of name.pub.
void expandKeys(QStringList &options, const char *suffix)
{
    for (QString &option : options) {
        if (option.startsWith('@'))
            option = keyFile(option.mid(1) + (option.contains('.') ? "" : suffix));
        else if (option.startsWith('='))
            option = QString::fromLatin1(readFile(keyFile(option.mid(1) + ".pub")).split('\n').at(1));
    }
}

// A package of two small files, made by the tool itself.
QString makePackage(const QString &name, const QByteArray &content)
{
    const QString folder = TestEnv::root() + "/src";
    QDir().mkpath(folder);
    writeFile(folder + "/readme.txt", content);
    writeFile(folder + "/data.bin", QByteArray(3000, '\x5A') + content);
    const QString package = TestEnv::root() + "/" + name;
    QFile::remove(package);
    if (pack({"create", "--preset", "1", package, folder + "/readme.txt", folder + "/data.bin"})
            .exitCode != 0)
        return QString();
    return package;
}

// The trusted comment the updater accepts for Zandro Reader 9.2.0.1.
const char GoodComment[] = "zandro-package name=\"Zandro Reader\" version=9.2.0.1";

bool sign(const QString &package, const QString &key, const QString &comment)
{
    QFile::remove(package + ".minisig");
    return TestEnv::run(QStringLiteral("minisign"),
                        {"-S", "-s", keyFile(key + ".key"), "-m", package, "-t", comment});
}

quint32 le32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

void setLe32(QByteArray &bytes, int at, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + at);
}

// Damage done to a package after it was made; every kind but WrongCrc puts the CRC right again.
enum Damage {
    Intact,
    WrongCrc,
    WrongMagic,
    Short,
    StreamLengthTooLarge,
    StreamCut,
    TableCut,
    EntryTooLarge,
    NameLeavesFolder,
    OtherPackage, // replaced by another sound package after signing
};

void damage(const QString &package, Damage kind)
{
    QByteArray bytes = readFile(package);
    const int tableStart = CKT_Fzip::HeaderSize + int(le32(bytes, 16));
    switch (kind) {
    case Intact:
        return;
    case OtherPackage:
        QFile::remove(package);
        QFile::rename(makePackage("other.zup", "another package"), package);
        return;
    case WrongCrc:
        bytes[tableStart - 1] = char(bytes.at(tableStart - 1) ^ 0x01);
        writeFile(package, bytes);
        return;
    case WrongMagic:
        bytes[0] = char(bytes.at(0) ^ 0x01);
        break;
    case Short:
        bytes.truncate(CKT_Fzip::HeaderSize - 1);
        break;
    case StreamLengthTooLarge:
        setLe32(bytes, 16, quint32(bytes.size()));
        break;
    case StreamCut:
        bytes.remove(tableStart - 10, 10);
        setLe32(bytes, 16, le32(bytes, 16) - 10);
        break;
    case TableCut:
        bytes.chop(3);
        break;
    case EntryTooLarge:
        setLe32(bytes, bytes.size() - 4, le32(bytes, bytes.size() - 4) + 1);
        break;
    case NameLeavesFolder:
        bytes.replace(bytes.indexOf("readme.txt", tableStart), 10, "../dme.txt");
        break;
    }
    const QByteArray rest = bytes.mid(CKT_Fzip::HeaderSize);
    if (bytes.size() >= CKT_Fzip::HeaderSize)
        setLe32(bytes, 8,
                CKT_Fzip::RunCRC32(reinterpret_cast<const unsigned char *>(rest.constData()),
                                   size_t(rest.size()), CKT_Fzip::CrcPolynomial));
    writeFile(package, bytes);
}
} // namespace

Q_DECLARE_METATYPE(Damage)

class TestPackPublish : public QObject
{
    Q_OBJECT

private slots:
    void recordReadsBack_data();
    void recordReadsBack();
    void recordRefuses_data();
    void recordRefuses();
    void signCommand_data();
    void signCommand();
    void signWithPassword();
    void verify_data();
    void verify();
};

void TestPackPublish::recordReadsBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("moduleType");

    QTest::newRow("plain") << "Zandro Reader" << "The 9.2 update." << QStringList{} << "reader";
    QTest::newRow("no description") << "Zandro Reader" << QString() << QStringList{} << "reader";
    QTest::newRow("markup characters and accents")
        << "Zandro \"Reader\" <Pro> & Co" << "Fixes 'quotes', <tags> & \u00e9\u00e8 \u20ac"
        << QStringList{} << "reader";
    QTest::newRow("two lines and a tab") << "Zandro Reader" << "Faster search.\nFewer crashes.\tOK"
                                         << QStringList{} << "reader";
    QTest::newRow("module type given") << "Spell checker" << "Dictionaries"
                                       << QStringList{"--module-type", "plugin"} << "plugin";
}

void TestPackPublish::recordReadsBack()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QStringList, extra);
    QFETCH(QString, moduleType);

    const QString package = makePackage("reader-9.2.0.1.zup", "record me");
    QVERIFY(!package.isEmpty());
    const QString url = QStringLiteral("https://update.example/packages/reader-9.2.0.1.zup?a=1&b=2");
    QStringList args{"record", "--url", url, "--name", name, "--version", "9.2.0.1"};
    if (!description.isNull())
        args << "--description" << description;
    const Outcome outcome = pack(args + extra + QStringList{package});
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.err, QString());
    QVERIFY2(outcome.out.startsWith("<module ") && outcome.out.endsWith("/>\n"),
             qPrintable(outcome.out));

    // Served as the whole catalogue reply, the record is offered with every attribute intact.
    const QString reply = TestEnv::root() + "/reply.xml";
    QVERIFY(writeFile(reply, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modules>\n" +
                                 outcome.out.toUtf8() + "</modules>\n"));
    UpdaterApp app;
    CReaderModuleManager manager(QStringLiteral("Update List"), &app, nullptr);
    manager.OnPaserModuleInfo(reply);
    QCOMPARE(manager.offeredModules.size(), 1);
    const MODULEINFO &record = *manager.offeredModules.first();
    QCOMPARE(record.name, name);
    QCOMPARE(record.version, QStringLiteral("9.2.0.1"));
    QCOMPARE(record.description, description.isNull() ? QString("") : description);
    QCOMPARE(record.url, url);
    QCOMPARE(record.moduleType, moduleType);
    QVERIFY(record.result);
    // The download run's reading of the size: the text up to its "B", in decimal.
    QVERIFY(record.size.endsWith('B'));
    QCOMPARE(record.size.chopped(1).toLongLong(), QFileInfo(package).size());

    QVERIFY(TestEnv::run(QStringLiteral("sha256sum"), {package}, package + ".sum"));
    const QByteArray xml = readFile(reply);
    std::unique_ptr<CXML_Element> root(CXML_Element::Parse(xml.constData(), unsigned(xml.size())));
    QVERIFY(root && root->GetElement(0));
    CKT_WideString sha256;
    QVERIFY(root->GetElement(0)->GetAttrValue("sha256", sha256));
    QCOMPARE(Comm::ws2qs(sha256).toLatin1(), readFile(package + ".sum").left(64));
}

void TestPackPublish::recordRefuses_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QStringList required{"--url", "http://h/p.zup", "--name", "N", "--version", "1.0"};
    const QString package = TestEnv::root() + "/refused.zup";
    QTest::newRow("url missing") << QStringList{"--name", "N", "--version", "1.0", package} << 2
                                 << "record: --url is missing\nTry 'zandro-pack --help' for more information.";
    QTest::newRow("version missing") << QStringList{"--url", "u", "--name", "N", package} << 2
                                     << "record: --version is missing";
    QTest::newRow("unknown option") << required + QStringList{"--size", "5", package} << 2
                                    << "record: unknown option --size";
    QTest::newRow("option given twice") << required + QStringList{"--name", "M", package} << 2
                                        << "record: --name given twice";
    QTest::newRow("value missing") << QStringList{package, "--url"} << 2
                                   << "record: --url needs a value";
    QTest::newRow("no package") << required << 2 << "record: PACKAGE is missing";
    QTest::newRow("two packages") << required + QStringList{package, package} << 2
                                  << "record: unexpected argument " + package;
    QTest::newRow("package missing") << required + QStringList{package + ".none"} << 1
                                     << package + ".none: not a file";
}

void TestPackPublish::recordRefuses()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QVERIFY(!makePackage("refused.zup", "x").isEmpty());
    const Outcome outcome = pack(QStringList{"record"} + args);
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(outcome.out, QString());
    QVERIFY2(outcome.err.startsWith("zandro-pack: " + message), qPrintable(outcome.err));
    // A usage error is followed by the hint to ask for help; a bad package is one line.
    QCOMPARE(outcome.err.count('\n'), exitCode == 2 ? 2 : 1);
}

void TestPackPublish::signCommand_data()
{
    QTest::addColumn<QStringList>("options"); // "@name" stands for the test key file name.key
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // the trusted comment made, or the start of the error

    const QStringList key{"--key", "@trusted2"};
    const auto named = [](const QString &name, const QString &version) {
        return QStringList{"--key", "@trusted2", "--name", name, "--version", version};
    };
    QTest::newRow("reader") << named("Zandro Reader", "9.2.0.1") << Intact << 0
                            << QString(GoodComment);
    QTest::newRow("a name with quotes of other kinds, accents and a dollar")
        << named("Zandro 'OCR' $HOME \u00e9\u8bfb", "10") << Intact << 0
        << "zandro-package name=\"Zandro 'OCR' $HOME \u00e9\u8bfb\" version=10";

    const QString hint = QStringLiteral("\nTry 'zandro-pack --help' for more information.");
    const QString notName = QStringLiteral(
        "\" is not a module name (one or more characters, no '\"' and no control character)");
    const QString notVersion =
        QStringLiteral("\" is not a version (digits and dots, such as 9.2.0.1)");
    QTest::newRow("key missing") << QStringList{"--name", "N", "--version", "1"} << Intact << 2
                                 << "sign: --key is missing" + hint;
    QTest::newRow("name missing") << key + QStringList{"--version", "1"} << Intact << 2
                                  << "sign: --name is missing";
    QTest::newRow("version missing")
        << key + QStringList{"--name", "N"} << Intact << 2 << "sign: --version is missing";
    QTest::newRow("empty name") << named("", "1") << Intact << 2 << "sign: --name \"" + notName;
    QTest::newRow("quote in the name") << named("Zandro \"Reader\"", "1") << Intact << 2
                                       << "sign: --name \"Zandro \"Reader\"" + notName + hint;
    QTest::newRow("tab in the name")
        << named("Zandro\tReader", "1") << Intact << 2 << "sign: --name \"Zandro\tReader" + notName;
    QTest::newRow("version with a v")
        << named("N", "v9") << Intact << 2 << "sign: --version \"v9" + notVersion + hint;
    QTest::newRow("version with a comma")
        << named("N", "9.2.0.1,") << Intact << 2 << "sign: --version \"9.2.0.1," + notVersion;
    QTest::newRow("empty version")
        << named("N", "") << Intact << 2 << "sign: --version \"" + notVersion;
    QTest::newRow("unknown option") << named("N", "1") + QStringList{"--comment", "c"} << Intact
                                    << 2 << "sign: unknown option --comment";

    QTest::newRow("damaged package")
        << named("N", "1") << WrongCrc << 1 << "@: CRC mismatch: the header says ";
    QTest::newRow("no such key") << QStringList{"--key", "@absent", "--name", "N", "--version", "1"}
                                 << Intact << 1 << "@: minisign could not sign it (exit status ";
    QTest::newRow("public key given")
        << QStringList{"--key", "@trusted2.pub", "--name", "N", "--version", "1"} << Intact << 1
        << "@: minisign could not sign it";
}

void TestPackPublish::signCommand()
{
    QFETCH(QStringList, options);
    QFETCH(Damage, damage);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const QString package = makePackage("signed.zup", "sign me");
    QVERIFY(!package.isEmpty());
    QFile::remove(package + ".minisig");
    ::damage(package, damage);
    expandKeys(options, ".key");
    const Outcome outcome = pack(QStringList{"sign"} + options + QStringList{package});
    QCOMPARE(outcome.exitCode, exitCode);
    if (exitCode != 0) {
        message.replace('@', package);
        QVERIFY2(outcome.err.contains("zandro-pack: " + message), qPrintable(outcome.err));
        QVERIFY(!QFile::exists(package + ".minisig"));
        return;
    }
    // The comment exactly as the updater parses it, under a signature the updater accepts.
    const QByteArray signature = readFile(package + ".minisig");
    QCOMPARE(QString::fromUtf8(signature.split('\n').value(2)), "trusted comment: " + message);
    QString name;
    QString version;
    QVERIFY(PackageVerifier::parseTrustedComment(message, &name, &version));
    const PackageVerifier verifier(
        {QString::fromLatin1(readFile(keyFile("trusted2.pub")).split('\n').at(1))});
    QString why;
    QVERIFY2(verifier.verify(package, signature, name, version, &why), qPrintable(why));
    const Outcome verified = pack({"verify", "--key", keyFile("trusted2.pub"), "--name", name,
                                   "--version", version, package});
    QCOMPARE(verified.exitCode, 0);
}

void TestPackPublish::signWithPassword()
{
    // minisign asks for the password on zandro-pack's own standard input.
    const QString pub = TestEnv::root() + "/locked.pub";
    const QString key = TestEnv::root() + "/locked.key";
    QProcess generate;
    generate.start("minisign", {"-G", "-f", "-p", pub, "-s", key});
    generate.write("open sesame\nopen sesame\n");
    generate.closeWriteChannel();
    QVERIFY(generate.waitForFinished(60000));
    QCOMPARE(generate.exitCode(), 0);

    const QString package = makePackage("locked.zup", "behind a password");
    QVERIFY(!package.isEmpty());
    // Each use of the password costs minisign seconds and a gigabyte: one right answer only.
    QProcess signer;
    signer.start(ZANDRO_PACK, {"sign", "--key", key, "--name", "Zandro Reader", "--version",
                               "9.2.0.1", package});
    signer.write("open sesame\n");
    signer.closeWriteChannel();
    QVERIFY(signer.waitForFinished(60000));
    QCOMPARE(signer.exitCode(), 0);
    QCOMPARE(
        pack({"verify", "--key", pub, "--name", "Zandro Reader", "--version", "9.2.0.1", package})
            .out,
        QString("trusted comment: ") + GoodComment + "\nok\n");
}

void TestPackPublish::verify_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("signingKey"); // empty: no signature file
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QStringList>("options"); // "@name" stands for the test key file name.pub
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // start of standard error, or the whole output

    const QString comment = QLatin1String(GoodComment);
    const QString printed = QStringLiteral("trusted comment: ") + comment + "\nok\n";
    const QStringList trusted1{"--key", "@trusted1"};
    const QStringList withVersion{"--key", "@trusted1", "--version", "9.2.0.1"};
    const QStringList withBoth{"--key",         "@trusted1", "--name",
                               "Zandro Reader", "--version", "9.2.0.1"};
    QTest::newRow("sound, no key") << Intact << "" << comment << QStringList{} << 0 << "ok\n";
    QTest::newRow("signed, key file, name and version")
        << Intact << "trusted1" << comment << withBoth << 0 << printed;
    QTest::newRow("signed, key string")
        << Intact << "trusted1" << comment << QStringList{"--key", "=trusted1"} << 0 << printed;

    const struct
    {
        const char *name;
        Damage damage;
        const char *message;
    } structure[] = {
        {"CRC wrong", WrongCrc, "CRC mismatch: the header says "},
        {"magic wrong", WrongMagic, "wrong magic number, not an update package"},
        {"shorter than the header", Short, "shorter than the 28-byte header"},
        {"stream length too large", StreamLengthTooLarge, "a compressed part of "},
        {"compressed part cut", StreamCut, "the compressed part ends early"},
        {"file table cut", TableCut, "the file table is cut short at entry 3"},
        {"last entry too large", EntryTooLarge, "the file table needs "},
        {"name leaves the folder", NameLeavesFolder,
         "entry 2 would be written outside the folder: ../dme.txt"},
    };
    // Structure comes first: the signature is checked only on a sound package.
    for (const auto &row : structure)
        QTest::newRow(row.name) << row.damage << "trusted1" << comment << trusted1 << 1
                                << QString("@: ") + row.message;

    QTest::newRow("signature missing") << Intact << "" << comment << trusted1 << 1
                                       << "@: cannot read the signature file: ";
    QTest::newRow("signed by a key not given")
        << Intact << "untrusted" << comment << trusted1 << 1
        << "@: signature made with an unknown key (id ";
    QTest::newRow("another package under the signature")
        << OtherPackage << "trusted1" << comment << trusted1 << 1
        << "@: package does not match its signature";
    QTest::newRow("another version in the trusted comment")
        << Intact << "trusted1"
        << "zandro-package name=\"Zandro Reader\" version=9.2.0.0" << withBoth << 1
        << "@: signed for version 9.2.0.0, not 9.2.0.1";
    QTest::newRow("another module in the trusted comment")
        << Intact << "trusted1"
        << "zandro-package name=\"Zandro OCR_Engine plug-in\" version=9.2.0.1" << withBoth << 1
        << "@: signed for module \"Zandro OCR_Engine plug-in\", not \"Zandro Reader\"";
    QTest::newRow("another module, only the version asked about")
        << Intact << "trusted1"
        << "zandro-package name=\"Zandro OCR_Engine plug-in\" version=9.2.0.1" << withVersion << 0
        << "trusted comment: zandro-package name=\"Zandro OCR_Engine plug-in\" "
           "version=9.2.0.1\nok\n";
    // The form is checked whenever there is a key, even with nothing asked about.
    QTest::newRow("free-form trusted comment")
        << Intact << "trusted1"
        << "Zandro Reader 9.2.0.1" << trusted1 << 1
        << "@: trusted comment is not of the form zandro-package name=\"NAME\" version=VERSION";

    QTest::newRow("version without key") << Intact << "" << comment
                                         << QStringList{"--version", "9.2.0.1"} << 2
                                         << "verify: --version needs --key";
    QTest::newRow("name without key")
        << Intact << "" << comment << QStringList{"--name", "Zandro Reader"} << 2
        << "verify: --name needs --key";
    QTest::newRow("version that no comment can hold")
        << Intact << "trusted1" << comment << QStringList{"--key", "@trusted1", "--version", "v9"}
        << 2 << "verify: --version \"v9\" is not a version (digits and dots, such as 9.2.0.1)";
    QTest::newRow("not a key") << Intact << "" << comment << QStringList{"--key", "RWQabc"} << 2
                               << "verify: --key RWQabc is neither a minisign public key nor a "
                                  ".pub file\nTry 'zandro-pack --help' for more information.";
    QTest::newRow("secret key file as key")
        << Intact << "" << comment << QStringList{"--key", "@trusted1.key"} << 2
        << "verify: --key ";
}

void TestPackPublish::verify()
{
    QFETCH(Damage, damage);
    QFETCH(QString, signingKey);
    QFETCH(QString, comment);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const QString package = makePackage("verified.zup", "verify me");
    QVERIFY(!package.isEmpty());
    QFile::remove(package + ".minisig");
    if (!signingKey.isEmpty())
        QVERIFY(sign(package, signingKey, comment));
    ::damage(package, damage);
    expandKeys(options, ".pub");
    const Outcome outcome = pack(QStringList{"verify"} + options + QStringList{package});
    QCOMPARE(outcome.exitCode, exitCode);
    if (exitCode == 0) {
        QCOMPARE(outcome.out, message);
        QCOMPARE(outcome.err, QString());
    } else {
        message.replace('@', package);
        QVERIFY2(outcome.err.startsWith("zandro-pack: " + message), qPrintable(outcome.err));
        // A usage error is followed by the hint to ask for help; a bad package is one line.
        QCOMPARE(outcome.err.count('\n'), exitCode == 2 ? 2 : 1);
    }
}

ZANDRO_TEST_MAIN(TestPackPublish)
#include "tst_packpublish.moc"
