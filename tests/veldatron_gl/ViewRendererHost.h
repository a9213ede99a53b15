#pragma once

// The renderer's host over a real terminal view, for tests and benchmarks: what the view
// answers, with the window-dependent values (size, scale, focus, dirty rows) set by the caller.

#include "TerminalView.h"
#include "TerminalViewRendererHost.h"

namespace veldatron {

class ViewRendererHost : public TerminalViewRendererHost {
public:
    explicit ViewRendererHost(TerminalView& view) : TerminalViewRendererHost(view), m_view(view) {}

    bool textBlinkVisible() const override {
        return textBlinkVisibleOverride.value_or(TerminalViewRendererHost::textBlinkVisible());
    }
    bool caretTracksFocus() const override { return tracksFocus; }
    bool hasFocus() const override { return focused; }
    QSizeF bounds() const override { return size; }
    double backingScaleFactor() const override { return backing; }
    std::optional<double> metalScaleFactorOverride() const override { return std::nullopt; }
    MetalBufferingMode metalBufferingMode() const override { return bufferingMode; }
    std::optional<std::pair<int, int>> takeMetalDirtyRange() override {
        return std::exchange(dirtyRange, std::nullopt);
    }
    bool isMetalRendererEligibleForRetry() const override { return true; }

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
