#include "FakeGpuDevice.h"

#include <algorithm>
#include <cstring>

namespace veldatron {

bool FakeGpuDevice::refuseNext()
{
    ++m_allocations;
    return m_refuseAll || m_refused.count(m_allocations) > 0;
}

std::shared_ptr<GpuBuffer> FakeGpuDevice::makeBuffer(std::size_t length, GpuBufferUsage)
{
    const bool refused = refuseNext();
    m_calls.push_back({CallKind::makeBuffer, 0, length, 0, 0, refused});
    if (refused)
        return nullptr;
    auto buffer = std::make_shared<Buffer>(length);
    m_buffers.push_back(buffer);
    return buffer;
}

void FakeGpuDevice::writeBuffer(GpuBuffer& buffer, std::size_t offset, const void* bytes,
                                std::size_t length)
{
    m_calls.push_back({CallKind::writeBuffer, offset, length, 0, 0, false});
    auto& target = static_cast<Buffer&>(buffer).bytes;
    if (offset > target.size() || length > target.size() - offset)
        return;
    if (length > 0)
        std::memcpy(target.data() + offset, bytes, length);
}

std::shared_ptr<GpuTexture> FakeGpuDevice::makeTexture(GpuPixelFormat format, int width,
                                                       int height)
{
    const bool refused = refuseNext() || width <= 0 || height <= 0 || width > m_maxTextureSize
                         || height > m_maxTextureSize;
    m_calls.push_back({CallKind::makeTexture, 0, 0, std::size_t(std::max(width, 0)),
                       std::size_t(std::max(height, 0)), refused});
    if (refused)
        return nullptr;
    return std::make_shared<Texture>(format, width, height);
}

void FakeGpuDevice::replaceRegion(GpuTexture& texture, int x, int y, int width, int height,
                                  const uint8_t* bytes, std::size_t bytesPerRow)
{
    m_calls.push_back({CallKind::replaceRegion, std::size_t(x), std::size_t(y),
                       std::size_t(width), std::size_t(height), false});
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > texture.width()
        || y + height > texture.height())
        return;
    auto& target = static_cast<Texture&>(texture).bytes;
    const std::size_t bpp = std::size_t(bytesPerPixel(texture.format()));
    const std::size_t rowBytes = std::size_t(width) * bpp;
    for (int row = 0; row < height; ++row) {
        std::memcpy(target.data() + (std::size_t(y + row) * std::size_t(texture.width())
                                     + std::size_t(x)) * bpp,
                    bytes + std::size_t(row) * bytesPerRow, rowBytes);
    }
}

int FakeGpuDevice::liveBufferCount() const
{
    return int(std::count_if(m_buffers.begin(), m_buffers.end(),
                             [](const auto& buffer) { return !buffer.expired(); }));
}

} // namespace veldatron
