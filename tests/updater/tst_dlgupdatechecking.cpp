// The checking dialog run modally around a real catalogue query against a loopback server.
#include <QtTest>

#include <QProgressBar>
#include <QPushButton>

#include "catalogueserver.h"
#include "creadermodulemanager.h"
#include "dlgupdatechecking.h"
#include "testenv.h"
#include "updaterapp.h"

namespace {
enum class UserAction {
    None,              // the dialog is left alone
    CancelAtOnce,       // Cancel while the query is still in flight
    EscapeAtOnce,       // Escape while the query is still in flight
    EndShortThenCancel, // part of the reply is in, the query reports its end, then Cancel
};
} // namespace

Q_DECLARE_METATYPE(CatalogueServer::Delivery)
Q_DECLARE_METATYPE(UserAction)

class TestDlgUpdateChecking : public QObject
{
    Q_OBJECT
private slots:
    void query_data();
    void query();
    void withoutManagerNothingStarts();
};

void TestDlgUpdateChecking::query_data()
{
    QTest::addColumn<CatalogueServer::Delivery>("delivery");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<UserAction>("action");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("timeoutLines");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QByteArray>("body"); // empty: a catalogue offering one module
    QTest::addColumn<QString>("failure"); // the start of failureReason

    const int failed = DlgUpdateChecking::CheckFailed;
    QTest::newRow("full reply closes with success")
        << CatalogueServer::Complete << 0 << UserAction::None << 1 << 0 << true << QByteArray()
        << QString();
    QTest::newRow("reply that never completes times out as a failure")
        << CatalogueServer::Stalled << 300 << UserAction::None << failed << 1 << false
        << QByteArray() << "no answer within 60 s";
    // No shortened time-out: the failure itself must end the dialog, long before 60 s.
    QTest::newRow("failed request ends the check at once")
        << CatalogueServer::Hangup << 0 << UserAction::None << failed << 0 << false
        << QByteArray() << "";
    QTest::newRow("a captive portal's page is no catalogue")
        << CatalogueServer::Complete << 0 << UserAction::None << failed << 0 << false
        << QByteArray("<!DOCTYPE html>\n<html><head><meta charset=utf-8><title>Log in</title>"
                      "</head><body><p>Wi-Fi</body></html>")
        << "the answer is not an update list";
    QTest::newRow("a well-formed XHTML page is no catalogue")
        << CatalogueServer::Complete << 0 << UserAction::None << failed << 0 << false
        << QByteArray("<HTML xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Log in</p></body></HTML>")
        << "the answer is not an update list (a web page)";
    QTest::newRow("text that is not XML is no catalogue")
        << CatalogueServer::Complete << 0 << UserAction::None << failed << 0 << false
        << QByteArray("Service temporarily unavailable") << "the answer is not an update list";
    QTest::newRow("end below 100 stays open until Cancel")
        << CatalogueServer::Stalled << 0 << UserAction::EndShortThenCancel << 0 << 0 << true
        << QByteArray() << QString();
    QTest::newRow("Cancel during the query")
        << CatalogueServer::Stalled << 0 << UserAction::CancelAtOnce << 0 << 0 << false
        << QByteArray() << QString();
    QTest::newRow("Escape during the query leaves it undecided")
        << CatalogueServer::Stalled << 0 << UserAction::EscapeAtOnce << -1 << 0 << false
        << QByteArray() << QString();
}

void TestDlgUpdateChecking::query()
{
    QFETCH(CatalogueServer::Delivery, delivery);
    QFETCH(int, timeoutMs);
    QFETCH(UserAction, action);
    QFETCH(int, result);
    QFETCH(int, timeoutLines);
    QFETCH(bool, finished);
    QFETCH(QByteArray, body);
    QFETCH(QString, failure);

    CatalogueServer server(delivery);
    server.setBody(body.isEmpty() ? CatalogueServer::replyOffering({{"Reader", "2.0.0.1"}}) : body);
    QVERIFY(server.start());
    qputenv("ZANDRO_CATALOGUE_HOST", server.hostAndPort().toLatin1());

    UpdaterApp app(nullptr);
    CReaderModuleManager manager(QStringLiteral("Update List"), &app, nullptr);
    QSignalSpy ended(&manager, &CReaderModuleManager::sQueryModuleInfoFinish);
    DlgUpdateChecking dialog(QStringLiteral("Update List"), nullptr);
    QPushButton *cancel = dialog.findChild<QPushButton *>("cancelButton");
    QVERIFY(cancel);

    LogCapture log;
    dialog.setModuleManager(&manager);
    dialog.startUpdateCheck();
    QVERIFY(dialog.timeoutTimer);
    QCOMPARE(dialog.timeoutTimer->interval(), 60000);
    if (timeoutMs > 0)
        dialog.startTimer(timeoutMs);

    bool stayedOpen = false;
    bool endSent = false;
    if (action == UserAction::CancelAtOnce) {
        connect(&server, &CatalogueServer::requested, cancel,
                [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); });
    } else if (action == UserAction::EscapeAtOnce) {
        connect(&server, &CatalogueServer::requested, &dialog,
                [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    } else if (action == UserAction::EndShortThenCancel) {
        // Half the reply has moved the bar to about 50 when the query's end arrives, as the
        // downloader's end notice would deliver it.
        QProgressBar *bar = dialog.findChild<QProgressBar *>("progressBar");
        connect(
            bar, &QProgressBar::valueChanged, &manager,
            [&manager, &endSent](int value) {
                if (value > 0 && value < 100 && !endSent) {
                    endSent = true;
                    emit manager.sQueryModuleInfoFinish();
                }
            },
            Qt::QueuedConnection);
        connect(&manager, &CReaderModuleManager::sQueryModuleInfoFinish, cancel,
                [&] {
                    // The query has ended short of 100: no time-out is left, the window stays.
                    stayedOpen = dialog.isVisible() && dialog.timeoutTimer == nullptr &&
                                 dialog.checkResult == -1;
                    QTest::mouseClick(cancel, Qt::LeftButton);
                },
                Qt::QueuedConnection);
    }
    bool guardFired = false;
    QTimer::singleShot(8000, &dialog, [&] {
        guardFired = true;
        dialog.reject();
    });

    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY2(!guardFired, "the dialog did not close by itself");
    QCOMPARE(dialog.checkResult, result);
    QVERIFY(!dialog.isVisible());
    // Escape closes the window only; its timer goes with the dialog.
    QCOMPARE(dialog.timeoutTimer == nullptr, action != UserAction::EscapeAtOnce);
    QCOMPARE(log.count("Update Time out"), timeoutLines);
    QCOMPARE(ended.count() > 0, finished);
    if (action == UserAction::EndShortThenCancel)
        QVERIFY(stayedOpen);
    QVERIFY(server.requests().value(0).startsWith(
        "/addons/get_addons.php/get_addons.php?addon=Update%20List&"));
    if (result == 1)
        QCOMPARE(dialog.findChild<QProgressBar *>("progressBar")->value(), 100);
    if (result == DlgUpdateChecking::CheckFailed)
        QVERIFY2(!dialog.failureReason.isEmpty() && dialog.failureReason.startsWith(failure),
                 qPrintable(dialog.failureReason));
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

void TestDlgUpdateChecking::withoutManagerNothingStarts()
{
    DlgUpdateChecking dialog(QStringLiteral("Update List"), nullptr);
    QCOMPARE(dialog.checkResult, -1);
    dialog.startUpdateCheck();
    QVERIFY(dialog.timeoutTimer == nullptr);
    QCOMPARE(dialog.checkResult, -1);
}

ZANDRO_TEST_MAIN(TestDlgUpdateChecking)
#include "tst_dlgupdatechecking.moc"
