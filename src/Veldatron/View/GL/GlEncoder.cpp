#include "GlEncoder.h"

#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLShaderProgram>

#include <cstddef>

namespace veldatron {

namespace {

// Attribute locations shared by every vertex function of the shader library.
enum Location : GLuint { position = 0, size = 1, texOrigin = 2, texSize = 3, color = 4 };

struct Attribute {
    GLuint location;
    GLint components;
    std::size_t offset;
};

struct LayoutDescription {
    GLsizei stride;
    bool perInstance;
    std::array<Attribute, 5> attributes;
    int count;
};

LayoutDescription describe(VertexLayout layout)
{
    switch (layout) {
    case VertexLayout::textCell:
        return {sizeof(TextCell),
                true,
                {{{position, 2, offsetof(TextCell, position)},
                  {size, 2, offsetof(TextCell, size)},
                  {texOrigin, 2, offsetof(TextCell, texOrigin)},
                  {texSize, 2, offsetof(TextCell, texSize)},
                  {color, 4, offsetof(TextCell, color)}}},
                5};
    case VertexLayout::colorCell:
        return {sizeof(ColorCell),
                true,
                {{{position, 2, offsetof(ColorCell, position)},
                  {size, 2, offsetof(ColorCell, size)},
                  {color, 4, offsetof(ColorCell, color)}}},
                3};
    case VertexLayout::glyphVertex:
        return {sizeof(GlyphVertex),
                false,
                {{{position, 2, offsetof(GlyphVertex, position)},
                  {texOrigin, 2, offsetof(GlyphVertex, texCoord)},
                  {color, 4, offsetof(GlyphVertex, color)}}},
                3};
    case VertexLayout::colorVertex:
        break;
    }
    return {sizeof(ColorVertex),
            false,
            {{{position, 2, offsetof(ColorVertex, position)},
              {color, 4, offsetof(ColorVertex, color)}}},
            2};
}

} // namespace

unsigned makeSampler(QOpenGLFunctions_3_3_Core& gl)
{
    GLuint sampler = 0;
    gl.glGenSamplers(1, &sampler);
    if (sampler == 0)
        return 0;
    gl.glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return sampler;
}

unsigned GlVertexArrays::vertexArray(VertexLayout layout)
{
    unsigned& name = m_names[std::size_t(layout)];
    if (name != 0)
        return name;
    m_gl.glGenVertexArrays(1, &name);
    m_gl.glBindVertexArray(name);
    const LayoutDescription description = describe(layout);
    for (int i = 0; i < description.count; ++i) {
        m_gl.glEnableVertexAttribArray(description.attributes[std::size_t(i)].location);
        m_gl.glVertexAttribDivisor(description.attributes[std::size_t(i)].location,
                                   description.perInstance ? 1 : 0);
    }
    return name;
}

void GlVertexArrays::release()
{
    for (unsigned& name : m_names) {
        if (name != 0)
            m_gl.glDeleteVertexArrays(1, &name);
        name = 0;
    }
}

GlEncoder::GlEncoder(QOpenGLFunctions_3_3_Core& gl, const RenderPipelines& pipelines,
                     unsigned sampler, GlVertexArrays& vertexArrays)
    : m_gl(gl), m_pipelines(pipelines), m_sampler(sampler), m_vertexArrays(vertexArrays)
{
    m_gl.glEnable(GL_BLEND);
    m_gl.glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
    m_gl.glDisable(GL_DEPTH_TEST);
    m_gl.glDisable(GL_SCISSOR_TEST);
    m_gl.glDisable(GL_CULL_FACE);
}

const RenderPipeline& GlEncoder::pipeline(PipelineKind kind) const
{
    switch (kind) {
    case PipelineKind::text:
        return m_pipelines.textPipeline;
    case PipelineKind::textGray:
        return m_pipelines.textGrayPipeline;
    case PipelineKind::cellText:
        return m_pipelines.cellTextPipeline;
    case PipelineKind::cellTextGray:
        return m_pipelines.cellTextGrayPipeline;
    case PipelineKind::color:
        return m_pipelines.colorPipeline;
    case PipelineKind::cellColor:
        break;
    }
    return m_pipelines.cellColorPipeline;
}

void GlEncoder::setPipeline(PipelineKind kind)
{
    m_pipeline = &pipeline(kind);
    m_gl.glUseProgram(m_pipeline->program->programId());
    m_gl.glBlendFuncSeparate(m_pipeline->blend == BlendMode::premultiplied ? GL_ONE
                                                                          : GL_SRC_ALPHA,
                             GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    m_gl.glBindVertexArray(m_vertexArrays.vertexArray(m_pipeline->layout));
    m_attributesCurrent = false;
}

void GlEncoder::setVertexBuffer(const GpuBuffer& buffer)
{
    m_buffer = buffer.glName();
    m_attributesCurrent = false;
}

void GlEncoder::setViewport(Float2 viewport)
{
    m_viewport = viewport;
}

void GlEncoder::setTexture(const GpuTexture& texture)
{
    m_gl.glActiveTexture(GL_TEXTURE0);
    m_gl.glBindTexture(GL_TEXTURE_2D, texture.glName());
}

void GlEncoder::setSampler()
{
    m_gl.glBindSampler(0, m_sampler);
}

void GlEncoder::drawTriangles(int vertexCount)
{
    if (!m_pipeline || m_buffer == 0 || vertexCount <= 0)
        return;
    if (!m_attributesCurrent) {
        const LayoutDescription description = describe(m_pipeline->layout);
        m_gl.glBindBuffer(GL_ARRAY_BUFFER, m_buffer);
        for (int i = 0; i < description.count; ++i) {
            const Attribute& attribute = description.attributes[std::size_t(i)];
            m_gl.glVertexAttribPointer(attribute.location, attribute.components, GL_FLOAT,
                                       GL_FALSE, description.stride,
                                       reinterpret_cast<const void*>(attribute.offset));
        }
        m_attributesCurrent = true;
    }
    m_gl.glUniform2f(m_pipeline->viewportLocation, m_viewport.x, m_viewport.y);
    if (m_pipeline->textureLocation >= 0)
        m_gl.glUniform1i(m_pipeline->textureLocation, 0);
    if (describe(m_pipeline->layout).perInstance)
        m_gl.glDrawArraysInstanced(GL_TRIANGLES, 0, 6, vertexCount / 6);
    else
        m_gl.glDrawArrays(GL_TRIANGLES, 0, vertexCount);
}

} // namespace veldatron
