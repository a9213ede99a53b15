#include "Terminal.h"

#include <algorithm>

namespace veldatron {

namespace {

int count(const ParserParams& pars) {
    return std::max(pars[0], 1);
}

// A wide character with a half on each side of column `col` cannot stay whole once the cells on
// one side move or are erased: both halves become `fill`.
void blankWideCharacterAcross(BufferLine& line, int col, const CharData& fill) {
    if (col > 0 && col < line.count() && line[col].width() == 0 && line[col - 1].width() == 2) {
        line.set(col - 1, fill);
        line.set(col, fill);
    }
}

// The same for every wide character that moving the cells from `at` to `right` by `by` columns
// (right for more than 0) would split: at `at`, where cells leave or enter past `right`, and at
// the margin itself.
void blankWideCharactersSplitByShift(BufferLine& line, int at, int by, int right,
                                     const CharData& fill) {
    blankWideCharacterAcross(line, at, fill);
    const int64_t inner = by > 0 ? int64_t(right) + 1 - by : int64_t(at) - by;
    if (inner > at && inner <= right) {
        blankWideCharacterAcross(line, int(inner), fill);
    }
    blankWideCharacterAcross(line, right + 1, fill);
}

// The same for erasing the cells start..<end.
void blankWideCharactersSplitByErase(BufferLine& line, int start, int end, const CharData& fill) {
    blankWideCharacterAcross(line, start, fill);
    blankWideCharacterAcross(line, end, fill);
}

} // namespace

// ---- Cells on the cursor row ----------------------------------------------------------------

void Terminal::cmdInsertChars(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    if (m_marginMode && (x < buffer.marginLeft() || x > buffer.marginRight())) {
        return;
    }
    if (x >= m_cols) {
        return;
    }
    const int right = m_marginMode ? buffer.marginRight() : m_cols - 1;
    BufferLine& line = buffer.lines()[buffer.yBase() + buffer.y()];
    blankWideCharactersSplitByShift(line, x, count(pars), right, erasedCell());
    line.insertCells(x, count(pars), right, erasedCell());
    updateRange(buffer, buffer.y());
}

void Terminal::cmdDeleteChars(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    int n = count(pars);
    if (m_marginMode) {
        if (x < buffer.marginLeft() || x > buffer.marginRight()) {
            return;
        }
        n = std::min(n, buffer.marginRight() - x + 1);
    }
    if (x >= m_cols) {
        return;
    }
    const int right = m_marginMode ? buffer.marginRight() : m_cols - 1;
    BufferLine& line = buffer.lines()[buffer.yBase() + buffer.y()];
    blankWideCharactersSplitByShift(line, x, -n, right, erasedCell());
    line.deleteCells(x, n, right, erasedCell());
    updateRange(buffer, buffer.y());
}

void Terminal::cmdEraseChars(const ParserParams& pars) {
    // Margins play no part; the pending-wrap column erases nothing.
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    BufferLine& line = buffer.lines()[buffer.yBase() + buffer.y()];
    const int end = int(std::min<int64_t>(int64_t(x) + count(pars), m_cols));
    blankWideCharactersSplitByErase(line, x, end, erasedCell());
    line.replaceCells(x, end, erasedCell());
    updateRange(buffer, buffer.y());
}

void Terminal::cmdEraseInLine(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    BufferLine& line = buffer.lines()[buffer.yBase() + buffer.y()];
    const int x = buffer.x();
    switch (pars[0]) {
    case 0:
        blankWideCharactersSplitByErase(line, x, m_cols, erasedCell());
        line.replaceCells(x, m_cols, erasedCell());
        break;
    case 1:
        blankWideCharactersSplitByErase(line, 0, x + 1, erasedCell());
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

// ---- The screen -----------------------------------------------------------------------------

void Terminal::cmdEraseInDisplay(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    switch (pars[0]) {
    case 0: {
        updateRange(buffer, y);
        BufferLine& line = buffer.lines()[buffer.yBase() + y];
        blankWideCharactersSplitByErase(line, x, m_cols, erasedCell());
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
        blankWideCharactersSplitByErase(line, 0, x + 1, erasedCell());
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
            buffer.linesTop = 0;
            buffer.setYBase(std::max(buffer.yBase() - dropped, 0));
            buffer.setYDisp(std::max(buffer.yDisp() - dropped, 0));
        }
        break;
    }
    default:
        break;
    }
}

void Terminal::resetBufferLine(int y, bool clearImages,
                               std::optional<BidiPresentationState> bidiState) {
    Buffer& buffer = *m_buffer;
    const int row = buffer.yBase() + y;
    BufferLine& line = buffer.lines()[row];
    if (clearImages) {
        buffer.clearImagesFromLine(row);
    }
    line.replaceCells(0, std::min(m_cols, line.count()), erasedCell());
    // An erased row holds no prompt: its marks would report, after `clear`, every earlier
    // prompt on an empty screen. Rows without marks keep their change count as before.
    if (!line.semanticMarks().empty() || line.semanticHardContinuationGroup()) {
        line.destroySemanticState();
    }
    line.setIsWrapped(false);
    line.setRenderMode(BufferLine::RenderLineMode::single);
    if (bidiState) {
        line.setBidiState(*bidiState);
    }
    updateRange(buffer, y);
}

// ---- Lines in the scroll region -------------------------------------------------------------

void Terminal::rotateRows(int top, int bottom, int n, RowEntry entry, const Attribute& fill) {
    CircularBufferLineList& lines = m_buffer->lines();
    const int height = bottom - top + 1;
    if (height <= 0 || top < 0 || bottom >= lines.count()) {
        return;
    }
    // Beyond the region's height every further row only replaces a blank by a blank.
    const int k = std::clamp(n, 0, height);
    if (k == 0) {
        return;
    }
    // The rows falling off come round to where the blank rows enter; nothing but the ring holds
    // them (mostly), so they become the blank rows in place, cell blocks and all.
    lines.rotateLines(top, bottom, entry == RowEntry::atTop ? k : -k);
    const int blanks = entry == RowEntry::atTop ? top : bottom - k + 1;
    const BufferLine& blank = prepareBlankLine(*m_buffer, false, m_buffer->defaultBidiState, fill);
    for (int row = blanks; row < blanks + k; ++row) {
        lines.resetLine(row, blank);
    }
}

void Terminal::shiftRowsWithinMargins(int top, int bottom, int n, RowEntry entry,
                                      const CharData& fill) {
    CircularBufferLineList& lines = m_buffer->lines();
    const int height = bottom - top + 1;
    if (height <= 0 || top < 0 || bottom >= lines.count()) {
        return;
    }
    const int left = m_buffer->marginLeft();
    const int width = m_buffer->marginRight() - left + 1;
    const int k = std::clamp(n, 0, height);
    if (entry == RowEntry::atTop) {
        for (int row = bottom; row >= top + k; --row) {
            lines[row].copyFrom(lines[row - k], left, left, width);
        }
        for (int row = top; row < top + k; ++row) {
            lines[row].fill(fill, left, width);
        }
    } else {
        for (int row = top; row <= bottom - k; ++row) {
            lines[row].copyFrom(lines[row + k], left, left, width);
        }
        for (int row = bottom - k + 1; row <= bottom; ++row) {
            lines[row].fill(fill, left, width);
        }
    }
}

void Terminal::cmdInsertLines(const ParserParams& pars) {
    insertOrDeleteLines(count(pars), RowEntry::atTop);
}

void Terminal::cmdDeleteLines(const ParserParams& pars) {
    restrictCursor(true);
    insertOrDeleteLines(std::min(count(pars), m_rows + 1), RowEntry::atBottom);
}

void Terminal::insertOrDeleteLines(int n, RowEntry entry) {
    // Rows enter at the cursor (IL) or at the region's bottom (DL); nothing outside the region.
    Buffer& buffer = *m_buffer;
    const int y = buffer.y();
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    if (y < scrollTop || y > scrollBottom) {
        return;
    }
    const bool insert = entry == RowEntry::atTop;
    const int row = buffer.yBase() + y;
    const int bottom = buffer.yBase() + scrollBottom;
    if (!m_marginMode) {
        rotateRows(row, bottom, n, entry, scrollBlankAttribute());
        selectionsAdjustForInPlaceScroll(row, bottom, insert ? -n : n);
        // After an insertion the first row pushed down no longer continues the new blank row.
        const std::optional<int> firstMoved =
            insert && y + n <= scrollBottom ? std::optional<int>(row + n) : std::nullopt;
        hardenBidiLineShiftBoundaries(row, firstMoved, bottom);
    } else if (buffer.x() >= buffer.marginLeft() && buffer.x() <= buffer.marginRight()) {
        shiftRowsWithinMargins(row, bottom, n, entry, erasedCell());
        selectionsInvalidateForColumnRestrictedScroll(row, bottom, buffer.marginLeft(),
                                                      buffer.marginRight());
    }
    updateRangeEdges(buffer, y, scrollBottom);
    if (scrollTop != 0 || scrollBottom != m_rows - 1) {
        updateRange(buffer, scrollTop);
    }
}

void Terminal::cmdScrollUp(const ParserParams& pars) {
    // Unlike a line feed at the bottom, SU never feeds the scrollback. The new rows take the
    // current background, as every erasure does: programs that scroll this way rely on it.
    Buffer& buffer = *m_buffer;
    const int n = std::min(count(pars), 2 * m_rows);
    const int top = buffer.yBase() + buffer.scrollTop();
    const int bottom = buffer.yBase() + buffer.scrollBottom();
    if (!m_marginMode) {
        rotateRows(top, bottom, n, RowEntry::atBottom, scrollBlankAttribute());
        selectionsAdjustForInPlaceScroll(top, bottom, n);
    } else {
        shiftRowsWithinMargins(top, bottom, n, RowEntry::atBottom, erasedCell());
        selectionsInvalidateForColumnRestrictedScroll(top, bottom, buffer.marginLeft(),
                                                      buffer.marginRight());
    }
    hardenBidiScrollBoundaries(false, n);
    updateRangeEdges(buffer, buffer.scrollTop(), buffer.scrollBottom());
}

void Terminal::cmdDeleteColumns(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    if (y < buffer.scrollTop() || y > buffer.scrollBottom() || x >= m_cols) {
        return;
    }
    if (m_marginMode && (x < buffer.marginLeft() || x > buffer.marginRight())) {
        return;
    }
    // Spaces, not empty cells: text taken from the screen has blanks there.
    shiftRegionColumns(x, -count(pars), CharData(scrollBlankAttribute(), ' ', 1), true);
}

void Terminal::shiftRegionColumns(int at, int by, const CharData& fill, bool endsWraps) {
    Buffer& buffer = *m_buffer;
    const int right = m_marginMode ? buffer.marginRight() : m_cols - 1;
    for (int row = buffer.scrollTop(); row <= buffer.scrollBottom(); ++row) {
        BufferLine& line = buffer.lines()[buffer.yBase() + row];
        blankWideCharactersSplitByShift(line, at, by, right, fill);
        if (by > 0) {
            line.insertCells(at, by, right, fill);
        } else {
            line.deleteCells(at, -by, right, fill);
        }
        if (endsWraps) {
            line.setIsWrapped(false);
        }
    }
    updateRangeEdges(buffer, buffer.scrollTop(), buffer.scrollBottom());
}

// ---- Repeat ---------------------------------------------------------------------------------

void Terminal::cmdRepeatPrecedingCharacter(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const bool resumed = buffer.resumeHeldCursor();
    const int x = buffer.x();
    const int n = std::min(count(pars), m_cols * m_rows * 2);
    CharData cell(Attribute(), 0, 1);
    if (x > 0) {
        // Right of a shorter line the line's last cell counts (operator[] reads it).
        const BufferLine& line = buffer.lines()[buffer.yBase() + buffer.y()];
        cell = line[x - 1];
        // Right after a wide character the cell left of the cursor is its empty half, which
        // would print nothing visible: the character itself is what was written last.
        if (cell.width() == 0 && x >= 2 && line[x - 2].width() == 2) {
            cell = line[x - 2];
        }
    }
    const std::optional<TinyAtom> payload =
        cell.hasPayload() ? std::optional<TinyAtom>(cell.payload()) : std::nullopt;
    const auto resolve = [payload] { return payload; };
    // Written as printed text is: autowrap, insert mode and scrolling at the bottom apply.
    updateRange(buffer, buffer.y());
    for (int i = 0; i < n; ++i) {
        buffer.insertCharacter(cell, resolve);
        updateRange(buffer, buffer.y());
    }
    if (resumed || buffer.x() != x) {
        buffer.holdCursorAtRightLimit();
    }
}

} // namespace veldatron
