#include "KittyFunctionalKey.h"

#include <array>

namespace veldatron {

namespace {

using Form = KittyFunctionalKeyForm;
using Key = KittyFunctionalKey;

constexpr std::array<KittyFunctionalKeyEncoding, kittyFunctionalKeyCount> buildEncodings() {
    std::array<KittyFunctionalKeyEncoding, kittyFunctionalKeyCount> table{};
    auto set = [&table](Key key, uint64_t code, Form form) { table[size_t(key)] = {code, form}; };
    // A run of keys in case order taking consecutive codes.
    auto run = [&table](Key first, Key last, uint64_t firstCode) {
        for (size_t i = size_t(first); i <= size_t(last); ++i) {
            table[i] = {firstCode + (i - size_t(first)), Form::csiU};
        }
    };

    set(Key::escape, 27, Form::csiU);
    set(Key::enter, 13, Form::csiU);
    set(Key::tab, 9, Form::csiU);
    set(Key::backspace, 127, Form::csiU);
    set(Key::insert, 2, Form::tilde);
    set(Key::delete_, 3, Form::tilde);
    set(Key::up, 'A', Form::letter);
    set(Key::down, 'B', Form::letter);
    set(Key::left, 'D', Form::letter);
    set(Key::right, 'C', Form::letter);
    set(Key::home, 'H', Form::letter);
    set(Key::end, 'F', Form::letter);
    set(Key::pageUp, 5, Form::tilde);
    set(Key::pageDown, 6, Form::tilde);
    set(Key::f1, 'P', Form::letter);
    set(Key::f2, 'Q', Form::letter);
    set(Key::f3, 13, Form::tilde);
    set(Key::f4, 'S', Form::letter);
    const uint64_t f5ToF12[] = {15, 17, 18, 19, 20, 21, 23, 24};
    for (size_t i = 0; i < 8; ++i) {
        table[size_t(Key::f5) + i] = {f5ToF12[i], Form::tilde};
    }
    run(Key::f13, Key::f35, 57376);
    set(Key::menu, 57363, Form::csiU);
    run(Key::capsLock, Key::pause, 57358);
    run(Key::keypad0, Key::keypad9, 57399);
    run(Key::keypadDecimal, Key::keypadSeparator, 57409);
    run(Key::keypadLeft, Key::keypadBegin, 57417);
    run(Key::mediaPlay, Key::mediaRecord, 57428);
    run(Key::volumeDown, Key::volumeMute, 57438);
    run(Key::leftShift, Key::rightMeta, 57441);
    run(Key::isoLevel3Shift, Key::isoLevel5Shift, 57453);
    return table;
}

constexpr auto encodings = buildEncodings();

static_assert(encodings[size_t(Key::f35)].code == 57398);
static_assert(encodings[size_t(Key::keypadBegin)].code == 57427);
static_assert(encodings[size_t(Key::isoLevel5Shift)].code == 57454);

} // namespace

KittyFunctionalKeyEncoding kittyFunctionalKeyEncoding(KittyFunctionalKey key) {
    if (!isKnownFunctionalKey(key)) {
        return {};
    }
    return encodings[size_t(key)];
}

} // namespace veldatron
