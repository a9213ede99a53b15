#pragma once

#include "FontSet.h"
#include "PlatformColor.h"

#include <cstdint>
#include <optional>

namespace veldatron {

/// The underline bits of a run: one line, two lines, and the dot and dash patterns. The six
/// terminal underline styles map onto them; a curly underline is only told apart by the run's
/// `veldatronUnderlineStyle`.
namespace UnderlineBits {
inline constexpr int single = 0x01;
inline constexpr int thick = 0x02;
inline constexpr int double_ = 0x09;
inline constexpr int patternDot = 0x0100;
inline constexpr int patternDash = 0x0200;
inline constexpr int patternDashDot = 0x0300;
inline constexpr int patternDashDotDot = 0x0400;
} // namespace UnderlineBits

/// How one run of a row is drawn: the attributes that the row builder puts on its text and both
/// renderers read back. An absent field is an absent attribute: a run without a foreground takes
/// the view's default foreground, one without an underline style has no underline.
struct RunAttributes {
    FontStyle font = FontStyle::normal;
    std::optional<PlatformColor> foreground;
    std::optional<PlatformColor> background;
    /// Wins over `background` when present: the cell is selected.
    std::optional<PlatformColor> selectionBackground;
    /// UnderlineBits.
    std::optional<int> underlineStyle;
    std::optional<PlatformColor> underlineColor;
    /// The terminal's UnderlineStyle as its raw value (0-5).
    std::optional<int> veldatronUnderlineStyle;
    std::optional<int> strikethroughStyle;
    std::optional<PlatformColor> strikethroughColor;
    /// Cells are already in visual order: the text must be laid out left to right.
    bool leftToRightOverride = false;

    /// The run has an underline or a strike-through to draw.
    bool hasDecorations() const {
        return underlineStyle.has_value() || strikethroughStyle.has_value();
    }
    /// The colour behind the run: the selection's when selected.
    const std::optional<PlatformColor>& drawnBackground() const {
        return selectionBackground ? selectionBackground : background;
    }

    friend bool operator==(const RunAttributes&, const RunAttributes&) = default;
};

} // namespace veldatron
