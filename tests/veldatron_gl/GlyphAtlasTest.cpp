#include "FakeGpuDevice.h"
#include "GlyphAtlas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>

namespace veldatron {
namespace {

// A bitmap in the rasteriser's layout (blue, green, red, alpha; top row first) whose pixel (x, y)
// has every channel equal to seed + y * width + x, so rows and columns can be told apart.
std::vector<uint8_t> numberedBitmap(int width, int height, uint8_t seed)
{
    std::vector<uint8_t> pixels(std::size_t(width * height * 4));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                pixels[std::size_t((y * width + x) * 4 + c)] = uint8_t(seed + y * width + x);
    return pixels;
}

class GlyphAtlasTest : public ::testing::Test {
protected:
    std::unique_ptr<GlyphAtlas> make(int size, int maxSize,
                                     GlyphAtlasFormat format = GlyphAtlasFormat::grayscale)
    {
        auto atlas = GlyphAtlas::create(device, size, maxSize, format, log);
        EXPECT_TRUE(atlas);
        return atlas;
    }

    // The texture always holds exactly what the atlas's own copy says.
    void expectTextureMatchesData(const GlyphAtlas& atlas)
    {
        ASSERT_EQ(atlas.texture()->width(), atlas.size());
        EXPECT_TRUE(FakeGpuDevice::bytes(*atlas.texture()) == atlas.data())
            << "texture and CPU copy differ";
    }

    AtlasRegion insert(GlyphAtlas& atlas, int width, int height, uint8_t seed = 1)
    {
        auto region = atlas.ensureRegion(width, height);
        EXPECT_TRUE(region);
        if (!region)
            return {};
        auto bitmap = numberedBitmap(width, height, seed);
        atlas.write(*region, bitmap.data(), width, height);
        expectTextureMatchesData(atlas);
        return *region;
    }

    FakeGpuDevice device;
    RecordingLogSink log;
};

TEST_F(GlyphAtlasTest, ShelvesPackLeftToRightWithAGutterAroundEachRegion)
{
    auto atlas = make(1024, 8192);
    EXPECT_EQ(insert(*atlas, 10, 20), (AtlasRegion{1, 1, 10, 20}));
    EXPECT_EQ(insert(*atlas, 5, 7), (AtlasRegion{13, 1, 5, 7}));
    // Does not fit the rest of the shelf: a new shelf under the tallest block so far (20 + 2).
    EXPECT_EQ(insert(*atlas, 1010, 4), (AtlasRegion{1, 23, 1010, 4}));
    EXPECT_EQ(insert(*atlas, 3, 3), (AtlasRegion{1013, 23, 3, 3}));
}

TEST_F(GlyphAtlasTest, EmptyOrOversizedRequestsChangeNothing)
{
    auto atlas = make(1024, 8192);
    for (auto [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 3}, {8191, 10}, {10, 8191}, {INT32_MAX, 1}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        EXPECT_FALSE(atlas->ensureRegion(w, h));
        EXPECT_FALSE(atlas->didReset());
        EXPECT_EQ(atlas->size(), 1024);
    }
    EXPECT_TRUE(log.entries.empty());
    auto fits = atlas->ensureRegion(8190, 10);
    ASSERT_TRUE(fits);
    EXPECT_EQ(*fits, (AtlasRegion{1, 1, 8190, 10}));
    EXPECT_EQ(atlas->size(), 8192);
}

TEST_F(GlyphAtlasTest, WriteStoresTheBitmapBottomRowFirstAndRepeatsEdgesInTheGutter)
{
    auto atlas = make(256, 256, GlyphAtlasFormat::bgra);
    const AtlasRegion region = insert(*atlas, 3, 2, 10);
    ASSERT_EQ(region, (AtlasRegion{1, 1, 3, 2}));
    const auto& data = atlas->data();
    auto pixel = [&](int x, int y) { return data[std::size_t((y * 256 + x) * 4)]; };
    // Region row 0 is the bitmap's bottom row (values 13, 14, 15), row 1 its top (10, 11, 12).
    EXPECT_EQ(pixel(1, 1), 13);
    EXPECT_EQ(pixel(3, 1), 15);
    EXPECT_EQ(pixel(1, 2), 10);
    // The gutter: row 0 repeats row 1, row 3 repeats row 2, columns 0 and 4 repeat their
    // neighbours, corners included.
    for (int x = 0; x <= 4; ++x) {
        EXPECT_EQ(pixel(x, 0), pixel(x, 1)) << x;
        EXPECT_EQ(pixel(x, 3), pixel(x, 2)) << x;
    }
    EXPECT_EQ(pixel(0, 0), 13);
    EXPECT_EQ(pixel(4, 3), 12);
    EXPECT_EQ(pixel(5, 1), 0);

    // Only region and gutter were uploaded.
    const auto& upload = device.calls().back();
    EXPECT_EQ(upload.kind, FakeGpuDevice::CallKind::replaceRegion);
    EXPECT_EQ((std::array{upload.a, upload.b, upload.c, upload.d}),
              (std::array<std::size_t, 4>{0, 0, 5, 4}));
}

TEST_F(GlyphAtlasTest, GrayscaleKeepsOnlyTheCoverage)
{
    auto atlas = make(256, 256);
    auto region = *atlas->ensureRegion(2, 2);
    std::vector<uint8_t> pixels(16);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 0x10;
        pixels[i + 1] = 0x20;
        pixels[i + 2] = 0x30;
        pixels[i + 3] = 0x80;
    }
    atlas->write(region, pixels.data(), 2, 2);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(atlas->data()[std::size_t(y * 256 + x)], 0x80) << x << "," << y;
    expectTextureMatchesData(*atlas);

    // A size that does not match the region writes nothing.
    auto other = *atlas->ensureRegion(2, 2);
    const auto before = atlas->data();
    atlas->write(other, pixels.data(), 1, 2);
    EXPECT_EQ(atlas->data(), before);
}

TEST_F(GlyphAtlasTest, GrowthKeepsOldPixelsAtTheirCoordinatesAndPlacesTheRequestOnANewShelf)
{
    auto atlas = make(1024, 4096);
    const AtlasRegion first = insert(*atlas, 100, 1000, 3);
    insert(*atlas, 100, 1000, 7);
    const auto oldRow = std::vector<uint8_t>(atlas->data().begin() + 1024,
                                             atlas->data().begin() + 2048);

    // The shelf uses 1002 rows; the next one does not fit the rest of the shelf nor the side.
    const AtlasRegion grown = insert(*atlas, 1000, 30, 9);
    EXPECT_EQ(atlas->size(), 2048);
    EXPECT_EQ(grown, (AtlasRegion{1, 1003, 1000, 30}));
    EXPECT_EQ(std::vector<uint8_t>(atlas->data().begin() + 2048, atlas->data().begin() + 3072),
              oldRow);
    EXPECT_EQ(atlas->data()[std::size_t(first.y * 2048 + first.x)], uint8_t(3 + 999 * 100));
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].message, "glyph atlas (grayscale) grow: 1024 -> 2048");
    EXPECT_EQ(log.entries[0].level, ILogSink::Level::info);
}

TEST_F(GlyphAtlasTest, GrowthJumpsToTheSideThatHoldsTheShelfCappedAtTheMaximum)
{
    auto atlas = make(1024, 3000);
    insert(*atlas, 1020, 1020);
    EXPECT_EQ(atlas->size(), 1024);
    // A new shelf at y = 1022 needs 1022 + 1002 rows.
    EXPECT_EQ(insert(*atlas, 20, 1000), (AtlasRegion{1, 1023, 20, 1000}));
    EXPECT_EQ(atlas->size(), 2048);
    // A new shelf at y = 2024 needs 2024 + 902 rows: 4096 would hold it but is capped.
    EXPECT_EQ(insert(*atlas, 2030, 900), (AtlasRegion{1, 2025, 2030, 900}));
    EXPECT_EQ(atlas->size(), 3000);
    EXPECT_FALSE(atlas->didReset());
}

TEST_F(GlyphAtlasTest, FullAtTheMaximumWipesOnceLoggedAndStartsAgainTopLeft)
{
    auto atlas = make(256, 256);
    insert(*atlas, 200, 200);
    auto region = atlas->ensureRegion(100, 100);
    ASSERT_TRUE(region);
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(*region, (AtlasRegion{1, 1, 100, 100}));
    EXPECT_TRUE(std::all_of(atlas->data().begin(), atlas->data().end(),
                            [](uint8_t b) { return b == 0; }));
    expectTextureMatchesData(*atlas);

    atlas->ensureRegion(200, 200);
    EXPECT_TRUE(atlas->didReset());
    EXPECT_FALSE(atlas->ensureRegion(1, 1).has_value() && atlas->didReset());
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].message,
              "glyph atlas (grayscale) reset at size 256: glyph working set exceeds capacity");
    EXPECT_EQ(log.entries[0].level, ILogSink::Level::error);
}

TEST_F(GlyphAtlasTest, FrozenAndFullYieldsNothingLogsOnceAndNeitherGrowsNorWipes)
{
    auto atlas = make(256, 1024);
    insert(*atlas, 250, 250, 5);
    const auto before = atlas->data();
    atlas->setFrozen(true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(atlas->ensureRegion(20, 20));
        EXPECT_FALSE(atlas->didReset());
    }
    EXPECT_EQ(atlas->size(), 256);
    EXPECT_EQ(atlas->data(), before);
    ASSERT_EQ(log.count(ILogSink::Level::fault), 1);
    EXPECT_EQ(log.entries[0].message,
              "glyph atlas (grayscale) frozen and full; glyphs will be skipped this frame");

    atlas->setFrozen(false);
    EXPECT_TRUE(atlas->ensureRegion(20, 20));
    EXPECT_EQ(atlas->size(), 512);
}

TEST_F(GlyphAtlasTest, RefusedGrowthWipesInstead)
{
    auto atlas = make(256, 1024, GlyphAtlasFormat::bgra);
    insert(*atlas, 250, 250);
    device.refuseAllAllocations(true);
    auto region = atlas->ensureRegion(20, 20);
    ASSERT_TRUE(region);
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(atlas->size(), 256);
    ASSERT_EQ(log.entries.size(), 2u);
    EXPECT_EQ(log.entries[0].message, "glyph atlas (bgra) grow to 512 failed: texture allocation");
    EXPECT_EQ(log.entries[1].message,
              "glyph atlas (bgra) reset at size 256: glyph working set exceeds capacity");
    expectTextureMatchesData(*atlas);
}

TEST_F(GlyphAtlasTest, ConstructionClampsTheSideAndFailsWithoutATexture)
{
    auto small = make(1024, 100);
    EXPECT_EQ(small->size(), 256);
    EXPECT_EQ(small->maxSize(), 256);
    device.refuseAllAllocations(true);
    EXPECT_FALSE(GlyphAtlas::create(device, 1024, 8192, GlyphAtlasFormat::grayscale, log));
}

TEST(GlyphAtlasMaxSize, EnvironmentValueOrFormatDefault)
{
    FakeGpuDevice large;
    FakeGpuDevice lesser;
    lesser.setMaxTextureSize(8192);
    const struct {
        std::optional<std::string_view> value;
        int gray, bgra, grayOnLesser;
    } cases[] = {
        {std::nullopt, 8192, 4096, 8192}, {"", 8192, 4096, 8192},     {"abc", 8192, 4096, 8192},
        {" 4096", 8192, 4096, 8192},      {"3000", 3000, 3000, 3000}, {"100", 256, 256, 256},
        {"20000", 16384, 16384, 8192},    {"+512", 512, 512, 512},    {"-5", 256, 256, 256},
        {"99999999999999999999", 8192, 4096, 8192},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? std::string(*c.value) : "unset");
        EXPECT_EQ(GlyphAtlas::recommendedMaxSize(large, GlyphAtlasFormat::grayscale, c.value),
                  c.gray);
        EXPECT_EQ(GlyphAtlas::recommendedMaxSize(large, GlyphAtlasFormat::bgra, c.value), c.bgra);
        EXPECT_EQ(GlyphAtlas::recommendedMaxSize(lesser, GlyphAtlasFormat::grayscale, c.value),
                  c.grayOnLesser);
    }
}

TEST(GlyphAtlasMaxSize, SidesRunUpToAnOddMaximum)
{
    FakeGpuDevice device;
    RecordingLogSink log;
    const int max = GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::grayscale, "3000");
    auto atlas = GlyphAtlas::create(device, 1024, max, GlyphAtlasFormat::grayscale, log);
    std::vector<int> sides{atlas->size()};
    for (int i = 0; i < 40; ++i) {
        atlas->ensureRegion(400, 400);
        if (atlas->size() != sides.back())
            sides.push_back(atlas->size());
    }
    EXPECT_EQ(sides, (std::vector<int>{1024, 2048, 3000}));
}

} // namespace
} // namespace veldatron
