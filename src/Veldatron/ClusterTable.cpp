#include "ClusterTable.h"

#include <algorithm>
#include <array>
#include <bit>

namespace veldatron {

namespace {

uint32_t hashText(std::u32string_view text) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
    for (char32_t c : text) {
        h = (h ^ c) * 0xFF51AFD7ED558CCDull;
    }
    h ^= h >> 32;
    return uint32_t(h);
}

size_t mixKey(uint64_t key) {
    key ^= key >> 31;
    key *= 0xBF58476D1CE4E5B9ull;
    return size_t(key ^ (key >> 29));
}

} // namespace

ClusterTable::ClusterTable(std::function<size_t(ClusterTable&)> markCells)
    : m_markCells(std::move(markCells)),
      m_recent(std::make_unique<RecentJoin[]>(size_t(1) << minimumRecentBits)) {}

ClusterTable::~ClusterTable() = default;

// ---- Joins ----------------------------------------------------------------------------------

int32_t ClusterTable::joinMiss(uint64_t key, int32_t base, char32_t scalar) {
    int32_t code = -1;
    bool found = false;
    if (!m_joins.empty()) {
        const size_t mask = m_joins.size() - 1;
        for (size_t slot = mixKey(key) & mask;; slot = (slot + 1) & mask) {
            if (m_joins[slot].key == key) {
                code = m_joins[slot].code;
                found = true;
                break;
            }
            if (m_joins[slot].key == emptyKey) {
                break;
            }
        }
    }
    if (!found) {
        code = decideJoin(base, scalar);
        // Deciding may have swept, which leaves no join behind that could name a freed code.
        rememberJoin(key, code);
    }
    m_recent[recentSlot(key)] = {key, code};
    return code;
}

int32_t ClusterTable::decideJoin(int32_t base, char32_t scalar) {
    std::array<char32_t, maxClusterScalars> text;
    size_t length = 0;
    if (base != 0) {
        if (const Cluster* cluster = find(base)) {
            length = cluster->text.size();
            if (length >= maxClusterScalars) {
                return -1;
            }
            std::copy(cluster->text.begin(), cluster->text.end(), text.begin());
        } else {
            // A scalar code, or one that names nothing (shown as a blank, and joined as one).
            const bool scalarCode =
                base > 0 && base < 0x110000 && !(base >= 0xD800 && base <= 0xDFFF);
            text[length++] = scalarCode ? char32_t(base) : U' ';
        }
    }
    text[length++] = scalar;
    const std::u32string_view cluster(text.data(), length);
    if (base != 0) {
        if (!m_segmenter) {
            m_segmenter = std::make_unique<GraphemeClusters>();
        }
        if (!m_segmenter->isSingleCluster(cluster)) {
            return -1;
        }
    }
    return intern(cluster);
}

void ClusterTable::rememberJoin(uint64_t key, int32_t code) {
    // Pairs that join nothing are remembered too, and program output can send any number of
    // them: past a multiple of what the table may hold, the decisions start over.
    if (m_joinCount >= 8 * std::max(m_sweepAt, size())) {
        m_joins.clear();
        m_joinCount = 0;
    }
    if ((m_joinCount + 1) * 2 > m_joins.size()) {
        std::vector<JoinSlot> old = std::move(m_joins);
        m_joins.assign(std::max<size_t>(1024, 2 * std::bit_ceil(m_joinCount + 1)), JoinSlot{});
        m_joinCount = 0;
        for (const JoinSlot& slot : old) {
            if (slot.key != emptyKey) {
                rememberJoin(slot.key, slot.code);
            }
        }
        if (size_t(1) << (64 - m_recentShift) < m_joinCount &&
            m_recentShift > 64 - maximumRecentBits) {
            resizeRecent();
        }
    }
    const size_t mask = m_joins.size() - 1;
    size_t slot = mixKey(key) & mask;
    while (m_joins[slot].key != emptyKey) {
        slot = (slot + 1) & mask;
    }
    m_joins[slot] = {key, code};
    ++m_joinCount;
}

void ClusterTable::rebuildJoins() {
    std::vector<JoinSlot> old = std::move(m_joins);
    m_joins.clear();
    m_joinCount = 0;
    const auto held = [&](int32_t code) {
        return code < CharData::firstInternedCode || find(code) != nullptr;
    };
    for (const JoinSlot& slot : old) {
        if (slot.key != emptyKey && held(int32_t(slot.key >> 21)) && held(slot.code)) {
            rememberJoin(slot.key, slot.code);
        }
    }
    resizeRecent();
}

void ClusterTable::resizeRecent() {
    const int bits =
        std::clamp(int(std::bit_width(m_joinCount)), minimumRecentBits, maximumRecentBits);
    if (64 - bits != m_recentShift) {
        m_recentShift = 64 - bits;
        m_recent = std::make_unique<RecentJoin[]>(size_t(1) << bits);
    } else {
        std::fill_n(m_recent.get(), size_t(1) << bits, RecentJoin{});
    }
}

// ---- Interning ------------------------------------------------------------------------------

int32_t ClusterTable::findNormalized(std::u32string_view key, uint32_t hash) const {
    if (m_index.empty()) {
        return -1;
    }
    const size_t mask = m_index.size() - 1;
    for (size_t slot = hash & mask; m_index[slot] != 0; slot = (slot + 1) & mask) {
        const Entry& entry = m_entries[m_index[slot] - 1];
        if (entry.hash == hash && entry.key() == key) {
            return int32_t(m_index[slot] - 1);
        }
    }
    return -1;
}

void ClusterTable::reserveIndex(size_t count) {
    if (count * 2 <= m_index.size()) {
        return;
    }
    m_index.assign(std::bit_ceil(std::max<size_t>(1024, count * 2)), 0);
    for (uint32_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].live) {
            indexEntry(i);
        }
    }
}

void ClusterTable::indexEntry(uint32_t index) {
    const size_t mask = m_index.size() - 1;
    size_t slot = m_entries[index].hash & mask;
    while (m_index[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    m_index[slot] = index + 1;
}

int32_t ClusterTable::intern(std::u32string_view cluster) {
    std::u32string normalized = GraphemeClusters::nfc(cluster);
    const uint32_t hash = hashText(normalized);
    if (const int32_t found = findNormalized(normalized, hash); found >= 0) {
        return CharData::firstInternedCode + found;
    }
    if (size() >= m_sweepAt && m_markCells) {
        sweep();
    }
    uint32_t index = 0;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else if (int64_t(m_entries.size()) + CharData::firstInternedCode <= CharData::maxCode) {
        index = uint32_t(m_entries.size());
        m_entries.emplace_back();
    } else {
        // Every code is held by a cell: the character shows as the replacement character.
        return 0xFFFD;
    }
    Entry& entry = m_entries[index];
    entry.cluster.text = std::u32string(cluster);
    entry.cluster.lastScalar = cluster.empty() ? 0 : cluster.back();
    entry.cluster.scalarCount = uint8_t(std::min<size_t>(cluster.size(), 255));
    entry.normalized = normalized == cluster ? std::u32string() : std::move(normalized);
    entry.hash = hash;
    // The new entry is not live yet, so growing the index leaves it out.
    reserveIndex(size() + 1);
    indexEntry(index);
    entry.live = true;
    return CharData::firstInternedCode + int32_t(index);
}

// ---- Reclaiming -----------------------------------------------------------------------------

void ClusterTable::sweep() {
    m_marks.assign((m_entries.size() + 63) / 64, 0);
    const size_t cellsRead = m_markCells ? m_markCells(*this) : 0;
    for (uint32_t i = 0; i < m_entries.size(); ++i) {
        Entry& entry = m_entries[i];
        if (entry.live && !((m_marks[i / 64] >> (i % 64)) & 1)) {
            entry = Entry{};
            m_free.push_back(i);
        }
    }
    m_marks.clear();
    m_marks.shrink_to_fit();
    // Freed entries at the end are dropped, so the table shrinks after a burst; the lowest
    // free codes are handed out first.
    while (!m_entries.empty() && !m_entries.back().live) {
        m_entries.pop_back();
    }
    std::erase_if(m_free, [&](uint32_t index) { return index >= m_entries.size(); });
    std::sort(m_free.begin(), m_free.end(), std::greater<>());
    m_entries.shrink_to_fit();
    m_free.shrink_to_fit();
    m_index.clear();
    reserveIndex(size() + 1);
    rebuildJoins();
    // The next mark pays for itself: it comes after at least as many new clusters as survive
    // this one, and after a share of the cells it reads.
    m_sweepAt = std::max({minimumSweepSize, size() * 2, size() + cellsRead / 8});
}

} // namespace veldatron
