#pragma once

// Option values the tools share.

#include "TerminalFixture.h"

#include <optional>
#include <string>

namespace veldatron::testing {

// A decimal count within min..max; none for anything else (a sign, a space, too many digits).
inline std::optional<int> parseCount(const std::string& text, int min, int max) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos) {
        return std::nullopt;
    }
    const int value = std::stoi(text);
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

// "--cols N" and "--rows N": true when `arg` is one of them and `value` a size the terminal
// takes, which is then stored in `spec`.
inline bool takeSizeOption(const std::string& arg, const std::string& value, TerminalSpec& spec) {
    constexpr int largest = 10000;
    if (arg == "--cols") {
        const std::optional<int> n = parseCount(value, Terminal::MINIMUM_COLS, largest);
        spec.cols = n.value_or(spec.cols);
        return n.has_value();
    }
    if (arg == "--rows") {
        const std::optional<int> n = parseCount(value, Terminal::MINIMUM_ROWS, largest);
        spec.rows = n.value_or(spec.rows);
        return n.has_value();
    }
    return false;
}

} // namespace veldatron::testing
