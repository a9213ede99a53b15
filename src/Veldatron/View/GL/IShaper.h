#pragma once

#include <QFont>
#include <QPointF>
#include <QRawFont>
#include <QString>

#include <optional>
#include <vector>

namespace veldatron {

/// One run of shaped glyphs in one font (a fallback font when the requested one lacks them).
struct ShaperGlyphRun {
    QRawFont font;
    std::vector<quint32> glyphs;
    /// Relative to the line origin, in pixels of the unscaled font, y up.
    std::vector<QPointF> positions;
    /// UTF-16 offsets into the shaped text.
    std::vector<int> stringIndices;
};

/// The shaping of one text: its runs in order and the concatenation of their positions and
/// string indices.
struct ShaperRun {
    std::vector<ShaperGlyphRun> glyphRuns;
    std::vector<QPointF> positions;
    std::vector<int> stringIndices;
    int glyphCount = 0;
};

/// Lays out a text strictly left to right in the order given (segments arrive in visual order,
/// so the shaper must not reorder right-to-left text again).
class IShaper {
public:
    virtual ~IShaper() = default;
    /// Nothing for an empty text or when the layout yields no runs.
    virtual std::optional<ShaperRun> shape(const QString& text, const QFont& font) = 0;
};

} // namespace veldatron
