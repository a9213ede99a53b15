#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace veldatron {

// One graphic character set: for each ASCII byte, the character that replaces it while the set
// is in use, or 0 when the byte prints as itself. Every replacement is a single scalar.
class CharSetTable {
public:
    constexpr CharSetTable() = default;

    // The replacement of a byte, or 0 when the byte is not in the table (bytes from 0x80 never
    // are).
    constexpr char32_t replacement(uint8_t byte) const { return byte < 0x80 ? m_map[byte] : 0; }
    constexpr bool contains(uint8_t byte) const { return replacement(byte) != 0; }
    // Number of bytes the table replaces.
    constexpr size_t count() const { return m_count; }
    // True for the United States (ASCII) set: designating it removes every replacement, so it
    // prints exactly as no set at all. Programs designate it all the time (ESC ( B), and the
    // print path asks on every run.
    constexpr bool isEmpty() const { return m_count == 0; }

    constexpr void set(uint8_t byte, char32_t replacement) {
        char32_t& slot = m_map[byte & 0x7F];
        m_count = uint8_t(m_count - (slot != 0) + (replacement != 0));
        slot = replacement;
    }

private:
    std::array<char32_t, 128> m_map{};
    uint8_t m_count = 0;
};

// The sets a program can designate into G0-G3 with ESC ( ) * + - . / and a designator byte:
// DEC special graphics and the DEC national replacement sets. Built at compile time.
class CharSets {
public:
    // The table of a designator, or nullptr when the designator names no set (plain ASCII).
    // Designators that name the same set ("0" and "2", "C" and "5", "E" and "6", "H" and "7")
    // give the same table.
    static const CharSetTable* all(uint8_t designator);
};

} // namespace veldatron
