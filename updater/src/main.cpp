#include <QApplication>

#include <signal.h>

#include "startupdisplay.h"
#include "startupfont.h"
#include "updaterapp.h"
#include "updaterlog.h"
#include "updatertranslations.h"

int main(int argc, char *argv[])
{
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
