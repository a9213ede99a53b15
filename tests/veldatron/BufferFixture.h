#pragma once

// Screens written and read back as text, so that a test states a screen in a few lines:
//
//   auto buffer = makeBuffer({.cols = 10, .rows = 3, .scrollback = 100},
//                            {"hello worl", "~d", "prompt $"});
//   EXPECT_EQ(dumpRows(*buffer), (Rows{"hello worl", "~d", "prompt $"}));
//
// A row is its text; a leading "~" marks a row that continues the one above (isWrapped). Text is
// UTF-8; a character of width 2 takes two cells (the second the empty half: code 0, width 0), as
// the print path writes it. In dumps, empty cells inside a row read as spaces, the empty half of a
// wide character is left out, and trailing empty cells are trimmed.

#include "Buffer.h"
#include "BufferLine.h"
#include "UnicodeUtil.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron::testing {

using Rows = std::vector<std::string>;

inline constexpr char wrapMarker = '~';

// The scalars of a UTF-8 text (well-formed input only: tests write it).
inline std::u32string scalars(std::string_view utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = uint8_t(utf8[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length && i + size_t(k) < utf8.size(); ++k) {
            c = (c << 6) | (uint8_t(utf8[i + size_t(k)]) & 0x3F);
        }
        out.push_back(c);
        i += size_t(length);
    }
    return out;
}

inline std::string utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        UnicodeUtil::appendUtf8(out, c);
    }
    return out;
}

// Writes text into a row from `col`, a wide character into two cells; returns the column after it.
inline int writeText(BufferLine& line, int col, std::string_view text,
                     const Attribute& attribute = Attribute()) {
    for (char32_t c : scalars(text)) {
        const int width = UnicodeUtil::columnWidth(c) == 2 ? 2 : 1;
        line.set(col++, CharData(attribute, int32_t(c), width));
        if (width == 2) {
            line.set(col++, CharData(attribute, 0, 0));
        }
    }
    return col;
}

// The text of a row as a dump shows it (without the wrap marker).
inline std::string rowText(const BufferLine& line) {
    std::u32string text = line.translateToString(true, 0, -1, true);
    for (char32_t& c : text) {
        if (c == U'\0') {
            c = U' ';
        }
    }
    return utf8(text);
}

struct BufferSpec {
    int cols = 80;
    int rows = 25;
    std::optional<int> scrollback = std::nullopt;
    int tabStopWidth = 8;
};

// A screen whose ring holds `text`, oldest row first. Rows beyond the screen height become
// scrollback (yBase and yDisp at the first screen row); a shorter text is followed by blank rows.
// The cursor is at (0, 0) and the buffer's scroll callback fails the test until one is installed.
inline std::shared_ptr<Buffer> makeBuffer(const BufferSpec& spec, const Rows& text) {
    auto buffer = Buffer::create(spec.cols, spec.rows, spec.tabStopWidth, spec.scrollback,
                                 BidiPresentationState::Default);
    for (std::string_view row : text) {
        const bool wrapped = !row.empty() && row.front() == wrapMarker;
        BufferLinePtr line = buffer->getBlankLine(Attribute(), wrapped);
        writeText(*line, 0, wrapped ? row.substr(1) : row);
        buffer->lines().push(line);
    }
    while (buffer->lines().count() < spec.rows) {
        buffer->lines().push(buffer->getBlankLine(Attribute(), false));
    }
    const int base = std::max(0, buffer->lines().count() - spec.rows);
    buffer->setYBase(base);
    buffer->setYDisp(base);
    buffer->scroll = [](bool) { throw std::logic_error("unexpected scroll"); };
    return buffer;
}

inline std::shared_ptr<Buffer> makeBuffer(const BufferSpec& spec,
                                          std::initializer_list<std::string_view> text = {}) {
    return makeBuffer(spec, Rows(text.begin(), text.end()));
}

// The rows autowrap makes of one logical line at `cols` columns, in makeBuffer's notation: a
// wide character that does not fit in a row's last column starts the next row and leaves that
// column empty.
inline Rows wrapRows(std::string_view line, int cols) {
    Rows rows{""};
    int col = 0;
    for (char32_t c : scalars(line)) {
        const int width = UnicodeUtil::columnWidth(c) == 2 ? 2 : 1;
        if (col + width > cols) {
            rows.push_back(std::string(1, wrapMarker));
            col = 0;
        }
        UnicodeUtil::appendUtf8(rows.back(), c);
        col += width;
    }
    return rows;
}

// What the terminal does when the whole screen scrolls up one line (a line feed on the last row,
// or an autowrap there): the top row goes into the scrollback, or, with a full ring, the oldest
// row is recycled as the new bottom row. Installed as a buffer's scroll callback by tests of the
// print path.
inline void scrollWholeScreen(Buffer& buffer, bool isWrapped) {
    CircularBufferLineList& lines = buffer.lines();
    if (lines.isFull()) {
        lines.recycle(Attribute());
        lines[lines.count() - 1].setIsWrapped(isWrapped);
        if (buffer.hasScrollback()) {
            ++buffer.linesTop;
        }
    } else {
        lines.push(buffer.getBlankLine(Attribute(), isWrapped));
        buffer.setYBase(buffer.yBase() + 1);
        buffer.setYDisp(buffer.yBase());
    }
}

// The rows of the ring from `first` to the end (or to `first + count`), as makeBuffer takes them.
inline Rows dumpRows(Buffer& buffer, int first = 0, int count = -1) {
    const int end = count < 0 ? buffer.lines().count() : first + count;
    Rows rows;
    for (int i = first; i < end; ++i) {
        const BufferLine& line = buffer.lines()[i];
        std::string row = line.isWrapped() ? std::string(1, wrapMarker) : std::string();
        row += rowText(line);
        rows.push_back(std::move(row));
    }
    return rows;
}

// The screen rows only (ring indices yBase up).
inline Rows dumpScreen(Buffer& buffer) {
    return dumpRows(buffer, buffer.yBase(), buffer.rows());
}

// The logical lines of the ring: each row joined with the wrapped rows that follow it.
inline Rows logicalLines(Buffer& buffer) {
    Rows lines;
    for (int i = 0; i < buffer.lines().count(); ++i) {
        const BufferLine& line = buffer.lines()[i];
        std::string text = rowText(line);
        if (line.isWrapped() && !lines.empty()) {
            // Empty cells at the end of a wrapped row are padding (a wide character that did not
            // fit moved to the next row), not text.
            lines.back() += text;
        } else {
            lines.push_back(text);
        }
    }
    return lines;
}

// The columns that have a tab stop.
inline std::vector<int> tabStopColumns(const Buffer& buffer) {
    std::vector<int> columns;
    for (size_t i = 0; i < buffer.tabStops().size(); ++i) {
        if (buffer.tabStops()[i]) {
            columns.push_back(int(i));
        }
    }
    return columns;
}

// "x,y base=yBase disp=yDisp": where the cursor and the window are.
inline std::string cursorText(const Buffer& buffer) {
    return std::to_string(buffer.x()) + "," + std::to_string(buffer.y()) +
           " base=" + std::to_string(buffer.yBase()) + " disp=" + std::to_string(buffer.yDisp());
}

} // namespace veldatron::testing
