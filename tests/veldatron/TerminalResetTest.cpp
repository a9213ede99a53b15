#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace veldatron;
using namespace veldatron::testing;
using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The stops of a screen, by column.
std::vector<int> stops(const Buffer& buffer) {
    std::vector<int> columns;
    for (size_t col = 0; col < buffer.tabStops().size(); ++col) {
        if (buffer.tabStops()[col]) {
            columns.push_back(int(col));
        }
    }
    return columns;
}

// ---- Full reset -----------------------------------------------------------------------------

TEST(TerminalReset, FullResetReturnsToPowerOnAndKeepsSizeAndCursorVisibility) {
    TerminalFixture t({.cols = 20, .rows = 6});
    t.feed("one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\nseven");
    t.feed("\x1b[?25l\x1b[?2026h\x1b G\x1b[3g\x1b(0\x1b[1;31m\x1b[2;4r\x1b[?6h\x1b[?7l\x1b[4h");
    t.feed("\x1b[?69h\x1b[3;9s\x1b[3 S");
    t.terminal.activateAltBuffer(std::nullopt);
    t.feed("\x1b[5;5Halt");
    t.takeCalls();

    t.feed("\x1b"
           "c");
    Terminal& terminal = t.terminal;
    EXPECT_FALSE(terminal.isCurrentBufferAlternate());
    EXPECT_EQ(t.screen(), Rows(6, ""));
    EXPECT_EQ(t.scrollback(), Rows{});
    EXPECT_EQ(t.cursor(), "0,0");
    EXPECT_TRUE(terminal.isCursorHidden());
    EXPECT_EQ(terminal.cols(), 20);
    EXPECT_EQ(terminal.rows(), 6);
    EXPECT_FALSE(terminal.synchronizedOutputActive());
    EXPECT_FALSE(terminal.cc().send8bit);
    EXPECT_EQ(terminal.charset(), nullptr);
    EXPECT_EQ(terminal.currentAttribute(), Attribute());
    EXPECT_FALSE(terminal.originMode());
    EXPECT_FALSE(terminal.marginMode());
    EXPECT_FALSE(terminal.insertMode());
    EXPECT_TRUE(terminal.wraparound());
    EXPECT_EQ(terminal.currentBidiState(), BidiPresentationState::Default);
    const Buffer& buffer = terminal.buffer();
    EXPECT_EQ(buffer.scrollTop(), 0);
    EXPECT_EQ(buffer.scrollBottom(), 5);
    EXPECT_EQ(buffer.marginLeft(), 0);
    EXPECT_EQ(buffer.marginRight(), 19);
    EXPECT_EQ(stops(buffer), (std::vector<int>{0, 8, 16}));
    EXPECT_THAT(t.takeCalls(), ElementsAre("synchronizedOutputChanged false", "mouseModeChanged",
                                           "bufferActivated"));
    t.executor.advance(2s);
    EXPECT_THAT(t.takeCalls(), IsEmpty()) << "the time-out went with the mode";
}

TEST(TerminalReset, FullResetInTheMiddleOfAChunkResetsTheParserToo) {
    TerminalFixture t({.cols = 20, .rows = 3});
    // A UTF-8 character cut by the reset must not join what follows.
    t.feed("\x1b[1;31m\xe2\x80\x1b"
           "cok\x1b[6n");
    EXPECT_EQ(t.screen(), (Rows{"ok", "", ""}));
    EXPECT_EQ(t.cell(0, 0).attribute(), Attribute());
    EXPECT_EQ(t.takeReplies(), "\\x1b[1;3R");
}

TEST(TerminalReset, AResetFromTheAlternateScreenStartsAtHome) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.terminal.activateAltBuffer(std::nullopt);
    t.feed("\x1b[2;2H\x1b[?25l");
    t.feed("\x1b"
           "c");
    EXPECT_FALSE(t.terminal.isCurrentBufferAlternate());
    EXPECT_EQ(t.cursor(), "0,0") << "not the alternate screen's cursor";
}

// ---- Resize ---------------------------------------------------------------------------------

TEST(TerminalResize, SizesBelowTheMinimumAreRaised) {
    TerminalFixture t({.cols = 20, .rows = 6});
    t.terminal.resize(1, 0);
    EXPECT_EQ(t.terminal.cols(), 2);
    EXPECT_EQ(t.terminal.rows(), 1);
    EXPECT_EQ(t.terminal.options().cols, 2);
    EXPECT_EQ(t.terminal.options().rows, 1);
    EXPECT_EQ(t.terminal.altBuffer().cols(), 2);
}

TEST(TerminalResize, TheCursorStaysOnTheScreen) {
    TerminalFixture t({.cols = 20, .rows = 6});
    t.feed("\x1b[6;20Hx");
    ASSERT_EQ(t.cursor(), "20,5");
    t.terminal.resize(8, 3);
    EXPECT_EQ(t.terminal.buffer().x(), 7);
    EXPECT_LT(t.terminal.buffer().y(), 3);
    t.feed("\x1b[6n");
    EXPECT_EQ(t.takeReplies(), "\\x1b[3;8R");
}

TEST(TerminalResize, TabStopsUpToTheOldWidthAreKept) {
    TerminalFixture t({.cols = 20, .rows = 3});
    t.feed("\x1b[1;9H\x1b[g\x1b[1;4H\x1bH");
    t.terminal.resize(40, 3);
    EXPECT_EQ(stops(t.terminal.buffer()), (std::vector<int>{0, 3, 16, 24, 32}));
    EXPECT_EQ(stops(t.terminal.altBuffer()), (std::vector<int>{0, 8, 16, 24, 32}))
        << "the alternate screen's stops follow its own";
    t.terminal.resize(10, 3);
    EXPECT_EQ(stops(t.terminal.buffer()), (std::vector<int>{0, 3}));
}

TEST(TerminalResize, TheAlternateScreenIsResizedToo) {
    TerminalFixture t({.cols = 20, .rows = 6});
    t.terminal.activateAltBuffer(std::nullopt);
    t.feed("\x1b[6;1Hbottom");
    t.terminal.resize(30, 4);
    EXPECT_EQ(t.terminal.buffer().cols(), 30);
    EXPECT_EQ(t.terminal.buffer().rows(), 4);
    EXPECT_EQ(t.terminal.buffer().scrollBottom(), 3);
    t.terminal.activateNormalBuffer(true);
    EXPECT_EQ(t.terminal.buffer().cols(), 30);
    EXPECT_EQ(t.screen().size(), 4u);
}

TEST(TerminalResize, EndsSynchronizedOutputUnlessTheSizeStays) {
    TerminalFixture t({.cols = 20, .rows = 6});
    t.feed("\x1b[?2026h");
    t.takeCalls();
    t.terminal.resize(20, 6);
    EXPECT_TRUE(t.terminal.synchronizedOutputActive());
    t.terminal.resize(21, 6);
    EXPECT_FALSE(t.terminal.synchronizedOutputActive());
    EXPECT_THAT(t.takeCalls(), ElementsAre("synchronizedOutputChanged false"));
    EXPECT_EQ(t.terminal.getUpdateRange(), (Terminal::RowRange{0, 5}));
    t.executor.advance(2s);
    EXPECT_THAT(t.takeCalls(), IsEmpty());
}

// ---- Scrollback -----------------------------------------------------------------------------

TEST(TerminalScrollback, ClearingAndResizingTheHistory) {
    TerminalFixture t({.cols = 10, .rows = 2, .scrollback = 10});
    for (int i = 1; i <= 8; ++i) {
        t.feed(std::to_string(i) + "\r\n");
    }
    t.feed("9");
    ASSERT_EQ(t.scrollback().size(), 7u);
    t.terminal.changeScrollback(3);
    EXPECT_EQ(t.scrollback(), (Rows{"5", "6", "7"}));
    EXPECT_EQ(t.terminal.options().scrollback, 3);
    t.terminal.clearScrollback();
    EXPECT_EQ(t.scrollback(), Rows{});
    EXPECT_EQ(t.screen(), (Rows{"8", "9"}));
    t.terminal.changeScrollback(std::nullopt);
    EXPECT_EQ(t.terminal.options().scrollback, 0);
    EXPECT_FALSE(t.terminal.normalBuffer().hasScrollback());
}

} // namespace
