// The kitty image store: storing, access ticks, the byte budget and its eviction order, freeing
// images nothing uses, and what resets and screen switches remove.

#include "Terminal.h"

#include <algorithm>
#include <vector>

namespace veldatron {

namespace {

constexpr int64_t maxCacheLimit = int64_t(1) << 32;

void subtractClamped(int64_t& total, int64_t amount) {
    total = std::max<int64_t>(total - amount, 0);
}

} // namespace

void Terminal::storeKittyImage(const KittyGraphicsPayload& payload, uint32_t imageId,
                               std::optional<uint32_t> imageNumber) {
    KittyGraphicsState& state = m_kittyGraphicsState;
    const int64_t byteSize = payload.byteSize();
    const uint64_t tick = state.nextImageAccessTick++;
    if (const auto old = state.imagesById.find(imageId); old != state.imagesById.end()) {
        subtractClamped(state.totalImageBytes, old->second.byteSize);
    }
    state.imagesById.insert_or_assign(imageId, KittyGraphicsImage{payload, byteSize, tick});
    state.totalImageBytes += byteSize;
    if (imageNumber) {
        state.imageNumbers[*imageNumber] = imageId;
    }
    enforceKittyImageCacheLimit();
}

const KittyGraphicsImage* Terminal::updateKittyImageAccess(uint32_t imageId) {
    KittyGraphicsState& state = m_kittyGraphicsState;
    const auto image = state.imagesById.find(imageId);
    if (image == state.imagesById.end()) {
        return nullptr;
    }
    image->second.lastAccessTick = state.nextImageAccessTick++;
    return &image->second;
}

void Terminal::enforceKittyImageCacheLimit() {
    KittyGraphicsState& state = m_kittyGraphicsState;
    const int64_t limit =
        std::clamp<int64_t>(m_options.kittyImageCacheLimitBytes, 0, maxCacheLimit);
    if (state.totalImageBytes <= limit) {
        return;
    }
    const std::set<uint32_t> used = collectUsedKittyImageIds();
    // Oldest first; ticks are unique, so the order is total.
    const auto byAge = [&](bool unusedOnly) {
        std::vector<std::pair<uint64_t, uint32_t>> order;
        for (const auto& [id, image] : state.imagesById) {
            if (!unusedOnly || used.count(id) == 0) {
                order.emplace_back(image.lastAccessTick, id);
            }
        }
        std::sort(order.begin(), order.end());
        return order;
    };
    const auto evict = [&](uint32_t id) {
        const auto image = state.imagesById.find(id);
        subtractClamped(state.totalImageBytes, image->second.byteSize);
        state.imagesById.erase(image);
        removeKittyImageNumbers(id);
    };
    for (const bool unusedOnly : {true, false}) {
        for (const auto& [tick, id] : byAge(unusedOnly)) {
            if (state.totalImageBytes <= limit) {
                return;
            }
            evict(id);
        }
    }
}

std::set<uint32_t> Terminal::collectUsedKittyImageIds() {
    std::set<uint32_t> used;
    collectUsedKittyImageIds(*m_normalBuffer, used);
    collectUsedKittyImageIds(*m_altBuffer, used);
    for (const auto& [key, record] : m_kittyGraphicsState.placementsByKey) {
        used.insert(record.imageId);
    }
    return used;
}

void Terminal::collectUsedKittyImageIds(Buffer& buffer, std::set<uint32_t>& into) {
    buffer.forEachImage([&](int, const std::shared_ptr<TerminalImage>& image) {
        if (const auto* kitty = dynamic_cast<const KittyPlacementImage*>(image.get())) {
            if (kitty->kittyImageId) {
                into.insert(*kitty->kittyImageId);
            }
        }
    });
}

void Terminal::cleanupUnusedKittyImages() {
    KittyGraphicsState& state = m_kittyGraphicsState;
    const std::set<uint32_t> used = collectUsedKittyImageIds();
    for (auto image = state.imagesById.begin(); image != state.imagesById.end();) {
        if (used.count(image->first) != 0) {
            ++image;
            continue;
        }
        const uint32_t id = image->first;
        subtractClamped(state.totalImageBytes, image->second.byteSize);
        image = state.imagesById.erase(image);
        removeKittyImageNumbers(id);
    }
}

void Terminal::removeKittyImageNumbers(uint32_t imageId) {
    std::erase_if(m_kittyGraphicsState.imageNumbers,
                  [&](const auto& entry) { return entry.second == imageId; });
}

void Terminal::clearAllKittyImages() {
    // Every image of the rows goes, kitty or not; the normal screen keeps its images when the
    // reset or erase happens on the alternate one.
    for (Buffer* buffer : {m_buffer, m_altBuffer.get()}) {
        if (!buffer->hasAnyImages()) {
            continue;
        }
        CircularBufferLineList& lines = buffer->lines();
        for (int i = 0; i < lines.count(); ++i) {
            const BufferLine* line = lines.peek(i);
            if (line != nullptr && line->hasImages()) {
                buffer->clearImagesFromLine(i);
            }
        }
    }
    KittyGraphicsState& state = m_kittyGraphicsState;
    state.imagesById.clear();
    state.imageNumbers.clear();
    state.placementsByKey.clear();
    state.nextImageAccessTick = 1;
    state.totalImageBytes = 0;
    updateRange(m_buffer->scrollTop());
    updateRange(m_buffer->scrollBottom());
}

void Terminal::clearKittyImages(Buffer& buffer, bool isAlternateBuffer) {
    const std::set<KittyPlacementKey> lineKeys = removeKittyPlacements(
        buffer, 0, buffer.lines().count(), [](const KittyPlacementImage&) { return true; });
    const std::set<KittyPlacementKey> recordKeys =
        removePlacementRecords([&](const KittyPlacementRecord& record) {
            return record.isAlternateBuffer == isAlternateBuffer;
        });
    std::set<KittyPlacementKey> elsewhere;
    std::set_difference(recordKeys.begin(), recordKeys.end(), lineKeys.begin(), lineKeys.end(),
                        std::inserter(elsewhere, elsewhere.end()));
    removeKittyPlacementsByKey(elsewhere);
    cleanupUnusedKittyImages();
}

} // namespace veldatron
