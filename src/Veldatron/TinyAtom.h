#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace veldatron {

// Registry of cell payloads (the terminal's hyperlink payloads) behind 16-bit handles, codes 1 to
// 0xFFFE (0 means none).
//
// Each registered value is counted: a lookup of a value that is still registered returns its
// code and counts one use more, so the thousands of identical links of a long listing share one
// code; release counts one use fewer and removes the entry at the last. A released code is not
// handed out again at once: renderers and other screens may still show it, and reusing it would
// turn their old cells into the new link. New codes come from the unused range first; once that
// is spent, only codes that a mark over every holder (reclaim) found in no cell are reused.
// After 0xFFFE codes in use at once, a lookup answers none.
//
// Every operation holds the one lock for its whole duration and takes no other lock meanwhile;
// reclaim calls the holders without holding it. The process has one registry
// (TinyAtom::registry()); tests make their own instances.
class TinyAtomRegistry {
public:
    static constexpr uint16_t lastCode = 0xFFFE;

    // Whatever stores codes in cells (each terminal). Holders register while they live; reclaim
    // asks each for the codes it still uses. A holder is marked on the thread that calls
    // reclaim: the terminals of one registry live on one thread, as the application's do.
    class Holder {
    public:
        // Sets inUse[code] for every code the holder's cells carry or it still relies on;
        // inUse has 0x10000 entries. The holder may release its own unused codes first.
        virtual void markPayloads(std::vector<bool>& inUse) = 0;

    protected:
        ~Holder() = default;
    };

    TinyAtomRegistry() = default;
    TinyAtomRegistry(const TinyAtomRegistry&) = delete;
    TinyAtomRegistry& operator=(const TinyAtomRegistry&) = delete;

    // The code of a registered entry with the same value, counting one use more; else a new
    // entry under a code never used, or one freed by reclaim(); none when no code is left.
    std::optional<uint16_t> lookup(std::string value);
    // Counts one use fewer for each code; an entry with no use left is removed and its code waits
    // for reclaim(). 0 and codes not registered are skipped.
    void release(uint16_t code);
    void release(std::span<const uint16_t> codes);
    // The value registered under a code, or none (code 0 or released).
    std::optional<std::string> target(uint16_t code) const;
    // The highest code handed out so far, 0 before the first.
    uint16_t lastUsed() const;
    // Entries registered now.
    size_t liveCount() const;
    // Released codes waiting for a mark, and codes a mark has made free for reuse.
    size_t releasedCount() const;
    size_t freeCount() const;

    void addHolder(Holder& holder);
    void removeHolder(Holder& holder);
    // The mark: every holder notes the codes it uses; released codes that none of them uses
    // become free for reuse. Returns the number of free codes afterwards.
    size_t reclaim();

private:
    struct Entry {
        std::string value;
        uint32_t uses = 0;
    };

    void releaseLocked(uint16_t code);

    mutable std::mutex m_lock;
    std::unordered_map<uint16_t, Entry> m_entries;
    // Views into the entries' values (the map's nodes never move).
    std::unordered_map<std::string_view, uint16_t> m_codeOfValue;
    std::vector<uint16_t> m_released;
    std::vector<uint16_t> m_free;
    uint16_t m_lastUsed = 0;

    // Held for the whole of a mark, so that a holder cannot go away while it is marked.
    std::mutex m_holderLock;
    std::vector<Holder*> m_holders;
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
