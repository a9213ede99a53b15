#include "TerminalBidi.h"

#include "Buffer.h"
#include "BufferLine.h"
#include "Terminal.h"

#include <unicode/ubidi.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace veldatron {

namespace {

// A 64-bit hash of a sequence of values; meaningful only within one run of the process.
class Hasher {
public:
    void add(uint64_t value) {
        m_hash ^= value + 0x9E3779B97F4A7C15ull + (m_hash << 6) + (m_hash >> 2);
        m_hash *= 0xBF58476D1CE4E5B9ull;
        m_hash ^= m_hash >> 31;
    }
    uint64_t value() const { return m_hash; }

private:
    uint64_t m_hash = 0x84222325CBF29CE4ull;
};

uint64_t packedState(const BidiPresentationState& state) {
    return uint64_t(state.supportMode) | uint64_t(state.autodetectDirection) << 8 |
           uint64_t(state.fallbackDirection) << 16 | uint64_t(state.boxMirroring) << 24;
}

struct ParagraphKey {
    const Buffer* buffer;
    int firstRow;
    int lastRow;
    uint64_t revision;
    int cols;
    uint64_t font;
    BidiPresentationState state;
    friend bool operator==(const ParagraphKey&, const ParagraphKey&) = default;
};

struct ParagraphContentKey {
    uint64_t contentHash;
    int rowCount;
    int cols;
    uint64_t font;
    BidiPresentationState state;
    friend bool operator==(const ParagraphContentKey&, const ParagraphContentKey&) = default;
};

struct KeyHash {
    size_t operator()(const ParagraphKey& key) const {
        Hasher h;
        h.add(uint64_t(reinterpret_cast<uintptr_t>(key.buffer)));
        h.add(uint64_t(key.firstRow));
        h.add(uint64_t(key.lastRow));
        h.add(key.revision);
        h.add(uint64_t(key.cols));
        h.add(key.font);
        h.add(packedState(key.state));
        return size_t(h.value());
    }
    size_t operator()(const ParagraphContentKey& key) const {
        Hasher h;
        h.add(key.contentHash);
        h.add(uint64_t(key.rowCount));
        h.add(uint64_t(key.cols));
        h.add(key.font);
        h.add(packedState(key.state));
        return size_t(h.value());
    }
};

// A paragraph as the content cache keeps it: rows are offsets from its first row.
struct CachedParagraph {
    std::vector<TerminalBidi::Cell> cells;
    std::vector<std::shared_ptr<const BidiRowLayout>> rowsByOffset;
    BidiDirection baseDirection = BidiDirection::leftToRight;

    bool matches(std::span<const TerminalBidi::Cell> other, int firstRow) const {
        if (other.size() != cells.size()) {
            return false;
        }
        for (size_t i = 0; i < cells.size(); ++i) {
            const TerminalBidi::Cell& mine = cells[i];
            const TerminalBidi::Cell& theirs = other[i];
            if (mine.row != theirs.row - firstRow || mine.logicalCol != theirs.logicalCol ||
                mine.width != theirs.width || mine.text != theirs.text) {
                return false;
            }
        }
        return true;
    }
};

// Both caches and their counters, behind one lock that is held only for a lookup or an
// insertion: never while cells are collected or a paragraph is laid out.
struct Caches {
    std::mutex lock;
    std::unordered_map<ParagraphKey, std::shared_ptr<const TerminalBidi::ParagraphResult>, KeyHash>
        paragraphs;
    std::unordered_map<ParagraphContentKey, CachedParagraph, KeyHash> contents;
    TerminalBidi::CacheStatistics statistics;
};

Caches& caches() {
    static Caches instance;
    return instance;
}

void storeIdentity(const ParagraphKey& key,
                   const std::shared_ptr<const TerminalBidi::ParagraphResult>& result) {
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    if (c.paragraphs.size() >= TerminalBidi::cacheLimit) {
        c.paragraphs.clear();
    }
    c.paragraphs.insert_or_assign(key, result);
}

bool inRange(char32_t s, char32_t lo, char32_t hi) {
    return s >= lo && s <= hi;
}

std::u32string cellText(const CharData& cell, const TerminalServices& terminal) {
    const int32_t code = cell.code();
    return code == 0 ? std::u32string(U" ") : terminal.character(code);
}

// Appends the cells of one row: one per cluster, over the row's text up to `cols` columns.
// Returns the column after the last cell.
int collectCells(const BufferLine& line, int row, int cols, const TerminalServices& terminal,
                 std::vector<TerminalBidi::Cell>& out) {
    const int n = std::min(line.getTrimmedLength(), std::min(line.count(), cols));
    int column = 0;
    while (column < n) {
        const CharData& cell = line[column];
        const int width = cell.width() <= 0 ? 1 : cell.width();
        out.push_back({row, column, width, cellText(cell, terminal)});
        column += width;
    }
    return column;
}

uint64_t paragraphRevision(int first, int last, const Buffer& buffer) {
    Hasher h;
    for (int row = first; row <= last; ++row) {
        const BufferLine& line = buffer.lines().row(row);
        h.add(line.serial());
        h.add(line.generation());
        h.add(uint64_t(line.isWrapped()));
    }
    return h.value();
}

// Adds one cell at visual column v of a row's layout.
void place(BidiRowLayout& layout, int logicalCol, int width, std::optional<std::u32string> display,
           int& v) {
    const int cols = int(layout.logicalToVisualCol.size());
    layout.visualCells.push_back({logicalCol, width, std::move(display)});
    for (int j = 0; j < width; ++j) {
        if (logicalCol + j >= 0 && logicalCol + j < cols) {
            layout.logicalToVisualCol[size_t(logicalCol + j)] = v + j;
        }
        if (v + j >= 0 && v + j < cols) {
            layout.visualToLogicalCol[size_t(v + j)] = logicalCol;
        }
    }
    v += width;
}

// The columns right of a row's last cell, one blank cell each.
void placeTrailing(BidiRowLayout& layout, int used, BidiDirection base, int& v) {
    const int cols = int(layout.logicalToVisualCol.size());
    if (base == BidiDirection::rightToLeft) {
        for (int c = cols - 1; c >= used; --c) {
            place(layout, c, 1, std::nullopt, v);
        }
    } else {
        for (int c = used; c < cols; ++c) {
            place(layout, c, 1, std::nullopt, v);
        }
    }
}

std::optional<std::u32string> mirrored(const std::u32string& text, bool boxMirroring) {
    if (text.size() == 1) {
        if (const std::optional<char32_t> mirror = TerminalBidi::mirror(text[0])) {
            return std::u32string(1, *mirror);
        }
        if (boxMirroring) {
            if (const std::optional<char32_t> mirror = TerminalBidi::boxMirror(text[0])) {
                return std::u32string(1, *mirror);
            }
        }
    }
    return std::nullopt;
}

// The visual order of a paragraph's rows from ICU's bidirectional algorithm, over the probe
// string of its cells with the paragraph level given (never guessed by ICU: the base direction is
// ours). Each row is a line of the paragraph, so trailing white space takes the paragraph's
// direction as a typeset line's does.
class ParagraphOrder {
public:
    struct Row {
        // The row's cells from left to right, as offsets from its first cell.
        std::vector<int> order;
        // Per cell in logical order: it lies in a right-to-left run.
        std::vector<bool> rtl;
    };

    ParagraphOrder(std::span<const TerminalBidi::Cell> cells, BidiDirection base) {
        m_probe.reserve(cells.size());
        for (const TerminalBidi::Cell& cell : cells) {
            m_probe.push_back(TerminalBidi::probeScalar(cell.text));
        }
        UErrorCode error = U_ZERO_ERROR;
        m_paragraph.reset(ubidi_openSized(int32_t(m_probe.size()), 0, &error));
        m_line.reset(ubidi_openSized(int32_t(m_probe.size()), 0, &error));
        if (U_SUCCESS(error)) {
            ubidi_setPara(m_paragraph.get(), m_probe.data(), int32_t(m_probe.size()),
                          base == BidiDirection::rightToLeft ? 1 : 0, nullptr, &error);
        }
        m_valid = U_SUCCESS(error);
    }
    // ICU keeps a pointer to the probe string.
    ParagraphOrder(const ParagraphOrder&) = delete;
    ParagraphOrder& operator=(const ParagraphOrder&) = delete;

    // Cells lo..<hi; none when ICU cannot lay the line out or its map misses a cell.
    std::optional<Row> row(int lo, int hi) {
        Row row;
        if (lo == hi) {
            return row;
        }
        if (!m_valid) {
            return std::nullopt;
        }
        UErrorCode error = U_ZERO_ERROR;
        ubidi_setLine(m_paragraph.get(), lo, hi, m_line.get(), &error);
        const int n = hi - lo;
        std::vector<int32_t> map(size_t(n), -1);
        ubidi_getVisualMap(m_line.get(), map.data(), &error);
        if (U_FAILURE(error) || ubidi_getResultLength(m_line.get()) != n) {
            return std::nullopt;
        }
        std::vector<bool> seen(size_t(n), false);
        row.order.reserve(size_t(n));
        for (int32_t logical : map) {
            if (logical < 0 || logical >= n || seen[size_t(logical)]) {
                return std::nullopt;
            }
            seen[size_t(logical)] = true;
            row.order.push_back(logical);
        }
        row.rtl.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            row.rtl[size_t(i)] = (ubidi_getLevelAt(m_line.get(), i) & 1) != 0;
        }
        return row;
    }

private:
    struct Close {
        void operator()(UBiDi* bidi) const { ubidi_close(bidi); }
    };
    std::u16string m_probe;
    std::unique_ptr<UBiDi, Close> m_paragraph;
    std::unique_ptr<UBiDi, Close> m_line;
    bool m_valid = false;
};

std::shared_ptr<TerminalBidi::ParagraphResult>
buildParagraph(int first, std::span<const TerminalBidi::Cell> cells,
               std::span<const std::pair<int, int>> ranges, std::span<const int> usedColumns,
               int cols, BidiPresentationState state, bool hasPotentialRTL, uint64_t revision) {
    auto result = std::make_shared<TerminalBidi::ParagraphResult>();
    result->firstRow = first;
    BidiDirection base = state.fallbackDirection;
    if (state.autodetectDirection) {
        base = TerminalBidi::detectedBaseDirection(cells, base);
    }
    result->baseDirection = base;
    if (!hasPotentialRTL && base == BidiDirection::leftToRight) {
        return result;
    }
    std::vector<std::optional<std::u32string>> shaped = TerminalBidi::shapeArabic(cells);
    ParagraphOrder paragraph(cells, base);
    result->rowsByOffset.resize(ranges.size());
    for (size_t offset = 0; offset < ranges.size(); ++offset) {
        const auto [a, b] = ranges[offset];
        std::optional<ParagraphOrder::Row> order = paragraph.row(a, b);
        if (!order) {
            continue;
        }
        for (int k = 0; k < b - a; ++k) {
            const size_t index = size_t(a + k);
            if (order->rtl[size_t(k)] && !shaped[index]) {
                shaped[index] = mirrored(cells[index].text, state.boxMirroring);
            }
        }
        auto layout = std::make_shared<BidiRowLayout>();
        layout->logicalToVisualCol.assign(size_t(cols), 0);
        layout->visualToLogicalCol.assign(size_t(cols), 0);
        layout->visualCells.reserve(size_t(cols));
        layout->baseDirection = base;
        layout->paragraphRevision = revision;
        const int used = std::min(usedColumns[offset], cols);
        int v = 0;
        if (base == BidiDirection::rightToLeft) {
            placeTrailing(*layout, used, base, v);
        }
        for (int k : order->order) {
            const TerminalBidi::Cell& cell = cells[size_t(a + k)];
            place(*layout, cell.logicalCol, cell.width, shaped[size_t(a + k)], v);
        }
        if (base == BidiDirection::leftToRight) {
            placeTrailing(*layout, used, base, v);
        }
        result->rowsByOffset[offset] = std::move(layout);
    }
    return result;
}

std::shared_ptr<const TerminalBidi::ParagraphResult> rebase(const CachedParagraph& cached,
                                                            int first, uint64_t revision) {
    auto result = std::make_shared<TerminalBidi::ParagraphResult>();
    result->firstRow = first;
    result->baseDirection = cached.baseDirection;
    result->rowsByOffset.reserve(cached.rowsByOffset.size());
    for (const std::shared_ptr<const BidiRowLayout>& layout : cached.rowsByOffset) {
        if (!layout) {
            result->rowsByOffset.emplace_back();
            continue;
        }
        auto moved = std::make_shared<BidiRowLayout>(*layout);
        moved->paragraphRevision = revision;
        result->rowsByOffset.push_back(std::move(moved));
    }
    return result;
}

} // namespace

std::shared_ptr<const BidiRowLayout> TerminalBidi::ParagraphResult::row(int row) const {
    const int offset = row - firstRow;
    if (offset < 0 || offset >= int(rowsByOffset.size())) {
        return nullptr;
    }
    return rowsByOffset[size_t(offset)];
}

bool TerminalBidi::isRightToLeft(char32_t s) {
    return inRange(s, 0x0590, 0x08FF) || inRange(s, 0xFB1D, 0xFDFF) || inRange(s, 0xFE70, 0xFEFC) ||
           inRange(s, 0x10800, 0x10FFF) || inRange(s, 0x1E800, 0x1EFFF) || s == 0x200F ||
           s == 0x202B || s == 0x202E || s == 0x2067;
}

bool TerminalBidi::mayNeedBidi(const BufferLine& line, int cols, const TerminalServices& terminal) {
    const int n = std::min(line.count(), cols);
    int column = 0;
    while (column < n) {
        const CharData& cell = line[column];
        const int32_t code = cell.code();
        column += cell.width() <= 0 ? 1 : cell.width();
        if (code < 0x590) {
            continue;
        }
        // Codes from 0x400000 up stand for clusters; below that a code is one scalar.
        if (code >= 0x400000) {
            for (char32_t scalar : terminal.character(code)) {
                if (isRightToLeft(scalar)) {
                    return true;
                }
            }
        } else if (isRightToLeft(char32_t(code))) {
            return true;
        }
    }
    return false;
}

std::optional<std::pair<int, int>> TerminalBidi::paragraphBounds(int row, const Buffer& buffer,
                                                                 int maximumRows) {
    const CircularBufferLineList& lines = buffer.lines();
    const int limit = std::max(maximumRows, 1);
    if (row < 0 || row >= lines.count()) {
        return std::nullopt;
    }
    int start = row;
    int count = 1;
    while (start > 0 && lines.row(start).isWrapped()) {
        if (count == limit) {
            return std::nullopt;
        }
        ++count;
        --start;
    }
    int end = row;
    while (end + 1 < lines.count() && lines.row(end + 1).isWrapped()) {
        if (count == limit) {
            return std::nullopt;
        }
        ++count;
        ++end;
    }
    return std::pair(start, end);
}

std::shared_ptr<const TerminalBidi::ParagraphResult>
TerminalBidi::paragraphResult(int row, const Buffer& buffer, int cols, const Terminal& terminal,
                              uint64_t font) {
    const CircularBufferLineList& lines = buffer.lines();
    if (row < 0 || row >= lines.count() ||
        lines.row(row).bidiState().supportMode == BidiSupportMode::explicit_) {
        return nullptr;
    }
    const std::optional<std::pair<int, int>> bounds =
        paragraphBounds(row, buffer, terminal.options().maximumBidiParagraphRows);
    if (!bounds) {
        return nullptr;
    }
    const auto [first, last] = *bounds;
    const BidiPresentationState state = lines.row(first).bidiState();
    const uint64_t revision = paragraphRevision(first, last, buffer);
    const ParagraphKey key{&buffer, first, last, revision, cols, font, state};
    Caches& c = caches();
    {
        const std::lock_guard guard(c.lock);
        if (const auto found = c.paragraphs.find(key); found != c.paragraphs.end()) {
            ++c.statistics.identityHits;
            return found->second;
        }
    }

    bool hasPotentialRTL = false;
    for (int r = first; r <= last && !hasPotentialRTL; ++r) {
        hasPotentialRTL = mayNeedBidi(lines.row(r), cols, terminal);
    }
    if (!hasPotentialRTL && state.fallbackDirection == BidiDirection::leftToRight) {
        // Nothing to reorder: later requests cost the bounds, the revision and one lookup.
        auto result = std::make_shared<ParagraphResult>();
        result->firstRow = first;
        storeIdentity(key, result);
        return result;
    }

    const int rowCount = last - first + 1;
    std::vector<Cell> cells;
    cells.reserve(size_t(rowCount) * size_t(std::min(cols, 80)));
    std::vector<std::pair<int, int>> ranges(static_cast<size_t>(rowCount));
    std::vector<int> usedColumns(static_cast<size_t>(rowCount));
    for (int r = first; r <= last; ++r) {
        const int begin = int(cells.size());
        usedColumns[size_t(r - first)] = collectCells(lines.row(r), r, cols, terminal, cells);
        ranges[size_t(r - first)] = {begin, int(cells.size())};
    }
    Hasher content;
    content.add(cells.size());
    for (const Cell& cell : cells) {
        content.add(uint64_t(cell.row - first));
        content.add(uint64_t(cell.logicalCol));
        content.add(uint64_t(cell.width));
        for (char32_t scalar : cell.text) {
            content.add(scalar);
        }
        content.add(~0ull); // the end of the text
    }
    const ParagraphContentKey contentKey{content.value(), rowCount, cols, font, state};
    std::shared_ptr<const ParagraphResult> result;
    {
        const std::lock_guard guard(c.lock);
        const auto found = c.contents.find(contentKey);
        if (found != c.contents.end() && found->second.matches(cells, first)) {
            ++c.statistics.contentHits;
            result = rebase(found->second, first, revision);
        }
    }
    if (result) {
        storeIdentity(key, result);
        return result;
    }

    std::shared_ptr<ParagraphResult> built =
        buildParagraph(first, cells, ranges, usedColumns, cols, state, hasPotentialRTL, revision);
    CachedParagraph entry;
    entry.rowsByOffset = built->rowsByOffset;
    entry.rowsByOffset.resize(size_t(rowCount));
    entry.baseDirection = built->baseDirection;
    entry.cells = std::move(cells);
    for (Cell& cell : entry.cells) {
        cell.row -= first;
    }
    {
        const std::lock_guard guard(c.lock);
        ++c.statistics.builds;
        if (c.contents.size() >= cacheLimit) {
            c.contents.clear();
        }
        c.contents.insert_or_assign(contentKey, std::move(entry));
    }
    storeIdentity(key, built);
    return built;
}

std::shared_ptr<const BidiRowLayout>
TerminalBidi::explicitRightToLeftLayout(int row, const Buffer& buffer, int cols,
                                        const TerminalServices& terminal) {
    const CircularBufferLineList& lines = buffer.lines();
    if (row < 0 || row >= lines.count()) {
        return nullptr;
    }
    const BufferLine& line = lines.row(row);
    std::vector<Cell> cells;
    const int used = std::min(collectCells(line, row, cols, terminal, cells), cols);
    auto layout = std::make_shared<BidiRowLayout>();
    layout->logicalToVisualCol.assign(size_t(std::max(cols, 0)), 0);
    layout->visualToLogicalCol.assign(size_t(std::max(cols, 0)), 0);
    layout->baseDirection = BidiDirection::rightToLeft;
    layout->paragraphRevision = line.generation();
    int v = 0;
    placeTrailing(*layout, used, BidiDirection::rightToLeft, v);
    const bool boxMirroring = line.bidiState().boxMirroring;
    for (auto cell = cells.rbegin(); cell != cells.rend(); ++cell) {
        place(*layout, cell->logicalCol, cell->width, mirrored(cell->text, boxMirroring), v);
    }
    return layout;
}

std::pair<int, int> TerminalBidi::renderingDependencyRange(int lo, int hi, const Buffer& buffer,
                                                           int maximumRows) {
    const CircularBufferLineList& lines = buffer.lines();
    const int n = lines.count();
    if (n == 0) {
        return {lo, hi};
    }
    int a = std::max(0, std::min(lo, n - 1));
    int b = std::max(a, std::min(hi, n - 1));
    if (lines.row(a).bidiState().supportMode == BidiSupportMode::implicit) {
        if (const auto bounds = paragraphBounds(a, buffer, maximumRows)) {
            if (bounds->first <= b && b <= bounds->second) {
                return *bounds;
            }
            a = bounds->first;
        }
    }
    if (lines.row(b).bidiState().supportMode == BidiSupportMode::implicit) {
        if (const auto bounds = paragraphBounds(b, buffer, maximumRows)) {
            b = bounds->second;
        }
    }
    return {a, b};
}

uint64_t TerminalBidi::layoutRevision(int row, const Buffer& buffer, int maximumRows) {
    const CircularBufferLineList& lines = buffer.lines();
    if (row < 0 || row >= lines.count() ||
        lines.row(row).bidiState().supportMode == BidiSupportMode::explicit_) {
        return 0;
    }
    const auto bounds = paragraphBounds(row, buffer, maximumRows);
    return bounds ? paragraphRevision(bounds->first, bounds->second, buffer) : 0;
}

BidiDirection TerminalBidi::detectedBaseDirection(std::span<const Cell> cells,
                                                  BidiDirection fallback) {
    for (const Cell& cell : cells) {
        for (char32_t scalar : cell.text) {
            if (scalar == 0x200E) {
                return BidiDirection::leftToRight;
            }
            if (scalar == 0x200F) {
                return BidiDirection::rightToLeft;
            }
            if (u_hasBinaryProperty(UChar32(scalar), UCHAR_ALPHABETIC)) {
                return isRightToLeft(scalar) ? BidiDirection::rightToLeft
                                             : BidiDirection::leftToRight;
            }
        }
    }
    return fallback;
}

char16_t TerminalBidi::probeScalar(std::u32string_view text) {
    if (text.empty()) {
        return u' ';
    }
    const char32_t s = text.front();
    const int8_t category = u_charType(UChar32(s));
    // Marks become a neutral of their own, so that they never merge with the cell before them.
    if (u_getCombiningClass(UChar32(s)) != 0 || category == U_NON_SPACING_MARK ||
        category == U_ENCLOSING_MARK) {
        return u'\u00B7';
    }
    // Every Arabic letter stands as hamza: strong right-to-left, joining with nothing.
    if (inRange(s, 0x0620, 0x064A) || inRange(s, 0x0671, 0x06D5) || inRange(s, 0x06FA, 0x06FF) ||
        inRange(s, 0x0750, 0x077F) || inRange(s, 0x0870, 0x088F) || inRange(s, 0x08A0, 0x08D2) ||
        s == 0x066E || s == 0x066F || s == 0x06EE || s == 0x06EF || s == 0x200D) {
        return u'\u0621';
    }
    if (s < 0x10000) {
        return char16_t(s);
    }
    if (inRange(s, 0x10800, 0x10FFF) || inRange(s, 0x1E800, 0x1EFFF)) {
        return u'\u200F';
    }
    return u'\u00B7';
}

TerminalBidi::CacheStatistics TerminalBidi::cacheStatistics() {
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    CacheStatistics statistics = c.statistics;
    statistics.paragraphCacheSize = c.paragraphs.size();
    statistics.contentCacheSize = c.contents.size();
    return statistics;
}

void TerminalBidi::clearCaches() {
    Caches& c = caches();
    const std::lock_guard guard(c.lock);
    c.paragraphs.clear();
    c.contents.clear();
    c.statistics = {};
}

} // namespace veldatron
