#pragma once

#include "KittyGraphicsControl.h"
#include "KittyGraphicsPayload.h"
#include "TerminalDelegate.h"

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace veldatron {

// A stored image: its payload (never changed after storing), what it costs the store and the
// tick of its last store or put.
struct KittyGraphicsImage {
    KittyGraphicsPayload payload;
    int64_t byteSize = 0;
    uint64_t lastAccessTick = 0;
};

// A placement: an image id and a placement id.
struct KittyPlacementKey {
    uint32_t imageId = 0;
    uint32_t placementId = 0;

    friend auto operator<=>(const KittyPlacementKey&, const KittyPlacementKey&) = default;
};

// What is known of a placement with a placement id: where it is, how large, and for a relative
// placement its parent. Rows are ring indexes of the screen it was made on.
struct KittyPlacementRecord {
    uint32_t imageId = 0;
    uint32_t placementId = 0;
    std::optional<uint32_t> parentImageId;
    std::optional<uint32_t> parentPlacementId;
    int64_t parentOffsetH = 0;
    int64_t parentOffsetV = 0;
    int64_t pixelOffsetX = 0;
    int64_t pixelOffsetY = 0;
    int64_t col = 0;
    int64_t row = 0;
    int64_t cols = 0;
    int64_t rows = 0;
    int64_t zIndex = 0;
    bool isVirtual = false;
    bool isAlternateBuffer = false;

    KittyPlacementKey key() const { return {imageId, placementId}; }
    bool hasParent() const { return parentImageId && parentPlacementId; }
    friend bool operator==(const KittyPlacementRecord&, const KittyPlacementRecord&) = default;
};

// A chunked transmission in progress: the first chunk's control block governs it; the payload
// bytes of every chunk are joined, still base64. Past the size a whole payload can have in base64
// nothing more is kept, and the transmission fails when it completes.
struct KittyGraphicsPending {
    KittyGraphicsControl control;
    std::vector<uint8_t> base64Payload;
    bool overflowed = false;
};

// The placement the terminal hands to its host while the host inserts the image of a real
// placement; the host tags the slices with it and writes the record.
struct KittyPlacementContext {
    std::optional<uint32_t> imageId;
    std::optional<uint32_t> imageNumber;
    std::optional<uint32_t> placementId;
    std::optional<uint32_t> parentImageId;
    std::optional<uint32_t> parentPlacementId;
    int64_t parentOffsetH = 0;
    int64_t parentOffsetV = 0;
    int64_t zIndex = 0;
    ImageSizeRequest widthRequest;
    ImageSizeRequest heightRequest;
    bool preserveAspectRatio = true;
    int64_t cursorPolicy = 0;
    bool isRelative = false;
    int64_t pixelOffsetX = 0;
    int64_t pixelOffsetY = 0;
};

// The kitty image store of one terminal, shared by its two screens: the images by id, image
// numbers, placement records, the counters that hand out ids and access ticks, and the byte total
// the budget is kept with. Ordered maps, so that every walk (eviction, deletion) is the same on
// every run. The terminal owns it for its whole life; a reset empties it. Read by the renderers
// (placeholder cells draw from `imagesById`).
struct KittyGraphicsState {
    std::map<uint32_t, KittyGraphicsImage> imagesById;
    std::map<uint32_t, uint32_t> imageNumbers; // number -> image id
    uint32_t nextImageId = 1;
    uint32_t nextPlacementId = 1;
    std::optional<KittyGraphicsPending> pending;
    std::map<KittyPlacementKey, KittyPlacementRecord> placementsByKey;
    int64_t totalImageBytes = 0; // the sum of byteSize over imagesById
    uint64_t nextImageAccessTick = 1;
    // Most base64 a chunked transmission gathers: that of the largest payload.
    int64_t maxPendingBytes = KittyGraphicsLimits::maxPendingBase64Bytes;
};

} // namespace veldatron
