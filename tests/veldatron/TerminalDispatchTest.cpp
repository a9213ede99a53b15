#include "CharSets.h"
#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <span>
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
    // The line feed without its shortcuts for a full scrollback and for a region.
    static void lineFeedGeneral(Terminal& t) { t.lineFeedGeneral(); }
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

// Finals and escapes whose meaning depends on the intermediates or on a mode: every form reaches
// its own handler, none the fallback or an "Unhandled" line.
TEST(TerminalDispatch, SharedFinalsReachTheirHandlers) {
    DiagnosticsCapture capture;
    TerminalFixture t({.cols = 20, .rows = 5});
    t.terminal.setSilentLog(false);
    struct Case {
        const char* name;
        std::string bytes;
        std::function<std::string(TerminalFixture&)> observe;
        std::string expected;
    };
    const auto replies = [](TerminalFixture& f) { return f.takeReplies(); };
    const auto cursor = [](TerminalFixture& f) { return f.cursor(); };
    const Case cases[] = {
        {"XTWINOPS", "\x1b[18t", replies, "\\x1b[8;5;20t"},
        {"XTVERSION", "\x1b[>q", [](TerminalFixture& f) { return f.takeReplies().substr(0, 16); },
         "\\x1bP>|Veldatron"},
        {"title modes", "\x1b[>0t\x1b[>0T\x1b[>1t", replies, ""},
        {"DECSCUSR", "\x1b[4 q",
         [](TerminalFixture& f) { return std::string(tagName(f.terminal.cursorStyle())); },
         "steadyUnderline"},
        {"kitty flags", "\x1b[>5u\x1b[?u", replies, "\\x1b[?5u"},
        {"CSI s and CSI u", "\x1b[3;4H\x1b[s\x1b[H\x1b[u", cursor, "3,2"},
        {"ESC 7 and ESC 8",
         "\x1b[2;2H\x1b"
         "7\x1b[H\x1b"
         "8",
         cursor, "1,1"},
        {"XTSAVE and XTRESTORE", "\x1b[?1243h\x1b[?1243s\x1b[?1243l\x1b[?1243r",
         [](TerminalFixture& f) {
             return std::string(f.terminal.bidiArrowKeySwap() ? "on" : "off");
         },
         "on"},
        {"shift escape", "\x1b[>1s",
         [](TerminalFixture& f) {
             return std::string(f.terminal.mouseShiftCapture() ? "on" : "off");
         },
         "on"},
        {"DECRQM", "\x1b[?25$p\x1b[4$p", replies, "\\x1b[?25;1$y\\x1b[4;2$y"},
        {"DECSTR", "\x1b[4h\x1b[!p",
         [](TerminalFixture& f) { return std::string(f.terminal.insertMode() ? "on" : "off"); },
         "off"},
        {"DECSCL", "\x1b[61\"p\x1b[5n", replies, "\\x1b[0n"},
        {"S8C1T and S7C1T", "\x1b G\x1b[5n\x1b F", replies, "\\x9b0n"},
        {"keypad modes", "\x1b=",
         [](TerminalFixture& f) {
             return std::string(f.terminal.applicationKeypad() ? "on" : "off");
         },
         "on"},
        {"full reset",
         "\x1b[3;3H\x1b"
         "c",
         cursor, "0,0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.feed(c.bytes);
        EXPECT_EQ(c.observe(t), c.expected);
    }
    EXPECT_THAT(capture.captured(), IsEmpty());
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

// Everything a line feed leaves: rows, their flags and change counts, cursor, window, history
// count, dirty rows and host calls.
void expectSameState(TerminalFixture& a, TerminalFixture& b) {
    Buffer& ba = a.terminal.buffer();
    Buffer& bb = b.terminal.buffer();
    EXPECT_EQ(dumpRows(a.terminal), dumpRows(b.terminal));
    for (int row = 0; row < ba.lines().count(); ++row) {
        SCOPED_TRACE(row);
        const BufferLine& la = ba.lines()[row];
        const BufferLine& lb = bb.lines()[row];
        EXPECT_EQ(la.getData(), lb.getData());
        EXPECT_EQ(la.isWrapped(), lb.isWrapped());
        EXPECT_EQ(la.bidiState(), lb.bidiState());
        EXPECT_EQ(la.renderMode(), lb.renderMode());
        EXPECT_EQ(la.generation(), lb.generation());
        EXPECT_EQ(la.recycleGeneration(), lb.recycleGeneration());
    }
    EXPECT_EQ(a.cursor(), b.cursor());
    EXPECT_EQ(ba.yBase(), bb.yBase());
    EXPECT_EQ(ba.yDisp(), bb.yDisp());
    EXPECT_EQ(ba.linesTop, bb.linesTop);
    EXPECT_EQ(a.terminal.getUpdateRange(), b.terminal.getUpdateRange());
    EXPECT_EQ(a.terminal.getScrollInvariantUpdateRange(),
              b.terminal.getScrollInvariantUpdateRange());
    EXPECT_EQ(a.takeCalls(), b.takeCalls());
}

struct LineFeedCase {
    const char* name;
    const char* setup;
};

// Two terminals primed alike and given each case's setup; then a line feed reaches one through
// the parser (and its shortcut) and the other through the general line feed: both must end the
// same. `check` says whether the setup left the cursor where the shortcut applies.
void expectLineFeedAsTheGeneralOne(const TerminalSpec& spec, const char* prime,
                                   std::span<const LineFeedCase> cases, bool (*check)(Terminal&)) {
    for (const LineFeedCase& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture a(spec);
        TerminalFixture b(spec);
        for (TerminalFixture* t : {&a, &b}) {
            t->host.recordLineCalls = true;
            t->feed(prime);
            t->feed(c.setup);
            ASSERT_TRUE(check(t->terminal));
            t->terminal.clearUpdateRange();
            t->takeCalls();
        }
        a.feed("\n");
        TerminalTestAccess::lineFeedGeneral(b.terminal);
        expectSameState(a, b);
    }
}

// A line feed on the last row of a full scrollback takes a shortcut.
TEST(TerminalLineFeed, TheFullScrollbackShortcutLeavesWhatTheGeneralLineFeedLeaves) {
    const LineFeedCase cases[] = {
        {"plain", ""},
        {"cursor past the last column", "\x1b[4;1Hwxyzuv"},
        {"new-line mode", "\x1b[20h"},
        {"a background colour", "\x1b[44m"},
        {"after an autowrap", "\x1b[4;1Habcdefgh"},
        {"bidirectional mode 8 reset", "\x1b[8l"},
    };
    expectLineFeedAsTheGeneralOne({.cols = 6, .rows = 4, .scrollback = 3},
                                  "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh", cases,
                                  [](Terminal& t) { return t.buffer().lines().isFull(); });
}

// A line feed on the bottom margin of a region below the top of the screen takes a shortcut too.
TEST(TerminalLineFeed, TheRegionShortcutLeavesWhatTheGeneralLineFeedLeaves) {
    const LineFeedCase cases[] = {
        {"plain", ""},
        {"cursor past the last column", "wxyzuv"},
        {"new-line mode", "\x1b[20h"},
        {"a background colour", "\x1b[44m"},
        {"after an autowrap", "\x1b[4;1Habcdefgh"},
        {"bidirectional mode 8 reset", "\x1b[8l"},
        {"a shell prompt", "\x1b]133;A\x07$ "},
        {"the alternate screen", "\x1b[?1049h\x1b[2;5r\x1b[5;1Hxy"},
    };
    expectLineFeedAsTheGeneralOne({.cols = 6, .rows = 6, .scrollback = 3},
                                  "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\x1b[2;5r\x1b[5;1H", cases,
                                  [](Terminal& t) { return t.buffer().y() == 4; });
}

// Scrolls mark their region's two edges in one step, which must mark what marking each edge on
// its own marks, whatever was marked before and wherever the edges lie.
TEST(TerminalUpdateRange, MarkingBothEdgesAtOnceMarksWhatMarkingEachMarks) {
    struct Case {
        const char* name;
        std::optional<int> marked;
        int first;
        int second;
    };
    const Case cases[] = {
        {"a region", std::nullopt, 1, 3},
        {"the edges the wrong way round", std::nullopt, 3, 1},
        {"one row", std::nullopt, 2, 2},
        {"within what was marked", 0, 1, 2},
        {"beyond what was marked", 2, 0, 3},
        {"above the screen", std::nullopt, -2, 1},
        {"above the whole ring", 1, -40, -30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture a({.cols = 6, .rows = 4, .scrollback = 10});
        TerminalFixture b({.cols = 6, .rows = 4, .scrollback = 10});
        for (TerminalFixture* t : {&a, &b}) {
            // Lines in the scrollback: viewport rows and rows of the ring differ.
            t->feed("a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng");
            ASSERT_GT(t->terminal.buffer().yDisp(), 0);
            t->terminal.clearUpdateRange();
            if (c.marked) {
                t->terminal.updateRange(*c.marked);
            }
        }
        a.terminal.updateRangeEdges(a.terminal.buffer(), c.first, c.second);
        b.terminal.updateRange(c.first);
        b.terminal.updateRange(c.second);
        EXPECT_EQ(a.terminal.getUpdateRange(), b.terminal.getUpdateRange());
        EXPECT_EQ(a.terminal.getScrollInvariantUpdateRange(),
                  b.terminal.getScrollInvariantUpdateRange());
    }
}

// Lines of plain text scrolling into a full scrollback are written in runs; fed one byte at a
// time (no CR LF pair in one read) every line takes the general path. Between the lines come
// the things that end a run: colours, links, insert mode, a character set, text beyond ASCII,
// lines that wrap, a cursor off the bottom row, new-line mode, lone controls.
TEST(TerminalLineFeed, RunsOfPlainLinesLeaveWhatLinesFedOneByteAtATimeLeave) {
    static const char* const others[] = {
        "\x1b[44m",       "\x1b[m",   "\x1b[2;1H", "\x1b[4h",  "\x1b[4l",
        "\x1b(0",         "\x1b(B",   "\xc3\xa9",  "\n",       "\r",
        "\x1b[20h",       "\x1b[20l", "\x1b[?7l",  "\x1b[?7h", "\x1b]8;;http://example.com\x1b\\",
        "\x1b]8;;\x1b\\",
    };
    std::mt19937 random(3);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        // Mostly eight columns, for autowraps; some rounds wide enough for lines of every length
        // class the row writer tells apart.
        const int cols = round % 4 == 3 ? 20 : 8;
        std::string stream;
        for (int piece = 0; piece < 80; ++piece) {
            if (random() % 6 == 0) {
                stream += others[random() % std::size(others)];
                continue;
            }
            // Up to two autowraps.
            const size_t length = random() % size_t(2 * cols + 4);
            for (size_t k = 0; k < length; ++k) {
                stream.push_back(char('a' + random() % 26));
            }
            stream += "\r\n";
        }
        TerminalFixture a({.cols = cols, .rows = 4, .scrollback = 3});
        TerminalFixture b({.cols = cols, .rows = 4, .scrollback = 3});
        for (TerminalFixture* t : {&a, &b}) {
            t->host.recordLineCalls = true;
            t->feed(round % 2 == 0 ? "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n" : "");
            if (round % 3 == 0) {
                // Rows of other widths in the ring.
                t->terminal.resize(5, 4);
                t->feed("abcdefgh\r\n");
                t->terminal.resize(cols, 4);
            }
            t->terminal.clearUpdateRange();
            t->takeCalls();
        }
        a.feed(stream);
        for (char byte : stream) {
            b.feed(std::string_view(&byte, 1));
        }
        expectSameState(a, b);
    }
}

} // namespace
