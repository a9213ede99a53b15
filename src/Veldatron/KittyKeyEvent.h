#pragma once

#include "KittyFunctionalKey.h"
#include "OptionSet.h"

#include <cstdint>
#include <optional>
#include <string>

namespace veldatron {

// Modifiers held during a key event. On the wire the modifier parameter is the raw value plus
// one, so 1 means no modifier and Shift+Ctrl is 6.
struct KittyKeyboardModifiers : OptionSet<KittyKeyboardModifiers, int64_t> {
    using OptionSet::OptionSet;

    static const KittyKeyboardModifiers shift;
    static const KittyKeyboardModifiers alt;
    static const KittyKeyboardModifiers ctrl;
    static const KittyKeyboardModifiers super;
    static const KittyKeyboardModifiers hyper;
    static const KittyKeyboardModifiers meta;
    static const KittyKeyboardModifiers capsLock;
    static const KittyKeyboardModifiers numLock;
};

inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::shift = KittyKeyboardModifiers(1);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::alt = KittyKeyboardModifiers(2);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::ctrl = KittyKeyboardModifiers(4);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::super = KittyKeyboardModifiers(8);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::hyper = KittyKeyboardModifiers(16);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::meta = KittyKeyboardModifiers(32);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::capsLock =
    KittyKeyboardModifiers(64);
inline constexpr KittyKeyboardModifiers KittyKeyboardModifiers::numLock =
    KittyKeyboardModifiers(128);

// The kind of a key event; the raw value is the number sent on the wire.
enum class KittyKeyboardEventType : uint8_t { press = 1, repeatPress = 2, release = 3 };

// The event type of a wire number, or none for any number but 1, 2 and 3.
constexpr std::optional<KittyKeyboardEventType> kittyKeyboardEventTypeFromRaw(int64_t raw) {
    if (raw < 1 || raw > 3) {
        return std::nullopt;
    }
    return KittyKeyboardEventType(raw);
}

// Which key an event is for: a character key by its code point, a functional key, or none
// (text committed by an input method without a key of its own).
class KittyKey {
public:
    enum class Case : uint8_t { none, unicode, functional };

    static constexpr KittyKey unicode(uint32_t codepoint) {
        return KittyKey(Case::unicode, codepoint, KittyFunctionalKey::escape);
    }
    static constexpr KittyKey functional(KittyFunctionalKey key) {
        return KittyKey(Case::functional, 0, key);
    }
    static const KittyKey none;

    constexpr KittyKey() = default;

    constexpr Case kind() const { return m_case; }
    // Meaningful only for Case::unicode; not necessarily a valid scalar.
    constexpr uint32_t codepoint() const { return m_codepoint; }
    // Meaningful only for Case::functional.
    constexpr KittyFunctionalKey functionalKey() const { return m_functional; }

    constexpr bool isFunctional(KittyFunctionalKey key) const {
        return m_case == Case::functional && m_functional == key;
    }

    friend constexpr bool operator==(const KittyKey&, const KittyKey&) = default;

private:
    constexpr KittyKey(Case c, uint32_t codepoint, KittyFunctionalKey functional)
        : m_case(c), m_codepoint(codepoint), m_functional(functional) {}

    Case m_case = Case::none;
    uint32_t m_codepoint = 0;
    KittyFunctionalKey m_functional = KittyFunctionalKey::escape;
};

inline constexpr KittyKey KittyKey::none = KittyKey();

// One key event as the terminal view describes it to the key encoder.
struct KittyKeyEvent {
    // For a key that produces text, the code point of its character without modifiers, lower-
    // cased; for other keys the functional key.
    KittyKey key = KittyKey::none;
    // The modifiers held, lock bits included.
    KittyKeyboardModifiers modifiers = {};
    KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
    // The text the key produces; may be absent or empty.
    std::optional<std::u32string> text = std::nullopt;
    // The character the key produces with Shift; looked at only while shift is held.
    std::optional<char32_t> shiftedKey = std::nullopt;
    // The key's character in the standard layout; absent when it equals `key`.
    std::optional<char32_t> baseLayoutKey = std::nullopt;
    // An input-method composition is in progress.
    bool composing = false;

    friend bool operator==(const KittyKeyEvent&, const KittyKeyEvent&) = default;
};

} // namespace veldatron
