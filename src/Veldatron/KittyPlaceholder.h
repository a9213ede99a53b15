#pragma once

#include "Attribute.h"
#include "KittyPlaceholderDiacritics.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace veldatron {

// The Unicode placeholder of kitty graphics: a cell holding U+10EEEE, followed by combining
// diacritics that number the image row, column and the high byte of the image id, shows a piece
// of an image of a virtual placement. The foreground colour carries the image id, the underline
// colour the placement id.
namespace KittyPlaceholder {
inline constexpr char32_t placeholder = 0x10EEEE;
inline constexpr auto& diacritics = kittyPlaceholderDiacritics;
// The number a diacritic stands for, or none for a character outside the table.
std::optional<int64_t> diacriticIndex(char32_t scalar);
} // namespace KittyPlaceholder

// One decoded placeholder cell.
struct KittyPlaceholderCell {
    int64_t row = 0; // the cell's own row and column, as passed in
    int64_t col = 0;
    uint32_t imageId = 0;
    uint32_t placementId = 0;   // 0 without an underline colour
    int64_t placeholderRow = 0; // the image cell this cell shows
    int64_t placeholderCol = 0;
    int64_t msb = 0; // the third diacritic's number (or carried over), not capped

    friend bool operator==(const KittyPlaceholderCell&, const KittyPlaceholderCell&) = default;
};

// Decodes the cells of a row from left to right: a cell without (all) diacritics continues the
// cell to its left when that one is its direct neighbour with the same foreground and underline
// colours. Pure; the renderers call it for every placeholder cell they lay out.
struct KittyPlaceholderDecoder {
    static std::optional<KittyPlaceholderCell>
    decode(std::u32string_view character, const Attribute& attribute, int64_t row, int64_t col,
           const std::optional<KittyPlaceholderCell>& previous,
           const std::optional<Attribute>& previousAttribute);
};

} // namespace veldatron
