// What a frame's draw data becomes as draw commands: layer order, one pipeline change per
// non-empty layer, vertex counts, and layers dropped when no buffer can be had.

#include "BufferPool.h"
#include "DrawEncoding.h"
#include "FakeGpuDevice.h"
#include "RecordingEncoder.h"

#include <gtest/gtest.h>

using namespace veldatron;
using veldatron::testing::RecordingEncoder;

namespace {

using Commands = std::vector<std::string>;

class DrawEncodingTest : public ::testing::Test {
protected:
    DrawEncodingTest()
        : m_pool(std::make_shared<BufferPool>(m_device)),
          m_gray(m_device.makeTexture(GpuPixelFormat::r8, 256, 256)),
          m_color(m_device.makeTexture(GpuPixelFormat::bgra8, 256, 256)),
          m_image(m_device.makeTexture(GpuPixelFormat::rgba8, 4, 4))
    {
        m_encoder.names[m_gray.get()] = "gray";
        m_encoder.names[m_color.get()] = "color";
        m_encoder.names[m_image.get()] = "image";
    }

    EncodeResources resources() { return {*m_pool, *m_gray, *m_color}; }

    template <typename Record>
    std::shared_ptr<GpuBuffer> rowBuffer(int count, const std::string& name)
    {
        auto buffer = m_device.makeBuffer(std::size_t(count) * sizeof(Record),
                                          GpuBufferUsage::staticDraw);
        m_encoder.names[buffer.get()] = name;
        return buffer;
    }

    ImageDraw imageDraw() const { return {m_image, std::vector<GlyphVertex>(6)}; }

    ImageDrawBuffer imageBuffer(const std::string& name)
    {
        return {m_image, rowBuffer<GlyphVertex>(6, name), 6};
    }

    // One row with every layer: one record each (two glyphs in the gray layer).
    RowDrawBuffers fullRow()
    {
        RowDrawBuffers row;
        row.backgroundBuffer = rowBuffer<ColorCell>(1, "backgrounds");
        row.backgroundCount = 1;
        row.powerlineJoinBuffer = rowBuffer<ColorCell>(1, "joins");
        row.powerlineJoinCount = 1;
        row.glyphGrayBuffer = rowBuffer<TextCell>(2, "grayGlyphs");
        row.glyphGrayCount = 2;
        row.glyphColorBuffer = rowBuffer<TextCell>(1, "colorGlyphs");
        row.glyphColorCount = 1;
        row.decorationBuffer = rowBuffer<ColorCell>(1, "decorations");
        row.decorationCount = 1;
        row.underImageBuffers = {imageBuffer("under")};
        row.placeholderImageBuffers = {imageBuffer("placeholder")};
        row.overImageBuffers = {imageBuffer("over")};
        row.otherImageBuffers = {imageBuffer("other")};
        return row;
    }

    void addCursor(DrawData& data) const
    {
        data.cursorColorVertices.resize(6);
        data.cursorGlyphVerticesGray.resize(6);
        data.cursorGlyphVerticesColor.resize(6);
    }

    FakeGpuDevice m_device;
    std::shared_ptr<BufferPool> m_pool;
    std::shared_ptr<GpuTexture> m_gray;
    std::shared_ptr<GpuTexture> m_color;
    std::shared_ptr<GpuTexture> m_image;
    RecordingEncoder m_encoder;
    const Float2 m_viewport{1600, 1000};
};

// The stacking order of a frame, bottom first, as pipeline changes and draws.
const Commands kLayerOrder = {
    "pipeline cellColor",    "draw 6",  // backgrounds
    "pipeline text",         "draw 6",  // images under the text
    "pipeline cellColor",    "draw 6",  // powerline joins
    "pipeline cellTextGray", "draw 12", // grayscale glyphs
    "pipeline cellText",     "draw 6",  // colour glyphs
    "pipeline cellColor",    "draw 6",  // decorations
    "pipeline text",         "draw 6",  // placeholder images
    "pipeline text",         "draw 6",  // images over the text
    "pipeline text",         "draw 6",  // other images
    "pipeline color",        "draw 6",  // cursor rectangles
    "pipeline textGray",     "draw 6",  // cursor glyph, grayscale
    "pipeline text",         "draw 6",  // cursor glyph, colour
};

TEST_F(DrawEncodingTest, EmptyFrameDrawsNothing)
{
    encodeFrame(m_encoder, DrawData{}, m_viewport, resources());
    DrawData aggregated;
    aggregated.frame = FrameDrawData{};
    encodeFrame(m_encoder, aggregated, m_viewport, resources());
    EXPECT_EQ(m_encoder.commands, Commands{});
    EXPECT_TRUE(m_pool->frameBuffers().empty());
}

TEST_F(DrawEncodingTest, EightyBackgroundCellsAreOneDrawOf480Vertices)
{
    DrawData data;
    RowDrawBuffers row;
    row.backgroundBuffer = rowBuffer<ColorCell>(80, "backgrounds");
    row.backgroundCount = 80;
    data.rows = {row};
    encodeFrame(m_encoder, data, m_viewport, resources());
    EXPECT_EQ(m_encoder.commands, (Commands{"pipeline cellColor", "viewport 1600x1000",
                                            "buffer backgrounds", "draw 480"}));
}

TEST_F(DrawEncodingTest, RowLayersStackInOrderWithTheCursorOnTop)
{
    DrawData data;
    data.rows = {fullRow()};
    addCursor(data);
    encodeFrame(m_encoder, data, m_viewport, resources());
    EXPECT_EQ(m_encoder.pipelinesAndDraws(), kLayerOrder);

    // Glyph layers draw from their atlas; images from their own texture.
    const Commands& c = m_encoder.commands;
    auto after = [&](const std::string& command) {
        auto at = std::find(c.begin(), c.end(), command);
        return at == c.end() ? Commands{} : Commands(at, std::min(c.end(), at + 5));
    };
    EXPECT_EQ(after("pipeline cellTextGray"),
              (Commands{"pipeline cellTextGray", "viewport 1600x1000", "texture gray", "sampler",
                        "buffer grayGlyphs"}));
    EXPECT_EQ(after("pipeline cellText"),
              (Commands{"pipeline cellText", "viewport 1600x1000", "texture color", "sampler",
                        "buffer colorGlyphs"}));
    EXPECT_EQ(after("pipeline text"), (Commands{"pipeline text", "sampler", "viewport 1600x1000",
                                                "buffer under", "texture image"}));
    // Only the cursor's vertices were copied into pooled buffers.
    EXPECT_EQ(m_pool->frameBuffers().size(), 3u);
}

TEST_F(DrawEncodingTest, LayerStateIsSetOncePerLayerAndEmptyLayersCostNothing)
{
    DrawData data;
    RowDrawBuffers plain;
    plain.backgroundBuffer = rowBuffer<ColorCell>(2, "bg1");
    plain.backgroundCount = 2;
    RowDrawBuffers withText;
    withText.backgroundBuffer = rowBuffer<ColorCell>(1, "bg2");
    withText.backgroundCount = 1;
    withText.glyphGrayBuffer = rowBuffer<TextCell>(3, "text2");
    withText.glyphGrayCount = 3;
    data.rows = {plain, withText, RowDrawBuffers{}};
    encodeFrame(m_encoder, data, m_viewport, resources());
    EXPECT_EQ(m_encoder.commands,
              (Commands{"pipeline cellColor", "viewport 1600x1000", "buffer bg1", "draw 12",
                        "buffer bg2", "draw 6", "pipeline cellTextGray", "viewport 1600x1000",
                        "texture gray", "sampler", "buffer text2", "draw 18"}));
}

TEST_F(DrawEncodingTest, WholeFrameRecordStacksLikeRowsFromPooledBuffers)
{
    FrameDrawData frame;
    frame.backgroundCells.resize(1);
    frame.underImageDraws = {imageDraw()};
    frame.powerlineJoinCells.resize(1);
    frame.glyphCellsGray.resize(2);
    frame.glyphCellsColor.resize(1);
    frame.decorationCells.resize(1);
    frame.placeholderImageDraws = {imageDraw()};
    frame.overImageDraws = {imageDraw()};
    frame.otherImageDraws = {imageDraw()};
    DrawData data;
    data.frame = frame;
    addCursor(data);
    encodeFrame(m_encoder, data, m_viewport, resources());
    EXPECT_EQ(m_encoder.pipelinesAndDraws(), kLayerOrder);
    EXPECT_EQ(m_pool->frameBuffers().size(), 12u);
    EXPECT_EQ(m_pool->frameBuffers().front()->length(), 4096u);
}

TEST_F(DrawEncodingTest, BufferThePoolCannotLendDropsOnlyThatLayer)
{
    FrameDrawData frame;
    frame.backgroundCells.resize(1);
    frame.overImageDraws = {imageDraw(), imageDraw()};
    frame.decorationCells.resize(1);
    DrawData data;
    data.frame = frame;
    // Allocations: the three textures, then backgrounds (4), decorations (5), the images (6, 7).
    m_device.refuseAllocation(5);
    m_device.refuseAllocation(6);
    encodeFrame(m_encoder, data, m_viewport, resources());
    EXPECT_EQ(m_encoder.pipelinesAndDraws(),
              (Commands{"pipeline cellColor", "draw 6", "pipeline text", "draw 6"}));
}

} // namespace
