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

void Terminal::dispatchEsc(const EscapeSequence& sequence) {
    switch (sequence.id) {
    case sequenceId("", '\\'):
        // The string terminator ST that ends OSC, APC and DCS strings: nothing more to do.
        return;
    case sequenceId("", '7'):
        cmdSaveCursor();
        return;
    case sequenceId("", '8'):
        cmdRestoreCursor();
        return;
    case sequenceId("", 'M'):
        reverseIndex();
        return;
    case sequenceId("", 'c'):
        m_parser.reset();
        resetToInitialState();
        return;
    case sequenceId("%", 'G'):
    case sequenceId("%", '@'):
        // Back to the default character set: G0 invoked and cleared.
        setgLevel(0);
        setgCharset(0, nullptr);
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
