#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace veldatron {

/// Pixel layouts of the textures the renderer makes: coverage bytes (glyph atlas), blue-green-
/// red-alpha (colour atlas, the memory order of a premultiplied ARGB32 image on little-endian)
/// and red-green-blue-alpha (images).
enum class GpuPixelFormat { r8, bgra8, rgba8 };

constexpr int bytesPerPixel(GpuPixelFormat format)
{
    return format == GpuPixelFormat::r8 ? 1 : 4;
}

/// How often a buffer's bytes change: once (row buffers) or every frame (pooled buffers).
enum class GpuBufferUsage { staticDraw, streamDraw };

/// A vertex buffer of a fixed length. The handle owns the GPU object: the last reference frees
/// it (through the device that made it), so a row that still draws from a buffer keeps it alive.
class GpuBuffer {
public:
    explicit GpuBuffer(std::size_t length) : m_length(length) {}
    virtual ~GpuBuffer() = default;
    GpuBuffer(const GpuBuffer&) = delete;
    GpuBuffer& operator=(const GpuBuffer&) = delete;

    std::size_t length() const { return m_length; }
    /// The GL buffer name; 0 for buffers that live only in memory.
    virtual uint32_t glName() const { return 0; }

private:
    std::size_t m_length;
};

/// A two-dimensional texture without mipmaps, owned like GpuBuffer. Row 0 is the first row in
/// memory and is sampled at t = 0.
class GpuTexture {
public:
    GpuTexture(GpuPixelFormat format, int width, int height)
        : m_format(format), m_width(width), m_height(height)
    {
    }
    virtual ~GpuTexture() = default;
    GpuTexture(const GpuTexture&) = delete;
    GpuTexture& operator=(const GpuTexture&) = delete;

    GpuPixelFormat format() const { return m_format; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    /// The GL texture name; 0 for textures that live only in memory.
    virtual uint32_t glName() const { return 0; }

private:
    GpuPixelFormat m_format;
    int m_width;
    int m_height;
};

/// What the renderer's CPU side asks of the graphics device: buffers, textures, uploads and the
/// largest texture side. The GL implementation needs its context current in every call; the
/// fake (FakeGpuDevice) keeps the bytes in memory so that tests can read back what was uploaded.
class IGpuDevice {
public:
    virtual ~IGpuDevice() = default;

    /// A buffer of exactly `length` bytes, or null when the device refuses (out of memory).
    virtual std::shared_ptr<GpuBuffer> makeBuffer(std::size_t length, GpuBufferUsage usage) = 0;
    /// Copies `length` bytes to `offset`; the range lies inside the buffer.
    virtual void writeBuffer(GpuBuffer& buffer, std::size_t offset, const void* bytes,
                             std::size_t length) = 0;
    /// A texture whose every byte is 0, or null when the device refuses (out of memory, or a side
    /// above maxTextureSize()).
    virtual std::shared_ptr<GpuTexture> makeTexture(GpuPixelFormat format, int width,
                                                    int height) = 0;
    /// Replaces the rectangle (x, y, width, height) of the texture with rows of `bytesPerRow`
    /// bytes, the first row going to texture row y. The rectangle lies inside the texture.
    virtual void replaceRegion(GpuTexture& texture, int x, int y, int width, int height,
                               const uint8_t* bytes, std::size_t bytesPerRow) = 0;
    /// The largest texture side the device supports.
    virtual int maxTextureSize() const = 0;

    /// A buffer holding a copy of `length` bytes; null when refused.
    std::shared_ptr<GpuBuffer> makeBuffer(const void* bytes, std::size_t length,
                                          GpuBufferUsage usage)
    {
        auto buffer = makeBuffer(length, usage);
        if (buffer && length > 0)
            writeBuffer(*buffer, 0, bytes, length);
        return buffer;
    }
};

} // namespace veldatron
