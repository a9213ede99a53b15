#pragma once

#include <cmath>

namespace veldatron {

/// A rectangle of the custom-glyph geometry, in the coordinates of the code that asked (points
/// or device pixels), y downwards. Plain data so that the geometry needs no Qt.
struct GlyphRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }

    friend bool operator==(const GlyphRect&, const GlyphRect&) = default;
};

/// Snapping an edge outwards to the device pixels of `scale` (down for a left or top edge, up for
/// a right or bottom one). Edges computed in points carry rounding noise: at scale 1.25 an edge
/// meant for pixel 28 comes out at 28.000000000000004, and a plain ceil would take in pixel 29
/// of the next cell. Noise far below a pixel is ignored.
inline constexpr double snapTolerance = 1e-6;
inline double snapDown(double v, double scale) {
    return std::floor(scale * v + snapTolerance) / scale;
}
inline double snapUp(double v, double scale) {
    return std::ceil(scale * v - snapTolerance) / scale;
}

} // namespace veldatron
