#include "Buffer.h"
#include "BufferFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Color = Attribute::Color;

std::vector<int> every(int step, int from, int below) {
    std::vector<int> columns;
    for (int c = from; c < below; c += step) {
        columns.push_back(c);
    }
    return columns;
}

struct FakeImage final : TerminalImage {
    int pixelWidth() const override { return 1; }
    int pixelHeight() const override { return 1; }
    int col() const override { return 0; }
    void setCol(int) override {}
};

} // namespace

TEST(Buffer, NewScreen) {
    auto buffer = Buffer::create(80, 25, 8, 500, BidiPresentationState::Default);
    EXPECT_EQ(buffer->lines().count(), 0) << "the owner fills the screen";
    EXPECT_EQ(buffer->lines().maxLength(), 525);
    EXPECT_EQ(buffer->scrollBottom(), 24);
    EXPECT_EQ(buffer->marginRight(), 79);
    EXPECT_TRUE(buffer->hasScrollback());
    EXPECT_EQ(buffer->curAttr(), Attribute::empty);
    EXPECT_EQ(buffer->getNullCell(), CharData(Attribute::empty, 32, 1));
    EXPECT_EQ(buffer->getNullCell(Attribute()), CharData(Attribute(), 32, 1));

    const Attribute red(Color::ansi256(1), Color::ansi256(1));
    buffer->fillViewportRows(red);
    EXPECT_EQ(buffer->lines().count(), 25);
    EXPECT_EQ(buffer->lines()[24][79], CharData(red, 0, 1));
    buffer->fillViewportRows();
    EXPECT_EQ(buffer->lines().count(), 25) << "only an empty ring is filled";

    auto alternate = Buffer::create(80, 25, 8, std::nullopt, BidiPresentationState::Default);
    EXPECT_FALSE(alternate->hasScrollback());
    EXPECT_EQ(alternate->lines().maxLength(), 25);
    EXPECT_EQ(alternate->getCorrectBufferLength(30), 30);
}

TEST(Buffer, NegativeValuesLeaveTheCursorAndRegionAlone) {
    auto buffer = makeBuffer({.cols = 80, .rows = 25});
    buffer->setX(5);
    buffer->setY(6);
    buffer->setYDisp(0);
    buffer->setScrollTop(2);
    buffer->setScrollBottom(20);
    buffer->setX(-1);
    buffer->setY(-3);
    buffer->setYDisp(-1);
    buffer->setScrollTop(-1);
    buffer->setScrollBottom(-1);
    EXPECT_EQ(buffer->x(), 5);
    EXPECT_EQ(buffer->y(), 6);
    EXPECT_EQ(buffer->yDisp(), 0);
    EXPECT_EQ(buffer->scrollTop(), 2);
    EXPECT_EQ(buffer->scrollBottom(), 20);
}

TEST(Buffer, RowsTheScreenMakesBelongToIt) {
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    auto buffer = Buffer::create(10, 3, 8, 5, rtl);
    BufferLinePtr blank = buffer->getBlankLine(Attribute::empty, true);
    EXPECT_EQ(blank->count(), 10);
    EXPECT_EQ((*blank)[9], CharData(Attribute::empty, 0, 1));
    EXPECT_EQ(blank->fillCharacter(), CharData(Attribute::empty, 0, 1));
    EXPECT_TRUE(blank->isWrapped());
    EXPECT_EQ(blank->bidiState(), rtl);
    EXPECT_EQ(blank->owningBuffer(), buffer);

    // Rows pushed into the ring, and the ones the factory makes for empty slots.
    BufferLinePtr foreign = BufferLine::create(10);
    buffer->lines().push(foreign);
    EXPECT_EQ(foreign->owningBuffer(), buffer);
    EXPECT_EQ(buffer->lines()[4].owningBuffer(), buffer);
    EXPECT_EQ(buffer->lines()[4].count(), 10);

    // Rows hold their screen weakly: a row that outlives it has no owner.
    buffer.reset();
    EXPECT_EQ(foreign->owningBuffer(), nullptr);
}

TEST(Buffer, CellsOutsideTheRingReadBlank) {
    auto buffer = makeBuffer({.cols = 10, .rows = 2, .scrollback = 10}, {"old", "top", "bottom"});
    ASSERT_EQ(buffer->yDisp(), 1);
    EXPECT_EQ(buffer->getChar(Position{.col = 0, .row = 0}).code(), 't');
    EXPECT_EQ(buffer->getCharAtBufferRelative(Position{.col = 0, .row = 0}).code(), 'o');
    const Position outside[] = {{-1, 0}, {10, 0}, {0, 3}, {0, -2}, {INT64_MAX, INT64_MAX}};
    for (const Position& p : outside) {
        SCOPED_TRACE(p.debugDescription());
        EXPECT_EQ(buffer->getCharAtBufferRelative(p), CharData::Null);
        EXPECT_EQ(buffer->getChar(Position{p.col, p.row - 1}), CharData::Null);
    }
}

TEST(Buffer, DefaultTabStops) {
    auto buffer = makeBuffer({.cols = 80, .rows = 4});
    EXPECT_EQ(tabStopColumns(*buffer), every(8, 0, 80));
    EXPECT_EQ(buffer->nextTabStop(false, 75), 79);
    EXPECT_EQ(buffer->nextTabStop(false, 8), 16);
    EXPECT_EQ(buffer->nextTabStop(false, 79), 79);
    EXPECT_EQ(buffer->previousTabStop(3), 0);
    EXPECT_EQ(buffer->previousTabStop(9), 8);
    EXPECT_EQ(buffer->previousTabStop(200), 72);

    buffer->setX(80); // the pending-wrap column
    EXPECT_EQ(buffer->nextTabStop(false), 79);
    EXPECT_EQ(buffer->previousTabStop(), 72);

    buffer->setMarginRight(39);
    EXPECT_EQ(buffer->nextTabStop(true, 35), 39) << "the stop at 40 lies past the margin";
    EXPECT_EQ(buffer->nextTabStop(false, 35), 40);

    buffer->tabSet(85);
    buffer->tabSet(-1);
    buffer->tabClear(80);
    EXPECT_EQ(tabStopColumns(*buffer), every(8, 0, 80));
    buffer->tabClear(8);
    buffer->tabSet(3);
    EXPECT_EQ(buffer->nextTabStop(false, 0), 3);
    EXPECT_EQ(buffer->nextTabStop(false, 3), 16);
}

// After a widening the terminal calls setupTabStops with the old width: regular stops resume from
// the last stop before it, and the flags before that stop are kept as the program left them.
TEST(Buffer, TabStopsRefillFromTheLastStopBeforeTheOldWidth) {
    struct Case {
        const char* name;
        std::vector<int> cleared;
        std::vector<int> expected;
    };
    std::vector<int> regular = every(8, 0, 100);
    std::vector<int> without16 = regular;
    without16.erase(std::find(without16.begin(), without16.end(), 16));
    const Case cases[] = {
        {"default stops", {}, regular},
        {"72 cleared is set again", {72}, regular},
        {"16 cleared stays cleared", {16, 72}, without16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A 100-column screen whose columns from 80 on have no stops yet, as after a resize.
        auto buffer = makeBuffer({.cols = 100, .rows = 2});
        for (int column = 80; column < 100; ++column) {
            buffer->tabClear(column);
        }
        for (int column : c.cleared) {
            buffer->tabClear(column);
        }
        buffer->setupTabStops(80, 8);
        EXPECT_EQ(tabStopColumns(*buffer), c.expected);
    }
}

TEST(Buffer, TabWidthBelowOneMeansEight) {
    for (int width : {0, -3, INT_MIN}) {
        SCOPED_TRACE(width);
        auto buffer = makeBuffer({.cols = 40, .rows = 2, .tabStopWidth = width});
        EXPECT_EQ(tabStopColumns(*buffer), every(8, 0, 40));
        buffer->setupTabStops(24, width);
        EXPECT_EQ(tabStopColumns(*buffer), every(8, 0, 40));
    }
    auto wide = makeBuffer({.cols = 40, .rows = 2, .tabStopWidth = INT_MAX});
    EXPECT_EQ(tabStopColumns(*wide), (std::vector<int>{0}));
}

TEST(Buffer, ClearScrollbackKeepsTheScreen) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3, .scrollback = 100});
    for (int i = 0; i < 33; ++i) {
        buffer->lines().push(buffer->getBlankLine(Attribute()));
        writeText(buffer->lines()[buffer->lines().count() - 1], 0, "row " + std::to_string(i));
    }
    buffer->setYBase(33);
    buffer->setYDisp(33);
    buffer->setY(1);
    buffer->savedY = 10;
    const Rows screen = dumpScreen(*buffer);
    ASSERT_EQ(screen, (Rows{"row 30", "row 31", "row 32"}));

    buffer->clearScrollback();
    EXPECT_EQ(buffer->yBase(), 0);
    EXPECT_EQ(buffer->yDisp(), 0);
    EXPECT_EQ(buffer->savedY, 0);
    EXPECT_EQ(buffer->y(), 1);
    EXPECT_EQ(dumpRows(*buffer), screen);

    buffer->clearScrollback();
    EXPECT_EQ(dumpRows(*buffer), screen) << "nothing to clear";
}

TEST(Buffer, ChangeHistorySize) {
    auto filled = [] {
        auto buffer = makeBuffer({.cols = 10, .rows = 25, .scrollback = 500});
        while (buffer->lines().count() < 525) {
            scrollWholeScreen(*buffer, false);
        }
        buffer->savedY = 3;
        return buffer;
    };
    auto buffer = filled();
    ASSERT_EQ(buffer->yBase(), 500);
    const Rows screen = dumpScreen(*buffer);

    buffer->changeHistorySize(1000);
    EXPECT_EQ(buffer->lines().maxLength(), 1025);
    EXPECT_EQ(buffer->lines().count(), 525);
    EXPECT_EQ(buffer->yBase(), 500);
    EXPECT_TRUE(buffer->isReflowEnabled());

    buffer->changeHistorySize(100);
    EXPECT_EQ(buffer->lines().maxLength(), 125);
    EXPECT_EQ(buffer->lines().count(), 125);
    EXPECT_EQ(buffer->yBase(), 100);
    EXPECT_EQ(buffer->savedY, 0);
    EXPECT_EQ(dumpScreen(*buffer), screen);

    buffer = filled();
    buffer->changeHistorySize(std::nullopt);
    EXPECT_EQ(buffer->lines().maxLength(), 25);
    EXPECT_EQ(buffer->lines().count(), 25);
    EXPECT_EQ(buffer->yBase(), 0);
    EXPECT_EQ(buffer->yDisp(), 0);
    EXPECT_FALSE(buffer->isReflowEnabled());
    EXPECT_EQ(buffer->scrollback(), std::nullopt);
    EXPECT_EQ(dumpScreen(*buffer), screen);

    buffer->changeHistorySize(0);
    EXPECT_TRUE(buffer->isReflowEnabled()) << "no history, but reflow on";
    EXPECT_EQ(buffer->lines().maxLength(), 25);
}

// The history grows to its capacity, after which each scroll recycles the oldest row in place.
TEST(Buffer, ScrollbackFillsThenRecycles) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3, .scrollback = 4});
    for (int i = 0; i < 3; ++i) {
        writeText(buffer->lines()[i], 0, "line " + std::to_string(i));
    }
    std::vector<const BufferLine*> objects;
    for (int i = 3; i < 12; ++i) {
        scrollWholeScreen(*buffer, false);
        BufferLine& bottom = buffer->lines()[buffer->lines().count() - 1];
        writeText(bottom, 0, "line " + std::to_string(i));
        objects.push_back(&bottom);
    }
    EXPECT_EQ(buffer->lines().count(), 7);
    EXPECT_EQ(buffer->yBase(), 4);
    EXPECT_EQ(buffer->linesTop, 5);
    EXPECT_EQ(dumpRows(*buffer),
              (Rows{"line 5", "line 6", "line 7", "line 8", "line 9", "line 10", "line 11"}));
    // Once the ring is full the bottom row is the oldest object coming round again.
    EXPECT_EQ(objects[7], objects[0]);
    EXPECT_EQ(objects[8], objects[1]);
    EXPECT_EQ(buffer->lines()[6].recycleGeneration(), 1u);
}

// Program-chosen and host-chosen sizes never make the ring allocate for lines it does not hold,
// never shrink it below the screen and never overflow.
TEST(Buffer, ScrollbackSettingsAreClamped) {
    struct Case {
        const char* name;
        std::optional<int> scrollback;
        int maxLength;
    };
    const Case cases[] = {
        {"huge", INT_MAX, Buffer::maxRingLength},
        {"negative", -50, 25},
        {"most negative", INT_MIN, 25},
        {"none", std::nullopt, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto buffer = makeBuffer({.cols = 80, .rows = 25, .scrollback = c.scrollback});
        EXPECT_EQ(buffer->lines().maxLength(), c.maxLength);
        EXPECT_LE(buffer->lines().slotCount(), CircularBufferLineList::eagerSlots);
        EXPECT_EQ(buffer->getCorrectBufferLength(25), c.maxLength);
        for (int i = 0; i < 100; ++i) {
            scrollWholeScreen(*buffer, false);
        }
        EXPECT_EQ(buffer->lines().count(), std::min(125, c.maxLength));

        buffer->changeHistorySize(INT_MAX);
        EXPECT_EQ(buffer->lines().maxLength(), Buffer::maxRingLength);
        EXPECT_LE(buffer->lines().slotCount(), CircularBufferLineList::eagerSlots);
        buffer->changeHistorySize(INT_MIN);
        EXPECT_EQ(buffer->lines().maxLength(), 25);
        EXPECT_EQ(buffer->lines().count(), 25);
    }
}

TEST(Buffer, ClearStartsAfresh) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3, .scrollback = 10}, {"a", "b", "c", "d", "e"});
    buffer->setX(4);
    buffer->setY(2);
    buffer->setScrollTop(1);
    buffer->setMarginLeft(2);
    buffer->setMarginRight(5);
    buffer->linesTop = 7;
    buffer->semanticInput = SemanticInputState::armed;
    buffer->semanticContent = SemanticContent::input;
    buffer->savedX = 3;

    buffer->clear();
    EXPECT_EQ(buffer->lines().count(), 0);
    EXPECT_EQ(buffer->lines().maxLength(), 13);
    EXPECT_EQ(cursorText(*buffer), "0,0 base=0 disp=0");
    EXPECT_EQ(buffer->scrollTop(), 0);
    EXPECT_EQ(buffer->scrollBottom(), 2);
    EXPECT_EQ(buffer->marginLeft(), 0);
    EXPECT_EQ(buffer->marginRight(), 9);
    EXPECT_EQ(buffer->linesTop, 0);
    EXPECT_EQ(buffer->semanticInput, SemanticInputState::idle);
    EXPECT_EQ(buffer->semanticContent, SemanticContent::none);
    EXPECT_EQ(buffer->savedX, 3) << "the saved cursor is not the screen's content";
    buffer->fillViewportRows();
    EXPECT_EQ(buffer->lines()[0].owningBuffer(), buffer) << "the new ring has its callbacks";
}

TEST(Buffer, SoftResetClearsTheSavedCursorAndMargins) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3});
    buffer->savedX = 4;
    buffer->savedY = 2;
    buffer->savedAttr = Attribute::empty;
    buffer->savedCharset = CharSets::all('0');
    buffer->savedOriginMode = buffer->savedMarginMode = true;
    buffer->savedWraparound = buffer->savedReverseWraparound = true;
    buffer->setMarginLeft(3);
    buffer->setMarginRight(4);
    buffer->setScrollTop(1);
    buffer->setX(7);

    buffer->softReset();
    EXPECT_EQ(buffer->savedX, 0);
    EXPECT_EQ(buffer->savedY, 0);
    EXPECT_EQ(buffer->savedAttr, Attribute());
    EXPECT_EQ(buffer->savedCharset, nullptr);
    EXPECT_FALSE(buffer->savedOriginMode || buffer->savedMarginMode ||
                 buffer->savedReverseWraparound);
    EXPECT_TRUE(buffer->savedWraparound) << "the terminal's initial state has autowrap on";
    EXPECT_EQ(buffer->marginLeft(), 0);
    EXPECT_EQ(buffer->marginRight(), 9);
    EXPECT_EQ(buffer->scrollTop(), 1);
    EXPECT_EQ(buffer->x(), 7);
}

// The count of rows with images moves only for rows that have or had images and never goes below
// zero.
TEST(Buffer, ImageRowCount) {
    auto buffer = makeBuffer({.cols = 10, .rows = 2, .scrollback = 1});
    EXPECT_FALSE(buffer->hasAnyImages());

    BufferLinePtr withImage = buffer->getBlankLine(Attribute());
    withImage->attach(std::make_shared<FakeImage>());
    buffer->lines().push(withImage);
    EXPECT_TRUE(buffer->hasAnyImages());
    scrollWholeScreen(*buffer, false); // plain rows recycled: the count stays
    EXPECT_TRUE(buffer->hasAnyImages());

    const int row = buffer->lines().count() - 2;
    ASSERT_EQ(&buffer->lines()[row], withImage.get());
    const uint64_t before = withImage->generation();
    buffer->clearImagesFromLine(row);
    EXPECT_FALSE(buffer->hasAnyImages());
    EXPECT_FALSE(withImage->images().has_value());
    EXPECT_EQ(withImage->generation() - before, 1u);
    buffer->clearImagesFromLine(row);
    buffer->clearImagesFromLine(-1);
    buffer->clearImagesFromLine(99);

    // A row stored without a push gains images the count never saw; recycling it must not take
    // the count below zero.
    buffer->lines()[0].attach(std::make_shared<FakeImage>());
    buffer->lines().recycle(Attribute());
    EXPECT_FALSE(buffer->hasAnyImages());
    buffer->lines()[1].attach(std::make_shared<FakeImage>());
    EXPECT_FALSE(buffer->hasAnyImages());
    buffer->recalculateLinesWithImagesCount();
    EXPECT_TRUE(buffer->hasAnyImages());
}

TEST(BufferDeathTest, ScrollingBeforeTheOwnerInstalledScrollStops) {
    auto buffer = Buffer::create(10, 3, 8, std::nullopt, BidiPresentationState::Default);
    EXPECT_DEATH(buffer->scroll(true), "This should be set after creating a buffer");
}
