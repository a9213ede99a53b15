#include "BufferLine.h"

#include "Buffer.h"
#include "Diagnostics.h"
#include "RowMemory.h"
#include "UnicodeUtil.h"

#include <algorithm>
#include <cassert>
#include <atomic>
#include <cstring>
#include <new>

namespace veldatron {

namespace {

// Cells come from row memory, which starts every block on a cache line: a row's cells occupy as
// few lines as possible and wide stores into them never straddle two lines.
static_assert(rowmemory::alignment % alignof(CharData) == 0);

CharData* allocateCells(int cells) {
    if (cells <= 0) {
        return nullptr;
    }
    // Raw storage: CharData is trivially copyable, so the fill or copy that follows creates the
    // cells; value-initialising them first would write every cell twice.
    return static_cast<CharData*>(rowmemory::allocate(size_t(cells) * sizeof(CharData)));
}

void freeCells(CharData* cells, int capacity) {
    rowmemory::release(cells, size_t(capacity) * sizeof(CharData));
}

void copyCells(CharData* dst, const CharData* src, int n) {
    if (n > 0) {
        std::memmove(static_cast<void*>(dst), src, size_t(n) * sizeof(CharData));
    }
}

void fillCells(CharData* cells, int n, const CharData& cell) {
    if (n > 0) {
        CharData::fill(cells, size_t(n), cell);
    }
}

// Removes the marks whose column lies in any of the given half-open ranges.
template <typename InRange> void eraseMarks(std::vector<SemanticMark>& marks, InRange inRange) {
    marks.erase(std::remove_if(marks.begin(), marks.end(),
                               [&](const SemanticMark& mark) { return inRange(mark.column); }),
                marks.end());
}

void sortMarks(std::vector<SemanticMark>& marks) {
    std::stable_sort(marks.begin(), marks.end(), [](const SemanticMark& a, const SemanticMark& b) {
        return a.column < b.column;
    });
}

} // namespace

BufferLine::BufferLine(int cols, const CharData& fillData, bool isWrapped,
                       BidiPresentationState bidiState)
    : m_isWrapped(isWrapped), m_bidiState(bidiState), m_fillCharacter(fillData),
      m_serial(nextSerial()) {
    const int n = std::max(cols, 0);
    m_data = allocateCells(n);
    m_capacity = n;
    m_count = n;
    m_valid = 0;
    m_tail = fillData;
}

BufferLine::BufferLine(const BufferLine& from) : RefCounted(), m_serial(nextSerial()) {
    assignFrom(from);
}

BufferLine::~BufferLine() {
    freeCells(m_data, m_capacity);
}

void* BufferLine::operator new(size_t bytes) {
    return rowmemory::allocate(bytes);
}

void BufferLine::operator delete(void* row, size_t bytes) {
    rowmemory::release(row, bytes);
}

BufferLinePtr BufferLine::create(int cols, const CharData& fillData, bool isWrapped,
                                 BidiPresentationState bidiState) {
    return BufferLinePtr(new BufferLine(cols, fillData, isWrapped, bidiState));
}

BufferLinePtr BufferLine::create(const BufferLine& from) {
    return BufferLinePtr(new BufferLine(from));
}

BufferLinePtr BufferLine::copyReusing(const BufferLine& from, BufferLinePtr spare) {
    if (!spare || spare->refCount() != 1 || spare.get() == &from) {
        return create(from);
    }
    spare->assignFrom(from);
    spare->m_owningBuffer.reset();
    spare->m_serial = nextSerial();
    return spare;
}

uint64_t BufferLine::nextSerial() {
    // A scroll region takes a new serial for every line it scrolls: each thread takes serials
    // from the shared counter a block at a time, not one locked increment per row.
    static std::atomic<uint64_t> counter{1};
    constexpr uint64_t block = 4096;
    thread_local uint64_t next = 0;
    thread_local uint64_t end = 0;
    if (next == end) {
        next = counter.fetch_add(block, std::memory_order_relaxed);
        end = next + block;
    }
    return next++;
}

void BufferLine::reserve(int cells, int keep) {
    if (cells <= m_capacity) {
        return;
    }
    CharData* block = allocateCells(cells);
    copyCells(block, m_data, std::min(keep, m_valid));
    freeCells(m_data, m_capacity);
    m_data = block;
    m_capacity = cells;
}

void BufferLine::reportIndexOutOfRange() {
    static DiagnosticSite site;
    site.emit("BufferLine: You passed an index out of range, adjusting to prevent crash, but you "
              "should debug");
}

void BufferLine::materializeSlow(int end) const {
    end = std::min(end, m_count);
    if (end > m_valid) {
        fillCells(m_data + m_valid, end - m_valid, m_tail);
        m_valid = end;
    }
}

void BufferLine::prefetchCells() const {
    const char* const bytes = reinterpret_cast<const char*>(m_data);
    constexpr size_t cacheLine = 64;
    for (size_t at = 0; at < size_t(m_valid) * sizeof(CharData); at += cacheLine) {
        __builtin_prefetch(bytes + at, 1, 3);
    }
}

void BufferLine::setTail(int start, const CharData& cell) {
    materialize(start);
    m_valid = start;
    m_tail = cell;
}

void BufferLine::set(int index, const CharData& cell) {
    if (m_count == 0) {
        return;
    }
    if (unsigned(index) >= unsigned(m_count)) {
        reportIndexOutOfRange();
        index = index < 0 ? 0 : m_count - 1;
    }
    cellsForWrite(index, index + 1)[0] = cell;
    ++m_generation;
}

int BufferLine::getTrimmedLength() const {
    if (m_valid < m_count && m_tail.code() != 0) {
        return m_count - 1 + m_tail.width();
    }
    for (int i = m_valid - 1; i >= 0; --i) {
        if (m_data[i].code() != 0) {
            return i + m_data[i].width();
        }
    }
    return 0;
}

bool BufferLine::hasContent(int index) const {
    const CharData& cell = (*this)[index];
    return cell.code() != 0 || cell.attribute() != Attribute();
}

bool BufferLine::hasAnyContent() const {
    const auto content = [](const CharData& cell) {
        return cell.code() != 0 || cell.attribute() != Attribute();
    };
    if (m_valid < m_count && content(m_tail)) {
        return true;
    }
    return std::any_of(m_data, m_data + m_valid, content);
}

void BufferLine::replaceCells(int start, int end, const CharData& fillData) {
    start = std::max(start, 0);
    end = std::min(end, m_count);
    if (start >= end) {
        return;
    }
    fillRange(start, end, fillData);
    ++m_generation;
}

void BufferLine::fillRange(int start, int end, const CharData& cell) {
    if (end >= m_count) {
        // To the end of the row: the range becomes the tail.
        setTail(start, cell);
        return;
    }
    fillCells(cellsForWrite(start, end), end - start, cell);
}

void BufferLine::fill(const CharData& cell) {
    setTail(0, cell);
    ++m_generation;
}

void BufferLine::fill(const CharData& cell, int atCol, int len) {
    const int start = std::clamp(atCol, 0, m_count);
    const int end = int(std::clamp<int64_t>(int64_t(atCol) + std::max(len, 0), start, m_count));
    if (start < end) {
        fillRange(start, end, cell);
    }
    ++m_generation;
}

void BufferLine::resize(int cols, const CharData& fillData) {
    cols = std::max(cols, 0);
    if (cols == m_count) {
        return;
    }
    if (cols > m_count) {
        reserve(cols, m_count);
        if (m_valid < m_count && m_tail != fillData) {
            // The old tail stays what it was; the grown cells are the new tail.
            materialize(m_count);
        }
        if (m_valid == m_count) {
            m_tail = fillData;
        }
        m_count = cols;
    } else {
        m_count = cols;
        m_valid = std::min(m_valid, cols);
        marksClampTo(cols);
    }
    ++m_generation;
}

void BufferLine::insertCells(int pos, int n, int rightMargin, const CharData& fillData) {
    shiftCells(pos, std::max(n, 0), rightMargin, fillData);
}

void BufferLine::deleteCells(int pos, int n, int rightMargin, const CharData& fillData) {
    shiftCells(pos, -int64_t(std::max(n, 0)), rightMargin, fillData);
}

void BufferLine::shiftCells(int pos, int64_t by, int rightMargin, const CharData& fillData) {
    // A region that does not lie in the row moves nothing. Never reduce `pos` modulo the region:
    // a repeat of a wide character's trailing half in insert mode at the pending-wrap column
    // arrives with pos past the margin and would insert at column 0.
    rightMargin = std::min(rightMargin, m_count - 1);
    if (pos < 0 || pos > rightMargin) {
        return;
    }
    materialize(rightMargin + 1);
    const int region = rightMargin + 1 - pos;
    const int n = int(std::min<int64_t>(by < 0 ? -by : by, region));
    if (n == region) {
        fillCells(m_data + pos, region, fillData);
    } else if (by > 0) {
        copyCells(m_data + pos + n, m_data + pos, region - n);
        fillCells(m_data + pos, n, fillData);
    } else {
        copyCells(m_data + pos, m_data + pos + n, region - n);
        fillCells(m_data + rightMargin - n + 1, n, fillData);
    }
    marksShift(pos, by, rightMargin);
    ++m_generation;
}

void BufferLine::copyFrom(BufferLine& src, int srcCol, int dstCol, int len) {
    const bool sameRow = &src == this;
    const bool wholeRow = srcCol == 0 && dstCol == 0 && len >= m_count;
    const std::optional<uint64_t> sourceGroup = src.m_hardGroup;

    // Clip both ranges into their rows, keeping the column offset between them.
    if (srcCol < 0) {
        len += srcCol;
        dstCol -= srcCol;
        srcCol = 0;
    }
    if (dstCol < 0) {
        len += dstCol;
        srcCol -= dstCol;
        dstCol = 0;
    }
    len = std::max(0, std::min({len, src.m_count - srcCol, m_count - dstCol}));

    // memmove copies overlapping ranges of one row as a block in either direction.
    if (len > 0) {
        src.materialize(srcCol + len);
        materialize(dstCol);
        copyCells(m_data + dstCol, src.m_data + srcCol, len);
        m_valid = std::max(m_valid, dstCol + len);
    }

    const int64_t srcEnd = int64_t(srcCol) + len;
    const int64_t dstEnd = int64_t(dstCol) + len;
    std::vector<SemanticMark> collected;
    for (const SemanticMark& mark : src.m_semanticMarks) {
        if (mark.column >= srcCol && mark.column < srcEnd) {
            collected.push_back(mark);
        }
    }
    std::optional<Buffer::SemanticOrigin> origin;
    std::shared_ptr<Buffer> buffer;
    if (!collected.empty()) {
        buffer = owningBuffer();
        if (buffer) {
            origin = buffer->rawSemanticOrigin();
        }
    }

    const auto inDst = [&](int64_t column) { return column >= dstCol && column < dstEnd; };
    const auto inSrc = [&](int64_t column) { return column >= srcCol && column < srcEnd; };
    if (sameRow) {
        eraseMarks(m_semanticMarks, [&](int64_t column) { return inSrc(column) || inDst(column); });
    } else {
        eraseMarks(src.m_semanticMarks, inSrc);
        ++src.m_generation;
        eraseMarks(m_semanticMarks, inDst);
    }
    ++m_generation;

    bool placedOrigin = false;
    for (const SemanticMark& mark : collected) {
        const int64_t column = mark.column + dstCol - srcCol;
        const bool isOrigin = origin && origin->line.get() == &src && mark.kind() == origin->kind &&
                              mark.column == origin->column;
        auto existing =
            std::find_if(m_semanticMarks.begin(), m_semanticMarks.end(),
                         [&](const SemanticMark& m) { return m.kind() == mark.kind(); });
        if (existing == m_semanticMarks.end()) {
            m_semanticMarks.emplace_back(mark.kind(), column, mark.group);
            placedOrigin = placedOrigin || isOrigin;
            continue;
        }
        // The origin mark of the prompt wins over another mark of its kind, but never displaces
        // the origin itself when this row holds it.
        const bool existingIsOrigin = origin && origin->line.get() == this &&
                                      existing->kind() == origin->kind &&
                                      existing->column == origin->column;
        if (isOrigin && !existingIsOrigin) {
            *existing = SemanticMark(mark.kind(), column, mark.group);
            placedOrigin = true;
        }
    }
    sortMarks(m_semanticMarks);

    if (!sameRow && placedOrigin && buffer) {
        buffer->setSemanticPromptStartLine(BufferLinePtr(this));
    }
    if (wholeRow) {
        m_hardGroup = sourceGroup;
        if (!sameRow) {
            src.m_hardGroup.reset();
        }
    }
    ++m_generation;
}

void BufferLine::copyFrom(const BufferLine& line) {
    if (&line == this) {
        m_generation += 4;
        return;
    }
    if (m_capacity < line.m_count) {
        // Exactly the source's size: the old cells are all overwritten.
        freeCells(m_data, m_capacity);
        m_data = allocateCells(line.m_count);
        m_capacity = line.m_count;
    }
    copyCells(m_data, line.m_data, line.m_valid);
    m_count = line.m_count;
    m_valid = line.m_valid;
    m_tail = line.m_tail;
    m_isWrapped = line.m_isWrapped;
    m_semanticMarks = line.m_semanticMarks;
    const bool groupChanges = m_hardGroup != line.m_hardGroup;
    m_hardGroup = line.m_hardGroup;
    m_bidiState = line.m_bidiState;
    // Cells, wrap flag, marks and bidirectional state, plus the group when it changes.
    m_generation += groupChanges ? 5 : 4;
}

void BufferLine::copyCellsFrom(const BufferLine& src, int srcCol, int dstCol, int len) {
    if (len <= 0) {
        return;
    }
    assert(srcCol >= 0 && srcCol + len <= src.m_count && dstCol >= 0 && dstCol + len <= m_count);
    src.materialize(srcCol + len);
    // The copy may come from this row's own cells; the block only grows once they are read.
    copyCells(cellsForWrite(dstCol, dstCol + len), src.m_data + srcCol, len);
    m_generation += uint64_t(len);
}

void BufferLine::setValues(int start, int end, int32_t code, int width) {
    if (start >= end) {
        return;
    }
    assert(start >= 0 && end <= m_count);
    materialize(end);
    for (CharData* cell = m_data + start; cell != m_data + end; ++cell) {
        cell->setValue(code, width);
    }
    m_generation += uint64_t(end - start);
}

void BufferLine::clear(const Attribute& attribute) {
    setTail(0, CharData(attribute, 0, 1));
    m_images.reset();
    ++m_recycleGeneration;
    m_generation += 2;
}

std::u32string BufferLine::translateToString(bool trimRight, int startCol, int endCol,
                                             bool skipNullCellsFollowingWide,
                                             CharacterProvider characterProvider) const {
    if (endCol < 0 || endCol > m_count) {
        endCol = m_count;
    }
    startCol = std::max(startCol, 0);
    if (trimRight) {
        endCol = std::max(startCol, std::min(getTrimmedLength(), endCol));
    }
    std::u32string text;
    if (startCol >= endCol) {
        return text;
    }
    text.reserve(size_t(endCol - startCol));
    for (int i = startCol; i < endCol; ++i) {
        const CharData& cell = (*this)[i];
        if (skipNullCellsFollowingWide && cell.code() == 0 && i > 0 &&
            (*this)[i - 1].width() == 2) {
            continue;
        }
        if (characterProvider) {
            text += characterProvider(cell);
        } else {
            text.push_back(cell.code() == 0 ? U'\0' : cell.getCharacter());
        }
    }
    return text;
}

std::string BufferLine::debugDescription() const {
    std::string text;
    for (int i = 0; i < m_count; ++i) {
        UnicodeUtil::appendUtf8(text, (*this)[i].getCharacter());
    }
    return text;
}

void BufferLine::setSemanticMark(SemanticPromptKind kind, int64_t column, uint64_t group) {
    m_semanticMarks.erase(std::remove_if(m_semanticMarks.begin(), m_semanticMarks.end(),
                                         [&](const SemanticMark& m) { return m.kind() == kind; }),
                          m_semanticMarks.end());
    m_semanticMarks.emplace_back(kind, column, group);
    sortMarks(m_semanticMarks);
    // Remove, append and sort each change the marks.
    m_generation += 3;
}

void BufferLine::marksShift(int64_t from, int64_t by, int64_t rightMargin) {
    if (by == 0 || m_semanticMarks.empty() || from > rightMargin) {
        return;
    }
    for (SemanticMark& mark : m_semanticMarks) {
        if (mark.column >= from && mark.column <= rightMargin) {
            mark.column = std::clamp(mark.column + by, from, rightMargin);
        }
    }
    ++m_generation;
}

void BufferLine::marksClampTo(int64_t width) {
    if (m_semanticMarks.empty()) {
        return;
    }
    if (width <= 0) {
        m_semanticMarks.clear();
    } else {
        for (SemanticMark& mark : m_semanticMarks) {
            mark.column = std::clamp<int64_t>(mark.column, 0, width - 1);
        }
    }
    ++m_generation;
}

void BufferLine::destroySemanticState() {
    m_semanticMarks.clear();
    ++m_generation;
    if (m_hardGroup) {
        m_hardGroup.reset();
        ++m_generation;
    }
}

void BufferLine::attach(std::shared_ptr<TerminalImage> image) {
    if (!m_images) {
        m_images.emplace();
    }
    m_images->push_back(std::move(image));
    ++m_generation;
}

} // namespace veldatron
