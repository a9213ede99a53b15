// Reads a screen that the input wrote back as text, selections and search results, and checks
// that what comes back stays inside the screen and agrees with itself.
//
// The first byte picks the screen size, the second the length of a search term taken from the
// bytes that follow it; the rest is program output, fed with a selection already active so that
// scrolls move or drop it. Then: double clicks on every cell of the screen, select-all and the
// selected text in both orders, every match of the term as plain text, as a regular expression
// and as whole words, next and previous from each, and the screens as bytes in a few encodings.

#include "../veldatron/TerminalFixture.h"
#include "SearchService.h"
#include "SelectionService.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace veldatron;
using namespace veldatron::testing;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "text invariant broken: %s\n", what);
        std::abort();
    }
}

void checkResult(Terminal& terminal, const SearchResult& result) {
    check(result.row >= 0 && result.row < terminal.buffer().lines().count(), "match row");
    check(result.col >= 0 && result.col < terminal.cols(), "match column");
    check(result.size >= 1, "match size");
}

void search(Terminal& terminal, const std::string& term, const SearchOptions& options) {
    SearchService service(terminal);
    const std::vector<SearchResult> all = service.findAll(term, options, 64);
    for (size_t i = 0; i < all.size(); ++i) {
        checkResult(terminal, all[i]);
        if (i > 0) {
            check(Position{all[i - 1].col, all[i - 1].row} < Position{all[i].col, all[i].row},
                  "matches in reading order");
        }
    }
    const std::optional<SearchResult> first = service.findNext(term, options);
    check(first.has_value() == !all.empty(), "findNext finds what findAll finds");
    check(!first || (first->col == all[0].col && first->row == all[0].row),
          "findNext from nothing is the first match");
    for (int i = 0; i < 4; ++i) {
        const auto next =
            i % 2 ? service.findPrevious(term, options) : service.findNext(term, options);
        check(next.has_value() == !all.empty(), "a match is found again");
        if (next) {
            checkResult(terminal, *next);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t selector = data[0];
    const size_t termLength = std::min<size_t>(data[1] % 8, size - 2);
    const std::string term(reinterpret_cast<const char*>(data + 2), termLength);
    const std::string_view output(reinterpret_cast<const char*>(data + 2 + termLength),
                                  size - 2 - termLength);

    TerminalFixture t({.cols = 4 + selector % 11,
                       .rows = 2 + selector % 4,
                       .scrollback = selector & 0x40 ? 0 : 6});
    Terminal& terminal = t.terminal;
    auto selection = SelectionService::create(terminal);
    selection->setSelection({selector % 5, 1}, {selector % 3, selector % 7});
    t.feed(output);

    Buffer& buffer = terminal.buffer();
    const int64_t lines = buffer.lines().count();
    if (selection->active()) {
        check(std::min(selection->start().row, selection->end().row) >= 0 &&
                  std::max(selection->start().row, selection->end().row) < lines,
              "a selection that scrolled stays in the ring");
    }
    for (int64_t row = 0; row < lines; ++row) {
        for (int64_t col = 0; col <= terminal.cols(); ++col) {
            selection->selectWordOrExpression({col, row}, buffer);
            check(selection->start() <= selection->end(), "a double click selects forwards");
            (void)selection->getSelectedText();
            selection->dragExtend(Position{terminal.cols() - col, lines - 1 - row});
            selection->shiftExtend(Position{col - 1, row});
            check(terminal.getText(selection->start(), selection->end()) ==
                      terminal.getText(selection->end(), selection->start()),
                  "text in either order");
        }
    }
    selection->selectAll();
    check(selection->getSelectedText() == terminal.getText({0, 0}, {terminal.cols(), lines - 1}),
          "select-all reads every line");

    if (!term.empty()) {
        search(terminal, term, {});
        search(terminal, term, {.caseSensitive = true, .wholeWord = true});
        search(terminal, term, {.regex = true});
    }
    for (StringEncoding encoding :
         {StringEncoding::utf8, StringEncoding::ascii, StringEncoding::utf16LittleEndian}) {
        (void)terminal.getBufferAsData(Terminal::BufferKind::normal, encoding);
        (void)terminal.getBufferAsData(Terminal::BufferKind::alt, encoding);
    }
    return 0;
}
