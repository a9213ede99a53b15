#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// Setups that take the cursor commands off their defaults.
const std::string marginsAt11To16 = "\x1b[?69h\x1b[11;16s";            // DECLRMM, columns 10..15
const std::string originInRows3To6 = "\x1b[3;6r\x1b[?6h";              // region rows 2..5, DECOM
const std::string pendingWrapOnRow2 = "\x1b[3;1H01234567890123456789"; // x = 20 on row 2

// Each row: a 20 x 10 terminal, the setup, the bytes under test, then the cursor "x,y".
struct MotionCase {
    const char* name;
    std::string setup;
    std::string input;
    std::string cursor;
};

const MotionCase motionCases[] = {
    {"CUP goes to row and column", "", "\x1b[3;7H", "6,2"},
    {"CUP with 0, 1 or nothing means the first row and column", "\x1b[5;5H", "\x1b[0;1H", "0,0"},
    {"CUP without parameters goes home", "\x1b[5;5H", "\x1b[H", "0,0"},
    {"CUP is clamped to the screen", "", "\x1b[99;99H", "19,9"},
    {"CUP in origin mode counts from the region", "\x1b[3;8r\x1b[?6h", "\x1b[2;4H", "3,3"},
    {"CUP in origin mode stays in the region", "\x1b[3;8r\x1b[?6h", "\x1b[20;1H", "0,7"},
    {"CUP in origin mode with margins counts from the left margin", "\x1b[?69h\x1b[5;15s\x1b[?6h",
     "\x1b[1;1H", "4,0"},
    {"CUU moves up, at least one row", "\x1b[6;3H", "\x1b[0A", "2,4"},
    {"CUU stops at the top of the region", "\x1b[3;8r\x1b[5;1H", "\x1b[9A", "0,2"},
    {"CUU above the region stops at row 0", "\x1b[4;8r\x1b[2;1H", "\x1b[9A", "0,0"},
    {"CUD stops at the bottom of the region", "\x1b[3;8r\x1b[4;1H", "\x1b[99B", "0,7"},
    {"CUD below the region stops at the last row", "\x1b[3;8r\x1b[9;1H", "\x1b[99B", "0,9"},
    {"CUD from the pending-wrap column goes back to the last column", "\x1b[1;1H",
     "01234567890123456789\x1b[B", "19,1"},
    {"CUF stops at the last column", "", "\x1b[99C", "19,0"},
    {"CUF with margins stops at the right margin", "\x1b[?69h\x1b[5;10s\x1b[1;8H", "\x1b[5C",
     "9,0"},
    {"CUF right of the margins goes on to the edge", "\x1b[?69h\x1b[5;10s\x1b[1;13H", "\x1b[5C",
     "17,0"},
    {"CUB stops at column 0", "\x1b[1;5H", "\x1b[9D", "0,0"},
    {"CUB with margins stops at the left margin", "\x1b[?69h\x1b[5;10s\x1b[1;8H", "\x1b[9D", "4,0"},
    {"CUB left of the left margin goes on to column 0", "\x1b[?69h\x1b[5;10s\x1b[1;3H", "\x1b[9D",
     "0,0"},
    {"CUB from the pending-wrap column counts from the edge", "\x1b[1;1H",
     "01234567890123456789\x1b[3D", "17,0"},
    {"DECSTBM homes the cursor", "\x1b[5;5H", "\x1b[3;6r", "0,0"},
    {"DECSTBM in origin mode homes to the region", "\x1b[?6h", "\x1b[3;6r", "0,2"},
    {"a one-row region is refused but the cursor still goes home", "\x1b[2;9r\x1b[5;5H",
     "\x1b[5;5r\x1b[?6h\x1b[1;1H", "0,1"},
    {"CHA goes to the column", "\x1b[4;9H", "\x1b[5G", "4,3"},
    {"CHA 0 and 1 are the first column", "\x1b[4;9H", "\x1b[0G", "0,3"},
    {"CHA stops at the last column", "", "\x1b[200G", "19,0"},
    {"CHA with margins but no origin mode ignores them", marginsAt11To16, "\x1b[5G", "4,0"},
    {"CHA in origin mode with margins counts from the left margin", marginsAt11To16 + "\x1b[?6h",
     "\x1b[5G", "14,0"},
    {"CHA in origin mode may leave the margins", marginsAt11To16 + "\x1b[?6h", "\x1b[200G", "19,0"},
    {"CHA leaves the pending-wrap column", pendingWrapOnRow2, "\x1b[3G", "2,2"},
    {"HPA ignores origin mode and margins", marginsAt11To16 + "\x1b[?6h", "\x1b[3`", "2,0"},
    {"HPA past the edge goes to the last column", "", "\x1b[500`", "19,0"},
    {"HPR moves right", "\x1b[1;6H", "\x1b[3a", "8,0"},
    {"HPR with 0 moves one", "\x1b[1;6H", "\x1b[0a", "6,0"},
    {"HPR ignores the right margin", marginsAt11To16 + "\x1b[1;12H", "\x1b[9a", "19,0"},
    {"HPR from the pending-wrap column goes back to the last column", pendingWrapOnRow2, "\x1b[a",
     "19,2"},
    {"VPA goes to the row", "\x1b[1;5H", "\x1b[7d", "4,6"},
    {"VPA ignores origin mode", originInRows3To6, "\x1b[1d", "0,0"},
    {"VPA past the edge goes to the last row", "", "\x1b[500d", "0,9"},
    {"VPA keeps the pending-wrap column", pendingWrapOnRow2, "\x1b[5d", "20,4"},
    {"VPR moves down", "\x1b[3;4H", "\x1b[2e", "3,4"},
    {"VPR ignores the region", "\x1b[2;5r\x1b[3;4H", "\x1b[9e", "3,9"},
    {"VPR from the pending-wrap column goes back to the last column", pendingWrapOnRow2, "\x1b[e",
     "19,3"},
    {"HVP goes to row and column", "", "\x1b[4;6f", "5,3"},
    {"HVP in origin mode is offset but not confined by the region", originInRows3To6, "\x1b[9;1f",
     "0,9"},
    {"CUP in origin mode is confined to the region", originInRows3To6, "\x1b[9;1H", "0,5"},
    {"HVP in origin mode with margins is offset by the left margin",
     marginsAt11To16 + originInRows3To6, "\x1b[2;3f", "12,3"},
    {"HVP with a missing row goes to the first row", "\x1b[5;5H", "\x1b[;7f", "6,0"},
    {"CNL moves down to column 0", "\x1b[3;9H", "\x1b[2E", "0,4"},
    {"CNL ends on the left margin", marginsAt11To16 + "\x1b[3;13H", "\x1b[E", "10,3"},
    {"CPL moves up to the left margin", marginsAt11To16 + "\x1b[5;13H", "\x1b[3F", "10,1"},
    {"CPL stops at the top of the region", "\x1b[4;8r\x1b[6;9H", "\x1b[9F", "0,3"},
    {"CNL from the pending-wrap column", pendingWrapOnRow2, "\x1b[E", "0,3"},
    {"CHT moves to the next stop", "\x1b[1;3H", "\x1b[I", "8,0"},
    {"CHT 0 moves one stop", "\x1b[1;3H", "\x1b[0I", "8,0"},
    {"CHT 2 moves two stops", "", "\x1b[2I", "16,0"},
    {"CHT stops at the last column", "", "\x1b[9I", "19,0"},
    {"CHT stops at the right margin", marginsAt11To16 + "\x1b[1;12H", "\x1b[3I", "15,0"},
    {"CBT at column 0 stays", "", "\x1b[Z", "0,0"},
    {"CBT moves to the previous stop", "\x1b[1;18H", "\x1b[Z", "16,0"},
    {"CBT 2 moves two stops", "\x1b[1;18H", "\x1b[2Z", "8,0"},
    {"CBT from the pending-wrap column", pendingWrapOnRow2, "\x1b[Z", "16,2"},
    {"HT after TBC 3 goes to the last column", "\x1b[3g", "\t", "19,0"},
    {"HT after TBC 3 with margins goes to the right margin",
     "\x1b[3g" + marginsAt11To16 + "\x1b[1;12H", "\t", "15,0"},
    {"TBC 0 clears the stop at the cursor", "\x1b[1;9H\x1b[g\x1b[1;1H", "\t", "16,0"},
    {"TBC 2 clears nothing", "\x1b[1;9H\x1b[2g\x1b[1;1H", "\t", "8,0"},
    {"HTS sets a stop", "\x1b[1;4H\x1bH\x1b[1;1H", "\t", "3,0"},
    {"C1 HTS inside a sequence sets a stop", "\x1b[1;6H\x1b[\x88\x1b[1;1H", "\t", "5,0"},
    {"NEL goes to column 0 of the next row", "\x1b[3;9H",
     "\x1b"
     "E",
     "0,3"},
    {"NEL with origin and margin mode goes to the left margin",
     marginsAt11To16 + "\x1b[?6h\x1b[3;3H",
     "\x1b"
     "E",
     "10,3"},
    {"NEL with margins but no origin mode goes to column 0", marginsAt11To16 + "\x1b[3;13H",
     "\x1b"
     "E",
     "0,3"},
    {"C1 NEL inside a sequence", "\x1b[3;9H", "\x1b[\x85", "0,3"},
    {"IND keeps the column", "\x1b[3;9H",
     "\x1b"
     "D",
     "8,3"},
    {"C1 IND inside a sequence", "\x1b[3;9H", "\x1b[\x84", "8,3"},
    {"IND below the region goes on down", "\x1b[2;4r\x1b[6;3H",
     "\x1b"
     "D",
     "2,6"},
    {"IND on the last row below the region stays", "\x1b[2;4r\x1b[10;3H",
     "\x1b"
     "D",
     "2,9"},
    {"RI moves up", "\x1b[5;3H", "\x1bM", "2,3"},
    {"RI on row 0 above the region stays", "\x1b[3;6r\x1b[1;3H", "\x1bM", "2,0"},
    {"RI from the pending-wrap column leaves it", pendingWrapOnRow2, "\x1bM", "19,1"},
    {"DECBI moves left", "\x1b[1;5H",
     "\x1b"
     "6",
     "3,0"},
    {"DECFI moves right", "\x1b[1;5H",
     "\x1b"
     "9",
     "5,0"},
    {"DECFI in the pending-wrap column does nothing", pendingWrapOnRow2,
     "\x1b"
     "9",
     "20,2"},
};

class CursorTable : public ::testing::TestWithParam<MotionCase> {};

TEST_P(CursorTable, MovesTheCursor) {
    const MotionCase& c = GetParam();
    TerminalFixture t({.cols = 20, .rows = 10});
    t.feed(c.setup);
    t.feed(c.input);
    EXPECT_EQ(t.cursor(), c.cursor);
}

INSTANTIATE_TEST_SUITE_P(Terminal, CursorTable, ::testing::ValuesIn(motionCases),
                         [](const auto& info) { return testName(info.param.name); });

// ---- Save and restore -----------------------------------------------------------------------

TEST(TerminalCursor, RestoreBringsBackPositionAttributeCharsetAndModes) {
    for (const char* save : {"\x1b"
                             "7",
                             "\x1b[s", "\x1b[1s"}) {
        SCOPED_TRACE(escaped(save));
        TerminalFixture t({.cols = 20, .rows = 10});
        t.feed("\x1b(0\x1b[1;31m\x1b[?6h\x1b[?7l\x1b[4;6H");
        t.feed(save);
        // Everything changes, DECLRMM and reverse wraparound included.
        t.feed("\x1b(B\x1b[m\x1b[?6l\x1b[?7h\x1b[?45h\x1b[?69h\x1b[9;9H");
        t.feed("\x1b"
               "8");
        Terminal& terminal = t.terminal;
        EXPECT_EQ(t.cursor(), "5,3");
        EXPECT_EQ(terminal.currentAttribute(),
                  Attribute(Attribute::Color::ansi256(1), Attribute::Color::defaultColor,
                            CharacterStyle::bold));
        EXPECT_TRUE(terminal.originMode());
        EXPECT_FALSE(terminal.wraparound());
        EXPECT_FALSE(terminal.normalBuffer().wraparound()) << "auto-wrap reaches both screens";
        EXPECT_FALSE(terminal.altBuffer().wraparound());
        EXPECT_FALSE(terminal.marginMode());
        EXPECT_FALSE(terminal.altBuffer().marginMode());
        EXPECT_FALSE(terminal.reverseWraparound());
        t.feed("q");
        EXPECT_EQ(t.cell(5, 3).code(), 0x2500) << "the line-drawing set is back in GL";
    }
}

TEST(TerminalCursor, RestoreWithoutASaveGoesHomeWithDefaults) {
    TerminalFixture t({.cols = 20, .rows = 10});
    t.feed("\x1b(0\x1b[1m\x1b[?6h\x1b[?7l\x1b[5;5H\x1b"
           "8");
    EXPECT_EQ(t.cursor(), "0,0");
    EXPECT_EQ(t.terminal.currentAttribute(), Attribute());
    EXPECT_EQ(t.terminal.charset(), nullptr);
    EXPECT_FALSE(t.terminal.originMode());
    EXPECT_TRUE(t.terminal.wraparound()) << "the terminal's initial state has autowrap on";
}

TEST(TerminalCursor, ARestoreWithNothingSavedKeepsAutowrapOn) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string reply;
        Rows screen;
    };
    const Case cases[] = {
        {"on the normal screen",
         "\x1b"
         "8\x1b[?7$p",
         "\\x1b[?7;1$y", Rows{"", ""}},
        // The alternate screen has never saved: the switch saved on the normal one.
        {"on the alternate screen",
         "\x1b[?1049h\x1b"
         "8abcdefghijklmn",
         "", Rows{"abcdefghij", "~klmn"}},
        {"after a soft reset cleared the save",
         "\x1b[?7l\x1b"
         "7\x1b[!p\x1b"
         "8\x1b[?7$p",
         "\\x1b[?7;1$y", Rows{"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 10, .rows = 2});
        t.feed(c.bytes);
        EXPECT_EQ(t.takeReplies(), c.reply);
        EXPECT_EQ(t.screen(), c.screen);
    }
}

TEST(TerminalCursor, EachScreenKeepsItsOwnSavedCursor) {
    TerminalFixture t({.cols = 20, .rows = 10});
    t.feed("\x1b[4;6H\x1b"
           "7");
    t.terminal.activateAltBuffer(std::nullopt);
    t.feed("\x1b[2;2H\x1b"
           "8");
    EXPECT_EQ(t.cursor(), "0,0");
    t.feed("\x1b[7;7H\x1b"
           "7");
    t.terminal.activateNormalBuffer(false);
    t.feed("\x1b"
           "8");
    EXPECT_EQ(t.cursor(), "5,3");
}

TEST(TerminalCursor, RestoreClampsAPositionTheScreenNoLongerHas) {
    TerminalFixture t({.cols = 20, .rows = 10});
    t.feed("\x1b[10;20H\x1b"
           "7");
    t.terminal.resize(10, 5);
    t.feed("\x1b[H\x1b"
           "8");
    EXPECT_EQ(t.cursor(), "9,4");
}

TEST(TerminalCursor, SaveAndRestoreWithIntermediatesDoNothing) {
    TerminalFixture t({.cols = 20, .rows = 10});
    t.feed("\x1b[4;6H\x1b[s\x1b[9;9H\x1b[>s\x1b[1;1H\x1b[>u");
    EXPECT_EQ(t.cursor(), "0,0");
    t.feed("\x1b[u");
    EXPECT_EQ(t.cursor(), "5,3");
}

TEST(TerminalCursor, CsiSWithMarginModeSetsMarginsInsteadOfSaving) {
    TerminalFixture t({.cols = 20, .rows = 10});
    t.feed("\x1b[4;6H\x1b[s\x1b[?69h\x1b[9;9H\x1b[3;8s\x1b[u");
    EXPECT_EQ(t.cursor(), "5,3");
    EXPECT_EQ(t.terminal.buffer().marginLeft(), 2);
    EXPECT_EQ(t.terminal.buffer().marginRight(), 7);
}

} // namespace
