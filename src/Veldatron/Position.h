#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace veldatron {

// A cell coordinate: a column and a row, the row a buffer row (0 = the oldest line the ring
// holds) unless an operation says it takes a screen row (0 = the top visible row). Nothing limits
// the values; the operations that consume positions clamp them.
//
//   col  0 1 2 ...            reading order: row first, then column
//   row 0 . . . . .           (9, 2) < (0, 3)
//   row 1 . . . . .
struct Position {
    // Result of compare; the cases in this order.
    enum class compareResult : uint8_t { before, after, equal };

    int64_t col = 0;
    int64_t row = 0;

    static constexpr compareResult compare(const Position& a, const Position& b) {
        if (a.row != b.row) {
            return a.row < b.row ? compareResult::before : compareResult::after;
        }
        if (a.col != b.col) {
            return a.col < b.col ? compareResult::before : compareResult::after;
        }
        return compareResult::equal;
    }

    friend constexpr bool operator==(const Position&, const Position&) = default;
    // Reading order, as compare.
    friend constexpr std::strong_ordering operator<=>(const Position& a, const Position& b) {
        if (auto byRow = a.row <=> b.row; byRow != 0) {
            return byRow;
        }
        return a.col <=> b.col;
    }

    // "col=3 row=7"
    std::string debugDescription() const;
};

} // namespace veldatron
