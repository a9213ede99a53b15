// The encoder and the device on the real driver: the y-up pixel convention, the two blends,
// instanced cell records, texture orientation, and allocations GL refuses.

#include "BufferPool.h"
#include "DrawEncoding.h"
#include "GlEncoder.h"
#include "GlGpuDevice.h"
#include "GlShaderLibraryProvider.h"
#include "GlTestContext.h"

#include <QImage>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions_3_3_Core>

#include <gtest/gtest.h>

using namespace veldatron;
using veldatron::testing::GlTestContext;

namespace {

class GlEncoderTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 32;

    void SetUp() override
    {
        m_gl = GlTestContext::make();
        if (!m_gl)
            GTEST_SKIP() << GlTestContext::whyUnavailable();
        m_device = GlGpuDevice::create(m_gl->context());
        ASSERT_TRUE(m_device);
        GlShaderLibraryProvider provider;
        m_pipelines = makePipelines(makeLibrary(provider), {});
        m_sampler = makeSampler(*m_gl->functions());
        ASSERT_NE(m_sampler, 0u);
        m_vertexArrays = std::make_unique<GlVertexArrays>(*m_gl->functions());
        m_pool = std::make_shared<BufferPool>(*m_device);
        m_gray = m_device->makeTexture(GpuPixelFormat::r8, 256, 256);
        m_color = m_device->makeTexture(GpuPixelFormat::bgra8, 256, 256);
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(kWidth, kHeight);
    }

    void TearDown() override
    {
        if (!m_gl)
            return;
        m_vertexArrays->release();
        m_gl->functions()->glDeleteSamplers(1, &m_sampler);
    }

    // Clears to `background` (straight RGB), encodes the data and reads the frame back, top row
    // first.
    QImage render(const DrawData& data, QColor background = Qt::black)
    {
        auto* gl = m_gl->functions();
        m_fbo->bind();
        gl->glViewport(0, 0, kWidth, kHeight);
        gl->glClearColor(background.redF(), background.greenF(), background.blueF(), 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
        m_pool->beginFrame();
        GlEncoder encoder(*gl, m_pipelines, m_sampler, *m_vertexArrays);
        encodeFrame(encoder, data, {float(kWidth), float(kHeight)}, {*m_pool, *m_gray, *m_color});
        gl->glFinish();
        return m_fbo->toImage().convertToFormat(QImage::Format_RGB32);
    }

    // One row whose background layer holds the cells.
    DrawData backgrounds(const std::vector<ColorCell>& cells)
    {
        RowDrawBuffers row;
        row.backgroundBuffer =
            m_device->makeBuffer(cells.data(), cells.size() * sizeof(ColorCell),
                                 GpuBufferUsage::staticDraw);
        row.backgroundCount = int(cells.size());
        DrawData data;
        data.rows = {row};
        return data;
    }

    std::unique_ptr<GlTestContext> m_gl;
    std::unique_ptr<GlGpuDevice> m_device;
    RenderPipelines m_pipelines;
    unsigned m_sampler = 0;
    std::unique_ptr<GlVertexArrays> m_vertexArrays;
    std::shared_ptr<BufferPool> m_pool;
    std::shared_ptr<GpuTexture> m_gray;
    std::shared_ptr<GpuTexture> m_color;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
};

TEST_F(GlEncoderTest, CellAtTheOriginLandsInTheLowerLeftCorner)
{
    const Float4 red{1, 0, 0, 1};
    const Float4 green{0, 1, 0, 1};
    // Two instances of one draw: the second must not repeat the first.
    const QImage image = render(backgrounds({{{0, 0}, {8, 4}, red}, {{56, 28}, {8, 4}, green}}));
    EXPECT_EQ(image.pixel(0, kHeight - 1), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(7, kHeight - 4), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(8, kHeight - 1), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(0, kHeight - 5), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(kWidth - 1, 0), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(55, 3), qRgb(0, 0, 0));
}

TEST_F(GlEncoderTest, FlatColoursBlendStraightAlpha)
{
    const QImage image = render(backgrounds({{{0, 0}, {64, 32}, {1, 1, 1, 0.5f}}}));
    const QColor pixel = image.pixelColor(10, 10);
    EXPECT_NEAR(pixel.red(), 128, 1);
    EXPECT_NEAR(pixel.blue(), 128, 1);
}

TEST_F(GlEncoderTest, GrayGlyphTintsItsCoverageOverTheBackground)
{
    // Coverage 0x80 everywhere in a 4 x 4 region of the atlas.
    const std::vector<uint8_t> coverage(16, 0x80);
    m_device->replaceRegion(*m_gray, 0, 0, 4, 4, coverage.data(), 4);
    const TextCell glyph{{8, 8}, {16, 16}, {1.5f / 256, 1.5f / 256}, {1.0f / 256, 1.0f / 256},
                         {1, 0, 0, 1}};
    RowDrawBuffers row;
    row.glyphGrayBuffer = m_device->makeBuffer(&glyph, sizeof glyph, GpuBufferUsage::staticDraw);
    row.glyphGrayCount = 1;
    DrawData data;
    data.rows = {row};
    const QImage image = render(data, Qt::blue);
    const QColor inside = image.pixelColor(16, kHeight - 16);
    EXPECT_NEAR(inside.red(), 128, 2);
    EXPECT_EQ(inside.green(), 0);
    EXPECT_NEAR(inside.blue(), 127, 2);
    EXPECT_EQ(image.pixel(4, kHeight - 4), qRgb(0, 0, 255));
}

TEST_F(GlEncoderTest, TexturesFirstRowIsSampledAtTheQuadsBottomEdge)
{
    // RGBA rows in memory: red first, then green.
    const uint8_t pixels[] = {255, 0, 0, 255, 0, 255, 0, 255};
    auto texture = m_device->makeTexture(GpuPixelFormat::rgba8, 1, 2);
    ASSERT_TRUE(texture);
    m_device->replaceRegion(*texture, 0, 0, 1, 2, pixels, 4);
    ImageDraw draw{texture, {}};
    appendQuad(draw.vertices, {0, 0, 64, 32}, {0, 0, 1, 1}, {1, 1, 1, 1});
    DrawData data;
    data.frame = FrameDrawData{};
    data.frame->otherImageDraws = {draw};
    const QImage image = render(data);
    EXPECT_EQ(image.pixel(32, kHeight - 2), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(32, 1), qRgb(0, 255, 0));
}

TEST_F(GlEncoderTest, CursorRectangleDrawsOverTheRows)
{
    DrawData data = backgrounds({{{0, 0}, {64, 32}, {0, 0, 1, 1}}});
    appendQuad(data.cursorColorVertices, {8, 0, 16, 32}, {1, 1, 0, 1});
    const QImage image = render(data);
    EXPECT_EQ(image.pixel(10, 5), qRgb(255, 255, 0));
    EXPECT_EQ(image.pixel(20, 5), qRgb(0, 0, 255));
}

TEST_F(GlEncoderTest, DeviceRefusesWhatGlCannotHoldAndUploadsSubRectangles)
{
    EXPECT_FALSE(m_device->makeTexture(GpuPixelFormat::rgba8, m_device->maxTextureSize() + 1, 1));
    EXPECT_FALSE(m_device->makeTexture(GpuPixelFormat::r8, 0, 4));
    EXPECT_FALSE(m_device->makeBuffer(0, GpuBufferUsage::streamDraw));

    auto texture = m_device->makeTexture(GpuPixelFormat::bgra8, 4, 4);
    ASSERT_TRUE(texture);
    // A 2 x 2 rectangle taken from rows of 3 pixels, placed at (1, 2).
    std::vector<uint8_t> rows(3 * 4 * 2);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = uint8_t(i + 1);
    m_device->replaceRegion(*texture, 1, 2, 2, 2, rows.data(), 12);
    std::vector<uint8_t> back(4 * 4 * 4, 0xee);
    auto* gl = m_gl->functions();
    gl->glBindTexture(GL_TEXTURE_2D, texture->glName());
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, back.data());
    auto pixel = [&](int x, int y) {
        const std::size_t at = std::size_t((y * 4 + x) * 4);
        return std::vector<uint8_t>(back.begin() + long(at), back.begin() + long(at) + 4);
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(pixel(1, 2), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(pixel(2, 2), (std::vector<uint8_t>{5, 6, 7, 8}));
    EXPECT_EQ(pixel(1, 3), (std::vector<uint8_t>{13, 14, 15, 16}));
    EXPECT_EQ(pixel(3, 3), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_FALSE(m_device->takeOutOfMemory());
}

} // namespace
