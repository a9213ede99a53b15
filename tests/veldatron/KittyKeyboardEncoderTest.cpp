#include "KittyKeyboardEncoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

using EventType = KittyKeyboardEventType;
using Flags = KittyKeyboardFlags;
using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

constexpr Mods shift = Mods::shift;
constexpr Mods alt = Mods::alt;
constexpr Mods ctrl = Mods::ctrl;
constexpr Mods caps = Mods::capsLock;

constexpr EventType press = EventType::press;
constexpr EventType repeat = EventType::repeatPress;
constexpr EventType release = EventType::release;

KittyKeyboardEncoder withFlags(Flags flags) {
    return KittyKeyboardEncoder(flags, false, false, false);
}
const KittyKeyboardEncoder legacy = withFlags(Flags());
const KittyKeyboardEncoder appCursor(Flags(), true, false, false);
const KittyKeyboardEncoder appKeypad(Flags(), false, true, false);
const KittyKeyboardEncoder controlH(Flags(), false, false, true);

KittyKeyEvent fn(Key key, Mods modifiers = {}, EventType type = press,
                 std::optional<std::u32string> text = std::nullopt) {
    return {.key = KittyKey::functional(key),
            .modifiers = modifiers,
            .eventType = type,
            .text = std::move(text)};
}

KittyKeyEvent ch(char32_t key, Mods modifiers = {},
                 std::optional<std::u32string> text = std::nullopt, EventType type = press) {
    return {.key = KittyKey::unicode(key),
            .modifiers = modifiers,
            .eventType = type,
            .text = std::move(text)};
}

KittyKeyEvent withAlternates(KittyKeyEvent event, std::optional<char32_t> shifted,
                             std::optional<char32_t> base) {
    event.shiftedKey = shifted;
    event.baseLayoutKey = base;
    return event;
}

KittyKeyEvent composing(KittyKeyEvent event) {
    event.composing = true;
    return event;
}

std::optional<std::string> encode(const KittyKeyboardEncoder& encoder, const KittyKeyEvent& event) {
    const auto bytes = encoder.encode(event);
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

struct Vector {
    const char* name;
    KittyKeyboardEncoder encoder;
    KittyKeyEvent event;
    std::optional<std::string> expected;
};

void expectVectors(std::initializer_list<Vector> vectors) {
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(encode(v.encoder, v.event), v.expected);
    }
}

// A CSI or SS3 key sequence taken apart: fields split at ";", subfields at ":"; an empty
// subfield is none.
struct KeySequence {
    bool ss3 = false;
    char final = 0;
    std::vector<std::vector<std::optional<uint64_t>>> fields;

    std::optional<uint64_t> at(size_t field, size_t subfield) const {
        if (field >= fields.size() || subfield >= fields[field].size()) {
            return std::nullopt;
        }
        return fields[field][subfield];
    }
    // Every form carries the modifiers in the second field; absent means 1.
    uint64_t modifierParameter() const { return at(1, 0).value_or(1); }
    std::optional<uint64_t> eventType() const { return at(1, 1); }
};

std::optional<KeySequence> parseKeySequence(const std::string& bytes) {
    if (bytes.size() < 3 || bytes[0] != '\033') {
        return std::nullopt;
    }
    KeySequence sequence;
    sequence.final = bytes.back();
    if (bytes[1] == 'O') {
        sequence.ss3 = true;
        return bytes.size() == 3 ? std::optional(sequence) : std::nullopt;
    }
    if (bytes[1] != '[') {
        return std::nullopt;
    }
    sequence.fields.emplace_back().emplace_back();
    for (size_t i = 2; i + 1 < bytes.size(); ++i) {
        const char c = bytes[i];
        auto& subfield = sequence.fields.back().back();
        if (c >= '0' && c <= '9') {
            subfield = subfield.value_or(0) * 10 + uint64_t(c - '0');
        } else if (c == ':') {
            sequence.fields.back().emplace_back();
        } else if (c == ';') {
            sequence.fields.emplace_back().emplace_back();
        } else {
            return std::nullopt;
        }
    }
    return sequence;
}

const Mods superHyperMeta{Mods::super, Mods::hyper, Mods::meta};

} // namespace

TEST(KittyKeyboardEncoder, LegacyCursorEditingAndFunctionKeys) {
    expectVectors({
        {"Up", legacy, fn(Key::up), "\033[A"},
        {"Up in application cursor mode", appCursor, fn(Key::up), "\033OA"},
        {"Shift+Up", legacy, fn(Key::up, shift), "\033[1;2A"},
        {"Shift+Up ignores application cursor mode", appCursor, fn(Key::up, shift), "\033[1;2A"},
        {"Ctrl+Left", legacy, fn(Key::left, ctrl), "\033[1;5D"},
        {"Alt+Right", legacy, fn(Key::right, alt), "\033[1;3C"},
        {"Home in application cursor mode", appCursor, fn(Key::home), "\033OH"},
        {"End", legacy, fn(Key::end), "\033[F"},
        {"Insert", legacy, fn(Key::insert), "\033[2~"},
        {"Delete", legacy, fn(Key::delete_), "\033[3~"},
        {"Ctrl+Shift+Delete", legacy, fn(Key::delete_, Mods{ctrl, shift}), "\033[3;6~"},
        {"Page Up", legacy, fn(Key::pageUp), "\033[5~"},
        {"Alt+Page Down", legacy, fn(Key::pageDown, alt), "\033[6;3~"},
        {"F1", legacy, fn(Key::f1), "\033OP"},
        {"F3 keeps SS3 R", legacy, fn(Key::f3), "\033OR"},
        {"Shift+F3", legacy, fn(Key::f3, shift), "\033[1;2R"},
        {"Ctrl+Alt+Shift+F4", legacy, fn(Key::f4, Mods{ctrl, alt, shift}), "\033[1;8S"},
        {"Ctrl+F5", legacy, fn(Key::f5, ctrl), "\033[15;5~"},
        {"F12", legacy, fn(Key::f12), "\033[24~"},
        {"F13 is Shift+F1", legacy, fn(Key::f13), "\033[1;2P"},
        {"F13 ignores held modifiers", legacy, fn(Key::f13, ctrl), "\033[1;2P"},
        {"F24 is Shift+F12", legacy, fn(Key::f24), "\033[24;2~"},
        {"F25 is Ctrl+F1", legacy, fn(Key::f25), "\033[1;5P"},
        {"F35 is Ctrl+F11", legacy, fn(Key::f35), "\033[23;5~"},
        {"Super+F1 sends nothing", legacy, fn(Key::f1, Mods::super), std::nullopt},
        {"Hyper+Up sends nothing", legacy, fn(Key::up, Mods::hyper), std::nullopt},
        {"Meta+Enter sends nothing", legacy, fn(Key::enter, Mods::meta), std::nullopt},
        {"release of Up", legacy, fn(Key::up, {}, release), std::nullopt},
        {"repeat of Up", legacy, fn(Key::up, {}, repeat), "\033[A"},
        {"Caps Lock does not change Up", legacy, fn(Key::up, caps), "\033[A"},
        {"Num Lock does not change Shift+F1", legacy, fn(Key::f1, Mods{Mods::numLock, shift}),
         "\033[1;2P"},
        {"media keys have no legacy sequence", legacy, fn(Key::mediaPlay), std::nullopt},
        {"Print Screen has none either", legacy, fn(Key::printScreen), std::nullopt},
        {"modifier keys are not reported", legacy, fn(Key::leftShift, shift), std::nullopt},
    });
}

TEST(KittyKeyboardEncoder, LegacyEnterTabEscapeBackspace) {
    expectVectors({
        {"Enter", legacy, fn(Key::enter), "\r"},
        {"Alt+Enter", legacy, fn(Key::enter, alt), "\033\r"},
        {"Tab", legacy, fn(Key::tab), "\t"},
        {"Shift+Tab", legacy, fn(Key::tab, shift), "\033[Z"},
        {"Alt+Shift+Tab", legacy, fn(Key::tab, Mods{alt, shift}), "\033\033[Z"},
        {"Escape", legacy, fn(Key::escape), "\033"},
        {"Alt+Escape", legacy, fn(Key::escape, alt), "\033\033"},
        {"Backspace", legacy, fn(Key::backspace), "\177"},
        {"Alt+Backspace", legacy, fn(Key::backspace, alt), "\033\177"},
        {"Ctrl+Backspace", legacy, fn(Key::backspace, ctrl), "\b"},
        {"Backspace sending Control-H", controlH, fn(Key::backspace), "\b"},
        {"release of Enter", legacy, fn(Key::enter, {}, release), std::nullopt},
    });
}

TEST(KittyKeyboardEncoder, LegacyKeypad) {
    expectVectors({
        {"digit with text", legacy, fn(Key::keypad5, {}, press, U"5"), "5"},
        {"Alt+digit with text", legacy, fn(Key::keypad5, alt, press, U"5"), "\0335"},
        {"Ctrl+digit keeps its text", legacy, fn(Key::keypad7, ctrl, press, U"7"), "7"},
        {"Enter", legacy, fn(Key::keypadEnter), "\r"},
        {"Alt+Enter", legacy, fn(Key::keypadEnter, alt), "\033\r"},
        {"Left never uses SS3", appCursor, fn(Key::keypadLeft), "\033[D"},
        {"Shift+Left", legacy, fn(Key::keypadLeft, shift), "\033[1;2D"},
        {"Home", legacy, fn(Key::keypadHome), "\033[H"},
        {"Page Up", legacy, fn(Key::keypadPageUp), "\033[5~"},
        {"Ctrl+Delete", legacy, fn(Key::keypadDelete, ctrl), "\033[3;5~"},
        {"Insert", legacy, fn(Key::keypadInsert), "\033[2~"},
        {"Begin without text", legacy, fn(Key::keypadBegin), std::nullopt},
        {"digit without text", legacy, fn(Key::keypad3), std::nullopt},
        {"application keypad needs no modifier", appKeypad, fn(Key::keypad5, shift, press, U"5"),
         "5"},
        {"Caps Lock keeps the application keypad", appKeypad, fn(Key::keypad5, caps, press, U"5"),
         "\033Ou"},
        {"application keypad, Super sends nothing", appKeypad, fn(Key::keypad5, Mods::super),
         std::nullopt},
    });
}

TEST(KittyKeyboardEncoder, ApplicationKeypadLetters) {
    const std::pair<Key, char> rows[] = {
        {Key::keypad0, 'p'},        {Key::keypadInsert, 'p'},    {Key::keypad1, 'q'},
        {Key::keypadEnd, 'q'},      {Key::keypad2, 'r'},         {Key::keypadDown, 'r'},
        {Key::keypad3, 's'},        {Key::keypadPageDown, 's'},  {Key::keypad4, 't'},
        {Key::keypadLeft, 't'},     {Key::keypad5, 'u'},         {Key::keypadBegin, 'u'},
        {Key::keypad6, 'v'},        {Key::keypadRight, 'v'},     {Key::keypad7, 'w'},
        {Key::keypadHome, 'w'},     {Key::keypad8, 'x'},         {Key::keypadUp, 'x'},
        {Key::keypad9, 'y'},        {Key::keypadPageUp, 'y'},    {Key::keypadDecimal, 'n'},
        {Key::keypadDelete, 'n'},   {Key::keypadDivide, 'o'},    {Key::keypadMultiply, 'j'},
        {Key::keypadSubtract, 'm'}, {Key::keypadAdd, 'k'},       {Key::keypadEnter, 'M'},
        {Key::keypadEqual, 'X'},    {Key::keypadSeparator, 'l'},
    };
    for (const auto& [key, letter] : rows) {
        SCOPED_TRACE(int(key));
        EXPECT_EQ(encode(appKeypad, fn(key, {}, press, U"7")), std::string("\033O") + letter);
    }
}

TEST(KittyKeyboardEncoder, LegacyCharacterKeys) {
    expectVectors({
        {"typed text", legacy, ch('a', {}, U"a"), "a"},
        {"release of typed text", withFlags(Flags()), ch('a', {}, U"a", release), std::nullopt},
        {"Ctrl+a", legacy, ch('a', ctrl), "\x01"},
        {"Ctrl with an upper-case key", legacy, ch('A', ctrl), "\x01"},
        {"Alt+a", legacy, ch('a', alt), "\033a"},
        {"Alt+Ctrl+a", legacy, ch('a', Mods{alt, ctrl}), "\033\x01"},
        {"Shift without text sends the shifted key", legacy,
         withAlternates(ch('a', shift), U'A', std::nullopt), "A"},
        {"Ctrl+Shift+a takes the CSI u form", legacy, ch('a', Mods{ctrl, shift}), "\033[97;6u"},
        {"lock bits are dropped from that form", legacy, ch('a', Mods{ctrl, shift, caps}),
         "\033[97;6u"},
        {"Super+a takes the CSI u form", legacy, ch('a', Mods::super), "\033[97;9u"},
        {"Ctrl with an unmapped character sends it", legacy, ch(U'é', ctrl), "\xC3\xA9"},
        {"Kelvin sign lower-cases to k", legacy, ch(U'\u212A', ctrl), "\x0B"},
        {"dotted capital I lower-cases to two scalars", legacy, ch(U'\u0130', ctrl), "\xC4\xB0"},
        {"a surrogate is no character", legacy, ch(0xD800, alt), "\033[55296;3u"},
        {"a key without a character", legacy, KittyKeyEvent{}, "\033[0u"},
    });
}

TEST(KittyKeyboardEncoder, LegacyControlMapping) {
    const std::pair<char32_t, uint8_t> pairs[] = {
        {' ', 0},  {'/', 31},  {'0', 48}, {'1', 49},  {'2', 0},  {'3', 27},  {'4', 28},
        {'5', 29}, {'6', 30},  {'7', 31}, {'8', 127}, {'9', 57}, {'?', 127}, {'@', 0},
        {'[', 27}, {'\\', 28}, {']', 29}, {'^', 30},  {'_', 31}, {'~', 30},
    };
    for (const auto& [character, byte] : pairs) {
        SCOPED_TRACE(uint32_t(character));
        EXPECT_EQ(encode(legacy, ch(character, ctrl)), std::string(1, char(byte)));
    }
    for (char32_t letter = 'a'; letter <= 'z'; ++letter) {
        SCOPED_TRACE(uint32_t(letter));
        EXPECT_EQ(encode(legacy, ch(letter, ctrl)), std::string(1, char(letter - 'a' + 1)));
    }
    // Outside the table Ctrl adds nothing.
    EXPECT_EQ(encode(legacy, ch('=', ctrl)), "=");
}

TEST(KittyKeyboardEncoder, Disambiguate) {
    const auto encoder = withFlags(Flags::disambiguate);
    KittyKeyboardEncoder cursorApp = encoder;
    cursorApp.applicationCursor = true;
    KittyKeyboardEncoder withControlH = encoder;
    withControlH.backspaceSendsControlH = true;
    expectVectors({
        {"Escape", encoder, fn(Key::escape), "\033[27u"},
        {"Alt+Escape", encoder, fn(Key::escape, alt), "\033[27;3u"},
        {"plain Enter", encoder, fn(Key::enter), "\r"},
        {"Ctrl+Enter", encoder, fn(Key::enter, ctrl), "\033[13;5u"},
        {"Shift+Tab", encoder, fn(Key::tab, shift), "\033[9;2u"},
        {"Ctrl+Backspace", encoder, fn(Key::backspace, ctrl), "\033[127;5u"},
        {"plain Backspace sending Control-H", withControlH, fn(Key::backspace), "\b"},
        {"Up ignores application cursor mode", cursorApp, fn(Key::up), "\033[A"},
        {"F1", encoder, fn(Key::f1), "\033[P"},
        {"F3", encoder, fn(Key::f3), "\033[13~"},
        {"Shift+Delete", encoder, fn(Key::delete_, shift), "\033[3;2~"},
        {"F13", encoder, fn(Key::f13), "\033[57376u"},
        {"media key", encoder, fn(Key::mediaPlay), "\033[57428u"},
        {"plain a", encoder, ch('a', {}, U"a"), "a"},
        {"Shift+a", encoder, ch('a', shift, U"A"), "A"},
        {"Alt+a", encoder, ch('a', alt, U"\u00E5"), "\033[97;3u"},
        {"Ctrl+a", encoder, ch('a', ctrl, U"\x01"), "\033[97;5u"},
        {"Ctrl+a with Caps Lock", encoder, ch('a', Mods{ctrl, caps}, U"\x01"), "\033[97;69u"},
        {"Caps Lock with Up", encoder, fn(Key::up, caps), "\033[1;65A"},
        {"release without reportEvents", encoder, fn(Key::escape, {}, release), std::nullopt},
    });
}

TEST(KittyKeyboardEncoder, ReportEvents) {
    const auto events = withFlags(Flags::reportEvents);
    const auto both = withFlags(Flags{Flags::disambiguate, Flags::reportEvents});
    KittyKeyboardEncoder eventsControlH = events;
    eventsControlH.backspaceSendsControlH = true;
    expectVectors({
        {"press of Up takes the legacy form", events, fn(Key::up), "\033[A"},
        {"release of Up", events, fn(Key::up, {}, release), "\033[1;1:3A"},
        {"repeat of Up", events, fn(Key::up, {}, repeat), "\033[1;1:2A"},
        {"release of Delete", events, fn(Key::delete_, {}, release), "\033[3;1:3~"},
        {"press of F5", events, fn(Key::f5), "\033[15~"},
        {"release of Enter", events, fn(Key::enter, {}, release), std::nullopt},
        {"release of Tab", events, fn(Key::tab, {}, release), std::nullopt},
        {"release of Backspace", events, fn(Key::backspace, {}, release), std::nullopt},
        {"repeat of Enter", events, fn(Key::enter, {}, repeat), "\r"},
        {"Backspace sending Control-H", eventsControlH, fn(Key::backspace), "\b"},
        {"release of Escape without disambiguate", events, fn(Key::escape, {}, release),
         std::nullopt},
        {"release of a letter", events, ch('a', {}, U"a", release), std::nullopt},
        {"release of Escape", both, fn(Key::escape, {}, release), "\033[27;1:3u"},
        {"repeat of Ctrl+a", both, ch('a', ctrl, U"\x01", repeat), "\033[97;5:2u"},
        {"release of Ctrl+Enter", both, fn(Key::enter, ctrl, release), std::nullopt},
    });
}

TEST(KittyKeyboardEncoder, ReportAllKeys) {
    const auto all = withFlags(Flags::reportAllKeys);
    const auto allEvents = withFlags(Flags{Flags::reportAllKeys, Flags::reportEvents});
    expectVectors({
        {"Left Shift", all, fn(Key::leftShift, shift), "\033[57441;2u"},
        {"release of Right Alt", allEvents, fn(Key::rightAlt, {}, release), "\033[57449;1:3u"},
        {"a letter without reportText", all, ch('a', {}, U"a"), "\033[97u"},
        {"Enter", all, fn(Key::enter), "\033[13u"},
        {"Enter whose text is CR", all, fn(Key::enter, {}, press, U"\r"), "\033[13u"},
        {"release of Enter", allEvents, fn(Key::enter, {}, release), "\033[13;1:3u"},
        {"Escape", all, fn(Key::escape), "\033[27u"},
        {"Up", all, fn(Key::up), "\033[A"},
        {"Caps Lock with Up", all, fn(Key::up, caps), "\033[1;65A"},
        {"F3", all, fn(Key::f3), "\033[13~"},
        {"Shift+F3", all, fn(Key::f3, shift), "\033[13;2~"},
        {"repeat of Page Up", allEvents, fn(Key::pageUp, {}, repeat), "\033[5;1:2~"},
        {"Caps Lock key", all, fn(Key::capsLock, caps), "\033[57358;65u"},
        {"Ctrl+Shift+a", all, ch('a', Mods{ctrl, shift}), "\033[97;6u"},
        {"a modifier key without reportAllKeys",
         withFlags(Flags{Flags::disambiguate, Flags::reportEvents}), fn(Key::leftShift, shift),
         std::nullopt},
    });
}

TEST(KittyKeyboardEncoder, ReportTextAndAlternates) {
    const auto text = withFlags(Flags{Flags::reportAllKeys, Flags::reportText});
    const auto textEvents =
        withFlags(Flags{Flags::reportAllKeys, Flags::reportText, Flags::reportEvents});
    const auto alternates = withFlags(Flags{Flags::reportAllKeys, Flags::reportAlternates});
    const auto everything = withFlags(Flags::knownMask);
    const auto disambiguatedAlternates =
        withFlags(Flags{Flags::disambiguate, Flags::reportAlternates});
    constexpr char32_t ef = U'\u0444'; // Cyrillic small ef, on the key of "b"
    constexpr char32_t capitalEf = U'\u0424';
    expectVectors({
        {"plain a", text, ch('a', {}, U"a"), "\033[97;;97u"},
        {"Shift+a", text, ch('a', shift, U"A"), "\033[97;2;65u"},
        {"Shift+a with its shifted key", everything,
         withAlternates(ch('a', shift, U"A"), U'A', std::nullopt), "\033[97:65;2;65u"},
        {"Ctrl+a reports no text", text, ch('a', ctrl, U"\x01"), "\033[97;5u"},
        {"Super+a reports no text", text, ch('a', Mods::super, U"a"), "\033[97;9u"},
        {"Caps Lock does not suppress text", text, ch('a', caps, U"A"), "\033[97;65;65u"},
        {"control characters are left out", text, ch('a', {}, U"\x01\u0085"), "\033[97u"},
        {"release reports no text", textEvents, ch('a', {}, U"a", release), "\033[97;1:3u"},
        {"committed text without a key", text, KittyKeyEvent{.text = U"ab"}, "\033[0;;97:98u"},
        {"keypad digit", text, fn(Key::keypad5, {}, press, U"5"), "\033[57404;;53u"},
        {"Ctrl+keypad digit", text, fn(Key::keypad5, ctrl, press, U"5"), "\033[57404;5u"},
        {"F1 carries no text field", text, fn(Key::f1, {}, press, U"x"), "\033[P"},
        {"Tab carries no text field", text, fn(Key::tab, {}, press, U"x"), "\033[9u"},
        {"base-layout key without shifted key", alternates,
         withAlternates(ch(ef, {}, U"\u0444"), std::nullopt, U'b'), "\033[1092::98u"},
        {"shifted and base-layout key", alternates,
         withAlternates(ch(ef, shift, U"\u0424"), capitalEf, U'b'), "\033[1092:1060:98;2u"},
        {"shifted key without Shift is not written", alternates,
         withAlternates(ch('a', {}, U"a"), U'A', std::nullopt), "\033[97u"},
        {"alternates on the non-text path", disambiguatedAlternates,
         withAlternates(ch(ef, ctrl, U"\x02"), capitalEf, U'b'), "\033[1092::98;5u"},
        {"no alternates without reportAlternates", text,
         withAlternates(ch(ef, shift, U"\u0424"), capitalEf, U'b'), "\033[1092;2;1060u"},
    });
}

TEST(KittyKeyboardEncoder, ComposingAndTextOnEnterOrBackspace) {
    const auto all = withFlags(Flags::reportAllKeys);
    const auto disambiguate = withFlags(Flags::disambiguate);
    const auto allEvents = withFlags(Flags{Flags::reportAllKeys, Flags::reportEvents});
    expectVectors({
        {"a letter while composing", disambiguate, composing(ch('a', {}, U"a")), std::nullopt},
        {"Up while composing", legacy, composing(fn(Key::up)), std::nullopt},
        {"Escape while composing", all, composing(fn(Key::escape)), std::nullopt},
        {"a modifier key while composing", all, composing(fn(Key::leftShift, shift)),
         "\033[57441;2u"},
        {"a modifier key without reportAllKeys", disambiguate, composing(fn(Key::leftShift, shift)),
         std::nullopt},
        {"Enter committing text", legacy, fn(Key::enter, {}, press, U"\u00E9"), "\xC3\xA9"},
        {"Enter committing text under reportAllKeys", all, fn(Key::enter, {}, press, U"\u00E9"),
         "\xC3\xA9"},
        {"that text is sent on release too", allEvents, fn(Key::enter, {}, release, U"\u00E9"),
         "\xC3\xA9"},
        {"Backspace with printable text", legacy, fn(Key::backspace, {}, press, U"x"),
         std::nullopt},
        {"Backspace whose text is DEL", legacy, fn(Key::backspace, {}, press, U"\x7F"), "\177"},
    });
}

TEST(KittyKeyboardEncoder, ValuesNoViewBuildsEncodeWithoutFault) {
    const auto everything = withFlags(Flags::knownMask);
    const std::u32string invalid{char32_t(0xD800), char32_t(0x110000)};
    expectVectors({
        {"functional key outside the enumeration", everything, fn(Key(200)), std::nullopt},
        {"same in legacy mode", legacy, fn(Key(111)), std::nullopt},
        {"largest raw modifiers", everything, ch('a', Mods(INT64_MAX)),
         "\033[97;9223372036854775808u"},
        {"invalid scalars in the text", legacy, ch('a', {}, invalid), "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"largest code point", legacy, ch(0xFFFFFFFF), "\033[4294967295u"},
    });
}

// Decoding every kitty sequence gives back the modifiers and the event type it was made from.
TEST(KittyKeyboardEncoder, KittySequencesRoundTripEveryModifierCombination) {
    const auto everything = withFlags(Flags::knownMask);
    const auto nonText = withFlags(Flags{Flags::disambiguate, Flags::reportEvents});
    const Key functionalKeys[] = {Key::escape,  Key::up,       Key::f3,        Key::f5,
                                  Key::delete_, Key::f13,      Key::keypad5,   Key::mediaStop,
                                  Key::home,    Key::pageDown, Key::leftShift, Key::volumeMute};
    const KittyKeyboardEncoder* encoders[] = {&everything, &nonText};
    for (int64_t raw = 0; raw < 256; ++raw) {
        const Mods mods(raw);
        for (EventType type : {press, repeat, release}) {
            SCOPED_TRACE(testing::Message() << "modifiers " << raw << " type " << int(type));
            for (const KittyKeyboardEncoder* encoder : encoders) {
                for (Key key : functionalKeys) {
                    if (isModifierKey(key) && encoder == &nonText) {
                        continue;
                    }
                    SCOPED_TRACE(int(key));
                    const auto bytes = encode(*encoder, fn(key, mods, type));
                    ASSERT_TRUE(bytes);
                    const auto sequence = parseKeySequence(*bytes);
                    ASSERT_TRUE(sequence) << *bytes;
                    EXPECT_EQ(sequence->modifierParameter() - 1, uint64_t(raw)) << *bytes;
                    EXPECT_EQ(sequence->eventType(),
                              type == press ? std::nullopt : std::optional<uint64_t>(int(type)))
                        << *bytes;
                }
            }

            // A character key under every flag: the text field appears exactly when no
            // shortcut modifier is held and the key is not released.
            const auto bytes =
                encode(everything, withAlternates(ch('a', mods, U"a", type), U'A', U'q'));
            ASSERT_TRUE(bytes);
            const auto sequence = parseKeySequence(*bytes);
            ASSERT_TRUE(sequence) << *bytes;
            EXPECT_EQ(sequence->final, 'u');
            EXPECT_EQ(sequence->at(0, 0), 97u);
            EXPECT_EQ(sequence->at(0, 1),
                      mods.contains(shift) ? std::optional<uint64_t>(65) : std::nullopt);
            EXPECT_EQ(sequence->at(0, 2), 113u);
            EXPECT_EQ(sequence->modifierParameter() - 1, uint64_t(raw));
            const bool textReported =
                type != release && mods.isDisjoint(Mods{alt, ctrl, superHyperMeta});
            EXPECT_EQ(sequence->at(2, 0), textReported ? std::optional<uint64_t>(97) : std::nullopt)
                << *bytes;
        }
    }
}

// The legacy encoding knows only Shift, Alt and Ctrl: the lock bits never change a sequence,
// Super, Hyper and Meta silence it, and the xterm parameter decodes back to the three.
TEST(KittyKeyboardEncoder, LegacySequencesCarryShiftAltCtrlOnly) {
    const Key keys[] = {Key::up,  Key::home, Key::f1,     Key::f3,       Key::f5,
                        Key::f12, Key::f20,  Key::insert, Key::pageDown, Key::keypadLeft};
    const Mods shiftAltCtrl{shift, alt, ctrl};
    const Mods locks{caps, Mods::numLock};
    for (const KittyKeyboardEncoder* encoder : {&legacy, &appCursor}) {
        for (Key key : keys) {
            for (int64_t raw = 0; raw < 256; ++raw) {
                const Mods mods(raw);
                SCOPED_TRACE(testing::Message() << "key " << int(key) << " modifiers " << raw);
                const auto bytes = encode(*encoder, fn(key, mods));
                if (!mods.isDisjoint(superHyperMeta)) {
                    EXPECT_EQ(bytes, std::nullopt);
                    continue;
                }
                ASSERT_TRUE(bytes);
                EXPECT_EQ(bytes, encode(*encoder, fn(key, mods.subtracting(locks))));
                const auto sequence = parseKeySequence(*bytes);
                ASSERT_TRUE(sequence) << *bytes;
                const uint64_t expected = uint64_t(mods.intersection(shiftAltCtrl).rawValue) + 1;
                const bool functionAlias = key == Key::f20; // F20 is Shift+F8
                EXPECT_EQ(sequence->modifierParameter(), functionAlias ? 2 : expected);
            }
        }
    }
}

// Every functional key under every flag combination and modifier set either sends nothing or a
// sequence that parses; nothing else comes out for a key without text.
TEST(KittyKeyboardEncoder, EveryFunctionalKeyGivesWellFormedOutput) {
    for (int64_t flagBits = 0; flagBits <= Flags::knownMask.rawValue; ++flagBits) {
        for (bool cursor : {false, true}) {
            const KittyKeyboardEncoder encoder(Flags(flagBits), cursor, !cursor, cursor);
            for (size_t index = 0; index < kittyFunctionalKeyCount; ++index) {
                const Key key = Key(index);
                for (int64_t raw = 0; raw < 256; raw += 5) {
                    for (EventType type : {press, release}) {
                        const auto bytes = encode(encoder, fn(key, Mods(raw), type));
                        if (!bytes) {
                            continue;
                        }
                        SCOPED_TRACE(testing::Message() << "flags " << flagBits << " key " << index
                                                        << " modifiers " << raw);
                        const bool plainByte = bytes->size() <= 2 &&
                                               (bytes->back() == '\r' || bytes->back() == '\t' ||
                                                bytes->back() == '\177' || bytes->back() == '\b' ||
                                                bytes->back() == '\033');
                        EXPECT_TRUE(plainByte || parseKeySequence(*bytes) ||
                                    (bytes->size() > 3 && parseKeySequence(bytes->substr(1))))
                            << *bytes;
                    }
                }
            }
        }
    }
}
