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

ZANDRO_TEST_MAIN(TestComm)
#include "tst_comm.moc"
