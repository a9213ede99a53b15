#include "AppState.h"
#include "PasswordEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace cavrel {

AppState::AppState(QObject* parent) : AppState(Setup{}, parent) {}

AppState::AppState(Setup setup, QObject* parent) : QObject(parent) {
    // The order matters: the recent projects are loaded, and the first made active, before any
    // other service exists.
    m_projectStore =
        std::make_unique<ProjectStore>(setup.defaults ? std::move(setup.defaults) : userDefaults(),
                                       std::move(setup.gitRemoteResolver));
    m_terminalSessions = std::make_unique<TerminalSessionManager>();
    const QString configPath =
        QDir(homeDirectory()).filePath(QStringLiteral(".cavrel/config.yaml"));
    m_hubManager = std::make_unique<CavrelHubManager>(configPath, cavrelBinaryPath(),
                                                      setup.hubTiming, &launchDetached);
}

AppState::~AppState() = default;

CavrelHubManager::StartHandle AppState::start(std::function<void()> done) {
    // The manager belongs to this object, so its completion never outlives it.
    return m_hubManager->ensureRunning([this, done = std::move(done)] {
        const CavrelHubManager::Status& status = m_hubManager->status();
        if (status.kind == CavrelHubManager::Status::Kind::running) {
            m_apiClient.emplace(status.baseURL, status.token);
            emit apiClientChanged();
        }
        if (done) {
            done();
        }
    });
}

QString AppState::cavrelBinaryPath() {
    return cavrelBinaryPath(QCoreApplication::applicationDirPath(),
                            QProcessEnvironment::systemEnvironment());
}

QString AppState::cavrelBinaryPath(const QString& applicationDir,
                                   const QProcessEnvironment& environment) {
    const QString bundled =
        QDir::cleanPath(applicationDir + QStringLiteral("/../libexec/cavrel-app/cavrel"));
    if (!applicationDir.isEmpty() && QFileInfo(bundled).isFile()) {
        return bundled;
    }
    const QString variable = QStringLiteral("CAVREL_BINARY");
    if (environment.contains(variable)) {
        return environment.value(variable);
    }
    return QStringLiteral("cavrel");
}

QString AppState::homeDirectory() {
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty()) {
        return home;
    }
    // Not QDir::homePath(): it falls back to "/", which would put the hub's files at the root.
    if (const std::optional<PasswordEntry> entry = currentPasswordEntry();
        entry && !entry->home.isEmpty()) {
        return entry->home;
    }
    return QDir::homePath();
}

std::unique_ptr<QSettings> AppState::userDefaults() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("cavrel"), QStringLiteral("cavrel-app"));
}

} // namespace cavrel
