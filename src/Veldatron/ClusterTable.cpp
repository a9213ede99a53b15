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

} // namespace

ClusterTable::ClusterTable(std::function<size_t(ClusterTable&)> markCells)
    : m_markCells(std::move(markCells)) {
    clearJoins();
}

ClusterTable::~ClusterTable() = default;

// ---- Joins ----------------------------------------------------------------------------------

std::optional<int32_t> ClusterTable::findJoin(uint64_t key) const {
    const size_t mask = m_joins.size() - 1;
    for (size_t index = bucketOf(key);; index = (index + 1) & mask) {
        const JoinBucket& bucket = m_joins[index];
        for (const uint64_t slot : bucket.words) {
            if (slot >> resultBits == key) {
                const uint64_t result = slot & resultMask;
                return result == resultElsewhere ? m_farJoins.at(key) : unpackResult(result);
            }
        }
        if (bucket.words[3] == emptySlot) {
            return std::nullopt;
        }
    }
}

int32_t ClusterTable::joinMiss(uint64_t key, int32_t base, char32_t scalar) {
    // The bucket the key hashes to may have overflowed into the next ones.
    if (const std::optional<int32_t> code = findJoin(key)) {
        return *code;
    }
    const int32_t code = decideJoin(base, scalar);
    // Deciding may have swept, which leaves no join behind that could name a freed code.
    rememberJoin(key, code);
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
        clearJoins();
    }
    if ((m_joinCount + 1) * 2 > m_joins.size() * 4) {
        const std::vector<std::pair<uint64_t, int32_t>> old = takeJoins();
        // Four words a bucket: an eighth full after growing, half full at the next growth.
        const size_t buckets = std::max(minimumJoinBuckets, std::bit_ceil(old.size() + 1));
        m_joins.assign(buckets, JoinBucket{});
        m_bucketShift = 64 - std::countr_zero(buckets);
        for (const auto& [oldKey, oldCode] : old) {
            rememberJoin(oldKey, oldCode);
        }
    }
    const uint64_t result = packResult(code);
    if (result == resultElsewhere) {
        m_farJoins[key] = code;
    }
    const size_t mask = m_joins.size() - 1;
    for (size_t index = bucketOf(key);; index = (index + 1) & mask) {
        for (uint64_t& slot : m_joins[index].words) {
            if (slot == emptySlot) {
                slot = key << resultBits | result;
                ++m_joinCount;
                return;
            }
        }
    }
}

std::vector<std::pair<uint64_t, int32_t>> ClusterTable::takeJoins() {
    std::vector<std::pair<uint64_t, int32_t>> joins;
    joins.reserve(m_joinCount);
    for (const JoinBucket& bucket : m_joins) {
        for (const uint64_t slot : bucket.words) {
            if (slot != emptySlot) {
                const uint64_t key = slot >> resultBits;
                const uint64_t result = slot & resultMask;
                joins.emplace_back(key, result == resultElsewhere ? m_farJoins.at(key)
                                                                  : unpackResult(result));
            }
        }
    }
    clearJoins();
    return joins;
}

void ClusterTable::clearJoins() {
    m_joins.assign(minimumJoinBuckets, JoinBucket{});
    m_joins.shrink_to_fit();
    m_bucketShift = 64 - std::countr_zero(minimumJoinBuckets);
    m_farJoins.clear();
    m_joinCount = 0;
}

void ClusterTable::rebuildJoins() {
    const auto held = [&](int32_t code) {
        return code < CharData::firstInternedCode || find(code) != nullptr;
    };
    for (const auto& [key, code] : takeJoins()) {
        if (held(int32_t(key >> 21)) && held(code)) {
            rememberJoin(key, code);
        }
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
    if (size() >= m_sweepAt && m_markCells && !m_reclaimingHeld) {
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
