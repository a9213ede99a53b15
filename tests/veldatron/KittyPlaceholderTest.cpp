// Unicode placeholder cells: the diacritics table and the decoding of row, column, the high
// byte and the ids, with what a cell carries over from its left neighbour.

#include "KittyPlaceholder.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <string>

using namespace veldatron;

namespace {

TEST(KittyPlaceholder, TheDiacriticsAreThePublishedList) {
    const auto& table = KittyPlaceholder::diacritics;
    ASSERT_EQ(table.size(), 297u);
    EXPECT_EQ(table.front(), U'\u0305');
    EXPECT_EQ(table.back(), U'\U0001D244');
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            EXPECT_LT(table[i - 1], table[i]);
        }
        EXPECT_EQ(u_charType(UChar32(table[i])), U_NON_SPACING_MARK);
        EXPECT_EQ(u_getCombiningClass(UChar32(table[i])), 230);
        EXPECT_EQ(KittyPlaceholder::diacriticIndex(table[i]), int64_t(i));
    }
    EXPECT_FALSE(KittyPlaceholder::diacriticIndex(U'\u0300')) << "fuses under normalization";
    EXPECT_FALSE(KittyPlaceholder::diacriticIndex(U'a'));
}

using Color = Attribute::Color;

Attribute colours(Color fg, std::optional<Color> underline = std::nullopt) {
    return Attribute(fg, Color::defaultColor, CharacterStyle::none, UnderlineStyle::none,
                     underline);
}

// U+10EEEE followed by the diacritics of the given numbers.
std::u32string cell(std::initializer_list<int> numbers) {
    std::u32string text(1, KittyPlaceholder::placeholder);
    for (int n : numbers) {
        text += KittyPlaceholder::diacritics[size_t(n)];
    }
    return text;
}

TEST(KittyPlaceholder, ACellNamesItsImagePieceAndIds) {
    struct Case {
        const char* name;
        std::u32string character;
        Attribute attribute;
        std::optional<KittyPlaceholderCell> expected;
    };
    const Attribute plain = colours(Color::defaultColor);
    const Case cases[] = {
        {"another character", U"x", plain, std::nullopt},
        {"the placeholder not first", U"x\U0010EEEE", plain, std::nullopt},
        {"alone", cell({}), plain, KittyPlaceholderCell{2, 5, 0, 0, 0, 0, 0}},
        {"row then column", cell({0, 1}), plain, KittyPlaceholderCell{2, 5, 0, 0, 0, 1, 0}},
        {"column order matters", cell({1, 0}), plain, KittyPlaceholderCell{2, 5, 0, 0, 1, 0, 0}},
        {"row alone", cell({7}), plain, KittyPlaceholderCell{2, 5, 0, 0, 7, 0, 0}},
        {"a true-colour image id", cell({0, 0}), colours(Color::trueColor(1, 2, 3)),
         KittyPlaceholderCell{2, 5, 66051, 0, 0, 0, 0}},
        {"a palette image id", cell({0, 0}), colours(Color::ansi256(5)),
         KittyPlaceholderCell{2, 5, 5, 0, 0, 0, 0}},
        {"the third diacritic is the high byte", cell({0, 0, 2}),
         colours(Color::trueColor(1, 2, 3)),
         KittyPlaceholderCell{2, 5, 2u * 16777216u + 66051u, 0, 0, 0, 2}},
        {"a high byte above 255 is capped in the id only", cell({0, 0, 296}),
         colours(Color::ansi256(1)), KittyPlaceholderCell{2, 5, 0xFF000001u, 0, 0, 0, 296}},
        {"further diacritics are ignored", cell({3, 4, 1, 9, 9}), plain,
         KittyPlaceholderCell{2, 5, 1u << 24, 0, 3, 4, 1}},
        {"other marks are skipped", U"\U0010EEEE\u0300\u0305\u0301\u030D", plain,
         KittyPlaceholderCell{2, 5, 0, 0, 0, 1, 0}},
        {"the placement id from the underline colour", cell({0, 0}),
         colours(Color::ansi256(9), Color::trueColor(0, 1, 0)),
         KittyPlaceholderCell{2, 5, 9, 256, 0, 0, 0}},
        {"a default underline colour is placement 0", cell({0, 0}),
         colours(Color::ansi256(9), Color::defaultColor),
         KittyPlaceholderCell{2, 5, 9, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KittyPlaceholderDecoder::decode(c.character, c.attribute, 2, 5, std::nullopt,
                                                  std::nullopt),
                  c.expected);
    }
}

// A row of cells decoded left to right, each with the one before it.
std::vector<KittyPlaceholderCell> decodeRow(const std::vector<std::u32string>& cells,
                                            const std::vector<Attribute>& attributes,
                                            int64_t firstCol = 0) {
    std::vector<KittyPlaceholderCell> out;
    std::optional<KittyPlaceholderCell> previous;
    std::optional<Attribute> previousAttribute;
    for (size_t i = 0; i < cells.size(); ++i) {
        previous = KittyPlaceholderDecoder::decode(
            cells[i], attributes[i], 4, firstCol + int64_t(i), previous, previousAttribute);
        previousAttribute = attributes[i];
        out.push_back(previous.value());
    }
    return out;
}

std::string pieces(const std::vector<KittyPlaceholderCell>& row) {
    std::string out;
    for (const KittyPlaceholderCell& c : row) {
        out += std::to_string(c.placeholderRow) + ":" + std::to_string(c.placeholderCol) + ":" +
               std::to_string(c.msb) + " ";
    }
    return out;
}

TEST(KittyPlaceholder, CellsContinueTheirLeftNeighbour) {
    const Attribute image = colours(Color::ansi256(42), Color::ansi256(3));
    const Attribute otherImage = colours(Color::ansi256(43), Color::ansi256(3));
    const Attribute otherPlacement = colours(Color::ansi256(42), Color::ansi256(4));
    struct Case {
        const char* name;
        std::vector<std::u32string> cells;
        std::vector<Attribute> attributes;
        std::string expected;
    };
    const Case cases[] = {
        {"only the first cell numbered",
         {cell({1, 0, 3}), cell({}), cell({}), cell({})},
         {image, image, image, image},
         "1:0:3 1:1:3 1:2:3 1:3:3 "},
        {"a row number alone continues its row",
         {cell({1, 0, 3}), cell({1}), cell({2})},
         {image, image, image},
         "1:0:3 1:1:3 2:0:0 "},
        {"a change of foreground starts again",
         {cell({1, 2}), cell({}), cell({})},
         {image, otherImage, otherImage},
         "1:2:0 0:0:0 0:1:0 "},
        {"a change of underline colour starts again",
         {cell({1, 2}), cell({})},
         {image, otherPlacement},
         "1:2:0 0:0:0 "},
        {"two diacritics keep the high byte only when the column follows",
         {cell({0, 0, 5}), cell({0, 1}), cell({0, 3})},
         {image, image, image},
         "0:0:5 0:1:5 0:3:0 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pieces(decodeRow(c.cells, c.attributes)), c.expected);
    }
    // A cell that is not the direct neighbour (another row or a gap) does not continue.
    const auto first =
        KittyPlaceholderDecoder::decode(cell({1, 1, 1}), image, 4, 0, std::nullopt, std::nullopt);
    EXPECT_EQ(KittyPlaceholderDecoder::decode(cell({}), image, 4, 2, first, image)->placeholderCol,
              0);
    EXPECT_EQ(KittyPlaceholderDecoder::decode(cell({}), image, 5, 1, first, image)->placeholderCol,
              0);
    EXPECT_EQ(KittyPlaceholderDecoder::decode(cell({}), image, 4, 1, first, std::nullopt)->msb, 0)
        << "without the previous attribute the cells never match";
    EXPECT_EQ(KittyPlaceholderDecoder::decode(cell({}), image, 4, 1, first, image)->imageId,
              (1u << 24) + 42u);
}

} // namespace
