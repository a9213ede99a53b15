// The embedded shader library compiled and linked by the real driver, and the driver's compile
// and link errors reaching the messages of the set-up errors.

#include "GlShaderLibraryProvider.h"
#include "GlTestContext.h"
#include "MetalError.h"
#include "RenderPipeline.h"

#include <QOpenGLShaderProgram>

#include <gtest/gtest.h>

using namespace veldatron;
using veldatron::testing::GlTestContext;

namespace {

class GlPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_gl = GlTestContext::make();
        if (!m_gl)
            GTEST_SKIP() << GlTestContext::whyUnavailable();
    }

    std::unique_ptr<GlTestContext> m_gl;
};

TEST_F(GlPipelineTest, EmbeddedLibraryCompilesAndEveryPipelineLinks)
{
    GlShaderLibraryProvider provider;
    ASSERT_TRUE(provider.defaultLibrary().has_value());
    const ShaderLibrary library = makeLibrary(provider);
    QStringList logged;
    const RenderPipelines pipelines =
        makePipelines(library, [&](const QString& log) { logged << log; });
    EXPECT_TRUE(logged.isEmpty()) << logged.join(QLatin1Char('\n')).toStdString();

    const RenderPipeline* all[] = {&pipelines.textPipeline,     &pipelines.textGrayPipeline,
                                   &pipelines.cellTextPipeline, &pipelines.cellTextGrayPipeline,
                                   &pipelines.colorPipeline,    &pipelines.cellColorPipeline};
    for (const RenderPipeline* pipeline : all) {
        ASSERT_TRUE(pipeline->program);
        EXPECT_TRUE(pipeline->program->isLinked());
        EXPECT_GE(pipeline->viewportLocation, 0);
    }
    EXPECT_GE(pipelines.textGrayPipeline.textureLocation, 0);
    EXPECT_GE(pipelines.cellTextPipeline.textureLocation, 0);
    EXPECT_EQ(pipelines.cellColorPipeline.textureLocation, -1);
    EXPECT_EQ(pipelines.textPipeline.blend, BlendMode::premultiplied);
    EXPECT_EQ(pipelines.colorPipeline.blend, BlendMode::straight);
}

TEST_F(GlPipelineTest, DriverCompileErrorBecomesTheCompilationError)
{
    GlShaderLibraryProvider provider;
    auto compiled = provider.compileSource(
        QStringLiteral("//! function terminal_text_vertex\n#version 330 core\n"
                       "void main() { gl_Position = undefinedName; }\n"));
    ASSERT_TRUE(std::holds_alternative<QString>(compiled));
    EXPECT_TRUE(std::get<QString>(compiled).startsWith(QLatin1String("terminal_text_vertex: ")));
    EXPECT_TRUE(std::get<QString>(compiled).contains(QLatin1String("undefinedName")))
        << std::get<QString>(compiled).toStdString();
}

TEST_F(GlPipelineTest, LinkFailureGivesThePipelineErrorAndLogsTheDriversText)
{
    GlShaderLibraryProvider provider;
    auto source = provider.loadShaderSource();
    ASSERT_TRUE(source.has_value());
    // A fragment function whose input does not have the type its vertex function writes.
    QString broken = *source;
    broken.replace(QLatin1String("in vec4 v_color;\nout vec4 o_color;\nvoid main()\n{\n"
                                 "    o_color = v_color;"),
                   QLatin1String("in vec3 v_color;\nout vec4 o_color;\nvoid main()\n{\n"
                                 "    o_color = vec4(v_color, 1.0);"));
    ASSERT_NE(broken, *source);
    auto compiled = provider.compileSource(broken);
    ASSERT_TRUE(std::holds_alternative<ShaderLibrary>(compiled));

    QStringList logged;
    try {
        makePipelines(std::get<ShaderLibrary>(compiled),
                      [&](const QString& log) { logged << log; });
        FAIL() << "linked";
    } catch (const MetalError& error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("Failed to create Metal pipeline: text/color/cell"));
    }
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged.front().startsWith(
        QLatin1String("terminal_color_vertex + terminal_color_fragment: ")));
}

} // namespace
