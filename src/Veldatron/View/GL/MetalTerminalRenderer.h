#pragma once

#include "BufferPool.h"
#include "DrawRecords.h"
#include "FramePass.h"
#include "GlyphProvider.h"
#include "IFrameBackend.h"
#include "ILogSink.h"
#include "ImageTextures.h"
#include "MetalFrameCoordinator.h"
#include "RenderPipeline.h"
#include "RowDrawBuilder.h"

#include <functional>
#include <memory>
#include <optional>

class QOpenGLContext;

namespace veldatron {

class GlGpuDevice;
class IRendererHost;
class IShaderLibraryProvider;

/// Draws a terminal view with the GPU. The view (its host) makes it when GPU drawing is turned
/// on and calls draw() for every frame; the renderer asks its frame coordinator for each frame,
/// builds the frame's draw data from its row cache, encodes it and reports the frame's fate, so
/// that failing frames end in a recovery request to the view.
///
/// Construction sets up everything a frame needs and throws MetalError when something cannot be
/// had. The renderer holds its view only through the host reference and the callbacks the view
/// sets; every delayed action (retries, blink ticks, completions) holds the renderer weakly and
/// does nothing once it is gone. GUI thread only, except that a completion may report from
/// another thread.
class MetalTerminalRenderer {
public:
    /// The blink period of a blinking cursor, and the most build passes of one frame after the
    /// first.
    static constexpr double cursorBlinkInterval = 0.7;
    static constexpr int maximumRebuildPasses = 5;

    /// Where the renderer tells its view what happened. Each may be empty.
    struct ViewCallbacks {
        /// A frame reached the screen.
        std::function<void()> didPresent;
        /// Frames keep failing: the view should replace the renderer or fall back.
        std::function<void(const MetalRendererRecoveryReport&)> requiresRecovery;
        /// No frame is in flight any more (a retired renderer can go).
        std::function<void()> becameIdle;
        /// Mark the whole view as needing a new frame.
        std::function<void()> setNeedsDisplay;
    };

    /// The GPU renderer over a GL context, which must be current (3.3 core): device, buffer
    /// pool, glyph atlases, shader library, the six pipelines and the sampler. Throws MetalError.
    static std::unique_ptr<MetalTerminalRenderer>
    create(IRendererHost& host, QOpenGLContext& context, MetalRecoveryClock& clock,
           MetalRecoveryScheduler& scheduler, IShaderLibraryProvider* library = nullptr,
           ILogSink& log = defaultLogSink());

    /// The renderer's CPU side over any device, without pipelines (a frame's encoder comes from
    /// its backend). Throws MetalError::atlasUnavailable when the atlases cannot be made.
    MetalTerminalRenderer(IRendererHost& host, std::unique_ptr<IGpuDevice> device,
                          std::unique_ptr<IShaper> shaper,
                          std::unique_ptr<IGlyphRasterizer> rasterizer, MetalRecoveryClock& clock,
                          MetalRecoveryScheduler& scheduler, ILogSink& log = defaultLogSink());
    ~MetalTerminalRenderer();
    MetalTerminalRenderer(const MetalTerminalRenderer&) = delete;
    MetalTerminalRenderer& operator=(const MetalTerminalRenderer&) = delete;

    /// One frame into `view`. Every token the coordinator hands out ends in exactly one refusal
    /// or one submission (whose completion follows).
    void draw(IFrameBackend& view);
    /// The frame's draw data, built again (at most five times) while a glyph atlas changes under
    /// the build; the last pass runs with both atlases frozen.
    DrawData buildDrawData(double scale);
    void updateCursorBlinkTimer(bool shouldBlink);
    void recordPresentedFrame();

    /// Made on first use.
    MetalFrameCoordinator& frameCoordinator();
    bool hasFrameCoordinator() const { return m_frameCoordinator != nullptr; }
    void setViewCallbacks(ViewCallbacks callbacks) { m_callbacks = std::move(callbacks); }
    /// Stops the blink timer, as a view does when it retires the renderer.
    void stopCursorBlinkTimer() { updateCursorBlinkTimer(false); }

    /// Replaces the row and cursor builders (tests draw canned rows); null restores them.
    void setFrameContent(IFrameContent* content);

    bool cursorBlinkOn() const { return m_cursorBlinkOn; }
    bool hasCursorBlinkTimer() const { return m_cursorBlinkTimer != nullptr; }
    /// The scale a frame draws at: the override, else the window's, never below 1.
    double drawableScale() const;

    IGpuDevice& device() { return *m_device; }
    GlyphProvider& glyphs() { return *m_glyphs; }
    BufferPool& bufferPool() { return *m_bufferPool; }
    FramePass& framePass() { return *m_framePass; }
    ImageTextures& imageTextures() { return m_imageTextures; }
    /// Empty for a renderer without GL.
    const std::optional<RenderPipelines>& pipelines() const { return m_pipelines; }
    unsigned sampler() const { return m_sampler; }
    /// The GL device; null for a renderer over another device.
    GlGpuDevice* glDevice() const { return m_glDevice; }

private:
    class Content;

    void cursorBlinkTick();
    // Runs `action` later on the GUI thread, if the renderer still exists then.
    void post(std::function<void(MetalTerminalRenderer&)> action);

    IRendererHost& m_host;
    ILogSink& m_log;
    MetalRecoveryClock& m_clock;
    MetalRecoveryScheduler& m_scheduler;
    std::unique_ptr<IGpuDevice> m_device;
    GlGpuDevice* m_glDevice = nullptr;
    std::shared_ptr<BufferPool> m_bufferPool;
    std::unique_ptr<IShaper> m_shaper;
    std::unique_ptr<IGlyphRasterizer> m_rasterizer;
    std::unique_ptr<GlyphProvider> m_glyphs;
    ImageTextures m_imageTextures;
    std::unique_ptr<RowDrawBuilder> m_rowBuilder;
    std::unique_ptr<Content> m_content;
    std::unique_ptr<FramePass> m_framePass;
    std::optional<RenderPipelines> m_pipelines;
    unsigned m_sampler = 0;
    std::shared_ptr<MetalRecoveryScheduledTask> m_cursorBlinkTimer;
    bool m_cursorBlinkOn = true;
    std::shared_ptr<MetalFrameCoordinator> m_frameCoordinator;
    ViewCallbacks m_callbacks;
    // Weak handles to it tell delayed actions whether the renderer still exists.
    std::shared_ptr<MetalTerminalRenderer*> m_self;
};

} // namespace veldatron
