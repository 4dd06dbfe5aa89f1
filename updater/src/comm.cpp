#include "updatedefine.h"

#include <QByteArray>

#include "kt_basic.h"

QString Comm::catalogueEndpoint(bool utc8)
{
    QString host = QString::fromLocal8Bit(qgetenv(Updater::CatalogueHostEnv));
    if (host.isEmpty())
        host = QLatin1String(utc8 ? ZANDRO_CATALOGUE_UTC8_HOST : ZANDRO_CATALOGUE_DEFAULT_HOST);
    return QLatin1String("http://") + host + QLatin1String(Updater::CataloguePath);
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
