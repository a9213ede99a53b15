#pragma once

#include "IGlyphRasterizer.h"

namespace veldatron {

/// Draws a glyph in white with QPainter on a premultiplied ARGB32 image, whose memory order on
/// little-endian is the bitmap's blue, green, red, alpha. Grayscale antialiasing only: subpixel
/// (LCD) antialiasing would give every letter coloured fringes and send it to the colour atlas.
///
/// Font smoothing has no counterpart here (the font engine's own antialiasing and hinting
/// apply); the setting is kept so that the frame loop can pass it on unchanged.
class QtGlyphRasterizer : public IGlyphRasterizer {
public:
    std::optional<GlyphBitmap> rasterize(const QRawFont& font, quint32 glyph) override;
    void setFontSmoothing(bool smoothing) override { m_fontSmoothing = smoothing; }
    bool fontSmoothing() const { return m_fontSmoothing; }

    /// Whether any pixel's colour channels differ (alpha is not compared).
    static bool hasColor(const std::vector<uint8_t>& bgraPixels);

private:
    bool m_fontSmoothing = true;
};

} // namespace veldatron
