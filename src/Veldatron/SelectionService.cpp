#include "SelectionService.h"

#include "Buffer.h"
#include "TerminalServices.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <vector>

namespace veldatron {

namespace {

// What a run of cells started from a character is made of (a double click, a word extension).
enum class RunClass : uint8_t {
    nul,   // never-written cells
    space, // blanks
    word,  // letters and numbers, continued by ".", "_" and "-" as well
    none,  // anything else starts no run
};

// Letters and numbers as the first scalar of the character has them: Alphabetic, or any
// numeric type (digits, numerals such as U+2167, fractions).
bool isLetterOrNumber(const std::u32string& character) {
    if (character.empty()) {
        return false;
    }
    const auto scalar = UChar32(character.front());
    return u_hasBinaryProperty(scalar, UCHAR_ALPHABETIC) ||
           u_getIntPropertyValue(scalar, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

RunClass classOf(const std::u32string& character) {
    if (character.size() == 1 && character.front() == SelectionService::nullChar) {
        return RunClass::nul;
    }
    if (character == U" ") {
        return RunClass::space;
    }
    return isLetterOrNumber(character) ? RunClass::word : RunClass::none;
}

bool continuesRun(RunClass run, const std::u32string& character) {
    switch (run) {
    case RunClass::nul:
    case RunClass::space:
        return classOf(character) == run;
    case RunClass::word:
        return character == U"." || character == U"_" || character == U"-" ||
               isLetterOrNumber(character);
    case RunClass::none:
        break;
    }
    return false;
}

// The closing bracket an opening one expects, and the other way round; 0 for other characters.
char32_t closingFor(const std::u32string& character) {
    return character == U"(" ? U')' : character == U"[" ? U']' : character == U"{" ? U'}' : 0;
}
char32_t openingFor(const std::u32string& character) {
    return character == U")" ? U'(' : character == U"]" ? U'[' : character == U"}" ? U'{' : 0;
}

// One step of a bracket match: pushes what `character` opens, pops what it closes; true when the
// outermost bracket is closed.
bool matchBracket(std::vector<char32_t>& expected, const std::u32string& character,
                  char32_t (*opens)(const std::u32string&)) {
    if (const char32_t other = opens(character)) {
        expected.push_back(other);
        return false;
    }
    if (!expected.empty() && character.size() == 1 && character.front() == expected.back()) {
        expected.pop_back();
        return expected.empty();
    }
    return false;
}

std::string boolText(bool value) {
    return value ? "true" : "false";
}

} // namespace

std::shared_ptr<SelectionService> SelectionService::create(TerminalServices& terminal) {
    std::shared_ptr<SelectionService> service(new SelectionService(terminal));
    terminal.registerSelection(service);
    return service;
}

Buffer& SelectionService::currentBuffer() const {
    return m_terminal.buffer();
}

int SelectionService::cols() const {
    return m_terminal.cols();
}

std::u32string SelectionService::characterAt(Buffer& buffer, Position at) const {
    const CharData cell = buffer.getCharAtBufferRelative(at);
    if (cell.code() == 0 && cell.width() == 0 && at.col > 0) {
        const CharData left = buffer.getCharAtBufferRelative({at.col - 1, at.row});
        if (left.width() == 2) {
            return m_terminal.character(left.code());
        }
    }
    return m_terminal.character(cell.code());
}

// ---- State ----------------------------------------------------------------------------------

void SelectionService::setActive(bool active) {
    if (active != m_active) {
        m_active = active;
        m_terminal.selectionChanged();
    }
    if (!active) {
        m_pivot.reset();
    }
}

void SelectionService::setActiveAndNotify() {
    m_active = true;
    m_terminal.selectionChanged();
}

void SelectionService::setStart(Position start) {
    m_start = start;
    m_hasSelectionRange = m_start != m_end;
}

void SelectionService::setEnd(Position end) {
    m_end = end;
    m_hasSelectionRange = m_start != m_end;
}

std::string SelectionService::debugDescription() const {
    return "[Selection (active=" + boolText(m_active) + ", start=" + m_start.debugDescription() +
           " end=" + m_end.debugDescription() + " hasSR=" + boolText(m_hasSelectionRange) +
           " pivot=" + (m_pivot ? m_pivot->debugDescription() : std::string("nil")) + ")]";
}

// ---- Starting and setting -------------------------------------------------------------------

void SelectionService::startSelection(int64_t row, int64_t col) {
    setSoftStart(Position{col, row + currentBuffer().yDisp()});
    m_selectingRows = false;
    m_selectionMode = SelectionMode::character;
    m_wordSelectionAnchor.reset();
    m_rowSelectionAnchor.reset();
    setActiveAndNotify();
}

void SelectionService::startSelection() {
    m_end = m_start;
    m_hasSelectionRange = false;
    m_selectingRows = false;
    m_selectionMode = SelectionMode::character;
    m_wordSelectionAnchor.reset();
    m_rowSelectionAnchor.reset();
    setActiveAndNotify();
}

void SelectionService::setSoftStart(int64_t row, int64_t col) {
    setSoftStart(Position{col, row + currentBuffer().yDisp()});
}

void SelectionService::setSoftStart(Position bufferPosition) {
    m_start = bufferPosition;
    m_end = bufferPosition;
    m_active = true;
    m_hasSelectionRange = false;
    m_terminal.selectionChanged();
}

Position SelectionService::clamp(const Buffer& buffer, Position position) {
    return Position{std::min<int64_t>(position.col, buffer.cols() - 1),
                    std::min<int64_t>(position.row, std::max(buffer.lines().count() - 1, 0))};
}

void SelectionService::setSelection(Position start, Position end) {
    const Buffer& buffer = currentBuffer();
    m_start = clamp(buffer, start);
    m_end = clamp(buffer, end);
    m_hasSelectionRange = m_start != m_end;
    setActiveAndNotify();
}

void SelectionService::selectAll() {
    m_start = Position{0, 0};
    m_end = Position{cols() - 1, currentBuffer().lines().maxLength() - 1};
    m_hasSelectionRange = m_end != Position{0, 0};
    setActiveAndNotify();
}

void SelectionService::select(int64_t row) {
    m_start = Position{0, row};
    m_end = Position{cols() - 1, row};
    m_hasSelectionRange = cols() != 1;
    m_selectingRows = true;
    m_selectionMode = SelectionMode::row;
    m_wordSelectionAnchor.reset();
    m_rowSelectionAnchor = row;
    setActiveAndNotify();
}

void SelectionService::setRowSelection(int64_t from, int64_t through) {
    m_start = Position{0, std::min(from, through)};
    m_end = Position{cols() - 1, std::max(from, through)};
    m_hasSelectionRange = from != through || cols() != 1;
}

Position SelectionService::extendToWordBoundary(Position position, Buffer& buffer,
                                                Direction direction) {
    // Columns outside the row read as never-written cells; the scan starts inside it, so that a
    // wild column costs no more than a row.
    Position at{std::clamp<int64_t>(position.col, 0, cols()), position.row};
    const RunClass run = classOf(characterAt(buffer, at));
    if (run == RunClass::none) {
        return position;
    }
    if (direction == Direction::left) {
        while (at.col > 0 && continuesRun(run, characterAt(buffer, {at.col - 1, at.row}))) {
            --at.col;
        }
    } else {
        while (at.col < cols() && continuesRun(run, characterAt(buffer, at))) {
            ++at.col;
        }
    }
    return at;
}

void SelectionService::simpleScanSelection(Position from, Buffer& buffer,
                                           FunctionRef<bool(const std::u32string&)> includeFunc) {
    Position first{std::clamp<int64_t>(from.col, 0, cols()), from.row};
    Position after = first;
    while (first.col > 0 && includeFunc(characterAt(buffer, {first.col - 1, first.row}))) {
        --first.col;
    }
    while (after.col < cols() && includeFunc(characterAt(buffer, after))) {
        ++after.col;
    }
    m_start = first;
    m_end = after;
    m_hasSelectionRange = m_start != m_end;
}

void SelectionService::balancedSearchForward(Position from, Buffer& buffer) {
    m_start = from;
    m_hasSelectionRange = from != m_end;
    // Down to the bottom of the visible screen, not beyond.
    const int64_t bottom =
        std::min<int64_t>(int64_t(buffer.yDisp()) + buffer.rows(), buffer.lines().count());
    std::vector<char32_t> expected;
    for (int64_t row = std::max<int64_t>(from.row, 0); row < bottom; ++row) {
        const int64_t firstCol = row == from.row ? std::max<int64_t>(from.col, 0) : 0;
        for (int64_t col = firstCol; col < cols(); ++col) {
            if (matchBracket(expected, characterAt(buffer, {col, row}), closingFor)) {
                m_end = Position{col + 1, row};
                m_hasSelectionRange = m_start != m_end;
                return;
            }
        }
    }
    m_start = from;
    m_end = from;
    m_hasSelectionRange = false;
}

void SelectionService::balancedSearchBackward(Position from, Buffer& buffer) {
    m_end = from;
    m_hasSelectionRange = from != m_start;
    // Up through the scrollback to its oldest line.
    std::vector<char32_t> expected;
    for (int64_t row = std::min<int64_t>(from.row, buffer.lines().count() - 1); row >= 0; --row) {
        const int64_t lastCol =
            row == from.row ? std::min<int64_t>(from.col, cols() - 1) : cols() - 1;
        for (int64_t col = lastCol; col >= 0; --col) {
            if (matchBracket(expected, characterAt(buffer, {col, row}), openingFor)) {
                m_end = Position{from.col + 1, from.row};
                m_start = Position{col, row};
                m_hasSelectionRange = m_start != m_end;
                return;
            }
        }
    }
    m_start = from;
    m_end = from;
    m_hasSelectionRange = false;
}

void SelectionService::selectWordOrExpression(Position at, Buffer& buffer) {
    const Position p{std::clamp<int64_t>(at.col, 0, cols()), std::max<int64_t>(at.row, 0)};
    const std::u32string character = characterAt(buffer, p);
    if (const RunClass run = classOf(character); run != RunClass::none) {
        simpleScanSelection(p, buffer,
                            [run](const std::u32string& c) { return continuesRun(run, c); });
    } else if (closingFor(character) != 0) {
        balancedSearchForward(p, buffer);
    } else if (openingFor(character) != 0) {
        balancedSearchBackward(p, buffer);
    } else {
        m_start = p;
        m_end = p;
        m_hasSelectionRange = false;
    }
    m_selectionMode = SelectionMode::word;
    m_wordSelectionAnchor = WordSelectionAnchor{m_start, m_end};
    m_rowSelectionAnchor.reset();
    m_selectingRows = false;
    setActiveAndNotify();
}

void SelectionService::clearSelection() {
    setActive(false);
    m_selectionMode = SelectionMode::character;
    m_wordSelectionAnchor.reset();
    m_rowSelectionAnchor.reset();
    m_selectingRows = false;
}

void SelectionService::selectNone() {
    if (m_active) {
        clearSelection();
    }
}

// ---- Extending ------------------------------------------------------------------------------

void SelectionService::shiftExtend(int64_t row, int64_t col) {
    shiftExtend(Position{col, row + currentBuffer().yDisp()});
}

void SelectionService::shiftExtend(Position bufferPosition) {
    Position p = bufferPosition;
    if (m_selectionMode == SelectionMode::row) {
        setRowSelection(m_rowSelectionAnchor.value_or(m_start.row), p.row);
        setActiveAndNotify();
        return;
    }
    if (m_selectionMode == SelectionMode::word) {
        p = extendToWordBoundary(p, currentBuffer(),
                                 p < m_start ? Direction::left : Direction::right);
    }
    // A position beyond the anchor on its far side makes the old end the anchor, so the new
    // selection holds the old one.
    const bool beyondAnchor = m_start < m_end ? p < m_start : m_end < m_start && m_start < p;
    if (beyondAnchor) {
        m_start = m_end;
    }
    m_end = p;
    m_hasSelectionRange = m_start != m_end;
    setActiveAndNotify();
}

void SelectionService::dragExtend(int64_t row, int64_t col) {
    dragExtend(Position{col, row + currentBuffer().yDisp()});
}

void SelectionService::dragExtend(Position bufferPosition) {
    const Position p = bufferPosition;
    switch (m_selectionMode) {
    case SelectionMode::character:
        m_end = p;
        break;
    case SelectionMode::row:
        setRowSelection(m_rowSelectionAnchor.value_or(m_start.row), p.row);
        break;
    case SelectionMode::word:
        if (m_wordSelectionAnchor) {
            const auto [anchorStart, anchorEnd] = *m_wordSelectionAnchor;
            if (p < anchorStart) {
                m_start = extendToWordBoundary(p, currentBuffer(), Direction::left);
                m_end = anchorEnd;
            } else if (p <= anchorEnd) {
                m_start = anchorStart;
                m_end = anchorEnd;
            } else {
                m_start = anchorStart;
                m_end = extendToWordBoundary(p, currentBuffer(), Direction::right);
            }
        } else {
            m_end = extendToWordBoundary(p, currentBuffer(),
                                         p < m_start ? Direction::left : Direction::right);
        }
        break;
    }
    m_hasSelectionRange = m_start != m_end;
    setActiveAndNotify();
}

void SelectionService::pivotExtend(int64_t row, int64_t col) {
    pivotExtend(Position{col, row + currentBuffer().yDisp()});
}

void SelectionService::pivotExtend(Position bufferPosition) {
    if (!m_pivot) {
        return;
    }
    const Position pivot = *m_pivot;
    if (m_selectionMode == SelectionMode::row) {
        setRowSelection(pivot.row, bufferPosition.row);
        setActiveAndNotify();
        return;
    }
    Position q = bufferPosition;
    if (m_selectionMode == SelectionMode::word) {
        q = extendToWordBoundary(q, currentBuffer(),
                                 q < pivot ? Direction::left : Direction::right);
    }
    m_start = std::min(q, pivot);
    m_end = std::max(q, pivot);
    m_hasSelectionRange = m_start != m_end;
    setActiveAndNotify();
}

// ---- Scrolling ------------------------------------------------------------------------------

void SelectionService::adjustForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines) {
    if (!m_active || lines == 0) {
        return;
    }
    const int64_t low = std::min(m_start.row, m_end.row);
    const int64_t high = std::max(m_start.row, m_end.row);
    if (high < top || low > bottom) {
        return;
    }
    if (low < top || high > bottom) {
        clearSelection();
        return;
    }
    // Rows inside the region move with it; a row that the move carries out of the region takes
    // the selection with it.
    bool leftRegion = false;
    const auto moved = [&](int64_t row) {
        if (row < top || row > bottom) {
            return row;
        }
        const int64_t to = row - lines;
        leftRegion = leftRegion || to < top || to > bottom;
        return to;
    };
    Position start{m_start.col, moved(m_start.row)};
    Position end{m_end.col, moved(m_end.row)};
    std::optional<Position> pivot = m_pivot;
    if (pivot && (*pivot == m_start || *pivot == m_end)) {
        pivot->row = moved(pivot->row);
    }
    std::optional<WordSelectionAnchor> word = m_wordSelectionAnchor;
    if (word) {
        word->start.row = moved(word->start.row);
        word->end.row = moved(word->end.row);
    }
    std::optional<int64_t> rowAnchor = m_rowSelectionAnchor;
    if (rowAnchor) {
        rowAnchor = moved(*rowAnchor);
    }
    if (leftRegion) {
        clearSelection();
        return;
    }
    m_start = start;
    m_end = end;
    m_pivot = pivot;
    m_wordSelectionAnchor = word;
    m_rowSelectionAnchor = rowAnchor;
    m_hasSelectionRange = m_start != m_end;
    m_terminal.selectionChanged();
}

void SelectionService::invalidateForColumnRestrictedScroll(int64_t top, int64_t bottom,
                                                           int64_t left, int64_t right) {
    if (!m_active) {
        return;
    }
    const Position earlier = std::min(m_start, m_end);
    const Position later = std::max(m_start, m_end);
    if (later.row < top || earlier.row > bottom) {
        return;
    }
    if (earlier.row == later.row && (later.col < left || earlier.col > right)) {
        return;
    }
    clearSelection();
}

// ---- Reading --------------------------------------------------------------------------------

std::string SelectionService::getSelectedText() const {
    const Position earlier = std::min(m_start, m_end);
    Position later = std::max(m_start, m_end);
    if (earlier == later) {
        return {};
    }
    // The view shows a later end on the last column as selecting that column (a triple-clicked
    // row, select-all, a drag to the right edge); the text is what it shows.
    if (later.col == cols() - 1) {
        later.col = cols();
    }
    return m_terminal.getText(earlier, later);
}

} // namespace veldatron
