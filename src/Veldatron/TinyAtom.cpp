#include "TinyAtom.h"

namespace veldatron {

std::optional<uint16_t> TinyAtomRegistry::lookup(std::string value) {
    std::lock_guard guard(m_lock);
    if (m_lastUsed >= lastCode) {
        return std::nullopt;
    }
    ++m_lastUsed;
    m_map.insert_or_assign(m_lastUsed, std::move(value));
    return m_lastUsed;
}

void TinyAtomRegistry::release(uint16_t code) {
    std::lock_guard guard(m_lock);
    m_map.erase(code);
}

void TinyAtomRegistry::release(std::span<const uint16_t> codes) {
    std::lock_guard guard(m_lock);
    for (uint16_t code : codes) {
        m_map.erase(code);
    }
}

std::optional<std::string> TinyAtomRegistry::target(uint16_t code) const {
    std::lock_guard guard(m_lock);
    if (auto found = m_map.find(code); found != m_map.end()) {
        return found->second;
    }
    return std::nullopt;
}

uint16_t TinyAtomRegistry::lastUsed() const {
    std::lock_guard guard(m_lock);
    return m_lastUsed;
}

TinyAtomRegistry& TinyAtom::registry() {
    static TinyAtomRegistry shared;
    return shared;
}

std::optional<TinyAtom> TinyAtom::lookup(std::string value) {
    if (auto code = registry().lookup(std::move(value))) {
        return TinyAtom{*code};
    }
    return std::nullopt;
}

} // namespace veldatron
