#include "SearchEngine.h"

#include "Buffer.h"
#include "TerminalServices.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace veldatron {

static_assert(SearchEngine::nonWordCharacters.size() == 32);

namespace {

using Entry = SearchLineCache::Entry;

// Whether a row's cell gives a character of the row's text: every cell but the empty right half
// of a wide character.
bool givesCharacter(const BufferLine& line, int col) {
    return !(line[col].code() == 0 && col > 0 && line[col - 1].width() == 2);
}

bool isWordCharacter(const Entry& line, int64_t index) {
    const int32_t begin = line.utf16Offset(index);
    const int32_t end = line.utf16Offset(index + 1);
    return end - begin != 1 || SearchEngine::nonWordCharacters.find(
                                   line.lineAsString[size_t(begin)]) == std::u16string_view::npos;
}

std::string utf8(const std::u16string& text, int32_t begin, int32_t end) {
    std::string out;
    icu::UnicodeString(false, text.data() + begin, end - begin).toUTF8String(out);
    return out;
}

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? (b > 0 ? INT64_MAX : INT64_MIN) : sum;
}

// A match in a logical line, in characters.
struct LineMatch {
    int64_t start = 0;
    int64_t length = 0;
    // The matched text (regular expressions only).
    std::string text;
};

} // namespace

struct SearchEngine::LineMatcher {
    std::unique_ptr<icu::RegexMatcher> matcher;
    std::string term;
    bool regex = false;
    bool wholeWord = false;
    // Regular expressions: the end of the step's time, and whether it ran out (the step then
    // gives no result).
    std::chrono::steady_clock::time_point deadline;
    bool timedOut = false;

    // Points the matcher at a line; false when the step has run out of time.
    bool setInput(const Entry& line, icu::UnicodeString& input) {
        if (timedOut) {
            return false;
        }
        UErrorCode status = U_ZERO_ERROR;
        if (regex) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                timedOut = true;
                return false;
            }
            matcher->setTimeLimit(int32_t(std::min<int64_t>(left.count(), INT32_MAX)), status);
        }
        input.setTo(false, line.lineAsString.data(), int32_t(line.lineAsString.size()));
        matcher->reset(input);
        // A step searches part of a logical line, but "^", "$", "\b" and look-arounds are
        // about the whole line: otherwise a match would depend on where the step started, and
        // stepping back would not find what stepping forward found.
        matcher->useAnchoringBounds(false);
        matcher->useTransparentBounds(true);
        return true;
    }

    // Every match inside the UTF-16 range from..<to of the line, in order, handed to `accept`
    // until it answers true; the accepted match, or none. Empty matches are passed over; a plain
    // term's occurrences may overlap, and one that begins or ends inside a character is none.
    template <typename Accept>
    std::optional<LineMatch> scan(const Entry& line, int32_t from, int32_t to, Accept&& accept) {
        icu::UnicodeString input;
        if (from > to || !setInput(line, input)) {
            return std::nullopt;
        }
        UErrorCode status = U_ZERO_ERROR;
        matcher->region(from, to, status);
        while (U_SUCCESS(status)) {
            if (!matcher->find(status)) {
                break;
            }
            const int32_t begin = matcher->start(status);
            const int32_t end = matcher->end(status);
            if (U_FAILURE(status)) {
                break;
            }
            LineMatch match;
            match.start = line.characterIndex(begin);
            if (regex) {
                if (begin == end) {
                    continue;
                }
                // A match that starts or ends inside a character covers all of it.
                match.length = line.characterIndex(end - 1) + 1 - match.start;
                match.text = utf8(line.lineAsString, line.utf16Offset(match.start),
                                  line.utf16Offset(match.start + match.length));
            } else {
                match.length = line.characterIndex(end) - match.start;
                const bool whole = line.utf16Offset(match.start) == begin &&
                                   line.utf16Offset(match.start + match.length) == end;
                // The next occurrence may overlap this one: look again from the next character.
                matcher->region(from, to, line.utf16Offset(match.start + 1), status);
                if (!whole) {
                    continue;
                }
            }
            if ((!wholeWord || isWholeWord(match.start, line, match.length)) && accept(match)) {
                return match;
            }
        }
        if (status == U_REGEX_TIME_OUT) {
            timedOut = true;
        }
        return std::nullopt;
    }
};

SearchEngine::SearchEngine(TerminalServices& terminal, SearchLineCache& lineCache,
                           std::chrono::milliseconds regexTimeLimit)
    : m_terminal(terminal), m_lineCache(lineCache), m_regexTimeLimit(regexTimeLimit) {}

SearchEngine::~SearchEngine() = default;

std::unique_ptr<SearchEngine::LineMatcher>
SearchEngine::beginStep(const std::string& term,
                        const std::optional<SearchOptions>& searchOptions) {
    if (term.empty()) {
        return nullptr;
    }
    m_lineCache.initLinesCache();
    auto matcher = std::make_unique<LineMatcher>();
    matcher->term = term;
    matcher->regex = searchOptions && searchOptions->regex;
    matcher->wholeWord = searchOptions && searchOptions->wholeWord;
    uint32_t flags = matcher->regex ? 0 : UREGEX_LITERAL;
    if (!(searchOptions && searchOptions->caseSensitive)) {
        flags |= UREGEX_CASE_INSENSITIVE;
    }
    UErrorCode status = U_ZERO_ERROR;
    matcher->matcher = std::make_unique<icu::RegexMatcher>(
        icu::UnicodeString::fromUTF8(icu::StringPiece(term.data(), int32_t(term.size()))), flags,
        status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    matcher->deadline = std::chrono::steady_clock::now() + m_regexTimeLimit;
    return matcher;
}

bool SearchEngine::isWholeWord(int64_t searchIndex, const Entry& line, int64_t length) {
    const int64_t after = searchIndex + length;
    return (searchIndex == 0 || !isWordCharacter(line, searchIndex - 1)) &&
           (after >= line.characterCount() || !isWordCharacter(line, after));
}

int64_t SearchEngine::bufferColsToStringOffset(int64_t startRow, int64_t cols) {
    CircularBufferLineList& lines = m_terminal.buffer().lines();
    const int64_t width = m_terminal.cols();
    int64_t characters = 0;
    for (int64_t row = startRow, left = cols; left > 0 && row >= 0 && row < lines.count();
         ++row, left -= width) {
        const BufferLine& line = lines[int(row)];
        const int64_t counted = std::min<int64_t>({width, left, line.count()});
        for (int col = 0; col < counted; ++col) {
            characters += givesCharacter(line, col) ? 1 : 0;
        }
        // The blank left where the next row's wide character did not fit is not in the text.
        if (counted == line.count() && m_lineCache.dropsLastCell(row)) {
            --characters;
        }
        if (row + 1 >= lines.count() || !lines[int(row) + 1].isWrapped()) {
            break;
        }
    }
    return characters;
}

int64_t SearchEngine::stringLengthToBufferSize(int64_t row, int64_t offset) {
    CircularBufferLineList& lines = m_terminal.buffer().lines();
    if (row < 0 || row >= lines.count() || offset <= 0) {
        return 0;
    }
    const BufferLine& line = lines[int(row)];
    int col = 0;
    for (int64_t characters = 0; col < line.count() && characters < offset; ++col) {
        characters += givesCharacter(line, col) ? 1 : 0;
    }
    // A wide character ends after its empty right half.
    while (col < line.count() && !givesCharacter(line, col)) {
        ++col;
    }
    return col;
}

const Entry& SearchEngine::lineAt(int64_t row, Entry& scratch) {
    if (const Entry* cached = m_lineCache.lineInCache(row)) {
        return *cached;
    }
    m_lineCache.setLineInCache(row, m_lineCache.translateBufferLineToStringWithWrap(row, true));
    if (const Entry* cached = m_lineCache.lineInCache(row)) {
        return *cached;
    }
    scratch = m_lineCache.translateBufferLineToStringWithWrap(row, true);
    return scratch;
}

std::optional<SearchResult> SearchEngine::findInLine(LineMatcher& matcher,
                                                     SearchPosition& searchPosition,
                                                     bool isReverseSearch) {
    CircularBufferLineList& lines = m_terminal.buffer().lines();
    const int64_t width = m_terminal.cols();
    // A continuation row is searched as part of its logical line, from the same place in it. The
    // oldest row of the ring starts a line even when the row it continued has gone.
    while (searchPosition.row > 0 && searchPosition.row < lines.count() &&
           lines[int(searchPosition.row)].isWrapped()) {
        searchPosition.col = saturatingAdd(searchPosition.col, width);
        if (isReverseSearch) {
            return std::nullopt;
        }
        --searchPosition.row;
    }
    const int64_t row = searchPosition.row;
    if (row < 0 || row >= lines.count() || matcher.timedOut) {
        return std::nullopt;
    }
    Entry scratch;
    const Entry& line = lineAt(row, scratch);
    const int64_t rowCount = int64_t(line.lineOffsets.size());
    const int64_t k =
        searchPosition.col >= width * rowCount
            ? line.characterCount()
            : std::min(line.characterCount(), bufferColsToStringOffset(row, searchPosition.col));
    const int32_t at = line.utf16Offset(k);
    const int32_t length = int32_t(line.lineAsString.size());
    std::optional<LineMatch> match;
    if (isReverseSearch) {
        // The last match that ends by the position.
        matcher.scan(line, 0, at, [&](const LineMatch& candidate) {
            match = candidate;
            return false;
        });
    } else {
        match = matcher.scan(line, at, length, [](const LineMatch&) { return true; });
    }
    if (!match) {
        return std::nullopt;
    }
    // The rows of the logical line the match starts and ends in.
    const std::vector<int64_t>& offsets = line.lineOffsets;
    const int64_t matchEnd = match->start + match->length;
    int64_t s = 0;
    while (s + 1 < rowCount && offsets[size_t(s + 1)] <= match->start) {
        ++s;
    }
    int64_t e = s;
    while (e + 1 < rowCount && offsets[size_t(e + 1)] <= matchEnd) {
        ++e;
    }
    const int64_t startCol = stringLengthToBufferSize(row + s, match->start - offsets[size_t(s)]);
    const int64_t endCol = stringLengthToBufferSize(row + e, matchEnd - offsets[size_t(e)]);
    return SearchResult{matcher.regex ? match->text : matcher.term, startCol, row + s,
                        endCol - startCol + width * (e - s)};
}

std::optional<SearchResult> SearchEngine::findForwardFrom(LineMatcher& matcher,
                                                          SearchPosition position) {
    const int64_t first = position.row;
    if (auto result = findInLine(matcher, position, false)) {
        return result;
    }
    const int64_t count = m_terminal.buffer().lines().count();
    for (int64_t row = std::clamp<int64_t>(first, -1, count) + 1; row < count && !matcher.timedOut;
         ++row) {
        SearchPosition next{0, row};
        if (auto result = findInLine(matcher, next, false)) {
            return result;
        }
    }
    return std::nullopt;
}

std::optional<SearchResult> SearchEngine::find(const std::string& term, int64_t startRow,
                                               int64_t startCol,
                                               const std::optional<SearchOptions>& searchOptions) {
    if (startCol > m_terminal.cols()) {
        return std::nullopt;
    }
    const auto matcher = beginStep(term, searchOptions);
    if (!matcher) {
        return std::nullopt;
    }
    return findForwardFrom(*matcher, SearchPosition{startCol, startRow});
}

std::optional<SearchResult>
SearchEngine::findNextWithSelection(const std::string& term,
                                    const std::optional<SearchOptions>& searchOptions,
                                    const std::optional<std::string>& cachedSearchTerm,
                                    const std::optional<SearchSelection>& previousSelection) {
    const auto matcher = beginStep(term, searchOptions);
    if (!matcher) {
        return std::nullopt;
    }
    // The same term goes on past the current match; a changed one may still match where the
    // current match begins.
    Position from;
    if (previousSelection) {
        from = cachedSearchTerm == term ? previousSelection->end : previousSelection->start;
    }
    if (auto result = findForwardFrom(*matcher, SearchPosition{from.col, from.row})) {
        return result;
    }
    const int64_t count = m_terminal.buffer().lines().count();
    for (int64_t row = 0; row < std::min(from.row, count) && !matcher->timedOut; ++row) {
        SearchPosition position{0, row};
        if (auto result = findInLine(*matcher, position, false)) {
            return result;
        }
    }
    if (previousSelection) {
        SearchPosition position{0, previousSelection->start.row};
        return findInLine(*matcher, position, false);
    }
    return std::nullopt;
}

std::optional<SearchResult>
SearchEngine::findPreviousWithSelection(const std::string& term,
                                        const std::optional<SearchOptions>& searchOptions,
                                        const std::optional<std::string>& cachedSearchTerm,
                                        const std::optional<SearchSelection>& previousSelection) {
    const auto matcher = beginStep(term, searchOptions);
    if (!matcher) {
        return std::nullopt;
    }
    const int64_t last = m_terminal.buffer().lines().count() - 1;
    SearchPosition position{m_terminal.cols(), last};
    if (previousSelection && cachedSearchTerm == term) {
        position = SearchPosition{previousSelection->start.col, previousSelection->start.row};
    } else if (previousSelection) {
        // A changed term that still matches where the current match begins keeps it.
        SearchPosition start{previousSelection->start.col, previousSelection->start.row};
        if (auto result = findInLine(*matcher, start, false)) {
            return result;
        }
        position = SearchPosition{previousSelection->end.col, previousSelection->end.row};
    }
    const int64_t startRow = std::clamp<int64_t>(position.row, -1, last + 1);
    if (auto result = findInLine(*matcher, position, true)) {
        return result;
    }
    // Whole rows from here on; the column keeps growing over continuation rows, so that the
    // first row of a logical line is searched up to where the search came from.
    position.col = std::max<int64_t>(position.col, m_terminal.cols());
    const auto searchRows = [&](int64_t from, int64_t downTo) -> std::optional<SearchResult> {
        for (int64_t row = std::min(from, last); row >= std::max<int64_t>(downTo, 0); --row) {
            if (matcher->timedOut) {
                break;
            }
            position.row = row;
            if (auto result = findInLine(*matcher, position, true)) {
                return result;
            }
        }
        return std::nullopt;
    };
    if (auto result = searchRows(startRow - 1, 0)) {
        return result;
    }
    // Round from the bottom, through the whole logical line the search started in: its matches
    // after the starting place (or that place itself) are the last ones of the buffer when
    // nothing else matched, also when it is the last line or the start was on a continuation
    // row.
    CircularBufferLineList& lines = m_terminal.buffer().lines();
    int64_t lineStart = std::clamp<int64_t>(startRow, 0, last);
    while (lineStart > 0 && lines[int(lineStart)].isWrapped()) {
        --lineStart;
    }
    return searchRows(last, lineStart);
}

std::vector<SearchResult> SearchEngine::findAll(const std::string& term,
                                                const std::optional<SearchOptions>& searchOptions,
                                                int64_t limit) {
    std::vector<SearchResult> results;
    const auto matcher = beginStep(term, searchOptions);
    if (!matcher || limit <= 0) {
        return results;
    }
    std::optional<SearchResult> match = findForwardFrom(*matcher, SearchPosition{0, 0});
    const int64_t width = std::max(m_terminal.cols(), 1);
    while (match) {
        results.push_back(std::move(*match));
        if (int64_t(results.size()) >= limit) {
            break;
        }
        const SearchResult& previous = results.back();
        const int64_t next =
            previous.col + previous.row * width + std::max<int64_t>(previous.size, 1);
        match = findForwardFrom(*matcher, SearchPosition{next % width, next / width});
        if (match && match->col == previous.col && match->row == previous.row) {
            break;
        }
    }
    return results;
}

} // namespace veldatron
