#pragma once

#include "IEncoder.h"
#include "RenderPipeline.h"

#include <array>

class QOpenGLFunctions_3_3_Core;

namespace veldatron {

/// One vertex array object per record layout. VAOs are the one kind of GL object that contexts
/// never share, so each context that draws keeps its own set, made on first use in that context
/// and deleted by release() while it is current.
class GlVertexArrays {
public:
    explicit GlVertexArrays(QOpenGLFunctions_3_3_Core& gl) : m_gl(gl) {}
    ~GlVertexArrays() = default;
    GlVertexArrays(const GlVertexArrays&) = delete;
    GlVertexArrays& operator=(const GlVertexArrays&) = delete;

    /// The VAO of a layout with its attributes enabled (and read per instance for cell records).
    unsigned vertexArray(VertexLayout layout);
    /// Deletes the VAOs; their context must be current.
    void release();

private:
    QOpenGLFunctions_3_3_Core& m_gl;
    std::array<unsigned, 4> m_names{};
};

/// The sampler of every textured draw: linear filtering, clamped to the edge, no mipmaps.
/// 0 when GL cannot make one.
unsigned makeSampler(QOpenGLFunctions_3_3_Core& gl);

/// Turns draw commands into GL calls on the current context. GL keeps uniforms per program and
/// attribute pointers per VAO and buffer, so state that the commands set once per layer (the
/// viewport, the texture unit) is applied to whichever program draws next, and the attribute
/// pointers are re-specified for every buffer.
class GlEncoder final : public IEncoder {
public:
    GlEncoder(QOpenGLFunctions_3_3_Core& gl, const RenderPipelines& pipelines, unsigned sampler,
              GlVertexArrays& vertexArrays);

    void setPipeline(PipelineKind pipeline) override;
    void setVertexBuffer(const GpuBuffer& buffer) override;
    void setViewport(Float2 viewport) override;
    void setTexture(const GpuTexture& texture) override;
    void setSampler() override;
    void drawTriangles(int vertexCount) override;

    const RenderPipeline& pipeline(PipelineKind kind) const;

private:
    QOpenGLFunctions_3_3_Core& m_gl;
    const RenderPipelines& m_pipelines;
    unsigned m_sampler;
    GlVertexArrays& m_vertexArrays;
    const RenderPipeline* m_pipeline = nullptr;
    unsigned m_buffer = 0;
    bool m_attributesCurrent = false;
    Float2 m_viewport;
};

} // namespace veldatron
