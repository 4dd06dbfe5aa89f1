// Downloads one large file from nginx on loopback with QHttpDownLoadS and with curl, in turns,
// and prints the throughput of each, their ratio and the downloader's peak resident memory
// above that of the idle process. Targets: ratio at least 0.8, growth under 64 MiB.
//
// Usage: bench_downloader [MiB] [rounds]   (defaults: 500 MiB, 3 rounds; the best round counts)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

#include "httpserver.h"
#include "qhttpdownloads.h"
#include "testenv.h"

namespace {
const double RatioTarget = 0.8;
const qint64 GrowthTargetKiB = 64 * 1024;
const int TransferTimeoutMs = 300000;

// A "VmHWM"/"VmRSS" figure of this process from /proc, in KiB.
qint64 statusKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Writes the file in 1 MiB pieces so that making it does not raise the peak being measured.
bool makeFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray piece = TestServers::patternBytes(1024 * 1024);
    for (qint64 done = 0; done < bytes; done += piece.size()) {
        const qint64 n = qMin<qint64>(piece.size(), bytes - done);
        if (file.write(piece.constData(), n) != n)
            return false;
    }
    return true;
}

// Seconds taken by curl for the whole body, or -1 on failure.
double curlSeconds(const QUrl &url, const QString &out)
{
    QFile::remove(out);
    QElapsedTimer clock;
    clock.start();
    const int rc = QProcess::execute(QStringLiteral("curl"),
                                     {QStringLiteral("-s"), QStringLiteral("-f"),
                                      QStringLiteral("-o"), out, url.toString()});
    const double seconds = clock.nsecsElapsed() / 1e9;
    return rc == 0 ? seconds : -1.0;
}

// Seconds taken by the downloader, set up as the download window sets it up, or -1.
double downloaderSeconds(const QUrl &url, const QString &out, QProgressBar *bar, QLabel *label)
{
    qint64 counter = 0;
    QHttpDownLoadS downloader(nullptr, bar, label, &counter);
    if (!downloader.setUrlAndFilePath(url, out))
        return -1.0;
    QEventLoop loop;
    bool done = false;
    QObject::connect(&downloader, &QHttpDownLoadS::oneDownLoadFinish, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(TransferTimeoutMs, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    if (!downloader.startDownLoads())
        return -1.0;
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    return done ? seconds : -1.0;
}

void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
} // namespace

int main(int argc, char *argv[])
{
    TestEnv::isolate();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The downloader's progress lines are part of the work measured; only printing them is not.
    qInstallMessageHandler(quietHandler);

    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 500;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const qint64 bytes = mib * 1024 * 1024;

    QProgressBar bar;
    QLabel label;
    bar.show();
    label.show();
    app.processEvents();

    NginxServer nginx;
    const QString source = nginx.documentRoot() + QStringLiteral("/big.bin");
    if (!makeFile(source, bytes) || !nginx.start()) {
        std::fprintf(stderr, "setup failed: %s\n", qPrintable(nginx.errorString()));
        return 2;
    }
    const QUrl url = nginx.url(QStringLiteral("/big.bin"));
    const QString out = TestEnv::root() + QStringLiteral("/tmp/out.bin");

    // The idle process: application, widgets and server all set up, nothing downloaded yet.
    const qint64 idleKiB = statusKiB("VmHWM");

    double bestCurl = 0, bestOurs = 0;
    for (int round = 0; round < rounds; ++round) {
        const double c = curlSeconds(url, out);
        const double d = downloaderSeconds(url, out, &bar, &label);
        if (c <= 0 || d <= 0 || QFile(out).size() != bytes) {
            std::fprintf(stderr, "round %d failed (curl %.3f s, downloader %.3f s)\n", round, c, d);
            return 2;
        }
        std::printf("round %d: curl %.3f s, downloader %.3f s\n", round + 1, c, d);
        bestCurl = bestCurl == 0 ? c : qMin(bestCurl, c);
        bestOurs = bestOurs == 0 ? d : qMin(bestOurs, d);
    }
    QFile::remove(out);
    const qint64 peakKiB = statusKiB("VmHWM");

    const double curlRate = bytes / bestCurl / (1024.0 * 1024.0);
    const double ourRate = bytes / bestOurs / (1024.0 * 1024.0);
    const double ratio = ourRate / curlRate;
    const qint64 growthKiB = peakKiB - idleKiB;
    const bool ok = ratio >= RatioTarget && growthKiB < GrowthTargetKiB;
    std::printf("file: %lld MiB, best of %d rounds\n", mib, rounds);
    std::printf("curl:       %8.1f MiB/s\n", curlRate);
    std::printf("downloader: %8.1f MiB/s\n", ourRate);
    std::printf("ratio: %.2f (target >= %.2f)\n", ratio, RatioTarget);
    std::printf("peak RSS: idle %.1f MiB, during downloads %.1f MiB, growth %.1f MiB "
                "(target < %lld MiB)\n",
                idleKiB / 1024.0, peakKiB / 1024.0, growthKiB / 1024.0, GrowthTargetKiB / 1024);
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
