#include "startupfont.h"

#include <QFile>
#include <QFontDatabase>

QString fontFamilyForIssue(const QString &issueText)
{
    static const struct
    {
        const char *marker;
        const char *family;
    } kMarkers[] = {
        {"Ubuntu", "Ubuntu"},
        {"SUSE", "Cantarell"},
        {"Red Hat", "Sans"},
        {"Kernel", "Cantarell"},
    };
    for (const auto &m : kMarkers) {
        if (issueText.contains(QLatin1String(m.marker), Qt::CaseInsensitive))
            return QString::fromLatin1(m.family);
    }
    return QString();
}

QFont startupFontForIssue(const QString &issueText)
{
    const QString family = fontFamilyForIssue(issueText);
    QFont font;
    if (family.isNull())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    else
        font.setFamily(family);
    font.setPixelSize(12);
    return font;
}

QString readIssueText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}
