#include "AppTestSupport.h"
#include "ContentUnavailableView.h"
#include "ElidedLabel.h"
#include "LoginShell.h"
#include "TabChip.h"
#include "TerminalTabView.h"
#include "TerminalTabsContainerView.h"
#include "ToolbarButtonsView.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <set>

using namespace cavrel;
using cavrel::test::HubWindowFixture;
using cavrel::test::RecordingTerminalViewFactory;
using cavrel::test::waitUntil;

namespace {

TEST(LoginShell, TheUsersShellFirstThenThePasswordEntryThenZshThenSh) {
    struct Case {
        const char* name;
        std::optional<QString> variable;
        std::optional<QString> passwordEntry;
        std::set<QString> executables;
        QString expected;
    };
    const Case cases[] = {
        {"$SHELL names an executable",
         "/usr/bin/fish",
         "/bin/bash",
         {"/usr/bin/fish"},
         "/usr/bin/fish"},
        {"a relative $SHELL is not used", "bash", "/bin/bash", {"bash", "/bin/bash"}, "/bin/bash"},
        {"a $SHELL that is not executable", "/opt/gone/zsh", "/bin/dash", {}, "/bin/dash"},
        {"no $SHELL", std::nullopt, "/bin/bash", {}, "/bin/bash"},
        {"no shell known: zsh when installed",
         std::nullopt,
         std::nullopt,
         {"/bin/zsh"},
         "/bin/zsh"},
        {"an empty password entry and no zsh", QString(""), QString(""), {}, "/bin/sh"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            loginShellPath(c.variable, c.passwordEntry,
                           [&c](const QString& path) { return c.executables.count(path) > 0; }),
            c.expected);
    }
    EXPECT_EQ(loginShellArguments(), QStringList{"-il"});

    test::ScopedEnvironment environment;
    environment.set("SHELL", "/bin/sh");
    EXPECT_EQ(loginShellPath(), "/bin/sh");
}

TEST(AgentCommandLine, PlainPathsAsTheyAreOthersQuoted) {
    struct Case {
        QString path;
        QString expected;
    };
    const Case cases[] = {
        {"/usr/local/bin/cavrel", "/usr/local/bin/cavrel codex\n"},
        {"/opt/cavrel-1.2/bin/cavrel_x@y%z+w=v:u,t",
         "/opt/cavrel-1.2/bin/cavrel_x@y%z+w=v:u,t codex\n"},
        {"cavrel", "cavrel codex\n"},
        {"", " codex\n"},
        {"/Applications/My Tools.app/cavrel", "'/Applications/My Tools.app/cavrel' codex\n"},
        {"/opt/it's/cavrel", "'/opt/it'\\''s/cavrel' codex\n"},
        {"/tmp/$(touch x)/cavrel", "'/tmp/$(touch x)/cavrel' codex\n"},
        {"/tmp/a;b`c`/cavrel", "'/tmp/a;b`c`/cavrel' codex\n"},
        {"/opt/caf\u00e9/cavrel", "'/opt/caf\u00e9/cavrel' codex\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(agentCommandLine(c.path, "codex"), c.expected);
    }
}

class AgentsScreenTest : public ::testing::Test {
protected:
    ContentView& window() { return m_fixture.window(); }
    RecordingTerminalViewFactory& terminals() { return m_fixture.terminals(); }
    TerminalSessionManager& tabs() { return m_fixture.appState().terminalSessions(); }
    QList<QPushButton*> buttons() { return window().toolbar()->buttons(); }

    QStringList chipTitles() {
        QStringList titles;
        for (TabChip* chip : window().terminalTabs()->chips()) {
            titles.append(chip->title());
        }
        return titles;
    }
    int activeChip() {
        const QList<TabChip*> chips = window().terminalTabs()->chips();
        for (qsizetype i = 0; i < chips.size(); ++i) {
            if (chips[i]->isActive()) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    TabChip* chip(int index) { return window().terminalTabs()->chips().value(index); }
    void select(int index) { QTest::mouseClick(chip(index)->titleLabel(), Qt::LeftButton); }
    void close(int index) { chip(index)->closeButton()->click(); }
    QWidget* shownTerminal() {
        TerminalTabView* shown = window().terminalTabs()->shownTab();
        return shown ? shown->terminalView() : nullptr;
    }

    HubWindowFixture m_fixture;
};

TEST_F(AgentsScreenTest, ToolbarButtonsOpenTabsInTheActiveProject) {
    QStringList labels;
    for (QPushButton* button : buttons()) {
        labels.append(button->text());
        EXPECT_FALSE(button->isEnabled()) << "no project";
    }
    EXPECT_EQ(labels, (QStringList{"Claude", "Codex", "Cursor", "OpenCode", "Antigravity"}));
    ContentUnavailableView* empty = window().terminalTabs()->emptyState();
    EXPECT_TRUE(empty->isVisibleTo(window().terminalTabs()));
    EXPECT_EQ(empty->title(), "No agent running");
    EXPECT_EQ(empty->description(), "Pick a project, then click an agent button above.");
    EXPECT_EQ(empty->symbol(), "terminal");
    EXPECT_TRUE(window().terminalTabs()->strip()->isHidden());

    test::ScopedEnvironment environment;
    environment.set("SHELL", "/bin/sh");
    m_fixture.openProject("/work/shop", std::nullopt); // tabs need no remote
    const QStringList tools{"claude", "codex", "cursor", "opencode", "agy"};
    for (qsizetype i = 0; i < buttons().size(); ++i) {
        SCOPED_TRACE(tools[i].toStdString());
        ASSERT_TRUE(buttons()[i]->isEnabled());
        m_fixture.setCavrelBinaryPath(i == 0 ? "/opt/my tools/cavrel" : "/opt/cavrel/bin/cavrel");
        QTest::mouseClick(buttons()[i], Qt::LeftButton);
        ASSERT_EQ(terminals().launches().size(), i + 1);
        const TerminalLaunch& launch = terminals().launches().last().launch;
        EXPECT_EQ(launch.executable, "/bin/sh");
        EXPECT_EQ(launch.args, QStringList{"-il"});
        EXPECT_EQ(launch.currentDirectory, "/work/shop");
        EXPECT_FALSE(launch.environment) << "the terminal's own default environment";
        EXPECT_FALSE(launch.execName);
        EXPECT_EQ(launch.initialText, i == 0 ? "'/opt/my tools/cavrel' claude\n"
                                             : "/opt/cavrel/bin/cavrel " + tools[i] + "\n");
        EXPECT_EQ(tabs().tabs().last().tool, tools[i]);
    }
    EXPECT_EQ(terminals().liveViews(), 1) << "only the active tab has a terminal";
    EXPECT_FALSE(window().terminalTabs()->strip()->isHidden());
    EXPECT_TRUE(empty->isHidden());
}

TEST_F(AgentsScreenTest, TheStripSelectsAndClosesTabs) {
    m_fixture.openProject("/work/shop", std::nullopt);
    buttons()[0]->click();
    buttons()[0]->click();
    EXPECT_EQ(chipTitles(), (QStringList{"claude — shop", "claude — shop"}));
    EXPECT_EQ(activeChip(), 1);
    ASSERT_EQ(terminals().launches().size(), 2);
    EXPECT_TRUE(terminals().launches()[0].view.isNull()) << "the replaced view is destroyed";
    QPointer<QWidget> second = terminals().launches()[1].view;
    EXPECT_EQ(shownTerminal(), second.data());

    // Tapping the active chip changes nothing.
    select(1);
    EXPECT_EQ(terminals().launches().size(), 2);
    EXPECT_EQ(shownTerminal(), second.data());

    // Selecting another tab starts its shell anew; selecting back starts another.
    buttons()[1]->click(); // tabs: claude, claude, codex (active)
    select(0);
    EXPECT_EQ(activeChip(), 0);
    EXPECT_EQ(terminals().launches().size(), 4);
    EXPECT_EQ(terminals().launches().last().launch.initialText, "/opt/cavrel/bin/cavrel claude\n");
    EXPECT_EQ(terminals().liveViews(), 1);

    // Closing a tab that is not active leaves the terminal alone.
    QPointer<QWidget> shown = shownTerminal();
    close(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(chipTitles(), (QStringList{"claude — shop", "codex — shop"}));
    EXPECT_EQ(shownTerminal(), shown.data());
    EXPECT_EQ(terminals().launches().size(), 4);

    // With A, B, C and B active, closing B makes C active, not A.
    buttons()[2]->click(); // claude, codex, cursor (active)
    select(1);
    close(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(chipTitles(), (QStringList{"claude — shop", "cursor — shop"}));
    EXPECT_EQ(activeChip(), 1);
    EXPECT_EQ(terminals().launches().last().launch.initialText, "/opt/cavrel/bin/cavrel cursor\n");
    EXPECT_EQ(terminals().liveViews(), 1);

    // Closing the last tabs removes the strip and shows the empty state.
    close(1);
    close(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(chipTitles().isEmpty());
    EXPECT_TRUE(window().terminalTabs()->strip()->isHidden());
    EXPECT_EQ(shownTerminal(), nullptr);
    EXPECT_EQ(terminals().liveViews(), 0);
    EXPECT_FALSE(window().terminalTabs()->emptyState()->isHidden());
}

TEST_F(AgentsScreenTest, ChipTitlesArePlainText) {
    m_fixture.openProject("/work/R&D <b>x", std::nullopt);
    buttons()[0]->click();
    ASSERT_EQ(chipTitles(), QStringList{"claude — R&D <b>x"});
    EXPECT_TRUE(waitUntil([&] { return chip(0)->titleLabel()->shownText() == chipTitles()[0]; }))
        << "as typed, not markup: " << chip(0)->titleLabel()->shownText().toStdString();
    EXPECT_EQ(terminals().launches().last().launch.currentDirectory, "/work/R&D <b>x");
}

TEST_F(AgentsScreenTest, ChipTitlesEndInAnEllipsisWhenTheStripIsTooNarrow) {
    m_fixture.openProject("/work/storefront", std::nullopt);
    window().resize(window().minimumSize());
    for (int i = 0; i < 6; ++i) {
        buttons()[i % buttons().size()]->click();
    }
    QWidget* strip = window().terminalTabs()->strip();
    // Each chip inside the strip, its title drawn whole or cut at a character with "…".
    const auto problems = [&] {
        QStringList found;
        for (TabChip* chip : window().terminalTabs()->chips()) {
            const ElidedLabel* title = chip->titleLabel();
            const QString shown = title->shownText();
            if (shown != chip->title() &&
                !(shown.endsWith("…") && chip->title().startsWith(shown.chopped(1)))) {
                found.append(chip->title() + " shows " + shown);
            }
            if (QFontMetricsF(title->font(), title).horizontalAdvance(shown) >
                title->contentsRect().width()) {
                found.append(chip->title() + " is wider than its place");
            }
            const QRect at(chip->mapTo(strip, QPoint(0, 0)), chip->size());
            if (at.left() < 0 || at.right() >= strip->width()) {
                found.append(chip->title() + " is outside the strip");
            }
        }
        return found;
    };
    const auto elided = [&] {
        int count = 0;
        for (TabChip* chip : window().terminalTabs()->chips()) {
            count += chip->titleLabel()->shownText() != chip->title();
        }
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return problems().isEmpty() && elided() > 0; }))
        << problems().join("\n").toStdString() << " (" << elided() << " elided)";

    window().resize(1600, 800);
    EXPECT_TRUE(waitUntil([&] { return problems().isEmpty() && elided() == 0; }))
        << problems().join("\n").toStdString() << " (" << elided() << " elided)";
}

TEST_F(AgentsScreenTest, TheShownTerminalTakesTheKeyboardFocus) {
    m_fixture.openProject("/work/shop", std::nullopt);
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    const auto focused = [] { return QApplication::focusWidget(); };

    // Opened from a button, which a click would otherwise leave with the focus.
    QTest::mouseClick(buttons()[0], Qt::LeftButton);
    EXPECT_EQ(focused(), shownTerminal()) << "the first tab";
    QTest::mouseClick(buttons()[1], Qt::LeftButton);
    EXPECT_EQ(focused(), shownTerminal()) << "a second tab";

    select(0);
    EXPECT_EQ(focused(), shownTerminal()) << "a selected tab";
    QPointer<QWidget> selected = shownTerminal();
    window().sidebar()->list()->setFocus();
    select(0);
    EXPECT_EQ(shownTerminal(), selected.data()) << "the active tab keeps its terminal";
    EXPECT_EQ(focused(), shownTerminal()) << "the active tab's chip";

    // Back from a hub screen: the same terminal, with the focus again.
    window().setSelection(NavItem::rules);
    EXPECT_NE(focused(), shownTerminal()) << "hidden under the hub screen";
    window().sidebar()->list()->setFocus();
    window().setSelection(NavItem::terminals);
    EXPECT_EQ(shownTerminal(), selected.data());
    EXPECT_EQ(focused(), shownTerminal()) << "back on Agents";

    close(activeChip());
    ASSERT_NE(shownTerminal(), nullptr);
    EXPECT_EQ(focused(), shownTerminal()) << "the tab that takes a closed one's place";
}

TEST_F(AgentsScreenTest, EachWindowRunsItsOwnTerminalForTheSharedActiveTab) {
    m_fixture.openProject("/work/shop", std::nullopt);
    buttons()[0]->click();
    std::unique_ptr<ContentView> second(window().openNewWindow());
    second->setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(terminals().launches().size(), 2);
    EXPECT_EQ(terminals().liveViews(), 2);
    second->terminalTabs()->chips().value(0)->closeButton()->click();
    EXPECT_EQ(terminals().liveViews(), 0) << "closed in one window, gone in both";
}

} // namespace

// With the application's own terminal views: a tab's shell lives exactly as long as its view.
TEST(AgentTerminals, AReplacedOrClosedTabsShellIsHungUpAndReaped) {
    HubWindowFixture fixture;
    fixture.useRealTerminals();
    test::ScopedEnvironment environment;
    ASSERT_TRUE(test::usePlainLoginShell(environment, fixture.home().path(), "tabs$ "));
    const QString project = fixture.home().filePath("shop");
    ASSERT_TRUE(QDir().mkpath(project));
    fixture.openProject(project, std::nullopt);
    ContentView& window = fixture.window();
    const QList<QPushButton*> buttons = window.toolbar()->buttons();

    const auto shownShell = [&]() -> veldatron::LocalProcessTerminalView* {
        TerminalTabView* shown = window.terminalTabs()->shownTab();
        return shown ? qobject_cast<veldatron::LocalProcessTerminalView*>(shown->terminalView())
                     : nullptr;
    };
    const auto reaped = [](pid_t pid) {
        // A zombie still answers kill(pid, 0).
        return waitUntil([pid] { return ::kill(pid, 0) == -1 && errno == ESRCH; });
    };

    buttons[0]->click();
    veldatron::LocalProcessTerminalView* first = shownShell();
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitUntil([&] {
        return test::terminalText(*first).contains("/opt/cavrel/bin/cavrel claude\n") &&
               test::terminalText(*first).count("tabs$ ") >= 2;
    })) << test::terminalText(*first).toStdString();
    const pid_t firstShell = first->process().shellPid();

    buttons[1]->click();
    veldatron::LocalProcessTerminalView* second = shownShell();
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitUntil([&] { return second->process().running(); }));
    const pid_t secondShell = second->process().shellPid();
    EXPECT_NE(secondShell, firstShell);
    EXPECT_TRUE(reaped(firstShell)) << "the replaced tab's shell";

    // Closing the active tab shows the other one in a new view: a third shell, the second gone.
    window.terminalTabs()->chips().last()->closeButton()->click();
    EXPECT_TRUE(reaped(secondShell)) << "the closed tab's shell";
    veldatron::LocalProcessTerminalView* third = shownShell();
    ASSERT_TRUE(third);
    ASSERT_TRUE(waitUntil([&] { return third->process().running(); }));
    const pid_t thirdShell = third->process().shellPid();
    window.terminalTabs()->chips().last()->closeButton()->click();
    EXPECT_TRUE(reaped(thirdShell)) << "the last tab's shell";
    EXPECT_FALSE(shownShell());
}
