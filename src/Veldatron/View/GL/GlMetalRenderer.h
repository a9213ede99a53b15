#pragma once

#include "GlFrameBackend.h"
#include "MetalTerminalRenderer.h"
#include "TerminalViewMetalHost.h"
#include "TerminalViewRendererHost.h"

#include <QOpenGLWidget>
#include <QPointer>

#include <functional>
#include <memory>

class QOffscreenSurface;
class QOpenGLContext;

namespace veldatron {

class TerminalView;

/// The GPU view: a GL widget over the terminal view that draws only when asked (update), into
/// its own framebuffer, with the renderer's frame loop. Mouse events pass through to the view
/// beneath. Its context shares objects with the renderer's (the application's shared group).
class MetalView final : public QOpenGLWidget {
public:
    struct Hooks {
        std::function<void()> paint;
        std::function<void()> presented;
        // The widget's context is about to go (current): its own GL objects must go first.
        std::function<void()> contextEnding;
    };

    explicit MetalView(QWidget* parent);
    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeGL(int, int) override {}

private:
    Hooks m_hooks;
};

/// A GPU renderer as the view hosts it: the renderer, its own GL context (made at once on an
/// offscreen surface, so that set-up errors reach setUseMetal), and the GL widget it draws into.
/// What the renderer reports reaches the view's hosting on the event loop, never from inside the
/// renderer, which the report may end.
class GlMetalRenderer final : public HostedMetalRenderer,
                              public std::enable_shared_from_this<GlMetalRenderer> {
public:
    /// The factory of the view's hosting. Throws MetalError: deviceUnavailable on a platform
    /// without GL widgets (offscreen) or without a GL 3.3 core context in the application's
    /// shared group (Qt::AA_ShareOpenGLContexts must be set before the application object is
    /// made), commandQueueUnavailable when it cannot be made current, else what the renderer's
    /// set-up throws.
    static std::shared_ptr<HostedMetalRenderer> make(TerminalView& view, const QRect& frame);

    ~GlMetalRenderer() override;

    QWidget* metalView() const override { return m_view; }
    MetalFrameCoordinator& frameCoordinator() override { return m_renderer->frameCoordinator(); }
    void invalidateCursorBlinkTimer() override { m_renderer->stopCursorBlinkTimer(); }
    MetalTerminalRenderer& renderer() { return *m_renderer; }

private:
    explicit GlMetalRenderer(TerminalView& view);
    void connectView(const QRect& frame);
    void paint();
    void releaseWidgetObjects();
    // Runs `action` with the view's hosting on the event loop, if this renderer still exists.
    void report(std::function<void(TerminalViewMetalHost&, HostedMetalRenderer*)> action);

    QPointer<TerminalView> m_terminalView;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    SystemMetalRecoveryClock m_clock;
    DispatchMetalRecoveryScheduler m_scheduler;
    TerminalViewRendererHost m_host;
    std::unique_ptr<MetalTerminalRenderer> m_renderer;
    QPointer<MetalView> m_view;
    std::unique_ptr<GlFrameBackend> m_backend; // of the widget's current context
};

} // namespace veldatron
