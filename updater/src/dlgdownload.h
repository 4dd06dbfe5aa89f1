// The download window: shows the first offered module's description and the progress of its
// package download. It is created hidden with the run controller and lives as long as it; the
// controller hands it the offered modules and starts the run. Closing it, the last window, ends
// the event loop.
#ifndef UPDATER_SRC_DLGDOWNLOAD_H
#define UPDATER_SRC_DLGDOWNLOAD_H

#include <QMainWindow>
#include <QString>
#include <QVector>

#include "packageverifier.h"

class QHttpDownLoadS;
class UpdaterApp;
class Ui_DlgDownload;
struct MODULEINFO;
struct _SetupInfo;
struct FileIdentity;

class DlgDownload : public QMainWindow
{
    Q_OBJECT
public:
    // Builds the form, fixes the size and leaves the window hidden.
    DlgDownload(UpdaterApp *app, QWidget *parent = nullptr);
    ~DlgDownload() override;

    // Keeps a copy of the list; the records stay owned by the catalogue manager.
    void setSelectUpdates(const QVector<MODULEINFO *> &list);
    // Starts the run for the first module of the stored list; an empty list does nothing.
    void startShowDownload();

    // Fills entries (which must be empty) from folder's Setup.xml, in document order; the caller
    // deletes them. Every child element is an entry; only "file" elements name a file. Entries
    // whose name is absolute or climbs out with ".." are left out. A missing, empty or
    // unparsable Setup.xml gives no entries.
    void ParseSetupInfo(QString folder, QVector<_SetupInfo *> &entries);
    // Asks the user to confirm, then runs the installer with setupFile as its one argument and
    // waits for it. Returns -1 when the user declines (installDeclined is then set), -2 when
    // the installer is missing, refused (see installerProgram) or cannot be started, -3 when
    // unpacked is given and setupFile is no longer that file or the pass's working folder is
    // gone, otherwise what the process call returned (its exit code, -1 for a crash).
    int installUpdates(QString setupFile, const FileIdentity *unpacked = nullptr);
    // The reader's installer, "installUpdate" in the install folder of the settings store (the
    // updater's own folder when none is stored), links resolved. Empty, with why in problem,
    // when the folder is not absolute, a folder above the program is within other users'
    // reach, or the program is not a regular file owned by root or this user and writable by
    // nobody else.
    static QString installerProgram(QString *problem);

    // The local file name of a package address: its last segment. Empty when that cannot be a
    // package of ours: empty, "." or "..", or one of the working folder's own names.
    static QString packageFileName(const QString &url);

public slots:
    // Starts the run for the first module of the list: downloads its package, or goes straight
    // on to the installation when a complete copy is already in the download folder.
    void downloadUpates();
    // Unpacks the downloaded package, reads its Setup.xml and installs entry by entry; the window
    // is closed at the end of the run, whatever happened, so the process ends.
    void oneDownloadFinish(QString filePath);
    // Closes the window.
    void cancel();
    // The download failed: the user is told (in an interactive pass) and the window closes.
    void downloadFailed(QString reason);

public:
    Ui_DlgDownload *ui;
    QVector<MODULEINFO *> selectedUpdates;
    QHttpDownLoadS *downloader;
    qint64 downloadedBytes;
    UpdaterApp *app;
    bool installDeclined; // the last installUpdates call was declined by the user
    // The entry being installed and how many there are, for the confirmation; 0 outside a run.
    int installIndex;
    int installCount;
    QHttpDownLoadS *signatureDownloader;
    bool signatureFetched;          // this pass has fetched the signature of its package
    QString checkedPackage;         // the package that passed checkPackage in this pass
    const PackageVerifier verifier; // the built-in keys, read once

private:
    // Ends the run as failed: reports it through the controller and closes the window.
    void failRun(const QString &message, const QString &reason);
    // failRun for a download that did not get the package: the message names the module.
    void failDownload(const QString &reason, const QString &logReason);
    // Removes the package, its record and its signature, so that the next pass downloads it
    // again.
    void discardPackage(const QString &packagePath);
    // Checks the package against the catalogue's digest and, with keys built in, against its
    // signature (packagePath + ".minisig") for the offered version. Empty when it passes,
    // otherwise why not.
    QString checkPackage(const QString &packagePath) const;
    // Fetches the package's signature beside it, then goes on with oneDownloadFinish.
    void fetchSignature(const QString &packagePath);
    // "Name version" of the module being installed, for messages.
    QString moduleTitle() const;
};

#endif // UPDATER_SRC_DLGDOWNLOAD_H
