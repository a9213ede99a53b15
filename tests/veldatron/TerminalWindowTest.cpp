#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Kind = WindowManipulationCommand::Kind;

// ---- Commands for the host ------------------------------------------------------------------

TEST(TerminalWindow, OperationsBecomeHostCommands) {
    struct Case {
        std::string params;
        WindowManipulationCommand command;
    };
    const Case cases[] = {
        {"1", {Kind::deiconifyWindow}},
        {"2", {Kind::iconifyWindow}},
        {"3;10;20", {Kind::moveWindowTo, 10, 20}},
        {"4;300;400", {Kind::resizeWindowTo, 400, 300}},
        {"5", {Kind::bringToFront}},
        {"6", {Kind::sendToBack}},
        {"7", {Kind::refreshWindow}},
        {"8;24;80", {Kind::resizeTerminal, 80, 24}},
        {"9;0", {Kind::restoreMaximizedWindow}},
        {"9;3", {Kind::maximizeWindowHorizontally}},
        {"10;1", {Kind::switchToFullScreen}},
        {"10;2", {Kind::toggleFullScreen}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        TerminalFixture t;
        t.feed("\x1b[" + c.params + "t");
        EXPECT_THAT(t.host.windowCommands, ElementsAre(c.command));
        EXPECT_EQ(t.takeReplies(), "") << "a command is not answered, whatever the host returns";
    }
}

TEST(TerminalWindow, ListsThatMatchNoOperationAreOnlyLogged) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.feed("\x1b[22t\x1b[9t\x1b[9;4t\x1b[1;1t\x1b[3;1t\x1b[14;2;1t\x1b[23;3t");
    EXPECT_THAT(t.host.windowCommands, IsEmpty());
    EXPECT_THAT(capture.captured(), ElementsAre("Info: Unhandled Window command: [22]",
                                                "Info: Unhandled Window command: [9]",
                                                "Info: Unhandled Window command: [9, 4]",
                                                "Info: Unhandled Window command: [1, 1]",
                                                "Info: Unhandled Window command: [3, 1]",
                                                "Info: Unhandled Window command: [14, 2, 1]",
                                                "Info: Unhandled Window command: [23, 3]"));
}

// ---- Reports --------------------------------------------------------------------------------

TEST(TerminalWindow, SizeReportsBuiltByTheTerminal) {
    struct Case {
        std::string request;
        std::optional<CellSize> cellSize;
        std::string reply;
    };
    const Case cases[] = {
        {"18", std::nullopt, "\x1b[8;24;80t"},        {"19", std::nullopt, "\x1b[9;24;80t"},
        {"14", CellSize{9, 18}, "\x1b[4;432;720t"},   {"14", std::nullopt, "\x1b[4;384;800t"},
        {"14;2", CellSize{9, 18}, "\x1b[4;432;720t"}, {"15", std::nullopt, "\x1b[5;384;800t"},
        {"16", std::nullopt, "\x1b[6;16;10t"},        {"16", CellSize{7, 15}, "\x1b[6;15;7t"},
        {"20", std::nullopt, "\x1b]L\x1b\\"},         {"21", std::nullopt, "\x1b]l\x1b\\"},
    };
    for (bool eight : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.request + (eight ? " 8-bit" : " 7-bit"));
            TerminalFixture t({.cols = 80, .rows = 24});
            t.host.cellSize = c.cellSize;
            t.terminal.setTitle("secret");
            if (eight) {
                t.feed("\x1b[65;2\"p");
            }
            t.feed("\x1b[" + c.request + "t");
            EXPECT_EQ(t.takeReplies(), escaped(eight ? eightBit(c.reply) : c.reply));
        }
    }
}

TEST(TerminalWindow, AHostReplyIsSentAsItIs) {
    TerminalFixture t;
    t.host.windowReply = std::vector<uint8_t>{'h', 'o', 's', 't'};
    t.feed("\x1b[18t\x1b[14t");
    EXPECT_EQ(t.takeReplies(), "hosthost");
    ASSERT_EQ(t.host.windowCommands.size(), 2u);
    EXPECT_EQ(t.host.windowCommands[0].kind, Kind::reportTextAreaCharacters);
    EXPECT_EQ(t.host.windowCommands[1].kind, Kind::reportTextAreaPixelDimension);
    t.feed("\x1b[21t");
    EXPECT_EQ(t.takeReplies(), "\\x1b]l\\x1b\\\\") << "the title report never asks the host";
}

// ---- Title stacks ---------------------------------------------------------------------------

TEST(TerminalWindow, TitleStacksPushAndPop) {
    TerminalFixture t;
    Terminal& terminal = t.terminal;
    t.feed("\x1b]2;first\x07\x1b]1;icon\x07\x1b[22;0t\x1b]2;second\x07\x1b]1;other\x07");
    t.takeCalls();
    t.feed("\x1b[23;1t");
    EXPECT_EQ(terminal.iconTitle(), "icon");
    EXPECT_EQ(terminal.terminalTitle(), "second");
    EXPECT_THAT(t.takeCalls(), ElementsAre("setTerminalIconTitle icon"));
    t.feed("\x1b[23;2t");
    EXPECT_EQ(terminal.terminalTitle(), "first");
    t.feed("\x1b[23;0t\x1b[23;0;0t");
    EXPECT_THAT(t.takeCalls(), ElementsAre("setTerminalTitle first"))
        << "popping empty stacks does nothing";

    t.feed("\x1b[22;2t\x1b[22;1t\x1b[22;0;0t");
    EXPECT_EQ(terminal.terminalTitleStack(), (std::vector<std::string>{"first", "first"}));
    EXPECT_EQ(terminal.terminalIconStack(), (std::vector<std::string>{"icon", "icon"}));
}

TEST(TerminalWindow, TitleStacksAreBounded) {
    TerminalFixture t;
    Terminal& terminal = t.terminal;
    for (int i = 0; i < 12; ++i) {
        t.feed("\x1b]0;t" + std::to_string(i) + "\x07\x1b[22t\x1b[22;0t");
    }
    ASSERT_EQ(terminal.terminalTitleStack().size(), Terminal::maxTitleStackDepth);
    EXPECT_EQ(terminal.terminalTitleStack().front(), "t2") << "the oldest entries give way";
    EXPECT_EQ(terminal.terminalTitleStack().back(), "t11");

    // A long title is kept up to the limit, never cutting a character in two.
    const std::string longTitle = std::string(Terminal::maxTitleLength - 1, 'a') + "\xc3\xa4";
    t.feed("\x1b]2;" + longTitle + "\x07\x1b[22;2t");
    EXPECT_EQ(terminal.terminalTitleStack().back(), std::string(Terminal::maxTitleLength - 1, 'a'));
    t.feed("\x1b[23;2t");
    EXPECT_EQ(terminal.terminalTitle().size(), Terminal::maxTitleLength - 1);
}

TEST(TerminalWindow, WithoutAHostNothingHappensNotEvenTheStacks) {
    Terminal terminal(nullptr);
    terminal.feed("\x1b]2;t\x07\x1b[22;0t");
    EXPECT_TRUE(terminal.terminalTitleStack().empty());
}

// ---- Cursor style ---------------------------------------------------------------------------

TEST(TerminalWindow, CursorStyleNotifiesOnChangesOnly) {
    TerminalFixture t;
    t.takeCalls();
    t.feed("\x1b[3 q\x1b[3 q\x1b[7 q\x1b[4q\x1b[0 q\x1b[6 q\x1b[1 q");
    EXPECT_EQ(t.terminal.cursorStyle(), CursorStyle::blinkBlock);
    EXPECT_THAT(t.takeCalls(),
                ElementsAre("cursorStyleChanged blinkUnderline", "cursorStyleChanged blinkBlock",
                            "cursorStyleChanged steadyBar", "cursorStyleChanged blinkBlock"));
    t.terminal.setCursorStyle(CursorStyle::steadyBlock);
    t.terminal.setCursorStyle(CursorStyle::steadyBlock);
    EXPECT_THAT(t.takeCalls(), ElementsAre("cursorStyleChanged steadyBlock"));
}

// ---- Reverse index --------------------------------------------------------------------------

TEST(TerminalWindow, ReverseIndex) {
    struct Case {
        const char* name;
        std::string input;
        Rows screen;
        std::string cursor;
    };
    // A 6 x 5 screen holding the rows "0" to "4".
    const Case cases[] = {
        {"below the top it moves up", "\x1b[3;2H\x1bM", {"0", "1", "2", "3", "4"}, "1,1"},
        {"at the top of the screen it scrolls down",
         "\x1b[H\x1bM",
         {"", "0", "1", "2", "3"},
         "0,0"},
        {"at the top of a region only the region scrolls",
         "\x1b[2;4r\x1b[2;3H\x1bM",
         {"0", "", "1", "2", "4"},
         "2,1"},
        {"above the region at row 0 nothing happens",
         "\x1b[2;4r\x1b[1;1H\x1bM",
         {"0", "1", "2", "3", "4"},
         "0,0"},
        {"with margins only their columns move",
         "\x1b[?69h\x1b[2;3s\x1b[1;1HAB\x1b[1;2H\x1bM",
         {"A", "1B", "2", "3", "4"},
         "1,0"},
        {"left of the margins nothing happens",
         "\x1b[?69h\x1b[3;4s\x1b[1;1H\x1bM",
         {"0", "1", "2", "3", "4"},
         "0,0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 6, .rows = 5});
        t.feed("0\r\n1\r\n2\r\n3\r\n4");
        t.feed(c.input);
        EXPECT_EQ(t.screen(), c.screen);
        EXPECT_EQ(t.cursor(), c.cursor);
    }
}

TEST(TerminalWindow, ReverseIndexBlankLineTakesTheBackground) {
    TerminalFixture t({.cols = 4, .rows = 2});
    t.feed("ab\x1b[H\x1b[41m\x1bM");
    EXPECT_EQ(t.cell(3, 0).attribute(),
              Attribute(Attribute::Color::defaultColor, Attribute::Color::ansi256(1)));
    EXPECT_FALSE(t.line(0).isWrapped());
    EXPECT_EQ(t.screen(), (Rows{"", "ab"}));
}

} // namespace
