#include "updatedefine.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kt_basic.h"

QString Comm::catalogueEndpoint(bool utc8)
{
    QString host = QString::fromLocal8Bit(qgetenv(Updater::CatalogueHostEnv));
    QString scheme = QLatin1String(ZANDRO_CATALOGUE_SCHEME);
    // Tests and the demo may name the scheme with the host, to reach a local https server.
    for (const char *named : {"http", "https"}) {
        const QString prefix = QLatin1String(named) + QLatin1String("://");
        if (host.startsWith(prefix)) {
            scheme = QLatin1String(named);
            host = host.mid(prefix.size());
        }
    }
    if (host.isEmpty())
        host = QLatin1String(utc8 ? ZANDRO_CATALOGUE_UTC8_HOST : ZANDRO_CATALOGUE_DEFAULT_HOST);
    return scheme + QLatin1String("://") + host + QLatin1String(Updater::CataloguePath);
}

bool Comm::deleteDir(const QString &path)
{
    // Without its trailing slash, so that a link is seen as a link and not as its target.
    const QFileInfo top(QDir::cleanPath(path));
    if (top.isSymLink()) {
        qDebug() << "remove dir" << path << " faild!";
        return false;
    }
    if (!top.isDir())
        return true;

    QString folder = QDir::toNativeSeparators(path);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');

    bool ok = true;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDir::Unsorted);
    for (const QString &name : names) {
        const QString fullPath = folder + name;
        const QFileInfo entry(fullPath);
        if (entry.isSymLink()) {
            // Checked before anything else so that a link is never followed.
            if (!QFile::remove(fullPath)) {
                qDebug() << "remove file" << fullPath << " faild!";
                ok = false;
            }
        } else if (entry.isFile()) {
            QFile::setPermissions(fullPath, QFileDevice::WriteOwner);
            if (!QFile::remove(fullPath)) {
                qDebug() << "remove file" << fullPath << " faild!";
                ok = false;
            }
        } else if (entry.isDir()) {
            if (!deleteDir(fullPath))
                ok = false;
        }
    }
    if (!QDir().rmdir(folder)) {
        qDebug() << "remove dir" << folder << " faild!";
        return false;
    }
    return ok;
}

namespace {
// Every file the toolkit's native settings read for the reader's store: the user's own and the
// system-wide fallbacks, each per application and per organisation.
QStringList settingsFiles()
{
    QStringList bases;
    const QString userConfig = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    bases << (userConfig.isEmpty() ? QDir::homePath() + QLatin1String("/.config") : userConfig);
    const QString systemConfig = QFile::decodeName(qgetenv("XDG_CONFIG_DIRS"));
    bases << (systemConfig.isEmpty() ? QStringList{QStringLiteral("/etc/xdg")}
                                     : systemConfig.split(QLatin1Char(':'), Qt::SkipEmptyParts));
    QStringList files;
    const QString organization = QLatin1String(Updater::SettingsOrganization);
    for (const QString &base : qAsConst(bases)) {
        files << base + QLatin1Char('/') + organization + QLatin1Char('/') +
                     QLatin1String(Updater::SettingsApplication) + QLatin1String(".conf");
        files << base + QLatin1Char('/') + organization + QLatin1String(".conf");
    }
    return files;
}
} // namespace

QVariant Comm::readerSetting(const char *key)
{
    // Reading a pipe or a device would block the updater before any window appears: a store
    // that is not a regular file counts as no store at all.
    for (const QString &file : settingsFiles()) {
        struct stat info;
        if (::stat(QFile::encodeName(file).constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
            qWarning().noquote() << "settings store is not a regular file, ignored:" << file;
            return QVariant();
        }
    }
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QLatin1String(Updater::SettingsOrganization),
                             QLatin1String(Updater::SettingsApplication));
    return settings.value(QLatin1String(key));
}

namespace {
constexpr char SharedWorkFolder[] = "/ZandroQuillet/";
constexpr char FallbackWorkFolder[] = "/zandro-updater/";

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The per-user cache folder: $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
QString cacheHome()
{
    const QString configured = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QLatin1String("/.cache");
}
} // namespace

namespace {
// Whether others can change what this folder holds: it is writable by group or others and not
// sticky, or it belongs to somebody other than root and this user. Such a folder anywhere above
// a path lets its owner rename our folder away and put their own in its place.
QString othersCanChange(const struct stat &info)
{
    if (info.st_uid != 0 && info.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1)").arg(info.st_uid);
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX))
        return QStringLiteral("is writable by other users");
    return QString();
}

// Makes path, whose parent exists, a folder of mode 0700 whatever the umask.
bool makeFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0)
        return errno == EEXIST;
    return ::chmod(path.constData(), 0700) == 0;
}
} // namespace

bool Comm::checkFolderChain(const QString &folder, QString *problem, QString *resolved)
{
    const auto refuse = [&](const QString &where, const QString &why) {
        if (problem)
            *problem = QStringLiteral("%1: %2").arg(where, why);
        return false;
    };
    char *real = ::realpath(QFile::encodeName(folder).constData(), nullptr);
    if (!real)
        return refuse(folder, errnoText(errno));
    const QString canonical = QFile::decodeName(real);
    std::free(real);
    // realpath has taken every link away, so each step is the folder itself.
    QString step = canonical;
    for (;;) {
        struct stat info;
        if (::lstat(QFile::encodeName(step).constData(), &info) != 0)
            return refuse(step, errnoText(errno));
        if (!S_ISDIR(info.st_mode))
            return refuse(step, QStringLiteral("is not a folder"));
        const QString why = othersCanChange(info);
        if (!why.isEmpty())
            return refuse(step, why);
        if (step == QLatin1String("/"))
            break;
        step = QFileInfo(step).path();
    }
    if (resolved)
        *resolved = canonical;
    return true;
}

bool Comm::makePrivateFolder(const QString &path, QString *problem, QString *resolved)
{
    const QString clean = QDir::cleanPath(path);
    const auto refuse = [&](const QString &why) {
        if (problem)
            *problem = QStringLiteral("%1: %2").arg(clean, why);
        return false;
    };
    if (!QDir::isAbsolutePath(clean) || clean == QLatin1String("/"))
        return refuse(QStringLiteral("is not an absolute path to a folder"));

    // The nearest folder above that exists decides where the rest is made; it and everything
    // above it must be out of other users' reach, or they could swap ours for theirs later.
    QStringList missing;
    QString existing = QFileInfo(clean).path();
    struct stat info;
    while (::lstat(QFile::encodeName(existing).constData(), &info) != 0) {
        if (errno != ENOENT)
            return refuse(QStringLiteral("%1: %2").arg(existing, errnoText(errno)));
        missing.prepend(QFileInfo(existing).fileName());
        existing = QFileInfo(existing).path();
    }
    QString base;
    QString chainProblem;
    if (!checkFolderChain(existing, &chainProblem, &base))
        return refuse(QStringLiteral("a folder above it is not safe: %1").arg(chainProblem));
    // Missing parents are private from the start, whatever the umask.
    for (const QString &part : qAsConst(missing)) {
        base = (base == QLatin1String("/") ? QString() : base) + QLatin1Char('/') + part;
        if (!makeFolder(QFile::encodeName(base)))
            return refuse(QStringLiteral("cannot create its parent folder %1: %2")
                              .arg(base, errnoText(errno)));
    }
    const QString target = (base == QLatin1String("/") ? QString() : base) + QLatin1Char('/') +
                           QFileInfo(clean).fileName();
    const QByteArray native = QFile::encodeName(target);
    if (::lstat(native.constData(), &info) != 0) {
        if (errno != ENOENT)
            return refuse(errnoText(errno));
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return refuse(errnoText(errno));
        if (::lstat(native.constData(), &info) != 0)
            return refuse(errnoText(errno));
    }
    if (S_ISLNK(info.st_mode))
        return refuse(QStringLiteral("is a symbolic link"));
    if (!S_ISDIR(info.st_mode))
        return refuse(QStringLiteral("is not a folder"));
    if (info.st_uid != ::geteuid())
        return refuse(QStringLiteral("belongs to another user (uid %1)").arg(info.st_uid));
    // The umask of whoever made it decided its mode; only this user may use it from now on.
    if ((info.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        return refuse(QStringLiteral("cannot make it private: %1").arg(errnoText(errno)));
    if (resolved)
        *resolved = target + (path.endsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString());
    return true;
}

QString Comm::workFolder(QString *problem)
{
    static QString warnedAbout;
    // TMPDIR naming a folder that does not exist leaves the toolkit with no temporary path at
    // all; the shared folder would then be made at the root of the file system.
    const QString temp = QDir::tempPath();
    QString sharedProblem;
    QString shared;
    if (!QDir::isAbsolutePath(temp) || !QFileInfo(temp).isDir())
        sharedProblem = QStringLiteral("the temporary folder \"%1\" does not exist").arg(temp);
    else if (makePrivateFolder(temp + QLatin1String(SharedWorkFolder), &sharedProblem, &shared))
        return shared;
    const QString fallback = cacheHome() + QLatin1String(FallbackWorkFolder);
    if (warnedAbout != sharedProblem) {
        warnedAbout = sharedProblem;
        qWarning().noquote() << "working folder refused:" << sharedProblem << "- using" << fallback;
    }
    QString fallbackProblem;
    QString resolved;
    if (makePrivateFolder(fallback, &fallbackProblem, &resolved))
        return resolved;
    if (problem)
        *problem = sharedProblem + QLatin1String("; ") + fallbackProblem;
    return QString();
}

FileIdentity FileIdentity::of(const QString &path)
{
    FileIdentity identity;
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return identity;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.kind = S_ISREG(info.st_mode) ? RegularFile : S_ISDIR(info.st_mode) ? Folder : Other;
    return identity;
}

bool FileIdentity::sameAs(const FileIdentity &other) const
{
    return kind != Missing && kind == other.kind && device == other.device &&
           inode == other.inode;
}

bool Comm::openNewFile(QFile &file, const QString &path, bool append, QString *problem)
{
    const QByteArray native = QFile::encodeName(path);
    const auto refuse = [&](int error) {
        if (problem)
            *problem = QStringLiteral("cannot open %1: %2").arg(path, errnoText(error));
        return false;
    };
    int fd = -1;
    if (append) {
        fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    } else {
        // unlink removes a planted link itself, never what it points to.
        if (::unlink(native.constData()) != 0 && errno != ENOENT)
            return refuse(errno);
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    if (fd < 0)
        return refuse(errno);
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(EINVAL);
    }
    const QIODevice::OpenMode mode =
        append ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly;
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (problem)
            *problem = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QString Comm::ws2qs(CKT_WideString text)
{
    // wchar_t holds one 32-bit code point per character here; fromUcs4 makes the surrogate pairs.
    const CKT_WideStringC view(text);
    const wchar_t *chars = view.GetPtr();
    int length = 0;
    while (length < view.GetLength() && chars[length] != 0)
        ++length;
    return QString::fromUcs4(reinterpret_cast<const uint *>(chars), length);
}
