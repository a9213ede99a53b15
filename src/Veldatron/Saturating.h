#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Arithmetic on numbers a program controls (image sizes, offsets, counts): results that do not
// fit stop at the edge of the range instead of overflowing.
namespace veldatron::Saturating {

inline int64_t add(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return sum;
}

inline int64_t multiply(int64_t a, int64_t b) {
    int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) {
        return (a < 0) == (b < 0) ? std::numeric_limits<int64_t>::max()
                                  : std::numeric_limits<int64_t>::min();
    }
    return product;
}

// A double as an int64, truncated toward zero; NaN gives 0.
inline int64_t fromDouble(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9223372036854775807.0) {
        return std::numeric_limits<int64_t>::max();
    }
    if (value <= -9223372036854775808.0) {
        return std::numeric_limits<int64_t>::min();
    }
    return int64_t(value);
}

// A value clamped into the range of int.
inline int toInt(int64_t value) {
    return value > std::numeric_limits<int>::max()   ? std::numeric_limits<int>::max()
           : value < std::numeric_limits<int>::min() ? std::numeric_limits<int>::min()
                                                     : int(value);
}

} // namespace veldatron::Saturating
