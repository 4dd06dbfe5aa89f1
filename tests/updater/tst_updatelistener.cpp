#include <QtTest>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "testenv.h"
#include "updatelistener.h"

class TestUpdateListener : public QObject
{
    Q_OBJECT
private slots:
    void answersEveryClientWithPresenceText_data();
    void answersEveryClientWithPresenceText();
    void listensOnLoopbackOnly();
    void secondListenerFailsQuietly();
    void notListeningBeforeStart();
    void probesAreCountedNotLoggedEachTime();

private:
    // Connects, optionally sends bytes, and returns all bytes read until the server hangs up.
    static QByteArray probe(const QByteArray &send, bool *closed);
};

QByteArray TestUpdateListener::probe(const QByteArray &send, bool *closed)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, UpdateListener::Port);
    QByteArray received;
    if (!client.waitForConnected(5000))
        return received;
    if (!send.isEmpty())
        client.write(send);
    QSignalSpy disconnected(&client, &QTcpSocket::disconnected);
    QElapsedTimer timer;
    timer.start();
    while (client.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        received += client.readAll();
    }
    received += client.readAll();
    *closed = client.state() != QAbstractSocket::ConnectedState;
    return received;
}

void TestUpdateListener::answersEveryClientWithPresenceText_data()
{
    QTest::addColumn<QByteArray>("send");
    QTest::newRow("silent client") << QByteArray();
    QTest::newRow("client sends a request") << QByteArray("GET / HTTP/1.0\r\n\r\n");
    QTest::newRow("client sends a lot") << QByteArray(100000, 'x');
}

void TestUpdateListener::answersEveryClientWithPresenceText()
{
    QFETCH(QByteArray, send);
    UpdateListener listener;
    listener.startListener();
    QVERIFY(listener.tcpServer->isListening());

    for (int round = 0; round < 2; ++round) {
        bool closed = false;
        const QByteArray got = probe(send, &closed);
        QCOMPARE(got, QByteArray("UpdaterRuning"));
        QCOMPARE(got.size(), 13);
        QVERIFY(closed);
        QVERIFY(listener.clientSocket == nullptr);
    }
}

void TestUpdateListener::listensOnLoopbackOnly()
{
    UpdateListener listener;
    listener.startListener();
    QCOMPARE(listener.tcpServer->serverAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(listener.tcpServer->serverPort(), quint16(8999));
}

void TestUpdateListener::secondListenerFailsQuietly()
{
    UpdateListener first;
    first.startListener();
    QVERIFY(first.tcpServer->isListening());

    UpdateListener second;
    second.startListener();
    QVERIFY(!second.tcpServer->isListening());

    bool closed = false;
    QCOMPARE(probe(QByteArray(), &closed), QByteArray("UpdaterRuning"));
}

void TestUpdateListener::notListeningBeforeStart()
{
    UpdateListener listener;
    QVERIFY(!listener.tcpServer->isListening());
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, UpdateListener::Port);
    QVERIFY(!client.waitForConnected(2000));
}

void TestUpdateListener::probesAreCountedNotLoggedEachTime()
{
    const QString first = "UpdateListener newLocalConnection()";
    const QString summary = "presence probes answered since the last line: ";
    LogCapture log;
    {
        UpdateListener listener;
        listener.startListener();
        bool closed = false;
        // Far fewer than a minute's worth even on a busy machine: one line for all of them.
        for (int i = 0; i < 40; ++i)
            QCOMPARE(probe(QByteArray(), &closed), QByteArray("UpdaterRuning"));
        QCOMPARE(log.lines(), QStringList{first});
        // Once the interval has passed, the next probe brings the count of all since the first.
        listener.reportIntervalMs = 0;
        QCOMPARE(probe(QByteArray(), &closed), QByteArray("UpdaterRuning"));
        QCOMPARE(log.lines(), (QStringList{first, summary + "40"}));
        listener.reportIntervalMs = UpdateListener::ReportIntervalMs;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(probe(QByteArray(), &closed), QByteArray("UpdaterRuning"));
        QCOMPARE(log.lines().size(), 2);
    }
    // The listener's end tells the rest.
    QCOMPARE(log.lines(), (QStringList{first, summary + "40", summary + "3"}));
    QCOMPARE(UpdateListener::ReportIntervalMs, 60000);
}

ZANDRO_TEST_MAIN(TestUpdateListener)
#include "tst_updatelistener.moc"
