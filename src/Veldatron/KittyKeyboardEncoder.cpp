#include "KittyKeyboardEncoder.h"

#include "UnicodeUtil.h"

#include <unicode/ubrk.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <array>
#include <string>

namespace veldatron {

namespace {

using Bytes = KittyKeyboardEncoder::Bytes;
using EventType = KittyKeyboardEventType;
using Flags = KittyKeyboardFlags;
using Form = KittyFunctionalKeyForm;
using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t TAB = 0x09;
constexpr uint8_t BS = 0x08;
constexpr uint8_t DEL = 0x7F;

constexpr Mods lockBits{Mods::capsLock, Mods::numLock};
constexpr Mods shiftAltCtrl{Mods::shift, Mods::alt, Mods::ctrl};
constexpr Mods superHyperMeta{Mods::super, Mods::hyper, Mods::meta};
// Any of these makes a key a shortcut rather than typing, so its text is not reported.
constexpr Mods textSuppressing{Mods::alt, Mods::ctrl, Mods::super, Mods::hyper, Mods::meta};

void appendCsi(Bytes& out) {
    out.push_back(ESC);
    out.push_back('[');
}

void appendSs3(Bytes& out) {
    out.push_back(ESC);
    out.push_back('O');
}

void appendDecimal(Bytes& out, uint64_t value) {
    std::array<uint8_t, 20> digits{};
    size_t count = 0;
    do {
        digits[count++] = uint8_t('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

// The modifier parameter on the wire: the raw value plus one, so 1 is "no modifier". Computed
// unsigned so that no raw value, however odd, overflows.
uint64_t modifierParameter(Mods modifiers) {
    return uint64_t(modifiers.rawValue) + 1;
}

void appendUtf8(Bytes& out, std::u32string_view text) {
    std::string utf8;
    for (char32_t rune : text) {
        UnicodeUtil::appendUtf8(utf8, rune);
    }
    out.insert(out.end(), utf8.begin(), utf8.end());
}

Bytes utf8Bytes(std::u32string_view text) {
    Bytes out;
    appendUtf8(out, text);
    return out;
}

bool isControlScalar(char32_t rune) {
    return rune <= 0x1F || (rune >= 0x7F && rune <= 0x9F);
}

bool containsControlScalars(std::u32string_view text) {
    for (char32_t rune : text) {
        if (isControlScalar(rune)) {
            return true;
        }
    }
    return false;
}

// The scalars of the text that go into the text field: control characters are left out.
std::u32string textCodepoints(const std::optional<std::u32string>& text) {
    std::u32string result;
    if (text) {
        for (char32_t rune : *text) {
            if (!isControlScalar(rune)) {
                result.push_back(rune);
            }
        }
    }
    return result;
}

bool isUnicodeScalar(uint32_t codepoint) {
    return codepoint <= 0x10FFFF && !(codepoint >= 0xD800 && codepoint <= 0xDFFF);
}

bool hasText(const std::optional<std::u32string>& text) {
    return text && !text->empty();
}

// The byte Ctrl turns a character into, as xterm sends it; 46 characters have one.
std::optional<uint8_t> legacyControlMapping(char32_t rune) {
    if (rune >= 'a' && rune <= 'z') {
        return uint8_t(rune - 'a' + 1);
    }
    switch (rune) {
    case ' ':
    case '2':
    case '@':
        return 0;
    case '3':
    case '[':
        return 27;
    case '4':
    case '\\':
        return 28;
    case '5':
    case ']':
        return 29;
    case '6':
    case '^':
    case '~':
        return 30;
    case '7':
    case '/':
    case '_':
        return 31;
    case '8':
    case '?':
        return 127;
    case '0':
        return 48;
    case '1':
        return 49;
    case '9':
        return 57;
    default:
        return std::nullopt;
    }
}

// The first character of the full lower-case mapping of a scalar, when that character is a
// single scalar. U+212A KELVIN SIGN lower-cases to "k"; U+0130 lower-cases to "i" with a
// combining dot above, one character that is not "i".
std::optional<char32_t> firstLowercasedScalar(char32_t rune) {
    std::array<UChar, 2> source{};
    int32_t sourceLength = 0;
    UBool error = false;
    U16_APPEND(source.data(), sourceLength, int32_t(source.size()), UChar32(rune), error);
    if (error) {
        return std::nullopt;
    }
    std::array<UChar, 8> lowered{};
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strToLower(lowered.data(), int32_t(lowered.size()), source.data(),
                                        sourceLength, "", &status);
    if (U_FAILURE(status) || length <= 0 || length > int32_t(lowered.size())) {
        return std::nullopt;
    }
    int32_t firstEnd = 0;
    UChar32 first = 0;
    U16_NEXT(lowered.data(), firstEnd, length, first);
    if (firstEnd == length) {
        return char32_t(first);
    }
    UBreakIterator* characters = ubrk_open(UBRK_CHARACTER, "", lowered.data(), length, &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    const int32_t boundary = ubrk_following(characters, 0);
    ubrk_close(characters);
    if (boundary != firstEnd) {
        return std::nullopt;
    }
    return char32_t(first);
}

// "; modifiers [: event]" of the letter and tilde forms.
void appendModifierFields(Bytes& out, Mods modifiers, std::optional<EventType> eventType) {
    out.push_back(';');
    appendDecimal(out, modifierParameter(modifiers));
    if (eventType) {
        out.push_back(':');
        appendDecimal(out, uint64_t(*eventType));
    }
}

// CSI [1 ; modifiers [: event]] letter: the number 1 is left out when nothing follows it.
Bytes letterSequence(uint8_t letter, Mods modifiers, std::optional<EventType> eventType) {
    Bytes out;
    appendCsi(out);
    if (!modifiers.isEmpty() || eventType) {
        out.push_back('1');
        appendModifierFields(out, modifiers, eventType);
    }
    out.push_back(letter);
    return out;
}

// CSI number [; modifiers [: event]] ~
Bytes tildeSequence(uint64_t number, Mods modifiers, std::optional<EventType> eventType) {
    Bytes out;
    appendCsi(out);
    appendDecimal(out, number);
    if (!modifiers.isEmpty() || eventType) {
        appendModifierFields(out, modifiers, eventType);
    }
    out.push_back('~');
    return out;
}

// Legacy cursor keys: SS3 or CSI and the letter without modifiers, CSI 1 ; m letter with them.
// `modifier` is the xterm modifier parameter (1 = none).
Bytes legacyNavigationSequence(uint8_t letter, int modifier, bool useApplicationSequence) {
    Bytes out;
    if (modifier == 1) {
        if (useApplicationSequence) {
            appendSs3(out);
        } else {
            appendCsi(out);
        }
    } else {
        appendCsi(out);
        out.push_back('1');
        out.push_back(';');
        appendDecimal(out, uint64_t(modifier));
    }
    out.push_back(letter);
    return out;
}

Bytes legacyTildeSequence(uint64_t number, int modifier) {
    Bytes out;
    appendCsi(out);
    appendDecimal(out, number);
    if (modifier != 1) {
        out.push_back(';');
        appendDecimal(out, uint64_t(modifier));
    }
    out.push_back('~');
    return out;
}

// F1 to F12 with the xterm modifier parameter: SS3 P/Q/R/S for F1 to F4 without modifiers (F3
// included, unlike the kitty form), CSI 1 ; m and the letter with them; tilde numbers from F5.
Bytes legacyFunctionSequence(int baseNumber, int modifier) {
    static constexpr std::array<uint8_t, 4> letters{'P', 'Q', 'R', 'S'};
    static constexpr std::array<uint64_t, 8> tildeNumbers{15, 17, 18, 19, 20, 21, 23, 24};
    if (baseNumber <= 4) {
        return legacyNavigationSequence(letters[size_t(baseNumber - 1)], modifier, true);
    }
    return legacyTildeSequence(tildeNumbers[size_t(baseNumber - 5)], modifier);
}

struct FunctionCapability {
    int baseNumber;
    int modifier;
};

// xterm numbers the modified F1 to F12 on from F13: twelve keys each for Shift, Ctrl,
// Ctrl+Shift, Alt and Alt+Shift. Fn above 12 is sent as that modified F1 to F12.
std::optional<FunctionCapability> legacyFunctionCapability(int number) {
    static constexpr std::array<int, 5> modifiers{2, 5, 6, 3, 4};
    if (number < 13 || number > 72) {
        return std::nullopt;
    }
    const int group = (number - 13) / 12;
    return FunctionCapability{(number - 13) % 12 + 1, modifiers[size_t(group)]};
}

// The SS3 letter of a keypad key in application keypad mode.
uint8_t keypadApplicationLetter(Key key) {
    switch (key) {
    case Key::keypad0:
    case Key::keypadInsert:
        return 'p';
    case Key::keypad1:
    case Key::keypadEnd:
        return 'q';
    case Key::keypad2:
    case Key::keypadDown:
        return 'r';
    case Key::keypad3:
    case Key::keypadPageDown:
        return 's';
    case Key::keypad4:
    case Key::keypadLeft:
        return 't';
    case Key::keypad5:
    case Key::keypadBegin:
        return 'u';
    case Key::keypad6:
    case Key::keypadRight:
        return 'v';
    case Key::keypad7:
    case Key::keypadHome:
        return 'w';
    case Key::keypad8:
    case Key::keypadUp:
        return 'x';
    case Key::keypad9:
    case Key::keypadPageUp:
        return 'y';
    case Key::keypadDecimal:
    case Key::keypadDelete:
        return 'n';
    case Key::keypadDivide:
        return 'o';
    case Key::keypadMultiply:
        return 'j';
    case Key::keypadSubtract:
        return 'm';
    case Key::keypadAdd:
        return 'k';
    case Key::keypadEnter:
        return 'M';
    case Key::keypadEqual:
        return 'X';
    case Key::keypadSeparator:
        return 'l';
    default:
        return 0;
    }
}

// Escape, Enter, Tab and Backspace: the keys whose text is a control character, reported by
// their code alone.
bool isControlKey(Key key) {
    return key == Key::escape || key == Key::enter || key == Key::tab || key == Key::backspace;
}

} // namespace

std::optional<Bytes> KittyKeyboardEncoder::encode(const KittyKeyEvent& event) const {
    const KittyKey& key = event.key;
    const bool functional = key.kind() == KittyKey::Case::functional;
    if (functional && !isKnownFunctionalKey(key.functionalKey())) {
        return std::nullopt;
    }
    const bool release = event.eventType == EventType::release;
    const bool reportEvents = flags.contains(Flags::reportEvents);
    const bool reportAllKeys = flags.contains(Flags::reportAllKeys);
    const bool includeText = flags.contains(Flags{Flags::reportAllKeys, Flags::reportText}) &&
                             !release && event.modifiers.isDisjoint(textSuppressing);
    const bool modifierKey = functional && isModifierKey(key.functionalKey());

    if (release && !reportEvents) {
        return std::nullopt;
    }
    // Until a program asks for all keys, Enter, Tab and Backspace keep their legacy bytes (a
    // shell left with flags by a crashed program still takes commands); a release sequence
    // would reach it as stray input.
    if (release && !reportAllKeys &&
        (key.isFunctional(Key::enter) || key.isFunctional(Key::tab) ||
         key.isFunctional(Key::backspace))) {
        return std::nullopt;
    }
    // The input method owns the keys while it composes; only modifier keys are reported.
    if (event.composing && !(modifierKey && reportAllKeys)) {
        return std::nullopt;
    }
    if (modifierKey && !reportAllKeys) {
        return std::nullopt;
    }
    if (!hasText(event.text)) {
        return reportAllKeys ? encodeAllKeys(event, includeText) : encodeNonText(event);
    }
    // Enter or Backspace that the text system turned into printable text (an input method
    // committing on Enter): the text is what the user typed.
    if ((key.isFunctional(Key::enter) || key.isFunctional(Key::backspace)) &&
        !containsControlScalars(*event.text)) {
        if (key.isFunctional(Key::backspace)) {
            return std::nullopt;
        }
        return utf8Bytes(*event.text);
    }
    if (reportAllKeys) {
        return encodeAllKeys(event, includeText);
    }
    if (functional) {
        return encodeNonText(event);
    }
    if (flags.contains(Flags::disambiguate) &&
        !event.modifiers.isDisjoint(Mods{Mods::alt, Mods::ctrl})) {
        return encodeNonText(event);
    }
    if (release) {
        return std::nullopt;
    }
    return utf8Bytes(*event.text);
}

// Every key as an escape sequence (reportAllKeys). Lock bits are always reported.
std::optional<Bytes> KittyKeyboardEncoder::encodeAllKeys(const KittyKeyEvent& event,
                                                         bool includeText) const {
    const CsiUFields fields{.includeText = false,
                            .includeAlternates = flags.contains(Flags::reportAlternates),
                            .includeEventType = flags.contains(Flags::reportEvents),
                            .includeLocks = true};
    CsiUFields withText = fields;
    withText.includeText = includeText;

    if (event.key.kind() != KittyKey::Case::functional) {
        return encodeCsiU(event, withText);
    }
    const Key key = event.key.functionalKey();
    const KittyFunctionalKeyEncoding encoding = kittyFunctionalKeyEncoding(key);
    std::optional<EventType> eventType;
    if (fields.includeEventType && event.eventType != EventType::press) {
        eventType = event.eventType;
    }
    switch (encoding.form) {
    case Form::letter:
        return letterSequence(uint8_t(encoding.code), event.modifiers, eventType);
    case Form::tilde:
        return tildeSequence(encoding.code, event.modifiers, eventType);
    case Form::csiU:
        return encodeCsiU(event, isControlKey(key) ? fields : withText);
    }
    return std::nullopt;
}

// Keys without text while reportAllKeys is clear: kitty forms where the flags ask for them,
// the legacy sequences where they do not.
std::optional<Bytes> KittyKeyboardEncoder::encodeNonText(const KittyKeyEvent& event) const {
    const bool disambiguate = flags.contains(Flags::disambiguate);
    const CsiUFields fields{.includeText = false,
                            .includeAlternates = flags.contains(Flags::reportAlternates),
                            .includeEventType = flags.contains(Flags::reportEvents),
                            .includeLocks = !flags.isEmpty()};
    const Mods mods = fields.includeLocks ? event.modifiers : event.modifiers.subtracting(lockBits);
    const bool reportedEventType = fields.includeEventType && event.eventType != EventType::press;
    const bool extras = !mods.isEmpty() || reportedEventType;

    if (event.key.kind() != KittyKey::Case::functional) {
        // A character key keeps its legacy bytes unless disambiguation is asked for; where
        // xterm has no byte for the combination (Ctrl+Shift+a) the CSI u form stands in.
        if (event.key.kind() == KittyKey::Case::unicode && !disambiguate) {
            if (auto legacy = legacyTextKeySequence(event)) {
                return legacy;
            }
        }
        return encodeCsiU(event, fields);
    }

    const Key key = event.key.functionalKey();
    if (flags.isEmpty()) {
        return legacyFunctionalKeySequence(key, event);
    }
    if (isControlKey(key)) {
        // A lone ESC byte cannot be told from the start of a sequence, so Escape always takes
        // the kitty form under disambiguate; CR, HT and DEL are unambiguous until modifiers or
        // event types need saying.
        if (disambiguate && (key == Key::escape || extras)) {
            return encodeCsiU(event, fields);
        }
        return legacySpecialKeySequence(key, event.modifiers, event.eventType);
    }

    const KittyFunctionalKeyEncoding encoding = kittyFunctionalKeyEncoding(key);
    std::optional<EventType> eventType;
    if (reportedEventType) {
        eventType = event.eventType;
    }
    switch (encoding.form) {
    case Form::letter: {
        const auto letter = uint8_t(encoding.code);
        if (disambiguate || extras) {
            return letterSequence(letter, mods, eventType);
        }
        Bytes out;
        const bool functionKey = key == Key::f1 || key == Key::f2 || key == Key::f4;
        if (functionKey || applicationCursor) {
            appendSs3(out);
        } else {
            appendCsi(out);
        }
        out.push_back(letter);
        return out;
    }
    case Form::tilde:
        return tildeSequence(encoding.code, mods, eventType);
    case Form::csiU:
        return encodeCsiU(event, fields);
    }
    return std::nullopt;
}

// CSI code [:shifted] [:[:]base] [; modifiers [: event]] [;[;] text code points] u
KittyKeyboardEncoder::Bytes KittyKeyboardEncoder::encodeCsiU(const KittyKeyEvent& event,
                                                             CsiUFields fields) const {
    // Letter and tilde keys have no CSI u code; the callers never send them this way.
    uint64_t code = 0;
    if (event.key.kind() == KittyKey::Case::unicode) {
        code = event.key.codepoint();
    } else if (event.key.kind() == KittyKey::Case::functional) {
        const auto encoding = kittyFunctionalKeyEncoding(event.key.functionalKey());
        code = encoding.form == Form::csiU ? encoding.code : 0;
    }
    const Mods mods = fields.includeLocks ? event.modifiers : event.modifiers.subtracting(lockBits);
    const bool withEventType = fields.includeEventType && event.eventType != EventType::press;
    const bool extras = !mods.isEmpty() || withEventType;
    const std::u32string text = fields.includeText ? textCodepoints(event.text) : std::u32string();

    Bytes out;
    appendCsi(out);
    appendDecimal(out, code);
    if (fields.includeAlternates) {
        bool wroteShifted = false;
        if (event.modifiers.contains(Mods::shift) && event.shiftedKey) {
            out.push_back(':');
            appendDecimal(out, uint64_t(*event.shiftedKey));
            wroteShifted = true;
        }
        if (event.baseLayoutKey) {
            if (!wroteShifted) {
                out.push_back(':');
            }
            out.push_back(':');
            appendDecimal(out, uint64_t(*event.baseLayoutKey));
        }
    }
    if (extras) {
        appendModifierFields(out, mods,
                             withEventType ? std::optional(event.eventType) : std::nullopt);
    }
    if (!text.empty()) {
        out.push_back(';');
        if (!extras) {
            out.push_back(';');
        }
        for (size_t i = 0; i < text.size(); ++i) {
            if (i > 0) {
                out.push_back(':');
            }
            appendDecimal(out, uint64_t(text[i]));
        }
    }
    out.push_back('u');
    return out;
}

// Functional keys while the flags are empty: the xterm sequences. Super, Hyper and Meta have no
// xterm modifier parameter, so keys held with them send nothing rather than a wrong key.
std::optional<Bytes>
KittyKeyboardEncoder::legacyFunctionalKeySequence(KittyFunctionalKey key,
                                                  const KittyKeyEvent& event) const {
    if (event.eventType == EventType::release || !event.modifiers.isDisjoint(superHyperMeta)) {
        return std::nullopt;
    }
    const Mods held = event.modifiers.intersection(shiftAltCtrl);
    const int modifier = int(held.rawValue) + 1;

    if (auto keypad = legacyKeypadSequence(key, event.text, held)) {
        return keypad;
    }
    if (const int number = functionKeyNumber(key); number != 0) {
        if (number <= 12) {
            return legacyFunctionSequence(number, modifier);
        }
        const auto capability = legacyFunctionCapability(number);
        return legacyFunctionSequence(capability->baseNumber, capability->modifier);
    }
    switch (key) {
    case Key::escape:
    case Key::enter:
    case Key::tab:
    case Key::backspace:
        return legacySpecialKeySequence(key, event.modifiers, event.eventType);
    case Key::insert:
        return legacyTildeSequence(2, modifier);
    case Key::delete_:
        return legacyTildeSequence(3, modifier);
    case Key::pageUp:
        return legacyTildeSequence(5, modifier);
    case Key::pageDown:
        return legacyTildeSequence(6, modifier);
    case Key::up:
        return legacyNavigationSequence('A', modifier, applicationCursor);
    case Key::down:
        return legacyNavigationSequence('B', modifier, applicationCursor);
    case Key::right:
        return legacyNavigationSequence('C', modifier, applicationCursor);
    case Key::left:
        return legacyNavigationSequence('D', modifier, applicationCursor);
    case Key::home:
        return legacyNavigationSequence('H', modifier, applicationCursor);
    case Key::end:
        return legacyNavigationSequence('F', modifier, applicationCursor);
    default:
        return std::nullopt;
    }
}

std::optional<Bytes>
KittyKeyboardEncoder::legacySpecialKeySequence(KittyFunctionalKey key,
                                               KittyKeyboardModifiers modifiers,
                                               KittyKeyboardEventType eventType) const {
    if (eventType == EventType::release) {
        return std::nullopt;
    }
    Bytes out;
    if (modifiers.contains(Mods::alt)) {
        out.push_back(ESC);
    }
    switch (key) {
    case Key::escape:
        out.push_back(ESC);
        break;
    case Key::enter:
        out.push_back(CR);
        break;
    case Key::tab:
        if (modifiers.contains(Mods::shift)) {
            appendCsi(out);
            out.push_back('Z');
        } else {
            out.push_back(TAB);
        }
        break;
    case Key::backspace:
        out.push_back(modifiers.contains(Mods::ctrl) || backspaceSendsControlH ? BS : DEL);
        break;
    default:
        return std::nullopt;
    }
    return out;
}

// Keypad keys while the flags are empty; `modifiers` holds only Shift, Alt and Ctrl. Nothing for
// keys outside the keypad, and for keypad keys without a legacy sequence.
std::optional<Bytes>
KittyKeyboardEncoder::legacyKeypadSequence(KittyFunctionalKey key,
                                           const std::optional<std::u32string>& text,
                                           KittyKeyboardModifiers modifiers) const {
    if (!isKeypadKey(key)) {
        return std::nullopt;
    }
    Bytes out;
    if (applicationKeypad && modifiers.isEmpty()) {
        appendSs3(out);
        out.push_back(keypadApplicationLetter(key));
        return out;
    }
    if (modifiers.contains(Mods::alt) && (key == Key::keypadEnter || hasText(text))) {
        out.push_back(ESC);
    }
    if (key == Key::keypadEnter) {
        out.push_back(CR);
        return out;
    }
    if (hasText(text)) {
        appendUtf8(out, *text);
        return out;
    }
    const int modifier = int(modifiers.rawValue) + 1;
    switch (key) {
    case Key::keypadLeft:
        return legacyNavigationSequence('D', modifier, false);
    case Key::keypadRight:
        return legacyNavigationSequence('C', modifier, false);
    case Key::keypadUp:
        return legacyNavigationSequence('A', modifier, false);
    case Key::keypadDown:
        return legacyNavigationSequence('B', modifier, false);
    case Key::keypadHome:
        return legacyNavigationSequence('H', modifier, false);
    case Key::keypadEnd:
        return legacyNavigationSequence('F', modifier, false);
    case Key::keypadPageUp:
        return legacyTildeSequence(5, modifier);
    case Key::keypadPageDown:
        return legacyTildeSequence(6, modifier);
    case Key::keypadInsert:
        return legacyTildeSequence(2, modifier);
    case Key::keypadDelete:
        return legacyTildeSequence(3, modifier);
    default:
        return std::nullopt;
    }
}

// A character key without text, in the legacy encoding: Alt as an ESC prefix, Ctrl through the
// control mapping. Nothing where xterm has no byte for the combination (Ctrl+Shift, Super...),
// and the caller then reports the key in the CSI u form.
std::optional<Bytes> KittyKeyboardEncoder::legacyTextKeySequence(const KittyKeyEvent& event) const {
    const Mods modifiers = event.modifiers;
    if (event.eventType == EventType::release || event.key.kind() != KittyKey::Case::unicode ||
        !isUnicodeScalar(event.key.codepoint()) || !modifiers.isDisjoint(superHyperMeta) ||
        modifiers.contains(Mods{Mods::shift, Mods::ctrl})) {
        return std::nullopt;
    }
    const auto character = char32_t(event.key.codepoint());
    Bytes out;
    if (modifiers.contains(Mods::alt)) {
        out.push_back(ESC);
    }
    if (modifiers.contains(Mods::ctrl)) {
        std::optional<uint8_t> control;
        if (const auto lowered = firstLowercasedScalar(character)) {
            control = legacyControlMapping(*lowered);
        }
        if (!control) {
            control = legacyControlMapping(character);
        }
        if (control) {
            out.push_back(*control);
            return out;
        }
    }
    if (hasText(event.text)) {
        appendUtf8(out, *event.text);
    } else if (modifiers.contains(Mods::shift) && event.shiftedKey) {
        appendUtf8(out, std::u32string_view(&*event.shiftedKey, 1));
    } else {
        appendUtf8(out, std::u32string_view(&character, 1));
    }
    return out;
}

} // namespace veldatron
