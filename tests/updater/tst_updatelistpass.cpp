// A whole "Update List" pass of the controller: the checking dialog against a loopback
// catalogue, the message or question by mode, and the hand-over to the download window.
#include <QtTest>

#include <functional>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QProcess>
#include <QSettings>
#include <QTextEdit>

#include "catalogueserver.h"
#include "commandline.h"
#include "creadermodulemanager.h"
#include "dlgdownload.h"
#include "dlgmessage.h"
#include "dlgupdatechecking.h"
#include "testenv.h"
#include "updaterapp.h"
#include "updatelistener.h"

namespace {
enum class Answer {
    Ok,
    Cancel,
    CloseWindow,
    CancelCheck, // Cancel in the checking dialog, before any message
};

void storeParam(const QString &param)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Zandro Software",
                       "Zandro Reader");
    settings.setValue("Quillet_UpdateParam", param);
    settings.sync();
}

// Answers the pass's modal windows as they appear and remembers what they showed.
class ModalDriver : public QObject
{
public:
    explicit ModalDriver(Answer answer) : m_answer(answer)
    {
        connect(&m_poll, &QTimer::timeout, this, &ModalDriver::poll);
        m_poll.start(10);
        m_clock.start();
    }

    QStringList messages;
    // The check is cancelled only once this holds (the request has reached the server, say), so
    // that a slow run does not cancel before anything was sent.
    std::function<bool()> readyToCancel = [] { return true; };
    // Set when a window was still open after the time a pass may take; it was then closed.
    bool stuck = false;
    QList<QStringList> buttons;

private:
    void poll()
    {
        if (m_clock.elapsed() > 15000) {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible()) {
                    stuck = true;
                    dialog->reject();
                }
            }
            return;
        }
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->property("answered").toBool())
                continue;
            if (auto *checking = qobject_cast<DlgUpdateChecking *>(w)) {
                if (m_answer == Answer::CancelCheck && readyToCancel()) {
                    w->setProperty("answered", true);
                    QTest::mouseClick(checking->findChild<QPushButton *>("cancelButton"),
                                      Qt::LeftButton);
                }
            } else if (auto *message = qobject_cast<DlgMessage *>(w)) {
                w->setProperty("answered", true);
                answer(message);
            }
        }
    }

    void answer(DlgMessage *message)
    {
        messages << message->findChild<QLabel *>("label")->text();
        auto *box = message->findChild<QDialogButtonBox *>("buttonBox");
        QStringList names;
        for (QAbstractButton *b : box->buttons())
            names << (box->standardButton(b) == QDialogButtonBox::Ok ? "OK" : "Cancel");
        names.sort();
        buttons << names;
        if (m_answer == Answer::CloseWindow)
            message->close();
        else if (m_answer == Answer::Cancel && box->button(QDialogButtonBox::Cancel))
            QTest::mouseClick(box->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        else
            QTest::mouseClick(box->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }

    Answer m_answer;
    QTimer m_poll;
    QElapsedTimer m_clock;
};
} // namespace

Q_DECLARE_METATYPE(Answer)

class TestUpdateListPass : public QObject
{
    Q_OBJECT
private slots:
    void pass_data();
    void pass();
    void destroysInOrder();
    void binaryEndsWhenNothingIsOffered();
};

void TestUpdateListPass::pass_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("offered");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<int>("handedOver"); // -1: the download window is never given a list
    QTest::addColumn<bool>("skipEventLoop");

    const QString upToDate = "Zandro Reader is already up to date.";
    const QString question =
        "A new version (2.0.0.1) of Zandro Reader is available. Do you want to download it?";
    const QStringList okOnly{"OK"};
    const QStringList okCancel{"Cancel", "OK"};

    QTest::newRow("interactive, nothing offered")
        << "Manual" << 0 << Answer::Ok << upToDate << okOnly << -1 << true;
    QTest::newRow("interactive, nothing offered, closed")
        << "Manual" << 0 << Answer::CloseWindow << upToDate << okOnly << -1 << true;
    QTest::newRow("interactive, two offered, OK")
        << "Manual" << 2 << Answer::Ok << question << okCancel << 2 << false;
    QTest::newRow("interactive, two offered, Cancel")
        << "Manual" << 2 << Answer::Cancel << question << okCancel << -1 << true;
    QTest::newRow("interactive, two offered, closed")
        << "Manual" << 2 << Answer::CloseWindow << question << okCancel << -1 << true;
    QTest::newRow("interactive, check cancelled")
        << "Manual" << 2 << Answer::CancelCheck << QString() << QStringList() << -1 << true;
    QTest::newRow("automatic, nothing offered")
        << "Auto" << 0 << Answer::Ok << QString() << QStringList() << 0 << true;
    QTest::newRow("automatic, two offered")
        << "Auto" << 2 << Answer::Ok << QString() << QStringList() << 2 << false;
    QTest::newRow("no mode, two offered")
        << "" << 2 << Answer::Ok << QString() << QStringList() << 2 << false;
    QTest::newRow("automatic, check cancelled")
        << "Auto" << 2 << Answer::CancelCheck << QString() << QStringList() << -1 << true;
}

void TestUpdateListPass::pass()
{
    QFETCH(QString, mode);
    QFETCH(int, offered);
    QFETCH(Answer, answer);
    QFETCH(QString, message);
    QFETCH(QStringList, buttons);
    QFETCH(int, handedOver);
    QFETCH(bool, skipEventLoop);

    // The check must stay open long enough to be cancelled, so that server never completes.
    CatalogueServer server(answer == Answer::CancelCheck ? CatalogueServer::Stalled
                                                         : CatalogueServer::Complete);
    QList<QPair<QString, QString>> modules{{"Reader", "2.0.0.1"}, {"Stamps", "3.1"}};
    server.setBody(CatalogueServer::replyOffering(modules.mid(0, offered)));
    QVERIFY(server.start());
    qputenv("ZANDRO_CATALOGUE_HOST", server.hostAndPort().toLatin1());
    QString param = R"(type:"Update List",product:"Reader",version:"1.0.0.0")";
    if (!mode.isEmpty())
        param += QString(R"(,updater:"%1")").arg(mode);
    storeParam(param);

    UpdaterApp app(nullptr);
    // A list the pass must replace, so that "never handed over" can be told from "empty list".
    MODULEINFO sentinel;
    app.downloadWindow->setSelectUpdates({&sentinel});
    ModalDriver driver(answer);
    driver.readyToCancel = [&server] { return !server.requests().isEmpty(); };
    app.runUpdate();
    QVERIFY2(!driver.stuck, "a window of the pass did not close");

    QCOMPARE(server.requests().size(), 1);
    QVERIFY(app.moduleManager);
    QCOMPARE(app.moduleManager->groupName, QString("Update List"));
    QCOMPARE(driver.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(driver.buttons, buttons.isEmpty() ? QList<QStringList>() : QList<QStringList>{buttons});
    if (handedOver < 0) {
        QCOMPARE(app.downloadWindow->selectedUpdates, QVector<MODULEINFO *>{&sentinel});
    } else {
        // A copy of the manager's own records, in catalogue order.
        QCOMPARE(app.downloadWindow->selectedUpdates, app.moduleManager->offeredModules);
        QCOMPARE(app.downloadWindow->selectedUpdates.size(), handedOver);
        if (handedOver > 0)
            QCOMPARE(app.downloadWindow->findChild<QTextEdit *>("descriptionEdit")->toPlainText(),
                     QString("About Reader"));
    }
    QCOMPARE(app.downloadWindow->isVisible(), !skipEventLoop);
    QCOMPARE(app.skipEventLoop, skipEventLoop);
    // The checking dialog and the messages live for the pass only.
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<DlgUpdateChecking *>(w) && !qobject_cast<DlgMessage *>(w));
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

void TestUpdateListPass::destroysInOrder()
{
    CatalogueServer server(CatalogueServer::Complete);
    server.setBody(CatalogueServer::replyOffering({}));
    QVERIFY(server.start());
    qputenv("ZANDRO_CATALOGUE_HOST", server.hostAndPort().toLatin1());
    storeParam(R"(type:"Update List",updater:"Auto")");

    auto *app = new UpdaterApp(nullptr);
    app->runUpdate();
    QVERIFY(app->moduleManager);
    QStringList order;
    const QList<QPair<QObject *, QString>> parts{
        {app->commandLine, QString("parameter table")},
        {app->moduleManager, QString("catalogue manager")},
        {app->downloadWindow, QString("download window")},
        {app->listener, QString("listener")}};
    for (const auto &part : parts)
        connect(part.first, &QObject::destroyed, this, [&order, part] { order << part.second; });
    delete app;
    QCOMPARE(order, QStringList({"parameter table", "catalogue manager", "download window",
                                 "listener"}));
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

void TestUpdateListPass::binaryEndsWhenNothingIsOffered()
{
    CatalogueServer server(CatalogueServer::Complete);
    server.setBody(CatalogueServer::replyOffering({}));
    QVERIFY(server.start());
    storeParam(R"(type:"Update List",updater:"Auto")");

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZANDRO_CATALOGUE_HOST", server.hostAndPort());
    process.setProcessEnvironment(env); // carries the isolated TMPDIR and XDG_CONFIG_HOME
    process.start(QStringLiteral(UPDATER_BINARY), QStringList());
    QVERIFY(process.waitForStarted());
    // The server lives in this process's event loop, so the wait must keep serving it.
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 30000);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(server.requests().size(), 1);
}

ZANDRO_TEST_MAIN(TestUpdateListPass)
#include "tst_updatelistpass.moc"
