#pragma once

#include "GpuDevice.h"

#include <set>
#include <vector>

namespace veldatron {

/// A graphics device that keeps every buffer and texture as bytes in memory, for tests and
/// benchmarks without a GPU. It records each call, can refuse chosen allocations, and tracks
/// which of the buffers it made are still alive.
class FakeGpuDevice : public IGpuDevice {
public:
    class Buffer : public GpuBuffer {
    public:
        explicit Buffer(std::size_t length) : GpuBuffer(length), bytes(length, 0) {}
        std::vector<uint8_t> bytes;
    };
    class Texture : public GpuTexture {
    public:
        Texture(GpuPixelFormat format, int width, int height)
            : GpuTexture(format, width, height),
              bytes(std::size_t(width) * std::size_t(height) * std::size_t(bytesPerPixel(format)),
                    0)
        {
        }
        std::vector<uint8_t> bytes;
    };

    enum class CallKind { makeBuffer, writeBuffer, makeTexture, replaceRegion };
    struct Call {
        CallKind kind;
        /// Buffer: offset and length. Texture: x, y, width, height (x and y 0 when made).
        std::size_t a = 0, b = 0, c = 0, d = 0;
        bool refused = false;
    };

    std::shared_ptr<GpuBuffer> makeBuffer(std::size_t length, GpuBufferUsage usage) override;
    using IGpuDevice::makeBuffer;
    void writeBuffer(GpuBuffer& buffer, std::size_t offset, const void* bytes,
                     std::size_t length) override;
    std::shared_ptr<GpuTexture> makeTexture(GpuPixelFormat format, int width,
                                            int height) override;
    void replaceRegion(GpuTexture& texture, int x, int y, int width, int height,
                       const uint8_t* bytes, std::size_t bytesPerRow) override;
    int maxTextureSize() const override { return m_maxTextureSize; }

    void setMaxTextureSize(int size) { m_maxTextureSize = size; }
    /// Refuses the nth allocation (buffers and textures counted together, from 1).
    void refuseAllocation(int nth) { m_refused.insert(nth); }
    /// Refuses every allocation from now on, or stops doing so.
    void refuseAllAllocations(bool refuse) { m_refuseAll = refuse; }
    int allocationCount() const { return m_allocations; }
    const std::vector<Call>& calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }
    /// Buffers made by this device that someone still holds.
    int liveBufferCount() const;

    static const std::vector<uint8_t>& bytes(const GpuBuffer& buffer)
    {
        return static_cast<const Buffer&>(buffer).bytes;
    }
    static const std::vector<uint8_t>& bytes(const GpuTexture& texture)
    {
        return static_cast<const Texture&>(texture).bytes;
    }

private:
    bool refuseNext();

    int m_maxTextureSize = 16384;
    int m_allocations = 0;
    bool m_refuseAll = false;
    std::set<int> m_refused;
    std::vector<Call> m_calls;
    std::vector<std::weak_ptr<GpuBuffer>> m_buffers;
};

} // namespace veldatron
