// Typing into an agent tab's terminal on a real X server, the way a user does: key presses go
// to the X server (XTest, through xdotool), reach the window with the input focus and pass
// through the platform's key events, the view's key handling and the pseudo-terminal to the
// shell's line editor and to a full-screen editor. What they did is read back from files the
// programs write.

#include "AgentTabOnX11.h"
#include "SidebarView.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>

using cavrel::NavItem;
using cavrel::test::terminalText;
using cavrel::test::waitUntil;

namespace {

class TypingOnX11 : public cavrel::test::AgentTabOnX11 {
protected:
    // Opens the tab with `shell` and gives its terminal the keyboard focus.
    void openFocusedTab(const QByteArray& shell) {
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            << "xdotool presses the keys (scripts/setup installs it)";
        ASSERT_NO_FATAL_FAILURE(openAgentTab(shell));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        terminal().setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == &terminal(); }));
    }

    // Presses keys on the X server: `xdotool key` names ("ctrl+w", "Home") or `xdotool type`
    // text. The events queue in the server in order; the application reads them afterwards.
    static void xdotool(const QString& command, const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("xdotool"),
                      QStringList{command, QStringLiteral("--delay"), QStringLiteral("20")} +
                          arguments);
        ASSERT_TRUE(process.waitForFinished(60'000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    static void keys(const QStringList& names) { xdotool(QStringLiteral("key"), names); }
    static void type(const QString& text) { xdotool(QStringLiteral("type"), {text}); }
    // A click of the first mouse button at `point` of `widget`, on the X server.
    static void click(const QWidget* widget, const QPoint& point) {
        const QPoint at = widget->mapToGlobal(point);
        QProcess process;
        process.start(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(at.x()),
                       QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
        ASSERT_TRUE(process.waitForFinished(60'000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    void clickSidebar(NavItem item) {
        QListWidget* list = window->sidebar()->list();
        click(list->viewport(), list->visualItemRect(window->sidebar()->navItem(item)).center());
    }

    QString screen() {
        veldatron::LocalProcessTerminalView* shown = shownTerminal();
        return shown ? terminalText(*shown) : QStringLiteral("(no terminal shown)");
    }

    // Waits for the screen to show `text` (or no longer show it).
    ::testing::AssertionResult waitForScreen(const QString& text, bool shown = true) {
        if (waitUntil([&] { return screen().contains(text) == shown; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << (shown ? "never showed \"" : "still shows \"") << text.toStdString() << "\":\n"
               << screen().toStdString();
    }

    ::testing::AssertionResult waitForFile(const QString& name, const QByteArray& contents) {
        QFile file(QDir(project).filePath(name));
        const auto read = [&] {
            if (!file.open(QIODevice::ReadOnly)) {
                return QByteArray();
            }
            const QByteArray data = file.readAll();
            file.close();
            return data;
        };
        if (waitUntil([&] { return read() == contents; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << name.toStdString() << " holds \"" << read().toStdString() << "\"; the screen:\n"
               << screen().toStdString();
    }
};

// What a user types right after clicking an agent button, or after coming back to Agents from
// a hub screen, goes to the tab's shell: not to the button (where a space or Return would open
// another tab) nor to the sidebar (where a letter would jump to another screen).
TEST_F(TypingOnX11, KeysTypedAfterTheClicksThatShowATerminalReachItsShell) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty());
    ASSERT_NO_FATAL_FAILURE(startApplication("/bin/sh"));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QPushButton* agent = window->toolbar()->buttons().value(0);
    ASSERT_TRUE(agent && agent->isEnabled());

    // Clicked and typed at once: the keys wait on the X server while the tab opens.
    click(agent, agent->rect().center());
    type(QStringLiteral("echo ok > f.txt"));
    keys({"Return"});
    EXPECT_TRUE(waitForFile(QStringLiteral("f.txt"), "ok\n"));
    EXPECT_EQ(appState->terminalSessions().tabs().size(), 1);

    clickSidebar(NavItem::rules);
    ASSERT_TRUE(waitUntil([&] { return window->selection() == NavItem::rules; }));
    clickSidebar(NavItem::terminals);
    type(QStringLiteral("echo back > g.txt"));
    keys({"Return"});
    EXPECT_TRUE(waitForFile(QStringLiteral("g.txt"), "back\n"));
    EXPECT_EQ(window->selection(), NavItem::terminals);
    EXPECT_EQ(appState->terminalSessions().tabs().size(), 1);
    EXPECT_EQ(QApplication::focusWidget(), shownTerminal());
}

TEST_F(TypingOnX11, TheShellsLineEditorGetsEveryEditingKey) {
    ASSERT_NO_FATAL_FAILURE(openFocusedTab("/bin/bash"));

    // "cho bar qux", the last word rubbed out and the space after "bar" deleted; an "e" at the
    // line's start and a redirection at its end; "foo " after the first word.
    type(QStringLiteral("cho bar qux"));
    keys({"ctrl+w", "BackSpace", "Home"});
    type(QStringLiteral("e"));
    keys({"End"});
    type(QStringLiteral(" > out.txt"));
    keys({"ctrl+a", "Right", "Right", "Right", "Right", "Right"});
    type(QStringLiteral("foo "));
    keys({"ctrl+e"});
    ASSERT_TRUE(waitForScreen(QStringLiteral("agents$ echo foo bar > out.txt")));
    keys({"Return"});
    ASSERT_TRUE(waitForFile(QStringLiteral("out.txt"), "foo bar\n"));

    // The line again from the history, edited at its end and in its middle.
    keys({"Up", "ctrl+e"});
    type(QStringLiteral("2"));
    keys(QStringList(10, QStringLiteral("Left"))); // to just before "> out.txt2"
    type(QStringLiteral("baz "));
    ASSERT_TRUE(waitForScreen(QStringLiteral("agents$ echo foo bar baz > out.txt2")));
    keys({"Return"});
    EXPECT_TRUE(waitForFile(QStringLiteral("out.txt2"), "foo bar baz\n"));
}

TEST_F(TypingOnX11, AProgramThatAsksForUnambiguousKeysGetsThem) {
    ASSERT_NO_FATAL_FAILURE(openFocusedTab("/bin/sh"));
    // One line read with the kitty keyboard protocol's first enhancement on, then off again.
    type(QStringLiteral("printf '\\033[>1u'; head -n 1 > keys.txt; printf '\\033[<u'"));
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] {
        return terminal().terminal().keyboardEnhancementFlags() ==
               veldatron::KittyKeyboardFlags::disambiguate;
    })) << screen().toStdString();
    // Caps Lock is on only for the second Ctrl+a: the X server's lock state reaches the
    // program as a modifier.
    keys({"a", "ctrl+a", "Caps_Lock", "ctrl+a", "Caps_Lock", "Escape", "Up", "Return"});
    EXPECT_TRUE(waitForFile(QStringLiteral("keys.txt"), "a\x1b[97;5u\x1b[97;69u\x1b[27u\x1b[A\n"));
    EXPECT_TRUE(
        waitUntil([&] { return terminal().terminal().keyboardEnhancementFlags().isEmpty(); }));
}

TEST_F(TypingOnX11, AFullScreenEditorIsOpenedEditedAndQuitByKeysAlone) {
    ASSERT_NO_FATAL_FAILURE(openFocusedTab("/bin/sh"));
    veldatron::Terminal& emulator = terminal().terminal();

    // No user settings, no swap file, no history file: only the keys decide.
    type(QStringLiteral("vim -u NONE -N -i NONE -n note.txt"));
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] { return emulator.isCurrentBufferAlternate(); }))
        << screen().toStdString();
    ASSERT_TRUE(waitForScreen(QStringLiteral("\"note.txt\"")));

    // Two lines typed, a mistyped character taken back.
    keys({"i"});
    ASSERT_TRUE(waitForScreen(QStringLiteral("-- INSERT --")));
    type(QStringLiteral("hello vimx"));
    keys({"BackSpace", "Return"});
    type(QStringLiteral("second"));
    keys({"Escape"});
    ASSERT_TRUE(waitForScreen(QStringLiteral("-- INSERT --"), false));

    // Back up a line (the cursor keys in the editor's application mode), to its start.
    keys({"Up", "Home", "i"});
    ASSERT_TRUE(waitForScreen(QStringLiteral("-- INSERT --")));
    type(QStringLiteral("say "));
    keys({"Escape"});
    ASSERT_TRUE(waitForScreen(QStringLiteral("-- INSERT --"), false));
    ASSERT_TRUE(waitForScreen(QStringLiteral("say hello vim")));

    type(QStringLiteral(":wq"));
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] { return !emulator.isCurrentBufferAlternate(); }))
        << screen().toStdString();
    EXPECT_TRUE(waitForFile(QStringLiteral("note.txt"), "say hello vim\nsecond\n"));
    EXPECT_TRUE(waitForScreen(QStringLiteral("note.txt")));
}

} // namespace
