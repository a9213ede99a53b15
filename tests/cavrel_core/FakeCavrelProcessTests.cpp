#include "CavrelAPIClient.h"
#include "HubTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace cavrel;
using cavrel::test::await;

namespace {

// `fake-cavrel` launched as the application launches `cavrel`, in a scratch folder with its
// own config file and invocation log. The process is ended by its own handle.
class FakeCavrelProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        session.setProxy(QNetworkProxy::NoProxy);
        port = test::closedPort();
        configPath = dir.filePath(".cavrel/config.yaml");
        logPath = dir.filePath("invocations.log");
        ASSERT_TRUE(QDir(dir.path()).mkpath(".cavrel"));
        // The form the application writes: five lines, no final newline.
        writeFile(configPath, QStringLiteral("listen_addr: \"127.0.0.1:%1\"\n"
                                             "db_path: \"%2/.cavrel/cavrel.db\"\n"
                                             "tokens: [\"%3\"]\n"
                                             "hub_url: \"http://127.0.0.1:%1\"\n"
                                             "token: \"%3\"")
                                  .arg(port)
                                  .arg(dir.path(), token)
                                  .toUtf8());
    }

    void TearDown() override {
        for (QProcess* process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(test::waitLimitMs);
            }
            delete process;
        }
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QProcess* launch(const QStringList& arguments, const QMap<QString, QString>& environment = {}) {
        auto* process = new QProcess;
        processes.append(process);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("FAKE_CAVREL_LOG", logPath);
        for (auto it = environment.begin(); it != environment.end(); ++it) {
            env.insert(it.key(), it.value());
        }
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.path());
        process->start(QStringLiteral(FAKE_CAVREL_PATH), arguments);
        EXPECT_TRUE(process->waitForStarted(test::waitLimitMs));
        return process;
    }

    QList<QJsonObject> invocations() const {
        QFile file(logPath);
        QList<QJsonObject> lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (!line.isEmpty()) {
                    lines.append(QJsonDocument::fromJson(line).object());
                }
            }
        }
        return lines;
    }

    bool waitHealthy(const CavrelAPIClient& api) {
        return test::waitUntil(
            [&] {
                std::optional<bool> healthy;
                QObject context;
                api.healthCheck(&context, [&](bool value) { healthy = value; });
                return test::waitUntil([&] { return healthy.has_value(); }, test::waitLimitMs) &&
                       *healthy;
            },
            test::waitLimitMs);
    }

    QByteArray fetch(const QString& path) {
        QNetworkReply* reply = session.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path))));
        EXPECT_TRUE(test::waitUntil([&] { return reply->isFinished(); }, test::waitLimitMs));
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }

    QTemporaryDir dir;
    QNetworkAccessManager session;
    QList<QProcess*> processes;
    quint16 port = 0;
    QString configPath;
    QString logPath;
    QString token = QStringLiteral("5B3C9E0A-1F2D-4C3B-9A8E-7D6C5B4A3F21");
};

TEST_F(FakeCavrelProcessTest, ServeAnswersTheClientAndShowsWhatItReceived) {
    const QString seedPath = dir.filePath("seed.json");
    writeFile(seedPath, R"({
        "rules": [{"scope": "global", "title": "Seeded", "body": "b", "updated_by": "u"}],
        "sessions": [{"project": "B", "project_id": 1, "tool": "t", "source": "s", "status": "x",
                      "started_at": "2025-01-05T15:04:05Z", "ended_at": null}]
    })");
    QProcess* hub = launch({"serve", "-config", configPath}, {{"FAKE_CAVREL_SEED", seedPath}});
    const CavrelAPIClient api(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), token,
                              &session);
    ASSERT_TRUE(waitHealthy(api)) << hub->readAllStandardError().toStdString();

    const auto created = await<Rule>([&](QObject* x, auto done) {
        return api.createRule("project", QString("P"), "T", "B", x, done);
    });
    ASSERT_TRUE(created.ok()) << created.error().message.toStdString();
    const auto rules =
        await<QList<Rule>>([&](QObject* x, auto done) { return api.listRules("P", x, done); });
    ASSERT_TRUE(rules.ok()) << rules.error().message.toStdString();
    ASSERT_EQ(rules.value().size(), 2);
    EXPECT_EQ(rules.value()[0].title, "Seeded");
    EXPECT_EQ(rules.value()[1], created.value());

    // The planted session without an end fails the whole list.
    const auto sessions = await<QList<SessionSummary>>(
        [&](QObject* x, auto done) { return api.listSessions("B", x, done); });
    ASSERT_FALSE(sessions.ok());
    EXPECT_TRUE(sessions.error().message.contains("[0].ended_at"))
        << sessions.error().message.toStdString();

    const CavrelAPIClient stranger(api.baseURL(), "wrong", &session);
    const auto refused =
        await<QList<Rule>>([&](QObject* x, auto done) { return stranger.listRules("P", x, done); });
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "GET /v1/rules failed: unauthorized");

    const QJsonArray received = QJsonDocument::fromJson(fetch("/_fake/requests")).array();
    QJsonObject post;
    for (const QJsonValue& request : received) {
        if (request["method"] == "POST") {
            post = request.toObject();
        }
    }
    EXPECT_EQ(post["path"], "/v1/rules");
    EXPECT_EQ(QJsonDocument::fromJson(post["body"].toString().toUtf8()).object(),
              (QJsonObject{{"scope", "project"}, {"project", "P"}, {"title", "T"}, {"body", "B"}}));

    const auto lines = invocations();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0]["argv"].toArray(),
              (QJsonArray{QStringLiteral(FAKE_CAVREL_PATH), "serve", "-config", configPath}));
    EXPECT_EQ(lines[0]["pid"].toInteger(), hub->processId());
}

TEST_F(FakeCavrelProcessTest, WatchStaysAliveQuietlyAndWritesNothing) {
    const QString stateFile = dir.filePath(".cavrel/watch-state.json");
    QProcess* watcher = launch({"watch", "-config", configPath, "-state-file", stateFile});
    ASSERT_TRUE(test::waitUntil([&] { return invocations().size() == 1; }, test::waitLimitMs));
    EXPECT_FALSE(watcher->waitForFinished(300)) << "exited with " << watcher->exitCode();
    EXPECT_EQ(watcher->state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(stateFile));
    EXPECT_FALSE(QFile::exists(dir.filePath(".cavrel/cavrel.db")));
    EXPECT_TRUE(watcher->readAll().isEmpty());
    EXPECT_EQ(invocations()[0]["argv"].toArray().at(1), "watch");

    // Nobody stops the watcher; it ends itself once idle.
    QProcess* idle = launch({"watch", "-config", configPath, "-state-file", stateFile},
                            {{"FAKE_CAVREL_IDLE_EXIT_S", "1"}});
    ASSERT_TRUE(idle->waitForFinished(test::waitLimitMs));
    EXPECT_EQ(idle->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(idle->exitCode(), 0);
}

TEST_F(FakeCavrelProcessTest, UnusableLaunchesExitWithAnError) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, port));
    const QString noPort = dir.filePath("no-port.yaml");
    writeFile(noPort, "db_path: \"x\"\ntoken: \"t\"");
    struct Case {
        const char* name;
        QStringList arguments;
        int exitCode;
        const char* stderrPart;
    } cases[] = {
        {"port taken", {"serve", "-config", configPath}, 1, "cannot listen on 127.0.0.1"},
        {"missing config", {"serve", "-config", dir.filePath("absent.yaml")}, 2, "cannot read"},
        {"config without listen_addr", {"serve", "-config", noPort}, 2, "no listen_addr"},
        {"serve without -config", {"serve"}, 2, "usage"},
        {"watch without -state-file", {"watch", "-config", configPath}, 2, "usage"},
        {"unknown command", {"frobnicate"}, 2, "usage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess* process = launch(c.arguments);
        ASSERT_TRUE(process->waitForFinished(test::waitLimitMs));
        EXPECT_EQ(process->exitCode(), c.exitCode);
        EXPECT_TRUE(process->readAllStandardError().contains(c.stderrPart));
    }
    EXPECT_EQ(invocations().size(), std::size(cases))
        << "every invocation is logged, failed ones too";
}

TEST_F(FakeCavrelProcessTest, AgentToolPrintsANoticeInsteadOfRunning) {
    QProcess* agent = launch({"claude"});
    ASSERT_TRUE(agent->waitForFinished(test::waitLimitMs));
    EXPECT_EQ(agent->exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(agent->readAllStandardOutput()).trimmed(),
              QStringLiteral("fake-cavrel: no real agent here (would run 'claude' in %1)")
                  .arg(dir.path()));
}

// The demo records must read with the real decoder, or a person trying the application sees
// only errors.
TEST_F(FakeCavrelProcessTest, DemoHubServesRecordsTheClientReads) {
    QProcess* demo = launch({"demo"});
    ASSERT_TRUE(test::waitUntil([&] { return demo->canReadLine(); }, test::waitLimitMs));
    const QString firstLine = QString::fromUtf8(demo->readLine());
    const qsizetype at = firstLine.indexOf("http://127.0.0.1:");
    ASSERT_GE(at, 0) << firstLine.toStdString();
    const QUrl base(firstLine.mid(at).section(u' ', 0, 0));
    ASSERT_TRUE(firstLine.contains("\"demo-token\""));
    const CavrelAPIClient api(base, "demo-token", &session);
    const QString project = "https://example.invalid/demo.git";

    const auto rules =
        await<QList<Rule>>([&](QObject* x, auto done) { return api.listRules(project, x, done); });
    ASSERT_TRUE(rules.ok()) << rules.error().message.toStdString();
    EXPECT_GE(rules.value().size(), 2);
    const auto skills = await<QList<Skill>>(
        [&](QObject* x, auto done) { return api.listSkills(project, x, done); });
    ASSERT_TRUE(skills.ok()) << skills.error().message.toStdString();
    const auto memory = await<QList<MemoryEntry>>(
        [&](QObject* x, auto done) { return api.listMemory(project, x, done); });
    ASSERT_TRUE(memory.ok()) << memory.error().message.toStdString();
    const auto sessions = await<QList<SessionSummary>>(
        [&](QObject* x, auto done) { return api.listSessions(project, x, done); });
    ASSERT_TRUE(sessions.ok()) << sessions.error().message.toStdString();
    ASSERT_FALSE(sessions.value().isEmpty());
    const qint64 id = sessions.value()[0].id;
    const auto detail =
        await<SessionDetail>([&](QObject* x, auto done) { return api.getSession(id, x, done); });
    ASSERT_TRUE(detail.ok()) << detail.error().message.toStdString();
    EXPECT_FALSE(detail.value().messages.isEmpty());
    const auto context = await<ProjectContext>(
        [&](QObject* x, auto done) { return api.getContext(project, x, done); });
    ASSERT_TRUE(context.ok()) << context.error().message.toStdString();
}

} // namespace
