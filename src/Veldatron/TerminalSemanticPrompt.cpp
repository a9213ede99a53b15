#include "Terminal.h"

#include "TextDecoding.h"

#include <string_view>
#include <vector>

namespace veldatron {

// ---- OSC 133 --------------------------------------------------------------------------------

// The shell brackets its prompt, the command line and the command's output:
//   A (or N)  a prompt starts, on a fresh line; N always starts a new command line
//   P         prompt text, where the cursor stands
//   B (or I)  the command line starts: what follows is the user's input
//   C (or D)  the command runs (has finished): what follows is output
//   L         a fresh line only
// Options after the letter ("k=s", "cl=m", "click_events=1", "special_key=1") name the prompt's
// kind and how the shell takes clicks into its command line.
void Terminal::oscSemanticPrompt(std::span<const uint8_t> data) {
    // Full-screen programs own the alternate screen; their output is no command line.
    if (isCurrentBufferAlternate()) {
        return;
    }
    const std::optional<std::string> text = TextDecoding::utf8(data);
    if (!text || text->empty()) {
        return;
    }
    const std::vector<std::string_view> fields = TextDecoding::split(*text, ';');
    if (fields[0].size() != 1) {
        return;
    }
    const std::optional<SemanticPromptOptions> options =
        parseSemanticPromptOptions(std::span(fields).subspan(1));
    if (!options) {
        return;
    }
    const SemanticPromptKind kind = options->kind;
    SemanticPromptClickMode clickMode = SemanticPromptClickMode::none;
    if (options->clickEvents) {
        clickMode = *options->clickEvents;
    } else if (options->cursorClickMode) {
        clickMode = SemanticPromptClickMode::cursorKeys(*options->cursorClickMode);
    }
    Buffer& buffer = *m_buffer;
    const auto takeClickSettings = [&] {
        buffer.semanticClickMode = clickMode;
        buffer.semanticUsesSpecialCursorKeys = options->specialKeys;
    };
    const char letter = fields[0][0];
    switch (letter) {
    case 'A':
    case 'N': {
        if (kind == SemanticPromptKind::right) {
            markCurrentSemanticPrompt(kind);
            return;
        }
        semanticFreshLine();
        if (kind == SemanticPromptKind::continuation) {
            buffer.semanticContent = SemanticContent::prompt(kind);
            buffer.semanticInput = SemanticInputState::prompt;
            return;
        }
        const int row = buffer.yBase() + buffer.y();
        bool startsGroup = true;
        if (letter == 'A' && kind == SemanticPromptKind::secondary) {
            startsGroup = !buffer.semanticPromptStartRow();
        } else if (letter == 'A') {
            // The shell redraws its prompt (a resize, a cleared line): same command line.
            startsGroup = !buffer.canReuseSemanticGroup(row);
            if (!startsGroup) {
                takeClickSettings();
            }
        }
        if (startsGroup) {
            buffer.beginSemanticPromptGroup(row);
            if (row >= 0 && row < buffer.lines().count()) {
                BufferLine& line = buffer.lines()[row];
                if (line.semanticHardContinuationGroup()) {
                    line.setSemanticHardContinuationGroup(std::nullopt);
                    line.bumpGeneration();
                }
            }
            takeClickSettings();
        }
        markCurrentSemanticPrompt(kind);
        buffer.semanticContent = SemanticContent::prompt(kind);
        buffer.semanticInput = SemanticInputState::prompt;
        return;
    }
    case 'P': {
        if (kind == SemanticPromptKind::initial) {
            const int row = buffer.yBase() + buffer.y();
            if (!buffer.canReuseSemanticGroup(row)) {
                // The row keeps its continuation group: prompt text can follow input on it.
                buffer.beginSemanticPromptGroup(row);
            }
            takeClickSettings();
        }
        markCurrentSemanticPrompt(kind);
        buffer.semanticContent = SemanticContent::prompt(kind);
        return;
    }
    case 'B':
    case 'I':
        buffer.semanticContent = SemanticContent::input;
        buffer.semanticInput = SemanticInputState::armed;
        return;
    case 'C':
    case 'D':
        buffer.semanticContent = SemanticContent::output;
        buffer.semanticInput = SemanticInputState::submitted;
        clearEchoedEnterContinuationBeforeOutput();
        return;
    case 'L':
        semanticFreshLine();
        return;
    default:
        return;
    }
}

void Terminal::semanticFreshLine() {
    const Buffer& buffer = *m_buffer;
    const int lineStart = m_marginMode ? buffer.marginLeft() : 0;
    if (buffer.x() != lineStart) {
        cmdCarriageReturn();
        cmdLineFeedBasic();
    }
}

void Terminal::markCurrentSemanticPrompt(SemanticPromptKind kind) {
    // A continuation prompt belongs to the prompt above it and marks no row of its own.
    if (kind == SemanticPromptKind::continuation) {
        return;
    }
    Buffer& buffer = *m_buffer;
    buffer.setSemanticMark(kind, buffer.yBase() + buffer.y(), buffer.x());
    updateRange(buffer.y());
}

void Terminal::clearEchoedEnterContinuationBeforeOutput() {
    // The line feeds the shell echoed while the command line was edited joined this row to the
    // prompt group; once output starts the row belongs to the output.
    Buffer& buffer = *m_buffer;
    const int row = buffer.yBase() + buffer.y();
    if (row < 0 || row >= buffer.lines().count()) {
        return;
    }
    BufferLine& line = buffer.lines()[row];
    if (line.semanticHardContinuationGroup()) {
        line.setSemanticHardContinuationGroup(std::nullopt);
        line.bumpGeneration();
    }
}

void Terminal::semanticNoteAlternateScreenSwitch() {
    // A full-screen program started from the prompt ends the command line.
    for (Buffer* screen : {m_normalBuffer.get(), m_altBuffer.get()}) {
        screen->semanticInput = SemanticInputState::submitted;
        if (screen->semanticContent != SemanticContent::none) {
            screen->semanticContent = SemanticContent::output;
        }
    }
}

// ---- User input -----------------------------------------------------------------------------

void Terminal::noteUserInput(std::span<const uint8_t> data) {
    if (scanUserInputForSubmission(data) && m_buffer->semanticInput == SemanticInputState::armed) {
        m_buffer->semanticInput = SemanticInputState::submitted;
    }
}

void Terminal::sendUserInput(std::span<const uint8_t> data) {
    noteUserInput(data);
    tell([&](TerminalDelegate& d) { d.send(*this, data); });
}

// ---- Queries of the views -------------------------------------------------------------------

std::optional<SemanticContent> Terminal::semanticContent(const Position& at) {
    CircularBufferLineList& lines = m_buffer->lines();
    if (at.col < 0 || at.col >= m_cols || at.row < 0 || at.row >= lines.count()) {
        return std::nullopt;
    }
    return lines[int(at.row)][int(at.col)].semanticContent();
}

std::vector<SemanticPromptAnchor> Terminal::semanticPromptMarks(int row) {
    return m_buffer->semanticPromptMarks(row);
}

std::optional<int> Terminal::semanticRow(const BufferLine& line, uint64_t recycleGeneration) {
    if (line.recycleGeneration() != recycleGeneration) {
        return std::nullopt;
    }
    return m_buffer->absoluteRow(line);
}

BufferLinePtr Terminal::bufferLine(int row) {
    CircularBufferLineList& lines = m_buffer->lines();
    if (row < 0 || row >= lines.count()) {
        return nullptr;
    }
    return lines.line(row);
}

std::optional<SemanticPromptKind> Terminal::semanticRowKind(int row) {
    return m_buffer->semanticRowKind(row);
}

std::optional<SemanticPromptAnchor> Terminal::activeSemanticPromptOrigin() {
    const std::optional<Position> position = m_buffer->activeSemanticPromptOrigin();
    const std::optional<Buffer::SemanticOrigin> origin = m_buffer->rawSemanticOrigin();
    if (!position || !origin) {
        return std::nullopt;
    }
    return SemanticPromptAnchor{*position, origin->kind};
}

} // namespace veldatron
