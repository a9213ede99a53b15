// Prints ASCII log text into a terminal's screen (its print, carriage return and line feed, without
// the parser) and reflows a large history:
//   print    lines of 20-160 printable bytes (the longer ones wrap), each followed by CR LF, into
//            a 120 x 40 screen with 10,000 lines of scrollback; MB/s and lines/s. Once the ring
//            is full every line clears a row last touched 10,000 lines before, so this is
//            memory-bound; the same without scrollback shows the cost of the code itself
//   reflow   10,000 rows of 200 columns (wrapped lines of 1-3 rows) narrowed to 120 and widened
//            back, and a one-column step as a live window resize makes; ms per resize
//
//   bench-print [megabytes]
#include "Buffer.h"
#include "BufferLine.h"
#include "Terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void benchPrint(size_t megabytes, int scrollback) {
    std::mt19937 random(1);
    std::string text;
    std::vector<std::pair<size_t, size_t>> lines;
    while (text.size() < (size_t(1) << 20)) {
        const size_t length = 20 + random() % 141;
        lines.emplace_back(text.size(), length);
        for (size_t i = 0; i < length; ++i) {
            text.push_back(char(0x20 + random() % 95));
        }
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());

    TerminalOptions options;
    options.cols = 120;
    options.rows = 40;
    options.scrollback = scrollback;
    Terminal terminal(nullptr, options);
    terminal.feed("\x1b[32m");

    size_t printed = 0;
    size_t lineCount = 0;
    const auto start = Clock::now();
    for (size_t round = 0; round < megabytes; ++round) {
        for (const auto& [offset, length] : lines) {
            const std::span<const uint8_t> run(bytes + offset, length);
            terminal.handlePrint(run, true);
            terminal.cmdCarriageReturn();
            terminal.cmdLineFeedBasic();
            printed += length + 2;
        }
        lineCount += lines.size();
    }
    const double seconds = secondsSince(start);
    std::printf(
        "print    %5d lines of scrollback %8.0f MB/s  %6.2f M lines/s   (%zu MB, %.1f bytes "
        "per line)\n",
        scrollback, double(printed) / seconds / 1e6, double(lineCount) / seconds / 1e6,
        printed >> 20, double(printed) / double(lineCount));
}

void benchReflow() {
    const int rows = 40;
    auto buffer = Buffer::create(200, rows, 8, 10'000, BidiPresentationState::Default);
    std::mt19937 random(2);
    // Logical lines of 1 to 3 rows; the last row of each line ends somewhere in the row.
    for (int i = 0; i < 10'000;) {
        const int groupRows = 1 + int(random() % 3);
        for (int r = 0; r < groupRows && i < 10'000; ++r, ++i) {
            BufferLinePtr line = buffer->getBlankLine(Attribute(), r > 0);
            const int length = r + 1 == groupRows ? 1 + int(random() % 200) : 200;
            for (int c = 0; c < length; ++c) {
                line->set(c, CharData(Attribute(), 0x21 + int(random() % 94), 1));
            }
            buffer->lines().push(std::move(line));
        }
    }
    buffer->setYBase(buffer->lines().count() - rows);
    buffer->setYDisp(buffer->yBase());
    buffer->setY(rows - 1);

    auto timed = [&](const char* name, int cols) {
        const auto start = Clock::now();
        buffer->resize(cols, rows);
        std::printf("reflow   %-22s %8.2f ms   (%d rows)\n", name, secondsSince(start) * 1e3,
                    buffer->lines().count());
    };
    timed("200 -> 120", 120);
    timed("120 -> 200", 200);
    timed("200 -> 199", 199);
    timed("199 -> 200", 200);
}

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? size_t(std::max(1, std::atoi(argv[1]))) : 512;
    benchPrint(megabytes, 10'000);
    // The same with a ring that stays in the caches: what the code costs beyond memory traffic.
    benchPrint(megabytes, 0);
    benchReflow();
    return 0;
}
