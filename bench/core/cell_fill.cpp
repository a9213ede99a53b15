// Writes rows of cells the way the screen model does and prints cells per second:
//   null fill   clearing a row to CharData::Null (CharData::fill, and plain std::fill)
//   ASCII fill  printing a run of ASCII text: a template cell plus one code per byte
//
//   bench-cell_fill [columns] [rows-written]
#include "CharData.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace veldatron;

namespace {

// Keeps the compiler from dropping writes that nothing reads.
inline void clobber(const void* p) {
    asm volatile("" : : "r"(p) : "memory");
}

// Best of five rounds, so that a busy machine disturbs the figure less.
template <typename F> void measure(const char* name, long rows, int columns, F&& writeRow) {
    writeRow(); // warm up caches and pages
    const long perRound = std::max(1L, rows / 5);
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (long r = 0; r < perRound; ++r) {
            writeRow();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, double(perRound) * columns / seconds);
    }
    std::printf("%-28s %8.0f M cells/s  %7.2f GB/s of cells\n", name, best / 1e6,
                best * sizeof(CharData) / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    const int columns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const long rows = argc > 2 ? std::max(1L, std::atol(argv[2])) : 5'000'000;
    std::printf("CharData is %zu bytes; %d columns, %ld rows per case\n", sizeof(CharData), columns,
                rows);

    std::vector<CharData> row(static_cast<size_t>(columns));
    CharData* cells = row.data();

    std::string text;
    for (int i = 0; i < columns; ++i) {
        text.push_back(char(0x20 + (i * 7) % 95));
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());

    measure("null fill (std::fill)", rows, columns, [&] {
        std::fill(cells, cells + columns, CharData::Null);
        clobber(cells);
    });
    measure("null fill (CharData::fill)", rows, columns, [&] {
        CharData::fill(cells, size_t(columns), CharData::Null);
        clobber(cells);
    });

    Attribute attribute(Attribute::Color::ansi256(2), Attribute::Color::defaultColor,
                        CharacterStyle::bold);
    CharData templ(attribute, 0, 1, TinyAtom{7}, 6);
    // The print path gets its template at run time; do not let the compiler fold it into
    // immediates.
    clobber(&templ);
    measure("blank fill with attribute", rows, columns, [&] {
        CharData::fill(cells, size_t(columns), templ);
        clobber(cells);
    });
    measure("ASCII fill (fillCodes)", rows, columns, [&] {
        CharData::fillCodes(cells, bytes, size_t(columns), templ);
        clobber(cells);
    });
    measure("ASCII fill (withCode loop)", rows, columns, [&] {
        for (int i = 0; i < columns; ++i) {
            cells[i] = templ.withCode(bytes[i]);
        }
        clobber(cells);
    });

    // Guard against a fill that silently wrote nothing.
    if (row[3] != templ.withCode(bytes[3])) {
        std::printf("ASCII fill wrote the wrong cell\n");
        return 1;
    }
    return 0;
}
