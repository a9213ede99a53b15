#include "CharSets.h"
#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace veldatron {

// Reads state that no host needs but the dispatch changes.
class TerminalTestAccess {
public:
    // setHex, queryHex, setUtf, queryUtf as "0101".
    static std::string titleModes(const Terminal& t) {
        return std::string(t.m_xtermTitleSetHex ? "1" : "0") +
               (t.m_xtermTitleQueryHex ? "1" : "0") + (t.m_xtermTitleSetUtf ? "1" : "0") +
               (t.m_xtermTitleQueryUtf ? "1" : "0");
    }
};

} // namespace veldatron

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TEST(TerminalDispatch, TitleModesAreSetAndResetByTheirFlags) {
    TerminalFixture t;
    t.feed("\x1b[>0;2t");
    EXPECT_EQ(TerminalTestAccess::titleModes(t.terminal), "1010");
    t.feed("\x1b[>1;3;7t");
    EXPECT_EQ(TerminalTestAccess::titleModes(t.terminal), "1111");
    t.feed("\x1b[>0;2T");
    EXPECT_EQ(TerminalTestAccess::titleModes(t.terminal), "0101");
    t.feed("\x1b[!1T");
    EXPECT_EQ(TerminalTestAccess::titleModes(t.terminal), "0101") << "other intermediates: nothing";
}

TEST(TerminalDispatch, ShiftEscapeSetsAndClearsShiftCapture) {
    TerminalFixture t;
    t.feed("\x1b[>1s");
    EXPECT_TRUE(t.terminal.mouseShiftCapture());
    t.feed("\x1b[>2s");
    EXPECT_TRUE(t.terminal.mouseShiftCapture()) << "other values leave it";
    t.feed("\x1b[>s");
    EXPECT_FALSE(t.terminal.mouseShiftCapture());
}

TEST(TerminalDispatch, KeypadModesAndLockingShifts) {
    TerminalFixture t;
    t.feed("\x1b=");
    EXPECT_TRUE(t.terminal.applicationKeypad());
    t.feed("\x1b>");
    EXPECT_FALSE(t.terminal.applicationKeypad());
    const struct {
        const char* sequence;
        int level;
    } shifts[] = {{"\x1bn", 2}, {"\x1bo", 3}, {"\x1b~", 1}, {"\x1b}", 2},
                  {"\x1b|", 3}, {"\x0f", 0},  {"\x0e", 1},  {"\x1b%G", 0}};
    for (const auto& shift : shifts) {
        SCOPED_TRACE(escaped(shift.sequence));
        t.feed(shift.sequence);
        EXPECT_EQ(t.terminal.gLevel(), shift.level);
    }
}

TEST(TerminalDispatch, DesignationsTakeTheirSetAndOthersFallBack) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.terminal.setSilentLog(false);
    t.feed("\x1b(0q");
    EXPECT_EQ(t.cell(0, 0).code(), 0x2500) << "DEC special graphics in G0, at once";
    t.feed("\x1b)0\x1b(B\x0eq\x0fq");
    EXPECT_EQ(t.cell(1, 0).code(), 0x2500) << "G1 through shift out";
    EXPECT_EQ(t.cell(2, 0).code(), 'q');
    t.feed("\x1b,0\x1b(X");
    EXPECT_THAT(capture.captured(),
                ElementsAre("Info: Veldatron: Unknown ESC Code: ESC + 0 txt=[44]",
                            "Info: Veldatron: Unknown ESC Code: ESC + X txt=[40]"));
}

TEST(TerminalDispatch, UnknownSequencesReachTheFallbacks) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.feed("\x1b[10w\x1bZ\x1b[!t");
    EXPECT_THAT(capture.captured(), IsEmpty()) << "silent by default";
    t.terminal.setSilentLog(false);
    t.feed("\x1b[10w\x1b[?1;2N\x1b#9\x1b[!t");
    EXPECT_THAT(capture.captured(),
                ElementsAre("Info: Veldatron: Unknown CSI Code (collect=[] code=w pars=[10])",
                            "Info: Veldatron: Unknown CSI Code (collect=[63] code=N pars=[1, 2])",
                            "Info: Veldatron: Unknown ESC Code: ESC + 9 txt=[35]",
                            "Info: Unhandled csiT [33]"));
    EXPECT_EQ(t.screen()[0], "") << "nothing printed";
}

TEST(TerminalDispatch, C1ControlsRunOnlyOutsideText) {
    TerminalFixture t({.cols = 10, .rows = 3});
    // In ground 0x84 is text (a UTF-8 continuation byte); inside a sequence it is IND.
    t.feed("a\x1b[\x84"
           "b");
    EXPECT_EQ(t.screen(), (Rows{"a", " b", ""}));
}

TEST(TerminalDispatch, EightBitRepliesCanBeTurnedOnAndOff) {
    TerminalFixture t;
    t.feed("\x1b G\x1b[5n\x1b F\x1b[5n");
    EXPECT_EQ(t.takeReplies(), "\\x9b0n\\x1b[0n");
}

} // namespace
