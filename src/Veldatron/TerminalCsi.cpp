#include "Terminal.h"

#include <algorithm>

namespace veldatron {

void Terminal::dispatchCsi(const EscapeSequence& sequence, const ParserParams& pars) {
    // By final byte; where the intermediates select the function, the case compares the packed
    // id (sequenceId("?", 'r')), and handlers that take them along check them themselves. The
    // frequent ones (SGR, cursor motion, erasing) come first; the rest are in their own function,
    // so that their code does not weigh on these.
    switch (sequence.final) {
    case 'A':
        cmdCursorUp(pars);
        return;
    case 'B':
        cmdCursorDown(pars);
        return;
    case 'C':
        cursorForward(pars[0]);
        return;
    case 'D':
        cursorBackward(pars[0]);
        return;
    case 'H':
        cmdCursorPosition(pars);
        return;
    case 'J':
        cmdEraseInDisplay(pars);
        return;
    case 'K':
        cmdEraseInLine(pars);
        return;
    case 'm':
        cmdCsiM(pars, sequence.collect);
        return;
    default:
        dispatchCsiOther(sequence, pars);
        return;
    }
}

void Terminal::dispatchCsiOther(const EscapeSequence& sequence, const ParserParams& pars) {
    switch (sequence.final) {
    case 'h':
        cmdSetMode(pars, sequence.collect);
        return;
    case 'l':
        cmdResetMode(pars, sequence.collect);
        return;
    case 'p':
        csiPHandler(pars, sequence.collect);
        return;
    case 'q':
        if (sequence.id != sequenceId(">", 'q')) {
            cmdSetCursorStyle(pars, sequence.collect);
            return;
        }
        break;
    case 'r':
        if (sequence.id == sequenceId("?", 'r')) {
            cmdRestorePrivateModes(pars);
        } else {
            cmdSetScrollRegion(pars, sequence.collect);
        }
        return;
    case 's':
        if (sequence.id == sequenceId("?", 's')) {
            cmdSavePrivateModes(pars);
            return;
        }
        if (sequence.collect.empty()) {
            if (m_marginMode) {
                cmdSetMargins(pars, sequence.collect);
            } else {
                cmdSaveCursor();
            }
            return;
        }
        break;
    case 't':
        if (sequence.collect.empty()) {
            cmdWindowOptions(pars);
            return;
        }
        break;
    case 'u':
        // The kitty keyboard forms carry one marker; plain CSI u restores the cursor.
        if (!handleKittyKeyboardProtocol(pars, sequence.collect) && sequence.collect.empty()) {
            cmdRestoreCursor();
        }
        return;
    default:
        break;
    }
    if (m_parser.csiHandlerFallback) {
        m_parser.csiHandlerFallback(pars, sequence.collect, sequence.final);
    }
}

// ---- Cursor primitives ----------------------------------------------------------------------

void Terminal::cursorForward(int count) {
    Buffer& buffer = *m_buffer;
    int limit = m_marginMode ? buffer.marginRight() : m_cols - 1;
    if (buffer.x() > limit) {
        // Right of the right margin the cursor may still move to the screen's edge.
        limit = buffer.cols() - 1;
    }
    buffer.setX(std::min(buffer.x() + std::max(count, 1), limit));
}

void Terminal::cursorBackward(int count) {
    Buffer& buffer = *m_buffer;
    int limit = m_marginMode ? buffer.marginLeft() : 0;
    if (buffer.x() < limit) {
        limit = 0;
    }
    buffer.setX(std::max(buffer.x() - std::max(count, 1), limit));
}

void Terminal::setCursor(int col, int row) {
    Buffer& buffer = *m_buffer;
    updateRange(buffer, buffer.y());
    if (m_originMode) {
        buffer.setX(col + (m_marginMode ? buffer.marginLeft() : 0));
        buffer.setY(row + buffer.scrollTop());
    } else {
        buffer.setX(col);
        buffer.setY(row);
    }
    restrictCursor(true);
}

void Terminal::restrictCursor(bool clampToLastColumn) {
    Buffer& buffer = *m_buffer;
    buffer.setX(std::clamp(buffer.x(), 0, clampToLastColumn ? m_cols - 1 : m_cols));
    if (m_originMode) {
        buffer.setY(std::clamp(buffer.y(), buffer.scrollTop(), buffer.scrollBottom()));
    } else {
        buffer.setY(std::clamp(buffer.y(), 0, m_rows - 1));
    }
    updateRange(buffer, buffer.y());
}

void Terminal::cmdCursorUp(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int y = buffer.y();
    const int limit = y >= buffer.scrollTop() ? buffer.scrollTop() : 0;
    buffer.setY(std::max(y - std::max(pars[0], 1), limit));
}

void Terminal::cmdCursorDown(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int y = buffer.y();
    const int limit = y <= buffer.scrollBottom() ? buffer.scrollBottom() : buffer.rows() - 1;
    buffer.setY(std::min(y + std::max(pars[0], 1), limit));
    if (buffer.x() >= m_cols) {
        buffer.setX(m_cols - 1);
    }
}

void Terminal::cmdCursorPosition(const ParserParams& pars) {
    // 0, 1 and an omitted parameter all mean the first row or column.
    setCursor(std::max(pars[1], 1) - 1, std::max(pars[0], 1) - 1);
}

// ---- Erasing --------------------------------------------------------------------------------

void Terminal::cmdEraseInLine(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    BufferLine& line = buffer.lines()[buffer.yBase() + buffer.y()];
    const int x = buffer.x();
    switch (pars[0]) {
    case 0:
        line.replaceCells(x, m_cols, erasedCell());
        break;
    case 1:
        line.replaceCells(0, x + 1, erasedCell());
        break;
    case 2:
        line.replaceCells(0, m_cols, erasedCell());
        break;
    default:
        break;
    }
    updateRange(buffer, buffer.y());
}

void Terminal::cmdEraseInDisplay(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    switch (pars[0]) {
    case 0: {
        updateRange(buffer, y);
        BufferLine& line = buffer.lines()[buffer.yBase() + y];
        line.replaceCells(x, m_cols, erasedCell());
        if (x == 0) {
            line.setIsWrapped(false);
        }
        for (int row = y + 1; row < m_rows; ++row) {
            resetBufferLine(row, false, m_currentBidiState);
        }
        updateRange(buffer, m_rows - 1);
        break;
    }
    case 1: {
        updateRange(buffer, y);
        BufferLine& line = buffer.lines()[buffer.yBase() + y];
        line.replaceCells(0, x + 1, erasedCell());
        line.setIsWrapped(false);
        if (x + 1 >= m_cols && y + 1 < m_rows) {
            // The row below no longer continues a row that ends in erased cells.
            buffer.lines()[buffer.yBase() + y + 1].setIsWrapped(false);
        }
        for (int row = y - 1; row >= 0; --row) {
            resetBufferLine(row, false, m_currentBidiState);
        }
        updateRange(buffer, 0);
        break;
    }
    case 2:
        for (int row = m_rows - 1; row >= 0; --row) {
            resetBufferLine(row, true, m_currentBidiState);
        }
        clearAllKittyImages();
        updateRange(buffer, 0);
        updateRange(buffer, m_rows - 1);
        break;
    case 3: {
        // The scrollback goes; the screen rows stay as they are.
        CircularBufferLineList& lines = buffer.lines();
        const int dropped = lines.count() - m_rows;
        if (dropped > 0) {
            lines.trimStart(dropped);
            buffer.setYBase(std::max(buffer.yBase() - dropped, 0));
            buffer.setYDisp(std::max(buffer.yDisp() - dropped, 0));
        }
        buffer.linesTop = 0;
        break;
    }
    default:
        break;
    }
}

void Terminal::resetBufferLine(int y, bool clearImages, BidiPresentationState bidiState) {
    Buffer& buffer = *m_buffer;
    const int row = buffer.yBase() + y;
    BufferLine& line = buffer.lines()[row];
    line.replaceCells(0, line.count(), erasedCell());
    line.setIsWrapped(false);
    line.setRenderMode(BufferLine::RenderLineMode::single);
    if (clearImages) {
        buffer.clearImagesFromLine(row);
    }
    line.setBidiState(bidiState);
    updateRange(buffer, y);
}

// ---- Margins --------------------------------------------------------------------------------

void Terminal::cmdSetScrollRegion(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    const int top = std::max(pars[0] - 1, 0);
    int bottom = m_rows;
    if (pars[1] != 0 && pars[1] <= m_rows) {
        bottom = pars[1];
    }
    // A region needs two rows at least; a smaller request keeps the old region.
    if (top < bottom - 1) {
        m_buffer->setScrollTop(top);
        m_buffer->setScrollBottom(bottom - 1);
    }
    setCursor(0, 0);
}

void Terminal::cmdSetMargins(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    const int left = std::max(pars[0] - 1, 0);
    const int right = std::clamp(pars.size() > 1 ? pars[1] - 1 : m_cols - 1, 0, m_cols - 1);
    m_buffer->setMarginLeft(std::min(left, right));
    m_buffer->setMarginRight(right);
}

} // namespace veldatron
