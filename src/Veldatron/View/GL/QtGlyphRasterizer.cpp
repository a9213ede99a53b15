#include "QtGlyphRasterizer.h"

#include <QGlyphRun>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>

namespace veldatron {

bool QtGlyphRasterizer::hasColor(const std::vector<uint8_t>& pixels)
{
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) {
        if (pixels[i] != pixels[i + 1] || pixels[i + 1] != pixels[i + 2])
            return true;
    }
    return false;
}

std::optional<GlyphBitmap> QtGlyphRasterizer::rasterize(const QRawFont& font, quint32 glyph)
{
    if (!font.isValid())
        return std::nullopt;
    // Qt's bounding rectangle is y-down from the baseline; ours is y-up.
    const QRectF bounds = font.boundingRect(glyph);
    if (!(bounds.width() > 0) || !(bounds.height() > 0))
        return std::nullopt;
    const double minY = -bounds.bottom();
    const double maxY = -bounds.top();
    const int x0 = int(std::floor(bounds.left()));
    const int y0 = int(std::floor(minY));
    const int width = int(std::ceil(bounds.right())) - x0;
    const int height = int(std::ceil(maxY)) - y0;
    // A glyph larger than any atlas could hold is not drawn (a broken font's metrics must not
    // make us allocate gigabytes).
    constexpr int largestSide = 16384;
    if (width <= 0 || height <= 0 || width > largestSide || height > largestSide)
        return std::nullopt;

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setPen(Qt::white);
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes({glyph});
        run.setPositions({QPointF(0, 0)});
        // The glyph origin lies -x0 from the left edge and y0 below the bottom edge.
        painter.drawGlyphRun(QPointF(-x0, height + y0), run);
    }

    GlyphBitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bearing = QPointF(x0, y0);
    bitmap.pixels.resize(std::size_t(width) * std::size_t(height) * 4);
    for (int row = 0; row < height; ++row)
        std::memcpy(bitmap.pixels.data() + std::size_t(row) * std::size_t(width) * 4,
                    image.constScanLine(row), std::size_t(width) * 4);
    bitmap.isColor = hasColor(bitmap.pixels);
    return bitmap;
}

} // namespace veldatron
