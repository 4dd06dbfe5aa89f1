#include "updaterlog.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>

#include "updatedefine.h"

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

// Whether a character of a message is written as an escape: the C0 controls and DEL, the C1
// controls and the Unicode line and paragraph separators, all of which some reader of the log
// (a terminal, grep, a script splitting lines) takes as the end of a line or a command.
bool needsEscape(ushort c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

// The message with its control characters escaped ("\n", "\r", "\t", "\x1b", "\u2028"),
// so that no value inside it can end its line and start one that reads like the updater's own.
// A single line end closing the message (as Qt::endl leaves) is kept.
QString escapeControls(const QString &message)
{
    const int end = message.endsWith(QLatin1Char('\n')) ? message.size() - 1 : message.size();
    int first = 0;
    while (first < end && !needsEscape(message.at(first).unicode()))
        ++first;
    if (first == end)
        return message;
    QString escaped = message.left(first);
    for (int i = first; i < end; ++i) {
        const ushort c = message.at(i).unicode();
        if (!needsEscape(c))
            escaped += QChar(c);
        else if (c == '\n')
            escaped += QLatin1String("\\n");
        else if (c == '\r')
            escaped += QLatin1String("\\r");
        else if (c == '\t')
            escaped += QLatin1String("\\t");
        else if (c < 0x100)
            escaped += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        else
            escaped += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'));
    }
    return escaped + message.mid(end);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
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
    const QString notice = open();
    {
        QMutexLocker lock(&g_mutex);
        Q_ASSERT(!g_log);
        g_log = this;
    }
    m_previousHandler = qInstallMessageHandler(&UpdaterLog::handleMessage);
    // Said once the handler is in place, so that it reaches the new file too.
    if (!notice.isEmpty())
        qWarning().noquote() << notice;
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

QString UpdaterLog::open()
{
    if (!QDir::isAbsolutePath(m_folder))
        return QString();
    const QString stderrOnly = QStringLiteral(" - logging to standard error only");
    QString problem;
    if (!Comm::makePrivateFolder(m_folder, &problem))
        return QStringLiteral("log folder refused: ") + problem + stderrOnly;
    // The folder is held open so that a folder swapped for a link later cannot redirect the file.
    m_folderFd = ::open(QFile::encodeName(m_folder).constData(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (m_folderFd < 0 || ::fstat(m_folderFd, &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0) {
        if (m_folderFd >= 0)
            ::close(m_folderFd);
        m_folderFd = -1;
        return QStringLiteral("log folder refused: %1: changed while it was opened").arg(m_folder) +
               stderrOnly;
    }
    const QString replaced = openFile();
    if (replaced.isEmpty())
        return QString();
    const QString path = filePath();
    if (m_fileFd < 0)
        return QStringLiteral("log file refused: %1: %2").arg(path, replaced) + stderrOnly;
    return QStringLiteral("log file replaced: %1: %2").arg(path, replaced);
}

namespace {
// Why the open file at fd cannot be the log: empty when it is a regular file of this user's
// with no other name.
QString unusableLog(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return errnoText(errno);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("is not a regular file");
    if (info.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1)").arg(info.st_uid);
    // A second name could be another user's, made while the folder was still open to them.
    if (info.st_nlink != 1)
        return QStringLiteral("has another name (a hard link)");
    return QString();
}
} // namespace

QString UpdaterLog::openFile()
{
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    // Non-blocking, so that a FIFO planted under the name cannot hang the updater in open().
    m_fileFd = ::openat(m_folderFd, kFileName, flags | O_CREAT, 0600);
    QString why;
    if (m_fileFd >= 0)
        why = unusableLog(m_fileFd);
    else if (errno == ELOOP)
        why = QStringLiteral("is a symbolic link");
    else if (errno == ENXIO)
        why = QStringLiteral("is not a regular file");
    else if (errno == EISDIR)
        return QStringLiteral("is a folder");
    else
        return errnoText(errno);
    if (why.isEmpty()) {
        // A file of ours that an old umask left readable by others is ours to close again.
        ::fchmod(m_fileFd, 0600);
        return QString();
    }
    closeFile();
    // The folder is private and ours, so whatever stands under the name goes, as a name: a link
    // is removed, never followed, and another user's file stays theirs wherever else it is.
    if (::unlinkat(m_folderFd, kFileName, 0) != 0)
        return why + QLatin1String(", and cannot be removed: ") + errnoText(errno);
    m_fileFd = ::openat(m_folderFd, kFileName, flags | O_CREAT | O_EXCL, 0600);
    if (m_fileFd < 0)
        return why + QLatin1String(", and no new file can be made: ") + errnoText(errno);
    if (!unusableLog(m_fileFd).isEmpty())
        closeFile();
    return why;
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
    // Only this user reaches the folder, so nothing foreign can stand under the name now; and
    // no message can be logged while the lock is held.
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
    const QByteArray line = qFormatLogMessage(type, context, escapeControls(message)).toLocal8Bit();
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
    const QString escaped = escapeControls(text);
    writeStderr(escaped.toLocal8Bit());
    const QMessageLogContext context(file, line, function, "default");
    const QByteArray formatted = qFormatLogMessage(QtCriticalMsg, context, escaped).toLocal8Bit();
    QMutexLocker lock(&g_mutex);
    if (g_log)
        g_log->appendLocked(formatted);
}
