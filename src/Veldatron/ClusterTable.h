#pragma once

#include "CharData.h"
#include "GraphemeClusters.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron {

// The grapheme clusters a terminal's cells hold by code: every character that is not one scalar
// up to U+FFFF gets a code from CharData::firstInternedCode up, the same for every cell that
// shows it while any cell does. Canonically equivalent clusters share a code.
//
// Text beyond ASCII joins one scalar at a time to the cell before the cursor, so the hot
// question is "the code of cluster `base` followed by `scalar`": it is answered from a small
// cache of the latest answers, then from a map of every join decided so far (one probe, no text
// built), and only a join never seen before builds the text, segments and normalises it.
//
// Codes no cell holds any more are reclaimed by a mark: once the table has grown enough since
// the last one, the owner is asked to mark every code its cells hold, and every other entry is
// freed, its code reused for a later cluster. The table thus stays within a small multiple of
// what the cells can show, whatever stream of distinct clusters arrives. A code returned here is
// only kept while a cell holds it: store it before asking for another.
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
        const RecentJoin& recent = m_recent[recentSlot(key)];
        return recent.key == key ? recent.code : joinMiss(key, base, scalar);
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
    struct RecentJoin {
        uint64_t key = ~uint64_t(0);
        int32_t code = 0;
    };
    struct JoinSlot {
        uint64_t key = ~uint64_t(0);
        int32_t code = 0;
    };
    // The cache grows with the joins remembered, from 2^10 to 2^14 entries (a few thousand
    // distinct clusters, each reached through a join or two).
    static constexpr int minimumRecentBits = 10;
    static constexpr int maximumRecentBits = 14;
    static constexpr uint64_t emptyKey = ~uint64_t(0);

    static uint64_t joinKey(int32_t base, char32_t scalar) {
        return uint64_t(uint32_t(base)) << 21 | scalar;
    }
    size_t recentSlot(uint64_t key) const {
        return size_t((key * 0x9E3779B97F4A7C15ull) >> m_recentShift);
    }
    // Sizes the cache for the joins remembered now, emptied.
    void resizeRecent();
    [[gnu::noinline]] int32_t joinMiss(uint64_t key, int32_t base, char32_t scalar);
    // The join of a pair never decided: builds, segments and interns the text.
    int32_t decideJoin(int32_t base, char32_t scalar);
    void rememberJoin(uint64_t key, int32_t code);
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
    // (base, scalar) -> code or -1: open addressing, at most half full.
    std::vector<JoinSlot> m_joins;
    size_t m_joinCount = 0;
    std::unique_ptr<RecentJoin[]> m_recent;
    int m_recentShift = 64 - minimumRecentBits;
    std::vector<uint64_t> m_marks;
    // size() at which the next intern sweeps first.
    size_t m_sweepAt = minimumSweepSize;
    std::unique_ptr<GraphemeClusters> m_segmenter;
};

} // namespace veldatron
