// Scrolls a terminal's screen with line feeds and prints lines per second and the heap traffic per
// line:
//   full screen   a line feed on the last row: the top row goes into the scrollback; once the
//                 ring is full its oldest row is recycled in place as the new bottom row
//   region        a scroll region below the top (an editor's status line): the region's rows
//                 shift up and its dropped top row is reused as the new bottom row
//
//   bench-scroll [lines] [columns] [rows] [scrollback]
#include "Terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

using namespace veldatron;

namespace {

size_t g_allocations = 0;
size_t g_bytes = 0;

struct Heap {
    size_t allocations;
    size_t bytes;
    static Heap now() { return {g_allocations, g_bytes}; }
};

// Line feeds on the cursor's row, which is the bottom of the scroll region.
void run(const char* name, Terminal& terminal, long count) {
    // Bring the ring to its steady state first: full, every slot holding a row.
    const Heap beforeFill = Heap::now();
    long filled = 0;
    while (!terminal.buffer().lines().isFull()) {
        terminal.cmdLineFeedBasic();
        ++filled;
    }
    const Heap afterFill = Heap::now();

    const Heap before = Heap::now();
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        terminal.cmdLineFeedBasic();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Heap after = Heap::now();
    std::printf("%-12s %8.1f M lines/s   %6.3f allocations and %8.1f bytes per line "
                "(filling %ld lines: %.1f bytes per line)\n",
                name, double(count) / seconds / 1e6,
                double(after.allocations - before.allocations) / double(count),
                double(after.bytes - before.bytes) / double(count), filled,
                filled ? double(afterFill.bytes - beforeFill.bytes) / double(filled) : 0.0);
}

} // namespace

// Counts every allocation of the program. GCC knows that operator new does not return malloc's
// memory and warns about the free below; here it does.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t size) {
    ++g_allocations;
    g_bytes += size;
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
// Row cells are allocated aligned to a cache line.
void* operator new(size_t size, std::align_val_t alignment) {
    ++g_allocations;
    g_bytes += size;
    if (void* p = std::aligned_alloc(size_t(alignment),
                                     (size + size_t(alignment) - 1) & ~(size_t(alignment) - 1))) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1'000'000;
    const int cols = argc > 2 ? std::max(2, std::atoi(argv[2])) : 120;
    const int rows = argc > 3 ? std::max(2, std::atoi(argv[3])) : 40;
    const int scrollback = argc > 4 ? std::max(0, std::atoi(argv[4])) : 10'000;
    std::printf("%d x %d, %d lines of scrollback, %ld lines scrolled per case\n", cols, rows,
                scrollback, count);

    TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    options.scrollback = scrollback;
    {
        Terminal terminal(nullptr, options);
        terminal.feed("\x1b[" + std::to_string(rows) + ";1H");
        run("full screen", terminal, count);
    }
    {
        // The region scroll never fills the ring: it is measured on the screen as it is.
        Terminal terminal(nullptr, options);
        terminal.feed("\x1b[2;" + std::to_string(rows - 1) + "r\x1b[" + std::to_string(rows - 1) +
                      ";1H");
        terminal.buffer().lines().setMaxLength(terminal.buffer().lines().count());
        run("region", terminal, count);
    }
    return 0;
}
