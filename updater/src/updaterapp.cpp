#include "updaterapp.h"

#include <QDebug>
#include <QDir>
#include <QLockFile>
#include <QVariant>

#include "commandline.h"
#include "creadermodulemanager.h"
#include "dlgdownload.h"
#include "dlgmessage.h"
#include "dlgupdatechecking.h"
#include "updatedefine.h"
#include "updatelistener.h"
#include "updaterlog.h"

UpdaterApp::UpdaterApp(QObject *parent)
    : QObject(parent), commandLine(new CSetup_CommandLine()), moduleManager(nullptr),
      readerVersion(QStringLiteral("")), downloadWindow(new DlgDownload(this, nullptr)),
      listener(new UpdateListener()), skipEventLoop(false), failed(false), passLock(nullptr)
{
}

UpdaterApp::~UpdaterApp()
{
    delete commandLine;
    delete moduleManager;
    delete downloadWindow;
    delete listener;
    delete passLock;
}

namespace {
const char LockFileName[] = "updater.lock";
} // namespace

bool UpdaterApp::isInteractive() const
{
    return commandLine->getValue(QLatin1String(Updater::ParamUpdater)) ==
           QLatin1String(Updater::ModeManual);
}

QString UpdaterApp::workFolderMessage(const QString &problem)
{
    return tr("The updater cannot use its working folder (%1).").arg(problem);
}

QString UpdaterApp::passWorkFolder(QString *problem)
{
    if (m_workFolder.isEmpty()) {
        m_workFolder = Comm::workFolder(problem);
        m_workFolderIdentity = FileIdentity::of(m_workFolder);
        return m_workFolder;
    }
    // Its lock lives in it: a folder removed or swapped mid-pass would let a second pass in.
    if (!FileIdentity::of(m_workFolder).sameAs(m_workFolderIdentity)) {
        if (problem)
            *problem = QStringLiteral("%1: was removed or replaced during the pass")
                           .arg(QDir::cleanPath(m_workFolder));
        return QString();
    }
    return m_workFolder;
}

void UpdaterApp::reportFailure(const QString &message, const QString &reason)
{
    failed = true;
    qWarning().noquote() << "update failed:" << reason;
    if (!isInteractive())
        return;
    DlgMessage box(nullptr);
    box.setInformation(message);
    box.setStandardButtonsOk();
    Comm::moveToDesktopCentre(&box);
    box.exec();
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
    UpdaterLog::logPassStart(isInteractive() ? QStringLiteral("Manual")
                                             : QStringLiteral("automatic"));
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

    // One pass at a time: a second one would empty the unpack folder under the first.
    QString problem;
    const QString folder = passWorkFolder(&problem);
    if (folder.isEmpty()) {
        reportFailure(workFolderMessage(problem),
                      QStringLiteral("working folder: %1").arg(problem));
        skipEventLoop = true;
        return;
    }
    passLock = new QLockFile(folder + QLatin1String(LockFileName));
    // Only a lock whose process is gone is stale; a pass may wait at a question for hours.
    passLock->setStaleLockTime(0);
    if (!passLock->tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString application;
        passLock->getLockInfo(&pid, &host, &application);
        qWarning().noquote() << "another update pass is running (process" << pid
                             << "); this one ends";
        delete passLock;
        passLock = nullptr;
        skipEventLoop = true;
        return;
    }

    moduleManager = new CReaderModuleManager(type, this, nullptr);

    DlgUpdateChecking checking(type, nullptr);
    checking.setModuleManager(moduleManager);
    checking.startUpdateCheck();
    if (checking.checkResult == -1) {
        Comm::moveToDesktopCentre(&checking);
        checking.exec();
    }
    if (checking.checkResult == DlgUpdateChecking::CheckFailed) {
        reportFailure(tr("Could not reach the update service: %1. Please try again later.")
                          .arg(checking.failureReason),
                      QStringLiteral("update check: %1").arg(checking.failureReason));
        skipEventLoop = true;
        return;
    }
    if (checking.checkResult != 1) {
        skipEventLoop = true;
        return;
    }

    const QVector<MODULEINFO *> offered = moduleManager->offeredModules;
    if (isInteractive()) {
        DlgMessage message(nullptr);
        if (offered.isEmpty()) {
            message.setInformation(tr("Zandro Reader is already up to date."));
            message.setStandardButtonsOk();
        } else {
            message.setInformation(
                tr("A new version (%1) of Zandro Reader is available. Do you want to download it?")
                    .arg(offered.first()->version));
            // What the user agrees to: the release notes and the size, before the download.
            message.setDetails(offered.first()->description,
                               DlgMessage::sizeInMegabytes(offered.first()->size));
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
