#pragma once

#include "DrawRecords.h"

#include "BufferLine.h"
#include "PlatformColor.h"

#include <QRectF>
#include <QSizeF>

#include <optional>

namespace veldatron {

/// A rectangle in device pixels as corners, x0 ≤ x1 and y0 ≤ y1 once ordered.
struct PixelRect {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool operator==(const PixelRect&) const = default;
};

/// The same with texture coordinates at its corners.
struct TexturedRect {
    PixelRect rect;
    PixelRect tex;
};

/// How a row of a line in double-width or double-height mode is stretched: x doubled about the
/// view's left edge, y doubled about `pivotY` (the row's top edge for the top half, its bottom
/// edge for the bottom half), and `clip` keeps only the row's own band.
struct RowTransform {
    BufferLine::RenderLineMode renderMode = BufferLine::RenderLineMode::single;
    double pivotY = 0;
    std::optional<ClipRect> clip;

    /// The rectangle stretched for the row's mode, corners ordered.
    PixelRect transformRect(double x0, double y0, double x1, double y1) const;
};

/// The rectangle clamped to `clip` with its texture coordinates cut in proportion; nothing
/// when no area is left. Without a clip, the input unchanged.
std::optional<TexturedRect> clipRect(const TexturedRect& input, const std::optional<ClipRect>& clip);
std::optional<PixelRect> clipRect(const PixelRect& input, const std::optional<ClipRect>& clip);

Float4 colorToSIMD(const PlatformColor& color);

TextCell makeTextCell(const TexturedRect& quad, const Float4& color);
ColorCell makeColorCell(const PixelRect& rect, const Float4& color);

/// The six vertices of a textured quad for `rect` (points, y up) showing `uvRect` of the
/// texture, stretched for the row and clipped; nothing when clipped away.
std::optional<ImageDraw> imageDraw(const std::shared_ptr<GpuTexture>& texture, const QRectF& rect,
                                   const QRectF& uvRect, const RowTransform& row, double scale);

} // namespace veldatron
