#include "CustomGlyphPainter.h"
#include "BoxDrawingRenderer.h"
#include "PowerlineRenderer.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace veldatron::CustomGlyphPainter {

namespace {

QRectF toQRectF(const GlyphRect& rect) {
    return {rect.x, rect.y, rect.width, rect.height};
}

} // namespace

void drawBoxDrawings(std::span<const BoxDrawingRenderItem> items, QPainter& painter,
                     QPointF lineOrigin, QSizeF cell, double scale, int baseThicknessPx) {
    if (items.empty() || !(scale > 0)) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Cells are placed in whole device pixels from the row's corner, so that every cell edge lies
    // on a pixel even where the cell width in points does not.
    const int cellWidthPx = std::max(int(std::round(scale * cell.width())), 1);
    const int cellHeightPx = std::max(int(std::round(scale * cell.height())), 1);
    const double originX = std::round(scale * lineOrigin.x());
    const double originY = std::round(scale * lineOrigin.y());
    const QTransform base = painter.worldTransform();
    const QTransform toPoints = QTransform::fromScale(1 / scale, 1 / scale);
    for (const BoxDrawingRenderItem& item : items) {
        const BoxDrawingCanvas canvas = BoxDrawingCanvas::forCodePoint(
            item.codePoint, cellWidthPx * std::max(item.columnWidth, 1), cellHeightPx, scale,
            baseThicknessPx);
        if (canvas.isEmpty()) {
            continue;
        }
        const PlatformColor color =
            item.foregroundColor.withAlpha(std::clamp(item.foregroundColor.alpha, 0.0, 1.0));
        const QTransform cellPixels =
            QTransform::fromTranslate(originX + cellWidthPx * item.column, originY) * toPoints;
        painter.setWorldTransform(cellPixels * base);
        BoxDrawingRenderer::paint(canvas, painter, color.toQColor());
    }
    painter.restore();
}

void drawBlockElements(std::span<const BlockElementRenderItem> items, QPainter& painter,
                       QPointF lineOrigin, QSizeF cell, double scale, bool antialias) {
    if (items.empty()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, antialias);
    for (const BlockElementRenderItem& item : items) {
        const QRectF slot(lineOrigin.x() + cell.width() * item.column, lineOrigin.y(),
                          cell.width() * item.columnWidth, cell.height());
        drawBlockElement(item.rects, painter, slot, scale, antialias, item.foregroundColor);
    }
    painter.restore();
}

void drawBlockElement(std::span<const BlockElementRect> rects, QPainter& painter,
                      const QRectF& slot, double scale, bool antialias,
                      const PlatformColor& color) {
    const GlyphRect cell{slot.x(), slot.y(), slot.width(), slot.height()};
    for (const BlockElementRect& rect : rects) {
        if (const std::optional<GlyphRect> fill =
                BlockElementMapping::fillRect(rect, cell, scale, antialias)) {
            painter.fillRect(
                toQRectF(*fill),
                color.withAlpha(BlockElementMapping::fillAlpha(rect, color.alpha)).toQColor());
        }
    }
}

void drawPowerlineGlyphs(std::span<const PowerlineRenderItem> items, QPainter& painter,
                         QPointF lineOrigin, QSizeF cell, double scale,
                         BufferLine::RenderLineMode mode) {
    using Mode = BufferLine::RenderLineMode;
    // The frame scaled the row already: snap to the device pixels of the scaled row.
    const double sx = mode == Mode::single ? scale : 2 * scale;
    const double sy = mode == Mode::doubledTop || mode == Mode::doubledDown ? 2 * scale : scale;
    if (items.empty() || !(sx > 0) || !(sy > 0)) {
        return;
    }
    for (const PowerlineRenderItem& item : items) {
        const QRectF rect(lineOrigin.x() + cell.width() * item.column, lineOrigin.y(),
                          cell.width() * item.columnWidth, cell.height());
        drawPowerlineGlyph(item.codePoint, painter, rect, sx, sy, item.foregroundColor);
    }
}

void drawPowerlineGlyph(uint32_t codePoint, QPainter& painter, const QRectF& cellRect, double sx,
                        double sy, const PlatformColor& color) {
    const std::optional<PowerlineRenderer::Outline> outline = PowerlineRenderer::outline(
        codePoint, {cellRect.x(), cellRect.y(), cellRect.width(), cellRect.height()}, sx, sy);
    if (!outline) {
        return;
    }
    const QColor fill = color.toQColor();
    const GlyphRect& bounds = outline->bounds;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(outline->base, bounds.y);
    if (outline->glyph.shape == PowerlineRenderer::Shape::solidTriangle) {
        path.lineTo(outline->tip, outline->tipY);
        path.lineTo(outline->base, bounds.maxY());
    } else {
        path.cubicTo(outline->controlX, bounds.y, outline->controlX, bounds.maxY(), outline->base,
                     bounds.maxY());
    }
    path.closeSubpath();

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(toQRectF(outline->joinStrip), fill);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillPath(path, fill);
    painter.restore();
}

} // namespace veldatron::CustomGlyphPainter
