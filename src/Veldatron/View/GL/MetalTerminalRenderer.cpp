#include "MetalTerminalRenderer.h"

#include "CursorDrawBuilder.h"
#include "DrawEncoding.h"
#include "GlEncoder.h"
#include "GlGpuDevice.h"
#include "GlShaderLibraryProvider.h"
#include "IRendererHost.h"
#include "MetalError.h"
#include "MetalProfile.h"
#include "QtGlyphRasterizer.h"
#include "QtShaper.h"
#include "RowGeometry.h"

#include "Terminal.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>

#include <algorithm>

namespace veldatron {

// The row and cursor builders a frame pass drives.
class MetalTerminalRenderer::Content final : public IFrameContent {
public:
    Content(MetalTerminalRenderer& renderer, RowDrawBuilder& rows)
        : m_renderer(renderer), m_rows(rows)
    {
    }

    RowDrawData buildRowDrawData(int row, Buffer& buffer, int yDisp, double cellWidth,
                                 double cellHeight, double yOffset, double viewWidthPx,
                                 double scale, const VirtualPlacements& placements) override
    {
        if (replacement)
            return replacement->buildRowDrawData(row, buffer, yDisp, cellWidth, cellHeight,
                                                 yOffset, viewWidthPx, scale, placements);
        return m_rows.buildRowDrawData(row, buffer, yDisp, cellWidth, cellHeight, yOffset,
                                       viewWidthPx, scale, placements);
    }
    void buildCursorDrawData(double scale, double cellWidth, double cellHeight,
                             double lineDescent, double lineLeading, int yDisp, int firstRow,
                             int lastRow, DrawData& out) override
    {
        if (replacement)
            return replacement->buildCursorDrawData(scale, cellWidth, cellHeight, lineDescent,
                                                    lineLeading, yDisp, firstRow, lastRow, out);
        CursorDrawData cursor = veldatron::buildCursorDrawData(
            m_renderer.m_host, *m_renderer.m_glyphs, m_renderer.m_cursorBlinkOn, scale, cellWidth,
            cellHeight, lineDescent, lineLeading, yDisp, firstRow, lastRow);
        out.cursorColorVertices = std::move(cursor.colorVertices);
        out.cursorGlyphVerticesGray = std::move(cursor.glyphVerticesGray);
        out.cursorGlyphVerticesColor = std::move(cursor.glyphVerticesColor);
    }

    IFrameContent* replacement = nullptr;

private:
    MetalTerminalRenderer& m_renderer;
    RowDrawBuilder& m_rows;
};

std::unique_ptr<MetalTerminalRenderer>
MetalTerminalRenderer::create(IRendererHost& host, QOpenGLContext& context,
                              MetalRecoveryClock& clock, MetalRecoveryScheduler& scheduler,
                              IShaderLibraryProvider* library, ILogSink& log)
{
    const QSurfaceFormat format = context.format();
    if (!context.isValid() || format.version() < qMakePair(3, 3)
        || format.profile() != QSurfaceFormat::CoreProfile)
        throw MetalError::deviceUnavailable();
    // Everything below talks to the context: it stands in for the command queue.
    if (QOpenGLContext::currentContext() != &context)
        throw MetalError::commandQueueUnavailable();
    auto device = GlGpuDevice::create(context);
    if (!device)
        throw MetalError::deviceUnavailable();
    GlGpuDevice* glDevice = device.get();

    auto renderer = std::make_unique<MetalTerminalRenderer>(
        host, std::move(device), std::make_unique<QtShaper>(),
        std::make_unique<QtGlyphRasterizer>(), clock, scheduler, log);
    renderer->m_glDevice = glDevice;

    GlShaderLibraryProvider embedded;
    const ShaderLibrary shaders = makeLibrary(library ? *library : embedded);
    renderer->m_pipelines = makePipelines(shaders, [&](const QString& message) {
        log.log(ILogSink::Category::renderer, ILogSink::Level::error, message);
    });
    renderer->m_sampler = makeSampler(glDevice->functions());
    if (renderer->m_sampler == 0)
        throw MetalError::samplerUnavailable();
    return renderer;
}

MetalTerminalRenderer::MetalTerminalRenderer(IRendererHost& host,
                                             std::unique_ptr<IGpuDevice> device,
                                             std::unique_ptr<IShaper> shaper,
                                             std::unique_ptr<IGlyphRasterizer> rasterizer,
                                             MetalRecoveryClock& clock,
                                             MetalRecoveryScheduler& scheduler, ILogSink& log)
    : m_host(host), m_log(log), m_clock(clock), m_scheduler(scheduler),
      m_device(std::move(device)), m_bufferPool(std::make_shared<BufferPool>(*m_device)),
      m_shaper(std::move(shaper)), m_rasterizer(std::move(rasterizer)),
      m_imageTextures(*m_device), m_self(std::make_shared<MetalTerminalRenderer*>(this))
{
    m_glyphs = GlyphProvider::create(*m_device, *m_shaper, *m_rasterizer, m_log);
    if (!m_glyphs)
        throw MetalError::atlasUnavailable();
    m_rowBuilder = std::make_unique<RowDrawBuilder>(m_host, *m_glyphs, &m_imageTextures);
    m_content = std::make_unique<Content>(*this, *m_rowBuilder);
    m_framePass = std::make_unique<FramePass>(m_host, *m_device, m_imageTextures, *m_content);
    m_glyphs->onRowCacheInvalidated = [this] { m_framePass->clearRowCache(); };
}

MetalTerminalRenderer::~MetalTerminalRenderer()
{
    m_self.reset();
    if (m_cursorBlinkTimer)
        m_cursorBlinkTimer->cancel();
    if (m_sampler != 0 && m_glDevice && QOpenGLContext::currentContext()
        && QOpenGLContext::areSharing(QOpenGLContext::currentContext(), &m_glDevice->context()))
        m_glDevice->functions().glDeleteSamplers(1, &m_sampler);
}

void MetalTerminalRenderer::post(std::function<void(MetalTerminalRenderer&)> action)
{
    std::weak_ptr<MetalTerminalRenderer*> self = m_self;
    m_scheduler.schedule(0, [self, action = std::move(action)] {
        if (auto alive = self.lock())
            action(**alive);
    });
}

MetalFrameCoordinator& MetalTerminalRenderer::frameCoordinator()
{
    if (m_frameCoordinator)
        return *m_frameCoordinator;
    std::weak_ptr<MetalTerminalRenderer*> self = m_self;
    MetalFrameCoordinator::Actions actions;
    // Asked under the coordinator's lock, on the caller's thread.
    actions.isRetryEligible = [self] {
        auto alive = self.lock();
        return alive && (*alive)->m_host.isMetalRendererEligibleForRetry();
    };
    actions.requestDraw = [self](MetalFrameRefusalReason) {
        if (auto alive = self.lock()) {
            (*alive)->post([](MetalTerminalRenderer& renderer) {
                if (renderer.m_callbacks.setNeedsDisplay)
                    renderer.m_callbacks.setNeedsDisplay();
            });
        }
    };
    actions.requestRecovery = [self](const MetalRendererRecoveryReport& report) {
        if (auto alive = self.lock()) {
            (*alive)->post([report](MetalTerminalRenderer& renderer) {
                if (renderer.m_callbacks.requiresRecovery)
                    renderer.m_callbacks.requiresRecovery(report);
            });
        }
    };
    actions.becameIdle = [self] {
        if (auto alive = self.lock()) {
            (*alive)->post([](MetalTerminalRenderer& renderer) {
                if (renderer.m_callbacks.becameIdle)
                    renderer.m_callbacks.becameIdle();
            });
        }
    };
    m_frameCoordinator = MetalFrameCoordinator::create(m_clock, m_scheduler, std::move(actions));
    return *m_frameCoordinator;
}

void MetalTerminalRenderer::setFrameContent(IFrameContent* content)
{
    m_content->replacement = content;
}

double MetalTerminalRenderer::drawableScale() const
{
    const double scale = m_host.metalScaleFactorOverride().value_or(m_host.backingScaleFactor());
    return std::max(scale, 1.0);
}

void MetalTerminalRenderer::draw(IFrameBackend& view)
{
    MetalProfileSpan drawSpan(MetalProfileInterval::draw);
    MetalFrameCoordinator& coordinator = frameCoordinator();
    const auto token = coordinator.beginFrame();
    if (!token)
        return;
    // A token left open would keep a phantom frame in flight until its watchdog asks for a new
    // renderer: whatever way this returns, the frame ends exactly once.
    struct TokenGuard {
        MetalFrameCoordinator& coordinator;
        MetalFrameCoordinator::Token token;
        bool ended = false;
        void refuse(MetalFrameRefusalReason reason)
        {
            ended = true;
            coordinator.refuse(token, reason);
        }
        ~TokenGuard()
        {
            if (!ended)
                coordinator.refuse(token, MetalFrameRefusalReason::missingDrawable);
        }
    } guard{coordinator, *token};

    Terminal* terminal = m_host.terminal();
    if (!terminal)
        return guard.refuse(MetalFrameRefusalReason::missingDrawable);

    m_rasterizer->setFontSmoothing(m_host.fontSmoothing());
    const double scale = drawableScale();
    const QSizeF bounds = m_host.bounds();
    view.setDrawableSize(QSizeF(scale * bounds.width(), scale * bounds.height()));

    const CursorStyle style = terminal->options().cursorStyle;
    const bool blinkingStyle = style == CursorStyle::blinkBlock
                               || style == CursorStyle::blinkUnderline
                               || style == CursorStyle::blinkBar;
    updateCursorBlinkTimer(blinkingStyle && !terminal->isCursorHidden()
                           && (!m_host.caretTracksFocus() || m_host.hasFocus()));

    // Both are asked before either is checked.
    bool drawable = false;
    {
        MetalProfileSpan span(MetalProfileInterval::currentDrawable);
        drawable = view.hasCurrentDrawable();
    }
    bool descriptor = false;
    {
        MetalProfileSpan span(MetalProfileInterval::renderPass);
        descriptor = view.hasRenderPassDescriptor();
    }
    if (!drawable)
        return guard.refuse(MetalFrameRefusalReason::missingDrawable);
    if (!descriptor)
        return guard.refuse(MetalFrameRefusalReason::missingRenderPassDescriptor);

    MetalProfileSpan buildSpan(MetalProfileInterval::buildDrawData);
    const DrawData data = buildDrawData(scale);
    buildSpan.end();
    // The effective background is the default foreground while reverse video is on.
    const Float4 clearColor = colorToSIMD(m_host.effectiveNativeBackgroundColor());

    MetalProfileSpan encodeSpan(MetalProfileInterval::encode);
    const std::shared_ptr<IGpuCommandBuffer> commandBuffer = view.makeCommandBuffer();
    if (!commandBuffer)
        return guard.refuse(MetalFrameRefusalReason::missingCommandBuffer);
    std::unique_ptr<IEncoder> encoder = view.makeRenderEncoder(*commandBuffer, clearColor);
    if (!encoder)
        return guard.refuse(MetalFrameRefusalReason::missingRenderEncoder);

    guard.ended = true;
    coordinator.didSubmit(
        *token, [commandBuffer] { return commandBuffer->status(); },
        [commandBuffer] { return commandBuffer->error(); });
    std::weak_ptr<MetalFrameCoordinator> weakCoordinator = m_frameCoordinator;
    commandBuffer->addCompletedHandler(
        [weakCoordinator, token = *token](MetalTrackedCommandBufferStatus status,
                                          std::optional<std::string> error) {
            if (auto alive = weakCoordinator.lock())
                alive->complete(token, status, std::move(error));
        });

    m_bufferPool->beginFrame();
    const QSizeF size = view.drawableSize();
    encodeFrame(*encoder, data, {float(size.width()), float(size.height())},
                {*m_bufferPool, *m_glyphs->grayscaleAtlas().texture(),
                 *m_glyphs->colorAtlas().texture()});
    encoder.reset();
    encodeSpan.end();

    MetalProfileSpan commitSpan(MetalProfileInterval::commit);
    std::weak_ptr<MetalTerminalRenderer*> self = m_self;
    view.addPresentedHandler([self] {
        if (auto alive = self.lock())
            (*alive)->recordPresentedFrame();
    });
    view.present(*commandBuffer);
    if (auto recycle = m_bufferPool->commit())
        commandBuffer->addCompletedHandler(
            [recycle](MetalTrackedCommandBufferStatus, std::optional<std::string>) { recycle(); });
    commandBuffer->commit();
}

DrawData MetalTerminalRenderer::buildDrawData(double scale)
{
    GlyphAtlas& gray = m_glyphs->grayscaleAtlas();
    GlyphAtlas& color = m_glyphs->colorAtlas();
    DrawData data;
    for (int pass = 0;; ++pass) {
        if (pass == maximumRebuildPasses) {
            m_log.log(ILogSink::Category::atlas, ILogSink::Level::fault,
                      QStringLiteral("glyph working set exceeds max atlas capacity; some glyphs "
                                     "will be skipped this frame"));
            gray.setFrozen(true);
            color.setFrozen(true);
        }
        m_glyphs->setAtlasInvalidatedDuringBuild(false);
        data = m_framePass->buildDrawDataPass(scale);
        if (!m_glyphs->atlasInvalidatedDuringBuild() || pass >= maximumRebuildPasses)
            break;
        m_framePass->clearRowCache();
        m_log.log(ILogSink::Category::atlas, ILogSink::Level::info,
                  QStringLiteral("glyph atlas changed during frame build; rebuild pass %1/%2")
                      .arg(pass + 1)
                      .arg(maximumRebuildPasses));
    }
    gray.setFrozen(false);
    color.setFrozen(false);
    return data;
}

void MetalTerminalRenderer::updateCursorBlinkTimer(bool shouldBlink)
{
    if (shouldBlink && !m_cursorBlinkTimer) {
        m_cursorBlinkOn = true;
        std::weak_ptr<MetalTerminalRenderer*> self = m_self;
        m_cursorBlinkTimer = m_scheduler.schedule(cursorBlinkInterval, [self] {
            if (auto alive = self.lock())
                (*alive)->cursorBlinkTick();
        });
    } else if (!shouldBlink && m_cursorBlinkTimer) {
        m_cursorBlinkTimer->cancel();
        m_cursorBlinkTimer.reset();
        m_cursorBlinkOn = true;
    }
}

void MetalTerminalRenderer::cursorBlinkTick()
{
    if (!m_cursorBlinkTimer)
        return;
    m_cursorBlinkOn = !m_cursorBlinkOn;
    std::weak_ptr<MetalTerminalRenderer*> self = m_self;
    m_cursorBlinkTimer = m_scheduler.schedule(cursorBlinkInterval, [self] {
        if (auto alive = self.lock())
            (*alive)->cursorBlinkTick();
    });
    if (m_callbacks.setNeedsDisplay)
        m_callbacks.setNeedsDisplay();
}

void MetalTerminalRenderer::recordPresentedFrame()
{
    post([](MetalTerminalRenderer& renderer) {
        if (renderer.m_callbacks.didPresent)
            renderer.m_callbacks.didPresent();
    });
}

} // namespace veldatron
