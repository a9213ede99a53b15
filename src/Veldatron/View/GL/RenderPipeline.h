#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QOpenGLShaderProgram;

namespace veldatron {

struct ShaderLibrary;

/// The record kind a pipeline's vertex function reads from vertex buffer 0. Cell records are read
/// one per instance (six vertices each); vertex records one per vertex.
enum class VertexLayout : uint8_t { textCell, colorCell, glyphVertex, colorVertex };

/// The blend a pipeline draws with. Text pipelines get premultiplied colour from their fragment
/// function (one, 1 - source alpha); colour pipelines get straight colour (source alpha,
/// 1 - source alpha). Alpha always blends with (one, 1 - source alpha).
enum class BlendMode : uint8_t { premultiplied, straight };

/// A linked program with the state drawn with it: the GL stand-in for a render pipeline state.
struct RenderPipeline {
    std::shared_ptr<QOpenGLShaderProgram> program;
    VertexLayout layout = VertexLayout::colorCell;
    BlendMode blend = BlendMode::straight;
    int viewportLocation = -1;
    int textureLocation = -1; ///< -1 for the flat-colour pipelines
};

/// The renderer's six pipelines.
struct RenderPipelines {
    RenderPipeline textPipeline;
    RenderPipeline textGrayPipeline;
    RenderPipeline cellTextPipeline;
    RenderPipeline cellTextGrayPipeline;
    RenderPipeline colorPipeline;
    RenderPipeline cellColorPipeline;
};

/// Links the six pipelines from the library's functions in the current GL context. A missing
/// function or a link failure throws MetalError::pipelineCreationFailed("text/color/cell");
/// the driver's link log goes to `logLinkError` first, because the error's text names no
/// pipeline.
RenderPipelines makePipelines(const ShaderLibrary& library,
                              const std::function<void(const QString&)>& logLinkError);

} // namespace veldatron
