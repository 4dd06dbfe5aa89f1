// Checks update packages against detached minisign signatures made with one of the trusted keys.
//
// A package at URL U is signed by the file at U + ".minisig": four text lines, LF or CRLF.
//
//   untrusted comment: <free text, never trusted>
//   base64 of 74 bytes: algorithm "ED" (prehashed), u64 key id (little-endian), Ed25519
//                       signature over the BLAKE2b-512 digest of the package
//   trusted comment: <TEXT>
//   base64 of 64 bytes: Ed25519 signature over the 64 signature bytes followed by TEXT
//
// A public key is the base64 of 42 bytes: "Ed", the u64 key id, the 32-byte Ed25519 key. The key
// id in the signature picks the trusted key; both signatures must hold under it, and only then is
// TEXT read. minisign's legacy form ("Ed", the package signed whole) is refused: the algorithm
// bytes are signed by neither signature, so accepting both forms would let the 64-byte digest
// of any signed package pass as a package signed the legacy way.
//
// TEXT has exactly one form, which binds the package to a module and a version:
//
//   zandro-package name="NAME" version=VERSION
//
// with single spaces and nothing before or after. NAME is one or more characters, none of them
// '"' or a control character; VERSION is digits and dots (9.2.0.1). A package is accepted only
// when NAME is the offered module's name and VERSION its version, both compared exactly, so a
// comment signed for another module, another version or in any other wording is refused.
#ifndef UPDATER_SRC_PACKAGEVERIFIER_H
#define UPDATER_SRC_PACKAGEVERIFIER_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

class PackageVerifier
{
public:
    // Signature files larger than this are refused unread.
    static constexpr int MaxSignatureSize = 4096;

    // publicKeys: minisign public key strings (the base64 line). Keys that do not parse are left
    // out and reported by keyErrors(); hasKeys() still counts them, so a broken key list refuses
    // every package instead of letting packages through unchecked.
    explicit PackageVerifier(const QStringList &publicKeys);

    // True when any key was given: packages must then be verified.
    bool hasKeys() const { return m_hasKeys; }
    // One line per key that could not be used, naming it by its position from 1.
    QStringList keyErrors() const { return m_keyErrors; }

    // True when signatureText is a valid signature of the package by a trusted key and its
    // trusted comment names exactly this module name and version. Otherwise false, and *reason
    // (when given) holds a short English sentence naming the first problem found.
    bool verify(const QString &packagePath, const QByteArray &signatureText, const QString &name,
                const QString &version, QString *reason) const;
    // The same without reading the trusted comment's form; *trustedComment receives TEXT once
    // both signatures hold (TEXT that is not UTF-8 is refused).
    bool verifySignature(const QString &packagePath, const QByteArray &signatureText,
                         QString *trustedComment, QString *reason) const;

    // Reads a signature file, at most MaxSignatureSize + 1 bytes of it (so that verify() can
    // tell an oversized file). False and *reason when it cannot be opened.
    static bool readSignatureFile(const QString &path, QByteArray *text, QString *reason);
    // Whether comment has the one form above; then *name and *version (when given) receive
    // NAME and VERSION, otherwise they are left alone.
    static bool parseTrustedComment(const QString &comment, QString *name, QString *version);
    // True when comment has the one form and names exactly name and version; otherwise false
    // and *reason (when given) names the first mismatch.
    static bool checkTrustedComment(const QString &comment, const QString &name,
                                    const QString &version, QString *reason);
    // The trusted comment for a package of module name at version.
    // Requires: isModuleName(name) and isVersion(version).
    static QString trustedComment(const QString &name, const QString &version);
    // Whether name may stand as NAME, and version as VERSION, in the trusted comment.
    static bool isModuleName(const QString &name);
    static bool isVersion(const QString &version);
    // Lower-case hex SHA-256 of the file, streamed; empty and *error (when given) on failure.
    static QByteArray sha256OfFile(const QString &path, QString *error);
    // The key id as minisign shows it: upper-case hex without leading zeros.
    static QString keyIdText(std::uint64_t keyId);

private:
    struct Key
    {
        std::uint64_t id = 0;
        std::array<unsigned char, 32> publicKey{};
    };
    const Key *findKey(std::uint64_t id) const;

    std::vector<Key> m_keys;
    QStringList m_keyErrors;
    bool m_hasKeys = false;
    bool m_ready = false; // the crypto library started
};

#endif // UPDATER_SRC_PACKAGEVERIFIER_H
