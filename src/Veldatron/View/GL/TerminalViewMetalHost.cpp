#include "TerminalViewMetalHost.h"
#include "CaretView.h"
#include "GlMetalRenderer.h"
#include "MetalError.h"
#include "TerminalView.h"

#include <QScrollBar>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace veldatron {

namespace {

const MetalRecoveryClock& systemUptime() {
    static const SystemMetalRecoveryClock clock;
    return clock;
}

} // namespace

bool metalLiveResizeThrottleEnabledFor(const char* value) {
    return value == nullptr ||
           (std::strcmp(value, "0") != 0 && std::strcmp(value, "false") != 0 &&
            std::strcmp(value, "FALSE") != 0);
}

bool metalLiveResizeThrottleEnabled() {
    static const bool enabled =
        metalLiveResizeThrottleEnabledFor(std::getenv("VELDATRON_METAL_LIVE_RESIZE_THROTTLE"));
    return enabled;
}

// ---- The view's side ------------------------------------------------------------------------

void TerminalView::setUseMetal(bool enabled) {
    TerminalViewMetalHost::of(*this).setUseMetal(enabled);
}

// ---- Construction ---------------------------------------------------------------------------

TerminalViewMetalHost& TerminalViewMetalHost::of(TerminalView& view,
                                                 MetalHostEnvironment environment) {
    if (auto* host = dynamic_cast<TerminalViewMetalHost*>(view.m_metalHosting.get())) {
        return *host;
    }
    auto* host = new TerminalViewMetalHost(view, std::move(environment));
    view.m_metalHosting.reset(host);
    return *host;
}

TerminalViewMetalHost::TerminalViewMetalHost(TerminalView& view, MetalHostEnvironment environment)
    : m_view(view), m_factory(std::move(environment.factory)),
      m_uptime(environment.uptime != nullptr ? *environment.uptime : systemUptime()),
      m_log(environment.log != nullptr ? *environment.log : defaultLogSink()),
      m_liveResizeThrottle(
          environment.liveResizeThrottle.value_or(metalLiveResizeThrottleEnabled())),
      m_controller(m_uptime, m_log,
                   {[&view] { return view.metalRendererStatus(); },
                    [&view](const MetalRendererStatus& status) {
                        view.setMetalRendererStatus(status);
                    }}) {
    if (!m_factory) {
        m_factory = GlMetalRenderer::make;
    }
}

TerminalViewMetalHost::~TerminalViewMetalHost() {
    for (const QMetaObject::Connection& observer : m_metalWindowRecoveryObservers) {
        QObject::disconnect(observer);
    }
    // Nothing they still report may reach a view that is going.
    if (m_metalRenderer) {
        m_metalRenderer->frameCoordinator().invalidate();
    }
    for (const auto& renderer : m_retiredMetalRenderers) {
        renderer->frameCoordinator().invalidate();
    }
}

// ---- On and off -----------------------------------------------------------------------------

void TerminalViewMetalHost::setUseMetal(bool enabled) {
    if (enabled) {
        if (m_useMetalRenderer) {
            return;
        }
        updateMetalRenderer(true);
        m_useMetalRenderer = true;
        m_controller.turnedOn();
        return;
    }
    if (m_useMetalRenderer) {
        updateMetalRenderer(false);
        m_useMetalRenderer = false;
    }
    m_controller.turnedOff();
}

void TerminalViewMetalHost::updateMetalRenderer(bool enabled) {
    if (enabled) {
        if (m_metalView) {
            return;
        }
        std::shared_ptr<HostedMetalRenderer> renderer = m_factory(m_view, m_view.rect());
        if (!renderer || renderer->metalView() == nullptr) {
            throw MetalError::deviceUnavailable();
        }
        insertMetalView(renderer->metalView(), nullptr);
        m_metalView = renderer->metalView();
        m_metalRenderer = std::move(renderer);
        m_metalBoundWindow = hostWindow();
        updateMetalWindowRecoveryObservers();
        m_metalView->update();
        return;
    }
    const std::shared_ptr<HostedMetalRenderer> renderer = std::exchange(m_metalRenderer, nullptr);
    const QPointer<QWidget> metalView = std::exchange(m_metalView, nullptr);
    m_metalBoundWindow = nullptr;
    retireMetalRenderer(renderer);
    removeMetalView(metalView);
    restoreRasterDrawing();
}

void TerminalViewMetalHost::insertMetalView(QWidget* metalView, QWidget* replacing) {
    if (metalView->parentWidget() != &m_view) {
        metalView->setParent(&m_view);
    }
    metalView->setGeometry(replacing != nullptr ? replacing->geometry() : m_view.rect());
    // Below the caret, which it replaces: the renderer draws the cursor.
    CaretView& caret = m_view.caretView();
    metalView->stackUnder(&caret);
    caret.updateAnimation(false);
    caret.hide();
    metalView->show();
    if (QScrollBar* scroller = m_view.scroller()) {
        scroller->raise();
    }
}

void TerminalViewMetalHost::removeMetalView(QWidget* metalView) {
    // Its renderer deletes it; a retired renderer still needs it (its GL context) for the
    // frame it has on the GPU.
    if (metalView != nullptr) {
        metalView->hide();
    }
}

void TerminalViewMetalHost::restoreRasterDrawing() {
    m_view.caretView().updateCursorStyle();
    m_view.updateCursorPosition();
    m_view.update();
}

// ---- Rebuilding the renderer ----------------------------------------------------------------

bool TerminalViewMetalHost::replaceMetalRenderer(bool rebinding) {
    std::shared_ptr<HostedMetalRenderer> renderer;
    try {
        renderer = m_factory(m_view, m_metalView->geometry());
        if (!renderer || renderer->metalView() == nullptr) {
            throw MetalError::deviceUnavailable();
        }
    } catch (const MetalError& error) {
        disableMetalRendererAfterRebindFailure(error.description());
        return false;
    } catch (const std::exception& error) {
        disableMetalRendererAfterRebindFailure(QString::fromUtf8(error.what()));
        return false;
    }
    if (rebinding) {
        m_controller.recovering();
    }
    const QPointer<QWidget> oldView = m_metalView;
    std::shared_ptr<HostedMetalRenderer> old = std::move(m_metalRenderer);
    insertMetalView(renderer->metalView(), oldView);
    m_metalView = renderer->metalView();
    m_metalRenderer = std::move(renderer);
    m_metalBoundWindow = hostWindow();
    retireMetalRenderer(old);
    removeMetalView(oldView);
    old.reset();
    m_metalView->repaint();
    m_metalView->update();
    return true;
}

void TerminalViewMetalHost::rebindMetalRendererToWindow(QWidget* window) {
    if (!m_useMetalRenderer || !m_metalView) {
        return;
    }
    if (replaceMetalRenderer(true)) {
        m_metalBoundWindow = window;
    }
}

void TerminalViewMetalHost::replaceMetalRendererAfterFailure() {
    if (!m_metalView) {
        disableMetalRendererAfterRebindFailure(MetalError::deviceUnavailable().description());
        return;
    }
    replaceMetalRenderer(false);
}

void TerminalViewMetalHost::disableMetalRendererAfterRebindFailure(const QString& description) {
    const std::shared_ptr<HostedMetalRenderer> renderer = std::exchange(m_metalRenderer, nullptr);
    const QPointer<QWidget> metalView = std::exchange(m_metalView, nullptr);
    m_metalBoundWindow = nullptr;
    m_useMetalRenderer = false;
    retireMetalRenderer(renderer);
    removeMetalView(metalView);
    restoreRasterDrawing();
    m_controller.fellBack(description);
}

void TerminalViewMetalHost::retireMetalRenderer(
    const std::shared_ptr<HostedMetalRenderer>& renderer) {
    if (!renderer) {
        return;
    }
    MetalFrameCoordinator& coordinator = renderer->frameCoordinator();
    coordinator.invalidate();
    renderer->invalidateCursorBlinkTimer();
    if (!coordinator.activeFrame()) {
        return;
    }
    if (std::find(m_retiredMetalRenderers.begin(), m_retiredMetalRenderers.end(), renderer) ==
        m_retiredMetalRenderers.end()) {
        m_retiredMetalRenderers.push_back(renderer);
    }
}

// ---- Reports of the renderers ---------------------------------------------------------------

void TerminalViewMetalHost::metalRenderer(HostedMetalRenderer* renderer,
                                          std::chrono::system_clock::time_point presentedAt) {
    if (renderer == nullptr || renderer != m_metalRenderer.get() || !m_useMetalRenderer) {
        return;
    }
    m_controller.presented(presentedAt);
}

void TerminalViewMetalHost::metalRenderer(HostedMetalRenderer* renderer,
                                          const MetalRendererRecoveryReport& report) {
    if (renderer == nullptr || renderer != m_metalRenderer.get() || !m_useMetalRenderer) {
        return;
    }
    if (m_controller.recoveryRequested(report) == MetalRecoveryController::Action::fallBack) {
        disableMetalRendererAfterRebindFailure(
            MetalError::commandQueueUnavailable().description());
    } else {
        replaceMetalRendererAfterFailure();
    }
}

void TerminalViewMetalHost::metalRendererBecameIdle(HostedMetalRenderer* renderer) {
    std::erase_if(m_retiredMetalRenderers,
                  [renderer](const auto& retired) { return retired.get() == renderer; });
}

// ---- The view's events ----------------------------------------------------------------------

void TerminalViewMetalHost::setMetalViewNeedsDisplay() {
    if (m_metalView) {
        m_metalView->update();
    }
}

void TerminalViewMetalHost::drawMetalViewNow() {
    if (m_metalView) {
        m_metalView->repaint();
    }
}

void TerminalViewMetalHost::viewResized() {
    if (!m_metalView) {
        return;
    }
    m_metalView->setGeometry(m_view.rect());
    if (!m_useMetalRenderer) {
        return;
    }
    // X11 has no live-resize phase: with the throttle every resize goes through the coalesced
    // display, so a drag that resizes the window draws at most one frame per 17 ms.
    if (m_liveResizeThrottle) {
        m_view.queueMetalDisplay();
    } else {
        m_metalView->update();
    }
}

QWidget* TerminalViewMetalHost::hostWindow() const {
    QWidget* top = m_view.window();
    return top == &m_view && !m_view.isVisible() ? nullptr : top;
}

void TerminalViewMetalHost::viewWindowMayHaveChanged() {
    updateMetalWindowRecoveryObservers();
    QWidget* window = hostWindow();
    if (!m_useMetalRenderer || !m_metalView || window == nullptr) {
        return;
    }
    if (window != m_metalBoundWindow) {
        rebindMetalRendererToWindow(window);
    }
    setMetalViewNeedsDisplay();
}

void TerminalViewMetalHost::updateMetalWindowRecoveryObservers() {
    QWidget* window = m_view.window();
    if (window == m_observedWindow && !m_metalWindowRecoveryObservers.empty()) {
        return;
    }
    for (const QMetaObject::Connection& observer : m_metalWindowRecoveryObservers) {
        QObject::disconnect(observer);
    }
    m_metalWindowRecoveryObservers.clear();
    m_observedWindow = window;
    QWindow* handle = window->windowHandle();
    if (handle == nullptr) {
        return; // not shown yet: the first show observes it
    }
    // The window's own state settles after its signal; look once the event loop has run.
    const auto redrawIfEligible = [this] {
        QMetaObject::invokeMethod(
            &m_view,
            [this] {
                if (m_view.isMetalRendererEligibleForRetry()) {
                    setMetalViewNeedsDisplay();
                }
            },
            Qt::QueuedConnection);
    };
    m_metalWindowRecoveryObservers.push_back(
        QObject::connect(handle, &QWindow::visibilityChanged, &m_view, redrawIfEligible));
    m_metalWindowRecoveryObservers.push_back(
        QObject::connect(handle, &QWindow::windowStateChanged, &m_view, redrawIfEligible));
}

} // namespace veldatron
