#pragma once

#include "BufferLine.h"
#include "PlatformColor.h"
#include "ViewLineSegment.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <span>

class QPainter;

namespace veldatron {

/// Paints the custom-glyph cells of rows (box drawing, block elements, powerline separators)
/// with QPainter, on any target: what the raster frame draws between the backgrounds and the
/// text, and what a GPU glyph atlas can rasterise a cell with.
///
/// `lineOrigin` is the top-left corner of the row in the painter's coordinates (Qt's, y
/// downwards), `cell` the size of one cell in points and `scale` the target's device pixels per
/// point; an item's cell starts `column` cells right of the origin.
namespace CustomGlyphPainter {

/// Box drawing on whole device pixels; light lines `baseThicknessPx` thick.
void drawBoxDrawings(std::span<const BoxDrawingRenderItem> items, QPainter& painter,
                     QPointF lineOrigin, QSizeF cell, double scale, int baseThicknessPx);

/// Block elements, snapped outwards to device pixels unless `antialias`.
void drawBlockElements(std::span<const BlockElementRenderItem> items, QPainter& painter,
                       QPointF lineOrigin, QSizeF cell, double scale, bool antialias);
/// One block element's rectangles in `slot` (a cell, or both cells of a wide one).
void drawBlockElement(std::span<const BlockElementRect> rects, QPainter& painter,
                      const QRectF& slot, double scale, bool antialias, const PlatformColor& color);

/// Powerline separators of a row drawn in `mode`, under which the painter is already scaled:
/// the snapping follows the device pixels of the scaled row.
void drawPowerlineGlyphs(std::span<const PowerlineRenderItem> items, QPainter& painter,
                         QPointF lineOrigin, QSizeF cell, double scale,
                         BufferLine::RenderLineMode mode);
/// One separator filling `cellRect`, snapped with `sx` and `sy` device pixels per point, with
/// its join strip.
void drawPowerlineGlyph(uint32_t codePoint, QPainter& painter, const QRectF& cellRect, double sx,
                        double sy, const PlatformColor& color);

} // namespace CustomGlyphPainter

} // namespace veldatron
