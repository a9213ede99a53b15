// Feeds a whole terminal (parser, handlers, screens, replies) twice, whole and cut into chunks
// chosen by the first input byte, and checks that both give the same screens, cursor, replies
// and host calls, and that positions, margins and the bounded stacks stay in range.
//
// The first byte also picks the screen size and the host's answers (cell size, clipboard,
// window replies, trust). With its lowest bit set the rest of the input is fed as it is; with it
// clear the rest is a program of sequences: each step's first byte chooses a kind (SGR, a DEC
// mode, an OSC with a plausible payload, DECRQSS, kitty keyboard flags, window operations,
// editing and rectangular areas inside margins, ...)
// and the next bytes its numbers and text, so that the fuzzer reaches deep handler states that
// random bytes seldom form.

#include "../veldatron/TerminalFixture.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace veldatron;
using namespace veldatron::testing;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "terminal invariant broken: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

// ---- The program reader ---------------------------------------------------------------------

class Program {
public:
    explicit Program(std::string_view bytes) : m_bytes(bytes) {}

    bool done() const { return m_at >= m_bytes.size(); }
    uint8_t byte() { return done() ? 0 : uint8_t(m_bytes[m_at++]); }
    template <typename T, size_t N> const T& pick(const std::array<T, N>& options) {
        return options[byte() % N];
    }
    // A number that is usually interesting and sometimes anything.
    int number() {
        static constexpr std::array<int, 24> interesting = {
            0,  1,  2,  3,  4,  5,  6,  7,  8,   9,   10,   12,
            14, 16, 18, 22, 23, 25, 31, 38, 255, 256, 1000, 65535,
        };
        const uint8_t b = byte();
        if (b < 200) {
            return interesting[b % interesting.size()];
        }
        return int(b) << 8 | byte();
    }
    std::string text(size_t limit) {
        const size_t n = byte() % (limit + 1);
        std::string out;
        for (size_t i = 0; i < n && !done(); ++i) {
            out += char(byte());
        }
        return out;
    }

private:
    std::string_view m_bytes;
    size_t m_at = 0;
};

constexpr std::array<int, 48> decModes = {
    1,    2,    3,    4,    5,    6,    7,    9,    12,   25,   40,   41,   45,   47,   63,   66,
    69,   95,   1000, 1002, 1003, 1004, 1005, 1006, 1007, 1015, 1016, 1034, 1047, 1048, 1049, 1243,
    2004, 2026, 2500, 2501, 8,    18,   19,   10,   13,   30,   67,   80,   1001, 3,    20,   7777,
};

constexpr std::array<std::string_view, 8> terminators = {
    "\x07", "\x1b\\", "\x9c", "\x07", "\x1b\\", "\x18", "\x1b[", "",
};

std::string params(Program& p, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            out += p.byte() % 4 == 0 ? ':' : ';';
        }
        if (p.byte() % 8 != 0) {
            out += std::to_string(p.number());
        }
    }
    return out;
}

std::string oscPayload(Program& p, int code) {
    static constexpr std::array<std::string_view, 16> colours = {
        "?",
        "#ff0000",
        "rgb:1/22/333",
        "#fff",
        "?;?",
        "",
        "#12",
        "rgb:ffff/0000/0000;?",
        "bogus",
        "#000000000000",
        "rgb:/1/2",
        "?;#00ff00",
        "x",
        "#abcdef;#123456;?",
        ";",
        "?",
    };
    switch (code) {
    case 4:
        return std::to_string(p.number()) + ";" + std::string(p.pick(colours)) +
               (p.byte() % 2 ? ";" + std::to_string(p.number()) + ";?" : "");
    case 8: {
        static constexpr std::array<std::string_view, 6> links = {
            ";", "id=1;http://a", "id=2;http://b", ";file:///x", "", "id=1;http://a",
        };
        return std::string(p.pick(links)) + (p.byte() % 4 == 0 ? p.text(12) : "");
    }
    case 9:
        return "4;" + std::to_string(p.byte() % 7) + ";" + std::to_string(p.number() - 5);
    case 10:
    case 11:
    case 12:
        return std::string(p.pick(colours));
    case 52: {
        static constexpr std::array<std::string_view, 8> payloads = {
            "c;?", ";?", "ps;aGVsbG8=", "c;aGk", "x;?", "c;", "01234567c;?", "c;YQ==",
        };
        return std::string(p.pick(payloads));
    }
    case 104:
        return params(p, p.byte() % 4);
    case 133: {
        static constexpr std::array<std::string_view, 12> marks = {
            "A",     "B",      "C",     "D;1", "A;k=s", "A;cl=m;special_key=1",
            "P;k=i", "N;cl=v", "A;k=c", "L",   "I",     "A;click_events=2",
        };
        return std::string(p.pick(marks));
    }
    case 777:
        return "notify;" + p.text(6) + ";" + p.text(6);
    case 1337: {
        static constexpr std::array<std::string_view, 6> files = {
            "File=inline=1;width=50%;height=auto:aGVsbG8=",
            "File=inline=1;width=4095px:aGk=",
            "File=inline=0:aGk=",
            "File=inline=1:not base64",
            "SetMark",
            "File=name=eA==;inline=1;preserveAspectRatio=0;width=+5:aGk=",
        };
        return std::string(p.pick(files));
    }
    default:
        return p.text(16);
    }
}

// One step of the program: the bytes of one sequence (or a little text).
std::string step(Program& p) {
    switch (p.byte() % 15) {
    case 0:
        return p.text(16);
    case 1: {
        std::string text = p.text(24);
        for (char& c : text) {
            c = char(0x20 + uint8_t(c) % 0x5F);
        }
        return text;
    }
    case 2: {
        static constexpr std::array<std::string_view, 10> characters = {
            "\xc3\xa9",     "\xe4\xb8\xad", "\xf0\x9f\x98\x80",
            "e\xcc\x81",    "\xe2\x80\x8d", "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa",
            "\xef\xb8\x8f", "\xd8\xb3",     "\x7f",
            "\r\n",
        };
        return std::string(p.pick(characters));
    }
    case 3: {
        static constexpr std::array<std::string_view, 6> markers = {"", "?", ">", "=", "<", ""};
        static constexpr std::array<std::string_view, 7> intermediates = {
            "", " ", "!", "\"", "$", "'", "*",
        };
        const std::string marker(p.pick(markers));
        const std::string body = params(p, p.byte() % 5);
        const std::string intermediate(p.pick(intermediates));
        return "\x1b[" + marker + body + intermediate + char(0x40 + p.byte() % 0x3F);
    }
    case 4: {
        const int mode = p.pick(decModes);
        static constexpr std::array<std::string_view, 8> actions = {"h",  "l", "h", "l",
                                                                    "$p", "s", "r", "l"};
        const bool ansi = p.byte() % 5 == 0;
        return std::string("\x1b[") + (ansi ? "" : "?") + std::to_string(mode) +
               std::string(p.pick(actions));
    }
    case 5: {
        static constexpr std::array<std::string_view, 12> forms = {
            "38;5;", "48;2;", "58:2::", "38:5:", "4:",  "38;2;",
            "1;",    "0;",    "58;5;",  "",      "22;", "48:2:",
        };
        return "\x1b[" + std::string(p.pick(forms)) + params(p, p.byte() % 5) + "m";
    }
    case 6: {
        static constexpr std::array<int, 18> codes = {
            0, 1, 2, 4, 6, 7, 8, 9, 10, 11, 12, 52, 104, 112, 133, 777, 1337, 8,
        };
        const int code = p.pick(codes);
        return "\x1b]" + std::to_string(code) + ";" + oscPayload(p, code) +
               std::string(p.pick(terminators));
    }
    case 7: {
        static constexpr std::array<std::string_view, 9> requests = {
            "r", "m", "s", " q", "\"q", "\"p", "x", "", "mm",
        };
        return "\x1bP$q" + std::string(p.pick(requests)) + (p.byte() % 8 == 0 ? p.text(80) : "") +
               std::string(p.pick(terminators));
    }
    case 8: {
        static constexpr std::array<std::string_view, 22> escapes = {
            "7",  "8",  "M",  "c", "D",  "E", "H", "=",  ">",  " F", " G",
            "(0", "#8", "%G", "n", "\\", "6", "9", "#3", "#4", "#5", "#6",
        };
        return "\x1b" + std::string(p.pick(escapes));
    }
    case 9: {
        static constexpr std::array<char, 10> controls = {'\r',   '\n',   '\b',   '\t',   '\x0b',
                                                          '\x0c', '\x0e', '\x0f', '\x07', '\n'};
        return std::string(1, p.pick(controls));
    }
    case 10: {
        static constexpr std::array<std::string_view, 5> forms = {"=", ">", "<", "?", ""};
        return "\x1b[" + std::string(p.pick(forms)) + params(p, p.byte() % 3) + "u";
    }
    case 11:
        return "\x1b[" + params(p, 1 + p.byte() % 3) + "t";
    case 12:
        return "\x1b[" + params(p, p.byte() % 3) + (p.byte() % 2 ? "r" : "s");
    case 13: {
        // Editing, scrolling and rectangular areas with their whole parameter lists, often inside
        // a scroll region or left and right margins.
        static constexpr std::array<std::string_view, 4> setups = {
            "",
            "\x1b[?69h\x1b[2;6s",
            "\x1b[2;4r",
            "\x1b[?6h\x1b[?69h",
        };
        static constexpr std::array<std::string_view, 20> finals = {
            "$v", "$x", "$z", "${", "'}", "'~", "*y", "@", "P", "X",
            "L",  "M",  "S",  "T",  "b",  "I",  "Z",  "E", "F", "g",
        };
        const std::string setup(p.pick(setups));
        return setup + "\x1b[" + params(p, p.byte() % 9) + std::string(p.pick(finals));
    }
    default:
        return "\x1b[" + std::to_string(p.byte() % 8) + " q";
    }
}

std::string generate(std::string_view program) {
    // Programs stay small enough that a run takes milliseconds.
    constexpr size_t maxBytes = 1 << 16;
    Program p(program);
    std::string out;
    while (!p.done() && out.size() < maxBytes) {
        out += step(p);
    }
    return out;
}

// ---- Checks ---------------------------------------------------------------------------------

// Every cell of both screens as text: character, width, attribute bits; rows with their wrap
// flag; then the cursor and the window.
std::string snapshot(TerminalFixture& t) {
    Terminal& terminal = t.terminal;
    std::string out;
    for (Buffer* screen : {&terminal.normalBuffer(), &terminal.altBuffer()}) {
        CircularBufferLineList& lines = screen->lines();
        for (int row = 0; row < lines.count(); ++row) {
            const BufferLine& line = lines[row];
            out += line.isWrapped() ? "~" : "|";
            for (const CharData& cell : line.cells()) {
                for (char32_t c : terminal.character(cell.code())) {
                    UnicodeUtil::appendUtf8(out, c);
                }
                out += std::to_string(cell.width());
                out += std::to_string(std::hash<Attribute>()(cell.attribute()) & 0xFFFF);
                out += cell.hasPayload() ? "*" : "";
            }
            out += '\n';
        }
        out += std::to_string(screen->x()) + "," + std::to_string(screen->y()) + " " +
               std::to_string(screen->yBase()) + " " + std::to_string(screen->yDisp()) + " " +
               std::to_string(screen->marginLeft()) + "-" + std::to_string(screen->marginRight()) +
               "\n";
    }
    out += terminal.isCurrentBufferAlternate() ? "alt " : "normal ";
    out += terminal.terminalTitle() + "|" + terminal.iconTitle() + " ";
    out += std::to_string(terminal.keyboardEnhancementFlags().rawValue) + "\n";
    return out;
}

// What a view asks about the screen the program left (links and prompt marks at cells, a click
// into the command line, a mouse report): answers stay inside the screen, and nothing breaks.
void probeViewQueries(TerminalFixture& t, uint8_t selector) {
    Terminal& terminal = t.terminal;
    Buffer& buffer = terminal.buffer();
    const int count = buffer.lines().count();
    // Two columns a row keep the fuzzer fast: one the input picks, one past the right edge.
    const int columns[] = {selector % terminal.cols(), terminal.cols()};
    for (int row = -1; row <= count; ++row) {
        for (const int col : columns) {
            const Position at{col, row};
            for (const auto& match :
                 {terminal.explicitLinkMatch(at, buffer), terminal.implicitLinkMatch(at, buffer)}) {
                if (match) {
                    check(!match->rowRanges.empty() && !match->range.isEmpty(), "a link's cells");
                    for (const LinkMatch::RowRange& r : match->rowRanges) {
                        check(r.row >= 0 && r.row < count && r.range.start >= 0 &&
                                  r.range.end <= terminal.cols(),
                              "a link inside the screen");
                    }
                }
            }
            terminal.semanticContent(at);
            terminal.semanticRowKind(row);
            for (const SemanticPromptAnchor& anchor : terminal.semanticPromptMarks(row)) {
                check(anchor.position.row == row && anchor.position.col >= 0 &&
                          anchor.position.col < buffer.lines()[row].count(),
                      "a prompt mark inside its row");
            }
            terminal.handleSemanticPromptClick(at, SemanticPromptClickModifiers());
        }
    }
    terminal.activeSemanticPromptOrigin();
    terminal.sendEvent(selector, selector * 7, selector * 3, selector * 70, selector * 30);
}

void checkInvariants(TerminalFixture& t) {
    Terminal& terminal = t.terminal;
    for (Buffer* screen : {&terminal.normalBuffer(), &terminal.altBuffer()}) {
        check(screen->cols() == terminal.cols() && screen->rows() == terminal.rows(),
              "screen size");
        check(screen->marginLeft() >= 0 && screen->marginLeft() <= screen->marginRight() &&
                  screen->marginRight() < terminal.cols(),
              "margins");
    }
    Buffer& buffer = terminal.buffer();
    check(buffer.x() >= 0 && buffer.x() <= terminal.cols(), "cursor column");
    check(buffer.y() >= 0 && buffer.y() < terminal.rows(), "cursor row");
    check(buffer.yBase() >= 0 && buffer.yBase() + terminal.rows() <= buffer.lines().count(),
          "screen inside the ring");
    check(buffer.yDisp() >= 0 && buffer.yDisp() <= buffer.yBase(), "window inside the ring");
    check(buffer.scrollTop() <= buffer.scrollBottom() && buffer.scrollBottom() < terminal.rows(),
          "scroll region");
    check(terminal.terminalTitleStack().size() <= Terminal::maxTitleStackDepth &&
              terminal.terminalIconStack().size() <= Terminal::maxTitleStackDepth,
          "title stacks");
    for (const auto& stack : {terminal.terminalTitleStack(), terminal.terminalIconStack()}) {
        for (const std::string& title : stack) {
            check(title.size() <= Terminal::maxTitleLength, "title length");
        }
    }
    check(terminal.keyboardModeNormal().stack.size() <= Terminal::maxKeyboardModeStackDepth &&
              terminal.keyboardModeAlt().stack.size() <= Terminal::maxKeyboardModeStackDepth,
          "keyboard stacks");
    for (uint16_t code : terminal.payloadCodes()) {
        check(TinyAtom{code}.target().has_value(), "a held payload handle is registered");
    }
}

TerminalSpec spec(uint8_t selector) {
    return {.cols = 8 + selector % 13,
            .rows = 2 + selector % 5,
            .scrollback = selector % 3 == 0 ? 0 : 9,
            .regionalIndicatorWidth =
                selector & 0x80 ? RegionalIndicatorWidth::narrow : RegionalIndicatorWidth::wide};
}

void configureHost(RecordingDelegate& host, uint8_t selector) {
    if (selector & 0x02) {
        host.cellSize = CellSize{7 + selector % 5, 14 + selector % 7};
    }
    if (selector & 0x04) {
        host.clipboard = std::vector<uint8_t>{'c', 'l', 'i', 'p'};
    }
    if (selector & 0x08) {
        host.windowReply = std::vector<uint8_t>{'w'};
    }
    host.trusted = (selector & 0x10) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t selector = data[0];
    std::uint32_t cuts = selector * 2654435761u + 1;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string input = selector & 1 ? std::string(rest) : generate(rest);

    TerminalFixture whole(spec(selector));
    configureHost(whole.host, selector);
    whole.feed(input);
    checkInvariants(whole);

    TerminalFixture split(spec(selector));
    configureHost(split.host, selector);
    for (std::size_t at = 0; at < input.size();) {
        cuts ^= cuts << 13;
        cuts ^= cuts >> 17;
        cuts ^= cuts << 5;
        const std::size_t n = 1 + cuts % 17;
        const std::size_t take = n < input.size() - at ? n : input.size() - at;
        split.feed(std::string_view(input).substr(at, take));
        checkInvariants(split);
        at += take;
    }
    if (snapshot(whole) != snapshot(split)) {
        fail("the screen depends on how the input was split");
    }
    if (whole.host.replies != split.host.replies || whole.host.calls != split.host.calls) {
        fail("the replies or host calls depend on how the input was split");
    }
    probeViewQueries(whole, selector);
    // Dropping everything that no cell shows leaves the registry consistent.
    whole.terminal.garbageCollectPayload();
    checkInvariants(whole);
    return 0;
}
