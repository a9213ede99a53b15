#include "Terminal.h"

#include "Diagnostics.h"

#include <algorithm>
#include <vector>

namespace veldatron {

namespace {

bool collectIs(std::span<const uint8_t> collect, uint8_t byte) {
    return collect.size() == 1 && collect[0] == byte;
}

// The parameters from index `from` on (none when the list is shorter).
std::span<const int32_t> parametersFrom(const ParserParams& pars, int from) {
    const std::span<const int32_t> all = pars.values();
    return from < int(all.size()) ? all.subspan(size_t(from)) : std::span<const int32_t>();
}

} // namespace

// ---- Line render modes and the alignment pattern --------------------------------------------

void Terminal::setLineRenderMode(BufferLine::RenderLineMode mode) {
    Buffer& buffer = *m_buffer;
    buffer.lines()[buffer.yBase() + buffer.y()].setRenderMode(mode);
    updateRange(buffer, buffer.y());
}

void Terminal::cmdScreenAlignmentPattern() {
    setCursor(0, 0);
    // The colours of the current attribute, but no style: DECALN is a test pattern.
    Attribute attribute(m_curAttr.fg(), m_curAttr.bg());
    attribute.setUnderlineColor(m_curAttr.underlineColor());
    const CharData fill(attribute, 'E', 1);
    Buffer& buffer = *m_buffer;
    for (int row = 0; row < m_rows; ++row) {
        BufferLine& line = buffer.lines()[buffer.yBase() + row];
        line.fill(fill);
        line.setIsWrapped(false);
    }
    updateFullScreen();
    setCursor(0, 0);
}

// ---- Rectangles -----------------------------------------------------------------------------

std::optional<Terminal::Rectangle>
Terminal::getRectangleFromRequest(std::span<const int32_t> pars) const {
    const auto given = [&](size_t i) { return i < pars.size(); };
    const int top = given(0) && pars[0] >= 2 ? pars[0] : 1;
    const int left = given(1) && pars[1] >= 2 ? pars[1] : 1;
    // An explicit 0 is kept: a bottom or right of 0 names no rectangle.
    int bottom = std::min(given(2) && pars[2] >= 0 ? pars[2] : m_rows, m_rows);
    int right = std::min(given(3) && pars[3] >= 0 ? pars[3] : m_cols, m_cols);
    int originTop = top;
    int originLeft = left;
    if (m_originMode) {
        originTop += m_buffer->scrollTop();
        bottom += m_buffer->scrollTop();
        // The left margin counts only while it is in force, as for cursor addressing.
        if (m_marginMode) {
            originLeft += m_buffer->marginLeft();
            right += m_buffer->marginLeft();
        }
    }
    if (bottom < originTop || right < originLeft) {
        return std::nullopt;
    }
    return Rectangle{std::min(originTop - 1, m_rows - 1), std::min(originLeft - 1, m_cols - 1),
                     std::min(bottom - 1, m_rows - 1), std::min(right - 1, m_cols - 1)};
}

void Terminal::csiCopyRectangularArea(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collectIs(collect, '$')) {
        return;
    }
    const auto value = [&](int i, int fallback) { return i < pars.size() ? pars[i] : fallback; };
    const int32_t source[] = {
        std::max(value(0, 1), 1),
        std::max(value(1, 1), 1),
        value(2, 0) == 0 ? m_rows : value(2, 0),
        value(3, 0) == 0 ? m_cols : value(3, 0),
    };
    const int sourcePage = std::max(value(4, 1), 1);
    const int destinationTop = std::max(value(5, 1), 1);
    const int destinationLeft = std::max(value(6, 1), 1);
    const int destinationPage = std::max(value(7, 1), 1);
    // There is one page.
    if (sourcePage != 1 || destinationPage != 1) {
        return;
    }
    const std::optional<Rectangle> rect = getRectangleFromRequest(source);
    if (!rect) {
        return;
    }
    // Origin mode does not move the destination.
    const int top = std::min(destinationTop - 1, m_rows - 1);
    const int left = std::min(destinationLeft - 1, m_cols - 1);
    const int width = std::min(rect->right - rect->left + 1, m_cols - left);
    const int height = std::min(rect->bottom - rect->top + 1, m_rows - top);
    Buffer& buffer = *m_buffer;
    // Row by row, each row as one block move. Every source row must be read before it is written
    // (the areas may overlap), so a copy downwards goes from the bottom row up.
    const auto copyRow = [&](int k) {
        const BufferLine& from = buffer.lines()[buffer.yBase() + rect->top + k];
        BufferLine& to = buffer.lines()[buffer.yBase() + top + k];
        if (from.count() >= rect->left + width && to.count() >= left + width) {
            to.copyCellsFrom(from, rect->left, left, width);
            return;
        }
        // A row shorter than the screen: cell by cell, reading past its end as its last cell and
        // writing there into it, with the report that goes with that.
        std::vector<CharData> cells;
        for (int col = rect->left; col < rect->left + width; ++col) {
            cells.push_back(from[col]);
        }
        for (int i = 0; i < width; ++i) {
            to.set(left + i, cells[size_t(i)]);
        }
    };
    if (top > rect->top) {
        for (int k = height - 1; k >= 0; --k) {
            copyRow(k);
        }
    } else {
        for (int k = 0; k < height; ++k) {
            copyRow(k);
        }
    }
    updateRange(buffer, top);
    updateRange(buffer, top + height - 1);
}

void Terminal::csiX(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collectIs(collect, '$')) {
        logInfo("Not implemented CSI x with collect: collect=" + listText(collect) +
                " and pars=" + listText(pars.values()));
        return;
    }
    // DECFRA. Control characters never enter a cell: a copy of the screen would carry them into
    // a paste (ESC [ 201 ~ would end a bracketed paste early).
    int32_t code = pars[0];
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code < 0x20 ||
        (code >= 0x7F && code <= 0x9F)) {
        code = ' ';
    }
    const std::optional<Rectangle> rect = getRectangleFromRequest(parametersFrom(pars, 1));
    if (!rect) {
        return;
    }
    fillRectangle(*rect, CharData(m_curAttr, code, 1));
}

void Terminal::fillRectangle(const Rectangle& rect, const CharData& fill) {
    Buffer& buffer = *m_buffer;
    for (int row = rect.top; row <= rect.bottom; ++row) {
        buffer.lines()[buffer.yBase() + row].fill(fill, rect.left, rect.right - rect.left + 1);
    }
    updateRange(buffer, rect.top);
    updateRange(buffer, rect.bottom);
}

void Terminal::csiZ(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (collectIs(collect, '$')) {
        cmdDECERA(pars);
    } else if (collectIs(collect, '\'')) {
        static DiagnosticSite site;
        site.emit("TODO: Enable Locator Reporting (DECELR)");
    }
}

void Terminal::cmdDECERA(const ParserParams& pars) {
    if (const std::optional<Rectangle> rect = getRectangleFromRequest(pars.values())) {
        fillRectangle(*rect, CharData(m_curAttr, ' ', 1));
    }
}

void Terminal::csiOpenBrace(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (collectIs(collect, '$')) {
        cmdSelectiveEraseRectangularArea(pars);
    } else {
        logInfo("CSI # { not implemented - XTPUSHSGR with " + listText(pars.values()));
    }
}

void Terminal::cmdSelectiveEraseRectangularArea(const ParserParams& pars) {
    // No cell is protected, so every cell is erased; it keeps its colours and hyperlink.
    const std::optional<Rectangle> rect = getRectangleFromRequest(pars.values());
    if (!rect) {
        return;
    }
    Buffer& buffer = *m_buffer;
    for (int row = rect->top; row <= rect->bottom; ++row) {
        BufferLine& line = buffer.lines()[buffer.yBase() + row];
        if (line.count() > rect->right) {
            line.setValues(rect->left, rect->right + 1, ' ', 1);
            continue;
        }
        // A row shorter than the screen, cell by cell as set() clamps.
        for (int col = rect->left; col <= rect->right; ++col) {
            CharData cell = line[col];
            cell.setValue(' ', 1);
            line.set(col, cell);
        }
    }
    updateRange(buffer, rect->top);
    updateRange(buffer, rect->bottom);
}

void Terminal::csiCloseBrace(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (collectIs(collect, '\'')) {
        cmdInsertColumns(pars);
    } else {
        logInfo("CSI # } not implemented- XTPOPSGR with " + listText(pars.values()));
    }
}

void Terminal::cmdInsertColumns(const ParserParams& pars) {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    if (x > buffer.marginRight() || (m_marginMode && x < buffer.marginLeft())) {
        return;
    }
    shiftRegionColumns(x, std::max(pars[0], 1), CharData(Attribute::empty, ' ', 1), true);
}

} // namespace veldatron
