#include "qhttpdownloads.h"

#include <climits>

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QTimer>

namespace {
const char SchemeHttp[] = "http";
const char RangeHeader[] = "Range";
const char RangeValue[] = "bytes=%1-";
const char ProgressText[] = "%1 of %2 = %3%";
const char TimeRemainingText[] = "Time Remaining: %1 seconds ( %2/%3 MB)";
// Without a bound the toolkit's network thread reads the whole body into memory ahead of us
// when the disk is slower than the network; this keeps at most this much in flight.
const qint64 ReadBufferBytes = 256 * 1024;

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1024.0 / 1024.0, 'f', 2);
}
} // namespace

QHttpDownLoadS::QHttpDownLoadS(QObject *parent, QProgressBar *bar, QLabel *label,
                               qint64 *counter)
    : QObject(parent),
      manager(nullptr),
      reply(nullptr),
      file(nullptr),
      progressBar(bar),
      timeLabel(label),
      totalBytes(0),
      receivedBytes(0),
      startTime(0),
      resumeCounter(counter),
      watchdog(nullptr),
      sawActivity(false),
      writeFailed(false)
{
    manager = new QNetworkAccessManager(this);
}

QHttpDownLoadS::~QHttpDownLoadS()
{
    // A request still in flight goes with its manager; it must not call back while it dies.
    if (reply)
        disconnect(reply, nullptr, this, nullptr);
    delete manager;
    closeFile();
    delete file;
    delete watchdog;
}

bool QHttpDownLoadS::setUrlAndFilePath(const QUrl &newUrl, const QString &newFilePath)
{
    if (!newUrl.isValid())
        return false;
    if (newUrl.scheme() != QLatin1String(SchemeHttp))
        return false;
    if (newUrl.path(QUrl::FullyDecoded).isEmpty())
        return false;
    if (newFilePath.isEmpty())
        return false;

    url = newUrl;
    filePath = newFilePath;
    if (QFile::exists(filePath))
        QFile::remove(filePath);
    return true;
}

bool QHttpDownLoadS::startDownLoads()
{
    if (reply) {
        // A second start abandons the first request rather than leaving it writing to our file.
        QNetworkReply *previous = reply;
        releaseReply();
        previous->abort();
    }
    if (file) {
        closeFile();
        delete file;
        file = nullptr;
    }

    writeFailed = false;
    file = new QFile(filePath);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        qDebug() << "Error:Cannot open file." << Qt::endl;
        return false;
    }
    if (resumeCounter)
        file->seek(*resumeCounter);

    QNetworkRequest request(url);
    if (resumeCounter)
        request.setRawHeader(RangeHeader,
                             QString::fromLatin1(RangeValue).arg(*resumeCounter).toLatin1());

    reply = manager->get(request);
    reply->setReadBufferSize(ReadBufferBytes);
    startTime = QDateTime::currentMSecsSinceEpoch();

    connect(reply, &QNetworkReply::readyRead, this, &QHttpDownLoadS::readyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &QHttpDownLoadS::downloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &QHttpDownLoadS::slotError);
    connect(reply, &QNetworkReply::finished, this, &QHttpDownLoadS::replyFinished);

    delete watchdog;
    watchdog = new QTimer(this);
    watchdog->setSingleShot(true);
    // A coarse timer may fire up to 5% early; a silent server gets its full ten seconds.
    watchdog->setTimerType(Qt::PreciseTimer);
    connect(watchdog, &QTimer::timeout, this, &QHttpDownLoadS::slotsHasHttpReponse);
    watchdog->start(WatchdogMs);
    return true;
}

void QHttpDownLoadS::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    sawActivity = true;
    if (bytesTotal <= 0)
        return;
    if (totalBytes == 0)
        totalBytes = bytesTotal;
    receivedBytes = bytesReceived + (resumeCounter ? *resumeCounter : 0);

    const double percent = double(receivedBytes) / double(totalBytes) * 100.0;
    const QString progress = QString::fromLatin1(ProgressText)
                                 .arg(QString::number(receivedBytes), QString::number(totalBytes),
                                      QString::number(percent, 'g', 6));
    const QString fileName = filePath.mid(filePath.lastIndexOf(QLatin1Char('/')) + 1);
    qDebug() << "Downloading " << fileName << ":" << progress;

    // Integer arithmetic keeps the truncation exact where a float quotient would round below.
    if (progressBar) {
        const qint64 percentDone = receivedBytes * 100 / totalBytes;
        progressBar->setValue(int(qBound<qint64>(INT_MIN, percentDone, INT_MAX)));
    }
    if (timeLabel)
        updateTimeLabel();
}

void QHttpDownLoadS::updateTimeLabel()
{
    const qint64 remaining = totalBytes - receivedBytes;
    const double elapsedSeconds = double(QDateTime::currentMSecsSinceEpoch() - startTime) / 1000.0;
    int secondsLeft = 0;
    if (remaining > 0) {
        // Until some bytes have been counted over some time there is no rate to estimate from:
        // the label keeps what it showed rather than a figure made up from a division by zero.
        if (receivedBytes <= 0 || elapsedSeconds <= 0.0)
            return;
        const double rate = double(receivedBytes) / elapsedSeconds;
        const double seconds = double(remaining) / rate;
        secondsLeft = seconds >= double(INT_MAX) ? INT_MAX : int(seconds);
    }
    timeLabel->setText(QString::fromLatin1(TimeRemainingText)
                           .arg(QString::number(secondsLeft), megabytes(receivedBytes),
                                megabytes(totalBytes)));
}

void QHttpDownLoadS::slotError(QNetworkReply::NetworkError errorCode)
{
    qDebug() << "error:" << int(errorCode);
    closeFile();
}

void QHttpDownLoadS::readyRead()
{
    sawActivity = true;
    if (reply && file && file->isOpen()) {
        const QByteArray chunk = reply->readAll();
        if (file->write(chunk) != chunk.size())
            abandonUnwritable();
    }
}

void QHttpDownLoadS::replyFinished()
{
    if (!reply)
        return;
    sawActivity = true;
    // Whatever arrived with the end notification itself still belongs to the body.
    if (reply->bytesAvailable() > 0)
        readyRead();
    // The last buffered bytes reach the disk only now; a full disk may refuse them here.
    if (reply && file && file->isOpen() && !file->flush())
        abandonUnwritable();
    if (!reply)
        return;
    closeFile();

    const bool networkOk = reply->error() == QNetworkReply::NoError;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    releaseReply();
    // The request is over: a watchdog firing later would have nothing to watch.
    if (watchdog)
        watchdog->stop();

    if (resumeCounter)
        *resumeCounter = receivedBytes;
    if (networkOk && status >= 200 && status <= 299 && receivedBytes == totalBytes) {
        // A body of unannounced length never moved the bar; it is complete all the same.
        if (progressBar)
            progressBar->setValue(100);
        emit oneDownLoadFinish(filePath);
    }
}

void QHttpDownLoadS::slotsHasHttpReponse()
{
    qDebug() << "slotsHasHttpReponse" << Qt::endl;
    if (watchdog)
        watchdog->stop();
    if (sawActivity || !reply)
        return;

    // Nothing at all came back: abandon the request without announcing anything.
    QNetworkReply *silent = reply;
    releaseReply();
    silent->abort();
    closeFile();
    if (resumeCounter)
        *resumeCounter = receivedBytes;
}

void QHttpDownLoadS::abandonUnwritable()
{
    qDebug() << "Error:Cannot write file." << filePath << file->errorString() << Qt::endl;
    writeFailed = true;
    QNetworkReply *unwanted = reply;
    releaseReply();
    unwanted->abort();
    if (watchdog)
        watchdog->stop();
    // What the disk took is not the package: removed, it frees the space and cannot be taken
    // for a finished download by anyone.
    closeFile();
    file->remove();
    receivedBytes = 0;
    if (resumeCounter)
        *resumeCounter = 0;
}

void QHttpDownLoadS::releaseReply()
{
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    reply = nullptr;
}

void QHttpDownLoadS::closeFile()
{
    if (file && file->isOpen())
        file->close();
}
