// What the machine can do to a pass: a temporary folder that takes no files, a disk that fills
// up in the middle of a download, an installer that is missing or misbehaves, another program on
// the presence port, and a settings file that cannot be read or holds garbage. The real classes
// and the real program run against real files, real (tiny) filesystems and loopback servers.
#include <QtTest>

#include <QDialogButtonBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "catalogueserver.h"
#include "creadermodulemanager.h"
#include "dlgdownload.h"
#include "dlgmessage.h"
#include "httpserver.h"
#include "ktfzip.h"
#include "qhttpdownloads.h"
#include "testenv.h"
#include "updatedefine.h"
#include "updaterapp.h"
#include "updatelistener.h"

namespace {
const qint64 BodyBytes = 3 * 1024 * 1024 + 7;

// A tmpfs of the given size mounted on a folder for the life of the object. Mounting needs the
// right to mount; ok() is false where the machine does not give it.
class TinyFilesystem
{
public:
    TinyFilesystem(const QString &folder, const QString &options) : m_folder(folder)
    {
        QDir().mkpath(folder);
        m_ok = QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tmpfs", folder}) == 0;
    }
    ~TinyFilesystem()
    {
        if (m_ok)
            QProcess::execute("umount", {"-l", m_folder});
    }
    TinyFilesystem(const TinyFilesystem &) = delete;
    TinyFilesystem &operator=(const TinyFilesystem &) = delete;
    bool ok() const { return m_ok; }

private:
    QString m_folder;
    bool m_ok = false;
};

// A limit on the size of any file this process writes, as `ulimit -f` sets it. The signal such a
// write would raise is ignored meanwhile, so the write fails with an error instead.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved;
    sighandler_t m_savedHandler;
};

// Points the toolkit's temporary folder somewhere else while it lives.
class TempFolder
{
public:
    explicit TempFolder(const QString &path) : m_saved(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TempFolder() { qputenv("TMPDIR", m_saved); }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

private:
    QByteArray m_saved;
};

QSettings readerSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QLatin1String(Updater::SettingsOrganization),
                     QLatin1String(Updater::SettingsApplication));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Presses "Install" on every confirmation that opens while it lives.
class InstallPresser : public QObject
{
public:
    InstallPresser()
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *message = qobject_cast<DlgMessage *>(w);
                if (!message || !message->isVisible())
                    continue;
                ++asked;
                auto *box = message->findChild<QDialogButtonBox *>("buttonBox");
                QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
            }
        });
        m_poll.start(10);
    }
    int asked = 0;

private:
    QTimer m_poll;
};

enum class Unwritable {
    ReadOnlyFilesystem,
    FileInTheWay,
};

enum class Room {
    FileSizeLimit,
    FullFilesystem,
    Enough,
};

// Runs the real program with the isolated settings and temporary folder and waits for its end
// while this process's event loop keeps serving the loopback catalogue.
struct ProgramRun
{
    bool ended = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QString log;
};

ProgramRun runProgram(const QString &catalogueHost, int timeoutMs)
{
    QProcess process;
    process.setProgram(QStringLiteral(UPDATER_BINARY));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZANDRO_CATALOGUE_HOST", catalogueHost);
    process.setProcessEnvironment(env);
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    process.start();
    ProgramRun run;
    if (!process.waitForStarted())
        return run;
    run.ended = finished.wait(timeoutMs);
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
    }
    run.status = process.exitStatus();
    run.code = process.exitCode();
    run.log = QString::fromUtf8(process.readAllStandardError());
    return run;
}
} // namespace

Q_DECLARE_METATYPE(Unwritable)
Q_DECLARE_METATYPE(Room)

class TestEnvironmentFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void unpackIntoFullDisk();
    void downloadIntoFullDisk_data();
    void downloadIntoFullDisk();
    void programUnderFileSizeLimit();
    void tempFolderUnwritable_data();
    void tempFolderUnwritable();
    void installerFaults_data();
    void installerFaults();
    void failingInstallerStillEndsThePass();
    void presencePortHeldByAnotherProgram();
    void settingsFileFaults_data();
    void settingsFileFaults();

private:
    QString makePackage(const QString &name, const QStringList &files);

    QTemporaryDir m_dir;
    NginxServer *m_nginx = nullptr;
};

void TestEnvironmentFaults::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_nginx = new NginxServer;
    QVERIFY(m_nginx->addFile("package.bin", TestServers::patternBytes(BodyBytes)));
    QVERIFY2(m_nginx->start(), qPrintable(m_nginx->errorString()));
}

void TestEnvironmentFaults::cleanupTestCase()
{
    delete m_nginx;
}

void TestEnvironmentFaults::init()
{
    QDir(QDir::tempPath() + "/ZandroQuillet").removeRecursively();
}

QString TestEnvironmentFaults::makePackage(const QString &name, const QStringList &files)
{
    const QString source = m_dir.path() + "/src-" + name;
    QDir().mkpath(source);
    QStringList args{"create", "--preset", "1", m_dir.path() + "/" + name};
    for (const QString &file : files) {
        if (!writeFile(source + "/" + file, file.toUtf8().repeated(100)))
            return QString();
        args << source + "/" + file;
    }
    return QProcess::execute(QStringLiteral(ZANDRO_PACK), args) == 0 ? m_dir.path() + "/" + name
                                                                      : QString();
}

void TestEnvironmentFaults::unpackIntoFullDisk()
{
    // A package of a few kilobytes whose 4 MiB of content cannot fit a 1 MiB working folder.
    const QString source = m_dir.path() + "/big.txt";
    QVERIFY(writeFile(source, QByteArray("reader page stream\n").repeated((4 << 20) / 19)));
    const QString built = m_dir.path() + "/big.pkg";
    QCOMPARE(QProcess::execute(QStringLiteral(ZANDRO_PACK), {"create", "--preset", "1", built, source}),
             0);
    const QString temp = m_dir.path() + "/tiny-temp";
    TinyFilesystem filesystem(temp, "size=1m");
    if (!filesystem.ok())
        QSKIP("no right to mount a filesystem here");
    TempFolder tempFolder(temp);
    const QString work = temp + "/ZandroQuillet/";
    QVERIFY(Comm::makePrivateFolder(work));
    const QString package = work + "big.pkg";
    QVERIFY(QFile::copy(built, package));

    LogCapture log;
    UpdaterApp app(nullptr);
    InstallPresser presser;
    app.downloadWindow->oneDownloadFinish(package);
    QVERIFY(app.failed);
    QCOMPARE(log.count("update failed: cannot unpack " + package + ": a file could not be written (0)"), 1);
    QCOMPARE(presser.asked, 0);
    // The space is given back: no package to fail the same way next time, no half-unpacked files.
    QVERIFY(!QFile::exists(package));
    QVERIFY(!QFile::exists(work + "uncompress"));
    QCOMPARE(QDir(work).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
}

void TestEnvironmentFaults::downloadIntoFullDisk_data()
{
    QTest::addColumn<Room>("room");
    QTest::addColumn<bool>("complete");

    QTest::newRow("file-size limit of 1 MiB") << Room::FileSizeLimit << false;
    QTest::newRow("filesystem of 1 MiB") << Room::FullFilesystem << false;
    QTest::newRow("filesystem with room") << Room::Enough << true;
}

void TestEnvironmentFaults::downloadIntoFullDisk()
{
    QFETCH(Room, room);
    QFETCH(bool, complete);

    const QString folder = m_dir.path() + "/downloads-" + QTest::currentDataTag();
    QDir().mkpath(folder);
    std::unique_ptr<TinyFilesystem> filesystem;
    if (room != Room::FileSizeLimit) {
        filesystem.reset(new TinyFilesystem(folder, room == Room::Enough ? "size=8m" : "size=1m"));
        if (!filesystem->ok())
            QSKIP("no right to mount a filesystem here");
    }
    const QString path = folder + "/package.bin";

    LogCapture log;
    qint64 counter = 0;
    QHttpDownLoadS downloader(nullptr, nullptr, nullptr, &counter);
    QSignalSpy finished(&downloader, &QHttpDownLoadS::oneDownLoadFinish);
    QVERIFY(downloader.setUrlAndFilePath(m_nginx->url("/package.bin"), path));
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (room == Room::FileSizeLimit)
            limit.reset(new FileSizeLimit(1024 * 1024));
        QVERIFY(downloader.startDownLoads());
        QTRY_VERIFY_WITH_TIMEOUT(downloader.reply == nullptr, 30000);
    }
    // A completion signal may only follow on a later turn of the event loop.
    QTest::qWait(100);

    QCOMPARE(finished.count(), complete ? 1 : 0);
    QCOMPARE(downloader.writeFailed, !complete);
    QCOMPARE(log.count("Error:Cannot write file."), complete ? 0 : 1);
    if (complete) {
        QCOMPARE(readFile(path), TestServers::patternBytes(BodyBytes));
        QCOMPARE(counter, BodyBytes);
    } else {
        // Nothing is left that a later pass could take for the package.
        QVERIFY(!QFile::exists(path));
        QCOMPARE(counter, qint64(0));
    }
}

void TestEnvironmentFaults::programUnderFileSizeLimit()
{
    // An automatic pass offered a 3 MiB package while `ulimit -f` allows 1 MiB per file.
    CatalogueServer catalogue;
    QByteArray reply = CatalogueServer::replyOffering({{"Zandro Reader", "9.2.0.1"}});
    reply.replace("http://127.0.0.1/p.zup", m_nginx->url("/package.bin").toEncoded());
    reply.replace("size=\"10B\"", "size=\"" + QByteArray::number(BodyBytes) + "B\"");
    catalogue.setBody(reply);
    QVERIFY(catalogue.start());
    QSettings settings = readerSettings();
    settings.setValue(Updater::KeyUpdateParam,
                      R"(type:"Update List",product:"ZandroReader",version:"9.1.0.5096")");
    settings.sync();

    QProcess process;
    process.setProgram("/bin/sh");
    process.setArguments({"-c", "ulimit -f 2048 && exec \"$0\"", QStringLiteral(UPDATER_BINARY)});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZANDRO_CATALOGUE_HOST", catalogue.hostAndPort());
    process.setProcessEnvironment(env);
    QString log;
    connect(&process, &QProcess::readyReadStandardError,
            [&] { log += QString::fromUtf8(process.readAllStandardError()); });
    process.start();
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(log.contains("Error:Cannot write file.") ||
                                 process.state() == QProcess::NotRunning,
                             30000);
    // The program is still there (its window waits for the user), or it ended normally.
    QVERIFY2(process.state() == QProcess::Running || process.exitStatus() == QProcess::NormalExit,
             qPrintable(log));
    process.kill();
    process.waitForFinished();
    log += QString::fromUtf8(process.readAllStandardError());

    QCOMPARE(log.count("Error:Cannot write file."), 1);
    QVERIFY2(!log.contains("excute shell:") && !log.contains("Uncompress Failed"), qPrintable(log));
    QVERIFY(!QFile::exists(QDir::tempPath() + "/ZandroQuillet/package.bin"));
    settings.remove(Updater::KeyUpdateParam);
}

void TestEnvironmentFaults::tempFolderUnwritable_data()
{
    QTest::addColumn<Unwritable>("kind");
    QTest::newRow("read-only filesystem") << Unwritable::ReadOnlyFilesystem;
    QTest::newRow("a file in the way") << Unwritable::FileInTheWay;
}

void TestEnvironmentFaults::tempFolderUnwritable()
{
    QFETCH(Unwritable, kind);

    const QString package = makePackage("temp.pkg", {"a.txt"});
    QVERIFY(!package.isEmpty());
    const QString unpackTo = m_dir.path() + "/unpacked-" + QTest::currentDataTag();
    QVERIFY(QDir().mkpath(unpackTo));

    QString temp = m_dir.path() + "/temp-" + QTest::currentDataTag();
    std::unique_ptr<TinyFilesystem> filesystem;
    if (kind == Unwritable::ReadOnlyFilesystem) {
        filesystem.reset(new TinyFilesystem(temp, "ro,size=1m"));
        if (!filesystem->ok())
            QSKIP("no right to mount a filesystem here");
    } else {
        QVERIFY(writeFile(temp, "not a folder"));
    }
    CatalogueServer catalogue;
    QVERIFY(catalogue.start());
    qputenv("ZANDRO_CATALOGUE_HOST", catalogue.hostAndPort().toLatin1());
    const int nginxRequests = m_nginx->requests().size();

    TempFolder tempFolder(temp);
    // The per-user fallback folder lies on the same unusable ground here.
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(temp));
    LogCapture log;

    // The catalogue query: no reply file, so no request either.
    CReaderModuleManager manager("Update List", nullptr, nullptr);
    QCOMPARE(manager.QueryModuleInfo(nullptr), 1);
    QCOMPARE(log.count("can not make path:"), 1);

    // The download window: nothing shown, nothing fetched, and the pass ends.
    MODULEINFO module;
    module.url = m_nginx->url("/package.bin").toString();
    module.size = QString::number(BodyBytes) + "B";
    module.description = "Zandro Reader 9.2";
    UpdaterApp app(nullptr);
    app.downloadWindow->setSelectUpdates({&module});
    app.downloadWindow->startShowDownload();
    QVERIFY(app.skipEventLoop);
    QVERIFY(!app.downloadWindow->isVisible());
    QCOMPARE(log.count("can not make path for store the downloads:"), 1);

    QVERIFY(app.failed);
    QCOMPARE(log.count("update failed: working folder:"), 1);

    // The decompressor needs no folder of its own besides its destination.
    CKT_Fzip unpacker;
    QCOMPARE(unpacker.Unzip2(package, unpackTo), int(CKT_Fzip::Unzipped));

    QTest::qWait(200);
    QCOMPARE(catalogue.requests(), QStringList());
    QCOMPARE(m_nginx->requests().size(), nginxRequests);
    qputenv("XDG_CACHE_HOME", savedCache);
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

void TestEnvironmentFaults::installerFaults_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no installer at all
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("ran");

    const QByteArray records = "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/ran\"\n";
    QTest::newRow("missing") << QByteArray() << true << -2 << false;
    QTest::newRow("not executable") << records + "exit 0\n" << false << -2 << false;
    QTest::newRow("crashes") << records + "kill -SEGV $$\n" << true << -1 << true;
    QTest::newRow("exits with 3") << records + "exit 3\n" << true << 3 << true;
    QTest::newRow("exits with 255") << records + "exit 255\n" << true << 255 << true;
    QTest::newRow("succeeds") << records + "exit 0\n" << true << 0 << true;
}

void TestEnvironmentFaults::installerFaults()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, executable);
    QFETCH(int, result);
    QFETCH(bool, ran);

    const QString install = m_dir.path() + "/install-" + QTest::currentDataTag();
    QVERIFY(QDir().mkpath(install));
    const QString program = install + "/installUpdate";
    if (!script.isEmpty()) {
        QVERIFY(writeFile(program, script));
        QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            mode |= QFile::ExeOwner;
        QVERIFY(QFile::setPermissions(program, mode));
    }
    QSettings settings = readerSettings();
    settings.setValue(Updater::KeyUpdateOldPath, install);
    settings.sync();

    UpdaterApp app(nullptr);
    InstallPresser presser;
    const QString setupFile = m_dir.path() + "/uncompress/reader.bin";
    QCOMPARE(app.downloadWindow->installUpdates(setupFile), result);
    QCOMPARE(presser.asked, 1);
    QCOMPARE(QFile::exists(install + "/ran"), ran);
    if (ran)
        QCOMPARE(readFile(install + "/ran"), setupFile.toUtf8() + "\n");
    settings.remove(Updater::KeyUpdateOldPath);
}

void TestEnvironmentFaults::failingInstallerStillEndsThePass()
{
    // Two files; the installer crashes on the first and fails on the second. Both are offered,
    // both results logged, and the window closes, which ends the pass.
    const QString package = makePackage("two.pkg", {"first.bin", "second.bin"});
    QVERIFY(!package.isEmpty());
    const QString install = m_dir.path() + "/install-failing";
    QVERIFY(QDir().mkpath(install));
    QVERIFY(writeFile(install + "/installUpdate",
                      "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/calls\"\n"
                      "case \"$1\" in *first.bin) kill -SEGV $$;; esac\nexit 4\n"));
    QVERIFY(QFile::setPermissions(install + "/installUpdate",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QSettings settings = readerSettings();
    settings.setValue(Updater::KeyUpdateOldPath, install);
    settings.sync();

    LogCapture log;
    UpdaterApp app(nullptr);
    InstallPresser presser;
    app.downloadWindow->show();
    app.downloadWindow->oneDownloadFinish(package);
    QCOMPARE(presser.asked, 2);
    QVERIFY(!app.downloadWindow->isVisible());
    QCOMPARE(log.count("excute result: -1"), 1);
    QCOMPARE(log.count("excute result: 4"), 1);
    // Confirmed entries whose installer failed make the pass a failure, and it says which.
    QVERIFY(app.failed);
    QCOMPARE(log.count("update failed: installation failed for first.bin (the installer crashed), "
                       "second.bin (installer exit code 4); Installed: none. Declined: none."),
             1);
    const QString unpacked = QDir::tempPath() + "/ZandroQuillet/uncompress/";
    QCOMPARE(readFile(install + "/calls"),
             (unpacked + "first.bin\n" + unpacked + "second.bin\n").toUtf8());
    settings.remove(Updater::KeyUpdateOldPath);
}

void TestEnvironmentFaults::presencePortHeldByAnotherProgram()
{
    QTcpServer holder;
    QVERIFY2(holder.listen(QHostAddress::LocalHost, UpdateListener::Port),
             qPrintable(holder.errorString()));

    CatalogueServer catalogue;
    catalogue.setBody(CatalogueServer::replyOffering({}));
    QVERIFY(catalogue.start());
    QSettings settings = readerSettings();
    settings.setValue(Updater::KeyUpdateParam,
                      R"(type:"Update List",product:"ZandroReader",version:"9.1.0.5096")");
    settings.sync();

    // Nothing offered in an automatic pass: the program asks the catalogue and ends by itself.
    const ProgramRun run = runProgram(catalogue.hostAndPort(), 30000);
    QVERIFY2(run.ended, qPrintable(run.log));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 0);
    QCOMPARE(catalogue.requests().size(), 1);
    QVERIFY(holder.isListening());
    settings.remove(Updater::KeyUpdateParam);
}

void TestEnvironmentFaults::settingsFileFaults_data()
{
    QTest::addColumn<QString>("kind"); // "file", "folder" or "dangling link"
    QTest::addColumn<QByteArray>("content");

    QByteArray noise;
    quint32 seed = 7;
    for (int i = 0; i < 65536; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise += char(seed >> 24);
    }
    QTest::newRow("binary noise") << "file" << noise;
    QTest::newRow("noise after the key")
        << "file" << QByteArray("[General]\nQuillet_UpdateParam=") + noise;
    QTest::newRow("variant of an unknown type")
        << "file"
        << QByteArray("[General]\nQuillet_UpdateParam=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xff)\n");
    QTest::newRow("truncated variant")
        << "file" << QByteArray("[General]\nQuillet_UpdateParam=@Variant(\\0\\0\\0\n");
    QTest::newRow("byte array of noise")
        << "file" << QByteArray("[General]\nQuillet_UpdateParam=@ByteArray(\\xff\\xfe\\0\\x1)\n");
    QTest::newRow("list of values")
        << "file" << QByteArray("[General]\nQuillet_UpdateParam=a, b, \"c\n");
    QTest::newRow("unterminated section") << "file" << QByteArray("[General\nQuillet_UpdateParam");
    QTest::newRow("one long line")
        << "file" << QByteArray("[General]\nQuillet_UpdateParam=") + QByteArray(4 << 20, '"');
    QTest::newRow("a folder in its place") << "folder" << QByteArray();
    QTest::newRow("a dangling link in its place") << "dangling link" << QByteArray();
    // Nothing ever writes into these pipes: reading them would wait forever.
    QTest::newRow("a FIFO in its place") << "fifo" << QByteArray();
    QTest::newRow("a FIFO as the organisation's file") << "organisation fifo" << QByteArray();
}

void TestEnvironmentFaults::settingsFileFaults()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);

    const QString path = readerSettings().fileName();
    QFile::remove(path);
    QDir(path).removeRecursively();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    const QString organisationFile = QFileInfo(path).path() + ".conf";
    if (kind == "file")
        QVERIFY(writeFile(path, content));
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "organisation fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(organisationFile).constData(), 0600), 0);
    else
        QVERIFY(QFile::link(m_dir.path() + "/nowhere/settings.conf", path));

    // Should any of it read as a pass, its query goes to a port where nothing listens.
    const QString nowhere = "127.0.0.1:" + QString::number(TestServers::freeLoopbackPort());
    const ProgramRun run = runProgram(nowhere, 30000);
    QVERIFY2(run.ended, qPrintable(run.log));
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 0);
    // The store is the reader's: the updater leaves it as it found it.
    if (kind == "file")
        QCOMPARE(readFile(path), content);
    else if (kind == "folder")
        QVERIFY(QFileInfo(path).isDir());
    else if (kind.endsWith("fifo"))
        QVERIFY(run.log.contains("settings store is not a regular file, ignored:"));
    else
        QVERIFY(QFileInfo(path).isSymLink() && !QFileInfo(path).exists());

    QFile::remove(organisationFile);
    QFile::remove(path);
    QDir(path).removeRecursively();
}

ZANDRO_TEST_MAIN(TestEnvironmentFaults)
#include "tst_environmentfaults.moc"
