#include "Terminal.h"

namespace veldatron {

// A paragraph is a run of rows joined by the wrap flag. A settings change reaches existing rows
// only at the very start of a paragraph, and moving rows across the edges of the scroll region
// breaks the flag there ("hardening"), so that text inside and outside the region never forms
// one paragraph.

void Terminal::setCurrentBidiState(BidiPresentationState state) {
    m_currentBidiState = state;
    m_normalBuffer->defaultBidiState = state;
    m_altBuffer->defaultBidiState = state;
}

void Terminal::applyCurrentBidiStateAtParagraphStart(BidiStateProperties properties) {
    Buffer& buffer = *m_buffer;
    CircularBufferLineList& lines = buffer.lines();
    const int start = buffer.yBase() + buffer.y();
    if (buffer.x() != 0 || start < 0 || start >= lines.count() || lines[start].isWrapped()) {
        return;
    }
    int end = start;
    while (end + 1 < lines.count() && lines[end + 1].isWrapped()) {
        ++end;
    }
    for (int row = start; row <= end; ++row) {
        BufferLine& line = lines[row];
        BidiPresentationState state = line.bidiState();
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
        line.setBidiState(state);
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
    setCurrentBidiState(state);
    applyCurrentBidiStateAtParagraphStart(BidiStateProperties::fallbackDirection);
    updateFullScreen();
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

void Terminal::restoreSavedPrivateModes(const ParserParams& pars) {
    BidiPresentationState state = m_currentBidiState;
    BidiStateProperties changed;
    for (int i = 0; i < pars.size(); ++i) {
        const auto saved = m_savedBidiPrivateModes.find(pars[i]);
        if (saved == m_savedBidiPrivateModes.end()) {
            continue;
        }
        switch (saved->first) {
        case 1243:
            m_bidiArrowKeySwap = saved->second;
            break;
        case 2500:
            state.boxMirroring = saved->second;
            changed.insert(BidiStateProperties::boxMirroring);
            break;
        case 2501:
            state.autodetectDirection = saved->second;
            changed.insert(BidiStateProperties::autodetectDirection);
            break;
        default:
            break;
        }
    }
    if (changed.isEmpty()) {
        return;
    }
    setCurrentBidiState(state);
    applyCurrentBidiStateAtParagraphStart(changed);
    updateFullScreen();
}

} // namespace veldatron
