#include "MetalError.h"

namespace veldatron {

namespace {

const char* fixedText(MetalError::Kind kind)
{
    using Kind = MetalError::Kind;
    switch (kind) {
    case Kind::shaderLibraryLoadFailed:
        return "Failed to load Metal library: ";
    case Kind::shaderFunctionMissing:
        return "Metal library missing required function: ";
    case Kind::shaderSourceMissing:
        return "Failed to load Metal shader source: ";
    case Kind::shaderCompilationFailed:
        return "Failed to compile Metal shader source: ";
    case Kind::pipelineCreationFailed:
        return "Failed to create Metal pipeline: ";
    case Kind::metalKitUnavailable:
        return "MetalKit is unavailable.";
    case Kind::deviceUnavailable:
        return "No Metal device is available.";
    case Kind::commandQueueUnavailable:
        return "Failed to create Metal command queue.";
    case Kind::atlasUnavailable:
        return "Failed to create the glyph atlas.";
    case Kind::shaderLibraryMissing:
        return "Failed to locate a Metal library in bundle resources.";
    case Kind::samplerUnavailable:
        return "Failed to create Metal sampler state.";
    }
    return "";
}

} // namespace

MetalError::MetalError(Kind kind, const QString& payload)
    : m_kind(kind), m_payload(payload), m_what(description().toStdString())
{
}

MetalError MetalError::shaderLibraryLoadFailed(const QString& error)
{
    return MetalError(Kind::shaderLibraryLoadFailed, error);
}

MetalError MetalError::shaderFunctionMissing(const QString& names)
{
    return MetalError(Kind::shaderFunctionMissing, names);
}

MetalError MetalError::shaderSourceMissing(const QString& path)
{
    return MetalError(Kind::shaderSourceMissing, path);
}

MetalError MetalError::shaderCompilationFailed(const QString& log)
{
    return MetalError(Kind::shaderCompilationFailed, log);
}

MetalError MetalError::pipelineCreationFailed(const QString& which)
{
    return MetalError(Kind::pipelineCreationFailed, which);
}

QString MetalError::description() const
{
    return QString::fromLatin1(fixedText(m_kind)) + m_payload;
}

} // namespace veldatron
