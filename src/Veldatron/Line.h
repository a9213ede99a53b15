#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldatron {

// One piece of selected text: a row's selected span, or the line break that ends a logical line.
struct LineFragment {
    // The characters of the span (UTF-8); "\n" for a line break; absent counts as empty.
    std::optional<std::string> text;
    // The buffer row the piece comes from (for a line break, the last row of its logical line).
    int64_t line = 0;
    // The first column of the piece; -1 for a line break.
    int64_t location = 0;
    // The number of characters (one per cell) of `text`; 1 for a line break.
    int64_t length = 0;

    friend bool operator==(const LineFragment&, const LineFragment&) = default;
};

// The selected text of one logical line (a row and the wrapped rows that continue it), as the
// terminal's text extraction hands it over: one fragment per row, then a line break when another
// logical line follows.
class Line {
public:
    void add(LineFragment fragment);

    const std::vector<LineFragment>& fragments() const { return m_fragments; }
    // The sum of the fragments' lengths.
    int64_t length() const { return m_length; }

    // "[]" when empty, else "2/4: [abc][\n][" (count, length, then each text and "][").
    std::string debugDescription() const;

private:
    std::vector<LineFragment> m_fragments;
    int64_t m_length = 0;
};

} // namespace veldatron
