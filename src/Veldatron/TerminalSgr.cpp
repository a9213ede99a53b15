#include "Terminal.h"

#include "Diagnostics.h"

#include <algorithm>
#include <array>
#include <string>

namespace veldatron {

namespace {

using CellColor = Attribute::Color;

uint8_t channel(int32_t value) {
    return uint8_t(std::min(value, 255));
}

// The colour read for a 38, 48 or 58 (none unless `valid`) and the parameters it used. Plain
// fields: an optional built in memory piece by piece and read back whole stalls the pipeline.
struct Extended {
    bool valid = false;
    CellColor color;
    int consumed = 0;
};

// The colour of a 38, 48 or 58 at index i: "5;n" or "2;r;g;b" after semicolons, or the colon
// forms "5:n", "2:r:g:b" and "2:cs:r:g:b". Reads `values`, the list's own, past the checks of n.
Extended extendedColor(const ParserParams& pars, std::span<const int32_t> values, int i) {
    const int n = int(values.size());
    const int sub = i + 1;
    if (sub >= n) {
        return {false, CellColor(), 0};
    }
    const int32_t* const v = values.data() + sub;
    if (pars.isSubParameter(sub)) {
        int group = 1;
        while (sub + group < n && pars.isSubParameter(sub + group)) {
            ++group;
        }
        Extended result{false, CellColor(), group};
        if (v[0] == 5 && group >= 2) {
            result = {true, CellColor::ansi256(channel(v[1])), group};
        } else if (v[0] == 2 && group >= 5) {
            result = {true, CellColor::trueColor(channel(v[2]), channel(v[3]), channel(v[4])),
                      group};
        } else if (v[0] == 2 && group == 4) {
            result = {true, CellColor::trueColor(channel(v[1]), channel(v[2]), channel(v[3])),
                      group};
        }
        return result;
    }
    if (v[0] == 5 && sub + 1 < n) {
        return {true, CellColor::ansi256(channel(v[1])), 2};
    }
    if (v[0] == 2 && sub + 3 < n) {
        return {true, CellColor::trueColor(channel(v[1]), channel(v[2]), channel(v[3])), 4};
    }
    return {false, CellColor(), 1};
}

// How the general loop reads a parameter: most are one edit of the attribute; 4 looks for a
// style after a colon, 38, 48 and 58 read a colour from the parameters after them.
// 59 takes the underline colour's own setter.
enum class SgrRead : uint8_t { edit, underline, extended, noUnderlineColor, unknown };

struct SgrEntry {
    Attribute::Edit edit;
    SgrRead read = SgrRead::unknown;
};

// Parameters from here up are unknown: they share the table's last entry.
constexpr uint32_t sgrUnknown = 108;

constexpr SgrEntry styleEntry(CharacterStyle insert, CharacterStyle remove) {
    return {Attribute::Edit::of([=](Attribute& a) {
                CharacterStyle style = a.style();
                style.insert(insert);
                style.remove(remove);
                a.setStyle(style);
            }),
            SgrRead::edit};
}

// The underline on (in `style`) or off (none).
constexpr Attribute::Edit underlineEdit(UnderlineStyle style) {
    return Attribute::Edit::of([=](Attribute& a) {
        CharacterStyle styles = a.style();
        if (style == UnderlineStyle::none) {
            styles.remove(CharacterStyle::underline);
        } else {
            styles.insert(CharacterStyle::underline);
        }
        a.setStyle(styles);
        a.setUnderlineStyle(style);
    });
}

constexpr SgrEntry colorEntry(void (Attribute::*set)(CellColor) &, CellColor color) {
    return {Attribute::Edit::of([=](Attribute& a) { (a.*set)(color); }), SgrRead::edit};
}

constexpr std::array<SgrEntry, sgrUnknown + 1> sgrTable = [] {
    std::array<SgrEntry, sgrUnknown + 1> table{};
    table[0] = {Attribute::Edit::of([](Attribute& a) { a = Attribute(); }), SgrRead::edit};
    const CharacterStyle none = CharacterStyle::none;
    table[1] = styleEntry(CharacterStyle::bold, none);
    table[2] = styleEntry(CharacterStyle::dim, none);
    table[3] = styleEntry(CharacterStyle::italic, none);
    table[4] = {underlineEdit(UnderlineStyle::single), SgrRead::underline};
    table[5] = styleEntry(CharacterStyle::blink, none);
    table[7] = styleEntry(CharacterStyle::inverse, none);
    table[8] = styleEntry(CharacterStyle::invisible, none);
    table[9] = styleEntry(CharacterStyle::crossedOut, none);
    table[21] = {underlineEdit(UnderlineStyle::double_), SgrRead::edit};
    table[22] = styleEntry(none, CharacterStyle::bold | CharacterStyle::dim);
    table[23] = styleEntry(none, CharacterStyle::italic);
    table[24] = {underlineEdit(UnderlineStyle::none), SgrRead::edit};
    table[25] = styleEntry(none, CharacterStyle::blink);
    table[27] = styleEntry(none, CharacterStyle::inverse);
    table[28] = styleEntry(none, CharacterStyle::invisible);
    table[29] = styleEntry(none, CharacterStyle::crossedOut);
    for (int i = 0; i < 8; ++i) {
        table[30 + i] = colorEntry(&Attribute::setFg, CellColor::ansi256(uint8_t(i)));
        table[40 + i] = colorEntry(&Attribute::setBg, CellColor::ansi256(uint8_t(i)));
        table[90 + i] = colorEntry(&Attribute::setFg, CellColor::ansi256(uint8_t(i + 8)));
        table[100 + i] = colorEntry(&Attribute::setBg, CellColor::ansi256(uint8_t(i + 8)));
    }
    table[38].read = SgrRead::extended;
    table[48].read = SgrRead::extended;
    table[58].read = SgrRead::extended;
    table[39] = colorEntry(&Attribute::setFg, CellColor::defaultColor);
    table[49] = colorEntry(&Attribute::setBg, CellColor::defaultColor);
    table[59].read = SgrRead::noUnderlineColor;
    return table;
}();

// The edits of 4:0 to 4:5; a larger style is a single underline.
constexpr std::array<Attribute::Edit, 6> underlineStyleEdits = {
    underlineEdit(UnderlineStyle::none),    underlineEdit(UnderlineStyle::single),
    underlineEdit(UnderlineStyle::double_), underlineEdit(UnderlineStyle::curly),
    underlineEdit(UnderlineStyle::dotted),  underlineEdit(UnderlineStyle::dashed)};

// Out of line and cold: it builds strings, and the colour loop should not keep registers for it.
[[gnu::cold, gnu::noinline]] void reportUnknown(int32_t value, const ParserParams& pars) {
    static DiagnosticSite site;
    std::string line = "Unknown SGR attribute: " + std::to_string(value) + " [";
    for (int i = 0; i < pars.size(); ++i) {
        line += (i ? ", " : "") + std::to_string(pars[i]);
    }
    site.emit(line + "]");
}

} // namespace

void Terminal::sgrList(const ParserParams& pars) {
    const std::span<const int32_t> values = pars.values();
    const int n = int(values.size());
    // A style or a colour and then a 256-colour ("1;38;5;n", "7;48;5;n"), the commonest list
    // after the lone colours, as one edit without the loop.
    if (n == 4 && (values[1] == 38 || values[1] == 48) && values[2] == 5 &&
        !pars.isSubParameter(1) && !pars.isSubParameter(2) && !pars.isSubParameter(3)) {
        const SgrEntry& first = sgrTable[std::min(uint32_t(values[0]), sgrUnknown)];
        if (first.read == SgrRead::edit) {
            const CellColor color = CellColor::ansi256(channel(values[3]));
            first.edit.applyTo(m_curAttr);
            if (values[1] == 38) {
                m_curAttr.setFg(color);
            } else {
                m_curAttr.setBg(color);
            }
            return;
        }
    }
    // Each parameter is looked up, and all but a few are an edit: programs that colour every few
    // cells send lists like "1;38;5;n" whose first parameter varies at random, and a branch on
    // its value (a switch) would mostly be mispredicted. The edits are combined in registers and
    // the attribute changed once at the end. An omitted parameter reads as 0, which resets.
    Attribute::Edit edit;
    for (int i = 0; i < n; ++i) {
        const uint32_t p = uint32_t(values[size_t(i)]);
        const SgrEntry& entry = sgrTable[std::min(p, sgrUnknown)];
        if (entry.read == SgrRead::edit) [[likely]] {
            edit = edit.then(entry.edit);
            continue;
        }
        switch (entry.read) {
        case SgrRead::edit:
            break;
        case SgrRead::underline:
            if (pars.isSubParameter(i + 1)) {
                const uint32_t style = uint32_t(values[size_t(++i)]);
                edit =
                    edit.then(underlineStyleEdits[style < underlineStyleEdits.size() ? style : 1]);
            } else {
                edit = edit.then(entry.edit);
            }
            break;
        case SgrRead::extended: {
            const Extended extended = extendedColor(pars, values, i);
            if (extended.valid) {
                const CellColor color = extended.color;
                if (p == 38) {
                    edit = edit.then(Attribute::Edit::of([=](Attribute& a) { a.setFg(color); }));
                } else if (p == 48) {
                    edit = edit.then(Attribute::Edit::of([=](Attribute& a) { a.setBg(color); }));
                } else {
                    // Its own setter (a true colour takes a slot of the shared table), on the
                    // attribute as the parameters before it left it.
                    edit.applyTo(m_curAttr);
                    edit = Attribute::Edit();
                    m_curAttr.setUnderlineColor(color);
                }
            }
            i += std::max(extended.consumed, 1);
            break;
        }
        case SgrRead::noUnderlineColor:
            edit.applyTo(m_curAttr);
            edit = Attribute::Edit();
            m_curAttr.setUnderlineColor(std::nullopt);
            break;
        case SgrRead::unknown:
            reportUnknown(int32_t(p), pars);
            break;
        }
    }
    edit.applyTo(m_curAttr);
}

} // namespace veldatron
