// InstalledVersions on whatever stands in its file: reading never fails hard, and a version
// recorded afterwards is always found again, never below what was recorded, whatever the file
// held before.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "creadermodulemanager.h"
#include "fuzz_support.h"
#include "installedversions.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    const QString scratch = FuzzSupport::setUpScratch("installedversions");
    setenv("XDG_STATE_HOME", QFile::encodeName(scratch + QLatin1String("/state")).constData(), 1);
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = InstalledVersions::filePath();
    QDir().mkpath(QFileInfo(path).path());
    FuzzSupport::writeFile(path, data, size);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QHash<QString, QString> before = InstalledVersions::load();
    // The first line's text, whatever it is, as a module name of its own.
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(data),
                                           static_cast<int>(size < 40 ? size : 40))
                             .section(QLatin1Char('\n'), 0, 0);
    if (name.isEmpty())
        return 0;
    if (!InstalledVersions::record(name, QStringLiteral("9.2.0.1")))
        return 0; // a file past its bound is left as it is
    const QString after = InstalledVersions::highest(name);
    if (after.isEmpty() ||
        CReaderModuleManager::CompareVersion(after, QStringLiteral("9.2.0.1")) < 0)
        __builtin_trap();
    // Every other module keeps a version at least as high as it had.
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key() != name &&
            CReaderModuleManager::CompareVersion(InstalledVersions::highest(it.key()),
                                                 it.value()) < 0)
            __builtin_trap();
    }
    return 0;
}
