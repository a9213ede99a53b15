#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

std::string rowString(Terminal& terminal, int row, int start, int end) {
    std::string out;
    for (char32_t c : terminal.translateBufferLineToString(terminal.buffer(), row, start, end)) {
        UnicodeUtil::appendUtf8(out, c);
    }
    return out;
}

std::string describe(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& line : lines) {
        out += line.debugDescription() + "|";
    }
    return out;
}

std::string bytes(const std::vector<uint8_t>& data) {
    return escaped(std::string(data.begin(), data.end()));
}

} // namespace

TEST(TerminalText, RowText) {
    struct Case {
        const char* name;
        std::string printed;
        int start;
        int end;
        std::string expected;
    };
    const Case cases[] = {
        {"letters, then empty cells left out", "ab", 0, -1, "ab"},
        {"from a column past the text", "ab", 5, -1, ""},
        {"a wide character's empty half adds nothing", "\xe4\xb8\xadx", 0, -1, "\xe4\xb8\xadx"},
        {"an empty cell between letters is a space", "a\x1b[Cb", 0, -1, "a b"},
        {"printed spaces stay, as they are not empty cells", "a  b  ", 0, -1, "a  b  "},
        {"a column range", "hello", 1, 3, "el"},
        {"an end beyond the text", "hello", 0, 70, "hello"},
        {"a combining mark stays with its letter", "e\xcc\x81x", 0, -1, "e\xcc\x81x"},
        {"an emoji sequence is one character", "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb!", 0,
         -1, "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb!"},
        {"starting on a wide character's empty half", "\xe4\xb8\xadx", 1, -1, "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 20, .rows = 3});
        t.feed(c.printed);
        EXPECT_EQ(rowString(t.terminal, 0, c.start, c.end), c.expected);
    }
}

TEST(TerminalText, SelectedLinesJoinWrappedRowsAndBreakOthers) {
    TerminalFixture t({.cols = 10, .rows = 4});
    t.feed("0123456789abcdefghij\r\nABCDEFG");
    ASSERT_EQ(t.screen(), (Rows{"0123456789", "~abcdefghij", "ABCDEFG", ""}));

    const auto lines = t.terminal._getSelectedLines({3, 0}, {2, 2}, t.terminal.buffer());
    EXPECT_EQ(describe(lines), "3/18: [3456789][abcdefghij][\\n][|1/2: [AB][|");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].fragments()[0], (LineFragment{"3456789", 0, 3, 7}));
    EXPECT_EQ(lines[0].fragments()[2], (LineFragment{"\n", 1, -1, 1}));
    EXPECT_EQ(t.terminal.getText({3, 0}, {2, 2}), "3456789abcdefghij\nAB");
}

TEST(TerminalText, BlankRows) {
    struct Case {
        const char* name;
        Rows rows;
        Position start;
        Position end;
        std::string expected;
    };
    const Case cases[] = {
        {"trailing blank rows leave nothing", {"a", "", ""}, {0, 0}, {5, 2}, "a"},
        {"a blank row between rows with text is an empty line",
         {"a", "", "b"},
         {0, 0},
         {5, 2},
         "a\n\nb"},
        {"a first blank row starts with a line break", {"", "b"}, {0, 0}, {5, 1}, "\nb"},
        {"two blank rows between", {"a", "", "", "b"}, {0, 0}, {5, 3}, "a\n\n\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = 10, .rows = 5});
        t.feed(writeRows(c.rows));
        EXPECT_EQ(t.terminal.getText(c.start, c.end), c.expected);
    }

    // A background colour is content: the row is not blank.
    TerminalFixture t({.cols = 10, .rows = 5});
    t.feed("a\r\n\x1b[41m\x1b[K\x1b[m\r\n");
    EXPECT_EQ(t.terminal.getText({0, 0}, {5, 2}), "a\n");
}

TEST(TerminalText, FragmentLengthsCountCharacters) {
    TerminalFixture t({.cols = 20, .rows = 3});
    // A decomposed letter, a wide character and an emoji sequence: one character each.
    t.feed("e\xcc\x81\xe4\xb8\xad\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbbz");
    const auto lines = t.terminal._getSelectedLines({0, 0}, {20, 0}, t.terminal.buffer());
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].fragments().size(), 1u);
    EXPECT_EQ(lines[0].fragments()[0].length, 4);
    EXPECT_EQ(lines[0].length(), 4);
}

TEST(TerminalText, GetTextOrdersAndBoundsItsPositions) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("abcdef\r\nghijkl");
    struct Case {
        const char* name;
        Position start;
        Position end;
        std::string expected;
    };
    const Case cases[] = {
        {"in reading order", {2, 0}, {3, 1}, "cdef\nghi"},
        {"swapped", {3, 1}, {2, 0}, "cdef\nghi"},
        {"equal positions", {2, 1}, {2, 1}, ""},
        {"a start row at the line count", {0, 3}, {5, 3}, ""},
        {"a negative start row", {0, -1}, {5, 1}, ""},
        {"an end row past the last line reads to the last line", {0, 1}, {4, 99}, "ghijkl"},
        {"a huge end column reads the whole row", {1, 0}, {INT64_MAX, 0}, "bcdef"},
        {"a negative end column reads nothing of its row", {4, 0}, {-5, 1}, "ef\n"},
        {"a negative start column reads from the row's start", {-7, 0}, {3, 0}, "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(t.terminal.getText(c.start, c.end), c.expected);
    }
}

TEST(TerminalText, BufferAsData) {
    {
        TerminalFixture t({.cols = 10, .rows = 3});
        t.feed("word");
        EXPECT_EQ(
            bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active, StringEncoding::utf8)),
            "word\\x0a\\x0a\\x0a");
    }
    {
        // A line the encoding cannot hold is left out with its line feed; wrapped rows stay
        // separate lines.
        TerminalFixture t({.cols = 4, .rows = 4});
        t.feed("abc\r\n\xe4\xb8\xad\r\ndefgh");
        EXPECT_EQ(
            bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active, StringEncoding::ascii)),
            "abc\\x0adefg\\x0ah\\x0a");
        EXPECT_EQ(bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active,
                                                   StringEncoding::isoLatin1)),
                  "abc\\x0adefg\\x0ah\\x0a");
        EXPECT_EQ(
            bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active, StringEncoding::utf8)),
            "abc\\x0a\\xe4\\xb8\\xad\\x0adefg\\x0ah\\x0a");
    }
    {
        // Latin-1 holds "é" as one byte; UTF-16 writes the line feed as a whole unit, no BOM.
        TerminalFixture t({.cols = 4, .rows = 1});
        t.feed("\xc3\xa9\xe4\xb8\xad");
        EXPECT_EQ(bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active,
                                                   StringEncoding::utf16LittleEndian)),
                  "\\xe9\\x00-N\\x0a\\x00");
        EXPECT_EQ(bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active,
                                                   StringEncoding::utf16BigEndian)),
                  "\\x00\\xe9N-\\x00\\x0a");
        EXPECT_EQ(bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active,
                                                   StringEncoding::isoLatin1)),
                  "");
        t.feed("\x1b[H\x1b[Kx\xc3\xa9");
        EXPECT_EQ(bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active,
                                                   StringEncoding::isoLatin1)),
                  "x\\xe9\\x0a");
    }
    {
        // Each screen by its kind; the active one is the alternate screen here.
        TerminalFixture t({.cols = 10, .rows = 2, .scrollback = 0});
        t.feed("normal\x1b[?1049h\x1b[Halt");
        EXPECT_EQ(
            bytes(t.terminal.getBufferAsData(Terminal::BufferKind::normal, StringEncoding::utf8)),
            "normal\\x0a\\x0a");
        EXPECT_EQ(
            bytes(t.terminal.getBufferAsData(Terminal::BufferKind::alt, StringEncoding::utf8)),
            "alt\\x0a\\x0a");
        EXPECT_EQ(
            bytes(t.terminal.getBufferAsData(Terminal::BufferKind::active, StringEncoding::utf8)),
            "alt\\x0a\\x0a");
    }
}
