#pragma once

#include "OptionSet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace veldatron {

namespace detail {
// Mixes two words into a hash: cells and attributes hash their packed bits.
constexpr size_t hashWords(uint64_t a, uint64_t b) {
    uint64_t h = a * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) ^ b;
    h *= 0xBF58476D1CE4E5B9ull;
    return size_t(h ^ (h >> 32));
}
} // namespace detail

// Style bits of a cell. Whether a cell is underlined at all is the `underline` bit; the
// UnderlineStyle only says how the underline is drawn.
struct CharacterStyle : OptionSet<CharacterStyle> {
    using OptionSet::OptionSet;

    static const CharacterStyle none;
    static const CharacterStyle bold;
    static const CharacterStyle underline;
    static const CharacterStyle blink;
    static const CharacterStyle inverse;
    static const CharacterStyle invisible;
    static const CharacterStyle dim;
    static const CharacterStyle italic;
    static const CharacterStyle crossedOut;

    // The style byte of a packed 32-bit attribute word, which keeps it in bits 18-25.
    static constexpr CharacterStyle fromAttribute(uint32_t attribute) {
        return CharacterStyle(uint8_t((attribute >> 18) & 0xFF));
    }
};

inline constexpr CharacterStyle CharacterStyle::none = CharacterStyle(uint8_t(0));
inline constexpr CharacterStyle CharacterStyle::bold = CharacterStyle(uint8_t(1));
inline constexpr CharacterStyle CharacterStyle::underline = CharacterStyle(uint8_t(2));
inline constexpr CharacterStyle CharacterStyle::blink = CharacterStyle(uint8_t(4));
inline constexpr CharacterStyle CharacterStyle::inverse = CharacterStyle(uint8_t(8));
inline constexpr CharacterStyle CharacterStyle::invisible = CharacterStyle(uint8_t(16));
inline constexpr CharacterStyle CharacterStyle::dim = CharacterStyle(uint8_t(32));
inline constexpr CharacterStyle CharacterStyle::italic = CharacterStyle(uint8_t(64));
inline constexpr CharacterStyle CharacterStyle::crossedOut = CharacterStyle(uint8_t(128));

// How an underline is drawn (SGR 4:s). `double_` is the double underline (`double` is reserved).
enum class UnderlineStyle : uint8_t {
    none = 0,
    single = 1,
    double_ = 2,
    curly = 3,
    dotted = 4,
    dashed = 5
};

// The style of a raw byte, or none above 5.
constexpr std::optional<UnderlineStyle> underlineStyleFromRaw(uint8_t raw) {
    if (raw > 5) {
        return std::nullopt;
    }
    return UnderlineStyle(raw);
}

// Colours and style of a cell. Ten meaningful bytes, which CharData packs into its second half:
//
//   fg word    bits 0-25 the foreground Color, bits 26-31 underline-colour ref bits 0-5
//   bg word    bits 0-25 the background Color, bits 26-31 underline-colour ref bits 6-11
//   style      CharacterStyle bits
//   underline  bits 0-2 UnderlineStyle, bits 3-7 underline-colour ref bits 12-16
//
// Unused payload bits are always zero, so equal attributes have equal bits and equality is a
// plain compare of the words.
//
// The 17-bit underline-colour ref keeps "no underline colour" apart from every colour:
//   0 absent, 1 defaultColor, 2 defaultInvertedColor, 3-258 ansi256(0-255), and from 259 up an
//   index into UnderlineColorTable for true colours. Underline colours are rare and few, so
//   true ones live outside the cell and the whole cell fits 16 bytes.
//
// The plain default attribute (both colours defaultColor, nothing else) is all zero bits, which
// makes the blank cell a zero fill.
class Attribute {
public:
    // The colour of a cell: a palette entry, a 24-bit colour, or one of the two defaults.
    //   bits 0-23: the ansi256 code (bits 0-7) or red << 16 | green << 8 | blue
    //   bits 24-25: the case, stored as 0 defaultColor, 1 defaultInvertedColor, 2 ansi256,
    //   3 trueColor so that the plain default is zero.
    class Color {
    public:
        // The cases, numbered as hashing and ordering elsewhere number them.
        enum class Kind : uint8_t {
            ansi256 = 0,
            trueColor = 1,
            defaultColor = 2,
            defaultInvertedColor = 3
        };

        static const Color defaultColor;
        static const Color defaultInvertedColor;
        static constexpr Color ansi256(uint8_t code) { return Color(storedAnsi << 24 | code); }
        static constexpr Color trueColor(uint8_t red, uint8_t green, uint8_t blue) {
            return Color(storedTrueColor << 24 | uint32_t(red) << 16 | uint32_t(green) << 8 | blue);
        }

        constexpr Color() = default;

        constexpr Kind kind() const { return Kind(((m_bits >> 24) + 2) & 3); }
        // The palette entry of an ansi256 colour; 0 for the other cases.
        constexpr uint8_t code() const { return isKind(storedAnsi) ? uint8_t(m_bits) : 0; }
        // The channels of a true colour; 0 for the other cases.
        constexpr uint8_t red() const {
            return isKind(storedTrueColor) ? uint8_t(m_bits >> 16) : 0;
        }
        constexpr uint8_t green() const {
            return isKind(storedTrueColor) ? uint8_t(m_bits >> 8) : 0;
        }
        constexpr uint8_t blue() const { return isKind(storedTrueColor) ? uint8_t(m_bits) : 0; }

        // The packed 26-bit form stored in cells.
        constexpr uint32_t bits() const { return m_bits; }
        static constexpr Color fromBits(uint32_t bits) { return Color(bits & mask); }
        static constexpr uint32_t mask = 0x03FFFFFF;

        friend constexpr bool operator==(Color, Color) = default;

    private:
        static constexpr uint32_t storedDefault = 0;
        static constexpr uint32_t storedDefaultInverted = 1;
        static constexpr uint32_t storedAnsi = 2;
        static constexpr uint32_t storedTrueColor = 3;

        constexpr explicit Color(uint32_t bits) : m_bits(bits) {}
        constexpr bool isKind(uint32_t stored) const { return (m_bits >> 24) == stored; }

        uint32_t m_bits = 0;
        friend class Attribute;
    };

    // Foreground defaultColor, background defaultInvertedColor, nothing else: the blank attribute
    // of a screen's own blank cells.
    static const Attribute empty;

    // The plain default attribute: both colours defaultColor, no style, no underline colour.
    constexpr Attribute() = default;
    constexpr Attribute(Color fg, Color bg, CharacterStyle style = CharacterStyle::none,
                        UnderlineStyle underlineStyle = UnderlineStyle::none)
        : m_colors(uint64_t(bg.bits()) << 32 | fg.bits()),
          m_rest(uint64_t(style.rawValue | uint8_t(underlineStyle) << 8)) {}
    Attribute(Color fg, Color bg, CharacterStyle style, UnderlineStyle underlineStyle,
              std::optional<Color> underlineColor)
        : Attribute(fg, bg, style, underlineStyle) {
        setUnderlineColor(underlineColor);
    }

    constexpr Color fg() const { return Color::fromBits(uint32_t(m_colors)); }
    constexpr Color bg() const { return Color::fromBits(uint32_t(m_colors >> 32)); }
    constexpr CharacterStyle style() const { return CharacterStyle(uint8_t(m_rest)); }
    constexpr UnderlineStyle underlineStyle() const {
        const uint8_t raw = uint8_t(m_rest >> 8) & 7;
        return raw <= 5 ? UnderlineStyle(raw) : UnderlineStyle::none;
    }
    // Absent means the underline takes the foreground colour.
    std::optional<Color> underlineColor() const;

    // Setters work on variables only: `cell.attribute()` is a copy, so `cell.attribute().setFg(c)`
    // would change nothing and does not compile; use CharData::setAttribute.
    constexpr void setFg(Color color) & {
        m_colors = (m_colors & ~uint64_t(Color::mask)) | color.bits();
    }
    constexpr void setBg(Color color) & {
        m_colors = (m_colors & ~(uint64_t(Color::mask) << 32)) | uint64_t(color.bits()) << 32;
    }
    constexpr void setStyle(CharacterStyle style) & { m_rest = (m_rest & 0xFF00) | style.rawValue; }
    constexpr void setUnderlineStyle(UnderlineStyle style) & {
        m_rest = (m_rest & ~uint64_t(0x0700)) | uint64_t(uint8_t(style) & 7) << 8;
    }
    void setUnderlineColor(std::optional<Color> color) &;

    // A change that keeps or sets each bit of an attribute whatever the others hold: what every
    // SGR parameter does but the extended colours (a palette colour, a default, a style bit, an
    // underline style, a reset). Applying one is two ANDs and two ORs, so a list of parameters
    // is read without a branch on which each one is.
    class Edit {
    public:
        // Changes nothing.
        constexpr Edit() = default;
        // What `change`, setters called on the attribute it is given, does to any attribute.
        // Every bit it writes must not depend on the bits it reads, as holds for the setters: it
        // is then known from what it makes of all zeros and all ones.
        template <typename Change> static constexpr Edit of(Change change) {
            Attribute zeros;
            Attribute ones = fromPacked(~uint64_t(0), 0xFFFF);
            change(zeros);
            change(ones);
            Edit edit;
            edit.m_colorsKeep = ones.m_colors;
            edit.m_colorsSet = zeros.m_colors;
            edit.m_restKeep = uint16_t(ones.m_rest);
            edit.m_restSet = uint16_t(zeros.m_rest);
            return edit;
        }
        // This edit, then `next`.
        constexpr Edit then(const Edit& next) const {
            Edit edit;
            edit.m_colorsKeep = m_colorsKeep & next.m_colorsKeep;
            edit.m_colorsSet = (m_colorsSet & next.m_colorsKeep) | next.m_colorsSet;
            edit.m_restKeep = uint16_t(m_restKeep & next.m_restKeep);
            edit.m_restSet = uint16_t((m_restSet & next.m_restKeep) | next.m_restSet);
            return edit;
        }
        constexpr void applyTo(Attribute& attribute) const {
            attribute.m_colors = (attribute.m_colors & m_colorsKeep) | m_colorsSet;
            attribute.m_rest = (attribute.m_rest & m_restKeep) | m_restSet;
        }

    private:
        uint64_t m_colorsKeep = ~uint64_t(0);
        uint64_t m_colorsSet = 0;
        // The rest word holds 16 bits. Kept narrow, a table of edits is smaller, and the compiler
        // does not pair the two words' operations into vector ones, which kept the edit of a
        // list being read in memory instead of in registers.
        uint16_t m_restKeep = 0xFFFF;
        uint16_t m_restSet = 0;
    };

    // The SGR parameters of this attribute for a DECRQSS "m" reply, for example "0;1;31m".
    // Dim, italic, crossed-out and the underline style and colour are not written.
    std::string toSgr() const;

    friend constexpr bool operator==(const Attribute&, const Attribute&) = default;

    size_t hash() const;

private:
    friend class CharData;

    // The ten bytes as CharData packs them: the two colour words, and style | underline << 8.
    constexpr uint64_t packedColors() const { return m_colors; }
    constexpr uint16_t packedRest() const { return uint16_t(m_rest); }
    static constexpr Attribute fromPacked(uint64_t colors, uint16_t rest) {
        Attribute a;
        a.m_colors = colors;
        a.m_rest = rest;
        return a;
    }

    uint32_t underlineColorRef() const;
    void setUnderlineColorRef(uint32_t ref);

    // Two words, each always read and written whole: a colour change (SGR) followed at once by a
    // print that reads the attribute must not pay for a wide load of narrow stores.
    // No padding either: copies move both words whole.
    uint64_t m_colors = 0; // fg word, then bg word << 32
    uint64_t m_rest = 0;   // style, then underline byte << 8; the high bytes stay 0
};

inline constexpr Attribute::Color Attribute::Color::defaultColor =
    Attribute::Color(Attribute::Color::storedDefault << 24);
inline constexpr Attribute::Color Attribute::Color::defaultInvertedColor =
    Attribute::Color(Attribute::Color::storedDefaultInverted << 24);
inline constexpr Attribute Attribute::empty =
    Attribute(Attribute::Color::defaultColor, Attribute::Color::defaultInvertedColor);

} // namespace veldatron

template <> struct std::hash<veldatron::Attribute> {
    size_t operator()(const veldatron::Attribute& attribute) const { return attribute.hash(); }
};

template <> struct std::hash<veldatron::Attribute::Color> {
    size_t operator()(veldatron::Attribute::Color color) const {
        return std::hash<uint32_t>()(color.bits());
    }
};
