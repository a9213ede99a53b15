#pragma once

#include "GpuDevice.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace veldatron {

// The records the GPU renderer's parts hand each other and the shaders read.
//
// Positions are device pixels of the drawable, origin at its lower-left corner, y up (terminal
// row 0 has the largest y):
//
//      y ^  row 0
//        |  row 1
//        |  ...
//        +-------> x      (0, 0) = lower-left of the drawable
//
// Texture coordinates are 0...1; t = 0 is the texture's first row in memory. Colours are
// straight-alpha red, green, blue, alpha.

struct Float2 {
    float x = 0;
    float y = 0;
    bool operator==(const Float2&) const = default;
};

struct Float4 {
    float r = 0;
    float g = 0;
    float b = 0;
    float a = 0;
    bool operator==(const Float4&) const = default;
};

/// One textured rectangle, drawn as six vertices from one instance.
struct TextCell {
    Float2 position; ///< lower-left corner
    Float2 size;
    Float2 texOrigin; ///< texture coordinate at `position`
    Float2 texSize;
    Float4 color; ///< tint: the text colour, (1, 1, 1, 1) for colour glyphs
    bool operator==(const TextCell&) const = default;
};

/// One flat rectangle.
struct ColorCell {
    Float2 position;
    Float2 size;
    Float4 color;
    bool operator==(const ColorCell&) const = default;
};

/// One vertex of a textured triangle.
struct GlyphVertex {
    Float2 position;
    Float2 texCoord;
    Float4 color;
    bool operator==(const GlyphVertex&) const = default;
};

/// One vertex of a flat triangle. The colour starts on a 16-byte boundary, as the shader reads it.
struct ColorVertex {
    Float2 position;
    Float2 reserved;
    Float4 color;
    bool operator==(const ColorVertex& other) const
    {
        return position == other.position && color == other.color;
    }
};

static_assert(sizeof(TextCell) == 48 && offsetof(TextCell, color) == 32);
static_assert(sizeof(ColorCell) == 32 && offsetof(ColorCell, color) == 16);
static_assert(sizeof(GlyphVertex) == 32 && offsetof(GlyphVertex, color) == 16);
static_assert(sizeof(ColorVertex) == 32 && offsetof(ColorVertex, color) == 16);

/// A rectangle that clips drawing, device pixels. An absent ClipRect clips nothing.
struct ClipRect {
    Float2 min; ///< lower-left corner
    Float2 max; ///< upper-right corner
    bool operator==(const ClipRect&) const = default;
};

/// The six corners of the rectangle x0 < x1, y0 < y1, two triangles, in the order the shaders
/// and the encoder expect: (x0,y0) (x1,y0) (x0,y1) (x1,y0) (x1,y1) (x0,y1).
struct QuadCorners {
    float x0, y0, x1, y1;
};
void appendQuad(std::vector<ColorVertex>& out, const QuadCorners& rect, const Float4& color);
/// Texture coordinates follow the same corners: (s0,t0) at (x0,y0), (s1,t1) at (x1,y1).
void appendQuad(std::vector<GlyphVertex>& out, const QuadCorners& rect, const QuadCorners& tex,
                const Float4& color);

/// One textured quad of an image.
struct ImageDraw {
    std::shared_ptr<GpuTexture> texture;
    std::vector<GlyphVertex> vertices; ///< six, in the corner order above
    bool operator==(const ImageDraw&) const = default;
};

/// The GPU form of an ImageDraw.
struct ImageDrawBuffer {
    std::shared_ptr<GpuTexture> texture;
    std::shared_ptr<GpuBuffer> buffer; ///< exactly `vertexCount` records
    int vertexCount = 0;
};

/// Everything one row draws.
struct RowDrawData {
    std::vector<ColorCell> backgroundCells;
    std::vector<ColorCell> powerlineJoinCells;
    std::vector<TextCell> glyphCellsGray;
    std::vector<TextCell> glyphCellsColor;
    std::vector<ColorCell> decorationCells;
    std::vector<ImageDraw> underImageDraws;
    std::vector<ImageDraw> placeholderImageDraws;
    std::vector<ImageDraw> overImageDraws;
    std::vector<ImageDraw> otherImageDraws;
    bool operator==(const RowDrawData&) const = default;
};

/// The GPU form of one RowDrawData. A missing buffer always comes with count 0; a present one is
/// exactly count × record size bytes long.
struct RowDrawBuffers {
    std::shared_ptr<GpuBuffer> backgroundBuffer;
    int backgroundCount = 0;
    std::shared_ptr<GpuBuffer> powerlineJoinBuffer;
    int powerlineJoinCount = 0;
    std::shared_ptr<GpuBuffer> glyphGrayBuffer;
    int glyphGrayCount = 0;
    std::shared_ptr<GpuBuffer> glyphColorBuffer;
    int glyphColorCount = 0;
    std::shared_ptr<GpuBuffer> decorationBuffer;
    int decorationCount = 0;
    std::vector<ImageDrawBuffer> underImageBuffers;
    std::vector<ImageDrawBuffer> placeholderImageBuffers;
    std::vector<ImageDrawBuffer> overImageBuffers;
    std::vector<ImageDrawBuffer> otherImageBuffers;
};

/// The nine arrays of every visible row concatenated, top row first.
using FrameDrawData = RowDrawData;

/// The result of one frame's build pass.
struct DrawData {
    /// One entry per visible row, top first, when rows keep their own buffers; else empty.
    std::vector<RowDrawBuffers> rows;
    /// The concatenated rows when the frame copies them into pooled buffers; else absent.
    std::optional<FrameDrawData> frame;
    std::vector<ColorVertex> cursorColorVertices;
    std::vector<GlyphVertex> cursorGlyphVerticesGray;
    std::vector<GlyphVertex> cursorGlyphVerticesColor;
};

} // namespace veldatron
