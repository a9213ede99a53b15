#pragma once

// A renderer host with settable answers over a real terminal, for tests of the renderer's logic
// without a view:
//
//   StubRendererHost host(20, 10);        // a 20 x 10 terminal, cells of 8 x 16
//   host.terminal()->feed("text");
//   host.dirtyRange = {{2, 4}};

#include "IRendererHost.h"

#include "Terminal.h"

#include <memory>

namespace veldatron::testing {

class StubRendererHost : public IRendererHost {
public:
    StubRendererHost(int cols, int rows, int scrollback = 0)
    {
        TerminalOptions options;
        options.cols = cols;
        options.rows = rows;
        options.scrollback = scrollback;
        m_terminal = std::make_unique<Terminal>(nullptr, options);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(14);
        fonts = FontSet::from(font);
        size = QSizeF(cols * 8.0, rows * 16.0);
    }

    Terminal* terminal() override { return hasTerminal ? m_terminal.get() : nullptr; }
    Terminal& term() { return *m_terminal; }
    std::optional<QSizeF> cellDimension() const override { return cell; }
    const FontSet& fontSet() const override { return fonts; }
    bool fontSmoothing() const override { return smoothing; }
    BidiHostPolicy bidiHostPolicy() const override { return bidiPolicy; }
    bool customBlockGlyphs() const override { return true; }
    bool antiAliasCustomBlockGlyphs() const override { return false; }
    PlatformColor effectiveNativeForegroundColor() const override { return foreground; }
    PlatformColor effectiveNativeBackgroundColor() const override { return background; }
    PlatformColor effectiveCaretColor() const override { return foreground; }
    PlatformColor effectiveCaretTextColor() const override { return background; }
    bool textBlinkVisible() const override { return true; }
    bool caretTracksFocus() const override { return tracksFocus; }
    bool hasFocus() const override { return focused; }
    QSizeF bounds() const override { return size; }
    double backingScaleFactor() const override { return backingScale; }
    std::optional<double> metalScaleFactorOverride() const override { return scaleOverride; }
    MetalBufferingMode metalBufferingMode() const override { return bufferingMode; }
    std::optional<std::pair<int, int>> takeMetalDirtyRange() override
    {
        return std::exchange(dirtyRange, std::nullopt);
    }
    bool isMetalRendererEligibleForRetry() const override { return eligible; }
    ViewLineInfo buildAttributedString(int, const BufferLine&, int) override { return {}; }
    RunAttributes getAttributedValue(const Attribute&, const PlatformColor&,
                                     const PlatformColor&) override
    {
        return {};
    }
    TerminalView::GlyphSlotFit glyphSlotFit(const QRawFont&, quint32, int) const override
    {
        return {};
    }

    bool hasTerminal = true;
    std::optional<QSizeF> cell = QSizeF(8, 16);
    FontSet fonts;
    bool smoothing = true;
    BidiHostPolicy bidiPolicy = BidiHostPolicy::respectTerminal;
    PlatformColor foreground = PlatformColor::fromRgb8(255, 255, 255);
    PlatformColor background = PlatformColor::black();
    bool tracksFocus = true;
    bool focused = true;
    QSizeF size;
    double backingScale = 1;
    std::optional<double> scaleOverride;
    MetalBufferingMode bufferingMode = MetalBufferingMode::perRowPersistent;
    std::optional<std::pair<int, int>> dirtyRange;
    bool eligible = true;

private:
    std::unique_ptr<Terminal> m_terminal;
};

} // namespace veldatron::testing
