#pragma once

#include <QObject>
#include <QTcpServer>

#include <functional>

// A stand-in for the hub's health endpoint on 127.0.0.1: it answers each request with the
// status `statusFor(n)` gives for the n-th request (counted from 1), where 0 means "accept and
// never answer". It counts requests and connections so tests can check exact probe counts.
class ProbeServer : public QObject {
public:
    explicit ProbeServer(std::function<int(int request)> statusFor);

    quint16 port() const { return m_server.serverPort(); }
    int requests() const { return m_requests; }
    int connections() const { return m_connections; }

private:
    void accept();

    QTcpServer m_server;
    std::function<int(int)> m_statusFor;
    int m_requests = 0;
    int m_connections = 0;
};
