#include "dlgdownload.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextEdit>
#include <QUrl>

#include "dlgmessage.h"
#include "installedversions.h"
#include "kt_basic.h"
#include "ktfzip.h"
#include "qhttpdownloads.h"
#include "trustedfile.h"
#include "ui_dlgdownload.h"
#include "updatedefine.h"
#include "updatekeys.h"
#include "updaterapp.h"

namespace {
const char kUnpackFolder[] = "uncompress/"; // in the working folder
const char kSetupFile[] = "Setup.xml";
const char kInstaller[] = "/installUpdate";
// Beside each cached package: the address it came from, its size and the catalogue's digest, one
// per line; and its signature, fetched from the package's address with the same suffix.
const char kRecordSuffix[] = ".record";
const char kSignatureSuffix[] = ".minisig";
// Names of the working folder that a package must never take.
const char *const kReservedNames[] = {"uncompress", "update_tmpfile.xml", "updater.lock"};

QString recordPath(const QString &packagePath)
{
    return packagePath + QLatin1String(kRecordSuffix);
}

QByteArray recordText(const MODULEINFO &module, qint64 size)
{
    return module.url.toUtf8() + '\n' + QByteArray::number(size) + '\n' +
           module.sha256.toLower().toUtf8() + '\n';
}

QString signaturePath(const QString &packagePath)
{
    return packagePath + QLatin1String(kSignatureSuffix);
}

// A cached package is the offered one only when it came from the same address with the same
// size: a name and a size alone are easily shared by two different packages.
bool recordMatches(const QString &packagePath, const MODULEINFO &module, qint64 size)
{
    QFile record(recordPath(packagePath));
    if (!record.open(QIODevice::ReadOnly))
        return false;
    return record.read(64 * 1024) == recordText(module, size);
}

void writeRecord(const QString &packagePath, const MODULEINFO &module, qint64 size)
{
    QFile record;
    if (Comm::openNewFile(record, recordPath(packagePath)))
        record.write(recordText(module, size));
}

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
      app(updaterApp), installDeclined(false), installIndex(0), installCount(0),
      signatureDownloader(nullptr), signatureFetched(false), verifier(builtInUpdateKeys())
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
    delete signatureDownloader;
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

QString DlgDownload::packageFileName(const QString &url)
{
    const QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.endsWith(QLatin1String(kRecordSuffix)) ||
        name.endsWith(QLatin1String(kSignatureSuffix)))
        return QString();
    for (const char *reserved : kReservedNames) {
        if (name.startsWith(QLatin1String(reserved)))
            return QString();
    }
    return name;
}

QString DlgDownload::moduleTitle() const
{
    const MODULEINFO *module = selectedUpdates.value(0);
    return module ? module->name + QLatin1Char(' ') + module->version : QString();
}

void DlgDownload::failRun(const QString &message, const QString &reason)
{
    hide();
    app->reportFailure(message, reason);
    // Nothing is left to do: closing the last window ends the process.
    close();
}

void DlgDownload::discardPackage(const QString &packagePath)
{
    QFile::remove(packagePath);
    QFile::remove(recordPath(packagePath));
    QFile::remove(signaturePath(packagePath));
}

QString DlgDownload::checkPackage(const QString &packagePath) const
{
    const MODULEINFO *module = selectedUpdates.value(0);
    if (!module)
        return QStringLiteral("no module");
    if (!module->sha256.isEmpty()) {
        QString error;
        const QByteArray digest = PackageVerifier::sha256OfFile(packagePath, &error);
        if (digest.isEmpty())
            return error;
        if (QString::fromLatin1(digest) != module->sha256.toLower())
            return QStringLiteral("its SHA-256 does not match the catalogue's");
    }
    if (!verifier.hasKeys())
        return QString();
    QByteArray signature;
    QString reason;
    if (!PackageVerifier::readSignatureFile(signaturePath(packagePath), &signature, &reason) ||
        !verifier.verify(packagePath, signature, module->name, module->version, &reason))
        return reason;
    return QString();
}

void DlgDownload::fetchSignature(const QString &packagePath)
{
    const MODULEINFO *module = selectedUpdates.value(0);
    const QString url = (module ? module->url : QString()) + QLatin1String(kSignatureSuffix);
    // Without its signature the package is of no use: it goes, and the pass fails.
    const auto failed = [this, packagePath, url](const QString &reason) {
        discardPackage(packagePath);
        failRun(tr("The update package of %1 could not be checked: its signature could not be "
                   "downloaded (%2). Please try again later.")
                    .arg(moduleTitle(), reason),
                QStringLiteral("download of the signature %1: %2").arg(url, reason));
    };
    delete signatureDownloader;
    signatureDownloader = new QHttpDownLoadS(nullptr, nullptr, nullptr, nullptr);
    // One byte more than a signature may have, so that its own check names what is wrong.
    signatureDownloader->setMaxBytes(PackageVerifier::MaxSignatureSize + 1);
    connect(signatureDownloader, &QHttpDownLoadS::oneDownLoadFinish, this, [this, packagePath] {
        signatureFetched = true;
        oneDownloadFinish(packagePath);
    });
    connect(signatureDownloader, &QHttpDownLoadS::downLoadFailed, this, failed);
    if (!signatureDownloader->setUrlAndFilePath(QUrl(url, QUrl::TolerantMode),
                                                signaturePath(packagePath)))
        failed(QStringLiteral("the address is not an http or https address"));
    else if (!signatureDownloader->startDownLoads())
        failed(signatureDownloader->failureReason);
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
    // The catalogue's text is shown as it is, never read as markup.
    ui->descriptionEdit->setPlainText(DlgMessage::notesForDisplay(module->description));
    ui->timeRemainLabel->setText(QString());

    downloadedBytes = 0;
    delete downloader;
    downloader =
        new QHttpDownLoadS(nullptr, ui->progressBar, ui->timeRemainLabel, &downloadedBytes);

    QString problem;
    const QString folder = app->passWorkFolder(&problem);
    if (folder.isEmpty()) {
        qDebug() << "can not make path for store the downloads:"
                 << QDir::tempPath() + QLatin1String("/ZandroQuillet/") << Qt::endl;
        // Nothing was shown, so the pass is over.
        app->skipEventLoop = true;
        failRun(UpdaterApp::workFolderMessage(problem),
                QStringLiteral("working folder: %1").arg(problem));
        return;
    }

    const QString fileName = packageFileName(module->url);
    if (fileName.isEmpty()) {
        app->skipEventLoop = true;
        const QString reason =
            QStringLiteral("the package address names no file: %1").arg(module->url);
        failDownload(reason, QStringLiteral("download: %1").arg(reason));
        return;
    }
    const QString localPath = folder + fileName;
    // The size text up to its first "B"; anything but a whole number reads as 0.
    const int bIndex = module->size.indexOf(QLatin1Char('B'));
    bool isNumber = false;
    qint64 size = module->size.left(bIndex).toLongLong(&isNumber, 10);
    if (!isNumber || size < 0)
        size = 0;

    signatureFetched = false;
    checkedPackage.clear();
    if (!verifier.hasKeys())
        qWarning() << "packages are not verified: this build trusts no signing key";

    // A link is never taken for a finished download, nor written through: it is removed below.
    // Without a size there is nothing to check a cached file against, and a cached package is
    // reused only when it still passes every check a fresh one must pass.
    const QFileInfo local(localPath);
    if (size > 0 && !local.isSymLink() && local.isFile() && local.size() == size &&
        recordMatches(localPath, *module, size)) {
        const QString refusal = checkPackage(localPath);
        if (refusal.isEmpty()) {
            checkedPackage = localPath;
            downloader->downloadProgress(size, size);
            oneDownloadFinish(localPath);
            app->skipEventLoop = true;
            return;
        }
        qWarning().noquote() << "cached package refused, downloading it again:" << localPath << "-"
                             << refusal;
    }

    discardPackage(localPath);
    // The catalogue's size, when it gives one, is all the package may have.
    downloader->setMaxBytes(size);
    connect(downloader, &QHttpDownLoadS::oneDownLoadFinish, this, &DlgDownload::oneDownloadFinish);
    connect(downloader, &QHttpDownLoadS::downLoadFailed, this, &DlgDownload::downloadFailed);
    QString refused;
    if (!downloader->setUrlAndFilePath(QUrl(module->url, QUrl::TolerantMode), localPath))
        refused = QStringLiteral("the package address is not an http or https address: %1")
                      .arg(module->url);
    else if (!downloader->startDownLoads())
        refused = downloader->failureReason;
    if (!refused.isEmpty()) {
        app->skipEventLoop = true;
        failDownload(refused, QStringLiteral("download: %1").arg(refused));
        return;
    }
    Comm::moveToDesktopCentre(this);
    activateWindow();
    show();
}

void DlgDownload::downloadFailed(QString reason)
{
    const MODULEINFO *module = selectedUpdates.value(0);
    failDownload(
        reason, QStringLiteral("download of %1: %2").arg(module ? module->url : QString(), reason));
}

void DlgDownload::failDownload(const QString &reason, const QString &logReason)
{
    failRun(tr("The download of %1 failed: %2. Please try again later.").arg(moduleTitle(), reason),
            logReason);
}

void DlgDownload::oneDownloadFinish(QString filePath)
{
    const MODULEINFO *module = selectedUpdates.value(0);
    const bool fresh = module && !filePath.isEmpty() && filePath != checkedPackage;
    if (fresh) {
        writeRecord(filePath, *module, QFileInfo(filePath).size());
        // With keys built in, the package goes no further without its signature; the window
        // stays up while that small file comes.
        if (!signatureFetched && verifier.hasKeys()) {
            fetchSignature(filePath);
            return;
        }
    }
    hide();
    // Every way out closes the window: a hidden window left open would keep the process
    // running, and answering presence probes, with nothing left to do.
    if (filePath.isEmpty()) {
        close();
        return;
    }
    if (fresh) {
        const QString problem = checkPackage(filePath);
        if (!problem.isEmpty()) {
            discardPackage(filePath);
            failRun(tr("The update package of %1 failed its check (%2) and was deleted. Please "
                       "try again later.")
                        .arg(moduleTitle(), problem),
                    QStringLiteral("package check failed for %1: %2").arg(filePath, problem));
            return;
        }
        checkedPackage = filePath;
    }

    QString problem;
    const QString folder = app->passWorkFolder(&problem);
    const QString unpackFolder =
        folder.isEmpty() ? QString() : folder + QLatin1String(kUnpackFolder);
    if (!unpackFolder.isEmpty()) {
        // Inside our private folder a link can only be a leftover: it goes, as a link.
        const QString unpackPath = QDir::cleanPath(unpackFolder);
        if (QFileInfo(unpackPath).isSymLink())
            QFile::remove(unpackPath);
        Comm::deleteDir(unpackFolder);
    }
    if (unpackFolder.isEmpty() || !Comm::makePrivateFolder(unpackFolder, &problem)) {
        qDebug() << "can not make path for uncompress the updater:" << unpackFolder << Qt::endl;
        failRun(UpdaterApp::workFolderMessage(problem),
                QStringLiteral("unpack folder: %1").arg(problem));
        return;
    }

    // Whatever happens from here, the unpacked files go when the pass ends: they can be far larger
    // than the package, and nothing reads them again.
    const auto emptyUnpackFolder = qScopeGuard([&unpackFolder] { Comm::deleteDir(unpackFolder); });
    CKT_Fzip unpacker;
    const int unpacked = unpacker.Unzip2(filePath, unpackFolder);
    if (unpacked < 1) {
        qDebug() << "Uncompress Failed" << Qt::endl;
        // A package that does not unpack now never will: the next pass fetches it again.
        discardPackage(filePath);
        const QString reason = QStringLiteral("cannot unpack %1: %2 (%3)")
                                   .arg(filePath, QLatin1String(CKT_Fzip::resultText(unpacked)))
                                   .arg(unpacked);
        failRun(tr("The update package of %1 could not be unpacked (%2) and was deleted. Please "
                   "try again later.")
                    .arg(moduleTitle(), QLatin1String(CKT_Fzip::resultText(unpacked))),
                reason);
        return;
    }

    QVector<_SetupInfo *> entries;
    ParseSetupInfo(unpackFolder, entries);
    // Only "file" elements name something to install, and only a regular file the unpacker just
    // wrote may reach the installer: an empty name would hand it the unpack folder, a missing one
    // a path that does not exist. Such a list is not the maker's, so nothing of it is installed.
    QVector<_SetupInfo *> files;
    for (_SetupInfo *entry : qAsConst(entries)) {
        if (!entry || entry->setupFile.isEmpty())
            continue;
        entry->unpacked = FileIdentity::of(entry->setupFile);
        if (entry->unpacked.kind != FileIdentity::RegularFile) {
            const QString name = entry->setupFile.mid(unpackFolder.size());
            qDeleteAll(entries);
            discardPackage(filePath);
            failRun(tr("The update package of %1 lists a file it does not hold (%2) and was "
                       "deleted. Please try again later.")
                        .arg(moduleTitle(), name),
                    QStringLiteral("package %1 lists \"%2\", which is not a file it holds")
                        .arg(filePath, name));
            return;
        }
        files.append(entry);
    }
    if (files.isEmpty()) {
        qDeleteAll(entries);
        discardPackage(filePath);
        failRun(tr("The update package of %1 lists no files to install and was deleted.")
                    .arg(moduleTitle()),
                QStringLiteral("package %1 lists no files to install").arg(filePath));
        return;
    }
    QStringList installed;
    QStringList declined;
    QStringList failures;
    installCount = files.size();
    installIndex = 0;
    for (const _SetupInfo *entry : qAsConst(files)) {
        ++installIndex;
        qDebug() << "excute shell:" << entry->setupFile << Qt::endl;
        const int result = installUpdates(entry->setupFile, &entry->unpacked);
        qDebug() << "excute result:" << result << Qt::endl;
        const QString name = QFileInfo(entry->setupFile).fileName();
        if (installDeclined)
            declined.append(name);
        else if (result == 0)
            installed.append(name);
        else if (result == -2)
            failures.append(tr("%1 (the installer could not be started)").arg(name));
        else if (result == -3)
            failures.append(tr("%1 (changed after it was unpacked, not installed)").arg(name));
        else if (result == -1)
            failures.append(tr("%1 (the installer crashed)").arg(name));
        else
            failures.append(tr("%1 (installer exit code %2)").arg(name).arg(result));
    }
    qDeleteAll(entries);
    installCount = installIndex = 0;

    // One closing word on the whole update: what was installed, declined or failed.
    const QString none = tr("none");
    const QString summary =
        tr("Installed: %1. Declined: %2.")
            .arg(installed.isEmpty() ? none : installed.join(QLatin1String(", ")),
                 declined.isEmpty() ? none : declined.join(QLatin1String(", ")));
    if (!failures.isEmpty()) {
        const QString list = failures.join(QLatin1String(", "));
        failRun(tr("The installation of %1 failed for: %2. %3").arg(moduleTitle(), list, summary),
                QStringLiteral("installation failed for %1; %2").arg(list, summary));
        return;
    }
    const QString closing =
        declined.isEmpty() ? tr("The update of %1 is complete. Installed: %2.")
                                 .arg(moduleTitle(), installed.join(QLatin1String(", ")))
                           : tr("The update of %1 is not complete. %2").arg(moduleTitle(), summary);
    qInfo().noquote() << "update finished:" << closing;
    // Only a module installed whole counts: a declined file leaves the same version on offer.
    QString unrecorded;
    if (module && declined.isEmpty() &&
        !InstalledVersions::record(module->name, module->version, &unrecorded))
        qWarning().noquote() << "installed version not recorded:" << unrecorded;
    if (app->isInteractive()) {
        DlgMessage message(nullptr);
        message.setInformation(closing);
        message.setStandardButtonsOk();
        Comm::moveToDesktopCentre(&message);
        message.exec();
    }
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

int DlgDownload::installUpdates(QString setupFile, const FileIdentity *unpacked)
{
    DlgMessage message(nullptr);
    QString text = tr("Download completed. Please close Zandro Reader when you complete "
                      "your job, and click \"Install\".");
    // Which file, and how many are left: "Install 1 of 2: reader.conf".
    if (installCount > 0)
        text += QLatin1String("\n\n") + tr("Install %1 of %2: %3")
                                            .arg(installIndex)
                                            .arg(installCount)
                                            .arg(QFileInfo(setupFile).fileName());
    message.setInformation(text);
    message.setOkButtonText(tr("Install"));
    Comm::moveToDesktopCentre(&message);
    message.exec();
    installDeclined = !message.accepted;
    if (!message.accepted)
        return -1;

    // The question may have waited for hours: what goes to the installer must still be the file
    // that was unpacked, in the folder this pass made.
    QString problem;
    if (unpacked && (app->passWorkFolder(&problem).isEmpty() ||
                     !FileIdentity::of(setupFile).sameAs(*unpacked))) {
        qWarning().noquote() << "not installed:" << setupFile << "-"
                             << (problem.isEmpty() ? QStringLiteral("changed after it was unpacked")
                                                   : problem);
        return -3;
    }
    const QString program = installerProgram(&problem);
    if (program.isEmpty()) {
        qWarning().noquote() << "installer refused:" << problem;
        return -2;
    }
    // Program and argument apart, so blanks in either cannot change what runs or what it gets.
    return QProcess::execute(program, QStringList{setupFile});
}

QString DlgDownload::installerProgram(QString *problem)
{
    const QVariant stored = Comm::readerSetting(Updater::KeyUpdateOldPath);
    // Absent means the updater's own folder. Anything relative ("." or empty) would depend on
    // the folder the updater happened to be started in, where anybody may have put a program.
    const QString installFolder =
        stored.isValid() ? stored.toString() : QCoreApplication::applicationDirPath();
    if (!QDir::isAbsolutePath(installFolder)) {
        *problem = QStringLiteral("the install folder \"%1\" is not an absolute path")
                       .arg(installFolder);
        return QString();
    }
    const QString program = QDir::cleanPath(installFolder) + QLatin1String(kInstaller);
    const auto refuse = [&](const QString &why) {
        *problem = QStringLiteral("%1: %2").arg(program, why);
        return QString();
    };
    // Links are followed once, here; what runs is the file they lead to, checked with every
    // folder above it.
    char *resolved = ::realpath(QFile::encodeName(program).constData(), nullptr);
    if (!resolved)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    const QString real = QFile::decodeName(resolved);
    std::free(resolved);
    QString why;
    if (!Comm::checkFolderChain(QFileInfo(real).path(), &why))
        return refuse(QStringLiteral("a folder above it is not safe: %1").arg(why));
    why = TrustedFile::untrustedProgram(real);
    if (!why.isEmpty())
        return refuse(why);
    return real;
}
