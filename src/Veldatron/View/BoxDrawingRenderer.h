#pragma once

#include "BoxDrawingCanvas.h"
#include "PlatformColor.h"

#include <QPointF>
#include <QSizeF>

#include <cstdint>

class QPainter;

namespace veldatron {

/// Paints box-drawing characters (U+2500...U+257F) from their geometry (BoxDrawingCanvas) on the
/// device-pixel grid of any QPainter target: the view's frame, an image, a glyph atlas.
struct BoxDrawingRenderer {
    /// Paints one character into the cell whose top-left corner is `cellOrigin` (in the
    /// painter's coordinates) and whose size is `cellSize` points, at `scale` device pixels per
    /// point, with light lines `baseThicknessPx` device pixels thick (at least one rounded pixel
    /// per point). The cell's corner should lie on a device pixel. Other code points paint
    /// nothing.
    static void draw(uint32_t codePoint, QPainter& painter, QPointF cellOrigin, QSizeF cellSize,
                     double scale, const PlatformColor& color, int baseThicknessPx);

    /// The light line thickness for a font: its underline thickness (in points) a third
    /// thicker, in device pixels, and at least one rounded pixel per point.
    static int baseThicknessPx(double scale, double underlineThickness);

    /// Paints a character's geometry with the painter's coordinates already in device pixels
    /// from the cell's top-left corner.
    static void paint(const BoxDrawingCanvas& canvas, QPainter& painter, const QColor& color);
};

} // namespace veldatron
