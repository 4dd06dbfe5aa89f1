#include "updaterapp.h"

#include <QDebug>
#include <QSettings>
#include <QVariant>

#include "commandline.h"
#include "dlgdownload.h"
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
    delete downloadWindow;
    delete listener;
}

void UpdaterApp::runUpdate()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QLatin1String(Updater::SettingsOrganization),
                       QLatin1String(Updater::SettingsApplication));
    const QVariant stored = settings.value(QLatin1String(Updater::KeyUpdateParam));
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
    if (commandLine->getValue(QLatin1String(Updater::ParamType)) !=
        QLatin1String(Updater::TypeUpdateList)) {
        skipEventLoop = true;
        return;
    }
    runUpdateList();
}

void UpdaterApp::runUpdateList()
{
    // The catalogue check and its windows are not wired in yet: end the pass with nothing open.
    skipEventLoop = true;
}
