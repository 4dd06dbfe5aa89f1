#include "qhttpdownloads.h"

#include <climits>

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProgressBar>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QTimer>

#include "updatedefine.h"

namespace {
const char SchemeHttp[] = "http";
const char SchemeHttps[] = "https";
const char RangeHeader[] = "Range";
const char RangeValue[] = "bytes=%1-";
const char ProgressText[] = "%1 of %2 = %3%";
// Without a bound the toolkit's network thread reads the whole body into memory ahead of us
// when the disk is slower than the network; this keeps at most this much in flight.
const qint64 ReadBufferBytes = 256 * 1024;
// The rate is checked this many times per window, each time over the window that just ended.
const int RateChecksPerWindow = 6;

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1024.0 / 1024.0, 'f', 2);
}

// The extra authorities named by ZANDRO_EXTRA_CA_FILE, read once per process.
const QList<QSslCertificate> &extraAuthorities()
{
    static const QList<QSslCertificate> authorities = [] {
        const QString path = QFile::decodeName(qgetenv(QHttpDownLoadS::ExtraCaEnv));
        if (path.isEmpty())
            return QList<QSslCertificate>();
        const QList<QSslCertificate> read = QSslCertificate::fromPath(path, QSsl::Pem);
        if (read.isEmpty())
            qWarning().noquote() << "no certificate authority read from" << path << "- ignored";
        return read;
    }();
    return authorities;
}

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString statusText(const QNetworkReply *reply)
{
    const QString phrase =
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
    const QString code = QString::number(httpStatus(reply));
    return QStringLiteral("the server answered %1")
        .arg(phrase.isEmpty() ? code : code + QLatin1Char(' ') + phrase);
}
} // namespace

bool QHttpDownLoadS::isSupportedScheme(const QUrl &address)
{
    const QString scheme = address.scheme();
    return scheme == QLatin1String(SchemeHttp) || scheme == QLatin1String(SchemeHttps);
}

QByteArray QHttpDownLoadS::userAgent()
{
    return QByteArrayLiteral("ZandroUpdater/" UPDATER_VERSION);
}

QHttpDownLoadS::QHttpDownLoadS(QObject *parent, QProgressBar *bar, QLabel *label, qint64 *counter)
    : QObject(parent), manager(nullptr), reply(nullptr), file(nullptr), progressBar(bar),
      timeLabel(label), totalBytes(0), receivedBytes(0), startTime(0), resumeCounter(counter),
      watchdog(nullptr), sawActivity(false), writeFailed(false), stallMs(StallMs),
      stallTimer(nullptr), maxBytes(0), writtenBytes(0), arrivedBytes(0),
      rateWindowMs(RateWindowMs), rateTimer(nullptr), ended(false)
{
    manager = new QNetworkAccessManager(this);
}

QHttpDownLoadS::~QHttpDownLoadS()
{
    // A request still in flight goes with its manager; it must not call back while it dies.
    const bool cut = reply && !ended;
    if (reply)
        disconnect(reply, nullptr, this, nullptr);
    delete manager;
    closeFile();
    // A transfer dropped half way (the window closed) leaves nothing behind either.
    if (cut && !filePath.isEmpty())
        QFile::remove(filePath);
    delete file;
    delete watchdog;
    delete stallTimer;
    delete rateTimer;
}

bool QHttpDownLoadS::setUrlAndFilePath(const QUrl &newUrl, const QString &newFilePath)
{
    if (!newUrl.isValid())
        return false;
    if (!isSupportedScheme(newUrl))
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

void QHttpDownLoadS::setMaxBytes(qint64 bytes)
{
    maxBytes = qMax<qint64>(0, bytes);
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
    writtenBytes = 0;
    arrivedBytes = 0;
    ended = false;
    failureReason.clear();
    tlsErrors.clear();
    file = new QFile;
    // Never through a link: in a shared folder another user could have planted one here.
    const bool resuming = resumeCounter && *resumeCounter > 0;
    if (filePath.isEmpty() || !Comm::openNewFile(*file, filePath, resuming, &failureReason)) {
        qDebug() << "Error:Cannot open file." << Qt::endl;
        if (failureReason.isEmpty())
            failureReason = QStringLiteral("no file to write to");
        return false;
    }
    if (resumeCounter)
        file->seek(*resumeCounter);

    QNetworkRequest request(url);
    if (resumeCounter)
        request.setRawHeader(RangeHeader,
                             QString::fromLatin1(RangeValue).arg(*resumeCounter).toLatin1());
    // Asked for nothing else, the toolkit would ask for gzip and inflate whatever came back: a
    // small compressed body could then fill the disk or the memory.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    // Servers and content networks move files about; a secure transfer never continues in clear.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    if (!extraAuthorities().isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extraAuthorities());
        request.setSslConfiguration(tls);
    }

    reply = manager->get(request);
    reply->setReadBufferSize(ReadBufferBytes);
    startTime = QDateTime::currentMSecsSinceEpoch();

    connect(reply, &QNetworkReply::readyRead, this, &QHttpDownLoadS::readyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &QHttpDownLoadS::downloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &QHttpDownLoadS::slotError);
    connect(reply, &QNetworkReply::finished, this, &QHttpDownLoadS::replyFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this, &QHttpDownLoadS::checkResponseHead);
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        QStringList texts;
        for (const QSslError &error : errors)
            texts.append(error.errorString());
        tlsErrors = texts.join(QLatin1String("; "));
    });

    // A coarse timer may fire up to 5% early; a silent server gets its full ten seconds.
    const auto restart = [this](QTimer *&timer, void (QHttpDownLoadS::*onTimeout)(), int ms) {
        delete timer;
        timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, onTimeout);
        timer->start(ms);
    };
    restart(watchdog, &QHttpDownLoadS::slotsHasHttpReponse, WatchdogMs);
    restart(stallTimer, &QHttpDownLoadS::stalled, stallMs);
    delete rateTimer;
    rateTimer = new QTimer(this);
    connect(rateTimer, &QTimer::timeout, this, &QHttpDownLoadS::checkRate);
    rateMarks = {0};
    rateTimer->start(qMax(1, rateWindowMs / RateChecksPerWindow));
    return true;
}

void QHttpDownLoadS::noteActivity()
{
    sawActivity = true;
    if (stallTimer && reply)
        stallTimer->start(stallMs);
}

qint64 QHttpDownLoadS::resumeOffset() const
{
    return resumeCounter ? qMax<qint64>(0, *resumeCounter) : 0;
}

bool QHttpDownLoadS::statusIsSuccess() const
{
    const int status = httpStatus(reply);
    return status >= 200 && status <= 299;
}

void QHttpDownLoadS::checkResponseHead()
{
    if (!reply || ended)
        return;
    noteActivity();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    // A redirect the toolkit is about to follow is not the answer yet.
    if (status.toInt() >= 300 && status.toInt() <= 399 &&
        reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid())
        return;
    // An error status ends the transfer when the toolkit reports the error, which keeps its
    // own account of it in the log; until then the error page is read and dropped.
    if (!statusIsSuccess())
        return;
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        fail(QStringLiteral("the server sent an encoded body (%1)")
                 .arg(QString::fromLatin1(encoding)));
        return;
    }
    // A length that is too large is refused before the first byte of the body is written.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 announced = length.isValid() ? length.toLongLong() : -1;
    if (maxBytes > 0 && announced >= 0 && resumeOffset() + announced > maxBytes)
        fail(QStringLiteral("the server announced %1 bytes, more than the limit of %2")
                 .arg(resumeOffset() + announced)
                 .arg(maxBytes));
}

void QHttpDownLoadS::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    // An error page is no part of the download: it never moves the bar or the label.
    if (reply && (ended || !statusIsSuccess()))
        return;
    if (reply)
        noteActivity();
    else
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
    timeLabel->setText(
        tr("Time Remaining: %1 seconds ( %2/%3 MB)")
            .arg(QString::number(secondsLeft), megabytes(receivedBytes), megabytes(totalBytes)));
}

void QHttpDownLoadS::slotError(QNetworkReply::NetworkError errorCode)
{
    qDebug() << "error:" << int(errorCode);
    closeFile();
}

void QHttpDownLoadS::readyRead()
{
    if (!reply || ended)
        return;
    noteActivity();
    if (!statusIsSuccess()) {
        // Error bodies are read and dropped; the end handling names the status. One longer than
        // the file could have been is not waited for.
        arrivedBytes += reply->readAll().size();
        if (maxBytes > 0 && arrivedBytes > maxBytes)
            fail(statusText(reply));
        return;
    }
    if (file && file->isOpen()) {
        const QByteArray chunk = reply->readAll();
        arrivedBytes += chunk.size();
        // A body of unannounced length is cut here, before any byte past the limit is written.
        if (maxBytes > 0 && resumeOffset() + writtenBytes + chunk.size() > maxBytes) {
            fail(QStringLiteral("the server sent more than the limit of %1 bytes").arg(maxBytes));
            return;
        }
        if (file->write(chunk) != chunk.size()) {
            abandonUnwritable();
            return;
        }
        writtenBytes += chunk.size();
    }
}

void QHttpDownLoadS::replyFinished()
{
    if (!reply || ended)
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

    const QString failure = finishedFailure(reply);
    if (resumeCounter)
        *resumeCounter = receivedBytes;
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    releaseReply();
    // The request is over: timers firing later would have nothing to watch.
    stopTimers();
    ended = true;
    // A body of unannounced length never moved the bar; it is complete all the same.
    if (progressBar)
        progressBar->setValue(100);
    emit oneDownLoadFinish(filePath);
}

QString QHttpDownLoadS::finishedFailure(QNetworkReply *finished) const
{
    const QNetworkReply::NetworkError error = finished->error();
    const QVariant status = finished->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (error == QNetworkReply::TooManyRedirectsError)
        return QStringLiteral("more than %1 redirects").arg(MaxRedirects);
    if (error == QNetworkReply::InsecureRedirectError)
        return QStringLiteral("refused a redirect from https to http");
    if (status.isValid() && !statusIsSuccess())
        return statusText(finished);
    const bool isShort = totalBytes > 0 && receivedBytes != totalBytes;
    const QString shortText =
        QStringLiteral("ended short: %1 of %2 bytes").arg(receivedBytes).arg(totalBytes);
    if (error == QNetworkReply::SslHandshakeFailedError && !tlsErrors.isEmpty())
        return QStringLiteral("TLS: %1").arg(tlsErrors);
    if (error != QNetworkReply::NoError) {
        const QString text = finished->errorString();
        return isShort ? shortText + QStringLiteral(" (%1)").arg(text) : text;
    }
    if (!status.isValid())
        return QStringLiteral("no HTTP answer");
    if (isShort)
        return shortText;
    return QString();
}

void QHttpDownLoadS::slotsHasHttpReponse()
{
    qDebug() << "slotsHasHttpReponse" << Qt::endl;
    if (watchdog)
        watchdog->stop();
    if (sawActivity || !reply || ended)
        return;
    fail(QStringLiteral("no answer within %1 s").arg(WatchdogMs / 1000));
}

void QHttpDownLoadS::stalled()
{
    if (!reply || ended)
        return;
    fail(QStringLiteral("stalled for %1 s").arg(stallMs / 1000));
}

void QHttpDownLoadS::checkRate()
{
    if (!reply || ended)
        return;
    // The first and last of RateChecksPerWindow + 1 marks are one window apart.
    rateMarks.append(arrivedBytes);
    if (rateMarks.size() > RateChecksPerWindow + 1)
        rateMarks.removeFirst();
    if (rateMarks.size() == RateChecksPerWindow + 1 &&
        rateMarks.last() - rateMarks.first() < RateFloorBytes)
        fail(QStringLiteral("slower than %1 KiB in %2 s")
                 .arg(RateFloorBytes / 1024)
                 .arg(rateWindowMs / 1000));
}

void QHttpDownLoadS::fail(const QString &reason)
{
    if (ended)
        return;
    ended = true;
    failureReason = reason;
    if (reply) {
        QNetworkReply *unwanted = reply;
        releaseReply();
        // Aborted from the event loop: this may run inside one of the reply's own signals.
        QMetaObject::invokeMethod(unwanted, &QNetworkReply::abort, Qt::QueuedConnection);
    }
    stopTimers();
    // What arrived is not the file that was asked for: removed, it can never be taken for a
    // finished download by a later pass.
    closeFile();
    if (file && !filePath.isEmpty())
        QFile::remove(filePath);
    emit downLoadFailed(reason);
}

void QHttpDownLoadS::abandonUnwritable()
{
    qDebug() << "Error:Cannot write file." << filePath << file->errorString() << Qt::endl;
    writeFailed = true;
    const QString reason = QStringLiteral("cannot write %1: %2").arg(filePath, file->errorString());
    receivedBytes = 0;
    if (resumeCounter)
        *resumeCounter = 0;
    fail(reason);
}

void QHttpDownLoadS::releaseReply()
{
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    reply = nullptr;
}

void QHttpDownLoadS::stopTimers()
{
    if (watchdog)
        watchdog->stop();
    if (stallTimer)
        stallTimer->stop();
    if (rateTimer)
        rateTimer->stop();
}

void QHttpDownLoadS::closeFile()
{
    if (file && file->isOpen())
        file->close();
}
