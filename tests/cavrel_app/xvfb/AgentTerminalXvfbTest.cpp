// The application as its main() builds it, on a real X server: the hub is the fake `cavrel`
// program, started by the application itself; an agent button opens a tab whose terminal runs
// the login shell in the project folder and types the agent command into it.

#include "AppState.h"
#include "AppTestSupport.h"
#include "ContentView.h"
#include "LocalProcessTerminalView.h"
#include "TerminalTabView.h"
#include "TerminalTabsContainerView.h"
#include "ToolbarButtonsView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>

#include <sys/ioctl.h>

using namespace cavrel;
using cavrel::test::ScopedEnvironment;
using cavrel::test::terminalText;
using cavrel::test::waitUntil;

namespace {

TEST(ApplicationOnX11, AnAgentButtonRunsTheLoginShellAndTypesTheAgentCommand) {
    if (QGuiApplication::instance() == nullptr) {
        GTEST_SKIP() << "needs an X display (scripts/test runs it under xvfb-run)";
    }
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ScopedEnvironment environment;
    cavrel::test::FakeProcesses fakes(home, FAKE_CAVREL_PATH, environment);
    ASSERT_TRUE(cavrel::test::usePlainLoginShell(environment, home.path(), "agents$ "));
    // A port where nothing answers yet: the application starts the fake hub there.
    ASSERT_TRUE(QDir().mkpath(home.filePath(".cavrel")));
    QFile config(home.filePath(".cavrel/config.yaml"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(CavrelHubManager::configText({cavrel::test::closedPort(),
                                               home.filePath(".cavrel/cavrel.db"),
                                               QStringLiteral("xvfb-token")})
                     .toUtf8());
    config.close();
    const QString project = QFileInfo(home.filePath("work/shop")).absoluteFilePath();
    ASSERT_TRUE(QDir().mkpath(project));

    // As main() does.
    AppState appState;
    ContentView window(appState, WindowServices{});
    window.resize(1280, 800);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(waitUntil([&] { return appState.apiClient().has_value(); }))
        << "the fake hub never answered: " << appState.hubManager().status().message.toStdString();

    appState.projectStore().openProject(project);
    QPushButton* claude = window.toolbar()->buttons().value(0);
    ASSERT_TRUE(claude && claude->isEnabled());
    QTest::mouseClick(claude, Qt::LeftButton);

    TerminalTabView* tab = window.terminalTabs()->shownTab();
    ASSERT_TRUE(tab);
    auto* terminal = qobject_cast<veldatron::LocalProcessTerminalView*>(tab->terminalView());
    ASSERT_TRUE(terminal) << "the tab holds the terminal emulator's view";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(terminal));

    // The typed command, the agent run in the project folder, and the prompt after it.
    const QString command = QStringLiteral(FAKE_CAVREL_PATH) + " claude\n";
    const QString notice =
        "fake-cavrel: no real agent here (would run 'claude' in " + project + ")";
    ASSERT_TRUE(waitUntil([&] {
        const QString text = terminalText(*terminal);
        return text.contains(command) && text.contains(notice) && text.count("agents$ ") >= 2;
    })) << terminalText(*terminal).toStdString();

    // The shell runs on a pseudo-terminal of the view's size, which follows the window.
    veldatron::Terminal& emulator = terminal->terminal();
    const auto ptySize = [&] {
        winsize size{};
        ::ioctl(terminal->process().childfd(), TIOCGWINSZ, &size);
        return std::pair(int(size.ws_col), int(size.ws_row));
    };
    const auto inStep = [&] { return ptySize() == std::pair(emulator.cols(), emulator.rows()); };
    ASSERT_TRUE(waitUntil(inStep));
    EXPECT_GT(emulator.cols(), 80) << "laid out in the wide window";
    const int wide = emulator.cols();
    window.resize(1000, 600);
    ASSERT_TRUE(waitUntil([&] { return emulator.cols() < wide && inStep(); }));
    // What the shell itself reads.
    const QString size = QString::number(emulator.rows()) + " " + QString::number(emulator.cols());
    terminal->send(QStringLiteral("stty size\n"));
    EXPECT_TRUE(waitUntil([&] { return terminalText(*terminal).contains("\n" + size + "\n"); }))
        << terminalText(*terminal).toStdString();

    // Painted on screen: the prompt's row is not all background.
    const QImage picture = terminal->grab().toImage();
    const QColor background = picture.pixelColor(picture.width() / 2, picture.height() - 2);
    bool inked = false;
    for (int x = 0; x < picture.width() / 2 && !inked; ++x) {
        for (int y = 0; y < int(terminal->cellDimension().height()) && !inked; ++y) {
            inked = picture.pixelColor(x, y) != background;
        }
    }
    EXPECT_TRUE(inked);
}

} // namespace
