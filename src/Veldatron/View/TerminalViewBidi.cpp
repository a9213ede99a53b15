#include "TerminalBidi.h"
#include "TerminalView.h"

#include <utility>

namespace veldatron {

void TerminalView::setBidiHostPolicy(BidiHostPolicy policy) {
    m_bidiHostPolicy = policy;
    markWholeScreenDirty();
    queuePendingDisplay();
    updateCursorPosition();
}

std::shared_ptr<const BidiRowLayout> TerminalView::bidiRowLayout(int row, int cols) {
    const Buffer& buffer = std::as_const(*m_terminal).buffer();
    if (m_bidiHostPolicy != BidiHostPolicy::respectTerminal || row < 0 ||
        row >= buffer.lines().count()) {
        return nullptr;
    }
    const BidiPresentationState state = buffer.lines().row(row).bidiState();
    if (state.supportMode == BidiSupportMode::explicit_) {
        if (state.fallbackDirection == BidiDirection::rightToLeft) {
            return TerminalBidi::explicitRightToLeftLayout(row, buffer, cols, *m_terminal);
        }
        return nullptr;
    }
    const std::shared_ptr<const TerminalBidi::ParagraphResult> paragraph =
        TerminalBidi::paragraphResult(row, buffer, cols, *m_terminal, m_fontSet.serial());
    return paragraph ? paragraph->row(row) : nullptr;
}

int TerminalView::visualColumn(int row, int column) {
    const std::shared_ptr<const BidiRowLayout> layout = bidiRowLayout(row, m_terminal->cols());
    if (!layout || column < 0 || column >= int(layout->logicalToVisualCol.size())) {
        return column;
    }
    return layout->logicalToVisualCol[size_t(column)];
}

BidiDirection TerminalView::paragraphDirection(int row) {
    const Buffer& buffer = std::as_const(*m_terminal).buffer();
    if (m_bidiHostPolicy != BidiHostPolicy::respectTerminal || row < 0 ||
        row >= buffer.lines().count()) {
        return BidiDirection::leftToRight;
    }
    const BidiPresentationState state = buffer.lines().row(row).bidiState();
    if (state.supportMode == BidiSupportMode::explicit_) {
        return state.fallbackDirection;
    }
    const std::shared_ptr<const TerminalBidi::ParagraphResult> paragraph =
        TerminalBidi::paragraphResult(row, buffer, m_terminal->cols(), *m_terminal,
                                      m_fontSet.serial());
    return paragraph ? paragraph->baseDirection : state.fallbackDirection;
}

} // namespace veldatron
