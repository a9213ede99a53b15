#include "BufferFixture.h"
#include "BufferLine.h"
#include "CircularBufferLineList.h"
#include "DiagnosticsCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Color = Attribute::Color;

const CharData fillCell = CharData(Attribute(Color::ansi256(4), Color::defaultColor), '.', 1);

struct FakeImage final : TerminalImage {
    int pixelWidth() const override { return 10; }
    int pixelHeight() const override { return 20; }
    int col() const override { return m_col; }
    void setCol(int col) override { m_col = col; }
    int m_col = 0;
};

// A row holding `text` (one cell per character), as wide as the text unless `cols` says more.
BufferLinePtr row(std::string_view text, int cols = -1) {
    BufferLinePtr line = BufferLine::create(cols < 0 ? int(scalars(text).size()) : cols);
    writeText(*line, 0, text);
    return line;
}

std::string text(const BufferLine& line) {
    return line.debugDescription();
}

std::vector<int64_t> markColumns(const BufferLine& line) {
    std::vector<int64_t> columns;
    for (const SemanticMark& mark : line.semanticMarks()) {
        columns.push_back(mark.column);
    }
    return columns;
}

} // namespace

// Terminals on different threads make rows at the same time; caches key on the serial.
TEST(BufferLine, SerialsAreUniqueAcrossThreads) {
    constexpr int perThread = 10000;
    std::vector<std::vector<uint64_t>> serials(4);
    std::vector<std::thread> threads;
    for (auto& mine : serials) {
        threads.emplace_back([&mine] {
            for (int i = 0; i < perThread; ++i) {
                mine.push_back(BufferLine::create(1)->serial());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<uint64_t> all;
    for (const auto& mine : serials) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.size(), size_t(4 * perThread));
}

TEST(BufferLine, NewRowIsBlankAndUnchanged) {
    BufferLinePtr line = BufferLine::create(80);
    EXPECT_EQ(line->count(), 80);
    EXPECT_EQ(line->generation(), 0u);
    EXPECT_EQ(line->recycleGeneration(), 0u);
    for (const CharData& cell : line->cells()) {
        ASSERT_EQ(cell, CharData::Null);
    }
    EXPECT_EQ(line->fillCharacter(), CharData::Null);

    BufferLinePtr other = BufferLine::create(80, fillCell, true);
    EXPECT_NE(line->serial(), other->serial());
    EXPECT_EQ((*other)[79], fillCell);
    EXPECT_EQ(other->fillCharacter(), fillCell);
    EXPECT_TRUE(other->isWrapped());
}

TEST(BufferLine, OutOfRangeIndicesUseTheNearestCell) {
    DiagnosticsCapture diagnostics;
    BufferLinePtr line = row("ABC", 80);
    const CharData x(Attribute(), 'X', 1);

    line->set(80, x);
    EXPECT_EQ((*line)[79], x);
    EXPECT_EQ((*line)[200], x) << "reads past the end give the last cell";
    EXPECT_EQ((*line)[-1], (*line)[0]);
    EXPECT_EQ(diagnostics.captured(),
              (std::vector<std::string>{"BufferLine: You passed an index out of range, adjusting "
                                        "to prevent crash, but you should debug"}));

    // A row without cells (the terminal's cached blank line starts so) reads blank and ignores
    // writes.
    BufferLinePtr empty = BufferLine::create(0);
    empty->set(0, x);
    EXPECT_EQ((*empty)[0], CharData::Null);
    EXPECT_EQ(empty->getWidth(3), 1);
    EXPECT_EQ(empty->getTrimmedLength(), 0);
}

TEST(BufferLine, TrimmedLengthCountsTheLastCharactersWidth) {
    BufferLinePtr line = BufferLine::create(20);
    EXPECT_EQ(line->getTrimmedLength(), 0);
    writeText(*line, 10, "世");
    EXPECT_EQ(line->getTrimmedLength(), 12);
    writeText(*line, 2, "a");
    EXPECT_EQ(line->getTrimmedLength(), 12);
}

TEST(BufferLine, HasContentLooksAtCodeAndAttributeOnly) {
    BufferLinePtr line = BufferLine::create(4);
    EXPECT_FALSE(line->hasAnyContent());
    line->set(1, CharData(Attribute(), 0, 2, TinyAtom{5}, 6));
    EXPECT_FALSE(line->hasContent(1)) << "width, payload and content code do not count";
    line->set(2, CharData(Attribute(Color::defaultColor, Color::defaultInvertedColor), 0, 1));
    EXPECT_TRUE(line->hasContent(2));
    EXPECT_TRUE(line->hasAnyContent());
    Attribute underlined;
    underlined.setUnderlineColor(Color::defaultColor);
    line->set(3, CharData(underlined, 0, 1));
    EXPECT_TRUE(line->hasContent(3)) << "an underline colour, even the default one, is content";
}

// Every operation raises `generation` by an exact amount: renderers and layout caches rely on
// "changed means different", and the counts below are the contract.
TEST(BufferLine, GenerationIncrements) {
    const CharData x(Attribute(), 'x', 1);
    struct Case {
        const char* name;
        bool withMarks;
        std::function<void(BufferLine&)> op;
        uint64_t increment;
    };
    const Case cases[] = {
        {"store a cell", false, [&](BufferLine& l) { l.set(2, x); }, 1},
        {"isWrapped unchanged", false, [](BufferLine& l) { l.setIsWrapped(l.isWrapped()); }, 1},
        {"bidiState", false, [](BufferLine& l) { l.setBidiState(l.bidiState()); }, 1},
        {"renderMode", false,
         [](BufferLine& l) { l.setRenderMode(BufferLine::RenderLineMode::doubleWidth); }, 1},
        {"replaceCells", false, [&](BufferLine& l) { l.replaceCells(1, 4, x); }, 1},
        {"replaceCells clipped", false, [&](BufferLine& l) { l.replaceCells(9, 20, x); }, 1},
        {"replaceCells past the end", false, [&](BufferLine& l) { l.replaceCells(10, 20, x); }, 0},
        {"fill", false, [&](BufferLine& l) { l.fill(x); }, 1},
        {"fill range", false, [&](BufferLine& l) { l.fill(x, 2, 3); }, 1},
        {"insertCells", false, [&](BufferLine& l) { l.insertCells(2, 3, 5, x); }, 1},
        {"insertCells, marks", true, [&](BufferLine& l) { l.insertCells(2, 3, 5, x); }, 2},
        {"insertCells 0, marks", true, [&](BufferLine& l) { l.insertCells(2, 0, 5, x); }, 1},
        {"deleteCells", false, [&](BufferLine& l) { l.deleteCells(2, 3, 5, x); }, 1},
        {"deleteCells, marks", true, [&](BufferLine& l) { l.deleteCells(2, 3, 5, x); }, 2},
        {"attach", false, [](BufferLine& l) { l.attach(std::make_shared<FakeImage>()); }, 1},
        {"resize same", true, [&](BufferLine& l) { l.resize(10, x); }, 0},
        {"resize wider, marks", true, [&](BufferLine& l) { l.resize(12, x); }, 1},
        {"resize narrower", false, [&](BufferLine& l) { l.resize(5, x); }, 1},
        {"resize narrower, marks", true, [&](BufferLine& l) { l.resize(5, x); }, 2},
        {"marksShift", true, [](BufferLine& l) { l.marksShift(0, 2, 9); }, 1},
        {"marksShift by 0", true, [](BufferLine& l) { l.marksShift(0, 0, 9); }, 0},
        {"marksShift, no marks", false, [](BufferLine& l) { l.marksShift(0, 2, 9); }, 0},
        {"marksClampTo", true, [](BufferLine& l) { l.marksClampTo(5); }, 1},
        {"marksClampTo, no marks", false, [](BufferLine& l) { l.marksClampTo(5); }, 0},
        {"setSemanticMark", false,
         [](BufferLine& l) { l.setSemanticMark(SemanticPromptKind::initial, 1, 1); }, 3},
        {"destroySemanticState", true, [](BufferLine& l) { l.destroySemanticState(); }, 1},
        {"destroySemanticState, group", true,
         [](BufferLine& l) {
             l.setSemanticHardContinuationGroup(7);
             l.destroySemanticState();
         },
         2},
        {"clear", false, [](BufferLine& l) { l.clear(Attribute()); }, 2},
        {"copyFrom(line)", false, [](BufferLine& l) { l.copyFrom(*row("0123456789")); }, 4},
        {"copyFrom(line), new group", false,
         [](BufferLine& l) {
             BufferLinePtr source = row("0123456789");
             source->setSemanticHardContinuationGroup(3);
             l.copyFrom(*source);
         },
         5},
        {"copyFrom range", false, [](BufferLine& l) { l.copyFrom(*row("0123"), 0, 2, 4); }, 2},
        {"copyFrom within the row", false, [](BufferLine& l) { l.copyFrom(l, 0, 2, 4); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferLinePtr line = row("ABCDEFGHIJ");
        if (c.withMarks) {
            line->setSemanticMark(SemanticPromptKind::initial, 3, 1);
            line->setSemanticMark(SemanticPromptKind::right, 8, 1);
        }
        const uint64_t before = line->generation();
        c.op(*line);
        EXPECT_EQ(line->generation() - before, c.increment);
    }
}

TEST(BufferLine, CopyFromAnotherRowChangesTheSourceGeneration) {
    BufferLinePtr source = row("0123");
    BufferLinePtr destination = row("ABCDEFGH");
    const uint64_t before = source->generation();
    destination->copyFrom(*source, 0, 2, 4);
    EXPECT_EQ(source->generation() - before, 1u);
    EXPECT_EQ(text(*destination), "AB0123GH");
}

TEST(BufferLine, ResizeKeepsCellsAndClampsMarks) {
    BufferLinePtr line = row("ABCDEFGHIJ");
    line->setSemanticMark(SemanticPromptKind::initial, 8, 1);
    line->resize(5, fillCell);
    EXPECT_EQ(text(*line), "ABCDE");
    EXPECT_EQ(markColumns(*line), (std::vector<int64_t>{4}));

    // Widening again reuses the block but never shows the cells that were cut off.
    line->resize(10, fillCell);
    EXPECT_EQ(text(*line), "ABCDE.....");
    EXPECT_EQ(line->capacity(), 10);

    line->resize(0, fillCell);
    EXPECT_EQ(line->count(), 0);
    EXPECT_TRUE(line->semanticMarks().empty());
    line->resize(-4, fillCell);
    EXPECT_EQ(line->count(), 0);
}

TEST(BufferLine, InsertAndDeleteCellsWithinTheRightMargin) {
    const CharData blank = CharData(Attribute(), '_', 1);
    struct Case {
        const char* name;
        bool insert;
        int pos, n, rightMargin;
        const char* expected;
    };
    const Case cases[] = {
        {"insert", true, 2, 3, 5, "AB___CGH"},
        {"delete", false, 2, 3, 5, "ABF___GH"},
        {"insert covering the region", true, 2, 4, 5, "AB____GH"},
        {"delete covering the region", false, 2, 9, 5, "AB____GH"},
        {"insert to the row's end", true, 6, 1, 7, "ABCDEF_G"},
        // Guards: a region outside the row moves nothing.
        {"insert past the margin", true, 6, 1, 5, "ABCDEFGH"},
        {"delete at a negative column", false, -1, 1, 5, "ABCDEFGH"},
        {"insert a negative count", true, 2, -3, 5, "ABCDEFGH"},
        {"delete, margin past the row", false, 6, 1, 40, "ABCDEFH_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferLinePtr line = row("ABCDEFGH");
        if (c.insert) {
            line->insertCells(c.pos, c.n, c.rightMargin, blank);
        } else {
            line->deleteCells(c.pos, c.n, c.rightMargin, blank);
        }
        EXPECT_EQ(text(*line), c.expected);
    }
}

TEST(BufferLine, MarksFollowInsertedAndDeletedCells) {
    BufferLinePtr line = row("ABCDEFGHIJKLMN");
    line->setSemanticMark(SemanticPromptKind::initial, 4, 1);
    line->setSemanticMark(SemanticPromptKind::right, 12, 1);
    line->marksShift(2, -5, 9);
    EXPECT_EQ(markColumns(*line), (std::vector<int64_t>{2, 12}));

    line->insertCells(0, 3, 9, CharData::Null);
    EXPECT_EQ(markColumns(*line), (std::vector<int64_t>{5, 12}));
    line->insertCells(0, 30, 9, CharData::Null);
    EXPECT_EQ(markColumns(*line), (std::vector<int64_t>{9, 12})) << "clamped to the margin";
    line->deleteCells(4, 2, 13, CharData::Null);
    EXPECT_EQ(markColumns(*line), (std::vector<int64_t>{7, 10}));
    line->marksShift(11, 3, 10);
    EXPECT_EQ(markColumns(*line), (std::vector<int64_t>{7, 10})) << "from past the margin";
}

TEST(BufferLine, OneMarkPerKindSortedByColumn) {
    BufferLinePtr line = BufferLine::create(20);
    line->setSemanticMark(SemanticPromptKind::initial, 9, 1);
    line->setSemanticMark(SemanticPromptKind::secondary, 4, 1);
    line->setSemanticMark(SemanticPromptKind::initial, 2, 2);
    ASSERT_EQ(line->semanticMarks().size(), 2u);
    EXPECT_EQ(line->semanticMarks()[0], SemanticMark(SemanticPromptKind::initial, 2, 2));
    EXPECT_EQ(line->semanticMarks()[1], SemanticMark(SemanticPromptKind::secondary, 4, 1));
}

TEST(BufferLine, ClearMakesTheObjectAnotherLine) {
    BufferLinePtr line = row("ABC", 10);
    line->attach(std::make_shared<FakeImage>());
    line->setIsWrapped(true);
    line->setSemanticMark(SemanticPromptKind::initial, 1, 1);
    const uint64_t before = line->generation();
    const Attribute background(Color::defaultColor, Color::ansi256(1));

    line->clear(background);
    EXPECT_FALSE(line->images().has_value());
    EXPECT_EQ(line->generation() - before, 2u);
    EXPECT_EQ(line->recycleGeneration(), 1u);
    EXPECT_TRUE(line->isWrapped());
    EXPECT_EQ(line->semanticMarks().size(), 1u) << "marks are the recycler's to drop";
    for (const CharData& cell : line->cells()) {
        ASSERT_EQ(cell, CharData(background, 0, 1));
    }
}

TEST(BufferLine, TranslateToString) {
    BufferLinePtr line = BufferLine::create(10);
    writeText(*line, 0, "ab");
    writeText(*line, 3, "世x");
    line->set(7, CharData(Attribute(), 0xD800, 1));
    struct Case {
        const char* name;
        bool trimRight;
        int start, end;
        bool skipWide;
        std::u32string expected;
    };
    const Case cases[] = {
        {"whole row", false, 0, -1, false, std::u32string(U"ab\0世\0x\0 \0\0", 10)},
        {"trimmed", true, 0, -1, false, std::u32string(U"ab\0世\0x\0 ", 8)},
        {"without wide halves", true, 0, -1, true, std::u32string(U"ab\0世x\0 ", 7)},
        {"range", false, 1, 4, false, std::u32string(U"b\0世", 3)},
        {"empty range", false, 5, 5, false, U""},
        {"trim before the start", true, 9, -1, false, U""},
        {"end past the row", false, 8, 40, false, std::u32string(U"\0\0", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(line->translateToString(c.trimRight, c.start, c.end, c.skipWide), c.expected);
    }
    auto provider = [](const CharData& cell) {
        return cell.code() == 'a' ? std::u32string(U"e\u0301") : std::u32string(1, U'-');
    };
    EXPECT_EQ(line->translateToString(true, 0, 3, false, provider), U"e\u0301--");
}

TEST(BufferLine, CopyWithinARowMovesCellsAsABlock) {
    struct Case {
        int srcCol, dstCol, len;
        const char* expected;
    };
    const Case cases[] = {
        {0, 2, 5, "ABABCDEH"},
        {2, 0, 5, "CDEFGFGH"},
        {3, 3, 2, "ABCDEFGH"},
        // Clipped to the row: the copy stops at its end.
        {4, 6, 10, "ABCDEFEF"},
        {-2, 0, 4, "ABABEFGH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.srcCol) + " -> " + std::to_string(c.dstCol));
        BufferLinePtr line = row("ABCDEFGH");
        line->copyFrom(*line, c.srcCol, c.dstCol, c.len);
        EXPECT_EQ(text(*line), c.expected);
    }
}

TEST(BufferLine, CopyCarriesTheMarksOfTheRange) {
    BufferLinePtr source = row("ABCDEFGH");
    source->setSemanticMark(SemanticPromptKind::initial, 1, 4);
    source->setSemanticMark(SemanticPromptKind::right, 6, 4);
    BufferLinePtr destination = row("abcdefgh");
    destination->setSemanticMark(SemanticPromptKind::secondary, 5, 2);
    destination->setSemanticMark(SemanticPromptKind::initial, 0, 2);

    destination->copyFrom(*source, 0, 3, 4);
    EXPECT_EQ(text(*destination), "abcABCDh");
    // The destination's secondary mark lay in the overwritten range; its own initial mark stays
    // and the copied one of that kind is dropped.
    ASSERT_EQ(destination->semanticMarks().size(), 1u);
    EXPECT_EQ(destination->semanticMarks()[0], SemanticMark(SemanticPromptKind::initial, 0, 2));
    ASSERT_EQ(source->semanticMarks().size(), 1u) << "the source loses the marks it gave";
    EXPECT_EQ(source->semanticMarks()[0].kind(), SemanticPromptKind::right);

    BufferLinePtr fresh = row("12345678");
    fresh->copyFrom(*source, 4, 0, 4);
    EXPECT_EQ(fresh->semanticMarks(),
              (std::vector<SemanticMark>{SemanticMark(SemanticPromptKind::right, 2, 4)}));
}

TEST(BufferLine, WholeRowCopyMovesTheHardContinuationGroup) {
    BufferLinePtr source = row("ABCD");
    source->setSemanticHardContinuationGroup(9);
    BufferLinePtr destination = row("abcd");
    destination->copyFrom(*source, 0, 0, 4);
    EXPECT_EQ(destination->semanticHardContinuationGroup(), 9u);
    EXPECT_EQ(source->semanticHardContinuationGroup(), std::nullopt);

    BufferLinePtr partial = row("wxyz");
    destination->copyFrom(*partial, 1, 1, 3);
    EXPECT_EQ(destination->semanticHardContinuationGroup(), 9u) << "only whole rows move it";
}

TEST(BufferLine, CopyOfAWholeLineReusesTheBlockAndKeepsItsOwnLook) {
    BufferLinePtr target = BufferLine::create(10, fillCell);
    target->setRenderMode(BufferLine::RenderLineMode::doubledTop);
    target->attach(std::make_shared<FakeImage>());
    BufferLinePtr source = row("abc");
    source->setIsWrapped(true);
    source->setSemanticMark(SemanticPromptKind::initial, 1, 2);
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    source->setBidiState(rtl);

    target->copyFrom(*source);
    EXPECT_EQ(text(*target), "abc");
    EXPECT_EQ(target->capacity(), 10);
    EXPECT_TRUE(target->isWrapped());
    EXPECT_EQ(target->bidiState(), rtl);
    EXPECT_EQ(target->semanticMarks(), source->semanticMarks());
    EXPECT_EQ(target->renderMode(), BufferLine::RenderLineMode::doubledTop);
    EXPECT_TRUE(target->images().has_value());
    EXPECT_EQ(target->fillCharacter(), fillCell);

    BufferLinePtr small = BufferLine::create(2);
    small->copyFrom(*row("0123456"));
    EXPECT_EQ(small->capacity(), 7);
    EXPECT_EQ(text(*small), "0123456");
}

TEST(BufferLine, CopyReusingTakesOverASpareNobodyElseHolds) {
    BufferLinePtr templ = BufferLine::create(8, fillCell, true);
    templ->setSemanticMark(SemanticPromptKind::continuation, 3, 5);
    templ->bumpGeneration(7);

    BufferLinePtr spare = row("old text and more");
    spare->setSemanticHardContinuationGroup(4);
    spare->clear(Attribute());
    BufferLine* const spareObject = spare.get();
    const uint64_t oldSerial = spare->serial();

    BufferLinePtr copy = BufferLine::copyReusing(*templ, std::move(spare));
    EXPECT_EQ(copy.get(), spareObject);
    EXPECT_NE(copy->serial(), oldSerial) << "caches must not take it for the old line";
    // Exactly what a fresh copy is.
    BufferLinePtr fresh = BufferLine::create(*templ);
    EXPECT_EQ(copy->getData(), fresh->getData());
    EXPECT_EQ(copy->count(), 8);
    EXPECT_EQ(copy->generation(), 0u);
    EXPECT_EQ(copy->recycleGeneration(), 0u);
    EXPECT_TRUE(copy->isWrapped());
    EXPECT_EQ(copy->semanticMarks(), templ->semanticMarks());
    EXPECT_EQ(copy->semanticHardContinuationGroup(), std::nullopt);
    EXPECT_EQ(copy->fillCharacter(), fillCell);

    // A row somebody else still holds (a renderer cache, the prompt tracker) is left alone.
    BufferLinePtr held = row("held");
    BufferLinePtr holder = held;
    BufferLinePtr another = BufferLine::copyReusing(*templ, held);
    EXPECT_NE(another.get(), held.get());
    EXPECT_EQ(text(*holder), "held");
}

// A row reset in place as a copy (a region's scroll, an inserted line) is what a fresh copy is,
// whether the source holds cells of its own or only reads as its tail (the blank row).
TEST(BufferLine, ReuseAsCopyOfGivesWhatAFreshCopyGives) {
    struct Case {
        const char* name;
        std::function<BufferLinePtr()> source;
    };
    const Case cases[] = {
        {"a blank row", [] { return BufferLine::create(8, fillCell, true); }},
        {"a blank row wider than the block",
         [] { return BufferLine::create(40, fillCell); }},
        {"a blank row with marks",
         [] {
             BufferLinePtr line = BufferLine::create(8, fillCell);
             line->setSemanticMark(SemanticPromptKind::continuation, 3, 5);
             line->setSemanticHardContinuationGroup(5);
             return line;
         }},
        {"a row with text", [] { return row("text"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferLinePtr from = c.source();
        BufferLinePtr target = row("old text and more");
        target->setSemanticMark(SemanticPromptKind::initial, 1, 2);
        target->setSemanticHardContinuationGroup(2);
        target->setRenderMode(BufferLine::RenderLineMode::doubleWidth);
        target->setImages(BufferLine::Images{});
        target->clear(Attribute());
        const uint64_t oldSerial = target->serial();

        ASSERT_TRUE(target->reuseAsCopyOf(*from));
        BufferLinePtr fresh = BufferLine::create(*from);
        EXPECT_NE(target->serial(), oldSerial);
        EXPECT_EQ(target->count(), fresh->count());
        EXPECT_EQ(target->getData(), fresh->getData());
        EXPECT_EQ(target->fillCharacter(), fresh->fillCharacter());
        EXPECT_EQ(target->isWrapped(), fresh->isWrapped());
        EXPECT_EQ(target->bidiState(), fresh->bidiState());
        EXPECT_EQ(target->renderMode(), fresh->renderMode());
        EXPECT_EQ(target->semanticMarks(), fresh->semanticMarks());
        EXPECT_EQ(target->semanticHardContinuationGroup(), fresh->semanticHardContinuationGroup());
        EXPECT_EQ(target->hasImages(), fresh->hasImages());
        EXPECT_EQ(target->generation(), 0u);
        EXPECT_EQ(target->recycleGeneration(), 0u);
    }
    // A row someone else holds, or the source itself, is not reset.
    BufferLinePtr blank = BufferLine::create(8, fillCell);
    BufferLinePtr held = row("held");
    BufferLinePtr holder = held;
    EXPECT_FALSE(held->reuseAsCopyOf(*blank));
    EXPECT_EQ(text(*held), "held");
    EXPECT_FALSE(blank->reuseAsCopyOf(*blank));
}

TEST(BufferLine, FillRangesAreClippedToTheRow) {
    BufferLinePtr line = row("ABCDEFGH");
    line->fill(fillCell, 6, 10);
    EXPECT_EQ(text(*line), "ABCDEF..");
    line->fill(fillCell, -3, 4);
    EXPECT_EQ(text(*line), ".BCDEF..");
    line->fill(fillCell, 20, 4);
    line->fill(fillCell, 2, -4);
    EXPECT_EQ(text(*line), ".BCDEF..");
}

namespace {

// A row against a plain vector of cells: every operation applied to both, then every read of the
// row compared with the vector. The row keeps the end of its cells as an unwritten tail until
// something reads or writes there; no sequence of operations may let that show.
struct RowModel {
    std::vector<CharData> cells;

    int trimmedLength() const {
        for (int i = int(cells.size()) - 1; i >= 0; --i) {
            if (cells[size_t(i)].code() != 0) {
                return i + cells[size_t(i)].width();
            }
        }
        return 0;
    }
    bool hasAnyContent() const {
        return std::any_of(cells.begin(), cells.end(), [](const CharData& c) {
            return c.code() != 0 || c.attribute() != Attribute();
        });
    }
};

void expectSame(const BufferLine& line, const RowModel& model, bool readBlock) {
    ASSERT_EQ(line.count(), int(model.cells.size()));
    for (int i = 0; i < line.count(); ++i) {
        ASSERT_EQ(line[i], model.cells[size_t(i)]) << "cell " << i;
    }
    EXPECT_EQ(line.getTrimmedLength(), model.trimmedLength());
    EXPECT_EQ(line.hasAnyContent(), model.hasAnyContent());
    if (readBlock) {
        const auto cells = line.cells();
        ASSERT_TRUE(std::equal(cells.begin(), cells.end(), model.cells.begin(), model.cells.end()));
    }
}

} // namespace

TEST(BufferLine, TheUnwrittenTailIsNeverVisible) {
    std::mt19937 random(5);
    const auto cellFor = [&](int kind) {
        const Attribute attribute(Color::ansi256(uint8_t(kind % 3)), Color::defaultColor);
        return kind == 0 ? CharData::Null : CharData(attribute, 'a' + kind % 26, 1);
    };
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const int width = int(random() % 24);
        const CharData fill = cellFor(int(random() % 4));
        BufferLinePtr line = BufferLine::create(width, fill);
        BufferLinePtr other = BufferLine::create(int(random() % 24), cellFor(int(random() % 4)));
        RowModel model{std::vector<CharData>(size_t(width), fill)};
        RowModel otherModel{std::vector<CharData>(size_t(other->count()), (*other)[0])};
        if (other->count() == 0) {
            otherModel.cells.clear();
        }
        for (int step = 0; step < 30; ++step) {
            SCOPED_TRACE(step);
            const int count = line->count();
            const int a = int(random() % 30) - 3;
            const int b = int(random() % 30) - 3;
            const CharData cell = cellFor(int(random() % 30));
            switch (random() % 10) {
            case 0:
                if (count > 0 && a >= 0 && a < count) {
                    line->set(a, cell);
                    model.cells[size_t(a)] = cell;
                }
                break;
            case 1: {
                line->replaceCells(a, b, cell);
                for (int i = std::max(a, 0); i < std::min(b, count); ++i) {
                    model.cells[size_t(i)] = cell;
                }
                break;
            }
            case 2:
                line->fill(cell);
                std::fill(model.cells.begin(), model.cells.end(), cell);
                break;
            case 3: {
                line->fill(cell, a, b);
                const int start = std::clamp(a, 0, count);
                const int end = std::clamp(a + std::max(b, 0), start, count);
                std::fill(model.cells.begin() + start, model.cells.begin() + end, cell);
                break;
            }
            case 4: {
                const int cols = std::abs(a) % 26;
                line->resize(cols, cell);
                model.cells.resize(size_t(cols), cell);
                break;
            }
            case 5:
            case 6: {
                const bool insert = random() % 2 == 0;
                const int n = std::abs(b) % 8;
                const int margin = std::min(int(random() % 26), count - 1);
                if (insert) {
                    line->insertCells(a, n, margin, cell);
                } else {
                    line->deleteCells(a, n, margin, cell);
                }
                if (a >= 0 && a <= margin) {
                    std::vector<CharData>& c = model.cells;
                    const int region = margin + 1 - a;
                    const int k = std::min(n, region);
                    if (insert) {
                        std::copy_backward(c.begin() + a, c.begin() + margin + 1 - k,
                                           c.begin() + margin + 1);
                        std::fill(c.begin() + a, c.begin() + a + k, cell);
                    } else {
                        std::copy(c.begin() + a + k, c.begin() + margin + 1, c.begin() + a);
                        std::fill(c.begin() + margin + 1 - k, c.begin() + margin + 1, cell);
                    }
                }
                break;
            }
            case 7: {
                // A copy between rows or within one, ranges clipped to both.
                const bool self = random() % 2 == 0;
                BufferLine& source = self ? *line : *other;
                std::vector<CharData> from = self ? model.cells : otherModel.cells;
                int srcCol = a;
                int dstCol = b;
                int len = int(random() % 12);
                line->copyFrom(source, srcCol, dstCol, len);
                if (srcCol < 0) {
                    len += srcCol;
                    dstCol -= srcCol;
                    srcCol = 0;
                }
                if (dstCol < 0) {
                    len += dstCol;
                    srcCol -= dstCol;
                    dstCol = 0;
                }
                len = std::max(0, std::min({len, int(from.size()) - srcCol, count - dstCol}));
                for (int i = 0; i < len; ++i) {
                    model.cells[size_t(dstCol + i)] = from[size_t(srcCol + i)];
                }
                break;
            }
            case 8:
                line->clear(cell.attribute());
                std::fill(model.cells.begin(), model.cells.end(), CharData(cell.attribute(), 0, 1));
                break;
            default: {
                // A whole-row copy, then a recycle through a ring of one row.
                BufferLinePtr copy = BufferLine::create(*line);
                RowModel copyModel = model;
                expectSame(*copy, copyModel, false);
                CircularBufferLineList ring(1);
                ring.push(copy);
                ring.recycle(cell.attribute());
                std::fill(copyModel.cells.begin(), copyModel.cells.end(),
                          CharData(cell.attribute(), 0, 1));
                expectSame(*copy, copyModel, random() % 2 == 0);
                break;
            }
            }
            expectSame(*line, model, step % 5 == 4);
        }
    }
}
