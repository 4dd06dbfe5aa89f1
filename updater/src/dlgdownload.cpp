#include "dlgdownload.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>

#include "dlgmessage.h"
#include "kt_basic.h"
#include "ktfzip.h"
#include "qhttpdownloads.h"
#include "ui_dlgdownload.h"
#include "updatedefine.h"
#include "updaterapp.h"

namespace {
const char kDownloadFolder[] = "/ZandroQuillet/";
const char kUnpackFolder[] = "/ZandroQuillet/uncompress/";
const char kSetupFile[] = "Setup.xml";
const char kInstaller[] = "/installUpdate";

// A packaged name that would reach outside the unpack folder: absolute, or with a ".." part.
bool leavesFolder(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')))
        return true;
    const QStringList parts = name.split(QLatin1Char('/'));
    return parts.contains(QLatin1String(".."));
}
} // namespace

DlgDownload::DlgDownload(UpdaterApp *updaterApp, QWidget *parent)
    : QMainWindow(parent), ui(new Ui_DlgDownload), downloader(nullptr), downloadedBytes(0),
      app(updaterApp)
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
    delete downloader;
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
    qDebug() << "Begin to download:" << Qt::endl;
    // Only the first module is downloaded in a pass.
    const MODULEINFO *module = selectedUpdates.value(0);
    if (!module) {
        app->skipEventLoop = true;
        return;
    }
    ui->descriptionEdit->setText(module->description);
    ui->timeRemainLabel->setText(QString());

    downloadedBytes = 0;
    delete downloader;
    downloader =
        new QHttpDownLoadS(nullptr, ui->progressBar, ui->timeRemainLabel, &downloadedBytes);

    const QString folder = QDir::tempPath() + QLatin1String(kDownloadFolder);
    if (!Comm::makeOwnFolder(folder)) {
        qDebug() << "can not make path for store the downloads:" << folder << Qt::endl;
        // Nothing was shown, so the pass is over.
        app->skipEventLoop = true;
        return;
    }

    const QString localPath =
        folder + module->url.mid(module->url.lastIndexOf(QLatin1Char('/')) + 1);
    const int bIndex = module->size.indexOf(QLatin1Char('B'));
    bool isNumber = false;
    int size = module->size.left(bIndex).toInt(&isNumber, 10);
    if (!isNumber)
        size = 0;

    // A link is never taken for a finished download, nor written through: it is removed below.
    const QFileInfo local(localPath);
    if (!local.isSymLink() && local.isFile() && local.size() == size) {
        downloader->downloadProgress(size, size);
        oneDownloadFinish(localPath);
        app->skipEventLoop = true;
        return;
    }

    if (local.isSymLink() || local.exists())
        QFile::remove(localPath);
    downloader->setUrlAndFilePath(QUrl(module->url, QUrl::TolerantMode), localPath);
    connect(downloader, &QHttpDownLoadS::oneDownLoadFinish, this, &DlgDownload::oneDownloadFinish);
    downloader->startDownLoads();
    Comm::moveToDesktopCentre(this);
    activateWindow();
    show();
}

void DlgDownload::oneDownloadFinish(QString filePath)
{
    hide();
    // Every way out closes the window: a hidden window left open would keep the process
    // running, and answering presence probes, with nothing left to do.
    if (filePath.isEmpty()) {
        close();
        return;
    }

    const QString unpackFolder = QDir::tempPath() + QLatin1String(kUnpackFolder);
    Comm::deleteDir(unpackFolder);
    if (!Comm::makeOwnFolder(unpackFolder)) {
        qDebug() << "can not make path for uncompress the updater:" << unpackFolder << Qt::endl;
        close();
        return;
    }

    CKT_Fzip unpacker;
    if (unpacker.Unzip2(filePath, unpackFolder) < 1) {
        qDebug() << "Uncompress Failed" << Qt::endl;
        close();
        return;
    }

    QVector<_SetupInfo *> entries;
    ParseSetupInfo(unpackFolder, entries);
    for (const _SetupInfo *entry : qAsConst(entries)) {
        if (!entry)
            continue;
        qDebug() << "excute shell:" << entry->setupFile << Qt::endl;
        const int result = installUpdates(entry->setupFile);
        qDebug() << "excute result:" << result << Qt::endl;
    }
    qDeleteAll(entries);
    close();
}

void DlgDownload::cancel()
{
    close();
}

void DlgDownload::ParseSetupInfo(QString folder, QVector<_SetupInfo *> &entries)
{
    if (folder.isEmpty())
        return;
    entries.clear();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    if (!QDir(folder).exists())
        QDir().mkdir(folder);

    QFile file(folder + QLatin1String(kSetupFile));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return;
    CXML_Element *root = CXML_Element::Parse(bytes.constData(), static_cast<unsigned>(bytes.size()),
                                             0, nullptr, nullptr);
    if (!root)
        return;

    for (int i = 0; i < root->CountChildren(); ++i) {
        CXML_Element *element = root->GetElement(i);
        if (!element)
            continue;
        auto *entry = new _SetupInfo;
        if (element->GetTagName() == "file") {
            QString name;
            for (int j = 0; j < static_cast<int>(element->m_AttrMap.GetSize()); ++j) {
                CKT_ByteString prefix;
                CKT_ByteString attribute;
                CKT_WideString value;
                element->GetAttrByIndex(j, prefix, attribute, value);
                if (attribute == "name")
                    name = Comm::ws2qs(value);
                else if (attribute == "parameter")
                    entry->parameter = Comm::ws2qs(value);
                else if (attribute == "iscommon")
                    entry->isCommon = value.CompareNoCase(L"true") == 0;
            }
            if (leavesFolder(name)) {
                qDebug() << "skip Setup.xml entry outside the package folder:" << name;
                delete entry;
                continue;
            }
            entry->setupFile = folder + name;
        }
        entries.append(entry);
    }
    delete root;
}

int DlgDownload::installUpdates(QString setupFile)
{
    DlgMessage message(nullptr);
    message.setInformation(tr("Download completed. Please close Zandro Reader when you complete "
                              "your job, and click \"Install\"."));
    message.setOkButtonText(tr("Install"));
    Comm::moveToDesktopCentre(&message);
    message.exec();
    if (!message.accepted)
        return -1;

    const QVariant stored = Comm::readerSetting(Updater::KeyUpdateOldPath);
    // Absent means the updater's own folder; a value that is present but empty stays empty.
    const QString installFolder =
        stored.isValid() ? stored.toString() : QCoreApplication::applicationDirPath();
    const QString program = installFolder + QLatin1String(kInstaller);
    if (!QFileInfo(program).isFile())
        return -2;
    // Program and argument apart, so blanks in either cannot change what runs or what it gets.
    return QProcess::execute(program, QStringList{setupFile});
}
