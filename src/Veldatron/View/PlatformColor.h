#pragma once

#include "Color.h"

#include <QColor>

#include <cstddef>
#include <functional>

namespace veldatron {

/// The colour the view draws with: sRGB channels and alpha as doubles in 0...1.
///
/// The terminal keeps 16-bit channels and the view converts between the two with exact
/// arithmetic (a division by 65535 one way, clamping, multiplication by 65535 and truncation the
/// other way). QColor cannot carry that: it stores 16-bit integers, so 0.5 would come back as
/// 32768 where the terminal must read 32767. A QColor is made only when painting.
struct PlatformColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    constexpr PlatformColor() = default;
    constexpr PlatformColor(double red, double green, double blue, double alpha = 1)
        : red(red), green(green), blue(blue), alpha(alpha) {}

    /// A terminal colour: each 16-bit channel divided by 65535, opaque.
    static PlatformColor make(const Color& color);
    /// A 24-bit colour: each channel divided by 255, opaque.
    static PlatformColor fromRgb8(uint8_t red, uint8_t green, uint8_t blue);
    static constexpr PlatformColor black() { return {0, 0, 0, 1}; }
    static constexpr PlatformColor clear() { return {0, 0, 0, 0}; }

    /// The terminal colour: each channel clamped to 0...1, times 65535, truncated; alpha dropped.
    Color getTerminalColor() const;
    /// The colour of faint text: the channel-wise mean with `other`, keeping this alpha.
    PlatformColor dimmedColor(const PlatformColor& other) const;
    PlatformColor withAlpha(double newAlpha) const { return {red, green, blue, newAlpha}; }

    QColor toQColor() const {
        return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha));
    }

    friend constexpr bool operator==(const PlatformColor&, const PlatformColor&) = default;
};

} // namespace veldatron

template <> struct std::hash<veldatron::PlatformColor> {
    size_t operator()(const veldatron::PlatformColor& c) const {
        const std::hash<double> h;
        size_t seed = h(c.red);
        for (double v : {c.green, c.blue, c.alpha}) {
            seed ^= h(v) + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
        }
        return seed;
    }
};
