// One-file HTTP downloader: a single GET whose body is appended to a local file as it arrives,
// so memory holds one chunk at a time whatever the file size. It can drive a progress bar and a
// time-remaining label, resumes from a byte counter owned by the caller (sent as a "Range"
// header), gives up on a server that stays silent for 10 seconds after the request is sent, on a
// transfer that receives nothing for 30 seconds at any later point, and on one that receives less
// than 1 KiB in any 60 seconds. With a byte limit set, a file that would grow past it fails at
// once: at the response head when the announced length is too large, otherwise before the first
// byte past the limit reaches the disk.
//
// Every transfer ends with exactly one of two signals. oneDownLoadFinish: no network error, an
// HTTP status in the 2xx range (after at most five redirects, never from https to http), an
// unencoded body, and as many bytes as the server announced, all of them written to the file.
// downLoadFailed: anything else, with the reason in words a person can read; the partial file
// is removed, so a failed transfer never leaves anything that looks like a download.
#ifndef UPDATER_SRC_QHTTPDOWNLOADS_H
#define UPDATER_SRC_QHTTPDOWNLOADS_H

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVector>

class QFile;
class QLabel;
class QNetworkAccessManager;
class QProgressBar;
class QTimer;

class QHttpDownLoadS : public QObject
{
    Q_OBJECT
public:
    // Milliseconds after sending during which the server must show any sign of life.
    static constexpr int WatchdogMs = 10000;
    // Milliseconds a transfer under way may go without receiving anything.
    static constexpr int StallMs = 30000;
    // Redirects followed before the transfer counts as failed.
    static constexpr int MaxRedirects = 5;
    // A transfer under way must receive at least RateFloorBytes in every RateWindowMs.
    static constexpr qint64 RateFloorBytes = 1024;
    static constexpr int RateWindowMs = 60000;

    // The schemes a transfer may use, and the User-Agent every request carries.
    static bool isSupportedScheme(const QUrl &url);
    static QByteArray userAgent();
    // Environment variable naming a PEM file of certificate authorities to trust besides the
    // system's, for test servers and sites behind an intercepting proxy. It only adds: the
    // system's authorities and every other check of a certificate stay as they are.
    static constexpr char ExtraCaEnv[] = "ZANDRO_EXTRA_CA_FILE";

    // progressBar, timeLabel and resumeCounter may be null and are not owned; resumeCounter, when
    // given, is the resume offset at start and receives the absolute byte count at the end.
    QHttpDownLoadS(QObject *parent = nullptr, QProgressBar *progressBar = nullptr,
                   QLabel *timeLabel = nullptr, qint64 *resumeCounter = nullptr);
    ~QHttpDownLoadS() override;

    // Accepts only a valid "http" or "https" URL with a non-empty path and a non-empty file path;
    // on success stores both, deletes any file already at filePath and returns true. Returns false
    // and stores nothing otherwise.
    bool setUrlAndFilePath(const QUrl &url, const QString &filePath);

    // Opens the file for appending and sends the request; returns at once. Returns false, sending
    // nothing, when the file cannot be opened. Requires: setUrlAndFilePath returned true.
    bool startDownLoads();

    // The most bytes the file may hold in the end, a resumed transfer's offset included; 0 (the
    // default) sets no limit. An error page longer than that is not read to its end either.
    // Requires: called before startDownLoads.
    void setMaxBytes(qint64 bytes);

    QNetworkAccessManager *manager;
    QNetworkReply *reply; // the request in flight; null before the start and once it has ended
    QString filePath;
    QFile *file;
    QUrl url;
    QProgressBar *progressBar;
    QLabel *timeLabel;
    qint64 totalBytes;
    qint64 receivedBytes;
    qint64 startTime; // ms since the epoch when the request was sent
    qint64 *resumeCounter;
    QTimer *watchdog;
    bool sawActivity;
    bool writeFailed; // the file refused part of the body (disk full, file-size limit)
    int stallMs;      // StallMs unless a test shortens it
    QTimer *stallTimer;
    qint64 maxBytes;     // 0: no limit
    qint64 writtenBytes; // body bytes this request has put into the file
    qint64 arrivedBytes; // body bytes this request has received, error pages included
    int rateWindowMs;    // RateWindowMs unless a test shortens it
    QTimer *rateTimer;
    QVector<qint64> rateMarks; // arrivedBytes at the last few checks of the rate, oldest first
    bool ended;            // one of the two end signals has been sent
    QString failureReason; // why the transfer failed; empty while it has not
    QString tlsErrors;     // what certificate verification said, for the failure reason

signals:
    // The transfer ended successfully and filePath holds the whole body.
    void oneDownLoadFinish(QString filePath);
    // The transfer failed; nothing is left at filePath. Sent once, never with oneDownLoadFinish.
    void downLoadFailed(QString reason);

public slots:
    // Shows the progress of a transfer whose size is known; reports with no positive total
    // change nothing. Also usable directly with (size, size) to paint a finished transfer.
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void slotError(QNetworkReply::NetworkError errorCode);
    void readyRead();
    void replyFinished();
    // The watchdog fired: a request that has shown no activity is abandoned as failed.
    void slotsHasHttpReponse();

private:
    // The response head arrived: an error status or an encoded body ends the transfer at once,
    // before any of its body can drive the progress bar or reach the file.
    void checkResponseHead();
    void stalled();
    // Fails a transfer that received less than RateFloorBytes over the last rateWindowMs.
    void checkRate();
    void noteActivity();
    bool statusIsSuccess() const;
    // The bytes already in the file before this request: the resume offset, or 0.
    qint64 resumeOffset() const;
    // Ends the transfer as failed: drops the request, removes the partial file and says why.
    void fail(const QString &reason);
    // Why a finished request did not succeed; empty when it did.
    QString finishedFailure(QNetworkReply *finished) const;
    // Detaches the request from this object so none of its later notifications reach us, and
    // leaves its deletion to the event loop.
    void releaseReply();
    void stopTimers();
    // The body could not be written whole: the request is dropped and the partial file removed.
    void abandonUnwritable();
    void closeFile();
    void updateTimeLabel();
};

#endif // UPDATER_SRC_QHTTPDOWNLOADS_H
