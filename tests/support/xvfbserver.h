// A private Xvfb display for tests that need a real X server.
#ifndef TESTS_SUPPORT_XVFBSERVER_H
#define TESTS_SUPPORT_XVFBSERVER_H

#include <QByteArray>
#include <QProcess>

class XvfbServer
{
public:
    // What the server does when its last client leaves. A desktop's server never resets (the
    // session holds a connection); a bare Xvfb does, and refuses clients while it resets.
    enum class Reset { Never, WhenLastClientLeaves };

    // Starts Xvfb on a free display with one screen of the given size; name() tells which.
    explicit XvfbServer(const QString &screen = QStringLiteral("1024x768x24"),
                        Reset reset = Reset::Never);
    // Stops the server.
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // The display name (":N"), empty when the server could not be started.
    QByteArray name() const { return m_name; }

private:
    QProcess m_process;
    QByteArray m_name;
};

#endif // TESTS_SUPPORT_XVFBSERVER_H
