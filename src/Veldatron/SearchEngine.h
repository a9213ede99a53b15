#pragma once

#include "Position.h"
#include "SearchLineCache.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veldatron {

class TerminalServices;

// How a term is matched: as plain text (case-insensitive unless `caseSensitive`) or as a regular
// expression, and, with `wholeWord`, only where it stands as a word of its own.
struct SearchOptions {
    bool caseSensitive = false;
    bool regex = false;
    bool wholeWord = false;
    friend bool operator==(const SearchOptions&, const SearchOptions&) = default;
};

// Cells from `start` (included) to `end` (excluded), buffer rows: where the last match lies, so
// that the next search step continues from it.
struct SearchSelection {
    Position start;
    Position end;
    friend bool operator==(const SearchSelection&, const SearchSelection&) = default;
};

// A match: its first cell and the number of cells it covers, counting a whole row of the
// terminal's width for every row boundary it crosses (a match from column 78 of an 80-column row
// to column 2 of the next has size 5).
struct SearchResult {
    // The term of a plain search; the matched text (UTF-8) of a regular expression.
    std::string term;
    int64_t col = 0;
    int64_t row = 0;
    int64_t size = 0;
    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

// Matching over the text of logical lines (a row and the rows that wrap on from it) of a
// terminal's current buffer, scrollback included, and the order in which rows are searched:
// forwards and backwards with wrap-around, or every match. Results are mapped back to cells, wide
// and combined characters included.
//
// Every search step compiles its term once (ICU regular expressions, offsets in UTF-16 units
// mapped to characters); a pattern that does not compile gives no result. A regular expression
// gets `regexTimeLimit` for the whole step: a step that runs out gives no result rather than
// stalling its thread. Absent options mean a case-insensitive plain search; an empty term never
// matches.
//
// Owned by a SearchService with the line cache it shares; single-threaded.
class SearchEngine {
public:
    static constexpr std::chrono::milliseconds defaultRegexTimeLimit{1000};
    // The characters that end a word; every other character is a word character.
    static constexpr std::u16string_view nonWordCharacters = u" ~!@#$%^&*()+`-=[]{}|\\;:\"',./<>?";

    SearchEngine(TerminalServices& terminal, SearchLineCache& lineCache,
                 std::chrono::milliseconds regexTimeLimit = defaultRegexTimeLimit);
    ~SearchEngine();
    SearchEngine(const SearchEngine&) = delete;
    SearchEngine& operator=(const SearchEngine&) = delete;

    // The first match at or after the cell, not wrapping round; none when the column is past the
    // row.
    std::optional<SearchResult> find(const std::string& term, int64_t startRow, int64_t startCol,
                                     const std::optional<SearchOptions>& searchOptions);
    // The next match after the previous one (from its end when the term is the cached one, from
    // its start when the term changed, from the top without one), wrapping round to the top.
    std::optional<SearchResult>
    findNextWithSelection(const std::string& term,
                          const std::optional<SearchOptions>& searchOptions,
                          const std::optional<std::string>& cachedSearchTerm,
                          const std::optional<SearchSelection>& previousSelection);
    // The nearest match before the previous one (from the bottom without one), wrapping round to
    // the bottom.
    std::optional<SearchResult>
    findPreviousWithSelection(const std::string& term,
                              const std::optional<SearchOptions>& searchOptions,
                              const std::optional<std::string>& cachedSearchTerm,
                              const std::optional<SearchSelection>& previousSelection);
    // Every match from the top in reading order, at most `limit`.
    std::vector<SearchResult> findAll(const std::string& term,
                                      const std::optional<SearchOptions>& searchOptions,
                                      int64_t limit);

    // Whether the characters searchIndex..<searchIndex + length of the line stand as a word: the
    // characters on either side (if any) are not word characters.
    static bool isWholeWord(int64_t searchIndex, const SearchLineCache::Entry& line,
                            int64_t length);
    // The number of characters of the logical line starting at `startRow` that precede its
    // column `cols` (which may run past the first row, a terminal width per row).
    int64_t bufferColsToStringOffset(int64_t startRow, int64_t cols);
    // The column of a row at which its first `offset` characters end (wide ones taking two).
    int64_t stringLengthToBufferSize(int64_t row, int64_t offset);

private:
    // A cell where a search of one logical line starts; findInLine may move it.
    struct SearchPosition {
        int64_t col = 0;
        int64_t row = 0;
    };
    // The term of one search step, compiled.
    struct LineMatcher;

    // Prepares the line cache and compiles the term; null for an empty term or a pattern that
    // does not compile.
    std::unique_ptr<LineMatcher> beginStep(const std::string& term,
                                           const std::optional<SearchOptions>& searchOptions);
    // The first match of the logical line at the position, from its column (backwards: the last
    // one before it).
    std::optional<SearchResult> findInLine(LineMatcher& matcher, SearchPosition& searchPosition,
                                           bool isReverseSearch);
    // The logical line at the position, then every row after it from column 0.
    std::optional<SearchResult> findForwardFrom(LineMatcher& matcher, SearchPosition position);
    const SearchLineCache::Entry& lineAt(int64_t row, SearchLineCache::Entry& scratch);

    TerminalServices& m_terminal;
    SearchLineCache& m_lineCache;
    std::chrono::milliseconds m_regexTimeLimit;
};

} // namespace veldatron
