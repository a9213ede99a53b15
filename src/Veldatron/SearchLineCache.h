#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veldatron {

class BufferLine;
class TerminalServices;

// The text of logical lines (a row and the wrapped rows that continue it) of a terminal's current
// buffer, as search matches against it, cached by the line's first row between search steps.
//
// Text is counted in characters, one per cell, except that the empty right half of a wide
// character adds none; matching works on UTF-16 (the regular-expression engine's units), so
// each entry also knows where each character begins in its UTF-16 text.
//
// The cache survives from one search step to the next while the buffer's line count stays the
// same and the steps come less than 15 seconds apart; it does not notice text that changes in
// place, so its owner drops it (invalidate) whenever the terminal receives data or resizes.
// Owned by a SearchService; single-threaded.
class SearchLineCache {
public:
    // One logical line.
    struct Entry {
        // The text, UTF-16.
        std::u16string lineAsString;
        // The character offset at which each row of the line starts; the first is 0.
        std::vector<int64_t> lineOffsets;
        // Where each character starts in lineAsString, and its length at the end; empty when
        // every character is one UTF-16 unit (the offsets are then the character indexes).
        std::vector<int32_t> characterStarts;

        int64_t characterCount() const {
            return characterStarts.empty() ? int64_t(lineAsString.size())
                                           : int64_t(characterStarts.size()) - 1;
        }
        // The UTF-16 offset of a character index (0...characterCount()).
        int32_t utf16Offset(int64_t character) const {
            return characterStarts.empty() ? int32_t(character)
                                           : characterStarts[size_t(character)];
        }
        // The index of the character that holds a UTF-16 offset (characterCount() at the end).
        int64_t characterIndex(int32_t utf16) const;
    };
    // Seconds on a steady clock.
    using Clock = std::function<double()>;
    static constexpr double maximumIdleSeconds = 15;

    explicit SearchLineCache(TerminalServices& terminal, Clock clock = {});

    // At the start of every search step: keeps the cache when it exists, the last step came less
    // than 15 seconds ago and the buffer still has as many lines; otherwise starts an empty one.
    void initLinesCache();
    // The text of the logical line that starts at `lineIndex`, with the last row trimmed of
    // empty cells when `trimRight`; empty for a row outside the buffer.
    Entry translateBufferLineToStringWithWrap(int64_t lineIndex, bool trimRight) const;
    // Stores an entry for a row of the cache; nothing without a cache or outside it.
    void setLineInCache(int64_t row, Entry entry);
    // The cached entry of a row, or null.
    const Entry* lineInCache(int64_t row) const;
    // Whether a ring row, as the start of a logical line, gives up its last cell: a blank left
    // at the end of a row where the next row's wide character did not fit.
    bool dropsLastCell(int64_t row) const;
    // Drops the cache (the next step rebuilds it).
    void invalidate();

    bool hasCache() const { return m_linesCache.has_value(); }
    double lastAccessTimestamp() const { return m_lastAccessTimestamp; }

private:
    TerminalServices& m_terminal;
    Clock m_clock;
    std::optional<std::vector<std::unique_ptr<Entry>>> m_linesCache;
    double m_lastAccessTimestamp = 0;
};

} // namespace veldatron
