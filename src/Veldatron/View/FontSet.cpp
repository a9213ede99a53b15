#include "FontSet.h"

#include <atomic>

namespace veldatron {

FontSet FontSet::from(const QFont& font) {
    FontSet set;
    set.normal = font;
    set.bold = font;
    set.bold.setBold(true);
    set.italic = font;
    set.italic.setItalic(true);
    set.boldItalic = set.bold;
    set.boldItalic.setItalic(true);
    for (FontStyle style :
         {FontStyle::normal, FontStyle::bold, FontStyle::italic, FontStyle::boldItalic}) {
        set.m_raw[size_t(style)] = QRawFont::fromFont(set.font(style));
    }
    static std::atomic<uint64_t> serials{0};
    set.m_serial = ++serials;
    return set;
}

const QFont& FontSet::font(FontStyle style) const {
    switch (style) {
    case FontStyle::bold:
        return bold;
    case FontStyle::italic:
        return italic;
    case FontStyle::boldItalic:
        return boldItalic;
    case FontStyle::normal:
        break;
    }
    return normal;
}

} // namespace veldatron
