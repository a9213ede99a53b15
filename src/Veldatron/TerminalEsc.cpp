#include "Terminal.h"

namespace veldatron {

namespace {

// The intermediates that designate a set into G0-G3 (94-character: ( ) * +; 96-character:
// - . /). "," designates nothing.
constexpr bool isDesignation(uint8_t intermediate) {
    switch (intermediate) {
    case '(':
    case ')':
    case '*':
    case '+':
    case '-':
    case '.':
    case '/':
        return true;
    default:
        return false;
    }
}

} // namespace

void Terminal::dispatchEsc(const SequenceId& sequence) {
    Buffer& buffer = *m_buffer;
    switch (sequence.id) {
    case sequenceId("", '6'):
        // DECBI
        columnIndex(true);
        return;
    case sequenceId("", '7'):
        cmdSaveCursor();
        return;
    case sequenceId("", '8'):
        cmdRestoreCursor();
        return;
    case sequenceId("", '9'):
        // DECFI
        columnIndex(false);
        return;
    case sequenceId("", '='):
        m_applicationKeypad = true;
        return;
    case sequenceId("", '>'):
        m_applicationKeypad = false;
        return;
    case sequenceId("", 'D'):
        cmdIndex();
        return;
    case sequenceId("", 'E'):
        cmdNextLine();
        return;
    case sequenceId("", 'H'):
        buffer.tabSet(buffer.x());
        return;
    case sequenceId("", 'M'):
        reverseIndex();
        return;
    case sequenceId("", '\\'):
        // The string terminator ST that ends OSC, APC and DCS strings: nothing more to do.
        return;
    case sequenceId("", 'c'):
        m_parser.reset();
        resetToInitialState();
        return;
    case sequenceId("", 'n'):
    case sequenceId("", '}'):
        setgLevel(2);
        return;
    case sequenceId("", 'o'):
    case sequenceId("", '|'):
        setgLevel(3);
        return;
    case sequenceId("", '~'):
        setgLevel(1);
        return;
    case sequenceId("#", '3'):
        setLineRenderMode(BufferLine::RenderLineMode::doubledTop);
        return;
    case sequenceId("#", '4'):
        setLineRenderMode(BufferLine::RenderLineMode::doubledDown);
        return;
    case sequenceId("#", '5'):
        setLineRenderMode(BufferLine::RenderLineMode::single);
        return;
    case sequenceId("#", '6'):
        setLineRenderMode(BufferLine::RenderLineMode::doubleWidth);
        return;
    case sequenceId("#", '8'):
        cmdScreenAlignmentPattern();
        return;
    case sequenceId("%", 'G'):
    case sequenceId("%", '@'):
        // Back to the default character set: G0 invoked and cleared.
        setgLevel(0);
        setgCharset(0, nullptr);
        return;
    case sequenceId(" ", 'F'):
        // S7C1T and S8C1T: the introducers of replies.
        m_cc.send8bit = false;
        return;
    case sequenceId(" ", 'G'):
        m_cc.send8bit = true;
        return;
    default:
        break;
    }
    if (sequence.collect.size() == 1 && isDesignation(sequence.collect[0]) &&
        CharSets::all(sequence.final) != nullptr) {
        const uint8_t request[] = {sequence.collect[0], sequence.final};
        selectCharset(request);
        return;
    }
    if (m_parser.escHandlerFallback) {
        m_parser.escHandlerFallback(sequence.collect, sequence.final);
    }
}

} // namespace veldatron
