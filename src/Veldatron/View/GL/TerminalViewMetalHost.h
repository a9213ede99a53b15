#pragma once

#include "ILogSink.h"
#include "MetalFrameCoordinator.h"
#include "MetalRecoveryController.h"
#include "TerminalViewMetalHosting.h"

#include <QMetaObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace veldatron {

class TerminalView;

/// What the view's GPU hosting holds of a renderer.
class HostedMetalRenderer {
public:
    virtual ~HostedMetalRenderer() = default;
    /// The GPU view it draws into: a child widget of the terminal view, which the renderer
    /// owns and deletes when it goes.
    virtual QWidget* metalView() const = 0;
    virtual MetalFrameCoordinator& frameCoordinator() = 0;
    /// Stops the cursor-blink timer for good.
    virtual void invalidateCursorBlinkTimer() = 0;
};

/// Makes a renderer for `view` with a new GPU view (hidden, a child of `view`, at `frame`).
/// Throws MetalError when it cannot (deviceUnavailable without a GL context).
using MetalRendererFactory =
    std::function<std::shared_ptr<HostedMetalRenderer>(TerminalView& view, const QRect& frame)>;

/// The makings of a GPU hosting; empty members take the system's (the GL renderer, the
/// steady clock, the Qt log, and VELDATRON_METAL_LIVE_RESIZE_THROTTLE).
struct MetalHostEnvironment {
    MetalRendererFactory factory;
    const MetalRecoveryClock* uptime = nullptr;
    ILogSink* log = nullptr;
    std::optional<bool> liveResizeThrottle;
};

/// Whether resizes of a view drawn by the GPU go through the coalesced GPU display instead of
/// drawing a frame for each: off when VELDATRON_METAL_LIVE_RESIZE_THROTTLE is "0", "false" or
/// "FALSE" when first asked, on otherwise.
bool metalLiveResizeThrottleEnabled();
bool metalLiveResizeThrottleEnabledFor(const char* value);

/// GPU drawing of one terminal view: the GPU view (a GL widget) over the view, below the caret
/// (which it hides: the renderer draws the cursor) with the scroll bar above it; the renderer
/// drawing into it; renderers that were replaced but still have a frame on the GPU; and the
/// recovery from failed frames: a failing renderer is replaced with a new one and a new GPU
/// view, and a second failure within 30 s falls back to the raster renderer for good (until
/// the host turns GPU drawing on again).
///
/// Owned by the view (TerminalView::metalHosting), made by the first setUseMetal(true) or by
/// `install`. GUI thread only; renderers report on it.
class TerminalViewMetalHost final : public TerminalViewMetalHosting {
public:
    /// The hosting of `view`, made with `environment` when it has none yet.
    static TerminalViewMetalHost& of(TerminalView& view, MetalHostEnvironment environment = {});

    ~TerminalViewMetalHost() override;

    /// TerminalView::setUseMetal.
    void setUseMetal(bool enabled);

    // ---- Reports of the renderers -------------------------------------------------------------
    /// A frame of `renderer` was presented; ignored unless it is the current renderer.
    void metalRenderer(HostedMetalRenderer* renderer,
                       std::chrono::system_clock::time_point presentedAt);
    /// `renderer` failed; ignored unless it is the current renderer.
    void metalRenderer(HostedMetalRenderer* renderer, const MetalRendererRecoveryReport& report);
    /// `renderer` has no frame on the GPU any more: a retired one is let go.
    void metalRendererBecameIdle(HostedMetalRenderer* renderer);

    HostedMetalRenderer* metalRenderer() const { return m_metalRenderer.get(); }
    QWidget* metalView() const { return m_metalView; }
    const std::vector<std::shared_ptr<HostedMetalRenderer>>& retiredMetalRenderers() const {
        return m_retiredMetalRenderers;
    }
    const MetalAutomaticRecoveryPolicy& automaticMetalRecoveryPolicy() const {
        return m_controller.policy();
    }

    // ---- TerminalViewMetalHosting ---------------------------------------------------------
    bool useMetalRenderer() const override { return m_useMetalRenderer; }
    bool hasMetalView() const override { return m_metalView != nullptr; }
    void setMetalViewNeedsDisplay() override;
    void drawMetalViewNow() override;
    void viewResized() override;
    void viewWindowMayHaveChanged() override;

private:
    TerminalViewMetalHost(TerminalView& view, MetalHostEnvironment environment);

    void updateMetalRenderer(bool enabled);
    void insertMetalView(QWidget* metalView, QWidget* replacing);
    void removeMetalView(QWidget* metalView);
    // Swaps in a new renderer (and GPU view), made at the old GPU view's place; falls back
    // when it cannot be made. `rebinding`: for a new window, which shows as recovering.
    bool replaceMetalRenderer(bool rebinding);
    void rebindMetalRendererToWindow(QWidget* window);
    void replaceMetalRendererAfterFailure();
    void disableMetalRendererAfterRebindFailure(const QString& description);
    void retireMetalRenderer(const std::shared_ptr<HostedMetalRenderer>& renderer);
    // The view draws itself again: its caret shown, everything repainted.
    void restoreRasterDrawing();
    void updateMetalWindowRecoveryObservers();
    // The window the view is shown in; none while it is a hidden window of its own (taken out
    // of its window).
    QWidget* hostWindow() const;

    TerminalView& m_view;
    MetalRendererFactory m_factory;
    const MetalRecoveryClock& m_uptime;
    ILogSink& m_log;
    bool m_liveResizeThrottle;
    MetalRecoveryController m_controller;

    bool m_useMetalRenderer = false;
    QPointer<QWidget> m_metalView;
    std::shared_ptr<HostedMetalRenderer> m_metalRenderer;
    std::vector<std::shared_ptr<HostedMetalRenderer>> m_retiredMetalRenderers;
    QPointer<QWidget> m_metalBoundWindow;
    QPointer<QWidget> m_observedWindow;
    std::vector<QMetaObject::Connection> m_metalWindowRecoveryObservers;
};

} // namespace veldatron
