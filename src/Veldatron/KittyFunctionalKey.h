#pragma once

#include <cstddef>
#include <cstdint>

namespace veldatron {

// The keys that the kitty keyboard protocol names rather than encoding by a character. The order
// of the cases is part of the type: the encoding table below is indexed by it.
enum class KittyFunctionalKey : uint8_t {
    escape,
    enter,
    tab,
    backspace,
    insert,
    delete_, // `delete` is reserved
    up,
    down,
    left,
    right,
    home,
    end,
    pageUp,
    pageDown,
    // clang-format off
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18,
    f19, f20, f21, f22, f23, f24, f25, f26, f27, f28, f29, f30, f31, f32, f33, f34, f35,
    // clang-format on
    menu,
    capsLock,
    scrollLock,
    numLock,
    printScreen,
    pause,
    // clang-format off
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    // clang-format on
    keypadDecimal,
    keypadDivide,
    keypadMultiply,
    keypadSubtract,
    keypadAdd,
    keypadEnter,
    keypadEqual,
    keypadSeparator,
    keypadLeft,
    keypadRight,
    keypadUp,
    keypadDown,
    keypadPageUp,
    keypadPageDown,
    keypadHome,
    keypadEnd,
    keypadInsert,
    keypadDelete,
    keypadBegin,
    mediaPlay,
    mediaPause,
    mediaPlayPause,
    mediaReverse,
    mediaStop,
    mediaFastForward,
    mediaRewind,
    mediaTrackNext,
    mediaTrackPrevious,
    mediaRecord,
    volumeDown,
    volumeUp,
    volumeMute,
    leftShift,
    leftControl,
    leftAlt,
    leftSuper,
    leftHyper,
    leftMeta,
    rightShift,
    rightControl,
    rightAlt,
    rightSuper,
    rightHyper,
    rightMeta,
    isoLevel3Shift,
    isoLevel5Shift,
};

inline constexpr size_t kittyFunctionalKeyCount = size_t(KittyFunctionalKey::isoLevel5Shift) + 1;
static_assert(kittyFunctionalKeyCount == 111);

// The three shapes of a functional key's sequence:
//   letter  CSI [1 ; modifiers [: event]] letter   (the code is the letter)
//   tilde   CSI number [; modifiers [: event]] ~   (the code is the number)
//   csiU    CSI code [fields] u
enum class KittyFunctionalKeyForm : uint8_t { letter = 0, tilde = 1, csiU = 2 };

struct KittyFunctionalKeyEncoding {
    uint64_t code = 0;
    KittyFunctionalKeyForm form = KittyFunctionalKeyForm::csiU;

    friend constexpr bool operator==(const KittyFunctionalKeyEncoding&,
                                     const KittyFunctionalKeyEncoding&) = default;
};

// The fixed code and form of a functional key: the protocol's table of functional keys, with
// the letter and tilde keys that predate it keeping their xterm numbers (F3 is CSI 13 ~ here,
// although the legacy encoding sends it as SS3 R). A value outside the enumeration reads as
// code 0 in the CSI u form.
KittyFunctionalKeyEncoding kittyFunctionalKeyEncoding(KittyFunctionalKey key);

// Whether the value is one of the enumeration's cases (a cast from an integer may not be).
constexpr bool isKnownFunctionalKey(KittyFunctionalKey key) {
    return size_t(key) < kittyFunctionalKeyCount;
}

// The fourteen modifier keys, leftShift to isoLevel5Shift.
constexpr bool isModifierKey(KittyFunctionalKey key) {
    return key >= KittyFunctionalKey::leftShift && key <= KittyFunctionalKey::isoLevel5Shift;
}

// The keypad keys, keypad0 to keypadBegin.
constexpr bool isKeypadKey(KittyFunctionalKey key) {
    return key >= KittyFunctionalKey::keypad0 && key <= KittyFunctionalKey::keypadBegin;
}

// The number n of the function key Fn (1 to 35), or 0 for any other key.
constexpr int functionKeyNumber(KittyFunctionalKey key) {
    if (key < KittyFunctionalKey::f1 || key > KittyFunctionalKey::f35) {
        return 0;
    }
    return int(key) - int(KittyFunctionalKey::f1) + 1;
}

} // namespace veldatron
