#include "TerminalView.h"
#include "TerminalViewMetalHosting.h"

#include <QPointer>
#include <QThread>
#include <QWindow>

// The view's half of GPU drawing: the status it publishes, the coalesced GPU redraw and the
// conditions for retrying failed frames. Turning GPU drawing on and off, and recovering from
// failed frames, is the GPU renderer library's half (TerminalViewMetalHost).

namespace veldatron {

bool TerminalView::isUsingMetalRenderer() const {
    return m_metalHosting && m_metalHosting->useMetalRenderer();
}

bool TerminalView::hasMetalView() const {
    return m_metalHosting && m_metalHosting->hasMetalView();
}

void TerminalView::setMetalRendererStatus(const MetalRendererStatus& status) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, status] { setMetalRendererStatus(status); }, Qt::QueuedConnection);
        return;
    }
    m_metalRendererStatus = status;
    Q_EMIT metalRendererStatusChanged(status);
}

void TerminalView::setMetalScaleFactorOverride(std::optional<double> scale) {
    const bool changed = scale != m_metalScaleFactorOverride;
    m_metalScaleFactorOverride = scale;
    if (changed && isUsingMetalRenderer() && hasMetalView()) {
        m_metalHosting->setMetalViewNeedsDisplay();
    }
}

void TerminalView::drawMetalFrameNow() {
    if (isUsingMetalRenderer() && hasMetalView()) {
        m_metalHosting->drawMetalViewNow();
    }
}

bool TerminalView::isMetalRendererEligibleForRetry() const {
    if (!isUsingMetalRenderer() || !hasMetalView()) {
        return false;
    }
    // X11 tells no occlusion; a window that is not exposed is the nearest to a covered one.
    const QWidget* top = window();
    const QWindow* handle = top->windowHandle();
    if (!top->isVisible() || top->isMinimized() || handle == nullptr || !handle->isExposed()) {
        return false;
    }
    // isVisible: neither the view nor an ancestor is hidden.
    return isVisible() && width() > 0 && height() > 0;
}

void TerminalView::queueMetalDisplay() {
    if (!hasMetalView() || m_pendingMetalDisplay) {
        return;
    }
    m_pendingMetalDisplay = true;
    m_executor->postAfter(displayCoalescingDelay, [view = QPointer<TerminalView>(this)] {
        if (view.isNull()) {
            return;
        }
        view->m_pendingMetalDisplay = false;
        if (view->m_metalHosting && view->hasMetalView()) {
            view->m_metalHosting->setMetalViewNeedsDisplay();
        }
    });
}

std::optional<std::pair<int, int>> TerminalView::takeMetalDirtyRange() {
    return std::exchange(m_metalDirtyRange, std::nullopt);
}

bool TerminalView::noteRenderedCursor() {
    const Buffer& buffer = m_terminal->buffer();
    const RenderedCursor cursor{buffer.x(), buffer.yBase() + buffer.y(),
                                m_terminal->isCursorHidden()};
    const bool changed = m_lastRenderedCursor != cursor;
    m_lastRenderedCursor = cursor;
    return changed;
}

} // namespace veldatron
