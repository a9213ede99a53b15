#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
#if defined(__SSE2__)
            // The first value, often the only one, is read byte by byte; the ones after it, if
            // they are few and short, at once.
            if (bit == 2u && end - p > shortListReach) {
                if (const std::uint8_t* stop = addShortList(p + 1, present, colons)) {
                    return stop;
                }
            }
#endif
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
#if defined(__SSE2__)
    // How far addShortList may read past its start: 16 bytes classified at once, and the four
    // bytes of a value that starts at the last of them.
    static constexpr int shortListReach = 20;

    // The parameters after the first, from `p` just past its separator, when they end within 16
    // bytes with no value over four digits: nearly every list. One compare of the 16 bytes gives
    // their shape, so the number of digits in each value is data rather than a branch to
    // mispredict at every separator. `present` and `colons` hold the bits of the first two
    // parameters. Returns where the list stopped, or null, changing nothing, when the rest does
    // not fit.
    const std::uint8_t* addShortList(const std::uint8_t* p, std::uint32_t present,
                                     std::uint32_t colons) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('0'));
        // Adding with unsigned saturation lifts the lanes at or past the bound into the high bit:
        // ':' and ';' follow '9', and a byte below '0' wraps to a large offset.
        const auto atLeast = [&](int bound) {
            const __m128i lift = _mm_set1_epi8(static_cast<char>(0x80 - bound));
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_adds_epu8(offset, lift)));
        };
        const unsigned stop = static_cast<unsigned>(__builtin_ctz(atLeast(12) | 1u << 16));
        if (stop == 16) {
            return nullptr;
        }
        const unsigned before = (1u << stop) - 1;
        const unsigned separators = atLeast(10) & before;
        const unsigned digits = ~separators & before;
        if ((digits & digits >> 1 & digits >> 2 & digits >> 3 & digits >> 4) != 0) {
            return nullptr; // five digits or more in a row: a value that may saturate
        }
        const unsigned colonLanes =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(':'))));

        unsigned rest = separators;
        unsigned start = 0;
        unsigned i = 1;
        for (;;) {
            const unsigned next = static_cast<unsigned>(__builtin_ctz(rest | 1u << stop));
            const unsigned length = next - start;
            m_values[i] = static_cast<std::int32_t>(shortValue(p + start, length));
            present |= static_cast<std::uint32_t>(length != 0) << i;
            if (next == stop) {
                break;
            }
            ++i;
            colons |= (colonLanes >> next & 1u) << i;
            rest &= rest - 1;
            start = next + 1;
        }
        m_count = static_cast<std::uint8_t>(i + 1);
        m_present = present;
        m_colons = colons;
        return p + stop;
    }
#endif

public:
    /// The value of the `length` (0-4) digits at `p`, where four bytes can be read.
    static std::uint32_t shortValue(const std::uint8_t* p, unsigned length) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) {
            word = __builtin_bswap32(word);
        }
        // The digits move to the top bytes, the last one highest; the bytes after them fall out.
        const auto d = static_cast<std::uint32_t>(std::uint64_t{word & 0x0F0F0F0Fu}
                                                  << (32 - 8 * length));
        // Pairs of digits, then the two pairs.
        const std::uint32_t pairs = (d * 10 + (d >> 8)) & 0x00FF00FFu;
        return (pairs * 100 + (pairs >> 16)) & 0xFFFFu;
    }

private:
    std::array<std::int32_t, maxCount> m_values{};
    std::uint32_t m_present = 0; // bit i: parameter i had at least one digit
    std::uint32_t m_colons = 0;  // bit i: parameter i follows a ':'
    std::uint8_t m_count = 1;
};

} // namespace veldatron
