#pragma once

#include "DrawRecords.h"
#include "GlyphProvider.h"
#include "IRendererHost.h"
#include "RowGeometry.h"

#include "Buffer.h"
#include "KittyGraphicsState.h"
#include "TerminalImage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace veldatron {

/// Virtual kitty placements of the shown screen by image id, for placeholder cells.
using VirtualPlacements = std::map<uint32_t, std::vector<KittyPlacementRecord>>;

/// Where the row builder gets image textures from (made and cached by the renderer).
class IImageTextureSource {
public:
    virtual ~IImageTextureSource() = default;
    /// The texture of an image attached to a line; null when it cannot be made.
    virtual std::shared_ptr<GpuTexture> texture(const std::shared_ptr<TerminalImage>& image) = 0;
    /// The texture of a stored kitty image shown through placeholder cells; null when the id is
    /// not stored or its picture cannot be made.
    virtual std::shared_ptr<GpuTexture> kittyTexture(uint32_t imageId,
                                                     const KittyGraphicsState& state) = 0;
};

/// Turns one buffer row into the records it draws: backgrounds, glyph quads for both atlases,
/// geometric glyphs with the seam strips of powerline separators, underlines and
/// strike-throughs, and image quads. The row layout (colours, selection, links, blink, bidi
/// order, custom-glyph cells) comes from the view's row builder, shared with the raster view;
/// this only places what it decided.
///
/// Row r (from the top) spans, in logical pixels with y up from the view's bottom edge:
///
///     rowTop    = rowBottom + cellHeight
///     rowBottom = viewHeight - cellHeight * (r + 1)
///
/// and every record is in device pixels (times `scale`).
class RowDrawBuilder {
public:
    RowDrawBuilder(IRendererHost& host, GlyphProvider& glyphs,
                   IImageTextureSource* images = nullptr);

    /// Nine empty arrays for a row outside the buffer or before the view has a terminal.
    /// Placeholder cells show pieces of the virtual placements in `virtualPlacementsByImageId`.
    RowDrawData buildRowDrawData(int row, Buffer& buffer, int yDisp, double cellWidth,
                                 double cellHeight, double yOffset, double viewWidthPx,
                                 double scale, const VirtualPlacements& virtualPlacementsByImageId);

private:
    struct Row;
    void appendCustomGlyphs(const Row& row, const ViewLineInfo& info, RowDrawData& out);
    void appendBackgrounds(const Row& row, const std::vector<ShapedSegment>& segments,
                           RowDrawData& out);
    void appendLineImages(const Row& row, const ViewLineInfo& info, RowDrawData& out);
    void appendTextGlyphs(const Row& row, const std::vector<ShapedSegment>& segments,
                          RowDrawData& out);
    void appendDecorations(const Row& row, const ShapedSegment& segment, const ShapedRun& run,
                           RowDrawData& out);
    void appendPlaceholderImages(const Row& row, const ViewLineInfo& info,
                                 const VirtualPlacements& placements, RowDrawData& out);

    IRendererHost& m_host;
    GlyphProvider& m_glyphs;
    IImageTextureSource* m_images;
};

} // namespace veldatron
