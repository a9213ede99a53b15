#include "CavrelAPIClient.h"
#include "FakeHub.h"
#include "HubTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QNetworkRequest>
#include <QSet>
#include <QSignalSpy>
#include <QThreadPool>

#include <functional>

using namespace cavrel;
using cavrel::fake::FakeHub;
using cavrel::test::await;

namespace {

// A project origin that needs every kind of query escaping: "+" (read as a blank by form
// decoding), "&" and "=" (split the query), "#" (ends the URL), a blank and non-ASCII text.
const QString awkwardProject = QString::fromUtf8("git+ssh://h/a b&c=d#é");

// Remembers the QNetworkRequest of each call so that settings that never reach the wire
// (the idle time-out) can be checked.
class RecordingSession : public QNetworkAccessManager {
public:
    QList<QNetworkRequest> requests;
    QList<QPointer<QNetworkReply>> replies;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* data) override {
        requests.append(request);
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, data);
        replies.append(reply);
        return reply;
    }
};

class CavrelAPIClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.setProxy(QNetworkProxy::NoProxy);
        ASSERT_TRUE(hub.listen());
        const QJsonObject seed = QJsonDocument::fromJson(R"({
            "rules": [{"id": 42, "scope": "project", "title": "Old", "body": "old", "updated_by": "u", "project": "P"},
                      {"id": -3, "scope": "global", "title": "G", "body": "g", "updated_by": "u"}],
            "skills": [{"id": 9, "scope": "project", "name": "n", "description": "d", "body": "b", "updated_by": "u", "project": "P"}],
            "memory": [{"id": 5, "scope": "project", "type": "user", "title": "t", "body": "b", "project": "P"}],
            "sessions": [{"id": 7, "project_id": 1, "tool": "claude", "source": "watch",
                          "started_at": "2025-01-05T15:04:05Z", "ended_at": "2025-01-05T15:30:00.250+02:00",
                          "summary": null, "status": "completed", "project": "P",
                          "messages": [{"seq": 1, "role": "user", "content": "hi"}]}]
        })")
                                     .object();
        QString error;
        ASSERT_TRUE(hub.seed(seed, &error)) << error.toStdString();
    }

    CavrelAPIClient client() const {
        return CavrelAPIClient(hub.baseUrl(), hub.token(), const_cast<RecordingSession*>(&session));
    }

    const FakeHub::RecordedRequest& lastRequest() const { return hub.requests().constLast(); }

    FakeHub hub;
    RecordingSession session;
};

QSet<QString> keysOf(const QJsonObject& object) {
    const QStringList keys = object.keys();
    return QSet<QString>(keys.begin(), keys.end());
}

// Every operation's request as the hub receives it.
TEST_F(CavrelAPIClientTest, EveryOperationSendsItsMethodPathQueryHeadersAndBody) {
    using Run =
        std::function<APIRequest(const CavrelAPIClient&, QObject*, std::function<void(bool ok)>)>;
    auto ok = [](auto done) { return [done](const auto& result) { done(result.ok()); }; };
    const std::optional<QString> project = QStringLiteral("P");
    const std::optional<QString> none;
    struct Case {
        const char* name;
        Run run;
        const char* method;
        const char* path;
        std::optional<QString> project; // the one query item, when there is a query
        std::optional<QJsonObject> body;
    } cases[] = {
        {"listSessions",
         [&](auto& c, auto* x, auto d) { return c.listSessions(awkwardProject, x, ok(d)); }, "GET",
         "/v1/sessions", awkwardProject, std::nullopt},
        {"getSession", [&](auto& c, auto* x, auto d) { return c.getSession(7, x, ok(d)); }, "GET",
         "/v1/sessions/7", std::nullopt, std::nullopt},
        {"listRules",
         [&](auto& c, auto* x, auto d) { return c.listRules(awkwardProject, x, ok(d)); }, "GET",
         "/v1/rules", awkwardProject, std::nullopt},
        {"createRule global",
         [&](auto& c, auto* x, auto d) { return c.createRule("global", none, "T", "B", x, ok(d)); },
         "POST", "/v1/rules", std::nullopt,
         QJsonObject{{"scope", "global"}, {"title", "T"}, {"body", "B"}}},
        {"createRule project",
         [&](auto& c, auto* x, auto d) {
             return c.createRule("project", project, "T", "B", x, ok(d));
         },
         "POST", "/v1/rules", std::nullopt,
         QJsonObject{{"scope", "project"}, {"project", "P"}, {"title", "T"}, {"body", "B"}}},
        // An empty project is still a given project.
        {"createRule empty project",
         [&](auto& c, auto* x, auto d) {
             return c.createRule("global", QString(""), "T", "B", x, ok(d));
         },
         "POST", "/v1/rules", std::nullopt,
         QJsonObject{{"scope", "global"}, {"project", ""}, {"title", "T"}, {"body", "B"}}},
        {"updateRule",
         [&](auto& c, auto* x, auto d) { return c.updateRule(42, "T2", "B2\n\"q\"", x, ok(d)); },
         "PUT", "/v1/rules/42", std::nullopt, QJsonObject{{"title", "T2"}, {"body", "B2\n\"q\""}}},
        {"listSkills",
         [&](auto& c, auto* x, auto d) { return c.listSkills(awkwardProject, x, ok(d)); }, "GET",
         "/v1/skills", awkwardProject, std::nullopt},
        {"createSkill",
         [&](auto& c, auto* x, auto d) {
             return c.createSkill("project", project, "n", "", "b", x, ok(d));
         },
         "POST", "/v1/skills", std::nullopt,
         QJsonObject{{"scope", "project"},
                     {"project", "P"},
                     {"name", "n"},
                     {"description", ""},
                     {"body", "b"}}},
        {"updateSkill empty description",
         [&](auto& c, auto* x, auto d) { return c.updateSkill(9, "n2", "", "b2", x, ok(d)); },
         "PUT", "/v1/skills/9", std::nullopt,
         QJsonObject{{"name", "n2"}, {"description", ""}, {"body", "b2"}}},
        {"listMemory",
         [&](auto& c, auto* x, auto d) { return c.listMemory(awkwardProject, x, ok(d)); }, "GET",
         "/v1/memory", awkwardProject, std::nullopt},
        {"createMemory",
         [&](auto& c, auto* x, auto d) {
             return c.createMemory("global", none, "reference", "t", "b", x, ok(d));
         },
         "POST", "/v1/memory", std::nullopt,
         QJsonObject{{"scope", "global"}, {"type", "reference"}, {"title", "t"}, {"body", "b"}}},
        {"updateMemory",
         [&](auto& c, auto* x, auto d) {
             return c.updateMemory(5, "feedback", QString::fromUtf8("é😀"), "b", x, ok(d));
         },
         "PUT", "/v1/memory/5", std::nullopt,
         QJsonObject{{"type", "feedback"}, {"title", QString::fromUtf8("é😀")}, {"body", "b"}}},
        {"getContext",
         [&](auto& c, auto* x, auto d) { return c.getContext(awkwardProject, x, ok(d)); }, "GET",
         "/v1/context", awkwardProject, std::nullopt},
        {"deleteRule negative id",
         [&](auto& c, auto* x, auto d) { return c.deleteRule(-3, x, ok(d)); }, "DELETE",
         "/v1/rules/-3", std::nullopt, std::nullopt},
        {"deleteSkill", [&](auto& c, auto* x, auto d) { return c.deleteSkill(9, x, ok(d)); },
         "DELETE", "/v1/skills/9", std::nullopt, std::nullopt},
        {"deleteMemory", [&](auto& c, auto* x, auto d) { return c.deleteMemory(5, x, ok(d)); },
         "DELETE", "/v1/memory/5", std::nullopt, std::nullopt},
    };
    const CavrelAPIClient api = client();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<bool> succeeded;
        QObject context;
        c.run(api, &context, [&](bool ok) { succeeded = ok; });
        ASSERT_TRUE(test::waitUntil([&] { return succeeded.has_value(); }, test::waitLimitMs));
        EXPECT_TRUE(*succeeded) << "the fake refuses requests of the wrong shape";

        const auto& request = lastRequest();
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.rawPath, c.path);
        EXPECT_EQ(request.header("Authorization"), "Bearer test-token");
        if (c.project) {
            ASSERT_EQ(request.query.size(), 1);
            EXPECT_EQ(request.query[0].first, "project");
            EXPECT_EQ(request.query[0].second, *c.project)
                << "the value survives form decoding unchanged";
        } else {
            EXPECT_FALSE(request.hasQuery) << "no \"?\" at all: " << request.rawQuery.toStdString();
        }
        if (c.body) {
            EXPECT_EQ(request.header("Content-Type"), "application/json");
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
            ASSERT_TRUE(document.isObject()) << request.body.toStdString();
            EXPECT_EQ(keysOf(document.object()), keysOf(*c.body));
            EXPECT_EQ(document.object(), *c.body);
            EXPECT_FALSE(request.body.contains(' '))
                << "compact JSON: " << request.body.toStdString();
        } else {
            EXPECT_FALSE(request.hasHeader("Content-Type"));
            EXPECT_TRUE(request.body.isEmpty());
        }
        ASSERT_FALSE(session.requests.isEmpty());
        EXPECT_EQ(session.requests.constLast().transferTimeout(), 60'000);
    }
}

TEST_F(CavrelAPIClientTest, QueryValueIsEscapedBeyondTheUnreservedSet) {
    const auto result = await<QList<Rule>>(
        [&](QObject* x, auto done) { return client().listRules(awkwardProject, x, done); });
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(lastRequest().rawQuery, "project=git%2Bssh%3A%2F%2Fh%2Fa%20b%26c%3Dd%23%C3%A9");
}

TEST_F(CavrelAPIClientTest, RepliesBecomeRecordsInTheHubsOrder) {
    const CavrelAPIClient api = client();
    const auto rules =
        await<QList<Rule>>([&](QObject* x, auto done) { return api.listRules("P", x, done); });
    ASSERT_TRUE(rules.ok()) << rules.error().message.toStdString();
    ASSERT_EQ(rules.value().size(), 2);
    EXPECT_EQ(rules.value()[0], (Rule{-3, "global", "G", "g", "u"}));
    EXPECT_EQ(rules.value()[1], (Rule{42, "project", "Old", "old", "u"}));

    // The fake answers a create with 201 and the new record.
    const auto created = await<Rule>([&](QObject* x, auto done) {
        return api.createRule("project", QString("P"), "New", "new", x, done);
    });
    ASSERT_TRUE(created.ok()) << created.error().message.toStdString();
    EXPECT_EQ(created.value(), (Rule{43, "project", "New", "new", "fake"}));

    const auto updated = await<Skill>(
        [&](QObject* x, auto done) { return api.updateSkill(9, "n2", "", "b2", x, done); });
    ASSERT_TRUE(updated.ok()) << updated.error().message.toStdString();
    EXPECT_EQ(updated.value(), (Skill{9, "project", "n2", "", "b2", "fake"}));

    const auto detail =
        await<SessionDetail>([&](QObject* x, auto done) { return api.getSession(7, x, done); });
    ASSERT_TRUE(detail.ok()) << detail.error().message.toStdString();
    EXPECT_EQ(
        detail.value().endedAt.toMSecsSinceEpoch(),
        QDateTime::fromString("2025-01-05T13:30:00.250Z", Qt::ISODateWithMs).toMSecsSinceEpoch());
    EXPECT_EQ(detail.value().messages, (QList<SessionMessage>{{1, "user", "hi", std::nullopt}}));

    const auto context =
        await<ProjectContext>([&](QObject* x, auto done) { return api.getContext("P", x, done); });
    ASSERT_TRUE(context.ok()) << context.error().message.toStdString();
    EXPECT_EQ(context.value().rules.size(), 3);
    EXPECT_EQ(context.value().recentSessions.value(0).id, 7);

    // Several operations at once on copies of one client.
    int finished = 0;
    QObject x;
    const CavrelAPIClient copy = api;
    api.listSkills("P", &x, [&](auto r) { finished += r.ok(); });
    copy.listMemory("P", &x, [&](auto r) { finished += r.ok(); });
    copy.listSessions("P", &x, [&](auto r) { finished += r.ok(); });
    ASSERT_TRUE(test::waitUntil([&] { return finished == 3; }, test::waitLimitMs));
}

// How each kind of unsuccessful reply reaches the caller.
TEST_F(CavrelAPIClientTest, FailedRepliesBecomeErrorsWithClearMessages) {
    using Kind = APIError::Kind;
    using Run = std::function<std::optional<APIError>(const CavrelAPIClient&)>;
    auto error = [](auto result) -> std::optional<APIError> {
        if (result.ok()) {
            return std::nullopt;
        }
        return result.error();
    };
    const Run listRules = [&](const CavrelAPIClient& c) {
        return error(
            await<QList<Rule>>([&](QObject* x, auto d) { return c.listRules("P", x, d); }));
    };
    const Run updateRule = [&](const CavrelAPIClient& c) {
        return error(
            await<Rule>([&](QObject* x, auto d) { return c.updateRule(42, "t", "b", x, d); }));
    };
    const Run deleteSkill = [&](const CavrelAPIClient& c) {
        return error(await<void>([&](QObject* x, auto d) { return c.deleteSkill(12345, x, d); }));
    };
    const Run deleteMemory = [&](const CavrelAPIClient& c) {
        return error(await<void>([&](QObject* x, auto d) { return c.deleteMemory(5, x, d); }));
    };
    auto fault = [](const char* method, const char* path, int status, QByteArray body) {
        FakeHub::Fault f;
        f.method = method;
        f.path = path;
        f.status = status;
        f.body = std::move(body);
        return f;
    };
    FakeHub::Fault noContent = fault("PUT", "/v1/rules/42", 204, "");
    FakeHub::Fault badJson = fault("GET", "/v1/rules", 200, "[{\"id\":1,");
    badJson.contentType = "application/json";
    FakeHub::Fault brokenElement = fault(
        "GET", "/v1/rules", 200,
        R"([{"id":1,"scope":"global","title":"t","body":"b","updated_by":"u"},{"id":2,"scope":"global","title":"t","body":"b"}])");
    FakeHub::Fault truncated = fault("GET", "/v1/rules", 200, "[");
    truncated.declaredLength = 1000;
    FakeHub::Fault huge = fault("GET", "/v1/rules", 200, "[]");
    huge.declaredLength = CavrelAPIClient::maximumReplySize + 1;
    // Qt sends a request again once when a kept-alive connection closes before any answer,
    // so the hub must drop every attempt.
    FakeHub::Fault dropped = fault("GET", "/v1/rules", 0, "");
    dropped.times = -1;
    FakeHub::Fault acceptedDelete = fault("DELETE", "/v1/memory/5", 202, "queued, not JSON");

    struct Case {
        const char* name;
        std::optional<FakeHub::Fault> fault;
        Run run;
        std::optional<Kind> kind; // nullopt: success
        QString message;          // exact for Refused, a part otherwise
    } cases[] = {
        {"status 500 with a text body", fault("GET", "/v1/rules", 500, "database is locked"),
         listRules, Kind::Refused, "GET /v1/rules failed: database is locked"},
        {"refused with an empty body", fault("GET", "/v1/rules", 503, ""), listRules, Kind::Refused,
         "GET /v1/rules failed: "},
        {"body that is not UTF-8", fault("PUT", "/v1/rules/42", 500, "caf\xe9 \xff"), updateRule,
         Kind::Refused, "PUT /v1/rules/42 failed: "},
        {"UTF-16 surrogate encoded in UTF-8", fault("PUT", "/v1/rules/42", 409, "\xed\xa0\x80"),
         updateRule, Kind::Refused, "PUT /v1/rules/42 failed: "},
        {"non-ASCII body kept", fault("GET", "/v1/rules", 400, "d\xc3\xa9j\xc3\xa0 vu"), listRules,
         Kind::Refused, QString::fromUtf8("GET /v1/rules failed: déjà vu")},
        {"404 from the hub itself", std::nullopt, deleteSkill, Kind::Refused,
         "DELETE /v1/skills/12345 failed: not found"},
        {"update answered 204 without a record", noContent, updateRule, Kind::Decoding,
         "the reply is empty"},
        {"success with malformed JSON", badJson, listRules, Kind::Decoding, "not valid JSON"},
        {"one element without a key", brokenElement, listRules, Kind::Decoding, "[1].updated_by"},
        {"connection dropped without an answer", dropped, listRules, Kind::Transport, ""},
        {"reply shorter than announced", truncated, listRules, Kind::Transport, ""},
        {"reply announced larger than the limit", huge, listRules, Kind::Decoding,
         "larger than 128 MiB"},
        {"delete accepted with 202 and a body", acceptedDelete, deleteMemory, std::nullopt, ""},
    };
    const CavrelAPIClient api = client();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hub.reset();
        if (c.fault) {
            hub.addFault(*c.fault);
        }
        const auto result = c.run(api);
        if (!c.kind) {
            EXPECT_FALSE(result.has_value()) << result->message.toStdString();
            continue;
        }
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->kind, *c.kind) << result->message.toStdString();
        if (*c.kind == Kind::Refused) {
            EXPECT_EQ(result->message, c.message);
        } else {
            EXPECT_TRUE(result->message.contains(c.message)) << result->message.toStdString();
            EXPECT_FALSE(result->message.isEmpty());
        }
    }
}

TEST_F(CavrelAPIClientTest, WrongTokenIsRefusedByTheHub) {
    const CavrelAPIClient api(hub.baseUrl(), "not-the-token", &session);
    const auto result =
        await<QList<Rule>>([&](QObject* x, auto done) { return api.listRules("P", x, done); });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, "GET /v1/rules failed: unauthorized");
}

// A hub that sends a byte now and then is never idle long enough for the idle time-out: only
// the deadline of the whole request ends the wait.
TEST_F(CavrelAPIClientTest, AReplyThatNeverFinishesFailsAtTheRequestsDeadline) {
    FakeHub::Fault trickling;
    trickling.method = "GET";
    trickling.path = "/v1/rules";
    trickling.status = 200;
    trickling.contentType = "application/json";
    trickling.body = "[" + QByteArray(200, ' ') + "]";
    trickling.trickleMs = 10;
    hub.addFault(trickling);
    const CavrelAPIClient api(hub.baseUrl(), hub.token(), &session, 300);
    const auto result =
        await<QList<Rule>>([&](QObject* x, auto done) { return api.listRules("P", x, done); });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, APIError::Kind::Transport);
    EXPECT_EQ(result.error().message,
              "The hub did not complete its reply to GET /v1/rules within 0.3 seconds");

    // A reply that comes in time is not cut short.
    const auto next =
        await<QList<Rule>>([&](QObject* x, auto done) { return api.listRules("P", x, done); });
    EXPECT_TRUE(next.ok()) << next.error().message.toStdString();
}

TEST_F(CavrelAPIClientTest, ClosedPortFailsEveryOperationWithTheTransportError) {
    const test::RefusingPort closed;
    const CavrelAPIClient api(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed.port())), "t",
                              &session);
    const QList<std::function<APIResult<void>()>> operations = {
        [&] {
            auto r = await<QList<SessionSummary>>(
                [&](QObject* x, auto d) { return api.listSessions("P", x, d); });
            return r.ok() ? APIResult<void>() : APIResult<void>(r.error());
        },
        [&] {
            auto r = await<Rule>([&](QObject* x, auto d) {
                return api.createRule("global", std::nullopt, "t", "b", x, d);
            });
            return r.ok() ? APIResult<void>() : APIResult<void>(r.error());
        },
        [&] { return await<void>([&](QObject* x, auto d) { return api.deleteMemory(1, x, d); }); },
    };
    for (const auto& operation : operations) {
        const auto result = operation();
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind, APIError::Kind::Transport);
        EXPECT_TRUE(result.error().message.contains("refused", Qt::CaseInsensitive))
            << result.error().message.toStdString();
    }
}

TEST_F(CavrelAPIClientTest, HealthCheckIsTrueOnlyFor200AndSendsNoToken) {
    struct Case {
        const char* name;
        int status; // -1: the hub is closed
        bool healthy;
    } cases[] = {
        {"200", 200, true}, {"204", 204, false}, {"503", 503, false}, {"closed", -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hub.reset();
        hub.setHealthStatus(c.status);
        if (c.status < 0) {
            hub.close();
        }
        std::optional<bool> healthy;
        QObject context;
        client().healthCheck(&context, [&](bool value) { healthy = value; });
        ASSERT_TRUE(test::waitUntil([&] { return healthy.has_value(); }, test::waitLimitMs));
        EXPECT_EQ(*healthy, c.healthy);
        if (c.status >= 0) {
            ASSERT_EQ(hub.requests().size(), 1);
            EXPECT_EQ(lastRequest().rawPath, "/healthz");
            EXPECT_FALSE(lastRequest().hasHeader("Authorization"));
        }
    }
}

TEST_F(CavrelAPIClientTest, RedirectToAnotherOriginNeverCarriesTheToken) {
    FakeHub other;
    ASSERT_TRUE(other.listen());
    FakeHub::Fault redirect;
    redirect.path = "/v1/rules";
    redirect.status = 302;
    redirect.body = "";
    redirect.headers = {
        {"Location", other.baseUrl().toString().toLatin1() + "/v1/rules?project=P"}};
    hub.addFault(redirect);
    const auto result =
        await<QList<Rule>>([&](QObject* x, auto done) { return client().listRules("P", x, done); });
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(other.requests().isEmpty());
}

// A completion must not run once its caller is gone or has given up.
TEST_F(CavrelAPIClientTest, CancelledOrOrphanedOperationsNeverComplete) {
    hub.setDelay("GET", "/v1/rules", 200);
    const CavrelAPIClient api = client();
    int calls = 0;
    QObject context;

    // Cancelled before the event loop ever ran.
    APIRequest early = api.listRules("P", &context, [&](auto) { ++calls; });
    early.cancel();
    EXPECT_TRUE(early.isFinished());

    // Cancelled while the hub holds the reply.
    QSignalSpy arrived(&hub, &FakeHub::requestReceived);
    APIRequest inFlight = api.listRules("P", &context, [&](auto) { ++calls; });
    ASSERT_TRUE(test::waitUntil([&] { return arrived.count() >= 1; }, test::waitLimitMs));
    inFlight.cancel();

    // Its context destroyed while the hub holds the reply.
    auto* doomed = new QObject;
    api.listRules("P", doomed, [&](auto) { ++calls; });
    ASSERT_TRUE(test::waitUntil([&] { return arrived.count() >= 2; }, test::waitLimitMs));
    delete doomed;

    // Cancelled after the network part finished, while the reply is decoded on the pool or its
    // delivery is queued.
    hub.setDelay("GET", "/v1/rules", 0);
    APIRequest late = api.listRules("P", &context, [&](auto) { ++calls; });
    const QPointer<QNetworkReply> reply = session.replies.constLast();
    ASSERT_TRUE(test::waitUntil([&] { return reply.isNull(); }, test::waitLimitMs));
    late.cancel();

    // A later operation completes normally; after it and the pool, every delivery has run.
    const auto after =
        await<QList<Skill>>([&](QObject* x, auto done) { return api.listSkills("P", x, done); });
    EXPECT_TRUE(after.ok());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(CavrelAPIClientTest, UnwritableRequestsFailLaterWithoutSending) {
    struct Case {
        const char* name;
        QString token;
        QString title;
    } cases[] = {
        {"lone surrogate in a body value", "test-token", QString(QChar(0xD800)) + "x"},
        {"line break in the token", "test-token\r\nX-Injected: 1", "t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hub.reset();
        const CavrelAPIClient api(hub.baseUrl(), c.token, &session);
        std::optional<APIResult<Rule>> result;
        QObject context;
        api.createRule("global", std::nullopt, c.title, "b", &context,
                       [&](APIResult<Rule> r) { result.emplace(r); });
        EXPECT_FALSE(result.has_value()) << "completions never run inside the call";
        ASSERT_TRUE(test::waitUntil([&] { return result.has_value(); }, test::waitLimitMs));
        ASSERT_FALSE(result->ok());
        EXPECT_EQ(result->error().kind, APIError::Kind::Encoding);
        EXPECT_TRUE(hub.requests().isEmpty());
    }
}

} // namespace
