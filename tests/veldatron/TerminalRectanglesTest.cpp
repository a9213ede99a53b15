#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

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

// ---- Against a cell-by-cell model -------------------------------------------------------------

// The screen as a grid of cells, and each operation done to it one cell at a time, the plain way
// (outside origin mode): what the row-at-a-time code must match on any rectangle.
class CellModel {
public:
    CellModel(TerminalFixture& t, int cols, int rows) : m_t(t), m_cols(cols), m_rows(rows) {
        for (int row = 0; row < rows; ++row) {
            std::vector<CharData>& line = m_cells.emplace_back();
            for (int col = 0; col < cols; ++col) {
                line.push_back(t.cell(col, row));
            }
        }
    }

    // The operation's sequence, done to the model; the rows it writes are marked in `written`.
    std::string apply(char op, const std::vector<int>& p, std::vector<bool>& written) {
        const auto value = [&](size_t i, int fallback) { return i < p.size() ? p[i] : fallback; };
        const auto from = [&](size_t i) {
            return std::vector<int>(p.begin() + int(std::min(i, p.size())), p.end());
        };
        switch (op) {
        case 'v': { // DECCRA
            const std::optional<Terminal::Rectangle> r = rectangle(
                {std::max(value(0, 1), 1), std::max(value(1, 1), 1),
                 value(2, 0) == 0 ? m_rows : value(2, 0), value(3, 0) == 0 ? m_cols : value(3, 0)});
            if (!r || std::max(value(4, 1), 1) != 1 || std::max(value(7, 1), 1) != 1) {
                return "";
            }
            const int top = std::min(std::max(value(5, 1), 1) - 1, m_rows - 1);
            const int left = std::min(std::max(value(6, 1), 1) - 1, m_cols - 1);
            const int width = std::min(r->right - r->left + 1, m_cols - left);
            const std::vector<std::vector<CharData>> before = m_cells;
            for (int k = 0; r->top + k <= r->bottom && top + k < m_rows; ++k) {
                for (int i = 0; i < width; ++i) {
                    m_cells[size_t(top + k)][size_t(left + i)] =
                        before[size_t(r->top + k)][size_t(r->left + i)];
                }
                written[size_t(top + k)] = true;
            }
            return "";
        }
        case 'x': { // DECFRA
            int32_t code = value(0, 0);
            if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code < 0x20 ||
                (code >= 0x7F && code <= 0x9F)) {
                code = ' ';
            }
            forEachCell(rectangle(from(1)), written,
                        [&](CharData& cell) { cell = CharData(current, code, 1); });
            return "";
        }
        case 'z': // DECERA
            forEachCell(rectangle(p), written,
                        [&](CharData& cell) { cell = CharData(current, ' ', 1); });
            return "";
        case '{': // DECSERA
            forEachCell(rectangle(p), written, [](CharData& cell) { cell.setValue(' ', 1); });
            return "";
        case 'y': { // DECRQCRA
            uint32_t sum = 0;
            if (p.size() >= 3) {
                std::vector<bool> read(static_cast<size_t>(m_rows));
                forEachCell(rectangle(from(2)), read, [&](CharData& cell) {
                    if (cell.code() == 0) {
                        sum += 32;
                        return;
                    }
                    for (char32_t scalar : m_t.terminal.getCharacter(cell)) {
                        sum += uint32_t(scalar);
                    }
                });
            }
            char digits[8];
            std::snprintf(digits, sizeof digits, "%04x", unsigned(sum & 0xFFFF));
            return "\\x1bP" + std::to_string(value(0, 1)) + "!~" + digits + "\\x1b\\\\";
        }
        }
        return "";
    }

    const CharData& cell(int col, int row) const { return m_cells[size_t(row)][size_t(col)]; }

    // The current attribute the fixture sets before the operations.
    static inline const Attribute current{CellColor::ansi256(1), CellColor::ansi256(4),
                                          CharacterStyle::bold};

private:
    std::optional<Terminal::Rectangle> rectangle(const std::vector<int>& p) const {
        const auto given = [&](size_t i) { return i < p.size(); };
        const int top = given(0) && p[0] >= 2 ? p[0] : 1;
        const int left = given(1) && p[1] >= 2 ? p[1] : 1;
        const int bottom = std::min(given(2) && p[2] >= 0 ? p[2] : m_rows, m_rows);
        const int right = std::min(given(3) && p[3] >= 0 ? p[3] : m_cols, m_cols);
        if (bottom < top || right < left) {
            return std::nullopt;
        }
        return Terminal::Rectangle{std::min(top - 1, m_rows - 1), std::min(left - 1, m_cols - 1),
                                   bottom - 1, right - 1};
    }

    template <typename F>
    void forEachCell(const std::optional<Terminal::Rectangle>& r, std::vector<bool>& rows, F f) {
        if (!r) {
            return;
        }
        for (int row = r->top; row <= r->bottom; ++row) {
            for (int col = r->left; col <= r->right; ++col) {
                f(m_cells[size_t(row)][size_t(col)]);
            }
            rows[size_t(row)] = true;
        }
    }

    TerminalFixture& m_t;
    int m_cols;
    int m_rows;
    std::vector<std::vector<CharData>> m_cells;
};

// Random text, colours, wide characters, clusters and links, one screen row after another.
std::string randomScreen(std::mt19937& random, int rows) {
    static const char* const pieces[] = {
        "a",
        "Z",
        "7",
        "~",
        " ",
        "\xe4\xb8\xad",
        "\xf0\x9f\x98\x80",
        "e\xcc\x81",
        "\x1b[31m",
        "\x1b[4;44m",
        "\x1b[38;2;1;2;3m",
        "\x1b[m",
        "\x1b]8;;https://example.invalid\x1b\\",
        "\x1b]8;;\x1b\\",
    };
    std::string out;
    for (int row = 1; row <= rows; ++row) {
        out += "\x1b[" + std::to_string(row) + "H";
        for (int n = int(random() % 40); n > 0; --n) {
            out += pieces[random() % std::size(pieces)];
        }
    }
    return out + "\x1b]8;;\x1b\\";
}

TEST(TerminalRectangles, EveryOperationMatchesTheCellByCellModel) {
    const std::pair<int, int> sizes[] = {{9, 6}, {37, 11}};
    const std::pair<char, std::string> operations[] = {
        {'v', "$v"}, {'x', "$x"}, {'z', "$z"}, {'{', "${"}, {'y', "*y"}};
    std::mt19937 random(25);
    for (const auto& [cols, rows] : sizes) {
        TerminalFixture t({.cols = cols, .rows = rows});
        // Coordinates inside, at and past the edges, zero and the largest value.
        const auto coordinate = [&](int extent) {
            const unsigned pick = random() % 10;
            return pick == 0 ? 0 : pick == 1 ? 65535 : 1 + int(random() % unsigned(extent + 2));
        };
        // A few operations on each of many screens: erasing soon leaves nothing to tell apart.
        for (int screen = 0; screen < 150; ++screen) {
            t.feed("\x1b[m" + randomScreen(random, rows) + "\x1b[0;1;31;44m");
            t.takeReplies();
            CellModel model(t, cols, rows);
            for (int step = 0; step < 4; ++step) {
                const auto& [op, final] = operations[random() % std::size(operations)];
                std::vector<int> p;
                if (op == 'x') {
                    const int32_t fills[] = {'#', 0x263A, 0xFF5E, 0xD800, 27, 0x9B};
                    p.push_back(fills[random() % std::size(fills)]);
                } else if (op == 'y') {
                    p = {1 + int(random() % 9), 1};
                }
                for (size_t i = 0; i < 4; ++i) {
                    p.push_back(coordinate(i % 2 == 0 ? rows : cols));
                }
                if (op == 'v') {
                    const bool otherPage = random() % 12 == 0;
                    p.insert(p.end(), {otherPage ? 2 : 1, coordinate(rows), coordinate(cols), 1});
                }
                // Sometimes the trailing parameters are left out.
                if (random() % 4 == 0) {
                    p.resize(random() % (p.size() + 1));
                }
                std::string sequence = "\x1b[";
                for (size_t i = 0; i < p.size(); ++i) {
                    sequence += (i > 0 ? ";" : "") + std::to_string(p[i]);
                }
                sequence += final;
                SCOPED_TRACE(escaped(sequence));

                std::vector<uint64_t> generations;
                for (int row = 0; row < rows; ++row) {
                    generations.push_back(t.line(row).generation());
                }
                std::vector<bool> written(static_cast<size_t>(rows));
                const std::string reply = model.apply(op, p, written);
                t.feed(sequence);
                EXPECT_EQ(t.takeReplies(), reply);
                for (int row = 0; row < rows; ++row) {
                    for (int col = 0; col < cols; ++col) {
                        ASSERT_EQ(t.cell(col, row), model.cell(col, row))
                            << "column " << col << ", row " << row;
                    }
                    EXPECT_EQ(t.line(row).generation() != generations[size_t(row)],
                              bool(written[size_t(row)]))
                        << "row " << row;
                }
            }
        }
    }
}

// Whole-screen operations repeated for as long as a program likes, in the pty's reads: each a
// few bytes, each over every cell of a large screen.
TEST(TerminalRectangles, RepeatedWholeScreenOperationsOnALargeScreen) {
    constexpr int cols = 400;
    constexpr int rows = 120;
    constexpr int repeats = 500;
    TerminalFixture t({.cols = cols, .rows = rows, .scrollback = 0});
    const auto letter = [](int col, int row) { return int32_t('A' + (col + 3 * row) % 26); };
    std::string screen = "\x1b[4m";
    for (int row = 0; row < rows; ++row) {
        screen += "\x1b[" + std::to_string(row + 1) + "H";
        for (int col = 0; col < cols; ++col) {
            screen += char(letter(col, row));
        }
    }
    t.feed(screen);
    const auto repeated = [](const std::string& sequence) {
        std::string out;
        for (int i = 0; i < repeats; ++i) {
            out += sequence;
        }
        return out;
    };

    // Copying the screen one cell down and right, again and again: each cell ends up with the
    // letter at the top or left edge of its diagonal.
    t.feedSplit(repeated("\x1b[1;1;65535;65535;1;2;2;1$v"), {65536});
    uint32_t sum = 0;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            const int back = std::min({repeats, row, col});
            ASSERT_EQ(t.cell(col, row).code(), letter(col - back, row - back))
                << "column " << col << ", row " << row;
            sum += uint32_t(letter(col - back, row - back));
        }
    }

    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04x", unsigned(sum & 0xFFFF));
    t.feedSplit(repeated("\x1b[1;1;1;1;65535;65535*y"), {65536});
    EXPECT_EQ(t.takeReplies(), repeated(std::string("\\x1bP1!~") + checksum + "\\x1b\\\\"));

    t.feedSplit(repeated("\x1b[1;1;65535;65535${"), {65536});
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            const CharData& cell = t.cell(col, row);
            ASSERT_EQ(cell.code(), ' ');
            ASSERT_TRUE(cell.attribute().style().contains(CharacterStyle::underline));
        }
    }
}

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
