#include "KittyPlaceholder.h"

#include <algorithm>
#include <array>

namespace veldatron {

std::optional<int64_t> KittyPlaceholder::diacriticIndex(char32_t scalar) {
    const auto found = std::lower_bound(diacritics.begin(), diacritics.end(), scalar);
    if (found == diacritics.end() || *found != scalar) {
        return std::nullopt;
    }
    return int64_t(found - diacritics.begin());
}

namespace {

// The low 24 bits of an id from a colour: a palette index, a true colour's channels, or 0.
uint32_t idFromColor(Attribute::Color color) {
    switch (color.kind()) {
    case Attribute::Color::Kind::ansi256:
        return color.code();
    case Attribute::Color::Kind::trueColor:
        return uint32_t(color.red()) << 16 | uint32_t(color.green()) << 8 | color.blue();
    default:
        return 0;
    }
}

} // namespace

std::optional<KittyPlaceholderCell>
KittyPlaceholderDecoder::decode(std::u32string_view character, const Attribute& attribute,
                                int64_t row, int64_t col,
                                const std::optional<KittyPlaceholderCell>& previous,
                                const std::optional<Attribute>& previousAttribute) {
    if (character.empty() || character[0] != KittyPlaceholder::placeholder) {
        return std::nullopt;
    }
    std::array<int64_t, 3> numbers{};
    size_t n = 0;
    for (const char32_t scalar : character.substr(1)) {
        if (const auto number = KittyPlaceholder::diacriticIndex(scalar)) {
            if (n < numbers.size()) {
                numbers[n] = *number;
            }
            ++n;
        }
    }
    const bool continues = previous && previousAttribute && previous->row == row &&
                           previous->col == col - 1 && previousAttribute->fg() == attribute.fg() &&
                           previousAttribute->underlineColor() == attribute.underlineColor();

    KittyPlaceholderCell cell;
    cell.row = row;
    cell.col = col;
    if (n == 0) {
        if (continues) {
            cell.placeholderRow = previous->placeholderRow;
            cell.placeholderCol = previous->placeholderCol + 1;
            cell.msb = previous->msb;
        }
    } else if (n == 1) {
        cell.placeholderRow = numbers[0];
        if (continues && previous->placeholderRow == numbers[0]) {
            cell.placeholderCol = previous->placeholderCol + 1;
            cell.msb = previous->msb;
        }
    } else if (n == 2) {
        cell.placeholderRow = numbers[0];
        cell.placeholderCol = numbers[1];
        if (continues && previous->placeholderRow == numbers[0] &&
            previous->placeholderCol + 1 == numbers[1]) {
            cell.msb = previous->msb;
        }
    } else {
        cell.placeholderRow = numbers[0];
        cell.placeholderCol = numbers[1];
        cell.msb = numbers[2];
    }
    cell.imageId = uint32_t(std::min<int64_t>(cell.msb, 255)) << 24 | idFromColor(attribute.fg());
    const std::optional<Attribute::Color> underline = attribute.underlineColor();
    cell.placementId = underline ? idFromColor(*underline) : 0;
    return cell;
}

} // namespace veldatron
