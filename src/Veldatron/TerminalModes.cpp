#include "Terminal.h"

#include <chrono>
#include <string>

namespace veldatron {

namespace {

bool isDecPrivate(std::span<const uint8_t> collect) {
    return collect.size() == 1 && collect[0] == '?';
}

// The DECRQM answers.
constexpr int notRecognized = 0;
constexpr int modeSet = 1;
constexpr int modeReset = 2;
constexpr int permanentlyReset = 4;

constexpr int setOrReset(bool on) {
    return on ? modeSet : modeReset;
}

} // namespace

void Terminal::cmdSetMode(const ParserParams& pars, std::span<const uint8_t> collect) {
    for (int i = 0; i < pars.size(); ++i) {
        setMode(pars[i], collect);
    }
}

void Terminal::cmdResetMode(const ParserParams& pars, std::span<const uint8_t> collect) {
    for (int i = 0; i < pars.size(); ++i) {
        resetMode(pars[i], collect);
    }
}

void Terminal::setMode(int mode, std::span<const uint8_t> collect) {
    if (collect.empty()) {
        switch (mode) {
        case 2: // KAM: the keyboard is never locked
            return;
        case 4:
            setInsertMode(true);
            return;
        case 8: {
            BidiPresentationState state = m_currentBidiState;
            state.supportMode = BidiSupportMode::implicit;
            changeBidiState(state, BidiStateProperties::supportMode);
            return;
        }
        case 20:
            m_lineFeedMode = true;
            return;
        default:
            logInfo("Unhandled verbatim setMode with " + std::to_string(mode) + " and " +
                    listText(collect));
            return;
        }
    }
    if (!isDecPrivate(collect)) {
        logInfo("Unhandled setMode (SM) with " + std::to_string(mode) + " and " +
                listText(collect));
        return;
    }
    switch (mode) {
    case 1:
        m_applicationCursor = true;
        return;
    case 2: // DECANM: back to ANSI, which clears the designations
        for (uint8_t level = 0; level < 4; ++level) {
            setgCharset(level, nullptr);
        }
        return;
    case 3: // DECCOLM
        if (m_allow80To132) {
            resize(132, m_rows);
            resetToInitialState();
            // The reset would forbid the switch back.
            m_allow80To132 = true;
            tell([&](TerminalDelegate& d) { d.sizeChanged(*this); });
        }
        return;
    case 4:
        m_smoothScroll = true;
        return;
    case 5:
        if (!m_reverseColors) {
            m_reverseColors = true;
            updateFullScreen();
            tell([&](TerminalDelegate& d) { d.colorChanged(*this, std::nullopt); });
        }
        return;
    case 6:
        m_originMode = true;
        return;
    case 7:
        setWraparound(true);
        return;
    case 9:
        setMouseMode(MouseMode::x10);
        return;
    case 12:
        m_cursorBlink = true;
        return;
    case 25:
        showCursor();
        return;
    case 40:
        m_allow80To132 = true;
        return;
    case 45:
        // Reverse wraparound only makes sense while lines wrap at all.
        if (m_wraparound) {
            m_reverseWraparound = true;
        }
        return;
    case 47:
    case 1047:
        enterAlternateScreen();
        return;
    case 63:
    case 95:
    case 1034:
        return;
    case 66:
        m_applicationKeypad = true;
        return;
    case 69:
        setMarginMode(true);
        return;
    case 1000:
        setMouseMode(MouseMode::vt200);
        return;
    case 1002:
        setMouseMode(MouseMode::buttonEventTracking);
        return;
    case 1003:
        setMouseMode(MouseMode::anyEvent);
        return;
    case 1004:
        m_sendFocus = true;
        sendFocusReport();
        return;
    case 1005:
        m_mouseProtocol = MouseProtocolEncoding::utf8;
        return;
    case 1006:
        m_mouseProtocol = MouseProtocolEncoding::sgr;
        return;
    case 1015:
        m_mouseProtocol = MouseProtocolEncoding::urxvt;
        return;
    case 1016:
        m_mouseProtocol = MouseProtocolEncoding::sgrPixel;
        return;
    case 1007:
        m_alternateScrollMode = true;
        return;
    case 1048:
        cmdSaveCursor();
        return;
    case 1049:
        cmdSaveCursor();
        enterAlternateScreen();
        return;
    case 1243:
        m_bidiArrowKeySwap = true;
        return;
    case 2004:
        m_bracketedPasteMode = true;
        return;
    case 2026:
        beginSynchronizedOutput();
        return;
    case 2500: {
        BidiPresentationState state = m_currentBidiState;
        state.boxMirroring = true;
        changeBidiState(state, BidiStateProperties::boxMirroring);
        return;
    }
    case 2501: {
        BidiPresentationState state = m_currentBidiState;
        state.autodetectDirection = true;
        changeBidiState(state, BidiStateProperties::autodetectDirection);
        return;
    }
    default: // 41 among them
        logInfo("Unhandled DEC Private Mode Set (DECSET) with " + std::to_string(mode));
        return;
    }
}

void Terminal::resetMode(int mode, std::span<const uint8_t> collect) {
    if (collect.empty()) {
        switch (mode) {
        case 4:
            setInsertMode(false);
            return;
        case 8: {
            BidiPresentationState state = m_currentBidiState;
            state.supportMode = BidiSupportMode::explicit_;
            changeBidiState(state, BidiStateProperties::supportMode);
            return;
        }
        case 20:
            m_lineFeedMode = false;
            return;
        default:
            return;
        }
    }
    if (!isDecPrivate(collect)) {
        return;
    }
    switch (mode) {
    case 1:
        m_applicationCursor = false;
        return;
    case 3:
        if (m_allow80To132) {
            resize(80, m_rows);
            tell([&](TerminalDelegate& d) { d.sizeChanged(*this); });
            resetToInitialState();
            m_allow80To132 = true;
        }
        return;
    case 4:
        m_smoothScroll = false;
        return;
    case 5:
        if (m_reverseColors) {
            m_reverseColors = false;
            updateFullScreen();
            tell([&](TerminalDelegate& d) { d.colorChanged(*this, std::nullopt); });
        }
        return;
    case 6:
        m_originMode = false;
        return;
    case 7:
        setWraparound(false);
        return;
    case 9:
    case 1000:
    case 1002:
    case 1003:
        // Whichever kind of reporting was on.
        setMouseMode(MouseMode::off);
        return;
    case 12:
        m_cursorBlink = false;
        return;
    case 25:
        hideCursor();
        return;
    case 40:
        m_allow80To132 = false;
        return;
    case 41:
    case 95:
    case 1034:
        return;
    case 45:
        m_reverseWraparound = false;
        return;
    case 47:
        leaveAlternateScreen(false, false);
        return;
    case 66:
        m_applicationKeypad = false;
        return;
    case 69:
        // The margins keep their values for the next time the mode is set.
        setMarginMode(false);
        return;
    case 1004:
        m_sendFocus = false;
        return;
    case 1005:
    case 1006:
    case 1015:
    case 1016:
        m_mouseProtocol = MouseProtocolEncoding::x10;
        return;
    case 1007:
        m_alternateScrollMode = false;
        return;
    case 1047:
        leaveAlternateScreen(true, false);
        return;
    case 1048:
        cmdRestoreCursor();
        return;
    case 1049:
        leaveAlternateScreen(true, true);
        return;
    case 1243:
        m_bidiArrowKeySwap = false;
        return;
    case 2004:
        m_bracketedPasteMode = false;
        return;
    case 2026:
        endSynchronizedOutput();
        return;
    case 2500: {
        BidiPresentationState state = m_currentBidiState;
        state.boxMirroring = false;
        changeBidiState(state, BidiStateProperties::boxMirroring);
        return;
    }
    case 2501: {
        BidiPresentationState state = m_currentBidiState;
        state.autodetectDirection = false;
        changeBidiState(state, BidiStateProperties::autodetectDirection);
        return;
    }
    default: // 2 and 63 among them
        logInfo("Unhandled DEC Private Mode Reset (DECRST) with " + std::to_string(mode));
        return;
    }
}

// The print path reads insert, wraparound and margin mode from the screens, so each change
// reaches both of them.
void Terminal::setInsertMode(bool on) {
    m_insertMode = on;
    m_normalBuffer->setInsertMode(on);
    m_altBuffer->setInsertMode(on);
}

void Terminal::setWraparound(bool on) {
    m_wraparound = on;
    m_normalBuffer->setWraparound(on);
    m_altBuffer->setWraparound(on);
}

void Terminal::setMarginMode(bool on) {
    m_marginMode = on;
    m_normalBuffer->setMarginMode(on);
    m_altBuffer->setMarginMode(on);
}

// ---- Screens --------------------------------------------------------------------------------

void Terminal::enterAlternateScreen() {
    activateAltBuffer(std::nullopt);
    finishScreenSwitch();
}

void Terminal::leaveAlternateScreen(bool clearAlt, bool restoreCursor) {
    activateNormalBuffer(clearAlt);
    if (restoreCursor) {
        cmdRestoreCursor();
    }
    finishScreenSwitch();
}

void Terminal::finishScreenSwitch() {
    updateRange(0);
    updateRange(m_rows - 1);
    // A full-screen program that hid the cursor and left without showing it again must not
    // leave the shell without one.
    showCursor();
    tell([&](TerminalDelegate& d) { d.bufferActivated(*this); });
}

// ---- Saving and restoring private modes (XTSAVE, XTRESTORE) ---------------------------------

void Terminal::cmdSavePrivateModes(const ParserParams& pars) {
    for (int i = 0; i < pars.size(); ++i) {
        switch (pars[i]) {
        case 1243:
            m_savedBidiPrivateModes[1243] = m_bidiArrowKeySwap;
            break;
        case 2500:
            m_savedBidiPrivateModes[2500] = m_currentBidiState.boxMirroring;
            break;
        case 2501:
            m_savedBidiPrivateModes[2501] = m_currentBidiState.autodetectDirection;
            break;
        default:
            break;
        }
    }
}

void Terminal::cmdRestorePrivateModes(const ParserParams& pars) {
    BidiPresentationState state = m_currentBidiState;
    BidiStateProperties restored;
    for (int i = 0; i < pars.size(); ++i) {
        const int mode = pars[i];
        const auto saved = m_savedBidiPrivateModes.find(mode);
        if (saved == m_savedBidiPrivateModes.end()) {
            continue;
        }
        switch (mode) {
        case 1243:
            m_bidiArrowKeySwap = saved->second;
            break;
        case 2500:
            state.boxMirroring = saved->second;
            restored.insert(BidiStateProperties::boxMirroring);
            break;
        case 2501:
            state.autodetectDirection = saved->second;
            restored.insert(BidiStateProperties::autodetectDirection);
            break;
        default:
            break;
        }
    }
    if (!restored.isEmpty()) {
        changeBidiState(state, restored);
    }
}

// ---- Reports (DECRQM) -----------------------------------------------------------------------

int Terminal::decModeValue(int mode) const {
    switch (mode) {
    case 1:
        return setOrReset(m_applicationCursor);
    case 4:
        return setOrReset(m_smoothScroll);
    case 5:
        return setOrReset(m_reverseColors);
    case 6:
        return setOrReset(m_originMode);
    case 7:
        return setOrReset(m_wraparound);
    case 12:
        return setOrReset(m_cursorBlink);
    case 40:
        return setOrReset(m_allow80To132);
    case 45:
        return setOrReset(m_reverseWraparound);
    case 66:
        return setOrReset(m_applicationKeypad);
    case 69:
        return setOrReset(m_marginMode);
    case 1004:
        return setOrReset(m_sendFocus);
    case 1007:
        return setOrReset(m_alternateScrollMode);
    case 1243:
        return setOrReset(m_bidiArrowKeySwap);
    case 2004:
        return setOrReset(m_bracketedPasteMode);
    case 2026:
        return setOrReset(m_synchronizedOutputActive);
    case 2:
    case 8:
    case 18:
    case 19:
    case 95:
        return modeSet;
    case 3:
        return setOrReset(m_buffer->cols() == 132);
    case 9:
        return setOrReset(m_mouseMode == MouseMode::x10);
    case 1000:
        return setOrReset(m_mouseMode == MouseMode::vt200);
    case 1002:
        return setOrReset(m_mouseMode == MouseMode::buttonEventTracking);
    case 1003:
        return setOrReset(m_mouseMode == MouseMode::anyEvent);
    case 1005:
        return setOrReset(m_mouseProtocol == MouseProtocolEncoding::utf8);
    case 1006:
        return setOrReset(m_mouseProtocol == MouseProtocolEncoding::sgr);
    case 1015:
        return setOrReset(m_mouseProtocol == MouseProtocolEncoding::urxvt);
    case 1016:
        return setOrReset(m_mouseProtocol == MouseProtocolEncoding::sgrPixel);
    case 10:
    case 42:
    case 44:
    case 46:
    case 67:
    case 80:
    case 1034:
        return permanentlyReset;
    case 13:
    case 14:
    case 30:
    case 41:
    case 1001:
        return modeReset;
    case 25:
        return setOrReset(!m_cursorHidden);
    case 47:
        return setOrReset(isCurrentBufferAlternate());
    case 2500:
        return setOrReset(m_currentBidiState.boxMirroring);
    case 2501:
        return setOrReset(m_currentBidiState.autodetectDirection);
    default: // 1047, 1048 and 1049 among them
        return notRecognized;
    }
}

int Terminal::ansiModeValue(int mode) const {
    switch (mode) {
    case 2:
    case 3:
        return modeReset;
    case 4:
        return setOrReset(m_insertMode);
    case 8:
        return setOrReset(m_currentBidiState.supportMode == BidiSupportMode::implicit);
    case 12:
        return modeSet;
    case 20:
        return setOrReset(m_lineFeedMode);
    case 1:
    case 5:
    case 7:
    case 10:
    case 11:
        return permanentlyReset;
    default:
        return mode >= 13 && mode <= 19 ? permanentlyReset : notRecognized;
    }
}

void Terminal::cmdDecRqm(const ParserParams& pars, bool decMode) {
    const int mode = pars[0];
    const int value = decMode ? decModeValue(mode) : ansiModeValue(mode);
    sendResponse(m_cc.csi(), decMode ? "?" : "", std::to_string(mode), ";", std::to_string(value),
                 "$y");
}

// ---- CSI ... p ------------------------------------------------------------------------------

void Terminal::csiPHandler(const ParserParams& pars, std::span<const uint8_t> collect) {
    const std::string_view intermediates(reinterpret_cast<const char*>(collect.data()),
                                         collect.size());
    if (intermediates == "!") {
        cmdSoftReset();
    } else if (intermediates == "\"") {
        cmdSetConformanceLevel(pars);
    } else if (intermediates == "?$") {
        cmdDecRqm(pars, true);
    } else if (intermediates == "$") {
        cmdDecRqm(pars, false);
    } else if (!m_silentLog) {
        std::string line = "Unhandled CSI ";
        for (uint8_t b : collect) {
            line += std::to_string(b);
        }
        logInfo(line + " with pars=" + listText(pars.values()));
    }
}

void Terminal::cmdSetConformanceLevel(const ParserParams& pars) {
    if (pars.size() == 1 && pars.isOmitted(0)) {
        return;
    }
    switch (pars[0]) {
    case 61:
        // A level-1 terminal has no 8-bit controls to choose.
        m_conformance = TerminalConformance::vt100;
        m_cc.send8bit = false;
        return;
    case 62:
        m_conformance = TerminalConformance::vt200;
        break;
    case 63:
        m_conformance = TerminalConformance::vt300;
        break;
    case 64:
        m_conformance = TerminalConformance::vt400;
        break;
    default:
        m_conformance = TerminalConformance::vt500;
        break;
    }
    if (pars.size() > 1) {
        m_cc.send8bit = pars[1] == 0 || pars[1] == 2;
    }
}

// ---- Synchronized output --------------------------------------------------------------------

void Terminal::beginSynchronizedOutput() {
    const bool wasActive = m_synchronizedOutputActive;
    m_synchronizedOutputActive = true;
    // Every set pushes the deadline back; the host hears only of the start.
    scheduleSynchronizedOutputTimeout();
    if (!wasActive) {
        tell([&](TerminalDelegate& d) { d.synchronizedOutputChanged(*this, true); });
    }
}

void Terminal::scheduleSynchronizedOutputTimeout() {
    m_synchronizedOutputTimeoutItem.cancel();
    m_synchronizedOutputTimeoutItem = TaskHandle();
    if (m_executor == nullptr) {
        return;
    }
    const auto timeout = std::chrono::duration_cast<Executor::Duration>(
        std::chrono::duration<double>(synchronizedOutputTimeoutSeconds));
    // The destructor cancels the task, so `this` is alive whenever it runs.
    m_synchronizedOutputTimeoutItem = m_executor->postAfter(timeout, [this] {
        if (m_synchronizedOutputActive) {
            endSynchronizedOutput();
        }
    });
}

void Terminal::endSynchronizedOutput() {
    if (!m_synchronizedOutputActive) {
        return;
    }
    m_synchronizedOutputActive = false;
    m_synchronizedOutputTimeoutItem.cancel();
    m_synchronizedOutputTimeoutItem = TaskHandle();
    updateRange(0);
    updateRange(m_rows - 1);
    tell([&](TerminalDelegate& d) { d.synchronizedOutputChanged(*this, false); });
}

} // namespace veldatron
