#include "updatelistener.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
// Misspelled on purpose: it is the text other programs look for.
const char kPresenceReply[] = "UpdaterRuning";
} // namespace

UpdateListener::UpdateListener(QObject *parent)
    : QObject(parent), tcpServer(new QTcpServer(this)), clientSocket(nullptr)
{
    connect(tcpServer, &QTcpServer::newConnection, this, &UpdateListener::newLocalConnection);
}

void UpdateListener::newLocalConnection()
{
    qDebug() << "UpdateListener newLocalConnection()";
    clientSocket = tcpServer->nextPendingConnection();
    if (!clientSocket)
        return;
    clientSocket->write(kPresenceReply, sizeof(kPresenceReply) - 1);
    if (clientSocket->waitForBytesWritten(WriteWaitMs))
        clientSocket->abort();
    delete clientSocket;
    clientSocket = nullptr;
}

void UpdateListener::startListener()
{
    tcpServer->listen(QHostAddress::LocalHost, Port);
}
