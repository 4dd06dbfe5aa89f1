// CSetup_CommandLine::parserParam on a parameter string as the reader's settings store holds
// it, read as UTF-8 the way the settings file is. Afterwards every key the updater asks for is
// looked up, and a parse that reports entries must give a value for the first item's key.
#include <cstddef>
#include <cstdint>

#include <QString>

#include "commandline.h"
#include "updatedefine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    CSetup_CommandLine commandLine;
    const bool parsed = commandLine.parserParam(text);
    for (const char *key : {Updater::ParamType, Updater::ParamProduct, Updater::ParamVersion,
                            Updater::ParamExpress})
        (void)commandLine.getValue(QLatin1String(key));
    (void)commandLine.getReaderPathFromcmd();

    // The first item that holds a double quote always lands in the table.
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &item : items) {
        if (!item.contains(QLatin1Char('"')))
            continue;
        const int colon = item.indexOf(QLatin1Char(':'));
        if (!parsed || commandLine.getValue(colon < 0 ? item : item.left(colon)).isNull())
            __builtin_trap();
        break;
    }
    return 0;
}
