#include "FakeGpuDevice.h"
#include "GlyphFakes.h"
#include "RecordMatchers.h"
#include "RowDrawBuilder.h"
#include "TextDecorations.h"
#include "ViewFixture.h"
#include "ViewRendererHost.h"

#include "BoxDrawingRenderer.h"
#include "KittyPlacementImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace veldatron {
namespace {

using testing::ViewFixture;

TerminalOptions tenByThree()
{
    TerminalOptions options = TerminalView::defaultStartupOptions();
    options.cols = 10;
    options.rows = 3;
    return options;
}

class FixedImages : public IImageTextureSource {
public:
    std::shared_ptr<GpuTexture> texture(const std::shared_ptr<TerminalImage>& image) override
    {
        auto found = textures.find(image.get());
        return found == textures.end() ? nullptr : found->second;
    }
    std::shared_ptr<GpuTexture> kittyTexture(uint32_t imageId, const KittyGraphicsState&) override
    {
        auto found = kittyTextures.find(imageId);
        return found == kittyTextures.end() ? nullptr : found->second;
    }
    std::map<const TerminalImage*, std::shared_ptr<GpuTexture>> textures;
    std::map<uint32_t, std::shared_ptr<GpuTexture>> kittyTextures;
};

// A host whose row layout can be edited after the view built it (the view has no selection of
// its own to set).
class EditedHost : public ViewRendererHost {
public:
    using ViewRendererHost::ViewRendererHost;
    ViewLineInfo buildAttributedString(int row, const BufferLine& line, int cols) override
    {
        ViewLineInfo info = ViewRendererHost::buildAttributedString(row, line, cols);
        if (edit)
            edit(info);
        return info;
    }
    std::function<void(ViewLineInfo&)> edit;
};

// Row 0 of a 10 × 3 view, built with a shaper that gives one glyph per UTF-16 unit (10 px
// apart) and a rasteriser that draws every glyph as a 6 × 12 block with bearing (1, -2), so
// every record can be worked out by hand.
class RowDrawDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rasterizer.colorGlyphs = {0x26A1};
        glyphs = GlyphProvider::create(device, shaper, rasterizer, log, 1024);
        builder = std::make_unique<RowDrawBuilder>(host, *glyphs, &images);
        w = f.view().cellDimension().width();
        h = f.view().cellDimension().height();
        host.size = QSizeF(10 * w, 3 * h);
    }

    RowDrawData build(int row = 0)
    {
        return builder->buildRowDrawData(row, f.terminal().buffer(), 0, w, h, yOffset,
                                         host.size.width() * scale, scale, placements);
    }

    // Row 0's band.
    double rowBottom() const { return 2 * h; }
    double baseline() const { return rowBottom() + yOffset; }
    const FontSet& fonts() { return f.view().fontSet(); }
    Float4 fg() { return colorToSIMD(f.view().effectiveNativeForegroundColor()); }
    Float4 bg() { return colorToSIMD(f.view().effectiveNativeBackgroundColor()); }
    Float4 ansi(int index) { return colorToSIMD(PlatformColor::make(f.terminal().ansiColors()[index])); }

    // The atlas entry of glyph `index` of the shaped run `runText`.
    GlyphEntry entryOf(const QString& runText, int index, FontStyle style = FontStyle::normal)
    {
        auto run = glyphs->shaperCache().shape(runText, fonts().font(style));
        const QRawFont& font = glyphs->scaledFontFor(run->glyphRuns[0].font, scale);
        return *glyphs->glyphEntry(font, run->glyphRuns[0].glyphs[std::size_t(index)]);
    }
    // A glyph cell whose glyph origin is at (x, y) device pixels.
    TextCell glyphCell(const GlyphEntry& e, double x, double y, Float4 color, double fit = 1)
    {
        const float size = float(glyphs->atlas(e.atlasKind).size());
        return {{float(x + e.bearing.x() * fit), float(y + e.bearing.y() * fit)},
                {float(e.size.width() * fit), float(e.size.height() * fit)},
                {float(e.region.x) / size, float(e.region.y) / size},
                {float(e.region.width) / size, float(e.region.height) / size},
                color};
    }

    ViewFixture f{tenByThree()};
    EditedHost host{f.view()};
    FakeGpuDevice device;
    FakeShaper shaper;
    FakeRasterizer rasterizer;
    RecordingLogSink log;
    FixedImages images;
    VirtualPlacements placements;
    std::unique_ptr<GlyphProvider> glyphs;
    std::unique_ptr<RowDrawBuilder> builder;
    double w = 0;
    double h = 0;
    double yOffset = 4;
    double scale = 1;
};

TEST_F(RowDrawDataTest, RowsBecomeRecords)
{
    struct Case {
        const char* name;
        const char* bytes;
        std::function<RowDrawData()> expected;
    };
    const QString pad8(8, QLatin1Char(' '));
    const QString pad9(9, QLatin1Char(' '));
    const double y0 = rowBottom() * scale;
    const Case cases[] = {
        {"blank row: no background, no glyph for spaces", "", [] { return RowDrawData{}; }},
        {"colours", "\x1b[31;42mAB",
         [&] {
             RowDrawData row;
             row.backgroundCells = {{{0, float(y0)}, {float(2 * w), float(h)}, ansi(2)}};
             row.glyphCellsGray = {glyphCell(entryOf("AB", 0), 0, baseline(), ansi(1)),
                                   glyphCell(entryOf("AB", 1), w, baseline(), ansi(1))};
             return row;
         }},
        {"inverse: background in the former foreground", "\x1b[7mA",
         [&] {
             RowDrawData row;
             row.backgroundCells = {{{0, float(y0)}, {float(w), float(h)}, fg()}};
             row.glyphCellsGray = {glyphCell(entryOf("A", 0), 0, baseline(), bg())};
             return row;
         }},
        {"wide character: centred in its two-column slot", "\xe4\xb8\xad",
         [&] {
             auto run = glyphs->shaperCache().shape(QString::fromUtf8("\xe4\xb8\xad"),
                                                    fonts().normal);
             const auto fit = host.glyphSlotFit(run->glyphRuns[0].font, 0x4E2D, 2);
             RowDrawData row;
             row.glyphCellsGray = {glyphCell(entryOf(QString::fromUtf8("\xe4\xb8\xad"), 0),
                                             fit.dx, baseline() + fit.dy, fg(), fit.scale)};
             return row;
         }},
        {"colour emoji: colour atlas, untinted", "\xe2\x9a\xa1",
         [&] {
             const QString text = QString::fromUtf8("\xe2\x9a\xa1");
             auto run = glyphs->shaperCache().shape(text, fonts().normal);
             const auto fit = host.glyphSlotFit(run->glyphRuns[0].font, 0x26A1, 2);
             RowDrawData row;
             row.glyphCellsColor = {glyphCell(entryOf(text, 0), fit.dx, baseline() + fit.dy,
                                              {1, 1, 1, 1}, fit.scale)};
             return row;
         }},
        {"combining mark: same cell, its shaped distance kept", "e\xcc\x81",
         [&] {
             const QString text = QString::fromUtf8("e\xcc\x81") + pad9;
             RowDrawData row;
             row.glyphCellsGray = {glyphCell(entryOf(text, 0), 0, baseline(), fg()),
                                   glyphCell(entryOf(text, 1), 10, baseline(), fg())};
             return row;
         }},
        {"single underline: one cell wide under each glyph", "\x1b[4mA",
         [&] {
             RowDrawData row;
             row.glyphCellsGray = {glyphCell(entryOf("A", 0), 0, baseline(), fg())};
             const QRawFont& normal = fonts().rawFont(FontStyle::normal);
             const double th = std::max(std::round(normal.lineThickness()), 0.5);
             const double yc = -normal.underlinePosition() + baseline();
             row.decorationCells = {
                 {{0, float(yc - th / 2)}, {float(std::ceil(w)), float(th)}, fg()}};
             return row;
         }},
        {"box drawing: a painted cell from the grayscale atlas", "\xe2\x94\x80",
         [&] {
             const int cw = std::max(int(std::lround(w)), 1);
             const int ch = std::max(int(std::lround(h)), 1);
             const int thickness = BoxDrawingRenderer::baseThicknessPx(
                 1, fonts().rawFont(FontStyle::normal).lineThickness());
             const auto entry = *glyphs->customGlyphEntry(0x2500, cw, ch, 1, thickness, false);
             RowDrawData row;
             row.glyphCellsGray = {{{0, float(std::round(y0))},
                                    {float(cw), float(ch)},
                                    {float(entry.region.x) / 1024, float(entry.region.y) / 1024},
                                    {float(cw) / 1024, float(ch) / 1024},
                                    fg()}};
             return row;
         }},
        {"powerline separator at column 3: glyph and a seam strip left of its cell",
         "abc\xee\x82\xb0",
         [&] {
             const int cw = std::max(int(std::lround(w)), 1);
             const int ch = std::max(int(std::lround(h)), 1);
             const auto entry = *glyphs->customGlyphEntry(0xE0B0, cw, ch, 1, 0, true);
             const QString text = QStringLiteral("abc ") + QString(6, QLatin1Char(' '));
             RowDrawData row;
             row.glyphCellsGray = {
                 {{float(3 * cw), float(std::round(y0))},
                  {float(cw), float(ch)},
                  {float(entry.region.x) / 1024, float(entry.region.y) / 1024},
                  {float(cw) / 1024, float(ch) / 1024},
                  fg()},
                 glyphCell(entryOf(text, 0), 0, baseline(), fg()),
                 glyphCell(entryOf(text, 1), w, baseline(), fg()),
                 glyphCell(entryOf(text, 2), 2 * w, baseline(), fg())};
             row.powerlineJoinCells = {
                 {{float(3 * cw - 1), float(std::round(y0))}, {1, float(ch)}, fg()}};
             return row;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.feed("\x1b[m\x1b[2J\x1b[H");
        f.feed(c.bytes);
        const RowDrawData actual = build();
        expectSameRow(actual, c.expected());
    }
}

TEST_F(RowDrawDataTest, EveryUnderlineStyleGivesItsPattern)
{
    const struct {
        const char* sgr;
        UnderlineStyle style;
        bool secondBar;
    } cases[] = {
        {"4", UnderlineStyle::single, false},  {"4:2", UnderlineStyle::single, true},
        {"4:3", UnderlineStyle::curly, false}, {"4:4", UnderlineStyle::dotted, false},
        {"4:5", UnderlineStyle::dashed, false},
    };
    const QRawFont& normal = fonts().rawFont(FontStyle::normal);
    const double th = std::max(std::round(normal.lineThickness()), 0.5);
    const double yc = -normal.underlinePosition() + baseline();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sgr);
        f.feed("\x1b[m\x1b[2J\x1b[H");
        f.feed(std::string("\x1b[") + c.sgr + "mA");
        std::vector<ColorCell> expected;
        RowTransform single;
        appendUnderlineSegments(0, std::ceil(w), yc, th, fg(), c.style, 1, single, expected);
        if (c.secondBar) {
            appendUnderlineSegments(0, std::ceil(w), yc - th - 1, th, fg(), UnderlineStyle::single,
                                    1, single, expected);
        }
        expectSameRecords(build().decorationCells, expected, "decorationCells");
    }
}

TEST_F(RowDrawDataTest, StrikeThroughSitsHalfwayUpTheXHeight)
{
    f.feed("\x1b[9mA");
    const QRawFont& normal = fonts().rawFont(FontStyle::normal);
    const double th = std::max(std::round(normal.lineThickness()), 0.5);
    const double yMid = (normal.xHeight() + th) / 2 + baseline();
    expectSameRecords(build().decorationCells,
                      {{{0, float(yMid - th / 2)}, {float(std::ceil(w)), float(th)}, fg()}},
                      "decorationCells");
}

TEST_F(RowDrawDataTest, SelectionWinsOverTheBackgroundUnlessItIsTheDefaultBackground)
{
    f.feed("\x1b[42mAB");
    const PlatformColor selection(0.2, 0.4, 0.6, 1);
    host.edit = [&](ViewLineInfo& info) {
        AttributedText edited;
        for (const auto& run : info.segments[0].attributedString.runs()) {
            RunAttributes attributes = *run.attributes;
            attributes.selectionBackground = selection;
            edited.append(info.segments[0].attributedString.string().mid(run.start, run.length),
                          std::make_shared<const RunAttributes>(attributes));
        }
        info.segments[0].attributedString = edited;
    };
    auto row = build();
    // Every run of the row is selected: the whole row is one colour.
    ASSERT_EQ(row.backgroundCells.size(), 2u);
    EXPECT_EQ(row.backgroundCells[0].color, colorToSIMD(selection));
    EXPECT_EQ(row.backgroundCells[1].position.x, float(2 * w));

    const PlatformColor defaultBackground = f.view().effectiveNativeBackgroundColor();
    host.edit = [&](ViewLineInfo& info) {
        AttributedText edited;
        for (const auto& run : info.segments[0].attributedString.runs()) {
            RunAttributes attributes = *run.attributes;
            attributes.selectionBackground = defaultBackground;
            edited.append(info.segments[0].attributedString.string().mid(run.start, run.length),
                          std::make_shared<const RunAttributes>(attributes));
        }
        info.segments[0].attributedString = edited;
    };
    EXPECT_TRUE(build().backgroundCells.empty());
}

TEST_F(RowDrawDataTest, DoubleHeightTopRowIsStretchedAboutItsTopAndClippedToItsBand)
{
    scale = 2;
    f.feed("\x1b#3A");
    auto row = build();
    ASSERT_EQ(row.glyphCellsGray.size(), 1u);
    const TextCell& cell = row.glyphCellsGray[0];
    const double top = 2 * 3 * h;
    const double bottom = 2 * rowBottom();
    // Glyph origin at 2 × baseline, x doubled, y doubled about the top edge.
    const double glyphY0 = top + 2 * (2 * baseline() - 2 - top);
    EXPECT_FLOAT_EQ(cell.position.x, 2 * (0 + 1));
    EXPECT_FLOAT_EQ(cell.size.x, 12);
    EXPECT_NEAR(cell.position.y, std::max(glyphY0, bottom), 1e-3);
    EXPECT_LE(cell.position.y + cell.size.y, top + 1e-3);
    // The part below the band is cut away with its texture.
    if (glyphY0 < bottom) {
        EXPECT_LT(cell.size.y, 24);
        EXPECT_GT(cell.texOrigin.y, 0);
    }
}

TEST_F(RowDrawDataTest, ImageSlicesAreSortedByZAndIdAndHangFromTheRowTop)
{
    auto make = [&](bool kitty, int64_t z, uint32_t id, int col) {
        auto image = std::make_shared<KittyPlacementImage>(20, 10, col);
        image->kittyIsKitty = kitty;
        image->kittyZIndex = z;
        image->kittyImageId = id;
        images.textures[image.get()] = device.makeTexture(GpuPixelFormat::rgba8, 20, 10);
        return image;
    };
    auto overLate = make(true, 0, 7, 0);
    auto under = make(true, -1, 3, 1);
    auto overEarly = make(true, 0, 2, 2);
    auto sixel = make(false, 0, 0, 3);
    auto noTexture = make(true, 5, 1, 0);
    images.textures.erase(noTexture.get());
    overLate->kittyPixelOffsetX = 4;
    overLate->kittyPixelOffsetY = 6;
    host.backing = 2;
    f.terminal().buffer().lines()[0].setImages(
        BufferLine::Images{overLate, under, overEarly, sixel, noTexture});

    auto row = build();
    ASSERT_EQ(row.underImageDraws.size(), 1u);
    ASSERT_EQ(row.overImageDraws.size(), 2u);
    ASSERT_EQ(row.otherImageDraws.size(), 1u);
    EXPECT_EQ(row.underImageDraws[0].texture, images.textures[under.get()]);
    EXPECT_EQ(row.overImageDraws[0].texture, images.textures[overEarly.get()]);
    EXPECT_EQ(row.overImageDraws[1].texture, images.textures[overLate.get()]);

    // The offset moves the picture right and down (device pixels over the backing scale).
    const double top = 3 * h;
    std::vector<GlyphVertex> expected;
    appendQuad(expected, {2, float(top - 10 - 3), 22, float(top - 3)}, {0, 0, 1, 1}, {1, 1, 1, 1});
    expectSameRecords(row.overImageDraws[1].vertices, expected, "offset kitty image");
    expected.clear();
    appendQuad(expected, {float(3 * w), float(top - 10), float(3 * w + 20), float(top)},
               {0, 0, 1, 1}, {1, 1, 1, 1});
    expectSameRecords(row.otherImageDraws[0].vertices, expected, "sixel slice");
}

// Image 9 shown through a 2 x 2 grid of placeholder cells in columns 1-2 of rows 0-1.
class PlaceholderDrawDataTest : public RowDrawDataTest {
protected:
    void SetUp() override
    {
        RowDrawDataTest::SetUp();
        // Ten times as wide as tall: fitted to the grid's width, centred on the rows' border.
        images.kittyTextures[9] = device.makeTexture(GpuPixelFormat::rgba8, 100, 10);
        host.edit = [this](ViewLineInfo& info) {
            for (int64_t col : {1, 2})
                info.kittyPlaceholders.push_back(
                    {currentRow, col, 9, cellPlacementId, currentRow, col - 1, 0});
        };
    }

    KittyPlacementRecord grid(uint32_t placementId, int64_t cols = 2, int64_t rows = 2)
    {
        KittyPlacementRecord record;
        record.imageId = 9;
        record.placementId = placementId;
        record.cols = cols;
        record.rows = rows;
        record.isVirtual = true;
        return record;
    }

    // Each cell's piece: its quad in points and its texture rectangle, left to right.
    std::vector<ImageDraw> pieces(const std::vector<std::pair<QuadCorners, QuadCorners>>& quads)
    {
        std::vector<ImageDraw> draws;
        for (const auto& [rect, tex] : quads) {
            ImageDraw draw{images.kittyTextures[9], {}};
            appendQuad(draw.vertices, rect, tex, {1, 1, 1, 1});
            draws.push_back(std::move(draw));
        }
        return draws;
    }

    RowDrawData buildRow(int row)
    {
        currentRow = row;
        return build(row);
    }

    int64_t currentRow = 0;
    uint32_t cellPlacementId = 0;
};

TEST_F(PlaceholderDrawDataTest, EachCellDrawsItsOwnPieceOfTheFittedPicture)
{
    placements[9] = {grid(5)};
    const float fitHalf = float(2 * w / 10 / 2);
    const float mid = float(2 * h);
    // The picture's upper half lies in the upper row; t counts from its bottom edge.
    expectSameImageDraws(buildRow(0).placeholderImageDraws,
                         pieces({{{float(w), mid, float(2 * w), mid + fitHalf}, {0, 0.5f, 0.5f, 1}},
                                 {{float(2 * w), mid, float(3 * w), mid + fitHalf},
                                  {0.5f, 0.5f, 1, 1}}}),
                         "upper row");
    expectSameImageDraws(buildRow(1).placeholderImageDraws,
                         pieces({{{float(w), mid - fitHalf, float(2 * w), mid}, {0, 0, 0.5f, 0.5f}},
                                 {{float(2 * w), mid - fitHalf, float(3 * w), mid},
                                  {0.5f, 0, 1, 0.5f}}}),
                         "lower row");
}

TEST_F(PlaceholderDrawDataTest, PixelOffsetsMoveThePictureRightAndDown)
{
    KittyPlacementRecord record = grid(5);
    record.pixelOffsetX = 4;
    record.pixelOffsetY = 6;
    placements[9] = {record};
    host.backing = 2;
    // 2 points right and 3 points down: the thin picture now lies inside the lower row only,
    // and its right 2 points fall into column 3, which holds no placeholder cell.
    const float fitHalf = float(2 * w / 10 / 2);
    const float mid = float(2 * h - 3);
    const float split = float((w - 2) / (2 * w));
    EXPECT_TRUE(buildRow(0).placeholderImageDraws.empty());
    expectSameImageDraws(
        buildRow(1).placeholderImageDraws,
        pieces({{{float(w + 2), mid - fitHalf, float(2 * w), mid + fitHalf}, {0, 0, split, 1}},
                {{float(2 * w), mid - fitHalf, float(3 * w), mid + fitHalf},
                 {split, 0, float((2 * w - 2) / (2 * w)), 1}}}),
        "offset grid");
}

TEST_F(PlaceholderDrawDataTest, CellsTakeTheFirstVirtualPlacementThatHasTheirPart)
{
    struct Case {
        const char* name;
        uint32_t cellPlacementId;
        std::vector<KittyPlacementRecord> records;
        bool texture;
        std::size_t pieces;
    };
    const Case cases[] = {
        {"placement id 0 skips a grid too small for the cell", 0, {grid(3, 1, 1), grid(5)}, true, 2},
        {"a placement id picks its own placement", 5, {grid(3), grid(5)}, true, 2},
        {"no placement with that id", 4, {grid(3), grid(5)}, true, 0},
        {"an empty grid", 0, {grid(3, 0, 2)}, true, 0},
        {"no placement of the image", 0, {}, true, 0},
        {"no texture", 0, {grid(5)}, false, 0},
    };
    const auto texture = images.kittyTextures[9];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cellPlacementId = c.cellPlacementId;
        placements.clear();
        if (!c.records.empty())
            placements[9] = c.records;
        if (c.texture)
            images.kittyTextures[9] = texture;
        else
            images.kittyTextures.erase(9);
        EXPECT_EQ(buildRow(0).placeholderImageDraws.size(), c.pieces);
    }
}

TEST_F(RowDrawDataTest, RowsOutsideTheBufferAreEmpty)
{
    f.feed("\x1b[42mAB");
    for (int row : {-1, 100000}) {
        RowDrawData data = build(row);
        EXPECT_TRUE(data.backgroundCells.empty() && data.glyphCellsGray.empty()) << row;
    }
}

TEST(TextDecorations, PatternsFollowThicknessAndScale)
{
    RowTransform single;
    auto bars = [&](UnderlineStyle style, double th, double p) {
        std::vector<ColorCell> out;
        appendUnderlineSegments(0, 16, 10, th, {1, 1, 1, 1}, style, p, single, out);
        return out;
    };
    // Curly at 1 px and scale 2: bars 2 px long on a sine of amplitude 2 and wavelength 8.
    auto curly = bars(UnderlineStyle::curly, 1, 2);
    ASSERT_EQ(curly.size(), 8u);
    EXPECT_FLOAT_EQ(curly[0].size.x, 2);
    EXPECT_FLOAT_EQ(curly[0].position.y, 9.5f);
    EXPECT_FLOAT_EQ(curly[1].position.y + 0.5f, 10 + 2 * std::sin(2 * M_PI * 2 / 8));
    EXPECT_FLOAT_EQ(curly[2].position.y, 9.5f);
    // Dotted at scale 1, 1 px: dots of 1 px every 3 px; dashed: 2 px every 4 px.
    auto dotted = bars(UnderlineStyle::dotted, 1, 1);
    ASSERT_EQ(dotted.size(), 6u);
    EXPECT_FLOAT_EQ(dotted[1].position.x, 3);
    EXPECT_FLOAT_EQ(dotted[1].size.x, 1);
    auto dashed = bars(UnderlineStyle::dashed, 1, 1);
    ASSERT_EQ(dashed.size(), 4u);
    EXPECT_FLOAT_EQ(dashed[1].position.x, 4);
    EXPECT_FLOAT_EQ(dashed[1].size.x, 2);
    EXPECT_TRUE(bars(UnderlineStyle::none, 1, 1).empty());
    // A zero thickness and pattern scale would never advance: nothing instead of a hang.
    EXPECT_TRUE(bars(UnderlineStyle::dotted, 0, 0).empty());
    EXPECT_TRUE(bars(UnderlineStyle::curly, 0, 0).empty());
}

TEST(TextDecorations, StretchedAndClippedWithTheRow)
{
    RowTransform top;
    top.renderMode = BufferLine::RenderLineMode::doubledTop;
    top.pivotY = 40;
    top.clip = ClipRect{{0, 20}, {100, 40}};
    std::vector<ColorCell> out;
    appendUnderlineSegments(2, 10, 30, 2, {1, 1, 1, 1}, UnderlineStyle::single, 1, top, out);
    ASSERT_EQ(out.size(), 1u);
    // 29...31 doubled about 40 is 18...22; the band keeps 20...22.
    EXPECT_EQ(out[0].position, (Float2{4, 20}));
    EXPECT_EQ(out[0].size, (Float2{16, 2}));
    out.clear();
    // Stretched below the band: dropped.
    appendUnderlineSegments(2, 10, 22, 2, {1, 1, 1, 1}, UnderlineStyle::single, 1, top, out);
    EXPECT_TRUE(out.empty());
}

TEST(TextDecorations, TheTerminalStyleWinsOverTheUnderlineBits)
{
    const struct {
        std::optional<int> custom;
        std::optional<int> bits;
        UnderlineStyle expected;
    } cases[] = {
        {5, UnderlineBits::single, UnderlineStyle::dashed},
        {3, UnderlineBits::single, UnderlineStyle::curly},
        {9, UnderlineBits::double_, UnderlineStyle::double_},
        {std::nullopt, UnderlineBits::double_, UnderlineStyle::double_},
        {std::nullopt, UnderlineBits::single | UnderlineBits::patternDot, UnderlineStyle::dotted},
        {std::nullopt, UnderlineBits::single | UnderlineBits::patternDashDot,
         UnderlineStyle::dotted},
        {std::nullopt, UnderlineBits::single | UnderlineBits::patternDash, UnderlineStyle::dashed},
        {std::nullopt, UnderlineBits::single, UnderlineStyle::single},
        {std::nullopt, 0, UnderlineStyle::none},
        {std::nullopt, std::nullopt, UnderlineStyle::none},
    };
    for (const auto& c : cases) {
        RunAttributes attributes;
        attributes.veldatronUnderlineStyle = c.custom;
        attributes.underlineStyle = c.bits;
        EXPECT_EQ(resolveUnderlineStyle(attributes), c.expected)
            << c.custom.value_or(-1) << " " << c.bits.value_or(-1);
    }
}

} // namespace
} // namespace veldatron
