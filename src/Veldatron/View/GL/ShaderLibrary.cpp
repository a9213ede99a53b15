#include "ShaderLibrary.h"

#include "MetalError.h"

#include <QRegularExpression>

namespace veldatron {

const ShaderFunction* ShaderLibrary::function(const QString& name) const
{
    auto found = functions.find(name);
    return found == functions.end() ? nullptr : &found->second;
}

const QStringList& requiredShaderFunctions()
{
    static const QStringList names = {
        QStringLiteral("terminal_text_vertex"),        QStringLiteral("terminal_cell_text_vertex"),
        QStringLiteral("terminal_text_fragment"),      QStringLiteral("terminal_text_fragment_gray"),
        QStringLiteral("terminal_color_vertex"),       QStringLiteral("terminal_cell_color_vertex"),
        QStringLiteral("terminal_color_fragment"),
    };
    return names;
}

bool libraryHasRequiredFunctions(const ShaderLibrary& library)
{
    for (const QString& name : requiredShaderFunctions()) {
        if (!library.function(name))
            return false;
    }
    return true;
}

ShaderStage shaderStageForFunction(const QString& name)
{
    return name.contains(QLatin1String("_vertex")) ? ShaderStage::vertex : ShaderStage::fragment;
}

std::vector<ShaderSection> splitShaderSections(const QString& text)
{
    static const QRegularExpression marker(QStringLiteral("^//! function[ \\t]+(\\S+)[ \\t]*$"),
                                           QRegularExpression::MultilineOption);
    struct Marker {
        QString name;
        qsizetype start; // of the marker line
        qsizetype bodyStart;
    };
    std::vector<Marker> markers;
    for (auto matches = marker.globalMatch(text); matches.hasNext();) {
        const auto match = matches.next();
        markers.push_back({match.captured(1), match.capturedStart(), match.capturedEnd()});
    }
    std::vector<ShaderSection> sections;
    for (size_t i = 0; i < markers.size(); ++i) {
        const qsizetype end = i + 1 < markers.size() ? markers[i + 1].start : text.size();
        qsizetype body = markers[i].bodyStart;
        if (body < end && text.at(body) == QLatin1Char('\n'))
            ++body;
        sections.push_back({markers[i].name, text.mid(body, end - body)});
    }
    return sections;
}

std::variant<ShaderLibrary, QString> compileShaderLibrary(const QString& text,
                                                          const ShaderCompileFunction& compile)
{
    ShaderLibrary library;
    for (ShaderSection& section : splitShaderSections(text)) {
        const ShaderStage stage = shaderStageForFunction(section.name);
        QString log;
        auto shader = compile(section.name, stage, section.source, log);
        if (!shader)
            return section.name + QStringLiteral(": ") + log.trimmed();
        library.functions[section.name] = {stage, std::move(section.source), std::move(shader)};
    }
    return library;
}

ShaderLibrary makeLibrary(IShaderLibraryProvider& provider)
{
    if (auto library = provider.defaultLibrary(); library && libraryHasRequiredFunctions(*library))
        return std::move(*library);

    if (auto location = provider.findCompiledLibrary()) {
        auto loaded = provider.loadCompiledLibrary(*location);
        if (auto* error = std::get_if<QString>(&loaded))
            throw MetalError::shaderLibraryLoadFailed(*error);
        auto& library = std::get<ShaderLibrary>(loaded);
        if (libraryHasRequiredFunctions(library))
            return std::move(library);
    }

    const auto source = provider.loadShaderSource();
    if (!source)
        throw MetalError::shaderSourceMissing(QString::fromLatin1(kShaderSourcePath));
    auto compiled = provider.compileSource(*source);
    if (auto* error = std::get_if<QString>(&compiled))
        throw MetalError::shaderCompilationFailed(*error);
    auto& library = std::get<ShaderLibrary>(compiled);
    if (!libraryHasRequiredFunctions(library))
        throw MetalError::shaderFunctionMissing(requiredShaderFunctions().join(QStringLiteral(", ")));
    return std::move(library);
}

} // namespace veldatron
