#pragma once

#include <QFont>
#include <QRawFont>

#include <cstdint>

namespace veldatron {

/// Which of the four fonts of a view a run of text uses.
enum class FontStyle : uint8_t { normal, bold, italic, boldItalic };

/// The normal, bold, italic and bold-italic fonts of a view, always made from one font, with the
/// raw fonts the frame draws glyphs with. The row builder and the renderers pick from it.
struct FontSet {
    QFont normal;
    QFont bold;
    QFont italic;
    QFont boldItalic;

    /// The four fonts of `font`: bold, italic and both made from it.
    static FontSet from(const QFont& font);

    const QFont& font(FontStyle style) const;
    /// The raw font of a style: the font engine that draws the style's glyphs.
    const QRawFont& rawFont(FontStyle style) const { return m_raw[size_t(style)]; }
    /// Unique in the process to each set made by from(): layout caches keyed on fonts tell sets
    /// apart by it, even sets made from the same font.
    uint64_t serial() const { return m_serial; }

private:
    QRawFont m_raw[4];
    uint64_t m_serial = 0;
};

} // namespace veldatron
