// PackageVerifier::verify on the text of a signature file, against a fixed package and a fixed
// trusted key. The seeds are real minisign signatures of that package by that key (prehashed,
// legacy, CRLF), so mutations reach the key lookup and both signature checks as well as the
// parser. The verdict must come with a reason exactly when it is a refusal, and an accepted
// signature must name the version.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QStringList>

#include "fuzz_support.h"
#include "packageverifier.h"

namespace {
// The public half of a key pair made for the seeds; its secret half was thrown away.
const char PublicKey[] = "RWQCA/KbM7QeiZLAGuOUwXHVjOz0VekD3DYqTkHUqvvOOgV6BpQ1ES6B";
const char Package[] = "package bytes for the signature harness\n";

QString g_package;
const PackageVerifier *g_verifier = nullptr;
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
    QString reason;
    QString comment;
    const bool signedOk = g_verifier->verifySignature(g_package, signature, &comment, &reason);
    if (signedOk != reason.isEmpty())
        __builtin_trap();
    reason.clear();
    const bool accepted = g_verifier->verify(g_package, signature, QStringLiteral("1.0"), &reason);
    if (accepted != reason.isEmpty() || (accepted && !signedOk) ||
        (accepted && !PackageVerifier::commentNamesVersion(comment, QStringLiteral("1.0"))))
        __builtin_trap();
    return 0;
}
