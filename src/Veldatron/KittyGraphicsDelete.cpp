// Kitty deletion: the delete command's selections, and the removal steps that placements,
// screen switches and deletion share.

#include "Terminal.h"

#include <algorithm>
#include <cctype>

namespace veldatron {

namespace {

// A placement's rows or columns: `start` ... `start` + max(`length`, 1) - 1.
bool covers(int64_t start, int64_t length, int64_t at) {
    return at >= start && at - start < std::max<int64_t>(length, 1);
}

bool imageCovers(const KittyPlacementImage& image, int64_t col, int64_t row) {
    return covers(image.kittyCol, image.kittyCols, col) &&
           covers(image.kittyRow, image.kittyRows, row);
}

bool recordCovers(const KittyPlacementRecord& record, int64_t col, int64_t row) {
    return covers(record.col, record.cols, col) && covers(record.row, record.rows, row);
}

} // namespace

// ---- Removal steps --------------------------------------------------------------------------

std::set<KittyPlacementKey>
Terminal::removeKittyPlacements(Buffer& buffer, int64_t firstRow, int64_t endRow,
                                FunctionRef<bool(const KittyPlacementImage&)> predicate) {
    std::set<KittyPlacementKey> keys;
    CircularBufferLineList& lines = buffer.lines();
    const int first = int(std::clamp<int64_t>(firstRow, 0, lines.count()));
    const int end = int(std::clamp<int64_t>(endRow, 0, lines.count()));
    if (!buffer.hasAnyImages()) {
        return keys;
    }
    int firstChanged = -1;
    int lastChanged = -1;
    for (int i = first; i < end; ++i) {
        const BufferLine::Images taken =
            buffer.takeImagesFromLine(i, [&](const std::shared_ptr<TerminalImage>& image) {
                const auto* kitty = dynamic_cast<const KittyPlacementImage*>(image.get());
                return kitty != nullptr && kitty->kittyIsKitty && predicate(*kitty);
            });
        if (taken.empty()) {
            continue;
        }
        for (const std::shared_ptr<TerminalImage>& image : taken) {
            const auto& kitty = static_cast<const KittyPlacementImage&>(*image);
            if (kitty.kittyImageId && kitty.kittyPlacementId) {
                keys.insert({*kitty.kittyImageId, *kitty.kittyPlacementId});
            }
        }
        firstChanged = firstChanged < 0 ? i : firstChanged;
        lastChanged = i;
    }
    if (&buffer == m_buffer && firstChanged >= 0) {
        const int top = firstChanged - buffer.yBase();
        const int bottom = lastChanged - buffer.yBase();
        if (bottom >= 0 && top < m_rows) {
            updateRange(std::max(top, 0));
            updateRange(std::min(bottom, m_rows - 1));
        }
    }
    return keys;
}

std::set<KittyPlacementKey>
Terminal::removePlacementRecords(FunctionRef<bool(const KittyPlacementRecord&)> predicate) {
    std::set<KittyPlacementKey> keys;
    std::erase_if(m_kittyGraphicsState.placementsByKey, [&](const auto& entry) {
        if (!predicate(entry.second)) {
            return false;
        }
        keys.insert(entry.first);
        return true;
    });
    return keys;
}

std::set<KittyPlacementKey>
Terminal::removeKittyPlacementsByKey(const std::set<KittyPlacementKey>& keys) {
    std::set<KittyPlacementKey> found;
    if (keys.empty()) {
        return found;
    }
    const auto inKeys = [&](const KittyPlacementImage& image) {
        return image.kittyImageId && image.kittyPlacementId &&
               keys.count({*image.kittyImageId, *image.kittyPlacementId}) != 0;
    };
    for (Buffer* buffer : {m_normalBuffer.get(), m_altBuffer.get()}) {
        found.merge(removeKittyPlacements(*buffer, 0, buffer->lines().count(), inKeys));
    }
    return found;
}

void Terminal::removeKittyPlacement(uint32_t imageId, uint32_t placementId) {
    const KittyPlacementKey key{imageId, placementId};
    const std::set<KittyPlacementKey> found = removeKittyPlacementsByKey({key});
    for (const KittyPlacementKey& each : found) {
        m_kittyGraphicsState.placementsByKey.erase(each);
    }
    m_kittyGraphicsState.placementsByKey.erase(key);
}

// ---- The delete command ---------------------------------------------------------------------

void Terminal::handleKittyDelete(const KittyGraphicsControl& control) {
    const char mode = control.deleteMode.value_or('a');
    // Characters without case (digits among them) count as upper case.
    const bool upperCase = std::toupper(uint8_t(mode)) == uint8_t(mode);
    const int64_t x = control.cropX;
    const int64_t y = control.cropY;
    switch (std::tolower(uint8_t(mode))) {
    case 'a':
        deletePlacementsVisibleOnScreen();
        break;
    case 'i':
        if (!control.imageId) {
            sendKittyError(control, "EINVAL: missing image id");
            return;
        }
        deletePlacementsByImageId(*control.imageId, control.placementId);
        break;
    case 'n': {
        if (!control.imageNumber) {
            sendKittyError(control, "EINVAL: missing image number");
            return;
        }
        const auto& numbers = m_kittyGraphicsState.imageNumbers;
        if (const auto id = numbers.find(*control.imageNumber); id != numbers.end()) {
            deletePlacementsByImageId(id->second, control.placementId);
        }
        break;
    }
    case 'c':
        deletePlacementsAtCell(int64_t(m_buffer->x()) + 1, int64_t(m_buffer->y()) + 1,
                               std::nullopt);
        break;
    case 'p':
    case 'q':
        if (x < 1 || y < 1) {
            sendKittyError(control, "EINVAL: missing cell position");
            return;
        }
        deletePlacementsAtCell(x, y,
                               std::tolower(uint8_t(mode)) == 'q'
                                   ? std::optional<int64_t>(control.zIndex)
                                   : std::nullopt);
        break;
    case 'x':
        if (x < 1) {
            sendKittyError(control, "EINVAL: missing column");
            return;
        }
        deletePlacementsInColumn(x);
        break;
    case 'y':
        if (y < 1) {
            sendKittyError(control, "EINVAL: missing row");
            return;
        }
        deletePlacementsInRow(y);
        break;
    case 'z':
        deletePlacementsWithZIndex(control.zIndex);
        break;
    case 'r': {
        if (x < 1 || y < 1) {
            sendKittyError(control, "EINVAL: missing id range");
            return;
        }
        // Image ids are 32-bit: a bound beyond them reaches the last id.
        const auto bound = [](int64_t v) {
            return uint32_t(std::min<int64_t>(v, int64_t(UINT32_MAX)));
        };
        deletePlacementsByImageIdRange(bound(std::min(x, y)), bound(std::max(x, y)));
        break;
    }
    default:
        sendKittyError(control, "EINVAL: unsupported delete");
        break;
    }
    if (upperCase) {
        cleanupUnusedKittyImages();
    }
}

void Terminal::deleteKittyPlacements(Buffer* buffer, int64_t firstRow, int64_t endRow,
                                     FunctionRef<bool(const KittyPlacementImage&)> imageTest,
                                     FunctionRef<bool(const KittyPlacementRecord&)> recordTest) {
    std::set<KittyPlacementKey> lineKeys;
    if (buffer != nullptr) {
        lineKeys = removeKittyPlacements(*buffer, firstRow, endRow, imageTest);
    } else {
        for (Buffer* each : {m_normalBuffer.get(), m_altBuffer.get()}) {
            lineKeys.merge(removeKittyPlacements(*each, 0, each->lines().count(), imageTest));
        }
    }
    const std::set<KittyPlacementKey> recordKeys = removePlacementRecords(recordTest);
    std::set<KittyPlacementKey> elsewhere;
    std::set_difference(recordKeys.begin(), recordKeys.end(), lineKeys.begin(), lineKeys.end(),
                        std::inserter(elsewhere, elsewhere.end()));
    removeKittyPlacementsByKey(elsewhere);
}

void Terminal::deletePlacementsVisibleOnScreen() {
    Buffer& buffer = *m_buffer;
    const int64_t top = buffer.yBase();
    const int64_t bottom = top + m_rows - 1;
    deleteKittyPlacements(
        &buffer, top, top + m_rows, [](const KittyPlacementImage&) { return true; },
        [&](const KittyPlacementRecord& record) {
            const int64_t width = std::max<int64_t>(record.cols, 1);
            const int64_t height = std::max<int64_t>(record.rows, 1);
            return record.col <= m_cols - 1 && record.col + width - 1 >= 0 &&
                   record.row <= bottom && record.row + height - 1 >= top;
        });
}

void Terminal::deletePlacementsByImageId(uint32_t imageId, std::optional<uint32_t> placementId) {
    deleteKittyPlacements(
        nullptr, 0, 0,
        [&](const KittyPlacementImage& image) {
            return image.kittyImageId == imageId &&
                   (!placementId || image.kittyPlacementId == placementId);
        },
        [&](const KittyPlacementRecord& record) {
            return record.imageId == imageId &&
                   (!placementId || record.placementId == *placementId);
        });
}

void Terminal::deletePlacementsAtCell(int64_t col, int64_t row, std::optional<int64_t> zIndex) {
    const int64_t cellCol = col - 1;
    const int64_t cellRow = int64_t(m_buffer->yBase()) + row - 1;
    deleteKittyPlacements(
        m_buffer, 0, m_buffer->lines().count(),
        [&](const KittyPlacementImage& image) {
            return imageCovers(image, cellCol, cellRow) &&
                   (!zIndex || image.kittyZIndex == *zIndex);
        },
        [&](const KittyPlacementRecord& record) {
            return recordCovers(record, cellCol, cellRow) && (!zIndex || record.zIndex == *zIndex);
        });
}

void Terminal::deletePlacementsInColumn(int64_t col) {
    deleteKittyPlacements(
        m_buffer, 0, m_buffer->lines().count(),
        [&](const KittyPlacementImage& image) {
            return covers(image.kittyCol, image.kittyCols, col - 1);
        },
        [&](const KittyPlacementRecord& record) {
            return covers(record.col, record.cols, col - 1);
        });
}

void Terminal::deletePlacementsInRow(int64_t row) {
    const int64_t bufferRow = int64_t(m_buffer->yBase()) + row - 1;
    deleteKittyPlacements(
        m_buffer, 0, m_buffer->lines().count(),
        [&](const KittyPlacementImage& image) {
            return covers(image.kittyRow, image.kittyRows, bufferRow);
        },
        [&](const KittyPlacementRecord& record) {
            return covers(record.row, record.rows, bufferRow);
        });
}

void Terminal::deletePlacementsWithZIndex(int64_t zIndex) {
    deleteKittyPlacements(
        nullptr, 0, 0,
        [&](const KittyPlacementImage& image) { return image.kittyZIndex == zIndex; },
        [&](const KittyPlacementRecord& record) { return record.zIndex == zIndex; });
}

void Terminal::deletePlacementsByImageIdRange(uint32_t minId, uint32_t maxId) {
    deleteKittyPlacements(
        nullptr, 0, 0,
        [&](const KittyPlacementImage& image) {
            return image.kittyImageId && *image.kittyImageId >= minId &&
                   *image.kittyImageId <= maxId;
        },
        [&](const KittyPlacementRecord& record) {
            return record.imageId >= minId && record.imageId <= maxId;
        });
}

} // namespace veldatron
