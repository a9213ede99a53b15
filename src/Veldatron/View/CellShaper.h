#pragma once

#include <QFont>
#include <QPointF>
#include <QRawFont>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace veldatron {

/// The glyphs of a cell whose text the cell font cannot draw by itself with one glyph: a
/// character outside the font (drawn with the fallback font the system picks), a cluster with
/// combining marks, a character from beyond the Basic Multilingual Plane, a variation sequence,
/// an emoji.
///
/// Shaping goes through QTextLayout, which picks fallback fonts; the result is kept per font,
/// text and slot width. The cache holds at most `limit` cells and is emptied whole when full; a
/// font change empties it too (the glyphs belong to the fonts they were shaped with). The view
/// owns one; its caret shapes through the same one.
class CellShaper {
public:
    struct Glyph {
        QRawFont font;
        quint32 index = 0;
        /// From the cell's first glyph (the pen position of the cell), y downwards.
        QPointF offset;
    };

    static constexpr size_t limit = 2048;

    /// The glyphs of `text` laid out with `font` for a cell `slotWidth` wide, or none when
    /// nothing is drawn. Combining marks stay over their base inside the slot: marks the font
    /// cannot attach are stacked above (or below) the base and what is already stacked there.
    /// Text in emoji presentation is drawn from a colour emoji font when there is one.
    const std::vector<Glyph>& shape(const QString& text, const QFont& font, int fontKey,
                                    double slotWidth);
    void clear() { m_cache.clear(); }
    size_t size() const { return m_cache.size(); }

    /// Whether a cell's text is drawn as an emoji picture: it asks for it (U+FE0F), or its first
    /// character is an emoji by default and the text does not ask for text style (U+FE0E).
    static bool prefersEmojiPresentation(QStringView text);
    /// The family that draws emoji pictures (the system's choice for "emoji"); empty when none
    /// is installed.
    static const QString& emojiFamily();

private:
    struct Key {
        QString text;
        int fontKey;
        double slotWidth;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash {
        size_t operator()(const Key& key) const { return qHash(key.text, size_t(key.fontKey)); }
    };
    std::unordered_map<Key, std::vector<Glyph>, KeyHash> m_cache;
};

} // namespace veldatron
