#include "httpserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {
const int StartTimeoutMs = 5000;
const int StopTimeoutMs = 5000;

QString findNginx()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                                         {QStringLiteral("/usr/sbin")});
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("nginx")) : found;
}

// True once something accepts TCP connections on 127.0.0.1:port.
bool accepts(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    const bool ok = probe.waitForConnected(200);
    probe.abort();
    return ok;
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(StopTimeoutMs)) {
        process.kill();
        process.waitForFinished(StopTimeoutMs);
    }
}

QUrl loopbackUrl(quint16 port, const QString &path)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}
} // namespace

quint16 TestServers::freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QByteArray TestServers::patternBytes(qint64 length)
{
    QByteArray out(int(length), Qt::Uninitialized);
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(i % 251);
    return out;
}

NginxServer::NginxServer(quint16 port, const QString &documentRoot)
    : m_documentRoot(documentRoot), m_port(port), m_fixedPort(port != 0)
{
    if (m_documentRoot.isEmpty())
        m_documentRoot = m_prefix.path() + QStringLiteral("/www");
    QDir().mkpath(m_documentRoot);
    for (const char *sub : {"logs", "tmp"})
        QDir(m_prefix.path()).mkpath(QLatin1String(sub));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

NginxServer::~NginxServer()
{
    stop();
}

void NginxServer::addServerDirectives(const QString &directives)
{
    m_directives += directives + QLatin1Char('\n');
}

bool NginxServer::writeConfig()
{
    const QString prefix = m_prefix.path();
    // Single process in the foreground: it stays our child, runs as whoever we are, and dies
    // with the test. Every path nginx writes to lies in the private prefix.
    QString conf;
    conf += QStringLiteral("daemon off;\nmaster_process off;\nworker_processes 1;\n");
    conf += QStringLiteral("pid %1/nginx.pid;\n").arg(prefix);
    conf += QStringLiteral("error_log %1/logs/error.log info;\n").arg(prefix);
    conf += QStringLiteral("events { worker_connections 256; }\n");
    conf += QStringLiteral("http {\n");
    conf += QStringLiteral("  log_format wire '$request|$http_range|$status|$body_bytes_sent';\n");
    conf += QStringLiteral("  access_log %1/logs/access.log wire;\n").arg(prefix);
    for (const char *kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += QStringLiteral("  %1_temp_path %2/tmp/%1;\n").arg(QLatin1String(kind), prefix);
    conf += QStringLiteral("  default_type application/octet-stream;\n");
    conf += QStringLiteral("  sendfile on;\n  keepalive_timeout 5;\n");
    conf += QStringLiteral("  server {\n    listen 127.0.0.1:%1;\n    root %2;\n")
                .arg(m_port)
                .arg(m_documentRoot);
    conf += m_directives;
    conf += QStringLiteral("  }\n}\n");

    QFile file(prefix + QStringLiteral("/nginx.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.write(conf.toUtf8());
    return true;
}

bool NginxServer::start()
{
    const QString nginx = findNginx();
    if (nginx.isEmpty()) {
        m_error = QStringLiteral("nginx not found");
        return false;
    }
    const QString prefix = m_prefix.path();
    // A free port can be taken by someone else between the probe and nginx's bind: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!m_fixedPort)
            m_port = TestServers::freeLoopbackPort();
        if (!writeConfig())
            return false;
        m_process.start(nginx, {QStringLiteral("-p"), prefix, QStringLiteral("-c"),
                                prefix + QStringLiteral("/nginx.conf"), QStringLiteral("-e"),
                                prefix + QStringLiteral("/logs/error.log")});
        if (!m_process.waitForStarted(StartTimeoutMs)) {
            m_error = m_process.errorString();
            return false;
        }
        QDeadlineTimer deadline(StartTimeoutMs);
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            if (accepts(m_port))
                return true;
            m_process.waitForFinished(50);
        }
        stopProcess(m_process);
        QFile log(prefix + QStringLiteral("/logs/error.log"));
        m_error = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll())
                                                : QStringLiteral("nginx did not start");
        if (m_fixedPort)
            break;
    }
    return false;
}

void NginxServer::stop()
{
    stopProcess(m_process);
}

bool NginxServer::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QUrl NginxServer::url(const QString &path) const
{
    return loopbackUrl(m_port, path);
}

bool NginxServer::addFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = QDir(m_documentRoot).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QList<NginxServer::Request> NginxServer::requests() const
{
    QList<Request> out;
    QFile log(m_prefix.path() + QStringLiteral("/logs/access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = log.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split('|');
        if (fields.size() != 4)
            continue;
        Request r;
        r.requestLine = QString::fromLatin1(fields[0]);
        r.range = fields[1] == "-" ? QString() : QString::fromLatin1(fields[1]);
        r.status = fields[2].toInt();
        r.bodyBytes = fields[3].toLongLong();
        out.append(r);
    }
    return out;
}

bool NginxServer::waitForRequests(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (requests().size() < count) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

ScriptServer::ScriptServer(Mode mode) : m_mode(mode), m_port(0)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

ScriptServer::~ScriptServer()
{
    stop();
}

bool ScriptServer::start()
{
    QStringList args{QStringLiteral(TEST_SOURCE_DIR "/tests/support/misbehaving_server.py")};
    if (m_mode == Silent)
        args << QStringLiteral("--silent");
    m_process.start(QStringLiteral("python3"), args);
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(StartTimeoutMs);
    QByteArray line;
    while (!line.endsWith('\n') && !deadline.hasExpired()) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(100)) {
            if (m_process.state() != QProcess::Running)
                break;
            continue;
        }
        line += m_process.readLine();
    }
    if (!line.startsWith("PORT ")) {
        m_error = QStringLiteral("script server did not start: %1").arg(QString::fromLatin1(line));
        stop();
        return false;
    }
    m_port = quint16(line.mid(5).trimmed().toUInt());
    return m_port != 0;
}

void ScriptServer::stop()
{
    stopProcess(m_process);
}

QUrl ScriptServer::url(const QString &path) const
{
    return loopbackUrl(m_port, path);
}
