#include "PlatformColor.h"

namespace veldatron {

PlatformColor PlatformColor::make(const Color& color) {
    return {color.red / 65535.0, color.green / 65535.0, color.blue / 65535.0, 1.0};
}

PlatformColor PlatformColor::fromRgb8(uint8_t red, uint8_t green, uint8_t blue) {
    return {red / 255.0, green / 255.0, blue / 255.0, 1.0};
}

Color PlatformColor::getTerminalColor() const {
    // Written so that a NaN channel also lands on 0.
    const auto channel = [](double v) -> uint16_t {
        if (!(v > 0)) {
            return 0;
        }
        return v >= 1 ? 65535 : uint16_t(v * 65535.0);
    };
    return Color(channel(red), channel(green), channel(blue));
}

PlatformColor PlatformColor::dimmedColor(const PlatformColor& other) const {
    return {(red + other.red) * 0.5, (green + other.green) * 0.5, (blue + other.blue) * 0.5, alpha};
}

} // namespace veldatron
