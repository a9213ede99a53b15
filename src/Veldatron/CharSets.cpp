#include "CharSets.h"

namespace veldatron {

namespace {

// DEC special graphics: bytes 0x60-0x7E become line-drawing and symbol characters.
constexpr CharSetTable makeDecSpecialGraphics() {
    constexpr char32_t glyphs[] = {
        U'\u25C6', U'\u2592', U'\u2409', U'\u240C', U'\u240D', U'\u240A', U'\u00B0', U'\u00B1',
        U'\u2424', U'\u240B', U'\u2518', U'\u2510', U'\u250C', U'\u2514', U'\u253C', U'\u23BA',
        U'\u23BB', U'\u2500', U'\u23BC', U'\u23BD', U'\u251C', U'\u2524', U'\u2534', U'\u252C',
        U'\u2502', U'\u2264', U'\u2265', U'\u03C0', U'\u2260', U'\u00A3', U'\u00B7',
    };
    CharSetTable table;
    for (int i = 0; i < 31; ++i) {
        table.set(uint8_t(0x60 + i), glyphs[i]);
    }
    return table;
}

// The national sets replace some of these twelve bytes; 0 keeps the byte as it is.
constexpr uint8_t nationalBytes[12] = {0x23, 0x40, 0x5B, 0x5C, 0x5D, 0x5E,
                                       0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};

constexpr CharSetTable makeNational(const char32_t (&replacements)[12]) {
    CharSetTable table;
    for (int i = 0; i < 12; ++i) {
        if (replacements[i] != 0) {
            table.set(nationalBytes[i], replacements[i]);
        }
    }
    return table;
}

constexpr CharSetTable decSpecialGraphics = makeDecSpecialGraphics();
constexpr CharSetTable unitedKingdom = makeNational({U'£', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
constexpr CharSetTable unitedStates;
// Replacements of the bytes  #  @  [  \  ]  ^  _  `  {  |  }  ~  in this order.
// clang-format off
// In the Dutch set "]" becomes the ASCII vertical bar and "|" the plain letter f.
constexpr CharSetTable dutch = makeNational({U'£', U'¾', U'ĳ', U'½', U'|', 0, 0, 0, U'¨', U'f', U'¼', U'´'});
constexpr CharSetTable finnish = makeNational({0, 0, U'Ä', U'Ö', U'Å', U'Ü', 0, U'é', U'ä', U'ö', U'å', U'ü'});
constexpr CharSetTable french = makeNational({U'£', U'à', U'°', U'ç', U'§', 0, 0, 0, U'é', U'ù', U'è', U'¨'});
constexpr CharSetTable frenchCanadian = makeNational({0, U'à', U'â', U'ç', U'ê', U'î', 0, U'ô', U'é', U'ù', U'è', U'û'});
constexpr CharSetTable german = makeNational({0, U'§', U'Ä', U'Ö', U'Ü', 0, 0, 0, U'ä', U'ö', U'ü', U'ß'});
constexpr CharSetTable italian = makeNational({U'£', U'§', U'°', U'ç', U'é', 0, 0, U'ù', U'à', U'ò', U'è', U'ì'});
constexpr CharSetTable norwegianDanish = makeNational({0, U'Ä', U'Æ', U'Ø', U'Å', U'Ü', 0, U'ä', U'æ', U'ø', U'å', U'ü'});
constexpr CharSetTable spanish = makeNational({U'£', U'§', U'¡', U'Ñ', U'¿', 0, 0, 0, U'°', U'ñ', U'ç', 0});
constexpr CharSetTable swedish = makeNational({0, U'É', U'Ä', U'Ö', U'Å', U'Ü', 0, U'é', U'ä', U'ö', U'å', U'ü'});
constexpr CharSetTable swiss = makeNational({U'ù', U'à', U'é', U'ç', U'ê', U'î', U'è', U'ô', U'ä', U'ö', U'ü', U'û'});
// clang-format on

} // namespace

const CharSetTable* CharSets::all(uint8_t designator) {
    switch (designator) {
    case '0':
    case '2':
        return &decSpecialGraphics;
    case 'A':
        return &unitedKingdom;
    case 'B':
        return &unitedStates;
    case '4':
        return &dutch;
    case 'C':
    case '5':
        return &finnish;
    case 'R':
        return &french;
    case 'Q':
        return &frenchCanadian;
    case 'K':
        return &german;
    case 'Y':
        return &italian;
    case 'E':
    case '6':
        return &norwegianDanish;
    case 'Z':
        return &spanish;
    case 'H':
    case '7':
        return &swedish;
    case '=':
        return &swiss;
    default:
        return nullptr;
    }
}

} // namespace veldatron
