#include "EscapeSequences.h"
#include "KittyKeyboardEncoder.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

using namespace veldatron;

namespace {

std::string text(std::span<const uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

std::string legacyKey(Key key, Mods modifiers = {}, bool applicationCursor = false) {
    const KittyKeyboardEncoder encoder(KittyKeyboardFlags(), applicationCursor, false, false);
    const auto bytes = encoder.encode({.key = KittyKey::functional(key), .modifiers = modifiers});
    return bytes ? text(*bytes) : "<nothing>";
}

} // namespace

TEST(EscapeSequences, Values) {
    namespace E = EscapeSequences;
    const std::pair<std::span<const uint8_t>, const char*> rows[] = {
        {E::cmdNewLine, "\x0A"},
        {E::cmdRet, "\x0D"},
        {E::cmdEsc, "\x1B"},
        {E::cmdDel, "\x7F"},
        {E::cmdDelKey, "\x1B[3~"},
        {E::moveUpApp, "\x1BOA"},
        {E::moveUpNormal, "\x1B[A"},
        {E::moveDownApp, "\x1BOB"},
        {E::moveDownNormal, "\x1B[B"},
        {E::moveLeftApp, "\x1BOD"},
        {E::moveLeftNormal, "\x1B[D"},
        {E::moveRightApp, "\x1BOC"},
        {E::moveRightNormal, "\x1B[C"},
        {E::moveHomeApp, "\x1BOH"},
        {E::moveHomeNormal, "\x1B[H"},
        {E::moveEndApp, "\x1BOF"},
        {E::moveEndNormal, "\x1B[F"},
        {E::cmdTab, "\x09"},
        {E::cmdBackTab, "\x1B[Z"},
        {E::cmdPageUp, "\x1B[5~"},
        {E::cmdPageDown, "\x1B[6~"},
        {E::cmdInsert, "\x1B[2~"},
        {E::emacsBack, "\x1B"
                       "b"},
        {E::emacsForward, "\x1B"
                          "f"},
        {E::controlLeft, "\x1B[1;5D"},
        {E::controlRight, "\x1B[1;5C"},
        {E::bracketedPasteStart, "\x1B[200~"},
        {E::bracketedPasteEnd, "\x1B[201~"},
    };
    for (const auto& [bytes, expected] : rows) {
        EXPECT_EQ(text(bytes), expected);
    }

    const char* functionKeys[] = {"\x1BOP",   "\x1BOQ",   "\x1BOR",   "\x1BOS",
                                  "\x1B[15~", "\x1B[17~", "\x1B[18~", "\x1B[19~",
                                  "\x1B[20~", "\x1B[21~", "\x1B[23~", "\x1B[24~"};
    ASSERT_EQ(EscapeSequences::cmdF.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(text(EscapeSequences::cmdF[i]), functionKeys[i]);
    }
}

// The view sends some keys from this table and others through the encoder's legacy path; a
// program must see the same bytes for a key whichever route it took.
TEST(EscapeSequences, AgreeWithTheEncodersLegacyOutput) {
    namespace E = EscapeSequences;
    EXPECT_EQ(legacyKey(Key::up), text(E::moveUpNormal));
    EXPECT_EQ(legacyKey(Key::up, {}, true), text(E::moveUpApp));
    EXPECT_EQ(legacyKey(Key::down), text(E::moveDownNormal));
    EXPECT_EQ(legacyKey(Key::down, {}, true), text(E::moveDownApp));
    EXPECT_EQ(legacyKey(Key::left), text(E::moveLeftNormal));
    EXPECT_EQ(legacyKey(Key::left, {}, true), text(E::moveLeftApp));
    EXPECT_EQ(legacyKey(Key::right), text(E::moveRightNormal));
    EXPECT_EQ(legacyKey(Key::right, {}, true), text(E::moveRightApp));
    EXPECT_EQ(legacyKey(Key::home), text(E::moveHomeNormal));
    EXPECT_EQ(legacyKey(Key::home, {}, true), text(E::moveHomeApp));
    EXPECT_EQ(legacyKey(Key::end), text(E::moveEndNormal));
    EXPECT_EQ(legacyKey(Key::end, {}, true), text(E::moveEndApp));
    EXPECT_EQ(legacyKey(Key::left, Mods::ctrl), text(E::controlLeft));
    EXPECT_EQ(legacyKey(Key::right, Mods::ctrl), text(E::controlRight));
    EXPECT_EQ(legacyKey(Key::delete_), text(E::cmdDelKey));
    EXPECT_EQ(legacyKey(Key::insert), text(E::cmdInsert));
    EXPECT_EQ(legacyKey(Key::pageUp), text(E::cmdPageUp));
    EXPECT_EQ(legacyKey(Key::pageDown), text(E::cmdPageDown));
    EXPECT_EQ(legacyKey(Key::enter), text(E::cmdRet));
    EXPECT_EQ(legacyKey(Key::tab), text(E::cmdTab));
    EXPECT_EQ(legacyKey(Key::tab, Mods::shift), text(E::cmdBackTab));
    EXPECT_EQ(legacyKey(Key::escape), text(E::cmdEsc));
    EXPECT_EQ(legacyKey(Key::backspace), text(E::cmdDel));
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(legacyKey(Key(size_t(Key::f1) + i)), text(E::cmdF[i]));
    }

    const KittyKeyboardEncoder encoder(KittyKeyboardFlags(), false, false, false);
    const auto altB = encoder.encode({.key = KittyKey::unicode('b'), .modifiers = Mods::alt});
    const auto altF = encoder.encode({.key = KittyKey::unicode('f'), .modifiers = Mods::alt});
    ASSERT_TRUE(altB && altF);
    EXPECT_EQ(text(*altB), text(E::emacsBack));
    EXPECT_EQ(text(*altF), text(E::emacsForward));
}
