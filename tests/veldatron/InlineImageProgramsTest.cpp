// Inline images sent by real programs that no one here wrote, run on a pseudo-terminal in a
// terminal without a view: what they send must arrive as the pictures they meant.

#include "ChildProcessWaits.h"
#include "HeadlessTerminal.h"
#include "ImageInsertion.h"
#include "KittyGraphicsTestSupport.h"
#include "LoopExecutor.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace veldatron {
namespace {

using testing::optionsFor;
using testing::patience;
using Clock = std::chrono::steady_clock;

bool installed(const char* program) {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        if (::access((std::string(dir) + program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

// Four flat blocks of distinct colours, 16 x 12 pixels: any palette holds them exactly (or
// nearly), so a decoded picture can be compared pixel by pixel.
RgbaImage blocks() {
    static const uint8_t colours[4][3] = {
        {230, 20, 20}, {20, 200, 40}, {30, 40, 220}, {240, 240, 240}};
    RgbaImage image{16, 12, {}};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* c = colours[(y >= 6 ? 2 : 0) + (x >= 8 ? 1 : 0)];
            image.bytes.insert(image.bytes.end(), {c[0], c[1], c[2], 255});
        }
    }
    return image;
}

// Whether `decoded` shows `source` scaled to its size: each pixel within `tolerance` per channel
// of the source pixel at the same relative place (pixels on a block edge are not compared).
::testing::AssertionResult showsBlocks(const RgbaImage& decoded, const RgbaImage& source,
                                       int tolerance) {
    if (decoded.width < 1 || decoded.height < 1) {
        return ::testing::AssertionFailure() << "an empty picture";
    }
    for (int y = 0; y < decoded.height; ++y) {
        for (int x = 0; x < decoded.width; ++x) {
            const int sx = x * source.width / decoded.width;
            const int sy = y * source.height / decoded.height;
            if (sx == source.width / 2 - 1 || sx == source.width / 2 ||
                sy == source.height / 2 - 1 || sy == source.height / 2) {
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                const int got = decoded.bytes[size_t((y * decoded.width + x) * 4 + k)];
                const int want = source.bytes[size_t((sy * source.width + sx) * 4 + k)];
                if (std::abs(got - want) > tolerance) {
                    return ::testing::AssertionFailure()
                           << "pixel " << x << "," << y << " channel " << k << ": " << got
                           << " instead of " << want;
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// A 16 x 8 picture of smooth colour ramps, written as a PNG.
RgbaImage ramp() {
    RgbaImage image{16, 8, {}};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            image.bytes.insert(image.bytes.end(),
                               {uint8_t(x * 16), uint8_t(y * 32), uint8_t(128), uint8_t(255)});
        }
    }
    return image;
}

class InlineImagePrograms : public ::testing::Test {
protected:
    // Runs the program to its end; false when it did not end in time.
    bool run(const std::string& program, const std::vector<std::string>& args) {
        headless = std::make_unique<InsertingHost>(
            loop, optionsFor({.cols = 80, .rows = 24}),
            [this](std::optional<std::int32_t> code) { status = code; });
        headless->process().startProcess(program, args);
        return loop.runUntil([&] { return status.has_value(); }, Clock::now() + patience);
    }
    std::string picture(const RgbaImage& image = ramp()) {
        const auto png = encodePng(image);
        return png ? folder.write("picture.png", *png) : std::string();
    }
    // A terminal without a view whose host inserts images in cells of 10 x 20 pixels.
    class InsertingHost : public HeadlessTerminal {
    public:
        using HeadlessTerminal::HeadlessTerminal;
        std::optional<CellSize> cellSizeInPixels(Terminal&) override { return CellSize{10, 20}; }
        void createImageFromBitmap(Terminal& source, std::vector<std::uint8_t>& bytes, int width,
                                   int height) override {
            auto shown = std::make_shared<const RgbaImage>(RgbaImage{width, height, bytes});
            HeadlessTerminal::createImageFromBitmap(source, bytes, width, height);
            insertRgbaImage(source, shown, bitmapSizeRequests(source, source.cols() * 10.0, width),
                            {10, 20});
        }
    };

    testing::TempFolder folder;
    LoopExecutor loop;
    std::optional<std::int32_t> status;
    std::unique_ptr<HeadlessTerminal> headless;
};

TEST_F(InlineImagePrograms, ChafaKittyImagesArriveAtTheSizeItSent) {
    if (!installed("chafa")) {
        GTEST_SKIP() << "chafa is not installed (scripts/setup installs it)";
    }
    ASSERT_TRUE(run("/usr/bin/chafa", {"-f", "kitty", "--size", "8x4", picture()}));
    EXPECT_EQ(status, 0);
    // chafa scales the picture to 8 x 2 cells of 8 x 8 pixels and sends it as one 64 x 16 RGBA
    // image, in chunks, to be shown without an id.
    ASSERT_EQ(headless->images().size(), 1u);
    const HeadlessTerminal::Image& image = headless->images()[0];
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 16);
    ASSERT_EQ(image.bytes.size(), size_t(64 * 16 * 4));
    // The left edge is the ramp's first column (red 0), the right edge near its last (red 240).
    EXPECT_LE(image.bytes[0], 8);
    EXPECT_GE(image.bytes[(63) * 4], 200);
    EXPECT_EQ(image.bytes[3], 255);
    EXPECT_TRUE(headless->terminal().kittyGraphicsState().imagesById.empty()) << "no id: shown";
    // Placed as it asked: 8 columns by 2 rows from the top left cell, a slice per row.
    std::vector<std::string> placed;
    headless->terminal().buffer().forEachImage(
        [&](int row, const std::shared_ptr<TerminalImage>& slice) {
            const auto& kitty = static_cast<const KittyPlacementImage&>(*slice);
            placed.push_back(std::to_string(row) + ":" + std::to_string(kitty.kittyCol) + " " +
                             std::to_string(kitty.kittyCols) + "x" +
                             std::to_string(kitty.kittyRows) + (kitty.kittyIsKitty ? "" : "?"));
        });
    EXPECT_EQ(placed, (std::vector<std::string>{"0:0 8x2", "1:0 8x2"}));
}

TEST_F(InlineImagePrograms, SixelPicturesOfImg2sixelAndChafaDecodeToTheSource) {
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int tolerance;
    };
    const RgbaImage source = blocks();
    const std::string file = picture(source);
    const Case cases[] = {
        {"img2sixel", {"-d", "none", file}, 8},
        {"chafa", {"-f", "sixel", "--dither", "none", "--size", "4x2", file}, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        if (!installed(c.program)) {
            GTEST_SKIP() << c.program << " is not installed (scripts/setup installs it)";
        }
        status.reset();
        ASSERT_TRUE(run(std::string("/usr/bin/") + c.program, c.args));
        EXPECT_EQ(status, 0);
        ASSERT_EQ(headless->images().size(), 1u);
        const HeadlessTerminal::Image& image = headless->images()[0];
        const RgbaImage decoded{image.width, image.height, image.bytes};
        EXPECT_TRUE(showsBlocks(decoded, source, c.tolerance));
        int rows = 0;
        headless->terminal().buffer().forEachImage(
            [&](int, const std::shared_ptr<TerminalImage>&) { ++rows; });
        EXPECT_EQ(rows, (image.height + 19) / 20) << "a slice per row of 20 pixels";
    }
}

} // namespace
} // namespace veldatron
