#include "packageverifier.h"

#include <QFile>
#include <QRegularExpression>

#include <sodium.h>

#include <cstring>
#include <memory>

namespace {
constexpr int KeyBytes = 42;
constexpr int SignatureLineBytes = 74;
constexpr int GlobalSignatureBytes = 64;
constexpr int KeyIdBytes = 8;
constexpr int DigestBytes = 64;
constexpr qint64 ChunkSize = 1 << 20;
const char UntrustedPrefix[] = "untrusted comment: ";
const char TrustedPrefix[] = "trusted comment: ";
const char CommentStart[] = "zandro-package name=\"";
const char CommentMiddle[] = "\" version=";

// Strict base64 with padding, as minisign writes it; false unless it decodes to exactly size
// bytes.
bool decodeBase64(const QByteArray &text, unsigned char *out, std::size_t size)
{
    if (text.isEmpty())
        return false;
    std::size_t decoded = 0;
    const char *end = nullptr;
    if (sodium_base642bin(out, size, text.constData(), std::size_t(text.size()), nullptr, &decoded,
                          &end, sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return decoded == size && end == text.constData() + text.size();
}

std::uint64_t readKeyId(const unsigned char *bytes)
{
    std::uint64_t id = 0;
    for (int i = KeyIdBytes - 1; i >= 0; --i)
        id = id << 8 | bytes[i];
    return id;
}

// Feeds the file to the callback in chunks; false and *error when it cannot be read.
template <typename Sink> bool streamFile(const QString &path, Sink sink, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[ChunkSize]);
    for (;;) {
        const qint64 got = file.read(reinterpret_cast<char *>(buffer.get()), ChunkSize);
        if (got < 0) {
            *error = file.errorString();
            return false;
        }
        if (got == 0)
            return true;
        sink(buffer.get(), std::size_t(got));
    }
}

bool setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

bool malformed(QString *reason, const char *what)
{
    return setReason(reason, QStringLiteral("malformed signature file: ") + QLatin1String(what));
}

// Checks the package's BLAKE2b-512 digest against the signature line's 64 signature bytes.
bool verifyPackage(const QString &packagePath, const unsigned char *signature,
                   const unsigned char *publicKey, QString *reason)
{
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, DigestBytes);
    QString error;
    if (!streamFile(
            packagePath,
            [&state](const unsigned char *data, std::size_t size) {
                crypto_generichash_update(&state, data, size);
            },
            &error))
        return setReason(reason, QStringLiteral("cannot read the package: ") + error);
    unsigned char digest[DigestBytes];
    crypto_generichash_final(&state, digest, DigestBytes);
    return crypto_sign_verify_detached(signature, digest, DigestBytes, publicKey) == 0 ||
           setReason(reason, QStringLiteral("package does not match its signature"));
}
} // namespace

PackageVerifier::PackageVerifier(const QStringList &publicKeys)
    : m_hasKeys(!publicKeys.isEmpty()), m_ready(sodium_init() >= 0)
{
    for (int i = 0; i < publicKeys.size(); ++i) {
        const QString name = QStringLiteral("key %1").arg(i + 1);
        unsigned char bytes[KeyBytes];
        if (!decodeBase64(publicKeys.at(i).trimmed().toLatin1(), bytes, KeyBytes) ||
            std::memcmp(bytes, "Ed", 2) != 0) {
            m_keyErrors << name + QStringLiteral(": not a minisign public key");
            continue;
        }
        Key key;
        key.id = readKeyId(bytes + 2);
        std::memcpy(key.publicKey.data(), bytes + 2 + KeyIdBytes, key.publicKey.size());
        if (findKey(key.id)) {
            m_keyErrors
                << name + QStringLiteral(": key id %1 is already taken").arg(keyIdText(key.id));
            continue;
        }
        m_keys.push_back(key);
    }
    if (!m_ready)
        m_keyErrors << QStringLiteral("the cryptography library did not start");
}

const PackageVerifier::Key *PackageVerifier::findKey(std::uint64_t id) const
{
    for (const Key &key : m_keys) {
        if (key.id == id)
            return &key;
    }
    return nullptr;
}

bool PackageVerifier::verify(const QString &packagePath, const QByteArray &signatureText,
                             const QString &name, const QString &version, QString *reason) const
{
    QString comment;
    return verifySignature(packagePath, signatureText, &comment, reason) &&
           checkTrustedComment(comment, name, version, reason);
}

bool PackageVerifier::verifySignature(const QString &packagePath, const QByteArray &signatureText,
                                      QString *trustedComment, QString *reason) const
{
    if (!m_ready)
        return setReason(reason, QStringLiteral("the cryptography library did not start"));
    if (m_keys.empty())
        return setReason(reason, QStringLiteral("no usable trusted key"));
    if (signatureText.size() > MaxSignatureSize)
        return malformed(reason, "larger than 4096 bytes");

    // CRLF counts as a line end; any other control character means this is not the text file
    // minisign writes.
    QByteArray text = signatureText;
    text.replace("\r\n", "\n");
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F)
            return malformed(reason, "not a text file");
    }
    if (text.endsWith('\n'))
        text.chop(1);
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 4)
        return malformed(reason, "not four lines");
    if (!lines.at(0).startsWith(UntrustedPrefix))
        return malformed(reason, "line 1 is not an untrusted comment");
    unsigned char signature[SignatureLineBytes];
    if (!decodeBase64(lines.at(1), signature, SignatureLineBytes))
        return malformed(reason, "line 2 is not a signature");
    if (std::memcmp(signature, "Ed", 2) == 0)
        return setReason(reason, QStringLiteral("legacy signature: only the prehashed form (ED) "
                                                "is accepted"));
    if (std::memcmp(signature, "ED", 2) != 0)
        return malformed(reason, "unknown signature algorithm");
    if (!lines.at(2).startsWith(TrustedPrefix))
        return malformed(reason, "line 3 is not a trusted comment");
    const QByteArray comment = lines.at(2).mid(int(sizeof TrustedPrefix) - 1);
    unsigned char globalSignature[GlobalSignatureBytes];
    if (!decodeBase64(lines.at(3), globalSignature, GlobalSignatureBytes))
        return malformed(reason, "line 4 is not a global signature");

    const std::uint64_t keyId = readKeyId(signature + 2);
    const Key *key = findKey(keyId);
    if (!key)
        return setReason(
            reason,
            QStringLiteral("signature made with an unknown key (id %1)").arg(keyIdText(keyId)));
    const unsigned char *edSignature = signature + 2 + KeyIdBytes;
    if (!verifyPackage(packagePath, edSignature, key->publicKey.data(), reason))
        return false;

    // The global signature binds the trusted comment to this very signature.
    QByteArray signedComment(reinterpret_cast<const char *>(edSignature),
                             SignatureLineBytes - 2 - KeyIdBytes);
    signedComment += comment;
    if (crypto_sign_verify_detached(
            globalSignature, reinterpret_cast<const unsigned char *>(signedComment.constData()),
            static_cast<unsigned long long>(signedComment.size()), key->publicKey.data()) != 0)
        return setReason(reason, QStringLiteral("trusted comment does not match its signature"));
    // Bytes that are not UTF-8 would decode to replacement characters, and two different
    // broken names could then compare equal.
    const QString decoded = QString::fromUtf8(comment);
    if (decoded.toUtf8() != comment)
        return setReason(reason, QStringLiteral("trusted comment is not UTF-8 text"));
    if (trustedComment)
        *trustedComment = decoded;
    return true;
}

bool PackageVerifier::readSignatureFile(const QString &path, QByteArray *text, QString *reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return setReason(reason,
                         QStringLiteral("cannot read the signature file: ") + file.errorString());
    *text = file.read(MaxSignatureSize + 1);
    return true;
}

bool PackageVerifier::parseTrustedComment(const QString &comment, QString *name, QString *version)
{
    const QLatin1String start(CommentStart);
    const QLatin1String middle(CommentMiddle);
    if (!comment.startsWith(start))
        return false;
    const int nameEnd = comment.indexOf(QLatin1Char('"'), start.size());
    if (nameEnd < 0 || comment.midRef(nameEnd, middle.size()) != middle)
        return false;
    const QString foundName = comment.mid(start.size(), nameEnd - start.size());
    const QString foundVersion = comment.mid(nameEnd + middle.size());
    if (!isModuleName(foundName) || !isVersion(foundVersion))
        return false;
    if (name)
        *name = foundName;
    if (version)
        *version = foundVersion;
    return true;
}

bool PackageVerifier::checkTrustedComment(const QString &comment, const QString &name,
                                          const QString &version, QString *reason)
{
    QString signedName;
    QString signedVersion;
    if (!parseTrustedComment(comment, &signedName, &signedVersion))
        return setReason(reason, QStringLiteral("trusted comment is not of the form "
                                                "zandro-package name=\"NAME\" version=VERSION"));
    if (signedVersion != version)
        return setReason(
            reason, QStringLiteral("signed for version %1, not %2").arg(signedVersion, version));
    if (signedName != name)
        return setReason(
            reason, QStringLiteral("signed for module \"%1\", not \"%2\"").arg(signedName, name));
    return true;
}

QString PackageVerifier::trustedComment(const QString &name, const QString &version)
{
    Q_ASSERT(isModuleName(name) && isVersion(version));
    return QLatin1String(CommentStart) + name + QLatin1String(CommentMiddle) + version;
}

bool PackageVerifier::isModuleName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('"') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

bool PackageVerifier::isVersion(const QString &version)
{
    static const QRegularExpression shape(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+(\\.[0-9]+)*")));
    return shape.match(version).hasMatch();
}

QByteArray PackageVerifier::sha256OfFile(const QString &path, QString *error)
{
    if (sodium_init() < 0) {
        if (error)
            *error = QStringLiteral("the cryptography library did not start");
        return QByteArray();
    }
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    QString problem;
    if (!streamFile(
            path,
            [&state](const unsigned char *data, std::size_t size) {
                crypto_hash_sha256_update(&state, data, size);
            },
            &problem)) {
        if (error)
            *error = problem;
        return QByteArray();
    }
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    return QByteArray(reinterpret_cast<const char *>(digest), sizeof digest).toHex();
}

QString PackageVerifier::keyIdText(std::uint64_t keyId)
{
    return QString::number(qulonglong(keyId), 16).toUpper();
}
