#include "Buffer.h"
#include "BufferFixture.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Color = Attribute::Color;

const Attribute green(Color::ansi256(2), Color::defaultColor);

std::optional<TinyAtom> noLink() {
    return std::nullopt;
}

// Prints text one character at a time, as the terminal's general print path does.
void print(Buffer& buffer, std::string_view text, const Attribute& attribute = green,
           Buffer::PayloadResolver resolve = noLink) {
    for (char32_t c : scalars(text)) {
        const int width = UnicodeUtil::columnWidth(c) == 2 ? 2 : 1;
        buffer.insertCharacter(CharData(attribute, int32_t(c), width), resolve);
    }
}

int printAscii(Buffer& buffer, std::string_view text, const Attribute& attribute = green,
               Buffer::PayloadResolver resolve = noLink) {
    return buffer.insertAsciiRun(
        std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), attribute, resolve);
}

// A row of a dump: `text` from column `col`, a continuation row when `wrapped`.
std::string cells(int col, std::string_view text, bool wrapped = false) {
    std::string row = wrapped ? std::string(1, wrapMarker) : std::string();
    row.append(size_t(col), ' ');
    row.append(text);
    return row;
}

// An 80 x 5 screen with text on the first rows; scrolls are recorded, not performed.
struct Screen {
    explicit Screen(std::initializer_list<std::string_view> text = {}) {
        buffer = makeBuffer({.cols = 80, .rows = 5}, text);
        buffer->setWraparound(true);
        buffer->scroll = [this](bool wrapped) { scrolls.push_back(wrapped); };
    }
    std::shared_ptr<Buffer> buffer;
    std::vector<bool> scrolls;
};

} // namespace

TEST(BufferPrint, DeferredWrapToTheNextRow) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    buffer.lines()[0].setBidiState(rtl);

    buffer.setX(78);
    print(buffer, "ab");
    EXPECT_EQ(buffer.x(), 80) << "the wrap waits for the next character";
    EXPECT_FALSE(buffer.lines()[1].isWrapped());
    print(buffer, "c");
    EXPECT_EQ(cursorText(buffer), "1,1 base=0 disp=0");
    EXPECT_EQ(dumpRows(buffer, 0, 2), (Rows{cells(78, "ab"), "~c"}));
    EXPECT_EQ(buffer.lines()[1].bidiState(), rtl) << "the continuation keeps the line's direction";
    EXPECT_EQ(buffer.lines()[1][0], CharData(green, 'c', 1));
    EXPECT_TRUE(screen.scrolls.empty());
}

TEST(BufferPrint, WrapAtTheBottomOfTheRegionScrolls) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    buffer.setScrollBottom(3);
    buffer.setY(3);
    buffer.setX(79);
    print(buffer, "bc");
    EXPECT_EQ(screen.scrolls, std::vector<bool>{true});
    EXPECT_EQ(cursorText(buffer), "1,3 base=0 disp=0");
    EXPECT_EQ(buffer.lines()[3][0].code(), 'c') << "the owner's scroll supplies the new row";
}

// Below the scroll region an autowrap moves down like a line feed there; scrolling the region
// would move text the cursor is not on.
TEST(BufferPrint, WrapBelowTheRegionNeverScrollsIt) {
    Screen screen({"r0", "r1", "r2", "r3", "r4"});
    Buffer& buffer = *screen.buffer;
    buffer.setScrollBottom(1);
    buffer.setY(2);
    buffer.setX(80);
    print(buffer, "x");
    EXPECT_TRUE(screen.scrolls.empty());
    EXPECT_EQ(cursorText(buffer), "1,3 base=0 disp=0");
    EXPECT_EQ(dumpRows(buffer), (Rows{"r0", "r1", "r2", "~x3", "r4"}));

    buffer.setY(4);
    buffer.setX(80);
    print(buffer, "yz");
    EXPECT_TRUE(screen.scrolls.empty());
    EXPECT_EQ(cursorText(buffer), "2,4 base=0 disp=0");
    EXPECT_EQ(dumpRows(buffer), (Rows{"r0", "r1", "r2", "~x3", "yz"}))
        << "on the last row the text stays on it";
}

TEST(BufferPrint, WithoutWraparoundTheLastColumnIsOverwritten) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    buffer.setWraparound(false);
    buffer.setX(78);
    print(buffer, "abc");
    EXPECT_EQ(dumpRows(buffer, 0, 2), (Rows{cells(78, "ac"), ""}));
    EXPECT_EQ(buffer.x(), 80);

    print(buffer, "世");
    EXPECT_EQ(buffer.lines()[0][79].code(), 'c') << "a wide character that does not fit is dropped";
    EXPECT_EQ(printAscii(buffer, "def"), 0);
    EXPECT_EQ(buffer.lines()[0][79].code(), 'c');
}

TEST(BufferPrint, WideCharacterAtTheEdgeWrapsWhole) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    buffer.setX(79);
    print(buffer, "世");
    EXPECT_EQ(buffer.lines()[0][79], CharData::Null);
    const BufferLine& next = buffer.lines()[1];
    EXPECT_TRUE(next.isWrapped());
    EXPECT_EQ(next[0], CharData(green, 0x4E16, 2));
    EXPECT_EQ(next[1], CharData(buffer.curAttr(), 0, 0)) << "the empty half has the screen's own "
                                                            "blank attribute";
    EXPECT_EQ(buffer.x(), 2);
}

TEST(BufferPrint, LeftAndRightMarginsBoundTheText) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    buffer.setMarginMode(true);
    buffer.setMarginLeft(10);
    buffer.setMarginRight(39);
    buffer.setX(35);
    print(buffer, "abcdefg");
    EXPECT_EQ(dumpRows(buffer, 0, 2), (Rows{cells(35, "abcde"), cells(10, "fg", true)}));
    buffer.setX(38);
    EXPECT_EQ(printAscii(buffer, "hijkl"), 5);
    EXPECT_EQ(dumpRows(buffer, 1, 2),
              (Rows{cells(10, "fg" + std::string(26, ' ') + "hi", true), cells(10, "jkl", true)}));
    EXPECT_EQ(buffer.x(), 13);
}

TEST(BufferPrint, InsertModeShiftsTheRowAndDropsAHalfCharacter) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    writeText(buffer.lines()[0], 0, "abc");
    writeText(buffer.lines()[0], 78, "世");
    buffer.setInsertMode(true);
    print(buffer, "x");
    const BufferLine& row = buffer.lines()[0];
    EXPECT_EQ(row.debugDescription().substr(0, 4), "xabc");
    EXPECT_EQ(row[79], CharData(buffer.curAttr(), 0, 1))
        << "only the first half of the wide character was left at the edge";
    EXPECT_EQ(row[78], CharData::Null);

    EXPECT_EQ(printAscii(buffer, "zzz"), 0)
        << "the fast path leaves insert mode to the general one";
    EXPECT_EQ(row.debugDescription().substr(0, 4), "xabc");
    EXPECT_EQ(buffer.x(), 1);
}

// The OSC 133 content and the hyperlink go into every cell written, both halves of a wide
// character included, and the link is resolved once per character or once per run.
TEST(BufferPrint, CellsCarryContentAndLink) {
    Screen screen;
    Buffer& buffer = *screen.buffer;
    buffer.semanticContent = SemanticContent::input;
    int resolved = 0;
    auto link = [&]() -> std::optional<TinyAtom> {
        ++resolved;
        return TinyAtom{42};
    };
    print(buffer, "世a", green, link);
    EXPECT_EQ(resolved, 2);
    buffer.setX(75);
    EXPECT_EQ(printAscii(buffer, "0123456789", green, link), 10);
    EXPECT_EQ(resolved, 3);
    for (int row = 0; row < 2; ++row) {
        const BufferLine& line = buffer.lines()[row];
        for (int col = 0; col < 80; ++col) {
            if (line[col] == CharData::Null) {
                continue;
            }
            SCOPED_TRACE(std::to_string(row) + "," + std::to_string(col));
            EXPECT_EQ(line[col].semanticContentCode(), 5);
            EXPECT_EQ(line[col].payload(), TinyAtom{42});
        }
    }
    EXPECT_EQ(buffer.lines()[0][1], CharData(buffer.curAttr(), 0, 0, TinyAtom{42}, 5));

    // Nothing written, nothing resolved.
    buffer.setWraparound(false);
    buffer.setX(80);
    EXPECT_EQ(printAscii(buffer, "x", green, link), 0);
    EXPECT_EQ(resolved, 3);
}

TEST(BufferPrint, AsciiRunsWriteWholeRowsAtOnce) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3, .scrollback = 10});
    buffer->setWraparound(true);
    buffer->scroll = [&](bool wrapped) { scrollWholeScreen(*buffer, wrapped); };
    std::vector<uint64_t> before;
    for (int i = 0; i < 3; ++i) {
        before.push_back(buffer->lines()[i].generation());
    }
    buffer->setX(4);
    EXPECT_EQ(printAscii(*buffer, "abcdefghijklmnopqrstuvwxyz"), 26);
    EXPECT_EQ(dumpRows(*buffer), (Rows{"    abcdef", "~ghijklmnop", "~qrstuvwxyz"}));
    EXPECT_EQ(cursorText(*buffer), "10,2 base=0 disp=0")
        << "a run that ends at the edge leaves the wrap pending";
    // The counter counts cells, as storing them one by one would (plus the wrap flag and the
    // direction of a continued row).
    EXPECT_EQ(buffer->lines()[0].generation() - before[0], 6u);
    EXPECT_EQ(buffer->lines()[1].generation() - before[1], 10u + 2u);

    EXPECT_EQ(printAscii(*buffer, "12345678"), 8);
    EXPECT_EQ(dumpRows(*buffer, 3), (Rows{"~12345678"}));
    EXPECT_EQ(cursorText(*buffer), "8,2 base=1 disp=1");
}

// The run fast path must leave exactly the screen the character-by-character path leaves.
TEST(BufferPrint, AsciiRunMatchesTheGeneralPath) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        const int cols = 2 + int(random() % 30);
        const bool margins = random() % 3 == 0;
        const bool wrap = random() % 4 != 0;
        const int left = margins ? int(random() % cols) : 0;
        const int right = margins ? left + int(random() % (cols - left)) : cols - 1;
        const int x = int(random() % (cols + 1));
        const int y = int(random() % 4);
        std::string text;
        for (int n = int(random() % 90); n > 0; --n) {
            text.push_back(char(0x20 + random() % 95));
        }
        SCOPED_TRACE("round " + std::to_string(round) + " cols " + std::to_string(cols) +
                     " margins " + std::to_string(left) + ".." + std::to_string(right) + " x " +
                     std::to_string(x) + " text " + text);

        std::shared_ptr<Buffer> results[2];
        for (int path = 0; path < 2; ++path) {
            auto buffer = makeBuffer({.cols = cols, .rows = 4, .scrollback = 50});
            buffer->setWraparound(wrap);
            buffer->setMarginMode(margins);
            buffer->setMarginLeft(left);
            buffer->setMarginRight(right);
            buffer->setX(x);
            buffer->setY(y);
            buffer->semanticContent = SemanticContent::output;
            Buffer& b = *buffer;
            buffer->scroll = [&b](bool wrapped) { scrollWholeScreen(b, wrapped); };
            if (path == 0) {
                print(*buffer, text);
            } else {
                const int written = printAscii(*buffer, text);
                print(*buffer, std::string_view(text).substr(size_t(written)));
            }
            results[path] = buffer;
        }
        EXPECT_EQ(dumpRows(*results[1]), dumpRows(*results[0]));
        EXPECT_EQ(cursorText(*results[1]), cursorText(*results[0]));
        for (int i = 0; i < results[0]->lines().count(); ++i) {
            ASSERT_EQ(results[1]->lines()[i].getData(), results[0]->lines()[i].getData())
                << "row " << i;
        }
    }
}
