// A catalogue service on 127.0.0.1 for the window and controller tests: an HTTP/1.1 server in
// the test process that answers every GET with one configured reply, delivered in one of the
// ways the checking dialog has to tell apart. It binds a free loopback port only.
#ifndef TESTS_SUPPORT_CATALOGUESERVER_H
#define TESTS_SUPPORT_CATALOGUESERVER_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

class CatalogueServer : public QObject
{
    Q_OBJECT
public:
    enum Delivery {
        Complete,    // Content-Length and the whole body, then close
        Hangup,      // the connection is closed without an answer, so the request fails
        Stalled,     // Content-Length, about half the body, then the connection is held open
    };

    explicit CatalogueServer(Delivery delivery = Complete, QObject *parent = nullptr);
    ~CatalogueServer() override;

    void setBody(const QByteArray &body) { m_body = body; }
    // Listens on 127.0.0.1 with a free port; false when that fails.
    bool start();
    // "127.0.0.1:<port>", as the catalogue host override expects it.
    QString hostAndPort() const;
    // Request targets received so far ("/addons/get_addons.php/get_addons.php?addon=...").
    QStringList requests() const { return m_requests; }

    // A catalogue reply offering the given (name, version) modules, in order.
    static QByteArray replyOffering(const QList<QPair<QString, QString>> &modules);

signals:
    // A request has been read in full; it is answered right after.
    void requested();

private:
    void onConnection();
    void onReadable(QTcpSocket *socket);

    Delivery m_delivery;
    QByteArray m_body;
    QTcpServer *m_server;
    QStringList m_requests;
};

#endif // TESTS_SUPPORT_CATALOGUESERVER_H
