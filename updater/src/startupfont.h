// The application font, chosen from the name of the Linux distribution in "/etc/issue".
#ifndef UPDATER_SRC_STARTUPFONT_H
#define UPDATER_SRC_STARTUPFONT_H

#include <QFont>
#include <QString>

// The family for the distribution text: the first marker found decides (letter case ignored);
// a null string when no marker is present.
QString fontFamilyForIssue(const QString &issueText);
// The whole font for the text: the family above, or the fixed-pitch system font, at 12 px.
QFont startupFontForIssue(const QString &issueText);
// "/etc/issue" decoded as UTF-8 up to its first zero byte; empty when it cannot be read.
QString readIssueText(const QString &path = QStringLiteral("/etc/issue"));

#endif // UPDATER_SRC_STARTUPFONT_H
