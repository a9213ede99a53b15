#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;

namespace {

// ---- Status-string requests (DECRQSS) -------------------------------------------------------

TEST(TerminalStatus, StatusStringReplies) {
    struct Case {
        const char* name;
        std::string setup;
        std::string request;
        std::string reply; // 7-bit, escaped
    };
    const Case cases[] = {
        {"scroll region", "", "r", "\\x1bP1$r1;24r\\x1b\\\\"},
        {"a narrower scroll region", "\x1b[3;10r", "r", "\\x1bP1$r3;10r\\x1b\\\\"},
        {"bold", "\x1b[1m", "m", "\\x1bP1$r0;1m\\x1b\\\\"},
        {"colours", "\x1b[38;5;12;48;2;1;2;3m", "m", "\\x1bP1$r0;94;48;2;1;2;3m\\x1b\\\\"},
        {"margins", "\x1b[?69h\x1b[5;20s", "s", "\\x1bP1$r5;20s\\x1b\\\\"},
        {"cursor style at start: a blinking block", "", " q", "\\x1bP1$r1 q\\x1b\\\\"},
        {"cursor style 0 is the blinking block", "\x1b[6 q\x1b[0 q", " q", "\\x1bP1$r1 q\\x1b\\\\"},
        {"steady block", "\x1b[2 q", " q", "\\x1bP1$r2 q\\x1b\\\\"},
        {"blinking underline", "\x1b[3 q", " q", "\\x1bP1$r3 q\\x1b\\\\"},
        {"steady underline", "\x1b[4 q", " q", "\\x1bP1$r4 q\\x1b\\\\"},
        {"blinking bar", "\x1b[5 q", " q", "\\x1bP1$r5 q\\x1b\\\\"},
        {"steady bar", "\x1b[6 q", " q", "\\x1bP1$r6 q\\x1b\\\\"},
        {"an unknown style keeps the last", "\x1b[4 q\x1b[7 q", " q", "\\x1bP1$r4 q\\x1b\\\\"},
        {"protection", "", "\"q", "\\x1bP1$r\"q\\x1b\\\\"},
        {"conformance level", "", "\"p", "\\x1bP1$r65;1\"p\\x1b\\\\"},
        {"unknown", "", "x", "\\x1bP0$r\\x1b\\\\"},
        {"empty", "", "", "\\x1bP0$r\\x1b\\\\"},
        {"not ASCII", "", "\xc3\xa4", "\\x1bP0$r\\x1b\\\\"},
        {"a known request with more after it", "", "rr", "\\x1bP0$r\\x1b\\\\"},
        {"longer than any request", "", std::string(200, 'm'), "\\x1bP0$r\\x1b\\\\"},
    };
    for (bool eight : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (eight ? " (8-bit)" : " (7-bit)"));
            TerminalFixture t({.cols = 80, .rows = 24});
            t.feed(c.setup);
            if (eight) {
                t.feed("\x1b[65;2\"p");
            }
            t.takeReplies();
            t.feed("\x1bP$q" + c.request + "\x1b\\");
            std::string reply = c.reply;
            if (eight) {
                // ESC P ... ESC \ becomes 0x90 ... 0x9C.
                reply = "\\x90" + reply.substr(5, reply.size() - 5 - 6) + "\\x9c";
            }
            EXPECT_EQ(t.takeReplies(), reply);
        }
    }
}

TEST(TerminalStatus, ARequestSplitOverReadsIsAnsweredOnceAtTheEnd) {
    TerminalFixture t({.cols = 80, .rows = 24});
    t.feedSplit("\x1bP$qr\x1b\\", {1});
    EXPECT_EQ(t.takeReplies(), "\\x1bP1$r1;24r\\x1b\\\\");
    t.feed("\x1bP$q");
    t.feed(" ");
    EXPECT_EQ(t.takeReplies(), "");
    t.feed("q\x1b\\");
    EXPECT_EQ(t.takeReplies(), "\\x1bP1$r1 q\\x1b\\\\");
}

TEST(TerminalStatus, ARequestThatStreamsOnIsKeptToItsStart) {
    TerminalFixture t({.cols = 80, .rows = 24});
    const DcsHandler& handler = *t.terminal.parser().decrqssDcsHandler;
    t.feed("\x1bP$q");
    const std::string read(64 * 1024, 'm');
    for (int i = 0; i < 16; ++i) {
        t.feed(read);
    }
    // Its first 64 bytes, in a block grown by doubling at most.
    EXPECT_LE(handler.heldBytes(), 128u);
    EXPECT_EQ(t.takeReplies(), "");
    t.feed("\x1b\\");
    EXPECT_EQ(t.takeReplies(), "\\x1bP0$r\\x1b\\\\");
    t.feed("\x1bP$qr\x1b\\");
    EXPECT_EQ(t.takeReplies(), "\\x1bP1$r1;24r\\x1b\\\\") << "the next request starts afresh";
}

TEST(TerminalStatus, UnknownRequestsAreLoggedWhenAsked) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.feed("\x1bP$qx\x1b\\\x1bP$qm\x1b\\");
    EXPECT_THAT(capture.captured(), ElementsAre("Info: Unknown DCS + x"));
}

// ---- Kitty keyboard flags -------------------------------------------------------------------

int64_t flags(TerminalFixture& t) {
    return t.terminal.keyboardEnhancementFlags().rawValue;
}

TEST(TerminalKeyboard, SetFlags) {
    struct Case {
        std::string input;
        int64_t flags;
    };
    // Each row starts from flags 5 (disambiguate and reportAlternates).
    const Case cases[] = {
        {"\x1b[=31u", 31}, {"\x1b[=255u", 31},   {"\x1b[=2;2u", 7}, {"\x1b[=4;3u", 1},
        {"\x1b[=4;7u", 5}, {"\x1b[=u", 0},       {"\x1b[=8;1u", 8}, {"\x1b[=2;u", 5},
        {"\x1b[=0;2u", 5}, {"\x1b[=65535u", 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(escaped(c.input));
        TerminalFixture t;
        t.feed("\x1b[=5u");
        ASSERT_EQ(flags(t), 5);
        t.feed(c.input);
        EXPECT_EQ(flags(t), c.flags);
        EXPECT_EQ(t.cursor(), "0,0");
    }
}

TEST(TerminalKeyboard, PushBeyondSixteenDropsTheOldest) {
    TerminalFixture t;
    t.feed("\x1b[=3u");
    for (int i = 1; i <= 17; ++i) {
        t.feed("\x1b[>" + std::to_string(i) + "u");
    }
    EXPECT_EQ(flags(t), 17 & 31);
    EXPECT_EQ(t.terminal.keyboardModeNormal().stack.size(), Terminal::maxKeyboardModeStackDepth);
    t.feed("\x1b[<16u");
    EXPECT_EQ(flags(t), 1) << "the flags from before the first push are gone";
    t.feed("\x1b[<u");
    EXPECT_EQ(flags(t), 0) << "an empty stack pops to no flags";
}

TEST(TerminalKeyboard, PopMoreThanTheStackHolds) {
    TerminalFixture t;
    t.feed("\x1b[>1u\x1b[>2u\x1b[>4u");
    t.feed("\x1b[<2u");
    EXPECT_EQ(flags(t), 1);
    t.feed("\x1b[>8u\x1b[<5u");
    EXPECT_EQ(flags(t), 0);
    EXPECT_TRUE(t.terminal.keyboardModeNormal().stack.empty());
    t.feed("\x1b[>u");
    EXPECT_EQ(flags(t), 0) << "a push without a value pushes and clears";
    EXPECT_EQ(t.terminal.keyboardModeNormal().stack.size(), 1u);
}

TEST(TerminalKeyboard, QueryAnswersTheActiveScreensFlags) {
    TerminalFixture t;
    t.feed("\x1b[=5u\x1b[?u");
    EXPECT_EQ(t.takeReplies(), "\\x1b[?5u");
    t.feed("\x1b[65;2\"p\x1b[?u");
    EXPECT_EQ(t.takeReplies(), "\\x9b?5u");
}

TEST(TerminalKeyboard, EachScreenHasItsOwnFlags) {
    TerminalFixture t;
    t.feed("\x1b[=1u\x1b[?1049h");
    EXPECT_EQ(flags(t), 0);
    t.feed("\x1b[>27u");
    EXPECT_EQ(flags(t), 27);
    t.feed("\x1b[?1049l");
    EXPECT_EQ(flags(t), 1);
    t.feed("\x1b[<u");
    EXPECT_EQ(flags(t), 0) << "the alternate screen's push is not on this stack";
    t.feed("\x1b[?1049h");
    EXPECT_EQ(flags(t), 27);
    t.feed("\x1b"
           "c");
    EXPECT_EQ(t.terminal.keyboardModeAlt().flags.rawValue, 0);
    EXPECT_TRUE(t.terminal.keyboardModeAlt().stack.empty());
}

TEST(TerminalKeyboard, PlainCsiURestoresTheCursor) {
    TerminalFixture t;
    t.feed("\x1b[3;4H\x1b[s\x1b[H\x1b[u");
    EXPECT_EQ(t.cursor(), "3,2");
    t.feed("\x1b[H\x1b[$u");
    EXPECT_EQ(t.cursor(), "0,0") << "another intermediate is neither";
}

} // namespace
