// Kitty placements: virtual records for Unicode placeholders, and real placements handed to the
// host with their crop, pixel offsets and the cursor movement after the display.

#include "Terminal.h"

#include "Saturating.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace veldatron {

namespace {

// The crop rectangle of x, y, w, h applied to an image: none with the error text to send.
struct Crop {
    std::optional<RgbaImage> image;
    std::string_view error;
};

Crop crop(const KittyGraphicsPayload& payload, const KittyGraphicsControl& control) {
    std::optional<RgbaImage> decoded;
    const RgbaImage* source = payload.rgbaImage();
    if (source == nullptr) {
        decoded = decodePngToRgba(*payload.pngData());
        if (!decoded) {
            return {std::nullopt, "ENOTSUP: cannot crop png"};
        }
        source = &*decoded;
    }
    const int64_t width = source->width;
    const int64_t height = source->height;
    const int64_t x0 = std::max<int64_t>(std::min(control.cropX, width), 0);
    const int64_t y0 = std::max<int64_t>(std::min(control.cropY, height), 0);
    const int64_t cropWidth =
        control.cropWidth < 1 || control.cropWidth > width - x0 ? width - x0 : control.cropWidth;
    const int64_t cropHeight = control.cropHeight < 1 || control.cropHeight > height - y0
                                   ? height - y0
                                   : control.cropHeight;
    if (control.cropX <= 0 && control.cropY <= 0 && cropWidth == width && cropHeight == height) {
        return {decoded ? std::move(decoded) : *source, {}};
    }
    if (cropWidth < 1 || cropHeight < 1) {
        return {std::nullopt, "EINVAL: bad crop"};
    }
    RgbaImage out{int(cropWidth), int(cropHeight), {}};
    out.bytes.reserve(out.byteCount());
    for (int64_t i = 0; i < cropHeight; ++i) {
        const auto start = source->bytes.begin() + std::ptrdiff_t(((y0 + i) * width + x0) * 4);
        out.bytes.insert(out.bytes.end(), start, start + std::ptrdiff_t(cropWidth * 4));
    }
    return {std::move(out), {}};
}

} // namespace

std::optional<CellSize> Terminal::kittyCellSize() {
    const auto size = ask([&](TerminalDelegate& d) { return d.cellSizeInPixels(*this); });
    if (!size || !*size || (*size)->width < 1 || (*size)->height < 1) {
        return std::nullopt;
    }
    return **size;
}

bool Terminal::displayKittyImage(const KittyGraphicsPayload& payload,
                                 const KittyGraphicsControl& control,
                                 std::optional<uint32_t> imageId,
                                 std::optional<uint32_t> imageNumber) {
    Buffer& buffer = *m_buffer;
    KittyGraphicsState& state = m_kittyGraphicsState;

    const auto pixelOffsets = [&]() -> std::pair<int64_t, int64_t> {
        if (control.pixelOffsetX <= 0 && control.pixelOffsetY <= 0) {
            return {0, 0};
        }
        int64_t x = std::max<int64_t>(control.pixelOffsetX, 0);
        int64_t y = std::max<int64_t>(control.pixelOffsetY, 0);
        if (const auto cell = kittyCellSize()) {
            x = std::min<int64_t>(x, std::max(cell->width - 1, 0));
            y = std::min<int64_t>(y, std::max(cell->height - 1, 0));
        }
        return {x, y};
    };

    if (control.unicodePlaceholder == 1) {
        if (control.parentImageId || control.parentPlacementId) {
            sendKittyError(control, "EINVAL: virtual placement cannot refer to parent");
            return false;
        }
        if (!imageId) {
            return true;
        }
        uint32_t placementId = 0;
        if (control.placementId) {
            placementId = *control.placementId;
        } else {
            // Placement id 0 is never handed out.
            placementId = std::max<uint32_t>(state.nextPlacementId, 1);
            state.nextPlacementId = placementId + 1;
        }
        removeKittyPlacement(*imageId, placementId);
        const auto [offsetX, offsetY] = pixelOffsets();
        KittyPlacementRecord record;
        record.imageId = *imageId;
        record.placementId = placementId;
        record.pixelOffsetX = offsetX;
        record.pixelOffsetY = offsetY;
        record.col = buffer.x();
        record.row = int64_t(buffer.y()) + buffer.yBase();
        record.cols = std::max<int64_t>(control.columns, 0);
        record.rows = std::max<int64_t>(control.rows, 0);
        record.zIndex = control.zIndex;
        record.isVirtual = true;
        record.isAlternateBuffer = isCurrentBufferAlternate();
        state.placementsByKey[record.key()] = record;
        return true;
    }

    const int64_t c = control.columns;
    const int64_t r = control.rows;
    const ImageSizeRequest widthRequest =
        c >= 1 ? ImageSizeRequest::cells(Saturating::toInt(c)) : ImageSizeRequest::automatic();
    const ImageSizeRequest heightRequest =
        r >= 1 ? ImageSizeRequest::cells(Saturating::toInt(r)) : ImageSizeRequest::automatic();
    const bool preserveAspectRatio = !(c != 0 && r != 0);

    const KittyPlacementOrigin origin = resolveKittyPlacementOrigin(control);
    if (origin.errorMessage) {
        sendKittyError(control, *origin.errorMessage);
        return false;
    }

    std::optional<KittyGraphicsPayload> cropped;
    if (control.cropX != 0 || control.cropY != 0 || control.cropWidth != 0 ||
        control.cropHeight != 0) {
        Crop result = crop(payload, control);
        if (!result.image) {
            sendKittyError(control, result.error);
            return false;
        }
        cropped = KittyGraphicsPayload::rgba(std::move(*result.image));
    }
    const KittyGraphicsPayload& shown = cropped ? *cropped : payload;
    const auto [offsetX, offsetY] = pixelOffsets();

    // The host reads the context while it inserts the image; it never outlives this call.
    struct ContextGuard {
        std::optional<KittyPlacementContext>& context;
        ~ContextGuard() { context.reset(); }
    } guard{m_kittyPlacementContext};
    KittyPlacementContext& context = m_kittyPlacementContext.emplace();
    context.imageId = imageId ? imageId : control.imageId;
    context.imageNumber = imageNumber ? imageNumber : control.imageNumber;
    context.placementId = control.placementId;
    context.parentImageId = control.parentImageId;
    context.parentPlacementId = control.parentPlacementId;
    context.parentOffsetH = control.offsetH;
    context.parentOffsetV = control.offsetV;
    context.zIndex = control.zIndex;
    context.widthRequest = widthRequest;
    context.heightRequest = heightRequest;
    context.preserveAspectRatio = preserveAspectRatio;
    context.cursorPolicy = control.cursorPolicy;
    context.isRelative = origin.isRelative;
    context.pixelOffsetX = offsetX;
    context.pixelOffsetY = offsetY;

    const int savedX = buffer.x();
    const int savedY = buffer.y();
    if (imageId && control.placementId) {
        removeKittyPlacement(*imageId, *control.placementId);
    }
    if (origin.row && origin.col) {
        // The cursor must stay on the screen: a position beyond its last row is out of range
        // like one above the buffer.
        const int64_t screenRow = *origin.row - buffer.yBase();
        if (screenRow < 0 || screenRow >= buffer.lines().count() || screenRow >= m_rows) {
            sendKittyError(control, "EINVAL: placement out of range");
            return false;
        }
        buffer.setY(int(screenRow));
        buffer.setX(int(std::clamp<int64_t>(*origin.col, 0, m_cols - 1)));
    }
    const int64_t left = buffer.x();
    const int64_t top = int64_t(buffer.y()) + buffer.yBase();

    if (const RgbaImage* image = shown.rgbaImage()) {
        std::vector<uint8_t> bytes = image->bytes;
        tell([&](TerminalDelegate& d) {
            d.createImageFromBitmap(*this, bytes, image->width, image->height);
        });
    } else {
        tell([&](TerminalDelegate& d) {
            d.createImage(*this, *shown.pngData(), widthRequest, heightRequest,
                          preserveAspectRatio);
        });
    }

    // The cursor after the display.
    if (origin.isRelative || control.cursorPolicy == 1) {
        buffer.setX(savedX);
        buffer.setY(savedY);
        return true;
    }
    int64_t cols = 0;
    int64_t rows = 0;
    const std::optional<CellSize> cell = kittyCellSize();
    if (c >= 1 && r >= 1) {
        cols = c;
        rows = r;
    } else if (cell) {
        std::optional<PixelSize> size;
        if (const RgbaImage* image = shown.rgbaImage()) {
            size = PixelSize{image->width, image->height};
        } else {
            size = kittyPngPixelSize(*shown.pngData());
        }
        if (!size || size->width < 1 || size->height < 1) {
            return true;
        }
        const double width = double(size->width);
        const double height = double(size->height);
        double pw = c >= 1 ? double(c) * cell->width : width;
        double ph = r >= 1 ? double(r) * cell->height : height;
        if (preserveAspectRatio) {
            const double aspect = width / height;
            if (c < 1 && r >= 1) {
                pw = aspect * ph;
            } else if (c >= 1 && r < 1) {
                ph = pw / aspect;
            }
        }
        cols = std::max<int64_t>(
            1, Saturating::fromDouble(std::ceil((pw + double(offsetX)) / cell->width)));
        rows = std::max<int64_t>(
            1, Saturating::fromDouble(std::ceil((ph + double(offsetY)) / cell->height)));
    } else {
        return true;
    }

    const int64_t column = Saturating::add(left, cols);
    if (kittyCellSize()) {
        const int64_t row = Saturating::add(Saturating::add(top, rows), -int64_t(buffer.yBase()));
        buffer.setX(int(std::clamp<int64_t>(column, 0, INT_MAX)));
        buffer.setY(int(std::clamp<int64_t>(row, 0, INT_MAX)));
    } else {
        const int64_t screenTop = top - buffer.yBase();
        if (screenTop >= 0) {
            buffer.setY(int(std::min<int64_t>(screenTop, m_rows - 1)));
        }
        buffer.setX(int(left));
        // Beyond what the ring keeps, further line feeds only scroll blank rows through it.
        const int64_t steps = std::min<int64_t>(rows, int64_t(buffer.lines().maxLength()) + 1);
        for (int64_t i = 0; i < steps; ++i) {
            cmdIndex();
        }
        buffer.setX(int(std::clamp<int64_t>(column, 0, INT_MAX)));
    }
    restrictCursor(true);
    return true;
}

} // namespace veldatron
