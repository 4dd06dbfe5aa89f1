// Presence listener: while a pass runs, every client of 127.0.0.1:8999 receives "UpdaterRuning"
// and is dropped, so other programs can tell that an update pass is in progress. Nothing is
// read from clients.
//
// Any local program can connect as often as it likes, so probes are not logged one line each:
// the first is, then at most one summary line per reportIntervalMs with the number answered
// since the last line, and one more when the listener goes. A flood of probes therefore cannot
// rotate the log file away.
#ifndef UPDATER_SRC_UPDATELISTENER_H
#define UPDATER_SRC_UPDATELISTENER_H

#include <QElapsedTimer>
#include <QObject>

class QTcpServer;
class QTcpSocket;

class UpdateListener : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 8999;
    static constexpr int WriteWaitMs = 60000;

    static constexpr int ReportIntervalMs = 60000;

    explicit UpdateListener(QObject *parent = nullptr);
    // Logs the summary of the probes not yet reported, if any.
    ~UpdateListener() override;

    QTcpServer *tcpServer;    // owned as a child
    QTcpSocket *clientSocket; // non-null only while a client is answered
    // The shortest time between two summary lines; tests shorten it.
    int reportIntervalMs;

public slots:
    // Answers one pending client with the presence text, then aborts the connection.
    void newLocalConnection();
    // Starts listening on loopback; failure (port taken) is silent and the pass goes on.
    void startListener();

private:
    // Logs the first probe, and a summary when reportIntervalMs has passed since the last line.
    void noteProbe();
    void reportProbes();

    qint64 m_probesUnreported; // answered since the last line
    bool m_probeSeen;
    QElapsedTimer m_sinceReport;
};

#endif // UPDATER_SRC_UPDATELISTENER_H
