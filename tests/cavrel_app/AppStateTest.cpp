#include "AppState.h"
#include "AppTestSupport.h"
#include "FakeHub.h"
#include "HubTestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <utility>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using cavrel::AppState;
using cavrel::CavrelHubManager;
using cavrel::ProjectStore;
using Status = CavrelHubManager::Status;

QT_BEGIN_NAMESPACE
void PrintTo(const QUrl& url, std::ostream* out) {
    *out << url.toString().toStdString();
}
QT_END_NAMESPACE

namespace {

using namespace std::chrono_literals;

using cavrel::test::FakeProcesses;
using cavrel::test::ScopedEnvironment;

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

void runToEnd(AppState& state) {
    bool done = false;
    state.start([&done] { done = true; });
    ASSERT_TRUE(cavrel::test::waitUntil([&done] { return done; }));
}

TEST(AppStateBinaryPath, InstalledProgramThenVariableThenSearchPath) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString appDir = root.filePath("bin");
    const QString installed = root.filePath("libexec/cavrel-app/cavrel");
    QDir().mkpath(appDir);
    QDir().mkpath(root.filePath("libexec/cavrel-app"));

    struct Case {
        const char* name;
        bool installedFile;
        std::optional<QString> variable;
        QString expected;
    };
    const Case cases[] = {
        {"the installed program wins over the variable", true, "/opt/cavrel", installed},
        {"the variable exactly as set", false, " /opt/my tools/cavrel ", " /opt/my tools/cavrel "},
        {"an empty variable is the empty path", false, "", ""},
        {"neither: the bare name", false, std::nullopt, "cavrel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(installed);
        if (c.installedFile) {
            QFile file(installed);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        QProcessEnvironment environment;
        if (c.variable) {
            environment.insert("CAVREL_BINARY", *c.variable);
        }
        EXPECT_EQ(AppState::cavrelBinaryPath(appDir, environment), c.expected);
    }

    // A folder of that name is no program.
    QFile::remove(installed);
    QDir().mkpath(installed);
    EXPECT_EQ(AppState::cavrelBinaryPath(appDir, QProcessEnvironment()), "cavrel");
}

TEST(AppStateHome, HomeVariableElseThePasswordEntry) {
    ScopedEnvironment environment;
    environment.set("HOME", "/home/elsewhere");
    EXPECT_EQ(AppState::homeDirectory(), "/home/elsewhere");
    environment.set("HOME", "");
    const struct passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(AppState::homeDirectory(), QFile::decodeName(entry->pw_dir));
}

TEST(AppStateConstruction, LoadsProjectsAndTouchesNoFile) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ScopedEnvironment environment;
    environment.set("HOME", QFile::encodeName(home.path()));
    environment.set("CAVREL_BINARY", "/opt/cavrel/bin/cavrel");

    auto settings =
        std::make_unique<QSettings>(home.filePath("settings.conf"), QSettings::IniFormat);
    settings->setValue(
        ProjectStore::recentsKey,
        QByteArray(R"([{"path":"/w/a","gitRemoteURL":"git@h:a.git"},{"path":"/w/b"}])"));
    int resolverCalls = 0;
    AppState::Setup setup;
    setup.defaults = std::move(settings);
    setup.gitRemoteResolver = [&resolverCalls](const QString&) {
        ++resolverCalls;
        return std::nullopt;
    };
    AppState state(std::move(setup));

    EXPECT_EQ(state.projectStore().activeProject(),
              (ProjectStore::Project{"/w/a", QString("git@h:a.git")}));
    EXPECT_EQ(state.projectStore().recents().size(), 2);
    EXPECT_EQ(resolverCalls, 0);
    EXPECT_TRUE(state.terminalSessions().tabs().isEmpty());
    EXPECT_FALSE(state.terminalSessions().activeTabID());
    EXPECT_FALSE(state.apiClient());
    EXPECT_EQ(state.hubManager().status(), Status::notStarted());
    EXPECT_EQ(state.hubManager().configPath(), home.filePath(".cavrel/config.yaml"));
    EXPECT_EQ(state.hubManager().cavrelBinaryPath(), "/opt/cavrel/bin/cavrel");
    EXPECT_EQ(state.hubManager().timing().probePause, 100ms);
    EXPECT_FALSE(QFileInfo::exists(home.filePath(".cavrel"))) << "nothing is written yet";
}

TEST(AppStateStartUp, WritesTheConfigLaunchesTheFakeHubAndPublishesAClient) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ScopedEnvironment environment;
    FakeProcesses fakes(home, FAKE_CAVREL_PATH, environment);

    AppState state;
    int published = 0;
    QObject::connect(&state, &AppState::apiClientChanged, [&] {
        ++published;
        EXPECT_TRUE(state.apiClient()) << "the new client is in place when observers hear of it";
    });
    runToEnd(state);

    const QString configPath = home.filePath(".cavrel/config.yaml");
    const std::optional<CavrelHubManager::HubConfig> config =
        CavrelHubManager::parseExistingConfig(configPath);
    ASSERT_TRUE(config) << "a fresh configuration is written";
    EXPECT_EQ(modeOf(configPath), 0600u);
    EXPECT_EQ(modeOf(home.filePath(".cavrel")), 0700u);
    const QUrl baseURL("http://127.0.0.1:" + QString::number(config->port));
    ASSERT_EQ(state.hubManager().status(), Status::running(baseURL, config->token));
    ASSERT_TRUE(state.apiClient());
    EXPECT_EQ(state.apiClient()->baseURL(), baseURL);
    EXPECT_EQ(state.apiClient()->token(), config->token);
    EXPECT_EQ(published, 1);

    ASSERT_TRUE(cavrel::test::waitUntil([&] { return fakes.launches("watch").size() == 1; }));
    const auto serves = fakes.launches("serve");
    ASSERT_EQ(serves.size(), 1);
    EXPECT_EQ(serves[0].second, (QStringList{"serve", "-config", configPath}));
    ASSERT_TRUE(state.hubManager().process());
    EXPECT_EQ(state.hubManager().process()->pid(), serves[0].first);
    EXPECT_EQ(fakes.launches("watch")[0].second,
              (QStringList{"watch", "-config", configPath, "-state-file",
                           home.filePath(".cavrel/watch-state.json")}));

    // The published client reaches the hub with the configuration's token.
    std::optional<cavrel::APIResult<QList<cavrel::Rule>>> rules;
    QObject context;
    state.apiClient()->listRules(
        "https://example.invalid/team/repo.git", &context,
        [&rules](cavrel::APIResult<QList<cavrel::Rule>> result) { rules = std::move(result); });
    ASSERT_TRUE(cavrel::test::waitUntil([&rules] { return rules.has_value(); }));
    EXPECT_TRUE(rules->ok()) << rules->error().message.toStdString();

    // A second start finds the hub answering: a fresh client, no second hub or watcher.
    runToEnd(state);
    EXPECT_EQ(published, 2);
    EXPECT_EQ(state.apiClient()->baseURL(), baseURL);
    EXPECT_EQ(state.apiClient()->token(), config->token);
    EXPECT_EQ(state.hubManager().process()->pid(), serves[0].first);
    EXPECT_EQ(fakes.launches("serve").size(), 1);
    EXPECT_EQ(fakes.launches("watch").size(), 1);
}

TEST(AppStateStartUp, AFailedStartKeepsTheLastClient) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    // Silent until the test's own hub takes the port.
    std::optional<cavrel::test::RefusingPort> silent(std::in_place);
    const quint16 port = silent->port();
    QDir().mkpath(home.filePath(".cavrel"));
    {
        QFile file(home.filePath(".cavrel/config.yaml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            CavrelHubManager::configText({port, home.filePath(".cavrel/cavrel.db"), "test-token"})
                .toUtf8());
    }
    ScopedEnvironment environment;
    environment.set("HOME", QFile::encodeName(home.path()));
    environment.set("CAVREL_BINARY", "/bin/false"); // launches fine, never answers

    AppState state({std::make_unique<QSettings>(home.filePath("s.conf"), QSettings::IniFormat),
                    &ProjectStore::resolveGitRemote, CavrelHubManager::Timing{1ms, 2000ms}});
    int published = 0;
    QObject::connect(&state, &AppState::apiClientChanged, [&published] { ++published; });

    runToEnd(state);
    EXPECT_EQ(state.hubManager().status(),
              Status::failed("cavrel serve did not become healthy within 5 seconds"));
    EXPECT_FALSE(state.apiClient());

    cavrel::fake::FakeHub hub({"test-token"});
    silent.reset();
    ASSERT_TRUE(hub.listen(port)) << hub.errorString().toStdString();
    const QUrl hubURL = hub.baseUrl();
    runToEnd(state);
    EXPECT_EQ(state.hubManager().status().kind, Status::Kind::running);
    ASSERT_TRUE(state.apiClient());
    EXPECT_EQ(state.apiClient()->baseURL(), hubURL);
    EXPECT_EQ(published, 1);

    hub.close();
    runToEnd(state);
    EXPECT_EQ(state.hubManager().status().kind, Status::Kind::failed);
    ASSERT_TRUE(state.apiClient()) << "never emptied again";
    EXPECT_EQ(state.apiClient()->baseURL(), hubURL);
    EXPECT_EQ(published, 1);
}

} // namespace
