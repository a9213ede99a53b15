#pragma once

#include "GlEncoder.h"
#include "IFrameBackend.h"

#include <functional>
#include <memory>

class QOpenGLContext;
class QOpenGLFramebufferObject;

namespace veldatron {

class GlGpuDevice;

/// Why a GL context can no longer draw: the robustness reset status, or an allocation that ran
/// out of memory. Nothing while the context is fine.
std::optional<std::string> glContextFailure(QOpenGLContext& context, GlGpuDevice& device);

/// One frame's GL work. Committing inserts a fence; the fence is polled on the GUI thread (1 ms
/// apart, with the context made current) until it signals, and then the completion handlers run
/// once with `completed`, or with `error` and the reason when the context was reset or ran out
/// of memory meanwhile.
class GlCommandBuffer final : public IGpuCommandBuffer {
public:
    /// `makeCurrent` makes the device's context current for a poll (false: it cannot be now).
    GlCommandBuffer(GlGpuDevice& device, std::function<bool()> makeCurrent);
    ~GlCommandBuffer() override;

    MetalTrackedCommandBufferStatus status() const override { return m_status; }
    std::optional<std::string> error() const override { return m_error; }
    void addCompletedHandler(std::function<void(MetalTrackedCommandBufferStatus,
                                                std::optional<std::string>)> handler) override;
    void commit() override;
    /// Checks the fence once; true once the work has ended.
    bool poll();

private:
    struct Poller;
    void finish(MetalTrackedCommandBufferStatus status, std::optional<std::string> error);

    GlGpuDevice& m_device;
    std::function<bool()> m_makeCurrent;
    void* m_fence = nullptr;
    MetalTrackedCommandBufferStatus m_status = MetalTrackedCommandBufferStatus::enqueued;
    std::optional<std::string> m_error;
    std::vector<std::function<void(MetalTrackedCommandBufferStatus, std::optional<std::string>)>>
        m_handlers;
    std::unique_ptr<Poller> m_poller;
};

/// A frame target in a GL context: a framebuffer object (the GL widget's, or an offscreen one),
/// drawn with the renderer's pipelines. The context is current while a frame is drawn.
/// Presentation is the host's swap: it calls drawablePresented() then (the widget's
/// frameSwapped); a target that is never swapped (offscreen) counts as presented at commit.
class GlFrameBackend final : public IFrameBackend {
public:
    struct Target {
        /// The framebuffer object to draw into; 0 when there is none.
        std::function<unsigned()> framebuffer;
        /// Its size in pixels. A frame drawn at another size (a scale override) is drawn into
        /// an intermediate framebuffer and scaled onto it when presented. Empty: the drawable
        /// size.
        std::function<QSize()> framebufferSize;
        /// Makes the context current outside a frame (for completion polls).
        std::function<bool()> makeCurrent;
        /// Asks for a new frame of the whole view.
        std::function<void()> setNeedsDisplay;
        /// Whether presentation waits for drawablePresented().
        bool presentsOnSwap = false;
    };

    GlFrameBackend(GlGpuDevice& device, const RenderPipelines& pipelines, unsigned sampler,
                   Target target);
    ~GlFrameBackend() override;

    void setDrawableSize(QSizeF pixels) override { m_drawableSize = pixels; }
    QSizeF drawableSize() const override { return m_drawableSize; }
    bool hasCurrentDrawable() override;
    bool hasRenderPassDescriptor() override;
    std::shared_ptr<IGpuCommandBuffer> makeCommandBuffer() override;
    std::unique_ptr<IEncoder> makeRenderEncoder(IGpuCommandBuffer& commandBuffer,
                                                Float4 clearColor) override;
    void addPresentedHandler(std::function<void()> handler) override;
    void present(IGpuCommandBuffer& commandBuffer) override;
    void setNeedsDisplay() override;

    /// The frame drawn last is on screen.
    void drawablePresented();
    /// Deletes the context's vertex arrays; the context must be current.
    void releaseGlObjects();

private:
    QSize drawablePixels() const;
    QSize targetPixels() const;
    // The framebuffer this frame draws into: the target's, or the intermediate one.
    unsigned drawFramebuffer();

    GlGpuDevice& m_device;
    const RenderPipelines& m_pipelines;
    unsigned m_sampler;
    Target m_target;
    GlVertexArrays m_vertexArrays;
    QSizeF m_drawableSize;
    std::vector<std::function<void()>> m_presentedHandlers;
    std::vector<std::function<void()>> m_pendingPresented;
    std::unique_ptr<QOpenGLFramebufferObject> m_intermediate;
};

} // namespace veldatron
