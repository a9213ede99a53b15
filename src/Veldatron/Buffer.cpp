#include "Buffer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace veldatron {

namespace {

// A history size the ring can hold beside `rows` screen rows. A negative setting would make the
// ring smaller than the screen, and a huge one must not overflow the ring size.
std::optional<int> clampScrollback(std::optional<int> scrollback, int rows) {
    if (!scrollback) {
        return std::nullopt;
    }
    return std::clamp(*scrollback, 0, Buffer::maxRingLength - rows);
}

} // namespace

Buffer::Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback,
               BidiPresentationState bidiState)
    : defaultBidiState(bidiState), m_lines(0), m_hasScrollback(scrollback.has_value()),
      m_cols(std::max(cols, 1)), m_rows(std::max(rows, 1)) {
    m_scrollback = clampScrollback(scrollback, m_rows);
    m_scrollBottom = m_rows - 1;
    m_marginRight = m_cols - 1;
    scroll = [](bool) {
        std::fputs("This should be set after creating a buffer\n", stderr);
        std::abort();
    };
    m_lines = CircularBufferLineList(getCorrectBufferLength(m_rows));
    setupLinesCallbacks();
    setupTabStops(-1, tabStopWidth);
}

int Buffer::getCorrectBufferLength(int rows) const {
    if (!m_hasScrollback) {
        return rows;
    }
    const int64_t length = int64_t(rows) + m_scrollback.value_or(0);
    return int(std::min<int64_t>(length, maxRingLength));
}

BufferLinePtr Buffer::getBlankLine(const Attribute& attribute, bool isWrapped) {
    BufferLinePtr line =
        BufferLine::create(m_cols, CharData(attribute, 0, 1), isWrapped, defaultBidiState);
    line->setOwningBuffer(weak_from_this());
    return line;
}

void Buffer::fillViewportRows(std::optional<Attribute> attribute) {
    if (m_lines.count() != 0) {
        return;
    }
    const Attribute fill = attribute.value_or(Attribute());
    for (int i = 0; i < m_rows; ++i) {
        m_lines.push(getBlankLine(fill, false));
    }
}

CharData Buffer::getChar(const Position& at) {
    return getCharAtBufferRelative(Position{at.col, at.row + m_yDisp});
}

CharData Buffer::getCharAtBufferRelative(const Position& at) {
    if (at.row < 0 || at.row >= m_lines.count()) {
        return CharData::Null;
    }
    const BufferLine& line = m_lines[int(at.row)];
    if (at.col < 0 || at.col >= line.count()) {
        return CharData::Null;
    }
    return line[int(at.col)];
}

void Buffer::setupTabStops(int index, int tabStopWidth) {
    // A width of 0 or less would never advance the fill below.
    const int width = tabStopWidth < 1 ? 8 : tabStopWidth;
    int start = 0;
    if (index < 0) {
        m_tabStops.assign(size_t(m_cols), false);
    } else {
        m_tabStops.resize(size_t(m_cols), false);
        const int col = std::min(index, m_cols - 1);
        start = m_tabStops[size_t(col)] ? index : previousTabStop(col);
    }
    for (int64_t i = start; i < m_cols; i += width) {
        m_tabStops[size_t(i)] = true;
    }
}

void Buffer::tabSet(int pos) {
    if (pos >= 0 && size_t(pos) < m_tabStops.size()) {
        m_tabStops[size_t(pos)] = true;
    }
}

void Buffer::tabClear(int pos) {
    if (pos >= 0 && size_t(pos) < m_tabStops.size()) {
        m_tabStops[size_t(pos)] = false;
    }
}

int Buffer::nextTabStop(bool marginMode, int index) const {
    const int limit = marginMode ? m_marginRight : m_cols - 1;
    if (index == -1) {
        index = m_x;
    }
    if (index >= limit) {
        return limit;
    }
    const int end = std::min<int>(limit, int(m_tabStops.size()));
    for (int i = std::max(index + 1, 0); i < end; ++i) {
        if (m_tabStops[size_t(i)]) {
            return i;
        }
    }
    return limit;
}

int Buffer::previousTabStop(int index) const {
    if (index == -1) {
        index = m_x;
    }
    const int last = std::min({index - 1, m_cols - 1, int(m_tabStops.size()) - 1});
    for (int i = last; i >= 0; --i) {
        if (m_tabStops[size_t(i)]) {
            return i;
        }
    }
    return 0;
}

void Buffer::clear() {
    m_yDisp = 0;
    linesTop = 0;
    m_x = 0;
    m_y = 0;
    m_yBase = 0;
    m_lines = CircularBufferLineList(getCorrectBufferLength(m_rows));
    setupLinesCallbacks();
    m_linesWithImagesCount = 0;
    m_scrollTop = 0;
    m_scrollBottom = m_rows - 1;
    m_marginLeft = 0;
    m_marginRight = m_cols - 1;
    semanticContent = SemanticContent::none;
    semanticInput = SemanticInputState::idle;
    semanticClickMode = SemanticPromptClickMode::none;
    semanticUsesSpecialCursorKeys = false;
    m_semanticPromptStartLine = nullptr;
    m_semanticGroupCounter = 0;
    m_activeSemanticGroupID = 0;
}

void Buffer::softReset() {
    savedAttr = Attribute();
    savedY = 0;
    savedX = 0;
    savedCharset = nullptr;
    m_marginLeft = 0;
    m_marginRight = m_cols - 1;
    savedOriginMode = false;
    savedMarginMode = false;
    savedWraparound = true;
    savedReverseWraparound = false;
}

void Buffer::clearScrollback() {
    if (m_yBase <= 0) {
        return;
    }
    m_lines.trimStart(m_yBase);
    savedY = std::max(savedY - m_yBase, 0);
    m_yBase = 0;
    m_yDisp = 0;
}

void Buffer::changeHistorySize(std::optional<int> scrollback) {
    m_scrollback = clampScrollback(scrollback, m_rows);
    m_hasScrollback = m_scrollback.has_value();
    const int newLength = getCorrectBufferLength(m_rows);
    if (newLength == m_lines.maxLength()) {
        return;
    }
    if (newLength < m_lines.maxLength() && m_lines.count() > newLength) {
        const int dropped = m_lines.count() - newLength;
        m_lines.trimStart(dropped);
        m_yBase = std::max(m_yBase - dropped, 0);
        m_yDisp = std::max(m_yDisp - dropped, 0);
        savedY = std::max(savedY - dropped, 0);
    }
    m_lines.setMaxLength(newLength);
}

void Buffer::attachImage(std::shared_ptr<TerminalImage> image, int64_t index) {
    if (index < 0 || index >= m_lines.count()) {
        return;
    }
    BufferLine& line = m_lines[int(index)];
    const bool hadImages = line.hasImages();
    line.attach(std::move(image));
    if (!hadImages) {
        ++m_linesWithImagesCount;
    }
}

void Buffer::clearImagesFromLine(int index) {
    if (index < 0 || index >= m_lines.count()) {
        return;
    }
    BufferLine& line = m_lines[index];
    if (!line.hasImages()) {
        return;
    }
    line.setImages(std::nullopt);
    m_linesWithImagesCount = std::max(m_linesWithImagesCount - 1, 0);
    line.bumpGeneration();
}

BufferLine::Images
Buffer::takeImagesFromLine(int index,
                           FunctionRef<bool(const std::shared_ptr<TerminalImage>&)> take) {
    BufferLine::Images taken;
    BufferLine* line = index >= 0 && index < m_lines.count() ? m_lines.peek(index) : nullptr;
    if (line == nullptr || !line->hasImages()) {
        return taken;
    }
    BufferLine::Images kept;
    for (const std::shared_ptr<TerminalImage>& image : *line->images()) {
        (take(image) ? taken : kept).push_back(image);
    }
    if (taken.empty()) {
        return taken;
    }
    if (kept.empty()) {
        clearImagesFromLine(index);
    } else {
        line->setImages(std::move(kept));
        line->bumpGeneration();
    }
    return taken;
}

void Buffer::forEachImage(
    FunctionRef<void(int index, const std::shared_ptr<TerminalImage>& image)> visit) const {
    if (!hasAnyImages()) {
        return;
    }
    for (int i = 0; i < m_lines.count(); ++i) {
        const BufferLine* line = m_lines.peek(i);
        if (line == nullptr || !line->hasImages()) {
            continue;
        }
        for (const std::shared_ptr<TerminalImage>& image : *line->images()) {
            visit(i, image);
        }
    }
}

void Buffer::recalculateLinesWithImagesCount() {
    int withImages = 0;
    for (int i = 0; i < m_lines.count(); ++i) {
        const BufferLine* line = m_lines.peek(i);
        withImages += line && line->hasImages();
    }
    m_linesWithImagesCount = withImages;
}

void Buffer::setupLinesCallbacks() {
    // The ring lives inside this buffer, so its callbacks cannot outlive it.
    m_lines.makeEmpty = [this](int) { return getBlankLine(Attribute(), false); };
    // Only rows that carry images move the count, and it never goes below 0: rows that leave the
    // ring in other ways (trims, a full ring's push) are not counted out, so it can be high.
    m_lines.onLineRecycledWithImages = [this] {
        if (m_linesWithImagesCount > 0) {
            --m_linesWithImagesCount;
        }
    };
    m_lines.onLinePushed = [this](bool hasImages) {
        if (hasImages) {
            ++m_linesWithImagesCount;
        }
    };
    m_lines.onLineAttached = [this](BufferLine& line) { line.setOwningBuffer(weak_from_this()); };
}

} // namespace veldatron
