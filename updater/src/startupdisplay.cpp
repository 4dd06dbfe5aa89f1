#include "startupdisplay.h"

#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <xcb/xcb.h>

const char NoDisplayMessage[] = "no display: zandro-updater needs a graphical session";

namespace {
// The check's own connection, held until Qt has opened its one: an X server that resets when its
// last client leaves (a bare Xvfb) would otherwise reset between the two and refuse Qt.
xcb_connection_t *heldConnection = nullptr;

bool xcbConnects(const QString &display)
{
    // Opens a connection of its own: the only sure test of DISPLAY and the X authority. A server
    // in the middle of a reset refuses for a moment, so a refusal is asked again for about 1 s;
    // a display name that does not parse fails at once.
    const QByteArray name = display.toLocal8Bit();
    // A server that hangs up during the handshake would raise SIGPIPE in xcb's write and end the
    // process; ignored for the check only, so the installer later starts with the usual default.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    bool connected = false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0)
            QThread::msleep(100);
        xcb_connection_t *connection =
            xcb_connect(display.isEmpty() ? nullptr : name.constData(), nullptr);
        const int error = xcb_connection_has_error(connection);
        if (error == 0) {
            releaseDisplayCheck();
            heldConnection = connection;
            connected = true;
            break;
        }
        xcb_disconnect(connection);
        if (error == XCB_CONN_CLOSED_PARSE_ERR)
            break;
    }
    sigaction(SIGPIPE, &previous, nullptr);
    return connected;
}

bool waylandConnects()
{
    QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = QStringLiteral("wayland-0");
    if (!QDir::isAbsolutePath(name)) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return false;
        name = runtime + QLatin1Char('/') + name;
    }
    const QByteArray path = QFile::encodeName(name);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// The value after the last "-name" or "--name" among the arguments (the program's name aside).
QString argumentValue(const QStringList &arguments, const QString &name)
{
    QString value;
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1Char('-') + name || arguments[i] == QLatin1String("--") + name)
            value = arguments[i + 1];
    }
    return value;
}
} // namespace

QString requestedXDisplay(const QStringList &arguments)
{
    return argumentValue(arguments, QStringLiteral("display"));
}

QStringList requestedPlatforms(const QStringList &arguments)
{
    QString value = argumentValue(arguments, QStringLiteral("platform"));
    if (value.isEmpty())
        value = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (value.isEmpty())
        value = QStringLiteral("xcb");
    QStringList platforms;
    for (const QString &entry : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        platforms << entry.section(QLatin1Char(':'), 0, 0);
    return platforms;
}

bool displayAvailable(const QStringList &platforms, const QString &xDisplay)
{
    for (const QString &platform : platforms) {
        if (platform == QLatin1String("xcb")) {
            if (xcbConnects(xDisplay))
                return true;
        } else if (platform.startsWith(QLatin1String("wayland"))) {
            if (waylandConnects())
                return true;
        } else {
            return true;
        }
    }
    return false;
}

void releaseDisplayCheck()
{
    if (heldConnection)
        xcb_disconnect(heldConnection);
    heldConnection = nullptr;
}

void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
}
