#include "Terminal.h"

#include "EscapeSequences.h"
#include "TextDecoding.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace veldatron {

namespace {

// The rows of the active prompt group laid out as one stream of input cells. Rows joined by a
// soft wrap continue a logical line; a row that continues the group after an Enter in a
// multi-line editor starts the next one, and that line break counts as one offset.
//
//   row 5  "$ echo one tw"     offsets 0..10   line 0
//   row 6 ~"o three"           offsets 11..17  line 0 (wrapped)
//   row 7  "> next"            offsets 19..22  line 1 (18 is the line break)
struct SemanticGroupGeometry {
    std::vector<int> rows;
    std::vector<int> rowStartOffsets;
    std::vector<int> lineIndexes;
    std::vector<int> lineStartOffsets;
    int endOffset = 0;
    bool hasInput = false;
};

struct SemanticOffset {
    int offset;
    int line;
    int offsetInLine;
};

// Input cells among the first `before` cells of a row (never past the screen's width): cells the
// shell marked as input, not counting the empty half of a wide character.
int semanticInputCellCount(const BufferLine& line, int cols, int64_t before) {
    const int end = int(std::min<int64_t>({int64_t(cols), line.count(), before}));
    int count = 0;
    for (int col = 0; col < end; ++col) {
        const CharData& cell = line[col];
        if (cell.semanticContent() == SemanticContent::input && cell.width() != 0) {
            ++count;
        }
    }
    return count;
}

std::optional<SemanticGroupGeometry> semanticGroupGeometry(Buffer& buffer, int cols) {
    const std::optional<int> start = buffer.semanticPromptStartRow();
    if (!start) {
        return std::nullopt;
    }
    CircularBufferLineList& lines = buffer.lines();
    SemanticGroupGeometry g;
    int offset = 0;
    int lineIndex = 0;
    int lineStart = 0;
    for (int row = *start;; ++row) {
        g.rows.push_back(row);
        g.rowStartOffsets.push_back(offset);
        g.lineIndexes.push_back(lineIndex);
        g.lineStartOffsets.push_back(lineStart);
        const int inputs = semanticInputCellCount(lines[row], cols, cols);
        offset += inputs;
        g.hasInput = g.hasInput || inputs != 0;
        const int next = row + 1;
        if (next >= lines.count()) {
            break;
        }
        if (lines[next].isWrapped()) {
            continue;
        }
        if (!buffer.rowContinuesActiveGroupHard(next)) {
            break;
        }
        ++lineIndex;
        ++offset;
        lineStart = offset;
    }
    g.endOffset = offset;
    return g;
}

std::optional<SemanticOffset> semanticOffset(Buffer& buffer, int cols, const Position& at,
                                             const SemanticGroupGeometry& g) {
    const auto found = std::find(g.rows.begin(), g.rows.end(), at.row);
    if (found == g.rows.end()) {
        return std::nullopt;
    }
    const size_t i = size_t(found - g.rows.begin());
    const int offset =
        g.rowStartOffsets[i] + semanticInputCellCount(buffer.lines()[int(at.row)], cols, at.col);
    return SemanticOffset{offset, g.lineIndexes[i], offset - g.lineStartOffsets[i]};
}

// A click on the empty right half of a wide input character targets the character.
Position normalizeSemanticClickTarget(Buffer& buffer, Position at) {
    const BufferLine& line = buffer.lines()[int(at.row)];
    if (at.col > 0 && at.col < line.count()) {
        while (at.col > 0 && line[int(at.col)].width() == 0 &&
               line[int(at.col)].semanticContent() == SemanticContent::input) {
            --at.col;
        }
    }
    return at;
}

void appendTimes(std::string& bytes, std::span<const uint8_t> sequence, int count) {
    for (int i = 0; i < count; ++i) {
        bytes.append(reinterpret_cast<const char*>(sequence.data()), sequence.size());
    }
}

// Left and right for a shell that asked for its own cursor keys (special_key=1).
constexpr std::string_view specialLeft = "\x1b[1;1u";
constexpr std::string_view specialRight = "\x1b[1u";

void appendSemanticCursorMovement(std::string& bytes, bool right, int count, bool specialKeys,
                                  bool applicationCursor) {
    if (count <= 0) {
        return;
    }
    if (specialKeys) {
        const std::string_view key = right ? specialRight : specialLeft;
        for (int i = 0; i < count; ++i) {
            bytes += key;
        }
        return;
    }
    if (right) {
        appendTimes(bytes,
                    applicationCursor ? EscapeSequences::moveRightApp
                                      : EscapeSequences::moveRightNormal,
                    count);
    } else {
        appendTimes(bytes,
                    applicationCursor ? EscapeSequences::moveLeftApp
                                      : EscapeSequences::moveLeftNormal,
                    count);
    }
}

void appendSemanticVerticalMovement(std::string& bytes, bool down, int count,
                                    bool applicationCursor) {
    if (count <= 0) {
        return;
    }
    if (down) {
        appendTimes(bytes,
                    applicationCursor ? EscapeSequences::moveDownApp
                                      : EscapeSequences::moveDownNormal,
                    count);
    } else {
        appendTimes(bytes,
                    applicationCursor ? EscapeSequences::moveUpApp : EscapeSequences::moveUpNormal,
                    count);
    }
}

bool snapshotQualifies(const SemanticPromptPointerSnapshot& snapshot) {
    return snapshot.pressWasSemanticEligible && snapshot.clickCount == 1 &&
           !snapshot.selectionWasActive && !snapshot.didDrag;
}

bool behaviourAllows(const SemanticPromptClickBehavior& behavior,
                     SemanticPromptClickModifiers modifiers) {
    switch (behavior.kind()) {
    case SemanticPromptClickBehavior::Case::disabled:
        return false;
    case SemanticPromptClickBehavior::Case::enabled:
        return modifiers.isEmpty();
    case SemanticPromptClickBehavior::Case::requireModifier:
        return modifiers == behavior.modifiers();
    }
    return false;
}

} // namespace

bool Terminal::mightRouteSemanticPromptClick(SemanticPromptClickModifiers modifiers,
                                             const SemanticPromptPointerSnapshot& snapshot) {
    return snapshotQualifies(snapshot) &&
           behaviourAllows(m_semanticPromptClickBehavior, modifiers) &&
           !isCurrentBufferAlternate() && m_buffer->semanticInput == SemanticInputState::armed &&
           m_buffer->semanticClickMode != SemanticPromptClickMode::none;
}

bool Terminal::handleSemanticPromptClick(const Position& at, SemanticPromptClickModifiers modifiers,
                                         const SemanticPromptPointerSnapshot& snapshot) {
    return snapshotQualifies(snapshot) && handleSemanticPromptClick(at, modifiers);
}

bool Terminal::handleSemanticPromptClick(const Position& at,
                                         SemanticPromptClickModifiers modifiers) {
    Buffer& buffer = *m_buffer;
    if (!behaviourAllows(m_semanticPromptClickBehavior, modifiers) || isCurrentBufferAlternate() ||
        buffer.semanticInput != SemanticInputState::armed || at.col < 0 || at.col >= m_cols ||
        at.row < 0 || at.row >= buffer.lines().count()) {
        return false;
    }
    const std::optional<SemanticGroupGeometry> g = semanticGroupGeometry(buffer, m_cols);
    if (!g || !g->hasInput || std::find(g->rows.begin(), g->rows.end(), at.row) == g->rows.end()) {
        return false;
    }
    const SemanticPromptClickMode mode = buffer.semanticClickMode;
    const std::string column = std::to_string(at.col + 1);
    switch (mode.kind()) {
    case SemanticPromptClickMode::Case::none:
        return false;
    case SemanticPromptClickMode::Case::clickEventsAbsolute: {
        // A button-1 press in the SGR mouse form at the clicked screen row; no release follows.
        const int64_t row = std::clamp<int64_t>(at.row - buffer.yBase() + 1, 1, m_rows);
        sendResponse("\x1b[<0;", column, ";", std::to_string(row), "M");
        return true;
    }
    case SemanticPromptClickMode::Case::clickEventsRelative: {
        // The row counts from the prompt the click belongs to (0 on its row).
        const std::optional<Position> origin = buffer.semanticPromptRelativeOrigin(at);
        if (!origin || at.row < origin->row) {
            return false;
        }
        sendResponse("\x1b[<0;", column, ";", std::to_string(at.row - origin->row), "M");
        return true;
    }
    case SemanticPromptClickMode::Case::cursorKeys:
        break;
    }
    const Position cursor{buffer.x(), buffer.yBase() + buffer.y()};
    if (std::find(g->rows.begin(), g->rows.end(), cursor.row) == g->rows.end()) {
        return false;
    }
    const Position target = normalizeSemanticClickTarget(buffer, at);
    const std::optional<SemanticOffset> from = semanticOffset(buffer, m_cols, cursor, *g);
    const std::optional<SemanticOffset> to = semanticOffset(buffer, m_cols, target, *g);
    if (!from || !to) {
        return false;
    }
    const SemanticPromptCursorClickMode cursorMode = mode.cursorMode();
    if (cursorMode == SemanticPromptCursorClickMode::line && from->line != to->line) {
        return false;
    }
    const int distance = to->offset - from->offset;
    if (distance == 0) {
        return false;
    }
    const bool special = buffer.semanticUsesSpecialCursorKeys;
    std::string bytes;
    if (from->line == to->line || cursorMode == SemanticPromptCursorClickMode::line ||
        cursorMode == SemanticPromptCursorClickMode::multiple || special) {
        // Shells that move through a multi-line command with left and right alone: each line
        // break is one step.
        appendSemanticCursorMovement(bytes, distance > 0, std::abs(distance), special,
                                     m_applicationCursor);
    } else {
        // To the start of the current line, up or down to the target's line, then right.
        appendSemanticCursorMovement(bytes, false, from->offsetInLine, false, m_applicationCursor);
        appendSemanticVerticalMovement(bytes, to->line > from->line,
                                       std::abs(to->line - from->line), m_applicationCursor);
        appendSemanticCursorMovement(bytes, true, to->offsetInLine, false, m_applicationCursor);
    }
    if (bytes.empty()) {
        return false;
    }
    // Key presses go to the shell as typed keys would, not as a reply.
    tell([&](TerminalDelegate& d) { d.send(*this, TextDecoding::bytesOf(bytes)); });
    return true;
}

} // namespace veldatron
