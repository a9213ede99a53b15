// The caret's place, style, colours and focus.

#include "CaretView.h"
#include "TerminalView.h"
#include "TerminalViewMetalHosting.h"

#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QWindow>

namespace veldatron {

// ---- Place ----------------------------------------------------------------------------------

void TerminalView::updateCursorPosition() {
    if (m_caretView == nullptr) {
        return;
    }
    const Terminal& terminal = *m_terminal;
    const Buffer& buffer = terminal.buffer();
    const int row = buffer.y() + buffer.yBase();
    // Below the viewport (the user scrolled back far enough): no caret.
    if (row >= buffer.yDisp() + terminal.rows() || row >= buffer.lines().count()) {
        m_caretView->hide();
        m_caretFrame = QRectF();
        return;
    }
    const bool hidden = terminal.isCursorHidden();
    // The GPU renderer draws its own cursor.
    m_caretView->setVisible(!hidden && !hasMetalView());

    const BufferLine& line = buffer.lines().row(row);
    const int scale = line.renderMode() == BufferLine::RenderLineMode::single ? 1 : 2;
    // Half of a broken wide character is a blank cell under the caret too, as in the row.
    const CharData cell = drawnCell(line, std::min(buffer.x(), line.count() - 1), terminal.cols());
    const int glyphWidth = cell.width() >= 2 ? cell.width() : 1;
    // In a laid-out row the cursor's cell is drawn at its visual column.
    const int column = visualColumn(row, buffer.x());
    const double w = m_cellDimension.width();
    const double h = m_cellDimension.height();
    const QRectF frame(scale * w * column, h * (row - buffer.yDisp()), scale * w * glyphWidth, h);
    m_caretView->setFrame(frame);
    m_caretView->setText(cell);
    m_caretFrame = hidden ? QRectF() : frame;
    if (QWidget::hasFocus()) {
        QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
    }
}

// ---- Visibility and style -------------------------------------------------------------------

void TerminalView::showCursor(Terminal&) {
    if (isUsingMetalRenderer()) {
        queueMetalDisplay();
        return;
    }
    m_caretView->show();
}

void TerminalView::hideCursor(Terminal&) {
    if (isUsingMetalRenderer()) {
        queueMetalDisplay();
        return;
    }
    m_caretView->hide();
}

void TerminalView::cursorStyleChanged(Terminal&, CursorStyle newStyle) {
    m_caretView->setStyle(newStyle);
    m_caretView->updateCursorStyle();
    // One cell until the next display pass measures the character under the cursor.
    const QRectF frame = m_caretView->frame();
    m_caretView->setFrame(QRectF(frame.topLeft(), m_cellDimension));
    m_caretView->updateCursorStyle();
    queueMetalDisplay();
}

// ---- Focus ----------------------------------------------------------------------------------

bool TerminalView::terminalHasFocus() const {
    const QWidget* top = window();
    return m_hasFocus && (top->windowHandle() == nullptr || top->isActiveWindow());
}

void TerminalView::setTerminalHasFocus(bool focused) {
    m_hasFocus = focused;
    m_caretView->setFocused(focused);
    m_caretView->updateCursorStyle();
    queueMetalDisplay();
}

bool TerminalView::caretViewTracksFocus() const {
    return m_caretView->tracksFocus();
}

void TerminalView::setCaretViewTracksFocus(bool on) {
    m_caretView->setTracksFocus(on);
    m_caretView->updateCursorStyle();
}

void TerminalView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // The window coming back to the front is not a focus change of the view; only its first
    // focus-in, which comes that way when the view is the window's first focus, is one.
    if (event->reason() == Qt::ActiveWindowFocusReason && m_hasFocus) {
        m_caretView->updateCursorStyle();
        return;
    }
    setTerminalHasFocus(true);
    // CSI I when the program asked for focus reports.
    m_terminal->setTerminalFocus(true);
}

void TerminalView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    // The window going to the back: the caret shows it, the view keeps the focus.
    if (event->reason() == Qt::ActiveWindowFocusReason) {
        m_caretView->updateCursorStyle();
        return;
    }
    setTerminalHasFocus(false);
    m_terminal->setTerminalFocus(false);
}

void TerminalView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        m_caretView->updateCursorStyle();
        queueMetalDisplay();
    }
    if (event->type() == QEvent::ParentChange && m_metalHosting) {
        m_metalHosting->viewWindowMayHaveChanged();
    }
}

// ---- Colours --------------------------------------------------------------------------------

PlatformColor TerminalView::caretColor() const {
    return m_caretView->caretColor();
}

void TerminalView::setCaretColor(const PlatformColor& color) {
    m_cursorColorIsDefault = false;
    m_caretView->setCaretColor(color);
    m_caretView->update();
}

std::optional<PlatformColor> TerminalView::caretTextColor() const {
    return m_caretView->caretTextColor();
}

void TerminalView::setCaretTextColor(const std::optional<PlatformColor>& color) {
    m_cursorTextColorIsDefault = !color.has_value();
    m_caretView->setCaretTextColor(color);
    m_caretView->update();
}

PlatformColor TerminalView::effectiveCaretColor() const {
    return m_cursorColorIsDefault ? effectiveNativeForegroundColor() : m_caretView->caretColor();
}

PlatformColor TerminalView::effectiveCaretTextColor() const {
    if (m_cursorTextColorIsDefault) {
        return effectiveNativeBackgroundColor();
    }
    return m_caretView->caretTextColor().value_or(effectiveNativeForegroundColor());
}

void TerminalView::setCursorColor(Terminal&, std::optional<Color> color,
                                  std::optional<Color> textColor) {
    if (color) {
        setCaretColor(PlatformColor::make(*color));
    } else {
        m_cursorColorIsDefault = true;
        m_caretView->setCaretColor(m_caretView->defaultCaretColor());
        m_caretView->update();
    }
    if (textColor) {
        setCaretTextColor(PlatformColor::make(*textColor));
    } else {
        m_cursorTextColorIsDefault = true;
        m_caretView->setCaretTextColor(m_caretView->defaultCaretTextColor());
        m_caretView->update();
    }
}

} // namespace veldatron
