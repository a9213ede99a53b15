#pragma once

namespace veldatron {

/// The GPU renderer's side of a view that draws with it: the GPU view over the terminal view,
/// its renderer, and the recovery from failed frames. The GPU renderer library implements it
/// (TerminalViewMetalHost); the view owns it from the first `setUseMetal(true)` on and tells it
/// what happens to the widget. Everything runs on the GUI thread.
class TerminalViewMetalHosting {
public:
    virtual ~TerminalViewMetalHosting() = default;

    /// GPU drawing is on.
    virtual bool useMetalRenderer() const = 0;
    /// A GPU view is shown over the terminal view.
    virtual bool hasMetalView() const = 0;
    /// Marks the whole GPU view for redrawing.
    virtual void setMetalViewNeedsDisplay() = 0;
    /// Draws the GPU view at once.
    virtual void drawMetalViewNow() = 0;
    /// The terminal view has a new size.
    virtual void viewResized() = 0;
    /// The terminal view was shown or got a new parent: it may now be in another window.
    virtual void viewWindowMayHaveChanged() = 0;
};

} // namespace veldatron
