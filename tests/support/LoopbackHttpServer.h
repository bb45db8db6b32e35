#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace orvix::test {

// HTTP on 127.0.0.1: one canned reply, a redirect for `redirects`, or none at all.
class LoopbackHttpServer : public QObject {
public:
    LoopbackHttpServer() {
        _server.listen(QHostAddress::LocalHost);
        connect(&_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = _server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray line = buffer->left(buffer->indexOf("\r\n"));
                    requests << line;
                    buffer->clear();
                    if (hang)
                        return;
                    const QByteArray path = line.split(' ').value(1).split('?').first();
                    const bool redirect = redirects.contains(path);
                    QByteArray reply = "HTTP/1.1 " + (redirect ? "302 Found" : status) +
                                       (redirect ? "\r\nLocation: " + redirects[path] : "") +
                                       "\r\nContent-Type: application/rss+xml\r\n"
                                       "Connection: close\r\nContent-Length: " +
                                       QByteArray::number(body.size()) + "\r\n\r\n" + body;
                    socket->write(reply);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString& path = QStringLiteral("/appcast.xml")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(_server.serverPort()).arg(path);
    }

    QByteArray status = "200 OK";
    QByteArray body;
    bool hang = false;
    QMap<QByteArray, QByteArray> redirects; // path -> Location
    QList<QByteArray> requests;             // request lines ("GET /path?query HTTP/1.1")

private:
    QTcpServer _server;
};

} // namespace orvix::test
