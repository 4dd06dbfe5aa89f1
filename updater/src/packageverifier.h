// Checks update packages against detached minisign signatures made with one of the trusted keys.
//
// A package at URL U is signed by the file at U + ".minisig": four text lines, LF or CRLF.
//
//   untrusted comment: <free text, never trusted>
//   base64 of 74 bytes: algorithm "ED" (prehashed) or "Ed" (legacy), u64 key id (little-endian),
//                       Ed25519 signature over the BLAKE2b-512 digest of the package ("ED") or
//                       over the package itself ("Ed")
//   trusted comment: <TEXT>
//   base64 of 64 bytes: Ed25519 signature over the 64 signature bytes followed by TEXT
//
// A public key is the base64 of 42 bytes: "Ed", the u64 key id, the 32-byte Ed25519 key. The key
// id in the signature picks the trusted key; both signatures must hold under it, and only then is
// TEXT read. A package counts as signed for a version when that version is one of TEXT's words
// (split at spaces and tabs, compared whole): "Zandro Reader 9.2.0.1" names 9.2.0.1, while
// "9.2.0.1," or "v9.2.0.1" does not, so a near miss is refused rather than guessed at.
//
// The prehashed form streams the package through the hash. The legacy form needs the whole
// package at once; it is mapped into memory rather than read, so even large packages cost no heap.
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
    // trusted comment names version as a word. Otherwise false, and *reason (when given) holds
    // a short English sentence naming the first problem found. An empty version never matches.
    bool verify(const QString &packagePath, const QByteArray &signatureText, const QString &version,
                QString *reason) const;
    // The same without the version check; *trustedComment receives TEXT once both signatures
    // hold.
    bool verifySignature(const QString &packagePath, const QByteArray &signatureText,
                         QString *trustedComment, QString *reason) const;

    // Reads a signature file, at most MaxSignatureSize + 1 bytes of it (so that verify() can
    // tell an oversized file). False and *reason when it cannot be opened.
    static bool readSignatureFile(const QString &path, QByteArray *text, QString *reason);
    // Whether version is one of the words of comment (see above).
    static bool commentNamesVersion(const QString &comment, const QString &version);
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
