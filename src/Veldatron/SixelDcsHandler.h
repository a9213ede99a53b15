#pragma once

#include "DcsHandler.h"

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace veldatron {

class Terminal;

// Decodes the sixel picture of one DCS q string into a straight RGBA bitmap and hands it to the
// terminal's host (createImageFromBitmap), which places it at the cursor. The terminal owns one
// and the parser routes every sixel string to it: `hook` starts a string, `put` collects its bytes
// (the parser caps a string's length), `unhook` decodes and delivers, an empty picture included.
//
// Decoding runs in two passes from the first "#": sizing finds the width and the deepest painted
// pixel row, painting fills the bitmap. Colour registers are defined in RGB or HLS by the picture
// itself; an undefined register paints the terminal's default palette colour, or nothing beyond
// it. Numbers saturate, the picture is clipped to 10000 x 10000 pixels and repeats to the width
// left, and painting stops after a few times the picture's area of pixels: hostile data costs
// bounded time and memory and still yields a picture.
class SixelDcsHandler final : public DcsHandler {
public:
    static constexpr int64_t maxSide = 10000;

    explicit SixelDcsHandler(Terminal& terminal) : m_terminal(terminal) {}

    void hook(std::span<const uint8_t> collect, const ParserParams& parameters,
              uint8_t flag) override;
    void put(std::span<const uint8_t> data) override;
    void unhook() override;

    // The colour of an HLS definition (hue 0-360 with blue at 0, lightness and saturation
    // 0-100): red << 16 | green << 8 | blue.
    static uint32_t hls_to_rgb(int64_t hue, int64_t lum, int64_t sat);

private:
    // One pass over the picture; `paint` false only sizes it.
    void pass(bool paint);
    // A colour definition or selection ("#" and its numbers) at `at`; false ends the pass.
    bool colourCommand(size_t& at, bool paint);
    void updatePaletteEntry(const std::vector<int64_t>& numbers);
    // The four bytes a register paints.
    uint32_t registerColour(int64_t reg) const;
    void sixel(uint8_t bits, int64_t count, bool paint);

    Terminal& m_terminal;
    std::vector<uint8_t> m_data;
    std::map<int64_t, uint32_t> m_palette; // red << 24 | green << 16 | blue << 8 | alpha
    std::vector<uint8_t> m_pixels;
    int64_t m_x = 0;
    int64_t m_y = 0;
    int64_t m_maxX = 0;
    int64_t m_maxY = 0;
    uint32_t m_colour = 0;
    int64_t m_paintBudget = 0;
};

} // namespace veldatron
