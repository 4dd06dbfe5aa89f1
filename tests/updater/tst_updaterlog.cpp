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
    void plantedFilesAreReplacedOrRefused_data();
    void plantedFilesAreReplacedOrRefused();
    void folderOpenToOthersIsMadePrivate();
    void controlCharactersAreEscaped_data();
    void controlCharactersAreEscaped();
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

void TestUpdaterLog::plantedFilesAreReplacedOrRefused_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("warning"); // after the folder's path

    const QString stderrOnly = " - logging to standard error only";
    // In our own folder whatever stands under the file's name is removed, as a name.
    QTest::newRow("file is a link") << "file link" << true << "/updater.log: is a symbolic link";
    QTest::newRow("file is a FIFO") << "fifo" << true << "/updater.log: is not a regular file";
    QTest::newRow("another user's file")
        << "foreign file" << true << "/updater.log: belongs to another user (uid 64123)";
    QTest::newRow("second name of another file")
        << "hard link" << true << "/updater.log: has another name (a hard link)";
    // What cannot be removed as a name, or is not ours to use, leaves standard error alone.
    QTest::newRow("file is a folder")
        << "folder" << false << "/updater.log: is a folder" + stderrOnly;
    QTest::newRow("folder is a link")
        << "folder link" << false << ": is a symbolic link" + stderrOnly;
    QTest::newRow("another user's folder")
        << "foreign folder" << false << ": belongs to another user (uid 64123)" + stderrOnly;
}

void TestUpdaterLog::plantedFilesAreReplacedOrRefused()
{
    QFETCH(QString, planted);
    QFETCH(bool, opens);
    QFETCH(QString, warning);

    if (planted.startsWith("foreign") && ::geteuid() != 0)
        QSKIP("playing another user needs root");
    const QString base = freshFolder("");
    const QString folder = base + "zandro-updater";
    const QString file = folder + "/updater.log";
    const QString victim = base + "victim";
    QVERIFY(QDir().mkpath(victim));
    QVERIFY(TestEnv::writeFile(victim + "/target", "untouched"));
    if (planted == "folder link") {
        QVERIFY(QFile::link(victim, folder));
    } else {
        QVERIFY(QDir().mkpath(folder));
        const QByteArray native = QFile::encodeName(file);
        if (planted == "file link")
            QVERIFY(QFile::link(victim + "/target", file));
        else if (planted == "hard link")
            QCOMPARE(::link(QFile::encodeName(victim + "/target").constData(), native.constData()),
                     0);
        else if (planted == "fifo")
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        else if (planted == "folder")
            QVERIFY(QDir().mkpath(file));
        else if (planted == "foreign file")
            QVERIFY(TestEnv::writeFile(file, "theirs") &&
                    ::chown(native.constData(), 64123, 64123) == 0);
        else if (planted == "foreign folder")
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 64123, 64123), 0);
    }

    StderrCapture capture(TestEnv::root() + "/stderr.txt");
    {
        UpdaterLog log(folder);
        QCOMPARE(log.isOpen(), opens);
        qWarning("still reported");
    }
    // One warning says what happened; the updater carries on.
    const QList<QByteArray> lines = capture.text().split('\n');
    QCOMPARE(lines.size(), 3);
    const QString verb = warning.startsWith(':') ? "log folder refused: "
                         : opens                 ? "log file replaced: "
                                                 : "log file refused: ";
    QVERIFY2(lines.at(0).endsWith((verb + folder + warning).toLocal8Bit()),
             lines.at(0).constData());
    QVERIFY(lines.at(1).endsWith("still reported"));
    if (opens) {
        QCOMPARE(linesOf(file), lines.mid(0, 2));
        QCOMPARE(modeOf(file), mode_t(0600));
    }
    QCOMPARE(TestEnv::readFile(victim + "/target"), QByteArray("untouched"));
    QCOMPARE(QDir(victim).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"target"});
}

void TestUpdaterLog::folderOpenToOthersIsMadePrivate()
{
    const QString folder = freshFolder("zandro-updater");
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    QVERIFY(TestEnv::writeFile(folder + "/updater.log", "earlier line\n"));
    QCOMPARE(::chmod(QFile::encodeName(folder + "/updater.log").constData(), 0644), 0);
    {
        UpdaterLog log(folder);
        QVERIFY(log.isOpen());
        qWarning("next line");
    }
    QCOMPARE(modeOf(folder), mode_t(0700));
    QCOMPARE(modeOf(folder + "/updater.log"), mode_t(0600));
    const QList<QByteArray> lines = linesOf(folder + "/updater.log");
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.first(), QByteArray("earlier line"));
}

void TestUpdaterLog::controlCharactersAreEscaped_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("written"); // the message as it appears in the line

    QTest::newRow("plain text and backslashes stay")
        << R"(C:\path "quoted" 100%)" << QByteArray(R"(C:\path "quoted" 100%)");
    QTest::newRow("a forged line")
        << "download of http://h/x\n2026-01-01 00:00:00.000 default src/x.cpp:1 f: update "
           "finished: The update of Zandro Reader 9.0.0.1 is complete"
        << QByteArray("download of http://h/x\\n2026-01-01 00:00:00.000 default src/x.cpp:1 f: "
                      "update finished: The update of Zandro Reader 9.0.0.1 is complete");
    QTest::newRow("return, tab, escape, DEL, NUL")
        << QString("a\rb\tc\x1b[31md\x7f") + QChar(0) + "e"
        << QByteArray("a\\rb\\tc\\x1b[31md\\x7f\\x00e");
    QTest::newRow("C1 controls and Unicode line ends")
        << QString("a") + QChar(0x85) + "b" + QChar(0x2028) + "c" + QChar(0x2029) + "d" +
               QString::fromUtf8("\u00e9")
        << QByteArray("a\\x85b\\u2028c\\u2029d\xc3\xa9");
    QTest::newRow("closing line end kept") << "result: 0 \n" << QByteArray("result: 0 \n");
    QTest::newRow("only the last line end is kept") << "a\n\n" << QByteArray("a\\n\n");
}

void TestUpdaterLog::controlCharactersAreEscaped()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, written);

    const QString folder = freshFolder("zandro-updater");
    QByteArray stderrText;
    {
        UpdaterLog log(folder);
        StderrCapture capture(TestEnv::root() + "/stderr.txt");
        qWarning().noquote() << message;
        UpdaterLog::reportToUser(message);
        stderrText = capture.text();
    }
    const QByteArray fileText = TestEnv::readFile(folder + "/updater.log");
    // Two messages in the file, each on one line (plus a kept closing line end): nothing forged
    // in between.
    const int closing = written.endsWith('\n') ? 1 : 0;
    const QList<QByteArray> lines = fileText.split('\n');
    QCOMPARE(lines.size(), 3 + 2 * closing);
    const QByteArray text = written.left(written.size() - closing);
    QVERIFY2(lines.at(0).endsWith(": " + text), lines.at(0).constData());
    QVERIFY2(lines.at(1 + closing).endsWith(": " + text), lines.at(1 + closing).constData());
    // Standard error has the warning's line as the file has it, then reportToUser's bare line.
    const QByteArray warningLine = fileText.left(fileText.indexOf(written) + written.size() + 1);
    QCOMPARE(stderrText, warningLine + written + '\n');
}

ZANDRO_TEST_MAIN(TestUpdaterLog)
#include "tst_updaterlog.moc"
