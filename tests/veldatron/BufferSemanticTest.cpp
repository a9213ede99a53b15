#include "Buffer.h"
#include "BufferFixture.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace veldatron {
struct BufferTestAccess {
    static void setGroupCounter(Buffer& buffer, uint64_t value) {
        buffer.m_semanticGroupCounter = value;
    }
};
} // namespace veldatron

using namespace veldatron;
using namespace veldatron::testing;

namespace {

using Kind = SemanticPromptKind;

// Starts a group whose prompt begins at (column, row), as the terminal does for OSC 133 "A".
void prompt(Buffer& buffer, int row, int64_t column = 0) {
    buffer.beginSemanticPromptGroup(row);
    buffer.setSemanticMark(Kind::initial, row, column);
}

} // namespace

TEST(BufferSemantic, GroupNumbersStartAtOneAndNeverReachZero) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3});
    EXPECT_EQ(buffer->activeSemanticGroupID(), 0u);
    buffer->beginSemanticPromptGroup(0);
    EXPECT_EQ(buffer->activeSemanticGroupID(), 1u);
    buffer->beginSemanticPromptGroup(1);
    EXPECT_EQ(buffer->activeSemanticGroupID(), 2u);
    buffer->beginSemanticPromptGroup(3);
    EXPECT_EQ(buffer->activeSemanticGroupID(), 2u) << "a row outside the ring starts nothing";

    buffer->clear();
    buffer->fillViewportRows();
    EXPECT_EQ(buffer->activeSemanticGroupID(), 0u);
    buffer->beginSemanticPromptGroup(0);
    EXPECT_EQ(buffer->activeSemanticGroupID(), 1u);

    BufferTestAccess::setGroupCounter(*buffer, std::numeric_limits<uint64_t>::max() - 1);
    buffer->beginSemanticPromptGroup(0);
    EXPECT_EQ(buffer->activeSemanticGroupID(), std::numeric_limits<uint64_t>::max());
    buffer->beginSemanticPromptGroup(0);
    EXPECT_EQ(buffer->activeSemanticGroupID(), 1u);
}

TEST(BufferSemantic, MarksAreClampedIntoTheRow) {
    auto buffer = makeBuffer({.cols = 80, .rows = 3});
    prompt(*buffer, 1, 500);
    EXPECT_EQ(buffer->lines()[1].semanticMarks(),
              (std::vector<SemanticMark>{SemanticMark(Kind::initial, 79, 1)}));
    buffer->setSemanticMark(Kind::right, 1, -3);
    EXPECT_EQ(buffer->semanticPromptMarks(1),
              (std::vector<SemanticPromptAnchor>{{Position{0, 1}, Kind::right},
                                                 {Position{79, 1}, Kind::initial}}));
    buffer->setSemanticMark(Kind::initial, 3, 0);
    buffer->setSemanticMark(Kind::initial, -1, 0);
    EXPECT_TRUE(buffer->semanticPromptMarks(3).empty());
    EXPECT_TRUE(buffer->semanticPromptMarks(0).empty());
}

// The start row is held by identity: scrolling into history moves its index, a full ring moves
// it again, and recycling it makes the screen look for another opening mark of the group.
TEST(BufferSemantic, ThePromptRowIsFoundAgainAfterScrolling) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3, .scrollback = 20});
    prompt(*buffer, 1, 2);
    for (int i = 0; i < 5; ++i) {
        scrollWholeScreen(*buffer, false);
    }
    EXPECT_EQ(buffer->semanticPromptStartRow(), 1) << "a ring that is not full keeps indices";
    EXPECT_EQ(buffer->semanticPromptRowScanCount(), 0);

    while (!buffer->lines().isFull()) {
        scrollWholeScreen(*buffer, false);
    }
    prompt(*buffer, 15, 2);
    buffer->setSemanticMark(Kind::secondary, 20, 0);
    const BufferLine* const promptRow = &buffer->lines()[15];
    for (int i = 0; i < 10; ++i) {
        scrollWholeScreen(*buffer, false);
    }
    EXPECT_EQ(buffer->semanticPromptStartRow(), 5);
    EXPECT_EQ(buffer->semanticPromptRowScanCount(), 1);
    EXPECT_EQ(buffer->semanticPromptStartRow(), 5);
    EXPECT_EQ(buffer->semanticPromptRowScanCount(), 1) << "the cache answers";
    EXPECT_EQ(buffer->activeSemanticPromptOrigin(), (Position{2, 5}));
    EXPECT_EQ(buffer->absoluteRow(*promptRow), 5);

    for (int i = 0; i < 6; ++i) {
        scrollWholeScreen(*buffer, false);
    }
    // Recycled: the secondary prompt of the same group, now at 20 - 16, takes over.
    EXPECT_EQ(buffer->semanticPromptStartRow(), 4);
    EXPECT_EQ(buffer->rawSemanticOrigin()->kind, Kind::secondary);
    EXPECT_EQ(buffer->absoluteRow(*promptRow), 22) << "the object is now the newest line";

    for (int i = 0; i < 5; ++i) {
        scrollWholeScreen(*buffer, false);
    }
    EXPECT_EQ(buffer->semanticPromptStartRow(), std::nullopt);
    EXPECT_EQ(buffer->rawSemanticOrigin(), std::nullopt);
}

TEST(BufferSemantic, RowKindsOfAPromptLine) {
    auto buffer = makeBuffer({.cols = 10, .rows = 8}, {"x", "$ ls", "~more", "~more", "next"});
    prompt(*buffer, 1);
    // Hard continuations: rows of a multi-line editor joined to a group without a wrap.
    buffer->lines()[5].setSemanticHardContinuationGroup(1);
    buffer->lines()[6].setSemanticHardContinuationGroup(7);
    buffer->lines()[4].setIsWrapped(false);
    prompt(*buffer, 4);
    buffer->lines()[5].setSemanticHardContinuationGroup(2);

    struct Case {
        int row;
        std::optional<Kind> kind;
    };
    const Case cases[] = {{0, std::nullopt},       {1, Kind::initial}, {2, Kind::continuation},
                          {3, Kind::continuation}, {4, Kind::initial}, {5, Kind::continuation},
                          {6, std::nullopt},       {7, std::nullopt},  {8, std::nullopt},
                          {-1, std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(buffer->semanticRowKind(c.row), c.kind);
    }
    EXPECT_TRUE(buffer->rowContinuesActiveGroupHard(5));
    EXPECT_FALSE(buffer->rowContinuesActiveGroupHard(6));
    buffer->setSemanticMark(Kind::continuation, 7, 0);
    EXPECT_EQ(buffer->semanticRowKind(7), Kind::continuation);
    EXPECT_TRUE(buffer->rowContinuesActiveGroupHard(7));
}

TEST(BufferSemantic, AGroupIsReusedOnlyWhileThePromptIsUp) {
    auto buffer = makeBuffer({.cols = 10, .rows = 3});
    prompt(*buffer, 1);
    struct Case {
        SemanticInputState input;
        bool reusable;
    };
    const Case cases[] = {{SemanticInputState::idle, false},
                          {SemanticInputState::prompt, true},
                          {SemanticInputState::armed, true},
                          {SemanticInputState::submitted, false}};
    for (const Case& c : cases) {
        buffer->semanticInput = c.input;
        EXPECT_EQ(buffer->canReuseSemanticGroup(1), c.reusable) << int(c.input);
        EXPECT_FALSE(buffer->canReuseSemanticGroup(2));
        EXPECT_FALSE(buffer->canReuseSemanticGroup(9));
    }
}

// A click is measured from the last secondary prompt of the command line at or before it.
TEST(BufferSemantic, ClicksAreMeasuredFromTheNearestPromptBefore) {
    auto buffer = makeBuffer({.cols = 20, .rows = 6});
    prompt(*buffer, 1, 2);
    buffer->setSemanticMark(Kind::secondary, 3, 4);
    struct Case {
        Position click;
        Position origin;
    };
    const Case cases[] = {
        {{1, 3}, {2, 1}}, {{6, 3}, {4, 3}}, {{0, 5}, {4, 3}},
        {{9, 0}, {2, 1}}, {{4, 3}, {4, 3}}, {{0, 99}, {4, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.click.debugDescription());
        EXPECT_EQ(buffer->semanticPromptRelativeOrigin(c.click), c.origin);
    }
}

// Copying the cells that hold the prompt's origin mark carries the prompt's start with them.
TEST(BufferSemantic, CopyingTheOriginMarkMovesThePromptStart) {
    auto buffer = makeBuffer({.cols = 10, .rows = 5}, {"", "$ cmd", "", "", "> x"});
    prompt(*buffer, 1, 2);
    BufferLine& source = buffer->lines()[1];
    BufferLine& target = buffer->lines()[3];
    target.copyFrom(source, 0, 0, 10);
    EXPECT_EQ(buffer->rawSemanticOrigin()->line.get(), &target);
    EXPECT_EQ(buffer->semanticPromptStartRow(), 3);
    EXPECT_TRUE(source.semanticMarks().empty());

    // Another row's initial mark never displaces the origin where it stands.
    buffer->lines()[4].setSemanticMark(Kind::initial, 0, 1);
    target.copyFrom(buffer->lines()[4], 0, 0, 2);
    EXPECT_EQ(target.semanticMarks(),
              (std::vector<SemanticMark>{SemanticMark(Kind::initial, 2, 1)}));
    EXPECT_EQ(buffer->activeSemanticPromptOrigin(), (Position{2, 3}));
}

TEST(BufferSemantic, ThePromptRowSurvivesAReflow) {
    auto buffer =
        makeBuffer({.cols = 10, .rows = 4, .scrollback = 10}, {"0123456789", "~abc", "$ ", "out"});
    prompt(*buffer, 2);
    buffer->setY(3);
    buffer->resize(20, 4);
    EXPECT_EQ(buffer->semanticPromptStartRow(), 1);
    EXPECT_EQ(rowText(buffer->lines()[1]), "$ ");
    buffer->resize(5, 4);
    EXPECT_EQ(dumpRows(*buffer), (Rows{"01234", "~56789", "~abc", "$ ", "out"}));
    EXPECT_EQ(buffer->semanticPromptStartRow(), 3);
    EXPECT_EQ(buffer->activeSemanticPromptOrigin(), (Position{0, 3}));
}
