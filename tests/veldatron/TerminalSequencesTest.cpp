#include "DiagnosticsCapture.h"
#include "TerminalFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using CellColor = Attribute::Color;

// ---- Margins ------------------------------------------------------------------------------------

TEST(TerminalMargins, DecstbmAndDecslrmSetTheRegion) {
    TerminalFixture t({.cols = 20, .rows = 24});
    Buffer& buffer = t.terminal.buffer();
    t.feed("\x1b[3;0r");
    EXPECT_EQ(buffer.scrollTop(), 2);
    EXPECT_EQ(buffer.scrollBottom(), 23);
    t.feed("\x1b[5;5r");
    EXPECT_EQ(buffer.scrollTop(), 2) << "a region of one row is refused";
    t.feed("\x1b[?5r");
    EXPECT_EQ(buffer.scrollTop(), 2) << "with a private marker it is something else";
    t.feed("\x1b[10;5s");
    EXPECT_EQ(buffer.marginLeft(), 0) << "without DECLRMM CSI s is not DECSLRM";
    t.feed("\x1b[?69h\x1b[10;5s");
    EXPECT_EQ(buffer.marginLeft(), 4);
    EXPECT_EQ(buffer.marginRight(), 4);
    t.feed("\x1b[3s");
    EXPECT_EQ(buffer.marginLeft(), 2);
    EXPECT_EQ(buffer.marginRight(), 19);
}

// ---- Erasing --------------------------------------------------------------------------------

struct EraseCase {
    const char* name;
    std::string input;
    Rows screen;
};

// Each row: a 6 x 4 terminal holding "aaaaaa", "bbbbbb", "cccccc", "dddddd", the cursor at
// column 2 of row 1, then the input.
const EraseCase eraseCases[] = {
    {"EL 0 erases to the end of the line", "\x1b[K", {"aaaaaa", "bb", "cccccc", "dddddd"}},
    {"EL 1 erases to the cursor", "\x1b[1K", {"aaaaaa", "   bbb", "cccccc", "dddddd"}},
    {"EL 2 erases the line", "\x1b[2K", {"aaaaaa", "", "cccccc", "dddddd"}},
    {"EL 3 erases nothing", "\x1b[3K", {"aaaaaa", "bbbbbb", "cccccc", "dddddd"}},
    {"ED 0 erases to the end of the screen", "\x1b[J", {"aaaaaa", "bb", "", ""}},
    {"ED 1 erases from the start of the screen", "\x1b[1J", {"", "   bbb", "cccccc", "dddddd"}},
    {"ED 2 erases the screen", "\x1b[2J", {"", "", "", ""}},
    {"a private marker does not change ED", "\x1b[?2J", {"", "", "", ""}},
};

class EraseTable : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseTable, ErasesCells) {
    const EraseCase& c = GetParam();
    TerminalFixture t({.cols = 6, .rows = 4});
    t.feed("aaaaaa\r\nbbbbbb\r\ncccccc\r\ndddddd\x1b[2;3H");
    t.feed(c.input);
    EXPECT_EQ(t.screen(), c.screen);
    EXPECT_EQ(t.cursor(), "2,1");
}

INSTANTIATE_TEST_SUITE_P(Terminal, EraseTable, ::testing::ValuesIn(eraseCases),
                         [](const auto& info) { return testName(info.param.name); });

TEST(TerminalErase, ErasedCellsTakeTheCurrentBackgroundOnly) {
    TerminalFixture t({.cols = 6, .rows = 2});
    t.feed("abcdef\x1b[1;3H\x1b[1;4;31;42m\x1b[K");
    EXPECT_EQ(t.cell(3, 0),
              CharData(Attribute(CellColor::defaultColor, CellColor::ansi256(2)), 0, 1));
    EXPECT_EQ(t.cell(1, 0).code(), 'b');
}

TEST(TerminalErase, EdZeroAtColumnZeroEndsTheSoftWrap) {
    TerminalFixture t({.cols = 4, .rows = 3});
    t.feed("abcdefgh");
    ASSERT_TRUE(t.line(1).isWrapped());
    t.feed("\x1b[2;3H\x1b[J");
    EXPECT_TRUE(t.line(1).isWrapped()) << "from column 2 the wrap stays";
    t.feed("\x1b[2;1H\x1b[J");
    EXPECT_FALSE(t.line(1).isWrapped());
}

TEST(TerminalErase, EdThreeDropsTheScrollbackAndKeepsTheScreen) {
    TerminalFixture t({.cols = 6, .rows = 2, .scrollback = 10});
    t.feed("1\r\n2\r\n3\r\n4\r\n5");
    ASSERT_EQ(t.scrollback(), (Rows{"1", "2", "3"}));
    t.feed("\x1b[3J");
    EXPECT_EQ(t.scrollback(), Rows{});
    EXPECT_EQ(t.screen(), (Rows{"4", "5"}));
    EXPECT_EQ(t.terminal.buffer().yDisp(), 0);
    EXPECT_EQ(t.terminal.buffer().linesTop, 0);
}

// ---- Character attributes -------------------------------------------------------------------

struct SgrCase {
    const char* name;
    std::string input;
    Attribute expected;
    int unknownLines = 0;
};

Attribute styled(CharacterStyle style, CellColor fg = CellColor::defaultColor,
                 CellColor bg = CellColor::defaultColor,
                 UnderlineStyle underline = UnderlineStyle::none) {
    return Attribute(fg, bg, style, underline);
}

Attribute withUnderlineColor(Attribute attribute, std::optional<CellColor> color) {
    attribute.setUnderlineColor(color);
    return attribute;
}

const CharacterStyle boldAndUnderline = [] {
    CharacterStyle style = CharacterStyle::bold;
    style.insert(CharacterStyle::underline);
    return style;
}();

const SgrCase sgrCases[] = {
    {"22 ends bold and keeps the colour", "\x1b[1;31m\x1b[22m",
     styled(CharacterStyle::none, CellColor::ansi256(1))},
    {"256 colours after semicolons", "\x1b[38;5;208m",
     styled(CharacterStyle::none, CellColor::ansi256(208))},
    {"256 colours after colons", "\x1b[38:5:208m",
     styled(CharacterStyle::none, CellColor::ansi256(208))},
    {"an index above 255 is 255", "\x1b[38;5;300m",
     styled(CharacterStyle::none, CellColor::ansi256(255))},
    {"true colour after semicolons", "\x1b[38;2;10;20;30m",
     styled(CharacterStyle::none, CellColor::trueColor(10, 20, 30))},
    {"true colour after colons", "\x1b[38:2:10:20:30m",
     styled(CharacterStyle::none, CellColor::trueColor(10, 20, 30))},
    {"true colour with a colour space", "\x1b[48:2::10:20:30m",
     styled(CharacterStyle::none, CellColor::defaultColor, CellColor::trueColor(10, 20, 30))},
    {"a short true colour leaves the colour and reads on", "\x1b[38;2;10;20m",
     styled(CharacterStyle::none), 2},
    {"curly underline", "\x1b[4:3m",
     styled(CharacterStyle::underline, CellColor::defaultColor, CellColor::defaultColor,
            UnderlineStyle::curly)},
    {"4:0 removes the underline", "\x1b[4m\x1b[4:0m", styled(CharacterStyle::none)},
    {"4;3 is underline and italic", "\x1b[4;3m",
     [] {
         CharacterStyle style = CharacterStyle::underline;
         style.insert(CharacterStyle::italic);
         return styled(style, CellColor::defaultColor, CellColor::defaultColor,
                       UnderlineStyle::single);
     }()},
    {"21 is a double underline", "\x1b[21m",
     styled(CharacterStyle::underline, CellColor::defaultColor, CellColor::defaultColor,
            UnderlineStyle::double_)},
    {"an underline colour does not underline", "\x1b[58;5;9m",
     withUnderlineColor(Attribute(), CellColor::ansi256(9))},
    {"59 removes the underline colour", "\x1b[58;5;3m\x1b[59m", Attribute()},
    {"0 inside the list resets what came before", "\x1b[1;0;3m", styled(CharacterStyle::italic)},
    {"CSI m resets everything", "\x1b[1;4;7;31;42m\x1b[m", Attribute()},
    {"bright colours", "\x1b[91;101m",
     styled(CharacterStyle::none, CellColor::ansi256(9), CellColor::ansi256(9))},
    {"39 and 49 are the plain defaults", "\x1b[31;41m\x1b[39;49m", Attribute()},
    {"bold and underline together", "\x1b[1;4m",
     styled(boldAndUnderline, CellColor::defaultColor, CellColor::defaultColor,
            UnderlineStyle::single)},
    {"overline is unknown", "\x1b[53m", Attribute(), 1},
    {"with intermediates nothing happens", "\x1b[>4m", Attribute()},
    {"38 with nothing after it", "\x1b[38m", Attribute()},
    {"38;5 without an index", "\x1b[38;5m", Attribute()},
    {"an unknown colour kind is skipped and reading goes on", "\x1b[38;7;1m",
     styled(CharacterStyle::bold)},
    {"the colon form without an index", "\x1b[38:5m", Attribute()},
    {"a colon true colour of three values is too short", "\x1b[38:2:1:2;1m",
     styled(CharacterStyle::bold)},
    {"a colon true colour without a colour space", "\x1b[38:2:1:2:3;1m",
     styled(CharacterStyle::bold, CellColor::trueColor(1, 2, 3))},
    {"further colon values belong to the colour", "\x1b[38:5:208:1m",
     styled(CharacterStyle::none, CellColor::ansi256(208))},
    {"colon 256 colours above 255 are 255", "\x1b[48:5:300m",
     styled(CharacterStyle::none, CellColor::defaultColor, CellColor::ansi256(255))},
    {"true colour channels above 255 are 255", "\x1b[38;2;300;20;65535m",
     styled(CharacterStyle::none, CellColor::trueColor(255, 20, 255))},
    {"an unknown underline style is single", "\x1b[4:7m",
     styled(CharacterStyle::underline, CellColor::defaultColor, CellColor::defaultColor,
            UnderlineStyle::single)},
    {"4: with an empty style removes the underline", "\x1b[4m\x1b[4:m",
     styled(CharacterStyle::none)},
    {"an empty first parameter resets", "\x1b[3m\x1b[;1m", styled(CharacterStyle::bold)},
    {"a lone colour keeps the rest of the attribute", "\x1b[1;31;4m\x1b[48;2;1;2;3m\x1b[48;5;17m",
     styled(boldAndUnderline, CellColor::ansi256(1), CellColor::ansi256(17),
            UnderlineStyle::single)},
    {"colons after the colour kind of the semicolon form", "\x1b[48;2;1:2:3m",
     styled(CharacterStyle::none, CellColor::defaultColor, CellColor::trueColor(1, 2, 3))},
    {"256 colours above 255 are 255", "\x1b[38;5;300m",
     styled(CharacterStyle::none, CellColor::ansi256(255))},
    {"dashed and dotted underlines", "\x1b[4:5m\x1b[4:4m",
     styled(CharacterStyle::underline, CellColor::defaultColor, CellColor::defaultColor,
            UnderlineStyle::dotted)},
};

class SgrTable : public ::testing::TestWithParam<SgrCase> {};

TEST_P(SgrTable, SetsTheAttribute) {
    const SgrCase& c = GetParam();
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.feed(c.input);
    EXPECT_EQ(t.terminal.currentAttribute(), c.expected);
    EXPECT_EQ(int(capture.captured().size()), c.unknownLines);
    for (const std::string& line : capture.captured()) {
        EXPECT_EQ(line.rfind("Unknown SGR attribute: ", 0), 0u) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, SgrTable, ::testing::ValuesIn(sgrCases),
                         [](const auto& info) { return testName(info.param.name); });

// Built at run time: a true underline colour takes a slot of the process-wide table, which
// other tests expect empty when the program starts.
TEST(TerminalSgr, TrueUnderlineColour) {
    TerminalFixture t;
    t.feed("\x1b[58;2;255;0;0m");
    EXPECT_EQ(t.terminal.currentAttribute(),
              withUnderlineColor(Attribute(), CellColor::trueColor(255, 0, 0)));
}

TEST(TerminalSgr, UnknownAttributesAreReportedWithTheWholeList) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.feed("\x1b[1;53;3m");
    EXPECT_THAT(capture.captured(), ElementsAre("Unknown SGR attribute: 53 [1, 53, 3]"));
}

TEST(TerminalSgr, PrintedCellsCarryTheAttribute) {
    TerminalFixture t;
    t.feed("\x1b[1;38;2;1;2;3ma\x1b[mb");
    EXPECT_EQ(t.cell(0, 0).attribute(),
              styled(CharacterStyle::bold, CellColor::trueColor(1, 2, 3)));
    EXPECT_EQ(t.cell(1, 0).attribute(), Attribute());
}

// One parameter of a list as a program writes it: its value (none when omitted) and whether a
// colon, not a semicolon, stands before it.
struct SgrParameter {
    std::optional<int> value;
    bool afterColon = false;
};

// What a list does to `a`, read one parameter at a time with a plain switch: the terminal's
// reader, which looks parameters up in a table and takes shortcuts, must come to the same.
Attribute readSgrPlainly(Attribute a, const std::vector<SgrParameter>& list, int& unknown) {
    const int n = int(list.size());
    auto value = [&](int i) { return std::min(list[size_t(i)].value.value_or(0), 65535); };
    auto colon = [&](int i) { return i < n && list[size_t(i)].afterColon; };
    auto channel = [&](int i) { return uint8_t(std::min(value(i), 255)); };
    CharacterStyle style = a.style();
    auto setUnderline = [&](UnderlineStyle underline) {
        if (underline == UnderlineStyle::none) {
            style.remove(CharacterStyle::underline);
        } else {
            style.insert(CharacterStyle::underline);
        }
        a.setUnderlineStyle(underline);
    };
    for (int i = 0; i < n; ++i) {
        const int p = value(i);
        if (p == 0) {
            a = Attribute();
            style = CharacterStyle::none;
        } else if (p >= 1 && p <= 9 && p != 4 && p != 6) {
            const CharacterStyle styles[] = {
                CharacterStyle::bold,    CharacterStyle::dim,       CharacterStyle::italic,
                CharacterStyle::none,    CharacterStyle::blink,     CharacterStyle::none,
                CharacterStyle::inverse, CharacterStyle::invisible, CharacterStyle::crossedOut};
            style.insert(styles[p - 1]);
        } else if (p == 4) {
            if (!colon(i + 1)) {
                setUnderline(UnderlineStyle::single);
            } else {
                const int s = value(++i);
                setUnderline(s <= 5 && s != 0 ? UnderlineStyle(s)
                             : s == 0         ? UnderlineStyle::none
                                              : UnderlineStyle::single);
            }
        } else if (p == 21) {
            setUnderline(UnderlineStyle::double_);
        } else if (p == 22) {
            style.remove(CharacterStyle::bold | CharacterStyle::dim);
        } else if (p == 24) {
            setUnderline(UnderlineStyle::none);
        } else if (p == 23 || p == 25 || p == 27 || p == 28 || p == 29) {
            const CharacterStyle styles[] = {CharacterStyle::italic,    CharacterStyle::none,
                                             CharacterStyle::blink,     CharacterStyle::none,
                                             CharacterStyle::inverse,   CharacterStyle::invisible,
                                             CharacterStyle::crossedOut};
            style.remove(styles[p - 23]);
        } else if ((p >= 30 && p <= 37) || (p >= 90 && p <= 97) || p == 39) {
            a.setFg(p == 39 ? CellColor::defaultColor
                            : CellColor::ansi256(uint8_t(p % 10 + (p >= 90 ? 8 : 0))));
        } else if ((p >= 40 && p <= 47) || (p >= 100 && p <= 107) || p == 49) {
            a.setBg(p == 49 ? CellColor::defaultColor
                            : CellColor::ansi256(uint8_t(p % 10 + (p >= 100 ? 8 : 0))));
        } else if (p == 59) {
            a.setUnderlineColor(std::nullopt);
        } else if (p == 38 || p == 48 || p == 58) {
            std::optional<CellColor> color;
            int used = 1;
            if (colon(i + 1)) {
                int group = 1;
                while (colon(i + 1 + group)) {
                    ++group;
                }
                used = group;
                if (value(i + 1) == 5 && group >= 2) {
                    color = CellColor::ansi256(channel(i + 2));
                } else if (value(i + 1) == 2 && group >= 5) {
                    color = CellColor::trueColor(channel(i + 3), channel(i + 4), channel(i + 5));
                } else if (value(i + 1) == 2 && group == 4) {
                    color = CellColor::trueColor(channel(i + 2), channel(i + 3), channel(i + 4));
                }
            } else if (i + 1 < n && value(i + 1) == 5 && i + 2 < n) {
                color = CellColor::ansi256(channel(i + 2));
                used = 2;
            } else if (i + 1 < n && value(i + 1) == 2 && i + 4 < n) {
                color = CellColor::trueColor(channel(i + 2), channel(i + 3), channel(i + 4));
                used = 4;
            }
            if (color && p == 38) {
                a.setFg(*color);
            } else if (color && p == 48) {
                a.setBg(*color);
            } else if (color) {
                a.setUnderlineColor(*color);
            }
            i += used;
        } else {
            ++unknown;
        }
    }
    a.setStyle(style);
    return a;
}

// Lists of every kind, from a state that has every field of the attribute set: the reader's
// table, its colour shortcut and its handling of colons against the plain reading.
TEST(TerminalSgr, ListsDoWhatReadingThemOneParameterAtATimeDoes) {
    static const int values[] = {0,  1,  2,  3,  4,  5,   6,   7,   8,   9,   10,  21,   22,
                                 23, 24, 25, 27, 28, 29,  30,  37,  39,  40,  47,  49,   53,
                                 59, 89, 90, 97, 98, 100, 107, 108, 255, 256, 300, 65535};
    // Colour introducers and kinds come often, so that colours of both forms are read.
    static const int colourParts[] = {38, 48, 58, 5, 2};
    std::mt19937 random(11);
    const std::string start = "\x1b[1;2;3;4:3;5;7;8;9;38;5;100;48;2;1;2;3;58;5;9m";
    for (int round = 0; round < 3000; ++round) {
        std::vector<SgrParameter> list;
        // Every fourth list is a style and a 256-colour ("1;38;5;n"), which has a shortcut of its
        // own; its colons and values still vary.
        const bool styleAndColour = round % 4 == 0;
        const size_t length = styleAndColour ? 4 : 1 + random() % 7;
        std::string input = "\x1b[";
        for (size_t k = 0; k < length; ++k) {
            SgrParameter parameter;
            // A colon straight after CSI makes the sequence an error, which is not an SGR.
            const bool colonAllowed = k > 1 || (k == 1 && list[0].value);
            parameter.afterColon = colonAllowed && random() % 4 == 0;
            if (random() % 10 != 0) {
                parameter.value = random() % 3 == 0 ? colourParts[random() % 5]
                                                    : values[random() % std::size(values)];
            }
            if (styleAndColour && (k == 1 || k == 2) && random() % 8 != 0) {
                parameter.value = k == 2 ? 5 : colourParts[random() % 2];
            }
            if (k > 0) {
                input += parameter.afterColon ? ':' : ';';
            }
            if (parameter.value) {
                input += std::to_string(*parameter.value);
            }
            list.push_back(parameter);
        }
        input += 'm';
        SCOPED_TRACE(input.substr(1));
        DiagnosticsCapture capture;
        TerminalFixture t;
        t.feed(start);
        const Attribute before = t.terminal.currentAttribute();
        t.feed(input);
        int unknown = 0;
        EXPECT_EQ(t.terminal.currentAttribute(), readSgrPlainly(before, list, unknown));
        EXPECT_EQ(int(capture.captured().size()), unknown);
    }
}

// ---- Modes ----------------------------------------------------------------------------------

TEST(TerminalModes, ModesReachBothScreens) {
    TerminalFixture t;
    Terminal& terminal = t.terminal;
    t.feed("\x1b[4h\x1b[?69h\x1b[?7l");
    for (Buffer* screen : {&terminal.normalBuffer(), &terminal.altBuffer()}) {
        EXPECT_TRUE(screen->insertMode());
        EXPECT_TRUE(screen->marginMode());
        EXPECT_FALSE(screen->wraparound());
    }
    t.feed("\x1b[4l\x1b[?69l\x1b[?7h");
    for (Buffer* screen : {&terminal.normalBuffer(), &terminal.altBuffer()}) {
        EXPECT_FALSE(screen->insertMode());
        EXPECT_FALSE(screen->marginMode());
        EXPECT_TRUE(screen->wraparound());
    }
}

TEST(TerminalModes, CursorVisibilityNotifiesOnChangesOnly) {
    TerminalFixture t;
    t.takeCalls();
    t.feed("\x1b[?25l\x1b[?25l\x1b[?25h\x1b[?25h");
    EXPECT_THAT(t.takeCalls(), ElementsAre("hideCursor", "showCursor"));
}

TEST(TerminalModes, ReverseWraparoundNeedsAutowrap) {
    TerminalFixture t;
    t.feed("\x1b[?7l\x1b[?45h");
    EXPECT_FALSE(t.terminal.reverseWraparound());
    t.feed("\x1b[?7h\x1b[?45h");
    EXPECT_TRUE(t.terminal.reverseWraparound());
}

TEST(TerminalModes, UnhandledModesAreLoggedOnlyWhenAsked) {
    DiagnosticsCapture capture;
    TerminalFixture t;
    t.feed("\x1b[?7777h\x1b[12h");
    EXPECT_THAT(capture.captured(), IsEmpty());
    t.terminal.setSilentLog(false);
    t.feed("\x1b[?7777h\x1b[?7777l\x1b[12h\x1b[>1h");
    EXPECT_THAT(capture.captured(),
                ElementsAre("Info: Unhandled DEC Private Mode Set (DECSET) with 7777",
                            "Info: Unhandled DEC Private Mode Reset (DECRST) with 7777",
                            "Info: Unhandled verbatim setMode with 12 and []",
                            "Info: Unhandled setMode (SM) with 1 and [62]"));
}

} // namespace
