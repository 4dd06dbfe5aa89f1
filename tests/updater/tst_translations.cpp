// The embedded German and Chinese translations: which locale loads which, the windows showing
// the translated texts, and every label and button fitting its text in the fixed-size windows.
#include <QtTest>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTranslator>

#include <memory>

#include "dlgdownload.h"
#include "dlgmessage.h"
#include "dlgupdatechecking.h"
#include "startupfont.h"
#include "testenv.h"
#include "updatertranslations.h"

namespace {
// Takes every translator installTranslations() put on the application off again.
void removeTranslations()
{
    for (QTranslator *translator : qApp->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

QString textOf(QWidget *window, const char *name)
{
    if (auto *label = window->findChild<QLabel *>(name))
        return label->text();
    if (auto *button = window->findChild<QAbstractButton *>(name))
        return button->text();
    return "<missing>";
}

// The names of the window's visible labels and buttons whose text does not fit them: a
// wrapping label needs its height for its width, any other widget its whole size hint.
QStringList clipped(QWidget *window)
{
    QStringList names;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisible() || !(qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)))
            continue;
        auto *label = qobject_cast<QLabel *>(w);
        const bool fits = label && label->wordWrap()
                              ? label->heightForWidth(label->width()) <= label->height()
                              : w->sizeHint().width() <= w->width() &&
                                    w->sizeHint().height() <= w->height();
        if (!fits)
            names << (w->objectName().isEmpty() ? QString(w->metaObject()->className())
                                                : w->objectName()) +
                         QString(" (%1 for %2x%3)")
                             .arg(textOf(window, qPrintable(w->objectName())))
                             .arg(w->width())
                             .arg(w->height());
    }
    return names;
}
} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void chosenByLocale_data();
    void chosenByLocale();
    void windowsShowTranslatedTexts_data();
    void windowsShowTranslatedTexts();
    void longestTextsFit_data();
    void longestTextsFit();
};

void TestTranslations::initTestCase()
{
    Q_INIT_RESOURCE(res);
    // The font the program itself sets: the fixed-pitch system font at 12 px here.
    QApplication::setFont(startupFontForIssue(QString()));
}

void TestTranslations::cleanup()
{
    removeTranslations();
}

void TestTranslations::chosenByLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("cancel");

    QTest::newRow("German") << "de_DE" << true << "Abbrechen";
    QTest::newRow("Austrian German") << "de_AT" << true << "Abbrechen";
    QTest::newRow("Simplified Chinese") << "zh_CN" << true << QString::fromUtf8("取消");
    QTest::newRow("Traditional Chinese") << "zh_TW" << false << "Cancel";
    QTest::newRow("English") << "en_US" << false << "Cancel";
    QTest::newRow("French") << "fr_FR" << false << "Cancel";
    QTest::newRow("C") << "C" << false << "Cancel";
}

void TestTranslations::chosenByLocale()
{
    QFETCH(QString, locale);
    QFETCH(bool, installed);
    QFETCH(QString, cancel);

    QCOMPARE(installTranslations(QLocale(locale)), installed);
    QCOMPARE(QCoreApplication::translate("DlgUpdateChecking", "Cancel"), cancel);
}

void TestTranslations::windowsShowTranslatedTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("texts"); // title, checking label, description label, OK, Cancel

    QTest::newRow("de") << "de_DE"
                        << QStringList{"Zandro Updater", "Suche nach Updates...", "Beschreibung:",
                                       "OK", "Abbrechen"};
    QTest::newRow("zh_CN") << "zh_CN"
                           << QStringList{QString::fromUtf8("Zandro 更新程序"),
                                          QString::fromUtf8("正在检查更新..."),
                                          QString::fromUtf8("说明："), QString::fromUtf8("确定"),
                                          QString::fromUtf8("取消")};
    QTest::newRow("en") << "en_US"
                        << QStringList{"Zandro Updater", "Checking for Updates...", "Description:",
                                       "OK", "Cancel"};
}

void TestTranslations::windowsShowTranslatedTexts()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, texts);

    installTranslations(QLocale(locale));
    DlgUpdateChecking checking(QStringLiteral("Update List"), nullptr);
    DlgDownload download(nullptr, nullptr);
    DlgMessage message(nullptr);
    QCOMPARE(checking.windowTitle(), texts[0]);
    QCOMPARE(download.windowTitle(), texts[0]);
    QCOMPARE(message.windowTitle(), texts[0]);
    QCOMPARE(textOf(&checking, "label"), texts[1]);
    QCOMPARE(textOf(&checking, "cancelButton"), texts[4]);
    QCOMPARE(textOf(&download, "descriptionLabel"), texts[2]);
    QCOMPARE(textOf(&download, "cancelButton"), texts[4]);
    auto *box = message.findChild<QDialogButtonBox *>("buttonBox");
    QCOMPARE(box->button(QDialogButtonBox::Ok)->text().remove('&'), texts[3]);
    QCOMPARE(box->button(QDialogButtonBox::Cancel)->text().remove('&').remove("(C)"), texts[4]);
}

void TestTranslations::longestTextsFit_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("de") << "de_DE";
    QTest::newRow("zh_CN") << "zh_CN";
    QTest::newRow("en") << "en_US";
}

// Each window filled with the longest text it shows in the language: the installation
// confirmation in the fixed 398 x 125 box, the question with its details, and the download
// window's time line for a 4 GiB package with a day and more to go.
void TestTranslations::longestTextsFit()
{
    QFETCH(QString, locale);
    installTranslations(QLocale(locale));

    DlgMessage confirm(nullptr);
    confirm.setInformation(QCoreApplication::translate(
        "DlgDownload", "Download completed. Please close Zandro Reader when you complete your "
                       "job, and click \"Install\"."));
    confirm.setOkButtonText(QCoreApplication::translate("DlgDownload", "Install"));

    DlgMessage question(nullptr);
    question.setInformation(
        QCoreApplication::translate("UpdaterApp", "A new version (%1) of Zandro Reader is "
                                                  "available. Do you want to download it?")
            .arg("11.12.1234.56789"));
    question.setDetails("Notes", DlgMessage::sizeInMegabytes("4294967296B"));

    DlgUpdateChecking checking(QStringLiteral("Update List"), nullptr);
    DlgDownload download(nullptr, nullptr);
    download.findChild<QLabel *>("timeRemainLabel")
        ->setText(QCoreApplication::translate("QHttpDownLoadS",
                                              "Time Remaining: %1 seconds ( %2/%3 MB)")
                      .arg("123456", "4095.99", "4096.00"));

    const QList<QWidget *> windows{&confirm, &question, &checking, &download};
    for (QWidget *window : windows) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY2(clipped(window).isEmpty(),
                 qPrintable(window->objectName() + ": " + clipped(window).join(", ")));
    }
    QCOMPARE(confirm.size(), QSize(398, 125));
    QCOMPARE(download.size(), QSize(604, 222));
}

ZANDRO_TEST_MAIN(TestTranslations)
#include "tst_translations.moc"
