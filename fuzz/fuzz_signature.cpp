// PackageVerifier::verify on the text of a signature file, against a fixed package and a fixed
// trusted key, and the trusted comment's parser on the same bytes. The seeds are real minisign
// signatures of that package by that key (prehashed, CRLF, for another module, and the refused
// legacy form) plus a bare comment, so mutations reach the key lookup, both signature checks and
// the comment's form as well as the file parser. A verdict must come with a reason exactly when
// it is a refusal, an accepted signature must name the module and version, and a comment that
// parses must be exactly the comment its name and version make.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QStringList>

#include "fuzz_support.h"
#include "packageverifier.h"

namespace {
// The public half of a key pair made for the seeds; its secret half was thrown away.
const char PublicKey[] = "RWQyKLs8fI1stI9P03d4b5xttPZ9JbnMAOtxeUn/vrI3pF4lzrfPhIxY";
const char Package[] = "package bytes for the signature harness\n";
const char ModuleName[] = "Zandro Reader";
const char Version[] = "1.0";

QString g_package;
const PackageVerifier *g_verifier = nullptr;

void checkParser(const QString &comment)
{
    QString name;
    QString version;
    if (!PackageVerifier::parseTrustedComment(comment, &name, &version))
        return;
    if (!PackageVerifier::isModuleName(name) || !PackageVerifier::isVersion(version) ||
        PackageVerifier::trustedComment(name, version) != comment ||
        !PackageVerifier::checkTrustedComment(comment, name, version, nullptr))
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_package = FuzzSupport::setUpScratch("signature") + QLatin1String("/package.zup");
    FuzzSupport::writeFile(g_package, QByteArray(Package));
    static const PackageVerifier verifier({QString::fromLatin1(PublicKey)});
    if (!verifier.keyErrors().isEmpty())
        __builtin_trap();
    g_verifier = &verifier;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray signature(reinterpret_cast<const char *>(data), static_cast<int>(size));
    checkParser(QString::fromUtf8(signature));

    QString reason;
    QString comment;
    const bool signedOk = g_verifier->verifySignature(g_package, signature, &comment, &reason);
    if (signedOk != reason.isEmpty())
        __builtin_trap();
    if (signedOk)
        checkParser(comment);
    reason.clear();
    const bool accepted = g_verifier->verify(g_package, signature, QLatin1String(ModuleName),
                                             QLatin1String(Version), &reason);
    QString name;
    QString version;
    if (accepted != reason.isEmpty() || (accepted && !signedOk) ||
        (accepted && (!PackageVerifier::parseTrustedComment(comment, &name, &version) ||
                      name != QLatin1String(ModuleName) || version != QLatin1String(Version))))
        __builtin_trap();
    return 0;
}
