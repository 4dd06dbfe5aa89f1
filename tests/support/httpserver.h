// Real HTTP servers on loopback for the tests and benchmarks, started as child processes and
// stopped with their owner. Everything binds 127.0.0.1 only.
//
// NginxServer serves a document root with real Content-Length, Range (206), 404 and whatever
// extra server directives a test adds (a "return 301" location, say). Its access log records,
// per request, the request line, the Range header ("-" when absent), the status and the body
// bytes sent, so a test can check what actually went over the wire.
//
// ScriptServer runs tests/support/misbehaving_server.py for what a stock server will not do on
// demand: chunked bodies without a length, bodies cut short, replies that stall, and a mode that
// accepts connections and never answers. The script's header lists the request paths it knows.
#ifndef TESTS_SUPPORT_HTTPSERVER_H
#define TESTS_SUPPORT_HTTPSERVER_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace TestServers {
// A TCP port on 127.0.0.1 that nothing listened on a moment ago (bound, read back, released).
quint16 freeLoopbackPort();
// The byte pattern the script server sends for a body of the given length: byte i is i % 251.
QByteArray patternBytes(qint64 length);
} // namespace TestServers

class NginxServer
{
public:
    struct Request
    {
        QString requestLine; // e.g. "GET /a.bin HTTP/1.1"
        QString range;       // the Range header as received, empty when none was sent
        int status = 0;
        qint64 bodyBytes = 0;
    };

    // port 0 picks a free port at start. The document root is a private folder unless given.
    explicit NginxServer(quint16 port = 0, const QString &documentRoot = QString());
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // Directives placed inside the server block, e.g. "location = /old { return 301 /new; }".
    // Requires: called before start().
    void addServerDirectives(const QString &directives);

    // Starts nginx and waits until it accepts connections. Returns false (with the reason in
    // errorString()) when it did not come up within a few seconds.
    bool start();
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString documentRoot() const { return m_documentRoot; }
    QString errorString() const { return m_error; }
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    QUrl url(const QString &path) const;

    // Writes a file below the document root, making folders as needed. Returns false on failure.
    bool addFile(const QString &relativePath, const QByteArray &content);

    // Requests logged so far, oldest first.
    QList<Request> requests() const;
    // Serves the event loop until at least count requests are logged or timeoutMs passed.
    bool waitForRequests(int count, int timeoutMs = 5000) const;

private:
    bool writeConfig();

    QTemporaryDir m_prefix;
    QString m_documentRoot;
    QString m_directives;
    QString m_error;
    quint16 m_port;
    bool m_fixedPort;
    QProcess m_process;
};

class ScriptServer
{
public:
    enum Mode {
        Misbehave, // answers by request path, see the script
        Silent,    // accepts connections and never reads or answers
    };

    explicit ScriptServer(Mode mode = Misbehave);
    ~ScriptServer();
    ScriptServer(const ScriptServer &) = delete;
    ScriptServer &operator=(const ScriptServer &) = delete;

    // Starts the script on a free port and waits until it listens. Returns false on failure.
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    QUrl url(const QString &path) const;

private:
    Mode m_mode;
    quint16 m_port;
    QString m_error;
    QProcess m_process;
};

#endif // TESTS_SUPPORT_HTTPSERVER_H
