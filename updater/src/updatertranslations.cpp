#include "updatertranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
// The standard buttons take their texts from Qt's own translations, which are not always
// installed; these entries put those texts into the embedded files as well.
const char *const kQtButtonTexts[] = {
    QT_TRANSLATE_NOOP("QPlatformTheme", "OK"),
    QT_TRANSLATE_NOOP("QPlatformTheme", "Cancel"),
    QT_TRANSLATE_NOOP("QGnomeTheme", "&OK"),
    QT_TRANSLATE_NOOP("QGnomeTheme", "&Cancel"),
};
} // namespace

bool installTranslations(const QLocale &locale)
{
    // Outside any namespace: the macro declares the resource's registration function.
    Q_INIT_RESOURCE(translations);
    Q_UNUSED(kQtButtonTexts);
    QCoreApplication *app = QCoreApplication::instance();
    auto *own = new QTranslator(app);
    if (!own->load(locale, QStringLiteral("zandro-updater"), QStringLiteral("_"),
                   QStringLiteral(":/translations"))) {
        delete own;
        return false;
    }
    // The translator installed last is asked first: ours, so that its button texts win.
    auto *qt = new QTranslator(app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    QCoreApplication::installTranslator(own);
    return true;
}
