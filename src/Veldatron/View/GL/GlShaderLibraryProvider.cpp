#include "GlShaderLibraryProvider.h"

#include <QFile>
#include <QOpenGLContext>
#include <QOpenGLShader>

namespace veldatron {

GlShaderLibraryProvider::GlShaderLibraryProvider(QString sourcePath)
    : m_sourcePath(std::move(sourcePath))
{
}

std::optional<ShaderLibrary> GlShaderLibraryProvider::defaultLibrary()
{
    const auto source = loadShaderSource();
    if (!source)
        return std::nullopt;
    auto compiled = compileSource(*source);
    if (auto* library = std::get_if<ShaderLibrary>(&compiled))
        return std::move(*library);
    return std::nullopt;
}

std::variant<ShaderLibrary, QString> GlShaderLibraryProvider::loadCompiledLibrary(const QString&)
{
    return QStringLiteral("prebuilt shader libraries are not supported");
}

std::optional<QString> GlShaderLibraryProvider::loadShaderSource()
{
    QFile file(m_sourcePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

std::variant<ShaderLibrary, QString> GlShaderLibraryProvider::compileSource(const QString& source)
{
    return compileShaderLibrary(source, &GlShaderLibraryProvider::compileFunction);
}

std::shared_ptr<QOpenGLShader> GlShaderLibraryProvider::compileFunction(const QString& name,
                                                                        ShaderStage stage,
                                                                        const QString& source,
                                                                        QString& log)
{
    if (!QOpenGLContext::currentContext()) {
        log = QStringLiteral("no current GL context");
        return nullptr;
    }
    auto shader = std::make_shared<QOpenGLShader>(
        stage == ShaderStage::vertex ? QOpenGLShader::Vertex : QOpenGLShader::Fragment);
    if (!shader->compileSourceCode(source)) {
        log = shader->log();
        if (log.isEmpty())
            log = QStringLiteral("%1 did not compile").arg(name);
        return nullptr;
    }
    return shader;
}

} // namespace veldatron
