#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>

namespace veldatron {

// Registry of cell payloads (the terminal's hyperlink payloads) behind 16-bit handles. Codes are
// handed out once each, 1 to 0xFFFE in increasing order, and never reused after release, so a
// stale cell can never resolve to another link; after 0xFFFE registrations in the life of the
// registry every further one answers none. Every operation holds the one lock for its whole
// duration and takes no other lock meanwhile.
//
// The process has one registry (TinyAtom::registry()); tests make their own instances.
class TinyAtomRegistry {
public:
    static constexpr uint16_t lastCode = 0xFFFE;

    // Stores a value under a new code; none when the registry is exhausted.
    std::optional<uint16_t> lookup(std::string value);
    // Removes the entries of the codes; 0 and codes not registered are skipped.
    void release(uint16_t code);
    void release(std::span<const uint16_t> codes);
    // The value registered under a code, or none (code 0 or released).
    std::optional<std::string> target(uint16_t code) const;
    // The last code handed out, 0 before the first.
    uint16_t lastUsed() const;

private:
    mutable std::mutex m_lock;
    std::unordered_map<uint16_t, std::string> m_map;
    uint16_t m_lastUsed = 0;
};

// A handle of a cell payload; code 0 means none.
struct TinyAtom {
    uint16_t code = 0;

    // The process-wide registry behind every handle.
    static TinyAtomRegistry& registry();

    static std::optional<TinyAtom> lookup(std::string value);
    static void release(uint16_t code) { registry().release(code); }
    static void release(std::span<const uint16_t> codes) { registry().release(codes); }
    void release() const { registry().release(code); }
    std::optional<std::string> target() const { return registry().target(code); }

    friend constexpr bool operator==(TinyAtom, TinyAtom) = default;
};

} // namespace veldatron
