// Feeds a byte file to a headless terminal and prints what it shows:
//
//   screen-dump FILE [--cols N] [--rows N] [--scrollback N] [--chunk BYTES] [--all]
//               [--images DIR]
//
// FILE "-" reads standard input. Each screen row is printed as a line: its text up to its last
// non-empty cell, a leading "~" when the row continues the one above (an autowrap). Then
// "cursor X,Y" (0-based, screen rows), and "replies ..." with what the terminal answered, when it
// answered anything (bytes outside printable ASCII as \xHH). --all prints the scrollback rows
// first, then a line "--- screen". --chunk feeds the file in pieces of that size, as reads of a
// pseudo-terminal would arrive. --images makes the host insert images into the rows as a view
// with cells of 10 x 20 pixels would, and at the end writes every image the terminal holds:
// each stored kitty image as DIR/<image id>.png and each other picture anchored in the rows
// (sixel) as DIR/sixel-<n>.png, the pixels as held (straight RGBA); after the screen it prints one
// line per kitty placement record, "image=<id> placement=<id> row=<n> col=<n> cols=<n> rows=<n>",
// and one per picture, "sixel=<n> row=<n> col=<n> cols=<n> rows=<n>" (rows counted from the top
// of the screen, negative in the scrollback). Bad options, an unreadable file or an image that
// cannot be written: a message, exit status 2.

#include "ImageInsertion.h"
#include "KittyGraphicsPayload.h"
#include "TerminalFixture.h"
#include "ToolOptions.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void usage(const std::string& message = {}) {
    if (!message.empty()) {
        std::fprintf(stderr, "screen-dump: %s\n", message.c_str());
    }
    std::fprintf(stderr, "usage: screen-dump FILE [--cols N] [--rows N] [--scrollback N] "
                         "[--chunk BYTES] [--all] [--images DIR]\n");
    std::exit(2);
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// The images of the store as PNG files, then the placement lines.
bool dumpImages(veldatron::Terminal& terminal, const std::string& dir) {
    using namespace veldatron;
    const KittyGraphicsState& state = terminal.kittyGraphicsState();
    for (const auto& [id, image] : state.imagesById) {
        std::optional<std::vector<uint8_t>> png;
        if (const RgbaImage* rgba = image.payload.rgbaImage()) {
            png = encodePng(*rgba);
        } else if (const auto decoded = decodePngToRgba(*image.payload.pngData())) {
            png = encodePng(*decoded);
        }
        const std::string path = dir + "/" + std::to_string(id) + ".png";
        if (!png || !writeFile(path, *png)) {
            std::fprintf(stderr, "screen-dump: cannot write %s\n", path.c_str());
            return false;
        }
    }
    const int64_t top = terminal.buffer().yBase();
    for (const auto& [key, record] : state.placementsByKey) {
        std::printf("image=%u placement=%u row=%lld col=%lld cols=%lld rows=%lld\n", record.imageId,
                    record.placementId, (long long)(record.row - top), (long long)record.col,
                    (long long)record.cols, (long long)record.rows);
    }
    // Pictures that are not kitty placements, each once, at its topmost slice.
    std::vector<const RgbaImage*> pictures;
    bool written = true;
    terminal.buffer().forEachImage([&](int row, const std::shared_ptr<TerminalImage>& image) {
        const auto* slice = dynamic_cast<const RgbaImageSlice*>(image.get());
        if (slice == nullptr || slice->kittyIsKitty ||
            std::find(pictures.begin(), pictures.end(), slice->picture().get()) != pictures.end()) {
            return;
        }
        pictures.push_back(slice->picture().get());
        const std::string path = dir + "/sixel-" + std::to_string(pictures.size()) + ".png";
        const auto png = encodePng(*slice->picture());
        if (!png || !writeFile(path, *png)) {
            std::fprintf(stderr, "screen-dump: cannot write %s\n", path.c_str());
            written = false;
        }
        std::printf("sixel=%zu row=%lld col=%d cols=%lld rows=%lld\n", pictures.size(),
                    (long long)(row - top), slice->col(), (long long)slice->plan().cols,
                    (long long)slice->plan().rows);
    });
    return written;
}

} // namespace

int main(int argc, char** argv) {
    using namespace veldatron::testing;
    std::string file;
    TerminalSpec spec{.cols = 80, .rows = 25, .scrollback = 500};
    size_t chunk = 0;
    bool all = false;
    std::string imagesDir;
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
        } else if (arg == "--images" && !value.empty()) {
            imagesDir = value;
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
    if (!imagesDir.empty()) {
        t.host.cellSize = veldatron::CellSize{10, 20};
        t.host.insertImages = true;
    }
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
    if (!imagesDir.empty() && !dumpImages(t.terminal, imagesDir)) {
        return 2;
    }
    return 0;
}
