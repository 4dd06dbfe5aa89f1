// The three windows as built: object names, sizes, texts, flags, layout order, translation
// context, and the embedded images they use.
#include <QtTest>

#include <QDesktopWidget>
#include <QDialogButtonBox>
#include <QLayout>
#include <QMainWindow>
#include <QProgressBar>
#include <QResource>
#include <QTextEdit>
#include <QTranslator>

#include <memory>

#include "dlgdownload.h"
#include "dlgmessage.h"
#include "dlgupdatechecking.h"
#include "testenv.h"
#include "updatedefine.h"

namespace {
// Records every text looked up and hands it back unchanged.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        seen.insert(QString::fromLatin1(context) + QLatin1Char('|') + QString::fromUtf8(sourceText));
        return QString();
    }
    bool isEmpty() const override { return false; }
    mutable QSet<QString> seen;
};

std::unique_ptr<QWidget> makeWindow(const QString &which)
{
    if (which == "checking")
        return std::make_unique<DlgUpdateChecking>(QStringLiteral("Update List"), nullptr);
    if (which == "message")
        return std::make_unique<DlgMessage>(nullptr);
    return std::make_unique<DlgDownload>(nullptr, nullptr);
}

// The names of a layout's items in order; spacers read as "spacer".
QStringList itemNames(QLayout *layout)
{
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->spacerItem())
            names << "spacer";
        else if (item->widget())
            names << item->widget()->objectName();
        else if (item->layout())
            names << item->layout()->objectName();
    }
    return names;
}

// Header of an .ico file: (size, bits per pixel) of every image it holds.
QList<QPair<int, int>> icoEntries(const QByteArray &data)
{
    QList<QPair<int, int>> entries;
    if (data.size() < 6)
        return entries;
    const int count = uchar(data[4]) | (uchar(data[5]) << 8);
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= data.size(); ++i) {
        const char *e = data.constData() + 6 + 16 * i;
        const int size = uchar(e[0]) == 0 ? 256 : uchar(e[0]);
        entries.append({size, uchar(e[6]) | (uchar(e[7]) << 8)});
    }
    return entries;
}
} // namespace

class TestDlgForms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void properties_data();
    void properties();
    void windowFlags_data();
    void windowFlags();
    void layoutOrder_data();
    void layoutOrder();
    void layoutSpacingAndMargins();
    void spacers_data();
    void spacers();
    void sizesAndIcon_data();
    void sizesAndIcon();
    void textsUseClassContext_data();
    void textsUseClassContext();
    void images_data();
    void images();
    void iconFileHoldsFifteenImages();
    void centredOnDesktop();
};

void TestDlgForms::initTestCase()
{
    Q_INIT_RESOURCE(res);
}

void TestDlgForms::properties_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("checking title") << "checking" << "DlgUpdateChecking" << "windowTitle"
                                    << QVariant("Zandro Updater");
    QTest::newRow("checking label") << "checking" << "label" << "text"
                                    << QVariant("Checking for Updates...");
    QTest::newRow("checking bar value") << "checking" << "progressBar" << "value" << QVariant(0);
    QTest::newRow("checking bar text hidden") << "checking" << "progressBar" << "textVisible"
                                              << QVariant(false);
    QTest::newRow("checking cancel") << "checking" << "cancelButton" << "text" << QVariant("Cancel");

    QTest::newRow("message title") << "message" << "DlgMessage" << "windowTitle"
                                   << QVariant("Zandro Updater");
    QTest::newRow("message label text") << "message" << "label" << "text" << QVariant("Tips");
    QTest::newRow("message label wraps") << "message" << "label" << "wordWrap" << QVariant(true);
    QTest::newRow("message label minimum") << "message" << "label" << "minimumSize"
                                           << QVariant(QSize(380, 75));
    QTest::newRow("message buttons")
        << "message" << "buttonBox" << "standardButtons"
        << QVariant::fromValue(QDialogButtonBox::StandardButtons(QDialogButtonBox::Ok |
                                                                 QDialogButtonBox::Cancel));

    QTest::newRow("download title") << "download" << "DlgDownload" << "windowTitle"
                                    << QVariant("Zandro Updater");
    QTest::newRow("download design text")
        << "download" << "timeRemainLabel" << "text"
        << QVariant("Time Remaining: 31 seconds ( 0.16/1.56 MB)");
    QTest::newRow("download bar value") << "download" << "progressBar" << "value" << QVariant(0);
    QTest::newRow("download bar text hidden") << "download" << "progressBar" << "textVisible"
                                              << QVariant(false);
    QTest::newRow("download description label") << "download" << "descriptionLabel" << "text"
                                                << QVariant("Description:");
    QTest::newRow("download description read-only") << "download" << "descriptionEdit"
                                                    << "readOnly" << QVariant(true);
    QTest::newRow("download cancel spelled right") << "download" << "cancelButton" << "text"
                                                   << QVariant("Cancel");
    QTest::newRow("download hidden") << "download" << "DlgDownload" << "visible" << QVariant(false);
}

void TestDlgForms::properties()
{
    QFETCH(QString, window);
    QFETCH(QString, object);
    QFETCH(QString, property);
    QFETCH(QVariant, expected);

    std::unique_ptr<QWidget> w = makeWindow(window);
    QObject *target = w->objectName() == object ? w.get() : w->findChild<QObject *>(object);
    QVERIFY2(target, qPrintable(object));
    const QVariant actual = target->property(property.toLatin1().constData());
    QVERIFY(actual.isValid());
    if (property == "standardButtons")
        QCOMPARE(int(actual.value<QDialogButtonBox::StandardButtons>()),
                 int(expected.value<QDialogButtonBox::StandardButtons>()));
    else
        QCOMPARE(actual, expected);
}

void TestDlgForms::windowFlags_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("flag");
    QTest::addColumn<bool>("set");

    QTest::newRow("message close") << "message" << int(Qt::WindowCloseButtonHint) << true;
    QTest::newRow("message no minimise") << "message" << int(Qt::WindowMinimizeButtonHint) << false;
    QTest::newRow("message no maximise") << "message" << int(Qt::WindowMaximizeButtonHint) << false;
    QTest::newRow("message no help") << "message" << int(Qt::WindowContextHelpButtonHint) << false;
    QTest::newRow("download close") << "download" << int(Qt::WindowCloseButtonHint) << true;
    QTest::newRow("download minimise") << "download" << int(Qt::WindowMinimizeButtonHint) << true;
    QTest::newRow("download no maximise") << "download" << int(Qt::WindowMaximizeButtonHint)
                                          << false;
}

void TestDlgForms::windowFlags()
{
    QFETCH(QString, window);
    QFETCH(int, flag);
    QFETCH(bool, set);

    std::unique_ptr<QWidget> w = makeWindow(window);
    QVERIFY(w->isWindow());
    QCOMPARE(bool(w->windowFlags() & Qt::WindowFlags(flag)), set);
}

void TestDlgForms::layoutOrder_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("checking column") << "checking" << "verticalLayout"
                                     << QStringList{"label", "progressBar", "horizontalLayout"};
    QTest::newRow("checking buttons") << "checking" << "horizontalLayout"
                                      << QStringList{"spacer", "cancelButton"};
    QTest::newRow("message column") << "message" << "verticalLayout"
                                    << QStringList{"label", "horizontalLayout"};
    QTest::newRow("message buttons") << "message" << "horizontalLayout"
                                     << QStringList{"spacer", "buttonBox"};
    QTest::newRow("download column")
        << "download" << "verticalLayout"
        << QStringList{"timeRemainLabel", "progressBar", "descriptionLabel", "descriptionEdit",
                       "horizontalLayout"};
    QTest::newRow("download buttons") << "download" << "horizontalLayout"
                                      << QStringList{"spacer", "cancelButton"};
}

void TestDlgForms::layoutOrder()
{
    QFETCH(QString, window);
    QFETCH(QString, layout);
    QFETCH(QStringList, items);

    std::unique_ptr<QWidget> w = makeWindow(window);
    QLayout *l = w->findChild<QLayout *>(layout);
    QVERIFY2(l, qPrintable(layout));
    QCOMPARE(itemNames(l), items);
    if (window == "download") {
        QWidget *central = w->findChild<QWidget *>("centralwidget");
        QVERIFY(central);
        QCOMPARE(static_cast<QMainWindow *>(w.get())->centralWidget(), central);
        if (layout == "verticalLayout")
            QCOMPARE(central->layout(), l);
    } else if (layout == "verticalLayout") {
        QCOMPARE(w->layout(), l);
    }
}

void TestDlgForms::layoutSpacingAndMargins()
{
    DlgUpdateChecking dialog(QStringLiteral("Update List"), nullptr);
    QLayout *column = dialog.findChild<QLayout *>("verticalLayout");
    QLayout *row = dialog.findChild<QLayout *>("horizontalLayout");
    QVERIFY(column && row);
    QCOMPARE(column->spacing(), 6);
    QCOMPARE(column->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(row->spacing(), 6);
}

void TestDlgForms::spacers_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("checking") << "checking";
    QTest::newRow("message") << "message";
    QTest::newRow("download") << "download";
}

void TestDlgForms::spacers()
{
    QFETCH(QString, window);
    std::unique_ptr<QWidget> w = makeWindow(window);
    QLayout *row = w->findChild<QLayout *>("horizontalLayout");
    QVERIFY(row);
    QSpacerItem *spacer = row->itemAt(0)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(40, 20));
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
}

void TestDlgForms::sizesAndIcon_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("fixed");

    QTest::newRow("checking") << "checking" << QSize(400, 91) << false;
    QTest::newRow("message") << "message" << QSize(398, 125) << true;
    QTest::newRow("download") << "download" << QSize(604, 222) << true;
}

void TestDlgForms::sizesAndIcon()
{
    QFETCH(QString, window);
    QFETCH(QSize, size);
    QFETCH(bool, fixed);

    std::unique_ptr<QWidget> w = makeWindow(window);
    QCOMPARE(w->size(), size);
    QCOMPARE(w->minimumSize() == size && w->maximumSize() == size, fixed);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The checking dialog may grow to what its layout needs; the fixed windows may not.
    if (fixed)
        QCOMPARE(w->size(), size);
    const QIcon icon = w->windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(128, 128).size(), QSize(128, 128));
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(128, 128)});
}

void TestDlgForms::textsUseClassContext_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QStringList>("lookups");

    QTest::newRow("checking") << "checking"
                              << QStringList{"DlgUpdateChecking|Zandro Updater",
                                             "DlgUpdateChecking|Checking for Updates...",
                                             "DlgUpdateChecking|Cancel"};
    QTest::newRow("message") << "message"
                             << QStringList{"DlgMessage|Zandro Updater", "DlgMessage|Tips"};
    QTest::newRow("download") << "download"
                              << QStringList{"DlgDownload|MainWindow", "DlgDownload|Zandro Updater",
                                             "DlgDownload|Description:", "DlgDownload|Cancel"};
}

void TestDlgForms::textsUseClassContext()
{
    QFETCH(QString, window);
    QFETCH(QStringList, lookups);

    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    std::unique_ptr<QWidget> w = makeWindow(window);
    QCoreApplication::removeTranslator(&translator);
    for (const QString &lookup : lookups)
        QVERIFY2(translator.seen.contains(lookup), qPrintable(lookup));
}

void TestDlgForms::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("compression");

    for (int s : {16, 20, 24, 32, 48, 64, 128, 256})
        QTest::addRow("icon %d", s) << QString(":/res/ZandroReaderUpgrade-%1x%1.png").arg(s)
                                    << QSize(s, s) << int(QResource::NoCompression);
    QTest::newRow("information symbol") << ":/res/tana_32.png" << QSize(32, 32)
                                        << int(QResource::NoCompression);
    QTest::newRow("banner") << ":/res/updatebaner_de_de.bmp" << QSize(677, 51)
                            << int(QResource::ZlibCompression);
    QTest::newRow("icon file") << ":/res/ZandroReaderUpgrade.ico" << QSize() << int(QResource::ZlibCompression);
}

void TestDlgForms::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(int, compression);

    QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(path));
    QCOMPARE(int(resource.compressionAlgorithm()), compression);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    if (!size.isValid())
        return;
    QImage image;
    QVERIFY(image.loadFromData(data));
    QCOMPARE(image.size(), size);
    if (path.endsWith(".png")) {
        // IHDR: bit depth 8, colour type 6 (RGBA).
        QCOMPARE(int(uchar(data[24])), 8);
        QCOMPARE(int(uchar(data[25])), 6);
        QVERIFY(image.hasAlphaChannel());
    } else {
        QCOMPARE(data.left(2), QByteArray("BM"));
        QCOMPARE(int(uchar(data[28])), 24);
    }
}

void TestDlgForms::iconFileHoldsFifteenImages()
{
    QFile file(":/res/ZandroReaderUpgrade.ico");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QPair<int, int>> expected;
    for (int size : {16, 24, 32, 48, 128})
        for (int bpp : {8, 24, 32})
            expected.append({size, bpp});
    QList<QPair<int, int>> actual = icoEntries(file.readAll());
    std::sort(actual.begin(), actual.end());
    QCOMPARE(actual, expected);
}

void TestDlgForms::centredOnDesktop()
{
    DlgMessage dialog(nullptr);
    Comm::moveToDesktopCentre(&dialog);
    const QRect desktop = QApplication::desktop()->geometry();
    QCOMPARE(dialog.pos(), QPoint((desktop.width() - 398) / 2, (desktop.height() - 125) / 2));
}

ZANDRO_TEST_MAIN(TestDlgForms)
#include "tst_dlgforms.moc"
