#pragma once

#include "GlyphRect.h"

#include <cstdint>
#include <optional>
#include <span>

namespace veldatron {

/// The coverage of a block-element rectangle: full, or one of the three shades. Shades are a
/// uniform partial coverage of the rectangle, not dither patterns.
enum class BlockAlpha : uint8_t { full, dark, medium, light };

/// 1.0, 0.75, 0.5 or 0.25.
double blockAlphaValue(BlockAlpha alpha);
/// The coverage with that value; none for any other.
std::optional<BlockAlpha> blockAlphaFromValue(double value);

/// One rectangle of a block element in eighths of the cell, measured from its top-left corner:
/// it covers x0 <= x < x1 and y0 <= y < y1.
struct BlockElementRect {
    uint8_t x0 = 0;
    uint8_t x1 = 0;
    uint8_t y0 = 0;
    uint8_t y1 = 0;
    BlockAlpha alpha = BlockAlpha::full;

    friend bool operator==(const BlockElementRect&, const BlockElementRect&) = default;
};

/// The geometry of the 32 block elements U+2580...U+259F, drawn as exact fractions of the cell
/// so that neighbouring cells join without gaps.
struct BlockElementMapping {
    static constexpr uint32_t first = 0x2580;
    static constexpr uint32_t last = 0x259F;

    /// The rectangles of a block element; none outside the block.
    static std::optional<std::span<const BlockElementRect>> rects(uint32_t codePoint);

    /// Where one rectangle is filled for a slot (`slot`: the cell, or both cells of a wide one)
    /// with `scale` device pixels per unit: its eighths of the slot, snapped outwards to device
    /// pixels unless `antialias`; none when nothing is left to fill.
    static std::optional<GlyphRect> fillRect(const BlockElementRect& rect, const GlyphRect& slot,
                                             double scale, bool antialias);
    /// The alpha a rectangle is filled with for a colour of alpha `baseAlpha`.
    static double fillAlpha(const BlockElementRect& rect, double baseAlpha);
};

} // namespace veldatron
