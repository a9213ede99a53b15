#pragma once

// The application as its main() builds it, on a real X server, with one agent tab open: the hub
// is the fake `cavrel` program, started by the application itself; the agent button opens a tab
// whose terminal runs the login shell in the project folder and types the agent command into it.
//
//   TEST_F(AgentTabOnX11, Something) {
//       ASSERT_NO_FATAL_FAILURE(openAgentTab("/bin/sh"));
//       ... terminal(), window, project ...
//   }

#include "AppState.h"
#include "AppTestSupport.h"
#include "ContentView.h"
#include "LocalProcessTerminalView.h"
#include "TerminalTabView.h"
#include "TerminalTabsContainerView.h"
#include "ToolbarButtonsView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace cavrel::test {

class AgentTabOnX11 : public ::testing::Test {
protected:
    // The prompt of the login shell, set in its profile.
    static constexpr const char* prompt = "agents$ ";

    void SetUp() override {
        if (QGuiApplication::instance() == nullptr) {
            GTEST_SKIP() << "needs an X display (scripts/test runs it under xvfb-run)";
        }
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        ASSERT_TRUE(home.isValid());
        fakes.emplace(home, FAKE_CAVREL_PATH, environment);
    }

    // Starts the application with `shell` as the user's login shell and opens the project
    // folder; returns when the window has reached the hub.
    void startApplication(const QByteArray& shell) {
        ASSERT_TRUE(usePlainLoginShell(environment, home.path(), prompt));
        environment.set("SHELL", shell);
        environment.set("HISTFILE", "/dev/null");
        // A port where nothing answers yet: the application starts the fake hub there.
        ASSERT_TRUE(QDir().mkpath(home.filePath(".cavrel")));
        QFile config(home.filePath(".cavrel/config.yaml"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(CavrelHubManager::configText({closedPort(), home.filePath(".cavrel/cavrel.db"),
                                                   QStringLiteral("xvfb-token")})
                         .toUtf8());
        config.close();
        project = QFileInfo(home.filePath("work/shop")).absoluteFilePath();
        ASSERT_TRUE(QDir().mkpath(project));

        // As main() does.
        appState = std::make_unique<AppState>();
        window = std::make_unique<ContentView>(*appState, WindowServices{});
        window->resize(1280, 800);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(waitUntil([&] { return appState->apiClient().has_value(); }))
            << "the fake hub never answered: "
            << appState->hubManager().status().message.toStdString();

        appState->projectStore().openProject(project);
    }

    // Starts the application as startApplication() does and presses the first agent button;
    // returns when the agent command has run in the tab's shell and its prompt is back.
    void openAgentTab(const QByteArray& shell) {
        ASSERT_NO_FATAL_FAILURE(startApplication(shell));
        QPushButton* agent = window->toolbar()->buttons().value(0);
        ASSERT_TRUE(agent && agent->isEnabled());
        QTest::mouseClick(agent, Qt::LeftButton);

        m_terminal = shownTerminal();
        ASSERT_TRUE(m_terminal) << "the tab holds the terminal emulator's view";
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_terminal));

        ASSERT_TRUE(waitUntil([&] {
            const QString text = terminalText(*m_terminal);
            return text.contains(agentCommand()) && text.count(prompt) >= 2;
        })) << terminalText(*m_terminal).toStdString();
    }

    // What the agent button typed into the shell.
    static QString agentCommand() { return QStringLiteral(FAKE_CAVREL_PATH) + " claude\n"; }

    veldatron::LocalProcessTerminalView& terminal() { return *m_terminal; }

    // The terminal of the tab the window shows now, if any.
    veldatron::LocalProcessTerminalView* shownTerminal() const {
        TerminalTabView* tab = window ? window->terminalTabs()->shownTab() : nullptr;
        return tab ? qobject_cast<veldatron::LocalProcessTerminalView*>(tab->terminalView())
                   : nullptr;
    }

    QTemporaryDir home;
    ScopedEnvironment environment;
    std::optional<FakeProcesses> fakes;
    QString project;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<ContentView> window;

private:
    veldatron::LocalProcessTerminalView* m_terminal = nullptr;
};

} // namespace cavrel::test
