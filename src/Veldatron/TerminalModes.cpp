#include "Terminal.h"

#include <chrono>
#include <string>

namespace veldatron {

namespace {

using MouseMode = Terminal::MouseMode;
using MouseProtocolEncoding = Terminal::MouseProtocolEncoding;
using BidiStateProperties = Terminal::BidiStateProperties;

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

MouseMode mouseModeOf(DecMode mode) {
    switch (mode) {
    case DecMode::x10Mouse:
        return MouseMode::x10;
    case DecMode::mouseNormal:
        return MouseMode::vt200;
    case DecMode::mouseButtonEvent:
        return MouseMode::buttonEventTracking;
    default:
        return MouseMode::anyEvent;
    }
}

MouseProtocolEncoding mouseProtocolOf(DecMode mode) {
    switch (mode) {
    case DecMode::mouseUtf8:
        return MouseProtocolEncoding::utf8;
    case DecMode::mouseSgr:
        return MouseProtocolEncoding::sgr;
    case DecMode::mouseUrxvt:
        return MouseProtocolEncoding::urxvt;
    default:
        return MouseProtocolEncoding::sgrPixel;
    }
}

// XTSAVE and XTRESTORE keep the bidi modes only.
bool isSavedPrivateMode(DecMode mode) {
    return mode == DecMode::bidiArrowKeySwap || mode == DecMode::bidiBoxMirroring ||
           mode == DecMode::bidiAutodetectDirection;
}

// Writes one of the bidi DEC modes into `state`; returns the property it changed.
BidiStateProperties setBidiMode(BidiPresentationState& state, DecMode mode, bool on) {
    if (mode == DecMode::bidiBoxMirroring) {
        state.boxMirroring = on;
        return BidiStateProperties::boxMirroring;
    }
    state.autodetectDirection = on;
    return BidiStateProperties::autodetectDirection;
}

} // namespace

void Terminal::cmdSetMode(const ParserParams& pars, std::span<const uint8_t> collect) {
    changeModes(pars, collect, true);
}

void Terminal::cmdResetMode(const ParserParams& pars, std::span<const uint8_t> collect) {
    changeModes(pars, collect, false);
}

void Terminal::changeModes(const ParserParams& pars, std::span<const uint8_t> collect, bool on) {
    for (int i = 0; i < pars.size(); ++i) {
        const int mode = pars[i];
        if (collect.empty()) {
            if (!applyAnsiMode(AnsiMode(mode), on) && on) {
                logInfo("Unhandled verbatim setMode with " + std::to_string(mode) + " and " +
                        listText(collect));
            }
        } else if (!isDecPrivate(collect)) {
            if (on) {
                logInfo("Unhandled setMode (SM) with " + std::to_string(mode) + " and " +
                        listText(collect));
            }
        } else if (!applyDecMode(DecMode(mode), on)) {
            logInfo((on ? "Unhandled DEC Private Mode Set (DECSET) with "
                        : "Unhandled DEC Private Mode Reset (DECRST) with ") +
                    std::to_string(mode));
        }
    }
}

bool Terminal::applyAnsiMode(AnsiMode mode, bool on) {
    switch (mode) {
    case AnsiMode::keyboardAction: // the keyboard is never locked
        return true;
    case AnsiMode::insert:
        setInsertMode(on);
        return true;
    case AnsiMode::bidirectionalSupport: {
        BidiPresentationState state = m_currentBidiState;
        state.supportMode = on ? BidiSupportMode::implicit : BidiSupportMode::explicit_;
        changeBidiState(state, BidiStateProperties::supportMode);
        return true;
    }
    case AnsiMode::lineFeed:
        m_lineFeedMode = on;
        return true;
    default:
        return false;
    }
}

bool Terminal::applyDecMode(DecMode mode, bool on) {
    switch (mode) {
    case DecMode::applicationCursorKeys:
        m_applicationCursor = on;
        return true;
    case DecMode::ansi:
        // Back to ANSI, which clears the designations; there is no VT52 mode to reset to.
        if (!on) {
            return false;
        }
        for (uint8_t level = 0; level < 4; ++level) {
            setgCharset(level, nullptr);
        }
        return true;
    case DecMode::columns132:
        if (m_allow80To132) {
            resize(on ? 132 : 80, m_rows);
            if (on) {
                resetToInitialState();
                tell([&](TerminalDelegate& d) { d.sizeChanged(*this); });
            } else {
                tell([&](TerminalDelegate& d) { d.sizeChanged(*this); });
                resetToInitialState();
            }
            // The reset would forbid the switch back.
            m_allow80To132 = true;
        }
        return true;
    case DecMode::smoothScroll:
        m_smoothScroll = on;
        return true;
    case DecMode::reverseVideo:
        if (m_reverseColors != on) {
            m_reverseColors = on;
            updateFullScreen();
            tell([&](TerminalDelegate& d) { d.colorChanged(*this, std::nullopt); });
        }
        return true;
    case DecMode::originMode:
        m_originMode = on;
        return true;
    case DecMode::autoWrap:
        setWraparound(on);
        return true;
    case DecMode::x10Mouse:
    case DecMode::mouseNormal:
    case DecMode::mouseButtonEvent:
    case DecMode::mouseAnyEvent:
        // Reset turns off whichever kind of reporting was on.
        setMouseMode(on ? mouseModeOf(mode) : MouseMode::off);
        return true;
    case DecMode::cursorBlink:
        m_cursorBlink = on;
        return true;
    case DecMode::cursorVisible:
        if (on) {
            showCursor();
        } else {
            hideCursor();
        }
        return true;
    case DecMode::allow80To132:
        m_allow80To132 = on;
        return true;
    case DecMode::moreFix:
        return !on;
    case DecMode::reverseWraparound:
        // Reverse wraparound only makes sense while lines wrap at all.
        if (!on) {
            m_reverseWraparound = false;
        } else if (m_wraparound) {
            m_reverseWraparound = true;
        }
        return true;
    case DecMode::alternateScreen:
    case DecMode::alternateScreenClearing:
        if (on) {
            enterAlternateScreen();
        } else {
            leaveAlternateScreen({.clearAlternate = mode == DecMode::alternateScreenClearing});
        }
        return true;
    case DecMode::silentlySet63:
        return on;
    case DecMode::keepScreenOnColumnChange:
    case DecMode::eightBitMeta:
        return true;
    case DecMode::applicationKeypad:
        m_applicationKeypad = on;
        return true;
    case DecMode::leftRightMargins:
        // The margins keep their values for the next time the mode is set.
        setMarginMode(on);
        return true;
    case DecMode::focusEvents:
        m_sendFocus = on;
        if (on) {
            sendFocusReport();
        }
        return true;
    case DecMode::mouseUtf8:
    case DecMode::mouseSgr:
    case DecMode::mouseUrxvt:
    case DecMode::mouseSgrPixels:
        // Reset returns to the default encoding whichever one was on.
        m_mouseProtocol = on ? mouseProtocolOf(mode) : MouseProtocolEncoding::x10;
        return true;
    case DecMode::alternateScroll:
        m_alternateScrollMode = on;
        return true;
    case DecMode::saveCursor:
        if (on) {
            cmdSaveCursor();
        } else {
            cmdRestoreCursor();
        }
        return true;
    case DecMode::alternateScreenSavingCursor:
        if (on) {
            cmdSaveCursor();
            enterAlternateScreen();
        } else {
            leaveAlternateScreen({.clearAlternate = true, .restoreCursor = true});
        }
        return true;
    case DecMode::bidiArrowKeySwap:
        m_bidiArrowKeySwap = on;
        return true;
    case DecMode::bracketedPaste:
        m_bracketedPasteMode = on;
        return true;
    case DecMode::synchronizedOutput:
        if (on) {
            beginSynchronizedOutput();
        } else {
            endSynchronizedOutput();
        }
        return true;
    case DecMode::bidiBoxMirroring:
    case DecMode::bidiAutodetectDirection: {
        BidiPresentationState state = m_currentBidiState;
        changeBidiState(state, setBidiMode(state, mode, on));
        return true;
    }
    default:
        return false;
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

void Terminal::leaveAlternateScreen(LeaveAlternateScreen options) {
    activateNormalBuffer(options.clearAlternate);
    if (options.restoreCursor) {
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
        const auto mode = DecMode(pars[i]);
        if (isSavedPrivateMode(mode)) {
            m_savedBidiPrivateModes[pars[i]] = *decModeState(mode);
        }
    }
}

void Terminal::cmdRestorePrivateModes(const ParserParams& pars) {
    // The bidi modes restored together reach the host as one change.
    BidiPresentationState state = m_currentBidiState;
    BidiStateProperties restored;
    for (int i = 0; i < pars.size(); ++i) {
        const auto mode = DecMode(pars[i]);
        const auto saved = m_savedBidiPrivateModes.find(pars[i]);
        if (saved == m_savedBidiPrivateModes.end() || !isSavedPrivateMode(mode)) {
            continue;
        }
        if (mode == DecMode::bidiBoxMirroring || mode == DecMode::bidiAutodetectDirection) {
            restored.insert(setBidiMode(state, mode, saved->second));
        } else {
            applyDecMode(mode, saved->second);
        }
    }
    if (!restored.isEmpty()) {
        changeBidiState(state, restored);
    }
}

// ---- Reports (DECRQM) -----------------------------------------------------------------------

std::optional<bool> Terminal::decModeState(DecMode mode) const {
    switch (mode) {
    case DecMode::applicationCursorKeys:
        return m_applicationCursor;
    case DecMode::columns132:
        return m_buffer->cols() == 132;
    case DecMode::smoothScroll:
        return m_smoothScroll;
    case DecMode::reverseVideo:
        return m_reverseColors;
    case DecMode::originMode:
        return m_originMode;
    case DecMode::autoWrap:
        return m_wraparound;
    case DecMode::x10Mouse:
    case DecMode::mouseNormal:
    case DecMode::mouseButtonEvent:
    case DecMode::mouseAnyEvent:
        return m_mouseMode == mouseModeOf(mode);
    case DecMode::cursorBlink:
        return m_cursorBlink;
    case DecMode::cursorVisible:
        return !m_cursorHidden;
    case DecMode::allow80To132:
        return m_allow80To132;
    case DecMode::reverseWraparound:
        return m_reverseWraparound;
    case DecMode::alternateScreen:
        return isCurrentBufferAlternate();
    case DecMode::applicationKeypad:
        return m_applicationKeypad;
    case DecMode::leftRightMargins:
        return m_marginMode;
    case DecMode::focusEvents:
        return m_sendFocus;
    case DecMode::mouseUtf8:
    case DecMode::mouseSgr:
    case DecMode::mouseUrxvt:
    case DecMode::mouseSgrPixels:
        return m_mouseProtocol == mouseProtocolOf(mode);
    case DecMode::alternateScroll:
        return m_alternateScrollMode;
    case DecMode::bidiArrowKeySwap:
        return m_bidiArrowKeySwap;
    case DecMode::bracketedPaste:
        return m_bracketedPasteMode;
    case DecMode::synchronizedOutput:
        return m_synchronizedOutputActive;
    case DecMode::bidiBoxMirroring:
        return m_currentBidiState.boxMirroring;
    case DecMode::bidiAutodetectDirection:
        return m_currentBidiState.autodetectDirection;
    default:
        return std::nullopt;
    }
}

int Terminal::decModeValue(DecMode mode) const {
    if (const std::optional<bool> on = decModeState(mode)) {
        return setOrReset(*on);
    }
    switch (mode) {
    case DecMode::ansi:
    case DecMode::autoRepeat:
    case DecMode::printFormFeed:
    case DecMode::printExtent:
    case DecMode::keepScreenOnColumnChange:
        return modeSet;
    case DecMode::showToolbar:
    case DecMode::nationalCharacterSets:
    case DecMode::marginBell:
    case DecMode::logging:
    case DecMode::backarrowSendsBackspace:
    case DecMode::sixelDisplay:
    case DecMode::eightBitMeta:
        return permanentlyReset;
    case DecMode::cursorBlinkMenu:
    case DecMode::cursorBlinkXor:
    case DecMode::showScrollbar:
    case DecMode::moreFix:
    case DecMode::mouseHighlight:
        return modeReset;
    default: // the alternate screen's 1047 and 1049 and the cursor's 1048 among them
        return notRecognized;
    }
}

int Terminal::ansiModeValue(AnsiMode mode) const {
    switch (mode) {
    case AnsiMode::keyboardAction:
    case AnsiMode::controlRepresentation:
        return modeReset;
    case AnsiMode::insert:
        return setOrReset(m_insertMode);
    case AnsiMode::bidirectionalSupport:
        return setOrReset(m_currentBidiState.supportMode == BidiSupportMode::implicit);
    case AnsiMode::sendReceive:
        return modeSet;
    case AnsiMode::lineFeed:
        return setOrReset(m_lineFeedMode);
    case AnsiMode::guardedAreaTransfer:
    case AnsiMode::statusReportTransfer:
    case AnsiMode::verticalEditing:
    case AnsiMode::horizontalEditing:
    case AnsiMode::positioningUnit:
    case AnsiMode::formatEffectorAction:
    case AnsiMode::formatEffectorTransfer:
    case AnsiMode::multipleAreaTransfer:
    case AnsiMode::transferTermination:
    case AnsiMode::selectedAreaTransfer:
    case AnsiMode::tabulationStop:
    case AnsiMode::editingBoundary:
        return permanentlyReset;
    default:
        return notRecognized;
    }
}

void Terminal::cmdDecRqm(const ParserParams& pars, bool decMode) {
    const int mode = pars[0];
    const int value = decMode ? decModeValue(DecMode(mode)) : ansiModeValue(AnsiMode(mode));
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
