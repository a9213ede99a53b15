#include "Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace veldatron {

namespace {

int hexValue(uint8_t b) {
    if (b >= '0' && b <= '9') {
        return b - '0';
    }
    if (b >= 'a' && b <= 'f') {
        return b - 'a' + 10;
    }
    if (b >= 'A' && b <= 'F') {
        return b - 'A' + 10;
    }
    return -1;
}

bool allHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return hexValue(uint8_t(c)) >= 0; });
}

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A component of `digits` hex digits scaled to 16 bits, as X11 scales them: 1 digit repeats
// (f -> f0f0), 2 digits multiply by 257 (ff -> ffff), 3 digits shift in their top nibble
// (fff -> ffff), 4 digits stand as they are.
uint16_t scaleComponent(uint32_t value, int digits) {
    switch (digits) {
    case 1:
        return uint16_t(value * 0x1010);
    case 2:
        return uint16_t(std::min<uint32_t>(value, 255) * 257);
    case 3:
        return uint16_t((value << 4) | (value >> 4));
    default:
        return uint16_t(value);
    }
}

// "#rgb", "#rrggbb", "#rrrgggbbb", "#rrrrggggbbbb": each component from its own fixed slice.
std::optional<Color> parseHashForm(std::span<const uint8_t> bytes) {
    int digits = 0;
    switch (bytes.size()) {
    case 4:
        digits = 1;
        break;
    case 7:
        digits = 2;
        break;
    case 10:
        digits = 3;
        break;
    case 13:
        digits = 4;
        break;
    default:
        return std::nullopt;
    }
    uint16_t channels[3];
    for (int c = 0; c < 3; ++c) {
        uint32_t value = 0;
        for (int d = 0; d < digits; ++d) {
            const int v = hexValue(bytes[size_t(1 + c * digits + d)]);
            if (v < 0) {
                // "#ggg" is no colour; reading the digit as 0 would set black.
                return std::nullopt;
            }
            value = value * 16 + uint32_t(v);
        }
        channels[c] = scaleComponent(value, digits);
    }
    return Color(channels[0], channels[1], channels[2]);
}

// "rgb:" and three components of up to four hex digits each. A component ends after its fourth
// digit or at the first other byte, which is consumed; then one "/" is skipped when it follows.
// All three components are scaled by the largest digit count among them.
std::optional<Color> parseRgbForm(std::span<const uint8_t> bytes) {
    size_t pos = 4;
    uint32_t values[3];
    int counts[3];
    for (int c = 0; c < 3; ++c) {
        uint32_t value = 0;
        int count = 0;
        while (pos < bytes.size() && count < 4) {
            const int v = hexValue(bytes[pos++]);
            if (v < 0) {
                break;
            }
            value = value * 16 + uint32_t(v);
            ++count;
        }
        if (pos < bytes.size() && bytes[pos] == '/') {
            ++pos;
        }
        if (count == 0) {
            // "rgb:1/2" or "rgb:zz/1/1": a missing component is no colour, not 0.
            return std::nullopt;
        }
        values[c] = value;
        counts[c] = count;
    }
    const int scale = std::max({counts[0], counts[1], counts[2]});
    return Color(scaleComponent(values[0], scale), scaleComponent(values[1], scale),
                 scaleComponent(values[2], scale));
}

constexpr double lerp(double x, double y, double t) {
    return x + t * (y - x);
}

Color::LabColor lerp(const Color::LabColor& x, const Color::LabColor& y, double t) {
    return {lerp(x.l, y.l, t), lerp(x.a, y.a, t), lerp(x.b, y.b, t)};
}

} // namespace

std::string Color::formatAsXcolor() const {
    char text[24];
    std::snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", unsigned(red), unsigned(green),
                  unsigned(blue));
    return text;
}

std::optional<Color> Color::parse(std::string_view text) {
    if (text.starts_with('#')) {
        const std::string_view rest = text.substr(1);
        const size_t n = rest.size();
        if ((n == 3 || n == 6 || n == 9 || n == 12) && allHex(rest)) {
            return parseColor(text);
        }
        return std::nullopt;
    }
    if (text.starts_with("rgb:")) {
        std::string_view rest = text.substr(4);
        int pieces = 0;
        while (true) {
            const size_t slash = rest.find('/');
            const std::string_view piece = rest.substr(0, slash);
            if (piece.empty() || piece.size() > 4 || !allHex(piece)) {
                return std::nullopt;
            }
            ++pieces;
            if (slash == std::string_view::npos) {
                break;
            }
            rest = rest.substr(slash + 1);
        }
        if (pieces != 3) {
            return std::nullopt;
        }
        return parseColor(text);
    }
    return std::nullopt;
}

std::optional<Color> Color::parseColor(std::span<const uint8_t> bytes) {
    if (!bytes.empty() && bytes[0] == '#') {
        return parseHashForm(bytes);
    }
    if (bytes.size() < 4 || bytes[0] != 'r' || bytes[1] != 'g' || bytes[2] != 'b' ||
        bytes[3] != ':') {
        return std::nullopt;
    }
    return parseRgbForm(bytes);
}

std::optional<Color> Color::parseColor(std::string_view text) {
    return parseColor(bytesOf(text));
}

std::vector<Color> Color::generateXtermPalette(std::span<const Color> initialColors) {
    constexpr uint16_t levels[6] = {0, 95, 135, 175, 215, 255};
    std::vector<Color> palette(initialColors.begin(), initialColors.end());
    palette.reserve(initialColors.size() + 240);
    for (int i = 0; i < 216; ++i) {
        palette.push_back(fromRgb8(levels[i / 36], levels[(i / 6) % 6], levels[i % 6]));
    }
    for (int j = 0; j < 24; ++j) {
        const auto grey = uint16_t(8 + 10 * j);
        palette.push_back(fromRgb8(grey, grey, grey));
    }
    return palette;
}

std::vector<Color> Color::generateBase16LabPalette(std::span<const Color> initialColors,
                                                   std::optional<Color> backgroundColor,
                                                   std::optional<Color> foregroundColor,
                                                   bool harmonious) {
    if (initialColors.size() < 8) {
        return generateXtermPalette(initialColors);
    }
    // Corners of the cube: 0 black, 1 red, 2 green, 3 yellow, 4 blue, 5 magenta, 6 cyan, 7 white.
    LabColor corners[8];
    for (size_t i = 0; i < 8; ++i) {
        corners[i] = LabColor::fromColor(initialColors[i]);
    }
    if (backgroundColor) {
        corners[0] = LabColor::fromColor(*backgroundColor);
    }
    if (foregroundColor) {
        corners[7] = LabColor::fromColor(*foregroundColor);
    }
    if (!harmonious && corners[7].l < corners[0].l) {
        std::swap(corners[0], corners[7]);
    }

    std::vector<Color> palette(initialColors.begin(), initialColors.end());
    palette.reserve(initialColors.size() + 240);
    for (int r = 0; r < 6; ++r) {
        const double tr = r / 5.0;
        const LabColor c0 = lerp(corners[0], corners[1], tr);
        const LabColor c1 = lerp(corners[2], corners[3], tr);
        const LabColor c2 = lerp(corners[4], corners[5], tr);
        const LabColor c3 = lerp(corners[6], corners[7], tr);
        for (int g = 0; g < 6; ++g) {
            const double tg = g / 5.0;
            const LabColor d0 = lerp(c0, c1, tg);
            const LabColor d1 = lerp(c2, c3, tg);
            for (int b = 0; b < 6; ++b) {
                palette.push_back(lerp(d0, d1, b / 5.0).toColor());
            }
        }
    }
    for (int i = 1; i <= 24; ++i) {
        palette.push_back(lerp(corners[0], corners[7], i / 25.0).toColor());
    }
    return palette;
}

Color::LabColor Color::LabColor::fromColor(const Color& color) {
    auto linear = [](uint16_t channel) {
        const double v = std::min(std::round(channel / 65535.0 * 255.0), 255.0) / 255.0;
        return v > 0.04045 ? std::pow((v + 0.055) / 1.055, 2.4) : v / 12.92;
    };
    const double r = linear(color.red);
    const double g = linear(color.green);
    const double b = linear(color.blue);
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.072175 * b;
    const double z = (0.0193339 * r + 0.119192 * g + 0.9503041 * b) / 1.08883;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    return {116.0 * f(y) - 16.0, 500.0 * (f(x) - f(y)), 200.0 * (f(y) - f(z))};
}

Color Color::LabColor::toColor() const {
    const double fy = (l + 16.0) / 116.0;
    const double fx = fy + a / 500.0;
    const double fz = fy - b / 200.0;
    auto inverse = [](double v) {
        const double cube = v * v * v;
        return cube > 0.008856 ? cube : (v - 16.0 / 116.0) / 7.787;
    };
    const double x = inverse(fx) * 0.95047;
    const double y = inverse(fy);
    const double z = inverse(fz) * 1.08883;
    const double r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
    const double g = -0.969266 * x + 1.8760108 * y + 0.041556 * z;
    const double bl = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
    auto to8 = [](double v) {
        v = v > 0.0031308 ? 1.055 * std::pow(v, 1.0 / 2.4) - 0.055 : 12.92 * v;
        v = std::clamp(v, 0.0, 1.0);
        return uint16_t(v * 255.0 + 0.5);
    };
    return fromRgb8(to8(r), to8(g), to8(bl));
}

} // namespace veldatron
