#pragma once

#include <QFont>
#include <QPointF>
#include <QRawFont>
#include <QString>

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace veldatron {

/// The glyphs of a cell whose text the cell font cannot draw by itself with one glyph: a
/// character outside the font (drawn with the fallback font the system picks), a cluster with
/// combining marks, a character from beyond the Basic Multilingual Plane, a variation sequence.
///
/// Shaping goes through QTextLayout, which picks fallback fonts; the result is kept per font and
/// text. The cache holds at most `limit` cells and is emptied whole when full; a font change
/// empties it too (the glyphs belong to the fonts they were shaped with).
class CellShaper {
public:
    struct Glyph {
        QRawFont font;
        quint32 index = 0;
        /// From the cell's first glyph (the pen position of the cell), y downwards.
        QPointF offset;
    };

    static constexpr size_t limit = 2048;

    /// The glyphs of `text` laid out with `font`, or none when nothing is drawn.
    const std::vector<Glyph>& shape(const QString& text, const QFont& font, int fontKey);
    void clear() { m_cache.clear(); }
    size_t size() const { return m_cache.size(); }

private:
    struct Key {
        QString text;
        int fontKey;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash {
        size_t operator()(const Key& key) const { return qHash(key.text, size_t(key.fontKey)); }
    };
    std::unordered_map<Key, std::vector<Glyph>, KeyHash> m_cache;
};

} // namespace veldatron
