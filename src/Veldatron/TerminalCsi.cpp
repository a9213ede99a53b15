#include "Terminal.h"

#include <algorithm>

namespace veldatron {

void Terminal::dispatchCsiOther(const SequenceId& sequence, const ParserParams& pars) {
    // By final byte, for the finals dispatchCsi does not route itself. Most handlers do not look
    // at the intermediates (CSI ? 2 J acts as CSI 2 J); where they select the function, the case
    // compares the packed id (sequenceId("?", 'r')), and handlers that take them along check them
    // themselves. Every case ends in one call in tail position; a final whose routing takes more
    // than a compare has its router out of line.
    const std::span<const uint8_t> collect = sequence.collect;
    switch (sequence.final) {
    case '@':
        return cmdInsertChars(pars);
    case 'E':
        return cmdCursorNextLine(pars);
    case 'F':
        return cmdCursorPrecedingLine(pars);
    case 'I':
        return cmdForwardTab(pars);
    case 'J':
        return cmdEraseInDisplay(pars);
    case 'K':
        return cmdEraseInLine(pars);
    case 'L':
        return cmdInsertLines(pars);
    case 'M':
        return cmdDeleteLines(pars);
    case 'P':
        return cmdDeleteChars(pars);
    case 'S':
        if (sequence.id == sequenceId(" ", 'S')) {
            return cmdSelectPresentationDirection(pars);
        }
        return cmdScrollUp(pars);
    case 'T':
        if (collect.empty()) {
            return cmdScrollDown(pars);
        }
        if (sequence.id == sequenceId(">", 'T')) {
            return setTitleModes(pars, false);
        }
        return;
    case 'X':
        return cmdEraseChars(pars);
    case 'Z':
        return cmdBackwardTab(pars);
    case '`':
        return cmdCharPosAbsolute(pars);
    case 'a':
        return cmdHPositionRelative(pars);
    case 'b':
        return cmdRepeatPrecedingCharacter(pars);
    case 'c':
        return cmdSendDeviceAttributes(pars, collect);
    case 'd':
        return cmdLinePosAbsolute(pars);
    case 'e':
        return cmdVPositionRelative(pars);
    case 'f':
        return cmdHVPosition(pars);
    case 'g':
        return cmdTabClear(pars);
    case 'h':
        return cmdSetMode(pars, collect);
    case 'k':
        if (sequence.id == sequenceId(" ", 'k')) {
            return cmdSelectCharacterPath(pars);
        }
        return;
    case 'l':
        return cmdResetMode(pars, collect);
    case 'n':
        return cmdDeviceStatus(pars, collect);
    case 'p':
        return csiPHandler(pars, collect);
    case 'q':
        if (sequence.id == sequenceId(">", 'q')) {
            return cmdXTVERSION(pars, collect);
        }
        return cmdSetCursorStyle(pars, collect);
    case 'r':
        if (sequence.id == sequenceId("?", 'r')) {
            return cmdRestorePrivateModes(pars);
        }
        return cmdSetScrollRegion(pars, collect);
    case 's':
        if (collect.empty()) {
            if (m_marginMode) {
                return cmdSetMargins(pars, collect);
            }
            return cmdSaveCursor();
        }
        if (sequence.id == sequenceId("?", 's')) {
            return cmdSavePrivateModes(pars);
        }
        if (sequence.id == sequenceId(">", 's')) {
            return setShiftEscape(pars);
        }
        return;
    case 't':
        if (collect.empty()) {
            return cmdWindowOptions(pars);
        }
        if (sequence.id == sequenceId(">", 't')) {
            return setTitleModes(pars, true);
        }
        return logUnhandledCsiT(collect);
    case 'u':
        return csiU(pars, collect);
    case 'v':
        return csiCopyRectangularArea(pars, collect);
    case 'x':
        return csiX(pars, collect);
    case 'y':
        return cmdDECRQCRA(pars);
    case 'z':
        return csiZ(pars, collect);
    case '{':
        return csiOpenBrace(pars, collect);
    case '}':
        return csiCloseBrace(pars, collect);
    case '~':
        return cmdDeleteColumns(pars);
    default:
        break;
    }
    return csiFallback(sequence, pars);
}

void Terminal::csiFallback(const SequenceId& sequence, const ParserParams& pars) {
    if (m_parser.csiHandlerFallback) {
        m_parser.csiHandlerFallback(pars, sequence.collect, sequence.final);
    }
}

void Terminal::csiU(const ParserParams& pars, std::span<const uint8_t> collect) {
    // The kitty keyboard forms carry one marker (= > < ?); plain CSI u restores the cursor.
    if (!handleKittyKeyboardProtocol(pars, collect) && collect.empty()) {
        cmdRestoreCursor();
    }
}

void Terminal::logUnhandledCsiT(std::span<const uint8_t> collect) {
    logInfo("Unhandled csiT " + listText(collect));
}

void Terminal::setShiftEscape(const ParserParams& pars) {
    // 1 lets the shift key through to mouse reports, 0 (or nothing) takes it back.
    if (pars[0] == 1) {
        m_mouseShiftCapture = true;
    } else if (pars[0] == 0) {
        m_mouseShiftCapture = false;
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
