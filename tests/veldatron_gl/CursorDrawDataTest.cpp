#include "CursorDrawBuilder.h"
#include "FakeGpuDevice.h"
#include "GlyphFakes.h"
#include "RecordMatchers.h"
#include "RowGeometry.h"
#include "ViewFixture.h"
#include "ViewRendererHost.h"

#include <gtest/gtest.h>

namespace veldatron {
namespace {

using testing::ViewFixture;

// The cursor of a 10 × 3 view drawn at scale 2 with cells of 8 × 17 logical pixels in a view
// 340 high, with fake shaping (one glyph per unit) and glyphs (6 × 12 blocks, bearing (1, -2)).
class CursorDrawDataTest : public ::testing::Test {
protected:
    static TerminalOptions options()
    {
        TerminalOptions options = TerminalView::defaultStartupOptions();
        options.cols = 10;
        options.rows = 3;
        return options;
    }
    void SetUp() override
    {
        glyphs = GlyphProvider::create(device, shaper, rasterizer, log, 1024);
        host.size = QSizeF(80, 340);
    }
    CursorDrawData build(bool blinkOn = true, int firstRow = 0, int lastRow = 2)
    {
        return buildCursorDrawData(host, *glyphs, blinkOn, 2, 8, 17, 3, 0, 0, firstRow, lastRow);
    }
    static std::vector<ColorVertex> rects(const std::vector<QuadCorners>& corners, Float4 color)
    {
        std::vector<ColorVertex> out;
        for (const QuadCorners& c : corners)
            appendQuad(out, c, color);
        return out;
    }
    Float4 caret() { return colorToSIMD(f.view().effectiveCaretColor()); }

    ViewFixture f{options()};
    ViewRendererHost host{f.view()};
    FakeGpuDevice device;
    FakeShaper shaper;
    FakeRasterizer rasterizer;
    RecordingLogSink log;
    std::unique_ptr<GlyphProvider> glyphs;
};

TEST_F(CursorDrawDataTest, EachStyleFocusedAndUnfocused)
{
    const struct {
        const char* name;
        const char* decscusr;
        bool focused;
        std::vector<QuadCorners> rectangles;
    } cases[] = {
        {"steady bar", "\x1b[6 q", true, {{48, 646, 52, 680}}},
        {"blinking bar", "\x1b[5 q", true, {{48, 646, 52, 680}}},
        {"steady underline", "\x1b[4 q", true, {{48, 646, 64, 650}}},
        {"blinking underline", "\x1b[3 q", true, {{48, 646, 64, 650}}},
        {"steady block", "\x1b[2 q", true, {{48, 646, 64, 680}}},
        {"blinking block", "\x1b[1 q", true, {{48, 646, 64, 680}}},
        {"unfocused bar: hollow box of stroke 3", "\x1b[6 q", false,
         {{48, 646, 64, 649}, {48, 677, 64, 680}, {48, 649, 51, 677}, {61, 649, 64, 677}}},
        {"unfocused block", "\x1b[2 q", false,
         {{48, 646, 64, 649}, {48, 677, 64, 680}, {48, 649, 51, 677}, {61, 649, 64, 677}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f.feed(c.decscusr);
        f.feed("\x1b[1;4H");
        host.focused = c.focused;
        const CursorDrawData data = build();
        expectSameRecords(data.colorVertices, rects(c.rectangles, caret()), "colorVertices");
        EXPECT_TRUE(data.glyphVerticesGray.empty());
    }
}

TEST_F(CursorDrawDataTest, BlinkOffPhaseHidesOnlyAFocusedBlinkingCursor)
{
    f.feed("\x1b[1 q");
    EXPECT_TRUE(build(false).colorVertices.empty());
    host.focused = false;
    EXPECT_EQ(build(false).colorVertices.size(), 24u);
    host.focused = true;
    host.tracksFocus = false;
    EXPECT_TRUE(build(false).colorVertices.empty());
    f.feed("\x1b[2 q");
    EXPECT_EQ(build(false).colorVertices.size(), 6u);
}

TEST_F(CursorDrawDataTest, NoCursorWhenHiddenOffTheDrawnRowsOrAtTheRightMargin)
{
    f.feed("\x1b[2 q");
    EXPECT_TRUE(build(true, 1, 2).colorVertices.empty());
    f.feed("\x1b[?25l");
    EXPECT_TRUE(build().colorVertices.empty());
    f.feed("\x1b[?25h0123456789");
    ASSERT_EQ(f.terminal().buffer().x(), 10);
    const CursorDrawData data = build();
    EXPECT_TRUE(data.colorVertices.empty() && data.glyphVerticesGray.empty()
                && data.glyphVerticesColor.empty());
}

TEST_F(CursorDrawDataTest, BlockRepaintsTheGlyphInTheCaretTextColourCutToTheBlock)
{
    f.feed("\x1b[2 qA\x1b[1;1H");
    const CursorDrawData data = build();
    ASSERT_EQ(data.colorVertices.size(), 6u);
    auto run = glyphs->shaperCache().shape(QStringLiteral("A"), f.view().fontSet().normal);
    ASSERT_TRUE(run);
    const auto entry = *glyphs->glyphEntry(glyphs->scaledFontFor(run->glyphRuns[0].font, 2), 'A');
    // Baseline: 2 × (rowBottom 323 + ceil(3)); the bitmap (6 × 12 at bearing (1, -2)) fits.
    std::vector<GlyphVertex> expected;
    const float s = 1024;
    appendQuad(expected, {1, 650, 7, 662},
               {float(entry.region.x) / s, float(entry.region.y) / s,
                float(entry.region.x + 6) / s, float(entry.region.y + 12) / s},
               colorToSIMD(f.view().effectiveCaretTextColor()));
    expectSameRecords(data.glyphVerticesGray, expected, "glyphVerticesGray");

    // A glyph reaching below the block is cut, its texture in proportion.
    rasterizer.height = 40;
    glyphs = GlyphProvider::create(device, shaper, rasterizer, log, 1024);
    const CursorDrawData tall = build();
    ASSERT_EQ(tall.glyphVerticesGray.size(), 6u);
    EXPECT_FLOAT_EQ(tall.glyphVerticesGray[4].position.y, 680);
    EXPECT_NEAR(tall.glyphVerticesGray[4].texCoord.y, (1 + 30.0) / 1024, 1e-6);
}

TEST_F(CursorDrawDataTest, BlockOverAColourGlyphUsesTheColourAtlasUntinted)
{
    rasterizer.colorGlyphs = {'E'};
    f.feed("\x1b[2 qE\x1b[1;1H");
    const CursorDrawData data = build();
    ASSERT_EQ(data.glyphVerticesColor.size(), 6u);
    EXPECT_TRUE(data.glyphVerticesGray.empty());
    EXPECT_EQ(data.glyphVerticesColor[0].color, (Float4{1, 1, 1, 1}));
}

TEST_F(CursorDrawDataTest, BlockOverABlinkingCellInItsHiddenPhaseHasNoGlyph)
{
    f.feed("\x1b[2 q\x1b[5mA\x1b[1;1H");
    host.textBlinkVisibleOverride = false;
    const CursorDrawData data = build();
    EXPECT_EQ(data.colorVertices.size(), 6u);
    EXPECT_TRUE(data.glyphVerticesGray.empty());
}

TEST_F(CursorDrawDataTest, BlockOverAPowerlineSeparatorShowsThePaintedShape)
{
    f.feed("\x1b[2 q\xee\x82\xb0\x1b[1;1H");
    const CursorDrawData data = build();
    ASSERT_EQ(data.glyphVerticesGray.size(), 6u);
    EXPECT_EQ(rasterizer.calls, 0);
    EXPECT_EQ(data.glyphVerticesGray[0].position, (Float2{0, 646}));
    EXPECT_EQ(data.glyphVerticesGray[4].position, (Float2{16, 680}));
    EXPECT_EQ(data.glyphVerticesGray[0].color, colorToSIMD(f.view().effectiveCaretTextColor()));
}

TEST_F(CursorDrawDataTest, WidthFollowsTheLineModeAndTheCell)
{
    f.feed("\x1b[6 q\x1b#6\x1b[1;4H");
    f.feed("\x1b[2 q");
    CursorDrawData data = build();
    ASSERT_FALSE(data.colorVertices.empty());
    // Double-width line at column 3: x = 2 × 8 × 2 × 3, two cells wide.
    EXPECT_EQ(data.colorVertices[0].position, (Float2{96, 646}));
    EXPECT_EQ(data.colorVertices[4].position, (Float2{128, 680}));

    // A wide character: two cells; its second half (width 0): one cell.
    f.feed("\x1b#5\x1b[1;1H\xe4\xb8\xad\x1b[1;1H");
    data = build();
    EXPECT_EQ(data.colorVertices[4].position.x, 32);
    f.feed("\x1b[1;2H");
    data = build();
    EXPECT_EQ(data.colorVertices[0].position.x, 16);
    EXPECT_EQ(data.colorVertices[4].position.x, 32);
}

TEST_F(CursorDrawDataTest, ARowWithoutCellsDrawsABlankOneColumnCursor)
{
    f.feed("\x1b[2 q\x1b[1;4H");
    f.terminal().buffer().lines().set(0, BufferLine::create(0));
    const CursorDrawData data = build();
    expectSameRecords(data.colorVertices, rects({{48, 646, 64, 680}}, caret()), "colorVertices");
    EXPECT_TRUE(data.glyphVerticesGray.empty());
    EXPECT_TRUE(data.glyphVerticesColor.empty());
}

TEST_F(CursorDrawDataTest, EveryGlyphOfAClusterStartsAtTheCellsLeftEdge)
{
    f.feed("\x1b[2 q\x1b[1;4He\xcc\x81\x1b[1;4H");
    const CursorDrawData data = build();
    // The fake shaper puts the mark 10 px right of its base; under the block both start at the
    // cell's left edge (x = 48) plus the bearing (1 px).
    ASSERT_EQ(data.glyphVerticesGray.size(), 12u);
    EXPECT_FLOAT_EQ(data.glyphVerticesGray[0].position.x, 49);
    EXPECT_FLOAT_EQ(data.glyphVerticesGray[6].position.x, 49);
}

} // namespace
} // namespace veldatron
