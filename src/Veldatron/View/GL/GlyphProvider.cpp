#include "GlyphProvider.h"

#include "BlockElementMapping.h"
#include "BoxDrawingRenderer.h"
#include "CustomGlyphPainter.h"
#include "PowerlineRenderer.h"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>

namespace veldatron {

// ---- Shaper cache ---------------------------------------------------------------------------

std::shared_ptr<const ShaperRun> ShaperCache::shape(const QString& text, const QFont& font)
{
    if (text.isEmpty())
        return nullptr;
    Key key{font, text};
    if (auto found = m_cache.find(key); found != m_cache.end())
        return found->second;
    std::optional<ShaperRun> run = m_shaper.shape(text, font);
    if (!run)
        return nullptr;
    auto shared = std::make_shared<const ShaperRun>(std::move(*run));
    insert(key, shared);
    return shared;
}

bool ShaperCache::contains(const QString& text, const QFont& font) const
{
    return m_cache.count(Key{font, text}) > 0;
}

void ShaperCache::insert(const Key& key, std::shared_ptr<const ShaperRun> run)
{
    auto [it, inserted] = m_cache.insert_or_assign(key, std::move(run));
    if (inserted)
        m_order.push_back(key);
    while (m_order.size() > maxEntries) {
        m_cache.erase(m_order.front());
        m_order.pop_front();
    }
}

// ---- Glyph provider -------------------------------------------------------------------------

namespace {

// The raster view draws a font at scale s by scaling the painter, and Qt then draws the
// outlines unhinted; a hinted font at s times the size puts stems and the baseline on other
// pixels. So a scaled copy is made unhinted, for both renderers to show the same glyphs. At
// scale 1 both use the font as it is.
QRawFont scaledCopy(const QRawFont& font, double scale)
{
    const double size = scale * font.pixelSize();
    if (scale == 1 || !font.isValid())
        return font;
    QFont request(font.familyName());
    request.setStyleName(font.styleName());
    request.setWeight(QFont::Weight(font.weight()));
    request.setStyle(font.style());
    request.setPixelSize(std::max(1, int(std::lround(size))));
    request.setHintingPreference(QFont::PreferNoHinting);
    QRawFont unhinted = QRawFont::fromFont(request);
    if (unhinted.isValid() && unhinted.familyName() == font.familyName()
        && unhinted.styleName() == font.styleName()) {
        unhinted.setPixelSize(size);
        return unhinted;
    }
    QRawFont scaled = font;
    scaled.setPixelSize(size);
    return scaled;
}

} // namespace

std::unique_ptr<GlyphProvider> GlyphProvider::create(IGpuDevice& device, IShaper& shaper,
                                                     IGlyphRasterizer& rasterizer, ILogSink& log,
                                                     int startSize)
{
    auto grayscale = GlyphAtlas::create(
        device, startSize,
        GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::grayscale),
        GlyphAtlasFormat::grayscale, log);
    auto color = GlyphAtlas::create(device, startSize,
                                    GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::bgra),
                                    GlyphAtlasFormat::bgra, log);
    if (!grayscale || !color)
        return nullptr;
    return std::unique_ptr<GlyphProvider>(
        new GlyphProvider(shaper, rasterizer, std::move(grayscale), std::move(color)));
}

GlyphProvider::GlyphProvider(IShaper& shaper, IGlyphRasterizer& rasterizer,
                             std::unique_ptr<GlyphAtlas> grayscale,
                             std::unique_ptr<GlyphAtlas> color)
    : m_rasterizer(rasterizer),
      m_shaperCache(shaper),
      m_grayscaleAtlas(std::move(grayscale)),
      m_colorAtlas(std::move(color))
{
}

std::vector<ShapedSegment>
GlyphProvider::buildShapedSegments(const std::vector<ViewLineSegment>& segments,
                                   const FontSet& fontSet)
{
    std::vector<ShapedSegment> result;
    result.reserve(segments.size());
    for (const ViewLineSegment& segment : segments) {
        const AttributedText& text = segment.attributedString;
        if (text.isEmpty())
            continue;
        ShapedSegment shaped{&segment, {}};
        for (const AttributedText::Run& run : text.runs()) {
            if (run.length <= 0)
                continue;
            const QFont& font = run.attributes ? fontSet.font(run.attributes->font)
                                               : fontSet.normal;
            auto shaperRun = m_shaperCache.shape(text.string().mid(run.start, run.length), font);
            if (shaperRun)
                shaped.runs.push_back({run.attributes, run.start, std::move(shaperRun)});
        }
        if (!shaped.runs.empty())
            result.push_back(std::move(shaped));
    }
    return result;
}

const QRawFont& GlyphProvider::scaledFontFor(const QRawFont& font, double scale)
{
    const double size = scale * font.pixelSize();
    if (auto found = m_scaledFontCache.find(ScaledFontKeyRef{&font, size});
        found != m_scaledFontCache.end())
        return found->second;
    return m_scaledFontCache.emplace(ScaledFontKey{font, size}, scaledCopy(font, scale))
        .first->second;
}

std::optional<GlyphEntry> GlyphProvider::glyphEntry(const QRawFont& font, quint32 glyph)
{
    if (auto found = m_glyphCache.find(GlyphKeyRef{&font, glyph}); found != m_glyphCache.end())
        return found->second;
    std::optional<GlyphBitmap> bitmap = m_rasterizer.rasterize(font, glyph);
    if (!bitmap)
        return std::nullopt;
    const GlyphAtlasKind kind = bitmap->isColor ? GlyphAtlasKind::color : GlyphAtlasKind::grayscale;
    GlyphAtlas& target = atlas(kind);
    const int previousSize = target.size();
    std::optional<AtlasRegion> region = target.ensureRegion(bitmap->width, bitmap->height);
    handleAtlasChange(target, previousSize);
    if (!region)
        return std::nullopt;
    target.write(*region, bitmap->pixels.data(), bitmap->width, bitmap->height);
    GlyphEntry entry{*region, QSizeF(bitmap->width, bitmap->height), bitmap->bearing,
                     bitmap->isColor, kind};
    m_glyphCache.emplace(GlyphKey{font, glyph}, entry);
    return entry;
}

int GlyphProvider::customGlyphKeyScale(double scale)
{
    const double rounded = std::round(scale);
    if (!(rounded >= 1))
        return 1;
    return rounded > 1024 ? 1024 : int(rounded);
}

std::size_t GlyphProvider::CustomGlyphKeyHash::operator()(const CustomGlyphKey& key) const
{
    std::size_t h = key.codePoint;
    for (int part : {key.cellWidthPx, key.cellHeightPx, key.baseThicknessPx, key.scale,
                     int(key.antiAlias)})
        h = h * 1000003u ^ std::size_t(part);
    return h;
}

std::optional<CustomGlyphEntry> GlyphProvider::customGlyphEntry(uint32_t codePoint,
                                                                int cellWidthPx, int cellHeightPx,
                                                                double scale, int baseThicknessPx,
                                                                bool antiAlias)
{
    const CustomGlyphKey key{codePoint, cellWidthPx, cellHeightPx, baseThicknessPx,
                             customGlyphKeyScale(scale), antiAlias};
    if (auto found = m_customGlyphCache.find(key); found != m_customGlyphCache.end())
        return found->second;
    std::optional<GlyphBitmap> bitmap =
        paintCustomGlyph(codePoint, cellWidthPx, cellHeightPx, scale, baseThicknessPx, antiAlias);
    if (!bitmap)
        return std::nullopt;
    GlyphAtlas& target = *m_grayscaleAtlas;
    const int previousSize = target.size();
    std::optional<AtlasRegion> region = target.ensureRegion(cellWidthPx, cellHeightPx);
    handleAtlasChange(target, previousSize);
    if (!region)
        return std::nullopt;
    target.write(*region, bitmap->pixels.data(), cellWidthPx, cellHeightPx);
    CustomGlyphEntry entry{*region, QSizeF(cellWidthPx, cellHeightPx)};
    m_customGlyphCache.emplace(key, entry);
    return entry;
}

void GlyphProvider::handleAtlasChange(GlyphAtlas& atlas, int previousSize)
{
    if (atlas.didReset()) {
        m_glyphCache.clear();
        m_customGlyphCache.clear();
    } else if (atlas.size() == previousSize) {
        return;
    }
    if (onRowCacheInvalidated)
        onRowCacheInvalidated();
    m_atlasInvalidatedDuringBuild = true;
}

// ---- Painting geometric glyphs --------------------------------------------------------------

std::optional<GlyphBitmap> paintCustomGlyph(uint32_t codePoint, int cellWidthPx, int cellHeightPx,
                                            double scale, int baseThicknessPx, bool antiAlias)
{
    // A cell larger than any atlas could hold is not painted.
    constexpr int largestSide = 16384;
    if (cellWidthPx <= 0 || cellHeightPx <= 0 || cellWidthPx > largestSide
        || cellHeightPx > largestSide || !(scale > 0))
        return std::nullopt;
    const bool powerline = PowerlineRenderer::glyph(codePoint).has_value();
    const bool box = codePoint >= 0x2500 && codePoint <= 0x257F;
    std::optional<std::span<const BlockElementRect>> blockRects;
    if (!powerline && !box && codePoint >= 0x2580 && codePoint <= 0x259F)
        blockRects = BlockElementMapping::rects(codePoint);
    if (!powerline && !box && !blockRects)
        return std::nullopt;

    QImage image(cellWidthPx, cellHeightPx, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.scale(scale, scale);
        // The cell in points, top-left origin (Qt's y-down coordinates are the bitmap's).
        const QRectF cell(0, 0, cellWidthPx / scale, cellHeightPx / scale);
        const PlatformColor white(1, 1, 1, 1);
        if (powerline) {
            painter.setRenderHint(QPainter::Antialiasing, true);
            // Its join strip lies outside the cell: the row draws it as a flat rectangle.
            CustomGlyphPainter::drawPowerlineGlyph(codePoint, painter, cell, scale, scale, white);
        } else if (box) {
            painter.setRenderHint(QPainter::Antialiasing, false);
            BoxDrawingRenderer::draw(codePoint, painter, QPointF(0, 0), cell.size(), scale, white,
                                     baseThicknessPx);
        } else {
            painter.setRenderHint(QPainter::Antialiasing, antiAlias);
            CustomGlyphPainter::drawBlockElement(*blockRects, painter, cell, scale, antiAlias,
                                                 white);
        }
    }
    GlyphBitmap bitmap;
    bitmap.width = cellWidthPx;
    bitmap.height = cellHeightPx;
    bitmap.pixels.resize(std::size_t(cellWidthPx) * std::size_t(cellHeightPx) * 4);
    for (int row = 0; row < cellHeightPx; ++row)
        std::memcpy(bitmap.pixels.data() + std::size_t(row) * std::size_t(cellWidthPx) * 4,
                    image.constScanLine(row), std::size_t(cellWidthPx) * 4);
    return bitmap;
}

} // namespace veldatron
