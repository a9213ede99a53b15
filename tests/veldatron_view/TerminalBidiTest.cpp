// Bidirectional layout of terminal rows: the visual order of mixed rows, paragraphs over
// wrapped rows, mirroring, explicit mode, the paragraph caches and the dirty-row widening.

#include "Buffer.h"
#include "Terminal.h"
#include "TerminalBidi.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

// A terminal without a view; the bidirectional caches start empty.
class BidiTest : public ::testing::Test {
protected:
    BidiTest() { TerminalBidi::clearCaches(); }

    Terminal& make(int cols, int rows = 6, int maximumParagraphRows = 500) {
        TerminalOptions options;
        options.cols = cols;
        options.rows = rows;
        options.maximumBidiParagraphRows = maximumParagraphRows;
        m_terminal = std::make_unique<Terminal>(nullptr, options);
        return *m_terminal;
    }
    Terminal& terminal() { return *m_terminal; }
    Buffer& buffer() { return m_terminal->buffer(); }

    std::shared_ptr<const TerminalBidi::ParagraphResult> paragraph(int row) {
        return TerminalBidi::paragraphResult(row, buffer(), terminal().cols(), terminal(), 1);
    }
    std::shared_ptr<const BidiRowLayout> layout(int row) {
        const auto result = paragraph(row);
        return result ? result->row(row) : nullptr;
    }

    std::unique_ptr<Terminal> m_terminal;
};

// The logical columns of a row's cells, left to right.
std::vector<int> visualOrder(const BidiRowLayout& layout) {
    std::vector<int> out;
    for (const BidiCell& cell : layout.visualCells) {
        out.push_back(cell.logicalCol);
    }
    return out;
}

// What the row shows at each logical column that has a substitute.
std::map<int, std::u32string> displays(const BidiRowLayout& layout) {
    std::map<int, std::u32string> out;
    for (const BidiCell& cell : layout.visualCells) {
        if (cell.display) {
            out[cell.logicalCol] = *cell.display;
        }
    }
    return out;
}

// Hebrew alef, bet, gimel; Arabic alef, lam, beh.
#define ALEF "\xd7\x90"
#define BET "\xd7\x91"
#define GIMEL "\xd7\x92"
#define AR_ALEF "\xd8\xa7"
#define AR_LAM "\xd9\x84"
#define AR_BEH "\xd8\xa8"

TEST_F(BidiTest, MixedRowsTakeTheirVisualOrder) {
    struct Case {
        const char* name;
        int cols;
        const char* text;
        BidiDirection base;
        std::vector<int> order;
    };
    const Case cases[] = {
        {"Latin first: a Hebrew run and the digits after it",
         12,
         "abc " ALEF BET GIMEL " 123",
         BidiDirection::leftToRight,
         {0, 1, 2, 3, 8, 9, 10, 7, 6, 5, 4, 11}},
        {"Hebrew first: Latin with the digits after it is one run inside the reversed row",
         10,
         ALEF BET " ab 12",
         BidiDirection::rightToLeft,
         {9, 8, 3, 4, 5, 6, 7, 2, 1, 0}},
        {"Arabic with digits: the number reads left to right",
         8,
         AR_ALEF AR_LAM " 123",
         BidiDirection::rightToLeft,
         {7, 6, 3, 4, 5, 2, 1, 0}},
        {"Two Hebrew letters: the blank columns stand right of them, drawn first",
         5,
         ALEF BET,
         BidiDirection::rightToLeft,
         {4, 3, 2, 1, 0}},
        {"Digits, then Hebrew: the paragraph is right to left",
         8,
         "12 " ALEF BET,
         BidiDirection::rightToLeft,
         {7, 6, 5, 4, 3, 2, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        make(c.cols);
        terminal().feed(c.text);
        const auto result = layout(0);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->baseDirection, c.base);
        EXPECT_EQ(visualOrder(*result), c.order);
        // The two maps are inverse: each visual column shows the cell at its logical column.
        for (int v = 0; v < c.cols; ++v) {
            EXPECT_EQ(result->logicalToVisualCol[size_t(result->visualToLogicalCol[size_t(v)])], v);
        }
    }
}

TEST_F(BidiTest, ALatinParagraphHasNothingToLayOut) {
    make(10);
    terminal().feed("plain text");
    const auto result = paragraph(0);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->rowsByOffset.empty());
    EXPECT_EQ(result->baseDirection, BidiDirection::leftToRight);
    EXPECT_FALSE(result->row(0));
    EXPECT_EQ(TerminalBidi::cacheStatistics().builds, 0u) << "no cells collected, no layout";
}

TEST_F(BidiTest, AWideCellCoversTwoColumnsInBothMaps) {
    make(10);
    // Six Hebrew letters, then a wide character at columns 6 and 7.
    terminal().feed(ALEF BET GIMEL ALEF BET GIMEL "\xe4\xb8\xad");
    const auto result = layout(0);
    ASSERT_TRUE(result);
    EXPECT_EQ(visualOrder(*result), (std::vector<int>{9, 8, 6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(result->logicalToVisualCol[6], 2);
    EXPECT_EQ(result->logicalToVisualCol[7], 3);
    EXPECT_EQ(result->visualToLogicalCol[2], 6);
    EXPECT_EQ(result->visualToLogicalCol[3], 6);
    EXPECT_EQ(result->visualCells[2].width, 2);
}

TEST_F(BidiTest, AParagraphWrappedOverRowsIsLaidOutAsOne) {
    make(6);
    // Digits fill the first row; the Hebrew on the second decides the direction of both.
    terminal().feed("12345 " ALEF BET GIMEL);
    ASSERT_TRUE(buffer().lines()[1].isWrapped());
    const auto first = layout(0);
    const auto second = layout(1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->baseDirection, BidiDirection::rightToLeft);
    EXPECT_EQ(second->baseDirection, BidiDirection::rightToLeft);
    // The row's final blank goes to the left edge; the number keeps its order.
    EXPECT_EQ(visualOrder(*first), (std::vector<int>{5, 0, 1, 2, 3, 4}));
    EXPECT_EQ(visualOrder(*second), (std::vector<int>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(first->paragraphRevision, second->paragraphRevision);
    EXPECT_EQ(first->paragraphRevision, TerminalBidi::layoutRevision(0, buffer(), 500));
    EXPECT_EQ(TerminalBidi::paragraphBounds(1, buffer(), 500), std::pair(0, 1));
}

TEST_F(BidiTest, AWordAtTheEdgeOfARowJoinsTheNextRow) {
    make(4);
    terminal().feed(AR_BEH AR_BEH AR_BEH AR_BEH AR_BEH AR_BEH);
    const auto first = layout(0);
    const auto second = layout(1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(displays(*first),
              (std::map<int, std::u32string>{
                  {0, U"\uFE91"}, {1, U"\uFE92"}, {2, U"\uFE92"}, {3, U"\uFE92"}}));
    EXPECT_EQ(displays(*second), (std::map<int, std::u32string>{{0, U"\uFE92"}, {1, U"\uFE90"}}));
    // The word reads from the right edge of the first row on.
    EXPECT_EQ(visualOrder(*first), (std::vector<int>{3, 2, 1, 0}));
}

TEST_F(BidiTest, PairedCharactersAreMirroredInRightToLeftRunsOnly) {
    make(8);
    terminal().feed(ALEF "(" BET ")\r\n");
    terminal().feed("a(b) " ALEF "\r\n");
    const auto rtl = layout(0);
    ASSERT_TRUE(rtl);
    EXPECT_EQ(displays(*rtl), (std::map<int, std::u32string>{{1, U")"}, {3, U"("}}));
    const auto ltr = layout(1);
    ASSERT_TRUE(ltr);
    EXPECT_TRUE(displays(*ltr).empty());

    // Box drawing only with box mirroring on.
    make(8);
    terminal().feed(ALEF "\xe2\x94\x8c\r\n");
    EXPECT_TRUE(displays(*layout(0)).empty());
    terminal().feed("\x1b[?2500h" ALEF "\xe2\x94\x8c");
    EXPECT_EQ(displays(*layout(1)), (std::map<int, std::u32string>{{1, U"\u2510"}}));
}

TEST_F(BidiTest, ExplicitRightToLeftRowsAreReversedWithoutShaping) {
    make(6);
    // Explicit mode, right to left.
    terminal().feed("\x1b[8l\x1b[2 ka(" AR_BEH AR_BEH);
    EXPECT_FALSE(paragraph(0)) << "explicit rows have no paragraph layout";
    EXPECT_EQ(TerminalBidi::layoutRevision(0, buffer(), 500), 0u);
    const auto reversed =
        TerminalBidi::explicitRightToLeftLayout(0, buffer(), terminal().cols(), terminal());
    ASSERT_TRUE(reversed);
    EXPECT_EQ(visualOrder(*reversed), (std::vector<int>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(reversed->baseDirection, BidiDirection::rightToLeft);
    // Latin is reversed too; the Arabic letters keep their own characters.
    EXPECT_EQ(displays(*reversed), (std::map<int, std::u32string>{{1, U")"}}));
    EXPECT_EQ(reversed->paragraphRevision, buffer().lines()[0].generation());
}

TEST_F(BidiTest, AnEmptyRowOfARightToLeftParagraphShowsItsColumnsReversed) {
    make(5);
    // Right to left by setting, detection off.
    terminal().feed("\x1b[?2501l\x1b[2 k");
    const auto result = layout(0);
    ASSERT_TRUE(result);
    EXPECT_EQ(visualOrder(*result), (std::vector<int>{4, 3, 2, 1, 0}));
    EXPECT_EQ(result->logicalToVisualCol, (std::vector<int>{4, 3, 2, 1, 0}));
}

TEST_F(BidiTest, TheBaseDirectionFromMarksAndTheFirstLetter) {
    const auto cellsOf = [](std::vector<std::u32string> texts) {
        std::vector<TerminalBidi::Cell> out;
        for (auto& text : texts) {
            out.push_back({0, int(out.size()), 1, text});
        }
        return out;
    };
    const auto ltr = BidiDirection::leftToRight;
    const auto rtl = BidiDirection::rightToLeft;
    EXPECT_EQ(TerminalBidi::detectedBaseDirection(cellsOf({U"\u200E", U"\u0628"}), rtl), ltr);
    EXPECT_EQ(TerminalBidi::detectedBaseDirection(cellsOf({U"a\u200F", U"\u0628"}), rtl), ltr)
        << "a letter before the mark decides";
    EXPECT_EQ(TerminalBidi::detectedBaseDirection(cellsOf({U"\u200F", U"a"}), ltr), rtl);
    EXPECT_EQ(TerminalBidi::detectedBaseDirection(cellsOf({U"1", U"2", U"\u05D0"}), ltr), rtl);
    EXPECT_EQ(TerminalBidi::detectedBaseDirection(cellsOf({U"1", U"-", U" "}), rtl), rtl)
        << "nothing decides: the fallback";
}

TEST_F(BidiTest, EachCellStandsForOneUnitOfTheProbeString) {
    EXPECT_EQ(TerminalBidi::probeScalar(U""), u' ');
    EXPECT_EQ(TerminalBidi::probeScalar(U"a"), u'a');
    EXPECT_EQ(TerminalBidi::probeScalar(U"\u0301"), u'\u00B7') << "a mark";
    EXPECT_EQ(TerminalBidi::probeScalar(U"\u0628\u064E"), u'\u0621') << "an Arabic letter";
    EXPECT_EQ(TerminalBidi::probeScalar(U"\u200D"), u'\u0621');
    EXPECT_EQ(TerminalBidi::probeScalar(U"\u05D0"), u'\u05D0');
    EXPECT_EQ(TerminalBidi::probeScalar(U"\U00010900"), u'\u200F') << "Phoenician";
    EXPECT_EQ(TerminalBidi::probeScalar(U"\U0001F600"), u'\u00B7');
}

TEST_F(BidiTest, ParagraphsLongerThanTheLimitAreNotLaidOut) {
    make(3, 8, 3);
    terminal().feed(ALEF BET GIMEL ALEF BET GIMEL ALEF BET GIMEL ALEF);
    ASSERT_TRUE(buffer().lines()[3].isWrapped());
    EXPECT_FALSE(paragraph(1));
    EXPECT_EQ(TerminalBidi::layoutRevision(1, buffer(), 3), 0u);
    EXPECT_TRUE(TerminalBidi::paragraphBounds(1, buffer(), 4));
    // A limit of 0 or below allows single rows only.
    EXPECT_FALSE(TerminalBidi::paragraphBounds(1, buffer(), 0));
    EXPECT_EQ(TerminalBidi::paragraphBounds(5, buffer(), 0), std::pair(5, 5));
    // Row 0 always starts a paragraph.
    buffer().lines()[0].setIsWrapped(true);
    EXPECT_EQ(TerminalBidi::paragraphBounds(0, buffer(), 500), std::pair(0, 3));
}

TEST_F(BidiTest, CachesServeUnchangedParagraphsAndMissChangedOnes) {
    make(8);
    terminal().feed(ALEF BET "\r\n\r\nabc");
    const auto first = paragraph(0);
    const TerminalBidi::CacheStatistics built = TerminalBidi::cacheStatistics();
    EXPECT_EQ(built.builds, 1u);

    // Another paragraph changes: the same result.
    terminal().feed("\x1b[3;1Hxyz");
    EXPECT_EQ(paragraph(0), first);
    EXPECT_EQ(TerminalBidi::cacheStatistics().identityHits, built.identityHits + 1);

    // The same text written again changes the row's revision only: the content cache serves
    // it, with the new revision.
    terminal().feed("\x1b[1;1H" ALEF);
    const auto rewritten = paragraph(0);
    EXPECT_NE(rewritten, first);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentHits, built.contentHits + 1);
    EXPECT_EQ(TerminalBidi::cacheStatistics().builds, 1u);
    EXPECT_EQ(visualOrder(*rewritten->row(0)), visualOrder(*first->row(0)));
    EXPECT_NE(rewritten->row(0)->paragraphRevision, first->row(0)->paragraphRevision);
    EXPECT_EQ(rewritten->row(0)->paragraphRevision, TerminalBidi::layoutRevision(0, buffer(), 500));

    // A changed cell misses both caches.
    terminal().feed("\x1b[1;1H" GIMEL);
    const auto changed = paragraph(0);
    EXPECT_EQ(TerminalBidi::cacheStatistics().builds, 2u);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentHits, built.contentHits + 1);
    EXPECT_NE(changed->row(0)->paragraphRevision, rewritten->row(0)->paragraphRevision);
}

TEST_F(BidiTest, AFullCacheIsEmptiedBeforeTheNextParagraphIsStored) {
    TerminalOptions options;
    options.cols = 10;
    options.rows = 5;
    options.scrollback = 400;
    m_terminal = std::make_unique<Terminal>(nullptr, options);
    for (int i = 0; i < int(TerminalBidi::cacheLimit) + 1; ++i) {
        terminal().feed(ALEF + std::to_string(i) + "\r\n");
    }
    for (int row = 0; row < int(TerminalBidi::cacheLimit); ++row) {
        ASSERT_TRUE(layout(row));
    }
    EXPECT_EQ(TerminalBidi::cacheStatistics().paragraphCacheSize, TerminalBidi::cacheLimit);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentCacheSize, TerminalBidi::cacheLimit);
    ASSERT_TRUE(layout(int(TerminalBidi::cacheLimit)));
    EXPECT_EQ(TerminalBidi::cacheStatistics().paragraphCacheSize, 1u);
    EXPECT_EQ(TerminalBidi::cacheStatistics().contentCacheSize, 1u);
}

TEST_F(BidiTest, DirtyRowsWidenToWholeParagraphs) {
    make(4, 25);
    // Rows 10-14 and 20-22 are paragraphs of wrapped rows.
    terminal().feed("\x1b[11;1H" + std::string(20, 'x'));
    terminal().feed("\x1b[21;1H" + std::string(12, 'y'));
    ASSERT_TRUE(buffer().lines()[14].isWrapped());
    ASSERT_FALSE(buffer().lines()[15].isWrapped());
    EXPECT_EQ(TerminalBidi::renderingDependencyRange(12, 12, buffer(), 500), std::pair(10, 14));
    EXPECT_EQ(TerminalBidi::renderingDependencyRange(12, 20, buffer(), 500), std::pair(10, 22));
    EXPECT_EQ(TerminalBidi::renderingDependencyRange(16, 17, buffer(), 500), std::pair(16, 17));
    // Out of range ends are clamped to the buffer.
    EXPECT_EQ(TerminalBidi::renderingDependencyRange(-3, 99, buffer(), 500), std::pair(0, 24));
}

TEST_F(BidiTest, OnlyRowsWithRightToLeftScalarsMayNeedLayout) {
    make(6);
    terminal().feed("abc\r\nab" ALEF "\r\na\xd6\x91\r\n");
    EXPECT_FALSE(TerminalBidi::mayNeedBidi(buffer().lines()[0], 6, terminal()));
    EXPECT_TRUE(TerminalBidi::mayNeedBidi(buffer().lines()[1], 6, terminal()));
    EXPECT_FALSE(TerminalBidi::mayNeedBidi(buffer().lines()[1], 2, terminal()))
        << "beyond the columns asked for";
    // A cluster with a Hebrew accent.
    EXPECT_TRUE(TerminalBidi::mayNeedBidi(buffer().lines()[2], 6, terminal()));
}

} // namespace
