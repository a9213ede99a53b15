// Clicks into the command line a shell marked (OSC 133): the cursor keys or click report the
// terminal sends to move the shell's cursor, and the clicks it leaves to the view.
#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>

namespace veldatron {
namespace {

using testing::TerminalFixture;
using Modifiers = SemanticPromptClickModifiers;
using Behavior = SemanticPromptClickBehavior;

std::string osc133(std::string_view payload) {
    return "\x1b]133;" + std::string(payload) + "\x07";
}

// A prompt "$ " with the given options, then the command line.
std::string prompt(std::string_view options) {
    return osc133("A;" + std::string(options)) + "$ " + osc133("B");
}

// A second line of the same command after an Enter the editor echoed: "> " then input.
const std::string nextLine = "\r\n" + osc133("A;k=c") + "> " + osc133("B");

std::string times(int n, std::string_view sequence) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += sequence;
    }
    return testing::escaped(out);
}

const std::string right = "\x1b[C";
const std::string left = "\x1b[D";

TEST(TerminalPromptClick, MovesTheShellsCursorToTheClickedInputCell) {
    struct Case {
        const char* name;
        std::string shell; // what the shell wrote; the click is on the screen row given
        int col;
        int row;
        std::string sent; // escaped; empty: the click is not taken
        Modifiers modifiers = Modifiers();
        Behavior behavior = Behavior::enabled;
    };
    const Modifiers shiftCommand{Modifiers::shift, Modifiers::command};
    const Case cases[] = {
        {"right on the same row", prompt("cl=line") + "echo hello\x1b[6G", 9, 0, times(4, right)},
        {"application cursor keys", "\x1b[?1h" + prompt("cl=line") + "echo hello\x1b[6G", 9, 0,
         times(4, "\x1bOC")},
        {"left on the same row", prompt("cl=line") + "echo hello", 4, 0, times(8, left)},
        {"the right half of a wide character targets the character",
         prompt("cl=line") + "a\u65e5\u672cb", 6, 0, times(2, left)},
        {"the first half of it too", prompt("cl=line") + "a\u65e5\u672cb", 5, 0, times(2, left)},
        {"across a wrapped row", prompt("cl=line") + std::string(25, 'x'), 2, 0, times(25, left)},
        {"on the wrapped row", prompt("cl=line") + std::string(25, 'x') + "\x1b[1;3H", 3, 1,
         times(21, right)},
        {"a line break counts one in multiple mode",
         prompt("cl=m") + "echo a \\" + nextLine + "b c", 4, 0, times(10, left)},
        {"multiple mode forward", prompt("cl=m") + "echo a \\" + nextLine + "b c\x1b[1;5H", 4, 1,
         times(9, right)},
        {"vertical mode: to the line start, down, then right",
         prompt("cl=v") + "abcdefgh" + nextLine + "012345678\x1b[1;5H", 7, 1,
         times(2, left) + times(1, "\x1b[B") + times(5, right)},
        {"the other vertical mode alike, upwards",
         prompt("cl=w") + "abcdefgh" + nextLine + "012345678", 3, 0,
         times(9, left) + times(1, "\x1b[A") + times(1, right)},
        {"vertical moves by application keys", "\x1b[?1h" + prompt("cl=v") + "ab" + nextLine + "c",
         2, 0, times(1, "\x1bOD") + times(1, "\x1bOA")},
        {"the shell's own keys", prompt("cl=m;special_key=1") + "echo a \\" + nextLine + "b", 9, 0,
         times(3, "\x1b[1;1u")},
        {"the shell's own keys forward", prompt("cl=v;special_key=1") + "abc\x1b[3G", 4, 0,
         times(2, "\x1b[1u")},
        {"a click report at the screen row",
         "\x1b[20;1H\n\n\n\x1b[3;1H" + prompt("click_events=1") + "ls", 0, 2,
         testing::escaped("\x1b[<0;1;3M")},
        {"a click report counted from the prompt's row",
         "\r\n" + prompt("click_events=2") + std::string(25, 'y'), 4, 2,
         testing::escaped("\x1b[<0;5;1M")},
        {"a click report on the prompt's row", "\r\n" + prompt("click_events=2") + "ls", 3, 1,
         testing::escaped("\x1b[<0;4;0M")},
        {"exactly the required modifiers", prompt("cl=line") + "echo hello", 4, 0, times(8, left),
         shiftCommand, Behavior::requireModifier(shiftCommand)},

        {"another logical line in line mode", prompt("cl=line") + "echo a \\" + nextLine + "b", 4,
         0, ""},
        {"on the cursor's own cell", prompt("cl=line") + "echo\x1b[4G", 3, 0, ""},
        {"a row above the prompt", "out\r\n" + prompt("cl=line") + "ls", 1, 0, ""},
        {"a row below the command line", prompt("cl=line") + "ls", 1, 1, ""},
        {"a prompt without input", prompt("cl=line"), 1, 0, ""},
        {"a shell that takes no clicks", prompt("") + "echo hello", 4, 0, ""},
        {"the shell's cursor outside the command line", prompt("cl=line") + "echo\x1b[4;1H", 3, 0,
         ""},
        {"a command already running", prompt("cl=line") + "ls\r\n" + osc133("C"), 2, 0, ""},
        {"the alternate screen", prompt("cl=line") + "ls\x1b[?47h", 2, 0, ""},
        {"a modifier while none is required", prompt("cl=line") + "echo hello", 4, 0, "",
         Modifiers::shift},
        {"fewer modifiers than required", prompt("cl=line") + "echo hello", 4, 0, "",
         Modifiers::shift, Behavior::requireModifier(shiftCommand)},
        {"prompt clicks turned off", prompt("cl=line") + "echo hello", 4, 0, "", Modifiers(),
         Behavior::disabled},
        {"a column beyond the screen", prompt("cl=line") + "echo hello", 20, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 20, .rows = 6});
        t.terminal.setSemanticPromptClickBehavior(c.behavior);
        t.feed(c.shell);
        const Position at{c.col, t.terminal.buffer().yBase() + c.row};
        EXPECT_EQ(t.terminal.handleSemanticPromptClick(at, c.modifiers), !c.sent.empty());
        EXPECT_EQ(t.takeReplies(), c.sent);
    }
}

TEST(TerminalPromptClick, OnlyASingleClickWithoutDragOrSelectionIsAPromptClick) {
    struct Case {
        const char* name;
        SemanticPromptPointerSnapshot snapshot;
        bool routed;
    };
    const Case cases[] = {
        {"a single click", {false, false, 1, true}, true},
        {"a double click", {false, false, 2, true}, false},
        {"a drag", {false, true, 1, true}, false},
        {"a selection was active", {true, false, 1, true}, false},
        {"mouse reporting took the press", {false, false, 1, false}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 20, .rows = 6});
        t.feed(prompt("cl=line") + "echo hello");
        EXPECT_EQ(t.terminal.mightRouteSemanticPromptClick(Modifiers(), c.snapshot), c.routed);
        EXPECT_EQ(t.terminal.handleSemanticPromptClick(Position{4, 0}, Modifiers(), c.snapshot),
                  c.routed);
        EXPECT_EQ(t.takeReplies(), c.routed ? times(8, left) : "");
    }

    // The cheap test at the press also wants an armed command line whose shell takes clicks.
    const SemanticPromptPointerSnapshot click{false, false, 1, true};
    for (const std::string& shell : {prompt("") + "ls", prompt("cl=m") + "ls\r\n" + osc133("C"),
                                     prompt("cl=m") + "ls\x1b[?1049h", std::string("ls")}) {
        SCOPED_TRACE(testing::escaped(shell));
        TerminalFixture t({.cols = 20, .rows = 6});
        t.feed(shell);
        EXPECT_FALSE(t.terminal.mightRouteSemanticPromptClick(Modifiers(), click));
    }
}

} // namespace
} // namespace veldatron
