#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using MouseMode = Terminal::MouseMode;
using MouseProtocol = Terminal::MouseProtocolEncoding;

std::string decrqm(int mode, bool dec = true) {
    return std::string("\x1b[") + (dec ? "?" : "") + std::to_string(mode) + "$p";
}

std::string decrqmReply(int mode, int value, bool dec = true) {
    return std::string("\\x1b[") + (dec ? "?" : "") + std::to_string(mode) + ";" +
           std::to_string(value) + "$y";
}

// ---- Set, reset and report of the DEC modes that hold a state -------------------------------

// Each row: a DEC private mode and what reads its state. The mode is set, read back and reported
// (DECRQM), then reset, read back and reported again.
struct DecModeCase {
    int mode;
    std::function<bool(Terminal&)> isSet;
};

const std::vector<DecModeCase> decModeCases = {
    {1, [](Terminal& t) { return t.applicationCursor(); }},
    {4, [](Terminal& t) { return t.smoothScroll(); }},
    {5, [](Terminal& t) { return t.reverseColors(); }},
    {6, [](Terminal& t) { return t.originMode(); }},
    {7, [](Terminal& t) { return t.wraparound(); }},
    {12, [](Terminal& t) { return t.cursorBlink(); }},
    {25, [](Terminal& t) { return !t.isCursorHidden(); }},
    {40, [](Terminal& t) { return t.allow80To132(); }},
    {45, [](Terminal& t) { return t.reverseWraparound(); }},
    {47, [](Terminal& t) { return t.isCurrentBufferAlternate(); }},
    {66, [](Terminal& t) { return t.applicationKeypad(); }},
    {69, [](Terminal& t) { return t.marginMode(); }},
    {1004, [](Terminal& t) { return t.sendFocus(); }},
    {1007, [](Terminal& t) { return t.alternateScrollMode(); }},
    {1243, [](Terminal& t) { return t.bidiArrowKeySwap(); }},
    {2004, [](Terminal& t) { return t.bracketedPasteMode(); }},
    {2026, [](Terminal& t) { return t.synchronizedOutputActive(); }},
    {2500, [](Terminal& t) { return t.bidiBoxMirroring(); }},
    {2501, [](Terminal& t) { return t.bidiAutodetectDirection(); }},
    {9, [](Terminal& t) { return t.mouseMode() == MouseMode::x10; }},
    {1000, [](Terminal& t) { return t.mouseMode() == MouseMode::vt200; }},
    {1002, [](Terminal& t) { return t.mouseMode() == MouseMode::buttonEventTracking; }},
    {1003, [](Terminal& t) { return t.mouseMode() == MouseMode::anyEvent; }},
    {1005, [](Terminal& t) { return t.mouseProtocol() == MouseProtocol::utf8; }},
    {1006, [](Terminal& t) { return t.mouseProtocol() == MouseProtocol::sgr; }},
    {1015, [](Terminal& t) { return t.mouseProtocol() == MouseProtocol::urxvt; }},
    {1016, [](Terminal& t) { return t.mouseProtocol() == MouseProtocol::sgrPixel; }},
};

TEST(TerminalModes, SetResetAndReportEachDecMode) {
    for (const DecModeCase& c : decModeCases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        TerminalFixture t;
        const std::string n = std::to_string(c.mode);
        t.feed("\x1b[?" + n + "h");
        EXPECT_TRUE(c.isSet(t.terminal));
        t.takeReplies();
        t.feed(decrqm(c.mode));
        EXPECT_EQ(t.takeReplies(), decrqmReply(c.mode, 1));
        t.feed("\x1b[?" + n + "l");
        EXPECT_FALSE(c.isSet(t.terminal));
        t.feed(decrqm(c.mode));
        EXPECT_EQ(t.takeReplies(), decrqmReply(c.mode, 2));
    }
}

TEST(TerminalModes, SeveralModesInOneSequenceApplyInOrder) {
    TerminalFixture t;
    t.feed("\x1b[?1;2004;1006h");
    EXPECT_TRUE(t.terminal.applicationCursor());
    EXPECT_TRUE(t.terminal.bracketedPasteMode());
    EXPECT_EQ(t.terminal.mouseProtocol(), MouseProtocol::sgr);
    t.feed("\x1b[?1006;1015h\x1b[?1006l");
    EXPECT_EQ(t.terminal.mouseProtocol(), MouseProtocol::x10)
        << "resetting any encoding returns to the default one";
}

TEST(TerminalModes, ResettingAnyMouseModeTurnsReportingOff) {
    TerminalFixture t;
    t.feed("\x1b[?1003h");
    t.takeCalls();
    t.feed("\x1b[?9l");
    EXPECT_EQ(t.terminal.mouseMode(), MouseMode::off);
    t.feed("\x1b[?1000l");
    EXPECT_THAT(t.takeCalls(), ElementsAre("mouseModeChanged", "mouseModeChanged"))
        << "every assignment tells the host";
}

// ---- DECRQM for fixed and state-dependent answers -------------------------------------------

struct ReportCase {
    const char* name;
    std::string setup;
    std::string request;
    std::string reply;
};

const ReportCase reportCases[] = {
    {"DEC modes that are always set", "", "\x1b[?2$p\x1b[?8$p\x1b[?18$p\x1b[?19$p\x1b[?95$p",
     "\\x1b[?2;1$y\\x1b[?8;1$y\\x1b[?18;1$y\\x1b[?19;1$y\\x1b[?95;1$y"},
    {"DEC modes that are permanently reset", "", "\x1b[?10$p\x1b[?67$p\x1b[?1034$p",
     "\\x1b[?10;4$y\\x1b[?67;4$y\\x1b[?1034;4$y"},
    {"DEC modes that are reset", "", "\x1b[?13$p\x1b[?41$p\x1b[?1001$p",
     "\\x1b[?13;2$y\\x1b[?41;2$y\\x1b[?1001;2$y"},
    {"the screen-switch modes other than 47 are not recognised", "\x1b[?1049h",
     "\x1b[?1047$p\x1b[?1048$p\x1b[?1049$p\x1b[?7777$p",
     "\\x1b[?1047;0$y\\x1b[?1048;0$y\\x1b[?1049;0$y\\x1b[?7777;0$y"},
    {"DECCOLM reports the width", "", "\x1b[?3$p", "\\x1b[?3;2$y"},
    {"DECCOLM at 132 columns", "\x1b[?40h\x1b[?3h", "\x1b[?3$p", "\\x1b[?3;1$y"},
    {"ANSI modes with fixed answers", "",
     "\x1b[2$p\x1b[3$p\x1b[12$p\x1b[6$p\x1b[9$p\x1b[1$p\x1b[13$p\x1b[19$p\x1b[30$p",
     "\\x1b[2;2$y\\x1b[3;2$y\\x1b[12;1$y\\x1b[6;0$y\\x1b[9;0$y\\x1b[1;4$y\\x1b[13;4$y"
     "\\x1b[19;4$y\\x1b[30;0$y"},
    {"IRM", "\x1b[4h", "\x1b[4$p", "\\x1b[4;1$y"},
    {"LNM", "\x1b[20h", "\x1b[20$p\x1b[20l\x1b[20$p", "\\x1b[20;1$y\\x1b[20;2$y"},
    {"BDSM", "\x1b[8l", "\x1b[8$p\x1b[8h\x1b[8$p", "\\x1b[8;2$y\\x1b[8;1$y"},
    {"8-bit framing", "\x1b[65;2\"p\x1b[?2026h", "\x1b[?2026$p", "\\x9b?2026;1$y"},
    {"a private marker other than ? is no DECRQM", "", "\x1b[>4$p", ""},
};

TEST(TerminalModes, DecrqmAnswers) {
    for (const ReportCase& c : reportCases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        t.feed(c.setup);
        t.takeReplies();
        t.feed(c.request);
        EXPECT_EQ(t.takeReplies(), c.reply);
    }
}

// ---- Screens --------------------------------------------------------------------------------

TEST(TerminalModes, Mode1049SavesTheCursorAndClearsTheAlternateScreenOnItsWayBack) {
    TerminalFixture t({.cols = 10, .rows = 4});
    t.feed("shell\x1b[2;3H\x1b[31m");
    t.takeCalls();
    t.feed("\x1b[?1049h");
    EXPECT_TRUE(t.terminal.isCurrentBufferAlternate());
    EXPECT_EQ(t.screen(), (Rows{"", "", "", ""}));
    t.feed("\x1b[4;8H\x1b[mvim");
    t.feed("\x1b[?1049l");
    EXPECT_FALSE(t.terminal.isCurrentBufferAlternate());
    EXPECT_EQ(t.screen(), (Rows{"shell", "", "", ""}));
    EXPECT_EQ(t.cursor(), "2,1");
    EXPECT_EQ(t.terminal.currentAttribute().fg(), Attribute::Color::ansi256(1));
    EXPECT_THAT(t.takeCalls(), ElementsAre("bufferActivated", "bufferActivated"));
    t.feed("\x1b[?47h");
    EXPECT_EQ(t.screen(), (Rows{"", "", "", ""})) << "the alternate screen was cleared";
}

TEST(TerminalModes, Mode47KeepsTheAlternateScreenAnd1047ClearsIt) {
    TerminalFixture t({.cols = 10, .rows = 2});
    t.feed("\x1b[?47hkept\x1b[?47l\x1b[?47h");
    EXPECT_EQ(t.screen(), (Rows{"kept", ""}));
    t.feed("\x1b[?1047l\x1b[?1047h");
    EXPECT_EQ(t.screen(), (Rows{"", ""}));
}

TEST(TerminalModes, SwitchingScreensShowsAHiddenCursor) {
    TerminalFixture t;
    t.feed("\x1b[?25l");
    t.takeCalls();
    t.feed("\x1b[?1049h");
    EXPECT_FALSE(t.terminal.isCursorHidden());
    EXPECT_THAT(t.takeCalls(), ElementsAre("showCursor", "bufferActivated"));
}

TEST(TerminalModes, Mode1048SavesAndRestoresTheCursor) {
    TerminalFixture t;
    t.feed("\x1b[5;6H\x1b[?1048h\x1b[H\x1b[?1048l");
    EXPECT_EQ(t.cursor(), "5,4");
}

TEST(TerminalModes, ColumnModeNeedsMode40AndResetsAllButIt) {
    TerminalFixture t({.cols = 80, .rows = 5});
    t.feed("text\x1b[?3h");
    EXPECT_EQ(t.terminal.cols(), 80) << "DECCOLM is ignored without mode 40";
    t.feed("\x1b[?40h");
    t.takeCalls();
    // Allowed once, the switch works both ways as often as asked; each switch is a full reset
    // (the text, origin mode and autowrap off go) except for mode 40.
    struct Step {
        const char* bytes;
        int cols;
    };
    const Step steps[] = {{"\x1b[?3h", 132}, {"\x1b[?3l", 80}, {"\x1b[?3h", 132}, {"\x1b[?3l", 80}};
    for (const Step& step : steps) {
        SCOPED_TRACE(escaped(step.bytes) + " to " + std::to_string(step.cols));
        t.feed("text\x1b[?6h\x1b[?7l");
        t.feed(step.bytes);
        EXPECT_EQ(t.terminal.cols(), step.cols);
        EXPECT_EQ(t.terminal.rows(), 5);
        EXPECT_EQ(t.screen(), (Rows{"", "", "", "", ""}));
        EXPECT_FALSE(t.terminal.originMode());
        EXPECT_TRUE(t.terminal.wraparound());
        EXPECT_TRUE(t.terminal.allow80To132());
        EXPECT_THAT(t.takeCalls(), ::testing::Contains("sizeChanged"));
    }
    t.feed("\x1b[?40l\x1b[?3h");
    EXPECT_EQ(t.terminal.cols(), 80) << "turned off, mode 40 stops the switch again";
}

TEST(TerminalModes, FocusReportingSendsTheCurrentStateAtOnce) {
    TerminalFixture t;
    t.terminal.setTerminalFocus(false);
    t.feed("\x1b[?1004h");
    EXPECT_EQ(t.takeReplies(), "\\x1b[O");
    t.terminal.setTerminalFocus(true);
    EXPECT_EQ(t.takeReplies(), "\\x1b[I");
    t.feed("\x1b[?1004l");
    t.terminal.setTerminalFocus(false);
    EXPECT_EQ(t.takeReplies(), "");
}

TEST(TerminalModes, ReverseVideoRedrawsOnChangesOnly) {
    TerminalFixture t;
    t.takeCalls();
    t.terminal.clearUpdateRange();
    t.feed("\x1b[?5h\x1b[?5h");
    EXPECT_THAT(t.takeCalls(), ElementsAre("colorChanged all"));
    EXPECT_EQ(t.terminal.getUpdateRange(), (Terminal::RowRange{0, 25}));
    t.feed("\x1b[?5l\x1b[?5l");
    EXPECT_THAT(t.takeCalls(), ElementsAre("colorChanged all"));
}

TEST(TerminalModes, AnsiModeClearsTheDesignations) {
    TerminalFixture t;
    t.feed("\x1b(0\x1b)0");
    ASSERT_NE(t.terminal.charset(), nullptr);
    t.feed("\x1b[?2h");
    EXPECT_EQ(t.terminal.charset(), nullptr);
    t.feed("\x0e");
    EXPECT_EQ(t.terminal.charset(), nullptr) << "G1 was cleared too";
}

TEST(TerminalModes, UnhandledSequencesAreLoggedOnlyWhenAsked) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.feed("\x1b[?41h\x1b[?41l\x1b[?2l\x1b[?63h\x1b[?63l\x1b[7777l\x1b[>5p\x1b[1;2 p");
    EXPECT_THAT(capture.captured(),
                ElementsAre("Info: Unhandled DEC Private Mode Set (DECSET) with 41",
                            "Info: Unhandled DEC Private Mode Reset (DECRST) with 2",
                            "Info: Unhandled DEC Private Mode Reset (DECRST) with 63",
                            "Info: Unhandled CSI 62 with pars=[5]",
                            "Info: Unhandled CSI 32 with pars=[1, 2]"));
}

// ---- Soft reset (DECSTR) --------------------------------------------------------------------

TEST(TerminalModes, SoftResetRestoresModesButNotScreensOrReporting) {
    TerminalFixture t({.cols = 10, .rows = 5});
    t.feed("abc\x1b[?1049h\x1b[65;2\"p"); // alternate screen, 8-bit replies
    t.feed("\x1b[4h\x1b[?6h\x1b[?7l\x1b[?1h\x1b[?66h\x1b[?25l\x1b[2;4r\x1b[1;31m\x1b[?69h"
           "\x1b[3;6s\x1b[?1000h\x1b[?2004h\x1b[20h\x1b(0\x1b]8;;http://x\x1b\\");
    t.feed("\x1b]4;1;#123456\x07");
    t.takeCalls();
    t.feed("\x1b[!p");
    Terminal& terminal = t.terminal;
    EXPECT_FALSE(terminal.insertMode());
    EXPECT_FALSE(terminal.normalBuffer().insertMode()) << "the screens follow";
    EXPECT_FALSE(terminal.originMode());
    EXPECT_TRUE(terminal.wraparound());
    EXPECT_TRUE(terminal.altBuffer().wraparound());
    EXPECT_FALSE(terminal.applicationCursor());
    EXPECT_FALSE(terminal.applicationKeypad());
    EXPECT_FALSE(terminal.isCursorHidden());
    EXPECT_EQ(terminal.buffer().scrollTop(), 0);
    EXPECT_EQ(terminal.buffer().scrollBottom(), 4);
    EXPECT_EQ(terminal.buffer().marginLeft(), 0);
    EXPECT_EQ(terminal.buffer().marginRight(), 9);
    EXPECT_EQ(terminal.currentAttribute(), Attribute());
    EXPECT_FALSE(terminal.lineFeedMode());
    EXPECT_EQ(terminal.charset(), CharSets::all('0')) << "G0 is invoked again, still designated";
    EXPECT_FALSE(terminal.activeHyperlink());
    EXPECT_EQ(terminal.ansiColors(), terminal.defaultAnsiColors());
    EXPECT_THAT(t.takeCalls(), ElementsAre("colorChanged all", "showCursor"));

    // What DECSTR leaves alone.
    EXPECT_TRUE(terminal.isCurrentBufferAlternate());
    EXPECT_TRUE(terminal.marginMode());
    EXPECT_EQ(terminal.mouseMode(), Terminal::MouseMode::vt200);
    EXPECT_TRUE(terminal.bracketedPasteMode());
    EXPECT_TRUE(terminal.cc().send8bit);
    t.feed("\x1b[?1049l");
    EXPECT_EQ(t.screen()[0], "abc");
    t.feed("\x1b[H\x1b[4h\x1b[!pX");
    EXPECT_EQ(t.screen()[0], "Xbc") << "printing overwrites again";
}

TEST(TerminalModes, SoftResetKeepsTheDesignationsAndForgetsTheSavedCursor) {
    TerminalFixture t;
    t.feed("\x1b(0\x0e\x1b[5;5H\x1b"
           "7\x1b[!p");
    EXPECT_EQ(t.terminal.gLevel(), 0);
    EXPECT_NE(t.terminal.charset(), nullptr) << "G0 is invoked again and keeps its set";
    t.feed("\x1b"
           "8");
    EXPECT_EQ(t.cursor(), "0,0") << "the saved cursor is gone";
    EXPECT_EQ(t.terminal.charset(), nullptr);
}

// ---- Saving and restoring private modes -----------------------------------------------------

TEST(TerminalModes, SavedPrivateModesComeBack) {
    TerminalFixture t;
    t.feed("\x1b[?1243h\x1b[?1243s\x1b[?1243l");
    EXPECT_FALSE(t.terminal.bidiArrowKeySwap());
    t.feed("\x1b[?1243r");
    EXPECT_TRUE(t.terminal.bidiArrowKeySwap());

    t.feed("\x1b[?2500;2501s\x1b[?2500h\x1b[?2501l");
    t.terminal.clearUpdateRange();
    t.feed("\x1b[?2500;2501r");
    EXPECT_FALSE(t.terminal.bidiBoxMirroring());
    EXPECT_TRUE(t.terminal.bidiAutodetectDirection());
    EXPECT_TRUE(t.terminal.getUpdateRange()) << "a restored bidi mode redraws";
}

TEST(TerminalModes, RestoringAModeThatWasNeverSavedDoesNothing) {
    TerminalFixture t;
    t.feed("\x1b[?2500h");
    t.terminal.clearUpdateRange();
    t.feed("\x1b[?2500r\x1b[?7s\x1b[?7l\x1b[?7r");
    EXPECT_TRUE(t.terminal.bidiBoxMirroring());
    EXPECT_FALSE(t.terminal.wraparound()) << "only the bidi modes are saved";
    EXPECT_FALSE(t.terminal.getUpdateRange());
}

TEST(TerminalModes, SoftAndFullResetEmptyTheSavedModes) {
    for (const char* reset : {"\x1b[!p", "\x1b"
                                         "c"}) {
        SCOPED_TRACE(reset);
        TerminalFixture t;
        t.feed("\x1b[?1243h\x1b[?1243s");
        t.feed(reset);
        t.feed("\x1b[?1243r");
        EXPECT_FALSE(t.terminal.bidiArrowKeySwap());
    }
}

// ---- Bidirectional modes reach the paragraph at the cursor ----------------------------------

TEST(TerminalModes, BidiModesChangeTheParagraphOnlyAtItsStart) {
    TerminalFixture t({.cols = 4, .rows = 6});
    t.feed("\x1b[8labcdefghij\r\n"); // explicit support mode, then a paragraph of three rows
    for (int row = 0; row < 3; ++row) {
        ASSERT_EQ(t.line(row).bidiState().supportMode, BidiSupportMode::explicit_);
    }
    t.feed("\x1b[1;3H\x1b[?2500h");
    EXPECT_FALSE(t.line(0).bidiState().boxMirroring) << "column 2 is not the start";
    t.feed("\x1b[2;1H\x1b[?2500l\x1b[?2500h");
    EXPECT_FALSE(t.line(1).bidiState().boxMirroring) << "row 1 continues row 0";
    t.feed("\x1b[1;1H\x1b[?2500h");
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_TRUE(t.line(row).bidiState().boxMirroring);
        EXPECT_EQ(t.line(row).bidiState().supportMode, BidiSupportMode::explicit_)
            << "the other fields are kept";
    }
    EXPECT_FALSE(t.line(3).bidiState().boxMirroring);
    EXPECT_TRUE(t.terminal.normalBuffer().defaultBidiState.boxMirroring);
    EXPECT_TRUE(t.terminal.altBuffer().defaultBidiState.boxMirroring);
}

TEST(TerminalModes, UnhandledAnsiResetIsSilent) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.feed("\x1b[99l\x1b[2h\x1b[2l");
    EXPECT_THAT(capture.captured(), IsEmpty());
}

} // namespace
