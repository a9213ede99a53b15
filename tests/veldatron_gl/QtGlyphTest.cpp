#include "CellShaper.h"
#include "FakeGpuDevice.h"
#include "FontSet.h"
#include "GlyphProvider.h"
#include "QtGlyphRasterizer.h"
#include "QtShaper.h"

#include <QGlyphRun>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace veldatron {
namespace {

QFont testFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(15);
    return font;
}

// The glyph as the raster view draws it: the cell font's raw font, painted at logical
// coordinates on a surface of `scale` device pixels per logical pixel.
QImage rasterViewGlyph(const QRawFont& font, quint32 glyph, double scale, QPointF origin)
{
    QImage image(int(64 * scale), int(64 * scale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(Qt::white);
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes({glyph});
    run.setPositions({QPointF(0, 0)});
    painter.drawGlyphRun(origin, run);
    return image;
}

TEST(QtGlyphRasterizer, GlyphMatchesTheRasterViewsGlyphAtEachScale)
{
    const FontSet fonts = FontSet::from(testFont());
    const QRawFont& raw = fonts.rawFont(FontStyle::normal);
    FakeGpuDevice device;
    QtShaper shaper;
    QtGlyphRasterizer rasterizer;
    auto provider = GlyphProvider::create(device, shaper, rasterizer);
    for (const char letter : {'A', 'g', 'j'}) {
        for (double scale : {1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << letter << " at scale " << scale);
            const quint32 glyph = raw.glyphIndexesForString(QString(QChar(letter))).value(0);
            ASSERT_NE(glyph, 0u);
            const QRawFont& scaled = provider->scaledFontFor(raw, scale);
            EXPECT_EQ(scaled.pixelSize(), raw.pixelSize() * scale);
            auto bitmap = rasterizer.rasterize(scaled, glyph);
            ASSERT_TRUE(bitmap);
            EXPECT_FALSE(bitmap->isColor);

            // Metrics: the bitmap covers the scaled glyph's bounding box.
            const QRectF bounds = scaled.boundingRect(glyph);
            EXPECT_EQ(bitmap->bearing.x(), std::floor(bounds.left()));
            EXPECT_EQ(bitmap->bearing.y(), std::floor(-bounds.bottom()));
            EXPECT_EQ(bitmap->width, int(std::ceil(bounds.right()) - std::floor(bounds.left())));
            EXPECT_EQ(bitmap->height, int(std::ceil(-bounds.top()) - std::floor(-bounds.bottom())));

            // Pixels: bitmap pixel (i, j) lies at device pixel (origin + bearing + i, origin -
            // bearing - height + j) of the raster view's surface.
            const QPointF origin(20, 40);
            const QImage reference = rasterViewGlyph(raw, glyph, scale, origin);
            const int left = int(origin.x() * scale + bitmap->bearing.x());
            const int top = int(origin.y() * scale - bitmap->bearing.y() - bitmap->height);
            int referenceInk = 0;
            int worst = 0;
            for (int y = 0; y < reference.height(); ++y) {
                const QRgb* line = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
                for (int x = 0; x < reference.width(); ++x) {
                    const int expected = qAlpha(line[x]);
                    referenceInk += expected;
                    const int i = x - left;
                    const int j = y - top;
                    int actual = 0;
                    if (i >= 0 && j >= 0 && i < bitmap->width && j < bitmap->height)
                        actual = bitmap->pixels[std::size_t((j * bitmap->width + i) * 4 + 3)];
                    worst = std::max(worst, std::abs(actual - expected));
                }
            }
            EXPECT_GT(referenceInk, 0);
            // Scaled outlines and a scaled font differ by a few levels of coverage at most.
            EXPECT_LE(worst, 8);
        }
    }
}

TEST(QtGlyphRasterizer, SpaceHasNoBitmap)
{
    const QRawFont raw = QRawFont::fromFont(testFont());
    QtGlyphRasterizer rasterizer;
    const quint32 space = raw.glyphIndexesForString(QStringLiteral(" ")).value(0);
    EXPECT_FALSE(rasterizer.rasterize(raw, space));
}

TEST(QtGlyphRasterizer, ColourEmojiComeOutAsColourBitmaps)
{
    if (CellShaper::emojiFamily().isEmpty())
        GTEST_SKIP() << "no colour emoji font installed";
    QtShaper shaper;
    auto run = shaper.shape(QString::fromUtf8("\xF0\x9F\x98\x80"), testFont());
    ASSERT_TRUE(run);
    ASSERT_EQ(run->glyphCount, 1);
    QtGlyphRasterizer rasterizer;
    auto bitmap = rasterizer.rasterize(run->glyphRuns[0].font, run->glyphRuns[0].glyphs[0]);
    ASSERT_TRUE(bitmap);
    EXPECT_TRUE(bitmap->isColor);
}

TEST(QtShaper, GlyphsKeepTheGivenOrderAndTheirClusterStart)
{
    QtShaper shaper;
    EXPECT_FALSE(shaper.shape(QString(), testFont()));

    const struct {
        const char* name;
        QString text;
        std::vector<int> stringIndices;
    } cases[] = {
        {"ascii", QStringLiteral("ab"), {0, 1}},
        // Already in visual order: must not be reversed again.
        {"hebrew", QString::fromUtf8("\xD7\x90\xD7\x91"), {0, 1}},
        {"combining mark", QString::fromUtf8("e\xCC\x81x"), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto run = shaper.shape(c.text, testFont());
        ASSERT_TRUE(run);
        ASSERT_EQ(run->glyphCount, int(run->positions.size()));
        ASSERT_EQ(run->stringIndices.size(), run->positions.size());
        if (!c.stringIndices.empty()) {
            EXPECT_EQ(run->stringIndices, c.stringIndices);
        }
        for (std::size_t i = 1; i < run->positions.size(); ++i) {
            if (run->stringIndices[i] != run->stringIndices[i - 1]) {
                EXPECT_GT(run->positions[i].x(), run->positions[i - 1].x()) << i;
            }
        }
        EXPECT_EQ(run->positions.front().y(), 0);
    }
    // The mark belongs to the cluster of its base; the next letter starts at unit 2.
    auto marked = shaper.shape(QString::fromUtf8("e\xCC\x81x"), testFont());
    EXPECT_EQ(marked->stringIndices.front(), 0);
    EXPECT_EQ(marked->stringIndices.back(), 2);
}

} // namespace
} // namespace veldatron
