#pragma once

#include "BidiPresentationState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldatron {

/// One cell of a row in visual order.
struct BidiCell {
    /// The cell's first logical column.
    int logicalCol = 0;
    /// Columns it covers.
    int width = 1;
    /// What to draw instead of the cell's own character: a shaped Arabic form (with the cell's
    /// marks), a lam-alef ligature, a space standing for the ligature's second cell, or a mirrored
    /// character. None: the cell's own character.
    std::optional<std::u32string> display;

    friend bool operator==(const BidiCell&, const BidiCell&) = default;
};

/// How one row is drawn: its cells left to right, and where each column goes.
struct BidiRowLayout {
    /// Left to right; their widths add up to the column count.
    std::vector<BidiCell> visualCells;
    /// For each logical column, the visual column it is drawn at.
    std::vector<int> logicalToVisualCol;
    /// For each visual column, the first logical column of the cell drawn there.
    std::vector<int> visualToLogicalCol;
    BidiDirection baseDirection = BidiDirection::leftToRight;
    /// The paragraph's revision for a paragraph layout; the line's generation for a row laid out
    /// on its own (explicit mode).
    uint64_t paragraphRevision = 0;

    friend bool operator==(const BidiRowLayout&, const BidiRowLayout&) = default;
};

} // namespace veldatron
