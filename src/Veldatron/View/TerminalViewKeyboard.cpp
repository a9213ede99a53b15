// Keys to bytes. Two encodings live side by side: while the program has turned on the kitty
// keyboard protocol (the active screen's flags are not empty) every key becomes a kitty key
// event; otherwise cursor, editing, function and keypad keys still go through the key encoder
// (which then gives the xterm sequences) and the other keys take the view's own legacy paths:
// Alt as Meta, the Ctrl mapping, the function-key table and the text system (TextCommand).
//
// Keys that the text system turns into commands (Return, Tab, Escape, Backspace, the cursor and
// page keys) come back through doCommand; the text it makes comes back through insertText,
// which in kitty mode finishes the key press that produced it.

#include "Diagnostics.h"
#include "EscapeSequences.h"
#include "KittyKeyboardEncoder.h"
#include "SelectionService.h"
#include "TerminalView.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>

#include <string>

namespace veldatron {

namespace {

using EventType = KittyKeyboardEventType;
using Flags = KittyKeyboardFlags;
using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;
using F = KeyModifierFlags;

template <size_t N> std::span<const uint8_t> bytes(const std::array<uint8_t, N>& array) {
    return std::span<const uint8_t>(array);
}

std::optional<std::u32string> toScalars(const std::optional<QString>& text) {
    if (!text) {
        return std::nullopt;
    }
    return text->toStdU32String();
}

// The modifier flag a modifier key sets while it is down.
std::optional<F> ownFlag(Key key) {
    switch (key) {
    case Key::leftShift:
    case Key::rightShift:
        return F::shift;
    case Key::leftControl:
    case Key::rightControl:
        return F::control;
    case Key::leftAlt:
    case Key::rightAlt:
        return F::option;
    case Key::leftSuper:
    case Key::rightSuper:
        return F::command;
    default:
        return std::nullopt;
    }
}

} // namespace

// ---- Kitty key events -----------------------------------------------------------------------

KittyKeyboardModifiers TerminalView::kittyModifiers(KeyModifierFlags flags) const {
    Mods modifiers;
    if (flags.contains(F::shift)) {
        modifiers.insert(Mods::shift);
    }
    if (flags.contains(F::control)) {
        modifiers.insert(Mods::ctrl);
    }
    if (flags.contains(F::option) && m_optionAsMetaKey) {
        modifiers.insert(Mods::alt);
    }
    if (flags.contains(F::command)) {
        modifiers.insert(Mods::super);
    }
    if (flags.contains(F::capsLock)) {
        modifiers.insert(Mods::capsLock);
    }
    return modifiers;
}

KittyKeyEvent TerminalView::functionalKeyEvent(KittyFunctionalKey key, const KeyInput& event,
                                               KittyKeyboardEventType eventType,
                                               std::optional<std::u32string> text) const {
    return {.key = KittyKey::functional(key),
            .modifiers = kittyModifiers(event.modifierFlags),
            .eventType = eventType,
            .text = std::move(text),
            .composing = m_kittyIsComposing};
}

std::optional<KittyKeyEvent> TerminalView::kittyTextEvent(const KeyInput& event,
                                                          KittyKeyboardEventType eventType,
                                                          std::optional<std::u32string> text) const {
    const std::optional<char32_t> first = event.firstCharacterIgnoringModifiers();
    if (!first) {
        return std::nullopt;
    }
    const std::u32string lowered = QString::fromUcs4(&*first, 1).toLower().toStdU32String();
    const char32_t key = lowered.empty() ? *first : lowered.front();
    std::optional<char32_t> shifted;
    if (event.modifierFlags.contains(F::shift) && !event.characters.isEmpty()) {
        shifted = char32_t(event.characters.toUcs4().value(0));
    }
    std::optional<char32_t> base = kittyBaseLayoutKey(event.keyCode);
    if (base == key) {
        base.reset();
    }
    return KittyKeyEvent{.key = KittyKey::unicode(key),
                         .modifiers = kittyModifiers(event.modifierFlags),
                         .eventType = eventType,
                         .text = std::move(text),
                         .shiftedKey = shifted,
                         .baseLayoutKey = base,
                         .composing = m_kittyIsComposing};
}

bool TerminalView::sendKittyEvent(const KittyKeyEvent& event) {
    const Terminal& terminal = *m_terminal;
    const KittyKeyboardEncoder encoder(terminal.keyboardEnhancementFlags(),
                                       terminal.applicationCursor(), terminal.applicationKeypad(),
                                       m_backspaceSendsControlH);
    const std::optional<std::vector<uint8_t>> encoded = encoder.encode(event);
    if (!encoded) {
        return false;
    }
    send(std::span<const uint8_t>(*encoded));
    return true;
}

// ---- Key presses ----------------------------------------------------------------------------

void TerminalView::keyDown(const KeyInput& event) {
    const F f = event.modifierFlags;
    const auto flags = [this] { return m_terminal->keyboardEnhancementFlags(); };
    const bool optionToggle = f.contains(F::command) && f.contains(F::option) &&
                              event.charactersIgnoringModifiers == QLatin1String("o");
    m_selection->setActive(false);

    // Super keys are the application's, never typing.
    if (flags().isEmpty() && f.contains(F::command) && !optionToggle) {
        interpretKeyEvents(event);
        return;
    }

    // Cursor, editing, function and keypad keys in the legacy encoding.
    if (flags().isEmpty() && !f.contains(F::command) &&
        (!f.contains(F::option) || m_optionAsMetaKey)) {
        if (const std::optional<Key> key = kittyFunctionalKey(event)) {
            // Page Up and Page Down scroll the view unless the program asked for the keys.
            if ((*key == Key::pageUp || *key == Key::pageDown) &&
                f.isDisjoint(F{F::shift, F::control, F::option}) &&
                !m_terminal->applicationCursor()) {
                *key == Key::pageUp ? pageUp() : pageDown();
                return;
            }
            const EventType type = event.isARepeat ? EventType::repeatPress : EventType::press;
            if (sendKittyEvent(functionalKeyEvent(
                    *key, event, type, toScalars(kittyTextForFunctionalKey(*key, event))))) {
                return;
            }
        }
    }

    if (!flags().isEmpty()) {
        m_pendingKittyKeyEvent.reset();
        if (optionToggle) {
            m_optionAsMetaKey = !m_optionAsMetaKey;
            return;
        }
        const bool repeat = event.isARepeat && flags().contains(Flags::reportEvents);
        const EventType type = repeat ? EventType::repeatPress : EventType::press;
        if (const std::optional<Key> key = kittyFunctionalKey(event)) {
            if (sendKittyEvent(functionalKeyEvent(
                    *key, event, type, toScalars(kittyTextForFunctionalKey(*key, event))))) {
                return;
            }
        }
        if (f.contains(F::control) || (f.contains(F::option) && m_optionAsMetaKey)) {
            if (const auto textEvent = kittyTextEvent(event, type, std::nullopt)) {
                if (sendKittyEvent(*textEvent)) {
                    return;
                }
            }
        }
        // The text system makes the key's text; insertText reports it with this press.
        const bool storedRepeat =
            event.isARepeat && flags().contains(Flags{Flags::reportEvents, Flags::reportAllKeys});
        m_pendingKittyKeyEvent =
            PendingKittyKeyEvent{event, storedRepeat ? EventType::repeatPress : EventType::press};
        interpretKeyEvents(event);
        return;
    }

    // The legacy encoding of the other keys.
    if (f.contains(F::command) && f.contains(F::option)) {
        if (event.charactersIgnoringModifiers == QLatin1String("o")) {
            m_optionAsMetaKey = !m_optionAsMetaKey;
        }
        interpretKeyEvents(event);
        return;
    }
    const std::optional<char32_t> first = event.firstCharacterIgnoringModifiers();
    if (m_optionAsMetaKey && f.contains(F::option)) {
        if (!event.charactersIgnoringModifiers) {
            return;
        }
        if (first == FunctionKeyCharacter::leftArrow) {
            send(bytes(EscapeSequences::emacsBack));
        } else if (first == FunctionKeyCharacter::rightArrow) {
            send(bytes(EscapeSequences::emacsForward));
        } else if (first && FunctionKeyCharacter::contains(*first)) {
            // A key without text and without a sequence of its own (Alt+Menu): the stand-in
            // character is no text for the program.
            return;
        } else {
            send(bytes(EscapeSequences::cmdEsc));
            send(*event.charactersIgnoringModifiers);
        }
        return;
    }
    if (f.contains(F::control)) {
        if (!event.charactersIgnoringModifiers) {
            interpretKeyEvents(event);
            return;
        }
        if (first == FunctionKeyCharacter::leftArrow) {
            send(bytes(EscapeSequences::controlLeft));
        } else if (first == FunctionKeyCharacter::rightArrow) {
            send(bytes(EscapeSequences::controlRight));
        } else {
            const std::optional<uint8_t> control =
                applyControlToEventCharacters(*event.charactersIgnoringModifiers);
            send(control ? std::span<const uint8_t>(&*control, 1) : std::span<const uint8_t>());
        }
        return;
    }
    if (f.contains(F::function)) {
        if (!first) {
            return;
        }
        if (*first >= FunctionKeyCharacter::f1 && *first <= FunctionKeyCharacter::f12) {
            send(EscapeSequences::cmdF[size_t(*first - FunctionKeyCharacter::f1)]);
        } else if (*first == FunctionKeyCharacter::deleteForward) {
            send(bytes(EscapeSequences::cmdDelKey));
        } else if (*first == FunctionKeyCharacter::pageUp) {
            pageUp();
        } else if (*first == FunctionKeyCharacter::pageDown) {
            pageDown();
        } else {
            interpretKeyEvents(event);
        }
        return;
    }
    interpretKeyEvents(event);
}

void TerminalView::interpretKeyEvents(const KeyInput& event) {
    const KeyInterpretation interpretation = interpretKeyEvent(event);
    if (interpretation.command) {
        doCommand(*interpretation.command);
    } else if (!interpretation.text.isEmpty()) {
        insertText(interpretation.text);
    }
}

// ---- Commands of the text system ------------------------------------------------------------

void TerminalView::doCommand(TextCommand command) {
    Terminal& terminal = *m_terminal;
    const bool applicationCursor = terminal.applicationCursor();
    if (!(terminal.keyboardEnhancementFlags().isEmpty() && m_kittyIsComposing)) {
        Mods modifiers;
        if (m_pendingKittyKeyEvent) {
            modifiers = kittyModifiers(m_pendingKittyKeyEvent->event.modifierFlags);
        }
        std::optional<Key> key;
        switch (command) {
        case TextCommand::insertNewline:
            key = Key::enter;
            break;
        case TextCommand::cancelOperation:
            key = Key::escape;
            break;
        case TextCommand::deleteBackward:
            key = Key::backspace;
            break;
        case TextCommand::moveUp:
            key = Key::up;
            break;
        case TextCommand::moveDown:
            key = Key::down;
            break;
        case TextCommand::moveLeft:
            key = Key::left;
            break;
        case TextCommand::moveRight:
            key = Key::right;
            break;
        case TextCommand::insertTab:
            key = Key::tab;
            break;
        case TextCommand::insertBacktab:
            key = Key::tab;
            modifiers.insert(Mods::shift);
            break;
        case TextCommand::moveToBeginningOfLine:
        case TextCommand::scrollToBeginningOfDocument:
            key = Key::home;
            break;
        case TextCommand::moveToEndOfLine:
        case TextCommand::scrollToEndOfDocument:
            key = Key::end;
            break;
        case TextCommand::scrollPageUp:
        case TextCommand::pageUp:
            if (!applicationCursor) {
                pageUp();
                return;
            }
            key = Key::pageUp;
            break;
        case TextCommand::scrollPageDown:
        case TextCommand::pageDown:
            if (!applicationCursor) {
                if (terminal.isCurrentBufferAlternate()) {
                    send(bytes(EscapeSequences::cmdPageDown));
                } else {
                    scrollDown(terminal.rows());
                }
                return;
            }
            key = Key::pageDown;
            break;
        default:
            break;
        }
        if (key && sendKittyEvent(KittyKeyEvent{.key = KittyKey::functional(*key),
                                                .modifiers = modifiers,
                                                .composing = m_kittyIsComposing})) {
            return;
        }
    }

    switch (command) {
    case TextCommand::insertNewline:
        send(bytes(EscapeSequences::cmdRet));
        return;
    case TextCommand::cancelOperation:
        send(bytes(EscapeSequences::cmdEsc));
        return;
    case TextCommand::deleteBackward: {
        const uint8_t byte = m_backspaceSendsControlH ? 0x08 : 0x7F;
        send(std::span<const uint8_t>(&byte, 1));
        return;
    }
    case TextCommand::moveUp:
        send(applicationCursor ? bytes(EscapeSequences::moveUpApp)
                               : bytes(EscapeSequences::moveUpNormal));
        return;
    case TextCommand::moveDown:
        send(applicationCursor ? bytes(EscapeSequences::moveDownApp)
                               : bytes(EscapeSequences::moveDownNormal));
        return;
    case TextCommand::moveLeft:
        sendHorizontalKey(true);
        return;
    case TextCommand::moveRight:
        sendHorizontalKey(false);
        return;
    case TextCommand::insertTab:
        send(bytes(EscapeSequences::cmdTab));
        return;
    case TextCommand::insertBacktab:
        send(bytes(EscapeSequences::cmdBackTab));
        return;
    case TextCommand::moveToBeginningOfLine:
    case TextCommand::scrollToBeginningOfDocument:
        send(applicationCursor ? bytes(EscapeSequences::moveHomeApp)
                               : bytes(EscapeSequences::moveHomeNormal));
        return;
    case TextCommand::moveToEndOfLine:
    case TextCommand::scrollToEndOfDocument:
        send(applicationCursor ? bytes(EscapeSequences::moveEndApp)
                               : bytes(EscapeSequences::moveEndNormal));
        return;
    case TextCommand::scrollPageUp:
    case TextCommand::pageUp:
        if (applicationCursor) {
            send(bytes(EscapeSequences::cmdPageUp));
        } else {
            pageUp();
        }
        return;
    case TextCommand::scrollPageDown:
    case TextCommand::pageDown:
        if (applicationCursor || terminal.isCurrentBufferAlternate()) {
            send(bytes(EscapeSequences::cmdPageDown));
        } else {
            scrollDown(terminal.rows());
        }
        return;
    case TextCommand::pageDownAndModifySelection:
        if (!applicationCursor) {
            send(bytes(EscapeSequences::cmdPageDown));
        }
        return;
    case TextCommand::moveToLeftEndOfLine:
        send(bytes(EscapeSequences::emacsBack));
        return;
    case TextCommand::moveToRightEndOfLine:
        send(bytes(EscapeSequences::emacsForward));
        return;
    default: {
        static DiagnosticSite site;
        site.emit(std::string("Unhandle selector ") + selectorName(command));
        return;
    }
    }
}

void TerminalView::sendHorizontalKey(bool left) {
    // A right-to-left paragraph with the arrow-key swap exchanges the two.
    Terminal& terminal = *m_terminal;
    const Buffer& buffer = terminal.buffer();
    const bool rightToLeft =
        paragraphDirection(buffer.y() + buffer.yBase()) == BidiDirection::rightToLeft;
    const bool sendRight = left == (rightToLeft && terminal.bidiArrowKeySwap());
    if (terminal.applicationCursor()) {
        send(sendRight ? bytes(EscapeSequences::moveRightApp) : bytes(EscapeSequences::moveLeftApp));
    } else {
        send(sendRight ? bytes(EscapeSequences::moveRightNormal)
                       : bytes(EscapeSequences::moveLeftNormal));
    }
}

// ---- Releases and modifier keys -------------------------------------------------------------

void TerminalView::keyUp(const KeyInput& event) {
    const Flags flags = m_terminal->keyboardEnhancementFlags();
    if (!flags.contains(Flags::reportEvents)) {
        return;
    }
    const F f = event.modifierFlags;
    const std::optional<Key> key = kittyFunctionalKey(event);
    const bool reported = f.contains(F::control) || flags.contains(Flags::reportAllKeys) ||
                          (m_optionAsMetaKey && f.contains(F::option)) || key.has_value();
    if (!reported) {
        return;
    }
    if (key) {
        sendKittyEvent(functionalKeyEvent(*key, event, EventType::release, std::nullopt));
        return;
    }
    if (const auto textEvent = kittyTextEvent(event, EventType::release, std::nullopt)) {
        // Tab, Return and Backspace keep their legacy bytes until every key is reported; their
        // releases would reach the program as stray sequences.
        const uint32_t code = textEvent->key.codepoint();
        if (flags.contains(Flags::reportAllKeys) || (code != 9 && code != 13 && code != 127)) {
            sendKittyEvent(*textEvent);
        }
    }
}

void TerminalView::flagsChanged(const KeyInput& event, bool pressed) {
    const std::optional<Key> modifierKey = kittyModifierKey(event);
    // Platforms differ in whether a modifier key's own event holds its modifier: a press holds
    // it and a release does not.
    F f = event.modifierFlags;
    if (const std::optional<F> own = modifierKey ? ownFlag(*modifierKey) : std::nullopt) {
        if (pressed) {
            f.insert(*own);
        } else {
            f.remove(*own);
        }
    }

    // Ctrl is the link modifier: its press shows the link under the pointer.
    if (f.contains(F::control)) {
        m_commandActive = true;
        startTracking();
        previewLinkUnderPointer();
    } else {
        turnOffUrlPreview();
    }

    const Flags flags = m_terminal->keyboardEnhancementFlags();
    if (!flags.contains(Flags::reportAllKeys) || m_kittyIsComposing || !modifierKey) {
        return;
    }
    if (!pressed && !flags.contains(Flags::reportEvents)) {
        return;
    }
    KeyInput normalized = event;
    normalized.modifierFlags = f;
    KittyKeyEvent keyEvent = functionalKeyEvent(
        *modifierKey, normalized, pressed ? EventType::press : EventType::release, std::nullopt);
    // A modifier key reports Alt as alt whatever optionAsMetaKey says.
    if (f.contains(F::option)) {
        keyEvent.modifiers.insert(Mods::alt);
    }
    sendKittyEvent(keyEvent);
}

// ---- Qt events ------------------------------------------------------------------------------

bool TerminalView::isViewShortcut(const QKeyEvent& event) const {
    const QKeySequence pressed(event.keyCombination());
    for (const QAction* action : actions()) {
        if (action->shortcut() == pressed) {
            return true;
        }
    }
    return false;
}

bool TerminalView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys belong to the program in the terminal: the window's shortcuts on Ctrl and Alt
        // (Ctrl+N, menu mnemonics on Alt) would take readline's and Meta's keys away. Super
        // combinations stay the application's, and so do the view's own edit keys.
        auto* key = static_cast<QKeyEvent*>(event);
        if (!(key->modifiers() & Qt::MetaModifier) && !isViewShortcut(*key)) {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void TerminalView::keyPressEvent(QKeyEvent* event) {
    const KeyInput input = KeyInput::from(*event);
    if (input.isModifierKey()) {
        flagsChanged(input, true);
        return;
    }
    keyDown(input);
}

void TerminalView::keyReleaseEvent(QKeyEvent* event) {
    // X11 repeats a held key as release and press pairs: the key is still down.
    if (event->isAutoRepeat()) {
        return;
    }
    const KeyInput input = KeyInput::from(*event);
    if (input.isModifierKey()) {
        flagsChanged(input, false);
        return;
    }
    keyUp(input);
}

bool TerminalView::focusNextPrevChild(bool) {
    return false;
}

} // namespace veldatron
