#pragma once

#include "MetalBufferingMode.h"

#include "BidiPresentationState.h"
#include "BufferLine.h"
#include "FontSet.h"
#include "PlatformColor.h"
#include "RunAttributes.h"
#include "TerminalView.h"
#include "ViewLineSegment.h"

#include <QSizeF>

#include <optional>
#include <utility>

namespace veldatron {

class Terminal;

/// What the GPU renderer reads of the view it draws, and the one thing it clears there (the
/// dirty range). The terminal view implements it; tests implement it over a view or with fixed
/// values. All calls happen on the GUI thread.
class IRendererHost {
public:
    virtual ~IRendererHost() = default;

    /// Null until the view is set up.
    virtual Terminal* terminal() = 0;
    /// Cell width and height in logical pixels; absent until the view has its font.
    virtual std::optional<QSizeF> cellDimension() const = 0;
    virtual const FontSet& fontSet() const = 0;
    virtual bool fontSmoothing() const = 0;
    virtual BidiHostPolicy bidiHostPolicy() const = 0;
    virtual bool customBlockGlyphs() const = 0;
    virtual bool antiAliasCustomBlockGlyphs() const = 0;

    virtual PlatformColor effectiveNativeForegroundColor() const = 0;
    virtual PlatformColor effectiveNativeBackgroundColor() const = 0;
    virtual PlatformColor effectiveCaretColor() const = 0;
    virtual PlatformColor effectiveCaretTextColor() const = 0;
    virtual bool textBlinkVisible() const = 0;
    virtual bool caretTracksFocus() const = 0;
    virtual bool hasFocus() const = 0;

    /// The view's size in logical pixels.
    virtual QSizeF bounds() const = 0;
    /// The window's device pixel ratio; 1 without a window.
    virtual double backingScaleFactor() const = 0;
    virtual std::optional<double> metalScaleFactorOverride() const = 0;
    virtual MetalBufferingMode metalBufferingMode() const = 0;
    /// The absolute buffer rows (both included) to rebuild although their lines may be
    /// unchanged; cleared by the call.
    virtual std::optional<std::pair<int, int>> takeMetalDirtyRange() = 0;
    virtual bool isMetalRendererEligibleForRetry() const = 0;

    /// The row layout shared with the raster renderer.
    virtual ViewLineInfo buildAttributedString(int row, const BufferLine& line, int cols) = 0;
    /// The drawing attributes of a cell attribute with explicit colours (the cursor's cell).
    virtual RunAttributes getAttributedValue(const Attribute& attribute,
                                             const PlatformColor& usingFg,
                                             const PlatformColor& andBg) = 0;
    /// Where a wide cell's glyph sits in its slot.
    virtual TerminalView::GlyphSlotFit glyphSlotFit(const QRawFont& font, quint32 glyph,
                                                    int columnWidth) const = 0;
};

} // namespace veldatron
