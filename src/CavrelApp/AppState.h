#pragma once

#include "CavrelAPIClient.h"
#include "CavrelHubManager.h"
#include "ProjectStore.h"
#include "TerminalSessionManager.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QSettings>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace cavrel {

// The application's one state object: it builds the services every window shares (recent
// projects, agent tabs, hub supervisor) and, once the hub runs, publishes the REST client the
// hub screens use. Created once when the application starts and kept for its whole life;
// main thread only.
class AppState : public QObject {
    Q_OBJECT

public:
    // Where the services take their outside world from. The defaults are the user's own;
    // tests replace the settings store, the remote resolver and the hub's pacing.
    struct Setup {
        std::unique_ptr<QSettings> defaults; // none: the user's settings
        ProjectStore::GitRemoteResolver gitRemoteResolver = &ProjectStore::resolveGitRemote;
        CavrelHubManager::Timing hubTiming;
    };

    explicit AppState(QObject* parent = nullptr);
    explicit AppState(Setup setup, QObject* parent = nullptr);
    ~AppState() override;

    CavrelHubManager& hubManager() const { return *m_hubManager; }
    ProjectStore& projectStore() const { return *m_projectStore; }
    TerminalSessionManager& terminalSessions() const { return *m_terminalSessions; }

    // The client of the running hub; none until a start-up has succeeded, and never emptied
    // again: a later failed start leaves the last client in place.
    const std::optional<CavrelAPIClient>& apiClient() const { return m_apiClient; }

    // Runs the hub's start-up and, when the hub runs, publishes a new client. It may be called
    // any number of times (each window, the "Retry" button); overlapping calls are not
    // serialized and the last to find the hub running wins. `done` runs when it ends.
    CavrelHubManager::StartHandle start(std::function<void()> done = {});

    // The `cavrel` program: the one installed with the application
    // (<dir of cavrel-app>/../libexec/cavrel-app/cavrel), else $CAVREL_BINARY exactly as set
    // (an empty value included), else "cavrel" from the search path. Evaluated at each call.
    static QString cavrelBinaryPath();
    static QString cavrelBinaryPath(const QString& applicationDir,
                                    const QProcessEnvironment& environment);

    // $HOME, else the user's entry in the password database.
    static QString homeDirectory();

    // The user's settings store: $XDG_CONFIG_HOME/cavrel/cavrel-app.conf.
    static std::unique_ptr<QSettings> userDefaults();

signals:
    void apiClientChanged();

private:
    std::unique_ptr<CavrelHubManager> m_hubManager;
    std::unique_ptr<ProjectStore> m_projectStore;
    std::unique_ptr<TerminalSessionManager> m_terminalSessions;
    std::optional<CavrelAPIClient> m_apiClient;
};

} // namespace cavrel
