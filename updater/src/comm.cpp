#include "updatedefine.h"

#include <QByteArray>

QString Comm::catalogueEndpoint(bool utc8)
{
    QString host = QString::fromLocal8Bit(qgetenv(Updater::CatalogueHostEnv));
    if (host.isEmpty())
        host = QLatin1String(utc8 ? ZANDRO_CATALOGUE_UTC8_HOST : ZANDRO_CATALOGUE_DEFAULT_HOST);
    return QLatin1String("http://") + host + QLatin1String(Updater::CataloguePath);
}
