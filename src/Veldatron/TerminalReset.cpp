#include "Terminal.h"

#include <algorithm>

namespace veldatron {

// ---- Cursor save and restore (DECSC, DECRC) -------------------------------------------------

void Terminal::cmdSaveCursor() {
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

void Terminal::cmdRestoreCursor() {
    Buffer& buffer = *m_buffer;
    // The screen may have shrunk since the save.
    buffer.setX(std::clamp(buffer.savedX, 0, m_cols - 1));
    buffer.setY(std::clamp(buffer.savedY, 0, m_rows - 1));
    m_curAttr = buffer.savedAttr;
    // The translation in use comes back; the designations and the invoked set stay.
    m_charset = buffer.savedCharset;
    m_originMode = buffer.savedOriginMode;
    setMarginMode(buffer.savedMarginMode);
    setWraparound(buffer.savedWraparound);
    m_reverseWraparound = buffer.savedReverseWraparound;
}

// ---- Soft reset (DECSTR) --------------------------------------------------------------------

// Both resets begin here: the initial bidirectional state, also in the paragraph at the cursor,
// and a redraw of the whole screen.
void Terminal::resetBidiState() {
    changeBidiState(m_options.initialBidiState, BidiStateProperty::all);
    m_bidiArrowKeySwap = m_options.initialBidiArrowKeySwap;
    m_savedBidiPrivateModes.clear();
}

void Terminal::softReset() {
    resetBidiState();

    m_cursorHidden = false;
    m_originMode = false;
    setInsertMode(false);
    setWraparound(true);
    m_reverseWraparound = false;
    m_applicationKeypad = false;
    m_applicationCursor = false;
    m_buffer->setScrollTop(0);
    m_buffer->setScrollBottom(m_rows - 1);
    m_curAttr = Attribute();
    m_buffer->softReset();
    resetSemanticPromptState(true);
    // G0 is invoked again; the four designations stay.
    m_charset = nullptr;
    setgLevel(0);
    m_conformance = TerminalConformance::vt500;
    m_activeHyperlink.reset();
    m_lineFeedMode = m_options.convertEol;
    resetAllColors();
    // Always, so that a host that missed the hide still shows the cursor.
    tell([&](TerminalDelegate& d) { d.showCursor(*this); });
}

// ---- Full reset (RIS) -----------------------------------------------------------------------

void Terminal::resetToInitialState() {
    assertNotInDelegateCallback();
    resetBidiState();
    endSynchronizedOutput();
    // The reset keeps the current size.
    m_options.rows = m_rows;
    m_options.cols = m_cols;
    const bool cursorHidden = m_cursorHidden;
    setup(true);
    clearAllKittyImages();
    m_cursorHidden = cursorHidden;
    resetSemanticPromptState(true);
    // The old normal screen is gone: its links need no handles any more.
    garbageCollectPayload();
    updateRange(0);
    updateRange(m_rows - 1);
    tell([&](TerminalDelegate& d) { d.bufferActivated(*this); });
}

// ---- Resize ---------------------------------------------------------------------------------

void Terminal::resize(int cols, int rows) {
    assertNotInDelegateCallback();
    cols = std::max(cols, MINIMUM_COLS);
    rows = std::max(rows, MINIMUM_ROWS);
    if (cols == m_cols && rows == m_rows) {
        return;
    }
    endSynchronizedOutput();
    const int oldCols = m_cols;
    resizeBuffers(cols, rows);
    m_cols = cols;
    m_rows = rows;
    m_options.cols = cols;
    m_options.rows = rows;
    m_normalBuffer->setupTabStops(oldCols, m_tabStopWidth);
    m_altBuffer->setupTabStops(oldCols, m_tabStopWidth);
    updateRange(0);
    updateRange(m_rows - 1);
}

} // namespace veldatron
