#include "BufferFixture.h"
#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

struct PrintCase {
    const char* name;
    TerminalSpec spec;
    std::vector<std::string> chunks;
    std::vector<std::string> cells; // the first cells of row 0
    std::string cursor;
    Rows screen = {}; // the first rows, when given
};

// Each row: a fresh terminal, the chunks fed one call each.
const PrintCase printCases[] = {
    {"ASCII", {}, {"abc"}, {"a/1", "b/1", "c/1", "/1"}, "3,0"},
    {"DEL inside a run is dropped",
     {},
     {"a\x7f"
      "b"},
     {"a/1", "b/1", "/1"},
     "2,0"},
    {"a two-byte character split across chunks", {}, {"\xc3", "\xa9"}, {"\xc3\xa9/1", "/1"}, "1,0"},
    {"a four-byte character split after every byte",
     {},
     {"\xf0", "\x9f", "\x98", "\x80", "!"},
     {"\xf0\x9f\x98\x80/2", "/0", "!/1"},
     "3,0"},
    {"an invalid sequence keeps the byte that follows it",
     {},
     {"\xc3\x41"},
     {"\xc3\x83/1", "A/1", "/1"},
     "2,0"},
    {"a truncated three-byte sequence keeps the ASCII after it",
     {},
     {"\xe2\x82"
      "A"},
     {"\xc3\xa2/1", "A/1"},
     "2,0"},
    {"a lone continuation byte from the C1 range is dropped",
     {},
     {"x\x80y"},
     {"x/1", "y/1"},
     "2,0"},
    {"a byte that starts no sequence prints as Latin-1", {}, {"\xff"}, {"\xc3\xbf/1"}, "1,0"},
    {"an overlong encoding prints its bytes as Latin-1",
     {},
     {"\xc0\xaf"},
     {"\xc3\x80/1", "\xc2\xaf/1"},
     "2,0"},
    {"an encoded surrogate is invalid", {}, {"\xed\xa0\x80z"}, {"\xc3\xad/1", "z/1"}, "2,0"},
    {"a C1 control sent as UTF-8 is dropped",
     {},
     {"a\xc2\x85"
      "b"},
     {"a/1", "b/1"},
     "2,0"},
    {"a wide character takes two cells",
     {},
     {"\xe4\xbd\xa0x"},
     {"\xe4\xbd\xa0/2", "/0", "x/1"},
     "3,0"},
    {"a wide character that does not fit wraps to the next row",
     {.cols = 5, .rows = 3},
     {"abcd\xe4\xbd\xa0"},
     {"a/1", "b/1", "c/1", "d/1", "/1"},
     "2,1",
     {"abcd", "~\xe4\xbd\xa0", ""}},
    {"without autowrap a wide character at the edge is dropped",
     {.cols = 5, .rows = 2},
     {"\x1b[?7labcd\xe4\xbd\xa0"},
     {"a/1", "b/1", "c/1", "d/1", "/1"},
     "4,0"},
    {"without autowrap the cursor stays on the last column",
     {.cols = 5, .rows = 2},
     {"\x1b[?7labcdefg"},
     {"a/1", "b/1", "c/1", "d/1", "g/1"},
     "4,0"},
    {"without autowrap the cursor stays on the right margin",
     {.cols = 8, .rows = 2},
     {"\x1b[?69h\x1b[3;6s\x1b[?7l\x1b[1;4Habcdefg"},
     {"/1", "/1", "/1", "a/1", "b/1", "g/1", "/1"},
     "5,0"},
    {"without autowrap a step back from the last column lands left of it",
     {.cols = 5, .rows = 2},
     {"\x1b[?7labcdefg\x1b[DX"},
     {"a/1", "b/1", "c/1", "X/1", "g/1"},
     "4,0"},
    {"without autowrap a mark read later still joins the letter in the last column",
     {.cols = 5, .rows = 2},
     {"\x1b[?7labcdef", "\xcc\x81"},
     {"a/1", "b/1", "c/1", "d/1", "f\xcc\x81/1"},
     "4,0"},
    {"without autowrap a repeat repeats the letter in the last column",
     {.cols = 5, .rows = 2},
     {"\x1b[?7labcdef", "\x1b[b"},
     {"a/1", "b/1", "c/1", "d/1", "f/1"},
     "4,0"},
    {"a combining mark joins the letter before it",
     {},
     {"e\xcc\x81x"},
     {"e\xcc\x81/1", "x/1"},
     "2,0"},
    {"a combining mark at column 0 is dropped", {}, {"\xcc\x81x"}, {"x/1", "/1"}, "1,0"},
    {"a combining mark after a wide character joins it",
     {},
     {"\xe4\xbd\xa0\xcc\x81"},
     {"\xe4\xbd\xa0\xcc\x81/2", "/0"},
     "2,0"},
    {"a combining mark joins a wide character in the last two columns",
     {.cols = 5, .rows = 2},
     {"abc\xe4\xbd\xa0\xcc\x81"},
     {"a/1", "b/1", "c/1", "\xe4\xbd\xa0\xcc\x81/2", "/0"},
     "5,0"},
    {"a combining mark joins a wide character that wrapped",
     {.cols = 5, .rows = 3},
     {"abcd\xe4\xbd\xa0\xcc\x81x"},
     {"a/1", "b/1", "c/1", "d/1", "/1"},
     "3,1",
     {"abcd", "~\xe4\xbd\xa0\xcc\x81x", ""}},
    {"a combining mark after an empty cell is dropped",
     {},
     {"\x1b[1;3H\xcc\x81"},
     {"/1", "/1", "/1"},
     "2,0"},
    {"VS16 widens a text-default emoji",
     {},
     {"\xe2\x98\xba\xef\xb8\x8fx"},
     {"\xe2\x98\xba\xef\xb8\x8f/2", "/0", "x/1"},
     "3,0"},
    {"VS16 in the last column keeps the width",
     {.cols = 5, .rows = 2},
     {"\x1b[1;5H\xe2\x98\xba\xef\xb8\x8f"},
     {"/1", "/1", "/1", "/1", "\xe2\x98\xba\xef\xb8\x8f/1"},
     "5,0"},
    {"VS16 after a letter is dropped",
     {},
     {"A\xef\xb8\x8f"
      "B"},
     {"A/1", "B/1"},
     "2,0"},
    {"VS15 narrows a wide emoji and the next character takes the freed cell",
     {},
     {"\xe2\x8c\x9a\xef\xb8\x8e", "x"},
     {"\xe2\x8c\x9a\xef\xb8\x8e/1", "x/1", "/1"},
     "2,0"},
    {"VS15 after a colour change narrows the emoji printed before it",
     {},
     {"\xe2\x8c\x9a\x1b[31m\xef\xb8\x8ex"},
     {"\xe2\x8c\x9a\xef\xb8\x8e/1", "x/1", "/1"},
     "2,0"},
    {"a skin-tone modifier joins the emoji",
     {},
     {"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd."},
     {"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd/2", "/0", "./1"},
     "3,0"},
    {"a ZWJ sequence is one wide cell",
     {},
     {"\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7."},
     {"\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7/2", "/0", "./1"},
     "3,0"},
    {"a letter after a joiner does not join",
     {},
     {"a\xe2\x80\x8d"
      "b"},
     {"a\xe2\x80\x8d/1", "b/1"},
     "2,0"},
    {"a selector after a joiner is dropped and the joiner still joins",
     {},
     {"\xf0\x9f\x8c\x9a\xe2\x80\x8d\xef\xb8\x8f\xe2\x98\x80x"},
     {"\xf0\x9f\x8c\x9a\xe2\x80\x8d\xe2\x98\x80/2", "/0", "x/1"},
     "3,0"},
    {"VS16 widens an emoji printed in the middle of a run",
     {},
     {"ab\xf0\x9f\x8f\xb3\xef\xb8\x8f\xe2\x80\x8d\xf0\x9f\x8c\x88"
      "c"},
     {"a/1", "b/1", "\xf0\x9f\x8f\xb3\xef\xb8\x8f\xe2\x80\x8d\xf0\x9f\x8c\x88/2", "/0", "c/1"},
     "5,0"},
    {"two regional indicators make one flag",
     {},
     {"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa"},
     {"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa/2", "/0", "/1"},
     "2,0"},
    {"a third regional indicator starts a new cell",
     {},
     {"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa\xf0\x9f\x87\xab"},
     {"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa/2", "/0", "\xf0\x9f\x87\xab/2", "/0"},
     "4,0"},
    {"a narrow regional indicator alone takes one column",
     {.regionalIndicatorWidth = RegionalIndicatorWidth::narrow},
     {"\xf0\x9f\x87\xa9x"},
     {"\xf0\x9f\x87\xa9/1", "x/1"},
     "2,0"},
    {"a narrow flag pair widens to two columns",
     {.regionalIndicatorWidth = RegionalIndicatorWidth::narrow},
     {"\xf0\x9f\x87\xa9", "\xf0\x9f\x87\xaax"},
     {"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa/2", "/0", "x/1"},
     "3,0"},
    {"DEC special graphics in G0",
     {},
     {"\x1b(0lqkx\x1b(Bq"},
     {"\xe2\x94\x8c/1", "\xe2\x94\x80/1", "\xe2\x94\x90/1", "\xe2\x94\x82/1", "q/1"},
     "5,0"},
    {"SO and SI switch to G1 and back",
     {},
     {"\x1b)0q\x0eq\x0fq"},
     {"q/1", "\xe2\x94\x80/1", "q/1"},
     "3,0"},
    {"the United Kingdom set replaces only the number sign",
     {},
     {"\x1b(A#a"},
     {"\xc2\xa3/1", "a/1"},
     "2,0"},
    {"a character set applies inside mixed text",
     {},
     {"\x1b(0q\xc3\xa9q"},
     {"\xe2\x94\x80/1", "\xc3\xa9/1", "\xe2\x94\x80/1"},
     "3,0"},
    {"insert mode pushes the line right",
     {.cols = 6, .rows = 2},
     {"abcd\x1b[4h\x1b[1;2HXY"},
     {"a/1", "X/1", "Y/1", "b/1", "c/1", "d/1"},
     "3,0"},
    {"a character split by a line feed is completed on the next row",
     {.cols = 10, .rows = 3},
     {"\xe2\x82", "\n", "\xac"},
     {"/1"},
     "1,1",
     {"", "\xe2\x82\xac", ""}},
    {"an escape sequence drops an incomplete character",
     {},
     {"\xe2\x80\x1b[m\xa6"},
     {"\xc2\xa6/1", "/1"},
     "1,0"},
};

class PrintTable : public ::testing::TestWithParam<PrintCase> {};

TEST_P(PrintTable, BytesToCells) {
    const PrintCase& c = GetParam();
    TerminalFixture t(c.spec);
    for (const std::string& chunk : c.chunks) {
        t.feed(chunk);
    }
    EXPECT_EQ(t.cellTexts(0, c.cells.size()), c.cells);
    EXPECT_EQ(t.cursor(), c.cursor);
    if (!c.screen.empty()) {
        Rows screen = t.screen();
        screen.resize(c.screen.size());
        EXPECT_EQ(screen, c.screen);
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, PrintTable, ::testing::ValuesIn(printCases),
                         [](const auto& info) { return testName(info.param.name); });

TEST(TerminalPrint, AnIncompleteCharacterPrintsNothingUntilItIsComplete) {
    TerminalFixture t;
    t.feed("ab\xe4\xbd");
    EXPECT_EQ(t.screen()[0], "ab");
    EXPECT_EQ(t.cursor(), "2,0");
    t.feed("\xa0");
    EXPECT_EQ(t.screen()[0], "ab\xe4\xbd\xa0");
    EXPECT_EQ(t.cursor(), "4,0");
}

TEST(TerminalPrint, ClustersAreInternedOnceByCanonicalEquivalence) {
    TerminalFixture t;
    // a + acute + dot below, then the same marks in the other order: canonically equivalent.
    t.feed("a\xcc\x81\xcc\xa3 a\xcc\xa3\xcc\x81 e\xcc\x81 e\xcc\x81");
    const int32_t first = t.cell(0, 0).code();
    EXPECT_GE(first, CharData::firstInternedCode);
    EXPECT_EQ(t.cell(2, 0).code(), first);
    EXPECT_EQ(t.cell(4, 0).code(), t.cell(6, 0).code());
    EXPECT_NE(t.cell(4, 0).code(), first);
    // The first-seen text is what the code reads back as.
    EXPECT_EQ(t.terminal.character(first), U"a\u0301\u0323");
}

TEST(TerminalPrint, TheFirstWideCharacterOfAFreshTerminalHasAnEmptyHalf) {
    // The templates of a print run are kept between runs: the very first run must not take a
    // half that was never made.
    for (const char* text : {"\xe4\xbd\xa0", "a\xe4\xbd\xa0", "\xc3\xa9\xe4\xbd\xa0"}) {
        SCOPED_TRACE(escaped(text));
        TerminalFixture t;
        t.feed(text);
        const int x = t.terminal.buffer().x() - 2;
        EXPECT_EQ(t.cell(x, 0).width(), 2);
        EXPECT_EQ(t.cell(x + 1, 0).width(), 0);
        EXPECT_EQ(t.cell(x + 1, 0).code(), 0);
    }
}

TEST(TerminalPrint, CodesOfCharacters) {
    TerminalFixture t;
    Terminal& terminal = t.terminal;
    EXPECT_EQ(terminal.code(U"A"), 'A');
    EXPECT_EQ(terminal.code(U"\uFFFF"), 0xFFFF);
    EXPECT_EQ(terminal.code(U"\r\n"), 10);
    const int32_t emoji = terminal.code(U"\U0001F600");
    EXPECT_GE(emoji, CharData::firstInternedCode);
    EXPECT_EQ(terminal.code(U"\U0001F600"), emoji);
    EXPECT_EQ(terminal.character(emoji), U"\U0001F600");
    EXPECT_EQ(terminal.character(emoji + 1), U" ") << "a code never handed out";
    EXPECT_EQ(terminal.character(0xD800), U" ");
    EXPECT_EQ(terminal.character(0x110000), U" ");
    EXPECT_EQ(terminal.character(-5), U" ");
    EXPECT_EQ(terminal.character('x'), U"x");
}

TEST(TerminalPrint, TextBeyondAsciiTakesWhatPlainAsciiTakesAfterEachChange) {
    // The cells text beyond ASCII is printed from are kept from one run to the next: every
    // change of what cells take besides the code must reach them as it reaches plain ASCII,
    // whose template is made apart.
    const struct {
        const char* name;
        const char* change;
    } changes[] = {
        {"colour", "\x1b[31m"},
        {"style and background", "\x1b[1;44m"},
        {"attributes reset", "\x1b[m"},
        {"link", "\x1b]8;;http://example.com/a\x1b\\"},
        {"another link", "\x1b]8;;http://example.com/b\x1b\\"},
        {"link ended", "\x1b]8;;\x1b\\"},
        {"prompt", "\x1b]133;A\x07"},
        {"command input", "\x1b]133;B\x07"},
        {"command output", "\x1b]133;C\x07"},
        {"alternate screen", "\x1b[?1049h\x1b[32m"},
        {"main screen", "\x1b[?1049l"},
    };
    TerminalFixture t;
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        t.feed("\r\n\xc3\xa9"); // a run before the change
        t.feed(c.change);
        t.feed("\r\n\xc3\xa9\xe4\xbd\xa0");
        t.feed("b"); // a run of its own: plain ASCII
        const int y = t.terminal.buffer().y();
        const CharData plain = t.cell(3, y);
        ASSERT_EQ(plain.code(), 'b');
        for (const int x : {0, 1, 2}) {
            SCOPED_TRACE(x);
            const CharData cell = t.cell(x, y);
            if (cell.width() != 0) {
                EXPECT_TRUE(cell.attribute() == plain.attribute());
            }
            EXPECT_EQ(cell.payload().code, plain.payload().code);
            EXPECT_EQ(cell.semanticContentCode(), plain.semanticContentCode());
        }
    }
}

TEST(TerminalPrint, AClusterStopsGrowingAtThirtyTwoScalars) {
    TerminalFixture t;
    std::string marks;
    for (int i = 0; i < 100; ++i) {
        marks += "\xcc\x81";
    }
    t.feed("e" + marks + "x");
    EXPECT_EQ(t.terminal.character(t.cell(0, 0).code()).size(), 32u);
    EXPECT_EQ(t.cellText(1, 0), "x/1");
    EXPECT_EQ(t.cursor(), "2,0");
}

// ---- Properties -------------------------------------------------------------------------

struct CellDump {
    std::vector<CharData> cells;
    std::vector<bool> wrapped;
    std::vector<uint64_t> generations;
    std::string cursor;
    friend bool operator==(const CellDump&, const CellDump&) = default;
};

CellDump dumpCells(TerminalFixture& t, bool withGenerations) {
    CellDump dump;
    Buffer& buffer = t.terminal.buffer();
    for (int row = 0; row < buffer.lines().count(); ++row) {
        const BufferLine& line = buffer.lines()[row];
        dump.cells.insert(dump.cells.end(), line.cells().begin(), line.cells().end());
        dump.wrapped.push_back(line.isWrapped());
        if (withGenerations) {
            dump.generations.push_back(line.generation());
        }
    }
    dump.cursor = t.cursor() + " base=" + std::to_string(buffer.yBase());
    return dump;
}

// Printable ASCII without '#', mixed with line controls, cursor moves, margins, modes and
// changes of what the cells take besides the code.
std::string randomAsciiStream(std::mt19937& random, size_t pieces) {
    static const char* const controls[] = {
        "\r\n",      "\r",        "\n",        "\b",       "\t",       "\x1b[1;1H",
        "\x1b[3;7H", "\x1b[2;4r", "\x1b[r",    "\x1b[?7l", "\x1b[?7h", "\x1b[?69h\x1b[3;9s",
        "\x1b[?69l", "\x1b[31m",  "\x1b[m",    "\x1b[K",   "\x1b[2C",  "\x1b[3D",
        "\x1b[?6h",  "\x1b[?6l",  "\x1b[5;1H",
        // What printed cells take besides the code: links, shell-integration content, colours.
        "\x1b]8;;http://example.com/a\x1b\\", "\x1b]8;;\x1b\\", "\x1b]133;A\x07",
        "\x1b]133;B\x07", "\x1b]133;C\x07", "\x1b[44m",
    };
    std::string out;
    for (size_t i = 0; i < pieces; ++i) {
        if (random() % 3 == 0) {
            out += controls[random() % std::size(controls)];
            continue;
        }
        const size_t length = 1 + random() % 30;
        for (size_t k = 0; k < length; ++k) {
            char c = char(0x20 + random() % 95);
            out.push_back(c == '#' ? '$' : c);
        }
    }
    return out;
}

TEST(TerminalPrintProperty, TheAsciiFastPathWritesWhatTheGeneralPathWrites) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const std::string stream = randomAsciiStream(random, 60);
        TerminalFixture fast({.cols = 12, .rows = 6, .scrollback = 4});
        TerminalFixture general({.cols = 12, .rows = 6, .scrollback = 4});
        // The United Kingdom set replaces only '#', which the stream never holds: every byte
        // takes the character-at-a-time path and must land exactly where the run writer puts it.
        general.feed("\x1b(A");
        fast.feed(stream);
        general.feed(stream);
        EXPECT_EQ(dumpCells(fast, true), dumpCells(general, true));
    }
}

// A screen drawn cell by cell: moves with random parameters (omitted, zero, two of them, past
// the screen, too long to be short) and changes of colours, each followed by a character or a
// word, among the modes and sequences that stop such a run or make it go the general way.
std::string randomCellByCellStream(std::mt19937& random, size_t pieces) {
    static const char finals[] = "ABCDGHdfEXK";
    // clang-format off
    static const char* const attributeLists[] = {
        // The shapes colourful output sends, and lists the attribute reads in other ways: colons,
        // an underline colour, a colour cut short, a value of five digits, too many parameters, and
        // intermediates or a marker, which make it another sequence.
        "38;5;196", "48;2;10;20;30", "1;48;5;17", "0", "", "7;38;2;1;2;3", "22;39;49",
        "38:2::40:50:60", "4:3", "58;5;9", "59", "38;5", "48;2;1", "1;2;3;4;5;7;8;9;21;23;24;27",
        "1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;31", "1;00038;5;7", "1$", "?1", ">4;1",
    };
    // clang-format on
    // clang-format off
    static const char* const interruptions[] = {
        // Modes and regions the run either obeys or leaves to the general way.
        "\x1b[?6h", "\x1b[?6l", "\x1b[2;5r", "\x1b[r", "\x1b[?69h\x1b[3;9s", "\x1b[?69l",
        "\x1b[4h", "\x1b[4l", "\x1b[?7l", "\x1b[?7h",
        // What printed cells take besides the code.
        "\x1b(0", "\x1b(B", "\x1b[31;1m", "\x1b[m", "\x1b]8;;http://e.com/\x1b\\", "\x1b]8;;\x1b\\",
        "\x1b]133;A\x07",
        // Moves in shapes a run does not take, and what is not a move.
        "\x1b[?5H", "\x1b[1:2H", "\x1b[1;2;3H", "\x1b[ H", "\r\n", "\xc3\xa9",
    };
    // clang-format on
    std::string out;
    for (size_t i = 0; i < pieces; ++i) {
        if (random() % 12 == 0) {
            out += interruptions[random() % std::size(interruptions)];
            continue;
        }
        if (random() % 10 == 0) {
            out += random() % 2 == 0 ? "\x1b" "7" : "\x1b" "8";
        }
        if (random() % 3 == 0) {
            out +=
                std::string("\x1b[") + attributeLists[random() % std::size(attributeLists)] + "m";
            if (random() % 4 != 0) {
                out += char(0x21 + random() % 0x5E);
            }
            continue;
        }
        out += "\x1b[";
        const auto value = [&] {
            switch (random() % 8) {
            case 0:
                return std::string();
            case 1:
                return std::string("0");
            case 2:
                return std::to_string(random() % 100000); // past four digits, or saturating
            default:
                return std::to_string(1 + random() % 14);
            }
        };
        out += value();
        if (random() % 2 == 0) {
            out += ";" + value();
        }
        out += finals[random() % (std::size(finals) - 1)];
        // Mostly one character, as drawn cell by cell; at times a word, nothing, or a word past
        // the short text the run takes.
        const size_t length = random() % 4 != 0 ? 1 : random() % 20;
        for (size_t k = 0; k < length; ++k) {
            out += char(0x21 + random() % 0x5E);
        }
    }
    return out;
}

TEST(TerminalPrintProperty, DrawingCellByCellLeavesWhatSequencesReadOneAtATimeLeave) {
    // Fed whole, the moves and their text go to the screen in runs; byte by byte, each sequence
    // and each character takes the general way. Pieces of random size end runs anywhere.
    std::mt19937 random(13);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        // The last move's text runs on past what a run takes: the parser is left as that move
        // left it.
        const std::string stream =
            randomCellByCellStream(random, 200) + "\x1b[5;6Hp\x1b[2Cq" + std::string(40, 'w');
        const TerminalSpec spec{.cols = 14, .rows = 7, .scrollback = 4};
        TerminalFixture whole(spec);
        whole.feed(stream);
        TerminalFixture bytes(spec);
        bytes.feedSplit(stream, {1});
        TerminalFixture pieces(spec);
        std::vector<size_t> sizes;
        for (int k = 0; k < 64; ++k) {
            sizes.push_back(1 + random() % 90);
        }
        pieces.feedSplit(stream, sizes);
        for (TerminalFixture* other : {&bytes, &pieces}) {
            EXPECT_EQ(dumpCells(whole, true), dumpCells(*other, true));
            EXPECT_EQ(whole.host.calls, other->host.calls);
            EXPECT_EQ(whole.terminal.getUpdateRange(), other->terminal.getUpdateRange());
            EXPECT_EQ(whole.terminal.getScrollInvariantUpdateRange(),
                      other->terminal.getScrollInvariantUpdateRange());
            const ParserParams& params = whole.terminal.parser().params();
            const ParserParams& otherParams = other->terminal.parser().params();
            EXPECT_TRUE(std::ranges::equal(params.values(), otherParams.values()));
            for (int k = 0; k < params.size(); ++k) {
                EXPECT_EQ(params.isOmitted(k), otherParams.isOmitted(k));
            }
        }
        // What the runs left behind decides what comes next: the held cursor and the marks.
        for (TerminalFixture* t : {&whole, &bytes}) {
            t->terminal.clearUpdateRange();
            t->feed("\x1b[?7lxy\x1b[2Az");
        }
        EXPECT_EQ(dumpCells(whole, true), dumpCells(bytes, true));
        EXPECT_EQ(whole.terminal.getUpdateRange(), bytes.terminal.getUpdateRange());
    }
}

TEST(TerminalPrintProperty, SequencesWithinACellByCellRunLeaveWhatTheyLeaveReadOneAtATime) {
    // A run takes the modes and the region once and again only after DECRC: what DECRC brings
    // back must reach the moves and prints after it within the same run.
    struct Case {
        const char* name;
        std::string stream;
    };
    // clang-format off
    const Case cases[] = {
        {"a restored cursor brings back autowrap off: the last column holds the cursor",
         "\x1b[?7l\x1b" "7\x1b[?7h\x1b[1;1Ha\x1b[2;2Hb\x1b" "8\x1b[3;14Hc\x1b[Dd\x1b[Be"},
        {"a restored cursor brings back autowrap on: a word may reach the last column",
         "\x1b" "7\x1b[?7l\x1b[1;1Ha\x1b[2;2Hb\x1b" "8\x1b[3;13Hcd\x1b[Ae\x1b[Bf"},
        {"a restored cursor brings back origin mode, which the run leaves to the general way",
         "\x1b[2;5r\x1b[?6h\x1b" "7\x1b[?6l\x1b[1;1Ha\x1b[2;2Hb\x1b" "8\x1b[3;3Hc\x1b[Ad"},
        {"moves up and down after erases stop at the region's edges",
         "\x1b[2;5r\x1b[3;1Ha\x1b[K\x1b[9Ab\x1b[2Xc\x1b[9Bd\x1b[Ke\x1b[9Bf"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Moves after the case keep its run going, whatever it left.
        const std::string stream = c.stream + "\x1b[5;6Hp\x1b[2Cq\x1b[Gr" + std::string(20, 'w');
        const TerminalSpec spec{.cols = 14, .rows = 7, .scrollback = 4};
        TerminalFixture whole(spec);
        whole.feed(stream);
        TerminalFixture bytes(spec);
        bytes.feedSplit(stream, {1});
        EXPECT_EQ(dumpCells(whole, true), dumpCells(bytes, true));
        EXPECT_EQ(whole.terminal.getUpdateRange(), bytes.terminal.getUpdateRange());
    }
}

TEST(TerminalPrintProperty, AListLongerThanAMoveEndingTheChunkEndsTheCellByCellRunWithinIt) {
    // Colours and erases within a run are read with lists of any length, which may end at the
    // chunk's last byte or a few bytes before it. Each chunk comes in a buffer of exactly its
    // size, so a read past it is a heap overflow under the sanitizers.
    std::string longColours = "\x1b[1";
    for (int i = 0; i < 30; ++i) {
        longColours += ";1";
    }
    const std::string starts[] = {
        "\r\x1b[38:2::255:128:0;4:3;58:5:9mX\x1b[;;1;0m",
        "\r\x1b[38:2::255:128:0;4:3mX\x1b[2;3Hab\x1b[;;1;0mc",
    };
    const std::string tails[] = {
        longColours + "m",
        longColours + "mz",
        longColours + "mzz\x1b[",
        "\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16X",
    };
    for (const std::string& start : starts) {
        for (const std::string& tail : tails) {
            const std::string stream = start + tail;
            SCOPED_TRACE(stream);
            const TerminalSpec spec{.cols = 14, .rows = 7, .scrollback = 4};
            TerminalFixture whole(spec);
            const auto exact = std::make_unique<uint8_t[]>(stream.size());
            std::memcpy(exact.get(), stream.data(), stream.size());
            whole.terminal.feed(std::span<const uint8_t>(exact.get(), stream.size()));
            TerminalFixture bytes(spec);
            bytes.feedSplit(stream, {1});
            EXPECT_EQ(dumpCells(whole, true), dumpCells(bytes, true));
            EXPECT_EQ(whole.terminal.getUpdateRange(), bytes.terminal.getUpdateRange());
        }
    }
}

// `pieces` parts picked at random, one after the other.
std::string randomPieces(std::mt19937& random, std::span<const char* const> parts, size_t pieces) {
    std::string out;
    for (size_t i = 0; i < pieces; ++i) {
        out += parts[random() % parts.size()];
    }
    return out;
}

// Text of every kind the print path handles, with sequences between.
std::string randomMixedStream(std::mt19937& random, size_t pieces) {
    static const char* const parts[] = {
        "plain text ",
        "\xe4\xbd\xa0\xe5\xa5\xbd",
        "e\xcc\x81",
        "\xcc\x81",
        "\xf0\x9f\x98\x80",
        "\xe2\x98\xba\xef\xb8\x8f",
        "\xe2\x8c\x9a\xef\xb8\x8e",
        "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",
        "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa\xf0\x9f\x87\xab",
        "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9",
        "\xe2\x80\x8d",
        "\xc3\x41",
        "\xff\x80",
        "\xe2\x82",
        "\xed\xa0\x80",
        "\r\n",
        "\n",
        "\b",
        "\t",
        "\x1b[1;1H",
        "\x1b[2;5H",
        "\x1b[31;1m",
        "\x1b[38;2;1;2;3m",
        "\x1b[0m",
        "\x1b[K",
        "\x1b[1J",
        "\x1b(0lqk\x1b(B",
        "\x0e\x1b)0q\x0f",
        "\x1b[4h",
        "\x1b[4l",
        "\x1b[?7l",
        "\x1b[?7h",
        "\x1b[2;4r",
        "\x1b[r",
        "\x1b[6n",
        "\x07",
    };
    return randomPieces(random, parts, pieces);
}

// Text beyond ASCII as the span writer meets it: runs of narrow and wide characters of every
// UTF-8 length, and around them everything it must leave to the character-at-a-time path
// (joiners, selectors, flags, marks, controls sent as UTF-8, invalid and truncated bytes). No
// '#': the comparison terminal prints through the United Kingdom set.
std::string randomUnicodeStream(std::mt19937& random, size_t pieces) {
    static const char* const parts[] = {
        "ab",
        " ",
        "\xc3\xa9\xc3\xa0",         // two-byte, narrow
        "\xd0\x9f\xd1\x80",         // Cyrillic
        "\xe4\xbd\xa0\xe5\xa5\xbd", // wide
        "\xe2\x94\x80\xe2\x94\xbc", // box drawing, narrow three-byte
        // Every length and both widths, one after the other.
        "\xe2\x94\x80\xe4\xbd\xa0\xe2\x94\xbc\xce\xb1\xf0\x9f\x98\x80\xe2\x86\x92",
        "\xf0\x9f\x98\x80",         // wide, four-byte
        "\xf0\x9d\x90\x80",         // narrow, four-byte
        "\xcc\x81",                 // combining mark
        "o\xcc\x81\xcc\xa3",        // two marks of two classes, joined in turn
        // four-byte wide with its skin tone
        "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",
        "\xe2\x80\x8d",             // zero-width joiner
        "\xef\xb8\x8f",             // VS16
        "\xef\xb8\x8e",             // VS15
        "\xe2\x98\xba",             // text-default emoji
        "\xe2\x8c\x9a",             // wide emoji with a text variant
        "\xf0\x9f\x8f\xb3",         // narrow emoji with an emoji variant
        "\xf0\x9f\x8c\x88",         // rainbow, to follow a joiner
        "\xf0\x9f\x8f\xbd",         // skin tone
        "\xf0\x9f\x87\xa9",         // regional indicator
        "\xf0\x9f\x87\xaa",         // regional indicator
        "\xe1\x84\x80\xe1\x85\xa1", // Hangul jamo L V
        "\xc2\x85",                 // C1 control as UTF-8
        "\xc3\x41",                 // invalid: lead then ASCII
        "\xff",                     // never a lead byte
        "\x80",                     // lone continuation
        "\xe2\x82",                 // truncated
        "\xed\xa0\x80",             // encoded surrogate
        "\xe0\x80\xbf",             // overlong three-byte
        "\xf0\x8f\xbf\xbf",         // overlong four-byte
        "\xf4\x90\x80\x80",         // above U+10FFFF
        "\x7f",                     // DEL
        "\r\n",
        "\b",
        "\x1b[1;9H",
        "\x1b[31m",
        "\x1b[m",
        "\x1b[4h",
        "\x1b[4l",
        "\x1b[?7l",
        "\x1b[?7h",
        "\x1b[?69h\x1b[2;7s",
        "\x1b[?69l",
    };
    return randomPieces(random, parts, pieces);
}

// Feeds the stream whole to `fast` and one byte at a time to `general`: every character beyond
// ASCII is then completed from carried-over bytes and the United Kingdom set sends ASCII one
// character at a time, so nothing reaches the span writer.
void feedFastAndGeneral(TerminalFixture& fast, TerminalFixture& general, std::string_view stream) {
    general.feed("\x1b(A");
    fast.feed(stream);
    for (char byte : stream) {
        general.feed(std::string_view(&byte, 1));
    }
}

// Feeds `stream` as feedFastAndGeneral does and expects the same cells, cursor, wraps and
// change counts from both.
void expectSpanWriterMatchesGeneralPath(const TerminalSpec& spec, std::string_view stream) {
    TerminalFixture fast(spec);
    TerminalFixture general(spec);
    feedFastAndGeneral(fast, general, stream);
    const CellDump want = dumpCells(general, true);
    const CellDump got = dumpCells(fast, true);
    EXPECT_EQ(got.cursor, want.cursor);
    EXPECT_EQ(got.wrapped, want.wrapped);
    EXPECT_EQ(got.generations, want.generations);
    ASSERT_EQ(got.cells.size(), want.cells.size());
    for (size_t i = 0; i < got.cells.size(); ++i) {
        if (got.cells[i] != want.cells[i]) {
            ADD_FAILURE() << "cell " << i << ": " << cellText(fast.terminal, got.cells[i])
                          << " instead of " << cellText(general.terminal, want.cells[i]);
            break;
        }
    }
}

TEST(TerminalPrintProperty, TheSpanWriterWritesWhatTheGeneralPathWrites) {
    std::mt19937 random(5);
    for (int round = 0; round < 80; ++round) {
        SCOPED_TRACE(round);
        const std::string stream = randomUnicodeStream(random, 120);
        expectSpanWriterMatchesGeneralPath(
            {.cols = 9,
             .rows = 4,
             .scrollback = 4,
             .regionalIndicatorWidth =
                 round % 2 == 0 ? RegionalIndicatorWidth::wide : RegionalIndicatorWidth::narrow},
            stream);
    }
}

TEST(TerminalPrintProperty, TheSpanWriterLeavesLeadBytesThatStartNoCharacterToTheGeneralPath) {
    // Bytes that look like leads but start no well-formed character, each among characters the
    // span writer takes, with room after them for a decoder that reads four bytes at once: the
    // general path prints such a lead as the Latin-1 character of its value.
    const char* const streams[] = {
        "ab\xc0\xaf\xce\xb1\xce\xb2\xce\xb3",       // overlong two-byte '/'
        "\xce\xb1\xc1\xbf\xe4\xbd\xa0xyz",          // overlong two-byte DEL
        "\xe4\xbd\xa0\xf5\x80\x80\x80\xe4\xbd\xa0", // a lead above 0xF4
        "ab\xf7\xbf\xbf\xbf\xce\xb1xy",             // the largest four-byte pattern
        "\xce\xb1\xf8\x88\x80\x80\x80\xce\xb1",     // a five-byte lead
    };
    for (const char* stream : streams) {
        SCOPED_TRACE(escaped(stream));
        expectSpanWriterMatchesGeneralPath({.cols = 9, .rows = 4, .scrollback = 4}, stream);
    }
}

TEST(TerminalPrintProperty, TheSameBytesSplitAnyWayGiveTheSameScreen) {
    std::mt19937 random(11);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        const std::string stream = randomMixedStream(random, 80);
        TerminalFixture whole({.cols = 10, .rows = 5, .scrollback = 6});
        whole.feed(stream);
        for (int split = 0; split < 3; ++split) {
            TerminalFixture pieces({.cols = 10, .rows = 5, .scrollback = 6});
            for (size_t at = 0; at < stream.size();) {
                const size_t n =
                    std::min<size_t>(1 + random() % (split == 0 ? 2 : 17), stream.size() - at);
                pieces.feed(std::string_view(stream).substr(at, n));
                at += n;
            }
            EXPECT_EQ(dumpCells(whole, false), dumpCells(pieces, false));
            EXPECT_EQ(whole.host.replies, pieces.host.replies);
            EXPECT_EQ(whole.screen(), pieces.screen());
        }
    }
}

TEST(TerminalPrintProperty, ACharacterWidenedRightOfTheMarginsLeavesTheCursorAsSplitReadsDo) {
    // Autowrap off, margins at columns 1-7 of 9, the cursor right of them in column 9: the
    // character lands on the right margin and a selector widens it into column 8; the cursor
    // stays on the margin, however the bytes arrive.
    const std::string setup = "\x1b[?69h\x1b[;7s\x1b[?7l\x1b[;9H";
    const std::string cases[] = {
        "\xF0\x9F\x8F\xB3\xEF\xB8\x8F", // white flag, VS16
        "\xE2\x9D\xA4\xEF\xB8\x8F",     // heart, VS16
        "e\xCC\x81",                     // a mark: nothing widens
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(escaped(text));
        TerminalFixture whole({.cols = 9, .rows = 3, .scrollback = 0});
        whole.feed(setup + text);
        TerminalFixture bytes({.cols = 9, .rows = 3, .scrollback = 0});
        bytes.feed(setup);
        for (char c : text) {
            bytes.feed(std::string(1, c));
        }
        EXPECT_EQ(dumpCells(whole, false), dumpCells(bytes, false));
        EXPECT_EQ(whole.terminal.buffer().x(), 6);
    }
}

// `count` clusters, no two alike (nor canonically equivalent): a CJK ideograph with two of the
// first 21 combining marks above, of one combining class (seven bytes each), each followed by a
// blank.
std::string distinctClusters(size_t count, size_t first = 0) {
    std::string out;
    for (size_t i = first; i < first + count; ++i) {
        UnicodeUtil::appendUtf8(out, char32_t(0x4E00 + i / (21 * 21)));
        UnicodeUtil::appendUtf8(out, char32_t(0x0300 + i / 21 % 21));
        UnicodeUtil::appendUtf8(out, char32_t(0x0300 + i % 21));
        out += ' ';
    }
    return out;
}

TEST(TerminalPrintClusters, DistinctClustersKeepTheTableWithinWhatTheCellsHold) {
    // 20 x 5 with 10 rows of scrollback holds at most 300 cells; 40,000 distinct clusters
    // (80,000 with the one-mark prefixes) pass through.
    TerminalFixture t({.cols = 20, .rows = 5, .scrollback = 10});
    // A cluster the flood never scrolls away (row 0 is outside the scroll region), and one in
    // the scrollback's oldest row, which the flood pushes out.
    t.feed("x\xcc\x81\xcc\x82\x1b[2;5r\x1b[5;1H");
    const int32_t kept = t.cell(0, 0).code();
    const size_t total = 40000;
    for (size_t sent = 0; sent < total; sent += 5000) {
        t.feed(distinctClusters(5000, sent));
        const ClusterTable& table = t.terminal.clusterTable();
        EXPECT_LE(table.size(), ClusterTable::minimumSweepSize + 1);
        EXPECT_LE(table.joinCount(), 8 * (ClusterTable::minimumSweepSize + 1));
        // Freed codes are handed out again, so a stream without end never runs out of them.
        for (int row = 1; row < 5; ++row) {
            for (int col = 0; col < 20; ++col) {
                EXPECT_LT(t.cell(col, row).code(),
                          CharData::firstInternedCode + int32_t(ClusterTable::minimumSweepSize));
            }
        }
    }
    // The cell that still holds its cluster keeps code and text; printing it again finds it.
    EXPECT_EQ(t.cell(0, 0).code(), kept);
    EXPECT_EQ(t.terminal.character(kept), U"x\u0301\u0302");
    t.feed("\x1b[1;5Hx\xcc\x81\xcc\x82");
    EXPECT_EQ(t.cell(4, 0).code(), kept);
    // The last clusters printed read back as sent (blanks aside: rows break anywhere).
    const auto withoutBlanks = [](std::string text) {
        std::erase(text, ' ');
        std::erase(text, wrapMarker);
        return text;
    };
    std::string shown;
    for (const std::string& row : t.screen()) {
        shown += withoutBlanks(row);
    }
    const std::string last = withoutBlanks(distinctClusters(10, total - 10));
    EXPECT_TRUE(shown.ends_with(last)) << escaped(shown);
}

TEST(TerminalPrintClusters, ClustersPrintedInTheRunThatReclaimsKeepTheirText) {
    // Every cluster stays on the screen or in the scrollback, so the table fills to the size at
    // which it reclaims; the run that crosses it interns several new clusters, and reclaiming
    // in the middle of that run must see the ones the run has already written.
    TerminalFixture t({.cols = 20, .rows = 5, .scrollback = 1000});
    // Ideographs beyond U+FFFF take a code each (two columns, eight to a line).
    const auto ideographs = [](size_t first, size_t count) {
        std::string out;
        for (size_t i = first; i < first + count; ++i) {
            UnicodeUtil::appendUtf8(out, char32_t(0x20000 + i));
        }
        return out;
    };
    size_t sent = 0;
    while (sent + 8 <= ClusterTable::minimumSweepSize - 2) {
        t.feed(ideographs(sent, 8) + "\r\n");
        sent += 8;
    }
    const size_t before = ClusterTable::minimumSweepSize - 2 - sent;
    t.feed(ideographs(sent, before) + "\r\n");
    sent += before;
    ASSERT_EQ(t.terminal.internedCount(), ClusterTable::minimumSweepSize - 2);
    // One run of eight: the third reaches the size at which the table reclaims.
    t.feed(ideographs(sent, 8));
    EXPECT_EQ(t.screen()[4], ideographs(sent, 8));
    EXPECT_EQ(t.screen()[3], ideographs(sent - before, before));
    EXPECT_EQ(t.terminal.internedCount(), ClusterTable::minimumSweepSize + 6);
}

TEST(TerminalPrintClusters, JoinsReadBackAlikeInTablesOfEverySize) {
    // Without cells to mark nothing is reclaimed, so the codes grow past what the join map
    // keeps in a slot of its own; joins decided before, among and after them, and the map grown
    // again in between, all answer as first decided.
    ClusterTable table(nullptr);
    const int32_t early = table.join('e', 0x0301);
    EXPECT_EQ(table.join('a', 'b'), -1); // two letters are two clusters
    for (char32_t i = 0; i < 140000; ++i) {
        table.intern(std::u32string{char32_t(0x100 + i / 512), char32_t(0x100 + i % 512)});
    }
    const int32_t late = table.join('o', 0x0308);
    const int32_t later = table.join(late, 0x0301);
    std::vector<int32_t> lone;
    for (char32_t c = 0x1F300; c < 0x1F300 + 2000; ++c) {
        lone.push_back(table.scalar(c));
    }
    EXPECT_EQ(table.join('e', 0x0301), early);
    EXPECT_EQ(table.join('a', 'b'), -1);
    EXPECT_EQ(table.join('o', 0x0308), late);
    EXPECT_EQ(table.join(late, 0x0301), later);
    ASSERT_NE(table.find(later), nullptr);
    EXPECT_EQ(table.find(later)->text, U"o\u0308\u0301");
    for (char32_t c = 0x1F300; c < 0x1F300 + 2000; ++c) {
        ASSERT_EQ(table.scalar(c), lone[c - 0x1F300]);
        ASSERT_EQ(table.find(lone[c - 0x1F300])->text, std::u32string(1, c));
    }
}

TEST(TerminalPrintClusters, AFullResetFreesEveryCluster) {
    TerminalFixture t({.cols = 20, .rows = 5, .scrollback = 10});
    t.feed(distinctClusters(500) + "\xf0\x9f\x98\x80");
    EXPECT_GT(t.terminal.internedCount(), 500u);
    t.feed("\033c");
    EXPECT_EQ(t.terminal.internedCount(), 0u);
    // Codes are handed out again from the first.
    t.feed("e\xcc\x81");
    EXPECT_EQ(t.cell(0, 0).code(), CharData::firstInternedCode);
    EXPECT_EQ(t.terminal.character(CharData::firstInternedCode), U"e\u0301");
}

TEST(TerminalPrintProperty, ManyDistinctClustersReadBackTheSameOnEveryPath) {
    // Enough distinct clusters, and repeats of earlier ones, that clusters are reclaimed and
    // codes reused in the middle of runs; both terminals must agree on every cell, and every
    // cell must read back what was printed there.
    std::mt19937 random(3);
    const auto pieces = [&](int count) {
        std::string out;
        for (int piece = 0; piece < count; ++piece) {
            switch (random() % 6) {
            case 0:
                out += "\r\n";
                break;
            case 1: // a repeat of a cluster seen before, perhaps long gone
                out += distinctClusters(1, random() % 6000);
                break;
            case 2: // a flag of any two letters, then a family
                UnicodeUtil::appendUtf8(out, char32_t(0x1F1E6 + random() % 26));
                UnicodeUtil::appendUtf8(out, char32_t(0x1F1E6 + random() % 26));
                out += "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9";
                break;
            default:
                out += distinctClusters(3, random() % 40000);
                break;
            }
        }
        return out;
    };
    // The screen is cleared before the last pieces, which a fresh terminal shows alike.
    const std::string last = "\x1b[2J\x1b[H" + pieces(40);
    const std::string stream = pieces(3000) + last;
    const TerminalSpec spec{.cols = 30, .rows = 6, .scrollback = 20};
    TerminalFixture fast(spec);
    TerminalFixture general(spec);
    feedFastAndGeneral(fast, general, stream);
    EXPECT_LE(fast.terminal.internedCount(), ClusterTable::minimumSweepSize + 1);
    // Codes may differ once clusters were reclaimed and their codes reused (a mark keeps what
    // any stored row holds, rows beyond the screen too, which the two paths leave behind
    // differently); the characters and the rest of each cell may not.
    const CellDump want = dumpCells(general, false);
    const CellDump got = dumpCells(fast, false);
    EXPECT_EQ(got.cursor, want.cursor);
    ASSERT_EQ(got.cells.size(), want.cells.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < got.cells.size(); ++i) {
        const std::string shown = cellText(fast.terminal, got.cells[i]);
        const std::string wanted = cellText(general.terminal, want.cells[i]);
        CharData gotRest = got.cells[i];
        CharData wantRest = want.cells[i];
        gotRest.setCode(0);
        wantRest.setCode(0);
        if (shown != wanted || gotRest != wantRest) {
            if (++mismatches <= 3) {
                ADD_FAILURE() << "cell " << i << ": " << shown << " instead of " << wanted;
            }
        }
    }
    TerminalFixture fresh(spec);
    fresh.feed(last);
    EXPECT_EQ(fast.screen(), fresh.screen());
    EXPECT_EQ(general.screen(), fresh.screen());
}

} // namespace
