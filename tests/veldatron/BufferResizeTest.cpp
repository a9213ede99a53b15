#include "Buffer.h"
#include "BufferFixture.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

// `n` characters of a recognisable sequence starting at `from`.
std::string letters(int n, int from = 0) {
    static const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string text;
    for (int i = 0; i < n; ++i) {
        text.push_back(alphabet[size_t(from + i) % alphabet.size()]);
    }
    return text;
}

// Logical lines without the empty ones at the end (blank rows come and go with the screen).
Rows content(Buffer& buffer) {
    Rows lines = logicalLines(buffer);
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

} // namespace

TEST(BufferResize, WideningJoinsAndNarrowingSplitsAWrappedLine) {
    const std::string line = letters(100);
    auto buffer = makeBuffer({.cols = 80, .rows = 5, .scrollback = 100},
                             {line.substr(0, 80), "~" + line.substr(80), "next"});
    buffer->setY(3);

    buffer->resize(120, 5);
    EXPECT_EQ(dumpRows(*buffer), (Rows{line, "next", "", "", ""}));
    EXPECT_EQ(cursorText(*buffer), "0,2 base=0 disp=0") << "the cursor stays on its (blank) row";

    buffer->resize(80, 5);
    EXPECT_EQ(dumpRows(*buffer), (Rows{line.substr(0, 80), "~" + line.substr(80), "next", "", ""}));
    EXPECT_EQ(cursorText(*buffer), "0,3 base=0 disp=0");
    for (int i = 0; i < buffer->lines().count(); ++i) {
        EXPECT_EQ(buffer->lines()[i].count(), 80);
    }
}

TEST(BufferResize, AWideCharacterAtTheNewEdgeMovesWhole) {
    auto buffer =
        makeBuffer({.cols = 80, .rows = 4, .scrollback = 10}, {letters(78) + "世", "after"});
    buffer->setY(3);
    buffer->resize(79, 4);
    EXPECT_EQ(dumpRows(*buffer, 0, 3), (Rows{letters(78), "~世", "after"}));
    EXPECT_EQ(buffer->lines()[0][78], CharData::Null);
    EXPECT_EQ(buffer->lines()[1][1].width(), 0);

    buffer->resize(80, 4);
    EXPECT_EQ(dumpRows(*buffer, 0, 2), (Rows{letters(78) + "世", "after"}));
}

// The terminal rewrites the cursor's line after a resize, so reflow leaves it exactly as it was.
TEST(BufferResize, TheCursorsLineIsNeverReflowed) {
    const Rows text{letters(80), "~" + letters(20, 80)};
    for (int width : {120, 40}) {
        SCOPED_TRACE(width);
        auto buffer =
            makeBuffer({.cols = 80, .rows = 4, .scrollback = 10}, {text[0], text[1], "below"});
        buffer->setY(1);
        buffer->setX(5);
        buffer->resize(width, 4);
        const Rows expected = width > 80 ? Rows{text[0], text[1], "below"}
                                         : Rows{text[0].substr(0, 40), text[1], "below"};
        EXPECT_EQ(dumpRows(*buffer, 0, 3), expected);
        EXPECT_EQ(cursorText(*buffer), "5,1 base=0 disp=0");
    }
}

TEST(BufferResize, TheAlternateScreenNeverReflows) {
    auto buffer = makeBuffer({.cols = 80, .rows = 3}, {letters(80), "~" + letters(10)});
    buffer->resize(40, 3);
    EXPECT_EQ(dumpRows(*buffer), (Rows{letters(80), "~" + letters(10), ""}))
        << "rows keep cells beyond the new width";
    EXPECT_EQ(buffer->lines()[0].count(), 80);
    buffer->resize(100, 3);
    EXPECT_EQ(dumpRows(*buffer), (Rows{letters(80), "~" + letters(10), ""}));
    EXPECT_EQ(buffer->lines()[1].count(), 100);
    EXPECT_EQ(buffer->lines()[1][99], CharData::Null);
}

TEST(BufferResize, Rows) {
    struct Case {
        const char* name;
        int history;
        int cursorY;
        int newRows;
        const char* cursor;
        int count;
    };
    const Case cases[] = {
        {"growing takes rows back from the history", 100, 5, 30, "0,11 base=94 disp=94", 124},
        {"growing without history adds blank rows", 0, 5, 30, "0,5 base=0 disp=0", 30},
        {"shrinking drops rows below the cursor", 0, 3, 24, "0,3 base=0 disp=0", 24},
        {"shrinking with the cursor on the last row scrolls", 0, 29, 24, "0,23 base=6 disp=6", 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int oldRows = c.newRows == 30 ? 24 : 30;
        auto buffer = makeBuffer({.cols = 10, .rows = oldRows, .scrollback = 200});
        for (int i = 0; i < c.history; ++i) {
            scrollWholeScreen(*buffer, false);
        }
        for (int i = 0; i < buffer->lines().count(); ++i) {
            writeText(buffer->lines()[i], 0, std::to_string(i));
        }
        buffer->setY(c.cursorY);
        const std::string cursorLine = rowText(buffer->lines()[buffer->yBase() + buffer->y()]);

        buffer->resize(10, c.newRows);
        EXPECT_EQ(cursorText(*buffer), c.cursor);
        EXPECT_EQ(buffer->lines().count(), c.count);
        EXPECT_EQ(buffer->scrollBottom(), c.newRows - 1);
        EXPECT_EQ(rowText(buffer->lines()[buffer->yBase() + buffer->y()]), cursorLine);
    }
}

TEST(BufferResize, TabStopsFollowTheWidth) {
    auto buffer = makeBuffer({.cols = 80, .rows = 2});
    buffer->resize(40, 2);
    EXPECT_EQ(buffer->tabStops().size(), 40u);
    buffer->resize(100, 2);
    EXPECT_EQ(buffer->tabStops().size(), 100u);
    EXPECT_EQ(tabStopColumns(*buffer), (std::vector<int>{0, 8, 16, 24, 32}))
        << "new columns have no stops until the terminal sets them";
    buffer->setupTabStops(40, 8);
    EXPECT_EQ(tabStopColumns(*buffer).back(), 96);
}

TEST(BufferResize, CursorMarginsAndSavedCursorAreClamped) {
    auto buffer = makeBuffer({.cols = 80, .rows = 10, .scrollback = 10});
    buffer->setMarginLeft(50);
    buffer->setMarginRight(70);
    buffer->setScrollTop(2);
    buffer->setX(75);
    buffer->savedX = 79;
    buffer->resize(40, 5);
    EXPECT_EQ(buffer->marginLeft(), 39);
    EXPECT_EQ(buffer->marginRight(), 39);
    EXPECT_EQ(buffer->x(), 39);
    EXPECT_EQ(buffer->savedX, 39);
    EXPECT_EQ(buffer->scrollTop(), 0);
    EXPECT_EQ(buffer->scrollBottom(), 4);
}

// A full ring cannot grow: the rows a narrowing adds push the oldest out.
TEST(BufferResize, AFullRingDropsItsOldestRows) {
    auto buffer = makeBuffer({.cols = 20, .rows = 3, .scrollback = 2},
                             {"oldest", letters(20), "~" + letters(5, 20), "x", "y"});
    ASSERT_TRUE(buffer->lines().isFull());
    buffer->setY(2);
    buffer->resize(10, 3);
    EXPECT_EQ(buffer->lines().count(), 5);
    EXPECT_EQ(dumpRows(*buffer),
              (Rows{letters(10), "~" + letters(10, 10), "~" + letters(5, 20), "x", "y"}));
    EXPECT_EQ(cursorText(*buffer), "0,2 base=2 disp=2");
}

// Narrowing then widening back restores every logical line, wide characters at the wrap
// boundary included, and leaves the cursor on its text.
TEST(BufferResize, RoundTripsRestoreTheLogicalLines) {
    const Rows lines{"$ " + letters(100),
                     "short",
                     letters(79) + "界" + letters(40, 3),
                     "世界" + letters(60) + "你好吗" + letters(15),
                     "",
                     letters(80),
                     letters(160, 5),
                     "$ "};
    for (int via : {120, 40, 79, 33, 81}) {
        SCOPED_TRACE(via);
        Rows rows;
        for (const std::string& line : lines) {
            const Rows wrapped = wrapRows(line, 80);
            rows.insert(rows.end(), wrapped.begin(), wrapped.end());
        }
        auto buffer = makeBuffer({.cols = 80, .rows = 6, .scrollback = 100}, rows);
        ASSERT_EQ(content(*buffer), lines);
        buffer->setY(buffer->lines().count() - 1 - buffer->yBase());
        buffer->setX(2);

        buffer->resize(via, 6);
        EXPECT_EQ(content(*buffer), lines);
        buffer->resize(80, 6);
        EXPECT_EQ(content(*buffer), lines);
        EXPECT_EQ(dumpRows(*buffer), rows);
        EXPECT_EQ(rowText(buffer->lines()[buffer->yBase() + buffer->y()]), "$ ");
        EXPECT_EQ(buffer->x(), 2);
    }
}

// Random screens narrowed and widened back: every logical line comes back, and the cursor is on
// the same text. The cursor's own line is short (a prompt): reflow leaves it alone and cuts it to
// the narrow width, so a long one would lose its end by design.
TEST(BufferResize, NarrowThenWidenKeepsTextAndCursor) {
    std::mt19937 random(7);
    const std::u32string wide = U"世界你好吗😀";
    for (int round = 0; round < 2000; ++round) {
        const int cols = 6 + int(random() % 30);
        const int rows = 2 + int(random() % 8);
        const int narrow = 3 + int(random() % (cols - 3));
        Rows lines;
        for (int n = 1 + int(random() % 20); n > 0; --n) {
            std::string line;
            for (int length = int(random() % (3 * cols)); length > 0; --length) {
                if (random() % 6 == 0) {
                    UnicodeUtil::appendUtf8(line, wide[random() % wide.size()]);
                } else {
                    line.push_back(char('a' + random() % 26));
                }
            }
            lines.push_back(line);
        }
        // The cursor's line, among the last few (a program's prompt or status line, with its text
        // below).
        const size_t cursorLine = lines.size() - std::min<size_t>(lines.size(), random() % 4);
        lines.insert(lines.begin() + long(cursorLine), "$ ");
        Rows rowTexts;
        int cursorRing = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i == cursorLine) {
                cursorRing = int(rowTexts.size());
            }
            const Rows wrapped = wrapRows(lines[i], cols);
            rowTexts.insert(rowTexts.end(), wrapped.begin(), wrapped.end());
        }
        auto buffer = makeBuffer({.cols = cols, .rows = rows, .scrollback = 1000}, rowTexts);
        if (cursorRing < buffer->yBase()) {
            continue;
        }
        buffer->setY(cursorRing - buffer->yBase());
        buffer->setX(1);
        const Rows before = content(*buffer);
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(cols) + "x" +
                     std::to_string(rows) + " via " + std::to_string(narrow) + ", cursor " +
                     cursorText(*buffer));

        buffer->resize(narrow, rows);
        ASSERT_EQ(rowText(buffer->lines()[buffer->yBase() + buffer->y()]), "$ ")
            << "after narrowing";
        ASSERT_EQ(content(*buffer), before) << "after narrowing";
        buffer->resize(cols, rows);
        ASSERT_EQ(rowText(buffer->lines()[buffer->yBase() + buffer->y()]), "$ ")
            << "after widening";
        ASSERT_EQ(buffer->x(), 1);
        ASSERT_EQ(content(*buffer), before) << "after widening";
        ASSERT_LE(buffer->yBase() + buffer->rows(), buffer->lines().count());
    }
}

// A program that moved the cursor up above wrapped text (a prompt with a status area below it):
// reflowing the text below must not move the cursor onto other text.
TEST(BufferResize, LinesReflowedBelowTheCursorLeaveItInPlace) {
    auto buffer =
        makeBuffer({.cols = 10, .rows = 4, .scrollback = 10}, {"top", "$ ", "abcdefghij", "~klm"});
    buffer->setY(1);
    buffer->setX(2);
    buffer->resize(20, 4);
    EXPECT_EQ(dumpRows(*buffer), (Rows{"top", "$ ", "abcdefghijklm", ""}));
    EXPECT_EQ(cursorText(*buffer), "2,1 base=0 disp=0");
    buffer->resize(10, 4);
    EXPECT_EQ(dumpRows(*buffer), (Rows{"top", "$ ", "abcdefghij", "~klm"}));
    EXPECT_EQ(cursorText(*buffer), "2,1 base=0 disp=0");
}

// Narrowing a line above the cursor needs a row: a blank bottom row gives it, a row with text
// never does (the screen scrolls instead).
TEST(BufferResize, NarrowingNeverDropsTextBelowTheCursor) {
    auto buffer =
        makeBuffer({.cols = 20, .rows = 3, .scrollback = 10}, {letters(15), "$ ", "status"});
    buffer->setY(1);
    buffer->resize(10, 3);
    EXPECT_EQ(dumpRows(*buffer), (Rows{letters(10), "~" + letters(5, 10), "$ ", "status"}));
    EXPECT_EQ(cursorText(*buffer), "0,1 base=1 disp=1");

    auto spare = makeBuffer({.cols = 20, .rows = 3, .scrollback = 10}, {letters(15), "$ "});
    spare->setY(1);
    spare->resize(10, 3);
    EXPECT_EQ(dumpRows(*spare), (Rows{letters(10), "~" + letters(5, 10), "$ "}));
    EXPECT_EQ(cursorText(*spare), "0,2 base=0 disp=0");
}

// Printing and resizing in random order, on screens with and without history, never leaves the
// screen inconsistent: the screen lies inside the ring, the cursor on it, every row at least as
// wide as the screen and every mark inside its row.
TEST(BufferResize, RandomPrintingAndResizingKeepsTheScreenConsistent) {
    std::mt19937 random(11);
    const std::optional<int> scrollbacks[] = {std::nullopt, 0, 3, 40};
    for (int round = 0; round < 200; ++round) {
        const std::optional<int> scrollback = scrollbacks[random() % 4];
        auto buffer = makeBuffer({.cols = 2 + int(random() % 30),
                                  .rows = 1 + int(random() % 8),
                                  .scrollback = scrollback});
        buffer->setWraparound(true);
        Buffer& b = *buffer;
        buffer->scroll = [&b](bool wrapped) { scrollWholeScreen(b, wrapped); };
        for (int step = 0; step < 30; ++step) {
            SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step));
            switch (random() % 4) {
            case 0: {
                std::string text(random() % 70, 'x');
                for (char& c : text) {
                    c = char('a' + random() % 26);
                }
                const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
                buffer->insertAsciiRun(std::span(bytes, text.size()), Attribute(),
                                       [] { return std::optional<TinyAtom>(); });
                break;
            }
            case 1:
                buffer->insertCharacter(CharData(Attribute(), 0x4E16, 2),
                                        [] { return std::optional<TinyAtom>(); });
                buffer->setSemanticMark(SemanticPromptKind::initial, buffer->yBase() + buffer->y(),
                                        buffer->x());
                break;
            case 2:
                // A line feed.
                if (buffer->y() == buffer->scrollBottom()) {
                    scrollWholeScreen(*buffer, false);
                } else {
                    buffer->setY(buffer->y() + 1);
                }
                buffer->setX(0);
                break;
            default:
                buffer->resize(2 + int(random() % 40), 1 + int(random() % 10));
                break;
            }
            const int count = buffer->lines().count();
            ASSERT_LE(count, buffer->lines().maxLength());
            ASSERT_LE(buffer->yBase() + buffer->rows(), count);
            ASSERT_GE(buffer->y(), 0);
            ASSERT_LT(buffer->y(), buffer->rows());
            ASSERT_LE(buffer->x(), buffer->cols());
            ASSERT_EQ(buffer->tabStops().size(), size_t(buffer->cols()));
            for (int i = 0; i < count; ++i) {
                const BufferLine& line = buffer->lines()[i];
                ASSERT_GE(line.count(), buffer->cols()) << "row " << i;
                for (const SemanticMark& mark : line.semanticMarks()) {
                    ASSERT_LT(mark.column, line.count()) << "row " << i;
                }
            }
        }
    }
}
