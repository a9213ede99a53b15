#include "Terminal.h"

#include "Diagnostics.h"

#include <algorithm>
#include <string>

namespace veldatron {

namespace {

const char* boolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

void Terminal::cmdIndex() {
    restrictCursor();
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    const int scrollBottom = buffer.scrollBottom();
    bool moved = false;
    if (y + 1 <= scrollBottom) {
        buffer.setY(y + 1);
        moved = true;
    } else if (y > scrollBottom) {
        // Below the region the cursor goes down to the last row and never scrolls the region,
        // as a line feed there does.
        if (y + 1 < m_rows) {
            buffer.setY(y + 1);
            moved = true;
        }
    } else if (!m_marginMode || (x >= buffer.marginLeft() && x <= buffer.marginRight())) {
        scroll(false);
        moved = true;
    }
    finishSemanticLineAdvance(moved);
}

void Terminal::reverseIndex() {
    restrictCursor(true);
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    if (y != scrollTop) {
        if (y > 0) {
            buffer.setY(y - 1);
        }
        return;
    }
    const int left = buffer.marginLeft();
    const int right = buffer.marginRight();
    if (m_marginMode && (x < left || x > right)) {
        return;
    }
    CircularBufferLineList& lines = buffer.lines();
    const int top = buffer.yBase() + scrollTop;
    const int bottom = buffer.yBase() + scrollBottom;
    if (top >= lines.count() || bottom >= lines.count()) {
        static DiagnosticSite site;
        site.emit("reverseIndex: start index " + std::to_string(top) + " >= lines.count " +
                  std::to_string(lines.count()) + ", state: y=" + std::to_string(y) + " yBase=" +
                  std::to_string(buffer.yBase()) + " scrollTop=" + std::to_string(scrollTop) +
                  " scrollBottom=" + std::to_string(scrollBottom) +
                  " isAlternate=" + boolText(isCurrentBufferAlternate()));
        return;
    }
    if (!m_marginMode || (left == 0 && right == m_cols - 1)) {
        rotateRows(top, bottom, 1, RowEntry::atTop, scrollBlankAttribute());
        selectionsAdjustForInPlaceScroll(top, bottom, -1);
    } else {
        const int width = right - left + 1;
        const auto settle = [&](int row) {
            BufferLine& line = lines[row];
            line.setIsWrapped(false);
            buffer.clearImagesFromLine(row);
            line.setRenderMode(BufferLine::RenderLineMode::single);
        };
        for (int row = bottom; row > top; --row) {
            lines[row].copyFrom(lines[row - 1], left, left, width);
            settle(row);
        }
        lines[top].fill(erasedCell(), left, width);
        settle(top);
        selectionsInvalidateForColumnRestrictedScroll(top, bottom, left, right);
    }
    updateRangeEdges(buffer, scrollTop, scrollBottom);
}

void Terminal::cmdScrollDown(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int n = std::clamp(pars[0], 1, m_rows);
    const int top = buffer.yBase() + buffer.scrollTop();
    const int bottom = buffer.yBase() + buffer.scrollBottom();
    if (m_marginMode) {
        // The column path is taken whatever the margins, full width included.
        shiftRowsWithinMargins(top, bottom, n, RowEntry::atTop, erasedCell());
        selectionsInvalidateForColumnRestrictedScroll(top, bottom, buffer.marginLeft(),
                                                      buffer.marginRight());
    } else {
        rotateRows(top, bottom, n, RowEntry::atTop, scrollBlankAttribute());
        selectionsAdjustForInPlaceScroll(top, bottom, -n);
    }
    hardenBidiScrollBoundaries(true, n);
    updateRangeEdges(buffer, buffer.scrollTop(), buffer.scrollBottom());
}

void Terminal::columnIndex(bool back) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    if (back) {
        if (x == buffer.marginLeft()) {
            columnScroll(true, x);
        } else {
            cursorBackward(1);
        }
        return;
    }
    if (x == buffer.marginRight()) {
        columnScroll(false, buffer.marginLeft());
    } else if (x != buffer.cols()) {
        cursorForward(1);
    }
}

void Terminal::columnScroll(bool back, int at) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    if (y < buffer.scrollTop() || y > buffer.scrollBottom() || x < buffer.marginLeft() ||
        x > buffer.marginRight()) {
        return;
    }
    // Back: the text moves right and a blank column enters at `at`; forward: it moves left and
    // the blank column enters at the right limit, with the current background.
    if (back) {
        shiftRegionColumns(at, 1, CharData(Attribute::empty, ' ', 1), false);
    } else {
        shiftRegionColumns(at, -1, CharData(scrollBlankAttribute(), ' ', 1), false);
    }
}

} // namespace veldatron
