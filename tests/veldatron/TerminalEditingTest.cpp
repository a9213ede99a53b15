#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using CellColor = Attribute::Color;

// A 10 x 6 screen full of text, each row written in place (no wrap between rows).
const Rows& filled = sampleRows;

const std::string pendingWrapOnRow1 = "\x1b[2;1Habcdefghij"; // x = 10 on row 1

// Each row: the filled screen, the setup, the bytes under test; the screen after.
struct EditCase {
    const char* name;
    std::string setup;
    std::string input;
    Rows screen;
};

Rows with(std::initializer_list<std::pair<int, std::string>> changes) {
    Rows rows = filled;
    for (const auto& [row, text] : changes) {
        rows[size_t(row)] = text;
    }
    return rows;
}

const EditCase editCases[] = {
    // Characters.
    {"ICH inserts blanks", "\x1b[2;4H", "\x1b[2@", with({{1, "abc  defgh"}})},
    {"ICH larger than the room blanks to the edge", "\x1b[2;4H", "\x1b[20@", with({{1, "abc"}})},
    {"ICH with margins loses what passes the right margin", margins3To8 + "\x1b[2;4H", "\x1b[2@",
     with({{1, "abc  defij"}})},
    {"ICH outside the margins does nothing", margins3To8 + "\x1b[2;10H", "\x1b[2@", filled},
    {"ICH in the pending-wrap column does nothing", pendingWrapOnRow1, "\x1b[2@", filled},
    {"DCH deletes and blanks the end", "\x1b[2;4H", "\x1b[2P", with({{1, "abcfghij"}})},
    {"DCH with margins deletes only up to the right margin", margins3To8 + "\x1b[2;6H", "\x1b[5P",
     with({{1, "abcde   ij"}})},
    {"DCH outside the margins does nothing", margins3To8 + "\x1b[2;2H", "\x1bP", filled},
    {"DCH in the pending-wrap column does nothing", pendingWrapOnRow1, "\x1b[P", filled},
    {"ECH erases from the cursor", "\x1b[2;4H", "\x1b[3X", with({{1, "abc   ghij"}})},
    {"ECH ignores the margins", margins3To8 + "\x1b[2;7H", "\x1b[9X", with({{1, "abcdef"}})},
    {"ECH in the pending-wrap column erases nothing", pendingWrapOnRow1, "\x1b[X", filled},
    {"EL 0 in the pending-wrap column erases nothing", pendingWrapOnRow1, "\x1b[K", filled},
    {"EL 1 in the pending-wrap column erases the row", pendingWrapOnRow1, "\x1b[1K",
     with({{1, ""}})},
    // Lines.
    {"IL pushes the rows below down",
     "\x1b[2;4H",
     "\x1b[2L",
     {"0123456789", "", "", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst"}},
    {"IL at the region bottom inserts one visible row", "\x1b[2;4r\x1b[4;1H", "\x1b[3L",
     with({{3, ""}})},
    {"IL outside the region does nothing", "\x1b[2;4r\x1b[5;1H", "\x1b[L", filled},
    {"IL with margins shifts only the columns between them", margins3To8 + "\x1b[2;5r\x1b[4;5H",
     "\x1b[L", with({{3, "kl      st"}, {4, "KLmnopqrST"}})},
    {"IL with margins and the cursor outside them does nothing",
     margins3To8 + "\x1b[2;5r\x1b[4;10H", "\x1b[L", filled},
    {"DL pulls the rows below up",
     "\x1b[2;4H",
     "\x1b[2M",
     {"0123456789", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$", "", ""}},
    {"DL inside a region leaves the rows below it", "\x1b[2;4r\x1b[2;1H", "\x1b[M",
     with({{1, "ABCDEFGHIJ"}, {2, "klmnopqrst"}, {3, ""}})},
    {"DL with margins shifts only the columns between them", margins3To8 + "\x1b[2;5r\x1b[3;5H",
     "\x1b[M", with({{2, "ABmnopqrIJ"}, {3, "klMNOPQRst"}, {4, "KL      ST"}})},
    {"DL with margins and the cursor outside the region does nothing",
     margins3To8 + "\x1b[2;5r\x1b[6;5H", "\x1b[M", filled},
    // Scrolling.
    {"SU scrolls the screen up",
     "\x1b[3;3H",
     "\x1b[2S",
     {"ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST", "uvwxyz!@#$", "", ""}},
    {"SU scrolls only the region", "\x1b[2;5r", "\x1b[S",
     with({{1, "ABCDEFGHIJ"}, {2, "klmnopqrst"}, {3, "KLMNOPQRST"}, {4, ""}})},
    {"SU with margins scrolls the columns between them",
     margins3To8,
     "\x1b[S",
     {"01cdefgh89", "abCDEFGHij", "ABmnopqrIJ", "klMNOPQRst", "KLwxyz!@ST", "uv      #$"}},
    {"SU with a private marker is still SU", "", "\x1b[?S",
     with({{0, "abcdefghij"},
           {1, "ABCDEFGHIJ"},
           {2, "klmnopqrst"},
           {3, "KLMNOPQRST"},
           {4, "uvwxyz!@#$"},
           {5, ""}})},
    {"SD scrolls the screen down",
     "\x1b[3;3H",
     "\x1b[2T",
     {"", "", "0123456789", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst"}},
    {"SD with margins scrolls the columns between them",
     margins3To8,
     "\x1b[T",
     {"01      89", "ab234567ij", "ABcdefghIJ", "klCDEFGHst", "KLmnopqrST", "uvMNOPQR#$"}},
    {"SD with full-width margins takes the column path",
     "\x1b[?69h",
     "\x1b[T",
     {"", "0123456789", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
    {"SD with an intermediate is not SD", "", "\x1b[!T", filled},
    // Repeat.
    {"REP prints the last character again, wrapping like text", "\x1b[2;9Hx", "\x1b[3b",
     with({{1, "abcdefghxx"}, {2, "~xxCDEFGHIJ"}})},
    {"REP at column 0 writes empty cells", "\x1b[2;1H", "\x1b[3b", with({{1, "   defghij"}})},
    // Columns.
    {"DECDC deletes columns in every region row",
     "\x1b[2;4H",
     "\x1b[2'~",
     {"01256789  ", "abcfghij  ", "ABCFGHIJ  ", "klmpqrst  ", "KLMPQRST  ", "uvwz!@#$  "}},
    {"DECDC with margins stops at the right margin", margins3To8 + "\x1b[3;5r\x1b[3;4H", "\x1b['~",
     with({{2, "ABCEFGH IJ"}, {3, "klmopqr st"}, {4, "KLMOPQR ST"}})},
    {"DECDC outside the region does nothing", "\x1b[3;4r\x1b[1;4H", "\x1b['~", filled},
    {"DECDC in the pending-wrap column does nothing", pendingWrapOnRow1, "\x1b['~", filled},
    {"DECIC inserts columns in every region row",
     "\x1b[2;4H",
     "\x1b[2'}",
     {"012  34567", "abc  defgh", "ABC  DEFGH", "klm  nopqr", "KLM  NOPQR", "uvw  xyz!@"}},
    {"DECIC at the right margin blanks what is left",
     margins3To8 + "\x1b[1;8H",
     "\x1b[3'}",
     {"0123456 89", "abcdefg ij", "ABCDEFG IJ", "klmnopq st", "KLMNOPQ ST", "uvwxyz! #$"}},
    {"DECIC right of the margins does nothing", margins3To8 + "\x1b[1;9H", "\x1b['}", filled},
};

class EditTable : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditTable, ChangesTheScreen) {
    const EditCase& c = GetParam();
    TerminalFixture t({.cols = 10, .rows = 6});
    t.feed(writeRows(filled));
    t.feed(c.setup);
    const std::string cursor = t.cursor();
    t.feed(c.input);
    EXPECT_EQ(t.screen(), c.screen);
    if (c.input.find('b') == std::string::npos) {
        EXPECT_EQ(t.cursor(), cursor) << "editing leaves the cursor where it was";
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, EditTable, ::testing::ValuesIn(editCases),
                         [](const auto& info) { return testName(info.param.name); });

// ---- What the new cells hold ----------------------------------------------------------------

TEST(TerminalEditing, NewCellsTakeTheCurrentBackground) {
    struct Case {
        const char* name;
        std::string input;
        int col;
        int row;
        CharData cell;
    };
    const Attribute current(CellColor::defaultColor, CellColor::ansi256(4));
    const Case cases[] = {
        {"ICH", "\x1b[1;1H\x1b[@", 0, 0, CharData(current, 0, 1)},
        {"DCH", "\x1b[1;1H\x1b[P", 9, 0, CharData(current, 0, 1)},
        {"ECH", "\x1b[1;1H\x1b[X", 0, 0, CharData(current, 0, 1)},
        {"IL", "\x1b[1;1H\x1b[L", 3, 0, CharData(current, 0, 1)},
        {"DL", "\x1b[1;1H\x1b[M", 3, 5, CharData(current, 0, 1)},
        {"IL with margins", "\x1b[?69h\x1b[3;8s\x1b[1;4H\x1b[L", 3, 0, CharData(current, 0, 1)},
        {"RI at the top", "\x1b[1;1H\x1bM", 3, 0, CharData(current, 0, 1)},
        {"DECDC puts spaces", "\x1b[1;1H\x1b['~", 9, 0, CharData(current, ' ', 1)},
        {"SU", "\x1b[S", 3, 5, CharData(current, 0, 1)},
        {"SD", "\x1b[T", 3, 0, CharData(current, 0, 1)},
        {"SU with margins", "\x1b[?69h\x1b[3;8s\x1b[S", 3, 5, CharData(current, 0, 1)},
        {"SD with margins", "\x1b[?69h\x1b[3;8s\x1b[T", 3, 0, CharData(current, 0, 1)},
        {"DECIC puts plain spaces", "\x1b[1;1H\x1b['}", 0, 0, CharData(Attribute::empty, ' ', 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 10, .rows = 6});
        t.feed(writeRows(filled));
        t.feed("\x1b[1;4;31;44m");
        t.feed(c.input);
        EXPECT_EQ(t.cell(c.col, c.row), c.cell);
    }
}

TEST(TerminalEditing, AnOperationThatSplitsAWideCharacterBlanksBothHalves) {
    struct Case {
        const char* name;
        std::string setup;
        std::string input;
        std::vector<std::string> cells; // the first cells of row 0
    };
    // 你 in columns 0-1, 好 in 2-3, then x and y.
    const std::string text = "\xe4\xbd\xa0\xe5\xa5\xbdxy";
    const Case cases[] = {
        {"DCH in a right half",
         text,
         "\x1b[1;2H\x1b[P",
         {"/1", "\xe5\xa5\xbd/2", "/0", "x/1", "y/1", "/1"}},
        {"DCH up to a left half", text, "\x1b[1;1H\x1b[3P", {"/1", "x/1", "y/1", "/1"}},
        {"DCH of a left half",
         text,
         "\x1b[1;3H\x1b[P",
         {"\xe4\xbd\xa0/2", "/0", "/1", "x/1", "y/1", "/1"}},
        {"DCH moving the left half of a character on the right margin",
         text + "\x1b[?69h\x1b[1;3s",
         "\x1b[1;1H\x1b[P",
         {"/1", "/1", "/1", "/1", "x/1", "y/1"}},
        {"ICH in a right half",
         text,
         "\x1b[1;2H\x1b[@",
         {"/1", "/1", "/1", "\xe5\xa5\xbd/2", "/0", "x/1", "y/1"}},
        {"ICH pushing a character half over the edge",
         "abcdefgh\xe4\xbd\xa0",
         "\x1b[1;1H\x1b[@",
         {"/1", "a/1", "b/1", "c/1", "d/1", "e/1", "f/1", "g/1", "h/1", "/1"}},
        {"ECH from a right half", text, "\x1b[1;2H\x1b[X", {"/1", "/1", "\xe5\xa5\xbd/2", "/0"}},
        {"ECH up to a left half", text, "\x1b[1;1H\x1b[3X", {"/1", "/1", "/1", "/1", "x/1"}},
        {"EL to the end from a right half", text, "\x1b[1;2H\x1b[K", {"/1", "/1", "/1"}},
        {"EL from the start through a left half",
         text,
         "\x1b[1;3H\x1b[1K",
         {"/1", "/1", "/1", "/1", "x/1"}},
        {"ED below from a right half", text, "\x1b[1;2H\x1b[J", {"/1", "/1", "/1"}},
        {"DECDC in a right half", text, "\x1b[1;2H\x1b['~", {" /1", "\xe5\xa5\xbd/2", "/0", "x/1"}},
        {"DECIC in a right half",
         text,
         "\x1b[1;2H\x1b['}",
         {" /1", " /1", " /1", "\xe5\xa5\xbd/2", "/0", "x/1"}},
        {"deleting a whole character splits nothing",
         text,
         "\x1b[1;3H\x1b[2P",
         {"\xe4\xbd\xa0/2", "/0", "x/1", "y/1", "/1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 10, .rows = 3});
        t.feed(c.setup);
        t.feed(c.input);
        EXPECT_EQ(t.cellTexts(0, c.cells.size()), c.cells);
    }
}

TEST(TerminalEditing, RepeatCopiesTheWholeCellOfAWideCharacter) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("\x1b[1;32m\xe4\xbd\xa0\x1b[m\x1b[2b");
    const CharData wide = t.cell(0, 0);
    EXPECT_EQ(wide.width(), 2);
    EXPECT_EQ(t.cell(2, 0), wide);
    EXPECT_EQ(t.cell(4, 0), wide);
    EXPECT_EQ(t.cursor(), "6,0") << "the empty half left of the cursor stands for its character";
}

TEST(TerminalEditing, ScrollUpFeedsNoScrollback) {
    TerminalFixture t({.cols = 10, .rows = 6});
    t.feed(writeRows(filled));
    t.feed("\x1b[3S");
    EXPECT_EQ(t.scrollback(), Rows{});
    t.feed("\x1b[99999S\x1b[99999T\x1b[99999L\x1b[99999M");
    EXPECT_EQ(t.scrollback(), Rows{}) << "huge counts are bounded and harmless";
}

TEST(TerminalEditing, LineShiftsBreakParagraphsAtTheEdges) {
    // A paragraph wrapped over rows 0-3; the region is rows 1..2 (1-based 2;3).
    TerminalFixture t({.cols = 4, .rows = 6});
    t.feed("aaaabbbbccccdddd\x1b[2;3r");
    ASSERT_EQ(t.screen(), (Rows{"aaaa", "~bbbb", "~cccc", "~dddd", "", ""}));
    t.feed("\x1b[2;1H\x1b[L");
    EXPECT_EQ(t.screen(), (Rows{"aaaa", "", "bbbb", "dddd", "", ""}))
        << "the inserted row, the first row moved and the row below the region start anew";
    t.feed("\x1b[2;1H\x1b[S\x1b[T");
    EXPECT_FALSE(t.line(1).isWrapped());
    EXPECT_FALSE(t.line(3).isWrapped());
}

TEST(TerminalEditing, ScrollDownHardensTheRowsPushedApart) {
    // Rows 5..10 (1-based 6;11) of a 12-row screen, every row continuing the one above.
    TerminalFixture t({.cols = 2, .rows = 12});
    t.feed(std::string(24, 'x') + "\x1b[6;11r");
    t.feed("\x1b[2T");
    // Rows 5 and 6 are the new blank rows; 7 (the old top) and 11 (below the region) hardened.
    const bool wrapped[] = {false, true,  true, true, true, false,
                            false, false, true, true, true, false};
    for (int row = 0; row < 12; ++row) {
        EXPECT_EQ(t.line(row).isWrapped(), wrapped[row]) << row;
    }
}

} // namespace
