#include "Terminal.h"

#include "Diagnostics.h"
#include "UnicodeUtil.h"

#include <algorithm>
#include <string>

namespace veldatron {

namespace {

const char* stateName(ParserState state) {
    static constexpr const char* names[] = {
        "ground",          "escape",    "escapeIntermediate", "csiEntry",        "csiParam",
        "csiIntermediate", "csiIgnore", "sosPmApcString",     "oscString",       "apcString",
        "dcsEntry",        "dcsParam",  "dcsIgnore",          "dcsIntermediate", "dcsPassthrough",
    };
    const auto index = static_cast<size_t>(state);
    return index < std::size(names) ? names[index] : "unknown";
}

// "[1, 2, 3]": the list form of every diagnostic line.
template <typename Range> std::string list(const Range& values) {
    std::string text = "[";
    bool first = true;
    for (const auto& value : values) {
        if (!first) {
            text += ", ";
        }
        first = false;
        text += std::to_string(static_cast<long long>(value));
    }
    text += ']';
    return text;
}

// A byte shown as the character of the same value (bytes from 0x80 up read as Latin-1).
std::string byteAsCharacter(uint8_t byte) {
    std::string text;
    UnicodeUtil::appendUtf8(text, char32_t(byte));
    return text;
}

std::string describe(const ParsingState& state) {
    std::string text = "ParsingState(position: " + std::to_string(state.position) +
                       ", code: " + std::to_string(state.code) +
                       ", currentState: " + stateName(state.currentState) +
                       ", print: " + std::to_string(state.print) +
                       ", dcs: " + std::to_string(state.dcs) + ", osc: " + list(state.osc) +
                       ", apc: " + list(state.apc) + ", collect: " + list(state.collect) +
                       ", parameters: " + list(state.parameters) +
                       ", abort: " + (state.abort ? "true" : "false") + ")";
    return text;
}

} // namespace

// ---- Parser wiring --------------------------------------------------------------------------

void Terminal::configureParser() {
    // The parser calls this terminal directly for text, controls, sequences and strings; what is
    // installed here are the diagnostics, which a host may replace.
    m_parser.csiHandlerFallback = [this](const ParserParams& pars, std::span<const uint8_t> collect,
                                         uint8_t final) { logUnknownCsi(pars, collect, final); };
    m_parser.escHandlerFallback = [this](std::span<const uint8_t> collect, uint8_t final) {
        logUnknownEsc(collect, final);
    };
    m_parser.executeHandlerFallback = [this] { logInfo("Veldatron: Unknown EXECUTE code"); };
    m_parser.oscHandlerFallback = [this](int64_t code, std::span<const uint8_t>) {
        logUnknownOsc(code);
    };
    m_parser.apcHandlerFallback = [this](uint8_t command, std::span<const uint8_t>) {
        logUnknownApc(command);
    };
    m_parser.errorHandler = [this](ParsingState state) {
        if (!m_silentLog) {
            logInfo("Veldatron: Parsing error, state: " + describe(state));
        }
        return state;
    };
}

void Terminal::logInfo(std::string_view text) const {
    if (m_silentLog) {
        return;
    }
    std::string line = "Info: ";
    line += text;
    writeDiagnosticLine(line);
}

std::string Terminal::listText(std::span<const int32_t> values) {
    return list(values);
}

std::string Terminal::listText(std::span<const uint8_t> bytes) {
    return list(bytes);
}

void Terminal::logUnknownCsi(const ParserParams& pars, std::span<const uint8_t> collect,
                             uint8_t final) const {
    if (m_silentLog) {
        return;
    }
    logInfo("Veldatron: Unknown CSI Code (collect=" + list(collect) +
            " code=" + byteAsCharacter(final) + " pars=" + list(pars.values()) + ")");
}

void Terminal::logUnknownEsc(std::span<const uint8_t> collect, uint8_t final) const {
    if (m_silentLog) {
        return;
    }
    logInfo("Veldatron: Unknown ESC Code: ESC + " + byteAsCharacter(final) +
            " txt=" + list(collect));
}

void Terminal::logUnknownOsc(int64_t code) const {
    if (m_silentLog) {
        return;
    }
    logInfo("Veldatron: Unknown OSC code: " + std::to_string(code));
}

void Terminal::logUnknownApc(uint8_t command) const {
    if (m_silentLog) {
        return;
    }
    logInfo("Veldatron: Unknown APC code: " + byteAsCharacter(command));
}

// ---- Feeding --------------------------------------------------------------------------------

void Terminal::feed(std::span<const uint8_t> bytes) {
    assertNotInDelegateCallback();
    m_parser.parse(bytes);
}

void Terminal::feed(std::string_view text) {
    feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Terminal::registerOscHandler(int64_t code,
                                  std::function<void(std::span<const uint8_t>)> handler) {
    m_parser.oscHandlers[code] = std::move(handler);
}

// ---- Dirty rows -----------------------------------------------------------------------------

void Terminal::updateFullScreen() {
    m_refreshStart = 0;
    m_refreshEnd = m_rows;
    m_scrollInvariantRefreshStart = m_buffer->yDisp();
    m_scrollInvariantRefreshEnd = int64_t(m_buffer->yDisp()) + m_rows;
}

std::optional<Terminal::RowRange> Terminal::getUpdateRange() const {
    if (m_refreshStart == INT_MAX && m_refreshEnd == -1) {
        return std::nullopt;
    }
    return RowRange{m_refreshStart, m_refreshEnd};
}

std::optional<Terminal::AbsoluteRowRange> Terminal::getScrollInvariantUpdateRange() const {
    if (m_scrollInvariantRefreshStart == INT64_MAX && m_scrollInvariantRefreshEnd == -1) {
        return std::nullopt;
    }
    return AbsoluteRowRange{m_scrollInvariantRefreshStart, m_scrollInvariantRefreshEnd};
}

void Terminal::clearUpdateRange() {
    m_refreshStart = INT_MAX;
    m_refreshEnd = -1;
    m_scrollInvariantRefreshStart = INT64_MAX;
    m_scrollInvariantRefreshEnd = -1;
}

void Terminal::refresh(int startRow, int endRow) {
    updateRange(startRow);
    updateRange(endRow);
}

} // namespace veldatron
