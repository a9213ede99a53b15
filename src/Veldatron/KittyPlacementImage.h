#pragma once

#include "TerminalImage.h"

#include <cstdint>
#include <optional>

namespace veldatron {

// An image slice anchored in a row: one row's piece of an inline image, as the host cut it. When
// it belongs to a kitty placement it carries that placement: every slice of one placement carries
// the same fields (the rectangle of the whole placement), only the picture and the row differ.
// Rows hold slices by shared pointer; moving a placement moves the same objects between rows.
//
// The core reads and changes only these fields, never the picture: hosts subclass it to hold
// their own picture of the slice (RgbaImageSlice is the core's).
class KittyPlacementImage : public TerminalImage {
public:
    KittyPlacementImage(int pixelWidth, int pixelHeight, int col)
        : m_pixelWidth(pixelWidth), m_pixelHeight(pixelHeight), m_col(col) {}

    int pixelWidth() const override { return m_pixelWidth; }
    int pixelHeight() const override { return m_pixelHeight; }
    int col() const override { return m_col; }
    void setCol(int col) override { m_col = col; }

    bool kittyIsKitty = false;
    std::optional<uint32_t> kittyImageId;
    std::optional<uint32_t> kittyImageNumber;
    std::optional<uint32_t> kittyPlacementId;
    int64_t kittyZIndex = 0;
    int64_t kittyCol = 0;  // left column of the whole placement
    int64_t kittyRow = 0;  // top row of the whole placement, a ring index
    int64_t kittyCols = 0; // width of the placement in cells
    int64_t kittyRows = 0; // height of the placement in cells
    int64_t kittyPixelOffsetX = 0;
    int64_t kittyPixelOffsetY = 0;

private:
    int m_pixelWidth;
    int m_pixelHeight;
    int m_col;
};

} // namespace veldatron
