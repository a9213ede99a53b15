#include "TerminalView.h"
#include "CaretView.h"

#include <algorithm>

namespace veldatron {

namespace {

// UnderlineStyle raw value -> underline bits. `none` is drawn as a single line: the underline
// bit decides whether there is a line, the style only how it looks.
int underlineBits(UnderlineStyle style) {
    switch (style) {
    case UnderlineStyle::double_:
        return UnderlineBits::double_;
    case UnderlineStyle::dotted:
        return UnderlineBits::patternDot | UnderlineBits::single;
    case UnderlineStyle::dashed:
        return UnderlineBits::patternDash | UnderlineBits::single;
    case UnderlineStyle::none:
    case UnderlineStyle::single:
    case UnderlineStyle::curly: // told apart by the raw style only
        break;
    }
    return UnderlineBits::single;
}

int underlineRaw(UnderlineStyle style) {
    return style == UnderlineStyle::none ? int(UnderlineStyle::single) : int(style);
}

bool isDefaultKind(Attribute::Color color) {
    const auto kind = color.kind();
    return kind == Attribute::Color::Kind::defaultColor ||
           kind == Attribute::Color::Kind::defaultInvertedColor;
}

FontStyle fontStyle(bool bold, bool italic) {
    if (italic) {
        return bold ? FontStyle::boldItalic : FontStyle::italic;
    }
    return bold ? FontStyle::bold : FontStyle::normal;
}

} // namespace

// ---- Native and effective colours -----------------------------------------------------------

void TerminalView::setNativeForegroundColor(const PlatformColor& color) {
    // The terminal hands the colour back through setForegroundColor; the guard turns that
    // nested assignment into nothing.
    if (m_settingFg) {
        return;
    }
    m_settingFg = true;
    m_nativeFg = color;
    m_terminal->setForegroundColor(color.getTerminalColor());
    m_settingFg = false;
}

void TerminalView::setNativeBackgroundColor(const PlatformColor& color) {
    if (m_settingBg) {
        return;
    }
    m_settingBg = true;
    m_nativeBg = color;
    m_terminal->setBackgroundColor(color.getTerminalColor());
    setAttribute(Qt::WA_OpaquePaintEvent, color.alpha >= 1);
    m_settingBg = false;
}

void TerminalView::setBackgroundOpacity(double opacity) {
    const double alpha = opacity >= 1 ? 1.0 : (opacity > 0 ? opacity : 0.0);
    setNativeBackgroundColor(m_nativeBg.withAlpha(alpha));
    colorsChanged();
}

void TerminalView::setSelectedTextBackgroundColor(const PlatformColor& color) {
    m_selectedTextBackgroundColor = color;
    markWholeScreenDirty();
    queuePendingDisplay();
}

void TerminalView::setSelectedTextForegroundColor(const PlatformColor& color) {
    m_selectedTextForegroundColor = color;
    markWholeScreenDirty();
    queuePendingDisplay();
}

PlatformColor TerminalView::effectiveNativeForegroundColor() const {
    return m_terminal && m_terminal->reverseColors() ? m_nativeBg : m_nativeFg;
}

PlatformColor TerminalView::effectiveNativeBackgroundColor() const {
    return m_terminal && m_terminal->reverseColors() ? m_nativeFg : m_nativeBg;
}

void TerminalView::installColors(std::span<const Color> colors) {
    // The terminal takes exactly 16 colours and regenerates its 256-colour palette from them.
    m_terminal->installPalette(colors);
    m_colors.fill(std::nullopt);
    colorsChanged();
}

void TerminalView::colorsChanged() {
    m_urlAttributes.clear();
    m_attributes.clear();
    markWholeScreenDirty();
    queuePendingDisplay();
    // The caret follows the default colours until the host sets its own.
    if (m_caretView != nullptr) {
        m_caretView->update();
    }
}

void TerminalView::markWholeScreenDirty() {
    if (m_terminal) {
        m_terminal->updateFullScreen();
    }
}

// ---- Terminal callbacks ---------------------------------------------------------------------

void TerminalView::setForegroundColor(Terminal&, const Color& color) {
    setNativeForegroundColor(PlatformColor::make(color));
    colorsChanged();
}

void TerminalView::setBackgroundColor(Terminal&, const Color& color) {
    setNativeBackgroundColor(PlatformColor::make(color));
    colorsChanged();
}

void TerminalView::colorChanged(Terminal&, std::optional<int> idx) {
    if (!idx) {
        m_colors.fill(std::nullopt);
    } else if (*idx >= 0 && *idx < int(m_colors.size())) {
        m_colors[size_t(*idx)].reset();
    }
    colorsChanged();
}

// ---- Colour mapping and run attributes ------------------------------------------------------

PlatformColor TerminalView::mapColor(Attribute::Color color, bool isFg, bool isBold,
                                     bool useBrightColors) {
    const bool reverse = m_terminal && m_terminal->reverseColors();
    switch (color.kind()) {
    case Attribute::Color::Kind::ansi256: {
        const int code = color.code();
        int index = code;
        if (useBrightColors) {
            if (isBold && code <= 6) {
                index = code + 8;
            }
        } else if (code >= 8) {
            index = code - 8;
        }
        std::optional<PlatformColor>& slot = m_colors[size_t(index)];
        if (!slot) {
            const std::vector<Color>& palette = m_terminal->ansiColors();
            slot = size_t(index) < palette.size() ? PlatformColor::make(palette[size_t(index)])
                                                  : m_nativeFg;
        }
        return *slot;
    }
    case Attribute::Color::Kind::trueColor: {
        if (auto found = m_trueColors.find(color.bits()); found != m_trueColors.end()) {
            return found->second;
        }
        if (m_trueColors.size() >= attributeCacheLimit) {
            m_trueColors.clear();
        }
        const PlatformColor made =
            PlatformColor::fromRgb8(color.red(), color.green(), color.blue());
        m_trueColors.emplace(color.bits(), made);
        return made;
    }
    case Attribute::Color::Kind::defaultColor:
        return (isFg != reverse) ? m_nativeFg : m_nativeBg;
    case Attribute::Color::Kind::defaultInvertedColor:
        return ((isFg != reverse) ? m_nativeBg : m_nativeFg).withAlpha(1.0);
    }
    return m_nativeFg;
}

std::shared_ptr<const RunAttributes> TerminalView::getAttributes(const Attribute& attribute,
                                                                 bool withUrl) {
    auto& cache = withUrl ? m_urlAttributes : m_attributes;
    if (auto found = cache.find(attribute); found != cache.end()) {
        return found->second;
    }

    const CharacterStyle style = attribute.style();
    const bool bold = style.contains(CharacterStyle::bold);
    Attribute::Color fg = attribute.fg();
    Attribute::Color bg = attribute.bg();
    if (style.contains(CharacterStyle::inverse)) {
        // A default colour on either side becomes the inverted default on the other.
        fg =
            isDefaultKind(attribute.bg()) ? Attribute::Color::defaultInvertedColor : attribute.bg();
        bg =
            isDefaultKind(attribute.fg()) ? Attribute::Color::defaultInvertedColor : attribute.fg();
    }

    auto attributes = std::make_shared<RunAttributes>();
    const bool brightAsBold =
        !m_useBrightColors && fg.kind() == Attribute::Color::Kind::ansi256 && fg.code() >= 8;
    attributes->font = fontStyle(bold || brightAsBold, style.contains(CharacterStyle::italic));
    PlatformColor foreground = mapColor(fg, true, bold, m_useBrightColors);
    const PlatformColor background = mapColor(bg, false, false, true);
    if (style.contains(CharacterStyle::dim)) {
        foreground = foreground.dimmedColor(background);
    }
    attributes->foreground = foreground;
    attributes->background = background;
    if (style.contains(CharacterStyle::underline)) {
        const std::optional<Attribute::Color> underlineColor = attribute.underlineColor();
        attributes->underlineColor =
            underlineColor ? mapColor(*underlineColor, true, bold, m_useBrightColors) : foreground;
        attributes->underlineStyle = underlineBits(attribute.underlineStyle());
        attributes->veldatronUnderlineStyle = underlineRaw(attribute.underlineStyle());
    }
    if (style.contains(CharacterStyle::crossedOut)) {
        attributes->strikethroughColor = foreground;
        attributes->strikethroughStyle = UnderlineBits::single;
    }
    if (withUrl) {
        // A highlighted link is always underlined with a dashed line in its text colour.
        attributes->underlineStyle = UnderlineBits::single;
        attributes->underlineColor = foreground;
        attributes->veldatronUnderlineStyle = int(UnderlineStyle::dashed);
    }

    if (cache.size() >= attributeCacheLimit) {
        cache.clear();
    }
    cache.emplace(attribute, attributes);
    return attributes;
}

RunAttributes TerminalView::getAttributedValue(const Attribute& attribute,
                                               const PlatformColor& usingFg,
                                               const PlatformColor& andBg) {
    const CharacterStyle style = attribute.style();
    const bool bold = style.contains(CharacterStyle::bold);
    const bool inverse = style.contains(CharacterStyle::inverse);
    RunAttributes attributes;
    attributes.font = fontStyle(bold, style.contains(CharacterStyle::italic));
    const PlatformColor foreground = inverse ? andBg : usingFg;
    attributes.foreground = foreground;
    attributes.background = inverse ? usingFg : andBg;
    if (style.contains(CharacterStyle::underline)) {
        const std::optional<Attribute::Color> underlineColor = attribute.underlineColor();
        attributes.underlineColor =
            underlineColor ? mapColor(*underlineColor, true, bold, m_useBrightColors) : foreground;
        attributes.underlineStyle = underlineBits(attribute.underlineStyle());
        attributes.veldatronUnderlineStyle = underlineRaw(attribute.underlineStyle());
    }
    if (style.contains(CharacterStyle::crossedOut)) {
        attributes.strikethroughColor = foreground;
        attributes.strikethroughStyle = UnderlineBits::single;
    }
    return attributes;
}

} // namespace veldatron
