// The windows at scale factors 1 and 2 on a real X server. Each scale runs in a child process
// of this test (the factor is fixed when the application starts), which shows every window,
// prints the geometry of each widget and the labels and buttons whose text does not fit, and
// saves a screenshot. The layouts must be the same, the screenshots twice as large, the text
// twice as many device pixels high, and nothing clipped.
#include <QtTest>

#include <QAbstractButton>
#include <QLabel>
#include <QProcess>

#include <memory>

#include "dlgdownload.h"
#include "dlgmessage.h"
#include "dlgupdatechecking.h"
#include "startupdisplay.h"
#include "startupfont.h"
#include "testenv.h"
#include "xvfbserver.h"

namespace {
const char kChildFlag[] = "--render-windows";

std::unique_ptr<QWidget> makeWindow(const QString &which)
{
    if (which == "checking")
        return std::make_unique<DlgUpdateChecking>(QStringLiteral("Update List"), nullptr);
    if (which == "download") {
        auto download = std::make_unique<DlgDownload>(nullptr, nullptr);
        download->findChild<QLabel *>("timeRemainLabel")
            ->setText("Time Remaining: 123456 seconds ( 4095.99/4096.00 MB)");
        return download;
    }
    auto message = std::make_unique<DlgMessage>(nullptr);
    message->setInformation("A new version (9.2.0.1) of Zandro Reader is available. Do you want "
                            "to download it?");
    if (which == "question")
        message->setDetails("Faster page rendering, a new comment panel and fixes for printing "
                            "on network printers.",
                            DlgMessage::sizeInMegabytes("48213504B"));
    return message;
}

bool fits(QWidget *w)
{
    auto *label = qobject_cast<QLabel *>(w);
    if (label && label->wordWrap())
        return label->heightForWidth(label->width()) <= label->height();
    return w->sizeHint().width() <= w->width() && w->sizeHint().height() <= w->height();
}

// The child: shows each window and prints what the parent compares, one fact per line.
int renderWindows(int argc, char *argv[])
{
    const QString out = QString::fromLocal8Bit(argv[2]);
    enableHighDpiScaling();
    QApplication app(argc, argv);
    QApplication::setFont(startupFontForIssue(QString()));
    QTextStream print(stdout);
    for (const QString name : {"checking", "message", "question", "download"}) {
        std::unique_ptr<QWidget> window = makeWindow(name);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return 2;
        QTest::qWait(50);
        print << name << " window " << window->width() << 'x' << window->height() << '\n';
        for (QWidget *w : window->findChildren<QWidget *>()) {
            if (!w->isVisible() || w->objectName().startsWith("qt_"))
                continue;
            const QRect r(w->mapTo(window.get(), QPoint(0, 0)), w->size());
            print << name << ' ' << w->metaObject()->className() << ' ' << w->objectName() << ' '
                  << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height() << '\n';
            if ((qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) && !fits(w))
                print << "clipped " << name << ' ' << w->objectName() << '\n';
        }
        const QImage shot = window->grab().toImage();
        print << "shot " << name << ' ' << shot.width() << 'x' << shot.height() << '\n';
        shot.save(out + '/' + name + ".png");
        const QFont font = window->font();
        print << "text " << name << ' '
              << qRound(QFontMetricsF(font).height() * window->devicePixelRatioF()) << '\n';
    }
    return 0;
}

// The child's lines that start with the word, without it.
QStringList linesStarting(const QStringList &lines, const QString &word)
{
    QStringList found;
    for (const QString &line : lines) {
        if (line.startsWith(word + ' '))
            found << line.mid(word.size() + 1);
    }
    return found;
}

QSize sizeOf(const QString &text)
{
    const QStringList parts = text.split('x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}
} // namespace

class TestHighDpi : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sameLayoutTwiceTheSize_data();
    void sameLayoutTwiceTheSize();

private:
    // Runs the child on the display with the extra environment; returns its lines.
    QStringList render(const QStringList &environment, const QString &folder);
    std::unique_ptr<XvfbServer> m_server;
};

void TestHighDpi::initTestCase()
{
    m_server = std::make_unique<XvfbServer>("1600x1200x24");
    if (m_server->name().isEmpty())
        QSKIP("Xvfb could not be started");
}

QStringList TestHighDpi::render(const QStringList &environment, const QString &folder)
{
    QDir().mkpath(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "QT_FONT_DPI",
                             "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR"})
        env.remove(name);
    env.insert("DISPLAY", QString::fromLatin1(m_server->name()));
    env.insert("QT_XCB_GL_INTEGRATION", "none");
    for (const QString &entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {kChildFlag, folder});
    if (!child.waitForFinished(60000) || child.exitCode() != 0) {
        qWarning() << child.readAllStandardError();
        return {};
    }
    return QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

void TestHighDpi::sameLayoutTwiceTheSize_data()
{
    QTest::addColumn<QStringList>("environment");
    // The font DPI of a high-resolution desktop, and the toolkit's own factor.
    QTest::newRow("font DPI 192") << QStringList{"QT_FONT_DPI=192"};
    QTest::newRow("scale factor 2") << QStringList{"QT_SCALE_FACTOR=2"};
}

void TestHighDpi::sameLayoutTwiceTheSize()
{
    QFETCH(QStringList, environment);

    const QString base = TestEnv::root() + "/highdpi/" + QTest::currentDataTag();
    const QStringList one = render({"QT_FONT_DPI=96"}, base + "/x1");
    const QStringList two = render(environment, base + "/x2");
    QVERIFY(!one.isEmpty() && !two.isEmpty());

    QCOMPARE(linesStarting(one, "clipped"), QStringList());
    QCOMPARE(linesStarting(two, "clipped"), QStringList());
    // Geometry in device-independent pixels: the layout does not change with the scale.
    QStringList layoutOne = one;
    QStringList layoutTwo = two;
    for (const QString word : {"shot", "text"}) {
        layoutOne = layoutOne.filter(QRegularExpression("^(?!" + word + " )"));
        layoutTwo = layoutTwo.filter(QRegularExpression("^(?!" + word + " )"));
    }
    QVERIFY(layoutOne.size() > 20);
    QCOMPARE(layoutTwo, layoutOne);
    QVERIFY(layoutOne.contains("message window 398x125"));

    const QStringList shotsOne = linesStarting(one, "shot");
    const QStringList shotsTwo = linesStarting(two, "shot");
    QCOMPARE(shotsOne.size(), 4);
    QCOMPARE(shotsTwo.size(), 4);
    for (int i = 0; i < shotsOne.size(); ++i) {
        const QString window = shotsOne[i].section(' ', 0, 0);
        const QSize sizeOne = sizeOf(shotsOne[i].section(' ', 1));
        QCOMPARE(sizeOf(shotsTwo[i].section(' ', 1)), sizeOne * 2);
        QCOMPARE(QImage(base + "/x2/" + window + ".png").size(), sizeOne * 2);
    }
    // The text grows with the windows: twice as many device pixels high.
    const QStringList textOne = linesStarting(one, "text");
    const QStringList textTwo = linesStarting(two, "text");
    QCOMPARE(textTwo.size(), textOne.size());
    for (int i = 0; i < textOne.size(); ++i)
        QCOMPARE(textTwo[i].section(' ', 1).toInt(), 2 * textOne[i].section(' ', 1).toInt());
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(res);
    if (argc == 3 && qstrcmp(argv[1], kChildFlag) == 0)
        return renderWindows(argc, argv);
    TestEnv::isolate();
    QApplication app(argc, argv);
    TestHighDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highdpi.moc"
