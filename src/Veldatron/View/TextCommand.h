#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace veldatron {

struct KeyInput;

/// The editing commands that the standard key bindings turn keys into (Return is "insert a new
/// line", Left "move left"...). The view sends bytes for those it knows and reports the others
/// as unhandled by their selector name.
enum class TextCommand : uint8_t {
    insertNewline,
    insertLineBreak,
    insertNewlineIgnoringFieldEditor,
    cancelOperation,
    deleteBackward,
    deleteWordBackward,
    deleteBackwardByDecomposingPreviousCharacter,
    deleteToBeginningOfLine,
    deleteForward,
    deleteWordForward,
    insertTab,
    insertTabIgnoringFieldEditor,
    insertBacktab,
    moveUp,
    moveDown,
    moveLeft,
    moveRight,
    moveUpAndModifySelection,
    moveDownAndModifySelection,
    moveLeftAndModifySelection,
    moveRightAndModifySelection,
    moveWordLeft,
    moveWordRight,
    moveWordLeftAndModifySelection,
    moveWordRightAndModifySelection,
    moveToBeginningOfParagraph,
    moveToEndOfParagraph,
    moveToBeginningOfLine,
    moveToEndOfLine,
    moveToLeftEndOfLine,
    moveToRightEndOfLine,
    moveToLeftEndOfLineAndModifySelection,
    moveToRightEndOfLineAndModifySelection,
    moveToBeginningOfDocument,
    moveToEndOfDocument,
    moveToBeginningOfDocumentAndModifySelection,
    moveToEndOfDocumentAndModifySelection,
    scrollToBeginningOfDocument,
    scrollToEndOfDocument,
    scrollPageUp,
    scrollPageDown,
    pageUp,
    pageDown,
    pageUpAndModifySelection,
    pageDownAndModifySelection,
};

/// The selector name of a command ("insertNewline:"), as diagnostics print it.
const char* selectorName(TextCommand command);

/// What the text system makes of a key press handed to it: a command, typed text, or nothing.
struct KeyInterpretation {
    std::optional<TextCommand> command;
    QString text;
};

/// Interprets a key press the way the platform text system does with its standard key bindings:
/// editing keys become commands, a key that types printable text becomes that text, and a key
/// held with Ctrl or Super types nothing.
KeyInterpretation interpretKeyEvent(const KeyInput& event);

} // namespace veldatron
