#pragma once

#include "DrawRecords.h"
#include "GpuDevice.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace veldatron {

/// Vertex buffers recycled across frames. Lengths are rounded to size classes of 4096 × 2^k
/// bytes, so a steady screen reuses the same few buffers every frame. A buffer handed out for a
/// frame returns to the pool only when that frame's completion runs (the GPU may read it until
/// then). Owned by the renderer through a shared_ptr; a frame's completion holds it weakly, so a
/// renderer torn down with frames in flight simply releases their buffers.
///
/// dequeue() and the frame calls run on the GUI thread; recycle() may run on any thread.
class BufferPool : public std::enable_shared_from_this<BufferPool> {
public:
    static constexpr std::size_t alignment = 256;
    static constexpr std::size_t maxBuffersPerSize = 4;

    /// The device must outlive the pool.
    explicit BufferPool(IGpuDevice& device) : m_device(device) {}

    /// The smallest 4096 × 2^k not below `length` rounded up to a multiple of 256.
    static std::size_t sizeClass(std::size_t length);

    /// A free buffer of exactly this length (the latest recycled first), else a new one; null
    /// when the device refuses.
    std::shared_ptr<GpuBuffer> dequeue(std::size_t length);
    /// Keeps each buffer while its length holds fewer than four free ones; drops the rest.
    void recycle(const std::vector<std::shared_ptr<GpuBuffer>>& buffers);

    /// A pooled buffer holding the records' bytes, handed out for the current frame; null for no
    /// records or when the device refuses (the caller skips that draw).
    template <typename Record>
    std::shared_ptr<GpuBuffer> makeBuffer(const std::vector<Record>& records)
    {
        return makeBuffer(records.data(), records.size() * sizeof(Record));
    }
    std::shared_ptr<GpuBuffer> makeBuffer(const void* bytes, std::size_t length);

    /// Starts a frame: forgets the previous frame's buffers (its completion holds them).
    void beginFrame() { m_frameBuffers.clear(); }
    /// The action to run when the current frame has completed on the GPU: it gives the frame's
    /// buffers back to the pool, or releases them when the pool is gone. Empty when the frame
    /// used no pooled buffer.
    std::function<void()> commit();

    const std::vector<std::shared_ptr<GpuBuffer>>& frameBuffers() const { return m_frameBuffers; }
    /// Free buffers of this exact length.
    std::size_t availableCount(std::size_t length) const;

private:
    IGpuDevice& m_device;
    mutable std::mutex m_lock;
    std::map<std::size_t, std::vector<std::shared_ptr<GpuBuffer>>> m_available;
    std::vector<std::shared_ptr<GpuBuffer>> m_frameBuffers;
};

/// One exact-size buffer per image quad with vertices, for a row that keeps its own buffers.
/// A draw without vertices, or whose buffer the device refuses, is left out.
std::vector<ImageDrawBuffer> makeImageDrawBuffers(IGpuDevice& device,
                                                  const std::vector<ImageDraw>& draws);

} // namespace veldatron
