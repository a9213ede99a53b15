#include "RenderPipeline.h"

#include "MetalError.h"
#include "ShaderLibrary.h"

#include <QOpenGLShaderProgram>

namespace veldatron {

namespace {

RenderPipeline makePipeline(const ShaderLibrary& library, const char* vertexName,
                            const char* fragmentName, VertexLayout layout, BlendMode blend,
                            const std::function<void(const QString&)>& logLinkError)
{
    const ShaderFunction* vertex = library.function(QLatin1String(vertexName));
    const ShaderFunction* fragment = library.function(QLatin1String(fragmentName));
    if (!vertex || !fragment || !vertex->shader || !fragment->shader
        || vertex->stage != ShaderStage::vertex || fragment->stage != ShaderStage::fragment)
        throw MetalError::pipelineCreationFailed(QStringLiteral("text/color/cell"));

    auto program = std::make_shared<QOpenGLShaderProgram>();
    if (!program->addShader(vertex->shader.get()) || !program->addShader(fragment->shader.get())
        || !program->link()) {
        if (logLinkError)
            logLinkError(QStringLiteral("%1 + %2: %3")
                             .arg(QLatin1String(vertexName), QLatin1String(fragmentName),
                                  program->log().trimmed()));
        throw MetalError::pipelineCreationFailed(QStringLiteral("text/color/cell"));
    }
    RenderPipeline pipeline;
    pipeline.layout = layout;
    pipeline.blend = blend;
    pipeline.viewportLocation = program->uniformLocation("u_viewport");
    pipeline.textureLocation = program->uniformLocation("u_texture");
    pipeline.program = std::move(program);
    return pipeline;
}

} // namespace

RenderPipelines makePipelines(const ShaderLibrary& library,
                              const std::function<void(const QString&)>& logLinkError)
{
    RenderPipelines pipelines;
    pipelines.textPipeline =
        makePipeline(library, "terminal_text_vertex", "terminal_text_fragment",
                     VertexLayout::glyphVertex, BlendMode::premultiplied, logLinkError);
    pipelines.textGrayPipeline =
        makePipeline(library, "terminal_text_vertex", "terminal_text_fragment_gray",
                     VertexLayout::glyphVertex, BlendMode::premultiplied, logLinkError);
    pipelines.cellTextPipeline =
        makePipeline(library, "terminal_cell_text_vertex", "terminal_text_fragment",
                     VertexLayout::textCell, BlendMode::premultiplied, logLinkError);
    pipelines.cellTextGrayPipeline =
        makePipeline(library, "terminal_cell_text_vertex", "terminal_text_fragment_gray",
                     VertexLayout::textCell, BlendMode::premultiplied, logLinkError);
    pipelines.colorPipeline =
        makePipeline(library, "terminal_color_vertex", "terminal_color_fragment",
                     VertexLayout::colorVertex, BlendMode::straight, logLinkError);
    pipelines.cellColorPipeline =
        makePipeline(library, "terminal_cell_color_vertex", "terminal_color_fragment",
                     VertexLayout::colorCell, BlendMode::straight, logLinkError);
    return pipelines;
}

} // namespace veldatron
