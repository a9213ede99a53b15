#pragma once

#include "ShaderLibrary.h"

namespace veldatron {

/// The shader library of a running program: the GLSL text embedded as a Qt resource, compiled by
/// the current GL context. There are no prebuilt libraries (program binaries are driver-specific),
/// so the search goes from the embedded library straight to compiling the same text, which then
/// reports the compiler's log. The context must be current while the provider is used.
class GlShaderLibraryProvider final : public IShaderLibraryProvider {
public:
    explicit GlShaderLibraryProvider(QString sourcePath = QString::fromLatin1(kShaderSourcePath));

    std::optional<ShaderLibrary> defaultLibrary() override;
    std::optional<QString> findCompiledLibrary() override { return std::nullopt; }
    std::variant<ShaderLibrary, QString> loadCompiledLibrary(const QString& location) override;
    std::optional<QString> loadShaderSource() override;
    std::variant<ShaderLibrary, QString> compileSource(const QString& source) override;

    /// Compiles one GLSL shader in the current context.
    static std::shared_ptr<QOpenGLShader> compileFunction(const QString& name, ShaderStage stage,
                                                          const QString& source, QString& log);

private:
    QString m_sourcePath;
};

} // namespace veldatron
