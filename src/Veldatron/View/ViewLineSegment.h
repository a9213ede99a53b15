#pragma once

#include "AttributedText.h"
#include "BlockElementMapping.h"
#include "BufferLine.h"
#include "KittyPlaceholder.h"
#include "PlatformColor.h"

#include <optional>
#include <span>
#include <vector>

namespace veldatron {

/// A stretch of a laid-out row whose cells all have one width. Cell k of the segment starts at
/// visual column `column + k * columnWidth`, so a renderer places its glyphs on a uniform grid.
/// Consecutive cells drawn alike share one run of the text.
struct ViewLineSegment {
    int column = 0;
    /// Columns of every cell of the segment (1 or 2).
    int columnWidth = 1;
    /// Pieces appended to the segment (runs of text, isolated clusters, custom-glyph spaces).
    int characterCount = 0;
    AttributedText attributedString;
    /// For each UTF-16 unit of the text, the ordinal (0, 1, 2, ...) of its cell in the segment.
    std::vector<int> utf16ToCellOrdinal;
    /// Every cell gave exactly one UTF-16 unit: unit i belongs to cell i.
    bool utf16IsCellIdentity = true;
};

/// A cell drawn as shapes rather than from the font: a block element (with its rectangles), a
/// box-drawing character or a powerline separator. The row's text holds a space in its place.
struct CustomGlyphRenderItem {
    /// The visual column of the cell's first column.
    int column = 0;
    /// 1, or 2 for a wide cell: the shape spreads over both columns.
    int columnWidth = 1;
    uint32_t codePoint = 0;
    /// The run's foreground, or the view's default foreground when the run has none.
    PlatformColor foregroundColor;
};

struct BlockElementRenderItem : CustomGlyphRenderItem {
    std::span<const BlockElementRect> rects;
};
struct BoxDrawingRenderItem : CustomGlyphRenderItem {};
struct PowerlineRenderItem : CustomGlyphRenderItem {};

/// One buffer row laid out for drawing: the contract between the row builder and the renderers.
struct ViewLineInfo {
    /// The row's text, left to right in drawing order.
    std::vector<ViewLineSegment> segments;
    /// The row's attached images, passed through unchanged.
    std::optional<BufferLine::Images> images;
    /// Cells that are kitty Unicode placeholders: each shows a slice of a stored image. The
    /// row's text holds a space in their place.
    std::vector<KittyPlaceholderCell> kittyPlaceholders;
    std::vector<BlockElementRenderItem> blockElements;
    std::vector<BoxDrawingRenderItem> boxDrawings;
    std::vector<PowerlineRenderItem> powerlineGlyphs;
};

} // namespace veldatron
