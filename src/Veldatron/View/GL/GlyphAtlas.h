#pragma once

#include "GpuDevice.h"
#include "ILogSink.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace veldatron {

enum class GlyphAtlasFormat { grayscale, bgra };

/// A rectangle of an atlas, in atlas pixels; y counts rows from the texture's first row.
struct AtlasRegion {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;
    bool operator==(const AtlasRegion&) const = default;
};

/// A square texture into which the renderer packs glyph bitmaps, with a CPU copy of its pixels
/// (`data`), so growth is two memory copies and one upload, never a read-back.
///
/// Rectangles go on shelves, left to right and top to bottom, each inside a block two pixels
/// larger whose one-pixel ring (the gutter) repeats the rectangle's edge pixels, so linear
/// filtering at an edge never samples a neighbour:
///
///     +--+--------+--+
///     |g |gutter  |g |    (x-1, y-1) .. (x+w, y+h)
///     +--+--------+--+
///     |g | region |g |    (x, y) .. (x+w-1, y+h-1)
///     +--+--------+--+
///     |g |gutter  |g |
///     +--+--------+--+
///
/// Out of room it doubles its side (old pixels keep their coordinates); full at its maximum it
/// wipes itself and starts again. It never frees single rectangles. Owned by the renderer, used
/// on the GUI thread only.
class GlyphAtlas {
public:
    /// Nothing when the device cannot make the texture. The side is clamped to 256...maxSize.
    static std::unique_ptr<GlyphAtlas> create(IGpuDevice& device, int size, int maxSize,
                                              GlyphAtlasFormat format,
                                              ILogSink& log = defaultLogSink());

    /// The largest side for a new atlas: `VELDATRON_ATLAS_MAX` when it is a whole decimal
    /// integer (at least 256, at most 16384, or 8192 on a device without 16384-pixel textures),
    /// else 8192 for grayscale and 4096 for colour.
    static int recommendedMaxSize(const IGpuDevice& device, GlyphAtlasFormat format);
    static int recommendedMaxSize(const IGpuDevice& device, GlyphAtlasFormat format,
                                  std::optional<std::string_view> environmentValue);

    /// A free rectangle of exactly width × height, or nothing. May grow the atlas (compare
    /// size() before and after) or wipe it (didReset()).
    std::optional<AtlasRegion> ensureRegion(int width, int height);
    /// Copies a bitmap (blue, green, red, alpha rows of width × 4 bytes, top row first) into the
    /// region upside down (the region's first row gets the bitmap's bottom row), fills the
    /// gutter and uploads region and gutter. A size that does not match the region writes
    /// nothing.
    void write(const AtlasRegion& region, const uint8_t* pixels, int width, int height);

    GlyphAtlasFormat format() const { return m_format; }
    int bytesPerPixel() const { return m_bytesPerPixel; }
    int maxSize() const { return m_maxSize; }
    int size() const { return m_size; }
    const std::shared_ptr<GpuTexture>& texture() const { return m_texture; }
    const std::vector<uint8_t>& data() const { return m_data; }
    bool didReset() const { return m_didReset; }
    bool frozen() const { return m_frozen; }
    /// Set by the frame loop around a frame's last build pass: no growth and no wipe then.
    void setFrozen(bool frozen) { m_frozen = frozen; }

    static const char* formatName(GlyphAtlasFormat format);

private:
    GlyphAtlas(IGpuDevice& device, GlyphAtlasFormat format, int size, int maxSize,
               std::shared_ptr<GpuTexture> texture, ILogSink& log);

    struct Block {
        int x, y;
    };
    std::optional<Block> reserve(int width, int height);
    bool grow(int newSize);
    void reset();
    void upload(int x, int y, int width, int height);

    IGpuDevice& m_device;
    ILogSink& m_log;
    GlyphAtlasFormat m_format;
    int m_bytesPerPixel;
    int m_maxSize;
    int m_size;
    std::shared_ptr<GpuTexture> m_texture;
    std::vector<uint8_t> m_data;
    int m_nextX = 0;
    int m_nextY = 0;
    int m_rowHeight = 0;
    bool m_didReset = false;
    bool m_frozen = false;
    bool m_loggedFrozenMiss = false;
    bool m_loggedResetOverflow = false;
};

} // namespace veldatron
