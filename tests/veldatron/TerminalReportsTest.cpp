#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;

namespace {

// Each row: a 20 x 10 terminal, the setup bytes, the request, and the reply in 7-bit form. Each
// row runs twice, the second time after S8C1T, and then expects eightBit(reply).
struct ReplyCase {
    const char* name;
    std::string setup;
    std::string request;
    std::string reply;
};

const ReplyCase replyCases[] = {
    {"DSR 5 reports ok", "", "\x1b[5n", "\x1b[0n"},
    {"CPR reports row and column from 1", "\x1b[4;7H", "\x1b[6n", "\x1b[4;7R"},
    {"CPR in origin mode counts from the region", "\x1b[3;9r\x1b[?6h\x1b[3;11H", "\x1b[6n",
     "\x1b[3;11R"},
    {"CPR in origin mode with margins counts from the left margin",
     "\x1b[?69h\x1b[5;15s\x1b[?6h\x1b[1;3H", "\x1b[6n", "\x1b[1;3R"},
    {"CPR above the region in origin mode is raised to 1", "\x1b[5;9r\x1b[2;1H\x1b[?6h", "\x1b[6n",
     "\x1b[1;1R"},
    {"DECXCPR at home", "", "\x1b[?6n", "\x1b[?1;1;1R"},
    {"CPR after the last column was written reports the last column", "\x1b[1;80Hx", "\x1b[6n",
     "\x1b[1;20R"},
    {"DECXCPR in the pending-wrap column", "\x1b[1;11H0123456789", "\x1b[?6n", "\x1b[?1;20;1R"},
    {"CPR with autowrap off stays on the right margin",
     "\x1b[?69h\x1b[5;9s\x1b[5;9r\x1b[9;8H\x1b[?7labcdef", "\x1b[6n", "\x1b[9;9R"},
    {"CPR in the pending-wrap column of the right margin, in origin mode",
     "\x1b[?69h\x1b[5;9s\x1b[?6h\x1b[1;4Habcdefg", "\x1b[6n", "\x1b[2;5R"},

    {"printer status", "", "\x1b[?15n", "\x1b[?10n"},
    {"user-defined keys", "", "\x1b[?25n", "\x1b[?21n"},
    {"keyboard", "", "\x1b[?26n", "\x1b[?27;1;0;0n"},
    {"locator", "", "\x1b[?55n", "\x1b[?53n"},
    {"locator type", "", "\x1b[?56n", "\x1b[?57;1n"},
    {"macro space", "", "\x1b[?62n", "\x1b[0*{"},
    {"memory checksum with an id", "", "\x1b[?63;7n", "\x1bP7!~0000\x1b\\"},
    {"memory checksum without an id", "", "\x1b[?63n", "\x1bP0!~0000\x1b\\"},
    {"data integrity", "", "\x1b[?75n", "\x1b[?70n"},
    {"multi-session", "", "\x1b[?85n", "\x1b[?83n"},
    {"unknown status requests get no reply", "", "\x1b[7n\x1b[?7n\x1b[>5n", ""},
    {"primary DA", "", "\x1b[c", "\x1b[?65;4;1;2;6;21;22;17;28c"},
    {"primary DA with 0", "", "\x1b[0c", "\x1b[?65;4;1;2;6;21;22;17;28c"},
    {"secondary DA", "", "\x1b[>c", "\x1b[>65;20;1c"},
    {"DA with a parameter gets no reply", "", "\x1b[1c\x1b[>1c", ""},
    {"tertiary DA gets no reply", "", "\x1b[=c", ""},
    {"DECRQCRA of an empty screen", "", "\x1b[3;1;1;1;10;20*y", "\x1bP3!~1900\x1b\\"},
    {"DECRQCRA of one letter", "A", "\x1b[1;1;1;1;1;1*y", "\x1bP1!~0041\x1b\\"},
    {"DECRQCRA of a wide character and its empty half", "\xe4\xbd\xa0", "\x1b[1;1;1;1;1;2*y",
     "\x1bP1!~4f80\x1b\\"},
    {"DECRQCRA without a rectangle", "A", "\x1b[9;1*y", "\x1bP9!~0000\x1b\\"},
    {"DECRQCRA with bottom 0 names nothing", "A", "\x1b[1;1;1;1;0;1*y", "\x1bP1!~0000\x1b\\"},
    {"DECRQCRA keeps the low 16 bits of the sum", "\x1b[65533;1;1;10;20$x", "\x1b[1;1;1*y",
     "\x1bP1!~fda8\x1b\\"},
    {"DECRQCRA in origin mode counts from the region", "\x1b[2;3r\x1b[2;1HA\x1b[?6h",
     "\x1b[1;1;1;1;1;1*y", "\x1bP1!~0041\x1b\\"},
    {"DECSCL 62;1 answers nothing", "", "\x1b[62;1\"p", ""},
    {"DECRQCRA in origin mode adds the left margin only while margin mode is on",
     "\x1b[5;7r\x1b[?69h\x1b[5;7s\x1b[?6h\x1b[HX\x1b[?69l\x1b[r", "\x1b[1;1;5;5;5;5*y",
     "\x1bP1!~0058\x1b\\"},
    {"DECRQCRA in origin mode with margin mode on counts from the left margin",
     "\x1b[5;7r\x1b[?69h\x1b[5;7s\x1b[?6h\x1b[HX\x1b[r", "\x1b[1;1;5;1;5;1*y",
     "\x1bP1!~0058\x1b\\"},
};

class ReplyTable : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyTable, AnswersInSevenAndEightBits) {
    const ReplyCase& c = GetParam();
    for (bool eight : {false, true}) {
        SCOPED_TRACE(eight ? "8-bit" : "7-bit");
        TerminalFixture t({.cols = 20, .rows = 10});
        t.feed(eight ? "\x1b G" : "\x1b F");
        t.feed(c.setup);
        t.feed(c.request);
        EXPECT_EQ(t.takeReplies(), escaped(eight ? eightBit(c.reply) : c.reply));
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, ReplyTable, ::testing::ValuesIn(replyCases),
                         [](const auto& info) { return testName(info.param.name); });

TEST(TerminalReports, AnEightBitStatusReplyIsThreeBytes) {
    TerminalFixture t;
    t.feed("\x1b G\x1b[5n");
    EXPECT_EQ(t.host.replies, "\x9b"
                              "0n");
}

TEST(TerminalReports, PrimaryAttributesFollowTheTerminalName) {
    struct Case {
        const char* termName;
        bool sixel;
        std::string primary;
    };
    const Case cases[] = {
        {"xterm-256color", false, "\\x1b[?65;1;2;6;21;22;17;28c"},
        {"screen-256color", true, "\\x1b[?1;2c"},
        {"rxvt-unicode-256color", true, "\\x1b[?1;2c"},
        {"linux", true, "\\x1b[?6c"},
        {"vt100", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.termName);
        RecordingDelegate host;
        TerminalOptions options;
        options.termName = c.termName;
        options.enableSixelReported = c.sixel;
        Terminal terminal(&host, options);
        terminal.feed("\x1b[c");
        EXPECT_EQ(escaped(host.replies), c.primary);
        host.replies.clear();
        terminal.feed("\x1b[>c");
        EXPECT_EQ(escaped(host.replies), "\\x1b[>65;20;1c") << "whatever the name says";
    }
}

TEST(TerminalReports, DeviceAttributesWithAParameterAreLogged) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.feed("\x1b[>1c");
    EXPECT_THAT(capture.captured(), ElementsAre("Info: SendDeviceAttributes got [1] and >"));
}

// ---- Rectangle checksum ---------------------------------------------------------------------

class UntrustingHost : public RecordingDelegate {
public:
    bool isProcessTrusted(Terminal&) override { return false; }
};

TEST(TerminalReports, RectangleChecksumNeedsATrustedHostAndARectangle) {
    UntrustingHost host;
    Terminal terminal(&host, TerminalOptions());
    terminal.feed("A\x1b[1;1;1;1;1;1*y");
    EXPECT_EQ(escaped(host.replies), "\\x1bP1!~0000\\x1b\\\\");

    TerminalFixture t({.cols = 80, .rows = 24});
    t.feed("A\x1b[1;1*y");
    EXPECT_EQ(t.takeReplies(), "\\x1bP1!~0000\\x1b\\\\") << "two parameters name no rectangle";
    t.feed("\x1b[2J\x1b[1;1;1*y");
    EXPECT_EQ(t.takeReplies(), "\\x1bP1!~f000\\x1b\\\\") << "80 x 24 blanks count 32 each";
}

TEST(TerminalReports, RectangleChecksumAddsEveryScalarOfACluster) {
    TerminalFixture t({.cols = 20, .rows = 4});
    // e + combining acute: one cell of two scalars (0x65 + 0x301); a flag pair: one wide cell
    // of two scalars and its empty half (0x1F1E9 + 0x1F1EA + 32, low 16 bits).
    t.feed("e\xcc\x81\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa");
    t.feed("\x1b[1;1;1;1;1;1*y\x1b[2;1;1;2;1;3*y");
    EXPECT_EQ(t.takeReplies(), "\\x1bP1!~0366\\x1b\\\\\\x1bP2!~e3f3\\x1b\\\\");
}

// ---- Version and conformance ----------------------------------------------------------------

TEST(TerminalReports, VersionIdentity) {
    struct Case {
        std::optional<std::string_view> tag;
        std::optional<std::string_view> branch;
        std::optional<std::string_view> version;
        std::string identity;
    };
    const std::string longVersion(400, 'x');
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, "Veldatron:"},
        {"v2.1", std::nullopt, "unknown", "Veldatron 2.1:"},
        {"x9", "main", "abc", "Veldatron x9-main+abc:"},
        {"\x01\x02\x1b", std::nullopt, std::nullopt, "Veldatron:"},
        {"v", "", "", "Veldatron:"},
        {"v1.\xc3\xa9"
         "0",
         "f\teat", std::nullopt, "Veldatron 1.0-feat:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity);
        EXPECT_EQ(Terminal::xtVersionIdentity(c.tag, c.branch, c.version), c.identity);
    }
    const std::string cut = Terminal::xtVersionIdentity("v1", std::nullopt, longVersion);
    EXPECT_EQ(cut.size(), 256u);
    EXPECT_EQ(cut.back(), ':');
    EXPECT_EQ(cut.substr(0, 14), "Veldatron 1+xx");
}

TEST(TerminalReports, VersionReplyIsAlwaysSevenBit) {
    for (const char* framing : {"\x1b F", "\x1b G"}) {
        SCOPED_TRACE(escaped(framing));
        TerminalFixture t;
        t.feed(framing);
        t.feed("\x1b[>q\x1b[>0q\x1b[>1q\x1b[>0;0q\x1b[q");
        const std::string replies = t.takeReplies();
        const std::string one = "\\x1bP>|Veldatron ";
        ASSERT_EQ(replies.rfind(one, 0), 0u) << replies;
        const size_t end = replies.find("\\x1b\\\\");
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(replies.substr(end + 6), replies.substr(0, end + 6))
            << "CSI > q and CSI > 0 q answer alike; other parameters get nothing";
    }
}

TEST(TerminalReports, ConformanceLevelSetsTheLevelAndTheReplyFraming) {
    struct Case {
        std::string request;
        Terminal::TerminalConformance level;
        bool send8bit;
    };
    const Case cases[] = {
        // 61 turns replies to 7-bit whatever follows: a level-1 terminal has no 8-bit controls.
        {"\x1b[61\"p", Terminal::TerminalConformance::vt100, false},
        {"\x1b[62;0\"p", Terminal::TerminalConformance::vt200, true},
        {"\x1b[61;2\"p", Terminal::TerminalConformance::vt100, false},
        {"\x1b[63;2\"p", Terminal::TerminalConformance::vt300, true},
        // Above level 1, 0 and 2 turn 8-bit replies on and any other value turns them off.
        {"\x1b[62;5\"p", Terminal::TerminalConformance::vt200, false},
        {"\x1b[62;0\"p", Terminal::TerminalConformance::vt200, true},
        {"\x1b[64;1\"p", Terminal::TerminalConformance::vt400, false},
        {"\x1b[62;2\"p", Terminal::TerminalConformance::vt200, true},
        {"\x1b[64;3\"p", Terminal::TerminalConformance::vt400, false},
        // Without a second parameter the framing stays; without any, nothing changes.
        {"\x1b[62;2\"p\x1b[65\"p", Terminal::TerminalConformance::vt500, true},
        {"\x1b[63\"p", Terminal::TerminalConformance::vt300, true},
        {"\x1b[\"p", Terminal::TerminalConformance::vt300, true},
        {"\x1b[99;1\"p", Terminal::TerminalConformance::vt500, false},
        {"\x1b[\"p", Terminal::TerminalConformance::vt500, false},
    };
    // One terminal through all rows: each starts where the last left off.
    TerminalFixture t;
    t.feed("\x1b G\x1b[64\"p");
    for (const Case& c : cases) {
        SCOPED_TRACE(escaped(c.request));
        const bool before = t.terminal.cc().send8bit;
        t.feed(c.request);
        EXPECT_EQ(t.terminal.conformance(), c.level);
        EXPECT_EQ(t.terminal.cc().send8bit, c.send8bit) << "was " << before;
    }
}

} // namespace
