#include "RowDrawBuilder.h"

#include "TextDecorations.h"

#include "BoxDrawingRenderer.h"
#include "KittyPlacementImage.h"
#include "PowerlineRenderer.h"
#include "Terminal.h"
#include "TerminalView.h"

#include <algorithm>
#include <cmath>

namespace veldatron {

// The values one row shares between its layers.
struct RowDrawBuilder::Row {
    double cellWidth;
    double cellHeight;
    double scale;
    double rowBottom;
    double rowTop;
    double cellWidthPxF;
    int cellWidthPx;
    double cellHeightPxF;
    int cellHeightPx;
    double y0;
    double y1;
    double baseline;
    double underlineThickness;
    double underlinePosition;
    RowTransform transform;
};

namespace {

// The cell ordinal of a UTF-16 index of a segment: past the end, the last cell.
int cellOrdinal(const ViewLineSegment& segment, int index)
{
    const std::vector<int>& ordinals = segment.utf16ToCellOrdinal;
    if (index >= 0 && std::size_t(index) < ordinals.size())
        return ordinals[std::size_t(index)];
    if (!ordinals.empty() && ordinals.back() >= 0)
        return ordinals.back();
    return 0;
}

int columnOf(const ViewLineSegment& segment, int ordinal)
{
    return segment.column + ordinal * segment.columnWidth;
}

PixelRect atlasTexture(const AtlasRegion& region, int atlasSize)
{
    const float size = float(atlasSize);
    return {float(region.x) / size, float(region.y) / size,
            float(region.x + region.width) / size, float(region.y + region.height) / size};
}

} // namespace

RowDrawBuilder::RowDrawBuilder(IRendererHost& host, GlyphProvider& glyphs,
                               IImageTextureSource* images)
    : m_host(host), m_glyphs(glyphs), m_images(images)
{
}

RowDrawData RowDrawBuilder::buildRowDrawData(int row, Buffer& buffer, int yDisp,
                                             double cellWidth, double cellHeight, double yOffset,
                                             double viewWidthPx, double scale,
                                             const VirtualPlacements& virtualPlacementsByImageId)
{
    RowDrawData out;
    if (!m_host.terminal() || row < 0 || row >= buffer.lines().count())
        return out;
    const BufferLine& line = buffer.lines()[row];
    const QRawFont& normal = m_host.fontSet().rawFont(FontStyle::normal);

    Row r{};
    r.cellWidth = cellWidth;
    r.cellHeight = cellHeight;
    r.scale = scale;
    r.rowBottom = m_host.bounds().height() - cellHeight * (row - yDisp + 1);
    r.rowTop = r.rowBottom + cellHeight;
    r.cellWidthPxF = cellWidth * scale;
    r.cellWidthPx = std::max(int(std::lround(r.cellWidthPxF)), 1);
    r.cellHeightPxF = cellHeight * scale;
    r.cellHeightPx = std::max(int(std::lround(r.cellHeightPxF)), 1);
    r.y0 = scale * r.rowBottom;
    r.y1 = r.y0 + r.cellHeightPxF;
    r.baseline = r.rowBottom + yOffset;
    r.underlineThickness = std::max(std::round(scale * normal.lineThickness()) / scale, 0.5);
    // Qt measures the underline position downwards from the baseline.
    r.underlinePosition = -normal.underlinePosition();
    using Mode = BufferLine::RenderLineMode;
    r.transform.renderMode = line.renderMode();
    switch (line.renderMode()) {
    case Mode::single:
    case Mode::doubleWidth:
        r.transform.pivotY = 0;
        break;
    case Mode::doubledTop:
        r.transform.pivotY = scale * r.rowTop;
        r.transform.clip = ClipRect{{0, float(r.y0)}, {float(viewWidthPx), float(r.y1)}};
        break;
    case Mode::doubledDown:
        r.transform.pivotY = r.y0;
        r.transform.clip = ClipRect{{0, float(r.y0)}, {float(viewWidthPx), float(r.y1)}};
        break;
    }

    const ViewLineInfo info = m_host.buildAttributedString(row, line, buffer.cols());
    const std::vector<ShapedSegment> segments =
        m_glyphs.buildShapedSegments(info.segments, m_host.fontSet());
    appendCustomGlyphs(r, info, out);
    appendBackgrounds(r, segments, out);
    appendLineImages(r, info, out);
    appendTextGlyphs(r, segments, out);
    appendPlaceholderImages(r, info, virtualPlacementsByImageId, out);
    return out;
}

void RowDrawBuilder::appendCustomGlyphs(const Row& r, const ViewLineInfo& info, RowDrawData& out)
{
    if (info.boxDrawings.empty() && info.blockElements.empty() && info.powerlineGlyphs.empty())
        return;
    const int baseThicknessPx = BoxDrawingRenderer::baseThicknessPx(
        r.scale, m_host.fontSet().rawFont(FontStyle::normal).lineThickness());
    const bool antiAlias = m_host.antiAliasCustomBlockGlyphs();
    GlyphAtlas& atlas = m_glyphs.grayscaleAtlas();
    const double roundedY0 = std::round(r.y0);

    auto place = [&](const CustomGlyphEntry& entry, const PixelRect& quad, const Float4& color) {
        const TexturedRect textured{quad, atlasTexture(entry.region, atlas.size())};
        if (auto clipped = clipRect(textured, r.transform.clip))
            out.glyphCellsGray.push_back(makeTextCell(*clipped, color));
    };

    for (const BoxDrawingRenderItem& item : info.boxDrawings) {
        const int width = r.cellWidthPx * item.columnWidth;
        auto entry = m_glyphs.customGlyphEntry(item.codePoint, width, r.cellHeightPx, r.scale,
                                               baseThicknessPx, false);
        if (!entry)
            continue;
        const double x0 = double(item.column) * r.cellWidthPx;
        const double y1 = roundedY0 + (antiAlias ? r.cellHeightPxF : double(r.cellHeightPx));
        place(*entry, r.transform.transformRect(x0, roundedY0, x0 + width, y1),
              colorToSIMD(item.foregroundColor));
    }
    for (const BlockElementRenderItem& item : info.blockElements) {
        const int width = antiAlias
                              ? std::max(int(std::lround(r.cellWidthPxF * item.columnWidth)), 1)
                              : r.cellWidthPx * item.columnWidth;
        auto entry = m_glyphs.customGlyphEntry(item.codePoint, width, r.cellHeightPx, r.scale, 0,
                                               antiAlias);
        if (!entry)
            continue;
        double x0, y0, x1;
        if (antiAlias) {
            x0 = r.cellWidthPxF * item.column;
            y0 = r.y0;
            x1 = x0 + r.cellWidthPxF * item.columnWidth;
        } else {
            x0 = double(item.column) * r.cellWidthPx;
            y0 = roundedY0;
            x1 = x0 + width;
        }
        place(*entry, r.transform.transformRect(x0, y0, x1, y0 + r.cellHeightPx),
              colorToSIMD(item.foregroundColor));
    }
    for (const PowerlineRenderItem& item : info.powerlineGlyphs) {
        auto entry = m_glyphs.customGlyphEntry(item.codePoint, r.cellWidthPx * item.columnWidth,
                                               r.cellHeightPx, r.scale, 0, true);
        if (!entry)
            continue;
        const double x0 = double(item.column) * r.cellWidthPx;
        const PixelRect quad = r.transform.transformRect(
            x0, roundedY0, x0 + entry->size.width(), roundedY0 + entry->size.height());
        const Float4 color = colorToSIMD(item.foregroundColor);
        place(*entry, quad, color);
        const GlyphRect cellRect{quad.x0, quad.y0, quad.x1 - quad.x0, quad.y1 - quad.y0};
        if (auto strip = PowerlineRenderer::devicePixelJoinRect(item.codePoint, cellRect)) {
            const PixelRect stripRect{float(strip->x), float(strip->y),
                                      float(strip->x + strip->width),
                                      float(strip->y + strip->height)};
            if (auto clipped = clipRect(stripRect, r.transform.clip))
                out.powerlineJoinCells.push_back(makeColorCell(*clipped, color));
        }
    }
}

void RowDrawBuilder::appendBackgrounds(const Row& r, const std::vector<ShapedSegment>& segments,
                                       RowDrawData& out)
{
    const PlatformColor defaultBackground = m_host.effectiveNativeBackgroundColor();
    for (const ShapedSegment& shaped : segments) {
        const ViewLineSegment& segment = *shaped.segment;
        for (const ShapedRun& run : shaped.runs) {
            const ShaperRun& shaping = *run.shaperRun;
            if (shaping.glyphCount == 0 || !run.attributes)
                continue;
            const std::optional<PlatformColor>& color = run.attributes->drawnBackground();
            if (!color || *color == defaultBackground)
                continue;
            int lowest = INT32_MAX;
            int highest = INT32_MIN;
            for (int index : shaping.stringIndices) {
                const int ordinal = cellOrdinal(segment, index + run.utf16Offset);
                lowest = std::min(lowest, ordinal);
                highest = std::max(highest, ordinal);
            }
            const int start = columnOf(segment, lowest);
            const int end = columnOf(segment, highest) + segment.columnWidth;
            if (end <= start)
                continue;
            const PixelRect quad = r.transform.transformRect(r.cellWidthPxF * start, r.y0,
                                                             r.cellWidthPxF * end, r.y1);
            if (auto clipped = clipRect(quad, r.transform.clip))
                out.backgroundCells.push_back(makeColorCell(*clipped, colorToSIMD(*color)));
        }
    }
}

void RowDrawBuilder::appendLineImages(const Row& r, const ViewLineInfo& info, RowDrawData& out)
{
    if (!info.images || !m_images)
        return;
    struct Placed {
        const KittyPlacementImage* image;
        std::shared_ptr<TerminalImage> handle;
    };
    std::vector<Placed> under, over, other;
    for (const auto& image : *info.images) {
        const auto* slice = dynamic_cast<const KittyPlacementImage*>(image.get());
        if (!slice)
            continue;
        if (!slice->kittyIsKitty)
            other.push_back({slice, image});
        else if (slice->kittyZIndex < 0)
            under.push_back({slice, image});
        else
            over.push_back({slice, image});
    }
    auto byZThenId = [](const Placed& a, const Placed& b) {
        if (a.image->kittyZIndex != b.image->kittyZIndex)
            return a.image->kittyZIndex < b.image->kittyZIndex;
        return a.image->kittyImageId.value_or(0) < b.image->kittyImageId.value_or(0);
    };
    std::stable_sort(under.begin(), under.end(), byZThenId);
    std::stable_sort(over.begin(), over.end(), byZThenId);

    const double backing = m_host.backingScaleFactor();
    auto draw = [&](const std::vector<Placed>& list, bool kitty, std::vector<ImageDraw>& target) {
        for (const Placed& placed : list) {
            const KittyPlacementImage& image = *placed.image;
            double x = r.cellWidth * image.col();
            // The picture hangs down from the top of its row; a kitty offset moves it right
            // and down, as in the raster view and the protocol.
            double y = r.rowTop - image.pixelHeight();
            if (kitty) {
                x += double(image.kittyPixelOffsetX) / backing;
                y -= double(image.kittyPixelOffsetY) / backing;
            }
            auto texture = m_images->texture(placed.handle);
            if (!texture)
                continue;
            if (auto quad = imageDraw(texture, QRectF(x, y, image.pixelWidth(), image.pixelHeight()),
                                      QRectF(0, 0, 1, 1), r.transform, r.scale))
                target.push_back(std::move(*quad));
        }
    };
    draw(under, true, out.underImageDraws);
    draw(over, true, out.overImageDraws);
    draw(other, false, out.otherImageDraws);
}

void RowDrawBuilder::appendTextGlyphs(const Row& r, const std::vector<ShapedSegment>& segments,
                                      RowDrawData& out)
{
    const PlatformColor defaultForeground = m_host.effectiveNativeForegroundColor();
    for (const ShapedSegment& shaped : segments) {
        const ViewLineSegment& segment = *shaped.segment;
        for (const ShapedRun& run : shaped.runs) {
            if (run.shaperRun->glyphCount == 0)
                continue;
            const Float4 runColor = colorToSIMD(
                run.attributes && run.attributes->foreground ? *run.attributes->foreground
                                                             : defaultForeground);
            int previousOrdinal = -1;
            double cellStartX = 0;
            for (const ShaperGlyphRun& glyphRun : run.shaperRun->glyphRuns) {
                const QRawFont& scaled = m_glyphs.scaledFontFor(glyphRun.font, r.scale);
                for (std::size_t i = 0; i < glyphRun.glyphs.size(); ++i) {
                    const quint32 glyph = glyphRun.glyphs[i];
                    auto entry = m_glyphs.glyphEntry(scaled, glyph);
                    if (!entry || !(entry->size.width() > 0) || !(entry->size.height() > 0))
                        continue;
                    const QPointF position = glyphRun.positions[i];
                    const int ordinal =
                        cellOrdinal(segment, glyphRun.stringIndices[i] + run.utf16Offset);
                    const int column = columnOf(segment, ordinal);
                    double inCell = 0;
                    if (ordinal == previousOrdinal) {
                        inCell = position.x() - cellStartX;
                    } else {
                        cellStartX = position.x();
                        previousOrdinal = ordinal;
                    }
                    double dx = 0, dy = 0, fit = 1;
                    if (segment.columnWidth >= 2) {
                        const auto slot = m_host.glyphSlotFit(glyphRun.font, glyph,
                                                              segment.columnWidth);
                        dx = slot.dx;
                        dy = slot.dy;
                        fit = slot.scale;
                    }
                    const double x0 = r.scale * (r.cellWidth * column + inCell + dx)
                                      + entry->bearing.x() * fit;
                    const double y0 = r.scale * (r.baseline + position.y() + dy)
                                      + entry->bearing.y() * fit;
                    const PixelRect quad = r.transform.transformRect(
                        x0, y0, x0 + entry->size.width() * fit, y0 + entry->size.height() * fit);
                    GlyphAtlas& atlas = m_glyphs.atlas(entry->atlasKind);
                    const TexturedRect textured{quad, atlasTexture(entry->region, atlas.size())};
                    auto clipped = clipRect(textured, r.transform.clip);
                    if (!clipped)
                        continue;
                    // Colour glyphs show their own colours.
                    const TextCell cell =
                        makeTextCell(*clipped, entry->isColor ? Float4{1, 1, 1, 1} : runColor);
                    if (entry->atlasKind == GlyphAtlasKind::color)
                        out.glyphCellsColor.push_back(cell);
                    else
                        out.glyphCellsGray.push_back(cell);
                }
            }
            appendDecorations(r, shaped, run, out);
        }
    }
}

void RowDrawBuilder::appendDecorations(const Row& r, const ShapedSegment& shaped,
                                       const ShapedRun& run, RowDrawData& out)
{
    if (!run.attributes || !run.attributes->hasDecorations())
        return;
    const RunAttributes& attributes = *run.attributes;
    const ViewLineSegment& segment = *shaped.segment;
    const ShaperRun& shaping = *run.shaperRun;
    const PlatformColor defaultForeground = m_host.effectiveNativeForegroundColor();
    // Each glyph's bar spans one cell from the glyph's column.
    auto forEachGlyph = [&](auto&& draw) {
        for (int i = 0; i < shaping.glyphCount; ++i) {
            const int column =
                columnOf(segment, cellOrdinal(segment, shaping.stringIndices[std::size_t(i)]
                                                           + run.utf16Offset));
            const double x0 = r.scale * r.cellWidth * column;
            const double x1 = r.scale * (r.cellWidth * column + std::ceil(r.cellWidth));
            draw(x0, x1, shaping.positions[std::size_t(i)].y());
        }
    };

    if (attributes.underlineStyle && *attributes.underlineStyle != 0) {
        const UnderlineStyle style = resolveUnderlineStyle(attributes);
        const Float4 color = colorToSIMD(attributes.underlineColor.value_or(defaultForeground));
        const double thickness = r.scale * r.underlineThickness;
        forEachGlyph([&](double x0, double x1, double glyphY) {
            const double base = r.underlinePosition + r.baseline + glyphY;
            appendUnderlineSegments(x0, x1, r.scale * base, thickness, color, style, r.scale,
                                    r.transform, out.decorationCells);
            if (style == UnderlineStyle::double_) {
                appendUnderlineSegments(x0, x1, r.scale * (base - r.underlineThickness - 1),
                                        thickness, color, UnderlineStyle::single, r.scale,
                                        r.transform, out.decorationCells);
            }
        });
    }
    if (attributes.strikethroughStyle && *attributes.strikethroughStyle != 0) {
        const int value = *attributes.strikethroughStyle;
        const UnderlineStyle style = strikethroughPatternStyle(value);
        const bool isDouble = (value & UnderlineBits::double_) == UnderlineBits::double_;
        const Float4 color = colorToSIMD(attributes.strikethroughColor.value_or(defaultForeground));
        const QRawFont& font = m_host.fontSet().rawFont(attributes.font);
        const double th = std::max(std::round(r.scale * font.lineThickness()) / r.scale, 0.5);
        const double yMid = (font.xHeight() + th) / 2;
        forEachGlyph([&](double x0, double x1, double glyphY) {
            const double base = yMid + r.baseline + glyphY;
            appendUnderlineSegments(x0, x1, r.scale * base, r.scale * th, color, style, r.scale,
                                    r.transform, out.decorationCells);
            if (isDouble) {
                appendUnderlineSegments(x0, x1, r.scale * (base - th - 1), r.scale * th, color,
                                        style, r.scale, r.transform, out.decorationCells);
            }
        });
    }
}

void RowDrawBuilder::appendPlaceholderImages(const Row& r, const ViewLineInfo& info,
                                             const VirtualPlacements& placements,
                                             RowDrawData& out)
{
    Terminal* terminal = m_host.terminal();
    if (info.kittyPlaceholders.empty() || !m_images || !terminal)
        return;
    const KittyGraphicsState& kitty = terminal->kittyGraphicsState();
    const double backing = m_host.backingScaleFactor();
    for (const KittyPlaceholderCell& cell : info.kittyPlaceholders) {
        const auto records = placements.find(cell.imageId);
        if (records == placements.end())
            continue;
        // The first virtual placement of the image that has this cell's part.
        const auto record = std::find_if(
            records->second.begin(), records->second.end(), [&](const KittyPlacementRecord& p) {
                return (cell.placementId == 0 || cell.placementId == p.placementId) && p.cols > 0
                       && p.rows > 0 && cell.placeholderCol < p.cols
                       && cell.placeholderRow < p.rows;
            });
        if (record == records->second.end())
            continue;
        auto texture = m_images->kittyTexture(cell.imageId, kitty);
        if (!texture)
            continue;
        // The whole placement as if this cell held its part of it; the pixel offsets move it
        // right and down, as in the raster view.
        const QRectF whole(
            double(record->pixelOffsetX) / backing
                + r.cellWidth * double(cell.col - cell.placeholderCol),
            r.rowBottom + r.cellHeight * double(cell.placeholderRow)
                - r.cellHeight * double(record->rows - 1)
                - double(record->pixelOffsetY) / backing,
            r.cellWidth * double(record->cols), r.cellHeight * double(record->rows));
        if (!(whole.width() > 0) || !(whole.height() > 0))
            continue;
        const QRectF fit = TerminalView::kittyAspectFitRect(
            QSizeF(texture->width() / r.scale, texture->height() / r.scale), whole);
        const QRectF piece =
            fit.intersected(QRectF(r.cellWidth * double(cell.col), r.rowBottom, r.cellWidth,
                                   r.cellHeight));
        if (piece.isEmpty() || !(fit.width() > 0) || !(fit.height() > 0))
            continue;
        // t counts from the picture's bottom edge, as the texture does.
        const double s0 = (piece.left() - fit.left()) / fit.width();
        const double t0 = (piece.top() - fit.top()) / fit.height();
        const QRectF uv(s0, t0, (piece.right() - fit.left()) / fit.width() - s0,
                        (piece.bottom() - fit.top()) / fit.height() - t0);
        if (auto quad = imageDraw(texture, piece, uv, r.transform, r.scale))
            out.placeholderImageDraws.push_back(std::move(*quad));
    }
}

} // namespace veldatron
