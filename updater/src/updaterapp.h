// Runs one update pass: reads the parameter string the reader left in its settings store,
// starts the presence listener and dispatches the pass by its type and mode.
#ifndef UPDATER_SRC_UPDATERAPP_H
#define UPDATER_SRC_UPDATERAPP_H

#include <QObject>
#include <QString>

#include "updatedefine.h"

class QLockFile;
class CSetup_CommandLine;
class CReaderModuleManager;
class DlgDownload;
class UpdateListener;

class UpdaterApp : public QObject
{
    Q_OBJECT
public:
    explicit UpdaterApp(QObject *parent = nullptr);
    ~UpdaterApp() override;

    // Reads "Quillet_UpdateParam" and, when there is one, runs the pass. Returns once the pass
    // has ended (skipEventLoop set) or has left the download window open.
    void runUpdate();
    // The pass itself, with its windows.
    void runUpdateVisible();

    // True when the parameters ask for an interactive pass (updater "Manual").
    bool isInteractive() const;
    // Ends the pass as failed: logs "update failed: " and the reason at warning level and, in
    // an interactive pass, shows message with an OK button. Sets failed.
    void reportFailure(const QString &message, const QString &reason);
    // The message for a working folder that cannot be used, problem saying why.
    static QString workFolderMessage(const QString &problem);
    // The pass's working folder (ending in "/"): resolved by the first call and kept, so every
    // step of the pass uses the same folder. Later calls check that the same folder still
    // stands there; empty, with the reason in problem, when it cannot be used or was removed or
    // replaced meanwhile.
    QString passWorkFolder(QString *problem = nullptr);

    CSetup_CommandLine *commandLine;
    CReaderModuleManager *moduleManager;
    QString readerVersion;
    DlgDownload *downloadWindow;
    UpdateListener *listener;
    // Set when the pass has ended with no window left open; start-up then skips the event loop.
    bool skipEventLoop;
    // Set when the pass failed; start-up then ends the process with exit status 1.
    bool failed;
    // Held while this pass runs, so that a second pass of the same user ends at once.
    QLockFile *passLock;

private:
    QString m_workFolder;
    FileIdentity m_workFolderIdentity;
};

#endif // UPDATER_SRC_UPDATERAPP_H
