#pragma once

#include "KittyPlacementImage.h"

#include <QImage>

namespace veldatron {

/// One row's slice of an inline image as the view cut it (TerminalView::insertImage): the picture
/// of a whole cell row of the image, `pixelWidth` x `pixelHeight` points from column `col`, with
/// the kitty placement it belongs to when it belongs to one.
///
/// The picture is rendered once, when the image is inserted, at the device pixels of the window
/// the view was in (its devicePixelRatio says how many per point), premultiplied for drawing; the
/// frames only composite it. Rows own their slices (shared: a kitty placement moved to other rows
/// moves the same objects), and the picture goes with the last of them.
class RowImage final : public KittyPlacementImage {
public:
    RowImage(QImage image, int pixelWidth, int pixelHeight, int col)
        : KittyPlacementImage(pixelWidth, pixelHeight, col), m_image(std::move(image)) {}

    const QImage& image() const { return m_image; }

private:
    QImage m_image;
};

} // namespace veldatron
