#include "Terminal.h"

#include <algorithm>
#include <string_view>

namespace veldatron {

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

// ---- Resets ---------------------------------------------------------------------------------

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
