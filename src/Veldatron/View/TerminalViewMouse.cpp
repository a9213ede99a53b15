// The pointer: the cell under a point, mouse reports to the program (which events, with which
// button code), the scroll wheel, and whether the view wants pointer motion at all. What the
// view does with an event it keeps for itself (selection, prompt clicks, links) is in
// TerminalViewSelection.cpp and TerminalViewLinks.cpp.

#include "EscapeSequences.h"
#include "SelectionService.h"
#include "TerminalView.h"
#include "TerminalViewDelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace veldatron {

namespace {

// A quotient as a cell index: truncated toward zero, and within int whatever the point.
int64_t cellIndex(double value, double cell) {
    const double quotient = std::trunc(value / cell);
    if (!(quotient == quotient)) {
        return 0;
    }
    return int64_t(std::clamp(quotient, -1e9, 1e9));
}

} // namespace

// ---- Hit testing ----------------------------------------------------------------------------

TerminalView::MouseHit TerminalView::calculateMouseHit(const QPointF& point) {
    const Buffer& buffer = m_terminal->buffer();
    const double w = m_cellDimension.width();
    const double h = m_cellDimension.height();
    const int64_t lines = buffer.lines().count();
    const int cols = m_terminal->cols();

    const int64_t r = cellIndex(point.y(), h) + buffer.yDisp();
    const int64_t row = std::min(std::max<int64_t>(0, lines - 1), std::max<int64_t>(0, r));
    int64_t col = std::min<int64_t>(cols - 1, std::max<int64_t>(0, cellIndex(point.x(), w)));

    // On a row drawn right to left the point names a visual column; the cell is the logical one
    // drawn there.
    if (row < lines) {
        if (const std::shared_ptr<const BidiRowLayout> layout = bidiRowLayout(int(row), cols)) {
            if (col < int64_t(layout->visualToLogicalCol.size())) {
                col = layout->visualToLogicalCol[size_t(col)];
            }
        }
    }

    // Pixel reports count in the same pixels as the cell size the program was told.
    const double scale = windowBackingScale();
    const double px = std::clamp(point.x(), 0.0, double(width())) * scale;
    const double py = std::clamp(point.y(), 0.0, double(height())) * scale;
    return {Position{col, row}, Position{int64_t(px), int64_t(py)}};
}

// ---- Reports --------------------------------------------------------------------------------

int TerminalView::encodeMouseEvent(Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                                   bool release) const {
    // The terminal numbers the buttons as X does: 1 middle, 2 right, anything else the primary.
    const int number = button == Qt::MiddleButton ? 1 : button == Qt::RightButton ? 2 : 0;
    return m_terminal->encodeButton(number, release, modifiers.testFlag(Qt::ShiftModifier),
                                    modifiers.testFlag(Qt::AltModifier),
                                    modifiers.testFlag(Qt::ControlModifier));
}

bool TerminalView::reportsMouse(Qt::KeyboardModifiers modifiers, MouseEventKind kind) const {
    // Shift keeps the mouse for the user unless the program captured Shift too (XTSHIFTESCAPE).
    if (!m_allowMouseReporting ||
        (modifiers.testFlag(Qt::ShiftModifier) && !m_terminal->mouseShiftCapture())) {
        return false;
    }
    const Terminal::MouseMode mode = m_terminal->mouseMode();
    switch (kind) {
    case MouseEventKind::press:
    case MouseEventKind::wheel:
        return mode != Terminal::MouseMode::off;
    case MouseEventKind::release:
        // X10 mode reports presses only.
        return mode != Terminal::MouseMode::off && mode != Terminal::MouseMode::x10;
    case MouseEventKind::drag:
        return mode == Terminal::MouseMode::buttonEventTracking ||
               mode == Terminal::MouseMode::anyEvent;
    }
    return false;
}

void TerminalView::sendMouseReport(int buttonFlags, const QPointF& point, bool motion) {
    const MouseHit hit = calculateMouseHit(point);
    const Buffer& buffer = m_terminal->buffer();
    const int x = int(hit.grid.col);
    const int y =
        int(std::clamp<int64_t>(hit.grid.row - buffer.yDisp(), 0, std::max(0, buffer.rows() - 1)));
    if (motion) {
        m_terminal->sendMotion(buttonFlags, x, y, int(hit.pixels.col), int(hit.pixels.row));
    } else {
        m_terminal->sendEvent(buttonFlags, x, y, int(hit.pixels.col), int(hit.pixels.row));
    }
}

// ---- Buttons --------------------------------------------------------------------------------

void TerminalView::mousePressEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton) {
        primaryPress(event);
        return;
    }
    if (button != Qt::MiddleButton && button != Qt::RightButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressedButton = button;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (reportsMouse(modifiers, MouseEventKind::press)) {
        sendMouseReport(encodeMouseEvent(button, modifiers, false), event->position(), false);
    } else if (button == Qt::MiddleButton) {
        pastePrimarySelection();
    }
}

void TerminalView::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt turns the second press of a double click into this event; the view counts clicks
    // itself (triple clicks too), so it is a press like any other.
    mousePressEvent(event);
}

void TerminalView::mouseReleaseEvent(QMouseEvent* event) {
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton) {
        primaryRelease(event);
        return;
    }
    if (button != Qt::MiddleButton && button != Qt::RightButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_pressedButton = Qt::NoButton;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (reportsMouse(modifiers, MouseEventKind::release)) {
        sendMouseReport(encodeMouseEvent(button, modifiers, true), event->position(), false);
    }
}

void TerminalView::primaryPress(QMouseEvent* event) {
    m_pendingSemanticClick.cancel();
    m_pendingSemanticClick = {};
    m_didSelectionDrag = false;
    m_pressCell.reset();
    m_pressedButton = Qt::LeftButton;
    const int clickCount = nextClickCount(event->position());
    // Taken before the reporting decision: a reported press leaves a snapshot that no prompt
    // click can use.
    m_pointerPressSnapshot = {m_selection->active(), false, clickCount, false};

    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (reportsMouse(modifiers, MouseEventKind::press)) {
        sendMouseReport(encodeMouseEvent(Qt::LeftButton, modifiers, false), event->position(),
                        false);
        return;
    }
    m_pointerPressSnapshot.pressWasSemanticEligible = true;
    const Position at = calculateMouseHit(event->position()).grid;
    m_pressCell = at;
    selectionPress(at, clickCount, modifiers.testFlag(Qt::ShiftModifier));
}

int TerminalView::nextClickCount(const QPointF& point) {
    const uint64_t now = m_uptimeNs();
    const uint64_t interval = uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_multiClickInterval).count());
    const double slop = QApplication::startDragDistance();
    const bool continues = m_clickCount > 0 && now >= m_lastPressNs &&
                           now - m_lastPressNs <= interval &&
                           (point - m_lastPressPoint).manhattanLength() <= slop;
    m_clickCount = continues ? m_clickCount + 1 : 1;
    m_lastPressNs = now;
    m_lastPressPoint = point;
    return m_clickCount;
}

void TerminalView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton || m_pressedButton == Qt::NoButton) {
        pointerMoved(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (reportsMouse(modifiers, MouseEventKind::drag)) {
        sendMouseReport(encodeMouseEvent(m_pressedButton, modifiers, false), event->position(),
                        true);
        return;
    }
    // The program takes clicks but not drags: a drag is neither reported nor a selection.
    if (reportsMouse(modifiers, MouseEventKind::press)) {
        return;
    }
    if (m_pressedButton == Qt::LeftButton) {
        primaryDrag(event);
    }
}

void TerminalView::pointerMoved(QMouseEvent* event) {
    const Position at = calculateMouseHit(event->position()).grid;
    if (m_commandActive) {
        if (const std::optional<QString> payload = payloadString(at)) {
            previewUrl(*payload);
        }
        reportLink(at);
    }
    updateHoverLink(at, std::nullopt);
    if (m_allowMouseReporting && m_terminal->mouseMode() == Terminal::MouseMode::anyEvent) {
        // Motion without a button is the release code with the motion bit (35).
        sendMouseReport(encodeMouseEvent(Qt::NoButton, event->modifiers(), true), event->position(),
                        true);
    }
}

// ---- Wheel ----------------------------------------------------------------------------------

void TerminalView::wheelEvent(QWheelEvent* event) {
    event->accept();
    // Touchpads give pixels; wheels give notches of 120, each worth the system's lines per notch.
    const bool precise = !event->pixelDelta().isNull();
    const double delta =
        precise ? double(event->pixelDelta().y())
                : event->angleDelta().y() / 120.0 * std::max(1, QApplication::wheelScrollLines());
    const double h = m_cellDimension.height();
    if (delta == 0 || !(h > 0)) {
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool reporting = reportsMouse(modifiers, MouseEventKind::wheel);
    const bool alternate = m_terminal->isCurrentBufferAlternate();
    if (!reporting && alternate && !m_terminal->alternateScrollMode()) {
        m_scrollAccumulator = 0;
        return;
    }

    int64_t lines = 0;
    if (precise) {
        const double total = delta * m_scrollSensitivity + m_scrollAccumulator;
        lines = int64_t(std::clamp(std::trunc(total / h), -1e6, 1e6));
        m_scrollAccumulator = total - double(lines) * h;
        if (lines == 0) {
            return;
        }
    } else {
        m_scrollAccumulator = 0;
        lines = int64_t(std::clamp(std::round(delta * m_scrollSensitivity), -1e6, 1e6));
        if (lines == 0) {
            lines = delta > 0 ? 1 : -1;
        }
    }
    const bool up = lines > 0;
    const int count = int(std::abs(lines));

    if (reporting) {
        const int flags = m_terminal->encodeButton(
            up ? 4 : 5, false, modifiers.testFlag(Qt::ShiftModifier),
            modifiers.testFlag(Qt::AltModifier), modifiers.testFlag(Qt::ControlModifier));
        for (int i = 0; i < count; ++i) {
            sendMouseReport(flags, event->position(), false);
        }
        return;
    }
    if (!alternate) {
        if (up) {
            scrollTo(std::max(0, m_terminal->buffer().yDisp() - count), true);
        } else {
            scrollDown(count);
        }
        return;
    }
    // Alternate scroll: programs on the alternate screen scroll by cursor keys.
    const bool app = m_terminal->applicationCursor();
    const std::span<const uint8_t> key =
        up ? std::span<const uint8_t>(app ? EscapeSequences::moveUpApp
                                          : EscapeSequences::moveUpNormal)
           : std::span<const uint8_t>(app ? EscapeSequences::moveDownApp
                                          : EscapeSequences::moveDownNormal);
    for (int i = 0; i < count; ++i) {
        send(key);
    }
}

// ---- Pointer motion -------------------------------------------------------------------------

bool TerminalView::wantsPointerMotion() const {
    return m_terminal->mouseMode() == Terminal::MouseMode::anyEvent || m_commandActive ||
           m_linkHighlightMode == LinkHighlightMode::hover;
}

void TerminalView::startTracking() {
    setMouseTracking(true);
}

void TerminalView::deregisterTrackingInterest() {
    if (!wantsPointerMotion()) {
        setMouseTracking(false);
    }
}

void TerminalView::mouseModeChanged(Terminal&) {
    // The terminal sets its modes while it is being made, before the view holds it.
    if (!m_terminal) {
        return;
    }
    if (wantsPointerMotion()) {
        startTracking();
    } else {
        deregisterTrackingInterest();
    }
}

} // namespace veldatron
