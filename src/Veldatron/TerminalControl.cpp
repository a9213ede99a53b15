#include "Terminal.h"

#include "Diagnostics.h"

#include <algorithm>
#include <string>

namespace veldatron {

namespace {

constexpr uint8_t BEL = 0x07;
constexpr uint8_t BS = 0x08;
constexpr uint8_t HT = 0x09;
constexpr uint8_t SO = 0x0E;
constexpr uint8_t SI = 0x0F;
constexpr uint8_t IND = 0x84;
constexpr uint8_t NEL = 0x85;
constexpr uint8_t HTS = 0x88;

const char* boolText(bool value) {
    return value ? "true" : "false";
}

// Out of line: building the text would otherwise weigh on every scroll of a region.
[[gnu::cold, gnu::noinline]] void reportScrollBeyondRing(int bottomRow, int count, int yBase,
                                                         int scrollTop, int scrollBottom,
                                                         bool alternate) {
    static DiagnosticSite site;
    site.emit("scroll: bottomRow " + std::to_string(bottomRow) + " >= lines.count " +
              std::to_string(count) + ", state: yBase=" + std::to_string(yBase) + " scrollTop=" +
              std::to_string(scrollTop) + " scrollBottom=" + std::to_string(scrollBottom) +
              " isAlternate=" + boolText(alternate));
}

} // namespace

void Terminal::executeOther(uint8_t code) {
    switch (code) {
    case BEL:
        tell([&](TerminalDelegate& d) { d.bell(*this); });
        break;
    case BS:
        cmdBackspace();
        break;
    case HT: {
        const int x = m_buffer->nextTabStop(m_marginMode, -1);
        if (x >= 0) {
            m_buffer->setX(x);
        }
        break;
    }
    case SO:
        setgLevel(1);
        break;
    case SI:
        setgLevel(0);
        break;
    case IND:
        cmdIndex();
        break;
    case NEL:
        cmdNextLine();
        break;
    case HTS:
        m_buffer->tabSet(m_buffer->x());
        break;
    default:
        // Other control bytes do nothing.
        break;
    }
}

// ---- Line feed, carriage return, backspace --------------------------------------------------

// The tail every line feed shares: the cursor back from past the last column, a prompt's line
// advance, the host told, and new-line mode's carriage return.
inline void Terminal::finishLineFeed(Buffer& buffer, bool moved) {
    if (buffer.x() >= m_cols) {
        buffer.setX(buffer.x() - 1);
    }
    // Outside a shell prompt (almost every line of output) there is nothing to finish.
    if (moved && (buffer.semanticInput == SemanticInputState::prompt ||
                  buffer.semanticInput == SemanticInputState::armed)) {
        finishSemanticLineAdvance(true);
    }
    emitLineFeed();
    if (m_lineFeedMode) {
        buffer.setX(m_originMode && m_marginMode ? buffer.marginLeft() : 0);
    }
}

void Terminal::cmdLineFeedBasic() {
    Buffer& buffer = *m_buffer;
    const int y = buffer.y();
    if (y == m_rows - 1 && scrollsFullScreenIntoFullScrollback(buffer)) {
        lineFeedIntoFullScrollback(buffer);
        return;
    }
    // The bottom margin of a region below the top of the screen (a status line or a pane that
    // scrolls by itself): what lineFeedGeneral and scroll(false) do there, without deciding
    // again what this has decided.
    const int scrollTop = buffer.scrollTop();
    const int yBase = buffer.yBase();
    if (y == buffer.scrollBottom() && !m_marginMode && scrollTop > 0 &&
        yBase + y < buffer.lines().count()) {
        rotateRegionUp(buffer, yBase + scrollTop, yBase + y, false);
        finishScroll(buffer, scrollTop, y);
        finishLineFeed(buffer, true);
        return;
    }
    lineFeedGeneral();
}

// A plain line the print path leaves to the general path; here, beside the line feed it calls.
void Terminal::plainLineGeneral(std::span<const uint8_t> text) {
    if (!text.empty()) {
        handlePrint(text, true);
    }
    cmdCarriageReturn();
    cmdLineFeedBasic();
}

void Terminal::lineFeedGeneral() {
    Buffer& buffer = *m_buffer;
    const int x = buffer.x();
    const int y = buffer.y();
    bool moved = false;
    const auto moveDown = [&] {
        // Below the scroll region the cursor stops on the screen's last row.
        if (y + 1 >= m_rows) {
            return false;
        }
        buffer.setY(y + 1);
        BufferLine& line = buffer.lines()[buffer.yBase() + y + 1];
        if (!line.isWrapped()) {
            line.setBidiState(m_currentBidiState);
        }
        return true;
    };
    if (m_marginMode) {
        if (x >= buffer.marginLeft() && x <= buffer.marginRight() && y == buffer.scrollBottom()) {
            scroll(false);
            moved = true;
        } else if (y != buffer.scrollBottom()) {
            moved = moveDown();
        }
        // On the bottom margin but outside the left and right margins nothing moves.
    } else if (y == buffer.scrollBottom()) {
        scroll(false);
        moved = true;
    } else {
        moved = moveDown();
    }
    finishLineFeed(buffer, moved);
}

void Terminal::cmdBackspace() {
    restrictCursor(!m_reverseWraparound);
    Buffer& buffer = *m_buffer;
    const int left = m_marginMode ? buffer.marginLeft() : 0;
    const int right = m_marginMode ? buffer.marginRight() : m_cols - 1;
    const int x = buffer.x();
    const int y = buffer.y();
    if (x > left) {
        if (x >= 1) {
            buffer.setX(x - 1);
        }
        return;
    }
    if (!m_reverseWraparound) {
        // Left of the left margin the cursor still moves left; on it, it stays.
        if (x < left && x >= 1) {
            buffer.setX(x - 1);
        }
        return;
    }
    if (y > buffer.scrollTop() && y <= buffer.scrollBottom()) {
        BufferLine& line = buffer.lines()[buffer.yBase() + y];
        if (line.isWrapped() && !m_marginMode) {
            line.setIsWrapped(false);
        }
        buffer.setY(y - 1);
        buffer.setX(right);
    } else if (y == buffer.scrollTop()) {
        buffer.setX(right);
        buffer.setY(buffer.scrollBottom());
    } else if (y >= 1) {
        buffer.setX(right);
        buffer.setY(y - 1);
    }
}

void Terminal::finishSemanticLineAdvance(bool movedToNextLine) {
    Buffer& buffer = *m_buffer;
    if (!movedToNextLine || (buffer.semanticInput != SemanticInputState::prompt &&
                             buffer.semanticInput != SemanticInputState::armed)) {
        return;
    }
    const int row = buffer.yBase() + buffer.y();
    if (row < 0 || row >= buffer.lines().count()) {
        return;
    }
    BufferLine& line = buffer.lines()[row];
    const uint64_t group = buffer.activeSemanticGroupID();
    const std::optional<uint64_t> current = line.semanticHardContinuationGroup();
    if (current == group) {
        return;
    }
    if (current) {
        // Leftovers of an older prompt on this row lose their prompt and input marking.
        for (int i = 0; i < line.count(); ++i) {
            CharData cell = line[i];
            const uint8_t content = cell.semanticContentCode();
            if (content >= 1 && content <= 5) {
                cell.setSemanticContentCode(0);
                line.set(i, cell);
            }
        }
    }
    line.setSemanticHardContinuationGroup(group);
    line.bumpGeneration();
}

// ---- Scrolling the region up one line -------------------------------------------------------

// What every scroll of the region up by a line ends with: the window follows, the rows are
// marked for drawing, images anchored in rows move, and the host is told.
inline void Terminal::finishScroll(Buffer& buffer, int scrollTop, int scrollBottom) {
    if (!m_userScrolling) {
        buffer.setYDisp(buffer.yBase());
    }
    m_refreshStart = std::min(m_refreshStart, scrollTop);
    m_refreshEnd = std::max(m_refreshEnd, scrollBottom);
    if (!(scrollTop == 0 && scrollBottom == m_rows - 1 && buffer.hasScrollback())) {
        updateRangeEdges(buffer, scrollTop, scrollBottom);
    }
    if (buffer.hasAnyImages()) {
        updateKittyRelativePlacementsForCurrentBuffer();
    }
    tell([&](TerminalDelegate& d) { d.scrolled(*this, buffer.yDisp()); });
}

// The hot path of every line of output once the scrollback is full (and of every line on the
// alternate screen, whose ring is always full): the region is the whole screen and the oldest row
// of the ring becomes the new bottom row. The other cases are out of line, so that this one stays
// a short function without a large stack frame.
void Terminal::scroll(bool isWrapped) {
    Buffer& buffer = *m_buffer;
    CircularBufferLineList& lines = buffer.lines();
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    const int bottomRow = buffer.yBase() + scrollBottom;
    const bool columnsRestricted =
        m_marginMode && (buffer.marginLeft() >= 1 || buffer.marginRight() < m_cols - 1);

    if (columnsRestricted) {
        scrollColumnsBetweenMargins(buffer);
    } else if (scrollTop != 0) {
        if (!scrollRegionWithoutScrollback(buffer, isWrapped)) {
            return;
        }
    } else if (bottomRow + 1 == lines.count() && lines.isFull()) {
        // The new line continues the one it follows when an autowrap made it.
        const BidiPresentationState state =
            isWrapped && bottomRow >= 0 ? lines[bottomRow].bidiState() : m_currentBidiState;
        recycleIntoBottomRow(lines, scrollBlankAttribute(), isWrapped, state);
        droppedOldestLine(buffer);
    } else {
        scrollIntoGrowingScrollback(buffer, isWrapped);
    }

    finishScroll(buffer, scrollTop, scrollBottom);
}

void Terminal::droppedOldestLine(Buffer& buffer) {
    if (buffer.hasScrollback()) {
        ++buffer.linesTop;
    }
    selectionsAdjustForInPlaceScroll(0, buffer.lines().count() - 1, 1);
    if (m_userScrolling) {
        buffer.setYDisp(std::max(buffer.yDisp() - 1, 0));
    }
}

BidiPresentationState Terminal::scrolledInBidiState(Buffer& buffer, bool isWrapped) {
    CircularBufferLineList& lines = buffer.lines();
    const int bottomRow = buffer.yBase() + buffer.scrollBottom();
    if (isWrapped && bottomRow >= 0 && bottomRow < lines.count()) {
        return lines[bottomRow].bidiState();
    }
    return m_currentBidiState;
}

void Terminal::scrollColumnsBetweenMargins(Buffer& buffer) {
    // Only the columns between the margins move; nothing enters the scrollback.
    CircularBufferLineList& lines = buffer.lines();
    const int topRow = buffer.yBase() + buffer.scrollTop();
    const int bottomRow = buffer.yBase() + buffer.scrollBottom();
    const int marginLeft = buffer.marginLeft();
    const int width = buffer.marginRight() - marginLeft + 1;
    for (int row = topRow; row < bottomRow; ++row) {
        BufferLine& line = lines[row];
        BufferLine& below = lines[row + 1];
        line.copyFrom(below, marginLeft, marginLeft, width);
        line.setIsWrapped(false);
        line.setBidiState(below.bidiState());
        buffer.clearImagesFromLine(row);
        line.setRenderMode(BufferLine::RenderLineMode::single);
    }
    BufferLine& bottom = lines[bottomRow];
    bottom.fill(CharData(scrollBlankAttribute(), 0, 1), marginLeft, width);
    bottom.setIsWrapped(false);
    bottom.setBidiState(m_currentBidiState);
    buffer.clearImagesFromLine(bottomRow);
    bottom.setRenderMode(BufferLine::RenderLineMode::single);
    selectionsInvalidateForColumnRestrictedScroll(topRow, bottomRow, marginLeft,
                                                  buffer.marginRight());
}

// Inline: every line feed on the bottom margin of a region below the top of the screen.
inline void Terminal::rotateRegionUp(Buffer& buffer, int topRow, int bottomRow, bool isWrapped) {
    CircularBufferLineList& lines = buffer.lines();
    // A line feed's new row (nearly every one here) takes the current state without a call.
    const BidiPresentationState state =
        isWrapped ? scrolledInBidiState(buffer, isWrapped) : m_currentBidiState;
    // The rows move up by one, moved rather than copied (no counts change), and the dropped top
    // row comes round to the bottom, where, when nobody else holds it, it becomes the new row.
    // (Unlike a shift of the ring's lines, a rotation inside the ring cannot fail.)
    lines.rotateLines(topRow, bottomRow, -1);
    lines.resetLine(bottomRow, prepareBlankLine(buffer, isWrapped, state, scrollBlankAttribute()));
    selectionsAdjustForInPlaceScroll(topRow, bottomRow, 1);
}

bool Terminal::scrollRegionWithoutScrollback(Buffer& buffer, bool isWrapped) {
    // The region's top line is discarded.
    CircularBufferLineList& lines = buffer.lines();
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    const int topRow = buffer.yBase() + scrollTop;
    const int bottomRow = buffer.yBase() + scrollBottom;
    if (bottomRow >= lines.count()) {
        reportScrollBeyondRing(bottomRow, lines.count(), buffer.yBase(), scrollTop, scrollBottom,
                               isCurrentBufferAlternate());
        return false;
    }
    rotateRegionUp(buffer, topRow, bottomRow, isWrapped);
    return true;
}

void Terminal::scrollIntoGrowingScrollback(Buffer& buffer, bool isWrapped) {
    // The top line goes into the scrollback, which has room for it, or rows below the region
    // stay where they are.
    CircularBufferLineList& lines = buffer.lines();
    const int bottomRow = buffer.yBase() + buffer.scrollBottom();
    const BufferLine& blank = prepareBlankLine(
        buffer, isWrapped, scrolledInBidiState(buffer, isWrapped), scrollBlankAttribute());
    bool droppedLine = false;
    if (bottomRow + 1 == lines.count()) {
        lines.push(BufferLine::create(blank));
    } else {
        droppedLine = lines.isFull();
        const BufferLinePtr inserted[] = {BufferLine::create(blank)};
        lines.splice(bottomRow + 1, 0, inserted,
                     [&](int moved) { updateRange(buffer, moved - buffer.yDisp()); });
    }
    if (droppedLine) {
        droppedOldestLine(buffer);
        return;
    }
    buffer.setYBase(buffer.yBase() + 1);
    if (!m_userScrolling) {
        buffer.setYDisp(buffer.yDisp() + 1);
    }
}

void Terminal::rebuildBlankLine(Buffer& buffer, const Attribute& attribute, bool isWrapped) {
    m_blankLine = buffer.getBlankLine(attribute, isWrapped);
    m_blankLineAttribute = attribute;
}

} // namespace veldatron
