#include "GlMetalRenderer.h"
#include "MetalError.h"
#include "TerminalView.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

namespace veldatron {

namespace {

QSurfaceFormat coreFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setOption(QSurfaceFormat::ResetNotification);
    return format;
}

// Whether GL widgets can be composited into windows of the platform. Qt answers this only
// through private API; the platforms without it (offscreen, minimal, vnc, linuxfb) crash in
// the first flush of a window holding one, so the known ones are listed.
bool platformHostsGlWidgets() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")) ||
           platform.startsWith(QLatin1String("eglfs"));
}

} // namespace

// ---- The widget -----------------------------------------------------------------------------

MetalView::MetalView(QWidget* parent) : QOpenGLWidget(parent) {
    setObjectName(QStringLiteral("metalView"));
    setFormat(coreFormat());
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // Every frame clears and draws the whole target.
    setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (m_hooks.presented) {
            m_hooks.presented();
        }
    });
}

void MetalView::initializeGL() {
    // A new context (the first, or after a move to another window): the objects of the old one
    // were released when it went.
    connect(
        context(), &QOpenGLContext::aboutToBeDestroyed, this,
        [this] {
            makeCurrent();
            if (m_hooks.contextEnding) {
                m_hooks.contextEnding();
            }
            doneCurrent();
        },
        Qt::DirectConnection);
}

void MetalView::paintGL() {
    if (m_hooks.paint) {
        m_hooks.paint();
    }
}

// ---- The hosted renderer --------------------------------------------------------------------

GlMetalRenderer::GlMetalRenderer(TerminalView& view)
    : m_terminalView(&view), m_scheduler(view.executor()), m_host(view) {}

std::shared_ptr<HostedMetalRenderer> GlMetalRenderer::make(TerminalView& view, const QRect& frame) {
    QOpenGLContext* shared = QOpenGLContext::globalShareContext();
    if (shared == nullptr || !platformHostsGlWidgets()) {
        throw MetalError::deviceUnavailable();
    }
    std::shared_ptr<GlMetalRenderer> hosted(new GlMetalRenderer(view));
    hosted->m_surface = std::make_unique<QOffscreenSurface>();
    hosted->m_surface->setFormat(coreFormat());
    hosted->m_surface->create();
    hosted->m_context = std::make_unique<QOpenGLContext>();
    hosted->m_context->setFormat(coreFormat());
    hosted->m_context->setShareContext(shared);
    if (!hosted->m_surface->isValid() || !hosted->m_context->create() ||
        !QOpenGLContext::areSharing(hosted->m_context.get(), shared)) {
        throw MetalError::deviceUnavailable();
    }
    if (!hosted->m_context->makeCurrent(hosted->m_surface.get())) {
        throw MetalError::commandQueueUnavailable();
    }
    try {
        hosted->m_renderer = MetalTerminalRenderer::create(hosted->m_host, *hosted->m_context,
                                                           hosted->m_clock, hosted->m_scheduler);
    } catch (...) {
        hosted->m_context->doneCurrent();
        throw;
    }
    hosted->m_context->doneCurrent();
    hosted->connectView(frame);
    return hosted;
}

void GlMetalRenderer::connectView(const QRect& frame) {
    m_view = new MetalView(m_terminalView);
    m_view->setGeometry(frame);
    m_view->hide();
    MetalView* view = m_view;
    m_view->setHooks({[this] { paint(); },
                      [this] {
                          if (m_backend) {
                              m_backend->drawablePresented();
                          }
                      },
                      [this] { releaseWidgetObjects(); }});

    MetalTerminalRenderer::ViewCallbacks callbacks;
    callbacks.didPresent = [this] {
        const auto at = std::chrono::system_clock::now();
        report([at](TerminalViewMetalHost& host, HostedMetalRenderer* self) {
            host.metalRenderer(self, at);
        });
    };
    callbacks.requiresRecovery = [this](const MetalRendererRecoveryReport& recoveryReport) {
        report([recoveryReport](TerminalViewMetalHost& host, HostedMetalRenderer* self) {
            host.metalRenderer(self, recoveryReport);
        });
    };
    callbacks.becameIdle = [this] {
        report([](TerminalViewMetalHost& host, HostedMetalRenderer* self) {
            host.metalRendererBecameIdle(self);
        });
    };
    callbacks.setNeedsDisplay = [view = QPointer<MetalView>(view)] {
        if (view) {
            view->update();
        }
    };
    m_renderer->setViewCallbacks(std::move(callbacks));
}

void GlMetalRenderer::report(
    std::function<void(TerminalViewMetalHost&, HostedMetalRenderer*)> action) {
    if (!m_terminalView) {
        return;
    }
    QMetaObject::invokeMethod(
        m_terminalView.data(),
        [view = m_terminalView, weak = weak_from_this(), action = std::move(action)] {
            const std::shared_ptr<GlMetalRenderer> self = weak.lock();
            auto* host =
                view ? dynamic_cast<TerminalViewMetalHost*>(view->metalHosting()) : nullptr;
            if (self && host != nullptr) {
                action(*host, self.get());
            }
        },
        Qt::QueuedConnection);
}

void GlMetalRenderer::paint() {
    if (!m_backend) {
        GlFrameBackend::Target target;
        const QPointer<MetalView> view = m_view;
        target.framebuffer = [view]() -> unsigned {
            return view ? view->defaultFramebufferObject() : 0;
        };
        target.makeCurrent = [view] {
            if (!view || view->context() == nullptr) {
                return false;
            }
            view->makeCurrent();
            return QOpenGLContext::currentContext() == view->context();
        };
        target.setNeedsDisplay = [view] {
            if (view) {
                view->update();
            }
        };
        target.presentsOnSwap = true;
        m_backend = std::make_unique<GlFrameBackend>(*m_renderer->glDevice(),
                                                     *m_renderer->pipelines(),
                                                     m_renderer->sampler(), std::move(target));
    }
    m_renderer->draw(*m_backend);
}

void GlMetalRenderer::releaseWidgetObjects() {
    if (m_backend) {
        m_backend->releaseGlObjects();
        m_backend.reset();
    }
}

GlMetalRenderer::~GlMetalRenderer() {
    if (m_view) {
        m_view->setHooks({});
        if (m_view->context() != nullptr && m_backend) {
            m_view->makeCurrent();
            releaseWidgetObjects();
            m_view->doneCurrent();
        }
        m_view->hide();
        m_view->deleteLater();
    }
    m_backend.reset();
    // The renderer's GL objects go with its own context current.
    const bool current = m_context && m_surface && m_context->makeCurrent(m_surface.get());
    m_renderer.reset();
    if (current) {
        m_context->doneCurrent();
    }
}

} // namespace veldatron
