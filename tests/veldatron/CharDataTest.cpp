#include "CharData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

using namespace veldatron;

namespace {

using Color = Attribute::Color;

// An attribute with every field away from its default, to catch fields that clobber each other.
Attribute busyAttribute() {
    return Attribute(Color::trueColor(1, 2, 3), Color::ansi256(200),
                     CharacterStyle{CharacterStyle::bold, CharacterStyle::italic},
                     UnderlineStyle::curly, Color::ansi256(7));
}

} // namespace

TEST(CharData, NullIsSixteenZeroBytes) {
    const CharData& null = CharData::Null;
    EXPECT_EQ(null.code(), 0);
    EXPECT_EQ(null.width(), 1);
    EXPECT_EQ(null.payload().code, 0);
    EXPECT_EQ(null.semanticContentCode(), 0);
    EXPECT_EQ(null.attribute(), Attribute());
    EXPECT_EQ(null.attribute().fg(), Color::defaultColor);
    EXPECT_EQ(null.attribute().bg(), Color::defaultColor);
    EXPECT_EQ(null.attribute().underlineColor(), std::nullopt);

    const std::array<uint8_t, 16> zeros{};
    EXPECT_EQ(std::memcmp(&null, zeros.data(), 16), 0);
    // A zeroed block is already a row of blank cells.
    std::vector<CharData> row(4);
    std::memset(static_cast<void*>(row.data()), 0, row.size() * sizeof(CharData));
    EXPECT_TRUE(
        std::all_of(row.begin(), row.end(), [](const CharData& c) { return c == CharData::Null; }));
}

TEST(CharData, EveryFieldKeepsItsValueBesideTheOthers) {
    struct Case {
        const char* name;
        int32_t code;
        int width;
        uint16_t payload;
        uint8_t content;
    };
    const Case cases[] = {
        {"blank", 0, 1, 0, 0},
        {"ascii", 'A', 1, 1, 5},
        {"wide lead", 0x4E00, 2, 0xFFFE, 6},
        {"wide trail", 0, 0, 0xFFFF, 4},
        {"last scalar", 0x10FFFF, 1, 7, 1},
        {"first interned", CharData::firstInternedCode, 2, 0, 3},
        {"last code", CharData::maxCode, 2, 0x8000, 7},
        {"unprinted control width", 0x1B, -1, 0, 0},
        {"narrow range ends", 1, -4, 0, 0},
        {"wide range end", 1, 3, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CharData cell(busyAttribute(), c.code, c.width, TinyAtom{c.payload}, c.content);
        EXPECT_EQ(cell.code(), c.code);
        EXPECT_EQ(cell.width(), c.width);
        EXPECT_EQ(cell.payload().code, c.payload);
        EXPECT_EQ(cell.semanticContentCode(), c.content);
        EXPECT_EQ(cell.attribute(), busyAttribute());

        // Setters touch only their own field.
        CharData changed = cell;
        changed.setWidth(c.width == 2 ? 0 : 2);
        changed.setWidth(c.width);
        changed.setSemanticContentCode(uint8_t(c.content ^ 1));
        changed.setSemanticContentCode(c.content);
        changed.setCode(c.code == 0 ? 1 : 0);
        changed.setCode(c.code);
        EXPECT_EQ(changed, cell);
    }
}

TEST(CharData, OutOfRangeValuesAreClampedNotSpilledIntoNeighbours) {
    CharData cell(Attribute(), 'x', 1, TinyAtom{3}, 5);
    cell.setCode(-1);
    EXPECT_EQ(cell.code(), 0xFFFD);
    cell.setCode(CharData::maxCode + 1);
    EXPECT_EQ(cell.code(), 0xFFFD);
    EXPECT_EQ(cell.width(), 1);
    EXPECT_EQ(cell.semanticContentCode(), 5);

    cell.setWidth(100);
    EXPECT_EQ(cell.width(), 3);
    cell.setWidth(-100);
    EXPECT_EQ(cell.width(), -4);
    EXPECT_EQ(cell.code(), 0xFFFD);

    cell.setSemanticContentCode(255);
    EXPECT_EQ(cell.semanticContentCode(), 7);
    EXPECT_EQ(cell.semanticContent(), SemanticContent::none);
    EXPECT_EQ(cell.width(), -4);
    EXPECT_EQ(cell.payload().code, 3);
}

TEST(CharData, SetValueChangesCodeAndWidthOnly) {
    CharData cell(busyAttribute(), 'a', 1, TinyAtom{9}, 6);
    cell.setValue(0x1F600, 2);
    EXPECT_EQ(cell, CharData(busyAttribute(), 0x1F600, 2, TinyAtom{9}, 6));
}

TEST(CharData, ATemplateBecomesAsciiCells) {
    const CharData templ(busyAttribute(), 'z', 1, TinyAtom{42}, 5);
    std::vector<uint8_t> text;
    for (int c = 0x20; c < 0x7F; ++c) {
        text.push_back(uint8_t(c));
    }
    std::vector<CharData> row(text.size() + 1);
    CharData::fillCodes(row.data(), text.data(), text.size(), templ);
    for (size_t i = 0; i < text.size(); ++i) {
        const CharData expected(busyAttribute(), text[i], 1, TinyAtom{42}, 5);
        ASSERT_EQ(templ.withCode(text[i]), expected) << i;
        ASSERT_EQ(row[i], expected) << i;
    }
    EXPECT_EQ(row.back(), CharData::Null) << "nothing written past the run";
}

// Long runs are written a cache line at a time, with the cells before the first whole line and
// after the last written apart, and short runs in overlapping groups of stores from both ends
// (grouped by length one way for runs between cursor moves, another for whole lines): every
// start within a line and every length, from none (one for lines) to several lines, must write
// exactly the run's cells. Each run is copied into a block of its own size, so that reading a
// code past the run (the input may end right after it) shows under the address sanitizer.
TEST(CharData, TemplateRunsWriteTheirCellsWhereverTheyStartAndEnd) {
    using Fill = void (*)(CharData*, const uint8_t*, size_t, const CharData&);
    const struct {
        const char* name;
        Fill fill;
        size_t shortest;
    } fillers[] = {
        {"runs", &CharData::fillCodes, 0},
        {"lines", &CharData::fillLineCodes, 1},
    };
    const CharData templ(busyAttribute(), 'z', 1, TinyAtom{42}, 5);
    const CharData guard(Attribute(), '#', 1);
    std::vector<uint8_t> text;
    for (int i = 0; i < 48; ++i) {
        text.push_back(uint8_t(0x21 + (i * 7) % 94));
    }
    // 64-byte aligned, with four guard cells before the earliest start.
    alignas(64) CharData row[64];
    for (const auto& filler : fillers) {
        for (size_t start = 4; start < 8; ++start) {
            for (size_t count = filler.shortest; count <= text.size(); ++count) {
                SCOPED_TRACE(std::string(filler.name) + ": start " + std::to_string(start) + ", " +
                             std::to_string(count) + " cells");
                std::fill(std::begin(row), std::end(row), guard);
                const std::vector<uint8_t> run(text.begin(), text.begin() + std::ptrdiff_t(count));
                filler.fill(row + start, run.data(), count, templ);
                for (size_t i = 0; i < std::size(row); ++i) {
                    const bool inRun = i >= start && i < start + count;
                    ASSERT_EQ(row[i], inRun ? templ.withCode(text[i - start]) : guard) << i;
                }
            }
        }
    }
}

TEST(CharData, AStampKeepsAllButCodeAndWidthOfItsTemplate) {
    // The template's own code and width must not leak into the cells.
    const CharData::Stamp stamp(CharData(busyAttribute(), CharData::maxCode, 0, TinyAtom{42}, 5));
    for (const auto& [code, width] : {std::pair{0x41, 1}, {0x4F60, 2}, {0, 0}, {0x400001, 2}}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(stamp(code, width), CharData(busyAttribute(), code, width, TinyAtom{42}, 5));
    }
}

TEST(CharData, SetAttributeKeepsTheOtherFields) {
    CharData cell(Attribute(), CharData::maxCode, 0, TinyAtom{0xFFFF}, 7);
    cell.setAttribute(busyAttribute());
    EXPECT_EQ(cell, CharData(busyAttribute(), CharData::maxCode, 0, TinyAtom{0xFFFF}, 7));
    cell.setAttribute(Attribute());
    EXPECT_EQ(cell, CharData(Attribute(), CharData::maxCode, 0, TinyAtom{0xFFFF}, 7));
}

TEST(CharData, EqualityAndHashFollowEveryField) {
    const CharData base(busyAttribute(), 'q', 1, TinyAtom{2}, 1);
    std::vector<CharData> variants = {base};
    auto vary = [&](auto change) {
        CharData v = base;
        change(v);
        variants.push_back(v);
    };
    vary([](CharData& c) { c.setCode('r'); });
    vary([](CharData& c) { c.setWidth(2); });
    vary([](CharData& c) { c.setPayload(TinyAtom{3}); });
    vary([](CharData& c) { c.setSemanticContentCode(2); });
    auto varyAttribute = [&](auto change) {
        vary([&](CharData& c) {
            Attribute a = c.attribute();
            change(a);
            c.setAttribute(a);
        });
    };
    varyAttribute([](Attribute& a) { a.setFg(Color::ansi256(1)); });
    varyAttribute([](Attribute& a) { a.setBg(Color::defaultInvertedColor); });
    varyAttribute([](Attribute& a) { a.setStyle(CharacterStyle::bold); });
    varyAttribute([](Attribute& a) { a.setUnderlineStyle(UnderlineStyle::dashed); });
    varyAttribute([](Attribute& a) { a.setUnderlineColor(std::nullopt); });
    varyAttribute([](Attribute& a) { a.setUnderlineColor(Color::defaultColor); });

    for (size_t i = 0; i < variants.size(); ++i) {
        for (size_t j = 0; j < variants.size(); ++j) {
            EXPECT_EQ(variants[i] == variants[j], i == j) << i << " vs " << j;
        }
    }
    std::unordered_set<CharData> set(variants.begin(), variants.end());
    EXPECT_EQ(set.size(), variants.size());
    CharData copy = variants[4];
    EXPECT_EQ(std::hash<CharData>()(copy), std::hash<CharData>()(variants[4]));
}

TEST(CharData, GetCharacterOfPlainCodes) {
    struct Case {
        int32_t code;
        char32_t expected;
    };
    const Case cases[] = {
        {0, U'\0'},
        {'A', U'A'},
        {0xD7FF, U'\uD7FF'},
        {0xD800, U' '},
        {0xDFFF, U' '},
        {0xE000, U'\uE000'},
        {0x10FFFF, U'\U0010FFFF'},
        {0x110000, U' '},
        {CharData::firstInternedCode, U' '},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CharData(Attribute(), c.code, 1).getCharacter(), c.expected)
            << std::hex << c.code;
    }
    EXPECT_TRUE(CharData(Attribute(), 0x3FFFFF, 1).isSimpleRune());
    EXPECT_FALSE(CharData(Attribute(), 0x400000, 1).isSimpleRune());
}

TEST(CharData, SemanticContentOfCellCodes) {
    const std::pair<uint8_t, SemanticContent> cases[] = {
        {0, SemanticContent::none},
        {1, SemanticContent::prompt(SemanticPromptKind::initial)},
        {2, SemanticContent::prompt(SemanticPromptKind::right)},
        {3, SemanticContent::prompt(SemanticPromptKind::continuation)},
        {4, SemanticContent::prompt(SemanticPromptKind::secondary)},
        {5, SemanticContent::input},
        {6, SemanticContent::output},
        {7, SemanticContent::none},
        {255, SemanticContent::none},
    };
    for (const auto& [code, content] : cases) {
        EXPECT_EQ(CharData(Attribute(), 'x', 1, TinyAtom(), code).semanticContent(), content)
            << int(code);
    }
}

TEST(CharData, PayloadResolvesThroughTheRegistryUntilReleased) {
    CharData cell;
    EXPECT_FALSE(cell.hasPayload());
    EXPECT_EQ(cell.getPayload(), std::nullopt);

    const auto atom = TinyAtom::lookup("id=1;https://example.com");
    ASSERT_TRUE(atom);
    cell.setPayload(*atom);
    EXPECT_TRUE(cell.hasPayload());
    EXPECT_EQ(cell.getPayload(), "id=1;https://example.com");
    atom->release();
    EXPECT_EQ(cell.getPayload(), std::nullopt);
}

TEST(CharData, DebugDescription) {
    EXPECT_EQ(CharData(Attribute(), 'A', 1).debugDescription(), "CharData: 65 A");
    EXPECT_EQ(CharData(Attribute(), 0xE9, 1).debugDescription(), "CharData: 233 \xC3\xA9");
    EXPECT_EQ(CharData(Attribute(), 0xD800, 1).debugDescription(), "CharData: 55296 ?");
    EXPECT_EQ(CharData(Attribute(), 0x400001, 1).debugDescription(), "CharData: 4194305 ?");
}

TEST(CharData, TheTwoDefaultAttributesDiffer) {
    EXPECT_NE(Attribute::empty, CharData::Null.attribute());
    EXPECT_EQ(Attribute::empty.bg(), Color::defaultInvertedColor);
    EXPECT_EQ(Attribute::empty.fg(), Color::defaultColor);
}
