#include "Attribute.h"

#include "UnderlineColorTable.h"

#include <string_view>

namespace veldatron {

namespace {

constexpr uint32_t refAbsent = 0;
constexpr uint32_t refDefault = 1;
constexpr uint32_t refDefaultInverted = 2;
constexpr uint32_t refAnsiBase = 3;
constexpr uint32_t refTrueColorBase = refAnsiBase + 256;

// Palette entry 16-255 closest to a true colour. Only used once the underline-colour table is
// full (more than 130,000 distinct true underline colours in one process): the colour is then
// approximated rather than growing memory without bound.
uint8_t nearestCubeOrGrey(uint8_t red, uint8_t green, uint8_t blue) {
    constexpr int levels[6] = {0, 95, 135, 175, 215, 255};
    auto distance = [&](int r, int g, int b) {
        return (r - red) * (r - red) + (g - green) * (g - green) + (b - blue) * (b - blue);
    };
    int best = 16;
    int bestDistance = distance(0, 0, 0);
    for (int i = 0; i < 216; ++i) {
        const int d = distance(levels[i / 36], levels[(i / 6) % 6], levels[i % 6]);
        if (d < bestDistance) {
            best = 16 + i;
            bestDistance = d;
        }
    }
    for (int j = 0; j < 24; ++j) {
        const int grey = 8 + 10 * j;
        const int d = distance(grey, grey, grey);
        if (d < bestDistance) {
            best = 232 + j;
            bestDistance = d;
        }
    }
    return uint8_t(best);
}

} // namespace

uint32_t Attribute::underlineColorRef() const {
    const uint32_t fg = uint32_t(m_colors);
    const uint32_t bg = uint32_t(m_colors >> 32);
    const uint8_t underline = uint8_t(m_rest >> 8);
    return (fg >> 26) | (bg >> 26) << 6 | uint32_t(underline >> 3) << 12;
}

void Attribute::setUnderlineColorRef(uint32_t ref) {
    const uint64_t fg = (uint32_t(m_colors) & Color::mask) | (ref & 0x3F) << 26;
    const uint64_t bg = (uint32_t(m_colors >> 32) & Color::mask) | ((ref >> 6) & 0x3F) << 26;
    m_colors = bg << 32 | fg;
    const uint8_t underline = uint8_t((uint8_t(m_rest >> 8) & 7) | ((ref >> 12) & 0x1F) << 3);
    m_rest = (m_rest & 0xFF) | uint64_t(underline) << 8;
}

std::optional<Attribute::Color> Attribute::underlineColor() const {
    const uint32_t ref = underlineColorRef();
    if (ref == refAbsent) {
        return std::nullopt;
    }
    if (ref == refDefault) {
        return Color::defaultColor;
    }
    if (ref == refDefaultInverted) {
        return Color::defaultInvertedColor;
    }
    if (ref < refTrueColorBase) {
        return Color::ansi256(uint8_t(ref - refAnsiBase));
    }
    const uint32_t rgb = UnderlineColorTable::shared().rgb(ref - refTrueColorBase);
    return Color::trueColor(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
}

void Attribute::setUnderlineColor(std::optional<Color> color) & {
    if (!color) {
        setUnderlineColorRef(refAbsent);
        return;
    }
    switch (color->kind()) {
    case Color::Kind::defaultColor:
        setUnderlineColorRef(refDefault);
        return;
    case Color::Kind::defaultInvertedColor:
        setUnderlineColorRef(refDefaultInverted);
        return;
    case Color::Kind::ansi256:
        setUnderlineColorRef(refAnsiBase + color->code());
        return;
    case Color::Kind::trueColor: {
        const uint32_t rgb = color->bits() & 0xFFFFFF;
        if (auto index = UnderlineColorTable::shared().intern(rgb)) {
            setUnderlineColorRef(refTrueColorBase + *index);
        } else {
            setUnderlineColorRef(refAnsiBase +
                                 nearestCubeOrGrey(color->red(), color->green(), color->blue()));
        }
        return;
    }
    }
}

std::string Attribute::toSgr() const {
    std::string out = "0";
    const CharacterStyle bits = style();
    constexpr std::pair<CharacterStyle, std::string_view> written[] = {
        {CharacterStyle::bold, ";1"},      {CharacterStyle::underline, ";4"},
        {CharacterStyle::blink, ";5"},     {CharacterStyle::inverse, ";7"},
        {CharacterStyle::invisible, ";8"},
    };
    for (const auto& [bit, text] : written) {
        if (bits.contains(bit)) {
            out += text;
        }
    }
    // Base is 30 (foreground) or 40 (background); bright entries use base + 60.
    // (Appended piece by piece: GCC 12 misreports "literal" + std::string at -O3.)
    auto appendNumber = [&out](int value) {
        out += ';';
        out += std::to_string(value);
    };
    auto appendColor = [&](Color color, int base, std::string_view extended) {
        switch (color.kind()) {
        case Color::Kind::trueColor:
            out += extended;
            out += '2';
            appendNumber(color.red());
            appendNumber(color.green());
            appendNumber(color.blue());
            break;
        case Color::Kind::ansi256:
            if (color.code() < 8) {
                appendNumber(base + color.code());
            } else if (color.code() < 16) {
                appendNumber(base + 60 + color.code() - 8);
            } else {
                out += extended;
                out += '5';
                appendNumber(color.code());
            }
            break;
        case Color::Kind::defaultColor:
        case Color::Kind::defaultInvertedColor:
            break;
        }
    };
    appendColor(fg(), 30, ";38;");
    appendColor(bg(), 40, ";48;");
    out += "m";
    return out;
}

size_t Attribute::hash() const {
    return detail::hashWords(packedColors(), packedRest());
}

} // namespace veldatron
