#include "Terminal.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <time.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

namespace veldatron {

namespace {

// URLs of the listed schemes (a final "," or "." is not part of one), and file paths: relative
// ("./", "../"), home ("~/"), a "$VARIABLE/", hidden directories, absolute paths and "dir/file"
// with a dot somewhere. Single blanks inside a path are allowed where the rest still looks like
// a path, and trailing blanks up to the end of the line are taken (a path that ends the line).
constexpr char implicitLinkPatternText[] =
    R"RE((?:https?://|mailto:|ftp://|file:|ssh:|git://|ssh://|tel:|magnet:|ipfs://|ipns://|gemini://|gopher://|news:)(?:(?:\[[:0-9a-fA-F]+\](?::[0-9]+)?)|[\w\-.~:/?#@!$&*+,;=%](?:(?:[\(\[]\w*[\)\]]))?)+(?<![,.])|(?:\.\.\/|\.\/|(?<!\w)~\/|(?:[\w][\w\-.]*\/)*(?<!\w)\$[A-Za-z_]\w*\/|\.[\w][\w\-.]*\/|(?<![\w~\/])\/(?!\/))(?:(?=[\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?|(?![\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]+)*(?<!:)(?: +(?= *$))?)|(?=[\w\-.~:\/?#@!$&*+;=%]*\.)(?<!\w)[\w][\w\-.]*\/[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?)RE";
static_assert(sizeof(implicitLinkPatternText) - 1 == 704);

// Compiled once for the process; null when the pattern does not compile (no detection then).
const icu::RegexPattern* implicitLinkRegex() {
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError error;
        std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(implicitLinkPatternText), 0, error, status));
        return U_SUCCESS(status) ? std::move(compiled) : nullptr;
    }();
    return pattern.get();
}

// The characters a link can end a row with, or start the next one with, when it runs over the
// right edge without a wrap flag.
constexpr bool isContinuationCharacter(char32_t c) {
    constexpr std::string_view set = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789-._~:/?#[]@!$&*+,;=%()";
    return c < 0x80 && set.find(char(c)) != std::string_view::npos;
}

bool isWhitespace(std::u32string_view character) {
    return !character.empty() && u_isUWhiteSpace(UChar32(character.front()));
}

void appendUtf16(std::u16string& out, std::u32string_view text) {
    for (const char32_t c : text) {
        if (c < 0x10000) {
            out.push_back(char16_t(c));
        } else {
            out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
}

// The time budget of one lookup, shared by every match it runs. A pathological line must not
// stall the view that hovers over it: a long run of path characters without a dot makes the
// pattern's lookaheads scan to the end of the line from every position (a wrapped line of 80,000
// "~" takes seconds). The budget counts the processor time of the calling thread, so a busy
// machine that preempts the lookup does not cut short an ordinary one. (The matching engine's own
// time units are no measure of time: per unit, this pattern's scans differ by more than an order
// of magnitude.)
class LinkBudget {
public:
    LinkBudget() : m_end(threadTime() + int64_t(Terminal::implicitLinkTimeLimitMs) * 1000000) {}

    bool spent() const {
        if (!m_spent && threadTime() >= m_end) {
            m_spent = true;
        }
        return m_spent;
    }

    // Called by the matcher from time to time during a match; false stops it.
    static UBool U_CALLCONV keepMatching(const void* context, int32_t) {
        return !static_cast<const LinkBudget*>(context)->spent();
    }

private:
    // Nanoseconds of processor time this thread has used.
    static int64_t threadTime() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    }

    int64_t m_end;
    mutable bool m_spent = false;
};

enum class MatchSearch : uint8_t { found, exhausted, timedOut };

// Runs the pattern over the text, handing each match (start and end in UTF-16 units) to `take`
// in text order until it takes one.
template <typename Take>
MatchSearch findMatch(const std::u16string& text, const LinkBudget& budget, Take take) {
    const icu::RegexPattern* pattern = implicitLinkRegex();
    if (pattern == nullptr) {
        return MatchSearch::exhausted;
    }
    if (budget.spent()) {
        return MatchSearch::timedOut;
    }
    const icu::UnicodeString subject(false, text.data(), int32_t(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(subject, status));
    if (U_FAILURE(status)) {
        return MatchSearch::exhausted;
    }
    matcher->setMatchCallback(&LinkBudget::keepMatching, &budget, status);
    while (matcher->find(status)) {
        const int32_t start = matcher->start(status);
        const int32_t end = matcher->end(status);
        if (U_FAILURE(status)) {
            break;
        }
        if (take(int(start), int(end))) {
            return MatchSearch::found;
        }
    }
    return U_FAILURE(status) || budget.spent() ? MatchSearch::timedOut : MatchSearch::exhausted;
}

// A match right after a "$" is a shell variable's expansion, not a link ("$HOME/x" is taken
// whole by the path rule, which sees the "$").
bool followsDollar(const std::u16string& text, int start) {
    return start > 0 && text[size_t(start) - 1] == u'$';
}

// The first and last cells of a row that are not whitespace (within its text and the screen).
struct RowEdges {
    int firstCol;
    std::u32string firstCharacter;
    int lastCol;
    std::u32string lastCharacter;
};

// The steps of one implicit lookup over one screen, sharing its time budget.
class ImplicitLinkScanner {
public:
    ImplicitLinkScanner(Terminal& terminal, Buffer& buffer, const LinkBudget& budget)
        : m_terminal(terminal), m_buffer(buffer), m_budget(budget) {}

    std::optional<ImplicitLineMap> buildImplicitLineMap(const Position& at);

private:
    CircularBufferLineList& lines() { return m_buffer.lines(); }
    bool hasRow(int row) { return row >= 0 && row < lines().count(); }
    int usableWidth(const BufferLine& line) const {
        return std::min(line.count(), m_terminal.cols());
    }
    static bool isEmptyWideHalf(const BufferLine& line, int col) {
        return col > 0 && line[col].code() == 0 && line[col - 1].width() == 2;
    }
    // The cell's character; a space for an empty cell.
    std::u32string cellCharacter(const BufferLine& line, int col) const {
        const int32_t code = line[col].code();
        return code == 0 ? std::u32string(U" ") : m_terminal.character(code);
    }

    bool isImplicitContinuationRow(int row, int startRow);
    std::optional<std::pair<int, int>> heuristicImplicitGroup(int row);
    bool canJoinImplicitRows(int upper, int lower);
    std::optional<RowEdges> linkRowEdgeInfo(int row);
    bool seamContainsImplicitLink(int upper, int lower, int upperLastCol, int lowerFirstCol);
    std::u16string implicitLineSegmentText(const BufferLine& line, int startCol, int endCol) const;

    Terminal& m_terminal;
    Buffer& m_buffer;
    const LinkBudget& m_budget;
};

std::optional<ImplicitLineMap> ImplicitLinkScanner::buildImplicitLineMap(const Position& at) {
    if (at.row < 0 || at.row >= lines().count()) {
        return std::nullopt;
    }
    const int row = int(at.row);
    const int usable = usableWidth(lines()[row]);
    if (usable < 1) {
        return std::nullopt;
    }
    int col = int(std::clamp<int64_t>(at.col, 0, usable - 1));
    if (isEmptyWideHalf(lines()[row], col)) {
        --col;
    }
    int start = row;
    while (start > 0 && lines()[start].isWrapped()) {
        --start;
    }
    int end = row;
    while (end + 1 < lines().count() && lines()[end + 1].isWrapped()) {
        ++end;
    }
    if (start == row && end == row) {
        if (const auto group = heuristicImplicitGroup(row)) {
            std::tie(start, end) = *group;
        }
    }
    ImplicitLineMap map;
    map.row = row;
    map.col = col;
    bool covered = false;
    for (int k = start; k <= end; ++k) {
        const BufferLine& line = lines()[k];
        const int contentEnd = std::min(line.getTrimmedLength(), usableWidth(line));
        if (contentEnd <= 0) {
            continue;
        }
        int from = 0;
        // A continued row's indentation is layout, not text: a path split over two rows with
        // indentation joins without a gap.
        if (isImplicitContinuationRow(k, start)) {
            while (from < contentEnd &&
                   (line[from].code() == 0 || isWhitespace(cellCharacter(line, from)))) {
                ++from;
            }
            if (from >= contentEnd) {
                continue;
            }
        }
        if (k == row && col >= from && col < contentEnd) {
            covered = true;
        }
        for (int c = from; c < contentEnd; ++c) {
            if (isEmptyWideHalf(line, c)) {
                continue;
            }
            const size_t before = map.text.size();
            appendUtf16(map.text, cellCharacter(line, c));
            // A wide character that margins left in the last column has no right half there.
            const int width = std::clamp(line[c].width(), 1, usableWidth(line) - c);
            map.cells.insert(map.cells.end(), map.text.size() - before,
                             ImplicitCellRef{k, c, width});
        }
    }
    if (map.text.empty() || !covered) {
        return std::nullopt;
    }
    return map;
}

bool ImplicitLinkScanner::isImplicitContinuationRow(int row, int startRow) {
    return row > startRow && (lines()[row].isWrapped() || canJoinImplicitRows(row - 1, row));
}

std::optional<std::pair<int, int>> ImplicitLinkScanner::heuristicImplicitGroup(int row) {
    int start = row;
    while (start > 0 && canJoinImplicitRows(start - 1, start)) {
        --start;
    }
    int end = row;
    while (end + 1 < lines().count() && canJoinImplicitRows(end, end + 1)) {
        ++end;
    }
    if (start == row && end == row) {
        return std::nullopt;
    }
    return std::pair(start, end);
}

bool ImplicitLinkScanner::canJoinImplicitRows(int upper, int lower) {
    const std::optional<RowEdges> top = linkRowEdgeInfo(upper);
    const std::optional<RowEdges> bottom = linkRowEdgeInfo(lower);
    if (!top || !bottom) {
        return false;
    }
    // The upper row must reach (nearly) the right edge: text that stops early ended its line.
    const int cols = m_terminal.cols();
    const int slack = cols < 10 ? 2 : cols / 5;
    if (top->lastCol < cols - slack) {
        return false;
    }
    const auto allContinuation = [](std::u32string_view character) {
        return std::all_of(character.begin(), character.end(), isContinuationCharacter);
    };
    return allContinuation(top->lastCharacter) && allContinuation(bottom->firstCharacter) &&
           seamContainsImplicitLink(upper, lower, top->lastCol, bottom->firstCol);
}

std::optional<RowEdges> ImplicitLinkScanner::linkRowEdgeInfo(int row) {
    if (!hasRow(row)) {
        return std::nullopt;
    }
    const BufferLine& line = lines()[row];
    const int limit = std::min(line.getTrimmedLength(), usableWidth(line));
    // The empty right half of a wide character stands for the character.
    const auto character = [&](int col) {
        return cellCharacter(line, isEmptyWideHalf(line, col) ? col - 1 : col);
    };
    int first = 0;
    while (first < limit && isWhitespace(character(first))) {
        ++first;
    }
    if (first >= limit) {
        return std::nullopt;
    }
    int last = limit - 1;
    while (isWhitespace(character(last))) {
        --last;
    }
    return RowEdges{first, character(first), last, character(last)};
}

bool ImplicitLinkScanner::seamContainsImplicitLink(int upper, int lower, int upperLastCol,
                                                   int lowerFirstCol) {
    // Enough text on each side of the break for any link the pattern would find across it.
    constexpr int window = 96;
    if (implicitLinkRegex() == nullptr || !hasRow(upper) || !hasRow(lower)) {
        return false;
    }
    const BufferLine& top = lines()[upper];
    const int end = std::min(upperLastCol + 1, usableWidth(top));
    if (end < 1) {
        return false;
    }
    const std::u16string upperText = implicitLineSegmentText(top, std::max(0, end - window), end);
    const BufferLine& bottom = lines()[lower];
    const int stop = std::min(bottom.getTrimmedLength(), usableWidth(bottom));
    if (lowerFirstCol >= stop) {
        return false;
    }
    const std::u16string lowerText =
        implicitLineSegmentText(bottom, lowerFirstCol, std::min(lowerFirstCol + window, stop));
    if (upperText.empty() || lowerText.empty()) {
        return false;
    }
    const std::u16string joined = upperText + lowerText;
    const int seam = int(upperText.size());
    return findMatch(joined, m_budget, [&](int start, int matchEnd) {
               return !followsDollar(joined, start) && start < seam && seam < matchEnd;
           }) == MatchSearch::found;
}

std::u16string ImplicitLinkScanner::implicitLineSegmentText(const BufferLine& line, int startCol,
                                                            int endCol) const {
    std::u16string text;
    const int stop = std::min(endCol, line.count());
    for (int col = std::max(startCol, 0); col < stop; ++col) {
        if (!isEmptyWideHalf(line, col)) {
            appendUtf16(text, cellCharacter(line, col));
        }
    }
    return text;
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    icu::UnicodeString(false, text.data(), int32_t(text.size())).toUTF8String(out);
    return out;
}

} // namespace

std::optional<std::string> Terminal::link(const LinkLookupLocation& at, LinkLookupMode mode) {
    const std::optional<Position> position = resolveLinkLocation(at, *m_buffer);
    if (!position) {
        return std::nullopt;
    }
    if (std::optional<LinkMatch> match = explicitLinkMatch(*position, *m_buffer)) {
        return std::move(match->text);
    }
    if (mode == LinkLookupMode::explicitAndImplicit) {
        if (std::optional<LinkMatch> match = implicitLinkMatch(*position, *m_buffer)) {
            return std::move(match->text);
        }
    }
    return std::nullopt;
}

std::optional<Position> Terminal::resolveLinkLocation(const LinkLookupLocation& location,
                                                      Buffer& buffer) {
    const int count = buffer.lines().count();
    if (count == 0) {
        return std::nullopt;
    }
    int64_t row = location.position.row;
    if (location.kind == LinkLookupLocation::Kind::screen) {
        row += buffer.yDisp();
    }
    return Position{std::clamp<int64_t>(location.position.col, 0, m_cols - 1),
                    std::clamp<int64_t>(row, 0, count - 1)};
}

std::optional<uint16_t> Terminal::payloadCode(const Position& at, Buffer& buffer) {
    if (at.row < 0 || at.row >= buffer.lines().count()) {
        return std::nullopt;
    }
    const BufferLine& line = buffer.lines()[int(at.row)];
    const int usable = std::min(line.count(), m_cols);
    if (usable == 0) {
        return std::nullopt;
    }
    const int col = int(std::clamp<int64_t>(at.col, 0, usable - 1));
    if (const uint16_t code = line[col].payload().code; code != 0) {
        return code;
    }
    // The empty right half of a wide character belongs to the character's link.
    if (col > 0 && line[col].code() == 0 && line[col - 1].width() == 2) {
        if (const uint16_t code = line[col - 1].payload().code; code != 0) {
            return code;
        }
    }
    return std::nullopt;
}

std::optional<LinkMatch> Terminal::explicitLinkMatch(const Position& at, Buffer& buffer) {
    const std::optional<uint16_t> code = payloadCode(at, buffer);
    if (!code) {
        return std::nullopt;
    }
    const int row = int(at.row);
    const BufferLine& line = buffer.lines()[row];
    const int usable = std::min(line.count(), m_cols);
    const int col = int(std::clamp<int64_t>(at.col, 0, usable - 1));
    // Explicit links never span rows: the run of cells with the same handle on this row.
    int start = col;
    while (start > 0 && line[start - 1].payload().code == *code) {
        --start;
    }
    int end = col + 1;
    while (end < usable && line[end].payload().code == *code) {
        ++end;
    }
    std::optional<std::string> payload = line[col].payload().target();
    if (!payload && col > 0) {
        payload = line[col - 1].payload().target();
    }
    if (!payload) {
        return std::nullopt;
    }
    std::optional<std::string> uri = parseHyperlinkPayload(*payload);
    if (!uri) {
        return std::nullopt;
    }
    const ColumnRange range{start, end};
    return LinkMatch{std::move(*uri), row, range, true, {LinkMatch::RowRange{row, range}}};
}

std::optional<LinkMatch> Terminal::implicitLinkMatch(const Position& at, Buffer& buffer) {
    // The pattern is compiled (once) before the budget starts.
    if (implicitLinkRegex() == nullptr) {
        return std::nullopt;
    }
    const LinkBudget budget;
    ImplicitLinkScanner scanner(*this, buffer, budget);
    const std::optional<ImplicitLineMap> map = scanner.buildImplicitLineMap(at);
    if (!map) {
        return std::nullopt;
    }
    const std::u16string& text = map->text;
    const int refs = int(map->cells.size());
    std::optional<LinkMatch> result;
    const MatchSearch search = findMatch(text, budget, [&](int start, int end) {
        if (start == end || followsDollar(text, start) || start >= refs) {
            return false;
        }
        std::map<int, ColumnRange> perRow;
        std::optional<ColumnRange> queried;
        bool hit = false;
        const auto merge = [](std::optional<ColumnRange>& range, ColumnRange cells) {
            range = range ? ColumnRange{std::min(range->start, cells.start),
                                        std::max(range->end, cells.end)}
                          : cells;
        };
        for (int k = start; k < std::min(end, refs); ++k) {
            const ImplicitCellRef& ref = map->cells[size_t(k)];
            const ColumnRange cells{ref.col, ref.col + ref.width};
            std::optional<ColumnRange> rowRange;
            if (const auto found = perRow.find(ref.row); found != perRow.end()) {
                rowRange = found->second;
            }
            merge(rowRange, cells);
            perRow[ref.row] = *rowRange;
            if (ref.row == map->row) {
                merge(queried, cells);
                hit = hit || cells.contains(map->col);
            }
        }
        if (!hit || !queried || queried->isEmpty()) {
            return false;
        }
        LinkMatch match;
        match.text = toUtf8(std::u16string_view(text).substr(size_t(start), size_t(end - start)));
        match.row = map->row;
        match.range = *queried;
        match.isExplicit = false;
        for (const auto& [row, range] : perRow) {
            if (!range.isEmpty()) {
                match.rowRanges.push_back(LinkMatch::RowRange{row, range});
            }
        }
        result = std::move(match);
        return true;
    });
    // A search that ran out of time says nothing about the rest of the line.
    if (search != MatchSearch::found) {
        return std::nullopt;
    }
    return result;
}

} // namespace veldatron
