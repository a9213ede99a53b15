#pragma once

#include "CharData.h"
#include "GraphemeClusters.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace veldatron {

// The grapheme clusters a terminal's cells hold by code: every character that is not one scalar
// up to U+FFFF gets a code from CharData::firstInternedCode up, the same for every cell that
// shows it while any cell does. Canonically equivalent clusters share a code.
//
// Text beyond ASCII joins one scalar at a time to the cell before the cursor, so the hot
// question is "the code of cluster `base` followed by `scalar`": it is answered from a map of
// every join decided so far (one cache line read, no text built), and only a join never seen
// before builds the text, segments and normalises it.
//
// Codes no cell holds any more are reclaimed by a mark: once the table has grown enough since
// the last one, the owner is asked to mark every code its cells hold, and every other entry is
// freed, its code reused for a later cluster. The table thus stays within a small multiple of
// what the cells can show, whatever stream of distinct clusters arrives. A code returned here is
// only kept while a cell holds it: store it before asking for another, or hold reclaiming while
// the cells stored are out of the mark's sight.
//
// Belongs to one terminal and its thread.
class ClusterTable {
public:
    struct Cluster {
        std::u32string text; // as first seen
        char32_t lastScalar = 0;
        uint8_t scalarCount = 0; // capped at 255
    };
    // A cell's cluster holds at most this many scalars: a base followed by an endless stream of
    // combining marks must not grow one cell (and the table) without bound.
    static constexpr size_t maxClusterScalars = 32;
    // The table is never swept below this many entries: a mark reads every stored cell, which
    // must stay rare next to the clusters interned between two marks.
    static constexpr size_t minimumSweepSize = 4096;

    // `markCells` calls mark() for the code of every cell that may be shown again (both screens
    // and the scrollback) and returns the number of cells it read.
    explicit ClusterTable(std::function<size_t(ClusterTable&)> markCells);
    ~ClusterTable();
    ClusterTable(const ClusterTable&) = delete;
    ClusterTable& operator=(const ClusterTable&) = delete;

    // The code of a cluster of one or more scalars (the caller handles lone scalars up to
    // U+FFFF and CR LF); U+FFFD when no code is left.
    int32_t intern(std::u32string_view cluster);
    // The code of the cell code `base` followed by `scalar`, or -1 when the two are not one
    // grapheme cluster or the cluster would be too long.
    int32_t join(int32_t base, char32_t scalar) {
        const uint64_t key = joinKey(base, scalar);
        const uint64_t* const words = m_joins[bucketOf(key)].words;
        uint64_t slot = words[0];
        if (slot >> resultBits != key) {
            // The other three compared at once: which of them holds a key is as random as the
            // keys.
            const unsigned found = unsigned(words[1] >> resultBits == key) |
                                   unsigned(words[2] >> resultBits == key) << 1 |
                                   unsigned(words[3] >> resultBits == key) << 2;
            if (found == 0) {
                return joinMiss(key, base, scalar);
            }
            slot = words[1 + std::countr_zero(found)];
        }
        const uint64_t result = slot & resultMask;
        return result != resultElsewhere ? unpackResult(result) : joinMiss(key, base, scalar);
    }
    // The code of a lone scalar above U+FFFF.
    int32_t scalar(char32_t scalar) { return join(0, scalar); }

    // The cluster of an interned code, or null (a code below firstInternedCode, never handed out
    // or freed).
    const Cluster* find(int32_t code) const {
        const int64_t index = int64_t(code) - CharData::firstInternedCode;
        if (index < 0 || index >= int64_t(m_entries.size())) {
            return nullptr;
        }
        const Entry& entry = m_entries[size_t(index)];
        return entry.live ? &entry.cluster : nullptr;
    }
    // Clusters held now.
    size_t size() const { return m_entries.size() - m_free.size(); }
    // Joins remembered now (the map behind the cache).
    size_t joinCount() const { return m_joinCount; }

    // During markCells: the code is held by a cell.
    void mark(int32_t code) {
        const uint64_t index = uint64_t(int64_t(code) - CharData::firstInternedCode);
        if (index < m_marks.size() * 64) {
            m_marks[index / 64] |= uint64_t(1) << (index % 64);
        }
    }
    // Marks now and frees every cluster no cell holds.
    void sweep();
    // While held, interning never reclaims. A writer whose cells stay out of the mark's sight
    // until it is done (the span writer publishes its row's cells at the end) holds the table
    // meanwhile and releases it once they are published; the release reclaims if the table
    // grew enough in between.
    void holdReclaiming() { m_reclaimingHeld = true; }
    void releaseReclaiming() {
        m_reclaimingHeld = false;
        if (size() >= m_sweepAt && m_markCells) {
            sweep();
        }
    }

private:
    struct Entry {
        Cluster cluster;
        std::u32string normalized; // NFC when it differs from the text, else empty
        uint32_t hash = 0;         // of the NFC form
        bool live = false;
        std::u32string_view key() const {
            return normalized.empty() ? std::u32string_view(cluster.text) : normalized;
        }
    };
    // A join is one word: its key above, its result in the low bits. The map is read for most
    // characters of text with marks, and the cells printed meanwhile push it out of the caches:
    // the fewer lines it takes, the more of it stays.
    static constexpr int resultBits = 17;
    static constexpr uint64_t resultMask = (uint64_t(1) << resultBits) - 1;
    // A key is a code (at most maxCode) above a 21-bit scalar: with the result, one word.
    static_assert(std::bit_width(uint32_t(CharData::maxCode)) + 21 + resultBits <= 64);
    // The result of a join whose code does not fit the word: kept in m_farJoins.
    static constexpr uint64_t resultElsewhere = resultMask;
    // No key is all ones (its scalar would be above U+10FFFF).
    static constexpr uint64_t emptySlot = ~uint64_t(0);
    // Four joins, filled in order; a full bucket continues in the next one. The map is kept at
    // most half full, so a lookup reads one bucket almost always.
    struct alignas(32) JoinBucket {
        uint64_t words[4] = {emptySlot, emptySlot, emptySlot, emptySlot};
    };
    static constexpr size_t minimumJoinBuckets = 256;

    // -1 (no join) as 0, a cluster code as its entry index + 1.
    static uint64_t packResult(int32_t code) {
        if (code < 0) {
            return 0;
        }
        const int64_t index = int64_t(code) - CharData::firstInternedCode;
        return index >= 0 && index + 1 < int64_t(resultElsewhere) ? uint64_t(index + 1)
                                                                  : resultElsewhere;
    }
    static int32_t unpackResult(uint64_t result) {
        return result == 0 ? -1 : CharData::firstInternedCode + int32_t(result) - 1;
    }
    static uint64_t joinKey(int32_t base, char32_t scalar) {
        return uint64_t(uint32_t(base)) << 21 | scalar;
    }
    size_t bucketOf(uint64_t key) const {
        return size_t((key * 0x9E3779B97F4A7C15ull) >> m_bucketShift);
    }
    // The code remembered for a join key, or none.
    std::optional<int32_t> findJoin(uint64_t key) const;
    [[gnu::noinline]] int32_t joinMiss(uint64_t key, int32_t base, char32_t scalar);
    // The join of a pair never decided: builds, segments and interns the text.
    int32_t decideJoin(int32_t base, char32_t scalar);
    void rememberJoin(uint64_t key, int32_t code);
    // Every join remembered, the map left empty.
    std::vector<std::pair<uint64_t, int32_t>> takeJoins();
    void clearJoins();
    // The entry index of a normalised text, or -1.
    int32_t findNormalized(std::u32string_view key, uint32_t hash) const;
    // Makes room for `count` live entries in the index (rebuilding it when it grows).
    void reserveIndex(size_t count);
    void indexEntry(uint32_t index);
    void rebuildJoins();

    std::function<size_t(ClusterTable&)> m_markCells;
    std::vector<Entry> m_entries;
    // Indices of freed entries, whose codes are handed out again.
    std::vector<uint32_t> m_free;
    // Normalised text -> entry: open addressing, entry index + 1 per slot (0: empty).
    std::vector<uint32_t> m_index;
    // (base, scalar) -> code or -1: a power of two of buckets.
    std::vector<JoinBucket> m_joins;
    // The results that do not fit a slot (codes of very large tables, U+FFFD), by key.
    std::unordered_map<uint64_t, int32_t> m_farJoins;
    int m_bucketShift = 64;
    size_t m_joinCount = 0;
    std::vector<uint64_t> m_marks;
    // size() at which the next intern sweeps first.
    size_t m_sweepAt = minimumSweepSize;
    bool m_reclaimingHeld = false;
    std::unique_ptr<GraphemeClusters> m_segmenter;
};

} // namespace veldatron
