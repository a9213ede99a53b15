#include "SemanticPrompt.h"

#include <gtest/gtest.h>

using namespace veldatron;

TEST(SemanticPrompt, KindsAndContentDescribeThemselves) {
    const std::tuple<SemanticPromptKind, const char*, const char*, uint8_t> kinds[] = {
        {SemanticPromptKind::initial, "i", "initial", 1},
        {SemanticPromptKind::right, "r", "right", 2},
        {SemanticPromptKind::continuation, "c", "continuation", 3},
        {SemanticPromptKind::secondary, "s", "secondary", 4},
    };
    for (const auto& [kind, tag, text, code] : kinds) {
        EXPECT_EQ(tagName(kind), tag);
        EXPECT_EQ(description(kind), text);
        const SemanticContent prompt = SemanticContent::prompt(kind);
        EXPECT_EQ(prompt.description(), std::string("prompt(") + text + ")");
        EXPECT_EQ(prompt.cellCode(), code);
        EXPECT_EQ(SemanticContent::fromCellCode(code), prompt);
    }
    EXPECT_EQ(SemanticContent::none.description(), "none");
    EXPECT_EQ(SemanticContent::input.description(), "input");
    EXPECT_EQ(SemanticContent::output.description(), "output");
    EXPECT_EQ(SemanticContent::input.cellCode(), 5);
    EXPECT_EQ(SemanticContent::output.cellCode(), 6);
    EXPECT_EQ(SemanticContent::fromCellCode(9), SemanticContent::none);
}

TEST(SemanticPrompt, PayloadCasesCompareByCaseAndPayload) {
    const auto initial = SemanticContent::prompt(SemanticPromptKind::initial);
    EXPECT_EQ(initial, SemanticContent::prompt(SemanticPromptKind::initial));
    EXPECT_NE(initial, SemanticContent::prompt(SemanticPromptKind::right));
    EXPECT_NE(initial, SemanticContent::none);

    using Mode = SemanticPromptClickMode;
    EXPECT_EQ(Mode::cursorKeys(SemanticPromptCursorClickMode::smartVertical),
              Mode::cursorKeys(SemanticPromptCursorClickMode::smartVertical));
    EXPECT_NE(Mode::cursorKeys(SemanticPromptCursorClickMode::line), Mode::none);
    EXPECT_NE(Mode::cursorKeys(SemanticPromptCursorClickMode::line), Mode::clickEventsAbsolute);
    EXPECT_NE(Mode::clickEventsAbsolute, Mode::clickEventsRelative);
    EXPECT_EQ(Mode(), Mode::none);

    using Behavior = SemanticPromptClickBehavior;
    EXPECT_NE(Behavior::requireModifier(SemanticPromptClickModifiers()), Behavior::enabled);
    EXPECT_NE(Behavior::disabled, Behavior::enabled);
    EXPECT_EQ(Behavior::requireModifier(SemanticPromptClickModifiers::shift),
              Behavior::requireModifier(SemanticPromptClickModifiers(uint8_t(1))));

    const SemanticMark mark(SemanticPromptKind::right, 5, 9);
    EXPECT_EQ(mark, SemanticMark(SemanticPromptKind::right, 5, 9));
    EXPECT_NE(mark, SemanticMark(SemanticPromptKind::right, 5, 10));
    EXPECT_NE(mark, SemanticMark(SemanticPromptKind::initial, 5, 9));

    const SemanticPromptPointerSnapshot one{false, false, 1, true};
    EXPECT_NE(one, (SemanticPromptPointerSnapshot{false, false, 2, true}));
}

TEST(SemanticPromptClickModifiers, BitSetSemantics) {
    using M = SemanticPromptClickModifiers;
    M set{M::shift, M::command};
    EXPECT_EQ(set.rawValue, 9);
    EXPECT_EQ(M{}.rawValue, 0);
    EXPECT_EQ(M(uint8_t(0xF0)).rawValue, 0xF0) << "every byte is kept";

    EXPECT_EQ(set.remove(M::control), std::nullopt);
    EXPECT_EQ(set.rawValue, 9);
    EXPECT_FALSE(set.insert(M::shift)) << "shift was present";
    EXPECT_TRUE(set.insert(M{M::shift, M::option})) << "option was not";
    EXPECT_EQ(set.rawValue, 13);

    EXPECT_EQ(set.remove(M{M::option, M::control}), M::option);
    EXPECT_EQ(set.rawValue, 9);
    EXPECT_EQ(set.update(M::control), std::nullopt);
    EXPECT_EQ(set.update(M{M::control, M::option}), M::control);
    EXPECT_EQ(set.rawValue, 15);

    EXPECT_TRUE(set.isSuperset(M{M::shift, M::control}));
    EXPECT_TRUE(M::shift.isSubset(set));
    EXPECT_FALSE(set.isDisjoint(M::command));
    EXPECT_EQ((M::shift | M::control).intersection(M::control), M::control);
}
