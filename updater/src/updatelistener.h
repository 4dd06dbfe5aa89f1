// Presence listener: while a pass runs, every client of 127.0.0.1:8999 receives "UpdaterRuning"
// and is dropped, so other programs can tell that an update pass is in progress. Nothing is
// read from clients.
#ifndef UPDATER_SRC_UPDATELISTENER_H
#define UPDATER_SRC_UPDATELISTENER_H

#include <QObject>

class QTcpServer;
class QTcpSocket;

class UpdateListener : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 Port = 8999;
    static constexpr int WriteWaitMs = 60000;

    explicit UpdateListener(QObject *parent = nullptr);

    QTcpServer *tcpServer;    // owned as a child
    QTcpSocket *clientSocket; // non-null only while a client is answered

public slots:
    // Answers one pending client with the presence text, then aborts the connection.
    void newLocalConnection();
    // Starts listening on loopback; failure (port taken) is silent and the pass goes on.
    void startListener();
};

#endif // UPDATER_SRC_UPDATELISTENER_H
