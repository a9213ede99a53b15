#include "UnicodeUtil.h"

#include <algorithm>

namespace veldatron {

namespace {

template <size_t N> bool inTable(char32_t rune, const std::array<UnicodeUtil::LH, N>& table) {
    return UnicodeUtil::bisearch(rune, table, int(N) - 1);
}

} // namespace

int UnicodeUtil::computeColumnWidth(char32_t rune) {
    if (rune == 0) {
        return 0;
    }
    if ((rune >= 0x01 && rune <= 0x1F) || (rune >= 0x7F && rune <= 0x9F)) {
        return -1;
    }
    if (rune >= 0x20 && rune <= 0x7E) {
        return 1;
    }
    if (inTable(rune, ucd::combiningMarks)) {
        return 0;
    }
    if (inTable(rune, ucd::modifierSymbols)) {
        if (rune == 0xFF3E || rune == 0xFF40 || rune == 0xFFE3) {
            return 2;
        }
        if (rune >= 0x1F3FB && rune <= 0x1F3FF) {
            return 0;
        }
        // Other modifier symbols are neither separators nor format characters: fall through to
        // the jamo, regional-indicator and wide rules.
    } else {
        if (inTable(rune, ucd::lineAndParagraphSeparators)) {
            return 0;
        }
        if (inTable(rune, ucd::formatCharacters)) {
            return rune == 0xAD ? 1 : 0;
        }
    }
    if ((rune >= 0x1160 && rune <= 0x11FF) || (rune >= 0xD7B0 && rune <= 0xD7FF)) {
        return 0;
    }
    if (rune >= 0x1F1E6 && rune <= 0x1F1FF) {
        return 2;
    }
    if (bisearch(rune, UnicodeWidthData::eastAsianWide, 122)) {
        return 2;
    }
    return 1;
}

bool UnicodeUtil::bisearch(char32_t rune, std::span<const LH> table, int max) {
    if (table.empty() || max < 0) {
        return false;
    }
    max = std::min(max, int(table.size()) - 1);
    if (rune < table[0].lo || rune > table[size_t(max)].hi) {
        return false;
    }
    int low = 0;
    int high = max;
    while (high >= low) {
        const int middle = (low + high) / 2;
        if (rune > table[size_t(middle)].hi) {
            low = middle + 1;
        } else if (rune >= table[size_t(middle)].lo) {
            return true;
        } else {
            high = middle - 1;
        }
    }
    return false;
}

bool UnicodeUtil::prefersTextPresentation(std::u32string_view character) {
    if (character.size() != 1 || character[0] <= 0xFF) {
        return false;
    }
    return inTable(character[0], ucd::emoji) && !inTable(character[0], ucd::emojiPresentation);
}

std::u32string UnicodeUtil::textPresentationAdjusted(std::u32string_view character) {
    std::u32string out(character);
    if (prefersTextPresentation(character)) {
        out.push_back(U'\uFE0E');
    }
    return out;
}

int UnicodeUtil::rowColumnDiacriticIndex(char32_t rune) {
    const auto found =
        std::lower_bound(rowColumnDiacritics.begin(), rowColumnDiacritics.end(), rune);
    if (found == rowColumnDiacritics.end() || *found != rune) {
        return -1;
    }
    return int(found - rowColumnDiacritics.begin());
}

void UnicodeUtil::appendUtf8(std::string& out, char32_t rune) {
    if (rune > 0x10FFFF || (rune >= 0xD800 && rune <= 0xDFFF)) {
        rune = 0xFFFD;
    }
    if (rune < 0x80) {
        out.push_back(char(rune));
    } else if (rune < 0x800) {
        out.push_back(char(0xC0 | (rune >> 6)));
        out.push_back(char(0x80 | (rune & 0x3F)));
    } else if (rune < 0x10000) {
        out.push_back(char(0xE0 | (rune >> 12)));
        out.push_back(char(0x80 | ((rune >> 6) & 0x3F)));
        out.push_back(char(0x80 | (rune & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (rune >> 18)));
        out.push_back(char(0x80 | ((rune >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((rune >> 6) & 0x3F)));
        out.push_back(char(0x80 | (rune & 0x3F)));
    }
}

} // namespace veldatron
