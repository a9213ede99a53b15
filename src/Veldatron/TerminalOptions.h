#pragma once

#include "BidiPresentationState.h"
#include "Color.h"

#include <cstdint>
#include <string>

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

// Columns of a regional-indicator letter (U+1F1E6..U+1F1FF): `narrow` prints a lone letter one
// column wide and widens a flag pair to two.
enum class RegionalIndicatorWidth : uint8_t { wide, narrow };

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
    // At least 1.
    int maximumBidiParagraphRows = 500;
    // Copied into the terminal at construction and restored by the resets.
    bool initialBidiArrowKeySwap = false;

    friend bool operator==(const TerminalOptions&, const TerminalOptions&) = default;
};

} // namespace veldatron
