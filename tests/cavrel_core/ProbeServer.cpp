#include "ProbeServer.h"

#include <QTcpSocket>

#include <memory>

ProbeServer::ProbeServer(std::function<ProbeAnswer(int request)> answerFor)
    : m_answerFor(std::move(answerFor)) {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &ProbeServer::accept);
}

void ProbeServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto pending = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, pending] {
            *pending += socket->readAll();
            qsizetype end = -1;
            while ((end = pending->indexOf("\r\n\r\n")) >= 0) {
                pending->remove(0, end + 4);
                const ProbeAnswer answer = m_answerFor(++m_requests);
                if (answer.status == 0) {
                    continue;
                }
                const QByteArray status =
                    "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n";
                switch (answer.body) {
                case ProbeAnswer::Body::empty:
                    socket->write(status + "Content-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                    return;
                case ProbeAnswer::Body::stalled:
                    socket->write(status + "Content-Length: 100\r\n\r\n");
                    return;
                case ProbeAnswer::Body::endless: {
                    socket->write(status + "Content-Length: 1000000000000\r\n\r\n");
                    // More whenever the last piece has left, until the client goes away.
                    const QByteArray piece(64 * 1024, 'x');
                    const auto more = [this, socket, piece] {
                        if (socket->state() == QAbstractSocket::ConnectedState &&
                            socket->bytesToWrite() == 0) {
                            m_bodyBytesWritten += socket->write(piece);
                        }
                    };
                    connect(socket, &QTcpSocket::bytesWritten, socket, more);
                    more();
                    return;
                }
                }
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}
