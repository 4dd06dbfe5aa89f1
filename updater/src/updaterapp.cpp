#include "updaterapp.h"

#include <QDebug>
#include <QVariant>

#include "commandline.h"
#include "creadermodulemanager.h"
#include "dlgdownload.h"
#include "dlgmessage.h"
#include "dlgupdatechecking.h"
#include "updatedefine.h"
#include "updatelistener.h"

UpdaterApp::UpdaterApp(QObject *parent)
    : QObject(parent),
      commandLine(new CSetup_CommandLine()),
      moduleManager(nullptr),
      readerVersion(QStringLiteral("")),
      downloadWindow(new DlgDownload(this, nullptr)),
      listener(new UpdateListener()),
      skipEventLoop(false)
{
}

UpdaterApp::~UpdaterApp()
{
    delete commandLine;
    delete moduleManager;
    delete downloadWindow;
    delete listener;
}

void UpdaterApp::runUpdate()
{
    const QVariant stored = Comm::readerSetting(Updater::KeyUpdateParam);
    // Without a parameter string nothing is shown, so the process must not wait in an event loop.
    if (!stored.isValid()) {
        skipEventLoop = true;
        return;
    }
    const QString param = stored.toString();
    qDebug() << "Updater Param: " << param;
    if (param.isEmpty()) {
        skipEventLoop = true;
        return;
    }
    commandLine->parserParam(param);
    listener->startListener();
    runUpdateVisible();
}

void UpdaterApp::runUpdateVisible()
{
    const QString type = commandLine->getValue(QLatin1String(Updater::ParamType));
    if (type != QLatin1String(Updater::TypeUpdateList)) {
        skipEventLoop = true;
        return;
    }
    moduleManager = new CReaderModuleManager(type, this, nullptr);

    DlgUpdateChecking checking(type, nullptr);
    checking.setModuleManager(moduleManager);
    checking.startUpdateCheck();
    Comm::moveToDesktopCentre(&checking);
    checking.exec();
    if (checking.checkResult != 1) {
        skipEventLoop = true;
        return;
    }

    const QVector<MODULEINFO *> offered = moduleManager->offeredModules;
    const bool interactive = commandLine->getValue(QLatin1String(Updater::ParamUpdater)) ==
                             QLatin1String(Updater::ModeManual);
    if (interactive) {
        DlgMessage message(nullptr);
        if (offered.isEmpty()) {
            message.setInformation(tr("Zandro Reader is already up to date."));
            message.setStandardButtonsOk();
        } else {
            message.setInformation(
                tr("A new version (%1) of Zandro Reader is available. Do you want to download it?")
                    .arg(offered.first()->version));
        }
        Comm::moveToDesktopCentre(&message);
        message.exec();
        if (offered.isEmpty() || !message.accepted) {
            skipEventLoop = true;
            return;
        }
    }

    downloadWindow->setSelectUpdates(offered);
    downloadWindow->startShowDownload();
    // Only an open download window keeps the process alive. Nothing offered, or a run that could
    // not get going, leaves it hidden, and an event loop without a window would never end.
    if (!downloadWindow->isVisible())
        skipEventLoop = true;
}
