#include "publish.h"

#include <cstdio>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QString>

#include <lzma.h>

#include "kt_basic.h"
#include "ktfzip.h"
#include "packageverifier.h"

namespace {
constexpr int LzmaHeaderSize = 13;
constexpr qint64 ChunkSize = 1 << 20;

int usageError(const QString &message)
{
    std::fprintf(stderr, "zandro-pack: %s\nTry 'zandro-pack --help' for more information.\n",
                 qPrintable(message));
    return 2;
}

int failed(const QString &package, const QString &problem)
{
    std::fprintf(stderr, "zandro-pack: %s: %s\n", qPrintable(package), qPrintable(problem));
    return 1;
}

// "--option value" pairs and one PACKAGE. False (with the exit status in *status) on a usage
// error, which has been reported.
bool parseArguments(const char *command, const QStringList &args, const QStringList &known,
                    std::map<QString, QString> &options, QString &package, int *status)
{
    const QString prefix = QLatin1String(command) + QStringLiteral(": ");
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg.startsWith(QLatin1String("--"))) {
            if (!known.contains(arg)) {
                *status = usageError(prefix + QStringLiteral("unknown option ") + arg);
                return false;
            }
            if (i + 1 == args.size()) {
                *status = usageError(prefix + arg + QStringLiteral(" needs a value"));
                return false;
            }
            if (!options.emplace(arg, args.at(++i)).second) {
                *status = usageError(prefix + arg + QStringLiteral(" given twice"));
                return false;
            }
        } else if (package.isEmpty()) {
            package = arg;
        } else {
            *status = usageError(prefix + QStringLiteral("unexpected argument ") + arg);
            return false;
        }
    }
    if (package.isEmpty()) {
        *status = usageError(prefix + QStringLiteral("PACKAGE is missing"));
        return false;
    }
    return true;
}

std::uint32_t le(const unsigned char *bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

// Decodes the compressed part (streamLength bytes at the package's position) without keeping
// the output; *decoded receives its size. An empty string, or what went wrong.
QString decodedSize(QFile &package, qint64 streamLength, std::uint64_t *decoded)
{
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&strm, UINT64_MAX) != LZMA_OK)
        return QStringLiteral("cannot start the LZMA decoder");
    const auto endDecoder = qScopeGuard([&strm] { lzma_end(&strm); });
    std::vector<std::uint8_t> in(ChunkSize);
    std::vector<std::uint8_t> out(ChunkSize);
    qint64 left = streamLength;
    for (;;) {
        if (strm.avail_in == 0 && left > 0) {
            const qint64 got = package.read(reinterpret_cast<char *>(in.data()),
                                            std::min(left, qint64(in.size())));
            if (got <= 0)
                return QStringLiteral("cannot read the compressed part");
            left -= got;
            strm.next_in = in.data();
            strm.avail_in = std::size_t(got);
        }
        strm.next_out = out.data();
        strm.avail_out = out.size();
        const lzma_ret ret = lzma_code(&strm, left == 0 ? LZMA_FINISH : LZMA_RUN);
        if (ret == LZMA_STREAM_END) {
            *decoded = strm.total_out;
            return QString();
        }
        if (ret == LZMA_BUF_ERROR)
            return QStringLiteral("the compressed part ends early");
        if (ret != LZMA_OK)
            return QStringLiteral("the compressed part does not decode (LZMA error %1)")
                .arg(int(ret));
    }
}

// The first problem of the package's structure, or an empty string.
QString structureProblem(const QString &path)
{
    QFile package(path);
    if (!package.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open: ") + package.errorString();
    unsigned char header[CKT_Fzip::HeaderSize];
    if (package.read(reinterpret_cast<char *>(header), CKT_Fzip::HeaderSize) !=
        CKT_Fzip::HeaderSize)
        return QStringLiteral("shorter than the %1-byte header").arg(CKT_Fzip::HeaderSize);
    if (le(header, 4) != CKT_Fzip::Magic)
        return QStringLiteral("wrong magic number, not an update package");

    std::uint32_t crc = 0;
    std::uint64_t restLength = 0;
    if (!CKT_Fzip::CRC32OfRest(package, crc, restLength))
        return QStringLiteral("cannot read: ") + package.errorString();
    const std::uint32_t stored = le(header + 8, 4);
    if (crc != stored)
        return QStringLiteral("CRC mismatch: the header says %1, the contents give %2")
            .arg(stored, 8, 16, QLatin1Char('0'))
            .arg(crc, 8, 16, QLatin1Char('0'));

    const qint64 streamLength = le(header + 16, 4);
    const qint64 rest = qint64(restLength);
    if (streamLength < LzmaHeaderSize || streamLength > rest)
        return QStringLiteral("a compressed part of %1 bytes does not fit the %2 bytes after the "
                              "header")
            .arg(streamLength)
            .arg(rest);

    if (!package.seek(CKT_Fzip::HeaderSize + streamLength))
        return QStringLiteral("cannot read the file table");
    unsigned char count[2];
    if (package.read(reinterpret_cast<char *>(count), 2) != 2)
        return QStringLiteral("the file table is cut short");
    std::uint64_t needed = 0;
    for (std::uint32_t i = 1, entries = le(count, 2); i <= entries; ++i) {
        unsigned char lead[2];
        if (package.read(reinterpret_cast<char *>(lead), 2) != 2)
            return QStringLiteral("the file table is cut short at entry %1").arg(i);
        QByteArray name = package.read(lead[0]);
        unsigned char size[4];
        if (name.size() != lead[0] || package.read(reinterpret_cast<char *>(size), 4) != 4)
            return QStringLiteral("the file table is cut short at entry %1").arg(i);
        needed += le(size, 4);
        const int zero = name.indexOf('\0');
        if (zero >= 0)
            name.truncate(zero);
        if (name.isEmpty())
            return QStringLiteral("entry %1 has no name").arg(i);
        if (name.startsWith('/') || name.split('/').contains(".."))
            return QStringLiteral("entry %1 would be written outside the folder: %2")
                .arg(i)
                .arg(QString::fromUtf8(name));
    }

    std::uint64_t decoded = 0;
    if (!package.seek(CKT_Fzip::HeaderSize))
        return QStringLiteral("cannot read the compressed part");
    const QString problem = decodedSize(package, streamLength, &decoded);
    if (!problem.isEmpty())
        return problem;
    if (needed > decoded)
        return QStringLiteral("the file table needs %1 bytes, the compressed part holds %2")
            .arg(needed)
            .arg(decoded);
    return QString();
}

// A key string, or the key line of a .pub file.
QString keyArgument(const QString &value)
{
    if (!QFileInfo(value).isFile())
        return value;
    QFile file(value);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = file.read(PackageVerifier::MaxSignatureSize).split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray key = line.trimmed();
        if (!key.isEmpty() && !key.startsWith("untrusted comment:"))
            return QString::fromLatin1(key);
    }
    return QString();
}

// A usage error unless every one of required was given.
bool requireOptions(const char *command, const std::map<QString, QString> &options,
                    std::initializer_list<const char *> required, int *status)
{
    for (const char *option : required) {
        if (options.count(QLatin1String(option)) == 0) {
            *status = usageError(QLatin1String(command) + QStringLiteral(": ") +
                                 QLatin1String(option) + QStringLiteral(" is missing"));
            return false;
        }
    }
    return true;
}

// A usage error unless --name and --version, where given, may stand in the trusted comment.
bool checkCommentOptions(const char *command, const std::map<QString, QString> &options,
                         int *status)
{
    const QString prefix = QLatin1String(command) + QStringLiteral(": ");
    const auto name = options.find(QStringLiteral("--name"));
    if (name != options.end() && !PackageVerifier::isModuleName(name->second)) {
        *status = usageError(prefix + QStringLiteral("--name \"%1\" is not a module name (one or "
                                                     "more characters, no '\"' and no control "
                                                     "character)")
                                          .arg(name->second));
        return false;
    }
    const auto version = options.find(QStringLiteral("--version"));
    if (version != options.end() && !PackageVerifier::isVersion(version->second)) {
        *status = usageError(prefix + QStringLiteral("--version \"%1\" is not a version (digits "
                                                     "and dots, such as 9.2.0.1)")
                                          .arg(version->second));
        return false;
    }
    return true;
}

CKT_WideString wide(const QString &text)
{
    const std::wstring characters = text.toStdWString();
    return CKT_WideString(characters.c_str(), int(characters.size()));
}
} // namespace

int runRecord(const QStringList &args)
{
    std::map<QString, QString> options;
    QString package;
    int status = 0;
    if (!parseArguments("record", args,
                        {"--url", "--name", "--version", "--description", "--module-type"},
                        options, package, &status))
        return status;
    if (!requireOptions("record", options, {"--url", "--name", "--version"}, &status))
        return status;
    const QFileInfo info(package);
    if (!info.isFile())
        return failed(package, QStringLiteral("not a file"));
    QString error;
    const QByteArray sha256 = PackageVerifier::sha256OfFile(package, &error);
    if (sha256.isEmpty())
        return failed(package, error);

    const auto value = [&options](const char *name, const char *fallback = "") {
        const auto it = options.find(QLatin1String(name));
        return it == options.end() ? QString::fromLatin1(fallback) : it->second;
    };
    CXML_Element module("module");
    const std::pair<const char *, QString> attributes[] = {
        {"name", value("--name")},
        {"version", value("--version")},
        {"description", value("--description")},
        {"size", QString::number(info.size()) + QLatin1Char('B')},
        {"url", value("--url")},
        {"sha256", QString::fromLatin1(sha256)},
        {"module_type", value("--module-type", "reader")},
        {"result", QStringLiteral("true")},
    };
    for (const auto &attribute : attributes)
        module.SetAttrValue(attribute.first, CKT_WideStringC(wide(attribute.second)));
    const CKT_ByteString text = module.OutputStream();
    // The writer ends the element with CRLF; a plain line end suits a terminal and a here-doc.
    QByteArray line(text.GetCStr(), text.GetLength());
    if (line.endsWith("\r\n"))
        line.chop(2);
    std::printf("%s\n", line.constData());
    return 0;
}

int runSign(const QStringList &args)
{
    std::map<QString, QString> options;
    QString package;
    int status = 0;
    if (!parseArguments("sign", args, {"--key", "--name", "--version"}, options, package, &status))
        return status;
    if (!requireOptions("sign", options, {"--key", "--name", "--version"}, &status) ||
        !checkCommentOptions("sign", options, &status))
        return status;
    // A package that would fail the updater's own checks is not worth a signature.
    const QString problem = structureProblem(package);
    if (!problem.isEmpty())
        return failed(package, problem);
    const QString minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (minisign.isEmpty())
        return failed(package, QStringLiteral("cannot sign: minisign is not installed"));

    // Prehashed is minisign's default. The terminal stays minisign's, for the key's password.
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(minisign,
                  {"-S", "-s", options["--key"], "-m", package, "-x", package + ".minisig", "-t",
                   PackageVerifier::trustedComment(options["--name"], options["--version"])});
    if (!process.waitForStarted(-1))
        return failed(package, QStringLiteral("cannot start minisign: ") + process.errorString());
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return failed(
            package,
            QStringLiteral("minisign could not sign it (exit status %1)")
                .arg(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1));
    return 0;
}

int runVerify(const QStringList &args)
{
    std::map<QString, QString> options;
    QString package;
    int status = 0;
    if (!parseArguments("verify", args, {"--key", "--name", "--version"}, options, package,
                        &status))
        return status;
    const bool withKey = options.count("--key") != 0;
    for (const char *needsKey : {"--name", "--version"}) {
        if (options.count(QLatin1String(needsKey)) != 0 && !withKey)
            return usageError(QStringLiteral("verify: ") + QLatin1String(needsKey) +
                              QStringLiteral(" needs --key"));
    }
    if (!checkCommentOptions("verify", options, &status))
        return status;
    std::unique_ptr<PackageVerifier> verifier;
    if (withKey) {
        verifier.reset(new PackageVerifier({keyArgument(options["--key"])}));
        if (!verifier->keyErrors().isEmpty())
            return usageError(QStringLiteral("verify: --key ") + options["--key"] +
                              QStringLiteral(" is neither a minisign public key nor a .pub file"));
    }

    const QString problem = structureProblem(package);
    if (!problem.isEmpty())
        return failed(package, problem);
    if (verifier) {
        QByteArray signature;
        QString reason;
        QString comment;
        if (!PackageVerifier::readSignatureFile(package + ".minisig", &signature, &reason) ||
            !verifier->verifySignature(package, signature, &comment, &reason))
            return failed(package, reason);
        // What is not asked about is taken from the comment, so that only its form is checked.
        QString name;
        QString version;
        PackageVerifier::parseTrustedComment(comment, &name, &version);
        if (options.count("--name") != 0)
            name = options["--name"];
        if (options.count("--version") != 0)
            version = options["--version"];
        if (!PackageVerifier::checkTrustedComment(comment, name, version, &reason))
            return failed(package, reason);
        std::printf("trusted comment: %s\n", comment.toUtf8().constData());
    }
    std::printf("ok\n");
    return 0;
}
