#include "UnicodeUtil.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>

using namespace veldatron;

TEST(UnicodeUtil, WidthsOfSampleScalars) {
    struct Case {
        char32_t rune;
        int width;
    };
    const Case cases[] = {
        {0x0000, 0},
        {0x001B, -1},
        {0x0085, -1},
        {0x0041, 1},
        {0x0301, 0},
        {0x00AD, 1},
        {0x200B, 0},
        {0x2028, 0},
        {0x1100, 2},
        {0x1160, 0},
        {0xAC00, 2},
        {0xD7B0, 0},
        {0xFF3E, 2},
        {0x1F1E6, 2},
        {0x1F600, 2},
        {0x1F3FB, 0},
        {0x20000, 2},
        {0x3FFFD, 2},
        {0xE000, 1},
        // Beyond the sample list: the other two wide modifier symbols, a plain one, DEL and
        // the first C1, a mark added in Unicode 17 and an unassigned code point.
        {0xFF40, 2},
        {0xFFE3, 2},
        {0x005E, 1},
        {0x007F, -1},
        {0x0080, -1},
        {0x1ACF, 0},
        {0x0378, 1},
        {0x10FFFF, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnicodeUtil::computeColumnWidth(c.rune), c.width) << std::hex << uint32_t(c.rune);
        EXPECT_EQ(UnicodeUtil::columnWidth(c.rune), c.width) << std::hex << uint32_t(c.rune);
    }
}

// The print path reads the table; the rules are the definition. They must agree everywhere.
TEST(UnicodeUtil, TableAgreesWithTheRulesForEveryCodePoint) {
    int mismatches = 0;
    for (char32_t rune = 0; rune <= 0x10FFFF; ++rune) {
        const int fast = UnicodeUtil::columnWidth(rune);
        const int slow = UnicodeUtil::computeColumnWidth(rune);
        if (fast != slow && ++mismatches <= 10) {
            ADD_FAILURE() << std::hex << "U+" << uint32_t(rune) << ": table " << fast << ", rules "
                          << slow;
        }
        if (rune < 8192) {
            ASSERT_EQ(UnicodeUtil::lowPlaneWidths[rune], slow) << std::hex << uint32_t(rune);
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(UnicodeUtil::columnWidth(0x110000), 1);
}

// The print path decides from the width alone whether a scalar may join the cell before it:
// zero-width scalars may, and it relies on no scalar with a width of its own having a non-zero
// combining class, and on every joiner (ZWJ, variation selectors, skin tones) being zero-width.
// A new Unicode version or ICU that broke either would make it print a mark as a cell of its own.
TEST(UnicodeUtil, OnlyZeroWidthScalarsCanJoinTheCellBefore) {
    int mismatches = 0;
    for (char32_t rune = 0; rune <= 0x10FFFF; ++rune) {
        if (UnicodeUtil::columnWidth(rune) >= 1 && u_getCombiningClass(UChar32(rune)) != 0 &&
            ++mismatches <= 10) {
            ADD_FAILURE() << std::hex << "U+" << uint32_t(rune) << " has a width and class "
                          << int(u_getCombiningClass(UChar32(rune)));
        }
    }
    EXPECT_EQ(mismatches, 0);
    const std::pair<char32_t, char32_t> joiners[] = {
        {0x200D, 0x200D}, {0xFE00, 0xFE0F},   {0x180B, 0x180D},
        {0x180F, 0x180F}, {0xE0100, 0xE01EF}, {0x1F3FB, 0x1F3FF},
    };
    for (const auto& [first, last] : joiners) {
        for (char32_t rune = first; rune <= last; ++rune) {
            EXPECT_EQ(UnicodeUtil::columnWidth(rune), 0) << std::hex << uint32_t(rune);
        }
    }
}

TEST(UnicodeUtil, RangeTablesAreSortedAndDisjoint) {
    struct Case {
        const char* name;
        std::span<const UnicodeUtil::LH> table;
        size_t size;
        UnicodeUtil::LH firstRange;
        UnicodeUtil::LH lastRange;
    };
    const Case cases[] = {
        {"eastAsianWide",
         UnicodeWidthData::eastAsianWide,
         123,
         {0x1100, 0x115F},
         {0x30000, 0x3FFFD}},
        {"emojiVs16Base", UnicodeWidthData::emojiVs16Base, 183, {0x23, 0x23}, {0x1F6F3, 0x1F6F3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.table.size(), c.size);
        EXPECT_EQ(c.table.front().lo, c.firstRange.lo);
        EXPECT_EQ(c.table.front().hi, c.firstRange.hi);
        EXPECT_EQ(c.table.back().lo, c.lastRange.lo);
        EXPECT_EQ(c.table.back().hi, c.lastRange.hi);
        for (size_t i = 0; i < c.table.size(); ++i) {
            EXPECT_LE(c.table[i].lo, c.table[i].hi) << i;
            if (i > 0) {
                EXPECT_GT(c.table[i].lo, c.table[i - 1].hi) << i;
            }
        }
        const int max = int(c.size) - 1;
        EXPECT_TRUE(UnicodeUtil::bisearch(c.firstRange.lo, c.table, max));
        EXPECT_TRUE(UnicodeUtil::bisearch(c.firstRange.hi, c.table, max));
        EXPECT_TRUE(UnicodeUtil::bisearch(c.lastRange.lo, c.table, max));
        EXPECT_TRUE(UnicodeUtil::bisearch(c.lastRange.hi, c.table, max));
        EXPECT_FALSE(UnicodeUtil::bisearch(c.firstRange.lo - 1, c.table, max));
        EXPECT_FALSE(UnicodeUtil::bisearch(c.lastRange.hi + 1, c.table, max));
        // Between two ranges.
        EXPECT_FALSE(UnicodeUtil::bisearch(c.table[1].lo - 1, c.table, max));
        // Ranges past `max` are not searched.
        EXPECT_FALSE(UnicodeUtil::bisearch(c.lastRange.lo, c.table, max - 1));
    }
    EXPECT_TRUE(UnicodeUtil::bisearch(0x2764, UnicodeWidthData::emojiVs16Base, 182));
    EXPECT_FALSE(UnicodeUtil::bisearch(0x2765, UnicodeWidthData::emojiVs16Base, 182));
    EXPECT_FALSE(UnicodeUtil::bisearch(0x41, {}, 0));
}

TEST(UnicodeUtil, Utf8LeadByteTable) {
    struct Case {
        int from;
        int to;
        uint8_t entry;
    };
    const Case cases[] = {
        {0x00, 0x7F, 0xF0}, {0x80, 0xC1, 0xF1}, {0xC2, 0xDF, 0x02}, {0xE0, 0xE0, 0x13},
        {0xE1, 0xEC, 0x03}, {0xED, 0xED, 0x23}, {0xEE, 0xEF, 0x03}, {0xF0, 0xF0, 0x34},
        {0xF1, 0xF3, 0x04}, {0xF4, 0xF4, 0x44}, {0xF5, 0xFF, 0xF1},
    };
    int covered = 0;
    for (const Case& c : cases) {
        for (int b = c.from; b <= c.to; ++b, ++covered) {
            EXPECT_EQ(UnicodeUtil::first[size_t(b)], c.entry) << std::hex << b;
        }
    }
    EXPECT_EQ(covered, 256);
}

TEST(UnicodeUtil, TextPresentation) {
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation(U"1")) << "emoji, but below U+0100";
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation(U"\U0001F600")) << "emoji presentation";
    EXPECT_TRUE(UnicodeUtil::prefersTextPresentation(U"\u2764"));
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation(U"\u2764\uFE0F")) << "two scalars";
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation(U"A"));
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation(U""));
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted(U"\u2764"), U"\u2764\uFE0E");
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted(U"\U0001F600"), U"\U0001F600");
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted(U"x"), U"x");
}

TEST(UnicodeUtil, RowColumnDiacritics) {
    const auto table = UnicodeUtil::rowColumnDiacritics;
    EXPECT_TRUE(std::is_sorted(table.begin(), table.end()));
    EXPECT_EQ(table.front(), U'\u0305');
    EXPECT_EQ(table[1], U'\u030D');
    EXPECT_EQ(table.back(), U'\U0001D244');
    EXPECT_EQ(UnicodeUtil::rowColumnDiacriticIndex(0x0305), 0);
    EXPECT_EQ(UnicodeUtil::rowColumnDiacriticIndex(0x030E), 2);
    EXPECT_EQ(UnicodeUtil::rowColumnDiacriticIndex(0x1D244), 296);
    EXPECT_EQ(UnicodeUtil::rowColumnDiacriticIndex(0x0300), -1) << "left out: it composes";
    EXPECT_EQ(UnicodeUtil::rowColumnDiacriticIndex(0x0041), -1);
    for (size_t i = 0; i < table.size(); ++i) {
        ASSERT_EQ(UnicodeUtil::rowColumnDiacriticIndex(table[i]), int(i));
        ASSERT_EQ(UnicodeUtil::computeColumnWidth(table[i]), 0) << "a diacritic is a mark";
    }
}

TEST(UnicodeUtil, AppendUtf8) {
    std::string out;
    for (char32_t c : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600'}) {
        UnicodeUtil::appendUtf8(out, c);
    }
    EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    out.clear();
    UnicodeUtil::appendUtf8(out, 0xD800);
    UnicodeUtil::appendUtf8(out, 0x110000);
    EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}
