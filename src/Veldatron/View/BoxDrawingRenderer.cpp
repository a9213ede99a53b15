#include "BoxDrawingRenderer.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace veldatron {

namespace {

// The antialiased parts of a character (the curve of a rounded corner, diagonals), drawn in the
// painter's current coordinates: device pixels from the cell's top-left corner.
void paintAntialiased(const BoxDrawingCanvas& canvas, QPainter& painter, const QColor& color) {
    if (const std::optional<BoxDrawingCanvas::Arc>& arc = canvas.arc()) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setClipRect(
            QRectF(arc->clipX0, arc->clipY0, arc->clipX1 - arc->clipX0, arc->clipY1 - arc->clipY0),
            Qt::IntersectClip);
        const QPointF centre(arc->centerX, arc->centerY);
        QPainterPath path;
        path.addEllipse(centre, arc->outerRadius, arc->outerRadius);
        if (arc->innerRadius > 0) {
            path.addEllipse(centre, arc->innerRadius, arc->innerRadius);
            path.setFillRule(Qt::OddEvenFill);
        } else {
            path.setFillRule(Qt::WindingFill);
        }
        painter.fillPath(path, color);
        painter.restore();
    }
    if (canvas.diagonalCount() > 0) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        for (auto line = canvas.diagonalsBegin(); line != canvas.diagonalsEnd(); ++line) {
            painter.setPen(QPen(color, line->thickness, Qt::SolidLine, Qt::FlatCap));
            painter.drawLine(QPointF(line->x0, line->y0), QPointF(line->x1, line->y1));
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
}

// Antialiased curves cost far more to fill than the cell's rectangles (a screen of rounded
// corners took several milliseconds a frame): they are drawn once per character, cell size and
// colour into an image and copied from it after that. The image reaches a little beyond the cell,
// where the end of a diagonal stroke lies.
struct AntialiasedKey {
    uint32_t codePoint;
    int width;
    int height;
    int minPx;
    int baseThicknessPx;
    QRgb color;
    friend bool operator==(const AntialiasedKey&, const AntialiasedKey&) = default;
};

struct AntialiasedKeyHash {
    size_t operator()(const AntialiasedKey& key) const {
        size_t seed = key.codePoint;
        for (size_t v : {size_t(key.width), size_t(key.height), size_t(key.minPx),
                         size_t(key.baseThicknessPx), size_t(key.color)}) {
            seed ^= v + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
        }
        return seed;
    }
};

struct AntialiasedPart {
    QImage image;
    int margin = 0;
};

constexpr size_t antialiasedCacheLimit = 256;

const AntialiasedPart& antialiasedPart(const BoxDrawingCanvas& canvas, const QColor& color) {
    thread_local std::unordered_map<AntialiasedKey, AntialiasedPart, AntialiasedKeyHash> cache;
    const AntialiasedKey key{canvas.codePoint(),          canvas.width(),           canvas.height(),
                             canvas.minimumThicknessPx(), canvas.baseThicknessPx(), color.rgba()};
    if (const auto found = cache.find(key); found != cache.end()) {
        return found->second;
    }
    if (cache.size() >= antialiasedCacheLimit) {
        cache.clear();
    }
    double thickest = 0;
    for (auto line = canvas.diagonalsBegin(); line != canvas.diagonalsEnd(); ++line) {
        thickest = std::max(thickest, line->thickness);
    }
    AntialiasedPart part;
    part.margin = canvas.diagonalCount() > 0 ? int(std::ceil(thickest / 2)) + 1 : 0;
    part.image = QImage(canvas.width() + 2 * part.margin, canvas.height() + 2 * part.margin,
                        QImage::Format_ARGB32_Premultiplied);
    part.image.fill(Qt::transparent);
    QPainter painter(&part.image);
    painter.translate(part.margin, part.margin);
    paintAntialiased(canvas, painter, color);
    painter.end();
    return cache.emplace(key, std::move(part)).first->second;
}

bool isWholePixel(double v) {
    return std::abs(v - std::round(v)) < 1e-6;
}

} // namespace

void BoxDrawingRenderer::draw(uint32_t codePoint, QPainter& painter, QPointF cellOrigin,
                              QSizeF cellSize, double scale, const PlatformColor& color,
                              int baseThicknessPx) {
    if (codePoint < 0x2500 || codePoint > 0x257F || !(scale > 0)) {
        return;
    }
    const int width = std::max(int(std::round(cellSize.width() * scale)), 1);
    const int height = std::max(int(std::round(cellSize.height() * scale)), 1);
    const BoxDrawingCanvas canvas =
        BoxDrawingCanvas::forCodePoint(codePoint, width, height, scale, baseThicknessPx);
    if (canvas.isEmpty()) {
        return;
    }
    painter.save();
    painter.translate(cellOrigin);
    painter.scale(1 / scale, 1 / scale);
    paint(canvas, painter, color.toQColor());
    painter.restore();
}

int BoxDrawingRenderer::baseThicknessPx(double scale, double underlineThickness) {
    const int thickness =
        int(std::max(std::round(scale), std::round(scale * underlineThickness * 1.35)));
    return std::max(thickness, 1);
}

void BoxDrawingRenderer::paint(const BoxDrawingCanvas& canvas, QPainter& painter,
                               const QColor& color) {
    // Straight lines on whole pixels: neighbouring cells meet without a seam or an overlap.
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (auto rect = canvas.rectsBegin(); rect != canvas.rectsEnd(); ++rect) {
        painter.fillRect(QRect(rect->x0, rect->y0, rect->x1 - rect->x0, rect->y1 - rect->y0),
                         color);
    }
    if (!canvas.arc() && canvas.diagonalCount() == 0) {
        return;
    }
    // A copy of the drawn curve where the cell lies on whole device pixels unscaled (the rows of
    // the frame); otherwise (a row drawn at double size) the curve itself.
    const QTransform device = painter.deviceTransform();
    if (canvas.codePoint() != 0 && device.type() <= QTransform::TxTranslate &&
        isWholePixel(device.dx()) && isWholePixel(device.dy())) {
        const AntialiasedPart& part = antialiasedPart(canvas, color);
        painter.drawImage(QPoint(-part.margin, -part.margin), part.image);
    } else {
        paintAntialiased(canvas, painter, color);
    }
}

} // namespace veldatron
