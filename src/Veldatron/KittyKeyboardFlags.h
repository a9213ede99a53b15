#pragma once

#include "OptionSet.h"

#include <cstdint>

namespace veldatron {

// The kitty keyboard protocol's progressive enhancements that a program has turned on. The
// terminal keeps one value per screen, already masked with `knownMask`; the empty set means the
// protocol is off and keys take the legacy encodings.
struct KittyKeyboardFlags : OptionSet<KittyKeyboardFlags, int64_t> {
    using OptionSet::OptionSet;

    // Escape, and keys held with Alt or Ctrl, get unambiguous sequences.
    static const KittyKeyboardFlags disambiguate;
    // Repeat and release events are reported, with the event type on the wire.
    static const KittyKeyboardFlags reportEvents;
    // The shifted key and the base-layout key are reported.
    static const KittyKeyboardFlags reportAlternates;
    // Every key, text and modifier keys included, is sent as an escape sequence.
    static const KittyKeyboardFlags reportAllKeys;
    // Together with reportAllKeys, the text a key produces is sent as code points.
    static const KittyKeyboardFlags reportText;
    // The five bits above.
    static const KittyKeyboardFlags knownMask;
};

inline constexpr KittyKeyboardFlags KittyKeyboardFlags::disambiguate = KittyKeyboardFlags(1);
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportEvents = KittyKeyboardFlags(2);
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportAlternates = KittyKeyboardFlags(4);
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportAllKeys = KittyKeyboardFlags(8);
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::reportText = KittyKeyboardFlags(16);
inline constexpr KittyKeyboardFlags KittyKeyboardFlags::knownMask = KittyKeyboardFlags(31);

} // namespace veldatron
