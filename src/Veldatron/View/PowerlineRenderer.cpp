#include "PowerlineRenderer.h"

#include <array>
#include <cmath>

namespace veldatron {

namespace {

using Glyph = PowerlineRenderer::Glyph;
using Direction = PowerlineRenderer::Direction;
using Shape = PowerlineRenderer::Shape;

// U+E0B0 + i. The odd ones are the thin outline variants, which come from the font.
constexpr std::array<std::optional<Glyph>, 7> glyphs = {
    Glyph{Direction::right, Shape::solidTriangle}, std::nullopt,
    Glyph{Direction::left, Shape::solidTriangle},  std::nullopt,
    Glyph{Direction::right, Shape::halfDisc},      std::nullopt,
    Glyph{Direction::left, Shape::halfDisc},
};

} // namespace

std::optional<Glyph> PowerlineRenderer::glyph(uint32_t codePoint) {
    if (codePoint < 0xE0B0 || codePoint > 0xE0B6) {
        return std::nullopt;
    }
    return glyphs[codePoint - 0xE0B0];
}

std::optional<GlyphRect> PowerlineRenderer::devicePixelJoinRect(uint32_t codePoint,
                                                                const GlyphRect& cell) {
    const std::optional<Glyph> found = glyph(codePoint);
    if (!found) {
        return std::nullopt;
    }
    const double minX = std::min(cell.x, cell.maxX());
    const double maxX = std::max(cell.x, cell.maxX());
    const double x = found->pointsTo == Direction::right ? minX - 1 : maxX;
    return GlyphRect{x, cell.y, 1, cell.height};
}

std::optional<PowerlineRenderer::Outline>
PowerlineRenderer::outline(uint32_t codePoint, const GlyphRect& cell, double sx, double sy) {
    const std::optional<Glyph> found = glyph(codePoint);
    if (!found || !(sx > 0) || !(sy > 0)) {
        return std::nullopt;
    }
    const double minX = snapDown(cell.x, sx);
    const double maxX = snapUp(cell.maxX(), sx);
    const double minY = snapDown(cell.y, sy);
    const double maxY = snapUp(cell.maxY(), sy);
    const bool right = found->pointsTo == Direction::right;

    Outline outline;
    outline.glyph = *found;
    outline.bounds = {minX, minY, maxX - minX, maxY - minY};
    outline.tip = right ? maxX : minX;
    outline.base = right ? minX : maxX;
    // The middle rounded to a device pixel, a tie going to the upper pixel (y grows downwards).
    outline.tipY = std::ceil(sy * (minY + maxY) / 2 - 0.5 - snapTolerance) / sy;
    const double reach = 4.0 / 3.0 * std::abs(outline.tip - outline.base);
    outline.controlX = right ? outline.base + reach : outline.base - reach;
    const double stripX = right ? snapDown(minX, sx) - 1 / sx : snapUp(maxX, sx);
    const double stripY = snapDown(minY, sy);
    outline.joinStrip = {stripX, stripY, 1 / sx, snapUp(maxY, sy) - stripY};
    return outline;
}

} // namespace veldatron
