#pragma once

#include "DrawRecords.h"
#include "RowGeometry.h"

#include "Attribute.h"
#include "RunAttributes.h"

#include <vector>

namespace veldatron {

/// The underline style of a run: the terminal's own style when the row builder wrote one (it
/// is what tells curly apart, and what makes a highlighted link dashed), else decoded from the
/// underline bits.
UnderlineStyle resolveUnderlineStyle(const RunAttributes& attributes);

/// The strike-through's pattern decoded from its bits (double is drawn by the caller).
UnderlineStyle strikethroughPatternStyle(int value);

/// Appends the bars of one decoration from x0 to x1 around `yCenter` (device pixels), `style`
/// giving the pattern (double draws as single; the caller adds the second bar). Patterns scale
/// with max(thickness, patternScale) and restart at x0. Each bar is stretched for the row and
/// clipped; a bar clipped away is dropped.
void appendUnderlineSegments(double x0, double x1, double yCenter, double thickness,
                             const Float4& color, UnderlineStyle style, double patternScale,
                             const RowTransform& row, std::vector<ColorCell>& output);

} // namespace veldatron
