// Times a full pass of find over a 120-column terminal with 10,000 lines of scrollback, for a
// literal term and for a regular expression that match only on the oldest line: a backward search
// from the bottom (find previous without a current match) visits every line before it reaches the
// match. Each pass starts without cached line texts, as after output arrives (the view drops the
// cache then), so it includes reading every row's cells into text. The lines are log-like text of
// 40-119 characters, a few with wide characters or an emoji, none wrapped.
//
// Prints the median of the passes in milliseconds:
//   literal_ms=<ms> regex_ms=<ms>
//
//   bench-search [passes]
#include "SearchService.h"
#include "Terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

constexpr int cols = 120;
constexpr int rows = 40;
constexpr int scrollbackLines = 10000;

// A line of words, numbers and punctuation, 40-119 characters; none contains the needle.
std::string logLine(std::mt19937& random, int index) {
    static const char* const words[] = {
        "request", "handled", "in",    "ms",     "user",  "session", "cache", "miss",
        "GET",     "POST",    "/api",  "status", "200",   "404",     "ok",    "retry",
        "worker",  "queue",   "depth", "=",      "error", "warn",    "info",  "debug",
    };
    std::string line = "[" + std::to_string(10000 + index) + "] ";
    const size_t length = 40 + random() % 80;
    while (line.size() < length) {
        if (random() % 40 == 0) {
            line += random() % 2 ? "\xe6\x97\xa5\xe6\x9c\xac " : "\xf0\x9f\x9a\x80 ";
        } else {
            line += words[random() % std::size(words)];
            line += ' ';
        }
    }
    // Cut at a character boundary, within the row.
    size_t cut = std::min(line.size(), length);
    while (cut > 0 && (uint8_t(line[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return line.substr(0, cut);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds of each cold backward pass for the term; exits when the pass does not end on the
// oldest line.
std::vector<double> passes(SearchService& search, const std::string& term,
                           const SearchOptions& options, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        search.reset();
        const auto start = std::chrono::steady_clock::now();
        const std::optional<SearchResult> result = search.findPrevious(term, options);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (!result || result->row != 0) {
            std::fprintf(stderr, "bench-search: \"%s\" was not found on the oldest line\n",
                         term.c_str());
            std::exit(1);
        }
    }
    return times;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;

    TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    options.scrollback = scrollbackLines;
    Terminal terminal(nullptr, options);
    std::mt19937 random(7);
    std::string output = "[09999] the needle: frobnicate-0x5f3759df at the very top\r\n";
    for (int i = 0; i < scrollbackLines + rows - 2; ++i) {
        output += logLine(random, i);
        output += "\r\n";
    }
    terminal.feed(output);
    if (terminal.buffer().yBase() != scrollbackLines) {
        std::fprintf(stderr, "bench-search: %d lines of scrollback, not %d\n",
                     terminal.buffer().yBase(), scrollbackLines);
        return 1;
    }

    SearchService search(terminal);
    const double literal = median(passes(search, "frobnicate-0x5f3759df", {}, count));
    const double regex = median(passes(search, "frobnicate-0x[0-9a-f]{8}", {.regex = true}, count));
    std::printf("literal_ms=%.2f regex_ms=%.2f\n", literal, regex);
    return 0;
}
