#include "CircularBufferLineList.h"

#include "Diagnostics.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <string>
#include <vector>

namespace veldatron {

CircularBufferLineList::CircularBufferLineList(int maxLength)
    : m_maxLength(std::max(maxLength, 0)) {
    m_array.resize(size_t(std::min(m_maxLength, eagerSlots)));
}

void CircularBufferLineList::setCount(int count) {
    count = std::clamp(count, 0, m_maxLength);
    ensureSlots(count);
    m_count = count;
}

void CircularBufferLineList::setMaxLength(int maxLength) {
    maxLength = std::max(maxLength, 0);
    if (maxLength == m_maxLength) {
        return;
    }
    const size_t oldSlots = m_array.size();
    const size_t newSlots = size_t(
        std::min(maxLength, std::max({int(oldSlots), m_count, std::min(maxLength, eagerSlots)})));
    std::vector<BufferLinePtr> slots(newSlots);
    for (size_t i = 0; i < std::min(oldSlots, newSlots); ++i) {
        slots[i] = std::move(m_array[slotOf(int64_t(i))]);
    }
    m_array = std::move(slots);
    m_startIndex = 0;
    m_maxLength = maxLength;
    m_count = std::min(m_count, maxLength);
}

void CircularBufferLineList::ensureSlots(int64_t needed) {
    needed = std::min<int64_t>(needed, m_maxLength);
    const int64_t oldSlots = int64_t(m_array.size());
    if (needed <= oldSlots) {
        return;
    }
    const int64_t newSlots = std::min<int64_t>(m_maxLength, std::max(needed, oldSlots * 2));
    std::vector<BufferLinePtr> slots(static_cast<size_t>(newSlots));
    for (int64_t i = 0; i < oldSlots; ++i) {
        slots[size_t(i)] = std::move(m_array[slotOf(i)]);
    }
    m_array = std::move(slots);
    m_startIndex = 0;
}

void CircularBufferLineList::advanceStart(int64_t by) {
    const int64_t slots = int64_t(m_array.size());
    if (slots == 0) {
        return;
    }
    int64_t start = m_startIndex + by;
    if (start >= slots) {
        start = by < slots ? start - slots : start % slots;
    }
    m_startIndex = int(start);
}

const BufferLinePtr& CircularBufferLineList::lineSlow(int index) {
    if (index >= 0 && size_t(index) < m_array.size()) {
        BufferLinePtr& row = m_array[slotOf(index)];
        if (!row && makeEmpty) {
            row = makeEmpty(int(slotOf(index)));
        }
        if (row) {
            return row;
        }
    }
    if (!m_outOfRange || m_outOfRange->count() != 0) {
        m_outOfRange = BufferLine::create(0);
    }
    return m_outOfRange;
}

const BufferLine& CircularBufferLineList::row(int index) const {
    if (index >= 0 && size_t(index) < m_array.size()) {
        if (const BufferLine* stored = m_array[slotOf(index)].get()) {
            return *stored;
        }
    }
    static const BufferLinePtr blank = BufferLine::create(0);
    return *blank;
}

BufferLine* CircularBufferLineList::peek(int index) const {
    if (index < 0 || index >= m_count) {
        return nullptr;
    }
    return m_array[slotOf(index)].get();
}

void CircularBufferLineList::set(int index, BufferLinePtr row) {
    if (index < 0 || size_t(index) >= m_array.size() || !row) {
        return;
    }
    BufferLine& attached = *row;
    m_array[slotOf(index)] = std::move(row);
    attach(attached);
}

void CircularBufferLineList::push(BufferLinePtr row) {
    if (!row) {
        return;
    }
    attach(*row);
    if (m_maxLength == 0) {
        return;
    }
    if (size_t(m_count) == m_array.size()) {
        ensureSlots(int64_t(m_count) + 1);
    }
    const bool hasImages = row->hasImages();
    m_array[slotOf(m_count)] = std::move(row);
    if (size_t(m_count) == m_array.size()) {
        advanceStart(1);
    } else {
        ++m_count;
    }
    if (onLinePushed) {
        onLinePushed(hasImages);
    }
}

void CircularBufferLineList::trimStart(int n) {
    n = std::clamp(n, 0, m_count);
    advanceStart(n);
    m_count -= n;
}

bool CircularBufferLineList::shiftElements(int start, int count, int offset) {
    const char* reason = nullptr;
    if (count < 0) {
        reason = "count < 0";
    } else if (start < 0) {
        reason = "start < 0";
    } else if (start >= m_count) {
        reason = "start >= self.count";
    } else if (int64_t(start) + offset <= 0) {
        reason = "start+offset <= 0";
    }
    if (reason) {
        static DiagnosticSite site;
        site.emit("Assertion at start=" + std::to_string(start) + " count=" +
                  std::to_string(count) + " offset=" + std::to_string(offset) + ": " + reason);
        return false;
    }
    // Lines past the ring's count are not part of any valid move.
    count = std::min(count, m_count - start);
    if (offset > 0) {
        const int64_t end = int64_t(start) + count + offset;
        ensureSlots(end);
        for (int i = count - 1; i >= 0; --i) {
            m_array[slotOf(int64_t(start) + i + offset)] = m_array[slotOf(int64_t(start) + i)];
        }
        if (end > m_count) {
            int64_t newCount = end;
            if (end > m_maxLength) {
                advanceStart(end - m_maxLength);
                newCount = m_maxLength;
            }
            m_count = int(newCount);
        }
    } else {
        for (int i = 0; i < count; ++i) {
            m_array[slotOf(int64_t(start) + i + offset)] = m_array[slotOf(int64_t(start) + i)];
        }
    }
    return true;
}

namespace {

// Rotations by at most this many places (either way) move the rows that come round through the
// stack.
constexpr int maxShiftedThroughStack = 8;

// Rotates the n row slots at `slots` by `shift` places towards the end (the last `shift` rows
// come round to the front), as rotateSlotsByOne does: the pointers' bytes move, every row is
// still held exactly once, no count changes. At most maxShiftedThroughStack rows come round
// either way.
void rotateRowPointers(BufferLinePtr* slots, size_t n, size_t shift) {
    void* const raw = static_cast<void*>(slots);
    BufferLine** const rows = static_cast<BufferLine**>(raw);
    BufferLine* carried[maxShiftedThroughStack];
    if (shift <= n - shift) {
        std::memcpy(carried, rows + (n - shift), shift * sizeof(BufferLine*));
        std::memmove(rows + shift, rows, (n - shift) * sizeof(BufferLine*));
        std::memcpy(rows, carried, shift * sizeof(BufferLine*));
    } else {
        // The first n - shift rows go round to the end.
        const size_t back = n - shift;
        std::memcpy(carried, rows, back * sizeof(BufferLine*));
        std::memmove(rows, rows + back, shift * sizeof(BufferLine*));
        std::memcpy(rows + shift, carried, back * sizeof(BufferLine*));
    }
}

} // namespace

void CircularBufferLineList::rotateLinesGeneral(int first, int last, int by) {
    first = std::max(first, 0);
    last = std::min(last, m_count - 1);
    const int n = last - first + 1;
    if (n < 2) {
        return;
    }
    // The row at position n - shift of the range becomes its first.
    const int shift = by >= 0 && by < n   ? by
                      : by < 0 && by > -n ? n + by
                                          : int(((int64_t(by) % n) + n) % n);
    if (shift == 0) {
        return;
    }
    // Only pointer moves: no reference counting and no scratch space beyond a few rows, also
    // where the range wraps around the end of the slots (a full ring whose screen straddles it
    // scrolls its region this way on every line).
    const size_t slots = m_array.size();
    const size_t begin = slotOf(first);
    if (begin + size_t(n) <= slots && std::min(shift, n - shift) <= maxShiftedThroughStack) {
        // A few places within the slots (lines inserted or deleted, a region scrolled by a few
        // lines): the rows that come round go through a small buffer, the rest is one block.
        rotateRowPointers(m_array.data() + begin, size_t(n), size_t(shift));
        return;
    }
    if (shift == n - 1) {
        // One place towards the start, a scroll region's line feed: the first row is swapped
        // along to the end.
        size_t slot = slotOf(first);
        for (int i = 1; i < n; ++i) {
            const size_t next = slot + 1 == slots ? 0 : slot + 1;
            m_array[slot].swap(m_array[next]);
            slot = next;
        }
        return;
    }
    if (shift == 1) {
        size_t slot = slotOf(last);
        for (int i = 1; i < n; ++i) {
            const size_t previous = slot == 0 ? slots - 1 : slot - 1;
            m_array[slot].swap(m_array[previous]);
            slot = previous;
        }
        return;
    }
    // Three reversals: [A B] -> [B A] with B the last `shift` rows.
    reverseLines(first, last - shift);
    reverseLines(last - shift + 1, last);
    reverseLines(first, last);
}

void CircularBufferLineList::reverseLines(int first, int last) {
    if (first >= last) {
        return;
    }
    const size_t begin = slotOf(first);
    const size_t end = begin + size_t(last - first) + 1;
    if (end <= m_array.size()) {
        std::reverse(m_array.begin() + std::ptrdiff_t(begin),
                     m_array.begin() + std::ptrdiff_t(end));
        return;
    }
    for (int a = first, b = last; a < b; ++a, --b) {
        m_array[slotOf(a)].swap(m_array[slotOf(b)]);
    }
}

BufferLinePtr CircularBufferLineList::takeLine(int index) {
    if (index < 0 || index >= m_count) {
        return nullptr;
    }
    return std::move(m_array[slotOf(index)]);
}

} // namespace veldatron
