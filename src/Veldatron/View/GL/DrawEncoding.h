#pragma once

#include "DrawRecords.h"
#include "IEncoder.h"

#include <vector>

namespace veldatron {

class BufferPool;

/// What the encoding draws with besides the frame's own records: the pool that lends the
/// per-frame buffers and the two glyph atlases' textures.
struct EncodeResources {
    BufferPool& pool;
    const GpuTexture& grayscaleAtlas;
    const GpuTexture& colorAtlas;
};

/// Encodes one frame's draw data, bottom layer first: the rows' text layers (from their own
/// buffers, or from the whole-frame record), then the cursor's rectangles, its grayscale glyph
/// and its colour glyph. An empty layer sets no state and draws nothing; a buffer the pool cannot
/// lend drops that layer (or that image) for this frame only.
void encodeFrame(IEncoder& encoder, const DrawData& data, Float2 viewport,
                 const EncodeResources& resources);

/// The layers of a whole-frame record.
void drawFrameData(IEncoder& encoder, const FrameDrawData& frame, Float2 viewport,
                   const EncodeResources& resources);

/// Which of a row's four image lists a layer draws.
enum class ImageLayer : uint8_t { under, placeholder, over, other };

/// One image layer from the rows' own buffers.
void drawImageRows(IEncoder& encoder, const std::vector<RowDrawBuffers>& rows, ImageLayer layer,
                   Float2 viewport);

/// One image layer of a whole-frame record, each quad copied into a pooled buffer.
void drawImageBatches(IEncoder& encoder, const std::vector<ImageDraw>& draws, Float2 viewport,
                      BufferPool& pool);

} // namespace veldatron
