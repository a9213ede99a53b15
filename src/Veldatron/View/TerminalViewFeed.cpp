#include "CaretView.h"
#include "SearchService.h"
#include "SelectionService.h"
#include "EscapeSequences.h"
#include "TerminalBidi.h"
#include "TerminalDebugView.h"
#include "TerminalView.h"
#include "TerminalViewDelegate.h"
#include "TerminalViewMetalHosting.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace veldatron {

// ---- Output ---------------------------------------------------------------------------------

void TerminalView::feed(std::span<const uint8_t> byteArray) {
    // The next find must search the new text. Output also ends the selection, unless the host
    // keeps the mouse to itself (then the selection is the user's only way to pick text).
    m_search->invalidate();
    if (m_allowMouseReporting) {
        m_selection->setActive(false);
    }
    m_terminal->feed(byteArray);
    if (shouldDisplayImmediatelyAfterUserInput()) {
        displayImmediately();
    } else {
        queuePendingDisplay();
    }
}

void TerminalView::feed(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    feed(std::span(reinterpret_cast<const uint8_t*>(utf8.constData()), size_t(utf8.size())));
}

uint64_t TerminalView::now() const {
    return m_uptimeNs();
}

bool TerminalView::shouldDisplayImmediatelyAfterUserInput() const {
    if (m_terminal->synchronizedOutputActive()) {
        return false;
    }
    uint64_t stamp = 0;
    {
        const std::lock_guard lock(m_userInputLock);
        stamp = m_lastUserInputUptimeNs;
    }
    if (stamp == 0) {
        return false;
    }
    const uint64_t current = now();
    return current >= stamp && current - stamp <= interactiveInputDisplayWindowNs;
}

// ---- Scheduling -----------------------------------------------------------------------------

void TerminalView::queuePendingDisplay() {
    if (!m_terminal || m_terminal->synchronizedOutputActive() || m_pendingDisplay) {
        return;
    }
    m_pendingDisplay = true;
    // An immediate pass may have run since an earlier request, so more than one of these can be
    // waiting: each finds out whether the view still exists.
    QPointer<TerminalView> self(this);
    m_pendingDisplayTask = m_executor->postAfter(displayCoalescingDelay, [self] {
        if (self) {
            self->runDisplayPass();
        }
    });
}

void TerminalView::displayImmediately() {
    if (m_executor->isCurrent()) {
        runDisplayPass();
        return;
    }
    if (m_pendingDisplay) {
        return;
    }
    m_pendingDisplay = true;
    QPointer<TerminalView> self(this);
    m_executor->post([self] {
        if (self) {
            self->runDisplayPass();
        }
    });
}

void TerminalView::runDisplayPass() {
    updateTextBlinkLifecycle();
    if (m_scrollerNeedsUpdate) {
        updateScroller();
    }
    updateDisplay(true);
    if (m_debug) {
        m_debug->refresh();
    }
    m_pendingDisplay = false;
}

void TerminalView::updateDisplay(bool notifyAccessibility) {
    (void)notifyAccessibility; // no accessibility notifications are posted yet
    Terminal& terminal = *m_terminal;
    if (terminal.synchronizedOutputActive()) {
        m_pendingDisplay = false;
        return;
    }
    updateCursorPosition();
    const Buffer& buffer = terminal.buffer();
    const int start = terminal.refreshStart();
    const int end = terminal.refreshEnd();
    if (end == -1 && start == INT_MAX) {
        if (m_notifyUpdateChanges && m_terminalDelegate != nullptr) {
            const int row = buffer.yDisp() + buffer.y();
            m_terminalDelegate->rangeChanged(*this, row, row);
        }
        // The GPU renderer draws the cursor: a frame when it moved, hid or showed.
        if (hasMetalView() && noteRenderedCursor() && m_metalHosting) {
            m_metalHosting->setMetalViewNeedsDisplay();
        }
        m_pendingDisplay = false;
        return;
    }
    if (m_notifyUpdateChanges && m_terminalDelegate != nullptr) {
        m_terminalDelegate->rangeChanged(*this, start, end);
    }
    terminal.clearUpdateRange();

    // The rows of the dirty range as buffer lines, widened to whole bidirectional paragraphs: a
    // change in one row can move the cells of every row of its paragraph.
    const int lineCount = buffer.lines().count();
    const int rows = terminal.rows();
    const int yDisp = buffer.yDisp();
    const bool valid = lineCount > 0 && start >= 0 && end >= start && end < rows;
    int first = start;
    int last = end;
    std::optional<std::pair<int, int>> dirtyLines;
    if (valid) {
        const int a = std::max(0, std::min(yDisp + start, lineCount - 1));
        const int b = std::max(a, std::min(yDisp + end, lineCount - 1));
        dirtyLines = TerminalBidi::renderingDependencyRange(
            a, b, terminal.buffer(), terminal.options().maximumBidiParagraphRows);
        first = std::max(0, dirtyLines->first - yDisp);
        last = std::min(dirtyLines->second - yDisp, rows - 1);
    }

    if (hasMetalView()) {
        // The renderer may not have drawn the last range yet: merge, never overwrite.
        std::optional<std::pair<int, int>> lines = dirtyLines;
        if (!valid && lineCount > 0) {
            const int upper = std::min(lineCount - 1, yDisp + rows - 1);
            if (upper >= yDisp) {
                lines = std::pair(yDisp, upper);
            }
        }
        if (lines) {
            m_metalDirtyRange = m_metalDirtyRange
                                    ? std::pair(std::min(m_metalDirtyRange->first, lines->first),
                                                std::max(m_metalDirtyRange->second, lines->second))
                                    : *lines;
        }
        noteRenderedCursor();
        if (m_metalHosting) {
            m_metalHosting->setMetalViewNeedsDisplay();
        }
    } else {
        // On the live screen, the dirty band and the rows its old and new ink may reach
        // (stacked accents erased with their text leave nothing behind above it), down to the
        // bottom edge when that includes the last row; while scrolled back, everything.
        const double h = m_cellDimension.height();
        const double fullHeight = height();
        QRectF rect(0, 0, width(), fullHeight);
        if (yDisp == buffer.yBase()) {
            const double top = h * std::max(0, first - inkOverflowRows);
            const double bottom = last + inkOverflowRows >= rows - 1
                                      ? fullHeight
                                      : std::min(fullHeight, h * (last + inkOverflowRows + 1.0));
            rect = QRectF(0, top, width(), std::max(0.0, bottom - top));
        }
        setNeedsDisplay(rect);
    }
    if (m_debug) {
        m_debug->refresh();
    }
    m_pendingDisplay = false;
}

void TerminalView::setNeedsDisplay(const QRectF& rect) {
    const QRect area = rect.toAlignedRect();
    if (m_caretView != nullptr && area.intersects(m_caretView->geometry())) {
        m_caretView->invalidateBackdrop();
    }
    update(area);
}

// ---- Input ----------------------------------------------------------------------------------

void TerminalView::send(std::span<const uint8_t> data) {
    const uint64_t stamp = now();
    {
        const std::lock_guard lock(m_userInputLock);
        m_lastUserInputUptimeNs = stamp;
    }
    ensureCaretIsVisible();
    // A command line the user submits while the shell marked its input as armed (OSC 133) is
    // submitted before the program sees the bytes.
    m_terminal->noteUserInput(data);
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->send(*this, data);
    }
}

void TerminalView::send(const QString& txt) {
    const QByteArray utf8 = txt.toUtf8();
    send(std::span(reinterpret_cast<const uint8_t*>(utf8.constData()), size_t(utf8.size())));
}

void TerminalView::ensureCaretIsVisible() {
    const Terminal& terminal = *m_terminal;
    if (terminal.synchronizedOutputActive()) {
        return;
    }
    const Buffer& buffer = terminal.buffer();
    const int row = buffer.y() + buffer.yBase();
    if (row < buffer.yDisp() || row >= buffer.yDisp() + terminal.rows()) {
        scrollTo(buffer.yBase(), true);
    }
}

// ---- Viewport -------------------------------------------------------------------------------

double TerminalView::scrollPosition() const {
    const Terminal& terminal = *m_terminal;
    const Buffer& buffer = terminal.buffer();
    if (terminal.isCurrentBufferAlternate() || buffer.yDisp() <= 0) {
        return 0;
    }
    const int maxScroll = buffer.lines().count() - terminal.rows();
    return buffer.yDisp() < maxScroll ? double(buffer.yDisp()) / maxScroll : 1.0;
}

double TerminalView::scrollThumbsize() const {
    const Terminal& terminal = *m_terminal;
    if (terminal.isCurrentBufferAlternate()) {
        return 0;
    }
    const int count = terminal.buffer().lines().count();
    const double size = count > 0 ? double(terminal.rows()) / count : 1.0;
    return std::max(size, 0.01);
}

bool TerminalView::canScroll() const {
    const Terminal& terminal = *m_terminal;
    return !terminal.isCurrentBufferAlternate() && terminal.buffer().hasScrollback() &&
           terminal.rows() < terminal.buffer().lines().count();
}

void TerminalView::updateUserScrollingState(int row, const Buffer& buffer) {
    const int maxScroll = std::max(0, buffer.lines().count() - m_terminal->rows());
    m_userScrolling = row < maxScroll;
    m_terminal->setUserScrolling(m_userScrolling);
}

void TerminalView::scrollTo(int row, bool notifyAccessibility) {
    Terminal& terminal = *m_terminal;
    Buffer& buffer = terminal.buffer();
    const int maxScroll = std::max(0, buffer.lines().count() - terminal.rows());
    row = std::clamp(row, 0, maxScroll);
    updateUserScrollingState(row, buffer);
    if (row == buffer.yDisp()) {
        return;
    }
    buffer.setYDisp(row);
    // One past the last row: the display pass takes the range as the whole viewport.
    terminal.updateRange(0, false);
    terminal.updateRange(terminal.rows(), false);
    updateDisplay(notifyAccessibility);
    notifyHostScrolled();
    updateScroller();
    update();
}

void TerminalView::scrollToPosition(double position) {
    const Buffer& buffer = m_terminal->buffer();
    const int maxScroll = std::max(0, buffer.lines().count() - m_terminal->rows());
    // A position that is not a number is clamped like any other out-of-range one.
    const double target = std::isnan(position) ? 0.0 : position * maxScroll;
    const int row = int(std::clamp(std::trunc(target), 0.0, double(maxScroll)));
    if (row == buffer.yDisp()) {
        updateUserScrollingState(row, buffer);
        return;
    }
    scrollTo(row, true);
}

void TerminalView::scrollUp(int lines) {
    const int yDisp = m_terminal->buffer().yDisp();
    scrollTo(int(std::max<int64_t>(0, int64_t(yDisp) - lines)), true);
}

void TerminalView::scrollDown(int lines) {
    const Buffer& buffer = m_terminal->buffer();
    const int64_t maxScroll = int64_t(buffer.lines().count()) - m_terminal->rows();
    const int64_t target =
        std::max<int64_t>(0, std::min<int64_t>(maxScroll, int64_t(buffer.yDisp()) + lines));
    scrollTo(int(target), true);
}

void TerminalView::pageUp() {
    if (m_terminal->isCurrentBufferAlternate()) {
        send(std::span<const uint8_t>(EscapeSequences::cmdPageUp));
        return;
    }
    scrollTo(std::max(0, m_terminal->buffer().yDisp() - m_terminal->rows()), true);
}

void TerminalView::pageDown() {
    if (m_terminal->isCurrentBufferAlternate()) {
        send(std::span<const uint8_t>(EscapeSequences::cmdPageDown));
        return;
    }
    scrollDown(m_terminal->rows());
}

void TerminalView::changeScrollback(std::optional<int> lines) {
    Terminal& terminal = *m_terminal;
    terminal.normalBuffer().changeHistorySize(lines);
    TerminalOptions options = terminal.options();
    options.scrollback = lines.value_or(0);
    terminal.setOptions(options);
    afterScrollbackChange();
}

void TerminalView::clearScrollback() {
    m_terminal->normalBuffer().clearScrollback();
    afterScrollbackChange();
}

void TerminalView::afterScrollbackChange() {
    m_terminal->updateRange(0, false);
    m_terminal->updateRange(m_terminal->rows() - 1, false);
    updateScroller();
    notifyHostScrolled();
    queuePendingDisplay();
}

void TerminalView::notifyHostScrolled() {
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->scrolled(*this, scrollPosition());
    }
}

// ---- Terminal callbacks ---------------------------------------------------------------------

void TerminalView::send(Terminal&, std::span<const uint8_t> data) {
    // The terminal's own replies: no input time stamp, no scrolling to the cursor.
    if (m_terminalDelegate != nullptr) {
        m_terminalDelegate->send(*this, data);
    }
}

void TerminalView::scrolled(Terminal&, int) {
    // This comes once per line of output: the scroll bar follows at the next display pass.
    m_scrollerNeedsUpdate = true;
    notifyHostScrolled();
}

void TerminalView::bufferActivated(Terminal&) {
    updateScroller();
}

void TerminalView::synchronizedOutputChanged(Terminal&, bool active) {
    if (active) {
        return;
    }
    // Everything held back is shown together in one pass.
    updateScroller();
    queuePendingDisplay();
    notifyHostScrolled();
}

} // namespace veldatron
