#include "dlgupdatechecking.h"

#include <QDebug>
#include <QTimer>

#include "creadermodulemanager.h"
#include "ui_dlgupdatechecking.h"

DlgUpdateChecking::DlgUpdateChecking(const QString &, QWidget *parent)
    : QDialog(parent), ui(new Ui_DlgUpdateChecking), timeoutTimer(nullptr), moduleManager(nullptr),
      checkResult(-1)
{
    ui->setupUi(this);
}

DlgUpdateChecking::~DlgUpdateChecking()
{
    delete timeoutTimer;
    delete ui;
}

void DlgUpdateChecking::setModuleManager(CReaderModuleManager *manager)
{
    moduleManager = manager;
}

void DlgUpdateChecking::startTimer(int milliseconds)
{
    if (!timeoutTimer) {
        timeoutTimer = new QTimer(this);
        connect(timeoutTimer, &QTimer::timeout, this, &DlgUpdateChecking::timeOut);
    }
    timeoutTimer->start(milliseconds);
}

void DlgUpdateChecking::startUpdateCheck()
{
    if (!moduleManager)
        return;
    startTimer(TimeoutMs);
    connect(moduleManager, &CReaderModuleManager::sQueryModuleInfoFinish, this,
            &DlgUpdateChecking::checkFinsh, Qt::UniqueConnection);
    connect(moduleManager, &CReaderModuleManager::sQueryModuleInfoFailed, this,
            &DlgUpdateChecking::checkFailed, Qt::UniqueConnection);
    if (moduleManager->QueryModuleInfo(ui->progressBar) != 0) {
        checkResult = CheckFailed;
        failureReason = moduleManager->queryFailure;
        deleteTimer();
    }
}

void DlgUpdateChecking::checkFinsh()
{
    // A reply that ended short of 100 (failed, or of unknown length) is no success: the dialog
    // stays open for the user to cancel, with no time-out left to close it.
    if (ui->progressBar->value() >= 100) {
        checkResult = 1;
        reject();
    }
    deleteTimer();
}

void DlgUpdateChecking::on_cancelButton_clicked()
{
    checkResult = 0;
    deleteTimer();
    reject();
}

void DlgUpdateChecking::timeOut()
{
    qDebug() << "Update Time out";
    if (checkResult != -1)
        return;
    checkResult = CheckFailed;
    failureReason = QStringLiteral("no answer within %1 s").arg(TimeoutMs / 1000);
    deleteTimer();
    reject();
}

void DlgUpdateChecking::checkFailed(QString reason)
{
    if (checkResult != -1)
        return;
    checkResult = CheckFailed;
    failureReason = reason;
    deleteTimer();
    reject();
}

void DlgUpdateChecking::deleteTimer()
{
    // timeOut runs inside the timer's own signal, so the timer is released through the event loop.
    if (timeoutTimer) {
        timeoutTimer->stop();
        timeoutTimer->deleteLater();
        timeoutTimer = nullptr;
    }
}
