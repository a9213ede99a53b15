#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace veldatron {

// The true colours used as underline colours, each stored once and referred to by index from
// attributes (see Attribute). Append-only for the life of the process: an index, once handed
// out, means the same colour forever, so equal attributes keep equal bytes.
//
// Interning takes the lock; reading an entry does not, because an index is only ever read from
// an attribute that was built after the entry was stored.
class UnderlineColorTable {
public:
    // Entries the process-wide table can hold: what the 17-bit reference leaves for true colours.
    static constexpr uint32_t sharedCapacity = (1u << 17) - 259;

    explicit UnderlineColorTable(uint32_t capacity);

    // The process-wide table that attributes use.
    static UnderlineColorTable& shared();

    // The index of the colour 0xRRGGBB, storing it when new; none once the table is full.
    std::optional<uint32_t> intern(uint32_t rgb);
    // The colour stored under an index handed out by intern.
    uint32_t rgb(uint32_t index) const {
        return index < m_capacity ? m_rgb[index].load(std::memory_order_relaxed) : 0;
    }
    uint32_t size() const { return m_size.load(std::memory_order_relaxed); }
    uint32_t capacity() const { return m_capacity; }

private:
    const uint32_t m_capacity;
    std::unique_ptr<std::atomic<uint32_t>[]> m_rgb;
    std::atomic<uint32_t> m_size{0};
    std::mutex m_lock;
    std::unordered_map<uint32_t, uint32_t> m_indexOf;
};

} // namespace veldatron
