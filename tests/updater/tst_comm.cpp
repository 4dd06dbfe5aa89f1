#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "testenv.h"
#include "updatedefine.h"

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}
} // namespace

class TestComm : public QObject
{
    Q_OBJECT
private slots:
    void deleteDirRemovesEverything();
    void deleteDirRemovesLinksAsLinks();
    void deleteDirRefusesLinkAsTheFolder();
    void deleteDirLeavesPipeAndFails();
    void deleteDirOfMissingFolderSucceeds();
    void makePrivateFolder_data();
    void makePrivateFolder();
    void openNewFileNeverFollowsLinks_data();
    void openNewFileNeverFollowsLinks();
    void workFolderFallsBackToThePerUserFolder();
    void catalogueEndpoint_data();
    void catalogueEndpoint();
};

void TestComm::deleteDirRemovesEverything()
{
    QTemporaryDir tmp;
    const QString root = tmp.filePath("unpack");
    QVERIFY(QDir().mkpath(root + "/sub/deeper"));
    writeFile(root + "/a.bin", "a");
    writeFile(root + "/.hidden", "h");
    writeFile(root + "/sub/deeper/c.txt", "c");
    // A read-only file is still removed.
    writeFile(root + "/sub/readonly", "r");
    QFile::setPermissions(root + "/sub/readonly", QFileDevice::ReadOwner);

    LogCapture log;
    QVERIFY(Comm::deleteDir(root + "/"));
    QVERIFY(!QFileInfo::exists(root));
    QCOMPARE(log.lines().size(), 0);
}

void TestComm::deleteDirRemovesLinksAsLinks()
{
    QTemporaryDir tmp;
    const QString outside = tmp.filePath("outside");
    QVERIFY(QDir().mkpath(outside));
    writeFile(outside + "/keep.txt", "precious");
    QFile::setPermissions(outside + "/keep.txt", QFileDevice::ReadOwner | QFileDevice::ReadUser);

    const QString root = tmp.filePath("unpack");
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QFile::link(outside + "/keep.txt", root + "/file-link"));
    QVERIFY(QFile::link(outside, root + "/dir-link"));
    QVERIFY(QFile::link(tmp.filePath("nowhere"), root + "/dangling"));

    QVERIFY(Comm::deleteDir(root));
    QVERIFY(!QFileInfo::exists(root));
    QFile kept(outside + "/keep.txt");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("precious"));
    QCOMPARE(kept.permissions() & (QFileDevice::ReadOwner | QFileDevice::WriteOwner),
             QFileDevice::ReadOwner);
}

void TestComm::deleteDirRefusesLinkAsTheFolder()
{
    QTemporaryDir tmp;
    const QString target = tmp.filePath("target");
    QVERIFY(QDir().mkpath(target));
    writeFile(target + "/keep.txt", "x");
    const QString link = tmp.filePath("uncompress");
    QVERIFY(QFile::link(target, link));

    QVERIFY(!Comm::deleteDir(link + "/"));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo::exists(target + "/keep.txt"));
}

void TestComm::deleteDirLeavesPipeAndFails()
{
    QTemporaryDir tmp;
    const QString root = tmp.filePath("unpack");
    QVERIFY(QDir().mkpath(root));
    writeFile(root + "/a", "a");
    QCOMPARE(::mkfifo(QFile::encodeName(root + "/pipe").constData(), 0600), 0);

    LogCapture log;
    QVERIFY(!Comm::deleteDir(root));
    QVERIFY(QFileInfo::exists(root + "/pipe"));
    QVERIFY(!QFileInfo::exists(root + "/a"));
    QCOMPARE(log.count("remove dir"), 1);
    QCOMPARE(log.count(" faild!"), 1);
}

void TestComm::deleteDirOfMissingFolderSucceeds()
{
    QTemporaryDir tmp;
    QVERIFY(Comm::deleteDir(tmp.filePath("absent")));
}

void TestComm::makePrivateFolder_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("result");
    QTest::newRow("missing with parents") << "none" << true;
    QTest::newRow("existing folder") << "folder" << true;
    QTest::newRow("folder left open to all, repaired") << "open" << true;
    QTest::newRow("missing, made under umask 000") << "umask0" << true;
    QTest::newRow("link to a folder") << "link" << false;
    QTest::newRow("dangling link") << "dangling" << false;
    QTest::newRow("a file") << "file" << false;
    QTest::newRow("under a file") << "under-file" << false;
    QTest::newRow("another user's folder") << "foreign" << false;
}

void TestComm::makePrivateFolder()
{
    QFETCH(QString, setup);
    QFETCH(bool, result);
    QTemporaryDir tmp;
    QString path = tmp.filePath("ZandroQuillet/uncompress/");
    mode_t oldMask = ::umask(022);
    if (setup == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (setup == "open") {
        QVERIFY(QDir().mkpath(path));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0777), 0);
    } else if (setup == "umask0") {
        ::umask(0);
    } else if (setup == "link") {
        QVERIFY(QDir().mkpath(tmp.filePath("elsewhere")));
        QVERIFY(QDir().mkpath(tmp.filePath("ZandroQuillet")));
        QVERIFY(QFile::link(tmp.filePath("elsewhere"), tmp.filePath("ZandroQuillet/uncompress")));
    } else if (setup == "dangling") {
        QVERIFY(QDir().mkpath(tmp.filePath("ZandroQuillet")));
        QVERIFY(QFile::link(tmp.filePath("gone"), tmp.filePath("ZandroQuillet/uncompress")));
    } else if (setup == "file") {
        QVERIFY(QDir().mkpath(tmp.filePath("ZandroQuillet")));
        writeFile(tmp.filePath("ZandroQuillet/uncompress"), "x");
    } else if (setup == "foreign") {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QVERIFY(QDir().mkpath(path));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    } else if (setup == "under-file") {
        writeFile(tmp.filePath("ZandroQuillet"), "x");
    }
    QString problem;
    const bool made = Comm::makePrivateFolder(path, &problem);
    ::umask(oldMask);
    QCOMPARE(made, result);
    QCOMPARE(problem.isEmpty(), result);
    if (setup == "dangling")
        QVERIFY(!QFileInfo::exists(tmp.filePath("gone")));
    if (result) {
        // Only this user may enter it, whatever it was before or the umask said.
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), 0700);
    }
}

void TestComm::openNewFileNeverFollowsLinks_data()
{
    QTest::addColumn<QString>("planted"); // what stands at the path before
    QTest::addColumn<bool>("append");
    QTest::addColumn<bool>("opened");
    QTest::newRow("nothing") << "none" << false << true;
    QTest::newRow("an old file, replaced") << "file" << false << true;
    QTest::newRow("link to a victim's file") << "link" << false << true;
    QTest::newRow("dangling link") << "dangling" << false << true;
    QTest::newRow("a pipe") << "fifo" << false << true;
    QTest::newRow("appending to an old file") << "file" << true << true;
    QTest::newRow("appending through a link") << "link" << true << false;
    QTest::newRow("a folder") << "folder" << false << false;
}

void TestComm::openNewFileNeverFollowsLinks()
{
    QFETCH(QString, planted);
    QFETCH(bool, append);
    QFETCH(bool, opened);
    QTemporaryDir tmp;
    const QString victim = tmp.filePath("victim.txt");
    writeFile(victim, "precious");
    const QString path = tmp.filePath("update_tmpfile.xml");
    if (planted == "file")
        writeFile(path, "old");
    else if (planted == "link")
        QVERIFY(QFile::link(victim, path));
    else if (planted == "dangling")
        QVERIFY(QFile::link(tmp.filePath("created-through-link"), path));
    else if (planted == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (planted == "folder")
        QVERIFY(QDir().mkpath(path));

    QFile file;
    QString problem;
    QCOMPARE(Comm::openNewFile(file, path, append, &problem), opened);
    QCOMPARE(problem.isEmpty(), opened);
    if (opened) {
        QCOMPARE(file.write("new"), qint64(3));
        file.close();
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(TestEnv::readFile(path), QByteArray(append ? "oldnew" : "new"));
    }
    // Whatever stood there, nothing was written or created through it.
    QCOMPARE(TestEnv::readFile(victim), QByteArray("precious"));
    QVERIFY(!QFileInfo::exists(tmp.filePath("created-through-link")));
}

void TestComm::workFolderFallsBackToThePerUserFolder()
{
    QTemporaryDir tmp;
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(tmp.filePath("cache")));

    QCOMPARE(Comm::workFolder(), tmp.filePath("ZandroQuillet/"));
    // A link planted in the shared folder's place sends the updater to its own folder.
    QVERIFY(QDir(tmp.filePath("ZandroQuillet")).removeRecursively());
    QVERIFY(QFile::link(tmp.filePath("elsewhere"), tmp.filePath("ZandroQuillet")));
    LogCapture log;
    QCOMPARE(Comm::workFolder(), tmp.filePath("cache/zandro-updater/"));
    QCOMPARE(log.count("working folder refused: " + tmp.filePath("ZandroQuillet") +
                       ": is a symbolic link - using"),
             1);
    // Logged once, not at every use.
    QCOMPARE(Comm::workFolder(), tmp.filePath("cache/zandro-updater/"));
    QCOMPARE(log.count("working folder refused:"), 1);
    // Neither usable: no folder, and the reason for both.
    QVERIFY(QDir(tmp.filePath("cache")).removeRecursively());
    writeFile(tmp.filePath("cache"), "x");
    QString problem;
    QCOMPARE(Comm::workFolder(&problem), QString());
    QVERIFY2(problem.contains("is a symbolic link") && problem.contains("cache/zandro-updater: "),
             qPrintable(problem));
    QVERIFY(!QFileInfo::exists(tmp.filePath("elsewhere")));

    qputenv("TMPDIR", savedTemp);
    qputenv("XDG_CACHE_HOME", savedCache);
}

void TestComm::catalogueEndpoint_data()
{
    QTest::addColumn<QByteArray>("override");
    QTest::addColumn<bool>("utc8");
    QTest::addColumn<QString>("endpoint");
    const QString scheme = QStringLiteral(ZANDRO_CATALOGUE_SCHEME) + "://";
    QTest::newRow("built-in default host") << QByteArray() << false
                                           << scheme + ZANDRO_CATALOGUE_DEFAULT_HOST "/addons/get_addons.php";
    QTest::newRow("built-in UTC+8 host") << QByteArray() << true
                                         << scheme + ZANDRO_CATALOGUE_UTC8_HOST "/addons/get_addons.php";
    QTest::newRow("host override") << QByteArray("127.0.0.1:8080") << false
                                   << scheme + "127.0.0.1:8080/addons/get_addons.php";
    QTest::newRow("https override") << QByteArray("https://127.0.0.1:8443") << true
                                    << "https://127.0.0.1:8443/addons/get_addons.php";
    QTest::newRow("http override") << QByteArray("http://localhost") << false
                                   << "http://localhost/addons/get_addons.php";
}

void TestComm::catalogueEndpoint()
{
    QFETCH(QByteArray, override);
    QFETCH(bool, utc8);
    QFETCH(QString, endpoint);
    if (override.isEmpty())
        qunsetenv("ZANDRO_CATALOGUE_HOST");
    else
        qputenv("ZANDRO_CATALOGUE_HOST", override);
    QCOMPARE(Comm::catalogueEndpoint(utc8), endpoint);
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

ZANDRO_TEST_MAIN(TestComm)
#include "tst_comm.moc"
