#pragma once

#include "GpuDevice.h"

#include <memory>

class QOpenGLContext;
class QOpenGLFunctions_3_3_Core;

namespace veldatron {

struct GlNameGarbage;

/// The graphics device over an OpenGL 3.3 core context: buffer objects and textures without
/// mipmaps. Every call needs the context (or one sharing with it) current. GL reports failed
/// allocations only through glGetError, so each allocation checks it and a refused one yields
/// null instead of an object that would silently draw black.
///
/// Buffers and textures may outlive the moment their context is current (a row cache, a frame's
/// completion): a handle released without a sharing context current queues its GL name, and the
/// device deletes queued names at the next collectGarbage() (each frame) or when it goes.
class GlGpuDevice final : public IGpuDevice {
public:
    /// Null when the context has no 3.3 core functions.
    static std::unique_ptr<GlGpuDevice> create(QOpenGLContext& context);
    ~GlGpuDevice() override;

    std::shared_ptr<GpuBuffer> makeBuffer(std::size_t length, GpuBufferUsage usage) override;
    using IGpuDevice::makeBuffer;
    void writeBuffer(GpuBuffer& buffer, std::size_t offset, const void* bytes,
                     std::size_t length) override;
    std::shared_ptr<GpuTexture> makeTexture(GpuPixelFormat format, int width,
                                            int height) override;
    void replaceRegion(GpuTexture& texture, int x, int y, int width, int height,
                       const uint8_t* bytes, std::size_t bytesPerRow) override;
    int maxTextureSize() const override { return m_maxTextureSize; }

    /// Deletes the GL names of handles released while no sharing context was current.
    void collectGarbage();
    /// True when an allocation ran out of memory since the last call.
    bool takeOutOfMemory();

    QOpenGLContext& context() const { return m_context; }
    QOpenGLFunctions_3_3_Core& functions() const { return *m_functions; }

private:
    GlGpuDevice(QOpenGLContext& context, QOpenGLFunctions_3_3_Core& functions);
    /// The first error GL flagged since the last check, after draining the rest.
    unsigned drainErrors();

    QOpenGLContext& m_context;
    QOpenGLFunctions_3_3_Core* m_functions;
    std::shared_ptr<GlNameGarbage> m_garbage;
    int m_maxTextureSize = 0;
    bool m_outOfMemory = false;
};

} // namespace veldatron
