// The record of the highest version installed per module: it only ever rises, keeps any name
// intact, and is never taken from a file that somebody else could have planted.
#include <QtTest>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "installedversions.h"
#include "testenv.h"

typedef QList<QPair<QString, QString>> Records;
Q_DECLARE_METATYPE(Records)

namespace {
constexpr uid_t OtherUid = 64123; // no account on a test machine has it

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Points XDG_STATE_HOME at a fresh folder while it lives; folder() is the store's folder.
class StateHome
{
public:
    StateHome() : m_saved(qgetenv("XDG_STATE_HOME"))
    {
        static int serial = 0;
        m_home = TestEnv::root() + QStringLiteral("/home%1").arg(++serial);
        QDir().mkpath(m_home);
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home));
    }
    ~StateHome() { qputenv("XDG_STATE_HOME", m_saved); }
    StateHome(const StateHome &) = delete;
    StateHome &operator=(const StateHome &) = delete;

    QString home() const { return m_home; }
    QString folder() const { return m_home + "/zandro-updater"; }
    QString file() const { return folder() + "/installed-versions"; }

private:
    QByteArray m_saved;
    QString m_home;
};
} // namespace

class TestInstalledVersions : public QObject
{
    Q_OBJECT
private slots:
    void recordOnlyRaises_data();
    void recordOnlyRaises();
    void lowerRecordLeavesTheFileAlone();
    void recordRefuses_data();
    void recordRefuses();
    void fileIsPrivateAndWrittenWhole();
    void untrustedFileIsIgnoredThenReplaced_data();
    void untrustedFileIsIgnoredThenReplaced();
    void linkedFolderIsRefused();
    void garbageLinesAreSkipped();
};

void TestInstalledVersions::recordOnlyRaises_data()
{
    QTest::addColumn<Records>("records");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("highest");

    const QString odd = QString::fromUtf8("Zandro \"Reader\"\tPro\nline two 100% \u00e9");
    QTest::newRow("nothing recorded") << Records{} << "A"
                                      << "";
    QTest::newRow("first record") << Records{{"A", "1.0"}} << "A"
                                  << "1.0";
    QTest::newRow("raised") << Records{{"A", "1.0"}, {"A", "1.2"}} << "A"
                            << "1.2";
    QTest::newRow("never lowered") << Records{{"A", "2.0"}, {"A", "1.9.9.9"}} << "A"
                                   << "2.0";
    QTest::newRow("fields are numbers") << Records{{"A", "1.9"}, {"A", "1.10"}} << "A"
                                        << "1.10";
    QTest::newRow("names kept apart") << Records{{"A", "5.0"}, {"B", "1.0"}} << "B"
                                      << "1.0";
    QTest::newRow("names are exact") << Records{{"A", "5.0"}} << "a"
                                     << "";
    QTest::newRow("blanks, quotes, tab, line end, percent")
        << Records{{odd, "9.2.0.1"}, {"Zandro Reader", "1.0"}} << odd << "9.2.0.1";
    QTest::newRow("odd version text kept") << Records{{"A", "9.2 beta\n1"}} << "A"
                                           << "9.2 beta\n1";
    // Found by fuzzing: the name was read back cut at its NUL, so its record never counted.
    const QString withNul = QString("Zandro") + QChar(0) + QString("Reader");
    QTest::newRow("a NUL in the name") << Records{{withNul, "9.2.0.1"}} << withNul << "9.2.0.1";
}

void TestInstalledVersions::recordOnlyRaises()
{
    QFETCH(Records, records);
    QFETCH(QString, name);
    QFETCH(QString, highest);

    StateHome state;
    for (const auto &record : qAsConst(records)) {
        QString problem;
        QVERIFY2(InstalledVersions::record(record.first, record.second, &problem),
                 qPrintable(problem));
    }
    QCOMPARE(InstalledVersions::highest(name), highest);
    QSet<QString> names;
    for (const auto &record : qAsConst(records))
        names.insert(record.first);
    const QHash<QString, QString> all = InstalledVersions::load();
    QCOMPARE(QSet<QString>(all.keyBegin(), all.keyEnd()), names);
}

void TestInstalledVersions::lowerRecordLeavesTheFileAlone()
{
    StateHome state;
    QVERIFY(InstalledVersions::record("Zandro Reader", "9.2.0.1"));
    const QByteArray before = TestEnv::readFile(state.file());
    QVERIFY(InstalledVersions::record("Zandro Reader", "9.2.0.0"));
    QVERIFY(InstalledVersions::record("Zandro Reader", "9.2.0.1"));
    QCOMPARE(TestEnv::readFile(state.file()), before);
}

void TestInstalledVersions::recordRefuses_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::newRow("no name") << QString() << QString("1.0");
    QTest::newRow("no version") << QString("A") << QString();
    // Written, it would make the file too large to be read again, losing every entry.
    QTest::newRow("name too long for the file") << QString(1024 * 1024, 'x') << QString("1.0");
}

void TestInstalledVersions::recordRefuses()
{
    QFETCH(QString, name);
    QFETCH(QString, version);
    StateHome state;
    QVERIFY(InstalledVersions::record("Kept", "1.0"));
    QString problem;
    QVERIFY(!InstalledVersions::record(name, version, &problem));
    QVERIFY(!problem.isEmpty());
    const QHash<QString, QString> kept{{"Kept", "1.0"}};
    QCOMPARE(InstalledVersions::load(), kept);
}

void TestInstalledVersions::fileIsPrivateAndWrittenWhole()
{
    StateHome state;
    // A folder left open to everybody, and a umask that would make the file so too.
    QVERIFY(QDir().mkpath(state.folder()));
    QVERIFY(::chmod(QFile::encodeName(state.folder()).constData(), 0777) == 0);
    const mode_t umask = ::umask(0);
    const bool recorded = InstalledVersions::record("A", "1.0");
    ::umask(umask);
    QVERIFY(recorded);
    QCOMPARE(modeOf(state.folder()), mode_t(0700));
    QCOMPARE(modeOf(state.file()), mode_t(0600));
    QCOMPARE(QDir(state.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"installed-versions"});
    QCOMPARE(InstalledVersions::filePath(), state.file());
}

void TestInstalledVersions::untrustedFileIsIgnoredThenReplaced_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QString>("why");

    QTest::newRow("link to a good file") << "link"
                                         << "is a symbolic link";
    QTest::newRow("another user's file") << "foreign"
                                         << "belongs to another user (uid 64123)";
    QTest::newRow("writable by others") << "0666"
                                        << "is writable by other users";
    QTest::newRow("writable by the group") << "0620"
                                           << "is writable by other users";
    QTest::newRow("larger than 1 MiB") << "oversized"
                                       << "is larger than 1048576 bytes";
    QTest::newRow("FIFO") << "fifo"
                          << "is not a regular file";
}

void TestInstalledVersions::untrustedFileIsIgnoredThenReplaced()
{
    QFETCH(QString, planted);
    QFETCH(QString, why);

    if (planted == "foreign" && ::geteuid() != 0)
        QSKIP("playing another user needs root");
    StateHome state;
    QVERIFY(QDir().mkpath(state.folder()));
    const QByteArray frozen = "#\nZandro%20Reader\t999\n";
    const QString elsewhere = state.home() + "/elsewhere";
    QVERIFY(TestEnv::writeFile(elsewhere, frozen));
    const QByteArray file = QFile::encodeName(state.file());
    if (planted == "link") {
        QVERIFY(QFile::link(elsewhere, state.file()));
    } else if (planted == "fifo") {
        QCOMPARE(::mkfifo(file.constData(), 0600), 0);
    } else {
        QByteArray content = frozen;
        if (planted == "oversized")
            content += QByteArray(1024 * 1024, '#');
        QVERIFY(TestEnv::writeFile(state.file(), content));
        if (planted == "foreign")
            QCOMPARE(::chown(file.constData(), OtherUid, OtherUid), 0);
        else if (planted != "oversized")
            QCOMPARE(::chmod(file.constData(), planted.toUInt(nullptr, 8)), 0);
    }

    {
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(InstalledVersions::load().isEmpty());
        // A blocking open of the FIFO would never return.
        QVERIFY(timer.elapsed() < 30000);
        QCOMPARE(log.lines(),
                 QStringList{"installed versions ignored: " + state.file() + ": " + why});
    }
    {
        LogCapture log;
        QString problem;
        QVERIFY2(InstalledVersions::record("Zandro Reader", "1.0", &problem), qPrintable(problem));
        QCOMPARE(log.lines(),
                 QStringList{"installed versions replaced: " + state.file() + ": " + why});
    }
    QCOMPARE(InstalledVersions::highest("Zandro Reader"), QString("1.0"));
    QCOMPARE(modeOf(state.file()), mode_t(0600));
    QCOMPARE(TestEnv::readFile(elsewhere), frozen);
}

void TestInstalledVersions::linkedFolderIsRefused()
{
    StateHome state;
    const QString real = state.home() + "/real";
    QVERIFY(QDir().mkpath(real));
    QVERIFY(TestEnv::writeFile(real + "/installed-versions", "#\nA\t999\n"));
    QVERIFY(QFile::link(real, state.folder()));
    {
        LogCapture log;
        QVERIFY(InstalledVersions::load().isEmpty());
        QCOMPARE(log.count("installed versions ignored: "), 1);
    }
    QString problem;
    QVERIFY(!InstalledVersions::record("A", "1.0", &problem));
    QVERIFY2(problem.contains("is a symbolic link"), qPrintable(problem));
    QCOMPARE(TestEnv::readFile(real + "/installed-versions"), QByteArray("#\nA\t999\n"));
}

void TestInstalledVersions::garbageLinesAreSkipped()
{
    StateHome state;
    QVERIFY(QDir().mkpath(state.folder()));
    QByteArray content = "# header\n"
                         "no tab at all\n"
                         "three\tfields\there\n"
                         "\t1.0\n"
                         "Empty version\t\n"
                         "A\t1.0\n"
                         "A\t0.5\n" // a name twice counts with its higher version
                         "B%\t2%zz\n";
    content += QByteArray("\0\xff\xfe garbage\n", 12);
    QVERIFY(TestEnv::writeFile(state.file(), content));
    QVERIFY(::chmod(QFile::encodeName(state.file()).constData(), 0600) == 0);
    const QHash<QString, QString> versions = InstalledVersions::load();
    QCOMPARE(versions.value("A"), QString("1.0"));
    QCOMPARE(versions.size(), 2);
    QVERIFY(versions.contains("B%"));
}

ZANDRO_TEST_MAIN(TestInstalledVersions)
#include "tst_installedversions.moc"
