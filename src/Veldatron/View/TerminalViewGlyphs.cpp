#include "BoxDrawingRenderer.h"
#include "CustomGlyphPainter.h"
#include "TerminalView.h"

#include <QPainter>

namespace veldatron {

// Box drawing, block elements and powerline separators, between the backgrounds and the text.
void TerminalView::drawCustomGlyphs(const ViewLineInfo& info, double top,
                                    BufferLine::RenderLineMode mode, QPainter& painter) {
    if (info.boxDrawings.empty() && info.blockElements.empty() && info.powerlineGlyphs.empty()) {
        return;
    }
    const double scale = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const QPointF origin(0, top);
    if (!info.boxDrawings.empty()) {
        const int thickness = BoxDrawingRenderer::baseThicknessPx(
            scale, m_fontSet.rawFont(FontStyle::normal).lineThickness());
        CustomGlyphPainter::drawBoxDrawings(info.boxDrawings, painter, origin, m_cellDimension,
                                            scale, thickness);
    }
    CustomGlyphPainter::drawBlockElements(info.blockElements, painter, origin, m_cellDimension,
                                          scale, m_antiAliasCustomBlockGlyphs);
    CustomGlyphPainter::drawPowerlineGlyphs(info.powerlineGlyphs, painter, origin, m_cellDimension,
                                            scale, mode);
}

} // namespace veldatron
