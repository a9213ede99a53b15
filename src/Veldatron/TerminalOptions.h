#pragma once

#include "BidiPresentationState.h"
#include "Color.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veldatron {

// The six cursor shapes of DECSCUSR (0/1 to 6).
enum class CursorStyle : uint8_t {
    blinkBlock,
    steadyBlock,
    blinkUnderline,
    steadyUnderline,
    blinkBar,
    steadyBar,
};

// Every style, in declaration order.
inline constexpr std::array<CursorStyle, 6> allCursorStyles = {
    CursorStyle::blinkBlock,      CursorStyle::steadyBlock, CursorStyle::blinkUnderline,
    CursorStyle::steadyUnderline, CursorStyle::blinkBar,    CursorStyle::steadyBar,
};
// "blinkBlock", "steadyBar", ...: the case's name.
std::string_view tagName(CursorStyle style);
// "Blinking Block", "Steady Bar", ...: the name shown to a user.
std::string_view displayName(CursorStyle style);
// The style whose tag name is exactly `tag` (case-sensitive); none for any other text.
std::optional<CursorStyle> cursorStyleFromTagName(std::string_view tag);

// Columns of a regional-indicator letter (U+1F1E6..U+1F1FF): `narrow` prints a lone letter one
// column wide and widens a flag pair to two.
enum class RegionalIndicatorWidth : uint8_t { wide, narrow };

// A count that is never below 1: a smaller value stored into it becomes 1.
class CountAtLeastOne {
public:
    constexpr CountAtLeastOne(int value = 1) : m_value(value < 1 ? 1 : value) {}
    constexpr operator int() const { return m_value; }

private:
    int m_value;
};

// The terminal's configuration record, a plain value compared field by field. Assigning a new
// record to a terminal replaces it whole without re-running setup.
struct TerminalOptions {
    // The size setup applies (raised to at least 2 columns and 1 row); resize and the full reset
    // overwrite it.
    int cols = 80;
    int rows = 25;
    // Copied into the line-feed mode by setup and the soft reset.
    bool convertEol = false;
    // Its prefix selects the primary device-attributes answer.
    std::string termName = "xterm-256color";
    // Written by DECSCUSR.
    CursorStyle cursorStyle = CursorStyle::blinkBlock;
    bool screenReaderMode = false;
    // Scrollback lines of a new normal screen; 0 for none.
    int scrollback = 500;
    int tabStopWidth = 8;
    // Whether the primary device attributes advertise sixel.
    bool enableSixelReported = true;
    int64_t kittyImageCacheLimitBytes = 335544320;
    // Generator of palette entries 16-255, and whether colour changes rebuild the palette.
    Ansi256PaletteStrategy ansi256PaletteStrategy = Ansi256PaletteStrategy::base16Lab;
    RegionalIndicatorWidth regionalIndicatorWidth = RegionalIndicatorWidth::wide;
    // The starting bidirectional state, restored by the full and the soft reset.
    BidiPresentationState initialBidiState = BidiPresentationState::Default;
    // The most rows one bidirectional paragraph spans in layout; at least 1.
    CountAtLeastOne maximumBidiParagraphRows = 500;
    // Copied into the terminal at construction and restored by the resets.
    bool initialBidiArrowKeySwap = false;

    friend bool operator==(const TerminalOptions&, const TerminalOptions&) = default;
};

} // namespace veldatron
