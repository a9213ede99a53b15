// Arabic shaping and the Unicode 17 tables behind it and behind mirroring.

#include "TerminalBidi.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

using Joining = TerminalBidi::Joining;

TEST(ShapingTables, JoiningRangesAreTheUnicode17Table) {
    const auto& ranges = ucd::joiningRanges;
    EXPECT_EQ(ranges.size(), 157u);
    int codePoints = 0;
    std::map<Joining, int> byType;
    for (size_t i = 0; i < ranges.size(); ++i) {
        codePoints += int(ranges[i].hi - ranges[i].lo + 1);
        ++byType[ranges[i].type];
        if (i > 0) {
            EXPECT_GT(ranges[i].lo, ranges[i - 1].hi) << "sorted and disjoint";
            EXPECT_FALSE(ranges[i].lo == ranges[i - 1].hi + 1 &&
                         ranges[i].type == ranges[i - 1].type)
                << "maximal runs";
        }
    }
    EXPECT_EQ(codePoints, 784);
    EXPECT_EQ(byType[Joining::dual], 78);
    EXPECT_EQ(byType[Joining::right], 66);
    EXPECT_EQ(byType[Joining::causing], 5);
    EXPECT_EQ(byType[Joining::left], 5);
    EXPECT_EQ(byType[Joining::transparent], 3);
    EXPECT_EQ(ranges.front().lo, 0x0620u);
    EXPECT_EQ(ranges.front().type, Joining::dual);
    EXPECT_EQ(ranges.back().lo, 0x1E94Bu);
    EXPECT_EQ(ranges.back().type, Joining::transparent);

    struct Entry {
        uint32_t lo, hi;
        Joining type;
    };
    const Entry telling[] = {
        {0x0622, 0x0625, Joining::right},       {0x0640, 0x0640, Joining::causing},
        {0x0648, 0x0648, Joining::right},       {0x070F, 0x070F, Joining::transparent},
        {0x07FA, 0x07FA, Joining::causing},     {0x180A, 0x180A, Joining::causing},
        {0x1885, 0x1886, Joining::transparent}, {0x200D, 0x200D, Joining::causing},
        {0xA872, 0xA872, Joining::left},        {0x10D00, 0x10D00, Joining::left},
        {0x1E900, 0x1E943, Joining::dual},
    };
    for (const Entry& entry : telling) {
        SCOPED_TRACE(testing::Message() << std::hex << "U+" << entry.lo);
        const auto found = std::find_if(ranges.begin(), ranges.end(),
                                        [&](const auto& r) { return r.lo == entry.lo; });
        ASSERT_NE(found, ranges.end());
        EXPECT_EQ(found->hi, entry.hi);
        EXPECT_EQ(found->type, entry.type);
    }
}

TEST(ShapingTables, JoiningTypesOutsideTheTableComeFromTheCategory) {
    EXPECT_EQ(TerminalBidi::joiningType(0x0628), Joining::dual);
    EXPECT_EQ(TerminalBidi::joiningType(0x0627), Joining::right);
    EXPECT_EQ(TerminalBidi::joiningType(0x200D), Joining::causing);
    EXPECT_EQ(TerminalBidi::joiningType(0x064E), Joining::transparent); // fatha, Mn
    EXPECT_EQ(TerminalBidi::joiningType(0x20DD), Joining::transparent); // Me
    EXPECT_EQ(TerminalBidi::joiningType(0x200C), Joining::transparent); // ZWNJ, Cf
    EXPECT_EQ(TerminalBidi::joiningType(0x0621), Joining::none);        // hamza
    EXPECT_EQ(TerminalBidi::joiningType(U'a'), Joining::none);
    EXPECT_EQ(TerminalBidi::joiningType(0x1E94B), Joining::transparent);
    EXPECT_EQ(TerminalBidi::joiningType(0x1E94C), Joining::none);
}

TEST(ShapingTables, PresentationFormsOfTheArabicLetters) {
    const auto& forms = ucd::arabicForms;
    EXPECT_EQ(forms.size(), 76u);
    EXPECT_EQ(forms.front().letter, 0x0621u);
    EXPECT_EQ(forms.back().letter, 0x06D3u);
    const ucd::ArabicForms telling[] = {
        {0x0621, 0xFE80, 0xFE80, 0, 0},           {0x0627, 0xFE8D, 0xFE8E, 0, 0},
        {0x0628, 0xFE8F, 0xFE90, 0xFE91, 0xFE92}, {0x0644, 0xFEDD, 0xFEDE, 0xFEDF, 0xFEE0},
        {0x0649, 0xFEEF, 0xFEF0, 0xFBE8, 0xFBE9}, {0x0671, 0xFB50, 0xFB51, 0, 0},
        {0x06CC, 0xFBFC, 0xFBFD, 0xFBFE, 0xFBFF}, {0x06D3, 0xFBB0, 0xFBB1, 0, 0},
        {0x0677, 0xFBDD, 0xFBDD, 0, 0},
    };
    for (const ucd::ArabicForms& row : telling) {
        SCOPED_TRACE(testing::Message() << std::hex << "U+" << row.letter);
        const ucd::ArabicForms* found = TerminalBidi::forms(row.letter);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->iso, row.iso);
        EXPECT_EQ(found->fin, row.fin);
        EXPECT_EQ(found->ini, row.ini);
        EXPECT_EQ(found->med, row.med);
    }
    EXPECT_EQ(TerminalBidi::forms(0x0620), nullptr);
    EXPECT_EQ(TerminalBidi::forms(U'a'), nullptr);

    EXPECT_EQ(TerminalBidi::lamAlef(0x0622), std::pair(char32_t(0xFEF5), char32_t(0xFEF6)));
    EXPECT_EQ(TerminalBidi::lamAlef(0x0623), std::pair(char32_t(0xFEF7), char32_t(0xFEF8)));
    EXPECT_EQ(TerminalBidi::lamAlef(0x0625), std::pair(char32_t(0xFEF9), char32_t(0xFEFA)));
    EXPECT_EQ(TerminalBidi::lamAlef(0x0627), std::pair(char32_t(0xFEFB), char32_t(0xFEFC)));
    EXPECT_FALSE(TerminalBidi::lamAlef(0x0624));
}

TEST(ShapingTables, MirroringPairsGoBothWays) {
    const auto& pairs = ucd::mirrorPairs;
    EXPECT_EQ(pairs.size(), 428u);
    EXPECT_EQ(pairs.front().from, 0x0028u);
    EXPECT_EQ(pairs.front().to, 0x0029u);
    EXPECT_EQ(pairs.back().from, 0xFF63u);
    EXPECT_EQ(pairs.back().to, 0xFF62u);
    for (const ucd::MirrorPair& pair : pairs) {
        EXPECT_EQ(TerminalBidi::mirror(pair.to), char32_t(pair.from)) << std::hex << pair.from;
    }
    for (const auto& [a, b] :
         {std::pair(0x003C, 0x003E), std::pair(0x005B, 0x005D), std::pair(0x007B, 0x007D),
          std::pair(0x00AB, 0x00BB), std::pair(0x0F3A, 0x0F3B), std::pair(0xFF08, 0xFF09)}) {
        EXPECT_EQ(TerminalBidi::mirror(char32_t(a)), char32_t(b));
        EXPECT_EQ(TerminalBidi::mirror(char32_t(b)), char32_t(a));
    }
    EXPECT_FALSE(TerminalBidi::mirror(U'a'));
    EXPECT_FALSE(TerminalBidi::mirror(0x250C)) << "box drawing mirrors only on request";

    int boxMirrors = 0;
    for (char32_t c = 0x2500; c <= 0x257F; ++c) {
        if (const auto mirrored = TerminalBidi::boxMirror(c)) {
            ++boxMirrors;
            EXPECT_EQ(TerminalBidi::boxMirror(*mirrored), c);
        }
    }
    EXPECT_EQ(boxMirrors, 38);
    EXPECT_EQ(TerminalBidi::boxMirror(0x250C), char32_t(0x2510));
    EXPECT_EQ(TerminalBidi::boxMirror(0x2570), char32_t(0x256F));
    EXPECT_EQ(TerminalBidi::boxMirror(0x2578), char32_t(0x257A));
}

// Cells of one row from their texts.
std::vector<TerminalBidi::Cell> cells(const std::vector<std::u32string>& texts) {
    std::vector<TerminalBidi::Cell> out;
    for (const std::u32string& text : texts) {
        out.push_back({0, int(out.size()), 1, text});
    }
    return out;
}

constexpr char32_t beh = 0x0628;
constexpr char32_t alef = 0x0627;
constexpr char32_t lam = 0x0644;
constexpr char32_t fatha = 0x064E;

TEST(ArabicShaping, EachLetterTakesTheFormItsNeighboursJoin) {
    using Shaped = std::vector<std::optional<std::u32string>>;
    const std::optional<std::u32string> none;
    const auto form = [](std::u32string s) { return std::optional<std::u32string>(s); };
    struct Case {
        const char* name;
        std::vector<std::u32string> texts;
        Shaped expected;
    };
    const Case cases[] = {
        {"a lone beh is isolated", {{beh}}, {form(U"\uFE8F")}},
        {"two behs: initial, final", {{beh}, {beh}}, {form(U"\uFE91"), form(U"\uFE90")}},
        {"three: initial, medial, final",
         {{beh}, {beh}, {beh}},
         {form(U"\uFE91"), form(U"\uFE92"), form(U"\uFE90")}},
        {"a cell of only a mark is passed over",
         {{beh}, {fatha}, {beh}},
         {form(U"\uFE91"), none, form(U"\uFE90")}},
        {"a non-joiner parts them",
         {{beh}, {0x200C}, {beh}},
         {form(U"\uFE8F"), none, form(U"\uFE8F")}},
        {"a joiner joins", {{beh}, {0x200D}}, {form(U"\uFE91"), none}},
        {"alef joins nothing after it", {{alef}, {beh}}, {form(U"\uFE8D"), form(U"\uFE8F")}},
        {"lam alef is one ligature over two cells", {{lam}, {alef}}, {form(U"\uFEFB"), form(U" ")}},
        {"the ligature's final form after a joining letter",
         {{beh}, {lam}, {alef}},
         {form(U"\uFE91"), form(U"\uFEFC"), form(U" ")}},
        {"a mark cell between lam and alef prevents the ligature",
         {{lam}, {fatha}, {alef}},
         {form(U"\uFEDF"), none, form(U"\uFE8E")}},
        {"hamza is isolated and breaks the joining",
         {{beh}, {0x0621}, {beh}},
         {form(U"\uFE8F"), form(U"\uFE80"), form(U"\uFE8F")}},
        {"alef maksura between joining letters is medial",
         {{beh}, {0x0649}, {beh}},
         {form(U"\uFE91"), form(U"\uFBE9"), form(U"\uFE90")}},
        {"a mark keeps its place after the shaped form",
         {{beh, fatha}, {beh}},
         {form(U"\uFE91\u064E"), form(U"\uFE90")}},
        {"the ligature keeps the marks of both cells",
         {{lam, 0x0651}, {alef, fatha}},
         {form(U"\uFEFB\u0651\u064E"), form(U" ")}},
        {"a Latin letter breaks the joining",
         {{beh}, {U'a'}, {beh}},
         {form(U"\uFE8F"), none, form(U"\uFE8F")}},
        {"so does a space", {{beh}, {U' '}, {beh}}, {form(U"\uFE8F"), none, form(U"\uFE8F")}},
        {"tatweel joins on both sides",
         {{beh}, {0x0640}, {beh}},
         {form(U"\uFE91"), none, form(U"\uFE90")}},
        {"no Arabic, nothing shaped", {{U'a'}, {0x05D0}}, {none, none}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TerminalBidi::shapeArabic(cells(c.texts)), c.expected);
    }
}

} // namespace
