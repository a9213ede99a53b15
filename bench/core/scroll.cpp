// Scrolls a screen the way the terminal does on line feeds and prints lines per second and the
// heap traffic per line:
//   full screen   the top row goes into the scrollback; once the ring is full its oldest row is
//                 recycled in place as the new bottom row
//   region        a scroll region below the top (an editor's status line): the region's rows
//                 shift up and its dropped top row is reused as the new bottom row
//
//   bench-scroll [lines] [columns] [rows] [scrollback]
#include "Buffer.h"
#include "BufferLine.h"
#include "TerminalScrolling.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

using namespace veldatron;

namespace {

size_t g_allocations = 0;
size_t g_bytes = 0;

struct Heap {
    size_t allocations;
    size_t bytes;
    static Heap now() { return {g_allocations, g_bytes}; }
};

void scrollFullScreen(Buffer& buffer, const BufferLine& blankLine) {
    scrollUp(buffer, blankLine, false);
}

// The terminal's scroll of a region that does not start at the top: the region's top row is
// discarded and a copy of the blank line takes the bottom; the copy reuses the discarded row.
void scrollRegion(Buffer& buffer, const BufferLine& blankLine) {
    CircularBufferLineList& lines = buffer.lines();
    const int top = buffer.yBase() + buffer.scrollTop();
    const int bottom = buffer.yBase() + buffer.scrollBottom();
    BufferLinePtr dropped = lines.line(top);
    lines.shiftElements(top + 1, bottom - top, -1);
    lines.set(bottom, BufferLine::copyReusing(blankLine, std::move(dropped)));
}

template <typename Scroll>
void run(const char* name, Buffer& buffer, const BufferLine& blankLine, long count, Scroll scroll) {
    // Bring the ring to its steady state first: full, every slot holding a row.
    const Heap beforeFill = Heap::now();
    long filled = 0;
    while (!buffer.lines().isFull()) {
        scroll(buffer, blankLine);
        ++filled;
    }
    const Heap afterFill = Heap::now();

    const Heap before = Heap::now();
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        scroll(buffer, blankLine);
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

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1'000'000;
    const int cols = argc > 2 ? std::max(2, std::atoi(argv[2])) : 120;
    const int rows = argc > 3 ? std::max(2, std::atoi(argv[3])) : 40;
    const int scrollback = argc > 4 ? std::max(0, std::atoi(argv[4])) : 10'000;
    std::printf("%d x %d, %d lines of scrollback, %ld lines scrolled per case\n", cols, rows,
                scrollback, count);

    {
        auto buffer = Buffer::create(cols, rows, 8, scrollback, BidiPresentationState::Default);
        buffer->fillViewportRows();
        BufferLinePtr blank = buffer->getBlankLine(Attribute());
        run("full screen", *buffer, *blank, count, scrollFullScreen);
    }
    {
        auto buffer = Buffer::create(cols, rows, 8, scrollback, BidiPresentationState::Default);
        buffer->fillViewportRows();
        buffer->setScrollTop(1);
        buffer->setScrollBottom(rows - 2);
        BufferLinePtr blank = buffer->getBlankLine(Attribute());
        // The region scroll never fills the ring: measure it on the screen as it is.
        buffer->lines().setMaxLength(buffer->lines().count());
        run("region", *buffer, *blank, count, scrollRegion);
    }
    return 0;
}
