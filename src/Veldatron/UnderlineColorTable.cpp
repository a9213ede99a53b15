#include "UnderlineColorTable.h"

namespace veldatron {

UnderlineColorTable::UnderlineColorTable(uint32_t capacity)
    : m_capacity(capacity), m_rgb(std::make_unique<std::atomic<uint32_t>[]>(capacity)) {}

UnderlineColorTable& UnderlineColorTable::shared() {
    static UnderlineColorTable table(sharedCapacity);
    return table;
}

std::optional<uint32_t> UnderlineColorTable::intern(uint32_t rgb) {
    std::lock_guard guard(m_lock);
    if (auto found = m_indexOf.find(rgb); found != m_indexOf.end()) {
        return found->second;
    }
    const uint32_t index = m_size.load(std::memory_order_relaxed);
    if (index >= m_capacity) {
        return std::nullopt;
    }
    m_rgb[index].store(rgb, std::memory_order_relaxed);
    m_size.store(index + 1, std::memory_order_release);
    m_indexOf.emplace(rgb, index);
    return index;
}

} // namespace veldatron
