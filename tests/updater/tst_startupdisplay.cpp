// Starting without a display: which platform is asked for, whether it can open, and the real
// program's one line and exit code instead of Qt's abort.
#include <QtTest>

#include <QProcess>

#include <thread>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include "startupdisplay.h"
#include "testenv.h"
#include "xvfbserver.h"

namespace {
// Sets an environment variable (or removes it, for a null value) while it lives.
class EnvGuard
{
public:
    EnvGuard(const char *name, const QByteArray &value) : m_name(name), m_saved(qgetenv(name))
    {
        m_wasSet = qEnvironmentVariableIsSet(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

private:
    const char *m_name;
    QByteArray m_saved;
    bool m_wasSet;
};

// The local socket of the X display ":N".
QByteArray xSocketPath(const QByteArray &display)
{
    return "/tmp/.X11-unix/X" + display.mid(1);
}

// An X display name no server listens on.
QByteArray absentDisplay()
{
    int n = 4000;
    while (QFile::exists(QFile::decodeName(xSocketPath(":" + QByteArray::number(n)))))
        ++n;
    return ":" + QByteArray::number(n);
}

// Runs the updater with a changed environment; returns (exit code, standard error).
QPair<int, QByteArray> runUpdater(const QMap<QString, QString> &set, const QStringList &unset,
                                  const QStringList &arguments = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : unset)
        env.remove(name);
    for (auto it = set.cbegin(); it != set.cend(); ++it)
        env.insert(it.key(), it.value());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(UPDATER_BINARY), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAllStandardError()};
    return {process.exitCode(), process.readAllStandardError()};
}
} // namespace

class TestStartupDisplay : public QObject
{
    Q_OBJECT
private slots:
    void requested_data();
    void requested();
    void availability_data();
    void availability();
    void xcbWithARealServer();
    void xcbAskedAgainAfterARefusal();
    void checkHoldsTheServerUntilReleased();
    void programWithoutDisplay_data();
    void programWithoutDisplay();
};

void TestStartupDisplay::requested_data()
{
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("xDisplay");

    const QStringList none{"zandro-updater"};
    QTest::newRow("nothing set") << QByteArray() << none << QStringList{"xcb"} << QString();
    QTest::newRow("empty variable") << QByteArray("") << none << QStringList{"xcb"} << QString();
    QTest::newRow("variable") << QByteArray("offscreen") << none << QStringList{"offscreen"}
                              << QString();
    QTest::newRow("options dropped") << QByteArray("vnc:size=800x600") << none
                                     << QStringList{"vnc"} << QString();
    QTest::newRow("fallback list") << QByteArray("wayland;xcb") << none
                                   << QStringList{"wayland", "xcb"} << QString();
    QTest::newRow("argument wins") << QByteArray("xcb")
                                   << QStringList{"zandro-updater", "-platform", "minimal"}
                                   << QStringList{"minimal"} << QString();
    QTest::newRow("double-dash argument")
        << QByteArray() << QStringList{"zandro-updater", "--platform", "offscreen"}
        << QStringList{"offscreen"} << QString();
    QTest::newRow("argument without value") << QByteArray("offscreen")
                                            << QStringList{"zandro-updater", "-platform"}
                                            << QStringList{"offscreen"} << QString();
    QTest::newRow("display argument")
        << QByteArray() << QStringList{"zandro-updater", "-display", ":7", "--display", ":8"}
        << QStringList{"xcb"} << ":8";
    QTest::newRow("program name is no argument") << QByteArray() << QStringList{"-display", ":7"}
                                                 << QStringList{"xcb"} << QString();
}

void TestStartupDisplay::requested()
{
    QFETCH(QByteArray, environment);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QFETCH(QString, xDisplay);

    EnvGuard platform("QT_QPA_PLATFORM", environment);
    QCOMPARE(requestedPlatforms(arguments), expected);
    QCOMPARE(requestedXDisplay(arguments), xDisplay);
}

void TestStartupDisplay::availability_data()
{
    QTest::addColumn<QStringList>("platforms");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("wayland");
    QTest::addColumn<bool>("available");

    const QByteArray unset;
    const QByteArray absent = absentDisplay();
    QTest::newRow("xcb, no DISPLAY") << QStringList{"xcb"} << unset << unset << false;
    QTest::newRow("xcb, empty DISPLAY") << QStringList{"xcb"} << QByteArray("") << unset << false;
    QTest::newRow("xcb, absent server") << QStringList{"xcb"} << absent << unset << false;
    QTest::newRow("xcb, malformed DISPLAY") << QStringList{"xcb"} << QByteArray("nonsense")
                                            << unset << false;
    QTest::newRow("wayland, no socket") << QStringList{"wayland"} << unset
                                        << QByteArray("wayland-zandro-absent") << false;
    QTest::newRow("offscreen") << QStringList{"offscreen"} << unset << unset << true;
    QTest::newRow("minimal") << QStringList{"minimal"} << unset << unset << true;
    QTest::newRow("xcb falls back to offscreen") << QStringList{"xcb", "offscreen"} << absent
                                                 << unset << true;
    QTest::newRow("nothing to try") << QStringList{} << unset << unset << false;
}

void TestStartupDisplay::availability()
{
    QFETCH(QStringList, platforms);
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, wayland);
    QFETCH(bool, available);

    EnvGuard x("DISPLAY", display);
    EnvGuard w("WAYLAND_DISPLAY", wayland);
    EnvGuard runtime("XDG_RUNTIME_DIR", TestEnv::root().toLocal8Bit());
    QCOMPARE(displayAvailable(platforms), available);
}

void TestStartupDisplay::xcbWithARealServer()
{
    XvfbServer server;
    if (server.name().isEmpty())
        QSKIP("Xvfb could not be started");
    {
        EnvGuard x("DISPLAY", server.name());
        QVERIFY(displayAvailable({"xcb"}));
        // A display named on the command line is the one Qt would open.
        QVERIFY(!displayAvailable({"xcb"}, QString::fromLatin1(absentDisplay())));
    }
    EnvGuard x("DISPLAY", QByteArray());
    QVERIFY(displayAvailable({"xcb"}, QString::fromLatin1(server.name())));
    releaseDisplayCheck();
}

// A display that refuses its first connections, as an X server does while it resets after its
// last client left, and then leads to the real server: the check must ask again.
void TestStartupDisplay::xcbAskedAgainAfterARefusal()
{
    XvfbServer server;
    if (server.name().isEmpty())
        QSKIP("Xvfb could not be started");
    const QByteArray fakeName = absentDisplay();
    const QByteArray fakePath = xSocketPath(fakeName);
    const QByteArray realPath = xSocketPath(server.name());

    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, fakePath.constData(), size_t(fakePath.size()));
    QVERIFY2(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0,
             strerror(errno));
    QVERIFY(::listen(listener, 8) == 0);
    const int refusals = 3;
    std::thread refuser([&] {
        for (int i = 0; i < refusals; ++i) {
            // A check that gives up early must not leave this thread waiting.
            pollfd waiting = {listener, POLLIN, 0};
            if (::poll(&waiting, 1, 10000) != 1)
                break;
            const int client = ::accept(listener, nullptr, nullptr);
            if (client >= 0)
                ::close(client);
        }
        ::close(listener);
        ::unlink(fakePath.constData());
        if (::symlink(realPath.constData(), fakePath.constData()) != 0)
            perror("symlink");
    });
    // The refuser's hang-ups may meet xcb's write: the check must survive the SIGPIPE, and leave
    // the signal's handling as it found it for the programs the updater starts.
    struct sigaction before = {};
    QCOMPARE(::sigaction(SIGPIPE, nullptr, &before), 0);
    const bool available = displayAvailable({"xcb"}, QString::fromLatin1(fakeName));
    releaseDisplayCheck();
    refuser.join();
    ::unlink(fakePath.constData());
    QVERIFY(available);
    struct sigaction now = {};
    QCOMPARE(::sigaction(SIGPIPE, nullptr, &now), 0);
    QVERIFY(now.sa_handler == before.sa_handler);
}

// The check's connection stays open until Qt has connected, so the last other client leaving
// in between does not reset the server (which would drop what that client left, and refuse
// Qt while it resets). An atom lives until the server resets.
void TestStartupDisplay::checkHoldsTheServerUntilReleased()
{
    XvfbServer server(QStringLiteral("1024x768x24"), XvfbServer::Reset::WhenLastClientLeaves);
    if (server.name().isEmpty())
        QSKIP("Xvfb could not be started");
    const QByteArray name = server.name();
    auto internAtom = [&](bool create) {
        xcb_connection_t *c = xcb_connect(name.constData(), nullptr);
        const char atom[] = "ZANDRO_RESET_PROBE";
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, !create, strlen(atom), atom), nullptr);
        const bool exists = reply && reply->atom != XCB_ATOM_NONE;
        free(reply);
        xcb_disconnect(c);
        return exists;
    };
    auto atomSurvivesLastClient = [&] {
        internAtom(true);
        QTest::qWait(500); // time for a reset, were one to happen
        return internAtom(false);
    };
    QVERIFY(displayAvailable({"xcb"}, QString::fromLatin1(name)));
    QVERIFY(atomSurvivesLastClient());
    releaseDisplayCheck();
    // Without the held connection the server does reset: the probe means something.
    QVERIFY(!atomSurvivesLastClient());
}

void TestStartupDisplay::programWithoutDisplay_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("refused");

    const QString absent = QString::fromLatin1(absentDisplay());
    QTest::newRow("no DISPLAY") << QString() << QString() << QStringList() << true;
    QTest::newRow("absent server") << absent << QString() << QStringList() << true;
    QTest::newRow("absent server, debug hidden") << absent << QString("*.debug=false")
                                                 << QStringList() << true;
    // Nothing stored for the reader, so a program that starts ends at once with 0.
    QTest::newRow("offscreen asked for") << QString() << QString()
                                         << QStringList{"-platform", "offscreen"} << false;
}

void TestStartupDisplay::programWithoutDisplay()
{
    QFETCH(QString, display);
    QFETCH(QString, rules);
    QFETCH(QStringList, arguments);
    QFETCH(bool, refused);

    const QString state = TestEnv::root() + "/state-" + QTest::currentDataTag();
    QMap<QString, QString> set{{"XDG_STATE_HOME", state}};
    QStringList unset{"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
    if (display.isNull())
        unset << "DISPLAY";
    else
        set.insert("DISPLAY", display);
    if (!rules.isNull())
        set.insert("QT_LOGGING_RULES", rules);

    const QPair<int, QByteArray> result = runUpdater(set, unset, arguments);
    if (!refused) {
        QCOMPARE(result.first, 0);
        QVERIFY2(!result.second.contains("no display"), result.second.constData());
        return;
    }
    QCOMPARE(result.first, 1);
    QCOMPARE(result.second, QByteArray("no display: zandro-updater needs a graphical session\n"));
    const QByteArray log = TestEnv::readFile(state + "/zandro-updater/updater.log");
    QCOMPARE(log.count('\n'), 1);
    QVERIFY2(log.endsWith(" main: no display: zandro-updater needs a graphical session\n"),
             log.constData());
}

ZANDRO_TEST_MAIN(TestStartupDisplay)
#include "tst_startupdisplay.moc"
