#include "TerminalViewRendererHost.h"
#include "TerminalView.h"

namespace veldatron {

Terminal* TerminalViewRendererHost::terminal() { return &m_view.terminal(); }

std::optional<QSizeF> TerminalViewRendererHost::cellDimension() const {
    const QSizeF cell = m_view.cellDimension();
    return cell.isEmpty() ? std::nullopt : std::optional(cell);
}

const FontSet& TerminalViewRendererHost::fontSet() const { return m_view.fontSet(); }
bool TerminalViewRendererHost::fontSmoothing() const { return m_view.fontSmoothing(); }
BidiHostPolicy TerminalViewRendererHost::bidiHostPolicy() const { return m_view.bidiHostPolicy(); }
bool TerminalViewRendererHost::customBlockGlyphs() const { return m_view.customBlockGlyphs(); }

bool TerminalViewRendererHost::antiAliasCustomBlockGlyphs() const {
    return m_view.antiAliasCustomBlockGlyphs();
}

PlatformColor TerminalViewRendererHost::effectiveNativeForegroundColor() const {
    return m_view.effectiveNativeForegroundColor();
}

PlatformColor TerminalViewRendererHost::effectiveNativeBackgroundColor() const {
    return m_view.effectiveNativeBackgroundColor();
}

PlatformColor TerminalViewRendererHost::effectiveCaretColor() const {
    return m_view.effectiveCaretColor();
}

PlatformColor TerminalViewRendererHost::effectiveCaretTextColor() const {
    return m_view.effectiveCaretTextColor();
}

bool TerminalViewRendererHost::textBlinkVisible() const { return m_view.textBlinkVisible(); }
bool TerminalViewRendererHost::caretTracksFocus() const { return m_view.caretViewTracksFocus(); }
bool TerminalViewRendererHost::hasFocus() const { return m_view.terminalHasFocus(); }
QSizeF TerminalViewRendererHost::bounds() const { return QSizeF(m_view.size()); }

double TerminalViewRendererHost::backingScaleFactor() const {
    // What the GL widget's framebuffer is made at.
    return m_view.window()->windowHandle() != nullptr ? m_view.devicePixelRatioF() : 1.0;
}

std::optional<double> TerminalViewRendererHost::metalScaleFactorOverride() const {
    return m_view.metalScaleFactorOverride();
}

MetalBufferingMode TerminalViewRendererHost::metalBufferingMode() const {
    return m_view.metalBufferingMode();
}

std::optional<std::pair<int, int>> TerminalViewRendererHost::takeMetalDirtyRange() {
    return m_view.takeMetalDirtyRange();
}

bool TerminalViewRendererHost::isMetalRendererEligibleForRetry() const {
    return m_view.isMetalRendererEligibleForRetry();
}

ViewLineInfo TerminalViewRendererHost::buildAttributedString(int row, const BufferLine& line,
                                                             int cols) {
    return m_view.buildAttributedString(row, line, cols);
}

RunAttributes TerminalViewRendererHost::getAttributedValue(const Attribute& attribute,
                                                           const PlatformColor& usingFg,
                                                           const PlatformColor& andBg) {
    return m_view.getAttributedValue(attribute, usingFg, andBg);
}

TerminalView::GlyphSlotFit TerminalViewRendererHost::glyphSlotFit(const QRawFont& font,
                                                                  quint32 glyph,
                                                                  int columnWidth) const {
    return m_view.glyphSlotFit(font, glyph, columnWidth);
}

} // namespace veldatron
