#pragma once

#include "APIModels.h"
#include "APIRequest.h"
#include "APIResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QObject;

namespace cavrel {

// The hub's REST client. A small value (base URL, bearer token, network session, deadline of a
// request) that the application state creates when the hub is running and hands to every hub
// screen; copies share the session. It keeps no other state: no cache, no queue, nothing between
// calls.
//
// Every operation is asynchronous and never blocks the calling (UI) thread: it sends the
// request through the session, decodes the reply on the global thread pool, and calls
// `done` on the thread of `context` (the main thread) with the value or an APIError. The
// completion is always called later, never from inside the call, at most once, and never
// after `context` was destroyed or the returned handle was cancelled. A null context binds
// the completion to nothing: it runs unless cancelled.
//
// Errors: "<METHOD> <path> failed: <body>" when the hub answers outside 200...299 (the path as
// the operation names it, without base URL or query; the body read as strict UTF-8, empty when
// it is not); the session's text for a transport failure, and a Transport error naming the
// request when the whole reply has not arrived by the deadline; a Decoding error for a reply
// that does not read.
class CavrelAPIClient {
public:
    template <class T> using Completion = std::function<void(APIResult<T>)>;

    // The process-wide session: one QNetworkAccessManager on the main thread, proxy off (the hub
    // is on loopback and no http_proxy setting may route it elsewhere). Created on first use as
    // a child of the QCoreApplication.
    static QNetworkAccessManager* sharedSession();

    CavrelAPIClient(QUrl baseURL, QString token, QNetworkAccessManager* session = sharedSession(),
                    int deadlineMs = requestDeadlineMs);

    const QUrl& baseURL() const { return m_baseURL; }
    const QString& token() const { return m_token; }
    QNetworkAccessManager* session() const { return m_session; }

    // Requests that stay idle this long fail with the session's time-out error.
    static constexpr int requestTimeoutMs = 60'000;
    // A request whose whole reply has not arrived this long after it was sent fails, however
    // busy the connection: longer than the idle time-out, which stays what ends a silent hub.
    static constexpr int requestDeadlineMs = 120'000;
    // A reply larger than this fails instead of exhausting memory.
    static constexpr qint64 maximumReplySize = 128 * 1024 * 1024;

    APIRequest listSessions(const QString& project, QObject* context,
                            Completion<QList<SessionSummary>> done) const;
    APIRequest getSession(qint64 id, QObject* context, Completion<SessionDetail> done) const;

    APIRequest listRules(const QString& project, QObject* context,
                         Completion<QList<Rule>> done) const;
    APIRequest createRule(const QString& scope, const std::optional<QString>& project,
                          const QString& title, const QString& body, QObject* context,
                          Completion<Rule> done) const;
    APIRequest updateRule(qint64 id, const QString& title, const QString& body, QObject* context,
                          Completion<Rule> done) const;
    APIRequest deleteRule(qint64 id, QObject* context, Completion<void> done) const;

    APIRequest listSkills(const QString& project, QObject* context,
                          Completion<QList<Skill>> done) const;
    APIRequest createSkill(const QString& scope, const std::optional<QString>& project,
                           const QString& name, const QString& description, const QString& body,
                           QObject* context, Completion<Skill> done) const;
    APIRequest updateSkill(qint64 id, const QString& name, const QString& description,
                           const QString& body, QObject* context, Completion<Skill> done) const;
    APIRequest deleteSkill(qint64 id, QObject* context, Completion<void> done) const;

    APIRequest listMemory(const QString& project, QObject* context,
                          Completion<QList<MemoryEntry>> done) const;
    APIRequest createMemory(const QString& scope, const std::optional<QString>& project,
                            const QString& type, const QString& title, const QString& body,
                            QObject* context, Completion<MemoryEntry> done) const;
    APIRequest updateMemory(qint64 id, const QString& type, const QString& title,
                            const QString& body, QObject* context,
                            Completion<MemoryEntry> done) const;
    APIRequest deleteMemory(qint64 id, QObject* context, Completion<void> done) const;

    APIRequest getContext(const QString& project, QObject* context,
                          Completion<ProjectContext> done) const;

    // GET "healthz" resolved against the base URL, without a token: true exactly for status 200.
    // Never fails: refused connections, other statuses and time-outs give false.
    APIRequest healthCheck(QObject* context, std::function<void(bool)> done) const;

private:
    enum class Method { Get, Post, Put, Delete };
    struct Query {
        QString name;
        QString value;
    };
    using Body = QList<std::pair<QString, QString>>;
    // Maps a finished reply to the operation's result; runs on the thread pool.
    using ReplyMapper = std::function<void(int status, QByteArray body)>;

    template <class T>
    APIRequest get(const QString& path, const std::optional<Query>& query, QObject* context,
                   Completion<T> done) const;
    template <class T>
    APIRequest post(const QString& path, const Body& body, QObject* context,
                    Completion<T> done) const;
    template <class T>
    APIRequest put(const QString& path, const Body& body, QObject* context,
                   Completion<T> done) const;
    APIRequest deleteResource(const QString& path, QObject* context, Completion<void> done) const;

    template <class T>
    APIRequest send(Method method, const QString& path, const std::optional<Query>& query,
                    const std::optional<Body>& body, QObject* context, Completion<T> done) const;

    QUrl m_baseURL;
    QString m_token;
    QPointer<QNetworkAccessManager> m_session;
    int m_deadlineMs;
};

} // namespace cavrel
