#include "CharSets.h"

#include <gtest/gtest.h>

using namespace veldatron;

TEST(CharSets, DesignatorsAndTheirTableSizes) {
    struct Case {
        char designator;
        size_t entries;
    };
    const Case cases[] = {
        {'0', 31}, {'2', 31}, {'A', 1},  {'B', 0},  {'4', 9},  {'C', 9},
        {'5', 9},  {'R', 9},  {'Q', 10}, {'K', 8},  {'Y', 10}, {'E', 10},
        {'6', 10}, {'Z', 8},  {'H', 10}, {'7', 10}, {'=', 12},
    };
    for (const Case& c : cases) {
        const CharSetTable* table = CharSets::all(uint8_t(c.designator));
        ASSERT_NE(table, nullptr) << c.designator;
        EXPECT_EQ(table->count(), c.entries) << c.designator;
    }
    for (char absent : {'1', '<', '>', 'b', '\0', '3'}) {
        EXPECT_EQ(CharSets::all(uint8_t(absent)), nullptr) << int(absent);
    }
    EXPECT_EQ(CharSets::all(0xC0), nullptr);
}

TEST(CharSets, SharedDesignatorsShareOneTable) {
    EXPECT_EQ(CharSets::all('0'), CharSets::all('2'));
    EXPECT_EQ(CharSets::all('C'), CharSets::all('5'));
    EXPECT_EQ(CharSets::all('E'), CharSets::all('6'));
    EXPECT_EQ(CharSets::all('H'), CharSets::all('7'));
    EXPECT_NE(CharSets::all('C'), CharSets::all('H'));
}

TEST(CharSets, UnitedStatesIsEmptyUnlikeNoSet) {
    const CharSetTable* us = CharSets::all('B');
    ASSERT_NE(us, nullptr);
    EXPECT_TRUE(us->isEmpty());
    for (int b = 0; b < 256; ++b) {
        EXPECT_FALSE(us->contains(uint8_t(b)));
    }
    EXPECT_FALSE(CharSets::all('0')->isEmpty());
}

TEST(CharSets, DecSpecialGraphics) {
    const CharSetTable& graphics = *CharSets::all('0');
    EXPECT_FALSE(graphics.contains(0x5F)) << "underscore prints as itself";
    for (int b = 0x60; b <= 0x7E; ++b) {
        EXPECT_TRUE(graphics.contains(uint8_t(b))) << b;
    }
    EXPECT_FALSE(graphics.contains(0x7F));
    const std::pair<char, char32_t> samples[] = {
        {'`', U'\u25C6'}, {'a', U'\u2592'}, {'j', U'\u2518'}, {'l', U'\u250C'}, {'o', U'\u23BA'},
        {'q', U'\u2500'}, {'s', U'\u23BD'}, {'x', U'\u2502'}, {'{', U'\u03C0'}, {'~', U'\u00B7'},
    };
    for (const auto& [byte, glyph] : samples) {
        EXPECT_EQ(graphics.replacement(uint8_t(byte)), glyph) << byte;
    }
}

TEST(CharSets, NationalReplacements) {
    struct Case {
        char designator;
        char byte;
        char32_t replacement; // 0: prints as itself
    };
    const Case cases[] = {
        {'A', '#', U'£'}, {'A', '@', 0},    {'4', ']', U'|'}, {'4', '|', U'f'}, {'4', '[', U'ĳ'},
        {'4', '^', 0},    {'C', '`', U'é'}, {'C', '#', 0},    {'R', '~', U'¨'}, {'Q', '^', U'î'},
        {'K', '~', U'ß'}, {'K', '`', 0},    {'Y', '`', U'ù'}, {'E', '@', U'Ä'}, {'Z', '~', 0},
        {'Z', '[', U'¡'}, {'H', '@', U'É'}, {'=', '_', U'è'}, {'=', '#', U'ù'}, {'=', '~', U'û'},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CharSets::all(uint8_t(c.designator))->replacement(uint8_t(c.byte)), c.replacement)
            << c.designator << " " << c.byte;
    }
}
