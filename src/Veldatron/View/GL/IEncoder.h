#pragma once

#include "DrawRecords.h"

#include <cstdint>

namespace veldatron {

/// The renderer's six pipelines, named after the fields that hold them.
enum class PipelineKind : uint8_t { text, textGray, cellText, cellTextGray, color, cellColor };

/// One frame's draw commands, in the vocabulary of the render encoder the encoding was designed
/// for: state set on the encoder stays until set again, across pipeline changes. GlEncoder turns
/// the commands into GL calls; tests record them.
class IEncoder {
public:
    virtual ~IEncoder() = default;

    virtual void setPipeline(PipelineKind pipeline) = 0;
    /// Vertex buffer 0, offset 0: the records the next draws read.
    virtual void setVertexBuffer(const GpuBuffer& buffer) = 0;
    /// The drawable's width and height in pixels, read by every vertex function.
    virtual void setViewport(Float2 viewport) = 0;
    /// Fragment texture 0.
    virtual void setTexture(const GpuTexture& texture) = 0;
    /// Fragment sampler 0: the renderer's linear, clamp-to-edge sampler.
    virtual void setSampler() = 0;
    /// Triangles from vertex 0. A cell pipeline draws one record per six vertices.
    virtual void drawTriangles(int vertexCount) = 0;
};

} // namespace veldatron
