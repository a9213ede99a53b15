#pragma once

// What the image fuzz targets share: the failure report, the cursor check, and feeding a stream
// in pieces of varying size.

#include "../veldatron/TerminalFixture.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace veldatron::testing {

inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "image invariant broken: %s\n", what);
        std::abort();
    }
}

inline void checkCursorOnScreen(const Terminal& terminal) {
    const Buffer& buffer = terminal.buffer();
    check(buffer.x() >= 0 && buffer.x() <= terminal.cols() && buffer.y() >= 0 &&
              buffer.y() < terminal.rows(),
          "the cursor stays on the screen");
}

// Feeds the stream in pieces of 1 to `largest` bytes chosen by `seed`, calling `after` after each.
template <typename After>
void feedInPieces(TerminalFixture& t, std::string_view stream, size_t seed, size_t largest,
                  After&& after) {
    for (size_t at = 0, k = seed; at < stream.size(); ++k) {
        const size_t n = std::min<size_t>(1 + k * 7 % largest, stream.size() - at);
        t.feed(stream.substr(at, n));
        after();
        at += n;
    }
}

} // namespace veldatron::testing
