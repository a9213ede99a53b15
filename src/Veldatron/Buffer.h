#pragma once

#include "Attribute.h"
#include "BidiPresentationState.h"
#include "BufferLine.h"
#include "CharData.h"
#include "CharSets.h"
#include "CircularBufferLineList.h"
#include "FunctionRef.h"
#include "Position.h"
#include "SemanticPrompt.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace veldatron {

// One screen of the terminal: the ring of rows (scrollback included), the cursor, the window
// over the ring, the scroll region, margins, tab stops, the saved cursor (DECSC), mirrors of the
// modes the print path needs and the shell-integration (OSC 133) state. The terminal owns two,
// the normal screen (with scrollback) and the alternate one (without), and drives them; selection,
// search and the renderers read them.
//
// Rows are addressed three ways:
//
//   ring index   0 ............................ count-1    (0 = oldest row kept)
//                [ scrollback ......][ screen rows ]
//   screen row                       0 ...... rows-1       ring index = yBase + row
//   viewport row          0 ... rows-1                     ring index = yDisp + row
//
// The cursor is in screen rows; its column may equal `cols` (the pending-wrap column after a
// character was printed in the last column).
//
// Held by std::shared_ptr (rows point back at their screen weakly); made with Buffer::create or
// std::make_shared. A Buffer made otherwise works, but its rows have no owning buffer. Owned by the
// terminal's thread; no locks.
class Buffer final : public std::enable_shared_from_this<Buffer> {
public:
    // The row holding the active prompt's start, with the kind and column of its origin mark.
    struct SemanticOrigin {
        BufferLinePtr line;
        SemanticPromptKind kind;
        int64_t column;
    };

    // Largest ring: rows plus scrollback never exceed this.
    static constexpr int maxRingLength = 2147483647;

    // A screen of `cols` x `rows` with `scrollback` history rows (none: no history, no reflow).
    // The scrollback is clamped to 0...maxRingLength - rows. The ring starts empty; the owner
    // fills it with fillViewportRows and installs `scroll`.
    Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback,
           BidiPresentationState bidiState);
    static std::shared_ptr<Buffer> create(int cols, int rows, int tabStopWidth,
                                          std::optional<int> scrollback,
                                          BidiPresentationState bidiState) {
        return std::make_shared<Buffer>(cols, rows, tabStopWidth, scrollback, bidiState);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // Size and ring.
    CircularBufferLineList& lines() { return m_lines; }
    const CircularBufferLineList& lines() const { return m_lines; }
    int cols() const { return m_cols; }
    int rows() const { return m_rows; }
    bool hasScrollback() const { return m_hasScrollback; }
    bool isReflowEnabled() const { return m_hasScrollback; }
    std::optional<int> scrollback() const { return m_scrollback; }

    // Cursor and window. The guarded setters ignore a negative value.
    int x() const { return m_x; }
    void setX(int x) { setIfNotNegative(m_x, x); }
    int y() const { return m_y; }
    void setY(int y) { setIfNotNegative(m_y, y); }
    int yDisp() const { return m_yDisp; }
    void setYDisp(int yDisp) { setIfNotNegative(m_yDisp, yDisp); }
    // Ring index of screen row 0; moved by this class and by the terminal's scrolling.
    int yBase() const { return m_yBase; }
    void setYBase(int yBase) { m_yBase = yBase; }
    int scrollTop() const { return m_scrollTop; }
    void setScrollTop(int row) { setIfNotNegative(m_scrollTop, row); }
    int scrollBottom() const { return m_scrollBottom; }
    void setScrollBottom(int row) { setIfNotNegative(m_scrollBottom, row); }
    // Not checked by the setters; construction, clear, softReset and resize keep
    // 0 <= marginLeft <= marginRight <= cols - 1.
    int marginLeft() const { return m_marginLeft; }
    void setMarginLeft(int column) { m_marginLeft = column; }
    int marginRight() const { return m_marginRight; }
    void setMarginRight(int column) { m_marginRight = column; }

    // Rows that have left the top of a full ring since construction or clear(); the terminal's
    // scroll counts them, and subtracts them to turn a scroll-invariant row number into a ring
    // index. 64 bits: a fast log passes 2^31 lines within minutes.
    int64_t linesTop = 0;
    int64_t totalLinesTrimmed() const { return linesTop; }

    // The saved cursor (DECSC).
    int savedX = 0;
    int savedY = 0;
    bool savedOriginMode = false;
    bool savedMarginMode = false;
    // A screen that never saved restores autowrap on, the terminal's initial state.
    bool savedWraparound = true;
    bool savedReverseWraparound = false;
    Attribute savedAttr;
    // The saved character set; null for none.
    const CharSetTable* savedCharset = nullptr;

    // Mirrors of IRM, DECLRMM and DECAWM, written by the terminal.
    bool insertMode() const { return m_insertMode; }
    void setInsertMode(bool on) { m_insertMode = on; }
    bool marginMode() const { return m_marginMode; }
    void setMarginMode(bool on) { m_marginMode = on; }
    bool wraparound() const { return m_wraparound; }
    void setWraparound(bool on) { m_wraparound = on; }
    // The screen's own blank attribute (Attribute::empty): insert-mode fill cells and the empty
    // half of a wide character.
    const Attribute& curAttr() const { return m_curAttr; }

    // OSC 133 state the terminal reads and writes directly.
    SemanticContent semanticContent = SemanticContent::none;
    SemanticInputState semanticInput = SemanticInputState::idle;
    SemanticPromptClickMode semanticClickMode = SemanticPromptClickMode::none;
    bool semanticUsesSpecialCursorKeys = false;
    // The active prompt group, 0 = none.
    uint64_t activeSemanticGroupID() const { return m_activeSemanticGroupID; }
    // How often the prompt start row had to be searched for.
    int semanticPromptRowScanCount() const { return m_semanticPromptRowScanCount; }
    // Content none, input idle, no click mode or special keys, no active prompt start row (the
    // group counter and the rows' marks stay).
    void resetSemanticState();

    // Bidirectional state given to every row the screen creates.
    BidiPresentationState defaultBidiState;

    // Called by the print path when an autowrap at the bottom of the scroll region needs a
    // scroll; the argument is the new row's wrap flag. The owner installs it right after
    // construction; calling the default one stops the program.
    std::function<void(bool)> scroll;

    // Rows.
    // A new row of `cols` blank cells (code 0, width 1) with the attribute, which is also its
    // fill character; defaultBidiState; owned by this screen.
    BufferLinePtr getBlankLine(const Attribute& attribute, bool isWrapped = false);
    // Only on an empty ring: pushes `rows` blank rows with the attribute (plain default when none).
    void fillViewportRows(std::optional<Attribute> attribute = std::nullopt);
    // A space with the attribute, Attribute::empty when none.
    CharData getNullCell(std::optional<Attribute> attribute = std::nullopt) const {
        return CharData(attribute.value_or(Attribute::empty), 32, 1);
    }
    // The ring size for `rows` screen rows: rows + scrollback capped at maxRingLength, or rows
    // without scrollback.
    int getCorrectBufferLength(int rows) const;
    // The cell at a viewport position; CharData::Null outside the row or the ring.
    CharData getChar(const Position& at);
    // The cell at a ring position; CharData::Null outside the row or the ring.
    CharData getCharAtBufferRelative(const Position& at);

    // Tab stops: one flag per column.
    const std::vector<bool>& tabStops() const { return m_tabStops; }
    // With index -1 (or any negative index): stops every tabStopWidth columns from column 0, all
    // others cleared. Otherwise the flags are cut to `cols` and regular stops are set from the
    // last stop before `index` (or from `index` when it is a stop) to the edge; earlier flags stay.
    // A width below 1 means 8.
    void setupTabStops(int index, int tabStopWidth);
    void tabSet(int pos);
    void tabClear(int pos);
    // The first stop after `index` (-1: the cursor column), or the right limit (marginRight in
    // margin mode, else cols - 1) when none comes before it.
    int nextTabStop(bool marginMode, int index = -1) const;
    // The last stop before `index` (-1: the cursor column), or 0.
    int previousTabStop(int index = -1) const;

    // Clearing and history.
    // Empties the screen in place (the alternate screen when it is left): a new empty ring,
    // cursor, window, region, margins and the OSC 133 group state reset.
    void clear();
    // The screen's share of DECSTR: saved cursor and margins reset.
    void softReset();
    // Drops the rows above the screen.
    void clearScrollback();
    // A new scrollback size (none: no history and no reflow); a smaller ring drops its oldest rows.
    void changeHistorySize(std::optional<int> scrollback);

    // Images.
    bool hasAnyImages() const { return m_linesWithImagesCount > 0; }
    // Appends an image to the row at a ring index (made when its slot is still empty); a row that
    // had none counts as a row with images from now on. Indexes outside the ring are ignored.
    void attachImage(std::shared_ptr<TerminalImage> image, int64_t index);
    // Removes the images of the row at a ring index.
    void clearImagesFromLine(int index);
    // Takes out of the row at a ring index the images `take` accepts, in their order. The row
    // keeps the others (none when nothing remains, and it no longer counts as a row with images);
    // its generation goes up when it lost any.
    BufferLine::Images
    takeImagesFromLine(int index, FunctionRef<bool(const std::shared_ptr<TerminalImage>&)> take);
    // Every image of every row, oldest row first, with its ring index. Rows whose slot was never
    // filled hold none and are not made.
    void forEachImage(
        FunctionRef<void(int index, const std::shared_ptr<TerminalImage>& image)> visit) const;
    void recalculateLinesWithImagesCount();
    // Installs the row factory and the callbacks on the ring.
    void setupLinesCallbacks();

    // Printing. The payload resolver returns the active hyperlink's handle (none for no link).
    using PayloadResolver = FunctionRef<std::optional<TinyAtom>()>;
    // Writes one prepared cell (width 0, 1 or 2) at the cursor and advances it: deferred
    // autowrap at the right limit (marginRight with DECLRMM, else the last column), insert mode,
    // the hyperlink payload and the OSC 133 content code. A wide character's second cell is an
    // empty half with the screen's blank attribute. `resolvePayload` is called once.
    void insertCharacter(CharData charData, PayloadResolver resolvePayload);
    // The same for any callable resolver; a character that fits before the right limit outside
    // insert mode (the common case) is written here, inline in the caller.
    template <typename Resolve> void insertCharacter(CharData charData, Resolve&& resolvePayload) {
        const int width = charData.width();
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        if (!m_insertMode && (width == 1 || width == 2) && m_x + width - 1 <= rightLimit) {
            BufferLine& line = m_lines[m_yBase + m_y];
            if (m_x + width <= line.m_count) {
                const TinyAtom payload = resolvePayload().value_or(TinyAtom());
                const uint8_t content = semanticContent.cellCode();
                charData.setPayload(payload);
                charData.setSemanticContentCode(content);
                CharData* cells = line.cellsForWrite(m_x, m_x + width);
                cells[0] = charData;
                if (width == 2) {
                    cells[1] = CharData(m_curAttr, 0, 0, payload, content);
                }
                line.m_generation += uint64_t(width);
                m_x += width;
                return;
            }
        }
        insertCharacter(charData, PayloadResolver(resolvePayload));
    }
    // Writes a cell of width 1 or 2 whose payload and content code are already set, with `half`
    // as the empty half of a wide one, when it fits before the right limit outside insert mode;
    // false (nothing written) otherwise, when insertCharacter must take it. What insertCharacter
    // would write, for the print path's cells of one run, which share attribute and payload.
    bool putCell(const CharData& cell, const CharData& half) {
        const int width = cell.width();
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        if (m_insertMode || width < 1 || width > 2 || m_x + width - 1 > rightLimit) {
            return false;
        }
        BufferLine& line = m_lines[m_yBase + m_y];
        if (m_x + width > line.m_count) {
            return false;
        }
        CharData* cells = line.cellsForWrite(m_x, m_x + width);
        cells[0] = cell;
        if (width == 2) {
            cells[1] = half;
        }
        line.m_generation += uint64_t(width);
        m_x += width;
        return true;
    }
    // The cells of a run of printable ASCII, each `templ` with a byte as its code, when they fit
    // the cursor's row before the right limit outside insert mode (and, without autowrap, end
    // before it); false (nothing written) otherwise, when insertAsciiRun must take them.
    bool putAsciiCells(std::span<const uint8_t> bytes, const CharData& templ) {
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        if (m_insertMode || bytes.empty() || m_x > rightLimit ||
            bytes.size() > size_t(rightLimit - m_x + int(m_wraparound))) {
            return false;
        }
        const int n = int(bytes.size());
        BufferLine& line = m_lines[m_yBase + m_y];
        if (m_x + n > line.m_count) {
            return false;
        }
        writeAsciiCells(line, m_x, bytes, templ);
        m_x += n;
        m_heldRow = -1;
        return true;
    }
    // The cursor a run of moves and prints left (Terminal::CellRun, which writes the cells with
    // writeAsciiCells); `printed` tells whether any print of the run wrote, as putAsciiCells would.
    void endCellRun(int x, int y, bool printed) {
        m_x = x;
        m_y = y;
        if (printed) {
            m_heldRow = -1;
        }
    }
    // The cells of `line` from column x take the bytes' codes on `templ`, one change each; the
    // caller has checked that they fit.
    static void writeAsciiCells(BufferLine& line, int x, std::span<const uint8_t> bytes,
                                const CharData& templ) {
        const int n = int(bytes.size());
        CharData::fillCodes(line.cellsForWrite(x, x + n), bytes.data(), size_t(n), templ);
        line.m_generation += uint64_t(n);
    }
    // writeAsciiCells from column 0 for a whole line of text, at least one character
    // (CharData::fillLineCodes).
    static void writeLineCells(BufferLine& line, std::span<const uint8_t> bytes,
                               const CharData& templ) {
        const int n = int(bytes.size());
        CharData::fillLineCodes(line.cellsForWrite(0, n), bytes.data(), size_t(n), templ);
        line.m_generation += uint64_t(n);
    }

    // The cursor's row as the print path writes a run of characters that need no wrap: the
    // cells from the cursor up to the right limit (or the row's end, when the row is narrower),
    // outside insert mode. The caller writes cells[x], cells[x + 1], ... below `end`, each cell
    // once and without gaps, then hands the column after the last one to endPrintSpan. Nothing
    // else may change the screen in between (the caller may rewrite a cell it wrote, and move
    // back over cells it wrote). Empty (end <= x) when no character fits.
    struct PrintSpan {
        CharData* cells = nullptr;
        int x = 0;
        int end = 0;
        BufferLine* line = nullptr;
    };
    PrintSpan beginPrintSpan() {
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        if (m_insertMode || m_x > rightLimit) {
            return {};
        }
        BufferLine& line = m_lines[m_yBase + m_y];
        const int end = std::min(rightLimit + 1, line.m_count);
        if (m_x >= end) {
            return {};
        }
        return {line.cellsForWrite(m_x, m_x) - m_x, m_x, end, &line};
    }
    // Ends a print span: the cursor moves to column `x`, the cells up to `written` are the
    // caller's, and the row counts `changes` changes (one per cell store, as writing the cells
    // one at a time would).
    void endPrintSpan(const PrintSpan& span, int x, int written, uint64_t changes) {
        span.line->cellsForWrite(span.x, written);
        span.line->m_generation += changes;
        m_x = x;
    }

    // Without autowrap no character waits to wrap: the cursor that printing left past the right
    // limit stays on the limit, on the character it just wrote. The next print resumes from the
    // column it was left at, where printing works as before: a mark or a joiner arriving in a
    // later read still finds that character, and the next character overwrites it. Both are for
    // the ends of a print (or a repeat); resume tells whether it took the cursor back.
    void holdCursorAtRightLimit() {
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        m_heldRow = -1;
        if (!m_wraparound && m_x > rightLimit) {
            m_heldX = m_x;
            m_heldRow = m_yBase + m_y;
            m_x = rightLimit;
        }
    }
    bool resumeHeldCursor() {
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        const bool held = m_heldRow == m_yBase + m_y && m_x == rightLimit && !m_wraparound;
        if (held) {
            m_x = m_heldX;
        }
        m_heldRow = -1;
        return held;
    }

    // Writes printable ASCII bytes (no character-set translation applies) as cells of width 1
    // with the attribute, wrapping as insertCharacter does, and returns how many it wrote: 0 in
    // insert mode, and fewer than given when autowrap is off and the right limit is reached.
    // `resolvePayload` is called at most once, before the first cell is written. Each row touched
    // is written in one block and its generation raised once by the number of cells.
    int insertAsciiRun(std::span<const uint8_t> bytes, const Attribute& attribute,
                       PayloadResolver resolvePayload);
    // The same for any callable resolver. A run that fits the cursor's row (most do) is written
    // here, inline in the caller; others take the general writer.
    template <typename Resolve>
    int insertAsciiRun(std::span<const uint8_t> bytes, const Attribute& attribute,
                       Resolve&& resolvePayload) {
        const int rightLimit = m_marginMode ? m_marginRight : m_cols - 1;
        if (!m_insertMode && !bytes.empty() && m_x <= rightLimit &&
            bytes.size() <= size_t(rightLimit - m_x + 1)) {
            const int n = int(bytes.size());
            BufferLine& line = m_lines[m_yBase + m_y];
            if (m_x + n <= line.m_count) {
                const CharData templ(attribute, 0, 1, resolvePayload().value_or(TinyAtom()),
                                     semanticContent.cellCode());
                CharData::fillCodes(line.cellsForWrite(m_x, m_x + n), bytes.data(), size_t(n),
                                    templ);
                line.m_generation += uint64_t(n);
                m_x += n;
                return n;
            }
        }
        return insertAsciiRun(bytes, attribute, PayloadResolver(resolvePayload));
    }

    // Resize. Changes the size in place: margins, ring capacity, row widths, rows taken back from
    // or pushed into the scrollback, cursor, tab-stop flags (one per column; the terminal adds the
    // new stops with setupTabStops and the old width), and with scrollback the reflow of wrapped
    // lines. The group of rows that holds the cursor is never reflowed. The caller has applied its
    // minimums and skips calls that change nothing.
    void resize(int newCols, int newRows);

    // Shell integration (OSC 133): prompt groups, the row where the active prompt starts (found
    // again by identity after rows move), and the questions the terminal asks about rows. Rows are
    // ring indices; a row outside the ring answers false, none or nothing and changes nothing.
    // Starts a new group (numbers count up from 1, never 0) whose prompt starts at the row.
    void beginSemanticPromptGroup(int originRow);
    // Whether a new initial prompt at the row may stay in the active group.
    bool canReuseSemanticGroup(int row);
    // Marks the row for the active group, the column clamped into the row.
    void setSemanticMark(SemanticPromptKind kind, int row, int64_t column);
    // The ring index of the active prompt's start row. Reading it may update the cached index, the
    // search counter and, when the row has left the ring or lost its marks, the start row itself.
    std::optional<int> semanticPromptStartRow();
    // The start row of the active prompt with its first initial mark, else its first secondary
    // mark; none without either.
    std::optional<SemanticOrigin> rawSemanticOrigin() const;
    // The cell where the active prompt starts.
    std::optional<Position> activeSemanticPromptOrigin();
    // The marks of a row as anchors, whatever their group.
    std::vector<SemanticPromptAnchor> semanticPromptMarks(int row);
    // `initial` for a row where a prompt starts, `continuation` for a row that continues one
    // (soft wraps, hard-continuation groups, continuation and secondary prompts), else none.
    std::optional<SemanticPromptKind> semanticRowKind(int row);
    bool rowContinuesActiveGroupHard(int row);
    // The origin a click at `position` is measured from: the last secondary prompt of the active
    // group at or before it, else the prompt's origin.
    std::optional<Position> semanticPromptRelativeOrigin(const Position& position);
    // The ring index of a row object, searched outward from the prompt row's cached index.
    std::optional<int> absoluteRow(const BufferLine& line);

private:
    friend class BufferLine;
    // Tests reach the group counter through it (counting to 2^64 is not an option).
    friend struct BufferTestAccess;

    // Reflow, with scrollback only: rows joined (wider) or split (narrower) per wrapped group.
    // New rows to insert at `start` of the final layout.
    struct InsertionSet {
        std::vector<BufferLinePtr> lines;
        int start = 0;
    };
    void reflowWider(int oldCols, int oldRows, int newCols, int newRows);
    void reflowNarrower(int oldCols, int oldRows, int newCols, int newRows);
    std::vector<int> getLinesToRemove(int oldCols, int newCols, int bufferAbsoluteY,
                                      const CharData& nullChar);
    std::vector<int> getNewLineLengths(std::span<const BufferLinePtr> wrappedLines, int oldCols,
                                       int newCols);
    // After a reflow: the screen on the bottom of the ring unless that would take it off the
    // cursor's row (now at ring index `cursorRow`), the window following it when it did before.
    void placeViewport(int cursorRow, int newRows);
    // Returns the number of rows that did not fit and were dropped from the top.
    int rearrange(const std::vector<InsertionSet>& toInsert, int countToInsert);

    // Moves the cursor down one row for an autowrap, marking that row as continuing this one, or
    // asks the owner to scroll at the bottom of the region.
    void wrapToNextRow();

    bool rowHasGroupOpeningMark(int row) const;
    std::optional<uint64_t> originMarkGroup(int row, std::optional<int> activeOrigin) const;
    std::optional<uint64_t> joiningMarkGroup(int row) const;
    std::optional<int> findSemanticPromptRebindRow() const;
    template <typename Test> std::optional<int> findRow(int near, Test test) const;

    static void setIfNotNegative(int& field, int value) {
        if (value >= 0) {
            field = value;
        }
    }

    void setSemanticPromptStartLine(BufferLinePtr line) {
        m_semanticPromptStartLine = std::move(line);
    }

    CircularBufferLineList m_lines;
    int m_yDisp = 0;
    int m_x = 0;
    int m_y = 0;
    int m_yBase = 0;
    // The ring row on whose right limit holdCursorAtRightLimit left the cursor (-1 for none), and
    // the column printing had left it at.
    int m_heldRow = -1;
    int m_heldX = 0;
    int m_linesWithImagesCount = 0;
    int m_scrollBottom;
    int m_scrollTop = 0;
    std::vector<bool> m_tabStops;
    int m_marginLeft = 0;
    int m_marginRight;
    bool m_hasScrollback;
    int m_cols;
    int m_rows;
    std::optional<int> m_scrollback;
    Attribute m_curAttr = Attribute::empty;
    bool m_insertMode = false;
    bool m_marginMode = false;
    bool m_wraparound = false;
    BufferLinePtr m_semanticPromptStartLine;
    int m_semanticPromptStartRowCache = 0;
    int m_semanticPromptRowScanCount = 0;
    uint64_t m_semanticGroupCounter = 0;
    uint64_t m_activeSemanticGroupID = 0;
};

} // namespace veldatron
