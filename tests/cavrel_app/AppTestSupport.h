#pragma once

#include "AppState.h"
#include "ContentView.h"
#include "FakeHub.h"
#include "HubTestSupport.h"
#include "LocalProcessTerminalView.h"
#include "TerminalViewFactory.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <ostream>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '[' << texts.join(QStringLiteral(", ")).toStdString() << ']';
}
QT_END_NAMESPACE

namespace cavrel::test {

// The origins of the two projects the screen tests move between.
inline const QString shopURL = QStringLiteral("https://example.invalid/team/shop.git");
inline const QString cartURL = QStringLiteral("https://example.invalid/team/cart.git");

// Sets environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
public:
    void set(const char* name, const QByteArray& value) {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char* name) {
        remember(name);
        qunsetenv(name);
    }
    ~ScopedEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second) {
                qputenv(it->first.constData(), *it->second);
            } else {
                qunsetenv(it->first.constData());
            }
        }
    }

private:
    void remember(const char* name) {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                       ? std::optional<QByteArray>(qgetenv(name))
                                       : std::nullopt);
    }
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// Agent tabs then run /bin/sh as the login shell, whose profile in `home` sets `prompt`: nothing
// of the machine's user setup reaches the shell. False when the profile cannot be written.
inline bool usePlainLoginShell(ScopedEnvironment& environment, const QString& home,
                               const QByteArray& prompt) {
    environment.set("SHELL", "/bin/sh");
    QFile profile(QDir(home).filePath(QStringLiteral(".profile")));
    return profile.open(QIODevice::WriteOnly) && profile.write("PS1='" + prompt + "'\n") > 0;
}

// The fake `cavrel` program as the application's hub, launched by the application itself: HOME
// is `home`, CAVREL_BINARY the fake, and each launch is logged in the home folder. The processes
// a test caused are ended by pid when it is over (declare this after the environment).
class FakeProcesses {
public:
    FakeProcesses(const QTemporaryDir& home, const QByteArray& program,
                  ScopedEnvironment& environment)
        : m_log(home.filePath(QStringLiteral("fake-cavrel.log"))) {
        environment.set("HOME", QFile::encodeName(home.path()));
        environment.set("CAVREL_BINARY", program);
        environment.set("FAKE_CAVREL_LOG", QFile::encodeName(m_log));
        environment.set("FAKE_CAVREL_IDLE_EXIT_S", "120");
    }
    ~FakeProcesses() {
        for (const QJsonObject& entry : entries()) {
            ::kill(static_cast<pid_t>(entry.value("pid").toInteger()), SIGTERM);
        }
    }
    FakeProcesses(const FakeProcesses&) = delete;
    FakeProcesses& operator=(const FakeProcesses&) = delete;

    QList<QJsonObject> entries() const { return fakeCavrelInvocations(m_log); }

    // The arguments after the program of every launch of `subcommand`, with their pids.
    QList<std::pair<qint64, QStringList>> launches(const QString& subcommand) const {
        QList<std::pair<qint64, QStringList>> result;
        for (const QJsonObject& entry : entries()) {
            QStringList argv;
            for (const QJsonValue& value : entry.value("argv").toArray()) {
                argv.append(value.toString());
            }
            if (argv.value(1) == subcommand) {
                result.append({entry.value("pid").toInteger(), argv.mid(1)});
            }
        }
        return result;
    }

private:
    QString m_log;
};

// Stands in for the terminal view: records what each tab asked to run and makes an empty
// widget that takes the keyboard focus as a terminal does, whose destruction tests can observe.
class RecordingTerminalViewFactory : public TerminalViewFactory {
public:
    struct Launch {
        TerminalLaunch launch;
        QPointer<QWidget> view;
    };

    QWidget* createTerminalView(const TerminalLaunch& launch, QWidget* parent) override {
        auto* view = new QWidget(parent);
        view->setObjectName(QStringLiteral("recordedTerminal"));
        view->setFocusPolicy(Qt::StrongFocus);
        m_launches.append({launch, view});
        return view;
    }

    const QList<Launch>& launches() const { return m_launches; }
    int liveViews() const {
        return static_cast<int>(
            std::count_if(m_launches.begin(), m_launches.end(),
                          [](const Launch& launch) { return !launch.view.isNull(); }));
    }

private:
    QList<Launch> m_launches;
};

// An application state on a private home folder whose configuration points at an in-process
// fake hub, with git remotes and the folder picker under the test's control; and windows on it.
class HubWindowFixture {
public:
    HubWindowFixture() : m_hub({QStringLiteral("test-token")}) {
        EXPECT_TRUE(m_home.isValid());
        EXPECT_TRUE(m_hub.listen()) << m_hub.errorString().toStdString();
        m_environment.set("HOME", QFile::encodeName(m_home.path()));
        // Should the hub not answer, the launched "hub" exits at once and leaves nothing.
        m_environment.set("CAVREL_BINARY", "/bin/true");
        writeConfig(m_hub.port());
    }

    // Points the configuration at a port where nothing answers: every start fails.
    void useClosedPort() {
        m_closedPort.emplace();
        writeConfig(m_closedPort->port());
    }
    quint16 configuredPort() const { return m_hubPort; }
    // Lets a hub of the test's own take the configured port.
    void releaseClosedPort() { m_closedPort.reset(); }

    fake::FakeHub& hub() { return m_hub; }
    const QTemporaryDir& home() const { return m_home; }
    RecordingTerminalViewFactory& terminals() { return *m_terminals; }
    std::map<QString, std::optional<QString>>& remotes() { return m_remotes; }
    int resolverCalls() const { return m_resolverCalls; }
    void setPickedFolder(std::optional<QString> folder) { m_pickedFolder = std::move(folder); }
    void setCavrelBinaryPath(QString path) { m_cavrelBinaryPath = std::move(path); }

    AppState& appState() {
        if (!m_appState) {
            AppState::Setup setup;
            setup.defaults =
                std::make_unique<QSettings>(m_home.filePath("settings.conf"), QSettings::IniFormat);
            setup.gitRemoteResolver = [this](const QString& path) -> std::optional<QString> {
                ++m_resolverCalls;
                const auto it = m_remotes.find(path);
                return it == m_remotes.end() ? std::nullopt : it->second;
            };
            setup.hubTiming.probePause = std::chrono::milliseconds(1);
            m_appState = std::make_unique<AppState>(std::move(setup));
        }
        return *m_appState;
    }

    // Tabs get the application's real terminal views (shells on pseudo-terminals) instead of
    // recorded stand-ins; call before the window is made.
    void useRealTerminals() { m_realTerminals = true; }

    WindowServices services() {
        WindowServices services;
        services.pickFolder = [this](QWidget*) { return m_pickedFolder; };
        if (m_realTerminals) {
            services.terminalViewFactory = std::make_shared<LocalProcessTerminalViewFactory>();
        } else {
            services.terminalViewFactory = m_terminals;
        }
        services.cavrelBinaryPath = [this] { return m_cavrelBinaryPath; };
        return services;
    }

    // A window, shown, which starts the hub.
    ContentView& window() {
        if (!m_window) {
            m_window = std::make_unique<ContentView>(appState(), services());
            m_window->resize(1280, 800);
            m_window->show();
        }
        return *m_window;
    }
    void closeWindow() { m_window.reset(); }

    // A window whose start-up has ended, with a client when the hub answered.
    ContentView& startedWindow() {
        ContentView& shown = window();
        EXPECT_TRUE(waitUntil([this] {
            const auto kind = appState().hubManager().status().kind;
            return kind == CavrelHubManager::Status::Kind::running ||
                   kind == CavrelHubManager::Status::Kind::failed;
        }));
        return shown;
    }

    void openProject(const QString& path, std::optional<QString> remote) {
        m_remotes[path] = std::move(remote);
        appState().projectStore().openProject(path);
    }

private:
    void writeConfig(quint16 port) {
        m_hubPort = port;
        QDir().mkpath(m_home.filePath(".cavrel"));
        QFile file(m_home.filePath(".cavrel/config.yaml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(CavrelHubManager::configText(
                       {port, m_home.filePath(".cavrel/cavrel.db"), QStringLiteral("test-token")})
                       .toUtf8());
    }

    QTemporaryDir m_home;
    ScopedEnvironment m_environment;
    fake::FakeHub m_hub;
    quint16 m_hubPort = 0;
    std::optional<RefusingPort> m_closedPort;
    std::shared_ptr<RecordingTerminalViewFactory> m_terminals =
        std::make_shared<RecordingTerminalViewFactory>();
    bool m_realTerminals = false;
    std::map<QString, std::optional<QString>> m_remotes;
    int m_resolverCalls = 0;
    std::optional<QString> m_pickedFolder;
    QString m_cavrelBinaryPath = QStringLiteral("/opt/cavrel/bin/cavrel");
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<ContentView> m_window;
};

// A hub screen shown as a window of its own, owned by `holder`.
template <class Screen, class Made>
Screen& showScreen(std::unique_ptr<Screen>& holder, Made* screen) {
    holder.reset(screen);
    holder->resize(900, 600);
    holder->show();
    return *holder;
}

template <class Screen> Screen& whenLoaded(Screen& screen) {
    EXPECT_TRUE(waitUntil([&screen] { return !screen.isLoading(); }));
    return screen;
}

// The requests the hub recorded with this method (and path, when one is given).
inline QList<fake::FakeHub::RecordedRequest>
recordedRequests(const fake::FakeHub& hub, const QString& method, const QString& path = {}) {
    QList<fake::FakeHub::RecordedRequest> found;
    for (const fake::FakeHub::RecordedRequest& request : hub.requests()) {
        if (request.method == method && (path.isEmpty() || request.path == path)) {
            found.append(request);
        }
    }
    return found;
}

// What a terminal view shows and holds in its scrollback, a line per row, rows that wrap joined
// to the next.
inline QString terminalText(veldatron::TerminalView& view) {
    veldatron::Terminal& terminal = view.terminal();
    veldatron::Buffer& buffer = terminal.buffer();
    QString text;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const std::u32string line = terminal.translateBufferLineToString(buffer, row, 0, -1);
        const bool continues =
            row + 1 < buffer.lines().count() && buffer.lines()[row + 1].isWrapped();
        text += QString::fromStdU32String(line);
        if (!continues) {
            text += u'\n';
        }
    }
    return text;
}

// The texts of the visible labels under `root`, in creation order.
inline QStringList visibleLabelTexts(const QWidget* root) {
    QStringList texts;
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty()) {
            texts.append(label->text());
        }
    }
    return texts;
}

} // namespace cavrel::test
