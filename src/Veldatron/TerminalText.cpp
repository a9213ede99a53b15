#include "Terminal.h"

#include "UnicodeUtil.h"

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

// A row that holds nothing but plain empty cells (a background colour is content).
bool isBlankRow(const BufferLine& line) {
    for (const CharData& cell : line.cells()) {
        if (cell.code() != 0 || cell.attribute() != Attribute()) {
            return false;
        }
    }
    return true;
}

LineFragment textFragment(std::u32string_view text, int64_t row, int64_t column) {
    return LineFragment{toUtf8(text), row, column, int64_t(text.size())};
}

LineFragment lineBreak(int64_t row) {
    return LineFragment{std::string("\n"), row, -1, 1};
}

} // namespace

std::u32string Terminal::translateBufferLineToString(Buffer& buffer, int row, int start, int end) {
    std::u32string text;
    if (row < 0 || row >= buffer.lines().count()) {
        return text;
    }
    const BufferLine& line = buffer.lines()[row];
    const int stop = std::min(line.getTrimmedLength(), end < 0 ? line.count() : end);
    for (int col = std::max(start, 0); col < stop; ++col) {
        const CharData& cell = line[col];
        // The empty right half of a wide character adds nothing.
        if (col > 0 && cell.code() == 0 && line[col - 1].width() == 2) {
            continue;
        }
        if (cell.code() == 0) {
            text.push_back(U' ');
        } else {
            text += character(cell.code());
        }
    }
    return text;
}

std::vector<Line> Terminal::_getSelectedLines(Position start, Position end, Buffer& buffer) {
    std::vector<Line> lines(1);
    std::vector<LineFragment> held;
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
    const auto addRow = [&](int64_t row, std::u32string_view text) {
        flushHeld();
        if (buffer.lines()[int(row)].isWrapped()) {
            lines.back().add(textFragment(text, row, 0));
        } else {
            lines.back().add(lineBreak(row - 1));
            lines.emplace_back();
            lines.back().add(textFragment(text, row, 0));
        }
    };

    const int count = buffer.lines().count();
    if (start.row < 0 || start.row >= count) {
        return lines;
    }
    const int64_t endRow = std::min<int64_t>(end.row, count - 1);
    const int firstRow = int(start.row);
    if (!isBlankRow(buffer.lines()[firstRow])) {
        const int stopCol = endRow == start.row ? int(end.col) : -1;
        lines.back().add(
            textFragment(translateBufferLineToString(buffer, firstRow, int(start.col), stopCol),
                         start.row, start.col));
    }
    for (int64_t row = start.row + 1; row < endRow; ++row) {
        const std::u32string text = translateBufferLineToString(buffer, int(row), 0, -1);
        const BufferLine& line = buffer.lines()[int(row)];
        if (isBlankRow(line)) {
            if (!line.isWrapped()) {
                held.push_back(lineBreak(row - 1));
            }
            held.push_back(textFragment(text, row, 0));
        } else {
            addRow(row, text);
        }
    }
    if (endRow > start.row && !isBlankRow(buffer.lines()[int(endRow)])) {
        addRow(endRow, translateBufferLineToString(buffer, int(endRow), 0, int(end.col)));
    }
    return lines;
}

} // namespace veldatron
