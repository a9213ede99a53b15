#include "KittyFunctionalKey.h"
#include "KittyKeyEvent.h"
#include "KittyKeyboardFlags.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace veldatron;

namespace {

using Flags = KittyKeyboardFlags;
using Form = KittyFunctionalKeyForm;
using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

} // namespace

TEST(KittyKeyboardFlags, MembersAndMask) {
    EXPECT_EQ((Flags{Flags::disambiguate, Flags::reportAllKeys}).rawValue, 9);
    EXPECT_TRUE(Flags().isEmpty());
    Flags all;
    for (Flags member : {Flags::disambiguate, Flags::reportEvents, Flags::reportAlternates,
                         Flags::reportAllKeys, Flags::reportText}) {
        EXPECT_TRUE(Flags::knownMask.contains(member)) << member.rawValue;
        EXPECT_TRUE(all.insert(member)) << "members do not overlap";
    }
    EXPECT_EQ(all, Flags::knownMask);
    EXPECT_EQ(Flags::knownMask.rawValue, 31);

    // A raw value wider than a byte survives: the terminal masks, the type does not.
    const Flags wide(int64_t(0x1'0000'0001));
    EXPECT_EQ(wide.rawValue, 0x1'0000'0001);
    EXPECT_EQ(wide.intersection(Flags::knownMask), Flags::disambiguate);
    EXPECT_EQ(wide.subtracting(Flags::disambiguate).rawValue, 0x1'0000'0000);
}

TEST(KittyKeyboardModifiers, WireParameterIsRawValuePlusOne) {
    struct Case {
        Mods modifiers;
        int64_t parameter;
    };
    const Case cases[] = {
        {Mods(), 1},
        {Mods::shift, 2},
        {Mods{Mods::shift, Mods::ctrl}, 6},
        {Mods{Mods::ctrl, Mods::alt, Mods::shift, Mods::capsLock}, 72},
        {Mods{Mods::super, Mods::hyper, Mods::meta}, 57},
        {Mods{Mods::capsLock, Mods::numLock}, 193},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.modifiers.rawValue + 1, c.parameter);
    }
    const Mods members[] = {Mods::shift, Mods::alt,  Mods::ctrl,     Mods::super,
                            Mods::hyper, Mods::meta, Mods::capsLock, Mods::numLock};
    for (size_t i = 0; i < std::size(members); ++i) {
        EXPECT_EQ(members[i].rawValue, int64_t(1) << i);
    }
}

TEST(KittyKeyboardEventType, FromRawAcceptsOnlyOneToThree) {
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(0), std::nullopt);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(4), std::nullopt);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(-1), std::nullopt);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(1), KittyKeyboardEventType::press);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(2), KittyKeyboardEventType::repeatPress);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(3), KittyKeyboardEventType::release);
    EXPECT_EQ(int(KittyKeyboardEventType::release), 3);
}

TEST(KittyKey, ComparesByCaseAndPayload) {
    EXPECT_EQ(KittyKey::unicode('a'), KittyKey::unicode('a'));
    EXPECT_NE(KittyKey::unicode('a'), KittyKey::unicode('b'));
    EXPECT_NE(KittyKey::unicode(0), KittyKey::none);
    EXPECT_EQ(KittyKey(), KittyKey::none);
    EXPECT_NE(KittyKey::functional(Key::escape), KittyKey::none);
    EXPECT_TRUE(KittyKey::functional(Key::tab).isFunctional(Key::tab));
    EXPECT_FALSE(KittyKey::unicode(9).isFunctional(Key::tab));

    KittyKeyEvent a{.key = KittyKey::unicode('a'), .text = U"a"};
    KittyKeyEvent b = a;
    EXPECT_EQ(a, b);
    b.text = U"";
    EXPECT_NE(a, b) << "empty text differs from other text";
    b.text.reset();
    EXPECT_NE(a, b);
}

// Every code and form the protocol fixes, by key; runs are checked at both ends and for
// consecutive codes below.
TEST(KittyFunctionalKey, EncodingTable) {
    struct Row {
        Key key;
        uint64_t code;
        Form form;
    };
    const Row rows[] = {
        {Key::escape, 27, Form::csiU},
        {Key::enter, 13, Form::csiU},
        {Key::tab, 9, Form::csiU},
        {Key::backspace, 127, Form::csiU},
        {Key::insert, 2, Form::tilde},
        {Key::delete_, 3, Form::tilde},
        {Key::up, 'A', Form::letter},
        {Key::down, 'B', Form::letter},
        {Key::left, 'D', Form::letter},
        {Key::right, 'C', Form::letter},
        {Key::home, 'H', Form::letter},
        {Key::end, 'F', Form::letter},
        {Key::pageUp, 5, Form::tilde},
        {Key::pageDown, 6, Form::tilde},
        {Key::f1, 'P', Form::letter},
        {Key::f2, 'Q', Form::letter},
        {Key::f3, 13, Form::tilde},
        {Key::f4, 'S', Form::letter},
        {Key::f5, 15, Form::tilde},
        {Key::f6, 17, Form::tilde},
        {Key::f7, 18, Form::tilde},
        {Key::f8, 19, Form::tilde},
        {Key::f9, 20, Form::tilde},
        {Key::f10, 21, Form::tilde},
        {Key::f11, 23, Form::tilde},
        {Key::f12, 24, Form::tilde},
        {Key::f13, 57376, Form::csiU},
        {Key::f35, 57398, Form::csiU},
        {Key::menu, 57363, Form::csiU},
        {Key::capsLock, 57358, Form::csiU},
        {Key::scrollLock, 57359, Form::csiU},
        {Key::numLock, 57360, Form::csiU},
        {Key::printScreen, 57361, Form::csiU},
        {Key::pause, 57362, Form::csiU},
        {Key::keypad0, 57399, Form::csiU},
        {Key::keypad9, 57408, Form::csiU},
        {Key::keypadDecimal, 57409, Form::csiU},
        {Key::keypadSeparator, 57416, Form::csiU},
        {Key::keypadLeft, 57417, Form::csiU},
        {Key::keypadBegin, 57427, Form::csiU},
        {Key::mediaPlay, 57428, Form::csiU},
        {Key::mediaRecord, 57437, Form::csiU},
        {Key::volumeDown, 57438, Form::csiU},
        {Key::volumeMute, 57440, Form::csiU},
        {Key::leftShift, 57441, Form::csiU},
        {Key::rightMeta, 57452, Form::csiU},
        {Key::isoLevel3Shift, 57453, Form::csiU},
        {Key::isoLevel5Shift, 57454, Form::csiU},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.key));
        EXPECT_EQ(kittyFunctionalKeyEncoding(row.key),
                  (KittyFunctionalKeyEncoding{row.code, row.form}));
    }
}

TEST(KittyFunctionalKey, CsiUCodesRunConsecutivelyAndNeverRepeat) {
    // Runs in case order; menu (57363) sits after pause in code but before capsLock in order.
    const std::pair<Key, Key> runs[] = {
        {Key::f13, Key::f35},
        {Key::capsLock, Key::pause},
        {Key::keypad0, Key::keypadBegin},
        {Key::mediaPlay, Key::isoLevel5Shift},
    };
    for (const auto& [first, last] : runs) {
        for (size_t i = size_t(first) + 1; i <= size_t(last); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(kittyFunctionalKeyEncoding(Key(i)).code,
                      kittyFunctionalKeyEncoding(Key(i - 1)).code + 1);
        }
    }
    EXPECT_LT(size_t(Key::menu), size_t(Key::capsLock));
    EXPECT_GT(kittyFunctionalKeyEncoding(Key::menu).code,
              kittyFunctionalKeyEncoding(Key::pause).code);

    std::set<uint64_t> csiUCodes;
    int modifierKeys = 0;
    for (size_t i = 0; i < kittyFunctionalKeyCount; ++i) {
        const auto encoding = kittyFunctionalKeyEncoding(Key(i));
        if (encoding.form == Form::csiU) {
            EXPECT_TRUE(csiUCodes.insert(encoding.code).second)
                << "duplicate code " << encoding.code;
        }
        modifierKeys += isModifierKey(Key(i)) ? 1 : 0;
    }
    EXPECT_EQ(modifierKeys, 14);
    EXPECT_EQ(functionKeyNumber(Key::f1), 1);
    EXPECT_EQ(functionKeyNumber(Key::f35), 35);
    EXPECT_EQ(functionKeyNumber(Key::menu), 0);
}

TEST(KittyFunctionalKey, ValueOutsideTheEnumerationReadsAsCodeZero) {
    const auto stray = Key(200);
    EXPECT_FALSE(isKnownFunctionalKey(stray));
    EXPECT_EQ(kittyFunctionalKeyEncoding(stray), (KittyFunctionalKeyEncoding{0, Form::csiU}));
}
