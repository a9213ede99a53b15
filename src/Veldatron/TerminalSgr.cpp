#include "Terminal.h"

#include "Diagnostics.h"

#include <algorithm>
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

void Terminal::cmdCsiM(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    // Changed in place, field by field: nothing reads the attribute until the parameters are
    // done, and a whole-object copy in and out would stall on the narrower stores between. The
    // values are read straight from the list (an omitted one reads as 0, which resets), and one
    // switch decides each: programs that colour every few cells send one of these per cell.
    Attribute& a = m_curAttr;
    CharacterStyle style = a.style();
    const std::span<const int32_t> values = pars.values();
    const int n = int(values.size());
    // The commonest list of colourful output, one foreground or background colour and nothing
    // else ("38;2;r;g;b", "48;5;n"), set without the loop.
    if ((n == 5 || n == 3) && (values[0] == 38 || values[0] == 48) &&
        values[1] == (n == 5 ? 2 : 5) && !pars.isSubParameter(1)) {
        const CellColor color =
            n == 5 ? CellColor::trueColor(channel(values[2]), channel(values[3]), channel(values[4]))
                   : CellColor::ansi256(channel(values[2]));
        if (values[0] == 38) {
            a.setFg(color);
        } else {
            a.setBg(color);
        }
        return;
    }
    for (int i = 0; i < n; ++i) {
        const int32_t p = values[size_t(i)];
        switch (p) {
        case 0:
            a = Attribute();
            style = CharacterStyle::none;
            break;
        case 1:
            style.insert(CharacterStyle::bold);
            break;
        case 2:
            style.insert(CharacterStyle::dim);
            break;
        case 3:
            style.insert(CharacterStyle::italic);
            break;
        case 4:
            if (pars.isSubParameter(i + 1)) {
                const int32_t s = values[size_t(++i)];
                if (s == 0) {
                    style.remove(CharacterStyle::underline);
                    a.setUnderlineStyle(UnderlineStyle::none);
                } else {
                    style.insert(CharacterStyle::underline);
                    a.setUnderlineStyle(s >= 2 && s <= 5 ? UnderlineStyle(s)
                                                         : UnderlineStyle::single);
                }
            } else {
                style.insert(CharacterStyle::underline);
                a.setUnderlineStyle(UnderlineStyle::single);
            }
            break;
        case 5:
            style.insert(CharacterStyle::blink);
            break;
        case 7:
            style.insert(CharacterStyle::inverse);
            break;
        case 8:
            style.insert(CharacterStyle::invisible);
            break;
        case 9:
            style.insert(CharacterStyle::crossedOut);
            break;
        case 21:
            style.insert(CharacterStyle::underline);
            a.setUnderlineStyle(UnderlineStyle::double_);
            break;
        case 22:
            style.remove(CharacterStyle::bold);
            style.remove(CharacterStyle::dim);
            break;
        case 23:
            style.remove(CharacterStyle::italic);
            break;
        case 24:
            style.remove(CharacterStyle::underline);
            a.setUnderlineStyle(UnderlineStyle::none);
            break;
        case 25:
            style.remove(CharacterStyle::blink);
            break;
        case 27:
            style.remove(CharacterStyle::inverse);
            break;
        case 28:
            style.remove(CharacterStyle::invisible);
            break;
        case 29:
            style.remove(CharacterStyle::crossedOut);
            break;
        case 30:
        case 31:
        case 32:
        case 33:
        case 34:
        case 35:
        case 36:
        case 37:
            a.setFg(CellColor::ansi256(uint8_t(p - 30)));
            break;
        case 38:
        case 48:
        case 58: {
            const Extended extended = extendedColor(pars, values, i);
            if (extended.valid) {
                if (p == 38) {
                    a.setFg(extended.color);
                } else if (p == 48) {
                    a.setBg(extended.color);
                } else {
                    a.setUnderlineColor(extended.color);
                }
            }
            i += std::max(extended.consumed, 1);
            break;
        }
        case 39:
            a.setFg(CellColor::defaultColor);
            break;
        case 40:
        case 41:
        case 42:
        case 43:
        case 44:
        case 45:
        case 46:
        case 47:
            a.setBg(CellColor::ansi256(uint8_t(p - 40)));
            break;
        case 49:
            a.setBg(CellColor::defaultColor);
            break;
        case 59:
            a.setUnderlineColor(std::nullopt);
            break;
        default:
            if (p >= 90 && p <= 97) {
                a.setFg(CellColor::ansi256(uint8_t(p - 90 + 8)));
            } else if (p >= 100 && p <= 107) {
                a.setBg(CellColor::ansi256(uint8_t(p - 100 + 8)));
            } else {
                reportUnknown(p, pars);
            }
            break;
        }
    }
    a.setStyle(style);
}

} // namespace veldatron
