#include "Terminal.h"

#include <algorithm>

namespace veldatron {

// ---- Soft reset (DECSTR) --------------------------------------------------------------------

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
    // The size survives the reset; setup applies the options' size.
    m_options.rows = m_rows;
    m_options.cols = m_cols;
    const bool cursorHidden = m_cursorHidden;
    setup(true);
    // Setup leaves the cursor where the alternate screen had it when the reset came while that
    // screen was active; a reset always starts at home.
    m_buffer->setX(0);
    m_buffer->setY(0);
    clearAllKittyImages();
    m_cursorHidden = cursorHidden;
    resetSemanticPromptState(true);
    // The old normal screen is gone: its links need no handles any more, and its clusters no
    // codes.
    garbageCollectPayload();
    m_clusterTable.sweep();
    updateRange(0);
    updateRange(m_rows - 1);
    tell([&](TerminalDelegate& d) { d.bufferActivated(*this); });
}

// ---- Resize and scrollback ------------------------------------------------------------------

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
    // Stops the program set or cleared up to the old width stay; the new columns get regular
    // stops.
    m_normalBuffer->setupTabStops(oldCols, m_tabStopWidth);
    m_altBuffer->setupTabStops(oldCols, m_tabStopWidth);
    updateRange(0);
    updateRange(m_rows - 1);
}

void Terminal::clearScrollback() {
    m_normalBuffer->clearScrollback();
    updateRange(0);
    updateRange(m_rows - 1);
}

void Terminal::changeScrollback(std::optional<int> lines) {
    m_normalBuffer->changeHistorySize(lines);
    m_options.scrollback = lines.value_or(0);
    updateRange(0);
    updateRange(m_rows - 1);
}

} // namespace veldatron
