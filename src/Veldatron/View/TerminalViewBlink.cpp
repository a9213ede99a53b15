// Blinking text (SGR 5): cells with the blink attribute are drawn only while the blink phase is
// visible. A 0.7 s timer flips the phase and redraws only the rows that hold such cells. It runs
// only while something blinks in view, the view is shown, the application is active and the
// user has not asked for less motion; otherwise the phase stays visible and blinking text is
// shown steadily. Every display pass, showing or hiding the view, a change of the
// application's state and of the motion setting look at it again.

#include "TerminalView.h"
#include "TerminalViewMetalHosting.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

#include <utility>

namespace veldatron {

namespace {

constexpr std::chrono::milliseconds textBlinkInterval{700};

} // namespace

bool TerminalView::isInShownWindow() const {
    return isVisible() && window()->windowHandle() != nullptr;
}

std::vector<int> TerminalView::visibleBlinkRows() const {
    std::vector<int> rows;
    const Buffer& buffer = std::as_const(*m_terminal).buffer();
    const int count = buffer.lines().count();
    const int cols = m_terminal->cols();
    const int last = std::min(buffer.yDisp() + m_terminal->rows(), count);
    for (int row = std::max(0, buffer.yDisp()); row < last; ++row) {
        const BufferLine& line = buffer.lines().row(row);
        // A column beyond the stored cells reads the line's last cell.
        for (int col = 0; col < cols; ++col) {
            if (line[col].attribute().style().contains(CharacterStyle::blink)) {
                rows.push_back(row);
                break;
            }
        }
    }
    return rows;
}

void TerminalView::updateTextBlinkLifecycle() {
    if (!m_executor->isCurrent()) {
        QPointer<TerminalView> self(this);
        m_executor->post([self] {
            if (self) {
                self->updateTextBlinkLifecycle();
            }
        });
        return;
    }
    const std::vector<int> rows = visibleBlinkRows();
    const bool wanted =
        isInShownWindow() && m_textBlinkApplicationActive && !m_reduceMotion && !rows.empty();
    if (wanted) {
        if (m_textBlinkTimer.isPending()) {
            return;
        }
        m_textBlinkVisible = true;
        scheduleTextBlinkTick();
        return;
    }
    m_textBlinkTimer.cancel();
    m_textBlinkTimer = TaskHandle();
    if (m_textBlinkVisible) {
        return;
    }
    // Text that the last flip left hidden comes back.
    m_textBlinkVisible = true;
    markBlinkLinesDirty(rows);
    queuePendingDisplay();
}

void TerminalView::scheduleTextBlinkTick() {
    QPointer<TerminalView> self(this);
    m_textBlinkTimer = m_executor->postAfter(textBlinkInterval, [self] {
        if (self) {
            self->textBlinkTick();
        }
    });
}

void TerminalView::textBlinkTick() {
    scheduleTextBlinkTick();
    m_textBlinkVisible = !m_textBlinkVisible;
    markBlinkLinesDirty(visibleBlinkRows());
    queuePendingDisplay();
}

void TerminalView::markBlinkLinesDirty(const std::vector<int>& rows) {
    // A buffer line r is viewport row r - yDisp: exactly what updateRange marks.
    const int yDisp = m_terminal->buffer().yDisp();
    for (int row : rows) {
        m_terminal->updateRange(row - yDisp, false);
    }
}

void TerminalView::setReduceMotion(bool on) {
    m_reduceMotion = on;
    updateTextBlinkLifecycle();
}

void TerminalView::stopTextBlinking() {
    m_textBlinkTimer.cancel();
    m_textBlinkTimer = TaskHandle();
    m_textBlinkVisible = true;
}

void TerminalView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateTextBlinkLifecycle();
    if (m_metalHosting) {
        m_metalHosting->viewWindowMayHaveChanged();
    }
}

void TerminalView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateTextBlinkLifecycle();
}

} // namespace veldatron
