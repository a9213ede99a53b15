#include "Terminal.h"

#include <chrono>
#include <string>

namespace veldatron {

namespace {

bool isDecPrivate(std::span<const uint8_t> collect) {
    return collect.size() == 1 && collect[0] == '?';
}

std::string byteList(std::span<const uint8_t> bytes) {
    std::string text = "[";
    for (size_t i = 0; i < bytes.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(bytes[i]);
    }
    return text + "]";
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
        case 4:
            setInsertMode(true);
            return;
        case 20:
            m_lineFeedMode = true;
            return;
        default:
            logInfo("Unhandled verbatim setMode with " + std::to_string(mode) + " and " +
                    byteList(collect));
            return;
        }
    }
    if (!isDecPrivate(collect)) {
        logInfo("Unhandled setMode (SM) with " + std::to_string(mode) + " and " +
                byteList(collect));
        return;
    }
    switch (mode) {
    case 6:
        m_originMode = true;
        return;
    case 7:
        setWraparound(true);
        return;
    case 25:
        showCursor();
        return;
    case 45:
        // Reverse wraparound only makes sense while lines wrap at all.
        if (m_wraparound) {
            m_reverseWraparound = true;
        }
        return;
    case 69:
        setMarginMode(true);
        return;
    case 2026:
        beginSynchronizedOutput();
        return;
    default:
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
    case 6:
        m_originMode = false;
        return;
    case 7:
        setWraparound(false);
        return;
    case 25:
        hideCursor();
        return;
    case 45:
        m_reverseWraparound = false;
        return;
    case 69:
        setMarginMode(false);
        return;
    case 2026:
        endSynchronizedOutput();
        return;
    default:
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
