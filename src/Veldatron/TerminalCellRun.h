#pragma once

#include "Terminal.h"

#include <algorithm>
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

    // The move of `final` (isMove) with its first two parameters (0 when omitted), as the
    // handlers dispatchCsi calls make it outside origin mode and margins.
    void move(std::uint8_t final, int first, int second) {
        const int count = std::max(first, 1);
        switch (final) {
        case 'A': {
            // Above the region the cursor may go on to the top of the screen.
            const int top = m_buffer.scrollTop();
            m_y = std::max(m_y - count, m_y >= top ? top : 0);
            return;
        }
        case 'B': {
            const int bottom = m_buffer.scrollBottom();
            m_y = std::min(m_y + count, m_y <= bottom ? bottom : m_buffer.rows() - 1);
            if (m_x >= m_cols) {
                m_x = m_cols - 1;
            }
            return;
        }
        case 'C':
            // Right of the last column (a pending wrap) the cursor may still reach the buffer's.
            m_x = std::min(m_x + count, m_x > m_cols - 1 ? m_buffer.cols() - 1 : m_cols - 1);
            return;
        case 'D':
            m_x = std::max(m_x - count, 0);
            return;
        case 'G':
            m_x = std::min(count - 1, m_cols - 1);
            return;
        case 'd':
            m_y = std::min(count - 1, m_rows - 1);
            return;
        default: // 'H'
            mark(m_y);
            m_x = std::clamp(std::max(second, 1) - 1, 0, m_cols - 1);
            m_y = std::clamp(count - 1, 0, m_rows - 1);
            mark(m_y);
            return;
        }
    }

    // The `n` (at least 1) bytes of printable ASCII at `text`, as handlePrint writes them when
    // they fit the cursor's row; false, writing nothing, when they do not.
    bool print(const std::uint8_t* text, int n) {
        const int rightLimit = m_buffer.cols() - 1;
        if (m_x > rightLimit || n > rightLimit - m_x + int(m_buffer.wraparound())) {
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
    const int m_cols;
    const int m_rows;
    int m_x = 0;
    int m_y = 0;
    int m_markedFirst = INT_MAX;
    int m_markedLast = -1;
    CharData m_cell;
    bool m_printed = false;
    bool m_active = false;
};

} // namespace veldatron
