#include "TextCommand.h"
#include "KeyInput.h"

#include <QList>

namespace veldatron {

const char* selectorName(TextCommand command) {
    switch (command) {
    case TextCommand::insertNewline:
        return "insertNewline:";
    case TextCommand::insertLineBreak:
        return "insertLineBreak:";
    case TextCommand::insertNewlineIgnoringFieldEditor:
        return "insertNewlineIgnoringFieldEditor:";
    case TextCommand::cancelOperation:
        return "cancelOperation:";
    case TextCommand::deleteBackward:
        return "deleteBackward:";
    case TextCommand::deleteWordBackward:
        return "deleteWordBackward:";
    case TextCommand::deleteBackwardByDecomposingPreviousCharacter:
        return "deleteBackwardByDecomposingPreviousCharacter:";
    case TextCommand::deleteToBeginningOfLine:
        return "deleteToBeginningOfLine:";
    case TextCommand::deleteForward:
        return "deleteForward:";
    case TextCommand::deleteWordForward:
        return "deleteWordForward:";
    case TextCommand::insertTab:
        return "insertTab:";
    case TextCommand::insertTabIgnoringFieldEditor:
        return "insertTabIgnoringFieldEditor:";
    case TextCommand::insertBacktab:
        return "insertBacktab:";
    case TextCommand::moveUp:
        return "moveUp:";
    case TextCommand::moveDown:
        return "moveDown:";
    case TextCommand::moveLeft:
        return "moveLeft:";
    case TextCommand::moveRight:
        return "moveRight:";
    case TextCommand::moveUpAndModifySelection:
        return "moveUpAndModifySelection:";
    case TextCommand::moveDownAndModifySelection:
        return "moveDownAndModifySelection:";
    case TextCommand::moveLeftAndModifySelection:
        return "moveLeftAndModifySelection:";
    case TextCommand::moveRightAndModifySelection:
        return "moveRightAndModifySelection:";
    case TextCommand::moveWordLeft:
        return "moveWordLeft:";
    case TextCommand::moveWordRight:
        return "moveWordRight:";
    case TextCommand::moveWordLeftAndModifySelection:
        return "moveWordLeftAndModifySelection:";
    case TextCommand::moveWordRightAndModifySelection:
        return "moveWordRightAndModifySelection:";
    case TextCommand::moveToBeginningOfParagraph:
        return "moveToBeginningOfParagraph:";
    case TextCommand::moveToEndOfParagraph:
        return "moveToEndOfParagraph:";
    case TextCommand::moveToBeginningOfLine:
        return "moveToBeginningOfLine:";
    case TextCommand::moveToEndOfLine:
        return "moveToEndOfLine:";
    case TextCommand::moveToLeftEndOfLine:
        return "moveToLeftEndOfLine:";
    case TextCommand::moveToRightEndOfLine:
        return "moveToRightEndOfLine:";
    case TextCommand::moveToLeftEndOfLineAndModifySelection:
        return "moveToLeftEndOfLineAndModifySelection:";
    case TextCommand::moveToRightEndOfLineAndModifySelection:
        return "moveToRightEndOfLineAndModifySelection:";
    case TextCommand::moveToBeginningOfDocument:
        return "moveToBeginningOfDocument:";
    case TextCommand::moveToEndOfDocument:
        return "moveToEndOfDocument:";
    case TextCommand::moveToBeginningOfDocumentAndModifySelection:
        return "moveToBeginningOfDocumentAndModifySelection:";
    case TextCommand::moveToEndOfDocumentAndModifySelection:
        return "moveToEndOfDocumentAndModifySelection:";
    case TextCommand::scrollToBeginningOfDocument:
        return "scrollToBeginningOfDocument:";
    case TextCommand::scrollToEndOfDocument:
        return "scrollToEndOfDocument:";
    case TextCommand::scrollPageUp:
        return "scrollPageUp:";
    case TextCommand::scrollPageDown:
        return "scrollPageDown:";
    case TextCommand::pageUp:
        return "pageUp:";
    case TextCommand::pageDown:
        return "pageDown:";
    case TextCommand::pageUpAndModifySelection:
        return "pageUpAndModifySelection:";
    case TextCommand::pageDownAndModifySelection:
        return "pageDownAndModifySelection:";
    }
    return "";
}

namespace {

using Flags = KeyModifierFlags;

// One row of the bindings: the command of a key by which of Shift, Alt and Super is held (Ctrl
// is not looked at).
struct Binding {
    TextCommand plain;
    TextCommand shift;
    TextCommand option;
    TextCommand command;
    TextCommand optionShift;
    TextCommand commandShift;
};

TextCommand pick(const Binding& binding, Flags flags) {
    const bool shift = flags.contains(Flags::shift);
    if (flags.contains(Flags::command)) {
        return shift ? binding.commandShift : binding.command;
    }
    if (flags.contains(Flags::option)) {
        return shift ? binding.optionShift : binding.option;
    }
    return shift ? binding.shift : binding.plain;
}

bool isPrintable(const QString& text) {
    for (char32_t c : text.toUcs4()) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || FunctionKeyCharacter::contains(c)) {
            return false;
        }
    }
    return !text.isEmpty();
}

} // namespace

KeyInterpretation interpretKeyEvent(const KeyInput& event) {
    using C = TextCommand;
    const Flags flags = event.modifierFlags;
    switch (event.key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (flags.contains(Flags::control)) {
            return {C::insertLineBreak, {}};
        }
        return {flags.contains(Flags::option) ? C::insertNewlineIgnoringFieldEditor
                                              : C::insertNewline,
                {}};
    case Qt::Key_Escape:
        return {C::cancelOperation, {}};
    case Qt::Key_Backspace:
        if (flags.contains(Flags::control)) {
            return {C::deleteBackwardByDecomposingPreviousCharacter, {}};
        }
        return {pick({C::deleteBackward, C::deleteBackward, C::deleteWordBackward,
                      C::deleteToBeginningOfLine, C::deleteWordBackward,
                      C::deleteToBeginningOfLine},
                     flags),
                {}};
    case Qt::Key_Tab:
        return {flags.contains(Flags::option) ? C::insertTabIgnoringFieldEditor : C::insertTab,
                {}};
    case Qt::Key_Backtab:
        return {C::insertBacktab, {}};
    case Qt::Key_Delete:
        return {flags.contains(Flags::option) ? C::deleteWordForward : C::deleteForward, {}};
    case Qt::Key_Up:
        return {pick({C::moveUp, C::moveUpAndModifySelection, C::moveToBeginningOfParagraph,
                      C::moveToBeginningOfDocument, C::moveToBeginningOfParagraph,
                      C::moveToBeginningOfDocumentAndModifySelection},
                     flags),
                {}};
    case Qt::Key_Down:
        return {pick({C::moveDown, C::moveDownAndModifySelection, C::moveToEndOfParagraph,
                      C::moveToEndOfDocument, C::moveToEndOfParagraph,
                      C::moveToEndOfDocumentAndModifySelection},
                     flags),
                {}};
    case Qt::Key_Left:
        return {pick({C::moveLeft, C::moveLeftAndModifySelection, C::moveWordLeft,
                      C::moveToLeftEndOfLine, C::moveWordLeftAndModifySelection,
                      C::moveToLeftEndOfLineAndModifySelection},
                     flags),
                {}};
    case Qt::Key_Right:
        return {pick({C::moveRight, C::moveRightAndModifySelection, C::moveWordRight,
                      C::moveToRightEndOfLine, C::moveWordRightAndModifySelection,
                      C::moveToRightEndOfLineAndModifySelection},
                     flags),
                {}};
    case Qt::Key_Home:
        return {flags.contains(Flags::shift) ? C::moveToBeginningOfDocumentAndModifySelection
                                             : C::scrollToBeginningOfDocument,
                {}};
    case Qt::Key_End:
        return {flags.contains(Flags::shift) ? C::moveToEndOfDocumentAndModifySelection
                                             : C::scrollToEndOfDocument,
                {}};
    case Qt::Key_PageUp:
        return {pick({C::scrollPageUp, C::pageUpAndModifySelection, C::pageUp, C::scrollPageUp,
                      C::pageUpAndModifySelection, C::pageUpAndModifySelection},
                     flags),
                {}};
    case Qt::Key_PageDown:
        return {pick({C::scrollPageDown, C::pageDownAndModifySelection, C::pageDown,
                      C::scrollPageDown, C::pageDownAndModifySelection,
                      C::pageDownAndModifySelection},
                     flags),
                {}};
    default:
        break;
    }
    // Ctrl and Super make shortcuts, never typing.
    if (flags.contains(Flags::control) || flags.contains(Flags::command)) {
        return {};
    }
    if (isPrintable(event.characters)) {
        return {std::nullopt, event.characters};
    }
    return {};
}

} // namespace veldatron
