#pragma once

// A GL 3.3 core context on an offscreen surface, for tests that need the real driver (Mesa's
// software renderer under Xvfb in CI):
//
//   auto gl = GlTestContext::make();
//   if (!gl) GTEST_SKIP() << GlTestContext::whyUnavailable();
//   gl->functions()->glClear(...);
//
// The context is current from make() until the object is destroyed.

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QSurfaceFormat>

#include <memory>
#include <string>

namespace veldatron::testing {

class GlTestContext {
public:
    static std::unique_ptr<GlTestContext> make()
    {
        auto gl = std::unique_ptr<GlTestContext>(new GlTestContext);
        QSurfaceFormat format;
        format.setRenderableType(QSurfaceFormat::OpenGL);
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        gl->m_surface.setFormat(format);
        gl->m_surface.create();
        gl->m_context.setFormat(format);
        if (!gl->m_surface.isValid() || !gl->m_context.create()
            || !gl->m_context.makeCurrent(&gl->m_surface))
            return nullptr;
        const QSurfaceFormat made = gl->m_context.format();
        if (made.version() < qMakePair(3, 3) || made.profile() != QSurfaceFormat::CoreProfile)
            return nullptr;
        gl->m_functions = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(&gl->m_context);
        if (!gl->m_functions || !gl->m_functions->initializeOpenGLFunctions())
            return nullptr;
        return gl;
    }

    static std::string whyUnavailable()
    {
        return "no OpenGL 3.3 core context can be made here (run under xvfb-run)";
    }

    ~GlTestContext() { m_context.doneCurrent(); }

    QOpenGLContext& context() { return m_context; }
    QOffscreenSurface& surface() { return m_surface; }
    QOpenGLFunctions_3_3_Core* functions() { return m_functions; }

private:
    GlTestContext() = default;

    QOffscreenSurface m_surface;
    QOpenGLContext m_context;
    QOpenGLFunctions_3_3_Core* m_functions = nullptr;
};

} // namespace veldatron::testing
