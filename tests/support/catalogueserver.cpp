#include "catalogueserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

CatalogueServer::CatalogueServer(Delivery delivery, QObject *parent)
    : QObject(parent), m_delivery(delivery), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &CatalogueServer::onConnection);
}

CatalogueServer::~CatalogueServer() = default;

bool CatalogueServer::start()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QString CatalogueServer::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_server->serverPort());
}

QByteArray CatalogueServer::replyOffering(const QList<QPair<QString, QString>> &modules)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modules>\n";
    for (const auto &module : modules)
        xml += "  <module name=\"" + module.first.toUtf8() + "\" version=\"" +
               module.second.toUtf8() +
               "\" result=\"true\" url=\"http://127.0.0.1/p.zup\" size=\"10B\" "
               "description=\"About " +
               module.first.toUtf8() + "\"/>\n";
    xml += "</modules>\n";
    return xml;
}

void CatalogueServer::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void CatalogueServer::onReadable(QTcpSocket *socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    m_requests.append(QString::fromLatin1(line.value(1)));
    emit requested();

    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n";
    switch (m_delivery) {
    case Complete:
        socket->write(head + "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n\r\n" +
                      m_body);
        socket->disconnectFromHost();
        break;
    case Hangup:
        socket->disconnectFromHost();
        break;
    case Stalled: {
        const int half = m_body.size() / 2;
        socket->write(head + "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n\r\n" +
                      m_body.left(half - 1));
        // The client reports progress at most every 100 ms, so one more byte a little later
        // makes the half-way mark show on the progress bar.
        const QByteArray next = m_body.mid(half - 1, 1);
        QTimer::singleShot(300, socket, [socket, next] { socket->write(next); });
        break;
    }
    }
}
