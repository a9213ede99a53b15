#pragma once

#include <QObject>
#include <QTcpServer>

#include <functional>

// How the stand-in answers one health probe.
struct ProbeAnswer {
    enum class Body {
        empty,   // Content-Length: 0
        stalled, // a length is announced and nothing follows; the connection stays open
        endless, // a length beyond any reply, and bytes for as long as the client reads them
    };
    int status = 0; // 0: accept and never answer
    Body body = Body::empty;

    ProbeAnswer(int status, Body body = Body::empty) : status(status), body(body) {}
};

// A stand-in for the hub's health endpoint on 127.0.0.1: it answers each request as `answerFor(n)`
// says for the n-th request (counted from 1). It counts requests and connections, and the body
// bytes it got out, so tests can check exact probe counts and how much a client read.
class ProbeServer : public QObject {
public:
    explicit ProbeServer(std::function<ProbeAnswer(int request)> answerFor);

    quint16 port() const { return m_server.serverPort(); }
    int requests() const { return m_requests; }
    int connections() const { return m_connections; }
    qint64 bodyBytesWritten() const { return m_bodyBytesWritten; }

private:
    void accept();

    QTcpServer m_server;
    std::function<ProbeAnswer(int)> m_answerFor;
    int m_requests = 0;
    int m_connections = 0;
    qint64 m_bodyBytesWritten = 0;
};
