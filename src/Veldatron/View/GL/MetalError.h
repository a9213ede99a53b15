#pragma once

#include <QString>

#include <exception>
#include <string>

namespace veldatron {

/// Why the GPU renderer could not be set up. The renderer's constructor throws it; the view then
/// stays on (or falls back to) the raster renderer and logs `description()`. The five kinds with
/// a payload come first; their description is the fixed text followed directly by the payload.
class MetalError : public std::exception {
public:
    enum class Kind {
        shaderLibraryLoadFailed,
        shaderFunctionMissing,
        shaderSourceMissing,
        shaderCompilationFailed,
        pipelineCreationFailed,
        metalKitUnavailable,
        deviceUnavailable,
        commandQueueUnavailable,
        atlasUnavailable,
        shaderLibraryMissing,
        samplerUnavailable,
    };

    static MetalError shaderLibraryLoadFailed(const QString& error);
    static MetalError shaderFunctionMissing(const QString& names);
    static MetalError shaderSourceMissing(const QString& path);
    static MetalError shaderCompilationFailed(const QString& log);
    static MetalError pipelineCreationFailed(const QString& which);
    static MetalError metalKitUnavailable() { return MetalError(Kind::metalKitUnavailable); }
    static MetalError deviceUnavailable() { return MetalError(Kind::deviceUnavailable); }
    static MetalError commandQueueUnavailable() { return MetalError(Kind::commandQueueUnavailable); }
    static MetalError atlasUnavailable() { return MetalError(Kind::atlasUnavailable); }
    static MetalError shaderLibraryMissing() { return MetalError(Kind::shaderLibraryMissing); }
    static MetalError samplerUnavailable() { return MetalError(Kind::samplerUnavailable); }

    Kind kind() const { return m_kind; }
    /// Empty for the kinds without one.
    const QString& payload() const { return m_payload; }
    QString description() const;
    const char* what() const noexcept override { return m_what.c_str(); }

    bool operator==(const MetalError& other) const
    {
        return m_kind == other.m_kind && m_payload == other.m_payload;
    }

private:
    explicit MetalError(Kind kind, const QString& payload = {});

    Kind m_kind;
    QString m_payload;
    std::string m_what;
};

} // namespace veldatron
