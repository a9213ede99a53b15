#include "TerminalOptions.h"

namespace veldatron {

namespace {

struct CursorStyleNames {
    std::string_view tag;
    std::string_view display;
};

constexpr CursorStyleNames names[] = {
    {"blinkBlock", "Blinking Block"},
    {"steadyBlock", "Steady Block"},
    {"blinkUnderline", "Blinking Underline"},
    {"steadyUnderline", "Steady Underline"},
    {"blinkBar", "Blinking Bar"},
    {"steadyBar", "Steady Bar"},
};

} // namespace

std::string_view tagName(CursorStyle style) {
    return names[size_t(style) % std::size(names)].tag;
}

std::string_view displayName(CursorStyle style) {
    return names[size_t(style) % std::size(names)].display;
}

std::optional<CursorStyle> cursorStyleFromTagName(std::string_view tag) {
    for (CursorStyle style : allCursorStyles) {
        if (tagName(style) == tag) {
            return style;
        }
    }
    return std::nullopt;
}

} // namespace veldatron
