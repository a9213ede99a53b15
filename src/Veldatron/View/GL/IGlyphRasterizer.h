#pragma once

#include <QPointF>
#include <QRawFont>

#include <cstdint>
#include <optional>
#include <vector>

namespace veldatron {

/// A rasterised glyph: width × height × 4 bytes, memory order blue, green, red, alpha with
/// premultiplied alpha, row 0 first and at the top of the image.
struct GlyphBitmap {
    int width = 0;
    int height = 0;
    /// The bitmap's lower-left corner relative to the glyph origin, pixels, y up.
    QPointF bearing;
    std::vector<uint8_t> pixels;
    /// Some pixel has colour of its own: the glyph belongs in the colour atlas.
    bool isColor = false;
};

/// Draws one glyph of a font (already at device-pixel size) into a bitmap.
class IGlyphRasterizer {
public:
    virtual ~IGlyphRasterizer() = default;
    /// Nothing when the glyph has an empty bounding box (a space) or cannot be drawn.
    virtual std::optional<GlyphBitmap> rasterize(const QRawFont& font, quint32 glyph) = 0;
    /// Applies to glyphs rasterised afterwards only.
    virtual void setFontSmoothing(bool smoothing) = 0;
};

} // namespace veldatron
