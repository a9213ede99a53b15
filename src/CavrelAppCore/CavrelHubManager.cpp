#include "CavrelHubManager.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace cavrel {

namespace {

const QString envProgram = QStringLiteral("/usr/bin/env");
const QString cancelledMessage = QStringLiteral("The operation was cancelled.");
const QString notHealthyMessage =
    QStringLiteral("cavrel serve did not become healthy within 5 seconds");

} // namespace

// One run of ensureRunning(): probe, launch, probe and pause up to 50 times. It drives itself
// from network replies and timers on the main thread and deletes itself when it ends; as a
// child of the manager it never outlives it.
class HubStartAttempt : public QObject {
public:
    HubStartAttempt(CavrelHubManager& manager, std::function<void()> done)
        : QObject(&manager), m_manager(manager), m_done(std::move(done)) {
        m_pause.setSingleShot(true);
        m_pause.setTimerType(Qt::PreciseTimer);
        connect(&m_pause, &QTimer::timeout, this, &HubStartAttempt::pauseEnded);
    }

    void run() {
        m_manager.setStatus(CavrelHubManager::Status::starting());
        CavrelHubManager::ConfigResult loaded =
            CavrelHubManager::loadOrCreateConfig(m_manager.configPath());
        if (!loaded.config) {
            finish(CavrelHubManager::Status::failed(loaded.error));
            return;
        }
        m_config = *loaded.config;
        probe([this](bool healthy) { initialProbeAnswered(healthy); });
    }

    ~HubStartAttempt() override {
        if (m_reply) {
            m_reply->abort();
        }
    }

    void cancel() {
        if (m_cancelled || m_finished) {
            return;
        }
        m_cancelled = true;
        if (m_pause.isActive()) {
            m_pause.stop();
            finish(CavrelHubManager::Status::failed(cancelledMessage));
        } else if (m_reply) {
            m_reply->abort(); // the probe counts as unanswered; the next pause ends the attempt
        }
    }

private:
    void initialProbeAnswered(bool healthy) {
        if (healthy) {
            becameHealthy();
            return;
        }
        if (std::optional<QString> error = m_manager.startProcess()) {
            finish(CavrelHubManager::Status::failed(*error));
            return;
        }
        probeAfterLaunch();
    }

    void probeAfterLaunch() {
        probe([this](bool healthy) {
            if (healthy) {
                becameHealthy();
            } else if (m_cancelled) {
                finish(CavrelHubManager::Status::failed(cancelledMessage));
            } else {
                m_pause.start(m_manager.timing().probePause);
            }
        });
    }

    void pauseEnded() {
        if (++m_pausesDone == CavrelHubManager::probesAfterLaunch) {
            finish(CavrelHubManager::Status::failed(notHealthyMessage));
            return;
        }
        probeAfterLaunch();
    }

    void becameHealthy() {
        finish(CavrelHubManager::Status::running(CavrelHubManager::baseURL(m_config.port),
                                                 m_config.token));
    }

    // One GET of /healthz; healthy means a whole HTTP reply with status 200, nothing else. A
    // status line of 200 is not enough: a reply whose body stalls until the time-out, or runs on,
    // is no answer. The body is not looked at, and is read only up to a small size, then dropped:
    // a body without end once grew the process by hundreds of megabytes within one time-out.
    void probe(std::function<void(bool)> answered) {
        const QUrl url(QStringLiteral("http://127.0.0.1:%1/healthz").arg(m_config.port));
        if (m_cancelled || !url.isValid() || url.port() < 0) {
            // Answer on a later turn of the loop, as a network reply would.
            QTimer::singleShot(0, this, [answered] { answered(false); });
            return;
        }
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        QNetworkReply* reply = m_manager.m_network.get(request);
        m_reply = reply;
        reply->setReadBufferSize(CavrelHubManager::maximumProbeBodySize);
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        deadline->start(m_manager.timing().probeTimeout);
        auto bodySize = std::make_shared<qint64>(0);
        connect(reply, &QNetworkReply::readyRead, reply, [reply, bodySize] {
            *bodySize += reply->skip(reply->bytesAvailable());
            if (*bodySize > CavrelHubManager::maximumProbeBodySize) {
                reply->abort();
            }
        });
        connect(reply, &QNetworkReply::finished, this, [this, reply, answered] {
            const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            const bool whole = reply->error() == QNetworkReply::NoError;
            reply->deleteLater();
            m_reply = nullptr;
            answered(whole && code.isValid() && code.toInt() == 200);
        });
    }

    void finish(CavrelHubManager::Status status) {
        const bool running = status.kind == CavrelHubManager::Status::Kind::running;
        m_manager.setStatus(std::move(status));
        if (running) {
            m_manager.startWatchIfNeeded(m_config);
        }
        m_finished = true;
        std::function<void()> done = std::move(m_done);
        deleteLater();
        if (done) {
            done();
        }
    }

    CavrelHubManager& m_manager;
    std::function<void()> m_done;
    CavrelHubManager::HubConfig m_config;
    QTimer m_pause;
    QPointer<QNetworkReply> m_reply;
    int m_pausesDone = 0;
    bool m_cancelled = false;
    bool m_finished = false;
};

void CavrelHubManager::StartHandle::cancel() {
    if (auto* attempt = static_cast<HubStartAttempt*>(m_attempt.data())) {
        attempt->cancel();
    }
}

CavrelHubManager::CavrelHubManager(QString configPath, QString cavrelBinaryPath, QObject* parent)
    : CavrelHubManager(std::move(configPath), std::move(cavrelBinaryPath), Timing{},
                       &launchDetached, parent) {}

CavrelHubManager::CavrelHubManager(QString configPath, QString cavrelBinaryPath, Timing timing,
                                   Launcher launcher, QObject* parent)
    : QObject(parent), m_configPath(std::move(configPath)),
      m_cavrelBinaryPath(std::move(cavrelBinaryPath)), m_timing(timing),
      m_launcher(std::move(launcher)) {
    // An http_proxy setting must never route a loopback probe through a proxy.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

CavrelHubManager::~CavrelHubManager() {
    // Attempts go before the network manager whose replies they wait on, so that no reply
    // can call back into a half-destroyed manager.
    const QObjectList children = this->children();
    for (QObject* child : children) {
        delete dynamic_cast<HubStartAttempt*>(child);
    }
}

CavrelHubManager::StartHandle CavrelHubManager::ensureRunning(std::function<void()> done) {
    auto* attempt = new HubStartAttempt(*this, std::move(done));
    StartHandle handle(attempt);
    attempt->run();
    return handle;
}

void CavrelHubManager::stop() {
    if (m_process) {
        m_process->terminate();
    }
    if (m_watchProcess) {
        m_watchProcess->terminate();
    }
    m_process.reset();
    m_watchProcess.reset();
    setStatus(Status::notStarted());
}

QUrl CavrelHubManager::baseURL(qint64 port) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

void CavrelHubManager::setStatus(Status status) {
    m_status = std::move(status);
    emit statusChanged();
}

std::optional<QString> CavrelHubManager::startProcess() {
    LaunchResult launched = m_launcher(envProgram, {m_cavrelBinaryPath, QStringLiteral("serve"),
                                                    QStringLiteral("-config"), m_configPath});
    if (!launched.process) {
        return launched.error;
    }
    // An earlier hub's handle is released; its process keeps running.
    m_process = std::move(launched.process);
    return std::nullopt;
}

void CavrelHubManager::startWatchIfNeeded(const HubConfig& config) {
    if (m_watchProcess) {
        return;
    }
    // Beside the hub's database, whatever the database file is called; a relative database
    // path is taken from our working directory, which the watcher inherits.
    const QString stateFile =
        QDir(QFileInfo(config.dbPath).absolutePath()).filePath(QStringLiteral("watch-state.json"));
    LaunchResult launched = m_launcher(envProgram, {m_cavrelBinaryPath, QStringLiteral("watch"),
                                                    QStringLiteral("-config"), m_configPath,
                                                    QStringLiteral("-state-file"), stateFile});
    // Stored even when the launch failed: the watcher is tried once until stop().
    m_watchProcess = launched.process ? std::move(*launched.process) : ProcessHandle();
}

} // namespace cavrel
