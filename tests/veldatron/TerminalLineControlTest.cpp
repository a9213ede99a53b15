#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// Each row: a 10 x 5 terminal (20 lines of scrollback) with "r0" ... "r4" on its rows, then the
// setup bytes and the bytes under test, fed separately.
struct LineControlCase {
    const char* name;
    std::string setup;
    std::string input;
    Rows screen;
    std::string cursor;
    Rows scrollback = {};
    int linefeeds = -1; // calls of the host's linefeed during `input`, when checked
};

const std::string fiveRows = "r0\r\nr1\r\nr2\r\nr3\r\nr4";

const LineControlCase lineControlCases[] = {
    // Line feed.
    {"LF moves down and keeps the column",
     "\x1b[2;4H",
     "\n",
     {"r0", "r1", "r2", "r3", "r4"},
     "3,2",
     {},
     1},
    {"LF on the bottom of the screen scrolls into the scrollback",
     "\x1b[5;2H",
     "\n",
     {"r1", "r2", "r3", "r4", ""},
     "1,4",
     {"r0"},
     1},
    {"LF on the bottom of a region at the top scrolls only the region",
     "\x1b[1;2r\x1b[2;1H",
     "\n",
     {"r1", "", "r2", "r3", "r4"},
     "0,1",
     {"r0"},
     1},
    {"LF on the bottom of a lower region discards its top line",
     "\x1b[2;4r\x1b[4;1H",
     "\n",
     {"r0", "r2", "r3", "", "r4"},
     "0,3",
     {},
     1},
    {"LF below the region on the last row does nothing",
     "\x1b[2;4r\x1b[5;3H",
     "\n",
     {"r0", "r1", "r2", "r3", "r4"},
     "2,4",
     {},
     1},
    {"LF at the pending-wrap column lands in the last column",
     "\x1b[1;1H",
     "0123456789\n",
     {"0123456789", "r1", "r2", "r3", "r4"},
     "9,1",
     {},
     1},
    {"LF in new-line mode returns to column 0",
     "\x1b[20h\x1b[2;5H",
     "\n",
     {"r0", "r1", "r2", "r3", "r4"},
     "0,2"},
    {"LF in new-line mode with margins but no origin mode returns to column 0",
     "\x1b[20h\x1b[?69h\x1b[3;8s\x1b[2;5H",
     "\n",
     {"r0", "r1", "r2", "r3", "r4"},
     "0,2"},
    {"LF in new-line mode with origin and margins returns to the left margin",
     "\x1b[20h\x1b[?69h\x1b[3;8s\x1b[?6h\x1b[2;4H",
     "\n",
     {"r0", "r1", "r2", "r3", "r4"},
     "2,2"},
    {"LF right of the margins on the bottom margin neither scrolls nor moves",
     "\x1b[?69h\x1b[2;5s\x1b[5;8H",
     "\n",
     {"r0", "r1", "r2", "r3", "r4"},
     "7,4",
     {},
     1},
    // Carriage return.
    {"CR goes to column 0", "\x1b[3;7H", "\r", {"r0", "r1", "r2", "r3", "r4"}, "0,2"},
    {"CR with margins goes to the left margin",
     "\x1b[?69h\x1b[4;8s\x1b[3;7H",
     "\r",
     {"r0", "r1", "r2", "r3", "r4"},
     "3,2"},
    {"CR left of the left margin goes to column 0",
     "\x1b[?69h\x1b[4;8s\x1b[3;2H",
     "\r",
     {"r0", "r1", "r2", "r3", "r4"},
     "0,2"},
    // Backspace.
    {"BS moves left", "\x1b[3;4H", "\b", {"r0", "r1", "r2", "r3", "r4"}, "2,2"},
    {"BS at column 0 without reverse wraparound stays",
     "\x1b[3;1H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "0,2"},
    {"BS from the pending-wrap column goes to the column before the last",
     "\x1b[1;1H",
     "0123456789\b",
     {"0123456789", "r1", "r2", "r3", "r4"},
     "8,0"},
    {"BS on the left margin stays",
     "\x1b[?69h\x1b[4;8s\x1b[3;4H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "3,2"},
    {"BS left of the left margin still moves left",
     "\x1b[?69h\x1b[4;8s\x1b[3;3H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "1,2"},
    {"reverse wraparound goes back over a soft wrap and ends it",
     "\x1b[?45h\x1b[2;1H",
     "abcdefghijkl\r\b",
     {"r0", "abcdefghij", "kl", "r3", "r4"},
     "9,1"},
    {"reverse wraparound from the top of the region goes to its bottom-right corner",
     "\x1b[?45h\x1b[2;4r\x1b[2;1H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "9,3"},
    {"reverse wraparound above the region moves up a row",
     "\x1b[?45h\x1b[3;5r\x1b[2;1H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "9,0"},
    {"reverse wraparound on row 0 above the region stays",
     "\x1b[?45h\x1b[3;5r\x1b[1;1H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "0,0"},
    {"reverse wraparound needs autowrap",
     "\x1b[?7l\x1b[?45h\x1b[3;1H",
     "\b",
     {"r0", "r1", "r2", "r3", "r4"},
     "0,2"},
    // Other controls.
    {"HT goes to the next tab stop",
     "\x1b[1;1H",
     "\tx",
     {"r0      x", "r1", "r2", "r3", "r4"},
     "9,0"},
    {"VT and FF act as LF", "\x1b[1;1H", "\x0b\x0c", {"r0", "r1", "r2", "r3", "r4"}, "0,2", {}, 2},
};

class LineControlTable : public ::testing::TestWithParam<LineControlCase> {};

TEST_P(LineControlTable, MovesAndScrolls) {
    const LineControlCase& c = GetParam();
    TerminalFixture t({.cols = 10, .rows = 5, .scrollback = 20});
    t.feed(fiveRows);
    t.feed(c.setup);
    const int before = t.host.linefeeds;
    t.feed(c.input);
    EXPECT_EQ(t.screen(), c.screen);
    EXPECT_EQ(t.cursor(), c.cursor);
    EXPECT_EQ(t.scrollback(), c.scrollback);
    if (c.linefeeds >= 0) {
        EXPECT_EQ(t.host.linefeeds - before, c.linefeeds);
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, LineControlTable, ::testing::ValuesIn(lineControlCases),
                         [](const auto& info) { return testName(info.param.name); });

TEST(TerminalScroll, AFullRingDropsTheOldestLineAndCountsIt) {
    TerminalFixture t({.cols = 10, .rows = 3, .scrollback = 2});
    for (int i = 0; i < 8; ++i) {
        t.feed("line" + std::to_string(i) + "\r\n");
    }
    EXPECT_EQ(t.scrollback(), (Rows{"line4", "line5"}));
    EXPECT_EQ(t.screen(), (Rows{"line6", "line7", ""}));
    Buffer& buffer = t.terminal.buffer();
    EXPECT_EQ(buffer.yBase(), 2);
    EXPECT_EQ(buffer.yDisp(), 2);
    EXPECT_EQ(buffer.linesTop, 4);
    EXPECT_EQ(t.host.scrolls, 6);
}

TEST(TerminalScroll, WhileTheUserScrollsTheViewStaysOnItsText) {
    TerminalFixture t({.cols = 10, .rows = 3, .scrollback = 4});
    for (int i = 0; i < 6; ++i) {
        t.feed("line" + std::to_string(i) + "\r\n");
    }
    Buffer& buffer = t.terminal.buffer();
    ASSERT_TRUE(buffer.lines().isFull());
    buffer.setYDisp(2);
    t.terminal.setUserScrolling(true);
    t.feed("x\r\n");
    EXPECT_EQ(buffer.yDisp(), 1) << "the ring dropped a line: the view moves up with its text";
    t.feed("y\r\ny\r\ny\r\n");
    EXPECT_EQ(buffer.yDisp(), 0) << "never below the oldest line";
    t.terminal.setUserScrolling(false);
    t.feed("z\r\n");
    EXPECT_EQ(buffer.yDisp(), buffer.yBase());
}

TEST(TerminalScroll, WhileTheRingFillsTheViewFollowsUnlessTheUserScrolls) {
    TerminalFixture t({.cols = 10, .rows = 3, .scrollback = 10});
    t.terminal.setUserScrolling(true);
    t.feed("a\r\nb\r\nc\r\nd\r\n");
    Buffer& buffer = t.terminal.buffer();
    EXPECT_EQ(buffer.yBase(), 2);
    EXPECT_EQ(buffer.yDisp(), 0);
}

TEST(TerminalScroll, NewLinesTakeTheCurrentBackground) {
    TerminalFixture t({.cols = 4, .rows = 2, .scrollback = 1});
    t.feed("a\r\nb\r\nc\r\n\x1b[41md\r\n");
    ASSERT_TRUE(t.terminal.buffer().lines().isFull());
    const Attribute red(Attribute::Color::defaultColor, Attribute::Color::ansi256(1));
    EXPECT_EQ(t.cell(0, 0), CharData(red, 'd', 1));
    EXPECT_EQ(t.cell(1, 0), CharData::Null) << "a row recycled before the colour changed";
    EXPECT_EQ(t.cell(3, 1), CharData(red, 0, 1)) << "a row recycled after it";
}

TEST(TerminalScroll, WithMarginsOnlyTheColumnsBetweenThemMove) {
    TerminalFixture t({.cols = 10, .rows = 3, .scrollback = 5});
    t.feed("0123456789abcdefghijABCDEFGHIJ");
    t.feed("\x1b[?69h\x1b[3;5s\x1b[3;4H\x1b[44m\n");
    EXPECT_EQ(t.screen(), (Rows{"01cde56789", "abCDEfghij", "AB   FGHIJ"}));
    EXPECT_EQ(t.scrollback(), Rows{});
    EXPECT_EQ(t.cursor(), "3,2");
    const Attribute blue(Attribute::Color::defaultColor, Attribute::Color::ansi256(4));
    EXPECT_EQ(t.cell(2, 2), CharData(blue, 0, 1));
    EXPECT_EQ(t.cell(5, 2).code(), 'F');
}

TEST(TerminalScroll, AnAutowrapOnTheLastRowScrollsAndMarksTheContinuation) {
    TerminalFixture t({.cols = 4, .rows = 2, .scrollback = 5});
    t.feed("\x1b[2;1Habcdef");
    EXPECT_EQ(t.screen(), (Rows{"abcd", "~ef"}));
    EXPECT_EQ(t.scrollback(), Rows{""});
    EXPECT_EQ(t.cursor(), "2,1");
}

TEST(TerminalScroll, DirtyRowsOfAFullScreenScrollAreTheViewportRange) {
    TerminalFixture t({.cols = 10, .rows = 4, .scrollback = 5});
    t.feed("\x1b[4;1H");
    t.terminal.clearUpdateRange();
    t.feed("\n");
    ASSERT_TRUE(t.terminal.getUpdateRange());
    EXPECT_EQ(*t.terminal.getUpdateRange(), (Terminal::RowRange{0, 3}));
}

TEST(TerminalLineFeed, ARowTheCursorEntersTakesTheCurrentBidiStateUnlessItContinuesARow) {
    TerminalFixture t({.cols = 4, .rows = 4});
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    t.feed("abcdef");
    t.line(1).setBidiState(rtl);
    t.line(2).setBidiState(rtl);
    const uint64_t generation = t.line(1).generation();
    t.feed("\x1b[1;1H\n");
    EXPECT_EQ(t.line(1).bidiState(), rtl) << "a wrapped continuation keeps its state";
    EXPECT_EQ(t.line(1).generation(), generation);
    t.feed("\n");
    EXPECT_EQ(t.line(2).bidiState(), BidiPresentationState::Default);
}

TEST(TerminalLineFeed, WhileACommandLineIsEditedARowOfAnOlderPromptJoinsTheActiveGroup) {
    TerminalFixture t({.cols = 6, .rows = 3});
    Buffer& buffer = t.terminal.buffer();
    buffer.beginSemanticPromptGroup(0);
    buffer.beginSemanticPromptGroup(0);
    const uint64_t active = buffer.activeSemanticGroupID();
    buffer.semanticInput = SemanticInputState::armed;
    // Row 1 holds prompt and input cells of the older group 1.
    BufferLine& row = t.line(1);
    row.set(0, CharData(Attribute(), '$', 1, TinyAtom(), 1));
    row.set(1, CharData(Attribute(), 'l', 1, TinyAtom(), 5));
    row.set(2, CharData(Attribute(), 'o', 1, TinyAtom(), 6));
    row.setSemanticHardContinuationGroup(active - 1);
    t.feed("\n");
    EXPECT_EQ(row.semanticHardContinuationGroup(), active);
    EXPECT_EQ(row[0].semanticContentCode(), 0);
    EXPECT_EQ(row[1].semanticContentCode(), 0);
    EXPECT_EQ(row[2].semanticContentCode(), 6) << "output keeps its marking";
    buffer.semanticInput = SemanticInputState::idle;
    t.line(2).setSemanticHardContinuationGroup(std::nullopt);
    t.feed("\n");
    EXPECT_EQ(t.line(2).semanticHardContinuationGroup(), std::nullopt) << "only while editing";
}

// The alternate screen keeps no history, also when the terminal was made smaller before the
// screen was first used (its ring, still empty then, must shrink with it).
TEST(TerminalScroll, TheAlternateScreenKeepsNoRowsThatScrollOff) {
    TerminalFixture t({.cols = 6, .rows = 4, .scrollback = 10});
    t.feed("\x1b[?1049h");
    for (int i = 0; i < 30; ++i) {
        t.feed("a" + std::to_string(i) + "\r\n");
    }
    Buffer& buffer = t.terminal.buffer();
    EXPECT_EQ(buffer.yBase(), 0);
    EXPECT_EQ(buffer.lines().count(), 4);
    EXPECT_EQ(t.screen(), (Rows{"a27", "a28", "a29", ""}));
}

// Every way a row enters the screen at a scroll reuses a row that left it (no allocation per
// line), and the reused row comes in blank: none of the text, soft-wrap flag, double-width mode,
// prompt marks or prompt group it carried survives.
TEST(TerminalScroll, ReusedRowsComeInBlank) {
    struct Case {
        const char* name;
        const char* setup; // before the rows are dirtied
        const char* op;
        int droppedRow; // the screen row whose object is reused (-1: the oldest ring row)
        int enteredRow; // the screen row that comes in blank
    };
    const Case cases[] = {
        {"line feed into a full scrollback", "\x1b[4;1H", "\n", -1, 3},
        {"line feed on the alternate screen", "\x1b[?1049h\x1b[4;1H", "\n", 0, 3},
        {"line feed at the bottom of a region", "\x1b[2;3r\x1b[3;1H", "\n", 1, 2},
        {"autowrap at the bottom of a region", "\x1b[2;3r\x1b[3;6H", "xy", 1, 2},
        {"reverse index at the top of a region", "\x1b[2;3r\x1b[2;1H", "\x1bM", 2, 1},
        {"insert line", "\x1b[2;1H", "\x1b[L", 3, 1},
        {"delete line", "\x1b[2;1H", "\x1b[M", 1, 3},
        {"scroll up", "\x1b[2;3r", "\x1b[S", 1, 2},
        {"scroll down", "\x1b[2;3r", "\x1b[T", 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 6, .rows = 4, .scrollback = 2});
        // Fill the scrollback so that the normal screen's ring is full.
        t.feed("s1\r\ns2\r\ns3\r\ns4\r\ns5\r\n");
        t.feed(c.setup);
        const auto [x, y] = t.terminal.getCursorLocation();
        Buffer& buffer = t.terminal.buffer();
        // Every row of the ring, scrollback included.
        for (int row = 0; row < buffer.lines().count(); ++row) {
            BufferLine& line = buffer.lines()[row];
            for (int col = 0; col < 6; ++col) {
                line.set(col, CharData(Attribute(), 'a' + row, 1));
            }
            line.setIsWrapped(row > 0);
            line.setRenderMode(BufferLine::RenderLineMode::doubleWidth);
            line.setSemanticMark(SemanticPromptKind::initial, 2, 7);
            line.setSemanticHardContinuationGroup(7);
        }
        ASSERT_TRUE(buffer.lines().isFull());
        t.feed("\x1b[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H");
        const BufferLine* dropped = c.droppedRow < 0 ? &buffer.lines()[0] : &t.line(c.droppedRow);
        t.feed(c.op);
        const BufferLine& entered = t.line(c.enteredRow);
        EXPECT_EQ(&entered, dropped);
        EXPECT_EQ(entered.refCount(), 1u);
        EXPECT_EQ(rowText(t.terminal, buffer.yBase() + c.enteredRow),
                  std::string(c.op) == "xy" ? "y" : "");
        EXPECT_EQ(entered.isWrapped(), std::string(c.op) == "xy");
        EXPECT_EQ(entered.renderMode(), BufferLine::RenderLineMode::single);
        EXPECT_TRUE(entered.semanticMarks().empty());
        EXPECT_EQ(entered.semanticHardContinuationGroup(), std::nullopt);
        EXPECT_FALSE(entered.hasImages());
    }
}

} // namespace
