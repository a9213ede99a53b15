#pragma once

#include "IRendererHost.h"

namespace veldatron {

class TerminalView;

/// The GPU renderer's view of the terminal view it draws: the view's own answers, and the
/// window it is shown in for its size and scale. Lives as long as the renderer, which the view
/// outlives. Tests derive from it to stand in for the window.
class TerminalViewRendererHost : public IRendererHost {
public:
    explicit TerminalViewRendererHost(TerminalView& view) : m_view(view) {}

    Terminal* terminal() override;
    std::optional<QSizeF> cellDimension() const override;
    const FontSet& fontSet() const override;
    bool fontSmoothing() const override;
    BidiHostPolicy bidiHostPolicy() const override;
    bool customBlockGlyphs() const override;
    bool antiAliasCustomBlockGlyphs() const override;
    PlatformColor effectiveNativeForegroundColor() const override;
    PlatformColor effectiveNativeBackgroundColor() const override;
    PlatformColor effectiveCaretColor() const override;
    PlatformColor effectiveCaretTextColor() const override;
    bool textBlinkVisible() const override;
    bool caretTracksFocus() const override;
    bool hasFocus() const override;
    QSizeF bounds() const override;
    double backingScaleFactor() const override;
    std::optional<double> metalScaleFactorOverride() const override;
    MetalBufferingMode metalBufferingMode() const override;
    std::optional<std::pair<int, int>> takeMetalDirtyRange() override;
    bool isMetalRendererEligibleForRetry() const override;
    ViewLineInfo buildAttributedString(int row, const BufferLine& line, int cols) override;
    RunAttributes getAttributedValue(const Attribute& attribute, const PlatformColor& usingFg,
                                     const PlatformColor& andBg) override;
    TerminalView::GlyphSlotFit glyphSlotFit(const QRawFont& font, quint32 glyph,
                                            int columnWidth) const override;

private:
    TerminalView& m_view;
};

} // namespace veldatron
