#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// ---- Options --------------------------------------------------------------------------------

TEST(TerminalOptions, Defaults) {
    const TerminalOptions options;
    EXPECT_EQ(options.cols, 80);
    EXPECT_EQ(options.rows, 25);
    EXPECT_FALSE(options.convertEol);
    EXPECT_EQ(options.termName, "xterm-256color");
    EXPECT_EQ(options.cursorStyle, CursorStyle::blinkBlock);
    EXPECT_EQ(options.scrollback, 500);
    EXPECT_EQ(options.tabStopWidth, 8);
    EXPECT_TRUE(options.enableSixelReported);
    EXPECT_EQ(options.kittyImageCacheLimitBytes, 335544320);
    EXPECT_EQ(options.ansi256PaletteStrategy, Ansi256PaletteStrategy::base16Lab);
    EXPECT_EQ(options.regionalIndicatorWidth, RegionalIndicatorWidth::wide);
    EXPECT_EQ(options.initialBidiState, BidiPresentationState::Default);
    EXPECT_EQ(options.maximumBidiParagraphRows, 500);
    EXPECT_FALSE(options.initialBidiArrowKeySwap);
}

TEST(TerminalOptions, CursorStyleNames) {
    std::vector<std::string> tags;
    for (CursorStyle style : allCursorStyles) {
        tags.emplace_back(tagName(style));
        EXPECT_EQ(cursorStyleFromTagName(tagName(style)), style);
    }
    EXPECT_THAT(tags, ElementsAre("blinkBlock", "steadyBlock", "blinkUnderline", "steadyUnderline",
                                  "blinkBar", "steadyBar"));
    EXPECT_EQ(displayName(CursorStyle::blinkUnderline), "Blinking Underline");
    EXPECT_EQ(displayName(CursorStyle::steadyBar), "Steady Bar");
    EXPECT_EQ(cursorStyleFromTagName("SteadyBar"), std::nullopt);
    EXPECT_EQ(cursorStyleFromTagName("Steady Bar"), std::nullopt);
    EXPECT_EQ(cursorStyleFromTagName(""), std::nullopt);
}

TEST(TerminalOptions, BidiParagraphRowsAreAtLeastOne) {
    for (const auto& [given, kept] : {std::pair{0, 1}, {-3, 1}, {1, 1}, {2, 2}}) {
        SCOPED_TRACE(given);
        const TerminalOptions made{.maximumBidiParagraphRows = given};
        EXPECT_EQ(made.maximumBidiParagraphRows, kept);
        TerminalOptions assigned;
        assigned.maximumBidiParagraphRows = given;
        EXPECT_EQ(assigned.maximumBidiParagraphRows, kept);
        EXPECT_EQ(made, assigned);
    }
}

TEST(TerminalOptions, ATerminalKeepsBidiParagraphRowsAtLeastOne) {
    for (const auto& [given, kept] : {std::pair{0, 1}, {-3, 1}, {2, 2}}) {
        TerminalOptions options;
        options.maximumBidiParagraphRows = given;
        Terminal terminal(nullptr, options);
        EXPECT_EQ(terminal.options().maximumBidiParagraphRows, kept);
        terminal.setOptions(options);
        EXPECT_EQ(terminal.options().maximumBidiParagraphRows, kept);
    }
}

// ---- Construction ---------------------------------------------------------------------------

TEST(TerminalConstruction, PowerOnState) {
    TerminalFixture t({.cols = 30, .rows = 7});
    Terminal& terminal = t.terminal;
    EXPECT_EQ(terminal.cols(), 30);
    EXPECT_EQ(terminal.rows(), 7);
    EXPECT_FALSE(terminal.isCurrentBufferAlternate());
    EXPECT_EQ(&terminal.buffer(), &terminal.normalBuffer());
    EXPECT_EQ(terminal.normalBuffer().lines().count(), 7);
    EXPECT_EQ(terminal.buffer().cols(), 30);
    EXPECT_EQ(terminal.altBuffer().rows(), 7);
    EXPECT_TRUE(terminal.wraparound());
    EXPECT_TRUE(terminal.buffer().wraparound());
    EXPECT_TRUE(terminal.alternateScrollMode());
    EXPECT_EQ(terminal.mouseMode(), Terminal::MouseMode::off);
    EXPECT_EQ(terminal.conformance(), Terminal::TerminalConformance::vt500);
    EXPECT_TRUE(terminal.silentLog());
    EXPECT_EQ(terminal.buffer().scrollBottom(), 6);
    EXPECT_EQ(terminal.buffer().marginRight(), 29);
    EXPECT_EQ(terminal.getUpdateRange(), std::nullopt);
    EXPECT_EQ(terminal.ansiColors().size(), 256u);
    EXPECT_EQ(terminal.ansiColors()[1], Color::terminalAppColors[1]);
    EXPECT_EQ(terminal.foregroundColor(), Color::defaultForeground);
    EXPECT_THAT(t.takeCalls(), ElementsAre("mouseModeChanged"));
}

TEST(TerminalConstruction, SizesBelowTheMinimumAreRaised) {
    TerminalFixture t({.cols = 1, .rows = 0});
    EXPECT_EQ(t.terminal.cols(), 2);
    EXPECT_EQ(t.terminal.rows(), 1);
    t.feed("abc");
    EXPECT_EQ(t.screen(), Rows{"~c"});
}

TEST(TerminalConstruction, ConvertEolTurnsOnNewLineMode) {
    TerminalFixture t({.cols = 10, .rows = 3, .convertEol = true});
    t.feed("ab\ncd");
    EXPECT_EQ(t.screen(), (Rows{"ab", "cd", ""}));
}

TEST(TerminalConstruction, WithoutAHostRepliesAndNotificationsAreDropped) {
    Terminal terminal(nullptr);
    terminal.feed("\x07hello\x1b[6n\x1b]2;title\x07\r\n");
    terminal.setForegroundColor(Color(1, 2, 3));
    EXPECT_EQ(terminal.foregroundColor(), Color(1, 2, 3));
    EXPECT_EQ(terminal.getCursorLocation(), (Terminal::CursorLocation{0, 1}));
}

// ---- Screens --------------------------------------------------------------------------------

TEST(TerminalScreens, TheAlternateScreenLeavesTheNormalOneAloneAndCarriesTheCursor) {
    TerminalFixture t({.cols = 10, .rows = 3});
    Terminal& terminal = t.terminal;
    t.feed("normal\r\ntext");
    terminal.activateAltBuffer(std::nullopt);
    EXPECT_TRUE(terminal.isCurrentBufferAlternate());
    EXPECT_EQ(t.cursor(), "4,1");
    EXPECT_EQ(t.screen(), (Rows{"", "", ""}));
    t.feed("\r\nalt");
    terminal.activateNormalBuffer(false);
    EXPECT_EQ(t.screen(), (Rows{"normal", "text", ""}));
    EXPECT_EQ(t.cursor(), "3,2");
    terminal.activateAltBuffer(std::nullopt);
    EXPECT_EQ(t.screen(), (Rows{"", "", "alt"})) << "kept without clearAlt";
    terminal.activateNormalBuffer(true);
    EXPECT_EQ(terminal.altBuffer().lines().count(), 0) << "cleared with clearAlt";
}

TEST(TerminalScreens, ResetNormalBufferDropsTheScrollbackAndKeepsTheActiveScreenValid) {
    TerminalFixture t({.cols = 10, .rows = 2, .scrollback = 10});
    t.feed("a\r\nb\r\nc\r\nd");
    t.terminal.resetNormalBuffer();
    EXPECT_EQ(&t.terminal.buffer(), &t.terminal.normalBuffer());
    EXPECT_EQ(t.terminal.buffer().lines().count(), 2);
    t.feed("x");
    EXPECT_EQ(t.screen(), (Rows{"x", ""}));
}

TEST(TerminalScreens, ReadAccessorsStayInsideTheScreen) {
    TerminalFixture t({.cols = 10, .rows = 3});
    t.feed("ab\xe4\xbd\xa0");
    Terminal& terminal = t.terminal;
    EXPECT_EQ(terminal.getCharData(10, 0), std::nullopt);
    EXPECT_EQ(terminal.getCharData(0, 3), std::nullopt);
    EXPECT_EQ(terminal.getCharData(-1, 0), std::nullopt);
    EXPECT_EQ(terminal.getLine(-1), nullptr);
    EXPECT_EQ(terminal.getCharacter(2, 0), std::u32string(U"\u4F60"));
    EXPECT_EQ(terminal.getCharData(1, 0)->code(), 'b');
    EXPECT_EQ(terminal.getScrollInvariantLine(0), terminal.getLine(0));
    EXPECT_EQ(terminal.getScrollInvariantLine(3), nullptr);
}

// ---- Colours --------------------------------------------------------------------------------

// A host that assigns the colour back from inside its notification.
class EchoingHost : public RecordingDelegate {
public:
    void setForegroundColor(Terminal& source, const Color& color) override {
        calls.push_back("setForegroundColor");
        source.setForegroundColor(color);
    }
};

TEST(TerminalColors, AnAssignmentFromInsideTheNotificationStoresWithoutASecondOne) {
    EchoingHost host;
    Terminal terminal(&host);
    host.calls.clear();
    terminal.setForegroundColor(Color(10, 20, 30));
    EXPECT_EQ(terminal.foregroundColor(), Color(10, 20, 30));
    EXPECT_THAT(host.calls, ElementsAre("setForegroundColor", "colorChanged all"));
}

TEST(TerminalColors, TheLabPalettesFollowTheDefaultColoursAndTheXtermOneDoesNot) {
    TerminalFixture lab;
    lab.takeCalls();
    const std::vector<Color> before = lab.terminal.ansiColors();
    lab.terminal.setBackgroundColor(Color(65535, 65535, 65535));
    EXPECT_NE(lab.terminal.ansiColors()[16], before[16]);
    EXPECT_EQ(lab.terminal.ansiColors()[1], before[1]);
    EXPECT_THAT(lab.takeCalls(), ElementsAre("setBackgroundColor", "colorChanged all"));

    TerminalFixture xterm({.ansi256PaletteStrategy = Ansi256PaletteStrategy::xterm});
    xterm.takeCalls();
    const std::vector<Color> xtermBefore = xterm.terminal.ansiColors();
    xterm.terminal.setForegroundColor(Color(1, 1, 1));
    EXPECT_EQ(xterm.terminal.ansiColors(), xtermBefore);
    EXPECT_THAT(xterm.takeCalls(), ElementsAre("setForegroundColor"));
}

TEST(TerminalColors, InstallPaletteNeedsExactlySixteenColours) {
    TerminalFixture t;
    const std::vector<Color> before = t.terminal.ansiColors();
    std::vector<Color> fifteen(15, Color(1, 2, 3));
    t.terminal.installPalette(fifteen);
    EXPECT_EQ(t.terminal.ansiColors(), before);
    std::vector<Color> sixteen(Color::xtermColors.begin(), Color::xtermColors.end());
    t.terminal.installPalette(sixteen);
    EXPECT_EQ(t.terminal.ansiColors()[9], Color::xtermColors[9]);
}

TEST(TerminalColors, CursorColourDefaultStoresAndNotifiesOnce) {
    TerminalFixture t;
    t.terminal.setCursorColor(Color(5, 5, 5));
    EXPECT_EQ(t.terminal.cursorColor(), Color(5, 5, 5));
    t.terminal.setCursorColor(std::nullopt);
    EXPECT_EQ(t.terminal.cursorColor(), std::nullopt);
}

// ---- Focus and host interface ---------------------------------------------------------------

TEST(TerminalHost, FocusReportsFollowTheLastFocusState) {
    TerminalFixture t;
    t.terminal.setTerminalFocus(false);
    EXPECT_EQ(t.takeReplies(), "") << "focus reporting is off";
    t.terminal.sendFocusReport();
    EXPECT_EQ(t.takeReplies(), "\\x1b[O");
    t.terminal.setTerminalFocus(true);
    t.terminal.sendFocusReport();
    EXPECT_EQ(t.takeReplies(), "\\x1b[I");
}

TEST(TerminalHost, TheDefaultDelegateAnswers) {
    class Minimal : public TerminalDelegate {
    public:
        void send(Terminal&, std::span<const uint8_t>) override {}
    } host;
    Terminal terminal(&host);
    EXPECT_TRUE(host.isProcessTrusted(terminal));
    EXPECT_EQ(host.cellSizeInPixels(terminal), std::nullopt);
    EXPECT_EQ(host.clipboardRead(terminal), std::nullopt);
    EXPECT_EQ(host.windowCommand(terminal, {WindowManipulationCommand::Kind::reportWindowTitle}),
              std::nullopt);
    host.setBackgroundColor(terminal, Color(7, 8, 9));
    EXPECT_EQ(terminal.backgroundColor(), Color(7, 8, 9));
    EXPECT_EQ(host.getColors(terminal).background, Color(7, 8, 9));
    EXPECT_EQ(progressReportStateFromRaw(4), ProgressReportState::pause);
    EXPECT_EQ(progressReportStateFromRaw(5), std::nullopt);
}

TEST(TerminalHost, BellAndMouseModeReachTheHost) {
    TerminalFixture t;
    t.takeCalls();
    t.feed("\x07");
    t.terminal.setMouseMode(Terminal::MouseMode::off);
    EXPECT_THAT(t.takeCalls(), ElementsAre("bell", "mouseModeChanged"));
}

#if !defined(NDEBUG) && GTEST_HAS_DEATH_TEST
TEST(TerminalHostDeathTest, FeedingFromInsideACallbackIsCaught) {
    class Feeding : public RecordingDelegate {
    public:
        void bell(Terminal& source) override { source.feed("x"); }
    };
    EXPECT_DEATH(
        {
            Feeding host;
            Terminal terminal(&host);
            terminal.feed("\x07");
        },
        "fed");
}
#endif

// ---- Feeding and diagnostics ----------------------------------------------------------------

TEST(TerminalFeed, InfoLinesAppearOnlyWhenSilentLogIsOff) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.feed("\x1bZ");
    EXPECT_THAT(capture.captured(), IsEmpty());
    t.terminal.setSilentLog(false);
    t.feed("\x1bZ\x1b[?1;2w\x1b]5;x\x07\x1b_Xy\x1b\\");
    t.feed("\x19");
    EXPECT_THAT(capture.captured(),
                ElementsAre("Info: Veldatron: Unknown ESC Code: ESC + Z txt=[]",
                            "Info: Veldatron: Unknown CSI Code (collect=[63] code=w pars=[1, 2])",
                            "Info: Veldatron: Unknown OSC code: 5",
                            "Info: Veldatron: Unknown APC code: X",
                            "Info: Veldatron: Parsing error, state: ParsingState(position: 0, "
                            "code: 25, currentState: ground, print: -1, dcs: -1, osc: [], apc: [], "
                            "collect: [], parameters: [], abort: false)"));
}

TEST(TerminalFeed, ARegisteredOscHandlerTakesTheCode) {
    TerminalFixture t;
    std::vector<std::string> received;
    t.terminal.registerOscHandler(
        2, [&](std::span<const uint8_t> data) { received.emplace_back(data.begin(), data.end()); });
    t.feed("\x1b]2;hello\x07\x1b]2;\xc3\xa9\x1b\\");
    EXPECT_THAT(received, ElementsAre("hello", "\xc3\xa9"));
    EXPECT_EQ(t.terminal.terminalTitle(), "");
}

TEST(TerminalFeed, TextAndBytesGiveTheSameCells) {
    TerminalFixture bytes;
    bytes.feed("\xc3");
    bytes.feed("\xa9");
    TerminalFixture text;
    text.terminal.feed(std::string_view("\u00e9"));
    EXPECT_EQ(bytes.cell(0, 0), text.cell(0, 0));
    EXPECT_EQ(text.cell(0, 0).code(), 0xE9);
}

TEST(TerminalFeed, DirtyRows) {
    TerminalFixture t({.cols = 10, .rows = 25});
    Terminal& terminal = t.terminal;
    EXPECT_EQ(terminal.getUpdateRange(), std::nullopt);
    t.feed("\x1b[3;1Hab\r\ncd");
    EXPECT_EQ(terminal.getUpdateRange(), (Terminal::RowRange{0, 3}));
    terminal.clearUpdateRange();
    terminal.updateRange(-1);
    EXPECT_EQ(terminal.getUpdateRange(), std::nullopt);
    terminal.updateFullScreen();
    EXPECT_EQ(terminal.getUpdateRange(), (Terminal::RowRange{0, 25}));
    EXPECT_EQ(terminal.getScrollInvariantUpdateRange(), (Terminal::AbsoluteRowRange{0, 25}));
}

TEST(TerminalFeed, PrintStateResetDropsOnlyIncompleteCharacters) {
    TerminalFixture t;
    t.feed("\xe2\x80");
    t.feed("\x1b[m");
    t.feed("\xa6");
    EXPECT_EQ(t.cell(0, 0).code(), 0xA6);
    t.feed("\r\n\xe2\x80");
    t.feed("\r");
    t.feed("\xa6");
    EXPECT_EQ(t.cell(0, 1).code(), 0x2026) << "C0 controls keep the carried bytes";
}

// ---- Synchronized output --------------------------------------------------------------------

TEST(TerminalSynchronizedOutput, EndsByItselfASecondAfterTheLastSet) {
    using namespace std::chrono_literals;
    TerminalFixture t;
    t.takeCalls();
    t.feed("\x1b[?2026h");
    EXPECT_TRUE(t.terminal.synchronizedOutputActive());
    t.executor.advance(500ms);
    t.feed("\x1b[?2026h");
    t.executor.advance(900ms);
    EXPECT_TRUE(t.terminal.synchronizedOutputActive());
    t.executor.advance(100ms);
    EXPECT_FALSE(t.terminal.synchronizedOutputActive());
    EXPECT_THAT(t.takeCalls(),
                ElementsAre("synchronizedOutputChanged true", "synchronizedOutputChanged false"));
    t.feed("\x1b[?2026h\x1b[?2026l\x1b[?2026l");
    EXPECT_THAT(t.takeCalls(),
                ElementsAre("synchronizedOutputChanged true", "synchronizedOutputChanged false"));
    t.executor.advance(2s);
    EXPECT_THAT(t.takeCalls(), IsEmpty()) << "the time-out was cancelled";
}

TEST(TerminalSynchronizedOutput, ATerminalGoneBeforeTheTimeOutIsNotTouched) {
    using namespace std::chrono_literals;
    ManualExecutor executor;
    {
        RecordingDelegate host;
        Terminal terminal(&host, TerminalOptions(), &executor);
        terminal.feed("\x1b[?2026h");
    }
    executor.advance(2s);
    EXPECT_EQ(executor.pendingCount(), 0u);
}

} // namespace
