// DlgDownload::ParseSetupInfo on the Setup.xml of an unpacked package. The window is made once
// on the offscreen platform and never shown. Every entry that names a file must stay inside the
// unpack folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QVector>

#include "dlgdownload.h"
#include "fuzz_support.h"
#include "updatedefine.h"

namespace {
QString g_folder;
DlgDownload *g_window = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    g_folder = FuzzSupport::setUpScratch("setupinfo") + QLatin1String("/package/");
    QDir().mkpath(g_folder);
    new QApplication(*argc, *argv);
    g_window = new DlgDownload(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzSupport::writeFile(g_folder + QLatin1String("Setup.xml"), data, size);
    QVector<_SetupInfo *> entries;
    g_window->ParseSetupInfo(g_folder, entries);
    const QString root = QDir(g_folder).canonicalPath() + QLatin1Char('/');
    for (const _SetupInfo *entry : qAsConst(entries)) {
        if (!entry)
            __builtin_trap();
        if (entry->setupFile.isEmpty())
            continue;
        if (!entry->setupFile.startsWith(g_folder))
            __builtin_trap();
        // Cleaned of "." and "//" parts, the path must still lie below the folder.
        const QString cleaned = QDir::cleanPath(entry->setupFile);
        if (!cleaned.startsWith(root) && cleaned + QLatin1Char('/') != root)
            __builtin_trap();
    }
    qDeleteAll(entries);
    return 0;
}
