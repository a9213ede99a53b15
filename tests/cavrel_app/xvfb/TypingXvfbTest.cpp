// Typing into an agent tab's terminal on a real X server, the way a user does: key presses go
// to the X server (XTest, through xdotool), reach the window with the input focus and pass
// through the platform's key events, the view's key handling and the pseudo-terminal to the
// shell's line editor and to a full-screen editor. What they did is read back from files the
// programs write.

#include "UserOnX11.h"

using cavrel::NavItem;
using cavrel::test::terminalText;
using cavrel::test::waitUntil;

namespace {

using TypingOnX11 = cavrel::test::UserOnX11;

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

    ASSERT_NO_FATAL_FAILURE(openEditor(QStringLiteral("note.txt")));
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
