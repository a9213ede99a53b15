#pragma once

#include "IShaper.h"

namespace veldatron {

/// Shapes through QTextLayout. The text is wrapped in a left-to-right override, because row
/// segments arrive in visual order and Qt's bidi would otherwise reorder right-to-left text a
/// second time. Each glyph is tagged with the start of the grapheme cluster it was shaped
/// from (Qt 6.4's glyph runs carry no string indices, so runs are read cluster by cluster).
/// Clusters in emoji presentation ask for the emoji font first, as the raster view does.
class QtShaper : public IShaper {
public:
    std::optional<ShaperRun> shape(const QString& text, const QFont& font) override;
};

} // namespace veldatron
