// Inline images sent by real programs that no one here wrote, run on a pseudo-terminal in a
// terminal without a view: what they send must arrive as the pictures they meant.

#include "ChildProcessWaits.h"
#include "HeadlessTerminal.h"
#include "KittyGraphicsTestSupport.h"
#include "LoopExecutor.h"

#include <gtest/gtest.h>

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
        headless = std::make_unique<HeadlessTerminal>(
            loop, optionsFor({.cols = 80, .rows = 24}),
            [this](std::optional<std::int32_t> code) { status = code; });
        headless->process().startProcess(program, args);
        return loop.runUntil([&] { return status.has_value(); }, Clock::now() + patience);
    }
    std::string picture() {
        const auto png = encodePng(ramp());
        return png ? folder.write("ramp.png", *png) : std::string();
    }

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
}

} // namespace
} // namespace veldatron
