// Sixel strings (DCS q): pictures built from the input's commands (colour definitions in RGB and
// HLS, selections, repeats, band moves, sixels, raw bytes, huge numbers), fed whole and cut into
// pieces to a terminal whose host sometimes inserts the pictures into rows. Checks that both give
// the same pictures, that every picture has its stated size within 10000 x 10000, and that the
// cursor stays on the screen.

#include "ImageFuzzSupport.h"
#include "SixelDcsHandler.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace veldatron;
using namespace veldatron::testing;

std::string number(uint8_t b) {
    static constexpr std::array<std::string_view, 12> numbers = {
        "0",   "1",   "2",   "3",    "5",     "9",
        "100", "255", "360", "9999", "10001", "99999999999999999999999"};
    return b < 240 ? std::string(numbers[b % numbers.size()]) : std::to_string(b * 1000);
}

std::string picture(std::string_view input) {
    std::string out;
    for (size_t i = 0; i < input.size() && out.size() < (1u << 15); ++i) {
        const uint8_t b = uint8_t(input[i]);
        const uint8_t next = i + 1 < input.size() ? uint8_t(input[i + 1]) : 0;
        switch (b % 10) {
        case 0:
            out += "#" + number(next) + ";" + std::to_string(1 + next % 3) + ";" + number(b) + ";" +
                   number(next >> 1) + ";" + number(uint8_t(b + next));
            ++i;
            break;
        case 1:
            out += "#" + number(next);
            ++i;
            break;
        case 2:
            out += "!" + number(next);
            ++i;
            break;
        case 3:
            out += "$";
            break;
        case 4:
            out += "-";
            break;
        case 5:
            out += "\"1;1;" + number(next) + ";" + number(b);
            ++i;
            break;
        default:
            out += char('?' + b % 64);
        }
    }
    return out;
}

void checkPictures(const RecordingDelegate& host, Terminal& terminal) {
    for (const RgbaImage& image : host.bitmaps) {
        check(image.width >= 0 && image.height >= 0 && image.width <= SixelDcsHandler::maxSide &&
                  image.height <= SixelDcsHandler::maxSide,
              "a picture within 10000 x 10000");
        check(image.bytes.size() == size_t(image.width) * size_t(image.height) * 4,
              "a picture has its stated size");
    }
    checkCursorOnScreen(terminal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t selector = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string body = selector & 1 ? std::string(rest) : picture(rest);
    const std::string stream =
        "\x1bPq" + body + "\x1b\\" + (selector & 2 ? "\x1bP1;0;0q#1@\x1b\\" : "");
    const TerminalSpec spec{.cols = 4 + selector % 7,
                            .rows = 2 + selector % 3,
                            .scrollback = selector % 4 == 0 ? 0 : 6};
    const auto configure = [&](TerminalFixture& t) {
        if (selector & 4) {
            t.host.cellSize = CellSize{1 + selector % 9, 1 + selector % 13};
            t.host.insertImages = true;
        }
    };

    TerminalFixture whole(spec);
    configure(whole);
    whole.feed(stream);
    checkPictures(whole.host, whole.terminal);

    TerminalFixture split(spec);
    configure(split);
    feedInPieces(split, stream, selector, 17, [] {});
    checkPictures(split.host, split.terminal);
    check(whole.host.bitmaps == split.host.bitmaps, "pictures depend on how the input was split");
    return 0;
}
