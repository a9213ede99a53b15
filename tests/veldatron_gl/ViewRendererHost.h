#pragma once

// The renderer's host over a real terminal view, for tests and benchmarks: what the view
// answers, with the window-dependent values (size, scale, focus) set by the caller.

#include "IRendererHost.h"
#include "TerminalView.h"

namespace veldatron {

class ViewRendererHost : public IRendererHost {
public:
    explicit ViewRendererHost(TerminalView& view) : m_view(view) {}

    Terminal* terminal() override { return &m_view.terminal(); }
    std::optional<QSizeF> cellDimension() const override { return m_view.cellDimension(); }
    const FontSet& fontSet() const override { return m_view.fontSet(); }
    bool fontSmoothing() const override { return m_view.fontSmoothing(); }
    BidiHostPolicy bidiHostPolicy() const override { return m_view.bidiHostPolicy(); }
    bool customBlockGlyphs() const override { return m_view.customBlockGlyphs(); }
    bool antiAliasCustomBlockGlyphs() const override { return m_view.antiAliasCustomBlockGlyphs(); }
    PlatformColor effectiveNativeForegroundColor() const override
    {
        return m_view.effectiveNativeForegroundColor();
    }
    PlatformColor effectiveNativeBackgroundColor() const override
    {
        return m_view.effectiveNativeBackgroundColor();
    }
    PlatformColor effectiveCaretColor() const override { return m_view.effectiveCaretColor(); }
    PlatformColor effectiveCaretTextColor() const override
    {
        return m_view.effectiveCaretTextColor();
    }
    bool textBlinkVisible() const override
    {
        return textBlinkVisibleOverride.value_or(m_view.textBlinkVisible());
    }
    bool caretTracksFocus() const override { return tracksFocus; }
    bool hasFocus() const override { return focused; }
    QSizeF bounds() const override { return size; }
    double backingScaleFactor() const override { return backing; }
    std::optional<double> metalScaleFactorOverride() const override { return std::nullopt; }
    MetalBufferingMode metalBufferingMode() const override { return bufferingMode; }
    std::optional<std::pair<int, int>> takeMetalDirtyRange() override
    {
        return std::exchange(dirtyRange, std::nullopt);
    }
    bool isMetalRendererEligibleForRetry() const override { return true; }
    ViewLineInfo buildAttributedString(int row, const BufferLine& line, int cols) override
    {
        return m_view.buildAttributedString(row, line, cols);
    }
    RunAttributes getAttributedValue(const Attribute& attribute, const PlatformColor& usingFg,
                                     const PlatformColor& andBg) override
    {
        return m_view.getAttributedValue(attribute, usingFg, andBg);
    }
    TerminalView::GlyphSlotFit glyphSlotFit(const QRawFont& font, quint32 glyph,
                                            int columnWidth) const override
    {
        return m_view.glyphSlotFit(font, glyph, columnWidth);
    }

    TerminalView& view() { return m_view; }

    QSizeF size{800, 600};
    double backing = 1;
    bool focused = true;
    bool tracksFocus = true;
    MetalBufferingMode bufferingMode = MetalBufferingMode::perRowPersistent;
    std::optional<std::pair<int, int>> dirtyRange;
    std::optional<bool> textBlinkVisibleOverride;

private:
    TerminalView& m_view;
};

} // namespace veldatron
