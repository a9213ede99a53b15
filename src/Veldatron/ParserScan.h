#pragma once

// Scanners behind the parser's fast paths. Each finds the first byte that needs the state table in
// one of the three states where long runs of plain data arrive: printable text in ground, OSC/APC
// string bytes, and DCS pass-through data. The vector versions and the byte loops must agree
// exactly; the parser tests check them against each other on random data.

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veldatron::scan {

/// Ground: a print run goes on up to the first byte below 0x20 (every byte from 0x20 up is data
/// there, DEL and 0x80-0xFF included). `printableAscii` is cleared when a byte before the stop lies
/// above 0x7E, so the print path need not scan the run again.
inline const std::uint8_t* groundScalar(const std::uint8_t* p, const std::uint8_t* end,
                                        bool& printableAscii) {
    bool ascii = true;
    for (; p < end && *p >= 0x20; ++p) {
        ascii &= *p <= 0x7E;
    }
    printableAscii &= ascii;
    return p;
}

/// Eight bytes at a time in a 64-bit word: portable, for targets without SSE2.
inline const std::uint8_t* groundSwar(const std::uint8_t* p, const std::uint8_t* end,
                                      bool& printableAscii) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    std::uint64_t high = 0;
    while (end - p >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) {
            w = __builtin_bswap64(w);
        }
        // A byte below 0x20 sets its high bit here; borrows only run upwards, so the lowest flag
        // is exact and so is every flag below it.
        const std::uint64_t control = (w - ones * 0x20) & ~w & highs;
        // A byte above 0x7E has its high bit set, or sets it when 1 is added (0x7F).
        const std::uint64_t above = (w | ((w & ~highs) + ones)) & highs;
        if (control != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(control)) / 8;
            const std::uint64_t before = k == 0 ? 0 : (~0ull >> (64 - 8 * k));
            high |= above & before;
            printableAscii &= high == 0;
            return p + k;
        }
        high |= above;
        p += 8;
    }
    printableAscii &= high == 0;
    return groundScalar(p, end, printableAscii);
}

/// Plain lines: the first byte outside printable ASCII (0x20-0x7E), where a line of log text
/// usually ends with its CR.
inline const std::uint8_t* printableScalar(const std::uint8_t* p, const std::uint8_t* end) {
    while (p < end && static_cast<std::uint8_t>(*p - 0x20) < 0x5F) {
        ++p;
    }
    return p;
}

/// The text between two control sequences: the length of the printable-ASCII (0x20-0x7E) prefix
/// of the next `shortTextLimit` bytes, which the caller must have. A screen drawn one cell at a
/// time has a character or two there.
inline constexpr int shortTextLimit = 16;

inline int shortTextScalar(const std::uint8_t* p) {
    int n = 0;
    while (n < shortTextLimit && static_cast<std::uint8_t>(p[n] - 0x20) < 0x5F) {
        ++n;
    }
    return n;
}

/// The parameters of a control sequence shaped like a cursor move, from just past its ESC [: at
/// most two values of at most four digits each (either may be empty), separated by ';', then a
/// byte that is neither, which the caller takes for the final. `length` is the number of bytes
/// before that byte and `separator` the position of the ';' (`length` when there is none); a
/// `length` of -1 tells any other shape. The caller must have `shortParametersReach` bytes.
struct ShortParameters {
    int length = -1;
    int separator = 0;
};
inline constexpr int shortParametersReach = 16;
inline constexpr int shortParameterDigits = 4;

inline bool isDigit(std::uint8_t b) {
    return static_cast<std::uint8_t>(b - '0') < 10;
}

inline ShortParameters shortParametersScalar(const std::uint8_t* p) {
    int i = 0;
    while (i < shortParametersReach && isDigit(p[i])) {
        ++i;
    }
    const int separator = i;
    if (i < shortParametersReach && p[i] == ';') {
        ++i;
        while (i < shortParametersReach && isDigit(p[i])) {
            ++i;
        }
    }
    if (i == shortParametersReach || p[i] == ';' || separator > shortParameterDigits ||
        i - separator - 1 > shortParameterDigits) {
        return {};
    }
    return {i, separator};
}

/// OSC and APC strings: the tight loop stops at every C0 byte (BEL, CAN, SUB and ESC end or abort
/// the string, the rest are dropped) and at 0x9C, which may be ST or a UTF-8 continuation byte.
inline const std::uint8_t* stringScalar(const std::uint8_t* p, const std::uint8_t* end) {
    while (p < end && *p >= 0x20 && *p != 0x9C) {
        ++p;
    }
    return p;
}

/// DCS pass-through: data is 0x00-0x18, 0x1C-0x7E and 0xA0-0xFF; the loop stops at EM, SUB, ESC,
/// DEL and the C1 range 0x80-0x9F.
inline bool isDcsStop(std::uint8_t b) {
    return static_cast<std::uint8_t>(b - 0x19) <= 2 || static_cast<std::uint8_t>(b - 0x7F) <= 0x20;
}

inline const std::uint8_t* dcsScalar(const std::uint8_t* p, const std::uint8_t* end) {
    while (p < end && !isDcsStop(*p)) {
        ++p;
    }
    return p;
}

#if defined(__SSE2__)

inline __m128i load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

/// Mask of the lanes holding a byte below 0x20: adding 0x60 with unsigned saturation leaves such a
/// byte below 0x80 and lifts every other byte to 0x80 or more.
inline unsigned controlMask(__m128i v) {
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_adds_epu8(v, _mm_set1_epi8(0x60)))) &
           0xFFFFu;
}

/// Mask of the lanes holding a byte above 0x7E: 0x7F + 1 and every byte from 0x80 up have the
/// high bit set after a saturating add of 1.
inline unsigned aboveAsciiMask(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_adds_epu8(v, _mm_set1_epi8(1))));
}

inline const std::uint8_t* groundSse2(const std::uint8_t* p, const std::uint8_t* end,
                                      bool& printableAscii) {
    unsigned high = 0;
    while (end - p >= 16) {
        const __m128i v = load16(p);
        const unsigned control = controlMask(v);
        const unsigned above = aboveAsciiMask(v);
        if (control != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(control));
            high |= above & ((1u << k) - 1u);
            printableAscii &= high == 0;
            return p + k;
        }
        high |= above;
        p += 16;
    }
    printableAscii &= high == 0;
    return groundSwar(p, end, printableAscii);
}

inline const std::uint8_t* printableSse2(const std::uint8_t* p, const std::uint8_t* end) {
    while (end - p >= 16) {
        const __m128i v = load16(p);
        const unsigned stop = controlMask(v) | aboveAsciiMask(v);
        if (stop != 0) {
            return p + __builtin_ctz(stop);
        }
        p += 16;
    }
    return printableScalar(p, end);
}

inline int shortTextSse2(const std::uint8_t* p) {
    const __m128i v = load16(p);
    return __builtin_ctz(controlMask(v) | aboveAsciiMask(v) | 1u << shortTextLimit);
}

/// Both separators and digits are classified at once: the number of digits in each value is data
/// rather than a loop exit to mispredict.
inline ShortParameters shortParametersSse2(const std::uint8_t* p) {
    const __m128i v = load16(p);
    // The lanes that are not digits: adding with unsigned saturation lifts an offset from '0' of
    // 10 or more (a byte below '0' wraps to a large one) into the high bit.
    const unsigned other = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_adds_epu8(_mm_sub_epi8(v, _mm_set1_epi8('0')), _mm_set1_epi8(0x80 - 10))));
    const unsigned semicolons =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(';'))));
    const int length = __builtin_ctz((other & ~semicolons) | 1u << shortParametersReach);
    const unsigned before = semicolons & ((1u << length) - 1u);
    // Whether there is a ';' is as random as the moves with two values among the rest: the bit
    // past the list stands for "none" without a branch, and the checks fold into one.
    const int separator = __builtin_ctz(before | 1u << length);
    if ((length == shortParametersReach) | ((before & (before - 1u)) != 0) |
        (separator > shortParameterDigits) | (length - separator - 1 > shortParameterDigits)) {
        return {};
    }
    return {length, separator};
}

inline const std::uint8_t* stringSse2(const std::uint8_t* p, const std::uint8_t* end) {
    const __m128i st = _mm_set1_epi8(static_cast<char>(0x9C));
    while (end - p >= 16) {
        const __m128i v = load16(p);
        const unsigned stop =
            controlMask(v) | static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, st)));
        if (stop != 0) {
            return p + __builtin_ctz(stop);
        }
        p += 16;
    }
    return stringScalar(p, end);
}

inline const std::uint8_t* dcsSse2(const std::uint8_t* p, const std::uint8_t* end) {
    const __m128i em = _mm_set1_epi8(0x19);
    const __m128i del = _mm_set1_epi8(0x7F);
    while (end - p >= 16) {
        const __m128i v = load16(p);
        // x <= n (unsigned) exactly when min(x, n) == x.
        const __m128i a = _mm_sub_epi8(v, em);
        const __m128i b = _mm_sub_epi8(v, del);
        const __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8(2)), a),
                                           _mm_cmpeq_epi8(_mm_min_epu8(b, _mm_set1_epi8(0x20)), b));
        const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(stops));
        if (stop != 0) {
            return p + __builtin_ctz(stop);
        }
        p += 16;
    }
    return dcsScalar(p, end);
}

inline const std::uint8_t* ground(const std::uint8_t* p, const std::uint8_t* end,
                                  bool& printableAscii) {
    return groundSse2(p, end, printableAscii);
}
inline const std::uint8_t* printable(const std::uint8_t* p, const std::uint8_t* end) {
    return printableSse2(p, end);
}
inline int shortText(const std::uint8_t* p) {
    return shortTextSse2(p);
}
inline ShortParameters shortParameters(const std::uint8_t* p) {
    return shortParametersSse2(p);
}
inline const std::uint8_t* string(const std::uint8_t* p, const std::uint8_t* end) {
    return stringSse2(p, end);
}
inline const std::uint8_t* dcs(const std::uint8_t* p, const std::uint8_t* end) {
    return dcsSse2(p, end);
}

#else

inline const std::uint8_t* ground(const std::uint8_t* p, const std::uint8_t* end,
                                  bool& printableAscii) {
    return groundSwar(p, end, printableAscii);
}
inline const std::uint8_t* printable(const std::uint8_t* p, const std::uint8_t* end) {
    return printableScalar(p, end);
}
inline int shortText(const std::uint8_t* p) {
    return shortTextScalar(p);
}
inline ShortParameters shortParameters(const std::uint8_t* p) {
    return shortParametersScalar(p);
}
inline const std::uint8_t* string(const std::uint8_t* p, const std::uint8_t* end) {
    return stringScalar(p, end);
}
inline const std::uint8_t* dcs(const std::uint8_t* p, const std::uint8_t* end) {
    return dcsScalar(p, end);
}

#endif

} // namespace veldatron::scan
