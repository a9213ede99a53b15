#pragma once

#include <QtGlobal>

#include <limits>

namespace veldatron {

/// A range of UTF-16 units in the view's text input: the composition of an input method, the
/// caret's place in the screen's text. `location` notFound means no range.
struct TextRange {
    static constexpr qsizetype notFound = std::numeric_limits<qsizetype>::max();

    qsizetype location = notFound;
    qsizetype length = 0;

    friend bool operator==(const TextRange&, const TextRange&) = default;
};

} // namespace veldatron
