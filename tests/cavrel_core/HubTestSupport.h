#pragma once

#include "APIResult.h"
#include "CavrelAPIClient.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <optional>

namespace cavrel::test {

// Generous: a condition that needs longer than this is a hang, not a slow machine.
inline constexpr int waitLimitMs = 20'000;

// Runs the event loop until `predicate` holds; false after `limitMs`. Sleeps in the event
// loop rather than in fixed naps, so a hub in the same thread answers at once.
template <class Predicate>
bool waitUntil(Predicate predicate, int limitMs = waitLimitMs) {
    QDeadlineTimer deadline(limitMs);
    QTimer tick; // wakes the loop to look at the clock when nothing else happens
    tick.start(20);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Starts an operation with a fresh context object and runs an event loop until its
// completion ran (a local loop rather than QTest::qWaitFor, whose 10 ms naps add up when the
// hub answers from the same thread). `start(context, done)` returns the APIRequest.
template <class T, class Start>
APIResult<T> await(Start start) {
    std::optional<APIResult<T>> result;
    QObject context;
    QEventLoop loop;
    QTimer::singleShot(waitLimitMs, &loop, &QEventLoop::quit);
    start(&context, [&](APIResult<T> value) {
        result.emplace(std::move(value));
        loop.quit();
    });
    if (!result) {
        loop.exec();
    }
    if (!result) {
        ADD_FAILURE() << "the completion never ran";
        return APIError(QStringLiteral("no completion"), APIError::Kind::Transport);
    }
    return std::move(*result);
}

// A port on 127.0.0.1 that nothing listens on (bound, then released).
inline quint16 closedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        ADD_FAILURE() << "cannot bind a port";
        return 1;
    }
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace cavrel::test
