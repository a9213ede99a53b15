#include "Terminal.h"

#include "StringEncoding.h"
#include "UnicodeUtil.h"

#include <climits>

namespace veldatron {

namespace {

std::string toUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        UnicodeUtil::appendUtf8(out, c);
    }
    return out;
}

// A column of a position as a cell index; columns beyond either end of any row saturate.
int cellColumn(int64_t column) {
    return int(std::clamp<int64_t>(column, 0, INT_MAX));
}

// Appends the text of the row's columns start..<end (-1: the whole row), up to its last
// non-empty cell, and answers the number of characters appended: one per cell, except the empty
// right half of a wide character, which adds nothing. Empty cells read as spaces.
int64_t appendRowText(const Terminal& terminal, const BufferLine& line, int start, int end,
                      std::u32string& out) {
    const int stop =
        std::min({line.getTrimmedLength(), end < 0 ? line.count() : end, line.count()});
    int64_t characters = 0;
    for (int col = std::max(start, 0); col < stop; ++col) {
        const int32_t code = line[col].code();
        if (code == 0) {
            if (col > 0 && line[col - 1].width() == 2) {
                continue;
            }
            out.push_back(U' ');
        } else if (code < 0x80) {
            out.push_back(char32_t(code));
        } else {
            out += terminal.character(code);
        }
        ++characters;
    }
    return characters;
}

LineFragment lineBreak(int64_t row) {
    return LineFragment{std::string("\n"), row, -1, 1};
}

} // namespace

std::u32string Terminal::translateBufferLineToString(Buffer& buffer, int row, int start, int end) {
    std::u32string text;
    if (row >= 0 && row < buffer.lines().count()) {
        appendRowText(*this, buffer.lines()[row], start, end, text);
    }
    return text;
}

std::vector<Line> Terminal::_getSelectedLines(Position start, Position end, Buffer& buffer) {
    std::vector<Line> lines(1);
    std::vector<LineFragment> held;
    const auto fragment = [&](int64_t row, int64_t startCol, int endCol) {
        std::u32string text;
        const int64_t characters =
            appendRowText(*this, buffer.lines()[int(row)], cellColumn(startCol), endCol, text);
        return LineFragment{toUtf8(text), row, startCol, characters};
    };
    // Blank rows are held back until a row with text follows, so a selection that ends in blank
    // rows leaves nothing for them.
    const auto flushHeld = [&] {
        for (size_t i = 0; i < held.size(); ++i) {
            if (i > 0 && held[i].line != held[i - 1].line) {
                lines.emplace_back();
            }
            lines.back().add(std::move(held[i]));
        }
        held.clear();
    };
    const auto addRow = [&](int64_t row, LineFragment text) {
        flushHeld();
        if (!buffer.lines()[int(row)].isWrapped()) {
            lines.back().add(lineBreak(row - 1));
            lines.emplace_back();
        }
        lines.back().add(std::move(text));
    };

    const int count = buffer.lines().count();
    if (start.row < 0 || start.row >= count) {
        return lines;
    }
    const int64_t endRow = std::min<int64_t>(end.row, count - 1);
    if (buffer.lines()[int(start.row)].hasAnyContent()) {
        lines.back().add(
            fragment(start.row, start.col, endRow == start.row ? cellColumn(end.col) : -1));
    }
    for (int64_t row = start.row + 1; row < endRow; ++row) {
        const BufferLine& line = buffer.lines()[int(row)];
        if (line.hasAnyContent()) {
            addRow(row, fragment(row, 0, -1));
            continue;
        }
        if (!line.isWrapped()) {
            held.push_back(lineBreak(row - 1));
        }
        held.push_back(LineFragment{std::string(), row, 0, 0});
    }
    if (endRow > start.row && buffer.lines()[int(endRow)].hasAnyContent()) {
        addRow(endRow, fragment(endRow, 0, cellColumn(end.col)));
    }
    return lines;
}

std::string Terminal::getText(Position start, Position end) {
    if (end < start) {
        std::swap(start, end);
    }
    Buffer& buffer = *m_buffer;
    if (start == end || start.row < 0 || start.row >= buffer.lines().count()) {
        return {};
    }
    end.row = std::min<int64_t>(end.row, buffer.lines().count() - 1);
    std::string text;
    for (const Line& line : _getSelectedLines(start, end, buffer)) {
        for (const LineFragment& fragment : line.fragments()) {
            text += fragment.text.value_or(std::string());
        }
    }
    return text;
}

std::vector<uint8_t> Terminal::getBufferAsData(BufferKind kind, StringEncoding encoding) {
    Buffer& buffer = kind == BufferKind::normal ? *m_normalBuffer
                     : kind == BufferKind::alt  ? *m_altBuffer
                                                : *m_buffer;
    StrictEncoder encoder(encoding);
    std::vector<uint8_t> data;
    std::u32string text;
    for (int row = 0; row < buffer.lines().count(); ++row) {
        text.clear();
        appendRowText(*this, buffer.lines()[row], 0, -1, text);
        // The line feed goes through the encoding too, so that it takes the encoding's form
        // (one 0x0A byte in every ASCII-compatible encoding). A line that cannot be encoded is
        // left out with it.
        text.push_back(U'\n');
        encoder.append(text, data);
    }
    return data;
}

} // namespace veldatron
