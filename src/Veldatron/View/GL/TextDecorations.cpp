#include "TextDecorations.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace veldatron {

UnderlineStyle resolveUnderlineStyle(const RunAttributes& attributes)
{
    if (attributes.veldatronUnderlineStyle && *attributes.veldatronUnderlineStyle >= 0
        && *attributes.veldatronUnderlineStyle <= 5)
        return UnderlineStyle(*attributes.veldatronUnderlineStyle);
    if (!attributes.underlineStyle)
        return UnderlineStyle::none;
    const int v = *attributes.underlineStyle;
    if ((v & UnderlineBits::double_) == UnderlineBits::double_)
        return UnderlineStyle::double_;
    if (v & UnderlineBits::patternDot)
        return UnderlineStyle::dotted;
    if (v & 0x600)
        return UnderlineStyle::dashed;
    return v != 0 ? UnderlineStyle::single : UnderlineStyle::none;
}

UnderlineStyle strikethroughPatternStyle(int value)
{
    if (value & UnderlineBits::patternDot)
        return UnderlineStyle::dotted;
    if (value & 0x600)
        return UnderlineStyle::dashed;
    return UnderlineStyle::single;
}

void appendUnderlineSegments(double x0, double x1, double yCenter, double thickness,
                             const Float4& color, UnderlineStyle style, double patternScale,
                             const RowTransform& row, std::vector<ColorCell>& output)
{
    const double th = thickness;
    const double p = patternScale;
    auto bar = [&](double a, double b, double center) {
        const PixelRect rect = row.transformRect(a, center - th / 2, b, center + th / 2);
        if (auto clipped = clipRect(rect, row.clip))
            output.push_back(makeColorCell(*clipped, color));
    };
    // A pattern step below a hundredth of a pixel would loop without end (or nearly so).
    auto patterned = [&](double length, double period) {
        if (!(length > 0.01) || !(period > 0.01))
            return;
        for (double a = x0; a < x1; a += period)
            bar(a, std::min(x1, a + length), yCenter);
    };
    switch (style) {
    case UnderlineStyle::none:
        return;
    case UnderlineStyle::single:
    case UnderlineStyle::double_:
        bar(x0, x1, yCenter);
        return;
    case UnderlineStyle::dotted: {
        const double length = std::max(th, p);
        patterned(length, 3 * length);
        return;
    }
    case UnderlineStyle::dashed: {
        const double length = std::max(2 * th, 2 * p);
        patterned(length, 2 * length);
        return;
    }
    case UnderlineStyle::curly: {
        const double amplitude = std::max(th, p);
        const double wavelength = std::max(4 * th, 4 * p);
        if (!(amplitude > 0.01))
            return;
        for (double a = x0; a < x1;) {
            const double b = std::min(x1, a + amplitude);
            bar(a, b, yCenter + amplitude * std::sin(2 * std::numbers::pi * (a - x0) / wavelength));
            a = b;
        }
        return;
    }
    }
}

} // namespace veldatron
