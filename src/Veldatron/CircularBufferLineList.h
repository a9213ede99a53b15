#pragma once

#include "BufferLine.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <type_traits>
#include <vector>

namespace veldatron {

// The rows of one screen, scrollback included: a ring of at most `maxLength` lines, logical line
// 0 being the oldest kept. Pushing onto a full ring drops the oldest line without moving the
// others; `recycle` turns the oldest row object into the newest without allocating.
//
//   slots     [ C ][ D ][ A ][ B ][   ]        startIndex = 2, count = 4
//   lines       2    3    0    1   (stale)     line i lives in slot (startIndex + i) % slots
//
// Slots are allocated as the ring fills, doubling up to `maxLength`, so a huge scrollback
// setting costs nothing until lines arrive. While the ring is not full the slot count may be below
// `maxLength`; the layout is the same modular one, and growing repacks the slots in logical order
// with startIndex 0 (as changing maxLength does). startIndex is kept below the slot count, so an
// index costs an add and a compare, no division.
//
// Empty slots are filled on first read by `makeEmpty` (the screen's blank-row factory). Lines at
// or beyond `count` may be read (and so materialised) while they lie within the slots; other
// out-of-range requests (a negative index, a ring without slots, an empty slot without a factory)
// read a row of no cells that stands for nothing and ignores writes to its cells.
//
// Owned by its Buffer; single-threaded; callbacks run synchronously inside the operation.
class CircularBufferLineList {
public:
    // Slots allocated up front: a ring up to this size is allocated whole.
    static constexpr int eagerSlots = 4096;

    explicit CircularBufferLineList(int maxLength);

    // Factory for empty slots; receives the slot position.
    std::function<BufferLinePtr(int)> makeEmpty;
    // Told when a recycled row had images.
    std::function<void()> onLineRecycledWithImages;
    // Told whether a pushed row has images.
    std::function<void(bool)> onLinePushed;
    // Told of every row stored into the ring.
    std::function<void(BufferLine&)> onLineAttached;

    int count() const { return m_count; }
    // Clamped to 0...maxLength; rows beyond a reduced count stay in their slots.
    void setCount(int count);
    bool isFull() const { return m_count == m_maxLength; }
    int maxLength() const { return m_maxLength; }
    // Repacks the slots in logical order from slot 0; the count is kept (clamped to the new
    // maximum: callers trim first).
    void setMaxLength(int maxLength);
    int startIndex() const { return m_startIndex; }
    int slotCount() const { return int(m_array.size()); }

    // The row of logical line i, materialising an empty slot (without onLineAttached).
    BufferLine& operator[](int index) { return *line(index); }
    const BufferLinePtr& line(int index) {
        if (unsigned(index) < unsigned(m_count)) {
            size_t slot = size_t(m_startIndex) + unsigned(index);
            if (slot >= m_array.size()) {
                slot -= m_array.size();
            }
            BufferLinePtr& row = m_array[slot];
            if (row) {
                return row;
            }
        }
        return lineSlow(index);
    }
    // The row of logical line i for reading, never materialising anything: what a slot holds,
    // or, for an empty slot or an index outside the slots, a blank row of no cells shared by
    // every ring. Drawing reads rows this way, so painting never creates one.
    const BufferLine& row(int index) const;
    // The row of logical line i without materialising: null for an empty slot or an index
    // outside the lines in use.
    BufferLine* peek(int index) const;
    // The row held in slot `slot` of the array, whatever line it stands for (a diagnostic view
    // of the ring): null for an empty slot or one outside the array.
    const BufferLine* storedLine(int slot) const {
        return unsigned(slot) < m_array.size() ? m_array[size_t(slot)].get() : nullptr;
    }
    // Calls f(row) for every row held in a slot, within the lines in use or beyond them (rows
    // beyond a reduced count stay in their slots and may come back), in slot order.
    template <typename F> void forEachStoredLine(F&& f) const {
        for (const BufferLinePtr& row : m_array) {
            if (row) {
                f(static_cast<const BufferLine&>(*row));
            }
        }
    }
    // Stores a row at logical line i, then onLineAttached.
    void set(int index, BufferLinePtr row);

    void push(BufferLinePtr row);
    // Only on a full ring (otherwise nothing happens): the oldest row, cleared with the attribute
    // and stripped of marks, wrap flag, render mode and images, becomes the newest line, which it
    // returns (null when nothing happened). Runs once per line that scrolls into a full scrollback,
    // so it is inline and allocation-free.
    BufferLine* recycle(const Attribute& clearAttribute) {
        if (m_count == 0 || m_count != m_maxLength) {
            return nullptr;
        }
        // A full ring has exactly maxLength slots.
        const size_t slot = size_t(m_startIndex);
        m_startIndex = slot + 1 < m_array.size() ? int(slot + 1) : 0;
        BufferLine* row = m_array[slot].get();
        prefetchAhead(m_array.data(), m_array.size(), slot);
        // Most rows never held an image: no call for them.
        if (row != nullptr && row->recycleAsBlank(clearAttribute) && onLineRecycledWithImages) {
            onLineRecycledWithImages();
        }
        return row;
    }
    // recycle() for many rows in turn (a run of lines scrolling into a full scrollback), with
    // the slots and the position in them kept in registers: recycle() loads them again for
    // every row, as the stores that clear a row might change the ring for all the compiler
    // knows. The ring is kept up to date row by row, so it may be read meanwhile; only the
    // recycler may change it while the recycler lives.
    class Recycler {
    public:
        // The ring must be full (isFull() with at least one line). Every row is cleared with
        // `clearAttribute`.
        Recycler(CircularBufferLineList& ring, const Attribute& clearAttribute)
            : m_ring(ring), m_rows(ring.m_array.data()), m_slotCount(ring.m_array.size()),
              m_slot(size_t(ring.m_startIndex)), m_blank(clearAttribute, 0, 1) {}
        BufferLine* recycle() {
            const size_t slot = m_slot;
            m_slot = slot + 1 < m_slotCount ? slot + 1 : 0;
            m_ring.m_startIndex = int(m_slot);
            BufferLine* row = m_rows[slot].get();
            prefetchAhead(m_rows, m_slotCount, slot);
            if (row != nullptr && row->recycleAsBlank(m_blank) && m_ring.onLineRecycledWithImages) {
                m_ring.onLineRecycledWithImages();
            }
            return row;
        }

    private:
        CircularBufferLineList& m_ring;
        const BufferLinePtr* m_rows;
        size_t m_slotCount;
        size_t m_slot;
        CharData m_blank;
    };

    // Deletes `deleteCount` lines at `start`, inserts `items` there and calls change(line) for
    // every line whose slot was rewritten, in the order written. On a full ring the oldest lines
    // fall off.
    template <typename Change>
    void splice(int start, int deleteCount, std::span<const BufferLinePtr> items, Change&& change);
    void splice(int start, int deleteCount, std::span<const BufferLinePtr> items) {
        splice(start, deleteCount, items, [](int) {});
    }
    // Drops the n oldest lines (clamped to 0...count).
    void trimStart(int n);
    // Moves `count` lines from `start` by `offset` lines. A request that would leave the ring or
    // move onto line 0 prints one diagnostic line and returns false without changing anything.
    bool shiftElements(int start, int count, int offset);
    // Rotates lines first..last (within the lines in use, line 0 included) by `by` places
    // towards the end (towards the start when negative): the rows that pass `last` come back at
    // `first`. Rows shifted inside a screen stay in it, so nothing is called back.
    void rotateLines(int first, int last, int by) {
        // By one place within the slots (a scroll region's line feed, a reverse index, one
        // inserted or deleted line): one block move of the pointers, inline.
        if ((by == 1 || by == -1) && first >= 0 && first < last && last < m_count) {
            const size_t begin = slotOf(first);
            const size_t n = size_t(last - first) + 1;
            if (begin + n <= m_array.size()) {
                rotateSlotsByOne(begin, n, by == 1);
                return;
            }
        }
        rotateLinesGeneral(first, last, by);
    }
    // Makes line i (within the lines in use) a copy of `from`, as set(i, BufferLine::copyReusing(
    // from, takeLine(i))) would, but in place: a row that only the ring holds becomes the copy
    // (new serial; it stays attached, so no onLineAttached), any other is replaced by a new one.
    void resetLine(int index, const BufferLine& from) {
        if (index < 0 || index >= m_count) {
            return;
        }
        BufferLinePtr& row = m_array[slotOf(index)];
        if (!row || !row->reuseAsCopyOf(from)) {
            set(index, BufferLine::create(from));
        }
    }
    // Takes the row of line i out of its slot (null outside the lines in use); the slot holds
    // none until a row is stored there.
    BufferLinePtr takeLine(int index);

private:
    // Rows are recycled in slot order, each last touched a whole ring ago, so all of them are
    // far out of cache: the row a few lines ahead is asked for now, its header first and, once
    // that has arrived, its cells, for writing.
    static constexpr size_t headerAhead = 16;
    static constexpr size_t cellsAhead = 6;
    static void prefetchAhead(const BufferLinePtr* rows, size_t ringSlots, size_t slot) {
        if (ringSlots <= headerAhead) {
            return;
        }
        size_t header = slot + headerAhead;
        header -= header >= ringSlots ? ringSlots : 0;
        if (const BufferLine* row = rows[header].get()) {
            row->prefetchHeader();
        }
        size_t cells = slot + cellsAhead;
        cells -= cells >= ringSlots ? ringSlots : 0;
        if (const BufferLine* row = rows[cells].get()) {
            row->prefetchRecycledCells();
        }
    }
    size_t slotOf(int64_t index) const {
        const int64_t size = int64_t(m_array.size());
        const int64_t slot = m_startIndex + index;
        if (slot >= 0 && slot < size) {
            return size_t(slot);
        }
        // Lines in use wrap around the end of the slots at most once: no division for them.
        if (slot >= size && slot < 2 * size) {
            return size_t(slot - size);
        }
        return size_t(((slot % size) + size) % size);
    }
    void advanceStart(int64_t by);
    // Rotates the n slots from `begin` (not wrapping around the end) by one place.
    void rotateSlotsByOne(size_t begin, size_t n, bool towardsEnd) {
        // A RefPtr is one pointer, and nothing points at a slot: moving the slots' bytes relocates
        // the references, every row still held exactly once, so no count changes and no row is
        // touched. (Moving them one by one costs a test and a store per row for the emptied
        // source.)
        static_assert(sizeof(BufferLinePtr) == sizeof(BufferLine*));
        static_assert(std::is_standard_layout_v<BufferLinePtr>);
        // (Not named "slots": Qt defines that word as a macro for every file of the view.)
        void* const range = static_cast<void*>(m_array.data() + begin);
        BufferLine** const rows = static_cast<BufferLine**>(range);
        if (towardsEnd) {
            BufferLine* const moved = rows[n - 1];
            std::memmove(rows + 1, rows, (n - 1) * sizeof(BufferLine*));
            rows[0] = moved;
        } else {
            BufferLine* const moved = rows[0];
            std::memmove(rows, rows + 1, (n - 1) * sizeof(BufferLine*));
            rows[n - 1] = moved;
        }
    }
    void rotateLinesGeneral(int first, int last, int by);
    // Reverses the order of lines first..last (within the lines in use).
    void reverseLines(int first, int last);
    // Makes at least `needed` slots (at most maxLength), doubling, repacked from slot 0.
    void ensureSlots(int64_t needed);
    const BufferLinePtr& lineSlow(int index);
    void attach(BufferLine& row) {
        if (onLineAttached) {
            onLineAttached(row);
        }
    }

    std::vector<BufferLinePtr> m_array;
    int m_startIndex = 0;
    int m_count = 0;
    int m_maxLength = 0;
    // What out-of-range reads get.
    BufferLinePtr m_outOfRange;
};

template <typename Change>
void CircularBufferLineList::splice(int start, int deleteCount,
                                    std::span<const BufferLinePtr> items, Change&& change) {
    // Requests past the lines in use are clipped to them.
    start = std::clamp(start, 0, m_count);
    deleteCount = std::clamp(deleteCount, 0, m_count - start);
    if (m_array.empty()) {
        return;
    }
    if (deleteCount > 0) {
        for (int a = start; a < m_count - deleteCount; ++a) {
            m_array[slotOf(a)] = m_array[slotOf(int64_t(a) + deleteCount)];
            change(a);
        }
        m_count -= deleteCount;
    }
    const int64_t n = int64_t(items.size());
    ensureSlots(m_count + n);
    for (int i = m_count - 1; i >= start; --i) {
        m_array[slotOf(i + n)] = m_array[slotOf(i)];
        change(int(i + n));
    }
    for (int64_t k = 0; k < n; ++k) {
        change(int(start + k));
        attach(*items[size_t(k)]);
        m_array[slotOf(start + k)] = items[size_t(k)];
    }
    const int64_t total = m_count + n;
    const int64_t slotTotal = int64_t(m_array.size());
    if (total > slotTotal) {
        // The oldest lines, whose slots the shifted lines took, are gone.
        advanceStart(total - slotTotal);
        m_count = int(slotTotal);
    } else {
        m_count = int(total);
    }
}

} // namespace veldatron
