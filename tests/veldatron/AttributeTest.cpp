#include "Attribute.h"
#include "UnderlineColorTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unordered_set>
#include <vector>

using namespace veldatron;

namespace {

using Color = Attribute::Color;

std::vector<Color> sampleColors() {
    return {Color::defaultColor,
            Color::defaultInvertedColor,
            Color::ansi256(0),
            Color::ansi256(255),
            Color::trueColor(0, 0, 0),
            Color::trueColor(255, 255, 255),
            Color::trueColor(0x12, 0x34, 0x56)};
}

std::vector<std::optional<Color>> sampleUnderlineColors() {
    std::vector<std::optional<Color>> out = {std::nullopt};
    for (Color c : sampleColors()) {
        out.emplace_back(c);
    }
    return out;
}

} // namespace

TEST(AttributeColor, CasesKeepTheirPayload) {
    EXPECT_EQ(Color::ansi256(9).kind(), Color::Kind::ansi256);
    EXPECT_EQ(Color::ansi256(9).code(), 9);
    const Color rgb = Color::trueColor(10, 20, 30);
    EXPECT_EQ(rgb.kind(), Color::Kind::trueColor);
    EXPECT_EQ(rgb.red(), 10);
    EXPECT_EQ(rgb.green(), 20);
    EXPECT_EQ(rgb.blue(), 30);
    EXPECT_EQ(Color::defaultColor.kind(), Color::Kind::defaultColor);
    EXPECT_EQ(Color::defaultInvertedColor.kind(), Color::Kind::defaultInvertedColor);
    // Same payload byte, different case: not equal.
    EXPECT_NE(Color::ansi256(0), Color::trueColor(0, 0, 0));
    EXPECT_NE(Color::ansi256(0), Color::defaultColor);
    EXPECT_EQ(Color(), Color::defaultColor);
}

// The underline colour shares its bits with the two colour words and the underline byte; every
// combination must read back unchanged whatever is written around it.
TEST(Attribute, FieldsDoNotDisturbEachOther) {
    const std::vector<Color> colors = sampleColors();
    for (const auto& underlineColor : sampleUnderlineColors()) {
        for (Color fg : colors) {
            for (Color bg : colors) {
                const Attribute a(fg, bg, CharacterStyle(uint8_t(0xA5)), UnderlineStyle::dotted,
                                  underlineColor);
                ASSERT_EQ(a.fg(), fg);
                ASSERT_EQ(a.bg(), bg);
                ASSERT_EQ(a.style().rawValue, 0xA5);
                ASSERT_EQ(a.underlineStyle(), UnderlineStyle::dotted);
                ASSERT_EQ(a.underlineColor(), underlineColor);

                Attribute b = a;
                b.setFg(bg);
                b.setBg(fg);
                b.setUnderlineStyle(UnderlineStyle::double_);
                EXPECT_EQ(b.underlineColor(), underlineColor);
                b.setUnderlineColor(Color::ansi256(3));
                EXPECT_EQ(b.fg(), bg);
                EXPECT_EQ(b.bg(), fg);
                EXPECT_EQ(b.underlineStyle(), UnderlineStyle::double_);
            }
        }
    }
}

TEST(Attribute, AbsentUnderlineColourDiffersFromEveryColour) {
    const Attribute plain;
    std::unordered_set<Attribute> seen = {plain};
    for (const auto& underlineColor : sampleUnderlineColors()) {
        if (!underlineColor) {
            continue;
        }
        Attribute a = plain;
        a.setUnderlineColor(underlineColor);
        EXPECT_NE(a, plain);
        EXPECT_TRUE(seen.insert(a).second) << "two underline colours gave one attribute";
        // The same colour set again gives the same bytes, hence equal and equally hashed.
        Attribute again = plain;
        again.setUnderlineColor(underlineColor);
        EXPECT_EQ(again, a);
        EXPECT_EQ(std::hash<Attribute>()(again), std::hash<Attribute>()(a));
    }
    Attribute cleared = *seen.begin();
    cleared.setUnderlineColor(Color::trueColor(9, 9, 9));
    cleared.setUnderlineColor(std::nullopt);
    EXPECT_EQ(cleared.underlineColor(), std::nullopt);
}

TEST(Attribute, ToSgr) {
    struct Case {
        const char* name;
        Attribute attribute;
        const char* sgr;
    };
    const Case cases[] = {
        {"plain default", Attribute(), "0m"},
        {"empty", Attribute::empty, "0m"},
        {"bold red", Attribute(Color::ansi256(1), Color::defaultColor, CharacterStyle::bold),
         "0;1;31m"},
        {"bright fg, true bg", Attribute(Color::ansi256(12), Color::trueColor(1, 2, 3)),
         "0;94;48;2;1;2;3m"},
        {"unwritten bits",
         Attribute(Color::defaultColor, Color::defaultColor,
                   CharacterStyle{CharacterStyle::dim, CharacterStyle::italic},
                   UnderlineStyle::curly, Color::ansi256(5)),
         "0m"},
        {"entry 15", Attribute(Color::ansi256(15), Color::defaultColor), "0;97m"},
        {"entry 16", Attribute(Color::ansi256(16), Color::defaultColor), "0;38;5;16m"},
        {"bg entry 7", Attribute(Color::defaultColor, Color::ansi256(7)), "0;47m"},
        {"bg entry 8", Attribute(Color::defaultColor, Color::ansi256(8)), "0;100m"},
        {"bg entry 255", Attribute(Color::defaultColor, Color::ansi256(255)), "0;48;5;255m"},
        {"fg true colour", Attribute(Color::trueColor(255, 0, 128), Color::defaultInvertedColor),
         "0;38;2;255;0;128m"},
        {"written bits in order",
         Attribute(Color::defaultColor, Color::defaultColor, CharacterStyle(uint8_t(0xFF))),
         "0;1;4;5;7;8m"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.attribute.toSgr(), c.sgr) << c.name;
    }
}

TEST(UnderlineStyle, FromRaw) {
    EXPECT_EQ(underlineStyleFromRaw(0), UnderlineStyle::none);
    EXPECT_EQ(underlineStyleFromRaw(5), UnderlineStyle::dashed);
    EXPECT_EQ(underlineStyleFromRaw(6), std::nullopt);
    EXPECT_EQ(underlineStyleFromRaw(255), std::nullopt);
}

TEST(CharacterStyle, SetOperations) {
    const CharacterStyle boldItalic{CharacterStyle::bold, CharacterStyle::italic};
    EXPECT_EQ(boldItalic.rawValue, 65);
    EXPECT_TRUE(boldItalic.contains(CharacterStyle::bold));
    EXPECT_FALSE(boldItalic.contains(CharacterStyle{CharacterStyle::bold, CharacterStyle::dim}));
    EXPECT_EQ(boldItalic.subtracting(CharacterStyle::bold), CharacterStyle::italic);
    EXPECT_EQ(
        boldItalic.symmetricDifference(CharacterStyle{CharacterStyle::bold, CharacterStyle::dim}),
        (CharacterStyle{CharacterStyle::italic, CharacterStyle::dim}));
    EXPECT_TRUE(CharacterStyle::bold.isSubset(boldItalic));
    EXPECT_TRUE(boldItalic.isDisjoint(CharacterStyle::underline));
    EXPECT_TRUE(CharacterStyle::none.isEmpty());
    // Bits 18-25 of a packed attribute word.
    EXPECT_EQ(CharacterStyle::fromAttribute(0xFFu << 18).rawValue, 0xFF);
    EXPECT_EQ(CharacterStyle::fromAttribute((1u << 18) | 0x3FFFF | (1u << 26)),
              CharacterStyle::bold);
}

TEST(UnderlineColorTable, InternsOnceAndRefusesWhenFull) {
    UnderlineColorTable table(3);
    EXPECT_EQ(table.intern(0x112233), 0u);
    EXPECT_EQ(table.intern(0x445566), 1u);
    EXPECT_EQ(table.intern(0x112233), 0u);
    EXPECT_EQ(table.intern(0x778899), 2u);
    EXPECT_EQ(table.intern(0xAABBCC), std::nullopt);
    EXPECT_EQ(table.intern(0x445566), 1u) << "known colours are still found when full";
    EXPECT_EQ(table.rgb(1), 0x445566u);
    EXPECT_EQ(table.size(), 3u);
}

// Filling the process-wide table must degrade to a nearby palette colour, never to a wrong
// table entry or "absent". Run in a child process: the table is never emptied.
TEST(UnderlineColorTableDeathTest, FullSharedTableApproximatesTrueColours) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            UnderlineColorTable& shared = UnderlineColorTable::shared();
            for (uint32_t rgb = 0x800000; shared.size() < shared.capacity(); ++rgb) {
                shared.intern(rgb);
            }
            Attribute a;
            a.setUnderlineColor(Color::trueColor(0xFF, 0, 0));
            const bool approximated = a.underlineColor() == Color::ansi256(196);
            a.setUnderlineColor(Color::trueColor(0x80, 0, 0));
            const bool known = a.underlineColor() == Color::trueColor(0x80, 0, 0);
            std::exit(approximated && known ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
