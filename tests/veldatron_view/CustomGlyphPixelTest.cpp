// Custom glyphs painted into images at the scales of real screens (1, 1.25, 1.5 and 2 device
// pixels per point), with cells of a whole number of device pixels as the view makes them:
// lines run on without a gap or a doubled pixel from cell to cell, and the filled areas are
// exact.

#include "BlockElementMapping.h"
#include "BoxDrawingRenderer.h"
#include "CustomGlyphPainter.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using namespace veldatron;

namespace {

const PlatformColor white{1, 1, 1, 1};

// A scale and a cell size in device pixels.
struct Grid {
    double scale;
    int width;
    int height;

    QSizeF cellPoints() const { return {width / scale, height / scale}; }
    // Light lines as a font with a one-point underline gets them.
    int base() const { return BoxDrawingRenderer::baseThicknessPx(scale, 1.0); }
    int lightPx() const { return std::max(base(), std::max(int(std::round(scale)), 1)); }
};

const Grid grids[] = {
    {1, 9, 19},  {1.25, 9, 19},  {1.5, 9, 19},  {2, 9, 19},
    {1, 12, 24}, {1.25, 10, 21}, {1.5, 12, 25}, {2, 16, 34},
};

std::string describe(const Grid& grid) {
    return "scale " + std::to_string(grid.scale) + ", cell " + std::to_string(grid.width) + "x" +
           std::to_string(grid.height);
}

// An image of cols x rows cells in which `paint` draws row by row: paint(painter, row,
// lineOrigin).
QImage paintRows(const Grid& grid, int cols, int rows,
                 const std::function<void(QPainter&, int, QPointF)>& paint) {
    QImage image(cols * grid.width, rows * grid.height, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(grid.scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    for (int row = 0; row < rows; ++row) {
        paint(painter, row, QPointF(0, row * grid.cellPoints().height()));
    }
    return image;
}

// Box-drawing characters, one string of code points per row; 0 leaves a cell empty.
QImage paintBoxes(const Grid& grid, const std::vector<std::vector<uint32_t>>& rows) {
    const int cols = int(rows.front().size());
    return paintRows(grid, cols, int(rows.size()), [&](QPainter& painter, int row, QPointF origin) {
        std::vector<BoxDrawingRenderItem> items;
        for (int col = 0; col < cols; ++col) {
            if (rows[size_t(row)][size_t(col)] != 0) {
                items.push_back({{col, 1, rows[size_t(row)][size_t(col)], white}});
            }
        }
        CustomGlyphPainter::drawBoxDrawings(items, painter, origin, grid.cellPoints(), grid.scale,
                                            grid.base());
    });
}

int alphaAt(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y));
}

// The painted pixels of one pixel column between y0 and y1, or of one pixel row.
std::vector<bool> columnProfile(const QImage& image, int x, int y0, int y1) {
    std::vector<bool> out;
    for (int y = y0; y < y1; ++y) {
        out.push_back(alphaAt(image, x, y) > 0);
    }
    return out;
}
std::vector<bool> rowProfile(const QImage& image, int y, int x0, int x1) {
    std::vector<bool> out;
    for (int x = x0; x < x1; ++x) {
        out.push_back(alphaAt(image, x, y) > 0);
    }
    return out;
}

bool contains(const std::vector<bool>& outer, const std::vector<bool>& inner) {
    for (size_t i = 0; i < outer.size(); ++i) {
        if (inner[i] && !outer[i]) {
            return false;
        }
    }
    return true;
}
bool isEmpty(const std::vector<bool>& profile) {
    return std::find(profile.begin(), profile.end(), true) == profile.end();
}

// Two neighbouring pixel lines meet: both painted, one within the other (a light line runs
// into the middle of a heavy one).
::testing::AssertionResult meet(const std::vector<bool>& a, const std::vector<bool>& b) {
    if (isEmpty(a) || isEmpty(b)) {
        return ::testing::AssertionFailure() << "a gap: one side is not painted";
    }
    if (!contains(a, b) && !contains(b, a)) {
        return ::testing::AssertionFailure() << "the lines do not line up";
    }
    return ::testing::AssertionSuccess();
}

int paintedPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += alphaAt(image, x, y) > 0;
        }
    }
    return n;
}

TEST(CustomGlyphPixels, CrossingsJoinTheirNeighboursOnWholePixels) {
    std::vector<uint32_t> crossings;
    for (uint32_t cp = 0x253C; cp <= 0x254B; ++cp) {
        crossings.push_back(cp);
    }
    crossings.insert(crossings.end(), {0x256A, 0x256B, 0x256C});
    for (const Grid& grid : grids) {
        for (uint32_t cp : crossings) {
            SCOPED_TRACE(testing::Message() << describe(grid) << std::hex << ", U+" << cp);
            const QImage image = paintBoxes(grid, {{cp, cp, cp}, {cp, cp, cp}, {cp, cp, cp}});
            const int W = grid.width;
            const int H = grid.height;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const int alpha = alphaAt(image, x, y);
                    ASSERT_TRUE(alpha == 0 || alpha == 255)
                        << "a partly covered pixel at " << x << ", " << y;
                }
            }
            for (int k = 1; k < 3; ++k) {
                for (int r = 0; r < 3; ++r) {
                    EXPECT_TRUE(meet(columnProfile(image, k * W - 1, r * H, (r + 1) * H),
                                     columnProfile(image, k * W, r * H, (r + 1) * H)))
                        << "across the edge at x " << k * W << " in row " << r;
                    EXPECT_TRUE(meet(rowProfile(image, k * H - 1, r * W, (r + 1) * W),
                                     rowProfile(image, k * H, r * W, (r + 1) * W)))
                        << "across the edge at y " << k * H << " in column " << r;
                }
            }
            // Nine cells paint nine times what one cell paints: nothing reaches into a
            // neighbour.
            const QImage one = paintBoxes(grid, {{0, 0, 0}, {0, cp, 0}, {0, 0, 0}});
            const QRect cell(W, H, W, H);
            for (int y = 0; y < one.height(); ++y) {
                for (int x = 0; x < one.width(); ++x) {
                    if (!cell.contains(x, y)) {
                        ASSERT_EQ(alphaAt(one, x, y), 0)
                            << "outside the cell at " << x << ", " << y;
                    }
                }
            }
            EXPECT_EQ(paintedPixels(image), 9 * paintedPixels(one));
        }
    }
}

TEST(CustomGlyphPixels, ACrossingFillsExactlyItsTwoBands) {
    for (const Grid& grid : grids) {
        SCOPED_TRACE(describe(grid));
        const int W = grid.width;
        const int H = grid.height;
        const int L = grid.lightPx();
        EXPECT_EQ(paintedPixels(paintBoxes(grid, {{0x253C}})), W * L + H * L - L * L);
        EXPECT_EQ(paintedPixels(paintBoxes(grid, {{0x254B}})), W * 2 * L + H * 2 * L - 4 * L * L);
    }
}

TEST(CustomGlyphPixels, RowsOfLinesAreOneUnbrokenBand) {
    struct Line {
        uint32_t horizontal;
        uint32_t vertical;
        int bands;     // 1, or 2 for a double line
        int thickness; // in light thicknesses, per band
    };
    const Line lines[] = {{0x2500, 0x2502, 1, 1}, {0x2501, 0x2503, 1, 2}, {0x2550, 0x2551, 2, 1}};
    for (const Grid& grid : grids) {
        for (const Line& line : lines) {
            SCOPED_TRACE(testing::Message()
                         << describe(grid) << std::hex << ", U+" << line.horizontal);
            const uint32_t h = line.horizontal;
            const QImage row = paintBoxes(grid, {{h, h, h, h, h, h, h, h, h, h}});
            const std::vector<bool> first = columnProfile(row, 0, 0, row.height());
            EXPECT_EQ(std::count(first.begin(), first.end(), true),
                      line.bands * line.thickness * grid.lightPx());
            for (int x = 1; x < row.width(); ++x) {
                ASSERT_EQ(columnProfile(row, x, 0, row.height()), first) << "at x " << x;
            }

            const uint32_t v = line.vertical;
            const QImage column = paintBoxes(grid, {{v}, {v}, {v}, {v}, {v}});
            const std::vector<bool> top = rowProfile(column, 0, 0, column.width());
            EXPECT_EQ(std::count(top.begin(), top.end(), true),
                      line.bands * line.thickness * grid.lightPx());
            for (int y = 1; y < column.height(); ++y) {
                ASSERT_EQ(rowProfile(column, y, 0, column.width()), top) << "at y " << y;
            }
        }
    }
}

TEST(CustomGlyphPixels, RoundedCornersCloseABoxWithCurvesAntialiasedOnly) {
    for (const Grid& grid : grids) {
        SCOPED_TRACE(describe(grid));
        const QImage image = paintBoxes(
            grid, {{0x256D, 0x2500, 0x256E}, {0x2502, 0, 0x2502}, {0x2570, 0x2500, 0x256F}});
        const int W = grid.width;
        const int H = grid.height;
        // Every join of a corner with a straight line.
        EXPECT_TRUE(meet(columnProfile(image, W - 1, 0, H), columnProfile(image, W, 0, H)));
        EXPECT_TRUE(meet(columnProfile(image, 2 * W - 1, 0, H), columnProfile(image, 2 * W, 0, H)));
        EXPECT_TRUE(
            meet(columnProfile(image, W - 1, 2 * H, 3 * H), columnProfile(image, W, 2 * H, 3 * H)));
        EXPECT_TRUE(meet(rowProfile(image, H - 1, 0, W), rowProfile(image, H, 0, W)));
        EXPECT_TRUE(meet(rowProfile(image, 2 * H - 1, 0, W), rowProfile(image, 2 * H, 0, W)));
        EXPECT_TRUE(
            meet(rowProfile(image, H - 1, 2 * W, 3 * W), rowProfile(image, H, 2 * W, 3 * W)));
        // The curves are smooth (partly covered pixels), the straight parts are not.
        const auto partial = [&](int col, int row) {
            int n = 0;
            for (int y = row * H; y < (row + 1) * H; ++y) {
                for (int x = col * W; x < (col + 1) * W; ++x) {
                    const int alpha = alphaAt(image, x, y);
                    n += alpha > 0 && alpha < 255;
                }
            }
            return n;
        };
        for (const auto& [col, row] :
             {std::pair(0, 0), std::pair(2, 0), std::pair(0, 2), std::pair(2, 2)}) {
            EXPECT_GT(partial(col, row), 0) << "corner " << col << ", " << row;
        }
        EXPECT_EQ(partial(1, 0), 0);
        EXPECT_EQ(partial(0, 1), 0);
        // The inside of the box stays empty.
        EXPECT_EQ(alphaAt(image, W + W / 2, H + H / 2), 0);
    }
}

TEST(CustomGlyphPixels, BlockElementsCoverTheirEighthsExactly) {
    // Cells of 16 x 32 device pixels: an eighth is a whole number of pixels at every scale.
    for (double scale : {1.0, 1.25, 1.5, 2.0}) {
        const Grid grid{scale, 16, 32};
        for (uint32_t cp = BlockElementMapping::first; cp <= BlockElementMapping::last; ++cp) {
            SCOPED_TRACE(testing::Message() << describe(grid) << std::hex << ", U+" << cp);
            const auto rects = *BlockElementMapping::rects(cp);
            const QImage image = paintRows(grid, 3, 1, [&](QPainter& painter, int, QPointF o) {
                const BlockElementRenderItem item{{1, 1, cp, white}, rects};
                CustomGlyphPainter::drawBlockElements(std::span(&item, 1), painter, o,
                                                      grid.cellPoints(), scale, false);
            });
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    int expected = 0;
                    for (const BlockElementRect& r : rects) {
                        const int cx = x - grid.width;
                        if (cx >= 2 * r.x0 && cx < 2 * r.x1 && y >= 4 * r.y0 && y < 4 * r.y1) {
                            expected = int(std::lround(255 * blockAlphaValue(r.alpha)));
                        }
                    }
                    ASSERT_NEAR(alphaAt(image, x, y), expected, 1) << "at " << x << ", " << y;
                }
            }
        }
    }
}

TEST(CustomGlyphPixels, FullBlocksTileEveryPixelOfOddCells) {
    for (const Grid& grid : grids) {
        SCOPED_TRACE(describe(grid));
        const QImage image = paintRows(grid, 4, 3, [&](QPainter& painter, int, QPointF origin) {
            std::vector<BlockElementRenderItem> items;
            const auto full = *BlockElementMapping::rects(0x2588);
            items.push_back({{0, 1, 0x2588, white}, full});
            items.push_back({{1, 2, 0x2588, white}, full}); // a wide cell
            items.push_back({{3, 1, 0x2588, white}, full});
            CustomGlyphPainter::drawBlockElements(items, painter, origin, grid.cellPoints(),
                                                  grid.scale, false);
        });
        EXPECT_EQ(paintedPixels(image), image.width() * image.height());
    }
}

TEST(CustomGlyphPixels, PowerlineShapesFillTheirCellAndTheSeamBesideIt) {
    for (const Grid& grid : grids) {
        const int W = grid.width;
        const int H = grid.height;
        struct Case {
            uint32_t codePoint;
            bool pointsRight;
            double area; // of the cell
        };
        // A cubic from corner to corner with control points 4/3 of the width out encloses
        // 0.8 of the cell.
        for (const Case& c : {Case{0xE0B0, true, 0.5}, Case{0xE0B2, false, 0.5},
                              Case{0xE0B4, true, 0.8}, Case{0xE0B6, false, 0.8}}) {
            SCOPED_TRACE(testing::Message() << describe(grid) << std::hex << ", U+" << c.codePoint);
            const QImage image = paintRows(grid, 3, 1, [&](QPainter& painter, int, QPointF o) {
                const PowerlineRenderItem item{{1, 1, c.codePoint, white}};
                CustomGlyphPainter::drawPowerlineGlyphs(std::span(&item, 1), painter, o,
                                                        grid.cellPoints(), grid.scale,
                                                        BufferLine::RenderLineMode::single);
            });
            // The strip: the whole height of the pixel column beyond the flat side.
            const int strip = c.pointsRight ? W - 1 : 2 * W;
            for (int y = 0; y < H; ++y) {
                ASSERT_EQ(alphaAt(image, strip, y), 255) << "strip at y " << y;
            }
            // The flat side's column is covered but for its corners; the tip reaches the far
            // side at mid-height.
            const int flat = c.pointsRight ? W : 2 * W - 1;
            const int tip = c.pointsRight ? 2 * W - 1 : W;
            EXPECT_EQ(alphaAt(image, flat, H / 2), 255);
            EXPECT_GT(alphaAt(image, tip, H / 2), 0);
            EXPECT_EQ(alphaAt(image, tip, 0), 0);
            // Nothing beyond the strip and the cell.
            for (int y = 0; y < H; ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (x != strip && (x < W || x >= 2 * W)) {
                        ASSERT_EQ(alphaAt(image, x, y), 0) << "at " << x << ", " << y;
                    }
                }
            }
            double covered = 0;
            for (int y = 0; y < H; ++y) {
                for (int x = W; x < 2 * W; ++x) {
                    covered += alphaAt(image, x, y) / 255.0;
                }
            }
            EXPECT_NEAR(covered, c.area * W * H, (W + H) / 2.0);
        }
    }
}

} // namespace
