#include "GlyphAtlas.h"

#include "TextDecoding.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace veldatron {

namespace {

GpuPixelFormat pixelFormat(GlyphAtlasFormat format)
{
    return format == GlyphAtlasFormat::bgra ? GpuPixelFormat::bgra8 : GpuPixelFormat::r8;
}

constexpr int minimumSide = 256;

} // namespace

const char* GlyphAtlas::formatName(GlyphAtlasFormat format)
{
    return format == GlyphAtlasFormat::bgra ? "bgra" : "grayscale";
}

std::unique_ptr<GlyphAtlas> GlyphAtlas::create(IGpuDevice& device, int size, int maxSize,
                                               GlyphAtlasFormat format, ILogSink& log)
{
    const int side = std::max(std::min(size, maxSize), minimumSide);
    const int max = std::max(maxSize, side);
    auto texture = device.makeTexture(pixelFormat(format), side, side);
    if (!texture)
        return nullptr;
    return std::unique_ptr<GlyphAtlas>(
        new GlyphAtlas(device, format, side, max, std::move(texture), log));
}

GlyphAtlas::GlyphAtlas(IGpuDevice& device, GlyphAtlasFormat format, int size, int maxSize,
                       std::shared_ptr<GpuTexture> texture, ILogSink& log)
    : m_device(device),
      m_log(log),
      m_format(format),
      m_bytesPerPixel(format == GlyphAtlasFormat::bgra ? 4 : 1),
      m_maxSize(maxSize),
      m_size(size),
      m_texture(std::move(texture)),
      m_data(std::size_t(size) * std::size_t(size) * std::size_t(m_bytesPerPixel), 0)
{
}

int GlyphAtlas::recommendedMaxSize(const IGpuDevice& device, GlyphAtlasFormat format)
{
    const char* value = std::getenv("VELDATRON_ATLAS_MAX");
    return recommendedMaxSize(device, format,
                              value ? std::optional<std::string_view>(value) : std::nullopt);
}

int GlyphAtlas::recommendedMaxSize(const IGpuDevice& device, GlyphAtlasFormat format,
                                   std::optional<std::string_view> environmentValue)
{
    if (environmentValue && !environmentValue->empty()) {
        if (auto value = TextDecoding::parseInteger(*environmentValue)) {
            const int64_t v = std::max<int64_t>(*value, minimumSide);
            const int64_t cap = device.maxTextureSize() >= 16384 ? 16384 : 8192;
            return int(std::min(v, cap));
        }
    }
    return format == GlyphAtlasFormat::grayscale ? 8192 : 4096;
}

std::optional<GlyphAtlas::Block> GlyphAtlas::reserve(int width, int height)
{
    if (width > m_size || height > m_size)
        return std::nullopt;
    if (m_nextX + width > m_size) {
        m_nextX = 0;
        m_nextY += m_rowHeight;
        m_rowHeight = 0;
    }
    if (m_nextY + height > m_size)
        return std::nullopt;
    const Block block{m_nextX, m_nextY};
    m_nextX += width;
    m_rowHeight = std::max(m_rowHeight, height);
    return block;
}

std::optional<AtlasRegion> GlyphAtlas::ensureRegion(int width, int height)
{
    m_didReset = false;
    if (width < 1 || height < 1)
        return std::nullopt;
    // Adding the gutter must not overflow; such a request could never fit anyway.
    if (width > m_maxSize || height > m_maxSize) {
        width = std::min(width, m_maxSize + 1);
        height = std::min(height, m_maxSize + 1);
    }
    const int pw = width + 2;
    const int ph = height + 2;
    auto regionAt = [&](const Block& block) {
        return AtlasRegion{block.x + 1, block.y + 1, width, height};
    };
    if (auto block = reserve(pw, ph))
        return regionAt(*block);

    if (m_frozen) {
        if (!m_loggedFrozenMiss) {
            m_loggedFrozenMiss = true;
            m_log.log(ILogSink::Category::atlas, ILogSink::Level::fault,
                      QStringLiteral("glyph atlas (%1) frozen and full; glyphs will be skipped "
                                     "this frame")
                          .arg(QLatin1String(formatName(m_format))));
        }
        return std::nullopt;
    }
    if (pw > m_maxSize || ph > m_maxSize)
        return std::nullopt;

    int64_t target = m_size;
    while (target < m_maxSize) {
        if (target >= std::max(pw, ph) && target >= int64_t(m_nextY) + ph)
            break;
        target *= 2;
    }
    target = std::min<int64_t>(m_maxSize, target);
    if (target > m_size && grow(int(target))) {
        if (auto block = reserve(pw, ph))
            return regionAt(*block);
    }

    if (!m_loggedResetOverflow) {
        m_loggedResetOverflow = true;
        m_log.log(ILogSink::Category::atlas, ILogSink::Level::error,
                  QStringLiteral("glyph atlas (%1) reset at size %2: glyph working set exceeds "
                                 "capacity")
                      .arg(QLatin1String(formatName(m_format)))
                      .arg(m_size));
    }
    reset();
    m_didReset = true;
    if (auto block = reserve(pw, ph))
        return regionAt(*block);
    return std::nullopt;
}

bool GlyphAtlas::grow(int newSize)
{
    if (newSize <= m_size)
        return false;
    auto texture = m_device.makeTexture(pixelFormat(m_format), newSize, newSize);
    if (!texture) {
        m_log.log(ILogSink::Category::atlas, ILogSink::Level::error,
                  QStringLiteral("glyph atlas (%1) grow to %2 failed: texture allocation")
                      .arg(QLatin1String(formatName(m_format)))
                      .arg(newSize));
        return false;
    }
    m_log.log(ILogSink::Category::atlas, ILogSink::Level::info,
              QStringLiteral("glyph atlas (%1) grow: %2 -> %3")
                  .arg(QLatin1String(formatName(m_format)))
                  .arg(m_size)
                  .arg(newSize));
    const std::size_t bpp = std::size_t(m_bytesPerPixel);
    const std::size_t oldRow = std::size_t(m_size) * bpp;
    const std::size_t newRow = std::size_t(newSize) * bpp;
    std::vector<uint8_t> data(newRow * std::size_t(newSize), 0);
    for (int row = 0; row < m_size; ++row)
        std::memcpy(data.data() + std::size_t(row) * newRow,
                    m_data.data() + std::size_t(row) * oldRow, oldRow);
    m_size = newSize;
    m_data = std::move(data);
    m_texture = std::move(texture);
    m_loggedFrozenMiss = false;
    m_loggedResetOverflow = false;
    upload(0, 0, m_size, m_size);
    return true;
}

void GlyphAtlas::reset()
{
    m_nextX = 0;
    m_nextY = 0;
    m_rowHeight = 0;
    std::fill(m_data.begin(), m_data.end(), 0);
    upload(0, 0, m_size, m_size);
}

void GlyphAtlas::upload(int x, int y, int width, int height)
{
    const std::size_t rowBytes = std::size_t(m_size) * std::size_t(m_bytesPerPixel);
    const std::size_t offset = std::size_t(y) * rowBytes + std::size_t(x) * std::size_t(m_bytesPerPixel);
    m_device.replaceRegion(*m_texture, x, y, width, height, m_data.data() + offset, rowBytes);
}

void GlyphAtlas::write(const AtlasRegion& region, const uint8_t* pixels, int width, int height)
{
    if (region.width != width || region.height != height || width < 1 || height < 1)
        return;
    // A region handed out before a wipe or by another atlas may not lie inside this one.
    if (region.x < 0 || region.y < 0 || region.x + width > m_size || region.y + height > m_size)
        return;
    const int rx = int(region.x);
    const int ry = int(region.y);
    const std::size_t bpp = std::size_t(m_bytesPerPixel);
    const std::size_t rowBytes = std::size_t(m_size) * bpp;
    auto at = [&](int x, int y) { return m_data.data() + std::size_t(y) * rowBytes + std::size_t(x) * bpp; };

    for (int i = 0; i < height; ++i) {
        const uint8_t* source = pixels + std::size_t(height - 1 - i) * std::size_t(width) * 4;
        uint8_t* target = at(rx, ry + i);
        if (m_format == GlyphAtlasFormat::bgra) {
            std::memcpy(target, source, std::size_t(width) * 4);
        } else {
            for (int x = 0; x < width; ++x)
                target[x] = source[std::size_t(x) * 4 + 3];
        }
    }

    const std::size_t spanBytes = std::size_t(width) * bpp;
    if (ry - 1 >= 0)
        std::memcpy(at(rx, ry - 1), at(rx, ry), spanBytes);
    if (ry + height < m_size)
        std::memcpy(at(rx, ry + height), at(rx, ry + height - 1), spanBytes);
    const int firstRow = std::max(ry - 1, 0);
    const int endRow = std::min(ry + height + 1, m_size);
    for (int row = firstRow; row < endRow; ++row) {
        if (rx - 1 >= 0)
            std::memcpy(at(rx - 1, row), at(rx, row), bpp);
        if (rx + width < m_size)
            std::memcpy(at(rx + width, row), at(rx + width - 1, row), bpp);
    }

    const int x0 = std::max(rx - 1, 0);
    const int x1 = std::min(rx + width + 1, m_size);
    upload(x0, firstRow, x1 - x0, endRow - firstRow);
}

} // namespace veldatron
