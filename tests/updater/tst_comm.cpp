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
    void workFolderRefusesUnsafeTemporaryFolders_data();
    void workFolderRefusesUnsafeTemporaryFolders();
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
    // Whoever can write a folder above can rename ours away and put their own in its place.
    QTest::newRow("under a folder everybody can write") << "open-parent" << false;
    QTest::newRow("under a folder its group can write") << "group-parent" << false;
    QTest::newRow("under a sticky folder everybody can write") << "sticky-parent" << true;
    QTest::newRow("under another user's folder") << "foreign-parent" << false;
    QTest::newRow("a relative path") << "relative" << false;
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
    } else if (setup == "open-parent" || setup == "group-parent" || setup == "sticky-parent") {
        const mode_t mode = setup == "open-parent" ? 0777 : setup == "group-parent" ? 0770 : 01777;
        QCOMPARE(::chmod(QFile::encodeName(tmp.path()).constData(), mode), 0);
    } else if (setup == "foreign-parent") {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QCOMPARE(::chown(QFile::encodeName(tmp.path()).constData(), 65534, 65534), 0);
    } else if (setup == "relative") {
        path = "ZandroQuillet/uncompress/";
    }
    QString problem;
    QString resolved;
    const bool made = Comm::makePrivateFolder(path, &problem, &resolved);
    ::umask(oldMask);
    if (setup.endsWith("-parent"))
        QVERIFY2(result || problem.contains("a folder above it is not safe: " + tmp.path() + ": "),
                 qPrintable(problem));
    QCOMPARE(made, result);
    QCOMPARE(problem.isEmpty(), result);
    if (setup == "dangling")
        QVERIFY(!QFileInfo::exists(tmp.filePath("gone")));
    if (result) {
        // Only this user may enter it, whatever it was before or the umask said.
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), 0700);
        QCOMPARE(resolved, path);
        // So is every parent it had to make.
        if (setup == "none" || setup == "umask0") {
            QCOMPARE(::lstat(QFile::encodeName(tmp.filePath("ZandroQuillet")).constData(), &info),
                     0);
            QCOMPARE(int(info.st_mode & 07777), 0700);
        }
    } else if (setup.endsWith("-parent")) {
        QVERIFY(!QFileInfo::exists(path));
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

void TestComm::workFolderRefusesUnsafeTemporaryFolders_data()
{
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("refusal"); // empty: the shared folder is used
    QTest::newRow("a temporary folder that does not exist")
        << "missing" << "working folder refused: the temporary folder \"\" does not exist";
    QTest::newRow("a temporary folder another user made for everybody")
        << "foreign-open" << "a folder above it is not safe: @: belongs to another user (uid 65534)";
    QTest::newRow("a temporary folder everybody can write, not sticky")
        << "open" << "a folder above it is not safe: @: is writable by other users";
    QTest::newRow("a shared sticky temporary folder") << "sticky" << QString();
    QTest::newRow("a temporary folder reached through a link") << "link" << QString();
}

void TestComm::workFolderRefusesUnsafeTemporaryFolders()
{
    QFETCH(QString, temp);
    QFETCH(QString, refusal);
    if (temp.startsWith("foreign") && ::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    QTemporaryDir tmp;
    const QString real = tmp.filePath("tmp");
    QVERIFY(QDir().mkpath(real));
    const QByteArray native = QFile::encodeName(real);
    QString named = real;
    if (temp == "missing") {
        named = tmp.filePath("gone");
    } else if (temp == "foreign-open") {
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(native.constData(), 0777), 0);
    } else if (temp == "open") {
        QCOMPARE(::chmod(native.constData(), 0777), 0);
    } else if (temp == "sticky") {
        QCOMPARE(::chmod(native.constData(), 01777), 0);
    } else if (temp == "link") {
        named = tmp.filePath("tmp-link");
        QVERIFY(QFile::link(real, named));
    }
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", QFile::encodeName(named));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(tmp.filePath("cache")));
    LogCapture log;
    const QString folder = Comm::workFolder();
    qputenv("TMPDIR", savedTemp);
    qputenv("XDG_CACHE_HOME", savedCache);

    if (refusal.isEmpty()) {
        // Links are taken away once: the pass keeps the folder itself, not a way to it.
        QCOMPARE(folder, real + "/ZandroQuillet/");
        QCOMPARE(log.count("working folder refused:"), 0);
    } else {
        QCOMPARE(folder, tmp.filePath("cache/zandro-updater/"));
        QCOMPARE(log.count(QString(refusal).replace("@", real)), 1);
        QVERIFY(!QFileInfo::exists(real + "/ZandroQuillet"));
        // Nothing lands at the root of the file system either.
        QVERIFY(temp != "missing" || !QFileInfo::exists("/ZandroQuillet"));
    }
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
