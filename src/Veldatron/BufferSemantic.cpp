#include "Buffer.h"

#include <algorithm>
#include <limits>

namespace veldatron {

namespace {

bool isOpeningKind(SemanticPromptKind kind) {
    return kind == SemanticPromptKind::initial || kind == SemanticPromptKind::secondary;
}

bool hasOpeningMark(const BufferLine& line) {
    return std::any_of(line.semanticMarks().begin(), line.semanticMarks().end(),
                       [](const SemanticMark& mark) { return isOpeningKind(mark.kind()); });
}

} // namespace

// Rows are looked up without materialising empty slots: an empty slot holds no marks and no
// identity anybody looks for.
template <typename Test> std::optional<int> Buffer::findRow(int near, Test test) const {
    const int count = m_lines.count();
    if (count == 0) {
        return std::nullopt;
    }
    const int start = std::clamp(near, 0, count - 1);
    auto passes = [&](int row) {
        const BufferLine* line = m_lines.peek(row);
        return line && test(*line);
    };
    if (passes(start)) {
        return start;
    }
    for (int distance = 1; start + distance < count || start - distance >= 0; ++distance) {
        if (start + distance < count && passes(start + distance)) {
            return start + distance;
        }
        if (start - distance >= 0 && passes(start - distance)) {
            return start - distance;
        }
    }
    return std::nullopt;
}

void Buffer::beginSemanticPromptGroup(int originRow) {
    if (originRow < 0 || originRow >= m_lines.count()) {
        return;
    }
    m_semanticGroupCounter = m_semanticGroupCounter == std::numeric_limits<uint64_t>::max()
                                 ? 1
                                 : m_semanticGroupCounter + 1;
    m_activeSemanticGroupID = m_semanticGroupCounter;
    m_semanticPromptStartLine = m_lines.line(originRow);
    m_semanticPromptStartRowCache = originRow;
}

bool Buffer::canReuseSemanticGroup(int row) {
    if (semanticInput != SemanticInputState::prompt && semanticInput != SemanticInputState::armed) {
        return false;
    }
    if (row < 0 || row >= m_lines.count()) {
        return false;
    }
    const std::optional<int> start = semanticPromptStartRow();
    return start && m_lines.line(*start) == m_lines.line(row) && rowHasGroupOpeningMark(row);
}

void Buffer::setSemanticMark(SemanticPromptKind kind, int row, int64_t column) {
    if (row < 0 || row >= m_lines.count()) {
        return;
    }
    BufferLine& line = m_lines[row];
    if (line.count() == 0) {
        return;
    }
    line.setSemanticMark(kind, std::clamp<int64_t>(column, 0, line.count() - 1),
                         m_activeSemanticGroupID);
}

std::optional<int> Buffer::semanticPromptStartRow() {
    if (!m_semanticPromptStartLine) {
        return std::nullopt;
    }
    const BufferLine* startLine = m_semanticPromptStartLine.get();
    const int cache = m_semanticPromptStartRowCache;
    if (m_lines.peek(cache) == startLine && hasOpeningMark(*startLine)) {
        return cache;
    }
    ++m_semanticPromptRowScanCount;
    const std::optional<int> found =
        findRow(cache, [&](const BufferLine& line) { return &line == startLine; });
    if (found && hasOpeningMark(*startLine)) {
        m_semanticPromptStartRowCache = *found;
        return found;
    }
    // The row left the ring, or was recycled and lost its marks.
    const std::optional<int> rebound = findSemanticPromptRebindRow();
    if (!rebound) {
        m_semanticPromptStartLine = nullptr;
        return std::nullopt;
    }
    m_semanticPromptStartLine = m_lines.line(*rebound);
    m_semanticPromptStartRowCache = *rebound;
    return rebound;
}

std::optional<int> Buffer::findSemanticPromptRebindRow() const {
    const int count = m_lines.count();
    if (count == 0) {
        return std::nullopt;
    }
    const int start = std::clamp(m_yBase + m_y, 0, count - 1);
    for (int row = start; row >= 0; --row) {
        if (rowHasGroupOpeningMark(row)) {
            return row;
        }
    }
    for (int row = start + 1; row < count; ++row) {
        if (rowHasGroupOpeningMark(row)) {
            return row;
        }
    }
    return std::nullopt;
}

bool Buffer::rowHasGroupOpeningMark(int row) const {
    const BufferLine* line = m_lines.peek(row);
    if (!line) {
        return false;
    }
    return std::any_of(
        line->semanticMarks().begin(), line->semanticMarks().end(), [&](const SemanticMark& mark) {
            return isOpeningKind(mark.kind()) && mark.group == m_activeSemanticGroupID;
        });
}

std::optional<Buffer::SemanticOrigin> Buffer::rawSemanticOrigin() const {
    if (!m_semanticPromptStartLine) {
        return std::nullopt;
    }
    for (SemanticPromptKind kind : {SemanticPromptKind::initial, SemanticPromptKind::secondary}) {
        for (const SemanticMark& mark : m_semanticPromptStartLine->semanticMarks()) {
            if (mark.kind() == kind) {
                return SemanticOrigin{m_semanticPromptStartLine, kind, mark.column};
            }
        }
    }
    return std::nullopt;
}

std::optional<Position> Buffer::activeSemanticPromptOrigin() {
    const std::optional<int> start = semanticPromptStartRow();
    if (!start) {
        return std::nullopt;
    }
    const int cells = m_lines[*start].count();
    const std::optional<SemanticOrigin> origin = rawSemanticOrigin();
    if (cells == 0 || !origin) {
        return std::nullopt;
    }
    return Position{std::clamp<int64_t>(origin->column, 0, cells - 1), *start};
}

std::vector<SemanticPromptAnchor> Buffer::semanticPromptMarks(int row) {
    std::vector<SemanticPromptAnchor> anchors;
    const BufferLine* line = m_lines.peek(row);
    if (!line || line->count() == 0) {
        return anchors;
    }
    for (const SemanticMark& mark : line->semanticMarks()) {
        anchors.push_back(SemanticPromptAnchor{
            Position{std::clamp<int64_t>(mark.column, 0, line->count() - 1), row}, mark.kind()});
    }
    return anchors;
}

std::optional<uint64_t> Buffer::originMarkGroup(int row, std::optional<int> activeOrigin) const {
    const BufferLine* line = m_lines.peek(row);
    if (!line) {
        return std::nullopt;
    }
    for (const SemanticMark& mark : line->semanticMarks()) {
        if (mark.kind() == SemanticPromptKind::initial) {
            return mark.group;
        }
    }
    if (activeOrigin == row) {
        for (const SemanticMark& mark : line->semanticMarks()) {
            if (mark.kind() == SemanticPromptKind::secondary) {
                return mark.group;
            }
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> Buffer::joiningMarkGroup(int row) const {
    const BufferLine* line = m_lines.peek(row);
    if (!line) {
        return std::nullopt;
    }
    for (const SemanticMark& mark : line->semanticMarks()) {
        if (mark.kind() != SemanticPromptKind::initial && mark.group != 0) {
            return mark.group;
        }
    }
    return std::nullopt;
}

std::optional<SemanticPromptKind> Buffer::semanticRowKind(int row) {
    if (row < 0 || row >= m_lines.count()) {
        return std::nullopt;
    }
    const std::optional<int> start = semanticPromptStartRow();
    if (originMarkGroup(row, start)) {
        return SemanticPromptKind::initial;
    }
    if (joiningMarkGroup(row)) {
        return SemanticPromptKind::continuation;
    }
    // Walk up through soft wraps and hard-continuation groups to the row that opened the line.
    std::optional<uint64_t> hardGroup;
    for (int k = row; k > 0; --k) {
        const BufferLine* line = m_lines.peek(k);
        if (!line) {
            return std::nullopt;
        }
        if (!line->isWrapped()) {
            const std::optional<uint64_t> group = line->semanticHardContinuationGroup();
            if (!group) {
                return std::nullopt;
            }
            if (!hardGroup) {
                hardGroup = group;
            } else if (group != hardGroup) {
                return std::nullopt;
            }
        }
        std::optional<uint64_t> above = originMarkGroup(k - 1, start);
        if (!above) {
            above = joiningMarkGroup(k - 1);
        }
        if (above) {
            if (!hardGroup || above == hardGroup) {
                return SemanticPromptKind::continuation;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool Buffer::rowContinuesActiveGroupHard(int row) {
    if (m_activeSemanticGroupID == 0) {
        return false;
    }
    const BufferLine* line = m_lines.peek(row);
    if (!line) {
        return false;
    }
    return line->semanticHardContinuationGroup() == m_activeSemanticGroupID ||
           joiningMarkGroup(row) == m_activeSemanticGroupID;
}

std::optional<Position> Buffer::semanticPromptRelativeOrigin(const Position& position) {
    const std::optional<Position> origin = activeSemanticPromptOrigin();
    if (!origin) {
        return std::nullopt;
    }
    if (position.row < origin->row) {
        return origin;
    }
    Position result = *origin;
    const int64_t last = std::min<int64_t>(m_lines.count() - 1, position.row);
    for (int64_t i = origin->row; i <= last; ++i) {
        const BufferLine* line = m_lines.peek(int(i));
        if (!line) {
            continue;
        }
        for (const SemanticMark& mark : line->semanticMarks()) {
            if (mark.kind() != SemanticPromptKind::secondary ||
                mark.group != m_activeSemanticGroupID) {
                continue;
            }
            if (i >= position.row && mark.column > position.col) {
                continue;
            }
            result = Position{mark.column, i};
        }
    }
    return result;
}

std::optional<int> Buffer::absoluteRow(const BufferLine& line) {
    return findRow(m_semanticPromptStartRowCache,
                   [&](const BufferLine& candidate) { return &candidate == &line; });
}

void Buffer::resetSemanticState() {
    semanticContent = SemanticContent::none;
    semanticInput = SemanticInputState::idle;
    semanticClickMode = SemanticPromptClickMode::none;
    semanticUsesSpecialCursorKeys = false;
    m_semanticPromptStartLine = nullptr;
}

} // namespace veldatron
