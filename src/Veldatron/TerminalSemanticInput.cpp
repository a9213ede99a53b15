#include "Terminal.h"

#include "TextDecoding.h"

#include <string_view>

namespace veldatron {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;
// The parameter and intermediate bytes kept of one CSI of the user's input.
constexpr size_t maxSemanticScanParams = 32;

} // namespace

// ---- OSC 133 options ------------------------------------------------------------------------

std::optional<Terminal::SemanticPromptOptions>
Terminal::parseSemanticPromptOptions(std::span<const std::string_view> options) {
    SemanticPromptOptions result;
    for (std::string_view option : options) {
        const size_t equals = option.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = option.substr(0, equals);
        const std::string_view value = option.substr(equals + 1);
        if (key == "k") {
            if (value == "i") {
                result.kind = SemanticPromptKind::initial;
            } else if (value == "r") {
                result.kind = SemanticPromptKind::right;
            } else if (value == "c") {
                result.kind = SemanticPromptKind::continuation;
            } else if (value == "s") {
                result.kind = SemanticPromptKind::secondary;
            } else {
                return std::nullopt;
            }
        } else if (key == "cl") {
            if (value == "line") {
                result.cursorClickMode = SemanticPromptCursorClickMode::line;
            } else if (value == "m") {
                result.cursorClickMode = SemanticPromptCursorClickMode::multiple;
            } else if (value == "v") {
                result.cursorClickMode = SemanticPromptCursorClickMode::conservativeVertical;
            } else if (value == "w") {
                result.cursorClickMode = SemanticPromptCursorClickMode::smartVertical;
            } else {
                return std::nullopt;
            }
        } else if (key == "click_events") {
            if (value == "0") {
                result.clickEvents.reset();
            } else if (value == "1") {
                result.clickEvents = SemanticPromptClickMode::clickEventsAbsolute;
            } else if (value == "2") {
                result.clickEvents = SemanticPromptClickMode::clickEventsRelative;
            } else {
                return std::nullopt;
            }
        } else if (key == "special_key") {
            if (value == "0" || value == "1") {
                result.specialKeys = value == "1";
            } else {
                return std::nullopt;
            }
        }
    }
    return result;
}

// ---- The user's input -----------------------------------------------------------------------

bool Terminal::scanUserInputForSubmission(std::span<const uint8_t> data) {
    bool submitted = false;
    for (uint8_t b : data) {
        if (b == CR || b == LF) {
            m_semanticScanState = SemanticScanState::ground;
            // A pasted line break is text for the editor, not Enter.
            submitted = submitted || !m_semanticScanInPaste;
            continue;
        }
        switch (m_semanticScanState) {
        case SemanticScanState::ss3:
            m_semanticScanState = SemanticScanState::ground;
            // Keypad Enter in application keypad mode.
            submitted = submitted || b == 'M';
            break;
        case SemanticScanState::csi:
            if (b >= 0x20 && b <= 0x3F) {
                if (m_semanticScanParams.size() < maxSemanticScanParams) {
                    m_semanticScanParams.push_back(b);
                }
            } else if (b >= 0x40 && b <= 0x7E) {
                m_semanticScanState = SemanticScanState::ground;
                submitted = interpretSemanticCSI(b) || submitted;
            } else {
                m_semanticScanState =
                    b == ESC ? SemanticScanState::escape : SemanticScanState::ground;
            }
            break;
        case SemanticScanState::escape:
            if (b == 'O') {
                m_semanticScanState = SemanticScanState::ss3;
            } else if (b == '[') {
                m_semanticScanState = SemanticScanState::csi;
                m_semanticScanParams.clear();
            } else if (b != ESC) {
                m_semanticScanState = SemanticScanState::ground;
            }
            break;
        case SemanticScanState::ground:
            if (b == ESC) {
                m_semanticScanState = SemanticScanState::escape;
            }
            break;
        }
    }
    return submitted;
}

bool Terminal::interpretSemanticCSI(uint8_t final) {
    // Parameter bytes are ASCII, so the text needs no repair.
    const std::string_view params = TextDecoding::textOf(m_semanticScanParams);
    if (final == '~') {
        if (params == "200") {
            m_semanticScanInPaste = true;
        } else if (params == "201") {
            m_semanticScanInPaste = false;
        }
        return false;
    }
    if (final != 'u') {
        return false;
    }
    // A kitty key report: key[:alternates];modifiers[:event type];text. Enter is key 13; event
    // type 3 is its release.
    const std::vector<std::string_view> fields = TextDecoding::split(params, ';');
    if (TextDecoding::split(fields[0], ':')[0] != "13") {
        return false;
    }
    if (fields.size() >= 2) {
        const std::vector<std::string_view> modifiers = TextDecoding::split(fields[1], ':');
        if (modifiers.size() >= 2 && modifiers[1] == "3") {
            return false;
        }
    }
    return true;
}

void Terminal::resetUserInputScanner() {
    m_semanticScanState = SemanticScanState::ground;
    m_semanticScanInPaste = false;
    m_semanticScanParams.clear();
}

void Terminal::resetSemanticPromptState(bool clearingScreenMarks) {
    for (Buffer* screen : {m_normalBuffer.get(), m_altBuffer.get()}) {
        screen->resetSemanticState();
        if (!clearingScreenMarks) {
            continue;
        }
        CircularBufferLineList& lines = screen->lines();
        const int end = std::min(screen->yBase() + m_rows, lines.count());
        for (int row = std::max(screen->yBase(), 0); row < end; ++row) {
            lines[row].destroySemanticState();
        }
    }
    resetUserInputScanner();
}

} // namespace veldatron
