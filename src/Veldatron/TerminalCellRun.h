#pragma once

#include "Terminal.h"

#include <algorithm>
#include <array>
#include <climits>

namespace veldatron {

// A screen drawn cell by cell: cursor moves (CUU, CUD, CUF, CUB, CHA, CUP, VPA) and changes of
// colours (SGR), each followed by a character or a word of ASCII, many in a row. The parser hands
// such a run to this cursor, which keeps the column, the row and the rows it marked in registers
// and stores them once when the run ends: through the general entry points every move and every
// print would load them from the buffer and store them back, one sequence waiting on the stores
// of the last.
//
// Made by the parse loop, which stores it (store()) before the terminal hears of anything else.
// It takes only what dispatchCsi and handlePrint would do without another call: with origin
// mode, left and right margins, insert mode, a translating character set, a hyperlink or bytes
// carried over it is not active and the parser goes the general way. Moves, SGR and prints change
// none of those; other sequences within a run are stored around (ECH, EL, DECSC, and DECRC, after
// which the run reloads).
class Terminal::CellRun {
public:
    explicit CellRun(Terminal& terminal)
        : m_terminal(terminal), m_buffer(*terminal.m_buffer), m_cols(terminal.m_cols),
          m_rows(terminal.m_rows) {
        reload();
    }
    CellRun(const CellRun&) = delete;
    CellRun& operator=(const CellRun&) = delete;

    bool active() const { return m_active; }

    // Takes the cursor, the modes and the cell again after a sequence the run does not make
    // changed them (DECRC); false when the run can no longer go on.
    bool reload() {
        const Terminal& terminal = m_terminal;
        m_x = m_buffer.x();
        m_y = m_buffer.y();
        m_active = !terminal.m_originMode && !terminal.m_marginMode && !m_buffer.marginMode() &&
                   !m_buffer.insertMode() && terminal.m_putbackLength == 0 &&
                   !terminal.translatesAscii() && !terminal.m_activeHyperlink;
        if (m_active) {
            m_cell = m_terminal.asciiCell();
            m_bufferCols = m_buffer.cols();
            m_bufferRows = m_buffer.rows();
            m_scrollTop = m_buffer.scrollTop();
            m_scrollBottom = m_buffer.scrollBottom();
            m_wraparound = m_buffer.wraparound();
        }
        return m_active;
    }

    // Whether a final byte is an edit of the cursor's row that leaves the cursor where it is
    // (ECH, EL): the run stores its cursor and the sequence is dispatched as any other.
    static bool isEdit(std::uint8_t final) { return final == 'X' || final == 'K'; }

    // Whether a final byte is SGR, which changes only the attribute of the cells printed after it.
    static bool isAttributes(std::uint8_t final) { return final == 'm'; }

    // SGR with the parameters `pars` (no intermediates), as dispatchCsi makes it; the cells
    // printed after it take the new attribute.
    void setAttributes(const ParserParams& pars) {
        m_terminal.cmdCsiM(pars, {});
        m_cell = m_terminal.asciiCell();
    }

    // Whether a final byte is one of the moves this cursor makes.
    static bool isMove(std::uint8_t final) {
        // A B C D G H d
        constexpr std::uint64_t moves = 0xCFull << 1 | 1ull << ('d' - 0x40);
        const unsigned k = final - 0x40u;
        return k < 64 && ((moves >> k) & 1u) != 0;
    }

    // The move of `final` (isMove) with its first two parameters (0 when omitted, never
    // negative), as the handlers dispatchCsi calls make it outside origin mode and margins.
    //
    // Which move comes next is as random as the screen being drawn, so a switch on it
    // mispredicts on nearly every move: every candidate column and row is computed and the
    // final's entry in moveShapes picks one of each. The choices in between are masks rather
    // than conditions, which the compiler turns back into branches on the same random finals
    // and omitted values.
    void move(std::uint8_t final, int first, int second) {
        // The values are never negative: at least 1 in one addition.
        const int count = first + int(first == 0);
        const int absolute = -int(final == 'H');
        // CHA takes its column from the first value, CUP from the second.
        const int column = ((second + int(second == 0)) & absolute) | (count & ~absolute);
        const int xs[] = {
            m_x,
            // CUD: off a pending wrap onto the last column.
            std::min(m_x, m_cols - 1),
            // CUF: right of the last column (a pending wrap) the cursor may still reach the
            // buffer's.
            std::min(m_x + count, m_x > m_cols - 1 ? m_bufferCols - 1 : m_cols - 1),
            std::max(m_x - count, 0),
            std::min(column - 1, m_cols - 1),
        };
        const int ys[] = {
            m_y,
            // CUU: above the region the cursor may go on to the top of the screen.
            std::max(m_y - count, m_y >= m_scrollTop ? m_scrollTop : 0),
            std::min(m_y + count, m_y <= m_scrollBottom ? m_scrollBottom : m_bufferRows - 1),
            std::min(count - 1, m_rows - 1),
        };
        const std::uint8_t shape = moveShapes[final - 0x40u];
        // CUP marks the row it leaves and the row it reaches.
        const int oldY = m_y;
        m_x = xs[shape & 7u];
        m_y = ys[shape >> 3];
        m_markedFirst =
            std::min(m_markedFirst, (std::min(oldY, m_y) & absolute) | (INT_MAX & ~absolute));
        m_markedLast = std::max(m_markedLast, std::max(oldY, m_y) | ~absolute);
    }

    // The `n` (at least 1) bytes of printable ASCII at `text`, as handlePrint writes them when
    // they fit the cursor's row; false, writing nothing, when they do not.
    bool print(const std::uint8_t* text, int n) {
        const int rightLimit = m_bufferCols - 1;
        if (m_x > rightLimit || n > rightLimit - m_x + int(m_wraparound)) {
            return false;
        }
        BufferLine& line = m_buffer.lines()[m_buffer.yBase() + m_y];
        if (m_x + n > line.count()) {
            return false;
        }
        Buffer::writeAsciiCells(line, m_x, {text, static_cast<std::size_t>(n)}, m_cell);
        m_x += n;
        m_printed = true;
        mark(m_y);
        return true;
    }

    // Stores the cursor and the rows marked, as the moves and prints so far would have left
    // them: before any other sequence, and at the end of the run.
    void store() {
        m_buffer.endCellRun(m_x, m_y, m_printed);
        m_printed = false;
        if (m_markedFirst <= m_markedLast) {
            m_terminal.updateRangeEdges(m_buffer, m_markedFirst, m_markedLast);
            m_markedFirst = INT_MAX;
            m_markedLast = -1;
        }
    }

private:
    void mark(int y) {
        m_markedFirst = std::min(m_markedFirst, y);
        m_markedLast = std::max(m_markedLast, y);
    }

    Terminal& m_terminal;
    Buffer& m_buffer;
    // The column (low three bits) and the row (the bits above) move() takes for each final
    // from 0x40, as indices into its candidates; 0 keeps the cursor's.
    static constexpr std::array<std::uint8_t, 64> moveShapes = [] {
        std::array<std::uint8_t, 64> shapes{};
        shapes['A' - 0x40] = 1 << 3;
        shapes['B' - 0x40] = 1 | 2 << 3;
        shapes['C' - 0x40] = 2;
        shapes['D' - 0x40] = 3;
        shapes['G' - 0x40] = 4;
        shapes['H' - 0x40] = 4 | 3 << 3;
        shapes['d' - 0x40] = 3 << 3;
        return shapes;
    }();

    const int m_cols;
    const int m_rows;
    // The buffer's size, scrolling region and autowrap, which no sequence the run lets through
    // changes (DECRC, which brings autowrap back, reloads them).
    int m_bufferCols = 0;
    int m_bufferRows = 0;
    int m_scrollTop = 0;
    int m_scrollBottom = 0;
    int m_x = 0;
    int m_y = 0;
    int m_markedFirst = INT_MAX;
    int m_markedLast = -1;
    CharData m_cell;
    bool m_wraparound = false;
    bool m_printed = false;
    bool m_active = false;
};

} // namespace veldatron
