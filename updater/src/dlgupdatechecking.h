// The checking dialog, shown modally while the catalogue query runs. It closes itself when the
// query has ended with the progress bar full, when its time-out expires, or when the user
// cancels. Every close goes through reject(); the outcome is read from checkResult alone.
#ifndef UPDATER_SRC_DLGUPDATECHECKING_H
#define UPDATER_SRC_DLGUPDATECHECKING_H

#include <QDialog>
#include <QString>

class CReaderModuleManager;
class QTimer;
class Ui_DlgUpdateChecking;

class DlgUpdateChecking : public QDialog
{
    Q_OBJECT
public:
    // The pass type is accepted for the caller's sake and not used.
    DlgUpdateChecking(const QString &type, QWidget *parent = nullptr);
    ~DlgUpdateChecking() override;

    // The manager whose query the dialog starts and watches; not owned.
    void setModuleManager(CReaderModuleManager *manager);
    // Creates the repeating time-out timer on first use and (re)starts it with the interval.
    void startTimer(int milliseconds);
    // Starts the 60 s time-out and the manager's query on this dialog's progress bar; without a
    // manager it does nothing. A query that cannot even start decides the check at once
    // (CheckFailed), and the dialog need not be shown.
    void startUpdateCheck();

    // How long the check may take before the dialog gives up.
    static constexpr int TimeoutMs = 60000;
    // checkResult of a check that failed: failureReason says why.
    static constexpr int CheckFailed = 2;

public slots:
    // The query has ended: success only when the bar reached 100, otherwise the dialog stays open.
    void checkFinsh();
    void on_cancelButton_clicked();
    // The time-out expired: the check failed.
    void timeOut();
    // The query failed: the dialog closes at once with CheckFailed.
    void checkFailed(QString reason);

public:
    Ui_DlgUpdateChecking *ui;
    QTimer *timeoutTimer;
    CReaderModuleManager *moduleManager;
    // -1 undecided (also after a close), 0 cancelled, 1 finished with a full bar, CheckFailed
    // when the query failed or timed out.
    int checkResult;
    QString failureReason;

private:
    void deleteTimer();
};

#endif // UPDATER_SRC_DLGUPDATECHECKING_H
