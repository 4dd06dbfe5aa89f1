#include <QApplication>

#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "startupdisplay.h"
#include "startupfont.h"
#include "updaterapp.h"
#include "updaterlog.h"
#include "updatertranslations.h"

namespace {
const char HelpText[] =
    "Usage: zandro-updater [--help | --version]\n"
    "\n"
    "Looks for updates of Zandro Reader and installs them. The reader starts it; it takes\n"
    "no arguments of its own and reads what to do from the reader's settings store.\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";
} // namespace

int main(int argc, char *argv[])
{
    // Only these two are answered; any other argument is ignored, as the reader may pass
    // arguments of its own.
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--version") == 0) {
            printf("zandro-updater %s\n", UPDATER_VERSION);
            return 0;
        }
        if (strcmp(argv[i], "--help") == 0) {
            fputs(HelpText, stdout);
            return 0;
        }
    }
    // The images live in a static library, whose resource registration the linker would drop.
    Q_INIT_RESOURCE(res);
    // Under a file-size limit a write past it would kill the process mid-download; ignored, the
    // write fails instead and the downloader drops the package it could not store.
    signal(SIGXFSZ, SIG_IGN);
    UpdaterLog log;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!displayAvailable(requestedPlatforms(arguments), requestedXDisplay(arguments))) {
        UpdaterLog::reportToUser(QLatin1String(NoDisplayMessage));
        return 1;
    }
    enableHighDpiScaling();
    QApplication app(argc, argv);
    releaseDisplayCheck();
    QApplication::setFont(startupFontForIssue(readIssueText()));
    installTranslations();

    int exitCode = 0;
    {
        UpdaterApp updater(nullptr);
        updater.runUpdate();
        if (!updater.skipEventLoop)
            exitCode = app.exec();
        // 1 tells whoever started the pass that it failed; it has said why.
        if (updater.failed)
            exitCode = 1;
    }
    return exitCode;
}
