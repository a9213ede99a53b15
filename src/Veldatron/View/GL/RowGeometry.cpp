#include "RowGeometry.h"

#include <algorithm>

namespace veldatron {

PixelRect RowTransform::transformRect(double x0, double y0, double x1, double y1) const
{
    using Mode = BufferLine::RenderLineMode;
    if (renderMode != Mode::single) {
        x0 *= 2;
        x1 *= 2;
    }
    if (renderMode == Mode::doubledTop || renderMode == Mode::doubledDown) {
        y0 = pivotY + 2 * (y0 - pivotY);
        y1 = pivotY + 2 * (y1 - pivotY);
    }
    return {float(std::min(x0, x1)), float(std::min(y0, y1)), float(std::max(x0, x1)),
            float(std::max(y0, y1))};
}

std::optional<TexturedRect> clipRect(const TexturedRect& input, const std::optional<ClipRect>& clip)
{
    if (!clip)
        return input;
    const PixelRect& r = input.rect;
    const float width = r.x1 - r.x0;
    const float height = r.y1 - r.y0;
    if (!(width > 0) || !(height > 0))
        return std::nullopt;
    const float cx0 = std::max(r.x0, clip->min.x);
    const float cy0 = std::max(r.y0, clip->min.y);
    const float cx1 = std::min(r.x1, clip->max.x);
    const float cy1 = std::min(r.y1, clip->max.y);
    if (!(cx1 > cx0) || !(cy1 > cy0))
        return std::nullopt;
    const PixelRect& t = input.tex;
    const float ds = t.x1 - t.x0;
    const float dt = t.y1 - t.y0;
    return TexturedRect{{cx0, cy0, cx1, cy1},
                        {t.x0 + ds * (cx0 - r.x0) / width, t.y0 + dt * (cy0 - r.y0) / height,
                         t.x0 + ds * (cx1 - r.x0) / width, t.y0 + dt * (cy1 - r.y0) / height}};
}

std::optional<PixelRect> clipRect(const PixelRect& r, const std::optional<ClipRect>& clip)
{
    if (!clip)
        return r;
    const PixelRect clamped{std::max(r.x0, clip->min.x), std::max(r.y0, clip->min.y),
                            std::min(r.x1, clip->max.x), std::min(r.y1, clip->max.y)};
    if (!(clamped.x1 > clamped.x0) || !(clamped.y1 > clamped.y0))
        return std::nullopt;
    return clamped;
}

Float4 colorToSIMD(const PlatformColor& color)
{
    return {float(color.red), float(color.green), float(color.blue), float(color.alpha)};
}

TextCell makeTextCell(const TexturedRect& quad, const Float4& color)
{
    const PixelRect& r = quad.rect;
    const PixelRect& t = quad.tex;
    return {{r.x0, r.y0}, {r.x1 - r.x0, r.y1 - r.y0}, {t.x0, t.y0}, {t.x1 - t.x0, t.y1 - t.y0},
            color};
}

ColorCell makeColorCell(const PixelRect& r, const Float4& color)
{
    return {{r.x0, r.y0}, {r.x1 - r.x0, r.y1 - r.y0}, color};
}

std::optional<ImageDraw> imageDraw(const std::shared_ptr<GpuTexture>& texture, const QRectF& rect,
                                   const QRectF& uvRect, const RowTransform& row, double scale)
{
    const PixelRect quad = row.transformRect(scale * rect.left(), scale * rect.top(),
                                             scale * rect.right(), scale * rect.bottom());
    const PixelRect tex{float(uvRect.left()), float(uvRect.top()), float(uvRect.right()),
                        float(uvRect.bottom())};
    const std::optional<TexturedRect> clipped = clipRect(TexturedRect{quad, tex}, row.clip);
    if (!clipped)
        return std::nullopt;
    ImageDraw draw;
    draw.texture = texture;
    appendQuad(draw.vertices, {clipped->rect.x0, clipped->rect.y0, clipped->rect.x1, clipped->rect.y1},
               {clipped->tex.x0, clipped->tex.y0, clipped->tex.x1, clipped->tex.y1}, {1, 1, 1, 1});
    return draw;
}

} // namespace veldatron
