// Shared pieces of the fuzz harnesses: a private scratch folder that doubles as the temporary
// folder of the code under test, quiet Qt logging, and small file helpers.
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QString>

namespace FuzzSupport {

// Makes a fresh folder under /tmp for this process, points TMPDIR at it (the unpacker and the
// download window keep their work under the temporary folder) and silences Qt's log lines,
// which would otherwise drown the fuzzer's own output. Returns the folder, without a trailing
// slash. Call once, from LLVMFuzzerInitialize.
QString setUpScratch(const char *name);

// The scratch folder made by setUpScratch.
const QString &scratch();

// Writes bytes to path, replacing what was there; aborts when it cannot, since every later
// result would be meaningless.
void writeFile(const QString &path, const std::uint8_t *data, std::size_t size);
void writeFile(const QString &path, const QByteArray &bytes);

// Removes everything inside folder (not folder itself).
void emptyFolder(const QString &folder);

} // namespace FuzzSupport

#endif // FUZZ_FUZZ_SUPPORT_H
