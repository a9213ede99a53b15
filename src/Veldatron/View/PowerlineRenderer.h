#pragma once

#include "GlyphRect.h"

#include <cstdint>
#include <optional>

namespace veldatron {

/// The shapes of the four powerline separators U+E0B0, U+E0B2, U+E0B4 and U+E0B6: solid
/// triangles and half discs that fill the cell and point right or left, meant to touch the
/// coloured cell on their flat side. A one-device-pixel strip just outside the flat side covers
/// the hairline of background that antialiasing would leave between the two.
///
/// Geometry only: the painters (and a GPU glyph atlas) fill what it describes. Coordinates are
/// the caller's (points, y downwards).
struct PowerlineRenderer {
    enum class Direction : uint8_t { right, left };
    enum class Shape : uint8_t { solidTriangle, halfDisc };

    /// Where a glyph points (its flat side is the other one) and its shape.
    struct Glyph {
        Direction pointsTo = Direction::right;
        Shape shape = Shape::solidTriangle;
        friend bool operator==(const Glyph&, const Glyph&) = default;
    };

    /// A glyph's outline in a cell, snapped to device pixels.
    struct Outline {
        Glyph glyph;
        /// The cell snapped outwards.
        GlyphRect bounds;
        /// The x of the pointed side and of the flat side.
        double tip = 0;
        double base = 0;
        /// Triangle: the y of the tip, on a device pixel. Half disc: unused.
        double tipY = 0;
        /// Half disc: the x of both control points of its one cubic curve from the base's top
        /// corner to its bottom corner (the curve reaches the tip at mid-height).
        double controlX = 0;
        /// The join strip, one device pixel wide, just outside the flat side.
        GlyphRect joinStrip;
    };

    /// The glyph of a code point; none but for U+E0B0, U+E0B2, U+E0B4 and U+E0B6.
    static std::optional<Glyph> glyph(uint32_t codePoint);

    /// The join strip for a cell already in device pixels: one pixel left of a right-pointing
    /// glyph's cell, one pixel right of a left-pointing one's; none for other code points.
    static std::optional<GlyphRect> devicePixelJoinRect(uint32_t codePoint,
                                                        const GlyphRect& transformedCellRect);

    /// The outline of a glyph in `cell`, snapped with `sx` horizontal and `sy` vertical device
    /// pixels per unit; none for other code points or a scale that is not positive.
    static std::optional<Outline> outline(uint32_t codePoint, const GlyphRect& cell, double sx,
                                          double sy);
};

} // namespace veldatron
