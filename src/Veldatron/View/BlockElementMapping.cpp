#include "BlockElementMapping.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace veldatron {

namespace {

struct Entry {
    uint8_t count;
    std::array<BlockElementRect, 3> rects;
};

constexpr BlockAlpha F = BlockAlpha::full;
constexpr BlockElementRect upperLeft{0, 4, 0, 4, F};
constexpr BlockElementRect upperRight{4, 8, 0, 4, F};
constexpr BlockElementRect lowerLeft{0, 4, 4, 8, F};
constexpr BlockElementRect lowerRight{4, 8, 4, 8, F};

constexpr Entry one(uint8_t x0, uint8_t x1, uint8_t y0, uint8_t y1, BlockAlpha alpha = F) {
    return {1, {{{x0, x1, y0, y1, alpha}}}};
}

// U+2580 + i; x and y in eighths from the top-left corner.
constexpr std::array<Entry, 32> mapping = {{
    one(0, 8, 0, 4),                            // upper half
    one(0, 8, 7, 8),                            // lower one eighth
    one(0, 8, 6, 8),                            // lower one quarter
    one(0, 8, 5, 8),                            // lower three eighths
    one(0, 8, 4, 8),                            // lower half
    one(0, 8, 3, 8),                            // lower five eighths
    one(0, 8, 2, 8),                            // lower three quarters
    one(0, 8, 1, 8),                            // lower seven eighths
    one(0, 8, 0, 8),                            // full block
    one(0, 7, 0, 8),                            // left seven eighths
    one(0, 6, 0, 8),                            // left three quarters
    one(0, 5, 0, 8),                            // left five eighths
    one(0, 4, 0, 8),                            // left half
    one(0, 3, 0, 8),                            // left three eighths
    one(0, 2, 0, 8),                            // left one quarter
    one(0, 1, 0, 8),                            // left one eighth
    one(4, 8, 0, 8),                            // right half
    one(0, 8, 0, 8, BlockAlpha::light),         // light shade
    one(0, 8, 0, 8, BlockAlpha::medium),        // medium shade
    one(0, 8, 0, 8, BlockAlpha::dark),          // dark shade
    one(0, 8, 0, 1),                            // upper one eighth
    one(7, 8, 0, 8),                            // right one eighth
    {1, {{lowerLeft}}},                         // quadrant lower left
    {1, {{lowerRight}}},                        // quadrant lower right
    {1, {{upperLeft}}},                         // quadrant upper left
    {3, {{upperLeft, lowerLeft, lowerRight}}},  // upper left, lower left, lower right
    {2, {{upperLeft, lowerRight}}},             // upper left and lower right
    {3, {{upperLeft, upperRight, lowerLeft}}},  // upper left, upper right, lower left
    {3, {{upperLeft, upperRight, lowerRight}}}, // upper left, upper right, lower right
    {1, {{upperRight}}},                        // quadrant upper right
    {2, {{upperRight, lowerLeft}}},             // upper right and lower left
    {3, {{upperRight, lowerLeft, lowerRight}}}, // upper right, lower left, lower right
}};

} // namespace

double blockAlphaValue(BlockAlpha alpha) {
    switch (alpha) {
    case BlockAlpha::dark:
        return 0.75;
    case BlockAlpha::medium:
        return 0.5;
    case BlockAlpha::light:
        return 0.25;
    case BlockAlpha::full:
        break;
    }
    return 1.0;
}

std::optional<BlockAlpha> blockAlphaFromValue(double value) {
    for (BlockAlpha alpha :
         {BlockAlpha::full, BlockAlpha::dark, BlockAlpha::medium, BlockAlpha::light}) {
        if (blockAlphaValue(alpha) == value) {
            return alpha;
        }
    }
    return std::nullopt;
}

std::optional<std::span<const BlockElementRect>> BlockElementMapping::rects(uint32_t codePoint) {
    if (codePoint < first || codePoint > last) {
        return std::nullopt;
    }
    const Entry& entry = mapping[codePoint - first];
    return std::span<const BlockElementRect>(entry.rects.data(), entry.count);
}

std::optional<GlyphRect> BlockElementMapping::fillRect(const BlockElementRect& rect,
                                                       const GlyphRect& slot, double scale,
                                                       bool antialias) {
    const double eighthX = slot.width / 8;
    const double eighthY = slot.height / 8;
    double minX = slot.x + eighthX * rect.x0;
    double maxX = slot.x + eighthX * rect.x1;
    double minY = slot.y + eighthY * rect.y0;
    double maxY = slot.y + eighthY * rect.y1;
    if (!antialias && scale > 0) {
        minX = snapDown(minX, scale);
        minY = snapDown(minY, scale);
        maxX = snapUp(maxX, scale);
        maxY = snapUp(maxY, scale);
    }
    const double width = std::max(maxX - minX, 0.0);
    const double height = std::max(maxY - minY, 0.0);
    if (width == 0 || height == 0) {
        return std::nullopt;
    }
    return GlyphRect{minX, minY, width, height};
}

double BlockElementMapping::fillAlpha(const BlockElementRect& rect, double baseAlpha) {
    return std::clamp(baseAlpha * blockAlphaValue(rect.alpha), 0.0, 1.0);
}

} // namespace veldatron
