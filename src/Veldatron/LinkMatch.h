#pragma once

// Values of the link lookup at a cell: where to look, what to look for, and the link found, with
// every row it covers. Rows are buffer rows (0 = the oldest line the screen keeps), columns are
// cells.

#include "Position.h"

#include <cstdint>
#include <string>
#include <vector>

namespace veldatron {

// A cell to look up: a buffer position, or a viewport position (its row counted from the top
// visible row).
struct LinkLookupLocation {
    enum class Kind : uint8_t { buffer, screen };

    static constexpr LinkLookupLocation buffer(Position position) {
        return {Kind::buffer, position};
    }
    static constexpr LinkLookupLocation screen(Position position) {
        return {Kind::screen, position};
    }

    Kind kind = Kind::buffer;
    Position position;

    friend constexpr bool operator==(const LinkLookupLocation&,
                                     const LinkLookupLocation&) = default;
};

// Explicit links only (OSC 8), or links detected in the text too.
enum class LinkLookupMode : uint8_t { explicitOnly, explicitAndImplicit };

// Columns start..<end of a row.
struct ColumnRange {
    int start = 0;
    int end = 0;

    constexpr bool isEmpty() const { return end <= start; }
    constexpr bool contains(int column) const { return column >= start && column < end; }
    friend constexpr bool operator==(const ColumnRange&, const ColumnRange&) = default;
};

// The link at a cell.
struct LinkMatch {
    // The columns a link covers on one row.
    struct RowRange {
        int row = 0;
        ColumnRange range;
        friend constexpr bool operator==(const RowRange&, const RowRange&) = default;
    };

    // The URI of an explicit link, the matched text of a detected one (UTF-8).
    std::string text;
    // The row of the cell looked up, and the link's columns on it.
    int row = 0;
    ColumnRange range;
    bool isExplicit = false;
    // Every row the link touches, top to bottom (a detected link may run over several rows; an
    // explicit one never does).
    std::vector<RowRange> rowRanges;

    friend bool operator==(const LinkMatch&, const LinkMatch&) = default;
};

// The cell one UTF-16 unit of a joined line came from, and that cell's width (at least 1).
struct ImplicitCellRef {
    int row = 0;
    int col = 0;
    int width = 1;
    friend constexpr bool operator==(const ImplicitCellRef&, const ImplicitCellRef&) = default;
};

// A logical line joined into one text for link detection: one cell reference per UTF-16 unit of
// `text` (a cluster of several units, or a character outside the BMP, maps each unit to its
// cell), and the cell that was looked up. Mapping by unit keeps the regular expression's offsets
// and the cells aligned even where neighbouring cells join into one grapheme in the text.
struct ImplicitLineMap {
    std::u16string text;
    std::vector<ImplicitCellRef> cells;
    int row = 0;
    int col = 0;
};

} // namespace veldatron
