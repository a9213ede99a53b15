#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace veldatron {

/// The numeric parameters of one control sequence or device control string, as the parser
/// collected them. Owned by the parser and reused for every sequence; handlers read it during the
/// dispatch call only.
///
/// A sequence carries at most `maxCount` parameters and each value saturates at `maxValue`, so no
/// program output can overflow a handler's arithmetic. A parameter without digits is omitted: it
/// reads as 0, but `isOmitted` tells it apart from an explicit 0 for handlers whose default is not
/// 0. Each parameter after the first remembers the separator before it: ':' marks a sub-parameter
/// of the parameter on its left (SGR "38:2::10:20:30", "4:3"), ';' a parameter of its own.
class ParserParams {
public:
    static constexpr int maxCount = 24;
    static constexpr std::int32_t maxValue = 65535;

    /// Number of parameters; never below 1 (an empty list reads as one omitted parameter).
    int size() const { return m_count; }

    /// The value of parameter i; 0 when it is omitted or i is out of range.
    std::int32_t operator[](int i) const {
        return static_cast<unsigned>(i) < m_count ? m_values[static_cast<unsigned>(i)] : 0;
    }

    /// The value of parameter i, or `fallback` when it is omitted or out of range.
    std::int32_t valueOr(int i, std::int32_t fallback) const {
        return isOmitted(i) ? fallback : m_values[static_cast<unsigned>(i)];
    }

    /// True when parameter i had no digits (also for an index out of range).
    bool isOmitted(int i) const {
        return static_cast<unsigned>(i) >= m_count || ((m_present >> i) & 1u) == 0;
    }

    /// The separator byte, ';' or ':', that stood before parameter i; 0 for i = 0 or out of range.
    std::uint8_t separatorBefore(int i) const {
        if (i < 1 || i >= m_count) {
            return 0;
        }
        return ((m_colons >> i) & 1u) ? ':' : ';';
    }

    /// True when parameter i follows a ':' (it belongs to the parameter on its left).
    bool isSubParameter(int i) const { return separatorBefore(i) == ':'; }

    std::span<const std::int32_t> values() const { return {m_values.data(), m_count}; }

    /// Back to a single omitted parameter.
    void reset() {
        m_values[0] = 0;
        m_count = 1;
        m_present = 0;
        m_colons = 0;
    }

    /// Starts a new parameter after a ';' or ':'; false, changing nothing, when the list is full.
    bool addSeparator(std::uint8_t separator) {
        if (m_count >= maxCount) {
            return false;
        }
        if (separator == ':') {
            m_colons |= 1u << m_count;
        }
        m_values[m_count++] = 0;
        return true;
    }

    /// Reads a run of parameter bytes (digits, ';' and ':') from `p` on, as addDigit and
    /// addSeparator would one byte at a time, and returns where it stopped: at `end`, at the first
    /// other byte, or at a separator the full list has no room for (the caller marks the limit).
    /// The bulk of every control sequence passes here; the count, the bit sets and the value being
    /// read stay in registers until the run ends.
    const std::uint8_t* addParameterBytes(const std::uint8_t* p, const std::uint8_t* end) {
        std::int32_t* slot = &m_values[m_count - 1u]; // the parameter being read
        std::uint32_t bit = 1u << (m_count - 1u);     // its bit in m_present and m_colons
        std::uint32_t present = m_present;
        std::uint32_t colons = m_colons;
        auto value = static_cast<std::uint32_t>(*slot);
        for (; p < end; ++p) {
            const std::uint32_t digit = *p - std::uint32_t('0');
            if (digit < 10) {
                // Saturates as addDigit does: v * 10 + d stays within 32 bits.
                value = std::min<std::uint32_t>(value * 10 + digit, maxValue);
                present |= bit;
                continue;
            }
            // ':' and ';' follow '9'.
            if (digit - 10 > 1 || bit == 1u << (maxCount - 1)) {
                break;
            }
            *slot++ = static_cast<std::int32_t>(value);
            value = 0;
            bit <<= 1;
            if (digit == 10) {
                colons |= bit;
            }
        }
        *slot = static_cast<std::int32_t>(value);
        m_count = static_cast<std::uint8_t>(slot - m_values.data() + 1);
        m_present = present;
        m_colons = colons;
        return p;
    }

    /// Appends a decimal digit (0-9) to the last parameter, saturating at `maxValue`.
    void addDigit(std::uint8_t digit) {
        const unsigned last = m_count - 1u;
        std::int32_t& v = m_values[last];
        v = v <= (maxValue - digit) / 10 ? v * 10 + digit : maxValue;
        m_present |= 1u << last;
    }

private:
    std::array<std::int32_t, maxCount> m_values{};
    std::uint32_t m_present = 0; // bit i: parameter i had at least one digit
    std::uint32_t m_colons = 0;  // bit i: parameter i follows a ':'
    std::uint8_t m_count = 1;
};

} // namespace veldatron
