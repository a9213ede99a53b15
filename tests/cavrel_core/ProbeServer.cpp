#include "ProbeServer.h"

#include <QTcpSocket>

#include <memory>

ProbeServer::ProbeServer(std::function<int(int request)> statusFor)
    : m_statusFor(std::move(statusFor)) {
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
                const int status = m_statusFor(++m_requests);
                if (status != 0) {
                    socket->write("HTTP/1.1 " + QByteArray::number(status) +
                                  " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                    return;
                }
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}
