#include "installedversions.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "creadermodulemanager.h"
#include "trustedfile.h"
#include "updatedefine.h"
#include "updaterlog.h"

namespace {
constexpr char FileName[] = "installed-versions";
constexpr char NewFileName[] = "installed-versions.new";
constexpr char Header[] = "# zandro-updater: the highest version installed of each module\n";

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString folderPath()
{
    return UpdaterLog::defaultFolder();
}

// Reads the file when its folder is a real folder of this user's and the file can be trusted.
TrustedFile::Result readFile(QByteArray *bytes, QString *problem)
{
    struct stat info;
    const QString folder = folderPath();
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0) {
        if (errno == ENOENT)
            return TrustedFile::Missing;
        *problem = QStringLiteral("its folder cannot be read: %1").arg(errnoText(errno));
        return TrustedFile::Refused;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        *problem = QStringLiteral("its folder is not a folder of this user's");
        return TrustedFile::Refused;
    }
    return TrustedFile::read(InstalledVersions::filePath(), TrustedFile::UserOnly,
                             InstalledVersions::MaxBytes, bytes, problem);
}

// A percent-encoded field as text; a NUL it holds stays (the QByteArray overload would stop there).
QString decodeField(const QByteArray &field)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(field);
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

QHash<QString, QString> parse(const QByteArray &bytes)
{
    QHash<QString, QString> versions;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 2)
            continue;
        const QString name = decodeField(fields.at(0));
        const QString version = decodeField(fields.at(1));
        if (name.isEmpty() || version.isEmpty())
            continue;
        const QString known = versions.value(name);
        if (known.isEmpty() || CReaderModuleManager::CompareVersion(version, known) > 0)
            versions.insert(name, version);
    }
    return versions;
}

QByteArray compose(const QHash<QString, QString> &versions)
{
    QStringList names = versions.keys();
    names.sort();
    QByteArray bytes = Header;
    for (const QString &name : qAsConst(names)) {
        bytes += QUrl::toPercentEncoding(name) + '\t' +
                 QUrl::toPercentEncoding(versions.value(name)) + '\n';
    }
    return bytes;
}

// The recorded versions. A refused file counts as none, with one warning line: the words, the
// path and why.
QHash<QString, QString> readVersions(const char *refusedWords)
{
    QByteArray bytes;
    QString problem;
    const TrustedFile::Result result = readFile(&bytes, &problem);
    if (result == TrustedFile::Refused)
        qWarning().noquote() << refusedWords
                             << InstalledVersions::filePath() + QLatin1String(": ") + problem;
    return result == TrustedFile::Read ? parse(bytes) : QHash<QString, QString>();
}

bool writeAll(const QByteArray &bytes, QString *problem)
{
    const QString path = InstalledVersions::filePath();
    const QString newPath = folderPath() + QLatin1Char('/') + QLatin1String(NewFileName);
    QFile file;
    if (!Comm::openNewFile(file, newPath, false, problem))
        return false;
    // Mode 0600 whatever the umask: the reader refuses a file that others could write.
    const bool written = ::fchmod(file.handle(), 0600) == 0 && file.write(bytes) == bytes.size() &&
                         file.flush() && ::fsync(file.handle()) == 0;
    const QString writeError = file.errorString();
    file.close();
    // rename replaces whatever is at the name, a link included, without following it.
    if (!written || ::rename(QFile::encodeName(newPath).constData(),
                             QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(QFile::encodeName(newPath).constData());
        if (problem)
            *problem = QStringLiteral("cannot write %1: %2")
                           .arg(path, written ? errnoText(error) : writeError);
        return false;
    }
    return true;
}
} // namespace

QString InstalledVersions::filePath()
{
    return folderPath() + QLatin1Char('/') + QLatin1String(FileName);
}

QHash<QString, QString> InstalledVersions::load()
{
    return readVersions("installed versions ignored:");
}

QString InstalledVersions::highest(const QString &name)
{
    return load().value(name);
}

bool InstalledVersions::record(const QString &name, const QString &version, QString *problem)
{
    if (name.isEmpty() || version.isEmpty()) {
        if (problem)
            *problem = QStringLiteral("a module name and a version are needed");
        return false;
    }
    if (!Comm::makePrivateFolder(folderPath(), problem))
        return false;
    // The folder is private now, so whatever refused file stood there is replaced by ours.
    QHash<QString, QString> versions = readVersions("installed versions replaced:");
    const QString known = versions.value(name);
    if (!known.isEmpty() && CReaderModuleManager::CompareVersion(version, known) <= 0)
        return true;
    versions.insert(name, version);
    const QByteArray composed = compose(versions);
    if (composed.size() > MaxBytes) {
        if (problem)
            *problem =
                QStringLiteral("%1 would be larger than %2 bytes").arg(filePath()).arg(MaxBytes);
        return false;
    }
    return writeAll(composed, problem);
}
