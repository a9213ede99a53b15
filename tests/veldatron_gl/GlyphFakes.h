#pragma once

#include "IGlyphRasterizer.h"
#include "IShaper.h"

#include <functional>
#include <map>
#include <set>

namespace veldatron {

// A shaper that gives one glyph per UTF-16 unit (glyph = the unit's value, 10 px apart), or
// what `override` says for a text.
class FakeShaper : public IShaper {
public:
    std::optional<ShaperRun> shape(const QString& text, const QFont& font) override
    {
        ++calls;
        if (text.isEmpty())
            return std::nullopt;
        if (auto found = overrides.find(text); found != overrides.end())
            return found->second;
        ShaperRun run;
        ShaperGlyphRun glyphRun;
        glyphRun.font = QRawFont::fromFont(font);
        for (int i = 0; i < text.size(); ++i) {
            glyphRun.glyphs.push_back(text[i].unicode());
            glyphRun.positions.push_back(QPointF(10.0 * i, 0));
            glyphRun.stringIndices.push_back(i);
        }
        run.positions = glyphRun.positions;
        run.stringIndices = glyphRun.stringIndices;
        run.glyphCount = int(text.size());
        run.glyphRuns.push_back(std::move(glyphRun));
        return run;
    }
    std::map<QString, std::optional<ShaperRun>> overrides;
    int calls = 0;
};

// A rasteriser that draws every glyph as a width × height block of one grey value (glyph & 0xff),
// except glyph 32 (nothing) and the glyphs in `colorGlyphs` (a coloured block).
class FakeRasterizer : public IGlyphRasterizer {
public:
    std::optional<GlyphBitmap> rasterize(const QRawFont&, quint32 glyph) override
    {
        ++calls;
        if (glyph == 32)
            return std::nullopt;
        GlyphBitmap bitmap;
        bitmap.width = width;
        bitmap.height = height;
        bitmap.bearing = QPointF(1, -2);
        bitmap.isColor = colorGlyphs.count(glyph) > 0;
        const uint8_t value = uint8_t(glyph & 0xff);
        for (int i = 0; i < width * height; ++i) {
            bitmap.pixels.insert(bitmap.pixels.end(),
                                 {value, uint8_t(bitmap.isColor ? 0 : value), value, 255});
        }
        return bitmap;
    }
    void setFontSmoothing(bool) override {}
    int width = 6;
    int height = 12;
    std::set<quint32> colorGlyphs;
    int calls = 0;
};

} // namespace veldatron
