#include "CursorDrawBuilder.h"

#include "RowGeometry.h"

#include "PowerlineRenderer.h"
#include "Terminal.h"
#include "UnicodeUtil.h"

#include <algorithm>
#include <cmath>

namespace veldatron {

namespace {

enum class Shape { block, underline, bar };

Shape shapeOf(CursorStyle style)
{
    switch (style) {
    case CursorStyle::blinkBlock:
    case CursorStyle::steadyBlock:
        return Shape::block;
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
        return Shape::underline;
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
        return Shape::bar;
    }
    return Shape::block;
}

bool blinks(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline
           || style == CursorStyle::blinkBar;
}

struct Box {
    double x0, y0, x1, y1;
};

// A glyph quad cut to the cursor rectangle, its texture coordinates interpolated at the cut.
void appendCutGlyph(std::vector<GlyphVertex>& out, const Box& quad, const AtlasRegion& region,
                    int atlasSize, const Box& cursor, const Float4& tint)
{
    const double cx0 = std::max(quad.x0, cursor.x0);
    const double cx1 = std::min(quad.x1, cursor.x1);
    const double cy0 = std::max(quad.y0, cursor.y0);
    const double cy1 = std::min(quad.y1, cursor.y1);
    if (!(cx0 < cx1) || !(cy0 < cy1))
        return;
    const double size = atlasSize;
    const double uL = region.x / size;
    const double uR = (region.x + region.width) / size;
    const double vB = region.y / size;
    const double vT = (region.y + region.height) / size;
    auto u = [&](double x) { return uL + (uR - uL) * (x - quad.x0) / (quad.x1 - quad.x0); };
    auto v = [&](double y) { return vB + (vT - vB) * (y - quad.y0) / (quad.y1 - quad.y0); };
    appendQuad(out, {float(cx0), float(cy0), float(cx1), float(cy1)},
               {float(u(cx0)), float(v(cy0)), float(u(cx1)), float(v(cy1))}, tint);
}

} // namespace

CursorDrawData buildCursorDrawData(IRendererHost& host, GlyphProvider& glyphs, bool cursorBlinkOn,
                                   double scale, double cellWidth, double cellHeight,
                                   double lineDescent, double lineLeading, int yDisp,
                                   int firstRow, int lastRow)
{
    CursorDrawData result;
    Terminal* terminal = host.terminal();
    if (!terminal || terminal->isCursorHidden())
        return result;
    Buffer& buffer = terminal->buffer();
    const int row = buffer.yBase() + buffer.y();
    if (row < 0 || row < firstRow || row > lastRow || row >= buffer.lines().count())
        return result;
    const int x = buffer.x();
    if (x < 0 || x >= buffer.cols())
        return result;
    const CursorStyle style = terminal->cursorStyle();
    const bool focused = !host.caretTracksFocus() || host.hasFocus();
    if (focused && blinks(style) && !cursorBlinkOn)
        return result;

    const double rowBottom = host.bounds().height() - cellHeight * (row - yDisp + 1);
    const BufferLine& line = buffer.lines()[row];
    const double w = line.renderMode() == BufferLine::RenderLineMode::single ? 1 : 2;
    // A line without cells has no cell to read: the cursor sits on a blank one-column cell.
    const CharData cell = line.count() > 0 ? line[std::min(x, line.count() - 1)] : CharData::Null;
    const int columns = cell.width() >= 2 ? cell.width() : 1;
    const Box cursor{scale * cellWidth * w * x, scale * rowBottom,
                     scale * cellWidth * w * x + scale * cellWidth * w * columns,
                     scale * rowBottom + scale * cellHeight};
    const Float4 caretColor = colorToSIMD(host.effectiveCaretColor());
    auto rect = [&](double x0, double y0, double x1, double y1) {
        appendQuad(result.colorVertices, {float(x0), float(y0), float(x1), float(y1)}, caretColor);
    };

    if (!focused) {
        const double t = std::max(1.5 * scale, 1.0);
        rect(cursor.x0, cursor.y0, cursor.x1, cursor.y0 + t);
        rect(cursor.x0, cursor.y1 - t, cursor.x1, cursor.y1);
        rect(cursor.x0, cursor.y0 + t, cursor.x0 + t, cursor.y1 - t);
        rect(cursor.x1 - t, cursor.y0 + t, cursor.x1, cursor.y1 - t);
        return result;
    }
    const double t = std::max(2 * scale, 1.0);
    switch (shapeOf(style)) {
    case Shape::underline:
        rect(cursor.x0, cursor.y0, cursor.x1, cursor.y0 + t);
        return result;
    case Shape::bar:
        rect(cursor.x0, cursor.y0, cursor.x0 + t, cursor.y1);
        return result;
    case Shape::block:
        rect(cursor.x0, cursor.y0, cursor.x1, cursor.y1);
        break;
    }

    // The glyph under the block.
    const PlatformColor caretText = host.effectiveCaretTextColor();
    const Float4 textTint = colorToSIMD(caretText);
    if (cell.attribute().style().contains(CharacterStyle::blink) && !host.textBlinkVisible())
        return result;
    const uint32_t code = uint32_t(cell.code());
    if (host.customBlockGlyphs() && PowerlineRenderer::glyph(code)) {
        const int cellWidthPx = std::max(int(std::lround(scale * cellWidth * w * columns)), 1);
        const int cellHeightPx = std::max(int(std::lround(scale * cellHeight)), 1);
        auto entry = glyphs.customGlyphEntry(code, cellWidthPx, cellHeightPx, scale, 0, true);
        if (entry) {
            const Box quad{cursor.x0, cursor.y0, cursor.x0 + entry->size.width(),
                           cursor.y0 + entry->size.height()};
            appendCutGlyph(result.glyphVerticesGray, quad, entry->region,
                           glyphs.grayscaleAtlas().size(), cursor, textTint);
        }
        return result;
    }

    // Code 0 is a cell nothing was written to: blank, like a space.
    const std::u32string character = cell.code() == 0
                                         ? std::u32string(U" ")
                                         : UnicodeUtil::textPresentationAdjusted(
                                               terminal->character(cell.code()));
    const QString text = QString::fromUcs4(character.data(), qsizetype(character.size()));
    if (text.isEmpty())
        return result;
    const RunAttributes attributes =
        host.getAttributedValue(cell.attribute(), host.effectiveCaretColor(), caretText);
    auto shaped = glyphs.shaperCache().shape(text, host.fontSet().font(attributes.font));
    if (!shaped)
        return result;
    const double baselineOffset = std::ceil(lineDescent + lineLeading);
    for (const ShaperGlyphRun& run : shaped->glyphRuns) {
        const QRawFont& scaled = glyphs.scaledFontFor(run.font, scale);
        for (std::size_t i = 0; i < run.glyphs.size(); ++i) {
            auto entry = glyphs.glyphEntry(scaled, run.glyphs[i]);
            if (!entry || !(entry->size.width() > 0) || !(entry->size.height() > 0))
                continue;
            const auto fit = host.glyphSlotFit(run.font, run.glyphs[i], columns);
            const double x0 = scale * (w * fit.dx + cellWidth * w * x) + entry->bearing.x() * fit.scale;
            const double y0 = scale * (rowBottom + baselineOffset + run.positions[i].y() + fit.dy)
                              + entry->bearing.y() * fit.scale;
            const Box quad{x0, y0, x0 + entry->size.width() * fit.scale,
                           y0 + entry->size.height() * fit.scale};
            if (!(quad.x1 - quad.x0 > 0) || !(quad.y1 - quad.y0 > 0))
                continue;
            const bool color = entry->atlasKind == GlyphAtlasKind::color;
            appendCutGlyph(color ? result.glyphVerticesColor : result.glyphVerticesGray, quad,
                           entry->region, glyphs.atlas(entry->atlasKind).size(), cursor,
                           color ? Float4{1, 1, 1, 1} : textTint);
        }
    }
    return result;
}

} // namespace veldatron
