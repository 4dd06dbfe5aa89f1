#include <QtTest>

#include <QLabel>
#include <QProgressBar>

#include <unistd.h>

#include "httpserver.h"
#include "qhttpdownloads.h"
#include "testenv.h"

class TestQHttpDownLoadS : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void setUrlAndFilePathChecksInput_data();
    void setUrlAndFilePathChecksInput();
    void startFailsWhenFileCannotBeOpened_data();
    void startFailsWhenFileCannotBeOpened();

    void wholeBodyIsAnnouncedOnce_data();
    void wholeBodyIsAnnouncedOnce();
    void bodyOfUnannouncedLengthIsComplete_data();
    void bodyOfUnannouncedLengthIsComplete();
    void progressTextBarAndLabel_data();
    void progressTextBarAndLabel();
    void directProgressReports_data();
    void directProgressReports();

    void failedTransferIsNotAnnounced_data();
    void failedTransferIsNotAnnounced();
    void redirectsAndHeaders();
    void silentServerIsAbandonedByWatchdog();
    void byteLimit_data();
    void byteLimit();
    void rateFloor_data();
    void rateFloor();

private:
    QString target(const QString &name) const;
    static QByteArray readFile(const QString &path);

    QTemporaryDir m_dir;
    NginxServer *m_nginx = nullptr;
    ScriptServer *m_script = nullptr;
};

namespace {
// How long a failing request may take to end on loopback.
const int EndTimeoutMs = 8000;
} // namespace

void TestQHttpDownLoadS::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_nginx = new NginxServer;
    m_nginx->addServerDirectives(QStringLiteral("location = /moved { return 301 /small.bin; }"));
    QVERIFY(m_nginx->addFile(QStringLiteral("empty.bin"), QByteArray()));
    QVERIFY(m_nginx->addFile(QStringLiteral("one.bin"), TestServers::patternBytes(1)));
    QVERIFY(m_nginx->addFile(QStringLiteral("small.bin"), TestServers::patternBytes(100000)));
    QVERIFY(m_nginx->addFile(QStringLiteral("sub dir/large.bin"),
                             TestServers::patternBytes(3 * 1024 * 1024 + 7)));
    QVERIFY2(m_nginx->start(), qPrintable(m_nginx->errorString()));
    m_script = new ScriptServer;
    QVERIFY2(m_script->start(), qPrintable(m_script->errorString()));
}

void TestQHttpDownLoadS::cleanupTestCase()
{
    delete m_script;
    delete m_nginx;
}

QString TestQHttpDownLoadS::target(const QString &name) const
{
    return m_dir.filePath(name);
}

QByteArray TestQHttpDownLoadS::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestQHttpDownLoadS::setUrlAndFilePathChecksInput_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("withPath");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("http with a path") << "http://127.0.0.1/a.bin" << true << true;
    QTest::newRow("host and a single slash") << "http://127.0.0.1/" << true << true;
    QTest::newRow("scheme written in capitals") << "HTTP://127.0.0.1/a.bin" << true << true;
    QTest::newRow("host only") << "http://127.0.0.1" << true << false;
    QTest::newRow("https") << "https://127.0.0.1/a.bin" << true << true;
    QTest::newRow("file") << "file:///etc/passwd" << true << false;
    QTest::newRow("ftp") << "ftp://127.0.0.1/a.bin" << true << false;
    QTest::newRow("no scheme") << "127.0.0.1/a.bin" << true << false;
    QTest::newRow("invalid url") << "http://[::1/a.bin" << true << false;
    QTest::newRow("empty url") << "" << true << false;
    QTest::newRow("empty file path") << "http://127.0.0.1/a.bin" << false << false;
}

void TestQHttpDownLoadS::setUrlAndFilePathChecksInput()
{
    QFETCH(QString, url);
    QFETCH(bool, withPath);
    QFETCH(bool, accepted);

    const QString path = target(QStringLiteral("existing.bin"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("left over from an earlier run");
    old.close();

    QHttpDownLoadS d;
    QCOMPARE(d.setUrlAndFilePath(QUrl(url), withPath ? path : QString()), accepted);
    if (accepted) {
        QCOMPARE(d.url, QUrl(url));
        QCOMPARE(d.filePath, path);
        QVERIFY(!QFile::exists(path));
    } else {
        QVERIFY(d.url.isEmpty());
        QVERIFY(d.filePath.isEmpty());
        QVERIFY(QFile::exists(path));
    }
    QFile::remove(path);
}

void TestQHttpDownLoadS::startFailsWhenFileCannotBeOpened_data()
{
    QTest::addColumn<QString>("filePath");
    QTest::newRow("folder does not exist") << target(QStringLiteral("missing/folder/a.bin"));
    QTest::newRow("path refused earlier, nothing stored") << QString();
}

void TestQHttpDownLoadS::startFailsWhenFileCannotBeOpened()
{
    QFETCH(QString, filePath);
    LogCapture log;
    const int before = m_nginx->requests().size();

    QHttpDownLoadS d;
    d.setUrlAndFilePath(m_nginx->url(QStringLiteral("/small.bin")), filePath);
    QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
    QVERIFY(!d.startDownLoads());
    QCOMPARE(log.count(QStringLiteral("Error:Cannot open file.")), 1);
    QVERIFY(d.reply == nullptr);
    QVERIFY(d.watchdog == nullptr);
    QTest::qWait(200);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(m_nginx->requests().size(), before);
}

void TestQHttpDownLoadS::wholeBodyIsAnnouncedOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("withCounter");
    QTest::addColumn<bool>("staleTarget");

    QTest::newRow("small, no counter") << "/small.bin" << 100000 << false << false;
    QTest::newRow("small, counter at 0") << "/small.bin" << 100000 << true << false;
    QTest::newRow("one byte, counter at 0") << "/one.bin" << 1 << true << false;
    QTest::newRow("empty body, no counter") << "/empty.bin" << 0 << false << false;
    QTest::newRow("large, encoded path, stale target")
        << "/sub%20dir/large.bin" << 3 * 1024 * 1024 + 7 << true << true;
}

void TestQHttpDownLoadS::wholeBodyIsAnnouncedOnce()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    QFETCH(bool, withCounter);
    QFETCH(bool, staleTarget);

    const QString file = target(QStringLiteral("whole.bin"));
    QFile::remove(file);
    if (staleTarget) {
        QFile stale(file);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(5000, 'z'));
    }
    const int before = m_nginx->requests().size();

    QProgressBar bar;
    QLabel label;
    qint64 counter = 0;
    QHttpDownLoadS d(nullptr, &bar, &label, withCounter ? &counter : nullptr);
    QVERIFY(d.setUrlAndFilePath(m_nginx->url(path), file));
    QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
    QVERIFY(d.startDownLoads());
    QVERIFY(finished.wait(EndTimeoutMs));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toString(), file);
    QCOMPARE(bar.value(), 100);
    QCOMPARE(readFile(file), TestServers::patternBytes(size));
    QCOMPARE(d.totalBytes, qint64(size));
    QCOMPARE(d.receivedBytes, qint64(size));
    if (withCounter)
        QCOMPARE(counter, qint64(size));
    if (size > 0)
        QVERIFY(label.text().endsWith(QStringLiteral(" MB)")));

    // What the server saw: the resume header only when a counter is given.
    QVERIFY(m_nginx->waitForRequests(before + 1));
    const NginxServer::Request seen = m_nginx->requests().last();
    QCOMPARE(seen.requestLine, QStringLiteral("GET %1 HTTP/1.1").arg(path));
    QCOMPARE(seen.range, withCounter ? QStringLiteral("bytes=0-") : QString());
    QCOMPARE(seen.status, withCounter ? 206 : 200);

    // Late or repeated end notifications change nothing.
    d.replyFinished();
    d.slotsHasHttpReponse();
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(bar.value(), 100);
}

void TestQHttpDownLoadS::bodyOfUnannouncedLengthIsComplete_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::newRow("chunked") << "/chunked/100000" << 100000;
    QTest::newRow("ended by closing the connection") << "/close/5000" << 5000;
}

void TestQHttpDownLoadS::bodyOfUnannouncedLengthIsComplete()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    LogCapture log;

    const QString file = target(QStringLiteral("unannounced.bin"));
    QProgressBar bar;
    QLabel label;
    QHttpDownLoadS d(nullptr, &bar, &label, nullptr);
    QVERIFY(d.setUrlAndFilePath(m_script->url(path), file));
    QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
    QVERIFY(d.startDownLoads());
    QVERIFY(finished.wait(EndTimeoutMs));

    QCOMPARE(finished.count(), 1);
    QCOMPARE(readFile(file), TestServers::patternBytes(size));
    QCOMPARE(bar.value(), 100);
    // No size was announced on the way; the toolkit's closing report gives the final count.
    QCOMPARE(log.count(QStringLiteral("Downloading ")), 1);
    QCOMPARE(log.count(QStringLiteral("\"%1 of %1 = 100%\"").arg(size)), 1);
    QVERIFY2(label.text().startsWith(QStringLiteral("Time Remaining: 0 seconds")),
             qPrintable(label.text()));
}

void TestQHttpDownLoadS::progressTextBarAndLabel_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("logText");
    QTest::addColumn<int>("barValue");
    QTest::addColumn<QString>("labelStart");
    QTest::addColumn<QString>("labelEnd");

    // The script server announces the total, waits, sends part of the body and then stalls. The
    // wait lets the toolkit, which reports progress at most every 100 ms, report the first bytes.
    QTest::newRow("half of a mebibyte")
        << "/stall/1048576/524288/200" << "\"524288 of 1048576 = 50%\"" << 50
        << "Time Remaining: " << " seconds ( 0.50/1.00 MB)";
    QTest::newRow("a third")
        << "/stall/3/1/200" << "\"1 of 3 = 33.3333%\"" << 33 << "Time Remaining: "
        << " seconds ( 0.00/0.00 MB)";
    QTest::newRow("estimate beyond 32 bits is capped")
        << "/stall/1099511627776/1/200" << "\"1 of 1099511627776 = 9.09495e-11%\"" << 0
        << "Time Remaining: 2147483647 seconds" << "( 0.00/1048576.00 MB)";
}

void TestQHttpDownLoadS::progressTextBarAndLabel()
{
    QFETCH(QString, path);
    QFETCH(QString, logText);
    QFETCH(int, barValue);
    QFETCH(QString, labelStart);
    QFETCH(QString, labelEnd);
    LogCapture log;

    const QString file = target(QStringLiteral("progress.bin"));
    QProgressBar bar;
    bar.setValue(7);
    QLabel label;
    qint64 counter = 0;
    {
        QHttpDownLoadS d(nullptr, &bar, &label, &counter);
        QVERIFY(d.setUrlAndFilePath(m_script->url(path), file));
        QVERIFY(d.startDownLoads());
        QTRY_VERIFY_WITH_TIMEOUT(log.count(logText) > 0, EndTimeoutMs);
        QCOMPARE(log.count(QStringLiteral("Downloading  \"progress.bin\" : ") + logText), 1);
        QCOMPARE(bar.value(), barValue);
        QVERIFY2(label.text().startsWith(labelStart), qPrintable(label.text()));
        QVERIFY2(label.text().endsWith(labelEnd), qPrintable(label.text()));
        // Deleted while the server still holds the request open.
    }
    QCOMPARE(counter, qint64(0));
}

void TestQHttpDownLoadS::directProgressReports_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("barValue");
    QTest::addColumn<QString>("labelText");
    QTest::addColumn<QString>("logText");

    // How the download window paints a package that needs no download.
    QTest::newRow("whole transfer at once")
        << qint64(5242880) << qint64(5242880) << 100
        << "Time Remaining: 0 seconds ( 5.00/5.00 MB)" << "5242880 of 5242880 = 100%";
    QTest::newRow("unknown total") << qint64(10) << qint64(-1) << 7 << "idle" << "";
    QTest::newRow("zero total") << qint64(0) << qint64(0) << 7 << "idle" << "";
    // Nothing counted yet gives no rate: the label keeps its text instead of dividing by zero.
    QTest::newRow("nothing counted yet")
        << qint64(0) << qint64(1000) << 0 << "idle" << "0 of 1000 = 0%";
}

void TestQHttpDownLoadS::directProgressReports()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, barValue);
    QFETCH(QString, labelText);
    QFETCH(QString, logText);
    LogCapture log;

    QProgressBar bar;
    bar.setValue(7);
    QLabel label(QStringLiteral("idle"));
    qint64 counter = 0;
    QHttpDownLoadS d(nullptr, &bar, &label, &counter);
    QVERIFY(d.setUrlAndFilePath(QUrl(QStringLiteral("http://127.0.0.1/pkg.bin")),
                                target(QStringLiteral("pkg.bin"))));
    d.downloadProgress(received, total);

    QCOMPARE(bar.value(), barValue);
    QCOMPARE(label.text(), labelText);
    QCOMPARE(log.count(QStringLiteral("Downloading ")), logText.isEmpty() ? 0 : 1);
    if (!logText.isEmpty())
        QCOMPARE(log.count(QStringLiteral("\"pkg.bin\" : \"%1\"").arg(logText)), 1);
}

void TestQHttpDownLoadS::failedTransferIsNotAnnounced_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("logText");
    QTest::addColumn<qint64>("counterAfter");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("stallMs");

    // counterAfter is the absolute byte count (-1: not checked); reason what the failure says.
    QTest::newRow("connection dropped mid-body")
        << "script" << "/drop/100000/40000" << "error:" << qint64(40000)
        << "ended short: 40000 of 100000 bytes" << 0;
    QTest::newRow("unreachable port")
        << "none" << "/a.bin" << "error: 1" << qint64(0) << "Connection refused" << 0;
    QTest::newRow("not found") << "nginx" << "/nothing-here.bin" << "error: 203" << qint64(-1)
                               << "the server answered 404 Not Found" << 0;
    QTest::newRow("server error") << "script" << "/status/500" << "error:" << qint64(-1)
                                  << "the server answered 500 Test" << 0;
    QTest::newRow("gzip body") << "script" << "/gzip/1000000" << "" << qint64(-1)
                               << "the server sent an encoded body (gzip)" << 0;
    QTest::newRow("six redirects") << "script" << "/redirect/6" << "" << qint64(-1)
                                   << "more than 5 redirects" << 0;
    QTest::newRow("redirect loop") << "script" << "/loop" << "" << qint64(-1)
                                   << "more than 5 redirects" << 0;
    QTest::newRow("stall after the headers")
        << "script" << "/stall/1000/0" << "" << qint64(-1) << "stalled for 2 s" << 2000;
    QTest::newRow("stall mid-body")
        << "script" << "/stall/3000/1000" << "" << qint64(-1) << "stalled for 2 s" << 2000;
}

void TestQHttpDownLoadS::failedTransferIsNotAnnounced()
{
    QFETCH(QString, server);
    QFETCH(QString, path);
    QFETCH(QString, logText);
    QFETCH(qint64, counterAfter);
    QFETCH(QString, reason);
    QFETCH(int, stallMs);
    LogCapture log;

    QUrl url;
    if (server == QLatin1String("nginx"))
        url = m_nginx->url(path);
    else if (server == QLatin1String("script"))
        url = m_script->url(path);
    else
        url = QUrl(QStringLiteral("http://127.0.0.1:%1%2")
                       .arg(TestServers::freeLoopbackPort())
                       .arg(path));

    const QString file = target(QStringLiteral("failed.bin"));
    QProgressBar bar;
    QLabel label(QStringLiteral("idle"));
    qint64 counter = 0;
    QHttpDownLoadS d(nullptr, &bar, &label, &counter);
    // The stall rows shorten the 30 s; the rule is the same.
    if (stallMs > 0)
        d.stallMs = stallMs;
    QVERIFY(d.setUrlAndFilePath(url, file));
    QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
    QSignalSpy failed(&d, &QHttpDownLoadS::downLoadFailed);
    QVERIFY(d.startDownLoads());
    QVERIFY(failed.wait(EndTimeoutMs));
    QTest::qWait(200);

    // Exactly one end signal, the failure, with its reason; nothing left on disk.
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 1);
    QVERIFY2(failed.at(0).at(0).toString().startsWith(reason),
             qPrintable(failed.at(0).at(0).toString()));
    QCOMPARE(d.failureReason, failed.at(0).at(0).toString());
    QVERIFY(!QFile::exists(file));
    QVERIFY(d.reply == nullptr);
    if (!logText.isEmpty())
        QVERIFY2(log.count(logText) > 0, qPrintable(log.lines().join(QLatin1Char('\n'))));
    if (counterAfter >= 0)
        QCOMPARE(counter, counterAfter);
    // An error page never drives the bar or the label.
    if (reason.startsWith(QLatin1String("the server answered"))) {
        QVERIFY(bar.value() < 100);
        QCOMPARE(label.text(), QStringLiteral("idle"));
    }
}

void TestQHttpDownLoadS::redirectsAndHeaders()
{
    // Up to five redirects are followed; every request asks for the body as it is and names
    // the updater.
    const auto fetch = [this](const QString &path) {
        const QString file = target(QStringLiteral("fetched.bin"));
        QHttpDownLoadS d;
        QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
        if (!d.setUrlAndFilePath(m_script->url(path), file) || !d.startDownLoads() ||
            !finished.wait(EndTimeoutMs))
            return QByteArray("<failed>");
        return readFile(file);
    };
    QCOMPARE(fetch(QStringLiteral("/redirect/5")), TestServers::patternBytes(1000));
    const QByteArray head = fetch(QStringLiteral("/headers")).toLower();
    QVERIFY2(head.contains("\r\naccept-encoding: identity"), head.constData());
    QVERIFY2(head.contains("\r\nuser-agent: zandroupdater/" UPDATER_VERSION), head.constData());
}

void TestQHttpDownLoadS::silentServerIsAbandonedByWatchdog()
{
    LogCapture log;
    ScriptServer silent(ScriptServer::Silent);
    QVERIFY2(silent.start(), qPrintable(silent.errorString()));

    // Three downloads side by side over the same ten seconds: a silent server, one that sent a
    // little and then stalls (slow, not dead), and one that completes at once.
    QProgressBar bar;
    bar.setValue(0);
    QLabel label(QStringLiteral("idle"));
    qint64 counter = 0;
    QHttpDownLoadS quiet(nullptr, &bar, &label, &counter);
    QVERIFY(quiet.setUrlAndFilePath(silent.url(QStringLiteral("/pkg.bin")),
                                    target(QStringLiteral("silent.bin"))));
    QSignalSpy quietFinished(&quiet, &QHttpDownLoadS::oneDownLoadFinish);
    QSignalSpy quietFailed(&quiet, &QHttpDownLoadS::downLoadFailed);

    QProgressBar slowBar;
    QHttpDownLoadS slow(nullptr, &slowBar, nullptr, nullptr);
    QVERIFY(slow.setUrlAndFilePath(m_script->url(QStringLiteral("/stall/1000/500/200")),
                                   target(QStringLiteral("slow.bin"))));
    QSignalSpy slowFinished(&slow, &QHttpDownLoadS::oneDownLoadFinish);

    QHttpDownLoadS quick;
    QVERIFY(quick.setUrlAndFilePath(m_nginx->url(QStringLiteral("/small.bin")),
                                    target(QStringLiteral("quick.bin"))));
    QSignalSpy quickFinished(&quick, &QHttpDownLoadS::oneDownLoadFinish);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(quiet.startDownLoads());
    QVERIFY(slow.startDownLoads());
    QVERIFY(quick.startDownLoads());
    QVERIFY(quickFinished.wait(EndTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT(quiet.reply == nullptr, QHttpDownLoadS::WatchdogMs + 3000);
    QVERIFY(clock.elapsed() >= QHttpDownLoadS::WatchdogMs);
    QTest::qWait(200);

    // The silent request fails: bar and label as they were, no file left.
    QCOMPARE(quietFinished.count(), 0);
    QCOMPARE(quietFailed.count(), 1);
    QCOMPARE(quietFailed.at(0).at(0).toString(), QStringLiteral("no answer within 10 s"));
    QVERIFY(!quiet.file->isOpen());
    QCOMPARE(bar.value(), 0);
    QCOMPARE(label.text(), QStringLiteral("idle"));
    QVERIFY(!QFile::exists(target(QStringLiteral("silent.bin"))));
    QCOMPARE(log.count(QStringLiteral("error:")), 0);

    // The stalled one is still waited for; the finished one had no watchdog left to fire.
    QVERIFY(slow.reply != nullptr);
    QCOMPARE(slowFinished.count(), 0);
    QCOMPARE(slowBar.value(), 50);
    QCOMPARE(quickFinished.count(), 1);
    QCOMPARE(log.count(QStringLiteral("slotsHasHttpReponse")), 2);
}

void TestQHttpDownLoadS::byteLimit_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QString>("reason");

    // offset: bytes already in the file, resumed with a Range header; reason: empty when the
    // transfer must complete, the whole failure reason otherwise.
    QTest::newRow("announced length past the limit")
        << "script" << "/endless/length/2147483648" << qint64(1000) << qint64(0)
        << "the server announced 2147483648 bytes, more than the limit of 1000";
    QTest::newRow("endless body ended by closing")
        << "script" << "/endless/close" << qint64(100000) << qint64(0)
        << "the server sent more than the limit of 100000 bytes";
    QTest::newRow("endless chunked body")
        << "script" << "/endless/chunked" << qint64(100000) << qint64(0)
        << "the server sent more than the limit of 100000 bytes";
    QTest::newRow("one byte past the limit, unannounced")
        << "script" << "/close/5001" << qint64(5000) << qint64(0)
        << "the server sent more than the limit of 5000 bytes";
    QTest::newRow("error page that never ends")
        << "script" << "/endless/status/500" << qint64(100000) << qint64(0)
        << "the server answered 500 Test";
    // The rest alone (60000 bytes) would fit; with what the file holds already it does not.
    QTest::newRow("resumed, offset and rest past the limit")
        << "nginx" << "/small.bin" << qint64(99999) << qint64(40000)
        << "the server announced 100000 bytes, more than the limit of 99999";
    QTest::newRow("announced, exactly the limit")
        << "nginx" << "/small.bin" << qint64(100000) << qint64(0) << "";
    QTest::newRow("chunked, exactly the limit")
        << "script" << "/chunked/100000" << qint64(100000) << qint64(0) << "";
    QTest::newRow("ended by closing, exactly the limit")
        << "script" << "/close/5000" << qint64(5000) << qint64(0) << "";
}

void TestQHttpDownLoadS::byteLimit()
{
    QFETCH(QString, server);
    QFETCH(QString, path);
    QFETCH(qint64, limit);
    QFETCH(qint64, offset);
    QFETCH(QString, reason);

    const QString file = target(QStringLiteral("limited.bin"));
    const QString watch = target(QStringLiteral("limited.watch"));
    QFile::remove(watch);
    qint64 counter = offset;
    QHttpDownLoadS d(nullptr, nullptr, nullptr, &counter);
    d.setMaxBytes(limit);
    const QUrl url = server == "nginx" ? m_nginx->url(path) : m_script->url(path);
    QVERIFY(d.setUrlAndFilePath(url, file));
    if (offset > 0)
        QVERIFY(TestEnv::writeFile(file, TestServers::patternBytes(offset)));
    QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
    QSignalSpy failed(&d, &QHttpDownLoadS::downLoadFailed);
    QVERIFY(d.startDownLoads());
    // A second name for the file keeps every byte written to it after the failure removes it.
    QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(watch).constData()), 0);
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() > 0, EndTimeoutMs);
    QTest::qWait(200);

    if (reason.isEmpty()) {
        QCOMPARE(failed.count(), 0);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(readFile(file), TestServers::patternBytes(limit));
        return;
    }
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), reason);
    QVERIFY(!QFile::exists(file));
    QVERIFY(d.reply == nullptr);
    const qint64 held = QFileInfo(watch).size();
    QVERIFY2(held <= limit, qPrintable(QString::number(held)));
    // A length announced too large is refused before any of the body is written.
    if (reason.startsWith(QLatin1String("the server announced")))
        QCOMPARE(held, offset);
}

void TestQHttpDownLoadS::rateFloor_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("windowMs");
    QTest::addColumn<QString>("reason");

    // Bytes keep coming, so the 30 s stall never fires: only the floor ends the slow drip,
    // which would otherwise take hours. reason is empty where the transfer must complete.
    QTest::newRow("one byte every 100 ms")
        << "/drip/100000/100" << 2000 << "slower than 1 KiB in 2 s";
    QTest::newRow("nothing after the headers")
        << "/stall/100000/0" << 2000 << "slower than 1 KiB in 2 s";
    QTest::newRow("1500 bytes every 200 ms, over four windows") << "/drip/30000/200/1500" << 1000
                                                                 << "";
    QTest::newRow("done at once") << "/close/5000" << 1000 << "";
}

void TestQHttpDownLoadS::rateFloor()
{
    QFETCH(QString, path);
    QFETCH(int, windowMs);
    QFETCH(QString, reason);

    const QString file = target(QStringLiteral("slow.bin"));
    QHttpDownLoadS d;
    d.rateWindowMs = windowMs;
    QVERIFY(d.setUrlAndFilePath(m_script->url(path), file));
    QSignalSpy finished(&d, &QHttpDownLoadS::oneDownLoadFinish);
    QSignalSpy failed(&d, &QHttpDownLoadS::downLoadFailed);
    QVERIFY(d.startDownLoads());
    // Generous against busy machines; without the floor the drip runs for hours.
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() > 0, 20000);
    // A finished transfer is never failed afterwards, however long the floor's window.
    QTest::qWait(2 * windowMs);

    if (reason.isEmpty()) {
        QCOMPARE(failed.count(), 0);
        QCOMPARE(finished.count(), 1);
        return;
    }
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), reason);
    QVERIFY(!QFile::exists(file));
}

ZANDRO_TEST_MAIN(TestQHttpDownLoadS)
#include "tst_qhttpdownloads.moc"
