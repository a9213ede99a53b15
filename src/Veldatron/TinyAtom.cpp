#include "TinyAtom.h"

#include <algorithm>

namespace veldatron {

std::optional<uint16_t> TinyAtomRegistry::lookup(std::string value) {
    std::lock_guard guard(m_lock);
    if (auto found = m_codeOfValue.find(value); found != m_codeOfValue.end()) {
        ++m_entries[found->second].uses;
        return found->second;
    }
    uint16_t code = 0;
    if (m_lastUsed < lastCode) {
        code = ++m_lastUsed;
    } else if (!m_free.empty()) {
        code = m_free.back();
        m_free.pop_back();
    } else {
        return std::nullopt;
    }
    Entry& entry = m_entries[code];
    entry.value = std::move(value);
    entry.uses = 1;
    m_codeOfValue.emplace(std::string_view(entry.value), code);
    return code;
}

void TinyAtomRegistry::releaseLocked(uint16_t code) {
    const auto found = m_entries.find(code);
    if (found == m_entries.end()) {
        return;
    }
    if (--found->second.uses > 0) {
        return;
    }
    m_codeOfValue.erase(std::string_view(found->second.value));
    m_entries.erase(found);
    m_released.push_back(code);
}

void TinyAtomRegistry::release(uint16_t code) {
    std::lock_guard guard(m_lock);
    releaseLocked(code);
}

void TinyAtomRegistry::release(std::span<const uint16_t> codes) {
    std::lock_guard guard(m_lock);
    for (uint16_t code : codes) {
        releaseLocked(code);
    }
}

std::optional<std::string> TinyAtomRegistry::target(uint16_t code) const {
    std::lock_guard guard(m_lock);
    if (auto found = m_entries.find(code); found != m_entries.end()) {
        return found->second.value;
    }
    return std::nullopt;
}

uint16_t TinyAtomRegistry::lastUsed() const {
    std::lock_guard guard(m_lock);
    return m_lastUsed;
}

size_t TinyAtomRegistry::liveCount() const {
    std::lock_guard guard(m_lock);
    return m_entries.size();
}

size_t TinyAtomRegistry::releasedCount() const {
    std::lock_guard guard(m_lock);
    return m_released.size();
}

size_t TinyAtomRegistry::freeCount() const {
    std::lock_guard guard(m_lock);
    return m_free.size();
}

void TinyAtomRegistry::addHolder(Holder& holder) {
    std::lock_guard guard(m_holderLock);
    m_holders.push_back(&holder);
}

void TinyAtomRegistry::removeHolder(Holder& holder) {
    std::lock_guard guard(m_holderLock);
    std::erase(m_holders, &holder);
}

size_t TinyAtomRegistry::reclaim() {
    std::lock_guard holders(m_holderLock);
    // Holders release their own unused codes while they mark, so the released list is read
    // only afterwards. A code released during the mark was in no holder's cells.
    std::vector<bool> inUse(0x10000);
    for (Holder* holder : m_holders) {
        holder->markPayloads(inUse);
    }
    std::lock_guard guard(m_lock);
    std::vector<uint16_t> stillShown;
    for (uint16_t code : m_released) {
        (inUse[code] ? stillShown : m_free).push_back(code);
    }
    m_released = std::move(stillShown);
    return m_free.size();
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
