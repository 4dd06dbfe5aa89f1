#include "updaterlog.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>

namespace {
const char kFolderName[] = "zandro-updater";
const char kFileName[] = "updater.log";
const char kFirstOlder[] = "updater.log.1";
const char kSecondOlder[] = "updater.log.2";
const char kMessagePattern[] =
    "%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} %{file}:%{line} %{function}: %{message}";

// The one log alive, reached from the message handler, which has no user data. The mutex guards
// it and its file: messages can come from any thread.
QMutex g_mutex;
UpdaterLog *g_log = nullptr;

// Writes all of data to fd, retrying after signals; false on any other failure.
bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Makes every missing folder of an absolute path, each 0700, as the XDG base folders ask.
void makeFolders(const QByteArray &path)
{
    for (int slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return;
        if (slash < 0)
            return;
    }
}

void writeStderr(QByteArray line)
{
    line.append('\n');
    fwrite(line.constData(), 1, size_t(line.size()), stderr);
    fflush(stderr);
}
} // namespace

QString UpdaterLog::defaultFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QLatin1String("/.local/state");
    return base + QLatin1Char('/') + QLatin1String(kFolderName);
}

UpdaterLog::UpdaterLog(const QString &folder, qint64 maxBytes)
    : m_folder(folder), m_maxBytes(maxBytes), m_folderFd(-1), m_fileFd(-1),
      m_previousHandler(nullptr)
{
    qSetMessagePattern(QString::fromLatin1(kMessagePattern));
    open();
    {
        QMutexLocker lock(&g_mutex);
        Q_ASSERT(!g_log);
        g_log = this;
    }
    m_previousHandler = qInstallMessageHandler(&UpdaterLog::handleMessage);
}

UpdaterLog::~UpdaterLog()
{
    qInstallMessageHandler(m_previousHandler);
    QMutexLocker lock(&g_mutex);
    g_log = nullptr;
    closeFile();
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

bool UpdaterLog::isOpen() const
{
    return m_fileFd >= 0;
}

QString UpdaterLog::filePath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(kFileName);
}

void UpdaterLog::open()
{
    const QByteArray folder = QFile::encodeName(m_folder);
    if (!QDir::isAbsolutePath(m_folder))
        return;
    makeFolders(folder);
    // The folder is held open so that a folder swapped for a link later cannot redirect the file.
    m_folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (m_folderFd < 0 || ::fstat(m_folderFd, &info) != 0 || info.st_uid != ::getuid()) {
        if (m_folderFd >= 0)
            ::close(m_folderFd);
        m_folderFd = -1;
        return;
    }
    openFile();
}

void UpdaterLog::openFile()
{
    // Non-blocking, so that a FIFO planted under the name cannot hang the updater in open().
    m_fileFd = ::openat(m_folderFd, kFileName,
                        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    struct stat info;
    if (m_fileFd >= 0 &&
        (::fstat(m_fileFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()))
        closeFile();
}

void UpdaterLog::closeFile()
{
    if (m_fileFd >= 0)
        ::close(m_fileFd);
    m_fileFd = -1;
}

void UpdaterLog::rotate()
{
    closeFile();
    ::renameat(m_folderFd, kFirstOlder, m_folderFd, kSecondOlder);
    ::renameat(m_folderFd, kFileName, m_folderFd, kFirstOlder);
    openFile();
}

void UpdaterLog::append(const QByteArray &text)
{
    QMutexLocker lock(&g_mutex);
    appendLocked(text);
}

void UpdaterLog::appendLocked(const QByteArray &text)
{
    if (m_fileFd < 0)
        return;
    QByteArray line = text.left(int(qMin<qint64>(text.size(), m_maxBytes - 1)));
    line.append('\n');
    struct stat info;
    // The size is read from the file each time: another updater may be appending too.
    if (::fstat(m_fileFd, &info) == 0 && info.st_size > 0 &&
        info.st_size + line.size() > m_maxBytes)
        rotate();
    if (m_fileFd >= 0)
        writeAll(m_fileFd, line.constData(), size_t(line.size()));
}

void UpdaterLog::handleMessage(QtMsgType type, const QMessageLogContext &context,
                               const QString &message)
{
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
    writeStderr(line);
    QMutexLocker lock(&g_mutex);
    if (g_log)
        g_log->appendLocked(line);
}

void UpdaterLog::logPassStart(const QString &mode)
{
    qInfo().noquote() << QStringLiteral("zandro-updater %1, Qt %2, mode %3")
                             .arg(QLatin1String(UPDATER_VERSION), QLatin1String(qVersion()), mode);
}

void UpdaterLog::reportToUser(const QString &text, const char *file, int line, const char *function)
{
    writeStderr(text.toLocal8Bit());
    const QMessageLogContext context(file, line, function, "default");
    const QByteArray formatted = qFormatLogMessage(QtCriticalMsg, context, text).toLocal8Bit();
    QMutexLocker lock(&g_mutex);
    if (g_log)
        g_log->appendLocked(formatted);
}
