#include "KeyInput.h"

#include <QKeyEvent>

#include <array>
#include <utility>

namespace veldatron {

namespace {

using Key = KittyFunctionalKey;
namespace FK = FunctionKeyCharacter;

// X11 reports Caps Lock in the core protocol's LockMask bit of the native modifiers (so does
// xkb under Wayland); Qt has no modifier of its own for it.
constexpr quint32 nativeLockMask = 0x2;

// The FunctionKeyCharacter of a key without text, 0 for every other key.
char32_t functionCharacter(int key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) {
        return FK::f1 + char32_t(key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Up:
        return FK::upArrow;
    case Qt::Key_Down:
        return FK::downArrow;
    case Qt::Key_Left:
        return FK::leftArrow;
    case Qt::Key_Right:
        return FK::rightArrow;
    case Qt::Key_Insert:
        return FK::insert;
    case Qt::Key_Delete:
        return FK::deleteForward;
    case Qt::Key_Home:
        return FK::home;
    case Qt::Key_End:
        return FK::end;
    case Qt::Key_PageUp:
        return FK::pageUp;
    case Qt::Key_PageDown:
        return FK::pageDown;
    case Qt::Key_Print:
        return FK::printScreen;
    case Qt::Key_ScrollLock:
        return FK::scrollLock;
    case Qt::Key_Pause:
        return FK::pause;
    case Qt::Key_SysReq:
        return FK::sysReq;
    case Qt::Key_Menu:
        return FK::menu;
    case Qt::Key_Clear: // the keypad's 5 without Num Lock
        return FK::clearLine;
    case Qt::Key_Help:
        return FK::help;
    default:
        return 0;
    }
}

QString fromScalar(char32_t scalar) {
    return QString::fromUcs4(&scalar, 1);
}

std::optional<QString> ignoringModifiers(const QKeyEvent& event, bool shift) {
    const int key = event.key();
    if (const char32_t function = functionCharacter(key)) {
        return fromScalar(function);
    }
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QStringLiteral("\r");
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return QStringLiteral("\t");
    case Qt::Key_Escape:
        return QStringLiteral("\x1b");
    case Qt::Key_Backspace:
        return QStringLiteral("\x7f");
    default:
        break;
    }
    // Printable keys are named by their character: upper case for letters whatever Shift says
    // (Key_A), the shifted symbol for the others (Shift+1 is Key_Exclam).
    if (key >= 0x20 && key <= 0x10FFFF && !(key >= 0xD800 && key <= 0xDFFF)) {
        const QString character = fromScalar(char32_t(key));
        return shift ? character : character.toLower();
    }
    if (!event.text().isEmpty()) {
        return event.text();
    }
    return std::nullopt;
}

} // namespace

KeyInput KeyInput::from(const QKeyEvent& event) {
    KeyInput input;
    input.key = event.key();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    KeyModifierFlags& flags = input.modifierFlags;
    if (modifiers & Qt::ShiftModifier) {
        flags.insert(KeyModifierFlags::shift);
    }
    if (modifiers & Qt::ControlModifier) {
        flags.insert(KeyModifierFlags::control);
    }
    if (modifiers & Qt::AltModifier) {
        flags.insert(KeyModifierFlags::option);
    }
    if (modifiers & Qt::MetaModifier) {
        flags.insert(KeyModifierFlags::command);
    }
    if (modifiers & Qt::KeypadModifier) {
        flags.insert(KeyModifierFlags::numericPad);
    }
    if (event.nativeModifiers() & nativeLockMask) {
        flags.insert(KeyModifierFlags::capsLock);
    }
    if (functionCharacter(input.key) != 0) {
        flags.insert(KeyModifierFlags::function);
    }
    input.characters = event.text();
    input.charactersIgnoringModifiers = ignoringModifiers(event, modifiers & Qt::ShiftModifier);
    input.isARepeat = event.isAutoRepeat();
    input.keyCode = event.nativeScanCode();
    input.keysym = event.nativeVirtualKey();
    return input;
}

std::optional<char32_t> KeyInput::firstCharacterIgnoringModifiers() const {
    if (!charactersIgnoringModifiers || charactersIgnoringModifiers->isEmpty()) {
        return std::nullopt;
    }
    return char32_t(charactersIgnoringModifiers->toUcs4().value(0));
}

bool KeyInput::isModifierKey() const {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
        return true;
    default:
        return false;
    }
}

std::optional<KittyFunctionalKey> kittyFunctionalKey(const KeyInput& event) {
    const bool keypad = event.modifierFlags.contains(KeyModifierFlags::numericPad);
    // Keypad keys that type (digits and operators), whatever the modifiers; keypad Enter also
    // when the platform did not mark it as a keypad key.
    if (event.key == Qt::Key_Enter) {
        return Key::keypadEnter;
    }
    if (keypad) {
        if (event.key >= Qt::Key_0 && event.key <= Qt::Key_9) {
            return Key(int(Key::keypad0) + (event.key - Qt::Key_0));
        }
        switch (event.key) {
        case Qt::Key_Period:
            return Key::keypadDecimal;
        case Qt::Key_Comma:
            return Key::keypadSeparator;
        case Qt::Key_Asterisk:
            return Key::keypadMultiply;
        case Qt::Key_Plus:
            return Key::keypadAdd;
        case Qt::Key_Minus:
            return Key::keypadSubtract;
        case Qt::Key_Slash:
            return Key::keypadDivide;
        case Qt::Key_Equal:
            return Key::keypadEqual;
        case Qt::Key_Clear:
            return Key::keypadBegin;
        default:
            break;
        }
    }
    const std::optional<char32_t> c = event.firstCharacterIgnoringModifiers();
    if (!c) {
        return std::nullopt;
    }
    // The keypad's cursor and editing keys (Num Lock off).
    if (keypad) {
        switch (*c) {
        case FK::upArrow:
            return Key::keypadUp;
        case FK::downArrow:
            return Key::keypadDown;
        case FK::leftArrow:
            return Key::keypadLeft;
        case FK::rightArrow:
            return Key::keypadRight;
        case FK::insert:
            return Key::keypadInsert;
        case FK::deleteForward:
            return Key::keypadDelete;
        case FK::home:
            return Key::keypadHome;
        case FK::end:
            return Key::keypadEnd;
        case FK::pageUp:
            return Key::keypadPageUp;
        case FK::pageDown:
            return Key::keypadPageDown;
        default:
            break;
        }
    }
    if (*c >= FK::f1 && *c <= FK::f18) {
        return Key(int(Key::f1) + int(*c - FK::f1));
    }
    if (*c >= FK::f19 && *c <= FK::f35) {
        return Key(int(Key::f19) + int(*c - FK::f19));
    }
    switch (*c) {
    case FK::upArrow:
        return Key::up;
    case FK::downArrow:
        return Key::down;
    case FK::leftArrow:
        return Key::left;
    case FK::rightArrow:
        return Key::right;
    case FK::insert:
        return Key::insert;
    case FK::deleteForward:
        return Key::delete_;
    case FK::home:
        return Key::home;
    case FK::end:
        return Key::end;
    case FK::pageUp:
        return Key::pageUp;
    case FK::pageDown:
        return Key::pageDown;
    case FK::printScreen:
        return Key::printScreen;
    case FK::scrollLock:
        return Key::scrollLock;
    case FK::pause:
        return Key::pause;
    case FK::menu:
        return Key::menu;
    default:
        return std::nullopt;
    }
}

std::optional<QString> kittyTextForFunctionalKey(KittyFunctionalKey key, const KeyInput& event) {
    const bool types = (key >= Key::keypad0 && key <= Key::keypadAdd) ||
                       key == Key::keypadEqual || key == Key::keypadSeparator;
    if (!types) {
        return std::nullopt;
    }
    if (!event.characters.isEmpty()) {
        return event.characters;
    }
    if (event.charactersIgnoringModifiers && !event.charactersIgnoringModifiers->isEmpty()) {
        return event.charactersIgnoringModifiers;
    }
    return std::nullopt;
}

std::optional<KittyFunctionalKey> kittyModifierKey(const KeyInput& event) {
    // The key symbol tells left from right; events made without one (by tests, or by platforms
    // that do not say) count as the left key.
    switch (event.keysym) {
    case 0xffe1:
        return Key::leftShift;
    case 0xffe2:
        return Key::rightShift;
    case 0xffe3:
        return Key::leftControl;
    case 0xffe4:
        return Key::rightControl;
    case 0xffe5:
        return Key::capsLock;
    case 0xffe7:
        return Key::leftMeta;
    case 0xffe8:
        return Key::rightMeta;
    case 0xffe9:
        return Key::leftAlt;
    case 0xffea:
        return Key::rightAlt;
    case 0xffeb:
        return Key::leftSuper;
    case 0xffec:
        return Key::rightSuper;
    case 0xffed:
        return Key::leftHyper;
    case 0xffee:
        return Key::rightHyper;
    case 0xfe03:
        return Key::isoLevel3Shift;
    case 0xfe11:
        return Key::isoLevel5Shift;
    default:
        break;
    }
    switch (event.key) {
    case Qt::Key_Shift:
        return Key::leftShift;
    case Qt::Key_Control:
        return Key::leftControl;
    case Qt::Key_Alt:
        return Key::leftAlt;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return Key::leftSuper;
    case Qt::Key_Super_R:
        return Key::rightSuper;
    case Qt::Key_Hyper_L:
        return Key::leftHyper;
    case Qt::Key_Hyper_R:
        return Key::rightHyper;
    case Qt::Key_CapsLock:
        return Key::capsLock;
    case Qt::Key_AltGr:
        return Key::isoLevel3Shift;
    default:
        return std::nullopt;
    }
}

std::optional<char32_t> kittyBaseLayoutKey(quint32 keyCode) {
    // X11 key codes are the kernel's key numbers plus 8; the rows of a US keyboard.
    static constexpr std::array<std::pair<quint32, char32_t>, 48> table{{
        {10, '1'},  {11, '2'},  {12, '3'},  {13, '4'},  {14, '5'},  {15, '6'},  {16, '7'},
        {17, '8'},  {18, '9'},  {19, '0'},  {20, '-'},  {21, '='},  {24, 'q'},  {25, 'w'},
        {26, 'e'},  {27, 'r'},  {28, 't'},  {29, 'y'},  {30, 'u'},  {31, 'i'},  {32, 'o'},
        {33, 'p'},  {34, '['},  {35, ']'},  {38, 'a'},  {39, 's'},  {40, 'd'},  {41, 'f'},
        {42, 'g'},  {43, 'h'},  {44, 'j'},  {45, 'k'},  {46, 'l'},  {47, ';'},  {48, '\''},
        {49, '`'},  {51, '\\'}, {52, 'z'},  {53, 'x'},  {54, 'c'},  {55, 'v'},  {56, 'b'},
        {57, 'n'},  {58, 'm'},  {59, ','},  {60, '.'},  {61, '/'},  {65, ' '},
    }};
    for (const auto& [code, character] : table) {
        if (code == keyCode) {
            return character;
        }
    }
    return std::nullopt;
}

std::optional<uint8_t> applyControlToEventCharacters(const QString& characters) {
    const QByteArray utf8 = characters.toUtf8();
    if (utf8.size() != 1) {
        return std::nullopt;
    }
    const char c = utf8[0];
    if (c >= 'A' && c <= 'Z') {
        return uint8_t(c - 64);
    }
    if (c >= 'a' && c <= 'z') {
        return uint8_t(c - 96);
    }
    switch (c) {
    case '[':
        return 0x1B;
    case '\\':
        return 0x1C;
    case ']':
        return 0x1D;
    case '^':
    case '6':
        return 0x1E;
    case '_':
        return 0x1F;
    case ' ':
        return 0x00;
    default:
        return std::nullopt;
    }
}

} // namespace veldatron
