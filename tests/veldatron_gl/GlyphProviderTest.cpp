#include "FakeGpuDevice.h"
#include "GlyphFakes.h"
#include "GlyphProvider.h"

#include <gtest/gtest.h>

namespace veldatron {
namespace {

class GlyphProviderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        provider = GlyphProvider::create(device, shaper, rasterizer, log, 256);
        ASSERT_TRUE(provider);
        provider->onRowCacheInvalidated = [this] { ++rowCacheInvalidations; };
    }

    QRawFont font = QRawFont::fromFont(QFont(QStringLiteral("DejaVu Sans Mono")));
    FakeGpuDevice device;
    FakeShaper shaper;
    FakeRasterizer rasterizer;
    RecordingLogSink log;
    std::unique_ptr<GlyphProvider> provider;
    int rowCacheInvalidations = 0;
};

TEST_F(GlyphProviderTest, GlyphsGoToTheAtlasOfTheirKindOnceAndStayCached)
{
    rasterizer.colorGlyphs = {0x1F600};
    auto letter = provider->glyphEntry(font, 'A');
    ASSERT_TRUE(letter);
    EXPECT_EQ(letter->atlasKind, GlyphAtlasKind::grayscale);
    EXPECT_EQ(letter->region, (AtlasRegion{1, 1, 6, 12}));
    EXPECT_EQ(letter->bearing, QPointF(1, -2));
    EXPECT_EQ(provider->grayscaleAtlas().data()[std::size_t(256 + 1)], 255);

    auto emoji = provider->glyphEntry(font, 0x1F600);
    ASSERT_TRUE(emoji);
    EXPECT_TRUE(emoji->isColor);
    EXPECT_EQ(emoji->atlasKind, GlyphAtlasKind::color);
    EXPECT_EQ(emoji->region, (AtlasRegion{1, 1, 6, 12}));

    EXPECT_EQ(provider->glyphEntry(font, 'A')->region, letter->region);
    EXPECT_EQ(rasterizer.calls, 2);
    EXPECT_EQ(rowCacheInvalidations, 0);
    EXPECT_FALSE(provider->atlasInvalidatedDuringBuild());
}

TEST_F(GlyphProviderTest, EmptyGlyphsAreNeverCachedAndRasterisedOnEveryLookup)
{
    EXPECT_FALSE(provider->glyphEntry(font, 32));
    EXPECT_FALSE(provider->glyphEntry(font, 32));
    EXPECT_EQ(rasterizer.calls, 2);
    EXPECT_EQ(provider->glyphCacheSize(), 0u);
}

TEST_F(GlyphProviderTest, AWipeOfEitherAtlasDropsEveryEntryAndTheRows)
{
    ::setenv("VELDATRON_ATLAS_MAX", "256", 1);
    provider = GlyphProvider::create(device, shaper, rasterizer, log, 256);
    ::unsetenv("VELDATRON_ATLAS_MAX");
    ASSERT_EQ(provider->colorAtlas().maxSize(), 256);
    provider->onRowCacheInvalidated = [this] { ++rowCacheInvalidations; };
    rasterizer.colorGlyphs = {0x1F600, 0x1F601};
    provider->glyphEntry(font, 'A');
    provider->customGlyphEntry(0x2588, 8, 16, 1, 1, false);
    rasterizer.width = rasterizer.height = 200;
    provider->glyphEntry(font, 0x1F600);
    ASSERT_EQ(provider->glyphCacheSize(), 2u);
    EXPECT_FALSE(provider->atlasInvalidatedDuringBuild());

    // No room and no growth left in the colour atlas: it is wiped.
    auto placed = provider->glyphEntry(font, 0x1F601);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->region, (AtlasRegion{1, 1, 200, 200}));
    EXPECT_TRUE(provider->colorAtlas().didReset());
    EXPECT_TRUE(provider->atlasInvalidatedDuringBuild());
    EXPECT_EQ(rowCacheInvalidations, 1);
    // Only the glyph placed by the wiping request is left.
    EXPECT_EQ(provider->glyphCacheSize(), 1u);
    EXPECT_EQ(provider->customGlyphCacheSize(), 0u);

    // The grey glyph is placed again, in the grayscale atlas.
    rasterizer.width = rasterizer.height = 6;
    const int calls = rasterizer.calls;
    auto again = provider->glyphEntry(font, 'A');
    ASSERT_TRUE(again);
    EXPECT_EQ(again->atlasKind, GlyphAtlasKind::grayscale);
    EXPECT_EQ(rasterizer.calls, calls + 1);
}

TEST_F(GlyphProviderTest, GrowthKeepsTheEntriesButInvalidatesTheRows)
{
    provider->glyphEntry(font, 'A');
    rasterizer.width = rasterizer.height = 300;
    auto big = provider->glyphEntry(font, 'B');
    ASSERT_TRUE(big);
    EXPECT_EQ(provider->grayscaleAtlas().size(), 512);
    EXPECT_EQ(rowCacheInvalidations, 1);
    EXPECT_TRUE(provider->atlasInvalidatedDuringBuild());
    const int calls = rasterizer.calls;
    EXPECT_TRUE(provider->glyphEntry(font, 'A'));
    EXPECT_EQ(rasterizer.calls, calls);
}

TEST_F(GlyphProviderTest, NoRoomWhileFrozenIsNotCachedAndTriedAgain)
{
    provider->grayscaleAtlas().setFrozen(true);
    rasterizer.width = rasterizer.height = 300;
    EXPECT_FALSE(provider->glyphEntry(font, 'A'));
    provider->grayscaleAtlas().setFrozen(false);
    EXPECT_TRUE(provider->glyphEntry(font, 'A'));
    EXPECT_EQ(rasterizer.calls, 2);
}

TEST_F(GlyphProviderTest, CustomGlyphsAreKeyedByRoundedScaleAndPaintedOnce)
{
    auto first = provider->customGlyphEntry(0x2500, 8, 17, 1.4, 1, true);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size, QSizeF(8, 17));
    EXPECT_EQ(provider->customGlyphEntry(0x2500, 8, 17, 1.2, 1, true)->region, first->region);
    EXPECT_NE(provider->customGlyphEntry(0x2500, 8, 17, 1.5, 1, true)->region, first->region);
    EXPECT_NE(provider->customGlyphEntry(0x2500, 8, 17, 1.4, 1, false)->region, first->region);
    EXPECT_EQ(provider->customGlyphCacheSize(), 3u);
    EXPECT_FALSE(provider->customGlyphEntry(0x2600, 8, 17, 1, 1, false));
    EXPECT_FALSE(provider->customGlyphEntry(0x2500, 0, 17, 1, 1, false));

    const struct {
        double scale;
        int key;
    } scales[] = {{1.4, 1}, {1.5, 2}, {2.5, 3}, {0.4, 1}, {0, 1}, {-3, 1}, {3, 3}};
    for (const auto& c : scales)
        EXPECT_EQ(GlyphProvider::customGlyphKeyScale(c.scale), c.key) << c.scale;
}

TEST(ShaperCache, EvictsTheOldestTextFirstWhateverWasLookedUp)
{
    FakeShaper shaper;
    ShaperCache cache(shaper);
    const QFont font(QStringLiteral("DejaVu Sans Mono"));
    EXPECT_FALSE(cache.shape(QString(), font));
    for (int i = 0; i < 2048; ++i)
        cache.shape(QString::number(i), font);
    EXPECT_TRUE(cache.shape(QStringLiteral("0"), font));
    cache.shape(QStringLiteral("2048"), font);
    EXPECT_FALSE(cache.contains(QStringLiteral("0"), font));
    EXPECT_TRUE(cache.contains(QStringLiteral("1"), font));
    EXPECT_EQ(cache.size(), 2048u);
}

TEST(ShaperCache, RunsWithoutGlyphsAreCachedFailuresAreNot)
{
    FakeShaper shaper;
    ShaperCache cache(shaper);
    const QFont font(QStringLiteral("DejaVu Sans Mono"));
    shaper.overrides[QStringLiteral("empty")] = ShaperRun{};
    shaper.overrides[QStringLiteral("fails")] = std::nullopt;
    auto empty = cache.shape(QStringLiteral("empty"), font);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->glyphCount, 0);
    EXPECT_FALSE(cache.shape(QStringLiteral("fails"), font));
    cache.shape(QStringLiteral("empty"), font);
    cache.shape(QStringLiteral("fails"), font);
    EXPECT_EQ(shaper.calls, 3);
}

TEST_F(GlyphProviderTest, SegmentsAreShapedPerRangeWithTheRangeFont)
{
    const FontSet fonts = FontSet::from(QFont(QStringLiteral("DejaVu Sans Mono")));
    auto plain = std::make_shared<const RunAttributes>();
    RunAttributes boldAttributes;
    boldAttributes.font = FontStyle::bold;
    auto bold = std::make_shared<const RunAttributes>(boldAttributes);
    std::vector<ViewLineSegment> segments(3);
    segments[0].attributedString.append(QStringLiteral("ab"), plain);
    segments[0].attributedString.append(QStringLiteral("cd"), bold);
    // segments[1] is empty.
    segments[2].attributedString.append(QStringLiteral("xx"), plain);
    shaper.overrides[QStringLiteral("xx")] = std::nullopt;

    auto shaped = provider->buildShapedSegments(segments, fonts);
    ASSERT_EQ(shaped.size(), 1u);
    EXPECT_EQ(shaped[0].segment, &segments[0]);
    ASSERT_EQ(shaped[0].runs.size(), 2u);
    EXPECT_EQ(shaped[0].runs[1].utf16Offset, 2);
    EXPECT_EQ(shaped[0].runs[1].shaperRun->glyphRuns[0].glyphs,
              (std::vector<quint32>{'c', 'd'}));
    EXPECT_TRUE(provider->shaperCache().contains(QStringLiteral("cd"), fonts.bold));
    EXPECT_TRUE(provider->shaperCache().contains(QStringLiteral("ab"), fonts.normal));
}

TEST(CustomGlyphPainting, CoverageOfEachPainter)
{
    auto alphaAt = [](const GlyphBitmap& bitmap, int x, int y) {
        return int(bitmap.pixels[std::size_t((y * bitmap.width + x) * 4 + 3)]);
    };
    // Full block: every pixel covered.
    auto full = paintCustomGlyph(0x2588, 8, 16, 1, 1, false);
    ASSERT_TRUE(full);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(alphaAt(*full, x, y), 255);
    // Light shade: a quarter of full coverage.
    auto light = paintCustomGlyph(0x2591, 8, 16, 1, 1, false);
    ASSERT_TRUE(light);
    EXPECT_NEAR(alphaAt(*light, 3, 8), 64, 1);
    // Lower half block at scale 2: the bottom half of the device pixels.
    auto lower = paintCustomGlyph(0x2584, 16, 34, 2, 2, false);
    ASSERT_TRUE(lower);
    EXPECT_EQ(alphaAt(*lower, 5, 16), 0);
    EXPECT_EQ(alphaAt(*lower, 5, 17), 255);
    // Straight box drawing is never antialiased, even when asked.
    auto arc = paintCustomGlyph(0x253C, 16, 34, 2, 2, true);
    ASSERT_TRUE(arc);
    for (std::size_t i = 3; i < arc->pixels.size(); i += 4)
        ASSERT_TRUE(arc->pixels[i] == 0 || arc->pixels[i] == 255) << i;
    // A powerline triangle is antialiased along its slanted edges and fills its flat side.
    auto triangle = paintCustomGlyph(0xE0B0, 16, 34, 2, 2, false);
    ASSERT_TRUE(triangle);
    EXPECT_EQ(alphaAt(*triangle, 0, 17), 255);
    bool partial = false;
    for (std::size_t i = 3; i < triangle->pixels.size(); i += 4)
        partial = partial || (triangle->pixels[i] > 0 && triangle->pixels[i] < 255);
    EXPECT_TRUE(partial);

    EXPECT_FALSE(paintCustomGlyph(0xE0B1, 8, 16, 1, 1, false));
    EXPECT_FALSE(paintCustomGlyph(0x2600, 8, 16, 1, 1, false));
    EXPECT_FALSE(paintCustomGlyph(0x2588, 8, 0, 1, 1, false));
}

} // namespace
} // namespace veldatron
