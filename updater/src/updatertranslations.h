// The user interface's languages. English is the source text and the fallback; German and
// Simplified Chinese are compiled from translations/*.ts at build time and embedded in the
// program, so no install path is needed.
#ifndef UPDATER_SRC_UPDATERTRANSLATIONS_H
#define UPDATER_SRC_UPDATERTRANSLATIONS_H

#include <QLocale>

// Installs on the running application the embedded translation that fits the locale's
// languages (for "de_AT" the German one, for "zh_CN" the Chinese one) and, when the system has
// it, Qt's own for the same language (context menus). Returns true when an embedded translation
// was installed, false when the locale is English or has none. Requires: a QCoreApplication.
bool installTranslations(const QLocale &locale = QLocale());

#endif // UPDATER_SRC_UPDATERTRANSLATIONS_H
