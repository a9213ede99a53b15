#pragma once

#include "DrawRecords.h"
#include "MetalBufferingMode.h"
#include "RowDrawBuilder.h"

#include "BidiPresentationState.h"
#include "BufferLine.h"
#include "KittyGraphicsState.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace veldatron {

class Buffer;
class IGpuDevice;
class IRendererHost;
class ImageTextures;

/// A summary of the terminal's kitty image store that changes whenever an image or placement is
/// added or removed or a new id is handed out (a payload replaced under its id does not change
/// it; the texture cache catches that).
struct KittyCacheStamp {
    std::size_t imagesCount = 0;
    std::size_t placementsCount = 0;
    uint32_t nextImageId = 0;
    uint32_t nextPlacementId = 0;
    bool operator==(const KittyCacheStamp&) const = default;
};

/// Everything that shapes every row at once; any difference empties the row cache.
struct CacheSignature {
    double scale = 0;
    double cellWidth = 0;
    double cellHeight = 0;
    double viewWidth = 0;
    double viewHeight = 0;
    int yDisp = 0;
    int rows = 0;
    int cols = 0;
    QString fontName;
    double fontSize = 0;
    bool isAltBuffer = false;
    KittyCacheStamp kittyStamp;
    BidiHostPolicy bidiHostPolicy = BidiHostPolicy::respectTerminal;
    bool operator==(const CacheSignature&) const = default;
};

/// One cached row: the line it was built from (held, so its identity stays valid), that line's
/// generation and bidi paragraph revision then, its records and, when rows keep their own
/// buffers, its GPU buffers.
struct RowCacheEntry {
    BufferLinePtr lineRef;
    uint64_t lineSerial = 0;
    uint64_t generation = 0;
    uint64_t bidiParagraphRevision = 0;
    std::optional<RowDrawData> data;
    std::optional<RowDrawBuffers> buffers;
};

/// The absolute rows on screen.
struct VisibleRows {
    int first = 0;
    int last = 0;
    int yDisp = 0;
    bool operator==(const VisibleRows&) const = default;
};

/// What a frame pass asks to have built: one row's records, and the cursor's.
class IFrameContent {
public:
    virtual ~IFrameContent() = default;
    virtual RowDrawData buildRowDrawData(int row, Buffer& buffer, int yDisp, double cellWidth,
                                         double cellHeight, double yOffset, double viewWidthPx,
                                         double scale,
                                         const VirtualPlacements& virtualPlacementsByImageId) = 0;
    /// Fills the three cursor lists of `out`.
    virtual void buildCursorDrawData(double scale, double cellWidth, double cellHeight,
                                     double lineDescent, double lineLeading, int yDisp,
                                     int firstRow, int lastRow, DrawData& out) = 0;
};

/// Turns the visible rows into one frame's draw data, rebuilding only rows whose line changed
/// (another object, a new generation or bidi paragraph revision) or that the view marked dirty,
/// and everything when the frame-wide signature changed. Owned by the renderer; GUI thread only.
class FramePass {
public:
    FramePass(IRendererHost& host, IGpuDevice& device, ImageTextures& images,
              IFrameContent& content);

    DrawData buildDrawDataPass(double scale);

    static std::optional<VisibleRows> visibleRowRange(Buffer& buffer);
    /// Exact-size buffers for each non-empty list of the row; a list whose buffer the device
    /// refuses stays undrawn (no buffer, count 0).
    RowDrawBuffers makeRowBuffers(const RowDrawData& data);

    /// Emptied when a glyph atlas grows or is wiped, and before a repeated pass.
    void clearRowCache() { m_rowCache.clear(); }
    const std::map<int, RowCacheEntry>& rowCache() const { return m_rowCache; }
    std::optional<MetalBufferingMode> cacheBufferingMode() const { return m_cacheBufferingMode; }
    const std::optional<CacheSignature>& cacheSignature() const { return m_cacheSignature; }

private:
    RowDrawData buildRow(int row, Buffer& buffer, const VisibleRows& visible, double scale,
                         const VirtualPlacements& placements);

    IRendererHost& m_host;
    IGpuDevice& m_device;
    ImageTextures& m_images;
    IFrameContent& m_content;

    std::map<int, RowCacheEntry> m_rowCache;
    std::optional<MetalBufferingMode> m_cacheBufferingMode;
    std::optional<CacheSignature> m_cacheSignature;

    // Per pass.
    double m_cellWidth = 0;
    double m_cellHeight = 0;
    double m_yOffset = 0;
    double m_viewWidth = 0;
};

} // namespace veldatron
