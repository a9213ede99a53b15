#pragma once

#include "APIResult.h"
#include "CavrelAPIClient.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QTcpServer>
#include <QTest>

#include <optional>

namespace cavrel::test {

// Generous: a condition that needs longer than this is a hang, not a slow machine.
inline constexpr int waitLimitMs = 20'000;

// Starts an operation with a fresh context object and spins the event loop until its
// completion ran. `start(context, done)` returns the APIRequest.
template <class T, class Start> APIResult<T> await(Start start) {
    std::optional<APIResult<T>> result;
    QObject context;
    start(&context, [&](APIResult<T> value) { result.emplace(std::move(value)); });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, waitLimitMs)) {
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
