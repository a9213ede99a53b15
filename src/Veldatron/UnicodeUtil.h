#pragma once

#include "UnicodeTables.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace veldatron {

// Column widths of Unicode scalars (Unicode 17), the UTF-8 lead-byte table and emoji
// presentation. All tables are constants generated into UnicodeTables.cpp.
struct UnicodeUtil {
    // A range of code points, both ends included.
    using LH = ucd::LH;

    // Width of one scalar by the rules, first match deciding:
    //   U+0000 0; C0 and C1 controls (U+0001-U+001F, U+007F-U+009F) -1, not printed;
    //   U+0020-U+007E 1; marks (Mn, Mc, Me) 0; the modifier symbols U+FF3E, U+FF40, U+FFE3 2 and
    //   the skin-tone modifiers U+1F3FB-U+1F3FF 0 (other Sk go on); Zl, Zp 0; Cf 0 except the
    //   soft hyphen U+00AD 1; Hangul medial and final jamo (U+1160-U+11FF, U+D7B0-U+D7FF) 0;
    //   regional indicators U+1F1E6-U+1F1FF 2; UnicodeWidthData::eastAsianWide 2; else 1.
    // This is the slow, rule-by-rule computation; columnWidth gives the same answers from a
    // table.
    static int computeColumnWidth(char32_t rune);

    // computeColumnWidth from the two-stage table: two reads. Scalars above U+10FFFF read 1.
    static int columnWidth(char32_t rune) {
        if (rune > 0x10FFFF) {
            return 1;
        }
        return columnWidthOfScalar(rune);
    }
    // columnWidth of a scalar already known to be at most U+10FFFF (decoded UTF-8).
    static int columnWidthOfScalar(char32_t scalar) {
        const uint32_t block = ucd::widthStage1[scalar >> ucd::widthBlockShift];
        return ucd::widthStage2[(block << ucd::widthBlockShift) | (scalar & 0xFF)];
    }

    // computeColumnWidth of every code point below U+2000, directly indexed.
    static constexpr std::span<const int8_t, 8192> lowPlaneWidths{ucd::widthStage2.data(), 8192};

    // Whether a scalar lies in one of the ranges table[0...max] of a sorted, disjoint table.
    static bool bisearch(char32_t rune, std::span<const LH> table, int max);

    // True for a character of one scalar above U+00FF that is an emoji but not emoji-presentation
    // by default: such a character is drawn in text style.
    static bool prefersTextPresentation(std::u32string_view character);
    // The character with U+FE0E (text presentation) appended when it prefers text presentation;
    // otherwise unchanged.
    static std::u32string textPresentationAdjusted(std::u32string_view character);

    // UTF-8 lead-byte table: for each byte, 0xF0 when it is a one-byte character, 0xF1 when it
    // cannot begin a sequence; otherwise the low four bits are the sequence length (2-4) and the
    // high four bits select the range of the second byte: 0 0x80-0xBF, 1 0xA0-0xBF (after 0xE0),
    // 2 0x80-0x9F (after 0xED), 3 0x90-0xBF (after 0xF0), 4 0x80-0x8F (after 0xF4).
    static constexpr std::array<uint8_t, 256> first = [] {
        std::array<uint8_t, 256> table{};
        for (int b = 0; b < 256; ++b) {
            uint8_t entry = 0xF1;
            if (b < 0x80) {
                entry = 0xF0;
            } else if (b >= 0xC2 && b <= 0xDF) {
                entry = 0x02;
            } else if (b == 0xE0) {
                entry = 0x13;
            } else if (b == 0xED) {
                entry = 0x23;
            } else if (b >= 0xE1 && b <= 0xEF) {
                entry = 0x03;
            } else if (b == 0xF0) {
                entry = 0x34;
            } else if (b >= 0xF1 && b <= 0xF3) {
                entry = 0x04;
            } else if (b == 0xF4) {
                entry = 0x44;
            }
            table[size_t(b)] = entry;
        }
        return table;
    }();

    // The combining marks that number the rows and columns of image placeholders: entry n
    // stands for the number n. Sorted by code point.
    static constexpr std::span<const char32_t, 297> rowColumnDiacritics{ucd::rowColumnDiacritics};
    // The number a diacritic stands for, or -1 when it is none of them.
    static int rowColumnDiacriticIndex(char32_t rune);

    // Appends the UTF-8 form of a scalar; a surrogate or a value above U+10FFFF as U+FFFD.
    static void appendUtf8(std::string& out, char32_t rune);
};

// The two fixed range tables of the width rules.
struct UnicodeWidthData {
    // Code points two columns wide: the East Asian wide and fullwidth characters from U+1100.
    static constexpr std::span<const UnicodeUtil::LH, 123> eastAsianWide{ucd::eastAsianWide};
    // Bases of the emoji variation sequences: where U+FE0F or U+FE0E may follow.
    static constexpr std::span<const UnicodeUtil::LH, 183> emojiVs16Base{ucd::emojiVs16Base};
};

} // namespace veldatron
