// The renderer on the real driver: set-up and its errors, a frame's fence, and frames of a known
// screen compared with the raster view's frame of the same screen.

#include "ExecutorClock.h"
#include "FrameComparison.h"
#include "GlFrameBackend.h"
#include "GlGpuDevice.h"
#include "GlShaderLibraryProvider.h"
#include "GlTestContext.h"
#include "CaretView.h"
#include "ImageInsertion.h"
#include "KittyPlaceholder.h"
#include "MetalError.h"
#include "MetalTerminalRenderer.h"
#include "TextDecoding.h"
#include "ViewFixture.h"
#include "ViewRendererHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLFramebufferObject>
#include <QPainter>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>

using namespace veldatron;
using veldatron::testing::ExecutorClock;
using veldatron::testing::compare;
using veldatron::testing::Comparison;
using veldatron::testing::GlTestContext;
using veldatron::testing::RecordingView;
using veldatron::testing::ViewFixture;

namespace {

// A provider whose source is the embedded text with one edit.
class EditedLibrary : public IShaderLibraryProvider {
public:
    EditedLibrary(const QString& from, const QString& to) : m_from(from), m_to(to) {}
    std::optional<ShaderLibrary> defaultLibrary() override { return std::nullopt; }
    std::optional<QString> findCompiledLibrary() override { return std::nullopt; }
    std::variant<ShaderLibrary, QString> loadCompiledLibrary(const QString&) override
    {
        return QString();
    }
    std::optional<QString> loadShaderSource() override
    {
        auto source = m_embedded.loadShaderSource();
        if (source)
            source->replace(m_from, m_to);
        return source;
    }
    std::variant<ShaderLibrary, QString> compileSource(const QString& source) override
    {
        return m_embedded.compileSource(source);
    }

private:
    GlShaderLibraryProvider m_embedded;
    QString m_from;
    QString m_to;
};

class GlRendererTest : public ::testing::Test {
protected:
    static constexpr int kCols = 12;
    static constexpr int kRows = 4;

    void SetUp() override
    {
        m_gl = GlTestContext::make();
        if (!m_gl)
            GTEST_SKIP() << GlTestContext::whyUnavailable();
        TerminalOptions options = TerminalView::defaultStartupOptions();
        options.cols = kCols;
        options.rows = kRows;
        m_fixture = std::make_unique<ViewFixture>(options, 16);
        RecordingView& view = m_fixture->view();
        const QSizeF cell = view.cellDimension();
        m_size = QSize(int(std::floor(kCols * cell.width())), int(std::round(kRows * cell.height())));
        view.resize(m_size.width() + view.scroller()->width(), m_size.height());
        m_host = std::make_unique<ViewRendererHost>(view);
        m_host->size = QSizeF(m_size);
    }

    void TearDown() override
    {
        if (m_backend)
            m_backend->releaseGlObjects();
        m_backend.reset();
        m_renderer.reset();
        m_fbo.reset();
    }

    std::unique_ptr<MetalTerminalRenderer> makeRenderer(IShaderLibraryProvider* library = nullptr)
    {
        return MetalTerminalRenderer::create(*m_host, m_gl->context(), m_clock, m_scheduler,
                                             library);
    }

    // A frame of the view drawn at `scale`, shown on a framebuffer at `targetScale` (the same
    // unless given), read back top row first.
    QImage gpuFrame(double scale, std::optional<double> targetScale = std::nullopt)
    {
        m_host->backing = scale;
        if (!m_renderer)
            m_renderer = makeRenderer();
        const QSize pixels(int(std::lround(m_size.width() * targetScale.value_or(scale))),
                           int(std::lround(m_size.height() * targetScale.value_or(scale))));
        m_fbo = std::make_unique<QOpenGLFramebufferObject>(pixels);
        GlFrameBackend::Target target;
        target.framebuffer = [this] { return m_fbo->handle(); };
        target.framebufferSize = [this] { return m_fbo->size(); };
        target.makeCurrent = [this] { return m_gl->context().makeCurrent(&m_gl->surface()); };
        if (m_backend)
            m_backend->releaseGlObjects();
        m_backend = std::make_unique<GlFrameBackend>(*m_renderer->glDevice(),
                                                     *m_renderer->pipelines(),
                                                     m_renderer->sampler(), target);
        m_renderer->draw(*m_backend);
        m_gl->functions()->glFinish();
        QImage image = m_fbo->toImage().convertToFormat(QImage::Format_RGB32);
        // Let the frame complete, so that the next one is admitted.
        waitForIdle();
        return image;
    }

    void waitForIdle()
    {
        QElapsedTimer timer;
        timer.start();
        while (m_renderer->frameCoordinator().activeFrame() && timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    // The raster view's frame of the same screen at `scale`.
    QImage rasterFrame(double scale)
    {
        QImage image(QSize(int(std::lround(m_size.width() * scale)),
                           int(std::lround(m_size.height() * scale))),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::magenta);
        QPainter painter(&image);
        RecordingView& view = m_fixture->view();
        view.drawTerminalContents(QRectF(QPointF(0, 0), QSizeF(m_size)), painter,
                                  m_fixture->terminal().buffer().yDisp());
        // The caret is a child widget of the view, drawn over the rows.
        CaretView& caret = view.caretView();
        if (!caret.isHidden())
            caret.drawCursor(painter, caret.frame(), m_host->focused);
        painter.end();
        image.setDevicePixelRatio(1);
        return image.convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<GlTestContext> m_gl;
    std::unique_ptr<ViewFixture> m_fixture;
    std::unique_ptr<ViewRendererHost> m_host;
    QSize m_size;
    ManualExecutor m_executor;
    ExecutorClock m_clock{m_executor};
    DispatchMetalRecoveryScheduler m_scheduler{m_executor};
    std::unique_ptr<MetalTerminalRenderer> m_renderer;
    std::unique_ptr<QOpenGLFramebufferObject> m_fbo;
    std::unique_ptr<GlFrameBackend> m_backend;
};

TEST_F(GlRendererTest, SetUpMakesEverythingAFrameNeeds)
{
    auto renderer = makeRenderer();
    ASSERT_TRUE(renderer->pipelines());
    EXPECT_NE(renderer->sampler(), 0u);
    EXPECT_EQ(renderer->glyphs().grayscaleAtlas().size(), 1024);
    EXPECT_FALSE(renderer->hasFrameCoordinator()) << "made on the first frame";
}

TEST_F(GlRendererTest, SetUpErrorsCarryTheirMessages)
{
    {
        SCOPED_TRACE("a pipeline that does not link");
        EditedLibrary library(QStringLiteral("in vec4 v_color;\nout vec4 o_color;\nvoid main()\n{\n"
                                             "    o_color = v_color;"),
                              QStringLiteral("in vec3 v_color;\nout vec4 o_color;\nvoid main()\n{\n"
                                             "    o_color = vec4(v_color, 1.0);"));
        try {
            makeRenderer(&library);
            ADD_FAILURE() << "made";
        } catch (const MetalError& error) {
            EXPECT_EQ(error.description().toStdString(),
                      "Failed to create Metal pipeline: text/color/cell");
        }
    }
    {
        SCOPED_TRACE("a function missing from the source");
        EditedLibrary library(QStringLiteral("//! function terminal_color_fragment"),
                              QStringLiteral("//! function terminal_colour_fragment"));
        try {
            makeRenderer(&library);
            ADD_FAILURE() << "made";
        } catch (const MetalError& error) {
            EXPECT_EQ(error.kind(), MetalError::Kind::shaderFunctionMissing);
        }
    }
    {
        SCOPED_TRACE("a context that is not current");
        m_gl->context().doneCurrent();
        try {
            makeRenderer();
            ADD_FAILURE() << "made";
        } catch (const MetalError& error) {
            EXPECT_EQ(error.description().toStdString(), "Failed to create Metal command queue.");
        }
        m_gl->context().makeCurrent(&m_gl->surface());
    }
}

TEST_F(GlRendererTest, FrameFenceSignalsAndTheContextReportsNoReset)
{
    m_renderer = makeRenderer();
    EXPECT_FALSE(glContextFailure(m_gl->context(), *m_renderer->glDevice()));
    gpuFrame(1.0);
    EXPECT_FALSE(m_renderer->frameCoordinator().activeFrame()) << "the fence signalled";
    EXPECT_NE(m_renderer->frameCoordinator().beginFrame(), std::nullopt);
}

TEST_F(GlRendererTest, FrameMatchesTheRasterViewsFrame)
{
    // Colours (fore- and background, 256-colour and direct), underlined text, a wide character.
    m_fixture->feed("\x1b[31mred\x1b[0m \x1b[42;30mgreen\x1b[0m\r\n"
                    "\x1b[4munder\x1b[0m \x1b[38;2;40;90;200m\xe4\xb8\xad\x1b[0m\r\n"
                    "\x1b[48;5;33m   \x1b[0m plain\r\n"
                    "\x1b[7minverse\x1b[0m");
    m_fixture->clock.advance(std::chrono::milliseconds(20)); // the display pass places the caret
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const QImage raster = rasterFrame(scale);
        const QImage gpu = gpuFrame(scale);
        ASSERT_EQ(gpu.size(), raster.size());
        const Comparison result = compare(gpu, raster, 48);
        EXPECT_GT(result.compared, raster.width() * raster.height() / 2);
        EXPECT_LE(result.differing, result.compared / 100) << result.firstDifference;
        if (::testing::Test::HasFailure() || qEnvironmentVariableIsSet("VELDATRON_KEEP_FRAMES")) {
            gpu.save(QStringLiteral("/tmp/gl-frame-%1.png").arg(scale));
            raster.save(QStringLiteral("/tmp/raster-frame-%1.png").arg(scale));
        }
    }
}

} // namespace

namespace {

// A scale that differs from the framebuffer's (an override of the window's scale) draws at that
// scale and is scaled onto the framebuffer when presented.
TEST_F(GlRendererTest, FrameAtAnotherScaleIsScaledOntoItsFramebuffer)
{
    m_fixture->feed("\x1b[41m      \x1b[0m\r\n\x1b[44mblue\x1b[0m");
    m_fixture->clock.advance(std::chrono::milliseconds(20));
    const QImage raster = rasterFrame(1.0);
    const QImage gpu = gpuFrame(2.0, 1.0);
    ASSERT_EQ(gpu.size(), raster.size());
    EXPECT_EQ(m_backend->drawableSize(), QSizeF(m_size) * 2);
    const Comparison result = compare(gpu, raster, 48);
    EXPECT_LE(result.differing, result.compared / 100) << result.firstDifference;
}

// An image the core cut into row slices (no view in between) checked against its own picture:
// where the row's slices put it, at both scales.
TEST_F(GlRendererTest, ImageInARowIsDrawnAtItsCellsUprightAndOpaque)
{
    const QSizeF cell = m_fixture->view().cellDimension();
    // Top half orange, bottom half blue: shows the picture is not upside down.
    RgbaImage picture{20, 40, {}};
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const bool top = y < picture.height / 2;
            picture.bytes.insert(picture.bytes.end(),
                                 {uint8_t(top ? 255 : 0), uint8_t(top ? 128 : 0),
                                  uint8_t(top ? 0 : 255), 255});
        }
    }
    Terminal& terminal = m_fixture->terminal();
    m_fixture->feed("\x1b[1;3H");
    insertRgbaImage(terminal, std::make_shared<const RgbaImage>(picture),
                    bitmapSizeRequests(terminal, m_size.width(), picture.width),
                    {int(cell.width()), int(cell.height())});
    m_fixture->clock.advance(std::chrono::milliseconds(20));

    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const QImage gpu = gpuFrame(scale);
        const double left = 2 * cell.width() * scale;
        const QColor upper = gpu.pixelColor(int(left + 10 * scale), int(5 * scale));
        const QColor lower = gpu.pixelColor(int(left + 10 * scale), int(35 * scale));
        EXPECT_EQ(upper, QColor(255, 128, 0)) << upper.name().toStdString();
        EXPECT_EQ(lower, QColor(0, 0, 255)) << lower.name().toStdString();
        EXPECT_EQ(gpu.pixelColor(int(left - 3 * scale), int(5 * scale)), QColor(Qt::black));
    }
}

} // namespace

namespace {

// A picture of four flat quadrants: red and green above, blue and white below.
std::vector<uint8_t> quadrants(int width, int height)
{
    std::vector<uint8_t> bytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QColor c = y < height / 2 ? (x < width / 2 ? Qt::red : Qt::green)
                                            : (x < width / 2 ? Qt::blue : Qt::white);
            bytes.insert(bytes.end(),
                         {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()), 255});
        }
    }
    return bytes;
}

std::string kittyCommand(const std::string& control, const std::vector<uint8_t>& payload = {})
{
    return "\x1b_G" + control + (payload.empty() ? "" : ";" + TextDecoding::base64Encode(payload))
           + "\x1b\\";
}

// A placeholder cell showing part (row, col) of the image named by the foreground colour.
std::string placeholderCell(int row, int col)
{
    const std::u32string text{KittyPlaceholder::placeholder,
                              KittyPlaceholder::diacritics[std::size_t(row)],
                              KittyPlaceholder::diacritics[std::size_t(col)]};
    return QString::fromUcs4(text.data(), qsizetype(text.size())).toStdString();
}

// A kitty picture shown in the rows and the same picture shown through a 2 x 2 grid of
// placeholder cells come out as the raster view draws them.
TEST_F(GlRendererTest, KittyPictureAndPlaceholderGridMatchTheRasterViewsFrame)
{
    m_fixture->feed("\x1b[1;2H" + kittyCommand("a=T,f=32,q=2,s=40,v=36", quadrants(40, 36)));
    m_fixture->feed(kittyCommand("a=t,f=32,q=2,i=7,s=40,v=36", quadrants(40, 36)));
    m_fixture->feed(kittyCommand("a=p,U=1,q=2,i=7,c=2,r=2"));
    m_fixture->feed("\x1b[1;9H\x1b[38;5;7m" + placeholderCell(0, 0) + placeholderCell(0, 1)
                    + "\x1b[2;9H" + placeholderCell(1, 0) + placeholderCell(1, 1) + "\x1b[m");
    m_fixture->clock.advance(std::chrono::milliseconds(20));

    const QSizeF cell = m_fixture->view().cellDimension();
    // The grid's picture is fitted to its width and centred on the border of its rows.
    const double gridMiddle = cell.height();
    const double fittedHalf = 36 * (2 * cell.width() / 40) / 2;
    struct Probe {
        const char* what;
        QPointF point;
        QColor color;
    };
    const Probe probes[] = {
        {"picture, upper left", {cell.width() + 10, 9}, Qt::red},
        {"picture, lower right", {cell.width() + 30, 27}, Qt::white},
        {"grid, upper left", {8 * cell.width() + cell.width() / 2, gridMiddle - fittedHalf / 2},
         Qt::red},
        {"grid, lower right", {9 * cell.width() + cell.width() / 2, gridMiddle + fittedHalf / 2},
         Qt::white},
    };
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const QImage raster = rasterFrame(scale);
        const QImage gpu = gpuFrame(scale);
        ASSERT_EQ(gpu.size(), raster.size());
        for (const Probe& probe : probes) {
            const QPoint at = (probe.point * scale).toPoint();
            EXPECT_EQ(raster.pixelColor(at), probe.color) << probe.what << " (raster)";
            EXPECT_EQ(gpu.pixelColor(at), probe.color) << probe.what << " (gpu)";
        }
        const Comparison result = compare(gpu, raster, 48);
        EXPECT_GT(result.compared, raster.width() * raster.height() / 2);
        EXPECT_LE(result.differing, result.compared / 100) << result.firstDifference;
        if (::testing::Test::HasFailure() || qEnvironmentVariableIsSet("VELDATRON_KEEP_FRAMES")) {
            gpu.save(QStringLiteral("/tmp/gl-kitty-frame-%1.png").arg(scale));
            raster.save(QStringLiteral("/tmp/raster-kitty-frame-%1.png").arg(scale));
        }
    }
}

} // namespace
