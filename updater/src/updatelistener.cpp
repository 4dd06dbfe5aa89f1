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
    : QObject(parent), tcpServer(new QTcpServer(this)), clientSocket(nullptr),
      reportIntervalMs(ReportIntervalMs), m_probesUnreported(0), m_probeSeen(false)
{
    connect(tcpServer, &QTcpServer::newConnection, this, &UpdateListener::newLocalConnection);
}

UpdateListener::~UpdateListener()
{
    if (m_probesUnreported > 0)
        reportProbes();
}

void UpdateListener::noteProbe()
{
    if (!m_probeSeen) {
        m_probeSeen = true;
        m_sinceReport.start();
        qDebug() << "UpdateListener newLocalConnection()";
        return;
    }
    ++m_probesUnreported;
    if (m_sinceReport.elapsed() >= reportIntervalMs)
        reportProbes();
}

void UpdateListener::reportProbes()
{
    qDebug() << "presence probes answered since the last line:" << m_probesUnreported;
    m_probesUnreported = 0;
    m_sinceReport.start();
}

void UpdateListener::newLocalConnection()
{
    noteProbe();
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
