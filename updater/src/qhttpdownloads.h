// One-file HTTP downloader: a single GET whose body is appended to a local file as it arrives,
// so memory holds one chunk at a time whatever the file size. It can drive a progress bar and a
// time-remaining label, resumes from a byte counter owned by the caller (sent as a "Range"
// header), and gives up on a server that stays silent for 10 seconds after the request is sent.
//
// Only a transfer that really succeeded is announced: no network error, an HTTP status in the
// 2xx range (redirects are not followed), and as many bytes as the server announced, all of them
// written to the file. Anything else ends quietly and the caller's own time-out or state decides
// what the user sees.
#ifndef UPDATER_SRC_QHTTPDOWNLOADS_H
#define UPDATER_SRC_QHTTPDOWNLOADS_H

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

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

    // progressBar, timeLabel and resumeCounter may be null and are not owned; resumeCounter, when
    // given, is the resume offset at start and receives the absolute byte count at the end.
    QHttpDownLoadS(QObject *parent = nullptr, QProgressBar *progressBar = nullptr,
                   QLabel *timeLabel = nullptr, qint64 *resumeCounter = nullptr);
    ~QHttpDownLoadS() override;

    // Accepts only a valid "http" URL with a non-empty path and a non-empty file path; on
    // success stores both, deletes any file already at filePath and returns true. Returns false
    // and stores nothing otherwise.
    bool setUrlAndFilePath(const QUrl &url, const QString &filePath);

    // Opens the file for appending and sends the request; returns at once. Returns false, sending
    // nothing, when the file cannot be opened. Requires: setUrlAndFilePath returned true.
    bool startDownLoads();

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

signals:
    // The transfer ended successfully and filePath holds the whole body.
    void oneDownLoadFinish(QString filePath);

public slots:
    // Shows the progress of a transfer whose size is known; reports with no positive total
    // change nothing. Also usable directly with (size, size) to paint a finished transfer.
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void slotError(QNetworkReply::NetworkError errorCode);
    void readyRead();
    void replyFinished();
    // The watchdog fired: a request that has shown no activity is abandoned without a signal.
    void slotsHasHttpReponse();

private:
    // Detaches the request from this object so none of its later notifications reach us, and
    // leaves its deletion to the event loop.
    void releaseReply();
    // The body could not be written whole: the request is dropped without a completion signal
    // and the partial file removed.
    void abandonUnwritable();
    void closeFile();
    void updateTimeLabel();
};

#endif // UPDATER_SRC_QHTTPDOWNLOADS_H
