// The link at a cell: OSC 8 runs, and links detected in the text of a logical line (wrapped rows,
// or rows that only look continued at the right edge), mapped back to the cells they cover.
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veldatron {
namespace {

using testing::TerminalFixture;
using RowRange = LinkMatch::RowRange;

std::string osc8(std::string_view payload) {
    return "\x1b]8;" + std::string(payload) + "\x1b\\";
}

// "row:start-end" for each row a link covers.
std::vector<std::string> rowRanges(const LinkMatch& match) {
    std::vector<std::string> out;
    for (const RowRange& r : match.rowRanges) {
        out.push_back(std::to_string(r.row) + ":" + std::to_string(r.range.start) + "-" +
                      std::to_string(r.range.end));
    }
    return out;
}

} // namespace

void PrintTo(const LinkMatch& match, std::ostream* out) {
    *out << "\"" << match.text << "\" at row " << match.row;
    for (const std::string& range : rowRanges(match)) {
        *out << " " << range;
    }
}

namespace {

TEST(TerminalLinks, AnOscEightLinkIsTheRunOfCellsWithItsPayload) {
    TerminalFixture t({.cols = 20, .rows = 4});
    t.feed("abcd" + osc8("id=1;http://a.example/x;y") + "lin\u65e5" + osc8(";") + " " +
           osc8(";https://b.example/") + "B" + osc8(";https://c.example/") + "C" + osc8(";") +
           "\r\n" + osc8("no-separator") + "https://d.example/" + osc8(";"));
    Buffer& buffer = t.terminal.buffer();
    for (const int col : {4, 6, 7, 8}) {
        SCOPED_TRACE(col);
        const std::optional<LinkMatch> match =
            t.terminal.explicitLinkMatch(Position{col, 0}, buffer);
        ASSERT_TRUE(match);
        EXPECT_EQ(match->text, "http://a.example/x;y");
        EXPECT_EQ(match->range, (ColumnRange{4, 9}));
        EXPECT_TRUE(match->isExplicit);
        EXPECT_THAT(rowRanges(*match), ::testing::ElementsAre("0:4-9"));
    }
    // Adjacent links with different payloads stay apart.
    EXPECT_EQ(t.terminal.explicitLinkMatch(Position{10, 0}, buffer)->range, (ColumnRange{10, 11}));
    EXPECT_EQ(t.terminal.explicitLinkMatch(Position{11, 0}, buffer)->text, "https://c.example/");
    EXPECT_EQ(t.terminal.explicitLinkMatch(Position{9, 0}, buffer), std::nullopt);
    EXPECT_EQ(t.terminal.payloadCode(Position{9, 0}, buffer), std::nullopt);
    EXPECT_EQ(t.terminal.payloadCode(Position{8, 0}, buffer),
              t.terminal.payloadCode(Position{7, 0}, buffer));

    // A payload without a URI is no explicit link; the text itself still is a detected one.
    EXPECT_EQ(t.terminal.explicitLinkMatch(Position{3, 1}, buffer), std::nullopt);
    EXPECT_EQ(t.terminal.link(LinkLookupLocation::buffer({3, 1}), LinkLookupMode::explicitOnly),
              std::nullopt);
    EXPECT_EQ(
        t.terminal.link(LinkLookupLocation::buffer({3, 1}), LinkLookupMode::explicitAndImplicit),
        "https://d.example/");
    EXPECT_EQ(t.terminal.link(LinkLookupLocation::buffer({5, 0}), LinkLookupMode::explicitOnly),
              "http://a.example/x;y");
}

TEST(TerminalLinks, ScreenLocationsCountFromTheTopVisibleRow) {
    TerminalFixture t({.cols = 40, .rows = 4, .scrollback = 50});
    t.feed("x\r\nsee https://example.org/a\r\n");
    for (int i = 0; i < 20; ++i) {
        t.feed("line\r\n");
    }
    Buffer& buffer = t.terminal.buffer();
    buffer.setYDisp(1);
    EXPECT_EQ(t.terminal.resolveLinkLocation(LinkLookupLocation::screen({6, 0}), buffer),
              (Position{6, 1}));
    EXPECT_EQ(
        t.terminal.link(LinkLookupLocation::screen({6, 0}), LinkLookupMode::explicitAndImplicit),
        "https://example.org/a");
    EXPECT_EQ(t.terminal.resolveLinkLocation(LinkLookupLocation::buffer({99, -5}), buffer),
              (Position{39, 0}));
    EXPECT_EQ(t.terminal.resolveLinkLocation(LinkLookupLocation::screen({-1, 500}), buffer),
              (Position{0, buffer.lines().count() - 1}));
}

TEST(TerminalLinks, DetectedLinks) {
    struct Case {
        const char* name;
        int cols;
        std::string text; // fed from the top-left corner
        int col;          // the cell looked up
        int row;
        std::string link; // empty: none
        std::vector<std::string> rows = {};
    };
    const Case cases[] = {
        {"http with a query",
         40,
         "see http://example.com/a?b=1 now",
         10,
         0,
         "http://example.com/a?b=1",
         {"0:4-28"}},
        {"https without the sentence's full stop",
         40,
         "at https://x.org/p.",
         5,
         0,
         "https://x.org/p",
         {"0:3-18"}},
        {"a closing bracket and comma end it",
         40,
         "(https://x.org/p), more",
         3,
         0,
         "https://x.org/p",
         {"0:1-16"}},
        {"a bracketed word inside belongs to it",
         40,
         "https://w.org/wiki/Foo_(bar) x",
         2,
         0,
         "https://w.org/wiki/Foo_(bar)",
         {"0:0-28"}},
        {"square brackets around it", 40, "[http://x.y/z]", 5, 0, "http://x.y/z", {"0:1-13"}},
        {"file", 40, "open file:///tmp/a.txt", 9, 0, "file:///tmp/a.txt", {"0:5-22"}},
        {"mailto", 40, "mail mailto:me@example.com.", 20, 0, "mailto:me@example.com", {"0:5-26"}},
        {"a relative path", 40, "wrote ./build/out.log", 8, 0, "./build/out.log", {"0:6-21"}},
        {"a home path", 40, "cat ~/notes.txt", 4, 0, "~/notes.txt", {"0:4-15"}},
        {"not after a dollar sign", 40, "price$/usr/lib/x.so", 8, 0, ""},
        {"whitespace beside a link", 40, "see http://example.com/a now", 3, 0, ""},
        {"wide characters before and after",
         40,
         "\u65e5\u672c http://example.com/x \u8a9e",
         10,
         0,
         "http://example.com/x",
         {"0:5-25"}},
        {"a wide character inside",
         40,
         "\u65e5http://x.org/\u8a9e z",
         16,
         0,
         "http://x.org/\u8a9e",
         {"0:2-17"}},
        {"a character outside the BMP before it",
         40,
         "\U0001F600 http://x.org",
         5,
         0,
         "http://x.org",
         {"0:3-15"}},
        {"wrapped over two rows",
         20,
         "get https://example.com/a/b/c/d/ef ok",
         3,
         1,
         "https://example.com/a/b/c/d/ef",
         {"0:4-20", "1:0-14"}},
        {"wrapped over three rows",
         10,
         "https://example.com/abc/def x",
         5,
         1,
         "https://example.com/abc/def",
         {"0:0-10", "1:0-10", "2:0-7"}},
        {"continued at the right edge without a wrap",
         20,
         "see https://example.\r\ncom/path ok",
         2,
         1,
         "https://example.com/path",
         {"0:4-20", "1:0-8"}},
        {"an upper row that ends early is not continued", 40, "see https://example.\r\ncom/path ok",
         2, 1, ""},
        // One column between the margins: the wide character wraps into the last column,
        // which has no room for its right half.
        {"a wide character without its right half",
         8,
         "\x1b[?69h\x1b[8s/usr/ab\xe4\xb8\xad",
         7,
         1,
         "/usr/ab\xe4\xb8\xad",
         {"0:0-7", "1:7-8"}},
        {"an indented continuation joins without the indentation",
         20,
         "ls /usr/share/doc/ab\r\n   cd/readme.txt",
         5,
         1,
         "/usr/share/doc/abcd/readme.txt",
         {"0:3-20", "1:3-16"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t({.cols = c.cols, .rows = 5});
        t.feed(c.text);
        const std::optional<LinkMatch> match =
            t.terminal.implicitLinkMatch(Position{c.col, c.row}, t.terminal.buffer());
        if (c.link.empty()) {
            EXPECT_EQ(match, std::nullopt);
            continue;
        }
        ASSERT_TRUE(match);
        EXPECT_EQ(match->text, c.link);
        EXPECT_FALSE(match->isExplicit);
        EXPECT_EQ(match->row, c.row);
        EXPECT_EQ(rowRanges(*match), c.rows);
        for (const RowRange& r : match->rowRanges) {
            if (r.row == c.row) {
                EXPECT_EQ(match->range, r.range);
            }
        }
    }
}

// A long run of path characters without a dot makes the pattern's lookaheads scan to the end of
// the line from every position: seconds for a line like this one. The lookup gives up within
// its time limit, and then reports no link, even one the full search would find.
TEST(TerminalLinks, APathologicalLineFindsNoLinkWithinTheTimeLimit) {
    const std::string url = " http://example.com/x";
    for (const size_t run : {size_t(20), size_t(80000)}) {
        SCOPED_TRACE(run);
        TerminalFixture t({.cols = 100, .rows = 5, .scrollback = 1000});
        t.feed(std::string(run, '~') + url);
        Buffer& buffer = t.terminal.buffer();
        const int last = buffer.yBase() + buffer.y();
        const Position onUrl{buffer.x() - 3, last};
        const std::optional<LinkMatch> match = t.terminal.implicitLinkMatch(onUrl, buffer);
        if (run == 20) {
            ASSERT_TRUE(match) << "the control: a short run leaves the link to be found";
            EXPECT_EQ(match->text, "http://example.com/x");
        } else {
            ASSERT_GT(last, 700) << "one logical line over hundreds of wrapped rows";
            EXPECT_EQ(match, std::nullopt);
        }
    }
}

} // namespace
} // namespace veldatron
