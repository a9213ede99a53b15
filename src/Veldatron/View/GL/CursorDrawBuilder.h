#pragma once

#include "DrawRecords.h"
#include "GlyphProvider.h"
#include "IRendererHost.h"

namespace veldatron {

/// The cursor's vertices for one frame: its rectangles in the caret colour, and under a block
/// the cell's glyph repainted in the caret text colour, cut to the block.
struct CursorDrawData {
    std::vector<ColorVertex> colorVertices;
    std::vector<GlyphVertex> glyphVerticesGray;
    std::vector<GlyphVertex> glyphVerticesColor;
};

/// Builds the cursor of the host's terminal: a hollow box when unfocused, else an underline, a
/// bar or a block (with its glyph) by the cursor style; nothing when the cursor is hidden, in
/// its blink's off phase, waiting at the right margin, or on a row this frame does not draw
/// (`firstRow`...`lastRow`, absolute rows). Lengths are logical pixels; records are device
/// pixels with y up.
CursorDrawData buildCursorDrawData(IRendererHost& host, GlyphProvider& glyphs, bool cursorBlinkOn,
                                   double scale, double cellWidth, double cellHeight,
                                   double lineDescent, double lineLeading, int yDisp,
                                   int firstRow, int lastRow);

} // namespace veldatron
