#include "Buffer.h"

#include <algorithm>

namespace veldatron {

void Buffer::wrapToNextRow() {
    if (m_y == m_scrollBottom) {
        // The owner scrolls the region and supplies the new bottom row, marked as wrapped.
        scroll(true);
        return;
    }
    // Below the scroll region the region must not move: the wrap goes down a row as a line feed
    // would there, and on the screen's last row stays on it.
    if (m_y > m_scrollBottom && m_y + 1 >= m_rows) {
        return;
    }
    const BidiPresentationState state = m_lines[m_yBase + m_y].bidiState();
    ++m_y;
    BufferLine& next = m_lines[m_yBase + m_y];
    next.setIsWrapped(true);
    next.setBidiState(state);
}

void Buffer::insertCharacter(CharData charData, PayloadResolver resolvePayload) {
    const int width = charData.width();
    const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
    if (m_x + width - 1 > rightLimit) {
        if (m_wraparound) {
            m_x = m_marginMode ? m_marginLeft : 0;
            wrapToNextRow();
        } else if (width == 2) {
            // No room for both halves and no wrap: the character is dropped.
            return;
        } else {
            m_x = rightLimit;
        }
    }

    BufferLine& line = m_lines[m_yBase + m_y];
    const CharData blank(m_curAttr, 0, 1);
    if (m_insertMode) {
        line.insertCells(m_x, width, rightLimit, blank);
        // A wide character pushed to the edge has lost its second half.
        if (line[std::min(m_cols - 1, line.count() - 1)].width() == 2) {
            line.set(m_cols - 1, blank);
        }
    }
    if (m_x >= m_cols) {
        m_x = m_cols - 1;
    }

    const TinyAtom payload = resolvePayload().value_or(TinyAtom());
    const uint8_t content = semanticContent.cellCode();
    charData.setPayload(payload);
    charData.setSemanticContentCode(content);
    line.set(m_x, charData);
    ++m_x;
    const CharData half(m_curAttr, 0, 0, payload, content);
    for (int i = 1; i < width && m_x < m_cols; ++i) {
        line.set(m_x, half);
        ++m_x;
    }
}

int Buffer::insertAsciiRun(std::span<const uint8_t> bytes, const Attribute& attribute,
                           PayloadResolver resolvePayload) {
    if (m_insertMode || bytes.empty()) {
        return 0;
    }
    const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
    const size_t total = bytes.size();
    size_t written = 0;
    CharData templ;
    bool resolved = false;
    while (written < total) {
        if (m_x > rightLimit) {
            if (!m_wraparound) {
                return int(written);
            }
            m_x = m_marginMode ? m_marginLeft : 0;
            if (m_x > rightLimit) {
                // Margins the terminal left crossed: no column takes text, so do not wrap forever.
                return int(written);
            }
            wrapToNextRow();
        }
        // The row is clamped once per chunk: the loop below writes no cell past the limit.
        const int chunk = int(std::min<size_t>(total - written, size_t(rightLimit - m_x + 1)));
        if (!resolved) {
            templ = CharData(attribute, 0, 1, resolvePayload().value_or(TinyAtom()),
                             semanticContent.cellCode());
            resolved = true;
        }
        BufferLine& line = m_lines[m_yBase + m_y];
        const uint8_t* codes = bytes.data() + written;
        const int inRow = std::clamp(line.m_count - m_x, 0, chunk);
        if (inRow > 0) {
            CharData::fillCodes(line.cellsForWrite(m_x, m_x + inRow), codes, size_t(inRow), templ);
            line.m_generation += uint64_t(inRow);
        }
        // A row narrower than the screen takes the rest as its subscript does: in its last cell.
        for (int i = inRow; i < chunk; ++i) {
            line.set(m_x + i, templ.withCode(codes[i]));
        }
        m_x += chunk;
        written += size_t(chunk);
    }
    return int(written);
}

} // namespace veldatron
