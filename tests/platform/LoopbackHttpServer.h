#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

namespace orvix::test {

// A tiny HTTP server on 127.0.0.1 answering every request with one canned
// reply, or never answering at all.
class LoopbackHttpServer : public QObject {
public:
    LoopbackHttpServer() {
        _server.listen(QHostAddress::LocalHost);
        connect(&_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = _server.nextPendingConnection()) {
                auto* buffer = new QByteArray;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    requests << buffer->left(buffer->indexOf("\r\n"));
                    buffer->clear();
                    if (hang)
                        return;
                    QByteArray reply = "HTTP/1.1 " + status +
                                       "\r\nContent-Type: application/rss+xml\r\n"
                                       "Connection: close\r\nContent-Length: " +
                                       QByteArray::number(body.size()) + "\r\n\r\n" + body;
                    socket->write(reply);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
                    delete buffer;
                    socket->deleteLater();
                });
            }
        });
    }
    QString url(const QString& path = QStringLiteral("/appcast.xml")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(_server.serverPort()).arg(path);
    }

    QByteArray status = "200 OK";
    QByteArray body;
    bool hang = false;
    QList<QByteArray> requests; // request lines ("GET /path?query HTTP/1.1")

private:
    QTcpServer _server;
};

} // namespace orvix::test
