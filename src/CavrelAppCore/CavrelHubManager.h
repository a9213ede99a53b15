#pragma once

#include "ProcessHandle.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace cavrel {

// Brings the local hub up and publishes its state. On ensureRunning() it makes sure the
// configuration file exists, reuses a hub that already answers on 127.0.0.1 at the configured
// port or launches `cavrel serve` and waits for it to answer, then starts the watcher
// (`cavrel watch`) once per manager. Launched processes are never watched afterwards and
// outlive the manager; only an explicit stop() signals them.
//
// Owned by the application state for the application's life; main thread only.
class CavrelHubManager : public QObject {
    Q_OBJECT

public:
    // The outcome of the last start-up. Compared case by case and, within a case, by payload.
    struct Status {
        enum class Kind { notStarted, starting, running, failed };

        Kind kind = Kind::notStarted;
        QUrl baseURL;    // running: where requests go, "http://127.0.0.1:<port>"
        QString token;   // running: the bearer token of every request
        QString message; // failed: the reason shown to the user

        static Status notStarted() { return {}; }
        static Status starting() { return {Kind::starting, {}, {}, {}}; }
        static Status running(QUrl baseURL, QString token) {
            return {Kind::running, std::move(baseURL), std::move(token), {}};
        }
        static Status failed(QString message) { return {Kind::failed, {}, {}, std::move(message)}; }

        bool operator==(const Status&) const = default;
    };

    // What the application reads from the configuration file.
    struct HubConfig {
        qint64 port = 0;
        QString dbPath;
        QString token;

        bool operator==(const HubConfig&) const = default;
    };

    // A configuration, or the description of why none could be read or written.
    struct ConfigResult {
        std::optional<HubConfig> config;
        QString error;
    };

    // Pacing of the start-up. The defaults are the product's; tests shorten them.
    struct Timing {
        // Pause after each unanswered probe that follows the launch.
        std::chrono::milliseconds probePause{100};
        // A probe without a whole reply by then counts as no answer, whatever status arrived: a
        // port held by a program that accepts and never replies must not leave the start-up
        // waiting for ever.
        std::chrono::milliseconds probeTimeout{2000};
    };

    // Launches a child process detached; replaced in tests to record launches.
    using Launcher = std::function<LaunchResult(const QString& program, const QStringList& args)>;

    // A started ensureRunning(). cancel() ends it as failed with a cancellation message, at
    // once when it is pausing, otherwise at its next pause (the probe under way counts as
    // unanswered). A handle whose start-up has finished does nothing.
    class StartHandle {
    public:
        StartHandle() = default;
        void cancel();
        bool isFinished() const { return m_attempt.isNull(); }

    private:
        friend class CavrelHubManager;
        explicit StartHandle(QObject* attempt) : m_attempt(attempt) {}
        QPointer<QObject> m_attempt;
    };

    static constexpr int probesAfterLaunch = 50;
    // A health reply with a longer body is no answer (the hub's is a word or two).
    static constexpr qint64 maximumProbeBodySize = 16 * 1024;

    CavrelHubManager(QString configPath, QString cavrelBinaryPath, QObject* parent = nullptr);
    CavrelHubManager(QString configPath, QString cavrelBinaryPath, Timing timing, Launcher launcher,
                     QObject* parent = nullptr);
    ~CavrelHubManager() override;

    const Status& status() const { return m_status; }
    const QString& configPath() const { return m_configPath; }
    const QString& cavrelBinaryPath() const { return m_cavrelBinaryPath; }
    const Timing& timing() const { return m_timing; }

    // The hub process launched last, empty when a running hub was reused.
    const std::optional<ProcessHandle>& process() const { return m_process; }
    // Set once the watcher has been tried, whether or not its launch succeeded.
    const std::optional<ProcessHandle>& watchProcess() const { return m_watchProcess; }

    // Runs one start-up sequence; its outcome is status(). `done` runs on the main thread when
    // the sequence ends, unless the manager is destroyed first. Calls are not serialized: each
    // runs its own sequence against this manager.
    StartHandle ensureRunning(std::function<void()> done = {});

    // Signals the processes this manager launched, forgets them and sets notStarted. It does
    // not wait for them to exit.
    void stop();

    // The configuration file. `yamlValue` is the line rule that `cavrel` and the application
    // share; the file is otherwise not YAML.
    static std::optional<QString> yamlValue(const QString& key, const QString& text);
    // The record of the existing file, or none when a key is missing or the port does not
    // parse; a file that cannot be read as UTF-8 text sets *readError and yields none.
    static std::optional<HubConfig> parseExistingConfig(const QString& configPath,
                                                        QString* readError = nullptr);
    // The existing file's record, or a fresh file's. An existing file that is replaced is kept
    // beside it as "config.yaml.bak".
    static ConfigResult loadOrCreateConfig(const QString& configPath);
    // The five-line text of a configuration file.
    static QString configText(const HubConfig& config);

    static QUrl baseURL(qint64 port);

signals:
    void statusChanged();

private:
    friend class HubStartAttempt;

    void setStatus(Status status);
    std::optional<QString> startProcess(); // the launch error, if any
    void startWatchIfNeeded(const HubConfig& config);

    Status m_status;
    QString m_configPath;
    QString m_cavrelBinaryPath;
    Timing m_timing;
    Launcher m_launcher;
    std::optional<ProcessHandle> m_process;
    std::optional<ProcessHandle> m_watchProcess;
    QNetworkAccessManager m_network;
};

} // namespace cavrel
