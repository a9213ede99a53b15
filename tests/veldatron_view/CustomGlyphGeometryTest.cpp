// The geometry of the custom glyphs (box drawing, block elements, powerline separators) as
// numbers: device-pixel rectangles, snapped edges, outlines. The pixels they paint are in
// CustomGlyphPixelTest.

#include "BlockElementMapping.h"
#include "BoxDrawingCanvas.h"
#include "BoxDrawingRenderer.h"
#include "PowerlineRenderer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

using namespace veldatron;

namespace veldatron {
void PrintTo(const BoxDrawingCanvas::PixelRect& r, std::ostream* out) {
    *out << "(" << r.x0 << ", " << r.y0 << ", " << r.x1 << ", " << r.y1 << ")";
}
void PrintTo(const GlyphRect& r, std::ostream* out) {
    *out << "{" << r.x << ", " << r.y << ", " << r.width << " x " << r.height << "}";
}
} // namespace veldatron

namespace {

using Rect = BoxDrawingCanvas::PixelRect;

std::vector<Rect> rectsOf(uint32_t codePoint, int width, int height, int base, double scale = 1) {
    const BoxDrawingCanvas canvas =
        BoxDrawingCanvas::forCodePoint(codePoint, width, height, scale, base);
    return {canvas.rectsBegin(), canvas.rectsEnd()};
}

TEST(BoxDrawingGeometry, LinesMeetAtTheCentreOfTheCell) {
    struct Case {
        uint32_t codePoint;
        int width, height, base;
        std::vector<Rect> rects;
    };
    const Case cases[] = {
        // The two halves of a horizontal line overlap in the middle.
        {0x2500, 10, 20, 2, {{4, 9, 10, 11}, {0, 9, 6, 11}}},
        {0x2502, 10, 20, 2, {{4, 0, 6, 11}, {4, 9, 6, 20}}},
        {0x2550, 10, 20, 2, {{4, 7, 10, 9}, {4, 11, 10, 13}, {0, 7, 6, 9}, {0, 11, 6, 13}}},
        // Heavy lines are twice as thick.
        {0x2501, 10, 20, 2, {{4, 8, 10, 12}, {0, 8, 6, 12}}},
        // A light corner: both strokes stop at the far edge of the other's band.
        {0x250C, 10, 20, 2, {{4, 9, 10, 11}, {4, 9, 6, 20}}},
        // Down heavy, right light: the light line runs into the heavy one.
        {0x250E, 10, 20, 2, {{3, 9, 10, 11}, {3, 9, 7, 20}}},
        // A double corner: the outer strokes go round, the inner ones stop short.
        {0x2554, 10, 20, 2, {{2, 7, 10, 9}, {6, 11, 10, 13}, {2, 7, 4, 20}, {6, 11, 8, 20}}},
        // Crossing of double lines: four corners, none through the centre.
        {0x256C,
         10,
         20,
         2,
         {{2, 0, 4, 9},
          {6, 0, 8, 9},
          {6, 7, 10, 9},
          {6, 11, 10, 13},
          {2, 11, 4, 20},
          {6, 11, 8, 20},
          {0, 7, 4, 9},
          {0, 11, 4, 13}}},
        // A half line ends at the far side of the centre band.
        {0x2574, 10, 20, 2, {{0, 9, 6, 11}}},
        // A base thickness below one rounded pixel per point is raised to it.
        {0x2500, 20, 40, 1, {{9, 19, 20, 21}, {0, 19, 11, 21}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "U+" << c.codePoint);
        const double scale = c.base == 1 ? 2 : 1;
        EXPECT_EQ(rectsOf(c.codePoint, c.width, c.height, c.base, scale), c.rects);
    }
}

TEST(BoxDrawingGeometry, DashesShareTheCellWithEvenGaps) {
    struct Case {
        uint32_t codePoint;
        int width, height, base;
        std::vector<Rect> rects;
    };
    const Case cases[] = {
        // Gap min(12 / 6, 4) = 2, half of it before the first dash.
        {0x2504, 12, 20, 2, {{1, 9, 3, 11}, {5, 9, 7, 11}, {9, 9, 11, 11}}},
        // Vertical dashes start at the top; gap min(30 / 6, 4) = 4.
        {0x2506, 9, 30, 1, {{4, 0, 5, 6}, {4, 10, 5, 16}, {4, 20, 5, 26}}},
        // The remainder lengthens the first dashes by a pixel each.
        {0x2504, 13, 20, 2, {{1, 9, 4, 11}, {6, 9, 8, 11}, {10, 9, 12, 11}}},
        // Fewer than two pixels per dash: one solid line of the base thickness.
        {0x2508, 7, 20, 1, {{0, 9, 7, 10}}},
        {0x2509, 7, 20, 1, {{0, 9, 7, 10}}},
        {0x250A, 9, 7, 1, {{4, 0, 5, 7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "U+" << c.codePoint << std::dec << " in "
                                        << c.width << " x " << c.height);
        EXPECT_EQ(rectsOf(c.codePoint, c.width, c.height, c.base), c.rects);
    }
}

TEST(BoxDrawingGeometry, RoundedCornersAreAQuarterRingJoiningTwoStraightParts) {
    // 10 x 20, L 2: the centre lines are at x 5 and y 10, the radius 3.
    const BoxDrawingCanvas down =
        BoxDrawingCanvas::forCodePoint(0x256D, 10, 20, 1, 2); // down and right
    EXPECT_EQ(std::vector<Rect>(down.rectsBegin(), down.rectsEnd()),
              (std::vector<Rect>{{4, 13, 6, 20}, {8, 9, 10, 11}}));
    ASSERT_TRUE(down.arc());
    EXPECT_DOUBLE_EQ(down.arc()->centerX, 8);
    EXPECT_DOUBLE_EQ(down.arc()->centerY, 13);
    EXPECT_DOUBLE_EQ(down.arc()->outerRadius, 4);
    EXPECT_DOUBLE_EQ(down.arc()->innerRadius, 2);
    // Clipped to the quadrant above and left of the centre.
    EXPECT_EQ(down.arc()->clipX0, 0);
    EXPECT_EQ(down.arc()->clipX1, 8);
    EXPECT_EQ(down.arc()->clipY0, 0);
    EXPECT_EQ(down.arc()->clipY1, 13);

    const BoxDrawingCanvas up = BoxDrawingCanvas::forCodePoint(0x256F, 10, 20, 1, 2); // up, left
    EXPECT_EQ(std::vector<Rect>(up.rectsBegin(), up.rectsEnd()),
              (std::vector<Rect>{{4, 0, 6, 7}, {0, 9, 2, 11}}));
    ASSERT_TRUE(up.arc());
    EXPECT_DOUBLE_EQ(up.arc()->centerX, 2);
    EXPECT_DOUBLE_EQ(up.arc()->centerY, 7);
    EXPECT_EQ(up.arc()->clipX0, 2);
    EXPECT_EQ(up.arc()->clipX1, 10);
    EXPECT_EQ(up.arc()->clipY0, 7);
    EXPECT_EQ(up.arc()->clipY1, 20);

    // A ring too thin for a hole is a disc.
    const BoxDrawingCanvas thick = BoxDrawingCanvas::forCodePoint(0x2570, 4, 8, 1, 3);
    ASSERT_TRUE(thick.arc());
    EXPECT_EQ(thick.arc()->innerRadius, 0);
}

TEST(BoxDrawingGeometry, DiagonalsRunCornerToCornerAndThickenByAPixel) {
    const BoxDrawingCanvas cross = BoxDrawingCanvas::forCodePoint(0x2573, 10, 20, 1, 2);
    ASSERT_EQ(cross.diagonalCount(), 2);
    const BoxDrawingCanvas::Diagonal& rising = cross.diagonalsBegin()[0];
    EXPECT_DOUBLE_EQ(rising.x0, 10.25);
    EXPECT_DOUBLE_EQ(rising.y0, -0.5);
    EXPECT_DOUBLE_EQ(rising.x1, -0.25);
    EXPECT_DOUBLE_EQ(rising.y1, 20.5);
    EXPECT_EQ(rising.thickness, 3);
    const BoxDrawingCanvas::Diagonal& falling = cross.diagonalsBegin()[1];
    EXPECT_DOUBLE_EQ(falling.x0, -0.25);
    EXPECT_DOUBLE_EQ(falling.x1, 10.25);
    EXPECT_EQ(cross.rectCount(), 0);
    // One pixel stays one pixel.
    EXPECT_EQ(BoxDrawingCanvas::forCodePoint(0x2571, 10, 20, 1, 1).diagonalsBegin()->thickness, 1);
}

TEST(BoxDrawingGeometry, EveryCharacterOfTheBlockDrawsInsideItsCell) {
    for (uint32_t cp = 0x2500; cp <= 0x257F; ++cp) {
        for (const auto& [w, h] : {std::pair(9, 19), std::pair(2, 3), std::pair(1, 1)}) {
            SCOPED_TRACE(testing::Message()
                         << std::hex << "U+" << cp << std::dec << " " << w << " x " << h);
            const BoxDrawingCanvas canvas = BoxDrawingCanvas::forCodePoint(cp, w, h, 1, 1);
            EXPECT_FALSE(canvas.isEmpty() && w > 1);
            for (auto r = canvas.rectsBegin(); r != canvas.rectsEnd(); ++r) {
                EXPECT_LT(r->x0, r->x1);
                EXPECT_LT(r->y0, r->y1);
                EXPECT_GE(r->x0, 0);
                EXPECT_GE(r->y0, 0);
                EXPECT_LE(r->x1, w);
                EXPECT_LE(r->y1, h);
            }
        }
    }
    EXPECT_TRUE(BoxDrawingCanvas::forCodePoint(0x2580, 9, 19, 1, 1).isEmpty());
    EXPECT_TRUE(BoxDrawingCanvas::forCodePoint(0x24FF, 9, 19, 1, 1).isEmpty());
}

TEST(BoxDrawingLines, WeightsFollowTheCharacterNames) {
    using W = Lines::Weight;
    struct Case {
        uint32_t codePoint;
        Lines lines; // up, right, down, left
    };
    const Case cases[] = {
        {0x2500, {W::none, W::light, W::none, W::light}},
        {0x2502, {W::light, W::none, W::light, W::none}},
        {0x250C, {W::none, W::light, W::light, W::none}},
        {0x251E, {W::heavy, W::light, W::light, W::none}},  // up heavy and right down light
        {0x2541, {W::light, W::light, W::heavy, W::light}}, // down heavy and up horizontal light
        {0x2550, {W::none, W::double_, W::none, W::double_}},
        {0x256A, {W::light, W::double_, W::light, W::double_}},
        {0x2574, {W::none, W::none, W::none, W::light}},
        {0x257C, {W::none, W::heavy, W::none, W::light}},   // light left and heavy right
        {0x257F, {W::heavy, W::none, W::light, W::none}},   // heavy up and light down
        {0x2552, {W::none, W::double_, W::light, W::none}}, // down single and right double
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "U+" << c.codePoint);
        EXPECT_EQ(Lines::forCodePoint(c.codePoint), c.lines);
    }
    // Dashes, arcs and diagonals are drawn otherwise; the other 109 all have lines.
    int withLines = 0;
    for (uint32_t cp = 0x2500; cp <= 0x257F; ++cp) {
        withLines += Lines::forCodePoint(cp).has_value();
    }
    EXPECT_EQ(withLines, 109);
    EXPECT_FALSE(Lines::forCodePoint(0x2504));
    EXPECT_FALSE(Lines::forCodePoint(0x256D));
    EXPECT_FALSE(Lines::forCodePoint(0x2573));
}

TEST(BoxDrawingLines, BaseThicknessIsTheUnderlineAThirdThickerOnWholePixels) {
    EXPECT_EQ(BoxDrawingRenderer::baseThicknessPx(1, 1.0), 1);
    EXPECT_EQ(BoxDrawingRenderer::baseThicknessPx(2, 1.0), 3); // 2.7
    EXPECT_EQ(BoxDrawingRenderer::baseThicknessPx(2, 0.1), 2); // at least the scale
    EXPECT_EQ(BoxDrawingRenderer::baseThicknessPx(0.25, 0.5), 1);
}

TEST(BlockElements, EveryElementOfTheBlockHasItsRectangles) {
    for (uint32_t cp = 0x2580; cp <= 0x259F; ++cp) {
        SCOPED_TRACE(testing::Message() << std::hex << "U+" << cp);
        const auto rects = BlockElementMapping::rects(cp);
        ASSERT_TRUE(rects);
        EXPECT_FALSE(rects->empty());
        for (const BlockElementRect& r : *rects) {
            EXPECT_LT(r.x0, r.x1);
            EXPECT_LT(r.y0, r.y1);
            EXPECT_LE(r.x1, 8);
            EXPECT_LE(r.y1, 8);
        }
    }
    EXPECT_FALSE(BlockElementMapping::rects(0x257F));
    EXPECT_FALSE(BlockElementMapping::rects(0x25A0));

    using R = BlockElementRect;
    const auto of = [](uint32_t cp) {
        const auto rects = *BlockElementMapping::rects(cp);
        return std::vector<R>(rects.begin(), rects.end());
    };
    EXPECT_EQ(of(0x2584), (std::vector<R>{{0, 8, 4, 8, BlockAlpha::full}}));
    EXPECT_EQ(of(0x258F), (std::vector<R>{{0, 1, 0, 8, BlockAlpha::full}}));
    EXPECT_EQ(of(0x2593), (std::vector<R>{{0, 8, 0, 8, BlockAlpha::dark}}));
    EXPECT_EQ(of(0x259A),
              (std::vector<R>{{0, 4, 0, 4, BlockAlpha::full}, {4, 8, 4, 8, BlockAlpha::full}}));
    EXPECT_EQ(of(0x259F).size(), 3u);
}

TEST(BlockElements, RectanglesSnapOutwardsUnlessAntialiased) {
    const BlockElementRect lowerHalf = (*BlockElementMapping::rects(0x2584))[0];
    // A cell 15 points high at scale 1: the lower 7.5 points cover 8 pixel rows.
    const GlyphRect cell{0, 30, 8, 15};
    EXPECT_EQ(BlockElementMapping::fillRect(lowerHalf, cell, 1, false), (GlyphRect{0, 37, 8, 8}));
    EXPECT_EQ(BlockElementMapping::fillRect(lowerHalf, cell, 1, true),
              (GlyphRect{0, 37.5, 8, 7.5}));
    // At scale 2 half a point is a whole device pixel: nothing to snap.
    EXPECT_EQ(BlockElementMapping::fillRect(lowerHalf, cell, 2, false),
              (GlyphRect{0, 37.5, 8, 7.5}));
    // A wide cell spreads its eighths over both columns.
    const BlockElementRect rightHalf = (*BlockElementMapping::rects(0x2590))[0];
    EXPECT_EQ(BlockElementMapping::fillRect(rightHalf, {16, 0, 16, 15}, 1, false),
              (GlyphRect{24, 0, 8, 15}));
    // A rectangle that rounds away to nothing is not filled.
    EXPECT_FALSE(BlockElementMapping::fillRect(lowerHalf, {0, 0, 8, 0}, 1, false));
}

TEST(BlockElements, ShadesScaleTheColoursAlpha) {
    const auto alpha = [](uint32_t cp, double base) {
        return BlockElementMapping::fillAlpha((*BlockElementMapping::rects(cp))[0], base);
    };
    EXPECT_DOUBLE_EQ(alpha(0x2591, 0.8), 0.2);
    EXPECT_DOUBLE_EQ(alpha(0x2592, 1), 0.5);
    EXPECT_DOUBLE_EQ(alpha(0x2593, 1), 0.75);
    EXPECT_DOUBLE_EQ(alpha(0x2588, 0.8), 0.8);
    EXPECT_EQ(blockAlphaFromValue(0.25), BlockAlpha::light);
    EXPECT_FALSE(blockAlphaFromValue(0.3));
}

TEST(PowerlineGeometry, OnlyTheFourSolidSeparatorsAreShapes) {
    using P = PowerlineRenderer;
    EXPECT_EQ(P::glyph(0xE0B0), (P::Glyph{P::Direction::right, P::Shape::solidTriangle}));
    EXPECT_EQ(P::glyph(0xE0B2), (P::Glyph{P::Direction::left, P::Shape::solidTriangle}));
    EXPECT_EQ(P::glyph(0xE0B4), (P::Glyph{P::Direction::right, P::Shape::halfDisc}));
    EXPECT_EQ(P::glyph(0xE0B6), (P::Glyph{P::Direction::left, P::Shape::halfDisc}));
    for (uint32_t cp : {0xE0AFu, 0xE0B1u, 0xE0B3u, 0xE0B5u, 0xE0B7u, 0x2500u}) {
        EXPECT_FALSE(P::glyph(cp)) << std::hex << cp;
    }
}

TEST(PowerlineGeometry, TheShapeFillsItsSnappedCellWithAStripOutsideTheFlatSide) {
    // A cell of 8 x 16 points at column 3, scale 2.
    const auto triangle = PowerlineRenderer::outline(0xE0B0, {24, 0, 8, 16}, 2, 2);
    ASSERT_TRUE(triangle);
    EXPECT_EQ(triangle->bounds, (GlyphRect{24, 0, 8, 16}));
    EXPECT_EQ(triangle->base, 24);
    EXPECT_EQ(triangle->tip, 32);
    EXPECT_EQ(triangle->tipY, 8);
    EXPECT_EQ(triangle->joinStrip, (GlyphRect{23.5, 0, 0.5, 16}));

    // Pointing left: the strip lies right of the cell; the half disc's control points reach
    // 4/3 of the width beyond its flat side.
    const auto disc = PowerlineRenderer::outline(0xE0B6, {24, 0, 8, 16}, 2, 2);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->base, 32);
    EXPECT_EQ(disc->tip, 24);
    EXPECT_DOUBLE_EQ(disc->controlX, 32 - 8 * 4.0 / 3.0);
    EXPECT_EQ(disc->joinStrip, (GlyphRect{32, 0, 0.5, 16}));

    // Edges off the device grid snap outwards; the tip's height rounds a tie to the upper
    // pixel (a cell 15 device pixels high has its tip at 7, not 8).
    const auto snapped = PowerlineRenderer::outline(0xE0B0, {10.2, 0, 7.6, 15}, 1, 1);
    ASSERT_TRUE(snapped);
    EXPECT_EQ(snapped->bounds, (GlyphRect{10, 0, 8, 15}));
    EXPECT_EQ(snapped->tipY, 7);

    EXPECT_FALSE(PowerlineRenderer::outline(0xE0B1, {0, 0, 8, 16}, 1, 1));
    EXPECT_FALSE(PowerlineRenderer::outline(0xE0B0, {0, 0, 8, 16}, 0, 1));
}

TEST(PowerlineGeometry, TheJoinRectOfACellInDevicePixels) {
    EXPECT_EQ(PowerlineRenderer::devicePixelJoinRect(0xE0B4, {100, 40, 18, 34}),
              (GlyphRect{99, 40, 1, 34}));
    EXPECT_EQ(PowerlineRenderer::devicePixelJoinRect(0xE0B6, {100, 40, 18, 34}),
              (GlyphRect{118, 40, 1, 34}));
    // A mirrored rectangle (negative width) gives the same strip.
    EXPECT_EQ(PowerlineRenderer::devicePixelJoinRect(0xE0B0, {118, 40, -18, 34}),
              (GlyphRect{99, 40, 1, 34}));
    EXPECT_FALSE(PowerlineRenderer::devicePixelJoinRect(0xE0B3, {100, 40, 18, 34}));
}

} // namespace
