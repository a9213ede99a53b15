// The sixel decoder in a real Terminal: each command, colour registers, repeats, the pictures it
// hands to the host, and data meant to exhaust it.

#include "KittyGraphicsTestSupport.h"
#include "SixelDcsHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace veldatron;
using namespace veldatron::testing;

namespace {

std::string sixel(const std::string& data) {
    return "\x1bPq" + data + "\x1b\\";
}

// The picture a sixel string decodes to.
RgbaImage decode(const std::string& data, TerminalFixture& t) {
    t.host.bitmaps.clear();
    t.feed(sixel(data));
    return t.host.bitmaps.size() == 1 ? t.host.bitmaps[0] : RgbaImage{-1, -1, {}};
}

// "rrggbbaa" of each pixel row by row, rows joined by "|".
std::string pixels(const RgbaImage& image) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (int y = 0; y < image.height; ++y) {
        out += y > 0 ? "|" : "";
        for (int x = 0; x < image.width; ++x) {
            out += x > 0 ? " " : "";
            for (int k = 0; k < 4; ++k) {
                const uint8_t b = image.bytes[size_t((y * image.width + x) * 4 + k)];
                out += hex[b >> 4];
                out += hex[b & 15];
            }
        }
    }
    return out;
}

TEST(Sixel, EachCommandPaintsWhatItSays) {
    struct Case {
        const char* name;
        std::string data;
        int width;
        int height;
        std::string pixels; // empty: not compared
    };
    const std::string red = "ff0000ff";
    const std::string blue = "0000ffff";
    const std::string none = "00000000";
    const Case cases[] = {
        {"two full sixels", "#0;2;100;0;0~~", 2, 6,
         red + " " + red + "|" + red + " " + red + "|" + red + " " + red + "|" + red + " " + red +
             "|" + red + " " + red + "|" + red + " " + red},
        {"a repeat", "#0;2;100;0;0!3@", 3, 1, red + " " + red + " " + red},
        {"a repeat of 0 paints nothing and moves nothing", "#0;2;100;0;0!0@@", 1, 1, red},
        {"the height is the deepest painted pixel", "#0;2;100;0;0A-A", 1, 8,
         none + "|" + red + "|" + none + "|" + none + "|" + none + "|" + none + "|" + none + "|" +
             red},
        {"$ paints over the same band", "#0;2;0;0;100B$#1;2;100;0;0@", 1, 2, red + "|" + blue},
        {"- starts the next band", "#0;2;100;0;0@-@", 1, 7, ""},
        {"raster attributes before the first # are ignored", "\"1;1;40;40#0;2;100;0;0@", 1, 1, red},
        {"no # at all: an empty picture", "\"1;1;4;4~~", 0, 0, ""},
        {"a register without a definition is the default palette's", "#1@", 1, 1, ""},
        {"a register beyond the palette is transparent", "#300@", 1, 1, none},
        {"HLS hue 0 is blue", "#0;1;0;50;100@", 1, 1, blue},
        {"HLS hue 120 is red", "#0;1;120;50;100@", 1, 1, red},
        {"HLS hue 240 is green", "#0;1;240;50;100@", 1, 1, "00ff00ff"},
        {"HLS without saturation is grey", "#0;1;77;50;0@", 1, 1, "7f7f7fff"},
        {"percentages are clamped", "#0;2;200;0;0@", 1, 1, red},
        {"another colour space defines nothing", "#0;3;1;2;3@", 1, 1, ""},
        {"digits that reach the end end the picture", "#0;2;100;0;0@#5", 1, 1, red},
        {"a # without a number ends the pass", "#0;2;100;0;0@#;@@@", 1, 1, red},
        {"line breaks and blanks are ignored", "#0;2;100;0;0\r\n@ @", 2, 1, red + " " + red},
        {"a repeat whose digits reach the end is not set", "#0;2;100;0;0@!12", 1, 1, red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        const RgbaImage picture = decode(c.data, t);
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        EXPECT_EQ(picture.bytes.size(), size_t(c.width * c.height * 4));
        if (!c.pixels.empty()) {
            EXPECT_EQ(pixels(picture), c.pixels);
        }
    }
    TerminalFixture t;
    const Color one = t.terminal.defaultAnsiColors()[1];
    EXPECT_EQ(decode("#1@", t).bytes,
              (std::vector<uint8_t>{uint8_t(one.red >> 8), uint8_t(one.green >> 8),
                                    uint8_t(one.blue >> 8), 255}));
    const Color nine = t.terminal.defaultAnsiColors()[9];
    decode("#9;2;0;100;0@", t);
    EXPECT_EQ(decode("#9@", t).bytes,
              (std::vector<uint8_t>{uint8_t(nine.red >> 8), uint8_t(nine.green >> 8),
                                    uint8_t(nine.blue >> 8), 255}))
        << "a register defined by the picture before is not kept";
}

TEST(Sixel, HlsToRgb) {
    EXPECT_EQ(SixelDcsHandler::hls_to_rgb(0, 50, 100), 0x0000FFu);
    EXPECT_EQ(SixelDcsHandler::hls_to_rgb(60, 50, 100), 0xFF00FFu);
    EXPECT_EQ(SixelDcsHandler::hls_to_rgb(180, 50, 100), 0xFFFF00u);
    EXPECT_EQ(SixelDcsHandler::hls_to_rgb(300, 50, 100), 0x00FFFFu);
    EXPECT_EQ(SixelDcsHandler::hls_to_rgb(0, 100, 100), 0xFFFFFFu);
    EXPECT_EQ(SixelDcsHandler::hls_to_rgb(360, 25, 50), SixelDcsHandler::hls_to_rgb(0, 25, 50));
}

TEST(Sixel, APictureTallerThanTheScreenScrollsIt) {
    TerminalFixture t({.cols = 20, .rows = 3, .scrollback = 10});
    t.host.cellSize = CellSize{10, 20};
    t.host.insertImages = true;
    t.feed("top\r\n");
    // 10 x 96 pixels: 5 rows of 20 pixels.
    std::string data = "#0;2;100;0;0";
    for (int band = 0; band < 16; ++band) {
        data += "!10~-";
    }
    t.feed(sixel(data));
    std::vector<int> rows;
    t.terminal.buffer().forEachImage(
        [&](int index, const std::shared_ptr<TerminalImage>&) { rows.push_back(index); });
    EXPECT_EQ(rows, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(t.terminal.buffer().yBase(), 4);
    EXPECT_EQ(t.cursor(), "0,2") << "below the picture, in its column";
    EXPECT_EQ(t.scrollback(), (Rows{"top", "", "", ""}));
}

TEST(Sixel, HostileNumbersCostBoundedTimeAndMemory) {
    struct Case {
        const char* name;
        std::string data;
        int width;
        int height;
    };
    std::string bands = "#0;2;1;2;3@";
    for (int i = 0; i < 3000; ++i) {
        bands += "-";
    }
    bands += "@";
    std::string overpaint = "#0;2;1;2;3!9999~";
    for (int i = 0; i < 20000; ++i) {
        overpaint += "$!9999~";
    }
    const Case cases[] = {
        {"a huge repeat", "#0;2;1;2;3!99999999999999999999999~", 10000, 6},
        {"a huge colour number", "#99999999999999999999;2;1;2;3@#99999999999999999999@", 2, 1},
        {"huge colour values", "#1;2;99999999999;99999999999;99999999999@", 1, 1},
        {"rows beyond 10000", bands, 1, 10000},
        {"painting over and over", overpaint, 9999, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture t;
        const auto start = std::chrono::steady_clock::now();
        const RgbaImage picture = decode(c.data, t);
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

TEST(Sixel, AHundredMegabytesOfDataAreDroppedAtTheStringLimit) {
    TerminalFixture t;
    t.feed("\x1bPq#0;2;100;0;0");
    const std::string chunk(1 << 20, '~');
    for (int i = 0; i < 100; ++i) {
        t.feed(chunk);
    }
    t.feed("\x1b\\ok");
    EXPECT_TRUE(t.host.bitmaps.empty()) << "a string over the limit is discarded";
    EXPECT_EQ(t.screen()[0], "ok");
    t.feed(sixel("#0;2;100;0;0@"));
    ASSERT_EQ(t.host.bitmaps.size(), 1u) << "the next picture decodes";
    EXPECT_EQ(t.host.bitmaps[0].width, 1);
}

} // namespace
