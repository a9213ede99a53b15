#include "ImageInsertion.h"

#include "Saturating.h"
#include "Terminal.h"

#include <algorithm>
#include <cmath>

namespace veldatron {

ImageSizeRequests bitmapSizeRequests(const Terminal& terminal, double frameWidth, int bitmapWidth) {
    if (const auto& context = terminal.kittyPlacementContext()) {
        return {context->widthRequest, context->heightRequest, context->preserveAspectRatio};
    }
    return {frameWidth < bitmapWidth ? ImageSizeRequest::percent(100)
                                     : ImageSizeRequest::automatic(),
            ImageSizeRequest::automatic(), true};
}

ImageInsertionPlan planImageInsertion(const Terminal& terminal, const ImageInsertionGeometry& at,
                                      double width, double height, double pixelWidth,
                                      double pixelHeight, const ImageSizeRequests& requests) {
    // A kitty placement's image is as large as its pixels where no size is asked for.
    double naturalWidth = width;
    double naturalHeight = height;
    if (terminal.kittyPlacementContext() && pixelWidth > 0 && pixelHeight > 0) {
        naturalWidth = pixelWidth;
        naturalHeight = pixelHeight;
    }
    const double scale = at.backingScale > 0 ? at.backingScale : 1;
    const auto display = [&](ImageSizeRequest request, double cell, double frame, double natural) {
        switch (request.kind) {
        case ImageSizeRequest::Kind::cells:
            return request.value * cell;
        case ImageSizeRequest::Kind::pixels:
            return double(request.value);
        case ImageSizeRequest::Kind::percent:
            return request.value * 0.01 * frame;
        default:
            return natural / scale;
        }
    };
    ImageInsertionPlan plan;
    plan.displayWidth = display(requests.width, at.cellWidth, at.frameWidth, naturalWidth);
    plan.displayHeight = display(requests.height, at.cellHeight, at.frameHeight, naturalHeight);
    const bool autoWidth = requests.width.kind == ImageSizeRequest::Kind::automatic;
    const bool autoHeight = requests.height.kind == ImageSizeRequest::Kind::automatic;
    if (requests.preserveAspectRatio && width > 0 && height > 0) {
        if (!autoWidth && autoHeight) {
            plan.displayHeight = plan.displayWidth * height / width;
        } else if (autoWidth && !autoHeight) {
            plan.displayWidth = plan.displayHeight * width / height;
        }
    }
    const auto cells = [](double size, double cell) {
        return cell > 0 ? std::max<int64_t>(Saturating::fromDouble(std::ceil(size / cell)), 0) : 0;
    };
    plan.cols = cells(plan.displayWidth, at.cellWidth);
    plan.rows = std::min<int64_t>(cells(plan.displayHeight, at.cellHeight),
                                  terminal.buffer().lines().maxLength());
    return plan;
}

void commitImageInsertion(
    Terminal& terminal, const ImageInsertionPlan& plan,
    FunctionRef<std::shared_ptr<KittyPlacementImage>(int64_t index, int col)> makeSlice) {
    Buffer& buffer = terminal.buffer();
    const std::optional<KittyPlacementContext>& context = terminal.kittyPlacementContext();
    const int64_t startCol = buffer.x();
    const int64_t startRow = int64_t(buffer.y()) + buffer.yBase();
    if (context && context->imageId && context->placementId) {
        KittyPlacementRecord record;
        record.imageId = *context->imageId;
        record.placementId = *context->placementId;
        record.parentImageId = context->parentImageId;
        record.parentPlacementId = context->parentPlacementId;
        record.parentOffsetH = context->parentOffsetH;
        record.parentOffsetV = context->parentOffsetV;
        record.pixelOffsetX = context->pixelOffsetX;
        record.pixelOffsetY = context->pixelOffsetY;
        record.col = startCol;
        record.row = startRow;
        record.cols = plan.cols;
        record.rows = plan.rows;
        record.zIndex = context->zIndex;
        record.isAlternateBuffer = terminal.isCurrentBufferAlternate();
        terminal.kittyGraphicsState().placementsByKey[record.key()] = record;
    }
    bool scrolled = false;
    for (int64_t i = 0; i < plan.rows; ++i) {
        const int col = buffer.x();
        std::shared_ptr<KittyPlacementImage> slice = makeSlice(i, col);
        if (!slice) {
            continue;
        }
        if (context) {
            slice->kittyIsKitty = true;
            slice->kittyImageId = context->imageId;
            slice->kittyImageNumber = context->imageNumber;
            slice->kittyPlacementId = context->placementId;
            slice->kittyZIndex = context->zIndex;
            slice->kittyCol = startCol;
            slice->kittyRow = startRow;
            slice->kittyCols = plan.cols;
            slice->kittyRows = plan.rows;
            slice->kittyPixelOffsetX = context->pixelOffsetX;
            slice->kittyPixelOffsetY = context->pixelOffsetY;
        }
        buffer.attachImage(std::move(slice), int64_t(buffer.y()) + buffer.yBase());
        terminal.updateRange(buffer.y());
        const int yBase = buffer.yBase();
        const int64_t linesTop = buffer.linesTop;
        terminal.cmdLineFeedBasic();
        scrolled = scrolled || buffer.yBase() != yBase || buffer.linesTop != linesTop;
        buffer.setX(col);
    }
    if (scrolled) {
        terminal.updateFullScreen();
    }
    if (context && context->cursorPolicy == 0 && !context->isRelative) {
        const int64_t col = Saturating::add(startCol, std::max<int64_t>(plan.cols, 1));
        const int64_t row = Saturating::add(
            Saturating::add(startRow, std::max<int64_t>(plan.rows, 1)), -int64_t(buffer.yBase()));
        if (col >= 0) {
            buffer.setX(Saturating::toInt(col));
        }
        if (row >= 0) {
            buffer.setY(Saturating::toInt(row));
        }
        terminal.restrictCursor(true);
    }
}

void insertRgbaImage(Terminal& terminal, std::shared_ptr<const RgbaImage> picture,
                     const ImageSizeRequests& requests, CellSize cell) {
    if (!picture || !picture->isValid() || cell.width < 1 || cell.height < 1) {
        return;
    }
    ImageInsertionGeometry at;
    at.cellWidth = cell.width;
    at.cellHeight = cell.height;
    at.frameWidth = double(terminal.cols()) * cell.width;
    at.frameHeight = double(terminal.rows()) * cell.height;
    const ImageInsertionPlan plan = planImageInsertion(
        terminal, at, picture->width, picture->height, picture->width, picture->height, requests);
    if (plan.displayHeight <= 0) {
        return;
    }
    // A slice is no wider than the screen: the rest would be clipped when drawn.
    const int sliceWidth = Saturating::toInt(
        Saturating::fromDouble(std::min(plan.displayWidth, double(terminal.cols()) * cell.width)));
    const double sourceHeight = picture->height / plan.displayHeight * cell.height;
    commitImageInsertion(terminal, plan, [&](int64_t index, int col) {
        return std::make_shared<RgbaImageSlice>(picture, double(index) * sourceHeight, sourceHeight,
                                                sliceWidth, cell.height, col, plan);
    });
}

} // namespace veldatron
