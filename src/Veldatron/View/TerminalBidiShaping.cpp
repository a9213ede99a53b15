#include "TerminalBidi.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>

namespace veldatron {

namespace {

constexpr char32_t zeroWidthNonJoiner = 0x200C;
constexpr char32_t lam = 0x0644;

struct LamAlef {
    char32_t alef;
    char32_t iso;
    char32_t fin;
};

constexpr std::array<LamAlef, 4> lamAlefs = {{
    {0x0622, 0xFEF5, 0xFEF6},
    {0x0623, 0xFEF7, 0xFEF8},
    {0x0625, 0xFEF9, 0xFEFA},
    {0x0627, 0xFEFB, 0xFEFC},
}};

// Corners, tees and ends of box drawing and their left-right mirrors, each pair in both
// directions, sorted.
constexpr auto boxMirrors = [] {
    constexpr std::pair<char32_t, char32_t> pairs[] = {
        {0x250C, 0x2510}, {0x2514, 0x2518}, {0x251C, 0x2524}, {0x250F, 0x2513}, {0x2517, 0x251B},
        {0x2523, 0x252B}, {0x2554, 0x2557}, {0x255A, 0x255D}, {0x2560, 0x2563}, {0x256D, 0x256E},
        {0x2570, 0x256F}, {0x2552, 0x2555}, {0x2558, 0x255B}, {0x2553, 0x2556}, {0x2559, 0x255C},
        {0x255E, 0x2561}, {0x255F, 0x2562}, {0x2574, 0x2576}, {0x2578, 0x257A},
    };
    std::array<std::pair<char32_t, char32_t>, 2 * std::size(pairs)> both{};
    size_t i = 0;
    for (const auto& [a, b] : pairs) {
        both[i++] = {a, b};
        both[i++] = {b, a};
    }
    std::sort(both.begin(), both.end());
    return both;
}();

char32_t letterOf(const TerminalBidi::Cell& cell) {
    return cell.text.empty() ? U' ' : cell.text.front();
}

// The form followed by the marks (every scalar after the first) of the given cells.
std::u32string withMarks(char32_t form, std::initializer_list<const TerminalBidi::Cell*> cells) {
    std::u32string out(1, form);
    for (const TerminalBidi::Cell* cell : cells) {
        if (cell->text.size() > 1) {
            out.append(cell->text, 1);
        }
    }
    return out;
}

} // namespace

TerminalBidi::Joining TerminalBidi::joiningType(char32_t scalar) {
    const auto& ranges = ucd::joiningRanges;
    const auto found =
        std::upper_bound(ranges.begin(), ranges.end(), scalar,
                         [](char32_t s, const ucd::JoiningRange& range) { return s < range.lo; });
    if (found != ranges.begin() && scalar <= std::prev(found)->hi) {
        return std::prev(found)->type;
    }
    const int8_t category = u_charType(UChar32(scalar));
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK ||
        category == U_FORMAT_CHAR) {
        return Joining::transparent;
    }
    return Joining::none;
}

const ucd::ArabicForms* TerminalBidi::forms(char32_t letter) {
    const auto& table = ucd::arabicForms;
    const auto found =
        std::lower_bound(table.begin(), table.end(), letter,
                         [](const ucd::ArabicForms& row, char32_t s) { return row.letter < s; });
    return found != table.end() && found->letter == letter ? &*found : nullptr;
}

std::optional<std::pair<char32_t, char32_t>> TerminalBidi::lamAlef(char32_t alef) {
    for (const LamAlef& entry : lamAlefs) {
        if (entry.alef == alef) {
            return std::pair(entry.iso, entry.fin);
        }
    }
    return std::nullopt;
}

std::optional<char32_t> TerminalBidi::mirror(char32_t scalar) {
    const auto& table = ucd::mirrorPairs;
    const auto found =
        std::lower_bound(table.begin(), table.end(), scalar,
                         [](const ucd::MirrorPair& pair, char32_t s) { return pair.from < s; });
    if (found == table.end() || found->from != scalar) {
        return std::nullopt;
    }
    return char32_t(found->to);
}

std::optional<char32_t> TerminalBidi::boxMirror(char32_t scalar) {
    const auto found = std::lower_bound(
        boxMirrors.begin(), boxMirrors.end(), scalar,
        [](const std::pair<char32_t, char32_t>& pair, char32_t s) { return pair.first < s; });
    if (found == boxMirrors.end() || found->first != scalar) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::optional<std::u32string>> TerminalBidi::shapeArabic(std::span<const Cell> cells) {
    const size_t n = cells.size();
    std::vector<std::optional<std::u32string>> shaped(n);
    std::vector<Joining> types(n);
    bool anyJoining = false;
    for (size_t i = 0; i < n; ++i) {
        types[i] = joiningType(letterOf(cells[i]));
        anyJoining = anyJoining || types[i] == Joining::right || types[i] == Joining::dual ||
                     forms(letterOf(cells[i])) != nullptr;
    }
    if (!anyJoining) {
        return shaped;
    }

    // The nearest cell before (after) i that is not transparent, unless a non-joiner comes
    // first: its joining type decides whether it joins cell i.
    const auto previousJoins = [&](size_t i) {
        for (size_t j = i; j-- > 0;) {
            if (letterOf(cells[j]) == zeroWidthNonJoiner) {
                return false;
            }
            if (types[j] != Joining::transparent) {
                return types[j] == Joining::left || types[j] == Joining::dual ||
                       types[j] == Joining::causing;
            }
        }
        return false;
    };
    const auto nextJoins = [&](size_t i) {
        for (size_t j = i + 1; j < n; ++j) {
            if (letterOf(cells[j]) == zeroWidthNonJoiner) {
                return false;
            }
            if (types[j] != Joining::transparent) {
                return types[j] == Joining::causing || types[j] == Joining::right ||
                       types[j] == Joining::dual;
            }
        }
        return false;
    };

    size_t i = 0;
    while (i < n) {
        const char32_t letter = letterOf(cells[i]);
        const Joining type = types[i];
        if (letter == zeroWidthNonJoiner || type == Joining::transparent ||
            type == Joining::causing || type == Joining::left) {
            ++i;
            continue;
        }
        if (type == Joining::none) {
            if (const ucd::ArabicForms* found = forms(letter)) {
                shaped[i] = withMarks(found->iso, {&cells[i]});
            }
            ++i;
            continue;
        }
        const bool previous = previousJoins(i);
        // Lam and the alef right after it (no mark cell between) become one ligature over the
        // two cells; the alef's cell shows a space.
        if (letter == lam && i + 1 < n) {
            if (const auto ligature = lamAlef(letterOf(cells[i + 1]))) {
                shaped[i] = withMarks(previous ? ligature->second : ligature->first,
                                      {&cells[i], &cells[i + 1]});
                shaped[i + 1] = std::u32string(U" ");
                i += 2;
                continue;
            }
        }
        if (const ucd::ArabicForms* found = forms(letter)) {
            const bool next = nextJoins(i);
            uint32_t form = found->iso;
            if (type == Joining::right) {
                form = previous ? found->fin : found->iso;
            } else if (previous && next) {
                form = found->med != 0 ? found->med : found->fin;
            } else if (next) {
                form = found->ini != 0 ? found->ini : found->iso;
            } else if (previous) {
                form = found->fin;
            }
            shaped[i] = withMarks(char32_t(form), {&cells[i]});
        }
        ++i;
    }
    return shaped;
}

} // namespace veldatron
