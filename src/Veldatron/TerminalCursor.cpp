#include "Terminal.h"

#include <algorithm>

namespace veldatron {

// Parameters of the motion commands come in two kinds: a count, where 0 and an omitted
// parameter both mean 1, and a 1-based position, where 0, 1 and an omitted parameter all mean
// the first row or column. Values saturate at 65535 in the parser, so no sum below overflows.
namespace {

int count(const ParserParams& pars) {
    return std::max(pars[0], 1);
}

int position(int parameter) {
    return std::max(parameter, 1) - 1;
}

} // namespace

// ---- Primitives -----------------------------------------------------------------------------

void Terminal::cursorForward(int n) {
    Buffer& buffer = *m_buffer;
    int limit = m_marginMode ? buffer.marginRight() : m_cols - 1;
    if (buffer.x() > limit) {
        // Right of the right margin the cursor may still move to the screen's edge.
        limit = buffer.cols() - 1;
    }
    buffer.setX(std::min(buffer.x() + std::max(n, 1), limit));
}

void Terminal::cursorBackward(int n) {
    Buffer& buffer = *m_buffer;
    int limit = m_marginMode ? buffer.marginLeft() : 0;
    if (buffer.x() < limit) {
        limit = 0;
    }
    // From the pending-wrap column (x = cols) this lands on cols - n.
    buffer.setX(std::max(buffer.x() - std::max(n, 1), limit));
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

// ---- Relative and absolute motion -----------------------------------------------------------

void Terminal::cmdCursorUp(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int y = buffer.y();
    // Above the region the cursor may go on to the top of the screen.
    const int limit = y >= buffer.scrollTop() ? buffer.scrollTop() : 0;
    buffer.setY(std::max(y - count(pars), limit));
}

void Terminal::cmdCursorDown(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int y = buffer.y();
    const int limit = y <= buffer.scrollBottom() ? buffer.scrollBottom() : buffer.rows() - 1;
    buffer.setY(std::min(y + count(pars), limit));
    if (buffer.x() >= m_cols) {
        buffer.setX(m_cols - 1);
    }
}

void Terminal::cmdCursorCharAbsolute(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int base = m_originMode && m_marginMode ? buffer.marginLeft() : 0;
    buffer.setX(std::min(base + position(pars[0]), m_cols - 1));
}

void Terminal::cmdCursorPosition(const ParserParams& pars) {
    setCursor(position(pars[1]), position(pars[0]));
}

void Terminal::cmdCharPosAbsolute(const ParserParams& pars) {
    m_buffer->setX(std::min(position(pars[0]), m_cols - 1));
}

void Terminal::cmdHPositionRelative(const ParserParams& pars) {
    m_buffer->setX(std::min(m_buffer->x() + count(pars), m_cols - 1));
}

void Terminal::cmdLinePosAbsolute(const ParserParams& pars) {
    m_buffer->setY(std::min(position(pars[0]), m_rows - 1));
}

void Terminal::cmdVPositionRelative(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    buffer.setY(std::min(buffer.y() + count(pars), m_rows - 1));
    if (buffer.x() >= m_cols) {
        buffer.setX(m_cols - 1);
    }
}

void Terminal::cmdHVPosition(const ParserParams& pars) {
    // Unlike CUP, HVP in origin mode is offset by the region but not confined to it.
    Buffer& buffer = *m_buffer;
    const int y = position(pars[0]) + (m_originMode ? buffer.scrollTop() : 0);
    const int x = position(pars[1]) + (m_originMode && m_marginMode ? buffer.marginLeft() : 0);
    buffer.setY(std::min(y, m_rows - 1));
    buffer.setX(std::min(x, m_cols - 1));
}

void Terminal::cmdCursorNextLine(const ParserParams& pars) {
    cmdCursorDown(pars);
    m_buffer->setX(m_buffer->marginLeft());
}

void Terminal::cmdCursorPrecedingLine(const ParserParams& pars) {
    cmdCursorUp(pars);
    m_buffer->setX(m_buffer->marginLeft());
}

void Terminal::cmdNextLine() {
    Buffer& buffer = *m_buffer;
    buffer.setX(m_originMode && m_marginMode ? buffer.marginLeft() : 0);
    cmdIndex();
}

// ---- Tabulation -----------------------------------------------------------------------------

void Terminal::cmdForwardTab(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int n = pars[0] >= 2 ? std::min(pars[0], m_cols - 1) : std::min(m_cols - 1, 1);
    for (int i = 0; i < n; ++i) {
        const int x = buffer.nextTabStop(m_marginMode, -1);
        if (x >= 0) {
            buffer.setX(x);
        }
    }
}

void Terminal::cmdBackwardTab(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    if (buffer.x() > m_cols) {
        return;
    }
    const int n = pars[0] >= 2 ? std::min(pars[0], buffer.cols()) : 1;
    for (int i = 0; i < n; ++i) {
        const int x = buffer.previousTabStop(-1);
        if (x >= 0) {
            buffer.setX(x);
        }
    }
}

void Terminal::cmdTabClear(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    switch (pars[0]) {
    case 0:
        buffer.tabClear(buffer.x());
        break;
    case 3:
        // The stops keep their count; every one is off.
        for (int col = 0; col < int(buffer.tabStops().size()); ++col) {
            buffer.tabClear(col);
        }
        break;
    default:
        break;
    }
}

// ---- Save and restore -----------------------------------------------------------------------

void Terminal::cmdSaveCursor(std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    Buffer& buffer = *m_buffer;
    buffer.savedX = buffer.x();
    buffer.savedY = buffer.y();
    buffer.savedAttr = m_curAttr;
    buffer.savedCharset = m_charset;
    buffer.savedOriginMode = m_originMode;
    buffer.savedMarginMode = m_marginMode;
    buffer.savedWraparound = m_wraparound;
    buffer.savedReverseWraparound = m_reverseWraparound;
}

void Terminal::cmdRestoreCursor(std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    // Each screen keeps its own saved state; one that never saved restores the home position,
    // the default attribute, no translation, autowrap on and the other three modes off. The
    // screen may have shrunk since the save.
    Buffer& buffer = *m_buffer;
    buffer.setX(std::clamp(buffer.savedX, 0, m_cols - 1));
    buffer.setY(std::clamp(buffer.savedY, 0, m_rows - 1));
    m_curAttr = buffer.savedAttr;
    // Only the set in GL comes back; the G0-G3 designations and the invoked set stay.
    m_charset = buffer.savedCharset;
    m_originMode = buffer.savedOriginMode;
    setMarginMode(buffer.savedMarginMode);
    setWraparound(buffer.savedWraparound);
    m_reverseWraparound = buffer.savedReverseWraparound;
}

} // namespace veldatron
