#include "Buffer.h"

#include "Diagnostics.h"

#include <algorithm>
#include <string>

namespace veldatron {

namespace {

// A cell a wrap left empty at the end of a row: code 0, width 1, plain default attribute.
bool isBlankEndCell(const CharData& cell) {
    return cell.code() == 0 && cell.width() == 1 && cell.attribute() == Attribute();
}

// The cells of row i of a wrapped group that hold text: the last row counts its trimmed length;
// any other row its full width, less the last cell when that was left empty because the wide
// character that starts the next row did not fit.
int wrappedLineTrimmedLength(const BufferLine& line, const BufferLine* next, int cols) {
    if (!next) {
        return line.getTrimmedLength();
    }
    if (isBlankEndCell(line[cols - 1]) && next->getWidth(0) == 2) {
        return cols - 1;
    }
    return cols;
}

int wrappedLineTrimmedLength(std::span<const BufferLinePtr> lines, size_t i, int cols) {
    return wrappedLineTrimmedLength(*lines[i], i + 1 < lines.size() ? lines[i + 1].get() : nullptr,
                                    cols);
}

} // namespace

void Buffer::resize(int newCols, int newRows) {
    newCols = std::max(newCols, 1);
    newRows = std::max(newRows, 1);
    m_marginRight = std::min(m_marginRight, newCols - 1);
    m_marginLeft = std::min(m_marginLeft, m_marginRight);

    const int newMaxLength = getCorrectBufferLength(newRows);
    if (m_lines.maxLength() < newMaxLength) {
        m_lines.setMaxLength(newMaxLength);
    }

    if (m_lines.count() > 0) {
        if (m_cols < newCols) {
            for (int i = 0; i < m_lines.count(); ++i) {
                m_lines[i].resize(newCols, CharData::Null);
            }
        }

        int pulled = 0;
        if (m_rows < newRows) {
            for (int r = m_rows; r < newRows; ++r) {
                if (m_lines.count() >= newRows + m_yBase) {
                    continue;
                }
                // While there is history, rows come back from it rather than appearing blank.
                if (m_yBase > 0 && m_lines.count() <= m_yBase + r + pulled + 1) {
                    --m_yBase;
                    ++pulled;
                    if (m_yDisp > 0) {
                        --m_yDisp;
                    }
                } else {
                    m_lines.push(
                        BufferLine::create(newCols, CharData::Null, false, defaultBidiState));
                }
            }
        } else if (m_rows > newRows) {
            for (int r = m_rows; r > newRows; --r) {
                if (m_lines.count() <= newRows + m_yBase) {
                    continue;
                }
                if (m_lines.count() > m_yBase + m_y + 1) {
                    // Rows below the cursor go, whatever they hold.
                    m_lines.setCount(m_lines.count() - 1);
                } else {
                    // The cursor is on the last row: the screen moves down over the history.
                    ++m_yBase;
                    ++m_yDisp;
                }
            }
        }

        if (newMaxLength < m_lines.maxLength()) {
            const int trimmed = m_lines.count() - newMaxLength;
            if (trimmed > 0) {
                m_lines.trimStart(trimmed);
                m_yBase = std::max(m_yBase - trimmed, 0);
                m_yDisp = std::max(m_yDisp - trimmed, 0);
                savedY = std::max(savedY - trimmed, 0);
            }
            m_lines.setMaxLength(newMaxLength);
        }

        m_x = std::min(m_x, newCols - 1);
        m_y = std::min(m_y, newRows - 1) + pulled;
        savedX = std::min(savedX, newCols - 1);
        m_scrollTop = 0;
    } else if (newMaxLength < m_lines.maxLength()) {
        // An empty ring (the alternate screen before its first use) shrinks too: left at the old
        // size, a screen without scrollback would keep the rows that scroll off its top.
        m_lines.setMaxLength(newMaxLength);
    }
    m_scrollBottom = newRows - 1;
    m_tabStops.resize(size_t(newCols), false);

    if (m_hasScrollback && m_cols != newCols) {
        if (m_cols < newCols) {
            reflowWider(m_cols, m_rows, newCols, newRows);
        } else {
            reflowNarrower(m_cols, m_rows, newCols, newRows);
        }
        recalculateLinesWithImagesCount();
        if (newCols < m_cols) {
            for (int i = 0; i < m_lines.count(); ++i) {
                m_lines[i].resize(newCols, CharData::Null);
            }
        }
    }

    for (int i = 0; i < m_lines.count(); ++i) {
        BufferLine& line = m_lines[i];
        if (line.count() < newCols) {
            static DiagnosticSite site;
            site.emit("stop here newCols=" + std::to_string(newCols) +
                      " but the element has: " + std::to_string(line.count()));
            line.resize(newCols, CharData::Null);
        }
    }

    m_cols = newCols;
    m_rows = newRows;
}

void Buffer::reflowWider(int oldCols, int, int newCols, int newRows) {
    const int cursorRow = m_yBase + m_y;
    const std::vector<int> toRemove = getLinesToRemove(oldCols, newCols, cursorRow, CharData::Null);
    if (toRemove.empty()) {
        return;
    }

    // Gather the rows that stay, in order, then store them from line 0.
    std::vector<BufferLinePtr> kept;
    kept.reserve(size_t(m_lines.count()));
    size_t nextRemoval = 0;
    int removed = 0;
    int removedAbove = 0;
    for (int i = 0; i < m_lines.count();) {
        if (nextRemoval < toRemove.size() && toRemove[nextRemoval] == i) {
            const int n = toRemove[nextRemoval + 1];
            i += n;
            removed += n;
            removedAbove += i <= cursorRow ? n : 0;
            nextRemoval += 2;
        } else {
            kept.push_back(m_lines.line(i));
            ++i;
        }
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        m_lines.set(int(i), std::move(kept[i]));
    }
    m_lines.setCount(int(kept.size()));

    while (m_lines.count() < newRows) {
        m_lines.push(BufferLine::create(newCols, CharData::Null, false, defaultBidiState));
    }
    // Only rows removed above the cursor move its text; a line joined below it (a program that
    // moved the cursor up) leaves the cursor on its own.
    placeViewport(cursorRow - removedAbove, newRows);
    savedY = std::max(savedY - removed, 0);
}

std::vector<int> Buffer::getLinesToRemove(int oldCols, int newCols, int bufferAbsoluteY,
                                          const CharData& nullChar) {
    std::vector<int> toRemove;
    std::vector<BufferLinePtr> group;
    for (int y = 0; y < m_lines.count() - 1; ++y) {
        if (!m_lines[y + 1].isWrapped()) {
            continue;
        }
        group.clear();
        group.push_back(m_lines.line(y));
        while (y + int(group.size()) < m_lines.count() &&
               m_lines[y + int(group.size())].isWrapped()) {
            group.push_back(m_lines.line(y + int(group.size())));
        }
        const int size = int(group.size());
        if (bufferAbsoluteY >= y && bufferAbsoluteY < y + size) {
            // The terminal's later output rewrites the cursor's line; leave it alone.
            y += size - 1;
            continue;
        }

        size_t dest = 0;
        int destCol = wrappedLineTrimmedLength(group, 0, oldCols);
        size_t src = 1;
        int srcCol = 0;
        while (src < group.size()) {
            const int srcLength = wrappedLineTrimmedLength(group, src, oldCols);
            const int n = std::min(srcLength - srcCol, newCols - destCol);
            group[dest]->copyFrom(*group[src], srcCol, destCol, n);
            destCol += n;
            if (destCol == newCols) {
                ++dest;
                destCol = 0;
            }
            srcCol += n;
            if (srcCol == srcLength) {
                ++src;
                srcCol = 0;
            }
            // A wide character split at the new edge moves whole to the next row.
            if (destCol == 0 && dest != 0 && group[dest - 1]->getWidth(newCols - 1) == 2) {
                group[dest]->copyFrom(*group[dest - 1], newCols - 1, destCol++, 1);
                group[dest - 1]->set(newCols - 1, nullChar);
            }
        }
        BufferLine& last = *group[dest];
        last.fill(nullChar, destCol, std::min(newCols, last.count()) - destCol);

        int removable = 0;
        for (int i = size - 1; i > 0; --i) {
            if (size_t(i) > dest || group[size_t(i)]->getTrimmedLength() == 0) {
                ++removable;
            } else {
                break;
            }
        }
        if (removable > 0) {
            toRemove.push_back(y + size - removable);
            toRemove.push_back(removable);
        }
        y += size - 1;
    }
    return toRemove;
}

std::vector<int> Buffer::getNewLineLengths(std::span<const BufferLinePtr> wrappedLines, int oldCols,
                                           int newCols) {
    std::vector<int> lengths;
    int needed = 0;
    for (size_t i = 0; i < wrappedLines.size(); ++i) {
        needed += wrappedLineTrimmedLength(wrappedLines, i, oldCols);
    }
    int available = 0;
    int srcCol = 0;
    size_t srcLine = 0;
    while (available < needed) {
        if (needed - available < newCols) {
            lengths.push_back(needed - available);
            break;
        }
        srcCol += newCols;
        const int oldLength = wrappedLineTrimmedLength(wrappedLines, srcLine, oldCols);
        if (srcCol > oldLength) {
            srcCol -= oldLength;
            ++srcLine;
        }
        // A wide character that would straddle the new edge starts the next row instead.
        const bool endsWithWide =
            srcLine < wrappedLines.size() && wrappedLines[srcLine]->getWidth(srcCol - 1) == 2;
        if (endsWithWide) {
            --srcCol;
        }
        const int length = endsWithWide ? newCols - 1 : newCols;
        lengths.push_back(length);
        available += length;
    }
    return lengths;
}

void Buffer::reflowNarrower(int oldCols, int, int newCols, int newRows) {
    std::vector<InsertionSet> toInsert;
    int inserted = 0;
    const int cursorRow = m_yBase + m_y;
    int addedAbove = 0;
    std::vector<BufferLinePtr> group;
    for (int y = m_lines.count() - 1; y >= 0; --y) {
        BufferLinePtr line = m_lines.line(y);
        if (!line->isWrapped() && line->getTrimmedLength() <= newCols) {
            continue;
        }
        // Gathered bottom-up, then put in reading order (a line can span thousands of rows).
        group.assign(1, line);
        while (line->isWrapped() && y > 0) {
            line = m_lines.line(--y);
            group.push_back(line);
        }
        std::reverse(group.begin(), group.end());
        const int size = int(group.size());
        if (cursorRow >= y && cursorRow < y + size) {
            continue;
        }
        const bool aboveCursor = y + size <= cursorRow;

        // The text length of each old row, taken before the copy below overwrites rows whose
        // first cell decides their neighbour's length.
        std::vector<int> oldLengths(group.size());
        for (size_t i = 0; i < group.size(); ++i) {
            oldLengths[i] = wrappedLineTrimmedLength(group, i, oldCols);
        }
        const std::vector<int> lengths = getNewLineLengths(group, oldCols, newCols);
        const int add = int(lengths.size()) - size;
        if (lengths.empty() || add < 0) {
            continue;
        }
        const int base = m_yBase == 0 && m_y != m_lines.count() - 1
                             ? m_y - m_lines.maxLength()
                             : m_lines.count() - m_lines.maxLength();
        const int trimmed = std::max(0, base + add);

        const BidiPresentationState state = group.front()->bidiState();
        if (add > 0) {
            InsertionSet set;
            set.start = y + size + inserted;
            for (int i = 0; i < add; ++i) {
                BufferLinePtr row = getBlankLine(Attribute(), true);
                row->setBidiState(state);
                set.lines.push_back(row);
                group.push_back(row);
            }
            toInsert.push_back(std::move(set));
            inserted += add;
        }
        for (const BufferLinePtr& row : group) {
            row->setBidiState(state);
        }

        // Copy from the end of the group backwards, so no cell is overwritten before it moved.
        int dest = int(lengths.size()) - 1;
        int destCol = lengths[size_t(dest)];
        if (destCol == 0 && dest > 0) {
            --dest;
            destCol = lengths[size_t(dest)];
        }
        int src = size - 1;
        int srcCol = oldLengths[size_t(src)];
        while (src >= 0 && dest >= 0) {
            const int n = std::min(srcCol, destCol);
            group[size_t(dest)]->copyFrom(*group[size_t(src)], srcCol - n, destCol - n, n);
            destCol -= n;
            if (destCol == 0) {
                --dest;
                destCol = dest >= 0 ? lengths[size_t(dest)] : 0;
            }
            srcCol -= n;
            if (srcCol == 0) {
                --src;
                srcCol = oldLengths[size_t(std::max(src, 0))];
            }
        }
        // The cell a wide character left when it moved to the next row.
        for (size_t i = 0; i < group.size(); ++i) {
            if (lengths[i] < newCols) {
                group[i]->set(lengths[i], CharData::Null);
            }
        }

        if (aboveCursor) {
            addedAbove += add;
        }
        // Where the screen has no history yet, blank rows at its bottom make room for the new
        // rows instead of a scroll. Rows with text are never dropped: the screen scrolls instead.
        for (int adjust = add - trimmed; adjust > 0 && m_yBase == 0; --adjust) {
            const int last = m_lines.count() - 1;
            if (last <= cursorRow || m_lines[last].hasAnyContent()) {
                break;
            }
            m_lines.setCount(last);
        }
        savedY = std::min(savedY + add, m_yBase + newRows - 1);
    }
    const int droppedAtTop = rearrange(toInsert, inserted);
    placeViewport(cursorRow + addedAbove - droppedAtTop, newRows);
}

void Buffer::placeViewport(int cursorRow, int newRows) {
    // The screen sits on the bottom of the ring, as far as the cursor's row stays on it.
    const int bottomAligned = std::max(0, m_lines.count() - newRows);
    const int lowest = std::max(0, cursorRow - (newRows - 1));
    const int base = std::clamp(bottomAligned, lowest, std::max(lowest, cursorRow));
    const bool following = m_yDisp == m_yBase;
    m_yBase = base;
    m_yDisp = following ? base : std::min(m_yDisp, base);
    m_y = std::clamp(cursorRow - base, 0, newRows - 1);
}

int Buffer::rearrange(const std::vector<InsertionSet>& toInsert, int countToInsert) {
    if (toInsert.empty()) {
        return 0;
    }
    const int original = m_lines.count();
    std::vector<BufferLinePtr> originalLines;
    originalLines.reserve(size_t(original));
    for (int i = 0; i < original; ++i) {
        originalLines.push_back(m_lines.line(i));
    }
    const int64_t total = int64_t(original) + countToInsert;
    const int maxLength = m_lines.maxLength();
    m_lines.setCount(int(std::min<int64_t>(maxLength, total)));

    // Fill from the bottom: each set goes in once the original rows below its start are placed;
    // rows that do not fit under maxLength are the oldest and fall off the top.
    int originalIndex = original - 1;
    size_t nextSet = 0;
    int insertedSoFar = 0;
    for (int64_t i = std::min<int64_t>(maxLength - 1, total - 1); i >= 0; --i) {
        if (nextSet < toInsert.size() && toInsert[nextSet].start > originalIndex + insertedSoFar) {
            const std::vector<BufferLinePtr>& lines = toInsert[nextSet].lines;
            for (size_t k = lines.size(); k-- > 0 && i >= 0;) {
                m_lines.set(int(i--), lines[k]);
            }
            ++i;
            insertedSoFar += int(lines.size());
            ++nextSet;
        } else if (originalIndex >= 0) {
            m_lines.set(int(i), originalLines[size_t(originalIndex--)]);
        }
    }
    return int(std::max<int64_t>(0, total - maxLength));
}

} // namespace veldatron
