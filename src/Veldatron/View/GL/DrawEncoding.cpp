#include "DrawEncoding.h"

#include "BufferPool.h"

#include <type_traits>

namespace veldatron {

namespace {

// A cell layer of the per-row buffers: which buffer and count of a row it reads.
struct RowCellLayer {
    std::shared_ptr<GpuBuffer> RowDrawBuffers::*buffer;
    int RowDrawBuffers::*count;
    PipelineKind pipeline;
};

void drawRowCellLayer(IEncoder& encoder, const std::vector<RowDrawBuffers>& rows,
                      const RowCellLayer& layer, Float2 viewport, const GpuTexture* atlas)
{
    bool any = false;
    for (const RowDrawBuffers& row : rows)
        any = any || (row.*layer.buffer && row.*layer.count > 0);
    if (!any)
        return;
    encoder.setPipeline(layer.pipeline);
    encoder.setViewport(viewport);
    if (atlas) {
        encoder.setTexture(*atlas);
        encoder.setSampler();
    }
    for (const RowDrawBuffers& row : rows) {
        if (!(row.*layer.buffer) || row.*layer.count <= 0)
            continue;
        encoder.setVertexBuffer(*(row.*layer.buffer));
        encoder.drawTriangles(6 * (row.*layer.count));
    }
}

const std::vector<ImageDrawBuffer>& imageList(const RowDrawBuffers& row, ImageLayer layer)
{
    switch (layer) {
    case ImageLayer::under:
        return row.underImageBuffers;
    case ImageLayer::placeholder:
        return row.placeholderImageBuffers;
    case ImageLayer::over:
        return row.overImageBuffers;
    case ImageLayer::other:
        break;
    }
    return row.otherImageBuffers;
}

void drawRows(IEncoder& encoder, const std::vector<RowDrawBuffers>& rows, Float2 viewport,
              const EncodeResources& resources)
{
    const RowCellLayer backgrounds{&RowDrawBuffers::backgroundBuffer,
                                   &RowDrawBuffers::backgroundCount, PipelineKind::cellColor};
    const RowCellLayer powerlineJoins{&RowDrawBuffers::powerlineJoinBuffer,
                                      &RowDrawBuffers::powerlineJoinCount, PipelineKind::cellColor};
    const RowCellLayer grayGlyphs{&RowDrawBuffers::glyphGrayBuffer,
                                  &RowDrawBuffers::glyphGrayCount, PipelineKind::cellTextGray};
    const RowCellLayer colorGlyphs{&RowDrawBuffers::glyphColorBuffer,
                                   &RowDrawBuffers::glyphColorCount, PipelineKind::cellText};
    const RowCellLayer decorations{&RowDrawBuffers::decorationBuffer,
                                   &RowDrawBuffers::decorationCount, PipelineKind::cellColor};

    drawRowCellLayer(encoder, rows, backgrounds, viewport, nullptr);
    drawImageRows(encoder, rows, ImageLayer::under, viewport);
    drawRowCellLayer(encoder, rows, powerlineJoins, viewport, nullptr);
    drawRowCellLayer(encoder, rows, grayGlyphs, viewport, &resources.grayscaleAtlas);
    drawRowCellLayer(encoder, rows, colorGlyphs, viewport, &resources.colorAtlas);
    drawRowCellLayer(encoder, rows, decorations, viewport, nullptr);
    drawImageRows(encoder, rows, ImageLayer::placeholder, viewport);
    drawImageRows(encoder, rows, ImageLayer::over, viewport);
    drawImageRows(encoder, rows, ImageLayer::other, viewport);
}

template <typename Record>
void drawPooled(IEncoder& encoder, const std::vector<Record>& records, PipelineKind pipeline,
                Float2 viewport, BufferPool& pool, const GpuTexture* texture)
{
    if (records.empty())
        return;
    const auto buffer = pool.makeBuffer(records);
    if (!buffer)
        return;
    encoder.setPipeline(pipeline);
    if (texture) {
        encoder.setTexture(*texture);
        encoder.setSampler();
    }
    encoder.setVertexBuffer(*buffer);
    encoder.setViewport(viewport);
    // Cell records draw six vertices each; vertex records one.
    constexpr bool cells = std::is_same_v<Record, TextCell> || std::is_same_v<Record, ColorCell>;
    encoder.drawTriangles(int(records.size()) * (cells ? 6 : 1));
}

} // namespace

void drawImageRows(IEncoder& encoder, const std::vector<RowDrawBuffers>& rows, ImageLayer layer,
                   Float2 viewport)
{
    bool any = false;
    for (const RowDrawBuffers& row : rows)
        any = any || !imageList(row, layer).empty();
    if (!any)
        return;
    encoder.setPipeline(PipelineKind::text);
    encoder.setSampler();
    encoder.setViewport(viewport);
    for (const RowDrawBuffers& row : rows) {
        for (const ImageDrawBuffer& image : imageList(row, layer)) {
            if (!image.buffer || !image.texture || image.vertexCount <= 0)
                continue;
            encoder.setVertexBuffer(*image.buffer);
            encoder.setTexture(*image.texture);
            encoder.drawTriangles(image.vertexCount);
        }
    }
}

void drawImageBatches(IEncoder& encoder, const std::vector<ImageDraw>& draws, Float2 viewport,
                      BufferPool& pool)
{
    if (draws.empty())
        return;
    encoder.setPipeline(PipelineKind::text);
    encoder.setSampler();
    encoder.setViewport(viewport);
    for (const ImageDraw& draw : draws) {
        if (draw.vertices.empty() || !draw.texture)
            continue;
        const auto buffer = pool.makeBuffer(draw.vertices);
        if (!buffer)
            continue;
        encoder.setVertexBuffer(*buffer);
        encoder.setTexture(*draw.texture);
        encoder.drawTriangles(int(draw.vertices.size()));
    }
}

void drawFrameData(IEncoder& encoder, const FrameDrawData& frame, Float2 viewport,
                   const EncodeResources& resources)
{
    BufferPool& pool = resources.pool;
    drawPooled(encoder, frame.backgroundCells, PipelineKind::cellColor, viewport, pool, nullptr);
    drawImageBatches(encoder, frame.underImageDraws, viewport, pool);
    drawPooled(encoder, frame.powerlineJoinCells, PipelineKind::cellColor, viewport, pool,
               nullptr);
    drawPooled(encoder, frame.glyphCellsGray, PipelineKind::cellTextGray, viewport, pool,
               &resources.grayscaleAtlas);
    drawPooled(encoder, frame.glyphCellsColor, PipelineKind::cellText, viewport, pool,
               &resources.colorAtlas);
    drawPooled(encoder, frame.decorationCells, PipelineKind::cellColor, viewport, pool, nullptr);
    drawImageBatches(encoder, frame.placeholderImageDraws, viewport, pool);
    drawImageBatches(encoder, frame.overImageDraws, viewport, pool);
    drawImageBatches(encoder, frame.otherImageDraws, viewport, pool);
}

void encodeFrame(IEncoder& encoder, const DrawData& data, Float2 viewport,
                 const EncodeResources& resources)
{
    if (data.frame)
        drawFrameData(encoder, *data.frame, viewport, resources);
    else
        drawRows(encoder, data.rows, viewport, resources);
    drawPooled(encoder, data.cursorColorVertices, PipelineKind::color, viewport, resources.pool,
               nullptr);
    drawPooled(encoder, data.cursorGlyphVerticesGray, PipelineKind::textGray, viewport,
               resources.pool, &resources.grayscaleAtlas);
    drawPooled(encoder, data.cursorGlyphVerticesColor, PipelineKind::text, viewport,
               resources.pool, &resources.colorAtlas);
}

} // namespace veldatron
