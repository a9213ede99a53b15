#include "Terminal.h"

#include <algorithm>

namespace veldatron {

// ---- Plain lines ----------------------------------------------------------------------------
// The print path's first tier (see Terminal.h): whole lines of printable ASCII, each ended by
// CR LF, as the parser hands them over after a CR LF.

void Terminal::feedPlainLines(PlainLines& plain) {
    // A copy the calls below never see stays in registers.
    PlainLines lines = plain;
    while (lines.available()) {
        if (!scrollPlainLines(lines)) {
            plainLineGeneral(lines.front());
            lines.pop();
        }
    }
    plain = lines;
}

bool Terminal::scrollPlainLines(PlainLines& taken) {
    PlainLines plain = taken;
    Buffer& buffer = *m_buffer;
    // Every line of the run starts at column 0 of the bottom row and only recycles the oldest
    // row of the ring; a host call could change that (start a selection, scroll the view), so
    // none is made until the run is written.
    if (buffer.x() != 0 || buffer.y() != m_rows - 1 || buffer.insertMode() ||
        m_putbackLength != 0 || translatesAscii() || !scrollsFullScreenIntoFullScrollback(buffer)) {
        return false;
    }
    CircularBufferLineList& lines = buffer.lines();
    const CharData& cell = asciiCell();
    const Attribute blank = scrollBlankAttribute();
    const int64_t firstRow = int64_t(m_rows - 1) + buffer.yDisp();
    const int64_t laterRows = int64_t(m_rows - 1) + buffer.yBase();
    BufferLine* row = &lines[buffer.yBase() + m_rows - 1];
    int64_t scrolls = 0;
    // Autowraps of the run's last line: a line that wraps ends the run, whose host calls then
    // come in the order of the general path (a scroll for each autowrap, then the line feed's).
    int64_t wraps = 0;
    // Rows written, marked for drawing once the run is written: the first line is written into
    // the bottom row as it was, every later one into the bottom row the scrolls made.
    bool wroteFirstRow = false;
    bool wroteLaterRows = false;
    CircularBufferLineList::Recycler recycler(lines, blank);
    for (; plain.available(); plain.pop()) {
        const std::span<const uint8_t> text = plain.front();
        if (!text.empty()) {
            if (text.size() <= size_t(m_cols)
                    ? text.size() > size_t(row->count())
                    : !wrapsPlainLine(lines, *row, text.size(), buffer.wraparound())) {
                break;
            }
            (scrolls == 0 ? wroteFirstRow : wroteLaterRows) = true;
            if (text.size() > size_t(m_cols)) {
                wraps = (text.size() - 1) / size_t(m_cols);
                row = writeWrappingPlainLine(recycler, row, text, cell);
                wroteLaterRows = true;
            } else {
                Buffer::writeLineCells(*row, text, cell);
            }
        }
        row = recycleIntoBottomRow(recycler, false, m_currentBidiState);
        ++scrolls;
        if (wraps != 0) {
            plain.pop();
            break;
        }
    }
    taken = plain;
    if (scrolls == 0) {
        return false;
    }
    if (wroteFirstRow) {
        markScrollInvariantRow(firstRow);
    }
    if (wroteLaterRows) {
        markScrollInvariantRow(laterRows);
    }
    buffer.linesTop += scrolls + wraps;
    buffer.setYDisp(buffer.yBase());
    m_refreshStart = std::min(m_refreshStart, 0);
    m_refreshEnd = std::max(m_refreshEnd, m_rows - 1);
    const auto scrolled = [&] {
        tell([&](TerminalDelegate& d) { d.scrolled(*this, buffer.yDisp()); });
    };
    for (int64_t i = 1; i < scrolls; ++i) {
        scrolled();
        emitLineFeed();
    }
    for (int64_t k = 0; k < wraps; ++k) {
        scrolled();
    }
    scrolled();
    emitLineFeed();
    return true;
}

bool Terminal::wrapsPlainLine(CircularBufferLineList& lines, const BufferLine& row, size_t length,
                              bool wraparound) const {
    if (!wraparound || row.count() < m_cols) {
        return false;
    }
    // Each autowrap recycles the oldest row. A row narrower than the screen would take what does
    // not fit in its last cell: that is left to the general path.
    const size_t autowraps = (length - 1) / size_t(m_cols);
    for (size_t i = 0; i < autowraps; ++i) {
        const BufferLine* next = lines.peek(int(i));
        if (next == nullptr || next->count() < m_cols) {
            return false;
        }
    }
    return true;
}

BufferLine* Terminal::writeWrappingPlainLine(CircularBufferLineList::Recycler& lines,
                                             BufferLine* row, std::span<const uint8_t> text,
                                             const CharData& cell) {
    while (text.size() > size_t(m_cols)) {
        Buffer::writeAsciiCells(*row, 0, text.first(size_t(m_cols)), cell);
        text = text.subspan(size_t(m_cols));
        row = recycleIntoBottomRow(lines, true, row->bidiState());
    }
    Buffer::writeLineCells(*row, text, cell);
    return row;
}

} // namespace veldatron
