#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron {

// How the terminal derives palette entries 16-255 from its 16 installed colours.
enum class Ansi256PaletteStrategy : uint8_t {
    xterm,               // the xterm colour cube and grey ramp
    base16Lab,           // CIELAB interpolation between the base colours
    base16LabHarmonious, // the same, never swapping the dark and light corners
};

// The terminal's colour value: three 16-bit channels, as X11 colour specifications use them.
// Palettes and the default colours are Colors; cells only refer to palette entries or carry
// 8-bit true colours (Attribute::Color).
struct Color {
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;

    constexpr Color() = default;
    constexpr Color(uint16_t red, uint16_t green, uint16_t blue)
        : red(red), green(green), blue(blue) {}

    // Each 8-bit value limited to 255 and scaled by 257, so 0xff becomes 65535.
    static constexpr Color fromRgb8(uint16_t red8, uint16_t green8, uint16_t blue8) {
        auto scale = [](uint16_t v) { return uint16_t((v > 255 ? 255 : v) * 257); };
        return Color(scale(red8), scale(green8), scale(blue8));
    }

    static const Color defaultForeground;
    static const Color defaultBackground;

    // The 16-colour base palettes, entries 0-15 (black, red, green, yellow, blue, magenta, cyan,
    // white, then the bright ones). The terminal starts with terminalAppColors.
    static const std::array<Color, 16> paleColors;
    static const std::array<Color, 16> vgaColors;
    static const std::array<Color, 16> terminalAppColors;
    static const std::array<Color, 16> xtermColors;
    static const std::array<Color, 16> defaultInstalledColors;

    // "rgb:" and the three channels as four lowercase hex digits each, joined by "/":
    // "rgb:ffff/0000/1234". The form of colour-query replies.
    std::string formatAsXcolor() const;
    std::string formatted() const { return formatAsXcolor(); }

    // A strict X11 colour specification: "#" with 3, 6, 9 or 12 hex digits, or "rgb:" with three
    // "/"-separated components of 1-4 hex digits. Anything else is none.
    static std::optional<Color> parse(std::string_view text);
    // The lenient reader the colour commands (OSC 4, 10-12) use; see Color.cpp for the scaling.
    // A "#" form with a non-hex digit or an "rgb:" component without digits is none.
    static std::optional<Color> parseColor(std::span<const uint8_t> bytes);
    static std::optional<Color> parseColor(std::string_view text);

    // The given colours followed by the 216-colour cube (levels 0, 95, 135, 175, 215, 255) and
    // 24 greys (8, 18, ... 238): 256 entries for 16 given colours.
    static std::vector<Color> generateXtermPalette(std::span<const Color> initialColors);
    // The given colours followed by 240 colours interpolated in CIELAB between the first eight
    // (corner 0 replaced by the background, corner 7 by the foreground when given). Without
    // `harmonious`, a dark-on-light pair of corners is swapped so entry 16 is always the dark
    // one. Fewer than 8 colours give the xterm palette of them.
    static std::vector<Color> generateBase16LabPalette(std::span<const Color> initialColors,
                                                       std::optional<Color> backgroundColor,
                                                       std::optional<Color> foregroundColor,
                                                       bool harmonious);

    // CIELAB (D65) coordinates of a colour, for the Lab palette.
    struct LabColor {
        double l = 0;
        double a = 0;
        double b = 0;

        static LabColor fromColor(const Color& color);
        Color toColor() const;
    };

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

namespace detail {
constexpr Color hexColor(uint32_t rgb) {
    return Color::fromRgb8(uint16_t(rgb >> 16), uint16_t((rgb >> 8) & 0xFF), uint16_t(rgb & 0xFF));
}
constexpr std::array<Color, 16> hexPalette(const uint32_t (&rgb)[16]) {
    std::array<Color, 16> palette{};
    for (size_t i = 0; i < 16; ++i) {
        palette[i] = hexColor(rgb[i]);
    }
    return palette;
}
} // namespace detail

inline constexpr Color Color::defaultForeground = Color(35389, 35389, 35389);
inline constexpr Color Color::defaultBackground = Color(0, 0, 0);

// clang-format off
inline constexpr std::array<Color, 16> Color::paleColors = detail::hexPalette({
    0x2e3436, 0xcc0000, 0x4e9a06, 0xc4a000, 0x3465a4, 0x75507b, 0x06989a, 0xd3d7cf,
    0x555753, 0xef2929, 0x8ae234, 0xfce94f, 0x729fcf, 0xad7fa8, 0x34e2e2, 0xeeeeec,
});
inline constexpr std::array<Color, 16> Color::vgaColors = detail::hexPalette({
    0x000000, 0xaa0000, 0x00aa00, 0xaa5500, 0x0000aa, 0xaa00aa, 0x00aaaa, 0xaaaaaa,
    0x555555, 0xff5555, 0x55ff55, 0xffff55, 0x5555ff, 0xff55ff, 0x55ffff, 0xffffff,
});
inline constexpr std::array<Color, 16> Color::terminalAppColors = detail::hexPalette({
    0x000000, 0xc23621, 0x25bc24, 0xadad27, 0x492ee1, 0xd338d3, 0x33bbc8, 0xcbcccd,
    0x818383, 0xfc391f, 0x31e722, 0xeaec23, 0x5833ff, 0xf935f8, 0x14f0f0, 0xe9ebeb,
});
inline constexpr std::array<Color, 16> Color::xtermColors = detail::hexPalette({
    0x000000, 0xcd0000, 0x00cd00, 0xcdcd00, 0x0000ee, 0xcd00cd, 0x00cdcd, 0xe5e5e5,
    0x7f7f7f, 0xff0000, 0x00ff00, 0xffff00, 0x5c5cff, 0xff00ff, 0x00ffff, 0xffffff,
});
inline constexpr std::array<Color, 16> Color::defaultInstalledColors = detail::hexPalette({
    0x000000, 0x990001, 0x00a603, 0x999900, 0x0300b2, 0xb200b2, 0x00a5b2, 0xbfbfbf,
    0x8a898a, 0xe50001, 0x00d800, 0xe5e500, 0x0700fe, 0xe500e5, 0x00e5e5, 0xe5e5e5,
});
// clang-format on

} // namespace veldatron

template <> struct std::hash<veldatron::Color> {
    size_t operator()(const veldatron::Color& color) const {
        return std::hash<uint64_t>()(uint64_t(color.red) << 32 | uint64_t(color.green) << 16 |
                                     color.blue);
    }
};
