// The download window: shows the first offered module's description and the progress of its
// package download. It is created hidden with the run controller and lives as long as it; the
// controller hands it the offered modules and starts the run. Closing it, the last window, ends
// the event loop.
#ifndef UPDATER_SRC_DLGDOWNLOAD_H
#define UPDATER_SRC_DLGDOWNLOAD_H

#include <QMainWindow>
#include <QVector>

class UpdaterApp;
class Ui_DlgDownload;
struct MODULEINFO;

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

public slots:
    // Starts the run for the first module of the list: describes it and opens the window.
    void downloadUpates();
    // Closes the window.
    void cancel();

public:
    Ui_DlgDownload *ui;
    QVector<MODULEINFO *> selectedUpdates;
    qint64 downloadedBytes;
    UpdaterApp *app;
};

#endif // UPDATER_SRC_DLGDOWNLOAD_H
