// A private Xvfb display for tests that need a real X server.
#ifndef TESTS_SUPPORT_XVFBSERVER_H
#define TESTS_SUPPORT_XVFBSERVER_H

#include <QByteArray>
#include <QProcess>

class XvfbServer
{
public:
    // Starts Xvfb on a free display with one screen of the given size; name() tells which.
    explicit XvfbServer(const QString &screen = QStringLiteral("1024x768x24"));
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
