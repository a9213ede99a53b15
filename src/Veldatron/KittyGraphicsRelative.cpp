// Relative kitty placements: where a placement is now, the origin of a placement made relative
// to a parent, and children following their parents when the screen scrolls.

#include "Terminal.h"

#include "Saturating.h"

#include <algorithm>
#include <climits>

namespace veldatron {

namespace {

const KittyPlacementImage* kittySlice(const std::shared_ptr<TerminalImage>& image) {
    const auto* kitty = dynamic_cast<const KittyPlacementImage*>(image.get());
    return kitty != nullptr && kitty->kittyIsKitty && kitty->kittyImageId && kitty->kittyPlacementId
               ? kitty
               : nullptr;
}

} // namespace

Terminal::KittyPositions Terminal::collectKittyPlacementPositions(Buffer& buffer) {
    KittyPositions positions;
    buffer.forEachImage([&](int index, const std::shared_ptr<TerminalImage>& image) {
        if (const KittyPlacementImage* kitty = kittySlice(image)) {
            positions.emplace(KittyPlacementKey{*kitty->kittyImageId, *kitty->kittyPlacementId},
                              KittyCell{index, kitty->col()});
        }
    });
    return positions;
}

std::optional<Terminal::KittyCell>
Terminal::resolveKittyPlacementPosition(const KittyPlacementKey& key,
                                        const KittyPositions& positions, KittyPositions& resolved,
                                        std::set<KittyPlacementKey>& visiting) {
    if (const auto known = resolved.find(key); known != resolved.end()) {
        return known->second;
    }
    const auto& records = m_kittyGraphicsState.placementsByKey;
    const auto record = records.find(key);
    // A missing record, one of the other screen, or a parent cycle.
    if (record == records.end() || record->second.isAlternateBuffer != isCurrentBufferAlternate() ||
        visiting.count(key) != 0) {
        return std::nullopt;
    }
    visiting.insert(key);
    KittyCell position{record->second.row, record->second.col};
    if (!record->second.isVirtual) {
        if (const auto slices = positions.find(key); slices != positions.end()) {
            position = slices->second;
        }
    }
    if (record->second.hasParent()) {
        const std::optional<KittyCell> parent = resolveKittyPlacementPosition(
            {*record->second.parentImageId, *record->second.parentPlacementId}, positions, resolved,
            visiting);
        if (!parent) {
            visiting.erase(key);
            return std::nullopt;
        }
        position = {Saturating::add(parent->row, record->second.parentOffsetV),
                    Saturating::add(parent->col, record->second.parentOffsetH)};
    }
    visiting.erase(key);
    resolved[key] = position;
    return position;
}

Terminal::KittyPlacementOrigin
Terminal::resolveKittyPlacementOrigin(const KittyGraphicsControl& control) {
    if (!control.parentImageId || !control.parentPlacementId) {
        return {};
    }
    const KittyPlacementKey parentKey{*control.parentImageId, *control.parentPlacementId};
    const auto& records = m_kittyGraphicsState.placementsByKey;
    const auto parent = records.find(parentKey);
    if (parent == records.end()) {
        return {std::nullopt, std::nullopt, true, "ENOPARENT: parent placement not found"};
    }
    if (parent->second.isAlternateBuffer != isCurrentBufferAlternate()) {
        return {std::nullopt, std::nullopt, true,
                "ENOPARENT: parent placement not in current buffer"};
    }
    const KittyPositions positions = collectKittyPlacementPositions(*m_buffer);
    KittyPositions resolved;
    std::set<KittyPlacementKey> visiting;
    const std::optional<KittyCell> position =
        resolveKittyPlacementPosition(parentKey, positions, resolved, visiting);
    if (!position) {
        return {std::nullopt, std::nullopt, true, "ENOPARENT: parent placement not found"};
    }
    return {Saturating::add(position->col, control.offsetH),
            Saturating::add(position->row, control.offsetV), true, std::nullopt};
}

void Terminal::updateKittyRelativePlacementsForCurrentBuffer() {
    Buffer& buffer = *m_buffer;
    const bool alternate = isCurrentBufferAlternate();
    auto& records = m_kittyGraphicsState.placementsByKey;
    const KittyPositions positions = collectKittyPlacementPositions(buffer);
    for (auto& [key, record] : records) {
        if (record.isAlternateBuffer != alternate || record.isVirtual) {
            continue;
        }
        if (const auto slices = positions.find(key); slices != positions.end()) {
            record.row = slices->second.row;
            record.col = slices->second.col;
        }
    }
    KittyPositions resolved;
    std::set<KittyPlacementKey> visiting;
    for (auto& [key, record] : records) {
        if (record.isAlternateBuffer != alternate || !record.hasParent()) {
            continue;
        }
        const std::optional<KittyCell> target =
            resolveKittyPlacementPosition(key, positions, resolved, visiting);
        if (!target) {
            continue; // a missing parent, one on the other screen, or a cycle
        }
        KittyCell current{record.row, record.col};
        if (const auto slices = positions.find(key); slices != positions.end()) {
            current = slices->second;
        }
        if (*target != current) {
            moveKittyPlacementImages(buffer, key, Saturating::add(target->row, -current.row),
                                     target->row, target->col);
        }
        record.row = target->row;
        record.col = target->col;
    }
}

void Terminal::moveKittyPlacementImages(Buffer& buffer, const KittyPlacementKey& key,
                                        int64_t deltaRow, int64_t newTopRow, int64_t newLeftCol) {
    CircularBufferLineList& lines = buffer.lines();
    std::vector<std::pair<int64_t, std::shared_ptr<TerminalImage>>> taken;
    for (int i = 0; i < lines.count(); ++i) {
        for (std::shared_ptr<TerminalImage>& image :
             buffer.takeImagesFromLine(i, [&](const std::shared_ptr<TerminalImage>& image) {
                 const KittyPlacementImage* kitty = kittySlice(image);
                 return kitty != nullptr && *kitty->kittyImageId == key.imageId &&
                        *kitty->kittyPlacementId == key.placementId;
             })) {
            taken.emplace_back(Saturating::add(i, deltaRow), std::move(image));
        }
    }
    for (auto& [target, image] : taken) {
        if (target < 0 || target >= lines.count()) {
            continue;
        }
        auto& kitty = static_cast<KittyPlacementImage&>(*image);
        kitty.setCol(Saturating::toInt(newLeftCol));
        kitty.kittyCol = newLeftCol;
        kitty.kittyRow = newTopRow;
        buffer.attachImage(std::move(image), target);
    }
}

} // namespace veldatron
