#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using CellColor = Attribute::Color;

const Rows& filled = sampleRows;

// Each row: the filled 10 x 6 screen, the setup, the request; the screen after.
struct RectangleCase {
    const char* name;
    std::string setup;
    std::string input;
    Rows screen;
};

const RectangleCase rectangleCases[] = {
    {"DECCRA copies overlapping rows as they were",
     "",
     "\x1b[1;1;3;10;1;2;1;1$v",
     {"0123456789", "0123456789", "abcdefghij", "ABCDEFGHIJ", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECCRA copies overlapping columns as they were",
     "",
     "\x1b[1;1;1;6;1;1;3;1$v",
     {"0101234589", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECCRA to the edge is cut at the last column and row",
     "",
     "\x1b[2;1;4;10;1;5;5;1$v",
     {"0123456789", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNabcdef", "uvwxABCDEF"}},
    {"DECCRA with 0 or missing bottom and right copies to the edges",
     "",
     "\x1b[5;8;0;;1;1;1;1$v",
     {"RST3456789", "@#$defghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECCRA from another page does nothing", "", "\x1b[1;1;3;10;2;2;1;1$v", filled},
    {"DECCRA to another page does nothing", "", "\x1b[1;1;3;10;1;2;1;2$v", filled},
    {"DECCRA without the intermediate does nothing", "", "\x1b[1;1;3;10;1;2;1;1v", filled},
    {"DECCRA in origin mode reads from the region but writes where it is told",
     "\x1b[3;5r\x1b[?6h",
     "\x1b[1;1;1;10;1;1;1;1$v",
     {"ABCDEFGHIJ", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECFRA fills the rectangle",
     "",
     "\x1b[88;2;3;3;5$x",
     {"0123456789", "abXXXfghij", "ABXXXFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECFRA with a surrogate fills with spaces",
     "",
     "\x1b[55296;2;3;2;5$x",
     {"0123456789", "ab   fghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECFRA with a control character fills with spaces",
     "",
     "\x1b[27;1;1;1;2$x\x1b[127;2;1;2;2$x\x1b[133;3;1;3;2$x\x1b[0;4;1;4;2$x",
     {"  23456789", "  cdefghij", "  CDEFGHIJ", "  mnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECFRA with a bottom of 0 fills nothing", "", "\x1b[88;1;1;0;5$x", filled},
    {"DECFRA with other intermediates fills nothing", "", "\x1b[88;1;1;2;5x", filled},
    {"DECERA erases to spaces",
     "",
     "\x1b[5;9$z",
     {"0123456789", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQR  ", "uvwxyz!@  "}},
    {"DECERA in origin mode counts from the region",
     "\x1b[2;3r\x1b[?6h",
     "\x1b[1;1;1;2$z",
     {"0123456789", "  cdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECSERA erases to spaces",
     "",
     "\x1b[1;1;2;2${",
     {"  23456789", "  cdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$"}},
    {"DECALN fills the screen with E", "\x1b[2;4r\x1b[3;3H", "\x1b#8", Rows(6, "EEEEEEEEEE")},
};

class RectangleTable : public ::testing::TestWithParam<RectangleCase> {};

TEST_P(RectangleTable, ChangesTheScreen) {
    const RectangleCase& c = GetParam();
    TerminalFixture t({.cols = 10, .rows = 6});
    t.feed(writeRows(filled));
    t.feed(c.setup);
    t.feed(c.input);
    EXPECT_EQ(t.screen(), c.screen);
}

INSTANTIATE_TEST_SUITE_P(Terminal, RectangleTable, ::testing::ValuesIn(rectangleCases),
                         [](const auto& info) { return testName(info.param.name); });

TEST(TerminalRectangles, FillWritesTheCharacterAsGivenWithTheWholeAttribute) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("\x1b[1;31;42m\x1b[9786;1;1;1;1$x");
    const Attribute current(CellColor::ansi256(1), CellColor::ansi256(2), CharacterStyle::bold);
    EXPECT_EQ(t.cell(0, 0), CharData(current, 0x263A, 1)) << "no width look-up, no charset";
    t.feed("\x1b(0\x1b[113;1;2;1;2$x");
    EXPECT_EQ(t.cell(1, 0).code(), 'q');
}

TEST(TerminalRectangles, SelectiveEraseKeepsTheCellsAttributeAndEraseReplacesIt) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("\x1b[4;31mab\x1b[m\x1b[44m");
    t.feed("\x1b[1;1;1;1${\x1b[1;2;1;2$z");
    const Attribute red(CellColor::ansi256(1), CellColor::defaultColor, CharacterStyle::underline,
                        UnderlineStyle::single);
    EXPECT_EQ(t.cell(0, 0), CharData(red, ' ', 1));
    EXPECT_EQ(t.cell(1, 0),
              CharData(Attribute(CellColor::defaultColor, CellColor::ansi256(4)), ' ', 1));
}

TEST(TerminalRectangles, AlignmentPatternTakesTheColoursOnlyAndGoesHome) {
    TerminalFixture t({.cols = 6, .rows = 3});
    t.feed("abcdefgh\x1b[2;3r\x1b[?6h\x1b[1;4;31;41m\x1b[58;5;3m");
    ASSERT_TRUE(t.line(1).isWrapped());
    t.feed("\x1b[2;5H\x1b#8");
    Attribute expected(CellColor::ansi256(1), CellColor::ansi256(1));
    expected.setUnderlineColor(CellColor::ansi256(3));
    EXPECT_EQ(t.cell(5, 2), CharData(expected, 'E', 1));
    EXPECT_FALSE(t.line(1).isWrapped());
    EXPECT_EQ(t.cursor(), "0,1") << "home is the region's corner in origin mode";
    EXPECT_EQ(t.terminal.buffer().scrollTop(), 1) << "the region stays";
}

TEST(TerminalRectangles, LineRenderModesChangeOnlyTheCursorRow) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("abc\x1b[2;4H");
    const struct {
        const char* sequence;
        BufferLine::RenderLineMode mode;
    } cases[] = {
        {"\x1b#3", BufferLine::RenderLineMode::doubledTop},
        {"\x1b#4", BufferLine::RenderLineMode::doubledDown},
        {"\x1b#6", BufferLine::RenderLineMode::doubleWidth},
        {"\x1b#5", BufferLine::RenderLineMode::single},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(escaped(c.sequence));
        const uint64_t generation = t.line(1).generation();
        t.terminal.clearUpdateRange();
        t.feed(c.sequence);
        EXPECT_EQ(t.line(1).renderMode(), c.mode);
        EXPECT_GT(t.line(1).generation(), generation);
        EXPECT_EQ(t.line(0).renderMode(), BufferLine::RenderLineMode::single);
        EXPECT_EQ(t.cursor(), "3,1");
        EXPECT_EQ(t.terminal.getUpdateRange(), (Terminal::RowRange{1, 1}));
    }
    EXPECT_EQ(t.screen(), (Rows{"abc", "", ""}));
}

TEST(TerminalRectangles, UnsupportedNeighboursOnlyReport) {
    DiagnosticsCapture capture;
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("\x1b['z");
    EXPECT_THAT(capture.captured(), ElementsAre("TODO: Enable Locator Reporting (DECELR)"))
        << "printed whatever silentLog says";
    t.feed("\x1b[1;2x\x1b[#{\x1b[1#}");
    EXPECT_EQ(capture.captured().size(), 1u);
    t.terminal.setSilentLog(false);
    t.feed("\x1b[1;2x\x1b[#{\x1b[1#}");
    EXPECT_THAT(capture.captured(),
                ElementsAre("TODO: Enable Locator Reporting (DECELR)",
                            "Info: Not implemented CSI x with collect: collect=[] and pars=[1, 2]",
                            "Info: CSI # { not implemented - XTPUSHSGR with [0]",
                            "Info: CSI # } not implemented- XTPOPSGR with [1]"));
    EXPECT_EQ(t.screen(), (Rows{"", "", ""}));
    EXPECT_THAT(t.takeReplies(), IsEmpty());
}

} // namespace
