// Feeds arbitrary bytes to a whole terminal (parser, handlers, screens) twice, whole and cut into
// chunks chosen by the first input byte, and checks that both give the same screen, scrollback,
// cursor, replies and host calls, and that the cursor and the window stay inside the screen.

#include "../veldatron/TerminalFixture.h"

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
            }
            out += '\n';
        }
        out += std::to_string(screen->x()) + "," + std::to_string(screen->y()) + " " +
               std::to_string(screen->yBase()) + " " + std::to_string(screen->yDisp()) + "\n";
    }
    out += terminal.isCurrentBufferAlternate() ? "alt\n" : "normal\n";
    return out;
}

void checkInvariants(TerminalFixture& t) {
    Terminal& terminal = t.terminal;
    Buffer& buffer = terminal.buffer();
    check(buffer.x() >= 0 && buffer.x() <= terminal.cols(), "cursor column");
    check(buffer.y() >= 0 && buffer.y() < terminal.rows(), "cursor row");
    check(buffer.yBase() >= 0 && buffer.yBase() + terminal.rows() <= buffer.lines().count(),
          "screen inside the ring");
    check(buffer.yDisp() >= 0 && buffer.yDisp() <= buffer.yBase(), "window inside the ring");
    check(buffer.scrollTop() <= buffer.scrollBottom() && buffer.scrollBottom() < terminal.rows(),
          "scroll region");
}

TerminalSpec spec(uint8_t selector) {
    return {.cols = 8 + selector % 13,
            .rows = 2 + selector % 5,
            .scrollback = selector % 3 == 0 ? 0 : 9,
            .regionalIndicatorWidth =
                selector & 0x80 ? RegionalIndicatorWidth::narrow : RegionalIndicatorWidth::wide};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::uint32_t cuts = data[0] * 2654435761u + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    TerminalFixture whole(spec(data[0]));
    whole.feed(input);
    checkInvariants(whole);

    TerminalFixture split(spec(data[0]));
    for (std::size_t at = 0; at < input.size();) {
        cuts ^= cuts << 13;
        cuts ^= cuts >> 17;
        cuts ^= cuts << 5;
        const std::size_t n = 1 + cuts % 17;
        const std::size_t take = n < input.size() - at ? n : input.size() - at;
        split.feed(input.substr(at, take));
        checkInvariants(split);
        at += take;
    }
    if (snapshot(whole) != snapshot(split)) {
        fail("the screen depends on how the input was split");
    }
    if (whole.host.replies != split.host.replies || whole.host.calls != split.host.calls) {
        fail("the replies or host calls depend on how the input was split");
    }
    return 0;
}
