// Mouse reports: button codes by tracking mode, and the bytes of each encoding, at the edges
// where an encoding runs out of room.
#include "TerminalFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veldatron {
namespace {

using testing::escaped;
using testing::TerminalFixture;
using Mode = Terminal::MouseMode;
using Encoding = Terminal::MouseProtocolEncoding;

// The DEC private modes that select each tracking mode and encoding.
std::string select(Mode mode, Encoding encoding) {
    static const char* const modes[] = {"", "\x1b[?9h", "\x1b[?1000h", "\x1b[?1002h",
                                        "\x1b[?1003h"};
    static const char* const encodings[] = {"", "\x1b[?1005h", "\x1b[?1006h", "\x1b[?1015h",
                                            "\x1b[?1016h"};
    return std::string(modes[size_t(mode)]) + encodings[size_t(encoding)];
}

struct Modifiers {
    bool shift = false;
    bool meta = false;
    bool control = false;
};

TEST(TerminalMouse, ButtonCodesCarryModifiersOnlyInModesThatReportThem) {
    struct Case {
        int button;
        bool release;
        Modifiers modifiers;
        int withModifiers;    // vt200, button-event and any-event tracking
        int withoutModifiers; // off and x10
    };
    const Case cases[] = {
        {1, false, {}, 1, 1},
        {2, false, {.shift = true}, 6, 2},
        {3, false, {.meta = true}, 8, 0},
        {4, false, {.control = true}, 80, 64},
        {5, false, {true, true, true}, 93, 65},
        {0, false, {.shift = true}, 4, 0},
        {9, false, {}, 0, 0},
        {1, true, {}, 3, 3},
        {4, true, {.shift = true, .control = true}, 23, 3},
    };
    for (const Mode mode :
         {Mode::off, Mode::x10, Mode::vt200, Mode::buttonEventTracking, Mode::anyEvent}) {
        TerminalFixture t;
        t.feed(select(mode, Encoding::x10));
        ASSERT_EQ(t.terminal.mouseMode(), mode);
        for (const Case& c : cases) {
            SCOPED_TRACE("mode " + std::to_string(int(mode)) + " button " +
                         std::to_string(c.button) + (c.release ? " release" : ""));
            const Modifiers& m = c.modifiers;
            EXPECT_EQ(t.terminal.encodeButton(c.button, c.release, m.shift, m.meta, m.control),
                      Terminal::sendsModifiers(mode) ? c.withModifiers : c.withoutModifiers);
        }
    }
}

TEST(TerminalMouse, WireFormsAtTheEdgesOfEachEncoding) {
    enum class Call { event, eventAtCell, motion };
    struct Case {
        const char* name;
        Encoding encoding;
        Call call;
        int flags;
        int x;
        int y;
        int pixelX;
        int pixelY;
        std::string expected;
    };
    const Case cases[] = {
        {"x10 press", Encoding::x10, Call::event, 0, 0, 0, 0, 0, "\\x1b[M !!"},
        {"x10 column 222 is the last byte value", Encoding::x10, Call::event, 0, 221, 0, 0, 0,
         "\\x1b[M \\xfe!"},
        {"x10 column 223", Encoding::x10, Call::event, 0, 222, 0, 0, 0, "\\x1b[M \\xff!"},
        {"x10 column 224 is capped", Encoding::x10, Call::event, 0, 223, 0, 0, 0, "\\x1b[M \\xff!"},
        {"x10 far right and down", Encoding::x10, Call::event, 35, 300, 5000, 0, 0,
         "\\x1b[MC\\xff\\xff"},
        {"x10 release is code 3", Encoding::x10, Call::event, 3, 1, 2, 0, 0, "\\x1b[M#\"#"},
        {"utf8 small values are one byte", Encoding::utf8, Call::event, 0, 93, 0, 0, 0,
         "\\x1b[M ~!"},
        {"utf8 127 takes two bytes", Encoding::utf8, Call::event, 0, 94, 0, 0, 0,
         "\\x1b[M \\xc1\\xbf!"},
        {"utf8 128", Encoding::utf8, Call::event, 0, 95, 0, 0, 0, "\\x1b[M \\xc2\\x80!"},
        {"utf8 2046", Encoding::utf8, Call::event, 0, 2013, 0, 0, 0, "\\x1b[M \\xdf\\xbe!"},
        {"utf8 2047 is a zero byte", Encoding::utf8, Call::event, 0, 2014, 0, 0, 0,
         "\\x1b[M \\x00!"},
        {"utf8 2048 is capped", Encoding::utf8, Call::event, 0, 2015, 0, 0, 0,
         "\\x1b[M \\xdf\\xbf!"},
        {"utf8 far beyond", Encoding::utf8, Call::event, 0, 3000, 100000, 0, 0,
         "\\x1b[M \\xdf\\xbf\\xdf\\xbf"},
        {"sgr press with control", Encoding::sgr, Call::event, 16, 0, 0, 0, 0, "\\x1b[<16;1;1M"},
        {"sgr release keeps the modifiers", Encoding::sgr, Call::event, 19, 0, 0, 0, 0,
         "\\x1b[<16;1;1m"},
        {"sgr wheel", Encoding::sgr, Call::event, 65, 9, 4, 0, 0, "\\x1b[<65;10;5M"},
        {"sgr motion with button 3 is no release", Encoding::sgr, Call::motion, 3, 1, 1, 0, 0,
         "\\x1b[<35;2;2M"},
        {"sgr large coordinates", Encoding::sgr, Call::event, 0, 9999, 65535, 0, 0,
         "\\x1b[<0;10000;65536M"},
        {"urxvt release", Encoding::urxvt, Call::event, 3, 4, 9, 0, 0, "\\x1b[35;5;10M"},
        {"urxvt large coordinates", Encoding::urxvt, Call::event, 64, 2999, 999, 0, 0,
         "\\x1b[96;3000;1000M"},
        {"sgr-pixel reports the pointer", Encoding::sgrPixel, Call::event, 2, 3, 4, 1234, 5678,
         "\\x1b[<2;1234;5678M"},
        {"sgr-pixel release", Encoding::sgrPixel, Call::event, 3, 3, 4, 0, 7, "\\x1b[<0;0;7m"},
        {"sgr-pixel large coordinates", Encoding::sgrPixel, Call::motion, 0, 0, 0, 3840000, 2160000,
         "\\x1b[<32;3840000;2160000M"},
        {"sgr-pixel without pixels sends the cell, zero-based", Encoding::sgrPixel,
         Call::eventAtCell, 0, 5, 6, 0, 0, "\\x1b[<0;5;6M"},
        {"negative coordinates count as 0", Encoding::sgr, Call::event, 0, -4, -1, 0, 0,
         "\\x1b[<0;1;1M"},
    };
    for (const bool eight : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (eight ? " (8-bit)" : ""));
            TerminalFixture t;
            t.feed(select(Mode::anyEvent, c.encoding) + (eight ? "\x1b G" : ""));
            switch (c.call) {
            case Call::event:
                t.terminal.sendEvent(c.flags, c.x, c.y, c.pixelX, c.pixelY);
                break;
            case Call::eventAtCell:
                t.terminal.sendEvent(c.flags, c.x, c.y);
                break;
            case Call::motion:
                t.terminal.sendMotion(c.flags, c.x, c.y, c.pixelX, c.pixelY);
                break;
            }
            std::string expected = c.expected;
            if (eight) {
                expected.replace(0, 5, "\\x9b");
            }
            EXPECT_EQ(t.takeReplies(), expected);
        }
    }
}

// Every mode, encoding, button and modifier: a press and its release each leave as one report
// that carries the button code the mode gives, and the SGR forms tell the release by its final.
TEST(TerminalMouse, EveryModeEncodingButtonAndModifier) {
    const Modifiers modifierSets[] = {
        {}, {.shift = true}, {.meta = true}, {.control = true}, {true, true, true}};
    for (int m = 0; m <= int(Mode::anyEvent); ++m) {
        for (int e = 0; e <= int(Encoding::sgrPixel); ++e) {
            TerminalFixture t;
            t.feed(select(Mode(m), Encoding(e)));
            for (int button = 1; button <= 5; ++button) {
                for (const Modifiers& mods : modifierSets) {
                    SCOPED_TRACE("mode " + std::to_string(m) + " encoding " + std::to_string(e) +
                                 " button " + std::to_string(button) + " modifiers " +
                                 std::to_string(mods.shift + 2 * mods.meta + 4 * mods.control));
                    const bool reported = Terminal::sendsModifiers(Mode(m));
                    const int modifierBits =
                        reported ? 4 * mods.shift + 8 * mods.meta + 16 * mods.control : 0;
                    const int code = (button == 4   ? 64
                                      : button == 5 ? 65
                                                    : button % 3) |
                                     modifierBits;
                    const int press =
                        t.terminal.encodeButton(button, false, mods.shift, mods.meta, mods.control);
                    const int release =
                        t.terminal.encodeButton(button, true, mods.shift, mods.meta, mods.control);
                    ASSERT_EQ(press, code);
                    ASSERT_EQ(release, 3 | modifierBits);
                    t.terminal.sendEvent(press, 6, 7, 60, 70);
                    t.terminal.sendEvent(release, 6, 7, 60, 70);
                    const std::string pressText = std::to_string(press);
                    const std::string bits = std::to_string(modifierBits);
                    const std::string expected = [&]() -> std::string {
                        switch (Encoding(e)) {
                        case Encoding::x10:
                        case Encoding::utf8:
                            return "\x1b[M" + std::string(1, char(press + 32)) + "'(" + "\x1b[M" +
                                   std::string(1, char(release + 32)) + "'(";
                        case Encoding::sgr:
                            return "\x1b[<" + pressText + ";7;8M\x1b[<" + bits + ";7;8m";
                        case Encoding::urxvt:
                            return "\x1b[" + std::to_string(press + 32) + ";7;8M\x1b[" +
                                   std::to_string(release + 32) + ";7;8M";
                        case Encoding::sgrPixel:
                            return "\x1b[<" + pressText + ";60;70M\x1b[<" + bits + ";60;70m";
                        }
                        return "";
                    }();
                    EXPECT_EQ(t.takeReplies(), escaped(expected));
                }
            }
        }
    }
}

} // namespace
} // namespace veldatron
