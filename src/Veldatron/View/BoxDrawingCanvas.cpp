#include "BoxDrawingCanvas.h"
#include "ViewUnicodeTables.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace veldatron {

Lines Lines::fromPacked(uint32_t packed) {
    const auto weight = [&](int shift) { return Weight((packed >> shift) & 0x3); };
    return {weight(0), weight(8), weight(16), weight(24)};
}

std::optional<Lines> Lines::forCodePoint(uint32_t codePoint) {
    if (codePoint < 0x2500 || codePoint > 0x257F) {
        return std::nullopt;
    }
    const uint32_t packed = ucd::boxDrawingLines[codePoint - 0x2500];
    if (packed == 0) {
        return std::nullopt;
    }
    return fromPacked(packed);
}

BoxDrawingCanvas::BoxDrawingCanvas(int width, int height, double scale)
    : m_width(std::max(width, 1)), m_height(std::max(height, 1)), m_scale(scale),
      m_minPx(std::max(int(std::round(scale)), 1)) {}

namespace {

struct Dash {
    uint32_t codePoint;
    bool horizontal;
    int count;
    bool heavy;
    // The desired gap: max(L, 4), L or 2L for a light thickness L.
    enum Gap : uint8_t { atLeastFour, light, heavyGap } gap;
};

constexpr Dash dashes[] = {
    {0x2504, true, 3, false, Dash::atLeastFour},  {0x2505, true, 3, true, Dash::atLeastFour},
    {0x2506, false, 3, false, Dash::atLeastFour}, {0x2507, false, 3, true, Dash::atLeastFour},
    {0x2508, true, 4, false, Dash::atLeastFour},  {0x2509, true, 4, true, Dash::atLeastFour},
    {0x250A, false, 4, false, Dash::atLeastFour}, {0x250B, false, 4, true, Dash::atLeastFour},
    {0x254C, true, 2, false, Dash::light},        {0x254D, true, 2, true, Dash::heavyGap},
    {0x254E, false, 2, false, Dash::heavyGap},    {0x254F, false, 2, true, Dash::heavyGap},
};

} // namespace

BoxDrawingCanvas BoxDrawingCanvas::forCodePoint(uint32_t codePoint, int width, int height,
                                                double scale, int baseThicknessPx) {
    BoxDrawingCanvas canvas(width, height, scale);
    if (codePoint < 0x2500 || codePoint > 0x257F) {
        return canvas;
    }
    canvas.m_codePoint = codePoint;
    canvas.m_baseThicknessPx = baseThicknessPx;
    // The light thickness; heavy lines are twice as thick.
    const int L = std::max(baseThicknessPx, canvas.m_minPx);
    for (const Dash& dash : dashes) {
        if (dash.codePoint != codePoint) {
            continue;
        }
        const int thickness = dash.heavy ? 2 * L : L;
        const int gap = dash.gap == Dash::atLeastFour ? std::max(L, 4)
                        : dash.gap == Dash::light     ? L
                                                      : 2 * L;
        if (dash.horizontal) {
            canvas.dashHorizontal(dash.count, thickness, gap, baseThicknessPx);
        } else {
            canvas.dashVertical(dash.count, thickness, gap, baseThicknessPx);
        }
        return canvas;
    }
    switch (codePoint) {
    case 0x256D:
        canvas.arc(Corner::downRight, L);
        break;
    case 0x256E:
        canvas.arc(Corner::downLeft, L);
        break;
    case 0x256F:
        canvas.arc(Corner::upLeft, L);
        break;
    case 0x2570:
        canvas.arc(Corner::upRight, L);
        break;
    case 0x2571:
        canvas.lightDiagonalUpperRightToLowerLeft(L);
        break;
    case 0x2572:
        canvas.lightDiagonalUpperLeftToLowerRight(L);
        break;
    case 0x2573:
        canvas.lightDiagonalUpperRightToLowerLeft(L);
        canvas.lightDiagonalUpperLeftToLowerRight(L);
        break;
    default:
        if (const std::optional<Lines> lines = Lines::forCodePoint(codePoint)) {
            canvas.linesChar(*lines, baseThicknessPx);
        }
        break;
    }
    return canvas;
}

void BoxDrawingCanvas::box(int x0, int y0, int x1, int y1) {
    x0 = std::clamp(x0, 0, m_width);
    x1 = std::clamp(x1, 0, m_width);
    y0 = std::clamp(y0, 0, m_height);
    y1 = std::clamp(y1, 0, m_height);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    assert(m_rectCount < maximumRects);
    if (m_rectCount < maximumRects) {
        m_rects[size_t(m_rectCount++)] = {x0, y0, x1, y1};
    }
}

void BoxDrawingCanvas::linesChar(Lines lines, int baseThicknessPx) {
    const int W = m_width;
    const int H = m_height;
    const int L = std::max({baseThicknessPx, m_minPx, 1});
    // Bands, each from its first pixel to the one past its last:
    //   light horizontal m..o, heavy horizontal h..l, light vertical w..M, heavy vertical u..v;
    //   a double line is two light lines, one light thickness either side of the light band.
    const int m = std::max(H - L, 0) / 2;
    const int o = std::min(m + L, H);
    const int h = std::max(H - 2 * L, 0) / 2;
    const int l = std::min(h + 2 * L, H);
    const int w = std::max(W - L, 0) / 2;
    const int M = std::min(w + L, W);
    const int u = std::max(W - 2 * L, 0) / 2;
    const int v = std::min(u + 2 * L, W);
    const int aboveM = std::max(m - L, 0);
    const int belowO = std::min(o + L, H);
    const int leftOfW = std::max(w - L, 0);
    const int rightOfM = std::min(M + L, W);

    using enum Lines::Weight;
    const auto [up, right, down, left] = lines;

    // Where the vertical strokes stop: up ends at R, down starts at Q.
    int R = o;
    int Q = m;
    if (left == heavy || right == heavy) {
        R = l;
        Q = h;
    } else if (left != right || up == down) {
        if (left == double_ || right == double_) {
            R = belowO;
            Q = aboveM;
        }
    } else if (left != none || right != none) {
        R = m;
        Q = o;
    }
    // Where the horizontal strokes stop: left ends at X, right starts at S.
    int X = M;
    int S = w;
    if (up == heavy || down == heavy) {
        X = v;
        S = u;
    } else if (up == down && left != right) {
        if (up != none || down != none) {
            X = w;
            S = M;
        }
    } else if (up == double_ || down == double_) {
        X = rightOfM;
        S = leftOfW;
    }

    switch (up) {
    case light:
        box(w, 0, M, R);
        break;
    case heavy:
        box(u, 0, v, R);
        break;
    case double_:
        box(leftOfW, 0, w, left == double_ ? m : R);
        box(M, 0, rightOfM, right == double_ ? m : R);
        break;
    case none:
        break;
    }
    switch (right) {
    case light:
        box(S, m, W, o);
        break;
    case heavy:
        box(S, h, W, l);
        break;
    case double_:
        box(up == double_ ? M : S, aboveM, W, m);
        box(down == double_ ? M : S, o, W, belowO);
        break;
    case none:
        break;
    }
    switch (down) {
    case light:
        box(w, Q, M, H);
        break;
    case heavy:
        box(u, Q, v, H);
        break;
    case double_:
        box(leftOfW, left == double_ ? o : Q, w, H);
        box(M, right == double_ ? o : Q, rightOfM, H);
        break;
    case none:
        break;
    }
    switch (left) {
    case light:
        box(0, m, X, o);
        break;
    case heavy:
        box(0, h, X, l);
        break;
    case double_:
        box(0, aboveM, up == double_ ? w : X, m);
        box(0, o, down == double_ ? w : X, belowO);
        break;
    case none:
        break;
    }
}

void BoxDrawingCanvas::dashHorizontal(int count, int thicknessPx, int desiredGapPx,
                                      int baseThicknessPx) {
    if (count < 2 || count > 4) {
        return;
    }
    const int W = m_width;
    const int H = m_height;
    if (W < 2 * count) {
        const int B = std::max(baseThicknessPx, 1);
        const int y = std::max(H - B, 0) / 2;
        box(0, y, W, y + B);
        return;
    }
    const int gap = std::min(W / (2 * count), desiredGapPx);
    const int dash = (W - count * gap) / count;
    int extra = (W - count * gap) % count;
    const int y = std::max(H - thicknessPx, 0) / 2;
    int x = gap / 2;
    for (int i = 0; i < count; ++i) {
        int length = dash;
        if (extra > 0) {
            ++length;
            --extra;
        }
        box(x, y, x + length, y + thicknessPx);
        x += length + gap;
    }
}

void BoxDrawingCanvas::dashVertical(int count, int thicknessPx, int desiredGapPx,
                                    int baseThicknessPx) {
    if (count < 2 || count > 4) {
        return;
    }
    const int W = m_width;
    const int H = m_height;
    if (H < 2 * count) {
        const int B = std::max(baseThicknessPx, 1);
        const int x = std::max(W - B, 0) / 2;
        box(x, 0, x + B, H);
        return;
    }
    const int gap = std::min(H / (2 * count), desiredGapPx);
    const int dash = (H - count * gap) / count;
    int extra = (H - count * gap) % count;
    const int x = std::max(W - thicknessPx, 0) / 2;
    // No half gap at the top, unlike the horizontal dashes.
    int y = 0;
    for (int i = 0; i < count; ++i) {
        int length = dash;
        if (extra > 0) {
            ++length;
            --extra;
        }
        const int end = std::min(y + length, H);
        box(x, y, x + thicknessPx, end);
        y = end + gap;
    }
}

void BoxDrawingCanvas::arc(Corner corner, int thicknessPx) {
    const int W = m_width;
    const int H = m_height;
    const int T = std::max(thicknessPx, 1);
    const int C = std::max(W - T, 0) / 2;
    const int m = std::max(H - T, 0) / 2;
    const double cx = C + T / 2.0;
    const double cy = m + T / 2.0;
    const double s = std::min(W, H);
    const double R = std::min(0.3 * s, std::max(0.5 * s - T / 2.0, 0.0));
    const bool up = corner == Corner::upLeft || corner == Corner::upRight;
    const bool left = corner == Corner::upLeft || corner == Corner::downLeft;

    // The straight parts, from the sides to where the curve takes over.
    if (up) {
        vline(0, std::clamp(int(std::ceil(cy - R)), 0, H), C, T);
    } else {
        vline(std::clamp(int(std::floor(cy + R)), 0, H), H, C, T);
    }
    if (left) {
        hline(0, std::clamp(int(std::ceil(cx - R)), 0, W), m, T);
    } else {
        hline(std::clamp(int(std::floor(cx + R)), 0, W), W, m, T);
    }

    const double outer = R + T / 2.0;
    if (!(outer > 0)) {
        return;
    }
    Arc arc;
    arc.centerX = left ? cx - R : cx + R;
    arc.centerY = up ? cy - R : cy + R;
    arc.outerRadius = outer;
    arc.innerRadius = std::max(R - T / 2.0, 0.0);
    // The quadrant of the ring that faces the two straight parts.
    arc.clipX0 = left ? arc.centerX : 0;
    arc.clipX1 = left ? W : arc.centerX;
    arc.clipY0 = up ? arc.centerY : 0;
    arc.clipY1 = up ? H : arc.centerY;
    m_arc = arc;
}

void BoxDrawingCanvas::lightDiagonalUpperRightToLowerLeft(int thicknessPx) {
    diagonal(false, thicknessPx);
}

void BoxDrawingCanvas::lightDiagonalUpperLeftToLowerRight(int thicknessPx) {
    diagonal(true, thicknessPx);
}

void BoxDrawingCanvas::diagonal(bool fromUpperLeft, int thicknessPx) {
    const double W = m_width;
    const double H = m_height;
    // The stroke reaches half a pixel's diagonal step beyond the corners, so that diagonals in
    // neighbouring cells meet.
    const double e = std::min(W / H, 1.0);
    const double f = std::min(H / W, 1.0);
    int t = std::max(thicknessPx, m_minPx);
    if (t > 1) {
        ++t;
    }
    Diagonal diagonal;
    diagonal.x0 = fromUpperLeft ? -e / 2 : W + e / 2;
    diagonal.y0 = -f / 2;
    diagonal.x1 = fromUpperLeft ? W + e / 2 : -e / 2;
    diagonal.y1 = H + f / 2;
    diagonal.thickness = t;
    if (m_diagonalCount < int(m_diagonals.size())) {
        m_diagonals[size_t(m_diagonalCount++)] = diagonal;
    }
}

} // namespace veldatron
