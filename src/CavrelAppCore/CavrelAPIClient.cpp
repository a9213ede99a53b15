#include "CavrelAPIClient.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QThreadPool>
#include <QTimer>

#include <any>

namespace cavrel {

namespace detail {

// Shared between the handle, the reply's handlers and the delivery. Touched on the main thread
// only, except that a pool task may hold (and so release) a reference.
struct APICallState {
    QPointer<QObject> context;
    bool hasContext = false;
    bool cancelled = false;
    bool finished = false;
    bool tooLarge = false;
    bool timedOut = false;
    // The reply's body as it arrives, so that the reply never holds it a second time.
    QByteArray body;
    QPointer<QNetworkReply> reply;
    // The caller's completion with the result type erased; cleared as soon as it ran or can no
    // longer run, so the caller's captures are released on the main thread.
    std::function<void(std::any&&)> complete;

    bool isDead() const { return cancelled || (hasContext && !context); }
};

} // namespace detail

namespace {

using State = detail::APICallState;

// What the main thread takes from a finished reply before the pool maps it.
struct ReplyData {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    bool isHttp = false;
    int status = 0;
    QByteArray body;
    bool tooLarge = false;
    bool timedOut = false;

    // Errors of the connection itself, as opposed to the HTTP statuses that Qt also reports
    // through error() (codes from 200 up), which are answers of the hub.
    bool isTransportFailure() const { return error > QNetworkReply::NoError && error < 200; }
    // A 2xx status whose body arrived whole: Qt reports a connection closed before the
    // announced length as a transport error while still giving the status.
    bool isSuccess() const {
        return !tooLarge && !timedOut && !isTransportFailure() && isHttp && status >= 200 &&
               status <= 299;
    }
};

using Mapper = std::function<std::any(const ReplyData&)>;

void deliver(const std::shared_ptr<State>& state, std::any&& result) {
    if (state->finished) {
        return;
    }
    state->finished = true;
    auto complete = std::move(state->complete);
    state->complete = nullptr;
    if (!state->isDead() && complete) {
        complete(std::move(result));
    }
}

// Runs the delivery on the main thread in a later turn of the event loop: completions never
// run inside the call that started the operation, and never on the pool.
void deliverLater(std::shared_ptr<State> state, std::any result) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [state = std::move(state), result = std::move(result)]() mutable {
            deliver(state, std::move(result));
        },
        Qt::QueuedConnection);
}

void forget(const std::shared_ptr<State>& state) {
    state->finished = true;
    state->complete = nullptr;
}

std::shared_ptr<State> makeState(QObject* context) {
    auto state = std::make_shared<State>();
    state->context = context;
    state->hasContext = context != nullptr;
    return state;
}

void watchReply(const std::shared_ptr<State>& state, QNetworkReply* reply, int deadlineMs,
                Mapper mapper) {
    state->reply = reply;
    if (state->hasContext) {
        // The reply would be wasted: nobody is left to hear of it.
        QObject::connect(state->context.data(), &QObject::destroyed, reply, &QNetworkReply::abort);
    }
    // The idle time-out alone lets a hub that sends a byte now and then keep a request open for
    // ever.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [state, reply] {
        state->timedOut = true;
        reply->abort();
    });
    deadline->start(deadlineMs);
    // Refused as soon as the headers announce too much, or the bytes exceed the limit.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [state, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > CavrelAPIClient::maximumReplySize) {
            state->tooLarge = true;
            reply->abort();
        } else if (length.isValid()) {
            state->body.reserve(length.toLongLong());
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [state, reply] {
        if (!state->tooLarge) {
            state->body += reply->readAll();
        }
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [state, reply](qint64 received, qint64) {
                         if (received > CavrelAPIClient::maximumReplySize) {
                             state->tooLarge = true;
                             reply->abort();
                         }
                     });
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [state, reply, mapper = std::move(mapper)] {
            reply->deleteLater();
            if (state->finished || state->isDead()) {
                forget(state);
                return;
            }
            ReplyData data;
            data.error = reply->error();
            data.errorString = reply->errorString();
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            data.isHttp = status.isValid();
            data.status = status.toInt();
            data.tooLarge = state->tooLarge;
            data.timedOut = state->timedOut;
            if (!data.tooLarge) {
                data.body = std::move(state->body);
                data.body += reply->readAll();
            }
            state->body = QByteArray();
            QThreadPool::globalInstance()->start(
                [state, mapper, data = std::move(data)] { deliverLater(state, mapper(data)); });
        });
}

// The hub's body as text for an error message: strict UTF-8 (a byte order mark kept as
// received); a body that is not valid UTF-8 contributes nothing rather than replacement marks.
QString strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        return {};
    }
    return text;
}

const char* methodName(int method) {
    static constexpr const char* names[] = {"GET", "POST", "PUT", "DELETE"};
    return names[method];
}

// A reply that did not succeed, as the caller sees it. Only transport failures keep Qt's text.
APIError failureOf(const ReplyData& reply, const char* method, const QString& path,
                   int deadlineMs) {
    if (reply.timedOut) {
        return APIError(
            QStringLiteral("The hub did not complete its reply to %1 %2 within %3 seconds")
                .arg(QLatin1String(method), path, QString::number(deadlineMs / 1000.0)),
            APIError::Kind::Transport);
    }
    if (reply.tooLarge) {
        return APIError(QStringLiteral("Cannot read the hub's reply: it is larger than %1 MiB")
                            .arg(CavrelAPIClient::maximumReplySize / (1024 * 1024)),
                        APIError::Kind::Decoding);
    }
    if (reply.isTransportFailure()) {
        return APIError(reply.errorString, APIError::Kind::Transport);
    }
    return APIError(
        QStringLiteral("%1 %2 failed: %3").arg(QLatin1String(method), path, strictUtf8(reply.body)),
        APIError::Kind::Refused);
}

bool hasControlCharacters(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return true;
        }
    }
    return false;
}

} // namespace

void APIRequest::cancel() {
    if (!m_state || m_state->finished) {
        return;
    }
    m_state->cancelled = true;
    forget(m_state);
    if (m_state->reply) {
        m_state->reply->abort();
    }
}

bool APIRequest::isFinished() const {
    return !m_state || m_state->finished || m_state->isDead();
}

QNetworkAccessManager* CavrelAPIClient::sharedSession() {
    static QPointer<QNetworkAccessManager> shared;
    if (!shared && QCoreApplication::instance()) {
        shared = new QNetworkAccessManager(QCoreApplication::instance());
        shared->setProxy(QNetworkProxy::NoProxy);
        // As a child of the application it would go only once the application has stopped
        // being one, while its HTTP thread may still be delivering an event: that thread then
        // finds no application and crashes the exit. Post routines run while it is still whole.
        qAddPostRoutine([] { delete shared.data(); });
    }
    return shared;
}

CavrelAPIClient::CavrelAPIClient(QUrl baseURL, QString token, QNetworkAccessManager* session,
                                 int deadlineMs)
    : m_baseURL(std::move(baseURL)), m_token(std::move(token)), m_session(session),
      m_deadlineMs(deadlineMs) {}

template <class T>
APIRequest CavrelAPIClient::send(Method method, const QString& path,
                                 const std::optional<Query>& query, const std::optional<Body>& body,
                                 QObject* context, Completion<T> done) const {
    auto state = makeState(context);
    state->complete = [done = std::move(done)](std::any&& result) {
        done(std::any_cast<APIResult<T>>(std::move(result)));
    };
    const char* verb = methodName(int(method));
    auto failNow = [&](APIError error) {
        deliverLater(state, std::any(APIResult<T>(std::move(error))));
        return APIRequest(state);
    };

    QUrl url = m_baseURL;
    QString basePath = url.path();
    if (basePath.endsWith(u'/')) {
        basePath.chop(1);
    }
    url.setPath(basePath + path);
    if (query) {
        // Every byte outside the unreserved set is escaped: a "+" left bare would reach a
        // form-decoding hub as a blank ("git+ssh://..." naming another project), and "&", "="
        // and "#" would split the value.
        url.setQuery(query->name + u'=' +
                         QString::fromLatin1(QUrl::toPercentEncoding(query->value)),
                     QUrl::StrictMode);
    }
    if (hasControlCharacters(m_token)) {
        // A line break in a header value would let the token add headers of its own.
        return failNow(APIError(
            QStringLiteral("Cannot send the request: the hub token contains control characters"),
            APIError::Kind::Encoding));
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMs);
    // Follow a redirect only within the hub: the bearer token must not travel to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());

    QByteArray payload;
    if (body) {
        QJsonObject object;
        for (const auto& [key, value] : *body) {
            if (!QStringView(value).isValidUtf16()) {
                // QJsonDocument would write a lone surrogate as "\ud800", which strict JSON
                // readers reject or turn into U+FFFD: the text would not survive the trip.
                return failNow(APIError(QStringLiteral("Cannot write the request body: the value "
                                                       "of \"%1\" is not valid Unicode text")
                                            .arg(key),
                                        APIError::Kind::Encoding));
            }
            object.insert(key, value);
        }
        payload = QJsonDocument(object).toJson(QJsonDocument::Compact);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/json"));
    }

    if (!m_session) {
        return failNow(
            APIError(QStringLiteral("The network session is gone"), APIError::Kind::Transport));
    }
    QNetworkReply* reply = nullptr;
    switch (method) {
    case Method::Get:
        reply = m_session->get(request);
        break;
    case Method::Post:
        reply = m_session->post(request, payload);
        break;
    case Method::Put:
        reply = m_session->put(request, payload);
        break;
    case Method::Delete:
        reply = m_session->deleteResource(request);
        break;
    }

    watchReply(state, reply, m_deadlineMs,
               [verb, path, deadlineMs = m_deadlineMs](const ReplyData& data) -> std::any {
                   if (!data.isSuccess()) {
                       return APIResult<T>(failureOf(data, verb, path, deadlineMs));
                   }
                   if constexpr (std::is_void_v<T>) {
                       return APIResult<void>();
                   } else {
                       return decodeHubReply<T>(data.body);
                   }
               });
    return APIRequest(state);
}

template <class T>
APIRequest CavrelAPIClient::get(const QString& path, const std::optional<Query>& query,
                                QObject* context, Completion<T> done) const {
    return send<T>(Method::Get, path, query, std::nullopt, context, std::move(done));
}

template <class T>
APIRequest CavrelAPIClient::post(const QString& path, const Body& body, QObject* context,
                                 Completion<T> done) const {
    return send<T>(Method::Post, path, std::nullopt, body, context, std::move(done));
}

template <class T>
APIRequest CavrelAPIClient::put(const QString& path, const Body& body, QObject* context,
                                Completion<T> done) const {
    return send<T>(Method::Put, path, std::nullopt, body, context, std::move(done));
}

APIRequest CavrelAPIClient::deleteResource(const QString& path, QObject* context,
                                           Completion<void> done) const {
    return send<void>(Method::Delete, path, std::nullopt, std::nullopt, context, std::move(done));
}

namespace {

QString withId(const char* collection, qint64 id) {
    return QLatin1String(collection) + QString::number(id);
}

} // namespace

// Sessions

APIRequest CavrelAPIClient::listSessions(const QString& project, QObject* context,
                                         Completion<QList<SessionSummary>> done) const {
    return get<QList<SessionSummary>>(QStringLiteral("/v1/sessions"),
                                      Query{QStringLiteral("project"), project}, context,
                                      std::move(done));
}

APIRequest CavrelAPIClient::getSession(qint64 id, QObject* context,
                                       Completion<SessionDetail> done) const {
    return get<SessionDetail>(withId("/v1/sessions/", id), std::nullopt, context, std::move(done));
}

// Rules

APIRequest CavrelAPIClient::listRules(const QString& project, QObject* context,
                                      Completion<QList<Rule>> done) const {
    return get<QList<Rule>>(QStringLiteral("/v1/rules"), Query{QStringLiteral("project"), project},
                            context, std::move(done));
}

APIRequest CavrelAPIClient::createRule(const QString& scope, const std::optional<QString>& project,
                                       const QString& title, const QString& body, QObject* context,
                                       Completion<Rule> done) const {
    Body fields{{"scope", scope}, {"title", title}, {"body", body}};
    if (project) {
        fields.append({"project", *project});
    }
    return post<Rule>(QStringLiteral("/v1/rules"), fields, context, std::move(done));
}

APIRequest CavrelAPIClient::updateRule(qint64 id, const QString& title, const QString& body,
                                       QObject* context, Completion<Rule> done) const {
    return put<Rule>(withId("/v1/rules/", id), {{"title", title}, {"body", body}}, context,
                     std::move(done));
}

APIRequest CavrelAPIClient::deleteRule(qint64 id, QObject* context, Completion<void> done) const {
    return deleteResource(withId("/v1/rules/", id), context, std::move(done));
}

// Skills

APIRequest CavrelAPIClient::listSkills(const QString& project, QObject* context,
                                       Completion<QList<Skill>> done) const {
    return get<QList<Skill>>(QStringLiteral("/v1/skills"),
                             Query{QStringLiteral("project"), project}, context, std::move(done));
}

APIRequest CavrelAPIClient::createSkill(const QString& scope, const std::optional<QString>& project,
                                        const QString& name, const QString& description,
                                        const QString& body, QObject* context,
                                        Completion<Skill> done) const {
    Body fields{{"scope", scope}, {"name", name}, {"description", description}, {"body", body}};
    if (project) {
        fields.append({"project", *project});
    }
    return post<Skill>(QStringLiteral("/v1/skills"), fields, context, std::move(done));
}

APIRequest CavrelAPIClient::updateSkill(qint64 id, const QString& name, const QString& description,
                                        const QString& body, QObject* context,
                                        Completion<Skill> done) const {
    return put<Skill>(withId("/v1/skills/", id),
                      {{"name", name}, {"description", description}, {"body", body}}, context,
                      std::move(done));
}

APIRequest CavrelAPIClient::deleteSkill(qint64 id, QObject* context, Completion<void> done) const {
    return deleteResource(withId("/v1/skills/", id), context, std::move(done));
}

// Memory

APIRequest CavrelAPIClient::listMemory(const QString& project, QObject* context,
                                       Completion<QList<MemoryEntry>> done) const {
    return get<QList<MemoryEntry>>(QStringLiteral("/v1/memory"),
                                   Query{QStringLiteral("project"), project}, context,
                                   std::move(done));
}

APIRequest CavrelAPIClient::createMemory(const QString& scope,
                                         const std::optional<QString>& project, const QString& type,
                                         const QString& title, const QString& body,
                                         QObject* context, Completion<MemoryEntry> done) const {
    Body fields{{"scope", scope}, {"type", type}, {"title", title}, {"body", body}};
    if (project) {
        fields.append({"project", *project});
    }
    return post<MemoryEntry>(QStringLiteral("/v1/memory"), fields, context, std::move(done));
}

APIRequest CavrelAPIClient::updateMemory(qint64 id, const QString& type, const QString& title,
                                         const QString& body, QObject* context,
                                         Completion<MemoryEntry> done) const {
    return put<MemoryEntry>(withId("/v1/memory/", id),
                            {{"type", type}, {"title", title}, {"body", body}}, context,
                            std::move(done));
}

APIRequest CavrelAPIClient::deleteMemory(qint64 id, QObject* context, Completion<void> done) const {
    return deleteResource(withId("/v1/memory/", id), context, std::move(done));
}

// Context and health

APIRequest CavrelAPIClient::getContext(const QString& project, QObject* context,
                                       Completion<ProjectContext> done) const {
    return get<ProjectContext>(QStringLiteral("/v1/context"),
                               Query{QStringLiteral("project"), project}, context, std::move(done));
}

APIRequest CavrelAPIClient::healthCheck(QObject* context, std::function<void(bool)> done) const {
    auto state = makeState(context);
    state->complete = [done = std::move(done)](std::any&& result) {
        done(std::any_cast<bool>(result));
    };
    const QUrl url = m_baseURL.resolved(QUrl(QStringLiteral("healthz")));
    if (!url.isValid() || url.isRelative() || !m_session) {
        deliverLater(state, std::any(false));
        return APIRequest(state);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    watchReply(state, m_session->get(request), m_deadlineMs, [](const ReplyData& data) -> std::any {
        return data.isSuccess() && data.status == 200;
    });
    return APIRequest(state);
}

} // namespace cavrel
