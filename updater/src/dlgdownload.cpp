#include "dlgdownload.h"

#include <QPushButton>
#include <QTextEdit>

#include "ui_dlgdownload.h"
#include "updatedefine.h"

DlgDownload::DlgDownload(UpdaterApp *updaterApp, QWidget *parent)
    : QMainWindow(parent), ui(new Ui_DlgDownload), downloadedBytes(0), app(updaterApp)
{
    ui->setupUi(this);
    // Minimise and close only: the form is laid out for one size, so no maximise button.
    setWindowFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    connect(ui->cancelButton, &QPushButton::clicked, this, &DlgDownload::cancel);
    setWindowTitle(tr("Zandro Updater"));
    setFixedSize(size());
    ui->descriptionEdit->setReadOnly(true);
    hide();
}

DlgDownload::~DlgDownload()
{
    delete ui;
}

void DlgDownload::setSelectUpdates(const QVector<MODULEINFO *> &list)
{
    selectedUpdates = list;
}

void DlgDownload::startShowDownload()
{
    if (!selectedUpdates.isEmpty())
        downloadUpates();
}

void DlgDownload::downloadUpates()
{
    ui->timeRemainLabel->clear();
    Comm::moveToDesktopCentre(this);
    activateWindow();
    show();
}

void DlgDownload::cancel()
{
    close();
}
