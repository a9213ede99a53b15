#include "Terminal.h"

namespace veldatron {

// A paragraph is a run of rows joined by the wrap flag. A settings change reaches existing rows
// only at the very start of a paragraph, and moving rows across the edges of the scroll region
// breaks the flag there ("hardening"), so that text inside and outside the region never forms
// one paragraph.

void Terminal::changeBidiState(BidiPresentationState state, BidiStateProperties properties) {
    m_currentBidiState = state;
    m_normalBuffer->defaultBidiState = state;
    m_altBuffer->defaultBidiState = state;
    applyCurrentBidiStateAtParagraphStart(properties);
    updateFullScreen();
}

// Both resets begin here: the initial state, also in the paragraph at the cursor, and a redraw of
// the whole screen.
void Terminal::resetBidiState() {
    changeBidiState(m_options.initialBidiState, BidiStateProperties::all);
    m_bidiArrowKeySwap = m_options.initialBidiArrowKeySwap;
    m_savedBidiPrivateModes.clear();
}

void Terminal::applyCurrentBidiStateAtParagraphStart(BidiStateProperties properties) {
    Buffer& buffer = *m_buffer;
    CircularBufferLineList& lines = buffer.lines();
    const int start = buffer.yBase() + buffer.y();
    // Only a cursor at the very start of a paragraph changes it: a row that continues the one
    // above belongs to a paragraph that started earlier.
    if (buffer.x() != 0 || start < 0 || start >= lines.count() || lines[start].isWrapped()) {
        return;
    }
    int end = start;
    while (end + 1 < lines.count() && lines[end + 1].isWrapped()) {
        ++end;
    }
    // The paragraph is laid out as one: every row gets the first row's settings with the changed
    // fields replaced.
    BidiPresentationState state = lines[start].bidiState();
    if (properties.contains(BidiStateProperties::supportMode)) {
        state.supportMode = m_currentBidiState.supportMode;
    }
    if (properties.contains(BidiStateProperties::autodetectDirection)) {
        state.autodetectDirection = m_currentBidiState.autodetectDirection;
    }
    if (properties.contains(BidiStateProperties::fallbackDirection)) {
        state.fallbackDirection = m_currentBidiState.fallbackDirection;
    }
    if (properties.contains(BidiStateProperties::boxMirroring)) {
        state.boxMirroring = m_currentBidiState.boxMirroring;
    }
    for (int row = start; row <= end; ++row) {
        lines[row].setBidiState(state);
    }
}

namespace {

void harden(CircularBufferLineList& lines, int row) {
    if (row >= 0 && row < lines.count()) {
        lines[row].setIsWrapped(false);
    }
}

} // namespace

void Terminal::hardenBidiScrollBoundaries(bool insertedAtTop, int count) {
    Buffer& buffer = *m_buffer;
    CircularBufferLineList& lines = buffer.lines();
    const int top = buffer.yBase() + buffer.scrollTop();
    const int bottom = buffer.yBase() + buffer.scrollBottom();
    if (top < 0 || top >= lines.count()) {
        return;
    }
    harden(lines, top);
    if (insertedAtTop && count < bottom - top + 1) {
        // The first row pushed down no longer continues the blank row above it.
        harden(lines, top + count);
    }
    harden(lines, bottom + 1);
}

void Terminal::hardenBidiLineShiftBoundaries(int firstChangedRow, std::optional<int> firstMovedRow,
                                             int lastChangedRow) {
    CircularBufferLineList& lines = m_buffer->lines();
    harden(lines, firstChangedRow);
    if (firstMovedRow) {
        harden(lines, *firstMovedRow);
    }
    harden(lines, lastChangedRow + 1);
}

// ---- Direction sequences --------------------------------------------------------------------

void Terminal::setFallbackDirection(BidiDirection direction) {
    BidiPresentationState state = m_currentBidiState;
    state.fallbackDirection = direction;
    changeBidiState(state, BidiStateProperties::fallbackDirection);
}

void Terminal::cmdSelectPresentationDirection(const ParserParams& pars) {
    switch (pars[0]) {
    case 0:
        setFallbackDirection(BidiDirection::leftToRight);
        break;
    case 3:
        setFallbackDirection(BidiDirection::rightToLeft);
        break;
    default:
        break;
    }
}

void Terminal::cmdSelectCharacterPath(const ParserParams& pars) {
    switch (pars[0]) {
    case 0:
        setFallbackDirection(m_options.initialBidiState.fallbackDirection);
        break;
    case 1:
        setFallbackDirection(BidiDirection::leftToRight);
        break;
    case 2:
        setFallbackDirection(BidiDirection::rightToLeft);
        break;
    default:
        break;
    }
}

} // namespace veldatron
