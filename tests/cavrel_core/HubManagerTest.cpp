#include "CavrelHubManager.h"
#include "HubTestSupport.h"
#include "PrintTo.h"
#include "ProbeServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using cavrel::CavrelHubManager;
using cavrel::LaunchResult;
using cavrel::ProcessHandle;
using Status = CavrelHubManager::Status;

namespace {

using namespace std::chrono_literals;

struct Launch {
    QString program;
    QStringList arguments;
};

// Records launches instead of starting processes; each gets a made-up pid 1, 2, 3, …
struct LaunchRecorder {
    QList<Launch> launches;
    QString failWith; // non-empty: every launch fails with this description

    CavrelHubManager::Launcher launcher() {
        return [this](const QString& program, const QStringList& arguments) {
            launches.append({program, arguments});
            if (!failWith.isEmpty()) {
                return LaunchResult{std::nullopt, failWith};
            }
            return LaunchResult{ProcessHandle(launches.size(), -1), {}};
        };
    }

    int count(const QString& subcommand) const {
        return static_cast<int>(
            std::count_if(launches.begin(), launches.end(),
                          [&](const Launch& l) { return l.arguments.value(1) == subcommand; }));
    }
};

const CavrelHubManager::Timing fastTiming{1ms, 2000ms};

class HubManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString configPath() const { return m_dir.filePath(".cavrel/config.yaml"); }

    // A configuration whose port is the given one, so the manager never rewrites it.
    void writeConfig(quint16 port, const QString& listenHost = "127.0.0.1",
                     const QString& dbPath = {}) {
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(".cavrel")));
        QFile file(configPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral("listen_addr: \"%1:%2\"\ndb_path: \"%3\"\ntoken: \"TOKEN\"")
                       .arg(listenHost, QString::number(port),
                            dbPath.isEmpty() ? m_dir.filePath(".cavrel/cavrel.db") : dbPath)
                       .toUtf8());
    }

    std::unique_ptr<CavrelHubManager> makeManager(CavrelHubManager::Timing timing = fastTiming) {
        auto manager = std::make_unique<CavrelHubManager>(configPath(), "/opt/cavrel bin/cavrel",
                                                          timing, m_recorder.launcher());
        QObject::connect(manager.get(), &CavrelHubManager::statusChanged, manager.get(),
                         [this, m = manager.get()] { m_seen.append(m->status()); });
        return manager;
    }

    static void runToEnd(CavrelHubManager& manager) {
        bool done = false;
        manager.ensureRunning([&done] { done = true; });
        ASSERT_TRUE(cavrel::test::waitUntil([&done] { return done; }));
    }

    QStringList watchArguments(const QString& stateFile) const {
        return {
            "/opt/cavrel bin/cavrel", "watch", "-config", configPath(), "-state-file", stateFile};
    }

    QTemporaryDir m_dir;
    LaunchRecorder m_recorder;
    QList<Status> m_seen;
};

TEST_F(HubManagerTest, DefaultPacingIsFiftyProbesOneTenthOfASecondApart) {
    const CavrelHubManager::Timing defaults;
    EXPECT_EQ(defaults.probePause, 100ms);
    EXPECT_EQ(defaults.probeTimeout, 2000ms);
    EXPECT_EQ(CavrelHubManager::probesAfterLaunch, 50);
    CavrelHubManager manager("/x/config.yaml", "cavrel");
    EXPECT_EQ(manager.timing().probePause, 100ms);
    EXPECT_EQ(manager.status(), Status::notStarted());
}

TEST_F(HubManagerTest, ReusesAHubThatAlreadyAnswers) {
    ProbeServer hub([](int) { return 200; });
    // Any host in listen_addr: the hub is still reached on 127.0.0.1. The watcher's state file
    // goes beside the database, whatever the database is called.
    writeConfig(hub.port(), "0.0.0.0", m_dir.filePath("data/hub.sqlite"));
    auto manager = makeManager();
    runToEnd(*manager);

    const QUrl baseURL("http://127.0.0.1:" + QString::number(hub.port()));
    EXPECT_EQ(manager->status(), Status::running(baseURL, "TOKEN"));
    EXPECT_EQ(manager->status().baseURL.toString(), baseURL.toString()) << "no trailing slash";
    EXPECT_EQ(m_seen, (QList<Status>{Status::starting(), Status::running(baseURL, "TOKEN")}));
    EXPECT_EQ(hub.requests(), 1);
    ASSERT_EQ(m_recorder.launches.size(), 1) << "no hub is launched";
    EXPECT_EQ(m_recorder.launches[0].program, "/usr/bin/env");
    EXPECT_EQ(m_recorder.launches[0].arguments,
              watchArguments(m_dir.filePath("data/watch-state.json")));
    EXPECT_FALSE(manager->process());
    EXPECT_TRUE(manager->watchProcess());
}

TEST_F(HubManagerTest, LaunchesTheHubAndWaitsUntilItAnswers) {
    // Answers on the third probe after the launch: two pauses, then running, then the watcher.
    ProbeServer hub([](int request) { return request >= 4 ? 200 : 503; });
    writeConfig(hub.port());
    auto manager = makeManager();
    runToEnd(*manager);

    EXPECT_EQ(manager->status().kind, Status::Kind::running);
    EXPECT_EQ(hub.requests(), 4);
    ASSERT_EQ(m_recorder.launches.size(), 2);
    EXPECT_EQ(m_recorder.launches[0].program, "/usr/bin/env");
    EXPECT_EQ(m_recorder.launches[0].arguments,
              (QStringList{"/opt/cavrel bin/cavrel", "serve", "-config", configPath()}));
    EXPECT_EQ(m_recorder.launches[1].arguments,
              watchArguments(m_dir.filePath(".cavrel/watch-state.json")));
    ASSERT_TRUE(manager->process());
    EXPECT_EQ(manager->process()->pid(), 1);
}

TEST_F(HubManagerTest, GivesUpAfterFiftyOneUnansweredProbes) {
    struct Case {
        const char* name;
        std::function<int(int)> statusFor; // empty: nothing listens on the port
        CavrelHubManager::Timing timing;
    };
    const Case cases[] = {
        {"server error", [](int) { return 503; }, fastTiming},
        {"no content", [](int) { return 204; }, fastTiming},
        {"unauthorized", [](int) { return 401; }, fastTiming},
        {"accepts and never answers", [](int) { return 0; }, {1ms, 20ms}},
        {"nothing listens", {}, fastTiming},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_recorder.launches.clear();
        m_seen.clear();
        std::optional<ProbeServer> hub;
        const cavrel::test::RefusingPort silent;
        if (c.statusFor) {
            hub.emplace(c.statusFor);
        }
        writeConfig(hub ? hub->port() : silent.port());
        auto manager = makeManager(c.timing);
        runToEnd(*manager);

        EXPECT_EQ(manager->status(),
                  Status::failed("cavrel serve did not become healthy within 5 seconds"));
        EXPECT_EQ(m_seen.size(), 2);
        if (hub) {
            // A probe that gives up after 20 ms may leave before its request is read, so the
            // silent server counts the probes by their connections; the last of them can still
            // wait in the listen queue when the manager gives up, so the count may arrive late.
            const auto probes = [&] {
                return c.statusFor(0) == 0 ? hub->connections() : hub->requests();
            };
            cavrel::test::waitUntil([&] { return probes() >= 51; });
            EXPECT_EQ(probes(), 51);
        }
        EXPECT_EQ(m_recorder.count("serve"), 1);
        EXPECT_EQ(m_recorder.count("watch"), 0);
        EXPECT_TRUE(manager->process()) << "the silent hub is left running";
    }
}

// Only a whole reply counts: a status line of 200 followed by a body that stalls until the
// time-out, or that never ends, is no answer, and the hub is launched.
TEST_F(HubManagerTest, AProbeAnswersOnlyWithAWholeReply) {
    using Body = ProbeAnswer::Body;
    struct Case {
        const char* name;
        ProbeAnswer first;
        std::chrono::milliseconds timeout;
        bool launches;
    };
    const Case cases[] = {
        {"a body that never comes", {200, Body::stalled}, 200ms, true},
        {"a body without end", {200, Body::endless}, 2000ms, true},
        {"a whole reply", {200, Body::empty}, 2000ms, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_recorder.launches.clear();
        ProbeServer hub([&](int request) { return request == 1 ? c.first : ProbeAnswer(200); });
        writeConfig(hub.port());
        auto manager = makeManager({1ms, c.timeout});
        runToEnd(*manager);
        EXPECT_EQ(manager->status().kind, Status::Kind::running);
        EXPECT_EQ(m_recorder.count("serve"), c.launches ? 1 : 0);
        EXPECT_EQ(hub.requests(), c.launches ? 2 : 1);
        // The endless body was read to a few kilobytes and dropped: what left the stand-in is
        // that, the sockets' buffers and one piece more, not half a second of loopback speed.
        EXPECT_LT(hub.bodyBytesWritten(), 16 * 1024 * 1024);
    }
}

TEST_F(HubManagerTest, RetryProbesFirstAndLaunchesAgainWhenStillSilent) {
    int healthyFrom = 1000;
    ProbeServer hub([&healthyFrom](int request) { return request >= healthyFrom ? 200 : 503; });
    writeConfig(hub.port());
    auto manager = makeManager();

    runToEnd(*manager);
    EXPECT_EQ(manager->status().kind, Status::Kind::failed);
    runToEnd(*manager);
    EXPECT_EQ(manager->status().kind, Status::Kind::failed);
    EXPECT_EQ(hub.requests(), 102);
    EXPECT_EQ(m_recorder.count("serve"), 2);
    ASSERT_TRUE(manager->process());
    EXPECT_EQ(manager->process()->pid(), 2) << "the handle of the last launch is kept";

    // The hub answers by the time of the third start: it is reused, not launched again.
    healthyFrom = hub.requests() + 1;
    runToEnd(*manager);
    EXPECT_EQ(manager->status().kind, Status::Kind::running);
    EXPECT_EQ(m_recorder.count("serve"), 2);
    EXPECT_EQ(m_recorder.count("watch"), 1);
}

TEST_F(HubManagerTest, StartsTheWatcherOncePerManagerUntilStopped) {
    ProbeServer hub([](int) { return 200; });
    writeConfig(hub.port());
    auto manager = makeManager();
    runToEnd(*manager);
    runToEnd(*manager);
    EXPECT_EQ(m_recorder.count("watch"), 1);
    EXPECT_EQ(m_recorder.count("serve"), 0);

    m_seen.clear();
    manager->stop();
    EXPECT_EQ(manager->status(), Status::notStarted());
    EXPECT_EQ(m_seen, QList<Status>{Status::notStarted()});
    EXPECT_FALSE(manager->watchProcess());
    runToEnd(*manager);
    EXPECT_EQ(m_recorder.count("watch"), 2);
}

TEST_F(HubManagerTest, AFailedWatcherLaunchIsNotRetried) {
    ProbeServer hub([](int) { return 200; });
    writeConfig(hub.port());
    m_recorder.failWith = "no watcher";
    auto manager = makeManager();
    runToEnd(*manager);
    runToEnd(*manager);
    EXPECT_EQ(manager->status().kind, Status::Kind::running);
    EXPECT_EQ(m_recorder.count("watch"), 1);
    ASSERT_TRUE(manager->watchProcess());
    EXPECT_EQ(manager->watchProcess()->pid(), 0);
}

TEST_F(HubManagerTest, ALaunchErrorFailsTheStart) {
    ProbeServer hub([](int) { return 503; });
    writeConfig(hub.port());
    m_recorder.failWith = "execve: No such file or directory";
    auto manager = makeManager();
    runToEnd(*manager);
    EXPECT_EQ(manager->status(), Status::failed("execve: No such file or directory"));
    EXPECT_EQ(hub.requests(), 1);
    EXPECT_EQ(m_recorder.launches.size(), 1);
    EXPECT_FALSE(manager->process());
}

TEST_F(HubManagerTest, AConfigurationThatCannotBeWrittenFailsBeforeAnyProbe) {
    QFile plain(m_dir.filePath("plainfile"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    CavrelHubManager manager(m_dir.filePath("plainfile/.cavrel/config.yaml"), "cavrel", fastTiming,
                             m_recorder.launcher());
    runToEnd(manager);
    EXPECT_EQ(manager.status().kind, Status::Kind::failed);
    EXPECT_TRUE(manager.status().message.contains("Not a directory"))
        << manager.status().message.toStdString();
    EXPECT_TRUE(m_recorder.launches.isEmpty());
}

TEST_F(HubManagerTest, CancellingEndsTheWaitAtOnce) {
    ProbeServer hub([](int) { return 503; });
    writeConfig(hub.port());
    auto manager = makeManager({std::chrono::hours(1), 2000ms});
    bool done = false;
    CavrelHubManager::StartHandle handle = manager->ensureRunning([&done] { done = true; });
    // The first probe after the launch went unanswered: the attempt now pauses for an hour.
    ASSERT_TRUE(cavrel::test::waitUntil([&] { return hub.requests() == 2; }));
    handle.cancel();
    ASSERT_TRUE(cavrel::test::waitUntil([&done] { return done; }));
    EXPECT_EQ(manager->status(), Status::failed("The operation was cancelled."));
    EXPECT_EQ(m_recorder.count("serve"), 1);
    EXPECT_TRUE(handle.isFinished() || done);
    handle.cancel(); // a finished start ignores it
}

// The real launcher: arguments reach the program through /usr/bin/env unchanged, and stop()
// signals both processes.
TEST_F(HubManagerTest, RealLaunchesReachTheProgramAndStopSignalsThem) {
    const QString log = m_dir.filePath("launches.log");
    const QString script = m_dir.filePath("fake cavrel.sh");
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // The trap is set before the launch is logged, so a stop() that follows the log line
        // is always seen.
        file.write("#!/bin/sh\n"
                   "trap 'kill $child; echo \"TERM $1\" >> \"" +
                   QFile::encodeName(log) +
                   "\"; exit 0' TERM\n"
                   "printf '%s|' \"$@\" >> \"" +
                   QFile::encodeName(log) +
                   "\"\n"
                   "echo >> \"" +
                   QFile::encodeName(log) +
                   "\"\n"
                   "sleep 60 & child=$!\n"
                   "wait $child\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ProbeServer hub([](int request) { return request >= 2 ? 200 : 503; });
    writeConfig(hub.port());
    CavrelHubManager manager(configPath(), script, fastTiming, &cavrel::launchDetached);
    runToEnd(manager);
    ASSERT_EQ(manager.status().kind, Status::Kind::running);
    ASSERT_TRUE(manager.process());
    EXPECT_GT(manager.process()->pid(), 0);

    const auto logText = [&log] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QString serveLine = "serve|-config|" + configPath() + "|\n";
    const QString watchLine = "watch|-config|" + configPath() + "|-state-file|" +
                              m_dir.filePath(".cavrel/watch-state.json") + "|\n";
    ASSERT_TRUE(cavrel::test::waitUntil([&] {
        return logText().contains(serveLine) && logText().contains(watchLine);
    })) << logText().toStdString();

    manager.stop();
    EXPECT_EQ(manager.status(), Status::notStarted());
    EXPECT_TRUE(cavrel::test::waitUntil([&] {
        return logText().contains("TERM serve") && logText().contains("TERM watch");
    })) << logText().toStdString();
}

TEST(LaunchDetached, AProgramThatCannotBeStartedIsADescribedError) {
    const LaunchResult result =
        cavrel::launchDetached("/nonexistent/cavrel-env", {"cavrel", "serve"});
    EXPECT_FALSE(result.process);
    EXPECT_FALSE(result.error.isEmpty());
}

} // namespace
