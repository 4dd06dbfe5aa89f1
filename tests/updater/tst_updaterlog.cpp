// The log file: where it goes, what reaches it under logging rules, its bound and rotation, and
// the planted files it must never write through.
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <QLoggingCategory>

#include "testenv.h"
#include "updaterlog.h"

namespace {
// Sends standard error into a file while it lives; text() holds what was written there.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path) : m_path(path)
    {
        fflush(stderr);
        m_saved = ::dup(2);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC,
                              0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    QByteArray text()
    {
        restore();
        return TestEnv::readFile(m_path);
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    QString m_path;
    int m_saved;
};

// A fresh folder under the test's private root, not yet made.
QString freshFolder(const QString &name)
{
    static int serial = 0;
    return TestEnv::root() + QStringLiteral("/case%1/").arg(++serial) + name;
}

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QList<QByteArray> linesOf(const QString &path)
{
    QList<QByteArray> lines = TestEnv::readFile(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The number a rotation-test line carries after its dots.
int numberOf(const QByteArray &line)
{
    return line.mid(line.lastIndexOf('.') + 1).toInt();
}

// Turns the logging rules off again when the test ends, however it ends.
struct RulesGuard
{
    explicit RulesGuard(const QString &rules) { QLoggingCategory::setFilterRules(rules); }
    ~RulesGuard() { QLoggingCategory::setFilterRules(QString()); }
};
} // namespace

class TestUpdaterLog : public QObject
{
    Q_OBJECT
private slots:
    void defaultFolder_data();
    void defaultFolder();
    void sameLineOnStderrAndInFile();
    void folderAndFileArePrivate();
    void logPassStartSurvivesHiddenDebug();
    void onlyWhatTheRulesLetThrough_data();
    void onlyWhatTheRulesLetThrough();
    void rotatesAtTheBoundKeepingTwo();
    void lineLongerThanTheBoundIsCut();
    void refusesPlantedFiles_data();
    void refusesPlantedFiles();
};

void TestUpdaterLog::defaultFolder_data()
{
    QTest::addColumn<QByteArray>("stateHome");
    QTest::addColumn<QString>("expected");

    const QString home = QDir::homePath();
    QTest::newRow("set") << QByteArray("/srv/state") << "/srv/state/zandro-updater";
    QTest::newRow("unset") << QByteArray() << home + "/.local/state/zandro-updater";
    QTest::newRow("relative is ignored") << QByteArray("state")
                                         << home + "/.local/state/zandro-updater";
}

void TestUpdaterLog::defaultFolder()
{
    QFETCH(QByteArray, stateHome);
    QFETCH(QString, expected);

    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    if (stateHome.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", stateHome);
    const QString folder = UpdaterLog::defaultFolder();
    qputenv("XDG_STATE_HOME", saved);
    QCOMPARE(folder, expected);
}

void TestUpdaterLog::sameLineOnStderrAndInFile()
{
    const QString folder = freshFolder("zandro-updater");
    QByteArray stderrText;
    {
        UpdaterLog log(folder);
        QVERIFY(log.isOpen());
        QCOMPARE(log.filePath(), folder + "/updater.log");
        StderrCapture capture(TestEnv::root() + "/stderr.txt");
        qWarning() << "update failed:" << 404;
        stderrText = capture.text();
    }
    const QList<QByteArray> lines = linesOf(folder + "/updater.log");
    QCOMPARE(lines.size(), 1);
    QCOMPARE(stderrText, lines.first() + '\n');
    // time, category, file:line function: message
    QVERIFY2(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} default )"
                                R"(tests/updater/tst_updaterlog\.cpp:\d+ )"
                                R"(.*sameLineOnStderrAndInFile.*: update failed: 404$)")
                 .match(QString::fromLocal8Bit(lines.first()))
                 .hasMatch(),
             lines.first().constData());
}

void TestUpdaterLog::folderAndFileArePrivate()
{
    const QString state = freshFolder("state");
    const QString folder = state + "/zandro-updater";
    UpdaterLog log(folder);
    qWarning("one line");
    QCOMPARE(modeOf(state), mode_t(0700));
    QCOMPARE(modeOf(folder), mode_t(0700));
    QCOMPARE(modeOf(folder + "/updater.log"), mode_t(0600));
}

void TestUpdaterLog::logPassStartSurvivesHiddenDebug()
{
    const QString folder = freshFolder("zandro-updater");
    {
        RulesGuard rules("*.debug=false");
        UpdaterLog log(folder);
        UpdaterLog::logPassStart("Manual");
    }
    const QList<QByteArray> lines = linesOf(folder + "/updater.log");
    QCOMPARE(lines.size(), 1);
    const QByteArray expected = "zandro-updater " UPDATER_VERSION ", Qt " +
                                QByteArray(qVersion()) + ", mode Manual";
    QVERIFY2(lines.first().endsWith(": " + expected), lines.first().constData());
    QVERIFY(QByteArray(UPDATER_VERSION).contains('.'));
}

void TestUpdaterLog::onlyWhatTheRulesLetThrough_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no rules") << "" << QStringList{"debug line", "info line", "warning line",
                                                   "critical line"};
    QTest::newRow("debug hidden") << "*.debug=false"
                                  << QStringList{"info line", "warning line", "critical line"};
    QTest::newRow("debug and info hidden")
        << "*.debug=false\n*.info=false" << QStringList{"warning line", "critical line"};
}

void TestUpdaterLog::onlyWhatTheRulesLetThrough()
{
    QFETCH(QString, rules);
    QFETCH(QStringList, expected);

    const QString folder = freshFolder("zandro-updater");
    {
        RulesGuard guard(rules);
        UpdaterLog log(folder);
        qDebug("debug line");
        qInfo("info line");
        qWarning("warning line");
        qCritical("critical line");
    }
    QStringList messages;
    for (const QByteArray &line : linesOf(folder + "/updater.log"))
        messages << QString::fromLocal8Bit(line).section(QStringLiteral(": "), -1);
    QCOMPARE(messages, expected);
}

void TestUpdaterLog::rotatesAtTheBoundKeepingTwo()
{
    const QString folder = freshFolder("zandro-updater");
    const qint64 bound = 1024 * 1024;
    QCOMPARE(UpdaterLog::DefaultMaxBytes, bound);
    // Numbered lines of 100 bytes with their newline: 3.5 files' worth, so the oldest file has
    // been dropped once.
    const int total = int(bound * 7 / 2 / 100);
    {
        UpdaterLog log(folder);
        for (int i = 0; i < total; ++i)
            log.append(QByteArray::number(i).rightJustified(99, '.'));
        QVERIFY(log.isOpen());
    }
    const QString file = folder + "/updater.log";
    QVERIFY(!QFile::exists(file + ".3"));
    const QList<QByteArray> newest = linesOf(file);
    const QList<QByteArray> older = linesOf(file + ".1");
    const QList<QByteArray> oldest = linesOf(file + ".2");
    for (const QString &path : {file, file + ".1", file + ".2"})
        QVERIFY2(QFileInfo(path).size() <= bound, qPrintable(path));
    // Full files hold as many whole lines as fit; no line is split or lost between them.
    QCOMPARE(older.size(), int(bound / 100));
    QCOMPARE(oldest.size(), int(bound / 100));
    QCOMPARE(numberOf(newest.last()), total - 1);
    QCOMPARE(numberOf(older.last()) + 1, numberOf(newest.first()));
    QCOMPARE(numberOf(oldest.last()) + 1, numberOf(older.first()));
    QCOMPARE(modeOf(file), mode_t(0600));
}

void TestUpdaterLog::lineLongerThanTheBoundIsCut()
{
    const QString folder = freshFolder("zandro-updater");
    {
        UpdaterLog log(folder, 1000);
        log.append("first");
        log.append(QByteArray(5000, 'x'));
    }
    QCOMPARE(TestEnv::readFile(folder + "/updater.log.1"), QByteArray("first\n"));
    QCOMPARE(TestEnv::readFile(folder + "/updater.log"), QByteArray(999, 'x') + '\n');
}

void TestUpdaterLog::refusesPlantedFiles_data()
{
    QTest::addColumn<QString>("planted");
    QTest::newRow("file is a link") << "file link";
    QTest::newRow("folder is a link") << "folder link";
    QTest::newRow("file is a FIFO") << "fifo";
    QTest::newRow("file is a folder") << "folder";
}

void TestUpdaterLog::refusesPlantedFiles()
{
    QFETCH(QString, planted);

    const QString base = freshFolder("");
    const QString folder = base + "zandro-updater";
    const QString victim = base + "victim";
    QVERIFY(QDir().mkpath(victim));
    QVERIFY(TestEnv::writeFile(victim + "/target", "untouched"));
    if (planted == "folder link") {
        QVERIFY(QFile::link(victim, folder));
    } else {
        QVERIFY(QDir().mkpath(folder));
        const QByteArray file = QFile::encodeName(folder + "/updater.log");
        if (planted == "file link")
            QVERIFY(QFile::link(victim + "/target", folder + "/updater.log"));
        else if (planted == "fifo")
            QCOMPARE(::mkfifo(file.constData(), 0600), 0);
        else
            QVERIFY(QDir().mkpath(folder + "/updater.log"));
    }

    UpdaterLog log(folder);
    QVERIFY(!log.isOpen());
    // The updater carries on: messages still reach standard error.
    StderrCapture capture(TestEnv::root() + "/stderr.txt");
    qWarning("still reported");
    QVERIFY(capture.text().endsWith("still reported\n"));
    QCOMPARE(TestEnv::readFile(victim + "/target"), QByteArray("untouched"));
    QCOMPARE(QDir(victim).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"target"});
}

ZANDRO_TEST_MAIN(TestUpdaterLog)
#include "tst_updaterlog.moc"
