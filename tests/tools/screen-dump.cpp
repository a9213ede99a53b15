// Feeds a byte file to a headless terminal and prints what it shows:
//
//   screen-dump FILE [--cols N] [--rows N] [--scrollback N] [--chunk BYTES] [--all]
//
// FILE "-" reads standard input. Each screen row is printed as a line: its text up to its last
// non-empty cell, a leading "~" when the row continues the one above (an autowrap). Then
// "cursor X,Y" (0-based, screen rows), and "replies ..." with what the terminal answered, when it
// answered anything (bytes outside printable ASCII as \xHH). --all prints the scrollback rows
// first, then a line "--- screen". --chunk feeds the file in pieces of that size, as reads of a
// pseudo-terminal would arrive. Bad options or an unreadable file: a message, exit status 2.

#include "TerminalFixture.h"
#include "ToolOptions.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void usage(const std::string& message = {}) {
    if (!message.empty()) {
        std::fprintf(stderr, "screen-dump: %s\n", message.c_str());
    }
    std::fprintf(stderr, "usage: screen-dump FILE [--cols N] [--rows N] [--scrollback N] "
                         "[--chunk BYTES] [--all]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    using namespace veldatron::testing;
    std::string file;
    TerminalSpec spec{.cols = 80, .rows = 25, .scrollback = 500};
    size_t chunk = 0;
    bool all = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--all") {
            all = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            if (!file.empty()) {
                usage("more than one FILE");
            }
            file = arg;
            continue;
        }
        if (i + 1 >= argc) {
            usage("missing value for " + arg);
        }
        const std::string value = argv[++i];
        if (takeSizeOption(arg, value, spec)) {
            continue;
        }
        std::optional<int> n;
        if (arg == "--scrollback" && (n = parseCount(value, 0, 1000000))) {
            spec.scrollback = *n;
        } else if (arg == "--chunk" && (n = parseCount(value, 1, 1 << 30))) {
            chunk = size_t(*n);
        } else {
            usage("bad option " + arg + " " + value);
        }
    }
    if (file.empty()) {
        usage();
    }

    std::string data;
    if (file == "-") {
        data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "screen-dump: cannot read %s\n", file.c_str());
            return 2;
        }
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    TerminalFixture t(spec);
    if (chunk == 0) {
        t.feed(data);
    } else {
        t.feedSplit(data, {chunk});
    }
    if (all) {
        for (const std::string& row : t.scrollback()) {
            std::printf("%s\n", row.c_str());
        }
        std::printf("--- screen\n");
    }
    for (const std::string& row : t.screen()) {
        std::printf("%s\n", row.c_str());
    }
    std::printf("cursor %s\n", t.cursor().c_str());
    const std::string replies = t.takeReplies();
    if (!replies.empty()) {
        std::printf("replies %s\n", replies.c_str());
    }
    return 0;
}
