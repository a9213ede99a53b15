#include "DrawRecords.h"

namespace veldatron {

void appendQuad(std::vector<ColorVertex>& out, const QuadCorners& r, const Float4& color)
{
    const Float2 zero;
    out.push_back({{r.x0, r.y0}, zero, color});
    out.push_back({{r.x1, r.y0}, zero, color});
    out.push_back({{r.x0, r.y1}, zero, color});
    out.push_back({{r.x1, r.y0}, zero, color});
    out.push_back({{r.x1, r.y1}, zero, color});
    out.push_back({{r.x0, r.y1}, zero, color});
}

void appendQuad(std::vector<GlyphVertex>& out, const QuadCorners& r, const QuadCorners& t,
                const Float4& color)
{
    out.push_back({{r.x0, r.y0}, {t.x0, t.y0}, color});
    out.push_back({{r.x1, r.y0}, {t.x1, t.y0}, color});
    out.push_back({{r.x0, r.y1}, {t.x0, t.y1}, color});
    out.push_back({{r.x1, r.y0}, {t.x1, t.y0}, color});
    out.push_back({{r.x1, r.y1}, {t.x1, t.y1}, color});
    out.push_back({{r.x0, r.y1}, {t.x0, t.y1}, color});
}

} // namespace veldatron
