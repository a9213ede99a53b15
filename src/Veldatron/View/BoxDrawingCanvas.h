#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace veldatron {

/// The line weights of a box-drawing character towards its four sides.
struct Lines {
    enum Weight : uint8_t { none = 0, light = 1, heavy = 2, double_ = 3 };

    Weight up = none;
    Weight right = none;
    Weight down = none;
    Weight left = none;

    /// From up in the lowest byte to left in the highest.
    static Lines fromPacked(uint32_t packed);
    /// The lines of a box-drawing character drawn from its line weights (all of U+2500...U+257F
    /// but the dashed lines, the arcs and the diagonals).
    static std::optional<Lines> forCodePoint(uint32_t codePoint);

    friend bool operator==(const Lines&, const Lines&) = default;
};

/// The rounded corners, named by the two sides they join.
enum class Corner : uint8_t { upLeft, upRight, downLeft, downRight };

/// The geometry of one box-drawing character (U+2500...U+257F) in a cell of `width` x `height`
/// device pixels, as what a painter fills: whole-pixel rectangles (straight lines, without
/// antialiasing, so that neighbouring cells meet without seams at any scale), at most one
/// antialiased ring or disc clipped to a quadrant (the rounded corners) and antialiased
/// diagonal strokes.
///
///   (0,0) +------> x
///         |  cell
///         v y          a rectangle x0,y0,x1,y1 covers x0 <= x < x1 and y0 <= y < y1
///
/// Plain data without Qt: the raster frame paints it (BoxDrawingRenderer) and a GPU glyph atlas
/// can too.
class BoxDrawingCanvas {
public:
    struct PixelRect {
        int x0 = 0;
        int y0 = 0;
        int x1 = 0;
        int y1 = 0;
        friend bool operator==(const PixelRect&, const PixelRect&) = default;
    };
    /// The curve of a rounded corner: the circle of `outerRadius` about (centerX, centerY), less
    /// the one of `innerRadius` when that is positive (a ring, filled even-odd), clipped to
    /// `clip`.
    struct Arc {
        double centerX = 0;
        double centerY = 0;
        double outerRadius = 0;
        double innerRadius = 0;
        double clipX0 = 0;
        double clipY0 = 0;
        double clipX1 = 0;
        double clipY1 = 0;
    };
    /// A straight stroke with butt caps.
    struct Diagonal {
        double x0 = 0;
        double y0 = 0;
        double x1 = 0;
        double y1 = 0;
        double thickness = 0;
    };

    /// The most rectangles a character needs: a double line in all four directions.
    static constexpr int maximumRects = 8;

    /// A cell of at least 1 x 1 pixels at `scale` device pixels per point.
    BoxDrawingCanvas(int width, int height, double scale);

    /// The geometry of `codePoint` with light lines `baseThicknessPx` thick (at least one
    /// rounded device pixel per point); nothing outside U+2500...U+257F.
    static BoxDrawingCanvas forCodePoint(uint32_t codePoint, int width, int height, double scale,
                                         int baseThicknessPx);

    /// What forCodePoint drew (0 for a canvas drawn on by hand): with the size and the scale's
    /// minimum thickness it determines the geometry.
    uint32_t codePoint() const { return m_codePoint; }
    int baseThicknessPx() const { return m_baseThicknessPx; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    double scale() const { return m_scale; }
    /// The thinnest line: one rounded device pixel per point.
    int minimumThicknessPx() const { return m_minPx; }

    const PixelRect* rectsBegin() const { return m_rects.data(); }
    const PixelRect* rectsEnd() const { return m_rects.data() + m_rectCount; }
    int rectCount() const { return m_rectCount; }
    const std::optional<Arc>& arc() const { return m_arc; }
    const Diagonal* diagonalsBegin() const { return m_diagonals.data(); }
    const Diagonal* diagonalsEnd() const { return m_diagonals.data() + m_diagonalCount; }
    int diagonalCount() const { return m_diagonalCount; }
    bool isEmpty() const { return m_rectCount == 0 && !m_arc && m_diagonalCount == 0; }

    /// Fills x0, y0, x1, y1 clamped into the cell; nothing when that is empty.
    void box(int x0, int y0, int x1, int y1);
    void hline(int x1, int x2, int y, int thicknessPx) { box(x1, y, x2, y + thicknessPx); }
    void vline(int y1, int y2, int x, int thicknessPx) { box(x, y1, x + thicknessPx, y2); }
    /// Light, heavy and double lines from the centre to the sides, joined as the weights ask.
    void linesChar(Lines lines, int baseThicknessPx);
    /// `count` (2...4) dashes across the cell with gaps of about `desiredGapPx`; a cell narrower
    /// (shorter) than two pixels per dash gets one solid line of the base thickness.
    void dashHorizontal(int count, int thicknessPx, int desiredGapPx, int baseThicknessPx);
    void dashVertical(int count, int thicknessPx, int desiredGapPx, int baseThicknessPx);
    void arc(Corner corner, int thicknessPx);
    void lightDiagonalUpperRightToLowerLeft(int thicknessPx);
    void lightDiagonalUpperLeftToLowerRight(int thicknessPx);

private:
    void diagonal(bool fromUpperLeft, int thicknessPx);

    uint32_t m_codePoint = 0;
    int m_baseThicknessPx = 0;
    int m_width;
    int m_height;
    double m_scale;
    int m_minPx;
    std::array<PixelRect, maximumRects> m_rects{};
    int m_rectCount = 0;
    std::optional<Arc> m_arc;
    std::array<Diagonal, 2> m_diagonals{};
    int m_diagonalCount = 0;
};

} // namespace veldatron
