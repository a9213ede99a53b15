#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

class QOpenGLShader;

namespace veldatron {

enum class ShaderStage : uint8_t { vertex, fragment };

/// One function of the shader library: a complete GLSL shader of one stage. `shader` is the
/// compiled GL object; a library put together without a GL context (tests) leaves it empty.
struct ShaderFunction {
    ShaderStage stage = ShaderStage::vertex;
    QString source;
    std::shared_ptr<QOpenGLShader> shader;
};

/// The renderer's shader library: its compiled functions by name.
struct ShaderLibrary {
    std::map<QString, ShaderFunction> functions;

    const ShaderFunction* function(const QString& name) const;
};

/// The library text embedded in the program (Qt resource).
inline constexpr const char* kShaderSourcePath = ":/veldatron/shaders/Shaders.glsl";

/// The seven functions every library must hold, in the order the search checks them.
const QStringList& requiredShaderFunctions();
bool libraryHasRequiredFunctions(const ShaderLibrary& library);

/// A vertex function's name holds "_vertex"; every other function is a fragment function.
ShaderStage shaderStageForFunction(const QString& name);

struct ShaderSection {
    QString name;
    QString source;
};
/// Splits library text at its "//! function <name>" lines; the text before the first one is a
/// comment and belongs to no function.
std::vector<ShaderSection> splitShaderSections(const QString& text);

/// Compiles one function; returns the shader, or null with the compiler's log in `log`.
using ShaderCompileFunction = std::function<std::shared_ptr<QOpenGLShader>(
    const QString& name, ShaderStage stage, const QString& source, QString& log)>;

/// Compiles every section of `text` into a library, or returns the first compiler log (prefixed
/// with the function's name so that the log's line numbers can be placed).
std::variant<ShaderLibrary, QString> compileShaderLibrary(const QString& text,
                                                          const ShaderCompileFunction& compile);

/// The places makeLibrary searches, in its order. The production provider (GlShaderLibraryProvider)
/// has no prebuilt libraries: the driver's program-binary cache plays that part. Tests supply
/// their own provider to reach every branch of the search.
class IShaderLibraryProvider {
public:
    virtual ~IShaderLibraryProvider() = default;

    /// The library that ships with the program, when it can be had at all.
    virtual std::optional<ShaderLibrary> defaultLibrary() = 0;
    /// The location of a prebuilt library, if one exists.
    virtual std::optional<QString> findCompiledLibrary() = 0;
    /// The prebuilt library at `location`, or the text of its load error.
    virtual std::variant<ShaderLibrary, QString> loadCompiledLibrary(const QString& location) = 0;
    /// The library's source text, when it can be read.
    virtual std::optional<QString> loadShaderSource() = 0;
    /// The library compiled from `source`, or the compiler's error text.
    virtual std::variant<ShaderLibrary, QString> compileSource(const QString& source) = 0;
};

/// Finds the shader library: the default library when it holds every required function, else a
/// prebuilt one (whose load error stops the search), else the source compiled now. Throws
/// MetalError when none can be had.
ShaderLibrary makeLibrary(IShaderLibraryProvider& provider);

} // namespace veldatron
