#pragma once

// Comparing a frame drawn by the GPU with the raster view's frame of the same screen: glyph
// edges are rasterised differently by the two renderers and are left out.

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace veldatron::testing {

inline int channelDifference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// Whether the raster frame's pixel lies on an edge (its 3 x 3 neighbourhood is not one colour).
inline bool onEdge(const QImage& image, int x, int y) {
    const QRgb centre = image.pixel(x, y);
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int nx = std::clamp(x + dx, 0, image.width() - 1);
            const int ny = std::clamp(y + dy, 0, image.height() - 1);
            if (channelDifference(image.pixel(nx, ny), centre) > 24) {
                return true;
            }
        }
    }
    return false;
}

struct Comparison {
    int compared = 0;
    int differing = 0;
    std::string firstDifference;
};

// The pixels of `area` (the whole raster frame when empty) off the edges, compared.
inline Comparison compare(const QImage& gpu, const QImage& raster, int tolerance,
                          QRect area = {}) {
    if (area.isEmpty()) {
        area = raster.rect();
    }
    area &= raster.rect() & gpu.rect();
    Comparison result;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (onEdge(raster, x, y)) {
                continue;
            }
            ++result.compared;
            if (channelDifference(gpu.pixel(x, y), raster.pixel(x, y)) > tolerance &&
                result.differing++ == 0) {
                result.firstDifference = "(" + std::to_string(x) + ", " + std::to_string(y) +
                                         ") gpu " + QColor(gpu.pixel(x, y)).name().toStdString() +
                                         " raster " +
                                         QColor(raster.pixel(x, y)).name().toStdString();
            }
        }
    }
    return result;
}

} // namespace veldatron::testing
