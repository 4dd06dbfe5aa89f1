#include "trustedfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a file of this kind, owner and mode is not to be trusted; empty when it is.
QString untrustedKind(const struct stat &info, TrustedFile::Owners owners)
{
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("is not a regular file");
    const bool ownerAllowed =
        info.st_uid == ::geteuid() || (owners == TrustedFile::UserOrRoot && info.st_uid == 0);
    if (!ownerAllowed)
        return QStringLiteral("belongs to another user (uid %1)").arg(info.st_uid);
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("is writable by other users");
    return QString();
}

// Why the open file may not be read, empty when it may.
QString untrusted(int fd, TrustedFile::Owners owners, qint64 maxBytes)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return errnoText(errno);
    const QString why = untrustedKind(info, owners);
    if (!why.isEmpty())
        return why;
    if (info.st_size > maxBytes)
        return QStringLiteral("is larger than %1 bytes").arg(maxBytes);
    return QString();
}
} // namespace

QString TrustedFile::untrustedProgram(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return errnoText(errno);
    return untrustedKind(info, UserOrRoot);
}

TrustedFile::Result TrustedFile::read(const QString &path, Owners owners, qint64 maxBytes,
                                      QByteArray *bytes, QString *problem)
{
    bytes->clear();
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return Missing;
    if (fd < 0) {
        *problem = errno == ELOOP ? QStringLiteral("is a symbolic link") : errnoText(errno);
        return Refused;
    }
    const auto refuse = [&](const QString &why) {
        ::close(fd);
        bytes->clear();
        *problem = why;
        return Refused;
    };
    const QString why = untrusted(fd, owners, maxBytes);
    if (!why.isEmpty())
        return refuse(why);
    // One byte more than the bound tells a file that grew after the check from one that fits.
    bytes->resize(int(maxBytes + 1));
    qint64 got = 0;
    while (got < bytes->size()) {
        const ssize_t n = ::read(fd, bytes->data() + got, size_t(bytes->size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(errnoText(errno));
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes)
        return refuse(QStringLiteral("is larger than %1 bytes").arg(maxBytes));
    ::close(fd);
    bytes->resize(int(got));
    return Read;
}
