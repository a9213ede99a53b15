#pragma once

#include "DrawRecords.h"
#include "IEncoder.h"
#include "MetalRecovery.h"

#include <QSizeF>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace veldatron {

/// One frame's GPU work once it exists: what the frame coordinator probes while the frame is in
/// flight, and the one notice of its end.
class IGpuCommandBuffer {
public:
    virtual ~IGpuCommandBuffer() = default;

    virtual MetalTrackedCommandBufferStatus status() const = 0;
    virtual std::optional<std::string> error() const = 0;
    /// Runs once, on the GUI thread, when the GPU has finished the work (or failed).
    virtual void addCompletedHandler(
        std::function<void(MetalTrackedCommandBufferStatus, std::optional<std::string>)>
            handler) = 0;
    /// Hands the work to the GPU; nothing can be encoded afterwards.
    virtual void commit() = 0;
};

/// The surface a frame draws into and the means to draw there: the GL widget's framebuffer in
/// the view, an offscreen framebuffer in tests, a fake in the frame loop's tests. Each getter may
/// come up empty, and the frame loop refuses the frame with the matching reason.
class IFrameBackend {
public:
    virtual ~IFrameBackend() = default;

    /// The size the next frame draws at, device pixels (scale × the view's bounds).
    virtual void setDrawableSize(QSizeF pixels) = 0;
    virtual QSizeF drawableSize() const = 0;
    /// Whether there is a target to draw into.
    virtual bool hasCurrentDrawable() = 0;
    /// Whether that target can take a render pass.
    virtual bool hasRenderPassDescriptor() = 0;
    /// Null when no GPU work can be started (the context was lost).
    virtual std::shared_ptr<IGpuCommandBuffer> makeCommandBuffer() = 0;
    /// Starts the pass: the target cleared to `clearColor` (straight RGBA). Null when encoding
    /// cannot start.
    virtual std::unique_ptr<IEncoder> makeRenderEncoder(IGpuCommandBuffer& commandBuffer,
                                                        Float4 clearColor) = 0;
    /// Runs once when the frame drawn is on screen.
    virtual void addPresentedHandler(std::function<void()> handler) = 0;
    /// Shows the frame once `commandBuffer` has run.
    virtual void present(IGpuCommandBuffer& commandBuffer) = 0;
    /// Asks for a new frame of the whole view (later, on the GUI thread).
    virtual void setNeedsDisplay() = 0;
};

} // namespace veldatron
