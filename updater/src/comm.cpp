#include "updatedefine.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <unistd.h>

#include "kt_basic.h"

QString Comm::catalogueEndpoint(bool utc8)
{
    QString host = QString::fromLocal8Bit(qgetenv(Updater::CatalogueHostEnv));
    if (host.isEmpty())
        host = QLatin1String(utc8 ? ZANDRO_CATALOGUE_UTC8_HOST : ZANDRO_CATALOGUE_DEFAULT_HOST);
    return QLatin1String("http://") + host + QLatin1String(Updater::CataloguePath);
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
    const QStringList names = dir.entryList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
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

QVariant Comm::readerSetting(const char *key)
{
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QLatin1String(Updater::SettingsOrganization),
                             QLatin1String(Updater::SettingsApplication));
    return settings.value(QLatin1String(key));
}

bool Comm::makeOwnFolder(const QString &path)
{
    QFileInfo info(QDir::cleanPath(path));
    if (!info.isSymLink() && !info.exists() && !QDir().mkpath(path))
        return false;
    info.refresh();
    return !info.isSymLink() && info.isDir() && info.ownerId() == uint(::geteuid());
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
