#pragma once

#include "KittyFunctionalKey.h"
#include "OptionSet.h"

#include <QString>

#include <cstdint>
#include <optional>

class QKeyEvent;

namespace veldatron {

/// The modifier state of a key event as the view's key handling reads it.
struct KeyModifierFlags : OptionSet<KeyModifierFlags, uint8_t> {
    using OptionSet::OptionSet;

    static const KeyModifierFlags shift;
    static const KeyModifierFlags control;
    /// The Alt key; it acts as Meta while the view's optionAsMetaKey is on.
    static const KeyModifierFlags option;
    /// The Super key: the key for the application's own commands, never encoded as typing.
    static const KeyModifierFlags command;
    static const KeyModifierFlags capsLock;
    /// The key is on the numeric keypad.
    static const KeyModifierFlags numericPad;
    /// The key is a function, cursor or editing key (it has no text of its own).
    static const KeyModifierFlags function;
};

inline constexpr KeyModifierFlags KeyModifierFlags::shift = KeyModifierFlags(1);
inline constexpr KeyModifierFlags KeyModifierFlags::control = KeyModifierFlags(2);
inline constexpr KeyModifierFlags KeyModifierFlags::option = KeyModifierFlags(4);
inline constexpr KeyModifierFlags KeyModifierFlags::command = KeyModifierFlags(8);
inline constexpr KeyModifierFlags KeyModifierFlags::capsLock = KeyModifierFlags(16);
inline constexpr KeyModifierFlags KeyModifierFlags::numericPad = KeyModifierFlags(32);
inline constexpr KeyModifierFlags KeyModifierFlags::function = KeyModifierFlags(64);

/// The characters that stand for keys without text in `charactersIgnoringModifiers`: one
/// private-use code point per function, cursor and editing key, so that every key has a first
/// character to be told apart by.
namespace FunctionKeyCharacter {
inline constexpr char32_t upArrow = 0xF700;
inline constexpr char32_t downArrow = 0xF701;
inline constexpr char32_t leftArrow = 0xF702;
inline constexpr char32_t rightArrow = 0xF703;
inline constexpr char32_t f1 = 0xF704; // F1 to F35 follow in order
inline constexpr char32_t f12 = 0xF70F;
inline constexpr char32_t f18 = 0xF715;
inline constexpr char32_t f19 = 0xF716;
inline constexpr char32_t f35 = 0xF726;
inline constexpr char32_t insert = 0xF727;
inline constexpr char32_t deleteForward = 0xF728;
inline constexpr char32_t home = 0xF729;
inline constexpr char32_t begin = 0xF72A;
inline constexpr char32_t end = 0xF72B;
inline constexpr char32_t pageUp = 0xF72C;
inline constexpr char32_t pageDown = 0xF72D;
inline constexpr char32_t printScreen = 0xF72E;
inline constexpr char32_t scrollLock = 0xF72F;
inline constexpr char32_t pause = 0xF730;
inline constexpr char32_t sysReq = 0xF731;
inline constexpr char32_t breakKey = 0xF732;
inline constexpr char32_t menu = 0xF735;
inline constexpr char32_t clearLine = 0xF739;
inline constexpr char32_t help = 0xF746;

constexpr bool contains(char32_t c) {
    return c >= 0xF700 && c <= 0xF8FF;
}
} // namespace FunctionKeyCharacter

/// One key press or release as the view's key handling reads it: what a QKeyEvent says, in the
/// terms that handling is written in.
///
/// - `characters`: the text the key produces with every modifier applied (a control character
///   with Ctrl); empty for keys without text.
/// - `charactersIgnoringModifiers`: the key's character with Shift alone applied (letters lower
///   case without Shift, Caps Lock ignored); for function, cursor and editing keys the
///   FunctionKeyCharacter of the key; Return, Tab, Escape and Backspace give CR, HT, ESC and
///   DEL. None for a key Qt cannot name (a dead key).
/// - `keyCode`: the X11 key code of the physical key (the kernel's key number plus 8), 0 when
///   unknown; `keysym`: the X11 key symbol, 0 when unknown. Both tell keys apart that Qt names
///   alike (left and right Shift) and find the key's place on a US keyboard.
struct KeyInput {
    int key = 0; // Qt::Key
    KeyModifierFlags modifierFlags;
    QString characters;
    std::optional<QString> charactersIgnoringModifiers;
    bool isARepeat = false;
    quint32 keyCode = 0;
    quint32 keysym = 0;

    static KeyInput from(const QKeyEvent& event);

    /// The first scalar of charactersIgnoringModifiers, none when it is absent or empty.
    std::optional<char32_t> firstCharacterIgnoringModifiers() const;
    /// Shift, Ctrl, Alt, Super, Caps Lock and the other keys that only modify others.
    bool isModifierKey() const;
};

/// The functional key of a key event (cursor, editing, function and keypad keys). Escape,
/// Return, Tab and Backspace are never functional here: they reach the encoder as commands.
std::optional<KittyFunctionalKey> kittyFunctionalKey(const KeyInput& event);

/// The text of a keypad key that types one (digits and operators), none for every other key.
std::optional<QString> kittyTextForFunctionalKey(KittyFunctionalKey key, const KeyInput& event);

/// The modifier key of a modifier-key event (left or right Shift, Control, Alt, Super, Caps
/// Lock...), none for any other key.
std::optional<KittyFunctionalKey> kittyModifierKey(const KeyInput& event);

/// The unshifted character of a physical key on a US keyboard (letters, digits, punctuation and
/// space), by its X11 key code; none for any other key.
std::optional<char32_t> kittyBaseLayoutKey(quint32 keyCode);

/// The byte Ctrl turns a one-byte character into: letters 0x01-0x1A, "[" ESC, "\" 0x1C, "]" 0x1D,
/// "^" and "6" 0x1E, "_" 0x1F, space NUL. Nothing (an empty sequence) for anything else.
std::optional<uint8_t> applyControlToEventCharacters(const QString& characters);

} // namespace veldatron
