#include "Color.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

Color hex(uint32_t rgb) {
    return Color::fromRgb8(uint16_t(rgb >> 16), uint16_t((rgb >> 8) & 0xFF), uint16_t(rgb & 0xFF));
}

std::string describe(const std::optional<Color>& c) {
    return c ? c->formatAsXcolor() : "none";
}

// Lab round trips land within one 8-bit step of an independent reference computation.
void expectNear(const Color& actual, uint32_t expectedRgb, const std::string& what) {
    const Color expected = hex(expectedRgb);
    auto close = [](uint16_t a, uint16_t b) { return std::abs(int(a) - int(b)) <= 257; };
    EXPECT_TRUE(close(actual.red, expected.red) && close(actual.green, expected.green) &&
                close(actual.blue, expected.blue))
        << what << ": " << actual.formatAsXcolor() << " vs " << expected.formatAsXcolor();
}

struct SpecCase {
    const char* text;
    std::optional<Color> expected;
};

template <typename Parser> void expectSpecs(std::initializer_list<SpecCase> cases, Parser parse) {
    for (const SpecCase& c : cases) {
        EXPECT_EQ(describe(parse(std::string_view(c.text))), describe(c.expected)) << c.text;
    }
}

} // namespace

TEST(Color, FormatAsXcolor) {
    EXPECT_EQ(Color(65535, 0, 4660).formatAsXcolor(), "rgb:ffff/0000/1234");
    EXPECT_EQ(Color::defaultForeground.formatAsXcolor(), "rgb:8a3d/8a3d/8a3d");
    EXPECT_EQ(Color::defaultBackground.formatted(), "rgb:0000/0000/0000");
}

TEST(Color, FromRgb8LimitsTo255) {
    EXPECT_EQ(Color::fromRgb8(300, 255, 0), Color(65535, 65535, 0));
    EXPECT_EQ(Color::fromRgb8(1, 2, 3), Color(257, 514, 771));
}

TEST(Color, StrictParse) {
    expectSpecs(
        {
            {"#fff", Color(0xf0f0, 0xf0f0, 0xf0f0)},
            {"#ffffff", Color(65535, 65535, 65535)},
            {"#FfF", Color(0xf0f0, 0xf0f0, 0xf0f0)},
            {"#123456789", Color(0x1232, 0x4565, 0x78f8)},
            {"#111122223333", Color(0x1111, 0x2222, 0x3333)},
            {"#fffff", std::nullopt},
            {"#ggg", std::nullopt},
            {"#", std::nullopt},
            {"rgb:f/ff/fff", Color(0x00f0, 0x0fff, 0xffff)},
            {"rgb:ffff/0000/1234", Color(0xffff, 0x0000, 0x1234)},
            {"rgb:1/22/333", Color(0x0010, 0x0222, 0x3333)},
            {"rgb:1/2", std::nullopt},
            {"rgb:12345/1/1", std::nullopt},
            {"rgb://1", std::nullopt},
            {"rgb:1/2/3/4", std::nullopt},
            {"rgb:1/2/g", std::nullopt},
            {"rgb:", std::nullopt},
            {"RGB:1/2/3", std::nullopt},
            {"red", std::nullopt},
            {"", std::nullopt},
        },
        [](std::string_view text) { return Color::parse(text); });
}

// The lenient reader behind OSC 4 and 10-12. An invalid spec must give none, so those commands
// leave the colour alone instead of setting black.
TEST(Color, LenientParseColor) {
    expectSpecs(
        {
            {"rgb:ffffffffffff", Color(65535, 65535, 65535)},
            {"rgb:1/22/333", Color(0x0010, 0x0222, 0x3333)},
            {"rgb:f/f/f", Color(0xf0f0, 0xf0f0, 0xf0f0)},
            {"rgb:ff/ff/ff", Color(65535, 65535, 65535)},
            {"rgb:1//2/3", Color(0x1010, 0x2020, 0x3030)},
            {"rgb:12345/1/1", Color(0x1234, 0x0005, 0x0001)},
            {"#abc", Color(0xa0a0, 0xb0b0, 0xc0c0)},
            {"#fffffffff", Color(0xffff, 0xffff, 0xffff)},
            {"#ggg", std::nullopt},
            {"#12345g", std::nullopt},
            {"#fffff", std::nullopt},
            {"rgb:", std::nullopt},
            {"rgb:1/2", std::nullopt},
            {"rgb:zz/1/1", std::nullopt},
            {"rgb://1", std::nullopt},
            {"rgb", std::nullopt},
            {"#", std::nullopt},
            {"", std::nullopt},
        },
        [](std::string_view text) { return Color::parseColor(text); });
}

TEST(Color, BasePalettes) {
    struct Case {
        const char* name;
        const std::array<Color, 16>& palette;
        uint32_t entry1;
        uint32_t entry8;
        uint32_t entry15;
    };
    const Case cases[] = {
        {"pale", Color::paleColors, 0xcc0000, 0x555753, 0xeeeeec},
        {"vga", Color::vgaColors, 0xaa0000, 0x555555, 0xffffff},
        {"terminal app", Color::terminalAppColors, 0xc23621, 0x818383, 0xe9ebeb},
        {"xterm", Color::xtermColors, 0xcd0000, 0x7f7f7f, 0xffffff},
        {"installed", Color::defaultInstalledColors, 0x990001, 0x8a898a, 0xe5e5e5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.palette[1], hex(c.entry1));
        EXPECT_EQ(c.palette[8], hex(c.entry8));
        EXPECT_EQ(c.palette[15], hex(c.entry15));
    }
    EXPECT_EQ(Color::paleColors[0], hex(0x2e3436));
    EXPECT_EQ(Color::terminalAppColors[12], hex(0x5833ff));
}

TEST(Color, XtermPalette) {
    const auto palette = Color::generateXtermPalette(Color::xtermColors);
    ASSERT_EQ(palette.size(), 256u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(palette[i], Color::xtermColors[i]);
    }
    EXPECT_EQ(palette[16], Color(0, 0, 0));
    EXPECT_EQ(palette[21], Color(0, 0, 255 * 257));
    EXPECT_EQ(palette[16 + 36 * 1 + 6 * 2 + 3], hex(0x5f87af));
    EXPECT_EQ(palette[231], Color(65535, 65535, 65535));
    EXPECT_EQ(palette[232], Color(8 * 257, 8 * 257, 8 * 257));
    EXPECT_EQ(palette[255], Color(238 * 257, 238 * 257, 238 * 257));
}

TEST(Color, LabPaletteWithFewerThanEightColoursIsTheXtermOne) {
    const std::vector<Color> seven(Color::xtermColors.begin(), Color::xtermColors.begin() + 7);
    const auto lab = Color::generateBase16LabPalette(seven, Color::defaultBackground,
                                                     Color::defaultForeground, false);
    EXPECT_EQ(lab.size(), 7u + 240u);
    EXPECT_EQ(lab, Color::generateXtermPalette(seven));
}

// Expected entries come from a separate implementation of the same CIELAB interpolation.
TEST(Color, LabPaletteOnDarkBackground) {
    const auto palette = Color::generateBase16LabPalette(
        Color::terminalAppColors, Color::defaultBackground, Color::defaultForeground, false);
    ASSERT_EQ(palette.size(), 256u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(palette[i], Color::terminalAppColors[i]);
    }
    const std::pair<int, uint32_t> expected[] = {
        {16, 0x000000},  {21, 0x492ee1},  {46, 0x25bc24},  {59, 0x493839},  {110, 0x817ea2},
        {139, 0x976582}, {168, 0xad4f64}, {196, 0xc23621}, {201, 0xd338d3}, {226, 0xadad27},
        {231, 0x8a8a8a}, {232, 0x080808}, {243, 0x414141}, {255, 0x848484},
    };
    for (const auto& [index, rgb] : expected) {
        expectNear(palette[size_t(index)], rgb, "entry " + std::to_string(index));
    }
    // Dark corner below light corner: harmonious changes nothing.
    EXPECT_EQ(palette,
              Color::generateBase16LabPalette(Color::terminalAppColors, Color::defaultBackground,
                                              Color::defaultForeground, true));
    // The grey ramp holds neither corner; its first entry is 1/25 of the way.
    EXPECT_NE(palette[232], palette[16]);
    EXPECT_NE(palette[255], palette[231]);
}

TEST(Color, LabPaletteOnLightBackground) {
    const Color white(65535, 65535, 65535);
    const Color black(0, 0, 0);
    const auto swapped =
        Color::generateBase16LabPalette(Color::terminalAppColors, white, black, false);
    const auto harmonious =
        Color::generateBase16LabPalette(Color::terminalAppColors, white, black, true);
    EXPECT_NE(swapped, harmonious);

    const std::pair<int, uint32_t> swappedEntries[] = {
        {16, 0x000000},  {21, 0x492ee1},  {110, 0x9793b8}, {168, 0xb5556a},
        {196, 0xc23621}, {231, 0xffffff}, {232, 0x0e0e0e}, {255, 0xf3f3f3},
    };
    for (const auto& [index, rgb] : swappedEntries) {
        expectNear(swapped[size_t(index)], rgb, "swapped entry " + std::to_string(index));
    }
    // Harmonious keeps the background as corner 0: the cube runs from light to dark.
    const std::pair<int, uint32_t> harmoniousEntries[] = {
        {16, 0xffffff},  {21, 0x492ee1},  {196, 0xc23621},
        {231, 0x000000}, {232, 0xf3f3f3}, {255, 0x0e0e0e},
    };
    for (const auto& [index, rgb] : harmoniousEntries) {
        expectNear(harmonious[size_t(index)], rgb, "harmonious entry " + std::to_string(index));
    }
}

TEST(Color, LabRoundTripOfPaletteColours) {
    for (const Color& c : Color::vgaColors) {
        EXPECT_EQ(Color::LabColor::fromColor(c).toColor(), c) << c.formatAsXcolor();
    }
    const auto black = Color::LabColor::fromColor(Color(0, 0, 0));
    EXPECT_DOUBLE_EQ(black.l, 0.0);
    EXPECT_NEAR(Color::LabColor::fromColor(Color(65535, 65535, 65535)).l, 100.0, 1e-3);
}
