// The frame loop on a fake surface: each missing resource refuses the frame with its reason,
// every token ends exactly once, the drawable's size and scale, the cursor blink timer, atlas
// churn during a build, and presentation reports.

#include "ExecutorClock.h"
#include "FakeGpuDevice.h"
#include "MetalTerminalRenderer.h"
#include "QtGlyphRasterizer.h"
#include "QtShaper.h"
#include "RecordingEncoder.h"
#include "StubRendererHost.h"

#include "ManualExecutor.h"
#include "Terminal.h"

#include <gtest/gtest.h>

using namespace veldatron;
using veldatron::testing::ExecutorClock;
using veldatron::testing::RecordingEncoder;
using veldatron::testing::StubRendererHost;
using Reason = MetalFrameRefusalReason;
using Status = MetalTrackedCommandBufferStatus;

namespace {

class FakeCommandBuffer final : public IGpuCommandBuffer {
public:
    Status currentStatus = Status::notEnqueued;
    std::optional<std::string> currentError;
    bool committed = false;

    Status status() const override { return currentStatus; }
    std::optional<std::string> error() const override { return currentError; }
    void addCompletedHandler(std::function<void(Status, std::optional<std::string>)> handler) override
    {
        m_handlers.push_back(std::move(handler));
    }
    void commit() override
    {
        committed = true;
        currentStatus = Status::committed;
    }
    // The GPU finished the work.
    void finish(Status status, std::optional<std::string> error = {})
    {
        currentStatus = status;
        currentError = error;
        for (auto& handler : std::exchange(m_handlers, {}))
            handler(status, error);
    }

private:
    std::vector<std::function<void(Status, std::optional<std::string>)>> m_handlers;
};

// A surface whose every resource can be withheld.
class FakeFrameBackend final : public IFrameBackend {
public:
    bool drawable = true;
    bool descriptor = true;
    bool commandBuffers = true;
    bool encoders = true;
    QSizeF size;
    std::optional<Float4> clearColor;
    std::shared_ptr<FakeCommandBuffer> lastCommandBuffer;
    RecordingEncoder* lastEncoder = nullptr;
    std::vector<std::string> encoded;
    std::vector<std::function<void()>> presentedHandlers;
    int needsDisplay = 0;

    void setDrawableSize(QSizeF pixels) override { size = pixels; }
    QSizeF drawableSize() const override { return size; }
    bool hasCurrentDrawable() override { return drawable; }
    bool hasRenderPassDescriptor() override { return descriptor; }
    std::shared_ptr<IGpuCommandBuffer> makeCommandBuffer() override
    {
        if (!commandBuffers)
            return nullptr;
        lastCommandBuffer = std::make_shared<FakeCommandBuffer>();
        return lastCommandBuffer;
    }
    std::unique_ptr<IEncoder> makeRenderEncoder(IGpuCommandBuffer&, Float4 clear) override
    {
        if (!encoders)
            return nullptr;
        clearColor = clear;
        // Keeps the commands after the encoder is gone.
        struct Keeping : RecordingEncoder {
            std::vector<std::string>* out = nullptr;
            ~Keeping() override { *out = commands; }
        };
        auto encoder = std::make_unique<Keeping>();
        encoder->out = &encoded;
        return encoder;
    }
    void addPresentedHandler(std::function<void()> handler) override
    {
        presentedHandlers.push_back(std::move(handler));
    }
    void present(IGpuCommandBuffer&) override {}
    void setNeedsDisplay() override { ++needsDisplay; }
};

// One background cell per row; optionally an atlas that changes during every build.
class CannedContent : public IFrameContent {
public:
    GlyphProvider* churn = nullptr;
    int passes = 0;
    std::vector<bool> frozenDuringPass;

    RowDrawData buildRowDrawData(int row, Buffer&, int, double, double, double, double, double,
                                 const VirtualPlacements&) override
    {
        RowDrawData data;
        data.backgroundCells.push_back({{0, float(row)}, {1, 1}, {1, 0, 0, 1}});
        return data;
    }
    void buildCursorDrawData(double, double, double, double, double, int, int, int,
                             DrawData&) override
    {
        ++passes;
        if (churn) {
            frozenDuringPass.push_back(churn->grayscaleAtlas().frozen()
                                       && churn->colorAtlas().frozen());
            churn->setAtlasInvalidatedDuringBuild(true);
        }
    }
};

class FrameLoopTest : public ::testing::Test {
public:
    FrameLoopTest() : m_host(10, 4)
    {
        m_renderer = std::make_unique<MetalTerminalRenderer>(
            m_host, std::make_unique<FakeGpuDevice>(), std::make_unique<QtShaper>(),
            std::make_unique<QtGlyphRasterizer>(), m_clock, m_scheduler, m_log);
        m_renderer->setFrameContent(&m_content);
        m_renderer->setViewCallbacks(
            {.didPresent = [this] { ++m_presented; },
             .requiresRecovery =
                 [this](const MetalRendererRecoveryReport& report) { m_reports.push_back(report); },
             .becameIdle = [this] { ++m_idle; },
             .setNeedsDisplay = [this] { ++m_needsDisplay; }});
    }

    void advance(double seconds)
    {
        m_executor.advance(std::chrono::duration_cast<Executor::Duration>(
            std::chrono::duration<double>(seconds)));
    }

    StubRendererHost m_host;
    ManualExecutor m_executor;
    ExecutorClock m_clock{m_executor};
    DispatchMetalRecoveryScheduler m_scheduler{m_executor};
    RecordingLogSink m_log;
    CannedContent m_content;
    FakeFrameBackend m_view;
    std::unique_ptr<MetalTerminalRenderer> m_renderer;
    int m_presented = 0;
    int m_idle = 0;
    int m_needsDisplay = 0;
    std::vector<MetalRendererRecoveryReport> m_reports;
};

TEST_F(FrameLoopTest, EachMissingResourceRefusesTheFrameWithItsReason)
{
    struct Case {
        const char* name;
        std::function<void(FrameLoopTest&)> withhold;
        Reason reason;
    };
    const Case cases[] = {
        {"no terminal", [](FrameLoopTest& t) { t.m_host.hasTerminal = false; },
         Reason::missingDrawable},
        {"no drawable", [](FrameLoopTest& t) { t.m_view.drawable = false; },
         Reason::missingDrawable},
        {"no render pass descriptor", [](FrameLoopTest& t) { t.m_view.descriptor = false; },
         Reason::missingRenderPassDescriptor},
        {"neither drawable nor descriptor",
         [](FrameLoopTest& t) {
             t.m_view.drawable = false;
             t.m_view.descriptor = false;
         },
         Reason::missingDrawable},
        {"no command buffer", [](FrameLoopTest& t) { t.m_view.commandBuffers = false; },
         Reason::missingCommandBuffer},
        {"no render encoder", [](FrameLoopTest& t) { t.m_view.encoders = false; },
         Reason::missingRenderEncoder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameLoopTest& t = *this;
        t.m_host.hasTerminal = true;
        t.m_view = FakeFrameBackend();
        t.m_reports.clear();
        t.m_renderer = nullptr;
        t.m_renderer = std::make_unique<MetalTerminalRenderer>(
            t.m_host, std::make_unique<FakeGpuDevice>(), std::make_unique<QtShaper>(),
            std::make_unique<QtGlyphRasterizer>(), t.m_clock, t.m_scheduler, t.m_log);
        t.m_renderer->setFrameContent(&t.m_content);
        MetalTerminalRenderer::ViewCallbacks callbacks;
        callbacks.requiresRecovery = [&t](const MetalRendererRecoveryReport& report) {
            t.m_reports.push_back(report);
        };
        t.m_renderer->setViewCallbacks(callbacks);
        c.withhold(t);

        t.m_renderer->draw(t.m_view);
        EXPECT_FALSE(t.m_renderer->frameCoordinator().activeFrame()) << "the token ended";
        EXPECT_TRUE(t.m_view.encoded.empty());
        // The run of refusals is reported after a second, with the latest reason.
        advance(1.01);
        ASSERT_EQ(t.m_reports.size(), 1u);
        EXPECT_EQ(t.m_reports[0].reason, c.reason);
    }
}

TEST_F(FrameLoopTest, SubmittedFrameEndsWhenItsWorkCompletes)
{
    m_renderer->draw(m_view);
    ASSERT_TRUE(m_view.lastCommandBuffer);
    EXPECT_TRUE(m_view.lastCommandBuffer->committed);
    const auto active = m_renderer->frameCoordinator().activeFrame();
    ASSERT_TRUE(active && active->commandBuffer);
    EXPECT_EQ(active->token.value, 1u);

    // A draw asked for while the frame is in flight takes no token and is retried after it.
    m_renderer->draw(m_view);
    EXPECT_EQ(m_renderer->frameCoordinator().activeFrame()->token.value, 1u);

    m_view.lastCommandBuffer->finish(Status::completed);
    EXPECT_FALSE(m_renderer->frameCoordinator().activeFrame());
    m_executor.runReady();
    EXPECT_EQ(m_idle, 1);
    EXPECT_GE(m_needsDisplay, 1) << "the refused draw is asked for again";
    EXPECT_TRUE(m_reports.empty());

    // The pooled cursor-free frame borrowed nothing; the rows' buffers were drawn.
    EXPECT_EQ(m_view.encoded.front(), "pipeline cellColor");
    m_renderer->draw(m_view);
    EXPECT_EQ(m_renderer->frameCoordinator().activeFrame()->token.value, 2u);
}

TEST_F(FrameLoopTest, FrameWhoseWorkNeverFinishesIsReportedOnce)
{
    m_renderer->draw(m_view);
    advance(1.01);
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0].reason, Reason::activeFrame);
    EXPECT_EQ(m_reports[0].commandBufferStatus, Status::committed);
    advance(5);
    EXPECT_EQ(m_reports.size(), 1u);
}

TEST_F(FrameLoopTest, WorkThatFailsIsReportedAtOnceWithItsError)
{
    m_renderer->draw(m_view);
    m_view.lastCommandBuffer->finish(Status::error, "graphics reset: guilty");
    m_executor.runReady();
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0].commandBufferError, "graphics reset: guilty");
}

TEST_F(FrameLoopTest, DrawableIsTheViewTimesTheScaleNeverBelowOne)
{
    m_host.size = QSizeF(800, 600);
    struct Case {
        std::optional<double> override;
        double backing;
        QSizeF drawable;
    };
    const Case cases[] = {
        {2.0, 1.0, {1600, 1200}},
        {0.5, 2.0, {800, 600}},
        {3.0, 2.0, {2400, 1800}},
        {std::nullopt, 2.0, {1600, 1200}},
        {std::nullopt, 1.0, {800, 600}},
    };
    for (const Case& c : cases) {
        m_host.scaleOverride = c.override;
        m_host.backingScale = c.backing;
        m_renderer->draw(m_view);
        EXPECT_EQ(m_view.size, c.drawable);
        ASSERT_TRUE(m_view.lastCommandBuffer);
        m_view.lastCommandBuffer->finish(Status::completed);
    }
    EXPECT_NE(std::find(m_view.encoded.begin(), m_view.encoded.end(), "viewport 800x600"),
              m_view.encoded.end());
    ASSERT_TRUE(m_view.clearColor);
    EXPECT_EQ(*m_view.clearColor, (Float4{0, 0, 0, 1}));
}

TEST_F(FrameLoopTest, CursorBlinksOnlyForBlinkingStylesOfAVisibleFocusedCursor)
{
    Terminal& terminal = m_host.term();
    auto frame = [&] {
        m_renderer->draw(m_view);
        if (m_view.lastCommandBuffer)
            m_view.lastCommandBuffer->finish(Status::completed);
    };
    auto setStyle = [&](CursorStyle style) {
        TerminalOptions options = terminal.options();
        options.cursorStyle = style;
        terminal.setOptions(options);
    };

    setStyle(CursorStyle::steadyBar);
    frame();
    EXPECT_FALSE(m_renderer->hasCursorBlinkTimer());

    setStyle(CursorStyle::blinkBlock);
    frame();
    EXPECT_TRUE(m_renderer->hasCursorBlinkTimer());
    const int before = m_needsDisplay;
    advance(0.71);
    EXPECT_FALSE(m_renderer->cursorBlinkOn());
    EXPECT_EQ(m_needsDisplay, before + 1);

    // Stopping while the phase is off shows the cursor at once.
    terminal.feed(std::string_view("\x1b[?25l"));
    frame();
    EXPECT_FALSE(m_renderer->hasCursorBlinkTimer());
    EXPECT_TRUE(m_renderer->cursorBlinkOn());

    terminal.feed(std::string_view("\x1b[?25h"));
    setStyle(CursorStyle::blinkUnderline);
    m_host.focused = false;
    frame();
    EXPECT_FALSE(m_renderer->hasCursorBlinkTimer());
    m_host.tracksFocus = false;
    frame();
    EXPECT_TRUE(m_renderer->hasCursorBlinkTimer());
}

TEST_F(FrameLoopTest, AtlasChangingDuringEveryBuildStopsAfterSixPasses)
{
    m_content.churn = &m_renderer->glyphs();
    m_renderer->buildDrawData(1.0);
    EXPECT_EQ(m_content.passes, 6);
    EXPECT_EQ(m_content.frozenDuringPass,
              (std::vector<bool>{false, false, false, false, false, true}));
    std::vector<QString> info;
    for (const auto& entry : m_log.entries) {
        if (entry.level == ILogSink::Level::info)
            info.push_back(entry.message);
    }
    ASSERT_EQ(info.size(), 5u);
    EXPECT_EQ(info.front(), QStringLiteral("glyph atlas changed during frame build; rebuild pass 1/5"));
    EXPECT_EQ(info.back(), QStringLiteral("glyph atlas changed during frame build; rebuild pass 5/5"));
    EXPECT_EQ(m_log.count(ILogSink::Level::fault), 1);
    EXPECT_FALSE(m_renderer->glyphs().grayscaleAtlas().frozen());
    EXPECT_FALSE(m_renderer->glyphs().colorAtlas().frozen());
}

TEST_F(FrameLoopTest, PresentedFrameReachesTheViewOnlyWhileTheRendererLives)
{
    m_renderer->draw(m_view);
    ASSERT_EQ(m_view.presentedHandlers.size(), 1u);
    m_view.presentedHandlers[0]();
    m_executor.runReady();
    EXPECT_EQ(m_presented, 1);

    m_view.lastCommandBuffer->finish(Status::completed);
    m_renderer->draw(m_view);
    auto late = m_view.presentedHandlers.back();
    auto commandBuffer = m_view.lastCommandBuffer;
    m_renderer.reset();
    late();
    commandBuffer->finish(Status::completed);
    m_executor.runReady();
    EXPECT_EQ(m_presented, 1);
}

} // namespace
