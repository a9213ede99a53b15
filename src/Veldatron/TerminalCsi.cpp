#include "Terminal.h"

#include <algorithm>

namespace veldatron {

void Terminal::dispatchCsi(const EscapeSequence& sequence, const ParserParams& pars) {
    // By final byte. Most handlers do not look at the intermediates (CSI ? 2 J acts as CSI 2 J);
    // where they select the function, the case compares the packed id (sequenceId("?", 'r')),
    // and handlers that take them along check them themselves.
    const std::span<const uint8_t> collect = sequence.collect;
    switch (sequence.final) {
    case '@':
        cmdInsertChars(pars);
        return;
    case 'A':
        cmdCursorUp(pars);
        return;
    case 'B':
        cmdCursorDown(pars);
        return;
    case 'C':
        cursorForward(pars[0]);
        return;
    case 'D':
        cursorBackward(pars[0]);
        return;
    case 'E':
        cmdCursorDown(pars);
        m_buffer->setX(m_buffer->marginLeft());
        return;
    case 'F':
        cmdCursorUp(pars);
        m_buffer->setX(m_buffer->marginLeft());
        return;
    case 'G':
        cmdCursorCharAbsolute(pars);
        return;
    case 'H':
        cmdCursorPosition(pars);
        return;
    case 'I':
        cmdForwardTab(pars);
        return;
    case 'J':
        cmdEraseInDisplay(pars);
        return;
    case 'K':
        cmdEraseInLine(pars);
        return;
    case 'L':
        cmdInsertLines(pars);
        return;
    case 'M':
        cmdDeleteLines(pars);
        return;
    case 'P':
        cmdDeleteChars(pars);
        return;
    case 'S':
        if (sequence.id == sequenceId(" ", 'S')) {
            cmdSelectPresentationDirection(pars);
        } else {
            cmdScrollUp(pars);
        }
        return;
    case 'T':
        if (collect.empty()) {
            cmdScrollDown(pars);
        } else if (sequence.id == sequenceId(">", 'T')) {
            setTitleModes(pars, false);
        }
        return;
    case 'X':
        cmdEraseChars(pars);
        return;
    case 'Z':
        cmdBackwardTab(pars);
        return;
    case '`':
        cmdCharPosAbsolute(pars);
        return;
    case 'a':
        cmdHPositionRelative(pars);
        return;
    case 'b':
        cmdRepeatPrecedingCharacter(pars);
        return;
    case 'c':
        cmdSendDeviceAttributes(pars, collect);
        return;
    case 'd':
        cmdLinePosAbsolute(pars);
        return;
    case 'e':
        cmdVPositionRelative(pars);
        return;
    case 'f':
        cmdHVPosition(pars);
        return;
    case 'g':
        cmdTabClear(pars);
        return;
    case 'h':
        cmdSetMode(pars, collect);
        return;
    case 'k':
        if (sequence.id == sequenceId(" ", 'k')) {
            cmdSelectCharacterPath(pars);
        }
        return;
    case 'l':
        cmdResetMode(pars, collect);
        return;
    case 'm':
        cmdCsiM(pars, collect);
        return;
    case 'n':
        cmdDeviceStatus(pars, collect);
        return;
    case 'p':
        if (sequence.id == sequenceId("\"", 'p')) {
            cmdSetConformanceLevel(pars);
            return;
        }
        break;
    case 'q':
        if (sequence.id == sequenceId(">", 'q')) {
            cmdXTVERSION(pars, collect);
            return;
        }
        break;
    case 'r':
        if (sequence.id == sequenceId("?", 'r')) {
            restoreSavedPrivateModes(pars);
        } else {
            cmdSetScrollRegion(pars, collect);
        }
        return;
    case 's':
        if (collect.empty()) {
            if (m_marginMode) {
                cmdSetMargins(pars, collect);
            } else {
                cmdSaveCursor();
            }
        } else if (sequence.id == sequenceId(">", 's')) {
            // Shift-escape: 1 lets the shift key through to mouse reports, 0 takes it back.
            if (pars[0] == 1) {
                m_mouseShiftCapture = true;
            } else if (pars[0] == 0) {
                m_mouseShiftCapture = false;
            }
        }
        return;
    case 't':
        if (sequence.id == sequenceId(">", 't')) {
            setTitleModes(pars, true);
            return;
        }
        if (!collect.empty()) {
            logInfo("Unhandled csiT " + listText(collect));
            return;
        }
        break;
    case 'u':
        if (collect.empty()) {
            cmdRestoreCursor();
        }
        return;
    case 'v':
        csiCopyRectangularArea(pars, collect);
        return;
    case 'x':
        csiX(pars, collect);
        return;
    case 'y':
        cmdDECRQCRA(pars);
        return;
    case 'z':
        csiZ(pars, collect);
        return;
    case '{':
        csiOpenBrace(pars, collect);
        return;
    case '}':
        csiCloseBrace(pars, collect);
        return;
    case '~':
        cmdDeleteColumns(pars);
        return;
    default:
        break;
    }
    if (m_parser.csiHandlerFallback) {
        m_parser.csiHandlerFallback(pars, collect, sequence.final);
    }
}

void Terminal::setTitleModes(const ParserParams& pars, bool on) {
    for (int i = 0; i < pars.size(); ++i) {
        switch (pars[i]) {
        case 0:
            m_xtermTitleSetHex = on;
            break;
        case 1:
            m_xtermTitleQueryHex = on;
            break;
        case 2:
            m_xtermTitleSetUtf = on;
            break;
        case 3:
            m_xtermTitleQueryUtf = on;
            break;
        default:
            break;
        }
    }
}

// ---- Margins --------------------------------------------------------------------------------

void Terminal::cmdSetScrollRegion(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    const int top = std::max(pars[0] - 1, 0);
    int bottom = m_rows;
    if (pars[1] != 0 && pars[1] <= m_rows) {
        bottom = pars[1];
    }
    // A region needs two rows at least; a smaller request keeps the old region.
    if (top < bottom - 1) {
        m_buffer->setScrollTop(top);
        m_buffer->setScrollBottom(bottom - 1);
    }
    setCursor(0, 0);
}

void Terminal::cmdSetMargins(const ParserParams& pars, std::span<const uint8_t> collect) {
    if (!collect.empty()) {
        return;
    }
    const int left = std::max(pars[0] - 1, 0);
    const int right = std::clamp(pars.size() > 1 ? pars[1] - 1 : m_cols - 1, 0, m_cols - 1);
    m_buffer->setMarginLeft(std::min(left, right));
    m_buffer->setMarginRight(right);
}

} // namespace veldatron
