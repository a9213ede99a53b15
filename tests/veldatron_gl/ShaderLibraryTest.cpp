// The shader library: the embedded text's sections, and the search that picks a library or
// fails with the error a user sees. The search runs on fake providers (no GL).

#include "MetalError.h"
#include "ShaderLibrary.h"

#include <QFile>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;

namespace {

ShaderLibrary libraryWith(const QStringList& names)
{
    ShaderLibrary library;
    for (const QString& name : names)
        library.functions[name] = {shaderStageForFunction(name), QString(), nullptr};
    return library;
}

QStringList allBut(const QString& missing)
{
    QStringList names = requiredShaderFunctions();
    names.removeAll(missing);
    return names;
}

// A provider whose every place can be filled or left empty; it records what the search asked.
class FakeProvider : public IShaderLibraryProvider {
public:
    std::optional<ShaderLibrary> defaultLib;
    std::optional<QString> compiledLocation;
    std::variant<ShaderLibrary, QString> compiledLib = QString();
    std::optional<QString> source;
    std::variant<ShaderLibrary, QString> compiledSource = QString();
    std::vector<std::string> calls;

    std::optional<ShaderLibrary> defaultLibrary() override
    {
        calls.push_back("default");
        return defaultLib;
    }
    std::optional<QString> findCompiledLibrary() override
    {
        calls.push_back("find");
        return compiledLocation;
    }
    std::variant<ShaderLibrary, QString> loadCompiledLibrary(const QString& location) override
    {
        calls.push_back("load " + location.toStdString());
        return compiledLib;
    }
    std::optional<QString> loadShaderSource() override
    {
        calls.push_back("source");
        return source;
    }
    std::variant<ShaderLibrary, QString> compileSource(const QString& text) override
    {
        calls.push_back("compile " + text.toStdString());
        return compiledSource;
    }
};

std::string errorOf(FakeProvider& provider)
{
    try {
        makeLibrary(provider);
    } catch (const MetalError& error) {
        return error.description().toStdString();
    }
    return "no error";
}

TEST(ShaderLibraryTest, EmbeddedTextHoldsTheSevenFunctionsInTheirStages)
{
    QFile file(QString::fromLatin1(kShaderSourcePath));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto sections = splitShaderSections(QString::fromUtf8(file.readAll()));

    QStringList names;
    for (const ShaderSection& section : sections) {
        names << section.name;
        // GLSL wants the version line before anything but comments and blanks.
        EXPECT_TRUE(section.source.startsWith(QLatin1String("#version 330 core\n")))
            << section.name.toStdString();
        EXPECT_FALSE(section.source.contains(QLatin1String("//! function")));
    }
    QStringList sorted = names;
    QStringList required = requiredShaderFunctions();
    sorted.sort();
    required.sort();
    EXPECT_EQ(sorted, required);

    EXPECT_EQ(shaderStageForFunction(QStringLiteral("terminal_cell_text_vertex")),
              ShaderStage::vertex);
    EXPECT_EQ(shaderStageForFunction(QStringLiteral("terminal_text_fragment_gray")),
              ShaderStage::fragment);
}

TEST(ShaderLibraryTest, CompilingStopsAtTheFirstFunctionThatFailsAndNamesIt)
{
    const QString text = QStringLiteral("// preamble\n"
                                        "//! function a_vertex\nA\n"
                                        "//! function b_fragment\nB\n"
                                        "//! function c_fragment\nC\n");
    std::vector<std::string> compiled;
    auto result = compileShaderLibrary(
        text, [&](const QString& name, ShaderStage, const QString& source, QString& log) {
            compiled.push_back(name.toStdString() + "=" + source.trimmed().toStdString());
            if (name == QLatin1String("b_fragment")) {
                log = QStringLiteral("0:1(1): error: syntax error\n");
                return std::shared_ptr<QOpenGLShader>();
            }
            return std::shared_ptr<QOpenGLShader>(reinterpret_cast<QOpenGLShader*>(1),
                                                  [](QOpenGLShader*) {});
        });
    ASSERT_TRUE(std::holds_alternative<QString>(result));
    EXPECT_EQ(std::get<QString>(result), QStringLiteral("b_fragment: 0:1(1): error: syntax error"));
    EXPECT_EQ(compiled, (std::vector<std::string>{"a_vertex=A", "b_fragment=B"}));
}

TEST(ShaderLibraryTest, SearchTakesTheFirstCompleteLibrary)
{
    const QStringList all = requiredShaderFunctions();
    struct Case {
        const char* name;
        std::optional<ShaderLibrary> defaultLib;
        std::optional<QString> compiledLocation;
        std::variant<ShaderLibrary, QString> compiledLib;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"complete default library", libraryWith(all), std::nullopt, QString(), {"default"}},
        {"default lacking a function, prebuilt complete",
         libraryWith(allBut(QStringLiteral("terminal_text_vertex"))), QStringLiteral("lib"),
         libraryWith(all),
         {"default", "find", "load lib"}},
        {"no default, prebuilt lacking a function: the source", std::nullopt,
         QStringLiteral("lib"), libraryWith(allBut(QStringLiteral("terminal_color_fragment"))),
         {"default", "find", "load lib", "source", "compile text"}},
        {"nothing prebuilt: the source", std::nullopt, std::nullopt, QString(),
         {"default", "find", "source", "compile text"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProvider provider;
        provider.defaultLib = c.defaultLib;
        provider.compiledLocation = c.compiledLocation;
        provider.compiledLib = c.compiledLib;
        provider.source = QStringLiteral("text");
        provider.compiledSource = libraryWith(all);
        EXPECT_NO_THROW(makeLibrary(provider));
        EXPECT_EQ(provider.calls, c.calls);
    }
}

TEST(ShaderLibraryTest, EachFailureOfTheSearchHasItsMessage)
{
    const QStringList all = requiredShaderFunctions();
    {
        SCOPED_TRACE("a prebuilt library that does not load stops the search");
        FakeProvider provider;
        provider.compiledLocation = QStringLiteral("broken");
        provider.compiledLib = QStringLiteral("bad header");
        provider.source = QStringLiteral("text");
        provider.compiledSource = libraryWith(all);
        EXPECT_EQ(errorOf(provider), "Failed to load Metal library: bad header");
        EXPECT_EQ(provider.calls, (std::vector<std::string>{"default", "find", "load broken"}));
    }
    {
        SCOPED_TRACE("no source");
        FakeProvider provider;
        EXPECT_EQ(errorOf(provider),
                  "Failed to load Metal shader source: :/veldatron/shaders/Shaders.glsl");
    }
    {
        SCOPED_TRACE("a compile error");
        FakeProvider provider;
        provider.source = QStringLiteral("text");
        provider.compiledSource = QStringLiteral("terminal_text_vertex: 0:3(1): error");
        EXPECT_EQ(errorOf(provider),
                  "Failed to compile Metal shader source: terminal_text_vertex: 0:3(1): error");
    }
    {
        SCOPED_TRACE("a function missing from the source names all seven");
        FakeProvider provider;
        provider.defaultLib = libraryWith(allBut(QStringLiteral("terminal_color_fragment")));
        provider.source = QStringLiteral("text");
        provider.compiledSource = libraryWith(allBut(QStringLiteral("terminal_color_fragment")));
        EXPECT_EQ(errorOf(provider),
                  "Metal library missing required function: terminal_text_vertex, "
                  "terminal_cell_text_vertex, terminal_text_fragment, "
                  "terminal_text_fragment_gray, terminal_color_vertex, "
                  "terminal_cell_color_vertex, terminal_color_fragment");
    }
}

} // namespace
