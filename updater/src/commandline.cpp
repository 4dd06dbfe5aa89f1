#include "commandline.h"

#include <QStringList>

CSetup_CommandLine::CSetup_CommandLine(QObject *parent) : QObject(parent) {}

bool CSetup_CommandLine::parserParam(const QString &text)
{
    if (text.isEmpty())
        return false;
    const QStringList items = text.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &item : items)
        doParsePice(item);
    return !params.isEmpty();
}

void CSetup_CommandLine::doParsePice(const QString &item)
{
    if (item.isEmpty())
        return;
    // An item with no double quote carries no value at all; it is not a key with an empty value.
    const QStringList fields = item.split(QLatin1Char('"'));
    if (fields.size() < 2)
        return;
    const int colon = item.indexOf(QLatin1Char(':'));
    const QString key = colon < 0 ? item : item.left(colon);
    if (!params.contains(key))
        params.insert(key, fields.at(1));
}

QString CSetup_CommandLine::getValue(const QString &key) const
{
    return params.value(key);
}

QString CSetup_CommandLine::getReaderPathFromcmd() const
{
    return QString();
}
