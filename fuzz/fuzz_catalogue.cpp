// The catalogue pass (CReaderModuleManager::OnPaserModuleInfo) on a reply together with a state
// file. The input is the reply, then the line "--state--", then the state file's bytes; without
// that line it is all reply and there is no state file. Every record kept must be complete
// enough for the windows that show it.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QFile>

#include "creadermodulemanager.h"
#include "fuzz_support.h"
#include "updatedefine.h"

namespace {
const QByteArray Separator = QByteArrayLiteral("\n--state--\n");
QString g_reply;
QString g_state;
CReaderModuleManager *g_manager = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const QString scratch = FuzzSupport::setUpScratch("catalogue");
    g_reply = scratch + QLatin1String("/reply.xml");
    g_state = scratch + QLatin1String("/UpdaterInfo.xml");
    g_manager = new CReaderModuleManager(QLatin1String(Updater::TypeUpdateList), nullptr);
    g_manager->readerPath = scratch + QLatin1Char('/');
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const int split = input.indexOf(Separator);
    if (split < 0) {
        FuzzSupport::writeFile(g_reply, input);
        QFile::remove(g_state);
    } else {
        FuzzSupport::writeFile(g_reply, input.left(split));
        FuzzSupport::writeFile(g_state, input.mid(split + Separator.size()));
    }

    g_manager->OnPaserModuleInfo(g_reply);
    for (const MODULEINFO *record : qAsConst(g_manager->offeredModules)) {
        if (!record || !record->result || record->group != QLatin1String(Updater::TypeUpdateList))
            __builtin_trap();
    }
    g_manager->ReleaseModuleInfo();
    return 0;
}
