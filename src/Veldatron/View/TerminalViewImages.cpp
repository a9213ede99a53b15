// Inline images: pictures the terminal hands over (sixel and kitty bitmaps, encoded files), cut
// into one slice per cell row and attached to the rows they cover; and the drawing of those
// slices and of kitty placeholder cells in the frame.
//
// A row's images in the frame, y downwards from the row's top edge (s = windowBackingScale(),
// kitty offsets are device pixels):
//
//     x = w * col (+ offsetX / s)
//     +------------------------------+  y = top (+ offsetY / s)
//     | slice: the picture's part    |
//     | of this row                  |  one cell high
//     +------------------------------+
//
// Kitty slices with a negative z-index go between the cell backgrounds and the text, the others
// over the text, and the rest (sixel, OSC 1337) last.

#include "RowImage.h"
#include "TerminalView.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace veldatron {

namespace {

bool isAutomatic(ImageSizeRequest request) {
    return request.kind == ImageSizeRequest::Kind::automatic;
}

bool samePayload(const KittyGraphicsPayload& a, const KittyGraphicsPayload& b) {
    return a.pngData() == b.pngData() && a.rgbaImage() == b.rgbaImage();
}

// A straight RGBA bitmap as a picture to draw (a copy: the bytes stay the caller's).
QImage pictureOf(const RgbaImage& bitmap) {
    if (!bitmap.isValid()) {
        return {};
    }
    const QImage wrapped(bitmap.bytes.data(), bitmap.width, bitmap.height,
                         qsizetype(bitmap.width) * 4, QImage::Format_RGBA8888);
    return wrapped.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

// ---- Insertion ------------------------------------------------------------------------------

void TerminalView::createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width,
                                         int height) {
    if (width < 1 || height < 1 || bytes.size() / 4 / size_t(width) < size_t(height)) {
        return;
    }
    // The bytes are straight RGBA; they are read only while the slices are cut.
    const QImage picture(bytes.data(), width, height, qsizetype(width) * 4,
                         QImage::Format_RGBA8888);
    const double frameWidth =
        this->width() > 0 ? this->width() : source.cols() * m_cellDimension.width();
    insertImage(picture, bitmapSizeRequests(source, frameWidth, width));
}

void TerminalView::createImage(Terminal&, std::span<const uint8_t> data, ImageSizeRequest width,
                               ImageSizeRequest height, bool preserveAspectRatio) {
    const QImage picture = decodeImage(data);
    if (!picture.isNull()) {
        insertImage(picture, {width, height, preserveAspectRatio});
    }
}

QImage TerminalView::decodeImage(std::span<const uint8_t> data) {
    if (data.empty() || data.size() > size_t(KittyGraphicsLimits::maxPayloadBytes)) {
        return {};
    }
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // The header's size, where the format tells it, is checked before anything is allocated.
    const QSize size = reader.size();
    constexpr int largest = int(KittyGraphicsLimits::maxDimension);
    if (size.isValid() && (size.width() < 1 || size.height() < 1 || size.width() > largest ||
                           size.height() > largest)) {
        return {};
    }
    QImage image = reader.read();
    if (image.isNull() || image.width() > largest || image.height() > largest) {
        return {};
    }
    return image;
}

void TerminalView::insertImage(const QImage& image, const ImageSizeRequests& requests) {
    if (image.isNull()) {
        return;
    }
    Terminal& terminal = *m_terminal;
    const double scale = windowBackingScale();
    const double cw = m_cellDimension.width();
    const double ch = m_cellDimension.height();
    ImageInsertionGeometry at;
    at.cellWidth = cw;
    at.cellHeight = ch;
    at.frameWidth = width() > 0 ? width() : terminal.cols() * cw;
    at.frameHeight = height() > 0 ? height() : terminal.rows() * ch;
    at.backingScale = scale;
    const double iw = image.width();
    const double ih = image.height();
    const ImageInsertionPlan plan = planImageInsertion(terminal, at, iw, ih, iw, ih, requests);

    // Where the whole picture lies, from the top-left corner of its first cell: the display
    // size, or, asked for both sides with its aspect kept, filling them centred (cut where it
    // reaches beyond).
    const bool fill = requests.preserveAspectRatio && !isAutomatic(requests.width) &&
                      !isAutomatic(requests.height);
    const QSizeF display(plan.displayWidth, plan.displayHeight);
    const QRectF pictureRect =
        fill ? scaledImageRect(QSizeF(iw, ih), display) : QRectF(QPointF(0, 0), display);

    // A slice is as wide as the picture, but no wider than the screen (what lies beyond is
    // never seen, and would cost memory in every row for any size a program asks for), and as
    // high as a cell, in the window's device pixels.
    const double screenWidth = terminal.cols() * cw;
    const double sliceWidth = std::min(std::trunc(plan.displayWidth), screenWidth);
    const int pixelWidth = sliceWidth >= 1 ? int(sliceWidth) : 0;
    const int pixelHeight = int(ch);
    const QSize deviceSize(int(std::lround(pixelWidth * scale)), int(std::lround(ch * scale)));

    commitImageInsertion(
        terminal, plan, [&](int64_t index, int col) -> std::shared_ptr<KittyPlacementImage> {
            if (pixelWidth < 1 || deviceSize.isEmpty()) {
                return nullptr;
            }
            QImage slice(deviceSize, QImage::Format_ARGB32_Premultiplied);
            if (slice.isNull()) {
                return nullptr;
            }
            slice.setDevicePixelRatio(scale);
            slice.fill(Qt::transparent);
            QPainter painter(&slice);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(pictureRect.translated(0, -double(index) * ch), image);
            painter.end();
            return std::make_shared<RowImage>(std::move(slice), pixelWidth, pixelHeight, col);
        });
}

// ---- Placeholder pictures -------------------------------------------------------------------

std::optional<QImage> TerminalView::kittyPlaceholderImage(uint32_t imageId) {
    const auto& stored = m_terminal->kittyGraphicsState().imagesById;
    const auto image = stored.find(imageId);
    if (image == stored.end()) {
        m_kittyPictures.erase(imageId);
        return std::nullopt;
    }
    const KittyGraphicsPayload& payload = image->second.payload;
    auto cached = m_kittyPictures.find(imageId);
    if (cached == m_kittyPictures.end() || !samePayload(cached->second.payload, payload)) {
        // Decoded once per stored payload; one that does not decode is remembered as such.
        QImage picture;
        if (const RgbaImage* bitmap = payload.rgbaImage()) {
            picture = pictureOf(*bitmap);
        } else if (const std::vector<uint8_t>* png = payload.pngData()) {
            picture = decodeImage(*png).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        }
        cached = m_kittyPictures.insert_or_assign(imageId, KittyPicture{payload, picture}).first;
    }
    if (cached->second.image.isNull()) {
        return std::nullopt;
    }
    return cached->second.image;
}

void TerminalView::forgetUnstoredKittyPictures() {
    // The cache holds the payloads it decoded: a picture deleted from the store, or replaced
    // under its id, is let go at the next frame.
    const auto& stored = m_terminal->kittyGraphicsState().imagesById;
    std::erase_if(m_kittyPictures, [&](const auto& entry) {
        const auto image = stored.find(entry.first);
        return image == stored.end() || !samePayload(image->second.payload, entry.second.payload);
    });
}

QRectF TerminalView::kittyAspectFitRect(const QSizeF& imageSize, const QRectF& rect) {
    if (!(imageSize.width() > 0) || !(imageSize.height() > 0) || !(rect.width() > 0) ||
        !(rect.height() > 0)) {
        return rect;
    }
    const double factor =
        std::min(rect.height() / imageSize.height(), rect.width() / imageSize.width());
    const QSizeF size = imageSize * factor;
    return {rect.center() - QPointF(size.width() / 2, size.height() / 2), size};
}

// ---- Drawing --------------------------------------------------------------------------------

void TerminalView::drawRowImages(const ViewLineInfo& info, double top, RowImageLayer layer,
                                 QPainter& painter) {
    if (!info.images || info.images->empty()) {
        return;
    }
    std::vector<const RowImage*> kitty;
    std::vector<const RowImage*> others;
    for (const std::shared_ptr<TerminalImage>& image : *info.images) {
        const auto* slice = dynamic_cast<const RowImage*>(image.get());
        if (slice == nullptr) {
            continue;
        }
        if (!slice->kittyIsKitty) {
            others.push_back(slice);
        } else if ((slice->kittyZIndex < 0) == (layer == RowImageLayer::underText)) {
            kitty.push_back(slice);
        }
    }
    if (kitty.empty() && (layer == RowImageLayer::underText || others.empty())) {
        return;
    }
    // Higher z-indexes over lower ones; among equals the higher image id on top.
    std::stable_sort(kitty.begin(), kitty.end(), [](const RowImage* a, const RowImage* b) {
        if (a->kittyZIndex != b->kittyZIndex) {
            return a->kittyZIndex < b->kittyZIndex;
        }
        return a->kittyImageId.value_or(0) < b->kittyImageId.value_or(0);
    });

    const double w = m_cellDimension.width();
    const double scale = windowBackingScale();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The slice's own size in points: a cell high, as wide as it was cut.
    for (const RowImage* slice : kitty) {
        // The pixel offsets move the picture right and down from its first cell's corner.
        painter.drawImage(QPointF(w * slice->col() + double(slice->kittyPixelOffsetX) / scale,
                                  top + double(slice->kittyPixelOffsetY) / scale),
                          slice->image());
    }
    if (layer == RowImageLayer::overText) {
        for (const RowImage* slice : others) {
            painter.drawImage(QPointF(w * slice->col(), top), slice->image());
        }
    }
    painter.restore();
}

void TerminalView::drawKittyPlaceholders(const ViewLineInfo& info, double top, QPainter& painter) {
    if (info.kittyPlaceholders.empty()) {
        return;
    }
    const double w = m_cellDimension.width();
    const double h = m_cellDimension.height();
    const double scale = windowBackingScale();
    const bool alternate = m_terminal->isCurrentBufferAlternate();
    const auto& placements = m_terminal->kittyGraphicsState().placementsByKey;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const KittyPlaceholderCell& cell : info.kittyPlaceholders) {
        // The first virtual placement of the image, on the screen shown, that has this part.
        const KittyPlacementRecord* placement = nullptr;
        for (auto it = placements.lower_bound({cell.imageId, 0});
             it != placements.end() && it->first.imageId == cell.imageId; ++it) {
            const KittyPlacementRecord& record = it->second;
            if (record.isVirtual && record.isAlternateBuffer == alternate &&
                (cell.placementId == 0 || cell.placementId == record.placementId) &&
                record.cols >= 1 && record.rows >= 1 && cell.placeholderCol < record.cols &&
                cell.placeholderRow < record.rows) {
                placement = &record;
                break;
            }
        }
        if (placement == nullptr) {
            continue;
        }
        const std::optional<QImage> picture = kittyPlaceholderImage(cell.imageId);
        if (!picture) {
            continue;
        }
        // The whole placement as if this cell held its part of it; the cell shows that part.
        const QRectF whole(
            w * double(cell.col - cell.placeholderCol) + double(placement->pixelOffsetX) / scale,
            top - h * double(cell.placeholderRow) + double(placement->pixelOffsetY) / scale,
            w * double(placement->cols), h * double(placement->rows));
        if (!(whole.width() > 0) || !(whole.height() > 0)) {
            continue;
        }
        painter.save();
        painter.setClipRect(QRectF(w * double(cell.col), top, w, h), Qt::IntersectClip);
        painter.drawImage(kittyAspectFitRect(QSizeF(picture->size()), whole), *picture);
        painter.restore();
    }
    painter.restore();
}

} // namespace veldatron
