#include "BufferPool.h"

namespace veldatron {

std::size_t BufferPool::sizeClass(std::size_t length)
{
    const std::size_t rounded = (length + alignment - 1) / alignment * alignment;
    std::size_t size = 4096;
    while (size < rounded)
        size *= 2;
    return size;
}

std::shared_ptr<GpuBuffer> BufferPool::dequeue(std::size_t length)
{
    {
        std::lock_guard guard(m_lock);
        auto found = m_available.find(length);
        if (found != m_available.end() && !found->second.empty()) {
            auto buffer = std::move(found->second.back());
            found->second.pop_back();
            return buffer;
        }
    }
    return m_device.makeBuffer(length, GpuBufferUsage::streamDraw);
}

void BufferPool::recycle(const std::vector<std::shared_ptr<GpuBuffer>>& buffers)
{
    std::lock_guard guard(m_lock);
    for (const auto& buffer : buffers) {
        if (!buffer)
            continue;
        auto& list = m_available[buffer->length()];
        if (list.size() < maxBuffersPerSize)
            list.push_back(buffer);
    }
}

std::shared_ptr<GpuBuffer> BufferPool::makeBuffer(const void* bytes, std::size_t length)
{
    if (length == 0)
        return nullptr;
    auto buffer = dequeue(sizeClass(length));
    if (!buffer)
        return nullptr;
    m_device.writeBuffer(*buffer, 0, bytes, length);
    m_frameBuffers.push_back(buffer);
    return buffer;
}

std::function<void()> BufferPool::commit()
{
    if (m_frameBuffers.empty())
        return {};
    std::weak_ptr<BufferPool> pool = weak_from_this();
    return [pool, buffers = m_frameBuffers]() {
        if (auto strong = pool.lock())
            strong->recycle(buffers);
    };
}

std::size_t BufferPool::availableCount(std::size_t length) const
{
    std::lock_guard guard(m_lock);
    auto found = m_available.find(length);
    return found == m_available.end() ? 0 : found->second.size();
}

std::vector<ImageDrawBuffer> makeImageDrawBuffers(IGpuDevice& device,
                                                  const std::vector<ImageDraw>& draws)
{
    std::vector<ImageDrawBuffer> result;
    for (const auto& draw : draws) {
        if (draw.vertices.empty())
            continue;
        auto buffer = device.makeBuffer(draw.vertices.data(),
                                        draw.vertices.size() * sizeof(GlyphVertex),
                                        GpuBufferUsage::staticDraw);
        if (!buffer)
            continue;
        result.push_back({draw.texture, std::move(buffer), int(draw.vertices.size())});
    }
    return result;
}

} // namespace veldatron
