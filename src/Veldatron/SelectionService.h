#pragma once

#include "FunctionRef.h"
#include "Position.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace veldatron {

class Buffer;
class TerminalServices;

// The selection of one terminal: which cells of its current screen are selected, how clicks,
// double and triple clicks, drags and shift-clicks grow it (by character, by word or bracketed
// expression, by whole rows), how it follows rows that scroll, and the text it covers. It holds
// no geometry and draws nothing; a view turns gestures into the operations below and renderers
// read `active`, `start` and `end`.
//
// Positions are buffer rows (0 = the oldest line of the ring) unless an operation takes `row`
// and `col` separately: those take a screen row and add the screen's display offset. The
// selection covers the cells from the earlier of `start` and `end` (included) up to the later
// one (excluded), in reading order; `start` is the anchor and lies after `end` when the
// selection was made backwards.
//
//        col 0 1 2 3 4 5 6 7 8 9
//   row 4    . . . s s s s s s s      start (3,4), end (5,6): row 4 from column 3,
//   row 5    s s s s s s s s s s      row 5 whole,
//   row 6    s s s s s e . . . .      row 6 up to column 4
//
// Every change announced goes to the host as TerminalDelegate::selectionChanged ("notify").
//
// Made with create(), which registers the service with its terminal: the terminal keeps a weak
// reference and moves or drops the selection from its scroll handlers. The view owns the service
// and the terminal, and must let the service go first. Single-threaded, like the terminal.
class SelectionService {
public:
    enum class SelectionMode : uint8_t { character, word, row };
    // Which way extendToWordBoundary looks from a position.
    enum class Direction : uint8_t { left, right };
    // The span chosen by a double click.
    struct WordSelectionAnchor {
        Position start;
        Position end;
        friend bool operator==(const WordSelectionAnchor&, const WordSelectionAnchor&) = default;
    };
    // The character of a cell that was never written.
    static constexpr char32_t nullChar = U'\0';

    static std::shared_ptr<SelectionService> create(TerminalServices& terminal);
    SelectionService(const SelectionService&) = delete;
    SelectionService& operator=(const SelectionService&) = delete;

    // ---- State ------------------------------------------------------------------------------
    bool active() const { return m_active; }
    // A change notifies; writing false (changed or not) also drops the pivot.
    void setActive(bool active);
    // Active, and notify even when it already was.
    void setActiveAndNotify();
    bool hasSelectionRange() const { return m_hasSelectionRange; }
    bool isMultiLine() const { return m_start.row != m_end.row; }
    const Position& start() const { return m_start; }
    const Position& end() const { return m_end; }
    // Each moves one end and updates hasSelectionRange; nothing is notified.
    void setStart(Position start);
    void setEnd(Position end);
    // The fixed point of pivotExtend; present at (0, 0) until the host or a deactivation changes
    // it.
    const std::optional<Position>& pivot() const { return m_pivot; }
    void setPivot(std::optional<Position> pivot) { m_pivot = pivot; }
    const std::optional<WordSelectionAnchor>& wordSelectionAnchor() const {
        return m_wordSelectionAnchor;
    }
    const std::optional<int64_t>& rowSelectionAnchor() const { return m_rowSelectionAnchor; }
    bool selectingRows() const { return m_selectingRows; }
    void setSelectingRows(bool on) { m_selectingRows = on; }
    SelectionMode selectionMode() const { return m_selectionMode; }
    void setSelectionMode(SelectionMode mode) { m_selectionMode = mode; }

    // ---- Starting and setting ---------------------------------------------------------------
    // A fresh character selection, empty, at a screen position.
    void startSelection(int64_t row, int64_t col);
    // An empty character selection at `start`; the pivot stays.
    void startSelection();
    // start = end = the position, active, empty; mode and anchors stay.
    void setSoftStart(int64_t row, int64_t col);
    void setSoftStart(Position bufferPosition);
    // Both ends clamped from above (clamp), active; mode and anchors stay. Shows a find result.
    void setSelection(Position start, Position end);
    // The column at most the buffer's last column and the row at most its last line; nothing is
    // raised.
    static Position clamp(const Buffer& buffer, Position position);
    // From the top of the scrollback to the last column of the ring's last possible row.
    void selectAll();
    // The whole buffer row, in row mode, anchored there for drags and shift-clicks.
    void select(int64_t row);
    // The double click: the run of word characters, blanks or never-written cells around the
    // position, a bracketed expression from the bracket under it, or nothing; then word mode,
    // anchored on what was chosen.
    void selectWordOrExpression(Position at, Buffer& buffer);
    // start and end around the run of cells of the position's row whose characters satisfy
    // `includeFunc`.
    void simpleScanSelection(Position from, Buffer& buffer,
                             FunctionRef<bool(const std::u32string&)> includeFunc);
    // From the opening bracket at `from` to its match, looking no further than the bottom of the
    // visible screen; empty at `from` without one.
    void balancedSearchForward(Position from, Buffer& buffer);
    // From the closing bracket at `from` back to its match, up into the scrollback; empty at
    // `from` without one.
    void balancedSearchBackward(Position from, Buffer& buffer);
    // The first cell (left) or the cell after the last one (right) of the run of the position's
    // character class; the position itself for a character that starts no run.
    Position extendToWordBoundary(Position position, Buffer& buffer, Direction direction);
    // Inactive, character mode, no anchors; start and end stay. Nothing when already inactive.
    void selectNone();

    // ---- Extending --------------------------------------------------------------------------
    // Shift-click: grows the selection to the position, swapping the anchor to the other end
    // when the position lies beyond it.
    void shiftExtend(int64_t row, int64_t col);
    void shiftExtend(Position bufferPosition);
    // Drag: moves the end, by word or row as the mode says; a double-clicked span stays selected.
    void dragExtend(int64_t row, int64_t col);
    void dragExtend(Position bufferPosition);
    // From the pivot to the position, whichever way round; nothing without a pivot.
    void pivotExtend(int64_t row, int64_t col);
    void pivotExtend(Position bufferPosition);

    // ---- Scrolling (the terminal calls these) -----------------------------------------------
    // The content of buffer rows top..bottom moved up by `lines` (down when negative): a
    // selection inside moves with it, one that straddles the region or leaves it is dropped.
    void adjustForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines);
    // Only the columns left..right of rows top..bottom moved: a selection touching them is
    // dropped.
    void invalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int64_t left,
                                             int64_t right);

    // ---- Reading ----------------------------------------------------------------------------
    // The selected text (UTF-8), whether active or not; logical lines end with "\n", trailing
    // blank rows leave nothing. A later end on the last column includes that column, as the view
    // shows it.
    std::string getSelectedText() const;
    // "[Selection (active=true, start=col=0 row=0 end=col=3 row=0 hasSR=true pivot=nil)]"
    std::string debugDescription() const;

private:
    explicit SelectionService(TerminalServices& terminal) : m_terminal(terminal) {}

    // The character of a cell; the empty right half of a wide character reads as that character,
    // so that runs and clicks treat the character as one.
    std::u32string characterAt(Buffer& buffer, Position at) const;
    void setRowSelection(int64_t from, int64_t through);
    // Inactive (notifying), no pivot, character mode, no anchors; start and end stay.
    void clearSelection();
    Buffer& currentBuffer() const;
    int cols() const;

    TerminalServices& m_terminal;
    bool m_active = false;
    bool m_hasSelectionRange = false;
    Position m_start;
    std::optional<Position> m_pivot = Position{};
    std::optional<WordSelectionAnchor> m_wordSelectionAnchor;
    std::optional<int64_t> m_rowSelectionAnchor;
    Position m_end;
    bool m_selectingRows = false;
    SelectionMode m_selectionMode = SelectionMode::character;
};

} // namespace veldatron
