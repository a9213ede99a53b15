#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using CellColor = Attribute::Color;

const Rows& filled = sampleRows;


// Each row: the filled 10 x 6 screen (no scrollback), the setup, the input; screen and cursor.
struct IndexCase {
    const char* name;
    std::string setup;
    std::string input;
    Rows screen;
    std::string cursor;
};

const IndexCase indexCases[] = {
    {"IND at the region bottom scrolls the region",
     "\x1b[2;4r\x1b[4;3H",
     "\x1b"
     "D",
     {"0123456789", "ABCDEFGHIJ", "klmnopqrst", "", "KLMNOPQRST", "uvwxyz!@#$"},
     "2,3"},
    {"IND with margins outside them at the bottom does nothing", margins3To8 + "\x1b[6;2H",
     "\x1b"
     "D",
     filled, "1,5"},
    {"IND with margins inside them scrolls only their columns",
     margins3To8 + "\x1b[6;5H",
     "\x1b"
     "D",
     {"01cdefgh89", "abCDEFGHij", "ABmnopqrIJ", "klMNOPQRst", "KLwxyz!@ST", "uv      #$"},
     "4,5"},
    {"RI at the region top scrolls the region down",
     "\x1b[2;4r\x1b[2;3H",
     "\x1bM",
     {"0123456789", "", "abcdefghij", "ABCDEFGHIJ", "KLMNOPQRST", "uvwxyz!@#$"},
     "2,1"},
    {"RI with margins outside them at the top does nothing", margins3To8 + "\x1b[1;10H", "\x1bM",
     filled, "9,0"},
    {"RI with margins inside them scrolls only their columns",
     margins3To8 + "\x1b[1;5H",
     "\x1bM",
     {"01      89", "ab234567ij", "ABcdefghIJ", "klCDEFGHst", "KLmnopqrST", "uvMNOPQR#$"},
     "4,0"},
    {"DECBI at the left margin scrolls the columns right",
     margins3To8 + "\x1b[2;4r\x1b[3;3H",
     "\x1b"
     "6",
     {"0123456789", "ab cdefgij", "AB CDEFGIJ", "kl mnopqst", "KLMNOPQRST", "uvwxyz!@#$"},
     "2,2"},
    {"DECBI without margins at column 0 scrolls the whole region",
     "\x1b[2;3r\x1b[2;1H",
     "\x1b"
     "6",
     {"0123456789", " abcdefghi", " ABCDEFGHI", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"},
     "0,1"},
    {"DECFI at the right margin scrolls the columns left",
     margins3To8 + "\x1b[2;4r\x1b[3;8H",
     "\x1b"
     "9",
     {"0123456789", "abdefgh ij", "ABDEFGH IJ", "klnopqr st", "KLMNOPQRST", "uvwxyz!@#$"},
     "7,2"},
    {"DECFI outside the region moves nothing", margins3To8 + "\x1b[2;4r\x1b[6;8H",
     "\x1b"
     "9",
     filled, "7,5"},
};

class IndexTable : public ::testing::TestWithParam<IndexCase> {};

TEST_P(IndexTable, ScrollsOrMoves) {
    const IndexCase& c = GetParam();
    TerminalFixture t({.cols = 10, .rows = 6, .scrollback = 0});
    t.feed(writeRows(filled));
    t.feed(c.setup);
    t.feed(c.input);
    EXPECT_EQ(t.screen(), c.screen);
    EXPECT_EQ(t.cursor(), c.cursor);
}

INSTANTIATE_TEST_SUITE_P(Terminal, IndexTable, ::testing::ValuesIn(indexCases),
                         [](const auto& info) { return testName(info.param.name); });

TEST(TerminalIndex, ColumnScrollsBlankTheColumnThatEnters) {
    // No region and no margins: the whole screen scrolls sideways.
    TerminalFixture t({.cols = 10, .rows = 2});
    t.feed("0123456789\x1b[44m\x1b[1;1H\x1b"
           "6");
    EXPECT_EQ(t.screen(), (Rows{" 012345678", " "}));
    EXPECT_EQ(t.cell(0, 0), CharData(Attribute::empty, ' ', 1)) << "DECBI: a plain space";
    t.feed("\x1b[1;10H\x1b"
           "9");
    EXPECT_EQ(t.screen(), (Rows{"012345678 ", "          "}));
    EXPECT_EQ(t.cell(9, 0),
              CharData(Attribute(CellColor::defaultColor, CellColor::ansi256(4)), ' ', 1))
        << "DECFI: a space with the current background";
}

TEST(TerminalIndex, IndexAtTheScreenBottomFeedsTheScrollback) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("one\r\ntwo\r\nthree\x1b"
           "D\x1b"
           "D");
    EXPECT_EQ(t.scrollback(), (Rows{"one", "two"}));
    EXPECT_EQ(t.screen(), (Rows{"three", "", ""}));
    EXPECT_EQ(t.cursor(), "5,2");
    t.feed("\x1bM\x1bM\x1bM");
    EXPECT_EQ(t.screen(), (Rows{"", "three", ""})) << "RI never takes rows back";
    EXPECT_EQ(t.scrollback(), (Rows{"one", "two"}));
}

// ---- Bidirectional state --------------------------------------------------------------------

TEST(TerminalBidiState, DirectionSequencesWriteTheParagraphAtItsStartOnly) {
    TerminalFixture t({.cols = 4, .rows = 6});
    t.feed("aaaabbbbcccc\r\n");
    ASSERT_EQ(t.screen(), (Rows{"aaaa", "~bbbb", "~cccc", "", "", ""}));
    const auto fallback = [&](int row) { return t.line(row).bidiState().fallbackDirection; };
    constexpr BidiDirection rtl = BidiDirection::rightToLeft;
    constexpr BidiDirection ltr = BidiDirection::leftToRight;

    t.feed("\x1b[1;3H\x1b[3 S");
    EXPECT_EQ(fallback(0), ltr) << "not at column 0";
    t.feed("\x1b[2;1H\x1b[3 S");
    EXPECT_EQ(fallback(1), ltr) << "a continuation row";
    EXPECT_EQ(t.terminal.currentBidiState().fallbackDirection, rtl);
    t.feed("\x1b[1;1H\x1b[3 S");
    EXPECT_EQ(fallback(0), rtl);
    EXPECT_EQ(fallback(1), rtl);
    EXPECT_EQ(fallback(2), rtl);
    EXPECT_EQ(fallback(3), ltr) << "the next paragraph";
    EXPECT_EQ(t.terminal.altBuffer().defaultBidiState.fallbackDirection, rtl);

    t.feed("\x1b[4;1H\x1b[ k");
    EXPECT_EQ(fallback(3), ltr) << "SCP without a parameter: the options' direction";
    t.feed("\x1b[2 k");
    EXPECT_EQ(fallback(3), rtl);
    t.feed("\x1b[1 S\x1b[4 k");
    EXPECT_EQ(fallback(3), rtl) << "other values are ignored";
    t.feed("\x1b[ S");
    EXPECT_EQ(fallback(3), ltr);
}

TEST(TerminalBidiState, ADirectionChangeKeepsTheOtherFieldsAndRedrawsTheScreen) {
    TerminalFixture t({.cols = 4, .rows = 3});
    BidiPresentationState explicitRow;
    explicitRow.supportMode = BidiSupportMode::explicit_;
    explicitRow.boxMirroring = true;
    t.line(0).setBidiState(explicitRow);
    t.terminal.clearUpdateRange();
    t.feed("\x1b[3 S");
    BidiPresentationState expected = explicitRow;
    expected.fallbackDirection = BidiDirection::rightToLeft;
    EXPECT_EQ(t.line(0).bidiState(), expected);
    EXPECT_EQ(t.terminal.getUpdateRange(), (Terminal::RowRange{0, 3}));
}

TEST(TerminalBidiState, RestoringModesThatWereNeverSavedChangesNothing) {
    TerminalFixture t({.cols = 4, .rows = 3});
    t.terminal.clearUpdateRange();
    t.feed("\x1b[?2500;2501;1243r");
    EXPECT_EQ(t.terminal.currentBidiState(), BidiPresentationState::Default);
    EXPECT_EQ(t.terminal.getUpdateRange(), std::nullopt) << "no redraw";
}

TEST(TerminalBidiState, EraseBelowResetsRowsToTheCurrentStateAndBackground) {
    TerminalFixture t({.cols = 4, .rows = 3});
    t.feed("ab\r\ncd\r\nef\x1b[3 S\x1b[44m\x1b[1;2H\x1b[J");
    EXPECT_EQ(t.line(1).bidiState().fallbackDirection, BidiDirection::rightToLeft);
    EXPECT_EQ(t.cell(0, 2),
              CharData(Attribute(CellColor::defaultColor, CellColor::ansi256(4)), 0, 1));
    EXPECT_EQ(t.line(0).bidiState().fallbackDirection, BidiDirection::leftToRight)
        << "the cursor row keeps its state";
}

TEST(TerminalBidiState, ScrollingTheRegionSplitsAParagraphAtItsEdges) {
    for (const char* scroll : {"\x1b[S", "\x1b[T"}) {
        SCOPED_TRACE(escaped(scroll));
        // One paragraph over rows 0-5; the region is rows 2..3.
        TerminalFixture t({.cols = 2, .rows = 6});
        t.feed("aabbccddeeff\x1b[3;4r");
        t.feed(scroll);
        EXPECT_FALSE(t.line(2).isWrapped()) << "the region's top starts a paragraph";
        EXPECT_FALSE(t.line(4).isWrapped()) << "the row below the region starts one";
        EXPECT_TRUE(t.line(1).isWrapped());
        EXPECT_TRUE(t.line(5).isWrapped());
    }
}

} // namespace
