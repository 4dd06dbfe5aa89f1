#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <cstdlib>

namespace {
QTemporaryDir *g_root = nullptr;
QMutex g_logMutex;
QStringList g_lines;
bool g_capturing = false;
QtMessageHandler g_chained = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&g_logMutex);
        if (g_capturing)
            g_lines.append(message);
    }
    if (g_chained)
        g_chained(type, context, message);
}
} // namespace

QString TestEnv::isolate()
{
    if (!g_root) {
        g_root = new QTemporaryDir(QDir::tempPath() + QLatin1String("/zandro-test-XXXXXX"));
        QDir(g_root->path()).mkpath(QLatin1String("tmp"));
        QDir(g_root->path()).mkpath(QLatin1String("config"));
        QDir(g_root->path()).mkpath(QLatin1String("state"));
        qputenv("TMPDIR", QFile::encodeName(g_root->path() + QLatin1String("/tmp")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_root->path() + QLatin1String("/config")));
        // The per-user fallback working folder and the log file stay inside the test too.
        qputenv("XDG_CACHE_HOME", QFile::encodeName(g_root->path() + QLatin1String("/cache")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(g_root->path() + QLatin1String("/state")));
        std::atexit([] {
            delete g_root;
            g_root = nullptr;
        });
    }
    return g_root->path();
}

QString TestEnv::root()
{
    return g_root ? g_root->path() : QString();
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_logMutex);
    g_lines.clear();
    g_capturing = true;
    m_previous = qInstallMessageHandler(captureHandler);
    g_chained = m_previous;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    QMutexLocker lock(&g_logMutex);
    g_capturing = false;
    g_chained = nullptr;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&g_logMutex);
    return g_lines;
}

int LogCapture::count(const QString &text) const
{
    QMutexLocker lock(&g_logMutex);
    int n = 0;
    for (const QString &line : qAsConst(g_lines))
        n += line.contains(text) ? 1 : 0;
    return n;
}

void LogCapture::clear()
{
    QMutexLocker lock(&g_logMutex);
    g_lines.clear();
}

bool TestEnv::writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray TestEnv::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool TestEnv::run(const QString &program, const QStringList &args, const QString &outFile)
{
    if (program.isEmpty())
        return false;
    QProcess process;
    if (!outFile.isEmpty())
        process.setStandardOutputFile(outFile);
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning() << program << args << process.readAllStandardError();
        return false;
    }
    return true;
}

TestEnv::Captured TestEnv::capture(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    Captured result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
