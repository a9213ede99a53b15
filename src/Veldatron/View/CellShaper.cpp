#include "CellShaper.h"

#include <QGlyphRun>
#include <QTextLayout>

#include <algorithm>
#include <optional>

namespace veldatron {

const std::vector<CellShaper::Glyph>& CellShaper::shape(const QString& text, const QFont& font,
                                                        int fontKey) {
    Key key{text, fontKey};
    if (auto found = m_cache.find(key); found != m_cache.end()) {
        return found->second;
    }
    if (m_cache.size() >= limit) {
        m_cache.clear();
    }
    std::vector<Glyph> glyphs;
    QTextLayout layout(text, font);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (line.isValid()) {
        // Runs come per font, not left to right: the cell's pen position is the leftmost glyph
        // on the first glyph's baseline.
        std::optional<QPointF> origin;
        const QList<QGlyphRun> runs = layout.glyphRuns();
        for (const QGlyphRun& run : runs) {
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < indexes.size() && i < positions.size(); ++i) {
                if (!origin) {
                    origin = positions[i];
                }
                origin->setX(std::min(origin->x(), positions[i].x()));
                glyphs.push_back({run.rawFont(), indexes[i], positions[i]});
            }
        }
        for (Glyph& glyph : glyphs) {
            glyph.offset -= *origin;
        }
    }
    return m_cache.emplace(std::move(key), std::move(glyphs)).first->second;
}

} // namespace veldatron
