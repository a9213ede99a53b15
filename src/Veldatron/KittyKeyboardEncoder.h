#pragma once

#include "KittyKeyEvent.h"
#include "KittyKeyboardFlags.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace veldatron {

// Turns one key event into the bytes the terminal sends to the program running in it. With kitty
// keyboard flags set it produces the kitty protocol's sequences (CSI u, and the letter and tilde
// forms with kitty's extra fields); with the flags empty, the legacy xterm sequences (SS3 and CSI
// cursor keys, tilde keys, function keys, control bytes, Alt as an ESC prefix).
//
// A small value built for each event from the terminal's state and the view's setting; it keeps
// nothing between events. Key encodings are always 7-bit (ESC [ and ESC O), whatever the terminal
// uses for its replies.
class KittyKeyboardEncoder {
public:
    using Bytes = std::vector<uint8_t>;

    // `flags` are the active screen's kitty keyboard flags, `applicationCursor` and
    // `applicationKeypad` the terminal's DECCKM and DECKPAM modes, and `backspaceSendsControlH`
    // the view's setting of that name.
    KittyKeyboardEncoder(KittyKeyboardFlags flags, bool applicationCursor, bool applicationKeypad,
                         bool backspaceSendsControlH)
        : flags(flags), applicationCursor(applicationCursor), applicationKeypad(applicationKeypad),
          backspaceSendsControlH(backspaceSendsControlH) {}

    // The bytes for the event, or none when the key sends nothing.
    std::optional<Bytes> encode(const KittyKeyEvent& event) const;

    KittyKeyboardFlags flags;
    bool applicationCursor = false;
    bool applicationKeypad = false;
    bool backspaceSendsControlH = false;

private:
    // What encodeCsiU writes beside the key code.
    struct CsiUFields {
        bool includeText = false;
        bool includeAlternates = false;
        bool includeEventType = false;
        bool includeLocks = false;
    };

    std::optional<Bytes> encodeAllKeys(const KittyKeyEvent& event, bool includeText) const;
    std::optional<Bytes> encodeNonText(const KittyKeyEvent& event) const;
    Bytes encodeCsiU(const KittyKeyEvent& event, CsiUFields fields) const;

    std::optional<Bytes> legacyFunctionalKeySequence(KittyFunctionalKey key,
                                                     const KittyKeyEvent& event) const;
    std::optional<Bytes> legacySpecialKeySequence(KittyFunctionalKey key,
                                                  KittyKeyboardModifiers modifiers,
                                                  KittyKeyboardEventType eventType) const;
    std::optional<Bytes> legacyKeypadSequence(KittyFunctionalKey key,
                                              const std::optional<std::u32string>& text,
                                              KittyKeyboardModifiers modifiers) const;
    std::optional<Bytes> legacyTextKeySequence(const KittyKeyEvent& event) const;
};

} // namespace veldatron
